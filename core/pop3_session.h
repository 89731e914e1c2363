#pragma once

#include "accounts/seen_ids.h"
#include "core/command_window.h"
#include "core/mailbox.h"
#include "core/pop3_login.h"
#include "core/server_connection.h"
#include "core/session_oauth.h"
#include "core/session_owner.h"
#include "core/session_state.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// One POP3 dialogue at a time for the owner's current account: greeting,
// login, LIST, the header fetch, reading, deleting and QUIT. Lock-step:
// one command outstanding at a time, except for the pipelining below. The
// session keeps the listed messages in its own mailbox, which tells the
// owner of each change, and reaches the rest of the program only through
// its owner. Sessions share nothing: several may run side by side.
//
// Disconnect works in every state: while a reply is awaited the first press
// quits once it has been handled, a second press (or one while QUIT is
// awaited) closes at once.
//
// With the account's POPPipelining bit set the session asks for CAPA after
// the login; when the server lists PIPELINING, the header fetch and
// deleting several rows keep a bounded window of commands in flight and
// match the replies to them in order. The log then gets one entry per reply
// (instead of one per read), so commands and replies still pair up.
//
// With the account's POPMarkNew bit the session asks UIDL after LIST,
// keeps each message's unique id and marks kMarkNew on those not in the
// account's seen list (read at Connect). Once listing and header fetch are
// complete it replaces that list with the ids of this listing.
//
// All calls, the connection's events included, must arrive on one thread:
// the dispatcher given here is expected to post the connection's tasks to
// the thread that also runs the button handlers.
class Pop3Session {
public:
    explicit Pop3Session(SessionOwner& owner, ServerConnection::Dispatcher dispatcher = {},
                         std::chrono::milliseconds replyTimeout = ServerConnection::kDefaultReplyTimeout,
                         LineFraming::Limits limits = {});
    ~Pop3Session();

    Pop3Session(const Pop3Session&) = delete;
    Pop3Session& operator=(const Pop3Session&) = delete;

    void ConnectButtonClick();
    void DisconnectButtonClick();
    // Read and Delete work on the message numbers chosen at the press;
    // numbers the mailbox does not hold are passed over. Delete goes
    // through them in the order given.
    void ReadButtonClick(std::int32_t number);
    void DeleteButtonClick(const std::vector<std::int32_t>& numbers);
    void UpdateButtons();
    // With the account's POPApplyRules bit set, judges every row again by
    // the owner's rules (after they changed); otherwise does nothing.
    void JudgeAllEntries();

    const ::Mailbox& Mailbox() const { return mailbox_; }
    // Marks are the window's to set as well (rules); it tells the mailbox's
    // listener itself.
    ::Mailbox& Mailbox() { return mailbox_; }

    // Whether a complete check replaces the account's seen list (on by
    // default). A check the user does not look at must leave it alone.
    void SetSeenWriting(bool on) { writeSeen_ = on; }
    // Where the seen lists are kept; empty (the default): SeenIdsDirectory().
    void SetSeenDirectory(std::string directory) { seenDirectory_ = std::move(directory); }

    SessionState State() const { return sessionState_; }
    std::int32_t HeaderIndex() const { return headerIndex_; }
    std::int32_t MessageCount() const { return messageCount_; }
    // The window refuses to close while this holds.
    bool IsConnectionOpen() const { return connection_.IsOpen(); }
    // Connections run over streams this makes instead of sockets (tests).
    void SetStreamSource(ServerSocket::StreamSource source) { connection_.SetStreamSource(std::move(source)); }
    // The last kStatePathLength states passed to SetState, oldest first
    // (repeats included), for a failing test to print.
    static constexpr std::size_t kStatePathLength = 32;
    std::vector<SessionState> StatePath() const;

    // The connection's handler; userData is the session.
    static void HandleConnectionEvent(void* userData, ConnectionEvent event, const std::string& text);

private:
    void OnEvent(ConnectionEvent event, const std::string& text);
    void OnReply(const std::string& reply);
    void OnGreeting(const std::string& rest);
    void OnLoginStep(const LoginStep& step);
    void OnHeader(const std::string& rest);
    void OnRetr(const std::string& rest);
    void OnDele();
    // The STLS upgrade, when the account asks for it and it has not happened:
    // sends STLS and keeps the greeting for the login. True when it did.
    bool StartUpgrade(const std::string& greeting);
    void OnTlsEvent(ConnectionEvent event, const std::string& text);
    // Closes, goes Idle and shows the text with the reason on a second line.
    void FailTls(const char* message, const std::string& reason);
    // Sends QUIT and empties the list, as Disconnect does from Ready.
    void Quit();
    // Closes at once without QUIT; the rows stay, as after an error.
    void Abandon();

    void SendCommand(SessionState state, const std::string& command, const char* terminator);
    void FetchNextHeader();
    void ParseList(const std::string& text);
    // Sends DELE for the next number of the press, or ends the press.
    void DeleteNext();
    void FinishDeletes();
    // Sets the mailbox entry's header and display texts from a reply's rest.
    void FillEntry(std::size_t index, const std::string& rest);
    // Sets the junk and friend marks of the entries by the owner's rules
    // when the account applies them (session_rules.cpp).
    void JudgeEntries(std::size_t first, std::size_t count);
    // After the login: CAPA when the account may pipeline, else LIST.
    void SendAfterLogin();
    // After LIST: the header fetch, or Ready.
    void StartHeaderFetch();
    // UIDL and the new marks (session_uidl.cpp). ReadSeen at Connect;
    // AskUniqueIds after LIST, false when the account does not mark.
    void ReadSeen();
    bool AskUniqueIds();
    void OnUniqueIds(bool ok, const std::string& rest);
    void WriteSeen();
    // The pipelined header fetch and deletes (session_pipelined.cpp).
    void StartHeaderWindow();
    void StartDeleteWindow();
    void FillHeaderWindow();
    void FillDeleteWindow();
    void OnWindowReply(const std::string& reply);
    void FinishWindow(SessionState kind);

    // The OAuth2 sign-in (session_oauth.cpp). At connect: false when
    // nothing may be sent (no TLS, no client id, no token; said in a box).
    bool PrepareOAuth(const Account& account);
    bool FetchOAuthToken(bool refresh);
    void StartOAuth();  // after the greeting
    void SendOAuthAuth();
    // True when the reply belonged to the sign-in.
    bool OnOAuthReply(const std::string& reply);
    void OnOAuthRefused(const std::string& reply);
    // Sends a line that is all secret; the log shows it masked.
    void SendSecretLine(SessionState state, const std::string& line);
    std::string LoggedSent(const std::string& text);

    // Every change of sessionState_ goes through here.
    void SetState(SessionState state);
    // Closes the connection, goes Idle and shows the text.
    void Fail(const char* message);
    // A reply passed a limit: ends the connection as after an error (the
    // rows stay) and says how much had come.
    void OnTooLarge(const std::string& received);

    SessionOwner& owner_;
    ::Mailbox mailbox_;
    SessionState sessionState_ = SessionState::Idle;
    std::int32_t headerIndex_ = 0;
    std::int32_t messageCount_ = 0;
    bool greetingChunkSeen_ = false;  // the negative greeting is told from the first chunk only
    std::int32_t pendingDele_ = 0;    // the number whose DELE awaits its reply
    std::int32_t readNumber_ = 0;     // the number whose RETR awaits its reply
    ServerConnection::Security security_ = ServerConnection::Security::Plain;  // of this connection
    bool secured_ = false;                // the handshake of this connection succeeded
    std::string greeting_;                // the greeting's rest, kept across the STLS upgrade
    Pop3Login login_;                     // this connection's login
    bool stopRequested_ = false;          // Disconnect pressed while a reply was awaited; cleared in Idle
    bool pipelining_ = false;             // this connection's server listed PIPELINING in CAPA
    CommandWindow window_;                // pipelined commands awaiting replies; empty in lock-step
    std::int32_t nextHeader_ = 0;         // pipelined fetch: the next entry to ask for
    std::deque<std::int32_t> deleQueue_;  // numbers of the press not sent yet
    bool deleRefused_ = false;            // a DELE of this window was refused
    SeenIds seen_;                        // the account's seen list as read at Connect
    bool seenPending_ = false;            // ids came: the list is replaced on reaching Ready
    bool writeSeen_ = true;
    std::string seenDirectory_;
    OAuthLogin oauth_;                    // the OAuth2 sign-in of this connection
    std::array<SessionState, kStatePathLength> statePath_{};  // a ring of what SetState was given
    std::size_t statePathCount_ = 0;                          // states given so far
    ServerConnection connection_;                             // last: closed and joined before the rest goes
};
