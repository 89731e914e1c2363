#pragma once

#include <string>
#include <vector>

// A real Dovecot POP3 server on loopback for one test program, started and
// stopped through scripts/testserver in a temporary directory of its own.
// Users are "user" and "user1" ... "user64", all with the password "pass".
class DovecotServer {
public:
    DovecotServer();  // starts it; throws std::runtime_error when it cannot
    // With TLS: STLS on port() and TLS from the first byte on tlsPort().
    DovecotServer(const std::string& certificate, const std::string& key);
    // With TLS and also OAuth2 (XOAUTH2, OAUTHBEARER): tokens are checked
    // against the introspection endpoint at the URL.
    DovecotServer(const std::string& certificate, const std::string& key, const std::string& introspectionUrl);
    ~DovecotServer();  // stops it and removes the directory

    DovecotServer(const DovecotServer&) = delete;
    DovecotServer& operator=(const DovecotServer&) = delete;

    int port() const { return port_; }
    int tlsPort() const { return tlsPort_; }
    const std::string& directory() const { return dir_; }

    // Empties the user's mailbox.
    void ClearMailbox(const std::string& user);
    // Adds one message (bytes as they should be served, lines ending in
    // CR LF or LF) to the user's mailbox; messages are numbered in the
    // order they were added.
    void AddMessage(const std::string& user, const std::string& message);
    // The messages now in the user's mailbox, in the order they were added.
    std::vector<std::string> Messages(const std::string& user) const;

private:
    std::string MailboxDir(const std::string& user) const;
    void FixOwner(const std::string& path) const;

    std::string dir_;
    int port_ = 0;
    int tlsPort_ = 0;
    int counter_ = 0;
    std::string mailUser_;
};
