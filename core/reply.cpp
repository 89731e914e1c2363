#include "core/reply.h"

namespace {

constexpr std::string_view kPositive = "+OK ";
constexpr std::string_view kNegative = "-ERR ";

// Byte-wise and case-sensitive; a reply shorter than the prefix never matches.
bool HasPrefix(std::string_view reply, std::string_view prefix) {
    return reply.size() >= prefix.size() && reply.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

bool IsBareNegativeLine(std::string_view text) {
    constexpr std::string_view kBare = "-ERR";
    return text == kBare || (HasPrefix(text, kBare) && text.substr(kBare.size()).starts_with("\r\n"));
}

ReplyStatus ClassifyReply(std::string_view reply, std::string& rest) {
    if (HasPrefix(reply, kPositive)) {
        rest.assign(reply.substr(kPositive.size()));
        return ReplyStatus::Positive;
    }
    if (HasPrefix(reply, kNegative)) {
        rest.assign(reply.substr(kNegative.size()));
        return ReplyStatus::Negative;
    }
    if (IsBareNegativeLine(reply)) {
        rest.clear();
        return ReplyStatus::Negative;
    }
    rest.assign(reply);
    return ReplyStatus::Unknown;
}

bool IsPositiveReply(std::string_view reply, std::string* rest) {
    std::string ignored;
    return ClassifyReply(reply, rest ? *rest : ignored) == ReplyStatus::Positive;
}

bool ReplyAccepted(std::string_view reply, ReplyReading reading, bool apopReply) {
    if (reading == ReplyReading::PopBeforeSmtp) return reply.starts_with("+OK");
    if (apopReply) return IsPositiveReply(reply);
    std::string rest;
    return ClassifyReply(reply, rest) != ReplyStatus::Negative;
}
