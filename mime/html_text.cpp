#include "mime/html_text.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

struct Entity {
    std::string_view name;
    char32_t code;
};

// The references mail writers use; others stay as written.
constexpr std::array<Entity, 62> kEntities{{
    {"amp", '&'},      {"lt", '<'},       {"gt", '>'},        {"quot", '"'},      {"apos", '\''},
    {"nbsp", ' '},     {"copy", 0xA9},    {"reg", 0xAE},      {"trade", 0x2122},  {"hellip", 0x2026},
    {"mdash", 0x2014}, {"ndash", 0x2013}, {"lsquo", 0x2018},  {"rsquo", 0x2019},  {"ldquo", 0x201C},
    {"rdquo", 0x201D}, {"sbquo", 0x201A}, {"bdquo", 0x201E},  {"bull", 0x2022},   {"middot", 0xB7},
    {"yen", 0xA5},     {"euro", 0x20AC},  {"pound", 0xA3},    {"cent", 0xA2},     {"times", 0xD7},
    {"divide", 0xF7},  {"laquo", 0xAB},   {"raquo", 0xBB},    {"deg", 0xB0},      {"plusmn", 0xB1},
    {"sect", 0xA7},    {"para", 0xB6},    {"larr", 0x2190},   {"rarr", 0x2192},   {"uarr", 0x2191},
    {"darr", 0x2193},  {"harr", 0x21D4},  {"hearts", 0x2665}, {"spades", 0x2660}, {"clubs", 0x2663},
    {"diams", 0x2666}, {"iexcl", 0xA1},   {"iquest", 0xBF},   {"shy", 0xAD},      {"macr", 0xAF},
    {"acute", 0xB4},   {"micro", 0xB5},   {"frac12", 0xBD},   {"frac14", 0xBC},   {"frac34", 0xBE},
    {"sup2", 0xB2},    {"sup3", 0xB3},    {"ensp", 0x2002},   {"emsp", 0x2003},   {"thinsp", 0x2009},
    {"zwnj", 0x200C},  {"zwj", 0x200D},   {"prime", 0x2032},  {"Prime", 0x2033},  {"minus", 0x2212},
    {"infin", 0x221E}, {"ne", 0x2260},
}};

void AppendUtf8(char32_t c, std::string& out) {
    if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
bool IsAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Decodes the reference at html[i] ('&') into `out`; returns the bytes used
// (1 when it is no reference: the '&' is copied).
std::size_t DecodeReference(std::string_view html, std::size_t i, std::string& out) {
    std::size_t j = i + 1;
    if (j < html.size() && html[j] == '#') {
        ++j;
        const bool hex = j < html.size() && (html[j] == 'x' || html[j] == 'X');
        if (hex) ++j;
        const std::size_t digits = j;
        char32_t value = 0;
        while (j < html.size() && j - digits < 8) {
            const char c = html[j];
            int d = -1;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (hex && Lower(c) >= 'a' && Lower(c) <= 'f')
                d = Lower(c) - 'a' + 10;
            if (d < 0) break;
            value = value * (hex ? 16 : 10) + static_cast<char32_t>(d);
            ++j;
        }
        if (j == digits) {
            out += '&';
            return 1;
        }
        AppendUtf8(value, out);
        return j - i + (j < html.size() && html[j] == ';');
    }
    while (j < html.size() && j - i <= 8 && (IsAlpha(html[j]) || (html[j] >= '0' && html[j] <= '9'))) ++j;
    const std::string_view name = html.substr(i + 1, j - i - 1);
    for (const Entity& e : kEntities) {
        if (e.name == name) {
            AppendUtf8(e.code, out);
            return j - i + (j < html.size() && html[j] == ';');
        }
    }
    out += '&';
    return 1;
}

bool NameIs(std::string_view name, std::string_view want) {
    return name.size() == want.size() &&
           std::equal(name.begin(), name.end(), want.begin(), [](char a, char b) { return Lower(a) == b; });
}

bool EndsLine(std::string_view name) {
    for (std::string_view n : {"br", "p", "div", "tr", "li", "h1", "h2", "h3", "h4", "h5", "h6"}) {
        if (NameIs(name, n)) return true;
    }
    return false;
}

// Case-insensitive search for "</name" from `from`.
std::size_t FindClosing(std::string_view html, std::size_t from, std::string_view name) {
    for (std::size_t p = html.find("</", from); p != std::string_view::npos; p = html.find("</", p + 2)) {
        if (html.size() - p - 2 >= name.size() && NameIs(html.substr(p + 2, name.size()), name)) return p;
    }
    return std::string_view::npos;
}

}  // namespace

std::string HtmlToText(std::string_view html) {
    std::string text;  // with '\n' for line ends, white space not yet folded
    text.reserve(html.size());
    // Where a search for each dropped element's end failed: later searches
    // would fail too, so they are not repeated (keeps hostile input linear).
    std::array<bool, 4> noClosing{};
    constexpr std::array<std::string_view, 4> kDropped{"script", "style", "head", "title"};
    bool lineHasText = false;
    std::size_t i = 0;
    while (i < html.size()) {
        const char c = html[i];
        if (c == '&') {
            i += DecodeReference(html, i, text);
            lineHasText = true;
            continue;
        }
        if (c != '<') {
            text += IsSpace(c) ? ' ' : c;
            lineHasText = lineHasText || !IsSpace(c);
            ++i;
            continue;
        }
        if (html.compare(i, 4, "<!--") == 0) {
            const std::size_t end = html.find("-->", i + 4);
            i = end == std::string_view::npos ? html.size() : end + 3;
            continue;
        }
        std::size_t j = i + 1;
        const bool closing = j < html.size() && html[j] == '/';
        if (closing) ++j;
        if (j >= html.size() || !(IsAlpha(html[j]) || html[j] == '!' || html[j] == '?')) {
            text += '<';
            ++i;
            continue;
        }
        const std::size_t nameStart = j;
        while (j < html.size() && (IsAlpha(html[j]) || (html[j] >= '0' && html[j] <= '9'))) ++j;
        const std::string_view name = html.substr(nameStart, j - nameStart);
        const std::size_t gt = html.find('>', j);
        i = gt == std::string_view::npos ? html.size() : gt + 1;
        if (NameIs(name, "td") || NameIs(name, "th")) {
            // Table cells side by side stay separate words.
            text += ' ';
            continue;
        }
        if (EndsLine(name)) {
            // A block ends the line it is on; only br makes empty lines.
            if (NameIs(name, "br") || lineHasText) text += '\n';
            lineHasText = false;
            continue;
        }
        if (!closing) {
            for (std::size_t k = 0; k < kDropped.size(); ++k) {
                if (!NameIs(name, kDropped[k]) || noClosing[k]) continue;
                const std::size_t end = FindClosing(html, i, kDropped[k]);
                if (end == std::string_view::npos) {
                    noClosing[k] = true;
                    // Script and style run to the end; an unclosed head or
                    // title loses only its tag.
                    if (k < 2) i = html.size();
                } else {
                    const std::size_t endGt = html.find('>', end);
                    i = endGt == std::string_view::npos ? html.size() : endGt + 1;
                }
                break;
            }
        }
    }
    // Lines: spaces folded and trimmed, blank runs cut to one, none at the
    // start or the end.
    std::string out;
    out.reserve(text.size());
    std::size_t from = 0;
    bool pendingBlank = false;
    while (from <= text.size()) {
        std::size_t lf = text.find('\n', from);
        if (lf == std::string::npos) lf = text.size();
        std::string line;
        bool space = false;
        for (std::size_t k = from; k < lf; ++k) {
            if (text[k] == ' ') {
                space = !line.empty();
            } else {
                if (space) line += ' ';
                space = false;
                line += text[k];
            }
        }
        if (line.empty()) {
            pendingBlank = !out.empty();
        } else {
            if (!out.empty()) out += pendingBlank ? "\n\n" : "\n";
            pendingBlank = false;
            out += line;
        }
        from = lf + 1;
    }
    return out;
}
