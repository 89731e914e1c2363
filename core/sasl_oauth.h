#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// SASL initial responses for signing in with an OAuth2 access token, each
// Base64 on one line as AUTH carries it.

// XOAUTH2 (Google's and Microsoft's mechanism):
// "user=" user ^A "auth=Bearer " token ^A ^A.
std::string XOAuth2Response(std::string_view user, std::string_view accessToken);

// OAUTHBEARER (RFC 7628): the GS2 header "n,a=" user "," (',' and '=' in
// the user written as "=2C" and "=3D"), then ^A "host=" host ^A "port="
// port ^A "auth=Bearer " token ^A ^A. An empty host leaves out host and
// port 0 leaves out port; both are optional in the mechanism.
std::string OAuthBearerResponse(std::string_view user, std::string_view host, std::uint16_t port,
                                std::string_view accessToken);

// What a client sends after an OAUTHBEARER error challenge to end the
// exchange (a lone ^A), as Base64.
inline constexpr std::string_view kOAuthBearerAbort = "AQ==";

// An error challenge's text (Base64 of a JSON object such as
// {"status":"invalid_token","scope":"..."}) as plain text for a message
// box: "status: invalid_token, scope: ...". Text that is not such an
// object is shown as decoded; control bytes become spaces, and the whole
// is cut at 300 bytes.
std::string OAuthErrorText(std::string_view challenge);

// Whether "AUTH " mechanism " " response CR LF fits in limit octets (POP3
// allows 255, RFC 5034; SMTP 512, RFC 4954); otherwise the response goes
// alone after the server's "+ ".
bool InitialResponseFits(std::string_view mechanism, std::string_view response, std::size_t limit);

// Base64 of bytes on one line, with padding.
std::string EncodeBase64(std::string_view bytes);
