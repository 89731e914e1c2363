#pragma once

#include <sys/types.h>
#include <string>
#include <vector>

// scripts/smtpsink (aiosmtpd) on a loopback address, storing what arrives as
// N.eml, N.env and N.auth in a temporary directory of its own.
class SmtpSink {
public:
    // Port 0 takes a free one. Without a "ready" line (e.g. it cannot listen)
    // started() is false and failure() holds what it printed.
    SmtpSink(const std::string& host, int port, const std::vector<std::string>& options = {});
    ~SmtpSink();  // stops it and removes the directory

    SmtpSink(const SmtpSink&) = delete;
    SmtpSink& operator=(const SmtpSink&) = delete;

    bool started() const { return port_ != 0; }
    const std::string& failure() const { return failure_; }
    int port() const { return port_; }
    const std::string& directory() const { return dir_; }
    std::string File(const std::string& name) const;  // "" when missing

private:
    std::string dir_, failure_;
    pid_t pid_ = -1;
    int port_ = 0;
};
