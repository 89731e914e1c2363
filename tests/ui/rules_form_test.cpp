#include "ui/rules_form.h"
#include "accounts/settings.h"
#include "core/rules_store.h"
#include "ui/mail_list.h"
#include "ui/main_form.h"
#include "ui_support.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

template <class T>
T* Child(QWidget& parent, const char* name) {
    T* child = parent.findChild<T*>(QString::fromLatin1(name));
    if (!child) throw std::runtime_error(std::string("no child ") + name);
    return child;
}

QStringList RowTexts(QTreeWidget* list, int row) {
    QStringList texts;
    for (int c = 0; c < 5; ++c) texts << list->topLevelItem(row)->text(c);
    return texts;
}

TEST(RulesFormTest, ShowsRulesInJapaneseAndKeepsOtherLinesInPlace) {
    TRulesForm form(nullptr, RuleFile::Parse("# mine\n"
                                             "junk\tsale\tsubject\tcontains\tsale\n"
                                             "junk\tbad\tsubject\tmatches\tx\n"
                                             "friend\t友人A\tfrom-address\tis\ta@example.jp\n"));
    auto* list = Child<QTreeWidget>(form, "RuleList");
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(RowTexts(list, 0), (QStringList{"迷惑", "sale", "題名", "を含む", "sale"}));
    EXPECT_EQ(RowTexts(list, 1), (QStringList{"無効な規則", "3行目", "", "", "junk\tbad\tsubject\tmatches\tx"}));
    EXPECT_EQ(RowTexts(list, 2), (QStringList{"友人", "友人A", "差出人のアドレス", "と一致する", "a@example.jp"}));

    // Down moves the rule past the invalid line, which stays on line 3.
    list->setCurrentItem(list->topLevelItem(0));
    Child<QPushButton>(form, "DownButton")->click();
    EXPECT_EQ(RowTexts(list, 2)[1], QStringLiteral("sale"));
    EXPECT_FALSE(Child<QPushButton>(form, "DownButton")->isEnabled());

    // Add: the editor refuses a size that is not a number, then takes it.
    ModalHandler modals(ModalHandler::kAnswerEveryBox);
    auto fill = [](const char* value) {
        return [value](QWidget* editor) {
            Child<QComboBox>(*editor, "RuleField")->setCurrentIndex(static_cast<int>(RuleField::Size));
            Child<QLineEdit>(*editor, "RuleName")->setText(QStringLiteral("大きい"));
            Child<QLineEdit>(*editor, "RuleValue")->setText(QString::fromLatin1(value));
            // From the event loop: a refusal opens a box, which needs the handler to have returned.
            QTimer::singleShot(0, editor, [editor] { Child<QPushButton>(*editor, "OKButton")->click(); });
        };
    };
    modals.Expect(fill("10k"));
    modals.Expect(ClickOk);
    modals.Expect(fill("100000"));
    Child<QPushButton>(form, "AddButton")->click();
    EXPECT_TRUE(modals.Done());
    ASSERT_EQ(modals.boxes.size(), 1u);
    EXPECT_EQ(modals.boxes[0].text, QStringLiteral("サイズはバイト数を半角数字で入力してください"));

    QTimer::singleShot(0, &form, [&] { Child<QPushButton>(form, "OKButton")->click(); });
    EXPECT_EQ(form.exec(), QDialog::Accepted);
    EXPECT_EQ(form.File().Text(),
              "# mine\n"
              "friend\t友人A\tfrom-address\tis\ta@example.jp\n"
              "junk\tbad\tsubject\tmatches\tx\n"
              "junk\tsale\tsubject\tcontains\tsale\n"
              "junk\t大きい\tsize\tover\t100000\n");
}

TEST(RulesFormTest, AddSenderToJunkMarksTheRowAndStoresTheRule) {
    TempHome home;
    std::vector<std::string> messages;
    for (const char* from : {"Friend <friend@example.jp>", "=?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?= <ad@spam.example>"})
        messages.push_back(std::string("Subject: s\r\nFrom: ") + from + "\r\n\r\nbody\r\n");
    Pop3Mailbox mailbox(messages);
    ASSERT_TRUE(
        SaveSettings({LoopbackAccount("a", mailbox.port(), {POPReadHeader, POPAuthBasic, POPUseTop, POPApplyRules})}));
    TMainForm::Options options;
    options.logDirectory = home.logs();
    TMainForm form(options);
    ASSERT_TRUE(form.FormCreate());
    EXPECT_TRUE(Child<QPushButton>(form, "RulesButton")->isEnabled());

    mailbox.Serve();
    Child<QPushButton>(form, "ConnectButton")->click();
    ASSERT_TRUE(WaitFor([&] { return form.Session().State() == SessionState::Ready && form.RowCount() == 2; }));
    EXPECT_TRUE(Child<QPushButton>(form, "RulesButton")->isEnabled());
    form.SelectRow(1);
    Child<QAction>(form, "AddSenderToJunk")->trigger();
    EXPECT_EQ(ReadRulesText().value_or(""), "junk\tad@spam.example\tfrom-address\tis\tad@spam.example\n");
    EXPECT_EQ(form.Session().Mailbox().Flags(0), 0);
    EXPECT_EQ(form.Session().Mailbox().Flags(1), kMarkJunk);
    // Twice adds nothing twice.
    Child<QAction>(form, "AddSenderToJunk")->trigger();
    EXPECT_EQ(ReadRulesText().value_or(""), "junk\tad@spam.example\tfrom-address\tis\tad@spam.example\n");

    Child<QPushButton>(form, "DisconnectButton")->click();
    ASSERT_TRUE(WaitFor([&] { return !form.Session().IsConnectionOpen(); }));
    form.close();
}

}  // namespace
