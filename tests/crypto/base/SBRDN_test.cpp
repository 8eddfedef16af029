// The parameter-list use of TElRelativeDistinguishedName: entries in insertion order, each in a
// group of its own, tag 0 stored as 4, index errors.
#include "crypto/base/SBRDN.h"

#include <gtest/gtest.h>

namespace {

TEST(RelativeDistinguishedName, AddAppendsEntriesInGroupsOfTheirOwn) {
    TElRelativeDistinguishedName list;
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.Add("first@id", "one"), 0);
    EXPECT_EQ(list.Add("second@id", ByteString("\0\x01", 2), 0x0C), 1);
    EXPECT_EQ(list.Add("first@id", ""), 2);
    EXPECT_EQ(list.GetCount(), 3);
    EXPECT_EQ(list.GetOID(0), "first@id");
    EXPECT_EQ(list.GetValue(1), ByteString("\0\x01", 2));
    EXPECT_EQ(list.GetTag(0), 4);
    EXPECT_EQ(list.GetTag(1), 0x0C);
    EXPECT_EQ(list.GetGroup(0), 0);
    EXPECT_EQ(list.GetGroup(2), 2);
    EXPECT_THROW(list.GetOID(3), rtl::EListError);
    EXPECT_THROW(list.GetValue(-1), rtl::EListError);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The Name half: DER form, comparisons, the remaining accessors.

#include "crypto/base/SBASN1Tree.h"
#include "crypto/base/SBConstants.h"
#include "rtl/StringList.h"
#include "tests/crypto/ASN1TestSupport.h"

namespace {

using asn1test::H;
using asn1test::Hex;

const std::string kCN(SB_OID_X520_COMMON_NAME);
const std::string kO(SB_OID_X520_ORGANIZATION);

TElRelativeDistinguishedName Name(std::initializer_list<std::tuple<std::string, std::string, uint8_t>> entries) {
    TElRelativeDistinguishedName n;
    for (const auto& [oid, value, tag] : entries)
        n.Add(oid, value, tag);
    return n;
}

TEST(DistinguishedName, SetCountGrowsWithGroupsOfTheirOwnAndShrinksFromTheEnd) {
    TElRelativeDistinguishedName n;
    n.SetCount(3);
    ASSERT_EQ(n.GetCount(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(n.GetGroup(i), i);
        EXPECT_EQ(n.GetTag(i), 4);
        EXPECT_EQ(n.GetOID(i), "");
    }
    n.SetOID(0, kCN);
    n.SetValue(0, "x");
    n.SetTag(0, 0x0C);
    n.SetGroup(0, 7);
    n.SetCount(1);
    ASSERT_EQ(n.GetCount(), 1);
    EXPECT_EQ(n.GetOID(0), kCN);
    EXPECT_EQ(n.GetValue(0), "x");
    EXPECT_EQ(n.GetTag(0), 0x0C);
    EXPECT_EQ(n.GetGroup(0), 7);
    EXPECT_THROW(n.SetValue(1, "y"), rtl::EListError);
    n.Clear();
    EXPECT_EQ(n.GetCount(), 0);
}

TEST(DistinguishedName, GroupsDecideTheSets) {
    // groups 0, 0, 1: two SETs, the first with two attributes; 0, 1, 0: three SETs.
    TElRelativeDistinguishedName n = Name({{kCN, "a", 0x13}, {kO, "b", 0x0C}, {kCN, "c", 0x13}});
    n.SetGroup(1, 0);
    n.SetGroup(2, 1);
    const std::string atv1 = "3008060355040313" "0161";
    const std::string atv2 = "300806035504" "0A0C0162";
    const std::string atv3 = "3008060355040313" "0163";
    EXPECT_EQ(Hex(n.SaveToDER()), "3022" "3114" + atv1 + atv2 + "310A" + atv3);
    n.SetGroup(1, 1);
    n.SetGroup(2, 0);
    EXPECT_EQ(Hex(n.SaveToDER()), "3024" "310A" + atv1 + "310A" + atv2 + "310A" + atv3);
    EXPECT_EQ(Hex(TElRelativeDistinguishedName().SaveToDER()), "3000");
}

TEST(DistinguishedName, LoadsAndSavesBackTheSameBytes) {
    // Two attributes in one SET, a BMPString and a constructed value.
    const std::string name = H("30 3A"
                               "31 15 30 09 06 03 55 04 03 13 02 61 62 30 08 06 03 55 04 0A 0C 01 62"
                               "31 0D 30 0B 06 03 55 04 0B 1E 04 00 6F 00 75"
                               "31 12 30 10 06 03 55 04 2D 30 09 02 01 05 03 04 00 AB CD EF");
    TElASN1ConstrainedTag root;
    ASSERT_TRUE(root.LoadFromBuffer(name.data(), name.size()));
    TElRelativeDistinguishedName n;
    ASSERT_TRUE(n.LoadFromTag(static_cast<const TElASN1ConstrainedTag&>(*root.GetChild(0))));
    ASSERT_EQ(n.GetCount(), 4);
    EXPECT_EQ(n.GetGroup(0), 0);
    EXPECT_EQ(n.GetGroup(1), 0);
    EXPECT_EQ(n.GetGroup(2), 1);
    EXPECT_EQ(n.GetValue(0), "ab");
    EXPECT_EQ(n.GetTag(0), 0x13);
    EXPECT_EQ(n.GetTag(2), 0x1E);
    EXPECT_EQ(n.GetValue(2), H("00 6F 00 75"));
    EXPECT_EQ(n.GetTag(3), 0x30);
    EXPECT_EQ(Hex(n.GetValue(3)), "020105030400ABCDEF");
    EXPECT_EQ(Hex(n.SaveToDER()), Hex(name));
}

TEST(DistinguishedName, MalformedNamesAnswerFalseAndKeepWhatWasRead) {
    struct Case {
        const char* der;
        bool ignoreTop;
        bool ok;
        int count;
    } cases[] = {
        {"30 00", false, true, 0},
        // A SET at the top: false unless the top tag is ignored.
        {"31 0C 31 0A 30 08 06 03 55 04 03 13 01 61", false, false, 3 /* untouched */},
        {"31 0C 31 0A 30 08 06 03 55 04 03 13 01 61", true, true, 1},
        {"30 0C 31 0A 30 08 06 03 55 04 03 13 01 61", false, true, 1},
        // The second SET holds an attribute of three elements: the first SET's entry stays.
        {"30 1C 31 0A 30 08 06 03 55 04 03 13 01 61 31 0E 30 0C 06 03 55 04 03 13 01 62 05 00 05 00",
         false, false, 1},
        // A type that is not an OID, an element that is not a SET, a SEQUENCE that is not one.
        {"30 0C 31 0A 30 08 04 03 55 04 03 13 01 61", false, false, 0},
        {"30 0C 30 0A 30 08 06 03 55 04 03 13 01 61", false, false, 0},
        {"30 0C 31 0A 31 08 06 03 55 04 03 13 01 61", false, false, 0},
        // A value with a tag number of 31 or more cannot be kept in one tag byte.
        {"30 0D 31 0B 30 09 06 03 55 04 03 1F 21 01 61", false, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.der);
        const std::string der = H(c.der);
        TElASN1ConstrainedTag root;
        ASSERT_TRUE(root.LoadFromBuffer(der.data(), der.size()));
        TElRelativeDistinguishedName n = Name({{kCN, "x", 0}, {kCN, "y", 0}, {kCN, "z", 0}});
        EXPECT_EQ(n.LoadFromTag(static_cast<const TElASN1ConstrainedTag&>(*root.GetChild(0)), c.ignoreTop), c.ok);
        EXPECT_EQ(n.GetCount(), c.count);
    }
}

TEST(DistinguishedName, EqualityIsTheSameEntriesBothWays) {
    const auto a = Name({{kCN, "a", 0x13}});
    const auto aa = Name({{kCN, "a", 0x13}, {kCN, "a", 0x13}});
    const auto ab = Name({{kCN, "a", 0x13}, {kO, "b", 0x13}});
    const auto ba = Name({{kO, "b", 0x13}, {kCN, "a", 0x13}});
    const auto utf8 = Name({{kCN, "a", 0x0C}});
    EXPECT_TRUE(RDNsEqual(TElRelativeDistinguishedName(), TElRelativeDistinguishedName()));
    EXPECT_TRUE(RDNsEqual(ab, ba));
    // One-sided matching would call these equal: same count, each entry of aa found in ab.
    EXPECT_FALSE(RDNsEqual(aa, ab));
    EXPECT_FALSE(RDNsEqual(ab, aa));
    EXPECT_FALSE(RDNsEqual(a, utf8));
    EXPECT_FALSE(RDNsEqual(a, ab));
    EXPECT_TRUE(RDNsEqual(aa, Name({{kCN, "a", 0x13}, {kCN, "a", 0x13}})));
    // Exact: no case folding.
    EXPECT_FALSE(RDNsEqual(a, Name({{kCN, "A", 0x13}})));

    EXPECT_TRUE(RDNIsSubset(TElRelativeDistinguishedName(), ab));
    EXPECT_TRUE(RDNIsSubset(a, ab));
    EXPECT_TRUE(RDNIsSubset(aa, ab));
    EXPECT_FALSE(RDNIsSubset(ab, a));
    EXPECT_FALSE(RDNIsSubset(utf8, ab));
}

TEST(DistinguishedName, ValuesByOIDAssignAndAssignTo) {
    const auto n = Name({{kCN, "a", 0x13}, {kO, "b", 0x13}, {kCN, "c", 0x0C}});
    n.GetValuesByOID(kCN, nullptr);
    rtl::StringList list;
    list.Add("stale");
    n.GetValuesByOID(kCN, &list);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list[0], "a");
    EXPECT_EQ(list[1], "c");
    n.GetValuesByOID(std::string(SB_OID_X520_COUNTRY), &list);
    EXPECT_EQ(list.Count(), 0);

    TElRelativeDistinguishedName copy;
    copy.Add("x", "y");
    copy.Assign(&n);
    EXPECT_TRUE(RDNsEqual(copy, n));
    EXPECT_EQ(copy.GetGroup(2), 2);
    TElRelativeDistinguishedName other;
    n.AssignTo(&other);
    EXPECT_EQ(other.SaveToDER(), n.SaveToDER());
    EXPECT_THROW(copy.Assign(nullptr), rtl::EConvertError);
    EXPECT_THROW(n.AssignTo(nullptr), rtl::EConvertError);
}

}  // namespace
