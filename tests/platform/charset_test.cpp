#include "platform/charset.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/locale_compare.h"

namespace {

TEST(Utf8, ValidityAndReplacementFollowTheStandard) {
    struct Case {
        std::string in;
        bool valid;
        std::string sanitized;
    } cases[] = {
        {"a\xE3\x81\x82\xF0\x9F\x98\x80", true, "a\xE3\x81\x82\xF0\x9F\x98\x80"},
        {"\xC0\xAF", false, "\uFFFD\uFFFD"},                      // overlong
        {"\xED\xA0\x80", false, "\uFFFD\uFFFD\uFFFD"},            // surrogate
        {"\xF4\x90\x80\x80", false, "\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
        {"\xE3\x81", false, "\uFFFD\uFFFD"},                      // cut off
        {"\x82\xA0x", false, "\uFFFD\uFFFDx"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsValidUtf8(c.in), c.valid) << c.in;
        std::string out;
        AppendSanitizedUtf8(c.in, out);
        EXPECT_EQ(out, c.sanitized) << c.in;
    }
}

TEST(ConvertToUtf8, KnownCharsetsConvertUnknownOnesRefuse) {
    std::string out = "x";
    EXPECT_TRUE(ConvertToUtf8("\x87\x40\x81\x60\xFF", "CP932", out));
    EXPECT_EQ(out, "x①～\uFFFD");
    EXPECT_FALSE(ConvertToUtf8("abc", "NO-SUCH-CHARSET", out));
    EXPECT_EQ(out, "x①～\uFFFD");
    EXPECT_EQ(Utf8ToWide("a\xF0\x9F\x98\x80\xFF"), std::wstring(L"a\U0001F600\uFFFD"));
    EXPECT_LT(LocaleCompareUtf8("a", "b"), 0);
    EXPECT_EQ(LocaleCompareUtf8("\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"), 0);
}

}  // namespace
