// crypto/builtin/SBCryptoProvBuiltInSym_key.cpp: the built-in symmetric key and its key blob.
#include <cstring>

#include "crypto/builtin/SBCryptoProvBuiltInSym.h"
#include "crypto/hash/SBSHA2.h"
#include "crypto/math/SBRandom.h"
#include "crypto/prov/SBCryptoProvRS.h"
#include "crypto/prov/SBCryptoProvUtils.h"
#include "rtl/Bytes.h"

using SBCryptoProvBuiltInSym::EElSymmetricCryptoError;

namespace {

// The lengths a blob must respect, by its algorithm code: key length, and the IV lengths it
// may carry besides none.
struct BlobRule {
    int32_t Code;
    size_t MinKey;
    size_t MaxKey;
    size_t IV;  // 0: no IV allowed
};

constexpr BlobRule kBlobRules[] = {
    {SB_ALG_RC4, 1, 32, 0},       {SB_ALG_DES, 8, 8, 8},          {SB_ALG_3DES, 24, 24, 8},
    {SB_ALG_RC2, 1, 16, 8},       {SB_ALG_AES128, 16, 16, 16},    {SB_ALG_AES192, 24, 24, 16},
    {SB_ALG_AES256, 32, 32, 16},  {SB_ALG_BLOWFISH, 4, 56, 8},    {SB_ALG_TWOFISH, 16, 32, 16},
    {SB_ALG_CAMELLIA, 16, 32, 16}, {SB_ALG_CAST128, 16, 16, 8},   {SB_ALG_IDEA, 16, 16, 8},
    {SB_ALG_SERPENT, 16, 32, 16},
};

// Any other code (SEED, Rabbit, the Twofish, Camellia and Serpent codes of one key size, the
// generic code, ...) takes keys of 1 to 56 bytes and an IV of either block size, so every key
// the provider makes exports a blob it can import again; the identity cipher's key may also be
// empty.
bool LengthsAllowed(int32_t code, size_t keyLength, size_t ivLength) {
    for (const BlobRule& r : kBlobRules) {
        if (r.Code == code)
            return keyLength >= r.MinKey && keyLength <= r.MaxKey && (ivLength == 0 || ivLength == r.IV);
    }
    const size_t minKey = code == SB_ALG_IDENTITY ? 0 : 1;
    return keyLength >= minKey && keyLength <= 56 && (ivLength == 0 || ivLength == 8 || ivLength == 16);
}

[[noreturn]] void BadKey() {
    throw EElSymmetricCryptoError(SInvalidKeyMaterial);
}

}  // namespace

TElBuiltInSymmetricCryptoKey::TElBuiltInSymmetricCryptoKey(TElCustomCryptoProvider* provider)
    : TElBuiltInCryptoKey(provider) {}

std::unique_ptr<TElBuiltInSymmetricCryptoKey> TElBuiltInSymmetricCryptoKey::CreateByOID(
    TElCustomCryptoProvider* provider, std::string_view algParams, std::string_view algOID) {
    auto key = std::make_unique<TElBuiltInSymmetricCryptoKey>(provider);
    key->algorithm_ = GetAlgorithmByOID(algOID, false);
    int32_t bits = 0;
    ByteString iv;
    if (ReadCipherParameters(algOID, algParams, bits, iv)) {
        key->iv_.assign(iv.begin(), iv.end());
        // RFC 2268's effective key bits travel with the key: without them RC2 data encrypted
        // with fewer bits would decrypt to garbage.
        if (key->algorithm_ == SB_ALG_RC2 && bits > 0) key->effectiveKeyBits_ = bits;
    }
    return key;
}

int32_t TElBuiltInSymmetricCryptoKey::GetBits() const {
    return int32_t(value_.size() * 8);
}

void TElBuiltInSymmetricCryptoKey::Reset() {
    mode_ = 0;
    iv_.clear();
    value_.clear();
}

void TElBuiltInSymmetricCryptoKey::Generate(int32_t bits, const TElRelativeDistinguishedName*, const TSBProgressFunc&,
                                            void*) {
    if (bits < 0 || bits % 8 != 0) throw EElSymmetricCryptoError(SInvalidInputSize);
    rtl::SecureBytes fresh(size_t(bits) / 8);
    if (!fresh.empty()) GenerateRandomBytes(fresh.data(), fresh.size());
    value_.swap(fresh);
}

void TElBuiltInSymmetricCryptoKey::GenerateIV(int32_t bits) {
    if (bits < 0 || bits % 8 != 0) throw EElSymmetricCryptoError(SInvalidInputSize);
    rtl::SecureBytes fresh(size_t(bits) / 8);
    if (!fresh.empty()) GenerateRandomBytes(fresh.data(), fresh.size());
    iv_.swap(fresh);
}

void TElBuiltInSymmetricCryptoKey::ReadBlob(const void* buffer, size_t size) {
    const auto* p = static_cast<const uint8_t*>(buffer);
    if (p == nullptr || size < BlobOverhead) BadKey();
    const int32_t code = rtl::load_be16(p);
    const size_t k = rtl::load_be16(p + 2);
    if (size < k + BlobOverhead) BadKey();
    const size_t i = rtl::load_be16(p + 4 + k);
    if (!LengthsAllowed(code, k, i) || size < k + i + BlobOverhead) BadKey();
    SHA256Digest digest;
    HashSHA256(p, 6 + k + i, digest);
    if (!rtl::ct_equal(digest.data(), p + 6 + k + i, digest.size())) BadKey();
    algorithm_ = code;
    value_.assign(p + 4, p + 4 + k);
    iv_.assign(p + 6 + k, p + 6 + k + i);
}

void TElBuiltInSymmetricCryptoKey::WriteBlob(void* buffer, size_t& size) const {
    // Lengths are 16-bit fields: a longer value or IV has no blob.
    if (value_.size() > 0xFFFF || iv_.size() > 0xFFFF) BadKey();
    const size_t needed = value_.size() + iv_.size() + BlobOverhead;
    if (buffer == nullptr || size == 0) {
        size = needed;
        return;
    }
    if (size < needed) throw EElSymmetricCryptoError(SBufferTooSmall);
    auto* p = static_cast<uint8_t*>(buffer);
    const size_t k = value_.size(), i = iv_.size();
    rtl::store_be16(p, uint16_t(algorithm_));
    rtl::store_be16(p + 2, uint16_t(k));
    if (k != 0) std::memcpy(p + 4, value_.data(), k);
    rtl::store_be16(p + 4 + k, uint16_t(i));
    if (i != 0) std::memcpy(p + 6 + k, iv_.data(), i);
    SHA256Digest digest;
    HashSHA256(p, 6 + k + i, digest);
    std::memcpy(p + 6 + k + i, digest.data(), digest.size());
    size = needed;
}

void TElBuiltInSymmetricCryptoKey::ImportPublic(const void* buffer, size_t size, const TElRelativeDistinguishedName*) {
    ReadBlob(buffer, size);
}

void TElBuiltInSymmetricCryptoKey::ImportSecret(const void* buffer, size_t size, const TElRelativeDistinguishedName*) {
    ReadBlob(buffer, size);
}

void TElBuiltInSymmetricCryptoKey::ExportPublic(void* buffer, size_t& size, const TElRelativeDistinguishedName*) const {
    WriteBlob(buffer, size);
}

void TElBuiltInSymmetricCryptoKey::ExportSecret(void* buffer, size_t& size, const TElRelativeDistinguishedName*) const {
    WriteBlob(buffer, size);
}

std::unique_ptr<TElCustomCryptoKey> TElBuiltInSymmetricCryptoKey::Clone(const TElRelativeDistinguishedName*) const {
    if (dynamic_cast<TElBuiltInCryptoProvider*>(GetCryptoProvider()) == nullptr)
        throw EElBuiltInCryptoProviderError(SUnsupportedCryptoProvider);
    auto copy = std::make_unique<TElBuiltInSymmetricCryptoKey>(GetCryptoProvider());
    copy->mode_ = mode_;
    copy->iv_ = iv_;
    copy->value_ = value_;
    copy->algorithm_ = algorithm_;
    copy->effectiveKeyBits_ = effectiveKeyBits_;
    return copy;
}

std::unique_ptr<TElCustomCryptoKey> TElBuiltInSymmetricCryptoKey::ClonePublic(
    const TElRelativeDistinguishedName* params) const {
    return Clone(params);
}

ByteString TElBuiltInSymmetricCryptoKey::GetKeyProp(std::string_view propId, std::string_view) const {
    if (propId == SB_KEYPROP_EFFECTIVE_KEY_LENGTH && effectiveKeyBits_ > 0)
        return IntegerToPropertyValue(effectiveKeyBits_);
    return ByteString();
}

void TElBuiltInSymmetricCryptoKey::SetKeyProp(std::string_view propId, std::string_view value) {
    if (propId == SB_KEYPROP_EFFECTIVE_KEY_LENGTH) {
        const int32_t bits = PropertyValueToInteger(value, 0);
        effectiveKeyBits_ = bits > 0 && bits <= 1024 ? bits : 0;
    }
}
