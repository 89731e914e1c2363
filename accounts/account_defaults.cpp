#include "accounts/account.h"

#include <string>

Account DefaultAccount() {
    Account account;
    account.popOptions.Set(POPAutoSetting);
    account.popOptions.Set(POPAuthAuto);
    account.popOptions.Set(POPUseTop);
    account.smtpOptions.Set(SMTPAutoSetting);
    account.smtpOptions.Set(SMTPAuthNone);
    account.smtpOptions.Set(SMTPUserAsPOP);
    return account;
}

Account NewAccount(int tabCount) {
    Account account = DefaultAccount();
    // "新しいアカウント" in Shift_JIS.
    account.name = "\x90\x56\x82\xb5\x82\xa2\x83\x41\x83\x4a\x83\x45\x83\x93\x83\x67";
    account.name += std::to_string(tabCount);
    // Accounts made in this version read today's MIME mail and pipeline where
    // the server allows it; stored accounts keep their own bits, so
    // DefaultAccount (where the readers start) stays as it was.
    account.popOptions.Set(POPDecodeMime);
    account.popOptions.Set(POPPipelining);
    // Encrypted from the start, so a user who types only a server name
    // never sends the password in clear.
    account.popOptions.Set(POPUseTLS);
    account.popPort = 995;
    account.smtpOptions.Set(SMTPUseSTARTTLS);
    account.smtpOptions.Clear(SMTPAuthNone);
    account.smtpOptions.Set(SMTPAuthAUTH);
    account.smtpPort = 587;
    account.popOptions.Set(POPLocalDates);
    account.id = NewAccountId();
    return account;
}
