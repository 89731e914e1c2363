#include "ui/setting_form.h"
#include "ui_support.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QTabWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

struct Form {
    Account& account;
    TSettingForm form{nullptr, account};

    QWidget* W(const char* name) const { return form.findChild<QWidget*>(QString::fromLatin1(name)); }
    QLineEdit* Edit(const char* name) const { return qobject_cast<QLineEdit*>(W(name)); }
    void Click(const char* name) const { qobject_cast<QAbstractButton*>(W(name))->click(); }
    bool On(const char* name) const { return qobject_cast<QAbstractButton*>(W(name))->isChecked(); }

    // Names of the checked ones among `names`, then whether the group is
    // all enabled ("en"), all disabled ("dis") or mixed.
    std::string State(std::initializer_list<const char*> names, std::initializer_list<const char*> group) const {
        std::string out;
        for (const char* n : names) out += On(n) ? std::string(n) + " " : "";
        int enabled = 0;
        for (const char* n : group) enabled += W(n)->isEnabled();
        return out + (enabled == 0 ? "dis" : enabled == int(group.size()) ? "en" : "mixed");
    }
    // The advanced POP3 page and the encryption: checked controls, port, enabled state.
    std::string Pop() const {
        return Edit("POPPort")->text().toStdString() + " " +
               State({"POPEncryptNone", "POPEncryptTLS", "POPEncryptSTLS", "POPAuthBasic", "POPAuthAPOP", "POPAuthAuto",
                      "POPUseTop", "POPHeaderWithBody"},
                     {"POPAuthLabel", "POPAuthBasic", "POPAuthAPOP", "POPAuthAuto", "POPPortLabel", "POPPort",
                      "POPOptionLabel", "POPUseTop", "POPHeaderWithBody"});
    }
    std::string Smtp() const {
        return Edit("SMTPPort")->text().toStdString() + " " +
               State({"SMTPEncryptNone", "SMTPEncryptTLS", "SMTPEncryptSTARTTLS", "SMTPAuthNone", "SMTPAuthPbS",
                      "SMTPAuthAUTH"},
                     {"SMTPAuthLabel", "SMTPAuthNone", "SMTPAuthPbS", "SMTPAuthAUTH", "SMTPPortLabel", "SMTPPort"});
    }
};

// A filled account with both automatic boxes clear and its own advanced values.
Account Manual(std::uint32_t pop = (1u << POPAuthAPOP) | (1u << POPHeaderWithBody) | (1u << 20),
               std::uint32_t smtp = (1u << SMTPAuthPbS) | (1u << 30)) {
    Account a = NewAccount(1);
    a.popServer = "pop.example.jp";
    a.popPassword = "secret";
    a.popPort = 2110;
    a.popOptions.FromNumber(pop);
    a.smtpPort = 2525;
    a.smtpOptions.FromNumber(smtp);
    return a;
}

TEST(SettingFormTest, AutomaticRulesRunOnOpeningAndOnEveryChangeOfTheirBox) {
    Account account = NewAccount(0);
    const Account before = account;
    Form f{account};
    EXPECT_EQ(f.Edit("AccountName")->text(), U("新しいアカウント0"));
    EXPECT_EQ(f.form.findChild<QTabWidget*>()->currentIndex(), 0);
    // The new controls are enabled whatever the box says; bits 9 and 12 come with a new account.
    EXPECT_TRUE(f.On("POPDecodeMime") && f.On("POPPipelining") && f.On("POPLocalDates"));  // a new account has them
    for (const char* n : {"POPDecodeMime", "POPPipelining", "POPEncryptNone", "POPEncryptTLS", "POPEncryptSTLS"})
        EXPECT_TRUE(f.W(n)->isEnabled()) << n;
    EXPECT_TRUE(!f.W("POPUseCache")->isEnabled() && f.W("POPUseCache")->isHidden() && !f.W("SMTPAuthAUTH")->isHidden());

    const struct Step {
        std::function<void()> act;
        const char *pop, *smtp;
    } steps[] = {
        // A new account is encrypted on both sides, SMTP認証 with it.
        {[] {}, "995 POPEncryptTLS POPAuthAuto POPUseTop dis", "587 SMTPEncryptSTARTTLS SMTPAuthAUTH dis"},
        {[&] {
             f.Click("POPEncryptNone");
             f.Click("SMTPEncryptNone");
         },
         "110 POPEncryptNone POPAuthAuto POPUseTop dis", "25 SMTPEncryptNone SMTPAuthNone dis"},
        {[&] { f.Click("POPEncryptTLS"); }, "995 POPEncryptTLS POPAuthAuto POPUseTop dis",
         "25 SMTPEncryptNone SMTPAuthNone dis"},
        {[&] { f.Click("POPEncryptSTLS"); }, "110 POPEncryptSTLS POPAuthAuto POPUseTop dis",
         "25 SMTPEncryptNone SMTPAuthNone dis"},
        {[&] { f.Click("POPAutoSetting"); }, "110 POPEncryptSTLS POPAuthAuto POPUseTop en",
         "25 SMTPEncryptNone SMTPAuthNone dis"},
        {[&] {
             f.Click("POPAuthBasic");
             f.Edit("POPPort")->setText("10110");
             f.Click("POPUseTop");
             f.Click("POPHeaderWithBody");
             f.Click("POPEncryptTLS");  // no automatic port now
         },
         "10110 POPEncryptTLS POPAuthBasic POPHeaderWithBody en", "25 SMTPEncryptNone SMTPAuthNone dis"},
        {[&] { f.Click("POPAutoSetting"); }, "995 POPEncryptTLS POPAuthAuto POPUseTop dis",
         "25 SMTPEncryptNone SMTPAuthNone dis"},
        {[&] { f.Click("SMTPEncryptSTARTTLS"); }, "995 POPEncryptTLS POPAuthAuto POPUseTop dis",
         "587 SMTPEncryptSTARTTLS SMTPAuthAUTH dis"},
        {[&] { f.Click("SMTPEncryptTLS"); }, "995 POPEncryptTLS POPAuthAuto POPUseTop dis",
         "465 SMTPEncryptTLS SMTPAuthAUTH dis"},
        // By hand every method can be chosen, and the port stays as typed.
        {[&] { f.Click("SMTPAutoSetting"); }, "995 POPEncryptTLS POPAuthAuto POPUseTop dis",
         "465 SMTPEncryptTLS SMTPAuthAUTH en"},
        {[&] {
             f.Click("SMTPAuthAUTH");
             f.Edit("SMTPPort")->setText("2587");
             f.Click("SMTPEncryptSTARTTLS");
         },
         "995 POPEncryptTLS POPAuthAuto POPUseTop dis", "2587 SMTPEncryptSTARTTLS SMTPAuthAUTH en"},
        {[&] { f.Click("SMTPAuthPbS"); }, "995 POPEncryptTLS POPAuthAuto POPUseTop dis",
         "2587 SMTPEncryptSTARTTLS SMTPAuthPbS en"},
        {[&] { f.Click("SMTPAutoSetting"); }, "995 POPEncryptTLS POPAuthAuto POPUseTop dis",
         "587 SMTPEncryptSTARTTLS SMTPAuthAUTH dis"},
    };
    for (const Step& s : steps) {
        s.act();
        EXPECT_EQ(f.Pop(), s.pop);
        EXPECT_EQ(f.Smtp(), s.smtp);
    }
    // The close box changes nothing.
    f.form.show();
    f.form.close();
    EXPECT_EQ(f.form.result(), QDialog::Rejected);
    EXPECT_EQ(account, before);
}

TEST(SettingFormTest, RadiosLoadTheLastSetBitOrNoneAndManualValuesStay) {
    const struct {
        std::uint32_t pop, smtp;
        const char *popState, *smtpState;
    } cases[] = {
        {0, 0, "2110 POPEncryptNone en", "2525 SMTPEncryptNone en"},
        {1u << 3 | 1u << 8, 1u << 2, "2110 POPEncryptNone POPAuthBasic POPHeaderWithBody en",
         "2525 SMTPEncryptNone SMTPAuthPbS en"},
        {1u << 3 | 1u << 4, 1u << 1 | 1u << 2, "2110 POPEncryptNone POPAuthAPOP en",
         "2525 SMTPEncryptNone SMTPAuthPbS en"},
        {1u << 3 | 1u << 4 | 1u << 5 | 1u << 6 | 1u << 10, 1u << 1 | 1u << 3,
         "2110 POPEncryptTLS POPAuthAuto POPUseTop en", "2525 SMTPEncryptNone SMTPAuthAUTH en"},
        {1u << 4 | 1u << 11, 1u << 1, "2110 POPEncryptSTLS POPAuthAPOP en", "2525 SMTPEncryptNone SMTPAuthNone en"},
        {1u << 10 | 1u << 11, 1u << 5 | 1u << 6 | 1u << 2, "2110 POPEncryptTLS en",
         "2525 SMTPEncryptTLS SMTPAuthPbS en"},  // both set reads as SSL/TLS
        {0, 1u << 6 | 1u << 3, "2110 POPEncryptNone en", "2525 SMTPEncryptSTARTTLS SMTPAuthAUTH en"},
        {1u << 2 | 1u << 3 | 1u << 10, 1u << 0 | 1u << 2, "995 POPEncryptTLS POPAuthAuto POPUseTop dis",
         "25 SMTPEncryptNone SMTPAuthNone dis"},
    };
    for (const auto& c : cases) {
        Account account = Manual(c.pop, c.smtp);
        Form f{account};
        EXPECT_EQ(f.Pop(), c.popState) << c.pop;
        EXPECT_EQ(f.Smtp(), c.smtpState) << c.smtp;
    }
}

TEST(SettingFormTest, OkCopiesEveryControlBackAndKeepsUnknownBits) {
    Account account = Manual();
    account.name = "\x8e\x64\x8e\x96";  // "仕事"
    const Account before = account;
    {
        Form f{account};
        EXPECT_EQ(f.Edit("AccountName")->text(), U("仕事"));
        QTimer::singleShot(0, &f.form, [&] { f.Click("OKButton"); });
        EXPECT_EQ(f.form.exec(), QDialog::Accepted);
    }
    EXPECT_EQ(account, before);

    Form f{account};
    f.Edit("AccountName")->setText(U("自宅 ～①"));
    f.Edit("POPPassword")->setText("p,w");  // not saved, so a comma is fine
    for (const char* n : {"POPReadHeader", "SMTPUserAsPOP", "POPAuthBasic", "POPEncryptSTLS", "POPDecodeMime",
                          "POPPipelining", "POPLocalDates", "SMTPAutoSetting", "SMTPEncryptSTARTTLS"})
        f.Click(n);
    f.Edit("POPPort")->setText(" 995 ");
    f.form.show();
    f.Click("OKButton");
    EXPECT_EQ(f.form.result(), QDialog::Accepted);
    EXPECT_EQ(account.name, "\x8e\xa9\x91\xee\x20\x81\x60\x87\x40");  // CP932
    EXPECT_EQ(account.popPassword, "p,w");
    EXPECT_EQ(account.popPort, 995);
    EXPECT_EQ(account.smtpPort, 587);
    EXPECT_EQ(account.popOptions.ToNumber(), 1u << POPReadHeader | 1u << POPAuthBasic | 1u << POPHeaderWithBody |
                                                 1u << POPDecodeMime | 1u << POPUseSTLS | 1u << POPPipelining |
                                                 1u << POPLocalDates | 1u << 20);
    EXPECT_EQ(account.smtpOptions.ToNumber(),
              1u << SMTPAutoSetting | 1u << SMTPAuthAUTH | 1u << SMTPUserAsPOP | 1u << SMTPUseSTARTTLS | 1u << 30);
}

TEST(SettingFormTest, FieldsThatCannotBeStoredAreRefusedByNameAndTheDialogStaysOpen) {
    const struct {
        const char *field, *text;
        bool savePassword;
        const char* message;
    } cases[] = {
        {"AccountName", "a,b", false, "「アカウント設定名」にカンマ（,）は使えません"},
        {"POPServerName", "pop,example", false, "「POP3サーバー名」にカンマ（,）は使えません"},
        {"POPUserName", "ta,ro", false, "「POP3のユーザー名」にカンマ（,）は使えません"},
        {"POPPassword", "p,w", true, "「パスワード」にカンマ（,）は使えません"},
        {"SMTPServerName", "s,", false, "「SMTPサーバー名」にカンマ（,）は使えません"},
        {"AccountName", "\xf0\x9f\x98\x80", false, "「アカウント設定名」に使えない文字が含まれています"},  // emoji
        {"POPPassword", "\xf0\xa0\xae\xb7", false, "「パスワード」に使えない文字が含まれています"},        // 𠮷
        {"SMTPServerName", "a\tb", false, "「SMTPサーバー名」に使えない文字が含まれています"},
        {"POPPort", "abc", false, "'abc' は整数ではありません"},
        {"SMTPPort", "2.5", false, "'2.5' は整数ではありません"},
        {"POPPort", "0", false, "「POP3のポート番号」は1から65535までの数で入力してください"},
        {"SMTPPort", "65536", false, "「SMTPのポート番号」は1から65535までの数で入力してください"},
    };
    for (const auto& c : cases) {
        Account account = Manual();
        const Account before = account;
        Form f{account};
        if (c.savePassword) f.Click("POPSavePassword");
        f.Edit("AccountName")->setText("changed");
        f.Edit(c.field)->setText(U(c.text));
        f.form.show();
        ModalHandler answerer(ModalHandler::kAnswerEveryBox);
        f.Click("OKButton");
        ASSERT_EQ(answerer.boxes.size(), 1u) << c.field << " " << c.text;
        EXPECT_EQ(answerer.boxes[0], (ModalHandler::Box{"Boxsweeper", U(c.message), 1, QMessageBox::NoIcon}));
        EXPECT_TRUE(f.form.isVisible()) << c.field;
        EXPECT_EQ(account, before) << c.field;
        // The page holding the field is shown so the user can mend it (the name sits above the pages).
        const QWidget* page = f.form.findChild<QTabWidget*>()->currentWidget();
        EXPECT_TRUE(std::string(c.field) == "AccountName" || page->isAncestorOf(f.W(c.field))) << c.field;
        f.form.reject();
    }
}

}  // namespace
