// crypto/math/SBMathGcd.cpp: the extended Euclidean algorithm of SBMath on 64-bit words, in
// Lehmer's form.
//
// Euclid's remainder sequence r(0) = m, r(1) = a, r(i+1) = r(i-1) mod r(i) has coefficients
// t(i) with r(i) = t(i) a (mod m), t(0) = 0, t(1) = 1 and t(i+1) = t(i-1) - q(i) t(i); their
// signs alternate, so magnitudes and the parity of i describe them. Lehmer's method runs the
// sequence on the leading 64 bits of the pair for as long as its quotients are certain to be
// those of the full numbers, collects those steps in a 2x2 matrix and applies it to the full
// numbers once: one multi-word pass per ~32 bits instead of one division per step. When not a
// single step is certain, one full division is done instead.
//
// Which steps are certain (Jebelean's condition). Write U = x 2^h + U1 and V = y 2^h + V1 with
// 0 <= U1, V1 < 2^h, and run Euclid on x, y: row j of the small sequence is a(j) with
// cofactors s(j), t(j), so that the full row is R(j) = s(j) U + t(j) V = a(j) 2^h + e(j), where
// e(j) = s(j) U1 + t(j) V1. The cofactors of a row have opposite signs (row j even: s >= 0,
// t <= 0; odd: the other way), so e(j) lies above -|negative cofactor| 2^h. A step from rows
// k-1, k to k+1 is a step of the true sequence exactly when 0 <= R(k+1) < R(k), and that is
// certain when
//   a(k+1) >= |the negative cofactor of row k+1|                 (R(k+1) is not negative)
//   a(k) - a(k+1) >= |the negative part of row k minus row k+1|  (R(k+1) is below R(k)).
// With the cofactors kept as magnitudes, every update is an addition: |s(k+1)| = |s(k-1)| +
// q |s(k)|, and the same for t.
//
// What must stay true: every step taken is a step of the true sequence, so the result is the
// exact GCD and the coefficient is exact too.
#include <algorithm>
#include <cstring>

#include "crypto/math/SBMathKernel.h"
#include "rtl/Bytes.h"

namespace sbmath {

namespace {

__extension__ typedef __int128 SDWord;

// Cofactor magnitudes stay below this, so that a row applied to full numbers (p x - q y, word
// by word with a signed carry) never leaves a signed 128-bit accumulator.
constexpr Word kCofactorLimit = Word(1) << 62;

// Bits [shift, shift + 64) of x (n words).
Word Leading64(const Word* x, size_t n, size_t shift) {
    const size_t wi = shift / 64;
    const unsigned sh = unsigned(shift % 64);
    Word v = wi < n ? x[wi] >> sh : 0;
    if (sh != 0 && wi + 1 < n) v |= x[wi + 1] << (64 - sh);
    return v;
}

// The steps Lehmer's inner loop found: rows k-1 and k of the small sequence as cofactor
// magnitudes (s0, t0) and (s1, t1), and the parity of row k-1.
struct Matrix {
    Word s0 = 1, t0 = 0, s1 = 0, t1 = 1;
    size_t steps = 0;
    bool firstEven = true;
};

// Runs Euclid on the leading parts x > y for as long as its steps are certain; exact says the
// leading parts are the whole numbers, where every step is.
Matrix LehmerSteps(Word x, Word y, bool exact) {
    Matrix mx;
    bool kEven = false;  // row k = 1 holds y
    while (y != 0) {
        Word q = 1, z = x - y;
        if (z >= y) {
            z -= y;
            q = 2;
            if (z >= y) {
                q = x / y;
                z = x - q * y;
            }
        }
        // The next cofactors, q s1 + s0 and q t1 + t0, in single words: a product at the limit
        // (or past a word) ends the run, and so does a sum at the limit; both summands are then
        // below 2^62, so the sums cannot wrap.
        Word s2 = 0, t2 = 0;
        if (__builtin_mul_overflow(q, mx.s1, &s2) || s2 >= kCofactorLimit) break;
        if (__builtin_mul_overflow(q, mx.t1, &t2) || t2 >= kCofactorLimit) break;
        s2 += mx.s0;
        t2 += mx.t0;
        if (s2 >= kCofactorLimit || t2 >= kCofactorLimit) break;
        if (!exact) {
            // Row k+1 is odd when k is even: its s is the negative cofactor, else its t; the
            // difference of rows k and k+1 is negative in t when k is even, else in s.
            const Word negative = kEven ? s2 : t2;
            const Word gap = kEven ? mx.t1 + t2 : mx.s1 + s2;
            if (z < negative || y - z < gap) break;
        }
        x = y;
        y = z;
        mx.s0 = mx.s1;
        mx.t0 = mx.t1;
        mx.s1 = s2;
        mx.t1 = t2;
        kEven = !kEven;
        ++mx.steps;
    }
    // Row k-1 has the parity opposite to row k.
    mx.firstEven = !kEven;
    return mx;
}

// nu := p0 x - q0 y and nv := q1 y - p1 x over n words; both are known to be non-negative
// and below 2^(64n). Coefficients are below kCofactorLimit.
void ApplyRows(Word* nu, Word* nv, const Word* x, const Word* y, size_t n, Word p0, Word q0, Word p1,
               Word q1) {
    SDWord a0 = 0, a1 = 0;
    for (size_t i = 0; i < n; ++i) {
        const Word xi = x[i], yi = y[i];
        a0 += SDWord(DWord(p0) * xi) - SDWord(DWord(q0) * yi);
        a1 += SDWord(DWord(q1) * yi) - SDWord(DWord(p1) * xi);
        nu[i] = Word(a0);
        nv[i] = Word(a1);
        a0 >>= 64;
        a1 >>= 64;
    }
}

// ntu := s0 tu + t0 tv and ntv := s1 tu + t1 tv over n words; the carries land in word n.
void CombineCofactors(Word* ntu, Word* ntv, const Word* tu, const Word* tv, size_t n, const Matrix& mx) {
    DWord a0 = 0, a1 = 0;
    for (size_t i = 0; i < n; ++i) {
        const Word ui = tu[i], vi = tv[i];
        a0 += DWord(mx.s0) * ui;
        a0 += DWord(mx.t0) * vi;
        a1 += DWord(mx.s1) * ui;
        a1 += DWord(mx.t1) * vi;
        ntu[i] = Word(a0);
        ntv[i] = Word(a1);
        a0 >>= 64;
        a1 >>= 64;
    }
    ntu[n] = Word(a0);
    ntv[n] = Word(a1);
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
    const size_t used = 8 * tn;
    std::memset(buf, 0, used * sizeof(Word));
    std::memcpy(u, m, mn * sizeof(Word));
    std::memcpy(v, a, mn * sizeof(Word));
    tv[0] = 1;
    size_t index = 0;  // u is r(index), v is r(index + 1)
    // Words in use: u and v are valid (zero above their values) up to un; the cofactors, which
    // only grow, up to cn.
    size_t un = Normalized(u, mn);
    size_t cn = 1;

    for (;;) {
        const size_t vn = Normalized(v, un);
        if (vn == 0) break;
        un = Normalized(u, un);
        const size_t bits = BitLength(u, un);
        const size_t shift = bits > 64 ? bits - 64 : 0;
        const Matrix mx = LehmerSteps(Leading64(u, un, shift), Leading64(v, un, shift), shift == 0);
        if (mx.steps == 0) {
            // Not one certain step: a full division. t(i+1) = t(i-1) + q t(i) in magnitude.
            Word q[kMaxWords + 1] = {};
            Word rem[kMaxWords + 1] = {};
            DivRem(q, rem, u, un, v, vn);
            const size_t qn = Normalized(q, un - vn + 1);
            const size_t tvn = Normalized(tv, cn);
            std::memcpy(ntv, tu, tn * sizeof(Word));
            if (qn > 0 && tvn > 0) {
                Word prod[2 * kMaxWords + 2] = {};
                Mul(prod, q, qn, tv, tvn);
                AddN(ntv, ntv, prod, std::min(tn, qn + tvn));
                if (qn + tvn < tn) Add1(ntv + qn + tvn, ntv + qn + tvn, tn - qn - tvn, 0);
                rtl::secure_wipe(prod, (qn + tvn) * sizeof(Word));
            }
            std::memcpy(u, v, un * sizeof(Word));
            std::memset(v, 0, un * sizeof(Word));
            std::memcpy(v, rem, vn * sizeof(Word));
            std::memcpy(tu, tv, tn * sizeof(Word));
            std::memcpy(tv, ntv, tn * sizeof(Word));
            cn = std::max(Normalized(tu, tn), Normalized(tv, tn));
            rtl::secure_wipe(q, sizeof(q));
            rtl::secure_wipe(rem, sizeof(rem));
            ++index;
            continue;
        }
        // Row j of the matrix gives s U - t V when j is even and t V - s U when it is odd.
        if (mx.firstEven) {
            ApplyRows(nu, nv, u, v, un, mx.s0, mx.t0, mx.s1, mx.t1);
        } else {
            ApplyRows(nu, nv, v, u, un, mx.t0, mx.s0, mx.t1, mx.s1);
        }
        // Cofactors are at most m in magnitude, so they never need more than mn words and the
        // carry word cn stays inside the buffers.
        CombineCofactors(ntu, ntv, tu, tv, cn, mx);
        if (ntu[cn] != 0 || ntv[cn] != 0) cn = std::min(cn + 1, mn);
        std::swap(u, nu);
        std::swap(v, nv);
        std::swap(tu, ntu);
        std::swap(tv, ntv);
        index += mx.steps;
    }
    std::memset(g, 0, mn * sizeof(Word));
    std::memcpy(g, u, un * sizeof(Word));
    std::memcpy(c, tu, mn * sizeof(Word));
    // t(i) is positive for odd i and negative for even i (t(0) = 0).
    cNegative = index % 2 == 0 && Normalized(tu, tn) != 0;
    rtl::secure_wipe(buf, used * sizeof(Word));
}

}  // namespace sbmath
