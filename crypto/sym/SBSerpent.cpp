// crypto/sym/SBSerpent.cpp: Serpent key schedule and the 32 rounds, bitsliced.
//
// In the bitslice view the 128-bit block is four words X0..X3, and bit j of X0, X1, X2, X3
// forms the 4-bit input (X0 the least significant bit) of the j-th of 32 parallel S-boxes.
// Each S-box is applied to all 32 columns at once as a boolean formula on the four words: its
// algebraic normal form (an XOR of AND-products of the input bits), derived at compile time
// from the published 4-bit table, so no formula is typed by hand. The compiler sees only the
// products each output needs and emits straight-line AND/XOR code per S-box.
#include "crypto/sym/SBSerpent.h"

#include <array>
#include <utility>

#include "rtl/Bytes.h"

namespace {

#include "crypto/sym/tables/SBSerpentTables.inc"

using Anf = std::array<uint16_t, 4>;  // per output bit: which of the 16 monomials it XORs

// Moebius transform of each output bit's truth table: bit m of the result is set when the
// monomial made of the input bits in m appears in that output's normal form.
constexpr Anf AnfOf(const std::array<uint8_t, 16>& table) {
    Anf anf{};
    for (int bit = 0; bit < 4; ++bit) {
        uint8_t a[16] = {};
        for (int x = 0; x < 16; ++x)
            a[x] = (table[x] >> bit) & 1;
        for (int i = 0; i < 4; ++i)
            for (int x = 0; x < 16; ++x)
                if (x & (1 << i)) a[x] ^= a[x ^ (1 << i)];
        uint16_t mask = 0;
        for (int m = 0; m < 16; ++m)
            mask |= uint16_t(a[m] << m);
        anf[bit] = mask;
    }
    return anf;
}

constexpr std::array<uint8_t, 16> Forward(int box) {
    std::array<uint8_t, 16> t{};
    for (int x = 0; x < 16; ++x)
        t[x] = kSerpentSBox[box][x];
    return t;
}

constexpr std::array<uint8_t, 16> Inverse(int box) {
    std::array<uint8_t, 16> t{};
    for (int x = 0; x < 16; ++x)
        t[kSerpentSBox[box][x]] = uint8_t(x);
    return t;
}

constexpr auto kAnf = [] {
    std::array<Anf, 8> r{};
    for (int b = 0; b < 8; ++b)
        r[b] = AnfOf(Forward(b));
    return r;
}();

constexpr auto kInvAnf = [] {
    std::array<Anf, 8> r{};
    for (int b = 0; b < 8; ++b)
        r[b] = AnfOf(Inverse(b));
    return r;
}();

// XOR of the monomials named by Mask; the selection is resolved at compile time.
template <uint16_t Mask, size_t... T>
inline uint32_t Combine(const uint32_t (&m)[16], std::index_sequence<T...>) {
    return ((((Mask >> T) & 1) ? m[T] : 0u) ^ ...);
}

template <int Box, bool Inv>
inline void Apply(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
    constexpr Anf F = Inv ? kInvAnf[Box] : kAnf[Box];
    const uint32_t x01 = x0 & x1;
    const uint32_t x02 = x0 & x2;
    const uint32_t x12 = x1 & x2;
    const uint32_t x012 = x01 & x2;
    const uint32_t m[16] = {~0u, x0,      x1,      x01,      x2,      x02,      x12,      x012,
                            x3,  x0 & x3, x1 & x3, x01 & x3, x2 & x3, x02 & x3, x12 & x3, x012 & x3};
    constexpr auto seq = std::make_index_sequence<16>{};
    const uint32_t y0 = Combine<F[0]>(m, seq);
    const uint32_t y1 = Combine<F[1]>(m, seq);
    const uint32_t y2 = Combine<F[2]>(m, seq);
    const uint32_t y3 = Combine<F[3]>(m, seq);
    x0 = y0;
    x1 = y1;
    x2 = y2;
    x3 = y3;
}

template <int Box>
inline void S(uint32_t* x) {
    Apply<Box, false>(x[0], x[1], x[2], x[3]);
}
template <int Box>
inline void SInv(uint32_t* x) {
    Apply<Box, true>(x[0], x[1], x[2], x[3]);
}

inline void Mix(uint32_t* x, const uint32_t* k) {
    x[0] ^= k[0];
    x[1] ^= k[1];
    x[2] ^= k[2];
    x[3] ^= k[3];
}

inline void LinearTransform(uint32_t* x) {
    x[0] = rtl::rotl32(x[0], 13);
    x[2] = rtl::rotl32(x[2], 3);
    x[1] ^= x[0] ^ x[2];
    x[3] ^= x[2] ^ (x[0] << 3);
    x[1] = rtl::rotl32(x[1], 1);
    x[3] = rtl::rotl32(x[3], 7);
    x[0] ^= x[1] ^ x[3];
    x[2] ^= x[3] ^ (x[1] << 7);
    x[0] = rtl::rotl32(x[0], 5);
    x[2] = rtl::rotl32(x[2], 22);
}

inline void InverseLinearTransform(uint32_t* x) {
    x[2] = rtl::rotr32(x[2], 22);
    x[0] = rtl::rotr32(x[0], 5);
    x[2] ^= x[3] ^ (x[1] << 7);
    x[0] ^= x[1] ^ x[3];
    x[3] = rtl::rotr32(x[3], 7);
    x[1] = rtl::rotr32(x[1], 1);
    x[3] ^= x[2] ^ (x[0] << 3);
    x[1] ^= x[0] ^ x[2];
    x[2] = rtl::rotr32(x[2], 3);
    x[0] = rtl::rotr32(x[0], 13);
}

// Round r: key mixing, S-box r mod 8, linear transformation.
template <int Box>
inline void Round(uint32_t* x, const uint32_t* K, int r) {
    Mix(x, K + 4 * r);
    S<Box>(x);
    LinearTransform(x);
}

template <int Box>
inline void InverseRound(uint32_t* x, const uint32_t* K, int r) {
    InverseLinearTransform(x);
    SInv<Box>(x);
    Mix(x, K + 4 * r);
}

// Round key j uses S-box (3 - j) mod 8 across its four prekey words.
template <int Box>
inline void KeyBox(uint32_t* w) {
    S<Box>(w);
}

}  // namespace

SerpentSubkeys::~SerpentSubkeys() {
    rtl::secure_wipe(this, sizeof(*this));
}

void SerpentKeySchedule(std::span<const uint8_t> key, SerpentSubkeys& subkeys) {
    uint8_t padded[32] = {};
    const size_t n = key.size() < 32 ? key.size() : 32;
    for (size_t i = 0; i < n; ++i)
        padded[i] = key[i];
    if (n < 32) padded[n] = 0x01;

    // w[0..7] are the prekeys w-8..w-1; w[8 + i] is w_i.
    uint32_t w[140];
    for (int i = 0; i < 8; ++i)
        w[i] = rtl::load_le32(padded + 4 * i);
    for (uint32_t i = 0; i < 132; ++i) {
        const uint32_t t = w[i] ^ w[i + 3] ^ w[i + 5] ^ w[i + 7] ^ 0x9E3779B9u ^ i;
        w[i + 8] = rtl::rotl32(t, 11);
    }
    uint32_t* K = subkeys.K;
    for (int i = 0; i < 132; ++i)
        K[i] = w[i + 8];
    for (int j = 0; j < 33; j += 8) {
        KeyBox<3>(K + 4 * j);
        if (j + 1 < 33) KeyBox<2>(K + 4 * (j + 1));
        if (j + 2 < 33) KeyBox<1>(K + 4 * (j + 2));
        if (j + 3 < 33) KeyBox<0>(K + 4 * (j + 3));
        if (j + 4 < 33) KeyBox<7>(K + 4 * (j + 4));
        if (j + 5 < 33) KeyBox<6>(K + 4 * (j + 5));
        if (j + 6 < 33) KeyBox<5>(K + 4 * (j + 6));
        if (j + 7 < 33) KeyBox<4>(K + 4 * (j + 7));
    }
    rtl::secure_wipe(padded, sizeof(padded));
    rtl::secure_wipe(w, sizeof(w));
}

void SerpentEncryptBlock(const uint8_t* input, uint8_t* output, const SerpentSubkeys& subkeys) {
    const uint32_t* K = subkeys.K;
    uint32_t x[4] = {rtl::load_le32(input), rtl::load_le32(input + 4), rtl::load_le32(input + 8),
                     rtl::load_le32(input + 12)};
    for (int r = 0; r < 24; r += 8) {
        Round<0>(x, K, r);
        Round<1>(x, K, r + 1);
        Round<2>(x, K, r + 2);
        Round<3>(x, K, r + 3);
        Round<4>(x, K, r + 4);
        Round<5>(x, K, r + 5);
        Round<6>(x, K, r + 6);
        Round<7>(x, K, r + 7);
    }
    Round<0>(x, K, 24);
    Round<1>(x, K, 25);
    Round<2>(x, K, 26);
    Round<3>(x, K, 27);
    Round<4>(x, K, 28);
    Round<5>(x, K, 29);
    Round<6>(x, K, 30);
    // The last round replaces the linear transformation by a final key mixing.
    Mix(x, K + 4 * 31);
    S<7>(x);
    Mix(x, K + 4 * 32);
    for (int i = 0; i < 4; ++i)
        rtl::store_le32(output + 4 * i, x[i]);
}

void SerpentDecryptBlock(const uint8_t* input, uint8_t* output, const SerpentSubkeys& subkeys) {
    const uint32_t* K = subkeys.K;
    uint32_t x[4] = {rtl::load_le32(input), rtl::load_le32(input + 4), rtl::load_le32(input + 8),
                     rtl::load_le32(input + 12)};
    Mix(x, K + 4 * 32);
    SInv<7>(x);
    Mix(x, K + 4 * 31);
    InverseRound<6>(x, K, 30);
    InverseRound<5>(x, K, 29);
    InverseRound<4>(x, K, 28);
    InverseRound<3>(x, K, 27);
    InverseRound<2>(x, K, 26);
    InverseRound<1>(x, K, 25);
    InverseRound<0>(x, K, 24);
    for (int r = 16; r >= 0; r -= 8) {
        InverseRound<7>(x, K, r + 7);
        InverseRound<6>(x, K, r + 6);
        InverseRound<5>(x, K, r + 5);
        InverseRound<4>(x, K, r + 4);
        InverseRound<3>(x, K, r + 3);
        InverseRound<2>(x, K, r + 2);
        InverseRound<1>(x, K, r + 1);
        InverseRound<0>(x, K, r);
    }
    for (int i = 0; i < 4; ++i)
        rtl::store_le32(output + 4 * i, x[i]);
}
