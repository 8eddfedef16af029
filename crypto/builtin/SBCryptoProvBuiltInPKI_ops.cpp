// crypto/builtin/SBCryptoProvBuiltInPKI_ops.cpp: the built-in public-key operations: the base, RSA
// (PKCS#1 v1.5, OAEP, PSS, ssl-hash), DSA, Elgamal and Diffie-Hellman.
//
// PKCS#1 v1.5 verification does not parse what the signature opens to: it rebuilds the whole
// block 00 01 FF..FF 00 DigestInfo(hash, digest) (RFC 8017 8.2.2 step 3) and compares it byte
// for byte, with and without the NULL parameters, so trailing bytes, other padding types and
// BER variants of the DigestInfo can never pass. The hash is the operation's whenever it is
// fixed (set explicitly, or named by a signature OID); only for bare rsaEncryption with no hash
// set does the block's DigestInfo name it.
#include <cstring>

#include "crypto/builtin/SBCryptoProvBuiltInHash.h"
#include "crypto/builtin/SBCryptoProvBuiltInPKI.h"
#include "crypto/pk/PublicKeyMath.h"
#include "crypto/pk/SBDSA.h"
#include "crypto/pk/SBElgamal.h"
#include "crypto/pk/SBRSA.h"
#include "crypto/prov/SBCryptoProvRS.h"
#include "crypto/prov/SBCryptoProvUtils.h"
#include "rtl/Bytes.h"
#include "rtl/Format.h"

using pkmath::Bytes;

namespace {

[[noreturn]] void Fail(const char* message) {
    throw EElBuiltInCryptoProviderError(message);
}

Bytes ViewOf(const ByteString& s) {
    return Bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

// A routine of the size protocol into a wiped array: asked with no buffer first, then run.
template <class Call>
bool Sized(rtl::SecureBytes& out, Call call) {
    int32_t size = 0;
    call(nullptr, size);
    if (size < 0) return false;
    out.assign(size_t(size), 0);
    if (!call(out.data(), size)) return false;
    out.resize(size_t(size));
    return true;
}

BigNumPtr Number(Bytes b) {
    BigNumPtr n;
    if (!pkmath::Load(n, b)) Fail(SInputTooLong);
    return n;
}

void AppendTo(rtl::SecureBytes& out, const void* buffer, size_t size) {
    if (size == 0) return;
    const auto* p = static_cast<const uint8_t*>(buffer);
    out.insert(out.end(), p, p + size);
}

// DigestInfo ::= SEQUENCE { SEQUENCE { OID, NULL }, OCTET STRING } with one-byte lengths
// (every digest of the library fits them); without the NULL when withNull is false, the form
// RFC 8017 9.2 note 2 says verifiers should also accept.
rtl::SecureBytes DigestInfo(const ByteString& oid, Bytes digest, bool withNull) {
    const size_t l2 = oid.size() + 2 + (withNull ? 2 : 0);
    const size_t l1 = l2 + 2 + digest.size() + 2;
    rtl::SecureBytes out(l1 + 2);
    size_t i = 0;
    auto put = [&](uint8_t b) { out[i++] = b; };
    put(0x30);
    put(uint8_t(l1));
    put(0x30);
    put(uint8_t(l2));
    put(0x06);
    put(uint8_t(oid.size()));
    for (char c : oid)
        put(uint8_t(c));
    if (withNull) {
        put(0x05);
        put(0x00);
    }
    put(0x04);
    put(uint8_t(digest.size()));
    for (uint8_t b : digest)
        put(b);
    return out;
}

// 00 01 FF..FF 00 T in k bytes (RFC 8017 9.2 step 5); empty when T leaves no room for eight FF.
rtl::SecureBytes Type1Block(Bytes t, size_t k) {
    rtl::SecureBytes em;
    if (k < t.size() + 11) return em;
    em.assign(k, 0xFF);
    em[0] = 0x00;
    em[1] = 0x01;
    em[k - t.size() - 1] = 0x00;
    std::memcpy(em.data() + k - t.size(), t.data(), t.size());
    return em;
}

// T of a type-1 block (00 01, at least eight FF, 00); false when the block is not one.
bool Type1Content(const rtl::SecureBytes& em, Bytes& t) {
    if (em.size() < 11 || em[0] != 0 || em[1] != 1) return false;
    size_t i = 2;
    while (i < em.size() && em[i] == 0xFF)
        ++i;
    if (i == em.size() || em[i] != 0 || i - 2 < 8) return false;
    t = Bytes(em).subspan(i + 1);
    return true;
}

// The digest OID of a readable DigestInfo; false when it is not one.
bool DigestInfoOID(Bytes t, ByteString& oid) {
    std::vector<pkmath::Element> top, info, alg;
    if (!pkmath::ReadElements(t, top, 1) || top.size() != 1 || top[0].tag != 0x30) return false;
    if (!pkmath::ReadElements(top[0].content, info, 2) || info.size() != 2) return false;
    if (info[0].tag != 0x30 || info[1].tag != 0x04) return false;
    if (!pkmath::ReadElements(info[0].content, alg, 2) || alg.empty() || alg[0].tag != 0x06) return false;
    oid.assign(alg[0].content.begin(), alg[0].content.end());
    return true;
}

bool IsOneOf(std::string_view oid, std::initializer_list<std::string_view> list) {
    for (std::string_view o : list)
        if (oid == o) return true;
    return false;
}

const std::initializer_list<std::string_view> kPKCS1OIDs = {
    SB_OID_RSA_ENCRYPTION, SB_OID_SHA1_RSA,   SB_OID_MD2_RSA,    SB_OID_MD5_RSA,   SB_OID_SHA1_RSA_OIW,
    SB_OID_SHA224_RSA,     SB_OID_SHA256_RSA, SB_OID_SHA384_RSA, SB_OID_SHA512_RSA};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Base

TElBuiltInPublicKeyCrypto::TElBuiltInPublicKeyCrypto() = default;
TElBuiltInPublicKeyCrypto::~TElBuiltInPublicKeyCrypto() = default;

bool TElBuiltInPublicKeyCrypto::GetSupportsEncryption() const {
    Fail(SUnsupportedOperation);
}
bool TElBuiltInPublicKeyCrypto::GetSupportsSigning() const {
    Fail(SUnsupportedOperation);
}
void TElBuiltInPublicKeyCrypto::SetKeyMaterial(TElCustomCryptoKey* key) {
    key_ = key;
}
void TElBuiltInPublicKeyCrypto::WriteOutput(const void* buffer, size_t count) {
    AppendTo(output_, buffer, count);
}
void TElBuiltInPublicKeyCrypto::Reset() {
    ResetOutput();
}
void TElBuiltInPublicKeyCrypto::ResetOutput() {
    output_.clear();
    finished_ = false;
}
void TElBuiltInPublicKeyCrypto::SignInit(bool) {
    Fail(SUnsupportedOperation);
}
void TElBuiltInPublicKeyCrypto::SignUpdate(const void*, size_t) {
    Fail(SUnsupportedOperation);
}
void TElBuiltInPublicKeyCrypto::SignFinal(void*, size_t&) {
    Fail(SUnsupportedOperation);
}
void TElBuiltInPublicKeyCrypto::EncryptInit() {
    Fail(SUnsupportedOperation);
}
void TElBuiltInPublicKeyCrypto::EncryptUpdate(const void*, size_t) {
    Fail(SUnsupportedOperation);
}
void TElBuiltInPublicKeyCrypto::EncryptFinal() {
    Fail(SUnsupportedOperation);
}
void TElBuiltInPublicKeyCrypto::DecryptInit() {
    Fail(SUnsupportedOperation);
}
void TElBuiltInPublicKeyCrypto::DecryptUpdate(const void*, size_t) {
    Fail(SUnsupportedOperation);
}
void TElBuiltInPublicKeyCrypto::DecryptFinal() {
    Fail(SUnsupportedOperation);
}
void TElBuiltInPublicKeyCrypto::VerifyInit(bool, const void*, size_t) {
    Fail(SUnsupportedOperation);
}
void TElBuiltInPublicKeyCrypto::VerifyUpdate(const void*, size_t) {
    Fail(SUnsupportedOperation);
}
int32_t TElBuiltInPublicKeyCrypto::VerifyFinal() {
    Fail(SUnsupportedOperation);
}
int64_t TElBuiltInPublicKeyCrypto::EstimateOutputSize(const void*, int32_t, int64_t) {
    Fail(SUnsupportedOperation);
}

rtl::SecureBytes TElBuiltInPublicKeyCrypto::TakeDigest() {
    rtl::SecureBytes d;
    if (inputIsHash_) {
        d.swap(collected_);
    } else if (hash_) {
        ByteString digest = hash_->Finish();
        d.assign(digest.begin(), digest.end());
        ClearString(digest);
        hash_.reset();
    }
    collected_.clear();
    return d;
}

void TElBuiltInPublicKeyCrypto::StartDigest(std::unique_ptr<TElBuiltInHashFunction> hash) {
    hash_ = std::move(hash);
}

void TElBuiltInPublicKeyCrypto::Collect(const void* buffer, size_t size) {
    if (inputIsHash_) {
        AppendTo(collected_, buffer, size);
    } else if (hash_) {
        hash_->Update(buffer, size);
    }
}

void TElBuiltInPublicKeyCrypto::AnswerSignature(void* buffer, size_t& size) const {
    if (buffer == nullptr) {
        size = output_.size();
        return;
    }
    if (size < output_.size()) Fail(SBufferTooSmall);
    if (!output_.empty()) std::memcpy(buffer, output_.data(), output_.size());
    size = output_.size();
}

// ---------------------------------------------------------------------------------------------
// RSA

TElBuiltInRSAPublicKeyCrypto::TElBuiltInRSAPublicKeyCrypto() = default;

std::unique_ptr<TElBuiltInRSAPublicKeyCrypto> TElBuiltInRSAPublicKeyCrypto::CreateByOID(std::string_view oid) {
    std::unique_ptr<TElBuiltInRSAPublicKeyCrypto> o(new TElBuiltInRSAPublicKeyCrypto());
    o->Reset();
    o->hashAlgorithm_ = SB_ALG_UNKNOWN;
    o->algorithmOID_ = ByteString(oid);
    if (IsOneOf(oid, kPKCS1OIDs)) {
        o->scheme_ = SB_RSA_SCHEME_PKCS1;
    } else if (oid == SB_OID_RSASSA_PSS) {
        o->scheme_ = SB_RSA_SCHEME_PSS;
        o->supportsEncryption_ = false;
    } else if (oid == SB_OID_RSAES_OAEP) {
        o->scheme_ = SB_RSA_SCHEME_OAEP;
        o->supportsSigning_ = false;
    } else {
        throw EElBuiltInCryptoProviderError(rtl::Format(SUnsupportedAlgorithmStr, OIDToText(oid)));
    }
    return o;
}

std::unique_ptr<TElBuiltInRSAPublicKeyCrypto> TElBuiltInRSAPublicKeyCrypto::CreateByAlgorithm(int32_t code) {
    std::unique_ptr<TElBuiltInRSAPublicKeyCrypto> o(new TElBuiltInRSAPublicKeyCrypto());
    o->Reset();
    o->hashAlgorithm_ = SB_ALG_UNKNOWN;
    if ((code >= 0 && code <= 3) || (code >= 7 && code <= 10)) {
        o->algorithmOID_ = GetOIDByPKAlgorithm(code);
        if (o->algorithmOID_.empty()) o->algorithmOID_ = GetOIDBySigAlgorithm(code);
    } else if (code == SB_CERT_ALG_RSASSA_PSS) {
        o->SelectScheme(SB_RSA_SCHEME_PSS);
    } else if (code == SB_CERT_ALG_RSAES_OAEP) {
        o->SelectScheme(SB_RSA_SCHEME_OAEP);
    }
    if (o->algorithmOID_.empty()) throw EElBuiltInCryptoProviderError(rtl::Format(SUnsupportedAlgorithmInt, code));
    return o;
}

std::unique_ptr<TElBuiltInRSAPublicKeyCrypto> TElBuiltInRSAPublicKeyCrypto::Create() {
    auto o = CreateByOID(SB_OID_RSA_ENCRYPTION);
    o->hashFuncOID_.clear();
    o->saltSize_ = 0;
    return o;
}

bool TElBuiltInRSAPublicKeyCrypto::IsAlgorithmSupported(int32_t code) {
    return (code >= 0 && code <= 3) || (code >= 7 && code <= 12);
}

bool TElBuiltInRSAPublicKeyCrypto::IsAlgorithmSupportedByOID(std::string_view oid) {
    return IsOneOf(oid, {SB_OID_RSA_ENCRYPTION, SB_OID_MD2_RSA, SB_OID_MD5_RSA, SB_OID_SHA1_RSA, SB_OID_SHA224_RSA,
                         SB_OID_SHA256_RSA, SB_OID_SHA384_RSA, SB_OID_SHA512_RSA, SB_OID_RSASSA_PSS,
                         SB_OID_RSAES_OAEP});
}

void TElBuiltInRSAPublicKeyCrypto::SetKeyMaterial(TElCustomCryptoKey* key) {
    if (key == nullptr || key->GetAlgorithm() != SB_ALG_PK_RSA) Fail(SBadKeyMaterial);
    key_ = key;
}

void TElBuiltInRSAPublicKeyCrypto::Reset() {
    TElBuiltInPublicKeyCrypto::Reset();
    supportsEncryption_ = supportsSigning_ = true;
    inputIsHash_ = false;
    useAlgorithmPrefix_ = true;
    scheme_ = SB_RSA_SCHEME_PKCS1;
    saltSize_ = 0;
    hashFuncOID_.clear();
    mgfAlgorithm_ = 0;
    trailerField_ = 0;
}

void TElBuiltInRSAPublicKeyCrypto::SelectScheme(uint8_t scheme) {
    scheme_ = scheme;
    supportsEncryption_ = supportsSigning_ = true;
    if (scheme == SB_RSA_SCHEME_PSS) {
        supportsEncryption_ = false;
        algorithmOID_ = ByteString(SB_OID_RSASSA_PSS);
    } else if (scheme == SB_RSA_SCHEME_OAEP) {
        supportsSigning_ = false;
        algorithmOID_ = ByteString(SB_OID_RSAES_OAEP);
    } else {
        algorithmOID_ = ByteString(SB_OID_RSA_ENCRYPTION);
    }
}

ByteString TElBuiltInRSAPublicKeyCrypto::KeyProp(std::string_view id, std::string_view def) const {
    if (key_ == nullptr) return ByteString(def);
    return key_->GetKeyProp(id, def);
}

int32_t TElBuiltInRSAPublicKeyCrypto::OperationHash() const {
    if (hashAlgorithm_ != SB_ALG_UNKNOWN) return hashAlgorithm_;
    const std::string_view oid = algorithmOID_;
    if (scheme_ == SB_RSA_SCHEME_PSS) {
        if (oid != SB_OID_RSASSA_PSS && oid != SB_OID_RSAES_OAEP) return SB_ALG_UNKNOWN;
        return key_ != nullptr ? GetHashAlgorithmByOID(key_->GetKeyProp(SB_KEYPROP_HASH_ALGORITHM)) : SB_ALG_SHA1;
    }
    if (oid == SB_OID_RSA_ENCRYPTION || oid == SB_OID_SHA1_RSA || oid == SB_OID_SHA1_RSA_OIW) return SB_ALG_SHA1;
    if (oid == SB_OID_MD2_RSA) return SB_ALG_MD2;
    if (oid == SB_OID_MD5_RSA) return SB_ALG_MD5;
    if (oid == SB_OID_SHA224_RSA) return SB_ALG_SHA224;
    if (oid == SB_OID_SHA256_RSA) return SB_ALG_SHA256;
    if (oid == SB_OID_SHA384_RSA) return SB_ALG_SHA384;
    if (oid == SB_OID_SHA512_RSA) return SB_ALG_SHA512;
    return SB_ALG_UNKNOWN;
}

ByteString TElBuiltInRSAPublicKeyCrypto::OperationHashOID() const {
    if (!hashFuncOID_.empty()) return hashFuncOID_;
    return GetOIDByHashAlgorithm(OperationHash());
}

rtl::SecureBytes TElBuiltInRSAPublicKeyCrypto::SecretBlob() const {
    rtl::SecureBytes blob;
    if (key_ == nullptr) return blob;
    size_t size = 0;
    key_->ExportSecret(nullptr, size);
    blob.assign(size, 0);
    if (size > 0) key_->ExportSecret(blob.data(), size);
    blob.resize(size);
    return blob;
}

void TElBuiltInRSAPublicKeyCrypto::PSSParameters(int32_t& salt) const {
    salt = saltSize_ != 0 ? saltSize_ : PropertyValueToInteger(KeyProp(SB_KEYPROP_SALT_SIZE), 20);
    const int32_t trailer =
        trailerField_ != 0 ? trailerField_ : PropertyValueToInteger(KeyProp(SB_KEYPROP_TRAILER_FIELD), 0);
    const int32_t mgf = mgfAlgorithm_ != 0 ? mgfAlgorithm_ : GetAlgorithmByOID(KeyProp(SB_KEYPROP_MGF_ALGORITHM));
    if (trailer != 1 || mgf != SB_ALG_MGF1)
        throw EElBuiltInCryptoProviderError(
            rtl::Format(SUnsupportedPropertyValueStr, std::to_string(trailer) + "/" + std::to_string(mgf)));
}

void TElBuiltInRSAPublicKeyCrypto::RequireSigning() const {
    if (!supportsSigning_) Fail(SUnsupportedOperation);
}

void TElBuiltInRSAPublicKeyCrypto::RequireEncryption() const {
    if (!supportsEncryption_) Fail(SUnsupportedOperation);
}

void TElBuiltInRSAPublicKeyCrypto::SignInit(bool) {
    RequireSigning();
    if (key_ == nullptr || !key_->GetIsSecret()) Fail(SBadKeyMaterial);
    collected_.clear();
    hash_.reset();
    if (!inputIsHash_) StartDigest(TElBuiltInHashFunction::CreateByAlgorithm(OperationHash()));
}

void TElBuiltInRSAPublicKeyCrypto::SignUpdate(const void* buffer, size_t size) {
    RequireSigning();
    Collect(buffer, size);
}

void TElBuiltInRSAPublicKeyCrypto::SignFinal(void* buffer, size_t& size) {
    RequireSigning();
    if (!finished_) {
        const rtl::SecureBytes digest = TakeDigest();
        const rtl::SecureBytes blob = SecretBlob();
        const ByteString format = KeyProp(SB_KEYPROP_KEYFORMAT, "pkcs#1");
        rtl::SecureBytes signature;
        bool ok;
        if (scheme_ == SB_RSA_SCHEME_PSS) {
            if (format != "pkcs#1" && format != "pss") Fail(SInvalidKeyMaterialType);
            if (blob.empty()) Fail(SSecretKeyNotFound);
            int32_t salt = 0;
            PSSParameters(salt);
            const int32_t hash = OperationHash();
            ok = Sized(signature, [&](void* out, int32_t& s) {
                return SignRSAPSS(digest.data(), int32_t(digest.size()), hash, salt, blob.data(), int32_t(blob.size()),
                                  out, s);
            });
        } else {
            if (format != "pkcs#1") Fail(SInvalidKeyMaterialType);
            const rtl::SecureBytes data = scheme_ != SB_RSA_SCHEME_SSL && useAlgorithmPrefix_
                                              ? DigestInfo(OperationHashOID(), Bytes(digest), true)
                                              : digest;
            if (blob.empty()) Fail(SSecretKeyNotFound);
            ok = Sized(signature, [&](void* out, int32_t& s) {
                return SignRSAPKCS1(data.data(), int32_t(data.size()), blob.data(), int32_t(blob.size()), out, s);
            });
        }
        if (!ok) Fail(SSigningFailed);
        WriteOutput(signature.data(), signature.size());
        finished_ = true;
    }
    AnswerSignature(buffer, size);
}

void TElBuiltInRSAPublicKeyCrypto::VerifyInit(bool, const void* signature, size_t size) {
    RequireSigning();
    if (key_ == nullptr || !key_->GetIsPublic()) Fail(SBadKeyMaterial);
    collected_.clear();
    expected_.clear();
    hash_.reset();
    const ByteString format = KeyProp(SB_KEYPROP_KEYFORMAT, "pkcs#1");
    const ByteString m = KeyProp(SB_KEYPROP_RSA_M), e = KeyProp(SB_KEYPROP_RSA_E);
    // The hash is fixed when set explicitly or named by a PKCS#1 signature OID.
    const bool fixed = hashAlgorithm_ != SB_ALG_UNKNOWN || (algorithmOID_ != SB_OID_RSA_ENCRYPTION &&
                                                           algorithmOID_ != SB_OID_RSASSA_PSS &&
                                                           algorithmOID_ != SB_OID_RSAES_OAEP);
    verifyHash_ = OperationHash();
    if (scheme_ == SB_RSA_SCHEME_PSS) {
        if (format != "pkcs#1" && format != "pss") Fail(SInvalidKeyMaterialType);
        AppendTo(expected_, signature, size);
    } else {
        if (format != "pkcs#1") Fail(SInvalidKeyMaterialType);
        rtl::SecureBytes em;
        Bytes t;
        const bool opened = Sized(em, [&](void* out, int32_t& s) {
                                return EncryptRSARaw(signature, int32_t(size), m.data(), int32_t(m.size()), e.data(),
                                                     int32_t(e.size()), out, s);
                            }) &&
                            Type1Content(em, t);
        if (opened) expected_ = em;
        if (scheme_ == SB_RSA_SCHEME_PKCS1 && useAlgorithmPrefix_ && opened) {
            ByteString oid;
            if (!DigestInfoOID(t, oid)) Fail(SBadSignatureFormatting);
            if (!fixed) verifyHash_ = GetHashAlgorithmByOID(oid);
        }
        if (scheme_ == SB_RSA_SCHEME_SSL || (!opened && !fixed)) verifyHash_ = SB_ALG_UNKNOWN;
    }
    // Without a hash to compare with (ssl-hash, or a block that did not open and names none) no
    // digest is taken: the result can only be "invalid" or come from the collected input.
    if (!inputIsHash_ && verifyHash_ != SB_ALG_UNKNOWN)
        StartDigest(TElBuiltInHashFunction::CreateByAlgorithm(verifyHash_));
    else if (!inputIsHash_ && scheme_ == SB_RSA_SCHEME_SSL)
        StartDigest(TElBuiltInHashFunction::CreateByOID(ByteString()));  // the engine's own refusal
}

void TElBuiltInRSAPublicKeyCrypto::VerifyUpdate(const void* buffer, size_t size) {
    Collect(buffer, size);
}

int32_t TElBuiltInRSAPublicKeyCrypto::VerifyFinal() {
    RequireSigning();
    const rtl::SecureBytes digest = TakeDigest();
    const ByteString format = KeyProp(SB_KEYPROP_KEYFORMAT, "pkcs#1");
    if (scheme_ == SB_RSA_SCHEME_PSS) {
        if (format != "pkcs#1" && format != "pss") Fail(SInvalidKeyMaterialType);
        const int32_t hash =
            hashAlgorithm_ != SB_ALG_UNKNOWN ? hashAlgorithm_ : GetHashAlgorithmByOID(KeyProp(SB_KEYPROP_HASH_ALGORITHM));
        int32_t salt = 0;
        PSSParameters(salt);
        const ByteString m = KeyProp(SB_KEYPROP_RSA_M), e = KeyProp(SB_KEYPROP_RSA_E);
        return VerifyRSAPSS(digest.data(), int32_t(digest.size()), hash, salt, m.data(), int32_t(m.size()), e.data(),
                            int32_t(e.size()), expected_.data(), int32_t(expected_.size()))
                   ? SB_VR_SUCCESS
                   : SB_VR_INVALID_SIGNATURE;
    }
    if (format != "pkcs#1") Fail(SInvalidKeyMaterialType);
    if (expected_.empty()) return SB_VR_INVALID_SIGNATURE;
    const size_t k = expected_.size();
    auto matches = [&](Bytes t) {
        const rtl::SecureBytes block = Type1Block(t, k);
        return !block.empty() && rtl::ct_equal(block.data(), expected_.data(), k);
    };
    bool valid;
    if (scheme_ == SB_RSA_SCHEME_PKCS1 && useAlgorithmPrefix_) {
        if (verifyHash_ == SB_ALG_UNKNOWN) return SB_VR_INVALID_SIGNATURE;
        const ByteString oid = hashFuncOID_.empty() ? GetOIDByHashAlgorithm(verifyHash_) : hashFuncOID_;
        if (oid.empty() || digest.empty()) return SB_VR_INVALID_SIGNATURE;
        const bool withNull = matches(Bytes(DigestInfo(oid, Bytes(digest), true)));
        const bool without = matches(Bytes(DigestInfo(oid, Bytes(digest), false)));
        valid = withNull || without;
    } else {
        valid = !digest.empty() && matches(Bytes(digest));
    }
    return valid ? SB_VR_SUCCESS : SB_VR_INVALID_SIGNATURE;
}

void TElBuiltInRSAPublicKeyCrypto::EncryptInit() {
    RequireEncryption();
    collected_.clear();
}

void TElBuiltInRSAPublicKeyCrypto::EncryptUpdate(const void* buffer, size_t size) {
    RequireEncryption();
    AppendTo(collected_, buffer, size);
}

void TElBuiltInRSAPublicKeyCrypto::EncryptFinal() {
    RequireEncryption();
    const ByteString format = KeyProp(SB_KEYPROP_KEYFORMAT, "pkcs#1");
    const ByteString m = KeyProp(SB_KEYPROP_RSA_M), e = KeyProp(SB_KEYPROP_RSA_E);
    rtl::SecureBytes c;
    bool ok;
    if (scheme_ == SB_RSA_SCHEME_OAEP) {
        if (format != "pkcs#1" && format != "oaep") Fail(SInvalidKeyMaterialType);
        const ByteString label = KeyProp(SB_KEYPROP_STRLABEL);
        const int32_t hash = GetHashAlgorithmByOID(KeyProp(SB_KEYPROP_HASH_ALGORITHM));
        ok = Sized(c, [&](void* out, int32_t& s) {
            return EncryptRSAOAEP(collected_.data(), int32_t(collected_.size()), m.data(), int32_t(m.size()), e.data(),
                                  int32_t(e.size()), label.data(), int32_t(label.size()), hash, out, s);
        });
    } else {
        if (format != "pkcs#1") Fail(SInvalidKeyMaterialType);
        ok = Sized(c, [&](void* out, int32_t& s) {
            return EncryptRSAPKCS1(collected_.data(), int32_t(collected_.size()), m.data(), int32_t(m.size()), e.data(),
                                   int32_t(e.size()), out, s);
        });
    }
    if (!ok) Fail(SEncryptionFailed);
    WriteOutput(c.data(), c.size());
}

void TElBuiltInRSAPublicKeyCrypto::DecryptInit() {
    RequireEncryption();
    if (key_ == nullptr || !key_->GetIsSecret()) Fail(SBadKeyMaterial);
    collected_.clear();
}

void TElBuiltInRSAPublicKeyCrypto::DecryptUpdate(const void* buffer, size_t size) {
    RequireEncryption();
    AppendTo(collected_, buffer, size);
}

void TElBuiltInRSAPublicKeyCrypto::DecryptFinal() {
    RequireEncryption();
    const rtl::SecureBytes blob = SecretBlob();
    const ByteString format = KeyProp(SB_KEYPROP_KEYFORMAT, "pkcs#1");
    rtl::SecureBytes m;
    bool ok;
    if (scheme_ == SB_RSA_SCHEME_OAEP) {
        if (format != "pkcs#1" && format != "oaep") Fail(SInvalidKeyMaterialType);
        const ByteString label = KeyProp(SB_KEYPROP_STRLABEL);
        if (blob.empty()) Fail(SSecretKeyNotFound);
        const int32_t hash = GetHashAlgorithmByOID(KeyProp(SB_KEYPROP_HASH_ALGORITHM));
        ok = Sized(m, [&](void* out, int32_t& s) {
            return DecryptRSAOAEP(collected_.data(), int32_t(collected_.size()), blob.data(), int32_t(blob.size()),
                                  label.data(), int32_t(label.size()), hash, out, s);
        });
    } else {
        if (format != "pkcs#1") Fail(SInvalidKeyMaterialType);
        if (blob.empty()) Fail(SSecretKeyNotFound);
        ok = Sized(m, [&](void* out, int32_t& s) {
            return DecryptRSAPKCS1(collected_.data(), int32_t(collected_.size()), blob.data(), int32_t(blob.size()), out,
                                   s);
        });
    }
    if (!ok) Fail(SDecryptionFailed);
    WriteOutput(m.data(), m.size());
}

int64_t TElBuiltInRSAPublicKeyCrypto::EstimateOutputSize(const void*, int32_t operation, int64_t size) {
    if ((operation == SB_PKOP_SIGN || operation == SB_PKOP_VERIFY) &&
        (scheme_ == SB_RSA_SCHEME_PKCS1 || scheme_ == SB_RSA_SCHEME_PSS))
        Fail(SOnlyDetachedSigningSupported);
    const int64_t k = int64_t(KeyProp(SB_KEYPROP_RSA_M).size());
    if ((operation == SB_PKOP_ENCRYPT || operation == SB_PKOP_DECRYPT) && size > k) Fail(SInputTooLong);
    if (operation == SB_PKOP_SIGN && inputIsHash_ && size > k - 11) Fail(SInputTooLong);
    return k;
}

// ---------------------------------------------------------------------------------------------
// DSA

std::unique_ptr<TElBuiltInDSAPublicKeyCrypto> TElBuiltInDSAPublicKeyCrypto::CreateByOID(std::string_view oid) {
    std::unique_ptr<TElBuiltInDSAPublicKeyCrypto> o(new TElBuiltInDSAPublicKeyCrypto());
    o->algorithmOID_ = ByteString(oid);
    if (!IsAlgorithmSupportedByOID(oid))
        throw EElBuiltInCryptoProviderError(rtl::Format(SUnsupportedAlgorithmStr, OIDToText(oid)));
    return o;
}

std::unique_ptr<TElBuiltInDSAPublicKeyCrypto> TElBuiltInDSAPublicKeyCrypto::CreateByAlgorithm(int32_t code) {
    std::unique_ptr<TElBuiltInDSAPublicKeyCrypto> o(new TElBuiltInDSAPublicKeyCrypto());
    if (IsAlgorithmSupported(code)) {
        o->algorithmOID_ = GetOIDByPKAlgorithm(code);
        if (o->algorithmOID_.empty()) o->algorithmOID_ = GetOIDBySigAlgorithm(code);
    }
    if (o->algorithmOID_.empty()) throw EElBuiltInCryptoProviderError(rtl::Format(SUnsupportedAlgorithmInt, code));
    return o;
}

std::unique_ptr<TElBuiltInDSAPublicKeyCrypto> TElBuiltInDSAPublicKeyCrypto::Create() {
    return CreateByOID(SB_OID_DSA);
}

bool TElBuiltInDSAPublicKeyCrypto::IsAlgorithmSupported(int32_t code) {
    return code == SB_CERT_ALG_DSA || code == SB_CERT_ALG_DSA_SHA1;
}

bool TElBuiltInDSAPublicKeyCrypto::IsAlgorithmSupportedByOID(std::string_view oid) {
    return oid == SB_OID_DSA || oid == SB_OID_DSA_SHA1;
}

void TElBuiltInDSAPublicKeyCrypto::SetKeyMaterial(TElCustomCryptoKey* key) {
    if (key == nullptr || key->GetAlgorithm() != SB_ALG_PK_DSA) Fail(SBadKeyMaterial);
    key_ = key;
}

void TElBuiltInDSAPublicKeyCrypto::Reset() {
    TElBuiltInPublicKeyCrypto::Reset();
    inputIsHash_ = false;
}

int32_t TElBuiltInDSAPublicKeyCrypto::HashAlgorithm() const {
    if (key_ == nullptr) return SB_ALG_UNKNOWN;
    const int32_t h = GetHashAlgorithmByOID(key_->GetKeyProp(SB_KEYPROP_HASH_ALGORITHM));
    return h == SB_ALG_UNKNOWN ? SB_ALG_SHA1 : h;
}

void TElBuiltInDSAPublicKeyCrypto::SignInit(bool) {
    if (key_ == nullptr || !key_->GetIsSecret()) Fail(SBadKeyMaterial);
    collected_.clear();
    hash_.reset();
    if (!inputIsHash_) StartDigest(TElBuiltInHashFunction::CreateByAlgorithm(HashAlgorithm()));
}

void TElBuiltInDSAPublicKeyCrypto::SignUpdate(const void* buffer, size_t size) {
    Collect(buffer, size);
}

void TElBuiltInDSAPublicKeyCrypto::SignFinal(void* buffer, size_t& size) {
    if (!finished_) {
        const rtl::SecureBytes digest = TakeDigest();
        const ByteString p = key_->GetKeyProp(SB_KEYPROP_DSA_P), q = key_->GetKeyProp(SB_KEYPROP_DSA_Q),
                         g = key_->GetKeyProp(SB_KEYPROP_DSA_G);
        ByteString x = key_->GetKeyProp(SB_KEYPROP_DSA_X);
        rtl::SecureBytes r, s;
        auto* prepared = dynamic_cast<TElBuiltInDSACryptoKey*>(key_);
        std::unique_ptr<TElPublicKeyComputationToken> token = prepared ? prepared->TakePreparedToken() : nullptr;
        if (token) {
            // The precomputed k and r; the token is spent here and freed with this scope.
            const BigNumPtr xn = Number(ViewOf(x)), rn = MakeBigNum(), sn = MakeBigNum();
            GetPublicKeyAsyncCalculator()->EndDSASigning(token.get(), xn.get(), digest.data(), int32_t(digest.size()),
                                                         rn.get(), sn.get());
            r = pkmath::ToTrimmed(rn.get());
            s = pkmath::ToTrimmed(sn.get());
        } else {
            int32_t rs = 0, ss = 0;
            SignDSA(digest.data(), int32_t(digest.size()), p.data(), int32_t(p.size()), q.data(), int32_t(q.size()),
                    g.data(), int32_t(g.size()), x.data(), int32_t(x.size()), nullptr, rs, nullptr, ss);
            r.assign(size_t(rs > 0 ? rs : 0), 0);
            s.assign(size_t(ss > 0 ? ss : 0), 0);
            const bool ok = SignDSA(digest.data(), int32_t(digest.size()), p.data(), int32_t(p.size()), q.data(),
                                    int32_t(q.size()), g.data(), int32_t(g.size()), x.data(), int32_t(x.size()),
                                    r.data(), rs, s.data(), ss);
            if (!ok) {
                ClearString(x);
                Fail(SSigningFailed);
            }
            r.resize(size_t(rs));
            s.resize(size_t(ss));
        }
        ClearString(x);
        size_t sigSize = 0;
        DSAEncodeSignature(r.data(), r.size(), s.data(), s.size(), nullptr, sigSize);
        rtl::SecureBytes sig(sigSize);
        if (!DSAEncodeSignature(r.data(), r.size(), s.data(), s.size(), sig.data(), sigSize)) Fail(SSigningFailed);
        WriteOutput(sig.data(), sigSize);
        finished_ = true;
    }
    AnswerSignature(buffer, size);
}

void TElBuiltInDSAPublicKeyCrypto::VerifyInit(bool, const void* signature, size_t size) {
    if (key_ == nullptr || !key_->GetIsPublic()) Fail(SBadKeyMaterial);
    collected_.clear();
    hash_.reset();
    signature_.assign(static_cast<const uint8_t*>(signature), static_cast<const uint8_t*>(signature) + size);
    if (!inputIsHash_) StartDigest(TElBuiltInHashFunction::CreateByAlgorithm(HashAlgorithm()));
}

void TElBuiltInDSAPublicKeyCrypto::VerifyUpdate(const void* buffer, size_t size) {
    Collect(buffer, size);
}

int32_t TElBuiltInDSAPublicKeyCrypto::VerifyFinal() {
    if (key_ == nullptr || !key_->GetIsPublic()) Fail(SBadKeyMaterial);
    const rtl::SecureBytes digest = TakeDigest();
    if (signature_.empty()) return SB_VR_INVALID_SIGNATURE;
    size_t rs = signature_.size(), ss = signature_.size();
    ByteArray r(rs), s(ss);
    if (!DSADecodeSignature(signature_.data(), signature_.size(), r.data(), rs, s.data(), ss) || rs == 0 || ss == 0)
        return SB_VR_INVALID_SIGNATURE;
    const ByteString p = key_->GetKeyProp(SB_KEYPROP_DSA_P), q = key_->GetKeyProp(SB_KEYPROP_DSA_Q),
                     g = key_->GetKeyProp(SB_KEYPROP_DSA_G), y = key_->GetKeyProp(SB_KEYPROP_DSA_Y);
    return VerifyDSA(digest.data(), int32_t(digest.size()), p.data(), int32_t(p.size()), q.data(), int32_t(q.size()),
                     g.data(), int32_t(g.size()), y.data(), int32_t(y.size()), r.data(), int32_t(rs), s.data(),
                     int32_t(ss))
               ? SB_VR_SUCCESS
               : SB_VR_INVALID_SIGNATURE;
}

int64_t TElBuiltInDSAPublicKeyCrypto::EstimateOutputSize(const void*, int32_t operation, int64_t) {
    if (operation == SB_PKOP_ENCRYPT || operation == SB_PKOP_DECRYPT || operation == SB_PKOP_VERIFY)
        Fail(SUnsupportedOperation);
    if (operation == SB_PKOP_SIGN && (key_ == nullptr || !key_->GetIsSecret())) Fail(SBadKeyMaterial);
    int32_t qbits = key_ != nullptr ? PropertyValueToInteger(key_->GetKeyProp(SB_KEYPROP_DSA_QBITS), 0) : 0;
    if (qbits == 0) qbits = 160;
    return int64_t(qbits >> 3) * 2 + 16;
}

// ---------------------------------------------------------------------------------------------
// Elgamal

std::unique_ptr<TElBuiltInElgamalPublicKeyCrypto> TElBuiltInElgamalPublicKeyCrypto::CreateByOID(std::string_view oid) {
    throw EElBuiltInCryptoProviderError(rtl::Format(SUnsupportedAlgorithmStr, OIDToText(oid)));
}

std::unique_ptr<TElBuiltInElgamalPublicKeyCrypto> TElBuiltInElgamalPublicKeyCrypto::CreateByAlgorithm(int32_t code) {
    if (code != SB_ALG_PK_ELGAMAL) throw EElBuiltInCryptoProviderError(rtl::Format(SUnsupportedAlgorithmInt, code));
    std::unique_ptr<TElBuiltInElgamalPublicKeyCrypto> o(new TElBuiltInElgamalPublicKeyCrypto());
    o->hashAlgorithm_ = SB_ALG_SHA1;
    return o;
}

std::unique_ptr<TElBuiltInElgamalPublicKeyCrypto> TElBuiltInElgamalPublicKeyCrypto::Create() {
    return CreateByAlgorithm(SB_ALG_PK_ELGAMAL);
}

void TElBuiltInElgamalPublicKeyCrypto::SetKeyMaterial(TElCustomCryptoKey* key) {
    if (key == nullptr || key->GetAlgorithm() != SB_ALG_PK_ELGAMAL) Fail(SBadKeyMaterial);
    key_ = key;
}

void TElBuiltInElgamalPublicKeyCrypto::Reset() {
    TElBuiltInPublicKeyCrypto::Reset();
    inputIsHash_ = true;
    hashAlgorithm_ = SB_ALG_SHA1;
}

namespace {

struct ElgamalKey {
    BigNumPtr p, g, y, x;
};

ElgamalKey ElgamalValues(const TElCustomCryptoKey* key, bool secret) {
    ElgamalKey k{Number(ViewOf(key->GetKeyProp(SB_KEYPROP_ELGAMAL_P))), Number(ViewOf(key->GetKeyProp(SB_KEYPROP_ELGAMAL_G))),
                 Number(ViewOf(key->GetKeyProp(SB_KEYPROP_ELGAMAL_Y))), MakeBigNum()};
    if (secret) {
        ByteString x = key->GetKeyProp(SB_KEYPROP_ELGAMAL_X);
        k.x = Number(ViewOf(x));
        ClearString(x);
    }
    return k;
}

// The pair (a, b) in the DER of EncodeElgamalPair.
rtl::SecureBytes EncodePair(const BigNum* a, const BigNum* b) {
    const rtl::SecureBytes ab = pkmath::ToWords(a), bb = pkmath::ToWords(b);
    rtl::SecureBytes pair;
    if (!Sized(pair, [&](void* out, int32_t& s) {
            return EncodeElgamalPair(ab.data(), int32_t(ab.size()), bb.data(), int32_t(bb.size()), out, s);
        }))
        Fail(SInternalError);
    return pair;
}

bool DecodePair(Bytes blob, BigNumPtr& a, BigNumPtr& b) {
    int32_t as = 0, bs = 0;
    DecodeElgamalPair(blob.data(), int32_t(blob.size()), nullptr, as, nullptr, bs);
    if (as <= 0 || bs <= 0) return false;
    rtl::SecureBytes ab(static_cast<size_t>(as)), bb(static_cast<size_t>(bs));
    if (!DecodeElgamalPair(blob.data(), int32_t(blob.size()), ab.data(), as, bb.data(), bs)) return false;
    return pkmath::Load(a, Bytes(ab.data(), size_t(as))) && pkmath::Load(b, Bytes(bb.data(), size_t(bs)));
}

}  // namespace

void TElBuiltInElgamalPublicKeyCrypto::SignInit(bool) {
    if (key_ == nullptr || !key_->GetIsSecret()) Fail(SBadKeyMaterial);
    collected_.clear();
    hash_.reset();
    if (!inputIsHash_) StartDigest(TElBuiltInHashFunction::CreateByAlgorithm(hashAlgorithm_));
}

void TElBuiltInElgamalPublicKeyCrypto::SignUpdate(const void* buffer, size_t size) {
    Collect(buffer, size);
}

void TElBuiltInElgamalPublicKeyCrypto::SignFinal(void* buffer, size_t& size) {
    if (!finished_) {
        const rtl::SecureBytes digest = TakeDigest();
        const ElgamalKey k = ElgamalValues(key_, true);
        const BigNumPtr m = Number(Bytes(digest)), a = MakeBigNum(), b = MakeBigNum();
        auto* prepared = dynamic_cast<TElBuiltInElgamalCryptoKey*>(key_);
        std::unique_ptr<TElPublicKeyComputationToken> token = prepared ? prepared->TakePreparedToken() : nullptr;
        if (token) {
            GetPublicKeyAsyncCalculator()->EndElgamalSigning(token.get(), k.x.get(), m.get(), a.get(), b.get());
        } else if (!SignElgamal(m.get(), k.p.get(), k.g.get(), k.x.get(), a.get(), b.get())) {
            Fail(SSigningFailed);
        }
        const rtl::SecureBytes pair = EncodePair(a.get(), b.get());
        WriteOutput(pair.data(), pair.size());
        finished_ = true;
    }
    AnswerSignature(buffer, size);
}

void TElBuiltInElgamalPublicKeyCrypto::VerifyInit(bool, const void* signature, size_t size) {
    if (key_ == nullptr || !key_->GetIsPublic()) Fail(SBadKeyMaterial);
    collected_.clear();
    hash_.reset();
    signature_.assign(static_cast<const uint8_t*>(signature), static_cast<const uint8_t*>(signature) + size);
    if (!inputIsHash_) StartDigest(TElBuiltInHashFunction::CreateByAlgorithm(hashAlgorithm_));
}

void TElBuiltInElgamalPublicKeyCrypto::VerifyUpdate(const void* buffer, size_t size) {
    Collect(buffer, size);
}

int32_t TElBuiltInElgamalPublicKeyCrypto::VerifyFinal() {
    const rtl::SecureBytes digest = TakeDigest();
    BigNumPtr a, b;
    if (!DecodePair(Bytes(signature_), a, b)) return SB_VR_INVALID_SIGNATURE;
    const ElgamalKey k = ElgamalValues(key_, false);
    BigNumPtr m;
    if (!pkmath::Load(m, Bytes(digest))) return SB_VR_INVALID_SIGNATURE;
    return VerifyElgamal(m.get(), k.p.get(), k.g.get(), k.y.get(), a.get(), b.get()) ? SB_VR_SUCCESS
                                                                                    : SB_VR_INVALID_SIGNATURE;
}

void TElBuiltInElgamalPublicKeyCrypto::EncryptInit() {
    if (key_ == nullptr || !key_->GetIsPublic()) Fail(SBadKeyMaterial);
    collected_.clear();
}

void TElBuiltInElgamalPublicKeyCrypto::EncryptUpdate(const void* buffer, size_t size) {
    AppendTo(collected_, buffer, size);
}

void TElBuiltInElgamalPublicKeyCrypto::EncryptFinal() {
    const ElgamalKey k = ElgamalValues(key_, false);
    BigNumPtr m;
    // A message not below p could not be recovered.
    if (!pkmath::Load(m, Bytes(collected_)) || !IsBigNumGreater(k.p.get(), m.get())) Fail(SInputTooLong);
    const BigNumPtr a = MakeBigNum(), b = MakeBigNum();
    auto* prepared = dynamic_cast<TElBuiltInElgamalCryptoKey*>(key_);
    std::unique_ptr<TElPublicKeyComputationToken> token = prepared ? prepared->TakePreparedToken() : nullptr;
    if (token) {
        GetPublicKeyAsyncCalculator()->EndElgamalEncryption(token.get(), m.get(), a.get(), b.get());
    } else if (!EncryptElgamal(m.get(), k.p.get(), k.g.get(), k.y.get(), a.get(), b.get())) {
        Fail(SEncryptionFailed);
    }
    const rtl::SecureBytes pair = EncodePair(a.get(), b.get());
    WriteOutput(pair.data(), pair.size());
}

void TElBuiltInElgamalPublicKeyCrypto::DecryptInit() {
    if (key_ == nullptr || !key_->GetIsSecret()) Fail(SBadKeyMaterial);
    collected_.clear();
}

void TElBuiltInElgamalPublicKeyCrypto::DecryptUpdate(const void* buffer, size_t size) {
    AppendTo(collected_, buffer, size);
}

void TElBuiltInElgamalPublicKeyCrypto::DecryptFinal() {
    BigNumPtr a, b;
    if (!DecodePair(Bytes(collected_), a, b)) Fail(SDecryptionFailed);
    const ElgamalKey k = ElgamalValues(key_, true);
    const BigNumPtr m = MakeBigNum();
    if (!DecryptElgamal(k.p.get(), k.g.get(), k.x.get(), a.get(), b.get(), m.get())) Fail(SDecryptionFailed);
    const rtl::SecureBytes words = pkmath::ToWords(m.get());
    WriteOutput(words.data(), words.size());
}

int64_t TElBuiltInElgamalPublicKeyCrypto::EstimateOutputSize(const void*, int32_t operation, int64_t size) {
    if (key_ == nullptr || key_->GetAlgorithm() != SB_ALG_PK_ELGAMAL) Fail(SBadKeyMaterial);
    const int64_t c = key_->GetBits() >> 3;
    if (operation == SB_PKOP_ENCRYPT && size > c) Fail(SInputTooLong);
    // Numbers come out in whole 32-bit words: room for a p whose length is not a multiple of 4.
    const int64_t words = (c + 3) / 4 * 4;
    if (operation == SB_PKOP_ENCRYPT || operation == SB_PKOP_SIGN_DETACHED) return 2 * words + 16;
    if (operation == SB_PKOP_DECRYPT) return words;
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Diffie-Hellman

std::unique_ptr<TElBuiltInDHPublicKeyCrypto> TElBuiltInDHPublicKeyCrypto::CreateByOID(std::string_view) {
    return Create();
}

std::unique_ptr<TElBuiltInDHPublicKeyCrypto> TElBuiltInDHPublicKeyCrypto::CreateByAlgorithm(int32_t) {
    return Create();
}

std::unique_ptr<TElBuiltInDHPublicKeyCrypto> TElBuiltInDHPublicKeyCrypto::Create() {
    return std::unique_ptr<TElBuiltInDHPublicKeyCrypto>(new TElBuiltInDHPublicKeyCrypto());
}

void TElBuiltInDHPublicKeyCrypto::SetKeyMaterial(TElCustomCryptoKey* key) {
    if (key == nullptr || key->GetAlgorithm() != SB_ALG_PK_DH) Fail(SBadKeyMaterial);
    key_ = key;
}

void TElBuiltInDHPublicKeyCrypto::Reset() {
    TElBuiltInPublicKeyCrypto::Reset();
    collected_.clear();
}

void TElBuiltInDHPublicKeyCrypto::EncryptInit() {
    if (key_ == nullptr || !key_->GetIsPublic()) Fail(SBadKeyMaterial);
    collected_.clear();
}

void TElBuiltInDHPublicKeyCrypto::EncryptUpdate(const void* buffer, size_t size) {
    AppendTo(collected_, buffer, size);
}

void TElBuiltInDHPublicKeyCrypto::EncryptFinal() {
    Exponentiate(SB_KEYPROP_DH_G);
}

void TElBuiltInDHPublicKeyCrypto::DecryptInit() {
    if (key_ == nullptr || !key_->GetIsSecret()) Fail(SBadKeyMaterial);
    collected_.clear();
}

void TElBuiltInDHPublicKeyCrypto::DecryptUpdate(const void* buffer, size_t size) {
    AppendTo(collected_, buffer, size);
}

void TElBuiltInDHPublicKeyCrypto::DecryptFinal() {
    Exponentiate(SB_KEYPROP_DH_PEER_Y);
}

void TElBuiltInDHPublicKeyCrypto::Exponentiate(std::string_view baseProp) {
    // RFC 2631 2.1.5 and NIST SP 800-56A 5.6.2.3.1: the group must be present and the base (the
    // peer's value, or g) must lie in 2 .. p - 2; 0, 1 and p - 1 force a secret anyone knows.
    constexpr int32_t kMaxPrimeBits = 16384;
    BigNumPtr p, base;
    if (!pkmath::Load(p, ViewOf(key_->GetKeyProp(SB_KEYPROP_DH_P))) || CountBigNumBits(p.get()) < 3 ||
        CountBigNumBits(p.get()) > kMaxPrimeBits)
        Fail(SBadKeyMaterial);
    if (!pkmath::Load(base, ViewOf(key_->GetKeyProp(baseProp)))) Fail(SInvalidPublicKey);
    const BigNumPtr pm1 = MakeBigNum();
    SubtractWordFromBigNum(p.get(), 1, pm1.get());
    if (CountBigNumBits(base.get()) < 2 || !IsBigNumGreater(pm1.get(), base.get())) Fail(SInvalidPublicKey);
    BigNumPtr e;
    if (!collected_.empty()) {
        if (!pkmath::Load(e, Bytes(collected_))) Fail(SInputTooLong);
    } else {
        ByteString x = key_->GetKeyProp(SB_KEYPROP_DH_X);
        const bool loaded = pkmath::Load(e, ViewOf(x));
        ClearString(x);
        if (!loaded || IsBigNumZero(e.get())) Fail(SBadKeyMaterial);
    }
    const BigNumPtr r = MakeBigNum();
    ExponentiateBigNumMontgomery(base.get(), e.get(), p.get(), r.get());
    const rtl::SecureBytes words = pkmath::ToWords(r.get());
    WriteOutput(words.data(), words.size());
}

int64_t TElBuiltInDHPublicKeyCrypto::EstimateOutputSize(const void*, int32_t operation, int64_t size) {
    const int64_t c = key_ != nullptr ? key_->GetBits() >> 3 : 0;
    if (operation == SB_PKOP_SIGN || operation == SB_PKOP_VERIFY) Fail(SNotASigningAlgorithm);
    if (key_ == nullptr || key_->GetAlgorithm() != SB_ALG_PK_DH) Fail(SBadKeyMaterial);
    if ((operation == SB_PKOP_ENCRYPT || operation == SB_PKOP_DECRYPT) && size > c) Fail(SInputTooLong);
    // The result comes out in whole 32-bit words: room for a p whose length is not a multiple of 4.
    return (c + 3) / 4 * 4;
}
