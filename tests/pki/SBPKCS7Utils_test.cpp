// The attribute list: count changes, type and value access, and the writer's order.
#include "pki/SBPKCS7Utils.h"

#include <gtest/gtest.h>

#include "crypto/base/SBASN1Tree.h"
#include "tests/crypto/ASN1TestSupport.h"

namespace {

using asn1test::H;
using asn1test::Hex;

std::string Write(const TElPKCS7Attributes& a, uint8_t tagByte) {
    TElASN1ConstrainedTag tag;
    WritePKCS7Attributes(tag, a, tagByte);
    return Hex(SaveTagToString(tag));
}

TEST(PKCS7Attributes, CountTypesAndValues) {
    TElPKCS7Attributes a;
    EXPECT_EQ(a.GetCount(), 0);
    EXPECT_EQ(a.GetValues(0), nullptr);
    a.SetCount(2);
    ASSERT_EQ(a.GetCount(), 2);
    EXPECT_EQ(a.GetAttributeType(1), "");
    EXPECT_TRUE(a.GetValues(1)->empty());
    a.SetAttributeType(0, H("2A 03"));
    a.SetAttributeType(2, H("2A 04"));  // ignored
    EXPECT_EQ(a.GetCount(), 2);
    a.GetValues(0)->push_back(H("04 01 AA"));
    a.SetCount(1);
    EXPECT_EQ(a.GetCount(), 1);
    EXPECT_EQ(a.GetValues(0)->size(), 1u);
    a.SetCount(0);
    EXPECT_EQ(a.GetValues(0), nullptr);
    EXPECT_THROW(a.GetAttributeType(0), rtl::EListError);
}

TEST(PKCS7Attributes, WritesInTheOrderGivenUnderTheTagByte) {
    TElPKCS7Attributes a;
    EXPECT_EQ(Write(a, 0x31), "3100");
    EXPECT_EQ(Write(a, 0xA0), "A000");
    a.SetCount(2);
    a.SetAttributeType(0, H("2A 03"));
    a.SetAttributeType(1, H("2A 04"));
    // B before A: a SET's values stay in the order they were added.
    a.GetValues(0)->push_back(H("04 01 BB"));
    a.GetValues(0)->push_back(H("04 01 AA"));
    EXPECT_EQ(Write(a, 0x31), "3116" "300C" "06022A03" "3106" "0401BB" "0401AA" "3006" "06022A04" "3100");
}

}  // namespace
