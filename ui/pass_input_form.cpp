#include "ui/pass_input_form.h"

// Placeholder until the prompt is built.
TPassInputForm::TPassInputForm(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("PassInputForm"));
}

TPassInputForm::~TPassInputForm() = default;

std::string TPassInputForm::Password() const { return {}; }
