// crypto/pk/SBElgamal.cpp: Elgamal generation, encryption, signatures and the pair coder (see the
// header).
#include "crypto/pk/SBElgamal.h"

#include <algorithm>

#include "crypto/math/SBRandom.h"
#include "crypto/pk/PublicKeyMath.h"

using pkmath::Bytes;
using pkmath::View;

namespace {

constexpr int32_t kMaxPrimeBits = 16384;

// Exponent sizes by prime size (the first row whose size is at least the one asked).
struct ExponentRow {
    int32_t primeBits, exponentBits;
};
constexpr ExponentRow kExponentBits[] = {
    {512, 119},  {768, 145},  {1024, 165}, {1280, 183}, {1536, 198}, {1792, 212}, {2048, 225},
    {2304, 237}, {2560, 249}, {2816, 259}, {3072, 269}, {3328, 279}, {3584, 288}, {3840, 296},
    {4096, 305}, {4352, 313}, {4608, 320}, {4864, 328}, {5120, 335},
};

bool IsOne(const BigNum* a) {
    return CountBigNumBits(a) == 1;
}

void Poll(const MathProgressCallback& callback, void* data) {
    if (IsMathOperationCanceled(data, callback)) throw EElMathException("Mathematical operation canceled");
}

// A prime usable here: odd, above 3, at most kMaxPrimeBits.
bool UsablePrime(const BigNum* p) {
    const int32_t bits = CountBigNumBits(p);
    return !IsBigNumEven(p) && bits > 2 && bits <= kMaxPrimeBits;
}

BigNumPtr MinusOne(const BigNum* p) {
    BigNumPtr r = MakeBigNum();
    SubtractWordFromBigNum(p, 1, r.get());
    r->NonNegative = true;
    return r;
}

// R := A x B mod M for any M (p - 1 is even: no Montgomery form).
void MulMod(const BigNum* a, const BigNum* b, const BigNum* m, BigNum* r) {
    const BigNumPtr t = MakeBigNum();
    MultiplyBigNums(a, b, t.get());
    ReduceBigNumBySubtraction(t.get(), m, r);
}

// A random unit of Z/(p-1): the blinding factor of the nonce's GCD.
void RandomUnit(const BigNum* pm1, BigNum* u) {
    const BigNumPtr g = MakeBigNum(), inv = MakeBigNum();
    for (;;) {
        pkmath::RandomBelow(pm1, u);
        ComputeBigNumGCDAndInverse(u, pm1, g.get(), inv.get());
        if (IsOne(g.get())) return;
    }
}

rtl::SecureBytes Trimmed(const BigNum* a) {
    return pkmath::ToTrimmed(a);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

int32_t GetElgamalExponentBits(int32_t PrimeBits) {
    for (const ExponentRow& row : kExponentBits)
        if (row.primeBits >= PrimeBits) return row.exponentBits;
    return PrimeBits / 8 + 200;
}

bool NextPrimeSelection(ByteArray& Selection) {
    const size_t n = Selection.size();
    size_t i = 0;
    while (i < n && Selection[i] == 0)
        ++i;
    size_t run = 0;
    while (i + run < n && Selection[i + run] != 0)
        ++run;
    if (i == n || i + run == n) return false;
    Selection[i + run] = 1;
    for (size_t j = 0; j + 1 < run; ++j)
        Selection[j] = 1;
    for (size_t j = run == 0 ? 0 : run - 1; j < i + run; ++j)
        Selection[j] = 0;
    return true;
}

void DrawElgamalNonce(const BigNum* P, int32_t Words, BigNum* K, BigNum* KInverse) {
    const BigNumPtr pm1 = MinusOne(P), beta = MakeBigNum(), t = MakeBigNum(), g = MakeBigNum(), tInv = MakeBigNum();
    int32_t words = Words;
    if (words <= 0) words = (CountBigNumBits(P) + 31) / 32;
    for (;;) {
        FillBigNumRandom(K, words);
        TrimBigNum(K);
        K->NonNegative = true;
        while (!IsBigNumGreater(pm1.get(), K))
            ShiftBigNumRightOneBit(K);
        K->Limbs[0] |= 1;
        if (K->LimbCount == 0) K->LimbCount = 1;
        if (IsOne(K)) continue;
        // gcd(k, p - 1) and k^-1 through k x beta for a random unit beta: the GCD sees a value
        // independent of k, and gcd(k beta, p - 1) = 1 exactly when gcd(k, p - 1) = 1.
        RandomUnit(pm1.get(), beta.get());
        MulMod(K, beta.get(), pm1.get(), t.get());
        if (IsBigNumZero(t.get())) continue;
        ComputeBigNumGCDAndInverse(t.get(), pm1.get(), g.get(), tInv.get());
        if (!IsOne(g.get())) continue;
        if (KInverse != nullptr) {
            MulMod(tInv.get(), beta.get(), pm1.get(), KInverse);
            KInverse->NonNegative = true;
        }
        return;
    }
}

bool GenerateElgamalKey(int32_t Bits, BigNum* P, BigNum* G, BigNum* X, BigNum* Y, const MathProgressCallback& Callback,
                        void* CallbackData) {
    std::vector<ByteArray> factors;
    return GenerateElgamalKeyFactored(Bits, P, G, X, Y, factors, Callback, CallbackData);
}

bool GenerateElgamalKeyFactored(int32_t Bits, BigNum* P, BigNum* G, BigNum* X, BigNum* Y,
                                std::vector<ByteArray>& Factors, const MathProgressCallback& Callback,
                                void* CallbackData) {
    if (Bits <= 511 || Bits > kMaxPrimeBits) return false;
    // Lim and Lee: p - 1 = 2 q0 f1 .. fn with n primes of fbits bits taken from a pool, so the
    // factors of p - 1 are known and a generator of the whole group can be found.
    const int32_t t = GetElgamalExponentBits(Bits);
    const int32_t n = (Bits - t - 1) / t;
    const int32_t fbits = (Bits - t - 1) / n;
    int32_t q0bits = Bits - n * fbits;
    const int32_t poolSize = std::max(3 * n + 2, 15);
    return pkmath::Guarded([&] {
        const BigNumPtr p = MakeBigNum(), q0 = MakeBigNum(), product = MakeBigNum();
        std::vector<BigNumPtr> pool;
        ByteArray selection;
        auto drawQ0 = [&] { GenerateBigNumPrimeBits(q0.get(), q0bits, false, true, Callback, CallbackData); };
        auto drawPool = [&] {
            pool.clear();
            for (int32_t i = 0; i < poolSize; ++i) {
                pool.push_back(MakeBigNum());
                GenerateBigNumPrimeBits(pool.back().get(), fbits, false, true, Callback, CallbackData);
            }
            selection.assign(size_t(poolSize), 0);
            std::fill(selection.begin(), selection.begin() + n, 1);
        };
        drawQ0();
        drawPool();
        int tooSmall = 0, tooLarge = 0;
        for (;;) {
            Poll(Callback, CallbackData);
            ShiftBigNumLeft(q0.get(), product.get(), 1);
            product->NonNegative = true;
            for (size_t i = 0; i < pool.size(); ++i)
                if (selection[i]) MultiplyBigNums(product.get(), pool[i].get(), product.get());
            AddWordToBigNum(product.get(), 1, p.get());
            p->NonNegative = true;
            const int32_t l = CountBigNumBits(p.get());
            if (l < Bits) {
                if (++tooSmall == 20) {
                    tooSmall = tooLarge = 0;
                    ++q0bits;
                    drawQ0();
                }
            } else if (l > Bits) {
                if (++tooLarge == 20) {
                    tooSmall = tooLarge = 0;
                    --q0bits;
                    drawQ0();
                }
            } else if (IsBigNumProbablePrime(p.get(), Callback, CallbackData, true)) {
                break;
            }
            if (!NextPrimeSelection(selection)) {
                drawQ0();
                drawPool();
            }
        }

        // The factors of p - 1; g is the first of 5, 6, 7, ... with g^((p-1)/f) != 1 for each.
        std::vector<const BigNum*> factors;
        const BigNumPtr two = pkmath::Number(2);
        factors.push_back(two.get());
        factors.push_back(q0.get());
        for (size_t i = 0; i < pool.size(); ++i)
            if (selection[i]) factors.push_back(pool[i].get());
        const BigNumPtr pm1 = MinusOne(p.get()), e = MakeBigNum(), rest = MakeBigNum(), v = MakeBigNum();
        const BigNumPtr g = pkmath::Number(4);
        for (bool generator = false; !generator;) {
            Poll(Callback, CallbackData);
            AddWordToBigNum(g.get(), 1, g.get());
            generator = true;
            for (const BigNum* f : factors) {
                DivideBigNums(pm1.get(), f, e.get(), rest.get());
                e->NonNegative = true;
                TrimBigNum(e.get());
                ExponentiateBigNumMontgomery(g.get(), e.get(), p.get(), v.get(), Callback, CallbackData, true);
                if (IsOne(v.get())) {
                    generator = false;
                    break;
                }
            }
        }

        // x: 2 q0bits random bits, below p, odd; y = g^x mod p.
        MathRandomState state;
        InitMathRandom(state);
        const BigNumPtr x = MakeBigNum(), y = MakeBigNum();
        FillBigNumFromMathRandom(state, x.get(), 2 * q0bits / 8);
        x->NonNegative = true;
        while (IsBigNumGreater(x.get(), p.get()))
            ShiftBigNumRightOneBit(x.get());
        x->Limbs[0] |= 1;
        ExponentiateBigNumMontgomery(g.get(), x.get(), p.get(), y.get(), Callback, CallbackData, true);

        CopyBigNum(P, p.get());
        CopyBigNum(G, g.get());
        CopyBigNum(X, x.get());
        CopyBigNum(Y, y.get());
        Factors.clear();
        for (const BigNum* f : factors) {
            const rtl::SecureBytes b = Trimmed(f);
            Factors.emplace_back(b.begin(), b.end());
        }
        return true;
    });
}

bool EncryptElgamal(const BigNum* M, const BigNum* P, const BigNum* G, const BigNum* Y, BigNum* A, BigNum* B) {
    return pkmath::Guarded([&] {
        if (!UsablePrime(P) || !M->NonNegative || !IsBigNumGreater(P, M)) return false;
        const int32_t t = GetElgamalExponentBits(32 * ((CountBigNumBits(P) + 31) / 32));
        const BigNumPtr k = MakeBigNum(), a = MakeBigNum(), s = MakeBigNum();
        DrawElgamalNonce(P, (t + 31) / 32, k.get(), nullptr);
        ExponentiateBigNumMontgomery(G, k.get(), P, a.get());
        ExponentiateBigNumMontgomery(Y, k.get(), P, s.get());
        pkmath::MulModCT(s.get(), M, P, B);
        CopyBigNum(A, a.get());
        return true;
    });
}

bool DecryptElgamal(const BigNum* P, const BigNum* G, const BigNum* X, const BigNum* A, const BigNum* B, BigNum* M) {
    (void)G;
    return pkmath::Guarded([&] {
        if (!UsablePrime(P)) return false;
        // a in 1 .. p - 1 and b in 0 .. p - 1: anything else is no ciphertext of this key.
        if (IsBigNumZero(A) || !A->NonNegative || !IsBigNumGreater(P, A) || !B->NonNegative || !IsBigNumGreater(P, B))
            return false;
        const BigNumPtr gcd = MakeBigNum(), inverse = MakeBigNum(), s = MakeBigNum();
        ComputeBigNumGCDAndInverse(A, P, gcd.get(), inverse.get());  // a is public
        if (!IsOne(gcd.get())) return false;
        ExponentiateBigNumMontgomery(inverse.get(), X, P, s.get());
        pkmath::MulModCT(B, s.get(), P, M);
        return true;
    });
}

bool SignElgamal(const BigNum* M, const BigNum* P, const BigNum* G, const BigNum* X, BigNum* A, BigNum* B) {
    return pkmath::Guarded([&] {
        if (!UsablePrime(P) || !M->NonNegative) return false;
        const BigNumPtr pm1 = MinusOne(P), k = MakeBigNum(), kInv = MakeBigNum(), a = MakeBigNum(), t = MakeBigNum(),
                        d = MakeBigNum(), b = MakeBigNum();
        ReduceBigNumBySubtraction(M, pm1.get(), d.get());
        const BigNumPtr m = MakeBigNum();
        CopyBigNum(m.get(), d.get());
        do {
            DrawElgamalNonce(P, 0, k.get(), kInv.get());
            ExponentiateBigNumMontgomery(G, k.get(), P, a.get());
            // b = (m - a x) k^-1 mod (p - 1); a b of 0 would make the signature independent of k.
            MulMod(a.get(), X, pm1.get(), t.get());
            AddBigNums(m.get(), pm1.get(), d.get());
            SubtractBigNums(d.get(), t.get(), d.get());
            MulMod(d.get(), kInv.get(), pm1.get(), b.get());
        } while (IsBigNumZero(b.get()));
        CopyBigNum(A, a.get());
        CopyBigNum(B, b.get());
        return true;
    });
}

bool VerifyElgamal(const BigNum* M, const BigNum* P, const BigNum* G, const BigNum* Y, const BigNum* A,
                   const BigNum* B) {
    return pkmath::Guarded([&] {
        if (!UsablePrime(P) || !M->NonNegative) return false;
        const BigNumPtr pm1 = MinusOne(P);
        // 1 <= a <= p - 1 and 0 <= b <= p - 2 (a of 0 or p would let anyone forge).
        if (!A->NonNegative || IsBigNumZero(A) || !IsBigNumGreater(P, A) || !B->NonNegative ||
            !IsBigNumGreater(pm1.get(), B))
            return false;
        const BigNumPtr left = MakeBigNum(), ya = MakeBigNum(), ab = MakeBigNum(), right = MakeBigNum();
        ExponentiateBigNumMontgomery(G, M, P, left.get());
        ExponentiateBigNumMontgomery(Y, A, P, ya.get());
        ExponentiateBigNumMontgomery(A, B, P, ab.get());
        MulMod(ya.get(), ab.get(), P, right.get());
        return AreBigNumsEqual(left.get(), right.get());
    });
}

bool EncodeElgamalPair(const void* A, int32_t ASize, const void* B, int32_t BSize, void* Blob, int32_t& BlobSize) {
    const int32_t room = std::max(ASize, 0) + std::max(BSize, 0) + 16;
    if (Blob == nullptr || BlobSize < room) {
        BlobSize = room;
        return false;
    }
    rtl::SecureBytes content;
    pkmath::AppendInteger(content, View(A, ASize));
    pkmath::AppendInteger(content, View(B, BSize));
    const rtl::SecureBytes blob = pkmath::Wrap(0x30, content);
    return pkmath::Deliver(Bytes(blob), Blob, BlobSize);
}

bool DecodeElgamalPair(const void* Blob, int32_t BlobSize, void* A, int32_t& ASize, void* B, int32_t& BSize) {
    std::vector<pkmath::Element> top, pair;
    if (!pkmath::ReadElements(View(Blob, BlobSize), top, 1) || top.size() != 1 || top[0].tag != 0x30) return false;
    if (!pkmath::ReadElements(top[0].content, pair, 2) || pair.size() != 2) return false;
    if (pair[0].tag != 0x02 || pair[1].tag != 0x02) return false;
    const Bytes a = pair[0].content, b = pair[1].content;
    if (A == nullptr || B == nullptr || ASize < int32_t(a.size()) || BSize < int32_t(b.size())) {
        ASize = int32_t(a.size());
        BSize = int32_t(b.size());
        return false;
    }
    return pkmath::Deliver(a, A, ASize) && pkmath::Deliver(b, B, BSize);
}
