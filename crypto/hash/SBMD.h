// crypto/hash/SBMD.h: MD2 (RFC 1319) and MD5 (RFC 1321) over caller-owned contexts.
//
// Contexts are plain records: copying one copies the running hash; Final spends it and a
// new Init is needed before reuse. They may hold key material (HMAC, PEM key derivation), so
// they wipe themselves when they go away. MD2's result has the MD5 digest's type.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "crypto/base/SBUtils.h"

using MD5Digest = std::array<uint8_t, 16>;

struct MD2Context {
    uint64_t ByteCount = 0;     // bytes fed so far
    uint8_t Checksum[16] = {};  // C
    uint8_t Buffer[16] = {};    // the partial block
    int32_t BufferedCount = 0;  // bytes waiting in Buffer (0..15)
    uint8_t State[16] = {};     // X

    MD2Context() = default;
    MD2Context(const MD2Context&) = default;
    MD2Context& operator=(const MD2Context&) = default;
    ~MD2Context();
};

struct MD5Context {
    uint64_t ByteCount = 0;     // bytes fed so far
    uint8_t Buffer[64] = {};    // the partial block
    int32_t BufferedCount = 0;  // bytes waiting in Buffer (0..63)
    uint32_t State[4] = {};     // A, B, C, D

    MD5Context() = default;
    MD5Context(const MD5Context&) = default;
    MD5Context& operator=(const MD5Context&) = default;
    ~MD5Context();
};

// Data may be null when the length is 0.
void MD2Init(MD2Context& context);
void MD2Update(MD2Context& context, const void* data, size_t length);
void MD2Final(MD2Context& context, MD5Digest& digest);

void InitMD5Context(MD5Context& context);
void UpdateMD5Context(MD5Context& context, const void* data, size_t length);
void FinishMD5Context(MD5Context& context, MD5Digest& digest);
void ComputeMD5(const void* data, size_t length, MD5Digest& digest);
// The digest of the string's bytes (the empty string gives the empty message's digest).
void ComputeMD5OfString(const ByteString& data, MD5Digest& digest);
