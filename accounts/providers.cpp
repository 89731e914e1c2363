#include "accounts/providers.h"

#include "accounts/settings.h"
#include "platform/user_store.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <system_error>
#include <utility>

namespace {

bool Fault(std::string& error, const std::string& where, const char* what) {
    error = where + ": " + what;
    return false;
}

bool ReadString(const JsonValue& object, const char* name, std::string& out, bool required, std::string& error,
                const std::string& where) {
    const JsonValue* v = object.Find(name);
    if (!v) return !required || Fault(error, where, (std::string("\"") + name + "\" is missing").c_str());
    if (!v->IsString()) return Fault(error, where, (std::string("\"") + name + "\" is not a string").c_str());
    out = v->AsString();
    return true;
}

bool ReadStrings(const JsonValue& object, const char* name, std::vector<std::string>& out, std::string& error,
                 const std::string& where) {
    const JsonValue* v = object.Find(name);
    if (!v) return true;
    if (!v->IsArray()) return Fault(error, where, (std::string("\"") + name + "\" is not a list").c_str());
    for (const JsonValue& item : v->Items()) {
        if (!item.IsString()) return Fault(error, where, (std::string("\"") + name + "\" holds a non-string").c_str());
        out.push_back(item.AsString());
    }
    return true;
}

bool OneOf(const std::string& value, std::initializer_list<const char*> allowed) {
    return std::any_of(allowed.begin(), allowed.end(), [&](const char* a) { return value == a; });
}

bool ReadServer(const JsonValue& entry, const char* name, bool pop, ProviderServer& server, std::string& error,
                const std::string& where) {
    const std::string at = where + " " + name;
    const JsonValue* v = entry.Find(name);
    if (!v || !v->IsObject()) return Fault(error, at, "missing or not an object");
    if (!ReadString(*v, "host", server.host, true, error, at)) return false;
    if (server.host.empty()) return Fault(error, at, "\"host\" is empty");
    const JsonValue* port = v->Find("port");
    if (!port || !port->IsNumber() || port->AsNumber() < 1 || port->AsNumber() > 65535 ||
        port->AsNumber() != static_cast<int>(port->AsNumber())) {
        return Fault(error, at, "\"port\" is not a number from 1 to 65535");
    }
    server.port = static_cast<int>(port->AsNumber());
    if (!ReadString(*v, "encryption", server.encryption, true, error, at)) return false;
    if (!OneOf(server.encryption, {"none", "tls", "starttls"})) {
        return Fault(error, at, "\"encryption\" is not none, tls or starttls");
    }
    if (!ReadString(*v, "login", server.login, true, error, at)) return false;
    if (pop ? !OneOf(server.login, {"password", "apop", "oauth2"})
            : !OneOf(server.login, {"none", "password", "oauth2"})) {
        return Fault(error, at,
                     pop ? "\"login\" is not password, apop or oauth2" : "\"login\" is not none, password or oauth2");
    }
    return true;
}

bool ReadEntry(const JsonValue& entry, std::size_t index, Provider& p, std::string& error) {
    std::string where = "entry " + std::to_string(index + 1);
    if (!entry.IsObject()) return Fault(error, where, "not an object");
    if (!ReadString(entry, "name", p.name, true, error, where)) return false;
    if (p.name.empty()) return Fault(error, where, "\"name\" is empty");
    where += " (" + p.name + ")";
    if (!ReadStrings(entry, "domains", p.domains, error, where)) return false;
    for (std::string& d : p.domains) {
        std::transform(d.begin(), d.end(), d.begin(), [](unsigned char c) { return std::tolower(c); });
    }
    if (!ReadServer(entry, "pop", true, p.pop, error, where) ||
        !ReadServer(entry, "smtp", false, p.smtp, error, where)) {
        return false;
    }
    if (const JsonValue* o = entry.Find("oauth2")) {
        const std::string at = where + " oauth2";
        if (!o->IsObject()) return Fault(error, at, "not an object");
        ProviderOAuth2 oauth;
        if (!ReadString(*o, "authorize", oauth.authorize, true, error, at) ||
            !ReadString(*o, "token", oauth.token, true, error, at) ||
            !ReadString(*o, "scope", oauth.scope, true, error, at) ||
            !ReadString(*o, "client_id", oauth.clientId, false, error, at) ||
            !ReadString(*o, "client_secret", oauth.clientSecret, false, error, at) ||
            !ReadStrings(*o, "mechanisms", oauth.mechanisms, error, at)) {
            return false;
        }
        if (oauth.mechanisms.empty()) oauth.mechanisms = {"OAUTHBEARER", "XOAUTH2"};
        p.oauth2 = std::move(oauth);
    }
    return ReadString(entry, "help", p.help, false, error, where);
}

bool ParseTable(std::string_view json, JsonValue& table, std::string& error) {
    if (!ParseJson(json, table, error)) return false;
    const JsonValue* list = table.Find("providers");
    if (!list || !list->IsArray()) return Fault(error, "table", "no \"providers\" list");
    return true;
}

// Objects merge member by member; anything else is replaced.
void Overlay(JsonValue& base, const JsonValue& over) {
    if (!base.IsObject() || !over.IsObject()) {
        base = over;
        return;
    }
    for (const auto& [name, value] : over.Members()) {
        if (JsonValue* existing = base.Find(name)) {
            Overlay(*existing, value);
        } else {
            base.Set(name, value);
        }
    }
}

}  // namespace

bool ParseProviders(std::string_view json, std::vector<Provider>& providers, std::string& error) {
    JsonValue table;
    if (!ParseTable(json, table, error)) return false;
    std::vector<Provider> result;
    const std::vector<JsonValue>& entries = table.Find("providers")->Items();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        Provider p;
        if (!ReadEntry(entries[i], i, p, error)) return false;
        result.push_back(std::move(p));
    }
    providers = std::move(result);
    return true;
}

bool MergeProviderTables(std::string_view shipped, std::string_view user, JsonValue& merged, std::string& error) {
    JsonValue base;
    JsonValue over;
    if (!ParseTable(shipped, base, error) || !ParseTable(user, over, error)) return false;
    std::vector<JsonValue>& entries = base.Find("providers")->Items();
    for (const JsonValue& entry : over.Find("providers")->Items()) {
        const JsonValue* name = entry.Find("name");
        auto same = std::find_if(entries.begin(), entries.end(), [&](const JsonValue& e) {
            const JsonValue* n = e.Find("name");
            return name && name->IsString() && n && n->IsString() && n->AsString() == name->AsString();
        });
        if (same != entries.end()) {
            Overlay(*same, entry);
        } else {
            entries.push_back(entry);
        }
    }
    merged = std::move(base);
    return true;
}

namespace {

// Writes a value back as JSON text, so a merged table goes through the one
// reader that checks entries.
void Write(const JsonValue& v, std::string& out) {
    switch (v.kind()) {
        case JsonValue::Kind::Null:
            out += "null";
            break;
        case JsonValue::Kind::Bool:
            out += v.AsBool() ? "true" : "false";
            break;
        case JsonValue::Kind::Number: {
            char buffer[32];
            const auto result = std::to_chars(buffer, buffer + sizeof buffer, v.AsNumber());
            out.append(buffer, result.ptr);
            break;
        }
        case JsonValue::Kind::String:
            out += '"';
            for (const char c : v.AsString()) {
                if (c == '"' || c == '\\') {
                    out += '\\';
                    out += c;
                } else if (static_cast<unsigned char>(c) < 0x20) {
                    static const char kHex[] = "0123456789abcdef";
                    out += "\\u00";
                    out += kHex[(c >> 4) & 0xf];
                    out += kHex[c & 0xf];
                } else {
                    out += c;
                }
            }
            out += '"';
            break;
        case JsonValue::Kind::Array: {
            out += '[';
            bool first = true;
            for (const JsonValue& item : v.Items()) {
                if (!first) out += ',';
                first = false;
                Write(item, out);
            }
            out += ']';
            break;
        }
        case JsonValue::Kind::Object: {
            out += '{';
            bool first = true;
            for (const auto& [name, value] : v.Members()) {
                if (!first) out += ',';
                first = false;
                Write(JsonValue::String(name), out);
                out += ':';
                Write(value, out);
            }
            out += '}';
            break;
        }
    }
}

}  // namespace

ProviderCatalog LoadProviderCatalog(const std::optional<std::string>& userFile) {
    ProviderCatalog catalog;
    std::string error;
    // The shipped table is checked by the tests; should it ever fail, no presets are offered.
    ParseProviders(ShippedProvidersJson(), catalog.providers, error);
    if (!userFile) return catalog;
    JsonValue merged;
    std::string text;
    std::vector<Provider> providers;
    if (MergeProviderTables(ShippedProvidersJson(), *userFile, merged, error)) {
        Write(merged, text);
        if (ParseProviders(text, providers, error)) {
            catalog.providers = std::move(providers);
            return catalog;
        }
    }
    catalog.userFileError = error;
    return catalog;
}

std::string UserProvidersPath() {
    const std::string directory = UserStoreDirectory(kSettingsKeyPath);
    return directory.empty() ? std::string() : directory + "/providers.json";
}

ProviderCatalog LoadUserProviderCatalog() {
    const std::string path = UserProvidersPath();
    std::error_code ec;
    if (path.empty() || !std::filesystem::exists(path, ec)) return LoadProviderCatalog(std::nullopt);
    // A table is a few kilobytes; anything much larger is not one.
    constexpr std::uintmax_t kMaxSize = 1024 * 1024;
    std::ifstream in(path, std::ios::binary);
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (!in || ec || size > kMaxSize) {
        ProviderCatalog catalog = LoadProviderCatalog(std::nullopt);
        catalog.userFileError = ec || !in ? "the file cannot be read" : "the file is too large";
        return catalog;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return LoadProviderCatalog(text);
}

const Provider* FindProviderForAddress(const std::vector<Provider>& providers, std::string_view address) {
    const std::size_t at = address.rfind('@');
    if (at == std::string_view::npos || at + 1 >= address.size()) return nullptr;
    std::string domain(address.substr(at + 1));
    std::transform(domain.begin(), domain.end(), domain.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const Provider& p : providers) {
        for (const std::string& d : p.domains) {
            if (d.empty()) continue;
            if (domain == d ||
                (domain.size() > d.size() && domain.ends_with(d) && domain[domain.size() - d.size() - 1] == '.')) {
                return &p;
            }
        }
    }
    return nullptr;
}
