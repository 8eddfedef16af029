// Signature checks of certificates made by openssl at test time (RSA PKCS#1 v1.5 with MD5 to
// SHA-512, RSA-PSS, DSA with SHA-1) agree with `openssl verify`, on the certificates as made and
// with one byte of the signed part changed.
#include <gtest/gtest.h>

#include "crypto/base/SBConstants.h"
#include "pki/SBX509.h"
#include "tests/pki/PKITestSupport.h"

namespace {

using namespace pkitest;

struct Kind {
    const char* name;
    const char* key;  // genpkey arguments
    const char* sign;  // req arguments that choose the signature
    int32_t algorithm;
};

const Kind kKinds[] = {
    {"rsa-md5", "-algorithm RSA -pkeyopt rsa_keygen_bits:1024", "-md5", SB_CERT_ALG_MD5_RSA},
    {"rsa-sha1", "-algorithm RSA -pkeyopt rsa_keygen_bits:1024", "-sha1", SB_CERT_ALG_SHA1_RSA},
    {"rsa-sha224", "-algorithm RSA -pkeyopt rsa_keygen_bits:1024", "-sha224", SB_CERT_ALG_SHA224_RSA},
    {"rsa-sha256", "-algorithm RSA -pkeyopt rsa_keygen_bits:2048", "-sha256", SB_CERT_ALG_SHA256_RSA},
    {"rsa-sha384", "-algorithm RSA -pkeyopt rsa_keygen_bits:2048", "-sha384", SB_CERT_ALG_SHA384_RSA},
    {"rsa-sha512", "-algorithm RSA -pkeyopt rsa_keygen_bits:2048", "-sha512", SB_CERT_ALG_SHA512_RSA},
    {"rsa-pss-sha256", "-algorithm RSA -pkeyopt rsa_keygen_bits:2048",
     "-sha256 -sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:32", SB_CERT_ALG_RSASSA_PSS},
    {"rsa-pss-sha1", "-algorithm RSA -pkeyopt rsa_keygen_bits:1024",
     "-sha1 -sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:20", SB_CERT_ALG_RSASSA_PSS},
    {"dsa-sha1", "-paramfile dsa.param", "-sha1", SB_CERT_ALG_DSA_SHA1},
};

// The certificate with one bit of its serial number changed: it still parses and still names
// itself as its issuer, and no signature over it holds.
std::string Tampered(const std::string& der) {
    return EditDER(der, [](TElASN1ConstrainedTag& r) {
        auto& serial = S(r, {0, 0, 1});
        std::string c = serial.GetContent();
        c.back() = char(c.back() ^ 1);
        serial.SetContent(c);
    });
}

TEST(X509Signatures, AgreeWithOpensslVerify) {
    PKI_REQUIRE_OPENSSL();
    kwtest::TempDir dir;
    const fs::path& d = dir.path();
    ASSERT_EQ(OpenSSL(d, "dsaparam -out dsa.param 1024"), 0) << OpenSSLLog(d);
    for (const Kind& k : kKinds) {
        SCOPED_TRACE(k.name);
        const std::string key = std::string(k.name) + ".key", pem = std::string(k.name) + ".pem";
        ASSERT_EQ(OpenSSL(d, std::string("genpkey ") + k.key + " -out " + key), 0) << OpenSSLLog(d);
        ASSERT_EQ(OpenSSL(d, "req -x509 -key " + key + " -subj '/CN=subject " + k.name + "' -days 30 " + k.sign +
                                 " -out " + pem),
                  0)
            << OpenSSLLog(d);
        const std::string der = LoadObjects(d / pem, "CERTIFICATE").at(0);
        const std::string bad = Tampered(der);
        ASSERT_NE(bad, der);
        kwtest::WriteFile(d / "bad.der", bad);
        ASSERT_EQ(OpenSSL(d, "x509 -inform DER -in bad.der -out bad.pem"), 0);

        // -check_ss_sig: libcrypto checks a trusted root's own signature only when asked.
        const bool peerGood = OpenSSL(d, "verify -check_ss_sig -CAfile " + pem + " " + pem) == 0;
        const bool peerBad = OpenSSL(d, "verify -check_ss_sig -CAfile bad.pem bad.pem") == 0;
        EXPECT_TRUE(peerGood) << OpenSSLLog(d);
        EXPECT_FALSE(peerBad);

        TElX509Certificate good, tampered;
        good.LoadFromBuffer(der.data(), der.size());
        tampered.LoadFromBuffer(bad.data(), bad.size());
        EXPECT_EQ(good.GetSignatureAlgorithm(), k.algorithm);
        EXPECT_EQ(good.VerifySelfSignature(), peerGood);
        EXPECT_EQ(good.VerifySignedBy(&good), peerGood);
        EXPECT_EQ(tampered.VerifySelfSignature(), peerBad);
        EXPECT_EQ(tampered.VerifySignedBy(&good), peerBad);
    }
}

TEST(X509Signatures, AnIssuerKeyOfAnotherAlgorithmSignsNothing) {
    PKI_REQUIRE_OPENSSL();
    kwtest::TempDir dir;
    const fs::path& d = dir.path();
    ASSERT_EQ(OpenSSL(d, "dsaparam -out dsa.param 1024"), 0);
    ASSERT_EQ(OpenSSL(d, "req -x509 -newkey rsa:1024 -nodes -keyout r.key -subj /CN=r -sha256 -out r.pem"), 0);
    ASSERT_EQ(OpenSSL(d, "req -x509 -newkey dsa:dsa.param -nodes -keyout d.key -subj /CN=r -sha1 -out d.pem"), 0);
    const std::string r = LoadObjects(d / "r.pem", "CERTIFICATE").at(0);
    const std::string ds = LoadObjects(d / "d.pem", "CERTIFICATE").at(0);
    TElX509Certificate rsa, dsa;
    rsa.LoadFromBuffer(r.data(), r.size());
    dsa.LoadFromBuffer(ds.data(), ds.size());
    // SHA-256 with RSA against a DSA issuer, DSA with SHA-1 against an RSA issuer: false, no error.
    EXPECT_FALSE(rsa.VerifySignedBy(&dsa));
    EXPECT_FALSE(dsa.VerifySignedBy(&rsa));
    EXPECT_TRUE(rsa.VerifySignedBy(&rsa));
    EXPECT_TRUE(dsa.VerifySignedBy(&dsa));
}

}  // namespace

namespace {

TEST(X509PrivateKey, LoadSaveAndCopies) {
    PKI_REQUIRE_OPENSSL();
    kwtest::TempDir dir;
    const fs::path& d = dir.path();
    ASSERT_EQ(OpenSSL(d, "genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out k.pem"), 0);
    ASSERT_EQ(OpenSSL(d, "rsa -in k.pem -traditional -out pkcs1.pem"), 0) << OpenSSLLog(d);
    ASSERT_EQ(OpenSSL(d, "rsa -in k.pem -traditional -outform DER -out pkcs1.der"), 0);
    ASSERT_EQ(OpenSSL(d, "req -x509 -key k.pem -subj /CN=k -days 3 -outform DER -out c.der"), 0);
    const std::string der = kwtest::ReadFile(d / "c.der");
    const std::string pem = kwtest::ReadFile(d / "pkcs1.pem");
    const std::string keyDer = kwtest::ReadFile(d / "pkcs1.der");

    TElX509Certificate cert;
    cert.LoadFromBuffer(der.data(), der.size());
    ASSERT_NE(cert.GetKeyMaterial(), nullptr);
    EXPECT_FALSE(cert.GetPrivateKeyExists());
    size_t size = 0;
    EXPECT_FALSE(cert.SaveKeyToBuffer(nullptr, size));

    cert.LoadKeyFromBuffer(pem.data(), pem.size());
    EXPECT_TRUE(cert.GetPrivateKeyExists());
    size = 0;
    EXPECT_FALSE(cert.SaveKeyToBuffer(nullptr, size));
    ASSERT_GT(size, 0u);
    std::string saved(size, '\0');
    size_t shortSize = size - 1;
    EXPECT_FALSE(cert.SaveKeyToBuffer(saved.data(), shortSize));
    EXPECT_EQ(shortSize, size);
    EXPECT_TRUE(cert.SaveKeyToBuffer(saved.data(), size));
    saved.resize(size);
    EXPECT_EQ(saved, keyDer);

    // Copies carry the key only when asked; a storage's copy likewise.
    TElX509Certificate with, without;
    cert.CopyTo(&with, true);
    cert.CopyTo(&without, false);
    EXPECT_TRUE(with.GetPrivateKeyExists());
    EXPECT_FALSE(without.GetPrivateKeyExists());
    EXPECT_TRUE(cert.GetPrivateKeyExists());
    TElX509CertificateChain chain;
    chain.AddCopy(&cert);
    EXPECT_TRUE(chain.GetCertificate(0)->GetPrivateKeyExists());

    // Bare Base64 of the DER key loads too; an empty buffer only clears the key.
    std::string b64(keyDer.size() * 2, '\0');
    size_t n = b64.size();
    ASSERT_TRUE(EncodeBase64(keyDer.data(), keyDer.size(), b64.data(), true, n));
    b64.resize(n);
    without.LoadKeyFromBuffer(b64.data(), b64.size());
    EXPECT_TRUE(without.GetPrivateKeyExists());
    without.LoadKeyFromBuffer(nullptr, 0);
    EXPECT_FALSE(without.GetPrivateKeyExists());
    // A certificate without key material ignores keys.
    TElX509Certificate empty;
    empty.LoadKeyFromBuffer(pem.data(), pem.size());
    EXPECT_FALSE(empty.GetPrivateKeyExists());
}

}  // namespace
