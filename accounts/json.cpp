#include "accounts/json.h"

#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

JsonValue JsonValue::Bool(bool value) {
    JsonValue v;
    v.kind_ = Kind::Bool;
    v.bool_ = value;
    return v;
}

JsonValue JsonValue::Number(double value) {
    JsonValue v;
    v.kind_ = Kind::Number;
    v.number_ = value;
    return v;
}

JsonValue JsonValue::String(std::string value) {
    JsonValue v;
    v.kind_ = Kind::String;
    v.string_ = std::move(value);
    return v;
}

JsonValue JsonValue::Array(std::vector<JsonValue> items) {
    JsonValue v;
    v.kind_ = Kind::Array;
    v.items_ = std::move(items);
    return v;
}

JsonValue JsonValue::Object(std::vector<Member> members) {
    JsonValue v;
    v.kind_ = Kind::Object;
    for (Member& m : members) v.Set(std::move(m.first), std::move(m.second));
    return v;
}

const JsonValue* JsonValue::Find(std::string_view name) const {
    for (const Member& m : members_) {
        if (m.first == name) return &m.second;
    }
    return nullptr;
}

JsonValue* JsonValue::Find(std::string_view name) {
    for (Member& m : members_) {
        if (m.first == name) return &m.second;
    }
    return nullptr;
}

void JsonValue::Set(std::string name, JsonValue value) {
    if (kind_ != Kind::Object) return;
    if (JsonValue* existing = Find(name)) {
        *existing = std::move(value);
    } else {
        members_.emplace_back(std::move(name), std::move(value));
    }
}

namespace {

// Deep enough for any data file; keeps hostile input off the stack.
constexpr int kMaxDepth = 64;

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    bool Document(JsonValue& value, std::string& error) {
        if (text_.starts_with("\xef\xbb\xbf")) at_ = 3;
        if (!Value(value, 0)) {
            error = Where() + error_;
            return false;
        }
        SkipSpace();
        if (at_ != text_.size()) {
            error = Where() + "unexpected text after the value";
            return false;
        }
        return true;
    }

private:
    bool Fail(const char* what) {
        if (error_.empty()) error_ = what;
        return false;
    }

    std::string Where() const {
        int line = 1;
        int column = 1;
        for (std::size_t i = 0; i < at_ && i < text_.size(); ++i) {
            if (text_[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": ";
    }

    void SkipSpace() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }

    bool Literal(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) return Fail("not a JSON value");
        at_ += word.size();
        return true;
    }

    bool Value(JsonValue& value, int depth) {
        if (depth > kMaxDepth) return Fail("nested too deeply");
        SkipSpace();
        if (at_ >= text_.size()) return Fail("unexpected end of text");
        switch (text_[at_]) {
            case '{':
                return ObjectValue(value, depth);
            case '[':
                return ArrayValue(value, depth);
            case '"': {
                std::string s;
                if (!StringValue(s)) return false;
                value = JsonValue::String(std::move(s));
                return true;
            }
            case 't':
                value = JsonValue::Bool(true);
                return Literal("true");
            case 'f':
                value = JsonValue::Bool(false);
                return Literal("false");
            case 'n':
                value = JsonValue();
                return Literal("null");
            default:
                return NumberValue(value);
        }
    }

    bool ObjectValue(JsonValue& value, int depth) {
        ++at_;  // '{'
        value = JsonValue::Object();
        SkipSpace();
        if (at_ < text_.size() && text_[at_] == '}') {
            ++at_;
            return true;
        }
        for (;;) {
            SkipSpace();
            if (at_ >= text_.size() || text_[at_] != '"') return Fail("expected a member name in quotes");
            std::string name;
            if (!StringValue(name)) return false;
            SkipSpace();
            if (at_ >= text_.size() || text_[at_] != ':') return Fail("expected ':' after the member name");
            ++at_;
            JsonValue member;
            if (!Value(member, depth + 1)) return false;
            value.Set(std::move(name), std::move(member));
            SkipSpace();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == '}') {
                ++at_;
                return true;
            }
            return Fail("expected ',' or '}' in an object");
        }
    }

    bool ArrayValue(JsonValue& value, int depth) {
        ++at_;  // '['
        value = JsonValue::Array();
        SkipSpace();
        if (at_ < text_.size() && text_[at_] == ']') {
            ++at_;
            return true;
        }
        for (;;) {
            JsonValue item;
            if (!Value(item, depth + 1)) return false;
            value.Items().push_back(std::move(item));
            SkipSpace();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == ']') {
                ++at_;
                return true;
            }
            return Fail("expected ',' or ']' in an array");
        }
    }

    bool Hex4(unsigned& code) {
        if (at_ + 4 > text_.size()) return Fail("short \\u escape");
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            code <<= 4;
            if (c >= '0' && c <= '9') {
                code |= static_cast<unsigned>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                code |= static_cast<unsigned>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                code |= static_cast<unsigned>(c - 'A' + 10);
            } else {
                return Fail("bad \\u escape");
            }
        }
        return true;
    }

    static void AppendUtf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xc0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3f));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xe0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (code & 0x3f));
        } else {
            out += static_cast<char>(0xf0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (code & 0x3f));
        }
    }

    bool StringValue(std::string& out) {
        ++at_;  // '"'
        for (;;) {
            if (at_ >= text_.size()) return Fail("unterminated string");
            const char c = text_[at_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return Fail("control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) return Fail("unterminated string");
            const char e = text_[at_++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out += e;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    unsigned code = 0;
                    if (!Hex4(code)) return false;
                    if (code >= 0xd800 && code < 0xdc00) {
                        unsigned low = 0;
                        if (text_.substr(at_, 2) != "\\u") return Fail("lone surrogate in \\u escape");
                        at_ += 2;
                        if (!Hex4(low)) return false;
                        if (low < 0xdc00 || low >= 0xe000) return Fail("lone surrogate in \\u escape");
                        code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
                    } else if (code >= 0xdc00 && code < 0xe000) {
                        return Fail("lone surrogate in \\u escape");
                    }
                    AppendUtf8(out, code);
                    break;
                }
                default:
                    return Fail("bad escape in a string");
            }
        }
    }

    bool NumberValue(JsonValue& value) {
        const std::size_t start = at_;
        auto digits = [&] {
            const std::size_t from = at_;
            while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
            return at_ > from;
        };
        if (at_ < text_.size() && text_[at_] == '-') ++at_;
        if (at_ < text_.size() && text_[at_] == '0') {
            ++at_;
        } else if (!digits()) {
            return Fail("not a JSON value");
        }
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            if (!digits()) return Fail("bad number");
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
            if (!digits()) return Fail("bad number");
        }
        // from_chars ignores the locale, which may use ',' as its decimal point.
        double d = 0;
        const char* first = text_.data() + start;
        const auto [end, ec] = std::from_chars(first, text_.data() + at_, d);
        if (ec != std::errc() || end != text_.data() + at_ || !std::isfinite(d)) return Fail("number out of range");
        value = JsonValue::Number(d);
        return true;
    }

    std::string_view text_;
    std::size_t at_ = 0;
    std::string error_;
};

}  // namespace

bool ParseJson(std::string_view text, JsonValue& value, std::string& error) {
    Parser parser(text);
    JsonValue result;
    if (!parser.Document(result, error)) return false;
    value = std::move(result);
    return true;
}
