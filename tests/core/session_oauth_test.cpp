// Signing in with OAuth2 against a real Dovecot whose oauth2 passdb asks a
// local introspection endpoint about each token, over TLS.

#include "core/pop3_session.h"
#include "core/task_queue.h"
#include "support/dovecot.h"
#include "support/token_check.h"
#include "support/recording_owner.h"
#include "support/test_certificates.h"
#include "texts/texts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace std::chrono_literals;

IntrospectionServer& Introspection() {
    static IntrospectionServer server;
    return server;
}

DovecotServer& OAuthDovecot() {
    static DovecotServer server(TrustedTestCertificates().server.certificate, TrustedTestCertificates().server.key,
                                Introspection().Url());
    return server;
}

// Hands out the given tokens one per request and records whether each
// request asked for a refresh.
class TokenOwner : public RecordingOwner {
public:
    std::vector<std::string> tokens;
    std::vector<bool> refreshes;
    std::vector<std::string> mechanisms;
    std::string clientId = "test-client";
    int signInsNeeded = 0;
    std::string noTokenError = "no more tokens";  // empty: the user cancelled

    bool OAuthAccessToken(bool refresh, std::string& token, std::string& error) override {
        refreshes.push_back(refresh);
        if (refreshes.size() > tokens.size()) {
            error = noTokenError;
            return false;
        }
        token = tokens[refreshes.size() - 1];
        return true;
    }
    void OAuthSignInNeeded() override { ++signInsNeeded; }
    std::vector<Provider> OAuthProviderPresets() override {
        Provider p;
        p.name = "Test";
        p.pop.host = "127.0.0.1";  // chosen by the server name: "user" has no domain
        p.oauth2 = ProviderOAuth2{};
        p.oauth2->clientId = clientId;
        p.oauth2->mechanisms = mechanisms;
        return {p};
    }
};

// Words of text split at sep; "LONG" stands for a token too long for the
// AUTH line, "~" for CR LF.
std::vector<std::string> Split(std::string_view text, char sep) {
    std::vector<std::string> words;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = std::min(text.find(sep, at), text.size());
        std::string word(text.substr(at, end - at));
        if (word == "LONG") word.assign(300, 'L');
        for (std::size_t t = word.find('~'); t != std::string::npos; t = word.find('~')) word.replace(t, 1, "\r\n");
        words.push_back(word);
        at = end + 1;
    }
    return words;
}

TEST(SessionOAuth, DovecotSignInsRefreshesAndRefusals) {
    struct Case {
        const char* name;
        const char* tokens;      // handed out in order
        const char* active;      // what the endpoint accepts
        const char* mechanisms;  // the preset's; empty: the default order
        bool stls;
        const char* sent;       // what the log shows as sent, up to LIST
        const char* refreshes;  // per token asked for: F the held one, R a refresh
        const char* box;        // the message box; empty: Ready
    };
    // Dovecot makes the next attempt from an address wait a little longer
    // after each failure, until one succeeds: successes come between.
    const Case cases[] = {
        {"OAUTHBEARER", "tokA1", "tokA1", "", false, "CAPA~|AUTH OAUTHBEARER ********|LIST~", "F", ""},
        {"XOAUTH2 first", "tokB2", "tokB2", "XOAUTH2 OAUTHBEARER", false, "CAPA~|AUTH XOAUTH2 ********|LIST~", "F", ""},
        {"after STLS", "tokC3", "tokC3", "", true, "STLS~|CAPA~|AUTH OAUTHBEARER ********|LIST~", "F", ""},
        {"refreshed once", "stale1 fresh1", "fresh1", "", false,
         "CAPA~|AUTH OAUTHBEARER ********|AQ==~|AUTH OAUTHBEARER ********|LIST~", "FR", ""},
        {"XOAUTH2 refreshed once", "stale2 fresh2", "fresh2", "XOAUTH2", false,
         "CAPA~|AUTH XOAUTH2 ********|~|AUTH XOAUTH2 ********|LIST~", "FR", ""},
        {"no second token", "stale3", "", "", false, "CAPA~|AUTH OAUTHBEARER ********|AQ==~", "FR", "no token"},
        {"long token after +", "LONG", "LONG", "", false, "CAPA~|AUTH OAUTHBEARER~|********|LIST~", "F", ""},
        {"mechanism not offered", "tokD4", "tokD4", "PLAIN", false, "CAPA~", "F", "mechanism"},
        {"refused twice", "stale4 stale5", "", "", false,
         "CAPA~|AUTH OAUTHBEARER ********|AQ==~|AUTH OAUTHBEARER ********|AQ==~", "FR", "refused"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::string> tokens = Split(c.tokens, ' ');
        const bool ready = std::string_view(c.box).empty();
        Introspection().RevokeAll();
        for (const std::string& token : Split(c.active, ' ')) Introspection().Allow(token, "user60");
        TaskQueue queue;
        TokenOwner owner;
        owner.account = DefaultAccount();
        owner.account.popServer = "127.0.0.1";
        owner.account.popPort = c.stls ? OAuthDovecot().port() : OAuthDovecot().tlsPort();
        owner.account.popUser = "user60";
        owner.account.popOptions.FromNumber(0);
        for (int bit : {POPAuthOAuth2, POPAuthAuto, c.stls ? POPUseSTLS : POPUseTLS}) owner.account.popOptions.Set(bit);
        owner.tokens = tokens;
        if (*c.mechanisms) owner.mechanisms = Split(c.mechanisms, ' ');
        auto session = std::make_unique<Pop3Session>(owner, queue.Dispatcher());
        session->ConnectButtonClick();
        ASSERT_TRUE(queue.RunUntil(
            [&] { return session->State() == SessionState::Ready || session->State() == SessionState::Idle; }, 30s))
            << SessionStatePathText(session->StatePath());
        EXPECT_EQ(session->State() == SessionState::Ready, ready) << ::testing::PrintToString(owner.messages);
        EXPECT_EQ(owner.SentLines(), Split(c.sent, '|')) << ::testing::PrintToString(owner.log);
        std::string asked;
        for (bool refresh : owner.refreshes) asked += refresh ? 'R' : 'F';
        EXPECT_EQ(asked, c.refreshes);
        EXPECT_TRUE(owner.account.popPassword.empty());
        EXPECT_EQ(owner.prompts, 0);
        for (const std::string& entry : owner.log) {
            for (const std::string& token : tokens) EXPECT_EQ(entry.find(token), std::string::npos) << entry;
        }
        if (ready) {
            EXPECT_TRUE(owner.messages.empty()) << ::testing::PrintToString(owner.messages);
            session->DisconnectButtonClick();
            queue.RunUntil([&] { return session->State() == SessionState::Idle && !session->IsConnectionOpen(); });
            continue;
        }
        ASSERT_EQ(owner.messages.size(), 1u);
        const std::string& box = owner.messages[0];
        for (const std::string& token : tokens) EXPECT_EQ(box.find(token), std::string::npos) << box;
        if (std::string_view(c.box) == "refused") {
            // The server's JSON in plain text, its refusal, and the way on.
            EXPECT_TRUE(box.starts_with(texts::Cp932(texts::oauth::kRefused) + "\n")) << box;
            EXPECT_NE(box.find("status: invalid_token"), std::string::npos) << box;
            EXPECT_NE(box.find("-ERR"), std::string::npos) << box;
            EXPECT_TRUE(box.ends_with(texts::Cp932(texts::oauth::kSignInAgain))) << box;
            EXPECT_EQ(owner.signInsNeeded, 1);
        } else if (std::string_view(c.box) == "no token") {
            EXPECT_EQ(box, texts::Cp932(texts::oauth::kNoToken) + "\nno more tokens");
        } else {
            EXPECT_EQ(box, texts::Cp932(texts::oauth::kNoMechanism));
        }
        EXPECT_FALSE(session->IsConnectionOpen());
    }
}

// What must stop an OAuth2 account before a byte is sent, or a connection
// even opened: the server named here does not exist.
TEST(SessionOAuth, RefusedBeforeConnecting) {
    struct Case {
        const char* name;
        int encryption;  // -1: none
        std::string clientId;
        bool tokenGiven;
        std::string message;  // the box starts with it
        std::size_t tokenRequests;
    };
    const Case cases[] = {
        {"no TLS", -1, "id", true, texts::Cp932(texts::oauth::kTlsOnly), 0},
        {"no client id", POPUseTLS, "", true, texts::Cp932(texts::oauth::kNoClientId) + "\n", 0},
        {"sign-in cancelled", POPUseSTLS, "id", false, "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TaskQueue queue;
        TokenOwner owner;
        owner.account = DefaultAccount();
        owner.account.popServer = "pop.invalid";
        owner.account.popUser = "user@example.jp";
        owner.account.popOptions.FromNumber(0);
        owner.account.popOptions.Set(POPAuthOAuth2);
        if (c.encryption >= 0) owner.account.popOptions.Set(c.encryption);
        owner.clientId = c.clientId;
        if (c.tokenGiven)
            owner.tokens = {"t"};
        else
            owner.noTokenError.clear();
        Pop3Session session(owner, queue.Dispatcher());
        // The preset is found by the server name; "pop.invalid" is not it.
        owner.account.oauthProvider = "Test";
        session.ConnectButtonClick();
        queue.RunPending();
        EXPECT_EQ(session.State(), SessionState::Idle);
        EXPECT_TRUE(owner.log.empty()) << ::testing::PrintToString(owner.log);
        EXPECT_EQ(owner.refreshes.size(), c.tokenRequests);
        EXPECT_EQ(owner.prompts, 0);
        if (c.message.empty()) {
            EXPECT_TRUE(owner.messages.empty()) << ::testing::PrintToString(owner.messages);
        } else {
            ASSERT_EQ(owner.messages.size(), 1u);
            EXPECT_TRUE(owner.messages[0].starts_with(c.message)) << owner.messages[0];
        }
    }
}

}  // namespace
