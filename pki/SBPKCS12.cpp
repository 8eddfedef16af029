// pki/SBPKCS12.cpp: PKCS#12 key derivation, and the PFX reader and writer.
#include "pki/SBPKCS12.h"

#include <algorithm>
#include <cstring>

#include "crypto/base/SBASN1.h"
#include "crypto/base/SBASN1Tree.h"
#include "crypto/base/SBAlgorithmIdentifier.h"
#include "crypto/base/SBConstants.h"
#include "crypto/facade/SBHashFunction.h"
#include "crypto/facade/SBSymmetricCrypto.h"
#include "crypto/keys/SBPKCS8.h"
#include "crypto/keys/SBPublicKeyCrypto.h"
#include "crypto/math/SBMath.h"
#include "crypto/math/SBRandom.h"
#include "crypto/pk/SBDSA.h"
#include "crypto/pk/SBRSA.h"
#include "crypto/prov/SBCryptoProv.h"
#include "pki/SBPKCS7.h"
#include "pki/SBPKCS7Tree.h"

namespace {

// Output size u and block size v of the digests RFC 7292 B.2 is used with here.
bool DigestSizes(int32_t digest, size_t& u, size_t& v) {
    switch (digest) {
        case SB_ALG_SHA1:
            u = 20, v = 64;
            return true;
        case SB_ALG_MD5:
            u = 16, v = 64;
            return true;
        case SB_ALG_SHA256:
            u = 32, v = 64;
            return true;
        case SB_ALG_SHA384:
            u = 48, v = 128;
            return true;
        case SB_ALG_SHA512:
            u = 64, v = 128;
            return true;
        default:
            return false;
    }
}

// The input repeated and cut to v * ceil(length / v) bytes (B.2 steps 2 and 3).
void AppendStretched(rtl::SecureBytes& out, std::string_view in, size_t v) {
    if (in.empty()) return;
    const size_t total = v * ((in.size() + v - 1) / v);
    for (size_t i = 0; i < total; ++i)
        out.push_back(uint8_t(in[i % in.size()]));
}

}  // namespace

rtl::SecureBytes PKCS12PasswordToBMP(std::string_view password) {
    rtl::SecureBytes bmp;
    if (password.empty()) return bmp;
    ByteString le;
    StringToWideBytes(password, le);
    bmp.reserve(le.size() + 2);
    for (size_t i = 0; i + 1 < le.size(); i += 2) {
        bmp.push_back(uint8_t(le[i + 1]));
        bmp.push_back(uint8_t(le[i]));
    }
    ClearString(le);
    bmp.push_back(0);
    bmp.push_back(0);
    return bmp;
}

rtl::SecureBytes DerivePKCS12Key(std::string_view password, std::string_view salt, int32_t id, int32_t n,
                                 int32_t iterations, int32_t digest) {
    const rtl::SecureBytes bmp = PKCS12PasswordToBMP(password);
    return DerivePKCS12KeyFromBMP(std::string_view(reinterpret_cast<const char*>(bmp.data()), bmp.size()),
                                  salt, id, n, iterations, digest);
}

rtl::SecureBytes DerivePKCS12KeyFromBMP(std::string_view bmpPassword, std::string_view salt, int32_t id,
                                        int32_t n, int32_t iterations, int32_t digest) {
    size_t u = 0, v = 0;
    rtl::SecureBytes out;
    if (!DigestSizes(digest, u, v) || n <= 0) return out;
    const rtl::SecureBytes d(v, uint8_t(id));
    rtl::SecureBytes i;
    AppendStretched(i, salt, v);
    AppendStretched(i, bmpPassword, v);
    rtl::SecureBytes b(v);
    TElHashFunction h(digest);
    out.reserve(size_t(n) + u);
    while (out.size() < size_t(n)) {
        // A_i = H^r(D || I)
        h.Reset();
        h.Update(d.data(), d.size());
        h.Update(i.data(), i.size());
        ByteString a = h.Finish();
        for (int32_t r = 1; r < iterations; ++r) {
            h.Reset();
            h.Update(a.data(), a.size());
            ByteString next = h.Finish();
            ClearString(a);
            a.swap(next);
        }
        out.insert(out.end(), a.begin(), a.end());
        if (out.size() >= size_t(n)) {
            ClearString(a);
            break;
        }
        // I_j := (I_j + B + 1) mod 2^(8v) for every v-byte block of I, B being A repeated.
        for (size_t k = 0; k < v; ++k)
            b[k] = uint8_t(a[k % a.size()]);
        ClearString(a);
        for (size_t j = 0; j < i.size(); j += v) {
            unsigned carry = 1;
            for (size_t k = v; k-- > 0;) {
                const unsigned sum = unsigned(i[j + k]) + b[k] + carry;
                i[j + k] = uint8_t(sum);
                carry = sum >> 8;
            }
        }
    }
    out.resize(size_t(n));
    return out;
}

// ---------------------------------------------------------------------------------------------
// The PFX

namespace {

using namespace pkcs7tree;

// RFC 7292 appendix D and C.
constexpr std::string_view kKeyBag{"\x2A\x86\x48\x86\xF7\x0D\x01\x0C\x0A\x01\x01", 11};
constexpr std::string_view kShroudedKeyBag{"\x2A\x86\x48\x86\xF7\x0D\x01\x0C\x0A\x01\x02", 11};
constexpr std::string_view kCertBag{"\x2A\x86\x48\x86\xF7\x0D\x01\x0C\x0A\x01\x03", 11};
constexpr std::string_view kX509Certificate{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x16\x01", 10};
constexpr std::string_view kLocalKeyId{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x15", 9};

constexpr size_t kMacSaltSize = 20;
constexpr size_t kPBESaltSize = 8;
// Written for a PFX: 01 00 00 01 for the first certificate, counting up.
constexpr uint32_t kFirstLocalKeyId = 0x01000001;

// The PKCS#12 PBE schemes (RFC 7292 C): cipher, key and IV sizes.
struct PBEScheme {
    int32_t cipher = 0;
    size_t keySize = 0;
    size_t ivSize = 0;
};

bool SchemeOf(int32_t pbe, PBEScheme& s) {
    switch (pbe) {
        case SB_ALG_PKCS12_SHA1_RC4_128:
            s = {SB_ALG_RC4, 16, 0};
            return true;
        case SB_ALG_PKCS12_SHA1_RC4_40:
            s = {SB_ALG_RC4, 5, 0};
            return true;
        case SB_ALG_PKCS12_SHA1_3DES:
            s = {SB_ALG_3DES, 24, 8};
            return true;
        case SB_ALG_PKCS12_SHA1_RC2_128:
            s = {SB_ALG_RC2, 16, 8};
            return true;
        case SB_ALG_PKCS12_SHA1_RC2_40:
            s = {SB_ALG_RC2, 5, 8};
            return true;
        default:
            return false;
    }
}

std::string_view View(const rtl::SecureBytes& b) {
    return std::string_view(reinterpret_cast<const char*>(b.data()), b.size());
}

// pkcs-12PbeParams ::= SEQUENCE { salt OCTET STRING, iterations INTEGER } (RFC 7292 C).
bool ReadPBEParams(std::string_view der, ByteString& salt, int32_t& iterations) {
    TElASN1ConstrainedTag root;
    if (!LoadTagTree(root, der) || root.GetCount() != 1 || !root.GetChild(0)->CheckType(0x30, true))
        return false;
    const auto& seq = static_cast<const TElASN1ConstrainedTag&>(*root.GetChild(0));
    const TElASN1SimpleTag* s = PrimitiveChild(seq, 0, 0x04);
    const TElASN1SimpleTag* count = PrimitiveChild(seq, 1, 0x02);
    uint32_t n = 0;
    if (seq.GetCount() != 2 || s == nullptr || count == nullptr ||
        !ReadTagIntegerBounded(*count, TElPKCS12Message::MaxIterationCount, n))
        return false;
    salt = s->GetContent();
    iterations = int32_t(n);
    return true;
}

ByteString WritePBEParams(std::string_view salt, int32_t iterations) {
    TElASN1ConstrainedTag seq;
    seq.TagByte = 0x30;
    AddSimpleChild(seq, 0x04, salt);
    WriteTagInteger(AddSimpleChild(seq, 0x02), uint32_t(iterations));
    return SaveTagToString(seq);
}

// The PKCS#12 PBE schemes are the only ones read here: the PKCS#5 schemes (PBES1 rows and
// PBES2, which OpenSSL 3 writes by default) are as unsupported as an unknown OID, so a file
// under them says so instead of failing as if the password were wrong.

// Runs the scheme's cipher: RC4 as a stream, triple DES and RC2 in CBC mode with PKCS#5
// padding, which the cipher layer checks whole (1 to 8 bytes, all equal) when decrypting.
// Raises on any failure.
rtl::SecureBytes Crypt(const PBEScheme& scheme, std::string_view bmpPassword, std::string_view salt,
                       int32_t iterations, const void* data, size_t size, bool encrypt) {
    const rtl::SecureBytes key =
        DerivePKCS12KeyFromBMP(bmpPassword, salt, 1, int32_t(scheme.keySize), iterations, SB_ALG_SHA1);
    const rtl::SecureBytes iv =
        scheme.ivSize != 0
            ? DerivePKCS12KeyFromBMP(bmpPassword, salt, 2, int32_t(scheme.ivSize), iterations, SB_ALG_SHA1)
            : rtl::SecureBytes();
    std::unique_ptr<TElSymmetricCrypto> cipher = TElSymmetricCryptoFactory().CreateInstance(scheme.cipher);
    if (!cipher) throw ECryptoLibraryError("cipher unavailable");
    TElSymmetricKeyMaterial material;
    material.SetKey(key);
    material.SetIV(iv);
    cipher->SetKeyMaterial(&material);
    size_t outSize = 0;
    if (encrypt)
        cipher->Encrypt(data, size, nullptr, outSize);
    else
        cipher->Decrypt(data, size, nullptr, outSize);
    rtl::SecureBytes out(std::max<size_t>(outSize, 1));
    outSize = out.size();
    if (encrypt)
        cipher->Encrypt(data, size, out.data(), outSize);
    else
        cipher->Decrypt(data, size, out.data(), outSize);
    out.resize(outSize);
    return out;
}

// Decrypts under the PKCS#12 PBE an AlgorithmIdentifier names: 0, or the code for a scheme
// that is no PKCS#12 PBE, for parameters that do not read (badParams: each structure names its
// own), or for a decryption that fails (a wrong password shows as bad padding).
int32_t DecryptPBE(std::string_view bmp, std::string_view oid, std::string_view params,
                   std::string_view ciphertext, int32_t badParams, rtl::SecureBytes& plain) {
    PBEScheme scheme;
    if (!SchemeOf(GetPBEAlgorithmByOID(oid), scheme)) return SB_PKCS12_ERROR_UNSUPPORTED_PBE_ALGORITHM;
    ByteString salt;
    int32_t iterations = 0;
    if (!ReadPBEParams(params, salt, iterations)) return badParams;
    try {
        plain = Crypt(scheme, bmp, salt, iterations, ciphertext.data(), ciphertext.size(), false);
    } catch (const rtl::Exception&) {
        return SB_PKCS12_ERROR_INVALID_PASSWORD;
    }
    return 0;
}

// Encrypts under the PKCS#12 PBE of the code given, with a fresh salt: the AlgorithmIdentifier's
// OID and parameters and the ciphertext; 0x1F0B for a code without an OID, 0x1F0C for one
// without PKCS#12 key and IV sizes, or a cipher that fails.
int32_t EncryptPBE(int32_t pbe, std::string_view bmp, int32_t iterations, std::string_view plain,
                   ByteString& oid, ByteString& params, rtl::SecureBytes& ciphertext) {
    oid = GetOIDByPBEAlgorithm(pbe);
    if (oid.empty()) return SB_PKCS12_ERROR_UNSUPPORTED_PBE_ALGORITHM;
    PBEScheme scheme;
    if (!SchemeOf(pbe, scheme)) return SB_PKCS12_ERROR_INTERNAL_ERROR;
    ByteString salt(kPBESaltSize, '\0');
    GenerateRandomBytes(salt.data(), salt.size());
    params = WritePBEParams(salt, iterations);
    try {
        ciphertext = Crypt(scheme, bmp, salt, iterations, plain.data(), plain.size(), true);
    } catch (const rtl::Exception&) {
        return SB_PKCS12_ERROR_INTERNAL_ERROR;
    }
    return 0;
}

// The PFX MAC: an HMAC over the AuthenticatedSafe's DER under the digest given,
// keyed with that digest's size derived from the password and the MAC salt.
ByteString ComputeMac(std::string_view bmp, std::string_view salt, int32_t iterations, int32_t digest,
                      std::string_view authSafe) {
    const rtl::SecureBytes key =
        DerivePKCS12KeyFromBMP(bmp, salt, 3, GetDigestSizeBits(digest) / 8, iterations, digest);
    TElHMACKeyMaterial material;
    material.SetKey(key);
    const std::unique_ptr<TElHashFunction> hmac =
        TElHashFunction::CreateWithKey(GetHMACAlgorithmByHashAlgorithm(digest), &material);
    hmac->Update(authSafe.data(), authSafe.size());
    return hmac->Finish();
}

// Two numbers are equal when their bytes are, or when one has a single leading 00 more.
bool SameNumber(std::string_view a, std::string_view b) {
    if (a.size() == b.size() + 1 && !a.empty() && a[0] == '\0') a.remove_prefix(1);
    if (b.size() == a.size() + 1 && !b.empty() && b[0] == '\0') b.remove_prefix(1);
    return a == b;
}

// Numbers decoded from a key blob, wiped when they go.
struct Numbers {
    std::vector<ByteString> v;
    explicit Numbers(size_t n) : v(n) {}
    ~Numbers() {
        for (auto& s : v)
            ClearString(s);
    }
};

bool RSAKey(std::string_view blob, Numbers& out) {
    int32_t n = 0, e = 0, d = 0;
    DecodeRSAPrivateKey(blob.data(), int32_t(blob.size()), nullptr, n, nullptr, e, nullptr, d);
    if (n <= 0 || e <= 0 || d <= 0) return false;
    out.v[0].resize(size_t(n));
    out.v[1].resize(size_t(e));
    out.v[2].resize(size_t(d));
    if (!DecodeRSAPrivateKey(blob.data(), int32_t(blob.size()), out.v[0].data(), n, out.v[1].data(), e,
                             out.v[2].data(), d))
        return false;
    out.v[0].resize(size_t(n));
    out.v[1].resize(size_t(e));
    out.v[2].resize(size_t(d));
    return n > 0 && e > 0 && d > 0;
}

bool DSAKey(std::string_view blob, Numbers& out) {
    int32_t s[5] = {};
    DecodeDSAPrivateKey(blob.data(), int32_t(blob.size()), nullptr, s[0], nullptr, s[1], nullptr, s[2],
                        nullptr, s[3], nullptr, s[4]);
    for (int i = 0; i < 5; ++i) {
        if (s[i] <= 0) return false;
        out.v[size_t(i)].resize(size_t(s[i]));
    }
    if (!DecodeDSAPrivateKey(blob.data(), int32_t(blob.size()), out.v[0].data(), s[0], out.v[1].data(), s[1],
                             out.v[2].data(), s[2], out.v[3].data(), s[3], out.v[4].data(), s[4]))
        return false;
    for (int i = 0; i < 5; ++i) {
        if (s[i] <= 0) return false;
        out.v[size_t(i)].resize(size_t(s[i]));
    }
    return true;
}

// g^x mod p == y, for a bare DSA x found in a key bag: the key is attached only to the
// certificate whose public value it produces.
bool DSAPublicMatches(const ByteString& p, const ByteString& g, const ByteString& y, std::string_view x) {
    try {
        BigNumPtr P = MakeBigNum(), G = MakeBigNum(), X = MakeBigNum(), Y = MakeBigNum(), R = MakeBigNum();
        LoadBigNumFromBytes(P.get(), p.data(), int32_t(p.size()));
        LoadBigNumFromBytes(G.get(), g.data(), int32_t(g.size()));
        LoadBigNumFromBytes(X.get(), x.data(), int32_t(x.size()));
        LoadBigNumFromBytes(Y.get(), y.data(), int32_t(y.size()));
        TrimBigNum(P.get());
        if (IsBigNumZero(P.get())) return false;
        ExponentiateBigNumMontgomery(G.get(), X.get(), P.get(), R.get());
        TrimBigNum(R.get());
        TrimBigNum(Y.get());
        return AreBigNumsEqual(R.get(), Y.get());
    } catch (const rtl::Exception&) {
        return false;
    }
}

// INTEGER content from unsigned big-endian bytes (00 in front of a top bit).
void AddUnsignedInteger(TElASN1ConstrainedTag& parent, std::string_view magnitude) {
    WriteTagIntegerBytes(AddSimpleChild(parent, 0x02), magnitude.data(), magnitude.size());
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Reading

struct TElPKCS12Message::Reader {
    TElPKCS12Message& m;
    std::string_view bmp;

    int32_t AuthenticatedSafe(std::string_view octets);
    int32_t SafeContents(std::string_view der);
    int32_t SafeBag(const TElASN1ConstrainedTag& bag);
    int32_t ShroudedKeyBag(const TElASN1ConstrainedTag& value);
    int32_t CertBag(const TElASN1ConstrainedTag& value);
    int32_t PrivateKeyInfo(std::string_view der);
    int32_t Mac(const TElASN1ConstrainedTag& macData, std::string_view authSafe);
};

int32_t TElPKCS12Message::Reader::AuthenticatedSafe(std::string_view octets) {
    TElASN1ConstrainedTag root;
    if (!LoadTagTree(root, octets) || root.GetCount() != 1) return SB_PKCS12_ERROR_INVALID_ASN_DATA;
    if (!root.GetChild(0)->CheckType(0x30, true)) return SB_PKCS12_ERROR_INVALID_AUTHENTICATED_SAFE_DATA;
    const auto& safes = static_cast<const TElASN1ConstrainedTag&>(*root.GetChild(0));
    for (int i = 0; i < safes.GetCount(); ++i) {
        if (!safes.GetChild(i)->CheckType(0x30, true)) return SB_PKCS12_ERROR_INVALID_AUTHENTICATED_SAFE_DATA;
        const ByteString der = SaveTagToString(*safes.GetChild(i));
        TElPKCS7Message info;
        if (info.LoadFromBuffer(der.data(), der.size()) != 0)
            return SB_PKCS12_ERROR_INVALID_AUTHENTICATED_SAFE_DATA;
        int32_t r;
        if (info.ContentType == ctData) {
            r = SafeContents(info.Data);
        } else if (info.ContentType == ctEncryptedData) {
            const TElPKCS7EncryptedContent& ec = info.GetEncryptedData().EncryptedContent;
            rtl::SecureBytes plain;
            r = DecryptPBE(bmp, ec.ContentEncryptionAlgorithm, ec.ContentEncryptionAlgorithmParams,
                           ec.GetEncryptedContent(), SB_PKCS12_ERROR_INVALID_PBE_ALGORITHM_PARAMS, plain);
            if (r == 0) r = SafeContents(View(plain));
        } else {
            return SB_PKCS12_ERROR_INVALID_SAFE_CONTENTS;
        }
        if (r != 0) return r;
    }
    return 0;
}

// SafeContents ::= SEQUENCE OF SafeBag (RFC 7292 4.2).
int32_t TElPKCS12Message::Reader::SafeContents(std::string_view der) {
    struct Wiped {
        TElASN1ConstrainedTag tag;
        ~Wiped() { WipeTagTree(tag); }
    } root;
    if (!LoadTagTree(root.tag, der) || root.tag.GetCount() != 1 ||
        !root.tag.GetChild(0)->CheckType(0x30, true))
        return SB_PKCS12_ERROR_INVALID_SAFE_CONTENTS;
    const auto& bags = static_cast<const TElASN1ConstrainedTag&>(*root.tag.GetChild(0));
    for (int i = 0; i < bags.GetCount(); ++i) {
        const TElASN1ConstrainedTag* bag = ConstructedChild(bags, i, 0x30);
        if (bag == nullptr) return SB_PKCS12_ERROR_INVALID_SAFE_CONTENTS;
        if (const int32_t r = SafeBag(*bag); r != 0) return r;
    }
    return 0;
}

// SafeBag ::= SEQUENCE { bagId OID, bagValue [0] EXPLICIT, bagAttributes SET OPTIONAL }. The
// attributes (friendly names, local key identifiers) are not needed to pair keys with
// certificates: the keys themselves say which certificate they complete.
int32_t TElPKCS12Message::Reader::SafeBag(const TElASN1ConstrainedTag& bag) {
    if (bag.GetCount() < 2 || bag.GetCount() > 3) return SB_PKCS12_ERROR_INVALID_SAFE_BAG;
    const TElASN1SimpleTag* id = PrimitiveChild(bag, 0, 0x06);
    const TElASN1ConstrainedTag* wrapper = ConstructedChild(bag, 1, 0xA0);
    if (id == nullptr || wrapper == nullptr || wrapper->GetCount() != 1 ||
        !wrapper->GetChild(0)->IsConstrained())
        return SB_PKCS12_ERROR_INVALID_SAFE_BAG;
    const auto& value = static_cast<const TElASN1ConstrainedTag&>(*wrapper->GetChild(0));
    const ByteString type = id->GetContent();
    if (type == kShroudedKeyBag) return ShroudedKeyBag(value);
    if (type == kKeyBag) {
        ByteString der = SaveTagToString(value);
        const int32_t r = PrivateKeyInfo(der);
        ClearString(der);
        return r;
    }
    if (type == kCertBag) return CertBag(value);
    return SB_PKCS12_ERROR_INVALID_SAFE_BAG;
}

// pkcs8ShroudedKeyBag: an EncryptedPrivateKeyInfo under a PKCS#12 PBE (RFC 7292 4.2.2).
int32_t TElPKCS12Message::Reader::ShroudedKeyBag(const TElASN1ConstrainedTag& value) {
    ByteString oid, params;
    if (!value.CheckType(0x30, true) || value.GetCount() != 2 ||
        ReadAlgorithmIdentifier(*value.GetChild(0), oid, params) != 0 ||
        PrimitiveChild(value, 1, 0x04) == nullptr)
        return SB_PKCS12_ERROR_INVALID_SHROUDED_KEY_BAG;
    rtl::SecureBytes plain;
    if (const int32_t r = DecryptPBE(bmp, oid, params, PrimitiveChild(value, 1, 0x04)->GetContent(),
                                     SB_PKCS12_ERROR_INVALID_SHROUDED_KEY_BAG, plain);
        r != 0)
        return r;
    return PrivateKeyInfo(View(plain));
}

int32_t TElPKCS12Message::Reader::PrivateKeyInfo(std::string_view der) {
    TElPKCS8PrivateKeyInfo info;
    switch (const int32_t r = info.LoadFromBuffer(der.data(), der.size())) {
        case 0:
            break;
        case SB_PKCS8_ERROR_INVALID_ASN_DATA:
            return SB_PKCS12_ERROR_INVALID_PASSWORD;
        case SB_PKCS8_ERROR_INVALID_FORMAT:
        case SB_PKCS8_ERROR_INVALID_VERSION:
            return SB_PKCS12_ERROR_INVALID_PRIVATE_KEY;
        default:
            return r;
    }
    m.keys_.emplace_back(info.PrivateKey.begin(), info.PrivateKey.end());
    return 0;
}

// CertBag ::= SEQUENCE { certId OID, certValue [0] EXPLICIT OCTET STRING } (RFC 7292 4.2.3).
int32_t TElPKCS12Message::Reader::CertBag(const TElASN1ConstrainedTag& value) {
    const TElASN1SimpleTag* id = PrimitiveChild(value, 0, 0x06);
    const TElASN1ConstrainedTag* wrapper = ConstructedChild(value, 1, 0xA0);
    if (!value.CheckType(0x30, true) || value.GetCount() != 2 || id == nullptr || wrapper == nullptr)
        return SB_PKCS12_ERROR_INVALID_CERT_BAG;
    if (id->GetContent() != kX509Certificate) return SB_PKCS12_ERROR_UNSUPPORTED_CERTIFICATE_TYPE;
    const TElASN1SimpleTag* octets = PrimitiveChild(*wrapper, 0, 0x04);
    if (wrapper->GetCount() != 1 || octets == nullptr) return SB_PKCS12_ERROR_INVALID_CERT_BAG;
    const ByteString der = octets->GetContent();
    TElX509Certificate certificate;
    try {
        certificate.LoadFromBuffer(der.data(), der.size());
    } catch (const rtl::Exception&) {
        // A certificate that does not load is bad input, reported like any other.
        return SB_PKCS12_ERROR_INVALID_CERT_BAG;
    }
    m.storage_->Add(&certificate, true);
    return 0;
}

// MacData ::= SEQUENCE { mac DigestInfo, macSalt OCTET STRING, iterations INTEGER DEFAULT 1 }
// (RFC 7292 4). The MAC key is derived with the digest MacData names and has its size
// (appendix B.4); SHA-1 and the SHA-2 digests are known here.
int32_t TElPKCS12Message::Reader::Mac(const TElASN1ConstrainedTag& macData, std::string_view authSafe) {
    constexpr int32_t bad = SB_PKCS12_ERROR_INVALID_MAC_DATA;
    if (macData.TagByte != 0x30 || macData.GetCount() < 2 || macData.GetCount() > 3) return bad;
    const TElASN1ConstrainedTag* digestInfo = ConstructedChild(macData, 0, 0x30);
    if (digestInfo == nullptr || digestInfo->GetCount() != 2) return bad;
    const TElASN1SimpleTag* mac = PrimitiveChild(*digestInfo, 1, 0x04);
    const TElASN1SimpleTag* salt = PrimitiveChild(macData, 1, 0x04);
    if (mac == nullptr || salt == nullptr ||
        ReadAlgorithmIdentifier(*digestInfo->GetChild(0), m.macAlgorithm_, m.macAlgorithmParams_) != 0)
        return bad;
    uint32_t iterations = 1;
    if (macData.GetCount() == 3) {
        const TElASN1SimpleTag* count = PrimitiveChild(macData, 2, 0x02);
        if (count == nullptr || !ReadTagIntegerBounded(*count, MaxIterationCount, iterations)) return bad;
    }
    m.mac_ = mac->GetContent();
    m.macSalt_ = salt->GetContent();
    m.IterationCount = int32_t(iterations);
    const int32_t digest = GetHashAlgorithmByOID(m.macAlgorithm_);
    if (digest != SB_ALG_SHA1 && digest != SB_ALG_SHA256 && digest != SB_ALG_SHA384 &&
        digest != SB_ALG_SHA512)
        return bad;
    const ByteString computed = ComputeMac(bmp, m.macSalt_, int32_t(iterations), digest, authSafe);
    return AreByteStringsEqualCT(computed, m.mac_) ? 0 : SB_PKCS12_ERROR_INVALID_MAC;
}

TElPKCS12Message::TElPKCS12Message() : storage_(std::make_unique<TElMemoryCertStorage>()) {}

TElPKCS12Message::~TElPKCS12Message() = default;

void TElPKCS12Message::SetPassword(std::string_view password) {
    password_.assign(password.begin(), password.end());
}

int32_t TElPKCS12Message::LoadFromBuffer(const void* buffer, size_t size) {
    const rtl::SecureBytes bmp = PKCS12PasswordToBMP(View(password_));
    const int32_t r = Load(buffer, size, View(bmp));
    if (r == 0 || !password_.empty()) return r;
    // Other tools hash the empty password as the empty BMPString with its two zero bytes.
    return Load(buffer, size, std::string_view("\0\0", 2));
}

// PFX ::= SEQUENCE { version INTEGER (3), authSafe ContentInfo, macData MacData OPTIONAL }
// (RFC 7292 4). The MAC is checked after every bag was read.
int32_t TElPKCS12Message::Load(const void* buffer, size_t size, std::string_view bmpPassword) {
    storage_->Clear();
    keys_.clear();
    TElASN1ConstrainedTag root;
    if (buffer == nullptr || !LoadTagTree(root, std::string_view(static_cast<const char*>(buffer), size)))
        return SB_PKCS12_ERROR_INVALID_ASN_DATA;
    if (root.GetCount() != 1) return SB_PKCS12_ERROR_NO_DATA;
    if (!root.GetChild(0)->CheckType(0x30, true)) return SB_PKCS12_ERROR_INVALID_DATA;
    const auto& pfx = static_cast<const TElASN1ConstrainedTag&>(*root.GetChild(0));
    if (pfx.GetCount() < 2 || pfx.GetCount() > 3) return SB_PKCS12_ERROR_INVALID_DATA;
    const TElASN1SimpleTag* version = PrimitiveChild(pfx, 0, 0x02);
    if (version == nullptr) return SB_PKCS12_ERROR_INVALID_DATA;
    if (!IsVersion(*version, 3)) return SB_PKCS12_ERROR_INVALID_VERSION;
    if (ConstructedChild(pfx, 1, 0x30) == nullptr) return SB_PKCS12_ERROR_INVALID_DATA;
    ByteString authSafe, type;
    if (!ReadContentInfo(*pfx.GetChild(1), authSafe, type) || type != PKCS7ContentTypeOID(ctData))
        return SB_PKCS12_ERROR_INVALID_CONTENT;
    Reader reader{*this, bmpPassword};
    if (const int32_t r = reader.AuthenticatedSafe(authSafe); r != 0) return r;
    if (pfx.GetCount() == 3) {
        if (!pfx.GetChild(2)->IsConstrained()) return SB_PKCS12_ERROR_INVALID_DATA;
        if (const int32_t r =
                reader.Mac(static_cast<const TElASN1ConstrainedTag&>(*pfx.GetChild(2)), authSafe);
            r != 0)
            return r;
    }
    return AttachKeys();
}

// Every certificate receives the first key of the list that completes its public key; one key
// may serve several certificates.
int32_t TElPKCS12Message::AttachKeys() {
    for (int32_t i = 0; i < storage_->GetCount(); ++i) {
        TElX509Certificate& certificate = *storage_->GetCertificate(i);
        rtl::SecureBytes blob;
        if (FindKeyFor(certificate, blob) < 0) continue;
        try {
            certificate.LoadKeyFromBuffer(blob.data(), blob.size());
        } catch (const rtl::Exception&) {
            // Its numbers match the certificate and still it is no key (a zero prime, a
            // private exponent the material refuses): bad input like any other.
            return SB_PKCS12_ERROR_INVALID_PRIVATE_KEY;
        }
    }
    return 0;
}

int32_t TElPKCS12Message::FindKeyFor(const TElX509Certificate& certificate, rtl::SecureBytes& blob) const {
    const int32_t algorithm = certificate.GetPublicKeyAlgorithm();
    if (algorithm == SB_CERT_ALG_RSA_ENCRYPTION || algorithm == SB_CERT_ALG_RSASSA_PSS ||
        algorithm == SB_CERT_ALG_RSAES_OAEP) {
        size_t nSize = 0, eSize = 0;
        certificate.GetRSAParams(nullptr, nSize, nullptr, eSize);
        ByteString n(nSize, '\0'), e(eSize, '\0');
        if (!certificate.GetRSAParams(n.data(), nSize, e.data(), eSize)) return -1;
        for (size_t i = 0; i < keys_.size(); ++i) {
            Numbers key(3);
            if (RSAKey(View(keys_[i]), key) && SameNumber(key.v[0], n) && SameNumber(key.v[1], e)) {
                blob = keys_[i];
                return int32_t(i);
            }
        }
        return -1;
    }
    if (algorithm != SB_CERT_ALG_DSA) return -1;
    size_t s[4] = {};
    certificate.GetDSSParams(nullptr, s[0], nullptr, s[1], nullptr, s[2], nullptr, s[3]);
    ByteString p(s[0], '\0'), q(s[1], '\0'), g(s[2], '\0'), y(s[3], '\0');
    if (!certificate.GetDSSParams(p.data(), s[0], q.data(), s[1], g.data(), s[2], y.data(), s[3])) return -1;
    for (size_t i = 0; i < keys_.size(); ++i) {
        const std::string_view k = View(keys_[i]);
        Numbers key(5);
        if (DSAKey(k, key)) {
            // Its p, q, g and y are the certificate's; its x must also be the one behind that y,
            // or the certificate would sign with a key its public value does not verify.
            if (SameNumber(key.v[0], p) && SameNumber(key.v[1], q) && SameNumber(key.v[2], g) &&
                SameNumber(key.v[3], y) && DSAPublicMatches(p, g, y, key.v[4])) {
                blob = keys_[i];
                return int32_t(i);
            }
            continue;
        }
        // The PKCS#8 form of a DSA key: INTEGER x alone, the parameters being the certificate's.
        TElASN1ConstrainedTag root;
        if (!LoadTagTree(root, k) || root.GetCount() != 1 || !root.GetChild(0)->CheckType(0x02, false))
            continue;
        ByteString x = static_cast<const TElASN1SimpleTag&>(*root.GetChild(0)).GetContent();
        WipeTagTree(root);
        const bool matches = DSAPublicMatches(p, g, y, x);
        if (matches) {
            TElASN1ConstrainedTag seq;
            seq.TagByte = 0x30;
            AddSimpleChild(seq, 0x02, std::string_view("\0", 1));
            for (const ByteString* v : {&p, &q, &g, &y, &x})
                AddUnsignedInteger(seq, *v);
            ByteString der = SaveTagToString(seq);
            WipeTagTree(seq);
            blob.assign(der.begin(), der.end());
            ClearString(der);
        }
        ClearString(x);
        if (matches) return int32_t(i);
    }
    return -1;
}

// ---------------------------------------------------------------------------------------------
// Writing

struct TElPKCS12Message::Writer {
    TElPKCS12Message& m;
    std::string_view bmp;

    // SET { SEQUENCE { localKeyId, SET { OCTET STRING id } } } (RFC 7292 4.2, PKCS #9).
    static void AddLocalKeyId(TElASN1ConstrainedTag& set, uint32_t id) {
        TElASN1ConstrainedTag& attr = AddConstrainedChild(set, 0x30);
        AddSimpleChild(attr, 0x06, kLocalKeyId);
        uint8_t be[4];
        rtl::store_be32(be, id);
        AddSimpleChild(AddConstrainedChild(attr, 0x31), 0x04,
                       std::string_view(reinterpret_cast<char*>(be), 4));
    }

    // The data ContentInfo holding one shrouded key bag (RFC 7292 4.2.2) for the certificate's
    // private key; 0 with nothing written when the certificate has none (or a Diffie-Hellman
    // key, which has no PKCS#8 form here).
    int32_t KeySafe(const TElX509Certificate& certificate, ByteString& out) const {
        out.clear();
        const int32_t k = certificate.GetPublicKeyAlgorithm();
        if (k == SB_CERT_ALG_DH || !certificate.GetPrivateKeyExists()) return 0;
        rtl::SecureBytes blob;
        if (const int32_t r = PrivateKeyOf(certificate, blob); r != 0) return r;

        // PrivateKeyInfo { 0, AlgorithmIdentifier, privateKey, [0] IMPLICIT { localKeyId } }
        // (RFC 5208 5): RSA keys as their PKCS#1 RSAPrivateKey under the key's OID, DSA keys as
        // INTEGER x under id-dsa with Dss-Parms (RFC 3279 2.3.2).
        struct Wiped {
            TElASN1ConstrainedTag tag;
            ~Wiped() { WipeTagTree(tag); }
        } info;
        info.tag.TagByte = 0x30;
        AddSimpleChild(info.tag, 0x02, std::string_view("\0", 1));
        if (k == SB_CERT_ALG_RSA_ENCRYPTION || k == SB_CERT_ALG_RSASSA_PSS || k == SB_CERT_ALG_RSAES_OAEP) {
            const ByteString keyOid = GetOIDByPKAlgorithm(k);
            if (keyOid.empty()) return SB_PKCS12_ERROR_UNSUPPORTED_CERTIFICATE_TYPE;
            if (k == SB_CERT_ALG_RSA_ENCRYPTION) {
                WriteAlgorithmIdentifier(AddConstrainedChild(info.tag, 0x30), keyOid, EncodeDERNull());
            } else {
                // id-RSASSA-PSS and id-RSAES-OAEP take their parameters or none, never NULL
                // (RFC 4055 3.1, 4.1): the key keeps the restrictions its certificate states.
                TElASN1ConstrainedTag& algorithm = AddConstrainedChild(info.tag, 0x30);
                AddSimpleChild(algorithm, 0x06, keyOid);
                const ByteString& params =
                    certificate.GetTBSCertificate().SubjectPublicKeyInfo.AlgorithmParams;
                if (!params.empty() && params != EncodeDERNull())
                    AddSimpleChild(algorithm, 0, params).EmitHeader = false;
            }
            AddSimpleChild(info.tag, 0x04, View(blob));
        } else if (k == SB_CERT_ALG_DSA) {
            Numbers key(5);
            if (!DSAKey(View(blob), key)) return SB_PKCS12_ERROR_INTERNAL_ERROR;
            const ByteString keyOid = GetOIDByPKAlgorithm(k);
            if (keyOid.empty()) return SB_PKCS12_ERROR_UNSUPPORTED_CERTIFICATE_TYPE;
            WriteAlgorithmIdentifier(
                AddConstrainedChild(info.tag, 0x30), keyOid,
                EncodeDERSequence(
                    {EncodeDERInteger(key.v[0]), EncodeDERInteger(key.v[1]), EncodeDERInteger(key.v[2])}));
            ByteString x = EncodeDERInteger(key.v[4]);
            AddSimpleChild(info.tag, 0x04, x);
            ClearString(x);
        } else {
            return SB_PKCS12_ERROR_UNSUPPORTED_CERTIFICATE_TYPE;
        }
        AddLocalKeyId(AddConstrainedChild(info.tag, 0xA0), m.localKeyId_);
        ByteString plain = SaveTagToString(info.tag);
        TElPKCS8EncryptedPrivateKeyInfo encrypted;
        rtl::SecureBytes ct;
        const int32_t r = EncryptPBE(m.KeyBagAlgorithm, bmp, m.IterationCount, plain,
                                     encrypted.EncryptionAlgorithm, encrypted.EncryptionAlgorithmParams, ct);
        ClearString(plain);
        if (r != 0) return r;
        encrypted.EncryptedData = ByteString(View(ct));

        TElASN1ConstrainedTag contents;
        contents.TagByte = 0x30;
        TElASN1ConstrainedTag& bag = AddConstrainedChild(contents, 0x30);
        AddSimpleChild(bag, 0x06, kShroudedKeyBag);
        encrypted.WriteToTag(AddConstrainedChild(AddConstrainedChild(bag, 0xA0), 0x30));
        AddLocalKeyId(AddConstrainedChild(bag, 0x31), m.localKeyId_);
        TElPKCS7Message message;
        message.ContentType = ctData;
        message.Data = SaveTagToString(contents);
        return Written(message, out);
    }

    // The certificate's private key in the material's own form (a PKCS#1 RSAPrivateKey, the
    // DSA SEQUENCE { 0, p, q, g, y, x }), for a certificate that has one. It is taken from the
    // material's provider key, not through the certificate's SaveKeyToBuffer: a material may
    // save PEM or PKCS#8 (as it was loaded), which inside a PrivateKeyInfo would be a key no
    // reader knows. A key that does not export is an error, not a file without that key.
    static int32_t PrivateKeyOf(const TElX509Certificate& certificate, rtl::SecureBytes& blob) {
        const TElCustomCryptoKey* key = certificate.GetKeyMaterial()->GetKey();
        try {
            size_t size = 0;
            key->ExportSecret(nullptr, size);
            blob.assign(size, 0);
            if (size > 0) key->ExportSecret(blob.data(), size);
            blob.resize(size);
        } catch (const rtl::Exception&) {
            blob.clear();
        }
        return blob.empty() ? SB_PKCS12_ERROR_INTERNAL_ERROR : 0;
    }

    // The encrypted-data ContentInfo holding one certificate bag.
    int32_t CertificateSafe(const TElX509Certificate& certificate, ByteString& out) const {
        TElASN1ConstrainedTag contents;
        contents.TagByte = 0x30;
        TElASN1ConstrainedTag& bag = AddConstrainedChild(contents, 0x30);
        AddSimpleChild(bag, 0x06, kCertBag);
        TElASN1ConstrainedTag& certBag = AddConstrainedChild(AddConstrainedChild(bag, 0xA0), 0x30);
        AddSimpleChild(certBag, 0x06, kX509Certificate);
        AddSimpleChild(AddConstrainedChild(certBag, 0xA0), 0x04, certificate.GetDER());
        AddLocalKeyId(AddConstrainedChild(bag, 0x31), m.localKeyId_);
        TElPKCS7Message message;
        message.ContentType = ctEncryptedData;
        TElPKCS7EncryptedContent& ec = message.GetEncryptedData().EncryptedContent;
        rtl::SecureBytes ct;
        if (const int32_t r =
                EncryptPBE(m.SafeAlgorithm, bmp, m.IterationCount, SaveTagToString(contents),
                           ec.ContentEncryptionAlgorithm, ec.ContentEncryptionAlgorithmParams, ct);
            r != 0)
            return r;
        ec.SetEncryptedContent(View(ct));
        ec.ContentType = ByteString(PKCS7ContentTypeOID(ctData));
        return Written(message, out);
    }

    // The ContentInfo a message writes (its size asked first).
    static int32_t Written(TElPKCS7Message& message, ByteString& out) {
        size_t size = 0;
        message.SaveToBuffer(nullptr, size);
        out.assign(size, '\0');
        if (!message.SaveToBuffer(out.data(), size)) return SB_PKCS12_ERROR_INTERNAL_ERROR;
        out.resize(size);
        return 0;
    }
};

int32_t TElPKCS12Message::SaveToBuffer(void* buffer, size_t& size) {
    localKeyId_ = kFirstLocalKeyId;
    if (storage_->GetCount() == 0) return SB_PKCS12_ERROR_NO_CERTIFICATES;
    // A count no reader takes (ours refuses more than MaxIterationCount) or one written as
    // another (a negative count would be written as 2^32 less it, and derived with once) makes
    // a file nobody can open again.
    if (IterationCount < 0 || uint32_t(IterationCount) > MaxIterationCount)
        return SB_PKCS12_ERROR_INTERNAL_ERROR;
    const rtl::SecureBytes bmp = PKCS12PasswordToBMP(View(password_));
    Writer writer{*this, View(bmp)};
    TElASN1ConstrainedTag safes;
    safes.TagByte = 0x30;
    for (int32_t i = 0; i < storage_->GetCount(); ++i) {
        ByteString info;
        if (const int32_t r = writer.KeySafe(*storage_->GetCertificate(i), info); r != 0) return r;
        if (!info.empty()) AddSimpleChild(safes, 0, info).EmitHeader = false;
        ClearString(info);
        if (const int32_t r = writer.CertificateSafe(*storage_->GetCertificate(i), info); r != 0) return r;
        AddSimpleChild(safes, 0, info).EmitHeader = false;
        ++localKeyId_;
    }
    const ByteString authSafe = SaveTagToString(safes);

    // MacData with SHA-1 (RFC 7292 4), over the AuthenticatedSafe's DER.
    ByteString salt(kMacSaltSize, '\0');
    GenerateRandomBytes(salt.data(), salt.size());

    TElASN1ConstrainedTag pfx;
    pfx.TagByte = 0x30;
    AddSimpleChild(pfx, 0x02, std::string_view("\x03", 1));
    TElASN1ConstrainedTag& info = AddConstrainedChild(pfx, 0x30);
    AddSimpleChild(info, 0x06, PKCS7ContentTypeOID(ctData));
    AddSimpleChild(AddConstrainedChild(info, 0xA0), 0x04, authSafe);
    TElASN1ConstrainedTag& macData = AddConstrainedChild(pfx, 0x30);
    TElASN1ConstrainedTag& digestInfo = AddConstrainedChild(macData, 0x30);
    WriteAlgorithmIdentifier(AddConstrainedChild(digestInfo, 0x30), SB_OID_SHA1, {});
    AddSimpleChild(digestInfo, 0x04, ComputeMac(View(bmp), salt, IterationCount, SB_ALG_SHA1, authSafe));
    AddSimpleChild(macData, 0x04, salt);
    WriteTagInteger(AddSimpleChild(macData, 0x02), uint32_t(IterationCount));

    const size_t needed = size_t(pfx.GetEncodedSize());
    const size_t room = size;
    size = needed;
    if (buffer == nullptr || room < needed) return SB_PKCS12_ERROR_BUFFER_TOO_SMALL;
    pfx.SaveToBuffer(buffer, size);
    return 0;
}
