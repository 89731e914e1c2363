#include "ui/oauth_signin.h"

#include "accounts/oauth_pkce.h"
#include "texts/texts.h"
#include "ui/oauth_wait_form.h"
#include "ui/ui_text.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>

namespace {

// A token endpoint's reply is small; anything bigger is not one.
constexpr qint64 kMaxReply = 1 << 20;
// A browser's request for the redirect is a line and some headers.
constexpr qsizetype kMaxRequest = 16 * 1024;
// Renewed this long before the server would refuse it.
constexpr std::chrono::seconds kExpiryMargin(60);

std::string Fill(std::string_view pattern, const QString& value) {
    return Text(pattern).arg(value).toStdString();
}

QByteArray Page(int status, std::string_view reason, std::string_view text) {
    const QByteArray body =
        "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Boxsweeper</title></head>"
        "<body><p>" +
        QByteArray(text.data(), static_cast<qsizetype>(text.size())) + "</p></body></html>\n";
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + QByteArray(reason.data(), qsizetype(reason.size())) +
           "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body;
}

void Answer(QTcpSocket* socket, const QByteArray& response) {
    socket->write(response);
    socket->flush();
    socket->waitForBytesWritten(1000);  // loopback: at once
    socket->disconnectFromHost();
}

bool OpenBrowser(const std::string& url) {
    const QString target = QString::fromStdString(url);
    if (const char* program = std::getenv("BOXSWEEPER_BROWSER"); program && *program)
        return QProcess::startDetached(QString::fromLocal8Bit(program), {target});
    return QDesktopServices::openUrl(QUrl::fromEncoded(target.toLatin1()));
}

}  // namespace

struct OAuthSignIn::Http {
    QNetworkAccessManager manager;
};

OAuthSignIn::OAuthSignIn(QWidget* owner, ProviderOAuth2 provider, std::string user)
    : owner_(owner), provider_(std::move(provider)), user_(std::move(user)), http_(std::make_unique<Http>()) {}

OAuthSignIn::~OAuthSignIn() = default;

void OAuthSignIn::KeepRefreshToken(const std::string& refreshToken) {
    if (refreshToken == refreshToken_) return;
    refreshToken_ = refreshToken;
    if (changed_) changed_(refreshToken_);
}

bool OAuthSignIn::AccessToken(bool refresh, std::string& token, std::string& error) {
    token.clear();
    error.clear();
    abandoned_ = false;
    const struct {
        const char* name;
        const std::string& value;
    } required[] = {{"authorize", provider_.authorize}, {"token", provider_.token}, {"client_id", provider_.clientId}};
    for (const auto& r : required) {
        if (r.value.empty()) {
            error = Fill(texts::signin::kIncomplete, QString::fromLatin1(r.name));
            return false;
        }
    }
    for (const std::string* url : {&provider_.authorize, &provider_.token}) {
        if (!IsAllowedEndpoint(*url)) {
            error = Fill(texts::signin::kInsecureEndpoint, QString::fromStdString(*url));
            return false;
        }
    }

    if (!refresh && !accessToken_.empty() && std::chrono::steady_clock::now() < expiry_) {
        token = accessToken_;
        return true;
    }
    accessToken_.clear();
    bool again = false;
    if (!refreshToken_.empty()) {
        bool invalidGrant = false;
        if (TokenRequest(RefreshTokenRequest(provider_, refreshToken_), error, invalidGrant)) {
            token = accessToken_;
            return true;
        }
        if (!invalidGrant) return false;
        // Revoked or run out: only a new sign-in helps.
        KeepRefreshToken({});
        again = true;
        error.clear();
    }
    if (!SignIn(again, error)) return false;
    token = accessToken_;
    return true;
}

bool OAuthSignIn::TokenRequest(const std::string& body, std::string& error, bool& invalidGrant) {
    invalidGrant = false;
    QNetworkRequest request(QUrl::fromEncoded(QByteArray::fromStdString(provider_.token)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader("Accept", "application/json");
    // A redirect could carry the code or the refresh token elsewhere.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(static_cast<int>(OAuthWaitForm::MinuteLength().count()));

    QNetworkReply* reply = http_->manager.post(request, QByteArray::fromStdString(body));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > kMaxReply) reply->abort();
    });
    if (!reply->isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray data = reply->read(kMaxReply);
    const QString networkError = reply->errorString();
    reply->deleteLater();
    if (status == 0) {
        error = Fill(texts::signin::kTokenFailed, networkError);
        return false;
    }
    const TokenReply parsed = ParseTokenReply(status, std::string_view(data.constData(), std::size_t(data.size())));
    if (parsed.kind != TokenReply::Kind::Token) {
        invalidGrant = parsed.kind == TokenReply::Kind::InvalidGrant;
        error = Fill(texts::signin::kTokenFailed, QString::fromStdString(parsed.error));
        return false;
    }
    accessToken_ = parsed.accessToken;
    // Without a stated lifetime the token is used until the server refuses it.
    expiry_ = parsed.expiresIn > 0 ? std::chrono::steady_clock::now() + std::chrono::seconds(parsed.expiresIn) -
                                         std::min(kExpiryMargin, std::chrono::seconds(parsed.expiresIn / 2))
                                   : std::chrono::steady_clock::time_point::max();
    if (!parsed.refreshToken.empty()) KeepRefreshToken(parsed.refreshToken);
    return true;
}

bool OAuthSignIn::SignIn(bool again, std::string& error) {
    QTcpServer listener;
    if (!listener.listen(QHostAddress(QHostAddress::LocalHost), 0)) {
        error = Fill(texts::signin::kListenFailed, listener.errorString());
        return false;
    }
    const std::string verifier = RandomToken(32), state = RandomToken(16);
    if (verifier.empty() || state.empty()) {
        error = Fill(texts::signin::kListenFailed, QStringLiteral("random"));
        return false;
    }
    // No path: the form Google and Microsoft document for a loopback redirect.
    const std::string redirectUri = "http://127.0.0.1:" + std::to_string(listener.serverPort());
    const std::string url = AuthorizationUrl(provider_, redirectUri, state, PkceChallengeS256(verifier), user_);

    OAuthWaitForm form(owner_, again ? Text(texts::signin::kSignInAgain) : QString());
    std::optional<OAuthRedirect> redirect;
    QObject::connect(&listener, &QTcpServer::newConnection, &form, [&] {
        while (QTcpSocket* socket = listener.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            // The request's bytes so far live with the connection.
            auto buffer = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, &form, [&, socket, buffer] {
                if (redirect) return;
                QByteArray& request = *buffer;
                request += socket->readAll();
                const qsizetype end = request.indexOf("\r\n\r\n");
                if (end < 0) {
                    if (request.size() > kMaxRequest) Answer(socket, Page(431, "Request Too Large", ""));
                    return;
                }
                const QList<QByteArray> line = request.left(request.indexOf("\r\n")).split(' ');
                if (line.size() != 3 || line[0] != "GET" || !line[2].startsWith("HTTP/")) {
                    Answer(socket, Page(400, "Bad Request", ""));
                    return;
                }
                OAuthRedirect r = ParseRedirectTarget(line[1].toStdString(), state);
                if (r.kind == OAuthRedirect::Kind::NotRedirect) {
                    Answer(socket, Page(404, "Not Found", ""));
                    return;
                }
                const bool ok = r.kind == OAuthRedirect::Kind::Code;
                Answer(socket, ok ? Page(200, "OK", texts::signin::kPageDone)
                                  : Page(400, "Bad Request", texts::signin::kPageFailed));
                redirect = std::move(r);
                listener.close();
                form.accept();
            });
        }
    });

    if (!OpenBrowser(url)) {
        error = std::string(texts::signin::kBrowserFailed);
        return false;
    }
    const int result = form.exec();
    listener.close();
    if (result == OAuthWaitForm::kTimedOut || result != QDialog::Accepted || !redirect) {
        abandoned_ = true;
        error = std::string(result == OAuthWaitForm::kTimedOut ? texts::signin::kTimedOut : texts::signin::kCancelled);
        return false;
    }
    switch (redirect->kind) {
        case OAuthRedirect::Kind::Code:
            break;
        case OAuthRedirect::Kind::StateMismatch:
            error = std::string(texts::signin::kStateMismatch);
            return false;
        case OAuthRedirect::Kind::Error:
            error = Fill(texts::signin::kDenied, QString::fromStdString(redirect->error));
            return false;
        default:
            error = std::string(texts::signin::kBadRedirect);
            return false;
    }
    bool invalidGrant = false;
    return TokenRequest(CodeTokenRequest(provider_, redirect->code, verifier, redirectUri), error, invalidGrant);
}
