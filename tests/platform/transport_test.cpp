#include "platform/transport.h"
#include "support/transcript.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using platform::IoStatus;

TEST(Transport, UpgradesOnlyWithNothingBehindTheAnswer) {
    struct Case {
        const char* name;
        std::vector<std::string> rows;  // what follows the answer
        std::size_t held;               // bytes after it the caller already took in
        bool may;
    };
    const Case cases[] = {
        {"nothing follows", {"C: EHLO"}, 0, true},       {"the caller holds bytes", {"C: EHLO"}, 3, false},
        {"a line waits", {"S: 250 injected"}, 0, false}, {"one byte waits", {"S| 2"}, 0, false},
        {"the stream ended", {"S: <close>"}, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TranscriptPlayer player(c.rows);
        platform::Transport transport(player.Stream());
        EXPECT_EQ(transport.MayUpgrade(c.held), c.may);
        EXPECT_FALSE(transport.IsSecure());
    }
}

TEST(Transport, ReadsWhatEachReadBringsAndWritesThrough) {
    TranscriptPlayer player({"S| +O", "S: K hi", "C: USER a", "S: +OK", "S: <close>"});
    platform::Transport transport(player.Stream());
    auto read = [&](IoStatus expected) {
        char buffer[64];
        std::size_t got = 99;
        EXPECT_EQ(transport.Read(buffer, sizeof buffer, got), expected);
        return std::string(buffer, got);
    };
    EXPECT_EQ(read(IoStatus::Done), "+O");
    EXPECT_EQ(read(IoStatus::Done), "K hi\r\n");
    EXPECT_EQ(read(IoStatus::WantRead), "");  // the client's turn
    std::size_t written = 0;
    EXPECT_EQ(transport.Write("USER a\r\n", 8, written), IoStatus::Done);
    EXPECT_EQ(written, 8u);
    EXPECT_EQ(read(IoStatus::Done), "+OK\r\n");
    EXPECT_EQ(read(IoStatus::Closed), "");
    EXPECT_EQ(player.Received(), std::vector<std::string>{"USER a"});
}

TEST(Transport, TlsNeedsASocketAndFailsPlainlyWithout) {
    TranscriptPlayer player({"S: 220 ready"});
    platform::Transport transport(player.Stream());
    int waits = 0;
    EXPECT_EQ(transport.Secure("localhost", [&](IoStatus) { return ++waits < 10; }), platform::HandshakeEnd::Failed);
    EXPECT_EQ(waits, 0);
    EXPECT_FALSE(transport.FailureText().empty());
    EXPECT_FALSE(transport.IsSecure());
}

}  // namespace
