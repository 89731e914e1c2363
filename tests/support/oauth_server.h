#pragma once

#include <sys/types.h>
#include <string>
#include <vector>

// tests/support/oauth_server.py on 127.0.0.1 and a free port: a local
// OAuth2 authorization server with authorize, token and introspection
// endpoints (see the script for what each does and what it can be told).
class OAuthServer {
public:
    // options are the script's own (e.g. "--client-secret", "s", "--rotate").
    explicit OAuthServer(const std::vector<std::string>& options = {});
    ~OAuthServer();  // stops it

    OAuthServer(const OAuthServer&) = delete;
    OAuthServer& operator=(const OAuthServer&) = delete;

    bool started() const { return port_ != 0; }
    const std::string& failure() const { return failure_; }
    int port() const { return port_; }
    // "http://127.0.0.1:PORT" followed by path, e.g. Url("/token").
    std::string Url(const std::string& path) const;

    // POST /control action=...: "authorize-redirect", "authorize-wrong-state",
    // "authorize-error", "authorize-hang", "expire", "revoke", "refuse",
    // "accept", "reset". False when the server did not answer ok.
    bool Control(const std::string& action);
    // One counter of GET /stats ("authorize", "code", "refresh",
    // "introspect"); -1 when it cannot be read.
    int Count(const std::string& name);
    // The query of the last authorization request.
    std::string LastAuthorizeQuery();

    // The test browser, for BOXSWEEPER_BROWSER.
    static std::string BrowserPath();

private:
    // One HTTP/1.0 exchange; the reply's body, or "" with status 0 on failure.
    std::string Exchange(const std::string& method, const std::string& path, const std::string& body, int& status);

    std::string failure_;
    pid_t pid_ = -1;
    int port_ = 0;
};
