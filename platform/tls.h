#pragma once

#include <cstddef>
#include <memory>
#include <string>

// The client side of TLS (1.2 or later) over a connected socket, for the
// POP3 connection and the SMTP client alike. The socket stays the caller's:
// it is neither closed nor waited on here, so every call returns at once on
// a non-blocking socket and says what it waits for. The caller drives the
// handshake, reads and writes, waits on the descriptor as told, and calls
// again.
//
// The server's certificate must chain to a certificate the system trusts
// (OpenSSL's default locations; SSL_CERT_FILE and SSL_CERT_DIR override
// them) and must match the host as the user typed it: a dotted IPv4
// address is checked against the certificate's IP address entries and no
// server name (SNI) is sent; anything else is a DNS name, checked against
// the DNS names and sent as SNI. Nothing turns the check off.
//
// Not thread-safe: one thread at a time per TlsClient (a caller with two
// threads holds a lock around every call).
namespace platform {

enum class TlsStatus {
    Done,       // the step finished (for Read and Write: some bytes moved)
    WantRead,   // wait until the socket is readable, then call again
    WantWrite,  // wait until the socket is writable, then call again
    Closed,     // the server ended TLS with its closing alert (Read only)
    Failed,     // the connection is unusable; FailureText says why
};

enum class TlsFailure {
    None,
    Certificate,  // the certificate failed verification (untrusted, expired, wrong name ...)
    Handshake,    // any other failure during the handshake (alert, protocol, cut off)
    Transfer,     // after the handshake: a read or write failed, or the
                  // connection was cut without the closing alert
};

class TlsClient {
public:
    // Starts the client side on a connected socket for the host the user
    // typed; null (with the reason in error) when TLS cannot even be set up.
    static std::unique_ptr<TlsClient> Create(int fd, const std::string& host, std::string& error);
    ~TlsClient();

    TlsClient(const TlsClient&) = delete;
    TlsClient& operator=(const TlsClient&) = delete;

    // Done once the handshake succeeded and the certificate was accepted.
    TlsStatus Handshake();
    // Done with got > 0 bytes. Decrypted bytes may wait inside after a
    // read, so read again until WantRead before waiting on the socket.
    TlsStatus Read(char* buffer, std::size_t size, std::size_t& got);
    // Done with written > 0 bytes (possibly fewer than size). After
    // WantRead or WantWrite, call again with the same bytes.
    TlsStatus Write(const char* data, std::size_t size, std::size_t& written);
    // Sends the closing alert if the socket takes it at once; never waits.
    void Shutdown();

    TlsFailure failure() const { return failure_; }
    // Why it failed, in plain English: "certificate has expired",
    // "unable to get local issuer certificate", "hostname mismatch",
    // "tlsv1 alert protocol version", "connection closed during the handshake".
    const std::string& FailureText() const { return failureText_; }
    // After the handshake, one line for the log: protocol version, cipher,
    // the certificate's subject and its expiry. Holds no secret.
    std::string Summary() const;

private:
    struct Impl;
    explicit TlsClient(std::unique_ptr<Impl> impl);
    TlsStatus Fail(int result, bool handshaking);

    std::unique_ptr<Impl> impl_;
    TlsFailure failure_ = TlsFailure::None;
    std::string failureText_;
};

}  // namespace platform
