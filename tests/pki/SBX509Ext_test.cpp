// General names and certificate extensions: each kind read and written back, the lenient and
// critical rules, and the decisions on BOOLEANs, reason flags and IP address texts.
#include "pki/SBX509Ext.h"

#include <gtest/gtest.h>

#include "crypto/base/SBASN1.h"
#include "crypto/base/SBASN1Tree.h"
#include "crypto/base/SBConstants.h"
#include "tests/crypto/ASN1TestSupport.h"

namespace {

using asn1test::H;
using asn1test::Hex;

ByteString T(uint8_t tag, std::string_view content) {
    return EncodeDERTLV(tag, content);
}

const ByteString kCNa = T(0x30, T(0x31, T(0x30, T(0x06, H("55 04 03")) + T(0x13, "a"))));

// The names of a GeneralNames element, read from DER.
TElGeneralNames ReadNames(const std::string& der, bool lenient, bool* ok = nullptr) {
    TElASN1ConstrainedTag root;
    EXPECT_TRUE(LoadTagTree(root, der));
    TElGeneralNames names;
    const bool r = names.LoadFromTag(static_cast<const TElASN1ConstrainedTag&>(*root.GetChild(0)), lenient);
    if (ok != nullptr) *ok = r;
    return names;
}

std::string WriteNames(TElGeneralNames& names) {
    TElASN1ConstrainedTag tag;
    names.SaveToTag(tag);
    return Hex(SaveTagToString(tag));
}

TEST(GeneralNames, EveryKindReadsAndWritesBack) {
    struct Case {
        ByteString der;
        TSBGeneralName kind;
    } cases[] = {
        {T(0x81, "a@b.c"), gnRFC822Name},
        {T(0x82, "example.org"), gnDNSName},
        {T(0xA4, kCNa), gnDirectoryName},
        {T(0xA5, T(0x80, "as") + T(0x81, "party")), gnEdiPartyName},
        {T(0xA5, T(0x81, "party")), gnEdiPartyName},
        {T(0x86, "http://x/"), gnUniformResourceIdentifier},
        {T(0x87, H("C0 A8 00 01")), gnIPAddress},
        {T(0x87, H("20 01 0D B8 00 00 00 00 00 00 00 00 00 00 00 01")), gnIPAddress},
        {T(0x88, H("2A 03 04")), gnRegisteredID},
        {T(0xA0, T(0x06, H("2B 06 01 04 01 82 37 14 02 03")) + T(0xA0, T(0x0C, "upn"))), gnOtherName},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Hex(c.der));
        bool ok = false;
        TElGeneralNames names = ReadNames(T(0x30, c.der), false, &ok);
        EXPECT_TRUE(ok);
        ASSERT_EQ(names.GetCount(), 1);
        EXPECT_EQ(names.GetNames(0)->NameType, c.kind);
        EXPECT_EQ(WriteNames(names), Hex(T(0x30, c.der)));
    }
    TElGeneralNames ip = ReadNames(T(0x30, T(0x87, H("C0 A8 00 01"))), false);
    EXPECT_EQ(ip.GetNames(0)->IpAddress, "192.168.0.1");
    TElGeneralNames edi = ReadNames(T(0x30, T(0xA5, T(0x81, "party"))), false);
    EXPECT_EQ(edi.GetNames(0)->EdiPartyName.NameAssigner, "");
    EXPECT_EQ(edi.GetNames(0)->EdiPartyName.PartyName, "party");
}

TEST(GeneralNames, PermanentIdentifierReadsAsItsOwnKindAndIsWrittenAsAnOtherName) {
    const ByteString value = T(0x30, T(0x0C, "id-7") + T(0x06, H("2A 03")));
    const ByteString der = T(0x30, T(0xA0, T(0x06, SB_OID_PERMANENT_IDENTIFIER) + T(0xA0, value)));
    TElGeneralNames names = ReadNames(der, false);
    ASSERT_EQ(names.GetCount(), 1);
    TElGeneralName& n = *names.GetNames(0);
    EXPECT_EQ(n.NameType, gnPermanentIdentifier);
    EXPECT_EQ(n.PermanentIdentifier.PermanentIdentifier, "id-7");
    EXPECT_EQ(Hex(n.PermanentIdentifier.Assigner), "2A03");
    EXPECT_EQ(WriteNames(names), Hex(der));
    EXPECT_EQ(n.NameType, gnOtherName);
}

TEST(GeneralNames, UnsupportedAndMalformedNames) {
    // An X.400 address reads as true with an unknown name, which writing drops.
    bool ok = false;
    TElGeneralNames x400 = ReadNames(T(0x30, T(0xA3, T(0x30, "")) + T(0x82, "d")), false, &ok);
    EXPECT_TRUE(ok);
    ASSERT_EQ(x400.GetCount(), 2);
    EXPECT_EQ(x400.GetNames(0)->NameType, gnUnknown);
    EXPECT_EQ(WriteNames(x400), Hex(T(0x30, T(0x82, "d"))));

    // A bare Name: a directory name with lenient reading, dropped without.
    const ByteString bare = T(0x30, kCNa + T(0x82, "d"));
    TElGeneralNames lenient = ReadNames(bare, true, &ok);
    EXPECT_TRUE(ok);
    ASSERT_EQ(lenient.GetCount(), 2);
    EXPECT_EQ(lenient.GetNames(0)->NameType, gnDirectoryName);
    EXPECT_EQ(lenient.GetNames(0)->DirectoryName.GetValue(0), "a");
    TElGeneralNames strict = ReadNames(bare, false, &ok);
    EXPECT_FALSE(ok);
    ASSERT_EQ(strict.GetCount(), 1);
    EXPECT_EQ(strict.GetNames(0)->NameType, gnDNSName);

    // An other name without its [0] value, a constructed DNS name, an unknown tag.
    for (const ByteString& bad : {T(0xA0, T(0x06, H("2A 03"))), T(0xA2, T(0x04, "x")), T(0x89, "x")}) {
        SCOPED_TRACE(Hex(bad));
        TElGeneralNames names = ReadNames(T(0x30, bad), true, &ok);
        EXPECT_FALSE(ok);
        EXPECT_EQ(names.GetCount(), 0);
    }
    EXPECT_THROW(strict.Remove(1), EElCertificateException);
    EXPECT_THROW(strict.GetNames(-1), EElCertificateException);
    strict.Remove(0);
    EXPECT_EQ(strict.GetCount(), 0);
}

TEST(GeneralNames, AssignCopiesEveryField) {
    TElGeneralNames names = ReadNames(T(0x30, T(0xA4, kCNa) + T(0x87, H("0A 00 00 01"))), false);
    TElGeneralNames copy;
    copy.Assign(&names);
    ASSERT_EQ(copy.GetCount(), 2);
    EXPECT_TRUE(RDNsEqual(copy.GetNames(0)->DirectoryName, names.GetNames(0)->DirectoryName));
    EXPECT_EQ(copy.GetNames(1)->IpAddress, "10.0.0.1");
    EXPECT_EQ(WriteNames(copy), WriteNames(names));
    EXPECT_THROW(copy.Assign(nullptr), EElCertificateException);
    TElGeneralName one;
    names.GetNames(1)->AssignTo(&one);
    EXPECT_EQ(one.NameType, gnIPAddress);
    EXPECT_THROW(one.AssignTo(nullptr), EElCertificateException);
}

TEST(GeneralNames, IPAddressTexts) {
    EXPECT_EQ(IPBytesToText(""), "");
    EXPECT_EQ(IPBytesToText(H("C0 A8 00 01")), "192.168.0.1");
    struct Case {
        const char* text;
        const char* bytes;
    } good[] = {
        {"192.168.0.1", "C0A80001"},
        {"10.1", "0A010000"},
        {"7", "07000000"},
        {"10.0.0.0.255.0.0.0", "0A000000FF000000"},  // IPv4 address and mask
        {"32.1.13.184.0.0.0.0.0.0.0.0.0.0.0.1", "20010DB8000000000000000000000001"},
        {"32.1.13.184.0.0.0.0.0.0.0.0.0.0.0.0.255.255.255.255.0.0.0.0.0.0.0.0.0.0.0.0",
         "20010DB8000000000000000000000000FFFFFFFF000000000000000000000000"},
    };
    for (const auto& c : good) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Hex(IPTextToBytes(c.text)), c.bytes);
        if (std::string(c.bytes).size() > 8) {
            EXPECT_EQ(IPBytesToText(IPTextToBytes(c.text)), c.text);
        }
    }
    for (const char* bad : {"", "256.0.0.1", "1..2", "a.b.c.d", "1.2.3.4.5", "-1.0.0.0", "1.2.3.4 ", "1.2.3.4.5.6.7.8.9"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(IPTextToBytes(bad), rtl::EConvertError);
    }
}

// ---------------------------------------------------------------------------------------------
// Extensions

struct Read {
    TElCertificateExtensions ext;
    void Parse(std::string_view oid, bool critical, const ByteString& value, bool strict = false) {
        TElExtensionReader(ext, strict).ParseExtension(oid, critical, value);
    }
};

const ByteString kOidKU = H("55 1D 0F");
const ByteString kOidBC = H("55 1D 13");
const ByteString kOidAKI = H("55 1D 23");
const ByteString kOidDP = H("55 1D 1F");

TEST(Extensions, KeyUsageBitsAndCriticalFailures) {
    Read r;
    r.Parse(kOidKU, true, T(0x03, H("07 80")));
    EXPECT_TRUE(r.ext.KeyUsage.DigitalSignature);
    EXPECT_EQ(r.ext.KeyUsage.GetUsages(), KeyUsageBit(kuDigitalSignature));
    EXPECT_EQ(r.ext.Included, ceKeyUsage);
    r.Parse(kOidKU, false, T(0x03, H("00 FF 80")));
    EXPECT_EQ(r.ext.KeyUsage.GetUsages(), 0x1FF);
    // Bits declared unused grant nothing: 07 FF is digital signature alone, as libcrypto reads
    // it; an unused-bits count past 7 is no BIT STRING.
    r.Parse(kOidKU, true, T(0x03, H("07 FF")));
    EXPECT_EQ(r.ext.KeyUsage.GetUsages(), KeyUsageBit(kuDigitalSignature));
    r.Parse(kOidKU, true, T(0x03, H("01 FF FF")));
    EXPECT_EQ(r.ext.KeyUsage.GetUsages(), 0x1FF);
    r.Parse(kOidKU, true, T(0x03, H("07 FF 7F")));  // the count applies to the last byte
    EXPECT_EQ(r.ext.KeyUsage.GetUsages(), 0xFF);
    EXPECT_THROW(r.Parse(kOidKU, true, T(0x03, H("08 FF"))), EElCertificateException);

    // An OCTET STRING where a BIT STRING belongs: silent when not critical, fatal when it is.
    r.Parse(kOidKU, false, T(0x04, H("00 FF")));
    EXPECT_EQ(r.ext.KeyUsage.GetUsages(), 0);
    EXPECT_THROW(r.Parse(kOidKU, true, T(0x04, H("00 FF"))), EElCertificateException);
    // Not one element.
    EXPECT_THROW(r.Parse(kOidKU, true, T(0x03, H("07 80")) + T(0x05, "")), EElCertificateException);
    EXPECT_THROW(r.Parse(kOidKU, true, H("03 05 07")), EElCertificateException);
}

TEST(Extensions, BasicConstraints) {
    struct Case {
        ByteString value;
        bool ca;
        int32_t pathLen;
    } cases[] = {
        {T(0x30, T(0x01, H("FF"))), true, -1},
        {T(0x30, ""), false, -1},
        {T(0x30, T(0x02, H("00"))), false, 0},
        {T(0x30, T(0x01, H("FF")) + T(0x02, H("03"))), true, 3},
        // One rule for BOOLEANs: any non-zero byte is true.
        {T(0x30, T(0x01, H("01"))), true, -1},
        {T(0x30, T(0x01, H("00")) + T(0x02, H("01 00"))), false, 256},
        {T(0x30, T(0x01, H("FF")) + T(0x02, H("00 FF FF FF FF FF"))), true, 0x7FFFFFFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Hex(c.value));
        Read r;
        r.Parse(kOidBC, true, c.value);
        EXPECT_EQ(r.ext.BasicConstraints.CA, c.ca);
        EXPECT_EQ(r.ext.BasicConstraints.PathLenConstraint, c.pathLen);
        EXPECT_EQ(Hex(r.ext.BasicConstraints.SaveToDER()), Hex(T(0x30, T(0x06, kOidBC) + T(0x01, H("FF")) +
                                                                           T(0x04, c.value))));
    }
    // A negative path length allows nothing and fails a critical extension.
    Read r;
    r.Parse(kOidBC, false, T(0x30, T(0x01, H("FF")) + T(0x02, H("FF"))));
    EXPECT_EQ(r.ext.BasicConstraints.PathLenConstraint, 0);
    EXPECT_THROW(r.Parse(kOidBC, true, T(0x30, T(0x01, H("FF")) + T(0x02, H("80")))), EElCertificateException);
}

TEST(Extensions, KeyIdentifiersAndTheStrictMode) {
    Read r;
    const ByteString aki = T(0x30, T(0x80, H("AA BB")) + T(0xA1, T(0xA4, kCNa)) + T(0x82, H("01 02 03")));
    r.Parse(kOidAKI, false, aki);
    EXPECT_EQ(Hex(r.ext.AuthorityKeyIdentifier.KeyIdentifier), "AABB");
    EXPECT_EQ(Hex(r.ext.AuthorityKeyIdentifier.AuthorityCertSerial), "010203");
    ASSERT_EQ(r.ext.AuthorityKeyIdentifier.AuthorityCertIssuer.GetCount(), 1);
    EXPECT_EQ(r.ext.AuthorityKeyIdentifier.AuthorityCertIssuer.GetNames(0)->NameType, gnDirectoryName);
    // Written back: the stored value; built from the fields when none is stored.
    EXPECT_EQ(Hex(r.ext.AuthorityKeyIdentifier.GetValue()), Hex(aki));
    TElAuthorityKeyIdentifierExtension built;
    built.KeyIdentifier = H("AA BB");
    built.AuthorityCertSerial = H("01 02 03");
    built.AuthorityCertIssuer.Assign(&r.ext.AuthorityKeyIdentifier.AuthorityCertIssuer);
    EXPECT_EQ(Hex(built.GetValue()), Hex(aki));

    // The older constructed [0] form of the key identifier.
    r.Parse(kOidAKI, false, T(0x30, T(0xA0, T(0x04, H("CC")))));
    EXPECT_EQ(Hex(r.ext.AuthorityKeyIdentifier.KeyIdentifier), "CC");

    r.Parse(H("55 1D 0E"), false, T(0x04, H("01 02")));
    EXPECT_EQ(Hex(r.ext.SubjectKeyIdentifier.KeyIdentifier), "0102");

    // Strict mode refuses a critical key identifier before reading it; without it, it parses.
    Read strict;
    EXPECT_THROW(strict.Parse(kOidAKI, true, aki, true), EElCertificateException);
    EXPECT_TRUE(strict.ext.Included & ceAuthorityKeyIdentifier);
    strict.Parse(kOidAKI, true, aki, false);
    EXPECT_EQ(Hex(strict.ext.AuthorityKeyIdentifier.KeyIdentifier), "AABB");
}

TEST(Extensions, UnknownExtensionsAreKeptAndWrittenBack) {
    Read r;
    const ByteString oid = H("2B 06 01 04 01 82 37 15 07");
    r.Parse(oid, true, T(0x30, T(0x02, H("05"))));
    EXPECT_EQ(r.ext.Included, 0u);
    ASSERT_EQ(r.ext.GetOtherCount(), 1);
    EXPECT_TRUE(r.ext.OtherExtensions[0]->Critical);
    EXPECT_EQ(Hex(r.ext.OtherExtensions[0]->SaveToDER()),
              Hex(T(0x30, T(0x06, oid) + T(0x01, H("FF")) + T(0x04, T(0x30, T(0x02, H("05")))))));
    ASSERT_EQ(r.ext.Met().size(), 1u);
    r.ext.Clear();
    EXPECT_EQ(r.ext.GetOtherCount(), 0);
    EXPECT_TRUE(r.ext.Met().empty());
}

TEST(Extensions, ASecondOccurrenceReplacesTheFirst) {
    Read r;
    const ByteString comment = H("60 86 48 01 86 F8 42 01 0D");
    r.Parse(comment, false, T(0x16, "first"));
    r.Parse(comment, false, T(0x0C, "utf8"));  // not one of its string types: the text stays
    EXPECT_EQ(r.ext.NetscapeComment.Content, "first");
    EXPECT_EQ(Hex(r.ext.NetscapeComment.GetValue()), Hex(T(0x0C, "utf8")));
    r.Parse(comment, false, T(0x13, "second"));
    EXPECT_EQ(r.ext.NetscapeComment.Content, "second");
    EXPECT_EQ(r.ext.Met().size(), 3u);

    r.Parse(kOidKU, false, T(0x03, H("00 FF 80")));
    r.Parse(kOidKU, false, T(0x03, H("07 80")));
    EXPECT_EQ(r.ext.KeyUsage.GetUsages(), KeyUsageBit(kuDigitalSignature));
}

TEST(Extensions, DistributionPointReasonsAndNames) {
    // ReasonFlags 0x81 then 0x80: unused (bit 0) set and ignored, privilegeWithdrawn (bit 7)
    // and aACompromise (bit 8); 0x60: keyCompromise and cACompromise.
    const ByteString uri = T(0xA0, T(0xA0, T(0x86, "http://crl/")));
    const ByteString value = T(0x30, T(0x30, uri + T(0x81, H("07 81 80"))) +
                                         T(0x30, T(0xA0, T(0xA1, T(0x31, T(0x30, T(0x06, H("55 04 03")) +
                                                                                  T(0x13, "rel"))))) +
                                                 T(0x81, H("05 60")) + T(0xA2, T(0xA4, kCNa))) +
                                         T(0x30, uri));
    Read r;
    r.Parse(kOidDP, false, value);
    ASSERT_EQ(r.ext.CRLDistributionPoints.GetCount(), 3);
    const TElDistributionPoint& a = *r.ext.CRLDistributionPoints.DistributionPoints[0];
    EXPECT_EQ(a.ReasonFlags, rfPrivilegeWithdrawn | rfAACompromise);
    ASSERT_EQ(a.Name.GetCount(), 1);
    EXPECT_EQ(a.Name.GetNames(0)->UniformResourceIdentifier, "http://crl/");
    const TElDistributionPoint& b = *r.ext.CRLDistributionPoints.DistributionPoints[1];
    EXPECT_EQ(b.ReasonFlags, rfKeyCompromise | rfCACompromise);
    ASSERT_EQ(b.Name.GetCount(), 1);
    EXPECT_EQ(b.Name.GetNames(0)->NameType, gnDirectoryName);
    EXPECT_EQ(b.Name.GetNames(0)->DirectoryName.GetValue(0), "rel");
    ASSERT_EQ(b.CRLIssuer.GetCount(), 1);
    EXPECT_EQ(r.ext.CRLDistributionPoints.DistributionPoints[2]->ReasonFlags, rfAllReasons);
    EXPECT_EQ(Hex(r.ext.CRLDistributionPoints.GetValue()), Hex(value));
}

TEST(Extensions, PoliciesUsagesAccessAndConstraints) {
    Read r;
    const ByteString policy = T(0x30, T(0x06, H("2A 03 04")) +
                                          T(0x30, T(0x30, T(0x06, SB_OID_QT_CPS) + T(0x16, "http://cps/")) +
                                                      T(0x30, T(0x06, SB_OID_QT_UNOTICE) +
                                                                  T(0x30, T(0x30, T(0x0C, "Org") +
                                                                                      T(0x30, T(0x02, H("01")) + T(0x02, H("02")))) +
                                                                              T(0x1A, "Notice")))));
    r.Parse(H("55 1D 20"), false, T(0x30, policy + T(0x30, T(0x06, H("55 1D 20 00")))));
    ASSERT_EQ(r.ext.CertificatePolicies.GetCount(), 2);
    const auto& p = *r.ext.CertificatePolicies.PolicyInformation[0];
    EXPECT_EQ(Hex(p.PolicyIdentifier), "2A0304");
    EXPECT_EQ(p.CPSURI, "http://cps/");
    EXPECT_EQ(p.UserNotice.Organization, "Org");
    EXPECT_EQ(p.UserNotice.NoticeNumbers, (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(p.UserNotice.ExplicitText, "Notice");

    r.Parse(H("55 1D 25"), false,
            T(0x30, T(0x06, SB_OID_KP_SERVER_AUTH) + T(0x06, SB_OID_KP_OCSP_SIGNING) + T(0x06, H("2A 03"))));
    EXPECT_TRUE(r.ext.ExtendedKeyUsage.ServerAuthentication);
    EXPECT_TRUE(r.ext.ExtendedKeyUsage.OCSPSigning);
    EXPECT_FALSE(r.ext.ExtendedKeyUsage.ClientAuthentication);
    ASSERT_EQ(r.ext.ExtendedKeyUsage.CustomUsages.size(), 1u);

    r.Parse(H("2B 06 01 05 05 07 01 01"), false,
            T(0x30, T(0x30, T(0x06, SB_OID_ACCESS_METHOD_OCSP) + T(0x86, "http://ocsp/"))));
    ASSERT_EQ(r.ext.AuthorityInformationAccess.GetCount(), 1);
    EXPECT_EQ(r.ext.AuthorityInformationAccess.AccessDescriptions[0]->AccessLocation.UniformResourceIdentifier,
              "http://ocsp/");

    r.Parse(H("55 1D 24"), true, T(0x30, T(0x80, H("00")) + T(0x81, H("02"))));
    EXPECT_EQ(r.ext.PolicyConstraints.RequireExplicitPolicy, 0);
    EXPECT_EQ(r.ext.PolicyConstraints.InhibitPolicyMapping, 2);

    r.Parse(H("55 1D 21"), false, T(0x30, T(0x30, T(0x06, H("2A 03")) + T(0x06, H("2A 04")))));
    ASSERT_EQ(r.ext.PolicyMappings.GetCount(), 1);
    EXPECT_EQ(Hex(r.ext.PolicyMappings.Policies[0]->SubjectDomainPolicy), "2A04");
    EXPECT_THROW(r.Parse(H("55 1D 21"), true, T(0x30, T(0x30, T(0x06, H("2A 03"))))), EElCertificateException);

    // Name constraints with an IPv4 and an IPv6 address-and-mask pair, read and written back.
    const ByteString nc = T(0x30, T(0xA0, T(0x30, T(0x87, H("0A 00 00 00 FF 00 00 00")))) +
                                      T(0xA1, T(0x30, T(0x87, H("20 01 0D B8 00 00 00 00 00 00 00 00 00 00 00 00"
                                                                 "FF FF FF FF 00 00 00 00 00 00 00 00 00 00 00 00")) +
                                                          T(0x80, H("01")) + T(0x81, H("05")))));
    r.Parse(H("55 1D 1E"), true, nc);
    ASSERT_EQ(r.ext.NameConstraints.PermittedSubtrees.size(), 1u);
    ASSERT_EQ(r.ext.NameConstraints.ExcludedSubtrees.size(), 1u);
    TElGeneralName& excluded = r.ext.NameConstraints.ExcludedSubtrees[0]->Base;
    EXPECT_EQ(r.ext.NameConstraints.ExcludedSubtrees[0]->Minimum, 1);
    EXPECT_EQ(r.ext.NameConstraints.ExcludedSubtrees[0]->Maximum, 5);
    TElASN1ConstrainedTag out;
    ASSERT_TRUE(excluded.SaveToTag(out));
    EXPECT_EQ(Hex(SaveTagToString(*out.GetChild(0))).substr(0, 4), "8720");
    EXPECT_EQ(SaveTagToString(*out.GetChild(0)).size(), 34u);

    // Subject directory attributes keep each value's DER.
    r.Parse(H("55 1D 09"), false, T(0x30, T(0x30, T(0x06, H("2B 06 01 05 05 07 09 01")) +
                                                  T(0x31, T(0x18, "19700101000000Z")))));
    ASSERT_EQ(r.ext.SubjectDirectoryAttributes.Attributes.GetCount(), 1);
    EXPECT_EQ(r.ext.SubjectDirectoryAttributes.Attributes.GetValues(0)->at(0), T(0x18, "19700101000000Z"));

    r.Parse(H("55 1D 10"), false, T(0x30, T(0x80, "20200101000000Z") + T(0x81, "20300101000000Z")));
    EXPECT_GT(r.ext.PrivateKeyUsagePeriod.NotAfter, r.ext.PrivateKeyUsagePeriod.NotBefore);
    EXPECT_THROW(r.Parse(H("55 1D 10"), true, T(0x30, T(0x80, "20201301000000Z"))), EElCertificateException);

    r.Parse(H("60 86 48 01 86 F8 42 01 01"), false, T(0x03, H("00 C9")));
    EXPECT_EQ(r.ext.NetscapeCertType.CertType, nsSSLClient | nsSSLServer | nsObjectSignCA);
}

TEST(Extensions, AlternativeNamesAcceptOnlyTheirOIDs) {
    Read r;
    const ByteString names = T(0x30, T(0x82, "a.example") + T(0x87, H("7F 00 00 01")));
    r.Parse(H("55 1D 11"), false, names);
    r.Parse(H("55 1D 12"), false, T(0x30, T(0x81, "ca@example")));
    EXPECT_EQ(r.ext.SubjectAlternativeName.Content.GetCount(), 2);
    EXPECT_EQ(r.ext.IssuerAlternativeName.Content.GetNames(0)->RFC822Name, "ca@example");
    EXPECT_EQ(Hex(r.ext.SubjectAlternativeName.GetOID()), "551D11");
    r.ext.SubjectAlternativeName.SetOID(H("55 1D 13"));
    EXPECT_EQ(Hex(r.ext.SubjectAlternativeName.GetOID()), "551D11");
    TElAlternativeNameExtension built(true);
    built.Content.Assign(&r.ext.SubjectAlternativeName.Content);
    EXPECT_EQ(Hex(built.GetOID()), "551D12");
    EXPECT_EQ(Hex(built.GetValue()), Hex(names));
}

}  // namespace
