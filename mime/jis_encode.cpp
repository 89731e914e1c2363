#include "mime/jis_encode.h"

#include "platform/cp932.h"

#include <vector>

namespace {

constexpr char kGetaCp932[] = "\x81\xAC";  // 〓

// One character on its way out: an ASCII byte, or a JIS X 0208 pair.
struct JisChar {
    bool ascii;
    unsigned char a;
    unsigned char b;
};

constexpr JisChar kGeta{false, 0x22, 0x2E};

// Full-width CP932 codes of the half-width katakana 0xA1..0xDF.
constexpr unsigned short kHalfToFull[63] = {
    0x8142, 0x8175, 0x8176, 0x8141, 0x8145, 0x8392, 0x8340, 0x8342, 0x8344, 0x8346, 0x8348, 0x8383, 0x8385,
    0x8387, 0x8362, 0x815B, 0x8341, 0x8343, 0x8345, 0x8347, 0x8349, 0x834A, 0x834C, 0x834E, 0x8350, 0x8352,
    0x8354, 0x8356, 0x8358, 0x835A, 0x835C, 0x835E, 0x8360, 0x8363, 0x8365, 0x8367, 0x8369, 0x836A, 0x836B,
    0x836C, 0x836D, 0x836E, 0x8371, 0x8374, 0x8377, 0x837A, 0x837D, 0x837E, 0x8380, 0x8381, 0x8382, 0x8384,
    0x8386, 0x8388, 0x8389, 0x838A, 0x838B, 0x838C, 0x838D, 0x838F, 0x8393, 0x814A, 0x814B};

bool IsLead(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool IsTrail(unsigned char b) {
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

// The JIS pair at the position of a CP932 double-byte code.
void ToJisPair(unsigned char s1, unsigned char s2, unsigned char& j1, unsigned char& j2) {
    const int lead = s1 >= 0xE0 ? s1 - 0x40 : s1;
    int row = (lead - 0x81) * 2 + 0x21;
    if (s2 >= 0x9F) {
        ++row;
        j2 = static_cast<unsigned char>(s2 - 0x7E);
    } else {
        j2 = static_cast<unsigned char>(s2 - (s2 >= 0x80 ? 0x20 : 0x1F));
    }
    j1 = static_cast<unsigned char>(row);
}

// Rows 1-8 and 16-84 are JIS X 0208's; CP932 puts its extensions elsewhere.
bool IsJisRow(unsigned char j1) {
    const int row = j1 - 0x20;
    return (row >= 1 && row <= 8) || (row >= 16 && row <= 84);
}

bool IsAssigned(unsigned char s1, unsigned char s2) {
    const char pair[2] = {static_cast<char>(s1), static_cast<char>(s2)};
    return Cp932ToUtf8(std::string_view(pair, 2)) != "\xEF\xBF\xBD";
}

JisChar DoubleByte(unsigned char s1, unsigned char s2) {
    unsigned char j1 = 0;
    unsigned char j2 = 0;
    ToJisPair(s1, s2, j1, j2);
    if (IsJisRow(j1)) return IsAssigned(s1, s2) ? JisChar{false, j1, j2} : kGeta;
    // An extension may be a second code for a JIS X 0208 character; CP932
    // maps that character back to its first code.
    const char pair[2] = {static_cast<char>(s1), static_cast<char>(s2)};
    const std::string unicode = Cp932ToUtf8(std::string_view(pair, 2));
    if (unicode == "\xEF\xBF\xBD") return kGeta;
    const std::string back = Utf8ToCp932(unicode);
    if (back.size() != 2) return kGeta;
    ToJisPair(static_cast<unsigned char>(back[0]), static_cast<unsigned char>(back[1]), j1, j2);
    return IsJisRow(j1) ? JisChar{false, j1, j2} : kGeta;
}

// Reads the character at text[i]; returns the bytes it took.
std::size_t NextChar(std::string_view text, std::size_t i, JisChar& out) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
        const bool unsafe = b == 0x00 || b == 0x0E || b == 0x0F || b == 0x1B || b == '\r' || b == '\n';
        out = unsafe ? kGeta : JisChar{true, b, 0};
        return 1;
    }
    if (b >= 0xA1 && b <= 0xDF) {
        unsigned full = kHalfToFull[b - 0xA1];
        std::size_t used = 1;
        if (i + 1 < text.size()) {
            const auto mark = static_cast<unsigned char>(text[i + 1]);
            const bool voicable = (b >= 0xB6 && b <= 0xC4) || (b >= 0xCA && b <= 0xCE);
            if (mark == 0xDE && b == 0xB3) {
                full = 0x8394;  // ヴ
                used = 2;
            } else if (mark == 0xDE && voicable) {
                full += 1;
                used = 2;
            } else if (mark == 0xDF && b >= 0xCA && b <= 0xCE) {
                full += 2;
                used = 2;
            }
        }
        out = DoubleByte(static_cast<unsigned char>(full >> 8), static_cast<unsigned char>(full & 0xFF));
        return used;
    }
    if (IsLead(b) && i + 1 < text.size() && IsTrail(static_cast<unsigned char>(text[i + 1]))) {
        out = DoubleByte(b, static_cast<unsigned char>(text[i + 1]));
        return 2;
    }
    out = kGeta;
    return 1;
}

std::vector<JisChar> Characters(std::string_view text) {
    std::vector<JisChar> chars;
    chars.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        JisChar c{};
        i += NextChar(text, i, c);
        chars.push_back(c);
    }
    return chars;
}

// ISO-2022-JP of chars[begin, end), from ASCII back to ASCII.
std::string JisBytes(const std::vector<JisChar>& chars, std::size_t begin, std::size_t end) {
    std::string out;
    bool kanji = false;
    for (std::size_t k = begin; k < end; ++k) {
        const JisChar& c = chars[k];
        if (c.ascii) {
            if (kanji) out += "\x1B(B";
            kanji = false;
            out += static_cast<char>(c.a);
        } else {
            if (!kanji) out += "\x1B$B";
            kanji = true;
            out += static_cast<char>(c.a);
            out += static_cast<char>(c.b);
        }
    }
    if (kanji) out += "\x1B(B";
    return out;
}

std::string Base64(std::string_view bytes) {
    static constexpr char kTable[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kTable[v >> 18];
        out += kTable[(v >> 12) & 63];
        out += kTable[(v >> 6) & 63];
        out += kTable[v & 63];
    }
    if (i < bytes.size()) {
        const bool two = i + 1 < bytes.size();
        const unsigned v =
            static_cast<unsigned char>(bytes[i]) << 16 | (two ? static_cast<unsigned char>(bytes[i + 1]) << 8 : 0);
        out += kTable[v >> 18];
        out += kTable[(v >> 12) & 63];
        out += two ? kTable[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

constexpr std::size_t kMaxWord = 75;
constexpr std::size_t kMaxLine = 76;
constexpr std::string_view kWordStart = "=?ISO-2022-JP?B?";
constexpr std::string_view kWordEnd = "?=";

std::size_t WordLength(std::size_t jisBytes) {
    return kWordStart.size() + (jisBytes + 2) / 3 * 4 + kWordEnd.size();
}

bool PrintableAscii(std::string_view text) {
    for (const char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        if (b >= 0x7F || (b < 0x20 && b != '\t')) return false;
    }
    return true;
}

// Appends the encoded words of text to out, where `column` characters
// already stand on the current line; updates column.
void AppendWords(std::string_view text, std::string& out, std::size_t& column) {
    const std::vector<JisChar> chars = Characters(text);
    std::size_t begin = 0;
    while (begin < chars.size()) {
        // The longest run of whole characters whose word fits on the line.
        const std::size_t room = std::min(kMaxWord, kMaxLine > column ? kMaxLine - column : 0);
        std::size_t end = begin;
        std::size_t bytes = 0;
        bool kanji = false;
        while (end < chars.size()) {
            const JisChar& c = chars[end];
            std::size_t next = bytes + (c.ascii ? 1 : 2) + (c.ascii == kanji ? 3 : 0);
            const bool endsKanji = !c.ascii;
            if (WordLength(next + (endsKanji ? 3 : 0)) > room) break;
            bytes = next;
            kanji = endsKanji;
            ++end;
        }
        if (end == begin) {
            // Not even one character fits here: go on on a new line, whose
            // leading space stands for any blank that ended this one.
            while (!out.empty() && (out.back() == ' ' || out.back() == '\t')) out.pop_back();
            out += "\r\n ";
            column = 1;
            continue;
        }
        const std::string word = std::string(kWordStart) + Base64(JisBytes(chars, begin, end)) + std::string(kWordEnd);
        out += word;
        column += word.size();
        begin = end;
        if (begin < chars.size()) {
            out += "\r\n ";
            column = 1;
        }
    }
}

}  // namespace

std::string Cp932ToJis(std::string_view cp932) {
    const std::vector<JisChar> chars = Characters(cp932);
    return JisBytes(chars, 0, chars.size());
}

std::string EncodeHeaderText(std::string_view cp932, std::size_t column) {
    if (PrintableAscii(cp932)) return std::string(cp932);
    std::string out;
    AppendWords(cp932, out, column);
    return out;
}

std::string EncodeAddressList(std::string_view cp932, std::size_t column) {
    if (PrintableAscii(cp932)) return std::string(cp932);
    std::string out;
    std::size_t start = 0;
    while (start <= cp932.size()) {
        // One address: up to a comma outside quotes and angle brackets.
        std::size_t end = start;
        bool quoted = false;
        bool angle = false;
        for (; end < cp932.size(); ++end) {
            const char ch = cp932[end];
            if (ch == '"')
                quoted = !quoted;
            else if (!quoted && ch == '<')
                angle = true;
            else if (!quoted && ch == '>')
                angle = false;
            else if (!quoted && !angle && ch == ',')
                break;
        }
        const std::string_view piece = cp932.substr(start, end - start);
        std::size_t lt = std::string_view::npos;
        quoted = false;
        for (std::size_t k = 0; k < piece.size(); ++k) {
            if (piece[k] == '"') quoted = !quoted;
            if (piece[k] == '<' && !quoted) {
                lt = k;
                break;
            }
        }
        std::string_view name = lt == std::string_view::npos ? std::string_view{} : piece.substr(0, lt);
        if (lt == std::string_view::npos || PrintableAscii(name)) {
            out += piece;
            column += piece.size();
        } else {
            std::size_t lead = 0;
            while (lead < name.size() && (name[lead] == ' ' || name[lead] == '\t')) ++lead;
            out += name.substr(0, lead);
            column += lead;
            name.remove_prefix(lead);
            while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
            if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
            AppendWords(name, out, column);
            const std::string_view address = piece.substr(lt);
            if (column + 1 + address.size() > kMaxLine) {
                out += "\r\n ";
                column = 1;
            } else {
                out += ' ';
                column += 1;
            }
            out += address;
            column += address.size();
        }
        if (end >= cp932.size()) break;
        out += ',';
        column += 1;
        start = end + 1;
    }
    return out;
}

std::string Utf8ToCp932ForMail(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        if (b < 0x80) {
            out += static_cast<char>(b);
            ++i;
            continue;
        }
        std::size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        if (len == 1 || i + len > utf8.size()) {
            out += kGetaCp932;
            ++i;
            continue;
        }
        const std::string_view one = utf8.substr(i, len);
        const std::string converted = Utf8ToCp932(one);
        // A '?' here is the converter's mark: the character was not ASCII.
        if (converted == "?") {
            out += kGetaCp932;  // a whole character CP932 lacks
            i += len;
            continue;
        }
        if (converted.empty() || converted.find('?') != std::string::npos) {
            out += kGetaCp932;  // a broken sequence: one bad byte, then go on
            ++i;
            continue;
        }
        out += converted;
        i += len;
    }
    return out;
}
