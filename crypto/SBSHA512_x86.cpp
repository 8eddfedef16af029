// crypto/SBSHA512_x86.cpp: the SHA-512 block function with its message schedule on AVX-512VL.
//
// The rounds stay in general registers (with BMI2's rotate); the schedule, two words at a
// time, runs in vector registers in between, sixteen words ahead of the rounds, where the
// processor has vector units to spare. AVX-512VL matters only for its one-instruction 64-bit
// rotate and three-way XOR, used on 128-bit registers. This file alone is built with
// -mavx512f -mavx512vl -mbmi2 (crypto/hashes.cmake), and runs only after
// sha_x86::Avx512Active() said yes. It computes exactly what the portable transform does.
#include "crypto/SBSHA_x86.h"

#include "crypto/SHA2Constants.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__AVX512VL__) && defined(__BMI2__)

#include <immintrin.h>

#include <cstring>

namespace sha_x86 {

namespace {

using sha2_constants::K512;

[[gnu::always_inline]] inline uint64_t Ror(uint64_t x, int n) {
    return (x >> n) | (x << (64 - n));
}

[[gnu::always_inline]] inline __m128i SmallS0(__m128i x) {
    return _mm_ternarylogic_epi64(_mm_ror_epi64(x, 1), _mm_ror_epi64(x, 8), _mm_srli_epi64(x, 7), 0x96);
}
[[gnu::always_inline]] inline __m128i SmallS1(__m128i x) {
    return _mm_ternarylogic_epi64(_mm_ror_epi64(x, 19), _mm_ror_epi64(x, 61), _mm_srli_epi64(x, 6), 0x96);
}
// The high word of a and the low word of b.
[[gnu::always_inline]] inline __m128i Straddle(__m128i a, __m128i b) {
    return _mm_castpd_si128(_mm_shuffle_pd(_mm_castsi128_pd(a), _mm_castsi128_pd(b), 1));
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

// Pair j of the next sixteen words replaces x0, which holds words 2j and 2j+1 of the window
// (x1..x7 the pairs after it): W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16]. W + K
// goes to next for the rounds.
#define KW_SHA512_PAIR(j, x0, x1, x4, x5, x7)                                                              \
    do {                                                                                                   \
        x0 = _mm_add_epi64(_mm_add_epi64(x0, SmallS0(Straddle(x0, x1))),                                   \
                           _mm_add_epi64(Straddle(x4, x5), SmallS1(x7)));                                  \
        _mm_store_si128(reinterpret_cast<__m128i*>(next + 2 * (j)),                                        \
                        _mm_add_epi64(x0, _mm_load_si128(reinterpret_cast<const __m128i*>(k + 2 * (j))))); \
    } while (0)

// Sixteen rounds from cur (W + K), with the next sixteen words scheduled in between when More.
template <bool More>
[[gnu::always_inline]] inline void Sixteen(uint64_t& bc, uint64_t& a, uint64_t& b, uint64_t& c, uint64_t& d,
                                           uint64_t& e, uint64_t& f, uint64_t& g, uint64_t& h,
                                           const uint64_t* cur, uint64_t* next, const uint64_t* k,
                                           __m128i& x0, __m128i& x1, __m128i& x2, __m128i& x3, __m128i& x4,
                                           __m128i& x5, __m128i& x6, __m128i& x7) {
    KW_SHA512_ROUND(a, b, c, d, e, f, g, h, cur[0]);
    KW_SHA512_ROUND(h, a, b, c, d, e, f, g, cur[1]);
    if constexpr (More) KW_SHA512_PAIR(0, x0, x1, x4, x5, x7);
    KW_SHA512_ROUND(g, h, a, b, c, d, e, f, cur[2]);
    KW_SHA512_ROUND(f, g, h, a, b, c, d, e, cur[3]);
    if constexpr (More) KW_SHA512_PAIR(1, x1, x2, x5, x6, x0);
    KW_SHA512_ROUND(e, f, g, h, a, b, c, d, cur[4]);
    KW_SHA512_ROUND(d, e, f, g, h, a, b, c, cur[5]);
    if constexpr (More) KW_SHA512_PAIR(2, x2, x3, x6, x7, x1);
    KW_SHA512_ROUND(c, d, e, f, g, h, a, b, cur[6]);
    KW_SHA512_ROUND(b, c, d, e, f, g, h, a, cur[7]);
    if constexpr (More) KW_SHA512_PAIR(3, x3, x4, x7, x0, x2);
    KW_SHA512_ROUND(a, b, c, d, e, f, g, h, cur[8]);
    KW_SHA512_ROUND(h, a, b, c, d, e, f, g, cur[9]);
    if constexpr (More) KW_SHA512_PAIR(4, x4, x5, x0, x1, x3);
    KW_SHA512_ROUND(g, h, a, b, c, d, e, f, cur[10]);
    KW_SHA512_ROUND(f, g, h, a, b, c, d, e, cur[11]);
    if constexpr (More) KW_SHA512_PAIR(5, x5, x6, x1, x2, x4);
    KW_SHA512_ROUND(e, f, g, h, a, b, c, d, cur[12]);
    KW_SHA512_ROUND(d, e, f, g, h, a, b, c, cur[13]);
    if constexpr (More) KW_SHA512_PAIR(6, x6, x7, x2, x3, x5);
    KW_SHA512_ROUND(c, d, e, f, g, h, a, b, cur[14]);
    KW_SHA512_ROUND(b, c, d, e, f, g, h, a, cur[15]);
    if constexpr (More) KW_SHA512_PAIR(7, x7, x0, x3, x4, x6);
}

#undef KW_SHA512_PAIR
#undef KW_SHA512_ROUND

}  // namespace

void SHA512BlocksAvx512(uint64_t H[8], const uint8_t* data, size_t blocks) {
    for (size_t n = 0; n < blocks; ++n, data += 128) {
        alignas(16) uint64_t wk[2][16];
        __m128i x[8];
        for (int j = 0; j < 8; ++j) {
            uint64_t lo, hi;
            std::memcpy(&lo, data + 16 * j, 8);
            std::memcpy(&hi, data + 16 * j + 8, 8);
            x[j] = _mm_set_epi64x(static_cast<long long>(__builtin_bswap64(hi)),
                                  static_cast<long long>(__builtin_bswap64(lo)));
            _mm_store_si128(
                reinterpret_cast<__m128i*>(wk[0] + 2 * j),
                _mm_add_epi64(x[j], _mm_load_si128(reinterpret_cast<const __m128i*>(K512 + 2 * j))));
        }
        __m128i x0 = x[0], x1 = x[1], x2 = x[2], x3 = x[3], x4 = x[4], x5 = x[5], x6 = x[6], x7 = x[7];
        uint64_t a = H[0], b = H[1], c = H[2], d = H[3], e = H[4], f = H[5], g = H[6], h = H[7];
        uint64_t bc = b ^ c;
        Sixteen<true>(bc, a, b, c, d, e, f, g, h, wk[0], wk[1], K512 + 16, x0, x1, x2, x3, x4, x5, x6, x7);
        Sixteen<true>(bc, a, b, c, d, e, f, g, h, wk[1], wk[0], K512 + 32, x0, x1, x2, x3, x4, x5, x6, x7);
        Sixteen<true>(bc, a, b, c, d, e, f, g, h, wk[0], wk[1], K512 + 48, x0, x1, x2, x3, x4, x5, x6, x7);
        Sixteen<true>(bc, a, b, c, d, e, f, g, h, wk[1], wk[0], K512 + 64, x0, x1, x2, x3, x4, x5, x6, x7);
        Sixteen<false>(bc, a, b, c, d, e, f, g, h, wk[0], nullptr, nullptr, x0, x1, x2, x3, x4, x5, x6, x7);
        H[0] += a;
        H[1] += b;
        H[2] += c;
        H[3] += d;
        H[4] += e;
        H[5] += f;
        H[6] += g;
        H[7] += h;
    }
}

}  // namespace sha_x86

#endif
