#pragma once

#include "accounts/account.h"
#include "smtp/smtp.h"

#include <cstdint>

// How a send reaches the account's SMTP server.
enum class TSmtpLogin {
    None,
    PopBeforeSmtp,  // a POP3 login (and QUIT) to the account's POP3 server first
    Auth,           // EHLO and AUTH
};

struct TSmtpPlan {
    std::uint16_t port = 25;
    TSmtpSecurity security = TSmtpSecurity::None;
    TSmtpLogin login = TSmtpLogin::None;
};

// The plan an account's smtpOptions ask for. An account with none of
// SMTPAuthPbS, SMTPAuthAUTH, SMTPUseTLS and SMTPUseSTARTTLS set sends to
// port 25 with HELO, whatever smtpPort holds; with any of them set the
// send goes to smtpPort (the encryption's usual port when smtpPort is
// outside 1-65535). SMTPUseTLS wins over SMTPUseSTARTTLS, and SMTPAuthAUTH
// over SMTPAuthPbS, as in the settings dialog.
TSmtpPlan SmtpPlanFor(const Account& account);

// The usual port of an encryption: 465, 587 or 25.
std::uint16_t DefaultSmtpPort(TSmtpSecurity security);
