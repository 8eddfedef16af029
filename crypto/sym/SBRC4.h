// crypto/sym/SBRC4.h: the RC4 stream cipher as plain routines over a caller-owned context.
//
// The built-in RC4 cipher class, the PKCS#8/PKCS#12 RC4 password schemes and the library's
// random generator drive these routines. A context is keyed once by InitRC4Context and then
// advances by one keystream byte for every byte passed through either entry point; the two
// entry points are the same transformation. Keys are 1 to 32 bytes, a tighter limit than
// RC4 itself has. The context holds key material and wipes itself when it goes away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "crypto/base/SBUtils.h"

struct RC4Context {
    uint8_t j = 0;
    uint8_t i = 0;
    uint8_t S[256] = {};

    RC4Context() = default;
    RC4Context(const RC4Context&) = default;
    RC4Context& operator=(const RC4Context&) = default;
    ~RC4Context();
};

// The RC4 key-scheduling algorithm into S. Any key length from 1 byte up is used as it is; an
// empty key (nothing to cycle through) raises EEncryptionError "Invalid key size [0 bits]"
// and leaves S as it was.
void RC4KeySchedule(std::span<const uint8_t> key, uint8_t (&S)[256]);

// Keys the context (i = j = 0). A key of 0 or more than 32 bytes raises EEncryptionError
// "Invalid key size [%d bits]" and leaves the context as it was.
void InitRC4Context(RC4Context& context, std::span<const uint8_t> key);

// XORs length bytes of keystream into output; input and output may be the same buffer.
// Always returns true.
bool EncryptRC4(RC4Context& context, const void* input, void* output, size_t length);
bool DecryptRC4(RC4Context& context, const void* input, void* output, size_t length);
