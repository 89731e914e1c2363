#include "md5/md5.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Per-round shift amounts, RFC 1321 section 3.4.
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// T[i] = floor(2^32 * abs(sin(i + 1))), written out to stay exact.
constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

constexpr std::uint32_t RotateLeft(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

void Diagnose(const char* line) {
    std::fputs(line, stderr);
    std::fputc('\n', stderr);
}

}  // namespace

MD5::MD5() : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476} {}

MD5::MD5(const char* zeroTerminatedText) : MD5() {
    if (zeroTerminatedText != nullptr) {
        update(std::string_view(zeroTerminatedText));
    }
    finalize();
}

void MD5::update(std::string_view bytes) {
    update(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

void MD5::update(const unsigned char* bytes, std::size_t length) {
    if (finalized_) {
        Diagnose("MD5::update:  Can't update a finalized digest!");
        return;
    }
    if (bytes == nullptr || length == 0) {
        return;
    }
    std::size_t used = static_cast<std::size_t>((bitCount_ >> 3) & 63);
    bitCount_ += static_cast<std::uint64_t>(length) << 3;

    if (used != 0) {
        const std::size_t take = std::min(length, buffer_.size() - used);
        std::memcpy(buffer_.data() + used, bytes, take);
        used += take;
        bytes += take;
        length -= take;
        if (used < buffer_.size()) {
            return;
        }
        transform(buffer_.data());
    }
    for (; length >= 64; bytes += 64, length -= 64) {
        transform(bytes);
    }
    if (length != 0) {
        std::memcpy(buffer_.data(), bytes, length);
    }
}

void MD5::finalize() {
    if (finalized_) {
        Diagnose("MD5::finalize:  Already finalized this digest!");
        return;
    }
    unsigned char lengthBytes[8];
    for (int i = 0; i < 8; ++i) {
        lengthBytes[i] = static_cast<unsigned char>(bitCount_ >> (8 * i));
    }
    // Pad with 0x80 and zeros to 56 bytes mod 64, then the original length.
    static const unsigned char kPadding[64] = {0x80};
    const std::size_t used = static_cast<std::size_t>((bitCount_ >> 3) & 63);
    const std::size_t padLength = used < 56 ? 56 - used : 120 - used;
    update(kPadding, padLength);
    update(lengthBytes, sizeof lengthBytes);

    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            digest_[4 * i + j] = static_cast<unsigned char>(state_[i] >> (8 * j));
        }
    }
    buffer_.fill(0);
    finalized_ = true;
}

std::string MD5::hex_digest() const {
    if (!finalized_) {
        Diagnose("MD5::hex_digest:  Can't get digest if you haven't finalized the digest!");
        return {};
    }
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(32);
    for (unsigned char byte : digest_) {
        text.push_back(kHex[byte >> 4]);
        text.push_back(kHex[byte & 15]);
    }
    return text;
}

void MD5::transform(const unsigned char* block) {
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i) {
        x[i] = static_cast<std::uint32_t>(block[4 * i]) | static_cast<std::uint32_t>(block[4 * i + 1]) << 8 |
               static_cast<std::uint32_t>(block[4 * i + 2]) << 16 | static_cast<std::uint32_t>(block[4 * i + 3]) << 24;
    }
    std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (int i = 0; i < 64; ++i) {
        const int round = i / 16;
        std::uint32_t f;
        int k;
        switch (round) {
            case 0:
                f = (b & c) | (~b & d);
                k = i;
                break;
            case 1:
                f = (b & d) | (c & ~d);
                k = (5 * i + 1) & 15;
                break;
            case 2:
                f = b ^ c ^ d;
                k = (3 * i + 5) & 15;
                break;
            default:
                f = c ^ (b | ~d);
                k = (7 * i) & 15;
                break;
        }
        const std::uint32_t rotated = RotateLeft(a + f + x[k] + kSine[i], kShift[round][i & 3]);
        a = d;
        d = c;
        c = b;
        b = b + rotated;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}
