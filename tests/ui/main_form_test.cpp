// The main window driven through its widgets, offscreen, against scripted
// loopback POP3 servers.

#include "ui/main_form.h"

#include "accounts/settings.h"
#include "mime/mail_entry.h"
#include "ui/application.h"
#include "ui/mail_list.h"
#include "ui_support.h"

#include <QAbstractItemModel>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTabBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class MainFormTest : public ::testing::Test {
protected:
    std::unique_ptr<TMainForm> MakeForm(const std::vector<Account>& stored, LineFraming::Limits limits = {}) {
        if (!stored.empty()) {
            EXPECT_TRUE(SaveSettings(stored));
        }
        TMainForm::Options options;
        options.logDirectory = home.logs();
        options.limits = limits;
        return std::make_unique<TMainForm>(options);
    }
    template <class T>
    static T* Find(TMainForm& form, const char* name) {
        T* child = form.findChild<T*>(QString::fromLatin1(name));
        if (!child) throw std::runtime_error(std::string("no child ") + name);
        return child;
    }
    static QString Cell(TMainForm& form, int row, int column) {
        QAbstractItemModel* model = Find<MailListView>(form, "MailList")->model();
        return model->data(model->index(row, column)).toString();
    }
    static std::vector<std::string> Captions(TMainForm& form) {
        std::vector<std::string> captions;
        for (int i = 0; i < form.RowCount(); ++i) captions.push_back(form.RowCaption(i));
        return captions;
    }
    static void ClickRow(TMainForm& form, int row, Qt::KeyboardModifiers modifiers = {}) {
        auto* list = Find<MailListView>(form, "MailList");
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers,
                          list->visualRect(list->model()->index(row, 3)).center());
    }
    static bool InState(TMainForm& form, SessionState state) { return form.Session().State() == state; }
    static void Click(TMainForm& form, const char* button) { Find<QPushButton>(form, button)->click(); }
    // Connect to a mailbox serving one connection; waits for Ready and the rows.
    static bool ConnectTo(TMainForm& form, Pop3Mailbox& mailbox, int rows) {
        mailbox.Serve();
        Click(form, "ConnectButton");
        return WaitFor([&] { return InState(form, SessionState::Ready) && form.RowCount() == rows; });
    }
    static bool Disconnect(TMainForm& form) {
        Click(form, "DisconnectButton");
        return WaitFor([&] { return InState(form, SessionState::Idle) && !form.Session().IsConnectionOpen(); });
    }

    TempHome home;
};

const std::vector<std::string> kMessages = {
    JapaneseMessage("GyRCJUYlOSVIGyhC", "GyRCOzNFREJATzobKEI=", "Mon, 7 Dec 2026 10:00:00 +0900", "one"),
    JapaneseMessage("GyRCMnE1RCRON28bKEI=", "GyRCOzNFREJATzobKEI=", "Tue, 8 Dec 2026 10:00:00 +0900", "two"),
    JapaneseMessage("GyRCJDMkcyRLJEEkTxsoQg==", "GyRCOzNFREJATzobKEI=", "Wed, 9 Dec 2026 10:00:00 +0900", "three"),
    JapaneseMessage("GyRCJCpDTiRpJDsbKEI=", "GyRCOzNFREJATzobKEI=", "Thu, 10 Dec 2026 10:00:00 +0900", "four"),
    JapaneseMessage("GyRCJUYlOSVIGyhC", "GyRCOzNFREJATzobKEI=", "Fri, 11 Dec 2026 10:00:00 +0900", "five"),
};

// One whole session: the held header fetch (keys, tabs and closing refused),
// decoded rows, selection, reading with and without the header, a sort that
// a later fill does not undo, deleting three rows while a click tries to
// change them, disconnecting, and the run's log file through to its rename.
TEST_F(MainFormTest, SessionThroughTheWindow) {
    Pop3Mailbox mailbox(kMessages);
    Gate topGate, deleGate;
    mailbox.Hold("TOP 3 0", topGate);
    auto form = MakeForm({LoopbackAccount("first", mailbox.port(), {POPReadHeader, POPAuthBasic, POPUseTop}),
                          LoopbackAccount("second", mailbox.port(), {POPAuthBasic})});
    ASSERT_TRUE(form->FormCreate());
    form->show();
    auto* tabs = Find<QTabBar>(*form, "AccountTab");
    auto* list = Find<MailListView>(*form, "MailList");
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(Find<QPushButton>(*form, "ConnectButton")->text(), QString::fromUtf8("接続(&C)"));

    const std::string runLog = form->LogFile().Path();
    EXPECT_EQ(fs::path(runLog).parent_path().string() + "/", home.logs());
    EXPECT_TRUE(fs::path(runLog).filename().string().starts_with("~Boxsweeper_"));

    mailbox.Serve();
    Click(*form, "ConnectButton");
    ASSERT_TRUE(WaitFor([&] {
        return InState(*form, SessionState::TopSent) && form->RowCount() == 5 && mailbox.Received().back() == "TOP 3 0";
    }));

    // While headers are still coming: no select-all, no Enter, no tab change, no closing.
    list->setFocus();
    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(form->FirstSelectedRow(), -1);
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    QWheelEvent wheel(QPointF(tabs->tabRect(0).center()), QPointF(tabs->mapToGlobal(tabs->tabRect(0).center())),
                      QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(tabs, &wheel);
    QTest::keyClick(tabs, Qt::Key_Right);
    EXPECT_EQ(tabs->currentIndex(), 0);
    QTest::mouseClick(tabs, Qt::RightButton, {}, tabs->tabRect(0).center());
    EXPECT_FALSE(Find<QMenu>(*form, "AccountPopup")->isVisible());
    ModalHandler refusal{ClickOk};
    EXPECT_FALSE(form->close());
    EXPECT_EQ(refusal.seen, std::vector<QString>{QString::fromUtf8("Boxsweeper|接続中は終了できません。")});
    // Every entry is in the file as soon as it is logged.
    EXPECT_NE(ReadFile(runLog).find("USER user\r\n\n+OK\r\n\nPASS ********\n"), std::string::npos) << ReadFile(runLog);

    topGate.Release();
    ASSERT_TRUE(WaitFor([&] { return InState(*form, SessionState::Ready); }));
    EXPECT_EQ(Cell(*form, 0, 3), QString::fromUtf8("テスト"));
    EXPECT_EQ(Cell(*form, 1, 3), QString::fromUtf8("会議の件"));
    EXPECT_EQ(Cell(*form, 4, 4), QString::fromUtf8("山田太郎 <sender@example.jp>"));
    EXPECT_EQ(Cell(*form, 2, 2), QStringLiteral("Wed, 9 Dec 2026 10:00:00 +0900"));

    // Ready: Ctrl+A with any other modifiers selects all; a bottom-up
    // selection still reports the topmost row.
    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(list->selectionModel()->selectedRows().size(), 5);
    EXPECT_TRUE(Find<QPushButton>(*form, "DeleteButton")->isEnabled());
    ClickRow(*form, 3);
    ClickRow(*form, 1, Qt::ControlModifier);
    EXPECT_EQ(form->FirstSelectedRow(), 1);

    // Reading: the body alone, then with the header above it.
    auto* body = Find<QPlainTextEdit>(*form, "BodyBox");
    ClickRow(*form, 1);
    QTest::keyClick(list, Qt::Key_Return);
    ASSERT_TRUE(WaitFor([&] { return InState(*form, SessionState::Ready) && !body->toPlainText().isEmpty(); }));
    EXPECT_EQ(body->toPlainText(), QStringLiteral("two"));
    form->CurrentAccount().popOptions.Set(POPHeaderWithBody);
    Click(*form, "ReadButton");
    ASSERT_TRUE(WaitFor([&] { return InState(*form, SessionState::Ready) && body->blockCount() > 3; }));
    const QStringList lines = body->toPlainText().split(QLatin1Char('\n'));
    EXPECT_TRUE(lines.first().endsWith(QStringLiteral("octets")));
    EXPECT_EQ(lines[1], QStringLiteral("Date: Tue, 8 Dec 2026 10:00:00 +0900"));
    EXPECT_TRUE(lines.contains(QStringLiteral(" ")));
    EXPECT_EQ(lines[lines.size() - 2], QStringLiteral(" "));
    EXPECT_EQ(lines.last(), QStringLiteral("two"));

    // Sort by subject from the popup; its check mark follows; a later fill moves nothing.
    auto* popup = Find<QMenu>(*form, "MailListPopup");
    emit list->customContextMenuRequested(QPoint(5, 5));
    EXPECT_TRUE(popup->isVisible());
    EXPECT_TRUE(Find<QAction>(*form, "SortByNumber")->isChecked());
    popup->hide();
    Find<QAction>(*form, "SortByTitle")->trigger();
    EXPECT_EQ(form->SortTag(), 3);
    emit list->customContextMenuRequested(QPoint(5, 5));
    EXPECT_TRUE(Find<QAction>(*form, "SortByTitle")->isChecked());
    EXPECT_FALSE(Find<QAction>(*form, "SortByNumber")->isChecked());
    popup->hide();
    const std::vector<std::string> sorted = Captions(*form);
    EXPECT_NE(sorted, (std::vector<std::string>{"1", "2", "3", "4", "5"}));
    ClickRow(*form, 4);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(4, 3)).center());
    ASSERT_TRUE(WaitFor([&] { return mailbox.Received().back() == "RETR " + sorted[4]; }));
    ASSERT_TRUE(WaitFor([&] { return InState(*form, SessionState::Ready); }));
    EXPECT_EQ(Captions(*form), sorted);

    // Delete three rows; a click while the second DELE waits changes nothing.
    mailbox.Hold("DELE " + sorted[2], deleGate);
    ClickRow(*form, 1);
    ClickRow(*form, 3, Qt::ShiftModifier);
    QTest::keyClick(list, Qt::Key_Delete);
    ASSERT_TRUE(WaitFor([&] { return mailbox.Received().back() == "DELE " + sorted[2]; }));
    ClickRow(*form, form->RowCount() - 1);
    deleGate.Release();
    ASSERT_TRUE(WaitFor([&] { return InState(*form, SessionState::Ready); }));
    EXPECT_EQ(Captions(*form), (std::vector<std::string>{sorted[0], sorted[4]}));
    std::vector<std::string> deles;
    for (const std::string& line : mailbox.Received())
        if (line.starts_with("DELE ")) deles.push_back(line);
    EXPECT_EQ(deles, (std::vector<std::string>{"DELE " + sorted[1], "DELE " + sorted[2], "DELE " + sorted[3]}));
    EXPECT_EQ(form->FirstSelectedRow(), 1);
    EXPECT_TRUE(body->toPlainText().isEmpty());

    Find<QPushButton>(*form, "DisconnectButton")->click();
    EXPECT_EQ(form->RowCount(), 0);
    ASSERT_TRUE(WaitFor([&] { return InState(*form, SessionState::Idle) && !form->Session().IsConnectionOpen(); }));
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    EXPECT_EQ(tabs->currentIndex(), 1);

    form->FlushLogPane();
    EXPECT_TRUE(Find<QPlainTextEdit>(*form, "LogBox")
                    ->toPlainText()
                    .contains(QStringLiteral("PASS ********\n+OK Logged in.\n")));
    EXPECT_TRUE(form->close());
    EXPECT_EQ(FilesIn(home.logs()), std::vector<std::string>{"Boxsweeper.log"});
    const std::string log = ReadFile(home.logs() + "Boxsweeper.log");
    EXPECT_TRUE(log.starts_with("Program: Boxsweeper 0.33\nDate: ")) << log.substr(0, 80);
    EXPECT_NE(log.find("\n\n[Log]\n+OK ready\r\n\nUSER user\r\n\n"), std::string::npos);
    EXPECT_NE(log.find("QUIT\r\n\n+OK Logging out.\r\n\n"), std::string::npos);
}

// The first-run loop: its close box ends the program without storing
// anything; OK leads to the settings dialog, whose Cancel starts over;
// Escape also ends. Then adding and deleting accounts, and a failed save.
TEST_F(MainFormTest, FirstRunAndAccountCommands) {
    const std::string store = home.path() + "/config/kirabo/Boxsweeper";
    {
        auto form = MakeForm({});
        ModalHandler modals{CloseBox};
        EXPECT_FALSE(form->FormCreate());
        EXPECT_EQ(modals.seen,
                  std::vector<QString>{QString::fromUtf8("Boxsweeper初期設定|初期設定を作成してください")});
    }
    {
        auto form = MakeForm({});
        ModalHandler modals{[](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); }};
        EXPECT_FALSE(form->FormCreate());
    }
    EXPECT_FALSE(fs::exists(store + "/Account"));
    EXPECT_TRUE(FilesIn(home.logs()).empty());

    auto form = MakeForm({});
    ModalHandler modals{ClickOk, Reject, ClickOk, Accept};
    ASSERT_TRUE(form->FormCreate());
    ASSERT_EQ(modals.seen.size(), 4u);
    EXPECT_EQ(modals.seen[2], modals.seen[0]);
    auto* tabs = Find<QTabBar>(*form, "AccountTab");
    ASSERT_EQ(tabs->count(), 1);
    EXPECT_EQ(tabs->tabText(0), QString::fromUtf8("新しいアカウント0"));

    ModalHandler commands{
        Accept,  // the settings dialog of the added account
        [](QWidget* box) { qobject_cast<QMessageBox*>(box)->button(QMessageBox::Cancel)->click(); },
        ClickOk,  // delete confirmed
    };
    Find<QAction>(*form, "AddAccount")->trigger();
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->currentIndex(), 1);
    EXPECT_EQ(tabs->tabText(1), QString::fromUtf8("新しいアカウント1"));
    Find<QAction>(*form, "DeleteAccount")->trigger();
    EXPECT_EQ(tabs->count(), 2);
    Find<QAction>(*form, "DeleteAccount")->trigger();
    EXPECT_EQ(tabs->count(), 1);
    EXPECT_EQ(form->Accounts().size(), 1u);
    EXPECT_EQ(commands.seen[1], QString::fromUtf8("アカウントの削除|本当に削除してよろしいですか？"));
    Find<QAction>(*form, "DeleteAccount")->trigger();  // the last one stays, silently
    EXPECT_EQ(tabs->count(), 1);

    // The store cannot be written: the user is told, and the window still closes.
    fs::remove_all(home.path() + "/config");
    std::ofstream(home.path() + "/config") << "not a directory";
    ModalHandler failure{ClickOk};
    EXPECT_TRUE(form->close());
    EXPECT_EQ(failure.seen, std::vector<QString>{QString::fromUtf8("Boxsweeper|設定を保存できませんでした")});
    EXPECT_EQ(FilesIn(home.logs()), std::vector<std::string>{"Boxsweeper.log"});
}

// The password prompt: cancelling does nothing; an empty text goes ahead
// with one prompt per Connect; a prompted password with a comma serves the
// run but is stored empty.
TEST_F(MainFormTest, PasswordPrompt) {
    Pop3Mailbox mailbox({});
    Account account = LoopbackAccount("a", mailbox.port(), {POPAuthBasic, POPSavePassword});
    account.popPassword.clear();
    auto form = MakeForm({account});
    ASSERT_TRUE(form->FormCreate());

    ModalHandler modals{Reject};
    Click(*form, "ConnectButton");
    EXPECT_EQ(modals.seen.size(), 1u);
    EXPECT_TRUE(InState(*form, SessionState::Idle));
    EXPECT_TRUE(Find<QPushButton>(*form, "ConnectButton")->isEnabled());
    EXPECT_FALSE(form->Session().IsConnectionOpen());

    mailbox.Serve();
    ModalHandler again{Accept};
    Click(*form, "ConnectButton");
    ASSERT_TRUE(WaitFor([&] { return InState(*form, SessionState::Ready); }));
    EXPECT_EQ(again.seen.size(), 1u);
    EXPECT_EQ(mailbox.Received(), (std::vector<std::string>{"USER user", "PASS ", "LIST"}));
    ASSERT_TRUE(Disconnect(*form));

    form->CurrentAccount().popPassword = "pa,ss";
    EXPECT_TRUE(form->close());
    const std::vector<Account> stored = LoadSettings();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].popPassword, "");
    EXPECT_EQ(stored[0].popPort, mailbox.port());
}

// The connection's tasks run one at a time: a task's message box holds the
// tasks behind it until it is closed. An exception escaping a handler is
// shown in a box and the program goes on.
TEST_F(MainFormTest, TasksWaitForAMessageBoxAndSurviveExceptions) {
    auto form = MakeForm({LoopbackAccount("a", 1, {})});
    ASSERT_TRUE(form->FormCreate());
    auto& app = *static_cast<BoxsweeperApplication*>(QApplication::instance());
    const int caughtBefore = app.caughtExceptions();

    bool later = false, laterSeenWhileBoxOpen = true, last = false;
    ModalHandler modals;
    modals.Expect([&](QWidget* box) {
        // Give the held task every chance to run before looking.
        QTimer::singleShot(100, box, [&, box] {
            laterSeenWhileBoxOpen = later;
            ClickOk(box);
        });
    });
    modals.Expect(ClickOk);
    form->PostTask([&] { form->ShowMessage("first"); });
    form->PostTask([&] { later = true; });
    form->PostTask([] { throw std::runtime_error("boom"); });
    form->PostTask([&] { last = true; });
    ASSERT_TRUE(WaitFor([&] { return last; }));
    EXPECT_FALSE(laterSeenWhileBoxOpen);
    EXPECT_TRUE(later);
    EXPECT_EQ(app.caughtExceptions(), caughtBefore + 1);
    EXPECT_EQ(modals.seen,
              (std::vector<QString>{QStringLiteral("Boxsweeper|first"), QStringLiteral("Boxsweeper|boom")}));
    ASSERT_EQ(modals.boxes.size(), 2u);
    EXPECT_EQ(modals.boxes[0].format, Qt::PlainText);  // a server's markup stays text
    EXPECT_EQ(modals.boxes[1].format, Qt::PlainText);
}

// A stream of tasks that post the next one as they run (a fast transfer)
// still lets timers fire between them, and the tasks keep their order.
TEST_F(MainFormTest, TasksLeaveTimersTheirTurn) {
    auto form = MakeForm({LoopbackAccount("a", 1, {})});
    ASSERT_TRUE(form->FormCreate());
    constexpr int kTasks = 150;
    std::vector<int> ran;
    int ticksDuringStream = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout,
                     [&] { ticksDuringStream += static_cast<int>(ran.size()) < kTasks ? 1 : 0; });
    timer.start(10);
    std::function<void(int)> post = [&](int n) {
        form->PostTask([&, n] {
            ran.push_back(n);
            std::this_thread::sleep_for(2ms);
            if (n + 1 < kTasks) post(n + 1);
        });
    };
    post(0);
    ASSERT_TRUE(WaitFor([&] { return static_cast<int>(ran.size()) == kTasks; }));
    std::vector<int> inOrder(kTasks);
    std::iota(inOrder.begin(), inOrder.end(), 0);
    EXPECT_EQ(ran, inOrder);
    EXPECT_GT(ticksDuringStream, 0);
}

// A burst of log entries (a long listing) reaches the pane in pieces, the
// window answering between them, and ends as one flush would leave it.
TEST_F(MainFormTest, LogPaneTakesABurstInPieces) {
    auto form = MakeForm({LoopbackAccount("a", 1, {})});
    ASSERT_TRUE(form->FormCreate());
    auto* pane = Find<QPlainTextEdit>(*form, "LogBox");
    constexpr int kEntries = 30, kLines = 1000;
    QStringList expected;
    for (int e = 0; e < kEntries; ++e) {
        std::string entry;
        for (int l = 0; l < kLines; ++l) entry += (l ? "\n" : "") + std::to_string(e) + "." + std::to_string(l);
        form->AppendLog(entry);
        expected.push_back(QString::fromStdString(entry));
    }
    std::set<int> seen;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] { seen.insert(pane->blockCount()); });
    probe.start(1);
    ASSERT_TRUE(WaitFor([&] { return pane->blockCount() == kEntries * kLines; }));
    EXPECT_GT(seen.size(), 3u);
    EXPECT_EQ(pane->toPlainText(), expected.join(QLatin1Char('\n')));
}

// The log pane against the run's file: entries, clearing, the cut of a very
// long entry, saving with its own header; the file's name on a clash and
// its fallback directory.
TEST_F(MainFormTest, LogPaneAndFiles) {
    auto form = MakeForm({LoopbackAccount("a", 1, {})});
    ASSERT_TRUE(form->FormCreate());
    const std::string saved = home.path() + "/saved.log";
    ASSERT_TRUE(form->SaveLogTo(QString::fromStdString(saved)));
    std::string text = ReadFile(saved);
    EXPECT_TRUE(text.starts_with("Program: Boxsweeper 0.30\nDate: "));
    EXPECT_TRUE(text.ends_with("\n\n[Log]\n")) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4);

    form->AppendLog("gone");
    Find<QAction>(*form, "ClearLog")->trigger();
    form->AppendLog("+OK a\r\nline2");
    form->AppendLog("\x93\xfa\x96\x7b");                                      // 日本 in Shift_JIS
    const std::string raw("\x1b$B$3$s$K$A$O\x1b(B a\rb\0c\x1b\x7f\x81", 25);  // こんにちは in ISO-2022-JP
    form->AppendLog(raw);
    form->FlushLogPane();
    // The pane decodes for the eye; a saved log has the bytes as they came.
    EXPECT_EQ(Find<QPlainTextEdit>(*form, "LogBox")->toPlainText(),
              QString::fromUtf8("+OK a\nline2\n日本\nこんにちは a␍b␀c␛␡\uFFFD"));
    ASSERT_TRUE(form->SaveLogTo(QString::fromStdString(saved)));
    text = ReadFile(saved);
    EXPECT_TRUE(text.ends_with("\n\n[Log]\n+OK a\r\nline2\n\x93\xfa\x96\x7b\n" + raw + "\n")) << text;
    // It holds whole messages: for the owner only, like the run's file.
    EXPECT_EQ(fs::status(saved).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(
        ReadFile(form->LogFile().Path()).ends_with("[Log]\ngone\n+OK a\r\nline2\n\x93\xfa\x96\x7b\n" + raw + "\n"));

    const std::string huge(TMainForm::kPaneEntryLimit + 1000, 'x');
    form->AppendLog(huge);
    form->FlushLogPane();
    EXPECT_TRUE(Find<QPlainTextEdit>(*form, "LogBox")
                    ->toPlainText()
                    .endsWith(QStringLiteral("x\n... (1000 more bytes in the run's log file)")));
    EXPECT_TRUE(ReadFile(form->LogFile().Path()).ends_with(huge + "\n"));
    EXPECT_FALSE(form->SaveLogTo(QString::fromStdString(home.path() + "/missing/dir/x.log")));

    // Two runs in one second never share a file.
    const QDateTime now = QDateTime::currentDateTime().addSecs(-3600);
    SessionLogFile one, two;
    ASSERT_TRUE(one.Start(home.logs(), now));
    ASSERT_TRUE(two.Start(home.logs(), now));
    EXPECT_NE(one.Path(), two.Path());
    EXPECT_TRUE(two.Path().ends_with("_2.log"));
    EXPECT_EQ(fs::path(one.Path()).filename().string(),
              "~Boxsweeper_" + now.toString(QStringLiteral("yyyyMMddHHmmss")).toStdString() + ".log");
    EXPECT_EQ(DefaultLogDirectory(home.path() + "/no such directory"), home.path() + "/state/Boxsweeper/");
    // Beside the program only in its build tree; an installed one (no
    // CMakeCache.txt above it) logs to the state directory even when it
    // could write beside itself.
    EXPECT_EQ(DefaultLogDirectory(home.logs()), home.path() + "/state/Boxsweeper/");
    std::ofstream(home.path() + "/CMakeCache.txt") << "";
    EXPECT_EQ(DefaultLogDirectory(home.logs()), home.logs());
}

// A long message: the pane shows its first part and a line saying how much
// only the run's file holds; the file gets every byte; BodyBox ends up with
// the whole message, filled a piece at a time.
TEST_F(MainFormTest, LongMessageReachesBodyWholeAndPaneCut) {
    std::string body;
    for (int i = 0; i < 40000; ++i)
        body += "line " + std::to_string(i) + " 0123456789012345678901234567890123456789\r\n";
    Pop3Mailbox mailbox({"Subject: long\r\n\r\n" + body});
    auto form = MakeForm({LoopbackAccount("a", mailbox.port(), {POPAuthBasic})});
    ASSERT_TRUE(form->FormCreate());
    ASSERT_TRUE(ConnectTo(*form, mailbox, 1));
    form->SelectRow(0);
    Click(*form, "ReadButton");
    auto* bodyBox = Find<QPlainTextEdit>(*form, "BodyBox");
    ASSERT_TRUE(WaitFor([&] { return InState(*form, SessionState::Ready) && bodyBox->blockCount() >= 40000; }));
    EXPECT_TRUE(bodyBox->toPlainText().endsWith(QStringLiteral("line 39999 0123456789012345678901234567890123456789")));
    form->FlushLogPane();
    const QString pane = Find<QPlainTextEdit>(*form, "LogBox")->toPlainText();
    EXPECT_LT(pane.size(), 400 * 1024);
    EXPECT_TRUE(pane.contains(QStringLiteral("more bytes of this message in the run's log file)")));
    EXPECT_NE(ReadFile(form->LogFile().Path()).find("line 39999 0123456789"), std::string::npos);
    ASSERT_TRUE(Disconnect(*form));
}

// Today's mail: with MIME decoding the row and the pane show UTF-8 text that
// Shift_JIS cannot hold, and the attachment as one line; without it, the
// same message reads as it always has.
TEST_F(MainFormTest, ModernMailDecodedOnlyWithTheAccountsBit) {
    const std::string modern =
        "From: =?UTF-8?B?5bGx55Sw?= <yamada@example.jp>\r\n"
        "Subject: =?utf-8?q?=F0=9F=8E=89_=E3=81=8A=E7=A5=9D=E3=81=84?=\r\n"
        "Date: Tue, 8 Dec 2026 10:00:00 +0900\r\n"
        "MIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
        "--b\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        "8KCut+OBp+OBmQ==\r\n"  // 𠮷です
        "--b\r\nContent-Type: application/pdf; name=\"a.pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        "AAECAw==\r\n--b--\r\n";
    Pop3Mailbox mailbox({modern});
    auto form =
        MakeForm({LoopbackAccount("modern", mailbox.port(), {POPReadHeader, POPAuthBasic, POPUseTop, POPDecodeMime}),
                  LoopbackAccount("classic", mailbox.port(), {POPReadHeader, POPAuthBasic, POPUseTop})});
    ASSERT_TRUE(form->FormCreate());
    form->show();
    auto* body = Find<QPlainTextEdit>(*form, "BodyBox");
    const struct {
        int tab;
        QString subject, sender;
        QStringList pane;
    } cases[] = {
        {0,
         QString::fromUtf8("🎉 お祝い"),
         QString::fromUtf8("山田 <yamada@example.jp>"),
         {QString::fromUtf8("𠮷です"), QString::fromUtf8("[添付] a.pdf (application/pdf, 4 bytes)")}},
        {1,
         QStringLiteral("=?utf-8?q?=F0=9F=8E=89_=E3=81=8A=E7=A5=9D=E3=81=84?="),
         QStringLiteral("=?UTF-8?B?5bGx55Sw?= <yamada@example.jp>"),
         {QStringLiteral("8KCut+OBp+OBmQ==")}},
    };
    for (const auto& c : cases) {
        Find<QTabBar>(*form, "AccountTab")->setCurrentIndex(c.tab);
        ASSERT_TRUE(ConnectTo(*form, mailbox, 1));
        EXPECT_EQ(Cell(*form, 0, 3), c.subject);
        EXPECT_EQ(Cell(*form, 0, 4), c.sender);
        ClickRow(*form, 0);
        Click(*form, "ReadButton");
        ASSERT_TRUE(WaitFor([&] { return InState(*form, SessionState::Ready) && !body->toPlainText().isEmpty(); }));
        for (const QString& line : c.pane)
            EXPECT_TRUE(body->toPlainText().contains(line)) << line.toStdString() << "\n"
                                                            << body->toPlainText().toStdString();
        ASSERT_TRUE(Disconnect(*form));
    }
}

// The pane keeps the newest entries only and says so on its first line;
// the run's file keeps them all.
TEST_F(MainFormTest, LogPaneDropsItsOldestEntries) {
    auto form = MakeForm({LoopbackAccount("a", 1, {})});
    ASSERT_TRUE(form->FormCreate());
    auto* pane = Find<QPlainTextEdit>(*form, "LogBox");
    const QString notice = QString::fromUtf8("（古いログを表示から省きました）");
    const int limit = static_cast<int>(TMainForm::kPaneEntries);
    auto append = [&](int from, int to) {
        for (int i = from; i < to; ++i)
            form->AppendLog(i % 2 ? "e" + std::to_string(i) : "e" + std::to_string(i) + "\r\nx");
        form->FlushLogPane();
    };
    struct Step {
        int to;         // entries appended so far
        int firstKept;  // the oldest entry still shown
    };
    const Step steps[] = {{limit, 0}, {limit + 6, 6}, {limit + 8, 8}, {3 * limit, 2 * limit}};
    int from = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.to);
        append(from, step.to);
        from = step.to;
        const QTextDocument* document = pane->document();
        const bool dropped = step.firstKept > 0;
        EXPECT_EQ(document->firstBlock().text() == notice, dropped);
        EXPECT_EQ(document->findBlockByNumber(dropped ? 1 : 0).text(), QStringLiteral("e%1").arg(step.firstKept));
        EXPECT_EQ(document->blockCount(), (dropped ? 1 : 0) + limit / 2 * 3);
        EXPECT_EQ(document->lastBlock().text(), QStringLiteral("e%1").arg(step.to - 1));
    }
    EXPECT_NE(ReadFile(form->LogFile().Path()).find("[Log]\ne0\r\nx\ne1\n"), std::string::npos);
    // A saved log holds the entries the pane holds, from the oldest shown.
    const std::string saved = home.path() + "/saved.log";
    ASSERT_TRUE(form->SaveLogTo(QString::fromStdString(saved)));
    const std::string text = ReadFile(saved);
    const std::string firstKept = "[Log]\ne" + std::to_string(2 * limit) + "\r\nx\n";
    EXPECT_NE(text.find(firstKept), std::string::npos);
    EXPECT_TRUE(text.ends_with("\ne" + std::to_string(3 * limit - 1) + "\n"));
    Find<QAction>(*form, "ClearLog")->trigger();
    append(0, 1);
    EXPECT_EQ(pane->toPlainText(), QStringLiteral("e0\nx"));
}

// A reply past a limit (small here) ends the connection with the box; the
// rows stay as after any error.
TEST_F(MainFormTest, TooLargeReplyShowsTheBoxAndKeepsTheRows) {
    std::string body;
    for (int i = 0; i < 100; ++i) body += "line " + std::to_string(i) + " of a message too large here\r\n";
    Pop3Mailbox mailbox({kMessages[0], "Subject: big\r\n\r\n" + body, kMessages[1]});
    LineFraming::Limits limits;
    limits.reply = 2000;
    auto form = MakeForm({LoopbackAccount("a", mailbox.port(), {POPAuthBasic})}, limits);
    ASSERT_TRUE(form->FormCreate());
    ASSERT_TRUE(ConnectTo(*form, mailbox, 3));
    ModalHandler modals{ClickOk};
    form->SelectRow(1);
    Click(*form, "ReadButton");
    ASSERT_TRUE(WaitFor([&] { return modals.Done() && InState(*form, SessionState::Idle); }));
    ASSERT_EQ(modals.seen.size(), 1u);
    EXPECT_TRUE(modals.seen[0].startsWith(QString::fromUtf8("Boxsweeper|サーバーの応答が大きすぎます（")))
        << modals.seen[0].toStdString();
    EXPECT_TRUE(modals.seen[0].endsWith(QString::fromUtf8(" バイト）"))) << modals.seen[0].toStdString();
    EXPECT_EQ(Captions(*form), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_TRUE(Find<QPushButton>(*form, "ConnectButton")->isEnabled());
    form->FlushLogPane();
    EXPECT_NE(ReadFile(form->LogFile().Path()).find("\nError.\nDisconnected.\n"), std::string::npos);
}

// Local dates: the cell shows local time with the header in its tool-tip,
// and the date sort goes by the point in time; with the bit clear the text
// and the text sort as before.
TEST_F(MainFormTest, LocalDatesOnlyWithTheAccountsBit) {
    const char* saved = std::getenv("TZ");
    const std::string before = saved ? saved : "";
    ::setenv("TZ", "JST-9", 1);
    ::tzset();
    const std::vector<std::string> dates = {"Mon, 7 Dec 2026 18:30:00 -0500", "Wed someday",
                                            "Tue, 8 Dec 2026 08:00:00 +0900", "Mon, 7 Dec 2026 15:10 PST"};
    std::vector<std::string> messages;
    for (const std::string& date : dates) messages.push_back(JapaneseMessage("GyRCJUYlOSVIGyhC", "", date, "x"));
    Pop3Mailbox mailbox(messages);
    auto form =
        MakeForm({LoopbackAccount("local", mailbox.port(), {POPReadHeader, POPAuthBasic, POPUseTop, POPLocalDates}),
                  LoopbackAccount("raw", mailbox.port(), {POPReadHeader, POPAuthBasic, POPUseTop})});
    ASSERT_TRUE(form->FormCreate());
    form->show();
    QAbstractItemModel* model = Find<MailListView>(*form, "MailList")->model();
    auto tip = [&](int row) { return model->data(model->index(row, 2), Qt::ToolTipRole).toString(); };
    auto sortByDate = [&] { form->SortByXClick(Find<QAction>(*form, "SortByDate")); };

    ASSERT_TRUE(ConnectTo(*form, mailbox, 4));
    EXPECT_EQ(Cell(*form, 0, 2), QStringLiteral("2026/12/08 08:30"));
    EXPECT_EQ(tip(0), QString::fromStdString(dates[0]));
    EXPECT_EQ(Cell(*form, 1, 2), QStringLiteral("Wed someday"));
    EXPECT_EQ(tip(1), QString());
    sortByDate();
    EXPECT_EQ(Captions(*form), (std::vector<std::string>{"3", "4", "1", "2"}));
    EXPECT_EQ(Cell(*form, 1, 2), QStringLiteral("2026/12/08 08:10"));
    ASSERT_TRUE(Disconnect(*form));

    Find<QTabBar>(*form, "AccountTab")->setCurrentIndex(1);
    ASSERT_TRUE(ConnectTo(*form, mailbox, 4));
    EXPECT_EQ(Cell(*form, 0, 2), QString::fromStdString(dates[0]));
    EXPECT_EQ(tip(0), QString());
    sortByDate();
    EXPECT_EQ(Captions(*form), (std::vector<std::string>{"4", "1", "3", "2"}));
    ASSERT_TRUE(Disconnect(*form));
    saved ? ::setenv("TZ", before.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
}

// The window keeps its place, sizes, columns and tab in window.ini; the
// first run and a corrupt file give a size that suits the screen.
TEST_F(MainFormTest, WindowStateIsKeptBetweenRuns) {
    const std::vector<Account> accounts = {LoopbackAccount("a", 1, {}), LoopbackAccount("b", 1, {})};
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize firstSize =
        QSize(std::max(585, room.width() * 2 / 3), std::max(400, room.height() * 2 / 3)).boundedTo(room.size());
    auto firstRun = [&](const char* what) {
        auto form = MakeForm(accounts);
        ASSERT_TRUE(form->FormCreate());
        form->show();
        QApplication::processEvents();
        EXPECT_EQ(form->size(), firstSize) << what;
        const QList<int> panes = Find<QSplitter>(*form, "Splitter1")->sizes();
        EXPECT_GE(panes[0], panes[1]) << what;
        EXPECT_EQ(Find<QTabBar>(*form, "AccountTab")->currentIndex(), 0) << what;
        auto* list = Find<MailListView>(*form, "MailList");
        EXPECT_GE(list->columnWidth(2), list->fontMetrics().horizontalAdvance("Mon, 07 Dec 2026 09:12:34 +0900"));
    };
    firstRun("first run");

    {
        auto form = MakeForm(accounts);
        ASSERT_TRUE(form->FormCreate());
        form->show();
        form->resize(700, 480);
        Find<MailListView>(*form, "MailList")->setColumnWidth(3, 321);
        Find<QSplitter>(*form, "Splitter1")->setSizes({50, 250});
        Find<QTabBar>(*form, "AccountTab")->setCurrentIndex(1);
        QApplication::processEvents();
        ASSERT_TRUE(form->close());
    }
    const QString ini = QString::fromStdString(home.path()) + QStringLiteral("/config/kirabo/Boxsweeper/window.ini");
    ASSERT_TRUE(QFile::exists(ini));
    {
        auto form = MakeForm(accounts);
        ASSERT_TRUE(form->FormCreate());
        form->show();
        QApplication::processEvents();
        EXPECT_EQ(form->size(), QSize(700, 480));
        EXPECT_EQ(Find<MailListView>(*form, "MailList")->columnWidth(3), 321);
        const QList<int> panes = Find<QSplitter>(*form, "Splitter1")->sizes();
        EXPECT_LT(panes[0] * 3, panes[1]);
        EXPECT_EQ(Find<QTabBar>(*form, "AccountTab")->currentIndex(), 1);
        EXPECT_EQ(form->CurrentAccount().name, "b");
    }

    for (const char* bytes : {"\x01\xff[[[\n=garbage\n", "format=1\n[MainForm]\ngeometry=junk\ntab=1\n",
                              "format=1\n[MainForm]\ntab=-3\n"}) {
        QFile file(ini);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();
        firstRun(bytes);
    }
}

// 名前を付けて保存 writes the server's message (dot-stuffing undone, CR LF)
// without touching the pane; an attachment line saves the decoded bytes.
TEST_F(MainFormTest, SavingAMessageAndAnAttachment) {
    const std::string message =
        "Subject: s\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
        "--b\r\nContent-Type: text/plain\r\n\r\n.starts with a dot\r\n"
        "--b\r\nContent-Type: application/octet-stream; name=\"../../.bashrc\"\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\nAAECAw==\r\n--b--\r\n";
    Pop3Mailbox mailbox({message});
    auto form =
        MakeForm({LoopbackAccount("a", mailbox.port(), {POPReadHeader, POPAuthBasic, POPUseTop, POPDecodeMime})});
    ASSERT_TRUE(form->FormCreate());
    form->show();
    ASSERT_TRUE(ConnectTo(*form, mailbox, 1));
    auto* body = Find<QPlainTextEdit>(*form, "BodyBox");
    const std::string eml = home.path() + "/m.eml";
    form->SaveMessageAs(QString::fromStdString(eml));  // nothing selected: nothing sent
    form->SelectRow(0);
    form->SaveMessageAs(QString::fromStdString(eml));
    ASSERT_TRUE(WaitFor([&] { return InState(*form, SessionState::Ready) && fs::exists(eml); }));
    EXPECT_EQ(ReadFile(eml), message);
    EXPECT_TRUE(body->toPlainText().isEmpty());
    const std::vector<std::string> sent = mailbox.Received();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "RETR 1"), 1);

    Click(*form, "ReadButton");  // an ordinary read after a save shows the message
    ASSERT_TRUE(WaitFor([&] { return InState(*form, SessionState::Ready) && !body->toPlainText().isEmpty(); }));
    EXPECT_EQ(body->toPlainText(),
              QStringLiteral(".starts with a dot\n[添付] ../../.bashrc (application/octet-stream, 4 bytes)"));
    EXPECT_EQ(form->AttachmentAtLine(0), -1);
    ASSERT_EQ(form->AttachmentAtLine(1), 0);
    const std::string saved = home.path() + "/bashrc";
    ASSERT_TRUE(form->SaveAttachmentTo(0, QString::fromStdString(saved)));
    EXPECT_EQ(ReadFile(saved), std::string("\0\1\2\3", 4));
    EXPECT_FALSE(form->SaveAttachmentTo(1, QString::fromStdString(saved)));
    ASSERT_TRUE(Disconnect(*form));
    EXPECT_EQ(form->AttachmentAtLine(0), -1);
}

// Tab reaches every enabled control in reading order and comes round again;
// the list, the panes and the buttons carry names for screen readers.
TEST_F(MainFormTest, KeyboardOrderAndAccessibleNames) {
    auto form = MakeForm({LoopbackAccount("a", 1, {})});
    ASSERT_TRUE(form->FormCreate());
    form->show();
    QApplication::setActiveWindow(form.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    Find<QTabBar>(*form, "AccountTab")->setFocus();
    QStringList visited;
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    EXPECT_EQ(visited, (QStringList{"ConnectButton", "SendButton", "MailList", "BodyBox", "LogBox", "AccountTab"}));
    for (const char* name : {"ConnectButton", "DisconnectButton", "ReadButton", "DeleteButton", "SendButton"}) {
        const QString text = Find<QPushButton>(*form, name)->text();
        EXPECT_TRUE(text.contains(QLatin1Char('&'))) << name;
    }
    EXPECT_EQ(Find<MailListView>(*form, "MailList")->accessibleName(), QStringLiteral("メール一覧"));
    EXPECT_EQ(Find<QPlainTextEdit>(*form, "BodyBox")->accessibleName(), QStringLiteral("本文"));
    EXPECT_EQ(Find<QPushButton>(*form, "ReadButton")->accessibleName(), QStringLiteral("読む"));
}

}  // namespace
