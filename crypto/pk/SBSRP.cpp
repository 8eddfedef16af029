// crypto/pk/SBSRP.cpp: SRP client computations (see the header).
#include "crypto/pk/SBSRP.h"

#include "crypto/base/SBConstants.h"
#include "crypto/pk/PublicKeyMath.h"

using pkmath::Bytes;

namespace {

// The minimal bytes of a number: its significant bytes, a single 00 for zero.
rtl::SecureBytes Minimal(const BigNum* v) {
    rtl::SecureBytes b = pkmath::ToTrimmed(v);
    if (b.empty()) b.push_back(0);
    return b;
}

// The value in at least `length` bytes (zeros in front): RFC 5054's PAD().
rtl::SecureBytes Padded(const BigNum* v, size_t length) {
    const size_t own = pkmath::ByteLength(v);
    return pkmath::ToFixed(v, own > length ? own : length);
}

BigNumPtr FromDigest(const rtl::SecureBytes& digest) {
    return pkmath::Load(Bytes(digest));
}

bool IsSixA(const std::string& variant) {
    return variant == "6a" || variant == "6A";
}

}  // namespace

void InitSRPContext(SRPContext& Context) {
    for (BigNumPtr* n : {&Context.s, &Context.A, &Context.a, &Context.B, &Context.Unused5, &Context.v,
                         &Context.Unused7, &Context.N, &Context.Unused9, &Context.g, &Context.x, &Context.S})
        *n = MakeBigNum();
    Context.Field13 = 1;
    Context.Salt.clear();
}

void FreeSRPContext(SRPContext& Context) {
    for (BigNumPtr* n : {&Context.s, &Context.A, &Context.a, &Context.B, &Context.Unused5, &Context.v,
                         &Context.Unused7, &Context.N, &Context.Unused9, &Context.g, &Context.x, &Context.S})
        n->reset();
    ClearBytes(Context.Salt);
}

void ComputeSRPPrivateKey(const ByteString& UserName, const ByteString& Password, const ByteArray& Salt, BigNum* X) {
    const uint8_t colon = ':';
    const rtl::SecureBytes inner = pkmath::Digest(
        SB_ALG_SHA1, {Bytes(reinterpret_cast<const uint8_t*>(UserName.data()), UserName.size()), Bytes(&colon, 1),
                      Bytes(reinterpret_cast<const uint8_t*>(Password.data()), Password.size())});
    const rtl::SecureBytes outer = pkmath::Digest(SB_ALG_SHA1, {Bytes(Salt), Bytes(inner)});
    const BigNumPtr x = FromDigest(outer);
    CopyBigNum(X, x.get());
}

void ComputeSRPPrivateKey(const ByteString& UserName, const ByteString& Password, const BigNum* Salt, BigNum* X) {
    const rtl::SecureBytes salt = Minimal(Salt);
    ComputeSRPPrivateKey(UserName, Password, ByteArray(salt.begin(), salt.end()), X);
}

void ComputeSRPMultiplier(const BigNum* N, const BigNum* G, const std::string& Variant, BigNum* K) {
    SetBigNumZero(K);
    K->NonNegative = true;
    if (Variant == "3") {
        K->Limbs[0] = 1;
    } else if (Variant == "6") {
        K->Limbs[0] = 3;
    } else if (IsSixA(Variant)) {
        // RFC 5054 2.6: k = SHA1(N | PAD(g)).
        const rtl::SecureBytes n = Minimal(N);
        const rtl::SecureBytes digest = pkmath::Digest(SB_ALG_SHA1, {Bytes(n), Bytes(Padded(G, n.size()))});
        ReduceBigNumBySubtraction(FromDigest(digest).get(), N, K);
    }
}

void ComputeSRPScrambler(const BigNum* N, const BigNum* A, const BigNum* B, const std::string& Variant, BigNum* U) {
    rtl::SecureBytes digest;
    if (Variant == "3") {
        // SRP-3: u is the first 32 bits of SHA1(B).
        digest = pkmath::Digest(SB_ALG_SHA1, {Bytes(Minimal(B))});
        digest.resize(4);
    } else if (IsSixA(Variant)) {
        // RFC 5054 2.6: u = SHA1(PAD(A) | PAD(B)).
        const rtl::SecureBytes a = Padded(A, Minimal(N).size());
        digest = pkmath::Digest(SB_ALG_SHA1, {Bytes(a), Bytes(Padded(B, a.size()))});
    } else {
        digest = pkmath::Digest(SB_ALG_SHA1, {Bytes(Minimal(A)), Bytes(Minimal(B))});
    }
    const BigNumPtr u = FromDigest(digest);
    CopyBigNum(U, u.get());
}

void InitSRPClient(const ByteString& UserName, const ByteString& Password, SRPContext& Context) {
    if (!Context.Salt.empty()) {
        ComputeSRPPrivateKey(UserName, Password, Context.Salt, Context.x.get());
    } else {
        ComputeSRPPrivateKey(UserName, Password, Context.s.get(), Context.x.get());
    }
    ExponentiateBigNumMontgomery(Context.g.get(), Context.x.get(), Context.N.get(), Context.v.get());
    FillBigNumRandom(Context.a.get(), 16);
    ExponentiateBigNumMontgomery(Context.g.get(), Context.a.get(), Context.N.get(), Context.A.get());
}

bool ComputeSRPClientSecret(SRPContext& Context) {
    return pkmath::Guarded([&] {
        const BigNum* N = Context.N.get();
        const BigNumPtr t = MakeBigNum(), k = MakeBigNum(), base = MakeBigNum(), u = MakeBigNum(), e = MakeBigNum(),
                        kt = MakeBigNum();
        // RFC 5054 2.5.4: the client aborts when B % N is zero (and, with it, when u is zero).
        ReduceBigNumBySubtraction(Context.B.get(), N, t.get());
        if (IsBigNumZero(t.get())) return false;
        ComputeSRPScrambler(N, Context.A.get(), Context.B.get(), "6a", u.get());
        if (IsBigNumZero(u.get())) return false;

        // base = (B + k N - k g^x) mod N: k g^x < k N keeps it positive before the reduction.
        ExponentiateBigNumMontgomery(Context.g.get(), Context.x.get(), N, t.get());
        ComputeSRPMultiplier(N, Context.g.get(), "6a", k.get());
        MultiplyBigNums(k.get(), t.get(), kt.get());
        MultiplyBigNums(k.get(), N, base.get());
        AddBigNums(base.get(), Context.B.get(), base.get());
        SubtractBigNums(base.get(), kt.get(), base.get());
        base->NonNegative = true;
        if (IsBigNumEven(N)) {
            ReduceBigNumBySubtraction(base.get(), N, t.get());
        } else {
            pkmath::ReduceCT(base.get(), N, t.get());
        }
        // e = u x + a; S = base^e mod N.
        MultiplyBigNums(u.get(), Context.x.get(), e.get());
        AddBigNums(e.get(), Context.a.get(), e.get());
        e->NonNegative = true;
        ExponentiateBigNumMontgomery(t.get(), e.get(), N, Context.S.get());
        return true;
    });
}

void BigNumToBytes(const BigNum* A, ByteArray& Out) {
    const rtl::SecureBytes words = pkmath::ToWords(A);
    Out.assign(words.begin(), words.end());
}

void BytesToBigNum(BigNum* A, const ByteArray& In) {
    const BigNumPtr n = pkmath::Load(Bytes(In));
    CopyBigNum(A, n.get());
}
