// Queries end to end over the ODBC driver: on a SQLite file (SQLite ODBC driver, isql as the
// independent reader) and on a private PostgreSQL server (psqlODBC, psql as the reader), with
// the same tests: parameters, blobs, live edit/insert/delete, the "record changed by another
// user" error, update SQL and master-detail.
#include <gtest/gtest.h>

#include <memory>

#include "database/OdbcTestSupport.h"
#include "database/engine/SDEngineQuery.h"
#include "database/engine/SDEngineUpdateObject.h"
#include "rtl/DataLink.h"
#include "rtl/DateTime.h"
#include "support/PostgresServer.h"

using namespace odbctest;

namespace {

// What differs between the two servers.
class Backend {
public:
    virtual ~Backend() = default;
    virtual bool Available(std::string& reason) = 0;
    virtual std::string ConnectString() = 0;
    virtual std::string User() = 0;
    // Runs statements outside the program (another process, another connection) and gives
    // the rows of the last one.
    virtual Rows Outside(const std::string& sql) = 0;
    virtual std::string BlobType() = 0;
    virtual std::string HexOf(const std::string& column) = 0;
    // The byte count and the first four bytes in hexadecimal of a long value (isql cuts long
    // texts).
    virtual std::string LengthAndHead(const std::string& column) = 0;
    virtual std::string TimestampType() = 0;
    // A key column whose values the server generates.
    virtual std::string SerialKeyType() = 0;
};

class SqliteBackend : public Backend {
public:
    bool Available(std::string& reason) override {
        reason = "unixODBC with the SQLite ODBC driver and isql";
        return SqliteOdbcAvailable();
    }
    std::string ConnectString() override { return "DRIVER=" + kSqliteDriver + ";Database=" + file_.string(); }
    std::string User() override { return ""; }
    Rows Outside(const std::string& sql) override { return Isql(ConnectString(), sql, true); }
    // SQLite's ODBC driver describes a plain "blob" column as 255 bytes long.
    std::string BlobType() override { return "longvarbinary"; }
    std::string HexOf(const std::string& column) override { return "lower(hex(" + column + "))"; }
    std::string LengthAndHead(const std::string& column) override {
        return "length(" + column + "), lower(hex(substr(" + column + ", 1, 4)))";
    }
    std::string TimestampType() override { return "timestamp"; }
    std::string SerialKeyType() override { return "integer primary key autoincrement"; }

private:
    kwtest::TempDir dir_;
    std::filesystem::path file_ = dir_ / "e2e.db";
};

class PostgresBackend : public Backend {
public:
    bool Available(std::string& reason) override {
        reason = "psqlODBC and a PostgreSQL 15 server";
        if (!std::filesystem::exists(kwtest::PostgresServer::kOdbcDriver)) return false;
        if (!Server().Available()) {
            reason = Server().Reason();
            return false;
        }
        // Every test starts on an empty schema.
        Server().Psql("drop schema public cascade; create schema public");
        return true;
    }
    // Byte arrays arrive as long binary values.
    std::string ConnectString() override { return Server().OdbcConnectString() + ";ByteaAsLongVarBinary=1"; }
    std::string User() override { return "postgres"; }
    Rows Outside(const std::string& sql) override { return PsqlRows(Server().Psql(sql)); }
    std::string BlobType() override { return "bytea"; }
    std::string HexOf(const std::string& column) override { return "encode(" + column + ", 'hex')"; }
    std::string LengthAndHead(const std::string& column) override {
        return "length(" + column + "), encode(substring(" + column + " from 1 for 4), 'hex')";
    }
    std::string TimestampType() override { return "timestamp(3)"; }
    std::string SerialKeyType() override { return "serial primary key"; }

    static void StopServer() { server_.reset(); }

private:
    static kwtest::PostgresServer& Server() {
        if (!server_) server_ = std::make_unique<kwtest::PostgresServer>();
        return *server_;
    }
    static std::unique_ptr<kwtest::PostgresServer> server_;
};

std::unique_ptr<kwtest::PostgresServer> PostgresBackend::server_;

// A database "e2e" on one backend, with the table people of three rows.
class QueriesOn : public ::testing::Test {
protected:
    void Start(std::unique_ptr<Backend> backend) {
        backend_ = std::move(backend);
        std::string reason;
        const bool available = backend_->Available(reason);
        KW_REQUIRE_PEER(available, reason);
        RegisterOdbcDriver();
        db = std::make_unique<TSDDatabase>();
        db->SetDatabaseName("e2e");
        db->SetServerType(stODBC);
        db->SetRemoteDatabase(backend_->ConnectString());
        db->SetLoginPrompt(false);
        db->Params().SetValue("USER NAME", backend_->User());
        db->Params().SetValue("ODBC API LIBRARY", kDriverManager);
        db->Open();
        Run("create table people (id integer not null primary key, name varchar(40), city varchar(40), "
            "born " +
            backend_->TimestampType() + ", photo " + backend_->BlobType() + ")");
        Run("insert into people (id, name, city, born) values (1, 'Ana', 'Rio', '1990-03-04 08:30:00')");
        Run("insert into people (id, name, city) values (2, 'Bruno', 'Recife')");
        Run("insert into people (id, name, city) values (3, 'Carla', 'Rio')");
    }
    void TearDown() override {
        queries_.clear();
        db.reset();
        RegisterSqlDatabaseFactory(stODBC, nullptr);
        ReloadDriverManagerName();
    }

    // A statement through the program's own connection.
    void Run(const std::string& sql) {
        TSDQuery& q = Query(sql);
        q.ExecuteStatement();
    }

    TSDQuery& Query(const std::string& sql) {
        queries_.push_back(std::make_unique<TSDQuery>());
        TSDQuery& q = *queries_.back();
        q.SetDatabaseName("e2e");
        q.SQL().SetText(sql);
        return q;
    }

    TSDQuery& Live(const std::string& sql = "select id, name, city from people order by id") {
        TSDQuery& q = Query(sql);
        q.SetRequestLive(true);
        q.SetCachedUpdates(false);
        return q;
    }

    Rows Outside(const std::string& sql) { return backend_->Outside(sql); }

    std::unique_ptr<Backend> backend_;
    std::unique_ptr<TSDDatabase> db;

private:
    std::vector<std::unique_ptr<TSDQuery>> queries_;
};

class OdbcQueries : public QueriesOn, public ::testing::WithParamInterface<const char*> {
protected:
    static void TearDownTestSuite() { PostgresBackend::StopServer(); }

    void SetUp() override {
        if (std::string(GetParam()) == "sqlite")
            Start(std::make_unique<SqliteBackend>());
        else
            Start(std::make_unique<PostgresBackend>());
    }
};

// What was seen on PostgreSQL only.
class PostgresQueries : public QueriesOn {
protected:
    static void TearDownTestSuite() { PostgresBackend::StopServer(); }

    void SetUp() override { Start(std::make_unique<PostgresBackend>()); }

    Rows Psql(const std::string& sql) { return Outside(sql); }
};

std::vector<std::string> Column(TSDQuery& q, const char* field) {
    std::vector<std::string> values;
    for (q.First(); !q.Eof(); q.Next())
        values.push_back(q.FieldByName(field).AsString());
    return values;
}

}  // namespace

TEST_P(OdbcQueries, ParametersOfSeveralTypes) {
    TSDQuery& q =
        Query("select id, name, born from people where city = :CITY and id >= :MINID and born < :BEFORE");
    q.ParamByName("CITY").SetDataType(ftString);
    q.ParamByName("CITY").SetValue(rtl::Variant("Rio"));
    q.ParamByName("MINID").SetDataType(ftInteger);
    q.ParamByName("MINID").SetValue(rtl::Variant(int32_t(1)));
    q.ParamByName("BEFORE").SetDataType(ftDateTime);
    q.ParamByName("BEFORE").SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2000, 1, 1)));
    q.Open();
    ASSERT_FALSE(q.IsEmpty());
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 1);
    EXPECT_EQ(q.FieldByName("NAME").AsString(), "Ana");
    EXPECT_DOUBLE_EQ(q.FieldByName("BORN").AsDateTime(),
                     rtl::EncodeDate(1990, 3, 4) + rtl::EncodeTime(8, 30, 0, 0));
    EXPECT_EQ(q.RecordCount(), 1);
    q.Close();
    // A null parameter matches nothing with "=".
    q.ParamByName("CITY").Clear();
    q.Open();
    EXPECT_TRUE(q.IsEmpty());
    // Rows fetched on demand, counted, searched and sorted on the workstation.
    TSDQuery& all = Query("select id, name, city from people");
    all.Open();
    EXPECT_TRUE(all.Locate("NAME", rtl::Variant("carla"), rtl::loCaseInsensitive));
    EXPECT_EQ(all.FieldByName("ID").AsInteger(), 3);
    all.SortRecords({1}, {}, {false});
    EXPECT_EQ(Column(all, "NAME"), (std::vector<std::string>{"Carla", "Bruno", "Ana"}));
    all.SetFilter("CITY = 'Rio'");
    all.SetFiltered(true);
    EXPECT_EQ(Column(all, "NAME"), (std::vector<std::string>{"Carla", "Ana"}));
}

TEST_P(OdbcQueries, BlobsGoAndComeBack) {
    rtl::ByteArray bytes(70000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 7 + (i >> 8));
    TSDQuery& q = Live("select id, photo from people order by id");
    q.Open();
    q.Edit();
    q.FieldByName("PHOTO").SetAsBytes(bytes);
    q.Post();
    EXPECT_EQ(Outside("select " + backend_->LengthAndHead("photo") + " from people where id = 1"),
              (Rows{{"70000", "00070e15"}}));
    // Read back through a query of its own.
    TSDQuery& r = Query("select photo from people where id = :ID");
    r.ParamByName("ID").SetDataType(ftInteger);
    r.ParamByName("ID").SetValue(rtl::Variant(int32_t(1)));
    r.Open();
    EXPECT_EQ(r.FieldByName("PHOTO").AsBytes(), bytes);
    r.Close();
    // A null blob reads as null.
    r.ParamByName("ID").SetValue(rtl::Variant(int32_t(2)));
    r.Open();
    EXPECT_TRUE(r.FieldByName("PHOTO").IsNull());
    // A blob as a parameter of a statement.
    TSDQuery& put = Query("update people set photo = :PHOTO where id = 3");
    put.ParamByName("PHOTO").SetDataType(ftBlob);
    put.ParamByName("PHOTO").SetValue(rtl::Variant::FromBytes({0xDE, 0xAD, 0xBE, 0xEF}));
    put.ExecuteStatement();
    EXPECT_EQ(put.GetRowsAffected(), 1);
    EXPECT_EQ(Outside("select " + backend_->HexOf("photo") + " from people where id = 3"),
              (Rows{{"deadbeef"}}));
}

TEST_P(OdbcQueries, LiveEditInsertAndDelete) {
    TSDQuery& q = Live();
    q.Open();
    q.Next();
    q.Edit();
    q.FieldByName("CITY").SetAsString("Olinda");
    q.Post();
    q.Append();
    q.FieldByName("ID").SetAsInteger(4);
    q.FieldByName("NAME").SetAsString("Davi");
    q.Post();
    q.First();
    q.Delete();
    EXPECT_EQ(q.RecordCount(), 3);
    EXPECT_EQ(Column(q, "NAME"), (std::vector<std::string>{"Bruno", "Carla", "Davi"}));
    q.Close();
    EXPECT_EQ(Outside("select id, name, city from people order by id"),
              (Rows{{"2", "Bruno", "Olinda"}, {"3", "Carla", "Rio"}, {"4", "Davi", ""}}));
}

// A live delete hides its row in the cache: record numbers close the gap, and both a jump to a
// record number and a refresh find the record by its number, not by the row's place.
TEST_P(OdbcQueries, RecordNumbersAfterALiveDelete) {
    Run("insert into people (id, name) values (4, 'Davi')");
    Run("insert into people (id, name) values (5, 'Edna')");
    TSDQuery& q = Live();
    q.Open();
    q.Delete();  // ID 1: IDs 2..5 are the records 1..4
    EXPECT_EQ(q.RecordCount(), 4);
    struct Case {
        int recNo;
        int id;
    };
    for (const Case& c : {Case{4, 5}, Case{1, 2}, Case{3, 4}, Case{2, 3}, Case{3, 4}}) {
        SCOPED_TRACE(c.recNo);
        q.SetRecNoValue(c.recNo);
        EXPECT_EQ(q.RecNo(), c.recNo);
        EXPECT_EQ(q.FieldByName("ID").AsInteger(), c.id);
    }
    q.Refresh();
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 4);
    EXPECT_EQ(q.RecNo(), 3);
    EXPECT_EQ(q.RecordCount(), 4);
}

// With AutoRefresh a live insert reads back the key the server generated, so the new row can be
// changed and deleted at once.
TEST_P(OdbcQueries, AutoRefreshReadsTheGeneratedKey) {
    Run("create table autos (id " + backend_->SerialKeyType() + ", name varchar(20))");
    Run("insert into autos (name) values ('first')");
    TSDQuery& q = Live("select id, name from autos");
    q.SetAutoRefresh(true);
    q.Open();
    EXPECT_EQ(q.FieldByName("ID").DataType(), ftAutoInc);
    for (const char* name : {"second", "third"}) {
        q.Append();
        q.FieldByName("NAME").SetAsString(name);
        q.Post();
    }
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 3);
    q.Edit();
    q.FieldByName("NAME").SetAsString("third, changed");
    q.Post();
    q.Prior();
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 2);
    q.Delete();
    EXPECT_EQ(Outside("select id, name from autos order by id"), (Rows{{"1", "first"}, {"3", "third, changed"}}));
}

// A filter that names a field the query does not have is an error, not a filter that shows no
// rows.
TEST_P(OdbcQueries, FilterOnAnUnknownFieldIsAnError) {
    TSDQuery& q = Query("select id, name, city from people order by id");
    q.SetName("people");
    q.Open();
    q.SetFilter("CITY = 'Rio'");
    q.SetFiltered(true);
    EXPECT_EQ(Column(q, "ID"), (std::vector<std::string>{"1", "3"}));
    try {
        q.SetFilter("CIDADE = 'Rio'");
        FAIL() << "the filter was taken";
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "people: Campo 'CIDADE' não encontrado");
    }
    // The filter in force stays.
    EXPECT_EQ(q.Filter(), "CITY = 'Rio'");
    EXPECT_EQ(Column(q, "ID"), (std::vector<std::string>{"1", "3"}));
    // Given before the open, the open refuses it.
    q.Close();
    q.SetFilter("upper(CIDADE) = 'RIO' or ID > 1");
    EXPECT_THROW(q.Open(), rtl::EDatabaseError);
    EXPECT_FALSE(q.Active());
}

TEST_P(OdbcQueries, RecordChangedByAnotherUser) {
    TSDQuery& q = Live();
    q.Open();
    q.SetDetachOnFetchAll(true);  // no cursor left open while another program writes
    Outside("update people set city = 'Manaus' where id = 1");
    q.Edit();
    q.FieldByName("NAME").SetAsString("Ana Maria");
    try {
        q.Post();
        FAIL() << "the change went through";
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Registro foi alterado por outro usuário");
    }
    EXPECT_FALSE(db->GetInTransaction());
    q.Cancel();
    EXPECT_EQ(Outside("select name, city from people where id = 1"), (Rows{{"Ana", "Manaus"}}));
    // A deleted row is changed too.
    Outside("delete from people where id = 2");
    q.Next();
    EXPECT_THROW(q.Delete(), rtl::EDatabaseError);
    EXPECT_EQ(Outside("select count(*) from people"), (Rows{{"2"}}));
}

// Under auto-commit a where-all change that matches two identical rows must not change both:
// the count of affected rows is checked inside a transaction of the change's own, which is
// rolled back when the count is wrong.
TEST_P(OdbcQueries, ChangeMatchingTwoRowsIsUndoneUnderAutoCommit) {
    Run("create table twins (n integer, tag varchar(10))");
    Run("insert into twins values (1, 'a')");
    Run("insert into twins values (1, 'a')");
    db->Params().SetValue("AUTOCOMMIT", "TRUE");
    TSDQuery& q = Live("select n, tag from twins");
    q.Open();
    q.SetDetachOnFetchAll(true);
    q.FetchAll();
    q.Edit();
    q.FieldByName("TAG").SetAsString("b");
    try {
        q.Post();
        FAIL() << "two rows changed";
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Registro foi alterado por outro usuário");
    }
    EXPECT_FALSE(db->GetInTransaction());
    q.Cancel();
    EXPECT_EQ(Outside("select n, tag from twins"), (Rows{{"1", "a"}, {"1", "a"}}));
    EXPECT_THROW(q.Delete(), rtl::EDatabaseError);
    EXPECT_FALSE(db->GetInTransaction());
    EXPECT_EQ(Outside("select count(*) from twins"), (Rows{{"2"}}));
    // An insert, whose count is not in doubt, still runs under auto-commit alone.
    q.Append();
    q.FieldByName("N").SetAsInteger(2);
    q.Post();
    EXPECT_FALSE(db->GetInTransaction());
    EXPECT_EQ(Outside("select count(*) from twins"), (Rows{{"3"}}));
}

TEST_P(OdbcQueries, UpdateSqlStatements) {
    TSDUpdateSQL update;
    update.ModifySQL().SetText("update people set city = :CITY, name = :NAME where id = :OLD_ID");
    update.InsertSQL().SetText("insert into people (id, name, city) values (:ID, :NAME, 'nova')");
    update.DeleteSQL().SetText("delete from people where id = :OLD_ID");
    update.RefreshSQL().SetText("select id, name, city from people where id = :OLD_ID");
    TSDQuery& q = Live();
    q.SetUpdateObject(&update);
    q.Open();
    q.SetDetachOnFetchAll(true);
    q.Edit();
    q.FieldByName("CITY").SetAsString("Natal");
    q.Post();
    q.Append();
    q.FieldByName("ID").SetAsInteger(9);
    q.FieldByName("NAME").SetAsString("Nilo");
    q.Post();
    q.Locate("ID", rtl::Variant(int32_t(3)), 0);
    q.Delete();
    EXPECT_EQ(Outside("select id, city from people order by id"),
              (Rows{{"1", "Natal"}, {"2", "Recife"}, {"9", "nova"}}));
    // The refresh statement of the update object re-reads a row.
    Outside("update people set name = 'Beto' where id = 2");
    q.Locate("ID", rtl::Variant(int32_t(2)), 0);
    q.RefreshRecord();
    EXPECT_EQ(q.FieldByName("NAME").AsString(), "Beto");
    // Apply from the program's own handler, in cached mode.
    q.Close();
    q.SetCachedUpdates(true);
    q.OnUpdateRecord = [&](rtl::TDataSet&, rtl::TUpdateKind kind, rtl::TUpdateAction& action) {
        update.Apply(kind);
        action = rtl::uaApplied;
    };
    q.Open();
    q.Edit();
    q.FieldByName("NAME").SetAsString("Ana B.");
    q.Post();
    EXPECT_TRUE(q.PSUpdateRecord(rtl::ukModify, q));
    EXPECT_EQ(Outside("select name from people where id = 1"), (Rows{{"Ana B."}}));
}

TEST_P(OdbcQueries, MasterDetail) {
    Run("create table phones (person integer, phone varchar(20))");
    Run("insert into phones values (1, 'a1')");
    Run("insert into phones values (1, 'a2')");
    Run("insert into phones values (3, 'c1')");
    TSDQuery& master = Query("select id, name from people order by id");
    TSDQuery& detail = Query("select phone from phones where person = :ID order by phone");
    rtl::TDataSource source;
    source.SetDataSet(&master);
    detail.SetDataSource(&source);
    master.Open();
    detail.Open();
    EXPECT_EQ(Column(detail, "PHONE"), (std::vector<std::string>{"a1", "a2"}));
    master.Next();
    EXPECT_TRUE(detail.IsEmpty());
    master.Next();
    EXPECT_EQ(Column(detail, "PHONE"), (std::vector<std::string>{"c1"}));
    master.Close();
    EXPECT_TRUE(detail.Active());
}

INSTANTIATE_TEST_SUITE_P(Servers, OdbcQueries, ::testing::Values("sqlite", "postgres"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

// A live change on a connection the server ended, with the owner closing the connection: the
// change fails with the driver's lost-connection error, the process and the query live on,
// and after reconnecting the query opens and changes rows again. Once with a query that still
// has its cursor (it is closed with the connection) and once with a detached one (it stays
// open on its cached rows).
TEST_F(PostgresQueries, LiveChangeOnALostConnectionFailsAndLeavesTheQueryUsable) {
    int lostCalls = 0;
    db->OnLostConnectError = [&](TSDDatabase&, const ESDEngineError&, TSDLostConnectAction& action) {
        ++lostCalls;
        action = lcCloseConnect;
    };
    enum class Change { Edit, Insert, Delete };
    struct Case {
        const char* name;
        Change change;
        bool detached;
    };
    const Case cases[] = {
        {"edit", Change::Edit, false},          {"insert", Change::Insert, false},
        {"delete", Change::Delete, false},      {"edit, detached", Change::Edit, true},
        {"insert, detached", Change::Insert, true}, {"delete, detached", Change::Delete, true},
    };
    const Rows before = Outside("select id, name, city from people order by id");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        lostCalls = 0;
        if (!db->Connected()) db->Open();
        TSDQuery& q = Live();
        q.Open();
        if (c.detached) {
            q.SetDetachOnFetchAll(true);
            q.FetchAll();
        }
        TSDQuery& pid = Query("select pg_backend_pid() as pid");
        pid.Open();
        Outside("select pg_terminate_backend(" + pid.FieldByName("PID").AsString() + ")");
        pid.Close();
        q.First();
        try {
            switch (c.change) {
                case Change::Edit:
                    q.Edit();
                    q.FieldByName("CITY").SetAsString("Olinda");
                    q.Post();
                    break;
                case Change::Insert:
                    q.Append();
                    q.FieldByName("ID").SetAsInteger(9);
                    q.FieldByName("NAME").SetAsString("Nilo");
                    q.Post();
                    break;
                case Change::Delete:
                    q.Delete();
                    break;
            }
            ADD_FAILURE() << "the change went through a terminated connection";
        } catch (const ESDEngineError& e) {
            EXPECT_TRUE(e.ConnectionLost) << e.Message();
        }
        EXPECT_EQ(lostCalls, 1);
        EXPECT_FALSE(db->Connected());
        EXPECT_FALSE(db->GetInTransaction());  // the change's own transaction died with the session
        // Only the detached query keeps its rows, still in the state of the failed change.
        EXPECT_EQ(q.Active(), c.detached);
        if (q.Active()) {
            q.Cancel();
            EXPECT_EQ(Column(q, "NAME"), (std::vector<std::string>{"Ana", "Bruno", "Carla"}));
            // A failed edit stays in the cache (as any failed live edit does) until the query
            // reads its rows again.
            EXPECT_EQ(Column(q, "CITY"), (std::vector<std::string>{c.change == Change::Edit ? "Olinda" : "Rio",
                                                                  "Recife", "Rio"}));
        }
        q.Close();
        // Nothing reached the server; after reconnecting the same query changes a row.
        EXPECT_EQ(Outside("select id, name, city from people order by id"), before);
        db->Open();
        q.Open();
        q.Edit();
        q.FieldByName("NAME").SetAsString("Ana");
        q.FieldByName("CITY").SetAsString("Rio");
        q.Post();
        EXPECT_EQ(q.RecordCount(), 3);
        q.Close();
    }
    EXPECT_EQ(Outside("select id, name, city from people order by id"), before);
}

// A serial key is described as auto-increment; a live insert leaves it to the server instead of
// sending NULL for it, which the server refuses (23502).
TEST_F(PostgresQueries, LiveInsertLeavesTheSerialKeyToTheServer) {
    Run("create table autos (id serial primary key, name varchar(20))");
    Run("insert into autos (name) values ('first')");
    TSDQuery& q = Live("select id, name from autos");
    q.Open();
    EXPECT_EQ(q.FieldByName("ID").DataType(), ftAutoInc);
    q.Append();
    q.FieldByName("NAME").SetAsString("second");
    q.Post();
    EXPECT_EQ(Outside("select id, name from autos order by id"), (Rows{{"1", "first"}, {"2", "second"}}));
}

// A computed select item is no column of the table: a where-all post compares and writes only
// the real columns.
TEST_F(PostgresQueries, ComputedItemsStayOutOfGeneratedStatements) {
    Run("create table stock (id integer primary key, qty integer, name varchar(10))");
    Run("insert into stock values (1, 5, 'bolt')");
    TSDQuery& q = Live("select id, qty, qty * 2 as total, upper(name) as big from stock");
    q.Open();
    EXPECT_EQ(q.FieldByName("TOTAL").AsInteger(), 10);
    q.Edit();
    q.FieldByName("QTY").SetAsInteger(6);
    q.Post();
    q.Append();
    q.FieldByName("ID").SetAsInteger(2);
    q.FieldByName("QTY").SetAsInteger(1);
    q.Post();
    q.First();
    q.Delete();
    EXPECT_EQ(Outside("select id, qty from stock order by id"), (Rows{{"2", "1"}}));
}

// A table and columns whose names are quoted identifiers in mixed case keep their quotes
// exactly once in the generated statements, with and without "QUOTE IDENTIFIER", and the key of
// such a table is found for the key-only mode.
TEST_F(PostgresQueries, QuotedMixedCaseNamesKeepTheirQuotesOnce) {
    Run("create table \"MixedCase\" (\"Id\" integer primary key, \"Name\" varchar(20), plain varchar(20))");
    struct Case {
        const char* quote;
        rtl::TUpdateMode mode;
        const char* sql;
    };
    const Case cases[] = {
        {"TRUE", rtl::upWhereAll, "select \"Id\", \"Name\", plain from \"MixedCase\""},
        {"FALSE", rtl::upWhereAll, "select \"Id\", \"Name\", plain from \"MixedCase\""},
        {"TRUE", rtl::upWhereKeyOnly, "select \"Id\", \"Name\", plain from \"MixedCase\""},
        {"FALSE", rtl::upWhereKeyOnly, "select m.\"Id\", m.\"Name\", m.plain from public.\"MixedCase\" m"},
    };
    int id = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.quote) + (c.mode == rtl::upWhereAll ? " where-all " : " key-only ") + c.sql);
        db->Params().SetValue("QUOTE IDENTIFIER", c.quote);
        TSDQuery& q = Live(c.sql);
        q.SetUpdateMode(c.mode);
        ++id;
        try {
        q.Open();
        q.Append();
        q.FieldByName("Id").SetAsInteger(id);
        q.FieldByName("Name").SetAsString("novo");
        q.FieldByName("plain").SetAsString("p");
        q.Post();
        q.Edit();
        q.FieldByName("Name").SetAsString("mudado");
        q.Post();
        EXPECT_EQ(Outside("select \"Name\", plain from \"MixedCase\" where \"Id\" = " + std::to_string(id)),
                  (Rows{{"mudado", "p"}}));
        // A where-all refresh finds the row only as it was; the key finds it changed.
        const bool byKey = c.mode == rtl::upWhereKeyOnly;
        if (byKey) Outside("update \"MixedCase\" set plain = 'q' where \"Id\" = " + std::to_string(id));
        q.RefreshRecord();
        EXPECT_EQ(q.FieldByName("plain").AsString(), byKey ? "q" : "p");
        q.Delete();
        EXPECT_EQ(Outside("select count(*) from \"MixedCase\""), (Rows{{"0"}}));
        } catch (const rtl::Exception& e) {
            ADD_FAILURE() << e.Message();
        }
        q.Close();
        Outside("delete from \"MixedCase\"");
    }
}

// With "ENABLE BCD" exact numerics with a scale of one to four places and at most fourteen
// integer digits are BCD fields, read and written without passing through a double; without
// it, and beyond those sizes, they stay floating point.
TEST_F(PostgresQueries, EnableBcdKeepsExactNumericsExact) {
    Run("create table money (id integer primary key, amount numeric(18,4), wide numeric(30,10), whole numeric(10,0))");
    Run("insert into money values (1, 99999999999999.9999, 1.5, 7), (2, -0.0001, null, null)");
    const int64_t largest = 999999999999999999;  // 99999999999999.9999 in ten-thousandths
    {
        TSDQuery& q = Live("select id, amount, wide, whole from money order by id");
        q.Open();
        EXPECT_EQ(q.FieldByName("AMOUNT").DataType(), ftFloat);
        EXPECT_EQ(q.FieldByName("AMOUNT").AsFloat(), 1e14);  // the double cannot tell them apart
        q.Close();
    }
    db->Close();
    db->Params().SetValue("ENABLE BCD", "TRUE");
    db->Open();
    TSDQuery& q = Live("select id, amount, wide, whole from money order by id");
    q.Open();
    EXPECT_EQ(q.FieldByName("AMOUNT").DataType(), ftBCD);
    EXPECT_EQ(q.FieldByName("AMOUNT").Size(), 4);
    EXPECT_EQ(q.FieldByName("WIDE").DataType(), ftFloat);   // ten places: beyond a BCD field's four
    EXPECT_EQ(q.FieldByName("WHOLE").DataType(), ftFloat);  // no places: a number like any other
    EXPECT_EQ(q.FieldByName("AMOUNT").Value().AsCurrency(), largest);
    q.Next();
    EXPECT_EQ(q.FieldByName("AMOUNT").Value().AsCurrency(), -1);
    // Written back exactly: the where-all post compares the old value as a parameter too.
    q.Edit();
    q.FieldByName("AMOUNT").SetValue(rtl::Variant::FromCurrency(largest - 1));
    q.Post();
    q.Append();
    q.FieldByName("ID").SetAsInteger(3);
    q.FieldByName("AMOUNT").SetValue(rtl::Variant::FromCurrency(-largest));
    q.Post();
    EXPECT_EQ(Outside("select id, amount from money order by id"),
              (Rows{{"1", "99999999999999.9999"}, {"2", "99999999999999.9998"}, {"3", "-99999999999999.9999"}}));
    // A BCD parameter of a statement of the program's own.
    TSDQuery& find = Query("select id from money where amount = :A");
    find.ParamByName("A").SetDataType(ftBCD);
    find.ParamByName("A").SetValue(rtl::Variant::FromCurrency(largest - 1));
    find.Open();
    EXPECT_EQ(Column(find, "ID"), (std::vector<std::string>{"2"}));
}

// A boolean parameter reaches a boolean column as a boolean (bound as SQL_BIT where the data
// source describes the parameter so), where a small integer is refused (42804).
TEST_F(PostgresQueries, BooleanParametersReachBooleanColumns) {
    Run("create table flags (id integer primary key, flag boolean, n smallint)");
    TSDQuery& put = Query("insert into flags values (:ID, :FLAG, :N)");
    put.ParamByName("ID").SetDataType(ftInteger);
    put.ParamByName("FLAG").SetDataType(ftBoolean);
    put.ParamByName("N").SetDataType(ftBoolean);  // a number column takes 0 and 1 as before
    for (int id = 1; id <= 3; ++id) {
        SCOPED_TRACE(id);
        put.ParamByName("ID").SetValue(rtl::Variant(int32_t(id)));
        if (id == 3) {
            put.ParamByName("FLAG").Clear();
        } else {
            put.ParamByName("FLAG").SetValue(rtl::Variant(id == 1));
        }
        put.ParamByName("N").SetValue(rtl::Variant(id == 1));
        put.ExecuteStatement();
    }
    EXPECT_EQ(Outside("select id, flag, n from flags order by id"),
              (Rows{{"1", "t", "1"}, {"2", "f", "0"}, {"3", "", "0"}}));
    TSDQuery& find = Query("select id from flags where flag = :FLAG");
    find.ParamByName("FLAG").SetDataType(ftBoolean);
    find.ParamByName("FLAG").SetValue(rtl::Variant(false));
    find.Open();
    EXPECT_EQ(Column(find, "ID"), (std::vector<std::string>{"2"}));
}
