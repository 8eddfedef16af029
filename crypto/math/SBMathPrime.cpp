// crypto/math/SBMathPrime.cpp: the probable-prime test (trial division, then Miller-Rabin) and
// the two prime generators of SBMath (sieve by incremental residues, then Fermat or
// Miller-Rabin tests).
//
// What must stay true:
// - candidates and Miller-Rabin bases come from the operating system's random source;
// - a number that is one of the table primes is prime (trial division only rejects proper
//   multiples);
// - a generator returns a number of exactly the size asked for: a candidate stepped past that
//   size is dropped and a fresh one drawn;
// - the exponentiations run on the constant-time path (the exponents are as long as the
//   secret candidate).
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "crypto/math/SBMath.h"
#include "crypto/math/SBMathKernel.h"
#include "rtl/Bytes.h"

using sbmath::kMaxWords;
using sbmath::Word;

namespace {

const char kCanceled[] = "Mathematical operation canceled";

// The first 2048 primes, 2 .. 17863, made at compile time by a sieve of Eratosthenes.
constexpr size_t kPrimeCount = 2048;
constexpr uint32_t kSieveLimit = 17864;
constexpr std::array<uint16_t, kPrimeCount> MakeSmallPrimes() {
    std::array<bool, kSieveLimit> composite{};
    std::array<uint16_t, kPrimeCount> p{};
    size_t k = 0;
    for (uint32_t n = 2; n < kSieveLimit && k < kPrimeCount; ++n) {
        if (composite[n]) continue;
        p[k++] = uint16_t(n);
        for (uint32_t m = n * n; m < kSieveLimit; m += n)
            composite[m] = true;
    }
    return p;
}
constexpr std::array<uint16_t, kPrimeCount> kSmallPrimes = MakeSmallPrimes();
static_assert(kSmallPrimes[511] == 3671 && kSmallPrimes[300] == 1993 && kSmallPrimes[2047] == 17863);

// How many table primes each user takes: the test from 2, the generators from 3.
constexpr size_t kTestPrimes = 512;
constexpr size_t kLimbGeneratorPrimes = 300;
constexpr size_t kBitGeneratorPrimes = 2047;

constexpr uint32_t kFermatBases[] = {2, 3, 5, 7, 11};
constexpr int kTestRounds = 8;
constexpr int kGeneratorRounds = 5;
constexpr int kStepsPerCandidate = 10000;

enum class Round { Pass, Fail, Canceled };

bool IsTablePrime(uint32_t v) {
    return std::binary_search(kSmallPrimes.begin(), kSmallPrimes.end(), v);
}

// The value of A when it has at most one limb, else 0xFFFFFFFF... beyond the table.
uint64_t SmallValue(const BigNum* A) {
    const int32_t c = sbmath::SignificantLimbs(A);
    if (c == 0) return 0;
    if (c == 1) return A->Limbs[0];
    return ~uint64_t(0);
}

uint32_t Residue(const BigNum* A, uint32_t p) {
    uint64_t rem = 0;
    for (int32_t i = sbmath::LimbCountOf(A); i-- > 0;)
        rem = ((rem << 32) | A->Limbs[i]) % p;
    return uint32_t(rem);
}

// Miller-Rabin over one odd N > 3, sharing its Montgomery context between rounds.
class MillerRabin {
public:
    explicit MillerRabin(const BigNum* N) {
        n_ = sbmath::ToWords(N, m_.data(), kMaxWords);
        ctx_ = std::make_unique<sbmath::MontContext>(m_.data(), n_);
        // N - 1 = 2^s d with d odd.
        sbmath::Sub1(nm1_.data(), m_.data(), n_, 1);
        std::memcpy(d_.data(), nm1_.data(), n_ * sizeof(Word));
        while ((d_[s_ / 64] >> (s_ % 64) & 1) == 0)
            ++s_;
        ShiftRight(d_.data(), n_, s_);
        ctx_->ToMont(minusOne_.data(), nm1_.data());
    }
    ~MillerRabin() {
        rtl::secure_wipe(m_.data(), sizeof(m_));
        rtl::secure_wipe(nm1_.data(), sizeof(nm1_));
        rtl::secure_wipe(d_.data(), sizeof(d_));
        rtl::secure_wipe(minusOne_.data(), sizeof(minusOne_));
    }

    // One round with a base drawn uniformly from 2 .. N - 2.
    Round Run(const sbmath::Poll& poll) {
        std::array<Word, kMaxWords> b{}, y{};
        DrawBase(b.data());
        Round result = Round::Fail;
        if (!sbmath::MontExp(*ctx_, y.data(), b.data(), d_.data(), n_, poll)) {
            result = Round::Canceled;
        } else if (IsOne(y.data()) || sbmath::Cmp(y.data(), nm1_.data(), n_) == 0) {
            result = Round::Pass;
        } else {
            ctx_->ToMont(y.data(), y.data());
            for (size_t j = 1; j < s_; ++j) {
                ctx_->Sqr(y.data(), y.data());
                if (sbmath::Cmp(y.data(), minusOne_.data(), n_) == 0) {
                    result = Round::Pass;
                    break;
                }
            }
        }
        rtl::secure_wipe(b.data(), sizeof(b));
        rtl::secure_wipe(y.data(), sizeof(y));
        return result;
    }

private:
    static void ShiftRight(Word* a, size_t n, size_t bits) {
        const size_t words = bits / 64;
        const unsigned sh = unsigned(bits % 64);
        for (size_t i = 0; i < n; ++i) {
            const Word lo = i + words < n ? a[i + words] : 0;
            const Word hi = (sh && i + words + 1 < n) ? a[i + words + 1] << (64 - sh) : 0;
            a[i] = (lo >> sh) | hi;
        }
    }

    bool IsOne(const Word* y) const { return y[0] == 1 && sbmath::Normalized(y + 1, n_ - 1) == 0; }

    // b := 2 + (random mod (N - 3)), from 64 bits more than N so the bias is negligible.
    void DrawBase(Word* b) {
        std::array<Word, kMaxWords + 1> r{}, nm3{};
        sbmath::RandomBytes(r.data(), (n_ + 1) * sizeof(Word));
        sbmath::Sub1(nm3.data(), m_.data(), n_, 3);
        const size_t mn = sbmath::Normalized(nm3.data(), n_);
        sbmath::DivRem(nullptr, b, r.data(), n_ + 1, nm3.data(), mn);
        std::fill(b + mn, b + n_, Word(0));
        sbmath::Add1(b, b, n_, 2);
        rtl::secure_wipe(r.data(), sizeof(r));
    }

    std::array<Word, kMaxWords> m_{}, nm1_{}, d_{}, minusOne_{};
    size_t n_ = 0;
    size_t s_ = 0;
    std::unique_ptr<sbmath::MontContext> ctx_;
};

sbmath::Poll PollOf(const MathProgressCallback& Callback, void* Data) {
    return [&Callback, Data] { return !IsMathOperationCanceled(Data, Callback); };
}

// Answers for N that Miller-Rabin cannot take (N < 5 or even); false when it must run.
bool TrivialPrimality(const BigNum* N, bool& isPrime) {
    if (!N->NonNegative && !IsBigNumZero(N)) {
        isPrime = false;
        return true;
    }
    const uint64_t v = SmallValue(N);
    if (v < 5 || IsBigNumEven(N)) {
        isPrime = v == 2 || v == 3;
        return true;
    }
    return false;
}

// P := P + 2 in place; false when the carry leaves the limbs P had.
bool StepByTwo(BigNum* P) {
    uint64_t carry = 2;
    for (int32_t i = 0; i < P->LimbCount && carry; ++i) {
        const uint64_t s = uint64_t(P->Limbs[i]) + carry;
        P->Limbs[i] = uint32_t(s);
        carry = s >> 32;
    }
    return carry == 0;
}

}  // namespace

bool RunMillerRabinRound(const BigNum* N, const MathProgressCallback& Callback, void* CallbackData,
                         bool RaiseOnCancel) {
    bool trivial = false;
    if (TrivialPrimality(N, trivial)) return trivial;
    MillerRabin mr(N);
    const Round r = mr.Run(PollOf(Callback, CallbackData));
    if (r == Round::Canceled && RaiseOnCancel) throw EElMathException(kCanceled);
    return r == Round::Pass;
}

bool IsBigNumProbablePrime(const BigNum* N, const MathProgressCallback& Callback, void* CallbackData,
                           bool RaiseOnCancel) {
    bool trivial = false;
    if (TrivialPrimality(N, trivial)) return trivial;
    const uint64_t v = SmallValue(N);
    for (size_t i = 0; i < kTestPrimes; ++i) {
        if (Residue(N, kSmallPrimes[i]) == 0) return v == kSmallPrimes[i];
    }
    MillerRabin mr(N);
    const sbmath::Poll poll = PollOf(Callback, CallbackData);
    for (int round = 0; round < kTestRounds; ++round) {
        const Round r = mr.Run(poll);
        if (r == Round::Canceled) {
            if (RaiseOnCancel) throw EElMathException(kCanceled);
            return false;
        }
        if (r == Round::Fail) return false;
    }
    return true;
}

bool GenerateBigNumPrime(BigNum* P, int32_t LimbCount, bool TwoTopBits, bool RaiseOnCancel,
                         const MathProgressCallback& Callback, void* CallbackData) {
    if (LimbCount < 1 || LimbCount > BigNum::MaxLimbs) throw EElMathException("Invalid prime size");
    const sbmath::Poll poll = PollOf(Callback, CallbackData);
    std::array<uint32_t, kLimbGeneratorPrimes> residues{};
    for (;;) {
        sbmath::FillLimbsRandomBytes(P, LimbCount * 4);
        P->NonNegative = true;
        P->Limbs[0] |= 1;
        P->Limbs[LimbCount - 1] |= 0x80000000u;
        if (TwoTopBits) P->Limbs[LimbCount - 1] |= 0x40000000u;
        for (size_t i = 0; i < kLimbGeneratorPrimes; ++i)
            residues[i] = Residue(P, kSmallPrimes[i + 1]);

        bool fresh = false;
        while (!fresh) {
            bool sieved = true;
            for (size_t i = 0; i < kLimbGeneratorPrimes && sieved; ++i)
                sieved = residues[i] != 0;
            if (sieved) {
                // Fermat tests: b^(P-1) mod P = 1 for each base.
                std::array<Word, kMaxWords> m{}, e{}, b{}, y{};
                const size_t n = sbmath::ToWords(P, m.data(), kMaxWords);
                sbmath::Sub1(e.data(), m.data(), n, 1);
                sbmath::MontContext ctx(m.data(), n);
                bool passed = true;
                for (uint32_t base : kFermatBases) {
                    b[0] = base;
                    if (!sbmath::MontExp(ctx, y.data(), b.data(), e.data(), n, poll)) {
                        rtl::secure_wipe(m.data(), sizeof(m));
                        rtl::secure_wipe(e.data(), sizeof(e));
                        if (RaiseOnCancel) throw EElMathException(kCanceled);
                        return false;
                    }
                    if (!(y[0] == 1 && sbmath::Normalized(y.data() + 1, n - 1) == 0)) {
                        passed = false;
                        break;
                    }
                }
                rtl::secure_wipe(m.data(), sizeof(m));
                rtl::secure_wipe(e.data(), sizeof(e));
                rtl::secure_wipe(y.data(), sizeof(y));
                if (passed) return true;
            }
            // The next odd candidate; one that outgrows its size is replaced by a fresh draw.
            fresh = !StepByTwo(P);
            for (size_t i = 0; i < kLimbGeneratorPrimes; ++i) {
                const uint32_t p = kSmallPrimes[i + 1];
                residues[i] += 2;
                if (residues[i] >= p) residues[i] -= p;
            }
        }
    }
}

bool GenerateBigNumPrimeBits(BigNum* P, int32_t Bits, bool TwoTopBits, bool RaiseOnCancel,
                             const MathProgressCallback& Callback, void* CallbackData) {
    if (Bits < 2 || Bits > 32 * BigNum::MaxLimbs) throw EElMathException("Invalid prime size");
    const sbmath::Poll poll = PollOf(Callback, CallbackData);
    const int32_t topBit = (Bits - 1) % 32;  // in the top limb
    const uint32_t mask = Bits % 32 ? (uint32_t(1) << (Bits % 32)) - 1 : ~uint32_t(0);
    std::array<uint32_t, kBitGeneratorPrimes> residues{};
    for (;;) {
        sbmath::FillLimbsRandomBytes(P, (Bits + 7) / 8);
        P->NonNegative = true;
        const int32_t top = P->LimbCount - 1;
        P->Limbs[top] &= mask;
        P->Limbs[0] |= 1;
        P->Limbs[top] |= uint32_t(1) << topBit;
        if (TwoTopBits) {
            if (topBit > 0) {
                P->Limbs[top] |= uint32_t(1) << (topBit - 1);
            } else {
                P->Limbs[top - 1] |= 0x80000000u;
            }
        }
        for (size_t i = 0; i < kBitGeneratorPrimes; ++i)
            residues[i] = Residue(P, kSmallPrimes[i + 1]);

        for (int step = 0; step < kStepsPerCandidate; ++step) {
            if (!poll()) {
                if (RaiseOnCancel) throw EElMathException(kCanceled);
                return false;
            }
            bool sieved = true;
            for (size_t i = 0; i < kBitGeneratorPrimes && sieved; ++i)
                sieved = residues[i] != 0;
            const uint64_t v = SmallValue(P);
            if (v <= kSmallPrimes.back() && IsTablePrime(uint32_t(v))) return true;
            if (sieved) {
                MillerRabin mr(P);
                bool passed = true;
                for (int round = 0; round < kGeneratorRounds && passed; ++round) {
                    const Round r = mr.Run(poll);
                    if (r == Round::Canceled) {
                        if (RaiseOnCancel) throw EElMathException(kCanceled);
                        return false;
                    }
                    passed = r == Round::Pass;
                }
                if (passed) return true;
            }
            // P + 2; a candidate that grows past Bits bits is replaced by a fresh draw.
            if (!StepByTwo(P) || CountBigNumBits(P) > Bits) break;
            for (size_t i = 0; i < kBitGeneratorPrimes; ++i) {
                const uint32_t p = kSmallPrimes[i + 1];
                residues[i] += 2;
                if (residues[i] >= p) residues[i] -= p;
            }
        }
    }
}
