#include "mime/mail_entry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "mime/message_view.h"

namespace {

using Lines = std::vector<std::string>;

const std::string kA = "\x82\xa0";
const std::string kWordA = "=?ISO-2022-JP?B?GyRCJCIbKEI=?=";

MailEntry ListedRow(std::string number, std::string size) {
    return MailEntry{std::move(number), {std::move(size)}};
}

TEST(FillMailEntry, PadsAndFillsTheThreeCells) {
    MailEntry row = ListedRow("3", "1200");
    FillMailEntry(row, "1200 octets\r\nDate: Mon, 7 Dec 2026 12:34:56 +0900\r\nSubject: Re: " + kWordA +
                           "\r\nFrom: " + kWordA + " <a@example.jp>\r\n");
    EXPECT_EQ(row.number, "3");
    EXPECT_EQ(row.subItems, (Lines{"1200", "Mon, 7 Dec 2026 12:34:56 +0900", "Re: " + kA, kA + " <a@example.jp>"}));
}

TEST(FillMailEntry, MissingOrMiscasedFieldsGiveEmptyCells) {
    MailEntry row = ListedRow("1", "10");
    FillMailEntry(row, "subject: x\r\nFrom: f");
    EXPECT_EQ(row.subItems, (Lines{"10", "", "", "f"}));
}

TEST(FillMailEntry, FoldedWordsShowTheFoldSpace) {
    MailEntry row = ListedRow("1", "10");
    FillMailEntry(row, "Subject: " + kWordA + "\r\n " + kWordA + "\r\n");
    EXPECT_EQ(row.subItems[2], kA + " " + kA);
}

TEST(FillMailEntry, RefillOverwritesAndKeepsExtraCells) {
    MailEntry row = ListedRow("1", "10");
    FillMailEntry(row, "Subject: s\r\n\r\nbody");
    FillMailEntry(row, "Subject: s\r\n\r\nbody");
    EXPECT_EQ(row.subItems, (Lines{"10", "", "s", ""}));
    MailEntry bare{"2", {}};
    FillMailEntry(bare, "Date: d");
    EXPECT_EQ(bare.subItems, (Lines{" ", "d", "", ""}));
}

TEST(MessageViewLines, BodyOnlyOrHeaderSpaceBody) {
    const std::string text = "12 octets\r\nSubject: " + kWordA + "\r\n\r\n\x1b$B\x24\x22\x1b(B\r\nQUJD\r\n";
    EXPECT_EQ(MessageViewLines(text, false), (Lines{kA, "QUJD", ""}));
    EXPECT_EQ(MessageViewLines(text, true), (Lines{"12 octets", "Subject: " + kWordA, " ", kA, "QUJD", ""}));
}

TEST(MessageViewLines, EmptyBodyIsOneEmptyLine) {
    EXPECT_EQ(MessageViewLines("H: v\r\n", false), (Lines{""}));
    EXPECT_EQ(MessageViewLines("H: v\r\n", true), (Lines{"H: v", "", " ", ""}));
    EXPECT_EQ(MessageViewLines("", false), (Lines{""}));
}

TEST(MessageViewLines, LoneCrStaysInItsLine) {
    EXPECT_EQ(MessageViewLines("H: v\r\n\r\na\rb\r\nc", false), (Lines{"a\rb", "c"}));
}

TEST(ListNumberValue, ReadsDigitsSafely) {
    EXPECT_EQ(ListNumberValue("900"), 900);
    EXPECT_EQ(ListNumberValue(" 12x"), 12);
    EXPECT_EQ(ListNumberValue("-5"), -5);
    EXPECT_EQ(ListNumberValue(""), 0);
    EXPECT_EQ(ListNumberValue("abc"), 0);
    EXPECT_EQ(ListNumberValue("99999999999999999999999"), INT64_MAX);
    EXPECT_EQ(ListNumberValue("4294967296"), 4294967296LL);
}

struct SortCase {
    const char* name;
    int tag;
    std::vector<MailEntry> rows;
    Lines numbersInOrder;
};

class CompareMailEntriesTest : public ::testing::TestWithParam<SortCase> {};

TEST_P(CompareMailEntriesTest, SortsAscending) {
    auto rows = GetParam().rows;
    const int tag = GetParam().tag;
    std::stable_sort(rows.begin(), rows.end(),
                     [tag](const MailEntry& a, const MailEntry& b) { return CompareMailEntries(a, b, tag) < 0; });
    Lines numbers;
    for (const auto& r : rows) numbers.push_back(r.number);
    EXPECT_EQ(numbers, GetParam().numbersInOrder);
    // Choosing the same key again gives the same order.
    std::stable_sort(rows.begin(), rows.end(),
                     [tag](const MailEntry& a, const MailEntry& b) { return CompareMailEntries(a, b, tag) < 0; });
    Lines again;
    for (const auto& r : rows) again.push_back(r.number);
    EXPECT_EQ(again, numbers);
}

MailEntry Row(std::string number, std::string size, std::string date, std::string subject, std::string from) {
    return MailEntry{std::move(number), {std::move(size), std::move(date), std::move(subject), std::move(from)}};
}

INSTANTIATE_TEST_SUITE_P(
    Tags, CompareMailEntriesTest,
    ::testing::Values(SortCase{"NumberIsNumeric",
                               0,
                               {ListedRow("10", "1"), ListedRow("9", "1"), ListedRow("100", "1")},
                               {"9", "10", "100"}},
                      SortCase{"SizeIsNumeric",
                               1,
                               {ListedRow("1", "1000"), ListedRow("2", "900"), ListedRow("3", "5000000000")},
                               {"2", "1", "3"}},
                      SortCase{"SizeMissingFirst", 1, {ListedRow("1", "5"), MailEntry{"2", {}}}, {"2", "1"}},
                      SortCase{"DateByTextWeekdayFirst",
                               2,
                               {Row("1", "1", "Mon, 7 Dec 2026", "", ""), Row("2", "1", "Fri, 11 Dec 2026", "", "")},
                               {"2", "1"}},
                      SortCase{"SubjectRowsWithoutHeaderFirst",
                               3,
                               {Row("1", "1", "", "b", ""), ListedRow("2", "1"), Row("3", "1", "", "a", ""),
                                ListedRow("4", "1")},
                               {"2", "4", "3", "1"}},
                      SortCase{"SenderByText",
                               4,
                               {Row("1", "1", "", "", "b"), Row("2", "1", "", "", "c"), Row("3", "1", "", "", "a")},
                               {"3", "1", "2"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CompareMailEntries, RowsWithoutValueAreEqualAndUnknownTagIsNeutral) {
    const MailEntry a = ListedRow("1", "1");
    const MailEntry b = ListedRow("2", "2");
    EXPECT_EQ(CompareMailEntries(a, b, 3), 0);
    EXPECT_LT(CompareMailEntries(a, Row("3", "1", "d", "s", "f"), 2), 0);
    EXPECT_GT(CompareMailEntries(Row("3", "1", "d", "s", "f"), a, 4), 0);
    EXPECT_EQ(CompareMailEntries(a, b, 7), 0);
    // Sizes beyond 32 bits do not wrap around.
    EXPECT_GT(CompareMailEntries(ListedRow("1", "3000000000"), ListedRow("2", "1"), 1), 0);
}

}  // namespace
