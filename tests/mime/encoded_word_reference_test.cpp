// The one-pass DecodeEncodedWords against the plain rescanning loop it
// replaces, on values where the two must agree: decoded text that cannot
// form a new word.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "mime/encoded_word.h"
#include "mime/jis.h"

namespace {

// Replace the first word, then search again from the beginning.
void RescanningDecode(std::string& value) {
    if (value.find("=?") == std::string::npos) {
        return;
    }
    for (;;) {
        std::string upper = value;
        for (char& c : upper) {
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        }
        const std::size_t word = upper.find("=?ISO-2022-JP?B?");
        if (word == std::string::npos) {
            return;
        }
        const std::size_t start = word + 16;
        const std::size_t close = value.find("?=", start);
        const std::size_t end = close == std::string::npos ? value.size() : close;
        std::string text = JisToShiftJis(DecodeBase64(value.substr(start, end - start)));
        text = text.substr(0, text.find('\0'));
        value.replace(word, (close == std::string::npos ? value.size() : close + 2) - word, text);
    }
}

std::string Base64(const std::string& bytes) {
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? alphabet[(v >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? alphabet[v & 63] : '=';
    }
    return out;
}

TEST(DecodeEncodedWords, AgreesWithRescanningLoop) {
    std::mt19937 rng(20261208);
    auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const char* prefixes[] = {"=?ISO-2022-JP?B?", "=?iso-2022-jp?b?", "=?Iso-2022-jP?B?"};
    const char* noise[] = {
        " ", "\t", "Re: ", "=?", "?=", "=?ISO-2022-JP?Q?x?=", "=?UTF-8?B?QQ==?=", "abc", "\x82\xa0", "=?ISO-2022"};
    for (int round = 0; round < 3000; ++round) {
        std::string value;
        const int pieces = 1 + pick(8);
        for (int p = 0; p < pieces; ++p) {
            if (pick(2)) {
                value += noise[pick(10)];
                continue;
            }
            // Payload: kana in JIS, letters and digits, never '=' or '?'.
            std::string payload;
            if (pick(2)) payload += "\x1b$B";
            for (int k = pick(6); k > 0; --k) {
                payload += pick(2) ? std::string("\x24") + static_cast<char>(0x21 + pick(80))
                                   : std::string(1, static_cast<char>('a' + pick(26)));
            }
            if (pick(2)) payload += "\x1b(B";
            std::string b64 = Base64(payload);
            if (pick(6) == 0) b64 = b64.substr(0, b64.size() / 2);  // short group
            value += prefixes[pick(3)] + b64;
            if (p + 1 < pieces || pick(4)) value += "?=";  // the last may stay open
        }
        std::string expected = value;
        RescanningDecode(expected);
        std::string actual = value;
        DecodeEncodedWords(actual);
        ASSERT_EQ(actual, expected) << "value: " << value;
    }
}

}  // namespace
