#pragma once

#include "accounts/account.h"
#include "accounts/providers.h"

#include <string>
#include <string_view>
#include <vector>

// Which provider preset an OAuth2 account signs in with. Only presets with
// an oauth2 section count.

// Those presets, in table order.
std::vector<const Provider*> OAuthProviders(const std::vector<Provider>& providers);

// The preset whose domains hold the domain of the account's POP3 user
// (or a parent of it), else the one whose pop.host is the POP3 server
// (any case); nullptr when neither is found.
const Provider* DefaultOAuthProvider(const std::vector<Provider>& providers, const Account& account);

// The account's stored choice when the table still has it, else the
// default above.
const Provider* OAuthProviderFor(const std::vector<Provider>& providers, const Account& account);

// The SASL mechanisms to try, in order: the preset's, or OAUTHBEARER then
// XOAUTH2 when it names none.
std::vector<std::string> OAuthMechanisms(const Provider* provider);

// Why an OAuth2 sign-in cannot start, as the message box shows it
// (Shift_JIS): no provider, or one without a client id, names the user's
// presets file on a second line. Empty when the sign-in can go ahead.
std::string OAuthSetupProblem(const Provider* provider);
