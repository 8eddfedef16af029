// crypto/SBSeed.cpp: SEED key schedule, G function and the sixteen Feistel rounds.
//
// G is four lookups in the combined tables SS0..SS3 (the two S-boxes already multiplied
// through the G function's mixing). The key schedule rotates one 64-bit half of the key by
// eight bits after each round: the left half (A||B) right after odd rounds, the right half
// (C||D) left after even ones.
#include "crypto/SBSeed.h"

#include <utility>

#include "rtl/Bytes.h"
#include "rtl/Exception.h"

namespace {

#include "crypto/tables/SBSeedTables.inc"

inline uint32_t G(uint32_t x) {
    return kSeedSS0[x & 0xff] ^ kSeedSS1[(x >> 8) & 0xff] ^ kSeedSS2[(x >> 16) & 0xff] ^ kSeedSS3[x >> 24];
}

void RoundKeys(std::span<const uint8_t> key, uint32_t (&rk)[32]) {
    uint32_t a = rtl::load_be32(&key[0]);
    uint32_t b = rtl::load_be32(&key[4]);
    uint32_t c = rtl::load_be32(&key[8]);
    uint32_t d = rtl::load_be32(&key[12]);
    for (int i = 0; i < 16; ++i) {
        rk[2 * i] = G(a + c - kSeedKC[i]);
        rk[2 * i + 1] = G(b - d + kSeedKC[i]);
        if ((i & 1) == 0) {  // round i + 1 is odd: A||B >>> 8
            const uint32_t t = a;
            a = (a >> 8) | (b << 24);
            b = (b >> 8) | (t << 24);
        } else {  // even round: C||D <<< 8
            const uint32_t t = c;
            c = (c << 8) | (d >> 24);
            d = (d << 8) | (t >> 24);
        }
    }
    rtl::secure_wipe(&a, sizeof(a));
    rtl::secure_wipe(&b, sizeof(b));
    rtl::secure_wipe(&c, sizeof(c));
    rtl::secure_wipe(&d, sizeof(d));
}

// The round function on the right half (r0, r1) with the round-key pair (k0, k1).
inline void F(uint32_t r0, uint32_t r1, uint32_t k0, uint32_t k1, uint32_t& out0, uint32_t& out1) {
    uint32_t c = r0 ^ k0;
    uint32_t d = r1 ^ k1;
    d ^= c;
    d = G(d);
    c += d;
    c = G(c);
    d += c;
    d = G(d);
    c += d;
    out0 = c;
    out1 = d;
}

}  // namespace

void SEEDCryptBlock(const uint8_t* input, size_t inputLength, std::span<const uint8_t> key, uint8_t* output,
                    size_t outputLength, bool decrypt) {
    // The key is checked as well: it is read as exactly 16 bytes.
    if (inputLength != 16 || outputLength != 16 || key.size() != 16)
        throw rtl::Exception("Key, input and output buffer must have 16-bytes length!");
    uint32_t rk[32];
    RoundKeys(key, rk);

    uint32_t l0 = rtl::load_be32(input);
    uint32_t l1 = rtl::load_be32(input + 4);
    uint32_t r0 = rtl::load_be32(input + 8);
    uint32_t r1 = rtl::load_be32(input + 12);
    for (int i = 0; i < 16; ++i) {
        const int n = decrypt ? 15 - i : i;
        uint32_t f0;
        uint32_t f1;
        F(r0, r1, rk[2 * n], rk[2 * n + 1], f0, f1);
        l0 ^= f0;
        l1 ^= f1;
        if (i < 15) {  // the last round leaves the halves where they are
            std::swap(l0, r0);
            std::swap(l1, r1);
        }
    }
    rtl::secure_wipe(rk, sizeof(rk));
    rtl::store_be32(output, l0);
    rtl::store_be32(output + 4, l1);
    rtl::store_be32(output + 8, r0);
    rtl::store_be32(output + 12, r1);
}
