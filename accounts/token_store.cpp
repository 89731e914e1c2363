#include "accounts/token_store.h"

#include "accounts/account.h"
#include "accounts/settings.h"
#include "platform/user_store.h"

#include <vector>

namespace {

// The file's lines; a last line without its LF counts too.
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

bool IsLineOf(std::string_view line, std::string_view accountId) {
    return line.size() > accountId.size() && line[accountId.size()] == ' ' &&
           IsAccountId(line.substr(0, accountId.size())) && line.substr(0, accountId.size()) == accountId;
}

}  // namespace

TokenStore::TokenStore() : keyPath_(kSettingsKeyPath) {}

TokenStore::TokenStore(std::string keyPath) : keyPath_(std::move(keyPath)) {}

std::optional<std::string> TokenStore::Read(std::string_view accountId) const {
    if (!IsAccountId(accountId)) return std::nullopt;
    UserStore store;
    if (!store.Open(keyPath_)) return std::nullopt;
    const std::optional<std::string> text = store.Read(kValueName);
    if (!text) return std::nullopt;
    for (const std::string_view line : Lines(*text)) {
        if (IsLineOf(line, accountId)) return DecodeFieldValue(line.substr(accountId.size() + 1));
    }
    return std::nullopt;
}

bool TokenStore::Write(std::string_view accountId, std::string_view refreshToken) {
    if (!IsAccountId(accountId) || refreshToken.find('\0') != std::string_view::npos) return false;
    UserStore store;
    if (!store.Open(keyPath_)) return false;
    const std::optional<std::string> old = store.Read(kValueName);
    std::string text;
    bool changed = false;
    if (old) {
        for (const std::string_view line : Lines(*old)) {
            if (IsLineOf(line, accountId)) {
                changed = true;
                continue;
            }
            if (line.empty()) continue;
            text.append(line);
            text.push_back('\n');
        }
    }
    if (!refreshToken.empty()) {
        text.append(accountId);
        text.push_back(' ');
        text += EncodeFieldValue(refreshToken);
        text.push_back('\n');
        changed = true;
    }
    if (!changed) return true;  // nothing to remove: the file stays untouched
    return store.Write(kValueName, text);
}
