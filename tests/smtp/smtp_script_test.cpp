#include "platform/cp932.h"
#include "smtp/address_list.h"
#include "smtp/smtp.h"
#include "support/smtp_transcript.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// One scripted conversation and how the send ends.
struct Conversation {
    const char* name;
    std::vector<const char*> to, bcc, body;
    std::vector<std::string> transcript;
    const char* error;  // UTF-8; nullptr: Connect, SendMail and Disconnect succeed
    bool leftOpen = false;
    const char* from = "me@example.jp";
};

// A greeting of 18 continuation lines of 60006 bytes each: 1080108 bytes,
// past the limit before its last line.
std::string OversizeGreeting() {
    std::string rows;
    for (int i = 0; i < 18; ++i) rows += (i ? "\r\n220-" : "220-") + std::string(60000, 'x');
    return "S: " + rows;
}

// What the client sends for the default message, after DATA's 354.
const std::vector<std::string> kMessage = {"C: From: <me@example.jp>",
                                           "C: To: you@example.jp",
                                           "C: Subject: hi",
                                           "C: Mime-Version: 1.0",
                                           "C: Content-Type: text/plain; charset=us-ascii",
                                           "C: ",
                                           "C: ",
                                           "C: body",
                                           "C: ."};

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

const std::vector<std::string> kGreeted = {"S: 220 ready", "C: HELO me", "S: 250 hello"};
const std::vector<std::string> kEnvelope = {
    "C: RSET", "S: 250 ok",   "C: MAIL FROM:<me@example.jp>", "S: 250 ok", "C: RCPT TO:<you@example.jp>", "S: 250 ok",
    "C: DATA", "S: 354 go on"};

const Conversation kConversations[] = {
    {"greeting 554: the line is the error, QUIT is sent",
     {},
     {},
     {},
     {"S: 554 no service", "C: QUIT", "S: 221 bye"},
     "554 no service\r\n"},
    {"greeting 554 and QUIT fails: the greeting stays the error",
     {},
     {},
     {},
     {"S: 554 busy", "C: QUIT", "S: <close>"},
     "554 busy\r\n"},
    {"multi-line greeting and HELO replies are read to their last line",
     {},
     {},
     {},
     Concat({{"S: 220-first", "S: 220 last", "C: HELO me", "S: 250-hello", "S:  continued", "S: 250 done"},
             kEnvelope,
             kMessage,
             {"S: 250 queued", "C: QUIT", "S: 221 bye"}}),
     nullptr},
    {"HELO refused with 501",
     {},
     {},
     {},
     {"S: 220 ready", "C: HELO me", "S: 501 who are you", "C: QUIT", "S: 221 bye"},
     "Authentication failed"},
    {"a refused recipient (multi-line 550): RSET, no DATA, the refusal is the error",
     {"Nobody <nobody@example.jp>", "you@example.jp"},
     {},
     {},
     Concat({kGreeted,
             {"C: RSET", "S: 250 ok", "C: MAIL FROM:<me@example.jp>", "S: 250 ok", "C: RCPT TO:<nobody@example.jp>",
              "S: 550-no such user", "S: 550 really", "C: RSET", "S: 250 ok"}}),
     "サーバーがあて先 <nobody@example.jp> を受け付けませんでした\n550 really",
     true},
    {"451 to the second recipient: RSET, whose failure does not hide the refusal",
     {"you@example.jp", "later@example.jp"},
     {},
     {},
     Concat({kGreeted,
             {"C: RSET", "S: 250 ok", "C: MAIL FROM:<me@example.jp>", "S: 250 ok", "C: RCPT TO:<you@example.jp>",
              "S: 250 ok", "C: RCPT TO:<later@example.jp>", "S: 451 <b>try</b> later", "C: RSET", "S: <close>"}}),
     "サーバーがあて先 <later@example.jp> を受け付けませんでした\n451 <b>try</b> later"},
    {"a line break in the sender: refused before RSET, nothing written",
     {},
     {},
     {},
     kGreeted,
     "CR, LF or NUL in the sender address",
     true,
     "me@example.jp>\r\nRCPT TO:<someone@elsewhere"},
    {"a line break in a display name that is no fold: refused before RSET",
     {"Evil\r\nBcc: <x@elsewhere>"},
     {},
     {},
     kGreeted,
     "CR, LF or NUL in a header line",
     true},
    {"line breaks inside a body entry become lines of their own, dots stuffed",
     {},
     {},
     {"ok\r\n.\r\nMAIL FROM:<x>\n.end"},
     Concat({kGreeted,
             kEnvelope,
             {"C: From: <me@example.jp>", "C: To: you@example.jp", "C: Subject: hi", "C: Mime-Version: 1.0",
              "C: Content-Type: text/plain; charset=us-ascii", "C: ", "C: ", "C: ok", "C: ..", "C: MAIL FROM:<x>",
              "C: ..end", "C: .", "S: 250 queued", "C: QUIT", "S: 221 bye"}}),
     nullptr},
    {"a reply over 1 MB: the read stops, the socket is closed, no QUIT",
     {},
     {},
     {},
     {OversizeGreeting()},
     "サーバーの応答が大きすぎます（1080108 バイト）"},
    {"recipients, dot stuffing and the blank lines after the header",
     {"Taro <taro@example.jp>", "<>", "plain@example.jp"},
     {"hidden@example.jp"},
     {".", ".hidden", "a.b", ""},
     Concat({kGreeted,
             {"C: RSET",
              "S: 250 ok",
              "C: MAIL FROM:<me@example.jp>",
              "S: 250 ok",
              "C: RCPT TO:<taro@example.jp>",
              "S: 250 ok",
              "C: RCPT TO:<plain@example.jp>",
              "S: 250 ok",
              "C: RCPT TO:<hidden@example.jp>",
              "S: 250 ok",
              "C: DATA",
              "S: 354 go on",
              "C: From: <me@example.jp>",
              "C: To: Taro <taro@example.jp>,<>,plain@example.jp",
              "C: Subject: hi",
              "C: Mime-Version: 1.0",
              "C: Content-Type: text/plain; charset=us-ascii",
              "C: ",
              "C: ",
              "C: ..",
              "C: ..hidden",
              "C: a.b",
              "C: ",
              "C: .",
              "S: 250 queued",
              "C: QUIT",
              "S: 221 bye"}}),
     nullptr},
    {"closed right after connect", {}, {}, {}, {"S: <close>"}, "Connection closed by server"},
    {"closed before the reply to the final dot",
     {},
     {},
     {},
     Concat({kGreeted, kEnvelope, kMessage, {"S: <close>"}}),
     "Connection closed by server"},
    {"QUIT answered 500: an error, and the socket is closed",
     {},
     {},
     {},
     Concat({kGreeted, kEnvelope, kMessage, {"S: 250 queued", "C: QUIT", "S: 500 what"}}),
     "500 what\r\n"},
    {"a reply without a code", {}, {}, {}, Concat({kGreeted, {"C: RSET", "S: hello there"}}), "hello there\r\n", true},
};

class SmtpScript : public ::testing::Test {
protected:
    void Prepare(TNMSMTP& client) {
        client.Host = "127.0.0.1";
        client.Port = static_cast<std::uint16_t>(server.port());
        client.UserID = "me";
        client.PostMessage.FromAddress = "me@example.jp";
        client.PostMessage.Subject = "hi";
        client.PostMessage.ToAddress = {"you@example.jp"};
        client.PostMessage.Body = {"body"};
    }

    void Play(std::vector<std::string> rows) { PlayTranscript(server, std::move(rows), played); }

    ScriptServer server;
    Transcript played;
};

// Played on the in-memory stream: every read gets exactly one row.
TEST_F(SmtpScript, ConversationsEndInTheirErrorOrSuccessAndTheSocketClosed) {
    for (const Conversation& c : kConversations) {
        SCOPED_TRACE(c.name);
        std::string outcome = "success";
        TranscriptPlayer player(c.transcript);
        {
            TNMSMTP client;
            Prepare(client);
            client.StreamSource = [&player](const std::string&, std::uint16_t) { return player.Stream(); };
            client.PostMessage.FromAddress = c.from;
            if (!c.to.empty()) client.PostMessage.ToAddress.assign(c.to.begin(), c.to.end());
            client.PostMessage.ToBlindCarbonCopy.assign(c.bcc.begin(), c.bcc.end());
            if (!c.body.empty()) client.PostMessage.Body.assign(c.body.begin(), c.body.end());
            try {
                client.Connect();
                client.SendMail();
                client.Disconnect();
            } catch (const std::exception& e) {
                outcome = Cp932ToUtf8(e.what());
                // A refusal inside SendMail leaves the connection to the caller.
                EXPECT_EQ(client.Connected(), c.leftOpen);
                client.CloseSocket();
            }
            EXPECT_FALSE(client.Busy());
        }
        EXPECT_EQ(outcome, c.error ? c.error : "success");
        EXPECT_EQ(player.Received(), ClientLines(c.transcript));
        EXPECT_TRUE(player.ClientClosed());
        EXPECT_TRUE(player.Finished());
    }
}

TEST_F(SmtpScript, WritelnRefusesLineBreaksAndNulWithoutWritingAnything) {
    Play({"S: 220 ready"});
    TPowersock sock;
    sock.Host = "127.0.0.1";
    sock.Port = static_cast<std::uint16_t>(server.port());
    sock.Connect();
    const std::vector<std::string> lines = {"HELO a\r\nRSET", "HELO a\n", "HELO a\r", std::string("HELO a\0b", 8)};
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        EXPECT_THROW(sock.Writeln(line), ESockError);
    }
    sock.Disconnect();
    server.Join();
    EXPECT_EQ(played.wire, "");
}

TEST(SplitAddressList, PiecesAtLineBreaksAndBareCommas) {
    struct Case {
        const char* text;
        std::vector<std::string> addresses;
    } const cases[] = {
        {"\"Taro, Yamada\" <taro@example.jp>, jiro@example.jp",
         {"\"Taro, Yamada\" <taro@example.jp>", "jiro@example.jp"}},
        {"a@x\r\nb@y\nc@z\rd@w", {"a@x", "b@y", "c@z", "d@w"}},
        {" , ,\n\t,", {}},
        {"<odd,route@x>, c@x", {"<odd,route@x>", "c@x"}},
        {"\"a\\\", b\" <q@x>,d@x", {"\"a\\\", b\" <q@x>", "d@x"}},
        {"\"unclosed, x\nb@y", {"\"unclosed, x", "b@y"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(SplitAddressList(c.text), c.addresses);
    }
}

TEST_F(SmtpScript, SilentServerEndsTheReadAfterTheTimeLimitWithoutQuit) {
    Play({"S: 220 ready", "C: HELO me"});
    TNMSMTP client;
    Prepare(client);
    client.TimeOut = 300;
    const auto start = std::chrono::steady_clock::now();
    try {
        client.Connect();
        ADD_FAILURE() << "connected";
    } catch (const EAbortError& e) {
        EXPECT_STREQ(e.what(), "Socket readln aborted");
    }
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 290ms);
    EXPECT_LT(took, 10s);
    EXPECT_FALSE(client.Connected());
    server.Join();
    EXPECT_TRUE(played.closedByClient);
    EXPECT_EQ(played.received, std::vector<std::string>{"HELO me"});  // no QUIT after the abort
}

TEST_F(SmtpScript, SecondConnectAfterDisconnectWorks) {
    TNMSMTP client;
    Prepare(client);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        Play(Concat({kGreeted, kEnvelope, kMessage, {"S: 250 queued", "C: QUIT", "S: 221 bye"}}));
        client.PostMessage.ToAddress = {"you@example.jp"};  // cleared by the first success
        client.Connect();
        client.SendMail();
        client.Disconnect();
        server.Join();
        EXPECT_EQ(played.received.size(), 15u);
        EXPECT_TRUE(client.PostMessage.ToAddress.empty());
        EXPECT_EQ(client.PostMessage.Body, std::vector<std::string>{"body"});
    }
}

TEST(PowersockConnect, FailuresCarryTheirTexts) {
    struct Case {
        const char* host;
        int port;
        const char* error;
    } const cases[] = {
        {"127.0.0.1", ScriptServer::RefusedPort(), "Connection Failed"},
        {"no-such-host.invalid", 25, "Null Remote Address"},
        {"", 25, "Null Remote Address"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        TPowersock sock;
        sock.Host = c.host;
        sock.Port = static_cast<std::uint16_t>(c.port);
        bool failedEvent = false;
        sock.OnConnectionFailed = [&] { failedEvent = true; };
        try {
            sock.Connect();
            ADD_FAILURE() << "connected";
        } catch (const ESockError& e) {
            EXPECT_STREQ(e.what(), c.error);
        }
        EXPECT_EQ(failedEvent, std::string(c.error) == "Connection Failed");
    }
}

TEST(PowersockConnect, CancelledLookupReturnsAtOnceAndTheLateResultTouchesNothing) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> lookupEnded{false};
    {
        TPowersock sock;
        sock.Host = "mail.example.jp";
        sock.Port = 25;
        sock.Resolver = [released, &lookupEnded](const std::string&, std::uint32_t& address) {
            released.wait();
            address = 0x0100007F;
            lookupEnded = true;
            return true;
        };
        sock.Pump = [&sock] { sock.Abort(); };
        const auto start = std::chrono::steady_clock::now();
        try {
            sock.Connect();
            ADD_FAILURE() << "connected";
        } catch (const ESockError& e) {
            EXPECT_STREQ(e.what(), "Host Lookup Canceled");
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    }
    release.set_value();  // the lookup finishes after its object is gone
    while (!lookupEnded) std::this_thread::sleep_for(1ms);
}

TEST(SocketErrorText, TableAndErrnoMapping) {
    EXPECT_EQ(SocketErrorStr(SocketErrorCode(ECONNREFUSED)), "10061:Connection refused");
    EXPECT_EQ(SocketErrorStr(SocketErrorCode(ETIMEDOUT)), "10060:Connection timed out");
    EXPECT_EQ(SocketErrorStr(SocketErrorCode(ECONNRESET)), "10054:Connection reset by peer");
    EXPECT_EQ(SocketErrorStr(10099), "Unknown Error No. 10099");
    EXPECT_EQ(SocketErrorStr(0), "");
    EXPECT_EQ(NthWord("a,,c", ',', 2), "");
    EXPECT_EQ(NthWord("a,,c", ',', 3), "c");
    EXPECT_EQ(NthWord("a,,c", ',', 4), "");
}

}  // namespace
