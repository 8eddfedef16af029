// crypto/hash/SBRIPEMD.cpp: RIPEMD-160 (Dobbertin, Bosselaers, Preneel).
//
// Two parallel lines of five 16-step rounds over the same block. The word order of each
// round follows from two permutations of the definition: rho (applied once more every round)
// and pi(i) = 9i + 5 mod 16, which starts the right line; the rotation of a step depends on
// the round and on the message word it reads. The additive constants are the integer parts
// of 2^30 times the square roots (left) and cube roots (right) of 2, 3, 5 and 7.
#include "crypto/hash/SBRIPEMD.h"

#include <cstring>

#include "crypto/hash/HashBuffer.h"
#include "rtl/Bytes.h"

namespace {

constexpr uint8_t kRho[16] = {7, 4, 13, 1, 10, 6, 15, 3, 12, 0, 9, 5, 2, 14, 11, 8};

// Rotation per round and message word.
constexpr uint8_t kShift[5][16] = {
    {11, 14, 15, 12, 5, 8, 7, 9, 11, 13, 14, 15, 6, 7, 9, 8},
    {12, 13, 11, 15, 6, 9, 9, 7, 12, 15, 11, 13, 7, 8, 7, 7},
    {13, 15, 14, 11, 7, 7, 6, 8, 13, 14, 13, 12, 5, 5, 6, 9},
    {14, 11, 12, 14, 8, 6, 5, 5, 15, 12, 15, 14, 9, 9, 8, 6},
    {15, 12, 13, 13, 9, 5, 8, 6, 14, 11, 12, 11, 8, 6, 5, 5},
};

constexpr uint32_t kLeftK[5] = {0x00000000, 0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC, 0xA953FD4E};
constexpr uint32_t kRightK[5] = {0x50A28BE6, 0x5C4DD124, 0x6D703EF3, 0x7A6D76E9, 0x00000000};

struct Schedule {
    uint8_t word[80];
    uint8_t shift[80];
};

constexpr Schedule MakeSchedule(bool right) {
    Schedule s{};
    for (int i = 0; i < 16; ++i) {
        uint8_t w = right ? uint8_t((9 * i + 5) % 16) : uint8_t(i);
        for (int round = 0; round < 5; ++round) {
            s.word[16 * round + i] = w;
            s.shift[16 * round + i] = kShift[round][w];
            w = kRho[w];
        }
    }
    return s;
}

constexpr Schedule kLeft = MakeSchedule(false);
constexpr Schedule kRight = MakeSchedule(true);

template <int F>
inline uint32_t Func(uint32_t x, uint32_t y, uint32_t z) {
    if constexpr (F == 0) return x ^ y ^ z;
    if constexpr (F == 1) return (x & y) | (~x & z);
    if constexpr (F == 2) return (x | ~y) ^ z;
    if constexpr (F == 3) return (x & z) | (y & ~z);
    if constexpr (F == 4) return x ^ (y | ~z);
}

// Sixteen steps of one round on both lines; the left line uses function Round, the right
// line the functions in the opposite order.
template <int Round>
inline void Steps(const uint32_t (&X)[16], uint32_t (&l)[5], uint32_t (&r)[5]) {
    for (int i = 0; i < 16; ++i) {
        const int j = 16 * Round + i;
        uint32_t t = rtl::rotl32(l[0] + Func<Round>(l[1], l[2], l[3]) + X[kLeft.word[j]] + kLeftK[Round],
                                 kLeft.shift[j]) +
                     l[4];
        l[0] = l[4];
        l[4] = l[3];
        l[3] = rtl::rotl32(l[2], 10);
        l[2] = l[1];
        l[1] = t;
        t = rtl::rotl32(r[0] + Func<4 - Round>(r[1], r[2], r[3]) + X[kRight.word[j]] + kRightK[Round],
                        kRight.shift[j]) +
            r[4];
        r[0] = r[4];
        r[4] = r[3];
        r[3] = rtl::rotl32(r[2], 10);
        r[2] = r[1];
        r[1] = t;
    }
}

void RIPEMD160Transform(uint32_t H[5], const uint8_t* block) {
    uint32_t X[16];
    for (int i = 0; i < 16; ++i)
        X[i] = rtl::load_le32(block + 4 * i);
    uint32_t l[5] = {H[0], H[1], H[2], H[3], H[4]};
    uint32_t r[5] = {H[0], H[1], H[2], H[3], H[4]};
    Steps<0>(X, l, r);
    Steps<1>(X, l, r);
    Steps<2>(X, l, r);
    Steps<3>(X, l, r);
    Steps<4>(X, l, r);
    const uint32_t t = H[1] + l[2] + r[3];
    H[1] = H[2] + l[3] + r[4];
    H[2] = H[3] + l[4] + r[0];
    H[3] = H[4] + l[0] + r[1];
    H[4] = H[0] + l[1] + r[2];
    H[0] = t;
}

void RIPEMD160Blocks(RIPEMD160Context& ctx, const uint8_t* data, size_t blocks) {
    for (size_t i = 0; i < blocks; ++i)
        RIPEMD160Transform(ctx.H, data + 64 * i);
}

}  // namespace

RIPEMD160Context::~RIPEMD160Context() {
    rtl::secure_wipe(this, sizeof(*this));
}

void InitRIPEMD160Context(RIPEMD160Context& context) {
    hash_buffer::Reset(context);
    context.H[0] = 0x67452301;
    context.H[1] = 0xEFCDAB89;
    context.H[2] = 0x98BADCFE;
    context.H[3] = 0x10325476;
    context.H[4] = 0xC3D2E1F0;
}

void UpdateRIPEMD160Context(RIPEMD160Context& context, const void* data, size_t length) {
    hash_buffer::Update<64>(context, data, length, RIPEMD160Blocks);
}

void FinishRIPEMD160Context(RIPEMD160Context& context, RIPEMD160Digest& digest) {
    // The bit count is little-endian, as in MD5.
    hash_buffer::PadAndHash<64, 8, false>(
        context.Buffer, size_t(context.BufferedCount), context.ByteCount,
        [&context](const uint8_t* p, size_t n) { RIPEMD160Blocks(context, p, n); });
    for (int i = 0; i < 5; ++i)
        rtl::store_le32(digest.data() + 4 * i, context.H[i]);
}

void ComputeRIPEMD160(const void* data, size_t length, RIPEMD160Digest& digest) {
    RIPEMD160Context ctx;
    InitRIPEMD160Context(ctx);
    UpdateRIPEMD160Context(ctx, data, length);
    FinishRIPEMD160Context(ctx, digest);
}
