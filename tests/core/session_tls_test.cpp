// Secure POP3: TLS from the first byte and the STLS upgrade, against a real
// Dovecot with TLS and against scripted servers for the refusals. Only the
// test's own throw-away CA is trusted.

#include "core/pop3_session.h"
#include "core/task_queue.h"
#include "live_session_support.h"
#include "session_script_support.h"
#include "support/dovecot.h"
#include "support/recording_owner.h"
#include "support/test_certificates.h"
#include "texts/texts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;

DovecotServer& TlsDovecot() {
    static DovecotServer server(TrustedTestCertificates().server.certificate, TrustedTestCertificates().server.key);
    return server;
}

class SessionTls : public ::testing::Test, protected LiveSession {};

TEST_F(SessionTls, DovecotLoginsOverTlsAndStlsWithUserPassAndApop) {
    struct Case {
        const char* user;
        const char* host;  // a name is checked and sent as SNI; an address is checked against the IP entry
        bool stls;
        std::initializer_list<int> bits;
        bool apop;
    };
    const Case cases[] = {
        {"user50", "127.0.0.1", false, {POPUseTLS, POPAuthBasic}, false},
        {"user51", "localhost", false, {POPUseTLS, POPAuthAuto}, true},
        {"user52", "localhost", true, {POPUseSTLS, POPAuthBasic}, false},
        {"user53", "127.0.0.1", true, {POPUseSTLS, POPAuthAPOP}, true},
        // Both bits: TLS from the first byte.
        {"user54", "127.0.0.1", false, {POPUseTLS, POPUseSTLS, POPAuthBasic}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.user);
        TlsDovecot().ClearMailbox(c.user);
        TlsDovecot().AddMessage(c.user, AsciiMessage(1));
        TlsDovecot().AddMessage(c.user, AsciiMessage(2));
        Configure(c.user, c.host, c.stls ? TlsDovecot().port() : TlsDovecot().tlsPort(), c.bits);
        ConnectToReady();
        EXPECT_EQ(owner.rows.size(), 2u);

        // One log entry for the handshake: version, cipher, subject, expiry.
        int tlsEntries = 0;
        std::size_t tlsAt = 0;
        for (std::size_t i = 0; i < owner.log.size(); ++i) {
            if (!owner.log[i].starts_with("TLS: ")) continue;
            ++tlsEntries;
            tlsAt = i;
            EXPECT_TRUE(owner.log[i].starts_with("TLS: TLSv1.")) << owner.log[i];
            EXPECT_NE(owner.log[i].find("subject CN=server"), std::string::npos) << owner.log[i];
            EXPECT_NE(owner.log[i].find("valid until 20"), std::string::npos) << owner.log[i];
        }
        EXPECT_EQ(tlsEntries, 1);
        std::vector<std::string> sent = owner.SentLines();
        ASSERT_GE(sent.size(), 2u);
        if (c.stls) {
            // Greeting, STLS, its answer, then the handshake and the login.
            EXPECT_TRUE(owner.log[0].starts_with("+OK ")) << owner.log[0];
            EXPECT_EQ(owner.log[1], "STLS\r\n");
            EXPECT_EQ(tlsAt, 3u);
            EXPECT_EQ(sent[0], "STLS\r\n");
            sent.erase(sent.begin());
        } else {
            EXPECT_EQ(tlsAt, 0u);
        }
        if (c.apop) {
            EXPECT_TRUE(sent[0].starts_with(std::string("APOP ") + c.user + " ")) << sent[0];
        } else {
            EXPECT_EQ(sent[0], std::string("USER ") + c.user + "\r\n");
            EXPECT_EQ(sent[1], "PASS ********");
        }
        Disconnect();
        for (const std::string& entry : owner.log) EXPECT_EQ(entry.find("PASS pass"), std::string::npos);
    }
}

TEST_F(SessionTls, ThirtyJapaneseMessagesListTheSameOverTlsAsOverPlain) {
    std::vector<JapaneseMessage> messages = JapaneseMessages(30);
    ASSERT_EQ(messages.size(), 30u);
    TlsDovecot().ClearMailbox("user55");
    for (const JapaneseMessage& m : messages) TlsDovecot().AddMessage("user55", m.text);

    auto list = [&](int port, std::initializer_list<int> bits) {
        Configure("user55", "127.0.0.1", port, bits);
        ConnectToReady();
        std::vector<MailEntry> rows = owner.rows;
        Disconnect();
        return rows;
    };
    std::vector<MailEntry> plain = list(TlsDovecot().port(), {POPAuthBasic, POPReadHeader, POPUseTop});
    std::vector<MailEntry> tls = list(TlsDovecot().tlsPort(), {POPUseTLS, POPAuthBasic, POPReadHeader, POPUseTop});
    ASSERT_EQ(plain.size(), 30u);
    ASSERT_EQ(tls.size(), 30u);
    for (std::size_t i = 0; i < plain.size(); ++i) {
        EXPECT_EQ(tls[i].number, plain[i].number);
        EXPECT_EQ(tls[i].subItems, plain[i].subItems);
    }
    // The subject was decoded to Shift_JIS: 会 is 0x89 0xEF.
    ASSERT_EQ(tls[0].subItems.size(), 4u);
    EXPECT_TRUE(tls[0].subItems[2].starts_with("\x89\xef")) << tls[0].subItems[2];
}

// The refusals, against scripted servers that record every byte the client
// sends: each ends with its message box and the reason on a second line,
// and neither the login nor the password ever crosses the wire.
class SessionTlsRefusal : public SessionScript {};

TEST_F(SessionTlsRefusal, EveryRefusalShowsItsReasonAndNothingOfTheLoginIsSent) {
    const TestCertificates& certs = TrustedTestCertificates();
    enum class Mode { Tls, Stls };
    struct Case {
        const char* name;
        Mode mode;
        const char* host;
        std::function<void(ScriptPeer&)> serve;  // after the greeting and STLS for Stls
        std::string_view message;
        const char* reason;  // a part of the second line
    };
    auto tlsWith = [](TestCertificates::Pair pair, bool onlyTls10 = false) {
        return [pair, onlyTls10](ScriptPeer& peer) {
            if (peer.AcceptTls(ScriptTls{pair.certificate, pair.key, onlyTls10})) peer.Send("+OK over TLS\r\n");
            peer.ReadRawUntilClose();
        };
    };
    using namespace texts::connection;
    const Case cases[] = {
        {"untrusted CA", Mode::Tls, "127.0.0.1", tlsWith(certs.untrusted), kCertificateFailed,
         "unable to get local issuer certificate"},
        {"expired", Mode::Tls, "localhost", tlsWith(certs.expired), kCertificateFailed, "certificate has expired"},
        {"address mismatch", Mode::Tls, "127.0.0.1", tlsWith(certs.otherName), kCertificateFailed,
         "IP address mismatch"},
        {"name mismatch", Mode::Stls, "localhost", tlsWith(certs.otherName), kCertificateFailed, "hostname mismatch"},
        {"TLS 1.0 only", Mode::Tls, "127.0.0.1", tlsWith(certs.server, true), kTlsFailed, "protocol"},
        {"cut mid-handshake", Mode::Tls, "127.0.0.1",
         [](ScriptPeer& peer) {
             peer.Pause(100ms);  // the ClientHello is in; then the server goes
             peer.Close();
         },
         kTlsFailed, ""},
        {"plain server", Mode::Tls, "127.0.0.1",
         [](ScriptPeer& peer) {
             peer.Send("+OK plain POP3 server\r\n");
             peer.ReadRawUntilClose();
         },
         kTlsFailed, ""},
        {"STLS refused", Mode::Stls, "127.0.0.1", nullptr, kStartTlsFailed, "-ERR not here"},
        {"line with the answer", Mode::Stls, "127.0.0.1", nullptr, kStartTlsFailed, "after its answer"},
        {"line after the answer", Mode::Stls, "127.0.0.1", nullptr, kStartTlsFailed, "after its answer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Restart({c.mode == Mode::Tls ? POPUseTLS : POPUseSTLS, POPAuthBasic});
        owner.account.popServer = c.host;
        owner.account.popPassword = "never-on-the-wire";
        std::string wire;
        std::string name = c.name;
        auto serve = c.serve;
        server.Serve([&wire, name, serve, mode = c.mode](ScriptPeer& peer) {
            if (mode == Mode::Stls) {
                peer.Send("+OK ready <1.2@example>\r\n");
                if (peer.ReadLine() != "STLS") return;
                if (name == "STLS refused")
                    peer.Send("-ERR not here\r\n");
                else if (name == "line with the answer")
                    peer.Send("+OK go ahead\r\n+OK extra\r\n");
                else if (name == "line after the answer") {
                    peer.Send("+OK go ahead\r\n");
                    peer.Send("+OK extra\r\n");
                } else
                    peer.Send("+OK go ahead\r\n");
            }
            if (serve)
                serve(peer);
            else
                peer.ReadRawUntilClose();
            wire = peer.Wire();
        });
        session->ConnectButtonClick();
        ASSERT_TRUE(queue.RunUntil([&] { return !owner.messages.empty(); }, 30s))
            << ::testing::PrintToString(owner.log);
        ASSERT_TRUE(RunUntilIdle());
        server.Join();
        ASSERT_EQ(owner.messages.size(), 1u);
        EXPECT_TRUE(owner.messages[0].starts_with(texts::Cp932(c.message) + "\n")) << owner.messages[0];
        EXPECT_NE(owner.messages[0].find(c.reason), std::string::npos) << owner.messages[0];
        EXPECT_GT(owner.messages[0].size(), texts::Cp932(c.message).size() + 1) << "the reason is missing";
        EXPECT_EQ(wire.find("never-on-the-wire"), std::string::npos);
        EXPECT_EQ(wire.find("USER"), std::string::npos);
        EXPECT_EQ(wire.find("PASS"), std::string::npos);
        EXPECT_EQ(c.mode == Mode::Stls, wire.starts_with("STLS\r\n")) << wire.substr(0, 10);
        for (const std::string& line : owner.SentLines()) EXPECT_TRUE(line == "STLS\r\n") << line;
        EXPECT_TRUE(owner.buttons.connect);
    }
}

// The handshake is timed like a reply, Disconnect during it closes at once,
// and a TLS connection cut without its closing alert reads as a failed read
// while one ended with the alert reads as closed.
TEST_F(SessionTlsRefusal, HandshakeTimeOutDisconnectAndCutConnections) {
    TrustedTestCertificates();

    // A server that never answers the ClientHello: the time-out ends it.
    Restart({POPUseTLS, POPAuthBasic}, 400ms);
    server.Serve([](ScriptPeer& peer) { peer.ReadRawUntilClose(); });
    session->ConnectButtonClick();
    ASSERT_TRUE(queue.RunUntil([&] { return !owner.messages.empty(); }, 30s));
    EXPECT_EQ(owner.messages[0], texts::Cp932(texts::connection::kTlsFailed) + "\nTimed out.");
    ASSERT_TRUE(RunUntilIdle());
    server.Join();

    // The same server; Disconnect while the handshake waits.
    Restart({POPUseTLS, POPAuthBasic});
    bool serverSawClose = false;
    std::atomic<bool> accepted{false};
    server.Serve([&](ScriptPeer& peer) {
        accepted = true;
        serverSawClose = peer.WaitForClose();
    });
    session->ConnectButtonClick();
    ASSERT_TRUE(queue.RunUntil([&] { return accepted.load(); }, 10s));
    ASSERT_TRUE(owner.buttons.disconnect);
    session->DisconnectButtonClick();
    EXPECT_EQ(session->State(), SessionState::Idle);
    EXPECT_TRUE(owner.buttons.connect);
    ASSERT_TRUE(RunUntilIdle(5s));
    server.Join();
    EXPECT_TRUE(serverSawClose);
    EXPECT_TRUE(owner.messages.empty());
    EXPECT_TRUE(owner.SentLines().empty());

    // Secured, then cut after USER: without the closing alert it is an error
    // (rows kept), with it the server closed (rows removed).
    const TestCertificates& certs = TrustedTestCertificates();
    for (bool alert : {false, true}) {
        SCOPED_TRACE(alert ? "with the closing alert" : "cut");
        Restart({POPUseTLS, POPAuthBasic});
        server.Serve([&](ScriptPeer& peer) {
            if (!peer.AcceptTls(ScriptTls{certs.server.certificate, certs.server.key})) return;
            peer.Send("+OK hello\r\n");
            if (peer.ReadLine() != "USER alice") return;
            if (alert) peer.CloseTls();
            peer.Close();
        });
        session->ConnectButtonClick();
        ASSERT_TRUE(RunUntilIdle());
        server.Join();
        EXPECT_TRUE(owner.messages.empty());
        ASSERT_GE(owner.log.size(), 2u);
        std::vector<std::string> tail(owner.log.end() - (alert ? 1 : 2), owner.log.end());
        std::vector<std::string> expected = {"Error.", "Disconnected."};
        if (alert) expected = {"Disconnected."};
        EXPECT_EQ(tail, expected);
    }
}

// Closing at any moment of a TLS connection is safe (run under the sanitizers).
TEST(ServerConnectionTls, CloseAtAnyMomentIsSafe) {
    TrustedTestCertificates();
    for (int i = 0; i < 24; ++i) {
        TaskQueue queue;
        ServerConnection connection(queue.Dispatcher(), 5s);
        // Whatever the moment, the owner's last report is the empty error
        // of the close.
        std::pair<ConnectionEvent, std::string> last{ConnectionEvent::Sent, "none yet"};
        connection.SetOwner(
            [](void* seen, ConnectionEvent event, const std::string& text) {
                *static_cast<std::pair<ConnectionEvent, std::string>*>(seen) = {event, text};
            },
            &last);
        connection.SetTerminator("\r\n");
        ASSERT_TRUE(connection.Open("127.0.0.1", TlsDovecot().tlsPort(), ServerConnection::Security::Tls));
        queue.RunUntil([] { return false; }, std::chrono::milliseconds(i % 8 * 3));
        if (i % 3 == 0) connection.Send("CAPA\r\n");
        connection.Close();
        EXPECT_FALSE(connection.IsOpen()) << "round " << i;
        const std::pair<ConnectionEvent, std::string> closed{ConnectionEvent::Error, ""};
        ASSERT_TRUE(queue.RunUntil([&] { return last == closed; }, 10s)) << "round " << i;
        queue.RunUntil([] { return false; }, 20ms);  // nothing may follow it
        EXPECT_EQ(last, closed) << "round " << i;
    }
}

}  // namespace
