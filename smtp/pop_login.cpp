#include "smtp/pop_login.h"

#include "accounts/option_rules.h"
#include "core/pop3_login.h"
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
    login_ = PopLoginOf(account.popOptions);
}

std::string TPopLogin::Exchange(const std::string& command, const std::string& headline) {
    if (!command.empty()) Writeln(command);
    std::string line = ReadLn();
    if (line.empty()) throw std::runtime_error(headline + "\nConnection closed by server");
    return Trimmed(line);
}

std::string TPopLogin::Expect(const std::string& command, const std::string& headline) {
    std::string line = Exchange(command, headline);
    if (!ReplyAccepted(line, ReplyReading::PopBeforeSmtp))
        throw std::runtime_error(headline + "\n" + line.substr(0, 200));
    return line;
}

void TPopLogin::Run() {
    // Never a password in place of the token.
    if (login_ == PopLogin::OAuth2) throw std::runtime_error(Headline() + "\nPOP before SMTP does not sign in with OAuth2");
    Connect();
    try {
        if (tls_) StartTls();
        const std::string greeting = Expect("", Headline());
        if (stls_) {
            Expect("STLS", texts::Cp932(texts::connection::kStartTlsFailed));
            if (!MayUpgrade()) {
                throw std::runtime_error(texts::Cp932(texts::connection::kStartTlsFailed) +
                                         "\nthe server sent data after its answer to STLS");
            }
            StartTls();
        }
        Pop3Login login(ReplyReading::PopBeforeSmtp);
        LoginStep step = login.Begin(greeting, login_, user_, password_);
        std::string reply;
        while (step.outcome == LoginOutcome::Send) {
            reply = Exchange(step.command, Headline());
            step = login.OnReply(reply);
        }
        if (step.outcome != LoginOutcome::LoggedIn) {
            if (step.failure == LoginFailure::NoTimestamp) {
                throw std::runtime_error(texts::Cp932(texts::pop3::kApopFailed) +
                                         "\nthe server's greeting has no APOP timestamp");
            }
            throw std::runtime_error(Headline() + "\n" + reply.substr(0, 200));
        }
        Expect("QUIT", Headline());
    } catch (...) {
        RequestCloseSocket();
        throw;
    }
    RequestCloseSocket();
}
