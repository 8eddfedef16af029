// The public-key half of the built-in provider: contexts of kind 2 through init, update and
// final, the size rules, the context properties, the RSA, DSA, Elgamal and DH operations and
// their refusals, the one-shot detached verification, and DecryptKey of an AES key that OpenSSL
// wrapped.
#include <gtest/gtest.h>

#include <algorithm>

#include "crypto/OpenSSLPkey.h"
#include "crypto/PublicKeyTestSupport.h"
#include "crypto/builtin/SBCryptoProvBuiltIn.h"
#include "crypto/builtin/SBCryptoProvBuiltInPKI.h"
#include "crypto/pk/SBRSA.h"
#include "crypto/prov/SBCryptoProvRS.h"
#include "crypto/prov/SBCryptoProvUtils.h"
#include "support/TestSupport.h"

namespace {

using pktest::B;
using pktest::Bytes;
using pktest::Str;

class PKIOps : public ::testing::Test {
protected:
    TElCustomCryptoKey* RsaKey() {
        TElCustomCryptoKey* key = provider.CreateKey(SB_ALG_PK_RSA, 0);
        const std::string der = kwtest::OpenSSLPrivateDer(kwtest::SharedOpenSSLRsa(2048));
        key->ImportSecret(der.data(), der.size());
        return key;
    }
    TElCustomCryptoKey* DsaKey(int bits = 1024) {
        TElCustomCryptoKey* key = provider.CreateKey(SB_ALG_PK_DSA, 0);
        key->Generate(bits);
        return key;
    }
    Bytes Sign(TElCustomCryptoKey* key, int32_t algorithm, const Bytes& data, const TElRelativeDistinguishedName* params) {
        size_t size = 0;
        provider.Sign(algorithm, key, true, data.data(), data.size(), nullptr, size, params);
        TElCustomCryptoContext* c = provider.SignInit(algorithm, key, true, params);
        size_t none = 0;
        provider.SignUpdate(c, data.data(), data.size(), nullptr, none);  // a question: nothing taken
        EXPECT_EQ(none, 1u);
        provider.SignUpdate(c, data.data(), data.size(), Bytes(1).data(), none);
        provider.SignFinal(c, nullptr, size);
        Bytes out(size);
        provider.SignFinal(c, out.data(), size);
        provider.ReleaseCryptoContext(c);
        out.resize(size);
        return out;
    }
    int32_t Verify(TElCustomCryptoKey* key, int32_t algorithm, const Bytes& data, const Bytes& sig,
                   const TElRelativeDistinguishedName* params) {
        return provider.VerifyDetached(algorithm, key, data.data(), data.size(), sig.data(), sig.size(), params);
    }

    TElBuiltInCryptoProvider provider;
};

}  // namespace

TEST_F(PKIOps, KeysAndSupport) {
    for (int32_t code : {SB_ALG_PK_RSA, SB_ALG_PK_DSA, SB_ALG_PK_ELGAMAL, SB_ALG_PK_DH}) {
        EXPECT_TRUE(provider.IsAlgorithmSupported(code, 0)) << code;
        TElCustomCryptoKey* key = provider.CreateKey(code, 0);
        EXPECT_EQ(key->GetAlgorithm(), code);
        provider.ReleaseKey(key);
    }
    EXPECT_FALSE(provider.IsAlgorithmSupported(SB_ALG_PK_SRP, 0));
    EXPECT_EQ(kwtest::ThrownMessage([&] { provider.CreateKey(SB_ALG_PK_SRP, 0); }), "Unsupported algorithm (29704)");
    // A context needs a key of its algorithm.
    TElCustomCryptoKey* dsa = provider.CreateKey(SB_ALG_PK_DSA, 0);
    EXPECT_EQ(kwtest::ThrownMessage([&] { provider.EncryptInit(SB_ALG_PK_RSA, 0, dsa); }), SBadKeyMaterial);
    EXPECT_EQ(kwtest::ThrownMessage([&] { provider.EncryptInit(SB_ALG_PK_RSA, 0, nullptr); }), SBadKeyMaterial);
    EXPECT_EQ(provider.ContextCount(), 0u);
}

TEST_F(PKIOps, RSASizesAndTheOneShotRun) {
    TElCustomCryptoKey* key = RsaKey();
    TElCustomCryptoContext* c = provider.EncryptInit(SB_ALG_PK_RSA, 0, key);
    EXPECT_EQ(c->GetKeySize(), 2048);
    EXPECT_EQ(c->EstimateOutputSize(10), 256);
    EXPECT_EQ(kwtest::ThrownMessage([&] { c->EstimateOutputSize(257); }), SInputTooLong);
    const Bytes m = B("message");
    size_t size = 0;
    provider.EncryptUpdate(c, m.data(), m.size(), nullptr, size);
    EXPECT_EQ(size, 1u);  // a question: the input is not kept
    Bytes none(1);
    provider.EncryptUpdate(c, m.data(), m.size(), none.data(), size);
    EXPECT_EQ(size, 0u);
    provider.EncryptFinal(c, nullptr, size);
    EXPECT_EQ(size, 256u);
    Bytes out(255);
    size = 255;
    EXPECT_EQ(kwtest::ThrownMessage([&] { provider.EncryptFinal(c, out.data(), size); }), SBufferTooSmall);
    out.resize(256);
    size = 256;
    provider.EncryptFinal(c, out.data(), size);
    ASSERT_EQ(size, 256u);
    provider.ReleaseCryptoContext(c);
    // OpenSSL opens it: only the input given with room was taken.
    EXPECT_EQ(kwtest::OpenSSLDecrypt(kwtest::SharedOpenSSLRsa(2048), out, {RSA_PKCS1_PADDING}), m);
    // The provider's own one-shot decryption.
    size = 0;
    provider.Decrypt(SB_ALG_PK_RSA, 0, key, out.data(), out.size(), nullptr, size);
    Bytes plain(size);
    provider.Decrypt(SB_ALG_PK_RSA, 0, key, out.data(), out.size(), plain.data(), size);
    plain.resize(size);
    EXPECT_EQ(plain, m);
    // VerifyFinal with no output answers 3 and verifies nothing.
    TElCustomCryptoContext* v = provider.VerifyInit(SB_ALG_PK_RSA, key, out.data(), out.size());
    size = 0;
    EXPECT_EQ(provider.VerifyFinal(v, nullptr, size), SB_VR_SIZE_ONLY);
    EXPECT_EQ(size, 1u);
    provider.ReleaseCryptoContext(v);
}

TEST_F(PKIOps, RSASignaturesThroughTheProvider) {
    TElCustomCryptoKey* key = RsaKey();
    const Bytes data = B("signed data");
    for (int32_t hash : {SB_ALG_MD5, SB_ALG_SHA1, SB_ALG_SHA224, SB_ALG_SHA256, SB_ALG_SHA384, SB_ALG_SHA512}) {
        TElRelativeDistinguishedName params;
        params.Add(SB_CTXPROP_HASH_ALGORITHM, GetOIDByHashAlgorithm(hash));
        const Bytes sig = Sign(key, SB_ALG_PK_RSA, data, &params);
        // PKCS#1 v1.5 with the DigestInfo prefix: exactly OpenSSL's signature.
        EXPECT_EQ(sig, kwtest::OpenSSLSignDigest(kwtest::SharedOpenSSLRsa(2048), pktest::Digest(hash, data),
                                                 {RSA_PKCS1_PADDING, hash == SB_ALG_MD5 ? "MD5" : hash == SB_ALG_SHA1 ? "SHA1" : hash == SB_ALG_SHA224 ? "SHA224" : hash == SB_ALG_SHA256 ? "SHA256" : hash == SB_ALG_SHA384 ? "SHA384" : "SHA512"}));
        EXPECT_EQ(Verify(key, SB_ALG_PK_RSA, data, sig, &params), SB_VR_SUCCESS);
        EXPECT_EQ(Verify(key, SB_ALG_PK_RSA, B("other data"), sig, &params), SB_VR_INVALID_SIGNATURE);
    }
    // Bare rsaEncryption with no hash set: the block names it (SHA-256 here).
    TElRelativeDistinguishedName sha256;
    sha256.Add(SB_CTXPROP_HASH_ALGORITHM, GetOIDByHashAlgorithm(SB_ALG_SHA256));
    const Bytes sig = Sign(key, SB_ALG_PK_RSA, data, &sha256);
    EXPECT_EQ(Verify(key, SB_ALG_PK_RSA, data, sig, nullptr), SB_VR_SUCCESS);
    // A fixed hash that differs from the block's: invalid.
    TElRelativeDistinguishedName sha1;
    sha1.Add(SB_CTXPROP_HASH_ALGORITHM, GetOIDByHashAlgorithm(SB_ALG_SHA1));
    EXPECT_EQ(Verify(key, SB_ALG_PK_RSA, data, sig, &sha1), SB_VR_INVALID_SIGNATURE);
    // The block's DigestInfo is not readable: "Bad signature formatting" (type-1 block of junk).
    const std::string der = kwtest::OpenSSLPrivateDer(kwtest::SharedOpenSSLRsa(2048));
    Bytes junk(40, 0x30);
    int32_t size = 300;
    Bytes forged(300);
    ASSERT_TRUE(SignRSAPKCS1(junk.data(), 40, der.data(), int32_t(der.size()), forged.data(), size));
    forged.resize(size_t(size));
    EXPECT_EQ(kwtest::ThrownMessage([&] { Verify(key, SB_ALG_PK_RSA, data, forged, nullptr); }),
              SBadSignatureFormatting);
    // A fixed hash does not excuse a block that is not a DigestInfo.
    EXPECT_EQ(kwtest::ThrownMessage([&] { Verify(key, SB_ALG_PK_RSA, data, forged, &sha256); }),
              SBadSignatureFormatting);
    // A signature that does not open (not below n) is invalid whatever the hash.
    EXPECT_EQ(Verify(key, SB_ALG_PK_RSA, data, Bytes(256, 0xFF), nullptr), SB_VR_INVALID_SIGNATURE);
    // The signature of 30 31 30 0D 06 09 <SHA-256> 05 00 04 20 <digest>.
    EXPECT_EQ(sig, *pktest::Run([&](void* out, int32_t& s) {
        const Bytes info = pktest::DigestInfo(SB_ALG_SHA256, pktest::Digest(SB_ALG_SHA256, data));
        return SignRSAPKCS1(info.data(), int32_t(info.size()), der.data(), int32_t(der.size()), out, s);
    }));
}

TEST_F(PKIOps, RSAContextProperties) {
    TElCustomCryptoKey* key = RsaKey();
    TElCustomCryptoContext* c = provider.SignInit(SB_ALG_PK_RSA, key, true);
    EXPECT_EQ(c->GetContextProp(SB_CTXPROP_ALGORITHM_SCHEME), "pkcs#1");
    EXPECT_EQ(c->GetContextProp(SB_CTXPROP_USE_ALGORITHM_PREFIX), std::string(1, '\1'));
    EXPECT_EQ(kwtest::ThrownMessage([&] { c->SetContextProp(SB_CTXPROP_ALGORITHM_SCHEME, "PSS"); }),
              "Unsupported property value (PSS)");
    c->SetContextProp(SB_CTXPROP_ALGORITHM_SCHEME, "pss");
    EXPECT_EQ(c->GetContextProp(SB_CTXPROP_ALGORITHM_SCHEME), "pss");
    c->SetContextProp(SB_CTXPROP_HASH_ALGORITHM, GetOIDByHashAlgorithm(SB_ALG_SHA256));
    EXPECT_EQ(c->GetContextProp(SB_CTXPROP_ALGORITHM_SCHEME), "pkcs#1");  // back to PKCS#1
    EXPECT_EQ(c->GetContextProp(SB_CTXPROP_HASH_ALGORITHM), GetOIDByHashAlgorithm(SB_ALG_SHA256));
    c->SetContextProp(SB_CTXPROP_HASH_ALGORITHM, SB_OID_SSL_HASH);
    EXPECT_EQ(c->GetContextProp(SB_CTXPROP_HASH_ALGORITHM), SB_OID_SSL_HASH);
    EXPECT_EQ(c->GetContextProp("other" SB_PSEUDO_OID_SUFFIX, "def"), "def");
    provider.ReleaseCryptoContext(c);
    TElCustomCryptoKey* dsa = DsaKey();
    TElCustomCryptoContext* d = provider.SignInit(SB_ALG_PK_DSA, dsa, true);
    EXPECT_EQ(kwtest::ThrownMessage([&] { d->SetContextProp(SB_CTXPROP_USE_ALGORITHM_PREFIX, "\1"); }), SNotARSAContext);
    EXPECT_EQ(kwtest::ThrownMessage([&] { d->GetContextProp(SB_CTXPROP_ALGORITHM_SCHEME); }), SNotARSAContext);
    EXPECT_TRUE(d->GetContextProp(SB_CTXPROP_HASH_ALGORITHM).empty());
    EXPECT_EQ(d->EstimateOutputSize(0), 56);
    provider.ReleaseCryptoContext(d);
}

TEST_F(PKIOps, RSAOperationObjects) {
    auto pss = TElBuiltInRSAPublicKeyCrypto::CreateByOID(SB_OID_RSASSA_PSS);
    EXPECT_EQ(kwtest::ThrownMessage([&] { pss->EncryptInit(); }), SUnsupportedOperation);
    auto oaep = TElBuiltInRSAPublicKeyCrypto::CreateByOID(SB_OID_RSAES_OAEP);
    EXPECT_EQ(kwtest::ThrownMessage([&] { oaep->SignInit(true); }), SUnsupportedOperation);
    EXPECT_EQ(kwtest::ThrownMessage([&] { TElBuiltInRSAPublicKeyCrypto::CreateByAlgorithm(13); }),
              "Unsupported algorithm (13)");
    EXPECT_EQ(kwtest::ThrownMessage([&] { TElBuiltInRSAPublicKeyCrypto::CreateByOID(SB_OID_DSA); }),
              "Unsupported algorithm (1.2.840.10040.4.1)");
    // CreateByAlgorithm(1) selects md2WithRSAEncryption and MD2 hashing.
    TElCustomCryptoKey* key = RsaKey();
    auto md2 = TElBuiltInRSAPublicKeyCrypto::CreateByAlgorithm(SB_CERT_ALG_MD2_RSA);
    md2->SetKeyMaterial(key);
    md2->SignInit(true);
    md2->SignUpdate("x", 1);
    size_t size = 0;
    md2->SignFinal(nullptr, size);
    Bytes sig(size);
    // One byte short: "Buffer too small", and the signature stays for the retry.
    size_t shortSize = size - 1;
    EXPECT_EQ(kwtest::ThrownMessage([&] { md2->SignFinal(sig.data(), shortSize); }), SBufferTooSmall);
    md2->SignFinal(sig.data(), size);
    const Bytes opened = *pktest::Run([&](void* out, int32_t& s) {
        const ByteString m = key->GetKeyProp(SB_KEYPROP_RSA_M), e = key->GetKeyProp(SB_KEYPROP_RSA_E);
        return RecoverRSAPKCS1(sig.data(), int32_t(sig.size()), m.data(), int32_t(m.size()), e.data(),
                               int32_t(e.size()), out, s);
    });
    EXPECT_EQ(opened, pktest::DigestInfo(SB_ALG_MD2, pktest::Digest(SB_ALG_MD2, B("x"))));
    // PSS with a key whose MGF is not MGF1: "Unsupported property value (1/...)".
    key->SetKeyProp(SB_KEYPROP_MGF_ALGORITHM, SB_OID_SHA1);
    auto pssSign = TElBuiltInRSAPublicKeyCrypto::CreateByOID(SB_OID_RSASSA_PSS);
    pssSign->SetKeyMaterial(key);
    pssSign->SignInit(true);
    size = 0;
    EXPECT_EQ(kwtest::ThrownMessage([&] { pssSign->SignFinal(nullptr, size); }),
              "Unsupported property value (1/" + std::to_string(SB_ALG_SHA1) + ")");
    EXPECT_EQ(kwtest::ThrownMessage([&] { pss->EstimateOutputSize(SB_PKOP_SIGN, 10); }), SOnlyDetachedSigningSupported);
}

TEST_F(PKIOps, DSAOperations) {
    TElCustomCryptoKey* key = DsaKey();
    auto op = TElBuiltInDSAPublicKeyCrypto::Create();
    op->SetKeyMaterial(key);
    EXPECT_EQ(op->EstimateOutputSize(SB_PKOP_SIGN_DETACHED, 0), 56);
    EXPECT_EQ(kwtest::ThrownMessage([&] { op->EstimateOutputSize(SB_PKOP_DECRYPT, 0); }), SUnsupportedOperation);
    TElCustomCryptoKey* big = provider.CreateKey(SB_ALG_PK_DSA, 0);
    big->SetKeyProp(SB_KEYPROP_DSA_Q, std::string(32, '\x7F'));
    op->SetKeyMaterial(big);
    EXPECT_EQ(op->EstimateOutputSize(SB_PKOP_SIGN_DETACHED, 0), 80);
    // An empty signature is invalid without any arithmetic.
    EXPECT_EQ(Verify(key, SB_ALG_PK_DSA, B("d"), {}, nullptr), SB_VR_INVALID_SIGNATURE);
    const Bytes sig = Sign(key, SB_ALG_PK_DSA, B("d"), nullptr);
    EXPECT_EQ(Verify(key, SB_ALG_PK_DSA, B("d"), sig, nullptr), SB_VR_SUCCESS);
    EXPECT_EQ(Verify(key, SB_ALG_PK_DSA, B("e"), sig, nullptr), SB_VR_INVALID_SIGNATURE);
    // A key prepared once loses its token with the first signature; the second is made directly.
    key->PrepareForSigning(false);
    const Bytes s1 = Sign(key, SB_ALG_PK_DSA, B("d"), nullptr);
    EXPECT_FALSE(static_cast<TElBuiltInDSACryptoKey*>(key)->TakePreparedToken());
    const Bytes s2 = Sign(key, SB_ALG_PK_DSA, B("d"), nullptr);
    EXPECT_NE(s1, s2);
    EXPECT_EQ(Verify(key, SB_ALG_PK_DSA, B("d"), s1, nullptr), SB_VR_SUCCESS);
    EXPECT_EQ(Verify(key, SB_ALG_PK_DSA, B("d"), s2, nullptr), SB_VR_SUCCESS);
    // Reusable: every signature has its own token, so r differs each time.
    key->PrepareForSigning(true);
    std::set<Bytes> signatures;
    for (int i = 0; i < 3; ++i) {
        const Bytes s = Sign(key, SB_ALG_PK_DSA, B("d"), nullptr);
        EXPECT_EQ(Verify(key, SB_ALG_PK_DSA, B("d"), s, nullptr), SB_VR_SUCCESS);
        signatures.insert(s);
    }
    EXPECT_EQ(signatures.size(), 3u);
    key->CancelPreparation();
}

TEST_F(PKIOps, ElgamalOperations) {
    TElCustomCryptoKey* key = provider.CreateKey(SB_ALG_PK_ELGAMAL, 0);
    key->Generate(1024);
    TElCustomCryptoContext* c = provider.EncryptInit(SB_ALG_PK_ELGAMAL, 0, key);
    EXPECT_EQ(c->EstimateOutputSize(3), 272);
    EXPECT_EQ(kwtest::ThrownMessage([&] { c->EstimateOutputSize(129); }), SInputTooLong);
    provider.ReleaseCryptoContext(c);
    TElCustomCryptoContext* d = provider.DecryptInit(SB_ALG_PK_ELGAMAL, 0, key);
    EXPECT_EQ(d->EstimateOutputSize(300), 128);
    provider.ReleaseCryptoContext(d);
    auto op = TElBuiltInElgamalPublicKeyCrypto::Create();
    op->SetKeyMaterial(key);
    EXPECT_EQ(op->EstimateOutputSize(SB_PKOP_VERIFY_DETACHED, 0), 0);
    EXPECT_EQ(kwtest::ThrownMessage([&] { TElBuiltInElgamalPublicKeyCrypto::CreateByOID(SB_OID_RSA_ENCRYPTION); }),
              "Unsupported algorithm (1.2.840.113549.1.1.1)");
    // Three bytes come back as four, the first zero.
    const Bytes m = {1, 2, 3};
    size_t size = 0;
    provider.Encrypt(SB_ALG_PK_ELGAMAL, 0, key, m.data(), 3, nullptr, size);
    Bytes cipher(size);
    provider.Encrypt(SB_ALG_PK_ELGAMAL, 0, key, m.data(), 3, cipher.data(), size);
    cipher.resize(size);
    size = 0;
    provider.Decrypt(SB_ALG_PK_ELGAMAL, 0, key, cipher.data(), cipher.size(), nullptr, size);
    Bytes plain(size);
    provider.Decrypt(SB_ALG_PK_ELGAMAL, 0, key, cipher.data(), cipher.size(), plain.data(), size);
    plain.resize(size);
    EXPECT_EQ(plain, (Bytes{0, 1, 2, 3}));
    // m >= p, and ciphertexts that do not decode.
    const ByteString p = key->GetKeyProp(SB_KEYPROP_ELGAMAL_P);
    size = 2000;
    Bytes out(2000);
    EXPECT_EQ(kwtest::ThrownMessage([&] { provider.Encrypt(SB_ALG_PK_ELGAMAL, 0, key, p.data(), p.size(), out.data(), size); }),
              SInputTooLong);
    size = 2000;
    EXPECT_EQ(kwtest::ThrownMessage([&] { provider.Decrypt(SB_ALG_PK_ELGAMAL, 0, key, "\x30\x00", 2, out.data(), size); }),
              SDecryptionFailed);
    // Signatures, also with a prepared token; a token prepared for encryption is refused.
    TElRelativeDistinguishedName hashed;
    hashed.Add(SB_CTXPROP_INPUT_IS_HASH, BooleanToPropertyValue(false));
    const Bytes sig = Sign(key, SB_ALG_PK_ELGAMAL, B("e"), &hashed);
    EXPECT_EQ(Verify(key, SB_ALG_PK_ELGAMAL, B("e"), sig, &hashed), SB_VR_SUCCESS);
    EXPECT_EQ(Verify(key, SB_ALG_PK_ELGAMAL, B("f"), sig, &hashed), SB_VR_INVALID_SIGNATURE);
    EXPECT_EQ(Verify(key, SB_ALG_PK_ELGAMAL, B("e"), B("junk"), &hashed), SB_VR_INVALID_SIGNATURE);
    key->PrepareForSigning(false);
    const Bytes prepared = Sign(key, SB_ALG_PK_ELGAMAL, B("e"), &hashed);
    EXPECT_EQ(Verify(key, SB_ALG_PK_ELGAMAL, B("e"), prepared, &hashed), SB_VR_SUCCESS);
    key->PrepareForEncryption(false);
    EXPECT_EQ(kwtest::ThrownMessage([&] { Sign(key, SB_ALG_PK_ELGAMAL, B("e"), &hashed); }), "Not an Elgamal signing token");
}

TEST_F(PKIOps, DHAgreementAndHostilePeerValues) {
    TElCustomCryptoKey* a = provider.CreateKey(SB_ALG_PK_DH, 0);
    a->Generate(512);
    TElCustomCryptoKey* b = provider.CreateKey(SB_ALG_PK_DH, 0);
    b->SetKeyProp(SB_KEYPROP_DH_P, a->GetKeyProp(SB_KEYPROP_DH_P));
    b->SetKeyProp(SB_KEYPROP_DH_G, a->GetKeyProp(SB_KEYPROP_DH_G));
    b->SetKeyProp(SB_KEYPROP_DH_X, std::string(20, '\x35'));
    auto run = [&](TElCustomCryptoKey* key, bool encrypt) {
        size_t size = 0;
        if (encrypt)
            provider.Encrypt(SB_ALG_PK_DH, 0, key, nullptr, 0, nullptr, size);
        else
            provider.Decrypt(SB_ALG_PK_DH, 0, key, nullptr, 0, nullptr, size);
        size = std::max<size_t>(size, 1);  // a key without p answers 0: still run the operation
        Bytes out(size);
        if (encrypt)
            provider.Encrypt(SB_ALG_PK_DH, 0, key, nullptr, 0, out.data(), size);
        else
            provider.Decrypt(SB_ALG_PK_DH, 0, key, nullptr, 0, out.data(), size);
        out.resize(size);
        return out;
    };
    // Encryption without input: the own public value.
    EXPECT_EQ(pktest::StripZeros(run(a, true)), pktest::StripZeros(B(a->GetKeyProp(SB_KEYPROP_DH_Y))));
    // b holds x but no y: it counts as public once the peer's value is known.
    EXPECT_FALSE(b->GetIsPublic());
    b->SetKeyProp(SB_KEYPROP_DH_PEER_Y, Str(run(a, true)));
    const Bytes yb = run(b, true);
    a->SetKeyProp(SB_KEYPROP_DH_PEER_Y, Str(yb));
    EXPECT_EQ(run(a, false), run(b, false));  // the same secret on both sides
    TElCustomCryptoContext* c = provider.EncryptInit(SB_ALG_PK_DH, 0, a);
    EXPECT_EQ(c->EstimateOutputSize(0), 64);
    provider.ReleaseCryptoContext(c);
    auto op = TElBuiltInDHPublicKeyCrypto::Create();
    op->SetKeyMaterial(a);
    EXPECT_EQ(kwtest::ThrownMessage([&] { op->EstimateOutputSize(SB_PKOP_SIGN, 0); }), SNotASigningAlgorithm);
    EXPECT_EQ(op->EstimateOutputSize(SB_PKOP_SIGN_DETACHED, 0), 64);
    // Peer values that force a known secret, and a missing p.
    const BigNumPtr p = pktest::Num(B(a->GetKeyProp(SB_KEYPROP_DH_P))), t = MakeBigNum();
    auto offset = [&](int32_t d) {
        if (d >= 0) AddWordToBigNum(p.get(), uint32_t(d), t.get());
        else SubtractWordFromBigNum(p.get(), uint32_t(-d), t.get());
        return Str(pktest::Trimmed(t.get()));
    };
    const std::pair<const char*, std::string> peers[] = {
        {"0", std::string(1, '\0')}, {"1", "\x01"}, {"p - 1", offset(-1)}, {"p", offset(0)}, {"p + 1", offset(1)},
        {"empty", ""},
    };
    for (const auto& [name, value] : peers) {
        a->SetKeyProp(SB_KEYPROP_DH_PEER_Y, value);
        if (value.empty()) a->SetKeyProp(SB_KEYPROP_DH_X, a->GetKeyProp(SB_KEYPROP_DH_X));
        EXPECT_THROW(run(a, false), EElBuiltInCryptoProviderError) << name;
    }
    a->SetKeyProp(SB_KEYPROP_DH_PEER_Y, Str(yb));
    a->SetKeyProp(SB_KEYPROP_DH_P, "");
    EXPECT_EQ(kwtest::ThrownMessage([&] { run(a, false); }), SSecretKeyNotFound);
}

// The generic one-shot detached verification answers the operation's verdict (it answered 3).
TEST_F(PKIOps, OneShotDetachedVerification) {
    TElCustomCryptoKey* key = RsaKey();
    TElRelativeDistinguishedName params;
    params.Add(SB_CTXPROP_HASH_ALGORITHM, GetOIDByHashAlgorithm(SB_ALG_SHA256));
    const Bytes sig = Sign(key, SB_ALG_PK_RSA, B("one shot"), &params);
    EXPECT_EQ(provider.TElCustomCryptoProvider::VerifyDetached(SB_ALG_PK_RSA, key, "one shot", 8, sig.data(),
                                                               sig.size(), &params),
              SB_VR_SUCCESS);
    EXPECT_EQ(provider.TElCustomCryptoProvider::VerifyDetachedByOID(SB_OID_SHA256_RSA, "", key, "one shot", 8,
                                                                    sig.data(), sig.size(), &params),
              SB_VR_SUCCESS);
    EXPECT_EQ(provider.TElCustomCryptoProvider::VerifyDetached(SB_ALG_PK_RSA, key, "one shoT", 8, sig.data(),
                                                               sig.size(), &params),
              SB_VR_INVALID_SIGNATURE);
}

// An AES key wrapped by OpenSSL under our RSA key is unwrapped by DecryptKey.
TEST_F(PKIOps, DecryptKeyUnwrapsWhatOpenSSLWrapped) {
    TElCustomCryptoKey* kek = RsaKey();
    const Bytes aes(16, 0x42);
    const Bytes wrapped = kwtest::OpenSSLEncrypt(kwtest::SharedOpenSSLRsa(2048), aes, {RSA_PKCS1_PADDING});
    TElCustomCryptoKey* key = provider.DecryptKey(wrapped.data(), wrapped.size(), SB_OID_AES128_CBC, "", kek,
                                                  SB_OID_RSA_ENCRYPTION, "");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->GetAlgorithm(), SB_ALG_AES128);
    EXPECT_EQ(Bytes(key->GetValue().begin(), key->GetValue().end()), aes);
}
