#pragma once

#include "platform/socket.h"
#include "platform/tls.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// The one transport under POP3 and SMTP: a byte stream (a connected socket,
// or a scripted stream in tests), TLS from the first byte or after an
// upgrade command, and the rule that nothing may follow the answer to that
// command. Every call returns at once; the caller drives each read, write
// and handshake step and waits as told, on its own terms (a receive thread
// with its reply clock, or a pumping wait on the window's thread).
namespace platform {

// What a transport moves bytes over. Non-blocking: every call returns at
// once. Shutdown may come from another thread while one reads or waits.
class ByteStream {
public:
    virtual ~ByteStream() = default;
    // Bytes moved, 0 at the end of the stream, -1 on failure (errno set)
    // or with wouldBlock when nothing can move yet.
    virtual ssize_t Receive(char* buffer, std::size_t size, bool& wouldBlock) = 0;
    virtual ssize_t Send(const char* data, std::size_t size, bool& wouldBlock) = 0;
    // The first waiting byte, left in place; false when none waits.
    virtual bool PeekByte(unsigned char& byte) = 0;
    virtual Wait WaitReadable(std::chrono::milliseconds timeout) = 0;
    virtual Wait WaitWritable(std::chrono::milliseconds timeout) = 0;
    // Ends the stream in both directions; wakes a waiter.
    virtual void Shutdown() = 0;
    // The socket under the stream, for TLS and addresses; -1 when none.
    virtual int Descriptor() const { return -1; }
};

// A connected (or connecting) non-blocking socket; closed with the stream.
class SocketStream : public ByteStream {
public:
    explicit SocketStream(int fd) : fd_(fd) {}
    ~SocketStream() override;
    ssize_t Receive(char* buffer, std::size_t size, bool& wouldBlock) override;
    ssize_t Send(const char* data, std::size_t size, bool& wouldBlock) override;
    bool PeekByte(unsigned char& byte) override;
    Wait WaitReadable(std::chrono::milliseconds timeout) override;
    Wait WaitWritable(std::chrono::milliseconds timeout) override;
    void Shutdown() override;
    int Descriptor() const override { return fd_; }

private:
    const int fd_;
};

enum class IoStatus {
    Done,       // some bytes moved
    WantRead,   // wait until readable, then call again (with the same bytes)
    WantWrite,  // wait until writable, then call again
    Closed,     // the end of the stream (or TLS's closing alert)
    Failed,     // unusable: errno or, under TLS, FailureText() says why
};

enum class HandshakeEnd {
    Secured,
    Stopped,              // the caller's wait gave up (closed, timed out, cancelled)
    CertificateRejected,  // FailureText() says why
    Failed,               // any other failure; FailureText() says why
    DataAfterAnswer,      // after an upgrade, the server's first byte was no TLS record
};

// Reads and writes may come from two threads at once (a receive thread and
// a sender); the TLS state is locked inside. The handshake and the upgrade
// check belong to the reading side.
class Transport {
public:
    explicit Transport(std::unique_ptr<ByteStream> stream);
    ~Transport();
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // A fresh TCP socket (Nagle off when asked); null with errno set when
    // none could be made.
    static std::unique_ptr<Transport> OpenSocket(bool noDelay);
    // Starts the connect (errno set on Failed). While InProgress,
    // WaitWritable and then ConnectSucceeded tell its outcome.
    ConnectStart StartConnect(std::uint32_t address, int port);
    bool ConnectSucceeded() const;

    IoStatus Read(char* buffer, std::size_t size, std::size_t& got);
    IoStatus Write(const char* data, std::size_t size, std::size_t& written);

    Wait WaitReadable(std::chrono::milliseconds timeout) { return stream_->WaitReadable(timeout); }
    Wait WaitWritable(std::chrono::milliseconds timeout) { return stream_->WaitWritable(timeout); }
    Wait WaitFor(IoStatus want, std::chrono::milliseconds timeout) {
        return want == IoStatus::WantWrite ? WaitWritable(timeout) : WaitReadable(timeout);
    }
    // Whether a byte waits on the stream, not yet read.
    bool DataWaiting();
    void Shutdown() { stream_->Shutdown(); }
    // Sends TLS's closing alert if it goes out at once, then leaves TLS.
    void EndTls();

    // The upgrade check, after the positive answer to STLS or STARTTLS:
    // true when nothing follows the answer, neither bytes the caller has
    // already taken in (held) nor bytes waiting on the stream. The next
    // handshake then also refuses a first byte that opens no TLS record.
    bool MayUpgrade(std::size_t held);

    // Runs the TLS handshake for the host the user typed (the name the
    // certificate must match). wait is called whenever TLS waits on the
    // stream, with WantRead or WantWrite; it waits and returns false to
    // give up. Once Secured every byte passes through TLS.
    HandshakeEnd Secure(const std::string& host, const std::function<bool(IoStatus)>& wait);
    bool IsSecure() const;
    // After Secure: protocol, cipher, certificate, for the log.
    std::string Summary() const;
    std::string FailureText() const;

    int Descriptor() const { return stream_->Descriptor(); }

private:
    // A TLS read's or write's outcome as the stream's; a failure keeps its text.
    // Called with tlsMutex_ held.
    IoStatus FromTls(TlsStatus status);

    std::unique_ptr<ByteStream> stream_;
    mutable std::mutex tlsMutex_;  // around every call into tls_
    std::unique_ptr<TlsClient> tls_;
    bool secured_ = false;     // guarded by tlsMutex_
    std::string failureText_;  // guarded by tlsMutex_
    bool upgrading_ = false;   // the reading side's
};

}  // namespace platform
