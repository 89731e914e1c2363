#include "accounts/account.h"

#include "texts/texts.h"

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
    account.name = texts::Cp932(texts::accounts::kNewAccountName);
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
    account.popOptions.Set(POPMarkNew);
    account.popOptions.Set(POPApplyRules);
    account.id = NewAccountId();
    return account;
}
