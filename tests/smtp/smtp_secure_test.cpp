#include "platform/cp932.h"
#include "smtp/pop_login.h"
#include "smtp/send_plan.h"
#include "smtp/smtp.h"
#include "support/dovecot.h"
#include "support/script_server.h"
#include "support/smtp_sink.h"
#include "support/smtp_transcript.h"
#include "support/test_certificates.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A sink on a free loopback port; throws when it cannot start.
struct Sink : SmtpSink {
    explicit Sink(const std::vector<std::string>& options) : SmtpSink("127.0.0.1", 0, options) {
        if (!started()) throw std::runtime_error("sink: " + failure());
    }
    // Python's email package on message 1: "from|to|subject|body".
    std::string Parsed() const {
        const std::string command =
            "/usr/bin/python3 -c \"import email,email.policy,sys;"
            "m=email.message_from_bytes(open(sys.argv[1],'rb').read(),policy=email.policy.default);"
            "print(m['From'].addresses[0].addr_spec+'|'+str(m['To'])+'|'+str(m['Subject'])+'|'+"
            "m.get_content().strip())\" " +
            directory() + "/1.eml";
        std::string result;
        if (FILE* p = ::popen(command.c_str(), "r")) {
            char buffer[512];
            while (std::fgets(buffer, sizeof buffer, p)) result += buffer;
            ::pclose(p);
        }
        while (!result.empty() && result.back() == '\n') result.pop_back();
        return result;
    }
};

void Fill(TNMSMTP& smtp, int port, TSmtpSecurity security, bool authenticate) {
    smtp.Host = "localhost";
    smtp.Port = static_cast<std::uint16_t>(port);
    smtp.TimeOut = 30000;
    smtp.Security = security;
    smtp.Authenticate = authenticate;
    smtp.UserID = "taro";
    smtp.Password = "s3cret";
    smtp.PostMessage.FromAddress = "me@example.jp";
    smtp.PostMessage.ToAddress = {"you@example.jp"};
    smtp.PostMessage.Subject = "secure";
    smtp.PostMessage.Body = {"sent safely"};
}

TEST(SmtpSecure, RealServerReceivesTheMailOverStartTlsAndImplicitTlsWithTheRightMechanism) {
    const TestCertificates& certs = TrustedTestCertificates();
    struct Case {
        const char* name;
        std::vector<std::string> sink;
        TSmtpSecurity security;
        const char* mechanism;
    };
    const Case cases[] = {
        {"STARTTLS, PLAIN chosen first", {"--starttls"}, TSmtpSecurity::StartTls, "PLAIN"},
        {"TLS from the first byte, only LOGIN offered", {"--tls", "--exclude", "PLAIN"}, TSmtpSecurity::Tls, "LOGIN"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> options = c.sink;
        options.insert(options.end(),
                       {"--cert", certs.server.certificate, "--key", certs.server.key, "--login", "taro:s3cret"});
        Sink sink(options);
        TNMSMTP smtp;
        Fill(smtp, sink.port(), c.security, true);
        smtp.Connect();
        EXPECT_TRUE(smtp.Secure());
        EXPECT_EQ(smtp.AuthMechanism(), c.mechanism);
        smtp.SendMail();
        smtp.Disconnect();
        EXPECT_EQ(sink.File("1.auth"), std::string(c.mechanism) + " taro\n");
        EXPECT_EQ(sink.Parsed(), "me@example.jp|you@example.jp|secure|sent safely");
    }
}

// A transcript (support/smtp_transcript.h) where "C: *" takes any line.
struct Dialogue {
    const char* name;
    TSmtpSecurity security;
    std::vector<std::string> rows;
    const char* error;  // a part of the error text; nullptr: the send succeeds
};

const std::vector<std::string> kEnvelope = {"C: RSET",
                                            "S: 250 ok",
                                            "C: MAIL FROM:<me@example.jp>",
                                            "S: 250 ok",
                                            "C: RCPT TO:<you@example.jp>",
                                            "S: 250 ok",
                                            "C: DATA",
                                            "S: 354 go on",
                                            "C: <message>",
                                            "S: 250 queued",
                                            "C: QUIT",
                                            "S: 221 bye"};

std::vector<std::string> Then(std::vector<std::string> rows, const std::vector<std::string>& more) {
    rows.insert(rows.end(), more.begin(), more.end());
    return rows;
}

// Plays the dialogue against a send; the transcript once it has ended.
Transcript Converse(const Dialogue& d) {
    ScriptServer server;
    Transcript played;
    PlayTranscript(server, d.rows, played);
    TNMSMTP smtp;
    Fill(smtp, server.port(), d.security, true);
    std::string error;
    try {
        smtp.Connect();
        smtp.SendMail();
        smtp.Disconnect();
    } catch (const std::exception& e) {
        error = Cp932ToUtf8(e.what());
        smtp.CloseSocket();
    }
    server.Join();
    if (d.error)
        EXPECT_NE(error.find(d.error), std::string::npos) << error;
    else
        EXPECT_EQ(error, "");
    return played;
}

TEST(SmtpSecure, CramMd5SendsOnlyTheDigestAndRefusalsStopTheSendWithTheirMessageAndNoPasswordInClear) {
    // RFC 2195's example; the client here is taro/s3cret.
    const std::string stamp = "<1896.697170952@postoffice.reston.mci.net>";
    EXPECT_EQ(HmacMd5Hex("tanstaaftanstaaf", stamp), "b913a602c7eda7a495b4e6e7334d3890");
    const std::vector<std::string> greeting = {"S: 220 ready", "C: EHLO [127.0.0.1]"};
    const Dialogue dialogues[] = {
        {"CRAM-MD5 on a plain connection", TSmtpSecurity::None,
         Then(Then(greeting,
                   {"S: 250-hi", "S: 250 AUTH PLAIN LOGIN CRAM-MD5", "C: AUTH CRAM-MD5", "S: 334 " + Base64Line(stamp),
                    "C: " + Base64Line("taro " + HmacMd5Hex("s3cret", stamp)), "S: 235 ok"}),
              kEnvelope),
         nullptr},
        {"STARTTLS not offered", TSmtpSecurity::StartTls,
         Then(greeting, {"S: 250-hi", "S: 250 AUTH PLAIN LOGIN", "C: QUIT", "S: 221 bye"}),
         "STARTTLSを利用できませんでした\nthe server does not offer STARTTLS"},
        {"STARTTLS refused", TSmtpSecurity::StartTls,
         Then(greeting, {"S: 250-hi", "S: 250 STARTTLS", "C: STARTTLS", "S: 454 4.7.0 TLS not available", "C: QUIT",
                         "S: 221 bye"}),
         "STARTTLSを利用できませんでした\n454 4.7.0 TLS not available"},
        {"a line slipped in after the STARTTLS reply", TSmtpSecurity::StartTls,
         Then(greeting, {"S: 250-hi", "S: 250 STARTTLS", "C: STARTTLS", "S: 220 go ahead\r\n250 AUTH PLAIN"}),
         "the server sent data after its answer to STARTTLS"},
        {"AUTH refused with 535 after STARTTLS", TSmtpSecurity::StartTls,
         Then(greeting, {"S: 250-hi", "S: 250 STARTTLS", "C: STARTTLS", "S: 220 go ahead", "S: <tls>",
                         "C: EHLO [127.0.0.1]", "S: 250-hi", "S: 250 AUTH PLAIN", "C: *",
                         "S: 535 5.7.8 Authentication credentials invalid", "C: QUIT", "S: 221 bye"}),
         "SMTP認証に失敗しました\n535 5.7.8 Authentication credentials invalid"},
        {"only PLAIN and LOGIN on a plain connection", TSmtpSecurity::None,
         Then(greeting, {"S: 250-hi", "S: 250 AUTH PLAIN LOGIN", "C: QUIT", "S: 221 bye"}), "CRAM-MD5"},
        {"no AUTH at all", TSmtpSecurity::None, Then(greeting, {"S: 250 hi", "C: QUIT", "S: 221 bye"}),
         "the server does not offer AUTH"},
        {"the handshake fails: the server speaks plain text",
         TSmtpSecurity::Tls,
         {"S: 220 ready"},
         "暗号化通信を開始できませんでした"},
    };
    const std::string secrets[] = {"s3cret", Base64Line("s3cret"),
                                   Base64Line(std::string(1, '\0') + "taro" + '\0' + "s3cret")};
    for (const Dialogue& d : dialogues) {
        SCOPED_TRACE(d.name);
        const Transcript played = Converse(d);
        std::vector<std::string> expected = ClientLines(d.rows);
        for (std::size_t i = 0; i < expected.size() && i < played.received.size(); ++i)
            if (expected[i] == "*") expected[i] = played.received[i];
        EXPECT_EQ(played.received, expected);
        EXPECT_FALSE(played.handshakeFailed);
        for (const std::string& secret : secrets) EXPECT_EQ(played.wire.find(secret), std::string::npos) << played.wire;
    }
}

TEST(SmtpSecure, PopBeforeSmtpLogsInWithTheAccountsEncryptionAndMethodThenSends) {
    const TestCertificates& certs = TrustedTestCertificates();
    DovecotServer dovecot(certs.server.certificate, certs.server.key);
    Account account;
    account.popServer = "localhost";
    account.popUser = "user";
    struct Case {
        const char* name;
        int port;
        int encryption;  // -1 none
        int method;
        const char* password;
        const char* error;
    };
    const Case cases[] = {
        {"TLS, USER/PASS", dovecot.tlsPort(), POPUseTLS, POPAuthBasic, "pass", nullptr},
        {"STLS, automatic (APOP)", dovecot.port(), POPUseSTLS, POPAuthAuto, "pass", nullptr},
        {"plain, APOP", dovecot.port(), -1, POPAuthAPOP, "pass", nullptr},
        {"wrong password", dovecot.tlsPort(), POPUseTLS, POPAuthBasic, "wrong",
         "POP before SMTPのログインに失敗しました\n-ERR"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        account.popPort = c.port;
        account.popOptions = {};
        if (c.encryption >= 0) account.popOptions.Set(c.encryption);
        account.popOptions.Set(c.method);
        TPopLogin login(account, c.password);
        login.TimeOut = 30000;
        std::string error;
        try {
            login.Run();
        } catch (const std::exception& e) {
            error = Cp932ToUtf8(e.what());
        }
        if (c.error)
            EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
        else
            EXPECT_EQ(error, "");
        EXPECT_FALSE(login.Connected());
    }

    // Then the mail goes out through a plain server.
    Sink sink({});
    TNMSMTP smtp;
    Fill(smtp, sink.port(), TSmtpSecurity::None, false);
    smtp.Connect();
    smtp.SendMail();
    smtp.Disconnect();
    EXPECT_EQ(sink.Parsed(), "me@example.jp|you@example.jp|secure|sent safely");
}

TEST(SmtpPlan, PortAndMethodFollowTheOptionBits) {
    using S = TSmtpSecurity;
    using L = TSmtpLogin;
    const struct {
        std::vector<int> bits;
        int smtpPort;
        TSmtpPlan plan;
    } cases[] = {
        {{SMTPAuthNone, SMTPAutoSetting}, 2525, {25, S::None, L::None}},  // new bits clear: 25 whatever is stored
        {{SMTPAuthPbS}, 2525, {2525, S::None, L::PopBeforeSmtp}},
        {{SMTPAuthAUTH, SMTPAuthPbS}, 587, {587, S::None, L::Auth}},
        {{SMTPUseTLS, SMTPUseSTARTTLS}, 70000, {465, S::Tls, L::None}},
        {{SMTPUseSTARTTLS, SMTPAuthAUTH}, 0, {587, S::StartTls, L::Auth}},
    };
    for (const auto& c : cases) {
        Account account;
        account.smtpPort = c.smtpPort;
        for (int bit : c.bits) account.smtpOptions.Set(bit);
        const TSmtpPlan plan = SmtpPlanFor(account);
        EXPECT_TRUE(plan.port == c.plan.port && plan.security == c.plan.security && plan.login == c.plan.login)
            << c.bits.size() << " " << c.smtpPort;
    }
}

}  // namespace
