// crypto/builtin/SBCryptoProvBuiltInPKI.cpp: the built-in public-key keys (see the header).
#include "crypto/builtin/SBCryptoProvBuiltInPKI.h"

#include <cstring>

#include "crypto/pk/PublicKeyMath.h"
#include "crypto/pk/SBDSA.h"
#include "crypto/pk/SBElgamal.h"
#include "crypto/pk/SBRSA.h"
#include "crypto/prov/SBCryptoProvRS.h"
#include "crypto/prov/SBCryptoProvUtils.h"

namespace {

using pkmath::Bytes;

// The bytes without leading zero bytes; a single 00 when nothing is left.
template <class Array>
Array StripLeadingZeros(Bytes b) {
    const Bytes s = pkmath::StripZeros(b);
    if (s.empty()) return Array(1, 0);
    return Array(s.begin(), s.end());
}

template <class Array>
Array FromValue(std::string_view v) {
    return Array(v.begin(), v.end());
}

template <class Array>
ByteString ToValue(const Array& a) {
    return ByteString(a.begin(), a.end());
}

// The export size protocol, raising the given class for too small a buffer.
template <class Error>
void Export(Bytes data, void* buffer, size_t& size) {
    if (buffer == nullptr || size == 0) {
        size = data.size();
        return;
    }
    if (size < data.size()) throw Error(SBufferTooSmall);
    if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
    size = data.size();
}

// An INTEGER-valued call of the size protocol into a wiped array: ask, then fill.
template <class Call>
bool Fill(rtl::SecureBytes& out, Call call) {
    int32_t size = 0;
    call(nullptr, size);
    if (size <= 0) return false;
    out.assign(size_t(size), 0);
    if (!call(out.data(), size)) return false;
    out.resize(size_t(size));
    return true;
}

int32_t HashByQBits(size_t bits) {
    if (bits <= 160) return SB_ALG_SHA1;
    if (bits <= 224) return SB_ALG_SHA224;
    if (bits <= 256) return SB_ALG_SHA256;
    if (bits <= 384) return SB_ALG_SHA384;
    return SB_ALG_SHA512;
}

size_t BitLength(Bytes b) {
    const Bytes s = pkmath::StripZeros(b);
    if (s.empty()) return 0;
    return 8 * s.size() - size_t(__builtin_clz(s[0]) - 24);
}

BigNumPtr Number(Bytes b) {
    return pkmath::Load(b);
}

// The provider's progress callback as the cancellation hook of the generators: a callback that
// answers false stops a long generation.
MathProgressCallback Cancellation(const TSBProgressFunc& progress, void* data) {
    if (!progress) return {};
    return [progress, data](void*) { return progress(0, 0, data); };
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// RSA

TElBuiltInRSACryptoKey::TElBuiltInRSACryptoKey(TElCustomCryptoProvider* provider) : TElBuiltInCryptoKey(provider) {
    Reset();
}

bool TElBuiltInRSACryptoKey::GetIsValid() const {
    if (!secret_) return true;
    return ValidateRSAPrivateKey(secretBlob_.data(), int32_t(secretBlob_.size()));
}

int32_t TElBuiltInRSACryptoKey::GetBits() const {
    return int32_t(8 * modulus_.size());
}

void TElBuiltInRSACryptoKey::Reset() {
    TElBuiltInCryptoKey::Reset();
    secretBlob_.clear();
    publicBlob_.clear();
    modulus_.clear();
    publicExponent_.clear();
    privateExponent_.clear();
    label_.clear();
    saltSize_ = 20;
    hashAlgorithm_ = SB_ALG_SHA1;
    mgfAlgorithm_ = SB_ALG_MGF1;
    trailerField_ = 1;
    secret_ = public_ = false;
    keyFormat_ = SB_RSA_KEYFORMAT_PKCS1;
}

void TElBuiltInRSACryptoKey::UpdatePublicBlob(bool raw) {
    const ByteString oid(SB_OID_RSA_ENCRYPTION);
    rtl::SecureBytes blob;
    const bool ok = Fill(blob, [&](void* out, int32_t& size) {
        return EncodeRSAPublicKey(modulus_.data(), int32_t(modulus_.size()), publicExponent_.data(),
                                  int32_t(publicExponent_.size()), oid, out, size, raw);
    });
    if (!ok) throw EElCryptoKeyError(SInternalError);
    publicBlob_.assign(blob.begin(), blob.end());
}

void TElBuiltInRSACryptoKey::Generate(int32_t bits, const TElRelativeDistinguishedName*,
                                      const TSBProgressFunc& progressFunc, void* progressData) {
    Reset();
    int32_t ns = 0, es = 0, ds = 0, bs = 0;
    GenerateRSAKey(bits, nullptr, ns, nullptr, es, nullptr, ds, nullptr, bs);
    rtl::SecureBytes n(size_t(ns > 0 ? ns : 0)), e(size_t(es > 0 ? es : 0)), d(n.size()), blob(size_t(bs > 0 ? bs : 0));
    if (!GenerateRSAKey(bits, n.data(), ns, e.data(), es, d.data(), ds, blob.data(), bs,
                        Cancellation(progressFunc, progressData)))
        throw EElCryptoProviderError(SInternalError);
    modulus_ = StripLeadingZeros<ByteArray>(Bytes(n.data(), size_t(ns)));
    publicExponent_ = StripLeadingZeros<ByteArray>(Bytes(e.data(), size_t(es)));
    privateExponent_ = StripLeadingZeros<rtl::SecureBytes>(Bytes(d.data(), size_t(ds)));
    secretBlob_.assign(blob.begin(), blob.begin() + bs);
    secret_ = public_ = true;
    UpdatePublicBlob(false);
}

void TElBuiltInRSACryptoKey::ImportPublic(const void* buffer, size_t size, const TElRelativeDistinguishedName*) {
    Reset();
    const int32_t in = int32_t(size);
    int32_t ns = 0, es = 0;
    ByteString oid;
    DecodeRSAPublicKey(buffer, in, nullptr, ns, nullptr, es, oid, rawKey_);
    if (ns <= 0 || es <= 0) throw EElCryptoKeyError(SInvalidPublicKey);
    ByteArray n(static_cast<size_t>(ns)), e(static_cast<size_t>(es));
    if (!DecodeRSAPublicKey(buffer, in, n.data(), ns, e.data(), es, oid, rawKey_))
        throw EElCryptoKeyError(SInvalidPublicKey);
    public_ = true;
    publicBlob_.assign(static_cast<const uint8_t*>(buffer), static_cast<const uint8_t*>(buffer) + size);
    modulus_ = StripLeadingZeros<ByteArray>(Bytes(n.data(), size_t(ns)));
    publicExponent_ = StripLeadingZeros<ByteArray>(Bytes(e.data(), size_t(es)));
}

void TElBuiltInRSACryptoKey::ImportSecret(const void* buffer, size_t size, const TElRelativeDistinguishedName*) {
    Reset();
    const int32_t in = int32_t(size);
    int32_t ns = 0, es = 0, ds = 0;
    DecodeRSAPrivateKey(buffer, in, nullptr, ns, nullptr, es, nullptr, ds);
    if (ns <= 0 || es <= 0 || ds <= 0) throw EElCryptoKeyError(SInvalidSecretKey);
    ByteArray n(static_cast<size_t>(ns)), e(static_cast<size_t>(es));
    rtl::SecureBytes d(static_cast<size_t>(ds));
    if (!DecodeRSAPrivateKey(buffer, in, n.data(), ns, e.data(), es, d.data(), ds))
        throw EElCryptoKeyError(SInvalidSecretKey);
    secret_ = public_ = true;
    secretBlob_.assign(static_cast<const uint8_t*>(buffer), static_cast<const uint8_t*>(buffer) + size);
    modulus_ = StripLeadingZeros<ByteArray>(Bytes(n.data(), size_t(ns)));
    publicExponent_ = StripLeadingZeros<ByteArray>(Bytes(e.data(), size_t(es)));
    privateExponent_ = StripLeadingZeros<rtl::SecureBytes>(Bytes(d.data(), size_t(ds)));
    UpdatePublicBlob(false);
}

void TElBuiltInRSACryptoKey::ExportPublic(void* buffer, size_t& size, const TElRelativeDistinguishedName*) const {
    const_cast<TElBuiltInRSACryptoKey*>(this)->UpdatePublicBlob(rawKey_);
    Export<EElCryptoKeyError>(Bytes(publicBlob_), buffer, size);
}

void TElBuiltInRSACryptoKey::ExportSecret(void* buffer, size_t& size, const TElRelativeDistinguishedName*) const {
    Export<EElCryptoKeyError>(Bytes(secretBlob_), buffer, size);
}

std::unique_ptr<TElBuiltInRSACryptoKey> TElBuiltInRSACryptoKey::CloneWith(bool secret) const {
    auto key = std::make_unique<TElBuiltInRSACryptoKey>(GetCryptoProvider());
    key->publicBlob_ = publicBlob_;
    key->modulus_ = modulus_;
    key->publicExponent_ = publicExponent_;
    key->label_ = label_;
    key->saltSize_ = saltSize_;
    key->hashAlgorithm_ = hashAlgorithm_;
    key->mgfAlgorithm_ = mgfAlgorithm_;
    key->trailerField_ = trailerField_;
    key->public_ = public_;
    if (secret) {
        key->secretBlob_ = secretBlob_;
        key->privateExponent_ = privateExponent_;
        key->secret_ = secret_;
    }
    if (public_) key->UpdatePublicBlob(false);
    return key;
}

std::unique_ptr<TElCustomCryptoKey> TElBuiltInRSACryptoKey::Clone(const TElRelativeDistinguishedName*) const {
    return CloneWith(true);
}

std::unique_ptr<TElCustomCryptoKey> TElBuiltInRSACryptoKey::ClonePublic(const TElRelativeDistinguishedName*) const {
    return CloneWith(false);
}

void TElBuiltInRSACryptoKey::ClearSecret() {
    secretBlob_.clear();
    privateExponent_.clear();
    secret_ = false;
}

ByteString TElBuiltInRSACryptoKey::GetKeyProp(std::string_view propId, std::string_view defaultValue) const {
    if (propId == SB_KEYPROP_KEYFORMAT)
        return keyFormat_ == SB_RSA_KEYFORMAT_OAEP ? "oaep" : keyFormat_ == SB_RSA_KEYFORMAT_PSS ? "pss" : "pkcs#1";
    if (propId == SB_KEYPROP_HASH_ALGORITHM) return GetOIDByHashAlgorithm(hashAlgorithm_);
    if (propId == SB_KEYPROP_MGF_ALGORITHM) return GetOIDByAlgorithm(mgfAlgorithm_);
    if (propId == SB_KEYPROP_TRAILER_FIELD) return IntegerToPropertyValue(trailerField_);
    if (propId == SB_KEYPROP_SALT_SIZE) return IntegerToPropertyValue(saltSize_);
    if (propId == SB_KEYPROP_STRLABEL) return ToValue(label_);
    if (propId == SB_KEYPROP_RSA_RAWKEY) return BooleanToPropertyValue(rawKey_);
    if (propId == SB_KEYPROP_RSA_M) return ToValue(modulus_);
    if (propId == SB_KEYPROP_RSA_E) return ToValue(publicExponent_);
    if (propId == SB_KEYPROP_RSA_D) return ToValue(privateExponent_);
    return ByteString(defaultValue);
}

void TElBuiltInRSACryptoKey::SetKeyProp(std::string_view propId, std::string_view value) {
    if (propId == SB_KEYPROP_KEYFORMAT) {
        keyFormat_ = value == "oaep" ? SB_RSA_KEYFORMAT_OAEP : value == "pss" ? SB_RSA_KEYFORMAT_PSS : SB_RSA_KEYFORMAT_PKCS1;
    } else if (propId == SB_KEYPROP_HASH_ALGORITHM) {
        hashAlgorithm_ = GetHashAlgorithmByOID(value);
    } else if (propId == SB_KEYPROP_MGF_ALGORITHM) {
        mgfAlgorithm_ = GetAlgorithmByOID(value);
    } else if (propId == SB_KEYPROP_TRAILER_FIELD) {
        trailerField_ = PropertyValueToInteger(value, 0);
    } else if (propId == SB_KEYPROP_SALT_SIZE) {
        saltSize_ = PropertyValueToInteger(value, 0);
    } else if (propId == SB_KEYPROP_STRLABEL) {
        label_ = FromValue<ByteArray>(value);
    } else if (propId == SB_KEYPROP_RSA_RAWKEY) {
        rawKey_ = PropertyValueToBoolean(value, false);
    } else if (propId == SB_KEYPROP_RSA_M || propId == SB_KEYPROP_RSA_E || propId == SB_KEYPROP_RSA_D) {
        if (propId == SB_KEYPROP_RSA_M) modulus_ = FromValue<ByteArray>(value);
        if (propId == SB_KEYPROP_RSA_E) publicExponent_ = FromValue<ByteArray>(value);
        if (propId == SB_KEYPROP_RSA_D) privateExponent_ = FromValue<rtl::SecureBytes>(value);
        // A private-key blob of other numbers would go on signing and decrypting with the old key.
        secretBlob_.clear();
        public_ = !modulus_.empty() && !publicExponent_.empty();
        secret_ = public_ && !privateExponent_.empty();
        if (propId != SB_KEYPROP_RSA_D) {
            if (public_) {
                UpdatePublicBlob(rawKey_);
            } else {
                publicBlob_.clear();
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Preparation

void TElBuiltInPreparedKey::CancelPreparation() {
    if (token_) token_->Cancel();
    FreeAndClear(token_);
}

bool TElBuiltInPreparedKey::GetAsyncOperationFinished() const {
    return token_ && token_->GetFinished();
}

void TElBuiltInPreparedKey::Prepare(TElPublicKeyComputationToken::Kind kind, bool multiUse) {
    if (token_) throw EElBuiltInCryptoProviderError(SKeyAlreadyPrepared);
    token_ = Begin(kind);
    releaseAfterUse_ = !multiUse;
}

std::unique_ptr<TElPublicKeyComputationToken> TElBuiltInPreparedKey::TakePreparedToken() {
    std::unique_ptr<TElPublicKeyComputationToken> taken = std::move(token_);
    token_.reset();
    if (taken && !releaseAfterUse_) token_ = Begin(taken->GetKind());
    return taken;
}

// ---------------------------------------------------------------------------------------------
// DSA

TElBuiltInDSACryptoKey::TElBuiltInDSACryptoKey(TElCustomCryptoProvider* provider) : TElBuiltInPreparedKey(provider) {
    Reset();
}

void TElBuiltInDSACryptoKey::UpdateFlags() {
    public_ = !p_.empty() && !q_.empty() && !g_.empty() && !y_.empty();
    secret_ = public_ && !x_.empty();
}

bool TElBuiltInDSACryptoKey::GetIsValid() const {
    return ValidateDSAKey(p_.data(), int32_t(p_.size()), q_.data(), int32_t(q_.size()), g_.data(), int32_t(g_.size()),
                          y_.data(), int32_t(y_.size()), x_.data(), int32_t(x_.size()), secret_, strict_ != 0);
}

void TElBuiltInDSACryptoKey::Reset() {
    TElBuiltInCryptoKey::Reset();
    public_ = secret_ = false;
    secretBlob_.clear();
    p_.clear();
    q_.clear();
    g_.clear();
    y_.clear();
    x_.clear();
    strict_ = 0;
    hashAlgorithm_ = 0;
    CancelPreparation();
}

void TElBuiltInDSACryptoKey::Generate(int32_t bits, const TElRelativeDistinguishedName* params,
                                      const TSBProgressFunc& progressFunc, void* progressData) {
    int32_t n = 0;
    if (params != nullptr) {
        for (int32_t i = 0; i < params->GetCount(); ++i) {
            if (params->GetOID(i) == SB_KEYPROP_DSA_QBITS) {
                n = PropertyValueToInteger(params->GetValue(i), 0);
                break;
            }
        }
    }
    if (n == 0) {
        switch (hashAlgorithm_) {
            case SB_ALG_SHA1: n = 160; break;
            case SB_ALG_SHA224: n = 224; break;
            case SB_ALG_SHA256: n = 256; break;
            case SB_ALG_SHA384: n = 384; break;
            case SB_ALG_SHA512: n = 512; break;
            default: break;
        }
    }
    if (n == 0) n = bits <= 1024 ? 160 : bits <= 2048 ? 224 : bits <= 3072 ? 256 : bits <= 8192 ? 384 : 512;
    int32_t ps = 0, qs = 0, gs = 0, ys = 0, xs = 0;
    GenerateDSAKeyWithQBits(bits, n, nullptr, ps, nullptr, qs, nullptr, gs, nullptr, ys, nullptr, xs);
    if (ps <= 0 || qs <= 0) throw EElBuiltInCryptoProviderError(SKeyGenerationFailed);
    rtl::SecureBytes p(static_cast<size_t>(ps)), q(static_cast<size_t>(qs)), g(static_cast<size_t>(gs)),
        y(static_cast<size_t>(ys)), x(static_cast<size_t>(xs));
    if (!GenerateDSAKeyWithQBits(bits, n, p.data(), ps, q.data(), qs, g.data(), gs, y.data(), ys, x.data(), xs,
                                 Cancellation(progressFunc, progressData)))
        throw EElBuiltInCryptoProviderError(SKeyGenerationFailed);
    CancelPreparation();  // a token of the old domain would sign nothing valid
    p_.assign(p.begin(), p.begin() + ps);
    q_.assign(q.begin(), q.begin() + qs);
    g_.assign(g.begin(), g.begin() + gs);
    y_.assign(y.begin(), y.begin() + ys);
    x_.assign(x.begin(), x.begin() + xs);
    if (!Fill(secretBlob_, [&](void* out, int32_t& size) {
            return EncodeDSAPrivateKey(p_.data(), ps, q_.data(), qs, g_.data(), gs, y_.data(), ys, x_.data(), xs, out,
                                       size);
        }))
        throw EElBuiltInCryptoProviderError(SKeyGenerationFailed);
    public_ = secret_ = true;
}

void TElBuiltInDSACryptoKey::ImportPublic(const void* buffer, size_t size, const TElRelativeDistinguishedName*) {
    std::vector<pkmath::Element> items;
    if (!pkmath::ReadElements(pkmath::View(buffer, int32_t(size)), items, 1) || items.size() != 1 ||
        items[0].tag != 0x02)
        throw EElBuiltInCryptoProviderError(SInvalidPublicKey);
    y_.assign(items[0].content.begin(), items[0].content.end());
    UpdateFlags();
}

void TElBuiltInDSACryptoKey::ImportSecret(const void* buffer, size_t size, const TElRelativeDistinguishedName*) {
    const int32_t in = int32_t(size);
    int32_t s[5] = {};
    DecodeDSAPrivateKey(buffer, in, nullptr, s[0], nullptr, s[1], nullptr, s[2], nullptr, s[3], nullptr, s[4]);
    for (int32_t v : s)
        if (v <= 0) throw EElCryptoKeyError(SInvalidSecretKey);
    rtl::SecureBytes v[5];
    for (int i = 0; i < 5; ++i)
        v[i].resize(size_t(s[i]));
    if (!DecodeDSAPrivateKey(buffer, in, v[0].data(), s[0], v[1].data(), s[1], v[2].data(), s[2], v[3].data(), s[3],
                             v[4].data(), s[4]))
        throw EElCryptoKeyError(SInvalidSecretKey);
    CancelPreparation();
    p_ = StripLeadingZeros<ByteArray>(Bytes(v[0].data(), size_t(s[0])));
    q_ = StripLeadingZeros<ByteArray>(Bytes(v[1].data(), size_t(s[1])));
    g_ = StripLeadingZeros<ByteArray>(Bytes(v[2].data(), size_t(s[2])));
    y_ = StripLeadingZeros<ByteArray>(Bytes(v[3].data(), size_t(s[3])));
    x_ = StripLeadingZeros<rtl::SecureBytes>(Bytes(v[4].data(), size_t(s[4])));
    secretBlob_.assign(static_cast<const uint8_t*>(buffer), static_cast<const uint8_t*>(buffer) + size);
    public_ = secret_ = true;
}

void TElBuiltInDSACryptoKey::ExportPublic(void* buffer, size_t& size, const TElRelativeDistinguishedName*) const {
    // A DER INTEGER is signed: a y whose top bit is set gets its 00 (RFC 3279 2.3.2).
    rtl::SecureBytes der;
    pkmath::AppendInteger(der, Bytes(y_));
    Export<EElBuiltInCryptoProviderError>(Bytes(der), buffer, size);
}

void TElBuiltInDSACryptoKey::ExportSecret(void* buffer, size_t& size, const TElRelativeDistinguishedName*) const {
    if (!secretBlob_.empty() || !secret_) {
        Export<EElCryptoKeyError>(Bytes(secretBlob_), buffer, size);
        return;
    }
    rtl::SecureBytes blob;
    Fill(blob, [&](void* out, int32_t& s) {
        return EncodeDSAPrivateKey(p_.data(), int32_t(p_.size()), q_.data(), int32_t(q_.size()), g_.data(),
                                   int32_t(g_.size()), y_.data(), int32_t(y_.size()), x_.data(), int32_t(x_.size()),
                                   out, s);
    });
    Export<EElCryptoKeyError>(Bytes(blob), buffer, size);
}

std::unique_ptr<TElCustomCryptoKey> TElBuiltInDSACryptoKey::Clone(const TElRelativeDistinguishedName*) const {
    auto key = std::make_unique<TElBuiltInDSACryptoKey>(GetCryptoProvider());
    key->secretBlob_ = secretBlob_;
    key->p_ = p_;
    key->q_ = q_;
    key->g_ = g_;
    key->y_ = y_;
    key->x_ = x_;
    key->public_ = public_;
    key->secret_ = secret_;
    key->strict_ = strict_;
    key->hashAlgorithm_ = hashAlgorithm_;
    return key;
}

std::unique_ptr<TElCustomCryptoKey> TElBuiltInDSACryptoKey::ClonePublic(const TElRelativeDistinguishedName* params) const {
    std::unique_ptr<TElCustomCryptoKey> key = Clone(params);
    key->ClearSecret();
    return key;
}

void TElBuiltInDSACryptoKey::ClearSecret() {
    x_.clear();
    secretBlob_.clear();  // the blob holds x too
    secret_ = false;
    CancelPreparation();
}

ByteString TElBuiltInDSACryptoKey::GetKeyProp(std::string_view propId, std::string_view defaultValue) const {
    if (propId == SB_KEYPROP_DSA_STRICT_VALIDATION) return BooleanToPropertyValue(strict_ != 0);
    if (propId == SB_KEYPROP_HASH_ALGORITHM) {
        if (hashAlgorithm_ == 0) hashAlgorithm_ = HashByQBits(BitLength(Bytes(q_)));
        return GetOIDByHashAlgorithm(hashAlgorithm_);
    }
    if (propId == SB_KEYPROP_DSA_P) return ToValue(p_);
    if (propId == SB_KEYPROP_DSA_Q) return ToValue(q_);
    if (propId == SB_KEYPROP_DSA_G) return ToValue(g_);
    if (propId == SB_KEYPROP_DSA_X) return ToValue(x_);
    if (propId == SB_KEYPROP_DSA_Y) return ToValue(y_);
    if (propId == SB_KEYPROP_DSA_QBITS) return IntegerToPropertyValue(int32_t(8 * q_.size()));
    return ByteString(defaultValue);
}

void TElBuiltInDSACryptoKey::SetKeyProp(std::string_view propId, std::string_view value) {
    if (propId == SB_KEYPROP_DSA_QBITS) throw EElBuiltInCryptoProviderError(SCannotModifyReadOnlyProperty);
    if (propId == SB_KEYPROP_DSA_STRICT_VALIDATION) {
        strict_ = PropertyValueToBoolean(value, false) ? 1 : 0;
    } else if (propId == SB_KEYPROP_HASH_ALGORITHM) {
        hashAlgorithm_ = GetHashAlgorithmByOID(value);
    } else if (propId == SB_KEYPROP_DSA_P || propId == SB_KEYPROP_DSA_Q || propId == SB_KEYPROP_DSA_G ||
               propId == SB_KEYPROP_DSA_Y || propId == SB_KEYPROP_DSA_X) {
        if (propId == SB_KEYPROP_DSA_P) p_ = FromValue<ByteArray>(value);
        if (propId == SB_KEYPROP_DSA_Q) q_ = FromValue<ByteArray>(value);
        if (propId == SB_KEYPROP_DSA_G) g_ = FromValue<ByteArray>(value);
        if (propId == SB_KEYPROP_DSA_Y) y_ = FromValue<ByteArray>(value);
        if (propId == SB_KEYPROP_DSA_X) x_ = FromValue<rtl::SecureBytes>(value);
        // The blob no longer holds these numbers, and a prepared r belongs to the old domain.
        secretBlob_.clear();
        if (propId != SB_KEYPROP_DSA_Y && propId != SB_KEYPROP_DSA_X) CancelPreparation();
    }
    UpdateFlags();
}

void TElBuiltInDSACryptoKey::PrepareForSigning(bool multiUse) {
    Prepare(TElPublicKeyComputationToken::DSASigning, multiUse);
}

std::unique_ptr<TElPublicKeyComputationToken> TElBuiltInDSACryptoKey::Begin(TElPublicKeyComputationToken::Kind) {
    const BigNumPtr p = Number(Bytes(p_)), q = Number(Bytes(q_)), g = Number(Bytes(g_));
    return GetPublicKeyAsyncCalculator()->BeginDSASigning(p.get(), q.get(), g.get());
}

// ---------------------------------------------------------------------------------------------
// Elgamal

TElBuiltInElgamalCryptoKey::TElBuiltInElgamalCryptoKey(TElCustomCryptoProvider* provider)
    : TElBuiltInPreparedKey(provider) {
    Reset();
}

void TElBuiltInElgamalCryptoKey::Reset() {
    TElBuiltInCryptoKey::Reset();
    p_.clear();
    g_.clear();
    y_.clear();
    x_.clear();
    public_ = secret_ = false;
    CancelPreparation();
}

void TElBuiltInElgamalCryptoKey::Generate(int32_t bits, const TElRelativeDistinguishedName*, const TSBProgressFunc&,
                                          void*) {
    const BigNumPtr p = MakeBigNum(), g = MakeBigNum(), x = MakeBigNum(), y = MakeBigNum();
    if (!GenerateElgamalKey(bits, p.get(), g.get(), x.get(), y.get()))
        throw EElBuiltInCryptoProviderError(SKeyGenerationFailed);
    CancelPreparation();
    auto bytes = [](const BigNum* v) { return pkmath::ToTrimmed(v); };
    const rtl::SecureBytes pb = bytes(p.get()), gb = bytes(g.get()), yb = bytes(y.get());
    p_.assign(pb.begin(), pb.end());
    g_.assign(gb.begin(), gb.end());
    y_.assign(yb.begin(), yb.end());
    x_ = bytes(x.get());
    public_ = secret_ = true;
}

std::unique_ptr<TElCustomCryptoKey> TElBuiltInElgamalCryptoKey::Clone(const TElRelativeDistinguishedName*) const {
    auto key = std::make_unique<TElBuiltInElgamalCryptoKey>(GetCryptoProvider());
    key->p_ = p_;
    key->g_ = g_;
    key->y_ = y_;
    key->x_ = x_;
    key->public_ = public_;
    key->secret_ = secret_;
    return key;
}

std::unique_ptr<TElCustomCryptoKey> TElBuiltInElgamalCryptoKey::ClonePublic(
    const TElRelativeDistinguishedName* params) const {
    std::unique_ptr<TElCustomCryptoKey> key = Clone(params);
    key->ClearSecret();
    return key;
}

void TElBuiltInElgamalCryptoKey::ClearSecret() {
    x_.clear();
    secret_ = false;
}

ByteString TElBuiltInElgamalCryptoKey::GetKeyProp(std::string_view propId, std::string_view defaultValue) const {
    if (propId == SB_KEYPROP_ELGAMAL_P) return ToValue(p_);
    if (propId == SB_KEYPROP_ELGAMAL_G) return ToValue(g_);
    if (propId == SB_KEYPROP_ELGAMAL_X) return ToValue(x_);
    if (propId == SB_KEYPROP_ELGAMAL_Y) return ToValue(y_);
    return ByteString(defaultValue);
}

void TElBuiltInElgamalCryptoKey::SetKeyProp(std::string_view propId, std::string_view value) {
    if (propId == SB_KEYPROP_ELGAMAL_P) p_ = FromValue<ByteArray>(value);
    else if (propId == SB_KEYPROP_ELGAMAL_G) g_ = FromValue<ByteArray>(value);
    else if (propId == SB_KEYPROP_ELGAMAL_X) x_ = FromValue<rtl::SecureBytes>(value);
    else if (propId == SB_KEYPROP_ELGAMAL_Y) y_ = FromValue<ByteArray>(value);
    else return;
    if (propId != SB_KEYPROP_ELGAMAL_X) CancelPreparation();  // a token of the old numbers
    public_ = !p_.empty() && !g_.empty() && !y_.empty();
    secret_ = public_ && !x_.empty();
}

void TElBuiltInElgamalCryptoKey::PrepareForEncryption(bool multiUse) {
    Prepare(TElPublicKeyComputationToken::ElgamalEncryption, multiUse);
}

void TElBuiltInElgamalCryptoKey::PrepareForSigning(bool multiUse) {
    Prepare(TElPublicKeyComputationToken::ElgamalSigning, multiUse);
}

std::unique_ptr<TElPublicKeyComputationToken> TElBuiltInElgamalCryptoKey::Begin(TElPublicKeyComputationToken::Kind kind) {
    const BigNumPtr p = Number(Bytes(p_)), g = Number(Bytes(g_)), y = Number(Bytes(y_));
    TElPublicKeyAsyncCalculator* calculator = GetPublicKeyAsyncCalculator();
    if (kind == TElPublicKeyComputationToken::ElgamalEncryption)
        return calculator->BeginElgamalEncryption(p.get(), g.get(), y.get());
    return calculator->BeginElgamalSigning(p.get(), g.get());
}

// ---------------------------------------------------------------------------------------------
// Diffie-Hellman

TElBuiltInDHCryptoKey::TElBuiltInDHCryptoKey(TElCustomCryptoProvider* provider) : TElBuiltInCryptoKey(provider) {
    Reset();
}

void TElBuiltInDHCryptoKey::UpdateFlags() {
    public_ = !p_.empty() && !g_.empty() && (!y_.empty() || !peerY_.empty());
    secret_ = public_ && (!x_.empty() || !peerY_.empty());
}

void TElBuiltInDHCryptoKey::Reset() {
    TElBuiltInCryptoKey::Reset();
    p_.clear();
    g_.clear();
    y_.clear();
    peerY_.clear();
    x_.clear();
    secret_ = public_ = false;
}

void TElBuiltInDHCryptoKey::Generate(int32_t bits, const TElRelativeDistinguishedName*, const TSBProgressFunc&, void*) {
    Reset();
    const int32_t words = bits / 32;
    if (words < 1 || words > BigNum::MaxLimbs) throw EElBuiltInCryptoProviderError(SKeyGenerationFailed);
    const BigNumPtr p = MakeBigNum(), g = pkmath::Number(2), x = MakeBigNum(), y = MakeBigNum();
    GenerateBigNumPrime(p.get(), words, false, true);
    FillBigNumRandomBytes(x.get(), words);
    x->NonNegative = true;
    x->Limbs[0] &= ~uint32_t(0xFF);
    ExponentiateBigNumMontgomery(g.get(), x.get(), p.get(), y.get());
    const rtl::SecureBytes pb = pkmath::ToWords(p.get()), gb = pkmath::ToWords(g.get()), yb = pkmath::ToWords(y.get());
    p_.assign(pb.begin(), pb.end());
    g_.assign(gb.begin(), gb.end());
    y_.assign(yb.begin(), yb.end());
    x_ = pkmath::ToWords(x.get());
    public_ = secret_ = true;
}

void TElBuiltInDHCryptoKey::ImportSecret(const void* buffer, size_t size, const TElRelativeDistinguishedName*) {
    x_.assign(static_cast<const uint8_t*>(buffer), static_cast<const uint8_t*>(buffer) + size);
    secret_ = true;
}

void TElBuiltInDHCryptoKey::ExportSecret(void* buffer, size_t& size, const TElRelativeDistinguishedName*) const {
    Export<EElBuiltInCryptoProviderError>(Bytes(x_), buffer, size);
}

std::unique_ptr<TElCustomCryptoKey> TElBuiltInDHCryptoKey::Clone(const TElRelativeDistinguishedName*) const {
    auto key = std::make_unique<TElBuiltInDHCryptoKey>(GetCryptoProvider());
    key->p_ = p_;
    key->g_ = g_;
    key->y_ = y_;
    key->peerY_ = peerY_;
    key->x_ = x_;
    key->secret_ = secret_;
    key->public_ = public_;
    return key;
}

std::unique_ptr<TElCustomCryptoKey> TElBuiltInDHCryptoKey::ClonePublic(const TElRelativeDistinguishedName* params) const {
    std::unique_ptr<TElCustomCryptoKey> key = Clone(params);
    key->ClearSecret();
    return key;
}

void TElBuiltInDHCryptoKey::ClearSecret() {
    x_.clear();
    secret_ = false;
}

ByteString TElBuiltInDHCryptoKey::GetKeyProp(std::string_view propId, std::string_view defaultValue) const {
    if (propId == SB_KEYPROP_DH_P) return ToValue(p_);
    if (propId == SB_KEYPROP_DH_G) return ToValue(g_);
    if (propId == SB_KEYPROP_DH_X) return ToValue(x_);
    if (propId == SB_KEYPROP_DH_Y) return ToValue(y_);
    if (propId == SB_KEYPROP_DH_PEER_Y) return ToValue(peerY_);
    return ByteString(defaultValue);
}

void TElBuiltInDHCryptoKey::SetKeyProp(std::string_view propId, std::string_view value) {
    if (propId == SB_KEYPROP_DH_P) p_ = FromValue<ByteArray>(value);
    if (propId == SB_KEYPROP_DH_G) g_ = FromValue<ByteArray>(value);
    if (propId == SB_KEYPROP_DH_X) x_ = FromValue<rtl::SecureBytes>(value);
    if (propId == SB_KEYPROP_DH_Y) y_ = FromValue<ByteArray>(value);
    if (propId == SB_KEYPROP_DH_PEER_Y) peerY_ = FromValue<ByteArray>(value);
    UpdateFlags();
}
