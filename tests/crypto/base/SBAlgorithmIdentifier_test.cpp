// The AlgorithmIdentifier pair: what is read is written back byte for byte, absent parameters
// become NULL, and every malformed identifier is refused with 0x1E0E and no output touched.
#include "crypto/base/SBAlgorithmIdentifier.h"

#include <gtest/gtest.h>

#include "crypto/base/SBASN1Tree.h"
#include "tests/crypto/ASN1TestSupport.h"

namespace {

using asn1test::H;
using asn1test::Hex;

TEST(AlgorithmIdentifier, ReadsAndWritesBackByteForByte) {
    const char* cases[] = {
        "30 0D 06 09 2A 86 48 86 F7 0D 01 01 0B 05 00",  // sha256WithRSAEncryption, NULL
        "30 0D 06 09 2A 86 48 86 F7 0D 01 01 0A 30 00",  // RSASSA-PSS with empty parameters
        "30 1A 06 07 2A 86 48 CE 38 04 01 30 0F 02 03 01 00 01 02 02 00 80 02 01 02 02 01 03",
        "30 0C 06 08 2A 86 48 86 F7 0D 03 07 04 00",  // a primitive parameter other than NULL
    };
    for (const char* c : cases) {
        SCOPED_TRACE(c);
        const std::string der = H(c);
        TElASN1ConstrainedTag root;
        ASSERT_TRUE(LoadTagTree(root, der));
        ByteString oid, params;
        ASSERT_EQ(ReadAlgorithmIdentifier(*root.GetChild(0), oid, params), 0);
        TElASN1ConstrainedTag out;
        WriteAlgorithmIdentifier(out, oid, params);
        EXPECT_EQ(Hex(SaveTagToString(out)), Hex(der));
    }
}

TEST(AlgorithmIdentifier, AbsentParametersReadEmptyAndWriteAsNull) {
    const std::string der = H("30 07 06 05 2B 0E 03 02 1A");
    TElASN1ConstrainedTag root;
    ASSERT_TRUE(LoadTagTree(root, der));
    ByteString oid, params = "old";
    ASSERT_EQ(ReadAlgorithmIdentifier(*root.GetChild(0), oid, params), 0);
    EXPECT_EQ(Hex(oid), "2B0E03021A");
    EXPECT_TRUE(params.empty());
    TElASN1ConstrainedTag out;
    out.AddChild(false);  // dropped by the writer
    WriteAlgorithmIdentifier(out, oid, params, 0xA1);
    EXPECT_EQ(Hex(SaveTagToString(out)), "A1090605" "2B0E03021A" "0500");
}

TEST(AlgorithmIdentifier, MalformedIdentifiersAreRefusedUntouched) {
    struct Case {
        const char* der;
        bool anyTag;
    } cases[] = {
        {"30 00", false},                                  // no element
        {"30 04 05 00 05 00", false},                      // first element not an OID
        {"30 0C 06 03 2B 0E 03 05 00 05 00 02 01 00", false},  // three elements
        {"31 07 06 05 2B 0E 03 02 1A", false},             // a SET without anyTag
        {"04 07 06 05 2B 0E 03 02 1A", true},              // primitive
        {"30 09 26 07 06 05 2B 0E 03 02 1A", false},       // a constructed OID
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.der);
        const std::string der = H(c.der);
        TElASN1ConstrainedTag root;
        ASSERT_TRUE(LoadTagTree(root, der));
        ByteString oid = "o", params = "p";
        EXPECT_EQ(ReadAlgorithmIdentifier(*root.GetChild(0), oid, params, c.anyTag),
                  SB_PKCS7_ERROR_INVALID_ALGORITHM_IDENTIFIER);
        EXPECT_EQ(oid, "o");
        EXPECT_EQ(params, "p");
    }
    const std::string set = H("31 07 06 05 2B 0E 03 02 1A");
    TElASN1ConstrainedTag root;
    ASSERT_TRUE(LoadTagTree(root, set));
    ByteString oid, params;
    EXPECT_EQ(ReadAlgorithmIdentifier(*root.GetChild(0), oid, params, true), 0);
}

}  // namespace
