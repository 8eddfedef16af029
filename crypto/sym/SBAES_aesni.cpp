// crypto/sym/SBAES_aesni.cpp: AES on the CPU's AES instructions, compiled with -maes -msse4.1
// (crypto/sym/ciphers-a.cmake) and chosen at run time by SBAES, which asks the CPU first: no
// function here runs on a processor without the instructions.
//
// Independent blocks go through the rounds eight at a time, so the instructions' latency is
// hidden behind each other's work; a single block waits on every round. CTR and CBC
// decryption are parallel too: all ciphertext blocks of a group are loaded before any output
// is stored, which keeps in-place use correct. The round keys are the schedule's words read as
// they lie in memory: little-endian columns are exactly the byte order the instructions
// expect.
#include "crypto/sym/SBAES_aesni.h"

#if defined(__AES__) && defined(__SSE4_1__)

#include <immintrin.h>

namespace aes_ni {

const bool kCompiledIn = true;

namespace {

constexpr size_t kLanes = 8;

template <int Nr>
struct Keys {
    __m128i k[Nr + 1];
    explicit Keys(const uint32_t* words) {
        for (int r = 0; r <= Nr; ++r)
            k[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + 4 * r));
    }
};

inline __m128i Load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void Store(uint8_t* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

template <int Nr>
void Encrypt(const uint32_t* words, const uint8_t* in, uint8_t* out, size_t count) {
    const Keys<Nr> keys(words);
    const __m128i* k = keys.k;
    for (; count >= kLanes; count -= kLanes, in += 16 * kLanes, out += 16 * kLanes) {
        __m128i b[kLanes];
#pragma GCC unroll 8
        for (size_t i = 0; i < kLanes; ++i)
            b[i] = _mm_xor_si128(Load(in + 16 * i), k[0]);
#pragma GCC unroll 14
        for (int r = 1; r < Nr; ++r) {
#pragma GCC unroll 8
            for (size_t i = 0; i < kLanes; ++i)
                b[i] = _mm_aesenc_si128(b[i], k[r]);
        }
#pragma GCC unroll 8
        for (size_t i = 0; i < kLanes; ++i)
            Store(out + 16 * i, _mm_aesenclast_si128(b[i], k[Nr]));
    }
    for (; count > 0; --count, in += 16, out += 16) {
        __m128i b = _mm_xor_si128(Load(in), k[0]);
#pragma GCC unroll 14
        for (int r = 1; r < Nr; ++r)
            b = _mm_aesenc_si128(b, k[r]);
        Store(out, _mm_aesenclast_si128(b, k[Nr]));
    }
}

// Decrypts kLanes (or one) loaded blocks in place in b.
template <int Nr, size_t N>
inline void DecryptLanes(__m128i (&b)[N], const __m128i* k) {
#pragma GCC unroll 8
    for (size_t i = 0; i < N; ++i)
        b[i] = _mm_xor_si128(b[i], k[Nr]);
#pragma GCC unroll 14
    for (int r = Nr - 1; r >= 1; --r) {
#pragma GCC unroll 8
        for (size_t i = 0; i < N; ++i)
            b[i] = _mm_aesdec_si128(b[i], k[r]);
    }
#pragma GCC unroll 8
    for (size_t i = 0; i < N; ++i)
        b[i] = _mm_aesdeclast_si128(b[i], k[0]);
}

template <int Nr>
void Decrypt(const uint32_t* words, const uint8_t* in, uint8_t* out, size_t count) {
    const Keys<Nr> keys(words);
    for (; count >= kLanes; count -= kLanes, in += 16 * kLanes, out += 16 * kLanes) {
        __m128i b[kLanes];
#pragma GCC unroll 8
        for (size_t i = 0; i < kLanes; ++i)
            b[i] = Load(in + 16 * i);
        DecryptLanes<Nr>(b, keys.k);
#pragma GCC unroll 8
        for (size_t i = 0; i < kLanes; ++i)
            Store(out + 16 * i, b[i]);
    }
    for (; count > 0; --count, in += 16, out += 16) {
        __m128i b[1] = {Load(in)};
        DecryptLanes<Nr>(b, keys.k);
        Store(out, b[0]);
    }
}

template <int Nr>
void DecryptCBC(const uint32_t* words, const uint8_t* in, uint8_t* chain, uint8_t* out, size_t count) {
    const Keys<Nr> keys(words);
    __m128i previous = Load(chain);
    for (; count >= kLanes; count -= kLanes, in += 16 * kLanes, out += 16 * kLanes) {
        __m128i c[kLanes], b[kLanes];
#pragma GCC unroll 8
        for (size_t i = 0; i < kLanes; ++i)
            b[i] = c[i] = Load(in + 16 * i);
        DecryptLanes<Nr>(b, keys.k);
        Store(out, _mm_xor_si128(b[0], previous));
#pragma GCC unroll 8
        for (size_t i = 1; i < kLanes; ++i)
            Store(out + 16 * i, _mm_xor_si128(b[i], c[i - 1]));
        previous = c[kLanes - 1];
    }
    for (; count > 0; --count, in += 16, out += 16) {
        const __m128i c = Load(in);
        __m128i b[1] = {c};
        DecryptLanes<Nr>(b, keys.k);
        Store(out, _mm_xor_si128(b[0], previous));
        previous = c;
    }
    Store(chain, previous);
}

// CBC encryption is a chain: each block waits for the one before, so there is nothing to run
// side by side; the gain over block-at-a-time calls is that the round keys stay in registers.
template <int Nr>
void EncryptCBC(const uint32_t* words, const uint8_t* in, uint8_t* chain, uint8_t* out, size_t count) {
    const Keys<Nr> keys(words);
    const __m128i* k = keys.k;
    __m128i c = Load(chain);
    for (; count > 0; --count, in += 16, out += 16) {
        c = _mm_xor_si128(_mm_xor_si128(c, Load(in)), k[0]);
#pragma GCC unroll 14
        for (int r = 1; r < Nr; ++r)
            c = _mm_aesenc_si128(c, k[r]);
        c = _mm_aesenclast_si128(c, k[Nr]);
        Store(out, c);
    }
    Store(chain, c);
}

// Encrypts kLanes (or one) blocks in place in b.
template <int Nr, size_t N>
inline void EncryptLanes(__m128i (&b)[N], const __m128i* k) {
#pragma GCC unroll 8
    for (size_t i = 0; i < N; ++i)
        b[i] = _mm_xor_si128(b[i], k[0]);
#pragma GCC unroll 14
    for (int r = 1; r < Nr; ++r) {
#pragma GCC unroll 8
        for (size_t i = 0; i < N; ++i)
            b[i] = _mm_aesenc_si128(b[i], k[r]);
    }
#pragma GCC unroll 8
    for (size_t i = 0; i < N; ++i)
        b[i] = _mm_aesenclast_si128(b[i], k[Nr]);
}

// The counter is kept as a 128-bit little-endian number in a register (low half first) and
// byte-reversed into the big-endian counter block; while the low half cannot overflow within
// a group the eight counters are one vector add each, otherwise they are built one by one.
template <int Nr>
void CTR(const uint32_t* words, const uint8_t* in, uint8_t* counter, uint8_t* out, size_t count) {
    const Keys<Nr> keys(words);
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m128i one = _mm_set_epi64x(0, 1);
    __m128i value = _mm_shuffle_epi8(Load(counter), reverse);
    auto next = [&](__m128i v) {
        const __m128i sum = _mm_add_epi64(v, one);
        // A low half that wrapped to zero carries into the high half.
        const __m128i carry = _mm_slli_si128(_mm_cmpeq_epi64(sum, _mm_setzero_si128()), 8);
        return _mm_sub_epi64(sum, carry);
    };
    for (; count >= kLanes; count -= kLanes, in += 16 * kLanes, out += 16 * kLanes) {
        __m128i b[kLanes];
        const uint64_t low = uint64_t(_mm_cvtsi128_si64(value));
        if (low <= UINT64_MAX - kLanes) {
#pragma GCC unroll 8
            for (size_t i = 0; i < kLanes; ++i)
                b[i] = _mm_shuffle_epi8(_mm_add_epi64(value, _mm_set_epi64x(0, int64_t(i))), reverse);
            value = _mm_add_epi64(value, _mm_set_epi64x(0, int64_t(kLanes)));
        } else {
            for (size_t i = 0; i < kLanes; ++i) {
                b[i] = _mm_shuffle_epi8(value, reverse);
                value = next(value);
            }
        }
        EncryptLanes<Nr>(b, keys.k);
#pragma GCC unroll 8
        for (size_t i = 0; i < kLanes; ++i)
            Store(out + 16 * i, _mm_xor_si128(b[i], Load(in + 16 * i)));
    }
    for (; count > 0; --count, in += 16, out += 16) {
        __m128i b[1] = {_mm_shuffle_epi8(value, reverse)};
        value = next(value);
        EncryptLanes<Nr>(b, keys.k);
        Store(out, _mm_xor_si128(b[0], Load(in)));
    }
    Store(counter, _mm_shuffle_epi8(value, reverse));
}

}  // namespace

void EncryptBlocks(const uint32_t* roundKeys, int rounds, const uint8_t* in, uint8_t* out, size_t count) {
    switch (rounds) {
        case 10:
            return Encrypt<10>(roundKeys, in, out, count);
        case 12:
            return Encrypt<12>(roundKeys, in, out, count);
        default:
            return Encrypt<14>(roundKeys, in, out, count);
    }
}

void DecryptBlocks(const uint32_t* roundKeys, int rounds, const uint8_t* in, uint8_t* out, size_t count) {
    switch (rounds) {
        case 10:
            return Decrypt<10>(roundKeys, in, out, count);
        case 12:
            return Decrypt<12>(roundKeys, in, out, count);
        default:
            return Decrypt<14>(roundKeys, in, out, count);
    }
}

void DecryptBlocksCBC(const uint32_t* roundKeys, int rounds, const uint8_t* in, uint8_t* chain, uint8_t* out,
                      size_t count) {
    switch (rounds) {
        case 10:
            return DecryptCBC<10>(roundKeys, in, chain, out, count);
        case 12:
            return DecryptCBC<12>(roundKeys, in, chain, out, count);
        default:
            return DecryptCBC<14>(roundKeys, in, chain, out, count);
    }
}

void EncryptBlocksCBC(const uint32_t* roundKeys, int rounds, const uint8_t* in, uint8_t* chain, uint8_t* out,
                      size_t count) {
    switch (rounds) {
        case 10:
            return EncryptCBC<10>(roundKeys, in, chain, out, count);
        case 12:
            return EncryptCBC<12>(roundKeys, in, chain, out, count);
        default:
            return EncryptCBC<14>(roundKeys, in, chain, out, count);
    }
}

void EncryptBlocksCTR(const uint32_t* roundKeys, int rounds, const uint8_t* in, uint8_t* counter,
                      uint8_t* out, size_t count) {
    switch (rounds) {
        case 10:
            return CTR<10>(roundKeys, in, counter, out, count);
        case 12:
            return CTR<12>(roundKeys, in, counter, out, count);
        default:
            return CTR<14>(roundKeys, in, counter, out, count);
    }
}

}  // namespace aes_ni

#else  // a build without the instructions: SBAES never leaves its table code

namespace aes_ni {

const bool kCompiledIn = false;
void EncryptBlocks(const uint32_t*, int, const uint8_t*, uint8_t*, size_t) {}
void DecryptBlocks(const uint32_t*, int, const uint8_t*, uint8_t*, size_t) {}
void DecryptBlocksCBC(const uint32_t*, int, const uint8_t*, uint8_t*, uint8_t*, size_t) {}
void EncryptBlocksCBC(const uint32_t*, int, const uint8_t*, uint8_t*, uint8_t*, size_t) {}
void EncryptBlocksCTR(const uint32_t*, int, const uint8_t*, uint8_t*, uint8_t*, size_t) {}

}  // namespace aes_ni

#endif
