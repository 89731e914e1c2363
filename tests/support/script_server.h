#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

// A scripted loopback TCP server for the cases a real server will not
// produce (split replies, broken greetings, refusals, silence). It listens
// on 127.0.0.1 at a free port and runs the script on its own thread with
// the first accepted connection.
class ScriptPeer {
public:
    explicit ScriptPeer(int fd) : fd_(fd) {}
    // Writes all bytes (a short pause between calls lets tests force
    // separate reads on the client side).
    void Send(std::string_view bytes);
    // Writes all bytes without the pause.
    void SendNow(std::string_view bytes);
    // Reads one line and returns it without its CR LF; "" at end of stream
    // (check Eof() to tell an empty line from the end).
    std::string ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    bool Eof() const { return eof_; }
    // Waits until the client closes its side; true when it did in time.
    bool WaitForClose(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void Close();
    void Pause(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

private:
    int fd_;
    bool eof_ = false;
    std::string pending_;
};

class ScriptServer {
public:
    using Script = std::function<void(ScriptPeer&)>;

    ScriptServer();
    ~ScriptServer();  // waits for the script to end
    ScriptServer(const ScriptServer&) = delete;
    ScriptServer& operator=(const ScriptServer&) = delete;

    int port() const { return port_; }
    // Accepts one connection on a thread and runs script with it; the
    // connection is closed when the script returns.
    void Serve(Script script);
    // Waits for the script to finish.
    void Join();

    // A loopback port on which nobody listens (a connect is refused).
    static int RefusedPort();

private:
    int listenFd_ = -1;
    int port_ = 0;
    std::thread thread_;
};
