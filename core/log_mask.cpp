#include "core/log_mask.h"

#include <cctype>
#include <cstddef>

namespace {

// Whether line starts with the command word (any case) and a space.
bool StartsWithCommand(std::string_view line, std::string_view word) {
    if (line.size() <= word.size() || line[word.size()] != ' ') return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(line[i])) != word[i]) return false;
    }
    return true;
}

// The line without its line end, cut after `words` space-separated words
// (runs of spaces count as one separator); npos when it has no more.
std::size_t EndOfWords(std::string_view line, int words) {
    std::size_t at = 0;
    for (int i = 0; i < words; ++i) {
        at = line.find_first_not_of(' ', at);
        if (at == std::string_view::npos) return at;
        at = line.find(' ', at);
        if (at == std::string_view::npos) return at;
    }
    return line.find_first_not_of(' ', at) == std::string_view::npos ? std::string_view::npos : at;
}

std::string Masked(std::string_view line, int keptWords) {
    const std::size_t end = line.find_first_of("\r\n");
    const std::string_view content = line.substr(0, end);
    const std::size_t cut = EndOfWords(content, keptWords);
    if (cut == std::string_view::npos) return std::string(line);  // nothing secret on the line
    return std::string(content.substr(0, cut)) + " " + std::string(kMaskedSecret);
}

}  // namespace

std::string LoggedCommand(std::string_view sent) {
    // PASS keeps nothing of its argument, not even an empty one.
    if (StartsWithCommand(sent, "PASS")) return "PASS " + std::string(kMaskedSecret);
    if (StartsWithCommand(sent, "APOP")) return Masked(sent, 2);
    if (StartsWithCommand(sent, "AUTH")) return Masked(sent, 2);
    return std::string(sent);
}
