// crypto/math/SBMathKernel.h: the word-level arithmetic under SBMath (internal to the unit).
//
// BigNum keeps its value in 32-bit limbs, and that layout is what callers see. The heavy
// operations (products, division, Montgomery arithmetic) instead run here on 64-bit words with
// 128-bit intermediate products, which needs a quarter of the multiplications. A value moves
// between the two forms with ToWords/FromWords; nothing here knows about signs.
//
// What must stay true:
// - every routine works on caller-owned arrays of explicit length; the Montgomery products
//   and squarings, which run thousands of times per exponentiation, never allocate;
// - the Montgomery product and squaring take time that depends only on the modulus size, never
//   on the operand values (their final subtraction is masked), because private exponents and
//   prime candidates run through them;
// - Karatsuba is used only above a size threshold and gives the same words as the schoolbook
//   product.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

struct BigNum;

namespace sbmath {

using Word = uint64_t;
__extension__ typedef unsigned __int128 DWord;

// Largest value held by a BigNum, in 64-bit words (768 limbs of 32 bits).
inline constexpr size_t kMaxWords = 384;

// The one source of secrets for the unit: the operating system's random source.
void RandomBytes(void* buf, size_t n);
// ByteCount random bytes into A's limbs from their low end; count = limbs written.
void FillLimbsRandomBytes(BigNum* A, int32_t ByteCount);
// A's limb count, checked against the record's capacity (a negative count reads as 0).
int32_t LimbCountOf(const BigNum* A);
// The limb count without zero top limbs.
int32_t SignificantLimbs(const BigNum* A);
[[noreturn]] void RaiseTooLarge();

// Copies the magnitude of A into out[0..n), zero-padded; limbs past A's count are never read.
// Returns the significant word count (raises when the value needs more than n words).
size_t ToWords(const BigNum* A, Word* out, size_t n);
// The significant word count of A's magnitude.
size_t WordCount(const BigNum* A);
// Sets A's limbs from w[0..n) (the sign is not touched). The limb count is the significant
// count, at least minLimbs; raises when the value does not fit the record.
void FromWords(BigNum* A, const Word* w, size_t n, int32_t minLimbs = 1);

// Length of a without its zero top words.
size_t Normalized(const Word* a, size_t n);

Word AddN(Word* r, const Word* a, const Word* b, size_t n);
Word SubN(Word* r, const Word* a, const Word* b, size_t n);
// r[0..n) = a[0..n) + b (or - b); returns the carry (borrow).
Word Add1(Word* r, const Word* a, size_t n, Word b);
Word Sub1(Word* r, const Word* a, size_t n, Word b);
// -1, 0 or 1 as a is below, equal to or above b (both n words); variable time.
int Cmp(const Word* a, const Word* b, size_t n);
// r[0..n) = a[0..n) * b; returns the top word.
Word Mul1(Word* r, const Word* a, size_t n, Word b);
// r[0..n) += a[0..n) * b; returns the carry word.
Word AddMul1(Word* r, const Word* a, size_t n, Word b);
// r[0..n) -= a[0..n) * b; returns the borrow word.
Word SubMul1(Word* r, const Word* a, size_t n, Word b);
// The two forms AddMul1 chooses between: the portable loop, and MULX/ADCX/ADOX on x86-64
// processors that have them (SBMathKernel_x86.cpp).
Word AddMul1Portable(Word* r, const Word* a, size_t n, Word b);
Word AddMul1Fast(Word* r, const Word* a, size_t n, Word b);
// The form in use, chosen once for a whole product, squaring or reduction instead of once per
// row.
using AddMul1Form = Word (*)(Word* r, const Word* a, size_t n, Word b);
AddMul1Form ChosenAddMul1();
// True when the fast forms are in use: the processor has them and they are enabled.
bool FastPathsActive();
// Enables or disables the fast forms (the tests run the portable ones with the same inputs).
void SetFastPathsEnabled(bool enabled);
// True when the radix-2^52 kernels of SBMathIfma.h may run: the processor has AVX-512 IFMA
// and its 256-bit forms (AVX512VL), the operating system keeps the AVX-512 registers, and the
// fast forms are enabled.
bool IfmaActive();

// r[0..an+bn) = a * b; r must not overlap a or b; an >= 1, bn >= 1.
void Mul(Word* r, const Word* a, size_t an, const Word* b, size_t bn);
// r[0..2n) = a * a; r must not overlap a.
void Sqr(Word* r, const Word* a, size_t n);
// The same with a caller-supplied workspace of MulScratchWords(max(an, bn)) words, so hot loops
// do not allocate.
size_t MulScratchWords(size_t n);
void Mul(Word* r, const Word* a, size_t an, const Word* b, size_t bn, Word* ws);
void Sqr(Word* r, const Word* a, size_t n, Word* ws);
// The schoolbook forms, exposed so the tests can compare Karatsuba with them.
void MulBasecase(Word* r, const Word* a, size_t an, const Word* b, size_t bn);
void SqrBasecase(Word* r, const Word* a, size_t n);
// Size (in words of each operand) from which Mul and Sqr switch to Karatsuba.
inline constexpr size_t kKaratsubaThreshold = 40;

// Knuth's division: q[0..an-dn+1) = a / d and r[0..dn) = a mod d. d[dn-1] must be non-zero,
// an >= dn. q may be null when only the remainder is wanted. Variable time.
void DivRem(Word* q, Word* r, const Word* a, size_t an, const Word* d, size_t dn);
// Extended Euclid (Lehmer's form on the leading 64 bits) on a < m, m > 0, both of mn words:
// g := gcd(a, m) and c := the coefficient with a * c = g (mod m), given as a magnitude below
// m (mn words) and a sign. Variable time.
void GcdExt(const Word* a, const Word* m, size_t mn, Word* g, Word* c, bool& cNegative);

// Montgomery arithmetic modulo an odd m of n words, with R = 2^(64n).
class MontContext {
public:
    // m[n-1] must be non-zero and m odd.
    MontContext(const Word* m, size_t n);
    ~MontContext();
    MontContext(const MontContext&) = delete;
    MontContext& operator=(const MontContext&) = delete;

    size_t Size() const { return n_; }
    const Word* Modulus() const { return m_.data(); }

    // r = a * b / R mod m, for a, b < m; r may alias a or b. Constant time.
    void Mul(Word* r, const Word* a, const Word* b);
    // r = a * a / R mod m. Constant time.
    void Sqr(Word* r, const Word* a);
    // r = a * R mod m for any a of n words (a < m not required).
    void ToMont(Word* r, const Word* a);
    // r = a / R mod m, fully reduced.
    void FromMont(Word* r, const Word* a);
    // r (n words) = a mod m for a of an words, by Montgomery products and masked additions, so
    // the time depends on an and n only: the base of a private-key operation is reduced by a
    // secret prime without its value showing in the timing. With negative set, a is the
    // magnitude of a negative number and r its residue, m - (a mod m) (0 stays 0).
    void Reduce(Word* r, const Word* a, size_t an, bool negative = false);
    // R mod m: the Montgomery form of 1.
    const Word* One() const { return one_.data(); }
    // Products and squarings done so far (the tests compare the work of exponentiations).
    size_t Operations() const { return operations_; }
    // -m^-1 mod 2^64, and the count of products done outside the context (IfmaMontExp).
    Word MInverse() const { return minv_; }
    void CountOperations(size_t count) { operations_ += count; }

private:
    void Redc(Word* r, Word* t);  // r = t / R mod m for t < m * R; t (2n words) is destroyed

    size_t n_;
    std::vector<Word> m_;
    Word minv_;              // -m^-1 mod 2^64
    std::vector<Word> rr_;   // R^2 mod m
    std::vector<Word> one_;  // R mod m
    std::vector<Word> t_;    // 2n words of scratch
    std::vector<Word> ws_;   // Karatsuba workspace
    size_t operations_ = 0;
};

// Base^exp mod m for an odd m: base (n words, any value), exponent exp (en words). Exponents
// longer than 64 bits run a fixed-window ladder with constant-time table selection, so the
// time depends only on the sizes; shorter ones (public exponents, small Fermat bases) use
// plain square-and-multiply. poll is called between steps; it returns false to cancel, and
// then this returns false with r untouched.
using Poll = std::function<bool()>;
bool MontExp(MontContext& ctx, Word* r, const Word* base, const Word* exp, size_t en, const Poll& poll);

// Modulus sizes (64-bit words) for which MontExp runs on the IFMA kernels when IfmaActive():
// from 512 bits up to the kernels' 64 digits.
inline constexpr size_t kIfmaMinWords = 8;
inline constexpr size_t kIfmaMaxWords = 51;
// Digits of 52 bits for a modulus of n words, so that 2^(52k) is above 4m.
inline constexpr size_t IfmaDigits(size_t n) {
    return (64 * n + 2 + 51) / 52;
}
// MontExp on the IFMA kernels (fixed windows for exponents over 64 bits, square-and-multiply
// for shorter ones); same result as MontExp's portable form. Requires IfmaActive() and a context of
// kIfmaMinWords..kIfmaMaxWords words. Constant time as MontExp is.
bool IfmaMontExp(MontContext& ctx, Word* r, const Word* base, const Word* exp, size_t en, const Poll& poll);
// Two such exponentiations at once, r1 = base1^exp1 mod m1 and r2 = base2^exp2 mod m2, for two
// contexts of the same size (the CRT halves of a private key): the fixed-window ladder of the
// longer exponent for both (square-and-multiply when neither is longer than 64 bits), their
// products computed in pairs. Same requirements and results as two IfmaMontExp calls; false
// (results untouched) when poll cancels.
bool IfmaMontExp2(MontContext& ctx1, Word* r1, const Word* base1, const Word* exp1, size_t en1,
                  MontContext& ctx2, Word* r2, const Word* base2, const Word* exp2, size_t en2,
                  const Poll& poll);

// The same for any modulus m (mn words, top word non-zero; even ones included) by
// multiplication and division; variable time. base has mn words.
bool PlainExp(Word* r, const Word* base, const Word* m, size_t mn, const Word* exp, size_t en,
              const Poll& poll);

// Bits of exp (en words) from bit position pos upwards, count bits (at most 8); reads the
// words in a fixed order, so a secret exponent's bits do not steer memory accesses.
unsigned ExpWindow(const Word* exp, size_t en, size_t pos, unsigned count);
size_t BitLength(const Word* a, size_t n);

// Copies entry idx of a table of count entries of n words into out, touching every entry.
void ConstantTimeSelect(Word* out, const Word* table, size_t count, size_t n, size_t idx);

}  // namespace sbmath
