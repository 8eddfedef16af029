// crypto/sym/SBCAST128.cpp: CAST-128 key schedule and rounds.
//
// The key schedule runs the same four-step transformation of the 128-bit key twice: the
// first pass gives the masking subkeys, the second the rotation subkeys. The bytes x0..xF
// and z0..zF are kept as four big-endian words each and picked apart by shifts. The rounds
// are written out in full, three round-function types in turn.
#include "crypto/sym/SBCAST128.h"

#include "rtl/Bytes.h"
#include "rtl/Format.h"

namespace {

#include "crypto/sym/tables/SBCAST128Tables.inc"

// Byte n (0 = most significant) of the 16-byte value held as four big-endian words.
inline uint32_t B(const uint32_t (&w)[4], int n) {
    return (w[n >> 2] >> (24 - 8 * (n & 3))) & 0xff;
}

// One pass of the schedule: x is updated in place and 16 subkey words are produced.
void SchedulePass(uint32_t (&x)[4], uint32_t (&z)[4], uint32_t* K) {
    const auto& S5 = kCastS5;
    const auto& S6 = kCastS6;
    const auto& S7 = kCastS7;
    const auto& S8 = kCastS8;

    z[0] = x[0] ^ S5[B(x, 0xD)] ^ S6[B(x, 0xF)] ^ S7[B(x, 0xC)] ^ S8[B(x, 0xE)] ^ S7[B(x, 0x8)];
    z[1] = x[2] ^ S5[B(z, 0x0)] ^ S6[B(z, 0x2)] ^ S7[B(z, 0x1)] ^ S8[B(z, 0x3)] ^ S8[B(x, 0xA)];
    z[2] = x[3] ^ S5[B(z, 0x7)] ^ S6[B(z, 0x6)] ^ S7[B(z, 0x5)] ^ S8[B(z, 0x4)] ^ S5[B(x, 0x9)];
    z[3] = x[1] ^ S5[B(z, 0xA)] ^ S6[B(z, 0x9)] ^ S7[B(z, 0xB)] ^ S8[B(z, 0x8)] ^ S6[B(x, 0xB)];
    K[0] = S5[B(z, 0x8)] ^ S6[B(z, 0x9)] ^ S7[B(z, 0x7)] ^ S8[B(z, 0x6)] ^ S5[B(z, 0x2)];
    K[1] = S5[B(z, 0xA)] ^ S6[B(z, 0xB)] ^ S7[B(z, 0x5)] ^ S8[B(z, 0x4)] ^ S6[B(z, 0x6)];
    K[2] = S5[B(z, 0xC)] ^ S6[B(z, 0xD)] ^ S7[B(z, 0x3)] ^ S8[B(z, 0x2)] ^ S7[B(z, 0x9)];
    K[3] = S5[B(z, 0xE)] ^ S6[B(z, 0xF)] ^ S7[B(z, 0x1)] ^ S8[B(z, 0x0)] ^ S8[B(z, 0xC)];

    x[0] = z[2] ^ S5[B(z, 0x5)] ^ S6[B(z, 0x7)] ^ S7[B(z, 0x4)] ^ S8[B(z, 0x6)] ^ S7[B(z, 0x0)];
    x[1] = z[0] ^ S5[B(x, 0x0)] ^ S6[B(x, 0x2)] ^ S7[B(x, 0x1)] ^ S8[B(x, 0x3)] ^ S8[B(z, 0x2)];
    x[2] = z[1] ^ S5[B(x, 0x7)] ^ S6[B(x, 0x6)] ^ S7[B(x, 0x5)] ^ S8[B(x, 0x4)] ^ S5[B(z, 0x1)];
    x[3] = z[3] ^ S5[B(x, 0xA)] ^ S6[B(x, 0x9)] ^ S7[B(x, 0xB)] ^ S8[B(x, 0x8)] ^ S6[B(z, 0x3)];
    K[4] = S5[B(x, 0x3)] ^ S6[B(x, 0x2)] ^ S7[B(x, 0xC)] ^ S8[B(x, 0xD)] ^ S5[B(x, 0x8)];
    K[5] = S5[B(x, 0x1)] ^ S6[B(x, 0x0)] ^ S7[B(x, 0xE)] ^ S8[B(x, 0xF)] ^ S6[B(x, 0xD)];
    K[6] = S5[B(x, 0x7)] ^ S6[B(x, 0x6)] ^ S7[B(x, 0x8)] ^ S8[B(x, 0x9)] ^ S7[B(x, 0x3)];
    K[7] = S5[B(x, 0x5)] ^ S6[B(x, 0x4)] ^ S7[B(x, 0xA)] ^ S8[B(x, 0xB)] ^ S8[B(x, 0x7)];

    z[0] = x[0] ^ S5[B(x, 0xD)] ^ S6[B(x, 0xF)] ^ S7[B(x, 0xC)] ^ S8[B(x, 0xE)] ^ S7[B(x, 0x8)];
    z[1] = x[2] ^ S5[B(z, 0x0)] ^ S6[B(z, 0x2)] ^ S7[B(z, 0x1)] ^ S8[B(z, 0x3)] ^ S8[B(x, 0xA)];
    z[2] = x[3] ^ S5[B(z, 0x7)] ^ S6[B(z, 0x6)] ^ S7[B(z, 0x5)] ^ S8[B(z, 0x4)] ^ S5[B(x, 0x9)];
    z[3] = x[1] ^ S5[B(z, 0xA)] ^ S6[B(z, 0x9)] ^ S7[B(z, 0xB)] ^ S8[B(z, 0x8)] ^ S6[B(x, 0xB)];
    K[8] = S5[B(z, 0x3)] ^ S6[B(z, 0x2)] ^ S7[B(z, 0xC)] ^ S8[B(z, 0xD)] ^ S5[B(z, 0x9)];
    K[9] = S5[B(z, 0x1)] ^ S6[B(z, 0x0)] ^ S7[B(z, 0xE)] ^ S8[B(z, 0xF)] ^ S6[B(z, 0xC)];
    K[10] = S5[B(z, 0x7)] ^ S6[B(z, 0x6)] ^ S7[B(z, 0x8)] ^ S8[B(z, 0x9)] ^ S7[B(z, 0x2)];
    K[11] = S5[B(z, 0x5)] ^ S6[B(z, 0x4)] ^ S7[B(z, 0xA)] ^ S8[B(z, 0xB)] ^ S8[B(z, 0x6)];

    x[0] = z[2] ^ S5[B(z, 0x5)] ^ S6[B(z, 0x7)] ^ S7[B(z, 0x4)] ^ S8[B(z, 0x6)] ^ S7[B(z, 0x0)];
    x[1] = z[0] ^ S5[B(x, 0x0)] ^ S6[B(x, 0x2)] ^ S7[B(x, 0x1)] ^ S8[B(x, 0x3)] ^ S8[B(z, 0x2)];
    x[2] = z[1] ^ S5[B(x, 0x7)] ^ S6[B(x, 0x6)] ^ S7[B(x, 0x5)] ^ S8[B(x, 0x4)] ^ S5[B(z, 0x1)];
    x[3] = z[3] ^ S5[B(x, 0xA)] ^ S6[B(x, 0x9)] ^ S7[B(x, 0xB)] ^ S8[B(x, 0x8)] ^ S6[B(z, 0x3)];
    K[12] = S5[B(x, 0x8)] ^ S6[B(x, 0x9)] ^ S7[B(x, 0x7)] ^ S8[B(x, 0x6)] ^ S5[B(x, 0x3)];
    K[13] = S5[B(x, 0xA)] ^ S6[B(x, 0xB)] ^ S7[B(x, 0x5)] ^ S8[B(x, 0x4)] ^ S6[B(x, 0x7)];
    K[14] = S5[B(x, 0xC)] ^ S6[B(x, 0xD)] ^ S7[B(x, 0x3)] ^ S8[B(x, 0x2)] ^ S7[B(x, 0x8)];
    K[15] = S5[B(x, 0xE)] ^ S6[B(x, 0xF)] ^ S7[B(x, 0x1)] ^ S8[B(x, 0x0)] ^ S8[B(x, 0xD)];
}

inline uint32_t F1(uint32_t d, uint32_t km, uint32_t kr) {
    const uint32_t i = rtl::rotl32(km + d, kr);
    return ((kCastS1[i >> 24] ^ kCastS2[(i >> 16) & 0xff]) - kCastS3[(i >> 8) & 0xff]) + kCastS4[i & 0xff];
}
inline uint32_t F2(uint32_t d, uint32_t km, uint32_t kr) {
    const uint32_t i = rtl::rotl32(km ^ d, kr);
    return ((kCastS1[i >> 24] - kCastS2[(i >> 16) & 0xff]) + kCastS3[(i >> 8) & 0xff]) ^ kCastS4[i & 0xff];
}
inline uint32_t F3(uint32_t d, uint32_t km, uint32_t kr) {
    const uint32_t i = rtl::rotl32(km - d, kr);
    return ((kCastS1[i >> 24] + kCastS2[(i >> 16) & 0xff]) ^ kCastS3[(i >> 8) & 0xff]) - kCastS4[i & 0xff];
}

}  // namespace

CAST128Subkeys::~CAST128Subkeys() {
    rtl::secure_wipe(this, sizeof(*this));
}

void CAST128KeySchedule(std::span<const uint8_t> key, CAST128Subkeys& subkeys) {
    if (key.size() != 16)
        throw EEncryptionError(rtl::Format("Invalid key size [%d bits]", int64_t(key.size()) * 8));
    uint32_t x[4] = {rtl::load_be32(&key[0]), rtl::load_be32(&key[4]), rtl::load_be32(&key[8]),
                     rtl::load_be32(&key[12])};
    uint32_t z[4] = {};
    uint32_t K[32];
    SchedulePass(x, z, K);
    SchedulePass(x, z, K + 16);
    for (int i = 0; i < 16; ++i) {
        subkeys.Km[i] = K[i];
        subkeys.Kr[i] = K[16 + i] & 31;
    }
    rtl::secure_wipe(x, sizeof(x));
    rtl::secure_wipe(z, sizeof(z));
    rtl::secure_wipe(K, sizeof(K));
}

void CAST128EncryptBlock(uint8_t* output, const uint8_t* input, const CAST128Subkeys& subkeys) {
    const uint32_t* Km = subkeys.Km;
    const uint32_t* Kr = subkeys.Kr;
    uint32_t l = rtl::load_be32(input);
    uint32_t r = rtl::load_be32(input + 4);
    l ^= F1(r, Km[0], Kr[0]);
    r ^= F2(l, Km[1], Kr[1]);
    l ^= F3(r, Km[2], Kr[2]);
    r ^= F1(l, Km[3], Kr[3]);
    l ^= F2(r, Km[4], Kr[4]);
    r ^= F3(l, Km[5], Kr[5]);
    l ^= F1(r, Km[6], Kr[6]);
    r ^= F2(l, Km[7], Kr[7]);
    l ^= F3(r, Km[8], Kr[8]);
    r ^= F1(l, Km[9], Kr[9]);
    l ^= F2(r, Km[10], Kr[10]);
    r ^= F3(l, Km[11], Kr[11]);
    l ^= F1(r, Km[12], Kr[12]);
    r ^= F2(l, Km[13], Kr[13]);
    l ^= F3(r, Km[14], Kr[14]);
    r ^= F1(l, Km[15], Kr[15]);
    // The output is R16 then L16.
    rtl::store_be32(output, r);
    rtl::store_be32(output + 4, l);
}

void CAST128DecryptBlock(uint8_t* output, const uint8_t* input, const CAST128Subkeys& subkeys) {
    const uint32_t* Km = subkeys.Km;
    const uint32_t* Kr = subkeys.Kr;
    uint32_t r = rtl::load_be32(input);
    uint32_t l = rtl::load_be32(input + 4);
    r ^= F1(l, Km[15], Kr[15]);
    l ^= F3(r, Km[14], Kr[14]);
    r ^= F2(l, Km[13], Kr[13]);
    l ^= F1(r, Km[12], Kr[12]);
    r ^= F3(l, Km[11], Kr[11]);
    l ^= F2(r, Km[10], Kr[10]);
    r ^= F1(l, Km[9], Kr[9]);
    l ^= F3(r, Km[8], Kr[8]);
    r ^= F2(l, Km[7], Kr[7]);
    l ^= F1(r, Km[6], Kr[6]);
    r ^= F3(l, Km[5], Kr[5]);
    l ^= F2(r, Km[4], Kr[4]);
    r ^= F1(l, Km[3], Kr[3]);
    l ^= F3(r, Km[2], Kr[2]);
    r ^= F2(l, Km[1], Kr[1]);
    l ^= F1(r, Km[0], Kr[0]);
    rtl::store_be32(output, l);
    rtl::store_be32(output + 4, r);
}
