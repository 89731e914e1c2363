#include "core/session_list.h"

#include <limits>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads an unsigned decimal number at pos. A number too large for 32 bits
// is read to its end and reported through overflow.
bool ReadNumber(std::string_view text, std::size_t& pos, std::int32_t& value, bool& overflow) {
    if (pos >= text.size() || !IsDigit(text[pos])) return false;
    std::int64_t v = 0;
    overflow = false;
    for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
        v = v * 10 + (text[pos] - '0');
        if (v > std::numeric_limits<std::int32_t>::max()) {
            overflow = true;
            v = std::numeric_limits<std::int32_t>::max();
        }
    }
    value = static_cast<std::int32_t>(v);
    return true;
}

void SkipBlanks(std::string_view text, std::size_t& pos) {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
}

// "number size", optionally followed by white space and anything else.
bool ParseEntry(std::string_view line, ScanListingEntry& entry) {
    std::size_t pos = 0;
    bool overflow = false;
    SkipBlanks(line, pos);
    if (!ReadNumber(line, pos, entry.number, overflow) || overflow) return false;
    if (pos >= line.size() || !IsBlank(line[pos])) return false;
    SkipBlanks(line, pos);
    if (!ReadNumber(line, pos, entry.size, overflow) || overflow) return false;
    return pos == line.size() || IsBlank(line[pos]);
}

}  // namespace

ScanListing ParseScanListing(std::string_view rest) {
    ScanListing listing;
    std::size_t pos = 0;
    // Blanks before the count, but not across the end of the status line.
    while (pos < rest.size() && (rest[pos] == ' ' || rest[pos] == '\t')) ++pos;
    bool overflow = false;
    if (!ReadNumber(rest, pos, listing.count, overflow)) listing.count = 0;

    std::size_t eol = rest.find('\n', pos);
    if (listing.count == 0 || eol == std::string_view::npos) return listing;
    pos = eol + 1;

    while (pos < rest.size()) {
        eol = rest.find('\n', pos);
        std::size_t end = eol == std::string_view::npos ? rest.size() : eol;
        std::string_view line = rest.substr(pos, end - pos);
        if (line == "." || line == ".\r") break;
        ScanListingEntry entry;
        if (ParseEntry(line, entry)) listing.entries.push_back(entry);
        if (eol == std::string_view::npos) break;
        pos = eol + 1;
    }
    return listing;
}

bool OffersPipelining(std::string_view rest) {
    constexpr std::string_view kName = "PIPELINING";
    std::size_t pos = rest.find('\n');
    while (pos != std::string_view::npos) {
        std::size_t start = pos + 1;
        pos = rest.find('\n', start);
        std::string_view line =
            rest.substr(start, pos == std::string_view::npos ? std::string_view::npos : pos - start);
        if (line.size() < kName.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < kName.size() && same; ++i) same = (line[i] & ~0x20) == kName[i];
        if (same && (line.size() == kName.size() || IsBlank(line[kName.size()]))) return true;
    }
    return false;
}
