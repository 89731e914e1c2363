#include "core/server_socket.h"

#include "platform/transport.h"

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
    Link(std::uint64_t g, std::unique_ptr<platform::Transport> t, std::string h, ServerSocket::Security s)
        : generation(g),
          transport(std::move(t)),
          host(std::move(h)),
          security(s),
          phase(s == ServerSocket::Security::Tls ? Phase::Handshake : Phase::Plain) {}
    const std::uint64_t generation;
    // Null once the receive thread closed it. Only the receive thread resets
    // it, holding both the core's sendMutex_ and mutex_; others look at it
    // holding one of them.
    std::unique_ptr<platform::Transport> transport;
    const std::string host;
    const ServerSocket::Security security;
    std::atomic<bool> ownerClosed{false};
    std::atomic<bool> finished{false};
    std::atomic<Phase> phase;

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
    platform::Transport* transport = nullptr;
    {
        std::lock_guard<std::mutex> lock(core->mutex_);
        transport = link->transport.get();
    }
    ReplyClock& clock = core->clock_;
    const milliseconds slice = WaitSlice(clock.timeout());

    // The thread closes its socket itself: closing it from another thread
    // while this one still uses it could let a reused descriptor be read here.
    auto finish = [&](int count, std::string text, ReportKind kind = ReportKind::Data) {
        {
            std::lock_guard<std::mutex> sending(core->sendMutex_);
            std::unique_ptr<platform::Transport> closing;
            {
                std::lock_guard<std::mutex> lock(core->mutex_);
                closing = std::move(link->transport);
            }
            closing.reset();
        }
        core->Report(RawReport{link->generation, count, std::move(text), true, kind});
        link->finished = true;
    };

    // Waits as TLS or a read asked; false when the wait failed.
    auto waitFor = [&](platform::IoStatus want, nanoseconds left) {
        return transport->WaitFor(want, Shorter(left, slice)) != platform::Wait::Failed;
    };

    // The TLS handshake; false once it failed and the thread has finished.
    auto secure = [&]() -> bool {
        bool timedOut = false;
        auto wait = [&](platform::IoStatus want) {
            if (link->ownerClosed) return false;
            nanoseconds left = clock.Left();
            if (left <= nanoseconds(0)) {
                timedOut = true;
                return false;
            }
            return waitFor(want, left);
        };
        const platform::HandshakeEnd end = transport->Secure(link->host, wait);
        if (end == platform::HandshakeEnd::Secured) {
            link->phase = Phase::Secured;
            clock.Touch();
            core->Report(RawReport{link->generation, 0, transport->Summary(), false, ReportKind::Secured});
            return true;
        }
        if (link->ownerClosed) {
            finish(-1, "");
            return false;
        }
        switch (end) {
            case platform::HandshakeEnd::Stopped:
                if (timedOut)
                    finish(-1, kTimedOut, ReportKind::TlsFailed);
                else
                    finish(-1, "");
                break;
            case platform::HandshakeEnd::CertificateRejected:
                finish(-1, transport->FailureText(), ReportKind::CertificateRejected);
                break;
            case platform::HandshakeEnd::DataAfterAnswer:
                finish(-1, kDataAfterAnswer, ReportKind::UpgradeRefused);
                break;
            default:
                finish(-1, transport->FailureText(), ReportKind::TlsFailed);
                break;
        }
        return false;
    };

    switch (transport->StartConnect(address, port)) {
        case platform::ConnectStart::Failed:
            return finish(-1, kOpenFailed);
        case platform::ConnectStart::InProgress: {
            const auto deadline = std::chrono::steady_clock::now() + clock.timeout();
            for (;;) {
                if (link->ownerClosed) return finish(-1, "");
                auto left = deadline - std::chrono::steady_clock::now();
                if (left <= nanoseconds(0)) return finish(-1, kTimedOut);
                platform::Wait w = transport->WaitWritable(Shorter(left, slice));
                if (w == platform::Wait::TimedOut) continue;
                if (link->ownerClosed) return finish(-1, "");
                if (w == platform::Wait::Ready && transport->ConnectSucceeded()) break;
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
        // Before an upgrade, one byte at a time, so that nothing behind the
        // line end of the server's answer is ever taken in. A TLS failure
        // (a cut without the closing alert included) is a failed read.
        std::size_t got = 0;
        const platform::IoStatus status = transport->Read(buffer, lineWise ? 1 : kReadSize, got);
        const bool wouldBlock = status == platform::IoStatus::WantRead || status == platform::IoStatus::WantWrite;
        const ssize_t n = status == platform::IoStatus::Done     ? static_cast<ssize_t>(got)
                          : status == platform::IoStatus::Closed ? 0
                                                                 : -1;
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
        if (!waitFor(wouldBlock ? status : platform::IoStatus::WantRead, left)) return finish(-1, "");
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

    std::unique_ptr<platform::Transport> transport;
    std::uint32_t address = 0;
    if (streamSource_) {
        std::unique_ptr<platform::ByteStream> stream = streamSource_(host, port);
        if (!stream) return OpenResult::InvalidName;
        transport = std::make_unique<platform::Transport>(std::move(stream));
    } else {
        transport = platform::Transport::OpenSocket(true);
        if (!transport) return OpenResult::CreateFailed;
        if (!platform::ResolveIPv4(host, address)) return OpenResult::InvalidName;
    }

    // A scripted stream has no descriptor; any handle but -1 means open.
    const int fd = std::max(transport->Descriptor(), 0);
    auto link = std::make_shared<SocketCore::Link>(generation, std::move(transport), host, security);
    {
        std::lock_guard<std::mutex> lock(core_->mutex_);
        if (core_->handle_ != -1 || core_->generation_ != generation) {
            return OpenResult::AlreadyOpen;  // another Open got there first
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
        std::unique_ptr<platform::Transport> closing;
        {
            std::lock_guard<std::mutex> lock(core_->mutex_);
            core_->handle_ = -1;
            core_->link_.reset();
            closing = std::move(link->transport);
        }
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
        if (core_->link_->transport) core_->link_->transport->Shutdown();
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

bool ServerSocket::StartTls(std::size_t held) {
    // The receive thread reads nothing while it waits for the decision, and
    // cannot close the socket while we look at it.
    std::lock_guard<std::mutex> sending(core_->sendMutex_);
    std::shared_ptr<SocketCore::Link> link;
    {
        std::lock_guard<std::mutex> lock(core_->mutex_);
        if (core_->handle_ == -1 || !core_->link_ || !core_->link_->transport) return true;
        link = core_->link_;
    }
    if (link->phase != Phase::Answering) return true;
    if (!link->transport->MayUpgrade(held)) return false;
    Phase answering = Phase::Answering;
    if (!link->phase.compare_exchange_strong(answering, Phase::Handshake)) return true;
    core_->clock_.Await();  // the handshake is timed like a reply
    std::lock_guard<std::mutex> lock(link->decisionMutex);
    link->startTls = true;
    link->decided.notify_all();
    return true;
}

bool ServerSocket::Send(const std::string& text) {
    // The receive thread cannot close the socket while we write.
    std::lock_guard<std::mutex> sending(core_->sendMutex_);
    std::shared_ptr<SocketCore::Link> link;
    {
        std::lock_guard<std::mutex> lock(core_->mutex_);
        if (core_->handle_ == -1 || !core_->link_ || !core_->link_->transport) return false;
        link = core_->link_;
    }
    platform::Transport& transport = *link->transport;
    // Nothing may leave in clear once TLS is due.
    if (link->phase == Phase::Handshake) return false;
    const auto deadline = std::chrono::steady_clock::now() + core_->clock_.timeout();
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        std::size_t written = 0;
        const platform::IoStatus status = transport.Write(data, left, written);
        if (status == platform::IoStatus::Done) {
            data += written;
            left -= written;
            continue;
        }
        auto rest = std::chrono::ceil<milliseconds>(deadline - std::chrono::steady_clock::now());
        if (rest <= milliseconds(0)) break;
        // TLS wants the server's data first (a renegotiation): the receive
        // thread reads it; look again shortly.
        if (status == platform::IoStatus::WantRead) {
            std::this_thread::sleep_for(milliseconds(2));
            continue;
        }
        // Still connecting or the peer is slow to read: wait, but not forever.
        if (status != platform::IoStatus::WantWrite || transport.WaitWritable(rest) != platform::Wait::Ready) break;
    }
    return left == 0;
}

bool ServerSocket::IsOpen() const {
    std::lock_guard<std::mutex> lock(core_->mutex_);
    return core_->handle_ != -1;
}
