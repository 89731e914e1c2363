#pragma once

// Literal conversations for client tests, played on an in-memory stream
// under the transport: no sockets, no sleeps, and every read the client
// makes returns exactly the piece the transcript chose.
//
// Rows as the server sees them:
//   "C: text"    the client's next line (CR LF not written)
//   "C: <message>" lines up to a line "." (a mail's body), as one row
//   "S: text"    one read of text and CR LF ("\r\n" inside adds lines)
//   "S| text"    one read of text exactly, no CR LF: a piece of a split
//   "S: <close>" the end of the stream
// A server row becomes readable once every client row before it came. After
// the last row reads wait (for a reply that never comes) until the client
// closes. The rows' client lines and what the client wrote can be read at
// any time.

#include "platform/transport.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TranscriptPlayer {
public:
    explicit TranscriptPlayer(std::vector<std::string> rows);
    ~TranscriptPlayer();

    // The stream of the next connection; the rows are played once, so a
    // second connection gets a stream that ends at once.
    std::unique_ptr<platform::ByteStream> Stream();

    // One line per "C:" row that was matched, "<message>" for a message.
    std::vector<std::string> Received() const;
    // Every byte the client wrote.
    std::string Wire() const;
    // Whether the client closed (or shut down) its stream.
    bool ClientClosed() const;
    // Whether every row has been played.
    bool Finished() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

// The texts of the "C:" rows.
std::vector<std::string> ClientLines(const std::vector<std::string>& rows);
