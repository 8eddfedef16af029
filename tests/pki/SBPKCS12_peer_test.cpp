// PKCS#12 against OpenSSL: PFX files made by `openssl pkcs12 -export` at test time under each
// of the five PBE schemes, with SHA-1 and SHA-256 MACs, without a MAC and with an empty
// password, read with the certificates and keys libcrypto's PKCS12_parse finds in the same
// bytes, each RSA or DSA key on exactly the certificates X509_check_private_key says it
// completes; our exports read by `openssl pkcs12`; the PKITS pkcs12 files (password "password")
// and the pkcs12 files of python3-cryptography-vectors (password "cryptography", and those
// without one) read in place. Keys travel both ways: an RSA and a DSA key of OpenSSL's export
// reach their certificates and sign what `openssl dgst -verify` accepts, and our export with
// keys gives `openssl pkcs12 -nodes` the key that matches each certificate (RSASSA-PSS keys
// too); a Diffie-Hellman certificate's key stays out.
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <algorithm>
#include <memory>

#include "PKCS7TestSupport.h"
#include "PKITestSupport.h"
#include "crypto/base/SBConstants.h"
#include "crypto/keys/SBPKCS8.h"
#include "crypto/keys/SBPublicKeyCrypto.h"
#include "pki/SBPKCS12.h"
#include "tests/crypto/OpenSSLPeer.h"

namespace fs = std::filesystem;

using p7test::CertDER;
using p7test::SavePFX;

namespace {

std::string Str(const rtl::SecureBytes& b) {
    return std::string(b.begin(), b.end());
}

// What libcrypto reads from a PFX: the certificates (the one with the key first), the
// privateKey octets of its key, and the certificates that key completes (X509_check_private_key).
struct TheirPFX {
    bool ok = false;
    std::vector<std::string> certificates;
    std::string key;
    bool keyComparable = true;
    std::vector<std::string> completed;
};

TheirPFX ParseTheirs(const std::string& der, const char* password) {
    kwtest::OpenSSLLegacyAvailable();
    TheirPFX out;
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    std::unique_ptr<PKCS12, decltype(&PKCS12_free)> p12(d2i_PKCS12(nullptr, &p, long(der.size())),
                                                        &PKCS12_free);
    if (!p12) return out;
    EVP_PKEY* pkey = nullptr;
    X509* cert = nullptr;
    STACK_OF(X509)* ca = nullptr;
    if (PKCS12_parse(p12.get(), password, &pkey, &cert, &ca) != 1) return out;
    out.ok = true;
    auto add = [&](X509* x) {
        out.certificates.push_back(CertDER(x));
        if (pkey != nullptr && X509_check_private_key(x, pkey) == 1) out.completed.push_back(CertDER(x));
        ERR_clear_error();
    };
    if (cert != nullptr) add(cert);
    for (int i = 0; ca != nullptr && i < sk_X509_num(ca); ++i)
        add(sk_X509_value(ca, i));
    // RSA and DSA keys come back in their one DER form; other kinds (EC) may be re-encoded by
    // libcrypto, so only their presence is compared.
    out.keyComparable = pkey != nullptr && (EVP_PKEY_get_base_id(pkey) == EVP_PKEY_RSA ||
                                            EVP_PKEY_get_base_id(pkey) == EVP_PKEY_DSA);
    if (pkey != nullptr) {
        PKCS8_PRIV_KEY_INFO* p8 = EVP_PKEY2PKCS8(pkey);
        const unsigned char* key = nullptr;
        int keyLen = 0;
        PKCS8_pkey_get0(nullptr, &key, &keyLen, nullptr, p8);
        out.key.assign(reinterpret_cast<const char*>(key), size_t(keyLen));
        PKCS8_PRIV_KEY_INFO_free(p8);
    }
    EVP_PKEY_free(pkey);
    X509_free(cert);
    sk_X509_pop_free(ca, X509_free);
    return out;
}

// Ours agrees with theirs: the same certificates (in any order) and, when they found a key,
// that key among ours, attached to every certificate it completes; with that one key in the
// file, no other certificate holds one.
void ExpectAgree(TElPKCS12Message& ours, const TheirPFX& theirs) {
    ASSERT_TRUE(theirs.ok);
    TElMemoryCertStorage& storage = ours.GetCertStorage();
    ASSERT_EQ(storage.GetCount(), int32_t(theirs.certificates.size()));
    for (const auto& c : theirs.certificates) {
        bool found = false;
        for (int32_t i = 0; i < storage.GetCount(); ++i)
            found = found || storage.GetCertificate(i)->GetDER() == c;
        EXPECT_TRUE(found);
    }
    if (!theirs.key.empty() && !theirs.keyComparable) {
        EXPECT_GE(ours.KeyCount(), 1);
    }
    if (!theirs.key.empty() && theirs.keyComparable) {
        bool found = false;
        for (int32_t i = 0; i < ours.KeyCount(); ++i)
            found = found || Str(ours.GetKey(i)) == theirs.key;
        EXPECT_TRUE(found);
        for (int32_t i = 0; i < storage.GetCount(); ++i) {
            const TElX509Certificate& c = *storage.GetCertificate(i);
            const bool completed = std::find(theirs.completed.begin(), theirs.completed.end(),
                                             std::string(c.GetDER())) != theirs.completed.end();
            if (completed || ours.KeyCount() == 1) {
                EXPECT_EQ(c.GetPrivateKeyExists(), completed) << "certificate " << i;
            }
        }
    }
}

int32_t Load(TElPKCS12Message& m, const std::string& der, const std::string& password) {
    m.SetPassword(password);
    return m.LoadFromBuffer(der.data(), der.size());
}

// A self-signed certificate name.pem with its key name.key (PKCS#8 PEM, as `openssl req -nodes`
// writes it) for the key options given.
void MakeSelfSigned(const kwtest::TempDir& dir, const std::string& newkey, const std::string& name) {
    ASSERT_EQ(pkitest::OpenSSL(dir.path(), "req -x509 -newkey " + newkey + " -nodes -keyout " + name +
                                               ".key -out " + name + ".pem -subj /CN=" + name + " -days 30"),
              0)
        << pkitest::OpenSSLLog(dir.path());
}

class PKCS12Peer : public ::testing::Test {
protected:
    void SetUp() override {
        PKI_REQUIRE_OPENSSL();
        KW_REQUIRE_PEER(kwtest::OpenSSLLegacyAvailable(), "OpenSSL legacy provider");
        ASSERT_NO_FATAL_FAILURE(MakeSelfSigned(dir, "rsa:1024", "rsa"));
        ASSERT_NO_FATAL_FAILURE(MakeSelfSigned(dir, "rsa:1024", "ca"));
        ASSERT_EQ(pkitest::OpenSSL(dir.path(), "pkcs8 -topk8 -nocrypt -in rsa.key -outform DER -out rsa.p8"),
                  0);
        const std::string p8 = kwtest::ReadFile(dir / "rsa.p8");
        TElPKCS8PrivateKeyInfo info;
        ASSERT_EQ(info.LoadFromBuffer(p8.data(), p8.size()), 0);
        rsaKey = info.PrivateKey;
        rsaDer = pkitest::PEMBlocks(kwtest::ReadFile(dir / "rsa.pem"), "CERTIFICATE").at(0);
        caDer = pkitest::PEMBlocks(kwtest::ReadFile(dir / "ca.pem"), "CERTIFICATE").at(0);
    }
    std::string Make(const std::string& args) {
        EXPECT_EQ(pkitest::OpenSSL(dir.path(), "pkcs12 -export " + args + " -out made.p12"), 0)
            << args << "\n"
            << pkitest::OpenSSLLog(dir.path());
        return kwtest::ReadFile(dir / "made.p12");
    }
    kwtest::TempDir dir;
    std::string rsaKey, rsaDer, caDer;
};

}  // namespace

TEST_F(PKCS12Peer, OpenSSLExportsRead) {
    const struct {
        const char* name;
        std::string options;
        const char* password;
    } cases[] = {
        {"RC4-128", "-keypbe PBE-SHA1-RC4-128 -certpbe PBE-SHA1-RC4-128 -macalg sha1", "pw"},
        {"RC4-40", "-keypbe PBE-SHA1-RC4-40 -certpbe PBE-SHA1-RC4-40 -macalg sha1", "pw"},
        {"3DES", "-keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-3DES -macalg sha1", "pw"},
        {"RC2-128", "-keypbe PBE-SHA1-RC2-128 -certpbe PBE-SHA1-RC2-128 -macalg sha1", "pw"},
        {"RC2-40", "-keypbe PBE-SHA1-RC2-40 -certpbe PBE-SHA1-RC2-40 -macalg sha1", "pw"},
        {"legacy defaults", "-legacy", "pass word \xC3\xA9"},
        {"SHA-256 MAC", "-keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-3DES -macalg sha256", "pw"},
        {"no MAC", "-keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-3DES -nomac", "pw"},
        {"empty password", "-keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-3DES", ""},
        {"two certificates", "-legacy -certfile ca.pem", "pw"},
        {"many iterations", "-legacy -iter 5000 -maciter", "pw"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string pfx =
            Make("-provider legacy -provider default -in rsa.pem -inkey rsa.key -passout 'pass:" +
                 std::string(c.password) + "' " + c.options);
        TElPKCS12Message m;
        ASSERT_EQ(Load(m, pfx, c.password), 0);
        TheirPFX expected;
        expected.ok = true;
        expected.certificates = {rsaDer};
        if (std::string(c.name) == "two certificates") expected.certificates.push_back(caDer);
        expected.key = rsaKey;
        expected.completed = {rsaDer};
        ExpectAgree(m, expected);
        EXPECT_EQ(m.KeyCount(), 1);
        TElPKCS12Message wrong;
        EXPECT_NE(Load(wrong, pfx, std::string(c.password) + "x"), 0);
    }
    // OpenSSL 3's default scheme (PBES2 with AES-256) is outside PKCS#12's own PBEs.
    const std::string aes = Make("-in rsa.pem -inkey rsa.key -passout pass:pw");
    TElPKCS12Message m;
    EXPECT_EQ(Load(m, aes, "pw"), 0x1F0B);
}

TEST_F(PKCS12Peer, OurExportsReadByOpenSSL) {
    const std::string& der = rsaDer;
    for (const int32_t algorithm :
         {SB_ALG_PKCS12_SHA1_RC4_128, SB_ALG_PKCS12_SHA1_RC4_40, SB_ALG_PKCS12_SHA1_3DES,
          SB_ALG_PKCS12_SHA1_RC2_128, SB_ALG_PKCS12_SHA1_RC2_40}) {
        for (const char* password : {"pw", ""}) {
            SCOPED_TRACE(std::to_string(algorithm) + " '" + password + "'");
            TElPKCS12Message m;
            m.SetPassword(password);
            m.IterationCount = 2048;
            m.SafeAlgorithm = algorithm;
            m.KeyBagAlgorithm = algorithm;
            for (const std::string* d : {&rsaDer, &caDer}) {
                TElX509Certificate x;
                x.LoadFromBuffer(d->data(), d->size());
                m.GetCertStorage().Add(&x);
            }
            const std::string pfx = SavePFX(m);
            kwtest::WriteFile(dir / "ours.p12", pfx);
            // Their tool reads it (the MAC checked) and finds both certificates.
            ASSERT_EQ(pkitest::OpenSSL(dir.path(),
                                       std::string("pkcs12 -legacy -in ours.p12 -nokeys -passin 'pass:") +
                                           password + "' -out certs.pem"),
                      0)
                << pkitest::OpenSSLLog(dir.path());
            const auto certs = pkitest::PEMBlocks(kwtest::ReadFile(dir / "certs.pem"), "CERTIFICATE");
            ASSERT_EQ(certs.size(), 2u);
            EXPECT_TRUE(certs[0] == der);
            EXPECT_TRUE(certs[1] == caDer);
            // And we read our own.
            TElPKCS12Message again;
            ASSERT_EQ(Load(again, pfx, password), 0);
            EXPECT_EQ(again.GetCertStorage().GetCount(), 2);
            EXPECT_EQ(again.IterationCount, 2048);
        }
    }
}

TEST(PKCS12Vectors, PKITSFilesRead) {
    const fs::path dir = pkitest::VectorsX509() / "PKITS_data/pkcs12";
    PKI_REQUIRE_DIR(dir);
    KW_REQUIRE_PEER(kwtest::OpenSSLLegacyAvailable(), "OpenSSL legacy provider");
    int ran = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() != ".p12") continue;
        SCOPED_TRACE(entry.path().filename().string());
        const std::string pfx = kwtest::ReadFile(entry.path());
        TElPKCS12Message m;
        ASSERT_EQ(Load(m, pfx, "password"), 0);
        ExpectAgree(m, ParseTheirs(pfx, "password"));
        ++ran;
    }
    EXPECT_EQ(ran, 405);
}

TEST(PKCS12Vectors, CryptographyFilesRead) {
    const fs::path dir = "/usr/lib/python3/dist-packages/cryptography_vectors/pkcs12";
    PKI_REQUIRE_DIR(dir);
    KW_REQUIRE_PEER(kwtest::OpenSSLLegacyAvailable(), "OpenSSL legacy provider");
    int ran = 0, unsupported = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() != ".p12") continue;
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        const std::string pfx = kwtest::ReadFile(entry.path());
        // The files' passwords: none for "no-pwd", "password" for the name-* series,
        // "cryptography" for the rest.
        const bool noPassword = name.find("no-pwd") != std::string::npos || name == "no-password.p12";
        const std::string password = noPassword                                ? ""
                                     : name.find("name-") != std::string::npos ? "password"
                                                                               : "cryptography";
        TElPKCS12Message m;
        const int32_t r = Load(m, pfx, password);
        if (name.find("aes") != std::string::npos) {
            EXPECT_EQ(r, 0x1F0B);
            ++unsupported;
            continue;
        }
        ASSERT_EQ(r, 0);
        const TheirPFX theirs = ParseTheirs(pfx, noPassword ? nullptr : password.c_str());
        if (theirs.ok) ExpectAgree(m, theirs);
        ++ran;
    }
    EXPECT_GT(ran, 10);
    EXPECT_GE(unsupported, 3);
}

namespace {

// An RSA and a DSA certificate with their keys (PKCS#8 PEM, as `openssl req -nodes` writes
// them), in a folder of their own.
class PKCS12KeysPeer : public ::testing::Test {
protected:
    void SetUp() override {
        PKI_REQUIRE_OPENSSL();
        KW_REQUIRE_PEER(kwtest::OpenSSLLegacyAvailable(), "OpenSSL legacy provider");
        ASSERT_NO_FATAL_FAILURE(MakeSelfSigned(dir, "rsa:1024", "rsa"));
        ASSERT_EQ(pkitest::OpenSSL(dir.path(), "dsaparam -out dsa.param 1024"), 0)
            << pkitest::OpenSSLLog(dir.path());
        ASSERT_NO_FATAL_FAILURE(MakeSelfSigned(dir, "dsa:dsa.param", "dsa"));
        for (const char* name : {"rsa", "dsa"}) {
            ASSERT_EQ(pkitest::OpenSSL(dir.path(), std::string("x509 -in ") + name +
                                                       ".pem -pubkey -noout -out " + name + ".pub"),
                      0);
        }
    }

    // The certificate of name.pem with the key of name.key.
    std::unique_ptr<TElX509Certificate> WithKey(const std::string& name) {
        const std::string der =
            pkitest::PEMBlocks(kwtest::ReadFile(dir / (name + ".pem")), "CERTIFICATE").at(0);
        auto certificate = std::make_unique<TElX509Certificate>();
        certificate->LoadFromBuffer(der.data(), der.size());
        const std::string key = kwtest::ReadFile(dir / (name + ".key"));
        certificate->LoadKeyFromBuffer(key.data(), key.size());
        return certificate;
    }

    // Signs data with the certificate's key and asks `openssl dgst -verify` with the
    // certificate's public key whether the signature holds.
    bool OpenSSLAcceptsSignature(TElX509Certificate& certificate, const std::string& name) {
        const std::string data = "signed with a key read from a PFX";
        std::unique_ptr<TElPublicKeyCrypto> crypto;
        const char* digest;
        if (certificate.GetPublicKeyAlgorithm() == SB_CERT_ALG_DSA) {
            crypto = std::make_unique<TElDSAPublicKeyCrypto>();
            // The key signs the digest of q's size (OpenSSL 3 gives 1024-bit groups a 224-bit q).
            size_t p = 0, q = 0, g = 0, y = 0;
            certificate.GetDSSParams(nullptr, p, nullptr, q, nullptr, g, nullptr, y);
            std::string qBytes(q, '\0'), others(p + g + y, '\0');
            certificate.GetDSSParams(others.data(), p, qBytes.data(), q, others.data() + p, g,
                                     others.data() + p + g, y);
            const size_t bits = 8 * (qBytes.size() - (qBytes[0] == '\0' ? 1 : 0));
            digest = bits == 160 ? "-sha1" : bits == 224 ? "-sha224" : "-sha256";
        } else {
            crypto = std::make_unique<TElRSAPublicKeyCrypto>();
            crypto->SetHashAlgorithm(SB_ALG_SHA256);
            digest = "-sha256";
        }
        crypto->SetKeyMaterial(certificate.GetKeyMaterial());
        size_t size = 0;
        crypto->SignDetached(data.data(), data.size(), nullptr, size);
        std::string signature(size, '\0');
        crypto->SignDetached(data.data(), data.size(), signature.data(), size);
        signature.resize(size);
        kwtest::WriteFile(dir / "data.bin", data);
        kwtest::WriteFile(dir / "sig.bin", signature);
        return pkitest::OpenSSL(dir.path(), std::string("dgst ") + digest + " -verify " + name +
                                                ".pub -signature sig.bin data.bin") == 0;
    }

    kwtest::TempDir dir;
};

}  // namespace

TEST_F(PKCS12KeysPeer, OpenSSLExportsGiveUsableKeys) {
    for (const std::string name : {"rsa", "dsa"}) {
        for (const char* options :
             {"-legacy", "-keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-RC2-40 -macalg sha256"}) {
            SCOPED_TRACE(name + " " + options);
            // The other certificate rides along without its key.
            const std::string other = name == "rsa" ? "dsa" : "rsa";
            ASSERT_EQ(
                pkitest::OpenSSL(dir.path(), "pkcs12 -export -provider legacy -provider default -in " + name +
                                                 ".pem -inkey " + name + ".key -certfile " + other +
                                                 ".pem -passout pass:pw " + options + " -out made.p12"),
                0)
                << pkitest::OpenSSLLog(dir.path());
            const std::string pfx = kwtest::ReadFile(dir / "made.p12");
            TElPKCS12Message m;
            m.SetPassword("pw");
            ASSERT_EQ(m.LoadFromBuffer(pfx.data(), pfx.size()), 0);
            ASSERT_EQ(m.GetCertStorage().GetCount(), 2);
            const std::string der =
                pkitest::PEMBlocks(kwtest::ReadFile(dir / (name + ".pem")), "CERTIFICATE").at(0);
            int withKey = 0;
            for (int32_t i = 0; i < 2; ++i) {
                TElX509Certificate& c = *m.GetCertStorage().GetCertificate(i);
                if (c.GetDER() != der) {
                    EXPECT_FALSE(c.GetPrivateKeyExists());
                    continue;
                }
                ++withKey;
                ASSERT_TRUE(c.GetPrivateKeyExists());
                EXPECT_TRUE(OpenSSLAcceptsSignature(c, name)) << pkitest::OpenSSLLog(dir.path());
            }
            EXPECT_EQ(withKey, 1);
        }
    }
}

TEST_F(PKCS12KeysPeer, OurExportsCarryTheKeys) {
    for (const int32_t algorithm :
         {SB_ALG_PKCS12_SHA1_3DES, SB_ALG_PKCS12_SHA1_RC2_40, SB_ALG_PKCS12_SHA1_RC4_128}) {
        SCOPED_TRACE(algorithm);
        TElPKCS12Message m;
        m.SetPassword("pw");
        m.IterationCount = 2048;
        m.SafeAlgorithm = SB_ALG_PKCS12_SHA1_RC2_40;
        m.KeyBagAlgorithm = algorithm;
        for (const char* name : {"rsa", "dsa"})
            m.GetCertStorage().Add(WithKey(name).get(), true);
        const std::string pfx = SavePFX(m);
        kwtest::WriteFile(dir / "ours.p12", pfx);
        // openssl reads both keys; each matches its certificate's public key.
        ASSERT_EQ(
            pkitest::OpenSSL(dir.path(), "pkcs12 -legacy -in ours.p12 -nodes -passin pass:pw -out all.pem"),
            0)
            << pkitest::OpenSSLLog(dir.path());
        const std::string all = kwtest::ReadFile(dir / "all.pem");
        const auto keys = pkitest::PEMBlocks(all, "PRIVATE KEY");
        const auto certs = pkitest::PEMBlocks(all, "CERTIFICATE");
        ASSERT_EQ(keys.size(), 2u);
        ASSERT_EQ(certs.size(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            const std::string name = i == 0 ? "rsa" : "dsa";
            // -nodes writes each key after the bag attributes and before its certificate: the
            // i-th key belongs to the i-th certificate, which must be name's.
            EXPECT_TRUE(certs[i] ==
                        pkitest::PEMBlocks(kwtest::ReadFile(dir / (name + ".pem")), "CERTIFICATE").at(0));
            kwtest::WriteFile(dir / "key.der", keys[i]);
            ASSERT_EQ(pkitest::OpenSSL(dir.path(), "pkey -inform DER -in key.der -pubout -out key.pub"), 0)
                << pkitest::OpenSSLLog(dir.path());
            EXPECT_EQ(kwtest::ReadFile(dir / "key.pub"), kwtest::ReadFile(dir / (name + ".pub"))) << name;
        }
        // And we read our own: both certificates with their keys again.
        TElPKCS12Message again;
        again.SetPassword("pw");
        ASSERT_EQ(again.LoadFromBuffer(pfx.data(), pfx.size()), 0);
        ASSERT_EQ(again.GetCertStorage().GetCount(), 2);
        EXPECT_EQ(again.KeyCount(), 2);
        for (int32_t i = 0; i < 2; ++i) {
            TElX509Certificate& c = *again.GetCertStorage().GetCertificate(i);
            ASSERT_TRUE(c.GetPrivateKeyExists());
            EXPECT_TRUE(OpenSSLAcceptsSignature(c, i == 0 ? "rsa" : "dsa"))
                << pkitest::OpenSSLLog(dir.path());
        }
    }
}

// An RSASSA-PSS key goes out under id-RSASSA-PSS with its certificate's parameters (or none),
// never NULL, which no reader takes for PSS.
TEST_F(PKCS12KeysPeer, OurExportsCarryRSAPSSKeys) {
    for (const std::string options :
         {"", "-pkeyopt rsa_pss_keygen_md:sha256 -pkeyopt rsa_pss_keygen_saltlen:32"}) {
        SCOPED_TRACE(options);
        ASSERT_NO_FATAL_FAILURE(
            MakeSelfSigned(dir, "rsa-pss -pkeyopt rsa_keygen_bits:1024 " + options, "pss"));
        ASSERT_EQ(pkitest::OpenSSL(dir.path(), "x509 -in pss.pem -pubkey -noout -out pss.pub"), 0);
        const auto certificate = WithKey("pss");
        ASSERT_EQ(certificate->GetPublicKeyAlgorithm(), SB_CERT_ALG_RSASSA_PSS);
        ASSERT_TRUE(certificate->GetPrivateKeyExists());
        TElPKCS12Message m;
        m.SetPassword("pw");
        m.IterationCount = 2048;
        m.SafeAlgorithm = SB_ALG_PKCS12_SHA1_3DES;
        m.KeyBagAlgorithm = SB_ALG_PKCS12_SHA1_3DES;
        m.GetCertStorage().Add(certificate.get(), true);
        kwtest::WriteFile(dir / "ours.p12", SavePFX(m));
        ASSERT_EQ(
            pkitest::OpenSSL(dir.path(), "pkcs12 -legacy -in ours.p12 -nodes -passin pass:pw -out all.pem"),
            0)
            << pkitest::OpenSSLLog(dir.path());
        const auto keys = pkitest::PEMBlocks(kwtest::ReadFile(dir / "all.pem"), "PRIVATE KEY");
        ASSERT_EQ(keys.size(), 1u);
        kwtest::WriteFile(dir / "key.der", keys[0]);
        ASSERT_EQ(pkitest::OpenSSL(dir.path(), "pkey -inform DER -in key.der -pubout -out key.pub"), 0)
            << pkitest::OpenSSLLog(dir.path());
        EXPECT_EQ(kwtest::ReadFile(dir / "key.pub"), kwtest::ReadFile(dir / "pss.pub"));
    }
}

// A Diffie-Hellman certificate with its private value is written without a key bag; the RSA
// certificate beside it keeps its own.
TEST_F(PKCS12KeysPeer, DiffieHellmanKeysStayOut) {
    for (const char* args :
         {"genpkey -genparam -algorithm DHX -pkeyopt dh_rfc5114:2 -out dh.param",
          "genpkey -paramfile dh.param -out dh.key", "pkey -in dh.key -pubout -out dh.pub",
          "x509 -new -force_pubkey dh.pub -subj /CN=DH -CA rsa.pem -CAkey rsa.key -days 30 "
          "-out dh.pem",
          "pkcs8 -topk8 -nocrypt -in dh.key -outform DER -out dh.p8"})
        ASSERT_EQ(pkitest::OpenSSL(dir.path(), args), 0) << args << "\n" << pkitest::OpenSSLLog(dir.path());
    const std::string der = pkitest::PEMBlocks(kwtest::ReadFile(dir / "dh.pem"), "CERTIFICATE").at(0);
    TElX509Certificate dh;
    dh.LoadFromBuffer(der.data(), der.size());
    ASSERT_EQ(dh.GetPublicKeyAlgorithm(), SB_CERT_ALG_DH);
    // The private value x: the PKCS#8 key's INTEGER.
    const std::string p8 = kwtest::ReadFile(dir / "dh.p8");
    TElPKCS8PrivateKeyInfo info;
    ASSERT_EQ(info.LoadFromBuffer(p8.data(), p8.size()), 0);
    TElASN1ConstrainedTag x;
    ASSERT_TRUE(LoadTagTree(x, info.PrivateKey));
    const std::string value = static_cast<TElASN1SimpleTag&>(*x.GetChild(0)).GetContent();
    dh.LoadKeyFromBuffer(value.data(), value.size());
    ASSERT_TRUE(dh.GetPrivateKeyExists());

    TElPKCS12Message m;
    m.SetPassword("pw");
    m.IterationCount = 2048;
    m.SafeAlgorithm = SB_ALG_PKCS12_SHA1_3DES;
    m.KeyBagAlgorithm = SB_ALG_PKCS12_SHA1_3DES;
    m.GetCertStorage().Add(&dh, true);
    m.GetCertStorage().Add(WithKey("rsa").get(), true);
    kwtest::WriteFile(dir / "ours.p12", SavePFX(m));
    // openssl finds both certificates and the one key, the RSA one.
    ASSERT_EQ(pkitest::OpenSSL(dir.path(), "pkcs12 -legacy -in ours.p12 -nodes -passin pass:pw -out all.pem"),
              0)
        << pkitest::OpenSSLLog(dir.path());
    const std::string all = kwtest::ReadFile(dir / "all.pem");
    EXPECT_EQ(pkitest::PEMBlocks(all, "CERTIFICATE").size(), 2u);
    const auto keys = pkitest::PEMBlocks(all, "PRIVATE KEY");
    ASSERT_EQ(keys.size(), 1u);
    kwtest::WriteFile(dir / "key.der", keys[0]);
    ASSERT_EQ(pkitest::OpenSSL(dir.path(), "pkey -inform DER -in key.der -pubout -out key.pub"), 0);
    EXPECT_EQ(kwtest::ReadFile(dir / "key.pub"), kwtest::ReadFile(dir / "rsa.pub"));
}
