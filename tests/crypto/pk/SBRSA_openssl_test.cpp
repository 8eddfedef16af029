// The RSA primitives against OpenSSL's libcrypto, both ways: PKCS#1 v1.5, PSS and OAEP
// signatures and ciphertexts, SHA-1 to SHA-512, with keys of 1028 bits (neither a multiple of
// 32 bits nor of 8 bytes) and 2048 bits made by OpenSSL, and a key of our own read by OpenSSL's
// strict DER reader and checked by it.
#include <gtest/gtest.h>

#include "crypto/OpenSSLPkey.h"
#include "crypto/PublicKeyTestSupport.h"
#include "crypto/pk/SBRSA.h"

namespace {

using pktest::B;
using pktest::Bytes;

struct Hash {
    int32_t code;
    const char* name;
};
const Hash kHashes[] = {{SB_ALG_SHA1, "SHA1"},
                        {SB_ALG_SHA224, "SHA224"},
                        {SB_ALG_SHA256, "SHA256"},
                        {SB_ALG_SHA384, "SHA384"},
                        {SB_ALG_SHA512, "SHA512"}};

struct Pair {
    kwtest::Pkey peer;
    Bytes n, e, blob;
    size_t k() const { return pktest::StripZeros(n).size(); }
    size_t bits() const {
        const Bytes s = pktest::StripZeros(n);
        return 8 * s.size() - size_t(__builtin_clz(s[0]) - 24);
    }
};

Pair FromOpenSSL(int bits) {
    Pair p;
    p.peer = kwtest::OpenSSLGenerateRsa(bits);
    p.n = kwtest::OpenSSLNumber(p.peer.get(), OSSL_PKEY_PARAM_RSA_N);
    p.e = kwtest::OpenSSLNumber(p.peer.get(), OSSL_PKEY_PARAM_RSA_E);
    p.blob = B(kwtest::OpenSSLPrivateDer(p.peer.get()));
    return p;
}

const Pair& Key(int bits) {
    static const Pair k1028 = FromOpenSSL(1028);
    static const Pair k2048 = FromOpenSSL(2048);
    return bits == 1028 ? k1028 : k2048;
}

void Exchange(const Pair& key) {
    SCOPED_TRACE(key.bits());
    const Bytes message = B("a message both sides sign and encrypt");
    for (const Hash& h : kHashes) {
        SCOPED_TRACE(h.name);
        const Bytes digest = pktest::Digest(h.code, message);
        const size_t hLen = digest.size();

        // PKCS#1 v1.5 signatures: OpenSSL builds the DigestInfo itself.
        const Bytes info = pktest::DigestInfo(h.code, digest);
        const auto ours = pktest::Sized([&](void* out, int32_t& size) {
            return SignRSAPKCS1(info.data(), int32_t(info.size()), key.blob.data(), int32_t(key.blob.size()), out, size);
        });
        ASSERT_TRUE(ours);
        EXPECT_TRUE(kwtest::OpenSSLVerifyDigest(key.peer.get(), digest, *ours, {RSA_PKCS1_PADDING, h.name}));
        const Bytes theirs = kwtest::OpenSSLSignDigest(key.peer.get(), digest, {RSA_PKCS1_PADDING, h.name});
        ASSERT_EQ(theirs.size(), key.k());
        EXPECT_EQ(theirs, *ours);  // deterministic: the same bytes
        const auto opened = pktest::Sized([&](void* out, int32_t& size) {
            return RecoverRSAPKCS1(theirs.data(), int32_t(theirs.size()), key.n.data(), int32_t(key.n.size()),
                                   key.e.data(), int32_t(key.e.size()), out, size);
        });
        EXPECT_EQ(opened, info);

        // PSS with the longest salt up to the digest's length that the modulus allows.
        const size_t emLen = (key.bits() - 1 + 7) / 8;
        const int32_t salt = int32_t(std::min(hLen, emLen - hLen - 2));
        const auto pss = pktest::Sized([&](void* out, int32_t& size) {
            return SignRSAPSS(digest.data(), int32_t(hLen), h.code, salt, key.blob.data(), int32_t(key.blob.size()),
                              out, size);
        });
        ASSERT_TRUE(pss);
        EXPECT_EQ(pss->size(), key.k());
        EXPECT_TRUE(
            kwtest::OpenSSLVerifyDigest(key.peer.get(), digest, *pss, {RSA_PKCS1_PSS_PADDING, h.name, salt}));
        const Bytes theirPss =
            kwtest::OpenSSLSignDigest(key.peer.get(), digest, {RSA_PKCS1_PSS_PADDING, h.name, salt});
        ASSERT_FALSE(theirPss.empty());
        EXPECT_TRUE(VerifyRSAPSS(digest.data(), int32_t(hLen), h.code, salt, key.n.data(), int32_t(key.n.size()),
                                 key.e.data(), int32_t(key.e.size()), theirPss.data(), int32_t(theirPss.size())));

        // OAEP, where the modulus leaves room for two digests.
        const Bytes label = B("label");
        const kwtest::RsaOptions oaep{RSA_PKCS1_OAEP_PADDING, h.name, 0, label};
        const auto c = pktest::Sized([&](void* out, int32_t& size) {
            return EncryptRSAOAEP(message.data(), int32_t(message.size()), key.n.data(), int32_t(key.n.size()),
                                  key.e.data(), int32_t(key.e.size()), label.data(), int32_t(label.size()), h.code,
                                  out, size);
        });
        if (key.k() < 2 * hLen + 2 + message.size()) {
            EXPECT_FALSE(c);
            continue;
        }
        ASSERT_TRUE(c);
        EXPECT_EQ(kwtest::OpenSSLDecrypt(key.peer.get(), *c, oaep), message);
        const Bytes theirC = kwtest::OpenSSLEncrypt(key.peer.get(), message, oaep);
        ASSERT_FALSE(theirC.empty());
        const auto m = pktest::Run([&](void* out, int32_t& size) {
            return DecryptRSAOAEP(theirC.data(), int32_t(theirC.size()), key.blob.data(), int32_t(key.blob.size()),
                                  label.data(), int32_t(label.size()), h.code, out, size);
        });
        EXPECT_EQ(m, message);
    }

    // PKCS#1 v1.5 encryption.
    const auto c = pktest::Sized([&](void* out, int32_t& size) {
        return EncryptRSAPKCS1(message.data(), int32_t(message.size()), key.n.data(), int32_t(key.n.size()),
                               key.e.data(), int32_t(key.e.size()), out, size);
    });
    ASSERT_TRUE(c);
    EXPECT_EQ(c->size(), key.k());
    EXPECT_EQ(kwtest::OpenSSLDecrypt(key.peer.get(), *c, {RSA_PKCS1_PADDING}), message);
    const Bytes theirC = kwtest::OpenSSLEncrypt(key.peer.get(), message, {RSA_PKCS1_PADDING});
    const auto m = pktest::Run([&](void* out, int32_t& size) {
        return DecryptRSAPKCS1(theirC.data(), int32_t(theirC.size()), key.blob.data(), int32_t(key.blob.size()), out,
                               size);
    });
    EXPECT_EQ(m, message);
}

}  // namespace

TEST(RSAOpenSSL, ExchangeAt1028Bits) {
    ASSERT_EQ(Key(1028).bits(), 1028u);
    Exchange(Key(1028));
}

TEST(RSAOpenSSL, ExchangeAt2048Bits) {
    Exchange(Key(2048));
}

TEST(RSAOpenSSL, OpenSSLKeysValidate) {
    for (int bits : {1028, 2048})
        EXPECT_TRUE(ValidateRSAPrivateKey(Key(bits).blob.data(), int32_t(Key(bits).blob.size())));
}

// Our key, read by OpenSSL's DER reader (which refuses padded INTEGERs) and checked by it; then
// the same exchange with OpenSSL holding our key.
TEST(RSAOpenSSL, OurKeyIsReadAndCheckedByOpenSSL) {
    Bytes n(256), e(256), d(256), blob(1300);
    int32_t ns = 256, es = 256, ds = 256, bs = 1300;
    ASSERT_TRUE(GenerateRSAKey(2048, n.data(), ns, e.data(), es, d.data(), ds, blob.data(), bs));
    blob.resize(size_t(bs));
    n.resize(size_t(ns));
    e.resize(size_t(es));
    Pair ours;
    ours.peer = kwtest::OpenSSLReadPrivateDer(EVP_PKEY_RSA, pktest::Str(blob));
    ASSERT_TRUE(ours.peer);
    EXPECT_TRUE(kwtest::OpenSSLCheckPrivate(ours.peer.get()));
    EXPECT_EQ(kwtest::OpenSSLPrivateDer(ours.peer.get()), pktest::Str(blob));  // OpenSSL writes the same DER
    ours.n = n;
    ours.e = e;
    ours.blob = blob;
    Exchange(ours);
    // The public key in the SubjectPublicKeyInfo form reads in OpenSSL too.
    const auto spki = pktest::Sized([&](void* out, int32_t& size) {
        return EncodeRSAPublicKey(n.data(), ns, e.data(), es, ByteString(SB_OID_RSA_ENCRYPTION), out, size, false);
    });
    ASSERT_TRUE(spki);
    const kwtest::Pkey pub = kwtest::OpenSSLReadPublicDer(pktest::Str(*spki));
    ASSERT_TRUE(pub);
    EXPECT_EQ(kwtest::OpenSSLNumber(pub.get(), OSSL_PKEY_PARAM_RSA_N), pktest::StripZeros(n));
}
