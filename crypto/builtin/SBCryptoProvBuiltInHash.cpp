// crypto/builtin/SBCryptoProvBuiltInHash.cpp: digests by code, HMAC (RFC 2104) over them, and the
// HMAC key.
#include "crypto/builtin/SBCryptoProvBuiltInHash.h"

#include <cstring>

#include "crypto/base/SBConstants.h"
#include "crypto/math/SBRandom.h"
#include "crypto/prov/SBCryptoProvRS.h"
#include "rtl/Bytes.h"
#include "rtl/Format.h"

using SBCryptoProvBuiltInHash::EElHashFunctionError;
using SBCryptoProvBuiltInHash::EElHashFunctionUnsupportedError;

namespace {

[[noreturn]] void Unsupported(int32_t algorithm) {
    throw EElHashFunctionUnsupportedError(rtl::Format(SUnsupportedAlgorithmInt, algorithm));
}

// The digest under an HMAC code, and the block that HMAC pads to (RFC 2104, section 2; SHA-384
// and SHA-512 work on 128-byte blocks, RFC 4231 section 2). 0 for a code that is no HMAC here.
int32_t DigestOfHMAC(int32_t algorithm, size_t& blockSize) {
    blockSize = 64;
    switch (algorithm) {
        case SB_ALG_HMAC_SHA1:
            return SB_ALG_SHA1;
        case SB_ALG_HMAC_SHA224:
            return SB_ALG_SHA224;
        case SB_ALG_HMAC_SHA256:
            return SB_ALG_SHA256;
        case SB_ALG_HMAC_SHA384:
            blockSize = 128;
            return SB_ALG_SHA384;
        case SB_ALG_HMAC_SHA512:
            blockSize = 128;
            return SB_ALG_SHA512;
        case SB_ALG_HMAC_MD5:
            return SB_ALG_MD5;
        case SB_ALG_HMAC_RIPEMD160:
            return SB_ALG_RIPEMD160;
        default:
            return 0;
    }
}

template <size_t N>
rtl::SecureBytes ToSecure(const std::array<uint8_t, N>& digest) {
    return rtl::SecureBytes(digest.begin(), digest.end());
}

}  // namespace

TElBuiltInHashFunction::TElBuiltInHashFunction(int32_t algorithm, TElCustomCryptoKey* key)
    : algorithm_(algorithm), digest_(algorithm), key_(key) {}

TElBuiltInHashFunction::~TElBuiltInHashFunction() = default;  // the contexts and key copy wipe themselves

std::unique_ptr<TElBuiltInHashFunction> TElBuiltInHashFunction::CreateByAlgorithm(int32_t algorithm,
                                                                                  TElCustomCryptoKey* key) {
    if (!IsAlgorithmSupported(algorithm)) Unsupported(algorithm);
    std::unique_ptr<TElBuiltInHashFunction> h(new TElBuiltInHashFunction(algorithm, key));
    h->hmac_ = IsMACAlgorithm(algorithm);
    h->Reset();
    return h;
}

std::unique_ptr<TElBuiltInHashFunction> TElBuiltInHashFunction::CreateByOID(std::string_view digestOID,
                                                                            TElCustomCryptoKey* key) {
    return CreateByAlgorithm(GetHashAlgorithmByOID(digestOID), key);
}

bool TElBuiltInHashFunction::IsAlgorithmSupported(int32_t algorithm) {
    return GetDigestSize(algorithm) > 0;
}

int32_t TElBuiltInHashFunction::GetDigestSize(int32_t algorithm) {
    const int32_t bits = GetDigestSizeBits(algorithm);
    if (bits < 0) Unsupported(algorithm);
    return bits;
}

void TElBuiltInHashFunction::StartDigest() {
    switch (digest_) {
        case SB_ALG_SHA1:
            InitSHA1Context(sha1_);
            return;
        case SB_ALG_MD5:
            InitMD5Context(md5_);
            return;
        case SB_ALG_MD2:
            MD2Init(md2_);
            return;
        case SB_ALG_SHA256:
            InitSHA256Context(sha256_);
            return;
        case SB_ALG_SHA224:
            InitSHA224Context(sha256_);
            return;
        case SB_ALG_SHA384:
            InitSHA384Context(sha512_);
            return;
        case SB_ALG_SHA512:
            InitSHA512Context(sha512_);
            return;
        case SB_ALG_RIPEMD160:
            InitRIPEMD160Context(ripemd160_);
            return;
        default:
            Unsupported(algorithm_);
    }
}

void TElBuiltInHashFunction::FeedDigest(const void* data, size_t size) {
    switch (digest_) {
        case SB_ALG_SHA1:
            return UpdateSHA1Context(sha1_, data, size);
        case SB_ALG_MD5:
            return UpdateMD5Context(md5_, data, size);
        case SB_ALG_MD2:
            return MD2Update(md2_, data, size);
        case SB_ALG_SHA256:
            return UpdateSHA256Context(sha256_, data, size);
        case SB_ALG_SHA224:
            return UpdateSHA224Context(sha256_, data, size);
        case SB_ALG_SHA384:
            return UpdateSHA384Context(sha512_, data, size);
        case SB_ALG_SHA512:
            return UpdateSHA512Context(sha512_, data, size);
        case SB_ALG_RIPEMD160:
            return UpdateRIPEMD160Context(ripemd160_, data, size);
        default:
            Unsupported(algorithm_);
    }
}

rtl::SecureBytes TElBuiltInHashFunction::FinishDigest() {
    switch (digest_) {
        case SB_ALG_SHA1: {
            SHA1Digest d;
            FinishSHA1Context(sha1_, d);
            return ToSecure(d);
        }
        case SB_ALG_MD5: {
            MD5Digest d;
            FinishMD5Context(md5_, d);
            return ToSecure(d);
        }
        case SB_ALG_MD2: {
            MD5Digest d;
            MD2Final(md2_, d);
            return ToSecure(d);
        }
        case SB_ALG_SHA256: {
            SHA256Digest d;
            FinishSHA256Context(sha256_, d);
            return ToSecure(d);
        }
        case SB_ALG_SHA224: {
            SHA224Digest d;
            FinishSHA224Context(sha256_, d);
            return ToSecure(d);
        }
        case SB_ALG_SHA384: {
            SHA384Digest d;
            FinishSHA384Context(sha512_, d);
            return ToSecure(d);
        }
        case SB_ALG_SHA512: {
            SHA512Digest d;
            FinishSHA512Context(sha512_, d);
            return ToSecure(d);
        }
        case SB_ALG_RIPEMD160: {
            RIPEMD160Digest d;
            FinishRIPEMD160Context(ripemd160_, d);
            return ToSecure(d);
        }
        default:
            Unsupported(algorithm_);
    }
}

void TElBuiltInHashFunction::Reset() {
    if (hmac_) {
        digest_ = DigestOfHMAC(algorithm_, hmacBlockSize_);
        if (digest_ == 0) Unsupported(algorithm_);
        const auto* macKey = dynamic_cast<const TElBuiltInMACKey*>(key_);
        if (macKey == nullptr) throw EElHashFunctionError(SInvalidKeyMaterial);
        // RFC 2104 section 2: a key longer than the block is replaced by its digest. The
        // shortened key stays here; the key object is only read.
        std::span<const uint8_t> k = macKey->GetValue();
        rtl::SecureBytes shortened;
        if (k.size() > hmacBlockSize_) {
            StartDigest();
            FeedDigest(k.data(), k.size());
            shortened = FinishDigest();
            k = shortened;
        }
        hmacKey_.assign(hmacBlockSize_, 0);
        if (!k.empty()) std::memcpy(hmacKey_.data(), k.data(), k.size());
    }
    StartDigest();
    if (hmac_) {
        uint8_t pad[128];
        for (size_t i = 0; i < hmacBlockSize_; ++i)
            pad[i] = uint8_t(hmacKey_[i] ^ 0x36);
        FeedDigest(pad, hmacBlockSize_);
        rtl::secure_wipe(pad, sizeof pad);
    }
}

void TElBuiltInHashFunction::Update(const void* buffer, size_t size) {
    FeedDigest(buffer, size);
}

ByteString TElBuiltInHashFunction::Finish() {
    rtl::SecureBytes result = FinishDigest();
    if (hmac_) {
        uint8_t pad[128];
        for (size_t i = 0; i < hmacBlockSize_; ++i)
            pad[i] = uint8_t(hmacKey_[i] ^ 0x5C);
        StartDigest();
        FeedDigest(pad, hmacBlockSize_);
        FeedDigest(result.data(), result.size());
        rtl::secure_wipe(pad, sizeof pad);
        result = FinishDigest();
    }
    return ByteString(result.begin(), result.end());
}

std::unique_ptr<TElBuiltInHashFunction> TElBuiltInHashFunction::Clone() const {
    std::unique_ptr<TElBuiltInHashFunction> copy(new TElBuiltInHashFunction(algorithm_, key_));
    copy->digest_ = digest_;
    copy->hmac_ = hmac_;
    copy->hmacBlockSize_ = hmacBlockSize_;
    copy->hmacKey_ = hmacKey_;
    copy->md2_ = md2_;
    copy->md5_ = md5_;
    copy->sha1_ = sha1_;
    copy->sha256_ = sha256_;
    copy->sha512_ = sha512_;
    copy->ripemd160_ = ripemd160_;
    return copy;
}

// ---------------------------------------------------------------------------------------------
// TElBuiltInMACKey

void TElBuiltInMACKey::Generate(int32_t bits, const TElRelativeDistinguishedName*, const TSBProgressFunc&, void*) {
    value_.assign(bits > 0 ? (size_t(bits) + 7) / 8 : 0, 0);
    if (!value_.empty()) GenerateRandomBytes(value_.data(), value_.size());
}

void TElBuiltInMACKey::ImportPublic(const void* buffer, size_t size, const TElRelativeDistinguishedName*) {
    const auto* p = static_cast<const uint8_t*>(buffer);
    value_.assign(p, p + (p == nullptr ? 0 : size));
}

void TElBuiltInMACKey::ExportPublic(void* buffer, size_t& size, const TElRelativeDistinguishedName*) const {
    if (buffer == nullptr || size == 0) {
        size = value_.size();
        return;
    }
    if (size < value_.size()) throw EElBuiltInCryptoProviderError(SBufferTooSmall);
    if (!value_.empty()) std::memcpy(buffer, value_.data(), value_.size());
    size = value_.size();
}

std::unique_ptr<TElCustomCryptoKey> TElBuiltInMACKey::Clone(const TElRelativeDistinguishedName*) const {
    if (dynamic_cast<TElBuiltInCryptoProvider*>(GetCryptoProvider()) == nullptr)
        throw EElBuiltInCryptoProviderError(SUnsupportedCryptoProvider);
    auto copy = std::make_unique<TElBuiltInMACKey>(GetCryptoProvider());
    copy->value_ = value_;
    return copy;
}

std::unique_ptr<TElCustomCryptoKey> TElBuiltInMACKey::ClonePublic(const TElRelativeDistinguishedName* params) const {
    return Clone(params);
}
