#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// One line of a UIDL listing; id points into the reply text.
struct UniqueIdLine {
    std::int32_t number = 0;
    std::string_view id;
};

// Reads a UIDL reply's rest: the status text, then CR LF and one
// "number id" line per message, up to a line "." or the end. Nothing when
// any line does not hold a message number and an id as RFC 1939 allows
// them (1 to 70 characters 0x21-0x7E): a server that garbles one line may
// have garbled the numbering too.
std::optional<std::vector<UniqueIdLine>> ParseUniqueIds(std::string_view rest);
