// crypto/math/SBMathKernel.cpp: word-level arithmetic on 64-bit words for SBMath (see the header
// for what must stay true).
//
// Products are schoolbook below kKaratsubaThreshold and Karatsuba above it. Karatsuba's
// middle term takes |a0 - a1| and |b0 - b1| by masked negation and adds or subtracts their
// product by masked two's-complement, so it has no branch on operand values either. Division
// is Knuth's algorithm D with a precomputed reciprocal of the top divisor word.
#include "crypto/math/SBMathKernel.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>

#include "crypto/math/SBMath.h"
#include "rtl/Bytes.h"

namespace sbmath {

namespace {

// An all-ones word when x is 1, zero when x is 0.
inline Word MaskOf(Word bit) {
    return Word(0) - bit;
}

// r[0..n) = a when mask is all ones; kept otherwise.
inline void MaskedCopy(Word* r, const Word* a, size_t n, Word mask) {
    for (size_t i = 0; i < n; ++i)
        r[i] = (a[i] & mask) | (r[i] & ~mask);
}

// a := -a mod 2^(64n) when mask is all ones; unchanged when it is zero.
inline void MaskedNegate(Word* a, size_t n, Word mask) {
    Word carry = mask & 1;
    for (size_t i = 0; i < n; ++i) {
        const DWord t = DWord(a[i] ^ mask) + carry;
        a[i] = Word(t);
        carry = Word(t >> 64);
    }
}

// floor((2^128 - 1) / d) - 2^64 for a normalised d (top bit set).
inline Word Reciprocal(Word d) {
    return Word(((DWord(~d) << 64) | ~Word(0)) / d);
}

// Divides (u1, u0) by a normalised d with its reciprocal v; u1 < d.
inline Word DivPreinv(Word u1, Word u0, Word d, Word v, Word& rem) {
    const DWord p = DWord(v) * u1 + ((DWord(u1) << 64) | u0);
    Word q1 = Word(p >> 64) + 1;
    const Word q0 = Word(p);
    Word r = u0 - q1 * d;
    if (r > q0) {
        --q1;
        r += d;
    }
    if (r >= d) {
        ++q1;
        r -= d;
    }
    rem = r;
    return q1;
}

size_t KaratsubaScratch(size_t n) {
    // Each level needs 6m + 2 words (m = ceil(n/2)) plus the level below.
    size_t total = 0;
    while (n >= kKaratsubaThreshold) {
        const size_t m = (n + 1) / 2;
        total += 6 * m + 4;
        n = m;
    }
    return total + 4;
}

void KaratsubaMul(Word* r, const Word* a, const Word* b, size_t n, Word* ws);
void KaratsubaSqr(Word* r, const Word* a, size_t n, Word* ws);

void MulRec(Word* r, const Word* a, size_t an, const Word* b, size_t bn, Word* ws);

void SqrRec(Word* r, const Word* a, size_t n, Word* ws) {
    if (n < kKaratsubaThreshold) {
        SqrBasecase(r, a, n);
    } else {
        KaratsubaSqr(r, a, n, ws);
    }
}

// d := |x0 - x1| over m words (x1 has h <= m words); returns the mask of "x0 < x1".
Word AbsDiff(Word* d, const Word* x0, const Word* x1, size_t m, size_t h) {
    Word borrow = SubN(d, x0, x1, h);
    if (m > h) borrow = Sub1(d + h, x0 + h, m - h, borrow);
    const Word mask = MaskOf(borrow);
    MaskedNegate(d, m, mask);
    return mask;
}

// Adds the middle term mid (2m + 1 words, already signed into two's complement) into r at
// word m, carrying through the rest of r (rn words in all).
void AddMiddle(Word* r, size_t rn, size_t m, const Word* mid, size_t midn) {
    const size_t span = std::min(midn, rn - m);
    Word carry = AddN(r + m, r + m, mid, span);
    if (rn > m + span) Add1(r + m + span, r + m + span, rn - m - span, carry);
}

void KaratsubaMul(Word* r, const Word* a, const Word* b, size_t n, Word* ws) {
    const size_t m = (n + 1) / 2;
    const size_t h = n - m;
    const size_t midn = 2 * m + 1;
    Word* da = ws;
    Word* db = da + m;
    Word* z1 = db + m;      // 2m + 1
    Word* mid = z1 + midn;  // 2m + 1
    Word* next = mid + midn;

    MulRec(r, a, m, b, m, next);                  // z0 into r[0..2m)
    MulRec(r + 2 * m, a + m, h, b + m, h, next);  // z2 into r[2m..2n)
    const Word sa = AbsDiff(da, a, a + m, m, h);
    const Word sb = AbsDiff(db, b, b + m, m, h);
    MulRec(z1, da, m, db, m, next);
    z1[2 * m] = 0;

    // mid = z0 + z2 - (a0 - a1)(b0 - b1) = a0 b1 + a1 b0, which fits 2m + 1 words. The product
    // is subtracted as its two's complement when the differences have the same sign.
    std::memcpy(mid, r, 2 * m * sizeof(Word));
    mid[2 * m] = 0;
    const Word carry = AddN(mid, mid, r + 2 * m, 2 * h);
    Add1(mid + 2 * h, mid + 2 * h, midn - 2 * h, carry);
    MaskedNegate(z1, midn, ~(sa ^ sb));
    AddN(mid, mid, z1, midn);
    AddMiddle(r, 2 * n, m, mid, midn);
}

void KaratsubaSqr(Word* r, const Word* a, size_t n, Word* ws) {
    const size_t m = (n + 1) / 2;
    const size_t h = n - m;
    Word* da = ws;
    Word* z1 = da + m;       // 2m
    Word* mid = z1 + 2 * m;  // 2m + 2
    Word* next = mid + 2 * m + 2;

    SqrRec(r, a, m, next);
    SqrRec(r + 2 * m, a + m, h, next);
    AbsDiff(da, a, a + m, m, h);
    SqrRec(z1, da, m, next);

    const size_t midn = 2 * m + 1;
    std::memcpy(mid, r, 2 * m * sizeof(Word));
    mid[2 * m] = 0;
    Word carry = AddN(mid, mid, r + 2 * m, 2 * h);
    Add1(mid + 2 * h, mid + 2 * h, midn - 2 * h, carry);
    const Word borrow = SubN(mid, mid, z1, 2 * m);
    mid[2 * m] -= borrow;
    AddMiddle(r, 2 * n, m, mid, midn);
}

void MulRec(Word* r, const Word* a, size_t an, const Word* b, size_t bn, Word* ws) {
    if (an < bn) {
        std::swap(a, b);
        std::swap(an, bn);
    }
    if (bn < kKaratsubaThreshold) {
        MulBasecase(r, a, an, b, bn);
        return;
    }
    if (an == bn) {
        KaratsubaMul(r, a, b, an, ws);
        return;
    }
    // Unbalanced: blocks of bn words of a, each a balanced product added into r.
    std::memset(r, 0, (an + bn) * sizeof(Word));
    Word* prod = ws;
    Word* next = ws + 2 * bn;
    for (size_t off = 0; off < an; off += bn) {
        const size_t len = std::min(bn, an - off);
        MulRec(prod, a + off, len, b, bn, next);
        const Word carry = AddN(r + off, r + off, prod, len + bn);
        if (an + bn > off + len + bn) Add1(r + off + len + bn, r + off + len + bn, an - off - len, carry);
    }
}

}  // namespace

size_t WordCount(const BigNum* A) {
    return (size_t(SignificantLimbs(A)) + 1) / 2;
}

size_t ToWords(const BigNum* A, Word* out, size_t n) {
    const size_t c = size_t(SignificantLimbs(A));
    const size_t words = (c + 1) / 2;
    if (words > n) RaiseTooLarge();
    // Pairs of limbs, low limb first, then the odd top limb alone: no limb at or above the
    // count is read. The loop has no branch, so it runs at the speed of a copy.
    const uint32_t* l = A->Limbs;
    if constexpr (std::endian::native == std::endian::little) {
        // Pairs of limbs, low first, are the words' own bytes here.
        std::memcpy(out, l, (c / 2) * sizeof(Word));
    } else {
        for (size_t i = 0; i < c / 2; ++i)
            out[i] = Word(l[2 * i]) | (Word(l[2 * i + 1]) << 32);
    }
    if (c % 2 != 0) out[c / 2] = l[c - 1];
    if (n > words) std::memset(out + words, 0, (n - words) * sizeof(Word));
    return words;
}

void FromWords(BigNum* A, const Word* w, size_t n, int32_t minLimbs) {
    n = Normalized(w, n);
    size_t limbs = 2 * n;
    if (n > 0 && (w[n - 1] >> 32) == 0) --limbs;
    limbs = std::max(limbs, size_t(std::max(minLimbs, 0)));
    if (limbs > size_t(BigNum::MaxLimbs)) RaiseTooLarge();
    // Both halves of every word (the top one may be a zero limb above the count: 2n limbs
    // never pass the record, since n words came from at most 768 limbs), then zero limbs up to
    // the count asked for.
    uint32_t* l = A->Limbs;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(l, w, n * sizeof(Word));
    } else {
        for (size_t i = 0; i < n; ++i) {
            l[2 * i] = uint32_t(w[i]);
            l[2 * i + 1] = uint32_t(w[i] >> 32);
        }
    }
    if (limbs > 2 * n) std::memset(l + 2 * n, 0, (limbs - 2 * n) * sizeof(uint32_t));
    A->LimbCount = int32_t(limbs);
}

size_t Normalized(const Word* a, size_t n) {
    while (n > 0 && a[n - 1] == 0)
        --n;
    return n;
}

Word AddN(Word* r, const Word* a, const Word* b, size_t n) {
    Word carry = 0;
    for (size_t i = 0; i < n; ++i) {
        const DWord t = DWord(a[i]) + b[i] + carry;
        r[i] = Word(t);
        carry = Word(t >> 64);
    }
    return carry;
}

Word SubN(Word* r, const Word* a, const Word* b, size_t n) {
    Word borrow = 0;
    for (size_t i = 0; i < n; ++i) {
        const DWord t = DWord(a[i]) - b[i] - borrow;
        r[i] = Word(t);
        borrow = Word(t >> 64) & 1;
    }
    return borrow;
}

Word Add1(Word* r, const Word* a, size_t n, Word b) {
    Word carry = b;
    for (size_t i = 0; i < n; ++i) {
        const DWord t = DWord(a[i]) + carry;
        r[i] = Word(t);
        carry = Word(t >> 64);
    }
    return carry;
}

Word Sub1(Word* r, const Word* a, size_t n, Word b) {
    Word borrow = b;
    for (size_t i = 0; i < n; ++i) {
        const DWord t = DWord(a[i]) - borrow;
        r[i] = Word(t);
        borrow = Word(t >> 64) & 1;
    }
    return borrow;
}

int Cmp(const Word* a, const Word* b, size_t n) {
    for (size_t i = n; i-- > 0;) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

Word SubMul1(Word* r, const Word* a, size_t n, Word b) {
    Word borrow = 0;
    for (size_t i = 0; i < n; ++i) {
        const DWord p = DWord(a[i]) * b + borrow;
        const Word lo = Word(p);
        const Word ri = r[i];
        r[i] = ri - lo;
        borrow = Word(p >> 64) + (ri < lo);
    }
    return borrow;
}

Word Mul1(Word* r, const Word* a, size_t n, Word b) {
    Word carry = 0;
    for (size_t i = 0; i < n; ++i) {
        const DWord t = DWord(a[i]) * b + carry;
        r[i] = Word(t);
        carry = Word(t >> 64);
    }
    return carry;
}

Word AddMul1(Word* r, const Word* a, size_t n, Word b) {
    if (n >= 4 && FastPathsActive()) return AddMul1Fast(r, a, n, b);
    return AddMul1Portable(r, a, n, b);
}

AddMul1Form ChosenAddMul1() {
    return FastPathsActive() ? &AddMul1Fast : &AddMul1Portable;
}

Word AddMul1Portable(Word* r, const Word* a, size_t n, Word b) {
    Word carry = 0;
    size_t i = 0;
    // Two words per step: the products are independent of the carry chain.
    for (; i + 2 <= n; i += 2) {
        const DWord p0 = DWord(a[i]) * b;
        const DWord p1 = DWord(a[i + 1]) * b;
        const DWord t0 = p0 + r[i] + carry;
        r[i] = Word(t0);
        const DWord t1 = p1 + r[i + 1] + Word(t0 >> 64);
        r[i + 1] = Word(t1);
        carry = Word(t1 >> 64);
    }
    for (; i < n; ++i) {
        const DWord t = DWord(a[i]) * b + r[i] + carry;
        r[i] = Word(t);
        carry = Word(t >> 64);
    }
    return carry;
}

void MulBasecase(Word* r, const Word* a, size_t an, const Word* b, size_t bn) {
    if (an < bn) {
        std::swap(a, b);
        std::swap(an, bn);
    }
    const AddMul1Form row = ChosenAddMul1();
    if (row == &AddMul1Fast) {
        // Rows of multiply-accumulate only: the fast row is quicker than a separate first row.
        std::memset(r, 0, an * sizeof(Word));
        for (size_t j = 0; j < bn; ++j)
            r[an + j] = AddMul1Fast(r + j, a, an, b[j]);
        return;
    }
    r[an] = Mul1(r, a, an, b[0]);
    for (size_t j = 1; j < bn; ++j)
        r[an + j] = row(r + j, a, an, b[j]);
}

void SqrBasecase(Word* r, const Word* a, size_t n) {
    // Off-diagonal products a[i]a[j] (i < j), doubled, plus the squares a[i]^2.
    std::memset(r, 0, 2 * n * sizeof(Word));
    const AddMul1Form row = ChosenAddMul1();
    for (size_t i = 0; i + 1 < n; ++i)
        r[i + n] = row(r + 2 * i + 1, a + i + 1, n - i - 1, a[i]);
    Word top = 0;
    for (size_t i = 0; i < 2 * n; ++i) {
        const Word v = r[i];
        r[i] = (v << 1) | top;
        top = v >> 63;
    }
    Word carry = 0;
    for (size_t i = 0; i < n; ++i) {
        const DWord sq = DWord(a[i]) * a[i];
        const DWord lo = DWord(r[2 * i]) + Word(sq) + carry;
        r[2 * i] = Word(lo);
        const DWord hi = DWord(r[2 * i + 1]) + Word(sq >> 64) + Word(lo >> 64);
        r[2 * i + 1] = Word(hi);
        carry = Word(hi >> 64);
    }
}

size_t MulScratchWords(size_t n) {
    return KaratsubaScratch(n) + 8 * n;
}

void Mul(Word* r, const Word* a, size_t an, const Word* b, size_t bn, Word* ws) {
    if (std::min(an, bn) < kKaratsubaThreshold) {
        MulBasecase(r, a, an, b, bn);
    } else {
        MulRec(r, a, an, b, bn, ws);
    }
}

void Sqr(Word* r, const Word* a, size_t n, Word* ws) {
    SqrRec(r, a, n, ws);
}

void Mul(Word* r, const Word* a, size_t an, const Word* b, size_t bn) {
    if (std::min(an, bn) < kKaratsubaThreshold) {
        MulBasecase(r, a, an, b, bn);
        return;
    }
    std::vector<Word> ws(MulScratchWords(std::max(an, bn)));
    MulRec(r, a, an, b, bn, ws.data());
    rtl::secure_wipe(ws.data(), ws.size() * sizeof(Word));
}

void Sqr(Word* r, const Word* a, size_t n) {
    if (n < kKaratsubaThreshold) {
        SqrBasecase(r, a, n);
        return;
    }
    std::vector<Word> ws(MulScratchWords(n));
    SqrRec(r, a, n, ws.data());
    rtl::secure_wipe(ws.data(), ws.size() * sizeof(Word));
}

void DivRem(Word* q, Word* r, const Word* a, size_t an, const Word* d, size_t dn) {
    const unsigned s = unsigned(__builtin_clzll(d[dn - 1]));
    // The normalised divisor and dividend live on the stack for every size a BigNum routine
    // divides (up to a double-size product by a full-size modulus); larger calls allocate.
    const size_t bufWords = dn + an + 1;
    Word local[3 * kMaxWords + 2];
    std::vector<Word> heap;
    Word* dd = local;
    if (bufWords > std::size(local)) {
        heap.resize(bufWords);
        dd = heap.data();
    }
    const auto wipe = [&] { rtl::secure_wipe(dd, bufWords * sizeof(Word)); };
    Word* u = dd + dn;
    // Normalise so that the divisor's top bit is set.
    if (s == 0) {
        std::memcpy(dd, d, dn * sizeof(Word));
        std::memcpy(u, a, an * sizeof(Word));
        u[an] = 0;
    } else {
        for (size_t i = dn; i-- > 0;)
            dd[i] = (d[i] << s) | (i > 0 ? d[i - 1] >> (64 - s) : 0);
        u[an] = a[an - 1] >> (64 - s);
        for (size_t i = an; i-- > 0;)
            u[i] = (a[i] << s) | (i > 0 ? a[i - 1] >> (64 - s) : 0);
    }
    const Word d1 = dd[dn - 1];
    const Word v = Reciprocal(d1);

    if (dn == 1) {
        Word rem = u[an];
        for (size_t j = an; j-- > 0;) {
            const Word qj = DivPreinv(rem, u[j], d1, v, rem);
            if (q) q[j] = qj;
        }
        r[0] = rem >> s;
        wipe();
        return;
    }

    const Word d0 = dd[dn - 2];
    for (size_t j = an - dn + 1; j-- > 0;) {
        const Word u2 = u[j + dn];
        const Word u1 = u[j + dn - 1];
        const Word u0 = u[j + dn - 2];
        Word qhat;
        if (u2 >= d1) {
            qhat = ~Word(0);
        } else {
            Word rhat;
            qhat = DivPreinv(u2, u1, d1, v, rhat);
            DWord p = DWord(qhat) * d0;
            while (p > ((DWord(rhat) << 64) | u0)) {
                --qhat;
                p -= d0;
                const Word old = rhat;
                rhat += d1;
                if (rhat < old) break;  // rhat passed 2^64: the test can no longer fail
            }
        }
        const Word borrow = SubMul1(u + j, dd, dn, qhat);
        Word top = u[j + dn];
        u[j + dn] = top - borrow;
        bool negative = top < borrow;
        while (negative) {
            // qhat was one too large: add the divisor back.
            --qhat;
            const Word carry = AddN(u + j, u + j, dd, dn);
            const Word before = u[j + dn];
            u[j + dn] += carry;
            negative = !(carry && before == ~Word(0));
        }
        if (q) q[j] = qhat;
    }
    // Remainder: the low dn words of u, shifted back.
    if (s == 0) {
        std::memcpy(r, u, dn * sizeof(Word));
    } else {
        for (size_t i = 0; i < dn; ++i)
            r[i] = (u[i] >> s) | (u[i + 1] << (64 - s));
    }
    wipe();
}

size_t BitLength(const Word* a, size_t n) {
    n = Normalized(a, n);
    if (n == 0) return 0;
    return 64 * (n - 1) + (64 - size_t(__builtin_clzll(a[n - 1])));
}

unsigned ExpWindow(const Word* exp, size_t en, size_t pos, unsigned count) {
    const size_t wi = pos / 64;
    const unsigned sh = unsigned(pos % 64);
    Word v = wi < en ? exp[wi] >> sh : 0;
    if (sh != 0 && wi + 1 < en) v |= exp[wi + 1] << (64 - sh);
    return unsigned(v & ((Word(1) << count) - 1));
}

void ConstantTimeSelect(Word* out, const Word* table, size_t count, size_t n, size_t idx) {
    std::memset(out, 0, n * sizeof(Word));
    for (size_t k = 0; k < count; ++k) {
        const Word diff = Word(k ^ idx);
        const Word mask = MaskOf(((diff | (Word(0) - diff)) >> 63) ^ 1);
        const Word* e = table + k * n;
        for (size_t i = 0; i < n; ++i)
            out[i] |= e[i] & mask;
    }
}

// ---- Montgomery arithmetic ----

MontContext::MontContext(const Word* m, size_t n)
    : n_(n), m_(m, m + n), minv_(0), rr_(n), one_(n), t_(2 * n + 2), ws_(MulScratchWords(n)) {
    // Newton's iteration doubles the correct low bits of the inverse: 3 -> 6 -> ... -> 96.
    Word inv = m[0];
    for (int i = 0; i < 5; ++i)
        inv *= 2 - m[0] * inv;
    minv_ = Word(0) - inv;

    std::vector<Word> pow(2 * n + 1, 0);
    pow[n] = 1;  // R = 2^(64n)
    DivRem(nullptr, one_.data(), pow.data(), n + 1, m_.data(), n);
    pow[n] = 0;
    pow[2 * n] = 1;  // R^2
    DivRem(nullptr, rr_.data(), pow.data(), 2 * n + 1, m_.data(), n);
}

MontContext::~MontContext() {
    // The modulus may be a secret prime (the CRT halves of a private key, a prime candidate),
    // and R mod m, R^2 mod m and -m^-1 all follow from it.
    rtl::secure_wipe(m_.data(), m_.size() * sizeof(Word));
    rtl::secure_wipe(rr_.data(), rr_.size() * sizeof(Word));
    rtl::secure_wipe(one_.data(), one_.size() * sizeof(Word));
    rtl::secure_wipe(&minv_, sizeof(minv_));
    rtl::secure_wipe(t_.data(), t_.size() * sizeof(Word));
    rtl::secure_wipe(ws_.data(), ws_.size() * sizeof(Word));
}

void MontContext::Redc(Word* r, Word* t) {
    const size_t n = n_;
    const Word* m = m_.data();
    // Row i clears word i; its carry belongs at word i + n and is parked in the cleared word,
    // then all carries are added at once. No later row's multiplier depends on them.
    const AddMul1Form row = ChosenAddMul1();
    for (size_t i = 0; i < n; ++i) {
        const Word u = t[i] * minv_;
        t[i] = row(t + i, m, n, u);
    }
    const Word cy = AddN(r, t + n, t, n);
    // The value cy * R + r is below 2m: subtract m when it is at least m, without a branch.
    const Word borrow = SubN(t, r, m, n);
    MaskedCopy(r, t, n, MaskOf(cy | (borrow ^ 1)));
}

void MontContext::Mul(Word* r, const Word* a, const Word* b) {
    ++operations_;
    sbmath::Mul(t_.data(), a, n_, b, n_, ws_.data());
    Redc(r, t_.data());
}

void MontContext::Sqr(Word* r, const Word* a) {
    ++operations_;
    sbmath::Sqr(t_.data(), a, n_, ws_.data());
    Redc(r, t_.data());
}

void MontContext::ToMont(Word* r, const Word* a) {
    Mul(r, a, rr_.data());
}

void MontContext::FromMont(Word* r, const Word* a) {
    std::memcpy(t_.data(), a, n_ * sizeof(Word));
    std::memset(t_.data() + n_, 0, n_ * sizeof(Word));
    Redc(r, t_.data());
}

void MontContext::Reduce(Word* r, const Word* a, size_t an, bool negative) {
    // a = sum of c_i R^i over n-word pieces c_i; Horner's rule from the top piece down:
    // acc := acc R + (c_i mod m), where acc R mod m = ToMont(acc) and c_i mod m is the
    // Montgomery product of c_i with R mod m, each fully reduced without a branch on the
    // values. (That product, like ToMont's with R^2 mod m, is exact for any c_i below R: the
    // full product stays below m R, so one masked subtraction reduces it.)
    const size_t n = n_;
    const size_t pieces = (an + n - 1) / n;
    std::vector<Word> acc(n, 0), piece(n), sum(n), diff(n);
    for (size_t k = pieces; k-- > 0;) {
        const size_t off = k * n;
        const size_t len = std::min(n, an - off);
        std::fill(piece.begin(), piece.end(), Word(0));
        std::memcpy(piece.data(), a + off, len * sizeof(Word));
        Mul(piece.data(), piece.data(), one_.data());
        if (k + 1 < pieces) ToMont(acc.data(), acc.data());  // the top piece starts from acc = 0
        // acc + piece < 2m: one masked subtraction of m.
        const Word carry = AddN(sum.data(), acc.data(), piece.data(), n);
        const Word borrow = SubN(diff.data(), sum.data(), m_.data(), n);
        std::memcpy(acc.data(), sum.data(), n * sizeof(Word));
        MaskedCopy(acc.data(), diff.data(), n, MaskOf(carry | (borrow ^ 1)));
    }
    std::memcpy(r, acc.data(), n * sizeof(Word));
    if (negative && Normalized(r, n) != 0) SubN(r, m_.data(), r, n);
    for (auto* v : {&acc, &piece, &sum, &diff})
        rtl::secure_wipe(v->data(), v->size() * sizeof(Word));
}

bool MontExp(MontContext& ctx, Word* r, const Word* base, const Word* exp, size_t en, const Poll& poll) {
    const size_t n = ctx.Size();
    const size_t bits = BitLength(exp, en);
    std::vector<Word> acc(n);
    if (bits == 0) {
        ctx.FromMont(r, ctx.One());
        return true;
    }
    // On processors with AVX-512 IFMA the same steps run in 52-bit digits.
    if (n >= kIfmaMinWords && n <= kIfmaMaxWords && IfmaActive())
        return IfmaMontExp(ctx, r, base, exp, en, poll);
    std::vector<Word> x(n);
    ctx.ToMont(x.data(), base);
    bool done = true;
    if (bits <= 64) {
        // A short exponent is a public one (65537, a Fermat base test): plain square-and-multiply.
        std::memcpy(acc.data(), x.data(), n * sizeof(Word));
        for (size_t i = bits - 1; i-- > 0;) {
            if (!poll()) {
                done = false;
                break;
            }
            ctx.Sqr(acc.data(), acc.data());
            if ((exp[i / 64] >> (i % 64)) & 1) ctx.Mul(acc.data(), acc.data(), x.data());
        }
    } else {
        // Fixed windows: every window costs the same squarings and one product with a table
        // entry read by masked selection, whatever its bits.
        const unsigned w = bits > 512 ? 5 : 4;
        const size_t entries = size_t(1) << w;
        std::vector<Word> table(entries * n);
        std::vector<Word> pick(n);
        std::memcpy(table.data(), ctx.One(), n * sizeof(Word));
        std::memcpy(table.data() + n, x.data(), n * sizeof(Word));
        for (size_t k = 2; k < entries; ++k) {
            if (k % 2 == 0) {
                ctx.Sqr(table.data() + k * n, table.data() + (k / 2) * n);
            } else {
                ctx.Mul(table.data() + k * n, table.data() + (k - 1) * n, x.data());
            }
        }
        const size_t windows = (bits + w - 1) / w;
        ConstantTimeSelect(acc.data(), table.data(), entries, n, ExpWindow(exp, en, (windows - 1) * w, w));
        for (size_t k = windows - 1; k-- > 0;) {
            if (!poll()) {
                done = false;
                break;
            }
            for (unsigned s = 0; s < w; ++s)
                ctx.Sqr(acc.data(), acc.data());
            ConstantTimeSelect(pick.data(), table.data(), entries, n, ExpWindow(exp, en, k * w, w));
            ctx.Mul(acc.data(), acc.data(), pick.data());
        }
        rtl::secure_wipe(table.data(), table.size() * sizeof(Word));
        rtl::secure_wipe(pick.data(), pick.size() * sizeof(Word));
    }
    if (done) ctx.FromMont(r, acc.data());
    rtl::secure_wipe(acc.data(), acc.size() * sizeof(Word));
    rtl::secure_wipe(x.data(), x.size() * sizeof(Word));
    return done;
}

bool PlainExp(Word* r, const Word* base, const Word* m, size_t mn, const Word* exp, size_t en,
              const Poll& poll) {
    std::vector<Word> acc(mn), x(mn), prod(2 * mn);
    // x = base mod m
    DivRem(nullptr, x.data(), base, mn, m, mn);
    const size_t bits = BitLength(exp, en);
    bool done = true;
    if (bits == 0) {
        std::vector<Word> one(mn, 0);
        one[0] = 1;
        DivRem(nullptr, acc.data(), one.data(), mn, m, mn);
    } else {
        acc = x;
        for (size_t i = bits - 1; i-- > 0;) {
            if (!poll()) {
                done = false;
                break;
            }
            Sqr(prod.data(), acc.data(), mn);
            DivRem(nullptr, acc.data(), prod.data(), 2 * mn, m, mn);
            if ((exp[i / 64] >> (i % 64)) & 1) {
                sbmath::Mul(prod.data(), acc.data(), mn, x.data(), mn);
                DivRem(nullptr, acc.data(), prod.data(), 2 * mn, m, mn);
            }
        }
    }
    if (done) std::memcpy(r, acc.data(), mn * sizeof(Word));
    rtl::secure_wipe(acc.data(), acc.size() * sizeof(Word));
    rtl::secure_wipe(x.data(), x.size() * sizeof(Word));
    rtl::secure_wipe(prod.data(), prod.size() * sizeof(Word));
    return done;
}

}  // namespace sbmath
