#include "accounts/oauth_provider.h"
#include "accounts/token_store.h"
#include "platform/cp932.h"
#include "texts/texts.h"
#include "ui/main_form.h"

namespace {

std::string SignInKey(const Account& account, const Provider& provider) {
    return account.id + '\n' + provider.name;
}

}  // namespace

bool TMainForm::OAuthAccessToken(bool refresh, std::string& token, std::string& error) {
    const Account& account = CurrentAccount();
    const std::vector<Provider> presets = OAuthProviderPresets();
    const Provider* provider = OAuthProviderFor(presets, account);
    if (!provider || !provider->oauth2 || provider->oauth2->clientId.empty()) {
        error = texts::Cp932(texts::oauth::kNoClientId);
        return false;
    }
    std::unique_ptr<OAuthSignIn>& signIn = signIns_[SignInKey(account, *provider)];
    if (!signIn) {
        signIn = std::make_unique<OAuthSignIn>(this, *provider->oauth2, Cp932ToUtf8(account.popUser));
        if (std::optional<std::string> stored = TokenStore().Read(account.id)) signIn->SetRefreshToken(*stored);
        // A new refresh token replaces the stored one at once: the old one
        // may already be void at the provider.
        signIn->SetRefreshTokenChanged([id = account.id](const std::string& refreshToken) {
            TokenStore().Write(id, refreshToken);
        });
    }
    std::string reason;
    if (signIn->AccessToken(refresh, token, reason)) return true;
    error = signIn->Abandoned() ? std::string() : texts::Cp932(reason);
    return false;
}

void TMainForm::OAuthSignInNeeded() {
    const Account& account = CurrentAccount();
    for (auto it = signIns_.begin(); it != signIns_.end();) {
        if (it->first.compare(0, account.id.size() + 1, account.id + '\n') == 0)
            it = signIns_.erase(it);
        else
            ++it;
    }
    TokenStore().Remove(account.id);
}
