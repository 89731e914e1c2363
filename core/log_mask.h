#pragma once

#include <string>
#include <string_view>

// What the log pane and the log files show for a command line as sent: the
// line itself, except that secrets are replaced by "********" — the PASS
// argument ("PASS ********"), the APOP digest ("APOP user ********") and an
// AUTH initial response ("AUTH XOAUTH2 ********": only the mechanism name
// stays). A masked line has no line end, so it never reads as sent bytes.
std::string LoggedCommand(std::string_view sent);

// Stands for a secret in the log, and for a whole SASL response line.
inline constexpr std::string_view kMaskedSecret = "********";
