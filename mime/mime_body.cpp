#include "mime/mime_body.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "mime/html_text.h"
#include "mime/jis.h"
#include "mime/message_view.h"
#include "mime/mime_charset.h"
#include "platform/charset.h"
#include "platform/cp932.h"
#include "texts/texts.h"

namespace {

// One leaf of the message (a multipart too deep to enter is a leaf too).
struct Leaf {
    std::string type;  // lower-cased "type/subtype"
    bool attachment = false;
    const MimeHeader* header = nullptr;
    std::string_view body;  // still transfer-encoded
    // For each multipart/alternative above the leaf: its number and the
    // index of the child the leaf lies in.
    std::vector<std::pair<int, int>> alternatives;
};

struct Walk {
    std::vector<Leaf> leaves;
    std::vector<std::unique_ptr<MimeHeader>> headers;  // owned by the walk
    int alternativeCount = 0;
};

std::string TypeOf(const MimeHeader& header, const std::string& defaultType) {
    const std::string* value = header.Find("Content-Type");
    if (!value) return defaultType;
    std::string token = ParseMimeValue(*value).token;
    const std::size_t slash = token.find('/');
    // Not a type/subtype: read as plain text, as mailers do.
    if (slash == std::string::npos || slash == 0 || slash + 1 == token.size() ||
        token.find_first_of(" \t\"", 0) != std::string::npos) {
        return "text/plain";
    }
    return token;
}

std::string ContentTypeParam(const MimeHeader& header, const std::string& name) {
    const std::string* value = header.Find("Content-Type");
    if (!value) return {};
    const MimeValue parsed = ParseMimeValue(*value);
    const MimeParam* p = parsed.Param(name);
    return p ? p->value : std::string();
}

// Splits a multipart body at its delimiter lines: the parts' texts, without
// the line break before each delimiter. Text before the first delimiter
// and after the closing one is dropped; a part with no closing delimiter
// runs to the end.
std::vector<std::string_view> SplitParts(std::string_view body, const std::string& boundary) {
    std::vector<std::string_view> parts;
    if (boundary.empty()) return parts;
    const std::string dash = "--" + boundary;
    std::size_t partStart = std::string_view::npos;
    std::size_t pos = 0;
    while (pos < body.size()) {
        const void* lfp = std::memchr(body.data() + pos, '\n', body.size() - pos);
        const std::size_t lf =
            lfp ? static_cast<std::size_t>(static_cast<const char*>(lfp) - body.data()) : body.size();
        std::string_view line = body.substr(pos, lf - pos);
        if (line.size() >= dash.size() && line[0] == '-' && line[1] == '-' && line.compare(0, dash.size(), dash) == 0) {
            std::string_view rest = line.substr(dash.size());
            const bool closing = rest.size() >= 2 && rest[0] == '-' && rest[1] == '-';
            if (closing) rest.remove_prefix(2);
            if (std::all_of(rest.begin(), rest.end(), [](char c) { return c == ' ' || c == '\t' || c == '\r'; })) {
                if (partStart != std::string_view::npos) {
                    std::size_t end = pos;
                    if (end > partStart && body[end - 1] == '\n') --end;
                    if (end > partStart && body[end - 1] == '\r') --end;
                    parts.push_back(body.substr(partStart, end - partStart));
                }
                if (closing) return parts;
                partStart = lf < body.size() ? lf + 1 : body.size();
            }
        }
        pos = lf + 1;
    }
    if (partStart != std::string_view::npos) parts.push_back(body.substr(partStart));
    return parts;
}

void WalkEntity(Walk& walk, const MimeHeader& header, std::string_view body, int depth, const std::string& defaultType,
                std::vector<std::pair<int, int>>& alternatives) {
    const std::string type = TypeOf(header, defaultType);
    if (type.compare(0, 10, "multipart/") == 0 && depth < kMaxMimeDepth) {
        const std::vector<std::string_view> parts = SplitParts(body, ContentTypeParam(header, "boundary"));
        const bool alternative = type == "multipart/alternative";
        const int id = alternative ? walk.alternativeCount++ : -1;
        const std::string childDefault = type == "multipart/digest" ? "message/rfc822" : "text/plain";
        for (std::size_t k = 0; k < parts.size(); ++k) {
            walk.headers.push_back(std::make_unique<MimeHeader>());
            MimeHeader& child = *walk.headers.back();
            const std::size_t start = ParseMimeHeader(parts[k], 0, false, child);
            if (alternative) alternatives.emplace_back(id, static_cast<int>(k));
            WalkEntity(walk, child, parts[k].substr(start), depth + 1, childDefault, alternatives);
            if (alternative) alternatives.pop_back();
        }
        return;
    }
    Leaf leaf;
    leaf.type = type;
    const std::string* disposition = header.Find("Content-Disposition");
    leaf.attachment = disposition && ParseMimeValue(*disposition).token == "attachment";
    leaf.header = &header;
    leaf.body = body;
    leaf.alternatives = alternatives;
    walk.leaves.push_back(std::move(leaf));
}

std::string TransferEncoding(const MimeHeader& header) {
    const std::string* value = header.Find("Content-Transfer-Encoding");
    return value ? ParseMimeValue(*value).token : std::string();
}

std::string DecodedBytes(const MimeHeader& header, std::string_view body) {
    const std::string cte = TransferEncoding(header);
    if (cte == "base64") return DecodeBase64Lenient(body);
    if (cte == "quoted-printable") return DecodeQuotedPrintable(body);
    return std::string(body);
}

std::size_t DecodedSize(const MimeHeader& header, std::string_view body) {
    const std::string cte = TransferEncoding(header);
    if (cte == "base64") return Base64DecodedSize(body);
    if (cte == "quoted-printable") return DecodeQuotedPrintable(body).size();
    return body.size();
}

std::string CrLfToLfText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

// The text of a text/plain or text/html leaf, UTF-8 with LF line ends.
std::string LeafText(const Leaf& leaf) {
    const std::string bytes = DecodedBytes(*leaf.header, leaf.body);
    const std::string charset = ContentTypeParam(*leaf.header, "charset");
    auto text = charset.empty() ? std::nullopt : CharsetToUtf8(bytes, charset);
    std::string utf8 = text ? std::move(*text) : RawToUtf8(bytes);
    utf8 = CrLfToLfText(utf8);
    return leaf.type == "text/html" ? HtmlToText(utf8) : utf8;
}

std::string AttachmentName(const MimeHeader& header) {
    std::string name;
    bool found = false;
    for (const auto& [field, param] : {std::pair<const char*, const char*>{"Content-Disposition", "filename"},
                                       std::pair<const char*, const char*>{"Content-Type", "name"}}) {
        const std::string* value = header.Find(field);
        if (!value) continue;
        const MimeValue parsed = ParseMimeValue(*value);
        const MimeParam* p = parsed.Param(param);
        if (!p || p->value.empty()) continue;
        name = p->extended ? p->value : DecodeHeaderText(p->value);
        found = true;
        break;
    }
    if (!found || name.empty()) return std::string(texts::message_view::kNoName);
    // One pane line: control characters would break it.
    for (char& c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    }
    return name;
}

// The body of a message without MIME headers, as the list has always shown
// it (ISO-2022-JP converted), read as UTF-8 when it is valid UTF-8 and held
// no escape sequence.
std::string LegacyBodyText(std::string_view body) {
    const std::string converted = JisToShiftJis(CrLfToLfText(body));
    if (body.find('\x1b') == std::string_view::npos && IsValidUtf8(converted)) return converted;
    return Cp932ToUtf8(converted);
}

bool SharesOtherAlternative(const Leaf& leaf, const Leaf& shown) {
    for (const auto& [id, index] : leaf.alternatives) {
        for (const auto& [shownId, shownIndex] : shown.alternatives) {
            if (id == shownId && index != shownIndex) return true;
        }
    }
    return false;
}

// The leaf the pane shows as text and the ones it lists as attachments,
// in pane order. Nothing for mail without MIME header fields.
struct Choice {
    bool legacy = false;
    std::string_view body;
    Walk walk;
    const Leaf* shown = nullptr;
    std::vector<const Leaf*> attachments;
};

void Choose(std::string_view message, const MimeHeader& header, std::size_t bodyStart, Choice& choice) {
    choice.body = message.substr(std::min(bodyStart, message.size()));
    if (!header.Find("Content-Type") && !header.Find("Content-Transfer-Encoding")) {
        choice.legacy = true;
        return;
    }
    Walk& walk = choice.walk;
    std::vector<std::pair<int, int>> alternatives;
    WalkEntity(walk, header, choice.body, 1, "text/plain", alternatives);

    const Leaf*& shown = choice.shown;
    const bool single = walk.leaves.size() == 1 && TypeOf(header, "text/plain").compare(0, 10, "multipart/") != 0;
    for (const char* want : {"text/plain", "text/html"}) {
        for (const Leaf& leaf : walk.leaves) {
            if (leaf.type == want && (single || !leaf.attachment)) {
                shown = &leaf;
                break;
            }
        }
        if (shown) break;
    }
    for (const Leaf& leaf : walk.leaves) {
        if (&leaf == shown || (shown && SharesOtherAlternative(leaf, *shown))) continue;
        choice.attachments.push_back(&leaf);
    }
}

}  // namespace

std::vector<std::string> MimeBodyLines(std::string_view message, const MimeHeader& header, std::size_t bodyStart) {
    std::vector<std::string> lines;
    Choice choice;
    Choose(message, header, bodyStart, choice);
    if (choice.legacy) {
        AppendPaneLines(LegacyBodyText(choice.body), lines);
        return lines;
    }
    if (choice.shown) {
        AppendPaneLines(LeafText(*choice.shown), lines);
    } else if (choice.walk.leaves.empty()) {
        lines.emplace_back();
    }
    for (const Leaf* leaf : choice.attachments) {
        lines.push_back(std::string(texts::message_view::kAttachmentMark) + " " + AttachmentName(*leaf->header) + " (" +
                        RawToUtf8(leaf->type) + ", " + std::to_string(DecodedSize(*leaf->header, leaf->body)) +
                        " bytes)");
    }
    return lines;
}

std::vector<MimeAttachment> MimeAttachments(std::string_view message, const MimeHeader& header, std::size_t bodyStart) {
    std::vector<MimeAttachment> attachments;
    Choice choice;
    Choose(message, header, bodyStart, choice);
    for (const Leaf* leaf : choice.attachments) {
        MimeAttachment& a = attachments.emplace_back();
        a.name = AttachmentName(*leaf->header);
        if (a.name == texts::message_view::kNoName) a.name.clear();
        a.bytes = DecodedBytes(*leaf->header, leaf->body);
    }
    return attachments;
}
