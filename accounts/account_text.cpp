#include "accounts/account.h"
#include "accounts/number_text.h"

#include <string>

namespace {

// Hands out the comma-separated tokens of a text one at a time; an empty
// token between adjacent commas is a token. Never reads past the text.
class Tokens {
public:
    explicit Tokens(std::string_view text) : rest_(text) {}

    bool Next(std::string_view& token) {
        if (done_) return false;
        const std::size_t comma = rest_.find(',');
        if (comma == std::string_view::npos) {
            token = rest_;
            done_ = true;
        } else {
            token = rest_.substr(0, comma);
            rest_.remove_prefix(comma + 1);
        }
        return true;
    }

    // Drops tokens up to and including the first one equal to keyword.
    bool SkipPast(std::string_view keyword) {
        std::string_view token;
        while (Next(token)) {
            if (token == keyword) return true;
        }
        return false;
    }

private:
    std::string_view rest_;
    bool done_ = false;
};

void AppendUnsigned(std::string& out, std::uint32_t value) {
    out += std::to_string(value);
}

}  // namespace

std::string FormatAccount(const Account& account) {
    const bool savePassword = account.popOptions.Test(POPSavePassword);
    std::string text = account.name;
    text += ",POP,";
    text += account.popServer;
    text += ',';
    text += std::to_string(account.popPort);
    text += ',';
    text += account.popUser;
    text += ',';
    if (savePassword) text += account.popPassword;
    text += ',';
    AppendUnsigned(text, account.popOptions.ToNumber());
    text += ",SMTP,";
    text += account.smtpServer;
    text += ',';
    text += std::to_string(account.smtpPort);
    text += ',';
    text += account.smtpUser;
    text += ',';
    AppendUnsigned(text, account.smtpOptions.ToNumber());
    text += ",EOD";
    if (!account.id.empty()) {
        text += ",id=";
        text += EncodeFieldValue(account.id);
    }
    if (!account.oauthProvider.empty()) {
        text += ",oauth=";
        text += EncodeFieldValue(account.oauthProvider);
    }
    for (const std::string& field : account.otherFields) {
        text += ',';
        text += field;
    }
    text.push_back('\0');
    return text;
}

void ParseAccount(std::string_view text, Account& account) {
    text = text.substr(0, text.find('\0'));
    Tokens tokens(text);
    std::string_view token;

    if (!tokens.Next(token)) return;
    account.name.assign(token);

    if (!tokens.SkipPast("POP")) return;
    if (!tokens.Next(token)) return;
    account.popServer.assign(token);
    if (!tokens.Next(token)) return;
    account.popPort = static_cast<std::int32_t>(ParseUnsignedAuto(token));
    if (!tokens.Next(token)) return;
    account.popUser.assign(token);
    if (!tokens.Next(token)) return;
    account.popPassword.assign(token);
    if (!tokens.Next(token)) return;
    account.popOptions.FromNumber(ParseUnsignedAuto(token));

    if (!tokens.SkipPast("SMTP")) return;
    if (!tokens.Next(token)) return;
    account.smtpServer.assign(token);
    if (!tokens.Next(token)) return;
    account.smtpPort = static_cast<std::int32_t>(ParseUnsignedAuto(token));
    if (!tokens.Next(token)) return;
    account.smtpUser.assign(token);
    if (!tokens.Next(token)) return;
    account.smtpOptions.FromNumber(ParseUnsignedAuto(token));

    // Extension fields only follow the end marker right after the options;
    // anything else there is not examined, as before.
    if (!tokens.Next(token) || token != "EOD") return;
    account.otherFields.clear();
    bool idSeen = false;
    bool oauthSeen = false;
    while (tokens.Next(token)) {
        if (!oauthSeen && token.starts_with("oauth=")) {
            account.oauthProvider = DecodeFieldValue(token.substr(6));
            oauthSeen = true;
            continue;
        }
        if (!idSeen && token.starts_with("id=")) {
            const std::string id = DecodeFieldValue(token.substr(3));
            if (IsAccountId(id)) {
                account.id = id;
                idSeen = true;
                continue;
            }
        }
        account.otherFields.emplace_back(token);
    }
}
