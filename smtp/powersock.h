#pragma once

#include <sys/types.h>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/transport.h"

class TStream;

// Socket and connection failures; the text is a fixed English text or a
// SocketErrorStr text ("10061:Connection refused").
class ESockError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A wait ended by the cancel flag (Abort, Cancel or the time limit).
class EAbortError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The time limit of one wait: a deadline that the waits look at. Interval 0
// (or a disabled timer) never expires.
class TThreadTimer {
public:
    bool Enabled = true;
    int Interval = 1000;  // milliseconds

    void Start();
    void Stop() { armed_ = false; }
    // True once the armed deadline has passed.
    bool Expired() const;

private:
    bool armed_ = false;
    std::chrono::steady_clock::time_point deadline_{};
};

// Socket error codes in the Winsock numbering the error texts use. errno
// values without a Winsock counterpart map to kUnmappedErrnoBase + errno,
// which no table entry uses.
constexpr int kWouldBlock = 10035;
constexpr int kNotConnected = 10057;
constexpr int kUnmappedErrnoBase = 12000;
int SocketErrorCode(int errnoValue);

// Why an upgrade stopped: the server's first byte after its answer opened
// no TLS record.
inline constexpr char kDataAfterUpgrade[] = "the server sent data after its answer to the upgrade command";

// Writeln's refusal of a line holding CR, LF or NUL.
inline constexpr char kUnsafeLine[] = "Line holds CR, LF or NUL";

// "10061:Connection refused"; "Unknown Error No. N" for codes outside the
// table; "" for 0.
std::string SocketErrorStr(int code);

// The n-th field (from 1) of text split at every delimiter; empty fields
// count. "" for an empty text or an n beyond the fields.
std::string NthWord(std::string_view text, char delimiter, int n);

// A line-oriented TCP client with blocking-style calls over a non-blocking
// socket. A wait never spins: it polls the socket for a few milliseconds,
// then runs Pump (the window's event dispatch), and checks the cancel flag
// and the deadline of TimeOut between rounds. Pump may call Abort; it must
// not destroy the object.
//
// Every call belongs to one thread (the window's); only Abort/Cancel may
// come from another.
class TPowersock {
public:
    TPowersock();
    virtual ~TPowersock();
    TPowersock(const TPowersock&) = delete;
    TPowersock& operator=(const TPowersock&) = delete;

    std::string Host;  // name or dotted IPv4 address
    std::uint16_t Port = 0;
    int TimeOut = 0;             // milliseconds per wait; 0 is no limit
    int ReportLevel = 0;         // highest StatusMessage level reported
    std::function<void()> Pump;  // run between socket polls; may be empty
    // Looks a name up (on a thread of its own); platform::ResolveIPv4
    // unless replaced.
    std::function<bool(const std::string& host, std::uint32_t& address)> Resolver;
    // Makes the connection's stream instead of a socket (scripted streams
    // in tests); null means the connect failed.
    std::function<std::unique_ptr<platform::ByteStream>(const std::string& host, std::uint16_t port)> StreamSource;

    // Events, each optional.
    std::function<void()> OnConnect;
    std::function<void()> OnDisconnect;
    std::function<void(bool& handled)> OnInvalidHost;
    std::function<void()> OnHostResolved;
    std::function<void(const std::string& status)> OnStatus;
    std::function<void()> OnConnectionFailed;
    std::function<void(std::int16_t errnum, const std::string& errmsg)> OnError;
    std::function<void()> OnPacketSent;
    std::function<void(bool& handled)> OnConnectionRequired;

    // Resolves Host, connects to Host:Port and waits for the result.
    virtual void Connect();
    // Closes the socket.
    virtual void Disconnect();
    virtual std::string Transaction(const std::string& command);
    virtual void Abort();
    void Cancel();

    // "Not Connected" unless connected (OnConnectionRequired has one chance).
    void CertifyConnect();
    // Sends text up to its first NUL; texts of 65536 bytes or more are refused.
    void Write(std::string_view text);
    // Sends text and CR LF. A text holding CR, LF or NUL is refused with
    // ESockError kUnsafeLine before anything is sent.
    void Writeln(std::string_view text);
    // One line with its CR LF. "" when the server closed the connection
    // before a whole line came (the socket is then closed) or when there
    // is no connection.
    std::string ReadLn();
    void SendBuffer(const char* data, std::size_t length);
    // Sends the whole stream from its start.
    void SendStream(TStream& stream);
    // Discards what is waiting, up to 65536 bytes.
    void ClearInput();
    bool DataAvailable();

    // Raises ESockError with the text of the last error unless it is the
    // expected one (would block) or not a socket error.
    void ErrorManager(int expected);
    void StatusMessage(int level, const std::string& text);

    bool Connected() const { return connected_; }
    std::int16_t ReplyNumber() const { return replyNumber_; }
    const std::string& LastReply() const { return lastReply_; }
    const std::string& Status() const { return status_; }
    int GetLastErrorNo() const { return lastErrorNo_; }
    void SetLastErrorNo(int code) { lastErrorNo_ = code; }
    bool TimedOut() const { return timedOut_; }
    long long BytesSent() const { return bytesSent_; }
    long long BytesTotal() const { return bytesTotal_; }
    // True once the connection runs over TLS.
    bool Secure() const { return transport_ && transport_->IsSecure(); }
    // After StartTls: protocol, cipher and certificate, for the log.
    const std::string& TlsSummary() const { return tlsSummary_; }
    // "[127.0.0.1]": this end's address as an address literal; "" when
    // not connected.
    std::string LocalAddressLiteral() const;

protected:
    void ClearCancel() { cancel_ = false; }
    // Closes the socket, marks it not connected and raises OnDisconnect.
    void RequestCloseSocket();
    // Runs the TLS handshake on the connected socket for Host, with the
    // waits' pump, cancel flag and time limit; from then on every byte
    // passes through TLS. Whatever was received before is dropped, as no
    // server byte may precede its handshake. A failure closes the socket
    // and raises ESockError (a Japanese headline, then the reason on a
    // line of its own, as CP932) or EAbortError.
    void StartTls();
    // After the positive answer to an upgrade command: false when anything
    // follows it, read already or waiting; then the upgrade must not start.
    bool MayUpgrade();

private:
    enum class Round { Ready, Stop };
    // One round of a wait: waits on the transport as asked for `slice`,
    // then pumps. Stop when the cancel flag is set or the deadline passed.
    Round WaitRound(platform::IoStatus want, std::chrono::milliseconds slice);
    bool Stopped();
    void TimerOn();
    void TimerOff() { timer_.Stop(); }
    void ResolveRemoteHost();
    // One step of the byte transfer: bytes moved, 0 at the end of the
    // stream, -1 with want WantRead or WantWrite when it must wait, or
    // with want Failed and errno set on failure. Every byte the protocol
    // reads and writes passes here.
    ssize_t ReceiveBytes(char* buffer, std::size_t size, platform::IoStatus& want);
    ssize_t SendBytes(const char* data, std::size_t size, platform::IoStatus& want);
    ssize_t Moved(platform::IoStatus& status, std::size_t moved);
    void RaiseErrno(int errnoValue);
    // A TLS read or write failed: closes the socket and raises ESockError.
    void FailTls();

    struct Lookup;

    // The connection; null when there is none.
    std::unique_ptr<platform::Transport> transport_;
    bool connected_ = false;
    std::atomic<bool> cancel_{false};
    bool timedOut_ = false;
    std::uint32_t remoteAddress_ = 0;  // network order; 0 is none
    int lastErrorNo_ = 0;
    std::int16_t replyNumber_ = 0;
    std::string lastReply_;
    std::string status_;
    long long bytesSent_ = 0;
    long long bytesTotal_ = 0;
    // Received bytes not yet handed out by ReadLn.
    std::string pending_;
    TThreadTimer timer_;
    bool destroying_ = false;
    std::string tlsSummary_;
};
