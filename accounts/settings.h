#pragma once

#include "accounts/account.h"
#include "accounts/settings_store.h"

#include <cstddef>
#include <vector>

// Where the accounts live: Software\kirabo\Boxsweeper.
inline constexpr const char kSettingsKeyPath[] = "kirabo\\Boxsweeper";
// The version every save writes.
inline constexpr const char kSettingsVersion[] = "0.33";
// Below this settings version the entries are in the older binary form.
inline constexpr int kTextFormVersion = 32;
// An "Account" count above this is read as this, so a corrupt count cannot
// exhaust memory with default accounts.
inline constexpr std::size_t kMaxStoredAccounts = 1024;

// All stored accounts in tab order; none when the store is empty or cannot
// be opened. Nothing is reported.
std::vector<Account> LoadSettings();
// Stores every account. False when any value could not be written; what
// was stored before stays readable entry by entry either way.
bool SaveSettings(const std::vector<Account>& accounts);

// The same over a store the caller created, not yet open (tests inject
// faults through it). The key is opened and closed here.
std::vector<Account> LoadSettings(SettingsStore& store);
bool SaveSettings(const std::vector<Account>& accounts, SettingsStore& store);
