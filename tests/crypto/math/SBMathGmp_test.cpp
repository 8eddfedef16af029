// Differential tests of SBMath against GMP: random operands of many sizes (around the
// word and Karatsuba boundaries and up to the record's capacity) and every sign combination,
// for every arithmetic operation; modular exponentiation against mpz_powm. The kernel's fast
// multiply-accumulate row is checked against the portable one, and its CPU check against the
// kernel's list of features.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <vector>

#include "crypto/BigNumGmp.h"
#include "crypto/CpuFlags.h"
#include "crypto/math/SBMath.h"
#include "crypto/math/SBMathKernel.h"
#include "support/TestSupport.h"

using kwtest::Mpz;
using kwtest::OperandSource;

namespace {

// Limb counts that cross the interesting boundaries: one word, the 64-bit word pairing, the
// Karatsuba threshold (40 words = 80 limbs) and its doubling, and the record's capacity.
const std::vector<int32_t> kSizes = {0,  1,  2,  3,  4,  7,   16,  31,  32, 33,
                                     63, 79, 80, 81, 97, 160, 161, 255, 384};

::testing::AssertionResult Same(const BigNum* got, mpz_srcptr want) {
    Mpz g(got);
    if (mpz_cmp(g, want) == 0) return ::testing::AssertionSuccess();
    Mpz w;
    mpz_set(w, want);
    return ::testing::AssertionFailure() << "got " << g.Hex() << "\nwant " << w.Hex();
}

// Every case runs twice: with the processor's fast multiply-accumulate rows (when it has them)
// and with the portable ones.
class SBMathGmp : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { sbmath::SetFastPathsEnabled(GetParam()); }
    void TearDown() override { sbmath::SetFastPathsEnabled(true); }
};

struct Records {
    BigNumPtr a = MakeBigNum(), b = MakeBigNum(), r = MakeBigNum(), s = MakeBigNum();
};

}  // namespace

TEST_P(SBMathGmp, AddAndSubtractEverySignAndSize) {
    OperandSource src(1);
    Records x;
    Mpz ma, mb, want;
    for (int32_t sa : kSizes) {
        for (int32_t sb : kSizes) {
            if (sa > 383 || sb > 383) continue;  // the sum of two full records would not fit
            for (int signs = 0; signs < 4; ++signs) {
                src.FillSigned(x.a.get(), sa, signs & 1);
                src.FillSigned(x.b.get(), sb, signs & 2);
                ma.Set(x.a.get());
                mb.Set(x.b.get());
                SCOPED_TRACE(testing::Message() << "sizes " << sa << "," << sb << " signs " << signs);

                mpz_add(want, ma, mb);
                AddBigNums(x.a.get(), x.b.get(), x.r.get());
                EXPECT_TRUE(Same(x.r.get(), want));
                mpz_sub(want, ma, mb);
                SubtractBigNums(x.a.get(), x.b.get(), x.r.get());
                EXPECT_TRUE(Same(x.r.get(), want));

                // The result may be either operand's record.
                CopyBigNum(x.s.get(), x.a.get());
                SubtractBigNums(x.s.get(), x.b.get(), x.s.get());
                EXPECT_TRUE(Same(x.s.get(), want));
                CopyBigNum(x.s.get(), x.b.get());
                SubtractBigNums(x.a.get(), x.s.get(), x.s.get());
                EXPECT_TRUE(Same(x.s.get(), want));
                CopyBigNum(x.s.get(), x.b.get());
                mpz_add(want, ma, mb);
                AddBigNums(x.a.get(), x.s.get(), x.s.get());
                EXPECT_TRUE(Same(x.s.get(), want));
            }
        }
    }
}

TEST_P(SBMathGmp, IncrementAndDecrement) {
    OperandSource src(2);
    Records x;
    Mpz want;
    for (int32_t size : {0, 1, 2, 5, 80}) {
        for (bool negative : {false, true}) {
            for (int kind = 0; kind < 3; ++kind) {
                src.FillSigned(x.a.get(), size, negative);
                if (kind == 1 && size > 0) {  // all ones: the increment carries out of the top
                    for (int32_t i = 0; i < size; ++i)
                        x.a->Limbs[i] = 0xFFFFFFFFu;
                }
                if (kind == 2 && size > 0) {  // a power of 2^32: the decrement borrows through
                    for (int32_t i = 0; i + 1 < size; ++i)
                        x.a->Limbs[i] = 0;
                    x.a->Limbs[size - 1] = 1;
                }
                Mpz ma(x.a.get());
                CopyBigNum(x.r.get(), x.a.get());
                IncrementBigNum(x.r.get());
                mpz_add_ui(want, ma, 1);
                EXPECT_TRUE(Same(x.r.get(), want)) << size << " " << negative << " " << kind;
                CopyBigNum(x.r.get(), x.a.get());
                DecrementBigNum(x.r.get());
                mpz_sub_ui(want, ma, 1);
                EXPECT_TRUE(Same(x.r.get(), want)) << size << " " << negative << " " << kind;
            }
        }
    }
}

TEST_P(SBMathGmp, MultiplyEverySignAndSize) {
    OperandSource src(3);
    Records x;
    Mpz ma, mb, want;
    for (int32_t sa : kSizes) {
        for (int32_t sb : kSizes) {
            if (sa + sb > BigNum::MaxLimbs) continue;
            for (int signs = 0; signs < 4; ++signs) {
                src.FillSigned(x.a.get(), sa, signs & 1);
                src.FillSigned(x.b.get(), sb, signs & 2);
                ma.Set(x.a.get());
                mb.Set(x.b.get());
                mpz_mul(want, ma, mb);
                MultiplyBigNums(x.a.get(), x.b.get(), x.r.get());
                EXPECT_TRUE(Same(x.r.get(), want)) << "sizes " << sa << "," << sb << " signs " << signs;
                EXPECT_TRUE(x.r->NonNegative == (mpz_sgn(want.get()) >= 0));
            }
        }
    }
    // The product may be written over an operand; a square of the full half record fits.
    src.Fill(x.a.get(), 384);
    ma.Set(x.a.get());
    mpz_mul(want, ma, ma);
    MultiplyBigNums(x.a.get(), x.a.get(), x.a.get());
    EXPECT_TRUE(Same(x.a.get(), want));
}

TEST_P(SBMathGmp, DivideTruncatesLikeGmp) {
    OperandSource src(4);
    Records x;
    Mpz ma, mb, wq, wr;
    for (int32_t sa : kSizes) {
        for (int32_t sb : kSizes) {
            if (sb == 0) continue;
            for (int signs = 0; signs < 4; ++signs) {
                src.FillSigned(x.a.get(), sa, signs & 1);
                src.FillSigned(x.b.get(), sb, signs & 2);
                ma.Set(x.a.get());
                mb.Set(x.b.get());
                mpz_tdiv_qr(wq, wr, ma, mb);
                DivideBigNums(x.a.get(), x.b.get(), x.r.get(), x.s.get());
                SCOPED_TRACE(testing::Message() << "sizes " << sa << "," << sb << " signs " << signs);
                EXPECT_TRUE(Same(x.r.get(), wq));
                EXPECT_TRUE(Same(x.s.get(), wr));
                // The quotient keeps the limbs the bit lengths promise.
                const int32_t gap = std::max<int32_t>(
                    0, int32_t(mpz_sizeinbase(ma, 2)) * (sa > 0) - int32_t(mpz_sizeinbase(mb, 2)));
                EXPECT_EQ(x.r->LimbCount, gap / 32 + 1);
            }
        }
    }
}

TEST_P(SBMathGmp, DivisionQuotientDigitCorrections) {
    // Divisors whose second word makes the first quotient estimate too large, the case Knuth's
    // add-back step exists for: top words equal to the dividend's, and 0x8000... patterns.
    Records x;
    Mpz ma, mb, wq, wr;
    const std::vector<std::vector<uint32_t>> dividends = {
        {0, 0, 0, 0, 0, 0, 0x80000000u, 0x7FFFFFFFu},
        {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu},
        {0, 0, 0, 0, 0, 0x80000000u},
        {1, 0, 0, 0, 0xFFFFFFFEu, 0xFFFFFFFFu, 0x7FFFFFFFu},
        // 2^192: against the divisor 2^191 + 2^64 - 1 below, the estimate from the top two
        // words is 2 while the quotient digit is 1, so the divisor must be added back.
        {0, 0, 0, 0, 0, 0, 1, 0},
    };
    const std::vector<std::vector<uint32_t>> divisors = {
        {0xFFFFFFFFu, 0xFFFFFFFFu, 0x00000001u, 0x80000000u},
        {1, 0, 0x80000000u},
        {0xFFFFFFFFu, 0x7FFFFFFFu},
        {0, 0, 1, 0x80000000u},
        {3},
        {0xFFFFFFFFu, 0xFFFFFFFFu, 0, 0, 0, 0x80000000u},
    };
    for (const auto& a : dividends) {
        for (const auto& d : divisors) {
            x.a->LimbCount = int32_t(a.size());
            std::copy(a.begin(), a.end(), x.a->Limbs);
            x.a->NonNegative = true;
            x.b->LimbCount = int32_t(d.size());
            std::copy(d.begin(), d.end(), x.b->Limbs);
            x.b->NonNegative = true;
            ma.Set(x.a.get());
            mb.Set(x.b.get());
            mpz_tdiv_qr(wq, wr, ma, mb);
            DivideBigNums(x.a.get(), x.b.get(), x.r.get(), x.s.get());
            EXPECT_TRUE(Same(x.r.get(), wq));
            EXPECT_TRUE(Same(x.s.get(), wr));
        }
    }
}

TEST_P(SBMathGmp, ReductionsGiveTheLeastNonNegativeResidue) {
    OperandSource src(5);
    Records x;
    Mpz ma, mm, want;
    for (int32_t sa : kSizes) {
        for (int32_t sm : kSizes) {
            if (sm == 0) continue;
            for (int signs = 0; signs < 4; ++signs) {
                src.FillSigned(x.a.get(), sa, signs & 1);
                src.FillSigned(x.b.get(), sm, signs & 2);
                ma.Set(x.a.get());
                mm.Set(x.b.get());
                mpz_mod(want, ma, mm);  // 0 <= want < |m|
                ReduceBigNumBySubtraction(x.a.get(), x.b.get(), x.r.get());
                EXPECT_TRUE(Same(x.r.get(), want)) << "sizes " << sa << "," << sm << " signs " << signs;
                ReduceBigNumByShifting(x.a.get(), x.b.get(), x.r.get());
                EXPECT_TRUE(Same(x.r.get(), want)) << "sizes " << sa << "," << sm << " signs " << signs;
            }
        }
    }
}

TEST_P(SBMathGmp, ShiftsAndWordOperations) {
    OperandSource src(6);
    Records x;
    Mpz ma, want;
    for (int32_t size : {0, 1, 2, 3, 33, 200}) {
        for (int32_t shift : {0, 1, 5, 31, 32, 33, 64, 100, 1000}) {
            src.FillSigned(x.a.get(), size, size % 2);
            ma.Set(x.a.get());
            mpz_abs(ma, ma);
            SCOPED_TRACE(testing::Message() << "size " << size << " shift " << shift);
            // Magnitude operations: compare magnitudes.
            ShiftBigNumLeft(x.a.get(), x.r.get(), shift);
            x.r->NonNegative = true;
            mpz_mul_2exp(want, ma, shift);
            EXPECT_TRUE(Same(x.r.get(), want));
            ShiftBigNumRight(x.a.get(), x.r.get(), shift);
            x.r->NonNegative = true;
            mpz_tdiv_q_2exp(want, ma, shift);
            EXPECT_TRUE(Same(x.r.get(), want));
        }
        for (uint32_t w : {0u, 1u, 2u, 0x10001u, 0xFFFFFFFFu}) {
            src.Fill(x.a.get(), size);
            ma.Set(x.a.get());
            AddWordToBigNum(x.a.get(), w, x.r.get());
            mpz_add_ui(want, ma, w);
            EXPECT_TRUE(Same(x.r.get(), want));
            MultiplyBigNumByWord(x.a.get(), w, x.r.get());
            mpz_mul_ui(want, ma, w);
            EXPECT_TRUE(Same(x.r.get(), want));
            if (mpz_cmp_ui(ma.get(), w) >= 0) {
                SubtractWordFromBigNum(x.a.get(), w, x.r.get());
                mpz_sub_ui(want, ma, w);
                EXPECT_TRUE(Same(x.r.get(), want));
            }
            if (w != 0) {
                uint32_t r = 0;
                RemainderBigNumByWord(x.a.get(), w, r);
                EXPECT_EQ(r, mpz_fdiv_ui(ma, w));
            }
        }
        // One-bit shifts in place.
        src.Fill(x.a.get(), size);
        ma.Set(x.a.get());
        ShiftBigNumLeftOneBit(x.a.get());
        mpz_mul_2exp(want, ma, 1);
        EXPECT_TRUE(Same(x.a.get(), want));
        ShiftBigNumRightOneBit(x.a.get());
        ShiftBigNumRightOneBit(x.a.get());
        mpz_tdiv_q_2exp(want, ma, 1);
        EXPECT_TRUE(Same(x.a.get(), want));
    }
}

TEST_P(SBMathGmp, ComparisonsBitsAndText) {
    OperandSource src(7);
    Records x;
    Mpz ma, mb;
    for (int32_t sa : kSizes) {
        for (int32_t sb : {0, 1, 2, 80}) {
            for (int signs = 0; signs < 4; ++signs) {
                src.FillSigned(x.a.get(), sa, signs & 1);
                if (sb == sa && signs == 0) {
                    CopyBigNum(x.b.get(), x.a.get());
                } else {
                    src.FillSigned(x.b.get(), sb, signs & 2);
                }
                ma.Set(x.a.get());
                mb.Set(x.b.get());
                EXPECT_EQ(IsBigNumGreater(x.a.get(), x.b.get()), mpz_cmpabs(ma, mb) > 0);
                EXPECT_EQ(AreBigNumsEqual(x.a.get(), x.b.get()), mpz_cmp(ma, mb) == 0);
            }
            EXPECT_EQ(CountBigNumBits(x.a.get()), sa == 0 ? 0 : int32_t(mpz_sizeinbase(ma, 2)));
            for (int32_t pos : {1, 2, 32, 33, 64, 65, 100, 5000}) {
                Mpz abs;
                mpz_abs(abs, ma);
                EXPECT_EQ(GetBigNumBit(x.a.get(), pos), mpz_tstbit(abs, pos - 1));
            }
            // Text: our digits (upper case, eight per limb) name GMP's value.
            std::string text = FormatBigNumHex(x.a.get());
            std::string gmp = ma.Hex();
            const bool negative = !text.empty() && text[0] == '-';
            std::string digits = text.substr(negative ? 1 : 0);
            EXPECT_EQ(digits.size(), 8 * size_t(x.a->LimbCount));
            digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
            std::transform(digits.begin(), digits.end(), digits.begin(),
                           [](unsigned char c) { return char(std::tolower(c)); });
            EXPECT_EQ((negative ? "-" : "") + digits, gmp);
            ParseBigNumHex(x.r.get(), text);
            EXPECT_TRUE(Same(x.r.get(), ma));
            ParseBigNumHex(x.r.get(), gmp);
            EXPECT_TRUE(Same(x.r.get(), ma));
        }
    }
}

TEST_P(SBMathGmp, BytesMatchGmpExport) {
    OperandSource src(8);
    Records x;
    for (int32_t size : kSizes) {
        for (int round = 0; round < 4; ++round) {
            src.Fill(x.a.get(), size);
            Mpz ma(x.a.get());
            std::vector<uint8_t> want((mpz_sizeinbase(ma, 2) + 7) / 8 + 1);
            size_t n = 0;
            mpz_export(want.data(), &n, 1, 1, 1, 0, ma);
            want.resize(n);

            std::vector<uint8_t> got(4 * 768);
            int32_t len = int32_t(got.size());
            SaveBigNumToTrimmedBytes(x.a.get(), got.data(), len);
            got.resize(size_t(len));
            EXPECT_EQ(got, want) << "size " << size;

            // Word form: the same bytes left-padded to whole limbs.
            std::vector<uint8_t> words(4 * 768);
            len = int32_t(words.size());
            SaveBigNumToBytes(x.a.get(), words.data(), len);
            EXPECT_EQ(len, 4 * x.a->LimbCount);
            std::vector<uint8_t> padded(size_t(len) - want.size(), 0);
            padded.insert(padded.end(), want.begin(), want.end());
            words.resize(size_t(len));
            EXPECT_EQ(words, padded);

            // And back, with extra leading zero bytes that do not count against the capacity.
            std::vector<uint8_t> in(9, 0);
            in.insert(in.end(), want.begin(), want.end());
            LoadBigNumFromBytes(x.r.get(), in.data(), int32_t(in.size()));
            x.r->NonNegative = true;
            EXPECT_TRUE(Same(x.r.get(), ma));
        }
    }
}

TEST_P(SBMathGmp, ModularExponentiationMatchesPowm) {
    OperandSource src(9);
    Records x;
    BigNumPtr e = MakeBigNum();
    Mpz mb, me, mm, want;
    struct Case {
        int32_t modLimbs, expLimbs;
        bool odd;
    };
    // Short exponents take the square-and-multiply path, long ones the fixed-window ladder (4-
    // and 5-bit windows); odd moduli run in Montgomery form, even ones by division.
    const Case cases[] = {{1, 1, true},    {1, 2, true},   {1, 3, true},   {2, 1, true},   {2, 2, true},
                          {3, 5, true},    {16, 1, true},  {16, 16, true}, {17, 17, true}, {32, 32, true},
                          {33, 3, true},   {64, 64, true}, {80, 80, true}, {81, 81, true}, {97, 4, true},
                          {160, 8, true},  {383, 2, true}, {1, 1, false},  {2, 3, false},  {16, 16, false},
                          {33, 33, false}, {64, 3, false}};
    for (const Case& c : cases) {
        // Bit 0 of signs: a negative base (one limb longer than the modulus); bit 1: a negative
        // modulus, whose sign both sides ignore.
        for (int signs = 0; signs < 4; ++signs) {
            src.Fill(x.b.get(), c.modLimbs);
            x.b->NonNegative = (signs & 2) == 0;
            if (c.odd) {
                x.b->Limbs[0] |= 1;
            } else {
                x.b->Limbs[0] &= ~1u;
                if (c.modLimbs == 1 && x.b->Limbs[0] == 0) x.b->Limbs[0] = 2;
            }
            src.FillSigned(x.a.get(), c.modLimbs + (signs & 1), signs & 1);
            src.Fill(e.get(), c.expLimbs);
            mb.Set(x.a.get());
            me.Set(e.get());
            mm.Set(x.b.get());
            mpz_powm(want, mb, me, mm);
            SCOPED_TRACE(testing::Message()
                         << "modulus limbs " << c.modLimbs << " exponent limbs " << c.expLimbs
                         << (c.odd ? " odd" : " even") << " signs " << signs);
            ASSERT_TRUE(ExponentiateBigNumMontgomery(x.a.get(), e.get(), x.b.get(), x.r.get()));
            EXPECT_TRUE(Same(x.r.get(), want));
            ExponentiateBigNumRecursive(x.a.get(), e.get(), x.b.get(), x.s.get());
            EXPECT_TRUE(Same(x.s.get(), want));
        }
    }
    // Exponent 0 gives 1 (0 modulo 1); the result may be the base's record.
    for (uint32_t m : {1u, 7u, 8u}) {
        x.b->LimbCount = 1;
        x.b->Limbs[0] = m;
        SetBigNumZero(e.get());
        src.Fill(x.a.get(), 3);
        mb.Set(x.a.get());
        mm.Set(x.b.get());
        mpz_set_ui(me, 0);
        mpz_powm(want, mb, me, mm);
        ExponentiateBigNumMontgomery(x.a.get(), e.get(), x.b.get(), x.a.get());
        EXPECT_TRUE(Same(x.a.get(), want)) << m;
    }
}

TEST_P(SBMathGmp, LongExponentsCostTheSameWhateverTheirBits) {
    // A private exponent must not show in the work done: for exponents of one bit length the
    // ladder does the same number of products and squarings, whatever the bits.
    using sbmath::Word;
    OperandSource src(14);
    for (size_t words : {size_t(2), size_t(8), size_t(16)}) {  // 128, 512 and 1024 bits: 4- and 5-bit windows
        std::vector<Word> m(words), base(words), r(words);
        for (auto& w : m)
            w = uint64_t(src.Word()) << 32 | src.Word();
        m[0] |= 1;
        m[words - 1] |= Word(1) << 63;
        for (auto& w : base)
            w = uint64_t(src.Word()) << 32 | src.Word();
        std::vector<std::vector<Word>> exponents(4, std::vector<Word>(words, 0));
        for (auto& w : exponents[0])
            w = ~Word(0);                         // all ones
        exponents[1][words - 1] = Word(1) << 63;  // a single bit
        for (auto& w : exponents[2])
            w = uint64_t(src.Word()) << 32 | src.Word();
        exponents[2][words - 1] |= Word(1) << 63;
        for (size_t i = 0; i < words; ++i)
            exponents[3][i] = i % 2 ? 0 : ~Word(0);
        exponents[3][words - 1] |= Word(1) << 63;
        std::vector<size_t> work;
        for (const auto& e : exponents) {
            sbmath::MontContext ctx(m.data(), words);
            ASSERT_TRUE(sbmath::MontExp(ctx, r.data(), base.data(), e.data(), words, [] { return true; }));
            work.push_back(ctx.Operations());
            Mpz mm, mb, me, want, got;
            mpz_import(mm, words, -1, sizeof(Word), 0, 0, m.data());
            mpz_import(mb, words, -1, sizeof(Word), 0, 0, base.data());
            mpz_import(me, words, -1, sizeof(Word), 0, 0, e.data());
            mpz_import(got, words, -1, sizeof(Word), 0, 0, r.data());
            mpz_powm(want, mb, me, mm);
            EXPECT_EQ(mpz_cmp(got, want), 0) << words;
        }
        for (size_t w : work)
            EXPECT_EQ(w, work[0]) << words << " words";
    }
}

// The base of a private-key operation is reduced by the secret prime in Montgomery form: the
// exact residue for bases shorter and longer than the modulus, and the same work for every
// base of one length, whatever its value.
TEST_P(SBMathGmp, MontgomeryReductionOfTheBase) {
    using sbmath::Word;
    OperandSource src(16);
    auto random = [&] { return uint64_t(src.Word()) << 32 | src.Word(); };
    for (size_t n : {size_t(1), size_t(2), size_t(3), size_t(8), size_t(16), size_t(41)}) {
        std::vector<Word> m(n);
        for (auto& w : m)
            w = random();
        m[0] |= 1;
        if (m[n - 1] == 0) m[n - 1] = 1;
        Mpz mm;
        mpz_import(mm, n, -1, sizeof(Word), 0, 0, m.data());
        for (size_t an : {size_t(0), size_t(1), n - 1, n, n + 1, 2 * n, 2 * n + 1, 3 * n}) {
            std::vector<size_t> work;
            for (int kind = 0; kind < 4; ++kind) {
                std::vector<Word> a(an);
                for (auto& w : a)
                    w = kind == 0 ? random() : (kind == 1 ? ~Word(0) : 0);
                if (kind == 3 && an >= n) std::copy(m.begin(), m.end(), a.end() - ptrdiff_t(n));  // m R^k
                sbmath::MontContext ctx(m.data(), n);
                std::vector<Word> r(n);
                const size_t before = ctx.Operations();
                ctx.Reduce(r.data(), a.data(), an);
                work.push_back(ctx.Operations() - before);
                Mpz ma, want, got;
                mpz_import(ma, an, -1, sizeof(Word), 0, 0, a.data());
                mpz_mod(want, ma, mm);
                mpz_import(got, n, -1, sizeof(Word), 0, 0, r.data());
                EXPECT_EQ(mpz_cmp(got, want), 0)
                    << n << " word modulus, " << an << " word base, kind " << kind;
            }
            for (size_t w : work)
                EXPECT_EQ(w, work[0]) << n << " word modulus, " << an << " word base";
        }
    }
}

TEST_P(SBMathGmp, GcdAndInverse) {
    OperandSource src(10);
    Records x;
    BigNumPtr g = MakeBigNum(), inv = MakeBigNum();
    Mpz ma, mm, wg, winv, check;
    int inverses = 0;
    for (int32_t sa : {1, 2, 3, 16, 32, 64, 100}) {
        for (int32_t sm : {1, 2, 3, 16, 32, 64, 100}) {
            for (int signs = 0; signs < 4; ++signs) {
                for (int kind = 0; kind < 3; ++kind) {
                    src.FillSigned(x.a.get(), sa, signs & 1);
                    src.FillSigned(x.b.get(), sm, signs & 2);
                    if (kind == 1) x.b->Limbs[0] |= 1;                          // odd modulus
                    if (kind == 2) x.a->Limbs[0] &= ~1u, x.b->Limbs[0] &= ~1u;  // a common factor
                    if (IsBigNumZero(x.a.get()) || IsBigNumZero(x.b.get())) continue;
                    ma.Set(x.a.get());
                    mm.Set(x.b.get());
                    ComputeBigNumGCDAndInverse(x.a.get(), x.b.get(), g.get(), inv.get());
                    SCOPED_TRACE(testing::Message() << "sizes " << sa << "," << sm << " signs " << signs);
                    mpz_gcd(wg, ma, mm);
                    EXPECT_TRUE(Same(g.get(), wg));
                    // Inverse lies in 0 .. |M| - 1 and A x Inverse = GCD (mod M).
                    Mpz mi(inv.get());
                    Mpz absm;
                    mpz_abs(absm, mm);
                    EXPECT_GE(mpz_sgn(mi.get()), 0);
                    EXPECT_LT(mpz_cmp(mi, absm), 0);
                    mpz_mul(check, ma, mi);
                    mpz_sub(check, check, wg);
                    EXPECT_TRUE(mpz_divisible_p(check, mm));
                    if (mpz_cmp_ui(wg.get(), 1) == 0 && mpz_cmpabs_ui(mm, 1) != 0) {
                        ASSERT_NE(mpz_invert(winv, ma, mm), 0);
                        EXPECT_TRUE(Same(inv.get(), winv));
                        ++inverses;
                    }
                }
            }
        }
    }
    EXPECT_GT(inverses, 50);  // the table must reach the invertible case often

    // Consecutive Fibonacci numbers: every quotient is 1, the longest remainder sequence; and
    // a tiny number against a huge modulus: one quotient of thousands of bits.
    struct Pair {
        unsigned fib;
        const char* small;
    };
    for (const Pair p :
         {Pair{3000, nullptr}, Pair{17000, nullptr}, Pair{0, "3"}, Pair{0, "-FFFFFFFFFFFFFFFF1"}}) {
        if (p.small == nullptr) {
            mpz_fib2_ui(mm, ma, p.fib);  // F(n) and F(n-1)
        } else {
            mpz_set_str(ma, p.small, 16);
            mpz_ui_pow_ui(mm, 2, 12000);
            mpz_add_ui(mm, mm, 1);
        }
        kwtest::SetBigNum(x.a.get(), ma);
        kwtest::SetBigNum(x.b.get(), mm);
        ComputeBigNumGCDAndInverse(x.a.get(), x.b.get(), g.get(), inv.get());
        mpz_gcd(wg, ma, mm);
        EXPECT_TRUE(Same(g.get(), wg)) << p.fib;
        ASSERT_NE(mpz_invert(winv, ma, mm), 0);
        EXPECT_TRUE(Same(inv.get(), winv)) << p.fib;
    }
}

// Lehmer's method takes several Euclid steps from the leading 64 bits of the pair at once, and
// only steps certain to be those of the full numbers. Pairs built from a chosen quotient
// sequence put it at its edges: runs of quotient 1 (cofactors grow fastest), quotients that
// fill a word or more (the cofactor ceiling, the full-division fallback), leading windows that
// are equal or one apart, and a second number below the first one's leading window.
TEST_P(SBMathGmp, GcdStepsAtTheEdgesOfTheLeadingWords) {
    OperandSource src(12);
    Records x;
    BigNumPtr g = MakeBigNum(), inv = MakeBigNum();
    Mpz ma, mm, wg, winv, next, q;
    auto check = [&](const char* what) {
        SCOPED_TRACE(what);
        kwtest::SetBigNum(x.a.get(), ma);
        kwtest::SetBigNum(x.b.get(), mm);
        ComputeBigNumGCDAndInverse(x.a.get(), x.b.get(), g.get(), inv.get());
        mpz_gcd(wg, ma, mm);
        ASSERT_TRUE(Same(g.get(), wg)) << "a " << Mpz(x.a.get()).Hex() << "\nm " << Mpz(x.b.get()).Hex();
        if (mpz_invert(winv, ma, mm) != 0) {
            ASSERT_TRUE(Same(inv.get(), winv))
                << "a " << Mpz(x.a.get()).Hex() << "\nm " << Mpz(x.b.get()).Hex();
        }
    };
    // Quotient sequences, last quotient first: (m, a) := (q m + a, m) from (g, 0) upwards.
    const char* kinds[] = {"ones", "word-sized", "mixed", "small"};
    for (int kind = 0; kind < 4; ++kind) {
        for (int round = 0; round < 40; ++round) {
            mpz_set_ui(mm, 1 + src.Below(3));  // the GCD
            mpz_set_ui(ma, 0);
            while (mpz_sizeinbase(mm, 2) < 2048) {
                switch (kind) {
                    case 0:
                        mpz_set_ui(q, 1);
                        break;
                    case 1:  // 2^61 .. 2^66 around the cofactor ceiling and the word
                        mpz_set_ui(q, src.Word());
                        mpz_mul_2exp(q, q, 30 + src.Below(5));
                        mpz_add_ui(q, q, src.Word());
                        break;
                    case 2:
                        mpz_set_ui(q, src.Below(4) == 0 ? src.Word() + (uint64_t(src.Word()) << 32)
                                                        : 1 + src.Below(3));
                        break;
                    default:
                        mpz_set_ui(q, 1 + src.Below(1000));
                        break;
                }
                mpz_mul(next, q, mm);
                mpz_add(next, next, ma);
                mpz_set(ma, mm);
                mpz_set(mm, next);
            }
            check(kinds[kind]);
        }
    }
    // Equal leading windows, one apart, and a second number below the first one's window.
    for (int round = 0; round < 200; ++round) {
        src.Fill(x.b.get(), 64);
        x.b->Limbs[63] |= 0x80000000u;
        mm.Set(x.b.get());
        mpz_set_ui(q, src.Word());
        mpz_mul_2exp(q, q, size_t(src.Below(1900)));
        mpz_add_ui(q, q, 1);
        switch (round % 3) {
            case 0:
                mpz_sub(ma, mm, q);  // shares the top bits with m
                break;
            case 1:
                mpz_set(ma, mm);
                mpz_tdiv_q_2exp(ma, ma, 64 + size_t(src.Below(1900)));
                mpz_add(ma, ma, q);  // far below m's leading window
                break;
            default:
                mpz_tdiv_q_2exp(ma, mm, 1);
                mpz_sub(ma, ma, q);  // a leading quotient of 2 in the window
                break;
        }
        if (mpz_sgn(ma.get()) <= 0) mpz_set_ui(ma, 7);
        check("windows");
    }
}

TEST_P(SBMathGmp, SingleMontgomeryProduct) {
    OperandSource src(11);
    Records x;
    Mpz ma, mb, mm, rinv, want;
    for (int32_t n : {1, 2, 3, 8, 33, 100}) {
        for (int round = 0; round < 4; ++round) {
            src.Fill(x.s.get(), n);  // the modulus
            x.s->Limbs[0] |= 1;
            mm.Set(x.s.get());
            src.Fill(x.a.get(), n);
            src.Fill(x.b.get(), n);
            ReduceBigNumBySubtraction(x.a.get(), x.s.get(), x.a.get());
            ReduceBigNumBySubtraction(x.b.get(), x.s.get(), x.b.get());
            ma.Set(x.a.get());
            mb.Set(x.b.get());
            // m' = -(m^-1) mod 2^32
            uint32_t inv = x.s->Limbs[0];
            for (int i = 0; i < 5; ++i)
                inv *= 2 - x.s->Limbs[0] * inv;
            const uint32_t mprime = 0u - inv;
            MultiplyBigNumsMontgomery(x.a.get(), x.b.get(), x.s.get(), n, mprime, x.r.get());
            EXPECT_EQ(x.r->LimbCount, n);
            mpz_set_ui(rinv, 1);
            mpz_mul_2exp(rinv, rinv, 32 * n);
            ASSERT_NE(mpz_invert(rinv, rinv, mm), 0);
            mpz_mul(want, ma, mb);
            mpz_mul(want, want, rinv);
            mpz_mod(want, want, mm);
            EXPECT_TRUE(Same(x.r.get(), want)) << "limbs " << n;
        }
    }
}

TEST_P(SBMathGmp, ProbablePrimeAgreesWithGmp) {
    OperandSource src(12);
    BigNumPtr n = MakeBigNum();
    Mpz mn;
    int primes = 0;
    for (int32_t size : {1, 2, 3, 8, 16}) {
        for (int round = 0; round < 60; ++round) {
            src.Fill(n.get(), size);
            n->Limbs[0] |= 1;
            mn.Set(n.get());
            // Steps to the next prime half of the time, so both answers are exercised.
            if (round % 2 == 0) {
                mpz_nextprime(mn, mn);
                kwtest::SetBigNum(n.get(), mn);
                if (n->LimbCount > size) continue;
            }
            const bool gmp = mpz_probab_prime_p(mn, 30) != 0;
            EXPECT_EQ(IsBigNumProbablePrime(n.get()), gmp) << mn.Hex();
            primes += gmp;
        }
    }
    EXPECT_GT(primes, 100);
    // Carmichael numbers pass the Fermat test for every coprime base; Chernick's form
    // (6k+1)(12k+1)(18k+1) with three prime factors gives them with factors beyond the table.
    int carmichaels = 0;
    for (uint64_t start : {uint64_t(700), uint64_t(1) << 30, uint64_t(1) << 50}) {
        Mpz f1, f2, f3, prod;
        for (uint64_t k = start; carmichaels < 12; ++k) {
            mpz_set_ui(f1, 6 * k + 1);
            mpz_set_ui(f2, 12 * k + 1);
            mpz_set_ui(f3, 18 * k + 1);
            if (!mpz_probab_prime_p(f1, 30) || !mpz_probab_prime_p(f2, 30) || !mpz_probab_prime_p(f3, 30))
                continue;
            mpz_mul(prod, f1, f2);
            mpz_mul(prod, prod, f3);
            kwtest::SetBigNum(n.get(), prod);
            EXPECT_FALSE(IsBigNumProbablePrime(n.get())) << prod.Hex();
            if (++carmichaels % 4 == 0) break;
        }
    }
}

TEST_P(SBMathGmp, KaratsubaAgreesWithSchoolbook) {
    OperandSource src(13);
    using sbmath::Word;
    for (size_t an : {size_t(40), size_t(41), size_t(63), size_t(80), size_t(81), size_t(127), size_t(200),
                      size_t(384)}) {
        for (size_t bn : {size_t(40), size_t(57), an}) {
            if (bn > an) continue;
            for (int kind = 0; kind < 3; ++kind) {
                std::vector<Word> a(an), b(bn), r1(an + bn), r2(an + bn);
                for (auto& w : a)
                    w = kind == 1 ? ~Word(0) : (uint64_t(src.Word()) << 32 | src.Word());
                for (auto& w : b)
                    w = kind == 1 ? ~Word(0)
                                  : (kind == 2 ? Word(src.Below(2)) << 63
                                               : (uint64_t(src.Word()) << 32 | src.Word()));
                sbmath::Mul(r1.data(), a.data(), an, b.data(), bn);
                sbmath::MulBasecase(r2.data(), a.data(), an, b.data(), bn);
                EXPECT_EQ(r1, r2) << an << "x" << bn << " kind " << kind;
                std::vector<Word> s1(2 * an), s2(2 * an);
                sbmath::Sqr(s1.data(), a.data(), an);
                sbmath::SqrBasecase(s2.data(), a.data(), an);
                EXPECT_EQ(s1, s2) << an << " squared, kind " << kind;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, SBMathGmp, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Fast" : "Portable";
                         });

// The fast multiply-accumulate rows are used exactly when the processor has MULX (BMI2) and
// ADCX/ADOX (ADX): never on one that lacks them.
TEST(SBMathKernel, FastRowsChosenOnlyWhereTheProcessorHasThem) {
    KW_REQUIRE_PEER(std::filesystem::exists("/proc/cpuinfo"), "/proc/cpuinfo");
    const auto flags = kwtest::CpuFlags();
    if (!flags) GTEST_SKIP() << "/proc/cpuinfo lists no x86 flags on this machine";
    const bool has = flags->count("bmi2") != 0 && flags->count("adx") != 0;
    sbmath::SetFastPathsEnabled(true);
    EXPECT_EQ(sbmath::FastPathsActive(), has);
    sbmath::SetFastPathsEnabled(false);
    EXPECT_FALSE(sbmath::FastPathsActive());
    sbmath::SetFastPathsEnabled(true);
}

// The fast row and the portable row on the same inputs: every length around the fast row's
// four-word blocks, and words that keep both carry chains busy (all ones everywhere gives the
// largest carry the row can produce).
TEST(SBMathKernel, FastAndPortableRowsAgree) {
    using sbmath::Word;
    sbmath::SetFastPathsEnabled(true);
    if (!sbmath::FastPathsActive()) GTEST_SKIP() << "this processor has no MULX/ADX rows";
    OperandSource src(15);
    const Word ones = ~Word(0);
    auto random = [&] { return uint64_t(src.Word()) << 32 | src.Word(); };
    enum Kind { Random, AllOnes, OnesTimesRandom, TopBits, Alternating, Count };
    for (size_t n = 0; n <= 21; ++n) {
        for (int kind = 0; kind < Count; ++kind) {
            for (int trial = 0; trial < 4; ++trial) {
                std::vector<Word> a(n), r(n);
                for (size_t i = 0; i < n; ++i) {
                    switch (kind) {
                        case AllOnes:
                            a[i] = r[i] = ones;
                            break;
                        case OnesTimesRandom:
                            a[i] = ones;
                            r[i] = random();
                            break;
                        case TopBits:
                            a[i] = Word(1) << 63;
                            r[i] = ones << 63 | (i % 2);
                            break;
                        case Alternating:
                            a[i] = i % 2 ? ones : 0;
                            r[i] = i % 2 ? 0 : ones;
                            break;
                        default:
                            a[i] = random();
                            r[i] = random();
                    }
                }
                Word b = kind == AllOnes || kind == OnesTimesRandom || kind == Alternating ? ones : random();
                if (kind == TopBits) b = Word(1) << 63 | 1;
                std::vector<Word> fast = r, portable = r;
                const Word cf = sbmath::AddMul1Fast(fast.data(), a.data(), n, b);
                const Word cp = sbmath::AddMul1Portable(portable.data(), a.data(), n, b);
                EXPECT_EQ(fast, portable) << n << " words, kind " << kind;
                EXPECT_EQ(cf, cp) << n << " words, kind " << kind;
                // And both are the true value: r + a * b, checked with GMP.
                Mpz mr, ma, mb, want, got;
                mpz_import(mr, n, -1, sizeof(Word), 0, 0, r.data());
                mpz_import(ma, n, -1, sizeof(Word), 0, 0, a.data());
                mpz_import(mb, 1, -1, sizeof(Word), 0, 0, &b);
                mpz_mul(want, ma, mb);
                mpz_add(want, want, mr);
                std::vector<Word> whole = portable;
                whole.push_back(cp);
                mpz_import(got, n + 1, -1, sizeof(Word), 0, 0, whole.data());
                EXPECT_EQ(mpz_cmp(got, want), 0) << n << " words, kind " << kind;
                if (kind == AllOnes) break;  // one trial says it all
            }
        }
    }
}
