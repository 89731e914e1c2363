// The pipelined parts of the POP3 session: the header fetch and deleting
// several rows with a window of commands in flight. Used only when the
// account allows it and the server listed PIPELINING in its CAPA reply.

#include "core/pop3_session.h"

#include "core/reply.h"

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
    deleQueue_.clear();
    // The rows selected now are the ones deleted, whatever the user
    // selects while the replies come in.
    for (int i = headerIndex_, count = owner_.RowCount(); i >= 0 && i < count; ++i)
        if (owner_.IsRowSelected(i)) deleQueue_.push_back(owner_.RowCaption(i));
    deleHint_ = headerIndex_;
    deleRefused_ = false;
    connection_.SetPipelined(true);
    FillDeleteWindow();
    if (window_.Empty()) FinishWindow(SessionState::DeleSent);
}

void Pop3Session::FillHeaderWindow() {
    if (stopRequested_ || !window_.WantsRefill()) return;
    const Account& account = owner_.CurrentAccount();
    std::vector<std::string> commands;
    while (nextHeader_ < owner_.RowCount()) {
        std::string number = owner_.RowCaption(nextHeader_);
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
        std::string command = "DELE " + deleQueue_.front() + kLineEnd;
        if (!window_.HasRoomFor(command.size())) break;
        if (window_.Empty()) {
            SetState(SessionState::DeleSent);
            connection_.SetTerminator(kLineEnd);
        }
        window_.Push({SessionState::DeleSent, -1, std::move(deleQueue_.front()), command.size(), false});
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
    if (!header) {
        if (ok) {
            // The confirmed row, found by its number; deletes go in list
            // order, so it is usually at or after the previous one.
            int count = owner_.RowCount();
            int found = -1;
            for (int k = 0; k < count && found < 0; ++k) {
                int i = (deleHint_ + k) % count;
                if (owner_.RowCaption(i) == entry.number) found = i;
            }
            if (found >= 0) {
                owner_.RemoveRow(found);
                deleHint_ = found;
            }
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
            nextHeader_ = owner_.RowCount();
        }
        FillHeaderWindow();
    } else {
        FillHeaderWindow();
    }

    // The next commands are on their way before this reply is parsed.
    if (fill && entry.row < owner_.RowCount()) owner_.FillMailEntry(entry.row, rest);

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
        if (!deleRefused_) {
            // As in the lock-step dialogue: the row that followed the first
            // deleted one, or the new last row.
            int count = owner_.RowCount();
            if (headerIndex_ >= 0 && headerIndex_ < count)
                owner_.SelectRow(headerIndex_);
            else if (count > 0)
                owner_.SelectRow(count - 1);
            owner_.ClearMessageText();
        }
    } else {
        headerIndex_ = nextHeader_;
    }
    SetState(SessionState::Ready);
}
