#include "ui/pass_input_form.h"
#include "qt_app.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

class PassInputFormTest : public testing::Test {
protected:
    void SetUp() override { EnsureQtApplication(); }

    // Runs the prompt modally; `act` runs inside its loop.
    static int Run(TPassInputForm& prompt, std::function<void(QLineEdit*)> act)
    {
        QTimer::singleShot(0, &prompt, [&prompt, act] { act(prompt.findChild<QLineEdit*>("PassEdit")); });
        return prompt.exec();
    }
};

TEST_F(PassInputFormTest, CloseBoxCancelsEnterAcceptsAndTheTextRoundTrips)
{
    {
        TPassInputForm prompt(nullptr);
        EXPECT_EQ(prompt.objectName(), "PassInputForm");
        EXPECT_EQ(prompt.windowTitle(), QString::fromUtf8("パスワードの入力"));
        // No cancel button: the only button is the default one.
        const auto buttons = prompt.findChildren<QPushButton*>();
        ASSERT_EQ(buttons.size(), 1);
        EXPECT_EQ(buttons[0]->objectName(), "Button1");
        EXPECT_TRUE(buttons[0]->isDefault());
        EXPECT_EQ(prompt.focusWidget(), prompt.findChild<QLineEdit*>("PassEdit"));
        EXPECT_EQ(Run(prompt, [&](QLineEdit* edit) {
                      QTest::keyClicks(edit, "typed");
                      prompt.close();
                  }),
                  QDialog::Rejected);
    }
    {
        TPassInputForm prompt(nullptr);
        EXPECT_EQ(Run(prompt, [](QLineEdit* edit) { QTest::keyClick(edit, Qt::Key_Return); }), QDialog::Accepted);
        EXPECT_EQ(prompt.Password(), "");
    }
    {
        TPassInputForm prompt(nullptr);
        EXPECT_EQ(Run(prompt,
                      [](QLineEdit* edit) {
                          EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
                          QTest::keyClicks(edit, "p,w ");
                          edit->insert(QString::fromUtf8("ﾊﾟｽ～①"));  // QTest types ASCII only
                          QTest::keyClick(edit, Qt::Key_Enter);
                      }),
                  QDialog::Accepted);
        EXPECT_EQ(prompt.Password(), "p,w \xca\xdf\xbd\x81\x60\x87\x40");
    }
    {
        // A character CP932 lacks would go out as '?': refused, the prompt stays.
        TPassInputForm prompt(nullptr);
        MessageBoxAnswerer answerer;
        EXPECT_EQ(Run(prompt,
                      [&](QLineEdit* edit) {
                          edit->setText(QString::fromUtf8("\xf0\x9f\x98\x80"));
                          QTest::keyClick(edit, Qt::Key_Return);
                          EXPECT_TRUE(prompt.isVisible());
                          edit->setText("ok");
                          QTest::keyClick(edit, Qt::Key_Return);
                      }),
                  QDialog::Accepted);
        ASSERT_EQ(answerer.boxes.size(), 1u);
        EXPECT_EQ(answerer.boxes[0].text, QString::fromUtf8("パスワードに使えない文字が含まれています"));
        EXPECT_EQ(prompt.Password(), "ok");
    }
}

}  // namespace
