// crypto/sym/SBRabbit.cpp: Rabbit's counter system, next-state function, key and IV setup, and
// keystream extraction.
//
// One step is the counter update followed by the next-state function; keystream is taken
// after the step. The g function squares a 32-bit sum into 64 bits and folds the halves.
#include "crypto/sym/SBRabbit.h"

#include <cstring>

#include "rtl/Bytes.h"
#include "rtl/Exception.h"

namespace {

constexpr uint32_t kA[8] = {0x4D34D34D, 0xD34D34D3, 0x34D34D34, 0x4D34D34D,
                            0xD34D34D3, 0x34D34D34, 0x4D34D34D, 0xD34D34D3};

inline uint32_t G(uint32_t u, uint32_t v) {
    const uint64_t sum = uint32_t(u + v);
    const uint64_t square = sum * sum;
    return uint32_t(square) ^ uint32_t(square >> 32);
}

void Step(uint32_t* X, uint32_t* C, uint8_t& carry) {
    uint32_t c = carry;
    for (int n = 0; n < 8; ++n) {
        const uint64_t t = uint64_t(C[n]) + kA[n] + c;
        C[n] = uint32_t(t);
        c = uint32_t(t >> 32);
    }
    carry = uint8_t(c);

    uint32_t g[8];
    for (int n = 0; n < 8; ++n)
        g[n] = G(X[n], C[n]);
    using rtl::rotl32;
    X[0] = g[0] + rotl32(g[7], 16) + rotl32(g[6], 16);
    X[1] = g[1] + rotl32(g[0], 8) + g[7];
    X[2] = g[2] + rotl32(g[1], 16) + rotl32(g[0], 16);
    X[3] = g[3] + rotl32(g[2], 8) + g[1];
    X[4] = g[4] + rotl32(g[3], 16) + rotl32(g[2], 16);
    X[5] = g[5] + rotl32(g[4], 8) + g[3];
    X[6] = g[6] + rotl32(g[5], 16) + rotl32(g[4], 16);
    X[7] = g[7] + rotl32(g[6], 8) + g[5];
}

constexpr size_t kKeyBytes = 16;
constexpr size_t kIVBytes = 16;

}  // namespace

RabbitContext::~RabbitContext() {
    rtl::secure_wipe(this, sizeof(*this));
}

void RabbitKeySetup(RabbitContext& context, std::span<const uint8_t> key) {
    if (key.size() != kKeyBytes) throw rtl::Exception("Key must be 16-bytes!");
    uint32_t* k = context.K;
    for (int i = 0; i < 8; ++i)
        k[i] = rtl::load_le16(key.data() + 2 * i);
    uint32_t* X = context.X;
    uint32_t* C = context.C;
    for (int n = 0; n < 8; n += 2) {
        X[n] = k[(n + 1) % 8] << 16 | k[n];
        C[n] = k[(n + 4) % 8] << 16 | k[(n + 5) % 8];
        X[n + 1] = k[(n + 6) % 8] << 16 | k[(n + 5) % 8];
        C[n + 1] = k[n + 1] << 16 | k[(n + 2) % 8];
    }
    context.Carry = 0;
    for (int i = 0; i < 4; ++i)
        Step(X, C, context.Carry);
    for (int n = 0; n < 8; ++n)
        C[n] ^= X[(n + 4) % 8];
    std::memcpy(context.MasterX, X, sizeof context.MasterX);
    std::memcpy(context.MasterC, C, sizeof context.MasterC);
    context.MasterCarry = context.Carry;
    // The raw key is needed no more: only the state derived from it stays in the context.
    rtl::secure_wipe(context.K, sizeof context.K);
}

void RabbitIVSetup(RabbitContext& context, std::span<const uint8_t> iv) {
    if (iv.size() != kIVBytes) throw rtl::Exception("IV-Key must be 16-bytes!");
    std::memcpy(context.X, context.MasterX, sizeof context.X);
    std::memcpy(context.C, context.MasterC, sizeof context.C);
    context.Carry = context.MasterCarry;
    const uint32_t i0 = rtl::load_le32(iv.data());
    const uint32_t i2 = rtl::load_le32(iv.data() + 4);
    const uint32_t i1 = (i2 & 0xFFFF0000u) | (i0 >> 16);
    const uint32_t i3 = (i2 << 16) | (i0 & 0x0000FFFFu);
    const uint32_t words[4] = {i0, i1, i2, i3};
    for (int n = 0; n < 8; ++n)
        context.C[n] ^= words[n % 4];
    for (int i = 0; i < 4; ++i)
        Step(context.X, context.C, context.Carry);
}

void RabbitProcess(RabbitContext& context, std::span<const uint8_t> source, std::span<uint8_t> destination) {
    if (source.size() != destination.size())
        throw rtl::Exception("Source and Destination data vectors must have the same size!");
    if (destination.size() % 16 != 0)
        throw rtl::Exception("Destination data vector must have length based on 16!");
    const uint32_t* X = context.X;
    for (size_t pos = 0; pos < source.size(); pos += 16) {
        Step(context.X, context.C, context.Carry);
        const uint32_t s[4] = {
            X[0] ^ (X[5] >> 16) ^ (X[3] << 16),
            X[2] ^ (X[7] >> 16) ^ (X[5] << 16),
            X[4] ^ (X[1] >> 16) ^ (X[7] << 16),
            X[6] ^ (X[3] >> 16) ^ (X[1] << 16),
        };
        for (int w = 0; w < 4; ++w) {
            const size_t at = pos + 4 * size_t(w);
            rtl::store_le32(&destination[at], rtl::load_le32(&source[at]) ^ s[w]);
        }
    }
}
