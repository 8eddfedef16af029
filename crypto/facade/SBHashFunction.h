// crypto/facade/SBHashFunction.h: the digest and HMAC facade: TElHashFunction computes one digest or
// HMAC through a provider hash context, TElHMACKeyMaterial holds the HMAC key as a provider
// key. TLS uses it for record MACs, handshake hashes and its PRF; PKCS#5 and PKCS#12 for key
// derivation and MACs; certificate code to digest data.
//
// Every operation is one provider call on the stored context; the provider's errors pass
// through unchanged. A null provider means DefaultCryptoProvider. The key material must
// outlive every TElHashFunction made with it. After Finish only Reset makes the object usable
// again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "crypto/facade/SBCustomCrypto.h"
#include "crypto/prov/SBCryptoProv.h"

namespace SBHashFunction {
// Declared for callers that catch them; no operation of this facade raises them (the
// provider's errors pass through). Distinct from the built-in engine's classes of the same
// names.
RTL_EXCEPTION(EElHashFunctionError, rtl::Exception);
RTL_EXCEPTION(EElHashFunctionUnsupportedError, EElHashFunctionError);
}  // namespace SBHashFunction

// The HMAC key: a provider key of the generic MAC code, owned and released through its
// provider.
class TElHMACKeyMaterial : public TElKeyMaterial {
public:
    explicit TElHMACKeyMaterial(TElCustomCryptoProvider* provider = nullptr);
    ~TElHMACKeyMaterial() override;
    TElHMACKeyMaterial(const TElHMACKeyMaterial&) = delete;
    TElHMACKeyMaterial& operator=(const TElHMACKeyMaterial&) = delete;

    void SetKey(std::span<const uint8_t> value);

    TElCustomCryptoKey* GetKey() const { return key_; }
    TElCustomCryptoProvider* GetProvider() const { return provider_; }

private:
    TElCustomCryptoKey* key_ = nullptr;
    TElCustomCryptoProvider* provider_ = nullptr;
};

class TElHashFunction final {
public:
    // A digest (or, with a key, HMAC) context of the code on the provider.
    explicit TElHashFunction(int32_t algorithm, TElCustomCryptoProvider* provider = nullptr);
    // An HMAC context on the material's provider with its key.
    static std::unique_ptr<TElHashFunction> CreateWithKey(int32_t algorithm, TElHMACKeyMaterial* keyMaterial);
    ~TElHashFunction();
    TElHashFunction(const TElHashFunction&) = delete;
    TElHashFunction& operator=(const TElHashFunction&) = delete;

    void Update(const void* buffer, size_t size);
    ByteString Finish();
    // A fresh context with the same algorithm and key.
    void Reset();

    static bool IsAlgorithmSupported(int32_t algorithm, TElCustomCryptoProvider* provider = nullptr);
    // The provider's digest-size property, in bits (0 when it has another shape).
    static int32_t GetDigestSizeBits(int32_t algorithm, TElCustomCryptoProvider* provider = nullptr);

private:
    TElHashFunction(TElCustomCryptoProvider* provider, TElHMACKeyMaterial* keyMaterial);
    TElCustomCryptoKey* MaterialKey() const;

    TElCustomCryptoProvider* provider_ = nullptr;
    TElCustomCryptoContext* context_ = nullptr;
    TElHMACKeyMaterial* keyMaterial_ = nullptr;
};
