#include "mime/parsed_message.h"

#include <string_view>

#include "mime/encoded_word.h"
#include "mime/jis.h"

std::string CrLfToLf(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t crlf = text.find("\r\n", from);
        if (crlf == std::string_view::npos) {
            result.append(text.substr(from));
            break;
        }
        result.append(text.substr(from, crlf - from));
        result.push_back('\n');
        from = crlf + 2;
    }
    return result;
}

namespace {

void FillFields(const std::string& header, HeaderFields& fields) {
    // Lines before the first field line belong to "unknown"; the field is
    // only created once a line is appended to it.
    std::string* current = nullptr;
    std::size_t from = 0;
    for (;;) {
        const std::size_t lf = header.find('\n', from);
        const std::size_t end = lf == std::string::npos ? header.size() : lf;
        std::string_view line(header.data() + from, end - from);
        const std::size_t colon = line.find(": ");
        if (colon != std::string_view::npos) {
            std::string_view name = line.substr(0, colon);
            line.remove_prefix(colon + 2);
            current = &fields[std::string(name)];
            // Every "Received" line piles up in one value; other fields keep
            // their last occurrence.
            if (name != "Received") {
                current->clear();
            }
        } else if (current == nullptr) {
            current = &fields["unknown"];
        }
        current->append(line);
        if (lf == std::string::npos) {
            break;
        }
        from = lf + 1;
    }
}

}  // namespace

void ParsedMessage::Parse(const std::string& text) {
    parts.clear();
    fields.clear();

    const std::size_t blank = text.find("\r\n\r\n");
    std::string_view header(text);
    std::string_view body;
    if (blank != std::string::npos) {
        header = header.substr(0, blank);
        body = std::string_view(text).substr(blank + 4);
        const std::size_t dotLine = body.find("\r\n.\r\n");
        if (dotLine != std::string_view::npos) {
            body = body.substr(0, dotLine);
        }
    }

    parts.push_back(CrLfToLf(header));
    FillFields(parts[0], fields);
    for (auto& field : fields) {
        DecodeEncodedWords(field.second);
    }
    parts.push_back(JisToShiftJis(CrLfToLf(body)));
}

bool ParsedMessage::GetField(const std::string& name, std::string& out) const {
    const auto it = fields.find(name);
    if (it == fields.end()) {
        out.clear();
        return false;
    }
    out = it->second;
    return true;
}

bool ParsedMessage::GetPart(int index, std::string& out) const {
    const std::size_t slot = index == -1 ? 0 : index == 0 ? 1 : parts.size();
    if (slot >= parts.size()) {
        out.clear();
        return false;
    }
    out = parts[slot];
    return true;
}
