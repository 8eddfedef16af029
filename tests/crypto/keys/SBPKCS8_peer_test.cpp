// PKCS#8 against the openssl tool: keys written by `openssl pkcs8 -topk8` under every PBES1
// row it has (MD2 is not built into it) and under PBES2 with DES, triple DES and RC2 load with
// the right passphrase and fail with a code with a wrong one; OpenSSL 3's default (AES-256 with
// hmacWithSHA256) gives the clear "unsupported" code; our saves, plain and encrypted, DER and
// PEM, are read by `openssl pkcs8` and `openssl pkey`.
#include <gtest/gtest.h>

#include "crypto/ASN1TestSupport.h"
#include "crypto/base/SBConstants.h"
#include "crypto/keys/SBPKCS8.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

using asn1test::OpenSSLIn;

class PKCS8Peer : public ::testing::Test {
protected:
    void SetUp() override {
        KW_REQUIRE_PEER(asn1test::HaveTool("openssl"), "the openssl tool");
        ASSERT_EQ(OpenSSLIn(dir.path(), "genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out rsa.pem"),
                  0)
            << Log();
        ASSERT_EQ(OpenSSLIn(dir.path(),
                            "genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:1024 -out dsap.pem"),
                  0)
            << Log();
        ASSERT_EQ(OpenSSLIn(dir.path(), "genpkey -paramfile dsap.pem -out dsa.pem"), 0) << Log();
        for (const char* k : {"rsa", "dsa"})
            ASSERT_EQ(OpenSSLIn(dir.path(), std::string("pkcs8 -topk8 -nocrypt -in ") + k +
                                                ".pem -outform DER -out " + k + ".p8"),
                      0)
                << Log();
    }
    std::string Log() const { return kwtest::ReadFile(dir / "openssl.log"); }
    // The private-key octets of the unencrypted PKCS#8 form.
    std::string PlainBlob(const std::string& k) {
        TElPKCS8PrivateKeyInfo info;
        const std::string der = kwtest::ReadFile(dir / (k + ".p8"));
        EXPECT_EQ(info.LoadFromBuffer(der.data(), der.size()), 0);
        return info.PrivateKey;
    }

    kwtest::TempDir dir;
};

}  // namespace

TEST_F(PKCS8Peer, OpenSSLKeysLoad) {
    const struct {
        const char* name;
        const char* options;
        int32_t cipher;
        bool pbes2;
    } cases[] = {
        {"PBE-MD5-DES", "-v1 PBE-MD5-DES", SB_ALG_DES, false},
        {"PBE-SHA1-DES", "-v1 PBE-SHA1-DES", SB_ALG_DES, false},
        {"PBE-MD5-RC2-64", "-v1 PBE-MD5-RC2-64", SB_ALG_RC2, false},
        {"PBE-SHA1-RC2-64", "-v1 PBE-SHA1-RC2-64", SB_ALG_RC2, false},
        {"PBES2 DES", "-v2 des-cbc -v2prf hmacWithSHA1", SB_ALG_DES, true},
        {"PBES2 triple DES", "-v2 des3 -v2prf hmacWithSHA1", SB_ALG_3DES, true},
        {"PBES2 RC2", "-v2 rc2 -v2prf hmacWithSHA1", SB_ALG_RC2, true},
        {"PBES2 RC2-40", "-v2 rc2-40 -v2prf hmacWithSHA1", SB_ALG_RC2, true},
    };
    int ran = 0;
    for (const char* k : {"rsa", "dsa"}) {
        const std::string blob = PlainBlob(k);
        for (const auto& c : cases) {
            for (const char* form : {"DER", "PEM"}) {
                SCOPED_TRACE(std::string(k) + " " + c.name + " " + form);
                ASSERT_EQ(OpenSSLIn(dir.path(),
                                    std::string("pkcs8 -topk8 -provider legacy -provider default -in ") + k +
                                        ".pem -passout pass:s3cret -iter 1000 " + c.options + " -outform " +
                                        form + " -out enc.key"),
                          0)
                    << Log();
                const std::string enc = kwtest::ReadFile(dir / "enc.key");
                TElPKCS8PrivateKey key;
                ASSERT_EQ(key.LoadFromBuffer(enc.data(), enc.size(), "s3cret"), 0);
                EXPECT_EQ(key.GetPrivateKeyBlob(), blob);
                EXPECT_EQ(key.CipherAlgorithm, c.cipher);
                EXPECT_EQ(key.UsePBES2, c.pbes2);
                TElPKCS8PrivateKey wrong;
                EXPECT_NE(wrong.LoadFromBuffer(enc.data(), enc.size(), "s3cre7"), 0);
                ++ran;
            }
        }
    }
    EXPECT_EQ(ran, 2 * 8 * 2);
    // OpenSSL 3's own default is outside these schemes: unsupported, not a wrong passphrase.
    ASSERT_EQ(
        OpenSSLIn(dir.path(), "pkcs8 -topk8 -in rsa.pem -passout pass:s3cret -outform DER -out aes.key"), 0)
        << Log();
    const std::string aes = kwtest::ReadFile(dir / "aes.key");
    TElPKCS8PrivateKey key;
    EXPECT_EQ(key.LoadFromBuffer(aes.data(), aes.size(), "s3cret"), 0x2303);
}

TEST_F(PKCS8Peer, OurSavesReadByOpenSSL) {
    for (const char* k : {"rsa", "dsa"}) {
        const std::string p8 = kwtest::ReadFile(dir / (std::string(k) + ".p8"));
        TElPKCS8PrivateKey key;
        ASSERT_EQ(key.LoadFromBuffer(p8.data(), p8.size(), ""), 0);
        const struct {
            int32_t cipher;
            bool pbes2;
            const char* passphrase;
        } cases[] = {{0, false, ""},
                     {SB_ALG_3DES, true, "pass word"},
                     {SB_ALG_DES, true, "pass word"},
                     {SB_ALG_RC2, true, "pass word"},
                     {SB_ALG_DES, false, "pass word"},
                     {SB_ALG_RC2, false, "pass word"}};
        for (const auto& c : cases) {
            for (const bool pem : {false, true}) {
                SCOPED_TRACE(std::string(k) + " " + std::to_string(c.cipher) + (c.pbes2 ? " PBES2" : "") +
                             (pem ? " PEM" : " DER"));
                key.CipherAlgorithm = c.cipher;
                key.UsePBES2 = c.pbes2;
                size_t size = 0;
                key.SaveToBuffer(nullptr, size, pem, c.passphrase);
                std::string out(size, '\0');
                ASSERT_EQ(key.SaveToBuffer(out.data(), size, pem, c.passphrase), 0);
                kwtest::WriteFile(dir / "ours.key", out);
                const std::string inform = pem ? "PEM" : "DER";
                const std::string pass = std::string(" -passin 'pass:") + c.passphrase + "'";
                // openssl pkcs8 decrypts it back to the unencrypted form we started from.
                ASSERT_EQ(OpenSSLIn(dir.path(),
                                    "pkcs8 -topk8 -nocrypt -provider legacy -provider default -inform " +
                                        inform + " -in ours.key" + pass + " -outform DER -out back.p8"),
                          0)
                    << Log();
                EXPECT_TRUE(kwtest::ReadFile(dir / "back.p8") == p8);
                // And pkey reads it as a key.
                EXPECT_EQ(OpenSSLIn(dir.path(), "pkey -provider legacy -provider default -inform " + inform +
                                                    " -in ours.key" + pass + " -noout"),
                          0)
                    << Log();
            }
        }
    }
}
