// Behaviour of SBMath that the differential tests do not reach: the record conventions (limb
// counts, signs, text and byte forms), the errors raised for values that do not fit, zero
// divisors and bad text, cancellation, the prime test's small cases and the generators' sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "crypto/math/SBMath.h"

namespace {

BigNumPtr Hex(const std::string& text) {
    BigNumPtr n = MakeBigNum();
    ParseBigNumHex(n.get(), text);
    return n;
}

BigNumPtr Small(uint32_t v) {
    BigNumPtr n = MakeBigNum();
    n->Limbs[0] = v;
    return n;
}

std::vector<uint32_t> LimbsOf(const BigNum* A) {
    return std::vector<uint32_t>(A->Limbs, A->Limbs + A->LimbCount);
}

// A callback that allows `budget` calls and then asks to cancel.
struct Budget {
    int left;
    int calls = 0;
};
const MathProgressCallback kBudgetCallback = [](void* data) {
    auto* b = static_cast<Budget*>(data);
    ++b->calls;
    return b->left-- > 0;
};

}  // namespace

TEST(SBMath, CreateCopySwapAndFree) {
    BigNum* a = nullptr;
    CreateBigNum(a);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(FormatBigNumHex(a), "00000001");
    BigNum* b = nullptr;
    CreateBigNum(b);
    ParseBigNumHex(b, "-123456789ABCDEF0");
    CopyBigNum(a, b);
    EXPECT_EQ(FormatBigNumHex(a), "-123456789ABCDEF0");
    SetBigNumZero(b);
    SwapBigNums(a, b);
    EXPECT_EQ(FormatBigNumHex(b), "-123456789ABCDEF0");
    EXPECT_TRUE(IsBigNumZero(a));
    FreeBigNum(a);
    FreeBigNum(b);
    EXPECT_EQ(a, nullptr);
    FreeBigNum(a);  // nil is accepted
}

TEST(SBMath, HexTextForms) {
    struct Case {
        const char* in;
        const char* out;
        int32_t limbs;
    };
    const Case cases[] = {
        {"-1A", "-0000001A", 1},
        {"", "00000000", 1},
        {"0", "00000000", 1},
        {"-0", "00000000", 1},  // zero has no sign
        {"ffffffff", "FFFFFFFF", 1},
        {"100000000", "0000000100000000", 2},
        {"0000000000000001", "0000000000000001", 2},  // zero groups on the left are kept
        {"aBcDeF0123456789", "ABCDEF0123456789", 2},
    };
    for (const Case& c : cases) {
        BigNumPtr n = Hex(c.in);
        EXPECT_EQ(FormatBigNumHex(n.get()), c.out) << c.in;
        EXPECT_EQ(n->LimbCount, c.limbs) << c.in;
    }
    BigNumPtr n = MakeBigNum();
    for (const char* bad : {"12G4", "0x12", " 12", "1-2", "--1"}) {
        EXPECT_THROW(ParseBigNumHex(n.get(), bad), rtl::EConvertError) << bad;
    }
    // 768 limbs of digits fit; one digit more does not.
    EXPECT_NO_THROW(ParseBigNumHex(n.get(), std::string(8 * 768, 'F')));
    EXPECT_EQ(n->LimbCount, 768);
    EXPECT_THROW(ParseBigNumHex(n.get(), std::string(8 * 768 + 1, '1')), EElMathException);
}

TEST(SBMath, ByteForms) {
    const uint8_t five[] = {0x01, 0x00, 0x00, 0x00, 0x00};
    BigNumPtr n = MakeBigNum();
    LoadBigNumFromBytes(n.get(), five, 5);
    EXPECT_EQ(LimbsOf(n.get()), (std::vector<uint32_t>{0, 1}));

    uint8_t out[16];
    int32_t size = sizeof(out);
    SaveBigNumToTrimmedBytes(n.get(), out, size);
    EXPECT_EQ(std::vector<uint8_t>(out, out + size), std::vector<uint8_t>(five, five + 5));
    size = sizeof(out);
    SaveBigNumToBytes(n.get(), out, size);
    EXPECT_EQ(std::vector<uint8_t>(out, out + size), (std::vector<uint8_t>{0, 0, 0, 1, 0, 0, 0, 0}));

    // No bytes, or only zeros, give count 0; zero saves as nothing in trimmed form.
    LoadBigNumFromBytes(n.get(), nullptr, 0);
    EXPECT_EQ(n->LimbCount, 0);
    EXPECT_TRUE(IsBigNumZero(n.get()));
    const uint8_t zeros[7] = {};
    LoadBigNumFromBytes(n.get(), zeros, 7);
    EXPECT_EQ(n->LimbCount, 0);
    size = sizeof(out);
    SaveBigNumToTrimmedBytes(n.get(), out, size);
    EXPECT_EQ(size, 0);
}

TEST(SBMath, ByteFormsRaiseWhenTheValueDoesNotFit) {
    BigNumPtr n = MakeBigNum();
    // 3072 significant bytes fill the record; 3073 do not, whatever the leading zeros.
    std::vector<uint8_t> full(3072, 0xA5);
    EXPECT_NO_THROW(LoadBigNumFromBytes(n.get(), full.data(), int32_t(full.size())));
    EXPECT_EQ(n->LimbCount, 768);
    std::vector<uint8_t> padded(100 + full.size(), 0);
    std::copy(full.begin(), full.end(), padded.begin() + 100);
    EXPECT_NO_THROW(LoadBigNumFromBytes(n.get(), padded.data(), int32_t(padded.size())));
    std::vector<uint8_t> over(3073, 0x01);
    const std::string before = FormatBigNumHex(n.get());
    EXPECT_THROW(LoadBigNumFromBytes(n.get(), over.data(), int32_t(over.size())), EElMathException);
    EXPECT_EQ(FormatBigNumHex(n.get()), before);  // the record is left as it was
    EXPECT_THROW(LoadBigNumFromBytes(n.get(), over.data(), -1), EElMathException);

    // Saving: a buffer one byte short raises and reports the size needed; nothing is written.
    ParseBigNumHex(n.get(), "0102030405");
    struct Case {
        bool trimmed;
        int32_t need;
    };
    for (const Case c : {Case{false, 8}, Case{true, 5}}) {
        std::vector<uint8_t> buf(16, 0xEE);
        int32_t size = c.need - 1;
        if (c.trimmed) {
            EXPECT_THROW(SaveBigNumToTrimmedBytes(n.get(), buf.data(), size), EElMathException);
        } else {
            EXPECT_THROW(SaveBigNumToBytes(n.get(), buf.data(), size), EElMathException);
        }
        EXPECT_EQ(size, c.need);
        EXPECT_EQ(buf, std::vector<uint8_t>(16, 0xEE));
        size = c.need;
        if (c.trimmed) {
            SaveBigNumToTrimmedBytes(n.get(), buf.data(), size);
        } else {
            SaveBigNumToBytes(n.get(), buf.data(), size);
        }
        EXPECT_EQ(size, c.need);
        EXPECT_EQ(buf[size_t(c.need) - 1], 0x05);
        EXPECT_EQ(buf[size_t(c.need)], 0xEE);
    }
}

TEST(SBMath, ArithmeticRaisesInsteadOfOverflowingTheRecord) {
    BigNumPtr full = Hex(std::string(8 * 768, 'F'));
    BigNumPtr half = Hex(std::string(8 * 384, 'F'));
    BigNumPtr r = MakeBigNum();
    EXPECT_THROW(AddBigNums(full.get(), full.get(), r.get()), EElMathException);
    EXPECT_THROW(IncrementBigNum(full.get()), EElMathException);
    EXPECT_THROW(ShiftBigNumLeftOneBit(full.get()), EElMathException);
    EXPECT_THROW(ShiftBigNumLeft(half.get(), r.get(), 32 * 384 + 1), EElMathException);
    EXPECT_THROW(ShiftBigNumLimbsLeft(half.get(), 385), EElMathException);
    EXPECT_THROW(AddWordToBigNum(full.get(), 1, r.get()), EElMathException);
    EXPECT_THROW(MultiplyBigNumByWord(full.get(), 2, r.get()), EElMathException);
    BigNumPtr over = Hex("1" + std::string(8 * 384, '0'));  // 2^12288: its square needs 769 limbs
    EXPECT_THROW(MultiplyBigNums(over.get(), over.get(), r.get()), EElMathException);
    // A failed operation leaves its operands as they were.
    EXPECT_EQ(FormatBigNumHex(full.get()), std::string(8 * 768, 'F'));
    // Exactly at capacity works.
    EXPECT_NO_THROW(MultiplyBigNums(half.get(), half.get(), r.get()));
    EXPECT_EQ(r->LimbCount, 768);
    EXPECT_NO_THROW(ShiftBigNumLimbsLeft(half.get(), 384));
    EXPECT_EQ(half->LimbCount, 768);
}

TEST(SBMath, ZeroDivisorsNegativeExponentsAndBadCounts) {
    BigNumPtr zero = Small(0), five = Small(5), r = MakeBigNum(), q = MakeBigNum();
    uint32_t rem = 0;
    EXPECT_THROW(DivideBigNums(five.get(), zero.get(), q.get(), r.get()), EElMathException);
    EXPECT_THROW(DivideBigNums(five.get(), five.get(), q.get(), q.get()), EElMathException);
    EXPECT_THROW(ReduceBigNumBySubtraction(five.get(), zero.get(), r.get()), EElMathException);
    EXPECT_THROW(ReduceBigNumByShifting(five.get(), zero.get(), r.get()), EElMathException);
    EXPECT_THROW(RemainderBigNumByWord(five.get(), 0, rem), EElMathException);
    EXPECT_THROW(ExponentiateBigNumMontgomery(five.get(), five.get(), zero.get(), r.get()), EElMathException);
    EXPECT_THROW(ExponentiateBigNumRecursive(five.get(), five.get(), zero.get(), r.get()), EElMathException);
    EXPECT_THROW(ComputeBigNumGCDAndInverse(five.get(), zero.get(), q.get(), r.get()), EElMathException);
    BigNumPtr minus = Hex("-3");
    EXPECT_THROW(ExponentiateBigNumMontgomery(five.get(), minus.get(), Small(7).get(), r.get()),
                 EElMathException);
    EXPECT_THROW(SubtractWordFromBigNum(five.get(), 6, r.get()), EElMathException);
    EXPECT_THROW(ShiftBigNumRight(five.get(), r.get(), -1), EElMathException);
    EXPECT_THROW(FillBigNumRandom(r.get(), 769), EElMathException);
    EXPECT_THROW(FillBigNumRandomBytes(r.get(), 3073), EElMathException);
    // A record claiming more limbs than it has is refused, not read past its end.
    BigNumPtr broken = MakeBigNum();
    broken->LimbCount = 769;
    EXPECT_THROW(CopyBigNum(r.get(), broken.get()), EElMathException);
    EXPECT_THROW(FormatBigNumHex(broken.get()), EElMathException);
}

TEST(SBMath, SignedResultsAndLimbCounts) {
    BigNumPtr r = MakeBigNum();
    SubtractBigNums(Small(3).get(), Small(5).get(), r.get());
    EXPECT_EQ(FormatBigNumHex(r.get()), "-00000002");
    BigNumPtr a = Hex("-3");
    AddBigNums(a.get(), Hex("-5").get(), a.get());
    EXPECT_EQ(FormatBigNumHex(a.get()), "-00000008");
    AddBigNums(Hex("-7").get(), Small(7).get(), r.get());
    EXPECT_TRUE(r->NonNegative);  // zero is non-negative
    EXPECT_TRUE(AreBigNumsEqual(Small(0).get(), Hex("-0").get()));
    BigNumPtr negZero = Small(0);
    negZero->NonNegative = false;
    EXPECT_TRUE(AreBigNumsEqual(Small(0).get(), negZero.get()));

    // Reductions.
    BigNumPtr m = Hex("FFFFFFFB00000007");
    ReduceBigNumBySubtraction(m.get(), m.get(), r.get());
    EXPECT_TRUE(IsBigNumZero(r.get()));
    BigNumPtr twoMPlusOne = MakeBigNum();
    AddBigNums(m.get(), m.get(), twoMPlusOne.get());
    IncrementBigNum(twoMPlusOne.get());
    ReduceBigNumBySubtraction(twoMPlusOne.get(), m.get(), r.get());
    EXPECT_EQ(FormatBigNumHex(r.get()), "00000001");

    // Division keeps the quotient's promised size.
    BigNumPtr q = MakeBigNum();
    DivideBigNums(Hex("10000000000000000").get(), Hex("100000001").get(), q.get(), r.get());
    EXPECT_EQ(LimbsOf(q.get()), (std::vector<uint32_t>{0xFFFFFFFF, 0}));
    EXPECT_EQ(FormatBigNumHex(r.get()), "00000001");
    DivideBigNums(Hex("100000000").get(), Small(3).get(), q.get(), r.get());
    EXPECT_EQ(LimbsOf(q.get()), (std::vector<uint32_t>{0x55555555}));
    EXPECT_EQ(FormatBigNumHex(r.get()), "00000001");
    // A quotient record that held a negative value gets the right sign.
    q->NonNegative = false;
    DivideBigNums(Small(9).get(), Small(2).get(), q.get(), r.get());
    EXPECT_EQ(FormatBigNumHex(q.get()), "00000004");

    // Shifts and word operations keep the result record's sign (they work on magnitudes).
    BigNumPtr neg = Hex("-80000000");
    ShiftBigNumLeftOneBit(neg.get());
    EXPECT_EQ(FormatBigNumHex(neg.get()), "-0000000100000000");
    ShiftBigNumRight(neg.get(), r.get(), 64);
    EXPECT_EQ(r->LimbCount, 0);
    ShiftBigNumRight(neg.get(), r.get(), 200);  // past the top: zero
    EXPECT_TRUE(IsBigNumZero(r.get()));
    BigNumPtr empty = MakeBigNum();
    LoadBigNumFromBytes(empty.get(), nullptr, 0);
    AddWordToBigNum(empty.get(), 9, r.get());  // a count-0 record is zero: 0 + 9 = 9
    EXPECT_EQ(FormatBigNumHex(r.get()), "00000009");
    SubtractWordFromBigNum(Hex("100000000").get(), 1, r.get());
    EXPECT_EQ(LimbsOf(r.get()), (std::vector<uint32_t>{0xFFFFFFFF}));

    // Comparisons by value: a record with zero top limbs compares like its value.
    BigNumPtr padded = Hex("0000000000000005");
    EXPECT_FALSE(IsBigNumGreater(padded.get(), Small(5).get()));
    EXPECT_TRUE(AreBigNumsEqual(padded.get(), Small(5).get()));
    EXPECT_TRUE(IsBigNumGreater(Small(6).get(), padded.get()));
}

TEST(SBMath, GcdOfAMultipleOfTheModulus) {
    // A hostile DSA signature may carry s = 0 (or s = q): the inverse step must end, with
    // GCD = M and no inverse (0), not loop.
    BigNumPtr m = Hex("F7E75FDC469067FFDC4E847C51F452DF"), g = MakeBigNum(), inv = MakeBigNum();
    BigNumPtr zero = Small(0), twoM = MakeBigNum();
    AddBigNums(m.get(), m.get(), twoM.get());
    for (const BigNum* a : {zero.get(), m.get(), twoM.get()}) {
        ComputeBigNumGCDAndInverse(a, m.get(), g.get(), inv.get());
        EXPECT_TRUE(AreBigNumsEqual(g.get(), m.get()));
        EXPECT_TRUE(IsBigNumZero(inv.get()));
    }
}

TEST(SBMath, MontgomeryExponentiation) {
    BigNumPtr r = MakeBigNum();
    ASSERT_TRUE(ExponentiateBigNumMontgomery(Small(4).get(), Small(13).get(), Small(497).get(), r.get()));
    EXPECT_EQ(FormatBigNumHex(r.get()), "000001BD");  // 445
    // An even modulus gives the true result instead of leaving the record as it was.
    ParseBigNumHex(r.get(), "DEADBEEF");
    ASSERT_TRUE(ExponentiateBigNumMontgomery(Small(3).get(), Small(5).get(), Small(100).get(), r.get()));
    EXPECT_EQ(FormatBigNumHex(r.get()), "0000002B");  // 243 mod 100 = 43
    ExponentiateBigNumRecursive(Small(4).get(), Small(13).get(), Small(497).get(), r.get());
    EXPECT_EQ(FormatBigNumHex(r.get()), "000001BD");
}

TEST(SBMath, CancellationRaisesOrLeavesTheResultUntouched) {
    BigNumPtr m = Hex(std::string(256, 'F'));  // odd, 1024 bits
    BigNumPtr e = Hex(std::string(256, 'D'));
    BigNumPtr r = Small(77);
    Budget budget{3};
    EXPECT_FALSE(ExponentiateBigNumMontgomery(Small(3).get(), e.get(), m.get(), r.get(), kBudgetCallback,
                                              &budget, false));
    EXPECT_EQ(FormatBigNumHex(r.get()), "0000004D");
    EXPECT_EQ(budget.calls, 4);
    budget = Budget{3};
    try {
        ExponentiateBigNumMontgomery(Small(3).get(), e.get(), m.get(), r.get(), kBudgetCallback, &budget,
                                     true);
        FAIL() << "no exception";
    } catch (const EElMathException& ex) {
        EXPECT_EQ(ex.Message(), "Mathematical operation canceled");
        EXPECT_STREQ(ex.ClassName(), "EElMathException");
    }
    EXPECT_EQ(FormatBigNumHex(r.get()), "0000004D");

    // Primes: a cancelled test answers false, or raises with the flag.
    BigNumPtr p = MakeBigNum();
    ASSERT_TRUE(GenerateBigNumPrimeBits(p.get(), 512, false, true));
    budget = Budget{0};
    EXPECT_FALSE(IsBigNumProbablePrime(p.get(), kBudgetCallback, &budget, false));
    budget = Budget{0};
    EXPECT_THROW(IsBigNumProbablePrime(p.get(), kBudgetCallback, &budget, true), EElMathException);
    budget = Budget{0};
    EXPECT_FALSE(RunMillerRabinRound(p.get(), kBudgetCallback, &budget, false));
    budget = Budget{0};
    EXPECT_FALSE(GenerateBigNumPrime(p.get(), 8, true, false, kBudgetCallback, &budget));
    budget = Budget{0};
    EXPECT_THROW(GenerateBigNumPrimeBits(p.get(), 256, true, true, kBudgetCallback, &budget),
                 EElMathException);
    // An unassigned callback never cancels.
    EXPECT_FALSE(IsMathOperationCanceled(nullptr, MathProgressCallback()));
}

TEST(SBMath, ProbablePrimeSmallCases) {
    struct Case {
        const char* hex;
        bool prime;
    };
    const Case cases[] = {
        {"0", false},        {"1", false},
        {"2", true},         {"3", true},
        {"4", false},        {"7", true},                 // a table prime is prime
        {"E57", true},                                    // 3671, the last prime tried by division
        {"E59", true},                                    // 3673, the first prime past the division table
        {"CDA191", false},                                // 3671^2: no factor below 3671
        {"CDF79B", false},                                // 3671 x 3677
        {"1309C8AF", false},                              // 17863 x 17881
        {"C5C5", false},                                  // 197 x 257
        {"-7", false},       {"1FFFFFFFFFFFFFFF", true},  // 2^61 - 1
    };
    for (const Case& c : cases) {
        BigNumPtr n = Hex(c.hex);
        EXPECT_EQ(IsBigNumProbablePrime(n.get()), c.prime) << c.hex;
    }
    // A Miller-Rabin round on a prime always passes; on an even number or 1 it fails.
    for (int i = 0; i < 20; ++i)
        EXPECT_TRUE(RunMillerRabinRound(Hex("1FFFFFFFFFFFFFFF").get()));
    EXPECT_FALSE(RunMillerRabinRound(Small(1).get()));
    EXPECT_FALSE(RunMillerRabinRound(Hex("1FFFFFFFFFFFFFFE").get()));
    EXPECT_TRUE(RunMillerRabinRound(Small(3).get()));
}

TEST(SBMath, GeneratedPrimesHaveTheSizeAskedFor) {
    BigNumPtr p = MakeBigNum();
    struct Case {
        int32_t bits;
        bool twoTop;
    };
    // Small sizes hit the table primes themselves and candidates that step past their size.
    const Case cases[] = {{2, false},  {3, true},    {4, false},  {5, false}, {8, true},
                          {14, false}, {16, true},   {31, false}, {32, true}, {33, false},
                          {65, true},  {100, false}, {256, true}};
    for (const Case& c : cases) {
        for (int round = 0; round < 5; ++round) {
            ASSERT_TRUE(GenerateBigNumPrimeBits(p.get(), c.bits, c.twoTop, true));
            EXPECT_EQ(CountBigNumBits(p.get()), c.bits) << FormatBigNumHex(p.get());
            if (c.twoTop) {
                EXPECT_EQ(GetBigNumBit(p.get(), c.bits - 1), 1) << FormatBigNumHex(p.get());
            }
            EXPECT_TRUE(IsBigNumProbablePrime(p.get())) << FormatBigNumHex(p.get());
        }
    }
    for (int32_t limbs : {1, 2, 5, 16}) {
        for (bool twoTop : {false, true}) {
            ASSERT_TRUE(GenerateBigNumPrime(p.get(), limbs, twoTop, true));
            EXPECT_EQ(p->LimbCount, limbs);
            EXPECT_EQ(CountBigNumBits(p.get()), 32 * limbs);
            if (twoTop) {
                EXPECT_EQ(GetBigNumBit(p.get(), 32 * limbs - 1), 1);
            }
            EXPECT_TRUE(IsBigNumProbablePrime(p.get())) << FormatBigNumHex(p.get());
        }
    }
    EXPECT_THROW(GenerateBigNumPrimeBits(p.get(), 1, false, true), EElMathException);
    EXPECT_THROW(GenerateBigNumPrime(p.get(), 0, false, true), EElMathException);
}

TEST(SBMath, RandomDrawsComeFromTheSystemSource) {
    // Draws are fresh each time: no two 128-bit values of a few hundred repeat, and two
    // streams started one after the other differ.
    BigNumPtr a = MakeBigNum();
    std::set<std::string> seen;
    for (int i = 0; i < 300; ++i) {
        FillBigNumRandom(a.get(), 4);
        EXPECT_EQ(a->LimbCount, 4);
        seen.insert(FormatBigNumHex(a.get()));
    }
    EXPECT_EQ(seen.size(), 300u);
    MathRandomState s1, s2;
    InitMathRandom(s1);
    InitMathRandom(s2);
    BigNumPtr x = MakeBigNum(), y = MakeBigNum();
    FillBigNumFromMathRandom(s1, x.get(), 18);
    FillBigNumFromMathRandom(s2, y.get(), 18);
    EXPECT_EQ(x->LimbCount, 5);
    EXPECT_LE(x->Limbs[4], 0xFFFFu);  // 18 bytes: four full limbs and two bytes
    EXPECT_FALSE(AreBigNumsEqual(x.get(), y.get()));
    FillBigNumRandomBytes(x.get(), 7);
    EXPECT_EQ(x->LimbCount, 2);
    EXPECT_LE(x->Limbs[1], 0xFFFFFFu);
}
