// crypto/SBCryptoProvBuiltIn_context.cpp: the built-in context: which working object an
// algorithm code gets, the context properties, and the size estimates.
#include "crypto/SBCryptoProvBuiltIn.h"
#include "crypto/SBCryptoProvBuiltInHash.h"
#include "crypto/SBCryptoProvBuiltInSym.h"
#include "crypto/SBCryptoProvRS.h"
#include "crypto/SBCryptoProvUtils.h"
#include "rtl/Format.h"

namespace {

[[noreturn]] void Fail(const char* message) {
    throw EElBuiltInCryptoProviderError(message);
}

}  // namespace

TElBuiltInCryptoContext::TElBuiltInCryptoContext(int32_t algorithm, const TElRelativeDistinguishedName* params,
                                                 TElCustomCryptoProvider* provider, TElCustomCryptoKey* key,
                                                 int32_t mode)
    : TElCustomCryptoContext(provider) {
    Initialize(algorithm, params, key, mode);
}

TElBuiltInCryptoContext::TElBuiltInCryptoContext(ByOID, TElCustomCryptoProvider* provider)
    : TElCustomCryptoContext(provider) {}

std::unique_ptr<TElBuiltInCryptoContext> TElBuiltInCryptoContext::CreateByOID(
    std::string_view algOID, const TElRelativeDistinguishedName* params, TElCustomCryptoProvider* provider,
    TElCustomCryptoKey* key, int32_t mode, std::string_view) {
    const int32_t algorithm = GetAlgorithmByOID(algOID, true);
    if (algorithm == SB_ALG_UNKNOWN)
        throw EElBuiltInCryptoProviderError(rtl::Format(SUnsupportedAlgorithmStr, OIDToText(algOID)));
    std::unique_ptr<TElBuiltInCryptoContext> context(new TElBuiltInCryptoContext(ByOID{}, provider));
    context->Initialize(algorithm, params, key, mode);
    return context;
}

TElBuiltInCryptoContext::~TElBuiltInCryptoContext() = default;

void TElBuiltInCryptoContext::Initialize(int32_t algorithm, const TElRelativeDistinguishedName* params,
                                         TElCustomCryptoKey* key, int32_t mode) {
    kind_ = Kind::None;
    operation_ = Operation::None;
    if (IsSymmetricAlgorithm(algorithm)) {
        auto* provider = dynamic_cast<TElBuiltInCryptoProvider*>(GetCryptoProvider());
        if (provider == nullptr) Fail(SInvalidCryptoProvider);
        cipher_ = provider->GetSymmetricCryptoFactory()->CreateInstance(algorithm, uint8_t(ConvertCipherMode(mode)));
        if (!cipher_) throw EElBuiltInCryptoProviderError(rtl::Format(SUnsupportedAlgorithmInt, algorithm));
        kind_ = Kind::Symmetric;
        cipher_->SetKey(key);
    } else if (IsHashAlgorithm(algorithm)) {
        hash_ = TElBuiltInHashFunction::CreateByAlgorithm(algorithm, nullptr);
        kind_ = Kind::Hash;
        operation_ = Operation::Hash;
    } else if (IsMACAlgorithm(algorithm)) {
        if (dynamic_cast<TElBuiltInMACKey*>(key) == nullptr) Fail(SInvalidKeyMaterial);
        hash_ = TElBuiltInHashFunction::CreateByAlgorithm(algorithm, key);
        kind_ = Kind::Hash;
        operation_ = Operation::Hash;
    } else {
        // Public-key codes (RSA, DSA, Elgamal, DH) get their operation objects with the
        // public-key half of the provider.
        throw EElBuiltInCryptoProviderError(rtl::Format(SUnsupportedAlgorithmInt, algorithm));
    }
    algorithm_ = algorithm;
    if (params != nullptr) {
        for (int32_t i = 0; i < params->GetCount(); ++i)
            SetContextProp(params->GetOID(i), params->GetValue(i));
    }
}

TElBuiltInSymmetricCrypto& TElBuiltInCryptoContext::Cipher(const char* message) const {
    if (kind_ != Kind::Symmetric) Fail(message);
    return *cipher_;
}

int32_t TElBuiltInCryptoContext::GetAlgorithmClass() const {
    return GetCryptoProvider()->GetAlgorithmClass(algorithm_);
}

int32_t TElBuiltInCryptoContext::GetKeySize() const {
    return kind_ == Kind::Symmetric ? cipher_->GetKeySize() : 0;
}

int32_t TElBuiltInCryptoContext::GetBlockSize() const {
    return Cipher(SNotASymmetricCipherContext).GetBlockSize();
}

int32_t TElBuiltInCryptoContext::GetDigestSize() const {
    if (kind_ != Kind::Hash) Fail(SNotAHashContext);
    return TElBuiltInHashFunction::GetDigestSize(algorithm_);
}

int32_t TElBuiltInCryptoContext::GetMode() const {
    return ConvertCipherMode(Cipher(SNotASymmetricCipherContext).GetMode());
}

int32_t TElBuiltInCryptoContext::GetPadding() const {
    return Cipher(SNotASymmetricCipherContext).GetPadding() == SB_SYMENC_PADDING_PKCS5 ? SB_SYMENC_PADDING_PKCS5
                                                                                       : SB_SYMENC_PADDING_NONE;
}

void TElBuiltInCryptoContext::SetPadding(int32_t value) {
    Cipher(SNotASymmetricCipherContext)
        .SetPadding(value == SB_SYMENC_PADDING_PKCS5 ? SB_SYMENC_PADDING_PKCS5 : SB_SYMENC_PADDING_NONE);
}

void TElBuiltInCryptoContext::SetKeySize(int32_t) {
    Fail(SCannotChangeROProperty);
}
void TElBuiltInCryptoContext::SetBlockSize(int32_t) {
    Fail(SCannotChangeROProperty);
}
void TElBuiltInCryptoContext::SetDigestSize(int32_t) {
    Fail(SCannotChangeROProperty);
}
void TElBuiltInCryptoContext::SetMode(int32_t) {
    Fail(SCannotChangeROProperty);
}

// Context properties, decided in this order. The public-key ones (DigestInfo prefix, input is
// a hash, the RSA scheme and its parameters) act on public-key contexts; on a cipher or digest
// context they raise what the property needs, or do nothing where it needs no context.
ByteString TElBuiltInCryptoContext::GetContextProp(std::string_view propId, std::string_view defaultValue) const {
    if (propId == SB_CTXPROP_SKIP_KEYSTREAM_BYTES) {
        const auto* rc4 = dynamic_cast<const TElBuiltInRC4SymmetricCrypto*>(cipher_.get());
        if (kind_ != Kind::Symmetric || rc4 == nullptr) Fail(SNotARC4Context);
        return IntegerToPropertyValue(rc4->GetSkipKeystreamBytes());
    }
    if (propId == SB_CTXPROP_USE_ALGORITHM_PREFIX) Fail(SNotARSAContext);
    if (propId == SB_CTXPROP_INPUT_IS_HASH) Fail(SNotAPublicKeyContext);
    if (propId == SB_CTXPROP_HASH_ALGORITHM || propId == SB_CTXPROP_HASH_FUNC_OID) return ByteString();
    if (propId == SB_CTXPROP_ALGORITHM_SCHEME || propId == SB_CTXPROP_SALT_SIZE ||
        propId == SB_CTXPROP_TRAILER_FIELD || propId == SB_CTXPROP_MGF_ALGORITHM)
        Fail(SInvalidContext);
    return ByteString(defaultValue);
}

void TElBuiltInCryptoContext::SetContextProp(std::string_view propId, std::string_view value) {
    if (propId == SB_CTXPROP_SKIP_KEYSTREAM_BYTES) {
        auto* rc4 = dynamic_cast<TElBuiltInRC4SymmetricCrypto*>(cipher_.get());
        if (kind_ != Kind::Symmetric || rc4 == nullptr) Fail(SNotARC4Context);
        rc4->SetSkipKeystreamBytes(PropertyValueToInteger(value, 0));
        return;
    }
    if (propId == SB_CTXPROP_USE_ALGORITHM_PREFIX) Fail(SNotARSAContext);
    if (propId == SB_CTXPROP_INPUT_IS_HASH) Fail(SNotAPublicKeyContext);
    if (propId == SB_CTXPROP_HASH_ALGORITHM || propId == SB_CTXPROP_HASH_FUNC_OID) return;
    if (propId == SB_CTXPROP_ALGORITHM_SCHEME || propId == SB_CTXPROP_SALT_SIZE ||
        propId == SB_CTXPROP_TRAILER_FIELD || propId == SB_CTXPROP_MGF_ALGORITHM)
        Fail(SInvalidContext);
}

TElCustomCryptoContext* TElBuiltInCryptoContext::Clone() {
    if (kind_ != Kind::Hash) Fail(SCannotCloneContext);
    TElCustomCryptoContext* made = GetCryptoProvider()->HashInit(algorithm_, hash_->GetKey(), nullptr);
    auto* copy = dynamic_cast<TElBuiltInCryptoContext*>(made);
    if (copy == nullptr) Fail(SInvalidContext);
    copy->hash_ = hash_->Clone();
    return copy;
}

int64_t TElBuiltInCryptoContext::EstimateOutputSize(int64_t inputSize) {
    switch (kind_) {
        case Kind::Symmetric: {
            const TElBuiltInSymmetricCrypto& c = *cipher_;
            if (c.IsStreamCipher() || c.GetMode() == SYMMETRIC_MODE_CTR || c.GetMode() == SYMMETRIC_MODE_CFB)
                return inputSize;
            const int64_t b = c.GetBlockSize();
            // A padded encryption writes a whole padding block after a message that fills its
            // last block (RFC 8018, section 6.1.1): n rounded up would be one block short.
            if (operation_ == Operation::Encrypt && c.GetPadding() == SB_SYMENC_PADDING_PKCS5)
                return (inputSize / b + 1) * b;
            return ((inputSize - 1) / b + 1) * b;
        }
        case Kind::Hash:
            return TElBuiltInHashFunction::GetDigestSize(algorithm_) / 8;
        default:
            Fail(SInvalidContext);
    }
}
