#include "smtp/encoders.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string EncodeBytes(const std::string& input, UUMethods method) {
    TMemoryStream in, out;
    in.Write(input.data(), input.size());
    TNMUUProcessor encoder;
    encoder.Method = method;
    encoder.InputStream = &in;
    encoder.OutputStream = &out;
    encoder.Encode();
    return out.Data();
}

std::string Repeat(const std::string& s, int n) {
    std::string r;
    while (n-- > 0) r += s;
    return r;
}

TEST(Encoders, Base64AndUuencodeLines) {
    struct Case {
        std::string input;
        UUMethods method;
        std::string output;
    } const cases[] = {
        {"", uuMime, ""},
        {"", uuCode, "`\r\n"},
        {"A", uuCode, "!00\r\n`\r\n"},  // length character, no padding, closing line
        {std::string(45, 'x'), uuCode, "M" + Repeat(">'AX", 15) + "\r\n`\r\n"},  // a full line is 61
        {std::string(46, '\0'), uuMime, std::string(60, 'A') + "\r\nAA==\r\n"},
        {"hello!", uuMime, "aGVsbG8h\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        EXPECT_EQ(EncodeBytes(c.input, c.method), c.output);
    }
}

TEST(Encoders, BufferStreamPassesOneFullBufferThenTheRest) {
    struct Counting : TMemoryStream {
        std::vector<std::size_t> writes;
        std::size_t Write(const void* b, std::size_t n) override {
            writes.push_back(n);
            return TMemoryStream::Write(b, n);
        }
    } wrapped;
    const std::string data(40000, 'q');
    {
        TS_BufferStream buffered(wrapped);
        EXPECT_EQ(buffered.Write(data.data(), data.size()), data.size());
        EXPECT_EQ(wrapped.writes, std::vector<std::size_t>{32768});
        buffered.Seek(0, 0);  // a seek flushes the rest
        EXPECT_EQ((wrapped.writes), (std::vector<std::size_t>{32768, 40000 - 32768}));
        std::string back(data.size(), '\0');
        EXPECT_EQ(buffered.Read(back.data(), back.size()), data.size());
        EXPECT_EQ(back, data);
        EXPECT_TRUE(buffered.IsEof());
        buffered.PutBack('z');
        char c = 0;
        EXPECT_EQ(buffered.Read(&c, 1), 1u);
        EXPECT_EQ(c, 'z');
        EXPECT_THROW(buffered.Seek(0, 7), EStreamError);
    }
    EXPECT_EQ(wrapped.Data(), data);
}

TEST(Encoders, HeaderListSetsGetsAndDeletesByName) {
    TExStringList list;
    list.SetValue("Subject", "one");
    list.Add("no colon here");
    list.SetValue("subject", "two");  // replaced in place, name as passed
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"subject: two", "no colon here"}));
    EXPECT_EQ(list.GetValue("SUBJECT"), "two");
    EXPECT_EQ(list.IndexOfName("Subj"), -1);
    EXPECT_EQ(list.IndexOfName("no colon here"), -1);
    list.SetValue("Subject", "");
    EXPECT_EQ(list.Lines(), std::vector<std::string>{"no colon here"});
}

}  // namespace
