#include "support/script_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace {

int ListenOnLoopback(int& port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket");
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        throw std::runtime_error("bind/listen");
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

}  // namespace

void ScriptPeer::Send(std::string_view bytes)
{
    SendNow(bytes);
    // Give the client a chance to read this piece on its own.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void ScriptPeer::SendNow(std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

std::string ScriptPeer::ReadLine(std::chrono::milliseconds timeout)
{
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
        pollfd p{fd_, POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(left.count()));
        if (r <= 0) continue;
        char buf[4096];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) {
            eof_ = true;
            continue;
        }
        pending_.append(buf, static_cast<size_t>(n));
    }
}

bool ScriptPeer::WaitForClose(std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!eof_) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buf[4096];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) eof_ = true;
        else pending_.append(buf, static_cast<size_t>(n));
    }
    return true;
}

void ScriptPeer::Close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

ScriptServer::ScriptServer() { listenFd_ = ListenOnLoopback(port_); }

ScriptServer::~ScriptServer()
{
    Join();
    if (listenFd_ >= 0) ::close(listenFd_);
}

void ScriptServer::Serve(Script script)
{
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

void ScriptServer::Join()
{
    if (thread_.joinable()) thread_.join();
}

int ScriptServer::RefusedPort()
{
    int port = 0;
    int fd = ListenOnLoopback(port);
    ::close(fd);
    return port;
}
