// crypto/sym/SBSeed.h: the SEED block cipher (128-bit blocks, 128-bit keys) as one stateless
// routine.
//
// The built-in SEED cipher class keeps a copy of the 16-byte key and calls SEEDCryptBlock for
// every block in either direction; the sixteen round-key pairs are derived from the key inside
// each call, one pair beside each round, and are held in local variables only (no schedule
// array is written), so no schedule outlives the call. Blocks and keys are read as big-endian
// words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// One 16-byte block, encrypted or (decrypt true) decrypted. The key, the input and the output
// must each be 16 bytes, else rtl::Exception "Key, input and output buffer must have 16-bytes
// length!" is raised and the output is not touched. The whole input is read before the output
// is written, so both may be the same buffer.
void SEEDCryptBlock(const uint8_t* input, size_t inputLength, std::span<const uint8_t> key, uint8_t* output,
                    size_t outputLength, bool decrypt);
