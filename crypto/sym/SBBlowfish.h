// crypto/sym/SBBlowfish.h: the Blowfish block cipher as plain routines over a caller-owned state.
//
// The built-in Blowfish cipher class keys a state once and then runs any number of 64-bit
// blocks through it, loading the two words big-endian from block bytes 0-3 and 4-7. The
// routines take any key of one byte or more (the key is cycled); the class narrows that to
// 4..56 bytes. The state is key material: it wipes itself when it goes away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "crypto/base/SBUtils.h"

// The P-array followed by the four S-boxes, all derived from the key.
struct BlowfishState {
    uint32_t P[18] = {};
    uint32_t S[4][256] = {};

    BlowfishState() = default;
    BlowfishState(const BlowfishState&) = default;
    BlowfishState& operator=(const BlowfishState&) = default;
    ~BlowfishState();
};

// Blowfish key setup: starts from the initial tables every time, so a state may be keyed
// again. An empty key has nothing to cycle and raises EEncryptionError
// "Invalid key size [0 bits]", leaving the state as it was.
void BlowfishKeySchedule(BlowfishState& state, std::span<const uint8_t> key);

// Sixteen rounds forward / backward over the block words L (first) and R (second).
void BlowfishEncryptWords(const BlowfishState& state, uint32_t& L, uint32_t& R);
void BlowfishDecryptWords(const BlowfishState& state, uint32_t& L, uint32_t& R);

// CBC encryption of count whole 8-byte blocks, as the cipher class runs it for a run of blocks:
// each block's words (big-endian, bytes 0-3 and 4-7) XOR the chaining value, encrypted, are the
// next chaining value. chain (8 bytes) holds the IV or the previous ciphertext block on entry
// and the last ciphertext block on return. Input and output may be the same buffer.
void BlowfishEncryptBlocksCBC(const uint8_t* input, const BlowfishState& state, uint8_t* chain,
                              uint8_t* output, size_t count);
