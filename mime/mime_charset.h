#pragma once

#include <optional>
#include <string>
#include <string_view>

// Mail text in a declared charset to UTF-8. Labels are matched without
// regard to case; an RFC 2231 language suffix ("UTF-8*ja") is ignored.
// Japanese labels get the Windows mappings Japanese mailers write:
// Shift_JIS as CP932, ISO-2022-JP with the CP932 extension rows (through
// the same converter the list has always used), EUC-JP as its Microsoft
// variant. Bytes the charset cannot read become U+FFFD one by one.
// Nothing when the charset is unknown.
std::optional<std::string> CharsetToUtf8(std::string_view bytes, std::string_view label);

// Bytes with no usable charset: as they are when valid UTF-8 (ASCII
// included), otherwise read as CP932.
std::string RawToUtf8(std::string_view bytes);

// The label with its language suffix cut off and lower-cased.
std::string NormalizedCharset(std::string_view label);
