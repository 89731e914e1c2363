#pragma once

#include <string>
#include <string_view>

// A log entry's bytes as the log pane shows them, in UTF-8: ISO-2022-JP
// runs decoded, other bytes read as CP932 (one that is not a character
// becomes U+FFFD), CR LF as a line break, and every other control byte
// (NUL, a lone CR, an escape that starts no known sequence, DEL) as its
// visible mark from the Control Pictures block, such as "␀" and "␛". Tabs
// and line feeds stay.
std::string LogTextForEye(std::string_view bytes);
