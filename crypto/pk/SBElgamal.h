// crypto/pk/SBElgamal.h: Elgamal key generation over a Lim-Lee prime with a generator of the
// whole multiplicative group, Elgamal encryption and decryption, Elgamal signatures, and the
// DER pair in which the built-in Elgamal operation stores a ciphertext or a signature. The
// arithmetic routines work on BigNum values; only the pair coder works on byte buffers (size
// protocol of SBRSA). Key generation also runs in the background through the calculator
// (SBPKIAsync).
//
// What must stay true:
// - every nonce k is drawn from the system's random source with gcd(k, p - 1) = 1; its test
//   and its inverse are computed on k times a random unit, so the variable-time GCD never sees
//   k itself; exponentiations with k and x take SBMath's constant-time path;
// - a message m >= p is refused (it could not be recovered), and so are ciphertexts with a
//   outside 1 .. p - 1 or b outside 0 .. p - 1 and signatures with a outside 1 .. p - 1 or b
//   outside 0 .. p - 2;
// - primes above 16384 bits are refused, so no key anyone can write stalls an operation.
#pragma once

#include <cstdint>
#include <vector>

#include "crypto/base/SBUtils.h"
#include "crypto/math/SBMath.h"

// p = 2 q0 f1 .. fn + 1 of exactly Bits bits (at least 512), g the least generator of the whole
// group from 5 upwards, x and y = g^x mod p; the results go into the given records. False for
// a smaller size and on cancellation through the callback.
bool GenerateElgamalKey(int32_t Bits, BigNum* P, BigNum* G, BigNum* X, BigNum* Y,
                        const MathProgressCallback& Callback = {}, void* CallbackData = nullptr);
// The same, also answering the distinct prime factors of p - 1 (2, q0 and the fi), so a caller
// can check the generator.
bool GenerateElgamalKeyFactored(int32_t Bits, BigNum* P, BigNum* G, BigNum* X, BigNum* Y,
                                std::vector<ByteArray>& Factors, const MathProgressCallback& Callback = {},
                                void* CallbackData = nullptr);

// a = g^k mod p, b = y^k m mod p.
bool EncryptElgamal(const BigNum* M, const BigNum* P, const BigNum* G, const BigNum* Y, BigNum* A, BigNum* B);
// m = b (a^-1)^x mod p (G is not used).
bool DecryptElgamal(const BigNum* P, const BigNum* G, const BigNum* X, const BigNum* A, const BigNum* B, BigNum* M);
// a = g^k mod p, b = (m - a x) k^-1 mod (p - 1).
bool SignElgamal(const BigNum* M, const BigNum* P, const BigNum* G, const BigNum* X, BigNum* A, BigNum* B);
// g^m = y^a a^b (mod p).
bool VerifyElgamal(const BigNum* M, const BigNum* P, const BigNum* G, const BigNum* Y, const BigNum* A,
                   const BigNum* B);

// SEQUENCE { INTEGER a, INTEGER b } with minimal INTEGERs. Room: size(a) + size(b) + 16.
bool EncodeElgamalPair(const void* A, int32_t ASize, const void* B, int32_t BSize, void* Blob, int32_t& BlobSize);
// Exactly one SEQUENCE of two primitive INTEGERs; the contents come back as they stand. Too
// little room: both sizes set, false.
bool DecodeElgamalPair(const void* Blob, int32_t BlobSize, void* A, int32_t& ASize, void* B, int32_t& BSize);

// Bits of the special prime q0 and of the private exponent for a prime of that many bits.
int32_t GetElgamalExponentBits(int32_t PrimeBits);
// The next selection of the same number of ones (colexicographic order); false after the last.
bool NextPrimeSelection(ByteArray& Selection);

// A nonce for a prime p: Words random 32-bit words (0: as many as p has), made odd and below
// p - 1, drawn again until gcd(k, p - 1) = 1; with KInverse also k^-1 mod (p - 1). Shared with
// the calculator's precomputation.
void DrawElgamalNonce(const BigNum* P, int32_t Words, BigNum* K, BigNum* KInverse);
