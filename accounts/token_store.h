#pragma once

#include <optional>
#include <string>
#include <string_view>

// The OAuth2 refresh tokens of the accounts, until the keyring holds them:
// one file beside the settings store (the store's value "OAuthTokens",
// mode 0600, replaced atomically), one line per account, "ID TOKEN", the
// token percent-encoded as extension fields are. Never in an account's
// entry. A line that is not of that form is kept as it is.
class TokenStore {
public:
    // The store's directory as the settings use it.
    TokenStore();
    // A directory of one's own (tests).
    explicit TokenStore(std::string keyPath);

    // The account's refresh token; nothing when there is none or the file
    // cannot be read.
    std::optional<std::string> Read(std::string_view accountId) const;
    // Sets (an empty token removes) the account's line; false when the id
    // is not an account id, the file cannot be written, or the token holds
    // a NUL. On failure the old file stays as it was.
    bool Write(std::string_view accountId, std::string_view refreshToken);
    bool Remove(std::string_view accountId) { return Write(accountId, {}); }

    static constexpr std::string_view kValueName = "OAuthTokens";

private:
    std::string keyPath_;
};
