// The AVX-512 IFMA exponentiation against the portable one, on the modulus sizes the private-
// key operations use (1024-bit CRT halves of RSA-2048, 1536 and 2048 bits) and on the edges of
// the digit form: bases 0, 1, m - 1, m and above, exponents 0, 1 and all ones, moduli far below
// the top of their words. These run only on processors with IFMA; the portable ladder keeps its
// own tests (SBMathGmp, SBMath) on every machine.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "crypto/BigNumGmp.h"
#include "crypto/CpuFlags.h"
#include "crypto/math/SBMath.h"
#include "crypto/math/SBMathIfma.h"
#include "crypto/math/SBMathKernel.h"
#include "crypto/pk/PublicKeyMath.h"
#include "support/TestSupport.h"

using kwtest::OperandSource;
using sbmath::Word;

namespace {

constexpr Word kMask52 = (Word(1) << 52) - 1;

bool IfmaHere() {
    sbmath::SetFastPathsEnabled(true);
    return sbmath::IfmaActive();
}

class Words {
public:
    explicit Words(uint64_t seed) : src_(seed) {}
    Word Random() { return uint64_t(src_.Word()) << 32 | src_.Word(); }
    std::vector<Word> Random(size_t n) {
        std::vector<Word> v(n);
        for (auto& w : v)
            w = Random();
        return v;
    }
    uint64_t Below(uint64_t n) { return src_.Below(n); }

private:
    OperandSource src_;
};

// base^exp mod m by the portable ladder (fast paths off: neither IFMA nor the MULX rows).
std::vector<Word> Portable(const std::vector<Word>& m, const std::vector<Word>& base,
                           const std::vector<Word>& exp) {
    sbmath::SetFastPathsEnabled(false);
    sbmath::MontContext ctx(m.data(), m.size());
    std::vector<Word> r(m.size());
    const bool done =
        sbmath::MontExp(ctx, r.data(), base.data(), exp.data(), exp.size(), [] { return true; });
    sbmath::SetFastPathsEnabled(true);
    EXPECT_TRUE(done);
    return r;
}

std::vector<Word> Ifma(const std::vector<Word>& m, const std::vector<Word>& base,
                       const std::vector<Word>& exp) {
    sbmath::MontContext ctx(m.data(), m.size());
    std::vector<Word> r(m.size());
    EXPECT_TRUE(sbmath::IfmaMontExp(ctx, r.data(), base.data(), exp.data(), exp.size(), [] { return true; }));
    return r;
}

}  // namespace

namespace {

using Digits = std::vector<uint64_t>;

// a + b for numbers of k 52-bit digits (the sum fits k digits in the callers' use).
Digits AddDigits(const Digits& a, const Digits& b) {
    Digits r(a.size());
    uint64_t carry = 0;
    for (size_t j = 0; j < a.size(); ++j) {
        const uint64_t t = a[j] + b[j] + carry;
        r[j] = t & kMask52;
        carry = t >> 52;
    }
    return r;
}

// A random number of k digits below the top digit limit (the top digit at most top).
Digits RandomDigits(Words& src, size_t k, uint64_t top) {
    Digits d(k);
    for (auto& x : d)
        x = src.Random() & kMask52;
    d[k - 1] = src.Below(top + 1);
    return d;
}

// a * b / 2^(52k) as the digit-serial algorithm computes it, one digit of b per step with the
// same choice of y (the lowest digit times -m^-1 mod 2^52): the exact number the kernels
// return, in 52-bit digits.
Digits DigitSerialProduct(const Digits& a, const Digits& b, const Digits& m, uint64_t k0) {
    const size_t k = m.size();
    Digits t(k + 2, 0);
    auto addTimes = [&](const Digits& x, uint64_t f) {
        sbmath::DWord carry = 0;
        for (size_t j = 0; j < k + 2; ++j) {
            const sbmath::DWord v = sbmath::DWord(t[j]) + (j < k ? sbmath::DWord(x[j]) * f : 0) + carry;
            t[j] = uint64_t(v) & kMask52;
            carry = v >> 52;
        }
    };
    for (size_t i = 0; i < k; ++i) {
        addTimes(a, b[i]);
        addTimes(m, (t[0] * k0) & kMask52);
        EXPECT_EQ(t[0], 0u);
        t.erase(t.begin());
        t.push_back(0);
    }
    EXPECT_EQ(t[k], 0u) << "the product left k digits";
    return Digits(t.begin(), t.begin() + ptrdiff_t(k));
}

// -m^-1 mod 2^52 for an odd m0.
uint64_t MinusInverse52(uint64_t m0) {
    uint64_t inv = m0;
    for (int i = 0; i < 6; ++i)
        inv *= 2 - m0 * inv;
    return (0 - inv) & kMask52;
}

}  // namespace

// Every digit count the kernels take (10 to 64: eight-lane vectors, with a four-lane tail where
// the last vector would hold four digits or fewer) against the digit-serial product: single
// and paired products of operands below 2m, and the table scan.
TEST(SBMathIfma, ProductsOfEveryDigitCountEqualTheDigitSerialProduct) {
    if (!IfmaHere()) GTEST_SKIP() << "this processor has no AVX-512 IFMA";
    Words src(77);
    for (size_t k = 10; k <= sbmath::kIfmaMaxDigits; ++k) {
        for (int trial = 0; trial < 8; ++trial) {
            SCOPED_TRACE(std::to_string(k) + " digits, trial " + std::to_string(trial));
            Digits m[2], a[2], b[2], want[2];
            uint64_t k0[2];
            for (int l = 0; l < 2; ++l) {
                // R = 2^(52k) above 4m: the top digit below 2^50.
                m[l] = RandomDigits(src, k, trial == 0 ? 1 : (uint64_t(1) << 50) - 1);
                m[l][0] |= 1;
                if (m[l][k - 1] == 0) m[l][k - 1] = 1;
                k0[l] = MinusInverse52(m[l][0]);
                // Below m, and (odd trials) between m and 2m.
                a[l] = RandomDigits(src, k, m[l][k - 1] - 1);
                b[l] = RandomDigits(src, k, m[l][k - 1] - 1);
                if (trial % 2 == 1) a[l] = AddDigits(a[l], m[l]);
                if (trial % 4 == 3) b[l] = AddDigits(b[l], m[l]);
                want[l] = DigitSerialProduct(a[l], b[l], m[l], k0[l]);
            }
            Digits r(k + 1, 0xA5A5);  // r[k] must stay as it is
            sbmath::IfmaMontMul(r.data(), a[0].data(), b[0].data(), m[0].data(), k, k0[0]);
            EXPECT_EQ(Digits(r.begin(), r.begin() + ptrdiff_t(k)), want[0]);
            EXPECT_EQ(r[k], 0xA5A5u) << "a digit past k was written";

            Digits r1(k), r2(k);
            const sbmath::IfmaProduct pair[2] = {{r1.data(), a[0].data(), b[0].data(), m[0].data(), k0[0]},
                                                 {r2.data(), a[1].data(), b[1].data(), m[1].data(), k0[1]}};
            sbmath::IfmaMontMul2(pair, k);
            EXPECT_EQ(r1, want[0]);
            EXPECT_EQ(r2, want[1]);

            // The scan picks each entry of a table whose entries start on whole vectors.
            const size_t stride = (k + 7) / 8 * 8, count = 5;
            std::vector<uint64_t> table(count * stride);
            for (auto& x : table)
                x = src.Random() & kMask52;
            for (size_t idx = 0; idx < count; ++idx) {
                Digits out(k + 1, 0xA5A5);
                sbmath::IfmaSelect(out.data(), table.data(), count, stride, k, idx);
                EXPECT_EQ(Digits(out.begin(), out.begin() + ptrdiff_t(k)),
                          Digits(table.begin() + ptrdiff_t(idx * stride),
                                 table.begin() + ptrdiff_t(idx * stride + k)));
                EXPECT_EQ(out[k], 0xA5A5u);
            }
        }
    }
}

// IFMA is used exactly where the processor (and the kernel, which keeps the ZMM registers)
// has it, and never while the fast paths are off.
TEST(SBMathIfma, ChosenOnlyWhereTheProcessorHasIt) {
    KW_REQUIRE_PEER(std::filesystem::exists("/proc/cpuinfo"), "/proc/cpuinfo");
    const auto flags = kwtest::CpuFlags();
    if (!flags) GTEST_SKIP() << "/proc/cpuinfo lists no x86 flags on this machine";
    const bool has =
        flags->count("avx512f") != 0 && flags->count("avx512ifma") != 0 && flags->count("avx512vl") != 0;
    EXPECT_EQ(IfmaHere(), has);
    sbmath::SetFastPathsEnabled(false);
    EXPECT_FALSE(sbmath::IfmaActive());
    sbmath::SetFastPathsEnabled(true);
}

// The carry step that ends every product, against a scalar carry chain: lanes of all kinds, and
// runs of 2^52 - 1 that a carry from below must ripple through (and out of the top).
TEST(SBMathIfma, NormalizationCarriesThroughEveryDigit) {
    if (!IfmaHere()) GTEST_SKIP() << "this processor has no AVX-512 IFMA";
    Words src(71);
    for (size_t k : {size_t(1), size_t(7), size_t(8), size_t(9), size_t(20), size_t(30), size_t(40),
                     size_t(63), size_t(64)}) {
        for (int trial = 0; trial < 200; ++trial) {
            std::vector<uint64_t> d(k + 1, 0x5A5A5A5A5A5A5A5Au);  // d[k] must stay as it is
            for (size_t j = 0; j < k; ++j) {
                switch (src.Below(6)) {
                    case 0:
                        d[j] = kMask52;
                        break;  // passes a carry on
                    case 1:
                        d[j] = (Word(1) << 52) + src.Below(4096);
                        break;  // generates one
                    case 2:
                        d[j] = src.Random();
                        break;  // any 64-bit lane
                    case 3:
                        d[j] = 0;
                        break;
                    case 4:
                        d[j] = ~Word(0);
                        break;
                    default:
                        d[j] = src.Random() & kMask52;
                        break;
                }
            }
            std::vector<uint64_t> want(k);
            sbmath::DWord carry = 0;
            for (size_t j = 0; j < k; ++j) {
                const sbmath::DWord t = sbmath::DWord(d[j]) + carry;
                want[j] = uint64_t(t) & kMask52;
                carry = t >> 52;
            }
            sbmath::IfmaNormalize(d.data(), k);
            EXPECT_EQ(std::vector<uint64_t>(d.begin(), d.begin() + ptrdiff_t(k)), want) << k << " digits";
            EXPECT_EQ(d[k], 0x5A5A5A5A5A5A5A5Au) << "a digit past k was written";
        }
    }
}

// Random odd moduli of the sizes in use, random bases and full-length exponents, and the
// dispatch: MontExp itself takes the IFMA road for long exponents and gives the same numbers.
TEST(SBMathIfma, ExponentiationEqualsThePortableOne) {
    if (!IfmaHere()) GTEST_SKIP() << "this processor has no AVX-512 IFMA";
    Words src(72);
    for (size_t n : {size_t(16), size_t(24), size_t(32)}) {
        for (int trial = 0; trial < 24; ++trial) {
            auto m = src.Random(n);
            m[0] |= 1;
            m[n - 1] |= Word(1) << 63;
            const auto base = src.Random(n);  // mostly above m: any n-word base is allowed
            auto exp = src.Random(trial % 3 == 0 ? n / 2 : n);
            const auto want = Portable(m, base, exp);
            EXPECT_EQ(Ifma(m, base, exp), want) << n << " words, trial " << trial;
            sbmath::MontContext ctx(m.data(), n);
            std::vector<Word> r(n);
            ASSERT_TRUE(
                sbmath::MontExp(ctx, r.data(), base.data(), exp.data(), exp.size(), [] { return true; }));
            EXPECT_EQ(r, want) << n << " words, trial " << trial << " (MontExp)";
        }
    }
}

// The edges: bases 0, 1, m - 1, m, all ones; exponents 0, 1, 2, 65537, all ones, a lone top
// bit, one longer than the modulus, 64 and 65 bits (the two sides of the window ladder); moduli whose top
// word is 1 (far below 2^(64n), so the digit form has many spare bits and bases exceed 2m), all ones, and at
// the kernels' size limits.
TEST(SBMathIfma, EdgeValuesEqualThePortableOnes) {
    if (!IfmaHere()) GTEST_SKIP() << "this processor has no AVX-512 IFMA";
    Words src(73);
    for (size_t n :
         {sbmath::kIfmaMinWords, size_t(16), size_t(24), size_t(32), size_t(48), sbmath::kIfmaMaxWords}) {
        std::vector<std::vector<Word>> moduli;
        auto m = src.Random(n);
        m[0] |= 1;
        m[n - 1] |= Word(1) << 63;
        moduli.push_back(m);
        m[n - 1] = 1;  // top word 1
        moduli.push_back(m);
        moduli.push_back(std::vector<Word>(n, ~Word(0)));
        for (const auto& mod : moduli) {
            std::vector<std::vector<Word>> bases;
            bases.push_back(std::vector<Word>(n, 0));
            bases.push_back(std::vector<Word>(n, 0));
            bases.back()[0] = 1;
            bases.push_back(mod);
            bases.back()[0] -= 1;  // m - 1 (m is odd)
            bases.push_back(mod);
            bases.push_back(std::vector<Word>(n, ~Word(0)));
            bases.push_back(src.Random(n));
            std::vector<std::vector<Word>> exponents;
            exponents.push_back(std::vector<Word>(n, 0));
            exponents.push_back(std::vector<Word>(1, 1));
            exponents.push_back(std::vector<Word>(1, 2));
            exponents.push_back(std::vector<Word>(n, ~Word(0)));
            exponents.push_back(std::vector<Word>(n, 0));
            exponents.back()[n - 1] = Word(1) << 63;
            exponents.push_back(src.Random(n + 3));
            exponents.push_back(std::vector<Word>(1, 65537));
            exponents.push_back(std::vector<Word>(1, ~Word(0)));  // 64 bits: the longest short one
            exponents.push_back(std::vector<Word>{~Word(0), 1});  // 65 bits: the shortest windowed one
            for (size_t b = 0; b < bases.size(); ++b)
                for (size_t e = 0; e < exponents.size(); ++e)
                    EXPECT_EQ(Ifma(mod, bases[b], exponents[e]), Portable(mod, bases[b], exponents[e]))
                        << n << " words, top word " << mod[n - 1] << ", base " << b << ", exponent " << e;
        }
    }
}

// A cancelled run answers false and leaves the result alone, as the portable one does.
TEST(SBMathIfma, CancelledExponentiationLeavesTheResult) {
    if (!IfmaHere()) GTEST_SKIP() << "this processor has no AVX-512 IFMA";
    Words src(74);
    auto m = src.Random(16);
    m[0] |= 1;
    const auto base = src.Random(16), exp = src.Random(16);
    sbmath::MontContext ctx(m.data(), 16);
    std::vector<Word> r(16, 7);
    int polls = 0;
    EXPECT_FALSE(
        sbmath::IfmaMontExp(ctx, r.data(), base.data(), exp.data(), 16, [&] { return ++polls < 10; }));
    EXPECT_EQ(polls, 10);
    EXPECT_EQ(r, std::vector<Word>(16, 7));
}

// The paired ladder (both CRT halves at once) gives what two portable exponentiations give:
// exponents of equal and of different lengths (the shorter one reads leading zero windows),
// 0 and 1 against a full one, and the edge bases.
TEST(SBMathIfma, PairedExponentiationEqualsTwoPortableOnes) {
    if (!IfmaHere()) GTEST_SKIP() << "this processor has no AVX-512 IFMA";
    Words src(75);
    for (size_t n : {size_t(16), size_t(24), size_t(32)}) {
        for (int trial = 0; trial < 12; ++trial) {
            auto m1 = src.Random(n), m2 = src.Random(n);
            m1[0] |= 1;
            m2[0] |= 1;
            m1[n - 1] |= Word(1) << 63;
            m2[n - 1] = trial % 4 == 3 ? 1 : m2[n - 1] | 1;  // one modulus far below its top word
            auto b1 = src.Random(n), b2 = src.Random(n);
            if (trial == 1) b1.assign(n, 0);
            if (trial == 2) {
                b2 = m2;
                b2[0] -= 1;  // m - 1
            }
            std::vector<Word> e1 = src.Random(n), e2 = src.Random(trial % 3 == 0 ? n : n / 2);
            if (trial == 4) e2 = {0};
            if (trial == 5) e1 = {1};
            if (trial == 6) e2 = {65537};
            // Both exponents short (square-and-multiply in pairs): equal, of different lengths
            // and bits, zero, and the longest short one.
            if (trial == 7) e1 = e2 = {65537};
            if (trial == 8) e1 = {3}, e2 = {0x8000000000000001u};
            if (trial == 9) e1 = {0}, e2 = {0xFFFFFFFFFFFFFFFFu};
            if (trial == 10) e1 = {0x1234567}, e2 = {0x7654321};
            sbmath::MontContext c1(m1.data(), n), c2(m2.data(), n);
            std::vector<Word> r1(n), r2(n);
            ASSERT_TRUE(sbmath::IfmaMontExp2(c1, r1.data(), b1.data(), e1.data(), e1.size(), c2, r2.data(),
                                             b2.data(), e2.data(), e2.size(), [] { return true; }));
            EXPECT_EQ(r1, Portable(m1, b1, e1)) << n << " words, trial " << trial << ", first half";
            EXPECT_EQ(r2, Portable(m2, b2, e2)) << n << " words, trial " << trial << ", second half";
        }
    }
}

// The RSA halves through the number records: the paired road gives what two single
// exponentiations give, for positive and negative bases (a negative one counts from m), and
// so does the road taken without IFMA.
TEST(SBMathIfma, CrtHalvesThroughTheRecordsAgree) {
    if (!IfmaHere()) GTEST_SKIP() << "this processor has no AVX-512 IFMA";
    Words src(76);
    auto number = [&](size_t bytes, bool odd) {
        std::vector<uint8_t> b(bytes);
        for (auto& x : b)
            x = uint8_t(src.Random());
        b[0] |= 0x80;
        if (odd) b.back() |= 1;
        BigNumPtr r = MakeBigNum();
        LoadBigNumFromBytes(r.get(), b.data(), int32_t(b.size()));
        r->NonNegative = true;
        return r;
    };
    for (size_t bytes : {size_t(128), size_t(192), size_t(256)}) {
        for (int trial = 0; trial < 6; ++trial) {
            const BigNumPtr p = number(bytes, true), q = number(bytes, true),
                            c = number(2 * bytes - trial, false), dp = number(bytes - trial, false),
                            dq = number(bytes, false);
            c->NonNegative = trial % 2 == 0;
            const BigNumPtr want1 = MakeBigNum(), want2 = MakeBigNum();
            ExponentiateBigNumMontgomery(c.get(), dp.get(), p.get(), want1.get());
            ExponentiateBigNumMontgomery(c.get(), dq.get(), q.get(), want2.get());
            for (bool fast : {true, false}) {
                sbmath::SetFastPathsEnabled(fast);
                const BigNumPtr m1 = MakeBigNum(), m2 = MakeBigNum();
                pkmath::ExponentiateCRT(c.get(), dp.get(), p.get(), dq.get(), q.get(), m1.get(), m2.get());
                EXPECT_TRUE(AreBigNumsEqual(m1.get(), want1.get()))
                    << bytes << " bytes, trial " << trial << ", fast " << fast;
                EXPECT_TRUE(AreBigNumsEqual(m2.get(), want2.get()))
                    << bytes << " bytes, trial " << trial << ", fast " << fast;
            }
            sbmath::SetFastPathsEnabled(true);
        }
    }
}
