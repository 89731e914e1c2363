#pragma once

#include <string>
#include <string_view>

// The reading of a POP3 reply's status prefix.
enum class ReplyStatus : int {
    Negative = 0,  // begins with "-ERR " (rest: what follows the five bytes) or is a bare "-ERR" (rest: empty)
    Positive = 1,  // begins with "+OK "; rest is what follows the four bytes
    Unknown = 2,   // anything else; rest is the whole reply
};

// Whether the text is "-ERR" alone, or begins with "-ERR" and CR LF: a
// refusal without a reason, which some servers send.
bool IsBareNegativeLine(std::string_view text);

// Three-way classification; callers treat Negative as failure and both
// other results as success.
ReplyStatus ClassifyReply(std::string_view reply, std::string& rest);

// Strict test used for the APOP reply: true only for "+OK ". When rest is
// given it receives the text after "+OK " or "-ERR " (nothing after a bare
// "-ERR"), or the whole reply.
bool IsPositiveReply(std::string_view reply, std::string* rest = nullptr);

// How a login step's reply is read; one rule, two readings.
//   Session: as the POP3 session reads every reply: only a negative one
//     (ClassifyReply's Negative) fails, so "+OK" alone and unknown replies
//     go on; the reply to APOP alone must be positive ("+OK ").
//   PopBeforeSmtp: the login before sending mail: a reply that begins
//     with "+OK" succeeds at every step, APOP included, with or without
//     text after it (a bare "+OK" as Dovecot sends it); anything else fails.
enum class ReplyReading { Session, PopBeforeSmtp };
bool ReplyAccepted(std::string_view reply, ReplyReading reading, bool apopReply = false);
