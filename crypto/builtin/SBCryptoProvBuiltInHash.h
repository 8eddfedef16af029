// crypto/builtin/SBCryptoProvBuiltInHash.h: the built-in provider's digest and HMAC engine,
// TElBuiltInHashFunction, and the HMAC key TElBuiltInMACKey.
//
// The engine dispatches by algorithm code to the digest routines (MD2, MD5, SHA-1, SHA-224,
// SHA-256, SHA-384, SHA-512, RIPEMD-160) and builds HMAC (RFC 2104) on them. A digest or HMAC
// context of the provider owns one engine; public-key operations use one directly to digest
// their data.
//
// What must stay true: the MAC key is only read. A key longer than the block is digested into
// the engine's own copy (RFC 2104 section 2), so one key serves HMACs under different digests
// and several threads at once; that copy, the pads and the digest contexts are wiped when the
// engine goes away. After Finish a new message needs Reset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "crypto/builtin/SBCryptoProvBuiltIn.h"
#include "crypto/hash/SBMD.h"
#include "crypto/hash/SBRIPEMD.h"
#include "crypto/hash/SBSHA.h"
#include "crypto/hash/SBSHA2.h"
#include "rtl/SecureBytes.h"

namespace SBCryptoProvBuiltInHash {
// The engine's errors; distinct from the hash facade's classes of the same names.
RTL_EXCEPTION(EElHashFunctionError, rtl::Exception);
RTL_EXCEPTION(EElHashFunctionUnsupportedError, EElHashFunctionError);
}  // namespace SBCryptoProvBuiltInHash

class TElBuiltInHashFunction final {
public:
    // An unsupported code raises EElHashFunctionUnsupportedError "Unsupported algorithm (%d)";
    // an HMAC code needs a TElBuiltInMACKey (else EElHashFunctionError "Invalid key material").
    // The key is not owned and must outlive the engine.
    static std::unique_ptr<TElBuiltInHashFunction> CreateByAlgorithm(int32_t algorithm,
                                                                     TElCustomCryptoKey* key = nullptr);
    static std::unique_ptr<TElBuiltInHashFunction> CreateByOID(std::string_view digestOID,
                                                               TElCustomCryptoKey* key = nullptr);
    ~TElBuiltInHashFunction();
    TElBuiltInHashFunction(const TElBuiltInHashFunction&) = delete;
    TElBuiltInHashFunction& operator=(const TElBuiltInHashFunction&) = delete;

    // Starts a new message (for HMAC: reads the key again).
    void Reset();
    void Update(const void* buffer, size_t size);
    // The digest or MAC of the message.
    ByteString Finish();
    // A new engine in the same state, continuing from the same point.
    std::unique_ptr<TElBuiltInHashFunction> Clone() const;

    int32_t GetAlgorithm() const { return algorithm_; }
    TElCustomCryptoKey* GetKey() const { return key_; }

    // True when GetDigestSize answers a positive size.
    static bool IsAlgorithmSupported(int32_t algorithm);
    // Bits; a code without a size raises EElHashFunctionUnsupportedError.
    static int32_t GetDigestSize(int32_t algorithm);

private:
    TElBuiltInHashFunction(int32_t algorithm, TElCustomCryptoKey* key);
    // The digest family's context started (SHA-224 and SHA-384 with their own values).
    void StartDigest();
    void FeedDigest(const void* data, size_t size);
    rtl::SecureBytes FinishDigest();

    int32_t algorithm_;
    int32_t digest_;  // the digest code (the HMAC's underlying digest)
    TElCustomCryptoKey* key_;
    bool hmac_ = false;
    size_t hmacBlockSize_ = 64;
    // HMAC: the key as used (digested when longer than the block), padded to the block.
    rtl::SecureBytes hmacKey_;
    MD2Context md2_;
    MD5Context md5_;
    SHA1Context sha1_;
    SHA256Context sha256_;
    SHA512Context sha512_;
    RIPEMD160Context ripemd160_;
};

// The HMAC key: only its value is used; it is public and exportable as plain bytes.
class TElBuiltInMACKey final : public TElBuiltInCryptoKey {
public:
    explicit TElBuiltInMACKey(TElCustomCryptoProvider* provider) : TElBuiltInCryptoKey(provider) {}

    bool GetIsPublic() const override { return true; }
    bool GetIsSecret() const override { return false; }
    bool GetIsExportable() const override { return true; }
    bool GetIsValid() const override { return true; }
    int32_t GetBits() const override { return int32_t(value_.size() * 8); }
    int32_t GetAlgorithm() const override { return 0; }
    int32_t GetMode() const override { return 0; }
    void SetMode(int32_t) override {}
    std::span<const uint8_t> GetIV() const override { return {}; }
    void SetIV(std::span<const uint8_t>) override {}
    // Empties the value.
    void Reset() override { value_.clear(); }
    // ceil(bits / 8) random bytes; bits of 0 or less give an empty value.
    void Generate(int32_t bits, const TElRelativeDistinguishedName* params = nullptr,
                  const TSBProgressFunc& progressFunc = nullptr, void* progressData = nullptr) override;
    // The bytes become the value.
    void ImportPublic(const void* buffer, size_t size, const TElRelativeDistinguishedName* params = nullptr) override;
    void ImportSecret(const void*, size_t, const TElRelativeDistinguishedName* = nullptr) override {}
    // The value; a null buffer or size 0 asks for the size, a smaller one raises "Buffer too
    // small" (EElBuiltInCryptoProviderError).
    void ExportPublic(void* buffer, size_t& size, const TElRelativeDistinguishedName* params = nullptr) const override;
    void ExportSecret(void*, size_t& size, const TElRelativeDistinguishedName* = nullptr) const override { size = 0; }
    // The provider must be a TElBuiltInCryptoProvider ("Unsupported crypto provider").
    std::unique_ptr<TElCustomCryptoKey> Clone(const TElRelativeDistinguishedName* params = nullptr) const override;
    std::unique_ptr<TElCustomCryptoKey> ClonePublic(const TElRelativeDistinguishedName* params = nullptr) const override;
    void ClearPublic() override { Reset(); }
    void ClearSecret() override {}
    ByteString GetKeyProp(std::string_view, std::string_view defaultValue = {}) const override {
        return ByteString(defaultValue);
    }
    void SetKeyProp(std::string_view, std::string_view) override {}
    void ChangeAlgorithm(int32_t) override {}
};
