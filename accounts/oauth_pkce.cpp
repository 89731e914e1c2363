#include "accounts/oauth_pkce.h"

#include "accounts/json.h"

#include <openssl/rand.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

bool IsUnreserved(unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool PercentDecode(std::string_view text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (i + 2 >= text.size()) return false;
            const int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
            if (high < 0 || low < 0) return false;
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += c;
        }
    }
    return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// A server's words, fit for a message box: printable ASCII and UTF-8 only,
// and not too long (the reply is not trusted).
std::string Tame(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (out.size() >= 300) {
            out += "...";
            break;
        }
        const auto u = static_cast<unsigned char>(c);
        out += (u < 0x20 || u == 0x7f) ? ' ' : c;
    }
    return out;
}

std::string StringMember(const JsonValue& object, std::string_view name) {
    const JsonValue* v = object.Find(name);
    return v && v->IsString() ? v->AsString() : std::string();
}

}  // namespace

std::string Base64Url(std::string_view bytes) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    out.reserve((bytes.size() * 4 + 2) / 3);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned n = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        for (int shift : {18, 12, 6, 0}) out += kAlphabet[(n >> shift) & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        unsigned n = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        if (rest == 2) out += kAlphabet[(n >> 6) & 63];
    }
    return out;
}

std::string RandomToken(std::size_t bytes) {
    std::vector<unsigned char> random(bytes);
    if (bytes == 0 || RAND_bytes(random.data(), static_cast<int>(bytes)) != 1) return {};
    return Base64Url(std::string_view(reinterpret_cast<const char*>(random.data()), random.size()));
}

bool IsPkceVerifier(std::string_view verifier) {
    if (verifier.size() < 43 || verifier.size() > 128) return false;
    for (const char c : verifier) {
        if (!IsUnreserved(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

std::string PkceChallengeS256(std::string_view verifier) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(verifier.data()), verifier.size(), digest);
    return Base64Url(std::string_view(reinterpret_cast<const char*>(digest), sizeof digest));
}

std::string PercentEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (IsUnreserved(u)) {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return out;
}

std::string FormEncode(const std::map<std::string, std::string>& fields) {
    std::string out;
    for (const auto& [name, value] : fields) {
        if (!out.empty()) out += '&';
        out += PercentEncode(name) + '=' + PercentEncode(value);
    }
    return out;
}

bool ParseFormQuery(std::string_view query, std::map<std::string, std::string>& fields) {
    fields.clear();
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (pair.empty()) continue;
        const std::size_t eq = pair.find('=');
        std::string name, value;
        if (!PercentDecode(pair.substr(0, eq), name)) return false;
        if (eq != std::string_view::npos && !PercentDecode(pair.substr(eq + 1), value)) return false;
        fields.emplace(std::move(name), std::move(value));
    }
    return true;
}

bool IsAllowedEndpoint(std::string_view url) {
    const std::size_t colon = url.find("://");
    if (colon == std::string_view::npos) return false;
    const std::string_view scheme = url.substr(0, colon);
    std::string_view rest = url.substr(colon + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    // A user part could make "http://127.0.0.1@evil.example" look local.
    if (rest.find('@') != std::string_view::npos) return false;
    std::string_view host;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos) return false;
        host = rest.substr(0, close + 1);
        rest = rest.substr(close + 1);
    } else {
        host = rest.substr(0, rest.find(':'));
        rest = rest.substr(host.size());
    }
    if (host.empty()) return false;
    if (!rest.empty()) {
        if (rest.front() != ':' || rest.size() == 1) return false;
        for (const char c : rest.substr(1)) {
            if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        }
    }
    if (EqualsNoCase(scheme, "https")) return true;
    return EqualsNoCase(scheme, "http") && (host == "127.0.0.1" || host == "[::1]" || EqualsNoCase(host, "localhost"));
}

std::string AuthorizationUrl(const ProviderOAuth2& provider, std::string_view redirectUri, std::string_view state,
                             std::string_view challenge, std::string_view loginHint) {
    std::map<std::string, std::string> fields = {
        {"response_type", "code"},         {"client_id", provider.clientId}, {"redirect_uri", std::string(redirectUri)},
        {"scope", provider.scope},         {"state", std::string(state)},    {"code_challenge", std::string(challenge)},
        {"code_challenge_method", "S256"},
    };
    if (!loginHint.empty()) fields.emplace("login_hint", std::string(loginHint));
    const char joint = provider.authorize.find('?') == std::string::npos ? '?' : '&';
    return provider.authorize + joint + FormEncode(fields);
}

OAuthRedirect ParseRedirectTarget(std::string_view target, std::string_view expectedState) {
    OAuthRedirect result;
    const std::size_t question = target.find('?');
    const std::string_view path = target.substr(0, question);
    if (path != "/") {
        result.kind = OAuthRedirect::Kind::NotRedirect;
        return result;
    }
    std::string_view query = question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
    query = query.substr(0, query.find('#'));
    std::map<std::string, std::string> fields;
    if (!ParseFormQuery(query, fields)) return result;
    // The state is checked first: whatever else a forged request says is not looked at.
    const auto state = fields.find("state");
    if (state == fields.end() || expectedState.empty() || state->second != expectedState) {
        result.kind = OAuthRedirect::Kind::StateMismatch;
        return result;
    }
    if (const auto error = fields.find("error"); error != fields.end()) {
        result.kind = OAuthRedirect::Kind::Error;
        result.error = Tame(error->second);
        if (const auto d = fields.find("error_description"); d != fields.end() && !d->second.empty())
            result.error += ": " + Tame(d->second);
        return result;
    }
    if (const auto code = fields.find("code"); code != fields.end() && !code->second.empty()) {
        result.kind = OAuthRedirect::Kind::Code;
        result.code = code->second;
    }
    return result;
}

std::string CodeTokenRequest(const ProviderOAuth2& provider, std::string_view code, std::string_view verifier,
                             std::string_view redirectUri) {
    std::map<std::string, std::string> fields = {
        {"grant_type", "authorization_code"},     {"code", std::string(code)},
        {"code_verifier", std::string(verifier)}, {"redirect_uri", std::string(redirectUri)},
        {"client_id", provider.clientId},
    };
    if (!provider.clientSecret.empty()) fields.emplace("client_secret", provider.clientSecret);
    return FormEncode(fields);
}

std::string RefreshTokenRequest(const ProviderOAuth2& provider, std::string_view refreshToken) {
    std::map<std::string, std::string> fields = {
        {"grant_type", "refresh_token"},
        {"refresh_token", std::string(refreshToken)},
        {"client_id", provider.clientId},
    };
    if (!provider.clientSecret.empty()) fields.emplace("client_secret", provider.clientSecret);
    return FormEncode(fields);
}

TokenReply ParseTokenReply(int httpStatus, std::string_view body) {
    TokenReply reply;
    JsonValue json;
    std::string parseError;
    if (!ParseJson(body, json, parseError) || !json.IsObject()) {
        reply.error = httpStatus == 200 ? "not a JSON object" : "HTTP " + std::to_string(httpStatus);
        return reply;
    }
    const std::string error = StringMember(json, "error");
    if (!error.empty() || httpStatus != 200) {
        reply.kind = error == "invalid_grant" ? TokenReply::Kind::InvalidGrant : TokenReply::Kind::Error;
        reply.error = Tame(error.empty() ? "HTTP " + std::to_string(httpStatus) : error);
        if (const std::string d = StringMember(json, "error_description"); !d.empty()) reply.error += ": " + Tame(d);
        return reply;
    }
    reply.accessToken = StringMember(json, "access_token");
    const JsonValue* type = json.Find("token_type");
    if (reply.accessToken.empty() || (type && (!type->IsString() || !EqualsNoCase(type->AsString(), "bearer")))) {
        reply.accessToken.clear();
        reply.error = "no bearer access_token";
        return reply;
    }
    reply.refreshToken = StringMember(json, "refresh_token");
    // Some servers send the number as a string.
    if (const JsonValue* e = json.Find("expires_in")) {
        double seconds = e->IsNumber() ? e->AsNumber() : 0;
        if (e->IsString()) seconds = std::atof(e->AsString().c_str());
        if (std::isfinite(seconds) && seconds > 0) reply.expiresIn = static_cast<long long>(std::min(seconds, 1e9));
    }
    reply.kind = TokenReply::Kind::Token;
    return reply;
}
