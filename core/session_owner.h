#pragma once

#include "accounts/account.h"
#include "accounts/providers.h"
#include "core/mailbox.h"

#include <string>
#include <vector>

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

    // An OAuth2 access token for the current account. refresh false: the
    // token held in memory, or a sign-in when there is none; refresh true:
    // the held token was refused, so it is dropped and a new one fetched
    // (with the refresh token, or by signing in again). False when there is
    // none to be had; error then says why (Shift_JIS), or is empty when the
    // user cancelled. May run a modal wait.
    virtual bool OAuthAccessToken(bool refresh, std::string& token, std::string& error) {
        (void)refresh;
        (void)token;
        (void)error;
        return false;
    }
    // The server refused a freshly fetched token too: whatever is held for
    // the account (access and refresh token) is dropped, so the next
    // connect signs in in the browser.
    virtual void OAuthSignInNeeded() {}
    // The provider presets in use (the shipped table and the user's file).
    virtual std::vector<Provider> OAuthProviderPresets() { return LoadUserProviderCatalog().providers; }

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
