#include "mime/mime_header.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "mime/mime_charset.h"

namespace {

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = LowerAscii(c);
    return out;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (IsBlank(s.front()) || s.front() == '\r' || s.front() == '\n')) s.remove_prefix(1);
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
    return s;
}

// Length of the field name when the line is "name:..." with a name of
// printable ASCII other than the colon; npos otherwise.
std::size_t FieldNameLength(std::string_view line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (c == ':') return i;
        if (c < 0x21 || c > 0x7E) return std::string_view::npos;
    }
    return std::string_view::npos;
}

constexpr std::array<std::int8_t, 256> MakeBase64Values() {
    std::array<std::int8_t, 256> t{};
    for (auto& v : t) v = -1;
    for (int c = 'A'; c <= 'Z'; ++c) t[c] = static_cast<std::int8_t>(c - 'A');
    for (int c = 'a'; c <= 'z'; ++c) t[c] = static_cast<std::int8_t>(c - 'a' + 26);
    for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<std::int8_t>(c - '0' + 52);
    t['+'] = 62;
    t['/'] = 63;
    t['='] = -2;
    return t;
}
constexpr std::array<std::int8_t, 256> kBase64Values = MakeBase64Values();

// Decodes to `emit(byte)`; see DecodeBase64Lenient.
template <typename Emit>
void Base64Run(std::string_view text, Emit emit) {
    std::uint32_t acc = 0;
    int count = 0;
    auto flush = [&] {
        // A short group gives the bytes its bits fill completely.
        if (count == 2) {
            emit(static_cast<char>((acc >> 4) & 0xFF));
        } else if (count == 3) {
            emit(static_cast<char>((acc >> 10) & 0xFF));
            emit(static_cast<char>((acc >> 2) & 0xFF));
        }
        acc = 0;
        count = 0;
    };
    for (const char ch : text) {
        const int v = kBase64Values[static_cast<unsigned char>(ch)];
        if (v >= 0) {
            acc = (acc << 6) | static_cast<std::uint32_t>(v);
            if (++count == 4) {
                emit(static_cast<char>((acc >> 16) & 0xFF));
                emit(static_cast<char>((acc >> 8) & 0xFF));
                emit(static_cast<char>(acc & 0xFF));
                acc = 0;
                count = 0;
            }
        } else if (v == -2) {
            flush();
        }
    }
    flush();
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string PercentDecode(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

struct Token {
    std::string_view raw;  // as written
    bool word = false;
    std::string charset;  // normalized, for words
    std::string bytes;    // decoded bytes, for words
    bool known = false;   // the charset can be read
};

Token PlainToken(std::string_view raw) {
    Token t;
    t.raw = raw;
    return t;
}

// Splits a value into plain runs and encoded words "=?charset?e?text?=".
std::vector<Token> Tokenize(std::string_view value) {
    std::vector<Token> tokens;
    std::size_t copied = 0;
    std::size_t from = 0;
    while (true) {
        const std::size_t start = value.find("=?", from);
        if (start == std::string_view::npos) break;
        const std::size_t q1 = value.find('?', start + 2);
        if (q1 == std::string_view::npos) break;
        const bool encodingOk =
            q1 + 2 < value.size() && value[q1 + 2] == '?' &&
            (value[q1 + 1] == 'b' || value[q1 + 1] == 'B' || value[q1 + 1] == 'q' || value[q1 + 1] == 'Q');
        if (!encodingOk) {
            from = start + 2;
            continue;
        }
        const std::size_t close = value.find("?=", q1 + 3);
        if (close == std::string_view::npos) break;
        if (start > copied) tokens.push_back(PlainToken(value.substr(copied, start - copied)));
        Token word;
        word.raw = value.substr(start, close + 2 - start);
        word.word = true;
        word.charset = NormalizedCharset(value.substr(start + 2, q1 - start - 2));
        const std::string_view text = value.substr(q1 + 3, close - q1 - 3);
        word.bytes = (value[q1 + 1] == 'b' || value[q1 + 1] == 'B') ? DecodeBase64Lenient(text) : DecodeQWord(text);
        word.known = CharsetToUtf8("", word.charset).has_value();
        tokens.push_back(std::move(word));
        copied = close + 2;
        from = copied;
    }
    if (copied < value.size()) tokens.push_back(PlainToken(value.substr(copied)));
    return tokens;
}

}  // namespace

std::string DotUnstuff(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t from = 0;
    while (from < text.size()) {
        if (text.size() - from >= 2 && text[from] == '.' && text[from + 1] == '.') ++from;
        const void* lf = std::memchr(text.data() + from, '\n', text.size() - from);
        const std::size_t end =
            lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - text.data()) + 1 : text.size();
        out.append(text.substr(from, end - from));
        from = end;
    }
    return out;
}

const std::string* MimeHeader::Find(std::string_view name) const {
    for (const auto& field : fields) {
        if (EqualsIgnoringCase(field.name, name)) return &field.value;
    }
    return nullptr;
}

std::size_t ParseMimeHeader(std::string_view text, std::size_t pos, bool statusLine, MimeHeader& header) {
    bool first = statusLine;
    while (pos < text.size()) {
        const std::size_t lf = text.find('\n', pos);
        const std::size_t next = lf == std::string_view::npos ? text.size() : lf + 1;
        std::string_view line = text.substr(pos, (lf == std::string_view::npos ? text.size() : lf) - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const bool wasFirst = first;
        first = false;
        if (line.empty()) {
            if (wasFirst) {
                pos = next;
                continue;
            }
            return next;
        }
        if (IsBlank(line.front())) {
            if (!header.fields.empty()) {
                header.fields.back().value.append(line);
            }
            pos = next;
            continue;
        }
        const std::size_t colon = FieldNameLength(line);
        if (colon == std::string_view::npos) {
            if (wasFirst) {
                pos = next;
                continue;
            }
            return pos;
        }
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
        header.fields.push_back(MimeField{std::string(line.substr(0, colon)), std::string(value)});
        pos = next;
    }
    return text.size();
}

std::string DecodeHeaderText(std::string_view value) {
    if (value.find("=?") == std::string_view::npos) {
        return RawToUtf8(value);
    }
    std::vector<Token> tokens = Tokenize(value);
    std::string out;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        Token& t = tokens[i];
        if (!t.word) {
            const bool between = i > 0 && i + 1 < tokens.size() && tokens[i - 1].word && tokens[i - 1].known &&
                                 tokens[i + 1].word && tokens[i + 1].known &&
                                 std::all_of(t.raw.begin(), t.raw.end(), IsBlank);
            if (!between) out += RawToUtf8(t.raw);
            continue;
        }
        if (!t.known) {
            out += RawToUtf8(t.raw);
            continue;
        }
        // Joins the bytes of the following words in the same charset, with
        // only white space or nothing at all between them, in any mix: a
        // character may be split between any two of them.
        std::string bytes = std::move(t.bytes);
        for (;;) {
            const bool blankNext = i + 2 < tokens.size() && !tokens[i + 1].word &&
                                   std::all_of(tokens[i + 1].raw.begin(), tokens[i + 1].raw.end(), IsBlank);
            const std::size_t next = blankNext ? i + 2 : i + 1;
            if (next >= tokens.size() || !tokens[next].word || !tokens[next].known || tokens[next].charset != t.charset)
                break;
            bytes += tokens[next].bytes;
            i = next;
        }
        out += CharsetToUtf8(bytes, t.charset).value_or(std::string());
    }
    return out;
}

const MimeParam* MimeValue::Param(const std::string& name) const {
    const auto it = params.find(name);
    return it == params.end() ? nullptr : &it->second;
}

MimeValue ParseMimeValue(std::string_view value) {
    MimeValue result;
    std::size_t i = value.find(';');
    result.token = Lower(Trim(value.substr(0, i)));
    struct Section {
        long number;
        bool extended;
        std::string text;
    };
    std::map<std::string, std::vector<Section>> sections;
    while (i != std::string_view::npos && i < value.size()) {
        ++i;  // the ';'
        while (i < value.size() && (IsBlank(value[i]) || value[i] == ';')) ++i;
        // Only this parameter's text is searched, so a value of many
        // parameters without "=" stays linear.
        const std::size_t semi = value.find(';', i);
        const std::size_t eq = value.substr(0, semi).find('=', i);
        if (eq == std::string_view::npos) {
            i = semi;
            continue;
        }
        std::string attribute = Lower(Trim(value.substr(i, eq - i)));
        i = eq + 1;
        while (i < value.size() && IsBlank(value[i])) ++i;
        std::string text;
        if (i < value.size() && value[i] == '"') {
            ++i;
            while (i < value.size() && value[i] != '"') {
                if (value[i] == '\\' && i + 1 < value.size()) ++i;
                text += value[i++];
            }
            i = value.find(';', i);
        } else {
            const std::size_t end = value.find(';', i);
            text = std::string(Trim(value.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i)));
            i = end;
        }
        bool extended = !attribute.empty() && attribute.back() == '*';
        if (extended) attribute.pop_back();
        long number = -1;
        const std::size_t star = attribute.find('*');
        if (star != std::string::npos) {
            const std::string digits = attribute.substr(star + 1);
            if (digits.empty() || digits.size() > 6 ||
                !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
                continue;
            }
            number = std::stol(digits);
            attribute.resize(star);
        }
        sections[attribute].push_back(Section{number, extended, std::move(text)});
    }
    for (auto& [name, parts] : sections) {
        // A plain "name=" wins over continuations only when there are none.
        std::stable_sort(parts.begin(), parts.end(),
                         [](const Section& a, const Section& b) { return a.number < b.number; });
        const bool rfc2231 =
            std::any_of(parts.begin(), parts.end(), [](const Section& s) { return s.number >= 0 || s.extended; });
        MimeParam param;
        if (!rfc2231) {
            param.value = parts.front().text;
        } else {
            std::string charset;
            std::string bytes;
            bool firstExtended = true;
            for (const Section& s : parts) {
                if (s.number < 0 && parts.size() > 1 && !s.extended) continue;
                if (s.extended) {
                    std::string_view text = s.text;
                    if (firstExtended) {
                        const std::size_t q1 = text.find('\'');
                        const std::size_t q2 = q1 == std::string_view::npos ? q1 : text.find('\'', q1 + 1);
                        if (q2 != std::string_view::npos) {
                            charset = std::string(text.substr(0, q1));
                            text.remove_prefix(q2 + 1);
                        }
                        firstExtended = false;
                    }
                    bytes += PercentDecode(text);
                } else {
                    bytes += s.text;
                }
            }
            auto text = charset.empty() ? std::nullopt : CharsetToUtf8(bytes, charset);
            param.value = text ? std::move(*text) : RawToUtf8(bytes);
            param.extended = true;
        }
        result.params.emplace(name, std::move(param));
    }
    return result;
}

std::string DecodeBase64Lenient(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    Base64Run(text, [&out](char c) { out.push_back(c); });
    return out;
}

std::size_t Base64DecodedSize(std::string_view text) {
    std::size_t n = 0;
    Base64Run(text, [&n](char) { ++n; });
    return n;
}

std::string DecodeQuotedPrintable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '=') {
            out += c;
            continue;
        }
        if (i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
            continue;
        }
        // A soft line break: "=", optional transport padding, the line end.
        std::size_t j = i + 1;
        while (j < text.size() && IsBlank(text[j])) ++j;
        if (j < text.size() && text[j] == '\r' && j + 1 < text.size() && text[j + 1] == '\n') {
            i = j + 1;
        } else if (j < text.size() && text[j] == '\n') {
            i = j;
        } else if (j == text.size()) {
            i = j;
        } else {
            out += c;
        }
    }
    return out;
}

std::string DecodeQWord(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '_') {
            out += ' ';
        } else if (text[i] == '=' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}
