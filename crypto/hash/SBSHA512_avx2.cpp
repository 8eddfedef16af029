// crypto/hash/SBSHA512_avx2.cpp: the SHA-512 block function for processors with AVX2 and BMI2 but
// no AVX-512: the two-block schedule of SHA512TwoBlocks.h with the small sigma functions in
// AVX2.
//
// AVX2 has no 64-bit rotate: each rotate of the schedule is two shifts, or one byte shuffle
// for the rotate by 8. This file alone is built with -mavx2 -mbmi2 (crypto/hash/hashes.cmake) and
// runs only after sha_x86::Avx2Active() said yes. It computes exactly what the portable
// transform does.
#include "crypto/hash/SBSHA_x86.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__AVX2__) && defined(__BMI2__)

#include <immintrin.h>

#include "crypto/hash/SHA512TwoBlocks.h"

namespace sha_x86 {

namespace {

struct Avx2Sigmas {
    // Rotates each word right by 8: byte i of a word takes byte i + 1.
    __m256i ror8 = _mm256_set_epi8(8, 15, 14, 13, 12, 11, 10, 9, 0, 7, 6, 5, 4, 3, 2, 1, 8, 15, 14, 13, 12,
                                   11, 10, 9, 0, 7, 6, 5, 4, 3, 2, 1);

    // ror1 ^ ror8 ^ shr7.
    [[gnu::always_inline]] __m256i SmallS0(__m256i x) const {
        const __m256i shifts = _mm256_xor_si256(_mm256_srli_epi64(x, 1), _mm256_srli_epi64(x, 7));
        return _mm256_xor_si256(_mm256_xor_si256(shifts, _mm256_slli_epi64(x, 63)),
                                _mm256_shuffle_epi8(x, ror8));
    }
    // ror19 ^ ror61 ^ shr6.
    [[gnu::always_inline]] __m256i SmallS1(__m256i x) const {
        const __m256i right = _mm256_xor_si256(
            _mm256_xor_si256(_mm256_srli_epi64(x, 19), _mm256_srli_epi64(x, 61)), _mm256_srli_epi64(x, 6));
        return _mm256_xor_si256(right, _mm256_xor_si256(_mm256_slli_epi64(x, 45), _mm256_slli_epi64(x, 3)));
    }
};

}  // namespace

void SHA512BlocksAvx2(uint64_t H[8], const uint8_t* data, size_t blocks) {
    SHA512TwoBlocks(H, data, blocks, Avx2Sigmas{});
}

}  // namespace sha_x86

#endif
