#include "accounts/oauth_provider.h"

#include "texts/texts.h"

#include <algorithm>
#include <cctype>

namespace {

bool SameHost(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

}  // namespace

std::vector<const Provider*> OAuthProviders(const std::vector<Provider>& providers) {
    std::vector<const Provider*> found;
    for (const Provider& p : providers)
        if (p.oauth2) found.push_back(&p);
    return found;
}

const Provider* DefaultOAuthProvider(const std::vector<Provider>& providers, const Account& account) {
    std::vector<Provider> withOAuth;
    for (const Provider* p : OAuthProviders(providers)) withOAuth.push_back(*p);
    if (const Provider* byDomain = FindProviderForAddress(withOAuth, account.popUser)) {
        for (const Provider* p : OAuthProviders(providers))
            if (p->name == byDomain->name) return p;
    }
    if (account.popServer.empty()) return nullptr;
    for (const Provider* p : OAuthProviders(providers))
        if (SameHost(p->pop.host, account.popServer)) return p;
    return nullptr;
}

const Provider* OAuthProviderFor(const std::vector<Provider>& providers, const Account& account) {
    if (!account.oauthProvider.empty()) {
        for (const Provider* p : OAuthProviders(providers))
            if (p->name == account.oauthProvider) return p;
    }
    return DefaultOAuthProvider(providers, account);
}

std::vector<std::string> OAuthMechanisms(const Provider* provider) {
    if (provider && provider->oauth2 && !provider->oauth2->mechanisms.empty()) return provider->oauth2->mechanisms;
    return {"OAUTHBEARER", "XOAUTH2"};
}

std::string OAuthSetupProblem(const Provider* provider) {
    if (provider && provider->oauth2 && !provider->oauth2->clientId.empty()) return {};
    std::string text = texts::Cp932(texts::oauth::kNoClientId);
    const std::string path = UserProvidersPath();
    if (!path.empty()) text += "\n" + texts::Cp932(texts::oauth::kClientIdFile) + texts::Cp932(path);
    return text;
}
