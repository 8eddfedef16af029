// crypto/pk/PublicKeyMath.cpp: shared pieces of the public-key units (see the header).
#include "crypto/pk/PublicKeyMath.h"

#include <algorithm>
#include <cstring>

#include "crypto/base/SBASN1.h"
#include "crypto/math/SBMathKernel.h"
#include "crypto/math/SBRandom.h"
#include "rtl/Bytes.h"

namespace pkmath {

Bytes StripZeros(Bytes b) {
    size_t i = 0;
    while (i < b.size() && b[i] == 0)
        ++i;
    return b.subspan(i);
}

bool Load(BigNumPtr& out, Bytes b) {
    const Bytes s = StripZeros(b);
    if (s.size() > kMaxNumberBytes) return false;
    out = MakeBigNum();
    LoadBigNumFromBytes(out.get(), s.data(), int32_t(s.size()));
    out->NonNegative = true;
    return true;
}

BigNumPtr Load(Bytes b) {
    BigNumPtr n;
    if (!Load(n, b)) throw EElMathException("Number too large");
    return n;
}

BigNumPtr Number(uint32_t value) {
    BigNumPtr n = MakeBigNum();
    n->Limbs[0] = value;
    n->LimbCount = 1;
    n->NonNegative = true;
    return n;
}

size_t ByteLength(const BigNum* a) {
    int32_t c = a->LimbCount;
    while (c > 0 && a->Limbs[c - 1] == 0)
        --c;
    if (c == 0) return 0;
    return size_t(c) * 4 - size_t(__builtin_clz(a->Limbs[c - 1]) / 8);
}

bool ToFixed(const BigNum* a, uint8_t* out, size_t k) {
    if (ByteLength(a) > k) return false;
    const size_t limbs = a->LimbCount > 0 ? size_t(a->LimbCount) : 0;
    for (size_t i = 0; i < k; ++i) {
        // Byte i from the end is byte i % 4 of limb i / 4.
        const size_t limb = i / 4;
        out[k - 1 - i] = limb < limbs ? uint8_t(a->Limbs[limb] >> (8 * (i % 4))) : 0;
    }
    return true;
}

rtl::SecureBytes ToFixed(const BigNum* a, size_t k) {
    rtl::SecureBytes out(k);
    if (!ToFixed(a, out.data(), k)) throw EElMathException("Number too large");
    return out;
}

rtl::SecureBytes ToTrimmed(const BigNum* a) {
    return ToFixed(a, ByteLength(a));
}

rtl::SecureBytes ToWords(const BigNum* a) {
    int32_t size = 0;
    SaveBigNumToBytes(a, nullptr, size);
    rtl::SecureBytes out(static_cast<size_t>(size));
    if (size > 0) SaveBigNumToBytes(a, out.data(), size);
    return out;
}

void MulModCT(const BigNum* A, const BigNum* B, const BigNum* M, BigNum* R) {
    const BigNumPtr product = MakeBigNum();
    MultiplyBigNums(A, B, product.get());
    product->NonNegative = true;
    ReduceCT(product.get(), M, R);
}

SecureWords WordsOf(const BigNum* A, size_t n) {
    SecureWords w(n != 0 ? n : std::max<size_t>(sbmath::WordCount(A), 1));
    sbmath::ToWords(A, w.data(), w.size());
    return w;
}

namespace {

// out[0..n) := the big-endian bytes b as a number (b fits n words).
void LoadWords(Bytes b, sbmath::Word* out, size_t n) {
    std::fill(out, out + n, sbmath::Word(0));
    for (size_t j = 0; j < b.size(); ++j)  // byte j from the end is byte j % 8 of word j / 8
        out[j / 8] |= sbmath::Word(b[b.size() - 1 - j]) << (8 * (j % 8));
}

}  // namespace

SecureWords WordsOf(Bytes bigEndian, size_t n) {
    const Bytes b = StripZeros(bigEndian);
    const size_t own = std::max<size_t>((b.size() + 7) / 8, 1);
    if (n != 0 && own > n) throw EElMathException("Number too large");
    SecureWords w(n != 0 ? n : own);
    LoadWords(b, w.data(), w.size());
    return w;
}

void MulMod(sbmath::MontContext& ctx, sbmath::Word* R, const sbmath::Word* A, const sbmath::Word* B) {
    // A B / R' mod M, then times R' (R' = the context's 2^(64n)).
    ctx.Mul(R, A, B);
    ctx.ToMont(R, R);
}

void ReduceCT(const BigNum* A, const BigNum* M, BigNum* R) {
    if (IsBigNumZero(M) || IsBigNumEven(M)) {
        // Not a Montgomery modulus: the exponentiation's own road (and its errors).
        const BigNumPtr one = Number(1);
        ExponentiateBigNumMontgomery(A, one.get(), M, R);
        return;
    }
    // Montgomery reduction of A as the exponentiation reduces its base, without the
    // exponentiation by 1 after it.
    const size_t n = sbmath::WordCount(M);
    const SecureWords m = WordsOf(M, n), a = WordsOf(A);
    SecureWords r(n);
    {
        sbmath::MontContext ctx(m.data(), n);
        ctx.Reduce(r.data(), a.data(), a.size(), !A->NonNegative);
    }
    sbmath::FromWords(R, r.data(), n);
    R->NonNegative = true;
}

namespace {

// Whether the halves run as one paired IFMA ladder: processors with IFMA, moduli of the same
// word count in its range.
bool PairedCRT(size_t pn, size_t qn) {
    return pn == qn && pn >= sbmath::kIfmaMinWords && pn <= sbmath::kIfmaMaxWords && sbmath::IfmaActive();
}

}  // namespace

void ExponentiateCRT(const BigNum* C, const BigNum* DP, const BigNum* P, const BigNum* DQ, const BigNum* Q,
                     BigNum* M1, BigNum* M2) {
    const size_t n = sbmath::WordCount(P);
    const bool paired = PairedCRT(n, sbmath::WordCount(Q)) && !IsBigNumEven(P) && !IsBigNumEven(Q) &&
                        DP->NonNegative && DQ->NonNegative;
    if (!paired) {
        ExponentiateBigNumMontgomery(C, DP, P, M1);
        ExponentiateBigNumMontgomery(C, DQ, Q, M2);
        return;
    }
    const SecureWords p = WordsOf(P, n), q = WordsOf(Q, n), c = WordsOf(C), dp = WordsOf(DP),
                      dq = WordsOf(DQ);
    SecureWords x1(n), x2(n), r1(n), r2(n);
    {
        sbmath::MontContext ctx1(p.data(), n), ctx2(q.data(), n);
        // The base reduced by Montgomery products (time by sizes only), a negative one to
        // m - |C| mod m.
        ctx1.Reduce(x1.data(), c.data(), c.size(), !C->NonNegative);
        ctx2.Reduce(x2.data(), c.data(), c.size(), !C->NonNegative);
        ExponentiatePair(ctx1, r1.data(), x1.data(), dp, ctx2, r2.data(), x2.data(), dq);
    }
    sbmath::FromWords(M1, r1.data(), n);
    M1->NonNegative = true;
    sbmath::FromWords(M2, r2.data(), n);
    M2->NonNegative = true;
}

void ExponentiatePair(sbmath::MontContext& ctxP, sbmath::Word* M1, const sbmath::Word* B1,
                      std::span<const sbmath::Word> E1, sbmath::MontContext& ctxQ, sbmath::Word* M2,
                      const sbmath::Word* B2, std::span<const sbmath::Word> E2) {
    const auto always = [] { return true; };
    if (PairedCRT(ctxP.Size(), ctxQ.Size())) {
        sbmath::IfmaMontExp2(ctxP, M1, B1, E1.data(), E1.size(), ctxQ, M2, B2, E2.data(), E2.size(), always);
        return;
    }
    sbmath::MontExp(ctxP, M1, B1, E1.data(), E1.size(), always);
    sbmath::MontExp(ctxQ, M2, B2, E2.data(), E2.size(), always);
}

void InverseModPrimeCT(const BigNum* A, const BigNum* P, BigNum* R) {
    const BigNumPtr e = MakeBigNum();
    SubtractWordFromBigNum(P, 2, e.get());
    e->NonNegative = true;
    ExponentiateBigNumMontgomery(A, e.get(), P, R);
}

void RandomBelow(const BigNum* M, BigNum* R) {
    const int32_t bits = CountBigNumBits(M);
    if (bits < 2) throw EElMathException("Range too small");
    const int32_t bytes = (bits + 7) / 8;
    const int32_t spare = bytes * 8 - bits;
    rtl::SecureBytes buf(static_cast<size_t>(bytes));
    BigNumPtr candidate = MakeBigNum();
    for (;;) {
        GenerateRandomBytes(buf.data(), buf.size());
        buf[0] &= uint8_t(0xFF >> spare);
        LoadBigNumFromBytes(candidate.get(), buf.data(), bytes);
        candidate->NonNegative = true;
        // Half the candidates or more lie in range, so the loop ends after two draws on average.
        if (!IsBigNumZero(candidate.get()) && IsBigNumGreater(M, candidate.get())) break;
    }
    CopyBigNum(R, candidate.get());
    R->NonNegative = true;
}

void RandomBelow(const sbmath::Word* M, size_t n, std::span<sbmath::Word* const> out) {
    const size_t bits = sbmath::BitLength(M, n);
    if (bits < 2) throw EElMathException("Range too small");
    const size_t bytes = (bits + 7) / 8;
    const unsigned spare = unsigned(bytes * 8 - bits);
    // Each candidate is the bit length of M in random bits, kept when it lies in range, as the
    // BigNum form draws them; one draw from the random source serves every value still wanted.
    rtl::SecureBytes buf(bytes * out.size());
    std::vector<bool> done(out.size(), false);
    for (size_t pending = out.size(); pending > 0;) {
        GenerateRandomBytes(buf.data(), bytes * pending);
        size_t used = 0;
        for (size_t i = 0; i < out.size(); ++i) {
            if (done[i]) continue;
            uint8_t* b = buf.data() + bytes * used++;
            b[0] &= uint8_t(0xFF >> spare);
            sbmath::Word* r = out[i];
            LoadWords(Bytes(b, bytes), r, n);
            if (sbmath::Normalized(r, n) != 0 && sbmath::Cmp(r, M, n) < 0) {
                done[i] = true;
                --pending;
            }
        }
    }
}

bool Deliver(Bytes data, void* out, int32_t& size) {
    if (out == nullptr || size < 0 || size_t(size) < data.size()) {
        size = int32_t(data.size());
        return false;
    }
    if (!data.empty()) std::memcpy(out, data.data(), data.size());
    size = int32_t(data.size());
    return true;
}

bool ReadElement(Bytes data, size_t& offset, Element& out) {
    size_t pos = offset;
    if (pos + 2 > data.size()) return false;
    const uint8_t tag = data[pos++];
    if ((tag & 0x1F) == 0x1F) return false;  // high tag numbers appear in no key encoding
    size_t length = data[pos++];
    if (length & 0x80) {
        const size_t count = length & 0x7F;
        // 0x80 is the indefinite form, which DER and every key encoding exclude; four length
        // octets already exceed any key.
        if (count == 0 || count > 4 || pos + count > data.size()) return false;
        length = 0;
        for (size_t i = 0; i < count; ++i)
            length = (length << 8) | data[pos++];
    }
    if (length > data.size() - pos) return false;
    out.tag = tag;
    out.content = data.subspan(pos, length);
    out.whole = data.subspan(offset, pos + length - offset);
    offset = pos + length;
    return true;
}

bool ReadElements(Bytes data, std::vector<Element>& out, size_t max) {
    out.clear();
    size_t offset = 0;
    while (offset < data.size()) {
        if (out.size() == max) return false;
        Element e;
        if (!ReadElement(data, offset, e)) return false;
        out.push_back(e);
    }
    return true;
}

void AppendHeader(rtl::SecureBytes& out, uint8_t tag, size_t length) {
    out.push_back(tag);
    const ByteString len = EncodeDERLength(length);
    out.insert(out.end(), len.begin(), len.end());
}

void AppendInteger(rtl::SecureBytes& out, Bytes magnitude) {
    const Bytes m = StripZeros(magnitude);
    const bool pad = m.empty() || (m[0] & 0x80) != 0;
    const size_t length = m.size() + (pad ? 1 : 0);
    // Room first, so the vector does not move the secret to a new block while it grows (the
    // old block would be wiped by the allocator, but one copy at a time is enough).
    out.reserve(out.size() + length + 10);
    AppendHeader(out, 0x02, length);
    if (pad) out.push_back(0);
    out.insert(out.end(), m.begin(), m.end());
}

void AppendInteger(rtl::SecureBytes& out, const BigNum* value) {
    const rtl::SecureBytes bytes = ToTrimmed(value);
    AppendInteger(out, Bytes(bytes));
}

rtl::SecureBytes Wrap(uint8_t tag, const rtl::SecureBytes& content) {
    rtl::SecureBytes out;
    out.reserve(content.size() + 10);
    AppendHeader(out, tag, content.size());
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

}  // namespace pkmath
