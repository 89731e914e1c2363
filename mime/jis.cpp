#include "mime/jis.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <bit>
#include <cstdint>
#include <cstring>

namespace {

constexpr unsigned char kEsc = 0x1B;

inline bool IsJisByte(unsigned char b) {
    return static_cast<unsigned>(b - 0x21) < 94u;
}

// Shift_JIS lead byte by JIS first byte, and trail byte by JIS second byte
// for odd and even first bytes (only 0x21..0x7E are ever looked up).
struct PairTables {
    unsigned char lead[128];
    unsigned char trail[2][128];
};

constexpr PairTables MakePairTables() {
    PairTables t{};
    for (int b = 0; b < 128; ++b) {
        t.lead[b] = static_cast<unsigned char>(((b < 0x5F ? b + 0xE1 : b + 0x161) >> 1) & 0xFF);
        t.trail[1][b] = static_cast<unsigned char>(b < 0x60 ? b + 0x1F : b + 0x20);
        t.trail[0][b] = static_cast<unsigned char>(b + 0x7E);
    }
    return t;
}

constexpr PairTables kPairs = MakePairTables();

// Both Shift_JIS bytes of a pair, in memory order, indexed by
// (first << 7) | second. 32 KB, built once.
struct PairTable {
    std::uint16_t sjis[1 << 14];
};

constexpr PairTable MakePairTable() {
    PairTable t{};
    for (int b = 0x21; b <= 0x7E; ++b) {
        for (int b2 = 0x21; b2 <= 0x7E; ++b2) {
            const unsigned s1 = kPairs.lead[b];
            const unsigned s2 = kPairs.trail[b & 1][b2];
            // Stored so that memcpy of the value writes s1 then s2.
            t.sjis[(b << 7) | b2] = static_cast<std::uint16_t>(
                std::endian::native == std::endian::little ? (s2 << 8) | s1 : (s1 << 8) | s2);
        }
    }
    return t;
}

constexpr PairTable kPairTable = MakePairTable();

// True when all eight bytes lie in 0x21..0x7E.
inline bool AllJisBytes(std::uint64_t v) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
    // With every byte below 0x80 the sums carry into no other byte:
    // x + 0x5F has its high bit set exactly when x >= 0x21, x + 1 exactly
    // when x == 0x7F.
    return ((v | (v + kOnes)) & kHigh) == 0 && ((v + 0x5F * kOnes) & kHigh) == kHigh;
}

#if defined(__SSE2__)
// Converts eight whole pairs at in[0..15] into out[0..15] when all sixteen
// bytes are pair bytes; false (nothing written) otherwise. The same
// arithmetic as the tables, on 16-bit lanes holding first | second << 8.
inline bool ConvertSixteen(const unsigned char* in, unsigned char* out) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i valid = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(0x20)), _mm_cmplt_epi8(v, _mm_set1_epi8(0x7F)));
    if (_mm_movemask_epi8(valid) != 0xFFFF) {
        return false;
    }
    const __m128i first = _mm_and_si128(v, _mm_set1_epi16(0x00FF));
    const __m128i second = _mm_srli_epi16(v, 8);
    const __m128i high = _mm_and_si128(_mm_cmpgt_epi16(first, _mm_set1_epi16(0x5E)), _mm_set1_epi16(0x80));
    const __m128i lead = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(first, _mm_set1_epi16(0xE1)), high), 1);
    const __m128i odd = _mm_cmpeq_epi16(_mm_and_si128(first, _mm_set1_epi16(1)), _mm_set1_epi16(1));
    const __m128i oddAdd = _mm_add_epi16(
        _mm_set1_epi16(0x1F), _mm_and_si128(_mm_cmpgt_epi16(second, _mm_set1_epi16(0x5F)), _mm_set1_epi16(1)));
    const __m128i add = _mm_or_si128(_mm_and_si128(odd, oddAdd), _mm_andnot_si128(odd, _mm_set1_epi16(0x7E)));
    const __m128i trail = _mm_add_epi16(second, add);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(lead, _mm_slli_epi16(trail, 8)));
    return true;
}
#endif

}  // namespace

std::string JisToShiftJis(std::string_view text) {
    // Nothing after the first NUL is looked at.
    const void* nul = std::memchr(text.data(), 0, text.size());
    const std::size_t n = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()) : text.size();
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());

    std::string result(n, '\0');
    auto* out = reinterpret_cast<unsigned char*>(result.data());
    std::size_t o = 0;
    std::size_t i = 0;
    // Copies b, and b2 too unless b2 is an ESC: a stray ESC must start the
    // next escape sequence, or the switch back to ASCII would be lost and the
    // rest of the text read as kanji.
    auto copyUnlessEscapeFollows = [&](unsigned char b, unsigned char b2) {
        out[o++] = b;
        ++i;
        if (b2 != kEsc) {
            out[o++] = b2;
            ++i;
        }
    };
    bool kanjiMode = false;

    while (i < n) {
        if (!kanjiMode) {
            // One-byte mode copies everything up to the next ESC. Runs are
            // short in mail text, so blocks are scanned inline first.
#if defined(__SSE2__)
            while (i + 16 <= n) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), v);
                const int escs = _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(kEsc)));
                if (escs != 0) {
                    const int run = std::countr_zero(static_cast<unsigned>(escs));
                    i += static_cast<std::size_t>(run);
                    o += static_cast<std::size_t>(run);
                    break;
                }
                i += 16;
                o += 16;
            }
#endif
            const void* esc = i < n && in[i] == kEsc ? in + i : std::memchr(in + i, kEsc, n - i);
            const std::size_t end = esc ? static_cast<std::size_t>(static_cast<const unsigned char*>(esc) - in) : n;
            std::memcpy(out + o, in + i, end - i);
            o += end - i;
            i = end;
            if (i >= n) {
                break;
            }
        }
        if (kanjiMode) {
            // The common case: whole pairs, in blocks of eight or four
            // pairs while every byte of the block is a pair byte.
#if defined(__SSE2__)
            while (i + 16 <= n && ConvertSixteen(in + i, out + o)) {
                i += 16;
                o += 16;
            }
#endif
            while (i + 8 <= n) {
                std::uint64_t v;
                std::memcpy(&v, in + i, 8);
                if (!AllJisBytes(v)) {
                    break;
                }
                for (int k = 0; k < 8; k += 2) {
                    const std::uint16_t pair = kPairTable.sjis[(in[i + k] << 7) | in[i + k + 1]];
                    std::memcpy(out + o + k, &pair, 2);
                }
                o += 8;
                i += 8;
            }
            while (i + 1 < n && IsJisByte(in[i]) && IsJisByte(in[i + 1])) {
                const unsigned char b = in[i];
                out[o] = kPairs.lead[b];
                out[o + 1] = kPairs.trail[b & 1][in[i + 1]];
                o += 2;
                i += 2;
            }
            if (i >= n) {
                break;
            }
        }
        const unsigned char b = in[i];
        if (b == kEsc) {
            if (i + 1 >= n) {
                out[o++] = b;
                break;
            }
            const unsigned char b2 = in[i + 1];
            if (b2 == '$' || b2 == '(') {
                if (i + 2 >= n) {
                    out[o++] = b;
                    out[o++] = b2;
                    break;
                }
                const unsigned char b3 = in[i + 2];
                const bool known = b2 == '$' ? (b3 == 0x40 || b3 == 'B') : (b3 == 'B' || b3 == 'J' || b3 == 'H');
                if (known) {
                    kanjiMode = b2 == '$';
                    i += 3;
                } else if (b3 == kEsc) {
                    // A stray ESC must not be swallowed as data: it starts
                    // the next sequence.
                    out[o++] = b;
                    out[o++] = b2;
                    i += 2;
                } else {
                    out[o++] = b;
                    out[o++] = b2;
                    out[o++] = b3;
                    i += 3;
                }
            } else if (b2 == 'K' || b2 == 'H') {
                kanjiMode = b2 == 'K';
                i += 2;
            } else {
                copyUnlessEscapeFollows(b, b2);
            }
        } else if (kanjiMode && IsJisByte(b)) {
            if (i + 1 >= n) {
                out[o++] = b;
                break;
            }
            const unsigned char b2 = in[i + 1];
            // Only a broken pair reaches here: whole pairs were done above.
            copyUnlessEscapeFollows(b, b2);
        } else {
            out[o++] = b;
            i += 1;
        }
    }
    result.resize(o);
    return result;
}
