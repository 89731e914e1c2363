#include "mime/display_text.h"

#include "mime/message_view.h"
#include "mime/mime_body.h"
#include "mime/mime_header.h"
#include "platform/cp932.h"
#include "platform/locale_compare.h"

namespace {

std::string FieldText(const MimeHeader& header, const char* name) {
    const std::string* value = header.Find(name);
    return value ? DecodeHeaderText(*value) : std::string();
}

// The header block's lines as received, each with its encoded words
// decoded (folded lines stay separate lines).
void AppendHeaderLines(std::string_view message, std::size_t bodyStart, std::vector<std::string>& lines) {
    std::string_view block = message.substr(0, bodyStart);
    // The blank line that ends the header is not a header line.
    if (block.size() >= 2 && block.substr(block.size() - 2) == "\r\n")
        block.remove_suffix(2);
    else if (!block.empty() && block.back() == '\n')
        block.remove_suffix(1);
    if (block.size() >= 2 && block.substr(block.size() - 2) == "\r\n")
        block.remove_suffix(2);
    else if (!block.empty() && block.back() == '\n')
        block.remove_suffix(1);
    std::size_t from = 0;
    for (;;) {
        const std::size_t lf = block.find('\n', from);
        std::string_view line = block.substr(from, lf == std::string_view::npos ? std::string_view::npos : lf - from);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(DecodeHeaderText(line));
        if (lf == std::string_view::npos) return;
        from = lf + 1;
    }
}

}  // namespace

RowTexts MailRowTexts(const std::string& text, bool decodeMime) {
    if (!decodeMime) {
        MailEntry row;
        FillMailEntry(row, text);
        return RowTexts{Cp932ToUtf8(row.subItems[1]), Cp932ToUtf8(row.subItems[2]), Cp932ToUtf8(row.subItems[3])};
    }
    MimeHeader header;
    ParseMimeHeader(DotUnstuff(text), 0, true, header);
    return RowTexts{FieldText(header, "Date"), FieldText(header, "Subject"), FieldText(header, "From")};
}

void FillDisplayRow(MailEntry& row, const std::string& text, bool decodeMime) {
    RowTexts texts = MailRowTexts(text, decodeMime);
    while (row.subItems.size() < 4) {
        row.subItems.emplace_back(" ");
    }
    row.subItems[1] = std::move(texts.date);
    row.subItems[2] = std::move(texts.subject);
    row.subItems[3] = std::move(texts.sender);
}

std::vector<std::string> MessagePaneLines(const std::string& text, bool decodeMime, bool headerWithBody) {
    if (!decodeMime) {
        std::vector<std::string> lines = MessageViewLines(text, headerWithBody);
        for (std::string& line : lines) {
            line = Cp932ToUtf8(line);
        }
        return lines;
    }
    const std::string message = DotUnstuff(text);
    MimeHeader header;
    const std::size_t bodyStart = ParseMimeHeader(message, 0, true, header);
    std::vector<std::string> lines;
    if (headerWithBody) {
        AppendHeaderLines(message, bodyStart, lines);
        lines.emplace_back(" ");
    }
    std::vector<std::string> body = MimeBodyLines(message, header, bodyStart);
    lines.insert(lines.end(), std::make_move_iterator(body.begin()), std::make_move_iterator(body.end()));
    return lines;
}

std::vector<MimeAttachment> MessageAttachments(const std::string& text) {
    const std::string message = DotUnstuff(text);
    MimeHeader header;
    const std::size_t bodyStart = ParseMimeHeader(message, 0, true, header);
    return MimeAttachments(message, header, bodyStart);
}

int CompareDisplayRows(const MailEntry& a, const MailEntry& b, int sortTag) {
    return CompareMailEntriesWith(a, b, sortTag, LocaleCompareUtf8);
}
