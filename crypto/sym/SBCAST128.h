// crypto/sym/SBCAST128.h: the CAST-128 block cipher (64-bit blocks, 128-bit keys, 16 rounds) as
// plain routines over caller-owned subkeys.
//
// The built-in CAST-128 cipher class is the only user: it keys once and runs any number of
// 8-byte blocks. Blocks are read as two big-endian words and written back the same way. Only
// full 128-bit keys exist here (the 12-round form of short keys is not provided). The subkeys
// are key material: they wipe themselves when they go away.
#pragma once

#include <cstdint>
#include <span>

#include "crypto/base/SBUtils.h"

struct CAST128Subkeys {
    uint32_t Km[16] = {};  // masking subkeys Km1..Km16
    uint32_t Kr[16] = {};  // rotation subkeys Kr1..Kr16, low 5 bits only

    CAST128Subkeys() = default;
    CAST128Subkeys(const CAST128Subkeys&) = default;
    CAST128Subkeys& operator=(const CAST128Subkeys&) = default;
    ~CAST128Subkeys();
};

// The key schedule of a 16-byte key. Any other length raises EEncryptionError
// "Invalid key size [%d bits]" and leaves the subkeys as they were (a shorter key would
// otherwise be read past its end).
void CAST128KeySchedule(std::span<const uint8_t> key, CAST128Subkeys& subkeys);

// One 8-byte block; output comes first. The whole input is read before the output is written,
// so both may be the same block.
void CAST128EncryptBlock(uint8_t* output, const uint8_t* input, const CAST128Subkeys& subkeys);
void CAST128DecryptBlock(uint8_t* output, const uint8_t* input, const CAST128Subkeys& subkeys);
