#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "mime/mime_header.h"

// The body pane's lines (UTF-8) for a message read with MIME decoding:
// the text chosen from the message, decoded and, for HTML, turned into
// text, then one "[添付] name (type, N bytes)" line per attachment.
// `message` is the whole dot-unstuffed text, `header` its top-level header
// and `bodyStart` where its body begins. Multiparts nest at most 32 deep
// (the message is depth 1); a deeper one shows as one attachment line.
// Time and memory are linear in the message size.
std::vector<std::string> MimeBodyLines(std::string_view message, const MimeHeader& header, std::size_t bodyStart);

// The attachments of that pane, in the order of their "[添付]" lines (the
// last lines of the pane): the name as the line shows it (empty when the
// message gives none) and the decoded bytes.
struct MimeAttachment {
    std::string name;
    std::string bytes;
};
std::vector<MimeAttachment> MimeAttachments(std::string_view message, const MimeHeader& header, std::size_t bodyStart);

constexpr int kMaxMimeDepth = 32;
