// crypto/prov/SBCryptoProv.h: the crypto provider framework. Every cryptographic operation of the
// library (ciphers, digests and HMACs, public-key operations, random numbers) is reached
// through a provider: a component that makes keys and operation contexts and runs operations
// on them as init / update / final.
//
// What must stay true:
// - a provider owns every key and context it hands out, from the call that made it
//   (CreateKey, CreateKeyByOID, CloneKey, DecryptKey, an init operation) to ReleaseKey,
//   DeleteKey or ReleaseCryptoContext, or to the provider's Done at the latest; callers hold
//   plain pointers and never free them;
// - OnCreateObject fires once at the start of each such life and OnDestroyObject once at its
//   end, in pairs;
// - the size protocol of update and final operations: a null output asks only for the size,
//   a buffer with too little room raises "Buffer too small", and on success the size holds
//   the bytes written;
// - the one-shot operations release the context they made on every path.
//
// Property identifiers are byte-string constants, a name, "@" and the library's one suffix,
// compared byte for byte; integer values are 4 bytes most significant first, Booleans one
// byte (SBCryptoProvUtils). A parameter list is a TElRelativeDistinguishedName of
// (identifier, value) pairs applied in index order; null means none.
//
// A concrete provider calls Init at the end of its constructor and Done at the start of its
// destructor: everything it allocates belongs in those two.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <variant>

#include "crypto/base/SBConstants.h"
#include "crypto/base/SBRDN.h"
#include "crypto/base/SBUtils.h"
#include "rtl/Component.h"

// ---------------------------------------------------------------------------------------------
// Property identifiers

#define SB_CRYPTOPROV_PROP(name) std::string_view(name SB_PSEUDO_OID_SUFFIX)

// Provider
inline constexpr std::string_view SB_PROVPROP_DLL_PATH = SB_CRYPTOPROV_PROP("dll-path");
// Keys
inline constexpr std::string_view SB_KEYPROP_KEYFORMAT = SB_CRYPTOPROV_PROP("key-format");
inline constexpr std::string_view SB_KEYPROP_HASH_ALGORITHM = SB_CRYPTOPROV_PROP("hash-algorithm");
inline constexpr std::string_view SB_KEYPROP_MGF_ALGORITHM = SB_CRYPTOPROV_PROP("mgf-algorithm");
inline constexpr std::string_view SB_KEYPROP_TRAILER_FIELD = SB_CRYPTOPROV_PROP("trailer-field");
inline constexpr std::string_view SB_KEYPROP_SALT_SIZE = SB_CRYPTOPROV_PROP("salt-size");
inline constexpr std::string_view SB_KEYPROP_STRLABEL = SB_CRYPTOPROV_PROP("strlabel");
inline constexpr std::string_view SB_KEYPROP_RSA_RAWKEY = SB_CRYPTOPROV_PROP("rsa-raw-key");
inline constexpr std::string_view SB_KEYPROP_RSA_M = SB_CRYPTOPROV_PROP("rsa-m");
inline constexpr std::string_view SB_KEYPROP_RSA_E = SB_CRYPTOPROV_PROP("rsa-e");
inline constexpr std::string_view SB_KEYPROP_RSA_D = SB_CRYPTOPROV_PROP("rsa-d");
inline constexpr std::string_view SB_KEYPROP_DSA_STRICT_VALIDATION = SB_CRYPTOPROV_PROP("dsa-strict");
inline constexpr std::string_view SB_KEYPROP_DSA_P = SB_CRYPTOPROV_PROP("dsa-p");
inline constexpr std::string_view SB_KEYPROP_DSA_Q = SB_CRYPTOPROV_PROP("dsa-q");
inline constexpr std::string_view SB_KEYPROP_DSA_G = SB_CRYPTOPROV_PROP("dsa-g");
inline constexpr std::string_view SB_KEYPROP_DSA_X = SB_CRYPTOPROV_PROP("dsa-x");
inline constexpr std::string_view SB_KEYPROP_DSA_Y = SB_CRYPTOPROV_PROP("dsa-y");
inline constexpr std::string_view SB_KEYPROP_DSA_QBITS = SB_CRYPTOPROV_PROP("dsa-qbits");
inline constexpr std::string_view SB_KEYPROP_ELGAMAL_P = SB_CRYPTOPROV_PROP("elg-p");
inline constexpr std::string_view SB_KEYPROP_ELGAMAL_G = SB_CRYPTOPROV_PROP("elg-g");
inline constexpr std::string_view SB_KEYPROP_ELGAMAL_X = SB_CRYPTOPROV_PROP("elg-x");
inline constexpr std::string_view SB_KEYPROP_ELGAMAL_Y = SB_CRYPTOPROV_PROP("elg-y");
inline constexpr std::string_view SB_KEYPROP_DH_P = SB_CRYPTOPROV_PROP("dh-p");
inline constexpr std::string_view SB_KEYPROP_DH_G = SB_CRYPTOPROV_PROP("dh-g");
inline constexpr std::string_view SB_KEYPROP_DH_X = SB_CRYPTOPROV_PROP("dh-x");
inline constexpr std::string_view SB_KEYPROP_DH_Y = SB_CRYPTOPROV_PROP("dh-y");
inline constexpr std::string_view SB_KEYPROP_DH_PEER_Y = SB_CRYPTOPROV_PROP("dh-peer-y");
inline constexpr std::string_view SB_KEYPROP_WIN32_CERTCONTEXT = SB_CRYPTOPROV_PROP("win32-certcontext");
// RC2: the effective key bits of RFC 2268 (integer); absent, 8 times the key length.
inline constexpr std::string_view SB_KEYPROP_EFFECTIVE_KEY_LENGTH = SB_CRYPTOPROV_PROP("effective-key-length");
inline constexpr std::string_view SB_KEYPROP_PKCS11_KEY_HANDLE = SB_CRYPTOPROV_PROP("p11-key-handle");
inline constexpr std::string_view SB_KEYPROP_PKCS11_SESSION_HANDLE = SB_CRYPTOPROV_PROP("p11-session-handle");
// Algorithms (GetAlgorithmProperty): integers
inline constexpr std::string_view SB_ALGPROP_DIGEST_SIZE = SB_CRYPTOPROV_PROP("digest-size");  // bits
inline constexpr std::string_view SB_ALGPROP_BLOCK_SIZE = SB_CRYPTOPROV_PROP("block-size");    // bytes
inline constexpr std::string_view SB_ALGPROP_DEFAULT_KEY_SIZE = SB_CRYPTOPROV_PROP("default-key-size");  // bytes
// Contexts
inline constexpr std::string_view SB_CTXPROP_SKIP_KEYSTREAM_BYTES = SB_CRYPTOPROV_PROP("skip-keystream-bytes");
inline constexpr std::string_view SB_CTXPROP_USE_ALGORITHM_PREFIX = SB_CRYPTOPROV_PROP("use-algorithm-prefix");
inline constexpr std::string_view SB_CTXPROP_HASH_ALGORITHM = SB_CRYPTOPROV_PROP("hash-algorithm");
inline constexpr std::string_view SB_CTXPROP_INPUT_IS_HASH = SB_CRYPTOPROV_PROP("input-is-hash");
inline constexpr std::string_view SB_CTXPROP_HASH_FUNC_OID = SB_CRYPTOPROV_PROP("hash-func-oid");
inline constexpr std::string_view SB_CTXPROP_ALGORITHM_SCHEME = SB_CRYPTOPROV_PROP("alg-scheme");
inline constexpr std::string_view SB_CTXPROP_SALT_SIZE = SB_CRYPTOPROV_PROP("salt-size");
inline constexpr std::string_view SB_CTXPROP_TRAILER_FIELD = SB_CRYPTOPROV_PROP("trailer-field");
inline constexpr std::string_view SB_CTXPROP_MGF_ALGORITHM = SB_CRYPTOPROV_PROP("mgf-algorithm");

// ---------------------------------------------------------------------------------------------
// Numbering shared by providers, keys and contexts

// Algorithm classes (GetAlgorithmClass)
inline constexpr int32_t SB_ALGCLASS_NONE = 0;
inline constexpr int32_t SB_ALGCLASS_BLOCK = 1;
inline constexpr int32_t SB_ALGCLASS_STREAM = 2;
inline constexpr int32_t SB_ALGCLASS_PUBLICKEY = 3;
inline constexpr int32_t SB_ALGCLASS_HASH = 4;

// Cipher modes as providers, keys and contexts number them.
inline constexpr int32_t SB_SYMENC_MODE_DEFAULT = 0;  // CBC for block ciphers
inline constexpr int32_t SB_SYMENC_MODE_ECB = 1;
inline constexpr int32_t SB_SYMENC_MODE_CBC = 2;
inline constexpr int32_t SB_SYMENC_MODE_CFB = 3;
inline constexpr int32_t SB_SYMENC_MODE_CTR = 4;

// Cipher modes as the cipher engines and the symmetric facade number them: CFB and CTR swap
// places.
inline constexpr uint8_t SYMMETRIC_MODE_DEFAULT = 0;  // also: a stream cipher's mode
inline constexpr uint8_t SYMMETRIC_MODE_ECB = 1;
inline constexpr uint8_t SYMMETRIC_MODE_CBC = 2;
inline constexpr uint8_t SYMMETRIC_MODE_CTR = 3;
inline constexpr uint8_t SYMMETRIC_MODE_CFB = 4;

// The one mapping between the two numberings; it is its own inverse: 1 and 2 stay, 3 and 4
// swap, anything else becomes 0.
int32_t ConvertCipherMode(int32_t mode);

// Padding
inline constexpr int32_t SB_SYMENC_PADDING_NONE = 0;
inline constexpr int32_t SB_SYMENC_PADDING_PKCS5 = 1;

// Verification results: 0 the signature matches, 1 it does not, 3 only a size was asked.
inline constexpr int32_t SB_VR_SUCCESS = 0;
inline constexpr int32_t SB_VR_INVALID_SIGNATURE = 1;
inline constexpr int32_t SB_VR_SIZE_ONLY = 3;

// ---------------------------------------------------------------------------------------------
// Errors

RTL_EXCEPTION(EElCryptoProviderError, ECryptoLibraryError);
RTL_EXCEPTION(EElCryptoKeyError, EElCryptoProviderError);

// ---------------------------------------------------------------------------------------------

class TElCustomCryptoProvider;
class TElCustomCryptoKey;
class TElCustomCryptoContext;

// The progress arguments every init, update, final and one-shot operation, Generate and
// DecryptKey end with: a callback and the caller's pointer handed back to it. Every caller
// passes none, and no provider of the system calls one; they are forwarded where a provider
// passes an operation on.
using TSBProgressFunc = std::function<bool(int64_t total, int64_t current, void* data)>;

// A provider class, as the default-provider registration takes it: makes an instance with no
// owner (or the given one).
using TElCryptoProviderClass = std::unique_ptr<TElCustomCryptoProvider> (*)(rtl::Component* owner);

// The abstract key: every concrete key belongs to the provider that made it and is freed only
// by it. Value and IV are views of the key's own arrays, valid until the key changes them.
class TElCustomCryptoKey {
public:
    explicit TElCustomCryptoKey(TElCustomCryptoProvider* provider) : provider_(provider) {}
    virtual ~TElCustomCryptoKey() = default;
    TElCustomCryptoKey(const TElCustomCryptoKey&) = delete;
    TElCustomCryptoKey& operator=(const TElCustomCryptoKey&) = delete;

    TElCustomCryptoProvider* GetCryptoProvider() const { return provider_; }

    virtual bool GetIsPublic() const = 0;
    virtual bool GetIsSecret() const = 0;
    virtual bool GetIsExportable() const = 0;
    virtual bool GetIsValid() const = 0;
    virtual int32_t GetBits() const = 0;
    virtual int32_t GetAlgorithm() const = 0;
    virtual int32_t GetMode() const = 0;  // provider numbering
    virtual void SetMode(int32_t mode) = 0;
    virtual std::span<const uint8_t> GetIV() const = 0;
    virtual void SetIV(std::span<const uint8_t> iv) = 0;
    virtual std::span<const uint8_t> GetValue() const = 0;
    virtual void SetValue(std::span<const uint8_t> value) = 0;
    virtual void Reset() = 0;
    virtual void Generate(int32_t bits, const TElRelativeDistinguishedName* params = nullptr,
                          const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) = 0;
    virtual void ImportPublic(const void* buffer, size_t size, const TElRelativeDistinguishedName* params = nullptr) = 0;
    virtual void ImportSecret(const void* buffer, size_t size, const TElRelativeDistinguishedName* params = nullptr) = 0;
    // A null buffer or a size of 0 asks for the size; otherwise size is the room on entry and
    // the length written on return.
    virtual void ExportPublic(void* buffer, size_t& size, const TElRelativeDistinguishedName* params = nullptr) const = 0;
    virtual void ExportSecret(void* buffer, size_t& size, const TElRelativeDistinguishedName* params = nullptr) const = 0;
    // A new key of the same provider, not yet registered in it (the provider's CloneKey
    // registers it).
    virtual std::unique_ptr<TElCustomCryptoKey> Clone(const TElRelativeDistinguishedName* params = nullptr) const = 0;
    virtual std::unique_ptr<TElCustomCryptoKey> ClonePublic(
        const TElRelativeDistinguishedName* params = nullptr) const = 0;
    virtual void ClearPublic() = 0;
    virtual void ClearSecret() = 0;
    virtual ByteString GetKeyProp(std::string_view propId, std::string_view defaultValue = {}) const = 0;
    virtual void SetKeyProp(std::string_view propId, std::string_view value) = 0;
    virtual void ChangeAlgorithm(int32_t algorithm) = 0;
    // Background precomputation (DSA and Elgamal keys).
    virtual void PrepareForEncryption(bool multiUse = false) = 0;
    virtual void PrepareForSigning(bool multiUse = false) = 0;
    virtual void CancelPreparation() = 0;
    virtual bool GetAsyncOperationFinished() const = 0;

private:
    TElCustomCryptoProvider* provider_;
};

// The abstract operation context: one message's cipher, digest or public-key operation,
// owned by the provider that made it.
class TElCustomCryptoContext {
public:
    explicit TElCustomCryptoContext(TElCustomCryptoProvider* provider) : provider_(provider) {}
    virtual ~TElCustomCryptoContext() = default;
    TElCustomCryptoContext(const TElCustomCryptoContext&) = delete;
    TElCustomCryptoContext& operator=(const TElCustomCryptoContext&) = delete;

    TElCustomCryptoProvider* GetCryptoProvider() const { return provider_; }

    virtual int32_t GetAlgorithm() const = 0;
    virtual int32_t GetAlgorithmClass() const = 0;
    virtual int32_t GetKeySize() const = 0;
    virtual void SetKeySize(int32_t value) = 0;
    virtual int32_t GetBlockSize() const = 0;  // bytes
    virtual void SetBlockSize(int32_t value) = 0;
    virtual int32_t GetDigestSize() const = 0;  // bits
    virtual void SetDigestSize(int32_t value) = 0;
    virtual int32_t GetMode() const = 0;  // provider numbering
    virtual void SetMode(int32_t value) = 0;
    virtual int32_t GetPadding() const = 0;
    virtual void SetPadding(int32_t value) = 0;
    virtual ByteString GetContextProp(std::string_view propId, std::string_view defaultValue = {}) const = 0;
    virtual void SetContextProp(std::string_view propId, std::string_view value) = 0;
    // A new context of the same provider in the same state, registered in it.
    virtual TElCustomCryptoContext* Clone() = 0;
    // The most the operation writes for that much input.
    virtual int64_t EstimateOutputSize(int64_t inputSize) = 0;

private:
    TElCustomCryptoProvider* provider_;
};

// The provider component. Operations marked "= 0" are supplied by every concrete provider;
// the one-shot operations are built here from init, update and final.
class TElCustomCryptoProvider : public rtl::Component {
public:
    // The object is the key or context just registered, or about to be freed.
    using TElCryptoObject = std::variant<TElCustomCryptoKey*, TElCustomCryptoContext*>;
    using TSBCryptoObjectEvent = std::function<void(TElCustomCryptoProvider* sender, TElCryptoObject object)>;

    ~TElCustomCryptoProvider() override = default;

    // Fired after a new key or context has been registered, and just before one is freed.
    TSBCryptoObjectEvent OnCreateObject;
    TSBCryptoObjectEvent OnDestroyObject;

    // Makes the class the library's default provider type (SetDefaultCryptoProviderType).
    // Defined beside that registration, in SBCryptoProvDefault.cpp: the registration starts
    // from the built-in provider, which is built on this framework, so the framework reaches
    // it through this declaration and never includes it.
    static void RegisterDefaultClass(TElCryptoProviderClass providerClass);

    virtual bool IsAlgorithmSupported(int32_t algorithm, int32_t mode);
    virtual bool IsAlgorithmSupportedByOID(std::string_view algOID, std::string_view algParams, int32_t mode);
    virtual ByteString GetAlgorithmProperty(int32_t algorithm, int32_t mode, std::string_view propId);
    virtual ByteString GetAlgorithmPropertyByOID(std::string_view algOID, std::string_view algParams, int32_t mode,
                                                 std::string_view propId);
    virtual int32_t GetAlgorithmClass(int32_t algorithm) = 0;
    virtual int32_t GetAlgorithmClassByOID(std::string_view algOID, std::string_view algParams) = 0;
    virtual ByteString GetProviderProp(std::string_view propId, std::string_view defaultValue = {});
    virtual void SetProviderProp(std::string_view propId, std::string_view value);

    // Keys
    virtual TElCustomCryptoKey* CreateKey(int32_t algorithm, int32_t mode,
                                          const TElRelativeDistinguishedName* params = nullptr) = 0;
    virtual TElCustomCryptoKey* CreateKeyByOID(std::string_view algOID, std::string_view algParams,
                                               const TElRelativeDistinguishedName* params = nullptr) = 0;
    virtual TElCustomCryptoKey* CloneKey(TElCustomCryptoKey* key) = 0;
    // Free a key of this provider and set the variable to null.
    virtual void ReleaseKey(TElCustomCryptoKey*& key) = 0;
    virtual void DeleteKey(TElCustomCryptoKey*& key) = 0;
    // A new key holding the value unwrapped from encryptedKey with keyEncryptionKey.
    virtual TElCustomCryptoKey* DecryptKey(const void* encryptedKey, size_t encryptedKeySize,
                                           std::string_view encryptedKeyAlgOID,
                                           std::string_view encryptedKeyAlgParams,
                                           TElCustomCryptoKey* keyEncryptionKey, std::string_view encAlgOID,
                                           std::string_view encAlgParams,
                                           const TElRelativeDistinguishedName* params = nullptr,
                                           const TSBProgressFunc& progressFunc = nullptr,
                                           void* progressData = nullptr) = 0;

    // Contexts
    virtual TElCustomCryptoContext* EncryptInit(int32_t algorithm, int32_t mode, TElCustomCryptoKey* key,
                                                const TElRelativeDistinguishedName* params = nullptr,
                                                const TSBProgressFunc& progressFunc = nullptr,
                                                void* progressData = nullptr) = 0;
    virtual TElCustomCryptoContext* EncryptInitByOID(std::string_view algOID, std::string_view algParams,
                                                     int32_t mode, TElCustomCryptoKey* key,
                                                     const TElRelativeDistinguishedName* params = nullptr,
                                                     const TSBProgressFunc& progressFunc = nullptr,
                                                     void* progressData = nullptr) = 0;
    virtual TElCustomCryptoContext* DecryptInit(int32_t algorithm, int32_t mode, TElCustomCryptoKey* key,
                                                const TElRelativeDistinguishedName* params = nullptr,
                                                const TSBProgressFunc& progressFunc = nullptr,
                                                void* progressData = nullptr) = 0;
    virtual TElCustomCryptoContext* DecryptInitByOID(std::string_view algOID, std::string_view algParams,
                                                     int32_t mode, TElCustomCryptoKey* key,
                                                     const TElRelativeDistinguishedName* params = nullptr,
                                                     const TSBProgressFunc& progressFunc = nullptr,
                                                     void* progressData = nullptr) = 0;
    virtual TElCustomCryptoContext* SignInit(int32_t algorithm, TElCustomCryptoKey* key, bool detached,
                                             const TElRelativeDistinguishedName* params = nullptr,
                                             const TSBProgressFunc& progressFunc = nullptr,
                                             void* progressData = nullptr) = 0;
    virtual TElCustomCryptoContext* SignInitByOID(std::string_view algOID, std::string_view algParams,
                                                  TElCustomCryptoKey* key, bool detached,
                                                  const TElRelativeDistinguishedName* params = nullptr,
                                                  const TSBProgressFunc& progressFunc = nullptr,
                                                  void* progressData = nullptr) = 0;
    // A null signature (size 0) starts a verification with message recovery, a given one a
    // detached verification.
    virtual TElCustomCryptoContext* VerifyInit(int32_t algorithm, TElCustomCryptoKey* key, const void* signature,
                                               size_t signatureSize,
                                               const TElRelativeDistinguishedName* params = nullptr,
                                               const TSBProgressFunc& progressFunc = nullptr,
                                               void* progressData = nullptr) = 0;
    virtual TElCustomCryptoContext* VerifyInitByOID(std::string_view algOID, std::string_view algParams,
                                                    TElCustomCryptoKey* key, const void* signature,
                                                    size_t signatureSize,
                                                    const TElRelativeDistinguishedName* params = nullptr,
                                                    const TSBProgressFunc& progressFunc = nullptr,
                                                    void* progressData = nullptr) = 0;

    // Update and final: outputSize is the room in output on entry and the bytes written on
    // return; a null output asks only for the size.
    virtual void EncryptUpdate(TElCustomCryptoContext* context, const void* input, size_t inputSize, void* output,
                               size_t& outputSize, const TElRelativeDistinguishedName* params = nullptr,
                               const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) = 0;
    virtual void DecryptUpdate(TElCustomCryptoContext* context, const void* input, size_t inputSize, void* output,
                               size_t& outputSize, const TElRelativeDistinguishedName* params = nullptr,
                               const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) = 0;
    virtual void SignUpdate(TElCustomCryptoContext* context, const void* input, size_t inputSize, void* output,
                            size_t& outputSize, const TElRelativeDistinguishedName* params = nullptr,
                            const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) = 0;
    virtual void VerifyUpdate(TElCustomCryptoContext* context, const void* input, size_t inputSize, void* output,
                              size_t& outputSize, const TElRelativeDistinguishedName* params = nullptr,
                              const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) = 0;
    virtual void EncryptFinal(TElCustomCryptoContext* context, void* output, size_t& outputSize,
                              const TElRelativeDistinguishedName* params = nullptr,
                              const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) = 0;
    virtual void DecryptFinal(TElCustomCryptoContext* context, void* output, size_t& outputSize,
                              const TElRelativeDistinguishedName* params = nullptr,
                              const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) = 0;
    virtual void SignFinal(TElCustomCryptoContext* context, void* output, size_t& outputSize,
                           const TElRelativeDistinguishedName* params = nullptr,
                           const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) = 0;
    // The verification result (SB_VR_*).
    virtual int32_t VerifyFinal(TElCustomCryptoContext* context, void* output, size_t& outputSize,
                                const TElRelativeDistinguishedName* params = nullptr,
                                const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) = 0;

    // One-shot operations: init, update with the whole input, final, and the context released
    // on every path. A null output answers the context's size estimate and processes nothing
    // (Verify then answers SB_VR_SIZE_ONLY).
    virtual void Encrypt(int32_t algorithm, int32_t mode, TElCustomCryptoKey* key, const void* input,
                         size_t inputSize, void* output, size_t& outputSize,
                         const TElRelativeDistinguishedName* params = nullptr,
                         const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr);
    virtual void EncryptByOID(std::string_view algOID, std::string_view algParams, int32_t mode,
                              TElCustomCryptoKey* key, const void* input, size_t inputSize, void* output,
                              size_t& outputSize, const TElRelativeDistinguishedName* params = nullptr,
                              const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr);
    virtual void Decrypt(int32_t algorithm, int32_t mode, TElCustomCryptoKey* key, const void* input,
                         size_t inputSize, void* output, size_t& outputSize,
                         const TElRelativeDistinguishedName* params = nullptr,
                         const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr);
    virtual void DecryptByOID(std::string_view algOID, std::string_view algParams, int32_t mode,
                              TElCustomCryptoKey* key, const void* input, size_t inputSize, void* output,
                              size_t& outputSize, const TElRelativeDistinguishedName* params = nullptr,
                              const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr);
    virtual void Sign(int32_t algorithm, TElCustomCryptoKey* key, bool detached, const void* input, size_t inputSize,
                      void* output, size_t& outputSize, const TElRelativeDistinguishedName* params = nullptr,
                      const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr);
    virtual void SignByOID(std::string_view algOID, std::string_view algParams, TElCustomCryptoKey* key,
                           bool detached, const void* input, size_t inputSize, void* output, size_t& outputSize,
                           const TElRelativeDistinguishedName* params = nullptr,
                           const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr);
    virtual int32_t Verify(int32_t algorithm, TElCustomCryptoKey* key, const void* input, size_t inputSize,
                           void* output, size_t& outputSize, const TElRelativeDistinguishedName* params = nullptr,
                           const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr);
    virtual int32_t VerifyByOID(std::string_view algOID, std::string_view algParams, TElCustomCryptoKey* key,
                                const void* input, size_t inputSize, void* output, size_t& outputSize,
                                const TElRelativeDistinguishedName* params = nullptr,
                                const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr);
    // The data go to the verification as input (with an output buffer, so a provider does not
    // read the call as a size request) and the result of the final step is answered.
    virtual int32_t VerifyDetached(int32_t algorithm, TElCustomCryptoKey* key, const void* data, size_t dataSize,
                                   const void* signature, size_t signatureSize,
                                   const TElRelativeDistinguishedName* params = nullptr,
                                   const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr);
    virtual int32_t VerifyDetachedByOID(std::string_view algOID, std::string_view algParams,
                                        TElCustomCryptoKey* key, const void* data, size_t dataSize,
                                        const void* signature, size_t signatureSize,
                                        const TElRelativeDistinguishedName* params = nullptr,
                                        const TSBProgressFunc& progressFunc = nullptr,
                                        void* progressData = nullptr);

    // Digests and MACs
    virtual TElCustomCryptoContext* HashInit(int32_t algorithm, TElCustomCryptoKey* key,
                                             const TElRelativeDistinguishedName* params = nullptr,
                                             const TSBProgressFunc& progressFunc = nullptr,
                                             void* progressData = nullptr) = 0;
    virtual TElCustomCryptoContext* HashInitByOID(std::string_view algOID, std::string_view algParams,
                                                  TElCustomCryptoKey* key,
                                                  const TElRelativeDistinguishedName* params = nullptr,
                                                  const TSBProgressFunc& progressFunc = nullptr,
                                                  void* progressData = nullptr) = 0;
    virtual ByteString HashFinal(TElCustomCryptoContext* context, const TElRelativeDistinguishedName* params = nullptr,
                                 const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) = 0;
    virtual void HashUpdate(TElCustomCryptoContext* context, const void* buffer, size_t size,
                            const TElRelativeDistinguishedName* params = nullptr,
                            const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) = 0;
    virtual ByteString Hash(int32_t algorithm, TElCustomCryptoKey* key, const void* buffer, size_t size,
                            const TElRelativeDistinguishedName* params = nullptr,
                            const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr);
    virtual ByteString HashByOID(std::string_view algOID, std::string_view algParams, TElCustomCryptoKey* key,
                                 const void* buffer, size_t size,
                                 const TElRelativeDistinguishedName* params = nullptr,
                                 const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr);

    // Free a context of this provider and set the variable to null.
    virtual void ReleaseCryptoContext(TElCustomCryptoContext*& context) = 0;

    // Random numbers
    virtual void RandomInit(const void* seed, size_t seedSize, const TElRelativeDistinguishedName* params = nullptr) = 0;
    virtual void RandomSeed(const void* data, size_t dataSize) = 0;
    virtual void RandomGenerate(void* buffer, size_t size) = 0;
    virtual int32_t RandomNum(int32_t maxValue) = 0;

protected:
    explicit TElCustomCryptoProvider(rtl::Component* owner = nullptr) : rtl::Component(owner) {}

    // Prepares the provider (the concrete constructor calls it last) and releases everything
    // it holds (the concrete destructor calls it first). The base does nothing.
    virtual void Init() {}
    virtual void Done() {}

    // Fire OnCreateObject / OnDestroyObject when assigned. A provider calls them itself.
    void DoCreateObject(TElCryptoObject object);
    void DoDestroyObject(TElCryptoObject object);
};

// A provider implemented by this library itself (as opposed to one over a device or an
// operating-system service).
class TElLibraryCryptoProvider : public TElCustomCryptoProvider {
protected:
    using TElCustomCryptoProvider::TElCustomCryptoProvider;
};
