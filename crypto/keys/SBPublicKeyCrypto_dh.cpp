// crypto/keys/SBPublicKeyCrypto_dh.cpp: the Diffie-Hellman key material and crypto object. Key
// agreement travels through the encryption interface: encrypting gives a public value,
// decrypting the shared secret.
#include "crypto/base/SBConstants.h"
#include "crypto/keys/SBPublicKeyCrypto.h"
#include "crypto/pk/PublicKeyMath.h"

namespace {

[[noreturn]] void Fail(const char* message) {
    throw EElPublicKeyCryptoError(message);
}

}  // namespace

TElDHKeyMaterial::TElDHKeyMaterial(TElCustomCryptoProvider* provider) : TElPublicKeyMaterial(provider) {
    key_ = provider_->CreateKey(SB_ALG_PK_DH, 0, nullptr);
}

int TElDHKeyMaterial::GetBits() const {
    return key_ != nullptr ? key_->GetBits() : 0;
}

void TElDHKeyMaterial::Assign(const TElKeyMaterial& source) {
    const auto* dh = dynamic_cast<const TElDHKeyMaterial*>(&source);
    if (dh == nullptr) Fail(SPKInvalidKeyMaterialType);
    AdoptCloneOf(*dh);
}

std::unique_ptr<TElKeyMaterial> TElDHKeyMaterial::Clone() const {
    auto copy = std::make_unique<TElDHKeyMaterial>(provider_);
    copy->Assign(*this);
    return copy;
}

void TElDHKeyMaterial::InternalGenerate(int bits) {
    key_->Generate(bits, nullptr, nullptr, nullptr);
}

void TElDHKeyMaterial::LoadSecret(const void* buffer, size_t size) {
    key_->ImportSecret(buffer, size, nullptr);
}

void TElDHKeyMaterial::SavePublic(void* buffer, size_t& size) const {
    // A DER INTEGER is signed: 00 before a top bit, and no padding zeros (X.690 8.3.2).
    const ByteString y = key_->GetKeyProp(SB_KEYPROP_DH_Y);
    rtl::SecureBytes der;
    pkmath::AppendInteger(der, pkmath::Bytes(reinterpret_cast<const uint8_t*>(y.data()), y.size()));
    Deliver(der, buffer, size, false, "", ByteString());
}

void TElDHKeyMaterial::SaveSecret(void* buffer, size_t& size) const {
    key_->ExportSecret(buffer, size, nullptr);
}

void TElDHKeyMaterial::ClearSecret() {
    key_->ClearSecret();
}

void TElDHKeyMaterial::ClearPublic() {
    key_->ClearPublic();
}

void TElDHKeyMaterial::ImportPeerPublicKey(const void* p, size_t pSize, const void* g, size_t gSize,
                                           const void* peerY, size_t peerYSize) {
    key_->SetKeyProp(SB_KEYPROP_DH_P, PropertyBytes(p, pSize));
    key_->SetKeyProp(SB_KEYPROP_DH_G, PropertyBytes(g, gSize));
    key_->SetKeyProp(SB_KEYPROP_DH_PEER_Y, PropertyBytes(peerY, peerYSize));
}

// ---------------------------------------------------------------------------------------------

TElDHPublicKeyCrypto::TElDHPublicKeyCrypto(TElCustomCryptoProvider* provider) : TElPublicKeyCrypto(provider) {}

std::unique_ptr<TElDHPublicKeyCrypto> TElDHPublicKeyCrypto::CreateByOID(std::string_view,
                                                                        TElCustomCryptoProvider* provider) {
    return std::make_unique<TElDHPublicKeyCrypto>(provider);
}

std::unique_ptr<TElDHPublicKeyCrypto> TElDHPublicKeyCrypto::CreateByAlgorithm(int32_t,
                                                                              TElCustomCryptoProvider* provider) {
    return std::make_unique<TElDHPublicKeyCrypto>(provider);
}

void TElDHPublicKeyCrypto::SetExchangeFlag(bool value) {
    if (!busy_) exchange_ = value;
}

void TElDHPublicKeyCrypto::SetKeyMaterial(TElPublicKeyMaterial* material) {
    if (busy_) return;
    if (dynamic_cast<TElDHKeyMaterial*>(material) == nullptr) Fail(SPKBadKeyMaterial);
    keyMaterial_ = material;
}

void TElDHPublicKeyCrypto::EncryptInit() {
    if (keyMaterial_ == nullptr || !keyMaterial_->GetPublicKey()) Fail(SPKBadKeyMaterial);
    TElCustomCryptoKey* key = MaterialKey();
    StartContext([&](TElCustomCryptoProvider* p, const TElRelativeDistinguishedName* list) {
        return p->EncryptInit(SB_ALG_PK_DH, 0, key, list);
    });
}

void TElDHPublicKeyCrypto::EncryptUpdate(const void* buffer, size_t size) {
    UpdateContext(&TElCustomCryptoProvider::EncryptUpdate, buffer, size);
}

void TElDHPublicKeyCrypto::EncryptFinal() {
    FinishContext(&TElCustomCryptoProvider::EncryptFinal);
}

void TElDHPublicKeyCrypto::DecryptInit() {
    if (keyMaterial_ == nullptr) Fail(SPKBadKeyMaterial);
    TElCustomCryptoKey* key = MaterialKey();
    StartContext([&](TElCustomCryptoProvider* p, const TElRelativeDistinguishedName* list) {
        return p->DecryptInit(SB_ALG_PK_DH, 0, key, list);
    });
}

void TElDHPublicKeyCrypto::DecryptUpdate(const void* buffer, size_t size) {
    UpdateContext(&TElCustomCryptoProvider::DecryptUpdate, buffer, size);
}

void TElDHPublicKeyCrypto::DecryptFinal() {
    FinishContext(&TElCustomCryptoProvider::DecryptFinal);
}

int64_t TElDHPublicKeyCrypto::EstimateOutputSize(const void*, int64_t size, int32_t operation) {
    if (operation == 2 || operation == 4) Fail(SPKNoSigning);
    if (dynamic_cast<TElDHKeyMaterial*>(keyMaterial_) == nullptr) Fail(SPKBadKeyMaterial);
    const int64_t c = keyMaterial_->GetBits() >> 3;
    if ((operation == 0 || operation == 1) && size > c) Fail(SPKInputTooLong);
    // The provider writes its result in whole 32-bit words.
    return (c + 3) / 4 * 4;
}
