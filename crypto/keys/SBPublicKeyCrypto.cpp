// crypto/keys/SBPublicKeyCrypto.cpp: the public-key material and crypto bases and the background
// generation worker (see the header). The concrete pairs are in SBPublicKeyCrypto_rsa.cpp,
// _dsa.cpp, _dh.cpp and _srp.cpp.
#include "crypto/keys/SBPublicKeyCrypto.h"

#include <cstring>

#include "crypto/builtin/SBCryptoProvDefault.h"
#include "crypto/keys/SBPKCS8.h"
#include "crypto/prov/SBCryptoProvUtils.h"

namespace {

[[noreturn]] void Fail(const char* message) {
    throw EElPublicKeyCryptoError(message);
}

TElCustomCryptoProvider* OrDefault(TElCustomCryptoProvider* provider) {
    return provider != nullptr ? provider : DefaultCryptoProvider();
}

rtl::SecureBytes ReadStream(rtl::Stream& stream, int64_t count) {
    if (count <= 0) count = stream.Size() - stream.Position();
    rtl::SecureBytes data(count > 0 ? size_t(count) : 0);
    const size_t read = data.empty() ? 0 : stream.Read(data.data(), data.size());
    data.resize(read);
    return data;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Worker

TElPublicKeyMaterialWorkingThread::TElPublicKeyMaterialWorkingThread(TElPublicKeyMaterial* owner, int bits,
                                                                     int qbits)
    : owner_(owner), bits_(bits), qbits_(qbits) {}

TElPublicKeyMaterialWorkingThread::~TElPublicKeyMaterialWorkingThread() {
    Terminate();
    WaitFor();
}

void TElPublicKeyMaterialWorkingThread::Start() {
    thread_ = std::thread([this] { Execute(); });
}

void TElPublicKeyMaterialWorkingThread::WaitFor() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TElPublicKeyMaterialWorkingThread::Execute() {
    bool success = false;
    std::string error;
    try {
        auto* dsa = dynamic_cast<TElDSAKeyMaterial*>(owner_);
        if (dsa != nullptr && qbits_ != 0) {
            dsa->InternalGenerateQ(bits_, qbits_);
        } else {
            owner_->InternalGenerate(bits_);
        }
        success = true;
    } catch (const std::exception& e) {
        // A failed or cancelled generation ends here; the material records why.
        error = e.what();
    }
    owner_->DoGenerationFinished(success, error);
}

// ---------------------------------------------------------------------------------------------
// Material

TElPublicKeyMaterial::TElPublicKeyMaterial(TElCustomCryptoProvider* provider) : provider_(OrDefault(provider)) {}

TElPublicKeyMaterial::~TElPublicKeyMaterial() {
    // The starting class has stopped its worker already; this is the last line of defence for
    // the members of this class.
    StopGeneration();
    if (key_ != nullptr) key_->GetCryptoProvider()->ReleaseKey(key_);
}

void TElPublicKeyMaterial::StopGeneration() {
    // Joined before the pointer changes: the worker reads it until it ends.
    if (worker_) {
        worker_->Terminate();
        worker_->WaitFor();
    }
    worker_.reset();
}

bool TElPublicKeyMaterial::GetExportable() const {
    return key_ != nullptr && key_->GetIsExportable();
}

void TElPublicKeyMaterial::Generate(int bits) {
    if (busy_) return;
    InternalGenerate(bits);
}

void TElPublicKeyMaterial::InternalGenerate(int) {
    Fail(SPKUnsupportedOperation);
}

bool TElPublicKeyMaterial::GetAsyncOperationFinished() const {
    {
        std::lock_guard<std::mutex> guard(asyncLock_);
        if (asyncFinished_) return true;
    }
    return key_ != nullptr && key_->GetAsyncOperationFinished();
}

std::unique_ptr<TElKeyMaterial> TElPublicKeyMaterial::Clone() const {
    Fail(SPKUnsupportedOperation);
}

void TElPublicKeyMaterial::LoadPublic(const void*, size_t) {
    Fail(SPKUnsupportedOperation);
}
void TElPublicKeyMaterial::LoadSecret(const void*, size_t) {
    Fail(SPKUnsupportedOperation);
}
void TElPublicKeyMaterial::SavePublic(void*, size_t&) const {
    Fail(SPKUnsupportedOperation);
}
void TElPublicKeyMaterial::SaveSecret(void*, size_t&) const {
    Fail(SPKUnsupportedOperation);
}

void TElPublicKeyMaterial::SavePublicToStream(rtl::Stream& stream) const {
    size_t size = 0;
    SavePublic(nullptr, size);
    rtl::SecureBytes data(size);
    if (size > 0) SavePublic(data.data(), size);
    if (size > 0) stream.Write(data.data(), size);
}

void TElPublicKeyMaterial::SaveSecretToStream(rtl::Stream& stream) const {
    size_t size = 0;
    SaveSecret(nullptr, size);
    rtl::SecureBytes data(size);
    if (size > 0) SaveSecret(data.data(), size);
    if (size > 0) stream.Write(data.data(), size);
}

void TElPublicKeyMaterial::SaveToStream(rtl::Stream& stream) const {
    if (GetSecretKey()) {
        SaveSecretToStream(stream);
    } else {
        SavePublicToStream(stream);
    }
}

void TElPublicKeyMaterial::LoadFromStream(rtl::Stream& stream, int64_t count) {
    const int64_t position = stream.Position();
    try {
        LoadSecretFromStream(stream, count);
        return;
    } catch (const std::exception&) {
        // Not a private key: the same bytes again as a public one.
    }
    stream.SetPosition(position);
    LoadPublicFromStream(stream, count);
}

void TElPublicKeyMaterial::LoadPublicFromStream(rtl::Stream& stream, int64_t count) {
    const rtl::SecureBytes data = ReadStream(stream, count);
    LoadPublic(data.data(), data.size());
}

void TElPublicKeyMaterial::LoadSecretFromStream(rtl::Stream& stream, int64_t count) {
    const rtl::SecureBytes data = ReadStream(stream, count);
    LoadSecret(data.data(), data.size());
}

rtl::SecureBytes TElPublicKeyMaterial::Exported(bool secret) const {
    size_t size = 0;
    secret ? key_->ExportSecret(nullptr, size) : key_->ExportPublic(nullptr, size);
    rtl::SecureBytes out(size);
    if (size > 0) secret ? key_->ExportSecret(out.data(), size) : key_->ExportPublic(out.data(), size);
    out.resize(size);
    return out;
}

std::string_view TElPublicKeyMaterial::PropertyBytes(const void* buffer, size_t size) {
    return std::string_view(static_cast<const char*>(buffer), buffer != nullptr ? size : 0);
}

void TElPublicKeyMaterial::RequireIdle() const {
    if (busy_) Fail(SPKAsyncOperationPending);
}

void TElPublicKeyMaterial::PrepareForEncryption(bool multiUse) {
    RequireIdle();
    if (key_ != nullptr) key_->PrepareForEncryption(multiUse);
}

void TElPublicKeyMaterial::PrepareForSigning(bool multiUse) {
    RequireIdle();
    if (key_ != nullptr) key_->PrepareForSigning(multiUse);
}

bool TElPublicKeyMaterial::GetPublicKey() const {
    return key_ != nullptr && key_->GetIsPublic();
}

bool TElPublicKeyMaterial::GetSecretKey() const {
    return key_ != nullptr && key_->GetIsSecret();
}

bool TElPublicKeyMaterial::GetAsyncSuccess() const {
    std::lock_guard<std::mutex> guard(asyncLock_);
    return asyncSuccess_;
}

std::string TElPublicKeyMaterial::GetAsyncErrorText() const {
    std::lock_guard<std::mutex> guard(asyncLock_);
    return asyncError_;
}

void TElPublicKeyMaterial::StartGeneration(int bits, int qbits) {
    if (busy_) return;
    worker_.reset();  // a finished worker of an earlier run is joined here
    {
        std::lock_guard<std::mutex> guard(asyncLock_);
        asyncFinished_ = asyncSuccess_ = false;
        asyncError_.clear();
    }
    busy_ = true;
    worker_ = std::make_unique<TElPublicKeyMaterialWorkingThread>(this, bits, qbits);
    worker_->Start();
}

TSBProgressFunc TElPublicKeyMaterial::GenerationProgress() const {
    if (!worker_ || !busy_) return nullptr;
    const TElPublicKeyMaterialWorkingThread* worker = worker_.get();
    return [worker](int64_t, int64_t, void*) { return !worker->GetTerminated(); };
}

void TElPublicKeyMaterial::DoGenerationFinished(bool success, const std::string& error) {
    {
        std::lock_guard<std::mutex> guard(asyncLock_);
        asyncSuccess_ = success;
        asyncError_ = error;
    }
    if (OnGenerationFinished) OnGenerationFinished(this, success);
    {
        std::lock_guard<std::mutex> guard(asyncLock_);
        asyncFinished_ = true;
    }
    busy_ = false;
}

void TElPublicKeyMaterial::WaitForGeneration() {
    if (worker_) worker_->WaitFor();
}

void TElPublicKeyMaterial::CancelGeneration() {
    if (worker_) {
        worker_->Terminate();
        worker_->WaitFor();
    }
}

void TElPublicKeyMaterial::AdoptCloneOf(const TElPublicKeyMaterial& source) {
    if (key_ != nullptr) key_->GetCryptoProvider()->ReleaseKey(key_);
    key_ = source.key_ != nullptr ? source.key_->GetCryptoProvider()->CloneKey(source.key_) : nullptr;
}

bool TElPublicKeyMaterial::IsPEM(const void* buffer, size_t size) {
    const auto* p = static_cast<const char*>(buffer);
    size_t i = 0;
    while (i < size && (p[i] == '\t' || p[i] == '\n' || p[i] == '\r' || p[i] == ' '))
        ++i;
    return size - i > 10 && std::memcmp(p + i, "-----BEGIN", 10) == 0;
}

rtl::SecureBytes TElPublicKeyMaterial::ToDER(const void* buffer, size_t size, const ByteString& passphrase,
                                             bool passphraseErrors) {
    const auto* p = static_cast<const uint8_t*>(buffer);
    if (!IsPEM(buffer, size)) return rtl::SecureBytes(p, p + size);
    int32_t outSize = 0;
    std::string header;
    int32_t code = PEMDecode(buffer, int32_t(size), nullptr, passphrase, outSize, header);
    rtl::SecureBytes der;
    if (code == PEM_DECODE_RESULT_NOT_ENOUGH_SPACE || code == PEM_DECODE_RESULT_OK) {
        der.assign(size_t(outSize > 0 ? outSize : 0), 0);
        code = PEMDecode(buffer, int32_t(size), der.data(), passphrase, outSize, header);
    }
    if (code == PEM_DECODE_RESULT_INVALID_PASSPHRASE && passphraseErrors) Fail(SPKInvalidPassphrase);
    if (code != PEM_DECODE_RESULT_OK) Fail(SPKInvalidPEM);
    der.resize(size_t(outSize));
    return der;
}

rtl::SecureBytes TElPublicKeyMaterial::SavePKCS8(TElPKCS8PrivateKey& key, const ByteString& passphrase) {
    rtl::SecureBytes out;
    // The callers fix the algorithm and the cipher, so a refusal here is our own fault: it
    // raises rather than handing the caller a key of no bytes.
    if (key.SaveToBytes(out, false, passphrase) != 0) Fail(SPKInternalError);
    return out;
}

void TElPublicKeyMaterial::Deliver(const rtl::SecureBytes& data, void* buffer, size_t& size, bool pem,
                                   const std::string& header, const ByteString& passphrase) {
    if (!pem) {
        if (buffer == nullptr || size == 0) {
            size = data.size();
            return;
        }
        if (size < data.size()) Fail(SPKOutputBufferTooSmall);
        if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
        size = data.size();
        return;
    }
    // PEMEncode draws a new IV on every call, so the text is made once and its length answered
    // from it: a size question does not encrypt twice with different IVs.
    int32_t textSize = 0;
    const bool encrypt = !passphrase.empty();
    PEMEncode(data.data(), int32_t(data.size()), nullptr, textSize, header, encrypt, passphrase);
    std::string text(size_t(textSize > 0 ? textSize : 0), '\0');
    if (!PEMEncode(data.data(), int32_t(data.size()), text.data(), textSize, header, encrypt, passphrase))
        Fail(SPKPEMWriteError);
    text.resize(size_t(textSize));
    if (buffer == nullptr || size == 0) {
        size = text.size();
        return;
    }
    if (size < text.size()) Fail(SPKOutputBufferTooSmall);
    std::memcpy(buffer, text.data(), text.size());
    size = text.size();
}

// ---------------------------------------------------------------------------------------------
// Crypto

TElPublicKeyCrypto::TElPublicKeyCrypto(TElCustomCryptoProvider* provider) : provider_(provider) {}

TElPublicKeyCrypto::~TElPublicKeyCrypto() {
    ReleaseContext();
}

void TElPublicKeyCrypto::FillOperationParams(TElRelativeDistinguishedName& list) {
    list.Add(SB_CTXPROP_INPUT_IS_HASH, BooleanToPropertyValue(inputIsHash_));
}

bool TElPublicKeyCrypto::GetSupportsEncryption() const {
    Fail(SPKUnsupportedOperation);
}
bool TElPublicKeyCrypto::GetSupportsSigning() const {
    Fail(SPKUnsupportedOperation);
}

void TElPublicKeyCrypto::SetKeyMaterial(TElPublicKeyMaterial* material) {
    if (!busy_) keyMaterial_ = material;
}

void TElPublicKeyCrypto::SignInit(bool) {
    Fail(SPKUnsupportedOperation);
}
void TElPublicKeyCrypto::SignUpdate(const void*, size_t) {
    Fail(SPKUnsupportedOperation);
}
void TElPublicKeyCrypto::SignFinal() {
    Fail(SPKUnsupportedOperation);
}
void TElPublicKeyCrypto::EncryptInit() {
    Fail(SPKUnsupportedOperation);
}
void TElPublicKeyCrypto::EncryptUpdate(const void*, size_t) {
    Fail(SPKUnsupportedOperation);
}
void TElPublicKeyCrypto::EncryptFinal() {
    Fail(SPKUnsupportedOperation);
}
void TElPublicKeyCrypto::DecryptInit() {
    Fail(SPKUnsupportedOperation);
}
void TElPublicKeyCrypto::DecryptUpdate(const void*, size_t) {
    Fail(SPKUnsupportedOperation);
}
void TElPublicKeyCrypto::DecryptFinal() {
    Fail(SPKUnsupportedOperation);
}
void TElPublicKeyCrypto::VerifyInit(bool, const void*, size_t) {
    Fail(SPKUnsupportedOperation);
}
void TElPublicKeyCrypto::VerifyUpdate(const void*, size_t) {
    Fail(SPKUnsupportedOperation);
}
int32_t TElPublicKeyCrypto::VerifyFinal() {
    Fail(SPKUnsupportedOperation);
}
int64_t TElPublicKeyCrypto::EstimateOutputSize(const void*, int64_t, int32_t) {
    Fail(SPKUnsupportedOperation);
}

std::unique_ptr<TElSymmetricKeyMaterial> TElPublicKeyCrypto::DecryptKey(const void*, size_t, std::string_view,
                                                                        std::string_view) {
    Fail(SPKUnsupportedOperation);
}

TElCustomCryptoProvider* TElPublicKeyCrypto::GetProvider() const {
    if (provider_ != nullptr) return provider_;
    if (keyMaterial_ != nullptr && keyMaterial_->GetProvider() != nullptr) return keyMaterial_->GetProvider();
    return DefaultCryptoProvider();
}

TElCustomCryptoKey* TElPublicKeyCrypto::MaterialKey() const {
    return keyMaterial_ != nullptr ? keyMaterial_->GetKey() : nullptr;
}

void TElPublicKeyCrypto::WriteOutput(const void* buffer, size_t size) {
    const auto* p = static_cast<const uint8_t*>(buffer);
    if (OutputCoding != 1) {
        if (size > 0) output_.insert(output_.end(), p, p + size);
        return;
    }
    int32_t needed = 0;
    if (Base64EncodeUpdate(encoder_, buffer, int32_t(size), nullptr, needed)) return;  // nothing to write yet
    rtl::SecureBytes text(static_cast<size_t>(needed));
    if (!Base64EncodeUpdate(encoder_, buffer, int32_t(size), text.data(), needed)) Fail(SPKInternalError);
    output_.insert(output_.end(), text.begin(), text.begin() + needed);
}

void TElPublicKeyCrypto::SetInputIsHash(bool value) {
    if (busy_) return;
    inputIsHash_ = value;
    if (context_ != nullptr) context_->SetContextProp(SB_CTXPROP_INPUT_IS_HASH, BooleanToPropertyValue(value));
}

int32_t TElPublicKeyCrypto::GetHashAlgorithm() const {
    if (busy_) return SB_ALG_UNKNOWN;
    if (context_ != nullptr) return GetAlgorithmByOID(context_->GetContextProp(SB_CTXPROP_HASH_ALGORITHM));
    return hashAlgorithm_;
}

void TElPublicKeyCrypto::SetHashAlgorithm(int32_t value) {
    if (busy_) return;
    hashAlgorithm_ = value;
    if (context_ != nullptr) context_->SetContextProp(SB_CTXPROP_HASH_ALGORITHM, GetOIDByHashAlgorithm(value));
}

void TElPublicKeyCrypto::ReleaseContext() {
    if (context_ != nullptr) context_->GetCryptoProvider()->ReleaseCryptoContext(context_);
    context_ = nullptr;
}

void TElPublicKeyCrypto::StartContext(const TContextStart& start) {
    result_.clear();
    ReleaseContext();
    TElRelativeDistinguishedName list;
    FillOperationParams(list);
    context_ = start(GetProvider(), &list);
}

void TElPublicKeyCrypto::UpdateContext(void (TElCustomCryptoProvider::*update)(TElCustomCryptoContext*, const void*,
                                                                               size_t, void*, size_t&,
                                                                               const TElRelativeDistinguishedName*,
                                                                               const TSBProgressFunc&, void*),
                                       const void* buffer, size_t size) {
    TElCustomCryptoProvider* provider = context_->GetCryptoProvider();
    size_t needed = 0;
    (provider->*update)(context_, buffer, size, nullptr, needed, nullptr, nullptr, nullptr);
    const size_t at = result_.size();
    result_.resize(at + (needed > 0 ? needed : 1));
    size_t written = needed > 0 ? needed : 1;
    (provider->*update)(context_, buffer, size, result_.data() + at, written, nullptr, nullptr, nullptr);
    result_.resize(at + written);
}

void TElPublicKeyCrypto::FinishContext(void (TElCustomCryptoProvider::*final)(TElCustomCryptoContext*, void*,
                                                                              size_t&,
                                                                              const TElRelativeDistinguishedName*,
                                                                              const TSBProgressFunc&, void*)) {
    struct Release {
        TElPublicKeyCrypto* self;
        ~Release() { self->ReleaseContext(); }
    } release{this};
    TElCustomCryptoProvider* provider = context_->GetCryptoProvider();
    size_t needed = 0;
    (provider->*final)(context_, nullptr, needed, nullptr, nullptr, nullptr);
    const size_t at = result_.size();
    result_.resize(at + needed);
    size_t written = needed;
    (provider->*final)(context_, result_.data() + at, written, nullptr, nullptr, nullptr);
    result_.resize(at + written);
    WriteOutput(result_.data(), result_.size());
}

int32_t TElPublicKeyCrypto::FinishVerification() {
    struct Release {
        TElPublicKeyCrypto* self;
        ~Release() { self->ReleaseContext(); }
    } release{this};
    TElCustomCryptoProvider* provider = context_->GetCryptoProvider();
    size_t needed = 0;
    provider->VerifyFinal(context_, nullptr, needed, nullptr, nullptr, nullptr);
    rtl::SecureBytes room(needed > 0 ? needed : 1);
    size_t written = room.size();
    const int32_t result = provider->VerifyFinal(context_, room.data(), written, nullptr, nullptr, nullptr);
    return result == 0 || result == 1 || result == 2 ? result : 3;
}

void TElPublicKeyCrypto::AbandonContext(const std::function<void()>& final) {
    // The Final step still runs and releases the context; the Update step's error is the one
    // that matters, so the Final step's own is dropped here.
    try {
        final();
    } catch (...) {
    }
    ReleaseContext();
}

void TElPublicKeyCrypto::LoadInput(const void* input, size_t size) {
    const auto* p = static_cast<const uint8_t*>(input);
    if (InputCoding == 0) {
        input_.assign(p, p + size);
        return;
    }
    Base64DecodeInit(decoder_);
    // The size question already decodes when no whole group is ready (nothing needed, nothing
    // written): asking again would feed the same characters twice.
    int32_t needed = 0;
    input_.clear();
    if (!Base64DecodeUpdate(decoder_, input, int32_t(size), nullptr, needed)) {
        if (needed == 0) Fail(SPKInvalidBase64);
        input_.assign(size_t(needed), 0);
        int32_t written = needed;
        if (!Base64DecodeUpdate(decoder_, input, int32_t(size), input_.data(), written)) Fail(SPKInvalidBase64);
        input_.resize(size_t(written));
    }
    uint8_t tail[4];
    int32_t tailSize = 4;
    if (!Base64DecodeFinal(decoder_, tail, tailSize)) Fail(SPKInvalidBase64);
    input_.insert(input_.end(), tail, tail + tailSize);
}

void TElPublicKeyCrypto::OneShot(Run run, const void* input, size_t inputSize, void* output, size_t& outputSize) {
    if (busy_) Fail(SPKAsyncOperationPending);
    if (run == Run::Sign ? !GetSupportsSigning() : !GetSupportsEncryption()) Fail(SPKUnsupportedOperation);
    if (run == Run::Encrypt && (keyMaterial_ == nullptr || !keyMaterial_->GetPublicKey())) Fail(SPKPublicKeyNotFound);
    if (run != Run::Encrypt && (keyMaterial_ == nullptr || !keyMaterial_->GetSecretKey())) Fail(SPKSecretKeyNotFound);
    if (run == Run::Sign && inputIsHash_) {
        const auto* p = static_cast<const uint8_t*>(input);
        input_.assign(p, p + inputSize);
    } else {
        LoadInput(input, inputSize);
    }
    const int32_t operation = run == Run::Encrypt ? 0 : run == Run::Decrypt ? 1 : 3;
    int64_t needed = EstimateOutputSize(input_.data(), int64_t(input_.size()), operation);
    if (OutputCoding == 1) needed = 4 * ((needed + 2) / 3);
    if (output == nullptr || outputSize < size_t(needed)) {
        if (output == nullptr || outputSize == 0) {
            outputSize = size_t(needed);
            return;
        }
        Fail(SPKOutputBufferTooSmall);
    }
    output_.clear();
    if (OutputCoding == 1) Base64EncodeInit(encoder_, 0, 3);
    void (TElPublicKeyCrypto::*update)(const void*, size_t) = nullptr;
    void (TElPublicKeyCrypto::*final)() = nullptr;
    switch (run) {
        case Run::Encrypt:
            EncryptInit();
            update = &TElPublicKeyCrypto::EncryptUpdate;
            final = &TElPublicKeyCrypto::EncryptFinal;
            break;
        case Run::Decrypt:
            DecryptInit();
            update = &TElPublicKeyCrypto::DecryptUpdate;
            final = &TElPublicKeyCrypto::DecryptFinal;
            break;
        case Run::Sign:
            SignInit(true);
            update = &TElPublicKeyCrypto::SignUpdate;
            final = &TElPublicKeyCrypto::SignFinal;
            break;
    }
    try {
        (this->*update)(input_.data(), input_.size());
    } catch (...) {
        AbandonContext([&] { (this->*final)(); });
        throw;
    }
    (this->*final)();
    if (OutputCoding == 1) {
        uint8_t tail[8];
        int32_t tailSize = sizeof(tail);
        if (!Base64EncodeFinal(encoder_, tail, tailSize)) Fail(SPKInternalError);
        output_.insert(output_.end(), tail, tail + tailSize);
    }
    if (output_.size() > outputSize) Fail(SPKInternalError);
    if (!output_.empty()) std::memcpy(output, output_.data(), output_.size());
    outputSize = output_.size();
}

void TElPublicKeyCrypto::Encrypt(const void* input, size_t inputSize, void* output, size_t& outputSize) {
    OneShot(Run::Encrypt, input, inputSize, output, outputSize);
}

void TElPublicKeyCrypto::Decrypt(const void* input, size_t inputSize, void* output, size_t& outputSize) {
    OneShot(Run::Decrypt, input, inputSize, output, outputSize);
}

void TElPublicKeyCrypto::SignDetached(const void* input, size_t inputSize, void* output, size_t& outputSize) {
    OneShot(Run::Sign, input, inputSize, output, outputSize);
}

int32_t TElPublicKeyCrypto::VerifyDetached(const void* data, size_t dataSize, const void* signature,
                                           size_t signatureSize) {
    if (busy_) Fail(SPKAsyncOperationPending);
    if (!GetSupportsSigning()) Fail(SPKUnsupportedOperation);
    if (keyMaterial_ == nullptr || !keyMaterial_->GetPublicKey()) Fail(SPKPublicKeyNotFound);
    LoadInput(signature, signatureSize);
    const rtl::SecureBytes sig = input_;
    VerifyInit(true, sig.data(), sig.size());
    if (inputIsHash_) {
        const auto* p = static_cast<const uint8_t*>(data);
        input_.assign(p, p + dataSize);
    } else {
        LoadInput(data, dataSize);
    }
    try {
        VerifyUpdate(input_.data(), input_.size());
    } catch (...) {
        AbandonContext([&] { VerifyFinal(); });
        throw;
    }
    return VerifyFinal();
}
