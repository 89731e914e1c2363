#include "session_script_support.h"

#include "accounts/account.h"

#include <algorithm>

namespace {

std::string Verb(const std::string& line) { return line.substr(0, line.find(' ')); }

int MessageNumber(const std::string& line)
{
    std::size_t space = line.find(' ');
    if (space == std::string::npos) return 0;
    return std::atoi(line.c_str() + space + 1);
}

std::string Stuffed(const std::string& text)
{
    std::string out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t eol = text.find("\r\n", pos);
        std::size_t end = eol == std::string::npos ? text.size() : eol + 2;
        if (text[pos] == '.') out += '.';
        out.append(text, pos, end - pos);
        pos = end;
    }
    if (!out.ends_with("\r\n")) out += "\r\n";
    return out;
}

}  // namespace

std::string ScriptedMailbox::Respond(const std::string& line) const
{
    if (auto it = overrides.find(line); it != overrides.end()) return it->second;
    std::string verb = Verb(line);
    if (auto it = overrides.find(verb); it != overrides.end()) return it->second;

    int n = MessageNumber(line);
    bool exists = n >= 1 && n <= static_cast<int>(messages.size());
    if (verb == "USER" || verb == "APOP") return "+OK\r\n";
    if (verb == "PASS") return "+OK Logged in.\r\n";
    if (verb == "QUIT") return "+OK Logging out.\r\n";
    if (verb == "LIST") {
        std::string reply = "+OK " + std::to_string(messages.size()) + " messages:\r\n";
        for (std::size_t i = 0; i < messages.size(); ++i)
            reply += std::to_string(i + 1) + " " + std::to_string(messages[i].size()) + "\r\n";
        return reply + ".\r\n";
    }
    if (!exists) return "-ERR There's no message " + std::to_string(n) + ".\r\n";
    const std::string& message = messages[static_cast<std::size_t>(n - 1)];
    if (verb == "RETR") return "+OK " + std::to_string(message.size()) + " octets\r\n" + Stuffed(message) + ".\r\n";
    if (verb == "TOP") {
        std::size_t blank = message.find("\r\n\r\n");
        std::string header = blank == std::string::npos ? message : message.substr(0, blank + 4);
        return "+OK\r\n" + Stuffed(header) + ".\r\n";
    }
    if (verb == "DELE") return "+OK Marked to be deleted.\r\n";
    return "-ERR Unknown command.\r\n";
}

void SessionScript::SetUp()
{
    owner.account = DefaultAccount();
    owner.account.name = "test";
    owner.account.popServer = "127.0.0.1";
    owner.account.popPort = server.port();
    owner.account.popUser = "alice";
    owner.account.popPassword = "s3cret";
    SetOptions({POPAuthBasic});
}

void SessionScript::MakeSession(std::chrono::milliseconds replyTimeout)
{
    session = std::make_unique<Pop3Session>(owner, queue.Dispatcher(), replyTimeout);
}

void SessionScript::SetOptions(std::initializer_list<int> bits)
{
    // Every bit not listed is clear, POPPipelining included: the scenarios
    // check the lock-step dialogue unless they ask for pipelining.
    owner.account.popOptions.FromNumber(0);
    for (int bit : bits) owner.account.popOptions.Set(bit);
}

void SessionScript::ServeMailbox(const std::string& greeting, const ScriptedMailbox& box)
{
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

bool SessionScript::RunUntilState(SessionState state, std::chrono::milliseconds timeout)
{
    return queue.RunUntil([&] { return session->State() == state; }, timeout);
}

bool SessionScript::RunUntilIdle(std::chrono::milliseconds timeout)
{
    return queue.RunUntil([&] { return session->State() == SessionState::Idle && !session->IsConnectionOpen(); },
                          timeout);
}

void SessionScript::ConnectToReady()
{
    session->ConnectButtonClick();
    ASSERT_TRUE(RunUntilState(SessionState::Ready)) << "state " << static_cast<int>(session->State());
}

void SessionScript::DisconnectAndFinish()
{
    session->DisconnectButtonClick();
    EXPECT_TRUE(owner.rows.empty());
    EXPECT_TRUE(RunUntilIdle());
    server.Join();
}

void ExpectLog(const std::vector<std::string>& log, const std::vector<std::string>& expected)
{
    ASSERT_GE(log.size(), expected.size()) << ::testing::PrintToString(log);
    std::vector<std::string> head(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(expected.size()));
    EXPECT_EQ(head, expected);
    for (std::size_t i = expected.size(); i < log.size(); ++i)
        EXPECT_TRUE(log[i].empty() || log[i] == "Disconnected.") << "unexpected log entry " << i << ": " << log[i];
}
