// UIDL after the listing and the marks of new mail: the messages whose
// unique id was not among those the account's last complete check listed.
// Used only with the account's POPMarkNew bit.

#include "core/session_uidl.h"

#include "core/pop3_session.h"

#include <charconv>
#include <string>
#include <unordered_set>

namespace {

constexpr char kMultiLineEnd[] = "\r\n.\r\n";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

std::optional<std::vector<UniqueIdLine>> ParseUniqueIds(std::string_view rest) {
    std::vector<UniqueIdLine> lines;
    std::size_t pos = rest.find('\n');
    if (pos == std::string_view::npos) return lines;
    ++pos;
    while (pos < rest.size()) {
        std::size_t eol = rest.find('\n', pos);
        const std::size_t end = eol == std::string_view::npos ? rest.size() : eol;
        std::string_view line = rest.substr(pos, end - pos);
        pos = eol == std::string_view::npos ? rest.size() : eol + 1;
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line == ".") break;
        UniqueIdLine entry;
        const auto [next, error] = std::from_chars(line.data(), line.data() + line.size(), entry.number);
        if (error != std::errc() || next == line.data() || entry.number <= 0) return std::nullopt;
        std::size_t at = static_cast<std::size_t>(next - line.data());
        if (at >= line.size() || !IsBlank(line[at])) return std::nullopt;
        while (at < line.size() && IsBlank(line[at])) ++at;
        std::size_t idEnd = at;
        while (idEnd < line.size() && !IsBlank(line[idEnd])) ++idEnd;
        entry.id = line.substr(at, idEnd - at);
        for (std::size_t i = idEnd; i < line.size(); ++i)
            if (!IsBlank(line[i])) return std::nullopt;
        if (!IsUniqueId(entry.id)) return std::nullopt;
        lines.push_back(entry);
    }
    return lines;
}

void Pop3Session::ReadSeen() {
    seen_ = SeenIds();
    seenPending_ = false;
    const Account& account = owner_.CurrentAccount();
    if (!account.popOptions.Test(POPMarkNew)) return;
    const std::string directory = seenDirectory_.empty() ? SeenIdsDirectory() : seenDirectory_;
    std::string problem;
    seen_ = SeenIds::Read(directory, account.id, problem);
    if (!problem.empty())
        owner_.AppendLog("Seen list of this account not read (" + problem + "): every message counts as new.");
}

bool Pop3Session::AskUniqueIds() {
    const Account& account = owner_.CurrentAccount();
    if (!account.popOptions.Test(POPMarkNew)) return false;
    if (stopRequested_) {
        SetState(SessionState::Ready);
        return true;
    }
    const bool headers = messageCount_ > 0 && !mailbox_.Empty() && account.popOptions.Test(POPReadHeader);
    if (!pipelining_ || !headers) {
        SendCommand(SessionState::UidlSent, "UIDL", kMultiLineEnd);
        return true;
    }
    // Pipelined: UIDL leads the window and the header requests follow it
    // without waiting for its answer.
    headerIndex_ = 0;
    nextHeader_ = 0;
    connection_.SetPipelined(true);
    SetState(SessionState::UidlSent);
    connection_.SetTerminator(kMultiLineEnd);
    std::string command = "UIDL\r\n";
    window_.Push({SessionState::UidlSent, -1, std::string(), command.size(), false});
    connection_.Send(std::vector<std::string>{std::move(command)});
    FillHeaderWindow();
    return true;
}

void Pop3Session::OnUniqueIds(bool ok, const std::string& rest) {
    if (!ok) {
        owner_.AppendLog("UIDL refused: no message is marked new, and the seen list stays as it was.");
        return;
    }
    const std::optional<std::vector<UniqueIdLine>> lines = ParseUniqueIds(rest);
    if (!lines) {
        owner_.AppendLog("UIDL reply not understood: no message is marked new, and the seen list stays as it was.");
        return;
    }
    // An id given to several messages identifies none of them after the
    // first: the others stay without one, and so are never new.
    std::unordered_set<std::string_view> taken;
    taken.reserve(lines->size());
    for (const UniqueIdLine& line : *lines) {
        const std::optional<std::size_t> index = mailbox_.Find(line.number);
        if (!index || !mailbox_.UniqueId(*index).empty()) continue;
        if (!taken.insert(line.id).second) continue;
        mailbox_.SetUniqueId(*index, line.id);
    }
    for (std::size_t i = 0; i < mailbox_.Count(); ++i) {
        const std::string_view id = mailbox_.UniqueId(i);
        if (!id.empty() && !seen_.Contains(id))
            mailbox_.SetFlags(i, static_cast<std::uint8_t>(mailbox_.Flags(i) | kMarkNew));
    }
    mailbox_.NotifyMarked(0, mailbox_.Count());
    seenPending_ = true;
}

void Pop3Session::WriteSeen() {
    const Account& account = owner_.CurrentAccount();
    std::vector<std::string_view> ids;
    ids.reserve(mailbox_.Count());
    for (std::size_t i = 0; i < mailbox_.Count(); ++i) ids.push_back(mailbox_.UniqueId(i));
    const std::string directory = seenDirectory_.empty() ? SeenIdsDirectory() : seenDirectory_;
    std::string problem;
    if (!WriteSeenIds(directory, account.id, ids, problem)) owner_.AppendLog("Seen list not saved: " + problem + ".");
}
