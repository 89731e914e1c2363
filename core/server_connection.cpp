#include "core/server_connection.h"

#include "core/line_framing.h"
#include "core/server_socket.h"

#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>
#include <utility>

namespace {

constexpr const char* kCreateFailed = "Failed to create socket.";
constexpr const char* kInvalidName = "Invalid server name.";
constexpr const char* kOpenFailed = "Failed to open socket.";

void WriteToStderr(void*, ConnectionEvent, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
}

// Framing and the owner's handler. Reports still queued in the dispatcher
// reach it through a weak pointer, so one that runs after the connection
// is gone does nothing.
struct Reception : std::enable_shared_from_this<Reception> {
    // Recursive: the owner calls SetTerminator, Send, Open from its handler.
    std::recursive_mutex mutex;
    LineFraming framing;
    ConnectionHandler handler = WriteToStderr;
    void* userData = nullptr;
    ServerConnection::Dispatcher dispatcher;
    std::shared_ptr<SocketCore> core;
    std::atomic<bool> dead{false};

    // A report that arrives while one is being framed (a dispatcher run
    // from inside the owner's handler) waits for it to finish.
    bool framing_busy = false;
    std::deque<RawReport> backlog;

    // Reports from the receive thread wait here for the dispatcher. One
    // task at a time takes them out in order, a batch per task, so a fast
    // stream costs few dispatches and still leaves the owner's thread free
    // between batches.
    static constexpr int kBatch = 64;
    std::mutex inboxMutex;
    std::deque<RawReport> inbox;
    bool drainPosted = false;

    LineFraming::Sink sink = [this](ConnectionEvent event, const std::string& text) { Emit(event, text); };

    void Emit(ConnectionEvent event, const std::string& text) {
        if (dead) return;
        if (event == ConnectionEvent::Reply) core->clock().Settle();
        handler(userData, event, text);
    }

    void Frame(RawReport& report) {
        switch (core->Admit(report)) {
            case SocketCore::Verdict::Drop:
                return;
            case SocketCore::Verdict::DeliverAsReadFailure:
                report.count = -1;
                report.text.clear();
                report.kind = ReportKind::Data;
                break;
            case SocketCore::Verdict::Deliver:
                break;
        }
        switch (report.kind) {
            case ReportKind::Data:
                framing.Feed(report.count, report.text, sink);
                break;
            case ReportKind::Secured:
                Emit(ConnectionEvent::Secured, report.text);
                break;
            case ReportKind::CertificateRejected:
                Emit(ConnectionEvent::CertificateRejected, report.text);
                break;
            case ReportKind::TlsFailed:
                Emit(ConnectionEvent::TlsFailed, report.text);
                break;
            case ReportKind::UpgradeRefused:
                Emit(ConnectionEvent::UpgradeRefused, report.text);
                break;
        }
    }

    // On the receive thread.
    static void Post(const std::shared_ptr<Reception>& self, RawReport report) {
        bool post = false;
        {
            std::lock_guard<std::mutex> lock(self->inboxMutex);
            self->inbox.push_back(std::move(report));
            self->core->clock().Queued();
            post = !self->drainPosted;
            self->drainPosted = true;
        }
        if (post) PostDrain(self);
    }

    static void PostDrain(const std::shared_ptr<Reception>& self) {
        std::weak_ptr<Reception> weak = self;
        self->dispatcher([weak] {
            if (auto r = weak.lock()) r->Drain();
        });
    }

    void Drain() {
        for (int i = 0; i < kBatch; ++i) {
            if (dead) return;
            RawReport report;
            {
                std::lock_guard<std::mutex> lock(inboxMutex);
                if (inbox.empty()) {
                    drainPosted = false;
                    return;
                }
                report = std::move(inbox.front());
                inbox.pop_front();
            }
            struct Done {
                ReplyClock& clock;
                ~Done() { clock.Handled(); }
            } done{core->clock()};
            Handle(std::move(report));
        }
        {
            std::lock_guard<std::mutex> lock(inboxMutex);
            if (inbox.empty()) {
                drainPosted = false;
                return;
            }
        }
        if (!dead) PostDrain(shared_from_this());
    }

    void Handle(RawReport report) {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        if (dead) return;
        if (framing_busy) {
            backlog.push_back(std::move(report));
            return;
        }
        framing_busy = true;
        struct Idle {
            bool& busy;
            ~Idle() { busy = false; }
        } idle{framing_busy};
        Frame(report);
        while (!backlog.empty() && !dead) {
            RawReport next = std::move(backlog.front());
            backlog.pop_front();
            Frame(next);
        }
    }
};

}  // namespace

struct ServerConnection::Impl {
    std::shared_ptr<Reception> reception = std::make_shared<Reception>();
    std::unique_ptr<ServerSocket> socket;
};

ServerConnection::ServerConnection(Dispatcher dispatcher, std::chrono::milliseconds replyTimeout,
                                   LineFraming::Limits limits)
    : impl_(std::make_unique<Impl>()) {
    impl_->reception->framing = LineFraming(limits);
    std::weak_ptr<Reception> weak = impl_->reception;
    // Runs on the receive thread for every read.
    auto report = [weak](RawReport raw) {
        auto reception = weak.lock();
        if (!reception || reception->dead) return;
        if (reception->dispatcher)
            Reception::Post(reception, std::move(raw));
        else
            reception->Handle(std::move(raw));
    };
    impl_->reception->dispatcher = std::move(dispatcher);
    impl_->socket = std::make_unique<ServerSocket>(std::move(report), replyTimeout);
    impl_->reception->core = impl_->socket->core();
}

ServerConnection::~ServerConnection() {
    impl_->reception->dead = true;
    impl_->socket.reset();  // closes and waits for the receive threads
}

void ServerConnection::SetOwner(ConnectionHandler handler, void* userData) {
    Reception& r = *impl_->reception;
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    r.handler = handler ? handler : WriteToStderr;
    r.userData = userData;
}

void ServerConnection::SetTerminator(const std::string& terminator) {
    Reception& r = *impl_->reception;
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    r.framing.SetTerminator(terminator);
    r.core->clock().Await();
}

void ServerConnection::SetListing(bool on) {
    Reception& r = *impl_->reception;
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    r.framing.SetListing(on);
}

void ServerConnection::SetPipelined(bool on) {
    Reception& r = *impl_->reception;
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    r.framing.SetNegativeEndsFirst(on);
}

bool ServerConnection::Open(const std::string& host, int port, Security security) {
    Reception& r = *impl_->reception;
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    if (impl_->socket->IsOpen()) return false;
    r.framing.Reset();
    r.framing.SetNegativeEndsFirst(false);
    switch (impl_->socket->Open(host, port, security)) {
        case ServerSocket::OpenResult::Started:
            return true;
        case ServerSocket::OpenResult::AlreadyOpen:
            return false;
        case ServerSocket::OpenResult::CreateFailed:
            r.framing.Feed(-1, kCreateFailed, r.sink);
            return false;
        case ServerSocket::OpenResult::InvalidName:
            r.framing.Feed(-1, kInvalidName, r.sink);
            return false;
        case ServerSocket::OpenResult::ThreadFailed:
            r.framing.Feed(-1, kOpenFailed, r.sink);
            return false;
    }
    return false;
}

void ServerConnection::Close() {
    impl_->socket->Close();
}

void ServerConnection::ExpectUpgrade() {
    impl_->socket->ExpectUpgrade();
}

bool ServerConnection::StartTls() {
    Reception& r = *impl_->reception;
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    // Reports read before the decision but not yet framed are plain text
    // the server sent after its answer just as much as framed ones.
    std::size_t held = r.framing.Buffered().size();
    for (const RawReport& report : r.backlog) held += report.text.size() + 1;
    {
        std::lock_guard<std::mutex> inbox(r.inboxMutex);
        for (const RawReport& report : r.inbox) held += report.text.size() + 1;
    }
    return impl_->socket->StartTls(held);
}

void ServerConnection::Send(const std::string& text) {
    impl_->socket->Send(text);
    Reception& r = *impl_->reception;
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    r.Emit(ConnectionEvent::Sent, text);
}

void ServerConnection::Send(const std::vector<std::string>& texts) {
    std::string all;
    for (const std::string& text : texts) all += text;
    impl_->socket->Send(all);
    Reception& r = *impl_->reception;
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    for (const std::string& text : texts) r.Emit(ConnectionEvent::Sent, text);
}

bool ServerConnection::IsOpen() const {
    return impl_->socket->IsOpen();
}

void ServerConnection::SetStreamSource(ServerSocket::StreamSource source) {
    impl_->socket->SetStreamSource(std::move(source));
}
