// crypto/pk/SBSRP.h: the client-side arithmetic of the Secure Remote Password protocol (RFC 2945,
// RFC 5054): the private key x, the verifier v, the client's secret a and public value A, and
// the premaster secret S. The SRP key material owns one SRPContext, loads the server's N, g,
// salt and B into it, and calls InitSRPClient and ComputeSRPClientSecret. Hashing is SHA-1
// through the hash facade; the unit stores no group: N and g always come from the server.
//
// What must stay true:
// - the salt is hashed as the bytes the server sent (leading zeros and any length included),
//   as RFC 5054 section 2.6 defines x = SHA1(s | SHA1(I | ":" | P));
// - a server value B with B mod N = 0, or a scrambler u of 0, gives no secret (RFC 5054 2.5.4:
//   the client must abort), since either makes S independent of the password;
// - a, x and S are exponentiated on SBMath's constant-time path; a comes from the system's
//   random source.
#pragma once

#include <cstdint>
#include <string>

#include "crypto/base/SBUtils.h"
#include "crypto/math/SBMath.h"

// Twelve numbers (five of them set by the caller: s, B, N, g, and the salt bytes) and one
// 32-bit field. Slots 5, 7 and 9 are not used by these computations.
struct SRPContext {
    BigNumPtr s;        // salt as a number (set by the caller)
    BigNumPtr A;        // client public value
    BigNumPtr a;        // client secret exponent
    BigNumPtr B;        // server public value (set by the caller)
    BigNumPtr Unused5;
    BigNumPtr v;        // verifier g^x mod N
    BigNumPtr Unused7;
    BigNumPtr N;        // group modulus (set by the caller)
    BigNumPtr Unused9;
    BigNumPtr g;        // generator (set by the caller)
    BigNumPtr x;        // private key
    BigNumPtr S;        // premaster secret
    int32_t Field13 = 0;
    // The salt as the server sent it; when empty, the minimal bytes of s are hashed instead.
    ByteArray Salt;
};

// Creates the twelve numbers (each 1) and sets the 32-bit field to 1.
void InitSRPContext(SRPContext& Context);
// Frees (and wipes) the numbers.
void FreeSRPContext(SRPContext& Context);
// x from the record's salt, v = g^x mod N, a = 512 random bits, A = g^a mod N.
void InitSRPClient(const ByteString& UserName, const ByteString& Password, SRPContext& Context);
// S = (B - k g^x)^(a + u x) mod N with RFC 5054's k and u. False (S untouched) when B mod N = 0
// or u = 0.
bool ComputeSRPClientSecret(SRPContext& Context);

// x = SHA1(salt | SHA1(user | ":" | password)) as a number; the salt as bytes, or as the
// minimal bytes of a number.
void ComputeSRPPrivateKey(const ByteString& UserName, const ByteString& Password, const ByteArray& Salt, BigNum* X);
void ComputeSRPPrivateKey(const ByteString& UserName, const ByteString& Password, const BigNum* Salt, BigNum* X);
// k by variant: "3" 1, "6" 3, "6a"/"6A" SHA1(N | PAD(g)) mod N, anything else 0.
void ComputeSRPMultiplier(const BigNum* N, const BigNum* G, const std::string& Variant, BigNum* K);
// u by variant: "3" the first 32 bits of SHA1(B); "6" SHA1(A | B); "6a"/"6A"
// SHA1(PAD(A) | PAD(B)), padded to the length of N.
void ComputeSRPScrambler(const BigNum* N, const BigNum* A, const BigNum* B, const std::string& Variant, BigNum* U);

// Four bytes per 32-bit word from the top word down (leading zeros of the top word kept).
void BigNumToBytes(const BigNum* A, ByteArray& Out);
void BytesToBigNum(BigNum* A, const ByteArray& In);
