#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The rule list that marks messages as junk or as from friends. One rule a
// line, fields separated by TAB:
//
//   kind<TAB>name<TAB>field<TAB>op<TAB>value
//
// kind: junk, friend. field: from-address, from, subject, to, cc,
// header:NAME, size. op: contains, is, starts, ends, regex for texts; over,
// under for size. Lines starting with '#' and blank lines are comments. A
// line that does not parse is kept as it is and ignored.
//
// Texts are compared after Unicode NFKC and case folding on both sides; a
// regex is matched as written (caseless, Unicode properties) against the
// NFKC form of the text. A from-address value starting with '@' given to
// is or ends names a domain and its subdomains.

enum class RuleKind : std::uint8_t { Junk, Friend };
enum class RuleField : std::uint8_t { FromAddress, From, Subject, To, Cc, Header, Size };
enum class RuleOp : std::uint8_t { Contains, Is, Starts, Ends, Regex, Over, Under };

struct Rule {
    RuleKind kind = RuleKind::Junk;
    std::string name;
    RuleField field = RuleField::Subject;
    std::string header;  // NAME of header:NAME, as written
    RuleOp op = RuleOp::Contains;
    std::string value;
    friend bool operator==(const Rule&, const Rule&) = default;
};

// Why a line is not a rule.
enum class RuleProblem : std::uint8_t {
    None,
    Malformed,  // not five TAB-separated fields
    BadText,    // not UTF-8, or a control character in the name or value
    UnknownKind,
    UnknownField,  // header: without a usable name included
    UnknownOp,     // or an op that does not fit the field
    EmptyValue,
    BadSize,  // not a decimal number
    BadRegex,
};

// The keywords of the file.
std::string_view RuleKindKeyword(RuleKind kind);
std::string_view RuleFieldKeyword(RuleField field);  // "header" for Header
std::string_view RuleOpKeyword(RuleOp op);

// What is wrong with a rule as it would be written; None when it is fine.
RuleProblem CheckRule(const Rule& rule);
// One line (without its line end) as a rule, or the problem.
RuleProblem ParseRuleLine(std::string_view line, Rule& rule);
// The line form of a rule.
std::string RuleLineText(const Rule& rule);

// The file as lines, so that an edit rewrites only the lines it touches
// and leaves comments and lines that do not parse where they are.
struct RuleFileLine {
    enum class Type : std::uint8_t { Comment, Rule, Invalid };
    Type type = Type::Comment;
    std::string text;                         // without its line end
    std::string end;                          // "\r\n", "\n", or "" for a last line without one
    int number = 0;                           // 1-based in the file as read; 0 for a line added since
    ::Rule rule;                              // when type is Rule
    RuleProblem problem = RuleProblem::None;  // when type is Invalid
};

class RuleFile {
public:
    // Never fails: every line is a comment, a rule or an invalid line.
    static RuleFile Parse(std::string_view text);
    // The lines joined again, each with its own line end.
    std::string Text() const;

    const std::vector<RuleFileLine>& Lines() const { return lines_; }
    // Rewrites line i as the rule (its line end kept).
    void Replace(std::size_t i, const Rule& rule);
    // A new last line; the line before it gets a line end if it had none.
    void Append(const Rule& rule);
    void Remove(std::size_t i);
    // Lines i and j trade places; the lines between stay.
    void Swap(std::size_t i, std::size_t j);

private:
    std::string NewLineEnd() const;
    std::vector<RuleFileLine> lines_;
};

// What the rules look at in one message. Texts are UTF-8; from and subject
// as the row shows them, header the raw header block (empty when the
// header was not fetched, and then only size rules are judged).
struct RuleMessage {
    std::int64_t size = 0;
    bool hasHeader = false;
    std::string_view header;
    std::string_view from;
    std::string_view subject;
    bool decodeMime = false;  // how To, Cc and header:NAME values are decoded
};

// The bare address of a From text: inside the last <> when there is one,
// otherwise the whole text, trimmed.
std::string_view RuleAddressOf(std::string_view from);
// Appends a rule "from-address is <address>" named after the address for
// each sender whose address is not empty, not a line break holder and not
// already in such a rule of that kind. Returns how many were added.
std::size_t AddSenderRules(RuleFile& file, RuleKind kind, const std::vector<std::string>& senders);

// The rules of a file compiled once, in file order.
class RuleSet {
public:
    static constexpr std::uint32_t kNoRule = 0xFFFFFFFF;
    // A row is judged by all rules within this time; rules left after it
    // count as no match.
    static constexpr int kRowBudgetMs = 40;

    RuleSet();
    explicit RuleSet(const RuleFile& file);
    ~RuleSet();
    RuleSet(RuleSet&&) noexcept;
    RuleSet& operator=(RuleSet&&) noexcept;

    std::size_t Count() const;
    const Rule& At(std::uint32_t index) const;
    // The name of rule index, or empty.
    std::string Name(std::uint32_t index) const;

    struct Verdict {
        std::uint8_t marks = 0;             // kMarkJunk or kMarkFriend (core/mailbox.h), or 0
        std::uint32_t junkRule = kNoRule;   // the first junk rule that matched, when junk
        std::vector<std::uint32_t> gaveUp;  // regex rules that hit a match limit
        bool outOfTime = false;             // the row budget ran out before every rule was tried
    };
    Verdict Judge(const RuleMessage& message) const;

private:
    struct Compiled;
    std::vector<Compiled> rules_;
    std::vector<std::string> headerNames_;  // distinct header:NAME names, lower-cased
    struct Regex;
    std::unique_ptr<Regex> regex_;  // the shared match context
};
