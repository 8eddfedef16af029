// PKCS#12 files built by hand (their encryption and MACs computed by libcrypto): the code for
// every structure out of the grammar, iteration counts past the ceiling, the padding checked
// whole, MACs under SHA-1 and the SHA-2 digests, which key completes which certificate (a bare
// DSA x only where g^x is the certificate's y), and what the writer puts in a file, with and
// without keys.
#include "pki/SBPKCS12.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/objects.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include "PKCS7TestSupport.h"
#include "PKITestSupport.h"
#include "crypto/base/SBConstants.h"
#include "pki/SBPKCS7.h"
#include "tests/crypto/OpenSSLPeer.h"

using namespace p7test;
using asn1test::Hex;

namespace {

const std::string kPBE3DES = "2A864886F70D010C0103";
const std::string kPBE2Key3DES = "2A864886F70D010C0104";
const std::string kShrouded = "2A864886F70D010C0A0102";
const std::string kKeyBagOid = "2A864886F70D010C0A0101";
const std::string kCertBagOid = "2A864886F70D010C0A0103";
const std::string kX509 = "2A864886F70D01091601";

// libcrypto's PBE over data (padding as asked) under pbeWithSHAAnd3-KeyTripleDES-CBC.
std::string Encrypt3DES(const std::string& data, const std::string& password, const std::string& salt,
                        int iter, bool padding = true) {
    std::unique_ptr<X509_ALGOR, decltype(&X509_ALGOR_free)> algor(
        PKCS5_pbe_set(NID_pbe_WithSHA1And3_Key_TripleDES_CBC, iter,
                      reinterpret_cast<const unsigned char*>(salt.data()), int(salt.size())),
        &X509_ALGOR_free);
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        &EVP_CIPHER_CTX_free);
    if (EVP_PBE_CipherInit(algor->algorithm, password.data(), int(password.size()), algor->parameter,
                           ctx.get(), 1) != 1)
        throw std::runtime_error("EVP_PBE_CipherInit");
    EVP_CIPHER_CTX_set_padding(ctx.get(), padding ? 1 : 0);
    std::string out(data.size() + 16, '\0');
    int n = 0, t = 0;
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    EVP_CipherUpdate(ctx.get(), o, &n, reinterpret_cast<const unsigned char*>(data.data()), int(data.size()));
    EVP_CipherFinal_ex(ctx.get(), o + n, &t);
    out.resize(size_t(n + t));
    return out;
}

std::string PBEParams(const std::string& salt, const std::string& countHex) {
    return Seq({Octets(salt), Int(countHex)});
}

// MacData over the AuthenticatedSafe with the digest named.
std::string MacData(const std::string& authSafe, const std::string& password, const EVP_MD* md,
                    const std::string& digestOidHex, const std::string& countHex = "0800", int count = 2048) {
    const std::string salt = "macsalt1";
    std::string key(size_t(EVP_MD_get_size(md)), '\0');
    PKCS12_key_gen_utf8(password.c_str(), int(password.size()),
                        reinterpret_cast<unsigned char*>(const_cast<char*>(salt.data())), int(salt.size()), 3,
                        count, int(key.size()), reinterpret_cast<unsigned char*>(key.data()), md);
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    HMAC(md, key.data(), int(key.size()), reinterpret_cast<const unsigned char*>(authSafe.data()),
         authSafe.size(), mac, &len);
    return Seq({Seq({AlgId(digestOidHex), Octets(std::string(reinterpret_cast<char*>(mac), len))}),
                Octets(salt), Int(countHex)});
}

std::string PFX(const std::string& authSafe, const std::string& macData = {},
                const std::string& version = "03") {
    std::string body = Int(version) + Info(kData, Octets(authSafe)) + macData;
    return std::string(1, '\x30') + EncodeDERLength(body.size()) + body;
}

std::string DataSafe(const std::string& safeContents) {
    return Info(kData, Octets(safeContents));
}

std::string EncryptedSafe(const std::string& safeContents, const std::string& password,
                          const std::string& oidHex = kPBE3DES, const std::string& params = {},
                          bool padding = true) {
    const std::string salt = "safesalt";
    const std::string p = params.empty() ? PBEParams(salt, "0800") : params;
    return Info(kEncryptedData,
                Seq({Int("00"), Seq({Oid(kData), AlgId(oidHex, p),
                                     P(0x80, Encrypt3DES(safeContents, password, salt, 2048, padding))})}));
}

std::string Bag(const std::string& oidHex, const std::string& value) {
    return Seq({Oid(oidHex), C(0xA0, {value})});
}

std::string CertBag(const std::string& der) {
    return Bag(kCertBagOid, Seq({Oid(kX509), C(0xA0, {Octets(der)})}));
}

std::string Cert() {
    return kwtest::ReadFile(pkitest::VectorsX509() / "PKITS_data/certs/TrustAnchorRootCertificate.crt");
}

int32_t Load(TElPKCS12Message& m, const std::string& der, const std::string& password = "pw") {
    m.SetPassword(password);
    return m.LoadFromBuffer(der.data(), der.size());
}

// The PKITS PFX files, all under the password "password".
std::filesystem::path PKITSFiles() {
    return pkitest::VectorsX509() / "PKITS_data/pkcs12";
}

int32_t LoadPKITS(TElPKCS12Message& m, const char* file) {
    return Load(m, kwtest::ReadFile(PKITSFiles() / file), "password");
}

const std::string kKeyInfo = Seq({Int("00"), AlgId(kRSA), Octets(Seq({Int("00"), Int("05")}))});

}  // namespace

TEST(SBPKCS12, StructureCodes) {
    PKI_REQUIRE_DIR(pkitest::VectorsX509());
    KW_REQUIRE_PEER(kwtest::OpenSSLLegacyAvailable(), "OpenSSL providers");
    const std::string cert = Cert();
    const std::string goodSafe = Seq({DataSafe(Seq({CertBag(cert)}))});
    const std::string recipient = Seq({Int("00"), IssuerSerial(), AlgId(kRSA), Octets("K")});
    const std::string enveloped =
        Info(kEnvelopedData,
             Seq({Int("00"), C(0x31, {recipient}), Seq({Oid(kData), AlgId(kSHA1), P(0x80, "C")})}));
    const struct {
        const char* name;
        std::string der;
        int32_t code;
    } cases[] = {
        {"good, no MAC", PFX(goodSafe), 0},
        {"not ASN.1", H("3080 0201"), 0x1F01},
        {"two top-level elements", PFX(goodSafe) + Int("00"), 0x1F02},
        {"not a SEQUENCE", Int("03"), 0x1F03},
        {"one element", Seq({Int("03")}), 0x1F03},
        {"version not an INTEGER", Seq({Octets("3"), Info(kData, Octets(goodSafe))}), 0x1F03},
        {"version 2", PFX(goodSafe, {}, "02"), 0x1F04},
        {"authSafe primitive", Seq({Int("03"), Octets("x")}), 0x1F03},
        {"authSafe signed data", Seq({Int("03"), Info(kSignedData, Octets(goodSafe))}), 0x1F05},
        {"AuthenticatedSafe not ASN.1", PFX("\x30\x05"), 0x1F01},
        {"AuthenticatedSafe a SET", PFX(C(0x31, {DataSafe(Seq({CertBag(cert)}))})), 0x1F06},
        {"a ContentInfo primitive", PFX(Seq({Octets("x")})), 0x1F06},
        {"a ContentInfo of unknown type", PFX(Seq({Info("2A864886F70D010709", Octets("x"))})), 0x1F06},
        {"an enveloped ContentInfo", PFX(Seq({enveloped})), 0x1F08},
        {"SafeContents a SET", PFX(Seq({DataSafe(C(0x31, {CertBag(cert)}))})), 0x1F08},
        {"SafeContents of a primitive", PFX(Seq({DataSafe(Seq({Octets("x")}))})), 0x1F08},
        {"bag of one element", PFX(Seq({DataSafe(Seq({Seq({Oid(kCertBagOid)})}))})), 0x1F09},
        {"bag value primitive", PFX(Seq({DataSafe(Seq({Seq({Oid(kCertBagOid), C(0xA0, {Octets("x")})})}))})),
         0x1F09},
        {"nested safeContentsBag", PFX(Seq({DataSafe(Seq({Bag("2A864886F70D010C0A0106", Seq({}))}))})),
         0x1F09},
        {"certificate of another type",
         PFX(Seq({DataSafe(
             Seq({Bag(kCertBagOid, Seq({Oid("2A864886F70D01091602"), C(0xA0, {Octets(cert)})}))}))})),
         0x1F0F},
        {"cert bag of three",
         PFX(Seq({DataSafe(Seq({Bag(kCertBagOid, Seq({Oid(kX509), C(0xA0, {Octets(cert)}), Int("00")}))}))})),
         0x1F0E},
        {"certificate that does not load", PFX(Seq({DataSafe(Seq({CertBag(Seq({Int("01")}))}))})), 0x1F0E},
        {"key bag", PFX(Seq({DataSafe(Seq({Bag(kKeyBagOid, kKeyInfo)}))})), 0},
        {"key bag of two", PFX(Seq({DataSafe(Seq({Bag(kKeyBagOid, Seq({Int("00"), AlgId(kRSA)}))}))})),
         0x1F10},
        {"key bag version 1",
         PFX(Seq({DataSafe(Seq({Bag(kKeyBagOid, Seq({Int("01"), AlgId(kRSA), Octets("k")}))}))})), 0x1F10},
        {"key bag algorithm without OID",
         PFX(Seq({DataSafe(Seq({Bag(kKeyBagOid, Seq({Int("00"), Seq({Int("00")}), Octets("k")}))}))})),
         0x1E0E},
        {"shrouded bag of one", PFX(Seq({DataSafe(Seq({Bag(kShrouded, Seq({AlgId(kPBE3DES)}))}))})), 0x1F0A},
        {"shrouded under two-key triple DES",
         PFX(Seq({DataSafe(Seq(
             {Bag(kShrouded, Seq({AlgId(kPBE2Key3DES, PBEParams("12345678", "0800")), Octets("x")}))}))})),
         0x1F0B},
        {"shrouded under PBES2",
         PFX(Seq(
             {DataSafe(Seq({Bag(kShrouded, Seq({AlgId("2A864886F70D01050D", Seq({})), Octets("x")}))}))})),
         0x1F0B},
        {"shrouded parameters of one",
         PFX(Seq({DataSafe(
             Seq({Bag(kShrouded, Seq({AlgId(kPBE3DES, Seq({Octets("12345678")})), Octets("x")}))}))})),
         0x1F0A},
        {"shrouded count past the ceiling",
         PFX(Seq({DataSafe(Seq({Bag(kShrouded, Seq({AlgId(kPBE3DES, PBEParams("12345678", "00989681")),
                                                    Octets(std::string(16, 'x'))}))}))})),
         0x1F0A},
        {"safe under two-key triple DES", PFX(Seq({EncryptedSafe(Seq({CertBag(cert)}), "pw", kPBE2Key3DES)})),
         0x1F0B},
        {"safe parameters malformed",
         PFX(Seq({EncryptedSafe(Seq({CertBag(cert)}), "pw", kPBE3DES, Seq({Int("00")}))})), 0x1F0D},
        {"safe count 2^31",
         PFX(Seq({EncryptedSafe(Seq({CertBag(cert)}), "pw", kPBE3DES, PBEParams("safesalt", "0080000000"))})),
         0x1F0D},
        {"safe with a wrong password", PFX(Seq({EncryptedSafe(Seq({CertBag(cert)}), "other")})), 0x1F13},
        {"encrypted safe", PFX(Seq({EncryptedSafe(Seq({CertBag(cert)}), "pw")})), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TElPKCS12Message m;
        EXPECT_EQ(Load(m, c.der), c.code);
    }
}

// The padding of a decrypted safe is checked whole: 1 to 8 bytes, all equal.
TEST(SBPKCS12, PaddingIsCheckedWhole) {
    PKI_REQUIRE_DIR(pkitest::VectorsX509());
    KW_REQUIRE_PEER(kwtest::OpenSSLLegacyAvailable(), "OpenSSL providers");
    const std::string contents = Seq({CertBag(Cert())});
    const size_t fill = 8 - contents.size() % 8;  // room left in the last block (1 .. 8)
    const struct {
        const char* name;
        std::string tail;  // bytes after the SafeContents, whole blocks with it
        int32_t code;
    } cases[] = {
        {"right padding", std::string(fill, char(fill)), 0},
        {"a block of 08", std::string(fill, char(fill)) + std::string(8, '\x08'), 0x1F08},
        {"last byte 0", std::string(fill - 1, '\x01') + std::string(1, '\0'), 0x1F13},
        {"last byte 9", std::string(fill + 7, '\x09') + std::string(1, '\x09'), 0x1F13},
        {"unequal bytes", std::string(fill + 6, '\x01') + "\x07\x08", 0x1F13},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string plain = contents + c.tail;
        ASSERT_EQ(plain.size() % 8, 0u);
        TElPKCS12Message m;
        EXPECT_EQ(Load(m, PFX(Seq({EncryptedSafe(plain, "pw", kPBE3DES, {}, false)}))), c.code);
    }
}

TEST(SBPKCS12, MacDigestsAndCounts) {
    PKI_REQUIRE_DIR(pkitest::VectorsX509());
    const std::string safe = Seq({DataSafe(Seq({CertBag(Cert())}))});
    const struct {
        const char* name;
        std::string macData;
        int32_t code;
    } cases[] = {
        {"SHA-1", MacData(safe, "pw", EVP_sha1(), kSHA1), 0},
        {"SHA-256", MacData(safe, "pw", EVP_sha256(), kSHA256), 0},
        {"SHA-384", MacData(safe, "pw", EVP_sha384(), "608648016503040202"), 0},
        {"SHA-512", MacData(safe, "pw", EVP_sha512(), "608648016503040203"), 0},
        {"SHA-256 named SHA-1", MacData(safe, "pw", EVP_sha256(), kSHA1), 0x1F11},
        {"MD5", MacData(safe, "pw", EVP_md5(), "2A864886F70D0205"), 0x1F07},
        {"wrong password", MacData(safe, "pv", EVP_sha1(), kSHA1), 0x1F11},
        {"count past the ceiling", MacData(safe, "pw", EVP_sha1(), kSHA1, "00989681", 1), 0x1F07},
        {"no count", Seq({Seq({AlgId(kSHA1), Octets(std::string(20, 'm'))}), Octets("salt")}), 0x1F11},
        {"digest info of one", Seq({Seq({AlgId(kSHA1)}), Octets("salt")}), 0x1F07},
        {"salt constructed", Seq({Seq({AlgId(kSHA1), Octets("m")}), C(0x24, {Octets("s")})}), 0x1F07},
        {"MacData primitive", Octets("x"), 0x1F03},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TElPKCS12Message m;
        EXPECT_EQ(Load(m, PFX(safe, c.macData)), c.code);
    }
    TElPKCS12Message m;
    ASSERT_EQ(Load(m, PFX(safe, MacData(safe, "pw", EVP_sha1(), kSHA1, "07D0", 2000))), 0);
    EXPECT_EQ(m.IterationCount, 2000);
    EXPECT_EQ(Hex(m.GetMacDigestAlgorithm()), kSHA1);
}

// Keys are attached only where they complete the certificate's public key.
TEST(SBPKCS12, WhichKeyCompletesWhichCertificate) {
    PKI_REQUIRE_DIR(PKITSFiles());
    KW_REQUIRE_PEER(kwtest::OpenSSLLegacyAvailable(), "OpenSSL providers");
    auto load = [&](const char* file, TElPKCS12Message& m) {
        ASSERT_EQ(LoadPKITS(m, file), 0);
        ASSERT_EQ(m.KeyCount(), 1);
        ASSERT_GE(m.GetCertStorage().GetCount(), 1);
    };
    // A DSA end entity and its CA share p, q and g; each key bag holds the bare INTEGER x.
    TElPKCS12Message ee, ca, rsa;
    load("ValidDSASignaturesTest4EE.p12", ee);
    load("DSACACert.p12", ca);
    load("GoodCACert.p12", rsa);
    TElX509Certificate* eeCert = ee.GetCertStorage().GetCertificate(0);
    TElX509Certificate* caCert = ca.GetCertStorage().GetCertificate(0);
    ASSERT_EQ(eeCert->GetPublicKeyAlgorithm(), SB_CERT_ALG_DSA);
    rtl::SecureBytes blob;
    ASSERT_EQ(ee.FindKeyFor(*eeCert, blob), 0);
    // The six-INTEGER key built from the certificate's parameters and the x of the bag.
    TElASN1ConstrainedTag root;
    ASSERT_TRUE(LoadTagTree(root, std::string(blob.begin(), blob.end())));
    ASSERT_EQ(static_cast<TElASN1ConstrainedTag&>(*root.GetChild(0)).GetCount(), 6);
    TElASN1ConstrainedTag x;
    ASSERT_TRUE(LoadTagTree(x, std::string(ee.GetKey(0).begin(), ee.GetKey(0).end())));
    EXPECT_EQ(SaveTagToString(*static_cast<TElASN1ConstrainedTag&>(*root.GetChild(0)).GetChild(5)),
              SaveTagToString(*x.GetChild(0)));
    // The CA's key completes the CA, not the end entity of the same group, and the other way.
    EXPECT_EQ(ca.FindKeyFor(*eeCert, blob), -1);
    EXPECT_EQ(ee.FindKeyFor(*caCert, blob), -1);
    EXPECT_EQ(ca.FindKeyFor(*caCert, blob), 0);
    // An RSA key completes its certificate and nothing else.
    TElX509Certificate* rsaCert = rsa.GetCertStorage().GetCertificate(0);
    EXPECT_EQ(rsa.FindKeyFor(*rsaCert, blob), 0);
    EXPECT_TRUE(std::equal(blob.begin(), blob.end(), rsa.GetKey(0).begin(), rsa.GetKey(0).end()));
    EXPECT_EQ(rsa.FindKeyFor(*eeCert, blob), -1);
    EXPECT_EQ(ee.FindKeyFor(*rsaCert, blob), -1);
}

// Through a whole load: a key bag whose DSA x is not the one behind the certificate's y is read
// and attached to nothing, whether it comes bare or with the certificate's own p, q, g and y.
TEST(SBPKCS12, DSAKeysOfAnotherCertificateStayUnattached) {
    PKI_REQUIRE_DIR(PKITSFiles());
    KW_REQUIRE_PEER(kwtest::OpenSSLLegacyAvailable(), "OpenSSL providers");
    // The end entity and its CA share p, q and g; their key bags hold the bare INTEGER x.
    TElPKCS12Message ee, ca;
    ASSERT_EQ(LoadPKITS(ee, "ValidDSASignaturesTest4EE.p12"), 0);
    ASSERT_EQ(LoadPKITS(ca, "DSACACert.p12"), 0);
    const TElX509Certificate& cert = *ee.GetCertStorage().GetCertificate(0);
    ASSERT_EQ(cert.GetPublicKeyAlgorithm(), SB_CERT_ALG_DSA);
    const std::string eeX(ee.GetKey(0).begin(), ee.GetKey(0).end());
    const std::string caX(ca.GetKey(0).begin(), ca.GetKey(0).end());
    size_t n[4] = {};
    cert.GetDSSParams(nullptr, n[0], nullptr, n[1], nullptr, n[2], nullptr, n[3]);
    std::string p(n[0], '\0'), q(n[1], '\0'), g(n[2], '\0'), y(n[3], '\0');
    ASSERT_TRUE(cert.GetDSSParams(p.data(), n[0], q.data(), n[1], g.data(), n[2], y.data(), n[3]));
    auto unsignedInt = [](std::string magnitude) {
        if (!magnitude.empty() && (uint8_t(magnitude[0]) & 0x80) != 0) magnitude.insert(0, 1, '\0');
        return P(0x02, magnitude);
    };
    auto sixIntegers = [&](const std::string& xInteger) {
        return Seq({Int("00"), unsignedInt(p), unsignedInt(q), unsignedInt(g), unsignedInt(y), xInteger});
    };
    const std::string certDer(cert.GetDER());
    const struct {
        const char* name;
        std::string key;
        bool attached;
    } cases[] = {
        {"its own x", eeX, true},
        {"the CA's x", caX, false},
        {"its numbers with its own x", sixIntegers(eeX), true},
        {"its numbers with the CA's x", sixIntegers(caX), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string keyBag = Bag(kKeyBagOid, Seq({Int("00"), AlgId("2A8648CE380401"), Octets(c.key)}));
        TElPKCS12Message m;
        ASSERT_EQ(Load(m, PFX(Seq({DataSafe(Seq({keyBag, CertBag(certDer)}))}))), 0);
        EXPECT_EQ(m.KeyCount(), 1);
        ASSERT_EQ(m.GetCertStorage().GetCount(), 1);
        EXPECT_EQ(m.GetCertStorage().GetCertificate(0)->GetPrivateKeyExists(), c.attached);
    }
}

TEST(SBPKCS12, WriterShape) {
    PKI_REQUIRE_DIR(pkitest::VectorsX509());
    TElPKCS12Message m;
    m.SetPassword("pw");
    m.IterationCount = 3;
    m.SafeAlgorithm = SB_ALG_PKCS12_SHA1_3DES;
    m.KeyBagAlgorithm = SB_ALG_PKCS12_SHA1_3DES;
    size_t size = 0;
    EXPECT_EQ(m.SaveToBuffer(nullptr, size), 0x1F12);
    const std::string cert = Cert();
    const std::string other = kwtest::ReadFile(pkitest::VectorsX509() / "PKITS_data/certs/GoodCACert.crt");
    for (const std::string* d : {&cert, &other}) {
        TElX509Certificate x;
        x.LoadFromBuffer(d->data(), d->size());
        m.GetCertStorage().Add(&x);
    }
    EXPECT_EQ(m.SaveToBuffer(nullptr, size), 0x1F14);
    std::string out(size, '\0');
    ASSERT_EQ(m.SaveToBuffer(out.data(), size), 0);
    out.resize(size);
    // Two encrypted certificate safes with localKeyIds 01000001 and 01000002, a SHA-1 MAC of
    // the count given.
    TElASN1ConstrainedTag root;
    ASSERT_TRUE(LoadTagTree(root, out));
    EXPECT_EQ(Hex(pkitest::S(root, {0, 2, 0, 0, 0}).GetContent()), kSHA1);
    EXPECT_EQ(pkitest::S(root, {0, 2, 1}).GetContent().size(), 20u);
    EXPECT_EQ(Hex(pkitest::S(root, {0, 2, 2}).GetContent()), "03");
    size_t safeSize = 0;
    ByteString type;
    ReadContentInfo(*pkitest::Node(root, {0, 1}), nullptr, safeSize, type);
    ByteString safe(safeSize, '\0');
    ASSERT_TRUE(ReadContentInfo(*pkitest::Node(root, {0, 1}), safe.data(), safeSize, type));
    TElASN1ConstrainedTag safes;
    ASSERT_TRUE(LoadTagTree(safes, safe));
    ASSERT_EQ(pkitest::C(safes, {0}).GetCount(), 2);
    for (int i = 0; i < 2; ++i) {
        const std::string info = SaveTagToString(*pkitest::Node(safes, {0, i}));
        TElPKCS7Message p7;
        ASSERT_EQ(p7.LoadFromBuffer(info.data(), info.size()), 0);
        EXPECT_EQ(p7.ContentType, ctEncryptedData);
        const TElPKCS7EncryptedContent& ec = p7.GetEncryptedData().EncryptedContent;
        EXPECT_EQ(Hex(ec.ContentEncryptionAlgorithm), kPBE3DES);
        // Decrypted by libcrypto, the bag carries the certificate and its local key id.
        TElASN1ConstrainedTag params;
        ASSERT_TRUE(LoadTagTree(params, ec.ContentEncryptionAlgorithmParams));
        const std::string salt = pkitest::S(params, {0, 0}).GetContent();
        std::unique_ptr<X509_ALGOR, decltype(&X509_ALGOR_free)> algor(
            PKCS5_pbe_set(NID_pbe_WithSHA1And3_Key_TripleDES_CBC, 3,
                          reinterpret_cast<const unsigned char*>(salt.data()), int(salt.size())),
            &X509_ALGOR_free);
        std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                            &EVP_CIPHER_CTX_free);
        ASSERT_EQ(EVP_PBE_CipherInit(algor->algorithm, "pw", 2, algor->parameter, ctx.get(), 0), 1);
        const std::string ct = ec.GetEncryptedContent();
        std::string plain(ct.size(), '\0');
        int n = 0, t = 0;
        auto* o = reinterpret_cast<unsigned char*>(plain.data());
        ASSERT_EQ(EVP_CipherUpdate(ctx.get(), o, &n, reinterpret_cast<const unsigned char*>(ct.data()),
                                   int(ct.size())),
                  1);
        ASSERT_EQ(EVP_CipherFinal_ex(ctx.get(), o + n, &t), 1);
        plain.resize(size_t(n + t));
        const std::string id = i == 0 ? H("01000001") : H("01000002");
        const std::string expected = Seq(
            {Seq({Oid(kCertBagOid), C(0xA0, {Seq({Oid(kX509), C(0xA0, {Octets(i == 0 ? cert : other)})})}),
                  C(0x31, {Seq({Oid("2A864886F70D010915"), C(0x31, {Octets(id)})})})})});
        EXPECT_TRUE(plain == expected);
    }
    // A count past what any reader takes, or one that would be written as another, is refused
    // rather than written into a file nobody can open.
    for (const int32_t count : {-1, int32_t(TElPKCS12Message::MaxIterationCount) + 1}) {
        m.IterationCount = count;
        EXPECT_EQ(m.SaveToBuffer(out.data(), size), 0x1F0C) << count;
    }
    m.IterationCount = 0;
    ASSERT_EQ(m.SaveToBuffer(out.data(), size), 0);
    TElPKCS12Message zero;
    EXPECT_EQ(Load(zero, out), 0) << "a count of 0 runs the digest once, as written";
    // A code without an OID, and a scheme without PKCS#12 key and IV sizes, are refused.
    m.SafeAlgorithm = 0x7280;
    EXPECT_EQ(m.SaveToBuffer(out.data(), size), 0x1F0B);
    m.SafeAlgorithm = SB_ALG_PBES2;
    EXPECT_EQ(m.SaveToBuffer(out.data(), size), 0x1F0C);
}

// Certificates with keys: a shrouded key bag (a data safe) before each one's certificate safe,
// the PKCS#8 key inside as libcrypto decrypts it, and the same localKeyId on both bags and in
// the PrivateKeyInfo; a certificate without a key gets only its certificate safe.
TEST(SBPKCS12, WriterShapeWithKeys) {
    PKI_REQUIRE_DIR(PKITSFiles());
    KW_REQUIRE_PEER(kwtest::OpenSSLLegacyAvailable(), "OpenSSL providers");
    // The PKITS files' keys reach their certificates: an RSA PKCS#1 key, a bare DSA x.
    TElPKCS12Message rsa, dsa;
    ASSERT_EQ(LoadPKITS(rsa, "GoodCACert.p12"), 0);
    ASSERT_EQ(LoadPKITS(dsa, "DSACACert.p12"), 0);
    TElX509Certificate* rsaCert = rsa.GetCertStorage().GetCertificate(0);
    TElX509Certificate* dsaCert = dsa.GetCertStorage().GetCertificate(0);
    ASSERT_TRUE(rsaCert->GetPrivateKeyExists());
    ASSERT_TRUE(dsaCert->GetPrivateKeyExists());
    ASSERT_EQ(dsaCert->GetPublicKeyAlgorithm(), SB_CERT_ALG_DSA);

    TElPKCS12Message m;
    m.SetPassword("pw");
    m.IterationCount = 5;
    m.SafeAlgorithm = SB_ALG_PKCS12_SHA1_RC4_40;
    m.KeyBagAlgorithm = SB_ALG_PKCS12_SHA1_3DES;
    const std::string anchor = Cert();
    TElX509Certificate noKey;
    noKey.LoadFromBuffer(anchor.data(), anchor.size());
    m.GetCertStorage().Add(rsaCert, true);
    m.GetCertStorage().Add(dsaCert, true);
    m.GetCertStorage().Add(&noKey, true);
    std::string out = SavePFX(m);
    size_t size = out.size();

    TElASN1ConstrainedTag root;
    ASSERT_TRUE(LoadTagTree(root, out));
    size_t safeSize = 0;
    ByteString type;
    ReadContentInfo(*pkitest::Node(root, {0, 1}), nullptr, safeSize, type);
    ByteString safe(safeSize, '\0');
    ASSERT_TRUE(ReadContentInfo(*pkitest::Node(root, {0, 1}), safe.data(), safeSize, type));
    safe.resize(safeSize);
    TElASN1ConstrainedTag safes;
    ASSERT_TRUE(LoadTagTree(safes, safe));
    ASSERT_EQ(pkitest::C(safes, {0}).GetCount(), 5);
    const TSBPKCS7ContentType expectedTypes[] = {ctData, ctEncryptedData, ctData, ctEncryptedData,
                                                 ctEncryptedData};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        const std::string info = SaveTagToString(*pkitest::Node(safes, {0, i}));
        TElPKCS7Message p7;
        ASSERT_EQ(p7.LoadFromBuffer(info.data(), info.size()), 0);
        ASSERT_EQ(p7.ContentType, expectedTypes[i]);
        if (p7.ContentType != ctData) continue;
        const std::string id = i == 0 ? H("01000001") : H("01000002");
        TElASN1ConstrainedTag contents;
        ASSERT_TRUE(LoadTagTree(contents, p7.Data));
        ASSERT_EQ(pkitest::C(contents, {0}).GetCount(), 1);
        EXPECT_EQ(Hex(pkitest::S(contents, {0, 0, 0}).GetContent()), kShrouded);
        EXPECT_TRUE(SaveTagToString(*pkitest::Node(contents, {0, 0, 2})) ==
                    C(0x31, {Seq({Oid("2A864886F70D010915"), C(0x31, {Octets(id)})})}));
        // libcrypto decrypts the EncryptedPrivateKeyInfo with the password.
        const std::string epki = SaveTagToString(*pkitest::Node(contents, {0, 0, 1, 0}));
        const auto* p = reinterpret_cast<const unsigned char*>(epki.data());
        std::unique_ptr<X509_SIG, decltype(&X509_SIG_free)> sig(d2i_X509_SIG(nullptr, &p, long(epki.size())),
                                                                &X509_SIG_free);
        ASSERT_TRUE(sig);
        std::unique_ptr<PKCS8_PRIV_KEY_INFO, decltype(&PKCS8_PRIV_KEY_INFO_free)> p8(
            PKCS8_decrypt(sig.get(), "pw", 2), &PKCS8_PRIV_KEY_INFO_free);
        ASSERT_TRUE(p8);
        const unsigned char* key = nullptr;
        int keyLen = 0;
        const X509_ALGOR* algorithm = nullptr;
        ASSERT_EQ(PKCS8_pkey_get0(nullptr, &key, &keyLen, &algorithm, p8.get()), 1);
        const std::string octets(reinterpret_cast<const char*>(key), size_t(keyLen));
        const ASN1_OBJECT* keyOid = nullptr;
        X509_ALGOR_get0(&keyOid, nullptr, nullptr, algorithm);
        const ASN1_TYPE* localKeyId = PKCS8_get_attr(p8.get(), NID_localKeyID);
        ASSERT_NE(localKeyId, nullptr);
        ASSERT_EQ(localKeyId->type, V_ASN1_OCTET_STRING);
        EXPECT_EQ(
            std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(localKeyId->value.octet_string)),
                        size_t(ASN1_STRING_length(localKeyId->value.octet_string))),
            id);
        if (i == 0) {
            // The PKCS#1 RSAPrivateKey as the file held it.
            EXPECT_EQ(OBJ_obj2nid(keyOid), NID_rsaEncryption);
            EXPECT_TRUE(octets == std::string(rsa.GetKey(0).begin(), rsa.GetKey(0).end()));
        } else {
            // INTEGER x, as the PKITS file holds it, under id-dsa with the certificate's p, q, g.
            EXPECT_EQ(OBJ_obj2nid(keyOid), NID_dsa);
            EXPECT_TRUE(octets == std::string(dsa.GetKey(0).begin(), dsa.GetKey(0).end()));
            std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(EVP_PKCS82PKEY(p8.get()),
                                                                     &EVP_PKEY_free);
            ASSERT_TRUE(pkey);
            const std::string_view certDer = dsaCert->GetDER();
            const auto* c = reinterpret_cast<const unsigned char*>(certDer.data());
            std::unique_ptr<X509, decltype(&X509_free)> x509(d2i_X509(nullptr, &c, long(certDer.size())),
                                                             &X509_free);
            ASSERT_TRUE(x509);
            EXPECT_EQ(X509_check_private_key(x509.get(), pkey.get()), 1);
        }
    }

    // Read back: the two keys on their certificates, none on the third.
    TElPKCS12Message again;
    ASSERT_EQ(Load(again, out, "pw"), 0);
    ASSERT_EQ(again.GetCertStorage().GetCount(), 3);
    EXPECT_EQ(again.KeyCount(), 2);
    EXPECT_TRUE(again.GetCertStorage().GetCertificate(0)->GetPrivateKeyExists());
    EXPECT_TRUE(again.GetCertStorage().GetCertificate(1)->GetPrivateKeyExists());
    EXPECT_FALSE(again.GetCertStorage().GetCertificate(2)->GetPrivateKeyExists());
    size_t rsaSize = 0, againSize = 0;
    rsaCert->SaveKeyToBuffer(nullptr, rsaSize);
    again.GetCertStorage().GetCertificate(0)->SaveKeyToBuffer(nullptr, againSize);
    std::string rsaKey(rsaSize, '\0'), againKey(againSize, '\0');
    ASSERT_TRUE(rsaCert->SaveKeyToBuffer(rsaKey.data(), rsaSize));
    ASSERT_TRUE(again.GetCertStorage().GetCertificate(0)->SaveKeyToBuffer(againKey.data(), againSize));
    EXPECT_TRUE(rsaKey == againKey);

    // A key bag scheme without an OID, or without PKCS#12 key and IV sizes, is refused.
    m.KeyBagAlgorithm = 0x7280;
    EXPECT_EQ(m.SaveToBuffer(out.data(), size), 0x1F0B);
    m.KeyBagAlgorithm = SB_ALG_PBES2;
    EXPECT_EQ(m.SaveToBuffer(out.data(), size), 0x1F0C);
}
