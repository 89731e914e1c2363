#include "core/session_apop.h"

#include "md5/md5.h"

std::optional<std::string_view> ApopTimestamp(std::string_view greetingRest) {
    std::size_t open = greetingRest.find('<');
    if (open == std::string_view::npos) return std::nullopt;
    const std::size_t close = greetingRest.find('>', open);
    return greetingRest.substr(open, close == std::string_view::npos ? std::string_view::npos : close + 1 - open);
}

std::string ApopDigest(std::string_view timestamp, std::string_view password) {
    MD5 digest;
    digest.update(timestamp);
    digest.update(password);
    digest.finalize();
    return digest.hex_digest();
}
