// Queries: SQL text and parameters, executing without result set, master-detail, live changes,
// update objects, blob streams and the provider support, on a real SQLite database through the
// SQLite test driver (a second SQLite connection checks what reached the file), and on the fake
// driver where a server's answer must be staged.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>

#include "FakeDataSetFixture.h"
#include "SqliteTestDriver.h"
#include "database/engine/SDEngineBlobStream.h"
#include "database/engine/SDEngineUpdateObject.h"
#include "rtl/DataLink.h"
#include "support/TestSupport.h"

namespace {

using Rows = std::vector<std::vector<std::string>>;

// The SQLite test driver, with commands that report the identity of the last insert as a
// server's client library does.
class IdentityCommand : public sqlitetest::SqliteCommand {
public:
    using sqlitetest::SqliteCommand::SqliteCommand;
    int32_t GetIdentityValue() override {
        return int32_t(
            sqlite3_last_insert_rowid(static_cast<sqlitetest::SqliteDatabase&>(GetSqlDatabase()).Handle()));
    }
};

class IdentityDatabase : public sqlitetest::SqliteDatabase {
public:
    using sqlitetest::SqliteDatabase::SqliteDatabase;
    TISqlCommandPtr CreateSqlCommand(rtl::Component* owner) override {
        return MakeSqlCommand<IdentityCommand>(this, owner);
    }
};

class SqliteQueries : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterSqlDatabaseFactory(stODBC, [](TSDDatabase* owner, const rtl::StringList& params) {
            return std::make_unique<IdentityDatabase>(owner, params);
        });
        file_ = (dir_ / "queries.db").string();
        db = std::make_unique<TSDDatabase>();
        db->SetDatabaseName("lite");
        db->SetServerType(stODBC);
        db->SetRemoteDatabase(file_);
        db->SetLoginPrompt(false);
        db->Open();
        Lite().Exec("create table people (id integer, name text, city text, photo blob)");
        Lite().Exec("insert into people values (1, 'Ana', 'Rio', x'01020304')");
        Lite().Exec("insert into people values (2, 'Bruno', 'Recife', null)");
        Lite().Exec("insert into people values (3, 'Carla', 'Rio', null)");
        Lite().statements.clear();
    }
    void TearDown() override {
        queries_.clear();
        db.reset();
        RegisterSqlDatabaseFactory(stODBC, nullptr);
    }

    sqlitetest::SqliteDatabase& Lite() {
        return static_cast<sqlitetest::SqliteDatabase&>(*db->SqlDatabase());
    }

    TSDQuery& Query(const std::string& sql) {
        queries_.push_back(std::make_unique<TSDQuery>());
        TSDQuery& q = *queries_.back();
        q.SetDatabaseName("lite");
        q.SQL().SetText(sql);
        return q;
    }

    // What another connection reads from the file.
    Rows Peer(const std::string& sql) {
        sqlite3* peer = nullptr;
        EXPECT_EQ(sqlite3_open_v2(file_.c_str(), &peer, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        Rows rows;
        char* error = nullptr;
        sqlite3_exec(
            peer, sql.c_str(),
            [](void* out, int n, char** values, char**) {
                std::vector<std::string> row;
                for (int i = 0; i < n; ++i)
                    row.push_back(values[i] ? values[i] : "NULL");
                static_cast<Rows*>(out)->push_back(row);
                return 0;
            },
            &rows, &error);
        if (error != nullptr) {
            ADD_FAILURE() << error;
            sqlite3_free(error);
        }
        sqlite3_close_v2(peer);
        return rows;
    }

    // The live query of the tests: changes go to the server at once.
    TSDQuery& Live(const std::string& sql = "select id, name, city from people order by id") {
        TSDQuery& q = Query(sql);
        q.SetRequestLive(true);
        q.SetCachedUpdates(false);
        return q;
    }

    std::unique_ptr<TSDDatabase> db;

private:
    kwtest::TempDir dir_;
    std::string file_;
    std::vector<std::unique_ptr<TSDQuery>> queries_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Text and parameters

TEST_F(SqliteQueries, ParametersSelectRows) {
    TSDQuery& q = Query("select name from people where city = :CITY and id > :MINID order by id");
    ASSERT_EQ(q.Params().Count(), 2);
    q.ParamByName("city").SetValue(rtl::Variant("Rio"));
    q.ParamByName("MINID").SetValue(rtl::Variant(int32_t(0)));
    q.Open();
    std::vector<std::string> names;
    for (; !q.Eof(); q.Next())
        names.push_back(q.FieldByName("NAME").AsString());
    EXPECT_EQ(names, (std::vector<std::string>{"Ana", "Carla"}));
    EXPECT_EQ(q.ParamByName("CITY").ParamType(), ptInput);
    q.Close();
    q.ParamByName("CITY").SetValue(rtl::Variant("Recife"));
    q.Open();
    EXPECT_EQ(q.FieldByName("NAME").AsString(), "Bruno");
}

TEST_F(SqliteQueries, ChangingTheTextRebuildsParametersAndClosesTheQuery) {
    TSDQuery& q = Query("select * from people where id = :ID");
    q.ParamByName("ID").SetValue(rtl::Variant(int32_t(2)));
    q.Open();
    EXPECT_EQ(q.FieldByName("NAME").AsString(), "Bruno");
    // The same text changes nothing.
    q.SetSQL(rtl::StringList{"select * from people where id = :ID"});
    EXPECT_TRUE(q.Active());
    q.SQL().SetText("select * from people where id = :ID or city = :CITY");
    EXPECT_FALSE(q.Active());
    ASSERT_EQ(q.Params().Count(), 2);
    EXPECT_EQ(q.ParamByName("ID").Value().AsInteger(), 2);  // kept by name
    EXPECT_TRUE(q.ParamByName("CITY").IsNull());
    q.ParamByName("CITY").SetValue(rtl::Variant("Rio"));
    q.Open();
    EXPECT_EQ(q.RecordCount(), 3);
    // Field definitions follow the text.
    q.SQL().SetText("select id from people");
    q.Open();
    EXPECT_EQ(q.FieldCount(), 1);
}

TEST_F(SqliteQueries, ShortTextIsNoStatement) {
    TSDQuery& q = Query("x");
    try {
        q.Open();
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "No SQL statement available");
    }
    EXPECT_FALSE(q.Active());
    EXPECT_EQ(db->DataSetCount(), 0);
}

TEST_F(SqliteQueries, ExecuteStatementReportsRowsAndReleasesTheDatabase) {
    db->SetKeepConnection(false);
    TSDQuery& q = Query("update people set city = :CITY");
    q.ParamByName("CITY").SetValue(rtl::Variant("Natal"));
    q.ExecuteStatement();
    EXPECT_EQ(q.GetRowsAffected(), 3);
    EXPECT_EQ(q.Command(), nullptr);
    EXPECT_EQ(db->DataSetCount(), 0);
    EXPECT_EQ(Peer("select count(*) from people where city = 'Natal'"), (Rows{{"3"}}));
    // A failing statement still releases everything.
    q.SQL().SetText("update nowhere set x = 1");
    EXPECT_THROW(q.ExecuteStatement(), ESDEngineError);
    EXPECT_EQ(q.GetRowsAffected(), -1);
    EXPECT_EQ(db->DataSetCount(), 0);
    // An open query does not execute.
    TSDQuery& open = Query("select * from people");
    open.Open();
    EXPECT_THROW(open.ExecuteStatement(), rtl::EDatabaseError);
    EXPECT_THROW(open.ReleaseStatement(), rtl::EDatabaseError);
}

// ---------------------------------------------------------------------------------------------
// Master-detail

TEST_F(SqliteQueries, DetailFollowsTheMaster) {
    Lite().Exec("create table phones (person integer, phone text)");
    Lite().Exec("insert into phones values (1, 'a1'), (1, 'a2'), (2, 'b1'), (3, 'c1')");
    TSDQuery& master = Query("select id, name from people order by id");
    TSDQuery& detail = Query("select phone from phones where person = :ID order by phone");
    rtl::TDataSource source;
    source.SetDataSet(&master);
    detail.SetDataSource(&source);
    int opens = 0;
    detail.BeforeOpen = [&](rtl::TDataSet&) { ++opens; };
    master.Open();
    detail.Open();
    auto phones = [&] {
        std::vector<std::string> out;
        for (detail.First(); !detail.Eof(); detail.Next())
            out.push_back(detail.FieldByName("PHONE").AsString());
        return out;
    };
    EXPECT_EQ(phones(), (std::vector<std::string>{"a1", "a2"}));
    EXPECT_EQ(opens, 1);
    master.Next();
    EXPECT_EQ(phones(), (std::vector<std::string>{"b1"}));
    EXPECT_EQ(opens, 2);
    // A refresh of the master on the same key does not reopen the detail.
    master.Refresh();
    EXPECT_EQ(opens, 2);
    master.Last();
    EXPECT_EQ(phones(), (std::vector<std::string>{"c1"}));
    EXPECT_EQ(opens, 3);
    std::vector<rtl::TField*> masterFields, detailFields;
    detail.GetDetailLinkFields(masterFields, detailFields);
    ASSERT_EQ(masterFields.size(), 1u);
    EXPECT_EQ(masterFields[0], &master.FieldByName("ID"));
    EXPECT_TRUE(detailFields.empty());  // the detail has no ID field
    // A unidirectional detail reopens on every master change.
    detail.Close();
    detail.SetUniDirectional(true);
    detail.Open();
    const int before = opens;
    master.Refresh();
    EXPECT_EQ(opens, before + 1);
}

TEST_F(SqliteQueries, CircularLinksAreRefused) {
    TSDQuery& a = Query("select * from people");
    TSDQuery& b = Query("select * from people where id = :ID");
    rtl::TDataSource sa, sb;
    sa.SetDataSet(&a);
    sb.SetDataSet(&b);
    b.SetDataSource(&sa);
    try {
        a.SetDataSource(&sb);
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Ligações de dados circulares não são permitidas");
    }
    rtl::TDataSource self;
    self.SetDataSet(&a);
    EXPECT_THROW(a.SetDataSource(&self), rtl::EDatabaseError);
    EXPECT_EQ(a.DataSource(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Live changes

TEST_F(SqliteQueries, LiveEditInsertAndDeleteReachTheTable) {
    TSDQuery& q = Live();
    q.Open();
    EXPECT_TRUE(q.CanModify());
    EXPECT_EQ(q.LiveTable(), "people");
    q.Next();
    q.Edit();
    q.FieldByName("CITY").SetAsString("Olinda");
    q.Post();
    EXPECT_EQ(Peer("select city from people where id = 2"), (Rows{{"Olinda"}}));
    EXPECT_EQ(q.ResultSet()->GetItemStatus(1), rtl::usUnmodified);  // applied
    EXPECT_EQ(q.ResultSet()->GetOldItemBuffer(1), nullptr);
    // The generated statement compares every field with its old value.
    bool sawUpdate = false;
    for (const auto& statement : Lite().statements) {
        const std::string s = rtl::UpperCase(statement);
        if (s.find("UPDATE PEOPLE SET") == 0) {
            sawUpdate = true;
            EXPECT_NE(s.find("ID = :OLD_ID"), std::string::npos) << s;
            EXPECT_NE(s.find("NAME = :OLD_NAME"), std::string::npos) << s;
            EXPECT_NE(s.find("CITY = :OLD_CITY"), std::string::npos) << s;
        }
    }
    EXPECT_TRUE(sawUpdate);
    // Each change ran in a transaction of its own.
    EXPECT_NE(std::find(Lite().statements.begin(), Lite().statements.end(), "BEGIN"),
              Lite().statements.end());

    q.Append();
    q.FieldByName("ID").SetAsInteger(4);
    q.FieldByName("NAME").SetAsString("Davi");
    q.Post();
    EXPECT_EQ(Peer("select name, city from people where id = 4"), (Rows{{"Davi", "NULL"}}));

    q.First();
    q.Delete();
    EXPECT_EQ(Peer("select count(*) from people where id = 1"), (Rows{{"0"}}));
    EXPECT_EQ(q.RecordCount(), 3);
    EXPECT_EQ(q.ResultSet()->Count(), 4);  // the deleted row stays, hidden
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 2);
    EXPECT_EQ(q.RecNo(), 1);
}

TEST_F(SqliteQueries, RecordChangedByAnotherUser) {
    TSDQuery& q = Live();
    q.Open();
    q.SetDetachOnFetchAll(true);  // lets go of SQLite's read lock, so the peer can write
    Peer("update people set city = 'Manaus' where id = 1");
    q.Edit();
    q.FieldByName("NAME").SetAsString("Ana Maria");
    try {
        q.Post();
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Registro foi alterado por outro usuário");
    }
    EXPECT_EQ(q.State(), rtl::dsEdit);
    EXPECT_FALSE(db->GetInTransaction());  // the own transaction was rolled back
    EXPECT_EQ(Peer("select name, city from people where id = 1"), (Rows{{"Ana", "Manaus"}}));
    // The cache keeps the edit.
    EXPECT_EQ(q.ResultSet()->GetItemStatus(0), rtl::usModified);
    q.Cancel();
    EXPECT_EQ(q.FieldByName("NAME").AsString(), "Ana Maria");
    // A delete of a changed row fails the same way and the row stays.
    q.Next();
    Peer("update people set name = 'Beto' where id = 2");
    EXPECT_THROW(q.Delete(), rtl::EDatabaseError);
    EXPECT_EQ(q.RecordCount(), 3);
    EXPECT_EQ(q.ResultSet()->GetItemStatus(1), rtl::usUnmodified);
}

TEST_F(SqliteQueries, FailedLiveInsertLeavesNoRow) {
    Lite().Exec("create table strict_t (id integer not null, name text)");
    TSDQuery& q = Live("select id, name from strict_t");
    q.Open();
    q.Append();
    q.FieldByName("NAME").SetAsString("no id");
    EXPECT_THROW(q.Post(), ESDEngineError);
    EXPECT_EQ(q.State(), rtl::dsInsert);
    EXPECT_EQ(q.ResultSet()->Count(), 0);
    q.Cancel();
    EXPECT_TRUE(q.IsEmpty());
}

TEST_F(SqliteQueries, AutocommitParameterDropsTheOwnTransactionOfInserts) {
    db->Params().SetValue("AUTOCOMMIT", "true");
    TSDQuery& q = Live();
    q.Open();
    q.Append();
    q.FieldByName("ID").SetAsInteger(7);
    q.Post();
    for (const auto& s : Lite().statements)
        EXPECT_NE(s, "BEGIN");
    EXPECT_EQ(Peer("select count(*) from people where id = 7"), (Rows{{"1"}}));
    // An edit's count of changed rows is checked before its commit: it keeps its own
    // transaction.
    Lite().statements.clear();
    q.First();
    q.Edit();
    q.FieldByName("CITY").SetAsString("Belem");
    q.Post();
    EXPECT_EQ(std::count(Lite().statements.begin(), Lite().statements.end(), "BEGIN"), 1);
    EXPECT_FALSE(db->GetInTransaction());
    EXPECT_EQ(Peer("select city from people where id = 1"), (Rows{{"Belem"}}));
    // Inside the program's transaction the change waits for its commit.
    db->Params().SetValue("AUTOCOMMIT", "");
    db->StartTransaction();
    q.Edit();
    q.FieldByName("CITY").SetAsString("Macapa");
    q.Post();
    EXPECT_TRUE(db->GetInTransaction());
    db->Rollback();
    EXPECT_EQ(Peer("select city from people where id = 1"), (Rows{{"Belem"}}));
}

TEST_F(SqliteQueries, LiveQueryOverAJoinIsReadOnlyUnlessStrictnessIsOff) {
    TSDQuery& q = Live("select p.id, p.name from people p join people o on p.id = o.id");
    try {
        q.Open();
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Table is read only");
    }
    EXPECT_FALSE(q.Active());
    db->Params().SetValue("STRICT LIVE QUERY", "False");
    q.Open();
    EXPECT_EQ(q.LiveTable(), "people");
}

TEST_F(SqliteQueries, RefreshRecordRereadsTheRow) {
    TSDQuery& q = Live();
    q.Open();
    q.SetDetachOnFetchAll(true);
    q.Next();
    // Unchanged on the server: the generated statement finds the row by all its old values.
    q.RefreshRecord();
    EXPECT_EQ(q.FieldByName("CITY").AsString(), "Recife");
    Peer("update people set city = 'Maceio' where id = 2");
    EXPECT_EQ(q.FieldByName("CITY").AsString(), "Recife");
    // Every field is part of the generated condition, so a changed row is not found again...
    try {
        q.RefreshRecord();
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Registro foi alterado por outro usuário");
    }
    // ...but a statement of the program's own reads it by key.
    q.RefreshRecordFrom("select id, name, city from people where id = :OLD_ID");
    EXPECT_EQ(q.FieldByName("CITY").AsString(), "Maceio");
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 2);
    EXPECT_EQ(q.RecNo(), 2);
    Peer("delete from people where id = 2");
    EXPECT_THROW(q.RefreshRecordFrom("select id, name, city from people where id = :OLD_ID"),
                 rtl::EDatabaseError);
}

TEST_F(SqliteQueries, ARefreshedRowIsCountedAgainByTheFilter) {
    TSDQuery& q = Live();
    q.Open();
    q.SetFilter("CITY = 'Rio'");
    q.SetFiltered(true);
    ASSERT_EQ(q.RecordCount(), 2);
    ASSERT_EQ(q.FieldByName("ID").AsInteger(), 1);
    Peer("update people set city = 'Natal' where id = 1");
    q.RefreshRecordFrom("select id, name, city from people where id = :OLD_ID");
    // The row read again no longer passes the filter.
    EXPECT_EQ(q.RecordCount(), 1);
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 3);
}

TEST_F(SqliteQueries, AutoRefreshFillsTheIdentity) {
    Lite().Exec("create table serial (id integer primary key autoincrement, name text)");
    Lite().Exec("insert into serial (name) values ('first')");
    TSDQuery& q = Live("select id, name from serial");
    q.SetAutoRefresh(true);
    q.Open();
    q.FieldByName("ID").AutoIncrement = true;
    q.Append();
    q.FieldByName("NAME").SetAsString("second");
    q.Post();
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 2);
    EXPECT_EQ(Peer("select id from serial where name = 'second'"), (Rows{{"2"}}));
}

TEST_F(SqliteQueries, CachedUpdatesStatusAndReadOnlyDelete) {
    TSDQuery& q = Query("select * from people");
    q.SetCachedUpdates(false);
    q.Open();
    try {
        q.UpdateStatus();
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Not in cached update mode");
    }
    EXPECT_THROW(q.Delete(), rtl::EDatabaseError);
    q.Close();
    db->Params().SetValue("CACHED UPDATES", "false");
    TSDQuery& fromParam = Query("select * from people");
    fromParam.Open();
    EXPECT_FALSE(fromParam.CachedUpdates());
}

// ---------------------------------------------------------------------------------------------
// Update objects

TEST_F(SqliteQueries, UpdateSqlWritesTheLiveChanges) {
    TSDUpdateSQL update;
    update.ModifySQL().SetText("update people set city = upper(:CITY) where id = :OLD_ID");
    update.InsertSQL().SetText("insert into people (id, name) values (:ID, :NAME)");
    update.DeleteSQL().SetText("delete from people where id = :OLD_ID");
    TSDQuery& q = Live();
    q.SetUpdateObject(&update);
    EXPECT_EQ(update.GetDataSet(), &q);
    q.Open();
    q.Edit();
    q.FieldByName("CITY").SetAsString("fortaleza");
    q.Post();
    EXPECT_EQ(Peer("select city from people where id = 1"), (Rows{{"FORTALEZA"}}));
    q.Last();
    q.Delete();
    EXPECT_EQ(Peer("select count(*) from people"), (Rows{{"2"}}));
    // Taking the object away clears both sides.
    q.Close();
    q.SetUpdateObject(nullptr);
    EXPECT_EQ(update.GetDataSet(), nullptr);
}

TEST_F(SqliteQueries, UpdateSqlApplyIsStrictUnlessTold) {
    TSDUpdateSQL update;
    update.ModifySQL().SetText("update people set city = :CITY where id = :OLD_ID + 100");
    TSDQuery& q = Query("select id, name, city from people order by id");
    q.SetUpdateObject(&update);
    q.Open();
    q.Edit();
    q.FieldByName("CITY").SetAsString("Natal");
    try {
        update.Apply(rtl::ukModify);
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Update failed");
    }
    db->Params().SetValue("STRICT UPDATE", "FALSE");
    update.Apply(rtl::ukModify);  // passes silently
    update.ModifySQL().SetText("update people set city = :CITY where id = :OLD_ID");
    update.Apply(rtl::ukModify);
    EXPECT_EQ(update.GetQuery(1).GetRowsAffected(), 1);
    EXPECT_EQ(Peer("select city from people where id = 1"), (Rows{{"Natal"}}));
    q.Cancel();
}

TEST_F(SqliteQueries, AnUpdateObjectServesOneDataSet) {
    TSDUpdateSQL update;
    TSDQuery& a = Query("select * from people");
    TSDQuery& b = Query("select * from people");
    a.SetUpdateObject(&update);
    b.SetUpdateObject(&update);
    EXPECT_EQ(a.UpdateObject(), nullptr);
    EXPECT_EQ(b.UpdateObject(), &update);
    {
        TSDUpdateSQL gone;
        a.SetUpdateObject(&gone);
    }
    EXPECT_EQ(a.UpdateObject(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Blobs

TEST_F(SqliteQueries, BlobStreamWritesNewArraysAndKeepsTheOriginal) {
    TSDQuery& q = Query("select id, photo from people order by id");
    q.OnUpdateRecord = [](rtl::TDataSet&, rtl::TUpdateKind, rtl::TUpdateAction& a) { a = rtl::uaApplied; };
    q.Open();
    rtl::TField& photo = q.FieldByName("PHOTO");
    ASSERT_TRUE(photo.IsBlob());
    EXPECT_EQ(photo.AsBytes(), (rtl::ByteArray{1, 2, 3, 4}));
    q.Edit();
    {
        std::unique_ptr<rtl::Stream> s = q.CreateBlobStream(photo, rtl::bmReadWrite);
        EXPECT_EQ(s->Size(), 4);
        s->Seek(3, rtl::SeekOrigin::Begin);
        const uint8_t bytes[] = {9, 9, 9, 9, 9};
        s->WriteBuffer(bytes, 5);
        EXPECT_EQ(s->Size(), 8);
    }
    EXPECT_TRUE(photo.Modified);
    EXPECT_EQ(photo.AsBytes(), (rtl::ByteArray{1, 2, 3, 9, 9, 9, 9, 9}));
    // Not posted yet: the row in the cache still has the fetched value.
    EXPECT_EQ(photo.OldValue().AsBytes(), (rtl::ByteArray{1, 2, 3, 4}));
    q.Post();
    EXPECT_EQ(photo.AsBytes(), (rtl::ByteArray{1, 2, 3, 9, 9, 9, 9, 9}));
    EXPECT_EQ(photo.OldValue().AsBytes(), (rtl::ByteArray{1, 2, 3, 4}));
    // A cancel after a blob write leaves the row as it was.
    q.Edit();
    photo.SetAsBytes({7});
    q.Cancel();
    EXPECT_EQ(photo.AsBytes(), (rtl::ByteArray{1, 2, 3, 9, 9, 9, 9, 9}));
    // Writing needs the edit state; a filter cannot read blobs.
    EXPECT_THROW(photo.SetAsBytes({1}), rtl::EDatabaseError);
    q.Next();
    EXPECT_TRUE(photo.IsNull());
    EXPECT_TRUE(photo.AsBytes().empty());
}

TEST_F(SqliteQueries, BlobWrittenInPiecesKeepsEveryPieceAndTheOriginal) {
    TSDQuery& q = Query("select id, photo from people order by id");
    q.OnUpdateRecord = [](rtl::TDataSet&, rtl::TUpdateKind, rtl::TUpdateAction& a) { a = rtl::uaApplied; };
    q.Open();
    rtl::TField& photo = q.FieldByName("PHOTO");
    rtl::ByteArray expected;
    q.Edit();
    {
        std::unique_ptr<rtl::Stream> s = q.CreateBlobStream(photo, rtl::bmReadWrite);
        s->Seek(0, rtl::SeekOrigin::End);
        expected = {1, 2, 3, 4};
        for (int piece = 0; piece < 200; ++piece) {
            const rtl::ByteArray bytes(size_t(piece % 7 + 1), uint8_t(piece));
            s->WriteBuffer(bytes.data(), bytes.size());
            expected.insert(expected.end(), bytes.begin(), bytes.end());
            if (piece == 100) {
                // Read while the stream is open: the record has every piece so far, the row its
                // fetched value.
                EXPECT_EQ(photo.AsBytes(), expected);
                EXPECT_EQ(photo.OldValue().AsBytes(), (rtl::ByteArray{1, 2, 3, 4}));
            }
        }
        s->SetSize(int64_t(expected.size()) - 3);
        expected.resize(expected.size() - 3);
        s->Seek(1, rtl::SeekOrigin::Begin);
        s->WriteBuffer("\x42", 1);
        expected[1] = 0x42;
    }
    EXPECT_EQ(photo.AsBytes(), expected);
    EXPECT_EQ(photo.OldValue().AsBytes(), (rtl::ByteArray{1, 2, 3, 4}));
    q.Post();
    EXPECT_EQ(photo.AsBytes(), expected);
    EXPECT_EQ(photo.OldValue().AsBytes(), (rtl::ByteArray{1, 2, 3, 4}));
    // A second stream over the posted value shares its array with the row: it copies again.
    q.Edit();
    {
        std::unique_ptr<rtl::Stream> s = q.CreateBlobStream(photo, rtl::bmWrite);
        s->WriteBuffer("\x07", 1);
        s->WriteBuffer("\x08", 1);
    }
    EXPECT_EQ(photo.AsBytes(), (rtl::ByteArray{7, 8}));
    q.Cancel();
    EXPECT_EQ(photo.AsBytes(), expected);
}

TEST_F(SqliteQueries, LiveBlobChangeReachesTheTable) {
    TSDQuery& q = Live("select id, photo from people order by id");
    q.Open();
    q.Next();
    q.Edit();
    q.FieldByName("PHOTO").SetAsBytes({0xCA, 0xFE});
    q.Post();
    EXPECT_EQ(Peer("select hex(photo) from people where id = 2"), (Rows{{"CAFE"}}));
}

// ---------------------------------------------------------------------------------------------
// Provider support

TEST_F(SqliteQueries, ProviderStatementsAndTransactions) {
    TSDQuery& q = Query("select * from people");
    q.Open();
    rtl::Params params;
    params.CreateParam(ftString, "CITY", ptUnknown).SetValue(rtl::Variant("Rio"));
    q.PSStartTransaction();
    EXPECT_TRUE(q.PSInTransaction());
    EXPECT_EQ(q.PSExecuteStatement("update people set name = name || '!' where city = :CITY", params), 2);
    std::unique_ptr<TSDQuery> result;
    EXPECT_EQ(q.PSExecuteStatement("select name from people where city = :CITY order by id", params, &result),
              -1);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->FieldByName("NAME").AsString(), "Ana!");
    result.reset();
    q.PSEndTransaction(false);
    EXPECT_FALSE(q.PSInTransaction());
    EXPECT_EQ(Peer("select name from people where id = 1"), (Rows{{"Ana"}}));
    EXPECT_TRUE(q.PSIsSQLBased());
    EXPECT_EQ(q.PSGetQuoteChar(), "");
    EXPECT_EQ(q.PSGetTableName(), "people");
}

TEST_F(SqliteQueries, ProviderRecordUpdateThroughTheUpdateObject) {
    TSDUpdateSQL update;
    update.ModifySQL().SetText("update people set name = :NAME where id = :OLD_ID");
    TSDQuery& q = Query("select id, name from people order by id");
    q.SetUpdateObject(&update);
    q.Open();
    // The data set is its own delta here: its current record is the change.
    q.Edit();
    q.FieldByName("NAME").SetAsString("Anita");
    q.Post();
    EXPECT_TRUE(q.PSUpdateRecord(rtl::ukModify, q));
    EXPECT_EQ(Peer("select name from people where id = 1"), (Rows{{"Anita"}}));
    EXPECT_FALSE(q.PSUpdateRecord(rtl::ukInsert, q));  // no insert statement
    // A record that changed meanwhile.
    q.SetDetachOnFetchAll(true);
    Peer("delete from people where id = 1");
    EXPECT_THROW(q.PSUpdateRecord(rtl::ukModify, q), rtl::EDatabaseError);
    // An update error wraps an engine error.
    try {
        Lite().Exec("select * from nowhere");
    } catch (const ESDEngineError& e) {
        const std::unique_ptr<rtl::EUpdateError> u = q.PSGetUpdateException(e, nullptr);
        ASSERT_NE(u, nullptr);
        EXPECT_EQ(u->Message(), e.Message());
        EXPECT_EQ(u->ErrorCode, e.ErrorCode);
        EXPECT_TRUE(u->OriginalException != nullptr);
    }
    EXPECT_EQ(q.PSGetUpdateException(rtl::Exception("plain"), nullptr), nullptr);
}

// ---------------------------------------------------------------------------------------------
// On the fake driver: key modes, catalog queries and question marks

using FakeQueries = fakeds::Fixture;

TEST_F(FakeQueries, KeyModeNeedsUniqueIndexColumns) {
    SimpleRows(2);
    TSDQuery& q = Query("select ID, NAME from t");
    q.SetRequestLive(true);
    q.SetCachedUpdates(false);
    q.SetUpdateMode(rtl::upWhereKeyOnly);
    server.schemaColumns = {
        {"INDEX_NAME", ftString, 21}, {"INDEX_TYPE", ftInteger, 4}, {"COLUMN_NAME", ftString, 21}};
    // A table without unique index cannot be written by key.
    try {
        q.Open();
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Table is read only");
    }
    EXPECT_FALSE(q.Active());
    EXPECT_EQ(Count("GetSchemaInfo(5,t)"), 1);
    server.schemaRows = {{fake::TextCell("IX_NAME"), fake::IntCell(0), fake::TextCell("NAME")},
                         {fake::TextCell("PK_T"), fake::IntCell(2), fake::TextCell("ID  ")},
                         {fake::TextCell("UQ_T"), fake::IntCell(2), fake::TextCell("NAME")}};
    std::unique_ptr<TSDQuery> schema = OpenSchemaQuery(*db, stIndexes, "t");
    ASSERT_NE(schema, nullptr);
    EXPECT_EQ(schema->RecordCount(), 3);
    EXPECT_EQ(schema->FieldByName("COLUMN_NAME").AsString(), "NAME");
    schema.reset();
    q.Open();
    // The first unique index, its blanks trimmed.
    ASSERT_EQ(q.IndexFields().Count(), 1);
    EXPECT_EQ(q.IndexFields()[0], "ID");
    EXPECT_TRUE(q.GetIsIndexField(q.FieldByName("ID")));
    EXPECT_FALSE(q.GetIsIndexField(q.FieldByName("NAME")));
}

TEST_F(FakeQueries, QuestionMarksBecomeNamesForServersThatBindByName) {
    fake::FakeFactories oracle({stOracle});
    oracle.configure = [this](fake::FakeDatabase& d) {
        d.onCreateCommand = [this](fake::FakeCommand& c) { c.columns = server.columns; };
    };
    TSDDatabase ora;
    ora.SetDatabaseName("ora");
    ora.SetRemoteDatabase("x");
    ora.SetServerType(stOracle);
    ora.SetLoginPrompt(false);
    TSDQuery q;
    q.SetDatabaseName("ora");
    q.SQL().SetText("select 1 from dual");
    server.columns = {{"ONE", ftInteger, 4}};
    q.Open();
    rtl::Params params;
    params.CreateParam(ftInteger, "", ptInput).SetValue(rtl::Variant(int32_t(1)));
    params.CreateParam(ftString, "", ptInput).SetValue(rtl::Variant("a"));
    server.columns.clear();
    q.PSExecuteStatement("update t set a = ? where b = ?", params);
    bool seen = false;
    for (const auto& call : oracle.log.calls)
        if (call.find("DoExecDirect(update t set a = :1 where b = :2") == 0) seen = true;
    EXPECT_TRUE(seen) << oracle.log.Joined();
    q.Close();
}
