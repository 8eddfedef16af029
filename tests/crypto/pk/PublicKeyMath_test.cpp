// The constant-time reductions the public-key units share, against the division of SBMath
// (whose results SBMathGmp checks against GMP): values shorter and longer than the modulus,
// zero, the modulus itself, negative values (counted from the modulus, as the exponentiation
// counts its base), and an even modulus, which takes the exponentiation's own road. Then the
// word forms the private-key operations run on: numbers from bytes, products modulo an odd
// modulus, draws below a modulus, and pairs of exponentiations.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "crypto/BigNumGmp.h"
#include "crypto/math/SBMath.h"
#include "crypto/math/SBMathKernel.h"
#include "crypto/pk/PublicKeyMath.h"

using kwtest::OperandSource;

namespace {

// A mod M in 0 .. M - 1, a negative A giving M - (|A| mod M) unless that is 0.
BigNumPtr Expected(const BigNum* A, const BigNum* M) {
    BigNumPtr q = MakeBigNum(), r = MakeBigNum(), a = MakeBigNum();
    CopyBigNum(a.get(), A);
    a->NonNegative = true;
    DivideBigNums(a.get(), M, q.get(), r.get());
    if (!A->NonNegative && !IsBigNumZero(r.get())) SubtractBigNums(M, r.get(), r.get());
    r->NonNegative = true;
    return r;
}

}  // namespace

TEST(PublicKeyMath, ReduceAndMultiplyAgreeWithDivision) {
    OperandSource src(81);
    for (bool fast : {true, false}) {
        sbmath::SetFastPathsEnabled(fast);
        for (int32_t mLimbs : {1, 2, 16, 32, 64}) {
            for (int trial = 0; trial < 12; ++trial) {
                BigNumPtr m = MakeBigNum(), a = MakeBigNum(), b = MakeBigNum();
                src.Fill(m.get(), mLimbs);
                if (trial % 4 != 3) m->Limbs[0] |= 1;  // every fourth modulus even (or odd by chance)
                if (IsBigNumZero(m.get())) continue;
                const int32_t aLimbs = trial == 0 ? 0 : trial == 1 ? mLimbs : 2 * mLimbs + trial % 3;
                src.Fill(a.get(), aLimbs);
                src.Fill(b.get(), mLimbs);
                if (trial == 2) CopyBigNum(a.get(), m.get());
                a->NonNegative = trial % 2 == 0;
                BigNumPtr r = MakeBigNum();
                pkmath::ReduceCT(a.get(), m.get(), r.get());
                const BigNumPtr want = Expected(a.get(), m.get());
                EXPECT_TRUE(AreBigNumsEqual(r.get(), want.get()))
                    << mLimbs << " limbs, trial " << trial << ", fast " << fast;
                EXPECT_TRUE(r->NonNegative);

                BigNumPtr p = MakeBigNum(), ab = MakeBigNum();
                a->NonNegative = true;
                pkmath::MulModCT(a.get(), b.get(), m.get(), p.get());
                MultiplyBigNums(a.get(), b.get(), ab.get());
                const BigNumPtr wantProduct = Expected(ab.get(), m.get());
                EXPECT_TRUE(AreBigNumsEqual(p.get(), wantProduct.get()))
                    << mLimbs << " limbs, trial " << trial << ", fast " << fast << " (product)";
            }
        }
    }
    sbmath::SetFastPathsEnabled(true);
}

namespace {

using sbmath::Word;

// A random odd modulus of the given limbs, its top limb non-zero.
BigNumPtr OddModulus(OperandSource& src, int32_t limbs) {
    BigNumPtr m = MakeBigNum();
    src.Fill(m.get(), limbs);
    m->Limbs[0] |= 1;
    m->Limbs[limbs - 1] |= 0x80000000u;
    m->NonNegative = true;
    return m;
}

BigNumPtr FromWords(const pkmath::SecureWords& w) {
    BigNumPtr r = MakeBigNum();
    sbmath::FromWords(r.get(), w.data(), w.size());
    r->NonNegative = true;
    return r;
}

}  // namespace

TEST(PublicKeyMath, WordsFromBytesEqualWordsFromTheNumber) {
    OperandSource src(82);
    for (size_t length : {0, 1, 7, 8, 9, 64, 129}) {
        for (size_t zeros : {0, 1, 9}) {
            std::vector<uint8_t> bytes(zeros, 0);
            for (size_t i = 0; i < length; ++i)
                bytes.push_back(uint8_t(src.Word()));
            SCOPED_TRACE(std::to_string(zeros) + " zero bytes, then " + std::to_string(length));
            const BigNumPtr number = pkmath::Load(bytes);
            EXPECT_EQ(pkmath::WordsOf(pkmath::Bytes(bytes)), pkmath::WordsOf(number.get()));
            EXPECT_EQ(pkmath::WordsOf(pkmath::Bytes(bytes), 20), pkmath::WordsOf(number.get(), 20));
        }
    }
    const std::vector<uint8_t> nineBytes(9, 0xFF);
    EXPECT_THROW(pkmath::WordsOf(pkmath::Bytes(nineBytes), 1), EElMathException);
}

TEST(PublicKeyMath, MulModAgreesWithDivision) {
    OperandSource src(83);
    for (bool fast : {true, false}) {
        sbmath::SetFastPathsEnabled(fast);
        for (int32_t limbs : {2, 32, 64}) {
            for (int trial = 0; trial < 8; ++trial) {
                const BigNumPtr m = OddModulus(src, limbs);
                BigNumPtr a = MakeBigNum(), b = MakeBigNum(), ab = MakeBigNum();
                src.Fill(a.get(), limbs);
                src.Fill(b.get(), limbs);
                pkmath::ReduceCT(a.get(), m.get(), a.get());
                pkmath::ReduceCT(b.get(), m.get(), b.get());
                if (trial == 0) a = pkmath::Number(0);
                if (trial == 1) SubtractWordFromBigNum(m.get(), 1, b.get());  // m - 1
                const size_t n = sbmath::WordCount(m.get());
                const pkmath::SecureWords mw = pkmath::WordsOf(m.get(), n);
                pkmath::SecureWords aw = pkmath::WordsOf(a.get(), n), bw = pkmath::WordsOf(b.get(), n), r(n);
                sbmath::MontContext ctx(mw.data(), n);
                pkmath::MulMod(ctx, r.data(), aw.data(), bw.data());
                MultiplyBigNums(a.get(), b.get(), ab.get());
                ab->NonNegative = true;
                EXPECT_TRUE(AreBigNumsEqual(FromWords(r).get(), Expected(ab.get(), m.get()).get()))
                    << limbs << " limbs, trial " << trial << ", fast " << fast;
                // In place, as the private operations use it.
                pkmath::MulMod(ctx, aw.data(), aw.data(), bw.data());
                EXPECT_EQ(aw, r);
            }
        }
    }
    sbmath::SetFastPathsEnabled(true);
}

// Draws below the modulus: every value in 1 .. M - 1, for moduli of one word up, including the
// smallest range (M = 2, whose only value is 1) and M just above a power of two (most
// candidates refused).
TEST(PublicKeyMath, WordDrawsLieBelowTheModulus) {
    for (std::vector<Word> m :
         {std::vector<Word>{2}, std::vector<Word>{3}, std::vector<Word>{0x8000000000000001u},
          std::vector<Word>{1, 1}, std::vector<Word>{~Word(0), ~Word(0), 0x7F}}) {
        const size_t n = m.size();
        std::vector<Word> r(n), s(n), t(n);
        Word* const out[3] = {r.data(), s.data(), t.data()};
        for (int trial = 0; trial < 50; ++trial) {
            pkmath::RandomBelow(m.data(), n, out);
            for (const auto* v : {&r, &s, &t}) {
                EXPECT_NE(sbmath::Normalized(v->data(), n), 0u);
                EXPECT_LT(sbmath::Cmp(v->data(), m.data(), n), 0);
            }
        }
        if (n == 1 && m[0] == 2) {
            EXPECT_EQ(r[0], 1u);
        }
    }
    const std::vector<Word> one{1};
    std::vector<Word> r(1);
    Word* const out[1] = {r.data()};
    EXPECT_THROW(pkmath::RandomBelow(one.data(), 1, out), EElMathException);
}

// Pairs of exponentiations (the CRT halves' road, paired on IFMA where the processor has it)
// against two single ones, for secret-length and public-length exponents, on both roads.
TEST(PublicKeyMath, ExponentiationPairsEqualTwoSingleOnes) {
    OperandSource src(84);
    for (bool fast : {true, false}) {
        sbmath::SetFastPathsEnabled(fast);
        for (int32_t limbs : {32, 48}) {
            for (int trial = 0; trial < 4; ++trial) {
                const BigNumPtr p = OddModulus(src, limbs), q = OddModulus(src, limbs);
                BigNumPtr b1 = MakeBigNum(), b2 = MakeBigNum(), e1 = MakeBigNum(), e2 = MakeBigNum();
                src.Fill(b1.get(), limbs);
                src.Fill(b2.get(), limbs);
                src.Fill(e1.get(), trial < 2 ? limbs : 1);
                src.Fill(e2.get(), trial < 2 ? limbs - 3 : 1);
                for (BigNum* v : {b1.get(), b2.get(), e1.get(), e2.get()})
                    v->NonNegative = true;
                const BigNumPtr want1 = MakeBigNum(), want2 = MakeBigNum();
                ExponentiateBigNumMontgomery(b1.get(), e1.get(), p.get(), want1.get());
                ExponentiateBigNumMontgomery(b2.get(), e2.get(), q.get(), want2.get());
                const size_t n = sbmath::WordCount(p.get());
                const pkmath::SecureWords pw = pkmath::WordsOf(p.get(), n), qw = pkmath::WordsOf(q.get(), n),
                                          b1w = pkmath::WordsOf(b1.get(), n),
                                          b2w = pkmath::WordsOf(b2.get(), n), e1w = pkmath::WordsOf(e1.get()),
                                          e2w = pkmath::WordsOf(e2.get());
                pkmath::SecureWords r1(n), r2(n);
                sbmath::MontContext c1(pw.data(), n), c2(qw.data(), n);
                pkmath::ExponentiatePair(c1, r1.data(), b1w.data(), e1w, c2, r2.data(), b2w.data(), e2w);
                EXPECT_TRUE(AreBigNumsEqual(FromWords(r1).get(), want1.get()))
                    << limbs << " limbs, trial " << trial << ", fast " << fast;
                EXPECT_TRUE(AreBigNumsEqual(FromWords(r2).get(), want2.get()))
                    << limbs << " limbs, trial " << trial << ", fast " << fast;
            }
        }
    }
    sbmath::SetFastPathsEnabled(true);
}
