// common/aCRC32_pclmul.cpp: CRC-32 by folding with carry-less multiplication.
//
// Four 128-bit lanes are folded forward 64 bytes at a time, then into one lane, then reduced
// from 128 to 32 bits with a Barrett step. The constants are x^e mod P(x) for the fold
// distances e (bit-reflected, shifted left by one), and floor(x^64 / P(x)) for Barrett:
//   e=544: 0x154442BD4   e=480: 0x1C6E41596   (fold by 64 bytes)
//   e=160: 0x1751997D0   e=96:  0x0CCAA009E   (fold by 16 bytes)
//   e=64:  0x163CD6124                          (64 -> 32 bits)
//   P' = 0x1DB710641, mu' = 0x1F7011641
// This file is compiled with -mpclmul -msse4.1 and entered only after the CPU check.
#include <cpuid.h>
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

namespace crc32_detail {

uint32_t UpdatePortable(const uint8_t* p, size_t n, uint32_t crc);

bool PclmulSupported() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    return (c & bit_PCLMUL) && (c & bit_SSE4_1);
}

uint32_t UpdatePclmul(const uint8_t* p, size_t n, uint32_t crc) {
    const __m128i k1k2 = _mm_set_epi64x(0x1C6E41596, 0x154442BD4);
    const __m128i k3k4 = _mm_set_epi64x(0x0CCAA009E, 0x1751997D0);
    const __m128i k5 = _mm_set_epi64x(0, 0x163CD6124);
    const __m128i poly = _mm_set_epi64x(0x1F7011641, 0x1DB710641);
    const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);

    auto load = [](const uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
    auto fold = [](__m128i x, __m128i k, __m128i data) {
        const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
        const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
        return _mm_xor_si128(_mm_xor_si128(lo, hi), data);
    };

    __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(int(crc)));
    __m128i x1 = load(p + 16);
    __m128i x2 = load(p + 32);
    __m128i x3 = load(p + 48);
    p += 64;
    n -= 64;

    while (n >= 64) {
        x0 = fold(x0, k1k2, load(p));
        x1 = fold(x1, k1k2, load(p + 16));
        x2 = fold(x2, k1k2, load(p + 32));
        x3 = fold(x3, k1k2, load(p + 48));
        p += 64;
        n -= 64;
    }

    // Four lanes into one.
    x0 = fold(x0, k3k4, x1);
    x0 = fold(x0, k3k4, x2);
    x0 = fold(x0, k3k4, x3);
    while (n >= 16) {
        x0 = fold(x0, k3k4, load(p));
        p += 16;
        n -= 16;
    }

    // 128 -> 64 bits.
    __m128i t = _mm_clmulepi64_si128(x0, k3k4, 0x10);
    x0 = _mm_xor_si128(_mm_srli_si128(x0, 8), t);
    // 64 -> 32 bits.
    t = _mm_srli_si128(x0, 4);
    x0 = _mm_clmulepi64_si128(_mm_and_si128(x0, mask32), k5, 0x00);
    x0 = _mm_xor_si128(x0, t);
    // Barrett reduction.
    t = _mm_clmulepi64_si128(_mm_and_si128(x0, mask32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), poly, 0x00);
    x0 = _mm_xor_si128(x0, t);
    crc = uint32_t(_mm_extract_epi32(x0, 1));

    return n ? UpdatePortable(p, n, crc) : crc;
}

}  // namespace crc32_detail
