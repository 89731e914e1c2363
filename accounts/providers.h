#pragma once

#include "accounts/json.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One server of a provider preset.
struct ProviderServer {
    std::string host;
    int port = 0;
    std::string encryption;  // "none", "tls" or "starttls"
    std::string login;       // POP3: "password", "apop", "oauth2"; SMTP: "none", "password", "oauth2"
};

struct ProviderOAuth2 {
    std::string authorize;
    std::string token;
    std::string scope;
    std::string clientId;
    std::string clientSecret;             // only where the provider requires one
    std::vector<std::string> mechanisms;  // in order of preference
};

// A mail provider's published settings, as the presets table holds them.
struct Provider {
    std::string name;
    std::vector<std::string> domains;
    ProviderServer pop;
    ProviderServer smtp;
    std::optional<ProviderOAuth2> oauth2;
    std::string help;
};

// The table shipped inside the program (presets/providers.json).
std::string_view ShippedProvidersJson();

// Reads a table of the form {"providers": [entry, ...]}; every entry must be
// complete and valid. False with error naming the first fault.
bool ParseProviders(std::string_view json, std::vector<Provider>& providers, std::string& error);

// Lays a user table over a shipped one: an entry whose name matches a
// shipped entry replaces the fields it gives (objects field by field), any
// other entry is added. Both must parse as JSON with a "providers" array.
bool MergeProviderTables(std::string_view shipped, std::string_view user, JsonValue& merged, std::string& error);

// The presets in use: the shipped table, with the user's file over it when
// that file exists. A user file that cannot be used is ignored and named in
// userFileError.
struct ProviderCatalog {
    std::vector<Provider> providers;
    std::string userFileError;  // empty when the file is fine or absent
};
// userFile is the file's contents, or nothing when it does not exist.
ProviderCatalog LoadProviderCatalog(const std::optional<std::string>& userFile);

// Where the user's table lives: providers.json in the settings folder
// (empty when no configuration folder can be found).
std::string UserProvidersPath();
// The catalog with the user's file at UserProvidersPath() over it; a file
// that exists but cannot be read is named in userFileError like one that
// does not parse.
ProviderCatalog LoadUserProviderCatalog();

// The provider whose domains hold the address's domain or a parent of it
// (user@mail.example.ne.jp matches example.ne.jp); nullptr when none does.
const Provider* FindProviderForAddress(const std::vector<Provider>& providers, std::string_view address);
