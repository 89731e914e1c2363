#pragma once

#include "accounts/account.h"
#include "core/mailbox.h"

#include <string>

class RuleSet;

// What the POP3 session needs from the window that owns it: what only the
// window can do, and the notices of what changed. The session's mailbox
// reports its changes here too. The window implements it; the tests
// implement it with a recording fake. All calls arrive on the thread that
// runs the session.
class SessionOwner : public MailboxListener {
public:
    // The account this session works for, readable and writable in memory.
    virtual Account& CurrentAccount() = 0;
    // One entry into the log pane and the run's log file.
    virtual void AppendLog(const std::string& text) = 0;

    // A new connection starts: the list goes back to number order.
    virtual void ResetSortToNumber() = 0;
    // A RETR reply's rest, to show in the body pane (the owner reads the
    // header-display bit of the current account).
    virtual void ShowMessageText(const std::string& text) = 0;
    // Every message of a Delete press was deleted: the owner selects the
    // row that followed the first one and clears the body pane.
    virtual void DeletesFinished() = 0;

    // The modal password prompt: false when the user cancelled.
    virtual bool PromptPassword(std::string& password) = 0;
    // A modal message box captioned "Boxsweeper" with one OK button.
    virtual void ShowMessage(const std::string& text) = 0;

    // read and remove say that the session would take a Read or a Delete
    // now; the owner enables those buttons only while a row is selected.
    struct ButtonStates {
        bool connect = false;
        bool disconnect = false;
        bool read = false;
        bool remove = false;  // the Delete button
        bool send = false;
        friend bool operator==(const ButtonStates&, const ButtonStates&) = default;
    };
    virtual void SetButtonStates(const ButtonStates& states) = 0;

    // The rule list that judges rows when the account's POPApplyRules bit
    // is set; nullptr for none.
    virtual const RuleSet* Rules() const { return nullptr; }
};
