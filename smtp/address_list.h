#pragma once

#include <string>
#include <string_view>
#include <vector>

// The addresses a user typed into one recipient field: split at every line
// break (CR, LF, CR LF) and at every comma outside double quotes and
// outside angle brackets, each piece trimmed of spaces and tabs, empty
// pieces dropped.
//   SplitAddressList("\"Taro, Yamada\" <taro@example.jp>, jiro@example.jp")
//     -> {"\"Taro, Yamada\" <taro@example.jp>", "jiro@example.jp"}
// A backslash inside quotes takes the next byte literally. The text must
// not be Shift_JIS (whose second bytes can be a backslash); UTF-8 is fine.
std::vector<std::string> SplitAddressList(std::string_view text);
