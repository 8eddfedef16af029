// crypto/sym/SBTwofish.h: the Twofish block cipher (128-bit blocks; 128-, 192- and 256-bit keys)
// as plain routines over caller-owned subkeys.
//
// The built-in Twofish cipher class keys once per message and runs any number of 16-byte
// blocks; both directions share one subkey record. Blocks and keys are taken as little-endian
// 32-bit words, word 0 from bytes 0-3. The record is key material: it wipes itself when it
// goes away.
#pragma once

#include <cstdint>
#include <span>

#include "crypto/base/SBUtils.h"

struct TwofishSubkeys {
    uint32_t K[40] = {};        // whitening (K0..K7) and round subkeys (K8..K39)
    uint32_t SVector[4] = {};   // the S-vector, in the order the function h consumes it
    uint8_t SBox[4][256] = {};  // the key-dependent byte chains of h, before the MDS matrix
    int32_t KeyLengthBits = 0;  // 128, 192 or 256

    TwofishSubkeys() = default;
    TwofishSubkeys(const TwofishSubkeys&) = default;
    TwofishSubkeys& operator=(const TwofishSubkeys&) = default;
    ~TwofishSubkeys();
};

// The key schedule, key-dependent S-boxes included. The key is read in whole 8-byte pieces,
// so only 16, 24 or 32 bytes are valid; any other length raises EEncryptionError
// "Invalid key size [%d bits]" and leaves the record as it was.
void TwofishKeySchedule(std::span<const uint8_t> key, TwofishSubkeys& subkeys);

// One 16-byte block; the subkeys come first. Input and output may be the same block.
void TwofishEncryptBlock(const TwofishSubkeys& subkeys, const uint8_t* input, uint8_t* output);
void TwofishDecryptBlock(const TwofishSubkeys& subkeys, const uint8_t* input, uint8_t* output);
