#include "session_script_support.h"

#include "accounts/account.h"

void SessionScript::SetUp() {
    owner.account = DefaultAccount();
    owner.account.name = "test";
    owner.account.popServer = "127.0.0.1";
    owner.account.popPort = server.port();
    owner.account.popUser = "alice";
    owner.account.popPassword = "s3cret";
    SetOptions({POPAuthBasic});
}

void SessionScript::MakeSession(std::chrono::milliseconds replyTimeout) {
    session = std::make_unique<Pop3Session>(owner, queue.Dispatcher(), replyTimeout, limits);
}

void SessionScript::SetOptions(std::initializer_list<int> bits) {
    // Every bit not listed is clear, POPPipelining included: the scenarios
    // check the lock-step dialogue unless they ask for pipelining.
    owner.account.popOptions.FromNumber(0);
    for (int bit : bits) owner.account.popOptions.Set(bit);
}

void SessionScript::Restart(std::initializer_list<int> bits, std::chrono::milliseconds replyTimeout) {
    session.reset();
    owner = RecordingOwner();
    received.clear();
    SetUp();
    SetOptions(bits);
    MakeSession(replyTimeout);
}

void SessionScript::ServeMailbox(const std::string& greeting, const ScriptedMailbox& box) {
    server.Serve([this, greeting, box](ScriptPeer& peer) {
        if (!greeting.empty()) peer.Send(greeting);
        for (;;) {
            std::string line = peer.ReadLine(std::chrono::seconds(15));
            if (peer.Eof()) return;
            received.push_back(line);
            std::string reply = box.Respond(line);
            if (!reply.empty()) peer.Send(reply);
            if (box.closeAfter.count(line)) return;
            if (line == "QUIT") {
                peer.WaitForClose();
                return;
            }
        }
    });
}

bool SessionScript::RunUntilState(SessionState state, std::chrono::milliseconds timeout) {
    return queue.RunUntil([&] { return session->State() == state; }, timeout);
}

bool SessionScript::RunUntilIdle(std::chrono::milliseconds timeout) {
    return queue.RunUntil([&] { return session->State() == SessionState::Idle && !session->IsConnectionOpen(); },
                          timeout);
}

void SessionScript::ConnectToReady() {
    session->ConnectButtonClick();
    ASSERT_TRUE(RunUntilState(SessionState::Ready)) << "states " << SessionStatePathText(session->StatePath());
}

void SessionScript::DisconnectAndFinish() {
    session->DisconnectButtonClick();
    EXPECT_TRUE(owner.rows.empty());
    EXPECT_TRUE(RunUntilIdle()) << "states " << SessionStatePathText(session->StatePath());
    server.Join();
}

void ExpectLog(const std::vector<std::string>& log, const std::vector<std::string>& expected) {
    ASSERT_GE(log.size(), expected.size()) << ::testing::PrintToString(log);
    std::vector<std::string> head(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(expected.size()));
    EXPECT_EQ(head, expected);
    for (std::size_t i = expected.size(); i < log.size(); ++i)
        EXPECT_TRUE(log[i].empty() || log[i] == "Disconnected.") << "unexpected log entry " << i << ": " << log[i];
}
