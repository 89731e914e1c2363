#include "smtp/send_plan.h"

namespace {

TSmtpSecurity SecurityOf(Encryption encryption) {
    switch (encryption) {
        case Encryption::Tls:
            return TSmtpSecurity::Tls;
        case Encryption::StartTls:
            return TSmtpSecurity::StartTls;
        case Encryption::None:
            break;
    }
    return TSmtpSecurity::None;
}

}  // namespace

TSmtpPlan SmtpPlanFor(const Account& account) {
    const Encryption encryption = SmtpEncryptionOf(account.smtpOptions);
    TSmtpPlan plan;
    plan.security = SecurityOf(encryption);
    plan.login = SmtpLoginOf(account.smtpOptions);
    if (plan.security == TSmtpSecurity::None && plan.login == TSmtpLogin::None) return plan;  // port 25
    plan.port = account.smtpPort >= 1 && account.smtpPort <= 65535 ? static_cast<std::uint16_t>(account.smtpPort)
                                                                   : UsualSmtpPort(encryption);
    return plan;
}

std::uint16_t DefaultSmtpPort(TSmtpSecurity security) {
    return UsualSmtpPort(security == TSmtpSecurity::Tls        ? Encryption::Tls
                         : security == TSmtpSecurity::StartTls ? Encryption::StartTls
                                                               : Encryption::None);
}
