#include "md5/md5.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Digest(std::string_view text) {
    MD5 md5;
    md5.update(text);
    md5.finalize();
    return md5.hex_digest();
}

struct Vector {
    const char* text;
    const char* digest;
};

// RFC 1321 appendix A.5.
constexpr Vector kRfc1321Suite[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(MD5, Rfc1321SuiteThroughEveryEntry) {
    for (const Vector& v : kRfc1321Suite) {
        SCOPED_TRACE(v.text);
        EXPECT_EQ(Digest(v.text), v.digest);
        EXPECT_EQ(MD5(v.text).hex_digest(), v.digest);
    }
}

TEST(MD5, PiecesOfEverySizeMatchOneCall) {
    // 200 bytes cross three block boundaries; every split point and piece
    // size is tried, so pieces straddle 64-byte blocks in every way.
    std::string text;
    for (int i = 0; i < 200; ++i) {
        text.push_back(static_cast<char>(i * 7 + 3));
    }
    const std::string whole = Digest(text);
    for (std::size_t piece = 1; piece <= 130; ++piece) {
        MD5 md5;
        for (std::size_t at = 0; at < text.size(); at += piece) {
            md5.update(std::string_view(text).substr(at, piece));
        }
        md5.finalize();
        ASSERT_EQ(md5.hex_digest(), whole) << "piece " << piece;
    }
}

TEST(MD5, MessagesThatPadIntoTwoFinalBlocks) {
    // 56 bytes leave no room for the length; 64 bytes fill a block exactly.
    EXPECT_EQ(Digest(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(Digest(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
    EXPECT_EQ(Digest(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(Digest(std::string(1000, 'a')), "cabe45dcc9ae5b66ba86600cca6b8ba8");
}

TEST(MD5, ApopExampleFromRfc1939) {
    // RFC 1939 section 7: the shared secret there is "tanstaaf".
    EXPECT_EQ(MD5("<1896.697170952@dbc.mtview.ca.us>tanstaaf").hex_digest(), "c4c9334bac560ecc979e58001b3e22fb");
}

TEST(MD5, HighBytesAreDigestedUnsigned) {
    // Shift_JIS "新" followed by a byte above 0x7f in every position of a word.
    EXPECT_EQ(Digest("\x90\x56\xff\x80"), "b37c6a78e09fe3ca18470dd9dc2c3506");
}

TEST(MD5, NullInputIsTheEmptyText) {
    EXPECT_EQ(MD5(static_cast<const char*>(nullptr)).hex_digest(), "d41d8cd98f00b204e9800998ecf8427e");
    MD5 md5;
    md5.update(nullptr, 5);
    md5.finalize();
    EXPECT_EQ(md5.hex_digest(), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(MD5, MisuseWritesOneDiagnosticLineAndChangesNothing) {
    MD5 md5;
    testing::internal::CaptureStderr();
    const std::string early = md5.hex_digest();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "MD5::hex_digest:  Can't get digest if you haven't finalized the digest!\n");
    EXPECT_EQ(early, "");

    md5.update("abc");
    md5.finalize();
    testing::internal::CaptureStderr();
    md5.update("more");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "MD5::update:  Can't update a finalized digest!\n");

    testing::internal::CaptureStderr();
    md5.finalize();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "MD5::finalize:  Already finalized this digest!\n");

    testing::internal::CaptureStderr();
    EXPECT_EQ(md5.hex_digest(), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
