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

TEST_F(ResultSet, UnidirectionalRowsAreReleasedAndComeBackForChanges) {
    SimpleRows(8);
    TSDQuery& q = Query();
    q.OnUpdateRecord = [](rtl::TDataSet&, rtl::TUpdateKind, rtl::TUpdateAction& a) { a = rtl::uaApplied; };
    q.SetUniDirectional(true);
    q.Open();
    TSDResultSet& rs = *q.ResultSet();
    for (int i = 0; i < 4; ++i)
        q.Next();
    ASSERT_EQ(q.FieldByName("ID").AsInteger(), 5);
    ASSERT_EQ(rs.Count(), 5);
    // Released rows read as unchanged rows without buffers.
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(rs.HasEntry(i)) << i;
        EXPECT_EQ(rs.GetItemStatus(i), rtl::usUnmodified);
        EXPECT_EQ(rs.GetItemFlag(i), 1);
        EXPECT_THROW(rs.GetItemBuffer(i), rtl::EDatabaseError);
        EXPECT_FALSE(rs.CommitItem(i));
    }
    EXPECT_TRUE(rs.HasEntry(4));
    EXPECT_EQ(rs.FindRowIndex(4), 4);
    EXPECT_EQ(rs.FindRowIndex(0), -1);
    EXPECT_THROW(rs.GetItemBuffer(5), rtl::EDatabaseError);
    // A changed row is kept while later rows come and go.
    q.Edit();
    q.FieldByName("NAME").SetAsString("five");
    q.Post();
    q.Next();
    q.Next();
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 7);
    EXPECT_EQ(rs.Count(), 7);
    EXPECT_FALSE(rs.HasEntry(5));
    ASSERT_EQ(rs.GetItemStatus(4), rtl::usModified);
    EXPECT_EQ(Id(q, 4), 5);
    EXPECT_EQ(q.RecNoOf(rs.GetItemBuffer(6)), 6);
    EXPECT_THROW(rs.ExchangeItems(0, 4), rtl::EDatabaseError);
    // A flag set on a released row is kept; the other rows stay where they were.
    rs.SetItemFlag(1, 0);
    EXPECT_EQ(rs.GetItemFlag(1), 0);
    EXPECT_EQ(rs.Count(), 7);
    EXPECT_FALSE(rs.HasEntry(1));
    EXPECT_EQ(Id(q, 4), 5);
    EXPECT_EQ(q.BookmarkOf(rs.GetItemBuffer(6)), 6);
    // Reading goes on; a deleted fetched row leaves the cache when its delete is committed.
    q.Next();
    ASSERT_EQ(q.FieldByName("ID").AsInteger(), 8);
    EXPECT_EQ(q.FieldByName("NAME").AsString(), "n8");
    EXPECT_EQ(rs.DeleteRow(rs.GetItemBuffer(7)), 7);
    ASSERT_EQ(rs.GetItemStatus(7), rtl::usDeleted);
    rs.SetItemFlag(7, 1);
    EXPECT_TRUE(rs.CommitItem(7));
    EXPECT_EQ(rs.Count(), 7);
    EXPECT_EQ(rs.DeletedCount(), 0);
    EXPECT_EQ(Id(q, 4), 5);
    EXPECT_EQ(rs.GetItemFlag(1), 0);
    q.Next();
    EXPECT_TRUE(q.Eof());
}
