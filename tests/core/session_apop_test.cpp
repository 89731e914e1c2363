#include "core/session_apop.h"

#include <gtest/gtest.h>

namespace {

TEST(SessionApop, DigestOfRfc1939Example) {
    EXPECT_EQ(ApopDigest("<1896.697170952@dbc.mtview.ca.us>", "tanstaaf"), "c4c9334bac560ecc979e58001b3e22fb");
}

TEST(SessionApop, TimestampRunsFromFirstBracketToTheFirstClosingOne) {
    EXPECT_EQ(ApopTimestamp("POP3 server ready <1896.697170952@dbc.mtview.ca.us>"),
              "<1896.697170952@dbc.mtview.ca.us>");
    EXPECT_EQ(ApopTimestamp("ready <a@b> and more"), "<a@b>");
    EXPECT_EQ(ApopTimestamp("<x> <y>"), "<x>");
    EXPECT_EQ(ApopTimestamp("a > b <c>>"), "<c>");
    EXPECT_EQ(ApopTimestamp("cut <a@b"), "<a@b");
    EXPECT_EQ(ApopTimestamp("no stamp here"), std::nullopt);
    EXPECT_EQ(ApopTimestamp(""), std::nullopt);
}

TEST(SessionApop, TextAfterTimestampChangesDigest) {
    EXPECT_NE(ApopDigest("<a@b>", "pass"), ApopDigest("<a@b> x", "pass"));
    EXPECT_EQ(ApopDigest("<a@b>", "").size(), 32u);
}

}  // namespace
