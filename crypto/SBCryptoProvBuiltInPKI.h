// crypto/SBCryptoProvBuiltInPKI.h: the built-in provider's public-key keys: RSA (0x7401), DSA
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

#include "crypto/SBCryptoProvBuiltIn.h"
#include "crypto/SBPKIAsync.h"
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
    // A new key (GenerateRSAKey); the public blob is a SubjectPublicKeyInfo.
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
    // from the hash algorithm, else from bits.
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
