// crypto/SBAES_aesni.h: the AES block routines on the CPU's AES instructions, used by SBAES
// only. They take the same schedules as the table code (round-key words in the standard's
// byte order; the decryption schedule already in the equivalent-inverse form), and are
// reached only after CpuHasAesInstructions() has answered true.
#pragma once

#include <cstddef>
#include <cstdint>

namespace aes_ni {

bool CpuHasAesInstructions();

// rounds: 10, 12 or 14. count independent blocks; in and out may be the same buffer.
void EncryptBlocks(const uint32_t* roundKeys, int rounds, const uint8_t* in, uint8_t* out, size_t count);
void DecryptBlocks(const uint32_t* roundKeys, int rounds, const uint8_t* in, uint8_t* out, size_t count);
// CBC decryption; chain: 16 bytes, in on entry, the last ciphertext block on return.
void DecryptBlocksCBC(const uint32_t* roundKeys, int rounds, const uint8_t* in, uint8_t* chain, uint8_t* out,
                      size_t count);

// CTR: out = in XOR E(counter), E(counter + 1), ...; counter: the 16-byte big-endian counter
// block, the next unused value on return.
void EncryptBlocksCTR(const uint32_t* roundKeys, int rounds, const uint8_t* in, uint8_t* counter,
                      uint8_t* out, size_t count);

}  // namespace aes_ni
