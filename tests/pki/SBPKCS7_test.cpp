// PKCS#7 messages built by hand: the codes every reader answers for structures out of the
// grammar (a table per content type), the rules the readers and writers keep (segmented
// contents joined, parameters kept or written as NULL, indefinite or definite length, which
// element holds the signers, attribute bytes), and round trips of every content type.
#include "pki/SBPKCS7.h"

#include <gtest/gtest.h>

#include "PKCS7TestSupport.h"
#include "PKITestSupport.h"
#include "crypto/base/SBConstants.h"

using namespace p7test;
using asn1test::Hex;

namespace {

int32_t Load(TElPKCS7Message& m, const std::string& der) {
    return m.LoadFromBuffer(der.data(), der.size());
}

std::string Cert() {
    return kwtest::ReadFile(pkitest::VectorsX509() / "PKITS_data/certs/TrustAnchorRootCertificate.crt");
}

// SignerInfo v1 with the given attributes (empty: none).
std::string Signer(const std::string& digestHex = kSHA256, const std::string& authAttrs = {},
                   const std::string& unauthAttrs = {}, const std::string& version = "01") {
    std::string body = Int(version) + IssuerSerial() + AlgId(digestHex);
    if (!authAttrs.empty()) body += authAttrs;
    body += AlgId(kRSA) + Octets("SIG");
    if (!unauthAttrs.empty()) body += unauthAttrs;
    return P(0x30, body).replace(0, 1, "\x30");
}

std::string SignedData(const std::string& version, const std::string& middle, const std::string& signers,
                       const std::string& encap = Seq({Oid(kData)})) {
    const std::string body = Int(version) + C(0x31, {AlgId(kSHA256)}) + encap + middle + signers;
    return Info(kSignedData, std::string(1, '\x30') + EncodeDERLength(body.size()) + body);
}

}  // namespace

TEST(SBPKCS7, ContentInfoAndDataCodes) {
    const struct {
        const char* name;
        std::string der;
        int32_t code;
    } cases[] = {
        {"not ASN.1", H("3005 0603"), 0x1E01},
        {"empty", "", 0x1E01},
        {"top primitive", P(0x04, "x"), 0x1E03},
        {"no OID first", Seq({P(0x05), C(0xA0, {Octets("x")})}), 0x1E03},
        {"wrapper primitive", Seq({Oid(kData), P(0x80, "x")}), 0x1E03},
        {"wrapper empty", Seq({Oid(kData), C(0xA0, {})}), 0x1E03},
        {"unknown type", Info("2A864886F70D010708", Octets("x")), 0x1E04},
        {"data not an OCTET STRING", Info(kData, P(0x0C, "x")), 0x1E05},
        {"data segment constructed", Info(kData, C(0x24, {C(0x24, {Octets("x")})})), 0x1E05},
        {"signed data without content", Seq({Oid(kSignedData)}), 0x1E0F},
        {"enveloped data without content", Seq({Oid(kEnvelopedData)}), 0x1E06},
        {"signed-and-enveloped without content", Seq({Oid(kSignedAndEnvelopedData)}), 0x1E1A},
        {"digested without content", Seq({Oid(kDigestedData)}), 0x1E16},
        {"encrypted without content", Seq({Oid(kEncryptedData)}), 0x1E18},
        {"authenticated without content", Seq({Oid(kAuthData)}), 0x1E18},
        {"data only an OID", Seq({Oid(kData)}), 0},
        {"data, other context tag", Seq({Oid(kData), C(0xA3, {Octets("x")})}), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TElPKCS7Message m;
        EXPECT_EQ(Load(m, c.der), c.code);
    }
}

TEST(SBPKCS7, DataContents) {
    TElPKCS7Message m;
    // Three segments joined; bytes after the element ignored.
    EXPECT_EQ(Load(m, Info(kData, C(0x24, {Octets("ab"), Octets(""), Octets("cde")})) + "trailing"), 0);
    EXPECT_EQ(m.Data, "abcde");
    EXPECT_EQ(m.ContentType, ctData);
    EXPECT_EQ(Load(m, Seq({Oid(kData)})), 0);
    EXPECT_EQ(m.Data, "");
    // Written in indefinite form by default, DER on request.
    m.Data = "hello";
    EXPECT_EQ(SaveMessage(m), CI(0x30, {Oid(kData), CI(0xA0, {Octets("hello")})}));
    EXPECT_EQ(Hex(SaveMessage(m).substr(0, 4)), "30800609");
    m.IndefiniteLength = false;
    EXPECT_EQ(SaveMessage(m), Info(kData, Octets("hello")));
    m.Data.clear();
    EXPECT_EQ(SaveMessage(m), Info(kData, Octets("")));
    // The content alone, read as the type set beforehand.
    TElPKCS7Message bare;
    bare.NoContentInfo = true;
    bare.ContentType = ctData;
    EXPECT_EQ(Load(bare, Octets("raw")), 0);
    EXPECT_EQ(bare.Data, "raw");
    bare.ContentType = 7;
    EXPECT_EQ(Load(bare, Octets("raw")), 0x1E04);
}

TEST(SBPKCS7, ReadContentInfoSizeProtocol) {
    TElASN1ConstrainedTag root;
    ASSERT_TRUE(LoadTagTree(root, Info(kData, C(0x24, {Octets("12"), Octets("345")}))));
    size_t size = 0;
    ByteString type;
    EXPECT_FALSE(ReadContentInfo(*root.GetChild(0), nullptr, size, type));
    EXPECT_EQ(size, 5u);
    std::string out(size, '\0');
    EXPECT_TRUE(ReadContentInfo(*root.GetChild(0), out.data(), size, type));
    EXPECT_EQ(out, "12345");
    EXPECT_EQ(Hex(type), kData);
    // Another constructed content comes whole.
    ASSERT_TRUE(LoadTagTree(root, Info(kData, Seq({Int("05")}))));
    size = 0;
    ReadContentInfo(*root.GetChild(0), nullptr, size, type);
    out.assign(size, '\0');
    EXPECT_TRUE(ReadContentInfo(*root.GetChild(0), out.data(), size, type));
    EXPECT_EQ(out, Seq({Int("05")}));
    // Only the OID: no content, true at once.
    ASSERT_TRUE(LoadTagTree(root, Seq({Oid(kData)})));
    size = 0;
    EXPECT_TRUE(ReadContentInfo(*root.GetChild(0), nullptr, size, type));
    EXPECT_EQ(size, 0u);
}

// The string form gives the same octets in one pass, and nothing for a malformed frame.
TEST(SBPKCS7, ReadContentInfoIntoString) {
    const struct {
        const char* name;
        std::string der;
        bool ok;
        std::string content;
    } cases[] = {
        {"segmented OCTET STRING", Info(kData, C(0x24, {Octets("12"), Octets("345")})), true, "12345"},
        {"another constructed content", Info(kData, Seq({Int("05")})), true, Seq({Int("05")})},
        {"only the OID", Seq({Oid(kData)}), true, ""},
        {"a segment itself constructed", Info(kData, C(0x24, {C(0x24, {Octets("1")})})), false, ""},
        {"no OID", Seq({Octets("x")}), false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TElASN1ConstrainedTag root;
        ASSERT_TRUE(LoadTagTree(root, c.der));
        ByteString content = "stale", type;
        EXPECT_EQ(ReadContentInfo(*root.GetChild(0), content, type), c.ok);
        EXPECT_EQ(content, c.content);
        if (c.ok) {
            EXPECT_EQ(Hex(type), kData);
        }
    }
}

TEST(SBPKCS7, DigestedData) {
    const std::string inner = Seq({Oid(kData), C(0xA0, {Octets("content")})});
    const struct {
        const char* name;
        std::string content;
        int32_t code;
    } cases[] = {
        {"good", Seq({Int("00"), AlgId(kSHA1), inner, Octets("DIGEST")}), 0},
        {"three elements", Seq({Int("00"), AlgId(kSHA1), inner}), 0x1E16},
        {"version 1", Seq({Int("01"), AlgId(kSHA1), inner, Octets("D")}), 0x1E17},
        {"version 00 00", Seq({Int("0000"), AlgId(kSHA1), inner, Octets("D")}), 0x1E17},
        {"version not INTEGER", Seq({Octets("0"), AlgId(kSHA1), inner, Octets("D")}), 0x1E16},
        {"content primitive", Seq({Int("00"), AlgId(kSHA1), Octets("x"), Octets("D")}), 0x1E16},
        {"digest constructed", Seq({Int("00"), AlgId(kSHA1), inner, C(0x24, {Octets("D")})}), 0x1E16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TElPKCS7Message m;
        EXPECT_EQ(Load(m, Info(kDigestedData, c.content)), c.code);
    }
    TElPKCS7Message m;
    const std::string der = Info(kDigestedData, Seq({Int("00"), AlgId(kSHA1), inner, Octets("DIGEST")}));
    ASSERT_EQ(Load(m, der), 0);
    EXPECT_EQ(m.GetDigestedData().Content, "content");
    EXPECT_EQ(m.GetDigestedData().Digest, "DIGEST");
    EXPECT_EQ(m.GetDigestedData().DigestAlgorithmParams, H("0500"));
    m.IndefiniteLength = false;
    EXPECT_EQ(SaveMessage(m), der);
}

TEST(SBPKCS7, EncryptedData) {
    const std::string eci =
        Seq({Oid(kData), AlgId("2A864886F70D0307", Octets("IV345678")), P(0x80, "CIPHER")});
    const struct {
        const char* name;
        std::string content;
        int32_t code;
    } cases[] = {
        {"good", Seq({Int("00"), eci}), 0},
        {"version 1", Seq({Int("01"), eci}), 0x1E19},
        {"three elements", Seq({Int("00"), eci, Int("00")}), 0x1E18},
        {"info primitive", Seq({Int("00"), Octets("x")}), 0x1E18},
        {"info of two elements", Seq({Int("00"), Seq({Oid(kData), AlgId(kSHA1)})}), 0x1E08},
        {"info type not an OID", Seq({Int("00"), Seq({Octets(""), AlgId(kSHA1), P(0x80, "x")})}), 0x1E08},
        {"algorithm of three elements",
         Seq({Int("00"), Seq({Oid(kData), Seq({Oid(kSHA1), P(0x05), P(0x05)}), P(0x80, "x")})}), 0x1E0E},
        {"algorithm without OID", Seq({Int("00"), Seq({Oid(kData), Seq({P(0x05)}), P(0x80, "x")})}), 0x1E0E},
        {"content of another tag", Seq({Int("00"), Seq({Oid(kData), AlgId(kSHA1), Octets("x")})}), 0x1E08},
        {"segment of another kind",
         Seq({Int("00"), Seq({Oid(kData), AlgId(kSHA1), C(0xA0, {P(0x0C, "x")})})}), 0x1E08},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TElPKCS7Message m;
        EXPECT_EQ(Load(m, Info(kEncryptedData, c.content)), c.code);
    }
    // A primitive [0] reads as one part and is written back as [0] { OCTET STRING }.
    TElPKCS7Message m;
    ASSERT_EQ(Load(m, Info(kEncryptedData, Seq({Int("00"), eci}))), 0);
    TElPKCS7EncryptedContent& ec = m.GetEncryptedData().EncryptedContent;
    EXPECT_EQ(ec.PartCount(), 1);
    EXPECT_EQ(ec.GetEncryptedContent(), "CIPHER");
    EXPECT_EQ(ec.ContentEncryptionAlgorithmParams, Octets("IV345678"));
    m.IndefiniteLength = false;
    const std::string written =
        Info(kEncryptedData, Seq({Int("00"), Seq({Oid(kData), AlgId("2A864886F70D0307", Octets("IV345678")),
                                                  C(0xA0, {Octets("CIPHER")})})}));
    EXPECT_EQ(SaveMessage(m), written);
    ec.ImplicitEncryptedContent = true;
    EXPECT_EQ(SaveMessage(m), Info(kEncryptedData, Seq({Int("00"), eci})));
    // Three segments read in order and written as one OCTET STRING.
    const std::string three =
        Seq({Int("00"), Seq({Oid(kData), AlgId(kSHA1), C(0xA0, {Octets("A"), Octets("BC"), Octets("D")})})});
    ASSERT_EQ(Load(m, Info(kEncryptedData, three)), 0);
    EXPECT_EQ(ec.PartCount(), 3);
    ec.ImplicitEncryptedContent = false;
    EXPECT_EQ(
        SaveMessage(m),
        Info(kEncryptedData, Seq({Int("00"), Seq({Oid(kData), AlgId(kSHA1), C(0xA0, {Octets("ABCD")})})})));
    // Absent parameters are written as NULL; indefinite form by default.
    ec.ContentEncryptionAlgorithmParams.clear();
    ec.SetEncryptedContent("Z");
    m.IndefiniteLength = true;
    EXPECT_EQ(SaveMessage(m),
              CI(0x30, {Oid(kEncryptedData),
                        CI(0xA0, {CI(0x30, {Int("00"), CI(0x30, {Oid(kData), AlgId(kSHA1),
                                                                 CI(0xA0, {Octets("Z")})})})})}));
}

TEST(SBPKCS7, SignedDataCodesAndSignerPlaces) {
    PKI_REQUIRE_DIR(pkitest::VectorsX509());
    const std::string cert = Cert();
    const std::string signers = C(0x31, {Signer()});
    const struct {
        const char* name;
        std::string der;
        int32_t code;
        int certificates;
    } cases[] = {
        {"no certificates: element 4", SignedData("01", "", signers), 0, 0},
        {"certificates: element 5", SignedData("01", C(0xA0, {cert}), signers), 0, 1},
        {"certificates and CRLs: element 6",
         SignedData("01", C(0xA0, {cert, cert}) + C(0xA1, {Seq({})}), signers), 0, 2},
        {"CRLs only", SignedData("01", C(0xA1, {Seq({})}), signers), 0, 0},
        {"version 00 03", SignedData("0003", "", signers), 0, 0},
        {"version 0", SignedData("00", "", signers), 0x1E10, 0},
        {"version 4", SignedData("04", "", signers), 0x1E10, 0},
        {"signers not a SET", SignedData("01", "", Seq({Signer()})), 0x1E0F, 0},
        {"a certificate that does not load", SignedData("01", C(0xA0, {Seq({Int("01")})}), signers), 0x1E0F,
         0},
        {"digest algorithms not a SET",
         Info(kSignedData, Seq({Int("01"), Seq({}), Seq({Oid(kData)}), signers})), 0x1E0F, 0},
        {"three elements", Info(kSignedData, Seq({Int("01"), C(0x31, {}), Seq({Oid(kData)})})), 0x1E0F, 0},
        {"encapsulated content malformed", SignedData("01", "", signers, Seq({Octets("x")})), 0x1E0F, 0},
        {"signer version 3", SignedData("01", "", C(0x31, {Signer(kSHA256, {}, {}, "03")})), 0x1E12, 0},
        {"signer of four elements",
         SignedData("01", "", C(0x31, {Seq({Int("01"), IssuerSerial(), AlgId(kSHA1), AlgId(kRSA)})})), 0x1E13,
         0},
        {"signature constructed",
         SignedData(
             "01", "",
             C(0x31, {Seq({Int("01"), IssuerSerial(), AlgId(kSHA1), AlgId(kRSA), C(0x24, {Octets("S")})})})),
         0x1E13, 0},
        {"issuer without serial",
         SignedData("01", "",
                    C(0x31, {Seq({Int("01"), Seq({Seq({})}), AlgId(kSHA1), AlgId(kRSA), Octets("S")})})),
         0x1E0D, 0},
        {"issuer name entry of three",
         SignedData(
             "01", "",
             C(0x31,
               {Seq({Int("01"),
                     Seq({Seq({C(0x31, {Seq({Oid("550403"), P(0x13, "a"), P(0x13, "b")})})}), Int("01")}),
                     AlgId(kSHA1), AlgId(kRSA), Octets("S")})})),
         0x1E0D, 0},
        {"attribute with only an OID",
         SignedData("01", "", C(0x31, {Signer(kSHA256, C(0xA0, {Seq({Oid("2A864886F70D010903")})}))})),
         0x1E15, 0},
        {"unauthenticated attribute values not a SET",
         SignedData("01", "",
                    C(0x31, {Signer(kSHA256, {}, C(0xA1, {Seq({Oid("2A864886F70D010903"), Seq({})})}))})),
         0x1E15, 0},
        {"digest algorithm of three", SignedData("01", "", C(0x31, {Signer("2B0E03021A 0500 0500")})), 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TElPKCS7Message m;
        EXPECT_EQ(Load(m, c.der), c.code);
        if (c.code == 0) {
            EXPECT_EQ(m.GetSignedData().SignerCount(), 1);
            EXPECT_EQ(m.GetSignedData().Certificates.GetCount(), c.certificates);
        }
    }
    TElPKCS7Message m;
    ASSERT_EQ(Load(m, SignedData("0003", "", signers)), 0);
    EXPECT_EQ(m.GetSignedData().Version, 3);
}

TEST(SBPKCS7, SignedDataKeepsWhatSignaturesCover) {
    PKI_REQUIRE_DIR(pkitest::VectorsX509());
    const std::string cert = Cert();
    // Attributes in an order DER would sort differently, values B before A.
    const std::string auth =
        C(0xA0, {Seq({Oid("2A864886F70D010904"), C(0x31, {Octets("digest")})}),
                 Seq({Oid("2A864886F70D010903"), C(0x31, {Oid(kData)})}),
                 Seq({Oid("2A864886F70D01090F"), C(0x31, {P(0x0C, "B"), P(0x0C, "A")})})});
    const std::string unauth = C(0xA1, {Seq({Oid("2A864886F70D010906"), C(0x31, {})})});
    const std::string der = SignedData("01", C(0xA0, {cert}),
                                       C(0x31, {Signer(kSHA1, auth, unauth), Signer(kSHA256), Signer(kSHA1)}),
                                       Seq({Oid(kData), C(0xA0, {Octets("signed text")})}));
    TElPKCS7Message m;
    ASSERT_EQ(Load(m, der), 0);
    TElPKCS7SignedData& sd = m.GetSignedData();
    ASSERT_EQ(sd.SignerCount(), 3);
    TElPKCS7Signer& s = *sd.GetSigner(0);
    EXPECT_EQ(s.AuthenticatedAttributes.GetCount(), 3);
    EXPECT_EQ(s.UnauthenticatedAttributes.GetCount(), 1);
    EXPECT_EQ(s.AuthenticatedAttributesPlain, "\x31" + auth.substr(1));
    EXPECT_EQ((*s.AuthenticatedAttributes.GetValues(2))[0], P(0x0C, "B"));
    EXPECT_EQ(s.DigestAlgorithmParams, P(0x05));
    EXPECT_EQ(s.EncryptedDigest, "SIG");
    EXPECT_EQ(s.Issuer.SerialNumber, H("0A"));
    EXPECT_EQ(Hex(s.Issuer.Issuer.GetOID(0)), "550403");
    EXPECT_EQ(s.Issuer.Issuer.GetValue(0), "Issuer");
    EXPECT_EQ(s.Issuer.Issuer.GetTag(0), 0x13);
    EXPECT_EQ(s.EncodedValue, Signer(kSHA1, auth, unauth));
    EXPECT_EQ(sd.GetContent(), "signed text");
    // Written back in DER it is the same message, except that the digestAlgorithms SET now
    // names each signer's digest once, in order of first use.
    m.IndefiniteLength = false;
    const std::string expected =
        Info(kSignedData, Seq({Int("01"), C(0x31, {AlgId(kSHA1), AlgId(kSHA256)}),
                               Seq({Oid(kData), C(0xA0, {Octets("signed text")})}), C(0xA0, {cert}),
                               C(0x31, {Signer(kSHA1, auth, unauth), Signer(kSHA256), Signer(kSHA1)})}));
    EXPECT_EQ(SaveMessage(m), expected);
    // Digest parameters read are written as NULL.
    s.DigestAlgorithmParams = P(0x04, "x");
    EXPECT_EQ(SaveMessage(m), expected);
    // A raw content is written as [0] with the part's bytes.
    m.RawSignedContent = true;
    sd.ClearContentParts();
    sd.AddContentPart(Octets("raw"));
    EXPECT_NE(SaveMessage(m).find(C(0xA0, {Octets("raw")})), std::string::npos);
}

TEST(SBPKCS7, DetachedSignatureAndNameValues) {
    // A constructed attribute value keeps its whole encoding, with tag 4.
    const std::string constructedValue = Seq({P(0x13, "in")});
    const std::string issuer =
        Seq({Seq({C(0x31, {Seq({Oid("550403"), P(0x13, "A")}), Seq({Oid("55040A"), constructedValue})}),
                  C(0x31, {Seq({Oid("550406"), P(0x13, "BR")})})}),
             Int("00FF")});
    const std::string signer = Seq({Int("01"), issuer, AlgId(kSHA1), AlgId(kRSA), Octets("S")});
    TElPKCS7Message m;
    ASSERT_EQ(Load(m, SignedData("01", "", C(0x31, {signer}))), 0);
    TElPKCS7SignedData& sd = m.GetSignedData();
    EXPECT_EQ(sd.ContentPartCount(), 0);
    const TElRelativeDistinguishedName& name = sd.GetSigner(0)->Issuer.Issuer;
    ASSERT_EQ(name.GetCount(), 3);
    EXPECT_EQ(name.GetValue(1), constructedValue);
    EXPECT_EQ(name.GetTag(1), 0x04);
    EXPECT_EQ(name.GetGroup(0), 0);
    EXPECT_EQ(name.GetGroup(1), 0);
    EXPECT_EQ(name.GetGroup(2), 1);
    EXPECT_EQ(sd.GetSigner(0)->Issuer.SerialNumber, H("00FF"));
    // Written again: no [0], and the encapsulated SEQUENCE in the message's form.
    const std::string il = SaveMessage(m);
    EXPECT_NE(il.find(CI(0x30, {Oid(kData)})), std::string::npos);
    m.IndefiniteLength = false;
    const std::string der = SaveMessage(m);
    EXPECT_NE(der.find(Seq({Oid(kData)})), std::string::npos);
    EXPECT_EQ(der.find(std::string("\xA0", 1) + "\x80"), std::string::npos);
    // Both forms read back to the same signer.
    for (const std::string& form : {il, der}) {
        TElPKCS7Message again;
        ASSERT_EQ(Load(again, form), 0);
        EXPECT_EQ(again.GetSignedData().GetSigner(0)->EncryptedDigest, "S");
        EXPECT_EQ(again.GetSignedData().GetSigner(0)->Issuer.Issuer.GetCount(), 3);
    }
}

TEST(SBPKCS7, EnvelopedAndRecipientCodes) {
    const std::string eci = Seq({Oid(kData), AlgId("2A864886F70D0307", Octets("IV345678")), P(0x80, "C")});
    auto recipient = [](const std::string& version) {
        return Seq({Int(version), IssuerSerial(), AlgId(kRSA), Octets("KEY")});
    };
    const struct {
        const char* name;
        std::string content;
        int32_t code;
    } cases[] = {
        {"good", Seq({Int("00"), C(0x31, {recipient("00"), recipient("00")}), eci}), 0},
        {"version 00 00 (last byte)", Seq({Int("0000"), C(0x31, {recipient("00")}), eci}), 0},
        {"with originatorInfo", Seq({Int("00"), C(0xA0, {}), C(0x31, {recipient("00")}), eci}), 0x1E06},
        {"version 2", Seq({Int("02"), C(0x31, {recipient("00")}), eci}), 0x1E07},
        // Only the last byte counts (the tag tree reads an INTEGER without bytes as 00 too).
        {"version 01 00", Seq({Int("0100"), C(0x31, {recipient("00")}), eci}), 0},
        {"recipients not a SET", Seq({Int("00"), Seq({recipient("00")}), eci}), 0x1E09},
        {"recipient version 2", Seq({Int("00"), C(0x31, {recipient("02")}), eci}), 0x1E0B},
        {"recipient version 00 02", Seq({Int("00"), C(0x31, {recipient("0002")}), eci}), 0x1E0B},
        {"key agreement recipient", Seq({Int("00"), C(0x31, {C(0xA1, {Int("03")})}), eci}), 0x1E0A},
        {"recipient of three",
         Seq({Int("00"), C(0x31, {Seq({Int("00"), IssuerSerial(), AlgId(kRSA)})}), eci}), 0x1E0A},
        {"encrypted key constructed",
         Seq({Int("00"), C(0x31, {Seq({Int("00"), IssuerSerial(), AlgId(kRSA), C(0x24, {Octets("K")})})}),
              eci}),
         0x1E0C},
        {"content info primitive", Seq({Int("00"), C(0x31, {recipient("00")}), Octets("x")}), 0x1E06},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TElPKCS7Message m;
        EXPECT_EQ(Load(m, Info(kEnvelopedData, c.content)), c.code);
    }
    TElPKCS7Message m;
    const std::string der =
        Info(kEnvelopedData, Seq({Int("00"), C(0x31, {recipient("00"), recipient("00")}), eci}));
    ASSERT_EQ(Load(m, der), 0);
    ASSERT_EQ(m.GetEnvelopedData().Recipients.Count(), 2);
    EXPECT_EQ(m.GetEnvelopedData().Recipients.GetItem(1)->EncryptedKey, "KEY");
    // Loading again does not keep the first message's recipients.
    ASSERT_EQ(Load(m, der), 0);
    EXPECT_EQ(m.GetEnvelopedData().Recipients.Count(), 2);
    m.IndefiniteLength = false;
    m.GetEnvelopedData().EncryptedContent.ImplicitEncryptedContent = true;
    EXPECT_EQ(SaveMessage(m), der);
}

TEST(SBPKCS7, SignedAndEnvelopedData) {
    PKI_REQUIRE_DIR(pkitest::VectorsX509());
    const std::string cert = Cert();
    const std::string eci = Seq({Oid(kData), AlgId("2A864886F70D0307", Octets("IV345678")), P(0x80, "C")});
    const std::string recipients = C(0x31, {Seq({Int("00"), IssuerSerial(), AlgId(kRSA), Octets("KEY")})});
    const std::string digests = C(0x31, {AlgId(kSHA1)});
    const std::string signers = C(0x31, {Signer(kSHA1)});
    auto sed = [&](const std::string& version, const std::string& rest) {
        const std::string body = Int(version) + recipients + digests + eci + rest;
        return Info(kSignedAndEnvelopedData, std::string(1, '\x30') + EncodeDERLength(body.size()) + body);
    };
    const struct {
        const char* name;
        std::string der;
        int32_t code;
        int certificates;
    } cases[] = {
        {"signers fifth", sed("01", signers), 0, 0},
        {"certificates, signers sixth", sed("01", C(0xA0, {cert}) + signers), 0, 1},
        {"certificates, CRLs, signers seventh", sed("01", C(0xA0, {cert}) + C(0xA1, {}) + signers), 0, 1},
        {"CRLs, signers sixth", sed("01", C(0xA1, {}) + signers), 0, 0},
        {"version 0", sed("00", signers), 0x1E1B, 0},
        {"version 00 01", sed("0001", signers), 0x1E1B, 0},
        {"fifth primitive", sed("01", Octets("x")), 0x1E1A, 0},
        {"fifth a SEQUENCE", sed("01", Seq({})), 0x1E1A, 0},
        {"certificates then a SEQUENCE", sed("01", C(0xA0, {cert}) + Seq({})), 0x1E1A, 0},
        {"a certificate that does not load", sed("01", C(0xA0, {Seq({Int("01")})}) + signers), 0x1E1A, 0},
        {"four elements", Info(kSignedAndEnvelopedData, Seq({Int("01"), recipients, digests, eci})), 0x1E1A,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TElPKCS7Message m;
        EXPECT_EQ(Load(m, c.der), c.code);
        if (c.code == 0) {
            EXPECT_EQ(m.GetSignedAndEnvelopedData().SignerCount(), 1);
            EXPECT_EQ(m.GetSignedAndEnvelopedData().Certificates.GetCount(), c.certificates);
            EXPECT_EQ(m.GetSignedAndEnvelopedData().GetSigner(1), nullptr);
        }
    }
    // Written and read back: the version comes from the object.
    TElPKCS7Message m;
    ASSERT_EQ(Load(m, sed("01", C(0xA0, {cert}) + signers)), 0);
    m.GetSignedAndEnvelopedData().Version = 1;
    m.IndefiniteLength = false;
    m.GetSignedAndEnvelopedData().EncryptedContent.ImplicitEncryptedContent = true;
    EXPECT_EQ(SaveMessage(m), sed("01", C(0xA0, {cert}) + signers));
}

TEST(SBPKCS7, AuthenticatedData) {
    const std::string recipients = C(0x31, {Seq({Int("00"), IssuerSerial(), AlgId(kRSA), Octets("KEY")})});
    const std::string mac = AlgId("2B06010505080102", Octets("macparams"));
    const std::string encap = Seq({Oid(kData), C(0xA0, {Octets("text")})});
    const std::string auth = C(0xA2, {Seq({Oid("2A864886F70D010903"), C(0x31, {Oid(kData)})})});
    const std::string unauth = C(0xA3, {Seq({Oid("2A864886F70D010906"), C(0x31, {})})});
    const struct {
        const char* name;
        std::string content;
        int32_t code;
    } cases[] = {
        {"plain", Seq({Int("00"), recipients, mac, encap, Octets("MAC")}), 0},
        {"everything",
         Seq({Int("00"), C(0xA0, {}), recipients, mac, C(0xA1, {Oid(kSHA1), P(0x05)}), encap, auth,
              Octets("MAC"), unauth}),
         0},
        {"not a SEQUENCE", C(0x31, {Int("00")}), 0x1E18},
        {"empty", Seq({}), 0x1E1C},
        {"version 1", Seq({Int("01"), recipients, mac, encap, Octets("MAC")}), 0x1E1D},
        {"no MAC algorithm", Seq({Int("00"), recipients}), 0x1E1C},
        {"recipients not a SET", Seq({Int("00"), Seq({}), mac, encap, Octets("MAC")}), 0x1E09},
        {"MAC constructed", Seq({Int("00"), recipients, mac, encap, C(0x24, {Octets("M")})}), 0x1E1C},
        {"no MAC", Seq({Int("00"), recipients, mac, encap}), 0x1E1C},
        {"content primitive", Seq({Int("00"), recipients, mac, Octets("x"), Octets("MAC")}), 0x1E1C},
        {"something after the MAC", Seq({Int("00"), recipients, mac, encap, Octets("MAC"), Octets("x")}),
         0x1E1C},
        {"bad unauthenticated attributes",
         Seq({Int("00"), recipients, mac, encap, Octets("MAC"), C(0xA3, {Int("0")})}), 0x1E15},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TElPKCS7Message m;
        EXPECT_EQ(Load(m, Info(kAuthData, c.content)), c.code);
    }
    TElPKCS7Message m;
    ASSERT_EQ(
        Load(m, Info(kAuthData, Seq({Int("00"), C(0xA0, {}), recipients, mac, C(0xA1, {Oid(kSHA1), P(0x05)}),
                                     encap, auth, Octets("MAC"), unauth}))),
        0);
    TElPKCS7AuthenticatedData& ad = m.GetAuthenticatedData();
    EXPECT_EQ(ad.RecipientCount(), 1);
    EXPECT_EQ(ad.MacAlgorithmParams, Octets("macparams"));
    EXPECT_EQ(Hex(ad.DigestAlgorithm), kSHA1);
    EXPECT_EQ(ad.GetContent(), "text");
    EXPECT_EQ(ad.Mac, "MAC");
    EXPECT_EQ(ad.OriginatorCerts.GetCount(), 0);
    // Written: MAC parameters as NULL, no originatorInfo, the digest algorithm with the
    // authenticated attributes.
    m.IndefiniteLength = false;
    const std::string written =
        Info(kAuthData, Seq({Int("00"), recipients, AlgId("2B06010505080102"), C(0xA1, {Oid(kSHA1), P(0x05)}),
                             encap, auth, Octets("MAC"), unauth}));
    EXPECT_EQ(SaveMessage(m), written);
    ad.AuthenticatedAttributes.SetCount(0);
    ad.Version = 3;
    ad.ClearContentParts();
    ad.AddContentPart("a");
    ad.AddContentPart("bc");
    ad.AddContentPart("d");
    EXPECT_EQ(
        SaveMessage(m),
        Info(kAuthData, Seq({Int("03"), recipients, AlgId("2B06010505080102"),
                             Seq({Oid(kData), C(0xA0, {C(0x24, {Octets("a"), Octets("bc"), Octets("d")})})}),
                             Octets("MAC"), unauth})));
    EXPECT_TRUE(ad.RemoveRecipient(0));
    EXPECT_FALSE(ad.RemoveRecipient(0));
}
