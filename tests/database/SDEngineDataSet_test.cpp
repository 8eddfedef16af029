// The engine's data set over the recording fake driver: fetching on demand, the unidirectional
// window, navigation and counts, field conversions, bookmarks, search, sort, edits in the cache,
// refresh and local rows.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "FakeDataSetFixture.h"
#include "database/engine/SDCommonBuffers.h"
#include "rtl/DateTime.h"

using fakeds::Fixture;

namespace {

std::vector<int> Ids(TSDQuery& q) {
    std::vector<int> ids;
    for (q.First(); !q.Eof(); q.Next())
        ids.push_back(q.FieldByName("ID").AsInteger());
    return ids;
}

}  // namespace

using DataSetFetch = Fixture;

TEST_F(DataSetFetch, RowsAreFetchedOnlyWhenAMoveNeedsThem) {
    SimpleRows(10);
    TSDQuery& q = Query();
    q.Open();
    EXPECT_EQ(FetchCalls(), 1);  // the first record
    EXPECT_EQ(q.ResultSet()->Count(), 1);
    q.Next();
    q.Next();
    EXPECT_EQ(FetchCalls(), 3);
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 3);
    EXPECT_EQ(q.RecNo(), 3);
    // A count needs every row; the position stays.
    EXPECT_EQ(q.RecordCount(), 10);
    EXPECT_EQ(FetchCalls(), 11);  // ten rows and the call that found the end
    EXPECT_TRUE(q.ResultSet()->AllFetched());
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 3);
    q.Next();
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 4);
    EXPECT_EQ(FetchCalls(), 11);
}

TEST_F(DataSetFetch, UnidirectionalKeepsOnlyTheLastRow) {
    SimpleRows(10);
    TSDQuery& q = Query();
    q.SetUniDirectional(true);
    q.Open();
    std::vector<std::string> names;
    for (; !q.Eof(); q.Next())
        names.push_back(q.FieldByName("NAME").AsString());
    ASSERT_EQ(names.size(), 10u);
    EXPECT_EQ(names.front(), "n1");
    EXPECT_EQ(names.back(), "n10");
    ASSERT_EQ(q.ResultSet()->Count(), 10);
    for (int i = 0; i < 9; ++i)
        EXPECT_FALSE(q.ResultSet()->HasEntry(i)) << i;
    EXPECT_TRUE(q.ResultSet()->HasEntry(9));
    EXPECT_EQ(q.RecordCount(), -1);
    // Going back to a released row is a clear error, not a read of freed memory.
    EXPECT_THROW(q.First(), rtl::EDatabaseError);
}

TEST_F(DataSetFetch, NavigationAndCounts) {
    SimpleRows(4);
    TSDQuery& q = Query();
    q.Open();
    EXPECT_TRUE(q.Bof());
    EXPECT_FALSE(q.Eof());
    EXPECT_EQ(q.RecNo(), 1);
    q.Last();
    EXPECT_TRUE(q.Eof());
    EXPECT_FALSE(q.Bof());
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 4);
    EXPECT_EQ(q.RecNo(), 4);
    q.Next();  // already at the end
    EXPECT_TRUE(q.Eof());
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 4);
    q.Prior();
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 3);
    EXPECT_FALSE(q.Eof());
    EXPECT_EQ(q.MoveBy(-5), -2);
    EXPECT_TRUE(q.Bof());
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 1);
    EXPECT_EQ(q.MoveBy(2), 2);
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 3);
    q.SetRecNoValue(2);
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 2);
    EXPECT_EQ(q.RecordCount(), 4);
    EXPECT_EQ(Ids(q), (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(DataSetFetch, EmptyResult) {
    SimpleRows(0);
    TSDQuery& q = Query();
    q.Open();
    EXPECT_TRUE(q.IsEmpty());
    EXPECT_TRUE(q.Eof());
    EXPECT_TRUE(q.Bof());
    EXPECT_EQ(q.RecNo(), 0);
    EXPECT_EQ(q.RecordCount(), 0);
    EXPECT_TRUE(q.FieldByName("ID").IsNull());
    q.Last();
    EXPECT_TRUE(q.Eof());
    EXPECT_THROW(q.Delete(), rtl::EDatabaseError);
}

TEST_F(DataSetFetch, RecNoBeyondTheCacheFetchesTheRest) {
    SimpleRows(10);
    TSDQuery& q = Query();
    q.Open();
    q.Next();
    q.Next();
    ASSERT_EQ(q.ResultSet()->Count(), 3);
    q.SetRecNoValue(5);
    EXPECT_TRUE(q.ResultSet()->AllFetched());
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 5);
    EXPECT_EQ(q.RecNo(), 5);
}

TEST_F(DataSetFetch, StatementWithoutResultSetLeavesTheDataSetClosedAndTheDatabaseReleased) {
    server.columns.clear();  // the fake answers "no result set"
    db->SetKeepConnection(false);
    TSDQuery& q = Query("update t set a = 1");
    try {
        q.Open();
        FAIL() << "no error";
    } catch (const ESDNoResultSet& e) {
        EXPECT_EQ(e.Message(), "Error creating cursor handle");
    }
    EXPECT_FALSE(q.Active());
    EXPECT_EQ(q.Database(), nullptr);
    EXPECT_EQ(db->DataSetCount(), 0);
    EXPECT_EQ(db->RefCount(), 0);
    EXPECT_FALSE(db->Connected());
}

TEST_F(DataSetFetch, ClosingReleasesTheDatabaseAndTheCommand) {
    SimpleRows(3);
    TSDQuery& q = Query();
    q.Open();
    EXPECT_EQ(db->RefCount(), 1);
    EXPECT_EQ(db->DataSetCount(), 1);
    EXPECT_NE(q.Command(), nullptr);
    q.Close();
    EXPECT_EQ(db->RefCount(), 0);
    EXPECT_EQ(db->DataSetCount(), 0);
    EXPECT_EQ(q.Command(), nullptr);
    EXPECT_EQ(q.FieldCount(), 0);  // default fields go with the close
    // Opening again reads the rows again.
    q.Open();
    EXPECT_EQ(q.RecordCount(), 3);
}

TEST_F(DataSetFetch, MissingFieldNamesTheDataSet) {
    SimpleRows(1);
    TSDQuery& q = Query();
    q.SetName("Q1");
    q.Open();
    try {
        q.FieldByName("NOPE");
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Q1: Campo 'NOPE' não encontrado");
    }
    EXPECT_EQ(&q.FieldByName("name"), &q.FieldByName("NAME"));
}

TEST_F(DataSetFetch, DatabaseNameMissingAndUnknownDatabase) {
    SimpleRows(1);
    TSDQuery& q = Query();
    q.SetDatabaseName("  ");
    try {
        q.Open();
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Database name missing");
    }
    q.SetDatabaseName("other");
    try {
        q.Open();
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Invalid database name other");
    }
    EXPECT_FALSE(q.Active());
}

TEST_F(DataSetFetch, ADatabaseNamingASessionMadeAfterItMovesThereWhenADataSetOpens) {
    SimpleRows(2);
    // No session of that name yet: the database stays in the default session meanwhile.
    db->SetSessionName("later");
    TSDSession later;
    later.SetSessionName("later");
    ASSERT_NE(db->Session(), &later);
    TSDQuery& q = Query();
    q.SetSessionName("later");
    q.Open();
    EXPECT_EQ(q.Database(), db.get());
    EXPECT_EQ(db->Session(), &later);
    EXPECT_EQ(Ids(q), (std::vector<int>{1, 2}));
    q.Close();
    // A data set whose session has no such database, while the default session has none either,
    // still fails as before.
    TSDSession empty;
    empty.SetSessionName("empty");
    TSDQuery& other = Query();
    other.SetSessionName("empty");
    try {
        other.Open();
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Invalid database name fakedb");
    }
}

// ---------------------------------------------------------------------------------------------
// Field conversions

using DataSetFields = Fixture;

TEST_F(DataSetFields, ValuesOfEachColumnType) {
    const rtl::TDateTime born = rtl::EncodeDate(1990, 5, 17) + rtl::EncodeTime(8, 30, 0, 0);
    const rtl::TTimeStamp ts = rtl::DateTimeToTimeStamp(born);
    server.columns = {{"I", ftInteger, 4}, {"S", ftSmallint, 2}, {"L", ftLargeint, 8},  {"F", ftFloat, 8},
                      {"T", ftString, 11}, {"B", ftBoolean, 2},  {"DT", ftDateTime, 8}, {"D", ftDate, 8},
                      {"TM", ftTime, 8},   {"N", ftInteger, 4}};
    server.rows = {{fake::IntCell(-7), fake::SmallCell(-300), fake::Int64Cell(int64_t(1) << 40),
                    fake::FloatCell(2.5), fake::TextCell("hello"), fake::SmallCell(1),
                    fake::DateTimeCell(TSDDateTimeRec::FromDateTime(rtl::TimeStampToMSecs(ts))),
                    fake::DateTimeCell(TSDDateTimeRec::FromDate(ts.Date)),
                    fake::DateTimeCell(TSDDateTimeRec::FromTime(ts.Time)), fake::Cell()}};
    TSDQuery& q = Query();
    q.Open();
    EXPECT_EQ(q.FieldByName("I").AsInteger(), -7);
    EXPECT_EQ(q.FieldByName("S").AsInteger(), -300);
    EXPECT_EQ(q.FieldByName("L").AsLargeInt(), int64_t(1) << 40);
    EXPECT_DOUBLE_EQ(q.FieldByName("F").AsFloat(), 2.5);
    EXPECT_EQ(q.FieldByName("T").AsString(), "hello");
    EXPECT_EQ(q.FieldByName("T").Size(), 10);
    EXPECT_TRUE(q.FieldByName("B").AsBoolean());
    EXPECT_DOUBLE_EQ(q.FieldByName("DT").AsDateTime(), born);
    EXPECT_DOUBLE_EQ(q.FieldByName("D").AsDateTime(), rtl::EncodeDate(1990, 5, 17));
    EXPECT_DOUBLE_EQ(q.FieldByName("TM").AsDateTime(), rtl::EncodeTime(8, 30, 0, 0));
    EXPECT_TRUE(q.FieldByName("N").IsNull());
    EXPECT_TRUE(q.FieldByName("N").Value().IsNull());
    EXPECT_EQ(q.FieldByName("N").AsInteger(), 0);
    EXPECT_FALSE(q.FieldByName("I").IsNull());
}

TEST_F(DataSetFields, PersistentFieldsOverOtherColumnTypes) {
    struct Case {
        const char* name;
        fake::Column column;
        fake::Cell cell;
        TFieldType fieldType;
        int fieldSize;
        std::string expected;  // the field's text, or the error message
        bool fails;
    };
    const rtl::TTimeStamp noon = rtl::DateTimeToTimeStamp(rtl::EncodeDate(2001, 2, 3) + 0.5);
    const Case cases[] = {
        {"64-bit integer keeps its low 32 bits",
         {"C", ftLargeint, 8},
         fake::Int64Cell((int64_t(5) << 32) + 42),
         ftInteger,
         0,
         "42",
         false},
        {"float is rounded", {"C", ftFloat, 8}, fake::FloatCell(41.6), ftInteger, 0, "42", false},
        {"negative smallint keeps its sign",
         {"C", ftSmallint, 2},
         fake::SmallCell(-5),
         ftInteger,
         0,
         "-5",
         false},
        {"long text is cut to the field",
         {"C", ftString, 41},
         fake::TextCell(std::string(40, 'x')),
         ftString,
         10,
         std::string(10, 'x'),
         false},
        {"date from a date-time column",
         {"C", ftDateTime, 8},
         fake::DateTimeCell(TSDDateTimeRec::FromDateTime(rtl::TimeStampToMSecs(noon))),
         ftDate,
         0,
         rtl::DateToStr(rtl::EncodeDate(2001, 2, 3)),
         false},
        {"time from a date-time column",
         {"C", ftDateTime, 8},
         fake::DateTimeCell(TSDDateTimeRec::FromDateTime(rtl::TimeStampToMSecs(noon))),
         ftTime,
         0,
         rtl::TimeToStr(0.5),
         false},
        // A value no 64-bit integer holds has no rounded value to keep the low bits of.
        {"float beyond every integer fails",
         {"C", ftFloat, 8},
         fake::FloatCell(1e30),
         ftInteger,
         0,
         "Valor fora dos limites para o campo 'C'",
         true},
        {"float that is no number fails",
         {"C", ftFloat, 8},
         fake::FloatCell(std::nan("")),
         ftInteger,
         0,
         "Valor fora dos limites para o campo 'C'",
         true},
        {"date from a date-time that is no number fails",
         {"C", ftDateTime, 8},
         fake::DateTimeCell(TSDDateTimeRec::FromDateTime(std::numeric_limits<double>::infinity())),
         ftDate,
         0,
         "Valor fora dos limites para o campo 'C'",
         true},
        {"integer over text fails",
         {"C", ftString, 41},
         fake::TextCell("12"),
         ftInteger,
         0,
         "Data conversion is not implemented for datatype String to Integer (TSDDataSet.ISqlCnvtFieldData)",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.columns = {c.column};
        server.rows = {{c.cell}};
        TSDQuery& q = Query();
        rtl::TField& f = q.AddField("C", c.fieldType, c.fieldSize);
        if (c.fails) {
            try {
                q.Open();
                FAIL() << "no error";
            } catch (const rtl::EDatabaseError& e) {
                EXPECT_EQ(e.Message(), c.expected);
            }
            EXPECT_FALSE(q.Active());
            continue;
        }
        q.Open();
        EXPECT_EQ(f.AsString(), c.expected);
        EXPECT_EQ(q.FieldCount(), 1);
        q.Close();
        EXPECT_EQ(q.FieldCount(), 1);  // persistent fields stay
    }
}

TEST_F(DataSetFields, PersistentFieldWithoutColumnFails) {
    SimpleRows(1);
    TSDQuery& q = Query();
    q.AddField("MISSING", ftInteger);
    EXPECT_THROW(q.Open(), rtl::EDatabaseError);
    EXPECT_FALSE(q.Active());
    EXPECT_EQ(db->DataSetCount(), 0);
}

TEST_F(DataSetFields, FieldDefsFromAClosedQuery) {
    SimpleRows(2);
    TSDQuery& q = Query();
    q.FieldDefs().Update();
    EXPECT_FALSE(q.Active());
    ASSERT_EQ(q.FieldDefs().Count(), 2);
    EXPECT_EQ(q.FieldDefs()[0].Name, "ID");
    EXPECT_EQ(q.FieldDefs()[1].DataType, ftString);
    EXPECT_EQ(q.FieldDefs()[1].Size, 20);
    EXPECT_EQ(db->DataSetCount(), 0);
}

TEST_F(DataSetFields, FieldRequiredParameter) {
    SimpleRows(1);
    db->Params().SetValue("FIELD REQUIRED", " true ");
    TSDQuery& q = Query();
    q.Open();
    EXPECT_TRUE(q.FieldByName("ID").Required);
    q.Close();
    db->Params().SetValue("FIELD REQUIRED", "no");
    q.SQL().SetText("select * from t2");
    q.Open();
    EXPECT_FALSE(q.FieldByName("ID").Required);
}

// ---------------------------------------------------------------------------------------------
// Bookmarks and search

using DataSetSearch = Fixture;

TEST_F(DataSetSearch, BookmarksGoBack) {
    SimpleRows(5);
    TSDQuery& q = Query();
    q.Open();
    q.MoveBy(2);
    const rtl::TBookmark mark = q.GetBookmark();
    ASSERT_EQ(mark.size(), 4u);
    EXPECT_TRUE(q.BookmarkValid(mark));
    q.Last();
    q.GotoBookmark(mark);
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 3);
    const rtl::TBookmark last = [&] {
        q.Last();
        return q.GetBookmark();
    }();
    EXPECT_EQ(q.CompareBookmarks(&mark, &last), -1);
    EXPECT_EQ(q.CompareBookmarks(&last, &mark), 1);
    EXPECT_EQ(q.CompareBookmarks(nullptr, &mark), 1);
    EXPECT_EQ(q.CompareBookmarks(nullptr, nullptr), 0);
}

TEST_F(DataSetSearch, LocateFetchesUntilTheKeyIsFound) {
    SimpleRows(10);
    TSDQuery& q = Query();
    q.Open();
    ASSERT_EQ(q.ResultSet()->Count(), 1);
    EXPECT_TRUE(q.Locate("ID", rtl::Variant(int32_t(7)), 0));
    EXPECT_EQ(q.FieldByName("NAME").AsString(), "n7");
    EXPECT_EQ(q.ResultSet()->Count(), 7);  // no row past the match
    EXPECT_FALSE(q.ResultSet()->AllFetched());
    EXPECT_EQ(q.RecNo(), 7);
    q.Next();
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 8);
}

TEST_F(DataSetSearch, LocateOptionsAndMisses) {
    server.columns = {{"ID", ftInteger, 4}, {"NAME", ftString, 21}, {"CITY", ftString, 21}};
    server.rows = {{fake::IntCell(1), fake::TextCell("Ana"), fake::TextCell("Rio")},
                   {fake::IntCell(2), fake::TextCell("anabela"), fake::TextCell("Sao Paulo")},
                   {fake::IntCell(3), fake::TextCell("Bruno"), fake::TextCell("Rio")}};
    struct Case {
        const char* keys;
        rtl::Variant values;
        rtl::TLocateOptions options;
        int expected;  // ID found, 0 for none
    };
    const Case cases[] = {
        {"NAME", rtl::Variant("ana"), 0, 0},
        {"NAME", rtl::Variant("ana"), rtl::loCaseInsensitive, 1},
        {"NAME", rtl::Variant("anab"), rtl::loPartialKey, 2},
        {"NAME", rtl::Variant("BRU"), rtl::loPartialKey | rtl::loCaseInsensitive, 3},
        {"NAME;CITY", rtl::Variant::FromArray({rtl::Variant("Bruno"), rtl::Variant("Rio")}), 0, 3},
        {"NAME;CITY", rtl::Variant::FromArray({rtl::Variant("Bruno"), rtl::Variant("Sao Paulo")}), 0, 0},
        {"ID", rtl::Variant(int32_t(9)), 0, 0},
    };
    TSDQuery& q = Query();
    q.Open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        q.First();
        const bool found = q.Locate(c.keys, c.values, c.options);
        EXPECT_EQ(found, c.expected != 0);
        // A miss leaves the current record where it was.
        EXPECT_EQ(q.FieldByName("ID").AsInteger(), found ? c.expected : 1);
    }
}

TEST_F(DataSetSearch, LookupGivesValuesWithoutMoving) {
    SimpleRows(5);
    TSDQuery& q = Query();
    q.Open();
    const rtl::Variant name = q.Lookup("ID", rtl::Variant(int32_t(4)), "NAME");
    EXPECT_EQ(name.AsString(), "n4");
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 1);
    const rtl::Variant both = q.Lookup("NAME", rtl::Variant("n2"), "ID;NAME");
    ASSERT_TRUE(both.IsArray());
    EXPECT_EQ(both.Element(0).AsInteger(), 2);
    EXPECT_EQ(both.Element(1).AsString(), "n2");
    EXPECT_TRUE(q.Lookup("ID", rtl::Variant(int32_t(99)), "NAME").IsNull());
    // Lookup is exact and case-sensitive.
    EXPECT_TRUE(q.Lookup("NAME", rtl::Variant("N2"), "ID").IsNull());
    q.Next();
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 2);
}

TEST_F(DataSetSearch, LookupInsideOnCalcFieldsLeavesTheCalculationOnItsRecord) {
    SimpleRows(3);
    TSDQuery& q = Query();
    q.AddField("ID", ftInteger);
    q.AddField("NAME", ftString, 20);
    rtl::TField& next = q.AddField("NEXTNAME", ftString, 20, rtl::fkCalculated);
    bool inLookup = false;
    q.OnCalcFields = [&](rtl::TDataSet& ds) {
        if (inLookup) return;  // the looked-up row's own calculation
        inLookup = true;
        const rtl::Variant v =
            ds.Lookup("ID", rtl::Variant(int32_t(ds.FieldByName("ID").AsInteger() + 1)), "NAME");
        inLookup = false;
        // Written after the lookup: it must land on the record being calculated.
        next.SetValue(v);
    };
    q.Open();
    std::vector<std::string> names;
    for (q.First(); !q.Eof(); q.Next())
        names.push_back(next.AsString());
    EXPECT_EQ(names, (std::vector<std::string>{"n2", "n3", ""}));
}

TEST_F(DataSetSearch, FindNextAndPriorFollowTheFilter) {
    SimpleRows(6);
    TSDQuery& q = Query();
    q.Open();
    q.SetOnFilterRecord(
        [](rtl::TDataSet& ds, bool& accept) { accept = ds.FieldByName("ID").AsInteger() % 2 == 0; });
    EXPECT_TRUE(q.FindFirst());
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 2);
    EXPECT_TRUE(q.FindNext());
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 4);
    EXPECT_TRUE(q.FindLast());
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 6);
    EXPECT_TRUE(q.FindPrior());
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 4);
    EXPECT_FALSE(q.Filtered());  // the find used the filter without filtering the data set
    q.Next();
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 5);
}

// ---------------------------------------------------------------------------------------------
// Browse reads: fields read browse-state values straight from the active record at the slot the
// layout gave them; every change of record, state or layout must show in what they read.

using DataSetBrowse = Fixture;

TEST_F(DataSetBrowse, ReopeningWithColumnsInAnotherOrderReadsTheNewSlots) {
    TSDQuery& q = Query();
    rtl::TField& id = q.AddField("ID", ftInteger);
    rtl::TField& name = q.AddField("NAME", ftString, 20);
    rtl::TField& twice = q.AddField("TWICE", ftInteger, 0, rtl::fkCalculated);
    q.OnCalcFields = [&](rtl::TDataSet&) { twice.SetAsInteger(id.AsInteger() * 2); };
    server.columns = {{"ID", ftInteger, 4}, {"NAME", ftString, 21}};
    server.rows = {{fake::IntCell(1), fake::TextCell("one")}, {fake::IntCell(2), fake::TextCell("two")}};
    q.Open();
    q.Next();
    EXPECT_EQ(id.AsInteger(), 2);
    EXPECT_EQ(name.AsString(), "two");
    EXPECT_EQ(twice.AsInteger(), 4);
    q.Close();
    // The same fields over another statement's layout: other numbers, other slots, a longer record.
    q.SQL().SetText("select note, name, amount, id from t");
    server.columns = {{"NOTE", ftString, 31}, {"NAME", ftString, 21}, {"AMOUNT", ftFloat, 8}, {"ID", ftInteger, 4}};
    server.rows = {{fake::TextCell("first note"), fake::TextCell("seven"), fake::FloatCell(1.5), fake::IntCell(7)},
                   {fake::TextCell("second"), fake::Cell(), fake::FloatCell(2.5), fake::IntCell(8)}};
    q.Open();
    EXPECT_EQ(id.FieldNo(), 4);
    EXPECT_EQ(id.AsInteger(), 7);
    EXPECT_EQ(name.AsString(), "seven");
    EXPECT_EQ(twice.AsInteger(), 14);
    q.Next();
    EXPECT_EQ(id.AsInteger(), 8);
    EXPECT_TRUE(name.IsNull());
    EXPECT_EQ(name.AsString(), "");
    EXPECT_TRUE(name.Value().IsNull());
    // Closed, nothing is read.
    q.Close();
    EXPECT_TRUE(id.IsNull());
    EXPECT_EQ(id.AsInteger(), 0);
}

TEST_F(DataSetBrowse, FilterAndFindReadTheRecordTheyJudge) {
    SimpleRows(6);
    TSDQuery& q = Query();
    std::vector<std::string> judged;
    q.SetOnFilterRecord([&](rtl::TDataSet& ds, bool& accept) {
        // Read while another record is the active one.
        const int i = ds.FieldByName("ID").AsInteger();
        judged.push_back(ds.FieldByName("NAME").AsString());
        accept = i % 2 == 0 && ds.FieldByName("NAME").AsString() == "n" + std::to_string(i);
    });
    q.SetFiltered(true);
    q.Open();
    EXPECT_EQ(Ids(q), (std::vector<int>{2, 4, 6}));
    EXPECT_EQ(judged.front(), "n1");
    q.SetFiltered(false);
    q.First();
    EXPECT_TRUE(q.FindNext());
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 2);
    EXPECT_EQ(q.FieldByName("NAME").AsString(), "n2");
}

TEST_F(DataSetBrowse, EditsInTheCacheShowInTheActiveRecord) {
    TSDQuery& q = OpenEditable(3);
    rtl::TField& id = q.FieldByName("ID");
    rtl::TField& name = q.FieldByName("NAME");
    q.Edit();
    name.SetAsString("dropped");
    EXPECT_EQ(name.AsString(), "dropped");
    q.Cancel();
    EXPECT_EQ(name.AsString(), "n1");
    // A posted change stays pending in the cache and is what browsing reads, there and back.
    q.Edit();
    name.SetAsString("kept");
    id.SetAsInteger(10);
    q.Post();
    EXPECT_EQ(q.State(), rtl::dsBrowse);
    EXPECT_EQ(name.AsString(), "kept");
    EXPECT_EQ(id.AsInteger(), 10);
    EXPECT_EQ(name.OldValue().AsString(), "n1");
    q.Next();
    EXPECT_EQ(name.AsString(), "n2");
    q.Prior();
    EXPECT_EQ(name.AsString(), "kept");
    EXPECT_EQ(id.AsInteger(), 10);
    // A cancelled insert leaves the record it started on.
    q.Next();
    q.Insert();
    id.SetAsInteger(99);
    EXPECT_EQ(id.AsInteger(), 99);
    q.Cancel();
    EXPECT_EQ(id.AsInteger(), 2);
    EXPECT_EQ(name.AsString(), "n2");
    // A delete makes the next record the active one.
    q.Delete();
    EXPECT_EQ(id.AsInteger(), 3);
    EXPECT_EQ(name.AsString(), "n3");
    // An empty data set reads nothing.
    q.Delete();
    q.Delete();
    EXPECT_TRUE(q.IsEmpty());
    EXPECT_TRUE(id.IsNull());
    EXPECT_EQ(name.AsString(), "");
}

TEST_F(DataSetBrowse, MemoAndRefreshFollowTheActiveRecord) {
    server.columns = {{"ID", ftInteger, 4}, {"M", ftMemo, 0}, {"D", ftDateTime, 8}};
    for (int i = 0; i < 3; ++i)
        server.rows.push_back({fake::IntCell(i + 1), fake::Cell(),
                               fake::DateTimeCell(TSDDateTimeRec::FromDateTime((i + 1) * double(rtl::MSecsPerDay)))});
    server.blobs["0:2"] = {'f', 'i', 'r', 's', 't'};
    server.blobs["2:2"] = {'t', 'h', 'i', 'r', 'd'};
    TSDQuery& q = Query();
    q.Open();
    rtl::TField& memo = q.FieldByName("M");
    rtl::TField& when = q.FieldByName("D");
    std::vector<std::string> memos;
    std::vector<rtl::TDateTime> dates;
    for (; !q.Eof(); q.Next()) {
        memos.push_back(memo.IsNull() ? "null" : memo.AsString());
        dates.push_back(when.AsDateTime());
    }
    EXPECT_EQ(memos, (std::vector<std::string>{"first", "null", "third"}));
    const rtl::TDateTime day1 = rtl::TimeStampToDateTime(rtl::MSecsToTimeStamp(double(rtl::MSecsPerDay)));
    EXPECT_EQ(dates, (std::vector<rtl::TDateTime>{day1, day1 + 1, day1 + 2}));
    q.Prior();
    q.Refresh();
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 2);
    EXPECT_TRUE(memo.IsNull());
    EXPECT_DOUBLE_EQ(when.AsDateTime(), day1 + 1);
    q.Next();
    EXPECT_EQ(memo.AsString(), "third");
}

// ---------------------------------------------------------------------------------------------
// Sort

using DataSetSort = Fixture;

TEST_F(DataSetSort, TwoFieldsWithOneFlagSortBothAscending) {
    server.columns = {{"ID", ftInteger, 4}, {"GRP", ftString, 11}, {"VAL", ftInteger, 4}};
    server.rows = {{fake::IntCell(1), fake::TextCell("b"), fake::IntCell(2)},
                   {fake::IntCell(2), fake::TextCell("a"), fake::IntCell(9)},
                   {fake::IntCell(3), fake::TextCell("b"), fake::IntCell(1)},
                   {fake::IntCell(4), fake::TextCell("a"), fake::IntCell(3)},
                   {fake::IntCell(5), fake::Cell(), fake::IntCell(7)}};
    TSDQuery& q = Query();
    q.Open();
    q.SortRecords({1, 2}, {false}, {true});
    EXPECT_EQ(Ids(q), (std::vector<int>{5, 4, 2, 3, 1}));  // null first
    q.SortRecords({1, 2}, {false}, {false, true});
    EXPECT_EQ(Ids(q), (std::vector<int>{3, 1, 4, 2, 5}));
    // Record numbers and bookmarks follow the new order.
    q.First();
    q.Next();
    EXPECT_EQ(q.RecNo(), 2);
    EXPECT_EQ(q.ResultSet()->GetRowIndex(q.ResultSet()->GetItemBuffer(1)), 1);
    EXPECT_THROW(q.SortRecords({}, {}, {}), rtl::Exception);
}

TEST_F(DataSetSort, EqualRowsKeepTheirOrderAndTheCurrentRowFollows) {
    server.columns = {{"ID", ftInteger, 4}, {"NAME", ftString, 11}};
    const char* names[] = {"b", "A", "a", "B", "a", "c"};
    for (int i = 0; i < 6; ++i)
        server.rows.push_back({fake::IntCell(i + 1), fake::TextCell(names[i])});
    TSDQuery& q = Query();
    q.Open();
    q.MoveBy(3);  // ID 4, "B"
    q.SortRecords({1}, {true}, {true});
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 4);
    EXPECT_EQ(Ids(q), (std::vector<int>{2, 3, 5, 1, 4, 6}));
}

TEST_F(DataSetSort, ManyRowsInReverseOrder) {
    server.columns = {{"ID", ftInteger, 4}};
    const int n = 20000;  // a quadratic sort would take minutes here
    for (int i = n; i > 0; --i)
        server.rows.push_back({fake::IntCell(i)});
    TSDQuery& q = Query();
    q.Open();
    q.SortRecords({0}, {}, {});
    const std::vector<int> ids = Ids(q);
    ASSERT_EQ(int(ids.size()), n);
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
}

// ---------------------------------------------------------------------------------------------
// Edits in the cache

class DataSetEdits : public Fixture {};

TEST_F(DataSetEdits, ReadOnlyWithoutLiveOrHandler) {
    SimpleRows(2);
    TSDQuery& q = Query();
    q.Open();
    EXPECT_FALSE(q.CanModify());
    try {
        q.Edit();
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Não é possível modificar um arquivo somente de leitura");
    }
    try {
        q.FieldByName("ID").SetAsInteger(5);
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Arquivo não está em modo de edição ou inserção");
    }
}

TEST_F(DataSetEdits, EditingTwiceKeepsOneOriginal) {
    TSDQuery& q = OpenEditable(3);
    q.Edit();
    q.FieldByName("NAME").SetAsString("first");
    q.Post();
    EXPECT_EQ(q.UpdateStatus(), rtl::usModified);
    q.Edit();
    q.FieldByName("NAME").SetAsString("second");
    q.Post();
    EXPECT_EQ(q.FieldByName("NAME").AsString(), "second");
    EXPECT_EQ(q.FieldByName("NAME").OldValue().AsString(), "n1");
    rtl::RecordBuffer* old = q.ResultSet()->GetOldItemBuffer(0);
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(q.ResultSet()->GetItemStatus(0), rtl::usModified);
}

TEST_F(DataSetEdits, CancelRestoresTheRecord) {
    TSDQuery& q = OpenEditable(2);
    q.Edit();
    q.FieldByName("NAME").SetAsString("changed");
    EXPECT_TRUE(q.Modified());
    // While the edit lasts the old value is the row as the cache holds it.
    EXPECT_EQ(q.FieldByName("NAME").OldValue().AsString(), "n1");
    EXPECT_EQ(q.FieldByName("NAME").NewValue().AsString(), "changed");
    q.Cancel();
    EXPECT_EQ(q.FieldByName("NAME").AsString(), "n1");
    EXPECT_EQ(q.ResultSet()->GetItemStatus(0), rtl::usUnmodified);
    EXPECT_EQ(q.ResultSet()->GetOldItemBuffer(0), nullptr);
}

TEST_F(DataSetEdits, DeleteHidesTheRowAndRenumbers) {
    TSDQuery& q = OpenEditable(3);
    q.FetchAll();
    q.Delete();
    EXPECT_EQ(q.RecordCount(), 2);
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 2);
    EXPECT_EQ(q.RecNo(), 1);
    TSDResultSet& rs = *q.ResultSet();
    EXPECT_EQ(rs.Count(), 3);
    EXPECT_EQ(rs.GetItemStatus(0), rtl::usDeleted);
    EXPECT_EQ(q.RecNoOf(rs.GetItemBuffer(0)), -1);
    EXPECT_EQ(q.RecNoOf(rs.GetItemBuffer(1)), 0);
    EXPECT_EQ(q.RecNoOf(rs.GetItemBuffer(2)), 1);
    EXPECT_EQ(Ids(q), (std::vector<int>{2, 3}));
    const rtl::TBookmark mark{0, 0, 0, 0};
    EXPECT_FALSE(q.BookmarkValid(mark));
}

TEST_F(DataSetEdits, RecNoAfterADeleteMovesByRecordNumber) {
    TSDQuery& q = OpenEditable(5);
    q.SetRecNoValue(2);
    q.Delete();  // ID 2 hidden: IDs 3, 4, 5 are records 2, 3, 4 at rows 2, 3, 4
    ASSERT_EQ(q.FieldByName("ID").AsInteger(), 3);
    ASSERT_EQ(q.RecNo(), 2);
    struct Case {
        int recNo;
        int id;
    };
    // Each from record 2: the row of record 3 is row 2's neighbour, record 2 is where it is.
    const Case cases[] = {{3, 4}, {2, 3}, {4, 5}, {1, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.recNo);
        q.SetRecNoValue(2);
        q.SetRecNoValue(c.recNo);
        EXPECT_EQ(q.RecNo(), c.recNo);
        EXPECT_EQ(q.FieldByName("ID").AsInteger(), c.id);
    }
}

TEST_F(DataSetEdits, AppendedRecordThenDeletedLeavesNoTrace) {
    TSDQuery& q = OpenEditable(3);
    q.Append();
    q.FieldByName("ID").SetAsInteger(10);
    q.FieldByName("NAME").SetAsString("new");
    q.Post();
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 10);
    EXPECT_EQ(q.RecNo(), 4);
    TSDResultSet& rs = *q.ResultSet();
    ASSERT_EQ(rs.Count(), 4);
    EXPECT_EQ(rs.GetItemStatus(3), rtl::usInserted);
    EXPECT_EQ(q.RecNoOf(rs.GetItemBuffer(3)), 3);
    EXPECT_TRUE(q.FieldByName("ID").OldValue().IsNull());  // an inserted row has no old value
    q.Delete();
    EXPECT_EQ(rs.Count(), 3);
    EXPECT_EQ(q.RecordCount(), 3);
}

TEST_F(DataSetEdits, AppendRecordBecomesCurrentPastHiddenRows) {
    TSDQuery& q = OpenEditable(3);
    q.FetchAll();
    q.Delete();  // row 0 stays in the cache, hidden
    q.AppendRecord({rtl::Variant(int32_t(7)), rtl::Variant("seven")});
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 7);
    EXPECT_EQ(q.FieldByName("NAME").AsString(), "seven");
    EXPECT_EQ(q.RecNo(), 3);
    EXPECT_EQ(q.RecordCount(), 3);
}

TEST_F(DataSetEdits, InsertGoesBeforeTheCurrentRow) {
    TSDQuery& q = OpenEditable(3);
    q.Next();
    q.Insert();
    q.FieldByName("ID").SetAsInteger(99);
    q.Post();
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 99);
    EXPECT_EQ(q.RecNo(), 2);
    EXPECT_EQ(Ids(q), (std::vector<int>{1, 99, 2, 3}));
    q.First();
    q.Next();
    q.Insert();
    q.Cancel();
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 99);
}

TEST_F(DataSetEdits, RowFetchedAfterADeleteGetsTheNextRecordNumber) {
    TSDQuery& q = OpenEditable(4);
    q.Delete();  // row 0 of the one cached row
    q.Last();
    EXPECT_EQ(q.RecNo(), 3);
    TSDResultSet& rs = *q.ResultSet();
    for (int i = 1; i < rs.Count(); ++i)
        EXPECT_EQ(q.RecNoOf(rs.GetItemBuffer(i)), i - 1) << i;
}

TEST_F(DataSetEdits, SortAfterADeleteKeepsRecordNumbersCounted) {
    TSDQuery& q = OpenEditable(4);
    q.FetchAll();
    q.Next();
    q.Delete();  // ID 2
    q.SortRecords({0}, {}, {false});
    EXPECT_EQ(Ids(q), (std::vector<int>{4, 3, 1}));
    q.First();
    EXPECT_EQ(q.RecNo(), 1);
    q.Last();
    EXPECT_EQ(q.RecNo(), 3);
}

// ---------------------------------------------------------------------------------------------
// Refresh and detach

using DataSetRefresh = Fixture;

TEST_F(DataSetRefresh, RefreshOnRowSevenFetchesRowsUpToSeven) {
    SimpleRows(10);
    TSDQuery& q = Query();
    q.Open();
    q.MoveBy(7);
    ASSERT_EQ(q.FieldByName("ID").AsInteger(), 8);
    const int executions = Count("DoExecDirect");
    q.Refresh();
    EXPECT_EQ(Count("DoExecDirect"), executions + 1);
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 8);
    EXPECT_EQ(q.ResultSet()->Count(), 8);
    q.Next();
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 9);
}

TEST_F(DataSetRefresh, DetachOnFetchAllReleasesTheCursor) {
    SimpleRows(4);
    TSDQuery& q = Query();
    q.SetDetachOnFetchAll(true);
    q.Open();
    EXPECT_TRUE(q.HasCommandHandle());
    q.Last();
    EXPECT_FALSE(q.HasCommandHandle());
    EXPECT_EQ(Ids(q), (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(DataSetRefresh, RollbackWithoutCursorPreservationDetachesOpenDataSets) {
    SimpleRows(3);
    db->Open();
    db->SqlDatabase()->CursorPreservedOnRollback = false;
    TSDQuery& q = Query();
    q.Open();
    db->StartTransaction();
    db->Rollback();
    EXPECT_TRUE(q.Active());
    EXPECT_FALSE(q.HasCommandHandle());
    EXPECT_EQ(q.RecordCount(), 3);
}

// ---------------------------------------------------------------------------------------------
// Local rows

using DataSetLocal = Fixture;

TEST_F(DataSetLocal, LinesWithDelimiterIntoPersistentFields) {
    db->Params().SetValue("CSV FIELD DELIMITER", " ; ");
    TSDQuery& q = Query();
    q.AddField("A", ftString, 5);
    q.AddField("B", ftString, 5);
    rtl::StringList lines{"a;b", "c"};
    q.LoadFromStrings(lines);
    ASSERT_TRUE(q.Active());
    EXPECT_EQ(q.RecordCount(), 2);
    EXPECT_EQ(q.FieldByName("A").AsString(), "a");
    EXPECT_EQ(q.FieldByName("B").AsString(), "b");
    q.Next();
    EXPECT_EQ(q.FieldByName("A").AsString(), "c");
    EXPECT_TRUE(q.FieldByName("B").IsNull());
    EXPECT_EQ(q.UpdateStatus(), rtl::usUnmodified);
    EXPECT_TRUE(q.CanModify());
}

TEST_F(DataSetLocal, LinesIntoDefaultFields) {
    db->Params().SetValue("CSV FIELD DELIMITER", ";");
    TSDQuery& q = Query();
    q.LoadFromStrings(rtl::StringList{"a;b", "c"});
    ASSERT_EQ(q.FieldCount(), 1);
    EXPECT_EQ(q.Fields(0).FieldName(), "COLUMN1");
    EXPECT_EQ(q.Fields(0).Size(), 10);
    EXPECT_EQ(q.Fields(0).AsString(), "a");
    q.Next();
    EXPECT_EQ(q.Fields(0).AsString(), "c");
    q.Close();
    EXPECT_EQ(q.FieldCount(), 0);
}

TEST_F(DataSetLocal, RowsFromAnotherDataSet) {
    SimpleRows(3);
    TSDQuery& source = Query();
    source.Open();
    TSDQuery& copy = Query();
    copy.LoadFromDataSet(source);
    ASSERT_TRUE(copy.Active());
    EXPECT_TRUE(copy.LocalData());
    EXPECT_EQ(Ids(copy), (std::vector<int>{1, 2, 3}));
    copy.Last();
    EXPECT_EQ(copy.FieldByName("NAME").AsString(), "n3");
    EXPECT_EQ(copy.ResultSet()->GetItemStatus(2), rtl::usUnmodified);
    // Local rows can be edited freely.
    copy.Edit();
    copy.FieldByName("NAME").SetAsString("x");
    copy.Post();
    EXPECT_EQ(copy.FieldByName("NAME").AsString(), "x");
    copy.Close();
    EXPECT_FALSE(copy.LocalData());
}

TEST_F(DataSetLocal, LookupFieldsShowTheOtherDataSetsValue) {
    TSDQuery& cities = Query();
    cities.AddField("CODE", ftInteger);
    cities.AddField("NAME", ftString, 20);
    cities.Assign(rtl::StringList{"1,Recife", "2,Natal", "3,Rio"});
    TSDQuery& people = Query();
    people.AddField("NAME", ftString, 20);
    people.AddField("CITY", ftInteger);
    rtl::TField& cityName = people.AddField("CITYNAME", ftString, 20, rtl::fkLookup);
    cityName.LookupDataSet = &cities;
    cityName.KeyFields = "CITY";
    cityName.LookupKeyFields = "CODE";
    cityName.LookupResultField = "NAME";
    rtl::TField& both = people.AddField("BOTH", ftString, 40, rtl::fkCalculated);
    people.OnCalcFields = [&](rtl::TDataSet& ds) {
        // OnCalcFields comes after the lookups and reads them.
        both.SetAsString(ds.FieldByName("NAME").AsString() + "/" + cityName.AsString());
    };
    people.Assign(rtl::StringList{"Ana,3", "Bruno,9", "Carla,", "Davi,1"});
    std::vector<std::string> seen;
    for (people.First(); !people.Eof(); people.Next())
        seen.push_back(cityName.IsNull() ? "null" : cityName.AsString());
    // An unknown key and a null key give null.
    EXPECT_EQ(seen, (std::vector<std::string>{"Rio", "null", "null", "Recife"}));
    people.First();
    EXPECT_EQ(both.AsString(), "Ana/Rio");
    // A changed key shows the new city at once; the looked-up data set stays where it was.
    cities.Last();
    people.Edit();
    people.FieldByName("CITY").SetAsInteger(2);
    EXPECT_EQ(cityName.AsString(), "Natal");
    people.Post();
    EXPECT_EQ(cityName.AsString(), "Natal");
    EXPECT_EQ(cities.FieldByName("CODE").AsInteger(), 3);
    // A closed lookup data set gives null.
    cities.Close();
    people.Refresh();
    EXPECT_TRUE(cityName.IsNull());
}

TEST_F(DataSetLocal, ARecordLooksUpAnotherOfItsOwnDataSet) {
    // Each person names a manager in the same data set; two name each other.
    TSDQuery& people = Query();
    people.AddField("ID", ftInteger);
    people.AddField("NAME", ftString, 20);
    people.AddField("BOSS", ftInteger);
    rtl::TField& boss = people.AddField("BOSSNAME", ftString, 20, rtl::fkLookup);
    boss.LookupDataSet = &people;
    boss.KeyFields = "BOSS";
    boss.LookupKeyFields = "ID";
    boss.LookupResultField = "NAME";
    people.LoadFromStrings(rtl::StringList{"1,Ana,", "2,Bruno,1", "3,Carla,4", "4,Davi,3"});
    std::vector<std::string> seen;
    for (people.First(); !people.Eof(); people.Next())
        seen.push_back(boss.AsString());
    EXPECT_EQ(seen, (std::vector<std::string>{"", "Ana", "Davi", "Carla"}));
}

TEST_F(DataSetLocal, CurrentRecordSlotsAndBlockReading) {
    TSDQuery& q = Query();
    q.AddField("ID", ftInteger);
    q.AddField("NAME", ftString, 8);
    std::vector<uint8_t> record;
    q.LoadFromStrings(rtl::StringList{});
    EXPECT_EQ(q.GetRecordSize(), (4 + 1) + (9 + 1));
    EXPECT_FALSE(q.GetCurrentRecord(record));  // empty
    q.Close();
    q.LoadFromStrings(rtl::StringList{"7,abc", "8,de"});
    q.Next();
    ASSERT_TRUE(q.GetCurrentRecord(record));
    ASSERT_EQ(int(record.size()), q.GetRecordSize());
    int32_t id = 0;
    std::memcpy(&id, record.data() + 1, 4);
    EXPECT_EQ(record[0], 1);  // the value-present byte of ID
    EXPECT_EQ(id, 8);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(record.data()) + 6), "de");
    // A new record is no fetched one.
    q.Append();
    record.clear();
    EXPECT_FALSE(q.GetCurrentRecord(record));
    EXPECT_TRUE(record.empty());
    q.Cancel();
    // Block reading stays off.
    q.SetBlockReadSize(50);
    EXPECT_EQ(q.BlockReadSize(), 0);
    q.SetBlockReadSize(-1);
    EXPECT_EQ(q.BlockReadSize(), -1);
}

// ---------------------------------------------------------------------------------------------
// The database's view of its data sets

using DataSetClients = Fixture;

TEST_F(DataSetClients, LostConnectionClosesAllButDetachedDataSets) {
    SimpleRows(3);
    db->OnLostConnectError = [](TSDDatabase&, const ESDEngineError&, TSDLostConnectAction& action) {
        action = lcCloseConnect;
    };
    TSDQuery& detached = Query();
    detached.SetDetachOnFetchAll(true);
    detached.Open();
    detached.Last();
    ASSERT_FALSE(detached.HasCommandHandle());
    TSDQuery& second = Query();
    second.Open();
    TSDQuery& third = Query();
    third.Open();
    EXPECT_EQ(db->RefCount(), 3);
    // A statement that finds the connection broken.
    auto& driver = static_cast<fake::FakeDatabase&>(*db->SqlDatabase());
    driver.lostConnection = true;
    server.failIn = {"DoExecDirect"};
    TSDQuery& failing = Query();
    ClearCalls();
    try {
        failing.Open();
        FAIL();
    } catch (const ESDEngineError& e) {
        EXPECT_TRUE(e.ConnectionLost);
    }
    // The failing statement's command was disconnected before its connection was, and freed
    // only once the driver's frames that still used it had returned.
    const std::string calls = Calls();
    const size_t disconnected = calls.find("DoDisconnect(true)");
    ASSERT_NE(disconnected, std::string::npos) << calls;
    EXPECT_NE(calls.rfind("Command.Disconnect(true)", disconnected), std::string::npos) << calls;
    EXPECT_EQ(calls.substr(calls.rfind(' ') + 1), "~Command") << calls;
    EXPECT_GT(calls.rfind("~Command"), disconnected) << calls;
    EXPECT_TRUE(detached.Active());
    EXPECT_FALSE(second.Active());
    EXPECT_FALSE(third.Active());
    EXPECT_FALSE(failing.Active());
    EXPECT_EQ(db->RefCount(), 1);
    EXPECT_FALSE(db->Connected());
    // The detached rows stay browsable.
    EXPECT_EQ(Ids(detached), (std::vector<int>{1, 2, 3}));
}

TEST_F(DataSetClients, LostConnectionWhileFetchingFreesTheCommandAfterTheDriver) {
    // The driver finds the connection broken while fetching a row, and its frames use the
    // command after the error; the lost-connection handling closes the data set meanwhile.
    struct Case {
        const char* name;
        size_t failingFetch;
        std::function<void(TSDQuery&)> step;
    };
    const std::vector<Case> cases = {
        {"the first row, while opening", 1, [](TSDQuery& q) { q.Open(); }},
        {"a later row, moving to the last", 3,
         [](TSDQuery& q) {
             q.Open();
             q.Last();
         }},
        {"a later row, locating", 3,
         [](TSDQuery& q) {
             q.Open();
             q.Locate("ID", rtl::Variant(int32_t(5)), 0);
         }},
    };
    SimpleRows(5);
    db->OnLostConnectError = [](TSDDatabase&, const ESDEngineError&, TSDLostConnectAction& action) {
        action = lcCloseConnect;
    };
    for (const Case& c : cases) {
        db->Open();
        static_cast<fake::FakeDatabase&>(*db->SqlDatabase()).lostConnection = true;
        server.failIn = {"DoFetchNextRow"};
        server.failingFetch = c.failingFetch;
        TSDQuery& q = Query();
        ClearCalls();
        try {
            c.step(q);
            ADD_FAILURE() << c.name;
        } catch (const ESDEngineError& e) {
            EXPECT_TRUE(e.ConnectionLost) << c.name;
        }
        // The command was disconnected before its connection was, and freed last, once the
        // driver's frames were done with it.
        const std::string calls = Calls();
        const size_t disconnected = calls.find("DoDisconnect(true)");
        ASSERT_NE(disconnected, std::string::npos) << c.name << ": " << calls;
        EXPECT_NE(calls.rfind("Command.Disconnect(true)", disconnected), std::string::npos)
            << c.name << ": " << calls;
        EXPECT_EQ(calls.substr(calls.rfind(' ') + 1), "~Command") << c.name << ": " << calls;
        EXPECT_GT(calls.rfind("~Command"), disconnected) << c.name << ": " << calls;
        EXPECT_FALSE(q.Active()) << c.name;
        EXPECT_FALSE(db->Connected()) << c.name;
        EXPECT_FALSE(db->Fetching()) << c.name;
        server.failIn.clear();
    }
}

TEST_F(DataSetClients, DriverAsksForEveryRow) {
    SimpleRows(5);
    TSDQuery& q = Query();
    q.Open();
    ASSERT_EQ(q.ResultSet()->Count(), 1);
    // A driver that can run one statement at a time asks the previous one to fetch its rest.
    q.Command()->RequestFetchAll();
    EXPECT_TRUE(q.ResultSet()->AllFetched());
    EXPECT_EQ(q.ResultSet()->Count(), 5);
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 1);
}

TEST_F(DataSetClients, TableOwnerDroppedForDriversWithoutSchemaNames) {
    SimpleRows(1);  // the fake reports one affected row per row it holds
    db->Open();
    db->SqlDatabase()->SchemaNamesSupported = false;
    TSDQuery& q = Query("select ID, NAME from sales.items");
    q.SetRequestLive(true);
    q.SetCachedUpdates(false);
    q.Open();
    EXPECT_FALSE(q.GetCapability());
    q.Edit();
    q.FieldByName("NAME").SetAsString("x");
    q.Post();
    EXPECT_EQ(Count("DoExecDirect(update items set"), 1);
    EXPECT_EQ(Count("DoExecDirect(update sales.items"), 0);
}

TEST_F(DataSetClients, ProviderParametersReplaceTheQueryParameters) {
    SimpleRows(1);
    TSDQuery& q = Query("select * from t where a = :A and b = :B");
    q.ParamByName("A").SetValue(rtl::Variant(int32_t(1)));
    rtl::Params given;
    given.CreateParam(ftInteger, "B", ptUnknown).SetValue(rtl::Variant(int32_t(7)));
    given.CreateParam(ftInteger, "A", ptUnknown).SetValue(rtl::Variant(int32_t(8)));
    q.PSSetParams(given);
    // Same count and names: the given names stay.
    ASSERT_EQ(q.Params().Count(), 2);
    EXPECT_EQ(q.Params()[0].Name(), "B");
    EXPECT_EQ(q.ParamByName("A").Value().AsInteger(), 8);
    EXPECT_EQ(q.ParamByName("A").ParamType(), ptInput);
    // Other names: the new parameters take the old names by position.
    rtl::Params renamed;
    renamed.CreateParam(ftInteger, "X", ptInput).SetValue(rtl::Variant(int32_t(3)));
    q.PSSetParams(renamed);
    ASSERT_EQ(q.Params().Count(), 1);
    EXPECT_EQ(q.Params()[0].Name(), "B");
    EXPECT_EQ(q.PSGetTableName(), "t");
}
