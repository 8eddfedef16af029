// crypto/sym/CamelliaCore.h: the Camellia block rounds and CBC encryption, shared by SBCamellia.cpp
// (built for the baseline processor) and SBCamellia_bmi.cpp (built with BMI1); each passes its
// own way of taking a byte out of a 64-bit word.
//
// F is eight lookups in the tables of SBCamellia.cpp (the S-layer and the P-function folded
// together) and a tree of XORs. The rounds form one dependency chain, so the order of those
// XORs is chosen for the chain: the lookups whose bytes come out in one instruction (the top
// byte, the low byte, and with BMI1 every byte) meet first, together with the terms that do
// not wait for F at all (the other half and the next round key), and the late lookups join
// last. Nothing here depends on the key or the data for its time beyond the table lookups.
//
// Internal to those two files: everything here sits in an anonymous namespace, so each keeps
// its own copy, built with its own instructions, and the linker cannot hand either copy to
// other code.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "crypto/sym/SBCamellia.h"
#include "rtl/Bytes.h"

namespace camellia_detail {

// Table i holds, for every input byte, the substituted byte placed in each output byte position
// whose P-function equation contains byte i of F's input (SBCamellia.cpp).
using SPTables = std::array<std::array<uint64_t, 256>, 8>;
extern const SPTables kSP;

namespace {

// Keeps the compiler from re-associating an XOR tree into one long chain.
[[gnu::always_inline]] inline uint64_t Keep(uint64_t v) {
    __asm__("" : "+r"(v));
    return v;
}

// F(x) ^ e: x is F's input (half XOR round key), e a term ready before x (the other half and
// the next round key). Byte::At(x, s) is byte s / 8 of x.
template <class Byte>
[[gnu::always_inline]] inline uint64_t FXor(uint64_t x, uint64_t e) {
    const SPTables& t = kSP;
    const uint64_t early = Keep(Keep(t[0][x >> 56] ^ t[7][x & 0xff]) ^ Keep(t[6][Byte::At(x, 8)] ^ e));
    const uint64_t late = Keep(Keep(t[1][Byte::At(x, 48)] ^ t[2][Byte::At(x, 40)]) ^
                               Keep(t[3][Byte::At(x, 32)] ^ t[4][Byte::At(x, 24)]));
    return late ^ Keep(early ^ t[5][Byte::At(x, 16)]);
}

[[gnu::always_inline]] inline uint64_t FL(uint64_t x, uint64_t k) {
    uint32_t x1 = uint32_t(x >> 32);
    uint32_t x2 = uint32_t(x);
    x2 ^= rtl::rotl32(x1 & uint32_t(k >> 32), 1);
    x1 ^= x2 | uint32_t(k);
    return (uint64_t(x1) << 32) | x2;
}

[[gnu::always_inline]] inline uint64_t FLInv(uint64_t y, uint64_t k) {
    uint32_t y1 = uint32_t(y >> 32);
    uint32_t y2 = uint32_t(y);
    y1 ^= y2 | uint32_t(k);
    y2 ^= rtl::rotl32(y1 & uint32_t(k >> 32), 1);
    return (uint64_t(y1) << 32) | y2;
}

// The block (D1, D2) after prewhitening through Groups groups of six rounds (3 for a 128-bit
// key, 4 for longer ones) with the FL layers between them; returns with (D1, D2) the words
// before postwhitening. Each round feeds F with x = half ^ key and carries x forward, so the
// key of the next round is folded in as an early term.
template <class Byte, int Groups>
[[gnu::always_inline]] inline void Rounds(uint64_t& D1, uint64_t& D2, const CamelliaSubkeys& s) {
    uint64_t d1 = D1;
    uint64_t d2 = D2;
#pragma GCC unroll 4
    for (int g = 0; g < Groups; ++g) {
        if (g > 0) {
            d1 = FL(d1, s.ke[2 * g - 2]);
            d2 = FLInv(d2, s.ke[2 * g - 1]);
        }
        const uint64_t* k = s.k + 6 * g;
        // x and y are the next F inputs; the halves come back from them by one XOR off the chain.
        uint64_t x = d1 ^ k[0];
        uint64_t y = FXor<Byte>(x, d2 ^ k[1]);
        d2 = y ^ k[1];
        x = FXor<Byte>(y, d1 ^ k[2]);
        d1 = x ^ k[2];
        y = FXor<Byte>(x, d2 ^ k[3]);
        d2 = y ^ k[3];
        x = FXor<Byte>(y, d1 ^ k[4]);
        d1 = x ^ k[4];
        y = FXor<Byte>(x, d2 ^ k[5]);
        d2 = y ^ k[5];
        d1 = FXor<Byte>(y, d1);
    }
    D1 = d1;
    D2 = d2;
}

template <class Byte, int Groups>
[[gnu::always_inline]] inline void CryptBlock(const uint8_t* input, uint8_t* output,
                                              const CamelliaSubkeys& s) {
    uint64_t d1 = rtl::load_be64(input) ^ s.kw[0];
    uint64_t d2 = rtl::load_be64(input + 8) ^ s.kw[1];
    Rounds<Byte, Groups>(d1, d2, s);
    rtl::store_be64(output, d2 ^ s.kw[2]);
    rtl::store_be64(output + 8, d1 ^ s.kw[3]);
}

// CBC encryption with the chaining value in registers from block to block.
template <class Byte, int Groups>
[[gnu::always_inline]] inline void EncryptCBC(const uint8_t* input, const CamelliaSubkeys& s, uint8_t* chain,
                                              uint8_t* output, size_t count) {
    uint64_t c1 = rtl::load_be64(chain);
    uint64_t c2 = rtl::load_be64(chain + 8);
    for (size_t i = 0; i < count; ++i) {
        uint64_t d1 = (rtl::load_be64(input + 16 * i) ^ s.kw[0]) ^ c1;
        uint64_t d2 = (rtl::load_be64(input + 16 * i + 8) ^ s.kw[1]) ^ c2;
        Rounds<Byte, Groups>(d1, d2, s);
        c1 = d2 ^ s.kw[2];
        c2 = d1 ^ s.kw[3];
        rtl::store_be64(output + 16 * i, c1);
        rtl::store_be64(output + 16 * i + 8, c2);
    }
    rtl::store_be64(chain, c1);
    rtl::store_be64(chain + 8, c2);
}

}  // namespace

}  // namespace camellia_detail
