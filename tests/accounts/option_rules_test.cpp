#include "accounts/option_rules.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace {

AccountOptions With(std::initializer_list<int> bits) {
    AccountOptions options;
    for (int bit : bits) options.Set(bit);
    return options;
}

TEST(OptionRules, TheFirstSetBitOfEachListWins) {
    const struct {
        AccountOptions pop;
        Encryption popEncryption;
        PopLogin popLogin;
    } pop[] = {
        {With({}), Encryption::None, PopLogin::UserPass},
        {With({POPUseSTLS, POPAuthBasic}), Encryption::StartTls, PopLogin::UserPass},
        {With({POPUseTLS, POPUseSTLS, POPAuthAPOP, POPAuthBasic}), Encryption::Tls, PopLogin::Apop},
        {With({POPAuthAuto, POPAuthAPOP, POPAuthBasic}), Encryption::None, PopLogin::Automatic},
        {With({POPUseTLS, POPAuthOAuth2, POPAuthAuto, POPAuthAPOP, POPAuthBasic}), Encryption::Tls, PopLogin::OAuth2},
    };
    for (const auto& c : pop) {
        SCOPED_TRACE(c.pop.ToNumber());
        EXPECT_EQ(PopEncryptionOf(c.pop), c.popEncryption);
        EXPECT_EQ(PopLoginOf(c.pop), c.popLogin);
    }
    const struct {
        AccountOptions smtp;
        Encryption smtpEncryption;
        SmtpLogin smtpLogin;
    } smtp[] = {
        {With({SMTPAuthNone}), Encryption::None, SmtpLogin::None},
        {With({SMTPUseSTARTTLS, SMTPAuthPbS, SMTPAuthNone}), Encryption::StartTls, SmtpLogin::PopBeforeSmtp},
        {With({SMTPUseTLS, SMTPUseSTARTTLS, SMTPAuthAUTH, SMTPAuthPbS}), Encryption::Tls, SmtpLogin::Auth},
        {With({SMTPUseSTARTTLS, SMTPAuthOAuth2, SMTPAuthAUTH, SMTPAuthPbS}), Encryption::StartTls, SmtpLogin::OAuth2},
    };
    for (const auto& c : smtp) {
        SCOPED_TRACE(c.smtp.ToNumber());
        EXPECT_EQ(SmtpEncryptionOf(c.smtp), c.smtpEncryption);
        EXPECT_EQ(SmtpLoginOf(c.smtp), c.smtpLogin);
    }
    EXPECT_EQ(option_rules::WinningBit(With({20}), option_rules::kPopLogin), -1);
}

}  // namespace
