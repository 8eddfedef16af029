// crypto/hash/SBSHA.h: SHA-1 over a caller-owned context, and its one-shot form.
//
// The context is a plain record the caller keeps (on its stack or in an object); the routines
// never allocate. Copying a context copies the running hash, which is how the built-in hash
// function clones one. A context is spent by FinishSHA1Context and used again only after a
// new InitSHA1Context. It may hold key material (HMAC), so it wipes itself when it goes away.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

using SHA1Digest = std::array<uint8_t, 20>;

struct SHA1Context {
    uint64_t ByteCount = 0;     // bytes fed so far
    uint8_t Buffer[64] = {};    // the partial block
    int32_t BufferedCount = 0;  // bytes waiting in Buffer (0..63)
    uint32_t H[5] = {};

    SHA1Context() = default;
    SHA1Context(const SHA1Context&) = default;
    SHA1Context& operator=(const SHA1Context&) = default;
    ~SHA1Context();
};

void InitSHA1Context(SHA1Context& context);
// Feeds length bytes; data may be null when length is 0.
void UpdateSHA1Context(SHA1Context& context, const void* data, size_t length);
void FinishSHA1Context(SHA1Context& context, SHA1Digest& digest);
void ComputeSHA1(const void* data, size_t length, SHA1Digest& digest);
