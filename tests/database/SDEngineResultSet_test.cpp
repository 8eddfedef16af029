// The row cache of a data set, driven directly: fetching, moves, exchanges, commits and the
// record numbers they keep.
#include <gtest/gtest.h>

#include "FakeDataSetFixture.h"

using fakeds::Fixture;

namespace {

class ResultSet : public Fixture {
protected:
    static int Id(TSDQuery& q, int index) {
        const rtl::RecordBuffer& b = q.ResultSet()->GetItemBuffer(index);
        int32_t id = 0;
        std::memcpy(&id, b.Data() + q.FieldSlot(q.FieldByName("ID")) + 1, 4);
        return id;
    }
};

}  // namespace

TEST_F(ResultSet, FetchAllKeepsThePosition) {
    TSDQuery& q = OpenEditable(3);
    TSDResultSet& rs = *q.ResultSet();
    rs.SetPosition(0);
    rs.FetchAll();
    EXPECT_EQ(rs.Count(), 3);
    EXPECT_TRUE(rs.AllFetched());
    EXPECT_EQ(rs.Position(), 0);
    EXPECT_FALSE(rs.FetchNext());
}

TEST_F(ResultSet, ExchangeKeepsPositionsNumbered) {
    TSDQuery& q = OpenEditable(3);
    q.FetchAll();
    TSDResultSet& rs = *q.ResultSet();
    q.Last();
    q.Edit();
    q.FieldByName("NAME").SetAsString("changed");
    q.Post();  // row 2 is modified
    rs.ExchangeItems(0, 2);
    EXPECT_EQ(Id(q, 0), 3);
    EXPECT_EQ(q.RecNoOf(rs.GetItemBuffer(0)), 0);
    EXPECT_EQ(q.BookmarkOf(rs.GetItemBuffer(0)), 0);
    EXPECT_EQ(rs.GetItemStatus(0), rtl::usModified);  // the status travels with the row
    ASSERT_NE(rs.GetOldItemBuffer(0), nullptr);
    EXPECT_EQ(q.BookmarkOf(*rs.GetOldItemBuffer(0)), 0);
    EXPECT_EQ(Id(q, 2), 1);
    EXPECT_EQ(rs.GetItemStatus(2), rtl::usUnmodified);
}

TEST_F(ResultSet, MovesSkipHiddenRows) {
    TSDQuery& q = OpenEditable(4);
    q.FetchAll();
    TSDResultSet& rs = *q.ResultSet();
    q.SetRecNoValue(2);
    q.Delete();  // ID 2 hidden
    auto buffer = q.NewRecordBuffer();
    rs.SetPosition(-1);
    ASSERT_TRUE(rs.GetRecord(*buffer, rtl::gmNext));
    EXPECT_EQ(rs.Position(), 0);
    ASSERT_TRUE(rs.GetRecord(*buffer, rtl::gmNext));
    EXPECT_EQ(rs.Position(), 2);
    ASSERT_TRUE(rs.GetRecord(*buffer, rtl::gmPrior));
    EXPECT_EQ(rs.Position(), 0);
    EXPECT_FALSE(rs.GetRecord(*buffer, rtl::gmPrior));
    EXPECT_EQ(rs.Position(), -1);
    rs.SetPosition(1);
    ASSERT_TRUE(rs.GetRecord(*buffer, rtl::gmCurrent));
    EXPECT_EQ(rs.Position(), 2);
    EXPECT_EQ(rs.GetVisibleCount(), 3);
    EXPECT_EQ(rs.FindRowIndex(1), 2);
    EXPECT_EQ(rs.FindRowIndex(5), -1);
    EXPECT_THROW(rs.IsRowVisible(7), rtl::EDatabaseError);
    EXPECT_THROW(rs.GetItemBuffer(-1), rtl::EDatabaseError);
}

TEST_F(ResultSet, CommittingADeletedRowDoesNotShiftTheOthersTwice) {
    TSDQuery& q = OpenEditable(3);
    q.FetchAll();
    TSDResultSet& rs = *q.ResultSet();
    q.Delete();  // row 0
    ASSERT_EQ(q.RecNoOf(rs.GetItemBuffer(1)), 0);
    rs.SetItemFlag(0, 1);  // its change reached the server
    EXPECT_TRUE(rs.CommitItem(0));
    ASSERT_EQ(rs.Count(), 2);
    EXPECT_EQ(rs.DeletedCount(), 0);
    EXPECT_EQ(q.RecNoOf(rs.GetItemBuffer(0)), 0);
    EXPECT_EQ(q.RecNoOf(rs.GetItemBuffer(1)), 1);
    EXPECT_EQ(q.BookmarkOf(rs.GetItemBuffer(1)), 1);
    // A row whose change was not applied is not committed.
    q.First();  // the data set reads the cache as it is now
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 2);
    q.Edit();
    q.FieldByName("NAME").SetAsString("x");
    q.Post();
    ASSERT_EQ(rs.GetItemStatus(0), rtl::usModified);
    EXPECT_FALSE(rs.CommitItem(0));
    EXPECT_EQ(rs.GetItemStatus(0), rtl::usModified);
    rs.CommitStatuses();
    EXPECT_EQ(rs.GetItemStatus(0), rtl::usUnmodified);
}
