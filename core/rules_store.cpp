#include "core/rules_store.h"

#include "platform/user_store.h"

std::optional<std::string> ReadRulesText() {
    UserStore store;
    if (!store.Open(kRulesKeyPath)) return std::nullopt;
    return store.Read(kRulesFileName);
}

RuleFile LoadRuleFile() {
    const std::optional<std::string> text = ReadRulesText();
    return RuleFile::Parse(text ? *text : std::string());
}

bool SaveRuleFile(const RuleFile& file) {
    UserStore store;
    return store.Open(kRulesKeyPath) && store.Write(kRulesFileName, file.Text());
}
