// crypto/sym/SBRC2.h: the RC2 block cipher, its CBC contexts for the PKCS#12 code, and the
// RC2-CBC parameter encoding of PKCS#5. The contexts and the two-argument schedule use
// effective key bits of 8 times the key length; the three-argument schedule takes any
// effective key bits RFC 2268 allows (1 to 1024), as RC2-CBC parameters carry them.
//
// A block is 8 bytes, four little-endian 16-bit words. One expanded key serves both
// directions. Keys are 1 to 128 bytes; other lengths raise EEncryptionError "Invalid key size
// [%d bits]" and leave the caller's record untouched. The CBC routines follow the library's
// buffering contract (see SBDES.h). The parameter decoder reads the whole version number, so
// versions of 256 and more come back as themselves. Expanded keys and contexts hold key
// material and wipe themselves when they go away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "crypto/base/SBUtils.h"

// K[0..63], the expanded key words.
struct TRC2ExpandedKey {
    uint16_t K[64] = {};

    TRC2ExpandedKey() = default;
    TRC2ExpandedKey(const TRC2ExpandedKey&) = default;
    TRC2ExpandedKey& operator=(const TRC2ExpandedKey&) = default;
    ~TRC2ExpandedKey();
};

// RC2-CBC state: expanded key, chaining value, pending bytes and their count (0..7).
struct RC2Context {
    TRC2ExpandedKey ExpandedKey;
    uint8_t Chain[8] = {};
    uint8_t Pending[8] = {};
    uint32_t PendingCount = 0;

    RC2Context() = default;
    RC2Context(const RC2Context&) = default;
    RC2Context& operator=(const RC2Context&) = default;
    ~RC2Context();
};

void RC2KeySchedule(std::span<const uint8_t> key, TRC2ExpandedKey& expandedKey);
// RFC 2268 section 2 with T1 effective key bits; bits outside 1..1024 raise EEncryptionError
// "Invalid key size [%d bits]" naming them.
void RC2KeySchedule(std::span<const uint8_t> key, int32_t effectiveBits, TRC2ExpandedKey& expandedKey);
// One 8-byte block; input and output may be the same block.
void RC2EncryptBlock(const uint8_t* input, const TRC2ExpandedKey& expandedKey, uint8_t* output);
void RC2DecryptBlock(const uint8_t* input, const TRC2ExpandedKey& expandedKey, uint8_t* output);

// iv: 8 bytes. Both answer 0; a bad key length raises as RC2KeySchedule does.
int32_t InitRC2EncryptionContext(RC2Context& context, std::span<const uint8_t> key, const uint8_t* iv);
int32_t InitRC2DecryptionContext(RC2Context& context, std::span<const uint8_t> key, const uint8_t* iv);
bool EncryptRC2CBC(RC2Context& context, const void* input, size_t inputSize, void* output,
                   size_t& outputSize);
bool DecryptRC2CBC(RC2Context& context, const void* input, size_t inputSize, void* output,
                   size_t& outputSize);

// RC2-CBC-Parameter ::= SEQUENCE { rc2ParameterVersion INTEGER OPTIONAL, iv OCTET STRING }.
// Versions 160, 120 and 58 stand for 40, 64 and 128 bits, 256 and more for themselves; no
// version means 32 bits. Malformed parameters answer false (effectiveBits may be set even
// then, when only the IV was wrong).
bool DecodeRC2CBCParameters(const ByteString& parameters, ByteString& iv, int32_t& effectiveBits);
void EncodeRC2CBCParameters(const ByteString& iv, int32_t effectiveBits, ByteString& parameters);
