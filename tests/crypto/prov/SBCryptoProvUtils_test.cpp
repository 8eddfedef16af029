// Provider property values, cipher parameters read from AlgorithmIdentifier parameters, and the
// base key material that describes no key.
#include "crypto/prov/SBCryptoProvUtils.h"

#include <gtest/gtest.h>

#include "crypto/ASN1TestSupport.h"
#include "crypto/base/SBConstants.h"
#include "crypto/facade/SBCustomCrypto.h"
#include "rtl/Stream.h"

using asn1test::H;
using asn1test::Hex;

TEST(SBCryptoProvUtils, PropertyValues) {
    EXPECT_EQ(PropertyValueToInteger(H("00 00 01 00"), -1), 256);
    EXPECT_EQ(PropertyValueToInteger(H("FF FF FF FE"), 0), -2);
    EXPECT_EQ(PropertyValueToInteger(H("00 01 00"), 7), 7);
    EXPECT_EQ(PropertyValueToInteger("", 7), 7);
    for (const int32_t v : {0, 1, -1, 0x7FFFFFFF, int32_t(0x80000000)})
        EXPECT_EQ(PropertyValueToInteger(IntegerToPropertyValue(v), 3), v);
    EXPECT_EQ(Hex(IntegerToPropertyValue(0x01020304)), "01020304");
    EXPECT_TRUE(PropertyValueToBoolean(H("01"), false));
    EXPECT_FALSE(PropertyValueToBoolean(H("00"), true));
    EXPECT_TRUE(PropertyValueToBoolean(H("02"), true));
    EXPECT_FALSE(PropertyValueToBoolean(H("02"), false));
    EXPECT_TRUE(PropertyValueToBoolean("", true));
    EXPECT_TRUE(PropertyValueToBoolean(H("01 00"), true));
    EXPECT_EQ(Hex(BooleanToPropertyValue(true)), "01");
    EXPECT_EQ(Hex(BooleanToPropertyValue(false)), "00");
}

TEST(SBCryptoProvUtils, RC2Versions) {
    struct Case {
        const char* content;
        int32_t bits;
    } cases[] = {{"00 A0", 40},   {"A0", 40},    {"78", 64}, {"3A", 128}, {"01 00", 256},
                 {"04 00", 1024}, {"04 01", -1}, {"05", -1}, {"", -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        EXPECT_EQ(RC2VersionToEffectiveBits(H(c.content)), c.bits);
    }
}

TEST(SBCryptoProvUtils, CipherParameters) {
    const std::string iv = H("01 02 03 04 05 06 07 08");
    struct Case {
        std::string_view oid;
        std::string params;
        bool ok;
        int32_t bits;
        std::string iv;
    } cases[] = {
        {SB_OID_DES_EDE3_CBC, H("04 08") + iv, true, 0, iv},
        {SB_OID_DES_EDE3_CBC, H("05 00"), true, 0, ""},
        {SB_OID_DES_EDE3_CBC, "", true, 0, ""},
        {SB_OID_AES128_CBC, H("04 10") + iv + iv, true, 0, iv + iv},
        {SB_OID_AES128_CBC, H("04 02 AA"), false, 0, ""},  // malformed parameters
        {H("2A 03"), H("04 01 AA"), true, 0, H("AA")},     // unknown algorithm
        {SB_OID_RC2_CBC, H("30 0E 02 02 00 A0 04 08") + iv, true, 40, iv},
        {SB_OID_RC2_CBC, H("30 0D 02 01 78 04 08") + iv, true, 64, iv},
        {SB_OID_RC2_CBC, H("30 0D 02 01 3A 04 08") + iv, true, 128, iv},
        {SB_OID_RC2_CBC, H("04 08") + iv, true, 32, iv},
        {SB_OID_RC2_CBC, H("04 07 01 02 03 04 05 06 07"), false, 0, ""},
        {SB_OID_RC2_CBC, H("30 0C 02 01 3A 04 07 01 02 03 04 05 06 07"), false, 128, ""},
        {SB_OID_RC2_CBC, H("30 0A 04 08") + iv, false, 0, ""},
        {SB_OID_RC2_CBC, H("05 00"), false, 0, ""},
        {SB_OID_RC2_CBC, "", false, 0, ""},
        {SB_OID_RC4, "", false, 0, ""},
        {SB_OID_RC4, H("04 08") + iv, false, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(OIDToText(c.oid) + " " + Hex(c.params));
        int32_t bits = -5;
        ByteString got;
        EXPECT_EQ(ReadCipherParameters(c.oid, c.params, bits, got), c.ok);
        EXPECT_EQ(bits, c.bits);
        EXPECT_EQ(Hex(got), Hex(c.iv));
    }
}

TEST(SBCustomCrypto, BaseKeyMaterialDescribesNoKey) {
    TElKeyMaterial key;
    EXPECT_FALSE(key.GetValid());
    EXPECT_EQ(key.GetBits(), 0);
    EXPECT_FALSE(key.GetExportable());
    key.Generate(1024);
    EXPECT_FALSE(key.GetValid());
    rtl::MemoryStream stream("unchanged");
    key.SaveToStream(stream);
    key.LoadFromStream(stream, 0);
    EXPECT_EQ(stream.Data(), "unchanged");
    EXPECT_EQ(stream.Position(), 0);
    try {
        key.Clone();
        ADD_FAILURE() << "no exception";
    } catch (const ECryptoLibraryError& e) {
        EXPECT_EQ(e.Message(), "Not implemented");
        EXPECT_EQ(e.ErrorCode, 0);
    }
    TElKeyMaterial other;
    EXPECT_THROW(key.Assign(other), ECryptoLibraryError);
}
