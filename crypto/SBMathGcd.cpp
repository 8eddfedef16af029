// crypto/SBMathGcd.cpp: the extended Euclidean algorithm of SBMath on 64-bit words, in
// Lehmer's form.
//
// Euclid's remainder sequence r(0) = m, r(1) = a, r(i+1) = r(i-1) mod r(i) has coefficients
// t(i) with r(i) = t(i) a (mod m), t(0) = 0, t(1) = 1 and t(i+1) = t(i-1) - q(i) t(i); their
// signs alternate, so magnitudes and the parity of i describe them. Lehmer's method runs the
// sequence on the leading 63 bits of the pair for as long as the quotients are certain (both
// of Knuth's bounding quotients agree), collects those steps in a 2x2 matrix and applies it to
// the full numbers once: one multi-word pass per ~60 bits instead of one division per step.
// When not a single step is certain, one full division is done instead.
//
// What must stay true: every step taken is a step of the true sequence, so the result is the
// exact GCD and the coefficient is exact too.
#include <cstring>

#include "crypto/SBMathKernel.h"
#include "rtl/Bytes.h"

namespace sbmath {

namespace {

__extension__ typedef __int128 SDWord;

constexpr int64_t kCoefficientLimit = int64_t(1) << 62;

// Bits [shift, shift + 63) of x.
Word Leading63(const Word* x, size_t n, size_t shift) {
    const size_t wi = shift / 64;
    const unsigned sh = unsigned(shift % 64);
    Word v = wi < n ? x[wi] >> sh : 0;
    if (sh != 0 && wi + 1 < n) v |= x[wi + 1] << (64 - sh);
    return v & ((Word(1) << 63) - 1);
}

// out[0..n) := p x + q y for coefficients of opposite signs (or one zero) whose result is
// known to be non-negative and below 2^(64n).
void Combine(Word* out, int64_t p, const Word* x, int64_t q, const Word* y, size_t n) {
    if (p >= 0 && q <= 0) {
        Mul1(out, x, n, Word(p));
        SubMul1(out, y, n, Word(-q));
    } else {
        Mul1(out, y, n, Word(q));
        SubMul1(out, x, n, Word(-p));
    }
}

// out[0..n) := |p| x + |q| y (coefficient magnitudes, known to fit).
void CombineMagnitudes(Word* out, int64_t p, const Word* x, int64_t q, const Word* y, size_t n) {
    Mul1(out, x, n, Word(p < 0 ? -p : p));
    AddMul1(out, y, n, Word(q < 0 ? -q : q));
}

}  // namespace

void GcdExt(const Word* a, const Word* m, size_t mn, Word* g, Word* c, bool& cNegative) {
    const size_t tn = mn + 1;
    Word buf[8 * (kMaxWords + 2)];
    Word* u = buf;
    Word* v = u + tn;
    Word* nu = v + tn;
    Word* nv = nu + tn;
    Word* tu = nv + tn;
    Word* tv = tu + tn;
    Word* ntu = tv + tn;
    Word* ntv = ntu + tn;
    std::memset(buf, 0, sizeof(buf));
    std::memcpy(u, m, mn * sizeof(Word));
    std::memcpy(v, a, mn * sizeof(Word));
    tv[0] = 1;
    size_t index = 0;  // u is r(index), v is r(index + 1)

    for (;;) {
        const size_t vn = Normalized(v, mn);
        if (vn == 0) break;
        const size_t un = Normalized(u, mn);
        const size_t bits = BitLength(u, un);
        const size_t shift = bits > 63 ? bits - 63 : 0;
        SDWord uh = SDWord(Leading63(u, un, shift));
        SDWord vh = SDWord(Leading63(v, un, shift));
        int64_t A = 1, B = 0, C = 0, D = 1;
        size_t steps = 0;
        for (;;) {
            // The quotient of the full pair lies between these two; take it only when they
            // agree (and are proper quotients).
            const SDWord d1 = vh + C, d2 = vh + D;
            const SDWord n1 = uh + A, n2 = uh + B;
            if (d1 <= 0 || d2 <= 0 || n1 < 0 || n2 < 0) break;
            const SDWord q = n1 / d1;
            if (q == 0 || q != n2 / d2) break;
            const SDWord nc = SDWord(A) - q * C;
            const SDWord nd = SDWord(B) - q * D;
            if (nc >= kCoefficientLimit || nc <= -kCoefficientLimit || nd >= kCoefficientLimit ||
                nd <= -kCoefficientLimit)
                break;
            A = C;
            C = int64_t(nc);
            B = D;
            D = int64_t(nd);
            const SDWord nvh = uh - q * vh;
            uh = vh;
            vh = nvh;
            ++steps;
        }
        if (B == 0) {
            // Not one certain step: a full division. t(i+1) = t(i-1) + q t(i) in magnitude.
            Word q[kMaxWords + 1] = {};
            Word rem[kMaxWords + 1] = {};
            DivRem(q, rem, u, un, v, vn);
            const size_t qn = Normalized(q, un - vn + 1);
            const size_t tvn = Normalized(tv, tn);
            std::memcpy(ntv, tu, tn * sizeof(Word));
            if (qn > 0 && tvn > 0) {
                Word prod[2 * kMaxWords + 2] = {};
                Mul(prod, q, qn, tv, tvn);
                AddN(ntv, ntv, prod, tn);
                rtl::secure_wipe(prod, sizeof(prod));
            }
            std::memcpy(u, v, tn * sizeof(Word));
            std::memset(v, 0, tn * sizeof(Word));
            std::memcpy(v, rem, vn * sizeof(Word));
            std::memcpy(tu, tv, tn * sizeof(Word));
            std::memcpy(tv, ntv, tn * sizeof(Word));
            rtl::secure_wipe(q, sizeof(q));
            rtl::secure_wipe(rem, sizeof(rem));
            ++index;
            continue;
        }
        Combine(nu, A, u, B, v, un);
        Combine(nv, C, u, D, v, un);
        std::memset(nu + un, 0, (tn - un) * sizeof(Word));
        std::memset(nv + un, 0, (tn - un) * sizeof(Word));
        CombineMagnitudes(ntu, A, tu, B, tv, tn);
        CombineMagnitudes(ntv, C, tu, D, tv, tn);
        std::swap(u, nu);
        std::swap(v, nv);
        std::swap(tu, ntu);
        std::swap(tv, ntv);
        index += steps;
    }
    std::memcpy(g, u, mn * sizeof(Word));
    std::memcpy(c, tu, mn * sizeof(Word));
    // t(i) is positive for odd i and negative for even i (t(0) = 0).
    cNegative = index % 2 == 0 && Normalized(tu, tn) != 0;
    rtl::secure_wipe(buf, sizeof(buf));
}

}  // namespace sbmath
