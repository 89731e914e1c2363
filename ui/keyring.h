#pragma once

#include "accounts/account.h"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

// The system keyring (a Secret Service such as GNOME Keyring or KeePassXC,
// or KWallet) through QtKeychain: one item per account and kind of secret,
// keyed by the account's id, so editing the server or the user keeps it and
// two accounts on one mailbox never share it. Calls wait on a local event
// loop for the keyring's answer, at most kLimit: a keyring that asks the user
// to unlock it gets that long.
namespace keyring {

enum class Result {
    Ok,
    NotFound,   // no item for this account and kind
    Refused,    // locked, access denied, no answer in time, or any other failure
    NoKeyring,  // no keyring runs in this session
};

inline constexpr std::chrono::seconds kLimit{30};

// The kinds of secret an account keeps there.
inline constexpr std::string_view kPassword = "password";
inline constexpr std::string_view kRefreshToken = "oauth2-refresh";

// Whether a keyring service is on the session bus. Cheap enough for a
// dialog or a save; never called at start-up.
bool Running();

// Secrets are the account's own bytes (the password is Shift_JIS, as the
// account holds it); the keyring keeps them as text.
Result Read(std::string_view accountId, std::string_view kind, std::string& secret);
Result Write(std::string_view accountId, std::string_view kind, const std::string& secret);
// NotFound counts as done.
Result Remove(std::string_view accountId, std::string_view kind);

// What the window does with these at its three moments.
// At the save, on the copies about to be stored: a password to be saved goes
// to the keyring when one runs (POPPasswordInKeyring set, the text form's
// field left empty); an account whose password is in the keyring never puts
// it into the text form, keyring or not (the next Connect asks); an account
// no longer saving its password has its item removed. Anything the keyring
// refuses stays where it was before, so nothing is lost.
void PlacePasswords(std::vector<Account>& stored);
// Before a Connect or a send: an account whose password is in the keyring
// and not yet in memory reads it. On any failure the password stays empty,
// so the password prompt asks.
void FetchPassword(Account& account);
// The account is deleted: so are its items.
void Forget(const Account& account);

}  // namespace keyring
