#pragma once

#include "accounts/providers.h"

#include <map>
#include <string>
#include <string_view>

// The pieces of an OAuth2 authorization code sign-in with PKCE (RFC 6749,
// RFC 7636) and a loopback redirect (RFC 8252) that need no network: random
// values, the URL the browser opens, the redirect it comes back with, and
// the token endpoint's request and reply.

// Base64url without padding (RFC 4648 section 5).
std::string Base64Url(std::string_view bytes);

// A random text of the URL-safe alphabet made from bytes octets of the
// system's random generator (32 octets give 43 characters, a valid PKCE
// verifier). Empty when no random bytes could be had.
std::string RandomToken(std::size_t bytes = 32);

// True for a verifier RFC 7636 accepts: 43 to 128 characters of
// A-Z a-z 0-9 - . _ ~.
bool IsPkceVerifier(std::string_view verifier);
// The S256 challenge: Base64url of the verifier's SHA-256.
std::string PkceChallengeS256(std::string_view verifier);

// Percent-encoding of everything but the unreserved characters (RFC 3986).
std::string PercentEncode(std::string_view text);
// Name=value pairs joined by '&', each part percent-encoded.
std::string FormEncode(const std::map<std::string, std::string>& fields);
// Reads an application/x-www-form-urlencoded text ('+' is a space). False
// on a broken escape; a repeated name keeps its first value (a second one
// is what an attacker would add).
bool ParseFormQuery(std::string_view query, std::map<std::string, std::string>& fields);

// An endpoint the program may talk to: https, or plain http on a loopback
// host (127.0.0.1, ::1 written [::1], localhost) for local servers.
bool IsAllowedEndpoint(std::string_view url);

// The authorization request's URL: the provider's authorize endpoint with
// response_type=code, client_id, redirect_uri, scope, state, the S256
// challenge and, when loginHint is not empty, login_hint.
std::string AuthorizationUrl(const ProviderOAuth2& provider, std::string_view redirectUri, std::string_view state,
                             std::string_view challenge, std::string_view loginHint);

// What came back to the loopback listener.
struct OAuthRedirect {
    enum class Kind {
        NotRedirect,    // another path (a browser's /favicon.ico): answer 404 and keep waiting
        Malformed,      // no code and no error, or a broken query
        StateMismatch,  // state missing or not ours: refused
        Error,          // the provider's error (the user declined, ...)
        Code,
    };
    Kind kind = Kind::Malformed;
    std::string code;
    std::string error;  // error and error_description, as the provider gave them
};
// Reads an HTTP request's target ("/?code=...&state=...") for the state sent.
OAuthRedirect ParseRedirectTarget(std::string_view target, std::string_view expectedState);

// The token endpoint's request bodies (form-encoded). clientSecret goes
// along only when the provider has one.
std::string CodeTokenRequest(const ProviderOAuth2& provider, std::string_view code, std::string_view verifier,
                             std::string_view redirectUri);
std::string RefreshTokenRequest(const ProviderOAuth2& provider, std::string_view refreshToken);

// The token endpoint's reply (RFC 6749 sections 5.1 and 5.2).
struct TokenReply {
    enum class Kind {
        Token,
        InvalidGrant,  // the code or the refresh token is no longer good: sign in again
        Error,         // any other refusal; error holds what the server said
        Malformed,     // not the JSON a token endpoint sends
    };
    Kind kind = Kind::Malformed;
    std::string accessToken;
    std::string refreshToken;  // empty when the server keeps the old one
    long long expiresIn = 0;   // seconds; 0 when not given
    std::string error;
};
TokenReply ParseTokenReply(int httpStatus, std::string_view body);
