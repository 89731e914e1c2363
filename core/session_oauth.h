#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <vector>

// What the POP3 session keeps while it signs in with OAuth2 (AUTH with
// OAUTHBEARER or XOAUTH2); the steps are in session_oauth.cpp.
struct OAuthLogin {
    std::vector<std::string> mechanisms;  // the preset's, in order of preference
    std::string mechanism;                // the one chosen from CAPA
    std::string token;                    // the access token of this connection
    std::string response;                 // the initial response, when it waits for "+ "
    std::string error;                    // the server's last error challenge, as plain text
    bool refreshed = false;               // the token was refreshed once on this connection
    // Lines sent that hold a secret in a form LoggedCommand cannot tell (a
    // SASL response alone on its line), as sent; the log masks them.
    std::deque<std::string> secretLines;
};

// The mechanisms a CAPA reply's SASL line names (upper case), in order.
std::vector<std::string> SaslMechanisms(std::string_view capa);
