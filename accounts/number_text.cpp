#include "accounts/number_text.h"

namespace {

constexpr std::uint64_t kUnsignedMax = 0xFFFFFFFFu;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

// Skips white space and reads an optional sign; returns true for '-'.
bool SkipSpaceAndSign(std::string_view text, std::size_t& at) {
    while (at < text.size() && IsSpace(text[at])) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    return negative;
}

// Accumulates digits of base into a magnitude that stops growing past limit.
std::uint64_t ReadDigits(std::string_view text, std::size_t at, int base, std::uint64_t limit) {
    std::uint64_t value = 0;
    for (; at < text.size(); ++at) {
        const int digit = DigitValue(text[at]);
        if (digit >= base) break;
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        if (value > limit) value = limit + 1;  // saturated; keeps consuming digits
    }
    return value;
}

}  // namespace

std::uint32_t ParseUnsignedAuto(std::string_view text) {
    std::size_t at = 0;
    const bool negative = SkipSpaceAndSign(text, at);
    int base = 10;
    if (at < text.size() && text[at] == '0') {
        base = 8;
        // "0x" counts as a prefix only when a hexadecimal digit follows;
        // otherwise the "0" is the number.
        if (at + 2 < text.size() && (text[at + 1] == 'x' || text[at + 1] == 'X') && DigitValue(text[at + 2]) < 16) {
            base = 16;
            at += 2;
        }
    }
    const std::uint64_t magnitude = ReadDigits(text, at, base, kUnsignedMax);
    if (magnitude > kUnsignedMax) return static_cast<std::uint32_t>(kUnsignedMax);
    const auto value = static_cast<std::uint32_t>(magnitude);
    return negative ? static_cast<std::uint32_t>(0u - value) : value;
}

std::int32_t ParseDecimal(std::string_view text) {
    std::size_t at = 0;
    const bool negative = SkipSpaceAndSign(text, at);
    const std::uint64_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
    std::uint64_t magnitude = ReadDigits(text, at, 10, limit);
    if (magnitude > limit) magnitude = limit;
    return negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                    : static_cast<std::int32_t>(magnitude);
}

std::int32_t ParseSettingsVersion(std::string_view text) {
    const std::size_t dot = text.find('.');
    const std::int32_t major = ParseDecimal(text.substr(0, dot));
    std::int32_t minor = 0;
    if (dot != std::string_view::npos) {
        std::string_view rest = text.substr(dot + 1);
        rest = rest.substr(0, rest.find_first_of("\r\n"));
        minor = ParseDecimal(rest);
    }
    // Combined in 32 unsigned bits as the original 32-bit long would be.
    const std::uint32_t combined = (static_cast<std::uint32_t>(major) << 16) | static_cast<std::uint32_t>(minor);
    return static_cast<std::int32_t>(combined);
}
