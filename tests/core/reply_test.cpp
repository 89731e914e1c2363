#include "core/reply.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ReplyCase {
    std::string reply;
    ReplyStatus status;
    std::string rest;
};

class ClassifyReplyTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ClassifyReplyTest, StatusAndRest) {
    const ReplyCase& c = GetParam();
    std::string rest = "stale";
    EXPECT_EQ(ClassifyReply(c.reply, rest), c.status);
    EXPECT_EQ(rest, c.rest);

    std::string strictRest = "stale";
    EXPECT_EQ(IsPositiveReply(c.reply, &strictRest), c.status == ReplyStatus::Positive);
    EXPECT_EQ(strictRest, c.rest);
    EXPECT_EQ(IsPositiveReply(c.reply), c.status == ReplyStatus::Positive);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ClassifyReplyTest,
    ::testing::Values(
        ReplyCase{"+OK 3 messages", ReplyStatus::Positive, "3 messages"},
        ReplyCase{"-ERR no such message", ReplyStatus::Negative, "no such message"},
        ReplyCase{"+OK", ReplyStatus::Unknown, "+OK"}, ReplyCase{"-ERR", ReplyStatus::Negative, ""},
        ReplyCase{"-ERR\r\nmore", ReplyStatus::Negative, ""}, ReplyCase{"-ERRx", ReplyStatus::Unknown, "-ERRx"},
        ReplyCase{"-ERR\r", ReplyStatus::Unknown, "-ERR\r"}, ReplyCase{"+OK ", ReplyStatus::Positive, ""},
        ReplyCase{"-ERR ", ReplyStatus::Negative, ""}, ReplyCase{"+ok 1 2", ReplyStatus::Unknown, "+ok 1 2"},
        ReplyCase{"-err bad", ReplyStatus::Unknown, "-err bad"}, ReplyCase{"", ReplyStatus::Unknown, ""},
        ReplyCase{"+OK\r\n1 120", ReplyStatus::Unknown, "+OK\r\n1 120"},
        ReplyCase{"+OK 1 octets\r\nSubject: x\r\n..dot", ReplyStatus::Positive, "1 octets\r\nSubject: x\r\n..dot"},
        ReplyCase{std::string("+OK \0x", 6), ReplyStatus::Positive, std::string("\0x", 2)}));

// Callers fail only on Negative: every reply that is not "-ERR " with its
// space, or "-ERR" alone, reads as success, however odd.
TEST(ClassifyReply, NegativeCountsAsFailureAndUnknownAsSuccess) {
    const struct {
        const char* reply;
        bool failure;
    } cases[] = {{"-ERR x", true}, {"-ERR ", true},   {"+OK", false}, {"+OK x", false},
                 {"-ERR", true},   {"-err x", false}, {"", false},    {"garbage", false}};
    for (const auto& c : cases) {
        std::string rest;
        EXPECT_EQ(ClassifyReply(c.reply, rest) == ReplyStatus::Negative, c.failure) << '"' << c.reply << '"';
    }
}

}  // namespace
