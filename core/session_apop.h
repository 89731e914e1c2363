#pragma once

#include <optional>
#include <string>
#include <string_view>

// The APOP timestamp of a greeting's status text: from its first "<" to
// the first ">" after it, both brackets included; what follows is not part
// of it (RFC 1939). Without a ">" it runs to the end of the text. None
// when the text has no "<".
std::optional<std::string_view> ApopTimestamp(std::string_view greetingRest);

// The APOP digest: MD5 of the timestamp immediately followed by the
// password, as 32 lowercase hexadecimal digits.
std::string ApopDigest(std::string_view timestamp, std::string_view password);
