#include "accounts/providers.h"
#include "accounts/json.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Json, ReadsValidTextAndNamesWhereBadTextFails) {
    JsonValue v;
    std::string error;
    ASSERT_TRUE(
        ParseJson("\xef\xbb\xbf {\"a\": [1, -2.5e1, true, null, \"x\\u00e9\\ud83d\\ude00\\n\"], \"a\": {}}", v, error))
        << error;
    ASSERT_TRUE(v.Find("a") && v.Find("a")->IsObject());  // a repeated name keeps its last value
    ASSERT_TRUE(ParseJson("[1, -2.5e1, \"x\\u00e9\\ud83d\\ude00\\n\"]", v, error));
    EXPECT_EQ(v.Items()[1].AsNumber(), -25);
    EXPECT_EQ(v.Items()[2].AsString(), "x\xc3\xa9\xf0\x9f\x98\x80\n");

    const struct {
        const char *text, *error;
    } bad[] = {
        {"", "line 1, column 1: unexpected end of text"},
        {"{\"a\" 1}", "line 1, column 6: expected ':' after the member name"},
        {"[1,\n 2,]", "line 2, column 4: not a JSON value"},
        {"[1] x", "line 1, column 5: unexpected text after the value"},
        {"\"a\tb\"", "line 1, column 4: control character in a string"},
        {"\"\\ud800\"", "line 1, column 8: lone surrogate in \\u escape"},
        {"01", "line 1, column 2: unexpected text after the value"},
        {"1e999", "line 1, column 6: number out of range"},
        {"{\"a\":1,}", "line 1, column 8: expected a member name in quotes"},
        {"tru", "line 1, column 1: not a JSON value"},
    };
    for (const auto& c : bad) {
        EXPECT_FALSE(ParseJson(c.text, v, error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
    EXPECT_FALSE(ParseJson(std::string(100, '[') + std::string(100, ']'), v, error));
    EXPECT_NE(error.find("nested too deeply"), std::string::npos);
}

TEST(Providers, ShippedTableIsCompleteAndCarriesNoClientIds) {
    std::vector<Provider> providers;
    std::string error;
    ASSERT_TRUE(ParseProviders(ShippedProvidersJson(), providers, error)) << error;
    EXPECT_EQ(providers.size(), 7u);
    JsonValue table;
    ASSERT_TRUE(ParseJson(ShippedProvidersJson(), table, error));
    for (const JsonValue& entry : table.Find("providers")->Items()) {
        const std::string name = entry.Find("name")->AsString();
        const JsonValue* source = entry.Find("source");
        ASSERT_TRUE(source && source->IsArray()) << name;
        EXPECT_TRUE(!source->Items().empty() || entry.Find("note")) << name << ": unchecked without a note";
    }
    for (const Provider& p : providers) {
        if (p.oauth2) {
            EXPECT_TRUE(p.oauth2->clientId.empty() && p.oauth2->clientSecret.empty()) << p.name;
        }
        EXPECT_FALSE(p.help.empty()) << p.name;
    }
    const Provider* gmail = FindProviderForAddress(providers, "taro@gmail.com");
    ASSERT_TRUE(gmail && gmail->oauth2);
    EXPECT_EQ(gmail->pop.host + ":" + std::to_string(gmail->pop.port) + " " + gmail->pop.encryption,
              "pop.gmail.com:995 tls");
    EXPECT_EQ(gmail->oauth2->mechanisms, std::vector<std::string>{"XOAUTH2"});
}

TEST(Providers, AddressDomainPicksTheEntry) {
    const ProviderCatalog catalog = LoadProviderCatalog(std::nullopt);
    const struct {
        const char *address, *provider;
    } cases[] = {
        {"taro@gmail.com", "Gmail"},
        {"Taro@GMail.COM", "Gmail"},
        {"hanako@abc.biglobe.ne.jp", "BIGLOBE"},  // BIGLOBE hands out sub-domains
        {"a@b@nifty.com", "@nifty"},
        {"x@contoso.onmicrosoft.com", "Microsoft 365"},
        {"x@hotmail.co.jp", "Outlook.com"},
        {"x@notgmail.com", nullptr},
        {"x@gmail.com.example", nullptr},
        {"x@", nullptr},
        {"gmail.com", nullptr},
    };
    for (const auto& c : cases) {
        const Provider* p = FindProviderForAddress(catalog.providers, c.address);
        EXPECT_EQ(p ? p->name : std::string("(none)"), c.provider ? c.provider : "(none)") << c.address;
    }
}

TEST(Providers, UserFileOverridesFieldsByNameAddsEntriesAndIsIgnoredWhenBroken) {
    const ProviderCatalog catalog = LoadProviderCatalog(std::string(R"({"providers": [
        {"name": "Gmail", "pop": {"port": 1995}, "oauth2": {"client_id": "mine.apps.googleusercontent.com"}},
        {"name": "Local", "domains": ["example.jp"],
         "pop": {"host": "127.0.0.1", "port": 2110, "encryption": "none", "login": "apop"},
         "smtp": {"host": "127.0.0.1", "port": 2525, "encryption": "none", "login": "none"}}]})"));
    EXPECT_EQ(catalog.userFileError, "");
    const Provider* gmail = FindProviderForAddress(catalog.providers, "a@gmail.com");
    ASSERT_TRUE(gmail && gmail->oauth2);
    EXPECT_EQ(gmail->pop.port, 1995);
    EXPECT_EQ(gmail->pop.host, "pop.gmail.com");  // the fields not given stay
    EXPECT_EQ(gmail->oauth2->clientId, "mine.apps.googleusercontent.com");
    EXPECT_EQ(gmail->oauth2->scope, "https://mail.google.com/");
    const Provider* local = FindProviderForAddress(catalog.providers, "a@example.jp");
    ASSERT_TRUE(local);
    EXPECT_EQ(local->pop.login, "apop");
    EXPECT_EQ(catalog.providers.size(), 8u);

    const struct {
        const char *file, *error;
    } broken[] = {
        {"{\"providers\": [", "line 1, column 16: unexpected end of text"},
        {"[]", "table: no \"providers\" list"},
        {R"({"providers": [{"name": "Gmail", "pop": {"port": 0}}]})",
         "entry 1 (Gmail) pop: \"port\" is not a number from 1 to 65535"},
        {R"({"providers": [{"name": "New"}]})", "entry 8 (New) pop: missing or not an object"},
        {R"({"providers": [{"name": "OCN", "smtp": {"login": "apop"}}]})",
         "entry 5 (OCN) smtp: \"login\" is not none, password or oauth2"},
    };
    for (const auto& c : broken) {
        const ProviderCatalog ignored = LoadProviderCatalog(std::string(c.file));
        EXPECT_EQ(ignored.userFileError, c.error) << c.file;
        EXPECT_EQ(ignored.providers.size(), 7u) << c.file;  // the shipped table stays in use
    }
}

}  // namespace
