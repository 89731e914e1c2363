#include "ui/provider_presets.h"
#include "ui/setting_form.h"
#include "ui_support.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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
    // Servers, ports, user, then every checked box and radio that a preset may change.
    std::string Settings() const {
        std::string out;
        for (const char* e : {"POPServerName", "POPPort", "POPUserName", "SMTPServerName", "SMTPPort", "SMTPUserName"})
            out += Edit(e)->text().toStdString() + " ";
        for (const char* b :
             {"POPAutoSetting", "POPEncryptNone", "POPEncryptTLS", "POPEncryptSTLS", "POPAuthBasic", "POPAuthAPOP",
              "POPAuthAuto", "POPAuthOAuth2", "SMTPAutoSetting", "SMTPEncryptNone", "SMTPEncryptTLS",
              "SMTPEncryptSTARTTLS", "SMTPAuthNone", "SMTPAuthPbS", "SMTPAuthAUTH", "SMTPAuthOAuth2"})
            if (On(b)) out += std::string(b) + " ";
        return out;
    }
};

class SettingFormPresetTest : public testing::Test {
protected:
    void SetUp() override { ForgetProviderPresets(); }
    void TearDown() override { ForgetProviderPresets(); }
    TempHome home;
};

TEST_F(SettingFormPresetTest, AddressFillsTheProvidersSettingsAndOkStoresThem) {
    const struct {
        const char *address, *settings;
    } cases[] = {
        {"taro@gmail.com",
         "pop.gmail.com 995 taro@gmail.com smtp.gmail.com 465 taro@gmail.com POPEncryptTLS POPAuthBasic "
         "SMTPEncryptTLS SMTPAuthAUTH "},
        {" hanako@ocn.ne.jp ",
         "pop.ocn.ne.jp 995 hanako@ocn.ne.jp smtp.ocn.ne.jp 465 hanako@ocn.ne.jp POPEncryptTLS POPAuthBasic "
         "SMTPEncryptTLS SMTPAuthAUTH "},
        {"jiro@nifty.com",
         "pop.nifty.com 995 jiro@nifty.com smtp.nifty.com 587 jiro@nifty.com POPEncryptTLS POPAuthBasic "
         "SMTPEncryptSTARTTLS SMTPAuthAUTH "},
        // OAuth2 only: both logins by OAuth2.
        {"a@outlook.jp",
         "outlook.office365.com 995 a@outlook.jp smtp-mail.outlook.com 587 a@outlook.jp POPEncryptTLS POPAuthOAuth2 "
         "SMTPEncryptSTARTTLS SMTPAuthOAuth2 "},
    };
    for (const auto& c : cases) {
        Account account = NewAccount(0);
        Form f{account};
        EXPECT_FALSE(f.W("MailAddressSetupButton")->isEnabled());
        f.Edit("MailAddressEdit")->setText(U(c.address));
        ASSERT_TRUE(f.W("MailAddressSetupButton")->isEnabled());
        f.Click("MailAddressSetupButton");
        EXPECT_EQ(f.Settings(), c.settings) << c.address;
        // Every field stays editable.
        for (const char* n : {"POPPort", "POPAuthAPOP", "SMTPPort", "SMTPAuthNone"}) EXPECT_TRUE(f.W(n)->isEnabled());
        f.form.show();
        f.Click("OKButton");
        ASSERT_EQ(f.form.result(), QDialog::Accepted) << c.address;
        EXPECT_FALSE(account.popOptions.Test(POPAutoSetting));
        EXPECT_FALSE(account.smtpOptions.Test(SMTPAutoSetting));
        EXPECT_TRUE(account.popOptions.Test(POPUseTLS));
        EXPECT_EQ(account.popPort, 995);
        EXPECT_EQ(account.popUser, QString(U(c.address)).trimmed().toStdString());
        const bool oauth = std::string(c.settings).find("OAuth2") != std::string::npos;
        EXPECT_TRUE(account.smtpOptions.Test(oauth ? SMTPAuthOAuth2 : SMTPAuthAUTH));
        EXPECT_EQ(account.popOptions.Test(POPAuthOAuth2), oauth);
    }
}

TEST_F(SettingFormPresetTest, UnknownDomainChangesNothingAndABrokenUserFileIsNamedOnce) {
    Account account = NewAccount(0);
    Form f{account};
    for (const char* text : {"", "taro", "taro@", "@gmail.com"}) {
        f.Edit("MailAddressEdit")->setText(text);
        EXPECT_FALSE(f.W("MailAddressSetupButton")->isEnabled()) << text;
    }
    const std::string store = home.path() + "/config/kirabo/Boxsweeper";
    std::filesystem::create_directories(store);
    std::ofstream(store + "/providers.json") << "{\"providers\": [{\"name\": \"Gmail\", \"pop\": {\"port\": \"x\"}}]}";

    const std::string before = f.Settings();
    f.Edit("MailAddressEdit")->setText("taro@example.invalid");
    {
        ModalHandler answerer(ModalHandler::kAnswerEveryBox);
        f.Click("MailAddressSetupButton");
        ASSERT_EQ(answerer.boxes.size(), 2u);
        EXPECT_TRUE(answerer.boxes[0].text.contains(QString::fromStdString(store + "/providers.json")));
        EXPECT_TRUE(answerer.boxes[0].text.contains("entry 1 (Gmail) pop: \"port\" is not a number from 1 to 65535"));
        EXPECT_EQ(answerer.boxes[1].text, U("このメールアドレスのプロバイダーは登録されていません"));
    }
    EXPECT_EQ(f.Settings(), before);
    // The shipped presets still serve, and the file is not named again.
    f.Edit("MailAddressEdit")->setText("taro@gmail.com");
    ModalHandler answerer(ModalHandler::kAnswerEveryBox);
    f.Click("MailAddressSetupButton");
    EXPECT_TRUE(answerer.boxes.empty());
    EXPECT_EQ(f.Edit("POPPort")->text(), "995");
}

TEST_F(SettingFormPresetTest, OAuthProviderFollowsTheAccountUntilChosenAndIsStoredOnlyWhenChosen) {
    const struct {
        const char* user;
        const char* server;
        const char* stored;
        const char* pick;   // chosen in the combo before OK; nullptr: left alone
        const char* shown;  // at opening
        const char* kept;   // oauthProvider after OK
    } cases[] = {
        {"taro@gmail.com", "", "", nullptr, "Gmail", ""},
        {"a@company.co.jp", "outlook.office365.com", "", nullptr, "Outlook.com", ""},
        {"a@company.co.jp", "outlook.office365.com", "", "Microsoft 365", "Outlook.com", "Microsoft 365"},
        {"taro@gmail.com", "", "Microsoft 365", nullptr, "Microsoft 365", "Microsoft 365"},
        {"taro@gmail.com", "", "Microsoft 365", "Gmail", "Microsoft 365", ""},  // the default again
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.user) + " " + c.server + " " + c.stored);
        Account account = NewAccount(0);
        account.popUser = c.user;
        account.popServer = c.server;
        account.oauthProvider = c.stored;
        Form f{account};
        auto* combo = f.form.findChild<QComboBox*>("OAuthProviderCombo");
        ASSERT_NE(combo, nullptr);
        ASSERT_EQ(combo->count(), 3);  // only the presets with OAuth2
        EXPECT_EQ(combo->currentText().toStdString(), c.shown);
        if (c.pick) {
            combo->setCurrentText(U(c.pick));
            emit combo->activated(combo->currentIndex());
        }
        f.form.show();
        f.Click("OKButton");
        ASSERT_EQ(f.form.result(), QDialog::Accepted);
        EXPECT_EQ(account.oauthProvider, c.kept);
    }
}

}  // namespace
