#include "ui/send_mail_form.h"
#include "smtp/smtp.h"
#include "support/smtp_sink.h"
#include "support/smtp_transcript.h"
#include "support/test_certificates.h"
#include "ui_support.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace {

// The window always sends to port 25, so each test takes a loopback
// address of its own (127.0.0.x) for its server.
QString LoopbackHost() {
    static std::mt19937 random{std::random_device{}()};
    return QStringLiteral("127.0.%1.%2")
        .arg(std::uniform_int_distribution<int>(1, 254)(random))
        .arg(std::uniform_int_distribution<int>(2, 254)(random));
}

// What Python's email package reads from one stored message.
QJsonObject Parse(const SmtpSink& sink, int n) {
    static const char kScript[] = R"(
import email, email.policy, email.utils, json, sys
msg = email.message_from_bytes(open(sys.argv[1], 'rb').read(), policy=email.policy.default)
date = email.utils.parsedate_to_datetime(msg['Date'])
print(json.dumps({
    'from': msg['From'].addresses[0].addr_spec,
    'to_name': msg['To'].addresses[0].display_name,
    'to_addr': msg['To'].addresses[0].addr_spec,
    'subject': str(msg['Subject']),
    'date_aware': date.tzinfo is not None,
    'date_age': abs(__import__('time').time() - date.timestamp()),
    'x_mailer': msg.get_all('X-Mailer') or [],
    'charset': msg.get_content_charset(),
    'body': msg.get_content().replace('\r\n', '\n'),
}))
)";
    QProcess python;
    const QString file = QString::fromStdString(sink.directory() + "/" + std::to_string(n) + ".eml");
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromLatin1(kScript), file});
    python.waitForFinished(60000);
    const QByteArray out = python.readAllStandardOutput();
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    return QJsonDocument::fromJson(out).object();
}

template <typename T>
T* Child(QWidget& form, const char* name) {
    T* w = form.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

// Fills the four fields the send needs.
void Compose(TSendMailForm& form, const QString& to, const QString& from, const QString& subject, const QString& body) {
    Child<QLineEdit>(form, "SendToEdit")->setText(to);
    Child<QLineEdit>(form, "SendFromEdit")->setText(from);
    Child<QLineEdit>(form, "SendSubjectEdit")->setText(subject);
    Child<QPlainTextEdit>(form, "SendBodyMemo")->setPlainText(body);
}

// Clicks the send button; the click returns when the send has ended.
void Send(TSendMailForm& form) {
    QTest::mouseClick(Child<QPushButton>(form, "SendButton"), Qt::LeftButton);
}

TEST(SendMailForm, JapaneseMailArrivesIntactAlsoOnARetryAndASecondSend) {
    const QString host = LoopbackHost();
    Account account = DefaultAccount();
    account.smtpServer = host.toStdString();
    account.smtpPort = 587;  // not used: without the login and encryption bits the window sends to 25
    account.popUser = "taro";
    account.smtpUser = "other";
    account.smtpOptions.Set(SMTPUserAsPOP);
    account.smtpOptions.Set(SMTPAuthNone);
    const Account before = account;

    TSendMailForm form(nullptr, account);
    form.show();
    auto* server = Child<QLineEdit>(form, "SMTPServerEdit");
    auto* user = Child<QLineEdit>(form, "UserIDEdit");
    auto* to = Child<QLineEdit>(form, "SendToEdit");
    auto* from = Child<QLineEdit>(form, "SendFromEdit");
    auto* subject = Child<QLineEdit>(form, "SendSubjectEdit");
    auto* body = Child<QPlainTextEdit>(form, "SendBodyMemo");
    auto* sendButton = Child<QPushButton>(form, "SendButton");
    auto* closeButton = Child<QPushButton>(form, "CloseButton");
    EXPECT_EQ(server->text(), host);
    EXPECT_EQ(user->text(), "taro");
    EXPECT_TRUE(subject->toolTip().isEmpty());

    ModalHandler answerer(ModalHandler::kAnswerEveryBox);
    QTest::keyClicks(to, "<taro@example.jp>");
    to->home(false);
    to->insert(QString::fromUtf8("山田 太郎 "));  // QTest types ASCII only
    QTest::keyClicks(from, "hanako@example.jp");
    subject->insert(QString::fromUtf8("来週の会議  について ﾃﾞｰﾀ"));
    const QString typed = QString::fromUtf8("こんにちは。\n～テスト①です。\n.dot line\n\nABC 😀");
    body->setPlainText(typed);
    QTest::keyClick(&form, Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible());

    // Nothing listens yet: the send fails, and the window can send again.
    Send(form);
    ASSERT_EQ(answerer.boxes.size(), 1u);
    EXPECT_EQ(answerer.boxes[0].text, "Connection Failed");
    EXPECT_EQ(answerer.boxes[0].caption, "Boxsweeper");
    EXPECT_TRUE(sendButton->isEnabled());
    EXPECT_EQ(closeButton->text(), QString::fromUtf8("キャンセル"));
    EXPECT_EQ(body->toPlainText(), typed);

    SmtpSink sink(host.toStdString(), 25);
    if (!sink.started()) GTEST_SKIP() << "no SMTP sink on port 25: " << sink.failure();
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        Send(form);
        ASSERT_EQ(answerer.boxes.size(), 1u + round);
        EXPECT_EQ(answerer.boxes.back().text, QString::fromUtf8("メールを送信しました"));
        EXPECT_EQ(closeButton->text(), QString::fromUtf8("閉じる"));
        EXPECT_EQ(form.focusWidget(), closeButton);
        EXPECT_TRUE(sendButton->isEnabled());

        const QJsonObject mail = Parse(sink, round);
        EXPECT_EQ(mail["from"].toString(), "hanako@example.jp");
        EXPECT_EQ(mail["to_name"].toString(), QString::fromUtf8("山田 太郎"));
        EXPECT_EQ(mail["to_addr"].toString(), "taro@example.jp");
        EXPECT_EQ(mail["subject"].toString(), QString::fromUtf8("来週の会議  について データ"));
        EXPECT_TRUE(mail["date_aware"].toBool());
        EXPECT_LT(mail["date_age"].toDouble(), 600.0);
        EXPECT_EQ(mail["x_mailer"].toArray(), QJsonArray{"Boxsweeper ver0.30"});
        EXPECT_EQ(mail["charset"].toString(), "iso-2022-jp");
        // The header is followed by an empty line and an empty first body line.
        EXPECT_EQ(mail["body"].toString(),
                  QString::fromUtf8("\nこんにちは。\n〜テスト〓です。\n.dot line\n\nABC 〓\n"));
        EXPECT_EQ(sink.File(std::to_string(round) + ".env"), "hanako@example.jp\ntaro@example.jp\n");
    }
    EXPECT_EQ(account, before);
}

TEST(SendMailForm, EmptyFieldShowsTheBoxAndClosingDuringASendEndsItWithoutQuit) {
    // A server that takes the connection and never says a word.
    const QString host = LoopbackHost();
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(25);
    ::inet_pton(AF_INET, host.toLatin1().constData(), &addr.sin_addr);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener, 4) != 0) {
        ::close(listener);
        GTEST_SKIP() << "cannot listen on port 25";
    }

    Account account = DefaultAccount();
    account.smtpServer = host.toStdString();
    account.smtpUser = "me";
    account.smtpOptions.Clear(SMTPUserAsPOP);
    TSendMailForm form(nullptr, account);
    form.show();
    EXPECT_EQ(Child<QLineEdit>(form, "UserIDEdit")->text(), "me");
    ModalHandler answerer(ModalHandler::kAnswerEveryBox);
    Send(form);
    ASSERT_EQ(answerer.boxes.size(), 1u);
    EXPECT_EQ(answerer.boxes[0].text, QString::fromUtf8("全ての欄が埋まっていません"));

    Compose(form, "a@example.jp", "b@example.jp", " ", " ");
    QTimer::singleShot(300, &form, [&] {
        EXPECT_TRUE(form.Sending());
        EXPECT_FALSE(Child<QPushButton>(form, "SendButton")->isEnabled());
        QTest::mouseClick(Child<QPushButton>(form, "CloseButton"), Qt::LeftButton);
    });
    QElapsedTimer timer;
    timer.start();
    Send(form);
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Rejected);
    ASSERT_EQ(answerer.boxes.size(), 2u);  // no error box for a send the user closed, but what became of it
    EXPECT_EQ(answerer.boxes[1].text, QString::fromUtf8("送信を中止しました"));

    // The client closed its socket and sent nothing (no QUIT).
    auto expectClosedSilently = [&] {
        const int peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        ASSERT_GE(peer, 0);
        char byte = 0;
        EXPECT_EQ(::recv(peer, &byte, 1, 0), 0);
        ::close(peer);
    };
    expectClosedSilently();

    // The same for the POP3 login of POP before SMTP, with the password typed into the account.
    account.popServer = account.smtpServer;
    account.popPort = 25;
    account.popPassword = "pass";
    account.smtpPort = 9;  // nobody listens: a send that skipped the login would fail at once
    account.smtpOptions.Set(SMTPAuthPbS);
    TSendMailForm pbs(nullptr, account);
    pbs.show();
    EXPECT_EQ(Child<QLabel>(pbs, "SMTPRouteLabel")->text(),
              host + QString::fromUtf8(" ポート9、暗号化なし、POP before SMTP"));
    Compose(pbs, "x", "x", "x", "x");
    QTimer::singleShot(300, &pbs, [&] { QTest::mouseClick(Child<QPushButton>(pbs, "CloseButton"), Qt::LeftButton); });
    timer.restart();
    Send(pbs);
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_FALSE(pbs.isVisible());
    ASSERT_EQ(answerer.boxes.size(), 3u);
    EXPECT_EQ(answerer.boxes[2].text, QString::fromUtf8("送信を中止しました"));
    expectClosedSilently();
    ::close(listener);
}

// A scripted SMTP server on the test host's port 25; null (and the test
// skipped) when it cannot listen there.
std::unique_ptr<ScriptServer> ServerOnPort25(const QString& host) {
    try {
        return std::make_unique<ScriptServer>(host.toStdString(), 25);
    } catch (const std::runtime_error&) {
        return nullptr;
    }
}

const std::vector<std::string> kUntilRcpt = {"S: 220 ready", "C: HELO me",
                                             "S: 250 hello", "C: RSET",
                                             "S: 250 ok",    "C: MAIL FROM:<me@example.jp>",
                                             "S: 250 ok",    "C: RCPT TO:<a@example.jp>",
                                             "S: 250 ok"};

std::vector<std::string> Then(std::vector<std::string> rows, std::initializer_list<std::string> more) {
    rows.insert(rows.end(), more);
    return rows;
}

TEST(SendMailForm, ASendPressEndsInItsBoxWithTheFieldsKept) {
    const QString host = LoopbackHost();
    const QString nul(QChar(u'\0'));
    struct Case {
        const char* name;
        QString server, user, to, from, subject;
        std::vector<std::string> transcript;  // empty: nothing may connect
        const char* text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
    } const cases[] = {
        {"CR in the server",
         host + "\r",
         "me",
         "a@example.jp",
         "me@example.jp",
         "hi",
         {},
         "「SMTPサーバー」に改行文字やNUL文字は使えません"},
        {"LF in the user ID",
         host,
         "me\nRSET",
         "a@example.jp",
         "me@example.jp",
         "hi",
         {},
         "「ユーザーID」に改行文字やNUL文字は使えません"},
        {"CR LF in the sender",
         host,
         "me",
         "a@example.jp",
         "me@example.jp>\r\nRCPT TO:<someone@elsewhere",
         "hi",
         {},
         "「送信者アドレス」に改行文字やNUL文字は使えません"},
        {"NUL in the subject",
         host,
         "me",
         "a@example.jp",
         "me@example.jp",
         "a" + nul + "b",
         {},
         "「題名」に改行文字やNUL文字は使えません"},
        {"NUL in the recipients",
         host,
         "me",
         "a@example.jp" + nul,
         "me@example.jp",
         "hi",
         {},
         "「あて先アドレス」にNUL文字は使えません"},
        {"recipients of only commas and blanks",
         host,
         "me",
         " , ,\n ",
         "me@example.jp",
         "hi",
         {},
         "全ての欄が埋まっていません"},
        {"a quoted comma and a line break: one RCPT per address", host, "me",
         "\"Taro, Yamada\" <a@example.jp>, b@example.jp\nc@example.jp", "me@example.jp", "hi",
         Then(kUntilRcpt, {"C: RCPT TO:<b@example.jp>", "S: 250 ok", "C: RCPT TO:<c@example.jp>", "S: 250 ok",
                           "C: DATA", "S: 354 go on", "C: <message>", "S: 250 queued", "C: QUIT", "S: 221 bye"}),
         "メールを送信しました"},
        {"a refused recipient: RSET, no DATA, the server's line as plain text", host, "me",
         "a@example.jp, bad@example.jp", "me@example.jp", "hi",
         Then(kUntilRcpt,
              {"C: RCPT TO:<bad@example.jp>", "S: 550 <a href=\"https://example.jp/\">no</a>", "C: RSET", "S: 250 ok"}),
         "サーバーがあて先 <bad@example.jp> を受け付けませんでした\n550 <a href=\"https://example.jp/\">no</a>",
         QMessageBox::Critical},
    };
    std::unique_ptr<ScriptServer> server = ServerOnPort25(host);
    if (!server) GTEST_SKIP() << "cannot listen on port 25";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Account account = DefaultAccount();
        account.smtpOptions.Clear(SMTPUserAsPOP);
        TSendMailForm form(nullptr, account);
        form.show();
        const QString body = QStringLiteral("body");
        Child<QLineEdit>(form, "SMTPServerEdit")->setText(c.server);
        Child<QLineEdit>(form, "UserIDEdit")->setText(c.user);
        Compose(form, c.to, c.from, c.subject, body);
        Transcript played;
        if (!c.transcript.empty()) PlayTranscript(*server, c.transcript, played);
        ModalHandler answerer(ModalHandler::kAnswerEveryBox);
        Send(form);
        server->Join();
        ASSERT_EQ(answerer.boxes.size(), 1u);
        EXPECT_EQ(answerer.boxes[0], (ModalHandler::Box{"Boxsweeper", QString::fromUtf8(c.text), 1, c.icon}));
        EXPECT_EQ(played.received, ClientLines(c.transcript));
        const QString kept[] = {c.server, c.user, c.to, c.from, c.subject};
        const char* const names[] = {"SMTPServerEdit", "UserIDEdit", "SendToEdit", "SendFromEdit", "SendSubjectEdit"};
        for (int i = 0; i < 5; ++i) EXPECT_EQ(Child<QLineEdit>(form, names[i])->text(), kept[i]) << names[i];
    }
}

TEST(SendMailForm, ClosingAfterTheFinalDotSaysTheMailMayHaveArrived) {
    const QString host = LoopbackHost();
    std::unique_ptr<ScriptServer> server = ServerOnPort25(host);
    if (!server) GTEST_SKIP() << "cannot listen on port 25";
    Transcript played;
    PlayTranscript(*server, Then(kUntilRcpt, {"C: DATA", "S: 354 go on", "C: <message>"}), played);  // no answer

    Account account = DefaultAccount();
    account.smtpServer = host.toStdString();
    account.smtpUser = "me";
    account.smtpOptions.Clear(SMTPUserAsPOP);
    TSendMailForm form(nullptr, account);
    form.show();
    Compose(form, "a@example.jp", "me@example.jp", "hi", "body");
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (form.NMSMTP().SendStage() != TSendStage::DotSent) return;
        closer.stop();
        QTest::mouseClick(Child<QPushButton>(form, "CloseButton"), Qt::LeftButton);
    });
    closer.start(10);
    ModalHandler answerer(ModalHandler::kAnswerEveryBox);
    Send(form);
    server->Join();
    EXPECT_FALSE(form.isVisible());
    ASSERT_EQ(answerer.boxes.size(), 1u);
    EXPECT_EQ(answerer.boxes[0].text,
              QString::fromUtf8("送信を中止しましたが、メールはサーバーに届いている可能性があります"));
    EXPECT_TRUE(played.closedByClient);
}

TEST(SendMailForm, StartTlsWithAuthOnTheAccountsPortAsksForTheMissingPasswordOnce) {
    const TestCertificates& certificates = TrustedTestCertificates();
    SmtpSink sink("127.0.0.1", 0,
                  {"--starttls", "--cert", certificates.server.certificate, "--key", certificates.server.key, "--login",
                   "taro:pass"});
    ASSERT_TRUE(sink.started()) << sink.failure();

    Account account = DefaultAccount();
    account.smtpServer = "127.0.0.1";
    account.smtpPort = sink.port();
    account.popUser = "taro";
    account.popPassword = "";  // not saved: the prompt asks
    account.smtpOptions.Set(SMTPUserAsPOP);
    account.smtpOptions.Set(SMTPUseSTARTTLS);
    account.smtpOptions.Set(SMTPAuthAUTH);
    TSendMailForm form(nullptr, account);
    form.show();
    EXPECT_EQ(Child<QLabel>(form, "SMTPRouteLabel")->text(),
              QString::fromUtf8("127.0.0.1 ポート%1、STARTTLS、SMTP認証").arg(sink.port()));
    Compose(form, "you@example.jp", "taro@example.jp", QString::fromUtf8("暗号化"), QString::fromUtf8("安全に届く"));

    // Answers the password prompt with `typed` whenever it is open.
    int prompts = 0;
    QString typed = QStringLiteral("wrong");
    QTimer prompter;
    QObject::connect(&prompter, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal->objectName() != QStringLiteral("PassInputForm") || !modal->isVisible()) return;
        ++prompts;
        modal->findChild<QLineEdit*>(QStringLiteral("PassEdit"))->setText(typed);
        QTest::mouseClick(modal->findChild<QPushButton*>(QStringLiteral("Button1")), Qt::LeftButton);
    });
    prompter.start(5);
    ModalHandler answerer(ModalHandler::kAnswerEveryBox);

    // A wrong password: the server's refusal is shown, and the next send asks again.
    Send(form);
    ASSERT_EQ(answerer.boxes.size(), 1u);
    EXPECT_TRUE(answerer.boxes[0].text.startsWith(QString::fromUtf8("SMTP認証に失敗しました\n535")))
        << answerer.boxes[0].text.toStdString();
    typed = QStringLiteral("pass");
    Send(form);
    ASSERT_EQ(answerer.boxes.size(), 2u);
    EXPECT_EQ(answerer.boxes[1].text, QString::fromUtf8("メールを送信しました"));
    Send(form);  // the accepted password is kept for the window's life
    EXPECT_EQ(prompts, 2);

    const QJsonObject mail = Parse(sink, 1);
    EXPECT_EQ(mail["subject"].toString(), QString::fromUtf8("暗号化"));
    EXPECT_EQ(mail["body"].toString(), QString::fromUtf8("\n安全に届く\n"));
    EXPECT_EQ(sink.File("1.auth"), "PLAIN taro\n");
}

TEST(SendMailForm, OAuth2SendsWithTheWindowsTokenAndNoPassword) {
    TempHome home;  // the user's presets file lives there
    const TestCertificates& certificates = TrustedTestCertificates();
    SmtpSink sink("127.0.0.1", 0,
                  {"--starttls", "--cert", certificates.server.certificate, "--key", certificates.server.key, "--oauth",
                   "tok-9:taro@gmail.com"});
    ASSERT_TRUE(sink.started()) << sink.failure();
    Account account = DefaultAccount();
    account.smtpServer = "127.0.0.1";
    account.smtpPort = sink.port();
    account.popUser = "taro@gmail.com";  // Gmail's preset: XOAUTH2
    for (int bit : {SMTPUserAsPOP, SMTPUseSTARTTLS, SMTPAuthOAuth2}) account.smtpOptions.Set(bit);
    TSendMailForm form(nullptr, account);
    int asked = 0;
    form.SetOAuthTokenSource(
        [&](bool, std::string& token, std::string&) {
            ++asked;
            token = "tok-9";
            return true;
        },
        {});
    form.show();
    EXPECT_EQ(Child<QLabel>(form, "SMTPRouteLabel")->text(),
              QString::fromUtf8("127.0.0.1 ポート%1、STARTTLS、OAuth2").arg(sink.port()));
    Compose(form, "you@example.jp", "taro@gmail.com", QStringLiteral("oauth"), QStringLiteral("token"));
    ModalHandler answerer(ModalHandler::kAnswerEveryBox);

    // The shipped presets carry no client id: nothing is sent.
    Send(form);
    ASSERT_EQ(answerer.boxes.size(), 1u);
    EXPECT_TRUE(answerer.boxes[0].text.startsWith(QString::fromUtf8("OAuth2のクライアントIDが設定されていません\n")));
    EXPECT_EQ(asked, 0);
    const std::string store = home.path() + "/config/kirabo/Boxsweeper";
    std::filesystem::create_directories(store);
    std::ofstream(store + "/providers.json")
        << R"({"providers": [{"name": "Gmail", "oauth2": {"client_id": "mine.apps.example"}}]})";
    Send(form);
    ASSERT_EQ(answerer.boxes.size(), 2u);
    EXPECT_EQ(answerer.boxes[1].text, QString::fromUtf8("メールを送信しました"));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(sink.File("1.auth"), "XOAUTH2 taro@gmail.com\n");
}

}  // namespace
