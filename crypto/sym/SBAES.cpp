// crypto/sym/SBAES.cpp: AES key expansion, the decryption-schedule conversion, and the block
// routines: table code for every CPU, and the dispatch to the AES instructions.
//
// The tables are computed at compile time from the field arithmetic that defines them: the
// S-box is the inverse in GF(2^8) (polynomial 0x11B) followed by the affine map; each round
// table folds the S-box (or its inverse) with the column mixing, in the four byte rotations.
// Rounds are templates on the round count, so each key size gets its own fully unrolled code.
// The CPU is asked once, here, whether it has the AES instructions; only then do the routines
// call into SBAES_aesni.cpp.
#include "crypto/sym/SBAES.h"

#include <atomic>
#include <cstring>

#include "crypto/sym/SBAES_aesni.h"
#include "rtl/Bytes.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace {

constexpr uint8_t Mul(uint8_t a, uint8_t b) {
    uint8_t product = 0;
    while (b != 0) {
        if (b & 1) product ^= a;
        a = uint8_t((a << 1) ^ ((a & 0x80) ? 0x1B : 0));
        b >>= 1;
    }
    return product;
}

constexpr uint8_t Rotl8(uint8_t x, int n) {
    return uint8_t((x << n) | (x >> (8 - n)));
}

struct Tables {
    uint32_t Te[4][256] = {};
    uint32_t Td[4][256] = {};
    uint32_t Sbox[256] = {};
    uint32_t InvSbox[256] = {};
};

constexpr Tables MakeTables() {
    Tables t;
    // Inverses through powers of the generator 3: 3^i has the inverse 3^(255 - i).
    uint8_t power[255] = {};
    uint8_t logarithm[256] = {};
    uint8_t x = 1;
    for (int i = 0; i < 255; ++i) {
        power[i] = x;
        logarithm[x] = uint8_t(i);
        x = Mul(x, 3);
    }
    uint8_t inverse[256] = {};
    for (int a = 1; a < 256; ++a)
        inverse[a] = power[(255 - logarithm[a]) % 255];
    for (int x = 0; x < 256; ++x) {
        const uint8_t b = inverse[x];
        const uint8_t s = uint8_t(b ^ Rotl8(b, 1) ^ Rotl8(b, 2) ^ Rotl8(b, 3) ^ Rotl8(b, 4) ^ 0x63);
        t.Sbox[x] = s;
        t.InvSbox[s] = uint32_t(x);
    }
    for (int x = 0; x < 256; ++x) {
        const uint8_t s = uint8_t(t.Sbox[x]);
        // A byte in row 0 contributes (2s, s, s, 3s) to rows 0..3 of its column.
        const uint32_t te =
            uint32_t(Mul(s, 2)) | uint32_t(s) << 8 | uint32_t(s) << 16 | uint32_t(Mul(s, 3)) << 24;
        const uint8_t is = uint8_t(t.InvSbox[x]);
        const uint32_t td = uint32_t(Mul(is, 14)) | uint32_t(Mul(is, 9)) << 8 | uint32_t(Mul(is, 13)) << 16 |
                            uint32_t(Mul(is, 11)) << 24;
        for (int r = 0; r < 4; ++r) {
            t.Te[r][x] = rtl::rotl32(te, unsigned(8 * r));
            t.Td[r][x] = rtl::rotl32(td, unsigned(8 * r));
        }
    }
    return t;
}

constexpr Tables kT = MakeTables();
constexpr uint32_t kRcon[10] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1B, 0x36};

inline uint32_t B0(uint32_t w) {
    return w & 0xFF;
}
inline uint32_t B1(uint32_t w) {
    return (w >> 8) & 0xFF;
}
inline uint32_t B2(uint32_t w) {
    return (w >> 16) & 0xFF;
}
inline uint32_t B3(uint32_t w) {
    return w >> 24;
}

inline uint32_t SubWord(uint32_t w) {
    return kT.Sbox[B0(w)] | kT.Sbox[B1(w)] << 8 | kT.Sbox[B2(w)] << 16 | kT.Sbox[B3(w)] << 24;
}

// Key expansion of nk key words, one group of nk words per step, steps whole.
void Expand(const uint8_t* key, int nk, int steps, uint32_t* w) {
    for (int i = 0; i < nk; ++i)
        w[i] = rtl::load_le32(key + 4 * i);
    for (int step = 0; step < steps; ++step) {
        uint32_t* group = w + nk * (step + 1);
        const uint32_t* back = group - nk;
        group[0] = back[0] ^ SubWord(rtl::rotr32(group[-1], 8)) ^ kRcon[step];
        for (int i = 1; i < nk; ++i) {
            uint32_t temp = group[i - 1];
            if (nk == 8 && i == 4) temp = SubWord(temp);
            group[i] = back[i] ^ temp;
        }
    }
}

// InvMixColumns of one column, four bytes at a time with the doubling trick.
inline uint32_t Double(uint32_t x) {
    return ((x & 0x7F7F7F7Fu) << 1) ^ (((x >> 7) & 0x01010101u) * 0x1B);
}
uint32_t InvMixColumn(uint32_t x) {
    const uint32_t x2 = Double(x), x4 = Double(x2), x8 = Double(x4);
    const uint32_t x9 = x8 ^ x, x11 = x8 ^ x2 ^ x, x13 = x8 ^ x4 ^ x, x14 = x8 ^ x4 ^ x2;
    return x14 ^ rtl::rotr32(x11, 8) ^ rtl::rotr32(x13, 16) ^ rtl::rotr32(x9, 24);
}

void ToDecryptSchedule(uint32_t* w, int rounds) {
    for (int i = 4; i < 4 * rounds; ++i)
        w[i] = InvMixColumn(w[i]);
}

template <int Nr>
void EncryptTable(const uint8_t* in, const uint32_t* rk, uint8_t* out) {
    uint32_t s0 = rtl::load_le32(in) ^ rk[0];
    uint32_t s1 = rtl::load_le32(in + 4) ^ rk[1];
    uint32_t s2 = rtl::load_le32(in + 8) ^ rk[2];
    uint32_t s3 = rtl::load_le32(in + 12) ^ rk[3];
    const auto& Te = kT.Te;
#pragma GCC unroll 14
    for (int r = 1; r < Nr; ++r) {
        const uint32_t* k = rk + 4 * r;
        const uint32_t t0 = Te[0][B0(s0)] ^ Te[1][B1(s1)] ^ Te[2][B2(s2)] ^ Te[3][B3(s3)] ^ k[0];
        const uint32_t t1 = Te[0][B0(s1)] ^ Te[1][B1(s2)] ^ Te[2][B2(s3)] ^ Te[3][B3(s0)] ^ k[1];
        const uint32_t t2 = Te[0][B0(s2)] ^ Te[1][B1(s3)] ^ Te[2][B2(s0)] ^ Te[3][B3(s1)] ^ k[2];
        const uint32_t t3 = Te[0][B0(s3)] ^ Te[1][B1(s0)] ^ Te[2][B2(s1)] ^ Te[3][B3(s2)] ^ k[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    const uint32_t* k = rk + 4 * Nr;
    const auto& S = kT.Sbox;
    rtl::store_le32(out, (S[B0(s0)] | S[B1(s1)] << 8 | S[B2(s2)] << 16 | S[B3(s3)] << 24) ^ k[0]);
    rtl::store_le32(out + 4, (S[B0(s1)] | S[B1(s2)] << 8 | S[B2(s3)] << 16 | S[B3(s0)] << 24) ^ k[1]);
    rtl::store_le32(out + 8, (S[B0(s2)] | S[B1(s3)] << 8 | S[B2(s0)] << 16 | S[B3(s1)] << 24) ^ k[2]);
    rtl::store_le32(out + 12, (S[B0(s3)] | S[B1(s0)] << 8 | S[B2(s1)] << 16 | S[B3(s2)] << 24) ^ k[3]);
}

template <int Nr>
void DecryptTable(const uint8_t* in, const uint32_t* rk, uint8_t* out) {
    const uint32_t* k = rk + 4 * Nr;
    uint32_t s0 = rtl::load_le32(in) ^ k[0];
    uint32_t s1 = rtl::load_le32(in + 4) ^ k[1];
    uint32_t s2 = rtl::load_le32(in + 8) ^ k[2];
    uint32_t s3 = rtl::load_le32(in + 12) ^ k[3];
    const auto& Td = kT.Td;
#pragma GCC unroll 14
    for (int r = Nr - 1; r >= 1; --r) {
        k = rk + 4 * r;
        const uint32_t t0 = Td[0][B0(s0)] ^ Td[1][B1(s3)] ^ Td[2][B2(s2)] ^ Td[3][B3(s1)] ^ k[0];
        const uint32_t t1 = Td[0][B0(s1)] ^ Td[1][B1(s0)] ^ Td[2][B2(s3)] ^ Td[3][B3(s2)] ^ k[1];
        const uint32_t t2 = Td[0][B0(s2)] ^ Td[1][B1(s1)] ^ Td[2][B2(s0)] ^ Td[3][B3(s3)] ^ k[2];
        const uint32_t t3 = Td[0][B0(s3)] ^ Td[1][B1(s2)] ^ Td[2][B2(s1)] ^ Td[3][B3(s0)] ^ k[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    const auto& IS = kT.InvSbox;
    rtl::store_le32(out, (IS[B0(s0)] | IS[B1(s3)] << 8 | IS[B2(s2)] << 16 | IS[B3(s1)] << 24) ^ rk[0]);
    rtl::store_le32(out + 4, (IS[B0(s1)] | IS[B1(s0)] << 8 | IS[B2(s3)] << 16 | IS[B3(s2)] << 24) ^ rk[1]);
    rtl::store_le32(out + 8, (IS[B0(s2)] | IS[B1(s1)] << 8 | IS[B2(s0)] << 16 | IS[B3(s3)] << 24) ^ rk[2]);
    rtl::store_le32(out + 12, (IS[B0(s3)] | IS[B1(s2)] << 8 | IS[B2(s1)] << 16 | IS[B3(s0)] << 24) ^ rk[3]);
}

// Asked here, in code built for the baseline processor: the instruction file may use its
// instructions anywhere, the check included.
bool CpuHasAesInstructions() {
#if defined(__x86_64__) || defined(__i386__)
    if (!aes_ni::kCompiledIn) return false;
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    return (c & bit_AES) != 0 && (c & bit_SSE4_1) != 0;
#else
    return false;
#endif
}

const bool kCpuHasAes = CpuHasAesInstructions();
std::atomic<bool> gUseInstructions{kCpuHasAes};

inline bool UseInstructions() {
    return gUseInstructions.load(std::memory_order_relaxed);
}

template <int Nr>
void EncryptMany(const uint8_t* in, const uint32_t* rk, uint8_t* out, size_t count) {
    if (UseInstructions()) return aes_ni::EncryptBlocks(rk, Nr, in, out, count);
    for (size_t i = 0; i < count; ++i)
        EncryptTable<Nr>(in + 16 * i, rk, out + 16 * i);
}

template <int Nr>
void DecryptMany(const uint8_t* in, const uint32_t* rk, uint8_t* out, size_t count) {
    if (UseInstructions()) return aes_ni::DecryptBlocks(rk, Nr, in, out, count);
    for (size_t i = 0; i < count; ++i)
        DecryptTable<Nr>(in + 16 * i, rk, out + 16 * i);
}

template <int Nr>
void DecryptManyCBC(const uint8_t* in, const uint32_t* rk, uint8_t* chain, uint8_t* out, size_t count) {
    if (UseInstructions()) return aes_ni::DecryptBlocksCBC(rk, Nr, in, chain, out, count);
    uint8_t previous[16];
    std::memcpy(previous, chain, 16);
    for (size_t i = 0; i < count; ++i) {
        uint8_t cipher[16];
        std::memcpy(cipher, in + 16 * i, 16);
        DecryptTable<Nr>(cipher, rk, out + 16 * i);
        for (int b = 0; b < 16; ++b)
            out[16 * i + b] ^= previous[b];
        std::memcpy(previous, cipher, 16);
    }
    std::memcpy(chain, previous, 16);
}

template <int Nr>
void EncryptManyCBC(const uint8_t* in, const uint32_t* rk, uint8_t* chain, uint8_t* out, size_t count) {
    if (UseInstructions()) return aes_ni::EncryptBlocksCBC(rk, Nr, in, chain, out, count);
    for (size_t i = 0; i < count; ++i) {
        for (int b = 0; b < 16; ++b)
            chain[b] ^= in[16 * i + b];
        EncryptTable<Nr>(chain, rk, chain);
        std::memcpy(out + 16 * i, chain, 16);
    }
}

template <int Nr>
void CounterMode(const uint8_t* in, const uint32_t* rk, uint8_t* counter, uint8_t* out, size_t count) {
    if (UseInstructions()) return aes_ni::EncryptBlocksCTR(rk, Nr, in, counter, out, count);
    uint64_t high = rtl::load_be64(counter), low = rtl::load_be64(counter + 8);
    for (size_t i = 0; i < count; ++i) {
        uint8_t block[16];
        rtl::store_be64(block, high);
        rtl::store_be64(block + 8, low);
        if (++low == 0) ++high;
        EncryptTable<Nr>(block, rk, block);
        for (int b = 0; b < 16; ++b)
            out[16 * i + b] = in[16 * i + b] ^ block[b];
    }
    rtl::store_be64(counter, high);
    rtl::store_be64(counter + 8, low);
}

}  // namespace

TAESExpandedKey128::~TAESExpandedKey128() {
    rtl::secure_wipe(W, sizeof W);
}
TAESExpandedKey192::~TAESExpandedKey192() {
    rtl::secure_wipe(W, sizeof W);
}
TAESExpandedKey256::~TAESExpandedKey256() {
    rtl::secure_wipe(W, sizeof W);
}

void AESExpandKey128(const uint8_t* key, TAESExpandedKey128& schedule) {
    Expand(key, 4, 10, schedule.W);
}
void AESExpandKey192(const uint8_t* key, TAESExpandedKey192& schedule) {
    Expand(key, 6, 8, schedule.W);
}
void AESExpandKey256(const uint8_t* key, TAESExpandedKey256& schedule) {
    Expand(key, 8, 7, schedule.W);
}

void AESDecryptKeySchedule128(TAESExpandedKey128& schedule) {
    ToDecryptSchedule(schedule.W, 10);
}
void AESDecryptKeySchedule192(TAESExpandedKey192& schedule) {
    ToDecryptSchedule(schedule.W, 12);
}
void AESDecryptKeySchedule256(TAESExpandedKey256& schedule) {
    ToDecryptSchedule(schedule.W, 14);
}

void AESEncryptBlock128(const uint8_t* input, const TAESExpandedKey128& schedule, uint8_t* output) {
    EncryptMany<10>(input, schedule.W, output, 1);
}
void AESEncryptBlock192(const uint8_t* input, const TAESExpandedKey192& schedule, uint8_t* output) {
    EncryptMany<12>(input, schedule.W, output, 1);
}
void AESEncryptBlock256(const uint8_t* input, const TAESExpandedKey256& schedule, uint8_t* output) {
    EncryptMany<14>(input, schedule.W, output, 1);
}
void AESDecryptBlock128(const uint8_t* input, const TAESExpandedKey128& schedule, uint8_t* output) {
    DecryptMany<10>(input, schedule.W, output, 1);
}
void AESDecryptBlock192(const uint8_t* input, const TAESExpandedKey192& schedule, uint8_t* output) {
    DecryptMany<12>(input, schedule.W, output, 1);
}
void AESDecryptBlock256(const uint8_t* input, const TAESExpandedKey256& schedule, uint8_t* output) {
    DecryptMany<14>(input, schedule.W, output, 1);
}

void AESEncryptBlocks128(const uint8_t* input, const TAESExpandedKey128& schedule, uint8_t* output,
                         size_t count) {
    EncryptMany<10>(input, schedule.W, output, count);
}
void AESEncryptBlocks192(const uint8_t* input, const TAESExpandedKey192& schedule, uint8_t* output,
                         size_t count) {
    EncryptMany<12>(input, schedule.W, output, count);
}
void AESEncryptBlocks256(const uint8_t* input, const TAESExpandedKey256& schedule, uint8_t* output,
                         size_t count) {
    EncryptMany<14>(input, schedule.W, output, count);
}
void AESDecryptBlocks128(const uint8_t* input, const TAESExpandedKey128& schedule, uint8_t* output,
                         size_t count) {
    DecryptMany<10>(input, schedule.W, output, count);
}
void AESDecryptBlocks192(const uint8_t* input, const TAESExpandedKey192& schedule, uint8_t* output,
                         size_t count) {
    DecryptMany<12>(input, schedule.W, output, count);
}
void AESDecryptBlocks256(const uint8_t* input, const TAESExpandedKey256& schedule, uint8_t* output,
                         size_t count) {
    DecryptMany<14>(input, schedule.W, output, count);
}

void AESDecryptBlocksCBC128(const uint8_t* input, const TAESExpandedKey128& schedule, uint8_t* chain,
                            uint8_t* output, size_t count) {
    DecryptManyCBC<10>(input, schedule.W, chain, output, count);
}
void AESDecryptBlocksCBC192(const uint8_t* input, const TAESExpandedKey192& schedule, uint8_t* chain,
                            uint8_t* output, size_t count) {
    DecryptManyCBC<12>(input, schedule.W, chain, output, count);
}
void AESDecryptBlocksCBC256(const uint8_t* input, const TAESExpandedKey256& schedule, uint8_t* chain,
                            uint8_t* output, size_t count) {
    DecryptManyCBC<14>(input, schedule.W, chain, output, count);
}

void AESEncryptBlocksCBC128(const uint8_t* input, const TAESExpandedKey128& schedule, uint8_t* chain,
                            uint8_t* output, size_t count) {
    EncryptManyCBC<10>(input, schedule.W, chain, output, count);
}
void AESEncryptBlocksCBC192(const uint8_t* input, const TAESExpandedKey192& schedule, uint8_t* chain,
                            uint8_t* output, size_t count) {
    EncryptManyCBC<12>(input, schedule.W, chain, output, count);
}
void AESEncryptBlocksCBC256(const uint8_t* input, const TAESExpandedKey256& schedule, uint8_t* chain,
                            uint8_t* output, size_t count) {
    EncryptManyCBC<14>(input, schedule.W, chain, output, count);
}

void AESEncryptBlocksCTR128(const uint8_t* input, const TAESExpandedKey128& schedule, uint8_t* counter,
                            uint8_t* output, size_t count) {
    CounterMode<10>(input, schedule.W, counter, output, count);
}
void AESEncryptBlocksCTR192(const uint8_t* input, const TAESExpandedKey192& schedule, uint8_t* counter,
                            uint8_t* output, size_t count) {
    CounterMode<12>(input, schedule.W, counter, output, count);
}
void AESEncryptBlocksCTR256(const uint8_t* input, const TAESExpandedKey256& schedule, uint8_t* counter,
                            uint8_t* output, size_t count) {
    CounterMode<14>(input, schedule.W, counter, output, count);
}

bool AESHardwareAccelerationAvailable() {
    return kCpuHasAes;
}
bool AESHardwareAccelerationActive() {
    return UseInstructions();
}
void AESSetHardwareAcceleration(bool enabled) {
    gUseInstructions.store(enabled && kCpuHasAes);
}
