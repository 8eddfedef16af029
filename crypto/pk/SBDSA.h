// crypto/pk/SBDSA.h: DSA domain and key generation, signing, verification, the DSA private-key
// blobs and a consistency check of DSA values, as free routines over caller-owned buffers.
// The built-in DSA key generates and loads keys through it, the built-in DSA operation signs
// and verifies through it, the calculator runs its generation in the background, and the
// certificate and PKCS#12 code reads private keys with DecodeDSAPrivateKey.
//
// Numbers cross the interface as big-endian magnitude bytes (leading zeros and DER sign bytes
// accepted); the size protocol is SBRSA's: too little room (or no buffer) writes nothing,
// stores the sizes needed and answers false. Failures answer false; nothing raises.
//
// What must stay true:
// - the secrets x and k are uniform in 1 .. q - 1, drawn from the system's random source, and
//   every exponentiation and product with them runs in time that does not depend on them; the
//   nonce is inverted as k^(q-2) mod q; a signature with r = 0 or s = 0 is drawn again;
// - the digest is cut to the leftmost N bits, N the bit length of q (FIPS 186-4 section 4.6);
// - verification refuses r or s outside 1 .. q - 1 before any arithmetic;
// - blobs are DER (minimal INTEGERs); private values live in wiped memory;
// - domains beyond p of 16384 bits or q of 512 bits are refused, so no key file or certificate
//   can make one operation run for minutes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/base/SBUtils.h"
#include "crypto/math/SBMath.h"

// A 160-bit q (FIPS 186-2), p of Bits bits (a multiple of 8, at least 512). Room: p, g, y and
// x Bits / 8, q 20, blob 4 x (Bits / 8) + 85; with less those sizes are set and the answer is
// false. Values come back in word form (4 bytes per 32-bit word), the blob is the
// six-INTEGER SEQUENCE { 0, p, q, g, y, x }. The callback can cancel (answer false).
bool GenerateDSAKey(int32_t Bits, void* P, int32_t& PSize, void* Q, int32_t& QSize, void* G, int32_t& GSize, void* Y,
                    int32_t& YSize, void* X, int32_t& XSize, void* Blob, int32_t& BlobSize,
                    const MathProgressCallback& Callback = {}, void* CallbackData = nullptr);
// FIPS 186-3 sizes: L a multiple of 32 (at least 512), N a multiple of 8 from 160 to 512;
// other sizes answer false at once. Room: p, g, y L / 8; q and x 4 x ceil(N / 32) (their word
// forms); with less those sizes are set and the answer is false. No blob.
bool GenerateDSAKeyWithQBits(int32_t PBits, int32_t QBits, void* P, int32_t& PSize, void* Q, int32_t& QSize, void* G,
                             int32_t& GSize, void* Y, int32_t& YSize, void* X, int32_t& XSize,
                             const MathProgressCallback& Callback = {}, void* CallbackData = nullptr);

// r and s, each as many bytes as q without its leading zeros; room for that much in both.
bool SignDSA(const void* Digest, int32_t DigestSize, const void* P, int32_t PSize, const void* Q, int32_t QSize,
             const void* G, int32_t GSize, const void* X, int32_t XSize, void* R, int32_t& RSize, void* S,
             int32_t& SSize);
bool VerifyDSA(const void* Digest, int32_t DigestSize, const void* P, int32_t PSize, const void* Q, int32_t QSize,
               const void* G, int32_t GSize, const void* Y, int32_t YSize, const void* R, int32_t RSize, const void* S,
               int32_t SSize);

// The six-INTEGER form, else the PKCS#8 PrivateKeyInfo of an id-dsa key (whose y is computed).
// Each value comes back with one leading 00 removed; y of the PKCS#8 form as long as p. Too
// little room: false with every size set; neither form: false with every size 0.
bool DecodeDSAPrivateKey(const void* Blob, int32_t BlobSize, void* P, int32_t& PSize, void* Q, int32_t& QSize, void* G,
                         int32_t& GSize, void* Y, int32_t& YSize, void* X, int32_t& XSize);
// SEQUENCE { 0, p, q, g, y, x } with minimal INTEGERs.
bool EncodeDSAPrivateKey(const void* P, int32_t PSize, const void* Q, int32_t QSize, const void* G, int32_t GSize,
                         const void* Y, int32_t YSize, const void* X, int32_t XSize, void* Blob, int32_t& BlobSize);

// Checks in order: (Strict) p and q probable primes; q a whole number of bytes; p at least 512
// bits and a multiple of 64; p mod q = 1; 1 < g < p; (Strict) g^q mod p = 1; 0 < y < p; with
// CheckSecret 0 < x < q and (Strict) g^x mod p = y.
bool ValidateDSAKey(const void* P, int32_t PSize, const void* Q, int32_t QSize, const void* G, int32_t GSize,
                    const void* Y, int32_t YSize, const void* X, int32_t XSize, bool CheckSecret, bool Strict);

// SEQUENCE { INTEGER r, INTEGER s }. The reader takes DER only: any other encoding of the pair
// (BER lengths, padded or negative INTEGERs, trailing bytes) is no signature. The writer writes
// minimal INTEGERs.
bool DSADecodeSignature(const void* Blob, size_t Size, void* R, size_t& RSize, void* S, size_t& SSize);
bool DSAEncodeSignature(const void* R, size_t RSize, const void* S, size_t SSize, void* Blob, size_t& BlobSize);
