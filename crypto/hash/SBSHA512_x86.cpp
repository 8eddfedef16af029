// crypto/hash/SBSHA512_x86.cpp: the SHA-512 block function for processors with AVX-512VL: the
// two-block schedule of SHA512TwoBlocks.h with the small sigma functions in AVX-512VL.
//
// AVX-512VL matters only for its one-instruction 64-bit rotate and three-way XOR, used on
// 256-bit registers: each small sigma is three operations and one merge (processors without
// it take the AVX2 form of SBSHA512_avx2.cpp). This file alone is built with -mavx512f
// -mavx512vl -mbmi2 (crypto/hash/hashes.cmake), and runs only after sha_x86::Avx512Active() said
// yes. It computes exactly what the portable transform does.
#include "crypto/hash/SBSHA_x86.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__AVX512VL__) && defined(__BMI2__)

#include <immintrin.h>

#include "crypto/hash/SHA512TwoBlocks.h"

namespace sha_x86 {

namespace {

struct Avx512Sigmas {
    // ror1 ^ ror8 ^ shr7 (0x96 is the truth table of a three-way XOR).
    [[gnu::always_inline]] __m256i SmallS0(__m256i x) const {
        return _mm256_ternarylogic_epi64(_mm256_ror_epi64(x, 1), _mm256_ror_epi64(x, 8),
                                         _mm256_srli_epi64(x, 7), 0x96);
    }
    // ror19 ^ ror61 ^ shr6.
    [[gnu::always_inline]] __m256i SmallS1(__m256i x) const {
        return _mm256_ternarylogic_epi64(_mm256_ror_epi64(x, 19), _mm256_ror_epi64(x, 61),
                                         _mm256_srli_epi64(x, 6), 0x96);
    }
};

}  // namespace

void SHA512BlocksAvx512(uint64_t H[8], const uint8_t* data, size_t blocks) {
    SHA512TwoBlocks(H, data, blocks, Avx512Sigmas{});
}

}  // namespace sha_x86

#endif
