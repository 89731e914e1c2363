// Passwords in the system keyring, through the window's save, Connect and
// account deletion. The keyring cases run under tests/ui/with_keyring.sh,
// which starts a gnome-keyring-daemon of their own (unlocked or locked) on a
// private session bus and names its mode in BOXSWEEPER_TEST_KEYRING; the
// case without a keyring runs in the ordinary widget run, where none is.

#include "ui/keyring.h"
#include "accounts/settings.h"
#include "ui/main_form.h"
#include "ui/setting_form.h"
#include "ui_support.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

std::string KeyringMode() {
    const char* mode = std::getenv("BOXSWEEPER_TEST_KEYRING");
    return mode ? mode : "";
}

// What secret-tool finds for an account's password item ("" when nothing).
std::string Stored(const std::string& accountId) {
    const std::string command = "secret-tool lookup server Boxsweeper user '" + accountId + "/password' 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::string out;
    std::array<char, 256> buffer{};
    while (pipe && std::fgets(buffer.data(), buffer.size(), pipe.get())) out += buffer.data();
    return out;
}

class KeyringTest : public ::testing::Test {
protected:
    std::unique_ptr<TMainForm> Open(const std::vector<Account>& stored) {
        if (!stored.empty()) {
            EXPECT_TRUE(SaveSettings(stored));
        }
        TMainForm::Options options;
        options.logDirectory = home.logs();
        auto form = std::make_unique<TMainForm>(options);
        EXPECT_TRUE(form->FormCreate());
        return form;
    }
    // Connects, waits for Ready and disconnects; the commands the server got
    // up to Ready.
    static std::vector<std::string> Check(TMainForm& form, Pop3Mailbox& mailbox) {
        mailbox.Serve();
        form.findChild<QPushButton*>(QStringLiteral("ConnectButton"))->click();
        EXPECT_TRUE(WaitFor([&] { return form.Session().State() == SessionState::Ready; }));
        const std::vector<std::string> received = mailbox.Received();
        form.findChild<QPushButton*>(QStringLiteral("DisconnectButton"))->click();
        EXPECT_TRUE(WaitFor([&] { return !form.Session().IsConnectionOpen(); }));
        return received;
    }
    static void TypePassword(QWidget* prompt, const char* password) {
        prompt->findChild<QLineEdit*>()->setText(QString::fromLatin1(password));
        Accept(prompt);
    }

    TempHome home;
};

// Unlocked: a password in the text form moves to the keyring at the save
// when the window closes; the next run reads it at Connect without a prompt;
// no longer saving it removes the item; deleting an account removes its own
// item and no other.
TEST_F(KeyringTest, SaveReloadMoveAndDelete) {
    if (KeyringMode() != "unlocked") {
        GTEST_SKIP() << "needs tests/ui/with_keyring.sh";
    }
    ASSERT_TRUE(keyring::Running());
    Pop3Mailbox mailbox({});
    Account first = LoopbackAccount("first", mailbox.port(), {POPAuthBasic});
    Account second = LoopbackAccount("second", mailbox.port(), {POPAuthBasic});
    second.popPassword = "other";
    {
        auto form = Open({first, second});
        form->CurrentAccount().popPassword = "pa,ss";  // as if typed: the text form could not hold the comma
        EXPECT_TRUE(form->close());
    }
    std::vector<Account> stored = LoadSettings();
    ASSERT_EQ(stored.size(), 2u);
    for (const Account& account : stored) {
        EXPECT_TRUE(account.popOptions.Test(POPPasswordInKeyring)) << account.name;
        EXPECT_EQ(account.popPassword, "") << account.name;
    }
    EXPECT_EQ(Stored(stored[0].id), "pa,ss");
    EXPECT_EQ(Stored(stored[1].id), "other");

    {
        auto form = Open({});
        {
            ModalHandler none;  // no password prompt
            EXPECT_EQ(Check(*form, mailbox), (std::vector<std::string>{"USER user", "PASS pa,ss", "LIST"}));
            EXPECT_TRUE(none.seen.empty());
        }
        // Deleting the first account, then unchecking 保存する on the second.
        ModalHandler confirm{ClickOk};
        form->DeleteAccountClick();
        EXPECT_EQ(Stored(stored[0].id), "");
        EXPECT_EQ(Stored(stored[1].id), "other");
        form->CurrentAccount().popOptions.Clear(POPSavePassword);
        EXPECT_TRUE(form->close());
    }
    EXPECT_EQ(Stored(stored[1].id), "");
    stored = LoadSettings();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_FALSE(stored[0].popOptions.Test(POPPasswordInKeyring));
    EXPECT_EQ(stored[0].popPassword, "");
}

// Locked: nothing can be written, so the password stays in the text form
// (nothing lost); an account whose password is in the keyring gets the
// password prompt at Connect, and what was typed is not put in the file.
TEST_F(KeyringTest, LockedKeyringKeepsTheTextFormAndAsks) {
    if (KeyringMode() != "locked") {
        GTEST_SKIP() << "needs tests/ui/with_keyring.sh with a locked keyring";
    }
    ASSERT_TRUE(keyring::Running());
    Pop3Mailbox mailbox({});
    Account plain = LoopbackAccount("plain", mailbox.port(), {POPAuthBasic});
    Account kept = LoopbackAccount("kept", mailbox.port(), {POPAuthBasic, POPPasswordInKeyring});
    kept.popPassword.clear();
    {
        auto form = Open({plain, kept});
        form->findChild<QTabBar*>(QStringLiteral("AccountTab"))->setCurrentIndex(1);
        ModalHandler prompt{[](QWidget* w) { TypePassword(w, "typed"); }};
        EXPECT_EQ(Check(*form, mailbox), (std::vector<std::string>{"USER user", "PASS typed", "LIST"}));
        EXPECT_EQ(prompt.seen.size(), 1u);
        EXPECT_TRUE(form->close());
    }
    const std::vector<Account> stored = LoadSettings();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].popPassword, "pass");
    EXPECT_FALSE(stored[0].popOptions.Test(POPPasswordInKeyring));
    EXPECT_EQ(stored[1].popPassword, "");
    EXPECT_TRUE(stored[1].popOptions.Test(POPPasswordInKeyring));
}

// No keyring: the text form as before, a keyring account's password typed
// this run stays out of the file, and the dialog says where passwords go.
TEST_F(KeyringTest, WithoutAKeyringTheTextFormServes) {
    if (!KeyringMode().empty() || keyring::Running()) {
        GTEST_SKIP() << "a keyring runs here";
    }
    Account plain = LoopbackAccount("plain", 1, {POPAuthBasic});
    Account kept = LoopbackAccount("kept", 1, {POPAuthBasic, POPPasswordInKeyring});
    kept.popPassword = "typed this run";
    {
        auto form = Open({plain, kept});
        EXPECT_TRUE(form->close());
    }
    const std::vector<Account> stored = LoadSettings();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].popPassword, "pass");
    EXPECT_FALSE(stored[0].popOptions.Test(POPPasswordInKeyring));
    EXPECT_EQ(stored[1].popPassword, "");
    EXPECT_TRUE(stored[1].popOptions.Test(POPPasswordInKeyring));

    Account account = plain;
    TSettingForm dialog(nullptr, account);
    auto* label = dialog.findChild<QLabel*>(QStringLiteral("PasswordStoreLabel"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QString::fromUtf8("パスワードはこのユーザーだけが読めるファイルに保存されます"));
}

}  // namespace
