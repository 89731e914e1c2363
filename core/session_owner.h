#pragma once

#include "accounts/account.h"

#include <string>

// Everything the POP3 session needs from the window that owns it. The
// window implements it; the tests implement it with a recording fake.
// All calls arrive on the thread that runs the session.
class SessionOwner {
public:
    virtual ~SessionOwner() = default;

    // The account of the selected tab, readable and writable in memory.
    virtual Account& CurrentAccount() = 0;
    // One entry into the log pane and the run's log file.
    virtual void AppendLog(const std::string& text) = 0;

    // Mail list rows: caption is the message number, the first sub-item the size.
    virtual void AppendRow(const std::string& caption, const std::string& size) = 0;
    virtual void RemoveAllRows() = 0;
    virtual void RemoveRow(int row) = 0;
    virtual int RowCount() const = 0;
    virtual std::string RowCaption(int row) const = 0;
    virtual int FirstSelectedRow() const = 0;  // -1 when no row is selected
    virtual bool IsRowSelected(int row) const = 0;
    virtual void SelectRow(int row) = 0;  // makes this the only selected row
    virtual void ResetSortToNumber() = 0;

    // Fills date, subject and sender of the row from a TOP or RETR reply's rest.
    virtual void FillMailEntry(int row, const std::string& text) = 0;
    // Fills the body pane from a RETR reply's rest (the owner reads the
    // header-display bit of the current account).
    virtual void ShowMessageText(const std::string& text) = 0;
    virtual void ClearMessageText() = 0;

    // The modal password prompt: false when the user cancelled.
    virtual bool PromptPassword(std::string& password) = 0;
    // A modal message box captioned "Boxsweeper" with one OK button.
    virtual void ShowMessage(const std::string& text) = 0;

    struct ButtonStates {
        bool connect = false;
        bool disconnect = false;
        bool read = false;
        bool remove = false;  // the Delete button
        bool send = false;
        friend bool operator==(const ButtonStates&, const ButtonStates&) = default;
    };
    virtual void SetButtonStates(const ButtonStates& states) = 0;
};
