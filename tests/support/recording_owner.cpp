#include "support/recording_owner.h"

void RecordingOwner::AppendLog(const std::string& text) {
    logBytes += text.size();
    if (keepLog) log.push_back(text);
}

void RecordingOwner::AppendRow(const std::string& caption, const std::string& size) {
    rows.push_back(MailEntry{caption, {size}});
    selected.push_back(false);
}

void RecordingOwner::RemoveAllRows() {
    rows.clear();
    selected.clear();
}

void RecordingOwner::RemoveRow(int row) {
    if (row < 0 || row >= RowCount()) return;
    rows.erase(rows.begin() + row);
    selected.erase(selected.begin() + row);
}

std::string RecordingOwner::RowCaption(int row) const {
    if (row < 0 || row >= RowCount()) return {};
    return rows[static_cast<std::size_t>(row)].number;
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

void RecordingOwner::FillMailEntry(int row, const std::string& text) {
    if (row < 0 || row >= RowCount()) return;
    ::FillMailEntry(rows[static_cast<std::size_t>(row)], text);
}

void RecordingOwner::ShowMessageText(const std::string& text) {
    body = MessageViewLines(text, account.popOptions.Test(POPHeaderWithBody));
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
    static const char* const kCommands[] = {"USER ", "PASS ", "APOP ", "LIST\r\n", "CAPA\r\n",
                                            "TOP ",  "RETR ", "DELE ", "QUIT\r\n", "STLS\r\n"};
    std::vector<std::string> lines;
    for (const std::string& entry : log) {
        if (entry == "PASS ********" || (entry.starts_with("APOP ") && entry.ends_with(" ********"))) {
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
