#include "ui/setting_form.h"

#include "accounts/oauth_provider.h"
#include "accounts/option_rules.h"
#include "texts/texts.h"
#include "ui/app_font.h"
#include "ui/cp932_qstring.h"
#include "ui/keyring.h"
#include "ui/message_box.h"
#include "ui/provider_presets.h"
#include "ui/ui_text.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>

#include <initializer_list>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace {

QLabel* Label(QWidget* parent, const QString& text, const char* name = nullptr) {
    auto* label = new QLabel(text, parent);
    if (name) {
        label->setObjectName(QString::fromLatin1(name));
    }
    return label;
}

template <typename W>
W* Named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLineEdit* Edit(QWidget* parent, const char* name) {
    return Named(new QLineEdit(parent), name);
}

QCheckBox* Check(QWidget* parent, const char* name, const QString& text) {
    return Named(new QCheckBox(text, parent), name);
}

QRadioButton* Radio(QWidget* parent, const char* name, const QString& text) {
    return Named(new QRadioButton(text, parent), name);
}

// Qt cannot uncheck a checked auto-exclusive radio button, so a group is
// set with exclusivity off: only `chosen` ends up checked, or none.
void CheckOnly(const std::vector<QRadioButton*>& group, QRadioButton* chosen) {
    for (QRadioButton* b : group) {
        b->setAutoExclusive(false);
    }
    for (QRadioButton* b : group) {
        b->setChecked(b == chosen);
    }
    for (QRadioButton* b : group) {
        b->setAutoExclusive(true);
    }
}

// Checks the radio of the bit that wins by the precedence list; with none
// of them set, none (which may be no radio at all).
void LoadRadios(const AccountOptions& options, std::span<const int> precedence,
                std::initializer_list<std::pair<QRadioButton*, int>> radios, QRadioButton* none = nullptr) {
    const int winner = option_rules::WinningBit(options, precedence);
    QRadioButton* chosen = none;
    std::vector<QRadioButton*> group;
    if (none != nullptr) {
        group.push_back(none);
    }
    for (const auto& [button, bit] : radios) {
        group.push_back(button);
        if (bit == winner) {
            chosen = button;
        }
    }
    CheckOnly(group, chosen);
}

void SetBit(AccountOptions& options, int bit, bool on) {
    if (on) {
        options.Set(bit);
    } else {
        options.Clear(bit);
    }
}

}  // namespace

struct TSettingForm::Controls {
    QTabWidget* pages = nullptr;
    QLineEdit* accountName = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;
    // Page 1.
    QLineEdit* mailAddress = nullptr;
    QPushButton* mailAddressSetup = nullptr;
    QComboBox* oauthProvider = nullptr;  // the presets with OAuth2, by name
    bool oauthProviderChosen = false;    // by the user: it no longer follows the user and server
    // What a connect chooses from; read here without a box, which the
    // presets of メールアドレスから設定 show at their first use.
    std::vector<Provider> oauthPresets = LoadUserProviderCatalog().providers;
    QLineEdit* popServerName = nullptr;
    QRadioButton* popEncryptNone = nullptr;
    QRadioButton* popEncryptTLS = nullptr;
    QRadioButton* popEncryptSTLS = nullptr;
    QLineEdit* popUserName = nullptr;
    QLineEdit* popPassword = nullptr;
    QCheckBox* popSavePassword = nullptr;
    QCheckBox* popReadHeader = nullptr;
    QLineEdit* smtpServerName = nullptr;
    QLineEdit* smtpUserName = nullptr;
    QCheckBox* smtpUserAsPOP = nullptr;
    // Page 2.
    QCheckBox* popAutoSetting = nullptr;
    QLabel* popAuthLabel = nullptr;
    QRadioButton* popAuthBasic = nullptr;
    QRadioButton* popAuthAPOP = nullptr;
    QRadioButton* popAuthAuto = nullptr;
    QRadioButton* popAuthOAuth2 = nullptr;
    QLabel* popPortLabel = nullptr;
    QLineEdit* popPort = nullptr;
    QLabel* popOptionLabel = nullptr;
    QCheckBox* popUseTop = nullptr;
    QCheckBox* popHeaderWithBody = nullptr;
    QCheckBox* popUseCache = nullptr;
    QCheckBox* popDecodeMime = nullptr;
    QCheckBox* popPipelining = nullptr;
    QCheckBox* popLocalDates = nullptr;
    QCheckBox* popMarkNew = nullptr;
    QCheckBox* popApplyRules = nullptr;
    // Page 3.
    QCheckBox* smtpAutoSetting = nullptr;
    QRadioButton* smtpEncryptNone = nullptr;
    QRadioButton* smtpEncryptTLS = nullptr;
    QRadioButton* smtpEncryptSTARTTLS = nullptr;
    QLabel* smtpAuthLabel = nullptr;
    QRadioButton* smtpAuthNone = nullptr;
    QRadioButton* smtpAuthPbS = nullptr;
    QRadioButton* smtpAuthAUTH = nullptr;
    QRadioButton* smtpAuthOAuth2 = nullptr;
    QLabel* smtpPortLabel = nullptr;
    QLineEdit* smtpPort = nullptr;
};

TSettingForm::TSettingForm(QWidget* owner, Account& account)
    : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint), account_(account), controls_(new Controls) {
    setObjectName(QStringLiteral("SettingForm"));
    setWindowTitle(Text(texts::settings::kTitle));
    setFont(AppFont());
    auto& c = *controls_;

    // Name and the two buttons around the pages.
    c.accountName = Edit(this, "AccountName");
    c.okButton = Named(new QPushButton(Text(texts::settings::kOk), this), "OKButton");
    c.cancelButton = Named(new QPushButton(Text(texts::settings::kCancel), this), "CancelButton");
    c.okButton->setDefault(true);
    connect(c.okButton, &QPushButton::clicked, this, &TSettingForm::accept);
    connect(c.cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    c.pages = new QTabWidget(this);

    // Page 1: the everyday fields.
    auto* page1 = new QWidget;
    {
        // Fills in a provider's published settings from the address alone.
        c.mailAddress = Edit(page1, "MailAddressEdit");
        c.mailAddressSetup =
            Named(new QPushButton(Text(texts::settings::kMailAddressSetup), page1), "MailAddressSetupButton");
        c.mailAddressSetup->setAutoDefault(false);
        auto* addressRow = new QHBoxLayout;
        addressRow->addWidget(Label(page1, Text(texts::settings::kMailAddress)));
        addressRow->addWidget(c.mailAddress, 1);
        addressRow->addWidget(c.mailAddressSetup);
        c.oauthProvider = Named(new QComboBox(page1), "OAuthProviderCombo");
        for (const Provider* p : OAuthProviders(c.oauthPresets)) {
            c.oauthProvider->addItem(QString::fromStdString(p->name));
        }
        auto* oauthRow = new QHBoxLayout;
        oauthRow->addWidget(Label(page1, Text(texts::settings::kOAuthProvider)));
        oauthRow->addWidget(c.oauthProvider, 1);

        auto* pop = new QGroupBox(Text(texts::settings::kPopGroup), page1);
        c.popServerName = Edit(pop, "POPServerName");
        c.popEncryptNone = Radio(pop, "POPEncryptNone", Text(texts::settings::kNone));
        c.popEncryptTLS = Radio(pop, "POPEncryptTLS", Text(texts::settings::kSslTls));
        c.popEncryptSTLS = Radio(pop, "POPEncryptSTLS", Text(texts::settings::kStartTls));
        c.popUserName = Edit(pop, "POPUserName");
        c.popPassword = Edit(pop, "POPPassword");
        c.popPassword->setEchoMode(QLineEdit::Password);
        c.popPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // '*'
        c.popSavePassword = Check(pop, "POPSavePassword", Text(texts::settings::kSavePassword));
        c.popReadHeader = Check(pop, "POPReadHeader", Text(texts::settings::kReadHeader));

        auto* encrypt = new QHBoxLayout;
        encrypt->addWidget(c.popEncryptNone);
        encrypt->addWidget(c.popEncryptTLS);
        encrypt->addWidget(c.popEncryptSTLS);
        encrypt->addStretch();

        auto* grid = new QGridLayout(pop);
        grid->addWidget(Label(pop, Text(texts::settings::kPopServer)), 0, 0);
        grid->addWidget(c.popServerName, 0, 1);
        grid->addWidget(Label(pop, Text(texts::settings::kPopServerExample)), 0, 2);
        grid->addWidget(Label(pop, Text(texts::settings::kEncryption), "POPEncryptLabel"), 1, 0);
        grid->addLayout(encrypt, 1, 1, 1, 2);
        grid->addWidget(Label(pop, Text(texts::settings::kUserName)), 2, 0);
        grid->addWidget(c.popUserName, 2, 1);
        grid->addWidget(Label(pop, Text(texts::settings::kUserNameExample)), 2, 2);
        grid->addWidget(Label(pop, Text(texts::settings::kPassword)), 3, 0);
        grid->addWidget(c.popPassword, 3, 1);
        grid->addWidget(Label(pop, Text(texts::settings::kPasswordExample)), 3, 2);
        grid->addWidget(c.popSavePassword, 4, 1);
        grid->addWidget(Label(pop,
                              Text(keyring::Running() ? texts::settings::kPasswordInKeyring
                                                      : texts::settings::kPasswordInFile),
                              "PasswordStoreLabel"),
                        4, 2);
        grid->addWidget(Label(pop, Text(texts::settings::kOptions)), 5, 0);
        grid->addWidget(c.popReadHeader, 5, 1, 1, 2);

        auto* smtp = new QGroupBox(Text(texts::settings::kSmtpGroup), page1);
        c.smtpServerName = Edit(smtp, "SMTPServerName");
        c.smtpUserName = Edit(smtp, "SMTPUserName");
        c.smtpUserAsPOP = Check(smtp, "SMTPUserAsPOP", Text(texts::settings::kSameAsPop));
        c.smtpUserAsPOP->setChecked(true);
        auto* sgrid = new QGridLayout(smtp);
        sgrid->addWidget(Label(smtp, Text(texts::settings::kSmtpServer)), 0, 0);
        sgrid->addWidget(c.smtpServerName, 0, 1);
        sgrid->addWidget(Label(smtp, Text(texts::settings::kSmtpServerExample)), 0, 2);
        sgrid->addWidget(Label(smtp, Text(texts::settings::kUserName)), 1, 0);
        sgrid->addWidget(c.smtpUserName, 1, 1);
        sgrid->addWidget(c.smtpUserAsPOP, 1, 2);

        auto* box = new QVBoxLayout(page1);
        box->addLayout(addressRow);
        box->addLayout(oauthRow);
        box->addWidget(pop);
        box->addWidget(smtp);
        box->addStretch();
    }
    c.pages->addTab(page1, Text(texts::settings::kGeneralPage));

    // Page 2: advanced POP3 settings.
    auto* page2 = new QWidget;
    {
        c.popAutoSetting = Check(page2, "POPAutoSetting", Text(texts::settings::kAutomatic));
        c.popAutoSetting->setChecked(true);
        c.popAuthLabel = Label(page2, Text(texts::settings::kLoginMethod), "POPAuthLabel");
        c.popAuthBasic = Radio(page2, "POPAuthBasic", Text(texts::settings::kUserPass));
        c.popAuthAPOP = Radio(page2, "POPAuthAPOP", Text(texts::settings::kApop));
        c.popAuthAuto = Radio(page2, "POPAuthAuto", Text(texts::settings::kAutoDetect));
        c.popAuthOAuth2 = Radio(page2, "POPAuthOAuth2", Text(texts::settings::kOAuth2));
        c.popPortLabel = Label(page2, Text(texts::settings::kPort), "POPPortLabel");
        c.popPort = Edit(page2, "POPPort");
        c.popPort->setText(QStringLiteral("110"));
        c.popOptionLabel = Label(page2, Text(texts::settings::kOptions), "POPOptionLabel");
        c.popUseTop = Check(page2, "POPUseTop", Text(texts::settings::kUseTop));
        c.popUseTop->setChecked(true);
        c.popHeaderWithBody = Check(page2, "POPHeaderWithBody", Text(texts::settings::kHeaderWithBody));
        c.popUseCache = Check(page2, "POPUseCache", Text(texts::settings::kUseCache));
        c.popUseCache->hide();
        c.popDecodeMime = Check(page2, "POPDecodeMime", Text(texts::settings::kDecodeMime));
        c.popPipelining = Check(page2, "POPPipelining", Text(texts::settings::kPipelining));
        c.popLocalDates = Check(page2, "POPLocalDates", Text(texts::settings::kLocalDates));
        c.popMarkNew = Check(page2, "POPMarkNew", Text(texts::settings::kMarkNew));
        c.popApplyRules = Check(page2, "POPApplyRules", Text(texts::settings::kApplyRules));
        for (QWidget* w : std::initializer_list<QWidget*>{c.popAuthLabel, c.popAuthBasic, c.popAuthAPOP, c.popAuthAuto,
                                                          c.popAuthOAuth2, c.popPortLabel, c.popPort, c.popOptionLabel,
                                                          c.popUseTop, c.popHeaderWithBody, c.popUseCache}) {
            w->setEnabled(false);
        }

        auto* grid = new QGridLayout(page2);
        grid->addWidget(c.popAutoSetting, 0, 0, 1, 4);
        grid->addWidget(c.popAuthLabel, 1, 0);
        grid->addWidget(c.popAuthBasic, 1, 1);
        grid->addWidget(c.popAuthAPOP, 1, 2);
        grid->addWidget(c.popAuthAuto, 1, 3);
        grid->addWidget(c.popAuthOAuth2, 1, 4);
        grid->addWidget(c.popPortLabel, 2, 0);
        grid->addWidget(c.popPort, 2, 1);
        grid->addWidget(c.popOptionLabel, 3, 0);
        grid->addWidget(c.popUseTop, 3, 1, 1, 3);
        grid->addWidget(c.popHeaderWithBody, 4, 1, 1, 3);
        grid->addWidget(c.popUseCache, 5, 1, 1, 3);
        grid->addWidget(c.popDecodeMime, 6, 1, 1, 3);
        grid->addWidget(c.popPipelining, 7, 1, 1, 3);
        grid->addWidget(c.popLocalDates, 8, 1, 1, 3);
        grid->addWidget(c.popMarkNew, 9, 1, 1, 4);
        grid->addWidget(c.popApplyRules, 10, 1, 1, 4);
        grid->setRowStretch(11, 1);
        grid->setColumnStretch(5, 1);
    }
    c.pages->addTab(page2, Text(texts::settings::kPopPage));

    // Page 3: advanced SMTP settings.
    auto* page3 = new QWidget;
    {
        c.smtpAutoSetting = Check(page3, "SMTPAutoSetting", Text(texts::settings::kAutomatic));
        c.smtpAutoSetting->setChecked(true);
        c.smtpAuthLabel = Label(page3, Text(texts::settings::kLoginMethod), "SMTPAuthLabel");
        c.smtpAuthNone = Radio(page3, "SMTPAuthNone", Text(texts::settings::kNone));
        c.smtpAuthPbS = Radio(page3, "SMTPAuthPbS", Text(texts::settings::kPopBeforeSmtp));
        c.smtpAuthAUTH = Radio(page3, "SMTPAuthAUTH", Text(texts::settings::kSmtpAuth));
        c.smtpAuthOAuth2 = Radio(page3, "SMTPAuthOAuth2", Text(texts::settings::kOAuth2));
        c.smtpEncryptNone = Radio(page3, "SMTPEncryptNone", Text(texts::settings::kNone));
        c.smtpEncryptTLS = Radio(page3, "SMTPEncryptTLS", Text(texts::settings::kSslTls));
        c.smtpEncryptSTARTTLS = Radio(page3, "SMTPEncryptSTARTTLS", Text(texts::settings::kStartTls));
        // The method radios and the encryption radios are two groups.
        auto* encryptGroup = new QButtonGroup(page3);
        for (QRadioButton* b : {c.smtpEncryptNone, c.smtpEncryptTLS, c.smtpEncryptSTARTTLS}) {
            encryptGroup->addButton(b);
        }
        c.smtpPortLabel = Label(page3, Text(texts::settings::kPort), "SMTPPortLabel");
        c.smtpPort = Edit(page3, "SMTPPort");
        c.smtpPort->setText(QStringLiteral("25"));
        for (QWidget* w :
             std::initializer_list<QWidget*>{c.smtpAuthLabel, c.smtpAuthNone, c.smtpAuthPbS, c.smtpAuthAUTH,
                                             c.smtpAuthOAuth2, c.smtpPortLabel, c.smtpPort}) {
            w->setEnabled(false);
        }

        auto* grid = new QGridLayout(page3);
        grid->addWidget(c.smtpAutoSetting, 0, 0, 1, 4);
        grid->addWidget(Label(page3, Text(texts::settings::kEncryption), "SMTPEncryptLabel"), 1, 0);
        grid->addWidget(c.smtpEncryptNone, 1, 1);
        grid->addWidget(c.smtpEncryptTLS, 1, 2);
        grid->addWidget(c.smtpEncryptSTARTTLS, 1, 3);
        grid->addWidget(c.smtpAuthLabel, 2, 0);
        grid->addWidget(c.smtpAuthNone, 2, 1);
        grid->addWidget(c.smtpAuthPbS, 2, 2);
        grid->addWidget(c.smtpAuthAUTH, 2, 3);
        grid->addWidget(c.smtpAuthOAuth2, 3, 3);
        grid->addWidget(c.smtpPortLabel, 4, 0);
        grid->addWidget(c.smtpPort, 4, 1);
        grid->setRowStretch(5, 1);
        grid->setColumnStretch(4, 1);
    }
    c.pages->addTab(page3, Text(texts::settings::kSmtpPage));
    c.pages->setCurrentIndex(0);

    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(Label(this, Text(texts::settings::kAccountName)));
    nameRow->addWidget(c.accountName, 1);
    nameRow->addWidget(Label(this, Text(texts::settings::kAccountNameExample)));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(c.okButton);
    buttons->addWidget(c.cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(nameRow);
    layout->addWidget(c.pages, 1);
    layout->addLayout(buttons);

    // The rules follow every change of their box, loading included.
    connect(c.popAutoSetting, &QCheckBox::toggled, this, &TSettingForm::POPAutoSettingClick);
    connect(c.smtpAutoSetting, &QCheckBox::toggled, this, &TSettingForm::SMTPAutoSettingClick);
    // The automatic POP3 port depends on the encryption choice.
    for (QRadioButton* b : {c.popEncryptNone, c.popEncryptTLS, c.popEncryptSTLS}) {
        connect(b, &QRadioButton::toggled, this, &TSettingForm::POPAutoSettingClick);
    }
    for (QRadioButton* b : {c.smtpEncryptNone, c.smtpEncryptTLS, c.smtpEncryptSTARTTLS}) {
        connect(b, &QRadioButton::toggled, this, &TSettingForm::SMTPAutoSettingClick);
    }

    connect(c.mailAddress, &QLineEdit::textChanged, this, [this] { MailAddressChanged(); });
    connect(c.mailAddressSetup, &QPushButton::clicked, this, &TSettingForm::MailAddressSetupButtonClick);
    // Until the user picks one, the provider follows the user name and server.
    connect(c.oauthProvider, &QComboBox::activated, this, [this] { controls_->oauthProviderChosen = true; });
    connect(c.popUserName, &QLineEdit::textChanged, this, [this] { OAuthProviderFollow(); });
    connect(c.popServerName, &QLineEdit::textChanged, this, [this] { OAuthProviderFollow(); });

    FormCreate();

    // A fixed border at no less than the design size, centred on the screen.
    setFixedSize(sizeHint().expandedTo(QSize(454, 319)));
    if (QScreen* screen = owner ? owner->screen() : QDialog::screen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

TSettingForm::~TSettingForm() {
    delete controls_;
}

void TSettingForm::FormCreate() {
    auto& c = *controls_;
    const Account& a = account_;
    const AccountOptions& p = a.popOptions;
    const AccountOptions& s = a.smtpOptions;

    c.accountName->setText(FromCp932(a.name));
    c.popServerName->setText(FromCp932(a.popServer));
    LoadRadios(p, option_rules::kPopEncryption, {{c.popEncryptTLS, POPUseTLS}, {c.popEncryptSTLS, POPUseSTLS}},
               c.popEncryptNone);
    c.popUserName->setText(FromCp932(a.popUser));
    // A user name that is an address offers its provider's settings again.
    c.mailAddress->setText(a.popUser.find('@') != std::string::npos ? FromCp932(a.popUser) : QString());
    MailAddressChanged();
    c.popPassword->setText(FromCp932(a.popPassword));  // whether saved or not
    c.popReadHeader->setChecked(p.Test(POPReadHeader));
    c.popSavePassword->setChecked(p.Test(POPSavePassword));
    c.smtpServerName->setText(FromCp932(a.smtpServer));
    c.smtpUserName->setText(FromCp932(a.smtpUser));
    c.smtpUserAsPOP->setChecked(s.Test(SMTPUserAsPOP));
    c.popAutoSetting->setChecked(p.Test(POPAutoSetting));
    LoadRadios(p, option_rules::kPopLogin,
               {{c.popAuthBasic, POPAuthBasic},
                {c.popAuthAPOP, POPAuthAPOP},
                {c.popAuthAuto, POPAuthAuto},
                {c.popAuthOAuth2, POPAuthOAuth2}});
    c.popPort->setText(QString::number(a.popPort));
    c.popUseTop->setChecked(p.Test(POPUseTop));
    c.popUseCache->setChecked(p.Test(POPUseCache));
    c.popHeaderWithBody->setChecked(p.Test(POPHeaderWithBody));
    c.popDecodeMime->setChecked(p.Test(POPDecodeMime));
    c.popPipelining->setChecked(p.Test(POPPipelining));
    c.popLocalDates->setChecked(p.Test(POPLocalDates));
    c.popMarkNew->setChecked(p.Test(POPMarkNew));
    c.popApplyRules->setChecked(p.Test(POPApplyRules));
    c.smtpAutoSetting->setChecked(s.Test(SMTPAutoSetting));
    LoadRadios(s, option_rules::kSmtpEncryption,
               {{c.smtpEncryptTLS, SMTPUseTLS}, {c.smtpEncryptSTARTTLS, SMTPUseSTARTTLS}}, c.smtpEncryptNone);
    LoadRadios(s, option_rules::kSmtpLogin,
               {{c.smtpAuthNone, SMTPAuthNone},
                {c.smtpAuthPbS, SMTPAuthPbS},
                {c.smtpAuthAUTH, SMTPAuthAUTH},
                {c.smtpAuthOAuth2, SMTPAuthOAuth2}});
    c.smtpPort->setText(QString::number(a.smtpPort));
    // A stored choice the table still has; else the default for the account.
    const int stored =
        a.oauthProvider.empty() ? -1 : c.oauthProvider->findText(QString::fromStdString(a.oauthProvider));
    c.oauthProviderChosen = stored >= 0;
    if (stored >= 0)
        c.oauthProvider->setCurrentIndex(stored);
    else
        OAuthProviderFollow();

    POPAutoSettingClick();
    SMTPAutoSettingClick();
}

void TSettingForm::POPAutoSettingClick() {
    auto& c = *controls_;
    const bool automatic = c.popAutoSetting->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{c.popAuthLabel, c.popAuthBasic, c.popAuthAPOP, c.popAuthAuto,
                                                      c.popAuthOAuth2, c.popPortLabel, c.popPort, c.popOptionLabel,
                                                      c.popUseTop, c.popHeaderWithBody}) {
        w->setEnabled(!automatic);
    }
    c.popUseCache->setEnabled(false);
    if (!automatic) {
        return;
    }
    CheckOnly({c.popAuthBasic, c.popAuthAPOP, c.popAuthAuto, c.popAuthOAuth2}, c.popAuthAuto);
    c.popPort->setText(QString::number(UsualPopPort(c.popEncryptTLS->isChecked()    ? Encryption::Tls
                                                    : c.popEncryptSTLS->isChecked() ? Encryption::StartTls
                                                                                    : Encryption::None)));
    c.popUseTop->setChecked(true);
    c.popUseCache->setChecked(false);
    c.popHeaderWithBody->setChecked(false);
}

void TSettingForm::SMTPAutoSettingClick() {
    auto& c = *controls_;
    const bool automatic = c.smtpAutoSetting->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{c.smtpAuthLabel, c.smtpAuthNone, c.smtpAuthPbS, c.smtpAuthAUTH,
                                                      c.smtpAuthOAuth2, c.smtpPortLabel, c.smtpPort}) {
        w->setEnabled(!automatic);
    }
    if (!automatic) {
        return;
    }
    // Over an encrypted connection the submission port expects a login.
    const bool encrypted = c.smtpEncryptTLS->isChecked() || c.smtpEncryptSTARTTLS->isChecked();
    CheckOnly({c.smtpAuthNone, c.smtpAuthPbS, c.smtpAuthAUTH, c.smtpAuthOAuth2},
              encrypted ? c.smtpAuthAUTH : c.smtpAuthNone);
    c.smtpPort->setText(QString::number(UsualSmtpPort(c.smtpEncryptTLS->isChecked()        ? Encryption::Tls
                                                      : c.smtpEncryptSTARTTLS->isChecked() ? Encryption::StartTls
                                                                                           : Encryption::None)));
}

void TSettingForm::MailAddressChanged() {
    const QString address = controls_->mailAddress->text().trimmed();
    const qsizetype at = address.lastIndexOf(QLatin1Char('@'));
    controls_->mailAddressSetup->setEnabled(at > 0 && at + 1 < address.size());
}

void TSettingForm::MailAddressSetupButtonClick() {
    auto& c = *controls_;
    const QString address = c.mailAddress->text().trimmed();
    const Provider* p = FindProviderForAddress(ProviderPresets(this), address.toStdString());
    if (!p) {
        ShowMessageBox(this, Text(texts::settings::kNoProvider));
        return;
    }
    // Checked, the automatic boxes would force their own choices back on OK.
    c.popAutoSetting->setChecked(false);
    c.smtpAutoSetting->setChecked(false);

    c.popServerName->setText(QString::fromStdString(p->pop.host));
    c.popPort->setText(QString::number(p->pop.port));
    CheckOnly({c.popEncryptNone, c.popEncryptTLS, c.popEncryptSTLS}, p->pop.encryption == "tls" ? c.popEncryptTLS
                                                                     : p->pop.encryption == "starttls"
                                                                         ? c.popEncryptSTLS
                                                                         : c.popEncryptNone);
    c.popUserName->setText(address);
    const std::vector<QRadioButton*> popLogins = {c.popAuthBasic, c.popAuthAPOP, c.popAuthAuto, c.popAuthOAuth2};
    if (p->pop.login == "password") {
        CheckOnly(popLogins, c.popAuthBasic);
    } else if (p->pop.login == "apop") {
        CheckOnly(popLogins, c.popAuthAPOP);
    } else if (p->pop.login == "oauth2") {
        CheckOnly(popLogins, c.popAuthOAuth2);
    }

    c.smtpServerName->setText(QString::fromStdString(p->smtp.host));
    c.smtpPort->setText(QString::number(p->smtp.port));
    CheckOnly({c.smtpEncryptNone, c.smtpEncryptTLS, c.smtpEncryptSTARTTLS},
              p->smtp.encryption == "tls"        ? c.smtpEncryptTLS
              : p->smtp.encryption == "starttls" ? c.smtpEncryptSTARTTLS
                                                 : c.smtpEncryptNone);
    c.smtpUserName->setText(address);
    const std::vector<QRadioButton*> smtpLogins = {c.smtpAuthNone, c.smtpAuthPbS, c.smtpAuthAUTH, c.smtpAuthOAuth2};
    if (p->smtp.login == "password") {
        CheckOnly(smtpLogins, c.smtpAuthAUTH);
    } else if (p->smtp.login == "none") {
        CheckOnly(smtpLogins, c.smtpAuthNone);
    } else if (p->smtp.login == "oauth2") {
        CheckOnly(smtpLogins, c.smtpAuthOAuth2);
    }
    // The address's own provider, whatever was picked before.
    if (p->oauth2) {
        c.oauthProviderChosen = false;
        OAuthProviderFollow();
    }
}

Account TSettingForm::OAuthDefaultsFor() const {
    Account a;
    a.popUser = ToCp932(controls_->popUserName->text());
    a.popServer = ToCp932(controls_->popServerName->text());
    return a;
}

void TSettingForm::OAuthProviderFollow() {
    auto& c = *controls_;
    if (c.oauthProviderChosen) return;
    const Provider* p = DefaultOAuthProvider(c.oauthPresets, OAuthDefaultsFor());
    c.oauthProvider->setCurrentIndex(p ? c.oauthProvider->findText(QString::fromStdString(p->name)) : -1);
}

void TSettingForm::accept() {
    OKButtonClick();
}

namespace {

// The port texts as the dialog accepts them: a decimal integer, white
// space around it allowed, within 1-65535.
enum class PortCheck { Ok, NotInteger, OutOfRange };

PortCheck CheckPort(const QString& text, int& port) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok) {
        return PortCheck::NotInteger;
    }
    if (value < 1 || value > 65535) {
        return PortCheck::OutOfRange;
    }
    port = value;
    return PortCheck::Ok;
}

}  // namespace

bool TSettingForm::Validate() {
    auto& c = *controls_;
    // Refuses, names the field, and puts the cursor in it.
    auto refuse = [&](QLineEdit* field, const QString& text) {
        ShowMessageBox(this, text);
        for (QWidget* w = field; w; w = w->parentWidget()) {
            const int index = c.pages->indexOf(w);
            if (index >= 0) {
                c.pages->setCurrentIndex(index);
                break;
            }
        }
        field->setFocus();
        field->selectAll();
        return false;
    };

    // A comma would split the stored record; a character CP932 lacks
    // would be stored as '?'.
    struct TextField {
        QLineEdit* edit;
        std::string_view name;
        bool commaAllowed;
    };
    const TextField texts[] = {
        {c.accountName, texts::settings::kAccountNameField, false},
        {c.popServerName, texts::settings::kPopServerField, false},
        {c.popUserName, texts::settings::kPopUserField, false},
        // Unsaved, the password is never written to the store.
        {c.popPassword, texts::settings::kPasswordField, !c.popSavePassword->isChecked()},
        {c.smtpServerName, texts::settings::kSmtpServerField, false},
        {c.smtpUserName, texts::settings::kSmtpUserField, false},
    };
    for (const TextField& f : texts) {
        const QString text = f.edit->text();
        if (!f.commaAllowed && text.contains(QLatin1Char(','))) {
            return refuse(f.edit, Text(texts::settings::kNoComma).arg(Text(f.name)));
        }
        if (!IsCp932Storable(text)) {
            return refuse(f.edit, Text(texts::settings::kBadCharacter).arg(Text(f.name)));
        }
    }

    struct PortField {
        QLineEdit* edit;
        std::string_view name;
    };
    for (const PortField& f : {PortField{c.popPort, texts::settings::kPopPortField},
                               PortField{c.smtpPort, texts::settings::kSmtpPortField}}) {
        int port = 0;
        switch (CheckPort(f.edit->text(), port)) {
            case PortCheck::Ok:
                break;
            case PortCheck::NotInteger:
                return refuse(f.edit, Text(texts::settings::kNotInteger).arg(f.edit->text()));
            case PortCheck::OutOfRange:
                return refuse(f.edit, Text(texts::settings::kPortRange).arg(Text(f.name)));
        }
    }
    return true;
}

void TSettingForm::OKButtonClick() {
    if (!Validate()) {
        return;
    }
    auto& c = *controls_;
    int popPort = 0;
    int smtpPort = 0;
    CheckPort(c.popPort->text(), popPort);
    CheckPort(c.smtpPort->text(), smtpPort);

    // Built on a copy so the account changes all at once.
    Account a = account_;
    AccountOptions& p = a.popOptions;
    AccountOptions& s = a.smtpOptions;
    a.name = ToCp932(c.accountName->text());
    a.popServer = ToCp932(c.popServerName->text());
    a.popUser = ToCp932(c.popUserName->text());
    a.popPassword = ToCp932(c.popPassword->text());
    SetBit(p, POPReadHeader, c.popReadHeader->isChecked());
    SetBit(p, POPSavePassword, c.popSavePassword->isChecked());
    a.smtpServer = ToCp932(c.smtpServerName->text());
    a.smtpUser = ToCp932(c.smtpUserName->text());
    SetBit(s, SMTPUserAsPOP, c.smtpUserAsPOP->isChecked());
    SetBit(p, POPAutoSetting, c.popAutoSetting->isChecked());
    SetBit(p, POPAuthBasic, c.popAuthBasic->isChecked());
    SetBit(p, POPAuthAPOP, c.popAuthAPOP->isChecked());
    SetBit(p, POPAuthAuto, c.popAuthAuto->isChecked());
    SetBit(p, POPAuthOAuth2, c.popAuthOAuth2->isChecked());
    a.popPort = popPort;
    SetBit(p, POPUseTop, c.popUseTop->isChecked());
    SetBit(p, POPUseCache, c.popUseCache->isChecked());
    SetBit(p, POPHeaderWithBody, c.popHeaderWithBody->isChecked());
    SetBit(s, SMTPAutoSetting, c.smtpAutoSetting->isChecked());
    SetBit(s, SMTPAuthPbS, c.smtpAuthPbS->isChecked());
    SetBit(s, SMTPAuthAUTH, c.smtpAuthAUTH->isChecked());
    SetBit(s, SMTPAuthNone, c.smtpAuthNone->isChecked());
    SetBit(s, SMTPAuthOAuth2, c.smtpAuthOAuth2->isChecked());
    a.smtpPort = smtpPort;
    SetBit(p, POPDecodeMime, c.popDecodeMime->isChecked());
    SetBit(p, POPUseTLS, c.popEncryptTLS->isChecked());
    SetBit(p, POPUseSTLS, c.popEncryptSTLS->isChecked());
    SetBit(p, POPPipelining, c.popPipelining->isChecked());
    SetBit(p, POPLocalDates, c.popLocalDates->isChecked());
    SetBit(p, POPMarkNew, c.popMarkNew->isChecked());
    SetBit(p, POPApplyRules, c.popApplyRules->isChecked());
    SetBit(s, SMTPUseTLS, c.smtpEncryptTLS->isChecked());
    SetBit(s, SMTPUseSTARTTLS, c.smtpEncryptSTARTTLS->isChecked());
    // Stored only when it is not what the account's user and server give
    // anyway, so that one left alone keeps following them.
    const Provider* fallback = DefaultOAuthProvider(c.oauthPresets, a);
    const std::string chosen = c.oauthProvider->currentIndex() >= 0 ? c.oauthProvider->currentText().toStdString() : "";
    a.oauthProvider = chosen.empty() || (fallback && fallback->name == chosen) ? std::string() : chosen;
    account_ = a;
    QDialog::accept();
}
