#include "accounts/account.h"

#include <random>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool NeedsEncoding(unsigned char c) {
    return c < 0x20 || c >= 0x7f || c == '%' || c == ',' || c == '=';
}

}  // namespace

bool operator==(const Account& a, const Account& b) {
    return a.name == b.name && a.popServer == b.popServer && a.popPort == b.popPort && a.popUser == b.popUser &&
           a.popPassword == b.popPassword && a.popOptions == b.popOptions && a.smtpServer == b.smtpServer &&
           a.smtpPort == b.smtpPort && a.smtpUser == b.smtpUser && a.smtpOptions == b.smtpOptions &&
           a.oauthProvider == b.oauthProvider && a.otherFields == b.otherFields;
}

std::string NewAccountId() {
    std::random_device device;
    std::string id;
    id.reserve(kAccountIdLength);
    while (id.size() < kAccountIdLength) {
        std::uint32_t bits = device();
        for (int i = 0; i < 8 && id.size() < kAccountIdLength; ++i, bits >>= 4) {
            id.push_back("0123456789abcdef"[bits & 0xf]);
        }
    }
    return id;
}

bool IsAccountId(std::string_view text) {
    if (text.size() != kAccountIdLength) return false;
    for (char c : text) {
        if (HexValue(c) < 0) return false;
    }
    return true;
}

std::string EncodeFieldValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (NeedsEncoding(byte)) {
            out.push_back('%');
            out.push_back(kHexDigits[byte >> 4]);
            out.push_back(kHexDigits[byte & 0xf]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string DecodeFieldValue(std::string_view encoded) {
    std::string out;
    out.reserve(encoded.size());
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '%' && i + 2 < encoded.size() && HexValue(encoded[i + 1]) >= 0 &&
            HexValue(encoded[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(encoded[i + 1]) * 16 + HexValue(encoded[i + 2])));
            i += 2;
        } else {
            out.push_back(encoded[i]);
        }
    }
    return out;
}
