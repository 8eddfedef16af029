// tests/crypto/OpenSSLPkey.h: OpenSSL's libcrypto as the peer of the public-key tests: RSA
// and DSA keys made by OpenSSL or read from our blobs, and its EVP_PKEY signatures and
// ciphertexts, so each side's output is checked by the other.
#pragma once

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kwtest {

using PkeyBytes = std::vector<uint8_t>;

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;

inline Pkey OpenSSLGenerateRsa(int bits) {
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* key = nullptr;
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), bits) != 1 ||
        EVP_PKEY_keygen(ctx.get(), &key) != 1)
        throw std::runtime_error("OpenSSL RSA key generation failed");
    return Pkey(key);
}

// One RSA key of that size per test program, made on first use (key generation is slow).
inline EVP_PKEY* SharedOpenSSLRsa(int bits) {
    static std::mutex lock;
    static std::map<int, Pkey> keys;
    const std::lock_guard<std::mutex> guard(lock);
    Pkey& key = keys[bits];
    if (!key) key = OpenSSLGenerateRsa(bits);
    return key.get();
}

// The SubjectPublicKeyInfo of a key.
inline std::string OpenSSLPublicDer(EVP_PKEY* key) {
    unsigned char* out = nullptr;
    const int n = i2d_PUBKEY(key, &out);
    if (n <= 0) throw std::runtime_error("i2d_PUBKEY failed");
    std::string der(reinterpret_cast<char*>(out), size_t(n));
    OPENSSL_free(out);
    return der;
}

// The key's own DER (RSAPrivateKey for RSA, the six-INTEGER DSA form for DSA).
inline std::string OpenSSLPrivateDer(EVP_PKEY* key) {
    unsigned char* out = nullptr;
    const int n = i2d_PrivateKey(key, &out);
    if (n <= 0) throw std::runtime_error("i2d_PrivateKey failed");
    std::string der(reinterpret_cast<char*>(out), size_t(n));
    OPENSSL_free(out);
    return der;
}

// Reads a private key of the type from DER; null when OpenSSL refuses it.
inline Pkey OpenSSLReadPrivateDer(int type, const std::string& der) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    EVP_PKEY* key = d2i_PrivateKey(type, nullptr, &p, long(der.size()));
    if (key != nullptr && p != reinterpret_cast<const unsigned char*>(der.data()) + der.size()) {
        EVP_PKEY_free(key);
        return nullptr;
    }
    return Pkey(key);
}

inline Pkey OpenSSLReadPublicDer(const std::string& der) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    return Pkey(d2i_PUBKEY(nullptr, &p, long(der.size())));
}

// A number parameter of the key (OSSL_PKEY_PARAM_RSA_N, ..._FFC_P, ...), big-endian.
inline PkeyBytes OpenSSLNumber(EVP_PKEY* key, const char* name) {
    BIGNUM* bn = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &bn) != 1) throw std::runtime_error(std::string("no parameter ") + name);
    PkeyBytes out(size_t(BN_num_bytes(bn)));
    BN_bn2bin(bn, out.data());
    BN_clear_free(bn);
    return out;
}

inline const EVP_MD* OpenSSLDigest(const std::string& name) {
    const EVP_MD* md = EVP_get_digestbyname(name.c_str());
    if (md == nullptr) throw std::runtime_error("OpenSSL lacks digest " + name);
    return md;
}

// Settings of one RSA operation: padding (RSA_PKCS1_PADDING, RSA_PKCS1_PSS_PADDING,
// RSA_PKCS1_OAEP_PADDING), the digest by name, the PSS salt length and the OAEP label.
struct RsaOptions {
    RsaOptions(int padding_ = RSA_PKCS1_PADDING, std::string md_ = {}, int saltLength_ = 0, PkeyBytes label_ = {})
        : padding(padding_), md(std::move(md_)), saltLength(saltLength_), label(std::move(label_)) {}
    int padding;
    std::string md;
    int saltLength;
    PkeyBytes label;
};

inline void ApplyRsa(EVP_PKEY_CTX* ctx, const RsaOptions& o, bool encryption) {
    if (EVP_PKEY_CTX_set_rsa_padding(ctx, o.padding) != 1) throw std::runtime_error("padding refused");
    if (o.md.empty()) return;
    const EVP_MD* md = OpenSSLDigest(o.md);
    if (encryption) {
        if (o.padding == RSA_PKCS1_OAEP_PADDING) {
            EVP_PKEY_CTX_set_rsa_oaep_md(ctx, md);
            EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, md);
            if (!o.label.empty()) {
                void* copy = OPENSSL_memdup(o.label.data(), o.label.size());
                EVP_PKEY_CTX_set0_rsa_oaep_label(ctx, copy, int(o.label.size()));
            }
        }
        return;
    }
    EVP_PKEY_CTX_set_signature_md(ctx, md);
    if (o.padding == RSA_PKCS1_PSS_PADDING) {
        EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, md);
        EVP_PKEY_CTX_set_rsa_pss_saltlen(ctx, o.saltLength);
    }
}

// Signs a digest (RSA or DSA); empty when OpenSSL refuses.
inline PkeyBytes OpenSSLSignDigest(EVP_PKEY* key, const PkeyBytes& digest, const RsaOptions& o, bool rsa = true) {
    PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1) return {};
    if (rsa) {
        ApplyRsa(ctx.get(), o, false);
    } else if (!o.md.empty()) {
        EVP_PKEY_CTX_set_signature_md(ctx.get(), OpenSSLDigest(o.md));
    }
    size_t size = 0;
    if (EVP_PKEY_sign(ctx.get(), nullptr, &size, digest.data(), digest.size()) != 1) return {};
    PkeyBytes sig(size);
    if (EVP_PKEY_sign(ctx.get(), sig.data(), &size, digest.data(), digest.size()) != 1) return {};
    sig.resize(size);
    return sig;
}

inline bool OpenSSLVerifyDigest(EVP_PKEY* key, const PkeyBytes& digest, const PkeyBytes& sig, const RsaOptions& o,
                                bool rsa = true) {
    PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    if (!ctx || EVP_PKEY_verify_init(ctx.get()) != 1) return false;
    if (rsa) {
        ApplyRsa(ctx.get(), o, false);
    } else if (!o.md.empty()) {
        EVP_PKEY_CTX_set_signature_md(ctx.get(), OpenSSLDigest(o.md));
    }
    return EVP_PKEY_verify(ctx.get(), sig.data(), sig.size(), digest.data(), digest.size()) == 1;
}

inline PkeyBytes OpenSSLEncrypt(EVP_PKEY* key, const PkeyBytes& m, const RsaOptions& o) {
    PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1) return {};
    ApplyRsa(ctx.get(), o, true);
    size_t size = 0;
    if (EVP_PKEY_encrypt(ctx.get(), nullptr, &size, m.data(), m.size()) != 1) return {};
    PkeyBytes c(size);
    if (EVP_PKEY_encrypt(ctx.get(), c.data(), &size, m.data(), m.size()) != 1) return {};
    c.resize(size);
    return c;
}

inline std::optional<PkeyBytes> OpenSSLDecrypt(EVP_PKEY* key, const PkeyBytes& c, const RsaOptions& o) {
    PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1) return std::nullopt;
    ApplyRsa(ctx.get(), o, true);
    size_t size = 0;
    if (EVP_PKEY_decrypt(ctx.get(), nullptr, &size, c.data(), c.size()) != 1) return std::nullopt;
    PkeyBytes m(size);
    if (EVP_PKEY_decrypt(ctx.get(), m.data(), &size, c.data(), c.size()) != 1) return std::nullopt;
    m.resize(size);
    return m;
}

// OpenSSL's own consistency checks of a private key.
inline bool OpenSSLCheckPrivate(EVP_PKEY* key) {
    PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    return ctx && EVP_PKEY_check(ctx.get()) == 1;
}

}  // namespace kwtest
