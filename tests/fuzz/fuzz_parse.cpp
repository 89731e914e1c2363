// ParsedMessage::Parse on any reply text: no crash, exactly two parts, the
// header block never longer than the input, the body not longer than what
// follows the blank line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mime/mail_entry.h"
#include "mime/parsed_message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string in(reinterpret_cast<const char*>(data), size);
    ParsedMessage message;
    message.Parse(in);
    std::string header, body, value;
    if (message.parts.size() != 2 || !message.GetPart(-1, header) || !message.GetPart(0, body)) {
        std::abort();
    }
    const std::size_t blank = in.find("\r\n\r\n");
    if (header.size() > in.size() ||
        (blank == std::string::npos ? !body.empty() : body.size() > in.size() - blank - 4)) {
        std::abort();
    }
    std::size_t total = 0;
    for (const auto& field : message.fields) {
        // "unknown" is the one name that need not stand in the text.
        total += (field.first == "unknown" ? 0 : field.first.size()) + field.second.size();
    }
    if (message.fields.empty() || total > header.size()) {
        std::abort();
    }
    MailEntry row{"1", {"10"}};
    FillMailEntry(row, in);
    if (row.subItems.size() != 4 || MessageViewLines(in, true).empty()) {
        std::abort();
    }
    return 0;
}
