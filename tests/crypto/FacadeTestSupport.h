// tests/crypto/FacadeTestSupport.h: what the public-key facade tests share: the one-shot
// operations of a crypto object run with their size question first, and key materials filled
// from OpenSSL's keys.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "crypto/OpenSSLPkey.h"
#include "crypto/keys/SBPublicKeyCrypto.h"

namespace facadetest {

using Bytes = std::vector<uint8_t>;

enum class Op { Encrypt, Decrypt, Sign };

// The size question (size 0), then the run into exactly that room; the result cut to the size
// the run answered.
inline Bytes Run(TElPublicKeyCrypto& crypto, Op op, const Bytes& input) {
    size_t size = 0;
    auto call = [&](void* out) {
        switch (op) {
            case Op::Encrypt: crypto.Encrypt(input.data(), input.size(), out, size); break;
            case Op::Decrypt: crypto.Decrypt(input.data(), input.size(), out, size); break;
            case Op::Sign: crypto.SignDetached(input.data(), input.size(), out, size); break;
        }
    };
    call(nullptr);
    Bytes out(size > 0 ? size : 1);
    size = out.size();
    call(out.data());
    out.resize(size);
    return out;
}

inline Bytes Encrypt(TElPublicKeyCrypto& c, const Bytes& m) {
    return Run(c, Op::Encrypt, m);
}
inline Bytes Decrypt(TElPublicKeyCrypto& c, const Bytes& m) {
    return Run(c, Op::Decrypt, m);
}
inline Bytes Sign(TElPublicKeyCrypto& c, const Bytes& m) {
    return Run(c, Op::Sign, m);
}
inline int32_t Verify(TElPublicKeyCrypto& c, const Bytes& data, const Bytes& sig) {
    return c.VerifyDetached(data.data(), data.size(), sig.data(), sig.size());
}

// A material's save in the size protocol.
template <class Save>
Bytes Saved(Save save) {
    size_t size = 0;
    save(nullptr, size);
    Bytes out(size);
    if (size > 0) save(out.data(), size);
    out.resize(size);
    return out;
}

inline Bytes SavedSecret(const TElPublicKeyMaterial& m) {
    return Saved([&](void* b, size_t& s) { m.SaveSecret(b, s); });
}
inline Bytes SavedPublic(const TElPublicKeyMaterial& m) {
    return Saved([&](void* b, size_t& s) { m.SavePublic(b, s); });
}

// An RSA material holding OpenSSL's private key.
inline void LoadOpenSSLKey(TElRSAKeyMaterial& material, EVP_PKEY* key) {
    const std::string der = kwtest::OpenSSLPrivateDer(key);
    material.LoadSecret(der.data(), der.size());
}

}  // namespace facadetest
