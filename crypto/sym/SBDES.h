// crypto/sym/SBDES.h: the DES block cipher as plain routines over caller-owned records, and the
// single-DES CBC decryption context the PEM reader uses.
//
// A block is 8 bytes, read as two big-endian words. DESKeySchedule gives the encryption
// schedule and DESDecryptKeySchedule the same round keys reversed; DESCryptBlock runs
// whichever it is given. Parity bits are ignored and weak keys accepted. Schedules and
// contexts hold key material and wipe themselves when they go away. Triple DES is in SB3DES.
#pragma once

#include <cstddef>
#include <cstdint>

// The sixteen round keys, two words each, in the order the rounds use them.
struct TDESExpandedKey {
    uint32_t K[32] = {};

    TDESExpandedKey() = default;
    TDESExpandedKey(const TDESExpandedKey&) = default;
    TDESExpandedKey& operator=(const TDESExpandedKey&) = default;
    ~TDESExpandedKey();
};

// Single-DES CBC decryption state: schedule, chaining value (the IV, then the last
// ciphertext block), the pending bytes of an unfinished block and their count (0..7).
struct DESContext {
    TDESExpandedKey Schedule;
    uint8_t Chain[8] = {};
    uint8_t Pending[8] = {};
    uint32_t PendingCount = 0;

    DESContext() = default;
    DESContext(const DESContext&) = default;
    DESContext& operator=(const DESContext&) = default;
    ~DESContext();
};

// key: 8 bytes.
void DESKeySchedule(const uint8_t* key, TDESExpandedKey& schedule);
void DESDecryptKeySchedule(const uint8_t* key, TDESExpandedKey& schedule);
// One 8-byte block; input and output may be the same block.
void DESCryptBlock(const uint8_t* input, const TDESExpandedKey& schedule, uint8_t* output);

// key and iv: 8 bytes each.
void InitDESDecryptionContext(DESContext& context, const uint8_t* key, const uint8_t* iv);
// DES-CBC decryption of inputSize bytes; outputSize holds the room on entry and the bytes
// written on return. Whole blocks are processed and up to 7 bytes stay pending; no padding is
// removed. Too little room: false with the size needed, nothing consumed.
bool DecryptDESCBC(DESContext& context, const void* input, size_t inputSize, void* output,
                   size_t& outputSize);
