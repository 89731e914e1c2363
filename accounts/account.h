#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// 32 option bits; bit i is worth 2 to the power i in the number form.
class AccountOptions {
public:
    bool Test(int bit) const;
    void Set(int bit);
    void Clear(int bit);
    std::uint32_t ToNumber() const { return bits_; }
    void FromNumber(std::uint32_t number) { bits_ = number; }

    friend bool operator==(const AccountOptions&, const AccountOptions&) = default;

private:
    std::uint32_t bits_ = 0;
};

// popOptions bits, named after the settings dialog controls that edit them.
enum PopOption : int {
    POPReadHeader = 0,
    POPSavePassword = 1,
    POPAutoSetting = 2,
    POPAuthBasic = 3,
    POPAuthAPOP = 4,
    POPAuthAuto = 5,
    POPUseTop = 6,
    POPUseCache = 7,
    POPHeaderWithBody = 8,
    // Bits beyond the original dialog; an account with them clear behaves as before.
    POPDecodeMime = 9,          // decode today's MIME mail (any charset, Q words, multipart)
    POPUseTLS = 10,             // TLS from the first byte
    POPUseSTLS = 11,            // STLS upgrade after the greeting; with POPUseTLS set, POPUseTLS wins
    POPPipelining = 12,         // pipeline TOP/RETR and DELE when the server offers PIPELINING
    POPMarkNew = 13,            // ask UIDL and mark the messages not seen at the last check
    POPApplyRules = 14,         // judge each message by the rule list (junk, friend)
    POPAuthOAuth2 = 15,         // sign in with OAuth2; wins over every other login bit
    POPPasswordInKeyring = 16,  // the password is kept in the system keyring, not in the entry
    POPLocalDates = 17,         // show Date in local time and sort the dates as points in time
};

// smtpOptions bits.
enum SmtpOption : int {
    SMTPAutoSetting = 0,
    SMTPAuthNone = 1,
    SMTPAuthPbS = 2,
    SMTPAuthAUTH = 3,
    SMTPUserAsPOP = 4,
    // Bits beyond the original dialog; an account with them clear sends as before.
    SMTPUseTLS = 5,       // TLS from the first byte
    SMTPUseSTARTTLS = 6,  // STARTTLS after EHLO
    SMTPAuthOAuth2 = 7,   // AUTH with an OAuth2 token; wins over SMTPAuthAUTH and SMTPAuthPbS
};

// One account's settings. Texts are Shift_JIS bytes.
struct Account {
    std::string name;
    std::string popServer;
    std::int32_t popPort = 110;
    std::string popUser;
    std::string popPassword;
    AccountOptions popOptions;
    std::string smtpServer;
    std::int32_t smtpPort = 25;
    std::string smtpUser;
    AccountOptions smtpOptions;
    // Extension fields, stored after the text form's EOD marker.
    // The account's stable random id (kAccountIdLength hexadecimal digits):
    // what per-account data is keyed by, so renaming the account or editing
    // its server keeps it. Empty only in a record that was neither loaded
    // nor added (DefaultAccount).
    std::string id;
    // The provider preset an OAuth2 account signs in with, by its name
    // (stored as "oauth="); empty: the default for the account's domain.
    std::string oauthProvider;
    // The extension tokens this program does not know, exactly as read
    // ("name=value"); written back unchanged after the known ones.
    std::vector<std::string> otherFields;

    // Compares what the account holds; the id says which account it is,
    // so it is left out.
    friend bool operator==(const Account& a, const Account& b);
};

inline constexpr std::size_t kAccountIdLength = 32;

// A fresh random id: kAccountIdLength lowercase hexadecimal digits.
std::string NewAccountId();
// Whether text is an id as NewAccountId makes them (either case).
bool IsAccountId(std::string_view text);

// Values of extension fields are percent-encoded: "%", ",", "=", control
// bytes and bytes outside ASCII become %XX, so a value never holds a comma
// or a NUL. Decoding leaves a "%" not followed by two hex digits as it is.
std::string EncodeFieldValue(std::string_view value);
std::string DecodeFieldValue(std::string_view encoded);

// The defaults of a new account with an empty name (what the readers start from).
Account DefaultAccount();
// A new account named "新しいアカウント" followed by tabCount in decimal:
// the defaults above plus POPDecodeMime and POPPipelining, POP3 over TLS on
// port 995 and SMTP認証 over STARTTLS on port 587 (the first-run account and
// every new tab).
Account NewAccount(int tabCount);

// The stored text form followed by one NUL byte; size() is the length
// including that NUL. The extension fields follow the EOD marker as
// ",name=value" tokens (the id first, then oauth, then otherFields); a record without
// an id or other fields ends at EOD as it always did. Older readers stop
// before EOD, and older programs read an entry through a 1,024-byte
// buffer: extension fields must keep the entry below that (the id takes 36
// bytes). Secrets never go here.
std::string FormatAccount(const Account& account);
// Reads the text form (up to its first NUL) over the defaults already in
// account. Never reads past text. Tokens after EOD are the extension
// fields: a valid "id=" sets id, every other token goes to otherFields.
void ParseAccount(std::string_view text, Account& account);
// Reads the binary form of older settings over the defaults already in
// account. Never reads past bytes.
void ParseLegacyAccount(std::string_view bytes, Account& account);
