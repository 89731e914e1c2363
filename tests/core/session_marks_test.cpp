// UIDL and the new marks: hostile replies from a scripted server, broken
// seen lists, and whole checks against Dovecot.

#include "accounts/seen_ids.h"
#include "core/mail_marks.h"
#include "live_session_support.h"
#include "session_script_support.h"
#include "support/dovecot.h"

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string FileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// "1" or "0" per entry: marked new or not.
std::string NewMarks(const Mailbox& box) {
    std::string marks;
    for (std::size_t i = 0; i < box.Count(); ++i) marks += (box.Flags(i) & kMarkNew) ? '1' : '0';
    return marks;
}

// The entries' ids, one a line, as the seen list holds them.
std::string Ids(const Mailbox& box, bool withEmpty = false) {
    std::string ids;
    for (std::size_t i = 0; i < box.Count(); ++i)
        if (withEmpty || !box.UniqueId(i).empty()) ids += std::string(box.UniqueId(i)) + "\n";
    return ids;
}

struct SeenDirectory {
    SeenDirectory() {
        char pattern[] = "/tmp/bs-seen-session-XXXXXX";
        path = ::mkdtemp(pattern) ? pattern : "";
    }
    ~SeenDirectory() { fs::remove_all(path); }
    std::string path;
};

class SessionMarks : public SessionScript {
protected:
    void Start(std::initializer_list<int> bits, bool pipelined = false) {
        Restart(bits);
        if (pipelined) owner.account.popOptions.Set(POPPipelining);
        owner.account.id = kId;
        session->SetSeenDirectory(seen.path);
        box = ScriptedMailbox();
        for (int n = 1; n <= 4; ++n) box.messages.push_back("Subject: m" + std::to_string(n) + "\r\n\r\nBody.\r\n");
        box.overrides["CAPA"] = "+OK\r\nPIPELINING\r\n.\r\n";
    }
    fs::path SeenFile() const { return fs::path(seen.path) / kId; }
    std::size_t Logged(const std::string& start) const {
        return static_cast<std::size_t>(std::count_if(owner.log.begin(), owner.log.end(),
                                                      [&](const std::string& e) { return e.starts_with(start); }));
    }

    const std::string kId = "0123456789abcdef0123456789abcdef";
    SeenDirectory seen;
    ScriptedMailbox box;
};

// Message 1 was seen last time; "gone" is no longer on the server.
TEST_F(SessionMarks, HostileUidlRepliesLeaveTheIdsEmptyAndTheSeenListAlone) {
    Start({});
    std::string good;
    for (std::size_t i = 0; i < 4; ++i) good += box.UniqueId(i) + "\n";
    const std::string before = "gone\n" + box.UniqueId(0) + "\n";
    const struct Case {
        const char* name;
        bool pipelined;
        std::string reply;  // empty: the mailbox's own
        std::string ids, fresh, file, logged;
    } cases[] = {
        {"well formed", false, "", good, "0111", good, ""},
        {"well formed, pipelined", true, "", good, "0111", good, ""},
        {"duplicate ids", false, "+OK\r\n1 same\r\n2 same\r\n3 other\r\n4 same\r\n.\r\n", "same\n\nother\n\n", "1010",
         "same\nother\n", ""},
        {"numbers missing, unknown, twice", false, "+OK\r\n2 b\r\n9 z\r\n2 c\r\n.\r\n", "\nb\n\n\n", "0100", "b\n", ""},
        {"garbage line", false, "+OK\r\n1 a\r\nhello there, friend\r\n.\r\n", "\n\n\n\n", "0000", before,
         "UIDL reply not understood"},
        {"an id of 200 bytes", true, "+OK\r\n1 a\r\n2 " + std::string(200, 'x') + "\r\n.\r\n", "\n\n\n\n", "0000",
         before, "UIDL reply not understood"},
        {"refused", false, "-ERR Unknown command.\r\n", "\n\n\n\n", "0000", before, "UIDL refused"},
        {"refused, pipelined", true, "-ERR Unknown command.\r\n", "\n\n\n\n", "0000", before, "UIDL refused"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Start({POPAuthBasic, POPReadHeader, POPUseTop, POPMarkNew}, c.pipelined);
        std::ofstream(SeenFile(), std::ios::binary) << before;
        if (!c.reply.empty()) box.overrides["UIDL"] = c.reply;
        ServeMailbox("+OK hi\r\n", box);
        ConnectToReady();
        EXPECT_EQ(Ids(session->Mailbox(), true), c.ids);
        EXPECT_EQ(NewMarks(session->Mailbox()), c.fresh);
        EXPECT_EQ(owner.markNotices > 0, c.logged.empty());
        EXPECT_EQ(FileBytes(SeenFile()), c.file);
        EXPECT_EQ(Logged("UIDL "), c.logged.empty() ? 0u : 1u);
        EXPECT_EQ(Logged(c.logged), c.logged.empty() ? owner.log.size() : 1u);
        for (const MailEntry& row : owner.rows) EXPECT_EQ(row.subItems.size(), 4u);  // the headers all the same
        DisconnectAndFinish();
        std::vector<std::string> wire = {"USER alice", "PASS s3cret"};
        if (c.pipelined) wire.push_back("CAPA");
        wire.insert(wire.end(), {"LIST", "UIDL", "TOP 1 0", "TOP 2 0", "TOP 3 0", "TOP 4 0", "QUIT"});
        EXPECT_EQ(received, wire);
    }
}

TEST_F(SessionMarks, BrokenSeenListsCountAsEmptyAndAreReplaced) {
    const std::pair<const char*, std::function<void(const fs::path&)>> cases[] = {
        {"directory", [](const fs::path& p) { fs::create_directories(p / "x"); }},
        {"binary", [](const fs::path& p) { std::ofstream(p, std::ios::binary) << std::string("\0\xff\x01\n", 4); }},
        {"unreadable (a symlink loop)", [](const fs::path& p) { fs::create_symlink(p.filename(), p); }},
    };
    for (const auto& [name, make] : cases) {
        SCOPED_TRACE(name);
        Start({POPAuthBasic, POPMarkNew});
        fs::remove(SeenFile());
        make(SeenFile());
        ServeMailbox("+OK hi\r\n", box);
        ConnectToReady();
        EXPECT_EQ(NewMarks(session->Mailbox()), "1111");
        EXPECT_EQ(Logged("Seen list of this account not read"), 1u);
        EXPECT_EQ(FileBytes(SeenFile()), Ids(session->Mailbox()));
        DisconnectAndFinish();
        fs::remove_all(SeenFile().string() + ".unreadable");
    }
}

TEST_F(SessionMarks, WithoutTheBitOrWithWritingOffNoFileIsWritten) {
    for (bool markNew : {false, true}) {
        SCOPED_TRACE(markNew);
        if (markNew) {
            Start({POPAuthBasic, POPMarkNew});
            session->SetSeenWriting(false);
        } else {
            Start({POPAuthBasic, POPPipelining, POPReadHeader, POPUseTop});
        }
        ServeMailbox("+OK hi\r\n", box);
        ConnectToReady();
        EXPECT_EQ(NewMarks(session->Mailbox()), markNew ? "1111" : "0000");
        DisconnectAndFinish();
        EXPECT_EQ(std::count(received.begin(), received.end(), "UIDL"), markNew ? 1 : 0);
        EXPECT_FALSE(fs::exists(SeenFile()));
        EXPECT_EQ(Logged("Seen"), 0u);
    }
}

DovecotServer& Dovecot() {
    static DovecotServer server;
    return server;
}

// Lock-step and pipelined.
class MarksDovecot : public ::testing::TestWithParam<bool>, protected LiveSession {
protected:
    void Check(const std::string& user) {
        Configure(user, "127.0.0.1", Dovecot().port(), {POPAuthAuto, POPReadHeader, POPUseTop, POPMarkNew});
        if (GetParam()) owner.account.popOptions.Set(POPPipelining);
        owner.account.id = id;
        session->SetSeenDirectory(seen.path);
        ConnectToReady();
    }
    std::string User(int n) const { return "user" + std::to_string(n + (GetParam() ? 1 : 0)); }

    std::string id = NewAccountId();
    SeenDirectory seen;
};

TEST_P(MarksDovecot, NewSinceLastTimeAndPrunedFromTheSeenList) {
    const std::string user = User(20);
    Dovecot().ClearMailbox(user);
    for (int n = 1; n <= 4; ++n) Dovecot().AddMessage(user, AsciiMessage(n));
    Check(user);
    EXPECT_EQ(NewMarks(session->Mailbox()), "1111");
    const std::string first = Ids(session->Mailbox());
    EXPECT_EQ(Ids(session->Mailbox(), true), first);  // every message has one
    EXPECT_EQ(FileBytes(fs::path(seen.path) / id), first);
    owner.SelectOnly({1});  // message 2 goes before the next check
    owner.Delete(*session);
    WaitForReady();
    Disconnect();

    for (int n = 5; n <= 7; ++n) Dovecot().AddMessage(user, AsciiMessage(n));
    Check(user);
    EXPECT_EQ(NewMarks(session->Mailbox()), "000111");
    const std::string second = Ids(session->Mailbox());
    const std::size_t line2 = first.find('\n') + 1, line3 = first.find('\n', line2) + 1;
    EXPECT_TRUE(second.starts_with(first.substr(0, line2) + first.substr(line3))) << first << second;
    EXPECT_EQ(FileBytes(fs::path(seen.path) / id), second);
    Disconnect();
    Check(user);
    EXPECT_EQ(NewMarks(session->Mailbox()), "000000");
    Disconnect();
}

TEST_P(MarksDovecot, SweepDeletesExactlyTheJunkRows) {
    const std::string user = User(22);
    Dovecot().ClearMailbox(user);
    for (int n = 1; n <= 6; ++n) Dovecot().AddMessage(user, AsciiMessage(n));
    Check(user);
    // Rows 2 and 5 are junk; row 4 is junk and a friend, which a sweep spares.
    Mailbox& box = session->Mailbox();
    for (std::size_t i : {1u, 4u}) box.SetFlags(i, kMarkJunk);
    box.SetFlags(3, kMarkJunk | kMarkFriend);
    ASSERT_EQ(SweepNumbers(box), (std::vector<std::int32_t>{2, 5}));
    session->DeleteButtonClick(SweepNumbers(box));
    WaitForReady();
    Disconnect();
    std::vector<std::string> left, expected;
    for (int n : {1, 3, 4, 6}) {
        expected.push_back(AsciiMessage(n));
        std::erase(expected.back(), '\r');
    }
    for (int attempt = 0; attempt < 100 && left != expected; ++attempt) {
        if (attempt > 0) queue.RunUntil([] { return false; }, 20ms);
        left = Dovecot().Messages(user);
    }
    EXPECT_EQ(left, expected);
}

INSTANTIATE_TEST_SUITE_P(, MarksDovecot, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Pipelined" : "LockStep";
                         });

}  // namespace
