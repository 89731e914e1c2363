#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// RFC 1321 message digest. One object digests one message: update() any
// number of times, finalize() once, then read hex_digest(). Misuse writes
// one line to standard error and is otherwise ignored.
class MD5 {
public:
    MD5();
    // Digests the text up to its terminating zero byte and finalizes.
    // A null pointer digests the empty text.
    explicit MD5(const char* zeroTerminatedText);

    void update(const unsigned char* bytes, std::size_t length);
    void update(std::string_view bytes);
    void finalize();

    // The 16 digest bytes as 32 lowercase hexadecimal characters, or the
    // empty text before finalize().
    std::string hex_digest() const;

private:
    void transform(const unsigned char* block);

    std::array<std::uint32_t, 4> state_;
    std::uint64_t bitCount_ = 0;  // message length in bits, modulo 2^64
    std::array<unsigned char, 64> buffer_{};
    std::array<unsigned char, 16> digest_{};
    bool finalized_ = false;
};
