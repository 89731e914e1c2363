#pragma once

#include "core/connection_event.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// Turns raw reports (count, text) into RawData, Error, Closed, Line,
// DotLine and Reply events. Every search resumes where the previous one
// stopped, so the cost is linear in the bytes received however finely a
// long reply is split.
//
// The sink may call SetTerminator or Reset while a report is being framed
// (the owner does so from its Reply handler); framing continues from the
// changed state.
class LineFraming {
public:
    using Sink = std::function<void(ConnectionEvent, const std::string&)>;

    // How much of one reply is kept. A reply that passes a limit is
    // reported as TooLarge and dropped, and so is everything after it
    // until Reset: a server sending without end cannot exhaust memory.
    struct Limits {
        std::size_t reply = std::size_t{64} << 20;       // a whole reply, data lines included
        std::size_t line = std::size_t{64} << 20;        // one data line
        std::size_t statusLine = std::size_t{64} << 10;  // the first line of a reply
        std::size_t listLine = std::size_t{64} << 10;    // one data line of a listing
        std::size_t listRows = 1000000;                  // data lines of a listing
    };

    LineFraming() = default;
    explicit LineFraming(Limits limits) : limits_(limits) {}

    // Empties the buffer; the next byte starts a new reply.
    void Reset();
    // The next completion test uses the new terminator, searching it from
    // the first buffered byte.
    void SetTerminator(const std::string& terminator);
    const std::string& Terminator() const { return terminator_; }
    // With several replies buffered at once (pipelined commands), a
    // negative status line must end its reply before any terminator found
    // further on, which belongs to a later reply. Off by default: then the
    // terminator is looked for first. Reset keeps the setting.
    void SetNegativeEndsFirst(bool on) { negativeEndsFirst_ = on; }
    // The reply awaited now is a listing (LIST): its data lines are held to
    // the listing's limits. Ends when that reply completes or on Reset.
    void SetListing(bool on) { listing_ = on; }

    // One raw report: count > 0 bytes read, 0 closed, -1 a failure.
    void Feed(int count, const std::string& text, const Sink& sink);

    // What is buffered of a reply that has not completed.
    std::string_view Buffered() const;
    // Buffered bytes already cut into lines.
    std::size_t LinesCut() const { return scan_ - head_; }

private:
    void CutLines(const Sink& sink);
    // Makes room at once for a reply whose status line announces its size.
    void ReserveAnnounced();
    void CompleteReplies(const Sink& sink);
    // Where the current reply ends (and how long its ending is), if it has.
    bool FindReplyEnd(std::size_t& end, std::size_t& endLength);
    // Whether the reply's first line is complete and negative.
    bool NegativeFirstLine(std::size_t& end, std::size_t& endLength);
    // Where the reply's first line ends (its CR LF), or npos.
    std::size_t FirstLineEnd();
    // Reports TooLarge when the reply being received has passed a limit.
    void CheckLimits(const Sink& sink);
    void Overflow(const Sink& sink);
    void Consume(std::size_t end);
    void Compact();

    // All positions index buffer_; bytes before head_ are already consumed.
    std::string buffer_;
    std::size_t head_ = 0;
    std::size_t scan_ = 0;                          // first byte not yet cut into lines
    std::size_t lineSearch_ = 0;                    // no CR LF starts in [scan_, lineSearch_)
    std::size_t termSearch_ = 0;                    // the terminator starts nowhere in [head_, termSearch_)
    std::size_t firstLineEnd_ = std::string::npos;  // CR LF of the reply's first line
    std::size_t firstLineSearch_ = 0;               // no CR LF starts in [head_, firstLineSearch_)
    std::string terminator_;
    bool negativeEndsFirst_ = false;
    Limits limits_;
    bool listing_ = false;
    std::size_t replyLines_ = 0;  // lines cut of the reply being received
    bool overflowed_ = false;     // a reply passed a limit; nothing is framed until Reset
    std::string line_;            // the line being reported
};
