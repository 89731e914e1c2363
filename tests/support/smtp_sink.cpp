#include "support/smtp_sink.h"

#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

SmtpSink::SmtpSink(const std::string& host, int port, const std::vector<std::string>& options) {
    char pattern[] = "/tmp/bs_smtpsink.XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe failed");
    std::vector<std::string> args = {
        "/usr/bin/python3",  BOXSWEEPER_SOURCE_DIR "/scripts/smtpsink", "--dir", dir_, "--host", host, "--port",
        std::to_string(port)};
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
    char name[64] = {};
    if (std::sscanf(line, "ready %63s %d", name, &port_) != 2) {
        port_ = 0;
        failure_ = line;
    }
}

SmtpSink::~SmtpSink() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string SmtpSink::File(const std::string& name) const {
    std::ifstream in(dir_ + "/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
