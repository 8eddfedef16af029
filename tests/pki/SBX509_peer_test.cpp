// Certificates made by openssl at test time: what the reader keeps, what it refuses, and the
// edge cases of its rules, on DER edited through the tag tree.
#include <gtest/gtest.h>

#include "crypto/base/SBConstants.h"
#include "pki/SBX509.h"
#include "tests/pki/PKITestSupport.h"

namespace {

using asn1test::H;
using asn1test::Hex;
using namespace pkitest;

// One RSA and one DSA certificate, made once for the whole suite.
class X509Fixture : public OpenSSLSuite<X509Fixture> {
public:
    static bool Make(const fs::path& d) {
        const bool ok =
            OpenSSL(d, "req -x509 -newkey rsa:2048 -nodes -keyout rsa.key -outform DER -out rsa.der -days 30 "
                       "-subj '/C=BR/ST=SP/L=Sao Paulo/O=kw/OU=pki/CN=base/emailAddress=a@b.c' "
                       "-addext 'subjectAltName=IP:2001:db8::1,IP:10.0.0.1,DNS:x.example' "
                       "-addext 'keyUsage=critical,digitalSignature,keyCertSign' -set_serial 0x0123") == 0 &&
            OpenSSL(d, "dsaparam -out dsa.param 1024") == 0 &&
            OpenSSL(d, "req -x509 -newkey dsa:dsa.param -nodes -keyout dsa.key -outform DER -out dsa.der "
                       "-days 30 -subj /CN=dsa -sha1") == 0;
        if (ok) {
            rsa_ = kwtest::ReadFile(d / "rsa.der");
            dsa_ = kwtest::ReadFile(d / "dsa.der");
        }
        return ok;
    }

protected:
    static std::unique_ptr<TElX509Certificate> Load(const std::string& der) {
        auto c = std::make_unique<TElX509Certificate>();
        c->LoadFromBuffer(der.data(), der.size());
        return c;
    }
    static std::string Refusal(const std::string& der) {
        try {
            Load(der);
        } catch (const EElCertificateException& e) {
            return e.Message();
        }
        return "";
    }

    // Where openssl put the key usage among the extensions.
    static int KeyUsageIndex() {
        const auto c = Load(rsa_);
        const auto& met = c->GetExtensions().Met();
        for (size_t i = 0; i < met.size(); ++i)
            if (met[i].OID == H("55 1D 0F")) return int(i);
        return -1;
    }

    static inline std::string rsa_, dsa_;
};

TEST_F(X509Fixture, ReadsWhatOpensslWrote) {
    TElX509Certificate c;
    c.LoadFromBuffer(rsa_.data(), rsa_.size());
    EXPECT_EQ(c.GetVersion(), 3);
    EXPECT_EQ(Hex(c.GetSerialNumber()), "0123");
    EXPECT_FALSE(c.SerialPadded());
    EXPECT_EQ(c.GetSubjectName().Country, "BR");
    EXPECT_EQ(c.GetSubjectName().StateOrProvince, "SP");
    EXPECT_EQ(c.GetSubjectName().Locality, "Sao Paulo");
    EXPECT_EQ(c.GetSubjectName().Organization, "kw");
    EXPECT_EQ(c.GetSubjectName().OrganizationUnit, "pki");
    EXPECT_EQ(c.GetSubjectName().CommonName, "base");
    EXPECT_EQ(c.GetSubjectName().EMailAddress, "a@b.c");
    EXPECT_EQ(c.GetIssuerName().CommonName, "base");
    EXPECT_TRUE(c.IsSelfSigned());
    EXPECT_TRUE(c.SignatureAlgorithmsMatch());
    EXPECT_EQ(c.GetSignatureAlgorithm(), SB_CERT_ALG_SHA256_RSA);
    EXPECT_EQ(c.GetPublicKeyAlgorithm(), SB_CERT_ALG_RSA_ENCRYPTION);
    EXPECT_EQ(c.GetKeyBits(), 2048);
    EXPECT_NEAR(c.GetValidTo() - c.GetValidFrom(), 30.0, 1e-6);
    EXPECT_EQ(c.GetMD5Hash().size(), 16u);
    EXPECT_EQ(c.GetTBSBytes().substr(0, 2), rsa_.substr(4, 2));
    EXPECT_TRUE(c.GetExtensions().KeyUsage.Critical);
    EXPECT_TRUE(c.GetExtensions().KeyUsage.KeyCertSign);

    // IPv6 and IPv4 names read as texts and written back as the same bytes.
    const TElGeneralNames& san = c.GetExtensions().SubjectAlternativeName.Content;
    ASSERT_EQ(san.GetCount(), 3);
    EXPECT_EQ(san.GetNames(0)->IpAddress, "32.1.13.184.0.0.0.0.0.0.0.0.0.0.0.1");
    EXPECT_EQ(san.GetNames(1)->IpAddress, "10.0.0.1");
    TElGeneralNames copy;
    copy.Assign(&san);
    TElASN1ConstrainedTag written;
    copy.SaveToTag(written);
    EXPECT_EQ(Hex(SaveTagToString(written)), Hex(c.GetExtensions().SubjectAlternativeName.GetValue()));
}

TEST_F(X509Fixture, KeyParametersAndBuffers) {
    auto c = Load(rsa_);
    size_t m = 0, e = 0;
    EXPECT_FALSE(c->GetRSAParams(nullptr, m, nullptr, e));
    EXPECT_EQ(m, 257u);  // the INTEGER's content, leading zero included
    EXPECT_EQ(e, 3u);
    std::string mod(m, '\0'), exp(e, '\0');
    size_t shortM = m - 1;
    EXPECT_FALSE(c->GetRSAParams(mod.data(), shortM, exp.data(), e));
    EXPECT_EQ(shortM, 257u);
    EXPECT_TRUE(c->GetRSAParams(mod.data(), m, exp.data(), e));
    EXPECT_EQ(Hex(exp), "010001");
    // Sizes are compared whole: a room of 65536 bytes (0 in its low 16 bits) is room enough.
    std::string wide(65536, '\0');
    size_t wideSize = wide.size();
    EXPECT_TRUE(c->GetRSAParams(wide.data(), wideSize, exp.data(), e));
    EXPECT_EQ(wideSize, 257u);
    EXPECT_EQ(wide.substr(0, 257), mod);
    size_t p = 0, q = 0, g = 0, y = 0;
    EXPECT_THROW(c->GetDSSParams(nullptr, p, nullptr, q, nullptr, g, nullptr, y), EElCertificateException);

    size_t size = rsa_.size() - 1;
    std::string out(rsa_.size(), '\0');
    EXPECT_FALSE(c->SaveToBuffer(out.data(), size));
    EXPECT_EQ(size, rsa_.size());
    EXPECT_TRUE(c->SaveToBuffer(out.data(), size));
    EXPECT_EQ(out, rsa_);
    size_t blob = 0;
    EXPECT_FALSE(c->GetPublicKeyBlob(nullptr, blob));
    EXPECT_EQ(blob, c->GetPublicKeyBytes().size());

    auto d = Load(dsa_);
    EXPECT_EQ(d->GetPublicKeyAlgorithm(), SB_CERT_ALG_DSA);
    EXPECT_EQ(d->GetSignatureAlgorithm(), SB_CERT_ALG_DSA_SHA1);
    EXPECT_EQ(d->GetKeyBits(), 1024);
    EXPECT_FALSE(d->GetDSSParams(nullptr, p, nullptr, q, nullptr, g, nullptr, y));
    EXPECT_GE(p, 128u);
    EXPECT_GE(q, 20u);
    std::string P(p, '\0'), Q(q, '\0'), G(g, '\0'), Y(y, '\0');
    EXPECT_TRUE(d->GetDSSParams(P.data(), p, Q.data(), q, G.data(), g, Y.data(), y));
    EXPECT_THROW(d->GetRSAParams(nullptr, m, nullptr, e), EElCertificateException);
}

TEST_F(X509Fixture, Base64TextLoadsAndPEMDoesNot) {
    std::string b64(rsa_.size() * 2 + 8, '\0');
    size_t n = b64.size();
    ASSERT_TRUE(EncodeBase64(rsa_.data(), rsa_.size(), b64.data(), true, n));
    b64.resize(n);
    EXPECT_EQ(Load(b64)->GetDER(), rsa_);
    std::string wide;
    for (char ch : b64) {
        wide += ch;
        wide += '\0';
    }
    EXPECT_EQ(Load(wide)->GetDER(), rsa_);
    const std::string pem = "-----BEGIN CERTIFICATE-----\n" + b64 + "\n-----END CERTIFICATE-----\n";
    EXPECT_EQ(Refusal(pem), SInvalidCertificateData);
}

// The hostile table: every edit must be refused with the right message, or read as stated.
TEST_F(X509Fixture, HostileInputs) {
    // Every truncation is refused (and none reads past its end: ASan and the fuzzer watch that).
    for (size_t len = 0; len < rsa_.size(); len += (len < 64 ? 1 : 7)) {
        SCOPED_TRACE(len);
        EXPECT_NE(Refusal(rsa_.substr(0, len)), "");
    }
    // Path in the tree: {0} certificate, {0,0} TBS, {0,0,k} TBS elements.
    struct Case {
        const char* what;
        std::function<void(TElASN1ConstrainedTag&)> edit;
        const char* message;
    } cases[] = {
        {"outer SET", [](TElASN1ConstrainedTag& r) { Node(r, {0})->TagByte = 0x31; }, SInvalidCertificateData},
        {"TBS SET", [](TElASN1ConstrainedTag& r) { Node(r, {0, 0})->TagByte = 0x31; }, SInvalidCertificateData},
        {"signature as OCTET STRING", [](TElASN1ConstrainedTag& r) { Node(r, {0, 2})->TagByte = 0x04; },
         SInvalidCertificateData},
        {"serial as OCTET STRING", [](TElASN1ConstrainedTag& r) { Node(r, {0, 0, 1})->TagByte = 0x04; },
         SInvalidCertificateData},
        {"fourth element", [](TElASN1ConstrainedTag& r) { C(r, {0}).AddChild(false); }, SInvalidCertificateData},
        {"no subject",
         [](TElASN1ConstrainedTag& r) {
             auto& tbs = C(r, {0, 0});
             while (tbs.GetCount() > 5)
                 tbs.RemoveChild(tbs.GetCount() - 1);
         },
         SInvalidCertificateData},
        {"extensions without [3]", [](TElASN1ConstrainedTag& r) { Node(r, {0, 0, 7})->TagByte = 0x30; },
         SInvalidCertificateData},
        {"element after the extensions", [](TElASN1ConstrainedTag& r) { C(r, {0, 0}).AddChild(false); },
         SInvalidCertificateData},
        {"validity with one time", [](TElASN1ConstrainedTag& r) { C(r, {0, 0, 4}).RemoveChild(1); },
         SInvalidCertificateData},
        {"time as OCTET STRING", [](TElASN1ConstrainedTag& r) { Node(r, {0, 0, 4, 0})->TagByte = 0x04; },
         SInvalidCertificateData},
        {"UTCTime with a trailing digit",
         [](TElASN1ConstrainedTag& r) {
             auto& t = S(r, {0, 0, 4, 0});
             t.SetContent("2401010000001Z");
         },
         SInvalidCertificateData},
        {"February 30th", [](TElASN1ConstrainedTag& r) { S(r, {0, 0, 4, 0}).SetContent("240230000000Z"); },
         SInvalidCertificateData},
        {"key BIT STRING with unused bits",
         [](TElASN1ConstrainedTag& r) {
             auto& k = S(r, {0, 0, 6, 1});
             std::string c = k.GetContent();
             c[0] = 1;
             k.SetContent(c);
         },
         SInvalidCertificateData},
        {"RSA key of three INTEGERs", [](TElASN1ConstrainedTag& r) {
             auto& k = S(r, {0, 0, 6, 1});
             std::string c = k.GetContent();
             // 00 30 82 01 0A ... : append an INTEGER inside the SEQUENCE by rewriting it.
             TElASN1ConstrainedTag key;
             LoadTagTree(key, c.substr(1));
             WriteTagInteger(static_cast<TElASN1SimpleTag&>(*C(key, {0}).GetChild(C(key, {0}).AddChild(false))), 5);
             k.SetContent(std::string(1, '\0') + SaveTagToString(*key.GetChild(0)));
         },
         SInvalidCertificateData},
        {"RSA parameters of a SEQUENCE", [](TElASN1ConstrainedTag& r) { Node(r, {0, 1, 1})->TagByte = 0x30; },
         SInvalidAlgorithmIdentifier},
        {"signature OID as OCTET STRING", [](TElASN1ConstrainedTag& r) { Node(r, {0, 1, 0})->TagByte = 0x04; },
         SInvalidAlgorithmIdentifier},
        {"inner signature with three elements",
         [](TElASN1ConstrainedTag& r) {
             auto& alg = C(r, {0, 0, 2});
             alg.GetChild(alg.AddChild(false))->TagByte = 0x05;
         },
         SInvalidAlgorithmIdentifier},
        {"critical key usage that is no BIT STRING",
         [](TElASN1ConstrainedTag& r) {
             // The key usage: { OID, BOOLEAN, OCTET STRING { BIT STRING } }.
             auto& value = S(r, {0, 0, 7, 0, KeyUsageIndex(), 2});
             value.SetContent(H("04 02 00 84"));
         },
         SUnrecognizedCriticalExtension},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string der = EditDER(rsa_, c.edit);
        ASSERT_FALSE(der.empty());
        EXPECT_EQ(Refusal(der), c.message);
    }

    // A length that claims more than there is, and one that does not fit 64 bits.
    std::string huge = rsa_;
    huge.replace(1, 3, H("84 7F FF FF FF"));
    EXPECT_EQ(Refusal(huge), SInvalidCertificateData);
    huge = rsa_;
    huge.replace(1, 3, H("89 01 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(Refusal(huge), SInvalidCertificateData);
    EXPECT_EQ(Refusal(rsa_ + H("00")), SInvalidCertificateData);
    EXPECT_EQ(Refusal(""), SInvalidCertificateData);
}

TEST_F(X509Fixture, RulesOnEditedCertificates) {
    // Outer and inner algorithms differ: loads, but the pair does not match.
    auto mismatch = Load(EditDER(rsa_, [](TElASN1ConstrainedTag& r) {
        S(r, {0, 1, 0}).SetContent(SB_OID_SHA1_RSA);
    }));
    EXPECT_FALSE(mismatch->SignatureAlgorithmsMatch());
    EXPECT_EQ(mismatch->GetSignatureAlgorithm(), SB_CERT_ALG_SHA1_RSA);

    // A critical flag encoded 01 is critical; 00 is not.
    auto one = Load(EditDER(rsa_, [](TElASN1ConstrainedTag& r) {
        S(r, {0, 0, 7, 0, KeyUsageIndex(), 1}).SetContent(H("01"));
    }));
    EXPECT_TRUE(one->GetExtensions().KeyUsage.Critical);
    EXPECT_TRUE(one->GetExtensions().Met()[size_t(KeyUsageIndex())].Critical);

    // A serial whose first byte has the top bit set gets a zero in front; an empty one is 00.
    auto negative = Load(EditDER(rsa_, [](TElASN1ConstrainedTag& r) {
        S(r, {0, 0, 1}).SetContent(H("80 01"));
    }));
    EXPECT_EQ(Hex(negative->GetSerialNumber()), "008001");
    EXPECT_TRUE(negative->SerialPadded());
    EXPECT_EQ(Hex(negative->GetSerialNumberAsEncoded()), "8001");
    auto empty = Load(EditDER(rsa_, [](TElASN1ConstrainedTag& r) { S(r, {0, 0, 1}).SetContent(""); }));
    EXPECT_EQ(Hex(empty->GetSerialNumber()), "00");

    // Version 1: no [0] version, nothing after the key.
    auto v1 = Load(EditDER(rsa_, [](TElASN1ConstrainedTag& r) {
        C(r, {0, 0}).RemoveChild(7);
        C(r, {0, 0}).RemoveChild(0);
    }));
    EXPECT_EQ(v1->GetVersion(), 1);
    EXPECT_EQ(v1->GetExtensions().Included, 0u);
    EXPECT_EQ(Refusal(EditDER(rsa_, [](TElASN1ConstrainedTag& r) { C(r, {0, 0}).RemoveChild(0); })),
              SInvalidCertificateData);

    // An RSAES-OAEP key without parameters: the defaults.
    auto oaep = Load(EditDER(rsa_, [](TElASN1ConstrainedTag& r) {
        auto& alg = C(r, {0, 0, 6, 0});
        S(r, {0, 0, 6, 0, 0}).SetContent(SB_OID_RSAES_OAEP);
        alg.RemoveChild(1);
    }));
    EXPECT_EQ(oaep->GetPublicKeyAlgorithm(), SB_CERT_ALG_RSAES_OAEP);
    EXPECT_EQ(oaep->GetOAEPParams().HashAlgorithm, SB_ALG_SHA1);
    EXPECT_EQ(oaep->GetOAEPParams().MGF, SB_ALG_MGF1);
    EXPECT_EQ(oaep->GetOAEPParams().MGFHashAlgorithm, SB_ALG_SHA1);
    EXPECT_TRUE(oaep->GetOAEPParams().StrLabel.empty());
    EXPECT_EQ(oaep->GetKeyBits(), 2048);

    // A DSA key without domain parameters: no key algorithm, no key size.
    auto inherited = Load(EditDER(dsa_, [](TElASN1ConstrainedTag& r) {
        C(r, {0, 0, 6, 0}).RemoveChild(1);
    }));
    EXPECT_EQ(inherited->GetPublicKeyAlgorithm(), SB_CERT_ALG_NONE);
    EXPECT_EQ(inherited->GetKeyBits(), 0);

    // An unknown key algorithm loads with no parameters.
    auto unknown = Load(EditDER(rsa_, [](TElASN1ConstrainedTag& r) {
        S(r, {0, 0, 6, 0, 0}).SetContent(H("2B 65 70"));
    }));
    EXPECT_EQ(unknown->GetPublicKeyAlgorithm(), SB_CERT_ALG_NONE);
    EXPECT_EQ(unknown->GetTBSCertificate().SubjectPublicKeyInfo.Parameters, nullptr);
}

TEST_F(X509Fixture, LargeCertificatesLoadWhole) {
    // About 40 KB: far past the 32 KB the old buffer held.
    const fs::path& d = dir_->path();
    const std::string comment(40000, 'x');
    ASSERT_EQ(OpenSSL(d, "req -x509 -key rsa.key -outform DER -out big.der -days 1 -subj /CN=big "
                         "-addext 'nsComment=" + comment + "'"),
              0)
        << OpenSSLLog(d);
    const std::string big = kwtest::ReadFile(d / "big.der");
    ASSERT_GT(big.size(), 40000u);
    auto c = Load(big);
    EXPECT_EQ(c->GetDER(), big);
    EXPECT_EQ(c->GetExtensions().NetscapeComment.Content, comment);
    EXPECT_LT(c->GetTBSSize() + c->GetTBSOffset(), big.size());
}

TEST_F(X509Fixture, CopiesAndChains) {
    auto c = Load(rsa_);
    TElX509Certificate copy;
    c->CopyTo(&copy, false);
    EXPECT_EQ(copy.GetDER(), rsa_);
    EXPECT_TRUE(RDNsEqual(copy.GetSubjectRDN(), c->GetSubjectRDN()));
    TElX509Certificate empty, target;
    empty.CopyTo(&target, true);  // nothing to copy
    EXPECT_EQ(target.GetCertificateSize(), 0u);

    TElX509CertificateChain chain;
    EXPECT_FALSE(chain.Add(nullptr));
    EXPECT_TRUE(chain.Add(c.get()));
    // The next link must be the issuer of the last one: the DSA certificate is not.
    auto dsa = Load(dsa_);
    EXPECT_FALSE(chain.Add(dsa.get()));
    EXPECT_TRUE(chain.Add(c.get()));
    EXPECT_EQ(chain.AddCopy(dsa.get()), 2);
    EXPECT_EQ(chain.GetCount(), 3);
    EXPECT_EQ(chain.GetCertificate(0)->GetChain(), &chain);
    EXPECT_EQ(chain.GetCertificate(3), nullptr);
    EXPECT_EQ(chain.GetCertificate(-1), nullptr);
    EXPECT_EQ(c->GetChain(), nullptr);
}

}  // namespace
