#include "core/pop3_login.h"
#include "core/reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Each reply read three ways: the session at USER/PASS, the session at
// APOP, and the login before sending mail at any step.
TEST(ReplyAccepted, OneRuleTwoReadings) {
    struct Case {
        const char* reply;
        bool session, sessionApop, popBeforeSmtp;
    };
    const Case cases[] = {
        {"+OK logged in", true, true, true}, {"+OK", true, false, true},  // Dovecot's bare answer
        {"+OK\r\n", true, false, true},      {"+OKAY", true, false, true}, {"-ERR no", false, false, false},
        {"-ERR", false, false, false},       {"", true, false, false},     {"+ok fine", true, false, false},
        {"* OK imap", true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        EXPECT_EQ(ReplyAccepted(c.reply, ReplyReading::Session), c.session);
        EXPECT_EQ(ReplyAccepted(c.reply, ReplyReading::Session, true), c.sessionApop);
        EXPECT_EQ(ReplyAccepted(c.reply, ReplyReading::PopBeforeSmtp), c.popBeforeSmtp);
        EXPECT_EQ(ReplyAccepted(c.reply, ReplyReading::PopBeforeSmtp, true), c.popBeforeSmtp);
    }
}

// A login played against replies: the commands it sent and how it ended.
struct Played {
    std::vector<std::string> commands;
    LoginOutcome outcome;
    LoginFailure failure;
};

Played Play(ReplyReading reading, const char* greeting, PopLogin login, std::vector<std::string> replies) {
    Pop3Login pop(reading);
    Played played{};
    LoginStep step = pop.Begin(greeting, login, "mrose", "tanstaaf");
    for (std::size_t i = 0; step.outcome == LoginOutcome::Send; ++i) {
        played.commands.push_back(step.command);
        step = pop.OnReply(i < replies.size() ? replies[i] : "");
    }
    if (step.outcome == LoginOutcome::Quit) played.commands.push_back(step.command);
    played.outcome = step.outcome;
    played.failure = step.failure;
    return played;
}

TEST(Pop3Login, StepsAndOutcomesPerReading) {
    const char* stamp = "+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>";
    const std::string apop = "APOP mrose c4c9334bac560ecc979e58001b3e22fb";
    using R = ReplyReading;
    using O = LoginOutcome;
    using F = LoginFailure;
    struct Case {
        const char* name;
        R reading;
        const char* greeting;
        PopLogin login;
        std::vector<std::string> replies;
        std::vector<std::string> commands;
        O outcome;
        F failure;
    };
    const Case cases[] = {
        {"user/pass",
         R::Session,
         "+OK",
         PopLogin::UserPass,
         {"+OK", "+OK"},
         {"USER mrose", "PASS tanstaaf"},
         O::LoggedIn,
         F::None},
        {"session: USER refused quits",
         R::Session,
         "+OK",
         PopLogin::UserPass,
         {"-ERR who"},
         {"USER mrose", "QUIT"},
         O::Quit,
         F::None},
        {"before SMTP: USER refused fails",
         R::PopBeforeSmtp,
         "+OK",
         PopLogin::UserPass,
         {"-ERR who"},
         {"USER mrose"},
         O::Failed,
         F::UserRefused},
        {"PASS refused",
         R::Session,
         "+OK",
         PopLogin::UserPass,
         {"+OK", "-ERR bad"},
         {"USER mrose", "PASS tanstaaf"},
         O::Failed,
         F::PassRefused},
        {"session: unknown reply goes on",
         R::Session,
         "+OK",
         PopLogin::UserPass,
         {"hello", "?"},
         {"USER mrose", "PASS tanstaaf"},
         O::LoggedIn,
         F::None},
        {"before SMTP: unknown reply fails",
         R::PopBeforeSmtp,
         "+OK",
         PopLogin::UserPass,
         {"+OK", "?"},
         {"USER mrose", "PASS tanstaaf"},
         O::Failed,
         F::PassRefused},
        {"automatic takes APOP", R::Session, stamp, PopLogin::Automatic, {"+OK in"}, {apop}, O::LoggedIn, F::None},
        {"automatic without stamp",
         R::Session,
         "+OK hi",
         PopLogin::Automatic,
         {"+OK", "+OK"},
         {"USER mrose", "PASS tanstaaf"},
         O::LoggedIn,
         F::None},
        {"session: bare +OK to APOP fails",
         R::Session,
         stamp,
         PopLogin::Apop,
         {"+OK"},
         {apop},
         O::Failed,
         F::ApopRefused},
        {"before SMTP: bare +OK to APOP succeeds",
         R::PopBeforeSmtp,
         stamp,
         PopLogin::Apop,
         {"+OK"},
         {apop},
         O::LoggedIn,
         F::None},
        {"APOP by hand without stamp", R::PopBeforeSmtp, "+OK hi", PopLogin::Apop, {}, {}, O::Failed, F::NoTimestamp},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Played played = Play(c.reading, c.greeting, c.login, c.replies);
        EXPECT_EQ(played.commands, c.commands);
        EXPECT_EQ(played.outcome, c.outcome);
        EXPECT_EQ(played.failure, c.failure);
    }
}

}  // namespace
