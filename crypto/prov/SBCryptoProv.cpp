// crypto/prov/SBCryptoProv.cpp: the framework's defaults and the one-shot operations built from
// init, update and final.
#include "crypto/prov/SBCryptoProv.h"

#include "crypto/prov/SBCryptoProvRS.h"
#include "rtl/Format.h"

int32_t ConvertCipherMode(int32_t mode) {
    switch (mode) {
        case 1:
        case 2:
            return mode;
        case 3:
            return 4;
        case 4:
            return 3;
        default:
            return 0;
    }
}

namespace {

// Owns a context for the length of a one-shot operation: ReleaseCryptoContext runs when the
// operation leaves, normally or by an exception.
class ContextGuard {
public:
    ContextGuard(TElCustomCryptoProvider& provider, TElCustomCryptoContext* context)
        : provider_(provider), context_(context) {}
    ~ContextGuard() {
        if (context_ != nullptr) provider_.ReleaseCryptoContext(context_);
    }
    ContextGuard(const ContextGuard&) = delete;
    ContextGuard& operator=(const ContextGuard&) = delete;
    TElCustomCryptoContext* get() const { return context_; }

private:
    TElCustomCryptoProvider& provider_;
    TElCustomCryptoContext* context_;
};

// The output size of a context's estimate, cut to 32 bits as the callers' sizes are.
size_t EstimatedSize(TElCustomCryptoContext* context, size_t inputSize) {
    return size_t(uint32_t(context->EstimateOutputSize(int64_t(inputSize))));
}

}  // namespace

bool TElCustomCryptoProvider::IsAlgorithmSupported(int32_t, int32_t) {
    return false;
}

bool TElCustomCryptoProvider::IsAlgorithmSupportedByOID(std::string_view, std::string_view, int32_t) {
    return false;
}

ByteString TElCustomCryptoProvider::GetAlgorithmProperty(int32_t algorithm, int32_t, std::string_view) {
    throw EElCryptoProviderError(rtl::Format(SUnsupportedAlgorithmInt, algorithm));
}

ByteString TElCustomCryptoProvider::GetAlgorithmPropertyByOID(std::string_view algOID, std::string_view, int32_t,
                                                              std::string_view) {
    throw EElCryptoProviderError(rtl::Format(SUnsupportedAlgorithmStr, OIDToText(algOID)));
}

ByteString TElCustomCryptoProvider::GetProviderProp(std::string_view propId, std::string_view) {
    throw EElCryptoProviderError(rtl::Format(SUnsupportedPropertyStr, std::string(propId)));
}

void TElCustomCryptoProvider::SetProviderProp(std::string_view propId, std::string_view) {
    throw EElCryptoProviderError(rtl::Format(SUnsupportedPropertyStr, std::string(propId)));
}

void TElCustomCryptoProvider::DoCreateObject(TElCryptoObject object) {
    if (OnCreateObject) OnCreateObject(this, object);
}

void TElCustomCryptoProvider::DoDestroyObject(TElCryptoObject object) {
    if (OnDestroyObject) OnDestroyObject(this, object);
}

// Encrypt, Decrypt, Sign and their OID forms share these steps: with no output only the size
// estimate; otherwise the update writes what it can and the final step writes the rest after it.
namespace {

using UpdateOperation = void (TElCustomCryptoProvider::*)(TElCustomCryptoContext*, const void*, size_t, void*,
                                                          size_t&, const TElRelativeDistinguishedName*,
                                                          const TSBProgressFunc&, void*);
using FinalOperation = void (TElCustomCryptoProvider::*)(TElCustomCryptoContext*, void*, size_t&,
                                                         const TElRelativeDistinguishedName*, const TSBProgressFunc&,
                                                         void*);

void RunOneShot(TElCustomCryptoProvider& provider, UpdateOperation update, FinalOperation final,
                TElCustomCryptoContext* context, const void* input, size_t inputSize, void* output,
                size_t& outputSize, const TElRelativeDistinguishedName* params) {
    if (output == nullptr) {
        outputSize = EstimatedSize(context, inputSize);
        return;
    }
    size_t written = outputSize;
    (provider.*update)(context, input, inputSize, output, written, params, nullptr, nullptr);
    size_t rest = outputSize - written;
    (provider.*final)(context, static_cast<uint8_t*>(output) + written, rest, params, nullptr, nullptr);
    outputSize = written + rest;
}

}  // namespace

void TElCustomCryptoProvider::Encrypt(int32_t algorithm, int32_t mode, TElCustomCryptoKey* key, const void* input,
                                      size_t inputSize, void* output, size_t& outputSize,
                                      const TElRelativeDistinguishedName* params, const TSBProgressFunc&, void*) {
    ContextGuard guard(*this, EncryptInit(algorithm, mode, key, params));
    RunOneShot(*this, &TElCustomCryptoProvider::EncryptUpdate, &TElCustomCryptoProvider::EncryptFinal, guard.get(),
               input, inputSize, output, outputSize, params);
}

void TElCustomCryptoProvider::EncryptByOID(std::string_view algOID, std::string_view algParams, int32_t mode,
                                           TElCustomCryptoKey* key, const void* input, size_t inputSize, void* output,
                                           size_t& outputSize, const TElRelativeDistinguishedName* params,
                                           const TSBProgressFunc&, void*) {
    ContextGuard guard(*this, EncryptInitByOID(algOID, algParams, mode, key, params));
    RunOneShot(*this, &TElCustomCryptoProvider::EncryptUpdate, &TElCustomCryptoProvider::EncryptFinal, guard.get(),
               input, inputSize, output, outputSize, params);
}

void TElCustomCryptoProvider::Decrypt(int32_t algorithm, int32_t mode, TElCustomCryptoKey* key, const void* input,
                                      size_t inputSize, void* output, size_t& outputSize,
                                      const TElRelativeDistinguishedName* params, const TSBProgressFunc&, void*) {
    ContextGuard guard(*this, DecryptInit(algorithm, mode, key, params));
    RunOneShot(*this, &TElCustomCryptoProvider::DecryptUpdate, &TElCustomCryptoProvider::DecryptFinal, guard.get(),
               input, inputSize, output, outputSize, params);
}

void TElCustomCryptoProvider::DecryptByOID(std::string_view algOID, std::string_view algParams, int32_t mode,
                                           TElCustomCryptoKey* key, const void* input, size_t inputSize, void* output,
                                           size_t& outputSize, const TElRelativeDistinguishedName* params,
                                           const TSBProgressFunc&, void*) {
    ContextGuard guard(*this, DecryptInitByOID(algOID, algParams, mode, key, params));
    RunOneShot(*this, &TElCustomCryptoProvider::DecryptUpdate, &TElCustomCryptoProvider::DecryptFinal, guard.get(),
               input, inputSize, output, outputSize, params);
}

void TElCustomCryptoProvider::Sign(int32_t algorithm, TElCustomCryptoKey* key, bool detached, const void* input,
                                   size_t inputSize, void* output, size_t& outputSize,
                                   const TElRelativeDistinguishedName* params, const TSBProgressFunc&, void*) {
    ContextGuard guard(*this, SignInit(algorithm, key, detached, params));
    RunOneShot(*this, &TElCustomCryptoProvider::SignUpdate, &TElCustomCryptoProvider::SignFinal, guard.get(), input,
               inputSize, output, outputSize, params);
}

void TElCustomCryptoProvider::SignByOID(std::string_view algOID, std::string_view algParams, TElCustomCryptoKey* key,
                                        bool detached, const void* input, size_t inputSize, void* output,
                                        size_t& outputSize, const TElRelativeDistinguishedName* params,
                                        const TSBProgressFunc&, void*) {
    ContextGuard guard(*this, SignInitByOID(algOID, algParams, key, detached, params));
    RunOneShot(*this, &TElCustomCryptoProvider::SignUpdate, &TElCustomCryptoProvider::SignFinal, guard.get(), input,
               inputSize, output, outputSize, params);
}

namespace {

// Verify with message recovery: the recovered message goes to the output.
int32_t RunVerify(TElCustomCryptoProvider& provider, TElCustomCryptoContext* context, const void* input,
                  size_t inputSize, void* output, size_t& outputSize, const TElRelativeDistinguishedName* params) {
    if (output == nullptr) {
        outputSize = EstimatedSize(context, inputSize);
        return SB_VR_SIZE_ONLY;
    }
    size_t written = outputSize;
    provider.VerifyUpdate(context, input, inputSize, output, written, params, nullptr, nullptr);
    size_t rest = outputSize - written;
    const int32_t result =
        provider.VerifyFinal(context, static_cast<uint8_t*>(output) + written, rest, params, nullptr, nullptr);
    outputSize = written + rest;
    return result;
}

// A detached verification writes nothing, but a provider reads a null output as a size request
// and would then neither take the data nor verify; a real buffer with no room tells it that
// the data are meant.
int32_t RunVerifyDetached(TElCustomCryptoProvider& provider, TElCustomCryptoContext* context, const void* data,
                          size_t dataSize, const TElRelativeDistinguishedName* params) {
    uint8_t noRoom[1] = {0};
    size_t size = 0;
    provider.VerifyUpdate(context, data, dataSize, noRoom, size, params);
    size = 0;
    return provider.VerifyFinal(context, noRoom, size, params);
}

}  // namespace

int32_t TElCustomCryptoProvider::Verify(int32_t algorithm, TElCustomCryptoKey* key, const void* input,
                                        size_t inputSize, void* output, size_t& outputSize,
                                        const TElRelativeDistinguishedName* params, const TSBProgressFunc&, void*) {
    ContextGuard guard(*this, VerifyInit(algorithm, key, nullptr, 0, params));
    return RunVerify(*this, guard.get(), input, inputSize, output, outputSize, params);
}

int32_t TElCustomCryptoProvider::VerifyByOID(std::string_view algOID, std::string_view algParams,
                                             TElCustomCryptoKey* key, const void* input, size_t inputSize,
                                             void* output, size_t& outputSize,
                                             const TElRelativeDistinguishedName* params, const TSBProgressFunc&,
                                             void*) {
    ContextGuard guard(*this, VerifyInitByOID(algOID, algParams, key, nullptr, 0, params));
    return RunVerify(*this, guard.get(), input, inputSize, output, outputSize, params);
}

int32_t TElCustomCryptoProvider::VerifyDetached(int32_t algorithm, TElCustomCryptoKey* key, const void* data,
                                                size_t dataSize, const void* signature, size_t signatureSize,
                                                const TElRelativeDistinguishedName* params, const TSBProgressFunc&,
                                                void*) {
    ContextGuard guard(*this, VerifyInit(algorithm, key, signature, signatureSize, params));
    return RunVerifyDetached(*this, guard.get(), data, dataSize, params);
}

int32_t TElCustomCryptoProvider::VerifyDetachedByOID(std::string_view algOID, std::string_view algParams,
                                                     TElCustomCryptoKey* key, const void* data, size_t dataSize,
                                                     const void* signature, size_t signatureSize,
                                                     const TElRelativeDistinguishedName* params,
                                                     const TSBProgressFunc&, void*) {
    ContextGuard guard(*this, VerifyInitByOID(algOID, algParams, key, signature, signatureSize, params));
    return RunVerifyDetached(*this, guard.get(), data, dataSize, params);
}

ByteString TElCustomCryptoProvider::Hash(int32_t algorithm, TElCustomCryptoKey* key, const void* buffer, size_t size,
                                         const TElRelativeDistinguishedName* params, const TSBProgressFunc&, void*) {
    ContextGuard guard(*this, HashInit(algorithm, key, params));
    HashUpdate(guard.get(), buffer, size, params);
    return HashFinal(guard.get(), params);
}

ByteString TElCustomCryptoProvider::HashByOID(std::string_view algOID, std::string_view algParams,
                                              TElCustomCryptoKey* key, const void* buffer, size_t size,
                                              const TElRelativeDistinguishedName* params, const TSBProgressFunc&,
                                              void*) {
    ContextGuard guard(*this, HashInitByOID(algOID, algParams, key, params));
    HashUpdate(guard.get(), buffer, size, params);
    return HashFinal(guard.get(), params);
}
