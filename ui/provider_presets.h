#pragma once

#include "accounts/providers.h"

#include <vector>

class QWidget;

// The presets the settings dialog offers, read once per run: the shipped
// table with the user's providers.json over it. A user file that cannot be
// used is named in a box (over boxParent) the first time, and ignored.
const std::vector<Provider>& ProviderPresets(QWidget* boxParent);

// Forgets what was read, so the next use reads and reports again (tests).
void ForgetProviderPresets();
