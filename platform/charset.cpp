#include "platform/charset.h"

#include <cstdint>
#include <map>
#include <memory>

#include "platform/iconv_converter.h"

namespace {

using platform_detail::Converter;

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 sequence at text[i], or 0.
std::size_t SequenceLength(std::string_view text, std::size_t i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
        return 1;
    }
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (text.size() - i < len) {
        return 0;
    }
    const auto c1 = static_cast<unsigned char>(text[i + 1]);
    if (c1 < lo || c1 > hi) {
        return 0;
    }
    for (std::size_t k = 2; k < len; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return len;
}

}  // namespace

std::size_t ValidUtf8Prefix(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        // ASCII runs are the common case.
        while (i + 8 <= text.size()) {
            std::uint64_t v;
            std::memcpy(&v, text.data() + i, 8);
            if (v & 0x8080808080808080ULL) break;
            i += 8;
        }
        if (i >= text.size()) break;
        const std::size_t len = SequenceLength(text, i);
        if (len == 0) return i;
        i += len;
    }
    return text.size();
}

void AppendSanitizedUtf8(std::string_view text, std::string& out) {
    out.reserve(out.size() + text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t good = ValidUtf8Prefix(text.substr(i));
        out.append(text.substr(i, good));
        i += good;
        if (i < text.size()) {
            out.append(kReplacement);
            ++i;
        }
    }
}

bool ConvertToUtf8(std::string_view bytes, const std::string& iconvName, std::string& out) {
    // Opening a descriptor costs far more than converting a header, so each
    // thread keeps the ones it has opened (iconv_t is not thread-safe).
    thread_local std::map<std::string, std::unique_ptr<Converter>> converters;
    auto it = converters.find(iconvName);
    if (it == converters.end()) {
        if (converters.size() > 64) {
            converters.clear();
        }
        it = converters.emplace(iconvName, std::make_unique<Converter>("UTF-8", iconvName.c_str())).first;
    }
    if (!it->second->ok()) {
        return false;
    }
    it->second->Run(bytes, out, kReplacement, [](std::string_view) { return std::size_t{1}; });
    return true;
}

std::wstring Utf8ToWide(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t len = SequenceLength(text, i);
        if (len == 0) {
            out += static_cast<wchar_t>(0xFFFD);
            ++i;
            continue;
        }
        const auto b = static_cast<unsigned char>(text[i]);
        char32_t cp = len == 1 ? b : b & (0x7F >> len);
        for (std::size_t k = 1; k < len; ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        out += static_cast<wchar_t>(cp);
        i += len;
    }
    return out;
}
