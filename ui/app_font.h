#pragma once

#include <QFont>

// The window's font: "MS PGothic" where it exists, otherwise the IPA
// proportional Gothic that stands in for it (fontconfig has no alias).
QFont AppFont();
