#pragma once

#include "core/session_state.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

// The pipelined commands that await their replies, oldest first; replies
// come back in the order the commands went out. Bounded by count and by the
// bytes of command text not yet answered: every unanswered command then
// fits into the socket buffers between us and the server, so a send never
// blocks on a server that is itself blocked writing replies we have not
// read yet (RFC 2449, section 6.6).
class CommandWindow {
public:
    static constexpr std::size_t kMaxCommands = 100;
    static constexpr std::size_t kMaxBytes = 4096;
    // Refilled only once this many places are free, so that commands leave
    // in small bursts rather than one write per reply.
    static constexpr std::size_t kRefillStep = 8;

    struct Entry {
        SessionState state = SessionState::Idle;  // UidlSent, TopSent, RetrHeaderSent or DeleSent
        std::int32_t row = -1;                    // header fetch: the row the reply fills
        std::string number;                       // the message number sent
        std::size_t bytes = 0;                    // the command line with its CR LF
        bool discard = false;                     // the reply is read and dropped
    };

    bool Empty() const { return entries_.empty(); }
    std::size_t Size() const { return entries_.size(); }
    // An empty window always takes one command, however long.
    bool HasRoomFor(std::size_t bytes) const {
        return entries_.empty() || (entries_.size() < kMaxCommands && bytes_ + bytes <= kMaxBytes);
    }
    bool WantsRefill() const { return entries_.size() + kRefillStep <= kMaxCommands; }
    const Entry& Front() const { return entries_.front(); }

    void Push(Entry entry) {
        bytes_ += entry.bytes;
        entries_.push_back(std::move(entry));
    }
    Entry Pop() {
        Entry entry = std::move(entries_.front());
        entries_.pop_front();
        bytes_ -= entry.bytes;
        return entry;
    }
    // The replies still to come are of no use any more.
    void DiscardAll() {
        for (Entry& entry : entries_) entry.discard = true;
    }
    void Clear() {
        entries_.clear();
        bytes_ = 0;
    }

private:
    std::deque<Entry> entries_;
    std::size_t bytes_ = 0;  // sum of the entries' bytes
};
