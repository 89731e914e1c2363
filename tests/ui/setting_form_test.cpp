#include "ui/setting_form.h"
#include "qt_app.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace {

class SettingFormTest : public testing::Test {
protected:
    void SetUp() override { EnsureQtApplication(); }

    template <typename W = QWidget>
    static W* Get(QWidget& form, const char* name)
    {
        W* w = form.findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    static QLineEdit* Edit(QWidget& form, const char* name) { return Get<QLineEdit>(form, name); }
    static QAbstractButton* Button(QWidget& form, const char* name) { return Get<QAbstractButton>(form, name); }
    static bool Checked(QWidget& form, const char* name) { return Button(form, name)->isChecked(); }
    static bool Enabled(QWidget& form, const char* name) { return Get(form, name)->isEnabled(); }

    // The radios of a group that are checked, as their names joined by '+'.
    static std::string CheckedOf(QWidget& form, std::initializer_list<const char*> group)
    {
        std::string out;
        for (const char* name : group) {
            if (Checked(form, name)) {
                out += out.empty() ? name : std::string("+") + name;
            }
        }
        return out;
    }
    static std::string PopAuth(QWidget& f) { return CheckedOf(f, {"POPAuthBasic", "POPAuthAPOP", "POPAuthAuto"}); }
    static std::string SmtpAuth(QWidget& f) { return CheckedOf(f, {"SMTPAuthNone", "SMTPAuthPbS", "SMTPAuthAUTH"}); }
    static std::string Encrypt(QWidget& f)
    {
        return CheckedOf(f, {"POPEncryptNone", "POPEncryptTLS", "POPEncryptSTLS"});
    }

    // A filled account with both automatic boxes clear and its own advanced values.
    static Account Manual()
    {
        Account a = NewAccount(1);
        a.popServer = "pop.example.jp";
        a.popUser = "taro";
        a.popPassword = "secret";
        a.popPort = 2110;
        a.popOptions.FromNumber((1u << POPAuthAPOP) | (1u << POPHeaderWithBody) | (1u << 20));
        a.smtpServer = "smtp.example.jp";
        a.smtpPort = 2525;
        a.smtpOptions.FromNumber((1u << SMTPAuthPbS) | (1u << 30));
        return a;
    }
};

const char* const kPopAdvanced[] = {"POPAuthLabel", "POPAuthBasic", "POPAuthAPOP", "POPAuthAuto", "POPPortLabel",
                                    "POPPort",      "POPOptionLabel", "POPUseTop", "POPHeaderWithBody"};

TEST_F(SettingFormTest, NewAccountOpensOnDefaultsAndTheAutomaticRulesFollowTheirBoxes)
{
    Account account = NewAccount(0);
    const Account before = account;
    TSettingForm form(nullptr, account);
    EXPECT_EQ(form.objectName(), "SettingForm");
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8("アカウントの設定"));
    EXPECT_EQ(form.findChild<QTabWidget*>()->currentIndex(), 0);
    EXPECT_EQ(Edit(form, "AccountName")->text(), QString::fromUtf8("新しいアカウント0"));
    EXPECT_EQ(Edit(form, "POPPassword")->echoMode(), QLineEdit::Password);

    // Defaults, all disabled; the new controls are enabled whatever the box says.
    EXPECT_EQ(PopAuth(form), "POPAuthAuto");
    EXPECT_EQ(Edit(form, "POPPort")->text(), "110");
    EXPECT_TRUE(Checked(form, "POPUseTop"));
    EXPECT_FALSE(Checked(form, "POPHeaderWithBody"));
    EXPECT_EQ(SmtpAuth(form), "SMTPAuthNone");
    EXPECT_EQ(Edit(form, "SMTPPort")->text(), "25");
    for (const char* name : kPopAdvanced) {
        EXPECT_FALSE(Enabled(form, name)) << name;
    }
    for (const char* name : {"SMTPAuthLabel", "SMTPAuthNone", "SMTPAuthPbS", "SMTPAuthAUTH", "SMTPPortLabel", "SMTPPort"}) {
        EXPECT_FALSE(Enabled(form, name)) << name;
    }
    EXPECT_TRUE(Checked(form, "POPDecodeMime"));
    EXPECT_FALSE(Checked(form, "POPPipelining"));
    EXPECT_EQ(Encrypt(form), "POPEncryptNone");
    for (const char* name : {"POPDecodeMime", "POPPipelining", "POPEncryptNone", "POPEncryptTLS", "POPEncryptSTLS"}) {
        EXPECT_TRUE(Enabled(form, name)) << name;
    }
    EXPECT_TRUE(Get(form, "POPUseCache")->isHidden());
    EXPECT_TRUE(Get(form, "SMTPAuthAUTH")->isHidden());

    // With the box checked the port follows the encryption choice.
    Button(form, "POPEncryptTLS")->click();
    EXPECT_EQ(Edit(form, "POPPort")->text(), "995");
    Button(form, "POPEncryptSTLS")->click();
    EXPECT_EQ(Edit(form, "POPPort")->text(), "110");

    // Unchecked: enabled with the current values, which the user may change.
    Button(form, "POPAutoSetting")->click();
    for (const char* name : kPopAdvanced) {
        EXPECT_TRUE(Enabled(form, name)) << name;
    }
    EXPECT_FALSE(Enabled(form, "POPUseCache"));
    Button(form, "POPAuthBasic")->click();
    EXPECT_EQ(PopAuth(form), "POPAuthBasic");
    Edit(form, "POPPort")->setText("10110");
    Button(form, "POPUseTop")->click();
    Button(form, "POPHeaderWithBody")->click();
    Button(form, "POPEncryptTLS")->click();  // no automatic port now
    EXPECT_EQ(Edit(form, "POPPort")->text(), "10110");

    // Checked again: defaults at once, the port for SSL/TLS.
    Button(form, "POPAutoSetting")->click();
    EXPECT_EQ(PopAuth(form), "POPAuthAuto");
    EXPECT_EQ(Edit(form, "POPPort")->text(), "995");
    EXPECT_TRUE(Checked(form, "POPUseTop"));
    EXPECT_FALSE(Checked(form, "POPHeaderWithBody"));
    EXPECT_FALSE(Enabled(form, "POPPort"));

    // SMTP: only "なし" can be chosen by hand.
    Button(form, "SMTPAutoSetting")->click();
    for (const char* name : {"SMTPAuthLabel", "SMTPAuthNone", "SMTPPortLabel", "SMTPPort"}) {
        EXPECT_TRUE(Enabled(form, name)) << name;
    }
    EXPECT_FALSE(Enabled(form, "SMTPAuthPbS"));
    EXPECT_FALSE(Enabled(form, "SMTPAuthAUTH"));
    Edit(form, "SMTPPort")->setText("587");
    Button(form, "SMTPAutoSetting")->click();
    EXPECT_EQ(Edit(form, "SMTPPort")->text(), "25");

    // The close box changes nothing.
    form.show();
    form.close();
    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_EQ(account, before);
}

TEST_F(SettingFormTest, RadiosLoadTheLastSetBitOrNone)
{
    struct Case {
        std::uint32_t pop, smtp;
        const char *popAuth, *smtpAuth, *encrypt;
    };
    const Case cases[] = {
        {0, 0, "", "", "POPEncryptNone"},
        {1u << 3, 1u << 2, "POPAuthBasic", "SMTPAuthPbS", "POPEncryptNone"},
        {(1u << 3) | (1u << 4), (1u << 1) | (1u << 2), "POPAuthAPOP", "SMTPAuthPbS", "POPEncryptNone"},
        {(1u << 3) | (1u << 4) | (1u << 5) | (1u << 10), (1u << 1) | (1u << 3), "POPAuthAuto", "SMTPAuthAUTH",
         "POPEncryptTLS"},
        {(1u << 4) | (1u << 11), 1u << 1, "POPAuthAPOP", "SMTPAuthNone", "POPEncryptSTLS"},
        {(1u << 10) | (1u << 11), 0, "", "", "POPEncryptTLS"},  // both set reads as SSL/TLS
    };
    for (const Case& c : cases) {
        Account account = Manual();
        account.popOptions.FromNumber(c.pop);
        account.smtpOptions.FromNumber(c.smtp);
        TSettingForm form(nullptr, account);
        EXPECT_EQ(PopAuth(form), c.popAuth) << c.pop;
        EXPECT_EQ(SmtpAuth(form), c.smtpAuth) << c.smtp;
        EXPECT_EQ(Encrypt(form), c.encrypt) << c.pop;
        // The account's own values, enabled, whatever the encryption.
        EXPECT_EQ(Edit(form, "POPPort")->text(), "2110");
        EXPECT_EQ(Edit(form, "SMTPPort")->text(), "2525");
        EXPECT_TRUE(Enabled(form, "POPPort"));
    }
}

TEST_F(SettingFormTest, OkCopiesEveryControlBackAndKeepsUnknownBits)
{
    Account account = Manual();
    account.name = "\x8e\x64\x8e\x96";  // "仕事"
    {
        TSettingForm form(nullptr, account);
        EXPECT_EQ(Edit(form, "AccountName")->text(), QString::fromUtf8("仕事"));
        EXPECT_TRUE(Checked(form, "POPHeaderWithBody"));
        EXPECT_FALSE(Checked(form, "POPUseTop"));
        EXPECT_FALSE(Checked(form, "POPDecodeMime"));
        QTimer::singleShot(0, &form, [&] { Button(form, "OKButton")->click(); });
        EXPECT_EQ(form.exec(), QDialog::Accepted);
    }
    EXPECT_EQ(account, [] {
        Account a = Manual();
        a.name = "\x8e\x64\x8e\x96";
        return a;
    }());

    TSettingForm form(nullptr, account);
    Edit(form, "AccountName")->setText(QString::fromUtf8("自宅 ～①"));
    Edit(form, "POPPassword")->setText("p,w");  // not saved, so a comma is fine
    Button(form, "POPReadHeader")->click();
    Button(form, "SMTPUserAsPOP")->click();
    Button(form, "POPAuthBasic")->click();
    Edit(form, "POPPort")->setText(" 995 ");
    Button(form, "POPEncryptSTLS")->click();
    Button(form, "POPDecodeMime")->click();
    Button(form, "POPPipelining")->click();
    Button(form, "SMTPAutoSetting")->click();  // on: なし, 25
    form.show();
    Button(form, "OKButton")->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(account.name, "\x8e\xa9\x91\xee\x20\x81\x60\x87\x40");  // CP932
    EXPECT_EQ(account.popPassword, "p,w");
    EXPECT_EQ(account.popPort, 995);
    EXPECT_EQ(account.smtpPort, 25);
    EXPECT_EQ(account.popOptions.ToNumber(),
              (1u << POPReadHeader) | (1u << POPAuthBasic) | (1u << POPHeaderWithBody) | (1u << POPDecodeMime) |
                  (1u << POPUseSTLS) | (1u << POPPipelining) | (1u << 20));
    EXPECT_EQ(account.smtpOptions.ToNumber(), (1u << SMTPAutoSetting) | (1u << SMTPAuthNone) | (1u << SMTPUserAsPOP) | (1u << 30));
}

TEST_F(SettingFormTest, FieldsThatCannotBeStoredAreRefusedByNameAndTheDialogStaysOpen)
{
    struct Case {
        const char* field;
        const char* text;
        bool savePassword;
        const char* message;  // UTF-8
    };
    const Case cases[] = {
        {"AccountName", "a,b", false, "「アカウント設定名」にカンマ（,）は使えません"},
        {"POPServerName", "pop,example", false, "「POP3サーバー名」にカンマ（,）は使えません"},
        {"POPUserName", "ta,ro", false, "「POP3のユーザー名」にカンマ（,）は使えません"},
        {"POPPassword", "p,w", true, "「パスワード」にカンマ（,）は使えません"},
        {"SMTPServerName", "s,", false, "「SMTPサーバー名」にカンマ（,）は使えません"},
        {"SMTPUserName", ",", false, "「SMTPのユーザー名」にカンマ（,）は使えません"},
        {"AccountName", "\xf0\x9f\x98\x80", false, "「アカウント設定名」に使えない文字が含まれています"},  // emoji
        {"POPUserName", "\xea\xb0\x80", false, "「POP3のユーザー名」に使えない文字が含まれています"},   // hangul
        {"POPPassword", "\xf0\xa0\xae\xb7", false, "「パスワード」に使えない文字が含まれています"},     // 𠮷
        {"SMTPServerName", "a\tb", false, "「SMTPサーバー名」に使えない文字が含まれています"},
        {"POPPort", "abc", false, "'abc' は整数ではありません"},
        {"POPPort", "", false, "'' は整数ではありません"},
        {"SMTPPort", "2.5", false, "'2.5' は整数ではありません"},
        {"POPPort", "0", false, "「POP3のポート番号」は1から65535までの数で入力してください"},
        {"SMTPPort", "65536", false, "「SMTPのポート番号」は1から65535までの数で入力してください"},
        {"SMTPPort", "-25", false, "「SMTPのポート番号」は1から65535までの数で入力してください"},
    };
    for (const Case& c : cases) {
        Account account = Manual();
        const Account before = account;
        TSettingForm form(nullptr, account);
        if (c.savePassword) {
            Button(form, "POPSavePassword")->click();
        }
        Edit(form, "AccountName")->setText("changed");
        Edit(form, c.field)->setText(QString::fromUtf8(c.text));
        form.show();
        MessageBoxAnswerer answerer;
        Button(form, "OKButton")->click();
        ASSERT_EQ(answerer.boxes.size(), 1u) << c.field << " " << c.text;
        const auto& box = answerer.boxes[0];
        EXPECT_EQ(box.text, QString::fromUtf8(c.message));
        EXPECT_EQ(box.caption, "Boxsweeper");
        EXPECT_EQ(box.buttons, 1);
        EXPECT_EQ(box.icon, QMessageBox::NoIcon);
        EXPECT_TRUE(form.isVisible()) << c.field;
        EXPECT_EQ(account, before) << c.field;
        // The page holding the field is shown so the user can mend it (the name sits above the pages).
        const auto* page = form.findChild<QTabWidget*>()->currentWidget();
        EXPECT_TRUE(std::string(c.field) == "AccountName" || page->isAncestorOf(Edit(form, c.field))) << c.field;
        form.reject();
    }
}

}  // namespace
