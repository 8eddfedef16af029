// crypto/keys/SBPKCS5.h: password-based encryption by the schemes of PKCS#5 (RFC 8018): PBES1 with
// PBKDF1 (DES or RC2 under MD2, MD5 or SHA-1) and PBES2 with PBKDF2 over HMAC-SHA1 (DES,
// triple DES or RC2). The PKCS#8 private-key container is its user: it builds one object from
// the AlgorithmIdentifier of an EncryptedPrivateKeyInfo and decrypts, or makes a fresh one for
// a cipher and encrypts.
//
// One TElPKCS5PBE holds one scheme with all its parameters, and their DER form as the scheme's
// AlgorithmIdentifier parameters. It never changes after construction: an operation derives
// the key afresh from the password each time, and a failed operation leaves nothing behind.
//
// What must stay true: parameters come from files anyone can write, so an iteration count is
// refused above MaxIterationCount (a count of 2^31 would be that many digest runs per key) or
// below 1; a salt or IV never sizes anything but itself. Derived keys live in wiped buffers.
// Failures raise the EElPKCS5Error family, except the cipher layer's own (a too small output,
// a bad padding after decryption), which pass through unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "crypto/base/SBUtils.h"
#include "rtl/SecureBytes.h"

RTL_EXCEPTION(EElPKCS5Error, rtl::Exception);
RTL_EXCEPTION(EElPKCS5UnsupportedError, EElPKCS5Error);
RTL_EXCEPTION(EElPKCS5InternalError, EElPKCS5Error);
RTL_EXCEPTION(EElPKCS5InvalidParameterError, EElPKCS5Error);
// Declared for callers that map it; nothing here raises it (a wrong password shows as a bad
// padding or as plaintext that does not parse).
RTL_EXCEPTION(EElPKCS5InvalidPasswordError, EElPKCS5Error);

inline constexpr const char* SPKCS5UnsupportedAlgorithm = "Unsupported algorithm: %s";
inline constexpr const char* SPKCS5InvalidParameters = "Invalid parameters";
inline constexpr const char* SPKCS5DigestTooShort = "Digest too short";
inline constexpr const char* SPKCS5InvalidSaltOrCount = "Invalid salt or iteration count";
inline constexpr const char* SPKCS5InternalError = "Internal error";

class TElPKCS5PBE final {
public:
    // Ten million digest runs per derived key: well over what any tool writes (OpenSSL and
    // browsers use 2048 to a few hundred thousand) and still a bounded cost for a hostile file.
    static constexpr uint32_t MaxIterationCount = 10'000'000;
    // What CreateForCipher writes into new parameters.
    static constexpr int32_t DefaultIterationCount = 2048;
    static constexpr size_t SaltSize = 8;

    // The object for data whose AlgorithmIdentifier was read: the OID must be one of the seven
    // schemes (IsAlgorithmSupported), the parameters their complete DER element.
    TElPKCS5PBE(std::string_view algorithmOID, std::string_view parameters);
    // The object for new encryption with fresh salt (and, for PBES2, IV): DES or RC2 under
    // PBES1 (SHA-1), DES, triple DES or RC2 under PBES2 (HMAC-SHA1). digest is not consulted.
    static std::unique_ptr<TElPKCS5PBE> CreateForCipher(int32_t cipher, bool pbes2, int32_t digest);
    ~TElPKCS5PBE();
    TElPKCS5PBE(const TElPKCS5PBE&) = delete;
    TElPKCS5PBE& operator=(const TElPKCS5PBE&) = delete;

    // Whether the OID is one of the seven schemes this object knows (exact octets).
    static bool IsAlgorithmSupported(std::string_view oid);

    // One-shot, with a size protocol: a null output or an outputSize of 0 computes nothing and
    // answers the input size (Decrypt) or the input size + 32 (Encrypt). Otherwise outputSize
    // is the room and becomes the count written.
    void Decrypt(const void* input, size_t inputSize, std::string_view password, size_t& outputSize,
                 void* output) const;
    void Encrypt(const void* input, size_t inputSize, std::string_view password, size_t& outputSize,
                 void* output) const;

    int32_t CipherAlgorithm() const { return cipher_; }
    // 0 PBES1, 1 PBES2.
    uint8_t SchemeVersion() const { return version_; }
    const ByteString& SchemeOID() const { return schemeOID_; }
    const ByteString& SchemeParams() const { return schemeParams_; }
    int32_t IterationCount() const { return iterations_; }
    const ByteString& Salt() const { return salt_; }
    // PBES2: the key length the encryption scheme asks for, and its IV.
    int32_t KeyLength() const { return keyLength_; }
    const ByteString& IV() const { return iv_; }

    // The key derivation functions (RFC 8018 5.1 and 5.2), for the schemes above and their
    // tests. PBKDF1 runs the digest (0x7103 MD2, 0x7102 MD5, 0x7101 SHA-1) and needs an 8-byte
    // salt; PBKDF2 runs HMAC-SHA1 (0x7301). Both refuse counts outside 1..MaxIterationCount.
    static rtl::SecureBytes PBKDF1(int32_t digest, std::string_view password, std::string_view salt,
                                   int32_t iterations, size_t length);
    static rtl::SecureBytes PBKDF2(int32_t prf, std::string_view password, std::string_view salt,
                                   int32_t iterations, size_t length);

private:
    TElPKCS5PBE() = default;
    void ReadPBES1Parameters(std::string_view parameters);
    void ReadPBES2Parameters(std::string_view parameters);
    void ReadPBKDF2Parameters(std::string_view parameters);
    void ReadEncryptionScheme(std::string_view oid, std::string_view parameters);
    ByteString WritePBES1Parameters() const;
    ByteString WritePBES2Parameters() const;
    rtl::SecureBytes DeriveKey(std::string_view password, rtl::SecureBytes& iv) const;
    void Run(bool encrypt, const void* input, size_t inputSize, std::string_view password, size_t& outputSize,
             void* output) const;

    int32_t cipher_ = 0;
    int32_t keyLength_ = 0;
    int32_t iterations_ = 0;
    ByteString salt_;
    int32_t kdf_ = 0;
    int32_t prf_ = 0;
    int32_t prfSize_ = 0;
    int32_t digest_ = 0;
    int32_t index_ = -1;
    ByteString iv_;
    ByteString schemeOID_;
    ByteString schemeParams_;
    ByteString cipherOID_;
    uint8_t version_ = 0;
};
