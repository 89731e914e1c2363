#pragma once

#include "core/mailbox.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The message numbers a sweep deletes, in listing order: the entries marked
// junk, never one that is also a friend.
std::vector<std::int32_t> SweepNumbers(const Mailbox& box);

// The text of the list's 状態 column for these marks: "新着" when new,
// "迷惑:" and the rule's name when junk, "友人" when a friend, in this
// order joined by "・"; empty without marks. UTF-8.
std::string MarkText(std::uint8_t flags, std::string_view junkRuleName);
