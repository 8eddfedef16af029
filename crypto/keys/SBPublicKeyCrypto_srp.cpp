// crypto/keys/SBPublicKeyCrypto_srp.cpp: the SRP key material (the server's N, g, s and B from an
// RFC 5054 ServerKeyExchange) and the SRP crypto object (the client's keys and premaster).
//
// A client must not compute with a group or server value it cannot trust (RFC 5054 section
// 3.1 and 2.5.4): the groups of RFC 5054 Appendix A are known by the SHA-256 of N; any other N
// must be a safe prime of at least 1024 bits; g must lie in 2 .. N - 2; B mod N and u must not
// be 0.
#include <cstring>

#include "crypto/base/SBConstants.h"
#include "crypto/keys/SBPublicKeyCrypto.h"
#include "crypto/pk/PublicKeyMath.h"
#include "rtl/Bytes.h"

namespace {

[[noreturn]] void Fail(const char* message) {
    throw EElPublicKeyCryptoError(message);
}

// RFC 5054 Appendix A: the SHA-256 of each N (big-endian, no leading zeros) and its g.
struct KnownGroup {
    int bits;
    uint32_t g;
    const char* nHash;
};
constexpr KnownGroup kGroups[] = {
    {1024, 2, "\x49\x4B\x6A\x80\x1B\x37\x9F\x37\xC9\xEE\x25\xD5\xDB\x7C\xD7\x0F\xFC\xFE\x53\xD0\x1B\x7C\x9E\x44\x70\xEA\xCA\x46\xBD\xA2\x4B\x39"},
    {1536, 2, "\x72\xAF\x4A\x20\xE5\x01\xA8\x93\xB7\xDC\x85\xF4\xEF\xAC\x51\x84\x5A\xB2\x1C\x10\x2D\x1E\x73\xF7\x00\x0E\xC6\x62\xDF\x7E\x20\x69"},
    {2048, 2, "\x91\xB7\x1D\x6B\x40\xD4\x39\x95\x45\x68\xD4\x12\xE8\x83\xDE\x51\x86\xF9\x38\x1E\x25\xAE\xF3\x6E\x7A\x46\x07\x72\x2F\x7E\x15\xCA"},
    {3072, 5, "\x48\xCF\x8B\x09\x2F\xBC\xE4\x35\x9D\x98\x71\xAB\xF7\x4F\x98\xE2\x5B\x61\x63\x37\x9E\xAA\x15\xCD\x90\x87\xE8\x00\xC6\xD1\xC5\x5C"},
    {4096, 5, "\x4E\xE9\x51\x87\x68\x2B\xCB\x23\x0A\xD2\x6A\x95\x20\x5F\x69\x20\xE8\x47\x08\xF6\x25\x1B\x38\x94\x32\x9B\x09\xEC\x23\x91\x9E\x33"},
    {6144, 5, "\xD1\xBF\xE6\xD0\x92\x5C\xE7\xE4\xDA\x26\x2B\x62\x86\x15\x14\xA7\x75\x5E\x35\x83\x1E\x42\x9F\x34\x3E\x7B\x86\x48\x48\x65\x7E\xFD"},
    {8192, 19, "\x39\xAB\x4F\xEA\xB9\x50\xA3\x12\x8F\xB7\x1A\xCC\xB9\xFC\x39\x65\xD8\x57\x01\x2E\x08\x19\x98\xA8\x59\x96\xE3\xEA\x8B\x3C\x3B\xCF"},
};

bool IsKnownGroup(const BigNum* n) {
    const rtl::SecureBytes bytes = pkmath::ToTrimmed(n);
    const rtl::SecureBytes hash = pkmath::Digest(SB_ALG_SHA256, {pkmath::Bytes(bytes)});
    for (const KnownGroup& g : kGroups)
        if (std::memcmp(hash.data(), g.nHash, 32) == 0) return true;
    return false;
}

// N and (N - 1) / 2 both prime.
bool IsSafePrime(const BigNum* n) {
    if (!IsBigNumProbablePrime(n)) return false;
    const BigNumPtr q = MakeBigNum();
    ShiftBigNumRight(n, q.get(), 1);
    q->NonNegative = true;
    return IsBigNumProbablePrime(q.get());
}

}  // namespace

TElSRPKeyMaterial::TElSRPKeyMaterial(TElCustomCryptoProvider* provider) : TElPublicKeyMaterial(provider) {
    InitSRPContext(context_);
}

TElSRPKeyMaterial::~TElSRPKeyMaterial() {
    FreeSRPContext(context_);
}

void TElSRPKeyMaterial::Assign(const TElKeyMaterial& source) {
    const auto* srp = dynamic_cast<const TElSRPKeyMaterial*>(&source);
    if (srp == nullptr) Fail(SPKInvalidKeyMaterialType);
    const SRPContext& from = srp->context_;
    const BigNumPtr SRPContext::*numbers[] = {&SRPContext::s,       &SRPContext::A, &SRPContext::a,
                                             &SRPContext::B,       &SRPContext::Unused5, &SRPContext::v,
                                             &SRPContext::Unused7, &SRPContext::N, &SRPContext::Unused9,
                                             &SRPContext::g,       &SRPContext::x, &SRPContext::S};
    for (auto member : numbers) {
        ByteArray bytes;
        BigNumToBytes((from.*member).get(), bytes);
        BytesToBigNum((context_.*member).get(), bytes);
        ClearBytes(bytes);
    }
    context_.Field13 = 1;
    context_.Salt = from.Salt;
    loaded_ = srp->loaded_;
}

std::unique_ptr<TElKeyMaterial> TElSRPKeyMaterial::Clone() const {
    auto copy = std::make_unique<TElSRPKeyMaterial>(provider_);
    copy->Assign(*this);
    return copy;
}

bool TElSRPKeyMaterial::LoadServerParams(const void* buffer, size_t size) {
    // RFC 5054 2.4: ServerSRPParams { opaque srp_N<1..2^16-1>; opaque srp_g<1..2^16-1>;
    // opaque srp_s<0..2^8-1>; opaque srp_B<1..2^16-1>; }. Anything after B (a signature) is
    // not ours.
    const auto* p = static_cast<const uint8_t*>(buffer);
    size_t at = 0;
    auto field = [&](size_t lengthBytes, ByteArray& out) {
        if (size < at + 2 || size - at < lengthBytes) return false;
        const size_t length = lengthBytes == 2 ? rtl::load_be16(p + at) : p[at];
        if (size - at - lengthBytes < length) return false;
        out.assign(p + at + lengthBytes, p + at + lengthBytes + length);
        at += lengthBytes + length;
        return true;
    };
    loaded_ = false;
    ByteArray n, g, s, b;
    if (!field(2, n)) return false;
    BytesToBigNum(context_.N.get(), n);
    if (!field(2, g)) return false;
    BytesToBigNum(context_.g.get(), g);
    if (!field(1, s)) return false;
    BytesToBigNum(context_.s.get(), s);
    context_.Salt = s;  // hashed as sent, leading zeros included (RFC 5054 2.6)
    if (!field(2, b)) return false;
    BytesToBigNum(context_.B.get(), b);
    loaded_ = true;
    return true;
}

ByteArray TElSRPKeyMaterial::GetSharedSecret() const {
    // RFC 5054 2.6: the premaster secret is S without its leading zero bytes, as peers send it.
    const rtl::SecureBytes s = pkmath::ToTrimmed(context_.S.get());
    return ByteArray(s.begin(), s.end());
}

// ---------------------------------------------------------------------------------------------

TElSRPPublicKeyCrypto::TElSRPPublicKeyCrypto(TElCustomCryptoProvider* provider) : TElPublicKeyCrypto(provider) {}

std::unique_ptr<TElSRPPublicKeyCrypto> TElSRPPublicKeyCrypto::CreateByOID(std::string_view,
                                                                          TElCustomCryptoProvider* provider) {
    return std::make_unique<TElSRPPublicKeyCrypto>(provider);
}

std::unique_ptr<TElSRPPublicKeyCrypto> TElSRPPublicKeyCrypto::CreateByAlgorithm(int32_t,
                                                                                TElCustomCryptoProvider* provider) {
    return std::make_unique<TElSRPPublicKeyCrypto>(provider);
}

void TElSRPPublicKeyCrypto::SetKeyMaterial(TElPublicKeyMaterial* material) {
    if (busy_) return;
    if (dynamic_cast<TElSRPKeyMaterial*>(material) == nullptr) Fail(SPKBadKeyMaterial);
    keyMaterial_ = material;
}

void TElSRPPublicKeyCrypto::ComputeClientKeys(const ByteString& userName, const ByteString& password, ByteArray& a) {
    auto* material = dynamic_cast<TElSRPKeyMaterial*>(keyMaterial_);
    if (material == nullptr) Fail(SPKBadKeyMaterial);
    if (!material->GetParamsLoaded()) Fail(SPKSRPNoParameters);
    SRPContext& ctx = material->Context();
    const BigNum* n = ctx.N.get();
    if (!IsKnownGroup(n) && (CountBigNumBits(n) < 1024 || !IsSafePrime(n))) Fail(SPKSRPBadGroup);
    const BigNumPtr nm1 = MakeBigNum(), rest = MakeBigNum();
    SubtractWordFromBigNum(n, 1, nm1.get());
    if (CountBigNumBits(ctx.g.get()) < 2 || !IsBigNumGreater(nm1.get(), ctx.g.get())) Fail(SPKSRPBadGenerator);
    ReduceBigNumBySubtraction(ctx.B.get(), n, rest.get());
    if (IsBigNumZero(rest.get())) Fail(SPKSRPBadServerValue);
    InitSRPClient(userName, password, ctx);
    if (!ComputeSRPClientSecret(ctx)) Fail(SPKSRPBadServerValue);
    BigNumToBytes(ctx.A.get(), a);
}
