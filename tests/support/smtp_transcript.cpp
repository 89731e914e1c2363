#include "support/smtp_transcript.h"

#include "support/test_certificates.h"

#include <algorithm>

void PlayTranscript(ScriptServer& server, std::vector<std::string> rows, Transcript& result) {
    result = Transcript();
    // The certificates are made (and trusted) here, not on the server's thread.
    ScriptTls tls;
    if (std::find(rows.begin(), rows.end(), "S: <tls>") != rows.end()) {
        const TestCertificates& certs = TrustedTestCertificates();
        tls = ScriptTls{certs.server.certificate, certs.server.key};
    }
    server.Serve([&result, tls, rows = std::move(rows)](ScriptPeer& peer) {
        // False when the server drops the connection or the client closes first.
        auto play = [&] {
            for (const std::string& row : rows) {
                const std::string text = row.substr(3);
                if (row == "S: <close>") return false;
                if (row == "S: <tls>") {
                    if (!peer.AcceptTls(tls)) result.handshakeFailed = true;
                } else if (row[0] == 'S') {
                    peer.Send(text + "\r\n");
                } else if (text == "<message>") {
                    std::string line;
                    do line = peer.ReadLine();
                    while (line != "." && !peer.Eof());
                    result.received.push_back(text);
                } else {
                    result.received.push_back(peer.ReadLine());
                    if (peer.Eof()) return false;
                }
            }
            return true;
        };
        if (play()) result.closedByClient = peer.WaitForClose();
        result.wire = peer.Wire();
    });
}
