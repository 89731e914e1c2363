#include "ui/main_form.h"

#include "accounts/settings.h"
#include "accounts/token_store.h"
#include "core/mail_marks.h"
#include "core/rules_store.h"
#include "mime/display_text.h"
#include "mime/log_text.h"
#include "mime/message_file.h"
#include "platform/cp932.h"
#include "texts/texts.h"
#include "ui/cp932_qstring.h"
#include "ui/keyring.h"
#include "ui/mail_list.h"
#include "ui/message_box.h"
#include "ui/pass_input_form.h"
#include "ui/send_mail_form.h"
#include "ui/setting_form.h"
#include "ui/ui_text.h"
#include "ui/window_state.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>

namespace {

// What starts a new line in a plain text document: the pane counts its
// entries' lines by it.
bool IsBlockBreak(QChar c) {
    return c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::ParagraphSeparator || c == QChar(0xFDD0) ||
           c == QChar(0xFDD1);
}

// Tab captions show an account's name as it is: '&' is not a mnemonic.
QString TabCaption(const Account& account) {
    return FromCp932(account.name).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

// The first-run box: OK goes on; its close box or Escape ends the program.
class FirstRunBox : public QMessageBox {
public:
    explicit FirstRunBox(QWidget* parent)
        : QMessageBox(QMessageBox::NoIcon, Text(texts::main_window::kFirstRunCaption),
                      Text(texts::main_window::kFirstRunPrompt), QMessageBox::Ok, parent) {
        setObjectName(QStringLiteral("FirstRunBox"));
    }
    bool cancelled = false;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape) {
            cancelled = true;
            reject();
            return;
        }
        QMessageBox::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent* event) override {
        // A box with one button would treat the close box as that button.
        cancelled = true;
        QDialog::closeEvent(event);
    }
};

}  // namespace

// --- AccountTabBar -----------------------------------------------------------

AccountTabBar::AccountTabBar(QWidget* parent) : QTabBar(parent) {
    setExpanding(false);
    setDrawBase(true);
    setUsesScrollButtons(true);
}

bool AccountTabBar::event(QEvent* event) {
    if (event->type() == QEvent::Shortcut && Refused()) return true;
    return QTabBar::event(event);
}

void AccountTabBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        event->accept();
        if (rightButtonDown) rightButtonDown(event->globalPosition().toPoint());
        return;
    }
    if (Refused()) {
        event->accept();
        return;
    }
    QTabBar::mousePressEvent(event);
}

void AccountTabBar::wheelEvent(QWheelEvent* event) {
    if (Refused()) {
        event->accept();
        return;
    }
    QTabBar::wheelEvent(event);
}

void AccountTabBar::keyPressEvent(QKeyEvent* event) {
    if (Refused()) {
        event->ignore();
        return;
    }
    QTabBar::keyPressEvent(event);
}

// --- TMainForm ---------------------------------------------------------------

TMainForm::TMainForm(Options options) : options_(std::move(options)) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(Text(texts::kProgramName));
    session_ = std::make_unique<Pop3Session>(
        *this, [this](ServerConnection::Task task) { PostTask(std::move(task)); }, options_.replyTimeout,
        options_.limits);
    BuildWindow();
    BuildMenus();
}

TMainForm::~TMainForm() {
    // The connection goes first: after this nothing posts tasks any more.
    session_.reset();
    // The list's model presents the session's mailbox, which is gone now.
    mailList_->setModel(nullptr);
    delete mailModel_;
    mailModel_ = nullptr;
}

void TMainForm::BuildWindow() {
    setMinimumSize(585, 400);

    auto* central = new QWidget(this);
    auto* centralLayout = new QVBoxLayout(central);
    centralLayout->setContentsMargins(2, 2, 2, 0);

    auto* splitter2 = splitter2_ = new QSplitter(Qt::Vertical, central);
    splitter2->setObjectName(QStringLiteral("Splitter2"));
    splitter2->setHandleWidth(3);
    splitter2->setChildrenCollapsible(false);
    centralLayout->addWidget(splitter2);

    // The tab bar over one shared content: the buttons and Panel1.
    auto* tabArea = new QWidget(splitter2);
    auto* tabLayout = new QVBoxLayout(tabArea);
    tabLayout->setContentsMargins(0, 0, 0, 0);
    tabLayout->setSpacing(0);
    accountTab_ = new AccountTabBar(tabArea);
    accountTab_->setObjectName(QStringLiteral("AccountTab"));
    tabLayout->addWidget(accountTab_);
    auto* content = new QFrame(tabArea);
    content->setObjectName(QStringLiteral("AccountTabContent"));
    content->setFrameShape(QFrame::StyledPanel);
    tabLayout->addWidget(content, 1);

    auto* contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(8, 6, 8, 8);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(7);
    auto makeButton = [&](const char* name, std::string_view caption) {
        auto* button = new QPushButton(Text(caption), content);
        button->setObjectName(QString::fromLatin1(name));
        button->setMinimumSize(97, 25);
        button->setAutoDefault(false);
        buttons->addWidget(button);
        return button;
    };
    connectButton_ = makeButton("ConnectButton", texts::main_window::kConnect);
    disconnectButton_ = makeButton("DisconnectButton", texts::main_window::kDisconnect);
    buttons->addSpacing(16);
    readButton_ = makeButton("ReadButton", texts::main_window::kRead);
    deleteButton_ = makeButton("DeleteButton", texts::main_window::kDelete);
    sweepButton_ = makeButton("SweepButton", texts::main_window::kSweep);
    sweepButton_->setEnabled(false);
    sweepButton_->hide();
    buttons->addSpacing(16);
    sendButton_ = makeButton("SendButton", texts::main_window::kWrite);
    buttons->addSpacing(16);
    rulesButton_ = makeButton("RulesButton", texts::rules::kRulesButton);
    buttons->addStretch(1);
    readButton_->setEnabled(false);
    deleteButton_->setEnabled(false);
    contentLayout->addLayout(buttons);

    panel1_ = new QWidget(content);
    panel1_->setObjectName(QStringLiteral("Panel1"));
    contentLayout->addWidget(panel1_, 1);
    auto* panelLayout = new QVBoxLayout(panel1_);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    auto* splitter1 = splitter1_ = new QSplitter(Qt::Vertical, panel1_);
    splitter1->setObjectName(QStringLiteral("Splitter1"));
    splitter1->setHandleWidth(3);
    splitter1->setChildrenCollapsible(false);
    panelLayout->addWidget(splitter1);

    mailModel_ = new MailListModel(session_->Mailbox(), this);
    mailModel_->SetRuleNames([this](std::uint32_t rule) { return ruleSet_.Name(rule); });
    mailList_ = new MailListView(splitter1);
    mailList_->setObjectName(QStringLiteral("MailList"));
    mailList_->setModel(mailModel_);
    // The number, size and date columns fit their usual texts in the
    // list's font; the subject and sender keep their usual widths.
    const QFontMetrics metrics = mailList_->fontMetrics();
    const int padding = 2 * metrics.horizontalAdvance(QLatin1Char('M'));
    auto fit = [&](const char* longest, std::string_view heading) {
        return std::max(metrics.horizontalAdvance(QString::fromUtf8(longest)),
                        metrics.horizontalAdvance(Text(heading))) +
               padding;
    };
    const int widths[MailListModel::kColumns] = {
        fit("99999", texts::mail_list::kNumber), fit("99999999", texts::mail_list::kSize),
        fit("Wed, 30 Sep 2026 23:59:59 +0900", texts::mail_list::kDate), 200, 150};
    for (int c = 0; c < MailListModel::kColumns; ++c) mailList_->setColumnWidth(c, widths[c]);
    mailList_->setContextMenuPolicy(Qt::CustomContextMenu);

    bodyBox_ = new QPlainTextEdit(splitter1);
    bodyBox_->setObjectName(QStringLiteral("BodyBox"));
    bodyBox_->setReadOnly(true);
    bodyBox_->setUndoRedoEnabled(false);
    bodyBox_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    bodyBox_->setContextMenuPolicy(Qt::CustomContextMenu);
    bodyBox_->viewport()->installEventFilter(this);
    // The list and the body share the room, and a taller window alike.
    splitter1->setSizes({240, 240});
    splitter1->setStretchFactor(0, 1);
    splitter1->setStretchFactor(1, 1);

    logBox_ = new QPlainTextEdit(splitter2);
    logBox_->setObjectName(QStringLiteral("LogBox"));
    logBox_->setReadOnly(true);
    // Nobody can undo in a read-only pane, but the document would keep
    // every entry it ever took (and every one trimmed) for it.
    logBox_->setUndoRedoEnabled(false);
    logBox_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    logBox_->setContextMenuPolicy(Qt::CustomContextMenu);
    QPalette palette = logBox_->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    logBox_->setPalette(palette);
    splitter2->setSizes({440, 70});
    splitter2->setStretchFactor(0, 1);

    setCentralWidget(central);
    statusBar()->setObjectName(QStringLiteral("StatusBar"));
    statusPanel_ = new QLabel(statusBar());
    statusPanel_->setMinimumWidth(50);
    statusBar()->addWidget(statusPanel_);
    markCounts_ = new QLabel(statusBar());
    markCounts_->setObjectName(QStringLiteral("MarkCounts"));
    markCounts_->hide();
    statusBar()->addWidget(markCounts_);

    // Keyboard and screen readers: Tab goes tabs, buttons, list, body, log;
    // the read-only panes can be read and selected with the keys, and Tab
    // leaves them.
    QWidget* const order[] = {accountTab_,  connectButton_, disconnectButton_, readButton_, deleteButton_,
                              sweepButton_, sendButton_,    mailList_,         bodyBox_,    logBox_};
    for (std::size_t i = 1; i < std::size(order); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
    for (QPlainTextEdit* pane : {bodyBox_, logBox_}) {
        pane->setTabChangesFocus(true);
        pane->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    }
    const std::pair<QWidget*, std::string_view> accessible[] = {
        {accountTab_, texts::main_window::kAccountsName},
        {connectButton_, texts::main_window::kConnectName},
        {disconnectButton_, texts::main_window::kDisconnectName},
        {readButton_, texts::main_window::kReadName},
        {deleteButton_, texts::main_window::kDeleteName},
        {sweepButton_, texts::main_window::kSweepName},
        {sendButton_, texts::main_window::kWriteName},
        {mailList_, texts::main_window::kMailListName},
        {bodyBox_, texts::main_window::kBodyName},
        {logBox_, texts::main_window::kLogName},
    };
    for (const auto& [widget, name] : accessible) widget->setAccessibleName(Text(name));

    connect(connectButton_, &QPushButton::clicked, this, &TMainForm::ConnectButtonClick);
    connect(disconnectButton_, &QPushButton::clicked, this, &TMainForm::DisconnectButtonClick);
    connect(readButton_, &QPushButton::clicked, this, &TMainForm::ReadButtonClick);
    connect(deleteButton_, &QPushButton::clicked, this, &TMainForm::DeleteButtonClick);
    connect(sweepButton_, &QPushButton::clicked, this, &TMainForm::SweepButtonClick);
    connect(sendButton_, &QPushButton::clicked, this, &TMainForm::SendButtonClick);

    accountTab_->mayChange = [this] { return InState(SessionState::Idle); };
    accountTab_->rightButtonDown = [this](const QPoint& at) { AccountTabMouseDown(at); };
    content->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(content, &QWidget::customContextMenuRequested, this,
            [this, content](const QPoint& pos) { AccountTabMouseDown(content->mapToGlobal(pos)); });
    // The net under the input checks: whatever else moves the tab outside
    // Idle is undone at once.
    connect(accountTab_, &QTabBar::currentChanged, this, [this] {
        if (InState(SessionState::Idle)) {
            UpdateMarksShown();
            return;
        }
        const QSignalBlocker block(accountTab_);
        accountTab_->setCurrentIndex(sessionTab_);
    });

    mailList_->keyHook = [this](QKeyEvent* event) { return MailListKeyDown(event); };
    mailList_->doubleClickHook = [this] {
        if (InState(SessionState::Ready)) ReadButtonClick();
    };
    // The deletes go by the rows chosen at the press; the selection stays as
    // it was until they are done, so what the user sees is what goes.
    mailList_->userMaySelect = [this] { return !InState(SessionState::DeleSent); };
    connect(mailList_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { MailListSelectItem(); });
    connect(mailList_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (!InState(SessionState::Ready)) return;
        MailListPopupPopup();
        mailListPopup_->popup(mailList_->viewport()->mapToGlobal(pos));
    });
    connect(bodyBox_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) { BodyBoxMenu(pos); });
    connect(logBox_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { logPopup_->popup(logBox_->viewport()->mapToGlobal(pos)); });
}

void TMainForm::BuildMenus() {
    accountPopup_ = new QMenu(this);
    accountPopup_->setObjectName(QStringLiteral("AccountPopup"));
    auto addItem = [](QMenu* menu, const char* name, std::string_view caption) {
        QAction* action = menu->addAction(Text(caption));
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };
    connect(addItem(accountPopup_, "AccountSetting", texts::main_window::kAccountSettings), &QAction::triggered, this,
            &TMainForm::AccountSettingClick);
    connect(addItem(accountPopup_, "AddAccount", texts::main_window::kAddAccount), &QAction::triggered, this,
            &TMainForm::AddAccountClick);
    connect(addItem(accountPopup_, "DeleteAccount", texts::main_window::kDeleteAccount), &QAction::triggered, this,
            &TMainForm::DeleteAccountClick);

    mailListPopup_ = new QMenu(this);
    mailListPopup_->setObjectName(QStringLiteral("MailListPopup"));
    const std::pair<const char*, std::string_view> sorts[] = {
        {"SortByNumber", texts::main_window::kSortByNumber}, {"SortBySize", texts::main_window::kSortBySize},
        {"SortByDate", texts::main_window::kSortByDate},     {"SortByTitle", texts::main_window::kSortBySubject},
        {"SortByFrom", texts::main_window::kSortByFrom},     {"SortByState", texts::main_window::kSortByState}};
    for (int tag = 0; tag <= MailListModel::kStateSortTag; ++tag) {
        QAction* action = addItem(mailListPopup_, sorts[tag].first, sorts[tag].second);
        action->setCheckable(true);
        action->setData(tag);
        sortActions_.push_back(action);
    }
    sortActions_.back()->setVisible(false);  // until an account marks rows
    mailListPopup_->addSeparator();
    QAction* saveMessage = addItem(mailListPopup_, "SaveMessageAs", texts::main_window::kSaveMessageAs);
    saveMessage->setData(-1);  // not a sort key
    connect(saveMessage, &QAction::triggered, this, &TMainForm::SaveMessageAsClick);
    connect(mailListPopup_, &QMenu::triggered, this, &TMainForm::SortByXClick);
    BuildRuleControls();

    logPopup_ = new QMenu(this);
    logPopup_->setObjectName(QStringLiteral("LogPopup"));
    connect(addItem(logPopup_, "ClearLog", texts::main_window::kClearLog), &QAction::triggered, this,
            &TMainForm::ClearLogClick);
    connect(addItem(logPopup_, "SaveLog", texts::main_window::kSaveLog), &QAction::triggered, this,
            &TMainForm::SaveLogClick);
}

bool TMainForm::FormCreate() {
    accounts_ = LoadSettings();
    ruleFile_ = LoadRuleFile();
    ruleSet_ = RuleSet(ruleFile_);
    for (const Account& account : accounts_) AddTab(account);
    while (accounts_.empty()) {
        FirstRunBox box(this);
        box.exec();
        if (box.cancelled) return false;
        AddAccountClick();
    }
    accountTab_->setCurrentIndex(0);
    CurrentAccount();
    RestoreWindowState();

    const std::string directory = options_.logDirectory.empty()
                                      ? DefaultLogDirectory(QCoreApplication::applicationDirPath().toStdString())
                                      : options_.logDirectory;
    logFile_.Start(directory, QDateTime::currentDateTime());

    statusPanel_->setText(QStringLiteral("Version.") + QString::fromLatin1(kProgramVersion));
    UpdateMarksShown();
    session_->UpdateButtons();
    created_ = true;
    return true;
}

bool TMainForm::InState(SessionState state) const {
    return session_ && session_->State() == state;
}

// --- the connection's tasks ----------------------------------------------------

void TMainForm::PostTask(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(tasksMutex_);
        tasks_.push_back(std::move(task));
    }
    QMetaObject::invokeMethod(
        this, [this] { DrainTasks(); }, Qt::QueuedConnection);
}

void TMainForm::DrainTasks() {
    // Entered from the nested loop of a message box that a task opened:
    // the tasks behind it wait until the box is closed and that task ends.
    if (draining_) return;
    draining_ = true;
    struct Done {
        TMainForm* form;
        ~Done() {
            form->draining_ = false;
            // A task that threw leaves the rest queued; they go on next turn.
            std::lock_guard<std::mutex> lock(form->tasksMutex_);
            if (!form->tasks_.empty()) {
                TMainForm* self = form;
                QMetaObject::invokeMethod(
                    self, [self] { self->DrainTasks(); }, Qt::QueuedConnection);
            }
        }
    } done{this};
    // A fast transfer posts tasks as fast as they run: after a slice the
    // rest waits for the next turn (Done posts it), so that timers, painting
    // and input are not shut out until the transfer ends.
    const auto sliceEnd = std::chrono::steady_clock::now() + kTaskSlice;
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard<std::mutex> lock(tasksMutex_);
            if (tasks_.empty()) return;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
        if (std::chrono::steady_clock::now() >= sliceEnd) return;
    }
}

// --- SessionOwner ----------------------------------------------------------------

Account& TMainForm::CurrentAccount() {
    if (accountTab_->currentIndex() < 0 && accountTab_->count() > 0) accountTab_->setCurrentIndex(0);
    const int index = accountTab_->currentIndex();
    if (index < 0 || index >= static_cast<int>(accounts_.size())) {
        // Only before start-up has made the first account.
        static thread_local Account none;
        none = DefaultAccount();
        return none;
    }
    return accounts_[static_cast<std::size_t>(index)];
}

void TMainForm::AppendLog(const std::string& text) {
    logFile_.Append(text);
    const bool retrSent = std::string_view(text).starts_with("RETR ");
    if (retrSent) savingPath_ = std::exchange(saveArmedPath_, QString());
    if (retrSent || !(InState(SessionState::RetrSent) || InState(SessionState::RetrHeaderSent))) {
        EndPaneCut();
    } else if (paneSkippedBytes_ > 0 || paneMessageBytes_ + text.size() > kPaneMessageLimit) {
        paneSkippedBytes_ += text.size();
        return;
    } else {
        paneMessageBytes_ += text.size();
    }
    QString entry;
    if (text.size() > kPaneEntryLimit) {
        entry = QString::fromStdString(LogTextForEye(std::string_view(text).substr(0, kPaneEntryLimit)));
        entry += QStringLiteral("\n... (%1 more bytes in the run's log file)").arg(text.size() - kPaneEntryLimit);
    } else {
        entry = QString::fromStdString(LogTextForEye(text));
    }
    paneEntries_.push_back(text);
    AppendPane(entry);
    // A saved log holds what the pane holds, no more.
    while (paneEntries_.size() > kPaneEntries) paneEntries_.pop_front();
}

void TMainForm::EndPaneCut() {
    if (paneSkippedBytes_ > 0) {
        const QString note =
            QStringLiteral("... (%1 more bytes of this message in the run's log file)").arg(paneSkippedBytes_);
        paneEntries_.push_back(note.toStdString());
        AppendPane(note);
        while (paneEntries_.size() > kPaneEntries) paneEntries_.pop_front();
    }
    paneSkippedBytes_ = 0;
    paneMessageBytes_ = 0;
}

void TMainForm::AppendPane(const QString& entry) {
    pendingLines_.push_back(static_cast<int>(std::count_if(entry.begin(), entry.end(), IsBlockBreak)) + 1);
    if (!pendingPane_.isNull())
        pendingPane_ += QLatin1Char('\n');
    else
        pendingPane_ = QStringLiteral("");
    pendingPane_ += entry;
    if (!paneFlushPosted_) {
        paneFlushPosted_ = true;
        QTimer::singleShot(30, this, [this] { FlushPane(kPaneLinesPerTurn); });
    }
}

void TMainForm::FlushLogPane() {
    FlushPane(std::numeric_limits<std::size_t>::max());
}

void TMainForm::FlushPane(std::size_t maxLines) {
    paneFlushPosted_ = false;
    if (pendingPane_.isNull()) return;
    // A burst (a long listing comes as thousands of lines) goes in a piece
    // per event loop turn, whole entries at a time: a hundred thousand
    // lines at once would hold the window for half a second. A batch that
    // overflows the pane is left whole, so that what it drops is never laid out.
    QString later;
    std::deque<int> laterLines;
    if (pendingLines_.size() <= kPaneEntries) {
        std::size_t take = 0, lines = 0;
        while (take < pendingLines_.size() &&
               (take == 0 || lines + static_cast<std::size_t>(pendingLines_[take]) <= maxLines))
            lines += static_cast<std::size_t>(pendingLines_[take++]);
        if (take < pendingLines_.size()) {
            // Past the line break that ends entry take - 1: its own breaks
            // and one after each entry.
            qsizetype at = 0;
            for (std::size_t breaks = lines; at < pendingPane_.size() && breaks > 0; ++at)
                if (IsBlockBreak(pendingPane_[at])) --breaks;
            later = pendingPane_.mid(at);
            if (later.isNull()) later = QStringLiteral("");
            pendingPane_.truncate(at - 1);
            laterLines.assign(pendingLines_.begin() + static_cast<std::ptrdiff_t>(take), pendingLines_.end());
            pendingLines_.resize(take);
        }
    }
    std::size_t drop = paneLines_.size() + pendingLines_.size();
    drop = drop > kPaneEntries ? drop - kPaneEntries : 0;
    if (drop > 0) {
        // The oldest entries leave the pane, first those shown, then those
        // of this batch; the run's file has them all.
        QTextDocument* document = logBox_->document();
        const int notice = paneTrimmed_ ? 1 : 0;
        int blocks = 0;
        for (std::size_t i = 0; i < drop && i < paneLines_.size(); ++i) blocks += paneLines_[i];
        const QTextBlock keep = document->findBlockByNumber(notice + blocks);
        bool cleared = false;
        if (drop >= paneLines_.size() || !keep.isValid()) {
            drop -= std::min(drop, paneLines_.size());
            paneLines_.clear();
            document->clear();
            cleared = true;
        } else {
            paneLines_.erase(paneLines_.begin(), paneLines_.begin() + static_cast<std::ptrdiff_t>(drop));
            QTextCursor cut(document->findBlockByNumber(notice));
            cut.setPosition(keep.position(), QTextCursor::KeepAnchor);
            cut.removeSelectedText();
            drop = 0;
        }
        if (drop > 0) {
            int lines = 0;
            for (std::size_t i = 0; i < drop; ++i) lines += pendingLines_[i];
            qsizetype from = 0;
            for (; from < pendingPane_.size() && lines > 0; ++from)
                if (IsBlockBreak(pendingPane_[from])) --lines;
            pendingPane_.remove(0, from);
            pendingLines_.erase(pendingLines_.begin(), pendingLines_.begin() + static_cast<std::ptrdiff_t>(drop));
        }
        if (cleared || !paneTrimmed_) {
            QTextCursor top(document);
            top.insertText(Text(texts::main_window::kLogTrimmed));
            if (!cleared) top.insertBlock();
            paneTrimmed_ = true;
        }
    }
    logBox_->appendPlainText(pendingPane_);
    pendingPane_ = QString();
    paneLines_.insert(paneLines_.end(), pendingLines_.begin(), pendingLines_.end());
    pendingLines_.clear();
    if (!later.isNull()) {
        pendingPane_ = std::move(later);
        pendingLines_ = std::move(laterLines);
        paneFlushPosted_ = true;
        QTimer::singleShot(0, this, [this] { FlushPane(kPaneLinesPerTurn); });
    }
}

void TMainForm::EntriesAdded(const Mailbox&, std::size_t first, std::size_t count) {
    mailModel_->EntriesAdded(first, count);
}

void TMainForm::EntryFilled(const Mailbox&, std::size_t index) {
    mailModel_->EntryFilled(index, CurrentAccount().popOptions.Test(POPLocalDates));
}

void TMainForm::EntryRemoved(const Mailbox&, std::size_t index) {
    mailModel_->EntryRemoved(index);
    if (listed_) UpdateMarkCounts();
}

void TMainForm::EntriesCleared(const Mailbox&) {
    mailModel_->EntriesCleared();
    listed_ = false;
    UpdateMarkCounts();
}

void TMainForm::EntriesMarked(const Mailbox&, std::size_t first, std::size_t count) {
    mailModel_->EntriesMarked(first, count);
    ApplyButtonStates();
    UpdateMarkCounts();
}

void TMainForm::SetRuleNames(std::function<std::string(std::uint32_t rule)> names) {
    mailModel_->SetRuleNames(std::move(names));
}

void TMainForm::UpdateMarksShown() {
    const AccountOptions& options = CurrentAccount().popOptions;
    const bool shown = options.Test(POPMarkNew) || options.Test(POPApplyRules);
    if (shown != mailModel_->MarksShown()) {
        mailModel_->SetMarksShown(shown);
        if (shown) mailList_->setColumnWidth(MailListModel::kStateColumn, 120);
    }
    sweepButton_->setVisible(shown);
    sortActions_[MailListModel::kStateSortTag]->setVisible(shown);
    if (!shown && sortTag_ == MailListModel::kStateSortTag) sortTag_ = 0;
    UpdateMarkCounts();
}

void TMainForm::UpdateMarkCounts() {
    // From the end of a listing on; the counts follow the marks and the
    // deletes until the rows are gone.
    markCounts_->setVisible(mailModel_->MarksShown());
    if (!mailModel_->MarksShown() || !listed_) {
        markCounts_->clear();
        return;
    }
    markCounts_->setText(
        Text(texts::main_window::kMarkCounts).arg(mailModel_->NewCount()).arg(mailModel_->JunkCount()));
}

int TMainForm::RowCount() const {
    return mailModel_->rowCount();
}

std::string TMainForm::RowCaption(int row) const {
    if (row < 0 || row >= RowCount()) return {};
    return std::to_string(mailModel_->NumberAt(row));
}

int TMainForm::FirstSelectedRow() const {
    // The selection lists its ranges in the order they were made; the
    // session wants the topmost row.
    int first = -1;
    for (const QItemSelectionRange& range : mailList_->selectionModel()->selection()) {
        if (!range.isValid()) continue;
        if (first < 0 || range.top() < first) first = range.top();
    }
    return first;
}

std::vector<std::int32_t> TMainForm::SelectedNumbers() const {
    std::vector<std::int32_t> numbers;
    const QItemSelectionModel* selection = mailList_->selectionModel();
    for (int row = FirstSelectedRow(), count = RowCount(); row >= 0 && row < count; ++row)
        if (selection->isRowSelected(row, QModelIndex())) numbers.push_back(mailModel_->NumberAt(row));
    return numbers;
}

void TMainForm::SelectRow(int row) {
    if (row < 0 || row >= RowCount()) return;
    const QModelIndex index = mailModel_->index(row, 0);
    mailList_->selectionModel()->setCurrentIndex(index,
                                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    mailList_->scrollTo(index);
}

void TMainForm::ResetSortToNumber() {
    sortTag_ = 0;
}

void TMainForm::DeletesFinished() {
    // The row that followed the first deleted one, or the new last row.
    const int count = RowCount();
    if (deleteFrom_ >= 0 && deleteFrom_ < count)
        SelectRow(deleteFrom_);
    else if (count > 0)
        SelectRow(count - 1);
    ClearMessageText();
}

void TMainForm::ShowMessageText(const std::string& text) {
    if (!savingPath_.isEmpty()) {
        const QString path = std::exchange(savingPath_, QString());
        const std::string bytes = MessageFileBytes(text);
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()) ||
            !file.commit())
            ShowBox(Text(texts::main_window::kMessageNotSaved));
        return;
    }
    const AccountOptions& options = CurrentAccount().popOptions;
    bodyMessage_ = text;
    bodyDecoded_ = options.Test(POPDecodeMime);
    attachments_.reset();
    const std::vector<std::string> lines =
        MessagePaneLines(text, options.Test(POPDecodeMime), options.Test(POPHeaderWithBody));
    std::string joined;
    std::size_t size = 0;
    for (const std::string& line : lines) size += line.size() + 1;
    joined.reserve(size);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i) joined += '\n';
        joined += lines[i];
    }
    ++bodyGeneration_;
    bodyPending_ = QString::fromStdString(joined);  // UTF-8 from the text library
    bodyPendingFrom_ = 0;
    bodyBox_->clear();
    AppendBodyPiece();
}

void TMainForm::AppendBodyPiece() {
    const qsizetype rest = bodyPending_.size() - bodyPendingFrom_;
    qsizetype length = rest;
    if (rest > kBodyPiece) {
        // End the piece after a line break, so no line is split in two blocks.
        const qsizetype lineEnd = bodyPending_.indexOf(QLatin1Char('\n'), bodyPendingFrom_ + kBodyPiece);
        length = lineEnd < 0 ? rest : lineEnd + 1 - bodyPendingFrom_;
    }
    QTextCursor end(bodyBox_->document());
    end.movePosition(QTextCursor::End);
    end.insertText(bodyPending_.mid(bodyPendingFrom_, length));
    bodyPendingFrom_ += length;
    if (bodyPendingFrom_ >= bodyPending_.size()) {
        bodyPending_ = QString();
        bodyPendingFrom_ = 0;
        return;
    }
    const quint64 generation = bodyGeneration_;
    QTimer::singleShot(0, this, [this, generation] {
        if (generation == bodyGeneration_) AppendBodyPiece();
    });
}

void TMainForm::ClearMessageText() {
    ++bodyGeneration_;
    bodyPending_ = QString();
    bodyPendingFrom_ = 0;
    bodyBox_->clear();
    bodyMessage_.clear();
    bodyDecoded_ = false;
    attachments_.reset();
}

bool TMainForm::PromptPassword(std::string& password) {
    TPassInputForm prompt(this);
    if (prompt.exec() != QDialog::Accepted) return false;
    password = prompt.Password();
    return true;
}

void TMainForm::ShowMessage(const std::string& text) {
    ShowBox(FromCp932(text));
}

void TMainForm::ShowBox(const QString& text) {
    ShowMessageBox(this, text);
}

void TMainForm::SetButtonStates(const ButtonStates& states) {
    sessionButtons_ = states;
    ApplyButtonStates();
    if (!listed_ && InState(SessionState::Ready)) {
        listed_ = true;
        UpdateMarkCounts();
    }
    if (!InState(SessionState::RetrSent) && !InState(SessionState::RetrHeaderSent)) EndPaneCut();
    // The tab that a session runs on; the tab bar returns to it if moved.
    if (InState(SessionState::Idle)) sessionTab_ = accountTab_->currentIndex();
}

void TMainForm::ApplyButtonStates() {
    const ButtonStates& states = sessionButtons_;
    const bool chosen = (states.read || states.remove) && FirstSelectedRow() >= 0;
    connectButton_->setEnabled(states.connect);
    disconnectButton_->setEnabled(states.disconnect);
    readButton_->setEnabled(states.read && chosen);
    deleteButton_->setEnabled(states.remove && chosen);
    sweepButton_->setEnabled(states.remove && mailModel_->MarksShown() && mailModel_->JunkCount() > 0);
    sendButton_->setEnabled(states.send);
    UpdateRuleControls();
}

// --- buttons and commands --------------------------------------------------------

void TMainForm::ConnectButtonClick() {
    sessionTab_ = accountTab_->currentIndex();
    UpdateMarksShown();
    if (InState(SessionState::Idle)) keyring::FetchPassword(CurrentAccount());
    session_->ConnectButtonClick();
}

void TMainForm::DisconnectButtonClick() {
    session_->DisconnectButtonClick();
}

void TMainForm::ReadButtonClick() {
    const int row = FirstSelectedRow();
    if (row >= 0) session_->ReadButtonClick(mailModel_->NumberAt(row));
}

void TMainForm::DeleteButtonClick() {
    if (!InState(SessionState::Ready)) return;
    const std::vector<std::int32_t> numbers = SelectedNumbers();
    if (numbers.empty()) return;
    deleteFrom_ = FirstSelectedRow();
    session_->DeleteButtonClick(numbers);
}

void TMainForm::SweepButtonClick() {
    if (!InState(SessionState::Ready) || !mailModel_->MarksShown()) return;
    const std::vector<std::int32_t> numbers = SweepNumbers(session_->Mailbox());
    if (numbers.empty()) return;
    QMessageBox box(QMessageBox::NoIcon, Text(texts::kProgramName),
                    Text(texts::main_window::kSweepConfirm).arg(numbers.size()), QMessageBox::Yes | QMessageBox::No,
                    this);
    box.setObjectName(QStringLiteral("SweepBox"));
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() != QMessageBox::Yes || !InState(SessionState::Ready)) return;
    deleteFrom_ = FirstSelectedRow();
    // The marks of the moment the user said yes.
    session_->DeleteButtonClick(SweepNumbers(session_->Mailbox()));
}

void TMainForm::SendButtonClick() {
    // Modal and made for one use; it works on its own copy of the account.
    keyring::FetchPassword(CurrentAccount());
    TSendMailForm form(this, CurrentAccount());
    form.SetOAuthTokenSource([this](bool refresh, std::string& token,
                                    std::string& error) { return OAuthAccessToken(refresh, token, error); },
                             [this] { OAuthSignInNeeded(); });
    form.exec();
}

void TMainForm::AddTab(const Account& account) {
    accountTab_->addTab(TabCaption(account));
    // The bar was laid out when it had no tabs and no height.
    accountTab_->setMinimumHeight(accountTab_->sizeHint().height());
}

void TMainForm::AddAccountClick() {
    Account account = NewAccount(accountTab_->count());
    TSettingForm form(this, account);
    if (form.exec() != QDialog::Accepted) return;
    accounts_.push_back(account);
    AddTab(account);
    accountTab_->setCurrentIndex(accountTab_->count() - 1);
}

void TMainForm::AccountSettingClick() {
    Account& account = CurrentAccount();
    const int index = accountTab_->currentIndex();
    TSettingForm form(this, account);
    if (form.exec() != QDialog::Accepted) return;
    if (index >= 0) accountTab_->setTabText(index, TabCaption(accounts_[static_cast<std::size_t>(index)]));
    if (InState(SessionState::Idle)) UpdateMarksShown();
}

void TMainForm::DeleteAccountClick() {
    if (accountTab_->count() < 2) return;
    QMessageBox box(QMessageBox::NoIcon, Text(texts::main_window::kDeleteAccountCaption),
                    Text(texts::main_window::kDeleteAccountConfirm), QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("DeleteAccountBox"));
    if (box.exec() != QMessageBox::Ok) return;
    const int index = accountTab_->currentIndex();
    if (index < 0 || index >= static_cast<int>(accounts_.size())) return;
    keyring::Forget(accounts_[static_cast<std::size_t>(index)]);
    TokenStore().Remove(accounts_[static_cast<std::size_t>(index)].id);
    accounts_.erase(accounts_.begin() + index);
    accountTab_->removeTab(index);
    accountTab_->setCurrentIndex(0);
}

void TMainForm::AccountTabMouseDown(const QPoint& globalPos) {
    if (!InState(SessionState::Idle)) return;
    accountPopup_->popup(globalPos);
}

// --- the mail list -----------------------------------------------------------------

bool TMainForm::MailListKeyDown(QKeyEvent* event) {
    const bool ctrlA = event->key() == Qt::Key_A && (event->modifiers() & Qt::ControlModifier);
    if (!InState(SessionState::Ready)) return ctrlA;  // the list's own select-all waits for Ready too
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            ReadButtonClick();
            return true;
        case Qt::Key_Delete:
            DeleteButtonClick();
            return true;
        default:
            break;
    }
    if (ctrlA) {
        mailList_->selectAll();
        return true;
    }
    return false;
}

void TMainForm::MailListSelectItem() {
    if (InState(SessionState::Ready)) session_->UpdateButtons();
}

void TMainForm::MailListPopupPopup() {
    for (QAction* action : sortActions_) action->setChecked(action->data().toInt() == sortTag_);
    UpdateRuleControls();
}

void TMainForm::SortByXClick(QAction* item) {
    if (!item) return;
    const int tag = item->data().toInt();
    if (tag < 0 || tag > MailListModel::kStateSortTag) return;
    if (tag == MailListModel::kStateSortTag && !mailModel_->MarksShown()) return;
    sortTag_ = tag;
    mailModel_->Sort(tag, CurrentAccount().popOptions.Test(POPLocalDates));
}

// --- the log pane ------------------------------------------------------------------

void TMainForm::ClearLogClick() {
    pendingPane_ = QString();
    pendingLines_.clear();
    paneLines_.clear();
    paneTrimmed_ = false;
    paneEntries_.clear();
    logBox_->clear();
}

bool TMainForm::SaveLogTo(const QString& path) {
    FlushLogPane();
    // The entries as they arrived, like the run's file, not the pane's
    // decoded lines.
    std::string bytes = LogHeader(kSavedLogVersion, QDateTime::currentDateTime());
    for (const std::string& entry : paneEntries_) {
        bytes += entry;
        bytes += '\n';
    }
    // Written aside and renamed over the chosen file, so a failed save
    // leaves an existing file as it was.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    // Like the run's log it may hold whole messages: for the owner only.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        file.cancelWriting();
        return false;
    }
    if (file.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size())) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

void TMainForm::SaveLogClick() {
    QFileDialog dialog(this, Text(texts::main_window::kSaveLogTitle));
    dialog.setObjectName(QStringLiteral("LogSaveDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("*.log"));
    dialog.setDefaultSuffix(QStringLiteral("log"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.selectFile(QStringLiteral("Boxsweeper.log"));
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted) return;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return;
    if (!SaveLogTo(files.first())) ShowBox(Text(texts::main_window::kLogNotSaved));
}

// --- closing -------------------------------------------------------------------------

bool TMainForm::FormCloseQuery() {
    if (session_->IsConnectionOpen()) {
        ShowBox(Text(texts::main_window::kCannotQuitConnected));
        return false;
    }
    return true;
}

void TMainForm::FormClose() {
    if (closed_) return;
    closed_ = true;
    std::vector<Account> stored = accounts_;
    keyring::PlacePasswords(stored);
    // A password with a comma (typed into the prompt, which cannot refuse
    // it) would split the stored record; unless the keyring took it, it
    // served this run and is stored empty.
    for (Account& account : stored)
        if (account.popPassword.find(',') != std::string::npos) account.popPassword.clear();
    if (!SaveSettings(stored)) ShowBox(Text(texts::main_window::kSettingsNotSaved));
    KeepWindowState();
    FlushLogPane();
    logFile_.Finish();
}

// --- saving a message and its attachments ---------------------------------------

void TMainForm::SaveMessageAs(const QString& path) {
    if (!InState(SessionState::Ready) || FirstSelectedRow() < 0 || path.isEmpty()) return;
    saveArmedPath_ = path;
    ReadButtonClick();
    saveArmedPath_.clear();  // no RETR went out: nothing waits
}

void TMainForm::SaveMessageAsClick() {
    const int row = FirstSelectedRow();
    if (!InState(SessionState::Ready) || row < 0) return;
    const QString path = QFileDialog::getSaveFileName(this, Text(texts::main_window::kSaveMessageTitle),
                                                      QString::fromStdString(RowCaption(row)) + QStringLiteral(".eml"),
                                                      QStringLiteral("*.eml"));
    if (!path.isEmpty()) SaveMessageAs(path);
}

int TMainForm::AttachmentAtLine(int line) {
    // Only once the whole message is in the pane do its last lines match.
    if (!bodyDecoded_ || bodyPendingFrom_ < bodyPending_.size()) return -1;
    if (!attachments_) attachments_ = MessageAttachments(bodyMessage_);
    const int count = static_cast<int>(attachments_->size());
    const int first = bodyBox_->blockCount() - count;
    return line >= first && line < bodyBox_->blockCount() ? line - first : -1;
}

bool TMainForm::SaveAttachmentTo(int index, const QString& path) {
    if (!attachments_ || index < 0 || index >= static_cast<int>(attachments_->size())) return false;
    const std::string& bytes = (*attachments_)[static_cast<std::size_t>(index)].bytes;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (file.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size())) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

void TMainForm::SaveAttachmentClick(int index) {
    if (!attachments_ || index < 0 || index >= static_cast<int>(attachments_->size())) return;
    const QString name = QString::fromStdString(SafeFileName((*attachments_)[static_cast<std::size_t>(index)].name));
    // The dialog asks before it replaces a file.
    const QString path = QFileDialog::getSaveFileName(this, Text(texts::main_window::kSaveAttachmentTitle), name);
    if (!path.isEmpty() && !SaveAttachmentTo(index, path)) ShowBox(Text(texts::main_window::kAttachmentNotSaved));
}

void TMainForm::BodyBoxMenu(const QPoint& pos) {
    const int index = AttachmentAtLine(bodyBox_->cursorForPosition(pos).blockNumber());
    std::unique_ptr<QMenu> menu(bodyBox_->createStandardContextMenu(pos));
    menu->setObjectName(QStringLiteral("BodyPopup"));
    menu->addSeparator();
    QAction* save = menu->addAction(Text(texts::main_window::kSaveAttachmentItem));
    save->setObjectName(QStringLiteral("SaveAttachment"));
    save->setEnabled(index >= 0);
    if (menu->exec(bodyBox_->viewport()->mapToGlobal(pos)) == save) SaveAttachmentClick(index);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == bodyBox_->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const int index = AttachmentAtLine(bodyBox_->cursorForPosition(mouse->position().toPoint()).blockNumber());
        if (index >= 0) {
            SaveAttachmentClick(index);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::RestoreWindowState() {
    const std::optional<WindowState> state = LoadWindowState(WindowStatePath());
    if (state && restoreGeometry(state->geometry)) {
        splitter1_->restoreState(state->listSplitter);
        splitter2_->restoreState(state->logSplitter);
        for (int c = 0; c < MailListModel::kColumns && c < state->columnWidths.size(); ++c)
            mailList_->setColumnWidth(c, state->columnWidths[c]);
        if (state->tab < accountTab_->count()) accountTab_->setCurrentIndex(state->tab);
        return;
    }
    // First run: two thirds of the screen, in its middle.
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        resize(585, 562);
        return;
    }
    const QRect room = screen->availableGeometry();
    const QSize size(std::max(585, room.width() * 2 / 3), std::max(400, room.height() * 2 / 3));
    resize(size.boundedTo(room.size()).expandedTo(minimumSize()));
    move(room.center() - QPoint(width() / 2, height() / 2));
}

void TMainForm::KeepWindowState() {
    WindowState state;
    state.geometry = saveGeometry();
    state.listSplitter = splitter1_->saveState();
    state.logSplitter = splitter2_->saveState();
    for (int c = 0; c < MailListModel::kColumns; ++c) state.columnWidths.push_back(mailList_->columnWidth(c));
    state.tab = std::max(0, accountTab_->currentIndex());
    SaveWindowState(WindowStatePath(), state);
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (!created_) {
        event->accept();
        return;
    }
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}
