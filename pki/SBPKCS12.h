// pki/SBPKCS12.h: PKCS#12 (PFX) files (RFC 7292): certificates with their private keys under a
// password, and the PKCS#12 key derivation of RFC 7292 appendix B.2 that protects them.
//
// Reading fills an owned memory storage with the certificates and keeps the private keys of
// the key bags in the order met, each attached to the certificates whose public key it
// completes; writing takes a storage of certificates and produces a version 3 PFX: per
// certificate a shrouded key bag (when it has a private key) and an encrypted certificate
// safe, and an HMAC-SHA1 integrity MAC over the whole.
//
// What must stay true:
// - bad input is a result code of the SB_PKCS12_ERROR_* family (0 success), never an
//   exception: a certificate that does not load is a malformed certificate bag;
// - every count, length and salt comes from a file anyone can write: an iteration count above
//   MaxIterationCount is refused before any digest runs; padding is checked whole (1 to 8
//   bytes, all equal) and the MAC compared in constant time;
// - a key is attached only to a certificate whose public key it completes (a DSA x, bare or
//   with its parameters, only where g^x mod p is the certificate's y);
// - the password, its BMPString form, derived keys and decrypted key bags live in wiped
//   buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "crypto/base/SBUtils.h"
#include "pki/SBCustomCertStorage.h"
#include "rtl/SecureBytes.h"

inline constexpr int32_t SB_PKCS12_ERROR_INVALID_ASN_DATA = 0x1F01;
inline constexpr int32_t SB_PKCS12_ERROR_NO_DATA = 0x1F02;
inline constexpr int32_t SB_PKCS12_ERROR_INVALID_DATA = 0x1F03;
inline constexpr int32_t SB_PKCS12_ERROR_INVALID_VERSION = 0x1F04;
inline constexpr int32_t SB_PKCS12_ERROR_INVALID_CONTENT = 0x1F05;
inline constexpr int32_t SB_PKCS12_ERROR_INVALID_AUTHENTICATED_SAFE_DATA = 0x1F06;
inline constexpr int32_t SB_PKCS12_ERROR_INVALID_MAC_DATA = 0x1F07;
inline constexpr int32_t SB_PKCS12_ERROR_INVALID_SAFE_CONTENTS = 0x1F08;
inline constexpr int32_t SB_PKCS12_ERROR_INVALID_SAFE_BAG = 0x1F09;
inline constexpr int32_t SB_PKCS12_ERROR_INVALID_SHROUDED_KEY_BAG = 0x1F0A;
inline constexpr int32_t SB_PKCS12_ERROR_UNSUPPORTED_PBE_ALGORITHM = 0x1F0B;
inline constexpr int32_t SB_PKCS12_ERROR_INTERNAL_ERROR = 0x1F0C;
inline constexpr int32_t SB_PKCS12_ERROR_INVALID_PBE_ALGORITHM_PARAMS = 0x1F0D;
inline constexpr int32_t SB_PKCS12_ERROR_INVALID_CERT_BAG = 0x1F0E;
inline constexpr int32_t SB_PKCS12_ERROR_UNSUPPORTED_CERTIFICATE_TYPE = 0x1F0F;
inline constexpr int32_t SB_PKCS12_ERROR_INVALID_PRIVATE_KEY = 0x1F10;
inline constexpr int32_t SB_PKCS12_ERROR_INVALID_MAC = 0x1F11;
inline constexpr int32_t SB_PKCS12_ERROR_NO_CERTIFICATES = 0x1F12;
inline constexpr int32_t SB_PKCS12_ERROR_INVALID_PASSWORD = 0x1F13;
inline constexpr int32_t SB_PKCS12_ERROR_BUFFER_TOO_SMALL = 0x1F14;

// The password as PKCS#12 hashes it (RFC 7292 B.1): the text converted from the system code
// page to UTF-16, each unit big-endian (a BMPString), and two zero bytes at the end. An empty
// password gives no bytes at all.
rtl::SecureBytes PKCS12PasswordToBMP(std::string_view password);

// RFC 7292 B.2 with v = the digest's block size: n bytes for the purpose id (1 key, 2 IV,
// 3 MAC key) from the password, the salt and iterations digest runs (0 and 1 both run it
// once). Digests: SHA-1 (0x7101), MD5 (0x7102), SHA-256, SHA-384 and SHA-512; any other gives
// an empty result.
rtl::SecureBytes DerivePKCS12Key(std::string_view password, std::string_view salt, int32_t id, int32_t n,
                                 int32_t iterations, int32_t digest);
// The same from a password already in its BMPString form (as PKCS12PasswordToBMP gives it, or
// the two zero bytes other tools hash for an empty password).
rtl::SecureBytes DerivePKCS12KeyFromBMP(std::string_view bmpPassword, std::string_view salt, int32_t id,
                                        int32_t n, int32_t iterations, int32_t digest);

class TElPKCS12Message final {
public:
    // Ten million digest runs per derived key: far over what tools write (2048 by default) and
    // still a bounded cost for a hostile file.
    static constexpr uint32_t MaxIterationCount = 10'000'000;

    TElPKCS12Message();
    ~TElPKCS12Message();
    TElPKCS12Message(const TElPKCS12Message&) = delete;
    TElPKCS12Message& operator=(const TElPKCS12Message&) = delete;

    // Text in the system code page.
    void SetPassword(std::string_view password);

    // Empties the storage and the key list first; what was read before a failure stays. An
    // empty password is tried as no bytes and then, when that fails, as the empty BMPString
    // other tools hash. Once every bag was read and the MAC holds, each certificate receives
    // the key FindKeyFor gives it (0x1F10 when the certificate's key material refuses it).
    int32_t LoadFromBuffer(const void* buffer, size_t size);
    // 0x1F14 with the size needed when the buffer is null or too small; 0x1F0C for an
    // IterationCount outside 0 .. MaxIterationCount, or a private key its material does not
    // export. Every call draws new salts. A certificate
    // with a private key (other than Diffie-Hellman) gets a shrouded key bag before its
    // certificate safe, both with the same localKeyId; RSA and DSA keys have a PKCS#8 form here,
    // any other gives 0x1F0F.
    int32_t SaveToBuffer(void* buffer, size_t& size);

    TElMemoryCertStorage& GetCertStorage() { return *storage_; }
    // The privateKey octets of every key bag read, in the order met.
    int32_t KeyCount() const { return int32_t(keys_.size()); }
    const rtl::SecureBytes& GetKey(int32_t index) const { return keys_.at(size_t(index)); }

    // The key of the list that completes the certificate's public key, as the certificate
    // takes it (a PKCS#1 RSAPrivateKey, or the DSA SEQUENCE { 0, p, q, g, y, x }); -1 when none.
    int32_t FindKeyFor(const TElX509Certificate& certificate, rtl::SecureBytes& blob) const;

    // Replaced by the MacData count when reading (1 when it has none); the count of every
    // parameter block and of the MAC when writing.
    int32_t IterationCount = 0;
    // PBE codes (0x7201 .. 0x7205) used when writing key bags and certificate safes.
    int32_t KeyBagAlgorithm = 0;
    int32_t SafeAlgorithm = 0;

    // As read from MacData.
    const ByteString& GetMacDigestAlgorithm() const { return macAlgorithm_; }
    const ByteString& GetMac() const { return mac_; }
    const ByteString& GetMacSalt() const { return macSalt_; }

private:
    struct Reader;
    struct Writer;
    int32_t Load(const void* buffer, size_t size, std::string_view bmpPassword);
    int32_t AttachKeys();

    std::vector<rtl::SecureBytes> keys_;
    ByteString macAlgorithm_;
    ByteString macAlgorithmParams_;
    ByteString mac_;
    ByteString macSalt_;
    rtl::SecureBytes password_;
    std::unique_ptr<TElMemoryCertStorage> storage_;
    uint32_t localKeyId_ = 0;
};
