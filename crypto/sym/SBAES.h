// crypto/sym/SBAES.h: the AES block cipher (128-, 192- and 256-bit keys) as plain routines over
// caller-owned key schedules.
//
// A block is 16 bytes; inside, column c is bytes 4c..4c+3 taken little-endian, so blocks and
// keys are used in the standard's byte order with no swapping. A schedule is expanded once per
// key (AESExpandKey*) and, for decryption, converted once in place (AESDecryptKeySchedule*)
// into the equivalent-inverse-cipher form; converting twice corrupts it. Every block routine
// reads its whole input before writing, so it works in place.
//
// The routines use the CPU's AES instructions when the CPU has them (same schedules: the
// decryption schedule above is the form those instructions take) and the table code
// otherwise; AESSetHardwareAcceleration(false) forces the table code, so tests run both.
// The *Blocks routines process many independent blocks at once (ECB), AESEncryptBlocksCTR*
// runs counter mode and AESDecryptBlocksCBC* decrypts a CBC run, in parallel where the CPU
// allows; AESEncryptBlocksCBC* encrypts a CBC run (a chain, but with the round keys kept in
// registers): these are the fast paths for whole runs of blocks.
// Schedules hold key material and wipe themselves when they go away.
#pragma once

#include <cstddef>
#include <cstdint>

// Round-key words, four per round key, round key 0 first. The 192- and 256-bit expansions run
// their last step whole, so their records hold 54 and 64 words (the last 2 and 4 unused).
struct alignas(16) TAESExpandedKey128 {
    uint32_t W[44] = {};
    TAESExpandedKey128() = default;
    TAESExpandedKey128(const TAESExpandedKey128&) = default;
    TAESExpandedKey128& operator=(const TAESExpandedKey128&) = default;
    ~TAESExpandedKey128();
};
struct alignas(16) TAESExpandedKey192 {
    uint32_t W[54] = {};
    TAESExpandedKey192() = default;
    TAESExpandedKey192(const TAESExpandedKey192&) = default;
    TAESExpandedKey192& operator=(const TAESExpandedKey192&) = default;
    ~TAESExpandedKey192();
};
struct alignas(16) TAESExpandedKey256 {
    uint32_t W[64] = {};
    TAESExpandedKey256() = default;
    TAESExpandedKey256(const TAESExpandedKey256&) = default;
    TAESExpandedKey256& operator=(const TAESExpandedKey256&) = default;
    ~TAESExpandedKey256();
};

// key: 16, 24 or 32 bytes.
void AESExpandKey128(const uint8_t* key, TAESExpandedKey128& schedule);
void AESExpandKey192(const uint8_t* key, TAESExpandedKey192& schedule);
void AESExpandKey256(const uint8_t* key, TAESExpandedKey256& schedule);

void AESDecryptKeySchedule128(TAESExpandedKey128& schedule);
void AESDecryptKeySchedule192(TAESExpandedKey192& schedule);
void AESDecryptKeySchedule256(TAESExpandedKey256& schedule);

// One 16-byte block with an expanded key / a decryption schedule.
void AESEncryptBlock128(const uint8_t* input, const TAESExpandedKey128& schedule, uint8_t* output);
void AESEncryptBlock192(const uint8_t* input, const TAESExpandedKey192& schedule, uint8_t* output);
void AESEncryptBlock256(const uint8_t* input, const TAESExpandedKey256& schedule, uint8_t* output);
void AESDecryptBlock128(const uint8_t* input, const TAESExpandedKey128& schedule, uint8_t* output);
void AESDecryptBlock192(const uint8_t* input, const TAESExpandedKey192& schedule, uint8_t* output);
void AESDecryptBlock256(const uint8_t* input, const TAESExpandedKey256& schedule, uint8_t* output);

// count independent blocks; input and output may be the same buffer.
void AESEncryptBlocks128(const uint8_t* input, const TAESExpandedKey128& schedule, uint8_t* output,
                         size_t count);
void AESEncryptBlocks192(const uint8_t* input, const TAESExpandedKey192& schedule, uint8_t* output,
                         size_t count);
void AESEncryptBlocks256(const uint8_t* input, const TAESExpandedKey256& schedule, uint8_t* output,
                         size_t count);
void AESDecryptBlocks128(const uint8_t* input, const TAESExpandedKey128& schedule, uint8_t* output,
                         size_t count);
void AESDecryptBlocks192(const uint8_t* input, const TAESExpandedKey192& schedule, uint8_t* output,
                         size_t count);
void AESDecryptBlocks256(const uint8_t* input, const TAESExpandedKey256& schedule, uint8_t* output,
                         size_t count);

// CBC decryption of count whole blocks with a decryption schedule. chain (16 bytes) holds the
// IV or the previous ciphertext block on entry and the last ciphertext block on return, so a
// long message may be fed in runs. Input and output may be the same buffer.
void AESDecryptBlocksCBC128(const uint8_t* input, const TAESExpandedKey128& schedule, uint8_t* chain,
                            uint8_t* output, size_t count);
void AESDecryptBlocksCBC192(const uint8_t* input, const TAESExpandedKey192& schedule, uint8_t* chain,
                            uint8_t* output, size_t count);
void AESDecryptBlocksCBC256(const uint8_t* input, const TAESExpandedKey256& schedule, uint8_t* chain,
                            uint8_t* output, size_t count);

// CBC encryption of count whole blocks with an encryption schedule; chain as above (the IV or
// the previous ciphertext block in, the last ciphertext block out). Input and output may be
// the same buffer.
void AESEncryptBlocksCBC128(const uint8_t* input, const TAESExpandedKey128& schedule, uint8_t* chain,
                            uint8_t* output, size_t count);
void AESEncryptBlocksCBC192(const uint8_t* input, const TAESExpandedKey192& schedule, uint8_t* chain,
                            uint8_t* output, size_t count);
void AESEncryptBlocksCBC256(const uint8_t* input, const TAESExpandedKey256& schedule, uint8_t* chain,
                            uint8_t* output, size_t count);

// CTR over count whole blocks: output = input XOR the encryption of successive counter
// blocks, with an expanded (encryption) key in both directions. counter (16 bytes) is one
// big-endian number, incremented after each block (all 0xFF wraps to zero); on return it holds
// the next unused value, so a long message may be fed in runs. Input and output may be the
// same buffer.
void AESEncryptBlocksCTR128(const uint8_t* input, const TAESExpandedKey128& schedule, uint8_t* counter,
                            uint8_t* output, size_t count);
void AESEncryptBlocksCTR192(const uint8_t* input, const TAESExpandedKey192& schedule, uint8_t* counter,
                            uint8_t* output, size_t count);
void AESEncryptBlocksCTR256(const uint8_t* input, const TAESExpandedKey256& schedule, uint8_t* counter,
                            uint8_t* output, size_t count);

// Whether this CPU has the AES instructions, and whether the routines use them now (they do
// by default when the CPU has them).
bool AESHardwareAccelerationAvailable();
bool AESHardwareAccelerationActive();
// false forces the table code; true goes back to the instructions when the CPU has them.
void AESSetHardwareAcceleration(bool enabled);
