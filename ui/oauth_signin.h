#pragma once

#include "accounts/providers.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

class QWidget;

// One account's OAuth2 tokens: signs in in the browser (authorization code
// with PKCE, RFC 7636, and a loopback redirect on 127.0.0.1, RFC 8252),
// keeps the access token in memory and renews it with the refresh token.
// The refresh token is the caller's to store: it starts from the stored one
// and hears of every change. Runs on the window's thread; the waits run the
// event loop without user input, and the sign-in shows OAuthWaitForm.
//   OAuthSignIn signIn(window, *provider.oauth2, account.popUser);
//   signIn.SetRefreshToken(stored);
//   signIn.SetRefreshTokenChanged([&](const std::string& t) { Store(t); });
//   if (!signIn.AccessToken(false, token, error)) ShowMessage(error);
class OAuthSignIn {
public:
    // user is offered to the provider as the login hint (may be empty).
    OAuthSignIn(QWidget* owner, ProviderOAuth2 provider, std::string user);
    ~OAuthSignIn();
    OAuthSignIn(const OAuthSignIn&) = delete;
    OAuthSignIn& operator=(const OAuthSignIn&) = delete;

    void SetRefreshToken(std::string refreshToken) { refreshToken_ = std::move(refreshToken); }
    const std::string& RefreshToken() const { return refreshToken_; }
    // Called with the refresh token to keep after a sign-in or when the
    // server sends a new one, and with "" when the server refused it.
    void SetRefreshTokenChanged(std::function<void(const std::string&)> changed) { changed_ = std::move(changed); }

    // An access token: the one in memory while it lasts, else one got with
    // the refresh token, else one from a sign-in in the browser (also when
    // the refresh token was refused). refresh asks for a new one even when
    // the one in memory has not run out (the server refused it). False
    // with a text for the user in error (UTF-8; never a token in it).
    bool AccessToken(bool refresh, std::string& token, std::string& error);

    // True when the last AccessToken failed because the user cancelled or
    // let the sign-in time out.
    bool Abandoned() const { return abandoned_; }

private:
    struct Http;
    bool TokenRequest(const std::string& body, std::string& error, bool& invalidGrant);
    bool SignIn(bool again, std::string& error);
    void KeepRefreshToken(const std::string& refreshToken);

    QWidget* owner_;
    ProviderOAuth2 provider_;
    std::string user_;
    std::string refreshToken_;
    std::string accessToken_;
    std::chrono::steady_clock::time_point expiry_;
    std::function<void(const std::string&)> changed_;
    std::unique_ptr<Http> http_;
    bool abandoned_ = false;
};
