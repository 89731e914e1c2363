#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Outgoing Japanese mail text: CP932 (Windows Shift_JIS) to ISO-2022-JP.
//
// Every character goes out as something ISO-2022-JP carries:
// - ASCII byte for byte, except NUL, SO, SI, ESC, CR and LF, which would
//   break the escape sequences or the line;
// - JIS X 0208 characters as their JIS pairs; CP932's ～ － ∥ (FF5E, FF0D,
//   2225) are the JIS 〜 − ‖ at the same positions;
// - half-width katakana as their full-width forms, a following voiced or
//   semi-voiced mark joining its letter (ﾃﾞ is デ);
// - CP932's duplicates of JIS X 0208 characters (∵ ≒ ¬ … in the NEC and
//   IBM rows) as those characters;
// - everything else (①, IBM kanji, user-defined characters, broken bytes)
//   as one 〓 per character.

// One line in ISO-2022-JP: starts in ASCII and, whatever it holds, ends in
// ASCII (a closing ESC ( B after any kanji).
std::string Cp932ToJis(std::string_view cp932);

// A header value. Printable ASCII text is returned unchanged. Anything
// else becomes RFC 2047 "=?ISO-2022-JP?B?...?=" words, folded with CR LF
// and one space: each word holds whole characters and ends in ASCII, no
// word is longer than 75 characters and no line longer than 76, counting
// the `column` characters already on the first line ("Subject: " is 9).
// Spaces stay inside the words, so they survive decoding.
std::string EncodeHeaderText(std::string_view cp932, std::size_t column);

// An address list value (comma-separated). In each address whose display
// name before "<" holds anything but printable ASCII, that name (without
// its quotes) becomes encoded words as above; the rest is unchanged.
std::string EncodeAddressList(std::string_view cp932, std::size_t column);

// Unicode text (UTF-8) to CP932 for a mail: every character CP932 cannot
// hold, and every byte that is not valid UTF-8, becomes one 〓 (an emoji
// is one character).
std::string Utf8ToCp932ForMail(std::string_view utf8);
