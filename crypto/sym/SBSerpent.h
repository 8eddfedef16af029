// crypto/sym/SBSerpent.h: the Serpent block cipher (128-bit blocks, keys of up to 256 bits) as
// plain routines over caller-owned subkeys, in the bitslice formulation.
//
// The built-in Serpent cipher class keys once per message (16, 24 or 32 bytes) and runs any
// number of 16-byte blocks; both directions share one subkey record. Blocks and keys are taken
// as little-endian 32-bit words, word 0 from bytes 0-3. The record is key material: it wipes
// itself when it goes away.
#pragma once

#include <cstdint>
#include <span>

// The 33 round keys K0..K32, four words each.
struct SerpentSubkeys {
    uint32_t K[132] = {};

    SerpentSubkeys() = default;
    SerpentSubkeys(const SerpentSubkeys&) = default;
    SerpentSubkeys& operator=(const SerpentSubkeys&) = default;
    ~SerpentSubkeys();
};

// The key schedule. Any length is valid: keys longer than 32 bytes are cut to their first 32
// bytes; shorter ones (the empty key included) get Serpent's padding, one byte 0x01 and zeros.
void SerpentKeySchedule(std::span<const uint8_t> key, SerpentSubkeys& subkeys);

// One 16-byte block; the subkeys come last. Input and output may be the same block.
void SerpentEncryptBlock(const uint8_t* input, uint8_t* output, const SerpentSubkeys& subkeys);
void SerpentDecryptBlock(const uint8_t* input, uint8_t* output, const SerpentSubkeys& subkeys);
