// Rows marked by the rule list, against a real Dovecot POP3 server.

#include "core/mailbox.h"
#include "core/rules.h"
#include "live_session_support.h"
#include "support/dovecot.h"
#include "texts/texts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

DovecotServer& Dovecot() {
    static DovecotServer server;
    return server;
}

const char kUser[] = "user61";

const char kRules[] =
    "junk\t第2回\tsubject\tcontains\t第2回\n"
    "junk\t大きい\tsize\tover\t100000\n"
    "junk\tセール\tsubject\tcontains\tsale\n"
    "friend\t山田1\tfrom-address\tis\tYAMADA1@example.jp\n"
    "junk\t会議\tsubject\tregex\t^会議の予定\n";

// Marks and reason of each row, as "junk:name", "friend" or "".
std::vector<std::string> Verdicts(const Mailbox& box, const RuleSet& rules) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < box.Count(); ++i) {
        const std::uint8_t flags = box.Flags(i);
        out.push_back(flags & kMarkFriend ? "friend" : flags & kMarkJunk ? "junk:" + rules.Name(box.JunkRule(i)) : "");
    }
    return out;
}

class SessionRules : public ::testing::TestWithParam<bool>, protected LiveSession {
protected:
    void SetUp() override {
        Dovecot().ClearMailbox(kUser);
        for (const JapaneseMessage& m : JapaneseMessages(3)) Dovecot().AddMessage(kUser, m.text);
        // ＳＡＬＥ in a UTF-8 word.
        Dovecot().AddMessage(
            kUser, "From: shop@example.com\r\nSubject: =?UTF-8?B?77yz77yh77ys77ylIOS7iuOBoOOBkQ==?=\r\n\r\nx\r\n");
        Dovecot().AddMessage(kUser, AsciiMessage(5) + std::string(150000, 'x') + "\r\n");
    }
    void Prepare(std::initializer_list<int> bits) {
        Configure(kUser, "127.0.0.1", Dovecot().port(), bits);
        if (GetParam()) owner.account.popOptions.Set(POPPipelining);
        owner.rules = &rules;
    }
    RuleSet rules{RuleFile::Parse(kRules)};
};

TEST_P(SessionRules, RowsAreMarkedAsTheirHeadersArrive) {
    Prepare({POPReadHeader, POPAuthBasic, POPUseTop, POPDecodeMime, POPApplyRules});
    ConnectToReady();
    EXPECT_EQ(Verdicts(session->Mailbox(), rules),
              (std::vector<std::string>{"friend", "junk:第2回", "junk:会議", "junk:セール", "junk:大きい"}));
    EXPECT_GT(owner.markNotices, 0);

    // New rules take effect on every row at once.
    rules = RuleSet(RuleFile::Parse("junk\tall\tfrom\tcontains\t@\n"));
    const int notices = owner.markNotices;
    session->JudgeAllEntries();
    EXPECT_EQ(Verdicts(session->Mailbox(), rules), std::vector<std::string>(5, "junk:all"));
    EXPECT_EQ(owner.markNotices, notices + 1);
    Disconnect();
}

TEST_P(SessionRules, WithoutHeadersOnlySizeRulesApply) {
    Prepare({POPAuthBasic, POPApplyRules});
    ConnectToReady();
    EXPECT_EQ(Verdicts(session->Mailbox(), rules), (std::vector<std::string>{"", "", "", "", "junk:大きい"}));
    Disconnect();
}

TEST_P(SessionRules, WithTheBitClearNothingIsMarked) {
    Prepare({POPReadHeader, POPAuthBasic, POPUseTop, POPDecodeMime});
    ConnectToReady();
    EXPECT_EQ(Verdicts(session->Mailbox(), rules), std::vector<std::string>(5, ""));
    session->JudgeAllEntries();
    EXPECT_EQ(owner.markNotices, 0);
    Disconnect();
}

TEST_P(SessionRules, ARegexPastItsLimitIsNoMatchAndOneLogLine) {
    Dovecot().AddMessage(kUser, "From: a@b.example\r\nSubject: " + std::string(40, 'a') + "!\r\n\r\nx\r\n");
    rules = RuleSet(RuleFile::Parse("junk\tslow\tsubject\tregex\t^(\\w+\\s?)*$\n"));
    Prepare({POPReadHeader, POPAuthBasic, POPUseTop, POPApplyRules});
    ConnectToReady();
    // "message 5" matches in no time; the sixth subject makes it backtrack without end.
    EXPECT_EQ(Verdicts(session->Mailbox(), rules), (std::vector<std::string>{"", "", "", "", "junk:slow", ""}));
    const std::string line =
        texts::Cp932("規則「slow」はメッセージ 6 で正規表現の照合の上限に達したため、一致しないものとしました");
    EXPECT_EQ(std::count(owner.log.begin(), owner.log.end(), line), 1) << ::testing::PrintToString(owner.log);
    Disconnect();
}

INSTANTIATE_TEST_SUITE_P(LockStepAndPipelined, SessionRules, ::testing::Bool());

}  // namespace
