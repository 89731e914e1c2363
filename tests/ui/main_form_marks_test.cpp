// The window with marks: the 状態 column, bold and muted rows, the counts
// panel, sorting by state and the sweep with its question; and with both
// bits clear, the window as it always was.

#include "accounts/settings.h"
#include "core/mail_marks.h"
#include "ui/mail_list.h"
#include "ui/main_form.h"
#include "ui/setting_form.h"
#include "ui_support.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QFont>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <utility>

namespace {

namespace fs = std::filesystem;

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

class MainFormMarks : public ::testing::Test {
protected:
    std::unique_ptr<TMainForm> Open(std::initializer_list<int> bits) {
        EXPECT_TRUE(SaveSettings({LoopbackAccount("marks", mailbox.port(), bits)}));
        TMainForm::Options options;
        options.logDirectory = home.logs();
        auto form = std::make_unique<TMainForm>(options);
        EXPECT_TRUE(form->FormCreate());
        form->show();
        return form;
    }
    template <class T>
    static T* Find(TMainForm& form, const char* name) {
        T* child = form.findChild<T*>(QString::fromLatin1(name));
        if (!child) throw std::runtime_error(std::string("no child ") + name);
        return child;
    }
    static QAbstractItemModel* Model(TMainForm& form) { return Find<MailListView>(form, "MailList")->model(); }
    static QVariant Data(TMainForm& form, int row, int column, int role = Qt::DisplayRole) {
        return Model(form)->data(Model(form)->index(row, column), role);
    }
    static std::vector<QString> States(TMainForm& form) {
        std::vector<QString> states;
        for (int row = 0; row < form.RowCount(); ++row) states.push_back(Data(form, row, 5).toString());
        return states;
    }
    bool ConnectToReady(TMainForm& form) {
        mailbox.Serve();
        Find<QPushButton>(form, "ConnectButton")->click();
        return WaitFor([&] { return form.Session().State() == SessionState::Ready && form.RowCount() == 5; });
    }
    bool Disconnect(TMainForm& form) {
        Find<QPushButton>(form, "DisconnectButton")->click();
        return WaitFor(
            [&] { return form.Session().State() == SessionState::Idle && !form.Session().IsConnectionOpen(); });
    }
    int Sent(const std::string& start) {
        int count = 0;
        for (const std::string& line : mailbox.Received()) count += line.starts_with(start);
        return count;
    }
    std::string SeenDir() const { return home.path() + "/state/Boxsweeper/seen"; }

    TempHome home;
    Pop3Mailbox mailbox{{"Subject: a\r\n\r\n1\r\n", "Subject: b\r\n\r\n2\r\n", "Subject: c\r\n\r\n3\r\n",
                         "Subject: d\r\n\r\n4\r\n", "Subject: e\r\n\r\n5\r\n"}};
};

TEST_F(MainFormMarks, BitsClearLeaveTheWindowAsItWas) {
    auto form = Open({POPAuthBasic, POPReadHeader, POPUseTop});
    ASSERT_TRUE(ConnectToReady(*form));
    EXPECT_EQ(Model(*form)->columnCount(), 5);
    EXPECT_FALSE(Find<QPushButton>(*form, "SweepButton")->isVisible());
    EXPECT_FALSE(Find<QAction>(*form, "SortByState")->isVisible());
    EXPECT_FALSE(Find<QLabel>(*form, "MarkCounts")->isVisible());
    EXPECT_FALSE(Data(*form, 0, 0, Qt::FontRole).isValid());
    ASSERT_TRUE(Disconnect(*form));
    EXPECT_EQ(Sent("UIDL"), 0);
    EXPECT_FALSE(fs::exists(SeenDir()));
}

TEST_F(MainFormMarks, MarksShowAndTheSweepDeletesExactlyTheJunkRows) {
    auto form = Open({POPAuthBasic, POPReadHeader, POPUseTop, POPMarkNew});
    form->SetRuleNames([](std::uint32_t rule) { return "rule" + std::to_string(rule); });
    ASSERT_TRUE(ConnectToReady(*form));
    EXPECT_EQ(Model(*form)->columnCount(), 6);
    EXPECT_EQ(Model(*form)->headerData(5, Qt::Horizontal).toString(), U("状態"));
    EXPECT_EQ(States(*form), std::vector<QString>(5, U("新着")));
    EXPECT_TRUE(Data(*form, 2, 3, Qt::FontRole).value<QFont>().bold());
    EXPECT_FALSE(Data(*form, 2, 3, Qt::ForegroundRole).isValid());
    auto* counts = Find<QLabel>(*form, "MarkCounts");
    EXPECT_EQ(counts->text(), U("新着 5 通・迷惑 0 通"));
    auto* sweep = Find<QPushButton>(*form, "SweepButton");
    EXPECT_TRUE(sweep->isVisible());
    EXPECT_FALSE(sweep->isEnabled());
    EXPECT_TRUE(fs::exists(SeenDir() + "/" + form->CurrentAccount().id));
    ASSERT_TRUE(Disconnect(*form));

    // The second check: nothing new. Rules (set here by hand) mark rows 2
    // and 4 junk and row 3 a friend; the column, looks and counts follow.
    ASSERT_TRUE(ConnectToReady(*form));
    EXPECT_EQ(States(*form), std::vector<QString>(5, QString()));
    EXPECT_FALSE(Data(*form, 0, 0, Qt::FontRole).isValid());
    Mailbox& box = form->Session().Mailbox();
    box.SetFlags(1, kMarkJunk);
    box.SetJunkRule(1, 7);
    box.SetFlags(3, kMarkJunk);
    box.SetJunkRule(3, 2);
    box.SetFlags(2, kMarkFriend);
    box.SetFlags(4, kMarkNew | kMarkFriend);
    box.NotifyMarked(1, 4);
    EXPECT_EQ(States(*form), (std::vector<QString>{"", U("迷惑:rule7"), U("友人"), U("迷惑:rule2"), U("新着・友人")}));
    EXPECT_TRUE(Data(*form, 1, 0, Qt::ForegroundRole).isValid());
    EXPECT_FALSE(Data(*form, 2, 0, Qt::ForegroundRole).isValid());
    EXPECT_EQ(counts->text(), U("新着 1 通・迷惑 2 通"));
    EXPECT_TRUE(sweep->isEnabled());

    // Sorting by state: texts in order, the row without one last.
    Find<QAction>(*form, "SortByState")->trigger();
    EXPECT_EQ(form->SortTag(), 5);
    const std::vector<QString> sorted = States(*form);
    EXPECT_EQ(sorted.back(), QString());
    EXPECT_EQ(std::count(sorted.begin(), sorted.end(), QString()), 1);
    EXPECT_EQ(form->RowCaption(4), "1");

    // No: nothing is sent, nothing changes.
    const QString question = U("迷惑メール 2 通をサーバーから削除します。よろしいですか？");
    {
        ModalHandler modals{[](QWidget* w) { qobject_cast<QMessageBox*>(w)->button(QMessageBox::No)->click(); }};
        sweep->click();
        EXPECT_EQ(modals.seen, std::vector<QString>{U("Boxsweeper|") + question});
        ASSERT_EQ(modals.boxes.size(), 1u);
        EXPECT_EQ(modals.boxes[0].buttons, 2);
    }
    EXPECT_EQ(form->RowCount(), 5);
    EXPECT_EQ(Sent("DELE"), 0);

    // Yes: the junk rows at that moment go, the friend stays.
    {
        ModalHandler modals{[](QWidget* w) { qobject_cast<QMessageBox*>(w)->button(QMessageBox::Yes)->click(); }};
        sweep->click();
        EXPECT_TRUE(modals.Done());
    }
    ASSERT_TRUE(WaitFor([&] { return form->Session().State() == SessionState::Ready && form->RowCount() == 3; }));
    EXPECT_EQ(Sent("DELE 2"), 1);
    EXPECT_EQ(Sent("DELE 4"), 1);
    EXPECT_EQ(Sent("DELE"), 2);
    EXPECT_FALSE(sweep->isEnabled());
    EXPECT_EQ(counts->text(), U("新着 1 通・迷惑 0 通"));
    ASSERT_TRUE(Disconnect(*form));
    EXPECT_TRUE(counts->text().isEmpty());
}

TEST_F(MainFormMarks, CheckBoxesEditTheirBits) {
    Account account = NewAccount(0);
    EXPECT_TRUE(account.popOptions.Test(POPMarkNew) && account.popOptions.Test(POPApplyRules));
    for (std::uint32_t bits : {1u << POPMarkNew, 1u << POPApplyRules, 0u}) {
        SCOPED_TRACE(bits);
        account.popOptions.FromNumber((1u << POPAutoSetting) | bits);
        TSettingForm form(nullptr, account);
        for (const auto& [name, bit, text] :
             {std::tuple{"POPMarkNew", POPMarkNew, "新着メールに印を付ける"},
              std::tuple{"POPApplyRules", POPApplyRules, "規則で迷惑メールに印を付ける"}}) {
            auto* box = form.findChild<QCheckBox*>(QString::fromLatin1(name));
            ASSERT_TRUE(box);
            EXPECT_EQ(box->text(), U(text));
            EXPECT_EQ(box->isChecked(), ((bits >> bit) & 1) != 0);
            EXPECT_TRUE(box->isEnabled());  // whatever the automatic box says
            box->click();
        }
        form.accept();
        EXPECT_EQ(account.popOptions.Test(POPMarkNew), ((bits >> POPMarkNew) & 1) == 0);
        EXPECT_EQ(account.popOptions.Test(POPApplyRules), ((bits >> POPApplyRules) & 1) == 0);
    }
}

}  // namespace
