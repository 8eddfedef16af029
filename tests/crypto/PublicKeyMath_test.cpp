// The constant-time reductions the public-key units share, against the division of SBMath
// (whose results SBMathGmp checks against GMP): values shorter and longer than the modulus,
// zero, the modulus itself, negative values (counted from the modulus, as the exponentiation
// counts its base), and an even modulus, which takes the exponentiation's own road.
#include <gtest/gtest.h>

#include <vector>

#include "crypto/BigNumGmp.h"
#include "crypto/PublicKeyMath.h"
#include "crypto/SBMath.h"
#include "crypto/SBMathKernel.h"

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
