#pragma once

#include <QString>

#include <string>
#include <string_view>

// The window's side of the CP932 texts kept in accounts.
QString FromCp932(std::string_view bytes);
std::string ToCp932(const QString& text);

// True when every character of text survives the trip to CP932 and back
// unchanged in meaning: no character CP932 lacks (it would turn into '?')
// and no control character (a NUL would cut the stored record short).
bool IsCp932Storable(const QString& text);
