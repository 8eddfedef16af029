// crypto/hash/SBRIPEMD.h: RIPEMD-160 over a caller-owned context, and its one-shot form.
//
// The context is a plain record: copying it copies the running hash; Final spends it and a
// new Init is needed before reuse. It wipes itself when it goes away.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

using RIPEMD160Digest = std::array<uint8_t, 20>;

struct RIPEMD160Context {
    uint8_t Buffer[64] = {};    // the partial block
    int32_t BufferedCount = 0;  // bytes waiting in Buffer (0..63)
    uint32_t H[5] = {};
    uint64_t ByteCount = 0;  // bytes fed so far

    RIPEMD160Context() = default;
    RIPEMD160Context(const RIPEMD160Context&) = default;
    RIPEMD160Context& operator=(const RIPEMD160Context&) = default;
    ~RIPEMD160Context();
};

// Data may be null when the length is 0.
void InitRIPEMD160Context(RIPEMD160Context& context);
void UpdateRIPEMD160Context(RIPEMD160Context& context, const void* data, size_t length);
void FinishRIPEMD160Context(RIPEMD160Context& context, RIPEMD160Digest& digest);
void ComputeRIPEMD160(const void* data, size_t length, RIPEMD160Digest& digest);
