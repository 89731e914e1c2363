// The session against a real Dovecot POP3 server (scripts/testserver).

#include "core/pop3_session.h"
#include "core/session_apop.h"
#include "core/task_queue.h"
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
DovecotServer& Dovecot()
{
    static DovecotServer server;
    return server;
}

std::string Base64(const std::string& bytes)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                     static_cast<unsigned char>(bytes[i + 2]);
        for (int shift : {18, 12, 6, 0}) out += alphabet[(v >> shift) & 63];
    }
    if (i + 1 == bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == bytes.size()) {
        unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
        for (int shift : {18, 12, 6}) out += alphabet[(v >> shift) & 63];
        out += '=';
    }
    return out;
}

// Converts every line from UTF-8 with one run of the system's iconv. Each
// line of ISO-2022-JP output returns to ASCII before its line end.
std::vector<std::string> Iconv(const char* to, const std::vector<std::string>& lines)
{
    char path[] = "/tmp/bs-session-iconv-XXXXXX";
    int fd = ::mkstemp(path);
    if (fd < 0) return {};
    ::close(fd);
    {
        std::ofstream out(path, std::ios::binary);
        for (const std::string& line : lines) out << line << '\n';
    }
    std::string command = std::string("iconv -f UTF-8 -t ") + to + " " + path;
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) output.append(buf, n);
        ::pclose(pipe);
    }
    std::remove(path);
    std::vector<std::string> result;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

std::string EncodedWord(const std::string& jis) { return "=?ISO-2022-JP?B?" + Base64(jis) + "?="; }

struct JapaneseMessage {
    std::string text;                    // as served, CR LF line ends
    std::vector<std::string> headerLines;
    std::string date, subject, sender;   // expected row texts, Shift_JIS
    std::vector<std::string> bodyLines;  // expected pane lines, Shift_JIS
};

std::vector<JapaneseMessage> JapaneseMessages(int count)
{
    // Per message: subject, sender name, two body lines (UTF-8).
    std::vector<std::string> utf8;
    for (int i = 1; i <= count; ++i) {
        utf8.push_back("会議の予定について（第" + std::to_string(i) + "回）");
        utf8.push_back("山田太郎" + std::to_string(i));
        utf8.push_back("こんにちは。これは" + std::to_string(i) + "通目の試験です。");
        utf8.push_back("よろしくお願いいたします。カタカナ、ひらがな、漢字");
    }
    std::vector<std::string> jis = Iconv("ISO-2022-JP", utf8);
    std::vector<std::string> sjis = Iconv("CP932", utf8);
    EXPECT_EQ(jis.size(), utf8.size());
    EXPECT_EQ(sjis.size(), utf8.size());
    std::vector<JapaneseMessage> messages;
    if (jis.size() != utf8.size() || sjis.size() != utf8.size()) return messages;

    for (int i = 0; i < count; ++i) {
        std::size_t k = static_cast<std::size_t>(i) * 4;
        JapaneseMessage m;
        char date[64];
        std::snprintf(date, sizeof date, "Mon, 7 Dec 2026 10:%02d:00 +0900", i % 60);
        std::string address = "<yamada" + std::to_string(i + 1) + "@example.jp>";
        bool reply = i % 2 == 1;
        m.headerLines = {
            "From: " + EncodedWord(jis[k + 1]) + " " + address,
            "To: user42@example.jp",
            "Subject: " + std::string(reply ? "Re: " : "") + EncodedWord(jis[k]),
            std::string("Date: ") + date,
            "MIME-Version: 1.0",
            "Content-Type: text/plain; charset=ISO-2022-JP",
            "Content-Transfer-Encoding: 7bit",
        };
        for (const std::string& line : m.headerLines) m.text += line + "\r\n";
        m.text += "\r\n" + jis[k + 2] + "\r\n" + jis[k + 3] + "\r\n";
        m.date = date;
        m.subject = (reply ? "Re: " : "") + sjis[k];
        m.sender = sjis[k + 1] + " " + address;
        // The reply text stops before the terminator's CR LF, so no empty last line.
        m.bodyLines = {sjis[k + 2], sjis[k + 3]};
        messages.push_back(std::move(m));
    }
    return messages;
}

std::string AsciiMessage(int n)
{
    return "From: sender" + std::to_string(n) + "@example.com\r\nSubject: message " + std::to_string(n) +
           "\r\nDate: Tue, 8 Dec 2026 09:00:00 +0900\r\n\r\nBody of message " + std::to_string(n) + ".\r\n";
}

std::string StoredForm(const std::string& message)
{
    std::string stored;
    for (std::size_t i = 0; i < message.size(); ++i)
        if (!(message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n')) stored += message[i];
    return stored;
}

// Each scenario runs lock-step and, with the pipelining bit set, pipelined
// (Dovecot lists PIPELINING): the rows and the maildir come out the same.
class SessionDovecot : public ::testing::TestWithParam<bool> {
protected:
    bool Pipelined() const { return GetParam(); }
    // CAPA comes between the login and LIST when pipelining.
    std::vector<std::string> Capa() const
    {
        return Pipelined() ? std::vector<std::string>{"CAPA\r\n"} : std::vector<std::string>{};
    }

    void Prepare(const std::string& user, std::initializer_list<int> bits)
    {
        owner.account = DefaultAccount();
        owner.account.name = user;
        owner.account.popServer = "127.0.0.1";
        owner.account.popPort = Dovecot().port();
        owner.account.popUser = user;
        owner.account.popPassword = "pass";
        owner.account.popOptions.FromNumber(0);
        for (int bit : bits) owner.account.popOptions.Set(bit);
        if (Pipelined()) owner.account.popOptions.Set(POPPipelining);
        Dovecot().ClearMailbox(user);
        session = std::make_unique<Pop3Session>(owner, queue.Dispatcher());
    }

    void ConnectToReady()
    {
        session->ConnectButtonClick();
        ASSERT_TRUE(queue.RunUntil([&] { return session->State() == SessionState::Ready; }, 30s))
            << "state " << static_cast<int>(session->State()) << "; log: " << ::testing::PrintToString(owner.log);
    }

    void WaitForReady()
    {
        ASSERT_TRUE(queue.RunUntil([&] { return session->State() == SessionState::Ready; }, 30s));
    }

    void Disconnect()
    {
        session->DisconnectButtonClick();
        ASSERT_TRUE(queue.RunUntil(
            [&] { return session->State() == SessionState::Idle && !session->IsConnectionOpen(); }, 30s));
        EXPECT_TRUE(owner.messages.empty()) << ::testing::PrintToString(owner.messages);
    }

    TaskQueue queue;
    RecordingOwner owner;
    std::unique_ptr<Pop3Session> session;
};

TEST_P(SessionDovecot, UserPassLoginListsTheMailbox)
{
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

TEST_P(SessionDovecot, AutomaticModeLogsInWithApop)
{
    Prepare("user41", {POPAuthAuto, POPAuthBasic, POPUseTop});
    Dovecot().AddMessage("user41", AsciiMessage(1));
    ConnectToReady();
    EXPECT_TRUE(owner.account.popOptions.Test(POPAuthAPOP));
    EXPECT_FALSE(owner.account.popOptions.Test(POPAuthBasic));
    EXPECT_TRUE(owner.account.popOptions.Test(POPAuthAuto));
    ASSERT_GE(owner.log.size(), 2u);
    // The greeting's timestamp runs to the end of its line.
    const std::string& greeting = owner.log[0];
    ASSERT_TRUE(greeting.ends_with(">\r\n")) << greeting;
    std::string timestamp = greeting.substr(greeting.find('<'), greeting.size() - 2 - greeting.find('<'));
    EXPECT_EQ(owner.log[1], "APOP user41 " + ApopDigest(timestamp, "pass") + "\r\n");
    EXPECT_EQ(owner.rows.size(), 1u);
    for (const std::string& line : owner.SentLines()) EXPECT_FALSE(line.starts_with("PASS")) << line;
    Disconnect();
}

TEST_P(SessionDovecot, JapaneseMailboxListedWithHeadersAndRead)
{
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
    session->ReadButtonClick();
    EXPECT_FALSE(owner.buttons.read);
    WaitForReady();
    EXPECT_EQ(owner.body, messages[4].bodyLines);

    owner.account.popOptions.Set(POPHeaderWithBody);
    session->ReadButtonClick();
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

TEST_P(SessionDovecot, DeletingThreeSelectedAndQuittingRemovesExactlyThem)
{
    Prepare("user43", {POPAuthAuto});
    for (int n = 1; n <= 6; ++n) Dovecot().AddMessage("user43", AsciiMessage(n));
    ConnectToReady();
    ASSERT_EQ(owner.rows.size(), 6u);
    owner.SelectOnly({1, 2, 4});
    session->DeleteButtonClick();
    WaitForReady();
    EXPECT_EQ(owner.Captions(), (std::vector<std::string>{"1", "4", "6"}));
    EXPECT_EQ(owner.SelectedRows(), std::vector<int>{1});
    std::vector<std::string> sent = owner.SentLines();
    EXPECT_EQ(std::vector<std::string>(sent.end() - 3, sent.end()),
              (std::vector<std::string>{"DELE 2\r\n", "DELE 3\r\n", "DELE 5\r\n"}));
    Disconnect();

    std::vector<std::string> expected = {StoredForm(AsciiMessage(1)), StoredForm(AsciiMessage(4)),
                                         StoredForm(AsciiMessage(6))};
    // The expunge is done by the time QUIT is answered; allow the files a moment anyway.
    std::vector<std::string> left;
    for (int attempt = 0; attempt < 100; ++attempt) {
        left = Dovecot().Messages("user43");
        if (left == expected) break;
        queue.RunUntil([] { return false; }, 20ms);
    }
    EXPECT_EQ(left, expected);
}

TEST_P(SessionDovecot, DisconnectDuringDeletesCommitsTheConfirmedOnes)
{
    Prepare("user44", {POPAuthAuto});
    for (int n = 1; n <= 7; ++n) Dovecot().AddMessage("user44", AsciiMessage(n));
    ConnectToReady();
    owner.SelectOnly({1, 2, 3, 4, 5});
    session->DeleteButtonClick();
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
    ASSERT_TRUE(queue.RunUntil([&] { return session->State() == SessionState::Idle && !session->IsConnectionOpen(); }, 30s));
    std::vector<std::string> sent = owner.SentLines();
    dele.push_back("QUIT\r\n");
    EXPECT_EQ(std::vector<std::string>(sent.end() - static_cast<std::ptrdiff_t>(dele.size()), sent.end()), dele);
    std::vector<std::string> expected;
    for (int n = 1; n <= 7; ++n)
        if (n == 1 || n > deleted + 1) expected.push_back(StoredForm(AsciiMessage(n)));
    std::vector<std::string> left;
    for (int attempt = 0; attempt < 100 && left != expected; ++attempt) {
        if (attempt > 0) queue.RunUntil([] { return false; }, 20ms);
        left = Dovecot().Messages("user44");
    }
    EXPECT_EQ(left, expected);
}

INSTANTIATE_TEST_SUITE_P(, SessionDovecot, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Pipelined" : "LockStep"; });

}  // namespace
