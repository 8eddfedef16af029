// crypto/builtin/SBCryptoProvBuiltIn_context.cpp: the built-in context: which working object an
// algorithm code gets, the context properties, and the size estimates.
#include "crypto/builtin/SBCryptoProvBuiltIn.h"
#include "crypto/builtin/SBCryptoProvBuiltInHash.h"
#include "crypto/builtin/SBCryptoProvBuiltInPKI.h"
#include "crypto/builtin/SBCryptoProvBuiltInSym.h"
#include "crypto/prov/SBCryptoProvRS.h"
#include "crypto/prov/SBCryptoProvUtils.h"
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
    } else if (IsPublicKeyAlgorithm(algorithm)) {
        switch (algorithm) {
            case SB_ALG_PK_RSA: publicKey_ = TElBuiltInRSAPublicKeyCrypto::Create(); break;
            case SB_ALG_PK_DSA: publicKey_ = TElBuiltInDSAPublicKeyCrypto::Create(); break;
            case SB_ALG_PK_ELGAMAL: publicKey_ = TElBuiltInElgamalPublicKeyCrypto::Create(); break;
            case SB_ALG_PK_DH: publicKey_ = TElBuiltInDHPublicKeyCrypto::Create(); break;
            default: throw EElBuiltInCryptoProviderError(rtl::Format(SUnsupportedAlgorithmInt, algorithm));
        }
        kind_ = Kind::PublicKey;
        // A key of another algorithm, or none, is refused here ("Bad key material").
        publicKey_->SetKeyMaterial(key);
    } else {
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
    if (kind_ == Kind::Symmetric) return cipher_->GetKeySize();
    if (kind_ == Kind::PublicKey && publicKey_->GetKeyMaterial() != nullptr) return publicKey_->GetKeyMaterial()->GetBits();
    return 0;
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
    if (kind_ == Kind::PublicKey) return PublicKeyProp(propId, defaultValue);
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

// The properties of a public-key context (kind 2), in the order the table of the framework
// decides them.
ByteString TElBuiltInCryptoContext::PublicKeyProp(std::string_view propId, std::string_view defaultValue) const {
    auto* rsa = dynamic_cast<TElBuiltInRSAPublicKeyCrypto*>(publicKey_.get());
    auto* elgamal = dynamic_cast<TElBuiltInElgamalPublicKeyCrypto*>(publicKey_.get());
    if (propId == SB_CTXPROP_SKIP_KEYSTREAM_BYTES) Fail(SNotARC4Context);
    if (propId == SB_CTXPROP_USE_ALGORITHM_PREFIX) {
        if (rsa == nullptr) Fail(SNotARSAContext);
        return BooleanToPropertyValue(rsa->GetUseAlgorithmPrefix());
    }
    if (propId == SB_CTXPROP_INPUT_IS_HASH) return BooleanToPropertyValue(publicKey_->GetInputIsHash());
    if (propId == SB_CTXPROP_HASH_ALGORITHM) {
        if (rsa != nullptr) {
            if (rsa->GetScheme() == SB_RSA_SCHEME_SSL) return ByteString(SB_OID_SSL_HASH);
            return GetOIDByHashAlgorithm(rsa->GetHashAlgorithm());
        }
        if (elgamal != nullptr) return GetOIDByHashAlgorithm(elgamal->GetHashAlgorithm());
        return ByteString();
    }
    if (propId == SB_CTXPROP_HASH_FUNC_OID) {
        if (rsa == nullptr) Fail(SNotARSAContext);
        return rsa->GetHashFuncOID();
    }
    if (propId == SB_CTXPROP_ALGORITHM_SCHEME || propId == SB_CTXPROP_SALT_SIZE ||
        propId == SB_CTXPROP_TRAILER_FIELD || propId == SB_CTXPROP_MGF_ALGORITHM) {
        if (rsa == nullptr) Fail(SNotARSAContext);
        if (propId == SB_CTXPROP_ALGORITHM_SCHEME)
            return rsa->GetScheme() == SB_RSA_SCHEME_OAEP ? "oaep" : rsa->GetScheme() == SB_RSA_SCHEME_PSS ? "pss" : "pkcs#1";
        if (propId == SB_CTXPROP_SALT_SIZE) return IntegerToPropertyValue(rsa->GetSaltSize());
        if (propId == SB_CTXPROP_TRAILER_FIELD) return IntegerToPropertyValue(rsa->GetTrailerField());
        return GetOIDByAlgorithm(rsa->GetMGFAlgorithm());
    }
    return ByteString(defaultValue);
}

void TElBuiltInCryptoContext::SetContextProp(std::string_view propId, std::string_view value) {
    if (kind_ == Kind::PublicKey) {
        SetPublicKeyProp(propId, value);
        return;
    }
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

void TElBuiltInCryptoContext::SetPublicKeyProp(std::string_view propId, std::string_view value) {
    auto* rsa = dynamic_cast<TElBuiltInRSAPublicKeyCrypto*>(publicKey_.get());
    auto* elgamal = dynamic_cast<TElBuiltInElgamalPublicKeyCrypto*>(publicKey_.get());
    if (propId == SB_CTXPROP_SKIP_KEYSTREAM_BYTES) Fail(SNotARC4Context);
    if (propId == SB_CTXPROP_USE_ALGORITHM_PREFIX) {
        if (rsa == nullptr) Fail(SNotARSAContext);
        rsa->SetUseAlgorithmPrefix(PropertyValueToBoolean(value, false));
    } else if (propId == SB_CTXPROP_INPUT_IS_HASH) {
        publicKey_->SetInputIsHash(PropertyValueToBoolean(value, false));
    } else if (propId == SB_CTXPROP_HASH_ALGORITHM) {
        if (rsa != nullptr) {
            // Selecting a scheme resets the directions and the OID: apply before alg-scheme.
            if (value == SB_OID_SSL_HASH) {
                rsa->SelectScheme(SB_RSA_SCHEME_SSL);
            } else {
                rsa->SelectScheme(SB_RSA_SCHEME_PKCS1);
                rsa->SetHashAlgorithm(GetHashAlgorithmByOID(value));
            }
        } else if (elgamal != nullptr) {
            elgamal->SetHashAlgorithm(GetHashAlgorithmByOID(value));
        }
    } else if (propId == SB_CTXPROP_HASH_FUNC_OID) {
        if (rsa == nullptr) Fail(SNotARSAContext);
        rsa->SetHashFuncOID(value);
    } else if (propId == SB_CTXPROP_ALGORITHM_SCHEME || propId == SB_CTXPROP_SALT_SIZE ||
               propId == SB_CTXPROP_TRAILER_FIELD || propId == SB_CTXPROP_MGF_ALGORITHM) {
        if (rsa == nullptr) Fail(SNotARSAContext);
        if (propId == SB_CTXPROP_ALGORITHM_SCHEME) {
            if (value == "pkcs#1") {
                rsa->SelectScheme(SB_RSA_SCHEME_PKCS1);
            } else if (value == "oaep") {
                rsa->SelectScheme(SB_RSA_SCHEME_OAEP);
            } else if (value == "pss") {
                rsa->SelectScheme(SB_RSA_SCHEME_PSS);
            } else {
                throw EElBuiltInCryptoProviderError(rtl::Format(SUnsupportedPropertyValueStr, std::string(value)));
            }
        } else if (propId == SB_CTXPROP_SALT_SIZE) {
            rsa->SetSaltSize(PropertyValueToInteger(value, 0));
        } else if (propId == SB_CTXPROP_TRAILER_FIELD) {
            rsa->SetTrailerField(PropertyValueToInteger(value, 0));
        } else {
            rsa->SetMGFAlgorithm(GetAlgorithmByOID(value, false));
        }
    }
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
        case Kind::PublicKey: {
            int32_t code;
            switch (operation_) {
                case Operation::Encrypt: code = SB_PKOP_ENCRYPT; break;
                case Operation::Decrypt: code = SB_PKOP_DECRYPT; break;
                case Operation::Sign: code = SB_PKOP_SIGN; break;
                case Operation::Verify: code = SB_PKOP_VERIFY; break;
                case Operation::SignDetached: code = SB_PKOP_SIGN_DETACHED; break;
                case Operation::VerifyDetached: code = SB_PKOP_VERIFY_DETACHED; break;
                default: Fail(SInvalidContext);
            }
            return publicKey_->EstimateOutputSize(code, inputSize);
        }
        default:
            Fail(SInvalidContext);
    }
}
