// The OLE DB driver over the stand-in provider.
#include <gtest/gtest.h>

#include "database/drivers/OleDbTestSupport.h"

using odbctest::Rows;
using oledbtest::OleDbStandin;
using oledbtest::Session;

namespace {

class OleDb : public ::testing::Test {
protected:
    void SetUp() override { KW_REQUIRE_PEER(standin_.Available(), "the OLE DB stand-in provider"); }
    void TearDown() override {
        EXPECT_EQ(standin_.LiveObjects(), 0) << "objects of the provider were not released";
        EXPECT_EQ(standin_.OutstandingRows(), 0) << "row handles were not released";
        EXPECT_EQ(com::CoInitializeCount(), 0);
    }
    OleDbStandin standin_;
};

TEST_F(OleDb, Smoke) {
    Session s;
    s.Exec("create table T (ID integer not null primary key, NAME varchar(20))");
    s.Exec("insert into T values (1, 'a')");
    EXPECT_EQ(s.Query("select ID, NAME from T"), (Rows{{"1", "a"}}));
}

}  // namespace
