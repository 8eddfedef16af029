// crypto/builtin/SBCryptoProvBuiltInPKI.h: the built-in provider's public-key keys: RSA (0x7401), DSA
// (0x7402), Elgamal (0x7403) and Diffie-Hellman (0x7407). Each keeps its numbers as big-endian
// byte arrays and a few settings; the key materials drive them through the virtual operations
// of TElCustomCryptoKey and the key properties, and the built-in operations read them through
// GetKeyProp. The arithmetic is in SBRSA, SBDSA and SBElgamal.
//
// What must stay true:
// - private values (d, x, the private-key blobs) live in wiped arrays;
// - a key's public half never carries its private half: ClearSecret and ClonePublic drop the
//   private-key blob with the private value, and changing a number through a property drops a
//   blob that no longer matches it;
// - a DSA or Elgamal key prepared in the background hands each precomputed token out once
//   (TakePreparedToken); a reusable preparation starts the next token when one is taken, so no
//   two signatures ever share a nonce.
//
// Export size protocol (ExportPublic, ExportSecret): a null buffer or a size of 0 asks for the
// size; a smaller size raises "Buffer too small"; otherwise the bytes are copied and the size
// set to their count.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "crypto/builtin/SBCryptoProvBuiltIn.h"
#include "crypto/pk/SBPKIAsync.h"
#include "rtl/SecureBytes.h"

// Key formats of an RSA key (key-format).
inline constexpr uint8_t SB_RSA_KEYFORMAT_PKCS1 = 0;
inline constexpr uint8_t SB_RSA_KEYFORMAT_OAEP = 1;
inline constexpr uint8_t SB_RSA_KEYFORMAT_PSS = 2;

class TElBuiltInRSACryptoKey final : public TElBuiltInCryptoKey {
public:
    explicit TElBuiltInRSACryptoKey(TElCustomCryptoProvider* provider);
    ~TElBuiltInRSACryptoKey() override = default;

    bool GetIsPublic() const override { return public_; }
    bool GetIsSecret() const override { return secret_; }
    bool GetIsExportable() const override { return true; }
    // True without a private part, else the private-key blob's consistency (ValidateRSAPrivateKey).
    bool GetIsValid() const override;
    // 8 x the modulus length in bytes.
    int32_t GetBits() const override;
    int32_t GetAlgorithm() const override { return SB_ALG_PK_RSA; }
    // Every value emptied, salt size 20, SHA-1, MGF1, trailer 1, format "pkcs#1"; the raw flag
    // stays.
    void Reset() override;
    // A new key (GenerateRSAKey); the public blob is a SubjectPublicKeyInfo. A progress callback
    // that answers false cancels ("Internal error").
    void Generate(int32_t bits, const TElRelativeDistinguishedName* params = nullptr,
                  const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) override;
    // An RSAPublicKey (rsa-raw-key set) or a SubjectPublicKeyInfo; "Invalid public key" else.
    void ImportPublic(const void* buffer, size_t size, const TElRelativeDistinguishedName* params = nullptr) override;
    // A PKCS#1 RSAPrivateKey; "Invalid secret key" else.
    void ImportSecret(const void* buffer, size_t size, const TElRelativeDistinguishedName* params = nullptr) override;
    // The public key in the form rsa-raw-key chooses.
    void ExportPublic(void* buffer, size_t& size, const TElRelativeDistinguishedName* params = nullptr) const override;
    // The private-key blob as generated or imported.
    void ExportSecret(void* buffer, size_t& size, const TElRelativeDistinguishedName* params = nullptr) const override;
    std::unique_ptr<TElCustomCryptoKey> Clone(const TElRelativeDistinguishedName* params = nullptr) const override;
    std::unique_ptr<TElCustomCryptoKey> ClonePublic(const TElRelativeDistinguishedName* params = nullptr) const override;
    void ClearPublic() override { Reset(); }
    void ClearSecret() override;
    ByteString GetKeyProp(std::string_view propId, std::string_view defaultValue = {}) const override;
    void SetKeyProp(std::string_view propId, std::string_view value) override;

private:
    // The public blob from the modulus and exponent, raw or wrapped.
    void UpdatePublicBlob(bool raw);
    std::unique_ptr<TElBuiltInRSACryptoKey> CloneWith(bool secret) const;

    rtl::SecureBytes secretBlob_;
    ByteArray publicBlob_;
    ByteArray modulus_, publicExponent_;
    rtl::SecureBytes privateExponent_;
    ByteArray label_;
    int32_t saltSize_ = 20;
    int32_t hashAlgorithm_ = SB_ALG_SHA1;
    int32_t mgfAlgorithm_ = SB_ALG_MGF1;
    int32_t trailerField_ = 1;
    bool secret_ = false;
    bool public_ = false;
    uint8_t keyFormat_ = SB_RSA_KEYFORMAT_PKCS1;
    bool rawKey_ = false;
};

// What the DSA and Elgamal keys share: the token of a background preparation.
class TElBuiltInPreparedKey : public TElBuiltInCryptoKey {
public:
    // Frees (stopping its worker) the token of an earlier preparation.
    void CancelPreparation() override;
    // A token exists and its worker has ended.
    bool GetAsyncOperationFinished() const override;
    // The prepared token, handed over to the operation that spends it (null when none). After a
    // reusable preparation the next token is started at once.
    std::unique_ptr<TElPublicKeyComputationToken> TakePreparedToken();
    bool GetReleaseAfterUse() const { return releaseAfterUse_; }

protected:
    using TElBuiltInCryptoKey::TElBuiltInCryptoKey;
    // Starts a token of the kind on the shared calculator ("Key is already prepared" when one
    // exists).
    void Prepare(TElPublicKeyComputationToken::Kind kind, bool multiUse);
    virtual std::unique_ptr<TElPublicKeyComputationToken> Begin(TElPublicKeyComputationToken::Kind kind) = 0;

    std::unique_ptr<TElPublicKeyComputationToken> token_;
    bool releaseAfterUse_ = false;
};

class TElBuiltInDSACryptoKey final : public TElBuiltInPreparedKey {
public:
    explicit TElBuiltInDSACryptoKey(TElCustomCryptoProvider* provider);
    ~TElBuiltInDSACryptoKey() override = default;

    bool GetIsPublic() const override { return public_; }
    bool GetIsSecret() const override { return secret_; }
    bool GetIsExportable() const override { return true; }
    // ValidateDSAKey with the private value when there is one, strict as dsa-strict says.
    bool GetIsValid() const override;
    int32_t GetBits() const override { return int32_t(8 * p_.size()); }
    int32_t GetAlgorithm() const override { return SB_ALG_PK_DSA; }
    void Reset() override;
    // A new domain and key of FIPS 186-3 sizes: N from the dsa-qbits entry of params, else
    // from the hash algorithm, else from bits. A progress callback that answers false cancels
    // ("Key generation failed").
    void Generate(int32_t bits, const TElRelativeDistinguishedName* params = nullptr,
                  const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) override;
    // y as one DER INTEGER.
    void ImportPublic(const void* buffer, size_t size, const TElRelativeDistinguishedName* params = nullptr) override;
    // Either blob form of DecodeDSAPrivateKey.
    void ImportSecret(const void* buffer, size_t size, const TElRelativeDistinguishedName* params = nullptr) override;
    // y as one DER INTEGER.
    void ExportPublic(void* buffer, size_t& size, const TElRelativeDistinguishedName* params = nullptr) const override;
    // The blob as generated or imported; for values set through properties, their six-INTEGER
    // form.
    void ExportSecret(void* buffer, size_t& size, const TElRelativeDistinguishedName* params = nullptr) const override;
    std::unique_ptr<TElCustomCryptoKey> Clone(const TElRelativeDistinguishedName* params = nullptr) const override;
    std::unique_ptr<TElCustomCryptoKey> ClonePublic(const TElRelativeDistinguishedName* params = nullptr) const override;
    void ClearPublic() override { Reset(); }
    void ClearSecret() override;
    ByteString GetKeyProp(std::string_view propId, std::string_view defaultValue = {}) const override;
    void SetKeyProp(std::string_view propId, std::string_view value) override;
    // Precomputes a signature's k and r in the background.
    void PrepareForSigning(bool multiUse = false) override;

protected:
    std::unique_ptr<TElPublicKeyComputationToken> Begin(TElPublicKeyComputationToken::Kind kind) override;

private:
    void UpdateFlags();

    bool public_ = false, secret_ = false;
    rtl::SecureBytes secretBlob_;
    ByteArray p_, q_, g_, y_;
    rtl::SecureBytes x_;
    int32_t strict_ = 0;
    mutable int32_t hashAlgorithm_ = 0;  // 0: chosen by the size of q when first asked
};

class TElBuiltInElgamalCryptoKey final : public TElBuiltInPreparedKey {
public:
    explicit TElBuiltInElgamalCryptoKey(TElCustomCryptoProvider* provider);
    ~TElBuiltInElgamalCryptoKey() override = default;

    bool GetIsPublic() const override { return public_; }
    bool GetIsSecret() const override { return secret_; }
    bool GetIsExportable() const override { return true; }
    bool GetIsValid() const override { return true; }
    int32_t GetBits() const override { return int32_t(8 * p_.size()); }
    int32_t GetAlgorithm() const override { return SB_ALG_PK_ELGAMAL; }
    void Reset() override;
    void Generate(int32_t bits, const TElRelativeDistinguishedName* params = nullptr,
                  const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) override;
    // The Elgamal key travels as properties only: these four do nothing.
    void ImportPublic(const void*, size_t, const TElRelativeDistinguishedName* = nullptr) override {}
    void ImportSecret(const void*, size_t, const TElRelativeDistinguishedName* = nullptr) override {}
    void ExportPublic(void*, size_t&, const TElRelativeDistinguishedName* = nullptr) const override {}
    void ExportSecret(void*, size_t&, const TElRelativeDistinguishedName* = nullptr) const override {}
    std::unique_ptr<TElCustomCryptoKey> Clone(const TElRelativeDistinguishedName* params = nullptr) const override;
    std::unique_ptr<TElCustomCryptoKey> ClonePublic(const TElRelativeDistinguishedName* params = nullptr) const override;
    void ClearPublic() override { Reset(); }
    void ClearSecret() override;
    ByteString GetKeyProp(std::string_view propId, std::string_view defaultValue = {}) const override;
    void SetKeyProp(std::string_view propId, std::string_view value) override;
    void PrepareForEncryption(bool multiUse = false) override;
    void PrepareForSigning(bool multiUse = false) override;

protected:
    std::unique_ptr<TElPublicKeyComputationToken> Begin(TElPublicKeyComputationToken::Kind kind) override;

private:
    ByteArray p_, g_, y_;
    rtl::SecureBytes x_;
    bool public_ = false, secret_ = false;
};

class TElBuiltInDHCryptoKey final : public TElBuiltInCryptoKey {
public:
    explicit TElBuiltInDHCryptoKey(TElCustomCryptoProvider* provider);
    ~TElBuiltInDHCryptoKey() override = default;

    bool GetIsPublic() const override { return public_; }
    bool GetIsSecret() const override { return secret_; }
    bool GetIsExportable() const override { return true; }
    bool GetIsValid() const override { return true; }
    int32_t GetBits() const override { return int32_t(8 * p_.size()); }
    int32_t GetAlgorithm() const override { return SB_ALG_PK_DH; }
    void Reset() override;
    // A random prime p of bits (a multiple of 32), g = 2, x of bits / 32 random bytes, y = g^x.
    void Generate(int32_t bits, const TElRelativeDistinguishedName* params = nullptr,
                  const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) override;
    void ImportPublic(const void*, size_t, const TElRelativeDistinguishedName* = nullptr) override {}
    // x := the bytes.
    void ImportSecret(const void* buffer, size_t size, const TElRelativeDistinguishedName* params = nullptr) override;
    void ExportPublic(void*, size_t&, const TElRelativeDistinguishedName* = nullptr) const override {}
    // x.
    void ExportSecret(void* buffer, size_t& size, const TElRelativeDistinguishedName* params = nullptr) const override;
    std::unique_ptr<TElCustomCryptoKey> Clone(const TElRelativeDistinguishedName* params = nullptr) const override;
    std::unique_ptr<TElCustomCryptoKey> ClonePublic(const TElRelativeDistinguishedName* params = nullptr) const override;
    void ClearPublic() override { Reset(); }
    void ClearSecret() override;
    ByteString GetKeyProp(std::string_view propId, std::string_view defaultValue = {}) const override;
    void SetKeyProp(std::string_view propId, std::string_view value) override;

private:
    void UpdateFlags();

    ByteArray p_, g_, y_, peerY_;
    rtl::SecureBytes x_;
    bool secret_ = false, public_ = false;
};

// ---------------------------------------------------------------------------------------------
// Operations: one object per public-key context performs one sign, verify, encrypt or decrypt
// with a built-in key. The context and the provider create and drive them; errors are
// EElBuiltInCryptoProviderError.

class TElBuiltInHashFunction;

// Operation codes of EstimateOutputSize.
inline constexpr int32_t SB_PKOP_ENCRYPT = 0;
inline constexpr int32_t SB_PKOP_DECRYPT = 1;
inline constexpr int32_t SB_PKOP_SIGN = 2;
inline constexpr int32_t SB_PKOP_SIGN_DETACHED = 3;
inline constexpr int32_t SB_PKOP_VERIFY = 4;
inline constexpr int32_t SB_PKOP_VERIFY_DETACHED = 5;

class TElBuiltInPublicKeyCrypto {
public:
    TElBuiltInPublicKeyCrypto();
    virtual ~TElBuiltInPublicKeyCrypto();
    TElBuiltInPublicKeyCrypto(const TElBuiltInPublicKeyCrypto&) = delete;
    TElBuiltInPublicKeyCrypto& operator=(const TElBuiltInPublicKeyCrypto&) = delete;

    // The base raises "Unsupported operation" for every operation below.
    virtual bool GetSupportsEncryption() const;
    virtual bool GetSupportsSigning() const;
    virtual void SetKeyMaterial(TElCustomCryptoKey* key);
    virtual void WriteOutput(const void* buffer, size_t count);
    // Output emptied, finished cleared.
    virtual void Reset();
    void ResetOutput();
    virtual void SignInit(bool detached);
    virtual void SignUpdate(const void* buffer, size_t size);
    // A null buffer asks for the signature's size; the signature is computed once and kept, so
    // the size question costs the signing and the second call only copies ("Buffer too small"
    // for too little room).
    virtual void SignFinal(void* buffer, size_t& size);
    virtual void EncryptInit();
    virtual void EncryptUpdate(const void* buffer, size_t size);
    virtual void EncryptFinal();
    virtual void DecryptInit();
    virtual void DecryptUpdate(const void* buffer, size_t size);
    virtual void DecryptFinal();
    virtual void VerifyInit(bool notDetached, const void* signature, size_t size);
    virtual void VerifyUpdate(const void* buffer, size_t size);
    // 0 the signature is valid, 1 it is not.
    virtual int32_t VerifyFinal();
    virtual int64_t EstimateOutputSize(const void* input, int32_t operation, int64_t size);
    int64_t EstimateOutputSize(int32_t operation, int64_t size) { return EstimateOutputSize(nullptr, operation, size); }

    TElCustomCryptoKey* GetKeyMaterial() const { return key_; }
    const rtl::SecureBytes& GetOutput() const { return output_; }
    bool GetInputIsHash() const { return inputIsHash_; }
    void SetInputIsHash(bool value) { inputIsHash_ = value; }

    static bool IsAlgorithmSupported(int32_t) { return false; }
    static bool IsAlgorithmSupportedByOID(std::string_view) { return false; }
    static const char* GetName() { return "Empty"; }
    static const char* GetDescription() { return "Base class for public key encryption. Do not instantiate."; }

protected:
    // The digest of what was signed or verified: the collected bytes (input is a hash) or the
    // hash object's result; the object goes with it.
    rtl::SecureBytes TakeDigest();
    void StartDigest(std::unique_ptr<TElBuiltInHashFunction> hash);
    void Collect(const void* buffer, size_t size);
    // The signature once computed: answers the size or copies it.
    void AnswerSignature(void* buffer, size_t& size) const;

    TElCustomCryptoKey* key_ = nullptr;
    rtl::SecureBytes output_;
    bool finished_ = false;
    bool inputIsHash_ = false;
    rtl::SecureBytes collected_;
    std::unique_ptr<TElBuiltInHashFunction> hash_;
};

// RSA schemes of the operation.
inline constexpr uint8_t SB_RSA_SCHEME_PKCS1 = 0;
inline constexpr uint8_t SB_RSA_SCHEME_OAEP = 1;
inline constexpr uint8_t SB_RSA_SCHEME_PSS = 2;
inline constexpr uint8_t SB_RSA_SCHEME_SSL = 3;

class TElBuiltInRSAPublicKeyCrypto final : public TElBuiltInPublicKeyCrypto {
public:
    // By OID: rsaEncryption and the PKCS#1 signature OIDs (scheme 0), id-RSASSA-PSS (2, signing
    // only), id-RSAES-OAEP (1, encryption only); any other: "Unsupported algorithm (%s)".
    static std::unique_ptr<TElBuiltInRSAPublicKeyCrypto> CreateByOID(std::string_view oid);
    // By certificate algorithm number 0-3, 7-10 (scheme 0), 11 (PSS), 12 (OAEP).
    static std::unique_ptr<TElBuiltInRSAPublicKeyCrypto> CreateByAlgorithm(int32_t code);
    // rsaEncryption, the object the context makes.
    static std::unique_ptr<TElBuiltInRSAPublicKeyCrypto> Create();

    bool GetSupportsEncryption() const override { return supportsEncryption_; }
    bool GetSupportsSigning() const override { return supportsSigning_; }
    // The key must be an RSA key ("Bad key material").
    void SetKeyMaterial(TElCustomCryptoKey* key) override;
    void Reset() override;
    void SignInit(bool detached) override;
    void SignUpdate(const void* buffer, size_t size) override;
    void SignFinal(void* buffer, size_t& size) override;
    void EncryptInit() override;
    void EncryptUpdate(const void* buffer, size_t size) override;
    void EncryptFinal() override;
    void DecryptInit() override;
    void DecryptUpdate(const void* buffer, size_t size) override;
    void DecryptFinal() override;
    void VerifyInit(bool notDetached, const void* signature, size_t size) override;
    void VerifyUpdate(const void* buffer, size_t size) override;
    int32_t VerifyFinal() override;
    int64_t EstimateOutputSize(const void* input, int32_t operation, int64_t size) override;
    using TElBuiltInPublicKeyCrypto::EstimateOutputSize;

    // Scheme selection (context properties alg-scheme and hash-algorithm): both directions,
    // then PSS signs only and OAEP encrypts only.
    void SelectScheme(uint8_t scheme);
    uint8_t GetScheme() const { return scheme_; }
    bool GetUseAlgorithmPrefix() const { return useAlgorithmPrefix_; }
    void SetUseAlgorithmPrefix(bool value) { useAlgorithmPrefix_ = value; }
    int32_t GetHashAlgorithm() const { return hashAlgorithm_; }
    void SetHashAlgorithm(int32_t value) { hashAlgorithm_ = value; }
    const ByteString& GetHashFuncOID() const { return hashFuncOID_; }
    void SetHashFuncOID(std::string_view value) { hashFuncOID_ = ByteString(value); }
    int32_t GetSaltSize() const { return saltSize_; }
    void SetSaltSize(int32_t value) { saltSize_ = value; }
    int32_t GetTrailerField() const { return trailerField_; }
    void SetTrailerField(int32_t value) { trailerField_ = value; }
    int32_t GetMGFAlgorithm() const { return mgfAlgorithm_; }
    void SetMGFAlgorithm(int32_t value) { mgfAlgorithm_ = value; }

    static bool IsAlgorithmSupported(int32_t code);
    static bool IsAlgorithmSupportedByOID(std::string_view oid);
    static const char* GetName() { return "RSA"; }
    static const char* GetDescription() { return "Implements base RSA encrypting and signing functionality"; }

private:
    TElBuiltInRSAPublicKeyCrypto();
    // The digest the operation uses: the explicit one, else by scheme and OID (0x7FFF: none).
    int32_t OperationHash() const;
    ByteString OperationHashOID() const;
    ByteString KeyProp(std::string_view id, std::string_view def = {}) const;
    rtl::SecureBytes SecretBlob() const;
    // Salt, trailer and mask of a PSS operation; anything but trailer 1 with MGF1 raises
    // "Unsupported property value (%s)".
    void PSSParameters(int32_t& salt) const;
    void RequireSigning() const;
    void RequireEncryption() const;

    ByteString algorithmOID_;
    bool supportsEncryption_ = true, supportsSigning_ = true;
    uint8_t scheme_ = SB_RSA_SCHEME_PKCS1;
    bool useAlgorithmPrefix_ = true;
    ByteString hashFuncOID_;
    int32_t hashAlgorithm_ = SB_ALG_UNKNOWN;
    int32_t mgfAlgorithm_ = 0, saltSize_ = 0, trailerField_ = 0;
    // Verification: the signature opened under e (PKCS#1 and ssl-hash: the whole k-byte block,
    // empty when it did not open as a type-1 block) or the signature itself (PSS), and the
    // digest it must be compared with.
    rtl::SecureBytes expected_;
    int32_t verifyHash_ = SB_ALG_UNKNOWN;
};

class TElBuiltInDSAPublicKeyCrypto final : public TElBuiltInPublicKeyCrypto {
public:
    // id-dsa or id-dsa-with-sha1, else "Unsupported algorithm (%s)".
    static std::unique_ptr<TElBuiltInDSAPublicKeyCrypto> CreateByOID(std::string_view oid);
    // Certificate algorithm numbers 4 and 5, else "Unsupported algorithm (%d)".
    static std::unique_ptr<TElBuiltInDSAPublicKeyCrypto> CreateByAlgorithm(int32_t code);
    static std::unique_ptr<TElBuiltInDSAPublicKeyCrypto> Create();

    bool GetSupportsEncryption() const override { return false; }
    bool GetSupportsSigning() const override { return true; }
    void SetKeyMaterial(TElCustomCryptoKey* key) override;
    void Reset() override;
    void SignInit(bool detached) override;
    void SignUpdate(const void* buffer, size_t size) override;
    void SignFinal(void* buffer, size_t& size) override;
    void VerifyInit(bool notDetached, const void* signature, size_t size) override;
    void VerifyUpdate(const void* buffer, size_t size) override;
    int32_t VerifyFinal() override;
    int64_t EstimateOutputSize(const void* input, int32_t operation, int64_t size) override;
    using TElBuiltInPublicKeyCrypto::EstimateOutputSize;

    static bool IsAlgorithmSupported(int32_t code);
    static bool IsAlgorithmSupportedByOID(std::string_view oid);
    static const char* GetName() { return "DSA"; }
    static const char* GetDescription() { return "Implements DSA signing functionality"; }

private:
    TElBuiltInDSAPublicKeyCrypto() = default;
    int32_t HashAlgorithm() const;

    ByteString algorithmOID_;
    ByteArray signature_;
};

class TElBuiltInElgamalPublicKeyCrypto final : public TElBuiltInPublicKeyCrypto {
public:
    // Always "Unsupported algorithm (%s)": no OID names Elgamal here.
    static std::unique_ptr<TElBuiltInElgamalPublicKeyCrypto> CreateByOID(std::string_view oid);
    // 0x7403, else "Unsupported algorithm (%d)".
    static std::unique_ptr<TElBuiltInElgamalPublicKeyCrypto> CreateByAlgorithm(int32_t code);
    static std::unique_ptr<TElBuiltInElgamalPublicKeyCrypto> Create();

    bool GetSupportsEncryption() const override { return true; }
    bool GetSupportsSigning() const override { return true; }
    void SetKeyMaterial(TElCustomCryptoKey* key) override;
    void Reset() override;
    void SignInit(bool detached) override;
    void SignUpdate(const void* buffer, size_t size) override;
    void SignFinal(void* buffer, size_t& size) override;
    void EncryptInit() override;
    void EncryptUpdate(const void* buffer, size_t size) override;
    void EncryptFinal() override;
    void DecryptInit() override;
    void DecryptUpdate(const void* buffer, size_t size) override;
    void DecryptFinal() override;
    void VerifyInit(bool notDetached, const void* signature, size_t size) override;
    void VerifyUpdate(const void* buffer, size_t size) override;
    int32_t VerifyFinal() override;
    int64_t EstimateOutputSize(const void* input, int32_t operation, int64_t size) override;
    using TElBuiltInPublicKeyCrypto::EstimateOutputSize;

    int32_t GetHashAlgorithm() const { return hashAlgorithm_; }
    void SetHashAlgorithm(int32_t value) { hashAlgorithm_ = value; }

    static bool IsAlgorithmSupported(int32_t code) { return code == SB_ALG_PK_ELGAMAL; }
    static bool IsAlgorithmSupportedByOID(std::string_view) { return false; }
    static const char* GetName() { return "Elgamal"; }
    static const char* GetDescription() { return "Implements Elgamal encryption and signing functions"; }

private:
    TElBuiltInElgamalPublicKeyCrypto() = default;

    ByteArray signature_;
    int32_t hashAlgorithm_ = SB_ALG_SHA1;
};

class TElBuiltInDHPublicKeyCrypto final : public TElBuiltInPublicKeyCrypto {
public:
    static std::unique_ptr<TElBuiltInDHPublicKeyCrypto> CreateByOID(std::string_view oid);
    static std::unique_ptr<TElBuiltInDHPublicKeyCrypto> CreateByAlgorithm(int32_t code);
    static std::unique_ptr<TElBuiltInDHPublicKeyCrypto> Create();

    bool GetSupportsEncryption() const override { return true; }
    bool GetSupportsSigning() const override { return false; }
    void SetKeyMaterial(TElCustomCryptoKey* key) override;
    void Reset() override;
    // Encryption gives g^e mod p (the own public value when e is not given), decryption
    // peer-y^e mod p (the shared secret), e the input or else dh-x; p must be present and the
    // base must lie in 2 .. p - 2 (a peer value of 0, 1 or p - 1 forces a known secret).
    void EncryptInit() override;
    void EncryptUpdate(const void* buffer, size_t size) override;
    void EncryptFinal() override;
    void DecryptInit() override;
    void DecryptUpdate(const void* buffer, size_t size) override;
    void DecryptFinal() override;
    int64_t EstimateOutputSize(const void* input, int32_t operation, int64_t size) override;
    using TElBuiltInPublicKeyCrypto::EstimateOutputSize;

    static bool IsAlgorithmSupported(int32_t code) { return code == SB_ALG_PK_DH; }
    static bool IsAlgorithmSupportedByOID(std::string_view) { return false; }
    static const char* GetName() { return "DH"; }
    static const char* GetDescription() { return "Implements Diffie-Hellman key exchange algorithm"; }

private:
    TElBuiltInDHPublicKeyCrypto() = default;
    void Exponentiate(std::string_view baseProp);
};
