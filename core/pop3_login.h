#pragma once

#include "accounts/option_rules.h"
#include "core/reply.h"
#include "core/session_state.h"

#include <string>
#include <string_view>

// The POP3 login after the greeting (and after STLS): USER and PASS, or
// APOP with the greeting's timestamp. The caller sends each command, hands
// back each reply and owns the connection; the POP3 session and the login
// before sending mail share this, each with its reading of the replies.
enum class LoginOutcome {
    Send,      // send command (no CR LF); its reply is awaited in state
    LoggedIn,  // the server accepted the login
    Quit,      // the server refused the user: say QUIT and end quietly
    Failed,    // failure says why; the caller ends the connection
};

enum class LoginFailure {
    None,
    UserRefused,  // the reply to USER (only when reading for POP before SMTP)
    PassRefused,
    ApopRefused,
    NoTimestamp,  // APOP chosen, but the greeting offers no timestamp
};

struct LoginStep {
    LoginOutcome outcome = LoginOutcome::Failed;
    SessionState state = SessionState::Idle;
    std::string command;
    LoginFailure failure = LoginFailure::None;
};

class Pop3Login {
public:
    explicit Pop3Login(ReplyReading reading = ReplyReading::Session) : reading_(reading) {}

    // The first step, from the greeting's text. Automatic takes APOP when
    // the greeting has a timestamp, USER and PASS otherwise; chosen() then
    // tells which. APOP chosen by hand never falls back to the password in
    // clear.
    LoginStep Begin(std::string_view greeting, PopLogin login, std::string user, std::string password);
    // The next step from the reply to the command of the last Send.
    LoginStep OnReply(std::string_view reply);
    PopLogin chosen() const { return chosen_; }

private:
    ReplyReading reading_;
    PopLogin chosen_ = PopLogin::UserPass;
    SessionState awaited_ = SessionState::Idle;
    std::string password_;
};
