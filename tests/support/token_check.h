#pragma once

#include <sys/types.h>
#include <string>

// tests/support/token_check_server.py on 127.0.0.1: a token
// introspection endpoint (RFC 7662) whose active tokens the test sets.
class IntrospectionServer {
public:
    IntrospectionServer();  // throws std::runtime_error when it does not start
    ~IntrospectionServer();

    IntrospectionServer(const IntrospectionServer&) = delete;
    IntrospectionServer& operator=(const IntrospectionServer&) = delete;

    std::string Url() const;
    // Makes token active for user; every other token is refused.
    void Allow(const std::string& token, const std::string& user);
    void RevokeAll();

private:
    std::string dir_;
    pid_t pid_ = -1;
    int port_ = 0;
};
