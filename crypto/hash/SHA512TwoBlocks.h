// crypto/hash/SHA512TwoBlocks.h: the SHA-512 block function of the vector paths, two blocks at a
// time, shared by SBSHA512_x86.cpp (AVX-512VL) and SBSHA512_avx2.cpp (AVX2); each passes its
// own small sigma functions.
//
// The rounds stay in general registers (BMI2's rorx rotates without touching the flags or
// its source); the message schedule runs in 256-bit registers whose low half holds two words
// of one block and whose high half the same two words of the next block, so each vector
// operation schedules four words and the second block's rounds find all eighty W + K words
// ready on the stack. An odd last block rides in both halves and only the first is used.
//
// Internal to those two files, which are built for newer processors than the rest of the
// library: everything here sits in an anonymous namespace, so each file keeps its own copy,
// built with its own instructions, and the linker cannot hand either copy to other code.
// Include it only where AVX2 and BMI2 are enabled (it uses both).
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "crypto/hash/SHA2Constants.h"

namespace sha_x86 {

namespace {

[[gnu::always_inline]] inline uint64_t Ror(uint64_t x, int n) {
    return (x >> n) | (x << (64 - n));
}

// In each half: the high word of a and the low word of b.
[[gnu::always_inline]] inline __m256i Straddle(__m256i a, __m256i b) {
    return _mm256_alignr_epi8(b, a, 8);
}

// One round; the caller rotates the argument list, so the variable that was h becomes a.
// Maj(a, b, c) = b ^ ((a ^ b) & (b ^ c)), and this round's a ^ b is the next round's b ^ c,
// carried in bc: one operation fewer on the busiest units.
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
        x0 = _mm256_add_epi64(_mm256_add_epi64(x0, sigmas.SmallS0(Straddle(x0, x1))),                   \
                              _mm256_add_epi64(Straddle(x4, x5), sigmas.SmallS1(x7)));                  \
        const __m256i kk =                                                                              \
            _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(k + 2 * (j)))); \
        _mm256_store_si256(reinterpret_cast<__m256i*>(next + 4 * (j)), _mm256_add_epi64(x0, kk));       \
    } while (0)

// W + K of round t of the block in half `half` (0 or 1) sits at wk[4 * (t / 2) + 2 * half +
// t % 2]; cur points at the first word of these sixteen rounds in that half.
#define KW_SHA512_WK(i) cur[4 * ((i) / 2) + (i) % 2]

// Sixteen rounds of the first block, with the next sixteen words of both blocks scheduled in
// between when More.
template <bool More, class Sigmas>
[[gnu::always_inline]] inline void SixteenScheduling(uint64_t& bc, uint64_t& a, uint64_t& b, uint64_t& c,
                                                     uint64_t& d, uint64_t& e, uint64_t& f, uint64_t& g,
                                                     uint64_t& h, const uint64_t* cur, uint64_t* next,
                                                     const uint64_t* k, const Sigmas& sigmas, __m256i& x0,
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

[[gnu::always_inline]] inline void AddState(uint64_t H[8], uint64_t a, uint64_t b, uint64_t c, uint64_t d,
                                            uint64_t e, uint64_t f, uint64_t g, uint64_t h) {
    H[0] += a;
    H[1] += b;
    H[2] += c;
    H[3] += d;
    H[4] += e;
    H[5] += f;
    H[6] += g;
    H[7] += h;
}

// blocks whole 128-byte blocks from data into H. Sigmas has SmallS0 and SmallS1 over four
// words: s0(x) = ror1 ^ ror8 ^ shr7 and s1(x) = ror19 ^ ror61 ^ shr6.
template <class Sigmas>
[[gnu::always_inline]] inline void SHA512TwoBlocks(uint64_t H[8], const uint8_t* data, size_t blocks,
                                                   const Sigmas& sigmas) {
    using sha2_constants::K512;
    // Byte-swaps each 64-bit word: the message is big-endian.
    const __m256i swap = _mm256_set_epi8(8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11,
                                         12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7);
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
                                    sigmas, x0, x1, x2, x3, x4, x5, x6, x7);
        SixteenScheduling<false>(bc, a, b, c, d, e, f, g, h, wk + 128, nullptr, nullptr, sigmas, x0, x1, x2,
                                 x3, x4, x5, x6, x7);
        AddState(H, a, b, c, d, e, f, g, h);
        if (!pair) break;

        a = H[0], b = H[1], c = H[2], d = H[3], e = H[4], f = H[5], g = H[6], h = H[7];
        bc = b ^ c;
        for (int r = 0; r < 80; r += 16)
            Sixteen(bc, a, b, c, d, e, f, g, h, wk + 2 * r + 2);
        AddState(H, a, b, c, d, e, f, g, h);
        data += 256;
        blocks -= 2;
    }
}

}  // namespace

}  // namespace sha_x86
