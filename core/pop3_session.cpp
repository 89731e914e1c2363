#include "core/pop3_session.h"

#include "accounts/option_rules.h"
#include "core/log_mask.h"
#include "core/reply.h"
#include "core/session_list.h"
#include "mime/display_text.h"
#include "texts/texts.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr char kLineEnd[] = "\r\n";
constexpr char kMultiLineEnd[] = "\r\n.\r\n";

void IgnoreEvent(void*, ConnectionEvent, const std::string&) {}

// A line break inside a value would put a second command on the wire and
// break the lock-step dialogue.
bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

Pop3Session::Pop3Session(SessionOwner& owner, ServerConnection::Dispatcher dispatcher,
                         std::chrono::milliseconds replyTimeout, LineFraming::Limits limits)
    : owner_(owner), mailbox_(&owner), connection_(std::move(dispatcher), replyTimeout, limits) {}

Pop3Session::~Pop3Session() {
    // Whatever the connection still reports while it shuts down must not
    // reach a half-destroyed session or owner.
    connection_.SetOwner(&IgnoreEvent, nullptr);
}

void Pop3Session::ConnectButtonClick() {
    if (sessionState_ != SessionState::Idle) return;
    Account& account = owner_.CurrentAccount();
    // An OAuth2 account has no password to ask for or send.
    const bool oauth = PopLoginOf(account.popOptions) == PopLogin::OAuth2;
    bool complete = !account.popServer.empty() && !account.popUser.empty() && !HasLineBreak(account.popServer) &&
                    !HasLineBreak(account.popUser);
    if (complete && account.popPassword.empty() && !oauth) {
        std::string password;
        if (!owner_.PromptPassword(password)) return;
        account.popPassword = password;
    }
    complete = complete && (oauth || !HasLineBreak(account.popPassword));

    if (!complete) {
        owner_.ShowMessage(texts::Cp932(texts::pop3::kSettingsIncomplete));
    } else if (oauth && !PrepareOAuth(account)) {
        // Nothing was sent; the box said why.
    } else {
        // Rows left by an earlier connection that ended in an error would
        // otherwise stay in front of the new listing.
        mailbox_.Clear();
        ReadSeen();
        greetingChunkSeen_ = false;
        pendingDele_ = 0;
        switch (PopEncryptionOf(account.popOptions)) {
            case Encryption::Tls:
                security_ = ServerConnection::Security::Tls;
                break;
            case Encryption::StartTls:
                security_ = ServerConnection::Security::Upgrade;
                break;
            case Encryption::None:
                security_ = ServerConnection::Security::Plain;
                break;
        }
        secured_ = false;
        greeting_.clear();
        pipelining_ = false;
        SetState(SessionState::Greeting);
        connection_.SetOwner(&HandleConnectionEvent, this);
        connection_.SetTerminator(kLineEnd);
        // Failures arrive as events; a refusal without one (a socket still
        // held) must not leave the session waiting for a greeting.
        if (!connection_.Open(account.popServer, account.popPort, security_) && sessionState_ == SessionState::Greeting)
            SetState(SessionState::Idle);
    }
    UpdateButtons();
    owner_.ResetSortToNumber();
}

void Pop3Session::DisconnectButtonClick() {
    // During a handshake nothing can be sent: close at once.
    bool handshaking =
        sessionState_ == SessionState::StlsSent ||
        (sessionState_ == SessionState::Greeting && security_ == ServerConnection::Security::Tls && !secured_);
    if (handshaking) {
        connection_.Close();
        SetState(SessionState::Idle);
        owner_.AppendLog("Disconnected.");
        mailbox_.Clear();
        UpdateButtons();
        return;
    }
    switch (sessionState_) {
        case SessionState::Idle:
            return;
        case SessionState::Greeting:
        case SessionState::Ready:
            Quit();
            return;
        case SessionState::QuitSent:
            Abandon();
            return;
        default:
            // A reply is awaited. The first press lets it finish and quits
            // after it, so confirmed deletions are committed; a second press
            // does not wait for a server that may never finish.
            if (stopRequested_) {
                Abandon();
            } else {
                stopRequested_ = true;
                UpdateButtons();
            }
            return;
    }
}

void Pop3Session::Quit() {
    SendCommand(SessionState::QuitSent, "QUIT", kLineEnd);
    mailbox_.Clear();
}

void Pop3Session::Abandon() {
    // Whatever the old connection still delivers is dropped by it once closed.
    connection_.Close();
    owner_.AppendLog("Disconnected.");
    SetState(SessionState::Idle);
    UpdateButtons();
}

void Pop3Session::ReadButtonClick(std::int32_t number) {
    if (sessionState_ != SessionState::Ready || !mailbox_.Find(number)) return;
    readNumber_ = number;
    SendCommand(SessionState::RetrSent, "RETR " + std::to_string(number), kMultiLineEnd);
}

void Pop3Session::DeleteButtonClick(const std::vector<std::int32_t>& numbers) {
    if (sessionState_ != SessionState::Ready) return;
    deleQueue_.clear();
    for (std::int32_t number : numbers)
        if (mailbox_.Find(number)) deleQueue_.push_back(number);
    if (deleQueue_.empty()) return;
    if (pipelining_)
        StartDeleteWindow();
    else
        DeleteNext();
}

void Pop3Session::UpdateButtons() {
    SessionOwner::ButtonStates states;
    states.connect = sessionState_ == SessionState::Idle;
    // There is a way out at every moment while connected.
    states.disconnect = sessionState_ != SessionState::Idle;
    states.read = sessionState_ == SessionState::Ready;
    states.remove = states.read;
    states.send = true;
    owner_.SetButtonStates(states);
}

void Pop3Session::HandleConnectionEvent(void* userData, ConnectionEvent event, const std::string& text) {
    static_cast<Pop3Session*>(userData)->OnEvent(event, text);
}

void Pop3Session::OnEvent(ConnectionEvent event, const std::string& text) {
    switch (event) {
        case ConnectionEvent::RawData:
            // Pipelined replies are logged one by one as they complete.
            if (window_.Empty()) owner_.AppendLog(text);
            if (sessionState_ == SessionState::Greeting && !greetingChunkSeen_) {
                greetingChunkSeen_ = true;
                std::string rest;
                if (ClassifyReply(text, rest) == ReplyStatus::Negative)
                    Fail(texts::Cp932(texts::pop3::kConnectFailed).c_str());
            }
            break;
        case ConnectionEvent::Sent:
            owner_.AppendLog(LoggedSent(text));
            break;
        case ConnectionEvent::Closed:
            owner_.AppendLog("Disconnected.");
            connection_.Close();
            SetState(SessionState::Idle);
            mailbox_.Clear();
            break;
        case ConnectionEvent::Error:
            if (sessionState_ != SessionState::Idle) {
                owner_.AppendLog("Error.");
                owner_.AppendLog("Disconnected.");
                connection_.Close();
                SetState(SessionState::Idle);
            }
            break;
        case ConnectionEvent::TooLarge:
            OnTooLarge(text);
            break;
        case ConnectionEvent::Reply:
            OnReply(text);
            // A Disconnect pressed while this reply was awaited: nothing more
            // was sent, so quit now.
            if (stopRequested_ && sessionState_ == SessionState::Ready) Quit();
            break;
        case ConnectionEvent::Secured:
        case ConnectionEvent::CertificateRejected:
        case ConnectionEvent::TlsFailed:
        case ConnectionEvent::UpgradeRefused:
            OnTlsEvent(event, text);
            break;
        case ConnectionEvent::Line:
        case ConnectionEvent::DotLine:
            // Nothing changes, so the buttons cannot either; these come once per
            // received line and are the bulk of all events.
            return;
    }
    UpdateButtons();
}

void Pop3Session::OnReply(const std::string& reply) {
    if (!window_.Empty()) {
        OnWindowReply(reply);
        return;
    }
    if (OnOAuthReply(reply)) return;
    std::string rest;
    bool ok = ClassifyReply(reply, rest) != ReplyStatus::Negative;
    Account& account = owner_.CurrentAccount();

    switch (sessionState_) {
        case SessionState::Greeting:
            if (ok)
                OnGreeting(rest);
            else
                Fail(texts::Cp932(texts::pop3::kConnectFailed).c_str());
            break;
        case SessionState::UserSent:
        case SessionState::PassSent:
        case SessionState::ApopSent:
            OnLoginStep(login_.OnReply(reply));
            break;
        case SessionState::CapaSent:
            // Refused or without PIPELINING: the lock-step dialogue as before.
            pipelining_ = ok && OffersPipelining(rest);
            SendCommand(SessionState::ListSent, "LIST", kMultiLineEnd);
            break;
        case SessionState::ListSent:
            if (!ok) {
                // Not an empty mailbox: say why there is no list and leave.
                owner_.ShowMessage(texts::Cp932(texts::pop3::kListFailed) + "\n" + reply);
                Quit();
                break;
            }
            ParseList(rest);
            if (!AskUniqueIds()) StartHeaderFetch();
            break;
        case SessionState::UidlSent:
            OnUniqueIds(ok, rest);
            StartHeaderFetch();
            break;
        case SessionState::TopSent:
            if (ok) {
                OnHeader(rest);
            } else {
                // The server does not know TOP: this row and all later ones by RETR.
                account.popOptions.Clear(POPUseTop);
                FetchNextHeader();
            }
            break;
        case SessionState::RetrHeaderSent:
            if (ok)
                OnHeader(rest);
            else
                SetState(SessionState::Ready);
            break;
        case SessionState::RetrSent:
            if (ok) OnRetr(rest);
            SetState(SessionState::Ready);
            break;
        case SessionState::DeleSent:
            if (ok) {
                OnDele();
            } else {
                deleQueue_.clear();  // the rest of the press stays undone
                SetState(SessionState::Ready);
            }
            break;
        case SessionState::QuitSent:
            connection_.Close();
            SetState(SessionState::Idle);
            break;
        case SessionState::StlsSent:
            // Only a positive answer starts the handshake; the login waits for it.
            if (!reply.starts_with("+OK") || (reply.size() > 3 && reply[3] != ' '))
                FailTls(texts::Cp932(texts::connection::kStartTlsFailed).c_str(),
                        reply.substr(0, reply.find_first_of("\r\n")));
            else if (!connection_.StartTls())
                FailTls(texts::Cp932(texts::connection::kStartTlsFailed).c_str(),
                        "the server sent data after its answer to STLS");
            break;
        case SessionState::OAuthCapaSent:
        case SessionState::AuthSent:
        case SessionState::AuthResponseSent:
        case SessionState::AuthAbortSent:  // taken by OnOAuthReply
        case SessionState::Idle:
        case SessionState::Ready:
            break;
    }
}

bool Pop3Session::StartUpgrade(const std::string& greeting) {
    if (security_ != ServerConnection::Security::Upgrade || secured_) return false;
    greeting_ = greeting;
    connection_.ExpectUpgrade();
    SendCommand(SessionState::StlsSent, "STLS", kLineEnd);
    return true;
}

void Pop3Session::OnTlsEvent(ConnectionEvent event, const std::string& text) {
    if (sessionState_ == SessionState::Idle) return;
    if (event == ConnectionEvent::Secured) {
        owner_.AppendLog("TLS: " + text);
        secured_ = true;
        // After STLS the login goes on from the greeting kept before it.
        if (sessionState_ == SessionState::StlsSent) {
            SetState(SessionState::Greeting);
            OnGreeting(greeting_);
        }
        return;
    }
    owner_.AppendLog("TLS failed: " + text);
    if (event == ConnectionEvent::CertificateRejected)
        FailTls(texts::Cp932(texts::connection::kCertificateFailed).c_str(), text);
    else if (event == ConnectionEvent::UpgradeRefused)
        FailTls(texts::Cp932(texts::connection::kStartTlsFailed).c_str(), text);
    else
        FailTls(texts::Cp932(texts::connection::kTlsFailed).c_str(), text);
}

void Pop3Session::FailTls(const char* message, const std::string& reason) {
    Fail((std::string(message) + "\n" + reason.substr(0, 200)).c_str());
}

void Pop3Session::OnGreeting(const std::string& rest) {
    if (StartUpgrade(rest)) return;
    Account& account = owner_.CurrentAccount();
    const PopLogin login = PopLoginOf(account.popOptions);
    if (login == PopLogin::OAuth2) {
        StartOAuth();
        return;
    }
    login_ = Pop3Login(ReplyReading::Session);
    const LoginStep step = login_.Begin(rest, login, account.popUser, account.popPassword);
    if (login == PopLogin::Automatic) {
        // The choice is written into the account's bits.
        const bool apop = login_.chosen() == PopLogin::Apop;
        if (apop)
            account.popOptions.Set(POPAuthAPOP);
        else
            account.popOptions.Clear(POPAuthAPOP);
        if (apop)
            account.popOptions.Clear(POPAuthBasic);
        else
            account.popOptions.Set(POPAuthBasic);
    }
    OnLoginStep(step);
}

void Pop3Session::OnLoginStep(const LoginStep& step) {
    switch (step.outcome) {
        case LoginOutcome::Send:
        case LoginOutcome::Quit:
            SendCommand(step.state, step.command, kLineEnd);
            break;
        case LoginOutcome::LoggedIn:
            SendAfterLogin();
            break;
        case LoginOutcome::Failed:
            Fail(texts::Cp932(step.failure == LoginFailure::PassRefused ? texts::pop3::kAuthFailed
                                                                        : texts::pop3::kApopFailed)
                     .c_str());
            break;
    }
}

void Pop3Session::OnHeader(const std::string& rest) {
    // The next header is asked for first, so the server works on it while
    // this one is parsed into its entry.
    const std::int32_t index = headerIndex_;
    ++headerIndex_;
    FetchNextHeader();
    if (index >= 0) FillEntry(static_cast<std::size_t>(index), rest);
}

void Pop3Session::OnRetr(const std::string& rest) {
    if (std::optional<std::size_t> index = mailbox_.Find(readNumber_)) FillEntry(*index, rest);
    owner_.ShowMessageText(rest);
}

void Pop3Session::FillEntry(std::size_t index, const std::string& rest) {
    if (index >= mailbox_.Count()) return;
    const RowTexts texts = MailRowTexts(rest, owner_.CurrentAccount().popOptions.Test(POPDecodeMime));
    mailbox_.Fill(index, rest, texts.date, texts.subject, texts.sender);
    JudgeEntries(index, 1);
}

void Pop3Session::OnDele() {
    if (std::optional<std::size_t> index = mailbox_.Find(pendingDele_)) mailbox_.Remove(*index);
    pendingDele_ = 0;
    if (!deleQueue_.empty()) {
        DeleteNext();
        return;
    }
    FinishDeletes();
}

void Pop3Session::FinishDeletes() {
    deleQueue_.clear();
    owner_.DeletesFinished();
    SetState(SessionState::Ready);
}

void Pop3Session::SendCommand(SessionState state, const std::string& command, const char* terminator) {
    if (stopRequested_ && state != SessionState::QuitSent) {
        // The user asked to stop: the reply just handled was the last one.
        SetState(SessionState::Ready);
        return;
    }
    SetState(state);
    connection_.SetTerminator(terminator);
    connection_.SetListing(state == SessionState::ListSent || state == SessionState::UidlSent);
    connection_.Send(command + kLineEnd);
    UpdateButtons();
}

void Pop3Session::StartHeaderFetch() {
    if (messageCount_ > 0 && !mailbox_.Empty() && owner_.CurrentAccount().popOptions.Test(POPReadHeader)) {
        headerIndex_ = 0;
        if (pipelining_)
            StartHeaderWindow();
        else
            FetchNextHeader();
    } else {
        SetState(SessionState::Ready);
    }
}

void Pop3Session::FetchNextHeader() {
    if (headerIndex_ < 0 || static_cast<std::size_t>(headerIndex_) >= mailbox_.Count()) {
        SetState(SessionState::Ready);
        return;
    }
    std::string number = std::to_string(mailbox_.Number(static_cast<std::size_t>(headerIndex_)));
    if (owner_.CurrentAccount().popOptions.Test(POPUseTop))
        SendCommand(SessionState::TopSent, "TOP " + number + " 0", kMultiLineEnd);
    else
        SendCommand(SessionState::RetrHeaderSent, "RETR " + number, kMultiLineEnd);
}

void Pop3Session::ParseList(const std::string& text) {
    ScanListing listing = ParseScanListing(text);
    messageCount_ = listing.count;
    std::vector<Mailbox::Listed> listed;
    listed.reserve(listing.entries.size());
    for (const ScanListingEntry& entry : listing.entries) listed.push_back({entry.number, entry.size});
    const std::size_t first = mailbox_.Count();
    mailbox_.Add(listed);
    JudgeEntries(first, listed.size());
}

void Pop3Session::DeleteNext() {
    if (deleQueue_.empty()) {
        SetState(SessionState::Ready);
        return;
    }
    pendingDele_ = deleQueue_.front();
    deleQueue_.pop_front();
    SendCommand(SessionState::DeleSent, "DELE " + std::to_string(pendingDele_), kLineEnd);
}

void Pop3Session::SendAfterLogin() {
    if (owner_.CurrentAccount().popOptions.Test(POPPipelining))
        SendCommand(SessionState::CapaSent, "CAPA", kMultiLineEnd);
    else
        SendCommand(SessionState::ListSent, "LIST", kMultiLineEnd);
}

std::vector<SessionState> Pop3Session::StatePath() const {
    const std::size_t kept = std::min(statePathCount_, kStatePathLength);
    std::vector<SessionState> path;
    path.reserve(kept);
    for (std::size_t i = statePathCount_ - kept; i < statePathCount_; ++i) {
        path.push_back(statePath_[i % kStatePathLength]);
    }
    return path;
}

void Pop3Session::SetState(SessionState state) {
    sessionState_ = state;
    statePath_[statePathCount_ % kStatePathLength] = state;
    ++statePathCount_;
    if (state == SessionState::Ready && seenPending_) {
        // Listing and header fetch are complete, unless the user stopped them.
        seenPending_ = false;
        if (writeSeen_ && !stopRequested_) WriteSeen();
    }
    if (state == SessionState::Idle) {
        seenPending_ = false;
        stopRequested_ = false;
        window_.Clear();
        deleQueue_.clear();
    }
}

void Pop3Session::OnTooLarge(const std::string& received) {
    if (sessionState_ == SessionState::Idle) return;
    owner_.AppendLog("Error.");
    owner_.AppendLog("Disconnected.");
    connection_.Close();
    SetState(SessionState::Idle);
    UpdateButtons();
    owner_.ShowMessage(texts::Cp932(texts::connection::kTooLargeBefore) + received +
                       texts::Cp932(texts::connection::kTooLargeAfter));
}

void Pop3Session::Fail(const char* message) {
    connection_.Close();
    SetState(SessionState::Idle);
    UpdateButtons();
    owner_.ShowMessage(message);
}
