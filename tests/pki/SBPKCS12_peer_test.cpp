// PKCS#12 against OpenSSL: PFX files made by `openssl pkcs12 -export` at test time under each
// of the five PBE schemes, with SHA-1 and SHA-256 MACs, without a MAC and with an empty
// password, read with the certificates and keys libcrypto's PKCS12_parse finds in the same
// bytes; our exports read by `openssl pkcs12`; the PKITS pkcs12 files (password "password")
// and the pkcs12 files of python3-cryptography-vectors (password "cryptography", and those
// without one) read in place.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <memory>

#include "PKCS7TestSupport.h"
#include "PKITestSupport.h"
#include "crypto/SBConstants.h"
#include "crypto/SBPKCS8.h"
#include "pki/SBPKCS12.h"
#include "tests/crypto/OpenSSLPeer.h"

namespace fs = std::filesystem;

using p7test::CertDER;

namespace {

std::string Str(const rtl::SecureBytes& b) {
    return std::string(b.begin(), b.end());
}

// What libcrypto reads from a PFX: the certificates (the one with the key first) and the
// privateKey octets of its key.
struct TheirPFX {
    bool ok = false;
    std::vector<std::string> certificates;
    std::string key;
    bool keyComparable = true;
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
    if (cert != nullptr) out.certificates.push_back(CertDER(cert));
    for (int i = 0; ca != nullptr && i < sk_X509_num(ca); ++i)
        out.certificates.push_back(CertDER(sk_X509_value(ca, i)));
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
// that key among ours.
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
    }
}

std::string Save(TElPKCS12Message& m) {
    size_t size = 0;
    EXPECT_EQ(m.SaveToBuffer(nullptr, size), 0x1F14);
    std::string out(size, '\0');
    EXPECT_EQ(m.SaveToBuffer(out.data(), size), 0);
    out.resize(size);
    return out;
}

int32_t Load(TElPKCS12Message& m, const std::string& der, const std::string& password) {
    m.SetPassword(password);
    return m.LoadFromBuffer(der.data(), der.size());
}

class PKCS12Peer : public ::testing::Test {
protected:
    void SetUp() override {
        PKI_REQUIRE_OPENSSL();
        KW_REQUIRE_PEER(kwtest::OpenSSLLegacyAvailable(), "OpenSSL legacy provider");
        ASSERT_EQ(pkitest::OpenSSL(dir.path(),
                                   "req -x509 -newkey rsa:1024 -nodes -keyout rsa.key -out rsa.pem "
                                   "-subj /CN=RSA -days 30"),
                  0)
            << pkitest::OpenSSLLog(dir.path());
        ASSERT_EQ(pkitest::OpenSSL(dir.path(),
                                   "req -x509 -newkey rsa:1024 -nodes -keyout ca.key -out ca.pem "
                                   "-subj /CN=CA -days 30"),
                  0)
            << pkitest::OpenSSLLog(dir.path());
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
            const std::string pfx = Save(m);
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
