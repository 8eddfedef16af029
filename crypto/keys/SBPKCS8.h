// crypto/keys/SBPKCS8.h: one private key in the PKCS#8 container (RFC 5208): the plain
// PrivateKeyInfo, the EncryptedPrivateKeyInfo, and TElPKCS8PrivateKey, which owns one of each
// and decides between them. The RSA and DSA key materials load a secret key through it (DER or
// PEM, encrypted or not) and save one, encrypted when a passphrase is given.
//
// Readers report bad input as result codes (the SB_PKCS8_ERROR_* family, 0 success) and raise
// nothing for it; a failed read leaves what it had filled before the failure. The key
// algorithm and its parameters are kept as they were read and interpreted by the callers.
//
// What must stay true: private-key octets, decrypted plaintext and passphrases live in buffers
// that are wiped when they are given back (the trees that held them are wiped before they go).
// RC4 keyed by the MD5 of the passphrase, with no salt, gives one keystream for every key saved
// under that passphrase: such keys are still read, never written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "crypto/base/SBUtils.h"
#include "rtl/SecureBytes.h"

class TElASN1ConstrainedTag;

inline constexpr int32_t SB_PKCS8_ERROR_INVALID_ASN_DATA = 0x2301;
inline constexpr int32_t SB_PKCS8_ERROR_INVALID_FORMAT = 0x2302;
inline constexpr int32_t SB_PKCS8_ERROR_UNSUPPORTED_ALGORITHM = 0x2303;
inline constexpr int32_t SB_PKCS8_ERROR_INVALID_PASSWORD = 0x2304;
inline constexpr int32_t SB_PKCS8_ERROR_INVALID_VERSION = 0x2305;
inline constexpr int32_t SB_PKCS8_ERROR_INVALID_PARAMETER = 0x2306;
inline constexpr int32_t SB_PKCS8_ERROR_INTERNAL_ERROR = 0x2307;
inline constexpr int32_t SB_PKCS8_ERROR_BUFFER_TOO_SMALL = 0x2308;

// PrivateKeyInfo ::= SEQUENCE { version INTEGER (0), privateKeyAlgorithm AlgorithmIdentifier,
// privateKey OCTET STRING, attributes [0] IMPLICIT Attributes OPTIONAL } (RFC 5208 5). The
// attributes are accepted and not kept.
class TElPKCS8PrivateKeyInfo final {
public:
    TElPKCS8PrivateKeyInfo() = default;
    ~TElPKCS8PrivateKeyInfo();
    TElPKCS8PrivateKeyInfo(const TElPKCS8PrivateKeyInfo&) = delete;
    TElPKCS8PrivateKeyInfo& operator=(const TElPKCS8PrivateKeyInfo&) = delete;

    // Empties the three fields (the key octets are wiped).
    void Clear();
    // 0, or 0x2301 (not ASN.1), 0x2302 (structure), 0x2305 (version), 0x1E0E (algorithm).
    int32_t LoadFromBuffer(const void* data, size_t size);
    // The DER; false with the size needed when the buffer is null or too small.
    bool SaveToBuffer(void* buffer, size_t& size) const;

    // The OID's content octets; the parameters as one DER element (empty: written as NULL);
    // the algorithm's own key encoding (a PKCS#1 RSAPrivateKey, a DSA INTEGER x).
    ByteString KeyAlgorithm;
    ByteString KeyAlgorithmParams;
    ByteString PrivateKey;
};

// EncryptedPrivateKeyInfo ::= SEQUENCE { encryptionAlgorithm AlgorithmIdentifier,
// encryptedData OCTET STRING } (RFC 5208 6).
class TElPKCS8EncryptedPrivateKeyInfo final {
public:
    TElPKCS8EncryptedPrivateKeyInfo() = default;

    // 0x2301 when not ASN.1, 0x2302 unless exactly one constructed SEQUENCE; then ReadFromTag.
    int32_t LoadFromBuffer(const void* data, size_t size);
    // Exactly a constructed SEQUENCE (the AlgorithmIdentifier) and a primitive OCTET STRING,
    // else 0x2302; a malformed AlgorithmIdentifier gives its own code.
    int32_t ReadFromTag(const TElASN1ConstrainedTag& tag);
    bool SaveToBuffer(void* buffer, size_t& size) const;
    // The tag becomes the SEQUENCE.
    void WriteToTag(TElASN1ConstrainedTag& tag) const;

    ByteString EncryptionAlgorithm;
    ByteString EncryptionAlgorithmParams;
    ByteString EncryptedData;
};

// One private key, plain or encrypted, DER or PEM. Loading sets CipherAlgorithm (and UsePBES2)
// to what was found: 0xFFFF until the load learns more, 0x700A for a plain key, 0x7001 for RC4
// under the MD5 of the passphrase, 0x7002/0x7003/0x7004 for DES, triple DES or RC2 under
// PKCS#5. A caller sets both before SaveToBuffer to choose the encryption of a saved key.
class TElPKCS8PrivateKey final {
public:
    TElPKCS8PrivateKey() = default;
    TElPKCS8PrivateKey(const TElPKCS8PrivateKey&) = delete;
    TElPKCS8PrivateKey& operator=(const TElPKCS8PrivateKey&) = delete;

    // The PrivateKeyInfo's fields; the setters never touch the encrypted form.
    const ByteString& GetPrivateKeyBlob() const { return keyInfo_.PrivateKey; }
    void SetPrivateKeyBlob(std::string_view blob);
    const ByteString& GetKeyAlgorithm() const { return keyInfo_.KeyAlgorithm; }
    void SetKeyAlgorithm(std::string_view oid) { keyInfo_.KeyAlgorithm = ByteString(oid); }
    const ByteString& GetKeyAlgorithmParams() const { return keyInfo_.KeyAlgorithmParams; }
    void SetKeyAlgorithmParams(std::string_view params) { keyInfo_.KeyAlgorithmParams = ByteString(params); }

    // PEM (of any header word) or DER; a PrivateKeyInfo, else an EncryptedPrivateKeyInfo
    // decrypted with the passphrase. 0, a PKCS#8 code (0x2304 for a wrong passphrase that shows
    // as plaintext that is not ASN.1), a PrivateKeyInfo or AlgorithmIdentifier code, or a PEM
    // code (0x1D02, 0x1D03, 0x1D04) passed through.
    int32_t LoadFromBuffer(const void* data, size_t size, std::string_view passphrase);
    // With a passphrase an EncryptedPrivateKeyInfo (a fresh salt and IV every time), without one
    // a PrivateKeyInfo; armoured as "ENCRYPTED PRIVATE KEY" or "PRIVATE KEY" with pem. size is
    // the room on entry and the size needed on return; 0x2308 when the room is too small (a
    // null buffer included), 0x2303 without a key algorithm or for an encryption that cannot be
    // made (RC4 among them).
    int32_t SaveToBuffer(void* buffer, size_t& size, bool pem, std::string_view passphrase);
    // What SaveToBuffer writes, made once into out (wiped memory) without a size question:
    // an encrypted save derives its key and draws its salt and IV once. The same codes but
    // 0x2308; out is untouched on a failure.
    int32_t SaveToBytes(rtl::SecureBytes& out, bool pem, std::string_view passphrase);

    int32_t CipherAlgorithm = 0;
    bool UsePBES2 = false;

    TElPKCS8PrivateKeyInfo& GetKeyInfo() { return keyInfo_; }
    TElPKCS8EncryptedPrivateKeyInfo& GetEncryptedKeyInfo() { return encryptedKeyInfo_; }

private:
    int32_t DecryptKeyInfo(std::string_view passphrase);

    TElPKCS8PrivateKeyInfo keyInfo_;
    TElPKCS8EncryptedPrivateKeyInfo encryptedKeyInfo_;
};
