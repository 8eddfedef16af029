// crypto/keys/SBPublicKeyCrypto_rsa.cpp: the RSA key material (PKCS#1 and SubjectPublicKeyInfo, DER
// or PEM, the RFC 4055 parameter blocks) and the RSA crypto object.
#include <vector>

#include "crypto/base/SBASN1.h"
#include "crypto/base/SBConstants.h"
#include "crypto/facade/SBSymmetricCrypto.h"
#include "crypto/keys/SBPKCS8.h"
#include "crypto/keys/SBPublicKeyCrypto.h"
#include "crypto/pk/PublicKeyMath.h"
#include "crypto/pk/SBRSA.h"
#include "crypto/prov/SBCryptoProvUtils.h"
#include "rtl/Format.h"

namespace {

[[noreturn]] void Fail(const char* message) {
    throw EElPublicKeyCryptoError(message);
}

ByteString IntegerDER(int32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[size_t(i)] = char(uint32_t(value) >> (24 - 8 * i));
    return EncodeDERInteger(bytes);
}

// AlgorithmIdentifier { hash OID, NULL }.
ByteString HashIdentifier(int32_t hash) {
    return EncodeDERSequence({EncodeDERTLV(0x06, GetOIDByHashAlgorithm(hash)), EncodeDERNull()});
}

ByteString MGF1Identifier(int32_t hash) {
    return EncodeDERSequence({EncodeDERTLV(0x06, SB_OID_MGF1), HashIdentifier(hash)});
}

using Elements = std::vector<pkmath::Element>;

// The hash of an AlgorithmIdentifier: a SEQUENCE of an OID and, optionally, a NULL.
bool ReadHashIdentifier(pkmath::Bytes der, int32_t& hash) {
    Elements seq, items;
    if (!pkmath::ReadElements(der, seq, 1) || seq.size() != 1 || seq[0].tag != 0x30) return false;
    if (!pkmath::ReadElements(seq[0].content, items, 2) || items.empty() || items[0].tag != 0x06) return false;
    if (items.size() == 2 && (items[1].tag != 0x05 || !items[1].content.empty())) return false;
    hash = GetHashAlgorithmByOID(ByteString(items[0].content.begin(), items[0].content.end()));
    return true;
}

bool ReadMGF1Identifier(pkmath::Bytes der, int32_t& mgfHash) {
    Elements seq, items;
    if (!pkmath::ReadElements(der, seq, 1) || seq.size() != 1 || seq[0].tag != 0x30) return false;
    if (!pkmath::ReadElements(seq[0].content, items, 2) || items.size() != 2 || items[0].tag != 0x06) return false;
    if (ByteString(items[0].content.begin(), items[0].content.end()) != SB_OID_MGF1) return false;
    return ReadHashIdentifier(items[1].whole, mgfHash);
}

// The last four content bytes of an INTEGER as a number (the tag tree's ReadTagInteger).
bool ReadSmallInteger(pkmath::Bytes der, int32_t& value) {
    Elements items;
    if (!pkmath::ReadElements(der, items, 1) || items.size() != 1 || items[0].tag != 0x02) return false;
    uint32_t v = 0;
    const pkmath::Bytes c = items[0].content;
    for (size_t i = c.size() > 4 ? c.size() - 4 : 0; i < c.size(); ++i)
        v = (v << 8) | c[i];
    value = int32_t(v);
    return true;
}

// The walk shared by both readers: one top-level element; NULL gives true; a SEQUENCE of fewer
// than four [n] elements, each constructed with exactly one child, in strictly increasing
// order, every one taken by `take` (false stops the walk).
template <class Take>
bool WalkParams(const void* der, size_t size, Take take) {
    Elements top, items;
    if (!pkmath::ReadElements(pkmath::View(der, int32_t(size)), top, 1) || top.size() != 1) return false;
    if (top[0].tag == 0x05) return top[0].content.empty();
    if (top[0].tag != 0x30) return false;
    if (!pkmath::ReadElements(top[0].content, items, 3)) return false;
    int last = -1;
    for (const pkmath::Element& e : items) {
        const int number = e.tag - 0xA0;
        if (number < 0 || number > 3 || number <= last) return false;
        last = number;
        Elements child;
        if (!pkmath::ReadElements(e.content, child, 1) || child.size() != 1) return false;
        if (!take(number, child[0].whole)) return false;
    }
    return true;
}

const std::initializer_list<std::string_view> kSignatureOIDs = {
    SB_OID_RSA_ENCRYPTION, SB_OID_SHA1_RSA,   SB_OID_MD2_RSA,    SB_OID_MD5_RSA,   SB_OID_SHA1_RSA_OIW,
    SB_OID_SHA224_RSA,     SB_OID_SHA256_RSA, SB_OID_SHA384_RSA, SB_OID_SHA512_RSA};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Material

TElRSAKeyMaterial::TElRSAKeyMaterial(TElCustomCryptoProvider* provider) : TElPublicKeyMaterial(provider) {
    ResetState();
    key_ = provider_->CreateKey(SB_ALG_PK_RSA, 0, nullptr);
}

void TElRSAKeyMaterial::ResetState() {
    PEMOutput = false;
    keyScheme_ = SB_RSA_KEYSCHEME_PLAIN;
    pkcs8_ = false;
}

bool TElRSAKeyMaterial::GetValid() const {
    return key_ != nullptr && key_->GetIsValid();
}

int TElRSAKeyMaterial::GetBits() const {
    return key_ != nullptr ? key_->GetBits() : 0;
}

void TElRSAKeyMaterial::Assign(const TElKeyMaterial& source) {
    const auto* rsa = dynamic_cast<const TElRSAKeyMaterial*>(&source);
    if (rsa == nullptr) Fail(SPKInvalidKeyMaterialType);
    KeyPassphrase = rsa->KeyPassphrase;
    PEMOutput = rsa->PEMOutput;
    keyScheme_ = rsa->keyScheme_;
    pkcs8_ = rsa->pkcs8_;
    AdoptCloneOf(*rsa);
    provider_ = rsa->provider_;
}

std::unique_ptr<TElKeyMaterial> TElRSAKeyMaterial::Clone() const {
    auto copy = std::make_unique<TElRSAKeyMaterial>(provider_);
    copy->Assign(*this);
    return copy;
}

void TElRSAKeyMaterial::InternalGenerate(int bits) {
    key_->Generate(bits, nullptr, GenerationProgress(), nullptr);
}

void TElRSAKeyMaterial::LoadPublic(const void* buffer, size_t size) {
    ResetState();
    const rtl::SecureBytes der = ToDER(buffer, size, KeyPassphrase, false);
    key_->ImportPublic(der.data(), der.size(), nullptr);
}

void TElRSAKeyMaterial::LoadSecret(const void* buffer, size_t size) {
    ResetState();
    const rtl::SecureBytes der = ToDER(buffer, size, KeyPassphrase, true);
    // A PKCS#8 key (plain or encrypted) first; anything else is the bare PKCS#1 RSAPrivateKey.
    TElPKCS8PrivateKey p8;
    const int32_t r = p8.LoadFromBuffer(der.data(), der.size(), KeyPassphrase);
    if (r == SB_PKCS8_ERROR_INVALID_PASSWORD) Fail(SPKInvalidPassphrase);
    if (r != 0) {
        key_->ImportSecret(der.data(), der.size(), nullptr);
        return;
    }
    const int32_t algorithm = GetPKAlgorithmByOID(p8.GetKeyAlgorithm());
    if (algorithm != SB_CERT_ALG_RSA_ENCRYPTION && algorithm != SB_CERT_ALG_RSASSA_PSS &&
        algorithm != SB_CERT_ALG_RSAES_OAEP)
        throw EElPublicKeyCryptoError(rtl::Format(SPKUnsupportedAlgorithmStr, OIDToText(p8.GetKeyAlgorithm())));
    const ByteString& blob = p8.GetPrivateKeyBlob();
    key_->ImportSecret(blob.data(), blob.size(), nullptr);
    const ByteString& params = p8.GetKeyAlgorithmParams();
    // The parameter readers' verdicts are not consulted: what they filled in is used, their
    // defaults for the rest.
    if (algorithm == SB_CERT_ALG_RSASSA_PSS) {
        int32_t hash = 0, salt = 0, mgf = 0, mgfHash = 0, trailer = 0;
        ReadRSASSAPSSParams(params.data(), params.size(), hash, salt, mgf, mgfHash, trailer);
        SetSaltSize(salt);
        SetHashAlgorithm(hash);
        keyScheme_ = SB_RSA_KEYSCHEME_PSS;
    } else if (algorithm == SB_CERT_ALG_RSAES_OAEP) {
        ByteString label;
        int32_t hash = 0, mgfHash = 0;
        ReadRSAESOAEPParams(params.data(), params.size(), label, hash, mgfHash);
        SetStrLabel(label);
        SetHashAlgorithm(hash);
        keyScheme_ = SB_RSA_KEYSCHEME_OAEP;
    }
    pkcs8_ = true;
}

void TElRSAKeyMaterial::SavePublic(void* buffer, size_t& size) const {
    Deliver(Exported(false), buffer, size, PEMOutput, "PUBLIC KEY", ByteString());
}

void TElRSAKeyMaterial::SaveSecret(void* buffer, size_t& size) const {
    rtl::SecureBytes blob = Exported(true);
    if (pkcs8_) {
        // Loaded from PKCS#8, saved as PKCS#8: PBES2 with triple DES when there is a passphrase.
        TElPKCS8PrivateKey p8;
        p8.UsePBES2 = true;
        p8.CipherAlgorithm = SB_ALG_3DES;
        p8.SetPrivateKeyBlob(std::string_view(reinterpret_cast<const char*>(blob.data()), blob.size()));
        if (keyScheme_ == SB_RSA_KEYSCHEME_OAEP) {
            p8.SetKeyAlgorithm(SB_OID_RSAES_OAEP);
            p8.SetKeyAlgorithmParams(WriteRSAESOAEPParams(GetHashAlgorithm(), GetStrLabel()));
        } else if (keyScheme_ == SB_RSA_KEYSCHEME_PSS) {
            p8.SetKeyAlgorithm(SB_OID_RSASSA_PSS);
            p8.SetKeyAlgorithmParams(WriteRSASSAPSSParams(GetHashAlgorithm(), GetSaltSize(), 1, SB_ALG_MGF1));
        } else {
            p8.SetKeyAlgorithm(SB_OID_RSA_ENCRYPTION);
            p8.SetKeyAlgorithmParams(EncodeDERNull());
        }
        blob = SavePKCS8(p8, KeyPassphrase);
    }
    Deliver(blob, buffer, size, PEMOutput, "RSA PRIVATE KEY", KeyPassphrase);
}

void TElRSAKeyMaterial::ClearSecret() {
    key_->ClearSecret();
}

void TElRSAKeyMaterial::ClearPublic() {
    key_->ClearPublic();
}

void TElRSAKeyMaterial::LoadPublicFromModulus(const void* modulus, size_t modulusSize, const void* exponent,
                                              size_t exponentSize) {
    // The form the key reads: the bare RSAPublicKey when rsa-raw-key is set, else the
    // SubjectPublicKeyInfo (a wrapped key would be refused by a raw key and the reverse).
    const bool raw = PropertyValueToBoolean(key_->GetKeyProp(SB_KEYPROP_RSA_RAWKEY), false);
    const ByteString oid(SB_OID_RSA_ENCRYPTION);
    int32_t size = 0;
    EncodeRSAPublicKey(modulus, int32_t(modulusSize), exponent, int32_t(exponentSize), oid, nullptr, size, raw);
    std::string der(size_t(size > 0 ? size : 0), '\0');
    if (!EncodeRSAPublicKey(modulus, int32_t(modulusSize), exponent, int32_t(exponentSize), oid, der.data(), size, raw))
        Fail(SPKInternalError);
    der.resize(size_t(size));
    const bool pem = PEMOutput;
    LoadPublic(der.data(), der.size());
    PEMOutput = pem;
}

void TElRSAKeyMaterial::SetStrLabel(const ByteString& label) {
    if (!GetBusy()) key_->SetKeyProp(SB_KEYPROP_STRLABEL, label);
}
ByteString TElRSAKeyMaterial::GetStrLabel() const {
    return key_->GetKeyProp(SB_KEYPROP_STRLABEL);
}
void TElRSAKeyMaterial::SetSaltSize(int32_t value) {
    if (!GetBusy()) key_->SetKeyProp(SB_KEYPROP_SALT_SIZE, IntegerToPropertyValue(value));
}
int32_t TElRSAKeyMaterial::GetSaltSize() const {
    return PropertyValueToInteger(key_->GetKeyProp(SB_KEYPROP_SALT_SIZE), 0);
}
void TElRSAKeyMaterial::SetHashAlgorithm(int32_t value) {
    if (!GetBusy()) key_->SetKeyProp(SB_KEYPROP_HASH_ALGORITHM, GetOIDByHashAlgorithm(value));
}
int32_t TElRSAKeyMaterial::GetHashAlgorithm() const {
    return GetHashAlgorithmByOID(key_->GetKeyProp(SB_KEYPROP_HASH_ALGORITHM));
}
void TElRSAKeyMaterial::SetRawKey(bool value) {
    if (!GetBusy()) key_->SetKeyProp(SB_KEYPROP_RSA_RAWKEY, BooleanToPropertyValue(value));
}

// RFC 4055 section 3.1: RSASSA-PSS-params, defaults SHA-1, MGF1 with SHA-1, 20, 1.
ByteString TElRSAKeyMaterial::WriteRSASSAPSSParams(int32_t hashAlgorithm, int32_t saltSize, int32_t trailerField,
                                                  int32_t mgfAlgorithm) {
    if (mgfAlgorithm != SB_ALG_MGF1) return ByteString();
    std::vector<ByteString> items;
    if (hashAlgorithm != SB_ALG_SHA1) {
        if (GetOIDByHashAlgorithm(hashAlgorithm).empty()) return ByteString();
        items.push_back(EncodeDERTLV(0xA0, HashIdentifier(hashAlgorithm)));
        items.push_back(EncodeDERTLV(0xA1, MGF1Identifier(hashAlgorithm)));
    }
    items.push_back(EncodeDERTLV(0xA2, IntegerDER(saltSize)));
    if (trailerField != 1) items.push_back(EncodeDERTLV(0xA3, IntegerDER(trailerField)));
    return EncodeDERSequence(items);
}

// RFC 4055 section 4.1: RSAES-OAEP-params, defaults SHA-1, MGF1 with SHA-1, an empty label.
ByteString TElRSAKeyMaterial::WriteRSAESOAEPParams(int32_t hashAlgorithm, const ByteString& label) {
    std::vector<ByteString> items;
    if (hashAlgorithm != SB_ALG_SHA1) {
        if (GetOIDByHashAlgorithm(hashAlgorithm).empty()) return ByteString();
        items.push_back(EncodeDERTLV(0xA0, HashIdentifier(hashAlgorithm)));
        items.push_back(EncodeDERTLV(0xA1, MGF1Identifier(hashAlgorithm)));
    }
    if (!label.empty())
        items.push_back(EncodeDERTLV(
            0xA2, EncodeDERSequence({EncodeDERTLV(0x06, SB_OID_OAEP_SRC_SPECIFIED), EncodeDEROctetString(label)})));
    if (items.empty()) return EncodeDERNull();
    return EncodeDERSequence(items);
}

bool TElRSAKeyMaterial::ReadRSASSAPSSParams(const void* der, size_t size, int32_t& hashAlgorithm, int32_t& saltSize,
                                            int32_t& mgfAlgorithm, int32_t& mgfHashAlgorithm, int32_t& trailerField) {
    hashAlgorithm = SB_ALG_SHA1;
    saltSize = 20;
    mgfAlgorithm = SB_ALG_MGF1;
    mgfHashAlgorithm = SB_ALG_SHA1;
    trailerField = 1;
    return WalkParams(der, size, [&](int number, pkmath::Bytes child) {
        switch (number) {
            case 0: return ReadHashIdentifier(child, hashAlgorithm);
            case 1: return ReadMGF1Identifier(child, mgfHashAlgorithm);
            case 2: return ReadSmallInteger(child, saltSize);
            default: {
                int32_t trailer = 0;
                if (!ReadSmallInteger(child, trailer)) return false;
                trailerField = trailer;
                return trailer == 1;  // RFC 4055: trailerFieldBC(1) is the only value
            }
        }
    });
}

bool TElRSAKeyMaterial::ReadRSAESOAEPParams(const void* der, size_t size, ByteString& label, int32_t& hashAlgorithm,
                                            int32_t& mgfHashAlgorithm) {
    label.clear();
    hashAlgorithm = SB_ALG_SHA1;
    mgfHashAlgorithm = SB_ALG_SHA1;
    return WalkParams(der, size, [&](int number, pkmath::Bytes child) {
        switch (number) {
            case 0: return ReadHashIdentifier(child, hashAlgorithm);
            case 1: return ReadMGF1Identifier(child, mgfHashAlgorithm);
            case 2: {
                Elements seq, items;
                if (!pkmath::ReadElements(child, seq, 1) || seq.size() != 1 || seq[0].tag != 0x30) return false;
                if (!pkmath::ReadElements(seq[0].content, items, 2) || items.size() != 2) return false;
                if (items[0].tag != 0x06 || items[1].tag != 0x04) return false;
                if (ByteString(items[0].content.begin(), items[0].content.end()) != SB_OID_OAEP_SRC_SPECIFIED)
                    return false;
                label.assign(items[1].content.begin(), items[1].content.end());
                return true;
            }
            default: return false;
        }
    });
}

// ---------------------------------------------------------------------------------------------
// Crypto

TElRSAPublicKeyCrypto::TElRSAPublicKeyCrypto(ByDefault, TElCustomCryptoProvider* provider)
    : TElPublicKeyCrypto(provider) {
    ResetState();
}

TElRSAPublicKeyCrypto::TElRSAPublicKeyCrypto(TElCustomCryptoProvider* provider) : TElPublicKeyCrypto(provider) {
    ResetState();
    algorithmOID_ = ByteString(SB_OID_RSA_ENCRYPTION);
    supportsEncryption_ = supportsSigning_ = true;
    hashAlgorithm_ = SB_ALG_UNKNOWN;
}

void TElRSAPublicKeyCrypto::ResetState() {
    supportsEncryption_ = supportsSigning_ = false;
    inputIsHash_ = false;
    useAlgorithmPrefix_ = true;
    scheme_ = SB_RSA_CRYPTO_SCHEME_PKCS1;
    InputCoding = OutputCoding = 0;
    HashFuncOID.clear();
    PSSSaltSize = PSSTrailerField = PSSMGFAlgorithm = 0;
}

std::unique_ptr<TElRSAPublicKeyCrypto> TElRSAPublicKeyCrypto::CreateByOID(std::string_view oid,
                                                                          TElCustomCryptoProvider* provider) {
    std::unique_ptr<TElRSAPublicKeyCrypto> o(new TElRSAPublicKeyCrypto(ByDefault{}, provider));
    o->algorithmOID_ = ByteString(oid);
    bool known = false;
    for (std::string_view s : kSignatureOIDs)
        known = known || s == oid;
    if (known) {
        o->supportsEncryption_ = o->supportsSigning_ = true;
    } else if (oid == SB_OID_RSASSA_PSS) {
        o->supportsSigning_ = true;
        o->scheme_ = SB_RSA_CRYPTO_SCHEME_PSS;
    } else if (oid == SB_OID_RSAES_OAEP) {
        o->supportsEncryption_ = true;
        o->scheme_ = SB_RSA_CRYPTO_SCHEME_OAEP;
    } else {
        throw EElPublicKeyCryptoError(rtl::Format(SPKUnsupportedAlgorithmStr, OIDToText(oid)));
    }
    o->hashAlgorithm_ = oid == SB_OID_SHA1_RSA_OIW ? SB_ALG_SHA1 : GetHashAlgorithmBySigAlgorithm(GetAlgorithmByOID(oid));
    return o;
}

std::unique_ptr<TElRSAPublicKeyCrypto> TElRSAPublicKeyCrypto::CreateByAlgorithm(int32_t code,
                                                                                TElCustomCryptoProvider* provider) {
    std::unique_ptr<TElRSAPublicKeyCrypto> o(new TElRSAPublicKeyCrypto(ByDefault{}, provider));
    if ((code >= 0 && code <= 3) || (code >= 7 && code <= 10) || code == SB_CERT_ALG_RIPEMD160_RSA) {
        o->supportsEncryption_ = o->supportsSigning_ = true;
        o->algorithmOID_ = GetOIDByPKAlgorithm(code);
        if (o->algorithmOID_.empty()) o->algorithmOID_ = GetOIDBySigAlgorithm(code);
    } else if (code == SB_CERT_ALG_RSASSA_PSS) {
        o->supportsSigning_ = true;
        o->algorithmOID_ = ByteString(SB_OID_RSASSA_PSS);
        o->scheme_ = SB_RSA_CRYPTO_SCHEME_PSS;
    } else if (code == SB_CERT_ALG_RSAES_OAEP) {
        o->supportsEncryption_ = true;
        o->algorithmOID_ = ByteString(SB_OID_RSAES_OAEP);
        o->scheme_ = SB_RSA_CRYPTO_SCHEME_OAEP;
    }
    if (o->algorithmOID_.empty()) throw EElPublicKeyCryptoError(rtl::Format(SPKUnsupportedAlgorithmInt, code));
    o->hashAlgorithm_ = GetHashAlgorithmBySigAlgorithm(code);
    return o;
}

bool TElRSAPublicKeyCrypto::IsAlgorithmSupported(int32_t code) {
    return (code >= 0 && code <= 3) || (code >= 7 && code <= 12) || code == SB_ALG_PK_RSA;
}

bool TElRSAPublicKeyCrypto::IsAlgorithmSupportedByOID(std::string_view oid) {
    for (std::string_view s : {SB_OID_RSA_ENCRYPTION, SB_OID_MD2_RSA, SB_OID_MD5_RSA, SB_OID_SHA1_RSA,
                               SB_OID_SHA224_RSA, SB_OID_SHA256_RSA, SB_OID_SHA384_RSA, SB_OID_SHA512_RSA,
                               SB_OID_RSASSA_PSS, SB_OID_RSAES_OAEP})
        if (s == oid) return true;
    return false;
}

void TElRSAPublicKeyCrypto::SetScheme(uint8_t scheme) {
    if (busy_) return;
    scheme_ = scheme;
    supportsEncryption_ = supportsSigning_ = true;
    if (scheme == SB_RSA_CRYPTO_SCHEME_PSS) supportsEncryption_ = false;
    if (scheme == SB_RSA_CRYPTO_SCHEME_OAEP) supportsSigning_ = false;
    if (context_ == nullptr) return;
    if (scheme == SB_RSA_CRYPTO_SCHEME_SSL) context_->SetContextProp(SB_CTXPROP_HASH_ALGORITHM, SB_OID_SSL_HASH);
    if (scheme <= SB_RSA_CRYPTO_SCHEME_PSS)
        context_->SetContextProp(SB_CTXPROP_ALGORITHM_SCHEME,
                                 scheme == SB_RSA_CRYPTO_SCHEME_OAEP ? "oaep" : scheme == SB_RSA_CRYPTO_SCHEME_PSS ? "pss" : "pkcs#1");
}

void TElRSAPublicKeyCrypto::SetUseAlgorithmPrefix(bool value) {
    if (busy_) return;
    useAlgorithmPrefix_ = value;
    if (context_ != nullptr) context_->SetContextProp(SB_CTXPROP_USE_ALGORITHM_PREFIX, BooleanToPropertyValue(value));
}

void TElRSAPublicKeyCrypto::SetKeyMaterial(TElPublicKeyMaterial* material) {
    if (busy_) return;
    if (dynamic_cast<TElRSAKeyMaterial*>(material) == nullptr) Fail(SPKBadKeyMaterial);
    keyMaterial_ = material;
}

void TElRSAPublicKeyCrypto::RequireMaterial() const {
    if (dynamic_cast<TElRSAKeyMaterial*>(keyMaterial_) == nullptr) Fail(SPKBadKeyMaterial);
}

void TElRSAPublicKeyCrypto::FillOperationParams(TElRelativeDistinguishedName& list) {
    TElPublicKeyCrypto::FillOperationParams(list);
    list.Add(SB_CTXPROP_USE_ALGORITHM_PREFIX, BooleanToPropertyValue(useAlgorithmPrefix_));
    list.Add(SB_CTXPROP_HASH_FUNC_OID, HashFuncOID);
    if (scheme_ == SB_RSA_CRYPTO_SCHEME_SSL) {
        list.Add(SB_CTXPROP_HASH_ALGORITHM, SB_OID_SSL_HASH);
        return;
    }
    list.Add(SB_CTXPROP_HASH_ALGORITHM, GetOIDByHashAlgorithm(hashAlgorithm_));
    list.Add(SB_CTXPROP_ALGORITHM_SCHEME,
             scheme_ == SB_RSA_CRYPTO_SCHEME_OAEP ? "oaep" : scheme_ == SB_RSA_CRYPTO_SCHEME_PSS ? "pss" : "pkcs#1");
    if (scheme_ == SB_RSA_CRYPTO_SCHEME_PSS) {
        if (PSSSaltSize != 0) list.Add(SB_CTXPROP_SALT_SIZE, IntegerToPropertyValue(PSSSaltSize));
        if (PSSTrailerField != 0) list.Add(SB_CTXPROP_TRAILER_FIELD, IntegerToPropertyValue(PSSTrailerField));
        if (PSSMGFAlgorithm != 0) list.Add(SB_CTXPROP_MGF_ALGORITHM, GetOIDByAlgorithm(PSSMGFAlgorithm));
    }
}

void TElRSAPublicKeyCrypto::SignInit(bool detached) {
    if (!supportsSigning_) Fail(SPKUnsupportedOperation);
    RequireMaterial();
    if (!keyMaterial_->GetSecretKey()) Fail(SPKBadKeyMaterial);
    if (!detached) Fail(SPKOnlyDetachedSignatures);
    TElCustomCryptoKey* key = MaterialKey();
    StartContext([&](TElCustomCryptoProvider* p, const TElRelativeDistinguishedName* list) {
        return p->SignInit(SB_ALG_PK_RSA, key, detached, list);
    });
}

void TElRSAPublicKeyCrypto::SignUpdate(const void* buffer, size_t size) {
    UpdateContext(&TElCustomCryptoProvider::SignUpdate, buffer, size);
}

void TElRSAPublicKeyCrypto::SignFinal() {
    FinishContext(&TElCustomCryptoProvider::SignFinal);
}

void TElRSAPublicKeyCrypto::EncryptInit() {
    RequireMaterial();
    if (!supportsEncryption_) Fail(SPKUnsupportedOperation);
    TElCustomCryptoKey* key = MaterialKey();
    StartContext([&](TElCustomCryptoProvider* p, const TElRelativeDistinguishedName* list) {
        return p->EncryptInit(SB_ALG_PK_RSA, 0, key, list);
    });
}

void TElRSAPublicKeyCrypto::EncryptUpdate(const void* buffer, size_t size) {
    UpdateContext(&TElCustomCryptoProvider::EncryptUpdate, buffer, size);
}

void TElRSAPublicKeyCrypto::EncryptFinal() {
    FinishContext(&TElCustomCryptoProvider::EncryptFinal);
}

void TElRSAPublicKeyCrypto::DecryptInit() {
    if (!supportsEncryption_) Fail(SPKUnsupportedOperation);
    RequireMaterial();
    if (!keyMaterial_->GetSecretKey()) Fail(SPKBadKeyMaterial);
    TElCustomCryptoKey* key = MaterialKey();
    StartContext([&](TElCustomCryptoProvider* p, const TElRelativeDistinguishedName* list) {
        return p->DecryptInit(SB_ALG_PK_RSA, 0, key, list);
    });
}

void TElRSAPublicKeyCrypto::DecryptUpdate(const void* buffer, size_t size) {
    UpdateContext(&TElCustomCryptoProvider::DecryptUpdate, buffer, size);
}

void TElRSAPublicKeyCrypto::DecryptFinal() {
    FinishContext(&TElCustomCryptoProvider::DecryptFinal);
}

void TElRSAPublicKeyCrypto::VerifyInit(bool, const void* signature, size_t size) {
    RequireMaterial();
    if (!keyMaterial_->GetPublicKey()) Fail(SPKBadKeyMaterial);
    if (!supportsSigning_) Fail(SPKUnsupportedOperation);
    TElCustomCryptoKey* key = MaterialKey();
    StartContext([&](TElCustomCryptoProvider* p, const TElRelativeDistinguishedName* list) {
        return p->VerifyInit(SB_ALG_PK_RSA, key, signature, size, list);
    });
}

void TElRSAPublicKeyCrypto::VerifyUpdate(const void* buffer, size_t size) {
    UpdateContext(&TElCustomCryptoProvider::VerifyUpdate, buffer, size);
}

int32_t TElRSAPublicKeyCrypto::VerifyFinal() {
    return FinishVerification();
}

int64_t TElRSAPublicKeyCrypto::EstimateOutputSize(const void*, int64_t size, int32_t operation) {
    if ((operation == 2 || operation == 4) &&
        (scheme_ == SB_RSA_CRYPTO_SCHEME_PKCS1 || scheme_ == SB_RSA_CRYPTO_SCHEME_PSS))
        Fail(SPKOnlyDetachedSignatures);
    RequireMaterial();
    const int64_t k = keyMaterial_->GetBits() >> 3;
    if ((operation == 0 || operation == 1) && size > k) Fail(SPKInputTooLong);
    if (operation == 2 && inputIsHash_ && size > k - 11) Fail(SPKInputTooLong);
    return k;
}

std::unique_ptr<TElSymmetricKeyMaterial> TElRSAPublicKeyCrypto::DecryptKey(const void* encryptedKey, size_t size,
                                                                           std::string_view algOID,
                                                                           std::string_view algParams) {
    RequireMaterial();
    TElCustomCryptoKey* kek = MaterialKey();
    TElCustomCryptoProvider* provider = GetProvider();
    TElCustomCryptoKey* key = provider->DecryptKey(encryptedKey, size, algOID, algParams, kek,
                                                   GetOIDByAlgorithm(kek->GetAlgorithm()), "", nullptr);
    const int32_t cls = provider->GetAlgorithmClass(key->GetAlgorithm());
    if (cls != SB_ALGCLASS_BLOCK && cls != SB_ALGCLASS_STREAM) {
        key->GetCryptoProvider()->ReleaseKey(key);
        Fail(SPKUnsupportedKeyMaterial);
    }
    return TElSymmetricKeyMaterial::CreateWithKey(key);
}
