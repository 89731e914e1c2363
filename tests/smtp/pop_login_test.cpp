#include "smtp/pop_login.h"
#include "platform/cp932.h"
#include "support/transcript.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The login before sending mail, played on the in-memory stream: a reply
// that begins with "+OK" goes on at every step, anything else stops it.
TEST(PopLogin, EveryStepGoesOnOnlyWithPlusOk) {
    const std::string stamp = "<1896.697170952@dbc.mtview.ca.us>";
    const std::string apop = "C: APOP mrose c4c9334bac560ecc979e58001b3e22fb";
    const std::string failed = "POP before SMTPのログインに失敗しました\n";
    struct Case {
        const char* name;
        int login;  // POPAuthBasic, POPAuthAPOP or POPAuthAuto
        std::vector<std::string> rows;
        std::string error;  // UTF-8; empty: logged in
    };
    const Case cases[] = {
        {"bare +OK everywhere",
         POPAuthBasic,
         {"S: +OK", "C: USER mrose", "S: +OK", "C: PASS tanstaaf", "S: +OK", "C: QUIT", "S: +OK"},
         ""},
        {"+OKAY is +OK too",
         POPAuthBasic,
         {"S: +OKAY", "C: USER mrose", "S: +OKAY", "C: PASS tanstaaf", "S: +OKAY", "C: QUIT", "S: +OKAY"},
         ""},
        {"APOP answered with a bare +OK", POPAuthAPOP, {"S: +OK " + stamp, apop, "S: +OK", "C: QUIT", "S: +OK"}, ""},
        {"automatic takes APOP", POPAuthAuto, {"S: +OK hi " + stamp, apop, "S: +OK", "C: QUIT", "S: +OK"}, ""},
        {"negative greeting", POPAuthBasic, {"S: -ERR busy"}, failed + "-ERR busy"},
        {"USER refused", POPAuthBasic, {"S: +OK", "C: USER mrose", "S: -ERR who"}, failed + "-ERR who"},
        {"unknown reply to PASS",
         POPAuthBasic,
         {"S: +OK", "C: USER mrose", "S: +OK", "C: PASS tanstaaf", "S: ok"},
         failed + "ok"},
        {"APOP refused", POPAuthAPOP, {"S: +OK " + stamp, apop, "S: -ERR denied"}, failed + "-ERR denied"},
        {"APOP without a stamp",
         POPAuthAPOP,
         {"S: +OK hi"},
         "APOP 認証に失敗しました\nthe server's greeting has no APOP timestamp"},
        {"closed after USER",
         POPAuthBasic,
         {"S: +OK", "C: USER mrose", "S: <close>"},
         failed + "Connection closed by server"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Account account = DefaultAccount();
        account.popServer = "127.0.0.1";
        account.popUser = "mrose";
        account.popOptions.FromNumber(0);
        account.popOptions.Set(c.login);
        TranscriptPlayer player(c.rows);
        std::string error;
        {
            TPopLogin login(account, "tanstaaf");
            login.StreamSource = [&player](const std::string&, std::uint16_t) { return player.Stream(); };
            try {
                login.Run();
            } catch (const std::exception& e) {
                error = Cp932ToUtf8(e.what());
            }
            EXPECT_FALSE(login.Connected());
        }
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(player.Received(), ClientLines(c.rows));
        EXPECT_TRUE(player.ClientClosed());
    }
}

}  // namespace
