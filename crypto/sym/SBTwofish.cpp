// crypto/sym/SBTwofish.cpp: Twofish key schedule, the function g and the sixteen rounds.
//
// h(X, L) runs each byte of X through a chain of the fixed permutations q0/q1, XORed with
// the bytes of the words of L between the stages, and multiplies the result by the MDS
// matrix. With L the S-vector this is g, the round function's core; its byte chains depend
// only on the key, so the key schedule evaluates them for all 256 inputs once and g costs
// four byte lookups and the MDS product. The MDS product is itself read from four word
// tables (one per matrix column) computed at compile time from GF(2^8) arithmetic.
#include "crypto/sym/SBTwofish.h"

#include <array>

#include "rtl/Bytes.h"
#include "rtl/Format.h"

namespace {

#include "crypto/sym/tables/SBTwofishTables.inc"

// Multiplication in GF(2^8) modulo the given degree-8 polynomial.
constexpr uint8_t GfMul(uint8_t a, uint8_t b, unsigned poly) {
    unsigned x = a;
    unsigned r = 0;
    for (; b; b >>= 1) {
        if (b & 1) r ^= x;
        x <<= 1;
        if (x & 0x100) x ^= poly;
    }
    return uint8_t(r);
}

// The MDS matrix works modulo x^8 + x^6 + x^5 + x^3 + 1, the Reed-Solomon code of the key
// schedule modulo x^8 + x^6 + x^3 + x^2 + 1.
constexpr unsigned kMdsPoly = 0x169;
constexpr unsigned kRsPoly = 0x14D;

constexpr uint8_t kMds[4][4] = {
    {0x01, 0xEF, 0x5B, 0x5B},
    {0x5B, 0xEF, 0xEF, 0x01},
    {0xEF, 0x5B, 0x01, 0xEF},
    {0xEF, 0x01, 0xEF, 0x5B},
};

constexpr uint8_t kRs[4][8] = {
    {0x01, 0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E},
    {0xA4, 0x56, 0x82, 0xF3, 0x1E, 0xC6, 0x68, 0xE5},
    {0x02, 0xA1, 0xFC, 0xC1, 0x47, 0xAE, 0x3D, 0x19},
    {0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E, 0x03},
};

// kMdsCol[j][y]: column j of the MDS matrix times the byte y, as a little-endian word.
constexpr auto kMdsCol = [] {
    std::array<std::array<uint32_t, 256>, 4> t{};
    for (int j = 0; j < 4; ++j)
        for (int y = 0; y < 256; ++y) {
            uint32_t w = 0;
            for (int i = 0; i < 4; ++i)
                w |= uint32_t(GfMul(kMds[i][j], uint8_t(y), kMdsPoly)) << (8 * i);
            t[j][y] = w;
        }
    return t;
}();

inline uint8_t Byte(uint32_t w, int n) {
    return uint8_t(w >> (8 * n));
}

// The q-chain of h for byte position n (0..3) of X, keyed by the words L[0..k-1].
uint8_t Chain(int n, uint8_t y, const uint32_t* L, int k) {
    // Stage permutations per byte position, from the last key word to the first.
    static constexpr const uint8_t* kStage4[4] = {kTwofishQ1, kTwofishQ0, kTwofishQ0, kTwofishQ1};
    static constexpr const uint8_t* kStage3[4] = {kTwofishQ1, kTwofishQ1, kTwofishQ0, kTwofishQ0};
    static constexpr const uint8_t* kStage2[4] = {kTwofishQ0, kTwofishQ1, kTwofishQ0, kTwofishQ1};
    static constexpr const uint8_t* kStage1[4] = {kTwofishQ0, kTwofishQ0, kTwofishQ1, kTwofishQ1};
    static constexpr const uint8_t* kStage0[4] = {kTwofishQ1, kTwofishQ0, kTwofishQ1, kTwofishQ0};
    if (k == 4) y = kStage4[n][y] ^ Byte(L[3], n);
    if (k >= 3) y = kStage3[n][y] ^ Byte(L[2], n);
    y = kStage2[n][y] ^ Byte(L[1], n);
    y = kStage1[n][y] ^ Byte(L[0], n);
    return kStage0[n][y];
}

uint32_t H(uint32_t x, const uint32_t* L, int k) {
    uint32_t z = 0;
    for (int n = 0; n < 4; ++n)
        z ^= kMdsCol[n][Chain(n, Byte(x, n), L, k)];
    return z;
}

inline uint32_t G(const TwofishSubkeys& s, uint32_t x) {
    return kMdsCol[0][s.SBox[0][x & 0xff]] ^ kMdsCol[1][s.SBox[1][(x >> 8) & 0xff]] ^
           kMdsCol[2][s.SBox[2][(x >> 16) & 0xff]] ^ kMdsCol[3][s.SBox[3][x >> 24]];
}

}  // namespace

TwofishSubkeys::~TwofishSubkeys() {
    rtl::secure_wipe(this, sizeof(*this));
}

void TwofishKeySchedule(std::span<const uint8_t> key, TwofishSubkeys& subkeys) {
    if (key.size() != 16 && key.size() != 24 && key.size() != 32)
        throw EEncryptionError(rtl::Format("Invalid key size [%d bits]", int64_t(key.size()) * 8));
    const int k = int(key.size() / 8);

    uint32_t Me[4] = {};
    uint32_t Mo[4] = {};
    for (int i = 0; i < k; ++i) {
        Me[i] = rtl::load_le32(&key[8 * i]);
        Mo[i] = rtl::load_le32(&key[8 * i + 4]);
    }
    // S_i = RS . (m_8i .. m_8i+7); h consumes them last first: S-vector = (S_k-1, ..., S_0).
    uint32_t S[4] = {};
    for (int i = 0; i < k; ++i) {
        uint32_t s = 0;
        for (int row = 0; row < 4; ++row) {
            uint8_t acc = 0;
            for (int col = 0; col < 8; ++col)
                acc ^= GfMul(kRs[row][col], key[8 * i + col], kRsPoly);
            s |= uint32_t(acc) << (8 * row);
        }
        S[k - 1 - i] = s;
    }

    constexpr uint32_t rho = 0x01010101;
    for (uint32_t i = 0; i < 20; ++i) {
        const uint32_t A = H(2 * i * rho, Me, k);
        const uint32_t B = rtl::rotl32(H((2 * i + 1) * rho, Mo, k), 8);
        subkeys.K[2 * i] = A + B;
        subkeys.K[2 * i + 1] = rtl::rotl32(A + 2 * B, 9);
    }
    for (int n = 0; n < 4; ++n)
        for (int x = 0; x < 256; ++x)
            subkeys.SBox[n][x] = Chain(n, uint8_t(x), S, k);
    for (int i = 0; i < 4; ++i)
        subkeys.SVector[i] = S[i];
    subkeys.KeyLengthBits = int32_t(key.size() * 8);

    rtl::secure_wipe(Me, sizeof(Me));
    rtl::secure_wipe(Mo, sizeof(Mo));
    rtl::secure_wipe(S, sizeof(S));
}

void TwofishEncryptBlock(const TwofishSubkeys& subkeys, const uint8_t* input, uint8_t* output) {
    const uint32_t* K = subkeys.K;
    uint32_t r0 = rtl::load_le32(input) ^ K[0];
    uint32_t r1 = rtl::load_le32(input + 4) ^ K[1];
    uint32_t r2 = rtl::load_le32(input + 8) ^ K[2];
    uint32_t r3 = rtl::load_le32(input + 12) ^ K[3];
    // Two rounds per pass, so the halves trade places instead of being swapped.
    for (int r = 0; r < 16; r += 2) {
        uint32_t t0 = G(subkeys, r0);
        uint32_t t1 = G(subkeys, rtl::rotl32(r1, 8));
        r2 = rtl::rotr32(r2 ^ (t0 + t1 + K[2 * r + 8]), 1);
        r3 = rtl::rotl32(r3, 1) ^ (t0 + 2 * t1 + K[2 * r + 9]);
        t0 = G(subkeys, r2);
        t1 = G(subkeys, rtl::rotl32(r3, 8));
        r0 = rtl::rotr32(r0 ^ (t0 + t1 + K[2 * r + 10]), 1);
        r1 = rtl::rotl32(r1, 1) ^ (t0 + 2 * t1 + K[2 * r + 11]);
    }
    // Undoing the last swap leaves (r2, r3, r0, r1) as the output words.
    rtl::store_le32(output, r2 ^ K[4]);
    rtl::store_le32(output + 4, r3 ^ K[5]);
    rtl::store_le32(output + 8, r0 ^ K[6]);
    rtl::store_le32(output + 12, r1 ^ K[7]);
}

void TwofishDecryptBlock(const TwofishSubkeys& subkeys, const uint8_t* input, uint8_t* output) {
    const uint32_t* K = subkeys.K;
    uint32_t r2 = rtl::load_le32(input) ^ K[4];
    uint32_t r3 = rtl::load_le32(input + 4) ^ K[5];
    uint32_t r0 = rtl::load_le32(input + 8) ^ K[6];
    uint32_t r1 = rtl::load_le32(input + 12) ^ K[7];
    for (int r = 14; r >= 0; r -= 2) {
        uint32_t t0 = G(subkeys, r2);
        uint32_t t1 = G(subkeys, rtl::rotl32(r3, 8));
        r0 = rtl::rotl32(r0, 1) ^ (t0 + t1 + K[2 * r + 10]);
        r1 = rtl::rotr32(r1 ^ (t0 + 2 * t1 + K[2 * r + 11]), 1);
        t0 = G(subkeys, r0);
        t1 = G(subkeys, rtl::rotl32(r1, 8));
        r2 = rtl::rotl32(r2, 1) ^ (t0 + t1 + K[2 * r + 8]);
        r3 = rtl::rotr32(r3 ^ (t0 + 2 * t1 + K[2 * r + 9]), 1);
    }
    rtl::store_le32(output, r0 ^ K[0]);
    rtl::store_le32(output + 4, r1 ^ K[1]);
    rtl::store_le32(output + 8, r2 ^ K[2]);
    rtl::store_le32(output + 12, r3 ^ K[3]);
}
