#include "smtp/send_plan.h"

std::uint16_t DefaultSmtpPort(TSmtpSecurity security) {
    switch (security) {
        case TSmtpSecurity::Tls:
            return 465;
        case TSmtpSecurity::StartTls:
            return 587;
        case TSmtpSecurity::None:
            break;
    }
    return 25;
}

TSmtpPlan SmtpPlanFor(const Account& account) {
    const AccountOptions& s = account.smtpOptions;
    TSmtpPlan plan;
    plan.security = s.Test(SMTPUseTLS)        ? TSmtpSecurity::Tls
                    : s.Test(SMTPUseSTARTTLS) ? TSmtpSecurity::StartTls
                                              : TSmtpSecurity::None;
    plan.login = s.Test(SMTPAuthAUTH)  ? TSmtpLogin::Auth
                 : s.Test(SMTPAuthPbS) ? TSmtpLogin::PopBeforeSmtp
                                       : TSmtpLogin::None;
    if (plan.security == TSmtpSecurity::None && plan.login == TSmtpLogin::None) return plan;  // port 25
    plan.port = account.smtpPort >= 1 && account.smtpPort <= 65535 ? static_cast<std::uint16_t>(account.smtpPort)
                                                                   : DefaultSmtpPort(plan.security);
    return plan;
}
