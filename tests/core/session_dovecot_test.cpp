// The session against a real Dovecot POP3 server (scripts/testserver).

#include "core/pop3_session.h"
#include "core/task_queue.h"
#include "live_session_support.h"
#include "support/dovecot.h"
#include "support/recording_owner.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// One server for the whole program; stopped at exit.
DovecotServer& Dovecot() {
    static DovecotServer server;
    return server;
}

std::string StoredForm(const std::string& message) {
    std::string stored;
    for (std::size_t i = 0; i < message.size(); ++i)
        if (!(message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n')) stored += message[i];
    return stored;
}

// Each scenario runs lock-step and, with the pipelining bit set, pipelined
// (Dovecot lists PIPELINING): the rows and the maildir come out the same.
class SessionDovecot : public ::testing::TestWithParam<bool>, protected LiveSession {
protected:
    bool Pipelined() const { return GetParam(); }
    // CAPA comes between the login and LIST when pipelining.
    std::vector<std::string> Capa() const {
        return Pipelined() ? std::vector<std::string>{"CAPA\r\n"} : std::vector<std::string>{};
    }

    void Prepare(const std::string& user, std::initializer_list<int> bits) {
        Configure(user, "127.0.0.1", Dovecot().port(), bits);
        if (Pipelined()) owner.account.popOptions.Set(POPPipelining);
        Dovecot().ClearMailbox(user);
    }

    // The maildir comes to hold exactly AsciiMessage(n) for these n; the
    // expunge is done by the time QUIT is answered, but allow the files a moment.
    void ExpectStored(const std::string& user, const std::vector<int>& numbers) {
        std::vector<std::string> expected, left;
        for (int n : numbers) expected.push_back(StoredForm(AsciiMessage(n)));
        for (int attempt = 0; attempt < 100 && left != expected; ++attempt) {
            if (attempt > 0) queue.RunUntil([] { return false; }, 20ms);
            left = Dovecot().Messages(user);
        }
        EXPECT_EQ(left, expected);
    }
};

TEST_P(SessionDovecot, UserPassLoginListsTheMailbox) {
    Prepare("user40", {POPAuthBasic});
    Dovecot().AddMessage("user40", AsciiMessage(1));
    Dovecot().AddMessage("user40", AsciiMessage(2));
    ConnectToReady();
    EXPECT_EQ(session->MessageCount(), 2);
    ASSERT_EQ(owner.rows.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(owner.rows[static_cast<std::size_t>(i)].number, std::to_string(i + 1));
        EXPECT_EQ(owner.rows[static_cast<std::size_t>(i)].subItems,
                  std::vector<std::string>{std::to_string(AsciiMessage(i + 1).size())});
    }
    std::size_t list = Pipelined() ? 7 : 5;
    ASSERT_GE(owner.log.size(), list + 2);
    EXPECT_TRUE(owner.log[0].starts_with("+OK ")) << owner.log[0];
    EXPECT_EQ(std::vector<std::string>(owner.log.begin() + 1, owner.log.begin() + 5),
              (std::vector<std::string>{"USER user40\r\n", "+OK\r\n", "PASS ********", "+OK Logged in.\r\n"}));
    if (Pipelined()) {
        EXPECT_EQ(owner.log[5], "CAPA\r\n");
        EXPECT_NE(owner.log[6].find("\r\nPIPELINING\r\n"), std::string::npos) << owner.log[6];
    }
    EXPECT_EQ(owner.log[list], "LIST\r\n");
    std::vector<std::string> sent = {"USER user40\r\n", "PASS ********"};
    for (const std::string& capa : Capa()) sent.push_back(capa);
    sent.push_back("LIST\r\n");
    EXPECT_EQ(owner.SentLines(), sent);
    Disconnect();
    for (const std::string& entry : owner.log) EXPECT_EQ(entry.find("PASS pass"), std::string::npos);
}

TEST_P(SessionDovecot, AutomaticModeLogsInWithApop) {
    Prepare("user41", {POPAuthAuto, POPAuthBasic, POPUseTop});
    Dovecot().AddMessage("user41", AsciiMessage(1));
    ConnectToReady();
    EXPECT_TRUE(owner.account.popOptions.Test(POPAuthAPOP));
    EXPECT_FALSE(owner.account.popOptions.Test(POPAuthBasic));
    EXPECT_TRUE(owner.account.popOptions.Test(POPAuthAuto));
    ASSERT_GE(owner.log.size(), 2u);
    // The digest is masked in the log; Dovecot accepting it shows it was right.
    EXPECT_EQ(owner.log[1], "APOP user41 ********");
    EXPECT_EQ(owner.rows.size(), 1u);
    for (const std::string& line : owner.SentLines()) EXPECT_FALSE(line.starts_with("PASS")) << line;
    Disconnect();
}

TEST_P(SessionDovecot, JapaneseMailboxListedWithHeadersAndRead) {
    Prepare("user42", {POPAuthAuto, POPReadHeader, POPUseTop});
    std::vector<JapaneseMessage> messages = JapaneseMessages(30);
    ASSERT_EQ(messages.size(), 30u);
    for (const JapaneseMessage& m : messages) Dovecot().AddMessage("user42", m.text);

    ConnectToReady();
    EXPECT_TRUE(owner.account.popOptions.Test(POPUseTop));
    ASSERT_EQ(owner.rows.size(), 30u);
    for (std::size_t i = 0; i < 30; ++i) {
        SCOPED_TRACE(i);
        const MailEntry& row = owner.rows[i];
        EXPECT_EQ(row.number, std::to_string(i + 1));
        ASSERT_EQ(row.subItems.size(), 4u);
        EXPECT_EQ(row.subItems[0], std::to_string(messages[i].text.size()));
        EXPECT_EQ(row.subItems[1], messages[i].date);
        EXPECT_EQ(row.subItems[2], messages[i].subject);
        EXPECT_EQ(row.subItems[3], messages[i].sender);
    }
    std::vector<std::string> sent = owner.SentLines();
    const std::size_t first = Pipelined() ? 3 : 2;  // APOP, (CAPA,) LIST, 30 TOP
    ASSERT_EQ(sent.size(), first + 30) << ::testing::PrintToString(sent);
    for (std::size_t i = 0; i < 30; ++i) EXPECT_EQ(sent[i + first], "TOP " + std::to_string(i + 1) + " 0\r\n");
    // Pipelined, the second TOP goes out before the first reply is in.
    auto top1 = std::find(owner.log.begin(), owner.log.end(), "TOP 1 0\r\n");
    ASSERT_NE(top1, owner.log.end());
    EXPECT_EQ(*(top1 + 1) == "TOP 2 0\r\n", Pipelined());

    // Read message 5, first without, then with the header lines.
    owner.SelectOnly({4});
    session->UpdateButtons();
    EXPECT_TRUE(owner.buttons.read);
    owner.Read(*session);
    EXPECT_FALSE(owner.buttons.read);
    WaitForReady();
    EXPECT_EQ(owner.body, messages[4].bodyLines);

    owner.account.popOptions.Set(POPHeaderWithBody);
    owner.Read(*session);
    WaitForReady();
    ASSERT_GE(owner.body.size(), 1u);
    EXPECT_EQ(owner.body[0], std::to_string(messages[4].text.size()) + " octets");
    std::vector<std::string> expected = messages[4].headerLines;
    expected.push_back(" ");
    expected.insert(expected.end(), messages[4].bodyLines.begin(), messages[4].bodyLines.end());
    EXPECT_EQ(std::vector<std::string>(owner.body.begin() + 1, owner.body.end()), expected);
    // Reading refreshed the row with the same values.
    EXPECT_EQ(owner.rows[4].subItems[2], messages[4].subject);
    Disconnect();
}

TEST_P(SessionDovecot, DeletingThreeSelectedAndQuittingRemovesExactlyThem) {
    Prepare("user43", {POPAuthAuto});
    for (int n = 1; n <= 6; ++n) Dovecot().AddMessage("user43", AsciiMessage(n));
    ConnectToReady();
    ASSERT_EQ(owner.rows.size(), 6u);
    owner.SelectOnly({1, 2, 4});
    owner.Delete(*session);
    WaitForReady();
    EXPECT_EQ(owner.Captions(), (std::vector<std::string>{"1", "4", "6"}));
    EXPECT_EQ(owner.SelectedRows(), std::vector<int>{1});
    std::vector<std::string> sent = owner.SentLines();
    EXPECT_EQ(std::vector<std::string>(sent.end() - 3, sent.end()),
              (std::vector<std::string>{"DELE 2\r\n", "DELE 3\r\n", "DELE 5\r\n"}));
    Disconnect();
    ExpectStored("user43", {1, 4, 6});
}

TEST_P(SessionDovecot, DisconnectDuringDeletesCommitsTheConfirmedOnes) {
    Prepare("user44", {POPAuthAuto});
    for (int n = 1; n <= 7; ++n) Dovecot().AddMessage("user44", AsciiMessage(n));
    ConnectToReady();
    owner.SelectOnly({1, 2, 3, 4, 5});
    owner.Delete(*session);
    // Lock-step: pressed once two are confirmed (or more, if replies came
    // together); the DELE on its way is answered, then only QUIT follows.
    // Pipelined, all five are on their way at once.
    if (!Pipelined()) {
        ASSERT_TRUE(queue.RunUntil([&] { return owner.rows.size() <= 5; }, 30s));
    }
    std::vector<std::string> dele = owner.SentLines();
    dele.erase(dele.begin(), std::find(dele.begin(), dele.end(), "DELE 2\r\n"));
    const int deleted = static_cast<int>(dele.size());  // messages 2 .. deleted + 1
    EXPECT_EQ(deleted, Pipelined() ? 5 : std::min(5, 8 - owner.RowCount()));
    session->DisconnectButtonClick();
    ASSERT_TRUE(
        queue.RunUntil([&] { return session->State() == SessionState::Idle && !session->IsConnectionOpen(); }, 30s));
    std::vector<std::string> sent = owner.SentLines();
    dele.push_back("QUIT\r\n");
    EXPECT_EQ(std::vector<std::string>(sent.end() - static_cast<std::ptrdiff_t>(dele.size()), sent.end()), dele);
    std::vector<int> kept;
    for (int n = 1; n <= 7; ++n)
        if (n == 1 || n > deleted + 1) kept.push_back(n);
    ExpectStored("user44", kept);
}

// Two sessions on one thread, each with its own connection, mailbox and
// owner: their lists, deletes and reads never cross.
TEST_P(SessionDovecot, TwoSessionsSideBySideKeepTheirOwnMailboxes) {
    Prepare("user45", {POPAuthBasic, POPReadHeader, POPUseTop});
    for (int n = 1; n <= 4; ++n) Dovecot().AddMessage("user45", AsciiMessage(n));
    RecordingOwner other;
    other.account = owner.account;
    other.account.name = other.account.popUser = "user46";
    Dovecot().ClearMailbox("user46");
    for (int n = 5; n <= 7; ++n) Dovecot().AddMessage("user46", AsciiMessage(n));
    Pop3Session second(other, queue.Dispatcher());

    session->ConnectButtonClick();
    second.ConnectButtonClick();
    auto bothReady = [&] { return session->State() == SessionState::Ready && second.State() == SessionState::Ready; };
    ASSERT_TRUE(queue.RunUntil(bothReady, 30s));
    EXPECT_EQ(owner.Captions(), (std::vector<std::string>{"1", "2", "3", "4"}));
    EXPECT_EQ(other.Captions(), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(session->Mailbox().Count(), 4u);
    EXPECT_EQ(second.Mailbox().Count(), 3u);
    EXPECT_NE(session->Mailbox().Header(0), second.Mailbox().Header(0));
    EXPECT_EQ(owner.rows[0].subItems.size(), 4u);
    EXPECT_EQ(other.rows[2].subItems.size(), 4u);

    // A delete in one and a read in the other, both in flight at once.
    owner.SelectOnly({0, 2});
    owner.Delete(*session);
    other.SelectOnly({1});
    other.Read(second);
    ASSERT_TRUE(queue.RunUntil(bothReady, 30s));
    EXPECT_EQ(owner.Captions(), (std::vector<std::string>{"2", "4"}));
    EXPECT_EQ(other.Captions(), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_TRUE(owner.body.empty());
    EXPECT_FALSE(other.body.empty());
    for (const std::string& line : other.SentLines()) EXPECT_FALSE(line.starts_with("DELE")) << line;

    Disconnect();
    second.DisconnectButtonClick();
    ASSERT_TRUE(
        queue.RunUntil([&] { return second.State() == SessionState::Idle && !second.IsConnectionOpen(); }, 30s));
    ExpectStored("user45", {2, 4});
    ExpectStored("user46", {5, 6, 7});
}

INSTANTIATE_TEST_SUITE_P(, SessionDovecot, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Pipelined" : "LockStep";
                         });

}  // namespace
