#pragma once

#include "accounts/account.h"

#include <QDialog>

// The modal dialog that edits one account. The controls are loaded from
// the account when the dialog is built; OK copies them back into the same
// account, Cancel (or the close box) leaves it untouched.
//   TSettingForm form(mainWindow, account);
//   if (form.exec() == QDialog::Accepted) { /* account was updated */ }
// OK first checks every field; a field that cannot be stored faithfully
// (a comma, a character CP932 lacks, a port outside 1-65535) is named in
// a message box and the dialog stays open with nothing copied.
// メールアドレスから設定 fills the servers, ports, encryption, user and
// login method from the provider presets (ui/provider_presets.h).
class TSettingForm : public QDialog {
    Q_OBJECT
public:
    TSettingForm(QWidget* owner, Account& account);
    ~TSettingForm() override;

    // Every way to end with OK (the button, Enter, a direct call) goes
    // through the checks.
    void accept() override;

private:
    void FormCreate();
    void POPAutoSettingClick();
    void SMTPAutoSettingClick();
    void MailAddressChanged();
    void MailAddressSetupButtonClick();
    // Sets OAuthProviderCombo to the default for the user and server
    // typed, unless the user has picked one.
    void OAuthProviderFollow();
    Account OAuthDefaultsFor() const;
    void OKButtonClick();
    bool Validate();

    struct Controls;
    Account& account_;
    Controls* controls_ = nullptr;
};
