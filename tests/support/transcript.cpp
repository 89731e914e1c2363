#include "support/transcript.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>

struct TranscriptPlayer::State {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> rows;
    std::size_t next = 0;       // the server's cursor: the row it plays next
    std::size_t offset = 0;     // bytes of that server row already read
    std::size_t clientRow = 0;  // the first client row still unmatched
    std::string line;           // the client's line so far
    std::vector<std::string> received;
    std::string wire;
    bool streamMade = false;
    bool clientClosed = false;
    bool closeRead = false;  // the client read the end of the stream

    bool IsClientRow(std::size_t i) const { return rows[i][0] == 'C'; }
    void SkipClientRow() {
        while (clientRow < rows.size() && !IsClientRow(clientRow)) ++clientRow;
    }
    // Past client rows already matched; true when a server row is due.
    bool ServerRow() {
        while (next < rows.size() && IsClientRow(next) && next < clientRow) ++next;
        return next < rows.size() && !IsClientRow(next);
    }
    bool AtClose() { return ServerRow() && rows[next] == "S: <close>"; }
    std::string Payload() const {
        const std::string& row = rows[next];
        return row[1] == '|' ? row.substr(3) : row.substr(3) + "\r\n";
    }
    bool Readable() { return clientClosed || ServerRow(); }

    // A whole line from the client takes the next client row, whatever it
    // says (the test compares); a message row takes lines up to ".".
    void TakeLine(const std::string& text) {
        SkipClientRow();
        if (clientRow >= rows.size()) {
            received.push_back(text);  // nothing expected: shows in the comparison
            return;
        }
        if (rows[clientRow] == "C: <message>") {
            if (text != ".") return;
            received.push_back("<message>");
        } else {
            received.push_back(text);
        }
        ++clientRow;
    }
};

namespace {

class ScriptedStream : public platform::ByteStream {
public:
    explicit ScriptedStream(std::shared_ptr<TranscriptPlayer::State> state) : state_(std::move(state)) {}
    ~ScriptedStream() override { Shutdown(); }

    ssize_t Receive(char* buffer, std::size_t size, bool& wouldBlock) override {
        std::lock_guard<std::mutex> lock(state_->mutex);
        wouldBlock = false;
        if (state_->AtClose()) state_->closeRead = true;
        if (state_->clientClosed || state_->closeRead) return 0;
        if (!state_->ServerRow()) {
            wouldBlock = true;
            errno = EAGAIN;
            return -1;
        }
        const std::string payload = state_->Payload();
        const std::size_t n = std::min(size, payload.size() - state_->offset);
        std::memcpy(buffer, payload.data() + state_->offset, n);
        state_->offset += n;
        if (state_->offset == payload.size()) {
            state_->offset = 0;
            ++state_->next;
        }
        state_->changed.notify_all();
        return static_cast<ssize_t>(n);
    }

    ssize_t Send(const char* data, std::size_t size, bool& wouldBlock) override {
        std::lock_guard<std::mutex> lock(state_->mutex);
        wouldBlock = false;
        if (state_->clientClosed) {
            errno = EPIPE;
            return -1;
        }
        state_->wire.append(data, size);
        for (std::size_t i = 0; i < size; ++i) {
            if (data[i] != '\n') {
                state_->line.push_back(data[i]);
                continue;
            }
            if (!state_->line.empty() && state_->line.back() == '\r') state_->line.pop_back();
            state_->TakeLine(state_->line);
            state_->line.clear();
        }
        state_->changed.notify_all();
        return static_cast<ssize_t>(size);
    }

    bool PeekByte(unsigned char& byte) override {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (state_->clientClosed || !state_->ServerRow() || state_->AtClose()) return false;
        byte = static_cast<unsigned char>(state_->Payload()[state_->offset]);
        return true;
    }

    platform::Wait WaitReadable(std::chrono::milliseconds timeout) override {
        std::unique_lock<std::mutex> lock(state_->mutex);
        const bool ready = state_->changed.wait_for(lock, timeout, [&] { return state_->Readable(); });
        return ready ? platform::Wait::Ready : platform::Wait::TimedOut;
    }

    platform::Wait WaitWritable(std::chrono::milliseconds) override { return platform::Wait::Ready; }

    void Shutdown() override {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->clientClosed = true;
        state_->changed.notify_all();
    }

private:
    std::shared_ptr<TranscriptPlayer::State> state_;
};

}  // namespace

TranscriptPlayer::TranscriptPlayer(std::vector<std::string> rows) : state_(std::make_shared<State>()) {
    state_->rows = std::move(rows);
}

TranscriptPlayer::~TranscriptPlayer() = default;

std::unique_ptr<platform::ByteStream> TranscriptPlayer::Stream() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->streamMade) {
        // Played already: a stream that is closed from the start.
        auto spent = std::make_shared<State>();
        spent->rows = {"S: <close>"};
        return std::make_unique<ScriptedStream>(spent);
    }
    state_->streamMade = true;
    return std::make_unique<ScriptedStream>(state_);
}

std::vector<std::string> TranscriptPlayer::Received() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->received;
}

std::string TranscriptPlayer::Wire() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->wire;
}

bool TranscriptPlayer::ClientClosed() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->clientClosed;
}

bool TranscriptPlayer::Finished() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->ServerRow();
    state_->SkipClientRow();
    return (state_->next >= state_->rows.size() || state_->closeRead) && state_->clientRow >= state_->rows.size();
}

std::vector<std::string> ClientLines(const std::vector<std::string>& rows) {
    std::vector<std::string> lines;
    for (const std::string& row : rows)
        if (row[0] == 'C') lines.push_back(row.substr(3));
    return lines;
}
