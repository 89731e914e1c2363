#pragma once

#include <QDialog>

#include <string>

// The modal password prompt: no cancel button; Enter (an empty text
// included) accepts, the close box cancels.
//   TPassInputForm prompt(mainWindow);
//   if (prompt.exec() == QDialog::Accepted) password = prompt.Password();
class TPassInputForm : public QDialog {
    Q_OBJECT
public:
    explicit TPassInputForm(QWidget* owner);
    ~TPassInputForm() override;

    // The typed text as Shift_JIS bytes.
    std::string Password() const;

private:
    void Button1Click();

    struct Controls;
    Controls* controls_ = nullptr;
};
