#pragma once

#include <string>
#include <string_view>

// Conversion of mail text in any character set glibc iconv knows into
// UTF-8, for the decoding of today's MIME mail.

// Converts `bytes` from the iconv charset `iconvName` to UTF-8, appending
// to `out`. Each byte that does not start a valid character becomes U+FFFD
// and conversion goes on with the next byte. False (and `out` unchanged)
// when iconv does not know the charset.
bool ConvertToUtf8(std::string_view bytes, const std::string& iconvName, std::string& out);

// Length of the valid UTF-8 prefix of `text` (shortest forms, no
// surrogates, nothing above U+10FFFF).
std::size_t ValidUtf8Prefix(std::string_view text);
inline bool IsValidUtf8(std::string_view text) {
    return ValidUtf8Prefix(text) == text.size();
}

// `text` with every byte that does not start a valid UTF-8 sequence turned
// into U+FFFD, appended to `out`.
void AppendSanitizedUtf8(std::string_view text, std::string& out);

// UTF-8 to wide characters (invalid bytes as U+FFFD), for collation.
std::wstring Utf8ToWide(std::string_view text);
