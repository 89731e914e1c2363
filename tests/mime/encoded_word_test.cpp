#include "mime/encoded_word.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

const std::string kA = "\x82\xa0";  // hiragana a in Shift_JIS
const std::string kWordA = "=?ISO-2022-JP?B?GyRCJCIbKEI=?=";

TEST(DecodeBase64, PaddingYieldsNulBytes) {
    EXPECT_EQ(DecodeBase64("QQ=="), "A\0\0"s);
    EXPECT_EQ(DecodeBase64("QUI="), "AB\0"s);
    EXPECT_EQ(DecodeBase64("QUJD"), "ABC");
}

TEST(DecodeBase64, IncompleteLastGroupIsDropped) {
    EXPECT_EQ(DecodeBase64("QQ"), "");
    EXPECT_EQ(DecodeBase64("QUJDQ"), "ABC");
    EXPECT_EQ(DecodeBase64("QUJDQUI"), "ABC");
}

TEST(DecodeBase64, LineBreaksAndTabsSkippedSpacesCounted) {
    EXPECT_EQ(DecodeBase64("QU\r\nJ\tD"), "ABC");
    // The space counts as zero and shifts everything after it.
    EXPECT_EQ(DecodeBase64("Q UJD"), "\x40\x05\x09"s);
}

TEST(DecodeBase64, FullAlphabetAndForeignBytes) {
    EXPECT_EQ(DecodeBase64("+/+/"), "\xfb\xff\xbf"s);
    EXPECT_EQ(DecodeBase64("\xff\x80!*"), "\0\0\0"s);
    EXPECT_EQ(DecodeBase64(""), "");
}

struct WordCase {
    const char* name;
    std::string in;
    std::string out;
};

class DecodeEncodedWordsTest : public ::testing::TestWithParam<WordCase> {};

TEST_P(DecodeEncodedWordsTest, Decodes) {
    std::string value = GetParam().in;
    DecodeEncodedWords(value);
    EXPECT_EQ(value, GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeEncodedWordsTest,
    ::testing::Values(WordCase{"Worked", kWordA, kA}, WordCase{"WithPrefix", "Re: " + kWordA, "Re: " + kA},
                      WordCase{"LowerCase", "=?iso-2022-jp?b?GyRCJCIbKEI=?=", kA},
                      WordCase{"MixedCase", "=?Iso-2022-Jp?b?GyRCJCIbKEI=?=", kA},
                      WordCase{"TwoWordsKeepSpace", kWordA + " " + kWordA, kA + " " + kA},
                      WordCase{"FoldKeepsTab", kWordA + "\t" + kWordA, kA + "\t" + kA},
                      WordCase{"AdjacentWords", kWordA + kWordA, kA + kA},
                      WordCase{"QEncodingStays", "=?ISO-2022-JP?Q?abc?=", "=?ISO-2022-JP?Q?abc?="},
                      WordCase{"OtherCharsetStays", "=?SHIFT_JIS?B?gqA=?=", "=?SHIFT_JIS?B?gqA=?="},
                      WordCase{"NoMarker", "plain text", "plain text"}, WordCase{"MarkerOnly", "a =? b", "a =? b"},
                      // The rest decodes past the padding NUL, which ends the text.
                      WordCase{"Unclosed", "=?ISO-2022-JP?B?GyRCJCIbKEI= tail", kA},
                      WordCase{"UnclosedTakesRest", "x =?ISO-2022-JP?B?QUJD", "x ABC"},
                      WordCase{"EmptyWordVanishes",
                               "a=?ISO-2022-JP?B?"
                               "?=b",
                               "ab"},
                      WordCase{"ShortGroupDropped", "=?ISO-2022-JP?B?QUJDQQ?=", "ABC"},
                      WordCase{"NulInMiddleCutsWord", "=?ISO-2022-JP?B?QQBC?=!", "A!"},
                      WordCase{"PrefixEndIsNotClose", "=?ISO-2022-JP?B?=QUJD?=", "\x01\x05\x09"},
                      // Decoded text that looks like an encoded word is left as it is.
                      WordCase{"DecodedWordNotDecodedAgain",
                               "=?ISO-2022-JP?B?PT9JU08tMjAyMi1KUD9CP1FVSkQ/PQ==?=", "=?ISO-2022-JP?B?QUJD?="},
                      WordCase{"DecodedHalfPrefixNotJoined",
                               "=?ISO-2022-JP?B?PT9JU08t?=2022-JP?B?QUJD?=", "=?ISO-2022-JP?B?QUJD?="}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DecodeEncodedWords, ThousandsOfWordsInOneValue) {
    std::string value;
    std::string expected;
    for (int i = 0; i < 20000; ++i) {
        value += kWordA + " ";
        expected += kA + " ";
    }
    DecodeEncodedWords(value);
    EXPECT_EQ(value, expected);
}

}  // namespace
