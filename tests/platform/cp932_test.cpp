#include "platform/cp932.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::string_literals;

struct Pair {
    const char* name;
    std::string cp932;
    std::string utf8;
};

class Cp932RoundTrip : public ::testing::TestWithParam<Pair> {};

TEST_P(Cp932RoundTrip, BothDirections) {
    EXPECT_EQ(Cp932ToUtf8(GetParam().cp932), GetParam().utf8);
    EXPECT_EQ(Utf8ToCp932(GetParam().utf8), GetParam().cp932);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Cp932RoundTrip,
    ::testing::Values(Pair{"Ascii", "Hello, world", "Hello, world"}, Pair{"BackslashIsBackslash", "C:\\dir", "C:\\dir"},
                      Pair{"Hiragana", "\x82\xa0", "あ"}, Pair{"Kanji", "\x93\xfa\x95\x74", "日付"},
                      Pair{"HalfWidthKatakana", "\xb1", "ｱ"}, Pair{"NecCircledOne", "\x87\x40", "①"},
                      Pair{"WaveDashIsFullwidthTilde", "\x81\x60", "～"},
                      Pair{"Mixed", "Re: \x91\xe8\x96\xbc", "Re: 題名"}, Pair{"Empty", "", ""},
                      Pair{"EmbeddedNul", "a\0b"s, "a\0b"s}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Cp932ToUtf8, InvalidBytesBecomeReplacementCharacters) {
    const std::string fffd = "\xef\xbf\xbd";
    // A lead byte cut off at the end.
    EXPECT_EQ(Cp932ToUtf8("a\x82"), "a" + fffd);
    // A lead byte followed by a byte that cannot trail: only the lead is lost.
    EXPECT_EQ(Cp932ToUtf8("\x82\x20x"), fffd + " x");
    // Bytes CP932 leaves undefined.
    EXPECT_EQ(Cp932ToUtf8("\xfd\xfe\xff"), fffd + fffd + fffd);
    // Long input with errors throughout keeps every good character.
    std::string in, expected;
    for (int i = 0; i < 5000; ++i) {
        in += "\x82\xa0\xff";
        expected += "あ" + fffd;
    }
    EXPECT_EQ(Cp932ToUtf8(in), expected);
}

TEST(Utf8ToCp932, UnmappableAndInvalidBecomeQuestionMarks) {
    EXPECT_EQ(Utf8ToCp932("a€b"), "a?b");  // U+20AC is not in CP932
    EXPECT_EQ(Utf8ToCp932("😀x"), "?x");    // one mark per character
    EXPECT_EQ(Utf8ToCp932("\xff\xfe"
                          "あ"),
              "??\x82\xa0");
    EXPECT_EQ(Utf8ToCp932("\xe3\x81"), "??");       // cut-off sequence, one per byte
    EXPECT_EQ(Utf8ToCp932("\xc0\xaf"), "??");       // overlong form
    EXPECT_EQ(Utf8ToCp932("\xed\xa0\x80"), "???");  // surrogate
}

TEST(Cp932ToWide, CodePoints) {
    EXPECT_EQ(Cp932ToWide("A\x82\xa0\xff"), std::wstring(L"A\u3042\uFFFD"));
}

TEST(Cp932, ConvertersAreThreadSafe) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 2000; ++i) {
                if (Cp932ToUtf8("\x93\xfa\x95\x74\xff") != "日付\xef\xbf\xbd" ||
                    Utf8ToCp932("日付€") != "\x93\xfa\x95\x74?") {
                    ++failures[t];
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
