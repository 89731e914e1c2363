#include "core/line_framing.h"

#include "core/reply.h"

#include <algorithm>
#include <utility>

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kNegative = "-ERR ";

// Where a search for a pattern of this length may resume once it failed on
// a buffer of this size: the pattern may still start in the last bytes.
std::size_t ResumeAt(std::size_t from, std::size_t size, std::size_t patternLength) {
    return std::max(from, size >= patternLength ? size - patternLength + 1 : 0);
}

}  // namespace

void LineFraming::Reset() {
    buffer_.clear();
    head_ = scan_ = lineSearch_ = termSearch_ = firstLineSearch_ = 0;
    firstLineEnd_ = std::string::npos;
    listing_ = false;
    replyLines_ = 0;
    overflowed_ = false;
}

void LineFraming::SetTerminator(const std::string& terminator) {
    if (terminator == terminator_) return;
    terminator_ = terminator;
    termSearch_ = head_;
}

std::string_view LineFraming::Buffered() const {
    return std::string_view(buffer_).substr(head_);
}

void LineFraming::Feed(int count, const std::string& text, const Sink& sink) {
    sink(ConnectionEvent::RawData, text);
    if (count < 0) {
        sink(ConnectionEvent::Error, text);
        return;
    }
    if (count == 0) {
        sink(ConnectionEvent::Closed, text);
        return;
    }
    if (overflowed_) return;
    Compact();
    buffer_ += text;
    CutLines(sink);
    CompleteReplies(sink);
    CheckLimits(sink);
}

void LineFraming::CheckLimits(const Sink& sink) {
    if (overflowed_ || head_ >= buffer_.size()) return;
    const std::size_t buffered = buffer_.size() - head_;
    bool over = buffered > limits_.reply;
    if (FirstLineEnd() == std::string::npos) {
        over = over || buffered > limits_.statusLine;
    } else {
        // The line still waiting for its CR LF.
        const std::size_t open = buffer_.size() - std::max(scan_, head_);
        over = over || open > (listing_ ? limits_.listLine : limits_.line);
    }
    if (over) Overflow(sink);
}

void LineFraming::Overflow(const Sink& sink) {
    const std::size_t received = buffer_.size() - head_;
    Reset();
    std::string().swap(buffer_);  // gives the memory back
    overflowed_ = true;
    sink(ConnectionEvent::TooLarge, std::to_string(received));
}

void LineFraming::CutLines(const Sink& sink) {
    std::string_view view(buffer_);
    for (;;) {
        std::size_t crlf = view.find(kCrLf, std::max(scan_, lineSearch_));
        if (crlf == std::string_view::npos) {
            lineSearch_ = ResumeAt(scan_, buffer_.size(), kCrLf.size());
            return;
        }
        // A reply's status line starts at its first byte; a line whose start
        // was passed over (bytes after a reply in the same read) counts as data.
        const bool status = scan_ == head_;
        if (crlf - scan_ > (status ? limits_.statusLine : listing_ ? limits_.listLine : limits_.line)) {
            Overflow(sink);
            return;
        }
        // Dot-unstuffing: a line of two or more dots loses the first.
        std::size_t from = scan_;
        if (crlf - scan_ >= 2 && buffer_[scan_] == '.' && buffer_[scan_ + 1] == '.') ++from;
        line_.assign(buffer_, from, crlf - from);  // reuses line_'s storage
        bool dotLine = crlf - scan_ == 1 && buffer_[scan_] == '.';
        scan_ = lineSearch_ = crlf + kCrLf.size();
        // The status line and at most listRows data lines.
        if (!dotLine && ++replyLines_ > limits_.listRows + 1 && listing_) {
            Overflow(sink);
            return;
        }
        if (status) ReserveAnnounced();
        sink(dotLine ? ConnectionEvent::DotLine : ConnectionEvent::Line, line_);
        if (overflowed_) return;
        view = buffer_;  // the sink may have reset the buffer
    }
}

void LineFraming::ReserveAnnounced() {
    // Only a reply with data lines is worth it: "+OK 52428800 octets".
    if (terminator_ == kCrLf || !line_.starts_with("+OK ")) return;
    std::size_t octets = 0;
    std::size_t at = 4;
    for (; at < line_.size() && at < 4 + 19 && line_[at] >= '0' && line_[at] <= '9'; ++at)
        octets = octets * 10 + static_cast<std::size_t>(line_[at] - '0');
    if (at == 4 || std::string_view(line_).substr(at).rfind(" octets", 0) != 0) return;
    // Growing a large reply by doubling would hold it about twice over
    // while it is copied; one allocation of what was announced does not.
    // A little more for dot-stuffing and the terminator, never more than a
    // reply may be.
    octets = std::min(octets, limits_.reply);
    if (octets < (std::size_t{1} << 16)) return;
    buffer_.reserve(scan_ + octets + octets / 64 + terminator_.size());
}

bool LineFraming::FindReplyEnd(std::size_t& end, std::size_t& endLength) {
    if (terminator_.empty()) return false;
    std::string_view view(buffer_);
    if (negativeEndsFirst_) {
        if (NegativeFirstLine(end, endLength)) return true;
        // Every terminator holds a CR LF: none before the first line ends.
        if (firstLineEnd_ == std::string::npos) return false;
    }

    std::size_t at = view.find(terminator_, std::max(termSearch_, head_));
    if (at != std::string_view::npos) {
        end = at;
        endLength = terminator_.size();
        return true;
    }
    termSearch_ = ResumeAt(head_, buffer_.size(), terminator_.size());
    // A negative status line ends the reply whatever the terminator.
    return NegativeFirstLine(end, endLength);
}

std::size_t LineFraming::FirstLineEnd() {
    if (firstLineEnd_ == std::string::npos) {
        firstLineEnd_ = std::string_view(buffer_).find(kCrLf, std::max(firstLineSearch_, head_));
        if (firstLineEnd_ == std::string::npos) firstLineSearch_ = ResumeAt(head_, buffer_.size(), kCrLf.size());
    }
    return firstLineEnd_;
}

bool LineFraming::NegativeFirstLine(std::size_t& end, std::size_t& endLength) {
    if (FirstLineEnd() == std::string::npos) return false;
    const std::string_view line = std::string_view(buffer_).substr(head_, firstLineEnd_ - head_);
    if (line.starts_with(kNegative) || IsBareNegativeLine(line)) {
        end = firstLineEnd_;
        endLength = kCrLf.size();
        return true;
    }
    return false;
}

void LineFraming::CompleteReplies(const Sink& sink) {
    std::size_t end = 0;
    std::size_t endLength = 0;
    while (FindReplyEnd(end, endLength)) {
        if (end - head_ > limits_.reply) {
            Overflow(sink);
            return;
        }
        std::string reply;
        const std::size_t next = end + endLength;
        if (head_ == 0 && buffer_.size() - next <= end) {
            // The usual case: the reply starts the buffer and little or
            // nothing follows it. Hand the buffer over instead of copying
            // what may be a whole large message; only what follows is copied.
            std::string rest = buffer_.substr(next);
            reply = std::move(buffer_);
            reply.resize(end);
            // Room reserved for a size the server overstated is given back.
            if (reply.capacity() / 2 > reply.size() + (std::size_t{1} << 16)) reply.shrink_to_fit();
            buffer_ = std::move(rest);
            Consume(0);
        } else {
            reply = buffer_.substr(head_, end - head_);
            Consume(end + endLength);
        }
        // The reply ends the listing; the sink may start the next one.
        listing_ = false;
        replyLines_ = 0;
        sink(ConnectionEvent::Reply, reply);
    }
}

void LineFraming::Consume(std::size_t end) {
    head_ = end;
    if (head_ >= buffer_.size()) {
        Reset();
        return;
    }
    // Bytes that followed the reply count as already cut into lines.
    scan_ = lineSearch_ = buffer_.size();
    termSearch_ = firstLineSearch_ = head_;
    firstLineEnd_ = std::string::npos;
}

void LineFraming::Compact() {
    if (head_ == 0 || head_ < buffer_.size() / 2) return;
    buffer_.erase(0, head_);
    auto shift = [this](std::size_t& pos) { pos = pos > head_ ? pos - head_ : 0; };
    shift(scan_);
    shift(lineSearch_);
    shift(termSearch_);
    shift(firstLineSearch_);
    if (firstLineEnd_ != std::string::npos) firstLineEnd_ -= head_;
    head_ = 0;
}
