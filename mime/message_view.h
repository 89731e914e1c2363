#pragma once

#include <string>
#include <vector>

// Cuts a text into body pane lines at every LF (dropped); the piece after
// the last LF is a line too, even when empty.
void AppendPaneLines(const std::string& text, std::vector<std::string>& lines);
