// crypto/SBMathIfma.cpp: MontExp over the radix-2^52 kernels of SBMathIfma.h (AVX-512 IFMA),
// for moduli of kIfmaMinWords..kIfmaMaxWords words: the fixed-window ladder for long (secret)
// exponents, square-and-multiply for short (public) ones, as the portable form does.
//
// The numbers move once into the 52-bit digit form (k = IfmaDigits(n) digits, R = 2^(52k)),
// every product of the ladder runs there as an "almost" Montgomery product (below 2m, never
// reduced in between), and the result comes back through one product with 1 and one masked
// subtraction of m.
//
// What must stay true: the ladder is MontExp's (same window width, same squarings and one
// product per window, table entries read by a scan over all of them), so the time depends on
// the sizes only; every buffer that held a value derived from the base, the exponent or the
// modulus is wiped before the routine returns.
#include <cstring>
#include <vector>

#include "crypto/SBMathIfma.h"
#include "crypto/SBMathKernel.h"
#include "rtl/Bytes.h"

namespace sbmath {

namespace {

constexpr Word kMask52 = (Word(1) << 52) - 1;

// d[0..k) := the 52-bit digits of w[0..n) (digits past the value are zero).
void ToDigits(uint64_t* d, size_t k, const Word* w, size_t n) {
    for (size_t j = 0; j < k; ++j) {
        const size_t pos = 52 * j, wi = pos / 64;
        const unsigned sh = unsigned(pos % 64);
        Word v = wi < n ? w[wi] >> sh : 0;
        if (sh > 12 && wi + 1 < n) v |= w[wi + 1] << (64 - sh);
        d[j] = v & kMask52;
    }
}

// w[0..n) := the value of the 52-bit digits d[0..k); bits past 64n are dropped (the callers'
// values are below m).
void FromDigits(Word* w, size_t n, const uint64_t* d, size_t k) {
    std::memset(w, 0, n * sizeof(Word));
    for (size_t j = 0; j < k; ++j) {
        const size_t pos = 52 * j, wi = pos / 64;
        const unsigned sh = unsigned(pos % 64);
        if (wi < n) w[wi] |= d[j] << sh;
        if (sh > 12 && wi + 1 < n) w[wi + 1] |= d[j] >> (64 - sh);
    }
}

// out := 2^bits mod m, as 52-bit digits.
void PowerOfTwoMod(uint64_t* out, size_t k, size_t bits, const Word* m, size_t n) {
    std::vector<Word> pow(bits / 64 + 1, 0), rem(n);
    pow[bits / 64] = Word(1) << (bits % 64);
    DivRem(nullptr, rem.data(), pow.data(), pow.size(), m, n);
    ToDigits(out, k, rem.data(), n);
    rtl::secure_wipe(rem.data(), rem.size() * sizeof(Word));
}

}  // namespace

bool IfmaMontExp(MontContext& ctx, Word* r, const Word* base, const Word* exp, size_t en, const Poll& poll) {
    const size_t n = ctx.Size();
    const Word* m = ctx.Modulus();
    const size_t k = IfmaDigits(n);
    const uint64_t k0 = ctx.MInverse() & kMask52;
    const size_t bits = BitLength(exp, en);
    const unsigned w = bits > 512 ? 5 : 4;
    const size_t entries = size_t(1) << w;
    // Table entries start on whole vectors of eight digits.
    const size_t stride = (k + 7) / 8 * 8;

    // One block for every value: modulus, R mod m, R^2 mod m, the base, the accumulator, the
    // picked entry, 1, and the table (only long exponents use one).
    std::vector<uint64_t> block((7 + (bits > 64 ? entries : 0)) * stride, 0);
    uint64_t* m52 = block.data();
    uint64_t* one = m52 + stride;
    uint64_t* rr = one + stride;
    uint64_t* x = rr + stride;
    uint64_t* acc = x + stride;
    uint64_t* pick = acc + stride;
    uint64_t* unit = pick + stride;
    uint64_t* table = unit + stride;
    ToDigits(m52, k, m, n);
    PowerOfTwoMod(one, k, 52 * k, m, n);
    PowerOfTwoMod(rr, k, 104 * k, m, n);
    unit[0] = 1;

    // x R mod m, below 2m for any base of n words: base * (R^2 mod m) < 2^(64n) m <= R m / 4.
    ToDigits(x, k, base, n);
    IfmaMontMul(x, x, rr, m52, k, k0);
    size_t products = 1;
    bool done = true;
    if (bits == 0) {
        std::memcpy(acc, one, k * sizeof(uint64_t));
    } else if (bits <= 64) {
        // A short exponent is a public one (65537, a Fermat base test): square-and-multiply, as
        // the portable ladder does.
        std::memcpy(acc, x, k * sizeof(uint64_t));
        for (size_t i = bits - 1; i-- > 0;) {
            if (!poll()) {
                done = false;
                break;
            }
            IfmaMontSqr(acc, acc, m52, k, k0, 1);
            ++products;
            if ((exp[i / 64] >> (i % 64)) & 1) {
                IfmaMontMul(acc, acc, x, m52, k, k0);
                ++products;
            }
        }
    } else {
        // Fixed windows: every window costs the same squarings and one product with a table
        // entry read by a scan over all entries, whatever its bits.
        std::memcpy(table, one, k * sizeof(uint64_t));
        std::memcpy(table + stride, x, k * sizeof(uint64_t));
        for (size_t e = 2; e < entries; ++e) {
            if (e % 2 == 0) {
                IfmaMontSqr(table + e * stride, table + (e / 2) * stride, m52, k, k0, 1);
            } else {
                IfmaMontMul(table + e * stride, table + (e - 1) * stride, x, m52, k, k0);
            }
        }
        products += entries - 2;
        const size_t windows = (bits + w - 1) / w;
        IfmaSelect(acc, table, entries, stride, k, ExpWindow(exp, en, (windows - 1) * w, w));
        for (size_t i = windows - 1; i-- > 0;) {
            if (!poll()) {
                done = false;
                break;
            }
            IfmaMontSqr(acc, acc, m52, k, k0, w);
            IfmaSelect(pick, table, entries, stride, k, ExpWindow(exp, en, i * w, w));
            IfmaMontMul(acc, acc, pick, m52, k, k0);
            products += w + 1;
        }
    }
    if (done) {
        // acc / R mod m: the product with 1 is at most m, and m itself only for a multiple of
        // m, so one masked subtraction reduces it fully.
        IfmaMontMul(acc, acc, unit, m52, k, k0);
        std::vector<Word> t(n), d(n);
        FromDigits(t.data(), n, acc, k);
        const Word keep = Word(0) - SubN(d.data(), t.data(), m, n);  // all ones when t < m
        for (size_t i = 0; i < n; ++i)
            r[i] = (t[i] & keep) | (d[i] & ~keep);
        rtl::secure_wipe(t.data(), t.size() * sizeof(Word));
        rtl::secure_wipe(d.data(), d.size() * sizeof(Word));
        products += 2;
    }
    ctx.CountOperations(products);
    rtl::secure_wipe(block.data(), block.size() * sizeof(uint64_t));
    return done;
}

}  // namespace sbmath
