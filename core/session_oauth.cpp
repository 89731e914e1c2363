// Signing in with an OAuth2 access token: CAPA for the mechanisms, then
// AUTH (RFC 5034) with OAUTHBEARER (RFC 7628) or XOAUTH2. Only over TLS,
// and never a password instead.

#include "accounts/oauth_provider.h"
#include "accounts/option_rules.h"
#include "core/log_mask.h"
#include "core/pop3_session.h"
#include "core/reply.h"
#include "core/sasl_oauth.h"
#include "texts/texts.h"

#include <cctype>

namespace {

constexpr char kLineEnd[] = "\r\n";
constexpr char kMultiLineEnd[] = "\r\n.\r\n";
// RFC 5034: a command line is at most 255 octets, CR LF included.
constexpr std::size_t kPopCommandLimit = 255;

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// A "+ " continuation: the server wants the response, or (after one) says
// why it refuses; what follows "+ " is Base64.
bool IsContinuation(std::string_view reply, std::string& text) {
    if (reply.empty() || reply[0] != '+' || reply.starts_with("+OK")) return false;
    std::string_view rest = reply.substr(1);
    if (!rest.empty() && rest[0] == ' ') rest.remove_prefix(1);
    rest = rest.substr(0, rest.find_first_of("\r\n"));
    text.assign(rest);
    return true;
}

std::string FirstLine(std::string_view reply) {
    return std::string(reply.substr(0, reply.find_first_of("\r\n")).substr(0, 200));
}

}  // namespace

std::vector<std::string> SaslMechanisms(std::string_view capa) {
    std::vector<std::string> found;
    std::size_t start = 0;
    while (start < capa.size()) {
        std::size_t end = capa.find('\n', start);
        if (end == std::string_view::npos) end = capa.size();
        std::string_view line = capa.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
        if (line.size() < 5 || Upper(line.substr(0, 5)) != "SASL ") continue;
        line.remove_prefix(5);
        while (!line.empty()) {
            const std::size_t space = line.find_first_of(" \t");
            const std::string_view word = line.substr(0, space);
            if (!word.empty()) found.push_back(Upper(word));
            if (space == std::string_view::npos) break;
            line.remove_prefix(space + 1);
        }
    }
    return found;
}

bool Pop3Session::PrepareOAuth(const Account& account) {
    oauth_ = OAuthLogin{};
    if (PopEncryptionOf(account.popOptions) == Encryption::None) {
        owner_.ShowMessage(texts::Cp932(texts::oauth::kTlsOnly));
        return false;
    }
    const std::vector<Provider> presets = owner_.OAuthProviderPresets();
    const Provider* provider = OAuthProviderFor(presets, account);
    if (const std::string problem = OAuthSetupProblem(provider); !problem.empty()) {
        owner_.ShowMessage(problem);
        return false;
    }
    oauth_.mechanisms = OAuthMechanisms(provider);
    return FetchOAuthToken(false);
}

bool Pop3Session::FetchOAuthToken(bool refresh) {
    std::string token;
    std::string error;
    const bool got = owner_.OAuthAccessToken(refresh, token, error);
    if (got && !token.empty() && token.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos) {
        oauth_.token = std::move(token);
        return true;
    }
    if (got || !error.empty()) {
        const std::string message = texts::Cp932(texts::oauth::kNoToken);
        owner_.ShowMessage(error.empty() ? message : message + "\n" + error);
    }
    return false;
}

void Pop3Session::StartOAuth() {
    SendCommand(SessionState::OAuthCapaSent, "CAPA", kMultiLineEnd);
}

void Pop3Session::SendOAuthAuth() {
    const Account& account = owner_.CurrentAccount();
    const std::string response = oauth_.mechanism == "XOAUTH2"
                                     ? XOAuth2Response(account.popUser, oauth_.token)
                                     : OAuthBearerResponse(account.popUser, account.popServer,
                                                           static_cast<std::uint16_t>(account.popPort), oauth_.token);
    oauth_.error.clear();
    if (InitialResponseFits(oauth_.mechanism, response, kPopCommandLimit)) {
        oauth_.response.clear();
        SendCommand(SessionState::AuthSent, "AUTH " + oauth_.mechanism + " " + response, kLineEnd);
    } else {
        oauth_.response = response;
        SendCommand(SessionState::AuthSent, "AUTH " + oauth_.mechanism, kLineEnd);
    }
}

void Pop3Session::SendSecretLine(SessionState state, const std::string& line) {
    oauth_.secretLines.push_back(line + kLineEnd);
    SendCommand(state, line, kLineEnd);
}

std::string Pop3Session::LoggedSent(const std::string& text) {
    if (!oauth_.secretLines.empty() && oauth_.secretLines.front() == text) {
        oauth_.secretLines.pop_front();
        return std::string(kMaskedSecret);
    }
    return LoggedCommand(text);
}

bool Pop3Session::OnOAuthReply(const std::string& reply) {
    if (sessionState_ != SessionState::OAuthCapaSent && sessionState_ != SessionState::AuthSent &&
        sessionState_ != SessionState::AuthResponseSent && sessionState_ != SessionState::AuthAbortSent)
        return false;
    std::string rest;
    const ReplyStatus status = ClassifyReply(reply, rest);

    if (sessionState_ == SessionState::OAuthCapaSent) {
        const std::vector<std::string> offered =
            status != ReplyStatus::Negative ? SaslMechanisms(reply) : std::vector<std::string>{};
        oauth_.mechanism.clear();
        for (const std::string& wanted : oauth_.mechanisms) {
            for (const std::string& name : offered) {
                if (name == Upper(wanted)) oauth_.mechanism = name;
            }
            if (!oauth_.mechanism.empty()) break;
        }
        if (oauth_.mechanism != "XOAUTH2" && oauth_.mechanism != "OAUTHBEARER") {
            Fail(texts::Cp932(texts::oauth::kNoMechanism).c_str());
            return true;
        }
        SendOAuthAuth();
        return true;
    }

    if (status == ReplyStatus::Positive && sessionState_ != SessionState::AuthAbortSent) {
        oauth_.response.clear();
        SendAfterLogin();
        return true;
    }
    std::string challenge;
    if (sessionState_ != SessionState::AuthAbortSent && IsContinuation(reply, challenge)) {
        if (sessionState_ == SessionState::AuthSent && !oauth_.response.empty()) {
            // The server asks for the response that did not fit on the line.
            const std::string response = std::move(oauth_.response);
            oauth_.response.clear();
            SendSecretLine(SessionState::AuthResponseSent, response);
            return true;
        }
        // An error challenge: the exchange is ended, the refusal follows.
        oauth_.error = OAuthErrorText(challenge);
        SendCommand(SessionState::AuthAbortSent,
                    oauth_.mechanism == "OAUTHBEARER" ? std::string(kOAuthBearerAbort) : std::string(), kLineEnd);
        return true;
    }
    OnOAuthRefused(reply);
    return true;
}

void Pop3Session::OnOAuthRefused(const std::string& reply) {
    if (!oauth_.refreshed) {
        // A token may have run out since it was fetched: one new one.
        oauth_.refreshed = true;
        const SessionState waiting = sessionState_;
        if (!FetchOAuthToken(true)) {
            // Said in a box already, or cancelled by the user.
            connection_.Close();
            SetState(SessionState::Idle);
            UpdateButtons();
            return;
        }
        // The fetch may have waited for the user; the connection may be gone.
        if (sessionState_ != waiting || !connection_.IsOpen()) return;
        SendOAuthAuth();
        return;
    }
    std::string message = texts::Cp932(texts::oauth::kRefused);
    if (!oauth_.error.empty()) message += "\n" + texts::Cp932(oauth_.error);
    message += "\n" + FirstLine(reply);
    message += "\n" + texts::Cp932(texts::oauth::kSignInAgain);
    owner_.OAuthSignInNeeded();
    Fail(message.c_str());
}
