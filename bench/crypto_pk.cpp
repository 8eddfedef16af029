// bench/crypto_pk.cpp: the public-key primitives against OpenSSL's EVP_PKEY in the same run,
// one line per case through bench/BenchLine.h ("case ours peer ops/s speed").
//
// rsa-2048-sign: SignRSAPKCS1 over a SHA-256 DigestInfo (CRT, blinded, checked under e; the
// blob is read on every call) against EVP_PKEY_sign with PKCS#1 padding on one context.
// rsa-2048-verify: RecoverRSAPKCS1 and a comparison against EVP_PKEY_verify.
// dsa-2048-256-sign: SignDSA and the DER encoding of (r, s) against EVP_PKEY_sign.
// rsa-2048-facade-sign, rsa-2048-facade-verify: the same through TElRSAPublicKeyCrypto with
// the SHA-256 digest handed in (input-is-hash), as the TLS code calls it: a provider context
// per operation, the key in a TElRSAKeyMaterial.
// dh-2048-facade-secret: the shared secret on ffdhe2048 through TElDHPublicKeyCrypto's Decrypt
// against EVP_PKEY_derive, both with the same private value and peer value.
// Goal: at least 0.5 of OpenSSL's operations per second for each.
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchLine.h"
#include "bench/BenchSupport.h"
#include "crypto/base/SBASN1.h"
#include "crypto/base/SBConstants.h"
#include "crypto/facade/SBHashFunction.h"
#include "crypto/keys/SBPublicKeyCrypto.h"
#include "crypto/pk/SBDSA.h"
#include "crypto/pk/SBRSA.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kRounds = 5;
constexpr double kRoundSeconds = 0.25;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "crypto_pk: %s\n", what);
    std::exit(1);
}

// Ours and the peer alternate; the best round of each counts.
void Report(const char* name, const std::function<void()>& ours, const std::function<void()>& peer) {
    const bench::CallRates rates = bench::BestCallRates(ours, peer, kRounds, kRoundSeconds);
    bench::PrintRates(name, rates.ours, rates.peer, "ops/s");
}

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct CtxFree {
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using Ctx = std::unique_ptr<EVP_PKEY_CTX, CtxFree>;

Pkey Generate(const char* type, int bits, int qbits) {
    Ctx ctx(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
    EVP_PKEY* key = nullptr;
    if (std::strcmp(type, "RSA") == 0) {
        if (EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), bits) != 1 ||
            EVP_PKEY_keygen(ctx.get(), &key) != 1)
            Fail("RSA key generation failed");
        return Pkey(key);
    }
    EVP_PKEY* params = nullptr;
    if (EVP_PKEY_paramgen_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_dsa_paramgen_bits(ctx.get(), bits) != 1 ||
        EVP_PKEY_CTX_set_dsa_paramgen_q_bits(ctx.get(), qbits) != 1 || EVP_PKEY_paramgen(ctx.get(), &params) != 1)
        Fail("DSA parameter generation failed");
    const Pkey domain(params);
    Ctx keyCtx(EVP_PKEY_CTX_new(domain.get(), nullptr));
    if (EVP_PKEY_keygen_init(keyCtx.get()) != 1 || EVP_PKEY_keygen(keyCtx.get(), &key) != 1)
        Fail("DSA key generation failed");
    return Pkey(key);
}

Bytes Der(EVP_PKEY* key) {
    unsigned char* out = nullptr;
    const int n = i2d_PrivateKey(key, &out);
    if (n <= 0) Fail("i2d_PrivateKey failed");
    Bytes der(out, out + n);
    OPENSSL_free(out);
    return der;
}

Bytes Number(EVP_PKEY* key, const char* name) {
    BIGNUM* bn = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &bn) != 1) Fail("missing key parameter");
    Bytes out(size_t(BN_num_bytes(bn)));
    BN_bn2bin(bn, out.data());
    BN_free(bn);
    return out;
}

// An OpenSSL context that signs or verifies SHA-256 digests with PKCS#1 v1.5 padding.
Ctx RsaContext(EVP_PKEY* key, bool sign) {
    Ctx ctx(EVP_PKEY_CTX_new(key, nullptr));
    if ((sign ? EVP_PKEY_sign_init(ctx.get()) : EVP_PKEY_verify_init(ctx.get())) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256()) != 1)
        Fail("EVP_PKEY_sign_init or EVP_PKEY_verify_init failed");
    return ctx;
}

Bytes Sha256(const std::string& text) {
    TElHashFunction h(SB_ALG_SHA256);
    h.Update(text.data(), text.size());
    const ByteString d = h.Finish();
    return Bytes(d.begin(), d.end());
}

void Rsa() {
    const Pkey key = Generate("RSA", 2048, 0);
    const Bytes blob = Der(key.get()), n = Number(key.get(), OSSL_PKEY_PARAM_RSA_N),
                e = Number(key.get(), OSSL_PKEY_PARAM_RSA_E);
    const Bytes digest = Sha256("benchmark message");
    const std::string alg = EncodeDERSequence({EncodeDERTLV(0x06, SB_OID_SHA256), EncodeDERNull()});
    const std::string info = EncodeDERSequence({alg, EncodeDEROctetString(std::string(digest.begin(), digest.end()))});

    Bytes sig(257), peerSig(256), opened(256);  // room for the modulus as the blob stores it (257)
    const Ctx sign = RsaContext(key.get(), true), verify = RsaContext(key.get(), false);

    auto ours = [&] {
        int32_t size = int32_t(sig.size());
        if (!SignRSAPKCS1(info.data(), int32_t(info.size()), blob.data(), int32_t(blob.size()), sig.data(), size) ||
            size != 256)
            Fail("SignRSAPKCS1 failed");
    };
    auto peer = [&] {
        size_t size = peerSig.size();
        if (EVP_PKEY_sign(sign.get(), peerSig.data(), &size, digest.data(), digest.size()) != 1)
            Fail("EVP_PKEY_sign failed");
    };
    ours();
    peer();
    sig.resize(256);
    if (sig != peerSig) Fail("the two signatures differ");
    sig.resize(257);
    Report("rsa-2048-sign", ours, peer);

    auto oursVerify = [&] {
        int32_t size = int32_t(opened.size());
        if (!RecoverRSAPKCS1(sig.data(), 256, n.data(), int32_t(n.size()), e.data(),
                             int32_t(e.size()), opened.data(), size) ||
            size_t(size) != info.size() || std::memcmp(opened.data(), info.data(), info.size()) != 0)
            Fail("RecoverRSAPKCS1 failed");
    };
    auto peerVerify = [&] {
        if (EVP_PKEY_verify(verify.get(), peerSig.data(), peerSig.size(), digest.data(), digest.size()) != 1)
            Fail("EVP_PKEY_verify failed");
    };
    Report("rsa-2048-verify", oursVerify, peerVerify);
}

void Dsa() {
    const Pkey key = Generate("DSA", 2048, 256);
    const Bytes p = Number(key.get(), OSSL_PKEY_PARAM_FFC_P), q = Number(key.get(), OSSL_PKEY_PARAM_FFC_Q),
                g = Number(key.get(), OSSL_PKEY_PARAM_FFC_G), x = Number(key.get(), OSSL_PKEY_PARAM_PRIV_KEY);
    const Bytes digest = Sha256("benchmark message");
    Ctx sign(EVP_PKEY_CTX_new(key.get(), nullptr));
    if (EVP_PKEY_sign_init(sign.get()) != 1 || EVP_PKEY_CTX_set_signature_md(sign.get(), EVP_sha256()) != 1)
        Fail("EVP_PKEY_sign_init (DSA) failed");
    Bytes r(32), s(32), der(80), peerSig(80);
    auto ours = [&] {
        int32_t rs = 32, ss = 32;
        if (!SignDSA(digest.data(), 32, p.data(), int32_t(p.size()), q.data(), int32_t(q.size()), g.data(),
                     int32_t(g.size()), x.data(), int32_t(x.size()), r.data(), rs, s.data(), ss))
            Fail("SignDSA failed");
        size_t size = der.size();
        if (!DSAEncodeSignature(r.data(), size_t(rs), s.data(), size_t(ss), der.data(), size))
            Fail("DSAEncodeSignature failed");
    };
    auto peer = [&] {
        size_t size = peerSig.size();
        if (EVP_PKEY_sign(sign.get(), peerSig.data(), &size, digest.data(), digest.size()) != 1)
            Fail("EVP_PKEY_sign (DSA) failed");
    };
    Report("dsa-2048-256-sign", ours, peer);
}

void RsaFacade() {
    const Pkey key = Generate("RSA", 2048, 0);
    const Bytes blob = Der(key.get());
    const Bytes digest = Sha256("benchmark message");
    TElRSAKeyMaterial material;
    material.LoadSecret(blob.data(), blob.size());
    auto rsa = TElRSAPublicKeyCrypto::CreateByOID(SB_OID_SHA256_RSA);
    rsa->SetKeyMaterial(&material);
    rsa->SetInputIsHash(true);
    const Ctx sign = RsaContext(key.get(), true), verify = RsaContext(key.get(), false);
    Bytes sig(256), peerSig(256);
    auto ours = [&] {
        size_t size = sig.size();
        rsa->SignDetached(digest.data(), digest.size(), sig.data(), size);
        if (size != 256) Fail("SignDetached failed");
    };
    auto peer = [&] {
        size_t size = peerSig.size();
        if (EVP_PKEY_sign(sign.get(), peerSig.data(), &size, digest.data(), digest.size()) != 1)
            Fail("EVP_PKEY_sign failed");
    };
    ours();
    peer();
    if (sig != peerSig) Fail("the two facade signatures differ");
    Report("rsa-2048-facade-sign", ours, peer);
    auto oursVerify = [&] {
        if (rsa->VerifyDetached(digest.data(), digest.size(), sig.data(), sig.size()) != 0) Fail("VerifyDetached failed");
    };
    auto peerVerify = [&] {
        if (EVP_PKEY_verify(verify.get(), peerSig.data(), peerSig.size(), digest.data(), digest.size()) != 1)
            Fail("EVP_PKEY_verify failed");
    };
    Report("rsa-2048-facade-verify", oursVerify, peerVerify);
}

Pkey Ffdhe2048Key() {
    Ctx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "DH", nullptr));
    EVP_PKEY* key = nullptr;
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_group_name(ctx.get(), "ffdhe2048") != 1 ||
        EVP_PKEY_keygen(ctx.get(), &key) != 1)
        Fail("ffdhe2048 key generation failed");
    return Pkey(key);
}

void DhFacade() {
    const Pkey own = Ffdhe2048Key(), other = Ffdhe2048Key();
    const Bytes p = Number(own.get(), OSSL_PKEY_PARAM_FFC_P), g = Number(own.get(), OSSL_PKEY_PARAM_FFC_G),
                x = Number(own.get(), OSSL_PKEY_PARAM_PRIV_KEY),
                peerY = Number(other.get(), OSSL_PKEY_PARAM_PUB_KEY);
    TElDHKeyMaterial material;
    material.ImportPeerPublicKey(p.data(), p.size(), g.data(), g.size(), peerY.data(), peerY.size());
    material.LoadSecret(x.data(), x.size());
    TElDHPublicKeyCrypto dh;
    dh.SetKeyMaterial(&material);
    Ctx derive(EVP_PKEY_CTX_new(own.get(), nullptr));
    if (EVP_PKEY_derive_init(derive.get()) != 1 || EVP_PKEY_derive_set_peer(derive.get(), other.get()) != 1)
        Fail("EVP_PKEY_derive_init failed");
    Bytes secret(256), peerSecret(256);
    size_t ourSize = 0, peerSize = 0;
    auto ours = [&] {
        ourSize = secret.size();
        dh.Decrypt(nullptr, 0, secret.data(), ourSize);
    };
    auto peer = [&] {
        peerSize = peerSecret.size();
        if (EVP_PKEY_derive(derive.get(), peerSecret.data(), &peerSize) != 1) Fail("EVP_PKEY_derive failed");
    };
    ours();
    peer();
    auto strip = [](const Bytes& b, size_t n) {
        size_t i = 0;
        while (i < n && b[i] == 0)
            ++i;
        return Bytes(b.begin() + long(i), b.begin() + long(n));
    };
    if (strip(secret, ourSize) != strip(peerSecret, peerSize)) Fail("the two DH secrets differ");
    Report("dh-2048-facade-secret", ours, peer);
}

}  // namespace

int main() {
    Rsa();
    Dsa();
    RsaFacade();
    DhFacade();
    return 0;
}
