// The parameter-list use of TElRelativeDistinguishedName: entries in insertion order, each in a
// group of its own, tag 0 stored as 4, index errors.
#include "crypto/SBRDN.h"

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
