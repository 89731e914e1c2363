#include "mime/mime_charset.h"

#include <algorithm>
#include <array>

#include "mime/jis.h"
#include "platform/charset.h"
#include "platform/cp932.h"

namespace {

struct Alias {
    std::string_view label;
    std::string_view iconvName;
};

// Labels mailers use that glibc iconv lacks or maps without the Windows
// tables. "JIS" marks the ISO-2022-JP converter of the list.
constexpr std::array<Alias, 34> kAliases{{
    {"shift_jis", "CP932"},
    {"shift-jis", "CP932"},
    {"sjis", "CP932"},
    {"x-sjis", "CP932"},
    {"ms_kanji", "CP932"},
    {"csshiftjis", "CP932"},
    {"windows-31j", "CP932"},
    {"cswindows31j", "CP932"},
    {"cp932", "CP932"},
    {"ms932", "CP932"},
    {"x-ms-cp932", "CP932"},
    {"iso-2022-jp", "JIS"},
    {"csiso2022jp", "JIS"},
    {"iso-2022-jp-ms", "JIS"},
    {"cp50220", "JIS"},
    {"cp50221", "JIS"},
    {"cp50222", "JIS"},
    {"euc-jp", "EUC-JP-MS"},
    {"x-euc-jp", "EUC-JP-MS"},
    {"eucjp", "EUC-JP-MS"},
    {"x-euc", "EUC-JP-MS"},
    {"cseucpkdfmtjapanese", "EUC-JP-MS"},
    {"ujis", "EUC-JP-MS"},
    {"ks_c_5601-1987", "CP949"},
    {"ks_c_5601", "CP949"},
    {"ksc5601", "CP949"},
    {"ksc_5601", "CP949"},
    {"csksc56011987", "CP949"},
    {"x-windows-949", "CP949"},
    {"gb2312", "GBK"},
    {"x-gbk", "GBK"},
    {"utf8", "UTF-8"},
    {"x-unicode20utf8", "UTF-8"},
    {"iso-8859-8-i", "ISO-8859-8"},
}};

}  // namespace

std::string NormalizedCharset(std::string_view label) {
    const std::size_t star = label.find('*');
    if (star != std::string_view::npos) {
        label = label.substr(0, star);
    }
    std::string name(label);
    for (char& c : name) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return name;
}

std::string RawToUtf8(std::string_view bytes) {
    if (IsValidUtf8(bytes)) {
        return std::string(bytes);
    }
    return Cp932ToUtf8(bytes);
}

std::optional<std::string> CharsetToUtf8(std::string_view bytes, std::string_view label) {
    const std::string name = NormalizedCharset(label);
    if (name.empty()) {
        return std::nullopt;
    }
    // ASCII labels mark plain text; 8-bit bytes under them are read as raw.
    if (name == "us-ascii" || name == "ascii" || name == "ansi_x3.4-1968") {
        return RawToUtf8(bytes);
    }
    if (name == "utf-8") {
        std::string out;
        AppendSanitizedUtf8(bytes, out);
        return out;
    }
    std::string iconvName = name;
    for (const Alias& alias : kAliases) {
        if (alias.label == name) {
            iconvName = alias.iconvName;
            break;
        }
    }
    if (iconvName == "JIS") {
        return Cp932ToUtf8(JisToShiftJis(bytes));
    }
    // A label made of anything but the characters charset names use is
    // never handed to iconv (it would take "//" suffixes as options).
    if (!std::all_of(iconvName.begin(), iconvName.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                   c == '.' || c == ':';
        })) {
        return std::nullopt;
    }
    std::string out;
    if (!ConvertToUtf8(bytes, iconvName, out)) {
        return std::nullopt;
    }
    return out;
}
