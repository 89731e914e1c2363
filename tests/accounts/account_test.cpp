#include "accounts/account.h"
#include "account_print.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

// "新しいアカウント" in Shift_JIS.
const std::string kNewAccountName = "\x90\x56\x82\xb5\x82\xa2\x83\x41\x83\x4a\x83\x45\x83\x93\x83\x67";

Account Sample() {
    Account a = DefaultAccount();
    a.name = "work";
    a.popServer = "mailhost";
    a.popUser = "user1";
    a.smtpServer = "mailhost";
    return a;
}

// Parses from a heap copy of exactly the given size, so a read past the
// end shows up under AddressSanitizer.
template <typename Parser>
Account ParseExact(std::string_view bytes, Parser parse) {
    auto copy = std::make_unique<char[]>(bytes.size() + (bytes.empty() ? 1 : 0));
    std::copy(bytes.begin(), bytes.end(), copy.get());
    Account account = DefaultAccount();
    parse(std::string_view(copy.get(), bytes.size()), account);
    return account;
}

Account ParseText(std::string_view text) {
    return ParseExact(text, ParseAccount);
}

TEST(AccountOptions, BitsAndNumberForm) {
    AccountOptions o;
    o.Set(0);
    o.Set(20);
    o.Set(31);
    EXPECT_EQ(o.ToNumber(), 0x80100001u);
    EXPECT_TRUE(o.Test(20));
    o.Clear(20);
    EXPECT_FALSE(o.Test(20));
    o.FromNumber(6);
    EXPECT_EQ(o.ToNumber(), 6u);
    EXPECT_TRUE(o.Test(1) && o.Test(2) && !o.Test(0));
    // Bits that do not exist are never set and changing them does nothing.
    for (int bit : {-1, 32, 1000}) {
        o.Set(bit);
        o.Clear(bit);
        EXPECT_FALSE(o.Test(bit));
    }
    EXPECT_EQ(o.ToNumber(), 6u);
}

TEST(Account, DefaultsOfANewAccount) {
    const Account a = NewAccount(0);
    EXPECT_EQ(a.name, kNewAccountName + "0");
    EXPECT_EQ(NewAccount(12).name, kNewAccountName + "12");
    EXPECT_EQ(a.popServer, "");
    // Encrypted by default: POP3 over TLS, SMTP認証 over STARTTLS.
    EXPECT_EQ(a.popPort, 995);
    EXPECT_EQ(a.popPassword, "");
    EXPECT_EQ(a.popOptions.ToNumber(), 100u | (1u << POPDecodeMime) | (1u << POPUseTLS) | (1u << POPPipelining) |
                                           (1u << POPLocalDates) | (1u << POPMarkNew) | (1u << POPApplyRules));
    EXPECT_EQ(a.smtpPort, 587);
    EXPECT_EQ(a.smtpOptions.ToNumber(), 1u | (1u << SMTPAuthAUTH) | (1u << SMTPUserAsPOP) | (1u << SMTPUseSTARTTLS));
    // What the readers start from has only the original bits and ports: a
    // stored account never gains the new ones.
    const Account d = DefaultAccount();
    EXPECT_EQ(d.name, "");
    EXPECT_EQ(d.popPort, 110);
    EXPECT_EQ(d.smtpPort, 25);
    EXPECT_EQ(d.popOptions.ToNumber(), 100u);
    EXPECT_EQ(d.smtpOptions.ToNumber(), 19u);  // bits 0, 1, 4
}

TEST(FormatAccount, WritesTheDocumentedTextWithItsNul) {
    const std::string text = FormatAccount(Sample());
    EXPECT_EQ(text, std::string("work,POP,mailhost,110,user1,,100,SMTP,mailhost,25,,19,EOD\0", 58));
    // The three parts' lengths plus the joining commas, ",EOD" and the NUL.
    EXPECT_EQ(text.size(), std::string("work").size() + std::string("POP,mailhost,110,user1,,100").size() +
                               std::string("SMTP,mailhost,25,,19").size() + 7);
}

TEST(FormatAccount, PasswordIsWrittenOnlyWhenSaved) {
    Account a = Sample();
    a.popPassword = "secret";
    EXPECT_EQ(ParseText(FormatAccount(a)).popPassword, "");
    a.popOptions.Set(POPSavePassword);
    EXPECT_NE(FormatAccount(a).find(",user1,secret,102,SMTP,"), std::string::npos);
    EXPECT_EQ(ParseText(FormatAccount(a)).popPassword, "secret");
    a.popPassword.clear();
    EXPECT_EQ(ParseText(FormatAccount(a)).popPassword, "");
}

TEST(ParseAccount, RoundTrips) {
    std::vector<Account> accounts;
    accounts.push_back(Sample());
    {
        Account a = NewAccount(3);
        a.popServer = "192.0.2.1";
        a.popPort = -1;
        a.popUser = "\x83\x65\x83\x58\x83\x67";  // "テスト"
        a.popPassword = "p@ss word";
        a.popOptions.FromNumber((1u << 20) | (1u << POPSavePassword) | 0x80000000u);
        a.smtpPort = 2147483647;
        a.smtpUser = "me";
        a.smtpOptions.FromNumber(0xFFFFFFFFu);
        accounts.push_back(a);
    }
    {
        Account a;  // every field empty or zero
        a.popPort = 0;
        a.smtpPort = -2147483647 - 1;
        accounts.push_back(a);
    }
    {
        Account a = Sample();
        a.popOptions.Set(POPSavePassword);
        a.popServer.assign(100000, 's');  // fields of any length
        a.popPassword.assign(70000, 'p');
        a.smtpUser.assign(5000, '\x82');
        accounts.push_back(a);
    }
    for (const Account& a : accounts) {
        EXPECT_EQ(ParseText(FormatAccount(a)), a) << a.name;
    }
}

TEST(ParseAccount, UnknownBitsSurvive) {
    Account a = Sample();
    a.popOptions.Set(20);
    a.smtpOptions.Set(20);
    const Account b = ParseText(FormatAccount(a));
    EXPECT_TRUE(b.popOptions.Test(20));
    EXPECT_TRUE(b.smtpOptions.Test(20));
    EXPECT_EQ(b, a);
}

TEST(ParseAccount, TextsWrittenByHand) {
    const Account d = DefaultAccount();
    const struct {
        const char* why;
        std::string text;
        void (*check)(const Account&, const Account&);
    } cases[] = {
        {"octal port", "x,POP,h,0110,u,,100,SMTP,h,025,,19,EOD",
         [](const Account& a, const Account&) {
             EXPECT_EQ(a.popPort, 72);
             EXPECT_EQ(a.smtpPort, 21);
         }},
        {"comma in name", "my,work,POP,h,110,u,,100,SMTP,s,25,su,19,EOD",
         [](const Account& a, const Account&) {
             EXPECT_EQ(a.name, "my");
             EXPECT_EQ(a.popServer, "h");
             EXPECT_EQ(a.popUser, "u");
             EXPECT_EQ(a.smtpServer, "s");
             EXPECT_EQ(a.smtpUser, "su");
         }},
        {"stops after the name", "work",
         [](const Account& a, const Account& d) {
             Account expected = d;
             expected.name = "work";
             EXPECT_EQ(a, expected);
         }},
        {"ends at the first NUL", std::string("work\0,POP,h,1,u,p,0,SMTP,h,2,u,0,EOD", 36),
         [](const Account& a, const Account& d) {
             Account expected = d;
             expected.name = "work";
             EXPECT_EQ(a, expected);
         }},
        {"no SMTP keyword", "n,POP,h,1,u,p,7,smtp,s,2,su,3,EOD",
         [](const Account& a, const Account& d) {
             EXPECT_EQ(a.popOptions.ToNumber(), 7u);
             EXPECT_EQ(a.smtpServer, d.smtpServer);
             EXPECT_EQ(a.smtpOptions, d.smtpOptions);
         }},
        {"not numbers", "n,POP,h,port,u,p,opts,SMTP,s,,su,x,EOD",
         [](const Account& a, const Account&) {
             EXPECT_EQ(a.popPort, 0);
             EXPECT_EQ(a.popOptions.ToNumber(), 0u);
             EXPECT_EQ(a.smtpPort, 0);
             EXPECT_EQ(a.smtpOptions.ToNumber(), 0u);
         }},
        {"keyword is case sensitive", "n,pop,h,1,u,p,7,SMTP,s,2,su,3,EOD",
         [](const Account& a, const Account& d) {
             EXPECT_EQ(a.name, "n");
             EXPECT_EQ(a.popServer, d.popServer);
             EXPECT_EQ(a.smtpServer, d.smtpServer);
         }},
        {"empty text", "", [](const Account& a, const Account& d) { EXPECT_EQ(a, d); }},
        {"saturating options", "n,POP,h,99999999999,u,p,99999999999,SMTP,s,-25,su,-1,EOD",
         [](const Account& a, const Account&) {
             EXPECT_EQ(a.popPort, -1);
             EXPECT_EQ(a.popOptions.ToNumber(), 4294967295u);
             EXPECT_EQ(a.smtpPort, -25);
             EXPECT_EQ(a.smtpOptions.ToNumber(), 4294967295u);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        c.check(ParseText(c.text), d);
    }
}

// Every field a prefix reaches is a prefix of the full value (the last one
// reached may be cut), and every field it does not reach keeps its default.
TEST(ParseAccount, TruncatedAtEveryLength) {
    Account full = Sample();
    full.popOptions.Set(POPSavePassword);
    full.popPassword = "pw";
    full.smtpUser = "su";
    full.smtpOptions.FromNumber(3);
    const std::string text = FormatAccount(full);
    const Account d = DefaultAccount();
    auto prefixOrDefault = [](const std::string& got, const std::string& whole, const std::string& def) {
        return got == def || whole.compare(0, got.size(), got) == 0;
    };
    for (std::size_t length = 0; length <= text.size(); ++length) {
        SCOPED_TRACE(length);
        const Account a = ParseText(std::string_view(text).substr(0, length));
        EXPECT_TRUE(prefixOrDefault(a.name, full.name, ""));
        EXPECT_TRUE(prefixOrDefault(a.popServer, full.popServer, d.popServer));
        EXPECT_TRUE(prefixOrDefault(a.popUser, full.popUser, d.popUser));
        EXPECT_TRUE(prefixOrDefault(a.smtpServer, full.smtpServer, d.smtpServer));
        EXPECT_TRUE(prefixOrDefault(a.smtpUser, full.smtpUser, d.smtpUser));
    }
    EXPECT_EQ(ParseText(text.substr(0, text.size() - 1)), full);  // without the NUL
}

TEST(ParseAccount, GarbageOfEveryLength) {
    std::mt19937 random(1234);
    const std::string alphabet[] = {",",    "POP",  "SMTP", "0x", "0", "9", "-", std::string(1, '\0'),
                                    "\x82", "\xff", "EOD",  " "};
    for (std::size_t length = 0; length < 400; ++length) {
        std::string text;
        while (text.size() < length) {
            text += alphabet[random() % std::size(alphabet)];
        }
        text.resize(length);
        std::string bytes(length, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        for (const std::string& input : {text, bytes}) {
            SCOPED_TRACE(testing::PrintToString(input));
            const std::string_view upToNul = std::string_view(input).substr(0, input.find('\0'));
            const Account read = ParseText(input);
            // Reading stops at the first NUL; the name is the first token.
            EXPECT_EQ(read, ParseText(upToNul));
            EXPECT_EQ(read.name, upToNul.substr(0, upToNul.find(',')));
            // Whatever was read is written so that it reads back the same.
            Account expected = read;
            if (!read.popOptions.Test(POPSavePassword)) expected.popPassword.clear();
            EXPECT_EQ(ParseText(FormatAccount(read)), expected);
            EXPECT_EQ(ParseExact(input, ParseLegacyAccount).name, input.substr(0, input.find('\0')));
        }
    }
}

TEST(ParseAccount, ExtensionFieldsAfterTheEndMarker) {
    const std::string core = "work,POP,mailhost,110,user1,,100,SMTP,mailhost,25,,19,EOD";
    const std::string id = "0123456789abcdef0123456789ABCDEF";
    const std::vector<std::string> unknown = {"interval=15", "pin=a%2Cb%3D%25%00", "x=", "odd", ""};
    std::string text = core + ",id=" + id;
    for (const std::string& field : unknown) text += "," + field;
    text.push_back('\0');

    // An older reader stops at the SMTP options, which come first as before.
    EXPECT_EQ(FormatAccount(Sample()), core + std::string(1, '\0'));
    const Account a = ParseText(text);
    Account expected = Sample();
    expected.otherFields = unknown;
    EXPECT_EQ(a, expected);
    EXPECT_EQ(a.id, id);
    EXPECT_EQ(FormatAccount(a), text);  // unknown names come back byte for byte
    EXPECT_EQ(DecodeFieldValue("a%2Cb%3D%25%00"), std::string("a,b=%\0", 6));

    const struct {
        const char* after;  // what follows the SMTP options
        const char* id;
        std::vector<std::string> others;
    } cases[] = {
        {",EOD", "", {}},
        {",EOD,id=0123456789abcdef0123456789abcde", "", {"id=0123456789abcdef0123456789abcde"}},  // 31 digits
        {",EOD,id=0123456789abcdef0123456789abcdeg", "", {"id=0123456789abcdef0123456789abcdeg"}},
        {",EOD,a=1,id=00000000000000000000000000000001,id=00000000000000000000000000000002",
         "00000000000000000000000000000001",
         {"a=1", "id=00000000000000000000000000000002"}},
        {",junk,EOD,id=00000000000000000000000000000001", "", {}},  // not right after the options: not examined
        {",EOD,id=00000000000000000000000000000001\0,b=2", "00000000000000000000000000000001", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.after);
        const Account read = ParseText(core.substr(0, core.size() - 4) + c.after);
        EXPECT_EQ(read.id, c.id);
        EXPECT_EQ(read.otherFields, c.others);
        EXPECT_EQ(read.smtpOptions.ToNumber(), 19u);
    }
}

TEST(AccountFields, ValuesEncodeWithoutCommaOrNulAndDecodeBack) {
    std::string every;
    for (int c = 0; c < 256; ++c) every.push_back(static_cast<char>(c));
    const std::string encoded = EncodeFieldValue(every);
    EXPECT_EQ(encoded.find_first_of(std::string(",=\0\x7f\x80\xff", 6)), std::string::npos);
    EXPECT_EQ(DecodeFieldValue(encoded), every);
    EXPECT_EQ(EncodeFieldValue("a b,c=d%\x82"), "a b%2Cc%3Dd%25%82");
    EXPECT_EQ(DecodeFieldValue("%zz%4%"), "%zz%4%");  // not an escape: kept as it is

    const std::string id = NewAccountId();
    EXPECT_TRUE(IsAccountId(id));
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(NewAccountId(), id);
    EXPECT_NE(NewAccount(0).id, NewAccount(0).id);
    EXPECT_TRUE(DefaultAccount().id.empty());
    // The id says which account it is, not what it holds.
    Account one = NewAccount(0);
    Account other = one;
    other.id = NewAccountId();
    EXPECT_EQ(one, other);
}

}  // namespace
