#pragma once

#include <sys/types.h>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

// A thin layer over POSIX TCP sockets for the POP3 connection. Handles are
// plain file descriptors; -1 means none. Nothing here raises SIGPIPE.
namespace platform {

// A non-blocking IPv4 stream socket, closed on exec; -1 on failure.
int CreateTcpSocket();

// Sends every write at once instead of holding small ones back (Nagle):
// a lone command should not wait for the reply to the one before it.
void SetNoDelay(int fd);

// Dotted IPv4 text is taken as is; otherwise the name is looked up and its
// first IPv4 address taken. The address is in network byte order.
bool ResolveIPv4(const std::string& host, std::uint32_t& address);

enum class ConnectStart { Connected, InProgress, Failed };
// Starts a connect on a non-blocking socket.
ConnectStart StartConnect(int fd, std::uint32_t address, int port);
// After the socket became writable: whether the connect succeeded.
bool ConnectSucceeded(int fd);

enum class Wait { Ready, TimedOut, Failed };
Wait WaitReadable(int fd, std::chrono::milliseconds timeout);
Wait WaitWritable(int fd, std::chrono::milliseconds timeout);

// One recv without blocking: bytes read, 0 at end of stream, -1 on failure;
// wouldBlock is set when nothing is there yet.
ssize_t ReceiveSome(int fd, char* buffer, std::size_t size, bool& wouldBlock);

// One send without blocking and without SIGPIPE; like ReceiveSome.
ssize_t SendSome(int fd, const char* data, std::size_t size, bool& wouldBlock);

// Shuts the socket down in both directions; wakes a thread blocked on it.
void Shutdown(int fd);
void CloseSocket(int fd);

}  // namespace platform
