// crypto/keys/SBPublicKeyCrypto_dsa.cpp: the DSA key material (DSA private-key blobs as DER or PEM,
// generation with a chosen size of q, also in the background) and the DSA crypto object.
#include "crypto/base/SBASN1.h"
#include "crypto/base/SBConstants.h"
#include "crypto/keys/SBPKCS8.h"
#include "crypto/keys/SBPublicKeyCrypto.h"
#include "crypto/prov/SBCryptoProvUtils.h"
#include "rtl/Format.h"

namespace {

[[noreturn]] void Fail(const char* message) {
    throw EElPublicKeyCryptoError(message);
}

}  // namespace

TElDSAKeyMaterial::TElDSAKeyMaterial(TElCustomCryptoProvider* provider) : TElPublicKeyMaterial(provider) {
    key_ = provider_->CreateKey(SB_ALG_PK_DSA, 0, nullptr);
    key_->SetKeyProp(SB_KEYPROP_DSA_STRICT_VALIDATION, BooleanToPropertyValue(false));
}

TElDSAKeyMaterial::~TElDSAKeyMaterial() {
    // The worker calls this object's generation: it must end before any part of it goes.
    StopGeneration();
}

bool TElDSAKeyMaterial::GetValid() const {
    return key_ != nullptr && key_->GetIsValid();
}

int TElDSAKeyMaterial::GetBits() const {
    return key_ != nullptr ? key_->GetBits() : 0;
}

void TElDSAKeyMaterial::Assign(const TElKeyMaterial& source) {
    const auto* dsa = dynamic_cast<const TElDSAKeyMaterial*>(&source);
    if (dsa == nullptr) Fail(SPKInvalidKeyMaterialType);
    KeyPassphrase = dsa->KeyPassphrase;
    PEMOutput = dsa->PEMOutput;
    AdoptCloneOf(*dsa);
}

std::unique_ptr<TElKeyMaterial> TElDSAKeyMaterial::Clone() const {
    auto copy = std::make_unique<TElDSAKeyMaterial>(provider_);
    copy->Assign(*this);
    return copy;
}

void TElDSAKeyMaterial::LoadSecret(const void* buffer, size_t size) {
    PEMOutput = false;
    pkcs8_ = false;
    const rtl::SecureBytes der = ToDER(buffer, size, KeyPassphrase, true);
    key_->ImportSecret(der.data(), der.size(), nullptr);
}

void TElDSAKeyMaterial::SavePublic(void* buffer, size_t& size) const {
    Deliver(Exported(false), buffer, size, false, "", ByteString());
}

void TElDSAKeyMaterial::SaveSecret(void* buffer, size_t& size) const {
    rtl::SecureBytes blob;
    if (!pkcs8_) {
        blob = Exported(true);
    } else if (GetSecretKey()) {
        // PrivateKeyInfo { id-dsa with Dss-Parms { p, q, g }, INTEGER x } (RFC 3279 2.3.2,
        // RFC 5208), PBES2 with triple DES when there is a passphrase.
        TElPKCS8PrivateKey p8;
        p8.UsePBES2 = true;
        p8.CipherAlgorithm = SB_ALG_3DES;
        p8.SetKeyAlgorithm(SB_OID_DSA);
        p8.SetKeyAlgorithmParams(EncodeDERSequence({EncodeDERInteger(key_->GetKeyProp(SB_KEYPROP_DSA_P)),
                                                    EncodeDERInteger(key_->GetKeyProp(SB_KEYPROP_DSA_Q)),
                                                    EncodeDERInteger(key_->GetKeyProp(SB_KEYPROP_DSA_G))}));
        ByteString x = key_->GetKeyProp(SB_KEYPROP_DSA_X);
        ByteString integer = EncodeDERInteger(x);
        ClearString(x);
        p8.SetPrivateKeyBlob(integer);
        ClearString(integer);
        blob = SavePKCS8(p8, KeyPassphrase);
    }
    Deliver(blob, buffer, size, PEMOutput, "DSA PRIVATE KEY", KeyPassphrase);
}

void TElDSAKeyMaterial::ClearSecret() {
    key_->ClearSecret();
}

void TElDSAKeyMaterial::ClearPublic() {
    key_->ClearPublic();
}

void TElDSAKeyMaterial::ImportPublicKey(const void* p, size_t pSize, const void* q, size_t qSize, const void* g,
                                       size_t gSize, const void* y, size_t ySize) {
    key_->SetKeyProp(SB_KEYPROP_DSA_P, PropertyBytes(p, pSize));
    key_->SetKeyProp(SB_KEYPROP_DSA_Q, PropertyBytes(q, qSize));
    key_->SetKeyProp(SB_KEYPROP_DSA_G, PropertyBytes(g, gSize));
    key_->SetKeyProp(SB_KEYPROP_DSA_Y, PropertyBytes(y, ySize));
    key_->SetKeyProp(SB_KEYPROP_DSA_X, "");
}

void TElDSAKeyMaterial::InternalGenerateQ(int bits, int qbits) {
    TElRelativeDistinguishedName params;
    params.Add(SB_KEYPROP_DSA_QBITS, IntegerToPropertyValue(qbits));
    key_->Generate(bits, &params, GenerationProgress(), nullptr);
}

void TElDSAKeyMaterial::GenerateQ(int bits, int qbits) {
    if (!GetBusy()) InternalGenerateQ(bits, qbits);
}

void TElDSAKeyMaterial::BeginGenerateQ(int bits, int qbits) {
    StartGeneration(bits, qbits);
}

// ---------------------------------------------------------------------------------------------

TElDSAPublicKeyCrypto::TElDSAPublicKeyCrypto(Plain, TElCustomCryptoProvider* provider) : TElPublicKeyCrypto(provider) {}

TElDSAPublicKeyCrypto::TElDSAPublicKeyCrypto(TElCustomCryptoProvider* provider) : TElPublicKeyCrypto(provider) {
    algorithmOID_ = ByteString(SB_OID_DSA);
    hashAlgorithm_ = SB_ALG_SHA1;
}

std::unique_ptr<TElDSAPublicKeyCrypto> TElDSAPublicKeyCrypto::CreateByOID(std::string_view oid,
                                                                          TElCustomCryptoProvider* provider) {
    std::unique_ptr<TElDSAPublicKeyCrypto> o(new TElDSAPublicKeyCrypto(Plain{}, provider));
    o->algorithmOID_ = ByteString(oid);
    if (!IsAlgorithmSupportedByOID(oid))
        throw EElPublicKeyCryptoError(rtl::Format(SPKUnsupportedAlgorithmStr, OIDToText(oid)));
    return o;
}

std::unique_ptr<TElDSAPublicKeyCrypto> TElDSAPublicKeyCrypto::CreateByAlgorithm(int32_t code,
                                                                                TElCustomCryptoProvider* provider) {
    std::unique_ptr<TElDSAPublicKeyCrypto> o(new TElDSAPublicKeyCrypto(Plain{}, provider));
    if (IsAlgorithmSupported(code)) {
        o->algorithmOID_ = GetOIDByPKAlgorithm(code);
        if (o->algorithmOID_.empty()) o->algorithmOID_ = GetOIDBySigAlgorithm(code);
    }
    if (o->algorithmOID_.empty()) throw EElPublicKeyCryptoError(rtl::Format(SPKUnsupportedAlgorithmInt, code));
    return o;
}

bool TElDSAPublicKeyCrypto::IsAlgorithmSupported(int32_t code) {
    return code == SB_CERT_ALG_DSA || code == SB_CERT_ALG_DSA_SHA1 || code == SB_ALG_PK_DSA;
}

bool TElDSAPublicKeyCrypto::IsAlgorithmSupportedByOID(std::string_view oid) {
    return oid == SB_OID_DSA || oid == SB_OID_DSA_SHA1;
}

void TElDSAPublicKeyCrypto::SetKeyMaterial(TElPublicKeyMaterial* material) {
    if (busy_) return;
    if (dynamic_cast<TElDSAKeyMaterial*>(material) == nullptr) Fail(SPKBadKeyMaterial);
    keyMaterial_ = material;
}

void TElDSAPublicKeyCrypto::FillOperationParams(TElRelativeDistinguishedName& list) {
    TElPublicKeyCrypto::FillOperationParams(list);
    list.Add(SB_CTXPROP_HASH_ALGORITHM, GetOIDByAlgorithm(hashAlgorithm_));
}

void TElDSAPublicKeyCrypto::SignInit(bool detached) {
    if (dynamic_cast<TElDSAKeyMaterial*>(keyMaterial_) == nullptr || !keyMaterial_->GetSecretKey())
        Fail(SPKBadKeyMaterial);
    TElCustomCryptoKey* key = MaterialKey();
    StartContext([&](TElCustomCryptoProvider* p, const TElRelativeDistinguishedName* list) {
        return p->SignInit(SB_ALG_PK_DSA, key, detached, list);
    });
}

void TElDSAPublicKeyCrypto::SignUpdate(const void* buffer, size_t size) {
    UpdateContext(&TElCustomCryptoProvider::SignUpdate, buffer, size);
}

void TElDSAPublicKeyCrypto::SignFinal() {
    FinishContext(&TElCustomCryptoProvider::SignFinal);
}

void TElDSAPublicKeyCrypto::VerifyInit(bool, const void* signature, size_t size) {
    if (dynamic_cast<TElDSAKeyMaterial*>(keyMaterial_) == nullptr || !keyMaterial_->GetPublicKey())
        Fail(SPKBadKeyMaterial);
    TElCustomCryptoKey* key = MaterialKey();
    StartContext([&](TElCustomCryptoProvider* p, const TElRelativeDistinguishedName* list) {
        return p->VerifyInit(SB_ALG_PK_DSA, key, signature, size, list);
    });
}

void TElDSAPublicKeyCrypto::VerifyUpdate(const void* buffer, size_t size) {
    UpdateContext(&TElCustomCryptoProvider::VerifyUpdate, buffer, size);
}

int32_t TElDSAPublicKeyCrypto::VerifyFinal() {
    return FinishVerification();
}

int64_t TElDSAPublicKeyCrypto::EstimateOutputSize(const void*, int64_t, int32_t operation) {
    if (operation == 0 || operation == 1 || operation == 2 || operation == 4) Fail(SPKUnsupportedOperation);
    if (dynamic_cast<TElDSAKeyMaterial*>(keyMaterial_) == nullptr) Fail(SPKInvalidKeyMaterialType);
    if (operation == 3 && !keyMaterial_->GetSecretKey()) Fail(SPKBadKeyMaterial);
    if (operation == 3) {
        const int32_t qbits = PropertyValueToInteger(MaterialKey()->GetKeyProp(SB_KEYPROP_DSA_QBITS), 0);
        return int64_t(qbits / 8) * 2 + 16;
    }
    return 0;
}
