#include "core/pop3_login.h"

#include "core/session_apop.h"

#include <optional>
#include <utility>

namespace {

LoginStep Send(SessionState state, std::string command) {
    return LoginStep{LoginOutcome::Send, state, std::move(command), LoginFailure::None};
}

LoginStep LoggedIn() {
    return LoginStep{LoginOutcome::LoggedIn, SessionState::Idle, {}, LoginFailure::None};
}

LoginStep Failed(LoginFailure failure) {
    return LoginStep{LoginOutcome::Failed, SessionState::Idle, {}, failure};
}

}  // namespace

LoginStep Pop3Login::Begin(std::string_view greeting, PopLogin login, std::string user, std::string password) {
    password_ = std::move(password);
    const std::optional<std::string_view> timestamp = ApopTimestamp(greeting);
    chosen_ = login == PopLogin::Automatic ? (timestamp ? PopLogin::Apop : PopLogin::UserPass) : login;
    LoginStep step;
    if (chosen_ != PopLogin::Apop)
        step = Send(SessionState::UserSent, "USER " + user);
    else if (!timestamp)
        step = Failed(LoginFailure::NoTimestamp);
    else
        step = Send(SessionState::ApopSent, "APOP " + user + " " + ApopDigest(*timestamp, password_));
    awaited_ = step.state;
    return step;
}

LoginStep Pop3Login::OnReply(std::string_view reply) {
    const SessionState answered = std::exchange(awaited_, SessionState::Idle);
    const bool ok = ReplyAccepted(reply, reading_, answered == SessionState::ApopSent);
    switch (answered) {
        case SessionState::UserSent:
            if (ok) {
                awaited_ = SessionState::PassSent;
                return Send(SessionState::PassSent, "PASS " + password_);
            }
            if (reading_ == ReplyReading::PopBeforeSmtp) return Failed(LoginFailure::UserRefused);
            return LoginStep{LoginOutcome::Quit, SessionState::QuitSent, "QUIT", LoginFailure::None};
        case SessionState::PassSent:
            return ok ? LoggedIn() : Failed(LoginFailure::PassRefused);
        case SessionState::ApopSent:
            return ok ? LoggedIn() : Failed(LoginFailure::ApopRefused);
        default:
            return Failed(LoginFailure::None);  // no login command awaits a reply
    }
}
