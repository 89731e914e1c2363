#pragma once

#include "accounts/account.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <string>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TNMSMTP;
class TPopLogin;

// The modal compose window: one plain-text mail through the account's SMTP
// server, the way its smtpOptions ask (SmtpPlanFor: port 25 with HELO and
// no authentication unless encryption, SMTP AUTH or POP before SMTP is
// chosen). A read-only line under the server field names the server, port,
// encryption and authentication. The password for AUTH and POP before SMTP
// is the account's POP3 password; when that is empty the password prompt
// asks once per window. An OAuth2 account sends no password: the token
// comes from the source set with SetOAuthTokenSource. The subject and display name go out as
// ISO-2022-JP encoded words, the body as ISO-2022-JP.
//   TSendMailForm form(mainWindow, CurrentAccount());
//   form.exec();
// Nothing is written back to the account. Escape does not close the
// window; closing it during a send aborts the send and closes the window
// once the send has unwound, then one box says whether the server may
// have the mail all the same (the final "." went out, its answer did not
// come). The recipient field takes several addresses (SplitAddressList);
// the other one-line fields refuse line breaks and NUL.
class TSendMailForm : public QDialog {
    Q_OBJECT
public:
    TSendMailForm(QWidget* owner, const Account& account);
    ~TSendMailForm() override;

    TNMSMTP& NMSMTP() { return *nmsmtp_; }
    // Where an OAuth2 account's access token comes from (the window's
    // sign-in), and what to do when the server refused a fresh one too.
    void SetOAuthTokenSource(std::function<bool(bool refresh, std::string& token, std::string& error)> source,
                             std::function<void()> signInNeeded);
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
    void UpdateRouteLabel();
    // The password for the login the plan needs; false when the prompt was closed.
    bool ObtainPassword();

    const Account account_;
    std::unique_ptr<TNMSMTP> nmsmtp_;
    bool sending_ = false;
    bool closeRequested_ = false;
    std::string password_;           // the POP3 password, or the one the prompt got
    TPopLogin* popLogin_ = nullptr;  // during POP before SMTP, for a close to abort

    QLineEdit* smtpServerEdit_ = nullptr;
    QLabel* routeLabel_ = nullptr;
    QLineEdit* userIdEdit_ = nullptr;
    QLineEdit* sendToEdit_ = nullptr;
    QLineEdit* sendFromEdit_ = nullptr;
    QLineEdit* sendSubjectEdit_ = nullptr;
    QPlainTextEdit* sendBodyMemo_ = nullptr;
    QPushButton* sendButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
};
