#pragma once

#include <string>
#include <string_view>

// ISO-2022-JP (7-bit JIS) to Shift_JIS. The input ends at its first NUL
// byte; 8-bit bytes and unknown escape sequences pass through unchanged.
// Every call starts in one-byte mode. The result is never longer than the
// input up to its first NUL.
std::string JisToShiftJis(std::string_view text);
