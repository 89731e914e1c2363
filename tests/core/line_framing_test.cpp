#include "core/line_framing.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using Event = std::pair<ConnectionEvent, std::string>;
using Events = std::vector<Event>;

const std::string kMulti = "\r\n.\r\n";
const std::string kSingle = "\r\n";

Event L(std::string s) {
    return {ConnectionEvent::Line, std::move(s)};
}
Event D() {
    return {ConnectionEvent::DotLine, "."};
}
Event R(std::string s) {
    return {ConnectionEvent::Reply, std::move(s)};
}
Event Raw(std::string s) {
    return {ConnectionEvent::RawData, std::move(s)};
}

struct Recorder {
    LineFraming framing;
    Events events;
    LineFraming::Sink sink = [this](ConnectionEvent e, const std::string& t) { events.emplace_back(e, t); };

    explicit Recorder(const std::string& terminator) { framing.SetTerminator(terminator); }

    void Feed(const std::string& text) { framing.Feed(static_cast<int>(text.size()), text, sink); }

    // The events without RawData, which mirrors the pieces fed.
    Events Framed() const {
        Events out;
        for (const Event& e : events)
            if (e.first != ConnectionEvent::RawData) out.push_back(e);
        return out;
    }
};

Events FrameInPieces(const std::string& terminator, const std::vector<std::string>& pieces) {
    Recorder r(terminator);
    for (const std::string& p : pieces) r.Feed(p);
    EXPECT_TRUE(r.framing.Buffered().empty());
    return r.Framed();
}

TEST(LineFraming, MultiLineReplyInOneRead) {
    Recorder r(kMulti);
    r.Feed("+OK 2 messages\r\n1 120\r\n2 200\r\n.\r\n");
    EXPECT_EQ(r.events, (Events{Raw("+OK 2 messages\r\n1 120\r\n2 200\r\n.\r\n"), L("+OK 2 messages"), L("1 120"),
                                L("2 200"), D(), R("+OK 2 messages\r\n1 120\r\n2 200")}));
    EXPECT_TRUE(r.framing.Buffered().empty());
}

TEST(LineFraming, StatusLineAloneBeforeTerminator) {
    EXPECT_EQ(FrameInPieces(kMulti, {"+OK 0 messages\r\n.\r\n"}),
              (Events{L("+OK 0 messages"), D(), R("+OK 0 messages")}));
}

// Every way of cutting a dialogue in two, and byte by byte, gives the same
// lines and replies: CR LF split, terminator split, status split.
struct SplitCase {
    const char* name;
    std::string terminator;
    std::string stream;
    Events expected;
};

class FramingSplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(FramingSplitTest, SameEventsHoweverSplit) {
    const SplitCase& c = GetParam();
    EXPECT_EQ(FrameInPieces(c.terminator, {c.stream}), c.expected);
    for (std::size_t cut = 1; cut < c.stream.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        EXPECT_EQ(FrameInPieces(c.terminator, {c.stream.substr(0, cut), c.stream.substr(cut)}), c.expected);
    }
    std::vector<std::string> bytes;
    for (char ch : c.stream) bytes.emplace_back(1, ch);
    EXPECT_EQ(FrameInPieces(c.terminator, bytes), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Splits, FramingSplitTest,
    ::testing::Values(
        SplitCase{"single", kSingle, "+OK ready <1.2@x>\r\n", {L("+OK ready <1.2@x>"), R("+OK ready <1.2@x>")}},
        SplitCase{"multi",
                  kMulti,
                  "+OK 5 octets\r\nab\r\n\r\ncd\r\n.\r\n",
                  {L("+OK 5 octets"), L("ab"), L(""), L("cd"), D(), R("+OK 5 octets\r\nab\r\n\r\ncd")}},
        SplitCase{"stuffed",
                  kMulti,
                  "+OK\r\n..\r\n..x\r\n.y\r\n...\r\n.\r\n",
                  {L("+OK"), L("."), L(".x"), L(".y"), L(".."), D(), R("+OK\r\n..\r\n..x\r\n.y\r\n...")}},
        SplitCase{
            "negative", kMulti, "-ERR no such message\r\n", {L("-ERR no such message"), R("-ERR no such message")}},
        SplitCase{
            "lone cr and lf", kMulti, "+OK\r\na\rb\nc\r\n.\r\n", {L("+OK"), L("a\rb\nc"), D(), R("+OK\r\na\rb\nc")}},
        SplitCase{"nul bytes",
                  kMulti,
                  std::string("+OK\r\na\0b\r\n.\r\n", 13),
                  {L("+OK"), L(std::string("a\0b", 3)), D(), R(std::string("+OK\r\na\0b", 8))}}),
    [](const auto& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (ch == ' ') ch = '_';
        return n;
    });

TEST(LineFraming, DotLineAloneGivesNoLine) {
    Recorder r(kMulti);
    r.Feed("+OK\r\n.\r\n");
    EXPECT_EQ(r.Framed(), (Events{L("+OK"), D(), R("+OK")}));
}

TEST(LineFraming, BareOkDoesNotCompleteMultiLineReply) {
    Recorder r(kMulti);
    r.Feed("+OK\r\n");
    r.Feed("-ERR looks negative but is data\r\n");
    EXPECT_EQ(r.Framed(), (Events{L("+OK"), L("-ERR looks negative but is data")}));
    r.Feed(".\r\n");
    EXPECT_EQ(r.Framed().back(), R("+OK\r\n-ERR looks negative but is data"));
}

// A bare "-ERR" ends a multi-line reply at its line end like "-ERR text";
// any other text after the four letters does not.
TEST(LineFraming, BareNegativeEndsTheReplyAtOnce) {
    Recorder r(kMulti);
    r.Feed("-ERR\r\n");
    EXPECT_EQ(r.Framed(), (Events{L("-ERR"), R("-ERR")}));
    EXPECT_TRUE(r.framing.Buffered().empty());
    Recorder other(kMulti);
    other.Feed("-ERRx\r\n");
    EXPECT_EQ(other.Framed(), (Events{L("-ERRx")}));
    EXPECT_EQ(other.framing.Buffered(), "-ERRx\r\n");
}

TEST(LineFraming, ErrorAndClosedLeaveTheBufferAlone) {
    Recorder r(kMulti);
    r.Feed("+OK 9 octets\r\npart");
    r.framing.Feed(-1, "Timed out.", r.sink);
    r.framing.Feed(0, "", r.sink);
    EXPECT_EQ(r.framing.Buffered(), "+OK 9 octets\r\npart");
    EXPECT_EQ(r.framing.LinesCut(), std::string("+OK 9 octets\r\n").size());
    r.Feed("ial\r\n.\r\n");
    EXPECT_EQ(r.events, (Events{Raw("+OK 9 octets\r\npart"),
                                L("+OK 9 octets"),
                                Raw("Timed out."),
                                {ConnectionEvent::Error, "Timed out."},
                                Raw(""),
                                {ConnectionEvent::Closed, ""},
                                Raw("ial\r\n.\r\n"),
                                L("partial"),
                                D(),
                                R("+OK 9 octets\r\npartial")}));
}

TEST(LineFraming, EmptyTerminatorCompletesNothing) {
    Recorder r("");
    r.Feed("-ERR x\r\n+OK\r\n.\r\n");
    EXPECT_EQ(r.Framed(), (Events{L("-ERR x"), L("+OK"), D()}));
    r.framing.SetTerminator(kSingle);
    r.Feed("+");
    EXPECT_EQ(r.Framed(), (Events{L("-ERR x"), L("+OK"), D(), R("-ERR x"), R("+OK"), R(".")}));
}

TEST(LineFraming, TerminatorChangedInsideReplyHandlerAppliesToTheNextTest) {
    LineFraming framing;
    Events events;
    LineFraming::Sink sink = [&](ConnectionEvent e, const std::string& t) {
        events.emplace_back(e, t);
        if (e == ConnectionEvent::Reply) framing.SetTerminator(kMulti);
    };
    framing.SetTerminator(kSingle);
    std::string first = "+OK a\r\n+OK b\r\n";
    framing.Feed(static_cast<int>(first.size()), first, sink);
    // What followed the reply counts as already cut into lines.
    EXPECT_EQ(events, (Events{Raw(first), L("+OK a"), L("+OK b"), R("+OK a")}));
    EXPECT_EQ(framing.Buffered(), "+OK b\r\n");
    std::string rest = ".\r\n";
    framing.Feed(static_cast<int>(rest.size()), rest, sink);
    EXPECT_EQ(events, (Events{Raw(first), L("+OK a"), L("+OK b"), R("+OK a"), Raw(rest), D(), R("+OK b")}));
    EXPECT_TRUE(framing.Buffered().empty());
}

TEST(LineFraming, SeveralRepliesInOneRead) {
    Recorder r(kSingle);
    r.Feed("+OK one\r\n-ERR two\r\n+OK thr");
    EXPECT_EQ(r.Framed(), (Events{L("+OK one"), L("-ERR two"), R("+OK one"), R("-ERR two")}));
    EXPECT_EQ(r.framing.Buffered(), "+OK thr");
    r.Feed("ee\r\n+OK fo");
    r.Feed("ur\r\n");
    // "ee" and "ur" follow the scan position left after the earlier replies.
    EXPECT_EQ(r.Framed(), (Events{L("+OK one"), L("-ERR two"), R("+OK one"), R("-ERR two"), L("ee"), R("+OK three"),
                                  L("ur"), R("+OK four")}));
    EXPECT_TRUE(r.framing.Buffered().empty());
}

TEST(LineFraming, ResetDropsAPartialReply) {
    Recorder r(kMulti);
    r.Feed("+OK 100 octets\r\nhalf a messa");
    r.framing.Reset();
    EXPECT_TRUE(r.framing.Buffered().empty());
    r.framing.SetTerminator(kSingle);
    r.Feed("+OK greeting\r\n");
    EXPECT_EQ(r.Framed().back(), R("+OK greeting"));
}

TEST(LineFraming, ResetFromInsideTheSinkStopsFramingTheOldBytes) {
    LineFraming framing;
    Events events;
    LineFraming::Sink sink = [&](ConnectionEvent e, const std::string& t) {
        events.emplace_back(e, t);
        if (e == ConnectionEvent::Line) framing.Reset();
    };
    framing.SetTerminator(kSingle);
    std::string text = "+OK a\r\n+OK b\r\n";
    framing.Feed(static_cast<int>(text.size()), text, sink);
    EXPECT_EQ(events, (Events{Raw(text), L("+OK a")}));
    EXPECT_TRUE(framing.Buffered().empty());
}

TEST(LineFraming, LongReplyInReadSizedPiecesIsJoinedExactly) {
    std::string body;
    for (int i = 0; i < 3000; ++i) body += (i % 7 == 0 ? ".." : "") + std::string("line ") + std::to_string(i) + "\r\n";
    std::string stream = "+OK big\r\n" + body + ".\r\n";
    Recorder r(kMulti);
    std::size_t lines = 0;
    for (std::size_t at = 0; at < stream.size(); at += 1023) r.Feed(stream.substr(at, 1023));
    for (const Event& e : r.events) lines += e.first == ConnectionEvent::Line;
    EXPECT_EQ(lines, 3001u);
    EXPECT_EQ(r.events.back(), R("+OK big\r\n" + body.substr(0, body.size() - 2)));
    EXPECT_TRUE(r.framing.Buffered().empty());
}

}  // namespace

namespace {

// Several pipelined replies in one buffer: a negative one ends at its status
// line only when told so; otherwise (the lock-step order) the terminator
// found first swallows the next reply.
TEST(LineFraming, NegativeReplyAheadOfPipelinedOnes) {
    const std::string wire = "+OK\r\nA: 1\r\n.\r\n-ERR no\r\n+OK\r\nB: 2\r\n.\r\n-ERR\r\n+OK\r\nC: 3\r\n.\r\n-ERR ";
    struct Case {
        bool negativeFirst;
        std::vector<std::string> pieces;
        Events replies;
    };
    const Case cases[] = {
        {true, {wire}, {R("+OK\r\nA: 1"), R("-ERR no"), R("+OK\r\nB: 2"), R("-ERR"), R("+OK\r\nC: 3")}},
        {true,
         {"+OK\r\nA: 1\r\n.\r\n-ER", "R no\r", "\n+OK\r\nB: 2\r\n.", "\r\n-ERR", "\r\n+OK\r\nC: 3\r\n.\r\n-ERR "},
         {R("+OK\r\nA: 1"), R("-ERR no"), R("+OK\r\nB: 2"), R("-ERR"), R("+OK\r\nC: 3")}},
        {false, {wire}, {R("+OK\r\nA: 1"), R("-ERR no\r\n+OK\r\nB: 2"), R("-ERR\r\n+OK\r\nC: 3")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.negativeFirst);
        Recorder r(kMulti);
        r.framing.SetNegativeEndsFirst(c.negativeFirst);
        for (const std::string& piece : c.pieces) r.Feed(piece);
        Events replies;
        for (const Event& e : r.Framed())
            if (e.first == ConnectionEvent::Reply) replies.push_back(e);
        EXPECT_EQ(replies, c.replies);
        EXPECT_EQ(r.framing.Buffered(), "-ERR ");
    }
}

}  // namespace

namespace {

// Small limits stand for the real ones: a reply that passes one is dropped
// with TooLarge and the bytes received of it; what follows is ignored.
TEST(LineFraming, ReplyPastALimitIsDroppedAndCounted) {
    LineFraming::Limits limits;
    limits.reply = 40;
    limits.line = 20;
    limits.statusLine = 10;
    limits.listLine = 8;
    limits.listRows = 2;
    struct Case {
        const char* name;
        std::string terminator;
        bool listing;
        std::vector<std::string> pieces;
        Events expected;
    };
    const std::string x15(15, 'x');
    const Case cases[] = {
        {"status line at the limit", kSingle, false, {"+OK 123456\r\n"}, {L("+OK 123456"), R("+OK 123456")}},
        {"status line past it", kSingle, false, {"+OK 1234567\r\n"}, {{ConnectionEvent::TooLarge, "13"}}},
        {"status line without its end", kSingle, false, {"+OK 12", "34567"}, {{ConnectionEvent::TooLarge, "11"}}},
        {"data line past its limit",
         kMulti,
         false,
         {"+OK\r\n", std::string(21, 'y') + "\r\n.\r\n"},
         {L("+OK"), {ConnectionEvent::TooLarge, "31"}}},
        {"data line without its end",
         kMulti,
         false,
         {"+OK\r\n", std::string(21, 'y')},
         {L("+OK"), {ConnectionEvent::TooLarge, "26"}}},
        {"whole reply past its limit",
         kMulti,
         false,
         {"+OK\r\n" + x15 + "\r\n" + x15 + "\r\n" + x15 + "\r\n.\r\n"},
         {L("+OK"), L(x15), L(x15), L(x15), D(), {ConnectionEvent::TooLarge, "59"}}},
        {"a long line is fine outside a listing",
         kMulti,
         false,
         {"+OK 1\r\n1 123456789\r\n.\r\n"},
         {L("+OK 1"), L("1 123456789"), D(), R("+OK 1\r\n1 123456789")}},
        {"but not in one",
         kMulti,
         true,
         {"+OK 1\r\n1 123456789\r\n.\r\n"},
         {L("+OK 1"), {ConnectionEvent::TooLarge, "23"}}},
        {"listing at its row limit",
         kMulti,
         true,
         {"+OK 2\r\n1 1\r\n2 2\r\n.\r\n"},
         {L("+OK 2"), L("1 1"), L("2 2"), D(), R("+OK 2\r\n1 1\r\n2 2")}},
        {"listing past it",
         kMulti,
         true,
         {"+OK 3\r\n1 1\r\n2 2\r\n3 3\r\n.\r\n"},
         {L("+OK 3"), L("1 1"), L("2 2"), {ConnectionEvent::TooLarge, "25"}}},
        {"nothing after it is framed",
         kSingle,
         false,
         {"+OK 1234567\r\n", "+OK\r\n"},
         {{ConnectionEvent::TooLarge, "13"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recorder r(c.terminator);
        r.framing = LineFraming(limits);
        r.framing.SetTerminator(c.terminator);
        r.framing.SetListing(c.listing);
        for (const std::string& piece : c.pieces) r.Feed(piece);
        EXPECT_EQ(r.Framed(), c.expected);
        EXPECT_TRUE(r.framing.Buffered().empty());
        // Reset starts afresh.
        r.framing.Reset();
        r.framing.SetTerminator(kSingle);
        r.events.clear();
        r.Feed("+OK\r\n");
        EXPECT_EQ(r.Framed().back(), R("+OK"));
    }
}

}  // namespace

namespace {

// A large reply is received into one buffer and handed over whole: reserved
// at once when its status line announces the size (the buffer never moves
// while it fills), given back when the size was overstated, and bytes of
// the next reply read with its end are still framed.
TEST(LineFraming, LargeReplyIsHandedOverWithoutCopies) {
    struct Case {
        const char* name;
        std::string status;
        std::size_t bodyLines;
        std::string after;  // read together with the terminator
        bool stays;         // the buffer's storage is the reply's
    };
    const std::vector<Case> cases = {
        {"announced", "+OK 1048576 octets", 16384, "", true},
        {"announced, next reply behind", "+OK 1048576 octets", 16384, "+OK next\r\n", true},
        {"overstated", "+OK 67108864 octets", 1024, "", true},
        {"too many digits", "+OK 123456789012345678901234 octets", 1024, "+OK nex", false},
        {"no size", "+OK message follows", 1024, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string body;
        for (std::size_t i = 0; i < c.bodyLines; ++i)
            body += std::string(61, "0123456789"[i % 10]) + ".\r\n";  // 64 bytes a line
        const std::string stream = c.status + "\r\n" + body + ".\r\n" + c.after;
        LineFraming framing;
        framing.SetTerminator(kMulti);
        const char* storage = nullptr;
        std::vector<std::string> replies;
        bool moved = false;
        std::size_t capacity = 0;
        LineFraming::Sink sink = [&](ConnectionEvent e, const std::string& t) {
            if (e == ConnectionEvent::Line && !storage) storage = framing.Buffered().data();
            if (e == ConnectionEvent::Line && framing.Buffered().data() != storage && replies.empty()) moved = true;
            if (e != ConnectionEvent::Reply) return;
            if (replies.empty()) capacity = t.capacity();
            replies.push_back(t);
            framing.SetTerminator(kSingle);
        };
        for (std::size_t at = 0; at < stream.size(); at += 1023) {
            const std::string piece = stream.substr(at, 1023);
            framing.Feed(static_cast<int>(piece.size()), piece, sink);
        }
        ASSERT_FALSE(replies.empty());
        EXPECT_EQ(replies[0], c.status + "\r\n" + body.substr(0, body.size() - 2));
        if (c.stays) {
            EXPECT_FALSE(moved);
        }
        EXPECT_LE(capacity, 2 * replies[0].size() + (std::size_t{1} << 16));
        EXPECT_EQ(replies.size(), c.after == "+OK next\r\n" ? 2u : 1u);
        if (replies.size() == 2) {
            EXPECT_EQ(replies[1], "+OK next");
        }
        EXPECT_EQ(framing.Buffered(), c.after == "+OK nex" ? "+OK nex" : "");
    }
}

}  // namespace
