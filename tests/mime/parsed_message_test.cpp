#include "mime/parsed_message.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

std::string Field(const ParsedMessage& m, const std::string& name) {
    std::string out = "junk";
    EXPECT_TRUE(m.GetField(name, out)) << name;
    return out;
}

ParsedMessage Parsed(const std::string& text) {
    ParsedMessage m;
    m.Parse(text);
    return m;
}

TEST(ParsedMessageFields, FoldedLinesKeepTheirWhiteSpace) {
    EXPECT_EQ(Field(Parsed("Subject: Hello\r\n world\r\nFrom: a"), "Subject"), "Hello world");
    EXPECT_EQ(Field(Parsed("Subject: Hello\r\n\tworld\r\nFrom: a"), "Subject"), "Hello\tworld");
    EXPECT_EQ(Field(Parsed("Subject: Hello\r\n world\r\nFrom: a"), "From"), "a");
}

TEST(ParsedMessageFields, RepeatsKeepLastExceptReceived) {
    const auto m = Parsed("Subject: one\r\nReceived: r1\r\nSubject: two\r\nReceived: r2");
    EXPECT_EQ(Field(m, "Subject"), "two");
    EXPECT_EQ(Field(m, "Received"), "r1r2");
}

TEST(ParsedMessageFields, NamesAreExactBytes) {
    const auto m = Parsed("subject: x\r\nSubject : y");
    std::string out = "junk";
    EXPECT_FALSE(m.GetField("Subject", out));
    EXPECT_EQ(out, "");
    EXPECT_EQ(Field(m, "subject"), "x");
    EXPECT_EQ(Field(m, "Subject "), "y");
}

TEST(ParsedMessageFields, ColonSpaceRules) {
    const auto m = Parsed("From: a\r\nSubject:x\r\nTo:  two\r\nX-Note: a: b\r\n Cc: c");
    EXPECT_EQ(Field(m, "From"), "aSubject:x");  // no space after colon: joined
    EXPECT_EQ(Field(m, "To"), " two");
    EXPECT_EQ(Field(m, "X-Note"), "a: b");
    EXPECT_EQ(Field(m, " Cc"), "c");  // continuation with ": " starts a field
}

TEST(ParsedMessageFields, StatusLineGoesToUnknown) {
    EXPECT_EQ(Field(Parsed("1234 octets\r\nSubject: s"), "unknown"), "1234 octets");
    std::string out;
    EXPECT_FALSE(Parsed("Subject: s\r\nFrom: f").GetField("unknown", out));
    const auto empty = Parsed("");
    EXPECT_EQ(empty.fields.size(), 1u);
    EXPECT_EQ(Field(empty, "unknown"), "");
}

TEST(ParsedMessageFields, ValuesAreNotTrimmedAndLoneCrStays) {
    const auto m = Parsed("A: x  \r\nB: y\rz\r\n");
    EXPECT_EQ(Field(m, "A"), "x  ");
    EXPECT_EQ(Field(m, "B"), "y\rz");
}

TEST(ParsedMessageFields, EncodedWordsDecodedOnlyInFieldValues) {
    const auto m = Parsed(
        "Subject: =?ISO-2022-JP?B?GyRCJCIbKEI=?=\r\n =?ISO-2022-JP?B?GyRCJCIbKEI=?=\r\n"
        "X-Jis: \x1b$B\x24\x22\x1b(B\r\n\r\nbody");
    EXPECT_EQ(Field(m, "Subject"), "\x82\xa0 \x82\xa0");
    EXPECT_EQ(Field(m, "X-Jis"), "\x1b$B\x24\x22\x1b(B");  // raw JIS without words stays
    std::string header;
    ASSERT_TRUE(m.GetPart(-1, header));
    EXPECT_NE(header.find("=?ISO-2022-JP?B?GyRCJCIbKEI=?=\n =?"), std::string::npos);
}

TEST(ParsedMessageParts, CutAtFirstBlankLine) {
    const auto m = Parsed("H: v\r\n\r\nline1\r\nline2");
    std::string header, body;
    EXPECT_TRUE(m.GetPart(-1, header));
    EXPECT_TRUE(m.GetPart(0, body));
    EXPECT_EQ(header, "H: v");
    EXPECT_EQ(body, "line1\nline2");
}

TEST(ParsedMessageParts, NoBlankLineMeansNoBody) {
    const auto m = Parsed("+OK\r\nH: v\r\n");
    std::string header = "junk", body = "junk";
    EXPECT_TRUE(m.GetPart(-1, header));
    EXPECT_TRUE(m.GetPart(0, body));
    EXPECT_EQ(header, "+OK\nH: v\n");
    EXPECT_EQ(body, "");
    EXPECT_EQ(Field(m, "unknown"), "+OK");
}

TEST(ParsedMessageParts, BodyEndsAtDotLineAndIsConverted) {
    const auto m = Parsed("H: v\r\n\r\n\x1b$B\x24\x22\x1b(B\r\n..dot\r\n.\r\nafter"s);
    std::string body;
    m.GetPart(0, body);
    // The stuffed dot stays doubled; nothing after the dot line is kept.
    EXPECT_EQ(body, "\x82\xa0\n..dot");
}

TEST(ParsedMessageParts, OtherIndexesFail) {
    const auto m = Parsed("H: v\r\n\r\nb");
    for (int index : {-2, 1, 2, 100}) {
        std::string out = "junk";
        EXPECT_FALSE(m.GetPart(index, out)) << index;
        EXPECT_EQ(out, "");
    }
    ParsedMessage never;
    std::string out = "junk";
    EXPECT_FALSE(never.GetPart(0, out));
}

TEST(ParsedMessage, ParseReplacesEverything) {
    ParsedMessage m;
    m.Parse("A: 1\r\n\r\nfirst");
    m.Parse("B: 2");
    std::string out;
    EXPECT_FALSE(m.GetField("A", out));
    EXPECT_EQ(m.parts.size(), 2u);
    m.GetPart(0, out);
    EXPECT_EQ(out, "");
}

TEST(ParsedMessage, HugeHostileHeaderIsParsed) {
    // Many short lines, one long name and many words: finishes and keeps
    // every byte where it belongs.
    std::string text;
    for (int i = 0; i < 100000; ++i) {
        text +=
            "X" + std::to_string(i % 1000) + ": =?ISO-2022-JP?B?GyRCJCIbKEI=?=\r\n =?ISO-2022-JP?B?GyRCJCIbKEI=?=\r\n";
    }
    text += std::string(1 << 20, 'n') + ": v";
    const auto m = Parsed(text);
    EXPECT_EQ(m.fields.size(), 1001u);
    EXPECT_EQ(Field(m, "X999"), "\x82\xa0 \x82\xa0");
    EXPECT_EQ(Field(m, std::string(1 << 20, 'n')), "v");
}

TEST(CrLfToLf, OnlyPairsChange) {
    EXPECT_EQ(CrLfToLf("a\r\nb\rc\n\r\r\n"), "a\nb\rc\n\r\n");
    EXPECT_EQ(CrLfToLf(""), "");
}

}  // namespace
