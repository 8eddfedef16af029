// crypto/SBSHA512_avx2.cpp: the SHA-512 block function for processors with AVX2 and BMI2 but
// no AVX-512, two blocks at a time.
//
// The rounds stay in general registers (BMI2's rorx rotates without touching the flags or
// its source); the message schedule runs in 256-bit registers whose low half holds two words
// of one block and whose high half the same two words of the next block, so each vector
// operation schedules four words and the second block's rounds find all eighty W + K words
// ready on the stack. An odd last block rides in both halves and only the first is used.
// AVX2 has no 64-bit rotate: the schedule's rotates are two shifts, or one byte shuffle for
// the rotate by 8. This file alone is built with -mavx2 -mbmi2 (crypto/hashes.cmake) and runs
// only after sha_x86::Avx2Active() said yes. It computes exactly what the portable transform
// does.
#include "crypto/SBSHA_x86.h"

#include "crypto/SHA2Constants.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__AVX2__) && defined(__BMI2__)

#include <immintrin.h>

namespace sha_x86 {

namespace {

using sha2_constants::K512;

[[gnu::always_inline]] inline uint64_t Ror(uint64_t x, int n) {
    return (x >> n) | (x << (64 - n));
}

// s0(x) = ror1 ^ ror8 ^ shr7, on four words; the rotate by 8 is a byte shuffle within each
// word.
[[gnu::always_inline]] inline __m256i SmallS0(__m256i x, __m256i ror8) {
    const __m256i shifts = _mm256_xor_si256(_mm256_srli_epi64(x, 1), _mm256_srli_epi64(x, 7));
    return _mm256_xor_si256(_mm256_xor_si256(shifts, _mm256_slli_epi64(x, 63)), _mm256_shuffle_epi8(x, ror8));
}
// s1(x) = ror19 ^ ror61 ^ shr6.
[[gnu::always_inline]] inline __m256i SmallS1(__m256i x) {
    const __m256i right = _mm256_xor_si256(
        _mm256_xor_si256(_mm256_srli_epi64(x, 19), _mm256_srli_epi64(x, 61)), _mm256_srli_epi64(x, 6));
    return _mm256_xor_si256(right, _mm256_xor_si256(_mm256_slli_epi64(x, 45), _mm256_slli_epi64(x, 3)));
}
// In each half: the high word of a and the low word of b.
[[gnu::always_inline]] inline __m256i Straddle(__m256i a, __m256i b) {
    return _mm256_alignr_epi8(b, a, 8);
}

// One round; the caller rotates the argument list, so the variable that was h becomes a.
// Maj(a, b, c) = b ^ ((a ^ b) & (b ^ c)), and this round's a ^ b is the next round's b ^ c,
// carried in bc.
#define KW_SHA512_ROUND(a, b, c, d, e, f, g, h, wk)                               \
    do {                                                                          \
        h += (wk) + (g ^ (e & (f ^ g))) + (Ror(e, 14) ^ Ror(e, 18) ^ Ror(e, 41)); \
        d += h;                                                                   \
        const uint64_t ab = a ^ b;                                                \
        h += (Ror(a, 28) ^ Ror(a, 34) ^ Ror(a, 39)) + (b ^ (ab & bc));            \
        bc = ab;                                                                  \
    } while (0)

// Pair j of the next sixteen words of both blocks replaces x0, which holds words 2j and 2j+1
// of the window (x1..x7 the pairs after it): W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) +
// W[t-16]. W + K goes to next, four words per pair.
#define KW_SHA512_PAIR(j, x0, x1, x4, x5, x7)                                                           \
    do {                                                                                                \
        x0 = _mm256_add_epi64(_mm256_add_epi64(x0, SmallS0(Straddle(x0, x1), ror8)),                    \
                              _mm256_add_epi64(Straddle(x4, x5), SmallS1(x7)));                         \
        const __m256i kk =                                                                              \
            _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(k + 2 * (j)))); \
        _mm256_store_si256(reinterpret_cast<__m256i*>(next + 4 * (j)), _mm256_add_epi64(x0, kk));       \
    } while (0)

// W + K of round t of the block in half `half` (0 or 1) sits at wk[4 * (t / 2) + 2 * half +
// t % 2]; cur points at the first word of these sixteen rounds in that half.
#define KW_SHA512_WK(i) cur[4 * ((i) / 2) + (i) % 2]

// Sixteen rounds of the first block, with the next sixteen words of both blocks scheduled in
// between when More.
template <bool More>
[[gnu::always_inline]] inline void SixteenScheduling(uint64_t& bc, uint64_t& a, uint64_t& b, uint64_t& c,
                                                     uint64_t& d, uint64_t& e, uint64_t& f, uint64_t& g,
                                                     uint64_t& h, const uint64_t* cur, uint64_t* next,
                                                     const uint64_t* k, __m256i ror8, __m256i& x0,
                                                     __m256i& x1, __m256i& x2, __m256i& x3, __m256i& x4,
                                                     __m256i& x5, __m256i& x6, __m256i& x7) {
    KW_SHA512_ROUND(a, b, c, d, e, f, g, h, KW_SHA512_WK(0));
    KW_SHA512_ROUND(h, a, b, c, d, e, f, g, KW_SHA512_WK(1));
    if constexpr (More) KW_SHA512_PAIR(0, x0, x1, x4, x5, x7);
    KW_SHA512_ROUND(g, h, a, b, c, d, e, f, KW_SHA512_WK(2));
    KW_SHA512_ROUND(f, g, h, a, b, c, d, e, KW_SHA512_WK(3));
    if constexpr (More) KW_SHA512_PAIR(1, x1, x2, x5, x6, x0);
    KW_SHA512_ROUND(e, f, g, h, a, b, c, d, KW_SHA512_WK(4));
    KW_SHA512_ROUND(d, e, f, g, h, a, b, c, KW_SHA512_WK(5));
    if constexpr (More) KW_SHA512_PAIR(2, x2, x3, x6, x7, x1);
    KW_SHA512_ROUND(c, d, e, f, g, h, a, b, KW_SHA512_WK(6));
    KW_SHA512_ROUND(b, c, d, e, f, g, h, a, KW_SHA512_WK(7));
    if constexpr (More) KW_SHA512_PAIR(3, x3, x4, x7, x0, x2);
    KW_SHA512_ROUND(a, b, c, d, e, f, g, h, KW_SHA512_WK(8));
    KW_SHA512_ROUND(h, a, b, c, d, e, f, g, KW_SHA512_WK(9));
    if constexpr (More) KW_SHA512_PAIR(4, x4, x5, x0, x1, x3);
    KW_SHA512_ROUND(g, h, a, b, c, d, e, f, KW_SHA512_WK(10));
    KW_SHA512_ROUND(f, g, h, a, b, c, d, e, KW_SHA512_WK(11));
    if constexpr (More) KW_SHA512_PAIR(5, x5, x6, x1, x2, x4);
    KW_SHA512_ROUND(e, f, g, h, a, b, c, d, KW_SHA512_WK(12));
    KW_SHA512_ROUND(d, e, f, g, h, a, b, c, KW_SHA512_WK(13));
    if constexpr (More) KW_SHA512_PAIR(6, x6, x7, x2, x3, x5);
    KW_SHA512_ROUND(c, d, e, f, g, h, a, b, KW_SHA512_WK(14));
    KW_SHA512_ROUND(b, c, d, e, f, g, h, a, KW_SHA512_WK(15));
    if constexpr (More) KW_SHA512_PAIR(7, x7, x0, x3, x4, x6);
}

// Sixteen rounds of the second block, from the words the first block's pass left.
[[gnu::always_inline]] inline void Sixteen(uint64_t& bc, uint64_t& a, uint64_t& b, uint64_t& c, uint64_t& d,
                                           uint64_t& e, uint64_t& f, uint64_t& g, uint64_t& h,
                                           const uint64_t* cur) {
    KW_SHA512_ROUND(a, b, c, d, e, f, g, h, KW_SHA512_WK(0));
    KW_SHA512_ROUND(h, a, b, c, d, e, f, g, KW_SHA512_WK(1));
    KW_SHA512_ROUND(g, h, a, b, c, d, e, f, KW_SHA512_WK(2));
    KW_SHA512_ROUND(f, g, h, a, b, c, d, e, KW_SHA512_WK(3));
    KW_SHA512_ROUND(e, f, g, h, a, b, c, d, KW_SHA512_WK(4));
    KW_SHA512_ROUND(d, e, f, g, h, a, b, c, KW_SHA512_WK(5));
    KW_SHA512_ROUND(c, d, e, f, g, h, a, b, KW_SHA512_WK(6));
    KW_SHA512_ROUND(b, c, d, e, f, g, h, a, KW_SHA512_WK(7));
    KW_SHA512_ROUND(a, b, c, d, e, f, g, h, KW_SHA512_WK(8));
    KW_SHA512_ROUND(h, a, b, c, d, e, f, g, KW_SHA512_WK(9));
    KW_SHA512_ROUND(g, h, a, b, c, d, e, f, KW_SHA512_WK(10));
    KW_SHA512_ROUND(f, g, h, a, b, c, d, e, KW_SHA512_WK(11));
    KW_SHA512_ROUND(e, f, g, h, a, b, c, d, KW_SHA512_WK(12));
    KW_SHA512_ROUND(d, e, f, g, h, a, b, c, KW_SHA512_WK(13));
    KW_SHA512_ROUND(c, d, e, f, g, h, a, b, KW_SHA512_WK(14));
    KW_SHA512_ROUND(b, c, d, e, f, g, h, a, KW_SHA512_WK(15));
}

#undef KW_SHA512_WK
#undef KW_SHA512_PAIR
#undef KW_SHA512_ROUND

}  // namespace

void SHA512BlocksAvx2(uint64_t H[8], const uint8_t* data, size_t blocks) {
    // Byte-swaps each 64-bit word (the message is big-endian), and rotates each right by 8.
    const __m256i swap = _mm256_set_epi8(8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11,
                                         12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i ror8 = _mm256_set_epi8(8, 15, 14, 13, 12, 11, 10, 9, 0, 7, 6, 5, 4, 3, 2, 1, 8, 15, 14, 13,
                                         12, 11, 10, 9, 0, 7, 6, 5, 4, 3, 2, 1);
    while (blocks > 0) {
        const bool pair = blocks >= 2;
        const uint8_t* second = pair ? data + 128 : data;
        // W + K of both blocks, interleaved two words at a time (see KW_SHA512_WK).
        alignas(32) uint64_t wk[160];
        __m256i x[8];
        for (int j = 0; j < 8; ++j) {
            const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * j));
            const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(second + 16 * j));
            x[j] = _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1), swap);
            const __m256i kk =
                _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(K512 + 2 * j)));
            _mm256_store_si256(reinterpret_cast<__m256i*>(wk + 4 * j), _mm256_add_epi64(x[j], kk));
        }
        __m256i x0 = x[0], x1 = x[1], x2 = x[2], x3 = x[3], x4 = x[4], x5 = x[5], x6 = x[6], x7 = x[7];

        uint64_t a = H[0], b = H[1], c = H[2], d = H[3], e = H[4], f = H[5], g = H[6], h = H[7];
        uint64_t bc = b ^ c;
        for (int r = 0; r < 64; r += 16)
            SixteenScheduling<true>(bc, a, b, c, d, e, f, g, h, wk + 2 * r, wk + 2 * r + 32, K512 + r + 16,
                                    ror8, x0, x1, x2, x3, x4, x5, x6, x7);
        SixteenScheduling<false>(bc, a, b, c, d, e, f, g, h, wk + 128, nullptr, nullptr, ror8, x0, x1, x2, x3,
                                 x4, x5, x6, x7);
        H[0] += a;
        H[1] += b;
        H[2] += c;
        H[3] += d;
        H[4] += e;
        H[5] += f;
        H[6] += g;
        H[7] += h;
        if (!pair) break;

        a = H[0], b = H[1], c = H[2], d = H[3], e = H[4], f = H[5], g = H[6], h = H[7];
        bc = b ^ c;
        for (int r = 0; r < 80; r += 16)
            Sixteen(bc, a, b, c, d, e, f, g, h, wk + 2 * r + 2);
        H[0] += a;
        H[1] += b;
        H[2] += c;
        H[3] += d;
        H[4] += e;
        H[5] += f;
        H[6] += g;
        H[7] += h;
        data += 256;
        blocks -= 2;
    }
}

}  // namespace sha_x86

#endif
