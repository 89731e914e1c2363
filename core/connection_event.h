#pragma once

#include <cstdint>
#include <string>

// What a ServerConnection reports to its owner. The numbers are fixed.
enum class ConnectionEvent : std::int8_t {
    Error = -1,   // a failure text, or the empty text when a read failed
    Closed = 0,   // the server closed the connection; the empty text
    Line = 1,     // one received line without CR LF, dot-unstuffed
    DotLine = 2,  // a received line that is exactly "."
    Reply = 3,    // a complete reply, up to (not including) its terminator
    RawData = 4,  // a raw report exactly as read (first for every report)
    Sent = 5,     // the exact text handed to the socket
    // TLS, only for a connection opened with it; each but Secured is the
    // connection's last event, and its text says why in plain English.
    Secured = 6,              // the handshake succeeded; the text describes it for the log
    CertificateRejected = 7,  // the server's certificate failed verification
    TlsFailed = 8,            // any other handshake failure, the handshake time-out included
    UpgradeRefused = 9,       // the server sent plain data after its answer to STLS
    // A reply grew past a limit of LineFraming::Limits; the text is the
    // count of its bytes received so far, in decimal. Framing keeps nothing
    // more of the connection, so the owner closes it.
    TooLarge = 10,
};

// The owner's handler: a plain function with a user-data pointer.
using ConnectionHandler = void (*)(void* userData, ConnectionEvent event, const std::string& text);
