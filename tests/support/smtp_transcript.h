#pragma once

// A scripted SMTP server playing a transcript, for the client's tests.

#include "support/script_server.h"
#include "support/transcript.h"

#include <string>
#include <vector>

// A conversation as the server sees it. "S: text" is sent with CR LF
// ("\r\n" inside splits one write into lines), "S: <close>" drops the
// connection, "S: <tls>" runs the server side of the handshake. "C: text"
// reads the client's next line, "C: <message>" a whole message up to its
// dot. After the last row the server waits for the client to close.
struct Transcript {
    std::vector<std::string> received;  // one per "C:" row, "<message>" for a message
    std::string wire;                   // every byte the client sent
    bool closedByClient = false;
    bool handshakeFailed = false;
};

// Starts serving rows; read the result only after server.Join().
void PlayTranscript(ScriptServer& server, std::vector<std::string> rows, Transcript& result);
