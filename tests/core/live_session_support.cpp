#include "live_session_support.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

using namespace std::chrono_literals;

namespace {

std::string Base64(const std::string& bytes) {
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
std::vector<std::string> Iconv(const char* to, const std::vector<std::string>& lines) {
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

std::string EncodedWord(const std::string& jis) {
    return "=?ISO-2022-JP?B?" + Base64(jis) + "?=";
}

}  // namespace

std::vector<JapaneseMessage> JapaneseMessages(int count) {
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

std::string AsciiMessage(int n) {
    return "From: sender" + std::to_string(n) + "@example.com\r\nSubject: message " + std::to_string(n) +
           "\r\nDate: Tue, 8 Dec 2026 09:00:00 +0900\r\n\r\nBody of message " + std::to_string(n) + ".\r\n";
}

void LiveSession::Configure(const std::string& user, const std::string& host, int port,
                            std::initializer_list<int> bits) {
    session.reset();
    owner = RecordingOwner();
    owner.account = DefaultAccount();
    owner.account.name = user;
    owner.account.popServer = host;
    owner.account.popPort = port;
    owner.account.popUser = user;
    owner.account.popPassword = "pass";
    owner.account.popOptions.FromNumber(0);
    for (int bit : bits) owner.account.popOptions.Set(bit);
    session = std::make_unique<Pop3Session>(owner, queue.Dispatcher());
}

void LiveSession::ConnectToReady() {
    session->ConnectButtonClick();
    ASSERT_TRUE(queue.RunUntil([&] { return session->State() == SessionState::Ready; }, 30s))
        << "states " << SessionStatePathText(session->StatePath()) << "; log: " << ::testing::PrintToString(owner.log)
        << "; messages: " << ::testing::PrintToString(owner.messages);
}

void LiveSession::WaitForReady() {
    ASSERT_TRUE(queue.RunUntil([&] { return session->State() == SessionState::Ready; }, 30s))
        << "states " << SessionStatePathText(session->StatePath());
}

void LiveSession::Disconnect() {
    session->DisconnectButtonClick();
    ASSERT_TRUE(
        queue.RunUntil([&] { return session->State() == SessionState::Idle && !session->IsConnectionOpen(); }, 30s))
        << "states " << SessionStatePathText(session->StatePath());
    EXPECT_TRUE(owner.messages.empty()) << ::testing::PrintToString(owner.messages);
}
