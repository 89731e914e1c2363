#include "mime/encoded_word.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

#include "mime/jis.h"

namespace {

constexpr std::string_view kPrefix = "=?ISO-2022-JP?B?";

constexpr std::array<std::uint8_t, 256> MakeBase64Table() {
    std::array<std::uint8_t, 256> t{};
    for (int c = 'A'; c <= 'Z'; ++c) t[c] = static_cast<std::uint8_t>(c - 'A');
    for (int c = 'a'; c <= 'z'; ++c) t[c] = static_cast<std::uint8_t>(c - 'a' + 26);
    for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<std::uint8_t>(c - '0' + 52);
    t['+'] = 62;
    t['/'] = 63;
    return t;
}

constexpr std::array<std::uint8_t, 256> kBase64 = MakeBase64Table();

inline char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Position of the prefix at or after `from`, ASCII case ignored; npos if none.
std::size_t FindPrefix(const std::string& value, std::size_t from) {
    const char* data = value.data();
    const std::size_t n = value.size();
    while (from + kPrefix.size() <= n) {
        const void* eq = std::memchr(data + from, '=', n - kPrefix.size() + 1 - from);
        if (!eq) {
            return std::string::npos;
        }
        const std::size_t p = static_cast<std::size_t>(static_cast<const char*>(eq) - data);
        std::size_t k = 1;
        while (k < kPrefix.size() && UpperAscii(data[p + k]) == kPrefix[k]) {
            ++k;
        }
        if (k == kPrefix.size()) {
            return p;
        }
        from = p + 1;
    }
    return std::string::npos;
}

}  // namespace

std::string DecodeBase64(std::string_view text) {
    std::string result;
    result.reserve(text.size() / 4 * 3 + 3);
    std::uint32_t acc = 0;
    int count = 0;
    for (const char ch : text) {
        if (ch == '\n' || ch == '\r' || ch == '\t') {
            continue;
        }
        acc = (acc << 6) + kBase64[static_cast<unsigned char>(ch)];
        if (++count == 4) {
            result.push_back(static_cast<char>((acc >> 16) & 0xFF));
            result.push_back(static_cast<char>((acc >> 8) & 0xFF));
            result.push_back(static_cast<char>(acc & 0xFF));
            count = 0;
        }
    }
    return result;
}

void DecodeEncodedWords(std::string& value) {
    if (value.find("=?") == std::string::npos) {
        return;
    }
    std::size_t word = FindPrefix(value, 0);
    if (word == std::string::npos) {
        return;
    }
    // Builds the result in one pass: the search continues after each word
    // in the original value, so decoded text that happens to look like an
    // encoded word stays as it is and long values cost linear time.
    std::string result;
    result.reserve(value.size());
    std::size_t copied = 0;
    while (word != std::string::npos) {
        result.append(value, copied, word - copied);
        const std::size_t start = word + kPrefix.size();
        const std::size_t close = value.find("?=", start);
        const std::size_t end = close == std::string::npos ? value.size() : close;
        std::string text = JisToShiftJis(DecodeBase64(std::string_view(value).substr(start, end - start)));
        const std::size_t nul = text.find('\0');
        if (nul != std::string::npos) {
            text.resize(nul);
        }
        result += text;
        copied = close == std::string::npos ? value.size() : close + 2;
        word = FindPrefix(value, copied);
    }
    result.append(value, copied, std::string::npos);
    value = std::move(result);
}
