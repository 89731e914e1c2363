#include "accounts/oauth_provider.h"
#include "accounts/account.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(OAuthProvider, StoredChoiceElseDomainElseServer) {
    auto preset = [](const char* name, const char* domain, const char* host, bool oauth) {
        Provider p;
        p.name = name;
        p.domains = {domain};
        p.pop.host = host;
        if (oauth) p.oauth2 = ProviderOAuth2{};
        return p;
    };
    const std::vector<Provider> presets = {preset("Plain", "plain.jp", "pop.plain.jp", false),
                                           preset("Mail", "mail.example", "pop.mail.example", true),
                                           preset("Office", "office.example", "outlook.example", true)};
    const struct {
        const char* user;
        const char* server;
        const char* stored;
        const char* chosen;  // nullptr: none
    } cases[] = {
        {"taro@mail.example", "x", "", "Mail"},
        {"taro@sub.office.example", "x", "", "Office"},
        {"taro@company.jp", "OUTLOOK.example", "", "Office"},  // own domain: by the server
        {"taro@plain.jp", "pop.plain.jp", "", nullptr},        // the preset has no OAuth2
        {"taro@company.jp", "x", "Mail", "Mail"},
        {"taro@mail.example", "x", "Office", "Office"},  // the choice wins over the domain
        {"taro@mail.example", "x", "Plain", "Mail"},     // a choice without OAuth2 is not one
        {"taro@mail.example", "x", "Gone", "Mail"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.user) + " " + c.stored);
        Account account;
        account.popUser = c.user;
        account.popServer = c.server;
        account.oauthProvider = c.stored;
        const Provider* found = OAuthProviderFor(presets, account);
        EXPECT_EQ(found ? found->name : std::string("none"), c.chosen ? c.chosen : "none");
    }
}

TEST(ParseAccount, TheOAuthProviderChoiceIsAnExtensionField) {
    Account account = DefaultAccount();
    account.id = std::string(32, 'c');
    account.oauthProvider = "Microsoft 365, work";
    const std::string text = FormatAccount(account);
    EXPECT_NE(text.find(",EOD,id=" + account.id + ",oauth=Microsoft 365%2C work"), std::string::npos) << text;
    Account read = DefaultAccount();
    ParseAccount(text, read);
    EXPECT_EQ(read.oauthProvider, account.oauthProvider);
    EXPECT_TRUE(read.otherFields.empty());
    // A second oauth= is not this program's: kept as it came.
    read = DefaultAccount();
    ParseAccount(",POP,,110,,,0,SMTP,,25,,0,EOD,oauth=A,oauth=B", read);
    EXPECT_EQ(read.oauthProvider, "A");
    EXPECT_EQ(read.otherFields, std::vector<std::string>{"oauth=B"});
}

}  // namespace
