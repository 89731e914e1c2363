#pragma once

#include <string>
#include <string_view>

// The message of a RETR reply's rest (what follows "+OK", then CR LF, the
// dot-stuffed lines and the ".\r\n" that ends them) as an .eml file holds
// it: the status line and the final dot line dropped, dot-stuffing undone,
// every line ended by CR LF (a bare LF gains its CR). The server's bytes
// otherwise stay exactly as they were.
std::string MessageFileBytes(std::string_view rest);

// A file name for an attachment's name that cannot leave the directory it
// is saved in: only the part after the last '/' or '\', without control
// characters, leading dots and surrounding blanks; "attachment" when
// nothing is left. "../../.bashrc" becomes "bashrc".
std::string SafeFileName(std::string_view name);
