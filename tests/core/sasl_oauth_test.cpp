#include "core/sasl_oauth.h"

#include <gtest/gtest.h>

namespace {

TEST(SaslOAuth, InitialResponsesMatchThePublishedExamples) {
    // RFC 7628 section 4.1.
    EXPECT_EQ(OAuthBearerResponse("user@example.com", "server.example.com", 143,
                                  "vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg=="),
              "bixhPXVzZXJAZXhhbXBsZS5jb20sAWhvc3Q9c2VydmVyLmV4YW1wbGUuY29tAXBvcnQ9MTQzAWF1dGg9QmVhcmVyIHZGOWRmdDRxbVRj"
              "Mk52YjNSbGNrQmhiSFJoZG1semRHRXVZMjl0Q2c9PQEB");
    // Google's XOAUTH2 example.
    EXPECT_EQ(XOAuth2Response("someuser@example.com", "ya29.vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg"),
              "dXNlcj1zb21ldXNlckBleGFtcGxlLmNvbQFhdXRoPUJlYXJlciB5YTI5LnZGOWRmdDRxbVRjMk52YjNSbGNrQmhiSFJoZG1semRHRXVZ"
              "Mjl0Q2cBAQ==");
    // "n,a=a=3Db=2Cc,^Aauth=Bearer t^A^A": the user escaped, no host or port.
    EXPECT_EQ(OAuthBearerResponse("a=b,c", "", 0, "t"), EncodeBase64("n,a=a=3Db=2Cc,\x01"
                                                                     "auth=Bearer t\x01\x01"));
}

TEST(SaslOAuth, Base64PadsEveryTailLength) {
    const struct {
        const char *bytes, *base64;
    } cases[] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"\xff\xfe", "//4="}};
    for (const auto& c : cases) EXPECT_EQ(EncodeBase64(c.bytes), c.base64) << c.bytes;
}

TEST(SaslOAuth, InitialResponseFitsCountsTheWholeLine) {
    // "AUTH XOAUTH2 " is 13 octets and CR LF 2: 240 octets of response make 255.
    EXPECT_TRUE(InitialResponseFits("XOAUTH2", std::string(240, 'A'), 255));
    EXPECT_FALSE(InitialResponseFits("XOAUTH2", std::string(241, 'A'), 255));
    EXPECT_TRUE(InitialResponseFits("XOAUTH2", std::string(241, 'A'), 512));
}

TEST(SaslOAuth, ErrorChallengesReadAsPlainText) {
    const std::string longJson = "{\"scope\":\"" + std::string(400, 's') + "\"}";
    const struct {
        std::string json;  // what the server put in Base64
        std::string shown;
    } cases[] = {
        {R"({"status":"401","schemes":"bearer","scope":"https://mail.google.com/"})",
         "status: 401, schemes: bearer, scope: https://mail.google.com/"},
        {"not json\r\n\x01"
         "at all",
         "not json   at all"},  // control bytes never reach the box
        {longJson, "scope: " + std::string(293, 's') + "..."},
    };
    for (const auto& c : cases) EXPECT_EQ(OAuthErrorText(EncodeBase64(c.json)), c.shown) << c.json;
}

}  // namespace
