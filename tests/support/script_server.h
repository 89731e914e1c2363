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
// The server side of TLS for a script: certificate and key files, and
// whether to offer nothing newer than TLS 1.0 (as an outdated server would).
struct ScriptTls {
    std::string certificate;
    std::string key;
    bool onlyTls10 = false;
};

class ScriptPeer {
public:
    explicit ScriptPeer(int fd) : fd_(fd) {}
    ~ScriptPeer();
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

    // Runs the server side of a TLS handshake; from then on Send and
    // ReadLine go through TLS. False when the handshake failed.
    bool AcceptTls(const ScriptTls& tls);
    // Reads whatever arrives raw until the client closes; for a script
    // that leaves the client's handshake unanswered.
    void ReadRawUntilClose(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Sends TLS's closing alert (Close alone cuts the connection without it).
    void CloseTls();
    // Every byte received from the client as it crossed the wire (TLS
    // records included, undecrypted).
    const std::string& Wire() const { return wire_; }

private:
    ssize_t Receive(char* buffer, std::size_t size);
    bool Readable(int timeoutMs);

    int fd_;
    bool eof_ = false;
    std::string pending_;
    std::string wire_;
    void* tlsContext_ = nullptr;  // SSL_CTX
    void* tls_ = nullptr;         // SSL
};

class ScriptServer {
public:
    using Script = std::function<void(ScriptPeer&)>;

    ScriptServer();
    // Listens on a given IPv4 address and port instead (the compose window
    // always sends to port 25); throws std::runtime_error when it cannot.
    ScriptServer(const std::string& address, int port);
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
