// crypto/builtin/SBCryptoProvBuiltIn.h: the library's own provider, TElBuiltInCryptoProvider, with the
// base of all its keys (TElBuiltInCryptoKey), its one context class (TElBuiltInCryptoContext)
// and their error class EElBuiltInCryptoProviderError.
//
// The provider keeps every key and context it hands out in one of two lists until it is
// released, drives the working objects through init / update / final, and owns a random
// generator. What must stay true:
// - the list lock (a re-entrant TElSharedResource, taken for writing) is held while a key or
//   context is appended or removed and while the create-object or destroy-object event runs,
//   so an event handler must not wait for another thread that uses the same provider;
// - the random lock guards the generator; no operation holds both locks;
// - a failing context initialisation frees the half-made context and registers nothing;
// - releasing an object that is not in this provider's list changes nothing.
//
// A context is a tagged wrapper that owns exactly one working object: kind 1 a cipher engine
// (SBCryptoProvBuiltInSym), kind 2 a public-key operation, kind 3 a digest or HMAC engine
// (SBCryptoProvBuiltInHash). Kind and algorithm never change after construction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "crypto/prov/SBCryptoProv.h"
#include "rtl/SecureBytes.h"

class TElBuiltInSymmetricCrypto;
class TElBuiltInSymmetricCryptoFactory;
class TElBuiltInHashFunction;
class TElBuiltInPublicKeyCrypto;
class TElRandom;
class TElSharedResource;

// The error class of the built-in key base, context and provider.
RTL_EXCEPTION(EElBuiltInCryptoProviderError, EElCryptoProviderError);

// What every built-in key shares: the mode number (provider numbering, set by CreateKey), the
// IV and the raw value (symmetric and MAC keys). Both arrays are wiped when replaced or freed.
class TElBuiltInCryptoKey : public TElCustomCryptoKey {
public:
    int32_t GetMode() const override { return mode_; }
    void SetMode(int32_t mode) override { mode_ = mode; }
    // Views of the stored arrays; Set copies the caller's bytes.
    std::span<const uint8_t> GetIV() const override { return iv_; }
    void SetIV(std::span<const uint8_t> iv) override { iv_ = rtl::ToSecureBytes(iv); }
    std::span<const uint8_t> GetValue() const override { return value_; }
    void SetValue(std::span<const uint8_t> value) override { value_ = rtl::ToSecureBytes(value); }
    void Reset() override {}
    // "The algorithm cannot be changed" (the framework's error class).
    void ChangeAlgorithm(int32_t algorithm) override;
    // "Unsupported operation".
    void PrepareForEncryption(bool multiUse = false) override;
    void PrepareForSigning(bool multiUse = false) override;
    void CancelPreparation() override {}
    bool GetAsyncOperationFinished() const override { return false; }

protected:
    explicit TElBuiltInCryptoKey(TElCustomCryptoProvider* provider) : TElCustomCryptoKey(provider) {}

    int32_t mode_ = 0;
    rtl::SecureBytes iv_;
    rtl::SecureBytes value_;
};

// The provider's one context class.
class TElBuiltInCryptoContext final : public TElCustomCryptoContext {
public:
    enum class Kind : uint8_t { None = 0, Symmetric = 1, PublicKey = 2, Hash = 3 };
    // The operation the provider runs on the context.
    enum class Operation : uint8_t {
        None = 0,
        Encrypt = 1,
        Decrypt = 2,
        Sign = 3,
        Verify = 4,
        SignDetached = 5,
        VerifyDetached = 6,
        Hash = 7
    };

    // The working object for the code: a cipher engine for a symmetric code (mode in provider
    // numbering), a public-key operation for RSA, DSA, Elgamal and DH (the key must be one of
    // that algorithm: "Bad key material"), a hash engine for a digest (key ignored) or an HMAC
    // code (key must be a MAC key); then the parameter list goes through SetContextProp in index
    // order.
    TElBuiltInCryptoContext(int32_t algorithm, const TElRelativeDistinguishedName* params,
                            TElCustomCryptoProvider* provider, TElCustomCryptoKey* key, int32_t mode);
    // The code from the OID (public-key signature OIDs folded to their key algorithm); an OID
    // that names nothing raises "Unsupported algorithm (%s)".
    static std::unique_ptr<TElBuiltInCryptoContext> CreateByOID(std::string_view algOID,
                                                                const TElRelativeDistinguishedName* params,
                                                                TElCustomCryptoProvider* provider,
                                                                TElCustomCryptoKey* key, int32_t mode,
                                                                std::string_view algParams);
    ~TElBuiltInCryptoContext() override;

    int32_t GetAlgorithm() const override { return algorithm_; }
    int32_t GetAlgorithmClass() const override;
    int32_t GetKeySize() const override;
    void SetKeySize(int32_t value) override;
    int32_t GetBlockSize() const override;
    void SetBlockSize(int32_t value) override;
    int32_t GetDigestSize() const override;
    void SetDigestSize(int32_t value) override;
    int32_t GetMode() const override;
    void SetMode(int32_t value) override;
    int32_t GetPadding() const override;
    void SetPadding(int32_t value) override;
    ByteString GetContextProp(std::string_view propId, std::string_view defaultValue = {}) const override;
    void SetContextProp(std::string_view propId, std::string_view value) override;
    // Digest and HMAC contexts only: a new context registered in the provider that continues
    // from this one's state; other kinds raise "Cannot clone a context".
    TElCustomCryptoContext* Clone() override;
    int64_t EstimateOutputSize(int64_t inputSize) override;

    Kind GetKind() const { return kind_; }
    Operation GetOperation() const { return operation_; }
    void SetOperation(Operation operation) { operation_ = operation; }
    // The working object of kind 1, 2 or 3 (null for other kinds).
    TElBuiltInSymmetricCrypto* GetSymmetricCrypto() const { return cipher_.get(); }
    TElBuiltInHashFunction* GetHashFunction() const { return hash_.get(); }
    TElBuiltInPublicKeyCrypto* GetPublicKeyCrypto() const { return publicKey_.get(); }
    // Kind 2: the input gathered by the provider's EncryptUpdate and DecryptUpdate (wiped
    // memory: it may be a plaintext).
    rtl::SecureBytes& CollectedInput() { return collected_; }

private:
    struct ByOID {};
    TElBuiltInCryptoContext(ByOID, TElCustomCryptoProvider* provider);
    void Initialize(int32_t algorithm, const TElRelativeDistinguishedName* params, TElCustomCryptoKey* key,
                    int32_t mode);
    TElBuiltInSymmetricCrypto& Cipher(const char* message) const;
    ByteString PublicKeyProp(std::string_view propId, std::string_view defaultValue) const;
    void SetPublicKeyProp(std::string_view propId, std::string_view value);

    Kind kind_ = Kind::None;
    std::unique_ptr<TElBuiltInHashFunction> hash_;
    std::unique_ptr<TElBuiltInSymmetricCrypto> cipher_;
    std::unique_ptr<TElBuiltInPublicKeyCrypto> publicKey_;
    rtl::SecureBytes collected_;
    int32_t algorithm_ = 0;
    Operation operation_ = Operation::None;
};

class TElBuiltInCryptoProvider final : public TElLibraryCryptoProvider {
public:
    explicit TElBuiltInCryptoProvider(rtl::Component* owner = nullptr);
    ~TElBuiltInCryptoProvider() override;

    // The provider class: a new instance with the given owner.
    static std::unique_ptr<TElCustomCryptoProvider> CreateInstance(rtl::Component* owner);
    // Registers this class as the library's default provider type.
    static void SetAsDefault();

    bool IsAlgorithmSupported(int32_t algorithm, int32_t mode) override;
    bool IsAlgorithmSupportedByOID(std::string_view algOID, std::string_view algParams, int32_t mode) override;
    ByteString GetAlgorithmProperty(int32_t algorithm, int32_t mode, std::string_view propId) override;
    ByteString GetAlgorithmPropertyByOID(std::string_view algOID, std::string_view algParams, int32_t mode,
                                         std::string_view propId) override;
    int32_t GetAlgorithmClass(int32_t algorithm) override;
    int32_t GetAlgorithmClassByOID(std::string_view algOID, std::string_view algParams) override;

    TElCustomCryptoKey* CreateKey(int32_t algorithm, int32_t mode,
                                  const TElRelativeDistinguishedName* params = nullptr) override;
    TElCustomCryptoKey* CreateKeyByOID(std::string_view algOID, std::string_view algParams,
                                       const TElRelativeDistinguishedName* params = nullptr) override;
    TElCustomCryptoKey* CloneKey(TElCustomCryptoKey* key) override;
    void ReleaseKey(TElCustomCryptoKey*& key) override;
    void DeleteKey(TElCustomCryptoKey*& key) override;
    TElCustomCryptoKey* DecryptKey(const void* encryptedKey, size_t encryptedKeySize,
                                   std::string_view encryptedKeyAlgOID, std::string_view encryptedKeyAlgParams,
                                   TElCustomCryptoKey* keyEncryptionKey, std::string_view encAlgOID,
                                   std::string_view encAlgParams, const TElRelativeDistinguishedName* params = nullptr,
                                   const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) override;

    TElCustomCryptoContext* EncryptInit(int32_t algorithm, int32_t mode, TElCustomCryptoKey* key,
                                        const TElRelativeDistinguishedName* params = nullptr,
                                        const TSBProgressFunc& progressFunc = nullptr,
                                        void* progressData = nullptr) override;
    TElCustomCryptoContext* EncryptInitByOID(std::string_view algOID, std::string_view algParams, int32_t mode,
                                             TElCustomCryptoKey* key,
                                             const TElRelativeDistinguishedName* params = nullptr,
                                             const TSBProgressFunc& progressFunc = nullptr,
                                             void* progressData = nullptr) override;
    TElCustomCryptoContext* DecryptInit(int32_t algorithm, int32_t mode, TElCustomCryptoKey* key,
                                        const TElRelativeDistinguishedName* params = nullptr,
                                        const TSBProgressFunc& progressFunc = nullptr,
                                        void* progressData = nullptr) override;
    TElCustomCryptoContext* DecryptInitByOID(std::string_view algOID, std::string_view algParams, int32_t mode,
                                             TElCustomCryptoKey* key,
                                             const TElRelativeDistinguishedName* params = nullptr,
                                             const TSBProgressFunc& progressFunc = nullptr,
                                             void* progressData = nullptr) override;
    TElCustomCryptoContext* SignInit(int32_t algorithm, TElCustomCryptoKey* key, bool detached,
                                     const TElRelativeDistinguishedName* params = nullptr,
                                     const TSBProgressFunc& progressFunc = nullptr,
                                     void* progressData = nullptr) override;
    TElCustomCryptoContext* SignInitByOID(std::string_view algOID, std::string_view algParams,
                                          TElCustomCryptoKey* key, bool detached,
                                          const TElRelativeDistinguishedName* params = nullptr,
                                          const TSBProgressFunc& progressFunc = nullptr,
                                          void* progressData = nullptr) override;
    TElCustomCryptoContext* VerifyInit(int32_t algorithm, TElCustomCryptoKey* key, const void* signature,
                                       size_t signatureSize, const TElRelativeDistinguishedName* params = nullptr,
                                       const TSBProgressFunc& progressFunc = nullptr,
                                       void* progressData = nullptr) override;
    TElCustomCryptoContext* VerifyInitByOID(std::string_view algOID, std::string_view algParams,
                                            TElCustomCryptoKey* key, const void* signature, size_t signatureSize,
                                            const TElRelativeDistinguishedName* params = nullptr,
                                            const TSBProgressFunc& progressFunc = nullptr,
                                            void* progressData = nullptr) override;

    void EncryptUpdate(TElCustomCryptoContext* context, const void* input, size_t inputSize, void* output,
                       size_t& outputSize, const TElRelativeDistinguishedName* params = nullptr,
                       const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) override;
    void DecryptUpdate(TElCustomCryptoContext* context, const void* input, size_t inputSize, void* output,
                       size_t& outputSize, const TElRelativeDistinguishedName* params = nullptr,
                       const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) override;
    void SignUpdate(TElCustomCryptoContext* context, const void* input, size_t inputSize, void* output,
                    size_t& outputSize, const TElRelativeDistinguishedName* params = nullptr,
                    const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) override;
    void VerifyUpdate(TElCustomCryptoContext* context, const void* input, size_t inputSize, void* output,
                      size_t& outputSize, const TElRelativeDistinguishedName* params = nullptr,
                      const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) override;
    void EncryptFinal(TElCustomCryptoContext* context, void* output, size_t& outputSize,
                      const TElRelativeDistinguishedName* params = nullptr,
                      const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) override;
    void DecryptFinal(TElCustomCryptoContext* context, void* output, size_t& outputSize,
                      const TElRelativeDistinguishedName* params = nullptr,
                      const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) override;
    void SignFinal(TElCustomCryptoContext* context, void* output, size_t& outputSize,
                   const TElRelativeDistinguishedName* params = nullptr, const TSBProgressFunc& progressFunc = nullptr,
                   void* progressData = nullptr) override;
    int32_t VerifyFinal(TElCustomCryptoContext* context, void* output, size_t& outputSize,
                        const TElRelativeDistinguishedName* params = nullptr,
                        const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) override;

    TElCustomCryptoContext* HashInit(int32_t algorithm, TElCustomCryptoKey* key,
                                     const TElRelativeDistinguishedName* params = nullptr,
                                     const TSBProgressFunc& progressFunc = nullptr,
                                     void* progressData = nullptr) override;
    TElCustomCryptoContext* HashInitByOID(std::string_view algOID, std::string_view algParams,
                                          TElCustomCryptoKey* key, const TElRelativeDistinguishedName* params = nullptr,
                                          const TSBProgressFunc& progressFunc = nullptr,
                                          void* progressData = nullptr) override;
    ByteString HashFinal(TElCustomCryptoContext* context, const TElRelativeDistinguishedName* params = nullptr,
                         const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) override;
    void HashUpdate(TElCustomCryptoContext* context, const void* buffer, size_t size,
                    const TElRelativeDistinguishedName* params = nullptr, const TSBProgressFunc& progressFunc = nullptr,
                    void* progressData = nullptr) override;

    void ReleaseCryptoContext(TElCustomCryptoContext*& context) override;

    // Restarts the generator: a fresh one, stirred with the seed and then with clock readings.
    void RandomInit(const void* seed, size_t seedSize, const TElRelativeDistinguishedName* params = nullptr) override;
    void RandomSeed(const void* data, size_t dataSize) override;
    // Bytes of the system's random source folded with the provider's generator: seeding
    // changes the output but never makes it weaker than the system's source.
    void RandomGenerate(void* buffer, size_t size) override;
    // maxValue above 0: uniform in 0 .. maxValue - 1; otherwise the raw 32-bit value.
    int32_t RandomNum(int32_t maxValue) override;

    // A new factory on every call; the caller owns it.
    std::unique_ptr<TElBuiltInSymmetricCryptoFactory> GetSymmetricCryptoFactory() const;

    // How many keys and contexts the provider holds (diagnostics and tests).
    size_t KeyCount() const;
    size_t ContextCount() const;

protected:
    void Init() override;
    void Done() override;

private:
    TElCustomCryptoKey* MakeKey(int32_t algorithm, int32_t mode, const TElRelativeDistinguishedName* params,
                                std::string_view algOID, std::string_view algParams);
    TElCustomCryptoKey* RegisterKey(std::unique_ptr<TElCustomCryptoKey> key);
    TElCustomCryptoContext* RegisterContext(std::unique_ptr<TElBuiltInCryptoContext> context);
    void RemoveKey(TElCustomCryptoKey*& key);
    // Runs the step that follows construction; a failure frees the context, a success
    // registers it.
    template <class Step>
    TElCustomCryptoContext* StartContext(std::unique_ptr<TElBuiltInCryptoContext> context, Step step);
    TElBuiltInCryptoContext& Checked(TElCustomCryptoContext* context) const;

    std::vector<std::unique_ptr<TElCustomCryptoKey>> keys_;
    std::vector<std::unique_ptr<TElBuiltInCryptoContext>> contexts_;
    std::unique_ptr<TElRandom> random_;
    std::unique_ptr<TElSharedResource> randomLock_;
    std::unique_ptr<TElSharedResource> listLock_;
};
