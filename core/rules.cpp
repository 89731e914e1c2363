#include "core/rules.h"

#include "core/mailbox.h"
#include "mime/encoded_word.h"
#include "mime/mime_header.h"
#include "platform/cp932.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <chrono>
#include <limits>

namespace {

// Enough for any sane pattern on a header text; a pattern that needs more
// is backtracking without end, and is given up on for that row.
constexpr std::uint32_t kMatchLimit = 200000;
constexpr std::uint32_t kDepthLimit = 5000;
constexpr std::uint32_t kHeapLimitKiB = 8192;
// Of one header value the rules look at this much: a hostile megabyte of
// Subject must not make every rule scan it.
constexpr std::size_t kValueLimit = 64 * 1024;

constexpr std::string_view kHeaderPrefix = "header:";

const std::string_view kKinds[] = {"junk", "friend"};
const std::string_view kFields[] = {"from-address", "from", "subject", "to", "cc", "header", "size"};
const std::string_view kOps[] = {"contains", "is", "starts", "ends", "regex", "over", "under"};

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    while (i < text.size()) {
        const unsigned char c = byte(i);
        std::size_t n = 0;
        std::uint32_t min = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            n = 1, min = 0x80, cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            n = 2, min = 0x800, cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            n = 3, min = 0x10000, cp = c & 0x07;
        } else {
            return false;
        }
        for (std::size_t k = 1; k <= n; ++k) {
            if (i + k >= text.size() || (byte(i + k) & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (byte(i + k) & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n + 1;
    }
    return true;
}

bool HasControl(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
}

std::string_view TrimBlanks(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// NFKC, with case folding when fold is set. Bytes that are not UTF-8 become
// U+FFFD; nothing fails.
std::string Normalized(std::string_view utf8, bool fold) {
    if (IsAscii(utf8)) return fold ? AsciiLower(utf8) : std::string(utf8);
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* normalizer = fold ? unorm2_getNFKCCasefoldInstance(&status) : unorm2_getNFKCInstance(&status);
    if (U_FAILURE(status) || utf8.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max() / 4))
        return std::string(utf8);
    std::u16string wide(utf8.size() + 1, u'\0');
    int32_t wideLength = 0;
    u_strFromUTF8WithSub(wide.data(), static_cast<int32_t>(wide.size()), &wideLength, utf8.data(),
                         static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) return std::string(utf8);
    std::u16string normal(static_cast<std::size_t>(wideLength) * 3 + 16, u'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        status = U_ZERO_ERROR;
        const int32_t length = unorm2_normalize(normalizer, wide.data(), wideLength, normal.data(),
                                                static_cast<int32_t>(normal.size()), &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            normal.assign(static_cast<std::size_t>(length) + 1, u'\0');
            continue;
        }
        if (U_FAILURE(status)) return std::string(utf8);
        normal.resize(static_cast<std::size_t>(length));
        break;
    }
    std::string out(normal.size() * 3 + 1, '\0');
    int32_t outLength = 0;
    status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &outLength, normal.data(),
                       static_cast<int32_t>(normal.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) return std::string(utf8);
    out.resize(static_cast<std::size_t>(outLength));
    return out;
}

std::string_view AddressOf(std::string_view from) {
    const std::size_t open = from.rfind('<');
    if (open != std::string_view::npos) {
        const std::size_t close = from.find('>', open + 1);
        if (close != std::string_view::npos) return TrimBlanks(from.substr(open + 1, close - open - 1));
    }
    return TrimBlanks(from);
}

bool IsHeaderName(std::string_view name) {
    if (name.empty()) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u > 0x20 && u < 0x7F && c != ':';
    });
}

bool IsDecimal(std::string_view text) {
    return !text.empty() && text.size() <= 18 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::int64_t DecimalValue(std::string_view text) {
    std::int64_t value = 0;
    for (char c : text) value = value * 10 + (c - '0');
    return value;
}

template <typename T, std::size_t N>
std::optional<T> Keyword(const std::string_view (&words)[N], std::string_view word) {
    for (std::size_t i = 0; i < N; ++i)
        if (words[i] == word) return static_cast<T>(i);
    return std::nullopt;
}

struct CodeDeleter {
    void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
using Code = std::unique_ptr<pcre2_code, CodeDeleter>;

Code CompileRegex(std::string_view pattern) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    Code code(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                            PCRE2_UTF | PCRE2_UCP | PCRE2_CASELESS, &error, &offset, nullptr));
    if (code) pcre2_jit_compile(code.get(), PCRE2_JIT_COMPLETE);  // interpreted when JIT is not there
    return code;
}

}  // namespace

std::string_view RuleKindKeyword(RuleKind kind) {
    return kKinds[static_cast<std::size_t>(kind)];
}
std::string_view RuleFieldKeyword(RuleField field) {
    return kFields[static_cast<std::size_t>(field)];
}
std::string_view RuleOpKeyword(RuleOp op) {
    return kOps[static_cast<std::size_t>(op)];
}

RuleProblem CheckRule(const Rule& rule) {
    if (!IsValidUtf8(rule.name) || !IsValidUtf8(rule.value) || HasControl(rule.name) || HasControl(rule.value))
        return RuleProblem::BadText;
    if (rule.field == RuleField::Header && !IsHeaderName(rule.header)) return RuleProblem::UnknownField;
    const bool sizeOp = rule.op == RuleOp::Over || rule.op == RuleOp::Under;
    if ((rule.field == RuleField::Size) != sizeOp) return RuleProblem::UnknownOp;
    if (rule.value.empty()) return RuleProblem::EmptyValue;
    if (rule.field == RuleField::Size && !IsDecimal(rule.value)) return RuleProblem::BadSize;
    if (rule.op == RuleOp::Regex && !CompileRegex(rule.value)) return RuleProblem::BadRegex;
    return RuleProblem::None;
}

namespace {

// The parse without the regex compile, which the caller does once.
RuleProblem ParseFields(std::string_view line, Rule& rule) {
    std::string_view parts[5];
    for (int i = 0; i < 4; ++i) {
        const std::size_t tab = line.find('\t');
        if (tab == std::string_view::npos) return RuleProblem::Malformed;
        parts[i] = line.substr(0, tab);
        line.remove_prefix(tab + 1);
    }
    parts[4] = line;
    const std::optional<RuleKind> kind = Keyword<RuleKind>(kKinds, parts[0]);
    if (!kind) return RuleProblem::UnknownKind;
    std::optional<RuleField> field;
    std::string_view header;
    if (parts[2].starts_with(kHeaderPrefix)) {
        field = RuleField::Header;
        header = parts[2].substr(kHeaderPrefix.size());
    } else if (parts[2] != "header") {
        field = Keyword<RuleField>(kFields, parts[2]);
    }
    if (!field) return RuleProblem::UnknownField;
    const std::optional<RuleOp> op = Keyword<RuleOp>(kOps, parts[3]);
    if (!op) return RuleProblem::UnknownOp;
    rule = Rule{*kind, std::string(parts[1]), *field, std::string(header), *op, std::string(parts[4])};
    return RuleProblem::None;
}

RuleProblem CheckWithoutRegex(const Rule& rule) {
    Rule plain = rule;
    if (plain.op == RuleOp::Regex) plain.op = RuleOp::Contains;
    return CheckRule(plain);
}

}  // namespace

RuleProblem ParseRuleLine(std::string_view line, Rule& rule) {
    Rule parsed;
    RuleProblem problem = ParseFields(line, parsed);
    if (problem == RuleProblem::None) problem = CheckRule(parsed);
    if (problem == RuleProblem::None) rule = std::move(parsed);
    return problem;
}

std::string RuleLineText(const Rule& rule) {
    std::string line(RuleKindKeyword(rule.kind));
    line += '\t';
    line += rule.name;
    line += '\t';
    if (rule.field == RuleField::Header)
        line += std::string(kHeaderPrefix) + rule.header;
    else
        line += RuleFieldKeyword(rule.field);
    line += '\t';
    line += RuleOpKeyword(rule.op);
    line += '\t';
    line += rule.value;
    return line;
}

std::string_view RuleAddressOf(std::string_view from) {
    return AddressOf(from);
}

std::size_t AddSenderRules(RuleFile& file, RuleKind kind, const std::vector<std::string>& senders) {
    std::size_t added = 0;
    for (const std::string& sender : senders) {
        const Rule rule{kind,       std::string(AddressOf(sender)), RuleField::FromAddress, {},
                        RuleOp::Is, std::string(AddressOf(sender))};
        if (CheckRule(rule) != RuleProblem::None) continue;
        const bool known = std::any_of(file.Lines().begin(), file.Lines().end(), [&](const RuleFileLine& line) {
            return line.type == RuleFileLine::Type::Rule && line.rule.kind == kind &&
                   line.rule.field == RuleField::FromAddress && line.rule.op == RuleOp::Is &&
                   Normalized(line.rule.value, true) == Normalized(rule.value, true);
        });
        if (known) continue;
        file.Append(rule);
        ++added;
    }
    return added;
}

// --- the file ------------------------------------------------------------------

RuleFile RuleFile::Parse(std::string_view text) {
    RuleFile file;
    int number = 0;
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t lf = text.find('\n', from);
        RuleFileLine line;
        line.number = ++number;
        std::string_view body = text.substr(from, lf == std::string_view::npos ? std::string_view::npos : lf - from);
        if (lf != std::string_view::npos) {
            line.end = "\n";
            if (!body.empty() && body.back() == '\r') {
                body.remove_suffix(1);
                line.end = "\r\n";
            }
        }
        line.text = std::string(body);
        // A byte order mark, as some editors write, is kept but not read.
        if (number == 1 && body.starts_with("\xEF\xBB\xBF")) body.remove_prefix(3);
        const std::string_view trimmed = TrimBlanks(body);
        if (trimmed.empty() || body.front() == '#') {
            line.type = RuleFileLine::Type::Comment;
        } else {
            line.problem = ParseFields(body, line.rule);
            if (line.problem == RuleProblem::None) line.problem = CheckWithoutRegex(line.rule);
            line.type = line.problem == RuleProblem::None ? RuleFileLine::Type::Rule : RuleFileLine::Type::Invalid;
            if (line.type == RuleFileLine::Type::Invalid) line.rule = Rule{};
        }
        file.lines_.push_back(std::move(line));
        if (lf == std::string_view::npos) break;
        from = lf + 1;
    }
    return file;
}

std::string RuleFile::Text() const {
    std::string text;
    for (const RuleFileLine& line : lines_) {
        text += line.text;
        text += line.end;
    }
    return text;
}

std::string RuleFile::NewLineEnd() const {
    for (const RuleFileLine& line : lines_)
        if (!line.end.empty()) return line.end;
    return "\n";
}

void RuleFile::Replace(std::size_t i, const Rule& rule) {
    if (i >= lines_.size()) return;
    RuleFileLine& line = lines_[i];
    line.type = RuleFileLine::Type::Rule;
    line.text = RuleLineText(rule);
    line.rule = rule;
    line.problem = RuleProblem::None;
}

void RuleFile::Append(const Rule& rule) {
    const std::string end = NewLineEnd();
    if (!lines_.empty() && lines_.back().end.empty()) lines_.back().end = end;
    RuleFileLine line;
    line.type = RuleFileLine::Type::Rule;
    line.text = RuleLineText(rule);
    line.end = end;
    line.rule = rule;
    lines_.push_back(std::move(line));
}

void RuleFile::Remove(std::size_t i) {
    if (i < lines_.size()) lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
}

void RuleFile::Swap(std::size_t i, std::size_t j) {
    if (i >= lines_.size() || j >= lines_.size() || i == j) return;
    // The line ends stay in their places, so a last line without one stays last.
    std::swap(lines_[i].end, lines_[j].end);
    std::swap(lines_[i], lines_[j]);
}

// --- judging ---------------------------------------------------------------------

struct RuleSet::Compiled {
    Rule rule;
    std::string folded;  // the value in NFKC with case folding; a domain without its '@'
    std::string dotted;  // "." and the domain
    bool domain = false;
    std::int64_t size = 0;
    std::uint32_t slot = 0;  // which text of the message
    Code code;
};

struct RuleSet::Regex {
    pcre2_match_context* context = nullptr;
    Regex() {
        context = pcre2_match_context_create(nullptr);
        if (context) {
            pcre2_set_match_limit(context, kMatchLimit);
            pcre2_set_depth_limit(context, kDepthLimit);
            pcre2_set_heap_limit(context, kHeapLimitKiB);
        }
    }
    ~Regex() { pcre2_match_context_free(context); }
};

namespace {

enum Slot : std::uint32_t { kFromAddress, kFrom, kSubject, kTo, kCc, kFirstHeader };

// The texts of one message, each made once, and only when a rule asks.
class MessageTexts {
public:
    MessageTexts(const RuleMessage& message, const std::vector<std::string>& headerNames)
        : message_(message), headerNames_(headerNames), slots_(kFirstHeader + headerNames.size()) {}

    const std::vector<std::string>& Folded(std::uint32_t slot) {
        Slot_& s = slots_[slot];
        if (!s.folded) {
            s.folded.emplace();
            for (const std::string& value : Values(slot)) s.folded->push_back(Normalized(value, true));
        }
        return *s.folded;
    }
    const std::vector<std::string>& Nfkc(std::uint32_t slot) {
        Slot_& s = slots_[slot];
        if (!s.nfkc) {
            s.nfkc.emplace();
            for (const std::string& value : Values(slot)) s.nfkc->push_back(Normalized(value, false));
        }
        return *s.nfkc;
    }

private:
    struct Slot_ {
        std::optional<std::vector<std::string>> values, folded, nfkc;
    };

    static std::string Clipped(std::string_view text) {
        text = TrimBlanks(text);
        if (text.size() > kValueLimit) {
            // Not in the middle of a character.
            std::size_t end = kValueLimit;
            while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
            text = text.substr(0, end);
        }
        return std::string(text);
    }

    const std::vector<std::string>& Values(std::uint32_t slot) {
        Slot_& s = slots_[slot];
        if (s.values) return *s.values;
        s.values.emplace();
        switch (slot) {
            case kFromAddress:
                s.values->push_back(Clipped(AddressOf(message_.from)));
                break;
            case kFrom:
                s.values->push_back(Clipped(message_.from));
                break;
            case kSubject:
                s.values->push_back(Clipped(message_.subject));
                break;
            default: {
                const std::string_view name = slot == kTo   ? std::string_view("to")
                                              : slot == kCc ? std::string_view("cc")
                                                            : std::string_view(headerNames_[slot - kFirstHeader]);
                for (const MimeField& field : Fields().fields) {
                    if (field.name.size() != name.size() || AsciiLower(field.name) != name) continue;
                    s.values->push_back(Clipped(Decoded(field.value)));
                }
                break;
            }
        }
        return *s.values;
    }

    std::string Decoded(const std::string& value) const {
        if (message_.decodeMime) return DecodeHeaderText(value);
        // As the list decodes without MIME: ISO-2022-JP words to Shift_JIS.
        std::string text = value;
        DecodeEncodedWords(text);
        return Cp932ToUtf8(text);
    }

    const MimeHeader& Fields() {
        if (!fields_) {
            fields_.emplace();
            ParseMimeHeader(DotUnstuff(message_.header), 0, true, *fields_);
        }
        return *fields_;
    }

    const RuleMessage& message_;
    const std::vector<std::string>& headerNames_;
    std::vector<Slot_> slots_;
    std::optional<MimeHeader> fields_;
};

bool TextMatches(RuleOp op, bool domain, const std::string& value, const std::string& dotted, std::string_view text) {
    if (domain) {
        const std::size_t at = text.rfind('@');
        if (at == std::string_view::npos) return false;
        const std::string_view host = text.substr(at + 1);
        return host == value || host.ends_with(dotted);
    }
    switch (op) {
        case RuleOp::Contains:
            return text.find(value) != std::string_view::npos;
        case RuleOp::Is:
            return text == value;
        case RuleOp::Starts:
            return text.starts_with(value);
        case RuleOp::Ends:
            return text.ends_with(value);
        default:
            return false;
    }
}

}  // namespace

RuleSet::RuleSet() : regex_(std::make_unique<Regex>()) {}

RuleSet::RuleSet(const RuleFile& file) : RuleSet() {
    for (const RuleFileLine& line : file.Lines()) {
        if (line.type != RuleFileLine::Type::Rule) continue;
        Compiled compiled;
        compiled.rule = line.rule;
        const Rule& rule = compiled.rule;
        if (rule.op == RuleOp::Regex) {
            compiled.code = CompileRegex(rule.value);
            if (!compiled.code) continue;  // read with the regex unchecked: it does not count
        }
        switch (rule.field) {
            case RuleField::FromAddress:
                compiled.slot = kFromAddress;
                break;
            case RuleField::From:
                compiled.slot = kFrom;
                break;
            case RuleField::Subject:
                compiled.slot = kSubject;
                break;
            case RuleField::To:
                compiled.slot = kTo;
                break;
            case RuleField::Cc:
                compiled.slot = kCc;
                break;
            case RuleField::Header: {
                const std::string name = AsciiLower(rule.header);
                auto it = std::find(headerNames_.begin(), headerNames_.end(), name);
                if (it == headerNames_.end()) it = headerNames_.insert(headerNames_.end(), name);
                compiled.slot = kFirstHeader + static_cast<std::uint32_t>(it - headerNames_.begin());
                break;
            }
            case RuleField::Size:
                compiled.size = DecimalValue(rule.value);
                break;
        }
        compiled.domain = rule.field == RuleField::FromAddress && rule.value.starts_with('@') &&
                          (rule.op == RuleOp::Is || rule.op == RuleOp::Ends);
        compiled.folded = Normalized(compiled.domain ? std::string_view(rule.value).substr(1) : rule.value, true);
        compiled.dotted = "." + compiled.folded;
        rules_.push_back(std::move(compiled));
    }
}

RuleSet::~RuleSet() = default;
RuleSet::RuleSet(RuleSet&&) noexcept = default;
RuleSet& RuleSet::operator=(RuleSet&&) noexcept = default;

std::size_t RuleSet::Count() const {
    return rules_.size();
}

const Rule& RuleSet::At(std::uint32_t index) const {
    return rules_.at(index).rule;
}

std::string RuleSet::Name(std::uint32_t index) const {
    return index < rules_.size() ? rules_[index].rule.name : std::string();
}

RuleSet::Verdict RuleSet::Judge(const RuleMessage& message) const {
    Verdict verdict;
    MessageTexts texts(message, headerNames_);
    pcre2_match_data* data = nullptr;
    const auto start = std::chrono::steady_clock::now();
    const auto budget = std::chrono::milliseconds(kRowBudgetMs);
    bool friendFound = false;
    for (std::uint32_t i = 0; i < rules_.size() && !friendFound; ++i) {
        const Compiled& c = rules_[i];
        // Once a junk rule names the reason only a friend rule can change it.
        if (c.rule.kind == RuleKind::Junk && verdict.junkRule != kNoRule) continue;
        if (c.rule.field != RuleField::Size && !message.hasHeader) continue;
        if ((i % 64 == 0 || c.code) && std::chrono::steady_clock::now() - start > budget) {
            verdict.outOfTime = true;
            break;
        }
        bool match = false;
        if (c.rule.field == RuleField::Size) {
            match = c.rule.op == RuleOp::Over ? message.size > c.size : message.size < c.size;
        } else if (c.code) {
            if (!data) data = pcre2_match_data_create(1, nullptr);
            for (const std::string& text : texts.Nfkc(c.slot)) {
                const int rc = pcre2_match(c.code.get(), reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0, 0,
                                           data, regex_ ? regex_->context : nullptr);
                if (rc >= 0) {
                    match = true;
                    break;
                }
                if (rc != PCRE2_ERROR_NOMATCH) {
                    // A limit, or anything else that stopped it: no match here.
                    verdict.gaveUp.push_back(i);
                    break;
                }
            }
        } else {
            for (const std::string& text : texts.Folded(c.slot)) {
                if (TextMatches(c.rule.op, c.domain, c.folded, c.dotted, text)) {
                    match = true;
                    break;
                }
            }
        }
        if (!match) continue;
        if (c.rule.kind == RuleKind::Friend)
            friendFound = true;
        else
            verdict.junkRule = i;
    }
    if (data) pcre2_match_data_free(data);
    if (friendFound) {
        verdict.marks = kMarkFriend;
        verdict.junkRule = kNoRule;
    } else if (verdict.junkRule != kNoRule) {
        verdict.marks = kMarkJunk;
    }
    return verdict;
}
