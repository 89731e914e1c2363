#pragma once

#include <string>
#include <vector>

#include "mime/mail_entry.h"
#include "mime/mime_body.h"

// What the window shows, in UTF-8. Without MIME decoding (the account's
// POPDecodeMime bit clear) these are the list's Shift_JIS texts converted
// once through platform/cp932, so ISO-2022-JP mail shows as it always has;
// with it, today's MIME mail is decoded straight to UTF-8, so text that
// Shift_JIS cannot hold (emoji, 𠮷, hangul) survives.

// Date, subject and sender of a TOP or RETR reply's rest, as the list row
// shows them.
struct RowTexts {
    std::string date;
    std::string subject;
    std::string sender;
};
RowTexts MailRowTexts(const std::string& text, bool decodeMime);

// As FillMailEntry, with UTF-8 texts: pads the row's sub-items with " " up
// to four, then sets date, subject and sender.
void FillDisplayRow(MailEntry& row, const std::string& text, bool decodeMime);

// The body pane's lines for a RETR reply's rest. With headerWithBody (the
// POPHeaderWithBody bit) the header lines come first (with MIME decoding
// their encoded words decoded), then a line " ".
std::vector<std::string> MessagePaneLines(const std::string& text, bool decodeMime, bool headerWithBody);

// The attachments behind that pane's "[添付]" lines (MIME decoding only).
std::vector<MimeAttachment> MessageAttachments(const std::string& text);

// The list's sort orders on rows holding UTF-8 texts: the same rules as
// CompareMailEntries, with the locale collation applied to UTF-8.
int CompareDisplayRows(const MailEntry& a, const MailEntry& b, int sortTag);
