#pragma once

#include "accounts/account.h"

#include <cstdint>
#include <span>

// Which option bit wins when a group's bits are not exclusive. The record
// enforces nothing, so every reader of a group asks here. Each list is in
// precedence order: the first bit that is set wins.
namespace option_rules {

inline constexpr int kPopEncryption[] = {POPUseTLS, POPUseSTLS};
inline constexpr int kPopLogin[] = {POPAuthOAuth2, POPAuthAuto, POPAuthAPOP, POPAuthBasic};
inline constexpr int kSmtpEncryption[] = {SMTPUseTLS, SMTPUseSTARTTLS};
inline constexpr int kSmtpLogin[] = {SMTPAuthOAuth2, SMTPAuthAUTH, SMTPAuthPbS, SMTPAuthNone};

// The first bit of the list that is set, or -1 when none is.
int WinningBit(const AccountOptions& options, std::span<const int> precedence);

}  // namespace option_rules

enum class Encryption {
    None,
    Tls,       // TLS from the first byte
    StartTls,  // an upgrade after the greeting (STLS, STARTTLS)
};

// How the POP3 login is chosen. Automatic picks APOP when the greeting
// carries a timestamp and USER/PASS otherwise; with no login bit set the
// login is USER/PASS. OAuth2 signs in with an access token (AUTH).
enum class PopLogin { UserPass, Apop, Automatic, OAuth2 };

enum class SmtpLogin {
    None,
    PopBeforeSmtp,  // a POP3 login to the account's POP3 server first
    Auth,           // EHLO and AUTH
    OAuth2,         // EHLO and AUTH with an OAuth2 access token
};

Encryption PopEncryptionOf(const AccountOptions& popOptions);
PopLogin PopLoginOf(const AccountOptions& popOptions);
Encryption SmtpEncryptionOf(const AccountOptions& smtpOptions);
SmtpLogin SmtpLoginOf(const AccountOptions& smtpOptions);

// The usual port of each encryption: 995 or 110 for POP3 (STLS upgrades
// on the plain port), 465, 587 or 25 for SMTP.
std::uint16_t UsualPopPort(Encryption encryption);
std::uint16_t UsualSmtpPort(Encryption encryption);
