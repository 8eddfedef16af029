// crypto/sym/SB3DES.h: triple DES (encrypt-decrypt-encrypt with three keys) as plain routines
// over caller-owned records, and the triple-DES CBC contexts of the PEM and PKCS#12 code.
//
// The key is always 24 bytes: K1, K2, K3. TripleDESKeySchedule prepares E(K1), D(K2), E(K3)
// for TripleDESEncryptBlock; TripleDESDecryptKeySchedule prepares D(K1), E(K2), D(K3) for
// TripleDESDecryptBlock. The initial and final permutations run once per block, not three
// times. Schedules and contexts hold key material and wipe themselves when they go away.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/sym/SBDES.h"

// Three DES schedules one after another.
struct TTripleDESExpandedKey {
    TDESExpandedKey Keys[3];
};

// Triple-DES CBC state: schedule, chaining value, pending bytes and their count (0..7).
struct TripleDESContext {
    TTripleDESExpandedKey Schedule;
    uint8_t Chain[8] = {};
    uint8_t Pending[8] = {};
    uint32_t PendingCount = 0;

    TripleDESContext() = default;
    TripleDESContext(const TripleDESContext&) = default;
    TripleDESContext& operator=(const TripleDESContext&) = default;
    ~TripleDESContext();
};

// key: 24 bytes.
void TripleDESKeySchedule(const uint8_t* key, TTripleDESExpandedKey& schedule);
void TripleDESDecryptKeySchedule(const uint8_t* key, TTripleDESExpandedKey& schedule);
// One 8-byte block; input and output may be the same block.
void TripleDESEncryptBlock(const uint8_t* input, const TTripleDESExpandedKey& schedule, uint8_t* output);
void TripleDESDecryptBlock(const uint8_t* input, const TTripleDESExpandedKey& schedule, uint8_t* output);

// key: 24 bytes, iv: 8 bytes.
void InitTripleDESEncryptionContext(TripleDESContext& context, const uint8_t* key, const uint8_t* iv);
void InitTripleDESDecryptionContext(TripleDESContext& context, const uint8_t* key, const uint8_t* iv);
// Triple-DES CBC under the same buffering contract as DecryptDESCBC: whole blocks processed,
// up to 7 bytes pending, no padding; too little room gives false with the size needed.
bool EncryptTripleDESCBC(TripleDESContext& context, const void* input, size_t inputSize, void* output,
                         size_t& outputSize);
bool DecryptTripleDESCBC(TripleDESContext& context, const void* input, size_t inputSize, void* output,
                         size_t& outputSize);
