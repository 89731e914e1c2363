#include "account_print.h"
#include "accounts/account.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

// Builds the binary form of older settings field by field, as its table
// lays it out, remembering where each field starts.
class LegacyBytes {
public:
    LegacyBytes& Text(std::string_view text) {
        Mark();
        bytes_.append(text);
        bytes_.push_back('\0');
        return *this;
    }
    LegacyBytes& Number(std::uint32_t value) {
        Mark();
        for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<char>(value >> (8 * i)));
        return *this;
    }
    LegacyBytes& Skip(std::size_t count, char filler) {
        bytes_.append(count, filler);
        return *this;
    }
    const std::string& bytes() const { return bytes_; }
    std::size_t FieldStart(int field) const { return starts_.at(field); }

private:
    void Mark() { starts_.push_back(bytes_.size()); }
    std::string bytes_;
    std::vector<std::size_t> starts_;
};

LegacyBytes FullRecord() {
    LegacyBytes b;
    b.Text("\x8e\x64\x8e\x96")
        .Skip(1, '\x7f')  // name "仕事", 1 byte skipped
        .Text("pop.example.jp")
        .Number(110)
        .Skip(1, '\x01')
        .Text("taro")
        .Text("himitsu")
        .Number((1u << 20) | 0x47)
        .Skip(2, '\x02')
        .Text("smtp.example.jp")
        .Number(587)
        .Skip(1, '\x03')
        .Text("jiro")
        .Number(0x13);
    return b;
}

Account Expected() {
    Account a = DefaultAccount();
    a.name = "\x8e\x64\x8e\x96";
    a.popServer = "pop.example.jp";
    a.popPort = 110;
    a.popUser = "taro";
    a.popPassword = "himitsu";
    a.popOptions.FromNumber((1u << 20) | 0x47);
    a.smtpServer = "smtp.example.jp";
    a.smtpPort = 587;
    a.smtpUser = "jiro";
    a.smtpOptions.FromNumber(0x13);
    return a;
}

// From a heap copy of exactly the given size: overreads trip the sanitizer.
Account Parse(std::string_view bytes) {
    auto copy = std::make_unique<char[]>(bytes.size() + 1);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    Account account = DefaultAccount();
    ParseLegacyAccount(std::string_view(copy.get(), bytes.size()), account);
    return account;
}

TEST(ParseLegacyAccount, ReadsEveryFieldOfTheTable) {
    EXPECT_EQ(Parse(FullRecord().bytes()), Expected());
}

TEST(ParseLegacyAccount, NegativeAndLargeNumbers) {
    LegacyBytes b;
    b.Text("n")
        .Skip(1, 0)
        .Text("h")
        .Number(0xFFFFFFFFu)
        .Skip(1, 0)
        .Text("")
        .Text("")
        .Number(0x80000000u)
        .Skip(2, 0)
        .Text("")
        .Number(0x7FFFFFFFu)
        .Skip(1, 0)
        .Text("")
        .Number(0);
    const Account a = Parse(b.bytes());
    EXPECT_EQ(a.popPort, -1);
    EXPECT_EQ(a.popOptions.ToNumber(), 0x80000000u);
    EXPECT_EQ(a.smtpPort, 2147483647);
    EXPECT_EQ(a.smtpOptions.ToNumber(), 0u);
}

// Cut at every length: the fields wholly inside the bytes are read, a text
// cut short keeps the bytes that are there, and nothing after it changes.
TEST(ParseLegacyAccount, CutShortAtEveryLength) {
    const LegacyBytes record = FullRecord();
    const std::string& bytes = record.bytes();
    const Account full = Expected();
    const Account d = DefaultAccount();
    for (std::size_t length = 0; length <= bytes.size(); ++length) {
        SCOPED_TRACE(length);
        const Account a = Parse(std::string_view(bytes).substr(0, length));
        auto reached = [&](int field) { return length > record.FieldStart(field); };
        auto whole = [&](int field, std::size_t size) { return length >= record.FieldStart(field) + size; };

        EXPECT_EQ(a.name, reached(0) ? full.name.substr(0, length) : "");
        EXPECT_EQ(a.popServer, reached(1) ? full.popServer.substr(0, length - record.FieldStart(1)) : d.popServer);
        EXPECT_EQ(a.popPort, whole(2, 4) ? full.popPort : d.popPort);
        EXPECT_EQ(a.popUser, reached(3) ? full.popUser.substr(0, length - record.FieldStart(3)) : d.popUser);
        EXPECT_EQ(a.popPassword,
                  reached(4) ? full.popPassword.substr(0, length - record.FieldStart(4)) : d.popPassword);
        EXPECT_EQ(a.popOptions, whole(5, 4) ? full.popOptions : d.popOptions);
        EXPECT_EQ(a.smtpServer, reached(6) ? full.smtpServer.substr(0, length - record.FieldStart(6)) : d.smtpServer);
        EXPECT_EQ(a.smtpPort, whole(7, 4) ? full.smtpPort : d.smtpPort);
        EXPECT_EQ(a.smtpUser, reached(8) ? full.smtpUser.substr(0, length - record.FieldStart(8)) : d.smtpUser);
        EXPECT_EQ(a.smtpOptions, whole(9, 4) ? full.smtpOptions : d.smtpOptions);
    }
}

TEST(ParseLegacyAccount, CutInTheMiddleOfAField) {
    const LegacyBytes record = FullRecord();
    // Two bytes into the POP3 options number: everything before is read,
    // the options and all later fields keep their defaults.
    const Account a = Parse(std::string_view(record.bytes()).substr(0, record.FieldStart(5) + 2));
    Account expected = DefaultAccount();
    expected.name = Expected().name;
    expected.popServer = "pop.example.jp";
    expected.popPort = 110;
    expected.popUser = "taro";
    expected.popPassword = "himitsu";
    EXPECT_EQ(a, expected);

    // Three bytes into the SMTP server name.
    const Account b = Parse(std::string_view(record.bytes()).substr(0, record.FieldStart(6) + 3));
    EXPECT_EQ(b.popOptions, Expected().popOptions);
    EXPECT_EQ(b.smtpServer, "smt");
    EXPECT_EQ(b.smtpPort, 25);
}

TEST(ParseLegacyAccount, EmptyBytesLeaveTheDefaults) {
    EXPECT_EQ(Parse(""), DefaultAccount());
}

}  // namespace
