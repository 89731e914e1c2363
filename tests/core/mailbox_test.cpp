#include "core/mailbox.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Writes each notice as one short line, and checks that the box is already
// in its new shape when told.
struct NoticeLog : MailboxListener {
    std::vector<std::string> lines;
    void EntriesAdded(const Mailbox& box, std::size_t first, std::size_t count) override {
        lines.push_back("added " + std::to_string(first) + "+" + std::to_string(count) + " of " +
                        std::to_string(box.Count()));
    }
    void EntryFilled(const Mailbox& box, std::size_t index) override {
        lines.push_back("filled " + std::to_string(index) + " " + std::string(box.Subject(index)));
    }
    void EntryRemoved(const Mailbox& box, std::size_t index) override {
        lines.push_back("removed " + std::to_string(index) + " of " + std::to_string(box.Count() + 1));
    }
    void EntriesCleared(const Mailbox& box) override { lines.push_back("cleared " + std::to_string(box.Count())); }
};

std::vector<std::int32_t> Numbers(const Mailbox& box) {
    std::vector<std::int32_t> numbers;
    for (std::size_t i = 0; i < box.Count(); ++i) numbers.push_back(box.Number(i));
    return numbers;
}

}  // namespace

TEST(Mailbox, KeepsTheHeaderBlockAndTheTextsOfEachEntry) {
    struct Case {
        const char* name;
        std::string text;
        std::string header;
    };
    const Case cases[] = {
        {"top reply", "12 octets\r\nSubject: s\r\n", "12 octets\r\nSubject: s\r\n"},
        {"retr with body", "\r\nSubject: s\r\n\r\nbody\r\n\r\nmore", "\r\nSubject: s\r\n\r\n"},
        {"bare line feeds", "Subject: s\n\nbody", "Subject: s\n\n"},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Mailbox box;
        box.Add({{1, 10}, {2, 20}});
        box.Fill(1, c.text, "d", "s", "f");
        EXPECT_FALSE(box.Filled(0));
        EXPECT_EQ(box.Header(0), "");
        EXPECT_TRUE(box.Filled(1));
        EXPECT_EQ(box.Header(1), c.header);
        EXPECT_EQ(box.Date(1), "d");
        EXPECT_EQ(box.Subject(1), "s");
        EXPECT_EQ(box.Sender(1), "f");
        EXPECT_EQ(box.Size(1), 20);
    }
}

TEST(Mailbox, ReportsEveryChangeAfterMakingIt) {
    NoticeLog log;
    Mailbox box(&log);
    box.Add({{3, 1}, {5, 1}, {9, 1}});
    box.Add({});
    box.Fill(2, "Subject: x\r\n", "", "x", "");
    box.Fill(7, "ignored", "", "y", "");
    box.Remove(0);
    box.Remove(5);
    EXPECT_EQ(box.Find(9), std::optional<std::size_t>(1));
    EXPECT_EQ(box.Subject(1), "x");
    box.Clear();
    EXPECT_EQ(log.lines, (std::vector<std::string>{"added 0+3 of 3", "filled 2 x", "removed 0 of 3", "cleared 0"}));
}

TEST(Mailbox, FindsNumbersInAnyListingOrder) {
    struct Case {
        std::vector<Mailbox::Listed> listed;
        std::int32_t number;
        std::optional<std::size_t> index;
    };
    const Case cases[] = {
        {{{1, 0}, {2, 0}, {4, 0}}, 4, 2}, {{{1, 0}, {2, 0}, {4, 0}}, 3, std::nullopt},
        {{{7, 0}, {2, 0}, {4, 0}}, 2, 1}, {{{7, 0}, {2, 0}, {4, 0}}, 5, std::nullopt},
        {{{2, 0}, {2, 0}}, 2, 0},         {{}, 1, std::nullopt},
    };
    for (const Case& c : cases) {
        Mailbox box;
        box.Add(c.listed);
        EXPECT_EQ(box.Find(c.number), c.index) << c.number;
    }
}

TEST(Mailbox, RefillsAndRemovalsDoNotGrowTheBufferWithoutBound) {
    Mailbox box;
    std::vector<Mailbox::Listed> listed;
    for (std::int32_t n = 1; n <= 1000; ++n) listed.push_back({n, n});
    box.Add(listed);
    const std::string header(2000, 'h');
    for (int round = 0; round < 5; ++round)
        for (std::size_t i = 0; i < box.Count(); ++i) box.Fill(i, header, "d", "s" + std::to_string(i), "f");
    EXPECT_LT(box.TextBytes(), 2 * 1000 * 2100u);
    for (int i = 0; i < 900; ++i) box.Remove(0);
    EXPECT_LT(box.TextBytes(), 2 * 100 * 2100u + (1u << 21));
    EXPECT_EQ(Numbers(box).front(), 901);
    EXPECT_EQ(box.Subject(0), "s900");
    EXPECT_EQ(box.Header(99), header);
}

TEST(Mailbox, UniqueIdsAndMarksStayWithTheirEntry) {
    Mailbox box;
    box.Add({{1, 0}, {2, 0}, {3, 0}});
    EXPECT_EQ(box.UniqueId(0), "");
    box.SetUniqueId(1, "abc");
    box.SetUniqueId(2, "x");
    box.SetUniqueId(2, "longer");
    box.SetFlags(2, 0x5);
    box.Remove(0);
    EXPECT_EQ(box.UniqueId(0), "abc");
    EXPECT_EQ(box.UniqueId(1), "longer");
    EXPECT_EQ(box.Flags(1), 0x5);
    EXPECT_EQ(box.Flags(0), 0);
}
