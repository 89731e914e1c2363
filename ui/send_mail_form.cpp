#include "ui/send_mail_form.h"

#include "accounts/oauth_provider.h"

#include "mime/jis_encode.h"
#include "platform/cp932.h"
#include "smtp/address_list.h"
#include "smtp/pop_login.h"
#include "smtp/send_plan.h"
#include "smtp/smtp.h"
#include "texts/texts.h"
#include "ui/app_font.h"
#include "ui/cp932_qstring.h"
#include "ui/message_box.h"
#include "ui/pass_input_form.h"
#include "ui/ui_text.h"

#include <QCoreApplication>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <ctime>
#include <string_view>

namespace {

const char kXMailer[] = "X-Mailer: Boxsweeper ver0.30";
// The POP3 login before a send: long enough for a slow server, short
// enough that a dead one does not hold the window for ever.
constexpr int kPopLoginTimeOut = 60000;

// The typed text as CP932, composed characters joined first (a combining
// mark after か is が, which CP932 has).
std::string MailText(const QString& text) {
    return Utf8ToCp932ForMail(text.normalized(QString::NormalizationForm_C).toStdString());
}

// A line break would end the command or header line the field goes into.
bool HasLineBreakOrNul(const QString& text) {
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) || text.contains(QChar(u'\0'));
}

}  // namespace

TSendMailForm::TSendMailForm(QWidget* owner, const Account& account)
    : QDialog(owner), account_(account), nmsmtp_(std::make_unique<TNMSMTP>()) {
    setObjectName(QStringLiteral("SendMailForm"));
    setWindowTitle(Text(texts::compose::kTitle));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(AppFont());
    setModal(true);
    resize(507, 445);

    auto makeEdit = [this](const char* name) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(name));
        return edit;
    };
    smtpServerEdit_ = makeEdit("SMTPServerEdit");
    userIdEdit_ = makeEdit("UserIDEdit");
    sendToEdit_ = makeEdit("SendToEdit");
    sendFromEdit_ = makeEdit("SendFromEdit");
    sendSubjectEdit_ = makeEdit("SendSubjectEdit");
    smtpServerEdit_->setFixedWidth(177);
    routeLabel_ = new QLabel(this);
    routeLabel_->setObjectName(QStringLiteral("SMTPRouteLabel"));
    routeLabel_->setTextFormat(Qt::PlainText);  // the typed server name, never markup
    routeLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    userIdEdit_->setFixedWidth(177);
    sendBodyMemo_ = new QPlainTextEdit(this);
    sendBodyMemo_->setObjectName(QStringLiteral("SendBodyMemo"));
    sendBodyMemo_->setTabChangesFocus(true);
    sendButton_ = new QPushButton(Text(texts::compose::kSend), this);
    sendButton_->setObjectName(QStringLiteral("SendButton"));
    sendButton_->setAutoDefault(false);
    closeButton_ = new QPushButton(Text(texts::compose::kCancel), this);
    closeButton_->setObjectName(QStringLiteral("CloseButton"));
    closeButton_->setAutoDefault(false);

    auto* addresses = new QGridLayout;
    auto addRow = [&](int row, std::string_view label, QWidget* edit, bool stretch) {
        auto* text = new QLabel(Text(label), this);
        text->setBuddy(edit);
        addresses->addWidget(text, row, 0);
        addresses->addWidget(edit, row, 1, stretch ? Qt::Alignment() : Qt::AlignLeft);
    };
    addRow(0, texts::compose::kSmtpServer, smtpServerEdit_, false);
    addresses->addWidget(routeLabel_, 1, 1);
    addRow(2, texts::compose::kUserId, userIdEdit_, false);
    addRow(3, texts::compose::kTo, sendToEdit_, true);
    addRow(4, texts::compose::kFrom, sendFromEdit_, true);
    addresses->setColumnStretch(1, 1);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(sendButton_);
    buttons->addStretch(1);
    buttons->addWidget(closeButton_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(addresses);
    layout->addWidget(divider);
    layout->addWidget(new QLabel(Text(texts::compose::kSubject), this));
    layout->addWidget(sendSubjectEdit_);
    layout->addWidget(new QLabel(Text(texts::compose::kBody), this));
    layout->addWidget(sendBodyMemo_, 1);
    layout->addLayout(buttons);

    setTabOrder(smtpServerEdit_, userIdEdit_);
    setTabOrder(userIdEdit_, sendToEdit_);
    setTabOrder(sendToEdit_, sendFromEdit_);
    setTabOrder(sendFromEdit_, sendSubjectEdit_);
    setTabOrder(sendSubjectEdit_, sendBodyMemo_);
    setTabOrder(sendBodyMemo_, sendButton_);
    setTabOrder(sendButton_, closeButton_);

    connect(sendButton_, &QPushButton::clicked, this, &TSendMailForm::SendButtonClick);
    connect(closeButton_, &QPushButton::clicked, this, &TSendMailForm::CloseButtonClick);
    connect(smtpServerEdit_, &QLineEdit::textChanged, this, &TSendMailForm::UpdateRouteLabel);

    TNMSMTP& smtp = *nmsmtp_;
    smtp.Port = 25;
    smtp.ReportLevel = 0;
    smtp.EncodeType = uuMime;
    smtp.ClearParams = true;
    smtp.SubType = mtPlain;
    smtp.Charset = "us-ascii";
    smtp.TimeOut = 0;
    smtp.OnSendStart = [this] { NMSMTPSendStart(); };
    // The waits keep the window alive; a close arriving here aborts them.
    smtp.Pump = [] { QCoreApplication::processEvents(QEventLoop::AllEvents); };

    FormCreate();
}

TSendMailForm::~TSendMailForm() = default;

void TSendMailForm::FormCreate() {
    smtpServerEdit_->setText(FromCp932(account_.smtpServer));
    userIdEdit_->setText(FromCp932(account_.smtpOptions.Test(SMTPUserAsPOP) ? account_.popUser : account_.smtpUser));
    password_ = account_.popPassword;
    UpdateRouteLabel();
}

void TSendMailForm::UpdateRouteLabel() {
    const TSmtpPlan plan = SmtpPlanFor(account_);
    const QString security = plan.security == TSmtpSecurity::Tls        ? Text(texts::compose::kSslTls)
                             : plan.security == TSmtpSecurity::StartTls ? Text(texts::compose::kStartTls)
                                                                        : Text(texts::compose::kNoEncryption);
    const QString login = plan.login == TSmtpLogin::Auth            ? Text(texts::compose::kSmtpAuth)
                          : plan.login == TSmtpLogin::OAuth2        ? Text(texts::compose::kOAuth2)
                          : plan.login == TSmtpLogin::PopBeforeSmtp ? Text(texts::compose::kPopBeforeSmtp)
                                                                    : Text(texts::compose::kNoLogin);
    routeLabel_->setText(
        Text(texts::compose::kRoute).arg(smtpServerEdit_->text().trimmed()).arg(plan.port).arg(security, login));
}

void TSendMailForm::SetOAuthTokenSource(
    std::function<bool(bool refresh, std::string& token, std::string& error)> source,
    std::function<void()> signInNeeded) {
    nmsmtp_->OnOAuthToken = std::move(source);
    nmsmtp_->OnOAuthSignInNeeded = std::move(signInNeeded);
}

bool TSendMailForm::ObtainPassword() {
    if (!password_.empty()) return true;
    TPassInputForm prompt(this);
    if (prompt.exec() != QDialog::Accepted) return false;
    password_ = prompt.Password();
    return true;
}

void TSendMailForm::NMSMTPSendStart() {
    nmsmtp_->FinalHeader.Add(kXMailer);
}

void TSendMailForm::ShowBox(const QString& text, bool error) {
    if (!error) {
        ShowMessageBox(this, text);
        return;
    }
    // The error report: the failure's text with the error icon.
    QMessageBox box(QMessageBox::Critical, Text(texts::kProgramName), text, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);  // the server's words, never markup
    box.exec();
}

void TSendMailForm::SendButtonClick() {
    if (sending_) return;
    const QString body = sendBodyMemo_->toPlainText();
    const std::vector<std::string> recipients = SplitAddressList(sendToEdit_->text().toStdString());
    bool empty = body.isEmpty() || recipients.empty();
    for (const QLineEdit* edit : {smtpServerEdit_, userIdEdit_, sendToEdit_, sendFromEdit_, sendSubjectEdit_}) {
        empty = empty || edit->text().isEmpty();
    }
    if (empty) {
        ShowBox(Text(texts::compose::kEmptyFields), false);
        return;
    }
    const std::pair<const QLineEdit*, std::string_view> singleLine[] = {
        {smtpServerEdit_, texts::compose::kSmtpServerField},
        {userIdEdit_, texts::compose::kUserIdField},
        {sendFromEdit_, texts::compose::kFromField},
        {sendSubjectEdit_, texts::compose::kSubjectField},
    };
    for (const auto& [edit, label] : singleLine) {
        if (HasLineBreakOrNul(edit->text())) {
            ShowBox(Text(texts::compose::kLineBreak).arg(Text(label)), false);
            return;
        }
    }
    // Line breaks in the recipients only separate addresses.
    if (sendToEdit_->text().contains(QChar(u'\0'))) {
        ShowBox(Text(texts::compose::kNulInTo), false);
        return;
    }

    TNMSMTP& smtp = *nmsmtp_;
    smtp.Charset = "iso-2022-jp";
    smtp.Host = MailText(smtpServerEdit_->text());
    smtp.UserID = MailText(userIdEdit_->text());
    smtp.PostMessage.ToAddress.clear();
    for (const std::string& address : recipients) {
        smtp.PostMessage.ToAddress.push_back(EncodeAddressList(MailText(QString::fromStdString(address)), 4));
    }
    smtp.PostMessage.FromAddress = MailText(sendFromEdit_->text());
    smtp.PostMessage.Subject = EncodeHeaderText(MailText(sendSubjectEdit_->text()), 9);  // after "Subject: "
    smtp.PostMessage.Body.clear();
    for (const QString& line : body.split(QLatin1Char('\n'))) {
        smtp.PostMessage.Body.push_back(Cp932ToJis(MailText(line)));
    }
    smtp.PostMessage.Date = MailDate(std::time(nullptr));

    const TSmtpPlan plan = SmtpPlanFor(account_);
    const bool oauth = plan.login == TSmtpLogin::OAuth2;
    if (oauth) {
        // The POP3 side's provider serves SMTP too.
        const std::vector<Provider> presets = LoadUserProviderCatalog().providers;
        const Provider* provider = OAuthProviderFor(presets, account_);
        if (const std::string problem = OAuthSetupProblem(provider); !problem.empty()) {
            ShowBox(FromCp932(problem), true);
            return;
        }
        smtp.OAuthMechanisms = OAuthMechanisms(provider);
    }
    if (plan.login != TSmtpLogin::None && !oauth && !ObtainPassword()) return;
    smtp.Port = plan.port;
    smtp.Security = plan.security;
    smtp.Authenticate = plan.login == TSmtpLogin::Auth;
    smtp.Password = smtp.Authenticate ? password_ : std::string();
    smtp.OAuth2 = oauth;

    sendButton_->setEnabled(false);
    sending_ = true;
    std::string error;
    bool inSendMail = false;  // until SendMail runs, SendStage tells of an earlier send
    try {
        if (plan.login == TSmtpLogin::PopBeforeSmtp) {
            TPopLogin login(account_, password_);
            login.TimeOut = kPopLoginTimeOut;
            login.Pump = smtp.Pump;
            popLogin_ = &login;
            struct Forget {
                TPopLogin*& login;
                ~Forget() { login = nullptr; }
            } forget{popLogin_};
            login.Run();
        }
        if (closeRequested_) throw EAbortError("Send aborted");
        smtp.Connect();
        inSendMail = true;
        smtp.SendMail();
    } catch (const std::exception& e) {
        error = e.what();
        if (error.empty()) error = "Error";
    }
    if (error.empty() && !closeRequested_) {
        // The server has the mail: a failing QUIT must not make the user
        // send it again.
        try {
            smtp.Disconnect();
        } catch (const std::exception&) {
        }
    } else {
        smtp.CloseSocket();  // no QUIT: the server may be gone or silent
    }
    sending_ = false;
    sendButton_->setEnabled(true);
    // A typed password that failed must not be used again without asking.
    if (!error.empty() && account_.popPassword.empty()) password_.clear();

    if (closeRequested_) {
        QDialog::reject();
        // Closing cannot take back a "." that went out: the server may
        // have the mail although its answer never came.
        const bool mayHaveArrived = inSendMail && smtp.SendStage() == TSendStage::DotSent;
        ShowBox(Text(error.empty()    ? texts::compose::kSent
                     : mayHaveArrived ? texts::compose::kAbortedMayHaveArrived
                                      : texts::compose::kAborted),
                false);
        return;
    }
    if (!error.empty()) {
        ShowBox(FromCp932(error).trimmed(), true);
        return;
    }
    ShowBox(Text(texts::compose::kSent), false);
    closeButton_->setText(Text(texts::compose::kClose));
    closeButton_->setFocus();
}

void TSendMailForm::CloseButtonClick() {
    reject();
}

void TSendMailForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();  // a stray Escape must not throw away a typed mail
        return;
    }
    QDialog::keyPressEvent(event);
}

void TSendMailForm::reject() {
    if (sending_) {
        // The send's wait is on the stack below us: end it, and close once
        // it has unwound.
        closeRequested_ = true;
        if (popLogin_) popLogin_->Abort();
        nmsmtp_->Abort();
        return;
    }
    QDialog::reject();
}
