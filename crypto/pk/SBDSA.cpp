// crypto/pk/SBDSA.cpp: DSA generation, signatures, blobs and checks (see the header).
#include "crypto/pk/SBDSA.h"

#include <cstring>
#include <vector>

#include "crypto/base/SBConstants.h"
#include "crypto/math/SBRandom.h"
#include "crypto/pk/PublicKeyMath.h"

using pkmath::Bytes;
using pkmath::View;

namespace {

// Ceilings against domains that would make one operation run for minutes (certificates and
// key files come from anyone): FIPS 186-4 stops at L = 3072 and N = 256; these leave room.
constexpr int32_t kMaxPrimeBits = 16384;
constexpr int32_t kMaxSubgroupBits = 512;

bool HasRoom(const void* out, int32_t size, int32_t needed) {
    return out != nullptr && size >= needed;
}

void Poll(const MathProgressCallback& callback, void* data) {
    if (IsMathOperationCanceled(data, callback)) throw EElMathException("Mathematical operation canceled");
}

bool IsOne(const BigNum* a) {
    return CountBigNumBits(a) == 1;
}

// z: the leftmost min(N, outlen) bits of the digest, N the bit length of q (FIPS 186-4 4.6).
BigNumPtr TruncatedDigest(Bytes digest, const BigNum* q) {
    BigNumPtr z;
    if (!pkmath::Load(z, digest)) throw EElMathException("Digest too long");
    const size_t n = size_t(CountBigNumBits(q));
    const size_t bits = 8 * digest.size();
    if (bits > n) ShiftBigNumRight(z.get(), z.get(), int32_t(bits - n));
    return z;
}

// A domain usable for arithmetic: p and q odd, q at least 2 bits, g non-zero.
bool LoadDomain(Bytes p, Bytes q, Bytes g, BigNumPtr& P, BigNumPtr& Q, BigNumPtr& G) {
    if (!pkmath::Load(P, p) || !pkmath::Load(Q, q) || !pkmath::Load(G, g)) return false;
    const int32_t pBits = CountBigNumBits(P.get()), qBits = CountBigNumBits(Q.get());
    return !IsBigNumEven(P.get()) && !IsBigNumEven(Q.get()) && qBits >= 2 && pBits >= 2 && pBits <= kMaxPrimeBits &&
           qBits <= kMaxSubgroupBits && !IsBigNumZero(G.get());
}

// q of FIPS 186-2 appendix 2.2: U = SHA-1(SEED) xor SHA-1(SEED + 1 mod 2^200), top and bottom
// bits set.
void MakeDSAQCandidate(BigNum* q) {
    SeedRandomFromClock();
    uint8_t seed[25], next[25];
    GenerateRandomBytes(seed, sizeof(seed));
    std::memcpy(next, seed, sizeof(seed));
    for (size_t i = sizeof(next); i-- > 0;)
        if (++next[i] != 0) break;
    rtl::SecureBytes u = pkmath::Digest(SB_ALG_SHA1, {Bytes(seed, sizeof(seed))});
    const rtl::SecureBytes v = pkmath::Digest(SB_ALG_SHA1, {Bytes(next, sizeof(next))});
    for (size_t i = 0; i < u.size(); ++i)
        u[i] ^= v[i];
    u[0] |= 0x80;
    u[u.size() - 1] |= 0x01;
    LoadBigNumFromBytes(q, u.data(), int32_t(u.size()));
    q->NonNegative = true;
}

// p = q x X + 1 for an even X, so that q divides p - 1.
void MakeDSAPCandidate(const BigNum* q, const BigNum* x, BigNum* p) {
    MultiplyBigNums(q, x, p);
    AddWordToBigNum(p, 1, p);
    p->NonNegative = true;
}

// g = h^((p - 1) / q) mod p for random h until g > 1 (FIPS 186-4 A.2.1).
void MakeGenerator(const BigNum* p, const BigNum* exponent, size_t hBytes, MathRandomState* state, BigNum* g,
                   const MathProgressCallback& callback, void* data) {
    const BigNumPtr h = MakeBigNum();
    do {
        Poll(callback, data);
        if (state != nullptr) {
            FillBigNumFromMathRandom(*state, h.get(), int32_t(hBytes));
        } else {
            FillBigNumRandomBytes(h.get(), int32_t(hBytes));
        }
        h->NonNegative = true;
        ExponentiateBigNumMontgomery(h.get(), exponent, p, g, callback, data, true);
    } while (CountBigNumBits(g) < 2);
}

struct Values {
    BigNumPtr p, q, g, y, x;
};

rtl::SecureBytes SequenceBlob(const std::vector<Bytes>& values) {
    rtl::SecureBytes content;
    const uint8_t version = 0;
    pkmath::AppendInteger(content, Bytes(&version, 1));
    for (const Bytes& v : values)
        pkmath::AppendInteger(content, v);
    return pkmath::Wrap(0x30, content);
}

bool DeliverWords(const BigNum* v, void* out, int32_t& size) {
    const rtl::SecureBytes bytes = pkmath::ToWords(v);
    return pkmath::Deliver(Bytes(bytes), out, size);
}

// One leading 00 removed (the DER sign byte).
Bytes WithoutSignByte(Bytes b) {
    return !b.empty() && b[0] == 0 ? b.subspan(1) : b;
}

// The six-INTEGER form; false with `mismatch` set when the blob is not of that form.
bool ReadSequenceForm(Bytes blob, std::vector<Bytes>& values, bool& mismatch) {
    mismatch = true;
    size_t offset = 0;
    pkmath::Element seq;
    std::vector<pkmath::Element> ints;
    if (!pkmath::ReadElement(blob, offset, seq) || seq.tag != 0x30) return false;
    if (!pkmath::ReadElements(seq.content, ints, 6) || ints.size() != 6) return false;
    for (const pkmath::Element& e : ints)
        if (e.tag != 0x02) return false;
    if (ints[0].content.size() != 1 || ints[0].content[0] != 0) return false;
    mismatch = false;
    values.clear();
    for (size_t i = 1; i < 6; ++i)
        values.push_back(WithoutSignByte(ints[i].content));
    return true;
}

// PrivateKeyInfo (RFC 5208) of id-dsa: SEQUENCE { INTEGER, SEQUENCE { OID, SEQUENCE { p, q, g } },
// OCTET STRING { INTEGER x } }.
bool ReadPKCS8Form(Bytes blob, std::vector<Bytes>& values) {
    std::vector<pkmath::Element> top, info, alg, params, inner;
    if (!pkmath::ReadElements(blob, top, 1) || top.size() != 1 || top[0].tag != 0x30) return false;
    if (!pkmath::ReadElements(top[0].content, info, 3) || info.size() != 3) return false;
    if (info[0].tag != 0x02 || info[1].tag != 0x30 || info[2].tag != 0x04) return false;
    if (!pkmath::ReadElements(info[1].content, alg, 2) || alg.size() != 2) return false;
    if (alg[0].tag != 0x06 || alg[1].tag != 0x30) return false;
    if (ByteString(alg[0].content.begin(), alg[0].content.end()) != SB_OID_DSA) return false;
    if (!pkmath::ReadElements(alg[1].content, params, 3) || params.size() != 3) return false;
    if (!pkmath::ReadElements(info[2].content, inner, 1) || inner.size() != 1 || inner[0].tag != 0x02) return false;
    for (const pkmath::Element& e : params)
        if (e.tag != 0x02) return false;
    values = {WithoutSignByte(params[0].content), WithoutSignByte(params[1].content),
              WithoutSignByte(params[2].content), Bytes(), WithoutSignByte(inner[0].content)};
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Generation

bool GenerateDSAKey(int32_t Bits, void* P, int32_t& PSize, void* Q, int32_t& QSize, void* G, int32_t& GSize, void* Y,
                    int32_t& YSize, void* X, int32_t& XSize, void* Blob, int32_t& BlobSize,
                    const MathProgressCallback& Callback, void* CallbackData) {
    if (Bits < 512 || Bits % 8 != 0 || Bits > 32 * BigNum::MaxLimbs / 2) return false;
    const int32_t d = Bits / 8;
    if (!HasRoom(P, PSize, d) || !HasRoom(Q, QSize, 20) || !HasRoom(G, GSize, d) || !HasRoom(Y, YSize, d) ||
        !HasRoom(X, XSize, d) || !HasRoom(Blob, BlobSize, 4 * d + 85)) {
        PSize = GSize = YSize = XSize = d;
        QSize = 20;
        BlobSize = 4 * d + 85;
        return false;
    }
    return pkmath::Guarded([&] {
        Values v{MakeBigNum(), MakeBigNum(), MakeBigNum(), MakeBigNum(), MakeBigNum()};
        do {
            Poll(Callback, CallbackData);
            MakeDSAQCandidate(v.q.get());
        } while (!IsBigNumProbablePrime(v.q.get(), Callback, CallbackData, true));

        // p = qX + 1 for random even X of Bits - 160 bits until p has Bits bits and is prime.
        MathRandomState state;
        InitMathRandom(state);
        const BigNumPtr factor = MakeBigNum(), floor = MakeBigNum();
        SetBigNumZero(floor.get());
        floor->Limbs[0] = 1;
        floor->NonNegative = true;
        ShiftBigNumLeft(floor.get(), floor.get(), Bits - 1);
        for (;;) {
            Poll(Callback, CallbackData);
            FillBigNumFromMathRandom(state, factor.get(), (Bits - 160) / 8);
            factor->NonNegative = true;
            factor->Limbs[0] &= ~uint32_t(1);
            MakeDSAPCandidate(v.q.get(), factor.get(), v.p.get());
            if (IsBigNumGreater(v.p.get(), floor.get()) &&
                IsBigNumProbablePrime(v.p.get(), Callback, CallbackData, true))
                break;
        }
        // h of about the size of p, then g = h^X mod p (X = (p - 1) / q).
        const int32_t words = (CountBigNumBits(v.p.get()) + 31) / 32;
        const uint32_t cut = GenerateRandomInteger(uint32_t(2 * words));
        MakeGenerator(v.p.get(), factor.get(), size_t(4 * words) - cut - 1, &state, v.g.get(), Callback, CallbackData);
        pkmath::RandomBelow(v.q.get(), v.x.get());
        ExponentiateBigNumMontgomery(v.g.get(), v.x.get(), v.p.get(), v.y.get(), Callback, CallbackData, true);

        const rtl::SecureBytes p = pkmath::ToWords(v.p.get()), q = pkmath::ToWords(v.q.get()),
                               g = pkmath::ToWords(v.g.get()), y = pkmath::ToWords(v.y.get()),
                               x = pkmath::ToWords(v.x.get());
        const rtl::SecureBytes blob = SequenceBlob({Bytes(p), Bytes(q), Bytes(g), Bytes(y), Bytes(x)});
        return pkmath::Deliver(Bytes(p), P, PSize) && pkmath::Deliver(Bytes(q), Q, QSize) &&
               pkmath::Deliver(Bytes(g), G, GSize) && pkmath::Deliver(Bytes(y), Y, YSize) &&
               pkmath::Deliver(Bytes(x), X, XSize) && pkmath::Deliver(Bytes(blob), Blob, BlobSize);
    });
}

bool GenerateDSAKeyWithQBits(int32_t PBits, int32_t QBits, void* P, int32_t& PSize, void* Q, int32_t& QSize, void* G,
                             int32_t& GSize, void* Y, int32_t& YSize, void* X, int32_t& XSize,
                             const MathProgressCallback& Callback, void* CallbackData) {
    const int32_t L = PBits, N = QBits;
    if (N < 160 || N > 512 || N % 8 != 0 || L % 32 != 0 || L < 512 || L <= N || L > 32 * BigNum::MaxLimbs / 2)
        return false;
    const int32_t pBytes = L / 8, qBytes = 4 * ((N + 31) / 32);
    if (!HasRoom(P, PSize, pBytes) || !HasRoom(Q, QSize, qBytes) || !HasRoom(G, GSize, pBytes) ||
        !HasRoom(Y, YSize, pBytes) || !HasRoom(X, XSize, qBytes)) {
        PSize = GSize = YSize = pBytes;
        QSize = XSize = qBytes;
        return false;
    }
    // The hash by N (FIPS 186-4 A.1.1.2 asks for outlen >= N).
    const int32_t hash = N == 160 ? SB_ALG_SHA1 : N <= 224 ? SB_ALG_SHA224 : N <= 256 ? SB_ALG_SHA256 : N <= 384 ? SB_ALG_SHA384 : SB_ALG_SHA512;
    const size_t outlen = pkmath::DigestLength(hash);
    return pkmath::Guarded([&] {
        Values v{MakeBigNum(), MakeBigNum(), MakeBigNum(), MakeBigNum(), MakeBigNum()};
        rtl::SecureBytes seed(outlen);
        const size_t n = (size_t(L) + 8 * outlen - 1) / (8 * outlen);
        const BigNumPtr twoQ = MakeBigNum(), c = MakeBigNum(), w = MakeBigNum();
        bool found = false;
        while (!found) {
            // q: U = Hash(seed) cut to N bits, its top and bottom bits set.
            do {
                Poll(Callback, CallbackData);
                GenerateRandomBytes(seed.data(), seed.size());
                const rtl::SecureBytes u = pkmath::Digest(hash, {Bytes(seed)});
                LoadBigNumFromBytes(v.q.get(), u.data(), int32_t(u.size()));
                v.q->NonNegative = true;
                if (8 * outlen > size_t(N)) ShiftBigNumRight(v.q.get(), v.q.get(), int32_t(8 * outlen) - N);
                v.q->Limbs[0] |= 1;
                v.q->Limbs[(N - 1) / 32] |= uint32_t(1) << ((N - 1) % 32);
            } while (!IsBigNumProbablePrime(v.q.get(), Callback, CallbackData, true));
            ShiftBigNumLeft(v.q.get(), twoQ.get(), 1);
            twoQ->NonNegative = true;

            // p: up to 4096 candidates X from the hashes of seed + 1, seed + 2, ..., each moved to
            // the next value of the form 2qk + 1 below it (FIPS 186-4 A.1.1.2 steps 11.1-11.10).
            rtl::SecureBytes offset = seed, block;
            for (int counter = 0; counter < 4096 && !found; ++counter) {
                block.clear();
                for (size_t j = 0; j < n; ++j) {
                    for (size_t i = offset.size(); i-- > 0;)
                        if (++offset[i] != 0) break;
                    const rtl::SecureBytes h = pkmath::Digest(hash, {Bytes(offset)});
                    block.insert(block.end(), h.begin(), h.end());
                }
                LoadBigNumFromBytes(w.get(), block.data(), int32_t(block.size()));
                w->NonNegative = true;
                ShiftBigNumRight(w.get(), w.get(), int32_t(8 * n * outlen) - L + 1);
                SetBigNumZero(c.get());
                c->Limbs[0] = 1;
                ShiftBigNumLeft(c.get(), c.get(), L - 1);
                AddBigNums(w.get(), c.get(), w.get());  // X = W' + 2^(L-1)
                ReduceBigNumBySubtraction(w.get(), twoQ.get(), c.get());
                SubtractBigNums(w.get(), c.get(), v.p.get());
                AddWordToBigNum(v.p.get(), 1, v.p.get());  // p = X - (c - 1)
                v.p->NonNegative = true;
                // FIPS 186-4 A.1.1.2 step 11.8: p must have all L bits.
                if (CountBigNumBits(v.p.get()) == L && IsBigNumProbablePrime(v.p.get(), Callback, CallbackData, true))
                    found = true;
                else
                    Poll(Callback, CallbackData);
            }
        }
        // g = h^((p - 1) / q) mod p; then x uniform in 1 .. q - 1 and y = g^x mod p.
        const BigNumPtr e = MakeBigNum(), rest = MakeBigNum();
        DivideBigNums(v.p.get(), v.q.get(), e.get(), rest.get());
        e->NonNegative = true;
        TrimBigNum(e.get());
        MakeGenerator(v.p.get(), e.get(), size_t(L / 8), nullptr, v.g.get(), Callback, CallbackData);
        pkmath::RandomBelow(v.q.get(), v.x.get());
        ExponentiateBigNumMontgomery(v.g.get(), v.x.get(), v.p.get(), v.y.get(), Callback, CallbackData, true);
        return DeliverWords(v.p.get(), P, PSize) && DeliverWords(v.q.get(), Q, QSize) &&
               DeliverWords(v.g.get(), G, GSize) && DeliverWords(v.y.get(), Y, YSize) &&
               DeliverWords(v.x.get(), X, XSize);
    });
}

// ---------------------------------------------------------------------------------------------
// Signatures

bool SignDSA(const void* Digest, int32_t DigestSize, const void* P, int32_t PSize, const void* Q, int32_t QSize,
             const void* G, int32_t GSize, const void* X, int32_t XSize, void* R, int32_t& RSize, void* S,
             int32_t& SSize) {
    const int32_t qLen = int32_t(pkmath::StripZeros(View(Q, QSize)).size());
    if (!HasRoom(R, RSize, qLen) || !HasRoom(S, SSize, qLen)) {
        RSize = SSize = qLen;
        return false;
    }
    return pkmath::Guarded([&] {
        BigNumPtr p, q, g, x;
        if (!LoadDomain(View(P, PSize), View(Q, QSize), View(G, GSize), p, q, g)) return false;
        if (!pkmath::Load(x, View(X, XSize)) || IsBigNumZero(x.get())) return false;
        const BigNumPtr z = TruncatedDigest(View(Digest, DigestSize), q.get());
        const BigNumPtr k = MakeBigNum(), r = MakeBigNum(), s = MakeBigNum(), t = MakeBigNum();
        for (;;) {
            pkmath::RandomBelow(q.get(), k.get());
            ExponentiateBigNumMontgomery(g.get(), k.get(), p.get(), t.get());
            ReduceBigNumBySubtraction(t.get(), q.get(), r.get());  // r is public
            if (IsBigNumZero(r.get())) continue;
            // s = k^-1 (z + x r) mod q, every step with a secret in constant time.
            pkmath::MulModCT(x.get(), r.get(), q.get(), t.get());
            AddBigNums(t.get(), z.get(), t.get());
            pkmath::ReduceCT(t.get(), q.get(), t.get());
            pkmath::InverseModPrimeCT(k.get(), q.get(), s.get());
            pkmath::MulModCT(s.get(), t.get(), q.get(), s.get());
            if (!IsBigNumZero(s.get())) break;
        }
        const rtl::SecureBytes rb = pkmath::ToFixed(r.get(), size_t(qLen)), sb = pkmath::ToFixed(s.get(), size_t(qLen));
        return pkmath::Deliver(Bytes(rb), R, RSize) && pkmath::Deliver(Bytes(sb), S, SSize);
    });
}

bool VerifyDSA(const void* Digest, int32_t DigestSize, const void* P, int32_t PSize, const void* Q, int32_t QSize,
               const void* G, int32_t GSize, const void* Y, int32_t YSize, const void* R, int32_t RSize, const void* S,
               int32_t SSize) {
    return pkmath::Guarded([&] {
        BigNumPtr p, q, g, y, r, s;
        if (!LoadDomain(View(P, PSize), View(Q, QSize), View(G, GSize), p, q, g)) return false;
        if (!pkmath::Load(y, View(Y, YSize)) || !pkmath::Load(r, View(R, RSize)) || !pkmath::Load(s, View(S, SSize)))
            return false;
        // FIPS 186-4 4.7: 0 < r < q and 0 < s < q, else the signature is invalid (s = 0 has no
        // inverse, and r = 0 with y = 0 would match anything).
        if (IsBigNumZero(r.get()) || IsBigNumZero(s.get()) || !IsBigNumGreater(q.get(), r.get()) ||
            !IsBigNumGreater(q.get(), s.get()))
            return false;
        const BigNumPtr z = TruncatedDigest(View(Digest, DigestSize), q.get());
        const BigNumPtr w = MakeBigNum(), gcd = MakeBigNum(), u1 = MakeBigNum(), u2 = MakeBigNum(),
                        t = MakeBigNum(), v = MakeBigNum();
        ComputeBigNumGCDAndInverse(s.get(), q.get(), gcd.get(), w.get());
        if (!IsOne(gcd.get())) return false;
        MultiplyBigNums(z.get(), w.get(), t.get());
        ReduceBigNumBySubtraction(t.get(), q.get(), u1.get());
        MultiplyBigNums(r.get(), w.get(), t.get());
        ReduceBigNumBySubtraction(t.get(), q.get(), u2.get());
        ExponentiateBigNumMontgomery(g.get(), u1.get(), p.get(), v.get());
        ExponentiateBigNumMontgomery(y.get(), u2.get(), p.get(), t.get());
        MultiplyBigNums(v.get(), t.get(), w.get());
        ReduceBigNumBySubtraction(w.get(), p.get(), t.get());
        ReduceBigNumBySubtraction(t.get(), q.get(), v.get());
        return AreBigNumsEqual(v.get(), r.get());
    });
}

// ---------------------------------------------------------------------------------------------
// Blobs and checks

bool DecodeDSAPrivateKey(const void* Blob, int32_t BlobSize, void* P, int32_t& PSize, void* Q, int32_t& QSize, void* G,
                         int32_t& GSize, void* Y, int32_t& YSize, void* X, int32_t& XSize) {
    void* outs[5] = {P, Q, G, Y, X};
    int32_t* sizes[5] = {&PSize, &QSize, &GSize, &YSize, &XSize};
    const Bytes blob = View(Blob, BlobSize);
    std::vector<Bytes> values;
    bool mismatch = false;
    bool pkcs8 = false;
    if (!ReadSequenceForm(blob, values, mismatch)) {
        if (!ReadPKCS8Form(blob, values)) {
            for (int32_t* size : sizes)
                *size = 0;
            return false;
        }
        pkcs8 = true;
    }
    // The PKCS#8 form carries no y: it is computed, as long as p.
    const size_t yLength = pkcs8 ? pkmath::StripZeros(values[0]).size() : values[3].size();
    const size_t lengths[5] = {values[0].size(), values[1].size(), values[2].size(), yLength, values[4].size()};
    bool room = true;
    for (size_t i = 0; i < 5; ++i)
        room = room && HasRoom(outs[i], *sizes[i], int32_t(lengths[i]));
    if (!room) {
        for (size_t i = 0; i < 5; ++i)
            *sizes[i] = int32_t(lengths[i]);
        return false;
    }
    rtl::SecureBytes y;
    if (pkcs8) {
        const bool computed = pkmath::Guarded([&] {
            BigNumPtr p, q, g, x;
            if (!LoadDomain(values[0], values[1], values[2], p, q, g) || !pkmath::Load(x, values[4])) return false;
            if (!IsBigNumGreater(q.get(), x.get())) return false;  // x < q bounds the work too
            const BigNumPtr yn = MakeBigNum();
            ExponentiateBigNumMontgomery(g.get(), x.get(), p.get(), yn.get());
            y = pkmath::ToFixed(yn.get(), yLength);
            return true;
        });
        if (!computed) {
            for (int32_t* size : sizes)
                *size = 0;
            return false;
        }
        values[3] = Bytes(y);
    }
    for (size_t i = 0; i < 5; ++i)
        pkmath::Deliver(values[i], outs[i], *sizes[i]);
    return true;
}

bool EncodeDSAPrivateKey(const void* P, int32_t PSize, const void* Q, int32_t QSize, const void* G, int32_t GSize,
                         const void* Y, int32_t YSize, const void* X, int32_t XSize, void* Blob, int32_t& BlobSize) {
    const rtl::SecureBytes blob =
        SequenceBlob({View(P, PSize), View(Q, QSize), View(G, GSize), View(Y, YSize), View(X, XSize)});
    return pkmath::Deliver(Bytes(blob), Blob, BlobSize);
}

bool ValidateDSAKey(const void* P, int32_t PSize, const void* Q, int32_t QSize, const void* G, int32_t GSize,
                    const void* Y, int32_t YSize, const void* X, int32_t XSize, bool CheckSecret, bool Strict) {
    return pkmath::Guarded([&] {
        BigNumPtr p, q, g, y, x;
        if (!LoadDomain(View(P, PSize), View(Q, QSize), View(G, GSize), p, q, g) || !pkmath::Load(y, View(Y, YSize)))
            return false;
        if (Strict && (!IsBigNumProbablePrime(p.get()) || !IsBigNumProbablePrime(q.get()))) return false;
        const int32_t pBits = CountBigNumBits(p.get());
        if (CountBigNumBits(q.get()) % 8 != 0 || pBits < 512 || pBits % 64 != 0) return false;
        const BigNumPtr t = MakeBigNum();
        ReduceBigNumBySubtraction(p.get(), q.get(), t.get());
        if (!IsOne(t.get())) return false;
        if (CountBigNumBits(g.get()) < 2 || !IsBigNumGreater(p.get(), g.get())) return false;
        if (Strict) {
            ExponentiateBigNumMontgomery(g.get(), q.get(), p.get(), t.get());
            if (!IsOne(t.get())) return false;
        }
        if (IsBigNumZero(y.get()) || !IsBigNumGreater(p.get(), y.get())) return false;
        if (!CheckSecret) return true;
        if (!pkmath::Load(x, View(X, XSize)) || IsBigNumZero(x.get()) || !IsBigNumGreater(q.get(), x.get()))
            return false;
        if (Strict) {
            ExponentiateBigNumMontgomery(g.get(), x.get(), p.get(), t.get());
            if (!AreBigNumsEqual(t.get(), y.get())) return false;
        }
        return true;
    });
}

bool DSADecodeSignature(const void* Blob, size_t Size, void* R, size_t& RSize, void* S, size_t& SSize) {
    if (!DecodeDSASignature(Blob, Size, R, RSize, S, SSize)) return false;
    // DER has one encoding per pair: the pair must be exactly what the minimal writer gives for
    // the same contents (a negative or padded INTEGER, a long-form or indefinite length, or
    // anything after the SEQUENCE makes a different string).
    std::vector<uint8_t> again(RSize + SSize + 16);
    size_t againSize = again.size();
    if (!EncodeDSASignature(R, RSize, S, SSize, again.data(), againSize)) return false;
    const bool canonical = againSize == Size && std::memcmp(again.data(), Blob, Size) == 0;
    const bool positive = RSize > 0 && SSize > 0 && (static_cast<const uint8_t*>(R)[0] & 0x80) == 0 &&
                          (static_cast<const uint8_t*>(S)[0] & 0x80) == 0;
    return canonical && positive;
}

bool DSAEncodeSignature(const void* R, size_t RSize, const void* S, size_t SSize, void* Blob, size_t& BlobSize) {
    return EncodeDSASignature(R, RSize, S, SSize, Blob, BlobSize);
}
