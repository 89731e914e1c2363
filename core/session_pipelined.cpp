// The pipelined parts of the POP3 session: the header fetch and deleting
// several messages with a window of commands in flight. Used only when the
// account allows it and the server listed PIPELINING in its CAPA reply.

#include "core/pop3_session.h"

#include "core/reply.h"

#include <charconv>
#include <string_view>
#include <vector>

namespace {

constexpr char kLineEnd[] = "\r\n";
constexpr char kMultiLineEnd[] = "\r\n.\r\n";

const char* TerminatorFor(SessionState state) {
    return state == SessionState::DeleSent ? kLineEnd : kMultiLineEnd;
}

}  // namespace

void Pop3Session::StartHeaderWindow() {
    nextHeader_ = 0;
    connection_.SetPipelined(true);
    FillHeaderWindow();
    if (window_.Empty()) FinishWindow(SessionState::TopSent);
}

void Pop3Session::StartDeleteWindow() {
    deleRefused_ = false;
    connection_.SetPipelined(true);
    FillDeleteWindow();
    if (window_.Empty()) FinishWindow(SessionState::DeleSent);
}

void Pop3Session::FillHeaderWindow() {
    if (stopRequested_ || !window_.WantsRefill()) return;
    const Account& account = owner_.CurrentAccount();
    std::vector<std::string> commands;
    while (static_cast<std::size_t>(nextHeader_) < mailbox_.Count()) {
        std::string number = std::to_string(mailbox_.Number(static_cast<std::size_t>(nextHeader_)));
        bool top = account.popOptions.Test(POPUseTop);
        std::string command = top ? "TOP " + number + " 0" : "RETR " + number;
        command += kLineEnd;
        if (!window_.HasRoomFor(command.size())) break;
        SessionState state = top ? SessionState::TopSent : SessionState::RetrHeaderSent;
        if (window_.Empty()) {
            SetState(state);
            connection_.SetTerminator(kMultiLineEnd);
        }
        window_.Push({state, nextHeader_, std::move(number), command.size(), false});
        ++nextHeader_;
        commands.push_back(std::move(command));
    }
    if (!commands.empty()) connection_.Send(commands);
}

void Pop3Session::FillDeleteWindow() {
    if (stopRequested_ || !window_.WantsRefill()) return;
    std::vector<std::string> commands;
    while (!deleQueue_.empty()) {
        std::string number = std::to_string(deleQueue_.front());
        std::string command = "DELE " + number + kLineEnd;
        if (!window_.HasRoomFor(command.size())) break;
        if (window_.Empty()) {
            SetState(SessionState::DeleSent);
            connection_.SetTerminator(kLineEnd);
        }
        window_.Push({SessionState::DeleSent, -1, std::move(number), command.size(), false});
        deleQueue_.pop_front();
        commands.push_back(std::move(command));
    }
    if (!commands.empty()) connection_.Send(commands);
}

void Pop3Session::OnWindowReply(const std::string& reply) {
    CommandWindow::Entry entry = window_.Pop();
    std::string rest;
    const bool ok = ClassifyReply(reply, rest) != ReplyStatus::Negative;
    const bool header = entry.state != SessionState::DeleSent;
    // One entry per reply, as it came over the wire; a negative reply is
    // its status line alone.
    owner_.AppendLog(reply + (header && ok ? kMultiLineEnd : kLineEnd));

    bool fill = false;
    if (entry.state == SessionState::UidlSent) {
        OnUniqueIds(ok, rest);
        FillHeaderWindow();
    } else if (!header) {
        if (ok) {
            std::int32_t number = 0;
            std::from_chars(entry.number.data(), entry.number.data() + entry.number.size(), number);
            if (std::optional<std::size_t> index = mailbox_.Find(number)) mailbox_.Remove(*index);
        } else {
            deleRefused_ = true;  // the row stays, still selected
        }
        FillDeleteWindow();
    } else if (!entry.discard) {
        headerIndex_ = entry.row;
        if (ok) {
            fill = true;
        } else if (entry.state == SessionState::TopSent) {
            // The server does not know TOP: this row and every later one by
            // RETR, the TOPs behind it included.
            owner_.CurrentAccount().popOptions.Clear(POPUseTop);
            window_.DiscardAll();
            nextHeader_ = entry.row;
        } else {
            // A refused RETR ends the fetch, as in the lock-step dialogue.
            window_.DiscardAll();
            nextHeader_ = static_cast<std::int32_t>(mailbox_.Count());
        }
        FillHeaderWindow();
    } else {
        FillHeaderWindow();
    }

    // The next commands are on their way before this reply is parsed.
    if (fill && entry.row >= 0) FillEntry(static_cast<std::size_t>(entry.row), rest);

    if (window_.Empty()) {
        FinishWindow(entry.state);
    } else {
        SetState(window_.Front().state);
        connection_.SetTerminator(TerminatorFor(window_.Front().state));  // and awaits the next reply
    }
}

void Pop3Session::FinishWindow(SessionState kind) {
    connection_.SetPipelined(false);
    if (kind == SessionState::DeleSent) {
        deleQueue_.clear();
        // As in the lock-step dialogue: after a refusal the selection and
        // the body pane stay as they are.
        if (!deleRefused_) owner_.DeletesFinished();
    } else {
        headerIndex_ = nextHeader_;
    }
    SetState(SessionState::Ready);
}
