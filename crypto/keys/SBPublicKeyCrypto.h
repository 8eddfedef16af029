// crypto/keys/SBPublicKeyCrypto.h: the public-key facade the certificate, PKCS and TLS code call.
// TElPublicKeyMaterial holds one provider key and loads, saves, generates and clears it;
// TElPublicKeyCrypto runs encryption, decryption, detached signing and detached verification of
// byte buffers by driving one provider context through init, update and final. The concrete
// pairs are RSA, DSA, Diffie-Hellman and SRP (the SRP material holds its numbers itself).
//
// Every real step is the provider's (the default one when none is given); the facade chooses
// it, fills the parameter list, sizes the output and turns failures into the unit's messages.
// Errors are EElPublicKeyCryptoError; a provider's own errors pass through.
//
// What must stay true:
// - one provider context at most is live per crypto object, from an Init step to the end of
//   its Final step, which runs (and releases it) even when the Update step failed;
// - a material's background generation runs on one worker thread that the material owns: when
//   it ends the material is no longer busy, and the material stops and joins it before any of
//   its parts go;
// - secret bytes that pass through the facade (decrypted data, private-key blobs, the SRP
//   premaster) stay in wiped memory until they are handed to the caller.
//
// Size protocol of Encrypt, Decrypt and SignDetached: a size of 0 (or no output) asks for the
// size and gets the estimate; a smaller non-zero size raises "Output buffer is too small"; after
// a run the size holds the real length, which may be below the estimate.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "crypto/facade/SBCustomCrypto.h"
#include "crypto/keys/SBPEM.h"
#include "crypto/pk/SBSRP.h"
#include "crypto/prov/SBCryptoProv.h"
#include "rtl/SecureBytes.h"

class TElSymmetricKeyMaterial;

RTL_EXCEPTION(EElPublicKeyCryptoError, ECryptoLibraryError);

inline constexpr const char* SPKUnsupportedOperation = "Unsupported operation";
inline constexpr const char* SPKAsyncOperationPending = "Async operation pending";
inline constexpr const char* SPKPublicKeyNotFound = "Public key not found";
inline constexpr const char* SPKSecretKeyNotFound = "Secret key not found";
inline constexpr const char* SPKOutputBufferTooSmall = "Output buffer is too small";
inline constexpr const char* SPKInternalError = "Internal error";
inline constexpr const char* SPKInvalidBase64 = "Invalid Base64 encoding";
inline constexpr const char* SPKBadKeyMaterial = "Bad key material";
inline constexpr const char* SPKInvalidKeyMaterialType = "Invalid key material type";
inline constexpr const char* SPKInvalidPEM = "Invalid PEM data";
inline constexpr const char* SPKInvalidPassphrase = "Invalid passphrase";
inline constexpr const char* SPKPEMWriteError = "PEM write error";
inline constexpr const char* SPKInputTooLong = "Input is too long";
inline constexpr const char* SPKOnlyDetachedSignatures = "Only detached signatures are supported";
inline constexpr const char* SPKUnsupportedKeyMaterial = "Unsupported key material";
inline constexpr const char* SPKNoSigning = "Algorithm does not support signing";
inline constexpr const char* SPKUnsupportedAlgorithmStr = "Unsupported algorithm: %s";
inline constexpr const char* SPKUnsupportedAlgorithmInt = "Unsupported algorithm: %d";
// Ours: SRP server values a client must refuse (RFC 5054 2.5.4 and section 3.1).
inline constexpr const char* SPKSRPBadGroup = "Unknown SRP group: N is not a safe prime of 1024 bits or more";
inline constexpr const char* SPKSRPBadGenerator = "Invalid SRP generator";
inline constexpr const char* SPKSRPBadServerValue = "Invalid SRP server value";
inline constexpr const char* SPKSRPNoParameters = "SRP server parameters not loaded";

class TElPublicKeyMaterialWorkingThread;
class TElPKCS8PrivateKey;

class TElPublicKeyMaterial : public TElKeyMaterial {
public:
    using TGenerationFinishedEvent = std::function<void(TElPublicKeyMaterial* sender, bool success)>;

    // The provider, or the default one when null.
    explicit TElPublicKeyMaterial(TElCustomCryptoProvider* provider = nullptr);
    // Releases the provider key (a running background generation is stopped by the class
    // that started it, see StartGeneration).
    ~TElPublicKeyMaterial() override;
    TElPublicKeyMaterial(const TElPublicKeyMaterial&) = delete;
    TElPublicKeyMaterial& operator=(const TElPublicKeyMaterial&) = delete;

    bool GetValid() const override { return false; }
    bool GetExportable() const override;
    // Does nothing while a background generation runs.
    void Generate(int bits) override;
    void SaveToStream(rtl::Stream& stream) const override;
    // The secret form first; when that fails, the public form from the same position.
    void LoadFromStream(rtl::Stream& stream, int64_t count = 0) override;
    // "Unsupported operation"; the concrete materials override it.
    std::unique_ptr<TElKeyMaterial> Clone() const override;

    virtual void InternalGenerate(int bits);
    virtual bool GetAsyncOperationFinished() const;
    virtual void LoadPublic(const void* buffer, size_t size);
    virtual void LoadSecret(const void* buffer, size_t size);
    // size 0 (or no buffer) asks for the size.
    virtual void SavePublic(void* buffer, size_t& size) const;
    virtual void SaveSecret(void* buffer, size_t& size) const;
    virtual void SavePublicToStream(rtl::Stream& stream) const;
    virtual void SaveSecretToStream(rtl::Stream& stream) const;
    virtual void ClearSecret() {}
    virtual void ClearPublic() {}
    // "Async operation pending" while busy, else the provider key's preparation.
    virtual void PrepareForEncryption(bool multiUse = false);
    virtual void PrepareForSigning(bool multiUse = false);

    bool GetPublicKey() const;
    bool GetSecretKey() const;
    // count bytes, or everything from the position to the end when count is 0.
    void LoadPublicFromStream(rtl::Stream& stream, int64_t count = 0);
    void LoadSecretFromStream(rtl::Stream& stream, int64_t count = 0);

    TElCustomCryptoProvider* GetProvider() const { return provider_; }
    TElCustomCryptoKey* GetKey() const { return key_; }
    bool GetBusy() const { return busy_; }
    bool GetAsyncSuccess() const;
    std::string GetAsyncErrorText() const;
    // Waits until a running background generation has ended (at once when none runs).
    void WaitForGeneration();
    // Asks a running background generation to stop, then waits for it.
    void CancelGeneration();

    // Fired in the worker thread when a background generation ends.
    TGenerationFinishedEvent OnGenerationFinished;

    // Leading tab, LF, CR and space skipped, more than 10 bytes left, starting "-----BEGIN".
    static bool IsPEM(const void* buffer, size_t size);

protected:
    friend class TElPublicKeyMaterialWorkingThread;

    // Starts the worker (nothing while busy); qbits 0 means InternalGenerate. The worker calls
    // the material's virtual generation: a class that starts it must call StopGeneration first
    // thing in its destructor, while its own parts still exist.
    void StartGeneration(int bits, int qbits);
    // Stops a running worker and waits for it (nothing when none runs).
    void StopGeneration();
    // The worker's cancel hook for the provider key's Generate (none without a worker).
    TSBProgressFunc GenerationProgress() const;
    void DoGenerationFinished(bool success, const std::string& error);
    // Replaces the provider key by a clone of source's, made by source's provider.
    void AdoptCloneOf(const TElPublicKeyMaterial& source);
    void RequireIdle() const;
    // The provider key's export (a size question, then the bytes) into wiped memory.
    rtl::SecureBytes Exported(bool secret) const;
    // A caller's buffer as a key property value (empty for no buffer).
    static std::string_view PropertyBytes(const void* buffer, size_t size);
    // PEM or DER input as DER: PEM is decoded with the passphrase (0x1D02: "Invalid
    // passphrase" when passphraseErrors, every other failure "Invalid PEM data").
    static rtl::SecureBytes ToDER(const void* buffer, size_t size, const ByteString& passphrase,
                                  bool passphraseErrors);
    // The bytes in the size protocol, or in PEM with the header word (encrypted with a non-empty
    // passphrase) when pem is set.
    static void Deliver(const rtl::SecureBytes& data, void* buffer, size_t& size, bool pem, const std::string& header,
                        const ByteString& passphrase);
    // The PKCS#8 key as DER (encrypted with a non-empty passphrase), made once; a save that
    // fails raises "Internal error".
    static rtl::SecureBytes SavePKCS8(TElPKCS8PrivateKey& key, const ByteString& passphrase);

    TElCustomCryptoProvider* provider_;
    TElCustomCryptoKey* key_ = nullptr;
    bool pkcs8_ = false;

private:
    std::atomic<bool> busy_{false};
    mutable std::mutex asyncLock_;
    bool asyncFinished_ = false, asyncSuccess_ = false;
    std::string asyncError_;
    std::unique_ptr<TElPublicKeyMaterialWorkingThread> worker_;
};

// The background generation of one material.
class TElPublicKeyMaterialWorkingThread {
public:
    TElPublicKeyMaterialWorkingThread(TElPublicKeyMaterial* owner, int bits, int qbits);
    ~TElPublicKeyMaterialWorkingThread();
    void Start();
    void Terminate() { terminated_ = true; }
    bool GetTerminated() const { return terminated_; }
    void WaitFor();

private:
    void Execute();

    TElPublicKeyMaterial* owner_;
    int bits_, qbits_;
    std::atomic<bool> terminated_{false};
    std::thread thread_;
};

class TElPublicKeyCrypto : public TElCustomCrypto {
public:
    explicit TElPublicKeyCrypto(TElCustomCryptoProvider* provider = nullptr);
    ~TElPublicKeyCrypto() override;
    TElPublicKeyCrypto(const TElPublicKeyCrypto&) = delete;
    TElPublicKeyCrypto& operator=(const TElPublicKeyCrypto&) = delete;

    virtual void FillOperationParams(TElRelativeDistinguishedName& list);
    virtual bool GetSupportsEncryption() const;
    virtual bool GetSupportsSigning() const;
    // Ignored while busy.
    virtual void SetKeyMaterial(TElPublicKeyMaterial* material);
    virtual void SignInit(bool detached);
    virtual void SignUpdate(const void* buffer, size_t size);
    virtual void SignFinal();
    virtual void EncryptInit();
    virtual void EncryptUpdate(const void* buffer, size_t size);
    virtual void EncryptFinal();
    virtual void DecryptInit();
    virtual void DecryptUpdate(const void* buffer, size_t size);
    virtual void DecryptFinal();
    virtual void VerifyInit(bool detached, const void* signature, size_t size);
    virtual void VerifyUpdate(const void* buffer, size_t size);
    virtual int32_t VerifyFinal();
    // Operations: 0 encrypt, 1 decrypt, 2 sign, 3 detached sign, 4 verify, 5 detached verify.
    virtual int64_t EstimateOutputSize(const void* buffer, int64_t size, int32_t operation);
    virtual void WriteOutput(const void* buffer, size_t size);
    // The explicit provider, else the material's, else the default one.
    virtual TElCustomCryptoProvider* GetProvider() const;
    // "Unsupported operation" (RSA overrides it).
    virtual std::unique_ptr<TElSymmetricKeyMaterial> DecryptKey(const void* encryptedKey, size_t size,
                                                                std::string_view algOID, std::string_view algParams);

    void Encrypt(const void* input, size_t inputSize, void* output, size_t& outputSize);
    void Decrypt(const void* input, size_t inputSize, void* output, size_t& outputSize);
    void SignDetached(const void* input, size_t inputSize, void* output, size_t& outputSize);
    // 0 valid; 1 and 2 as the provider reports them; anything else 3.
    int32_t VerifyDetached(const void* data, size_t dataSize, const void* signature, size_t signatureSize);

    bool GetInputIsHash() const { return inputIsHash_; }
    void SetInputIsHash(bool value);
    int32_t GetHashAlgorithm() const;
    void SetHashAlgorithm(int32_t value);
    TElPublicKeyMaterial* GetKeyMaterial() const { return keyMaterial_; }
    bool GetBusy() const { return busy_; }

    // 0 binary; anything else: input and signatures arrive as Base64 text.
    uint8_t InputCoding = 0;
    // 0 binary; 1: results are written as Base64 text (no line breaks).
    uint8_t OutputCoding = 0;

    static bool IsAlgorithmSupported(int32_t) { return false; }
    static bool IsAlgorithmSupportedByOID(std::string_view) { return false; }
    static const char* GetName() { return "Empty"; }
    static const char* GetDescription() { return "Base class for public key encryption. Do not instantiate."; }

protected:
    // Starts a provider context (Init step): a fresh parameter list from FillOperationParams,
    // the context made by call, the list freed.
    using TContextStart =
        std::function<TElCustomCryptoContext*(TElCustomCryptoProvider*, const TElRelativeDistinguishedName*)>;
    void StartContext(const TContextStart& start);
    // The provider's update of a kind: asked first, then written to the end of the result.
    void UpdateContext(void (TElCustomCryptoProvider::*update)(TElCustomCryptoContext*, const void*, size_t, void*,
                                                               size_t&, const TElRelativeDistinguishedName*,
                                                               const TSBProgressFunc&, void*),
                       const void* buffer, size_t size);
    // The provider's final of a kind into the result, the result to WriteOutput, the context
    // released.
    void FinishContext(void (TElCustomCryptoProvider::*final)(TElCustomCryptoContext*, void*, size_t&,
                                                              const TElRelativeDistinguishedName*,
                                                              const TSBProgressFunc&, void*));
    int32_t FinishVerification();
    void ReleaseContext();
    TElCustomCryptoKey* MaterialKey() const;

    TElPublicKeyMaterial* keyMaterial_ = nullptr;
    rtl::SecureBytes output_;
    bool inputIsHash_ = false;
    bool busy_ = false;
    TElCustomCryptoProvider* provider_;
    TElCustomCryptoContext* context_ = nullptr;
    int32_t hashAlgorithm_ = 0;
    rtl::SecureBytes result_;

private:
    enum class Run { Encrypt, Decrypt, Sign };
    void OneShot(Run run, const void* input, size_t inputSize, void* output, size_t& outputSize);
    // After a failed Update step: the Final step (its own error dropped), then the context
    // released.
    void AbandonContext(const std::function<void()>& final);
    void LoadInput(const void* input, size_t size);

    Base64Context decoder_, encoder_;
    rtl::SecureBytes input_;
};

// ---------------------------------------------------------------------------------------------
// RSA

inline constexpr uint8_t SB_RSA_KEYSCHEME_PLAIN = 0;
inline constexpr uint8_t SB_RSA_KEYSCHEME_OAEP = 1;
inline constexpr uint8_t SB_RSA_KEYSCHEME_PSS = 2;

class TElRSAKeyMaterial : public TElPublicKeyMaterial {
public:
    explicit TElRSAKeyMaterial(TElCustomCryptoProvider* provider = nullptr);

    bool GetValid() const override;
    int GetBits() const override;
    void Assign(const TElKeyMaterial& source) override;
    std::unique_ptr<TElKeyMaterial> Clone() const override;
    void InternalGenerate(int bits) override;
    // PEM or DER; an RSAPublicKey with rsa-raw-key set, else a SubjectPublicKeyInfo.
    void LoadPublic(const void* buffer, size_t size) override;
    // PEM or DER: a PKCS#8 key (plain, or encrypted under KeyPassphrase; rsaEncryption,
    // RSASSA-PSS or RSAES-OAEP, whose parameters become the key's settings), else a PKCS#1
    // RSAPrivateKey. A key loaded from PKCS#8 is saved as PKCS#8 (PBES2 with triple DES under a
    // passphrase).
    void LoadSecret(const void* buffer, size_t size) override;
    void SavePublic(void* buffer, size_t& size) const override;
    void SaveSecret(void* buffer, size_t& size) const override;
    void ClearSecret() override;
    void ClearPublic() override;

    // A SubjectPublicKeyInfo (rsaEncryption, NULL) around the two numbers, loaded as public.
    void LoadPublicFromModulus(const void* modulus, size_t modulusSize, const void* exponent, size_t exponentSize);

    void SetStrLabel(const ByteString& label);
    ByteString GetStrLabel() const;
    void SetSaltSize(int32_t value);
    int32_t GetSaltSize() const;
    void SetHashAlgorithm(int32_t value);
    int32_t GetHashAlgorithm() const;
    void SetRawKey(bool value);

    // RFC 4055 parameter blocks.
    static ByteString WriteRSASSAPSSParams(int32_t hashAlgorithm, int32_t saltSize, int32_t trailerField,
                                           int32_t mgfAlgorithm);
    static ByteString WriteRSAESOAEPParams(int32_t hashAlgorithm, const ByteString& label);
    static bool ReadRSASSAPSSParams(const void* der, size_t size, int32_t& hashAlgorithm, int32_t& saltSize,
                                    int32_t& mgfAlgorithm, int32_t& mgfHashAlgorithm, int32_t& trailerField);
    static bool ReadRSAESOAEPParams(const void* der, size_t size, ByteString& label, int32_t& hashAlgorithm,
                                    int32_t& mgfHashAlgorithm);

    ByteString KeyPassphrase;
    bool PEMOutput = false;

private:
    void ResetState();

    uint8_t keyScheme_ = SB_RSA_KEYSCHEME_PLAIN;
};

inline constexpr uint8_t SB_RSA_CRYPTO_SCHEME_PKCS1 = 0;
inline constexpr uint8_t SB_RSA_CRYPTO_SCHEME_OAEP = 1;
inline constexpr uint8_t SB_RSA_CRYPTO_SCHEME_PSS = 2;
inline constexpr uint8_t SB_RSA_CRYPTO_SCHEME_SSL = 3;

class TElRSAPublicKeyCrypto : public TElPublicKeyCrypto {
public:
    explicit TElRSAPublicKeyCrypto(TElCustomCryptoProvider* provider = nullptr);
    // rsaEncryption and the PKCS#1 signature OIDs (scheme 0), id-RSASSA-PSS (2), id-RSAES-OAEP
    // (1); any other: "Unsupported algorithm: %s".
    static std::unique_ptr<TElRSAPublicKeyCrypto> CreateByOID(std::string_view oid,
                                                              TElCustomCryptoProvider* provider = nullptr);
    // Certificate algorithm numbers 0-3, 7-10, 13 (scheme 0), 11 (PSS), 12 (OAEP); any other:
    // "Unsupported algorithm: %d".
    static std::unique_ptr<TElRSAPublicKeyCrypto> CreateByAlgorithm(int32_t code,
                                                                    TElCustomCryptoProvider* provider = nullptr);

    void FillOperationParams(TElRelativeDistinguishedName& list) override;
    bool GetSupportsEncryption() const override { return supportsEncryption_; }
    bool GetSupportsSigning() const override { return supportsSigning_; }
    // A material that is not a TElRSAKeyMaterial: "Bad key material".
    void SetKeyMaterial(TElPublicKeyMaterial* material) override;
    void SignInit(bool detached) override;
    void SignUpdate(const void* buffer, size_t size) override;
    void SignFinal() override;
    void EncryptInit() override;
    void EncryptUpdate(const void* buffer, size_t size) override;
    void EncryptFinal() override;
    void DecryptInit() override;
    void DecryptUpdate(const void* buffer, size_t size) override;
    void DecryptFinal() override;
    void VerifyInit(bool detached, const void* signature, size_t size) override;
    void VerifyUpdate(const void* buffer, size_t size) override;
    int32_t VerifyFinal() override;
    int64_t EstimateOutputSize(const void* buffer, int64_t size, int32_t operation) override;
    // The wrapped key unwrapped by the provider with this material's key; a symmetric key
    // material, else "Unsupported key material".
    std::unique_ptr<TElSymmetricKeyMaterial> DecryptKey(const void* encryptedKey, size_t size,
                                                        std::string_view algOID, std::string_view algParams) override;

    void SetScheme(uint8_t scheme);
    uint8_t GetScheme() const { return scheme_; }
    void SetUseAlgorithmPrefix(bool value);
    bool GetUseAlgorithmPrefix() const { return useAlgorithmPrefix_; }

    static bool IsAlgorithmSupported(int32_t code);
    static bool IsAlgorithmSupportedByOID(std::string_view oid);
    static const char* GetName() { return "RSA"; }
    static const char* GetDescription() { return "Implements base RSA encrypting and signing functionality"; }

    ByteString HashFuncOID;
    int32_t PSSSaltSize = 0;
    int32_t PSSTrailerField = 0;
    int32_t PSSMGFAlgorithm = 0;

private:
    struct ByDefault {};
    TElRSAPublicKeyCrypto(ByDefault, TElCustomCryptoProvider* provider);
    void ResetState();
    void RequireMaterial() const;

    ByteString algorithmOID_;
    bool supportsEncryption_ = false, supportsSigning_ = false;
    uint8_t scheme_ = SB_RSA_CRYPTO_SCHEME_PKCS1;
    bool useAlgorithmPrefix_ = true;
};

// ---------------------------------------------------------------------------------------------
// DSA

class TElDSAKeyMaterial : public TElPublicKeyMaterial {
public:
    explicit TElDSAKeyMaterial(TElCustomCryptoProvider* provider = nullptr);
    // Stops and joins a background generation before the material goes.
    ~TElDSAKeyMaterial() override;

    bool GetValid() const override;
    int GetBits() const override;
    void Assign(const TElKeyMaterial& source) override;
    std::unique_ptr<TElKeyMaterial> Clone() const override;
    void InternalGenerate(int bits) override { InternalGenerateQ(bits, 0); }
    // PEM or DER, either blob form of DecodeDSAPrivateKey.
    void LoadSecret(const void* buffer, size_t size) override;
    // y as a DER INTEGER (always DER).
    void SavePublic(void* buffer, size_t& size) const override;
    void SaveSecret(void* buffer, size_t& size) const override;
    void ClearSecret() override;
    void ClearPublic() override;

    // p, q, g and y as given; any private value is dropped.
    void ImportPublicKey(const void* p, size_t pSize, const void* q, size_t qSize, const void* g, size_t gSize,
                         const void* y, size_t ySize);
    virtual void InternalGenerateQ(int bits, int qbits);
    // Does nothing while busy.
    void GenerateQ(int bits, int qbits);
    // In the background (nothing while busy); OnGenerationFinished tells the end.
    void BeginGenerateQ(int bits, int qbits);

    ByteString KeyPassphrase;
    bool PEMOutput = false;
};

class TElDSAPublicKeyCrypto : public TElPublicKeyCrypto {
public:
    explicit TElDSAPublicKeyCrypto(TElCustomCryptoProvider* provider = nullptr);
    static std::unique_ptr<TElDSAPublicKeyCrypto> CreateByOID(std::string_view oid,
                                                              TElCustomCryptoProvider* provider = nullptr);
    static std::unique_ptr<TElDSAPublicKeyCrypto> CreateByAlgorithm(int32_t code,
                                                                    TElCustomCryptoProvider* provider = nullptr);

    void FillOperationParams(TElRelativeDistinguishedName& list) override;
    bool GetSupportsEncryption() const override { return false; }
    bool GetSupportsSigning() const override { return true; }
    void SetKeyMaterial(TElPublicKeyMaterial* material) override;
    void SignInit(bool detached) override;
    void SignUpdate(const void* buffer, size_t size) override;
    void SignFinal() override;
    void VerifyInit(bool detached, const void* signature, size_t size) override;
    void VerifyUpdate(const void* buffer, size_t size) override;
    int32_t VerifyFinal() override;
    int64_t EstimateOutputSize(const void* buffer, int64_t size, int32_t operation) override;

    static bool IsAlgorithmSupported(int32_t code);
    static bool IsAlgorithmSupportedByOID(std::string_view oid);
    static const char* GetName() { return "DSA"; }
    static const char* GetDescription() { return "Implements DSA signing functionality"; }

private:
    struct Plain {};
    TElDSAPublicKeyCrypto(Plain, TElCustomCryptoProvider* provider);
    ByteString algorithmOID_;
};

// ---------------------------------------------------------------------------------------------
// Diffie-Hellman

class TElDHKeyMaterial : public TElPublicKeyMaterial {
public:
    explicit TElDHKeyMaterial(TElCustomCryptoProvider* provider = nullptr);

    bool GetValid() const override { return true; }
    int GetBits() const override;
    void Assign(const TElKeyMaterial& source) override;
    std::unique_ptr<TElKeyMaterial> Clone() const override;
    void InternalGenerate(int bits) override;
    // The private value x as bytes.
    void LoadSecret(const void* buffer, size_t size) override;
    // y as a DER INTEGER.
    void SavePublic(void* buffer, size_t& size) const override;
    // x, through the provider key's export.
    void SaveSecret(void* buffer, size_t& size) const override;
    void ClearSecret() override;
    void ClearPublic() override;

    // The group and the peer's public value, as given.
    void ImportPeerPublicKey(const void* p, size_t pSize, const void* g, size_t gSize, const void* peerY,
                             size_t peerYSize);
};

class TElDHPublicKeyCrypto : public TElPublicKeyCrypto {
public:
    explicit TElDHPublicKeyCrypto(TElCustomCryptoProvider* provider = nullptr);
    static std::unique_ptr<TElDHPublicKeyCrypto> CreateByOID(std::string_view oid,
                                                             TElCustomCryptoProvider* provider = nullptr);
    static std::unique_ptr<TElDHPublicKeyCrypto> CreateByAlgorithm(int32_t code,
                                                                   TElCustomCryptoProvider* provider = nullptr);

    bool GetSupportsEncryption() const override { return true; }
    bool GetSupportsSigning() const override { return false; }
    void SetKeyMaterial(TElPublicKeyMaterial* material) override;
    // Encryption gives g^e mod p (e the input, or x when there is none: the own public value);
    // decryption the shared secret peer-y^e mod p.
    void EncryptInit() override;
    void EncryptUpdate(const void* buffer, size_t size) override;
    void EncryptFinal() override;
    void DecryptInit() override;
    void DecryptUpdate(const void* buffer, size_t size) override;
    void DecryptFinal() override;
    int64_t EstimateOutputSize(const void* buffer, int64_t size, int32_t operation) override;

    void SetExchangeFlag(bool value);

    static bool IsAlgorithmSupported(int32_t code) { return code == SB_ALG_PK_DH; }
    static bool IsAlgorithmSupportedByOID(std::string_view) { return false; }
    static const char* GetName() { return "DH"; }
    static const char* GetDescription() { return "Implements base DH key exchange functionality"; }

private:
    bool exchange_ = true;
};

// ---------------------------------------------------------------------------------------------
// SRP

class TElSRPKeyMaterial : public TElPublicKeyMaterial {
public:
    explicit TElSRPKeyMaterial(TElCustomCryptoProvider* provider = nullptr);
    ~TElSRPKeyMaterial() override;

    void Assign(const TElKeyMaterial& source) override;
    std::unique_ptr<TElKeyMaterial> Clone() const override;

    // The SRP part of an RFC 5054 ServerKeyExchange: N (16-bit length), g (16-bit), s (8-bit),
    // B (16-bit); false when it is cut short (the numbers read before stay set). The salt is
    // kept as the bytes sent.
    bool LoadServerParams(const void* buffer, size_t size);
    // The premaster secret S, big-endian without leading zero bytes (RFC 5054 2.6).
    ByteArray GetSharedSecret() const;

    SRPContext& Context() { return context_; }
    const SRPContext& Context() const { return context_; }
    bool GetParamsLoaded() const { return loaded_; }

private:
    SRPContext context_;
    bool loaded_ = false;
};

class TElSRPPublicKeyCrypto : public TElPublicKeyCrypto {
public:
    explicit TElSRPPublicKeyCrypto(TElCustomCryptoProvider* provider = nullptr);
    static std::unique_ptr<TElSRPPublicKeyCrypto> CreateByOID(std::string_view oid,
                                                              TElCustomCryptoProvider* provider = nullptr);
    static std::unique_ptr<TElSRPPublicKeyCrypto> CreateByAlgorithm(int32_t code,
                                                                    TElCustomCryptoProvider* provider = nullptr);

    bool GetSupportsEncryption() const override { return false; }
    bool GetSupportsSigning() const override { return false; }
    void SetKeyMaterial(TElPublicKeyMaterial* material) override;

    // x, v, a random a, A and the premaster S (SRP-6a) over the material's server values; A is
    // returned as bytes. Refused with a clear error: a group that is neither one of RFC 5054's
    // nor a safe prime of at least 1024 bits with 1 < g < N - 1, B = 0 mod N, and u = 0.
    void ComputeClientKeys(const ByteString& userName, const ByteString& password, ByteArray& a);

    static bool IsAlgorithmSupported(int32_t code) { return code == SB_ALG_PK_SRP; }
    static bool IsAlgorithmSupportedByOID(std::string_view) { return false; }
    static const char* GetName() { return "SRP"; }
    static const char* GetDescription() { return "Implements base SRP key exchange functionality"; }
};
