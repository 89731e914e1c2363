#include "smtp/pop_login.h"

#include "accounts/option_rules.h"
#include "core/session_apop.h"
#include "texts/texts.h"

#include <stdexcept>
#include <utility>

namespace {

std::string Trimmed(std::string line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

std::string Headline() {
    return texts::Cp932(texts::smtp::kPopBeforeSmtpFailed);
}

}  // namespace

TPopLogin::TPopLogin(const Account& account, std::string password)
    : user_(account.popUser), password_(std::move(password)) {
    Host = account.popServer;
    Port = account.popPort >= 1 && account.popPort <= 65535 ? static_cast<std::uint16_t>(account.popPort) : 110;
    const Encryption encryption = PopEncryptionOf(account.popOptions);
    tls_ = encryption == Encryption::Tls;
    stls_ = encryption == Encryption::StartTls;
    const PopLogin login = PopLoginOf(account.popOptions);
    automatic_ = login == PopLogin::Automatic;
    apop_ = login == PopLogin::Apop;
    oauth_ = login == PopLogin::OAuth2;
}

std::string TPopLogin::Expect(const std::string& command, const std::string& headline) {
    if (!command.empty()) Writeln(command);
    std::string line = ReadLn();
    if (line.empty()) throw std::runtime_error(headline + "\nConnection closed by server");
    if (line.compare(0, 3, "+OK") != 0) {
        throw std::runtime_error(headline + "\n" + Trimmed(line).substr(0, 200));
    }
    return Trimmed(line);
}

void TPopLogin::Run() {
    // Never a password in place of the token.
    if (oauth_) throw std::runtime_error(Headline() + "\nPOP before SMTP does not sign in with OAuth2");
    Connect();
    try {
        if (tls_) StartTls();
        const std::string greeting = Expect("", Headline());
        if (stls_) {
            Expect("STLS", texts::Cp932(texts::connection::kStartTlsFailed));
            if (DataAvailable()) {
                throw std::runtime_error(texts::Cp932(texts::connection::kStartTlsFailed) +
                                         "\nthe server sent data after its answer to STLS");
            }
            StartTls();
        }
        const std::optional<std::string_view> timestamp = ApopTimestamp(greeting);
        if (apop_ && !timestamp) {
            // APOP chosen by hand: never fall back to sending the password.
            throw std::runtime_error(texts::Cp932(texts::pop3::kApopFailed) +
                                     "\nthe server's greeting has no APOP timestamp");
        }
        if (timestamp && (apop_ || automatic_)) {
            Expect("APOP " + user_ + " " + ApopDigest(*timestamp, password_), Headline());
        } else {
            Expect("USER " + user_, Headline());
            Expect("PASS " + password_, Headline());
        }
        Expect("QUIT", Headline());
    } catch (...) {
        RequestCloseSocket();
        throw;
    }
    RequestCloseSocket();
}
