#include "platform/transport.h"

#include <sys/socket.h>

#include <cerrno>
#include <utility>

namespace platform {

namespace {

// A TLS record opens with its content type: handshake (22) or alert (21).
bool OpensTlsRecord(unsigned char byte) {
    return byte == 0x16 || byte == 0x15;
}

}  // namespace

SocketStream::~SocketStream() {
    CloseSocket(fd_);
}

ssize_t SocketStream::Receive(char* buffer, std::size_t size, bool& wouldBlock) {
    return ReceiveSome(fd_, buffer, size, wouldBlock);
}

ssize_t SocketStream::Send(const char* data, std::size_t size, bool& wouldBlock) {
    return SendSome(fd_, data, size, wouldBlock);
}

bool SocketStream::PeekByte(unsigned char& byte) {
    return ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 1;
}

Wait SocketStream::WaitReadable(std::chrono::milliseconds timeout) {
    return platform::WaitReadable(fd_, timeout);
}

Wait SocketStream::WaitWritable(std::chrono::milliseconds timeout) {
    return platform::WaitWritable(fd_, timeout);
}

void SocketStream::Shutdown() {
    platform::Shutdown(fd_);
}

Transport::Transport(std::unique_ptr<ByteStream> stream) : stream_(std::move(stream)) {}

Transport::~Transport() = default;

std::unique_ptr<Transport> Transport::OpenSocket(bool noDelay) {
    const int fd = CreateTcpSocket();
    if (fd < 0) return nullptr;
    if (noDelay) SetNoDelay(fd);
    return std::make_unique<Transport>(std::make_unique<SocketStream>(fd));
}

ConnectStart Transport::StartConnect(std::uint32_t address, int port) {
    const int fd = stream_->Descriptor();
    if (fd < 0) return ConnectStart::Connected;  // a scripted stream is there at once
    return platform::StartConnect(fd, address, port);
}

bool Transport::ConnectSucceeded() const {
    const int fd = stream_->Descriptor();
    return fd < 0 || platform::ConnectSucceeded(fd);
}

IoStatus Transport::FromTls(TlsStatus status) {
    switch (status) {
        case TlsStatus::Done:
            return IoStatus::Done;
        case TlsStatus::WantRead:
            return IoStatus::WantRead;
        case TlsStatus::WantWrite:
            return IoStatus::WantWrite;
        case TlsStatus::Closed:
            return IoStatus::Closed;
        case TlsStatus::Failed:
            break;
    }
    failureText_ = tls_->FailureText();
    return IoStatus::Failed;
}

IoStatus Transport::Read(char* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    {
        std::lock_guard<std::mutex> lock(tlsMutex_);
        if (tls_) {
            return FromTls(tls_->Read(buffer, size, got));
        }
    }
    bool wouldBlock = false;
    const ssize_t n = stream_->Receive(buffer, size, wouldBlock);
    if (n > 0) {
        got = static_cast<std::size_t>(n);
        return IoStatus::Done;
    }
    if (n == 0) return IoStatus::Closed;
    return wouldBlock ? IoStatus::WantRead : IoStatus::Failed;
}

IoStatus Transport::Write(const char* data, std::size_t size, std::size_t& written) {
    written = 0;
    {
        std::lock_guard<std::mutex> lock(tlsMutex_);
        if (tls_) {
            return FromTls(tls_->Write(data, size, written));
        }
    }
    bool wouldBlock = false;
    const ssize_t n = stream_->Send(data, size, wouldBlock);
    if (n > 0) {
        written = static_cast<std::size_t>(n);
        return IoStatus::Done;
    }
    if (n == 0) return IoStatus::Closed;
    return wouldBlock ? IoStatus::WantWrite : IoStatus::Failed;
}

bool Transport::DataWaiting() {
    unsigned char byte = 0;
    return stream_->PeekByte(byte);
}

void Transport::EndTls() {
    std::lock_guard<std::mutex> lock(tlsMutex_);
    if (tls_) tls_->Shutdown();
    tls_.reset();
    secured_ = false;
}

bool Transport::MayUpgrade(std::size_t held) {
    if (held > 0 || DataWaiting()) return false;
    upgrading_ = true;
    return true;
}

HandshakeEnd Transport::Secure(const std::string& host, const std::function<bool(IoStatus)>& wait) {
    const bool afterUpgrade = std::exchange(upgrading_, false);
    auto fail = [this](std::string text) {
        std::lock_guard<std::mutex> lock(tlsMutex_);
        failureText_ = std::move(text);
        return HandshakeEnd::Failed;
    };
    const int fd = stream_->Descriptor();
    if (fd < 0) return fail("no socket under the stream");
    std::string error;
    std::unique_ptr<TlsClient> client = TlsClient::Create(fd, host, error);
    if (!client) return fail(error);
    // The handshake runs on the reading side alone; writes wait until it is
    // over, since tls_ stays unset until then.
    bool firstByteSeen = !afterUpgrade;
    for (;;) {
        const TlsStatus status = client->Handshake();
        if (status == TlsStatus::Done) {
            std::lock_guard<std::mutex> lock(tlsMutex_);
            tls_ = std::move(client);
            secured_ = true;
            return HandshakeEnd::Secured;
        }
        if (status != TlsStatus::WantRead && status != TlsStatus::WantWrite) {
            const bool certificate = client->failure() == TlsFailure::Certificate;
            fail(client->FailureText());
            return certificate ? HandshakeEnd::CertificateRejected : HandshakeEnd::Failed;
        }
        const IoStatus want = status == TlsStatus::WantRead ? IoStatus::WantRead : IoStatus::WantWrite;
        if (!wait(want)) return HandshakeEnd::Stopped;
        // After the upgrade the server's first byte must open a TLS record;
        // anything else is plain text it sent after its answer.
        unsigned char first = 0;
        if (!firstByteSeen && want == IoStatus::WantRead && stream_->PeekByte(first)) {
            firstByteSeen = true;
            if (!OpensTlsRecord(first)) return HandshakeEnd::DataAfterAnswer;
        }
    }
}

bool Transport::IsSecure() const {
    std::lock_guard<std::mutex> lock(tlsMutex_);
    return secured_;
}

std::string Transport::Summary() const {
    std::lock_guard<std::mutex> lock(tlsMutex_);
    return tls_ ? tls_->Summary() : std::string();
}

std::string Transport::FailureText() const {
    std::lock_guard<std::mutex> lock(tlsMutex_);
    return failureText_;
}

}  // namespace platform
