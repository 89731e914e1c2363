#include "support/recording_owner.h"

#include "core/pop3_session.h"

void RecordingOwner::AppendLog(const std::string& text) {
    logBytes += text.size();
    if (keepLog) log.push_back(text);
}

void RecordingOwner::ShowMessageText(const std::string& text) {
    body = MessageViewLines(text, account.popOptions.Test(POPHeaderWithBody));
}

void RecordingOwner::DeletesFinished() {
    // The row that followed the first deleted one, or the new last row.
    if (deleteFrom_ >= 0 && deleteFrom_ < RowCount())
        SelectRow(deleteFrom_);
    else if (RowCount() > 0)
        SelectRow(RowCount() - 1);
    body.clear();
}

void RecordingOwner::SetButtonStates(const ButtonStates& states) {
    buttons = states;
    // Like the window: the selection is looked at only when it matters.
    const bool chosen = (states.read || states.remove) && FirstSelectedRow() >= 0;
    buttons.read = states.read && chosen;
    buttons.remove = states.remove && chosen;
}

void RecordingOwner::EntriesAdded(const Mailbox& box, std::size_t first, std::size_t count) {
    for (std::size_t i = first; i < first + count; ++i) {
        rows.push_back(MailEntry{std::to_string(box.Number(i)), {std::to_string(box.Size(i))}});
        selected.push_back(false);
    }
}

void RecordingOwner::EntryFilled(const Mailbox& box, std::size_t index) {
    if (index >= rows.size()) return;
    ::FillMailEntry(rows[index], std::string(box.Header(index)));
}

void RecordingOwner::EntryRemoved(const Mailbox&, std::size_t index) {
    if (index >= rows.size()) return;
    rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(index));
    selected.erase(selected.begin() + static_cast<std::ptrdiff_t>(index));
}

void RecordingOwner::EntriesCleared(const Mailbox&) {
    rows.clear();
    selected.clear();
}

void RecordingOwner::Read(Pop3Session& session) {
    const int row = FirstSelectedRow();
    if (row >= 0) session.ReadButtonClick(std::stoi(rows[static_cast<std::size_t>(row)].number));
}

void RecordingOwner::Delete(Pop3Session& session) {
    std::vector<std::int32_t> numbers;
    for (int row : SelectedRows()) numbers.push_back(std::stoi(rows[static_cast<std::size_t>(row)].number));
    if (numbers.empty()) return;
    deleteFrom_ = FirstSelectedRow();
    session.DeleteButtonClick(numbers);
}

int RecordingOwner::FirstSelectedRow() const {
    for (std::size_t i = 0; i < selected.size(); ++i)
        if (selected[i]) return static_cast<int>(i);
    return -1;
}

void RecordingOwner::SelectRow(int row) {
    selected.assign(rows.size(), false);
    if (row >= 0 && row < RowCount()) selected[static_cast<std::size_t>(row)] = true;
}

bool RecordingOwner::PromptPassword(std::string& password) {
    ++prompts;
    if (!promptConfirms) return false;
    password = promptAnswer;
    return true;
}

void RecordingOwner::SelectOnly(std::initializer_list<int> indexes) {
    selected.assign(rows.size(), false);
    for (int i : indexes)
        if (i >= 0 && i < RowCount()) selected[static_cast<std::size_t>(i)] = true;
}

std::vector<std::string> RecordingOwner::Captions() const {
    std::vector<std::string> captions;
    for (const MailEntry& row : rows) captions.push_back(row.number);
    return captions;
}

std::vector<int> RecordingOwner::SelectedRows() const {
    std::vector<int> result;
    for (std::size_t i = 0; i < selected.size(); ++i)
        if (selected[i]) result.push_back(static_cast<int>(i));
    return result;
}

std::vector<std::string> RecordingOwner::SentLines() const {
    static const char* const kCommands[] = {"USER ", "PASS ", "APOP ",    "LIST\r\n", "CAPA\r\n", "TOP ",
                                            "RETR ", "DELE ", "QUIT\r\n", "STLS\r\n", "UIDL\r\n",
                                            "AUTH "};
    std::vector<std::string> lines;
    for (const std::string& entry : log) {
        // A masked line; a SASL response or the empty answer alone on its line.
        if (entry.ends_with(" ********") || entry == "********" || entry == "AQ==\r\n" || entry == "\r\n") {
            lines.push_back(entry);
            continue;
        }
        // One command line: a known verb, exactly one CR LF, at the end.
        if (!entry.ends_with("\r\n") || entry.find("\r\n") != entry.size() - 2) continue;
        for (const char* command : kCommands) {
            if (entry.starts_with(command)) {
                lines.push_back(entry);
                break;
            }
        }
    }
    return lines;
}
