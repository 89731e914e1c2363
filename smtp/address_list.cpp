#include "smtp/address_list.h"

namespace {

std::string Trimmed(std::string_view piece) {
    const std::size_t first = piece.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const std::size_t last = piece.find_last_not_of(" \t");
    return std::string(piece.substr(first, last - first + 1));
}

}  // namespace

std::vector<std::string> SplitAddressList(std::string_view text) {
    std::vector<std::string> addresses;
    std::size_t start = 0;
    bool quoted = false;
    int angle = 0;
    auto cut = [&](std::size_t end) {
        std::string piece = Trimmed(text.substr(start, end - start));
        if (!piece.empty()) addresses.push_back(std::move(piece));
        start = end + 1;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            // A line break always ends an address: an unclosed quote or
            // bracket must not swallow the next line.
            cut(i);
            quoted = false;
            angle = 0;
        } else if (quoted) {
            if (c == '\\' && i + 1 < text.size() && text[i + 1] != '\r' && text[i + 1] != '\n') {
                ++i;
            } else if (c == '"') {
                quoted = false;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == '<') {
            ++angle;
        } else if (c == '>') {
            if (angle > 0) --angle;
        } else if (c == ',' && angle == 0) {
            cut(i);
        }
    }
    cut(text.size());
    return addresses;
}
