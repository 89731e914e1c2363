#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

// Header reading for today's MIME mail: names matched without regard to
// case, "Name:value" with or without a space, folded lines unfolded (the
// line break removed, the white space kept), the first occurrence of a
// name found first.

// Undoes POP3 dot-stuffing: a line starting with ".." loses one dot.
std::string DotUnstuff(std::string_view text);

struct MimeField {
    std::string name;   // as written
    std::string value;  // unfolded, leading white space and line ends removed
};

struct MimeHeader {
    std::vector<MimeField> fields;  // in header order
    // The first field called `name` (ASCII case ignored), or nullptr.
    const std::string* Find(std::string_view name) const;
};

// Reads the header lines of an entity starting at `pos`: fields, folded
// continuations, up to and including the blank line that ends them, or up
// to a line that is neither (which then starts the body). With
// `statusLine` the first line is the rest of a POP3 status line and is
// skipped unless it is a field. Lines end in LF or CR LF. Returns where the
// body starts.
std::size_t ParseMimeHeader(std::string_view text, std::size_t pos, bool statusLine, MimeHeader& header);

// A header value as text, in UTF-8: RFC 2047 encoded words in B and Q form
// decoded (any case; white space between two decoded words dropped; bytes
// of adjacent words in one charset joined before conversion), words in an
// unknown charset kept as sent, other 8-bit bytes read as UTF-8 when valid,
// otherwise as CP932.
std::string DecodeHeaderText(std::string_view value);

// A Content-Type or Content-Disposition value: the lower-cased first token
// ("text/plain", "attachment") and the parameters by lower-cased name.
// RFC 2231 forms (continuations, charset'language'%XX) are joined and
// decoded to UTF-8; plain values are kept as written, RFC 2047 words and
// all, with `extended` false.
struct MimeParam {
    std::string value;
    bool extended = false;
};
struct MimeValue {
    std::string token;
    std::map<std::string, MimeParam> params;
    const MimeParam* Param(const std::string& name) const;
};
MimeValue ParseMimeValue(std::string_view value);

// Lenient transfer decoders: they decode as far as the input goes.
// Base64 skips bytes outside the alphabet; "=" ends a group (a short last
// group still gives its whole bytes). Quoted-printable undoes "=XX" (either
// case) and soft line breaks; any other "=" stays as written.
std::string DecodeBase64Lenient(std::string_view text);
std::size_t Base64DecodedSize(std::string_view text);
std::string DecodeQuotedPrintable(std::string_view text);
// The Q form of RFC 2047: quoted-printable with "_" for a space.
std::string DecodeQWord(std::string_view text);
