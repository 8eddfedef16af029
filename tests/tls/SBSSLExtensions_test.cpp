// The hello extensions: the bytes each writes, what each reads back from well-formed and
// malformed data, copying, and the collection.
#include <gtest/gtest.h>

#include "crypto/base/SBConstants.h"
#include "support/TestSupport.h"
#include "tests/tls/TlsTestSupport.h"
#include "tls/SBSSLCommon.h"

using kwtest::FromHex;
using kwtest::Hex;

namespace {

std::string DataOf(const TElCustomSSLExtension& e) {
    const ByteArray d = e.GetExtensionData();
    return Hex(d.data(), d.size());
}

TEST(SBSSLExtensions, ServerName) {
    TElServerNameSSLExtension e;
    e.GetName(e.AddName()).Name = "a";
    EXPECT_EQ(DataOf(e), "000400000161");
    EXPECT_EQ(e.GetExtensionType(), 0);
    e.ServerSide = true;
    EXPECT_EQ(DataOf(e), "");
    // Names of another type are kept as type 1 and not written.
    TElServerNameSSLExtension r;
    r.SetExtensionData(FromHex("000c000003616263070003787978"));
    ASSERT_EQ(r.GetCount(), 2);
    EXPECT_EQ(r.GetName(0).Name, "abc");
    EXPECT_EQ(r.GetName(1).NameType, 1);
    EXPECT_EQ(DataOf(r), "000600000361626" "3");
    struct Case {
        const char* data;
        int count;
        const char* first;
    };
    for (const Case& c : {Case{"", 0, ""}, Case{"00", 0, ""}, Case{"0009000003616263", 0, ""},  // list past the data
                          Case{"000600000961626300", 1, ""},                                  // name past the list
                          Case{"0002000000", 0, ""}}) {
        TElServerNameSSLExtension x;
        x.SetExtensionData(FromHex(c.data));
        EXPECT_EQ(x.GetCount(), c.count) << c.data;
        if (c.count > 0) {
            EXPECT_EQ(x.GetName(0).Name, c.first) << c.data;
        }
    }
}

TEST(SBSSLExtensions, MaxFragmentLength) {
    TElMaxFragmentLengthSSLExtension e;
    EXPECT_EQ(e.MaxLength, 0);
    EXPECT_EQ(DataOf(e), "01");
    e.MaxLength = 3;
    EXPECT_EQ(DataOf(e), "04");
    for (auto [data, code] : {std::pair{"01", 0}, {"02", 1}, {"04", 3}, {"05", 4}, {"00", 4}, {"", 4}}) {
        e.SetExtensionData(FromHex(data));
        EXPECT_EQ(e.MaxLength, code) << data;
    }
    e.SetExtensionData(FromHex("05"));
    EXPECT_EQ(DataOf(e), "");
    e.Clear();
    EXPECT_EQ(e.MaxLength, 3);
}

TEST(SBSSLExtensions, TrustedCAs) {
    TElTrustedCAsSSLExtension e;
    e.GetCA(e.AddCA()).IdentifierType = 0;
    TElSSLTrustedCA& key = e.GetCA(e.AddCA());
    key.IdentifierType = 1;
    key.Hash = ByteArray(20, 0xAB);
    TElSSLTrustedCA& named = e.GetCA(e.AddCA());
    named.IdentifierType = 2;
    named.Name.Add(std::string(SB_OID_X520_COMMON_NAME), "CA", 0x0C);
    const ByteArray data = e.GetExtensionData();
    TElTrustedCAsSSLExtension r;
    r.SetExtensionData(data);
    ASSERT_EQ(r.GetCount(), 3);
    EXPECT_EQ(r.GetCA(1).Hash, ByteArray(20, 0xAB));
    ASSERT_EQ(r.GetCA(2).Name.GetCount(), 1);
    EXPECT_EQ(r.GetCA(2).Name.GetValue(0), "CA");
    EXPECT_EQ(r.GetExtensionData(), data);
    // A key hash of 10 bytes: no CA; a name that does not parse is dropped and reading goes on;
    // an unknown type stops the reading.
    TElTrustedCAsSSLExtension x;
    x.SetExtensionData(FromHex("000b01" + std::string(20, 'a')));
    EXPECT_EQ(x.GetCount(), 0);
    x.SetExtensionData(FromHex("00080200020101" "00" "0300"));
    EXPECT_EQ(x.GetCount(), 1);
    EXPECT_EQ(x.GetCA(0).IdentifierType, 0);
    x.SetExtensionData(FromHex("0003" "00" "0900"));
    EXPECT_EQ(x.GetCount(), 1);
    e.ServerSide = true;
    EXPECT_EQ(DataOf(e), "");
}

TEST(SBSSLExtensions, CertificateStatus) {
    TElCertificateStatusSSLExtension e;
    EXPECT_EQ(DataOf(e), "0100000000");
    e.OCSPStatusRequest.SetResponderIDCount(1);
    e.OCSPStatusRequest.SetResponderID(0, "ab");
    e.OCSPStatusRequest.RequestExtensions = FromHex("3000");
    EXPECT_EQ(DataOf(e), "01000400026162" "00023000");
    TElCertificateStatusSSLExtension r;
    r.SetExtensionData(e.GetExtensionData());
    ASSERT_EQ(r.OCSPStatusRequest.GetResponderIDCount(), 1);
    EXPECT_EQ(r.OCSPStatusRequest.GetResponderID(0), "ab");
    EXPECT_EQ(r.OCSPStatusRequest.RequestExtensions, FromHex("3000"));
    r.SetExtensionData(FromHex("02"));
    EXPECT_EQ(r.StatusType, cstUnknown);
    EXPECT_EQ(DataOf(r), "");
    // A responder id past its list ends the reading without request extensions.
    r.SetExtensionData(FromHex("01000400096162" "00023000"));
    EXPECT_EQ(r.StatusType, cstOCSP);
    EXPECT_EQ(r.OCSPStatusRequest.GetResponderIDCount(), 0);
    EXPECT_TRUE(r.OCSPStatusRequest.RequestExtensions.empty());
}

TEST(SBSSLExtensions, UserName) {
    TElUserNameSSLExtension e;
    e.SetUserName(std::string(300, 'u'));
    const ByteArray d = e.GetExtensionData();
    ASSERT_EQ(d.size(), 256u);
    EXPECT_EQ(d[0], 255);
    EXPECT_EQ(e.GetUserName(), std::string(255, 'u'));
    e.SetExtensionData(FromHex("03616263"));
    EXPECT_EQ(e.GetUserName(), "abc");
    e.SetExtensionData(FromHex("0461626" "3"));  // length byte past the data
    EXPECT_EQ(e.GetUserName(), "");
}

TEST(SBSSLExtensions, CertificateTypes) {
    TElServerCertificateTypeSSLExtension s;
    EXPECT_EQ(s.GetCertificateType(), 0);
    s.SetCertificateType(1);
    EXPECT_EQ(s.GetCertificateType(), 1);
    TElClientCertificateTypeSSLExtension c;
    c.SetExtensionData(FromHex("03000102"));
    EXPECT_EQ(c.GetCount(), 3);
    EXPECT_TRUE(c.Contains(2));
    EXPECT_EQ(DataOf(c), "03000102");
    c.SetExtensionData(FromHex("0500"));  // count past the data: what is there
    EXPECT_EQ(c.GetCount(), 1);
    EXPECT_EQ(kwtest::ThrownMessage([&] { c.GetType(1); }), "Certificate type number out of index!");
    EXPECT_EQ(kwtest::ThrownMessage([&] { c.SetType(5, 1); }), "Certificate type number out of index!");
}

TEST(SBSSLExtensions, SessionTicketIsTheWholeData) {
    // RFC 5077 3.2: the extension data is the ticket itself.
    TElSessionTicketSSLExtension e;
    EXPECT_EQ(DataOf(e), "");
    e.SetExtensionData(FromHex("0003AABB"));
    EXPECT_EQ(e.Ticket, FromHex("0003AABB"));
    EXPECT_EQ(DataOf(e), "0003aabb");
    EXPECT_EQ(e.GetExtensionType(), 35);
}

TEST(SBSSLExtensions, CertHashTypes) {
    TElCertHashTypesSSLExtension e;
    EXPECT_EQ(DataOf(e), "050001020304");
    e.SetExtensionData(FromHex("03000207"));
    EXPECT_TRUE(e.GetHashType(0));
    EXPECT_FALSE(e.GetHashType(1));
    EXPECT_TRUE(e.GetHashType(2));
    EXPECT_EQ(DataOf(e), "020002");
    e.SetExtensionData(FromHex("0901"));
    EXPECT_EQ(DataOf(e), "0101");
}

TEST(SBSSLExtensions, AssignChecksTheClass) {
    TElServerNameSSLExtension a;
    a.GetName(a.AddName()).Name = "x";
    a.Enabled = true;
    TElServerNameSSLExtension b;
    b.Assign(a);
    EXPECT_TRUE(b.Enabled);
    EXPECT_EQ(DataOf(b), DataOf(a));
    TElUserNameSSLExtension u;
    EXPECT_EQ(kwtest::ThrownMessage([&] { u.Assign(a); }), "Invalid object type");
    TElCustomSSLExtension plain;
    plain.SetExtensionType(77);
    plain.SetExtensionData(FromHex("0102"));
    TElCustomSSLExtension copy;
    copy.Assign(plain);
    EXPECT_EQ(copy.GetExtensionType(), 77);
    EXPECT_EQ(DataOf(copy), "0102");
}

TEST(SBSSLExtensions, Collection) {
    TElCustomSSLExtensions x;
    x.SetOtherCount(2);
    ASSERT_EQ(x.GetOtherCount(), 2);
    EXPECT_TRUE(x.GetOtherExtension(1).Enabled);
    EXPECT_EQ(x.GetOtherExtension(1).GetExtensionType(), 0);
    EXPECT_EQ(DataOf(x.GetOtherExtension(1)), "");
    x.ServerName.GetName(x.ServerName.AddName()).Name = "host";
    x.ClientCertificateType.AddType(1);
    x.SessionTicket = true;
    TElCustomSSLExtensions y;
    y.Assign(x);
    EXPECT_EQ(y.GetOtherCount(), 2);
    EXPECT_EQ(y.ServerName.GetCount(), 1);
    EXPECT_TRUE(y.SessionTicket);
    y.Clear();
    EXPECT_EQ(y.GetOtherCount(), 0);
    EXPECT_EQ(y.ServerName.GetCount(), 0);
    EXPECT_FALSE(y.SessionTicket);
    EXPECT_EQ(y.ClientCertificateType.GetCount(), 1);  // the certificate type ones keep their settings
    x.SetOtherCount(0);
    EXPECT_EQ(x.GetOtherCount(), 0);
}

}  // namespace
