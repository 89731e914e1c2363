#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Where the POP3 dialogue stands. The numbers are fixed; 2 is not used.
enum class SessionState : std::uint8_t {
    Idle = 0,      // no connection
    Greeting = 1,  // Open called, waiting for the greeting
    Ready = 3,     // logged in and listed, waiting for the user
    UserSent = 4,
    PassSent = 5,
    ApopSent = 6,
    ListSent = 7,
    RetrHeaderSent = 8,  // RETR for one row's header
    RetrSent = 9,        // RETR for reading the selected message
    DeleSent = 10,
    QuitSent = 11,
    TopSent = 12,   // TOP n 0 for one row's header
    StlsSent = 13,  // STLS sent after the greeting; also the handshake that follows
    CapaSent = 14,  // CAPA after the login, asking whether the server pipelines
    // Signing in with OAuth2 (AUTH, RFC 5034).
    OAuthCapaSent = 20,     // CAPA before the login, for the SASL mechanisms
    AuthSent = 21,          // AUTH, with or without its initial response
    AuthResponseSent = 22,  // the response after the server's "+ "
    AuthAbortSent = 23,     // the answer to an error challenge; the refusal follows
    UidlSent = 24,  // UIDL after LIST, for the unique ids
};

// The state's name as written above ("Idle", "TopSent"); "State<n>" for a
// number that names no state.
std::string SessionStateName(SessionState state);
// States joined by " > ", for a failing test to print the path taken.
std::string SessionStatePathText(const std::vector<SessionState>& path);
