#include "ui/pass_input_form.h"

#include "texts/texts.h"
#include "ui/app_font.h"
#include "ui/cp932_qstring.h"
#include "ui/message_box.h"
#include "ui/ui_text.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

struct TPassInputForm::Controls {
    QLabel* label = nullptr;
    QLineEdit* passEdit = nullptr;
    QPushButton* button = nullptr;
};

TPassInputForm::TPassInputForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      controls_(new Controls) {
    setObjectName(QStringLiteral("PassInputForm"));
    setWindowTitle(Text(texts::password::kTitle));
    setFont(AppFont());

    auto& c = *controls_;
    c.label = new QLabel(Text(texts::password::kPrompt), this);
    c.label->setObjectName(QStringLiteral("Label1"));
    c.label->setAlignment(Qt::AlignCenter);

    c.passEdit = new QLineEdit(this);
    c.passEdit->setObjectName(QStringLiteral("PassEdit"));
    c.passEdit->setEchoMode(QLineEdit::Password);
    c.passEdit->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // '*'
    c.passEdit->setMinimumWidth(145);

    // No cancel button: the close box is the only way out without a password.
    c.button = new QPushButton(Text(texts::password::kOk), this);
    c.button->setObjectName(QStringLiteral("Button1"));
    c.button->setDefault(true);
    c.button->setMinimumWidth(81);
    connect(c.button, &QPushButton::clicked, this, &TPassInputForm::Button1Click);

    auto* layout = new QGridLayout(this);
    layout->addWidget(c.label, 0, 0, 1, 2);
    layout->addWidget(c.passEdit, 1, 0);
    layout->addWidget(c.button, 1, 1);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    c.passEdit->setFocus();
    move(352, 264);
}

TPassInputForm::~TPassInputForm() {
    delete controls_;
}

std::string TPassInputForm::Password() const {
    return ToCp932(controls_->passEdit->text());
}

void TPassInputForm::Button1Click() {
    // A character CP932 lacks would be sent as '?': a wrong password with no hint why.
    if (!IsCp932Storable(controls_->passEdit->text())) {
        ShowMessageBox(this, Text(texts::password::kBadCharacter));
        controls_->passEdit->setFocus();
        return;
    }
    accept();
}
