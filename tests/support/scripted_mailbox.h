#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

// A tiny POP3 mailbox answered line by line; overrides replace the reply to
// an exact command line or, failing that, to every command with that verb.
struct ScriptedMailbox {
    std::vector<std::string> messages;             // full texts, lines ending in CR LF
    std::map<std::string, std::string> overrides;  // "" sends nothing
    std::set<std::string> closeAfter;              // command lines after whose reply the server hangs up

    std::string Respond(const std::string& line) const;
    // The unique id UIDL gives message index (from 0): made from its text,
    // so it stays with the message when others are removed.
    std::string UniqueId(std::size_t index) const;
};
