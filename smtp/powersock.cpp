#include "smtp/powersock.h"

#include "platform/transport.h"
#include "smtp/stream.h"
#include "texts/texts.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr std::size_t kLineBufferSize = 65536;
// How long one round of a wait polls the socket before pumping: short
// enough for the window to stay responsive, long enough not to spin.
constexpr auto kLookupSlice = 2ms;
constexpr auto kConnectSlice = 2ms;
constexpr auto kIoSlice = 5ms;

struct ErrorText {
    int code;
    const char* text;
};

// The 51 socket error texts, closing row included.
constexpr ErrorText kErrorTexts[] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Wrong protocol type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to Host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Incompatible version of WINSOCK.DLL"},
    {10093, "Successful WSAStartup not yet performed"},
    {11001, "Host not found"},
    {11002, "Non-Authoritative Host not found"},
    {11003, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
    {11004, "Valid name, no data record of requested type"},
    {0, "Unrecognized error code"},
};
static_assert(std::size(kErrorTexts) == 51);

// Errors of a connect that reached the network: the attempt failed, the
// program did nothing wrong.
bool IsConnectOutcome(int e) {
    return e == ECONNREFUSED || e == ETIMEDOUT || e == ENETUNREACH || e == EHOSTUNREACH || e == ECONNRESET ||
           e == ECONNABORTED || e == 0;
}

}  // namespace

int SocketErrorCode(int e) {
    switch (e) {
        case EINTR:
            return 10004;
        case EBADF:
            return 10009;
        case EACCES:
            return 10013;
        case EFAULT:
            return 10014;
        case EINVAL:
            return 10022;
        case EMFILE:
            return 10024;
        case EWOULDBLOCK:
            return 10035;
        case EINPROGRESS:
            return 10036;
        case EALREADY:
            return 10037;
        case ENOTSOCK:
            return 10038;
        case EDESTADDRREQ:
            return 10039;
        case EMSGSIZE:
            return 10040;
        case EPROTOTYPE:
            return 10041;
        case ENOPROTOOPT:
            return 10042;
        case EPROTONOSUPPORT:
            return 10043;
        case ESOCKTNOSUPPORT:
            return 10044;
        case EOPNOTSUPP:
            return 10045;
        case EPFNOSUPPORT:
            return 10046;
        case EAFNOSUPPORT:
            return 10047;
        case EADDRINUSE:
            return 10048;
        case EADDRNOTAVAIL:
            return 10049;
        case ENETDOWN:
            return 10050;
        case ENETUNREACH:
            return 10051;
        case ENETRESET:
            return 10052;
        case ECONNABORTED:
            return 10053;
        case ECONNRESET:
            return 10054;
        case EPIPE:
            return 10054;  // the peer is gone; Winsock reports a reset
        case ENOBUFS:
            return 10055;
        case EISCONN:
            return 10056;
        case ENOTCONN:
            return 10057;
        case ESHUTDOWN:
            return 10058;
        case ETOOMANYREFS:
            return 10059;
        case ETIMEDOUT:
            return 10060;
        case ECONNREFUSED:
            return 10061;
        case ELOOP:
            return 10062;
        case ENAMETOOLONG:
            return 10063;
        case EHOSTDOWN:
            return 10064;
        case EHOSTUNREACH:
            return 10065;
        case ENOTEMPTY:
            return 10066;
        case EUSERS:
            return 10068;
        case EDQUOT:
            return 10069;
        case ESTALE:
            return 10070;
        case EREMOTE:
            return 10071;
        default:
            return kUnmappedErrnoBase + e;
    }
}

std::string SocketErrorStr(int code) {
    if (code == 0) return {};
    for (const ErrorText& row : kErrorTexts) {
        if (row.code == code) return std::to_string(code) + ":" + row.text;
    }
    return "Unknown Error No. " + std::to_string(code);
}

std::string NthWord(std::string_view text, char delimiter, int n) {
    if (text.empty() || n < 1) return {};
    std::size_t start = 0;
    for (int field = 1; field < n; ++field) {
        const std::size_t next = text.find(delimiter, start);
        if (next == std::string_view::npos) return {};
        start = next + 1;
    }
    const std::size_t end = text.find(delimiter, start);
    return std::string(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
}

void TThreadTimer::Start() {
    armed_ = Enabled && Interval > 0;
    if (armed_) deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(Interval);
}

bool TThreadTimer::Expired() const {
    return armed_ && std::chrono::steady_clock::now() >= deadline_;
}

// The result of one name lookup. The lookup thread and the waiting object
// share it; whichever lets go last frees it, so a wait that gives up early
// leaves nothing behind for the thread to touch.
struct TPowersock::Lookup {
    std::mutex mutex;
    std::condition_variable done_cv;
    bool done = false;
    bool found = false;
    std::uint32_t address = 0;
};

TPowersock::TPowersock() : Resolver(platform::ResolveIPv4) {}

TPowersock::~TPowersock() {
    destroying_ = true;
    cancel_ = true;
    RequestCloseSocket();
}

bool TPowersock::Stopped() {
    if (timer_.Expired()) {
        timer_.Stop();
        timedOut_ = true;
        cancel_ = true;
    }
    return cancel_;
}

void TPowersock::TimerOn() {
    timedOut_ = false;
    timer_.Interval = TimeOut;
    timer_.Start();
}

TPowersock::Round TPowersock::WaitRound(platform::IoStatus want, std::chrono::milliseconds slice) {
    if (Stopped()) return Round::Stop;
    if (transport_ && transport_->WaitFor(want, slice) == platform::Wait::Ready) return Round::Ready;
    if (Pump) Pump();
    return Stopped() ? Round::Stop : Round::Ready;
}

ssize_t TPowersock::ReceiveBytes(char* buffer, std::size_t size, platform::IoStatus& want) {
    std::size_t got = 0;
    want = transport_->Read(buffer, size, got);
    return Moved(want, got);
}

ssize_t TPowersock::SendBytes(const char* data, std::size_t size, platform::IoStatus& want) {
    std::size_t written = 0;
    want = transport_->Write(data, size, written);
    return Moved(want, written);
}

ssize_t TPowersock::Moved(platform::IoStatus& status, std::size_t moved) {
    switch (status) {
        case platform::IoStatus::Done:
            return static_cast<ssize_t>(moved);
        case platform::IoStatus::Closed:
            return 0;
        case platform::IoStatus::WantRead:
        case platform::IoStatus::WantWrite:
            return -1;
        case platform::IoStatus::Failed:
            break;
    }
    // errno says why on a plain stream; under TLS the connection is done.
    const int saved = errno;
    if (transport_->IsSecure()) FailTls();
    errno = saved;
    return -1;
}

void TPowersock::Cancel() {
    cancel_ = true;
}

void TPowersock::Abort() {
    Cancel();
}

void TPowersock::StatusMessage(int level, const std::string& text) {
    if (ReportLevel < level || destroying_) return;
    status_ = text;
    if (OnStatus) {
        try {
            OnStatus(status_);
        } catch (...) {
        }
    }
}

void TPowersock::ErrorManager(int expected) {
    const int code = lastErrorNo_;
    if (code == expected || code <= 10000) return;
    const std::string text = SocketErrorStr(code);
    if (OnError) OnError(static_cast<std::int16_t>(code), text);
    throw ESockError(text);
}

void TPowersock::RaiseErrno(int errnoValue) {
    lastErrorNo_ = SocketErrorCode(errnoValue);
    ErrorManager(kWouldBlock);
    throw ESockError(SocketErrorStr(lastErrorNo_));
}

void TPowersock::ResolveRemoteHost() {
    remoteAddress_ = 0;
    in_addr numeric{};
    if (Host.find('\0') == std::string::npos && ::inet_aton(Host.c_str(), &numeric) != 0) {
        remoteAddress_ = numeric.s_addr;
        return;
    }
    auto lookup = std::make_shared<Lookup>();
    TimerOn();
    try {
        std::thread([lookup, host = Host, resolve = Resolver] {
            std::uint32_t address = 0;
            const bool found = resolve && resolve(host, address);
            std::lock_guard<std::mutex> lock(lookup->mutex);
            lookup->found = found;
            lookup->address = address;
            lookup->done = true;
            lookup->done_cv.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        std::lock_guard<std::mutex> lock(lookup->mutex);
        lookup->done = true;  // no thread: the lookup failed
    }
    bool done = false;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(lookup->mutex);
            done = lookup->done_cv.wait_for(lock, kLookupSlice, [&] { return lookup->done; });
        }
        if (done || Stopped()) break;
        if (Pump) Pump();
        if (Stopped()) break;
    }
    TimerOff();
    if (timedOut_) throw ESockError("Host Lookup Timed Out");
    if (cancel_) throw ESockError("Host Lookup Canceled");
    std::lock_guard<std::mutex> lock(lookup->mutex);
    if (!lookup->found) throw ESockError("Host Lookup Failed");
    remoteAddress_ = lookup->address;
    if (OnHostResolved) OnHostResolved();
}

void TPowersock::Connect() {
    StatusMessage(8, "Connecting");
    cancel_ = false;
    if (connected_) throw ESockError("Already connected");

    bool askedInvalidHost = false;
    for (;;) {
        try {
            ResolveRemoteHost();
        } catch (const ESockError&) {
            if (timedOut_ || cancel_) throw;
            remoteAddress_ = 0;  // a failed lookup ends as an empty address
        }
        if (remoteAddress_ != 0) break;
        if (OnInvalidHost && !askedInvalidHost) {
            askedInvalidHost = true;
            bool handled = false;
            OnInvalidHost(handled);
            if (handled) continue;
        }
        throw ESockError("Null Remote Address");
    }

    // A socket whose connect failed cannot be used again: every attempt
    // gets a fresh one.
    RequestCloseSocket();
    if (StreamSource) {
        std::unique_ptr<platform::ByteStream> stream = StreamSource(Host, Port);
        if (stream) transport_ = std::make_unique<platform::Transport>(std::move(stream));
        if (!transport_) RaiseErrno(ECONNREFUSED);
    } else {
        transport_ = platform::Transport::OpenSocket(false);
        if (!transport_) RaiseErrno(errno);
    }
    errno = 0;
    const platform::ConnectStart start = transport_->StartConnect(remoteAddress_, Port);
    const int startError = errno;
    bool ok = start == platform::ConnectStart::Connected;
    if (start == platform::ConnectStart::Failed && !IsConnectOutcome(startError)) {
        transport_.reset();
        RaiseErrno(startError);
    }
    if (start == platform::ConnectStart::InProgress) {
        TimerOn();
        for (;;) {
            if (transport_->WaitWritable(kConnectSlice) == platform::Wait::Ready) {
                ok = transport_->ConnectSucceeded();
                break;
            }
            if (Stopped()) break;
            if (Pump) Pump();
            if (Stopped()) break;
        }
        TimerOff();
    }
    if (ok && !timedOut_ && !cancel_) {
        connected_ = true;
        if (OnConnect) OnConnect();
        return;
    }
    transport_.reset();
    if (OnConnectionFailed) OnConnectionFailed();
    if (timedOut_) throw ESockError("Connection Timed out");
    if (cancel_) throw ESockError("Connection Canceled");
    throw ESockError("Connection Failed");
}

void TPowersock::RequestCloseSocket() {
    StatusMessage(4, "Request Close Socket");
    connected_ = false;
    pending_.clear();
    tlsSummary_.clear();
    if (!transport_) return;
    transport_->EndTls();
    transport_.reset();
    if (!destroying_ && OnDisconnect) OnDisconnect();
}

void TPowersock::Disconnect() {
    StatusMessage(8, "Disconnecting");
    RequestCloseSocket();
}

void TPowersock::CertifyConnect() {
    StatusMessage(8, "Checking Connection");
    bool asked = false;
    while (!connected_) {
        if (OnConnectionRequired && !asked) {
            asked = true;
            bool handled = false;
            OnConnectionRequired(handled);
            if (handled) continue;
        }
        throw std::runtime_error("Not Connected");
    }
}

void TPowersock::Write(std::string_view text) {
    const std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);
    if (text.size() >= kLineBufferSize) throw ESockError("Line too long");
    SendBuffer(text.data(), text.size());
}

void TPowersock::Writeln(std::string_view text) {
    // A line break inside would start a second command the caller never
    // meant, and every reply after it would be read one behind.
    if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
        throw ESockError(kUnsafeLine);
    }
    std::string line(text);
    line += "\r\n";
    Write(line);
}

void TPowersock::SendBuffer(const char* data, std::size_t length) {
    StatusMessage(4, "Sending Buffer");
    TimerOn();
    std::size_t sent = 0;
    while (sent < length && !Stopped()) {
        if (!transport_) {
            TimerOff();
            RaiseErrno(ENOTCONN);
        }
        platform::IoStatus waitFor = platform::IoStatus::Done;
        const ssize_t n = SendBytes(data + sent, length - sent, waitFor);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n == 0) {
            break;
        } else if (waitFor == platform::IoStatus::WantRead || waitFor == platform::IoStatus::WantWrite) {
            WaitRound(waitFor, kIoSlice);
        } else {
            TimerOff();
            RaiseErrno(errno);
        }
    }
    TimerOff();
    if (cancel_) {
        cancel_ = false;
        throw EAbortError("Socket send aborted");
    }
}

void TPowersock::SendStream(TStream& stream) {
    StatusMessage(8, "SendStream");
    stream.Seek(0, 0);
    if (!cancel_) {
        bytesSent_ = 0;
        bytesTotal_ = stream.Size();
        std::vector<char> chunk(kLineBufferSize);
        bool ended = false;
        while (!ended && !cancel_) {
            const std::size_t got = stream.Read(chunk.data(), chunk.size());
            if (got == 0) break;
            std::size_t sent = 0;
            while (sent < got && !cancel_) {
                if (!transport_) RaiseErrno(ENOTCONN);
                platform::IoStatus waitFor = platform::IoStatus::Done;
                const ssize_t n = SendBytes(chunk.data() + sent, got - sent, waitFor);
                if (n > 0) {
                    sent += static_cast<std::size_t>(n);
                    bytesSent_ += n;
                    if (OnPacketSent) OnPacketSent();
                } else if (n == 0) {
                    ended = true;
                    break;
                } else if (waitFor == platform::IoStatus::WantRead || waitFor == platform::IoStatus::WantWrite) {
                    WaitRound(waitFor, kIoSlice);
                    continue;
                } else {
                    RaiseErrno(errno);
                }
                if (Pump) Pump();
            }
        }
    }
    if (cancel_) {
        cancel_ = false;
        throw EAbortError("Socket send aborted");
    }
}

std::string TPowersock::ReadLn() {
    StatusMessage(8, "ReadLn");
    TimerOn();
    char buffer[4096];
    for (;;) {
        const std::size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            std::string line = pending_.substr(0, nl + 1);
            pending_.erase(0, nl + 1);
            TimerOff();
            return line;
        }
        if (pending_.size() >= kLineBufferSize) {
            TimerOff();
            throw ESockError("Line too long");
        }
        if (!transport_) {
            TimerOff();
            return {};
        }
        if (Stopped()) {
            TimerOff();
            cancel_ = false;
            throw EAbortError("Socket readln aborted");
        }
        platform::IoStatus waitFor = platform::IoStatus::Done;
        const ssize_t n = ReceiveBytes(buffer, sizeof buffer, waitFor);
        if (n > 0) {
            pending_.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            // Closed before a whole line came: what arrived is no reply.
            TimerOff();
            RequestCloseSocket();
            return {};
        } else if (waitFor == platform::IoStatus::WantRead || waitFor == platform::IoStatus::WantWrite) {
            WaitRound(waitFor, kIoSlice);
        } else {
            const int e = errno;
            TimerOff();
            RaiseErrno(e);
        }
    }
}

std::string TPowersock::Transaction(const std::string& command) {
    StatusMessage(8, "Transaction");
    replyNumber_ = 0;
    Writeln(command);
    const std::string line = ReadLn();
    lastReply_ = line;
    if (!line.empty()) {
        StatusMessage(1, line);
        long long value = 0;
        std::size_t digits = 0;
        while (digits < line.size() && digits < 10 && line[digits] >= '0' && line[digits] <= '9') {
            value = value * 10 + (line[digits] - '0');
            ++digits;
        }
        if (digits > 0) {
            if (value > 32767) throw ESockError("Invalid reply code: " + line);
            replyNumber_ = static_cast<std::int16_t>(value);
        }
    }
    return line;
}

void TPowersock::ClearInput() {
    StatusMessage(8, "Clearing Input");
    std::size_t budget = kLineBufferSize;
    const std::size_t fromPending = std::min(budget, pending_.size());
    pending_.erase(0, fromPending);
    budget -= fromPending;
    char buffer[4096];
    while (budget > 0 && transport_) {
        platform::IoStatus waitFor = platform::IoStatus::Done;
        const ssize_t n = ReceiveBytes(buffer, std::min(budget, sizeof buffer), waitFor);
        if (n <= 0) break;
        budget -= static_cast<std::size_t>(n);
    }
}

bool TPowersock::DataAvailable() {
    if (!pending_.empty()) return true;
    return transport_ && transport_->DataWaiting();
}

void TPowersock::FailTls() {
    const std::string reason = transport_->FailureText();
    TimerOff();
    RequestCloseSocket();
    throw ESockError(texts::Cp932(texts::connection::kTlsFailed) + "\n" + reason);
}

bool TPowersock::MayUpgrade() {
    return transport_ && transport_->MayUpgrade(pending_.size());
}

void TPowersock::StartTls() {
    StatusMessage(8, "Starting TLS");
    auto fail = [this](std::string_view headline, const std::string& reason) {
        TimerOff();
        RequestCloseSocket();
        throw ESockError(texts::Cp932(headline) + "\n" + reason);
    };
    if (!transport_ || !connected_) RaiseErrno(ENOTCONN);
    pending_.clear();
    TimerOn();
    bool stopped = false;
    const platform::HandshakeEnd end = transport_->Secure(Host, [&](platform::IoStatus want) {
        stopped = WaitRound(want, kIoSlice) == Round::Stop;
        return !stopped;
    });
    switch (end) {
        case platform::HandshakeEnd::Secured:
            break;
        case platform::HandshakeEnd::Stopped: {
            const bool timedOut = timedOut_;
            TimerOff();
            cancel_ = false;
            RequestCloseSocket();
            throw EAbortError(timedOut ? "TLS handshake timed out" : "TLS handshake aborted");
        }
        case platform::HandshakeEnd::CertificateRejected:
            fail(texts::connection::kCertificateFailed, transport_->FailureText());
            break;
        case platform::HandshakeEnd::DataAfterAnswer:
            fail(texts::connection::kStartTlsFailed, kDataAfterUpgrade);
            break;
        case platform::HandshakeEnd::Failed:
            fail(texts::connection::kTlsFailed, transport_->FailureText());
            break;
    }
    TimerOff();
    tlsSummary_ = transport_->Summary();
}

std::string TPowersock::LocalAddressLiteral() const {
    const int fd = transport_ ? transport_->Descriptor() : -1;
    if (fd < 0) return {};
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0 || local.sin_family != AF_INET) {
        return {};
    }
    char text[INET_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET, &local.sin_addr, text, sizeof text)) return {};
    return std::string("[") + text + "]";
}
