#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "mime/display_text.h"
#include "mime/html_text.h"
#include "platform/cp932.h"

namespace {

using Lines = std::vector<std::string>;

struct HeaderCase {
    const char* what;
    std::string header;  // the reply text up to the blank line
    std::string subject;
    std::string sender;
};

TEST(MailRowTexts, DecodesHeadersOfTodaysMail) {
    const HeaderCase cases[] = {
        {"names in any case, first occurrence wins, no space after the colon",
         "12 octets\r\nSUBJECT:first\r\nsubject: second\r\nfrom:  a@example.jp\r\n", "first", "a@example.jp"},
        {"folded lines keep their white space", "Subject: one\r\n two\r\n\tthree\r\n", "one two\tthree", ""},
        {"B and Q in any case; white space between words dropped",
         "Subject: =?utf-8?b?44GC?= =?UTF-8?q?=E3=81=84_x?=\r\n  =?Utf-8?Q?y?=\r\n", "あい xy", ""},
        {"a character split across two words survives", "Subject: =?UTF-8?B?4w==?= =?UTF-8?B?gYI=?=\r\n", "あ", ""},
        {"split across adjacent words", "Subject: =?UTF-8?B?4w==?==?UTF-8?B?gYI=?=\r\n", "あ", ""},
        {"split across three, adjacent then spaced", "Subject: =?UTF-8?B?4w==?==?UTF-8?B?gQ==?= =?UTF-8?B?gg==?=\r\n",
         "あ", ""},
        {"split across three, spaced then adjacent", "Subject: =?UTF-8?B?4w==?= =?UTF-8?B?gQ==?==?UTF-8?B?gg==?=\r\n",
         "あ", ""},
        {"language suffix", "Subject: =?UTF-8*ja?B?44GC?=\r\n", "あ", ""},
        {"plain text around words keeps its spaces", "Subject: Re: =?UTF-8?B?44GC?= and =?UTF-8?B?44GC?= !\r\n",
         "Re: あ and あ !", ""},
        {"emoji and characters beyond CP932", "Subject: =?UTF-8?B?8J+YgA==?==?UTF-8?B?8KCutw==?=\r\n", "😀𠮷", ""},
        {"ISO-2022-JP with the CP932 rows", "Subject: =?iso-2022-jp?B?GyRCLSEtanxiIUEbKEI=?=\r\n", "①㈱髙～", ""},
        {"Shift_JIS labels read as CP932", "Subject: =?x-sjis?B?h0CBYA==?= =?Shift_JIS?B?h0CBYA==?=\r\n", "①～①～", ""},
        {"EUC-JP as its Microsoft variant", "Subject: =?EUC-JP?B?raGhwQ==?=\r\n", "①～", ""},
        {"a label iconv lacks", "Subject: =?ks_c_5601-1987?B?x9GxuQ==?=\r\n", "한국", ""},
        {"unknown charset stays as sent, with its spaces", "Subject: =?x-nothing?B?44GC?= =?UTF-8?B?44GC?=\r\n",
         "=?x-nothing?B?44GC?= あ", ""},
        {"raw UTF-8 and raw CP932", "Subject: \xE3\x81\x82\r\nFrom: \x82\xA0 <a@example.jp>\r\n", "あ",
         "あ <a@example.jp>"},
        {"the whole From value, not rewritten",
         "From: \"=?UTF-8?B?5bGx55Sw?=\" <yamada@example.jp> (=?UTF-8?B?5Za25qWt?=)\r\n", "",
         "\"山田\" <yamada@example.jp> (営業)"},
        {"malformed words: bad Base64 decodes as far as it goes, no closing ?= stays",
         "Subject: =?UTF-8?B?44G*C?= =?UTF-8?B?44GC\r\n", "あ =?UTF-8?B?44GC", ""},
        {"dot-stuffed header line", "Subject: x\r\n..From: y\r\n", "x", ""},
    };
    for (const auto& c : cases) {
        const RowTexts row = MailRowTexts(c.header + "\r\nbody\r\n", true);
        EXPECT_EQ(row.subject, c.subject) << c.what;
        EXPECT_EQ(row.sender, c.sender) << c.what;
    }
}

TEST(MailRowTexts, WithoutMimeDecodingShowTheListsTextsInUtf8) {
    const std::string text =
        "1 octets\r\nDate: d\r\nsubject: lower\r\nSubject: =?ISO-2022-JP?B?GyRCJCIbKEI=?= "
        "=?UTF-8?B?44GC?=\r\nFrom: \x82\xA0\r\n\r\n\x1b$B\x24\x22\x1b(B\r\n..x\r\n";
    const RowTexts row = MailRowTexts(text, false);
    EXPECT_EQ(row.date, "d");
    EXPECT_EQ(row.subject, "あ =?UTF-8?B?44GC?=");
    EXPECT_EQ(row.sender, "あ");
    EXPECT_EQ(MessagePaneLines(text, false, false), (Lines{"あ", "..x", ""}));
    EXPECT_EQ(MessagePaneLines(text, false, true)[3], "Subject: =?ISO-2022-JP?B?GyRCJCIbKEI=?= =?UTF-8?B?44GC?=");

    MailEntry row1{"1", {"10"}};
    FillDisplayRow(row1, text, false);
    EXPECT_EQ(row1.subItems, (Lines{"10", "d", "あ =?UTF-8?B?44GC?=", "あ"}));
}

const std::string kHead = "1 octets\r\nMIME-Version: 1.0\r\n";

std::string Multipart(const std::string& type, const std::string& boundary, const std::vector<std::string>& parts,
                      bool close = true) {
    std::string s = "Content-Type: multipart/" + type + "; boundary=\"" + boundary + "\"\r\n\r\npreamble\r\n";
    for (const auto& p : parts) s += "--" + boundary + "\r\n" + p + "\r\n";
    if (close) s += "--" + boundary + "--\r\nepilogue\r\n";
    return s;
}

const std::string kPlain = "Content-Type: text/plain; charset=utf-8\r\n\r\nplain text\r\n";
const std::string kHtml = "Content-Type: text/html; charset=utf-8\r\n\r\n<p>html&nbsp;text</p>\r\n";
const std::string kPdf =
    "Content-Type: application/pdf; name=\"a.pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\nQUJD\r\nREVG\r\n";

std::string Nested(int depth) {
    std::string inner = kPlain;
    for (int d = 0; d < depth; ++d) inner = Multipart("mixed", "b" + std::to_string(d), {inner});
    return inner;
}

struct PaneCase {
    const char* what;
    std::string message;  // after kHead
    Lines lines;
};

TEST(MessagePaneLines, ChoosesDecodesAndListsAttachments) {
    const PaneCase cases[] = {
        {"single text/plain, quoted-printable soft break inside a character",
         "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
         "=E3=81=\r\n=82 a=3Db=\r\n c\r\n",
         {"あ a=b c", ""}},
        {"single text/html turned into text",
         "Content-Type: text/html\r\n\r\n<html><head><title>T</title><script>x<y</script></head>"
         "<body><h1>A</h1><p>b &amp; &#x263A; &#12354; &bogus;</p><p></p><p></p><div>c<br>d</div>"
         "<!-- hidden --><ul><li>e</li></ul><table><tr><td>f</td><td>g</td></tr></table></body></html>",
         {"A", "b & ☺ あ &bogus;", "c", "d", "e", "f g"}},
        {"any other single part: only its attachment line", kPdf, {"[添付] a.pdf (application/pdf, 6 bytes)"}},
        {"alternative: the plain text, the other alternative not listed",
         Multipart("alternative", "b1", {kHtml, kPlain}),
         {"plain text", ""}},
        {"html when there is no plain text; attachments after the text",
         Multipart("mixed", "b1", {kHtml, kPdf}),
         {"html text", "[添付] a.pdf (application/pdf, 6 bytes)"}},
        {"text marked as attachment is listed, not shown",
         Multipart("mixed", "b1",
                   {"Content-Type: text/plain\r\nContent-Disposition: attachment; filename*0*=UTF-8''%E3%81%82;"
                    " filename*1=.txt\r\n\r\nx",
                    kHtml}),
         {"html text", "[添付] あ.txt (text/plain, 1 bytes)"}},
        {"names: RFC 2047 in a parameter, none at all, a nested message",
         Multipart(
             "mixed", "b1",
             {kPlain, "Content-Type: image/png; name=\"=?UTF-8?B?44GC?=.png\"\r\n\r\n12",
              "Content-Type: application/octet-stream\r\n\r\n", "Content-Type: message/rfc822\r\n\r\nSubject: x\r\n"}),
         {"plain text", "", "[添付] あ.png (image/png, 2 bytes)",
          "[添付] （名前なし） (application/octet-stream, 0 bytes)", "[添付] （名前なし） (message/rfc822, 12 bytes)"}},
        {"a part without its closing boundary runs to the end",
         Multipart("mixed", "b1", {kPdf, kPlain}, false),
         {"plain text", "", "", "[添付] a.pdf (application/pdf, 6 bytes)"}},
        {"an empty multipart shows an empty body", Multipart("mixed", "b1", {}), {""}},
        {"a boundary that is only a prefix of a line is no boundary",
         Multipart("mixed", "b", {"Content-Type: text/plain\r\n\r\n--bx\r\n--b --\r\nz"}),
         {"--bx", "--b --", "z"}},
        {"31 levels are entered", Nested(31), {"plain text", ""}},
        {"a multipart at depth 32 is one attachment line",
         Nested(32),
         {"[添付] （名前なし） (multipart/mixed, 91 bytes)"}},
        {"no MIME headers: ISO-2022-JP converted, doubled dots undone",
         "Subject: x\r\n\r\n\x1b$B\x24\x22\x1b(B\r\n..dot\r\n",
         {"あ", ".dot", ""}},
        {"no charset: UTF-8 when valid, else CP932",
         Multipart("mixed", "b1", {"Content-Type: text/plain\r\n\r\n\xE3\x81\x82 \x82\xA0", kPlain}),
         {"縺\xEF\xBF\xBD あ", "[添付] （名前なし） (text/plain, 12 bytes)"}},
        {"format=flowed shown as sent",
         "Content-Type: text/plain; charset=utf-8; format=flowed\r\n\r\nsoft \r\nbreak\r\n",
         {"soft ", "break", ""}},
        {"an unknown charset is read as raw bytes",
         "Content-Type: text/plain; charset=x-none\r\n\r\n\xE3\x81\x82",
         {"あ"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MessagePaneLines(kHead + c.message, true, false), c.lines) << c.what;
    }
}

TEST(MessagePaneLines, HeaderLinesComeDecodedBeforeTheBody) {
    const std::string text = "1 octets\r\nSubject: =?UTF-8?B?44GC?=\r\n =?UTF-8?B?44GE?=\r\n..X: y\r\n\r\nbody";
    EXPECT_EQ(MessagePaneLines(text, true, true), (Lines{"1 octets", "Subject: あ", " い", ".X: y", " ", "body"}));
}

TEST(CompareDisplayRows, SortsUtf8TextsByTheListsRules) {
    const MailEntry bare{"3", {"30"}};
    const MailEntry a{"1", {"10", "Fri", "あ", "x"}};
    const MailEntry b{"2", {"9", "Mon", "い", "y"}};
    struct Case {
        int tag;
        const MailEntry* first;
        const MailEntry* second;
    } cases[] = {{0, &a, &b}, {1, &b, &a}, {2, &a, &b}, {3, &a, &b}, {4, &a, &b}, {2, &bare, &a}};
    for (const auto& c : cases) {
        EXPECT_LT(CompareDisplayRows(*c.first, *c.second, c.tag), 0) << c.tag;
        EXPECT_GT(CompareDisplayRows(*c.second, *c.first, c.tag), 0) << c.tag;
    }
    EXPECT_EQ(CompareDisplayRows(bare, bare, 3), 0);
}

TEST(MessagePaneLines, HostileInputStaysLinear) {
    // Each would be quadratic with a naive search: unclosed heads, words
    // without an end, boundaries that never match, deep nesting.
    const std::string heads = "Content-Type: text/html\r\n\r\n" + std::string(20000, ' ') + [] {
        std::string s;
        for (int i = 0; i < 20000; ++i) s += "<head>x";
        return s;
    }();
    std::string words = "Subject: ";
    for (int i = 0; i < 20000; ++i) words += "=?UTF-8?Q?a?= =?";
    std::string deep;
    for (int i = 0; i < 5000; ++i)
        deep += "--b" + std::to_string(i) + "\r\nContent-Type: multipart/mixed; boundary=b" + std::to_string(i + 1) +
                "\r\n\r\n";
    deep = "Content-Type: multipart/mixed; boundary=b0\r\n\r\n" + deep;
    std::string params = "Content-Type: text/plain";
    for (int i = 0; i < 50000; ++i) params += "; a";
    params += "; charset=utf-8\r\n\r\nx";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(MessagePaneLines(kHead + heads, true, false).size(), 1u);
    EXPECT_EQ(MailRowTexts(words + "\r\n\r\n", true).subject.substr(0, 6), "a =?a ");
    EXPECT_EQ(MessagePaneLines(kHead + deep, true, false).size(), 1u);
    EXPECT_EQ(MessagePaneLines(kHead + params, true, false), Lines{"x"});
    // Generous: a quadratic pass over these takes minutes.
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 20.0);
}

}  // namespace
