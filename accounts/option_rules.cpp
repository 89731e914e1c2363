#include "accounts/option_rules.h"

int option_rules::WinningBit(const AccountOptions& options, std::span<const int> precedence) {
    for (int bit : precedence) {
        if (options.Test(bit)) return bit;
    }
    return -1;
}

namespace {

Encryption EncryptionOf(int bit, int tls, int startTls) {
    if (bit == tls) return Encryption::Tls;
    if (bit == startTls) return Encryption::StartTls;
    return Encryption::None;
}

}  // namespace

Encryption PopEncryptionOf(const AccountOptions& popOptions) {
    return EncryptionOf(option_rules::WinningBit(popOptions, option_rules::kPopEncryption), POPUseTLS, POPUseSTLS);
}

Encryption SmtpEncryptionOf(const AccountOptions& smtpOptions) {
    return EncryptionOf(option_rules::WinningBit(smtpOptions, option_rules::kSmtpEncryption), SMTPUseTLS,
                        SMTPUseSTARTTLS);
}

PopLogin PopLoginOf(const AccountOptions& popOptions) {
    switch (option_rules::WinningBit(popOptions, option_rules::kPopLogin)) {
        case POPAuthOAuth2:
            return PopLogin::OAuth2;
        case POPAuthAuto:
            return PopLogin::Automatic;
        case POPAuthAPOP:
            return PopLogin::Apop;
        default:
            return PopLogin::UserPass;
    }
}

SmtpLogin SmtpLoginOf(const AccountOptions& smtpOptions) {
    switch (option_rules::WinningBit(smtpOptions, option_rules::kSmtpLogin)) {
        case SMTPAuthOAuth2:
            return SmtpLogin::OAuth2;
        case SMTPAuthAUTH:
            return SmtpLogin::Auth;
        case SMTPAuthPbS:
            return SmtpLogin::PopBeforeSmtp;
        default:
            return SmtpLogin::None;
    }
}

std::uint16_t UsualPopPort(Encryption encryption) {
    return encryption == Encryption::Tls ? 995 : 110;
}

std::uint16_t UsualSmtpPort(Encryption encryption) {
    switch (encryption) {
        case Encryption::Tls:
            return 465;
        case Encryption::StartTls:
            return 587;
        case Encryption::None:
            break;
    }
    return 25;
}
