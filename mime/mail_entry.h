#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One row of the mail list: the caption is the message number; the
// sub-items are size, date, subject and sender, in that order. A row made
// from the LIST reply has only the size.
struct MailEntry {
    std::string number;
    std::vector<std::string> subItems;
};

// Fills date, subject and sender from a TOP or RETR reply's rest: pads the
// sub-items with " " up to four, then sets the fields "Date", "Subject" and
// "From" (decoded).
void FillMailEntry(MailEntry& row, const std::string& text);

// The body pane's lines for a RETR reply's rest: with headerWithBody the
// header block's lines and a line " " first, then the body's lines.
std::vector<std::string> MessageViewLines(const std::string& text, bool headerWithBody);

// The mail list's sort orders (tag 0 number, 1 size, 2 date, 3 subject,
// 4 sender). Negative, zero or positive like strcmp.
int CompareMailEntries(const MailEntry& a, const MailEntry& b, int sortTag);

// The same orders with another text comparison for tags 2 to 4.
int CompareMailEntriesWith(const MailEntry& a, const MailEntry& b, int sortTag,
                           int (*compareText)(std::string_view, std::string_view));

// The integer value of a number or size text as the sort reads it: digits
// after optional blanks and sign, saturating; zero when there are none.
std::int64_t ListNumberValue(const std::string& text);
