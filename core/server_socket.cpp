#include "core/server_socket.h"

#include "platform/socket.h"
#include "platform/tls.h"

#include <sys/socket.h>

#include <algorithm>
#include <utility>

namespace {

constexpr const char* kOpenFailed = "Failed to open socket.";
constexpr const char* kTimedOut = "Timed out.";
constexpr const char* kDataAfterAnswer = "the server sent data after its answer to the upgrade command";
// At most this much per read. Every byte read is reported, NULs included.
constexpr std::size_t kReadSize = 1023;

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

// How long one wait may last, so that a reply awaited while the receive
// thread already waits is noticed in good time.
milliseconds WaitSlice(milliseconds timeout) {
    return std::clamp(timeout / 4, milliseconds(5), milliseconds(500));
}

milliseconds Shorter(nanoseconds left, milliseconds slice) {
    if (left >= slice) return slice;
    return std::chrono::ceil<milliseconds>(std::max(left, nanoseconds(0)));
}

}  // namespace

// Where a connection stands with TLS.
enum class Phase : int {
    Plain,      // plain TCP
    Answering,  // plain, the answer to the upgrade command is read line by line
    Handshake,  // TLS is due or being negotiated: nothing may be sent
    Secured,    // every byte goes through TLS
};

struct SocketCore::Link {
    Link(std::uint64_t g, int f, std::string h, ServerSocket::Security s)
        : generation(g),
          fd(f),
          host(std::move(h)),
          security(s),
          phase(s == ServerSocket::Security::Tls ? Phase::Handshake : Phase::Plain) {}
    const std::uint64_t generation;
    int fd;  // guarded by the core's mutex; -1 once the receive thread closed it
    const std::string host;
    const ServerSocket::Security security;
    std::atomic<bool> ownerClosed{false};
    std::atomic<bool> finished{false};

    std::atomic<Phase> phase;
    // The TLS state is used by the receive thread (handshake, reads) and by
    // Send (writes), never by both at once: every call holds tlsMutex, and
    // no wait on the socket does. Set and freed by the receive thread, freed
    // only while it also holds the core's sendMutex_.
    std::mutex tlsMutex;
    std::unique_ptr<platform::TlsClient> tls;

    // The receive thread waits here after the answer to the upgrade command.
    std::mutex decisionMutex;
    std::condition_variable decided;
    bool startTls = false;  // guarded by decisionMutex

    void Wake() {
        std::lock_guard<std::mutex> lock(decisionMutex);
        decided.notify_all();
    }
};

std::int64_t ReplyClock::Now() {
    return std::chrono::duration_cast<nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void ReplyClock::Await() {
    last_ = Now();
    awaiting_ = true;
}

void ReplyClock::Touch() {
    last_ = Now();
}

void ReplyClock::Handled() {
    last_ = Now();
    if (--pending_ == kMaxPending / 2) {
        std::lock_guard<std::mutex> lock(roomMutex_);
        room_.notify_all();
    }
}

void ReplyClock::Wake() {
    std::lock_guard<std::mutex> lock(roomMutex_);
    room_.notify_all();
}

void ReplyClock::WaitForRoom(milliseconds most) {
    std::unique_lock<std::mutex> lock(roomMutex_);
    room_.wait_for(lock, most, [this] { return pending_ <= kMaxPending / 2; });
}

nanoseconds ReplyClock::Left() const {
    if (!awaiting_ || pending_ > 0) return nanoseconds::max();
    return nanoseconds(last_.load() + std::chrono::duration_cast<nanoseconds>(timeout_).count() - Now());
}

SocketCore::Verdict SocketCore::Admit(const RawReport& report) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (report.generation != generation_ || !link_) return Verdict::Drop;
    if (report.last) handle_ = -1;
    if (link_->ownerClosed) return report.last ? Verdict::DeliverAsReadFailure : Verdict::Drop;
    return Verdict::Deliver;
}

void SocketCore::Receive(std::shared_ptr<SocketCore> core, std::shared_ptr<Link> link, std::uint32_t address,
                         int port) {
    int fd = -1;
    {
        std::lock_guard<std::mutex> lock(core->mutex_);
        fd = link->fd;
    }
    ReplyClock& clock = core->clock_;
    const milliseconds slice = WaitSlice(clock.timeout());

    // The thread closes its socket itself: closing it from another thread
    // while this one still uses it could let a reused descriptor be read here.
    auto finish = [&](int count, std::string text, ReportKind kind = ReportKind::Data) {
        {
            std::lock_guard<std::mutex> sending(core->sendMutex_);
            {
                std::lock_guard<std::mutex> tls(link->tlsMutex);
                link->tls.reset();
            }
            {
                std::lock_guard<std::mutex> lock(core->mutex_);
                link->fd = -1;
            }
            platform::CloseSocket(fd);
        }
        core->Report(RawReport{link->generation, count, std::move(text), true, kind});
        link->finished = true;
    };

    // Waits for the socket as TLS or a read asked; false when the wait failed.
    enum class Need { Read, Write };
    auto waitFor = [&](Need need, nanoseconds left) {
        milliseconds most = Shorter(left, slice);
        platform::Wait w = need == Need::Read ? platform::WaitReadable(fd, most) : platform::WaitWritable(fd, most);
        return w != platform::Wait::Failed;
    };

    // The TLS handshake; false once it failed and the thread has finished.
    auto secure = [&]() -> bool {
        std::string error;
        std::unique_ptr<platform::TlsClient> client = platform::TlsClient::Create(fd, link->host, error);
        if (!client) {
            finish(-1, error, ReportKind::TlsFailed);
            return false;
        }
        {
            std::lock_guard<std::mutex> lock(link->tlsMutex);
            link->tls = std::move(client);
        }
        // After STLS the server's first byte must open a TLS record (a
        // handshake or an alert); anything else is plain text it sent
        // after its answer.
        bool firstByteSeen = link->security != ServerSocket::Security::Upgrade;
        for (;;) {
            if (link->ownerClosed) {
                finish(-1, "");
                return false;
            }
            platform::TlsStatus status;
            std::string summary;
            platform::TlsFailure failure = platform::TlsFailure::None;
            std::string reason;
            {
                std::lock_guard<std::mutex> lock(link->tlsMutex);
                status = link->tls->Handshake();
                if (status == platform::TlsStatus::Done) {
                    summary = link->tls->Summary();
                    link->phase = Phase::Secured;
                } else if (status == platform::TlsStatus::Failed) {
                    failure = link->tls->failure();
                    reason = link->tls->FailureText();
                }
            }
            if (status == platform::TlsStatus::Done) {
                clock.Touch();
                core->Report(RawReport{link->generation, 0, std::move(summary), false, ReportKind::Secured});
                return true;
            }
            if (status != platform::TlsStatus::WantRead && status != platform::TlsStatus::WantWrite) {
                if (link->ownerClosed)
                    finish(-1, "");
                else
                    finish(-1, reason,
                           failure == platform::TlsFailure::Certificate ? ReportKind::CertificateRejected
                                                                        : ReportKind::TlsFailed);
                return false;
            }
            nanoseconds left = clock.Left();
            if (left <= nanoseconds(0)) {
                finish(-1, kTimedOut, ReportKind::TlsFailed);
                return false;
            }
            Need need = status == platform::TlsStatus::WantRead ? Need::Read : Need::Write;
            if (!waitFor(need, left)) {
                finish(-1, "");
                return false;
            }
            if (!firstByteSeen && need == Need::Read) {
                unsigned char first = 0;
                if (::recv(fd, &first, 1, MSG_PEEK | MSG_DONTWAIT) == 1) {
                    firstByteSeen = true;
                    if (first != 0x16 && first != 0x15) {
                        finish(-1, kDataAfterAnswer, ReportKind::UpgradeRefused);
                        return false;
                    }
                }
            }
        }
    };

    switch (platform::StartConnect(fd, address, port)) {
        case platform::ConnectStart::Failed:
            return finish(-1, kOpenFailed);
        case platform::ConnectStart::InProgress: {
            const auto deadline = std::chrono::steady_clock::now() + clock.timeout();
            for (;;) {
                if (link->ownerClosed) return finish(-1, "");
                auto left = deadline - std::chrono::steady_clock::now();
                if (left <= nanoseconds(0)) return finish(-1, kTimedOut);
                platform::Wait w = platform::WaitWritable(fd, Shorter(left, slice));
                if (w == platform::Wait::TimedOut) continue;
                if (link->ownerClosed) return finish(-1, "");
                if (w == platform::Wait::Ready && platform::ConnectSucceeded(fd)) break;
                return finish(-1, kOpenFailed);
            }
            break;
        }
        case platform::ConnectStart::Connected:
            break;
    }
    clock.Touch();
    if (link->phase == Phase::Handshake && !secure()) return;

    char buffer[kReadSize];
    std::string line;  // read so far of a line read byte by byte
    for (;;) {
        // An owner that falls behind is not buried under queued reports.
        while (clock.Crowded() && !link->ownerClosed) clock.WaitForRoom(slice);
        if (link->ownerClosed) return finish(-1, "");
        const Phase phase = link->phase;
        const bool lineWise = link->security == ServerSocket::Security::Upgrade && phase != Phase::Secured;
        bool wouldBlock = false;
        Need need = Need::Read;
        ssize_t n = -1;
        if (phase == Phase::Secured) {
            std::size_t got = 0;
            platform::TlsStatus status;
            {
                std::lock_guard<std::mutex> lock(link->tlsMutex);
                status = link->tls->Read(buffer, kReadSize, got);
            }
            switch (status) {
                case platform::TlsStatus::Done:
                    n = static_cast<ssize_t>(got);
                    break;
                case platform::TlsStatus::Closed:
                    n = 0;
                    break;
                case platform::TlsStatus::WantRead:
                    wouldBlock = true;
                    break;
                case platform::TlsStatus::WantWrite:
                    wouldBlock = true;
                    need = Need::Write;
                    break;
                case platform::TlsStatus::Failed:
                    break;  // a cut without the closing alert is a failed read
            }
        } else {
            // Before an upgrade, one byte at a time, so that nothing behind
            // the line end of the server's answer is ever taken in.
            n = platform::ReceiveSome(fd, buffer, lineWise ? 1 : kReadSize, wouldBlock);
        }
        // After the owner's Close nothing more is reported but a failed read.
        if (link->ownerClosed) return finish(-1, "");
        if (n <= 0 && !wouldBlock && !line.empty()) {
            // The end of the stream cuts an unfinished line: report what came.
            core->Report(RawReport{link->generation, static_cast<int>(line.size()), std::move(line), false});
            line.clear();
        }
        if (n > 0 && lineWise) {
            // The owner already asked for TLS: this is plain text after the answer.
            if (link->phase == Phase::Handshake) return finish(-1, kDataAfterAnswer, ReportKind::UpgradeRefused);
            clock.Touch();
            line.push_back(buffer[0]);
            if (buffer[0] != '\n' && line.size() < kReadSize) continue;
            // Looked at before reporting: the owner arms the upgrade in answer
            // to a report, so a line reported while plain is never the answer.
            const bool answer = buffer[0] == '\n' && link->phase != Phase::Plain;
            core->Report(RawReport{link->generation, static_cast<int>(line.size()), std::move(line), false});
            line.clear();
            if (!answer) continue;
            // That was the answer: nothing more is read until the owner decides.
            {
                std::unique_lock<std::mutex> lock(link->decisionMutex);
                while (!link->startTls && !link->ownerClosed) {
                    nanoseconds left = clock.Left();
                    if (left <= nanoseconds(0)) {
                        lock.unlock();
                        return finish(-1, kTimedOut);
                    }
                    link->decided.wait_for(lock, Shorter(left, slice));
                }
            }
            if (link->ownerClosed) return finish(-1, "");
            unsigned char next = 0;
            if (::recv(fd, &next, 1, MSG_PEEK | MSG_DONTWAIT) == 1)
                return finish(-1, kDataAfterAnswer, ReportKind::UpgradeRefused);
            if (!secure()) return;
            continue;
        }
        if (n > 0) {
            clock.Touch();
            core->Report(RawReport{link->generation, static_cast<int>(n),
                                   std::string(buffer, static_cast<std::size_t>(n)), false});
            // A full read may have more behind it; a short one has emptied
            // the socket, so wait instead of asking again. TLS may hold
            // decrypted bytes back however short the read: ask until it waits.
            if (static_cast<std::size_t>(n) == kReadSize || phase == Phase::Secured) continue;
        } else if (n == 0) {
            return finish(0, "");
        } else if (!wouldBlock) {
            return finish(-1, "");
        }
        nanoseconds left = clock.Left();
        if (left <= nanoseconds(0)) return finish(-1, kTimedOut);
        if (!waitFor(need, left)) return finish(-1, "");
    }
}

ServerSocket::ServerSocket(SocketCore::ReportHandler handler, milliseconds timeout)
    : core_(std::make_shared<SocketCore>(std::move(handler), timeout)) {}

ServerSocket::~ServerSocket() {
    Close();
    std::vector<Worker> workers;
    {
        std::lock_guard<std::mutex> lock(workersMutex_);
        workers.swap(workers_);
    }
    for (Worker& w : workers) {
        // Destroyed from inside a report on the receive thread itself: that
        // thread holds the shared core and finishes on its own.
        if (w.thread.get_id() == std::this_thread::get_id())
            w.thread.detach();
        else if (w.thread.joinable())
            w.thread.join();
    }
}

void ServerSocket::ReapFinished() {
    std::lock_guard<std::mutex> lock(workersMutex_);
    auto self = std::this_thread::get_id();
    auto done = [self](Worker& w) {
        if (!w.link->finished || w.thread.get_id() == self) return false;
        w.thread.join();
        return true;
    };
    workers_.erase(std::remove_if(workers_.begin(), workers_.end(), done), workers_.end());
}

ServerSocket::OpenResult ServerSocket::Open(const std::string& host, int port, Security security) {
    std::uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(core_->mutex_);
        if (core_->handle_ != -1) return OpenResult::AlreadyOpen;
        generation = ++core_->generation_;
        core_->link_.reset();
    }
    ReapFinished();

    int fd = platform::CreateTcpSocket();
    if (fd < 0) return OpenResult::CreateFailed;
    platform::SetNoDelay(fd);
    std::uint32_t address = 0;
    if (!platform::ResolveIPv4(host, address)) {
        platform::CloseSocket(fd);
        return OpenResult::InvalidName;
    }

    auto link = std::make_shared<SocketCore::Link>(generation, fd, host, security);
    {
        std::lock_guard<std::mutex> lock(core_->mutex_);
        if (core_->handle_ != -1 || core_->generation_ != generation) {
            // Another Open got there first.
            platform::CloseSocket(fd);
            return OpenResult::AlreadyOpen;
        }
        core_->link_ = link;
        core_->handle_ = fd;
    }
    core_->clock_.Await();  // the greeting

    try {
        std::lock_guard<std::mutex> lock(workersMutex_);
        workers_.reserve(workers_.size() + 1);  // so that adding cannot fail once the thread runs
        std::thread thread(&SocketCore::Receive, core_, link, address, port);
        workers_.push_back(Worker{std::move(thread), link});
    } catch (...) {
        {
            std::lock_guard<std::mutex> lock(core_->mutex_);
            core_->handle_ = -1;
            core_->link_.reset();
            link->fd = -1;
        }
        platform::CloseSocket(fd);
        return OpenResult::ThreadFailed;
    }
    return OpenResult::Started;
}

void ServerSocket::Close() {
    {
        std::lock_guard<std::mutex> lock(core_->mutex_);
        if (core_->handle_ == -1) return;
        core_->handle_ = -1;
        if (!core_->link_) return;
        core_->link_->ownerClosed = true;
        // Wakes the receive thread; it closes the descriptor itself.
        if (core_->link_->fd != -1) platform::Shutdown(core_->link_->fd);
        core_->link_->Wake();  // in case it waits for StartTls
    }
    core_->clock_.Wake();  // in case it waits for the owner to catch up
}

void ServerSocket::ExpectUpgrade() {
    std::lock_guard<std::mutex> lock(core_->mutex_);
    if (!core_->link_ || core_->link_->security != Security::Upgrade) return;
    Phase plain = Phase::Plain;
    core_->link_->phase.compare_exchange_strong(plain, Phase::Answering);
}

void ServerSocket::StartTls() {
    std::shared_ptr<SocketCore::Link> link;
    {
        std::lock_guard<std::mutex> lock(core_->mutex_);
        if (core_->handle_ == -1 || !core_->link_) return;
        link = core_->link_;
    }
    Phase answering = Phase::Answering;
    if (!link->phase.compare_exchange_strong(answering, Phase::Handshake)) return;
    core_->clock_.Await();  // the handshake is timed like a reply
    std::lock_guard<std::mutex> lock(link->decisionMutex);
    link->startTls = true;
    link->decided.notify_all();
}

bool ServerSocket::Send(const std::string& text) {
    // The receive thread cannot close the descriptor while we write.
    std::lock_guard<std::mutex> sending(core_->sendMutex_);
    int fd = -1;
    std::shared_ptr<SocketCore::Link> link;
    {
        std::lock_guard<std::mutex> lock(core_->mutex_);
        if (core_->handle_ == -1 || !core_->link_ || core_->link_->fd == -1) return false;
        fd = core_->link_->fd;
        link = core_->link_;
    }
    const Phase phase = link->phase;
    // Nothing may leave in clear once TLS is due.
    if (phase == Phase::Handshake) return false;
    const bool secured = phase == Phase::Secured;
    const auto deadline = std::chrono::steady_clock::now() + core_->clock_.timeout();
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        bool wouldBlock = false;
        bool wantRead = false;
        ssize_t n = -1;
        if (secured) {
            std::size_t written = 0;
            platform::TlsStatus status = platform::TlsStatus::Failed;
            {
                std::lock_guard<std::mutex> lock(link->tlsMutex);
                if (link->tls) status = link->tls->Write(data, left, written);
            }
            if (status == platform::TlsStatus::Done) n = static_cast<ssize_t>(written);
            wouldBlock = status == platform::TlsStatus::WantWrite;
            wantRead = status == platform::TlsStatus::WantRead;
        } else {
            n = platform::SendSome(fd, data, left, wouldBlock);
        }
        if (n > 0) {
            data += n;
            left -= static_cast<std::size_t>(n);
            continue;
        }
        auto rest = std::chrono::ceil<milliseconds>(deadline - std::chrono::steady_clock::now());
        if (rest <= milliseconds(0)) break;
        // TLS wants the server's data first (a renegotiation): the receive
        // thread reads it; look again shortly.
        if (wantRead) {
            std::this_thread::sleep_for(milliseconds(2));
            continue;
        }
        // Still connecting or the peer is slow to read: wait, but not forever.
        if (!wouldBlock || platform::WaitWritable(fd, rest) != platform::Wait::Ready) break;
    }
    return left == 0;
}

bool ServerSocket::IsOpen() const {
    std::lock_guard<std::mutex> lock(core_->mutex_);
    return core_->handle_ != -1;
}
