// crypto/hash/SBMD.cpp: MD2 (RFC 1319) and MD5 (RFC 1321).
//
// MD5's 64 steps are written out as straight-line code; the additive constants are
// floor(abs(sin(i)) * 2^32) for i = 1..64 and the rotations and word orders those of the
// RFC. Whole blocks are hashed straight from the caller's memory; only a partial block is
// copied. MD2's substitution table is the RFC's permutation built from the digits of pi.
#include "crypto/hash/SBMD.h"

#include <cstring>

#include "crypto/hash/HashBuffer.h"
#include "rtl/Bytes.h"

namespace {

constexpr uint8_t kMD2Subst[256] = {
    41,  46,  67,  201, 162, 216, 124, 1,   61,  54,  84,  161, 236, 240, 6,   19,  98,  167, 5,   243,
    192, 199, 115, 140, 152, 147, 43,  217, 188, 76,  130, 202, 30,  155, 87,  60,  253, 212, 224, 22,
    103, 66,  111, 24,  138, 23,  229, 18,  190, 78,  196, 214, 218, 158, 222, 73,  160, 251, 245, 142,
    187, 47,  238, 122, 169, 104, 121, 145, 21,  178, 7,   63,  148, 194, 16,  137, 11,  34,  95,  33,
    128, 127, 93,  154, 90,  144, 50,  39,  53,  62,  204, 231, 191, 247, 151, 3,   255, 25,  48,  179,
    72,  165, 181, 209, 215, 94,  146, 42,  172, 86,  170, 198, 79,  184, 56,  210, 150, 164, 125, 182,
    118, 252, 107, 226, 156, 116, 4,   241, 69,  157, 112, 89,  100, 113, 135, 32,  134, 91,  207, 101,
    230, 45,  168, 2,   27,  96,  37,  173, 174, 176, 185, 246, 28,  70,  97,  105, 52,  64,  126, 15,
    85,  71,  163, 35,  221, 81,  175, 58,  195, 92,  249, 206, 186, 197, 234, 38,  44,  83,  13,  110,
    133, 40,  132, 9,   211, 223, 205, 244, 65,  129, 77,  82,  106, 220, 55,  200, 108, 193, 171, 250,
    36,  225, 123, 8,   12,  189, 177, 74,  120, 136, 149, 139, 227, 99,  232, 109, 233, 203, 213, 254,
    59,  0,   29,  57,  242, 239, 183, 14,  102, 88,  208, 228, 166, 119, 114, 248, 235, 117, 75,  10,
    49,  68,  80,  180, 143, 237, 31,  26,  219, 153, 141, 51,  159, 17,  131, 20,
};

// One block into the state and the running checksum.
void MD2Transform(MD2Context& ctx, const uint8_t* block) {
    uint8_t x[48];
    for (int i = 0; i < 16; ++i) {
        x[i] = ctx.State[i];
        x[16 + i] = block[i];
        x[32 + i] = uint8_t(ctx.State[i] ^ block[i]);
    }
    uint8_t t = 0;
    for (int pass = 0; pass < 18; ++pass) {
        for (int k = 0; k < 48; ++k)
            t = x[k] ^= kMD2Subst[t];
        t = uint8_t(t + pass);
    }
    std::memcpy(ctx.State, x, 16);
    uint8_t l = ctx.Checksum[15];
    for (int i = 0; i < 16; ++i)
        l = ctx.Checksum[i] ^= kMD2Subst[block[i] ^ l];
    rtl::secure_wipe(x, sizeof(x));
}

#define KW_MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define KW_MD5_G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define KW_MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define KW_MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
#define KW_MD5_STEP(f, a, b, c, d, x, t, s) \
    do {                                    \
        a += f(b, c, d) + (x) + (t);        \
        a = rtl::rotl32(a, s) + b;          \
    } while (0)

void MD5Transform(uint32_t state[4], const uint8_t* block) {
    uint32_t X[16];
    for (int i = 0; i < 16; ++i)
        X[i] = rtl::load_le32(block + 4 * i);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

    KW_MD5_STEP(KW_MD5_F, a, b, c, d, X[0], 0xD76AA478, 7);
    KW_MD5_STEP(KW_MD5_F, d, a, b, c, X[1], 0xE8C7B756, 12);
    KW_MD5_STEP(KW_MD5_F, c, d, a, b, X[2], 0x242070DB, 17);
    KW_MD5_STEP(KW_MD5_F, b, c, d, a, X[3], 0xC1BDCEEE, 22);
    KW_MD5_STEP(KW_MD5_F, a, b, c, d, X[4], 0xF57C0FAF, 7);
    KW_MD5_STEP(KW_MD5_F, d, a, b, c, X[5], 0x4787C62A, 12);
    KW_MD5_STEP(KW_MD5_F, c, d, a, b, X[6], 0xA8304613, 17);
    KW_MD5_STEP(KW_MD5_F, b, c, d, a, X[7], 0xFD469501, 22);
    KW_MD5_STEP(KW_MD5_F, a, b, c, d, X[8], 0x698098D8, 7);
    KW_MD5_STEP(KW_MD5_F, d, a, b, c, X[9], 0x8B44F7AF, 12);
    KW_MD5_STEP(KW_MD5_F, c, d, a, b, X[10], 0xFFFF5BB1, 17);
    KW_MD5_STEP(KW_MD5_F, b, c, d, a, X[11], 0x895CD7BE, 22);
    KW_MD5_STEP(KW_MD5_F, a, b, c, d, X[12], 0x6B901122, 7);
    KW_MD5_STEP(KW_MD5_F, d, a, b, c, X[13], 0xFD987193, 12);
    KW_MD5_STEP(KW_MD5_F, c, d, a, b, X[14], 0xA679438E, 17);
    KW_MD5_STEP(KW_MD5_F, b, c, d, a, X[15], 0x49B40821, 22);

    KW_MD5_STEP(KW_MD5_G, a, b, c, d, X[1], 0xF61E2562, 5);
    KW_MD5_STEP(KW_MD5_G, d, a, b, c, X[6], 0xC040B340, 9);
    KW_MD5_STEP(KW_MD5_G, c, d, a, b, X[11], 0x265E5A51, 14);
    KW_MD5_STEP(KW_MD5_G, b, c, d, a, X[0], 0xE9B6C7AA, 20);
    KW_MD5_STEP(KW_MD5_G, a, b, c, d, X[5], 0xD62F105D, 5);
    KW_MD5_STEP(KW_MD5_G, d, a, b, c, X[10], 0x02441453, 9);
    KW_MD5_STEP(KW_MD5_G, c, d, a, b, X[15], 0xD8A1E681, 14);
    KW_MD5_STEP(KW_MD5_G, b, c, d, a, X[4], 0xE7D3FBC8, 20);
    KW_MD5_STEP(KW_MD5_G, a, b, c, d, X[9], 0x21E1CDE6, 5);
    KW_MD5_STEP(KW_MD5_G, d, a, b, c, X[14], 0xC33707D6, 9);
    KW_MD5_STEP(KW_MD5_G, c, d, a, b, X[3], 0xF4D50D87, 14);
    KW_MD5_STEP(KW_MD5_G, b, c, d, a, X[8], 0x455A14ED, 20);
    KW_MD5_STEP(KW_MD5_G, a, b, c, d, X[13], 0xA9E3E905, 5);
    KW_MD5_STEP(KW_MD5_G, d, a, b, c, X[2], 0xFCEFA3F8, 9);
    KW_MD5_STEP(KW_MD5_G, c, d, a, b, X[7], 0x676F02D9, 14);
    KW_MD5_STEP(KW_MD5_G, b, c, d, a, X[12], 0x8D2A4C8A, 20);

    KW_MD5_STEP(KW_MD5_H, a, b, c, d, X[5], 0xFFFA3942, 4);
    KW_MD5_STEP(KW_MD5_H, d, a, b, c, X[8], 0x8771F681, 11);
    KW_MD5_STEP(KW_MD5_H, c, d, a, b, X[11], 0x6D9D6122, 16);
    KW_MD5_STEP(KW_MD5_H, b, c, d, a, X[14], 0xFDE5380C, 23);
    KW_MD5_STEP(KW_MD5_H, a, b, c, d, X[1], 0xA4BEEA44, 4);
    KW_MD5_STEP(KW_MD5_H, d, a, b, c, X[4], 0x4BDECFA9, 11);
    KW_MD5_STEP(KW_MD5_H, c, d, a, b, X[7], 0xF6BB4B60, 16);
    KW_MD5_STEP(KW_MD5_H, b, c, d, a, X[10], 0xBEBFBC70, 23);
    KW_MD5_STEP(KW_MD5_H, a, b, c, d, X[13], 0x289B7EC6, 4);
    KW_MD5_STEP(KW_MD5_H, d, a, b, c, X[0], 0xEAA127FA, 11);
    KW_MD5_STEP(KW_MD5_H, c, d, a, b, X[3], 0xD4EF3085, 16);
    KW_MD5_STEP(KW_MD5_H, b, c, d, a, X[6], 0x04881D05, 23);
    KW_MD5_STEP(KW_MD5_H, a, b, c, d, X[9], 0xD9D4D039, 4);
    KW_MD5_STEP(KW_MD5_H, d, a, b, c, X[12], 0xE6DB99E5, 11);
    KW_MD5_STEP(KW_MD5_H, c, d, a, b, X[15], 0x1FA27CF8, 16);
    KW_MD5_STEP(KW_MD5_H, b, c, d, a, X[2], 0xC4AC5665, 23);

    KW_MD5_STEP(KW_MD5_I, a, b, c, d, X[0], 0xF4292244, 6);
    KW_MD5_STEP(KW_MD5_I, d, a, b, c, X[7], 0x432AFF97, 10);
    KW_MD5_STEP(KW_MD5_I, c, d, a, b, X[14], 0xAB9423A7, 15);
    KW_MD5_STEP(KW_MD5_I, b, c, d, a, X[5], 0xFC93A039, 21);
    KW_MD5_STEP(KW_MD5_I, a, b, c, d, X[12], 0x655B59C3, 6);
    KW_MD5_STEP(KW_MD5_I, d, a, b, c, X[3], 0x8F0CCC92, 10);
    KW_MD5_STEP(KW_MD5_I, c, d, a, b, X[10], 0xFFEFF47D, 15);
    KW_MD5_STEP(KW_MD5_I, b, c, d, a, X[1], 0x85845DD1, 21);
    KW_MD5_STEP(KW_MD5_I, a, b, c, d, X[8], 0x6FA87E4F, 6);
    KW_MD5_STEP(KW_MD5_I, d, a, b, c, X[15], 0xFE2CE6E0, 10);
    KW_MD5_STEP(KW_MD5_I, c, d, a, b, X[6], 0xA3014314, 15);
    KW_MD5_STEP(KW_MD5_I, b, c, d, a, X[13], 0x4E0811A1, 21);
    KW_MD5_STEP(KW_MD5_I, a, b, c, d, X[4], 0xF7537E82, 6);
    KW_MD5_STEP(KW_MD5_I, d, a, b, c, X[11], 0xBD3AF235, 10);
    KW_MD5_STEP(KW_MD5_I, c, d, a, b, X[2], 0x2AD7D2BB, 15);
    KW_MD5_STEP(KW_MD5_I, b, c, d, a, X[9], 0xEB86D391, 21);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

#undef KW_MD5_STEP
#undef KW_MD5_F
#undef KW_MD5_G
#undef KW_MD5_H
#undef KW_MD5_I

void MD5Blocks(uint32_t state[4], const uint8_t* data, size_t blocks) {
    for (size_t i = 0; i < blocks; ++i)
        MD5Transform(state, data + 64 * i);
}

void MD5InitState(uint32_t state[4]) {
    state[0] = 0x67452301;
    state[1] = 0xEFCDAB89;
    state[2] = 0x98BADCFE;
    state[3] = 0x10325476;
}

// Pads the tail in a zeroed local (0x80, then the bit count little-endian at the end of the
// first block when there is room, else of the second), hashes it and writes the digest.
void MD5FinishTail(uint32_t state[4], const uint8_t* tail, size_t have, uint64_t byteCount,
                   MD5Digest& digest) {
    hash_buffer::PadAndHash<64, 8, false>(tail, have, byteCount,
                                          [state](const uint8_t* p, size_t n) { MD5Blocks(state, p, n); });
    for (int i = 0; i < 4; ++i)
        rtl::store_le32(digest.data() + 4 * i, state[i]);
}

}  // namespace

MD2Context::~MD2Context() {
    rtl::secure_wipe(this, sizeof(*this));
}

MD5Context::~MD5Context() {
    rtl::secure_wipe(this, sizeof(*this));
}

void MD2Init(MD2Context& context) {
    hash_buffer::Reset(context);
    std::memset(context.Checksum, 0, sizeof(context.Checksum));
    std::memset(context.State, 0, sizeof(context.State));
}

void MD2Update(MD2Context& context, const void* data, size_t length) {
    hash_buffer::Update<16>(context, data, length, [](MD2Context& ctx, const uint8_t* p, size_t blocks) {
        for (size_t i = 0; i < blocks; ++i)
            MD2Transform(ctx, p + 16 * i);
    });
}

void MD2Final(MD2Context& context, MD5Digest& digest) {
    // Padding of n bytes of value n, n = 1..16 (a whole block when nothing is buffered), then
    // the checksum as one more block.
    uint8_t pad[16];
    const size_t n = 16 - size_t(context.BufferedCount);
    std::memset(pad, int(n), n);
    MD2Update(context, pad, n);
    uint8_t checksum[16];
    std::memcpy(checksum, context.Checksum, 16);
    MD2Update(context, checksum, 16);
    std::memcpy(digest.data(), context.State, 16);
    rtl::secure_wipe(checksum, sizeof(checksum));
}

void InitMD5Context(MD5Context& context) {
    hash_buffer::Reset(context);
    MD5InitState(context.State);
}

void UpdateMD5Context(MD5Context& context, const void* data, size_t length) {
    hash_buffer::Update<64>(context, data, length, [](MD5Context& ctx, const uint8_t* p, size_t blocks) {
        MD5Blocks(ctx.State, p, blocks);
    });
}

void FinishMD5Context(MD5Context& context, MD5Digest& digest) {
    MD5FinishTail(context.State, context.Buffer, size_t(context.BufferedCount), context.ByteCount, digest);
}

void ComputeMD5(const void* data, size_t length, MD5Digest& digest) {
    // No context: the whole blocks straight from the caller's memory, then the padded tail.
    uint32_t state[4];
    MD5InitState(state);
    const auto* p = static_cast<const uint8_t*>(data);
    const size_t blocks = length / 64;
    if (blocks > 0) MD5Blocks(state, p, blocks);
    MD5FinishTail(state, p + blocks * 64, length % 64, length, digest);
    rtl::secure_wipe(state, sizeof(state));
}

void ComputeMD5OfString(const ByteString& data, MD5Digest& digest) {
    ComputeMD5(data.data(), data.size(), digest);
}
