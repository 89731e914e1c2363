#include "support/script_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cerrno>
#include <stdexcept>

namespace {

int ListenOnLoopback(int& port, const char* address = "127.0.0.1") {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket");
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, address, &addr.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        throw std::runtime_error("bind/listen");
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

}  // namespace

ScriptPeer::~ScriptPeer() {
    SSL_free(static_cast<SSL*>(tls_));
    SSL_CTX_free(static_cast<SSL_CTX*>(tlsContext_));
}

namespace {

// Records what the TLS layer reads from the socket, as it was on the wire.
long RecordWire(BIO* bio, int operation, const char* data, std::size_t, int, long, int result, std::size_t* processed) {
    if (operation == (BIO_CB_READ | BIO_CB_RETURN) && result > 0 && processed) {
        auto* wire = reinterpret_cast<std::string*>(BIO_get_callback_arg(bio));
        wire->append(data, *processed);
    }
    return result;
}

}  // namespace

bool ScriptPeer::AcceptTls(const ScriptTls& setup) {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    tlsContext_ = context;
    if (!context) return false;
    if (setup.onlyTls10) {
        SSL_CTX_set_security_level(context, 0);
        SSL_CTX_set_min_proto_version(context, TLS1_VERSION);
        SSL_CTX_set_max_proto_version(context, TLS1_VERSION);
        SSL_CTX_set_cipher_list(context, "DEFAULT:@SECLEVEL=0");
    }
    if (SSL_CTX_use_certificate_chain_file(context, setup.certificate.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context, setup.key.c_str(), SSL_FILETYPE_PEM) != 1)
        return false;
    SSL* ssl = SSL_new(context);
    tls_ = ssl;
    if (!ssl) return false;
    BIO* bio = BIO_new_socket(fd_, BIO_NOCLOSE);
    BIO_set_callback_ex(bio, RecordWire);
    BIO_set_callback_arg(bio, reinterpret_cast<char*>(&wire_));
    SSL_set_bio(ssl, bio, bio);
    // A client that stops answering must not hang the script.
    timeval limit{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    bool ok = SSL_accept(ssl) == 1;
    ERR_clear_error();
    if (!ok) {
        SSL_free(ssl);
        tls_ = nullptr;
    }
    return ok;
}

void ScriptPeer::CloseTls() {
    if (tls_) SSL_shutdown(static_cast<SSL*>(tls_));
    ERR_clear_error();
}

void ScriptPeer::ReadRawUntilClose(std::chrono::milliseconds timeout) {
    WaitForClose(timeout);
}

ssize_t ScriptPeer::Receive(char* buffer, std::size_t size) {
    if (tls_) {
        int n = SSL_read(static_cast<SSL*>(tls_), buffer, static_cast<int>(size));
        ERR_clear_error();
        return n > 0 ? n : 0;
    }
    ssize_t n = ::recv(fd_, buffer, size, 0);
    if (n > 0) wire_.append(buffer, static_cast<std::size_t>(n));
    return n;
}

bool ScriptPeer::Readable(int timeoutMs) {
    if (tls_ && SSL_pending(static_cast<SSL*>(tls_)) > 0) return true;
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

void ScriptPeer::Send(std::string_view bytes) {
    SendNow(bytes);
    // Give the client a chance to read this piece on its own.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void ScriptPeer::SendNow(std::string_view bytes) {
    while (tls_ && !bytes.empty()) {
        int n = SSL_write(static_cast<SSL*>(tls_), bytes.data(), static_cast<int>(bytes.size()));
        ERR_clear_error();
        if (n <= 0) return;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    while (!bytes.empty()) {
        ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

std::string ScriptPeer::ReadLine(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto pos = pending_.find("\r\n");
        if (pos != std::string::npos) {
            std::string line = pending_.substr(0, pos);
            pending_.erase(0, pos + 2);
            return line;
        }
        if (eof_) return {};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            eof_ = true;
            return {};
        }
        if (!Readable(static_cast<int>(left.count()))) continue;
        char buf[4096];
        ssize_t n = Receive(buf, sizeof buf);
        if (n <= 0) {
            eof_ = true;
            continue;
        }
        pending_.append(buf, static_cast<size_t>(n));
    }
}

bool ScriptPeer::WaitForClose(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!eof_) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        if (!Readable(static_cast<int>(left.count()))) continue;
        char buf[4096];
        ssize_t n = Receive(buf, sizeof buf);
        if (n <= 0)
            eof_ = true;
        else
            pending_.append(buf, static_cast<size_t>(n));
    }
    return true;
}

void ScriptPeer::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

ScriptServer::ScriptServer() {
    listenFd_ = ListenOnLoopback(port_);
}

ScriptServer::ScriptServer(const std::string& address, int port) : port_(port) {
    listenFd_ = ListenOnLoopback(port_, address.c_str());
}

ScriptServer::~ScriptServer() {
    Join();
    if (listenFd_ >= 0) ::close(listenFd_);
}

void ScriptServer::Serve(Script script) {
    Join();
    thread_ = std::thread([this, script = std::move(script)] {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 30000) <= 0) return;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        ScriptPeer peer(fd);
        script(peer);
        peer.Close();
    });
}

void ScriptServer::Join() {
    if (thread_.joinable()) thread_.join();
}

int ScriptServer::RefusedPort() {
    int port = 0;
    int fd = ListenOnLoopback(port);
    ::close(fd);
    return port;
}
