#include "platform/locale_compare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace {

using Texts = std::vector<std::string>;

Texts Sorted(const LocaleCollator& c, Texts texts) {
    std::sort(texts.begin(), texts.end(),
              [&c](const std::string& a, const std::string& b) { return c.Compare(a, b) < 0; });
    return texts;
}

TEST(LocaleCollator, CodePointOrderInC) {
    const LocaleCollator c("C.UTF-8");
    ASSERT_TRUE(c.loaded());
    // Compared as Unicode, not as CP932 bytes: half-width katakana 0xB1
    // (U+FF71) sorts after kanji 0x93FA (U+65E5), though its byte is smaller.
    EXPECT_EQ(Sorted(c, {"\xb1", "\x93\xfa", "\x82\xa0", "b", "B", "a"}),
              (Texts{"B", "a", "b", "\x82\xa0", "\x93\xfa", "\xb1"}));
}

TEST(LocaleCollator, CaseSensitiveAndTotal) {
    for (const char* name : {"", "C", "C.UTF-8"}) {
        const LocaleCollator c(name);
        EXPECT_NE(c.Compare("a", "A"), 0) << name;
        EXPECT_EQ(c.Compare("abc", "abc"), 0) << name;
        EXPECT_EQ(c.Compare("", ""), 0) << name;
        EXPECT_LT(c.Compare("", "a"), 0) << name;
        // Invalid bytes both become U+FFFD; the bytes still tell them apart,
        // with opposite signs in the two directions.
        const int ab = c.Compare("\xfd", "\xfe");
        EXPECT_NE(ab, 0) << name;
        EXPECT_EQ(c.Compare("\xfe", "\xfd"), -ab) << name;
        // Text after a NUL byte still decides.
        EXPECT_NE(c.Compare(std::string("a\0b", 3), std::string("a\0c", 3)), 0) << name;
    }
}

TEST(LocaleCollator, UnknownLocaleFallsBackToC) {
    const LocaleCollator c("xx_NOWHERE.UTF-8");
    EXPECT_FALSE(c.loaded());
    EXPECT_LT(c.Compare("B", "a"), 0);
}

TEST(LocaleCollator, LanguageRulesWhenInstalled) {
    const LocaleCollator c("en_US.UTF-8");
    if (!c.loaded()) {
        GTEST_SKIP() << "en_US.UTF-8 is not installed";
    }
    EXPECT_EQ(Sorted(c, {"b", "B", "a"}), (Texts{"a", "b", "B"}));
}

TEST(LocaleCompare, UsableFromManyThreads) {
    std::vector<std::thread> threads;
    std::vector<Texts> results(4);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &results] {
            Texts texts;
            for (int i = 0; i < 300; ++i) texts.push_back(std::to_string((i * 7919) % 300) + "\x82\xa0");
            std::sort(texts.begin(), texts.end(),
                      [](const std::string& a, const std::string& b) { return LocaleCompare(a, b) < 0; });
            results[t] = texts;
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 1; t < 4; ++t) EXPECT_EQ(results[t], results[0]);
}

}  // namespace

// Sorting by keys orders texts as CompareUtf8 does, ties between equal keys
// going by the bytes.
TEST(LocaleCollator, SortKeysFollowTheComparison) {
    const Texts texts = {"",
                         "a",
                         "A",
                         "b",
                         "ab",
                         "a b",
                         "\xe8\xa6\x8b\xe7\xa9\x8d\xe6\x9b\xb8",  // 見積書
                         "\xe8\xad\xb0\xe4\xba\x8b\xe9\x8c\xb2",  // 議事録
                         "\xef\xbd\xb1",                          // half-width katakana A
                         "\xe3\x81\x82",                          // hiragana a
                         "\xfd",
                         "\xfe",  // both invalid: U+FFFD, told apart by the bytes
                         "Re: (12)",
                         "Re: (112)",
                         std::string("a\0b", 3),
                         std::string("a\0c", 3)};
    for (const char* name : {"", "C", "C.UTF-8", "en_US.UTF-8"}) {
        const LocaleCollator c(name);
        if (!c.loaded()) continue;
        for (const std::string& a : texts) {
            for (const std::string& b : texts) {
                const int byKey = c.SortKeyUtf8(a).compare(c.SortKeyUtf8(b));
                const int keyed = byKey != 0 ? byKey : a.compare(b);
                EXPECT_EQ(keyed < 0, c.CompareUtf8(a, b) < 0) << name << ": " << a << " / " << b;
                EXPECT_EQ(keyed == 0, c.CompareUtf8(a, b) == 0) << name << ": " << a << " / " << b;
            }
        }
    }
}
