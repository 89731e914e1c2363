#include "accounts/settings.h"

#include "accounts/number_text.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace {

std::string EntryName(std::size_t index) {
    return "Entry" + std::to_string(index);
}

// Every entry this program writes ends in ",EOD" and its NUL, or has
// ",EOD," followed by extension fields and ends in its only NUL. An entry
// of the older binary form is neither: the byte before its last four (the
// options number) is the NUL that ends the SMTP user, never a comma, and
// the NUL after its name comes well before its end.
bool WrittenInTextForm(std::string_view entry) {
    constexpr std::string_view kEnd(",EOD\0", 5);
    if (entry.ends_with(kEnd)) return true;
    return entry.ends_with('\0') && entry.find('\0') == entry.size() - 1 &&
           entry.find(",EOD,") != std::string_view::npos;
}

// Whether the name is "Entry" and decimal digits for a number of at least
// count: an entry that no account uses any more.
bool IsEntryFrom(std::string_view name, std::size_t count) {
    constexpr std::string_view kEntry = "Entry";
    if (!name.starts_with(kEntry) || name.size() == kEntry.size()) return false;
    std::size_t number = 0;
    for (const char c : name.substr(kEntry.size())) {
        if (c < '0' || c > '9') return false;
        // Past any count there can be: the number is at least count.
        if (number <= count) number = number * 10 + static_cast<std::size_t>(c - '0');
    }
    return number >= count;
}

}  // namespace

std::vector<Account> LoadSettings(SettingsStore& store) {
    std::vector<Account> accounts;
    if (!store.OpenKey(kSettingsKeyPath)) return accounts;

    const std::int32_t version = ParseSettingsVersion(store.ReadText("Version"));
    const std::int32_t counted = ParseDecimal(store.ReadText("Account"));
    const std::size_t count = counted <= 0 ? 0 : std::min(static_cast<std::size_t>(counted), kMaxStoredAccounts);

    accounts.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        Account account = DefaultAccount();
        // A missing or unreadable entry stays a default account with an
        // empty name; it never inherits another entry's contents.
        if (const std::optional<std::string> entry = store.ReadBytes(EntryName(i))) {
            // A save that converted older settings and was interrupted
            // leaves a store whose "Version" is still old while some
            // entries are already in the text form; those read as text.
            if (version >= kTextFormVersion || WrittenInTextForm(*entry)) {
                ParseAccount(*entry, account);
            } else {
                ParseLegacyAccount(*entry, account);
            }
        }
        // An entry from an older store (or none at all) gets its id now;
        // it is written with the next save.
        if (account.id.empty()) account.id = NewAccountId();
        accounts.push_back(std::move(account));
    }
    store.CloseKey();
    return accounts;
}

std::vector<Account> LoadSettings() {
    SettingsStore store;
    return LoadSettings(store);
}

bool SaveSettings(const std::vector<Account>& accounts, SettingsStore& store) {
    if (!store.OpenKey(kSettingsKeyPath)) return false;
    // Every value is replaced atomically. The count goes last and only after
    // every entry it counts was written, so an interrupted save leaves each
    // entry either old or new and never counts one that is not there.
    bool ok = store.WriteText("Version", kSettingsVersion);
    for (std::size_t i = 0; ok && i < accounts.size(); ++i) {
        const std::string text = FormatAccount(accounts[i]);
        ok = store.WriteBytes(EntryName(i), text.data(), text.size());
    }
    ok = ok && store.WriteText("Account", std::to_string(accounts.size()));
    // Only once the count no longer names them: the entries of deleted
    // accounts go, with their servers, users and passwords. Other values
    // (files that share the folder) stay. A removal that fails leaves a
    // value no load reads; the save itself has succeeded.
    if (ok) {
        for (const std::string& name : store.ValueNames())
            if (IsEntryFrom(name, accounts.size())) store.DeleteValue(name);
    }
    store.CloseKey();
    return ok;
}

bool SaveSettings(const std::vector<Account>& accounts) {
    SettingsStore store;
    return SaveSettings(accounts, store);
}
