#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

Wait WaitFor(int fd, short events, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() < 0) left = std::chrono::milliseconds(0);
        pollfd p{fd, events, 0};
        int r = ::poll(&p, 1, static_cast<int>(left.count()));
        if (r > 0) return Wait::Ready;  // readiness, hang-up and errors alike
        if (r == 0) return Wait::TimedOut;
        if (errno != EINTR) return Wait::Failed;
    }
}

}  // namespace

int CreateTcpSocket() {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

void SetNoDelay(int fd) {
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool ResolveIPv4(const std::string& host, std::uint32_t& address) {
    // An embedded NUL would silently shorten the name.
    if (host.empty() || host.find('\0') != std::string::npos) return false;
    in_addr numeric{};
    if (::inet_aton(host.c_str(), &numeric) != 0) {
        address = numeric.s_addr;
        return true;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
    bool ok = false;
    for (addrinfo* a = found; a; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addr) {
            sockaddr_in in{};
            std::memcpy(&in, a->ai_addr, sizeof in);
            address = in.sin_addr.s_addr;
            ok = true;
            break;
        }
    }
    ::freeaddrinfo(found);
    return ok;
}

ConnectStart StartConnect(int fd, std::uint32_t address, int port) {
    if (port < 1 || port > 65535) return ConnectStart::Failed;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = address;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return ConnectStart::Connected;
    if (errno == EINPROGRESS || errno == EINTR) return ConnectStart::InProgress;
    return ConnectStart::Failed;
}

bool ConnectSucceeded(int fd) {
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) return false;
    sockaddr_in peer{};
    socklen_t peerLen = sizeof peer;
    return ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) == 0;
}

Wait WaitReadable(int fd, std::chrono::milliseconds timeout) {
    return WaitFor(fd, POLLIN, timeout);
}

Wait WaitWritable(int fd, std::chrono::milliseconds timeout) {
    return WaitFor(fd, POLLOUT, timeout);
}

ssize_t ReceiveSome(int fd, char* buffer, std::size_t size, bool& wouldBlock) {
    for (;;) {
        wouldBlock = false;
        ssize_t n = ::recv(fd, buffer, size, MSG_DONTWAIT);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        wouldBlock = errno == EAGAIN || errno == EWOULDBLOCK;
        return -1;
    }
}

ssize_t SendSome(int fd, const char* data, std::size_t size, bool& wouldBlock) {
    for (;;) {
        wouldBlock = false;
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        wouldBlock = errno == EAGAIN || errno == EWOULDBLOCK;
        return -1;
    }
}

void Shutdown(int fd) {
    ::shutdown(fd, SHUT_RDWR);
}

void CloseSocket(int fd) {
    if (fd >= 0) ::close(fd);
}

}  // namespace platform
