#include "support/oauth_server.h"

#include "accounts/json.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <stdexcept>

OAuthServer::OAuthServer(const std::vector<std::string>& options) {
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe failed");
    std::vector<std::string> args = {"/usr/bin/python3", BOXSWEEPER_SOURCE_DIR "/tests/support/oauth_server.py",
                                     "--port", "0"};
    args.insert(args.end(), options.begin(), options.end());
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    FILE* f = ::fdopen(out[0], "r");
    char line[1024] = {};
    if (!std::fgets(line, sizeof line, f)) line[0] = '\0';
    std::fclose(f);
    char host[64] = {};
    if (std::sscanf(line, "ready %63s %d", host, &port_) != 2) {
        port_ = 0;
        failure_ = line;
    }
}

OAuthServer::~OAuthServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}

std::string OAuthServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string OAuthServer::BrowserPath() {
    return BOXSWEEPER_SOURCE_DIR "/tests/support/oauth_browser.py";
}

std::string OAuthServer::Exchange(const std::string& method, const std::string& path, const std::string& body,
                                  int& status) {
    status = 0;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request =
            method + " " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n" +
            "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " + std::to_string(body.size()) +
            "\r\n\r\n" + body;
        std::size_t sent = 0;
        while (sent < request.size()) {
            const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<std::size_t>(n);
        }
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            reply.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    const std::size_t split = reply.find("\r\n\r\n");
    if (split == std::string::npos || std::sscanf(reply.c_str(), "HTTP/%*s %d", &status) != 1) {
        status = 0;
        return {};
    }
    return reply.substr(split + 4);
}

bool OAuthServer::Control(const std::string& action) {
    int status = 0;
    return Exchange("POST", "/control", "action=" + action, status) == "ok" && status == 200;
}

namespace {

bool Stats(const std::string& text, JsonValue& stats) {
    std::string error;
    return ParseJson(text, stats, error) && stats.IsObject();
}

}  // namespace

int OAuthServer::Count(const std::string& name) {
    int status = 0;
    JsonValue stats;
    if (!Stats(Exchange("GET", "/stats", "", status), stats)) return -1;
    const JsonValue* v = stats.Find(name);
    return v && v->IsNumber() ? static_cast<int>(v->AsNumber()) : -1;
}

std::string OAuthServer::LastAuthorizeQuery() {
    int status = 0;
    JsonValue stats;
    if (!Stats(Exchange("GET", "/stats", "", status), stats)) return {};
    const JsonValue* v = stats.Find("last_authorize");
    return v && v->IsString() ? v->AsString() : std::string();
}
