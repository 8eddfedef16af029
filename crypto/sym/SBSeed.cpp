// crypto/sym/SBSeed.cpp: SEED key schedule, G function and the sixteen Feistel rounds.
//
// G is four lookups in the combined tables SS0..SS3 (the two S-boxes already multiplied
// through the G function's mixing). The key schedule rotates one 64-bit half of the key by
// eight bits after each round: the left half (A||B) right after odd rounds, the right half
// (C||D) left after even ones.
//
// A block is one chain of 48 dependent G lookups, and its time is the length of that chain.
// Each round's key pair is therefore derived right beside the round that uses it: the two G
// of the key schedule do not depend on the block, so they run in the gaps of the data chain
// instead of in front of it. Eight rotations by eight bits turn each 64-bit half of the key
// once around, so after sixteen rounds the key words are back where they started; decryption
// starts from there and undoes one rotation per round, which gives the round keys from the
// sixteenth down to the first. Round keys live only in local variables, never in an array.
#include "crypto/sym/SBSeed.h"

#include "rtl/Bytes.h"
#include "rtl/Exception.h"

namespace {

#include "crypto/sym/tables/SBSeedTables.inc"

// SS0..SS3 side by side, so one base address serves all four lookups of G.
struct SeedTables {
    uint32_t ss[4][256];
};
constexpr SeedTables kSS = [] {
    SeedTables t{};
    for (int i = 0; i < 256; ++i) {
        t.ss[0][i] = kSeedSS0[i];
        t.ss[1][i] = kSeedSS1[i];
        t.ss[2][i] = kSeedSS2[i];
        t.ss[3][i] = kSeedSS3[i];
    }
    return t;
}();

inline uint32_t G(uint32_t x) {
    return (kSS.ss[0][x & 0xff] ^ kSS.ss[1][(x >> 8) & 0xff]) ^
           (kSS.ss[2][(x >> 16) & 0xff] ^ kSS.ss[3][x >> 24]);
}

// Keeps the compiler from folding an early term back into the dependency chain.
inline uint32_t Early(uint32_t v) {
    __asm__("" : "+r"(v));
    return v;
}

// The key words (a, b, c, d) and the round-key pair of round n (0-based).
struct KeyState {
    uint32_t a, b, c, d;

    void RoundKeys(int n, uint32_t& k0, uint32_t& k1) const {
        k0 = G(a + c - kSeedKC[n]);
        k1 = G(b - d + kSeedKC[n]);
    }
    // The rotation that follows round n, and its inverse.
    void Forward(int n) {
        if ((n & 1) == 0) {  // round n + 1 is odd: A||B >>> 8
            const uint32_t t = a;
            a = (a >> 8) | (b << 24);
            b = (b >> 8) | (t << 24);
        } else {  // even round: C||D <<< 8
            const uint32_t t = c;
            c = (c << 8) | (d >> 24);
            d = (d << 8) | (t >> 24);
        }
    }
    void Backward(int n) {
        if ((n & 1) == 0) {
            const uint32_t t = a;
            a = (a << 8) | (b >> 24);
            b = (b << 8) | (t >> 24);
        } else {
            const uint32_t t = d;
            d = (d >> 8) | (c << 24);
            c = (c >> 8) | (t << 24);
        }
    }
};

template <bool Decrypt>
void Crypt(const uint8_t* input, std::span<const uint8_t> key, uint8_t* output) {
    KeyState ks{rtl::load_be32(&key[0]), rtl::load_be32(&key[4]), rtl::load_be32(&key[8]),
                rtl::load_be32(&key[12])};
    // The round keys of step j: round j forwards, round 15 - j backwards.
    auto next = [&ks](int j, uint32_t& k0, uint32_t& k1) {
        const int n = Decrypt ? 15 - j : j;
        if (Decrypt) ks.Backward(n);
        ks.RoundKeys(n, k0, k1);
        if (!Decrypt) ks.Forward(n);
    };

    uint32_t l0 = rtl::load_be32(input);
    uint32_t l1 = rtl::load_be32(input + 4);
    uint32_t r0 = rtl::load_be32(input + 8);
    uint32_t r1 = rtl::load_be32(input + 12);
    uint32_t k0;
    uint32_t k1;
    next(0, k0, k1);
    // The round function F on (r0, r1) with (k0, k1): c = r0 ^ k0, d = r1 ^ k1 ^ c, then the
    // three G steps leave F's output in (c, d).
    uint32_t c = r0 ^ k0;
    uint32_t d = r1 ^ k1 ^ c;
#pragma GCC unroll 16
    for (int j = 0; j < 16; ++j) {
        d = G(d);
        c += d;
        c = G(c);
        d += c;
        d = G(d);
        c += d;
        if (j == 15) {  // the last round leaves the halves where they are
            l0 ^= c;
            l1 ^= d;
            break;
        }
        // The halves swap: R' = L ^ F(R), L' = R. The next F input is R' ^ K', and the terms
        // of it that do not wait for F (L and K') are combined first.
        next(j + 1, k0, k1);
        const uint32_t e0 = Early(l0 ^ k0);
        const uint32_t e1 = Early(Early(l1 ^ k1) ^ e0);
        const uint32_t r0Next = l0 ^ c;
        const uint32_t r1Next = l1 ^ d;
        l0 = r0;
        l1 = r1;
        r0 = r0Next;
        r1 = r1Next;
        // c' = R'0 ^ K'0 = e0 ^ c; d' = R'1 ^ K'1 ^ c' = e1 ^ d ^ c.
        d = Early(e1 ^ d) ^ c;
        c ^= e0;
    }
    rtl::store_be32(output, l0);
    rtl::store_be32(output + 4, l1);
    rtl::store_be32(output + 8, r0);
    rtl::store_be32(output + 12, r1);
}

}  // namespace

void SEEDCryptBlock(const uint8_t* input, size_t inputLength, std::span<const uint8_t> key, uint8_t* output,
                    size_t outputLength, bool decrypt) {
    // The key is checked as well: it is read as exactly 16 bytes.
    if (inputLength != 16 || outputLength != 16 || key.size() != 16)
        throw rtl::Exception("Key, input and output buffer must have 16-bytes length!");
    if (decrypt)
        Crypt<true>(input, key, output);
    else
        Crypt<false>(input, key, output);
}
