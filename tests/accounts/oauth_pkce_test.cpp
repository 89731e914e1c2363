#include "accounts/oauth_pkce.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(OAuthPkce, ChallengeAndVerifiers) {
    // RFC 7636 appendix B.
    EXPECT_EQ(PkceChallengeS256("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
              "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
    const struct {
        const char *bytes, *base64url;
    } tails[] = {{"", ""}, {"f", "Zg"}, {"fo", "Zm8"}, {"foo", "Zm9v"}, {"\xfb\xff", "-_8"}};
    for (const auto& t : tails) EXPECT_EQ(Base64Url(t.bytes), t.base64url) << t.bytes;

    std::set<std::string> seen;
    for (int i = 0; i < 20; ++i) {
        const std::string verifier = RandomToken();
        EXPECT_TRUE(IsPkceVerifier(verifier)) << verifier;
        seen.insert(verifier);
    }
    EXPECT_EQ(seen.size(), 20u);
    EXPECT_FALSE(IsPkceVerifier(std::string(42, 'a')));
    EXPECT_TRUE(IsPkceVerifier(std::string(128, '~')));
    EXPECT_FALSE(IsPkceVerifier(std::string(129, 'a')));
    EXPECT_FALSE(IsPkceVerifier(std::string(42, 'a') + "+"));
}

TEST(OAuthPkce, AuthorizationUrlEncodesEveryValue) {
    ProviderOAuth2 p;
    p.authorize = "https://login.example/authorize";
    p.clientId = "id 1&2";
    p.scope = "https://mail.example/ offline_access";
    EXPECT_EQ(AuthorizationUrl(p, "http://127.0.0.1:4711/", "st", "ch", "太郎@example.jp"),
              "https://login.example/authorize?client_id=id%201%262&code_challenge=ch&code_challenge_method=S256"
              "&login_hint=%E5%A4%AA%E9%83%8E%40example.jp&redirect_uri=http%3A%2F%2F127.0.0.1%3A4711%2F"
              "&response_type=code&scope=https%3A%2F%2Fmail.example%2F%20offline_access&state=st");
    // An endpoint with a query of its own keeps it; no hint, no login_hint.
    p.authorize = "https://login.example/a?tenant=x";
    const std::string url = AuthorizationUrl(p, "r", "s", "c", "");
    EXPECT_EQ(url.rfind("https://login.example/a?tenant=x&client_id=", 0), 0u) << url;
    EXPECT_EQ(url.find("login_hint"), std::string::npos);
}

TEST(OAuthPkce, RedirectTargets) {
    using K = OAuthRedirect::Kind;
    const struct {
        const char* target;
        K kind;
        const char* value;  // the code or the error
    } cases[] = {
        {"/?code=abc%2F1&state=S1", K::Code, "abc/1"},
        {"/?state=S1&code=a+b&scope=x", K::Code, "a b"},
        {"/?code=abc&state=S1#frag", K::Code, "abc"},
        {"/?code=abc&state=S2", K::StateMismatch, ""},
        {"/?code=abc", K::StateMismatch, ""},
        {"/?code=abc&state=", K::StateMismatch, ""},
        // A second state cannot replace the first.
        {"/?state=S2&state=S1&code=abc", K::StateMismatch, ""},
        {"/?error=access_denied&state=S1", K::Error, "access_denied"},
        {"/?error=access_denied&error_description=User+said%0Ano&state=S1", K::Error, "access_denied: User said no"},
        {"/?error=access_denied&state=S9", K::StateMismatch, ""},
        {"/?state=S1", K::Malformed, ""},
        {"/?state=S1&code=", K::Malformed, ""},
        {"/?state=S1&code=%4", K::Malformed, ""},
        {"/?state=S1&code=%zz", K::Malformed, ""},
        {"/favicon.ico", K::NotRedirect, ""},
        {"/callback?code=abc&state=S1", K::NotRedirect, ""},
    };
    for (const auto& c : cases) {
        const OAuthRedirect r = ParseRedirectTarget(c.target, "S1");
        EXPECT_EQ(r.kind, c.kind) << c.target;
        EXPECT_EQ(c.kind == K::Code ? r.code : r.error, c.value) << c.target;
    }
    EXPECT_EQ(ParseRedirectTarget("/?code=abc&state=", "").kind, K::StateMismatch);
}

TEST(OAuthPkce, OnlyHttpsOrLoopbackEndpoints) {
    const struct {
        const char* url;
        bool allowed;
    } cases[] = {
        {"https://oauth2.googleapis.com/token", true},
        {"HTTPS://login.example:8443/token", true},
        {"http://127.0.0.1:8080/token", true},
        {"http://[::1]:8080/token", true},
        {"http://localhost/token", true},
        {"http://LocalHost:1/t", true},
        {"http://login.example/token", false},
        {"http://127.0.0.1.evil.example/token", false},
        {"http://127.0.0.1@evil.example/token", false},
        {"http://localhost:80@evil.example/", false},
        {"http://127.0.0.2/token", false},
        {"http://[::1/token", false},
        {"http://127.0.0.1:x/token", false},
        {"ftp://127.0.0.1/token", false},
        {"127.0.0.1/token", false},
        {"https:///token", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsAllowedEndpoint(c.url), c.allowed) << c.url;
}

TEST(OAuthPkce, TokenRequests) {
    ProviderOAuth2 p;
    p.clientId = "cid";
    EXPECT_EQ(CodeTokenRequest(p, "c/1", "v", "http://127.0.0.1:5/"),
              "client_id=cid&code=c%2F1&code_verifier=v&grant_type=authorization_code"
              "&redirect_uri=http%3A%2F%2F127.0.0.1%3A5%2F");
    EXPECT_EQ(RefreshTokenRequest(p, "r+1"), "client_id=cid&grant_type=refresh_token&refresh_token=r%2B1");
    p.clientSecret = "s=";
    EXPECT_EQ(RefreshTokenRequest(p, "r"), "client_id=cid&client_secret=s%3D&grant_type=refresh_token&refresh_token=r");
}

TEST(OAuthPkce, TokenReplies) {
    using K = TokenReply::Kind;
    const struct {
        int status;
        const char* body;
        K kind;
        const char *access, *refresh;
        long long expires;
        const char* error;
    } cases[] = {
        {200, R"({"access_token":"a1","token_type":"Bearer","expires_in":3599,"refresh_token":"r1"})", K::Token, "a1",
         "r1", 3599, ""},
        {200, R"({"access_token":"a1","token_type":"bearer","expires_in":"60"})", K::Token, "a1", "", 60, ""},
        {200, R"({"access_token":"a1"})", K::Token, "a1", "", 0, ""},
        {200, R"({"access_token":"a1","expires_in":-5})", K::Token, "a1", "", 0, ""},
        {200, R"({"access_token":"a1","token_type":"mac"})", K::Malformed, "", "", 0, "no bearer access_token"},
        {200, R"({"token_type":"Bearer"})", K::Malformed, "", "", 0, "no bearer access_token"},
        {200, "<html>", K::Malformed, "", "", 0, "not a JSON object"},
        {502, "Bad gateway", K::Malformed, "", "", 0, "HTTP 502"},
        {400, R"({"error":"invalid_grant","error_description":"Token has been\r\nrevoked."})", K::InvalidGrant, "", "",
         0, "invalid_grant: Token has been  revoked."},
        {401, R"({"error":"invalid_client"})", K::Error, "", "", 0, "invalid_client"},
        {500, R"({})", K::Error, "", "", 0, "HTTP 500"},
    };
    for (const auto& c : cases) {
        const TokenReply r = ParseTokenReply(c.status, c.body);
        EXPECT_EQ(r.kind, c.kind) << c.body;
        EXPECT_EQ(r.accessToken, c.access) << c.body;
        EXPECT_EQ(r.refreshToken, c.refresh) << c.body;
        EXPECT_EQ(r.expiresIn, c.expires) << c.body;
        EXPECT_EQ(r.error, c.error) << c.body;
    }
}

}  // namespace
