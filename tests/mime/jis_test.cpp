#include "mime/jis.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using namespace std::string_literals;

struct JisCase {
    const char* name;
    std::string in;
    std::string out;
};

class JisToShiftJisTest : public ::testing::TestWithParam<JisCase> {};

TEST_P(JisToShiftJisTest, Converts) {
    EXPECT_EQ(JisToShiftJis(GetParam().in), GetParam().out);
}

const std::string kIn = "\x1b$B"s;   // kanji in (1983)
const std::string kOut = "\x1b(B"s;  // ASCII

INSTANTIATE_TEST_SUITE_P(
    WorkedPairs, JisToShiftJisTest,
    ::testing::Values(
        // Each pair hits one branch of the lead and trail arithmetic.
        JisCase{"HiraganaA", kIn + "\x24\x22", "\x82\xa0"}, JisCase{"KatakanaA", kIn + "\x25\x22", "\x83\x41"},
        JisCase{"Row30", kIn + "\x30\x21", "\x88\x9f"}, JisCase{"Row5D", kIn + "\x5d\x21", "\x9f\x40"},
        JisCase{"Row5E", kIn + "\x5e\x21", "\x9f\x9f"}, JisCase{"Row5F", kIn + "\x5f\x21", "\xe0\x40"},
        JisCase{"OddRowHighTrail", kIn + "\x2b\x60", "\x86\x80"}, JisCase{"Last", kIn + "\x7e\x7e", "\xef\xfc"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(EscapeTable, JisToShiftJisTest,
                         ::testing::Values(JisCase{"Jis1978On", "\x1b$@\x24\x22"s, "\x82\xa0"},
                                           JisCase{"RomanOff", kIn + "\x24\x22\x1b(Jx", "\x82\xa0x"},
                                           JisCase{"HOff", kIn + "\x24\x22\x1b(Hx", "\x82\xa0x"},
                                           JisCase{"EscKOnEscHOff", "\x1bK\x24\x22\x1bH\x24\x22"s, "\x82\xa0\x24\x22"},
                                           JisCase{"UnknownDollarCopied", "\x1b$A\x24\x22"s, "\x1b$A\x24\x22"s},
                                           JisCase{"KatakanaDesignationCopied", "\x1b(I1"s, "\x1b(I1"s},
                                           JisCase{"UnknownEscCopied", "\x1bNab"s, "\x1bNab"s},
                                           JisCase{"UnknownDollarKeepsKanjiMode", kIn + "\x1b$A\x24\x22",
                                                   "\x1b$A\x82\xa0"}),
                         [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, JisToShiftJisTest,
    ::testing::Values(JisCase{"ClosedThenAscii", kIn + "\x24\x22" + kOut + "x", "\x82\xa0x"},
                      JisCase{"UnclosedRunsOverLines", kIn + "\x24\x22\n\x24\x22", "\x82\xa0\n\x82\xa0"},
                      JisCase{"PairBrokenByLf", kIn + "\x24\n\x24\x22", "\x24\n\x82\xa0"},
                      JisCase{"PairBrokenBySpace", kIn + "\x24 \x24\x22", "\x24 \x82\xa0"},
                      JisCase{"EightBitNeverPairs", kIn + "\x82\xa0\x24\x22", "\x82\xa0\x82\xa0"},
                      JisCase{"ShiftJisUnchanged", "\x82\xa0 abc \x93\xfa"s, "\x82\xa0 abc \x93\xfa"s},
                      JisCase{"AsciiUnchanged", "Hello, world\r\n", "Hello, world\r\n"},
                      JisCase{"EndsInEscDollar", "ab\x1b$"s, "ab\x1b$"s},
                      JisCase{"EndsInEscParen", "ab\x1b("s, "ab\x1b("s}, JisCase{"EndsInEsc", "ab\x1b"s, "ab\x1b"s},
                      JisCase{"EndsInsidePair", kIn + "\x24\x22\x24", "\x82\xa0\x24"},
                      JisCase{"NulEndsInput", "ab\0cd"s, "ab"},
                      JisCase{"NulInsideEscape", "a\x1b$\0B\x24\x22"s, "a\x1b$"s},
                      JisCase{"NulInsidePair", kIn + "\x24\0\x22"s, "\x24"}, JisCase{"Empty", "", ""},
                      // A stray ESC is never eaten as data, so the next switch still works.
                      JisCase{"BrokenPairBeforeEscape", kIn + "\x24" + kOut + "ab",
                              "\x24"
                              "ab"},
                      JisCase{"EscDollarEsc", "\x1b$" + kIn + "\x24\x22", "\x1b$\x82\xa0"},
                      JisCase{"DoubleEsc", "\x1b" + kIn + "\x24\x22", "\x1b\x82\xa0"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JisToShiftJis, EveryCallStartsInOneByteMode) {
    EXPECT_EQ(JisToShiftJis(kIn + "\x24\x22"), "\x82\xa0");
    EXPECT_EQ(JisToShiftJis("\x24\x22"), "\x24\x22");
}

TEST(JisToShiftJis, AllRowsMatchReferenceArithmetic) {
    // Every pair 0x21..0x7E must land in the Shift_JIS lead and trail ranges
    // and be distinct, i.e. the mapping is one-to-one.
    std::string seen;
    for (int j1 = 0x21; j1 <= 0x7e; ++j1) {
        for (int j2 = 0x21; j2 <= 0x7e; ++j2) {
            const std::string in = kIn + static_cast<char>(j1) + static_cast<char>(j2);
            const std::string out = JisToShiftJis(in);
            ASSERT_EQ(out.size(), 2u);
            const auto s1 = static_cast<unsigned char>(out[0]);
            const auto s2 = static_cast<unsigned char>(out[1]);
            EXPECT_TRUE((s1 >= 0x81 && s1 <= 0x9f) || (s1 >= 0xe0 && s1 <= 0xef)) << j1 << ' ' << j2;
            EXPECT_TRUE(s2 >= 0x40 && s2 <= 0xfc && s2 != 0x7f) << j1 << ' ' << j2;
            seen += out;
        }
    }
    std::set<std::string> distinct;
    for (std::size_t i = 0; i < seen.size(); i += 2) {
        distinct.insert(seen.substr(i, 2));
    }
    EXPECT_EQ(distinct.size(), 94u * 94u);
}

TEST(JisToShiftJis, LongRunsMatchPairByPair) {
    // One kanji run holding every pair, cut off after each length, and
    // broken by a foreign byte at every offset: block and byte paths agree.
    std::string run;
    std::string expected;
    for (int j1 = 0x21; j1 <= 0x7e; ++j1) {
        for (int j2 = 0x21; j2 <= 0x7e; ++j2) {
            const std::string pair{static_cast<char>(j1), static_cast<char>(j2)};
            run += pair;
            expected += JisToShiftJis(kIn + pair);
        }
    }
    EXPECT_EQ(JisToShiftJis(kIn + run), expected);
    for (std::size_t cut = 0; cut < 40; ++cut) {
        for (const char foreign : {'\n', ' ', '\x7f', '\x80', '\xff'}) {
            std::string in = run.substr(0, 40);
            in[cut] = foreign;
            std::string want;
            for (std::size_t k = 0; k < in.size();) {
                if (k + 1 < in.size() && k + 1 != cut && k != cut) {
                    want += JisToShiftJis(kIn + in.substr(k, 2));
                    k += 2;
                } else if (k == cut) {
                    want += in[k];
                    k += 1;
                } else {
                    want += in.substr(k, 2);  // a first byte before the foreign one
                    k += 2;
                }
            }
            EXPECT_EQ(JisToShiftJis(kIn + in), want) << "cut " << cut << " byte " << int(foreign);
        }
    }
}

TEST(JisToShiftJis, EscapeFoundAtEveryOffsetOfLongAscii) {
    for (std::size_t at = 0; at < 40; ++at) {
        const std::string ascii(at, 'a');
        EXPECT_EQ(JisToShiftJis(ascii + kIn + "\x24\x22" + kOut + std::string(37, 'b')),
                  ascii + "\x82\xa0" + std::string(37, 'b'))
            << at;
    }
}

}  // namespace
