// crypto/pk/SBRSA.cpp: RSA key generation, key blobs, PKCS#1 v1.5, OAEP, PSS and the raw
// operations (see the header for the contract).
//
// Private operations share one road (PrivateOperation): the input is blinded with r^e for a
// fresh random r, both CRT halves are raised to their exponents on SBMath's constant-time
// path, the halves are joined with reductions whose time depends only on sizes, the blinding
// is removed, and the result is raised back under e and compared with the input before
// anything leaves the routine. The road runs on SBMath's words with one Montgomery context
// per modulus (n, p, q) for all of its products, so no step builds its own.
#include "crypto/pk/SBRSA.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "crypto/base/SBConstants.h"
#include "crypto/math/SBRandom.h"
#include "crypto/pk/PublicKeyMath.h"
#include "rtl/Bytes.h"

using pkmath::Bytes;
using pkmath::View;

namespace {

constexpr uint32_t kPublicExponent = 65537;
// Ceilings against keys that would make one operation run for minutes (a certificate anyone
// can write carries its own key): moduli up to 16384 bits, and above 3072 bits public
// exponents of at most 64 bits, as other libraries do.
constexpr int32_t kMaxModulusBits = 16384;
constexpr int32_t kSmallModulusBits = 3072;
constexpr int32_t kMaxLargeModulusExponentBits = 64;
// RFC 8017 section 7.2.1: PS is at least eight bytes (and so is the FF run of a signature).
constexpr size_t kMinPadding = 8;
constexpr size_t kPKCS1Overhead = 3 + kMinPadding;

// ---------------------------------------------------------------------------------------------
// Masks for code that must not branch on secret bytes: all ones or all zeros.

size_t MaskIfZero(size_t v) {
    // The top bit of (v - 1) & ~v is set exactly when v == 0.
    return size_t(0) - (((v - 1) & ~v) >> (sizeof(size_t) * 8 - 1));
}
size_t MaskIfEqual(size_t a, size_t b) {
    return MaskIfZero(a ^ b);
}
// a >= b for values below 2^(bits - 1).
size_t MaskIfGreaterOrEqual(size_t a, size_t b) {
    return (((a - b) >> (sizeof(size_t) * 8 - 1)) & 1) - 1;
}
size_t Select(size_t mask, size_t a, size_t b) {
    return (a & mask) | (b & ~mask);
}

// Moves buf[shift .. n) to buf[0 ..) in n x log2(n) steps whose memory accesses do not depend
// on shift (the start of a message inside a decrypted block is secret until the padding is
// known to be good).
void ShiftLeftCT(uint8_t* buf, size_t n, size_t shift) {
    for (size_t step = 1; step < n; step <<= 1) {
        const uint8_t mask = uint8_t(MaskIfEqual(shift & step, step));
        for (size_t i = 0; i < n; ++i) {
            const uint8_t moved = i + step < n ? buf[i + step] : 0;
            buf[i] = uint8_t((moved & mask) | (buf[i] & ~mask));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Keys

struct PublicKey {
    BigNumPtr n, e;
    size_t k = 0;  // modulus bytes without leading zeros
};

// n odd and above 1, e above 1: anything else is no RSA key.
bool LoadPublicKey(Bytes modulus, Bytes exponent, PublicKey& key) {
    if (!pkmath::Load(key.n, modulus) || !pkmath::Load(key.e, exponent)) return false;
    const int32_t nBits = CountBigNumBits(key.n.get()), eBits = CountBigNumBits(key.e.get());
    if (IsBigNumEven(key.n.get()) || nBits < 2 || eBits < 2 || nBits > kMaxModulusBits) return false;
    if (nBits > kSmallModulusBits && eBits > kMaxLargeModulusExponentBits) return false;
    key.k = pkmath::ByteLength(key.n.get());
    return true;
}

// The values past n and e as the blob holds them (INTEGER contents viewed in the caller's
// buffer): the private operation takes their words, the consistency check their numbers.
struct PrivateKey : PublicKey {
    Bytes d, p, q, dP, dQ, qInv;
    int32_t L = 0;  // the modulus as the blob stores it
};

// The INTEGER contents of an RSAPrivateKey: the first element of the buffer must be a
// SEQUENCE of at least minCount and at most maxCount primitive INTEGERs, the first holding
// exactly 00. With wholeBuffer nothing may follow that SEQUENCE.
bool ReadKeyIntegers(Bytes blob, size_t minCount, size_t maxCount, bool wholeBuffer,
                     std::vector<pkmath::Element>& out) {
    size_t offset = 0;
    pkmath::Element seq;
    if (!pkmath::ReadElement(blob, offset, seq) || seq.tag != 0x30) return false;
    if (wholeBuffer && offset != blob.size()) return false;
    if (!pkmath::ReadElements(seq.content, out, maxCount)) return false;
    if (out.size() < minCount) return false;
    for (const pkmath::Element& e : out)
        if (e.tag != 0x02) return false;
    return out[0].content.size() == 1 && out[0].content[0] == 0;
}

bool LoadPrivateKey(Bytes blob, PrivateKey& key) {
    std::vector<pkmath::Element> ints;
    if (!ReadKeyIntegers(blob, 9, 9, true, ints)) return false;
    for (size_t i = 1; i < 9; ++i)
        if (ints[i].content.empty()) return false;
    if (!LoadPublicKey(ints[1].content, ints[2].content, key)) return false;
    Bytes* values[] = {&key.d, &key.p, &key.q, &key.dP, &key.dQ, &key.qInv};
    for (size_t i = 0; i < 6; ++i) {
        // Each must fit a number record, as loading it into one would require.
        if (pkmath::StripZeros(ints[3 + i].content).size() > pkmath::kMaxNumberBytes) return false;
        *values[i] = ints[3 + i].content;
    }
    // The CRT halves run Montgomery arithmetic, which needs odd moduli above 1.
    for (Bytes prime : {key.p, key.q}) {
        const Bytes value = pkmath::StripZeros(prime);
        if ((prime.back() & 1) == 0 || value.empty() || (value.size() == 1 && value[0] == 1)) return false;
    }
    key.L = int32_t(ints[1].content.size());
    return true;
}

// The input as a number: at most k bytes and below n (RFC 8017 sections 5.1.2 and 7.2.2 step 1).
bool LoadInput(Bytes input, const PublicKey& key, BigNumPtr& out) {
    if (input.size() > key.k) return false;
    if (!pkmath::Load(out, input)) return false;
    return IsBigNumGreater(key.n.get(), out.get());
}

// ---------------------------------------------------------------------------------------------
// Private-key operations, on the words of SBMathKernel.h with one Montgomery context per
// modulus for the whole operation.

using pkmath::SecureWords;
using sbmath::Word;

// A random unit r modulo the context's modulus m, with its inverse. The inverse is computed
// for r x s / R (s another random unit, R the context's 2^(64 x words)), so the variable-time
// GCD never sees r itself; one more Montgomery product with s turns (r s / R)^-1 into r^-1.
void BlindingPair(sbmath::MontContext& ctx, Word* r, Word* rInverse) {
    const size_t words = ctx.Size();
    SecureWords s(words), t(words), g(words), tInverse(words);
    Word* const draws[2] = {r, s.data()};
    bool negative = false;
    for (;;) {
        pkmath::RandomBelow(ctx.Modulus(), words, draws);
        ctx.Mul(t.data(), r, s.data());
        sbmath::GcdExt(t.data(), ctx.Modulus(), words, g.data(), tInverse.data(), negative);
        // gcd 1; anything else would be a factor of m
        if (sbmath::Normalized(g.data(), words) == 1 && g[0] == 1) break;
    }
    if (negative) sbmath::SubN(tInverse.data(), ctx.Modulus(), tInverse.data(), words);
    ctx.Mul(rInverse, tInverse.data(), s.data());
}

// The blinded base c x r^e mod n and the r^-1 that removes the blinding afterwards.
void Blind(sbmath::MontContext& ctx, std::span<const Word> e, const Word* c, Word* blinded, Word* rInverse) {
    SecureWords r(ctx.Size());
    BlindingPair(ctx, r.data(), rInverse);
    sbmath::MontExp(ctx, blinded, r.data(), e.data(), e.size(), [] { return true; });
    pkmath::MulMod(ctx, blinded, c, blinded);
}

// Whether m raises back to c under e (words of n's size).
bool RaisesBack(sbmath::MontContext& ctx, std::span<const Word> e, const Word* m, const Word* c) {
    SecureWords check(ctx.Size());
    sbmath::MontExp(ctx, check.data(), m, e.data(), e.size(), [] { return true; });
    return std::memcmp(check.data(), c, ctx.Size() * sizeof(Word)) == 0;
}

// m := c^d mod n for c < n, through the CRT values; false when the result does not raise back
// to c under e (RFC 8017 leaves that check to the implementation; without it one faulty
// half gives away a factor of n).
bool PrivateOperation(const PrivateKey& key, const BigNum* c, BigNum* m) {
    const size_t nn = sbmath::WordCount(key.n.get());
    const SecureWords n = pkmath::WordsOf(key.n.get(), nn), p = pkmath::WordsOf(key.p),
                      q = pkmath::WordsOf(key.q), e = pkmath::WordsOf(key.e.get()),
                      dP = pkmath::WordsOf(key.dP), dQ = pkmath::WordsOf(key.dQ),
                      qInvBlob = pkmath::WordsOf(key.qInv), cw = pkmath::WordsOf(c, nn);
    const size_t pn = p.size(), qn = q.size();
    sbmath::MontContext ctxN(n.data(), nn), ctxP(p.data(), pn), ctxQ(q.data(), qn);

    // Each half of the input blinded with a random unit of its own, rP and rQ (the halves of
    // a random unit r modulo n): the bases are the halves of c x r^e, and the results are
    // freed of rP and rQ before they are joined. The two exponentiations by e and the two by
    // the CRT exponents run in pairs.
    SecureWords cP(pn), cQ(qn), rP(pn), rQ(qn), rPInverse(pn), rQInverse(qn), xP(pn), xQ(qn);
    ctxP.Reduce(cP.data(), cw.data(), nn);
    ctxQ.Reduce(cQ.data(), cw.data(), nn);
    BlindingPair(ctxP, rP.data(), rPInverse.data());
    BlindingPair(ctxQ, rQ.data(), rQInverse.data());
    pkmath::ExponentiatePair(ctxP, xP.data(), rP.data(), e, ctxQ, xQ.data(), rQ.data(), e);
    pkmath::MulMod(ctxP, xP.data(), cP.data(), xP.data());
    pkmath::MulMod(ctxQ, xQ.data(), cQ.data(), xQ.data());

    SecureWords m1(pn), m2(qn);
    pkmath::ExponentiatePair(ctxP, m1.data(), xP.data(), dP, ctxQ, m2.data(), xQ.data(), dQ);
    pkmath::MulMod(ctxP, m1.data(), m1.data(), rPInverse.data());
    pkmath::MulMod(ctxQ, m2.data(), m2.data(), rQInverse.data());

    // Garner's recombination: h = (m1 - m2) x qInv mod p, m = m2 + h x q (RFC 8017 5.1.2 step 2b),
    // each step of fixed length: m1 + p - (m2 mod p) lies in [1, 2p), and one masked subtraction
    // of p brings it below p.
    SecureWords t(pn), u(pn), qInv(pn), h(pn);
    ctxP.Reduce(t.data(), m2.data(), qn);
    const Word carry = sbmath::AddN(u.data(), m1.data(), p.data(), pn);
    const Word top = carry - sbmath::SubN(u.data(), u.data(), t.data(), pn);
    const Word borrow = sbmath::SubN(t.data(), u.data(), p.data(), pn);
    const Word keep = Word(0) - Word(top != borrow);  // all ones when u < p
    for (size_t i = 0; i < pn; ++i)
        t[i] = (u[i] & keep) | (t[i] & ~keep);
    ctxP.Reduce(qInv.data(), qInvBlob.data(), qInvBlob.size());
    pkmath::MulMod(ctxP, h.data(), t.data(), qInv.data());
    SecureWords y(std::max(nn, pn + qn), 0);
    sbmath::Mul(y.data(), h.data(), pn, q.data(), qn);
    sbmath::Add1(y.data() + qn, y.data() + qn, y.size() - qn,
                 sbmath::AddN(y.data(), y.data(), m2.data(), qn));
    // y < p q, which is n for every consistent key; a blob whose n is another number gets y
    // mod n, as a product modulo n would have given it. The test of y against n takes the
    // same time whatever y is (a subtraction over all of n's words).
    SecureWords out(nn);
    const bool belowN =
        sbmath::Normalized(y.data(), y.size()) <= nn && sbmath::SubN(out.data(), y.data(), n.data(), nn) != 0;
    if (belowN)
        std::memcpy(out.data(), y.data(), nn * sizeof(Word));
    else
        ctxN.Reduce(out.data(), y.data(), y.size());
    if (!RaisesBack(ctxN, e, out.data(), cw.data())) return false;
    sbmath::FromWords(m, out.data(), nn);
    m->NonNegative = true;
    return true;
}

// m := c^exponent mod n with a private exponent, blinded when e is known.
bool PrivateOperationRaw(const PublicKey& key, const BigNum* exponent, bool blind, const BigNum* c,
                         BigNum* m) {
    const size_t nn = sbmath::WordCount(key.n.get());
    const SecureWords n = pkmath::WordsOf(key.n.get(), nn), e = pkmath::WordsOf(key.e.get()),
                      d = pkmath::WordsOf(exponent), cw = pkmath::WordsOf(c, nn);
    sbmath::MontContext ctx(n.data(), nn);
    SecureWords x(nn), rInverse(nn), result(nn);
    if (blind) {
        Blind(ctx, e, cw.data(), x.data(), rInverse.data());
    } else {
        x = cw;
    }
    sbmath::MontExp(ctx, result.data(), x.data(), d.data(), d.size(), [] { return true; });
    if (blind) {
        pkmath::MulMod(ctx, result.data(), result.data(), rInverse.data());
        if (!RaisesBack(ctx, e, result.data(), cw.data())) return false;
    }
    sbmath::FromWords(m, result.data(), nn);
    m->NonNegative = true;
    return true;
}

void PublicOperation(const PublicKey& key, const BigNum* c, BigNum* m) {
    ExponentiateBigNumMontgomery(c, key.e.get(), key.n.get(), m);
}

// ---------------------------------------------------------------------------------------------
// Padding helpers

rtl::SecureBytes Mgf1(int32_t hashAlgorithm, Bytes seed, size_t length) {
    rtl::SecureBytes mask;
    const size_t hLen = pkmath::DigestLength(hashAlgorithm);
    if (hLen == 0 || length == 0) return mask;
    mask.reserve(length + hLen);
    uint8_t counter[4];
    for (uint32_t c = 0; mask.size() < length; ++c) {
        rtl::store_be32(counter, c);
        const rtl::SecureBytes block = pkmath::Digest(hashAlgorithm, {seed, Bytes(counter, 4)});
        mask.insert(mask.end(), block.begin(), block.end());
    }
    mask.resize(length);
    return mask;
}

void XorInto(uint8_t* target, const rtl::SecureBytes& mask) {
    for (size_t i = 0; i < mask.size(); ++i)
        target[i] ^= mask[i];
}

// Nonzero random bytes: a zero byte is drawn again, which keeps every value 1..255 equally
// likely (RFC 8017 7.2.1 step 2b).
void FillNonZeroRandom(uint8_t* p, size_t n) {
    GenerateRandomBytes(p, n);
    for (size_t i = 0; i < n; ++i)
        while (p[i] == 0)
            GenerateRandomBytes(p + i, 1);
}

// emLen bytes of EMSA-PSS (RFC 8017 9.1.1) for the digest, or false.
bool EncodePSS(Bytes digest, int32_t hashAlgorithm, int32_t saltSize, size_t emBits, rtl::SecureBytes& em) {
    const size_t hLen = pkmath::DigestLength(hashAlgorithm);
    if (hLen == 0 || saltSize < 0 || digest.size() != hLen) return false;
    const size_t sLen = size_t(saltSize);
    const size_t emLen = (emBits + 7) / 8;
    if (emLen < hLen + sLen + 2) return false;
    rtl::SecureBytes salt(sLen);
    if (sLen > 0) GenerateRandomBytes(salt.data(), sLen);
    static const uint8_t zeros[8] = {};
    const rtl::SecureBytes h = pkmath::Digest(hashAlgorithm, {Bytes(zeros, 8), digest, Bytes(salt)});
    const size_t dbLen = emLen - hLen - 1;
    em.assign(emLen, 0);
    em[dbLen - sLen - 1] = 0x01;
    if (sLen > 0) std::memcpy(em.data() + dbLen - sLen, salt.data(), sLen);
    XorInto(em.data(), Mgf1(hashAlgorithm, Bytes(h), dbLen));
    em[0] &= uint8_t(0xFF >> (8 * emLen - emBits));
    std::memcpy(em.data() + dbLen, h.data(), hLen);
    em[emLen - 1] = 0xBC;
    return true;
}

// Writes k bytes of m to the caller's buffer (room checked by the caller).
bool DeliverFixed(const BigNum* m, size_t k, void* out, int32_t& size) {
    const rtl::SecureBytes bytes = pkmath::ToFixed(m, k);
    return pkmath::Deliver(Bytes(bytes), out, size);
}

bool HasRoom(const void* out, int32_t size, int32_t needed) {
    return out != nullptr && size >= needed;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Key generation

bool GenerateRSAKey(int32_t Bits, void* PublicModulus, int32_t& PublicModulusSize, void* PublicExponent,
                    int32_t& PublicExponentSize, void* PrivateExponent, int32_t& PrivateExponentSize,
                    void* PrivateKeyBlob, int32_t& PrivateKeyBlobSize, const MathProgressCallback& Callback,
                    void* CallbackData) {
    if (Bits < 64 || Bits / 64 > BigNum::MaxLimbs / 2) return false;
    const int32_t bytes = Bits / 8;
    const int32_t blobNeed = 4 * bytes + bytes / 2 + 70;
    if (!HasRoom(PublicModulus, PublicModulusSize, bytes) || !HasRoom(PublicExponent, PublicExponentSize, 4) ||
        !HasRoom(PrivateExponent, PrivateExponentSize, bytes) ||
        !HasRoom(PrivateKeyBlob, PrivateKeyBlobSize, blobNeed)) {
        PublicModulusSize = bytes;
        PublicExponentSize = bytes;
        PrivateExponentSize = bytes;
        PrivateKeyBlobSize = blobNeed;
        return false;
    }
    return pkmath::Guarded([&] {
        const int32_t limbs = Bits / 64;
        const BigNumPtr e = pkmath::Number(kPublicExponent);
        const BigNumPtr p = MakeBigNum(), q = MakeBigNum(), pm1 = MakeBigNum(), qm1 = MakeBigNum();
        // A prime whose p - 1 is a multiple of e has no matching d: draw it again (e is prime, so
        // gcd(e, p - 1) = 1 exactly when e does not divide p - 1).
        auto drawPrime = [&](BigNum* prime, BigNum* minusOne, const BigNum* other) {
            for (;;) {
                GenerateBigNumPrime(prime, limbs, true, true, Callback, CallbackData);
                if (other != nullptr && AreBigNumsEqual(prime, other)) continue;
                SubtractWordFromBigNum(prime, 1, minusOne);
                uint32_t rest = 0;
                RemainderBigNumByWord(minusOne, kPublicExponent, rest);
                if (rest != 0) return;
            }
        };
        drawPrime(p.get(), pm1.get(), nullptr);
        drawPrime(q.get(), qm1.get(), p.get());

        const BigNumPtr n = MakeBigNum(), phi = MakeBigNum(), d = MakeBigNum(), g = MakeBigNum();
        MultiplyBigNums(p.get(), q.get(), n.get());
        MultiplyBigNums(pm1.get(), qm1.get(), phi.get());
        ComputeBigNumGCDAndInverse(e.get(), phi.get(), g.get(), d.get());
        const BigNumPtr dP = MakeBigNum(), dQ = MakeBigNum(), qInv = MakeBigNum();
        ReduceBigNumBySubtraction(d.get(), pm1.get(), dP.get());
        ReduceBigNumBySubtraction(d.get(), qm1.get(), dQ.get());
        pkmath::InverseModPrimeCT(q.get(), p.get(), qInv.get());

        rtl::SecureBytes content;
        content.reserve(size_t(blobNeed));
        const uint8_t version = 0;
        pkmath::AppendInteger(content, Bytes(&version, 1));
        for (const BigNum* v : {n.get(), e.get(), d.get(), p.get(), q.get(), dP.get(), dQ.get(), qInv.get()})
            pkmath::AppendInteger(content, v);
        const rtl::SecureBytes blob = pkmath::Wrap(0x30, content);

        const rtl::SecureBytes nb = pkmath::ToWords(n.get()), eb = pkmath::ToWords(e.get()),
                               db = pkmath::ToWords(d.get());
        return pkmath::Deliver(Bytes(nb), PublicModulus, PublicModulusSize) &&
               pkmath::Deliver(Bytes(eb), PublicExponent, PublicExponentSize) &&
               pkmath::Deliver(Bytes(db), PrivateExponent, PrivateExponentSize) &&
               pkmath::Deliver(Bytes(blob), PrivateKeyBlob, PrivateKeyBlobSize);
    });
}

// ---------------------------------------------------------------------------------------------
// Blobs

bool DecodeRSAPrivateKey(const void* Blob, int32_t BlobSize, void* PublicModulus, int32_t& PublicModulusSize,
                         void* PublicExponent, int32_t& PublicExponentSize, void* PrivateExponent,
                         int32_t& PrivateExponentSize) {
    std::vector<pkmath::Element> ints;
    if (!ReadKeyIntegers(View(Blob, BlobSize), 4, 9, false, ints)) return false;
    const Bytes n = ints[1].content, e = ints[2].content, d = ints[3].content;
    if (!HasRoom(PublicModulus, PublicModulusSize, int32_t(n.size())) ||
        !HasRoom(PublicExponent, PublicExponentSize, int32_t(e.size())) ||
        !HasRoom(PrivateExponent, PrivateExponentSize, int32_t(d.size()))) {
        PublicModulusSize = int32_t(n.size());
        PublicExponentSize = int32_t(e.size());
        PrivateExponentSize = int32_t(d.size());
        return false;
    }
    return pkmath::Deliver(n, PublicModulus, PublicModulusSize) &&
           pkmath::Deliver(e, PublicExponent, PublicExponentSize) &&
           pkmath::Deliver(d, PrivateExponent, PrivateExponentSize);
}

bool DecodeRSAPrivateKeyComponents(const void* Blob, int32_t BlobSize, void* N, int32_t& NSize, void* E,
                                   int32_t& ESize, void* D, int32_t& DSize, void* P, int32_t& PSize, void* Q,
                                   int32_t& QSize, void* DP, int32_t& DPSize, void* DQ, int32_t& DQSize, void* QInv,
                                   int32_t& QInvSize) {
    std::vector<pkmath::Element> ints;
    if (!ReadKeyIntegers(View(Blob, BlobSize), 9, 9, false, ints)) return false;
    void* outs[8] = {N, E, D, P, Q, DP, DQ, QInv};
    int32_t* sizes[8] = {&NSize, &ESize, &DSize, &PSize, &QSize, &DPSize, &DQSize, &QInvSize};
    bool room = true;
    for (size_t i = 0; i < 8; ++i)
        room = room && HasRoom(outs[i], *sizes[i], int32_t(ints[i + 1].content.size()));
    if (!room) {
        for (size_t i = 0; i < 8; ++i)
            *sizes[i] = int32_t(ints[i + 1].content.size());
        return false;
    }
    for (size_t i = 0; i < 8; ++i)
        pkmath::Deliver(ints[i + 1].content, outs[i], *sizes[i]);
    return true;
}

bool DecodeRSAPublicKey(const void* Buffer, int32_t Size, void* PublicModulus, int32_t& PublicModulusSize,
                        void* PublicExponent, int32_t& PublicExponentSize, ByteString& AlgID, bool InnerValuesOnly) {
    Bytes inner = View(Buffer, Size);
    std::vector<pkmath::Element> items;
    if (!InnerValuesOnly) {
        // SubjectPublicKeyInfo ::= SEQUENCE { AlgorithmIdentifier, BIT STRING } (RFC 5280 4.1)
        std::vector<pkmath::Element> top, alg;
        if (!pkmath::ReadElements(inner, top, 1) || top.size() != 1 || top[0].tag != 0x30) return false;
        if (!pkmath::ReadElements(top[0].content, items, 2) || items.size() != 2) return false;
        if (items[0].tag != 0x30 || items[1].tag != 0x03) return false;
        if (!pkmath::ReadElements(items[0].content, alg, 2) || alg.empty() || alg[0].tag != 0x06) return false;
        const ByteString oid(alg[0].content.begin(), alg[0].content.end());
        if (oid != SB_OID_RSA_ENCRYPTION) return false;
        // The key is a whole number of bytes: no unused bits.
        const Bytes bits = items[1].content;
        if (bits.empty() || bits[0] != 0) return false;
        AlgID = oid;
        inner = bits.subspan(1);
    }
    std::vector<pkmath::Element> top;
    if (!pkmath::ReadElements(inner, top, 1) || top.size() != 1 || top[0].tag != 0x30) return false;
    if (!pkmath::ReadElements(top[0].content, items, 2) || items.size() != 2) return false;
    if (items[0].tag != 0x02 || items[1].tag != 0x02) return false;
    const Bytes n = items[0].content, e = items[1].content;
    if (!HasRoom(PublicModulus, PublicModulusSize, int32_t(n.size())) ||
        !HasRoom(PublicExponent, PublicExponentSize, int32_t(e.size()))) {
        PublicModulusSize = int32_t(n.size());
        PublicExponentSize = int32_t(e.size());
        return false;
    }
    return pkmath::Deliver(n, PublicModulus, PublicModulusSize) &&
           pkmath::Deliver(e, PublicExponent, PublicExponentSize);
}

bool EncodeRSAPublicKey(const void* PublicModulus, int32_t PublicModulusSize, const void* PublicExponent,
                        int32_t PublicExponentSize, const ByteString& AlgID, void* OutBuffer, int32_t& OutSize,
                        bool InnerValuesOnly) {
    rtl::SecureBytes pair;
    pkmath::AppendInteger(pair, View(PublicModulus, PublicModulusSize));
    pkmath::AppendInteger(pair, View(PublicExponent, PublicExponentSize));
    rtl::SecureBytes out = pkmath::Wrap(0x30, pair);
    if (!InnerValuesOnly) {
        rtl::SecureBytes alg;
        pkmath::AppendHeader(alg, 0x06, AlgID.size());
        alg.insert(alg.end(), AlgID.begin(), AlgID.end());
        alg.push_back(0x05);  // NULL parameters
        alg.push_back(0x00);
        rtl::SecureBytes bits;
        bits.push_back(0);  // no unused bits
        bits.insert(bits.end(), out.begin(), out.end());
        rtl::SecureBytes spki = pkmath::Wrap(0x30, alg);
        const rtl::SecureBytes bitString = pkmath::Wrap(0x03, bits);
        spki.insert(spki.end(), bitString.begin(), bitString.end());
        out = pkmath::Wrap(0x30, spki);
    }
    return pkmath::Deliver(Bytes(out), OutBuffer, OutSize);
}

void MakeIntegerContent(const void* Bytes, int32_t Count, ByteString& Out) {
    const pkmath::Bytes b = View(Bytes, Count);
    Out.clear();
    if (b.empty() || (b[0] & 0x80) != 0) Out.push_back('\0');
    Out.append(b.begin(), b.end());
}

// ---------------------------------------------------------------------------------------------
// PKCS#1 v1.5

bool EncryptRSAPKCS1(const void* InBuffer, int32_t InSize, const void* PublicModulus, int32_t PublicModulusSize,
                     const void* PublicExponent, int32_t PublicExponentSize, void* OutBuffer, int32_t& OutSize) {
    return pkmath::Guarded([&] {
        PublicKey key;
        if (InSize < 0 || !LoadPublicKey(View(PublicModulus, PublicModulusSize),
                                         View(PublicExponent, PublicExponentSize), key))
            return false;
        if (key.k < kPKCS1Overhead || size_t(InSize) > key.k - kPKCS1Overhead) {
            OutSize = 0;
            return false;
        }
        if (!HasRoom(OutBuffer, OutSize, PublicModulusSize)) {
            OutSize = PublicModulusSize;
            return false;
        }
        // EM = 00 02 PS 00 M (RFC 8017 7.2.1 step 2)
        rtl::SecureBytes em(key.k, 0);
        em[1] = 0x02;
        const size_t psLen = key.k - size_t(InSize) - 3;
        FillNonZeroRandom(em.data() + 2, psLen);
        if (InSize > 0) std::memcpy(em.data() + 3 + psLen, InBuffer, size_t(InSize));
        const BigNumPtr m = pkmath::Load(Bytes(em)), c = MakeBigNum();
        PublicOperation(key, m.get(), c.get());
        return DeliverFixed(c.get(), key.k, OutBuffer, OutSize);
    });
}

bool DecryptRSAPKCS1(const void* InBuffer, int32_t InSize, const void* PrivateKeyBlob, int32_t PrivateKeyBlobSize,
                     void* OutBuffer, int32_t& OutSize) {
    return pkmath::Guarded([&] {
        PrivateKey key;
        if (!LoadPrivateKey(View(PrivateKeyBlob, PrivateKeyBlobSize), key)) return false;
        if (!HasRoom(OutBuffer, OutSize, key.L)) {
            OutSize = key.L;
            return false;
        }
        BigNumPtr c;
        const BigNumPtr m = MakeBigNum();
        if (key.k < kPKCS1Overhead || !LoadInput(View(InBuffer, InSize), key, c)) return false;
        if (!PrivateOperation(key, c.get(), m.get())) return false;
        rtl::SecureBytes em = pkmath::ToFixed(m.get(), key.k);

        // RFC 8017 7.2.2 step 3: EM = 00 02 PS 00 M with PS at least eight non-zero bytes. Every
        // byte is looked at and the verdict is one mask, so neither time nor memory accesses
        // tell which check failed (Bleichenbacher's oracle).
        const size_t k = em.size();
        size_t good = MaskIfZero(em[0]) & MaskIfEqual(em[1], 2);
        size_t looking = ~size_t(0), zeroIndex = 0;
        for (size_t i = 2; i < k; ++i) {
            const size_t isZero = MaskIfZero(em[i]);
            zeroIndex = Select(looking & isZero, i, zeroIndex);
            looking &= ~isZero;
        }
        good &= ~looking;
        good &= MaskIfGreaterOrEqual(zeroIndex, 2 + kMinPadding);
        const size_t start = Select(good, zeroIndex + 1, k);
        ShiftLeftCT(em.data(), k, start);
        if (!good) return false;
        return pkmath::Deliver(Bytes(em.data(), k - start), OutBuffer, OutSize);
    });
}

bool SignRSAPKCS1(const void* InBuffer, int32_t InSize, const void* PrivateKeyBlob, int32_t PrivateKeyBlobSize,
                  void* OutBuffer, int32_t& OutSize) {
    return pkmath::Guarded([&] {
        PrivateKey key;
        if (!LoadPrivateKey(View(PrivateKeyBlob, PrivateKeyBlobSize), key)) return false;
        if (!HasRoom(OutBuffer, OutSize, key.L)) {
            OutSize = key.L;
            return false;
        }
        if (InSize < 0 || key.k < kPKCS1Overhead || size_t(InSize) > key.k - kPKCS1Overhead) {
            OutSize = 0;
            return false;
        }
        // EM = 00 01 FF..FF 00 T (RFC 8017 9.2 step 5)
        rtl::SecureBytes em(key.k, 0xFF);
        em[0] = 0x00;
        em[1] = 0x01;
        em[key.k - size_t(InSize) - 1] = 0x00;
        if (InSize > 0) std::memcpy(em.data() + key.k - size_t(InSize), InBuffer, size_t(InSize));
        const BigNumPtr m = pkmath::Load(Bytes(em)), s = MakeBigNum();
        if (!PrivateOperation(key, m.get(), s.get())) return false;
        return DeliverFixed(s.get(), key.k, OutBuffer, OutSize);
    });
}

bool RecoverRSAPKCS1(const void* InBuffer, int32_t InSize, const void* PublicModulus, int32_t PublicModulusSize,
                     const void* PublicExponent, int32_t PublicExponentSize, void* OutBuffer, int32_t& OutSize) {
    if (!HasRoom(OutBuffer, OutSize, PublicModulusSize)) {
        OutSize = PublicModulusSize;
        return false;
    }
    return pkmath::Guarded([&] {
        PublicKey key;
        BigNumPtr s;
        if (!LoadPublicKey(View(PublicModulus, PublicModulusSize), View(PublicExponent, PublicExponentSize), key))
            return false;
        if (!LoadInput(View(InBuffer, InSize), key, s)) return false;
        const BigNumPtr m = MakeBigNum();
        PublicOperation(key, s.get(), m.get());
        const rtl::SecureBytes em = pkmath::ToFixed(m.get(), key.k);
        // 00 01, at least eight FF, 00, then the signed data. The data are public: no need to
        // hide where the checks stop.
        if (em.size() < kPKCS1Overhead || em[0] != 0 || em[1] != 1) return false;
        size_t i = 2;
        while (i < em.size() && em[i] == 0xFF)
            ++i;
        if (i == em.size() || em[i] != 0 || i - 2 < kMinPadding) return false;
        return pkmath::Deliver(Bytes(em).subspan(i + 1), OutBuffer, OutSize);
    });
}

// ---------------------------------------------------------------------------------------------
// OAEP

bool EncryptRSAOAEP(const void* InBuffer, int32_t InSize, const void* PublicModulus, int32_t PublicModulusSize,
                    const void* PublicExponent, int32_t PublicExponentSize, const void* Label, int32_t LabelSize,
                    int32_t HashAlgorithm, void* OutBuffer, int32_t& OutSize) {
    return pkmath::Guarded([&] {
        const size_t hLen = pkmath::DigestLength(HashAlgorithm);
        PublicKey key;
        if (hLen == 0 || InSize < 0) return false;
        if (!LoadPublicKey(View(PublicModulus, PublicModulusSize), View(PublicExponent, PublicExponentSize), key))
            return false;
        if (key.k < 2 * hLen + 2 || size_t(InSize) > key.k - 2 * hLen - 2) return false;
        if (!HasRoom(OutBuffer, OutSize, int32_t(key.k))) {
            OutSize = int32_t(key.k);
            return false;
        }
        // RFC 8017 7.1.1 step 2: DB = lHash || PS || 01 || M, EM = 00 || maskedSeed || maskedDB
        const size_t dbLen = key.k - hLen - 1;
        rtl::SecureBytes em(key.k, 0);
        uint8_t* seed = em.data() + 1;
        uint8_t* db = seed + hLen;
        const rtl::SecureBytes lHash = pkmath::Digest(HashAlgorithm, {View(Label, LabelSize)});
        std::memcpy(db, lHash.data(), hLen);
        db[dbLen - size_t(InSize) - 1] = 0x01;
        if (InSize > 0) std::memcpy(db + dbLen - size_t(InSize), InBuffer, size_t(InSize));
        GenerateRandomBytes(seed, hLen);
        XorInto(db, Mgf1(HashAlgorithm, Bytes(seed, hLen), dbLen));
        XorInto(seed, Mgf1(HashAlgorithm, Bytes(db, dbLen), hLen));
        const BigNumPtr m = pkmath::Load(Bytes(em)), c = MakeBigNum();
        PublicOperation(key, m.get(), c.get());
        return DeliverFixed(c.get(), key.k, OutBuffer, OutSize);
    });
}

bool DecryptRSAOAEP(const void* InBuffer, int32_t InSize, const void* PrivateKeyBlob, int32_t PrivateKeyBlobSize,
                    const void* Label, int32_t LabelSize, int32_t HashAlgorithm, void* OutBuffer, int32_t& OutSize) {
    return pkmath::Guarded([&] {
        const size_t hLen = pkmath::DigestLength(HashAlgorithm);
        PrivateKey key;
        if (hLen == 0 || !LoadPrivateKey(View(PrivateKeyBlob, PrivateKeyBlobSize), key)) return false;
        const int32_t room = key.L - 2 * int32_t(hLen) - 2;
        if (!HasRoom(OutBuffer, OutSize, room)) {
            OutSize = room > 0 ? room : 0;
            return false;
        }
        if (key.k < 2 * hLen + 2) return false;
        BigNumPtr c;
        const BigNumPtr m = MakeBigNum();
        if (!LoadInput(View(InBuffer, InSize), key, c)) return false;
        if (!PrivateOperation(key, c.get(), m.get())) return false;
        rtl::SecureBytes em = pkmath::ToFixed(m.get(), key.k);

        // RFC 8017 7.1.2 step 3, checked as one mask over every byte (Manger's oracle).
        const size_t k = em.size(), dbLen = k - hLen - 1;
        uint8_t* seed = em.data() + 1;
        uint8_t* db = seed + hLen;
        XorInto(seed, Mgf1(HashAlgorithm, Bytes(db, dbLen), hLen));
        XorInto(db, Mgf1(HashAlgorithm, Bytes(seed, hLen), dbLen));
        const rtl::SecureBytes lHash = pkmath::Digest(HashAlgorithm, {View(Label, LabelSize)});
        size_t good = MaskIfZero(em[0]) & (size_t(0) - size_t(rtl::ct_equal(db, lHash.data(), hLen)));
        size_t looking = ~size_t(0), oneIndex = 0;
        for (size_t i = hLen; i < dbLen; ++i) {
            const size_t isOne = MaskIfEqual(db[i], 1), isZero = MaskIfZero(db[i]);
            oneIndex = Select(looking & isOne, i, oneIndex);
            good &= ~(looking & ~isOne & ~isZero);
            looking &= ~isOne;
        }
        good &= ~looking;
        const size_t start = Select(good, oneIndex + 1, dbLen);
        ShiftLeftCT(db, dbLen, start);
        if (!good) return false;
        return pkmath::Deliver(Bytes(db, dbLen - start), OutBuffer, OutSize);
    });
}

// ---------------------------------------------------------------------------------------------
// PSS

void GenerateMGF1Mask(const void* Seed, int32_t SeedSize, int32_t MaskLen, int32_t HashAlgorithm, ByteArray& Mask) {
    Mask.clear();
    if (MaskLen <= 0) return;
    const rtl::SecureBytes mask = Mgf1(HashAlgorithm, View(Seed, SeedSize), size_t(MaskLen));
    Mask.assign(mask.begin(), mask.end());
}

bool EncodeEMSAPSS(const void* Digest, int32_t DigestSize, int32_t HashAlgorithm, int32_t SaltSize, int32_t EmBits,
                   void* OutBuffer, int32_t& OutSize) {
    if (EmBits <= 0) return false;
    const int32_t emLen = (EmBits + 7) / 8;
    if (!HasRoom(OutBuffer, OutSize, emLen)) {
        OutSize = emLen;
        return false;
    }
    rtl::SecureBytes em;
    if (!EncodePSS(View(Digest, DigestSize), HashAlgorithm, SaltSize, size_t(EmBits), em)) return false;
    return pkmath::Deliver(Bytes(em), OutBuffer, OutSize);
}

bool SignRSAPSS(const void* Digest, int32_t DigestSize, int32_t HashAlgorithm, int32_t SaltSize,
                const void* PrivateKeyBlob, int32_t PrivateKeyBlobSize, void* OutBuffer, int32_t& OutSize) {
    const Bytes blob = View(PrivateKeyBlob, PrivateKeyBlobSize);
    return pkmath::Guarded([&] {
        PrivateKey key;
        if (!LoadPrivateKey(blob, key)) {
            // A blob without the CRT values: the plain private exponent.
            std::vector<pkmath::Element> ints;
            if (!ReadKeyIntegers(blob, 4, 9, false, ints)) return false;
            return SignRSAPSSRaw(Digest, DigestSize, HashAlgorithm, SaltSize, ints[1].content.data(),
                                 int32_t(ints[1].content.size()), ints[2].content.data(),
                                 int32_t(ints[2].content.size()), ints[3].content.data(),
                                 int32_t(ints[3].content.size()), OutBuffer, OutSize);
        }
        if (!HasRoom(OutBuffer, OutSize, int32_t(key.k))) {
            OutSize = int32_t(key.k);
            return false;
        }
        const size_t modBits = size_t(CountBigNumBits(key.n.get()));
        rtl::SecureBytes em;
        if (!EncodePSS(View(Digest, DigestSize), HashAlgorithm, SaltSize, modBits - 1, em)) return false;
        const BigNumPtr m = pkmath::Load(Bytes(em)), s = MakeBigNum();
        if (!PrivateOperation(key, m.get(), s.get())) return false;
        return DeliverFixed(s.get(), key.k, OutBuffer, OutSize);
    });
}

bool SignRSAPSSRaw(const void* Digest, int32_t DigestSize, int32_t HashAlgorithm, int32_t SaltSize,
                   const void* PublicModulus, int32_t PublicModulusSize, const void* PublicExponent,
                   int32_t PublicExponentSize, const void* PrivateExponent, int32_t PrivateExponentSize,
                   void* OutBuffer, int32_t& OutSize) {
    return pkmath::Guarded([&] {
        const Bytes modulus = pkmath::StripZeros(View(PublicModulus, PublicModulusSize));
        if (modulus.empty()) {
            OutSize = 0;
            return false;
        }
        const int32_t k = int32_t(modulus.size());
        if (!HasRoom(OutBuffer, OutSize, k)) {
            OutSize = k;
            return false;
        }
        BigNumPtr n;
        if (!pkmath::Load(n, modulus)) return false;
        const size_t modBits = size_t(CountBigNumBits(n.get()));
        rtl::SecureBytes em;
        if (modBits < 2 || !EncodePSS(View(Digest, DigestSize), HashAlgorithm, SaltSize, modBits - 1, em))
            return false;
        return ExponentiateRSAFixedLength(em.data(), int32_t(em.size()), PublicModulus, PublicModulusSize,
                                          PublicExponent, PublicExponentSize, PrivateExponent, PrivateExponentSize,
                                          OutBuffer, OutSize);
    });
}

bool VerifyRSAPSS(const void* Digest, int32_t DigestSize, int32_t HashAlgorithm, int32_t SaltSize,
                  const void* PublicModulus, int32_t PublicModulusSize, const void* PublicExponent,
                  int32_t PublicExponentSize, const void* Signature, int32_t SignatureSize) {
    return pkmath::Guarded([&] {
        const size_t hLen = pkmath::DigestLength(HashAlgorithm);
        if (hLen == 0 || DigestSize < 0 || size_t(DigestSize) != hLen || SaltSize < 0) return false;
        PublicKey key;
        BigNumPtr s;
        if (!LoadPublicKey(View(PublicModulus, PublicModulusSize), View(PublicExponent, PublicExponentSize), key))
            return false;
        if (!LoadInput(View(Signature, SignatureSize), key, s)) return false;
        const BigNumPtr m = MakeBigNum();
        PublicOperation(key, s.get(), m.get());

        // RFC 8017 9.1.2 with emBits = modBits - 1 and emLen = ceil(emBits / 8), which is k - 1
        // when modBits - 1 is a multiple of 8: EM is then m without its (zero) top byte.
        const size_t emBits = size_t(CountBigNumBits(key.n.get())) - 1;
        const size_t emLen = (emBits + 7) / 8;
        rtl::SecureBytes em(emLen);
        if (!pkmath::ToFixed(m.get(), em.data(), emLen)) return false;
        const size_t sLen = size_t(SaltSize);
        if (emLen < hLen + sLen + 2 || em[emLen - 1] != 0xBC) return false;
        const size_t dbLen = emLen - hLen - 1;
        const uint8_t topMask = uint8_t(0xFF << (8 - (8 * emLen - emBits)));
        if ((em[0] & topMask) != 0) return false;
        const uint8_t* h = em.data() + dbLen;
        XorInto(em.data(), Mgf1(HashAlgorithm, Bytes(h, hLen), dbLen));
        em[0] &= uint8_t(~topMask);
        const size_t zeros = dbLen - sLen - 1;
        for (size_t i = 0; i < zeros; ++i)
            if (em[i] != 0) return false;
        if (em[zeros] != 0x01) return false;
        static const uint8_t eightZeros[8] = {};
        const rtl::SecureBytes expected = pkmath::Digest(
            HashAlgorithm, {Bytes(eightZeros, 8), View(Digest, DigestSize), Bytes(em.data() + dbLen - sLen, sLen)});
        return rtl::ct_equal(expected.data(), h, hLen);
    });
}

// ---------------------------------------------------------------------------------------------
// Raw operations and validation

bool ExponentiateRSARaw(const void* PublicModulus, int32_t PublicModulusSize, const void* Exponent,
                        int32_t ExponentSize, const void* InBuffer, int32_t InSize, void* OutBuffer, int32_t& OutSize) {
    if (!HasRoom(OutBuffer, OutSize, PublicModulusSize)) {
        OutSize = PublicModulusSize;
        return false;
    }
    return pkmath::Guarded([&] {
        PublicKey key;
        BigNumPtr c;
        if (!LoadPublicKey(View(PublicModulus, PublicModulusSize), View(Exponent, ExponentSize), key)) return false;
        if (!LoadInput(View(InBuffer, InSize), key, c)) return false;
        const BigNumPtr m = MakeBigNum();
        PublicOperation(key, c.get(), m.get());
        return DeliverFixed(m.get(), key.k, OutBuffer, OutSize);
    });
}

bool EncryptRSARaw(const void* InBuffer, int32_t InSize, const void* PublicModulus, int32_t PublicModulusSize,
                   const void* PublicExponent, int32_t PublicExponentSize, void* OutBuffer, int32_t& OutSize) {
    return ExponentiateRSARaw(PublicModulus, PublicModulusSize, PublicExponent, PublicExponentSize, InBuffer, InSize,
                              OutBuffer, OutSize);
}

bool DecryptRSARawCRT(const void* PrivateKeyBlob, int32_t PrivateKeyBlobSize, const void* InBuffer, int32_t InSize,
                      void* OutBuffer, int32_t& OutSize) {
    return pkmath::Guarded([&] {
        PrivateKey key;
        if (!LoadPrivateKey(View(PrivateKeyBlob, PrivateKeyBlobSize), key)) return false;
        if (!HasRoom(OutBuffer, OutSize, key.L)) {
            OutSize = key.L;
            return false;
        }
        BigNumPtr c;
        const BigNumPtr m = MakeBigNum();
        if (!LoadInput(View(InBuffer, InSize), key, c)) return false;
        if (!PrivateOperation(key, c.get(), m.get())) return false;
        return DeliverFixed(m.get(), key.k, OutBuffer, OutSize);
    });
}

bool ExponentiateRSAFixedLength(const void* InBuffer, int32_t InSize, const void* PublicModulus,
                                int32_t PublicModulusSize, const void* PublicExponent, int32_t PublicExponentSize,
                                const void* Exponent, int32_t ExponentSize, void* OutBuffer, int32_t& OutSize) {
    return pkmath::Guarded([&] {
        PublicKey key;
        const Bytes e = pkmath::StripZeros(View(PublicExponent, PublicExponentSize));
        const uint8_t three = 3;  // stands in for a missing e while the key is loaded
        if (!LoadPublicKey(View(PublicModulus, PublicModulusSize), e.empty() ? Bytes(&three, 1) : e, key))
            return false;
        if (!HasRoom(OutBuffer, OutSize, int32_t(key.k))) {
            OutSize = int32_t(key.k);
            return false;
        }
        BigNumPtr c, d;
        if (!LoadInput(View(InBuffer, InSize), key, c) || !pkmath::Load(d, View(Exponent, ExponentSize)))
            return false;
        const BigNumPtr m = MakeBigNum();
        if (!PrivateOperationRaw(key, d.get(), !e.empty(), c.get(), m.get())) return false;
        return DeliverFixed(m.get(), key.k, OutBuffer, OutSize);
    });
}

bool ValidateRSAPrivateKey(const void* Blob, int32_t BlobSize) {
    return pkmath::Guarded([&] {
        PrivateKey key;
        if (!LoadPrivateKey(View(Blob, BlobSize), key)) return false;
        const BigNumPtr d = pkmath::Load(key.d), p = pkmath::Load(key.p), q = pkmath::Load(key.q),
                        dP = pkmath::Load(key.dP), dQ = pkmath::Load(key.dQ), qInv = pkmath::Load(key.qInv);
        if (!IsBigNumProbablePrime(p.get()) || !IsBigNumProbablePrime(q.get())) return false;
        const BigNumPtr t = MakeBigNum(), pm1 = MakeBigNum(), qm1 = MakeBigNum(), r = MakeBigNum();
        MultiplyBigNums(p.get(), q.get(), t.get());
        if (!AreBigNumsEqual(t.get(), key.n.get())) return false;
        SubtractWordFromBigNum(p.get(), 1, pm1.get());
        SubtractWordFromBigNum(q.get(), 1, qm1.get());
        // e x d = 1 modulo p - 1 and modulo q - 1 (so modulo their least common multiple, which
        // holds for d taken modulo (p-1)(q-1) and for d taken modulo lcm(p-1, q-1) alike), and the
        // CRT values agree with it.
        auto isOneModulo = [&](const BigNum* a, const BigNum* b, const BigNum* m) {
            MultiplyBigNums(a, b, t.get());
            ReduceBigNumBySubtraction(t.get(), m, r.get());
            return CountBigNumBits(r.get()) == 1 && r->Limbs[0] == 1;
        };
        return isOneModulo(key.e.get(), d.get(), pm1.get()) && isOneModulo(key.e.get(), d.get(), qm1.get()) &&
               isOneModulo(key.e.get(), dP.get(), pm1.get()) &&
               isOneModulo(key.e.get(), dQ.get(), qm1.get()) && isOneModulo(q.get(), qInv.get(), p.get());
    });
}
