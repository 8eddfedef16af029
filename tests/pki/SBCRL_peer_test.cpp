// Revocation lists made by `openssl ca -gencrl` at test time: entries with every reason,
// short, padded and long serials; revocation queries; and the hostile table on edited lists.
#include <gtest/gtest.h>

#include <openssl/x509.h>

#include <set>

#include "crypto/base/SBAlgorithmIdentifier.h"
#include "crypto/base/SBConstants.h"
#include "pki/SBCRL.h"
#include "tests/pki/PKITestSupport.h"

namespace {

using asn1test::H;
using asn1test::Hex;
using namespace pkitest;

// Serials (hex, as the CA database writes them) and the reason each is revoked for.
const struct {
    const char* serial;
    const char* reason;  // empty: no reason code
    int code;
} kRevoked[] = {
    {"01", "keyCompromise", 1},
    {"7F", "CACompromise", 2},
    {"80", "affiliationChanged", 3},  // encoded 00 80
    {"0102030405060708090A0B0C0D0E0F1011121314", "superseded", 4},
    {"05", "cessationOfOperation", 5},
    {"06", "certificateHold", 6},
    {"08", "removeFromCRL", 8},
    {"09", "", -1},
};

class CRLFixture : public OpenSSLSuite<CRLFixture> {
public:
    static bool Make(const fs::path& d) {
        kwtest::WriteFile(d / "ca.cnf", kCAConfig);
        kwtest::WriteFile(d / "crlnumber", "1000\n");
        std::string index;
        for (const auto& r : kRevoked) {
            index += std::string("R\t301231000000Z\t240101000000Z") + (*r.reason ? "," : "") + r.reason + "\t" +
                     r.serial + "\tunknown\t/CN=revoked\n";
        }
        kwtest::WriteFile(d / "index.txt", index);
        const bool ok =
            OpenSSL(d, "req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 -subj '/O=kw/CN=CRL CA'") ==
                0 &&
            OpenSSL(d, "ca -gencrl -config ca.cnf -keyfile ca.key -cert ca.pem -out crl.pem") == 0 &&
            OpenSSL(d, "crl -in crl.pem -outform DER -out crl.der") == 0 &&
            OpenSSL(d, "req -new -newkey rsa:2048 -nodes -keyout ee.key -out ee.csr -subj /CN=ee") == 0;
        if (ok) {
            crl_ = kwtest::ReadFile(d / "crl.der");
            crlPem_ = kwtest::ReadFile(d / "crl.pem");
        }
        return ok;
    }

protected:
    // A certificate of the CA with the given serial (openssl's -set_serial syntax).
    static std::unique_ptr<TElX509Certificate> Issued(const std::string& serial) {
        const fs::path& d = dir_->path();
        EXPECT_EQ(OpenSSL(d, "x509 -req -in ee.csr -CA ca.pem -CAkey ca.key -set_serial " + serial +
                                 " -days 1 -outform DER -out ee.der"),
                  0)
            << OpenSSLLog(d);
        const std::string der = kwtest::ReadFile(d / "ee.der");
        auto c = std::make_unique<TElX509Certificate>();
        c->LoadFromBuffer(der.data(), der.size());
        return c;
    }

    static inline std::string crl_, crlPem_;
};

TEST_F(CRLFixture, EntriesReasonsAndSerialsAsOpensslWroteThem) {
    TElCertificateRevocationList crl;
    ASSERT_EQ(crl.LoadFromBuffer(crl_.data(), crl_.size()), 0);
    EXPECT_EQ(crl.Version, 2);
    EXPECT_EQ(crl.SignatureAlgorithm, SB_CERT_ALG_SHA256_RSA);
    EXPECT_EQ(crl.Extensions.Included & (crlCRLNumber | crlAuthorityKeyIdentifier), crlCRLNumber | crlAuthorityKeyIdentifier);
    EXPECT_EQ(crl.Extensions.CRLNumber->Number, 0x1000u);
    EXPECT_NEAR(crl.NextUpdate - crl.ThisUpdate, 30.0, 1e-6);
    EXPECT_EQ(crl.GetSignedPart(), crl_.substr(4, crl.GetSignedPart().size()));
    ASSERT_EQ(crl.GetCount(), int(std::size(kRevoked)));

    const auto* p = reinterpret_cast<const unsigned char*>(crl_.data());
    std::unique_ptr<X509_CRL, decltype(&X509_CRL_free)> ref(d2i_X509_CRL(nullptr, &p, long(crl_.size())),
                                                            &X509_CRL_free);
    ASSERT_TRUE(ref);
    STACK_OF(X509_REVOKED)* revoked = X509_CRL_get_REVOKED(ref.get());
    for (int i = 0; i < crl.GetCount(); ++i) {
        const X509_REVOKED* rv = sk_X509_REVOKED_value(revoked, i);
        const ASN1_INTEGER* serial = X509_REVOKED_get0_serialNumber(rv);
        unsigned char* der = nullptr;
        const int n = i2d_ASN1_INTEGER(const_cast<ASN1_INTEGER*>(serial), &der);
        const std::string expect(reinterpret_cast<char*>(der), size_t(n));
        OPENSSL_free(der);
        const TElRevocationItem& item = *crl.GetItem(i);
        EXPECT_EQ(Hex(EncodeDERTLV(0x02, item.SerialNumber)), Hex(expect));
        int code = -1;
        for (const auto& r : kRevoked) {
            BIGNUM* bn = nullptr;
            BN_hex2bn(&bn, r.serial);
            ASN1_INTEGER* want = BN_to_ASN1_INTEGER(bn, nullptr);
            if (ASN1_INTEGER_cmp(want, serial) == 0) code = r.code;
            ASN1_INTEGER_free(want);
            BN_free(bn);
        }
        if (code < 0) {
            EXPECT_FALSE(item.Extensions.Included & crlReasonCode);
        } else {
            ASSERT_TRUE(item.Extensions.Included & crlReasonCode);
            EXPECT_EQ(item.Extensions.ReasonCode->Reason, code);
            EXPECT_EQ(item.Extensions.ReasonCode->RemoveFromCRL, code == 8);
            EXPECT_EQ(Hex(item.Extensions.ReasonCode->GetValue()), Hex(EncodeDERTLV(0x0A, std::string(1, char(code)))));
        }
    }
    // 0x80 is a positive serial, encoded 00 80; the long one keeps its 20 bytes.
    std::set<std::string> serials;
    for (int i = 0; i < crl.GetCount(); ++i)
        serials.insert(Hex(crl.GetItem(i)->SerialNumber));
    EXPECT_TRUE(serials.count("0080"));
    EXPECT_TRUE(serials.count("0102030405060708090A0B0C0D0E0F1011121314"));
}

TEST_F(CRLFixture, RevocationQueries) {
    TElCertificateRevocationList crl;
    ASSERT_EQ(crl.LoadFromBuffer(crl_.data(), crl_.size()), 0);
    EXPECT_TRUE(crl.IsRevoked(Issued("0x01").get()));
    EXPECT_TRUE(crl.IsRevoked(Issued("0x80").get()));
    EXPECT_TRUE(crl.IsRevoked(Issued("0x0102030405060708090A0B0C0D0E0F1011121314").get()));
    EXPECT_TRUE(crl.IsRevoked(Issued("0x09").get()));
    EXPECT_FALSE(crl.IsRevoked(Issued("0x02").get()));
    // A removeFromCRL entry revokes nothing.
    EXPECT_FALSE(crl.IsRevoked(Issued("0x08").get()));
    EXPECT_FALSE(crl.IsRevoked(nullptr));

    // Serials compare as encoded: a negative serial 80 01 matches an entry 80 01, and the
    // positive 00 80 01 does not.
    const std::string negativeList = EditDER(crl_, [](TElASN1ConstrainedTag& r) {
        S(r, {0, 0, 5, 0, 0}).SetContent(H("80 01"));
    });
    TElCertificateRevocationList negative;
    ASSERT_EQ(negative.LoadFromBuffer(negativeList.data(), negativeList.size()), 0);
    auto positive = Issued("0x8001");
    EXPECT_EQ(Hex(positive->GetSerialNumberAsEncoded()), "008001");
    EXPECT_FALSE(negative.IsRevoked(positive.get()));
    TElX509Certificate minus;
    const std::string minusDer = EditDER(std::string(positive->GetDER()), [](TElASN1ConstrainedTag& r) {
        // x509 -req writes a version 1 certificate: the serial comes first.
        const int at = Node(r, {0, 0, 0})->TagByte == 0xA0 ? 1 : 0;
        S(r, {0, 0, at}).SetContent(H("80 01"));
    });
    minus.LoadFromBuffer(minusDer.data(), minusDer.size());
    EXPECT_TRUE(minus.SerialPadded());
    EXPECT_EQ(negative.IndexOf(&minus), 0);

    // The issuer match runs both ways, without regard to letter case.
    TElRelativeDistinguishedName name;
    name.Add(SB_OID_X520_ORGANIZATION, "KW", 0x0C);
    name.Add(SB_OID_X520_COMMON_NAME, "crl ca", 0x0C);
    EXPECT_TRUE(crl.IssuerMatches(name));
    name.Add(SB_OID_X520_COUNTRY, "BR", 0x13);
    EXPECT_FALSE(crl.IssuerMatches(name));
    TElRelativeDistinguishedName cnOnly;
    cnOnly.Add(SB_OID_X520_COMMON_NAME, "CRL CA", 0x0C);
    EXPECT_FALSE(crl.IssuerMatches(cnOnly));
    TElCertificateRevocationList empty;
    EXPECT_FALSE(empty.IssuerMatches(cnOnly));
}

TEST_F(CRLFixture, TextFormsAndBuffers) {
    TElCertificateRevocationList crl;
    size_t size = 0;
    EXPECT_EQ(crl.SaveToBuffer(nullptr, size), SB_CRL_ERROR_NOTHING_LOADED);
    EXPECT_EQ(crl.LoadFromBuffer(crlPem_.data(), crlPem_.size()), SB_CRL_ERROR_INVALID_FORMAT);
    std::string b64(crl_.size() * 2, '\0');
    size_t n = b64.size();
    ASSERT_TRUE(EncodeBase64(crl_.data(), crl_.size(), b64.data(), true, n));
    b64.resize(n);
    ASSERT_EQ(crl.LoadFromBuffer(b64.data(), b64.size()), 0);
    std::string wide;
    for (char c : b64) {
        wide += c;
        wide += '\0';
    }
    TElCertificateRevocationList fromWide;
    ASSERT_EQ(fromWide.LoadFromBuffer(wide.data(), wide.size()), 0);
    EXPECT_EQ(fromWide.GetEncodedList(), crl_);

    size = crl_.size() - 1;
    std::string out(crl_.size(), '\0');
    EXPECT_EQ(crl.SaveToBuffer(out.data(), size), SB_CRL_ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, crl_.size());
    EXPECT_EQ(crl.SaveToBuffer(out.data(), size), 0);
    EXPECT_EQ(out, crl_);

    TElCertificateRevocationList copy;
    copy.Assign(&crl);
    EXPECT_EQ(copy.GetCount(), crl.GetCount());
    TElCertificateRevocationList nothing;
    EXPECT_THROW(copy.Assign(&nothing), ECryptoLibraryError);
    EXPECT_THROW(copy.Assign(nullptr), ECryptoLibraryError);
    crl.ClearEntries();
    EXPECT_EQ(crl.GetCount(), 0);
    EXPECT_EQ(crl.SaveToBuffer(out.data(), size), SB_CRL_ERROR_NOTHING_LOADED);
}

TEST_F(CRLFixture, HostileLists) {
    for (size_t len = 0; len < crl_.size(); len += (len < 64 ? 1 : 5)) {
        SCOPED_TRACE(len);
        TElCertificateRevocationList crl;
        EXPECT_NE(crl.LoadFromBuffer(crl_.data(), len), 0);
    }
    // {0,0} is the TBSCertList: version, signature, issuer, thisUpdate, nextUpdate, entries, [0].
    struct Case {
        const char* what;
        std::function<void(TElASN1ConstrainedTag&)> edit;
        int32_t code;
    } cases[] = {
        {"outer algorithm differs",
         [](TElASN1ConstrainedTag& r) { S(r, {0, 1, 0}).SetContent(SB_OID_SHA1_RSA); },
         SB_CRL_ERROR_BAD_SIGNATURE_ALGORITHM},
        {"version 1 with extensions", [](TElASN1ConstrainedTag& r) { C(r, {0, 0}).RemoveChild(0); },
         SB_CRL_ERROR_INVALID_VERSION},
        {"version 3", [](TElASN1ConstrainedTag& r) { S(r, {0, 0, 0}).SetContent(H("03")); }, SB_CRL_ERROR_INVALID_FORMAT},
        {"a primitive of another type after thisUpdate",
         [](TElASN1ConstrainedTag& r) { Node(r, {0, 0, 4})->TagByte = 0x04; }, SB_CRL_ERROR_INVALID_FORMAT},
        {"an element after the extensions",
         [](TElASN1ConstrainedTag& r) { C(r, {0, 0}).GetChild(C(r, {0, 0}).AddChild(false))->TagByte = 0x05; },
         SB_CRL_ERROR_INVALID_FORMAT},
        {"entry without a date", [](TElASN1ConstrainedTag& r) { C(r, {0, 0, 5, 0}).RemoveChild(1); },
         SB_CRL_ERROR_INVALID_FORMAT},
        {"entry serial as OCTET STRING", [](TElASN1ConstrainedTag& r) { Node(r, {0, 0, 5, 1, 0})->TagByte = 0x04; },
         SB_CRL_ERROR_INVALID_FORMAT},
        {"signature as OCTET STRING", [](TElASN1ConstrainedTag& r) { Node(r, {0, 2})->TagByte = 0x04; },
         SB_CRL_ERROR_INVALID_FORMAT},
        {"signature algorithm OID as NULL", [](TElASN1ConstrainedTag& r) { Node(r, {0, 1, 0})->TagByte = 0x05; },
         SB_PKCS7_ERROR_INVALID_ALGORITHM_IDENTIFIER},
        {"thisUpdate that is no time", [](TElASN1ConstrainedTag& r) { S(r, {0, 0, 3}).SetContent("2401011200"); },
         SB_CRL_ERROR_INVALID_FORMAT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string der = EditDER(crl_, c.edit);
        TElCertificateRevocationList crl;
        EXPECT_EQ(crl.LoadFromBuffer(der.data(), der.size()), c.code);
        EXPECT_EQ(crl.SaveToBuffer(nullptr, *std::make_unique<size_t>(0)), SB_CRL_ERROR_NOTHING_LOADED);
    }

    // Without nextUpdate the entries still load, with next update 0.
    const std::string noNext = EditDER(crl_, [](TElASN1ConstrainedTag& r) { C(r, {0, 0}).RemoveChild(4); });
    TElCertificateRevocationList crl;
    ASSERT_EQ(crl.LoadFromBuffer(noNext.data(), noNext.size()), 0);
    EXPECT_EQ(crl.NextUpdate, 0.0);
    EXPECT_EQ(crl.GetCount(), int(std::size(kRevoked)));

    // A CRL number longer than 32 bits is not taken; the value is written back as it came.
    const ByteString longNumber = EncodeDERTLV(0x02, H("01 00 00 00 00"));
    const std::string big = EditDER(crl_, [&](TElASN1ConstrainedTag& r) {
        auto& exts = C(r, {0, 0, 6, 0});
        for (int i = 0; i < exts.GetCount(); ++i)
            if (S(r, {0, 0, 6, 0, i, 0}).GetContent() == H("55 1D 14")) S(r, {0, 0, 6, 0, i, 1}).SetContent(longNumber);
    });
    ASSERT_EQ(crl.LoadFromBuffer(big.data(), big.size()), 0);
    EXPECT_EQ(crl.Extensions.CRLNumber->Number, 0u);
    EXPECT_EQ(Hex(crl.Extensions.CRLNumber->GetValue()), Hex(longNumber));
    // A length byte that claims more than the value holds is not believed.
    TElCRLNumberCRLExtension number;
    number.SetValue(H("02 04 01"));
    EXPECT_EQ(number.Number, 0u);
    number.SetValue(H("02 02 01 00"));
    EXPECT_EQ(number.Number, 256u);
}

}  // namespace
