#include "core/sasl_oauth.h"

#include "accounts/json.h"
#include "mime/mime_header.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// RFC 5801's saslname: ',' and '=' would end or escape the field.
std::string SaslName(std::string_view name) {
    std::string out;
    for (const char c : name) {
        if (c == ',') {
            out += "=2C";
        } else if (c == '=') {
            out += "=3D";
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::string EncodeBase64(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (n > 1) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (n > 2) v |= static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
        out += n > 2 ? kAlphabet[v & 63] : '=';
    }
    return out;
}

std::string XOAuth2Response(std::string_view user, std::string_view accessToken) {
    std::string text = "user=";
    text += user;
    text +=
        "\x01"
        "auth=Bearer ";
    text += accessToken;
    text += "\x01\x01";
    return EncodeBase64(text);
}

std::string OAuthBearerResponse(std::string_view user, std::string_view host, std::uint16_t port,
                                std::string_view accessToken) {
    std::string text = "n,a=" + SaslName(user) + ",\x01";
    if (!host.empty()) {
        text += "host=";
        text += host;
        text += '\x01';
    }
    if (port != 0) text += "port=" + std::to_string(port) + '\x01';
    text += "auth=Bearer ";
    text += accessToken;
    text += "\x01\x01";
    return EncodeBase64(text);
}

bool InitialResponseFits(std::string_view mechanism, std::string_view response, std::size_t limit) {
    return 5 + mechanism.size() + 1 + response.size() + 2 <= limit;
}

std::string OAuthErrorText(std::string_view challenge) {
    constexpr std::size_t kMaxShown = 300;
    const std::string decoded = DecodeBase64Lenient(challenge);
    std::string text;
    JsonValue json;
    std::string ignored;
    if (ParseJson(decoded, json, ignored) && json.IsObject()) {
        for (const JsonValue::Member& member : json.Members()) {
            if (!text.empty()) text += ", ";
            text += member.first + ": ";
            if (member.second.IsString())
                text += member.second.AsString();
            else if (member.second.IsNumber())
                text += std::to_string(static_cast<long long>(member.second.AsNumber()));
            else
                text += "...";
        }
    } else {
        text = decoded;
    }
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    if (text.size() > kMaxShown) text = text.substr(0, kMaxShown) + "...";
    return text;
}
