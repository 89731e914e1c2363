#include "ui/oauth_signin.h"
#include "support/oauth_server.h"
#include "texts/texts.h"
#include "ui/ui_text.h"
#include "ui_support.h"

#include <QAbstractButton>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string T(std::string_view utf8) {
    return std::string(utf8);
}

// The sign-in against the local authorization server, its "browser" being
// the test program that follows the redirect.
class OAuthSignInTest : public testing::Test {
protected:
    void SetUp() override {
        ::setenv("BOXSWEEPER_BROWSER", OAuthServer::BrowserPath().c_str(), 1);
        ::setenv("BOXSWEEPER_TEST_BROWSER_LOG", (home.path() + "/browser.log").c_str(), 1);
        ::unsetenv("BOXSWEEPER_MINUTE_SECONDS");
        ::setenv("BOXSWEEPER_BROWSER", OAuthServer::BrowserPath().c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("BOXSWEEPER_BROWSER");
        ::unsetenv("BOXSWEEPER_TEST_BROWSER_LOG");
        ::unsetenv("BOXSWEEPER_MINUTE_SECONDS");
        ::setenv("BOXSWEEPER_BROWSER", OAuthServer::BrowserPath().c_str(), 1);
    }

    static ProviderOAuth2 Provider(const OAuthServer& server, const std::string& secret = {}) {
        ProviderOAuth2 p;
        p.authorize = server.Url("/authorize");
        p.token = server.Url("/token");
        p.scope = "mail offline_access";
        p.clientId = "boxsweeper-test";
        p.clientSecret = secret;
        return p;
    }

    // What the browser saw of the listener, one line per sign-in.
    std::vector<std::string> BrowserPages() const {
        std::ifstream in(home.path() + "/browser.log");
        std::vector<std::string> pages;
        for (std::string line; std::getline(in, line);) pages.push_back(line.substr(line.find('\t') + 1));
        return pages;
    }

    TempHome home;
};

TEST_F(OAuthSignInTest, FirstSignInThenTheRefreshTokenWithoutTheBrowser) {
    OAuthServer server;
    ASSERT_TRUE(server.started()) << server.failure();
    std::vector<std::string> stored;
    std::string token, error;
    {
        OAuthSignIn signIn(nullptr, Provider(server), "taro@example.jp");
        signIn.SetRefreshTokenChanged([&](const std::string& t) { stored.push_back(t); });
        ASSERT_TRUE(signIn.AccessToken(false, token, error)) << error;
        EXPECT_FALSE(token.empty());
        ASSERT_EQ(stored.size(), 1u);
        EXPECT_EQ(signIn.RefreshToken(), stored[0]);
        // The access token lasts: asked again, the server is not.
        std::string again;
        ASSERT_TRUE(signIn.AccessToken(false, again, error)) << error;
        EXPECT_EQ(again, token);
    }
    const std::string query = server.LastAuthorizeQuery();
    for (const char* part : {"code_challenge_method=S256", "login_hint=taro%40example.jp",
                             "scope=mail%20offline_access", "redirect_uri=http%3A%2F%2F127.0.0.1%3A"})
        EXPECT_NE(query.find(part), std::string::npos) << part << " in " << query;
    // The browser writes down the page after it got it, maybe after the sign-in ended.
    EXPECT_TRUE(WaitFor([&] { return !BrowserPages().empty(); }));
    EXPECT_EQ(BrowserPages(), std::vector<std::string>{"200\t<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
                                                       "<title>Boxsweeper</title></head><body><p>" +
                                                       T(texts::signin::kPageDone) + "</p></body></html>"});

    // The next run starts from the stored refresh token: no browser.
    OAuthSignIn next(nullptr, Provider(server), "taro@example.jp");
    next.SetRefreshToken(stored[0]);
    std::string renewed;
    ASSERT_TRUE(next.AccessToken(false, renewed, error)) << error;
    EXPECT_NE(renewed, token);
    EXPECT_EQ(server.Count("authorize"), 1);
    EXPECT_EQ(server.Count("code"), 1);
    EXPECT_EQ(server.Count("refresh"), 1);
    EXPECT_EQ(next.RefreshToken(), stored[0]);  // the server kept it
}

TEST_F(OAuthSignInTest, AnExpiredOrRefusedAccessTokenIsRenewed) {
    const struct {
        const char* name;
        std::vector<std::string> options;
        bool refusedByServer;  // the caller asks for a new one after a refusal
        int refreshTokens;     // stored in all
    } cases[] = {
        {"run out", {"--expires-in", "1"}, false, 1},
        {"refused", {}, true, 1},
        {"refused, new refresh token", {"--rotate"}, true, 2},
    };
    for (const auto& c : cases) {
        OAuthServer server(c.options);
        ASSERT_TRUE(server.started()) << server.failure();
        std::vector<std::string> stored;
        OAuthSignIn signIn(nullptr, Provider(server), "");
        signIn.SetRefreshTokenChanged([&](const std::string& t) { stored.push_back(t); });
        std::string first, second, error;
        ASSERT_TRUE(signIn.AccessToken(false, first, error)) << c.name << ": " << error;
        if (c.refusedByServer)
            ASSERT_TRUE(server.Control("expire"));
        else
            QTest::qWait(1100);
        ASSERT_TRUE(signIn.AccessToken(c.refusedByServer, second, error)) << c.name << ": " << error;
        EXPECT_NE(second, first) << c.name;
        EXPECT_EQ(server.Count("authorize"), 1) << c.name;
        EXPECT_EQ(server.Count("refresh"), 1) << c.name;
        EXPECT_EQ(static_cast<int>(stored.size()), c.refreshTokens) << c.name;
        if (!stored.empty()) {
            EXPECT_EQ(signIn.RefreshToken(), stored.back()) << c.name;
        }
    }
}

TEST_F(OAuthSignInTest, ARevokedRefreshTokenAsksForTheSignInAgain) {
    OAuthServer server;
    ASSERT_TRUE(server.started()) << server.failure();
    std::string token, error, refresh;
    {
        OAuthSignIn first(nullptr, Provider(server), "");
        ASSERT_TRUE(first.AccessToken(false, token, error)) << error;
        refresh = first.RefreshToken();
    }
    ASSERT_TRUE(server.Control("revoke"));

    // The user is told why the browser opens again; here they give up.
    ASSERT_TRUE(server.Control("authorize-hang"));
    QString note;
    {
        ModalHandler modals{[&](QWidget* form) {
            EXPECT_EQ(form->objectName(), QStringLiteral("OAuthWaitForm"));
            if (auto* label = form->findChild<QLabel*>(QStringLiteral("NoteLabel"))) note = label->text();
            form->findChild<QAbstractButton*>(QStringLiteral("CancelButton"))->click();
        }};
        std::vector<std::string> stored;
        OAuthSignIn signIn(nullptr, Provider(server), "");
        signIn.SetRefreshToken(refresh);
        signIn.SetRefreshTokenChanged([&](const std::string& t) { stored.push_back(t); });
        EXPECT_FALSE(signIn.AccessToken(false, token, error));
        EXPECT_EQ(error, T(texts::signin::kCancelled));
        EXPECT_TRUE(signIn.Abandoned());
        EXPECT_EQ(stored, std::vector<std::string>{""});  // the refused one is forgotten
    }
    EXPECT_EQ(note, Text(texts::signin::kSignInAgain));

    // Signing in again gives a working pair.
    ASSERT_TRUE(server.Control("authorize-redirect"));
    OAuthSignIn signIn(nullptr, Provider(server), "");
    signIn.SetRefreshToken(refresh);
    ASSERT_TRUE(signIn.AccessToken(false, token, error)) << error;
    EXPECT_NE(signIn.RefreshToken(), refresh);
    EXPECT_FALSE(signIn.RefreshToken().empty());
    EXPECT_EQ(server.Count("code"), 2);
}

TEST_F(OAuthSignInTest, SignInsThatFail) {
    enum Way { kBrowser, kCancel, kWaitOut };
    const struct {
        const char* name;
        std::vector<std::string> options, controls;
        std::string secret, tokenUrl;  // tokenUrl empty: the server's
        Way way;
        std::string error;  // ending in '*': the start of the error
        int authorizes;     // -1: the browser may not have got there
        const char* browser = nullptr;
    } cases[] = {
        {"state mismatch", {}, {"authorize-wrong-state"}, "", "", kBrowser, T(texts::signin::kStateMismatch), 1},
        {"declined",
         {},
         {"authorize-error"},
         "",
         "",
         kBrowser,
         Text(texts::signin::kDenied).arg(QStringLiteral("access_denied: The user declined.")).toStdString(),
         1},
        {"cancelled", {}, {"authorize-hang"}, "", "", kCancel, T(texts::signin::kCancelled), -1},
        {"never finished", {}, {"authorize-hang"}, "", "", kWaitOut, T(texts::signin::kTimedOut), -1},
        {"token refused",
         {},
         {"refuse"},
         "",
         "",
         kBrowser,
         Text(texts::signin::kTokenFailed).arg(QStringLiteral("invalid_client: Refused by the test.")).toStdString(),
         1},
        // The secret goes along only when the preset has one.
        {"secret missing",
         {"--client-secret", "s3"},
         {},
         "",
         "",
         kBrowser,
         Text(texts::signin::kTokenFailed)
             .arg(QStringLiteral("invalid_client: Unknown client or wrong secret."))
             .toStdString(),
         1},
        {"plain http elsewhere",
         {},
         {},
         "",
         "http://login.example/token",
         kBrowser,
         Text(texts::signin::kInsecureEndpoint).arg(QStringLiteral("http://login.example/token")).toStdString(),
         0},
        {"no browser", {}, {}, "", "", kBrowser, T(texts::signin::kBrowserFailed), 0, "/nonexistent/browser"},
        {"token endpoint down",
         {},
         {},
         "",
         "http://127.0.0.1:1/token",
         kBrowser,
         Text(texts::signin::kTokenFailed).arg(QString()).chopped(1).toStdString() + "*",
         1},
    };
    for (const auto& c : cases) {
        if (c.browser) ::setenv("BOXSWEEPER_BROWSER", c.browser, 1);
        OAuthServer server(c.options);
        ASSERT_TRUE(server.started()) << server.failure();
        for (const std::string& control : c.controls) ASSERT_TRUE(server.Control(control)) << control;
        if (c.way == kWaitOut) ::setenv("BOXSWEEPER_MINUTE_SECONDS", "0.1", 1);
        ModalHandler modals;
        if (c.way == kCancel)
            modals.Expect(
                [](QWidget* form) { form->findChild<QAbstractButton*>(QStringLiteral("CancelButton"))->click(); });
        ProviderOAuth2 provider = Provider(server, c.secret);
        if (!c.tokenUrl.empty()) provider.token = c.tokenUrl;
        OAuthSignIn signIn(nullptr, provider, "");
        std::string token = "stale", error;
        EXPECT_FALSE(signIn.AccessToken(false, token, error)) << c.name;
        if (c.error.back() == '*') {
            EXPECT_EQ(error.rfind(c.error.substr(0, c.error.size() - 1), 0), 0u) << c.name << ": " << error;
            EXPECT_GT(error.size(), c.error.size()) << c.name << ": " << error;
        } else {
            EXPECT_EQ(error, c.error) << c.name;
        }
        EXPECT_EQ(token, "") << c.name;
        EXPECT_EQ(signIn.RefreshToken(), "") << c.name;
        EXPECT_EQ(signIn.Abandoned(), c.way != kBrowser) << c.name;
        if (c.authorizes >= 0) {
            EXPECT_EQ(server.Count("authorize"), c.authorizes) << c.name;
        }
        ::unsetenv("BOXSWEEPER_MINUTE_SECONDS");
        ::setenv("BOXSWEEPER_BROWSER", OAuthServer::BrowserPath().c_str(), 1);
    }
    // With a secret in the preset the same server signs in.
    OAuthServer server({"--client-secret", "s3"});
    OAuthSignIn signIn(nullptr, Provider(server, "s3"), "");
    std::string token, error;
    EXPECT_TRUE(signIn.AccessToken(false, token, error)) << error;
}

}  // namespace
