#include "core/server_socket.h"

#include "platform/socket.h"

#include <algorithm>
#include <utility>

namespace {

constexpr const char* kOpenFailed = "Failed to open socket.";
constexpr const char* kTimedOut = "Timed out.";
// At most this much per read. Every byte read is reported, NULs included.
constexpr std::size_t kReadSize = 1023;

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

// How long one wait may last, so that a reply awaited while the receive
// thread already waits is noticed in good time.
milliseconds WaitSlice(milliseconds timeout)
{
    return std::clamp(timeout / 4, milliseconds(5), milliseconds(500));
}

milliseconds Shorter(nanoseconds left, milliseconds slice)
{
    if (left >= slice) return slice;
    return std::chrono::ceil<milliseconds>(std::max(left, nanoseconds(0)));
}

}  // namespace

struct SocketCore::Link {
    Link(std::uint64_t g, int f) : generation(g), fd(f) {}
    const std::uint64_t generation;
    int fd;  // guarded by the core's mutex; -1 once the receive thread closed it
    std::atomic<bool> ownerClosed{false};
    std::atomic<bool> finished{false};
};

std::int64_t ReplyClock::Now()
{
    return std::chrono::duration_cast<nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void ReplyClock::Await()
{
    last_ = Now();
    awaiting_ = true;
}

void ReplyClock::Touch() { last_ = Now(); }

void ReplyClock::Handled()
{
    last_ = Now();
    if (--pending_ == kMaxPending / 2) {
        std::lock_guard<std::mutex> lock(roomMutex_);
        room_.notify_all();
    }
}

void ReplyClock::Wake()
{
    std::lock_guard<std::mutex> lock(roomMutex_);
    room_.notify_all();
}

void ReplyClock::WaitForRoom(milliseconds most)
{
    std::unique_lock<std::mutex> lock(roomMutex_);
    room_.wait_for(lock, most, [this] { return pending_ <= kMaxPending / 2; });
}

nanoseconds ReplyClock::Left() const
{
    if (!awaiting_ || pending_ > 0) return nanoseconds::max();
    return nanoseconds(last_.load() + std::chrono::duration_cast<nanoseconds>(timeout_).count() - Now());
}

SocketCore::Verdict SocketCore::Admit(const RawReport& report)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (report.generation != generation_ || !link_) return Verdict::Drop;
    if (report.last) handle_ = -1;
    if (link_->ownerClosed) return report.last ? Verdict::DeliverAsReadFailure : Verdict::Drop;
    return Verdict::Deliver;
}

void SocketCore::Receive(std::shared_ptr<SocketCore> core, std::shared_ptr<Link> link, std::uint32_t address, int port)
{
    int fd = -1;
    {
        std::lock_guard<std::mutex> lock(core->mutex_);
        fd = link->fd;
    }
    ReplyClock& clock = core->clock_;
    const milliseconds slice = WaitSlice(clock.timeout());

    // The thread closes its socket itself: closing it from another thread
    // while this one still uses it could let a reused descriptor be read here.
    auto finish = [&](int count, std::string text) {
        {
            std::lock_guard<std::mutex> sending(core->sendMutex_);
            {
                std::lock_guard<std::mutex> lock(core->mutex_);
                link->fd = -1;
            }
            platform::CloseSocket(fd);
        }
        core->Report(RawReport{link->generation, count, std::move(text), true});
        link->finished = true;
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

    char buffer[kReadSize];
    for (;;) {
        // An owner that falls behind is not buried under queued reports.
        while (clock.Crowded() && !link->ownerClosed) clock.WaitForRoom(slice);
        if (link->ownerClosed) return finish(-1, "");
        bool wouldBlock = false;
        ssize_t n = platform::ReceiveSome(fd, buffer, kReadSize, wouldBlock);
        // After the owner's Close nothing more is reported but a failed read.
        if (link->ownerClosed) return finish(-1, "");
        if (n > 0) {
            clock.Touch();
            core->Report(RawReport{link->generation, static_cast<int>(n), std::string(buffer, static_cast<std::size_t>(n)), false});
            // A full read may have more behind it; a short one has emptied
            // the socket, so wait instead of asking again.
            if (static_cast<std::size_t>(n) == kReadSize) continue;
        } else if (n == 0) {
            return finish(0, "");
        } else if (!wouldBlock) {
            return finish(-1, "");
        }
        nanoseconds left = clock.Left();
        if (left <= nanoseconds(0)) return finish(-1, kTimedOut);
        if (platform::WaitReadable(fd, Shorter(left, slice)) == platform::Wait::Failed) return finish(-1, "");
    }
}

ServerSocket::ServerSocket(SocketCore::ReportHandler handler, milliseconds timeout)
    : core_(std::make_shared<SocketCore>(std::move(handler), timeout))
{
}

ServerSocket::~ServerSocket()
{
    Close();
    std::vector<Worker> workers;
    {
        std::lock_guard<std::mutex> lock(workersMutex_);
        workers.swap(workers_);
    }
    for (Worker& w : workers) {
        // Destroyed from inside a report on the receive thread itself: that
        // thread holds the shared core and finishes on its own.
        if (w.thread.get_id() == std::this_thread::get_id()) w.thread.detach();
        else if (w.thread.joinable()) w.thread.join();
    }
}

void ServerSocket::ReapFinished()
{
    std::lock_guard<std::mutex> lock(workersMutex_);
    auto self = std::this_thread::get_id();
    auto done = [self](Worker& w) {
        if (!w.link->finished || w.thread.get_id() == self) return false;
        w.thread.join();
        return true;
    };
    workers_.erase(std::remove_if(workers_.begin(), workers_.end(), done), workers_.end());
}

ServerSocket::OpenResult ServerSocket::Open(const std::string& host, int port)
{
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

    auto link = std::make_shared<SocketCore::Link>(generation, fd);
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

void ServerSocket::Close()
{
    {
        std::lock_guard<std::mutex> lock(core_->mutex_);
        if (core_->handle_ == -1) return;
        core_->handle_ = -1;
        if (!core_->link_) return;
        core_->link_->ownerClosed = true;
        // Wakes the receive thread; it closes the descriptor itself.
        if (core_->link_->fd != -1) platform::Shutdown(core_->link_->fd);
    }
    core_->clock_.Wake();  // in case it waits for the owner to catch up
}

bool ServerSocket::Send(const std::string& text)
{
    // The receive thread cannot close the descriptor while we write.
    std::lock_guard<std::mutex> sending(core_->sendMutex_);
    int fd = -1;
    {
        std::lock_guard<std::mutex> lock(core_->mutex_);
        if (core_->handle_ == -1 || !core_->link_ || core_->link_->fd == -1) return false;
        fd = core_->link_->fd;
    }
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        bool wouldBlock = false;
        ssize_t n = platform::SendSome(fd, data, left, wouldBlock);
        if (n > 0) {
            data += n;
            left -= static_cast<std::size_t>(n);
            continue;
        }
        // Still connecting or the peer is slow to read: wait, but not forever.
        if (!wouldBlock || platform::WaitWritable(fd, core_->clock_.timeout()) != platform::Wait::Ready) break;
    }
    return left == 0;
}

bool ServerSocket::IsOpen() const
{
    std::lock_guard<std::mutex> lock(core_->mutex_);
    return core_->handle_ != -1;
}
