#include "accounts/account.h"
#include "core/pop3_session.h"
#include "core/rules.h"
#include "texts/texts.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr std::uint8_t kRuleMarks = kMarkJunk | kMarkFriend;

// A catalogue text with %1 and %2 filled in, for the log (Shift_JIS).
std::string LogLine(std::string_view text, const std::string& name, std::int32_t number) {
    std::string line(text);
    if (std::size_t at = line.find("%1"); at != std::string::npos) line.replace(at, 2, name);
    if (std::size_t at = line.find("%2"); at != std::string::npos) line.replace(at, 2, std::to_string(number));
    return texts::Cp932(line);
}

}  // namespace

void Pop3Session::JudgeEntries(std::size_t first, std::size_t count) {
    const Account& account = owner_.CurrentAccount();
    if (!account.popOptions.Test(POPApplyRules)) return;
    const RuleSet* rules = owner_.Rules();
    const bool decodeMime = account.popOptions.Test(POPDecodeMime);
    const std::size_t end = std::min(first + count, mailbox_.Count());
    std::size_t changedFirst = end, changedLast = first;
    for (std::size_t i = first; i < end; ++i) {
        RuleSet::Verdict verdict;
        if (rules && rules->Count() > 0) {
            RuleMessage message;
            message.size = mailbox_.Size(i);
            message.hasHeader = mailbox_.Filled(i);
            message.header = mailbox_.Header(i);
            message.from = mailbox_.Sender(i);
            message.subject = mailbox_.Subject(i);
            message.decodeMime = decodeMime;
            verdict = rules->Judge(message);
            for (std::uint32_t rule : verdict.gaveUp)
                owner_.AppendLog(LogLine(texts::rules::kGaveUpLog, rules->Name(rule), mailbox_.Number(i)));
            if (verdict.outOfTime) owner_.AppendLog(LogLine(texts::rules::kOutOfTimeLog, {}, mailbox_.Number(i)));
        }
        const std::uint8_t flags = static_cast<std::uint8_t>((mailbox_.Flags(i) & ~kRuleMarks) | verdict.marks);
        if (flags == mailbox_.Flags(i) && verdict.junkRule == mailbox_.JunkRule(i)) continue;
        mailbox_.SetFlags(i, flags);
        mailbox_.SetJunkRule(i, verdict.junkRule);
        changedFirst = std::min(changedFirst, i);
        changedLast = std::max(changedLast, i);
    }
    if (changedFirst < end) mailbox_.NotifyMarked(changedFirst, changedLast - changedFirst + 1);
}

void Pop3Session::JudgeAllEntries() {
    JudgeEntries(0, mailbox_.Count());
}
