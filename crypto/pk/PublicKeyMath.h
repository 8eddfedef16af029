// crypto/pk/PublicKeyMath.h: the small pieces the public-key units (SBRSA, SBDSA, SBElgamal,
// SBSRP, SBPKIAsync) share, internal to the library: numbers to and from big-endian bytes,
// reduction whose time does not show the value, a DER writer for key blobs that keeps its
// bytes in wiped memory, the size protocol of caller buffers, and digests through the hash
// facade.
//
// What must stay true: every buffer that may hold a secret (private exponents, primes, padded
// messages, masks) is a rtl::SecureBytes, so no copy outlives its use; a number that does not
// fit its place is a failure the caller answers with false, never a write past a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "crypto/base/SBUtils.h"
#include "crypto/math/SBMath.h"
#include "crypto/math/SBMathKernel.h"
#include "rtl/SecureBytes.h"

namespace pkmath {

using Bytes = std::span<const uint8_t>;

inline Bytes View(const void* p, int32_t n) {
    return n > 0 && p != nullptr ? Bytes(static_cast<const uint8_t*>(p), size_t(n)) : Bytes();
}

// The bytes without their leading zero bytes (possibly none left).
Bytes StripZeros(Bytes b);

// Largest number of significant bytes a BigNum holds.
inline constexpr size_t kMaxNumberBytes = size_t(BigNum::MaxLimbs) * 4;

// A new number from big-endian bytes; false (and nothing made) when the value does not fit a
// BigNum, so hostile lengths end in a refusal instead of an exception.
bool Load(BigNumPtr& out, Bytes b);
BigNumPtr Load(Bytes b);  // raises EElMathException when it does not fit
BigNumPtr Number(uint32_t value);

// Exactly k big-endian bytes (zeros in front); false when the value needs more.
bool ToFixed(const BigNum* a, uint8_t* out, size_t k);
rtl::SecureBytes ToFixed(const BigNum* a, size_t k);
// The significant bytes (none for zero).
rtl::SecureBytes ToTrimmed(const BigNum* a);
// Four bytes per significant 32-bit word, from the top word down (SaveBigNumToBytes).
rtl::SecureBytes ToWords(const BigNum* a);
// Number of significant bytes of the value.
size_t ByteLength(const BigNum* a);

// R := A mod M for an odd M, by Montgomery reduction: the time depends on the sizes of A and
// M only, so a private value or a blinded intermediate does not show in it.
void ReduceCT(const BigNum* A, const BigNum* M, BigNum* R);
// R := A x B mod M (odd M), the product reduced as above.
void MulModCT(const BigNum* A, const BigNum* B, const BigNum* M, BigNum* R);
// M1 := C^DP mod P and M2 := C^DQ mod Q for odd P and Q (the two halves of an RSA private-key
// operation), each as ExponentiateBigNumMontgomery computes it. Where the processor has AVX-512
// IFMA and P and Q have the same number of words, both run in one ladder whose products are
// computed in pairs; the time depends on the sizes only either way.
void ExponentiateCRT(const BigNum* C, const BigNum* DP, const BigNum* P, const BigNum* DQ, const BigNum* Q,
                     BigNum* M1, BigNum* M2);
// Two exponentiations modulo P and Q on the words of SBMathKernel.h, with contexts the caller
// keeps for more work modulo P and Q: M1 (P's words) := B1^E1 mod P and M2 (Q's words) :=
// B2^E2 mod Q, for bases of P's and Q's word counts (any values). The pairing rule and the
// timing are those of ExponentiateCRT.
void ExponentiatePair(sbmath::MontContext& ctxP, sbmath::Word* M1, const sbmath::Word* B1,
                      std::span<const sbmath::Word> E1, sbmath::MontContext& ctxQ, sbmath::Word* M2,
                      const sbmath::Word* B2, std::span<const sbmath::Word> E2);

// Word arrays for values that may be secret (blinded bases, exponents, primes, their
// residues): the memory is wiped when it is given back.
using SecureWords = std::vector<sbmath::Word, rtl::WipingAllocator<sbmath::Word>>;
// The magnitude of A in n words, or in its own word count (at least one) when n is 0; raises
// EElMathException when it needs more than n.
SecureWords WordsOf(const BigNum* A, size_t n = 0);
// The same for a number given as big-endian bytes (leading zero bytes allowed).
SecureWords WordsOf(Bytes bigEndian, size_t n = 0);
// R := A x B mod M exactly for A, B below M (the context's modulus), by two Montgomery
// products: the time depends on the size only. R may be A or B.
void MulMod(sbmath::MontContext& ctx, sbmath::Word* R, const sbmath::Word* A, const sbmath::Word* B);

// R := A^-1 mod P for a prime P, as A^(P-2) mod P: the time does not depend on A (a nonce).
void InverseModPrimeCT(const BigNum* A, const BigNum* P, BigNum* R);
// A uniform value in 1 .. M - 1 (M > 1): random numbers of M's bit length are drawn until one
// lies in that range (FIPS 186-4 B.1.2, "testing candidates"), so there is no bias and no
// division of the secret.
void RandomBelow(const BigNum* M, BigNum* R);
// The same for several values below M (n words) at once, each into n words of its own: one call
// to the random source serves all of them unless a candidate is refused.
void RandomBelow(const sbmath::Word* M, size_t n, std::span<sbmath::Word* const> out);

// The size protocol of the public-key routines: when size is below data's length (or out is
// null) the size is set to that length and the answer is false; otherwise the bytes are copied
// and the size set to their count.
bool Deliver(Bytes data, void* out, int32_t& size);

// DER read in place: one element is an identifier octet (tag numbers below 31), a definite
// length (short or long form) and that many content bytes, viewed in the caller's buffer, so
// private values are never copied while a blob is read.
struct Element {
    uint8_t tag = 0;
    Bytes content;
    // The whole element, header included.
    Bytes whole;
};
// The next element of data from offset; false when the bytes are not one. Offset moves past it.
bool ReadElement(Bytes data, size_t& offset, Element& out);
// Every element of data in order (at most max); false when data is not a run of elements or
// holds more than max.
bool ReadElements(Bytes data, std::vector<Element>& out, size_t max);

// DER written straight into wiped memory (key blobs carry private values).
void AppendHeader(rtl::SecureBytes& out, uint8_t tag, size_t length);
// A minimal INTEGER of the unsigned big-endian bytes (leading zeros dropped, 00 before a top
// bit, 00 for nothing).
void AppendInteger(rtl::SecureBytes& out, Bytes magnitude);
void AppendInteger(rtl::SecureBytes& out, const BigNum* value);
rtl::SecureBytes Wrap(uint8_t tag, const rtl::SecureBytes& content);

// Digests through the hash facade on the default provider, so that a provider the application
// makes the default hashes for the primitives too. DigestLength answers 0 for an algorithm the
// provider cannot digest. The facade stands above the providers, and the built-in provider
// above these primitives, so these three are only declared here: the hash facade's unit
// defines them (SBHashFunction.cpp), and the call goes up through this declaration, never
// through an include.
size_t DigestLength(int32_t algorithm);
rtl::SecureBytes Digest(int32_t algorithm, std::initializer_list<Bytes> parts);
// Makes the provider those digests run on now. A static made after this call is destroyed
// before that provider, so its destructor can still hash (the asynchronous calculator's
// workers do until it has stopped them).
void PrepareDigests();

// Runs body and answers false when the arithmetic raises (a value too large for its record,
// a zero modulus from hostile input, a cancellation the caller turned into an exception).
template <class Body>
bool Guarded(Body body) {
    try {
        return body();
    } catch (const EElMathException&) {
        return false;
    }
}

}  // namespace pkmath
