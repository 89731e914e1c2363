#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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
    POPDecodeMime = 9,   // decode today's MIME mail (any charset, Q words, multipart)
    POPUseTLS = 10,      // TLS from the first byte
    POPUseSTLS = 11,     // STLS upgrade after the greeting; with POPUseTLS set, POPUseTLS wins
    POPPipelining = 12,  // pipeline TOP/RETR and DELE when the server offers PIPELINING
    POPLocalDates = 17,  // show Date in local time and sort the dates as points in time
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

    friend bool operator==(const Account&, const Account&) = default;
};

// The defaults of a new account with an empty name (what the readers start from).
Account DefaultAccount();
// A new account named "新しいアカウント" followed by tabCount in decimal:
// the defaults above plus POPDecodeMime (the first-run account and every new tab).
Account NewAccount(int tabCount);

// The stored text form followed by one NUL byte; size() is the length
// including that NUL.
std::string FormatAccount(const Account& account);
// Reads the text form (up to its first NUL) over the defaults already in
// account. Never reads past text.
void ParseAccount(std::string_view text, Account& account);
// Reads the binary form of older settings over the defaults already in
// account. Never reads past bytes.
void ParseLegacyAccount(std::string_view bytes, Account& account);
