// PKCS#7 against OpenSSL: messages made by `openssl cms` and `openssl crl2pkcs7` at test time
// read with the fields libcrypto's CMS reader finds in the same bytes; what we write back (in
// indefinite and in definite length) still verifies, decrypts or digests under `openssl cms`;
// the S/MIME signatures of PKITS and the pkcs7 files of python3-cryptography-vectors read in
// place; authenticated and signed-and-enveloped data, which OpenSSL cannot make, written by us,
// parsed by `openssl asn1parse` and read back.
#include <gtest/gtest.h>
#include <openssl/cms.h>
#include <openssl/x509.h>

#include <memory>

#include "PKCS7TestSupport.h"
#include "PKITestSupport.h"
#include "crypto/base/SBConstants.h"
#include "pki/SBPKCS7.h"

using namespace p7test;
using asn1test::Hex;
namespace fs = std::filesystem;

namespace {

using CMSPtr = std::unique_ptr<CMS_ContentInfo, decltype(&CMS_ContentInfo_free)>;

CMSPtr ParseCMS(const std::string& der) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    return CMSPtr(d2i_CMS_ContentInfo(nullptr, &p, long(der.size())), &CMS_ContentInfo_free);
}

std::string ObjectBytes(const ASN1_OBJECT* o) {
    return std::string(reinterpret_cast<const char*>(OBJ_get0_data(o)), OBJ_length(o));
}

// The INTEGER's content octets as libcrypto encodes them (sign byte included).
std::string IntegerContent(const ASN1_INTEGER* i) {
    unsigned char* der = nullptr;
    const int len = i2d_ASN1_INTEGER(i, &der);
    std::string s(reinterpret_cast<char*>(der), size_t(len));
    OPENSSL_free(der);
    TElASN1ConstrainedTag root;
    if (!LoadTagTree(root, s) || root.GetCount() != 1) return "<not an INTEGER>";
    return static_cast<const TElASN1SimpleTag&>(*root.GetChild(0)).GetContent();
}

std::string NameDER(const X509_NAME* n) {
    unsigned char* der = nullptr;
    const int len = i2d_X509_NAME(n, &der);
    std::string s(reinterpret_cast<char*>(der), size_t(len));
    OPENSSL_free(der);
    return s;
}

// What libcrypto finds in a signed message, compared field by field with ours.
void ExpectSignedFieldsAgree(const std::string& der, TElPKCS7Message& ours) {
    CMSPtr cms = ParseCMS(der);
    ASSERT_TRUE(cms);
    TElPKCS7SignedData& sd = ours.GetSignedData();
    EXPECT_EQ(ObjectBytes(CMS_get0_eContentType(cms.get())), sd.EncapsulatedContentType.empty()
                                                                 ? std::string(PKCS7ContentTypeOID(ctData))
                                                                 : sd.EncapsulatedContentType);
    ASN1_OCTET_STRING** content = CMS_get0_content(cms.get());
    // (A save gives a detached message one empty part; its content stays empty.)
    EXPECT_EQ(sd.GetContent(),
              content != nullptr && *content != nullptr ? pkitest::ASN1StringBytes(*content) : "");
    STACK_OF(X509)* certs = CMS_get1_certs(cms.get());
    const int certCount = certs != nullptr ? sk_X509_num(certs) : 0;
    EXPECT_EQ(sd.Certificates.GetCount(), certCount);
    for (int i = 0; i < certCount && i < sd.Certificates.GetCount(); ++i)
        EXPECT_EQ(std::string(sd.Certificates.GetCertificate(i)->GetDER()), CertDER(sk_X509_value(certs, i)));
    sk_X509_pop_free(certs, X509_free);
    STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms.get());
    const int signerCount = infos != nullptr ? sk_CMS_SignerInfo_num(infos) : 0;
    ASSERT_EQ(sd.SignerCount(), signerCount);
    for (int i = 0; i < signerCount; ++i) {
        SCOPED_TRACE("signer " + std::to_string(i));
        CMS_SignerInfo* si = sk_CMS_SignerInfo_value(infos, i);
        const TElPKCS7Signer& s = *sd.GetSigner(i);
        ASN1_OCTET_STRING* keyid = nullptr;
        X509_NAME* issuer = nullptr;
        ASN1_INTEGER* serial = nullptr;
        ASSERT_EQ(CMS_SignerInfo_get0_signer_id(si, &keyid, &issuer, &serial), 1);
        ASSERT_NE(issuer, nullptr);
        EXPECT_EQ(s.Issuer.Issuer.SaveToDER(), NameDER(issuer));
        EXPECT_EQ(Hex(s.Issuer.SerialNumber), Hex(IntegerContent(serial)));
        X509_ALGOR* digest = nullptr;
        X509_ALGOR* signature = nullptr;
        CMS_SignerInfo_get0_algs(si, nullptr, nullptr, &digest, &signature);
        EXPECT_EQ(s.DigestAlgorithm, ObjectBytes(digest->algorithm));
        EXPECT_EQ(s.DigestEncryptionAlgorithm, ObjectBytes(signature->algorithm));
        EXPECT_EQ(s.EncryptedDigest, pkitest::ASN1StringBytes(CMS_SignerInfo_get0_signature(si)));
        EXPECT_EQ(s.AuthenticatedAttributes.GetCount(),
                  CMS_signed_get_attr_count(si) < 0 ? 0 : CMS_signed_get_attr_count(si));
        EXPECT_EQ(s.UnauthenticatedAttributes.GetCount(),
                  CMS_unsigned_get_attr_count(si) < 0 ? 0 : CMS_unsigned_get_attr_count(si));
    }
}

class PKCS7Peer : public ::testing::Test {
protected:
    void SetUp() override {
        PKI_REQUIRE_OPENSSL();
        for (const char* n : {"1", "2"}) {
            ASSERT_EQ(
                pkitest::OpenSSL(dir.path(), std::string("req -x509 -newkey rsa:2048 -nodes -keyout k") + n +
                                                 ".pem -out c" + n + ".pem -subj /CN=Peer" + n +
                                                 "/O=kwLoader -days 30"),
                0)
                << pkitest::OpenSSLLog(dir.path());
        }
        kwtest::WriteFile(dir / "msg.txt", "The content a signature covers.\n");
    }

    // Runs openssl in the folder and answers the bytes of the named output file.
    std::string Make(const std::string& args, const std::string& out) {
        EXPECT_EQ(pkitest::OpenSSL(dir.path(), args), 0) << args << "\n" << pkitest::OpenSSLLog(dir.path());
        return kwtest::ReadFile(dir / out);
    }

    // Loads, saves in both forms, and answers them.
    std::pair<std::string, std::string> LoadAndSave(const std::string& der, TElPKCS7Message& m) {
        EXPECT_EQ(m.LoadFromBuffer(der.data(), der.size()), 0);
        m.IndefiniteLength = true;
        const std::string ber = SaveMessage(m);
        m.IndefiniteLength = false;
        const std::string dr = SaveMessage(m);
        EXPECT_EQ(Hex(ber.substr(0, 2)), "3080");
        EXPECT_NE(Hex(dr.substr(0, 2)), "3080");
        return {ber, dr};
    }

    kwtest::TempDir dir;
};

}  // namespace

TEST_F(PKCS7Peer, SignedMessagesVerifyAfterOurRoundTrip) {
    const struct {
        const char* name;
        const char* options;
        bool detached;
    } cases[] = {
        {"detached, signed attributes", "", true},
        {"attached, signed attributes", "-nodetach", false},
        {"detached, no attributes", "-noattr", true},
        {"attached, no attributes", "-nodetach -noattr", false},
        {"two signers, SHA-1 and SHA-256", "-nodetach -md sha1 -signer c2.pem -inkey k2.pem", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string der =
            Make(std::string("cms -sign -binary -in msg.txt -signer c1.pem -inkey k1.pem ") + c.options +
                     " -outform DER -out s.p7s",
                 "s.p7s");
        TElPKCS7Message m;
        auto [ber, dr] = LoadAndSave(der, m);
        ExpectSignedFieldsAgree(der, m);
        EXPECT_EQ(m.GetSignedData().GetContent().empty(), c.detached);
        for (const auto& [form, bytes] :
             {std::pair<const char*, std::string>{"indefinite", ber}, {"definite", dr}}) {
            SCOPED_TRACE(form);
            kwtest::WriteFile(dir / "ours.p7s", bytes);
            const std::string content = c.detached ? " -content msg.txt" : "";
            EXPECT_EQ(pkitest::OpenSSL(dir.path(), "cms -verify -binary -noverify -inform DER -in ours.p7s" +
                                                       content + " -out verified.txt"),
                      0)
                << pkitest::OpenSSLLog(dir.path());
            EXPECT_EQ(kwtest::ReadFile(dir / "verified.txt"), kwtest::ReadFile(dir / "msg.txt"));
            TElPKCS7Message again;
            ASSERT_EQ(again.LoadFromBuffer(bytes.data(), bytes.size()), 0);
            ExpectSignedFieldsAgree(der, again);
        }
    }
    // A tampered signature no longer verifies: the check above is a real one.
    const std::string der = Make(
        "cms -sign -binary -nodetach -in msg.txt -signer c1.pem -inkey k1.pem -outform DER "
        "-out s.p7s",
        "s.p7s");
    TElPKCS7Message m;
    ASSERT_EQ(m.LoadFromBuffer(der.data(), der.size()), 0);
    m.GetSignedData().GetSigner(0)->EncryptedDigest[5] ^= 1;
    kwtest::WriteFile(dir / "bad.p7s", SaveMessage(m));
    EXPECT_NE(
        pkitest::OpenSSL(dir.path(), "cms -verify -binary -noverify -inform DER -in bad.p7s -out v.txt"), 0);
}

TEST_F(PKCS7Peer, EnvelopedEncryptedDigestedAndCertificateBags) {
    // Enveloped to two RSA recipients: our copy decrypts with either key.
    const std::string env =
        Make("cms -encrypt -binary -aes128 -in msg.txt -outform DER -out e.p7m c1.pem c2.pem", "e.p7m");
    TElPKCS7Message m;
    auto [ber, dr] = LoadAndSave(env, m);
    EXPECT_EQ(m.ContentType, ctEnvelopedData);
    TElPKCS7EnvelopedData& ed = m.GetEnvelopedData();
    CMSPtr cms = ParseCMS(env);
    STACK_OF(CMS_RecipientInfo)* ris = CMS_get0_RecipientInfos(cms.get());
    ASSERT_EQ(ed.Recipients.Count(), sk_CMS_RecipientInfo_num(ris));
    for (int i = 0; i < ed.Recipients.Count(); ++i) {
        X509_NAME* issuer = nullptr;
        ASN1_INTEGER* serial = nullptr;
        ASN1_OCTET_STRING* keyid = nullptr;
        ASSERT_EQ(CMS_RecipientInfo_ktri_get0_signer_id(sk_CMS_RecipientInfo_value(ris, i), &keyid, &issuer,
                                                        &serial),
                  1);
        EXPECT_EQ(ed.Recipients.GetItem(i)->Issuer.Issuer.SaveToDER(), NameDER(issuer));
        EXPECT_EQ(Hex(ed.Recipients.GetItem(i)->Issuer.SerialNumber), Hex(IntegerContent(serial)));
        X509_ALGOR* alg = nullptr;
        CMS_RecipientInfo_ktri_get0_algs(sk_CMS_RecipientInfo_value(ris, i), nullptr, nullptr, &alg);
        EXPECT_EQ(ed.Recipients.GetItem(i)->KeyEncryptionAlgorithm, ObjectBytes(alg->algorithm));
    }
    EXPECT_EQ(Hex(ed.EncryptedContent.ContentEncryptionAlgorithm), "608648016503040102");  // aes128-cbc
    for (const std::string& bytes : {ber, dr}) {
        kwtest::WriteFile(dir / "ours.p7m", bytes);
        for (const char* key : {"k1.pem", "k2.pem"}) {
            EXPECT_EQ(pkitest::OpenSSL(dir.path(),
                                       std::string("cms -decrypt -binary -inform DER -in ours.p7m -inkey ") +
                                           key + " -out plain.txt"),
                      0)
                << pkitest::OpenSSLLog(dir.path());
            EXPECT_EQ(kwtest::ReadFile(dir / "plain.txt"), kwtest::ReadFile(dir / "msg.txt"));
        }
    }

    // EncryptedData under a secret key.
    const std::string key = "000102030405060708090A0B0C0D0E0F";
    const std::string enc = Make("cms -EncryptedData_encrypt -binary -aes128 -secretkey " + key +
                                     " -in msg.txt -outform DER -out d.p7m",
                                 "d.p7m");
    TElPKCS7Message em;
    auto [eber, edr] = LoadAndSave(enc, em);
    EXPECT_EQ(em.ContentType, ctEncryptedData);
    for (const std::string& bytes : {eber, edr}) {
        kwtest::WriteFile(dir / "ours.p7m", bytes);
        EXPECT_EQ(pkitest::OpenSSL(dir.path(),
                                   "cms -EncryptedData_decrypt -binary -inform DER -in ours.p7m "
                                   "-secretkey " +
                                       key + " -out plain.txt"),
                  0)
            << pkitest::OpenSSLLog(dir.path());
        EXPECT_EQ(kwtest::ReadFile(dir / "plain.txt"), kwtest::ReadFile(dir / "msg.txt"));
    }

    // DigestedData.
    const std::string dig =
        Make("cms -digest_create -binary -md sha256 -in msg.txt -outform DER -out g.p7m", "g.p7m");
    TElPKCS7Message dm;
    auto [dber, ddr] = LoadAndSave(dig, dm);
    EXPECT_EQ(dm.ContentType, ctDigestedData);
    EXPECT_EQ(dm.GetDigestedData().Content, kwtest::ReadFile(dir / "msg.txt"));
    EXPECT_EQ(Hex(dm.GetDigestedData().DigestAlgorithm), kSHA256);
    EXPECT_EQ(dm.GetDigestedData().Digest.size(), 32u);
    for (const std::string& bytes : {dber, ddr}) {
        kwtest::WriteFile(dir / "ours.p7m", bytes);
        EXPECT_EQ(pkitest::OpenSSL(dir.path(),
                                   "cms -digest_verify -binary -inform DER -in ours.p7m -out plain.txt"),
                  0)
            << pkitest::OpenSSLLog(dir.path());
    }

    // Certificates only, as crl2pkcs7 makes them.
    const std::string bag =
        Make("crl2pkcs7 -nocrl -certfile c1.pem -certfile c2.pem -outform DER -out b.p7b", "b.p7b");
    TElPKCS7Message bm;
    auto [bber, bdr] = LoadAndSave(bag, bm);
    EXPECT_EQ(bm.GetSignedData().SignerCount(), 0);
    ExpectSignedFieldsAgree(bag, bm);
    EXPECT_EQ(bm.GetSignedData().Certificates.GetCount(), 2);
    kwtest::WriteFile(dir / "ours.p7b", bber);
    EXPECT_EQ(pkitest::OpenSSL(dir.path(), "pkcs7 -inform DER -in ours.p7b -print_certs -out certs.pem"), 0)
        << pkitest::OpenSSLLog(dir.path());
    EXPECT_EQ(pkitest::PEMBlocks(kwtest::ReadFile(dir / "certs.pem"), "CERTIFICATE").size(), 2u);
}

// The signatures of PKITS's S/MIME messages (read in place): every one loads, agrees with
// libcrypto, and written back in definite length it is the bytes it was.
TEST(PKCS7Vectors, PKITSSignaturesRead) {
    const fs::path dir = pkitest::VectorsX509() / "PKITS_data/smime";
    PKI_REQUIRE_DIR(dir);
    int ran = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() != ".eml") continue;
        SCOPED_TRACE(entry.path().filename().string());
        const std::string text = kwtest::ReadFile(entry.path());
        // The base64 body of the application/pkcs7-signature part: the lines after its headers,
        // up to the closing boundary (the files mix CR LF and LF line ends).
        const size_t part = text.find("Content-Type: application/pkcs7-signature");
        ASSERT_NE(part, std::string::npos);
        std::string b64;
        bool body = false;
        for (size_t at = part; at < text.size();) {
            size_t eol = text.find('\n', at);
            if (eol == std::string::npos) eol = text.size();
            std::string line = text.substr(at, eol - at);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            at = eol + 1;
            if (!body) {
                body = line.empty();
                continue;
            }
            if (line.rfind("------", 0) == 0) break;
            b64 += line;
        }
        size_t size = b64.size();
        std::string der(size, '\0');
        ASSERT_EQ(DecodeBase64(b64.data(), b64.size(), der.data(), size), 0);
        der.resize(size);
        TElPKCS7Message m;
        ASSERT_EQ(m.LoadFromBuffer(der.data(), der.size()), 0);
        EXPECT_EQ(m.ContentType, ctSignedData);
        ExpectSignedFieldsAgree(der, m);
        // Written back in definite length it is the same bytes but for the CRLs, which are not
        // kept, and the signature algorithms of DSA signers, whose absent parameters are written
        // as NULL (PKITS writes NULL digest parameters as we do).
        const std::string expected = pkitest::EditDER(der, [](TElASN1ConstrainedTag& root) {
            TElASN1ConstrainedTag& sd = pkitest::C(root, {0, 1, 0});
            for (int i = 0; i < sd.GetCount(); ++i)
                if (sd.GetChild(i)->TagByte == 0xA1) sd.RemoveChild(i);
            auto& signers = static_cast<TElASN1ConstrainedTag&>(*sd.GetChild(sd.GetCount() - 1));
            for (int i = 0; i < signers.GetCount(); ++i) {
                auto& signer = static_cast<TElASN1ConstrainedTag&>(*signers.GetChild(i));
                const int at = signer.GetChild(3)->TagByte == 0xA0 ? 4 : 3;
                auto& alg = static_cast<TElASN1ConstrainedTag&>(*signer.GetChild(at));
                if (alg.GetCount() == 1) AddSimpleChild(alg, 0x05);
            }
        });
        m.IndefiniteLength = false;
        EXPECT_TRUE(SaveMessage(m) == expected);
        ++ran;
    }
    EXPECT_EQ(ran, 224);
}

TEST(PKCS7Vectors, CryptographyPKCS7FilesRead) {
    const fs::path dir = "/usr/lib/python3/dist-packages/cryptography_vectors/pkcs7";
    PKI_REQUIRE_DIR(dir);
    const struct {
        const char* file;
        TSBPKCS7ContentType type;
        int certificates;
    } cases[] = {
        {"amazon-roots.der", ctSignedData, 2},
        {"amazon-roots.p7b", ctSignedData, 2},
        {"isrg.pem", ctSignedData, 1},
        {"enveloped.pem", ctEnvelopedData, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const auto objects = pkitest::LoadObjects(dir / c.file, "PKCS7");
        ASSERT_EQ(objects.size(), 1u);
        const std::string& der = objects[0];
        TElPKCS7Message m;
        ASSERT_EQ(m.LoadFromBuffer(der.data(), der.size()), 0);
        EXPECT_EQ(m.ContentType, c.type);
        if (c.type == ctSignedData) {
            ExpectSignedFieldsAgree(der, m);
            EXPECT_EQ(m.GetSignedData().Certificates.GetCount(), c.certificates);
        } else {
            CMSPtr cms = ParseCMS(der);
            ASSERT_TRUE(cms);
            EXPECT_EQ(m.GetEnvelopedData().Recipients.Count(),
                      sk_CMS_RecipientInfo_num(CMS_get0_RecipientInfos(cms.get())));
            EXPECT_FALSE(m.GetEnvelopedData().EncryptedContent.GetEncryptedContent().empty());
        }
        // Read back from what we write, the same objects.
        const std::string saved = SaveMessage(m);
        TElPKCS7Message again;
        ASSERT_EQ(again.LoadFromBuffer(saved.data(), saved.size()), 0);
        m.IndefiniteLength = again.IndefiniteLength = false;
        EXPECT_EQ(SaveMessage(again), SaveMessage(m));
    }
}

// OpenSSL makes neither: ours are written, parsed by asn1parse and read back.
TEST_F(PKCS7Peer, AuthenticatedAndSignedAndEnvelopedRoundTrip) {
    const std::string cert = kwtest::ReadFile(dir / "c1.pem");
    const auto certDer = pkitest::PEMBlocks(cert, "CERTIFICATE");
    ASSERT_EQ(certDer.size(), 1u);
    TElX509Certificate x;
    x.LoadFromBuffer(certDer[0].data(), certDer[0].size());

    auto recipient = [&](TElPKCS7RecipientList& list, const std::string& key) {
        auto r = std::make_unique<TElPKCS7Recipient>();
        r->Issuer.Issuer.Assign(&x.GetIssuerRDN());
        r->Issuer.SerialNumber = x.GetSerialNumberAsEncoded();
        r->KeyEncryptionAlgorithm = std::string(SB_OID_RSA_ENCRYPTION);
        r->EncryptedKey = key;
        list.Add(std::move(r));
    };

    for (const bool indefinite : {true, false}) {
        SCOPED_TRACE(indefinite ? "indefinite" : "definite");
        // Authenticated data with attributes and three content parts.
        TElPKCS7Message a;
        a.ContentType = ctAuthenticatedData;
        a.IndefiniteLength = indefinite;
        TElPKCS7AuthenticatedData& ad = a.GetAuthenticatedData();
        recipient(ad.Recipients, std::string(256, 'K'));
        ad.MacAlgorithm = std::string(SB_OID_HMACSHA256);
        ad.DigestAlgorithm = H(kSHA256);
        ad.ContentType = H(kData);
        ad.AddContentPart("part one, ");
        ad.AddContentPart("part two, ");
        ad.AddContentPart("part three");
        ad.AuthenticatedAttributes.SetCount(1);
        ad.AuthenticatedAttributes.SetAttributeType(0, H("2A864886F70D010903"));
        ad.AuthenticatedAttributes.GetValues(0)->push_back(Oid(kData));
        ad.Mac = std::string(32, 'M');
        const std::string authDer = SaveMessage(a);
        kwtest::WriteFile(dir / "auth.der", authDer);
        ASSERT_EQ(pkitest::OpenSSL(dir.path(), "asn1parse -inform DER -in auth.der"), 0)
            << pkitest::OpenSSLLog(dir.path());
        EXPECT_NE(pkitest::OpenSSLLog(dir.path()).find("id-smime-ct-authData"), std::string::npos);
        TElPKCS7Message ra;
        ASSERT_EQ(ra.LoadFromBuffer(authDer.data(), authDer.size()), 0);
        EXPECT_EQ(ra.GetAuthenticatedData().GetContent(), "part one, part two, part three");
        EXPECT_EQ(ra.GetAuthenticatedData().Mac, ad.Mac);
        EXPECT_EQ(ra.GetAuthenticatedData().Recipients.GetItem(0)->Issuer.SerialNumber,
                  x.GetSerialNumberAsEncoded());
        EXPECT_EQ(ra.GetAuthenticatedData().AuthenticatedAttributes.GetCount(), 1);
        EXPECT_EQ(ra.GetAuthenticatedData().DigestAlgorithm, H(kSHA256));

        // Signed-and-enveloped data with a certificate and a signer.
        TElPKCS7Message s;
        s.ContentType = ctSignedAndEnvelopedData;
        s.IndefiniteLength = indefinite;
        TElPKCS7SignedAndEnvelopedData& sed = s.GetSignedAndEnvelopedData();
        sed.Version = 1;
        recipient(sed.Recipients, std::string(256, 'k'));
        sed.EncryptedContent.ContentType = H(kData);
        sed.EncryptedContent.ContentEncryptionAlgorithm = std::string(SB_OID_DES_EDE3_CBC);
        sed.EncryptedContent.ContentEncryptionAlgorithmParams = Octets("12345678");
        sed.EncryptedContent.SetEncryptedContent(std::string(48, 'C'));
        sed.Certificates.Add(&x);
        auto signer = std::make_unique<TElPKCS7Signer>();
        signer->Version = 1;
        signer->Issuer.Issuer.Assign(&x.GetIssuerRDN());
        signer->Issuer.SerialNumber = x.GetSerialNumberAsEncoded();
        signer->DigestAlgorithm = H(kSHA1);
        signer->DigestEncryptionAlgorithm = std::string(SB_OID_RSA_ENCRYPTION);
        signer->EncryptedDigest = std::string(256, 'S');
        sed.Signers.Add(std::move(signer));
        const std::string sedDer = SaveMessage(s);
        kwtest::WriteFile(dir / "sed.der", sedDer);
        ASSERT_EQ(pkitest::OpenSSL(dir.path(), "asn1parse -inform DER -in sed.der"), 0)
            << pkitest::OpenSSLLog(dir.path());
        EXPECT_NE(pkitest::OpenSSLLog(dir.path()).find("pkcs7-signedAndEnvelopedData"), std::string::npos);
        TElPKCS7Message rs;
        ASSERT_EQ(rs.LoadFromBuffer(sedDer.data(), sedDer.size()), 0);
        TElPKCS7SignedAndEnvelopedData& back = rs.GetSignedAndEnvelopedData();
        EXPECT_EQ(back.SignerCount(), 1);
        EXPECT_EQ(back.Certificates.GetCount(), 1);
        EXPECT_EQ(back.Recipients.Count(), 1);
        EXPECT_EQ(back.EncryptedContent.GetEncryptedContent(), std::string(48, 'C'));
        EXPECT_EQ(back.GetSigner(0)->EncryptedDigest, std::string(256, 'S'));
    }
}
