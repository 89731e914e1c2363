#pragma once

#include "core/session_owner.h"
#include "mime/mail_entry.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

class Pop3Session;

// A SessionOwner that records everything the session does to it: the log
// entries, the rows (mirrored from the session's mailbox and filled from
// the kept header through mime's FillMailEntry), a selection as a view
// would keep it, the body pane lines, the message boxes, the password
// prompts and the button states (Read and Delete enabled only with a row
// selected, as the window does).
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
    // The rule list the session is given, and how often it said marks changed.
    const RuleSet* rules = nullptr;
    int markNotices = 0;

    // The password prompt: what it answers and how often it was shown.
    bool promptConfirms = true;
    std::string promptAnswer;
    int prompts = 0;

    // Keeping the log may be switched off (the rest is still recorded).
    bool keepLog = true;
    std::size_t logBytes = 0;

    Account& CurrentAccount() override { return account; }
    void AppendLog(const std::string& text) override;
    void ResetSortToNumber() override { ++sortResets; }
    void ShowMessageText(const std::string& text) override;
    void DeletesFinished() override;
    bool PromptPassword(std::string& password) override;
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void SetButtonStates(const ButtonStates& states) override;
    const RuleSet* Rules() const override { return rules; }

    void EntriesAdded(const Mailbox& box, std::size_t first, std::size_t count) override;
    void EntryFilled(const Mailbox& box, std::size_t index) override;
    void EntryRemoved(const Mailbox& box, std::size_t index) override;
    void EntriesCleared(const Mailbox& box) override;
    void EntriesMarked(const Mailbox&, std::size_t, std::size_t) override { ++markNotices; }

    // The window's presses: Read the first selected row, Delete every
    // selected row, top to bottom. Nothing happens without a selection.
    void Read(Pop3Session& session);
    void Delete(Pop3Session& session);

    // Test helpers: choose the selection as the user would.
    void SelectOnly(std::initializer_list<int> indexes);
    int RowCount() const { return static_cast<int>(rows.size()); }
    int FirstSelectedRow() const;
    std::vector<std::string> Captions() const;
    std::vector<int> SelectedRows() const;
    // Log entries that the session wrote for sent commands (ending in CR LF,
    // or masked: PASS, the APOP digest and SASL responses; the answers to
    // an OAuth2 error challenge), in order.
    std::vector<std::string> SentLines() const;

private:
    void SelectRow(int row);
    int deleteFrom_ = -1;  // the first selected row at the last Delete press
};
