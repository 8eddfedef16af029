// crypto/hash/SBSHA_x86.cpp: SHA-1 and SHA-256 block functions on the processor's SHA extensions.
//
// This is the only file built with -msha -msse4.1 -mssse3 (crypto/hash/hashes.cmake); nothing here
// may run before sha_x86::ShaExtensionsActive() said yes. Both functions compute exactly what
// the portable transforms compute, and the tests run the two on the same vectors.
//
// Register layouts the instructions expect:
// - SHA-1: ABCD in one register with A in the top lane; E rides in the top lane of the
//   message register of the next four rounds (sha1nexte adds it); message words W[4k..4k+3]
//   with W[4k] in the top lane.
// - SHA-256: the state split into ABEF and CDGH (A and C in the top lanes); message words
//   W[4k..4k+3] with W[4k] in the low lane; sha256rnds2 runs two rounds on the low half of
//   W + K.
#include "crypto/hash/SBSHA_x86.h"

#include "crypto/hash/SHA2Constants.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__SHA__) && defined(__SSE4_1__)

#include <immintrin.h>

#include <utility>

namespace sha_x86 {

namespace {

// SHA-1: four rounds of group K (0..19); the round function and constant change every five
// groups, and sha1rnds4 takes them as an immediate.
template <int K>
inline void Sha1Group(__m128i& abcd, __m128i& prev, __m128i (&m)[4]) {
    if constexpr (K >= 4) {
        // W[t] = rotl1(W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16]) for the four words of group K.
        __m128i x = _mm_sha1msg1_epu32(m[K & 3], m[(K + 1) & 3]);
        x = _mm_xor_si128(x, m[(K + 2) & 3]);
        m[K & 3] = _mm_sha1msg2_epu32(x, m[(K + 3) & 3]);
    }
    // E for these four rounds is rotl30 of A as it stood four rounds back.
    const __m128i x = _mm_sha1nexte_epu32(prev, m[K & 3]);
    prev = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, x, K / 5);
}

template <int... K>
inline void Sha1Groups(__m128i& abcd, __m128i& prev, __m128i (&m)[4], std::integer_sequence<int, K...>) {
    (Sha1Group<K + 1>(abcd, prev, m), ...);
}

using sha2_constants::K256;

template <int K>
inline void Sha256Group(__m128i& abef, __m128i& cdgh, __m128i (&m)[4]) {
    if constexpr (K >= 4) {
        // W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16]; W[t-7..t-4] straddles two registers.
        __m128i x = _mm_sha256msg1_epu32(m[K & 3], m[(K + 1) & 3]);
        x = _mm_add_epi32(x, _mm_alignr_epi8(m[(K + 3) & 3], m[(K + 2) & 3], 4));
        m[K & 3] = _mm_sha256msg2_epu32(x, m[(K + 3) & 3]);
    }
    __m128i wk = _mm_add_epi32(m[K & 3], _mm_load_si128(reinterpret_cast<const __m128i*>(K256 + 4 * K)));
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
    wk = _mm_shuffle_epi32(wk, 0x0E);
    abef = _mm_sha256rnds2_epu32(abef, cdgh, wk);
}

template <int... K>
inline void Sha256Groups(__m128i& abef, __m128i& cdgh, __m128i (&m)[4], std::integer_sequence<int, K...>) {
    (Sha256Group<K>(abef, cdgh, m), ...);
}

}  // namespace

void SHA1Blocks(uint32_t H[5], const uint8_t* data, size_t blocks) {
    // Reverses all 16 bytes: big-endian words, first word in the top lane.
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(H)), 0x1B);
    __m128i e = _mm_set_epi32(int(H[4]), 0, 0, 0);

    for (size_t n = 0; n < blocks; ++n, data += 64) {
        const __m128i abcdSaved = abcd;
        const __m128i eSaved = e;
        __m128i m[4];
        for (int i = 0; i < 4; ++i)
            m[i] =
                _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), reverse);

        __m128i prev = abcd;
        abcd = _mm_sha1rnds4_epu32(abcd, _mm_add_epi32(e, m[0]), 0);
        Sha1Groups(abcd, prev, m, std::make_integer_sequence<int, 19>());

        e = _mm_sha1nexte_epu32(prev, eSaved);
        abcd = _mm_add_epi32(abcd, abcdSaved);
    }

    _mm_storeu_si128(reinterpret_cast<__m128i*>(H), _mm_shuffle_epi32(abcd, 0x1B));
    H[4] = uint32_t(_mm_extract_epi32(e, 3));
}

void SHA256Blocks(uint32_t H[8], const uint8_t* data, size_t blocks) {
    // Byte-swaps each 32-bit word in place.
    const __m128i swap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);

    __m128i abcd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(H));      // a b c d (a low)
    __m128i efgh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(H + 4));  // e f g h
    abcd = _mm_shuffle_epi32(abcd, 0xB1);                                     // b a d c
    efgh = _mm_shuffle_epi32(efgh, 0x1B);                                     // h g f e
    __m128i abef = _mm_alignr_epi8(abcd, efgh, 8);                            // f e b a
    __m128i cdgh = _mm_blend_epi16(efgh, abcd, 0xF0);                         // h g d c

    for (size_t n = 0; n < blocks; ++n, data += 64) {
        const __m128i abefSaved = abef;
        const __m128i cdghSaved = cdgh;
        __m128i m[4];
        for (int i = 0; i < 4; ++i)
            m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), swap);
        Sha256Groups(abef, cdgh, m, std::make_integer_sequence<int, 16>());
        abef = _mm_add_epi32(abef, abefSaved);
        cdgh = _mm_add_epi32(cdgh, cdghSaved);
    }

    const __m128i abef2 = _mm_shuffle_epi32(abef, 0x1B);  // a b e f
    const __m128i ghcd = _mm_shuffle_epi32(cdgh, 0xB1);   // g h c d
    _mm_storeu_si128(reinterpret_cast<__m128i*>(H), _mm_blend_epi16(abef2, ghcd, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(H + 4), _mm_alignr_epi8(ghcd, abef2, 8));
}

}  // namespace sha_x86

#endif
