#pragma once

#include "accounts/account.h"

#include <QDialog>

// The modal dialog that edits one account. The controls are loaded from
// the account when the dialog is built; OK copies them back into the same
// account, Cancel (or the close box) leaves it untouched.
//   TSettingForm form(mainWindow, account);
//   if (form.exec() == QDialog::Accepted) { /* account was updated */ }
class TSettingForm : public QDialog {
    Q_OBJECT
public:
    TSettingForm(QWidget* owner, Account& account);
    ~TSettingForm() override;

private:
    struct Controls;
    Account& account_;
    Controls* controls_ = nullptr;
};
