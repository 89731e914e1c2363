#include "ui/pass_input_form.h"
#include "ui_support.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Runs a fresh prompt modally with `act` inside its loop; the result and the password.
std::pair<int, std::string> Prompt(const std::function<void(TPassInputForm&, QLineEdit*)>& act) {
    TPassInputForm prompt(nullptr);
    auto* edit = prompt.findChild<QLineEdit*>("PassEdit");
    EXPECT_EQ(prompt.focusWidget(), edit);
    EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
    // No cancel button: the only button is the default one.
    const auto buttons = prompt.findChildren<QPushButton*>();
    EXPECT_TRUE(buttons.size() == 1 && buttons[0]->isDefault() && buttons[0]->objectName() == "Button1");
    QTimer::singleShot(0, &prompt, [&] { act(prompt, edit); });
    const int result = prompt.exec();
    return {result, prompt.Password()};
}

TEST(PassInputForm, CloseBoxCancelsEnterAcceptsAndTheTextRoundTrips) {
    EXPECT_EQ(Prompt([](TPassInputForm& p, QLineEdit* e) {
                  QTest::keyClicks(e, "typed");
                  p.close();
              }).first,
              QDialog::Rejected);
    EXPECT_EQ(Prompt([](TPassInputForm&, QLineEdit* e) { QTest::keyClick(e, Qt::Key_Return); }),
              std::make_pair(int(QDialog::Accepted), std::string()));
    EXPECT_EQ(Prompt([](TPassInputForm&, QLineEdit* e) {
                  QTest::keyClicks(e, "p,w ");
                  e->insert(QString::fromUtf8("ﾊﾟｽ～①"));  // QTest types ASCII only
                  QTest::keyClick(e, Qt::Key_Enter);
              }),
              std::make_pair(int(QDialog::Accepted), std::string("p,w \xca\xdf\xbd\x81\x60\x87\x40")));

    // A character CP932 lacks would go out as '?': refused, the prompt stays.
    ModalHandler answerer(ModalHandler::kAnswerEveryBox);
    EXPECT_EQ(Prompt([](TPassInputForm& p, QLineEdit* e) {
                  e->setText(QString::fromUtf8("\xf0\x9f\x98\x80"));
                  QTest::keyClick(e, Qt::Key_Return);
                  EXPECT_TRUE(p.isVisible());
                  e->setText("ok");
                  QTest::keyClick(e, Qt::Key_Return);
              }),
              std::make_pair(int(QDialog::Accepted), std::string("ok")));
    ASSERT_EQ(answerer.boxes.size(), 1u);
    EXPECT_EQ(answerer.boxes[0].text, QString::fromUtf8("パスワードに使えない文字が含まれています"));
}

}  // namespace
