#include "ui/setting_form.h"

// Placeholder until the dialog is built: accepts nothing, changes nothing.
TSettingForm::TSettingForm(QWidget* owner, Account& account) : QDialog(owner), account_(account)
{
    setObjectName(QStringLiteral("SettingForm"));
}

TSettingForm::~TSettingForm() = default;
