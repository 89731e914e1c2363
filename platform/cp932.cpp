#include "platform/cp932.h"

#include "platform/iconv_converter.h"

namespace {

using platform_detail::Converter;

std::size_t SkipOneByte(std::string_view) {
    return 1;
}

// Length of the UTF-8 sequence at the start of `rest` when it is well
// formed, else 1, so an unconvertible character becomes one '?'.
std::size_t SkipUtf8Character(std::string_view rest) {
    const auto b = static_cast<unsigned char>(rest[0]);
    std::size_t len = 0;
    unsigned min = 0;
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
        min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        min = 0x10000;
    } else {
        return 1;
    }
    if (rest.size() < len) {
        return 1;
    }
    unsigned cp = b & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
        const auto c = static_cast<unsigned char>(rest[k]);
        if ((c & 0xC0) != 0x80) {
            return 1;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 1;
    }
    return len;
}

}  // namespace

// Without a converter only ASCII gets through; everything else is replaced.
template <typename Skip>
void AsciiOnly(std::string_view in, std::string& out, std::string_view replacement, Skip skip) {
    for (std::size_t i = 0; i < in.size();) {
        if (static_cast<unsigned char>(in[i]) < 0x80) {
            out += in[i++];
        } else {
            out += replacement;
            i += skip(in.substr(i));
        }
    }
}

std::string Cp932ToUtf8(std::string_view text) {
    thread_local Converter converter("UTF-8", "CP932");
    std::string out;
    if (converter.ok()) {
        converter.Run(text, out, "\xEF\xBF\xBD", SkipOneByte);
    } else {
        AsciiOnly(text, out, "\xEF\xBF\xBD", SkipOneByte);
    }
    return out;
}

std::string Utf8ToCp932(std::string_view text) {
    thread_local Converter converter("CP932", "UTF-8");
    std::string out;
    if (converter.ok()) {
        converter.Run(text, out, "?", SkipUtf8Character);
    } else {
        AsciiOnly(text, out, "?", SkipUtf8Character);
    }
    return out;
}

std::wstring Cp932ToWide(std::string_view text) {
    thread_local Converter converter("WCHAR_T", "CP932");
    if (!converter.ok()) {
        const std::string utf8 = Cp932ToUtf8(text);  // ASCII and U+FFFD only
        std::wstring out;
        for (std::size_t i = 0; i < utf8.size(); ++i) {
            const auto c = static_cast<unsigned char>(utf8[i]);
            out += c < 0x80 ? static_cast<wchar_t>(c) : (i += 2, static_cast<wchar_t>(0xFFFD));
        }
        return out;
    }
    static_assert(sizeof(wchar_t) == 4, "glibc wide characters are UCS-4");
    const wchar_t replacement = 0xFFFD;
    std::string bytes;
    converter.Run(text, bytes, std::string_view(reinterpret_cast<const char*>(&replacement), sizeof replacement),
                  SkipOneByte);
    std::wstring out(bytes.size() / sizeof(wchar_t), L'\0');
    std::memcpy(out.data(), bytes.data(), out.size() * sizeof(wchar_t));
    return out;
}
