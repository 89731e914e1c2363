// The pipelined header fetch and deletes against scripted servers that hold
// their replies until a whole window of commands has arrived: a lock-step
// client would wait for ever on the first one.

#include "session_script_support.h"

#include <atomic>
#include <memory>

namespace {

using namespace std::chrono_literals;

const std::string kCapaPipelining = "+OK\r\nTOP\r\nUSER\r\nPIPELINING\r\n.\r\n";

std::string Message(int n) {
    return "From: someone@example.com\r\nSubject: m" + std::to_string(n) + "\r\n\r\nBody.\r\n";
}

ScriptedMailbox Mailbox(int count, const std::string& capa) {
    ScriptedMailbox box;
    for (int i = 1; i <= count; ++i) box.messages.push_back(Message(i));
    box.overrides["CAPA"] = capa;
    return box;
}

// What the server receives up to LIST, then TOP n 0 for 1..count.
std::vector<std::string> WireWithTops(int count) {
    std::vector<std::string> wire = {"USER alice", "PASS s3cret", "CAPA", "LIST"};
    for (int n = 1; n <= count; ++n) wire.push_back("TOP " + std::to_string(n) + " 0");
    return wire;
}

// Rows 1..count, each with its header read.
void ExpectSubjects(const std::vector<MailEntry>& rows, int count) {
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(rows[i].subItems.size(), 4u) << i;
        EXPECT_EQ(rows[i].subItems[2], "m" + std::to_string(i + 1));
    }
}

bool Held(const std::string& line) {
    return line.starts_with("TOP ") || line.starts_with("RETR ") || line.starts_with("DELE ");
}

class SessionPipeline : public SessionScript {
protected:
    // Like ServeMailbox, but the replies to the first `hold` commands of
    // TOP, RETR and DELE are written only once all of them have arrived:
    // in one piece, or byte by byte. With release given, they wait for it
    // too. Later commands are answered at once.
    void ServeHolding(const ScriptedMailbox& box, std::size_t hold, bool trickle = false,
                      std::shared_ptr<std::atomic<bool>> release = nullptr) {
        server.Serve([=, this](ScriptPeer& peer) {
            peer.Send("+OK hi\r\n");
            std::string held;
            std::size_t count = 0;
            for (;;) {
                std::string line = peer.ReadLine(15s);
                if (peer.Eof()) return;
                received.push_back(line);
                std::string reply = box.Respond(line);
                bool batch = false;
                if (count < hold && Held(line)) {
                    held += reply;
                    if (++count < hold) continue;
                    for (int i = 0; release && !*release && i < 3000; ++i) peer.Pause(5ms);
                    reply.swap(held);
                    batch = true;
                }
                if (!trickle || !batch) {
                    peer.Send(reply);
                } else {
                    for (char c : reply) {
                        peer.SendNow(std::string_view(&c, 1));
                        peer.Pause(1ms);
                    }
                }
                if (line == "QUIT") {
                    peer.WaitForClose();
                    return;
                }
            }
        });
    }
};

TEST_F(SessionPipeline, HeaderFetchPipelinesOnlyWhenTheServerOffersIt) {
    struct Case {
        const char* name;
        std::string capa;
        bool pipelined;
        bool trickle;
    };
    const Case cases[] = {
        {"offered, replies in one read", kCapaPipelining, true, false},
        {"offered, replies byte by byte", kCapaPipelining, true, true},
        {"not offered", "+OK\r\nTOP\r\nUSER\r\n.\r\n", false, false},
        {"CAPA refused", "-ERR Unknown command.\r\n", false, false},
    };
    constexpr int kCount = 12;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Restart({POPAuthBasic, POPReadHeader, POPUseTop, POPPipelining});
        ScriptedMailbox box = Mailbox(kCount, c.capa);
        ServeHolding(box, c.pipelined ? kCount : 0, c.trickle);
        ConnectToReady();

        ExpectSubjects(owner.rows, kCount);
        // One log entry per command and per reply: the window's commands
        // first, then their replies in the same order.
        std::vector<std::string> expected = {"+OK hi\r\n",    "USER alice\r\n",     "+OK\r\n",
                                             "PASS ********", "+OK Logged in.\r\n", "CAPA\r\n",
                                             c.capa,          "LIST\r\n",           box.Respond("LIST")};
        std::vector<std::string> tops;
        for (int n = 1; n <= kCount; ++n) tops.push_back("TOP " + std::to_string(n) + " 0");
        for (int n = 1; n <= kCount; ++n) {
            if (c.pipelined)
                expected.push_back(tops[n - 1] + "\r\n");
            else
                expected.insert(expected.end(), {tops[n - 1] + "\r\n", box.Respond(tops[n - 1])});
        }
        if (c.pipelined)
            for (const std::string& top : tops) expected.push_back(box.Respond(top));
        ExpectLog(owner.log, expected);
        EXPECT_EQ(owner.log.size(), expected.size());
        DisconnectAndFinish();

        std::vector<std::string> wire = WireWithTops(kCount);
        wire.push_back("QUIT");
        EXPECT_EQ(received, wire);
    }
}

TEST_F(SessionPipeline, TopRefusedInTheWindowResendsTheRestWithRetr) {
    SetOptions({POPAuthBasic, POPReadHeader, POPUseTop, POPPipelining});
    MakeSession();
    ScriptedMailbox box = Mailbox(30, kCapaPipelining);
    box.overrides["TOP 10 0"] = "-ERR Unknown command.\r\n";
    ServeHolding(box, 30);
    ConnectToReady();
    EXPECT_FALSE(owner.account.popOptions.Test(POPUseTop));
    ExpectSubjects(owner.rows, 30);
    DisconnectAndFinish();
    std::vector<std::string> wire = WireWithTops(30);
    for (int n = 10; n <= 30; ++n) wire.push_back("RETR " + std::to_string(n));
    wire.push_back("QUIT");
    EXPECT_EQ(received, wire);
}

TEST_F(SessionPipeline, DisconnectWithFiftyCommandsInFlight) {
    for (int presses : {1, 2}) {
        SCOPED_TRACE(presses);
        Restart({POPAuthBasic, POPReadHeader, POPUseTop, POPPipelining});
        auto release = std::make_shared<std::atomic<bool>>(false);
        ServeHolding(Mailbox(50, kCapaPipelining), 50, false, release);
        session->ConnectButtonClick();
        ASSERT_TRUE(queue.RunUntil([&] { return owner.SentLines().size() == 54; }));
        ASSERT_EQ(owner.SentLines().back(), "TOP 50 0\r\n");
        for (int i = 0; i < presses; ++i) session->DisconnectButtonClick();
        EXPECT_EQ(session->State(), presses == 1 ? SessionState::TopSent : SessionState::Idle);
        *release = true;
        ASSERT_TRUE(RunUntilIdle());
        server.Join();
        queue.RunPending();

        std::vector<std::string> wire = WireWithTops(50);
        if (presses == 1) {
            // All fifty answered, then QUIT as from Ready.
            wire.push_back("QUIT");
            EXPECT_TRUE(owner.rows.empty());
        } else {
            // Closed at once: the rows stay, none filled from a late reply.
            ASSERT_EQ(owner.rows.size(), 50u);
            for (const MailEntry& row : owner.rows) EXPECT_EQ(row.subItems.size(), 1u);
            EXPECT_EQ(std::count(owner.log.begin(), owner.log.end(), "Disconnected."), 1);
        }
        EXPECT_EQ(received, wire);
        EXPECT_TRUE(owner.messages.empty());
    }
}

TEST_F(SessionPipeline, RefusedDeleAmongTenKeepsItsRow) {
    // A bare "-ERR" is as much a refusal, and the replies behind it stay on their rows.
    for (const char* refusal : {"-ERR cannot\r\n", "-ERR\r\n"}) {
        SCOPED_TRACE(refusal);
        Restart({POPAuthBasic, POPPipelining});
        ScriptedMailbox box = Mailbox(12, kCapaPipelining);
        box.overrides["DELE 4"] = refusal;
        ServeHolding(box, 10);
        ConnectToReady();
        owner.body = {"kept"};
        owner.SelectOnly({0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
        owner.Delete(*session);
        EXPECT_EQ(session->State(), SessionState::DeleSent);
        ASSERT_TRUE(RunUntilState(SessionState::Ready));
        EXPECT_EQ(owner.Captions(), (std::vector<std::string>{"4", "11", "12"}));
        EXPECT_EQ(owner.SelectedRows(), std::vector<int>{0});
        EXPECT_EQ(owner.body, std::vector<std::string>{"kept"});
        std::vector<std::string> tail(owner.log.end() - 20, owner.log.end());
        EXPECT_EQ(tail[0], "DELE 1\r\n");
        EXPECT_EQ(tail[10], "+OK Marked to be deleted.\r\n");
        EXPECT_EQ(tail[13], refusal);
        DisconnectAndFinish();
        std::vector<std::string> wire = WireWithTops(0);
        for (int n = 1; n <= 10; ++n) wire.push_back("DELE " + std::to_string(n));
        wire.push_back("QUIT");
        EXPECT_EQ(received, wire);
    }
}

}  // namespace
