// crypto/sym/CBCBuffering.h: the library's CBC buffering contract for 8-byte block ciphers,
// shared by the DES, triple-DES and RC2 CBC routines.
//
// A call takes any number of input bytes; whole blocks are processed and 1..7 bytes stay
// pending in the context for the next call. No padding is added or removed. The output size
// holds the room on entry and the bytes written on return; too little room gives false with
// the size needed, and the context is then untouched (a null output is no room at all). Each input block is
// read before the output block in front of it is written, so the output may be the input itself even when
// bytes were pending from an earlier call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "rtl/Bytes.h"

namespace cbc_detail {

inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
inline void Store64(uint8_t* p, uint64_t v) {
    std::memcpy(p, &v, 8);
}

// block(in, out) is the raw block transformation (encryption or decryption of 8 bytes).
template <typename BlockFn>
bool Run(uint8_t (&chain)[8], uint8_t (&pending)[8], uint32_t& pendingCount, const void* input,
         size_t inputSize, void* output, size_t& outputSize, bool encrypt, BlockFn&& block) {
    const uint8_t* in = static_cast<const uint8_t*>(input);
    uint8_t* out = static_cast<uint8_t*>(output);
    if (inputSize == 0) {
        outputSize = 0;
        return true;
    }
    const size_t needed = (inputSize + pendingCount) & ~size_t(7);
    // A null output has no room, whatever size comes with it.
    if (outputSize < needed || (output == nullptr && needed > 0)) {
        outputSize = needed;
        return false;
    }
    if (needed == 0) {  // the input only adds to the pending block
        std::memcpy(pending + pendingCount, in, inputSize);
        pendingCount += uint32_t(inputSize);
        outputSize = 0;
        return true;
    }

    uint8_t current[8];
    size_t pos;
    if (pendingCount != 0) {
        std::memcpy(current, pending, pendingCount);
        pos = 8 - pendingCount;
        std::memcpy(current + pendingCount, in, pos);
    } else {
        std::memcpy(current, in, 8);
        pos = 8;
    }
    uint64_t chainValue = Load64(chain);
    const size_t blocks = needed / 8;
    uint8_t result[8];
    for (size_t b = 0; b < blocks; ++b) {
        if (encrypt) {
            Store64(current, Load64(current) ^ chainValue);
            block(current, result);
            chainValue = Load64(result);
        } else {
            block(current, result);
            Store64(result, Load64(result) ^ chainValue);
            chainValue = Load64(current);
        }
        // Take the next input (or the tail) before this output block may overwrite it.
        if (b + 1 < blocks) {
            std::memcpy(current, in + pos, 8);
            pos += 8;
        } else {
            pendingCount = uint32_t(inputSize - pos);
            std::memcpy(pending, in + pos, pendingCount);
        }
        std::memcpy(out + 8 * b, result, 8);
    }
    Store64(chain, chainValue);
    // The work blocks held plaintext (a PEM or PKCS#12 private key, say).
    rtl::secure_wipe(current, sizeof current);
    rtl::secure_wipe(result, sizeof result);
    outputSize = needed;
    return true;
}

}  // namespace cbc_detail
