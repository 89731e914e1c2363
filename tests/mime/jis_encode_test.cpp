#include "mime/jis_encode.h"
#include "mime/encoded_word.h"
#include "mime/jis.h"
#include "platform/cp932.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Sjis(const char* utf8) {
    return Utf8ToCp932(utf8);
}

TEST(JisEncode, CharactersGoOutAsIso2022Jp) {
    struct Case {
        const char* name;
        std::string cp932;
        std::string jis;
    } const cases[] = {
        {"ascii byte for byte", "a\\b~", "a\\b~"},
        {"kanji ends in ascii", Sjis("日本"), "\x1B$BF|K\\\x1B(B"},
        {"half-width katakana, voiced marks joined", "\xC3\xDE\xCA\xDF\xB3\xDE\xB1\xDE",
         "\x1B$B"
         "%G%Q%t%\"!+"
         "\x1B(B"},
        {"① is one geta", Sjis("①x"),
         "\x1B$B\"."
         "\x1B(Bx"},
        {"NEC duplicate becomes the JIS character", "\x87\x90", "\x1B$B\"b\x1B(B"},
        {"wave dash keeps its JIS position", Sjis("～"), "\x1B$B!A\x1B(B"},
        {"escape and broken bytes are geta", std::string("\x1B") + "\x80" + "\x81", "\x1B$B\".\".\".\x1B(B"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Cp932ToJis(c.cp932), c.jis);
    }
}

TEST(JisEncode, RoundTripThroughTheDecoder) {
    const std::string text = Sjis("メール送信のテスト：漢字かなカナ ABC 123 ～－∥ 〒");
    EXPECT_EQ(JisToShiftJis(Cp932ToJis(text)), text);
}

TEST(JisEncode, UnicodeCharactersCp932LacksBecomeOneGetaEach) {
    EXPECT_EQ(Utf8ToCp932ForMail("a\xF0\x9F\x98\x80"
                                 "b\xE3\x80\x9C"),
              "a\x81\xAC"
              "b\x81\x60");
    EXPECT_EQ(Utf8ToCp932ForMail("\xE3\x81\x82\xFF?"), Sjis("あ") + "\x81\xAC?");
}

TEST(JisEncode, HeaderWordsFitTheirLinesAndKeepSpaces) {
    const std::string subject =
        Sjis("長い件名  二つの空白 と　全角空白を含む、とても長い日本語の題名です。まだ続きますよ ok");
    const std::string value = EncodeHeaderText(subject, 9);
    const std::string line = "Subject: " + value;
    std::string joined;  // the words without folding, decoded
    std::size_t start = 0;
    int lines = 0;
    for (;;) {
        const std::size_t end = line.find("\r\n", start);
        const std::string one = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
        EXPECT_LE(one.size(), 76u) << one;
        std::string word = one.substr(one.find("=?"));
        EXPECT_LE(word.size(), 75u);
        EXPECT_EQ(word.substr(word.size() - 2), "?=");
        DecodeEncodedWords(word);
        joined += word;
        ++lines;
        if (end == std::string::npos) break;
        start = end + 2;
        EXPECT_EQ(line[start], ' ');
    }
    EXPECT_GT(lines, 2);
    EXPECT_EQ(joined, subject);
    EXPECT_EQ(EncodeHeaderText("plain ascii", 9), "plain ascii");
}

TEST(JisEncode, DisplayNameBeforeTheAddressIsEncoded) {
    const std::string value = EncodeAddressList(Sjis("\"山田 太郎\" <taro@example.jp>,b@example.jp"), 4);
    EXPECT_EQ(value.substr(0, 16), "=?ISO-2022-JP?B?");
    EXPECT_NE(value.find("?= <taro@example.jp>,b@example.jp"), std::string::npos);
    std::string decoded = value;
    DecodeEncodedWords(decoded);
    EXPECT_EQ(decoded, Sjis("山田 太郎 <taro@example.jp>,b@example.jp"));
}

}  // namespace
