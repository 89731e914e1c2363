#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

// Field name to value, names compared byte by byte (case-sensitive, not
// trimmed).
using HeaderFields = std::map<std::string, std::string>;

// One TOP or RETR reply cut into header block, body and header fields.
class ParsedMessage {
public:
    // Replaces everything with the contents of `text`. Never fails.
    void Parse(const std::string& text);

    // Copies the value of the field named exactly `name`; false and an
    // empty `out` when there is none.
    bool GetField(const std::string& name, std::string& out) const;

    // -1: the header block, 0: the body (both with LF line ends). Any other
    // index gives false and an empty `out`.
    bool GetPart(int index, std::string& out) const;

    // Values with their encoded words decoded.
    HeaderFields fields;
    // Exactly two after Parse: [0] header block, [1] body in Shift_JIS.
    std::vector<std::string> parts;
};

// Every CR LF turned into LF; a CR on its own stays.
std::string CrLfToLf(std::string_view text);
