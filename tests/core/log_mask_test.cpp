#include "core/log_mask.h"

#include <gtest/gtest.h>

namespace {

TEST(LoggedCommand, MasksEverySecretAndLeavesOtherLinesAsSent) {
    const struct {
        const char *sent, *logged;
    } cases[] = {
        {"PASS secret\r\n", "PASS ********"},
        {"PASS \r\n", "PASS ********"},  // even an empty password
        {"pass secret\r\n", "PASS ********"},
        {"APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\n", "APOP mrose ********"},
        {"APOP mrose\r\n", "APOP mrose\r\n"},  // no digest to hide
        {"AUTH XOAUTH2 dXNlcj1hAWF1dGg9QmVhcmVyIHQBAQ==\r\n", "AUTH XOAUTH2 ********"},
        {"AUTH OAUTHBEARER\r\n", "AUTH OAUTHBEARER\r\n"},  // the response follows alone
        {"auth oauthbearer bixhPXUsAWF1dGg9QmVhcmVyIHQBAQ==\r\n", "auth oauthbearer ********"},
        {"AUTH  XOAUTH2  dA==\r\n", "AUTH  XOAUTH2 ********"},
        {"USER taro\r\n", "USER taro\r\n"},
        {"PASSWORD x\r\n", "PASSWORD x\r\n"},
        {"TOP 1 0\r\nTOP 2 0\r\n", "TOP 1 0\r\nTOP 2 0\r\n"},
        {"PASS", "PASS"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(LoggedCommand(c.sent), c.logged) << c.sent;
}

}  // namespace
