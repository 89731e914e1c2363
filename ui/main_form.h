#pragma once

#include "accounts/account.h"
#include "core/pop3_session.h"
#include "core/rules.h"
#include "core/session_owner.h"
#include "mime/mime_body.h"
#include "ui/oauth_signin.h"
#include "ui/session_log.h"

#include <QMainWindow>
#include <QTabBar>

#include <chrono>
#include <deque>
#include <map>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class MailListModel;
class MailListView;

// The account tabs. A QTabBar has no vetoable change, so every way it
// changes tab by itself (click, wheel, keys, mnemonics) asks mayChange
// first; changes made by the program always go through.
class AccountTabBar : public QTabBar {
    Q_OBJECT
public:
    explicit AccountTabBar(QWidget* parent = nullptr);

    std::function<bool()> mayChange;
    // A right-button press, at a global position.
    std::function<void(const QPoint&)> rightButtonDown;

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool Refused() const { return mayChange && !mayChange(); }
};

// The main window: account tabs over the session buttons, the mail list and
// the body pane; the log pane below; the run's log file. It owns the
// accounts and the POP3 session and is the session's owner.
class TMainForm : public QMainWindow, public SessionOwner {
    Q_OBJECT
public:
    struct Options {
        // Where the run's log file goes; empty: the program's directory, or
        // the per-user state directory when that is not writable.
        std::string logDirectory;
        std::chrono::milliseconds replyTimeout = ServerConnection::kDefaultReplyTimeout;
        // What a server's reply may grow to (tests make them small).
        LineFraming::Limits limits;
    };

    explicit TMainForm(Options options);
    TMainForm() : TMainForm(Options{}) {}
    ~TMainForm() override;

    // Start-up after construction: loads the accounts, runs the first-run
    // loop, selects tab 0, starts the run's log file and sets the buttons.
    // False when the user closed the first-run box: the program then ends
    // without saving anything.
    bool FormCreate();

    // SessionOwner.
    Account& CurrentAccount() override;
    void AppendLog(const std::string& text) override;
    void ResetSortToNumber() override;
    void ShowMessageText(const std::string& text) override;
    void DeletesFinished() override;
    bool PromptPassword(std::string& password) override;
    void ShowMessage(const std::string& text) override;
    void SetButtonStates(const ButtonStates& states) override;
    void EntriesAdded(const Mailbox& box, std::size_t first, std::size_t count) override;
    void EntryFilled(const Mailbox& box, std::size_t index) override;
    void EntryRemoved(const Mailbox& box, std::size_t index) override;
    void EntriesCleared(const Mailbox& box) override;
    void EntriesMarked(const Mailbox& box, std::size_t first, std::size_t count) override;

    // Names junk rules in the 状態 column (UTF-8); see MailListModel.
    void SetRuleNames(std::function<std::string(std::uint32_t rule)> names);

    const RuleSet* Rules() const override { return &ruleSet_; }
    // OAuth2 for the current account: one browser sign-in per account and
    // provider, its refresh token kept in the token file.
    bool OAuthAccessToken(bool refresh, std::string& token, std::string& error) override;
    void OAuthSignInNeeded() override;

    // The mail list as shown: rows in view order, the selection.
    int RowCount() const;
    std::string RowCaption(int row) const;
    int FirstSelectedRow() const;  // -1 when no row is selected
    // Makes this the only selected row.
    void SelectRow(int row);

    Pop3Session& Session() { return *session_; }
    const std::vector<Account>& Accounts() const { return accounts_; }
    const SessionLogFile& LogFile() const { return logFile_; }
    int SortTag() const { return sortTag_; }
    // Writes any log text still waiting for the pane (it is added in
    // batches so that a fast transfer cannot flood the window).
    void FlushLogPane();
    // The session's dispatcher: runs the task on this window's thread, after
    // the tasks posted before it, each one completely before the next.
    void PostTask(std::function<void()> task);
    // Writes the saved-log form of the pane to path: the header, then the
    // exact bytes of each entry the pane holds (and its notes of what it
    // left out), each followed by a line end. False when it could not.
    bool SaveLogTo(const QString& path);

    // Sends RETR for the first selected row (in Ready) and writes the
    // message to path as an .eml file instead of showing it.
    void SaveMessageAs(const QString& path);
    // The attachment behind line `line` of the body pane, or -1.
    int AttachmentAtLine(int line);
    // Writes attachment `index` of the message in the body pane to path;
    // false when there is none or it could not be written.
    bool SaveAttachmentTo(int index, const QString& path);

    // Longest entry the pane shows whole; the run's file always gets all of it.
    static constexpr std::size_t kPaneEntryLimit = 64 * 1024;
    // Of one message coming in by RETR the pane shows this much, then one
    // line saying how much more only the run's file holds: tens of
    // megabytes in the pane would stall the window for seconds.
    static constexpr std::size_t kPaneMessageLimit = 256 * 1024;
    // Entries the pane keeps; older ones leave it (not the run's file) and
    // one line at its top says so.
    static constexpr std::size_t kPaneEntries = 20000;

public slots:
    void ConnectButtonClick();
    void DisconnectButtonClick();
    void ReadButtonClick();
    void DeleteButtonClick();
    // Asks, then deletes every row marked junk (never a friend), as Delete does.
    void SweepButtonClick();
    // The compose window is not built yet; it will open here for CurrentAccount().
    void SendButtonClick();
    void AddAccountClick();
    void AccountSettingClick();
    void DeleteAccountClick();
    void SortByXClick(QAction* item);
    void ClearLogClick();
    void SaveLogClick();
    void SaveMessageAsClick();
    void SaveAttachmentClick(int index);
    // The rule list (main_form_rules.cpp): the dialog, and the mail list's
    // items that add the selected rows' senders.
    void RulesButtonClick();
    void AddSenderClick(RuleKind kind);

protected:
    void closeEvent(QCloseEvent* event) override;
    // Double click on an attachment line of the body pane.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildWindow();
    void BuildMenus();
    // The place, sizes and tab of the last run (window.ini), or on a first
    // run a size that suits the screen; KeepWindowState writes them back.
    void RestoreWindowState();
    void KeepWindowState();
    // Refuses while connected (with a message); otherwise runs FormClose.
    bool FormCloseQuery();
    void FormClose();
    void AccountTabMouseDown(const QPoint& globalPos);
    void MailListPopupPopup();
    bool MailListKeyDown(QKeyEvent* event);
    void MailListSelectItem();
    void AddTab(const Account& account);
    // A message box captioned "Boxsweeper" with one OK button and no icon.
    void ShowBox(const QString& text);
    bool InState(SessionState state) const;
    // The 状態 column, SweepButton, SortByState and the second status-bar
    // panel are there while the current account marks new mail or applies
    // rules; with both bits clear the window looks as it always did.
    void UpdateMarksShown();
    void UpdateMarkCounts();

    void DrainTasks();
    // How long DrainTasks runs tasks before the event loop gets a turn.
    static constexpr std::chrono::milliseconds kTaskSlice{20};
    void ClearMessageText();
    // The message numbers of the selected rows, top to bottom.
    std::vector<std::int32_t> SelectedNumbers() const;
    // What the session last allowed; Read and Delete also need a selection.
    void ApplyButtonStates();
    ButtonStates sessionButtons_;
    int deleteFrom_ = -1;  // the first selected row when Delete was pressed

    Options options_;
    std::vector<Account> accounts_;
    int sortTag_ = 0;
    int sessionTab_ = 0;  // the tab a running session belongs to
    bool created_ = false;
    bool closed_ = false;

    std::mutex tasksMutex_;
    std::deque<std::function<void()>> tasks_;
    bool draining_ = false;

    SessionLogFile logFile_;
    void AppendPane(const QString& entry);
    // A long message goes into BodyBox a piece per event loop turn, so the
    // window keeps answering while megabytes of text are laid out.
    void AppendBodyPiece();
    static constexpr qsizetype kBodyPiece = 256 * 1024;
    QString bodyPending_;
    qsizetype bodyPendingFrom_ = 0;
    quint64 bodyGeneration_ = 0;
    void EndPaneCut();
    // Writes the waiting entries to the pane, about maxLines lines of them
    // (at least one entry); the rest follow on the next turn.
    void FlushPane(std::size_t maxLines);
    static constexpr std::size_t kPaneLinesPerTurn = 2000;
    QString pendingPane_;
    std::deque<int> pendingLines_;  // lines of each entry in pendingPane_
    std::deque<int> paneLines_;     // lines of each entry shown, below the notice
    bool paneTrimmed_ = false;      // the pane starts with the notice that entries were dropped
    // The bytes of the entries the pane holds (at most kPaneEntries), for a
    // saved log.
    std::deque<std::string> paneEntries_;
    // "名前を付けて保存": the path waits for the RETR it sends, and applies to
    // the reply of that RETR only.
    QString saveArmedPath_;
    QString savingPath_;
    // The message in the body pane, for saving its attachments.
    std::string bodyMessage_;
    bool bodyDecoded_ = false;
    std::optional<std::vector<MimeAttachment>> attachments_;
    void BodyBoxMenu(const QPoint& pos);  // the bytes of what the pane shows, for a saved log
    bool paneFlushPosted_ = false;
    std::size_t paneMessageBytes_ = 0;  // of the message now coming in, shown in the pane
    std::size_t paneSkippedBytes_ = 0;  // of it, left out of the pane

    AccountTabBar* accountTab_ = nullptr;
    QPushButton* connectButton_ = nullptr;
    QPushButton* disconnectButton_ = nullptr;
    QPushButton* readButton_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
    QPushButton* sendButton_ = nullptr;
    QPushButton* sweepButton_ = nullptr;
    QLabel* markCounts_ = nullptr;
    bool listed_ = false;  // the rows of this connection are listed: markCounts_ shows their counts
    QWidget* panel1_ = nullptr;
    QSplitter* splitter1_ = nullptr;
    QSplitter* splitter2_ = nullptr;
    MailListModel* mailModel_ = nullptr;
    MailListView* mailList_ = nullptr;
    QPlainTextEdit* bodyBox_ = nullptr;
    QPlainTextEdit* logBox_ = nullptr;
    QLabel* statusPanel_ = nullptr;
    QMenu* accountPopup_ = nullptr;
    QMenu* mailListPopup_ = nullptr;
    QMenu* logPopup_ = nullptr;
    std::vector<QAction*> sortActions_;

    // The rule list, loaded at start-up; saved, compiled again and applied
    // to every row whenever it changes.
    void BuildRuleControls();
    void UpdateRuleControls();
    void ApplyRuleFile(RuleFile file);
    RuleFile ruleFile_;
    RuleSet ruleSet_;
    std::map<std::string, std::unique_ptr<OAuthSignIn>> signIns_;  // by account id and provider
    QPushButton* rulesButton_ = nullptr;
    QAction* addSenderToJunk_ = nullptr;
    QAction* addSenderToFriends_ = nullptr;

    // Last: goes first, so the connection is closed before anything it
    // could still report to.
    std::unique_ptr<Pop3Session> session_;
};
