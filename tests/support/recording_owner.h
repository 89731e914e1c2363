#pragma once

#include "core/session_owner.h"
#include "mime/mail_entry.h"

#include <initializer_list>
#include <string>
#include <vector>

// A SessionOwner that records everything the session does to it: the log
// entries, the rows (filled through mime's FillMailEntry as the window
// will), the selection, the body pane lines, the message boxes, the
// password prompts and the button states.
class RecordingOwner : public SessionOwner {
public:
    Account account;
    std::vector<std::string> log;
    std::vector<MailEntry> rows;
    std::vector<bool> selected;         // parallel to rows
    std::vector<std::string> body;      // the body pane, one entry per line
    std::vector<std::string> messages;  // message boxes in the order shown
    ButtonStates buttons;
    int sortResets = 0;

    // The password prompt: what it answers and how often it was shown.
    bool promptConfirms = true;
    std::string promptAnswer;
    int prompts = 0;

    // Keeping the log may be switched off (the rest is still recorded).
    bool keepLog = true;
    std::size_t logBytes = 0;

    Account& CurrentAccount() override { return account; }
    void AppendLog(const std::string& text) override;

    void AppendRow(const std::string& caption, const std::string& size) override;
    void RemoveAllRows() override;
    void RemoveRow(int row) override;
    int RowCount() const override { return static_cast<int>(rows.size()); }
    std::string RowCaption(int row) const override;
    int FirstSelectedRow() const override;
    bool IsRowSelected(int row) const override {
        return row >= 0 && row < RowCount() && selected[static_cast<std::size_t>(row)];
    }
    void SelectRow(int row) override;
    void ResetSortToNumber() override { ++sortResets; }

    void FillMailEntry(int row, const std::string& text) override;
    void ShowMessageText(const std::string& text) override;
    void ClearMessageText() override { body.clear(); }

    bool PromptPassword(std::string& password) override;
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void SetButtonStates(const ButtonStates& states) override { buttons = states; }

    // Test helpers: choose the selection as the user would.
    void SelectOnly(std::initializer_list<int> indexes);
    std::vector<std::string> Captions() const;
    std::vector<int> SelectedRows() const;
    // Log entries that the session wrote for sent commands (ending in CR LF,
    // or masked: PASS and the APOP digest), in order.
    std::vector<std::string> SentLines() const;
};
