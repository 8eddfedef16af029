// crypto/sym/SBCamellia.h: the Camellia block cipher (128-bit blocks; 128-, 192- and 256-bit
// keys) as plain routines over caller-owned subkeys.
//
// The built-in Camellia cipher class builds the encryption schedule or the decryption
// schedule (the same subkeys exchanged into reverse order) and runs any number of 16-byte
// blocks through the one block routine. Blocks and keys are read big-endian. The record is
// key material: it wipes itself when it goes away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

struct CamelliaSubkeys {
    uint64_t k[24] = {};  // round subkeys k1..k24 (a 128-bit key uses k1..k18)
    uint64_t ke[6] = {};  // FL / FL^-1 subkeys ke1..ke6 (a 128-bit key uses ke1..ke4)
    uint64_t kw[4] = {};  // whitening subkeys kw1..kw4

    CamelliaSubkeys() = default;
    CamelliaSubkeys(const CamelliaSubkeys&) = default;
    CamelliaSubkeys& operator=(const CamelliaSubkeys&) = default;
    ~CamelliaSubkeys();
};

// The key schedule; false (nothing written) unless the key is 16, 24 or 32 bytes. A 128-bit
// key clears the subkeys it does not use, so nothing of an earlier, longer key stays behind.
bool CamelliaKeySchedule(std::span<const uint8_t> key, CamelliaSubkeys& subkeys);

// The key schedule with the subkeys exchanged into decryption order; false as above.
bool CamelliaDecryptKeySchedule(std::span<const uint8_t> key, CamelliaSubkeys& subkeys);

// One 16-byte block: 18 rounds, or 24 with longKey (keys of more than 16 bytes). Encrypts with
// the key schedule, decrypts with the decryption schedule. Input and output may be the same.
void CamelliaCryptBlock(const uint8_t* input, uint8_t* output, const CamelliaSubkeys& subkeys, bool longKey);

// CBC encryption of count whole blocks with the key schedule, as the cipher class runs it for
// a run of blocks: each input block XOR the chaining value, encrypted, is the next chaining
// value. chain (16 bytes) holds the IV or the previous ciphertext block on entry and the last
// ciphertext block on return, so a long message may be fed in runs. Input and output may be
// the same buffer.
void CamelliaEncryptBlocksCBC(const uint8_t* input, const CamelliaSubkeys& subkeys, bool longKey,
                              uint8_t* chain, uint8_t* output, size_t count);

// Whether this CPU has BMI1, and whether the routines use their BMI1 form now (they do by
// default when the CPU has it); false forces the portable form, true goes back.
bool CamelliaBmiAvailable();
bool CamelliaBmiActive();
void CamelliaSetBmi(bool enabled);
