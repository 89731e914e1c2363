#pragma once

#include <string>
#include <string_view>

// Base64 as mail headers carry it: LF, CR and TAB are skipped, any byte
// outside the alphabet (padding included) counts as zero, and a last group
// of one to three characters is dropped. The result may hold NUL bytes.
std::string DecodeBase64(std::string_view text);

// Replaces every "=?ISO-2022-JP?B?...?=" word (prefix matched without
// regard to ASCII case) by its text in Shift_JIS. Other charsets and the
// Q encoding stay as they are. Decoded text is never decoded again.
void DecodeEncodedWords(std::string& value);
