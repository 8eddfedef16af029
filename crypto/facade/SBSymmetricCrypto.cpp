// crypto/facade/SBSymmetricCrypto.cpp: the symmetric facade over a provider's cipher contexts.
#include "crypto/facade/SBSymmetricCrypto.h"

#include <algorithm>

#include "crypto/builtin/SBCryptoProvDefault.h"
#include "crypto/math/SBRandom.h"
#include "crypto/prov/SBCryptoProvRS.h"
#include "crypto/prov/SBCryptoProvUtils.h"
#include "rtl/Format.h"
#include "rtl/SecureBytes.h"

using SBSymmetricCrypto::EElSymmetricCryptoError;

namespace {

TElCustomCryptoProvider* OrDefault(TElCustomCryptoProvider* provider) {
    return provider != nullptr ? provider : DefaultCryptoProvider();
}

// Encrypt feeds its input in pieces of this size and reports progress after each.
constexpr size_t kChunk = 65536;

}  // namespace

// ---------------------------------------------------------------------------------------------
// TElSymmetricKeyMaterial

TElSymmetricKeyMaterial::TElSymmetricKeyMaterial(TElCustomCryptoProvider* provider)
    : provider_(OrDefault(provider)) {
    key_ = provider_->CreateKey(SB_ALG_GENERIC_SYMMETRIC, 0, nullptr);
}

TElSymmetricKeyMaterial::TElSymmetricKeyMaterial(Adopt, TElCustomCryptoKey* key, TElCustomCryptoProvider* provider)
    : key_(key), provider_(provider != nullptr ? provider : key->GetCryptoProvider()) {}

std::unique_ptr<TElSymmetricKeyMaterial> TElSymmetricKeyMaterial::CreateWithKey(TElCustomCryptoKey* key,
                                                                                TElCustomCryptoProvider* provider) {
    if (key == nullptr) throw EElSymmetricCryptoError(SInvalidKeyMaterial);
    return std::unique_ptr<TElSymmetricKeyMaterial>(new TElSymmetricKeyMaterial(Adopt{}, key, provider));
}

TElSymmetricKeyMaterial::~TElSymmetricKeyMaterial() {
    if (key_ != nullptr) key_->GetCryptoProvider()->ReleaseKey(key_);
}

int TElSymmetricKeyMaterial::GetBits() const {
    return key_->GetBits();
}

void TElSymmetricKeyMaterial::Generate(int bits) {
    key_->Generate(bits, nullptr);
}

void TElSymmetricKeyMaterial::GenerateIV(int32_t bits) {
    if (bits < 0 || bits % 8 != 0) throw EElSymmetricCryptoError(SInvalidInputSize);
    rtl::SecureBytes iv(size_t(bits) / 8);
    if (!iv.empty()) GenerateRandomBytes(iv.data(), iv.size());
    key_->SetIV(iv);
}

void TElSymmetricKeyMaterial::Load(const void* buffer, size_t size) {
    key_->ImportSecret(buffer, size, nullptr);
}

void TElSymmetricKeyMaterial::Save(void* buffer, size_t& size) const {
    key_->ExportSecret(buffer, size, nullptr);
}

void TElSymmetricKeyMaterial::SetKey(std::span<const uint8_t> value) {
    key_->SetValue(value);
}

void TElSymmetricKeyMaterial::SetIV(std::span<const uint8_t> iv) {
    key_->SetIV(iv);
}

void TElSymmetricKeyMaterial::SaveToStream(rtl::Stream& stream) const {
    size_t size = 0;
    Save(nullptr, size);
    rtl::SecureBytes blob(size);
    Save(blob.data(), size);
    stream.WriteBuffer(blob.data(), size);
}

void TElSymmetricKeyMaterial::LoadFromStream(rtl::Stream& stream, int64_t count) {
    const int64_t available = count != 0 ? count : stream.Size() - stream.Position();
    // The blob's own lengths say how much to read; each is checked against what is there
    // before anything is read past it.
    if (available < 38) throw EElSymmetricCryptoError(SInvalidKeyFormat);
    rtl::SecureBytes blob(4);
    stream.ReadBuffer(blob.data(), 4);
    const size_t k = size_t(blob[2]) << 8 | blob[3];
    if (available < int64_t(k) + 38) throw EElSymmetricCryptoError(SInvalidKeyFormat);
    blob.resize(4 + k + 2);
    stream.ReadBuffer(blob.data() + 4, k + 2);
    const size_t i = size_t(blob[4 + k]) << 8 | blob[5 + k];
    if (available < int64_t(k + i) + 38) throw EElSymmetricCryptoError(SInvalidKeyFormat);
    blob.resize(k + i + 38);
    stream.ReadBuffer(blob.data() + 6 + k, i + 32);
    Load(blob.data(), blob.size());
}

// ---------------------------------------------------------------------------------------------
// TElSymmetricCrypto

TElSymmetricCrypto::TElSymmetricCrypto(uint8_t mode, TElCustomCryptoProvider* provider)
    : provider_(provider), mode_(mode) {}

TElSymmetricCrypto::~TElSymmetricCrypto() {
    ReleaseContext();
}

std::unique_ptr<TElSymmetricCrypto> TElSymmetricCrypto::CreateByAlgorithm(int32_t algorithm, uint8_t mode,
                                                                          TElCustomCryptoProvider* provider) {
    std::unique_ptr<TElSymmetricCrypto> c(new TElSymmetricCrypto(mode, provider));
    if (!c->GetProvider()->IsAlgorithmSupported(algorithm, ConvertCipherMode(mode)))
        throw EElSymmetricCryptoError(rtl::Format(SUnsupportedAlgorithmFacade, algorithm));
    c->algorithm_ = algorithm;
    c->SetDefaults();
    return c;
}

std::unique_ptr<TElSymmetricCrypto> TElSymmetricCrypto::CreateByOID(std::string_view algOID, uint8_t mode,
                                                                    TElCustomCryptoProvider* provider) {
    std::unique_ptr<TElSymmetricCrypto> c(new TElSymmetricCrypto(mode, provider));
    if (!c->GetProvider()->IsAlgorithmSupportedByOID(algOID, {}, ConvertCipherMode(mode)))
        throw EElSymmetricCryptoError(rtl::Format(SUnsupportedAlgorithmStr, OIDToText(algOID)));
    c->algorithm_ = SB_ALG_UNKNOWN;
    c->algorithmOID_ = ByteString(algOID);
    c->SetDefaults();
    return c;
}

std::unique_ptr<TElSymmetricCrypto> TElSymmetricCrypto::CreateDefault() {
    throw EElSymmetricCryptoError(SPureVirtualConstructor);
}

void TElSymmetricCrypto::SetDefaults() {
    padding_ = SB_SYMENC_PADDING_PKCS5;
}

void TElSymmetricCrypto::AddContextParameters(TElRelativeDistinguishedName&) const {}

bool TElSymmetricCrypto::IsAlgorithmSupported(int32_t algorithm, TElCustomCryptoProvider* provider) {
    return OrDefault(provider)->IsAlgorithmSupported(algorithm, 0);
}

bool TElSymmetricCrypto::IsAlgorithmSupportedByOID(std::string_view algOID, TElCustomCryptoProvider* provider) {
    return OrDefault(provider)->IsAlgorithmSupportedByOID(algOID, {}, 0);
}

void TElSymmetricCrypto::GetDefaultKeyAndBlockLength(int32_t algorithm, int32_t& keyLength, int32_t& blockLength,
                                                     TElCustomCryptoProvider* provider) {
    TElCustomCryptoProvider* p = OrDefault(provider);
    keyLength = PropertyValueToInteger(p->GetAlgorithmProperty(algorithm, 0, SB_ALGPROP_DEFAULT_KEY_SIZE), 0);
    blockLength = PropertyValueToInteger(p->GetAlgorithmProperty(algorithm, 0, SB_ALGPROP_BLOCK_SIZE), 0);
}

void TElSymmetricCrypto::GetDefaultKeyAndBlockLengthByOID(std::string_view algOID, int32_t& keyLength,
                                                          int32_t& blockLength, TElCustomCryptoProvider* provider) {
    TElCustomCryptoProvider* p = OrDefault(provider);
    keyLength = PropertyValueToInteger(p->GetAlgorithmPropertyByOID(algOID, {}, 0, SB_ALGPROP_DEFAULT_KEY_SIZE), 0);
    blockLength = PropertyValueToInteger(p->GetAlgorithmPropertyByOID(algOID, {}, 0, SB_ALGPROP_BLOCK_SIZE), 0);
}

TElCustomCryptoProvider* TElSymmetricCrypto::GetProvider() const {
    if (provider_ != nullptr) return provider_;
    if (keyMaterial_ != nullptr && keyMaterial_->GetProvider() != nullptr) return keyMaterial_->GetProvider();
    return DefaultCryptoProvider();
}

bool TElSymmetricCrypto::GetIsStreamCipher() const {
    if (context_ != nullptr) return context_->GetAlgorithmClass() == SB_ALGCLASS_STREAM;
    if (!algorithmOID_.empty()) return GetProvider()->GetAlgorithmClassByOID(algorithmOID_, {}) == SB_ALGCLASS_STREAM;
    return GetProvider()->GetAlgorithmClass(algorithm_) == SB_ALGCLASS_STREAM;
}

TElCustomCryptoKey* TElSymmetricCrypto::ProviderKey() const {
    return keyMaterial_ != nullptr ? keyMaterial_->GetKey() : nullptr;
}

void TElSymmetricCrypto::ReleaseContext() {
    if (context_ != nullptr) context_->GetCryptoProvider()->ReleaseCryptoContext(context_);
    context_ = nullptr;
}

void TElSymmetricCrypto::Initialize(bool encrypt) {
    // The context of an earlier message goes first; a provider would otherwise keep it until
    // the provider itself goes.
    ReleaseContext();
    TElRelativeDistinguishedName params;
    AddContextParameters(params);
    const TElRelativeDistinguishedName* list = params.GetCount() > 0 ? &params : nullptr;
    TElCustomCryptoProvider* provider = GetProvider();
    const int32_t mode = ConvertCipherMode(mode_);
    if (!algorithmOID_.empty())
        context_ = encrypt ? provider->EncryptInitByOID(algorithmOID_, {}, mode, ProviderKey(), list)
                           : provider->DecryptInitByOID(algorithmOID_, {}, mode, ProviderKey(), list);
    else
        context_ = encrypt ? provider->EncryptInit(algorithm_, mode, ProviderKey(), list)
                           : provider->DecryptInit(algorithm_, mode, ProviderKey(), list);
    context_->SetPadding(padding_ == SB_SYMENC_PADDING_PKCS5 ? SB_SYMENC_PADDING_PKCS5 : SB_SYMENC_PADDING_NONE);
}

void TElSymmetricCrypto::InitializeEncryption() {
    Initialize(true);
}

void TElSymmetricCrypto::InitializeDecryption() {
    Initialize(false);
}

void TElSymmetricCrypto::EncryptUpdate(const void* input, size_t inputSize, void* output, size_t& outputSize) {
    if (context_ == nullptr) throw EElSymmetricCryptoError(SCipherNotInitialized);
    context_->GetCryptoProvider()->EncryptUpdate(context_, input, inputSize, output, outputSize);
}

void TElSymmetricCrypto::DecryptUpdate(const void* input, size_t inputSize, void* output, size_t& outputSize) {
    if (context_ == nullptr) throw EElSymmetricCryptoError(SCipherNotInitialized);
    context_->GetCryptoProvider()->DecryptUpdate(context_, input, inputSize, output, outputSize);
}

void TElSymmetricCrypto::FinalizeEncryption(void* output, size_t& outputSize) {
    if (context_ == nullptr) throw EElSymmetricCryptoError(SCipherNotInitialized);
    context_->GetCryptoProvider()->EncryptFinal(context_, output, outputSize);
}

void TElSymmetricCrypto::FinalizeDecryption(void* output, size_t& outputSize) {
    if (context_ == nullptr) throw EElSymmetricCryptoError(SCipherNotInitialized);
    context_->GetCryptoProvider()->DecryptFinal(context_, output, outputSize);
}

int32_t TElSymmetricCrypto::GetBlockSize() const {
    if (context_ != nullptr) return context_->GetBlockSize();
    const int32_t mode = ConvertCipherMode(mode_);
    const ByteString value = !algorithmOID_.empty()
                                 ? GetProvider()->GetAlgorithmPropertyByOID(algorithmOID_, {}, mode, SB_ALGPROP_BLOCK_SIZE)
                                 : GetProvider()->GetAlgorithmProperty(algorithm_, mode, SB_ALGPROP_BLOCK_SIZE);
    return PropertyValueToInteger(value, 0);
}

uint8_t TElSymmetricCrypto::GetPadding() const {
    if (context_ != nullptr)
        return context_->GetPadding() == SB_SYMENC_PADDING_PKCS5 ? SB_SYMENC_PADDING_PKCS5 : SB_SYMENC_PADDING_NONE;
    return padding_;
}

void TElSymmetricCrypto::SetPadding(uint8_t padding) {
    if (context_ != nullptr)
        context_->SetPadding(padding == SB_SYMENC_PADDING_PKCS5 ? SB_SYMENC_PADDING_PKCS5 : SB_SYMENC_PADDING_NONE);
    else
        padding_ = padding;
}

size_t TElSymmetricCrypto::EstimateOutputSize(size_t inputSize, bool encrypting) const {
    if (GetIsStreamCipher() || mode_ == SYMMETRIC_MODE_CTR || mode_ == SYMMETRIC_MODE_CFB) return inputSize;
    int32_t b = 0;
    if (context_ != nullptr) {
        b = context_->GetBlockSize();
    } else {
        const ByteString value = !algorithmOID_.empty()
                                     ? GetProvider()->GetAlgorithmPropertyByOID(algorithmOID_, {}, 0, SB_ALGPROP_BLOCK_SIZE)
                                     : GetProvider()->GetAlgorithmProperty(algorithm_, 0, SB_ALGPROP_BLOCK_SIZE);
        b = PropertyValueToInteger(value, 0);
    }
    const uint8_t padding = GetPadding();
    if (padding != SB_SYMENC_PADDING_NONE && padding != SB_SYMENC_PADDING_PKCS5)
        throw EElSymmetricCryptoError(SInternalException);
    if (!encrypting || padding == SB_SYMENC_PADDING_NONE || b <= 0) return inputSize;
    return inputSize + size_t(b) - inputSize % size_t(b);
}

bool TElSymmetricCrypto::DoProgress(int64_t total, int64_t processed) {
    if (!OnProgress) return true;
    bool cancel = false;
    OnProgress(this, total, processed, cancel);
    return !cancel;
}

void TElSymmetricCrypto::Encrypt(const void* input, size_t inputSize, void* output, size_t& outputSize) {
    const size_t needed = EstimateOutputSize(inputSize, true);
    if (outputSize == 0) {
        outputSize = needed;
        return;
    }
    if (outputSize < needed || output == nullptr) throw EElSymmetricCryptoError(SOutputBufferTooSmall);
    InitializeEncryption();
    const auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    size_t fed = 0, written = 0;
    while (fed < inputSize) {
        const size_t piece = std::min(kChunk, inputSize - fed);
        size_t room = outputSize - written;
        EncryptUpdate(in + fed, piece, out + written, room);
        written += room;
        fed += piece;
        if (!DoProgress(int64_t(inputSize), int64_t(fed))) throw EElSymmetricCryptoError(SInterruptedByUser);
    }
    size_t room = outputSize - written;
    FinalizeEncryption(out + written, room);
    outputSize = written + room;
}

void TElSymmetricCrypto::Decrypt(const void* input, size_t inputSize, void* output, size_t& outputSize) {
    const size_t needed = EstimateOutputSize(inputSize, false);
    // With nothing to decrypt there is no size to ask for: the decryption itself runs, so an
    // empty padded message is refused instead of passing for an empty plaintext.
    if (outputSize == 0 && needed != 0) {
        outputSize = needed;
        return;
    }
    if (outputSize < needed || (output == nullptr && needed != 0))
        throw EElSymmetricCryptoError(SOutputBufferTooSmall);
    InitializeDecryption();
    auto* out = static_cast<uint8_t*>(output);
    size_t written = outputSize;
    DecryptUpdate(input, inputSize, out, written);
    size_t room = outputSize - written;
    FinalizeDecryption(out + written, room);
    outputSize = written + room;
}

// ---------------------------------------------------------------------------------------------
// The fixed-algorithm subclasses

std::unique_ptr<TElIDEASymmetricCrypto> TElIDEASymmetricCrypto::Create(uint8_t mode, TElCustomCryptoProvider* provider) {
    std::unique_ptr<TElIDEASymmetricCrypto> c(new TElIDEASymmetricCrypto(mode == 0 ? SYMMETRIC_MODE_CBC : mode, provider));
    if (!c->GetProvider()->IsAlgorithmSupported(SB_ALG_IDEA, ConvertCipherMode(c->GetMode())))
        throw EElSymmetricCryptoError(rtl::Format(SUnsupportedAlgorithmFacade, SB_ALG_IDEA));
    c->SetDefaults();
    c->algorithm_ = SB_ALG_IDEA;
    return c;
}

std::unique_ptr<TElRC2SymmetricCrypto> TElRC2SymmetricCrypto::Create(uint8_t mode, TElCustomCryptoProvider* provider) {
    std::unique_ptr<TElRC2SymmetricCrypto> c(new TElRC2SymmetricCrypto(mode == 0 ? SYMMETRIC_MODE_CBC : mode, provider));
    c->SetDefaults();
    c->algorithm_ = SB_ALG_RC2;
    return c;
}

std::unique_ptr<TElRC4SymmetricCrypto> TElRC4SymmetricCrypto::Create(uint8_t, TElCustomCryptoProvider* provider) {
    std::unique_ptr<TElRC4SymmetricCrypto> c(new TElRC4SymmetricCrypto(0, provider));
    c->SetDefaults();
    c->algorithm_ = SB_ALG_RC4;
    return c;
}

void TElRC4SymmetricCrypto::SetDefaults() {
    TElSymmetricCrypto::SetDefaults();
    skip_ = 0;
}

// The skip count goes with the initialisation itself: the provider applies the parameter
// list before the cipher's key set-up, which is where the keystream bytes are discarded.
void TElRC4SymmetricCrypto::AddContextParameters(TElRelativeDistinguishedName& params) const {
    if (skip_ > 0) params.Add(SB_CTXPROP_SKIP_KEYSTREAM_BYTES, IntegerToPropertyValue(skip_));
}

std::unique_ptr<TElDESSymmetricCrypto> TElDESSymmetricCrypto::Create(uint8_t mode, TElCustomCryptoProvider* provider) {
    std::unique_ptr<TElDESSymmetricCrypto> c(new TElDESSymmetricCrypto(mode == 0 ? SYMMETRIC_MODE_CBC : mode, provider));
    c->SetDefaults();
    c->algorithm_ = SB_ALG_DES;
    return c;
}

std::unique_ptr<TEl3DESSymmetricCrypto> TEl3DESSymmetricCrypto::Create(uint8_t mode, TElCustomCryptoProvider* provider) {
    std::unique_ptr<TEl3DESSymmetricCrypto> c(new TEl3DESSymmetricCrypto(mode == 0 ? SYMMETRIC_MODE_CBC : mode, provider));
    c->SetDefaults();
    c->algorithm_ = SB_ALG_3DES;
    return c;
}

// ---------------------------------------------------------------------------------------------

std::unique_ptr<TElSymmetricCrypto> TElSymmetricCryptoFactory::CreateInstance(int32_t algorithm, uint8_t mode) const {
    if (!DefaultCryptoProvider()->IsAlgorithmSupported(algorithm, ConvertCipherMode(mode))) return nullptr;
    return TElSymmetricCrypto::CreateByAlgorithm(algorithm, mode, nullptr);
}
