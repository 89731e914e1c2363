#include "support/scripted_mailbox.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

std::string Verb(const std::string& line) {
    return line.substr(0, line.find(' '));
}

int MessageNumber(const std::string& line) {
    std::size_t space = line.find(' ');
    if (space == std::string::npos) return 0;
    return std::atoi(line.c_str() + space + 1);
}

std::string Stuffed(const std::string& text) {
    std::string out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t eol = text.find("\r\n", pos);
        std::size_t end = eol == std::string::npos ? text.size() : eol + 2;
        if (text[pos] == '.') out += '.';
        out.append(text, pos, end - pos);
        pos = end;
    }
    if (!out.ends_with("\r\n")) out += "\r\n";
    return out;
}

}  // namespace

std::string ScriptedMailbox::Respond(const std::string& line) const {
    if (auto it = overrides.find(line); it != overrides.end()) return it->second;
    std::string verb = Verb(line);
    if (auto it = overrides.find(verb); it != overrides.end()) return it->second;

    if (line == "UIDL") {
        std::string reply = "+OK\r\n";
        for (std::size_t i = 0; i < messages.size(); ++i) reply += std::to_string(i + 1) + " " + UniqueId(i) + "\r\n";
        return reply + ".\r\n";
    }
    int n = MessageNumber(line);
    bool exists = n >= 1 && n <= static_cast<int>(messages.size());
    if (verb == "USER" || verb == "APOP") return "+OK\r\n";
    if (verb == "PASS") return "+OK Logged in.\r\n";
    if (verb == "QUIT") return "+OK Logging out.\r\n";
    if (verb == "LIST") {
        std::string reply = "+OK " + std::to_string(messages.size()) + " messages:\r\n";
        for (std::size_t i = 0; i < messages.size(); ++i)
            reply += std::to_string(i + 1) + " " + std::to_string(messages[i].size()) + "\r\n";
        return reply + ".\r\n";
    }
    if (!exists) return "-ERR There's no message " + std::to_string(n) + ".\r\n";
    const std::string& message = messages[static_cast<std::size_t>(n - 1)];
    if (verb == "RETR") return "+OK " + std::to_string(message.size()) + " octets\r\n" + Stuffed(message) + ".\r\n";
    if (verb == "TOP") {
        std::size_t blank = message.find("\r\n\r\n");
        std::string header = blank == std::string::npos ? message : message.substr(0, blank + 4);
        return "+OK\r\n" + Stuffed(header) + ".\r\n";
    }
    if (verb == "DELE") return "+OK Marked to be deleted.\r\n";
    if (verb == "UIDL") return "+OK " + std::to_string(n) + " " + UniqueId(static_cast<std::size_t>(n - 1)) + "\r\n";
    return "-ERR Unknown command.\r\n";
}

std::string ScriptedMailbox::UniqueId(std::size_t index) const {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (unsigned char c : messages.at(index)) hash = (hash ^ c) * 1099511628211ull;
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}
