#pragma once

#include "accounts/account.h"

#include <QDialog>

#include <memory>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TNMSMTP;

// The modal compose window: one plain-text mail through the account's SMTP
// server (port 25, HELO, no authentication). The subject and display name
// go out as ISO-2022-JP encoded words, the body as ISO-2022-JP.
//   TSendMailForm form(mainWindow, CurrentAccount());
//   form.exec();
// Nothing is written back to the account. Escape does not close the
// window; closing it during a send aborts the send and closes the window
// once the send has unwound.
class TSendMailForm : public QDialog {
    Q_OBJECT
public:
    TSendMailForm(QWidget* owner, const Account& account);
    ~TSendMailForm() override;

    TNMSMTP& NMSMTP() { return *nmsmtp_; }
    bool Sending() const { return sending_; }

public slots:
    void SendButtonClick();
    void CloseButtonClick();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;

private:
    void FormCreate();
    void NMSMTPSendStart();
    void ShowBox(const QString& text, bool error);

    const Account account_;
    std::unique_ptr<TNMSMTP> nmsmtp_;
    bool sending_ = false;
    bool closeRequested_ = false;

    QLineEdit* smtpServerEdit_ = nullptr;
    QLineEdit* userIdEdit_ = nullptr;
    QLineEdit* sendToEdit_ = nullptr;
    QLineEdit* sendFromEdit_ = nullptr;
    QLineEdit* sendSubjectEdit_ = nullptr;
    QPlainTextEdit* sendBodyMemo_ = nullptr;
    QPushButton* sendButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
};
