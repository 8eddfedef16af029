// tests/crypto/OpenSSLPeer.h: OpenSSL's libcrypto as the independent peer of the cipher
// tests: one call runs a named EVP cipher over a buffer without padding.
//
// The old ciphers (DES, RC2, RC4) live in OpenSSL's "legacy" provider, which is loaded once
// beside the default one; a machine without it makes those tests skip (or fail under CI).
#pragma once

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstdint>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace kwtest {

// The two providers stay loaded for the whole run and are unloaded at exit (so leak checkers
// see nothing left behind).
inline bool OpenSSLLegacyAvailable() {
    struct Providers {
        OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
        OSSL_PROVIDER* deflt = OSSL_PROVIDER_load(nullptr, "default");
        ~Providers() {
            if (legacy != nullptr) OSSL_PROVIDER_unload(legacy);
            if (deflt != nullptr) OSSL_PROVIDER_unload(deflt);
        }
    };
    static const Providers providers;
    return providers.legacy != nullptr && providers.deflt != nullptr;
}

// True when libcrypto can fetch the named cipher here.
inline bool OpenSSLHasCipher(const char* name) {
    OpenSSLLegacyAvailable();
    EVP_CIPHER* c = EVP_CIPHER_fetch(nullptr, name, nullptr);
    EVP_CIPHER_free(c);
    return c != nullptr;
}

// Runs the cipher over data without padding. A key length other than the cipher's default is
// set before keying (RC2, RC4); for RC2 the effective key bits follow the key length.
inline std::vector<uint8_t> OpenSSLCrypt(const char* name, const std::vector<uint8_t>& key,
                                         const std::vector<uint8_t>& iv, const std::vector<uint8_t>& data,
                                         bool encrypt) {
    OpenSSLLegacyAvailable();
    std::unique_ptr<EVP_CIPHER, decltype(&EVP_CIPHER_free)> cipher(EVP_CIPHER_fetch(nullptr, name, nullptr),
                                                                   &EVP_CIPHER_free);
    if (!cipher) throw std::runtime_error(std::string("OpenSSL lacks ") + name);
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        &EVP_CIPHER_CTX_free);
    const int enc = encrypt ? 1 : 0;
    if (EVP_CipherInit_ex2(ctx.get(), cipher.get(), nullptr, nullptr, enc, nullptr) != 1)
        throw std::runtime_error("EVP_CipherInit_ex2 failed");
    if (int(key.size()) != EVP_CIPHER_get_key_length(cipher.get())) {
        if (EVP_CIPHER_CTX_set_key_length(ctx.get(), int(key.size())) != 1)
            throw std::runtime_error("EVP_CIPHER_CTX_set_key_length failed");
    }
    if (std::string(name).rfind("RC2", 0) == 0) {
        if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_SET_RC2_KEY_BITS, int(key.size() * 8), nullptr) != 1)
            throw std::runtime_error("RC2 key bits not accepted");
    }
    if (EVP_CipherInit_ex2(ctx.get(), nullptr, key.data(), iv.empty() ? nullptr : iv.data(), enc, nullptr) !=
        1)
        throw std::runtime_error("EVP_CipherInit_ex2 (key) failed");
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    std::vector<uint8_t> out(data.size() + 32);
    int n = 0;
    int tail = 0;
    if (EVP_CipherUpdate(ctx.get(), out.data(), &n, data.data(), int(data.size())) != 1)
        throw std::runtime_error("EVP_CipherUpdate failed");
    if (EVP_CipherFinal_ex(ctx.get(), out.data() + n, &tail) != 1)
        throw std::runtime_error("EVP_CipherFinal_ex failed");
    out.resize(size_t(n + tail));
    return out;
}

inline std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n) {
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = uint8_t(rng());
    return v;
}

}  // namespace kwtest
