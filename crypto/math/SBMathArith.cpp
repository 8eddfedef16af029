// crypto/math/SBMathArith.cpp: products, division, modular reduction and exponentiation, the
// extended GCD and the single Montgomery product of SBMath.
//
// Each routine copies its operands into 64-bit word arrays, runs the kernel
// (SBMathKernel.cpp) and writes the result record last, so a result may be the same record as
// an operand. The word arrays live on the stack (a BigNum holds at most 384 words) and are
// wiped before returning, since they carry private exponents and primes.
//
// What must stay true: every result is the mathematically exact one (reductions lie in
// 0 .. |M| - 1, exponentiation gives Base^Exponent mod Modulus for every modulus, exponent 0
// included); cancellation leaves the result record untouched.
#include <algorithm>
#include <cstring>
#include <utility>

#include "crypto/math/SBMath.h"
#include "crypto/math/SBMathKernel.h"
#include "rtl/Bytes.h"

using sbmath::kMaxWords;
using sbmath::Word;

namespace {

const char kCanceled[] = "Mathematical operation canceled";

// A word array on the stack that is wiped when it goes out of scope. Only the words a routine
// wrote are cleared: each writer first announces how many (Load does it itself), so a
// 2048-bit product does not pay for clearing 3 KB it never touched.
template <size_t N>
class WipedWords {
public:
    WipedWords() = default;
    WipedWords(const WipedWords&) = delete;
    WipedWords& operator=(const WipedWords&) = delete;
    ~WipedWords() { rtl::secure_wipe(w_, used_ * sizeof(Word)); }

    // The magnitude of A, zero-padded to at least pad words; answers the significant count.
    size_t Load(const BigNum* A, size_t pad = 0) {
        const size_t n = std::max(sbmath::WordCount(A), pad);
        if (n > N) sbmath::RaiseTooLarge();
        Use(n);
        return sbmath::ToWords(A, w_, n);
    }
    // Announces that words [0, n) are about to be written; answers the array.
    Word* Use(size_t n) {
        used_ = std::max(used_, std::min(n, N));
        return w_;
    }
    Word* data() { return w_; }
    Word& operator[](size_t i) { return w_[i]; }

private:
    Word w_[N];
    size_t used_ = 0;
};

[[noreturn]] void RaiseDivisionByZero() {
    throw EElMathException("Division by zero");
}

// r := |A| mod m (mn words, top word non-zero), in 0 .. m - 1; a negative A gives m - that
// unless magnitudeOnly is set.
void ResidueOf(const BigNum* A, const Word* m, size_t mn, Word* r, bool magnitudeOnly = false) {
    WipedWords<kMaxWords> a;
    const size_t an = a.Load(A, mn);
    if (an >= mn) {
        sbmath::DivRem(nullptr, r, a.data(), an, m, mn);
    } else {
        std::memcpy(r, a.data(), mn * sizeof(Word));
    }
    if (!magnitudeOnly && !A->NonNegative && sbmath::Normalized(r, mn) != 0) sbmath::SubN(r, m, r, mn);
}

void Reduce(const BigNum* A, const BigNum* M, BigNum* R) {
    WipedWords<kMaxWords> m, r;
    const size_t mn = m.Load(M);
    if (mn == 0) RaiseDivisionByZero();
    ResidueOf(A, m.data(), mn, r.Use(mn));
    sbmath::FromWords(R, r.data(), mn);
    R->NonNegative = true;
}

bool Exponentiate(const BigNum* Base, const BigNum* Exponent, const BigNum* Modulus, BigNum* Result,
                  const sbmath::Poll& poll) {
    if (!Exponent->NonNegative && !IsBigNumZero(Exponent)) throw EElMathException("Negative exponent");
    WipedWords<kMaxWords> m, e, x, r;
    const size_t mn = m.Load(Modulus);
    if (mn == 0) RaiseDivisionByZero();
    const size_t en = e.Load(Exponent);
    x.Use(mn);
    r.Use(mn);
    bool done;
    if (m[0] & 1) {
        // An odd modulus may be a secret prime (the CRT halves of a private key): the base is
        // reduced by Montgomery products, not by division, so that its time does not depend on
        // the values either.
        sbmath::MontContext ctx(m.data(), mn);
        WipedWords<kMaxWords> b;
        const size_t bn = b.Load(Base);
        ctx.Reduce(x.data(), b.data(), bn, !Base->NonNegative);
        done = sbmath::MontExp(ctx, r.data(), x.data(), e.data(), en, poll);
    } else {
        ResidueOf(Base, m.data(), mn, x.data());
        done = sbmath::PlainExp(r.data(), x.data(), m.data(), mn, e.data(), en, poll);
    }
    if (!done) return false;
    sbmath::FromWords(Result, r.data(), mn);
    Result->NonNegative = true;
    return true;
}

}  // namespace

void MultiplyBigNums(const BigNum* A, const BigNum* B, BigNum* Product) {
    WipedWords<kMaxWords> a, b;
    WipedWords<2 * kMaxWords> p;
    const size_t an = a.Load(A);
    const size_t bn = b.Load(B);
    if (an == 0 || bn == 0) {
        SetBigNumZero(Product);
        Product->NonNegative = true;
        return;
    }
    sbmath::Mul(p.Use(an + bn), a.data(), an, b.data(), bn);
    const bool sign = A->NonNegative == B->NonNegative;
    sbmath::FromWords(Product, p.data(), an + bn);
    Product->NonNegative = sign;
}

void DivideBigNums(const BigNum* Dividend, const BigNum* Divisor, BigNum* Quotient, BigNum* Remainder) {
    if (Quotient == Remainder) throw EElMathException("Quotient and remainder must be different numbers");
    WipedWords<kMaxWords> a, d, q, r;
    const size_t dn = d.Load(Divisor);
    if (dn == 0) RaiseDivisionByZero();
    const size_t an = a.Load(Dividend, dn);
    // The quotient keeps the size the bit lengths promise, zero top limb included.
    const int32_t gap = std::max(0, CountBigNumBits(Dividend) - CountBigNumBits(Divisor));
    const int32_t quotientLimbs = gap / 32 + 1;
    const size_t qn = an >= dn ? an - dn + 1 : 1;
    std::memset(q.Use(qn), 0, qn * sizeof(Word));
    r.Use(dn);
    if (an >= dn) {
        sbmath::DivRem(q.data(), r.data(), a.data(), an, d.data(), dn);
    } else {
        std::memcpy(r.data(), a.data(), dn * sizeof(Word));
    }
    const bool dividendSign = Dividend->NonNegative;
    const bool quotientSign = Dividend->NonNegative == Divisor->NonNegative;
    sbmath::FromWords(Quotient, q.data(), qn, quotientLimbs);
    Quotient->NonNegative = quotientSign || sbmath::Normalized(q.data(), qn) == 0;
    sbmath::FromWords(Remainder, r.data(), dn);
    Remainder->NonNegative = dividendSign || sbmath::Normalized(r.data(), dn) == 0;
}

void ReduceBigNumBySubtraction(const BigNum* A, const BigNum* M, BigNum* R) {
    Reduce(A, M, R);
}

void ReduceBigNumByShifting(const BigNum* A, const BigNum* M, BigNum* R) {
    Reduce(A, M, R);
}

void ExponentiateBigNumRecursive(const BigNum* Base, const BigNum* Exponent, const BigNum* Modulus,
                                 BigNum* Result) {
    Exponentiate(Base, Exponent, Modulus, Result, [] { return true; });
}

bool ExponentiateBigNumMontgomery(const BigNum* Base, const BigNum* Exponent, const BigNum* Modulus,
                                  BigNum* Result, const MathProgressCallback& Callback, void* CallbackData,
                                  bool RaiseOnCancel) {
    const bool done = Exponentiate(Base, Exponent, Modulus, Result,
                                   [&] { return !IsMathOperationCanceled(CallbackData, Callback); });
    if (!done && RaiseOnCancel) throw EElMathException(kCanceled);
    return done;
}

void ComputeBigNumGCDAndInverse(const BigNum* A, const BigNum* M, BigNum* GCD, BigNum* Inverse) {
    WipedWords<kMaxWords> m, a, g, c;
    const size_t mn = m.Load(M);
    if (mn == 0) RaiseDivisionByZero();
    // The coefficient for |A| mod |M|; A's own sign flips it.
    ResidueOf(A, m.data(), mn, a.Use(mn), true);
    bool negative = false;
    sbmath::GcdExt(a.data(), m.data(), mn, g.Use(mn), c.Use(mn), negative);
    if (!A->NonNegative) negative = !negative;
    if (sbmath::Cmp(c.data(), m.data(), mn) >= 0) sbmath::SubN(c.data(), c.data(), m.data(), mn);
    if (negative && sbmath::Normalized(c.data(), mn) != 0) sbmath::SubN(c.data(), m.data(), c.data(), mn);
    sbmath::FromWords(GCD, g.data(), mn);
    GCD->NonNegative = true;
    sbmath::FromWords(Inverse, c.data(), mn);
    Inverse->NonNegative = true;
}

void MultiplyBigNumsMontgomery(const BigNum* A, const BigNum* B, const BigNum* M, int32_t N, uint32_t MPrime,
                               BigNum* R) {
    if (N < 1 || N > BigNum::MaxLimbs) throw EElMathException("Invalid Montgomery size");
    if (sbmath::SignificantLimbs(M) > N || sbmath::SignificantLimbs(A) > N || sbmath::SignificantLimbs(B) > N)
        throw EElMathException("Operand wider than the Montgomery size");
    const size_t n = size_t(N);
    auto limb = [](const BigNum* X, size_t i) {
        return i < size_t(sbmath::LimbCountOf(X)) ? X->Limbs[i] : 0u;
    };
    uint32_t t[BigNum::MaxLimbs + 2] = {};
    for (size_t i = 0; i < n; ++i) {
        const uint64_t ai = limb(A, i);
        uint64_t carry = 0;
        for (size_t j = 0; j < n; ++j) {
            const uint64_t s = t[j] + ai * limb(B, j) + carry;
            t[j] = uint32_t(s);
            carry = s >> 32;
        }
        uint64_t s = uint64_t(t[n]) + carry;
        t[n] = uint32_t(s);
        t[n + 1] = uint32_t(s >> 32);
        const uint64_t u = uint32_t(t[0] * MPrime);
        // t := (t + u M) / 2^32
        s = t[0] + u * limb(M, 0);
        carry = s >> 32;
        for (size_t j = 1; j < n; ++j) {
            s = t[j] + u * limb(M, j) + carry;
            t[j - 1] = uint32_t(s);
            carry = s >> 32;
        }
        s = uint64_t(t[n]) + carry;
        t[n - 1] = uint32_t(s);
        t[n] = t[n + 1] + uint32_t(s >> 32);
    }
    // One subtraction of M when t (n + 1 limbs) is at least M.
    bool geq = t[n] != 0;
    if (!geq) {
        geq = true;
        for (size_t i = n; i-- > 0;) {
            if (t[i] != limb(M, i)) {
                geq = t[i] > limb(M, i);
                break;
            }
        }
    }
    if (geq) {
        int64_t borrow = 0;
        for (size_t i = 0; i < n; ++i) {
            const int64_t d = int64_t(t[i]) - limb(M, i) - borrow;
            borrow = d < 0 ? 1 : 0;
            t[i] = uint32_t(d + (borrow << 32));
        }
    }
    std::memcpy(R->Limbs, t, n * sizeof(uint32_t));
    R->LimbCount = N;
    R->NonNegative = true;
    rtl::secure_wipe(t, sizeof(t));
}
