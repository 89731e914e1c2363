#pragma once

#include "accounts/account.h"
#include "accounts/option_rules.h"
#include "smtp/smtp.h"

#include <cstdint>

// How a send reaches the account's SMTP server (PopBeforeSmtp: a POP3
// login and QUIT to the account's POP3 server first).
using TSmtpLogin = SmtpLogin;

struct TSmtpPlan {
    std::uint16_t port = 25;
    TSmtpSecurity security = TSmtpSecurity::None;
    TSmtpLogin login = TSmtpLogin::None;
};

// The plan an account's smtpOptions ask for. An account with none of
// SMTPAuthPbS, SMTPAuthAUTH, SMTPUseTLS and SMTPUseSTARTTLS set sends to
// port 25 with HELO, whatever smtpPort holds; with any of them set the
// send goes to smtpPort (the encryption's usual port when smtpPort is
// outside 1-65535). Which bit wins is option_rules' (SMTPUseTLS over
// SMTPUseSTARTTLS, SMTPAuthAUTH over SMTPAuthPbS), as in the settings dialog.
TSmtpPlan SmtpPlanFor(const Account& account);

// The usual port of an encryption (465, 587 or 25), by the sender's name
// for it; UsualSmtpPort is the rule.
std::uint16_t DefaultSmtpPort(TSmtpSecurity security);
