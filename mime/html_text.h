#pragma once

#include <string>
#include <string_view>

// HTML (UTF-8) as plain text (UTF-8, LF line ends): script, style, head
// and title dropped; br, p, div, tr, li and h1 to h6 end lines; other tags
// removed; named and numeric character references decoded; white space
// runs inside a line made one space; lines trimmed; runs of blank lines cut
// to one. Linear in the input.
std::string HtmlToText(std::string_view html);
