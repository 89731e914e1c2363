#pragma once

#include "platform/transport.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// What a raw report is. Only Data goes through line framing; the others
// report the outcome of a TLS handshake.
enum class ReportKind : std::uint8_t {
    Data,
    Secured,              // handshake done; text: the summary for the log (not last)
    CertificateRejected,  // text: why the certificate was not accepted (last)
    TlsFailed,            // text: why the handshake failed (last)
    UpgradeRefused,       // text: why the STLS upgrade could not start (last)
};

// What one read of the receive thread gave, tagged with its connection.
struct RawReport {
    std::uint64_t generation = 0;  // the Open it belongs to
    int count = 0;                 // bytes read; 0 the server closed; -1 a failure
    std::string text;              // every byte read (NULs included), or a failure text
    bool last = false;             // the connection's final report
    ReportKind kind = ReportKind::Data;
};

// Decides when an awaited reply is overdue. A reply is awaited from Open
// and from every new terminator until it is reported; anything arriving,
// and any report the owner's side finishes handling, restarts the clock.
// While reports are still queued for the owner nothing is overdue.
class ReplyClock {
public:
    explicit ReplyClock(std::chrono::milliseconds timeout) : timeout_(timeout) {}

    void Await();
    void Settle() { awaiting_ = false; }
    void Touch();
    void Queued() { ++pending_; }
    void Handled();

    // Back-pressure: the receive thread stops reading while this many
    // reports wait for the owner, and goes on when half of them are done.
    static constexpr int kMaxPending = 1024;
    bool Crowded() const { return pending_ > kMaxPending; }
    // Waits at most the given time for room, or until woken.
    void WaitForRoom(std::chrono::milliseconds most);
    void Wake();

    std::chrono::milliseconds timeout() const { return timeout_; }
    // Time left until the awaited reply is overdue; max() when none is due.
    std::chrono::nanoseconds Left() const;

private:
    static std::int64_t Now();

    const std::chrono::milliseconds timeout_;
    std::atomic<bool> awaiting_{false};
    std::atomic<std::int64_t> last_{0};
    std::atomic<int> pending_{0};
    std::mutex roomMutex_;
    std::condition_variable room_;
};

// The state shared by a ServerSocket, its receive threads and the reports
// still queued for the owner; it lives as long as any of them.
class SocketCore {
public:
    using ReportHandler = std::function<void(RawReport)>;

    SocketCore(ReportHandler handler, std::chrono::milliseconds timeout)
        : handler_(std::move(handler)), clock_(timeout) {}

    enum class Verdict { Drop, Deliver, DeliverAsReadFailure };
    // Called as a report reaches the owner's side. Reports of an older
    // connection are dropped. Once the owner has closed the connection, its
    // remaining data is dropped and its final report becomes a failed read.
    // The final report makes the handle -1.
    Verdict Admit(const RawReport& report);

    ReplyClock& clock() { return clock_; }

private:
    friend class ServerSocket;
    struct Link;

    void Report(RawReport report) { handler_(std::move(report)); }
    static void Receive(std::shared_ptr<SocketCore> core, std::shared_ptr<Link> link, std::uint32_t address, int port);

    const ReportHandler handler_;
    ReplyClock clock_;

    mutable std::mutex mutex_;
    // Held while a Send writes and while the receive thread closes its
    // descriptor, so a write never lands on a reused descriptor number.
    // Taken before mutex_ when both are needed.
    std::mutex sendMutex_;
    int handle_ = -1;  // as the owner sees it: -1 means no socket
    std::uint64_t generation_ = 0;
    std::shared_ptr<Link> link_;  // the current connection
};

// The socket layer of the POP3 connection: one TCP connection at a time,
// resolved on the caller's thread and connected and read on a receive
// thread that hands every read to the report handler.
class ServerSocket {
public:
    ServerSocket(SocketCore::ReportHandler handler, std::chrono::milliseconds timeout);
    ~ServerSocket();  // closes, then waits for the receive threads

    ServerSocket(const ServerSocket&) = delete;
    ServerSocket& operator=(const ServerSocket&) = delete;

    // Plain TCP; TLS from the first byte; or plain until the owner asks
    // for the upgrade (ExpectUpgrade, then StartTls).
    enum class Security { Plain, Tls, Upgrade };
    enum class OpenResult { Started, AlreadyOpen, CreateFailed, InvalidName, ThreadFailed };
    // The host is also the name the server's certificate must match.
    OpenResult Open(const std::string& host, int port, Security security = Security::Plain);
    void Close();
    // Writes every byte unless the socket is closed or fails; false when
    // not all of them went out. Nothing goes out while a handshake is due
    // or running.
    bool Send(const std::string& text);
    // With Security::Upgrade, before the upgrade command is sent: the
    // receive thread reads the answer line by line and, after each line,
    // reads nothing more until the owner calls StartTls or Close. So no
    // byte after the answer is ever taken as plain text.
    void ExpectUpgrade();
    // The answer was positive: the receive thread starts the handshake,
    // timed like an awaited reply. held: bytes after the answer that the
    // caller has already taken in. False, and nothing starts, when the
    // server sent anything after its answer; a first byte after this that
    // opens no TLS record ends as ReportKind::UpgradeRefused.
    bool StartTls(std::size_t held);
    bool IsOpen() const;

    // Makes the stream of each Open instead of a socket (and its name
    // lookup); for scripted streams in tests. Call while closed.
    using StreamSource = std::function<std::unique_ptr<platform::ByteStream>(const std::string& host, int port)>;
    void SetStreamSource(StreamSource source) { streamSource_ = std::move(source); }

    const std::shared_ptr<SocketCore>& core() const { return core_; }

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<SocketCore::Link> link;
    };
    void ReapFinished();

    std::shared_ptr<SocketCore> core_;
    StreamSource streamSource_;
    std::mutex workersMutex_;
    std::vector<Worker> workers_;
};
