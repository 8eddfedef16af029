// crypto/facade/SBHashFunction.cpp: the hash facade over a provider's digest contexts.
//
// It also serves the public-key primitives' digests (pkmath::Digest and its two companions),
// which must run on the default provider through this facade.
#include "crypto/facade/SBHashFunction.h"

#include "crypto/builtin/SBCryptoProvDefault.h"
#include "crypto/pk/PublicKeyMath.h"
#include "crypto/prov/SBCryptoProvUtils.h"

namespace {

TElCustomCryptoProvider* OrDefault(TElCustomCryptoProvider* provider) {
    return provider != nullptr ? provider : DefaultCryptoProvider();
}

}  // namespace

TElHMACKeyMaterial::TElHMACKeyMaterial(TElCustomCryptoProvider* provider) : provider_(OrDefault(provider)) {
    key_ = provider_->CreateKey(SB_ALG_GENERIC_MAC, 0, nullptr);
}

TElHMACKeyMaterial::~TElHMACKeyMaterial() {
    if (key_ != nullptr) key_->GetCryptoProvider()->ReleaseKey(key_);
}

void TElHMACKeyMaterial::SetKey(std::span<const uint8_t> value) {
    key_->SetValue(value);
}

TElHashFunction::TElHashFunction(TElCustomCryptoProvider* provider, TElHMACKeyMaterial* keyMaterial)
    : provider_(provider), keyMaterial_(keyMaterial) {}

TElHashFunction::TElHashFunction(int32_t algorithm, TElCustomCryptoProvider* provider)
    : provider_(OrDefault(provider)) {
    context_ = provider_->HashInit(algorithm, nullptr, nullptr);
}

std::unique_ptr<TElHashFunction> TElHashFunction::CreateWithKey(int32_t algorithm, TElHMACKeyMaterial* keyMaterial) {
    TElCustomCryptoProvider* provider = keyMaterial != nullptr ? keyMaterial->GetProvider() : DefaultCryptoProvider();
    std::unique_ptr<TElHashFunction> h(new TElHashFunction(provider, keyMaterial));
    h->context_ = provider->HashInit(algorithm, h->MaterialKey(), nullptr);
    return h;
}

TElHashFunction::~TElHashFunction() {
    if (context_ != nullptr) context_->GetCryptoProvider()->ReleaseCryptoContext(context_);
}

TElCustomCryptoKey* TElHashFunction::MaterialKey() const {
    return keyMaterial_ != nullptr ? keyMaterial_->GetKey() : nullptr;
}

void TElHashFunction::Update(const void* buffer, size_t size) {
    provider_->HashUpdate(context_, buffer, size, nullptr);
}

ByteString TElHashFunction::Finish() {
    return provider_->HashFinal(context_, nullptr);
}

void TElHashFunction::Reset() {
    if (context_ == nullptr) return;
    const int32_t algorithm = context_->GetAlgorithm();
    context_->GetCryptoProvider()->ReleaseCryptoContext(context_);
    context_ = nullptr;
    context_ = provider_->HashInit(algorithm, MaterialKey(), nullptr);
}

bool TElHashFunction::IsAlgorithmSupported(int32_t algorithm, TElCustomCryptoProvider* provider) {
    return OrDefault(provider)->IsAlgorithmSupported(algorithm, 0);
}

int32_t TElHashFunction::GetDigestSizeBits(int32_t algorithm, TElCustomCryptoProvider* provider) {
    return PropertyValueToInteger(OrDefault(provider)->GetAlgorithmProperty(algorithm, 0, SB_ALGPROP_DIGEST_SIZE), 0);
}

// ---------------------------------------------------------------------------------------------
// The public-key primitives' digests (declared in PublicKeyMath.h, which says why they live here)

size_t pkmath::DigestLength(int32_t algorithm) {
    if (!TElHashFunction::IsAlgorithmSupported(algorithm)) return 0;
    const int32_t bits = TElHashFunction::GetDigestSizeBits(algorithm);
    return bits > 0 ? size_t(bits) / 8 : 0;
}

rtl::SecureBytes pkmath::Digest(int32_t algorithm, std::initializer_list<Bytes> parts) {
    TElHashFunction hash(algorithm);
    for (const Bytes& part : parts)
        if (!part.empty()) hash.Update(part.data(), part.size());
    ByteString digest = hash.Finish();
    rtl::SecureBytes out(digest.begin(), digest.end());
    ClearString(digest);
    return out;
}

void pkmath::PrepareDigests() {
    DefaultCryptoProvider();
}
