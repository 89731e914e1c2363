#pragma once

#include "core/rules.h"

#include <optional>
#include <string>
#include <string_view>

// The one rule list for all accounts: rules.txt, UTF-8, in the per-user
// settings folder (${XDG_CONFIG_HOME:-~/.config}/kirabo/Boxsweeper/), mode
// 0600, replaced atomically.
inline constexpr const char kRulesKeyPath[] = "kirabo\\Boxsweeper";
inline constexpr const char kRulesFileName[] = "rules.txt";

// The file's bytes; nothing when it is missing, unreadable or too large.
std::optional<std::string> ReadRulesText();
// The file as parsed; an empty file when there is none.
RuleFile LoadRuleFile();
// False when it could not be written; the old file then stays as it was.
bool SaveRuleFile(const RuleFile& file);
