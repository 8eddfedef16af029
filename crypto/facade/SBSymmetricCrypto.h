// crypto/facade/SBSymmetricCrypto.h: the symmetric cipher facade protocol code uses:
// TElSymmetricKeyMaterial (a key and IV held as a key of some provider), TElSymmetricCrypto
// (one cipher run over it through a provider context), the five fixed-algorithm subclasses and
// TElSymmetricCryptoFactory. TLS builds its record ciphers with them (padding off, block-wise
// updates); PKCS#5 password-based encryption uses the factory and the one-shot Encrypt and
// Decrypt.
//
// Mode numbers here are the engine's (0 default, 1 ECB, 2 CBC, 3 CTR, 4 CFB); every provider
// call gets them translated (ConvertCipherMode). A null provider means DefaultCryptoProvider.
//
// States of TElSymmetricCrypto: created -> key material set -> initialised (a context exists)
// -> updates -> finalised. Initialising again releases the earlier context first, so a
// provider never collects the contexts of earlier messages; the context of the last message
// stays until the next initialisation or destruction (padding and block size keep coming
// from it), and destruction releases it through the provider that made it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string_view>

#include "crypto/facade/SBCustomCrypto.h"
#include "crypto/prov/SBCryptoProv.h"

namespace SBSymmetricCrypto {
// The facade's error class; a different class from the cipher engine's error of the same
// name (SBCryptoProvBuiltInSym).
RTL_EXCEPTION(EElSymmetricCryptoError, ECryptoLibraryError);
}  // namespace SBSymmetricCrypto

inline constexpr const char* SUnsupportedAlgorithmFacade = "Unsupported algorithm %d";
inline constexpr const char* SPureVirtualConstructor = "This constructor is pure virtual, please use another one";
inline constexpr const char* SOutputBufferTooSmall = "Output buffer too small";
inline constexpr const char* SInvalidKeyFormat = "Invalid key format";

// A symmetric key (value and IV) as a key of a provider, which the material owns: it is
// released through that key's provider when the material goes. The key blob of Load, Save and
// the stream operations is the built-in symmetric key blob (K + I + 38 bytes).
class TElSymmetricKeyMaterial : public TElKeyMaterial {
public:
    // A fresh key of the generic symmetric code from the provider (or the default one).
    explicit TElSymmetricKeyMaterial(TElCustomCryptoProvider* provider = nullptr);
    // Takes over an existing provider key (for instance one unwrapped by DecryptKey); the
    // provider is the given one or the key's own.
    static std::unique_ptr<TElSymmetricKeyMaterial> CreateWithKey(TElCustomCryptoKey* key,
                                                                  TElCustomCryptoProvider* provider = nullptr);
    ~TElSymmetricKeyMaterial() override;
    TElSymmetricKeyMaterial(const TElSymmetricKeyMaterial&) = delete;
    TElSymmetricKeyMaterial& operator=(const TElSymmetricKeyMaterial&) = delete;

    int GetBits() const override;
    void Generate(int bits) override;
    void SaveToStream(rtl::Stream& stream) const override;
    // Reads one key blob: count bytes, or what is left of the stream when count is 0. A
    // shorter stream than the blob needs raises "Invalid key format".
    void LoadFromStream(rtl::Stream& stream, int64_t count = 0) override;

    // bits / 8 random bytes as the IV; bits not a multiple of 8: "Invalid input block size".
    void GenerateIV(int32_t bits);
    // The key's ImportSecret.
    void Load(const void* buffer, size_t size);
    // The key's ExportSecret: a null buffer or size 0 asks for the size.
    void Save(void* buffer, size_t& size) const;
    void SetKey(std::span<const uint8_t> value);
    void SetIV(std::span<const uint8_t> iv);

    TElCustomCryptoKey* GetKey() const { return key_; }
    TElCustomCryptoProvider* GetProvider() const { return provider_; }

private:
    struct Adopt {};
    TElSymmetricKeyMaterial(Adopt, TElCustomCryptoKey* key, TElCustomCryptoProvider* provider);

    TElCustomCryptoKey* key_ = nullptr;
    TElCustomCryptoProvider* provider_ = nullptr;
};

class TElSymmetricCrypto : public TElCustomCrypto {
public:
    // total, processed so far, and a cancel flag that starts false.
    using TSBProgressEvent =
        std::function<void(TElSymmetricCrypto* sender, int64_t total, int64_t processed, bool& cancel)>;

    // The provider must support the code in the (translated) mode, else "Unsupported
    // algorithm %d".
    static std::unique_ptr<TElSymmetricCrypto> CreateByAlgorithm(int32_t algorithm, uint8_t mode = 0,
                                                                 TElCustomCryptoProvider* provider = nullptr);
    // The provider must support the OID, else "Unsupported algorithm (%s)".
    static std::unique_ptr<TElSymmetricCrypto> CreateByOID(std::string_view algOID, uint8_t mode = 0,
                                                           TElCustomCryptoProvider* provider = nullptr);
    // The base class has no algorithm of its own: "This constructor is pure virtual, please use
    // another one".
    static std::unique_ptr<TElSymmetricCrypto> CreateDefault();
    ~TElSymmetricCrypto() override;
    TElSymmetricCrypto(const TElSymmetricCrypto&) = delete;
    TElSymmetricCrypto& operator=(const TElSymmetricCrypto&) = delete;

    TSBProgressEvent OnProgress;

    // Kept for the next initialisation; not owned.
    void SetKeyMaterial(TElSymmetricKeyMaterial* material) { keyMaterial_ = material; }
    TElSymmetricKeyMaterial* GetKeyMaterial() const { return keyMaterial_; }

    static bool IsAlgorithmSupported(int32_t algorithm, TElCustomCryptoProvider* provider = nullptr);
    static bool IsAlgorithmSupportedByOID(std::string_view algOID, TElCustomCryptoProvider* provider = nullptr);
    // The provider's default-key-size and block-size properties (0 when it has none).
    static void GetDefaultKeyAndBlockLength(int32_t algorithm, int32_t& keyLength, int32_t& blockLength,
                                            TElCustomCryptoProvider* provider = nullptr);
    static void GetDefaultKeyAndBlockLengthByOID(std::string_view algOID, int32_t& keyLength, int32_t& blockLength,
                                                 TElCustomCryptoProvider* provider = nullptr);

    bool GetIsStreamCipher() const;
    // The stored provider, else the key material's, else the default one.
    TElCustomCryptoProvider* GetProvider() const;
    int32_t GetAlgorithm() const { return algorithm_; }
    const ByteString& GetAlgorithmOID() const { return algorithmOID_; }
    uint8_t GetMode() const { return mode_; }

    virtual void InitializeEncryption();
    virtual void InitializeDecryption();
    // The provider's size protocol: a null output asks for the size.
    void EncryptUpdate(const void* input, size_t inputSize, void* output, size_t& outputSize);
    void DecryptUpdate(const void* input, size_t inputSize, void* output, size_t& outputSize);
    void FinalizeEncryption(void* output, size_t& outputSize);
    void FinalizeDecryption(void* output, size_t& outputSize);
    // One-shot: outputSize 0 asks for the size; too little room raises "Output buffer too
    // small". Encrypt feeds the input in 64 KiB chunks and reports progress after each.
    void Encrypt(const void* input, size_t inputSize, void* output, size_t& outputSize);
    void Decrypt(const void* input, size_t inputSize, void* output, size_t& outputSize);
    // The most a whole message of n bytes needs.
    size_t EstimateOutputSize(size_t inputSize, bool encrypting) const;
    int32_t GetBlockSize() const;
    uint8_t GetPadding() const;
    void SetPadding(uint8_t padding);

protected:
    // Create (mode, provider): the fixed-algorithm subclasses' constructor.
    TElSymmetricCrypto(uint8_t mode, TElCustomCryptoProvider* provider);

    // padding := PKCS#5 (RC4 also clears its skip count).
    virtual void SetDefaults();
    // Extra context properties for the next initialisation (RC4's skip count).
    virtual void AddContextParameters(TElRelativeDistinguishedName& params) const;
    // False when the handler cancelled.
    bool DoProgress(int64_t total, int64_t processed);

    int32_t algorithm_ = SB_ALG_UNKNOWN;

private:
    void Initialize(bool encrypt);
    void ReleaseContext();
    TElCustomCryptoKey* ProviderKey() const;

    TElSymmetricKeyMaterial* keyMaterial_ = nullptr;
    TElCustomCryptoProvider* provider_ = nullptr;
    ByteString algorithmOID_;
    uint8_t mode_ = 0;
    TElCustomCryptoContext* context_ = nullptr;
    uint8_t padding_ = SB_SYMENC_PADDING_PKCS5;
};

// The fixed-algorithm facades used by the SSL 2.0 ciphers: Create (mode, provider) and
// CreateDefault (mode 0, the default provider).
class TElIDEASymmetricCrypto final : public TElSymmetricCrypto {
public:
    // The provider must support IDEA in the mode, else "Unsupported algorithm %d" naming 28692.
    static std::unique_ptr<TElIDEASymmetricCrypto> Create(uint8_t mode = 0, TElCustomCryptoProvider* provider = nullptr);
    static std::unique_ptr<TElIDEASymmetricCrypto> CreateDefault() { return Create(0, nullptr); }

private:
    using TElSymmetricCrypto::TElSymmetricCrypto;
};

class TElRC2SymmetricCrypto final : public TElSymmetricCrypto {
public:
    static std::unique_ptr<TElRC2SymmetricCrypto> Create(uint8_t mode = 0, TElCustomCryptoProvider* provider = nullptr);
    static std::unique_ptr<TElRC2SymmetricCrypto> CreateDefault() { return Create(0, nullptr); }

private:
    using TElSymmetricCrypto::TElSymmetricCrypto;
};

// RC4 runs in mode 0 whatever it is given. A skip count above 0 makes every new message
// discard that many keystream bytes after the key set-up (skip-keystream-bytes).
class TElRC4SymmetricCrypto final : public TElSymmetricCrypto {
public:
    static std::unique_ptr<TElRC4SymmetricCrypto> Create(uint8_t mode = 0, TElCustomCryptoProvider* provider = nullptr);
    static std::unique_ptr<TElRC4SymmetricCrypto> CreateDefault() { return Create(0, nullptr); }

    int32_t GetSkipKeystreamBytes() const { return skip_; }
    void SetSkipKeystreamBytes(int32_t count) { skip_ = count; }

protected:
    void SetDefaults() override;
    void AddContextParameters(TElRelativeDistinguishedName& params) const override;

private:
    using TElSymmetricCrypto::TElSymmetricCrypto;
    int32_t skip_ = 0;
};

class TElDESSymmetricCrypto final : public TElSymmetricCrypto {
public:
    static std::unique_ptr<TElDESSymmetricCrypto> Create(uint8_t mode = 0, TElCustomCryptoProvider* provider = nullptr);
    static std::unique_ptr<TElDESSymmetricCrypto> CreateDefault() { return Create(0, nullptr); }

private:
    using TElSymmetricCrypto::TElSymmetricCrypto;
};

class TEl3DESSymmetricCrypto final : public TElSymmetricCrypto {
public:
    static std::unique_ptr<TEl3DESSymmetricCrypto> Create(uint8_t mode = 0, TElCustomCryptoProvider* provider = nullptr);
    static std::unique_ptr<TEl3DESSymmetricCrypto> CreateDefault() { return Create(0, nullptr); }

private:
    using TElSymmetricCrypto::TElSymmetricCrypto;
};

// Makes a TElSymmetricCrypto for an algorithm code; always on the default provider.
class TElSymmetricCryptoFactory final {
public:
    TElSymmetricCryptoFactory() = default;
    // Null when the provider lacks the algorithm in that mode. The caller owns the result.
    std::unique_ptr<TElSymmetricCrypto> CreateInstance(int32_t algorithm, uint8_t mode = 0) const;
};
