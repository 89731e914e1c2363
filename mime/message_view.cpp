#include "mime/message_view.h"
#include "mime/mail_entry.h"
#include "mime/parsed_message.h"

void AppendPaneLines(const std::string& text, std::vector<std::string>& lines) {
    std::size_t from = 0;
    for (;;) {
        const std::size_t lf = text.find('\n', from);
        if (lf == std::string::npos) {
            lines.emplace_back(text, from);
            return;
        }
        lines.emplace_back(text, from, lf - from);
        from = lf + 1;
    }
}

std::vector<std::string> MessageViewLines(const std::string& text, bool headerWithBody) {
    ParsedMessage message;
    message.Parse(text);
    std::vector<std::string> lines;
    std::string part;
    if (headerWithBody) {
        message.GetPart(-1, part);
        AppendPaneLines(part, lines);
        lines.emplace_back(" ");
    }
    message.GetPart(0, part);
    AppendPaneLines(part, lines);
    return lines;
}
