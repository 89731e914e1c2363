#pragma once

#include <string>
#include <string_view>

// Conversions between the program's CP932 (Windows Shift_JIS) texts and
// Unicode, for the places that need Unicode (the window, collation).
// Neither direction fails:
// - CP932 to Unicode: each byte that does not start a valid CP932
//   character becomes U+FFFD and decoding goes on with the next byte.
// - Unicode to CP932: each character CP932 cannot hold, and each byte that
//   is not valid UTF-8, becomes '?'.
std::string Cp932ToUtf8(std::string_view text);
std::string Utf8ToCp932(std::string_view text);
std::wstring Cp932ToWide(std::string_view text);
