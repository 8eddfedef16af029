// crypto/pk/SBRSA.h: the library's RSA arithmetic and RSA key encodings, as free routines over
// caller-owned byte buffers. Everything above (the built-in RSA key and operations, the
// calculator, the RSA key material, certificates and PKCS#12) reaches RSA only through these.
//
// Numbers cross the interface as big-endian magnitude bytes (a pointer and a 32-bit size);
// leading zero bytes and the 0x00 sign byte of a DER INTEGER are accepted wherever a number is
// read. k is the modulus length in bytes without leading zeros; L the modulus length as the
// caller or the blob stores it (a DER content keeps a 0x00 sign byte, so L = k + 1 when the top
// bit is set).
//
// Size protocol of every routine with an output buffer: the caller passes the buffer and a
// variable holding its room. Too little room (or no buffer): nothing is written, the size
// needed is stored and the answer is false (the routines check the room before any costly
// work, so asking first with no buffer is cheap). On success the variable holds the bytes
// written. Failures answer false; nothing raises, whatever the input.
//
// What must stay true:
// - signatures and ciphertexts are exactly k bytes; an input to an RSA operation that is
//   longer than k bytes or not below n is refused;
// - private operations run on the CRT values, blinded (RFC 8017 section 5.1.2 note) and with
//   the exponentiations of SBMath's constant-time path; a result that does not raise back to
//   its input under e is refused (a faulty key or computation must not leak the factors);
// - PKCS#1 v1.5 and OAEP decryption check the whole padding without a branch or a memory
//   access that depends on its bytes, and fail the same way whatever is wrong with it;
// - generated keys have p != q and gcd(e, p - 1) = gcd(e, q - 1) = 1; blobs are DER (minimal
//   INTEGERs);
// - every private value and every padded block lives in wiped memory;
// - moduli above 16384 bits, and public exponents above 64 bits with moduli above 3072 bits,
//   are refused, so no key anyone can write makes one operation run for minutes.
#pragma once

#include <cstdint>

#include "crypto/base/SBUtils.h"
#include "crypto/math/SBMath.h"

// Key generation: a modulus of 64 x (Bits / 64) bits, e = 65537. Room needed: modulus and
// private exponent Bits / 8, public exponent 4, blob 4 x (Bits / 8) + (Bits / 8) / 2 + 70; with
// less the three value sizes are set to Bits / 8, the blob size to its bound, and the answer
// is false. n, e and d are written in
// word form (4 bytes per 32-bit word, top word first), the blob is the DER RSAPrivateKey of
// PKCS#1. A cancellation through the callback answers false.
bool GenerateRSAKey(int32_t Bits, void* PublicModulus, int32_t& PublicModulusSize, void* PublicExponent,
                    int32_t& PublicExponentSize, void* PrivateExponent, int32_t& PrivateExponentSize,
                    void* PrivateKeyBlob, int32_t& PrivateKeyBlobSize, const MathProgressCallback& Callback = {},
                    void* CallbackData = nullptr);

// RSAPrivateKey: the first top-level element must be a SEQUENCE of four to nine primitive
// INTEGERs whose first content is the single byte 00; n, e and d come back as their contents
// (sign byte included). When any room is too small every size is set to its content's length
// and the answer is false; a structural mismatch answers false with the sizes unchanged.
bool DecodeRSAPrivateKey(const void* Blob, int32_t BlobSize, void* PublicModulus, int32_t& PublicModulusSize,
                         void* PublicExponent, int32_t& PublicExponentSize, void* PrivateExponent,
                         int32_t& PrivateExponentSize);
// The same with exactly nine INTEGERs: n, e, d, p, q, d mod (p-1), d mod (q-1), q^-1 mod p.
bool DecodeRSAPrivateKeyComponents(const void* Blob, int32_t BlobSize, void* N, int32_t& NSize, void* E,
                                   int32_t& ESize, void* D, int32_t& DSize, void* P, int32_t& PSize, void* Q,
                                   int32_t& QSize, void* DP, int32_t& DPSize, void* DQ, int32_t& DQSize, void* QInv,
                                   int32_t& QInvSize);

// InnerValuesOnly: the bare RSAPublicKey SEQUENCE { n, e }; otherwise a SubjectPublicKeyInfo
// whose algorithm must be rsaEncryption (its OID is answered in AlgID). Contents are copied as
// they stand.
bool DecodeRSAPublicKey(const void* Buffer, int32_t Size, void* PublicModulus, int32_t& PublicModulusSize,
                        void* PublicExponent, int32_t& PublicExponentSize, ByteString& AlgID, bool InnerValuesOnly);
// The bare form, or a SubjectPublicKeyInfo with the given algorithm OID and NULL parameters.
// The numbers are written as minimal DER INTEGERs.
bool EncodeRSAPublicKey(const void* PublicModulus, int32_t PublicModulusSize, const void* PublicExponent,
                        int32_t PublicExponentSize, const ByteString& AlgID, void* OutBuffer, int32_t& OutSize,
                        bool InnerValuesOnly);

// RSAES-PKCS1-v1_5 (RFC 8017 section 7.2). Encryption takes at most k - 11 bytes (more: size
// set to 0, false) and needs room for the modulus as given. Decryption needs room L and accepts
// only 00 02 PS 00 M with at least eight non-zero PS bytes.
bool EncryptRSAPKCS1(const void* InBuffer, int32_t InSize, const void* PublicModulus, int32_t PublicModulusSize,
                     const void* PublicExponent, int32_t PublicExponentSize, void* OutBuffer, int32_t& OutSize);
bool DecryptRSAPKCS1(const void* InBuffer, int32_t InSize, const void* PrivateKeyBlob, int32_t PrivateKeyBlobSize,
                     void* OutBuffer, int32_t& OutSize);
// RSASSA-PKCS1-v1_5 without the DigestInfo (the caller encodes it): 00 01 FF..FF 00 input,
// input at most k - 11 bytes; room L.
bool SignRSAPKCS1(const void* InBuffer, int32_t InSize, const void* PrivateKeyBlob, int32_t PrivateKeyBlobSize,
                  void* OutBuffer, int32_t& OutSize);
// Opens a PKCS#1 v1.5 signature: the block must be 00 01, at least eight FF, 00; the rest is
// answered. Room: the modulus as given.
bool RecoverRSAPKCS1(const void* InBuffer, int32_t InSize, const void* PublicModulus, int32_t PublicModulusSize,
                     const void* PublicExponent, int32_t PublicExponentSize, void* OutBuffer, int32_t& OutSize);

// RSAES-OAEP (RFC 8017 section 7.1) with MGF1 over the same hash as the label.
bool EncryptRSAOAEP(const void* InBuffer, int32_t InSize, const void* PublicModulus, int32_t PublicModulusSize,
                    const void* PublicExponent, int32_t PublicExponentSize, const void* Label, int32_t LabelSize,
                    int32_t HashAlgorithm, void* OutBuffer, int32_t& OutSize);
bool DecryptRSAOAEP(const void* InBuffer, int32_t InSize, const void* PrivateKeyBlob, int32_t PrivateKeyBlobSize,
                    const void* Label, int32_t LabelSize, int32_t HashAlgorithm, void* OutBuffer, int32_t& OutSize);

// RSASSA-PSS (RFC 8017 section 8.1) over a digest, MGF1 with the same hash, trailer BC.
bool SignRSAPSS(const void* Digest, int32_t DigestSize, int32_t HashAlgorithm, int32_t SaltSize,
                const void* PrivateKeyBlob, int32_t PrivateKeyBlobSize, void* OutBuffer, int32_t& OutSize);
// From raw values; the public exponent, when given, blinds the operation.
bool SignRSAPSSRaw(const void* Digest, int32_t DigestSize, int32_t HashAlgorithm, int32_t SaltSize,
                   const void* PublicModulus, int32_t PublicModulusSize, const void* PublicExponent,
                   int32_t PublicExponentSize, const void* PrivateExponent, int32_t PrivateExponentSize,
                   void* OutBuffer, int32_t& OutSize);
bool VerifyRSAPSS(const void* Digest, int32_t DigestSize, int32_t HashAlgorithm, int32_t SaltSize,
                  const void* PublicModulus, int32_t PublicModulusSize, const void* PublicExponent,
                  int32_t PublicExponentSize, const void* Signature, int32_t SignatureSize);

// The blob holds nine values, p and q are probable primes, n = p x q and e x d = 1 modulo
// (p-1)(q-1) (or modulo their least common multiple, as other generators choose d).
bool ValidateRSAPrivateKey(const void* Blob, int32_t BlobSize);

// MGF1 (RFC 8017 appendix B.2.1); empty for an unknown hash or a length of 0.
void GenerateMGF1Mask(const void* Seed, int32_t SeedSize, int32_t MaskLen, int32_t HashAlgorithm, ByteArray& Mask);
// EMSA-PSS-ENCODE (RFC 8017 section 9.1.1) with a random salt: emLen = ceil(EmBits / 8) bytes.
bool EncodeEMSAPSS(const void* Digest, int32_t DigestSize, int32_t HashAlgorithm, int32_t SaltSize, int32_t EmBits,
                   void* OutBuffer, int32_t& OutSize);

// Input^E mod N, exactly k bytes; room: the modulus as given.
bool ExponentiateRSARaw(const void* PublicModulus, int32_t PublicModulusSize, const void* Exponent,
                        int32_t ExponentSize, const void* InBuffer, int32_t InSize, void* OutBuffer, int32_t& OutSize);
bool EncryptRSARaw(const void* InBuffer, int32_t InSize, const void* PublicModulus, int32_t PublicModulusSize,
                   const void* PublicExponent, int32_t PublicExponentSize, void* OutBuffer, int32_t& OutSize);
// Input^d mod n through the CRT values of the blob (blinded); exactly k bytes, room L.
bool DecryptRSARawCRT(const void* PrivateKeyBlob, int32_t PrivateKeyBlobSize, const void* InBuffer, int32_t InSize,
                      void* OutBuffer, int32_t& OutSize);
// Input^Exponent mod N with a private exponent, exactly k bytes, room k; blinded when the
// public exponent is given.
bool ExponentiateRSAFixedLength(const void* InBuffer, int32_t InSize, const void* PublicModulus,
                                int32_t PublicModulusSize, const void* PublicExponent, int32_t PublicExponentSize,
                                const void* Exponent, int32_t ExponentSize, void* OutBuffer, int32_t& OutSize);

// The content of an INTEGER: the bytes as given, 00 in front of a top bit, 00 for nothing.
void MakeIntegerContent(const void* Bytes, int32_t Count, ByteString& Out);
