#pragma once

#include "core/connection_event.h"
#include "core/line_framing.h"
#include "core/server_socket.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The program's own TCP client for POP3: resolves the server, connects and
// reads on a receive thread of its own, frames what arrives into lines and
// replies, and reports everything to one owner as ConnectionEvents.
//
// The receive thread only reads. Each raw report it produces is handed to
// the dispatcher as a task; the dispatcher decides on which thread the task
// runs (the window posts it to its own thread, tests may run it at once).
// Framing and the owner's handler run inside those tasks, so they never run
// on two threads at once provided the dispatcher runs tasks one at a time
// and in order. Failures that Open reports itself ("Failed to create
// socket.", "Invalid server name.") are handled on the caller's thread
// before Open returns.
class ServerConnection {
public:
    using Task = std::function<void()>;
    using Dispatcher = std::function<void(Task)>;

    static constexpr std::chrono::milliseconds kDefaultReplyTimeout{60000};

    // An empty dispatcher runs every task at once on the receive thread.
    // replyTimeout: while a reply is awaited and nothing has arrived for
    // this long, the connection reports Error "Timed out." and closes.
    // limits: what a reply may grow to before it is reported as TooLarge.
    explicit ServerConnection(Dispatcher dispatcher = {}, std::chrono::milliseconds replyTimeout = kDefaultReplyTimeout,
                              LineFraming::Limits limits = {});
    ~ServerConnection();  // closes, then waits for the receive thread

    ServerConnection(const ServerConnection&) = delete;
    ServerConnection& operator=(const ServerConnection&) = delete;

    // A null handler installs the default one, which writes texts to stderr.
    void SetOwner(ConnectionHandler handler, void* userData);
    // What ends the next reply: "\r\n" or "\r\n.\r\n". Also marks a reply
    // as awaited (for the time-out) until the next Reply is reported.
    void SetTerminator(const std::string& terminator);
    // Several commands may await their replies at once: see
    // LineFraming::SetNegativeEndsFirst. Open switches it off.
    void SetPipelined(bool on);
    // The reply awaited is a listing: see LineFraming::SetListing.
    void SetListing(bool on);
    // False with no event when a socket is already held; false after
    // reporting "Failed to create socket." or "Invalid server name.";
    // true once the receive thread runs (connect results come as events).
    // With TLS the host is also the name the certificate must match; the
    // handshake is timed like a reply and reported as Secured or as one of
    // the TLS failure events.
    using Security = ServerSocket::Security;
    bool Open(const std::string& host, int port, Security security = Security::Plain);
    // For Security::Upgrade: call before sending the upgrade command, then
    // StartTls from the handler of its positive reply. Between the two the
    // connection takes in nothing after the reply's line end. StartTls
    // returns false (and does nothing) when bytes after the reply have
    // already arrived, framed or still waiting to be; the owner then
    // refuses the server.
    void ExpectUpgrade();
    bool StartTls();
    // Safe from any thread at any moment, also inside the owner's handler.
    void Close();
    // Sends the whole text if a socket is held, then reports Sent.
    void Send(const std::string& text);
    // Several commands in one write (so they leave together), then Sent
    // for each text in order.
    void Send(const std::vector<std::string>& texts);
    bool IsOpen() const;
    // See ServerSocket::SetStreamSource.
    void SetStreamSource(ServerSocket::StreamSource source);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
