// crypto/hash/SBSHA2.h: the SHA-2 family (SHA-224, SHA-256, SHA-384, SHA-512) over caller-owned
// contexts, and their one-shot forms.
//
// SHA-224 shares the SHA-256 context and update, SHA-384 the SHA-512 ones; each has its own
// initial values and a truncated output. Contexts are plain records: copying one copies the
// running hash; Final spends it and a new Init is needed before reuse. They may hold key
// material (HMAC), so they wipe themselves when they go away.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

using SHA224Digest = std::array<uint8_t, 28>;
using SHA256Digest = std::array<uint8_t, 32>;
using SHA384Digest = std::array<uint8_t, 48>;
using SHA512Digest = std::array<uint8_t, 64>;

struct SHA256Context {
    uint64_t ByteCount = 0;     // bytes fed so far
    uint8_t Buffer[64] = {};    // the partial block
    int32_t BufferedCount = 0;  // bytes waiting in Buffer (0..63)
    uint32_t H[8] = {};

    SHA256Context() = default;
    SHA256Context(const SHA256Context&) = default;
    SHA256Context& operator=(const SHA256Context&) = default;
    ~SHA256Context();
};

struct SHA512Context {
    uint64_t ByteCount = 0;     // bytes (not bits) fed so far
    uint8_t Buffer[128] = {};   // the partial block
    int32_t BufferedCount = 0;  // bytes waiting in Buffer (0..127)
    uint64_t H[8] = {};

    SHA512Context() = default;
    SHA512Context(const SHA512Context&) = default;
    SHA512Context& operator=(const SHA512Context&) = default;
    ~SHA512Context();
};

// Data may be null when the length is 0.
void InitSHA224Context(SHA256Context& context);
void UpdateSHA224Context(SHA256Context& context, const void* data, size_t length);
void FinishSHA224Context(SHA256Context& context, SHA224Digest& digest);
void ComputeSHA224(const void* data, size_t length, SHA224Digest& digest);

void InitSHA256Context(SHA256Context& context);
void UpdateSHA256Context(SHA256Context& context, const void* data, size_t length);
void FinishSHA256Context(SHA256Context& context, SHA256Digest& digest);
void HashSHA256(const void* data, size_t length, SHA256Digest& digest);

void InitSHA384Context(SHA512Context& context);
void UpdateSHA384Context(SHA512Context& context, const void* data, size_t length);
void FinishSHA384Context(SHA512Context& context, SHA384Digest& digest);
void ComputeSHA384(const void* data, size_t length, SHA384Digest& digest);

void InitSHA512Context(SHA512Context& context);
void UpdateSHA512Context(SHA512Context& context, const void* data, size_t length);
void FinishSHA512Context(SHA512Context& context, SHA512Digest& digest);
void ComputeSHA512(const void* data, size_t length, SHA512Digest& digest);
