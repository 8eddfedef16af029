// crypto/builtin/SBCryptoProvBuiltIn.cpp: the built-in key base and the built-in provider: queries,
// keys, contexts through init / update / final, and random numbers. The context class is in
// SBCryptoProvBuiltIn_context.cpp.
#include "crypto/builtin/SBCryptoProvBuiltIn.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "crypto/base/SBSharedResource.h"
#include "crypto/builtin/SBCryptoProvBuiltInHash.h"
#include "crypto/builtin/SBCryptoProvBuiltInPKI.h"
#include "crypto/builtin/SBCryptoProvBuiltInSym.h"
#include "crypto/math/SBRandom.h"
#include "crypto/prov/SBCryptoProvRS.h"
#include "crypto/prov/SBCryptoProvUtils.h"
#include "rtl/Bytes.h"
#include "rtl/DateTime.h"
#include "rtl/Format.h"

namespace {

[[noreturn]] void Fail(const char* message) {
    throw EElBuiltInCryptoProviderError(message);
}

[[noreturn]] void UnsupportedAlgorithm(int32_t algorithm) {
    throw EElBuiltInCryptoProviderError(rtl::Format(SUnsupportedAlgorithmInt, algorithm));
}

// Holds a TElSharedResource for writing while it lives.
class WriteLock {
public:
    explicit WriteLock(TElSharedResource& lock) : lock_(lock) { lock_.AcquireWrite(); }
    ~WriteLock() { lock_.Release(); }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

private:
    TElSharedResource& lock_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// TElBuiltInCryptoKey

void TElBuiltInCryptoKey::ChangeAlgorithm(int32_t) {
    throw EElCryptoProviderError(SCannotChangeAlgorithm);
}

void TElBuiltInCryptoKey::PrepareForEncryption(bool) {
    Fail(SUnsupportedOperation);
}

void TElBuiltInCryptoKey::PrepareForSigning(bool) {
    Fail(SUnsupportedOperation);
}

// ---------------------------------------------------------------------------------------------
// Life cycle

TElBuiltInCryptoProvider::TElBuiltInCryptoProvider(rtl::Component* owner) : TElLibraryCryptoProvider(owner) {
    Init();
}

TElBuiltInCryptoProvider::~TElBuiltInCryptoProvider() {
    Done();
}

std::unique_ptr<TElCustomCryptoProvider> TElBuiltInCryptoProvider::CreateInstance(rtl::Component* owner) {
    return std::make_unique<TElBuiltInCryptoProvider>(owner);
}

void TElBuiltInCryptoProvider::SetAsDefault() {
    RegisterDefaultClass(&TElBuiltInCryptoProvider::CreateInstance);
}

void TElBuiltInCryptoProvider::Init() {
    random_ = std::make_unique<TElRandom>();
    randomLock_ = std::make_unique<TElSharedResource>();
    listLock_ = std::make_unique<TElSharedResource>();
}

void TElBuiltInCryptoProvider::Done() {
    if (!listLock_) return;
    {
        // Keys first, then contexts, each announced before it is freed.
        WriteLock lock(*listLock_);
        for (auto& key : keys_)
            DoDestroyObject(key.get());
        keys_.clear();
        for (auto& context : contexts_)
            DoDestroyObject(context.get());
        contexts_.clear();
    }
    random_.reset();
    randomLock_.reset();
    listLock_.reset();
}

std::unique_ptr<TElBuiltInSymmetricCryptoFactory> TElBuiltInCryptoProvider::GetSymmetricCryptoFactory() const {
    return std::make_unique<TElBuiltInSymmetricCryptoFactory>();
}

size_t TElBuiltInCryptoProvider::KeyCount() const {
    WriteLock lock(*listLock_);
    return keys_.size();
}

size_t TElBuiltInCryptoProvider::ContextCount() const {
    WriteLock lock(*listLock_);
    return contexts_.size();
}

// ---------------------------------------------------------------------------------------------
// Queries

bool TElBuiltInCryptoProvider::IsAlgorithmSupported(int32_t algorithm, int32_t) {
    if (IsSymmetricAlgorithm(algorithm)) return GetSymmetricCryptoFactory()->IsAlgorithmSupported(algorithm);
    // A digest code without a size (MD4) makes the engine's own query raise; a support
    // question answers it with false.
    if (IsHashAlgorithm(algorithm))
        return GetDigestSizeBits(algorithm) > 0 && TElBuiltInHashFunction::IsAlgorithmSupported(algorithm);
    return algorithm == SB_ALG_PK_RSA || algorithm == SB_ALG_PK_DSA || algorithm == SB_ALG_PK_ELGAMAL ||
           algorithm == SB_ALG_PK_DH;
}

bool TElBuiltInCryptoProvider::IsAlgorithmSupportedByOID(std::string_view algOID, std::string_view, int32_t mode) {
    return IsAlgorithmSupported(GetAlgorithmByOID(algOID, true), mode);
}

ByteString TElBuiltInCryptoProvider::GetAlgorithmProperty(int32_t algorithm, int32_t, std::string_view propId) {
    if (IsHashAlgorithm(algorithm)) {
        if (propId == SB_ALGPROP_DIGEST_SIZE) {
            const int32_t bits = GetDigestSizeBits(algorithm);
            if (bits < 0) throw EElCryptoProviderError(rtl::Format(SUnsupportedAlgorithmInt, algorithm));
            return IntegerToPropertyValue(bits);
        }
        throw EElCryptoProviderError(rtl::Format(SUnknownAlgorithmPropertyStr, std::string(propId)));
    }
    if (IsSymmetricAlgorithm(algorithm)) {
        // A code no cipher class takes answers 0 for both lengths.
        int32_t keyLength = 0, blockLength = 0;
        GetSymmetricCryptoFactory()->GetDefaultKeyAndBlockLength(algorithm, keyLength, blockLength);
        if (propId == SB_ALGPROP_DEFAULT_KEY_SIZE) return IntegerToPropertyValue(keyLength);
        if (propId == SB_ALGPROP_BLOCK_SIZE) return IntegerToPropertyValue(blockLength);
        return ByteString();
    }
    throw EElCryptoProviderError(rtl::Format(SUnsupportedAlgorithmInt, algorithm));
}

ByteString TElBuiltInCryptoProvider::GetAlgorithmPropertyByOID(std::string_view algOID, std::string_view,
                                                               int32_t mode, std::string_view propId) {
    return GetAlgorithmProperty(GetAlgorithmByOID(algOID, true), mode, propId);
}

int32_t TElBuiltInCryptoProvider::GetAlgorithmClass(int32_t algorithm) {
    if (IsSymmetricAlgorithm(algorithm)) {
        if (!GetSymmetricCryptoFactory()->IsAlgorithmSupported(algorithm)) return SB_ALGCLASS_NONE;
        return algorithm == SB_ALG_RC4 || algorithm == SB_ALG_IDENTITY ? SB_ALGCLASS_STREAM : SB_ALGCLASS_BLOCK;
    }
    if (IsHashAlgorithm(algorithm)) return SB_ALGCLASS_HASH;
    if (IsPublicKeyAlgorithm(algorithm)) return SB_ALGCLASS_PUBLICKEY;
    return SB_ALGCLASS_NONE;
}

int32_t TElBuiltInCryptoProvider::GetAlgorithmClassByOID(std::string_view algOID, std::string_view) {
    return GetAlgorithmClass(GetAlgorithmByOID(algOID, true));
}

// ---------------------------------------------------------------------------------------------
// Keys

TElCustomCryptoKey* TElBuiltInCryptoProvider::RegisterKey(std::unique_ptr<TElCustomCryptoKey> key) {
    WriteLock lock(*listLock_);
    keys_.push_back(std::move(key));
    TElCustomCryptoKey* registered = keys_.back().get();
    DoCreateObject(registered);
    return registered;
}

TElCustomCryptoKey* TElBuiltInCryptoProvider::MakeKey(int32_t algorithm, int32_t mode,
                                                      const TElRelativeDistinguishedName* params,
                                                      std::string_view algOID, std::string_view algParams) {
    std::unique_ptr<TElCustomCryptoKey> key;
    if (IsSymmetricAlgorithm(algorithm)) {
        const ByteString oid = algOID.empty() ? GetOIDByAlgorithm(algorithm) : ByteString(algOID);
        auto symmetric = TElBuiltInSymmetricCryptoKey::CreateByOID(this, algParams, oid);
        // A code with no OID of its own (SEED, the one-size Twofish, Camellia and Serpent codes,
        // the generic symmetric code) keeps its code rather than "no such algorithm".
        if (symmetric->GetAlgorithm() == SB_ALG_UNKNOWN && algOID.empty()) symmetric->ChangeAlgorithm(algorithm);
        key = std::move(symmetric);
    } else if (IsMACAlgorithm(algorithm)) {
        key = std::make_unique<TElBuiltInMACKey>(this);
    } else if (algorithm == SB_ALG_PK_RSA) {
        key = std::make_unique<TElBuiltInRSACryptoKey>(this);
    } else if (algorithm == SB_ALG_PK_DSA) {
        key = std::make_unique<TElBuiltInDSACryptoKey>(this);
    } else if (algorithm == SB_ALG_PK_ELGAMAL) {
        key = std::make_unique<TElBuiltInElgamalCryptoKey>(this);
    } else if (algorithm == SB_ALG_PK_DH) {
        key = std::make_unique<TElBuiltInDHCryptoKey>(this);
    } else {
        UnsupportedAlgorithm(algorithm);
    }
    key->SetMode(mode);
    if (params != nullptr) {
        for (int32_t i = 0; i < params->GetCount(); ++i)
            key->SetKeyProp(params->GetOID(i), params->GetValue(i));
    }
    return RegisterKey(std::move(key));
}

TElCustomCryptoKey* TElBuiltInCryptoProvider::CreateKey(int32_t algorithm, int32_t mode,
                                                        const TElRelativeDistinguishedName* params) {
    return MakeKey(algorithm, mode, params, {}, {});
}

TElCustomCryptoKey* TElBuiltInCryptoProvider::CreateKeyByOID(std::string_view algOID, std::string_view algParams,
                                                             const TElRelativeDistinguishedName* params) {
    return MakeKey(GetAlgorithmByOID(algOID, false), 0, params, algOID, algParams);
}

TElCustomCryptoKey* TElBuiltInCryptoProvider::CloneKey(TElCustomCryptoKey* key) {
    if (key == nullptr) Fail(SInvalidKeyMaterial);
    return RegisterKey(key->Clone());
}

void TElBuiltInCryptoProvider::RemoveKey(TElCustomCryptoKey*& key) {
    if (key == nullptr) return;
    WriteLock lock(*listLock_);
    auto it = std::find_if(keys_.begin(), keys_.end(), [&](const auto& k) { return k.get() == key; });
    if (it == keys_.end()) return;
    DoDestroyObject(key);
    std::unique_ptr<TElCustomCryptoKey> freed = std::move(*it);
    keys_.erase(it);
    key = nullptr;
}

void TElBuiltInCryptoProvider::ReleaseKey(TElCustomCryptoKey*& key) {
    RemoveKey(key);
}

void TElBuiltInCryptoProvider::DeleteKey(TElCustomCryptoKey*& key) {
    RemoveKey(key);
}

TElCustomCryptoKey* TElBuiltInCryptoProvider::DecryptKey(const void* encryptedKey, size_t encryptedKeySize,
                                                         std::string_view encryptedKeyAlgOID,
                                                         std::string_view encryptedKeyAlgParams,
                                                         TElCustomCryptoKey* keyEncryptionKey,
                                                         std::string_view encAlgOID, std::string_view encAlgParams,
                                                         const TElRelativeDistinguishedName* params,
                                                         const TSBProgressFunc& progressFunc, void* progressData) {
    size_t size = 0;
    DecryptByOID(encAlgOID, encAlgParams, 0, keyEncryptionKey, encryptedKey, encryptedKeySize, nullptr, size, params);
    rtl::SecureBytes value(size);
    DecryptByOID(encAlgOID, encAlgParams, 0, keyEncryptionKey, encryptedKey, encryptedKeySize, value.data(), size,
                 params, progressFunc, progressData);
    value.resize(std::min(size, value.size()));
    TElCustomCryptoKey* key = CreateKeyByOID(encryptedKeyAlgOID, encryptedKeyAlgParams, params);
    key->SetValue(value);
    return key;
}

// ---------------------------------------------------------------------------------------------
// Contexts

TElCustomCryptoContext* TElBuiltInCryptoProvider::RegisterContext(std::unique_ptr<TElBuiltInCryptoContext> context) {
    WriteLock lock(*listLock_);
    contexts_.push_back(std::move(context));
    TElCustomCryptoContext* registered = contexts_.back().get();
    DoCreateObject(registered);
    return registered;
}

template <class Step>
TElCustomCryptoContext* TElBuiltInCryptoProvider::StartContext(std::unique_ptr<TElBuiltInCryptoContext> context,
                                                               Step step) {
    step(*context);  // on failure the context goes with its unique_ptr, unregistered
    return RegisterContext(std::move(context));
}

TElBuiltInCryptoContext& TElBuiltInCryptoProvider::Checked(TElCustomCryptoContext* context) const {
    auto* builtIn = dynamic_cast<TElBuiltInCryptoContext*>(context);
    if (builtIn == nullptr) Fail(SInvalidContext);
    return *builtIn;
}

namespace {

using Kind = TElBuiltInCryptoContext::Kind;
using Operation = TElBuiltInCryptoContext::Operation;

// The step after an encryption or decryption context is made: the cipher starts its message, or
// a public-key context starts collecting its input.
auto StartCipher(bool encrypt) {
    return [encrypt](TElBuiltInCryptoContext& c) {
        if (c.GetKind() == Kind::PublicKey) {
            c.CollectedInput().clear();
        } else if (c.GetKind() != Kind::Symmetric) {
            Fail(SInvalidAlgorithm);
        } else if (encrypt) {
            c.GetSymmetricCrypto()->InitializeEncryption();
        } else {
            c.GetSymmetricCrypto()->InitializeDecryption();
        }
        c.SetOperation(encrypt ? Operation::Encrypt : Operation::Decrypt);
    };
}

// Signing and verification need a public-key context.
void RequirePublicKey(TElBuiltInCryptoContext& c) {
    if (c.GetKind() != Kind::PublicKey) Fail(SInvalidAlgorithm);
}

auto StartSigning(bool detached) {
    return [detached](TElBuiltInCryptoContext& c) {
        RequirePublicKey(c);
        c.GetPublicKeyCrypto()->SignInit(detached);
        c.SetOperation(detached ? Operation::SignDetached : Operation::Sign);
    };
}

auto StartVerification(const void* signature, size_t size) {
    return [signature, size](TElBuiltInCryptoContext& c) {
        RequirePublicKey(c);
        c.GetPublicKeyCrypto()->VerifyInit(size == 0, signature, size);
        c.SetOperation(size != 0 ? Operation::VerifyDetached : Operation::Verify);
    };
}

// The one-shot public-key run over a context's collected input (encryption or decryption):
// the operation sizes the result first; a null output, or a size of 0, only asks for it.
void RunPublicKey(TElBuiltInCryptoContext& c, bool encrypt, void* output, size_t& outputSize) {
    TElBuiltInPublicKeyCrypto& o = *c.GetPublicKeyCrypto();
    if (!o.GetSupportsEncryption()) Fail(SUnsupportedOperation);
    TElCustomCryptoKey* key = o.GetKeyMaterial();
    if (encrypt && (key == nullptr || !key->GetIsPublic())) Fail(SPublicKeyNotFound);
    if (!encrypt && (key == nullptr || !key->GetIsSecret())) Fail(SSecretKeyNotFound);
    o.ResetOutput();
    const rtl::SecureBytes& input = c.CollectedInput();
    const int64_t needed =
        o.EstimateOutputSize(input.data(), encrypt ? SB_PKOP_ENCRYPT : SB_PKOP_DECRYPT, int64_t(input.size()));
    if (output == nullptr || outputSize < size_t(needed)) {
        if (output == nullptr || outputSize == 0) {
            outputSize = needed > 0 ? size_t(needed) : 1;
            return;
        }
        Fail(SBufferTooSmall);
    }
    if (encrypt) {
        o.EncryptInit();
        try {
            o.EncryptUpdate(input.data(), input.size());
        } catch (...) {
            o.EncryptFinal();
            throw;
        }
        o.EncryptFinal();
    } else {
        o.DecryptInit();
        try {
            o.DecryptUpdate(input.data(), input.size());
        } catch (...) {
            o.DecryptFinal();
            throw;
        }
        o.DecryptFinal();
    }
    const rtl::SecureBytes& result = o.GetOutput();
    if (result.size() > outputSize) Fail(SInternalError);
    if (!result.empty()) std::memcpy(output, result.data(), result.size());
    outputSize = result.size();
}

}  // namespace

TElCustomCryptoContext* TElBuiltInCryptoProvider::EncryptInit(int32_t algorithm, int32_t mode,
                                                              TElCustomCryptoKey* key,
                                                              const TElRelativeDistinguishedName* params,
                                                              const TSBProgressFunc&, void*) {
    return StartContext(std::make_unique<TElBuiltInCryptoContext>(algorithm, params, this, key, mode),
                        StartCipher(true));
}

TElCustomCryptoContext* TElBuiltInCryptoProvider::EncryptInitByOID(std::string_view algOID,
                                                                   std::string_view algParams, int32_t mode,
                                                                   TElCustomCryptoKey* key,
                                                                   const TElRelativeDistinguishedName* params,
                                                                   const TSBProgressFunc&, void*) {
    return StartContext(TElBuiltInCryptoContext::CreateByOID(algOID, params, this, key, mode, algParams),
                        StartCipher(true));
}

TElCustomCryptoContext* TElBuiltInCryptoProvider::DecryptInit(int32_t algorithm, int32_t mode,
                                                              TElCustomCryptoKey* key,
                                                              const TElRelativeDistinguishedName* params,
                                                              const TSBProgressFunc&, void*) {
    return StartContext(std::make_unique<TElBuiltInCryptoContext>(algorithm, params, this, key, mode),
                        StartCipher(false));
}

TElCustomCryptoContext* TElBuiltInCryptoProvider::DecryptInitByOID(std::string_view algOID,
                                                                   std::string_view algParams, int32_t mode,
                                                                   TElCustomCryptoKey* key,
                                                                   const TElRelativeDistinguishedName* params,
                                                                   const TSBProgressFunc&, void*) {
    return StartContext(TElBuiltInCryptoContext::CreateByOID(algOID, params, this, key, mode, algParams),
                        StartCipher(false));
}

TElCustomCryptoContext* TElBuiltInCryptoProvider::SignInit(int32_t algorithm, TElCustomCryptoKey* key, bool detached,
                                                           const TElRelativeDistinguishedName* params,
                                                           const TSBProgressFunc&, void*) {
    return StartContext(std::make_unique<TElBuiltInCryptoContext>(algorithm, params, this, key, 0),
                        StartSigning(detached));
}

TElCustomCryptoContext* TElBuiltInCryptoProvider::SignInitByOID(std::string_view algOID, std::string_view algParams,
                                                                TElCustomCryptoKey* key, bool detached,
                                                                const TElRelativeDistinguishedName* params,
                                                                const TSBProgressFunc&, void*) {
    return StartContext(TElBuiltInCryptoContext::CreateByOID(algOID, params, this, key, 0, algParams),
                        StartSigning(detached));
}

TElCustomCryptoContext* TElBuiltInCryptoProvider::VerifyInit(int32_t algorithm, TElCustomCryptoKey* key,
                                                             const void* signature, size_t signatureSize,
                                                             const TElRelativeDistinguishedName* params,
                                                             const TSBProgressFunc&, void*) {
    return StartContext(std::make_unique<TElBuiltInCryptoContext>(algorithm, params, this, key, 0),
                        StartVerification(signature, signatureSize));
}

TElCustomCryptoContext* TElBuiltInCryptoProvider::VerifyInitByOID(std::string_view algOID,
                                                                  std::string_view algParams,
                                                                  TElCustomCryptoKey* key, const void* signature,
                                                                  size_t signatureSize,
                                                                  const TElRelativeDistinguishedName* params,
                                                                  const TSBProgressFunc&, void*) {
    return StartContext(TElBuiltInCryptoContext::CreateByOID(algOID, params, this, key, 0, algParams),
                        StartVerification(signature, signatureSize));
}

TElCustomCryptoContext* TElBuiltInCryptoProvider::HashInit(int32_t algorithm, TElCustomCryptoKey* key,
                                                           const TElRelativeDistinguishedName* params,
                                                           const TSBProgressFunc&, void*) {
    return StartContext(std::make_unique<TElBuiltInCryptoContext>(algorithm, params, this, key, 0),
                        [](TElBuiltInCryptoContext&) {});
}

TElCustomCryptoContext* TElBuiltInCryptoProvider::HashInitByOID(std::string_view algOID, std::string_view algParams,
                                                                TElCustomCryptoKey* key,
                                                                const TElRelativeDistinguishedName* params,
                                                                const TSBProgressFunc&, void*) {
    return StartContext(TElBuiltInCryptoContext::CreateByOID(algOID, params, this, key, 0, algParams),
                        [](TElBuiltInCryptoContext&) {});
}

// Update and final: the cipher engine's size protocol for kind 1; kind 2 collects its input (a
// null output only asks, and gets 1) and runs at the final step.

namespace {

// A public-key update: a null output is a size question (answered 1, nothing taken).
template <class Take>
void PublicKeyUpdate(const void* output, size_t& outputSize, Take take) {
    if (output == nullptr) {
        outputSize = 1;
        return;
    }
    take();
    outputSize = 0;
}

}  // namespace

void TElBuiltInCryptoProvider::EncryptUpdate(TElCustomCryptoContext* context, const void* input, size_t inputSize,
                                             void* output, size_t& outputSize, const TElRelativeDistinguishedName*,
                                             const TSBProgressFunc&, void*) {
    TElBuiltInCryptoContext& c = Checked(context);
    if (c.GetKind() == Kind::PublicKey) {
        PublicKeyUpdate(output, outputSize, [&] {
            const auto* p = static_cast<const uint8_t*>(input);
            if (inputSize > 0) c.CollectedInput().insert(c.CollectedInput().end(), p, p + inputSize);
        });
        return;
    }
    if (c.GetKind() != Kind::Symmetric) Fail(SInvalidContext);
    c.GetSymmetricCrypto()->EncryptUpdate(input, inputSize, output, outputSize);
}

void TElBuiltInCryptoProvider::DecryptUpdate(TElCustomCryptoContext* context, const void* input, size_t inputSize,
                                             void* output, size_t& outputSize, const TElRelativeDistinguishedName*,
                                             const TSBProgressFunc&, void*) {
    TElBuiltInCryptoContext& c = Checked(context);
    if (c.GetKind() == Kind::PublicKey) {
        PublicKeyUpdate(output, outputSize, [&] {
            const auto* p = static_cast<const uint8_t*>(input);
            if (inputSize > 0) c.CollectedInput().insert(c.CollectedInput().end(), p, p + inputSize);
        });
        return;
    }
    if (c.GetKind() != Kind::Symmetric) Fail(SInvalidContext);
    c.GetSymmetricCrypto()->DecryptUpdate(input, inputSize, output, outputSize);
}

void TElBuiltInCryptoProvider::SignUpdate(TElCustomCryptoContext* context, const void* input, size_t inputSize,
                                          void* output, size_t& outputSize, const TElRelativeDistinguishedName*,
                                          const TSBProgressFunc&, void*) {
    TElBuiltInCryptoContext& c = Checked(context);
    if (c.GetKind() != Kind::PublicKey) Fail(SInvalidContext);
    PublicKeyUpdate(output, outputSize, [&] { c.GetPublicKeyCrypto()->SignUpdate(input, inputSize); });
}

void TElBuiltInCryptoProvider::VerifyUpdate(TElCustomCryptoContext* context, const void* input, size_t inputSize,
                                            void* output, size_t& outputSize, const TElRelativeDistinguishedName*,
                                            const TSBProgressFunc&, void*) {
    TElBuiltInCryptoContext& c = Checked(context);
    if (c.GetKind() != Kind::PublicKey) Fail(SInvalidContext);
    PublicKeyUpdate(output, outputSize, [&] { c.GetPublicKeyCrypto()->VerifyUpdate(input, inputSize); });
}

void TElBuiltInCryptoProvider::EncryptFinal(TElCustomCryptoContext* context, void* output, size_t& outputSize,
                                            const TElRelativeDistinguishedName*, const TSBProgressFunc&, void*) {
    TElBuiltInCryptoContext& c = Checked(context);
    if (c.GetKind() == Kind::PublicKey) {
        RunPublicKey(c, true, output, outputSize);
        return;
    }
    if (c.GetKind() != Kind::Symmetric) Fail(SInvalidContext);
    c.GetSymmetricCrypto()->FinalizeEncryption(output, outputSize);
}

void TElBuiltInCryptoProvider::DecryptFinal(TElCustomCryptoContext* context, void* output, size_t& outputSize,
                                            const TElRelativeDistinguishedName*, const TSBProgressFunc&, void*) {
    TElBuiltInCryptoContext& c = Checked(context);
    if (c.GetKind() == Kind::PublicKey) {
        RunPublicKey(c, false, output, outputSize);
        return;
    }
    if (c.GetKind() != Kind::Symmetric) Fail(SInvalidContext);
    c.GetSymmetricCrypto()->FinalizeDecryption(output, outputSize);
}

void TElBuiltInCryptoProvider::SignFinal(TElCustomCryptoContext* context, void* output, size_t& outputSize,
                                         const TElRelativeDistinguishedName*, const TSBProgressFunc&, void*) {
    TElBuiltInCryptoContext& c = Checked(context);
    if (c.GetKind() != Kind::PublicKey) Fail(SInvalidContext);
    TElBuiltInPublicKeyCrypto& o = *c.GetPublicKeyCrypto();
    size_t needed = 0;
    o.SignFinal(nullptr, needed);  // signs once; later calls answer from the signature
    if (output == nullptr) {
        outputSize = needed > 0 ? needed : 1;
        return;
    }
    if (outputSize < needed) Fail(SBufferTooSmall);
    o.SignFinal(output, outputSize);
}

int32_t TElBuiltInCryptoProvider::VerifyFinal(TElCustomCryptoContext* context, void* output, size_t& outputSize,
                                              const TElRelativeDistinguishedName*, const TSBProgressFunc&, void*) {
    TElBuiltInCryptoContext& c = Checked(context);
    if (c.GetKind() != Kind::PublicKey) Fail(SInvalidContext);
    if (output == nullptr) {
        outputSize = 1;
        return SB_VR_SIZE_ONLY;
    }
    const int32_t result = c.GetPublicKeyCrypto()->VerifyFinal();
    outputSize = 0;
    return result;
}

void TElBuiltInCryptoProvider::HashUpdate(TElCustomCryptoContext* context, const void* buffer, size_t size,
                                          const TElRelativeDistinguishedName*, const TSBProgressFunc&, void*) {
    TElBuiltInCryptoContext& c = Checked(context);
    if (c.GetKind() != Kind::Hash) Fail(SInvalidContext);
    c.GetHashFunction()->Update(buffer, size);
}

ByteString TElBuiltInCryptoProvider::HashFinal(TElCustomCryptoContext* context, const TElRelativeDistinguishedName*,
                                               const TSBProgressFunc&, void*) {
    TElBuiltInCryptoContext& c = Checked(context);
    if (c.GetKind() != Kind::Hash) Fail(SInvalidContext);
    return c.GetHashFunction()->Finish();
}

void TElBuiltInCryptoProvider::ReleaseCryptoContext(TElCustomCryptoContext*& context) {
    if (context == nullptr) return;
    Checked(context);
    WriteLock lock(*listLock_);
    auto it = std::find_if(contexts_.begin(), contexts_.end(), [&](const auto& c) { return c.get() == context; });
    if (it == contexts_.end()) return;
    DoDestroyObject(context);
    std::unique_ptr<TElBuiltInCryptoContext> freed = std::move(*it);
    contexts_.erase(it);
    context = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Random numbers

void TElBuiltInCryptoProvider::RandomInit(const void* seed, size_t seedSize, const TElRelativeDistinguishedName*) {
    WriteLock lock(*randomLock_);
    random_ = std::make_unique<TElRandom>();
    RandomSeed(seed, seedSize);
    // 48 bytes of clock readings: a tick count and the local date-time, four times over.
    const uint32_t tick = uint32_t(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
    const double now = rtl::DateTimeFromTimePoint(std::chrono::system_clock::now());
    uint8_t clock[48];
    for (size_t i = 0; i < 4; ++i) {
        std::memcpy(clock + 12 * i, &tick, 4);
        std::memcpy(clock + 12 * i + 4, &now, 8);
    }
    RandomSeed(clock, sizeof clock);
}

void TElBuiltInCryptoProvider::RandomSeed(const void* data, size_t dataSize) {
    WriteLock lock(*randomLock_);
    if (data != nullptr && dataSize != 0) random_->AddSeed(data, dataSize);
}

void TElBuiltInCryptoProvider::RandomGenerate(void* buffer, size_t size) {
    if (buffer == nullptr || size == 0) return;
    GenerateRandomBytes(buffer, size);
    rtl::SecureBytes stream(size);
    {
        WriteLock lock(*randomLock_);
        random_->Generate(stream.data(), size);
    }
    auto* out = static_cast<uint8_t*>(buffer);
    for (size_t i = 0; i < size; ++i)
        out[i] ^= stream[i];
}

int32_t TElBuiltInCryptoProvider::RandomNum(int32_t maxValue) {
    uint8_t bytes[4];
    RandomGenerate(bytes, sizeof bytes);
    uint32_t value = rtl::load_be32(bytes);
    if (maxValue <= 0) return int32_t(value);
    // Rejection sampling: values in the last incomplete run of maxValue would favour the low
    // results, so they are drawn again.
    const uint32_t bound = uint32_t(maxValue);
    const uint32_t limit = UINT32_MAX - (UINT32_MAX % bound + 1) % bound;
    while (value > limit) {
        RandomGenerate(bytes, sizeof bytes);
        value = rtl::load_be32(bytes);
    }
    return int32_t(value % bound);
}
