// crypto/math/SBMath.h: the library's multi-precision arithmetic.
//
// BigNum is a fixed-capacity signed integer: a limb count, 768 unsigned 32-bit limbs (least
// significant first; Limbs[0] is the lowest limb) and a sign byte. RSA, DSA, Elgamal,
// Diffie-Hellman and SRP work on it through the routines below: shifts, signed add, subtract,
// multiply and long division, modular reduction and exponentiation, extended GCD, a probable-
// prime test, prime generation, hexadecimal text and big-endian bytes.
//
// What must stay true:
// - a record is created with CreateBigNum (value 1) and released with FreeBigNum, which wipes
//   it; operations write into records the caller supplies, and an output may be the same record
//   as an input unless a routine says otherwise;
// - limbs above LimbCount hold no meaning and are never read;
// - a value that does not fit the record (768 limbs), a buffer too small for a value, a zero
//   divisor or modulus, a negative exponent and malformed hexadecimal text raise; nothing is
//   written past the record or a buffer;
// - the magnitude operations (shifts, word operations) leave the sign of the result record as
//   it was; the signed operations give the mathematically correct sign, and zero results are
//   non-negative;
// - every secret (prime candidates, Miller-Rabin bases, random numbers) comes from the
//   operating system's random source;
// - with an odd modulus (every key's), the base is reduced and exponents longer than 64 bits
//   are processed in time that depends only on the sizes of the operands (Montgomery
//   reduction of the base, fixed windows, constant-time table lookups, masked final
//   subtractions), so a private exponent or a secret prime does not show in the timing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "rtl/Exception.h"

// Raised when a long operation is cancelled through its progress callback ("Mathematical
// operation canceled"), and for arguments the arithmetic cannot honour (a value too large for
// its record or buffer, a zero divisor or modulus, a negative exponent).
RTL_EXCEPTION(EElMathException, rtl::Exception);

struct BigNum {
    static constexpr int32_t MaxLimbs = 768;

    int32_t LimbCount;
    uint32_t Limbs[MaxLimbs];
    bool NonNegative;  // one byte: true for zero and positive values
};
static_assert(sizeof(bool) == 1, "the sign of a BigNum is one byte");

// The progress hook of long operations: called with the data pointer passed alongside it;
// false asks to cancel. An empty function never cancels.
using MathProgressCallback = std::function<bool(void* Data)>;

// True when the callback is assigned and asks to cancel.
bool IsMathOperationCanceled(void* Data, const MathProgressCallback& Callback);

// Record handling and text.
void CreateBigNum(BigNum*& A);
void FreeBigNum(BigNum*& A);
void SwapBigNums(BigNum*& A, BigNum*& B);
void CopyBigNum(BigNum* Dest, const BigNum* Source);
// Count 1, limb 0; the sign is left as it was.
void SetBigNumZero(BigNum* A);
// Lowers the count past zero top limbs (to 0 for zero).
void TrimBigNum(BigNum* A);
// Optional "-", then hexadecimal digits of either case, taken in groups of eight from the
// right, one limb per group (zero groups on the left become zero limbs). Empty text is zero.
// Raises rtl::EConvertError for any other character.
void ParseBigNumHex(BigNum* A, const std::string& Text);
// "-" when negative, then every limb from the top down as eight upper-case digits.
std::string FormatBigNumHex(const BigNum* A);
// Big-endian bytes into limbs, zero top limbs dropped (count 0 for no bytes or all zeros); the
// sign is left as it was. Leading zero bytes may exceed the record; significant bytes may not.
void LoadBigNumFromBytes(BigNum* A, const void* Buffer, int32_t Count);
// Every limb from the top down as 4 big-endian bytes. Size holds the buffer's capacity on entry
// and the bytes written (4 x count) on return; raises when the capacity is too small. A null
// Buffer asks for the size: Size is set to it and nothing is written or raised.
void SaveBigNumToBytes(const BigNum* A, void* Buffer, int32_t& Size);
// The same bytes without the leading zero bytes (zero writes nothing); Size as above.
void SaveBigNumToTrimmedBytes(const BigNum* A, void* Buffer, int32_t& Size);
// N random limbs, count N, non-negative, not trimmed.
void FillBigNumRandom(BigNum* A, int32_t N);
// ByteCount random bytes filling limbs from their low end (count = limbs written); the sign
// is left as it was.
void FillBigNumRandomBytes(BigNum* A, int32_t ByteCount);

// Tests. Comparisons are by value, so they hold for records with zero top limbs as well.
bool IsBigNumZero(const BigNum* A);
bool IsBigNumEven(const BigNum* A);
// |A| > |B|.
bool IsBigNumGreater(const BigNum* A, const BigNum* B);
// Equal values (zero equals negative zero).
bool AreBigNumsEqual(const BigNum* A, const BigNum* B);
int32_t CountBigNumBits(const BigNum* A);
// 0 or 1; positions are counted from 1 at the lowest bit.
int32_t GetBigNumBit(const BigNum* A, int32_t Position);

// Magnitude operations: the sign of the result record is not touched.
void ShiftBigNumLeftOneBit(BigNum* A);
void ShiftBigNumRightOneBit(BigNum* A);
void ShiftBigNumLeft(const BigNum* Source, BigNum* Dest, int32_t N);
void ShiftBigNumRight(const BigNum* Source, BigNum* Dest, int32_t N);
void ShiftBigNumLimbsLeft(BigNum* A, int32_t N);
void AddWordToBigNum(const BigNum* Source, uint32_t W, BigNum* Dest);
// Raises when |Source| < W.
void SubtractWordFromBigNum(const BigNum* Source, uint32_t W, BigNum* Dest);
void MultiplyBigNumByWord(const BigNum* Source, uint32_t W, BigNum* Dest);
void RemainderBigNumByWord(const BigNum* A, uint32_t W, uint32_t& R);

// Signed operations.
void AddBigNums(const BigNum* A, const BigNum* B, BigNum* Sum);
void SubtractBigNums(const BigNum* A, const BigNum* B, BigNum* Diff);
void IncrementBigNum(BigNum* A);
void DecrementBigNum(BigNum* A);
void MultiplyBigNums(const BigNum* A, const BigNum* B, BigNum* Product);
// Truncating division: Quotient gets n div 32 + 1 limbs (n = bit length of Dividend minus that
// of Divisor, at least 0), not trimmed; its sign is the product of the operands' signs, the
// remainder's that of the dividend. Quotient and Remainder must be different records.
void DivideBigNums(const BigNum* Dividend, const BigNum* Divisor, BigNum* Quotient, BigNum* Remainder);

// Modular arithmetic: results lie in 0 .. |M| - 1 for operands of either sign.
void ReduceBigNumBySubtraction(const BigNum* A, const BigNum* M, BigNum* R);
void ReduceBigNumByShifting(const BigNum* A, const BigNum* M, BigNum* R);
// Base^Exponent mod Modulus for any non-zero modulus; exponent 0 gives 1 mod Modulus.
void ExponentiateBigNumRecursive(const BigNum* Base, const BigNum* Exponent, const BigNum* Modulus,
                                 BigNum* Result);
// GCD := gcd(A, M) and Inverse := the coefficient c in 0 .. |M| - 1 with A x c = GCD (mod M);
// when GCD is 1, Inverse is A^-1 mod M. A and M must be non-zero. The time depends on the
// values: to invert a secret (a signature nonce) modulo an odd prime P, take A^(P-2) mod P
// with ExponentiateBigNumMontgomery instead, which does not show it.
void ComputeBigNumGCDAndInverse(const BigNum* A, const BigNum* M, BigNum* GCD, BigNum* Inverse);
// One Montgomery product R := A x B x 2^(-32N) mod M over N limbs (limbs of A and B above
// their counts are taken as zero), with one final subtraction of M; R gets exactly N limbs.
// MPrime is -(M^-1) mod 2^32.
void MultiplyBigNumsMontgomery(const BigNum* A, const BigNum* B, const BigNum* M, int32_t N, uint32_t MPrime,
                               BigNum* R);
// Base^Exponent mod Modulus. An odd modulus runs in Montgomery form; an even one is reduced by
// division, in variable time. The callback is polled between steps: on cancel the result is
// untouched and the call raises "Mathematical operation canceled" when RaiseOnCancel is set,
// else returns false.
bool ExponentiateBigNumMontgomery(const BigNum* Base, const BigNum* Exponent, const BigNum* Modulus,
                                  BigNum* Result, const MathProgressCallback& Callback = {},
                                  void* CallbackData = nullptr, bool RaiseOnCancel = false);

// Primes. Cancellation follows the rule above; a cancelled test answers false.
bool IsBigNumProbablePrime(const BigNum* N, const MathProgressCallback& Callback = {},
                           void* CallbackData = nullptr, bool RaiseOnCancel = false);
bool RunMillerRabinRound(const BigNum* N, const MathProgressCallback& Callback = {},
                         void* CallbackData = nullptr, bool RaiseOnCancel = false);
// A prime of LimbCount limbs with the top bit (and with TwoTopBits the next bit) set. Returns
// true with P set, or false after a cancellation without RaiseOnCancel.
bool GenerateBigNumPrime(BigNum* P, int32_t LimbCount, bool TwoTopBits, bool RaiseOnCancel,
                         const MathProgressCallback& Callback = {}, void* CallbackData = nullptr);
// A prime of exactly Bits bits (at least 2), the same way.
bool GenerateBigNumPrimeBits(BigNum* P, int32_t Bits, bool TwoTopBits, bool RaiseOnCancel,
                             const MathProgressCallback& Callback = {}, void* CallbackData = nullptr);

// A byte stream for random numbers that other units draw in steps (DSA and Elgamal secrets).
// Every byte comes from the operating system's random source; the state only records that it
// was initialised.
struct MathRandomState {
    bool Initialised = false;
};
void InitMathRandom(MathRandomState& State);
void SeedMathRandom(MathRandomState& State);
uint8_t NextMathRandomByte(MathRandomState& State);
// ByteCount bytes filling limbs from their low end; count = limbs written, sign untouched.
void FillBigNumFromMathRandom(MathRandomState& State, BigNum* A, int32_t ByteCount);

// Owning handle for code that wants FreeBigNum to run on every path out of a scope.
struct BigNumFreer {
    void operator()(BigNum* A) const { FreeBigNum(A); }
};
using BigNumPtr = std::unique_ptr<BigNum, BigNumFreer>;
// A new record holding 1, owned by the handle.
BigNumPtr MakeBigNum();
