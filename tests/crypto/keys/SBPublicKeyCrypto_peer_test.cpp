// Key files against the openssl tool: keys written by `openssl genrsa -traditional` (plain and
// DES-EDE3 encrypted) and `openssl rsa -pubout` load into the key materials; the DER and PEM
// the materials write (RSA secret and public, DSA secret, encrypted PEM) are read by
// `openssl rsa`, `openssl dsa` and `openssl pkey`.
#include <gtest/gtest.h>

#include "crypto/ASN1TestSupport.h"
#include "crypto/keys/SBPublicKeyCrypto.h"

namespace {

std::string Saved(const TElPublicKeyMaterial& key, bool secret) {
    size_t size = 0;
    secret ? key.SaveSecret(nullptr, size) : key.SavePublic(nullptr, size);
    std::string out(size, '\0');
    secret ? key.SaveSecret(out.data(), size) : key.SavePublic(out.data(), size);
    out.resize(size);
    return out;
}

}  // namespace

TEST(PublicKeyFacadePeer, OpenSSLKeyFilesLoad) {
    KW_REQUIRE_PEER(asn1test::HaveTool("openssl"), "openssl");
    const kwtest::TempDir dir;
    const auto path = [&](const char* n) { return "'" + (dir / n).string() + "'"; };
    const auto log = dir / "log.txt";
    ASSERT_EQ(asn1test::Run("openssl genrsa -traditional -out " + path("k.pem") + " 2048", log), 0);
    ASSERT_EQ(asn1test::Run("openssl rsa -in " + path("k.pem") + " -traditional -outform DER -out " + path("k.der"), log),
              0);
    ASSERT_EQ(asn1test::Run("openssl rsa -in " + path("k.pem") + " -pubout -out " + path("pub.pem"), log), 0);
    ASSERT_EQ(asn1test::Run("openssl rsa -in " + path("k.pem") + " -pubout -outform DER -out " + path("pub.der"), log),
              0);
    ASSERT_EQ(asn1test::Run("openssl rsa -in " + path("k.pem") + " -traditional -des3 -passout pass:secret -out " +
                                path("enc.pem"),
                            log),
              0);
    const std::string der = kwtest::ReadFile(dir / "k.der");
    // The plain PEM.
    const std::string pem = kwtest::ReadFile(dir / "k.pem");
    TElRSAKeyMaterial key;
    key.LoadSecret(pem.data(), pem.size());
    EXPECT_TRUE(key.GetSecretKey());
    EXPECT_EQ(key.GetBits(), 2048);
    EXPECT_EQ(Saved(key, true), der);
    EXPECT_EQ(Saved(key, false), kwtest::ReadFile(dir / "pub.der"));
    // The DES-EDE3 encrypted one, with the right passphrase and a wrong one.
    const std::string enc = kwtest::ReadFile(dir / "enc.pem");
    TElRSAKeyMaterial locked;
    locked.KeyPassphrase = "secret";
    locked.LoadSecret(enc.data(), enc.size());
    EXPECT_EQ(Saved(locked, true), der);
    TElRSAKeyMaterial wrong;
    wrong.KeyPassphrase = "Secret";
    EXPECT_THROW(wrong.LoadSecret(enc.data(), enc.size()), ECryptoLibraryError);
    EXPECT_FALSE(wrong.GetSecretKey());
    // The public key, PEM and DER.
    for (const char* name : {"pub.pem", "pub.der"}) {
        const std::string text = kwtest::ReadFile(dir / name);
        TElRSAKeyMaterial pub;
        pub.LoadPublic(text.data(), text.size());
        EXPECT_TRUE(pub.GetPublicKey()) << name;
        EXPECT_FALSE(pub.GetSecretKey()) << name;
        EXPECT_EQ(Saved(pub, false), kwtest::ReadFile(dir / "pub.der")) << name;
    }
}

TEST(PublicKeyFacadePeer, OpenSSLReadsOurKeyFiles) {
    KW_REQUIRE_PEER(asn1test::HaveTool("openssl"), "openssl");
    const kwtest::TempDir dir;
    const auto path = [&](const char* n) { return "'" + (dir / n).string() + "'"; };
    const auto log = dir / "log.txt";
    TElRSAKeyMaterial key;
    key.Generate(1024);
    ASSERT_TRUE(key.GetSecretKey());
    kwtest::WriteFile(dir / "ours.der", Saved(key, true));
    kwtest::WriteFile(dir / "ours-pub.der", Saved(key, false));
    key.PEMOutput = true;
    kwtest::WriteFile(dir / "ours.pem", Saved(key, true));
    kwtest::WriteFile(dir / "ours-pub.pem", Saved(key, false));
    key.KeyPassphrase = "ours";
    kwtest::WriteFile(dir / "ours-enc.pem", Saved(key, true));
    const std::string checks[] = {
        "openssl rsa -inform DER -in " + path("ours.der") + " -check -noout",
        "openssl rsa -in " + path("ours.pem") + " -check -noout",
        "openssl rsa -in " + path("ours-enc.pem") + " -passin pass:ours -check -noout",
        "openssl pkey -inform DER -in " + path("ours.der") + " -noout",
        "openssl pkey -in " + path("ours.pem") + " -noout",
        "openssl pkey -pubin -inform DER -in " + path("ours-pub.der") + " -noout",
        "openssl pkey -pubin -in " + path("ours-pub.pem") + " -noout",
    };
    for (const std::string& command : checks)
        EXPECT_EQ(asn1test::Run(command, log), 0) << command << ": " << kwtest::ReadFile(log);
    // The same modulus on both sides.
    ASSERT_EQ(asn1test::Run("openssl rsa -in " + path("ours.pem") + " -modulus -noout", log), 0);
    const std::string modulus = kwtest::ReadFile(log);
    ASSERT_EQ(asn1test::Run("openssl rsa -pubin -in " + path("ours-pub.pem") + " -modulus -noout", log), 0);
    EXPECT_EQ(kwtest::ReadFile(log), modulus);
    // A wrong passphrase does not open our encrypted PEM.
    EXPECT_NE(asn1test::Run("openssl rsa -in " + path("ours-enc.pem") + " -passin pass:other -noout", log), 0);
    // DSA: the private blob, plain and as PEM.
    TElDSAKeyMaterial dsa;
    dsa.GenerateQ(1024, 160);
    kwtest::WriteFile(dir / "dsa.der", Saved(dsa, true));
    dsa.PEMOutput = true;
    kwtest::WriteFile(dir / "dsa.pem", Saved(dsa, true));
    EXPECT_EQ(asn1test::Run("openssl dsa -inform DER -in " + path("dsa.der") + " -noout", log), 0)
        << kwtest::ReadFile(log);
    EXPECT_EQ(asn1test::Run("openssl pkey -in " + path("dsa.pem") + " -noout", log), 0) << kwtest::ReadFile(log);
}
