#include "ui/keyring.h"

#include "ui/cp932_qstring.h"

#include <qt6keychain/keychain.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QEventLoop>

#include <glib.h>

#include <memory>

namespace keyring {
namespace {

const QString kService = QStringLiteral("Boxsweeper");

QString Key(std::string_view accountId, std::string_view kind) {
    return QString::fromLatin1(accountId.data(), static_cast<qsizetype>(accountId.size())) + QLatin1Char('/') +
           QString::fromLatin1(kind.data(), static_cast<qsizetype>(kind.size()));
}

struct Outcome {
    bool done = false;
    QKeychain::Error error = QKeychain::OtherError;
    QString text;
};

// Starts the job and waits for it, at most kLimit. The job deletes itself
// when it finishes, also after the wait has given up on it. The keyring's
// answers arrive through GLib's main context, which the window's event loop
// does not run (the program uses Qt's own dispatcher), so the wait runs both.
// It runs no nested event loop: the window may be closing, and a quit posted
// then would end one before the keyring answers.
std::shared_ptr<Outcome> Run(QKeychain::Job* job) {
    auto outcome = std::make_shared<Outcome>();
    job->setAutoDelete(true);
    job->setInsecureFallback(false);  // never a plain file behind the user's back
    QObject::connect(job, &QKeychain::Job::finished, job, [outcome](QKeychain::Job* finished) {
        outcome->done = true;
        outcome->error = finished->error();
        if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(finished)) outcome->text = read->textData();
    });
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    job->start();
    while (!outcome->done && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        const bool glibWorked = g_main_context_iteration(nullptr, FALSE);
        if (!outcome->done && !glibWorked) g_usleep(2000);
    }
    return outcome;
}

Result Classify(const Outcome& outcome) {
    if (!outcome.done) return Result::Refused;
    switch (outcome.error) {
        case QKeychain::NoError:
            return Result::Ok;
        case QKeychain::EntryNotFound:
            return Result::NotFound;
        case QKeychain::NoBackendAvailable:
        case QKeychain::NotImplemented:
            return Result::NoKeyring;
        default:
            return Result::Refused;
    }
}

}  // namespace

bool Running() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    static const char* const kServices[] = {"org.freedesktop.secrets", "org.kde.kwalletd6", "org.kde.kwalletd5"};
    for (const char* name : kServices)
        if (bus.interface()->isServiceRegistered(QString::fromLatin1(name)).value()) return true;
    // A Secret Service the bus starts on first use counts too.
    const QStringList startable = bus.interface()->activatableServiceNames().value();
    return startable.contains(QStringLiteral("org.freedesktop.secrets"));
}

Result Read(std::string_view accountId, std::string_view kind, std::string& secret) {
    auto* job = new QKeychain::ReadPasswordJob(kService);
    job->setKey(Key(accountId, kind));
    const auto outcome = Run(job);
    const Result result = Classify(*outcome);
    if (result == Result::Ok) secret = ToCp932(outcome->text);
    return result;
}

Result Write(std::string_view accountId, std::string_view kind, const std::string& secret) {
    auto* job = new QKeychain::WritePasswordJob(kService);
    job->setKey(Key(accountId, kind));
    job->setTextData(FromCp932(secret));
    return Classify(*Run(job));
}

Result Remove(std::string_view accountId, std::string_view kind) {
    auto* job = new QKeychain::DeletePasswordJob(kService);
    job->setKey(Key(accountId, kind));
    const Result result = Classify(*Run(job));
    return result == Result::NotFound ? Result::Ok : result;
}

void PlacePasswords(std::vector<Account>& stored) {
    int running = -1;  // the bus is asked once, and only when an account needs it
    auto keyringRuns = [&running] {
        if (running < 0) running = Running() ? 1 : 0;
        return running == 1;
    };
    for (Account& account : stored) {
        const bool inKeyring = account.popOptions.Test(POPPasswordInKeyring);
        if (!account.popOptions.Test(POPSavePassword)) {
            if (inKeyring && !account.id.empty() && keyringRuns() && Remove(account.id, kPassword) == Result::Ok)
                account.popOptions.Clear(POPPasswordInKeyring);
            continue;
        }
        // Nothing typed or read this run: the password stays where it is.
        if (account.popPassword.empty()) continue;
        if (!account.id.empty() && keyringRuns() && Write(account.id, kPassword, account.popPassword) == Result::Ok) {
            account.popOptions.Set(POPPasswordInKeyring);
            account.popPassword.clear();
        } else if (inKeyring) {
            account.popPassword.clear();
        }
    }
}

void FetchPassword(Account& account) {
    if (!account.popOptions.Test(POPPasswordInKeyring) || !account.popPassword.empty() || account.id.empty()) return;
    std::string secret;
    if (Read(account.id, kPassword, secret) == Result::Ok) account.popPassword = secret;
}

void Forget(const Account& account) {
    if (account.id.empty() || !Running()) return;
    Remove(account.id, kPassword);
    Remove(account.id, kRefreshToken);
}

}  // namespace keyring
