// crypto/sym/SBAES_aesni.h: the AES block routines on the CPU's AES instructions, used by SBAES
// only. They take the same schedules as the table code (round-key words in the standard's
// byte order; the decryption schedule already in the equivalent-inverse form).
//
// SBAES_aesni.cpp is compiled for the AES instructions, so the compiler may use them (and
// SSE4.1) anywhere in it: nothing in that file runs before SBAES, built for the baseline
// processor, has asked the CPU. kCompiledIn is a constant, read without running its code.
// For the same reason that file defines no inline function the rest of the library shares
// (the linker could keep its copy, built with the instructions).
#pragma once

#include <cstddef>
#include <cstdint>

namespace aes_ni {

// True when the routines below were built with the instructions; false in a build for a
// processor family without them, where the routines do nothing and are never called.
extern const bool kCompiledIn;

// rounds: 10, 12 or 14. count independent blocks; in and out may be the same buffer.
void EncryptBlocks(const uint32_t* roundKeys, int rounds, const uint8_t* in, uint8_t* out, size_t count);
void DecryptBlocks(const uint32_t* roundKeys, int rounds, const uint8_t* in, uint8_t* out, size_t count);
// CBC decryption; chain: 16 bytes, in on entry, the last ciphertext block on return.
void DecryptBlocksCBC(const uint32_t* roundKeys, int rounds, const uint8_t* in, uint8_t* chain, uint8_t* out,
                      size_t count);

// CBC encryption; chain: 16 bytes, in on entry, the last ciphertext block on return.
void EncryptBlocksCBC(const uint32_t* roundKeys, int rounds, const uint8_t* in, uint8_t* chain, uint8_t* out,
                      size_t count);

// CTR: out = in XOR E(counter), E(counter + 1), ...; counter: the 16-byte big-endian counter
// block, the next unused value on return.
void EncryptBlocksCTR(const uint32_t* roundKeys, int rounds, const uint8_t* in, uint8_t* counter,
                      uint8_t* out, size_t count);

}  // namespace aes_ni
