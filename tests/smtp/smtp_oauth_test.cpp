// Submission with an OAuth2 access token through aiosmtpd, whose
// authenticator takes only the tokens it was given.

#include "smtp/smtp.h"
#include "support/smtp_sink.h"
#include "support/test_certificates.h"
#include "texts/texts.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

TEST(SmtpOAuth, AiosmtpdTakesTheTokenRefreshesOnceAndRefusesTwice) {
    const TestCertificates& certs = TrustedTestCertificates();
    const std::string longToken(600, 'L');  // no room on a 512-octet AUTH line
    struct Case {
        const char* name;
        TSmtpSecurity security;
        std::vector<std::string> mechanisms;
        std::vector<std::string> tokens;  // handed out in order
        const char* mechanism;            // what the sink recorded; nullptr: refused
        std::vector<bool> refreshes;
        const char* error;  // a part of the error text
    };
    const Case cases[] = {
        {"XOAUTH2 over STARTTLS", TSmtpSecurity::StartTls, {"XOAUTH2"}, {"good"}, "XOAUTH2", {false}, nullptr},
        {"OAUTHBEARER over TLS",
         TSmtpSecurity::Tls,
         {"OAUTHBEARER", "XOAUTH2"},
         {"good"},
         "OAUTHBEARER",
         {false},
         nullptr},
        {"refreshed once", TSmtpSecurity::StartTls, {"XOAUTH2"}, {"old", "good"}, "XOAUTH2", {false, true}, nullptr},
        {"long token after 334", TSmtpSecurity::Tls, {"XOAUTH2"}, {longToken}, "XOAUTH2", {false}, nullptr},
        {"refused twice",
         TSmtpSecurity::StartTls,
         {"OAUTHBEARER"},
         {"old", "older"},
         nullptr,
         {false, true},
         "status: invalid_token"},
        {"no TLS", TSmtpSecurity::None, {"XOAUTH2"}, {"good"}, nullptr, {}, ""},
        {"not offered", TSmtpSecurity::Tls, {"PLAIN"}, {"good"}, nullptr, {false}, "OAUTHBEARER"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> options = {c.security == TSmtpSecurity::Tls ? "--tls" : "--starttls",
                                            "--cert",
                                            certs.server.certificate,
                                            "--key",
                                            certs.server.key,
                                            "--oauth",
                                            "good:taro@example.jp",
                                            "--oauth",
                                            longToken + ":taro@example.jp"};
        SmtpSink sink("127.0.0.1", 0, options);
        ASSERT_TRUE(sink.started()) << sink.failure();
        TNMSMTP smtp;
        smtp.Host = "localhost";
        smtp.Port = static_cast<std::uint16_t>(sink.port());
        smtp.TimeOut = 30000;
        smtp.Security = c.security;
        smtp.OAuth2 = true;
        smtp.Authenticate = true;  // OAuth2 wins
        smtp.Password = "never-sent";
        smtp.OAuthMechanisms = c.mechanisms;
        smtp.UserID = "taro@example.jp";
        std::vector<bool> refreshes;
        int signInsNeeded = 0;
        smtp.OnOAuthToken = [&](bool refresh, std::string& token, std::string& error) {
            refreshes.push_back(refresh);
            if (refreshes.size() > c.tokens.size()) {
                error = "none left";
                return false;
            }
            token = c.tokens[refreshes.size() - 1];
            return true;
        };
        smtp.OnOAuthSignInNeeded = [&] { ++signInsNeeded; };
        smtp.PostMessage.FromAddress = "taro@example.jp";
        smtp.PostMessage.ToAddress = {"hanako@example.jp"};
        smtp.PostMessage.Subject = "oauth";
        smtp.PostMessage.Body = {"signed in"};
        std::string error;
        try {
            smtp.Connect();
            smtp.SendMail();
            smtp.Disconnect();
        } catch (const std::exception& e) {
            error = e.what();
            smtp.CloseSocket();
        }
        EXPECT_EQ(refreshes, c.refreshes);
        for (const std::string& token : c.tokens) EXPECT_EQ(error.find(token), std::string::npos) << error;
        if (c.mechanism) {
            EXPECT_EQ(error, "");
            EXPECT_EQ(smtp.AuthMechanism(), c.mechanism);
            EXPECT_EQ(sink.File("1.auth"), std::string(c.mechanism) + " taro@example.jp\n");
            EXPECT_NE(sink.File("1.eml").find("signed in"), std::string::npos);
        } else {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            if (c.refreshes.empty()) {
                EXPECT_EQ(error, texts::Cp932(texts::oauth::kTlsOnly));
            }
            EXPECT_EQ(sink.File("1.eml"), "");
            EXPECT_EQ(signInsNeeded, std::string(c.name) == "refused twice" ? 1 : 0);
        }
    }
}

}  // namespace
