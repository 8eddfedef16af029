// crypto/math/SBMathIfma.cpp: MontExp over the radix-2^52 kernels of SBMathIfma.h (AVX-512 IFMA),
// for moduli of kIfmaMinWords..kIfmaMaxWords words: the fixed-window ladder for long (secret)
// exponents, square-and-multiply for short (public) ones, as the portable form does; and the
// fixed-window ladder of two moduli at once (the CRT halves of a private-key operation), whose
// products run in pairs.
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
#include <algorithm>
#include <cstring>
#include <vector>

#include "crypto/math/SBMathIfma.h"
#include "crypto/math/SBMathKernel.h"
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

// One modulus in the digit form with the numbers of one ladder: the modulus, R mod m,
// R^2 mod m, the base x R mod m, the accumulator, the picked entry, 1, and the window table.
class Ladder {
public:
    Ladder(MontContext& ctx, const Word* base, size_t entries)
        : ctx_(ctx),
          n_(ctx.Size()),
          k_(IfmaDigits(n_)),
          k0_(ctx.MInverse() & kMask52),
          stride_((k_ + 7) / 8 * 8),  // table entries start on whole vectors of eight digits
          entries_(entries),
          block_((7 + entries) * stride_, 0) {
        ToDigits(m52(), k_, ctx.Modulus(), n_);
        PowerOfTwoMod(one(), k_, 52 * k_, ctx.Modulus(), n_);
        PowerOfTwoMod(rr(), k_, 104 * k_, ctx.Modulus(), n_);
        unit()[0] = 1;
        // x R mod m, below 2m for any base of n words: base * (R^2 mod m) < 2^(64n) m <= R m / 4.
        ToDigits(x(), k_, base, n_);
        Mul(x(), x(), rr());
        if (entries > 0) {
            std::memcpy(table(), one(), k_ * sizeof(uint64_t));
            std::memcpy(table() + stride_, x(), k_ * sizeof(uint64_t));
        }
    }

    // The product that makes table entry e (2 <= e < entries) from the entries below it:
    // x^e = (x^(e/2))^2 for even e, x^(e-1) x for odd e.
    IfmaProduct TableProduct(size_t e) {
        uint64_t* entry = table() + e * stride_;
        if (e % 2 == 0) {
            const uint64_t* half = table() + (e / 2) * stride_;
            return {entry, half, half, m52(), k0_};
        }
        return {entry, table() + (e - 1) * stride_, x(), m52(), k0_};
    }
    // The whole table, one product at a time.
    void BuildTable() {
        for (size_t e = 2; e < entries_; ++e) {
            const IfmaProduct p = TableProduct(e);
            Mul(p.r, p.a, p.b);
        }
    }
    ~Ladder() {
        rtl::secure_wipe(block_.data(), block_.size() * sizeof(uint64_t));
        ctx_.CountOperations(products_);
    }
    Ladder(const Ladder&) = delete;
    Ladder& operator=(const Ladder&) = delete;

    size_t Digits() const { return k_; }
    uint64_t* m52() { return block_.data(); }
    uint64_t* one() { return m52() + stride_; }
    uint64_t* rr() { return one() + stride_; }
    uint64_t* x() { return rr() + stride_; }
    uint64_t* acc() { return x() + stride_; }
    uint64_t* pick() { return acc() + stride_; }
    uint64_t* unit() { return pick() + stride_; }
    uint64_t* table() { return unit() + stride_; }
    uint64_t K0() const { return k0_; }

    void Mul(uint64_t* r, const uint64_t* a, const uint64_t* b) {
        IfmaMontMul(r, a, b, m52(), k_, k0_);
        ++products_;
    }
    void Sqr(unsigned times) {
        IfmaMontSqr(acc(), acc(), m52(), k_, k0_, times);
        products_ += times;
    }
    void Count(size_t products) { products_ += products; }
    // out := the entry of the window at bit position pos of exp, by a scan over every entry.
    void Select(uint64_t* out, const Word* exp, size_t en, size_t pos, unsigned w) {
        IfmaSelect(out, table(), entries_, stride_, k_, ExpWindow(exp, en, pos, w));
    }

    // r := acc / R mod m: the product with 1 is at most m, and m itself only for a multiple of
    // m, so one masked subtraction reduces it fully.
    void Finish(Word* r) {
        Mul(acc(), acc(), unit());
        std::vector<Word> t(n_), d(n_);
        FromDigits(t.data(), n_, acc(), k_);
        const Word keep = Word(0) - SubN(d.data(), t.data(), ctx_.Modulus(), n_);  // all ones when t < m
        for (size_t i = 0; i < n_; ++i)
            r[i] = (t[i] & keep) | (d[i] & ~keep);
        rtl::secure_wipe(t.data(), t.size() * sizeof(Word));
        rtl::secure_wipe(d.data(), d.size() * sizeof(Word));
    }

private:
    MontContext& ctx_;
    size_t n_, k_;
    uint64_t k0_;
    size_t stride_, entries_;
    std::vector<uint64_t> block_;
    size_t products_ = 0;
};

unsigned WindowBits(size_t bits) {
    return bits > 512 ? 5 : 4;
}

}  // namespace

bool IfmaMontExp(MontContext& ctx, Word* r, const Word* base, const Word* exp, size_t en, const Poll& poll) {
    const size_t bits = BitLength(exp, en);
    const unsigned w = WindowBits(bits);
    Ladder L(ctx, base, bits > 64 ? size_t(1) << w : 0);
    L.BuildTable();
    bool done = true;
    if (bits == 0) {
        std::memcpy(L.acc(), L.one(), L.Digits() * sizeof(uint64_t));
    } else if (bits <= 64) {
        // A short exponent is a public one (65537, a Fermat base test): square-and-multiply, as
        // the portable ladder does.
        std::memcpy(L.acc(), L.x(), L.Digits() * sizeof(uint64_t));
        for (size_t i = bits - 1; i-- > 0;) {
            if (!poll()) {
                done = false;
                break;
            }
            L.Sqr(1);
            if ((exp[i / 64] >> (i % 64)) & 1) L.Mul(L.acc(), L.acc(), L.x());
        }
    } else {
        // Fixed windows: every window costs the same squarings and one product with a table
        // entry read by a scan over all entries, whatever its bits.
        const size_t windows = (bits + w - 1) / w;
        L.Select(L.acc(), exp, en, (windows - 1) * w, w);
        for (size_t i = windows - 1; i-- > 0;) {
            if (!poll()) {
                done = false;
                break;
            }
            L.Sqr(w);
            L.Select(L.pick(), exp, en, i * w, w);
            L.Mul(L.acc(), L.acc(), L.pick());
        }
    }
    if (done) L.Finish(r);
    return done;
}

bool IfmaMontExp2(MontContext& ctx1, Word* r1, const Word* base1, const Word* exp1, size_t en1,
                  MontContext& ctx2, Word* r2, const Word* base2, const Word* exp2, size_t en2,
                  const Poll& poll) {
    // The longer exponent sets the windows; the other one reads leading zero windows, entry 0
    // (R mod m), so both ladders take the same steps.
    const size_t bits = std::max(BitLength(exp1, en1), BitLength(exp2, en2));
    const unsigned w = WindowBits(bits);
    const size_t entries = bits > 64 ? size_t(1) << w : 0;
    Ladder L1(ctx1, base1, entries), L2(ctx2, base2, entries);
    const size_t k = L1.Digits();
    // The two tables in pairs of products, like the ladder itself.
    for (size_t e = 2; e < entries; ++e) {
        const IfmaProduct pair[2] = {L1.TableProduct(e), L2.TableProduct(e)};
        IfmaMontMul2(pair, k);
        L1.Count(1);
        L2.Count(1);
    }
    if (bits == 0) {
        std::memcpy(L1.acc(), L1.one(), k * sizeof(uint64_t));
        std::memcpy(L2.acc(), L2.one(), k * sizeof(uint64_t));
    } else if (bits <= 64) {
        // Short (public) exponents: square-and-multiply, as IfmaMontExp does, the products in
        // pairs; a side whose exponent has no bit where the other has one multiplies by 1.
        const auto bit = [](const Word* exp, size_t en, size_t i) {
            return i / 64 < en && ((exp[i / 64] >> (i % 64)) & 1);
        };
        const size_t top = bits - 1;
        std::memcpy(L1.acc(), bit(exp1, en1, top) ? L1.x() : L1.one(), k * sizeof(uint64_t));
        std::memcpy(L2.acc(), bit(exp2, en2, top) ? L2.x() : L2.one(), k * sizeof(uint64_t));
        const IfmaProduct squares[2] = {{L1.acc(), L1.acc(), L1.acc(), L1.m52(), L1.K0()},
                                        {L2.acc(), L2.acc(), L2.acc(), L2.m52(), L2.K0()}};
        for (size_t i = top; i-- > 0;) {
            if (!poll()) return false;
            IfmaMontMul2(squares, k);
            const bool b1 = bit(exp1, en1, i), b2 = bit(exp2, en2, i);
            if (b1 || b2) {
                const IfmaProduct products[2] = {
                    {L1.acc(), L1.acc(), b1 ? L1.x() : L1.one(), L1.m52(), L1.K0()},
                    {L2.acc(), L2.acc(), b2 ? L2.x() : L2.one(), L2.m52(), L2.K0()}};
                IfmaMontMul2(products, k);
            }
            L1.Count(b1 || b2 ? 2 : 1);
            L2.Count(b1 || b2 ? 2 : 1);
        }
    } else {
        const IfmaProduct squares[2] = {{L1.acc(), L1.acc(), L1.acc(), L1.m52(), L1.K0()},
                                        {L2.acc(), L2.acc(), L2.acc(), L2.m52(), L2.K0()}};
        const IfmaProduct products[2] = {{L1.acc(), L1.acc(), L1.pick(), L1.m52(), L1.K0()},
                                         {L2.acc(), L2.acc(), L2.pick(), L2.m52(), L2.K0()}};
        const size_t windows = (bits + w - 1) / w;
        L1.Select(L1.acc(), exp1, en1, (windows - 1) * w, w);
        L2.Select(L2.acc(), exp2, en2, (windows - 1) * w, w);
        for (size_t i = windows - 1; i-- > 0;) {
            if (!poll()) return false;
            for (unsigned s = 0; s < w; ++s)
                IfmaMontMul2(squares, k);
            L1.Select(L1.pick(), exp1, en1, i * w, w);
            L2.Select(L2.pick(), exp2, en2, i * w, w);
            IfmaMontMul2(products, k);
            L1.Count(w + 1);
            L2.Count(w + 1);
        }
    }
    L1.Finish(r1);
    L2.Finish(r2);
    return true;
}

}  // namespace sbmath
