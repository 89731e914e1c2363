#include "support/token_check.h"

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

IntrospectionServer::IntrospectionServer() {
    char pattern[] = "/tmp/bs_introspect.XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    RevokeAll();
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe failed");
    std::vector<std::string> args = {"/usr/bin/python3", BOXSWEEPER_SOURCE_DIR "/tests/support/token_check_server.py",
                                     dir_ + "/tokens"};
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
    char line[256] = {};
    if (!std::fgets(line, sizeof line, f)) line[0] = '\0';
    std::fclose(f);
    if (std::sscanf(line, "ready %d", &port_) != 1) throw std::runtime_error("introspection server did not start");
}

IntrospectionServer::~IntrospectionServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string IntrospectionServer::Url() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/introspect";
}

void IntrospectionServer::Allow(const std::string& token, const std::string& user) {
    std::ofstream(dir_ + "/tokens", std::ios::app) << token << ' ' << user << '\n';
}

void IntrospectionServer::RevokeAll() {
    std::ofstream(dir_ + "/tokens", std::ios::trunc);
}
