#include "accounts/number_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ParseUnsignedAuto, BehavesLikeStrtoulWithAutomaticBase) {
    const struct {
        std::string text;
        std::uint32_t expected;
    } cases[] = {
        {"110", 110},
        {"0110", 72},  // octal, typed by hand
        {"0x6e", 110},
        {"0X6E", 110},
        {"  \t\n25", 25},
        {"+25", 25},
        {"25abc", 25},
        {"089", 0},  // octal stops at 8
        {"0x", 0},   // no hex digit: the 0 is the number
        {"0xg", 0},
        {"", 0},
        {"abc", 0},
        {"-", 0},
        {" ", 0},
        {"4294967295", 4294967295u},
        {"4294967296", 4294967295u},
        {"99999999999999999999999999", 4294967295u},
        {"0xFFFFFFFFF", 4294967295u},
        {"-1", 4294967295u},
        {"-110", static_cast<std::uint32_t>(-110)},
        {"-2147483648", 0x80000000u},
        {"-4294967296", 4294967295u},  // magnitude too large saturates
        {"1048576", 1u << 20},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseUnsignedAuto(c.text), c.expected) << '"' << c.text << '"';
    }
}

TEST(ParseUnsignedAuto, EverySignedPortReadsBackThroughInt32) {
    for (std::int32_t port : {0, 1, 25, 110, 65535, -1, -110, 2147483647, -2147483647 - 1}) {
        EXPECT_EQ(static_cast<std::int32_t>(ParseUnsignedAuto(std::to_string(port))), port);
    }
}

TEST(ParseDecimal, BehavesLikeAtolOnA32BitLong) {
    const struct {
        std::string text;
        std::int32_t expected;
    } cases[] = {
        {"3", 3},
        {"  12x", 12},
        {"-7", -7},
        {"+7", 7},
        {"", 0},
        {"x1", 0},
        {"0x10", 0},
        {"010", 10},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"-2147483649", -2147483647 - 1},
        {"99999999999999999999", 2147483647},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseDecimal(c.text), c.expected) << '"' << c.text << '"';
    }
}

TEST(ParseSettingsVersion, CombinesMajorAndMinor) {
    const struct {
        std::string text;
        std::int32_t expected;
    } cases[] = {
        {"0.33", 33}, {"0.31", 31},   {"1.0", 65536},    {"1.2", 65538}, {"", 0}, {"0.", 0},
        {".33", 33},  {"2", 131072},  {"0.33\r\n9", 33}, {"0.\n33", 0},  // the minor number ends at the line end
        {"abc", 0},   {"0.33.1", 33},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseSettingsVersion(c.text), c.expected) << '"' << c.text << '"';
    }
}

}  // namespace
