#include "mime/message_file.h"

std::string MessageFileBytes(std::string_view rest) {
    const std::size_t statusEnd = rest.find('\n');
    if (statusEnd == std::string_view::npos) return {};
    std::string_view lines = rest.substr(statusEnd + 1);
    std::string out;
    out.reserve(lines.size());
    while (!lines.empty()) {
        const std::size_t lf = lines.find('\n');
        std::string_view line = lines.substr(0, lf);
        lines = lf == std::string_view::npos ? std::string_view() : lines.substr(lf + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line == ".") break;  // the end of the reply
        if (line.starts_with("..")) line.remove_prefix(1);
        out.append(line);
        out += "\r\n";
    }
    return out;
}

std::string SafeFileName(std::string_view name) {
    const std::size_t cut = name.find_last_of("/\\");
    if (cut != std::string_view::npos) name.remove_prefix(cut + 1);
    std::string out;
    for (const char c : name) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) continue;
        out += c;
    }
    const std::size_t first = out.find_first_not_of(". \t");
    out.erase(0, first == std::string::npos ? out.size() : first);
    while (!out.empty() && (out.back() == ' ' || out.back() == '\t')) out.pop_back();
    return out.empty() ? "attachment" : out;
}
