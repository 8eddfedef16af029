// The ODBC driver on SQLite through unixODBC and the SQLite ODBC driver (no server), with isql
// as the independent reader of the same database file.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "database/OdbcTestSupport.h"
#include "database/engine/SDEngine.h"
#include "rtl/Assert.h"
#include "rtl/DbParams.h"

using namespace odbctest;

namespace {

class OdbcSqlite : public ::testing::Test {
protected:
    void SetUp() override {
        KW_REQUIRE_PEER(SqliteOdbcAvailable(), "unixODBC with the SQLite ODBC driver and isql");
        static std::atomic<int> counter{0};
        database_ = dir_ / "test.db";
        dsn_ = "kwodbc_sqlite_" + std::to_string(counter++);
        DataSources::Get().AddSqlite(dsn_, database_);
    }
    void TearDown() override { ReloadDriverManagerName(); }

    std::string ConnectString() const {
        return "DRIVER=" + kSqliteDriver + ";Database=" + database_.string();
    }

    Connection Open(std::initializer_list<std::string> params = {},
                    const std::string& library = kDriverManager) {
        Connection c = NewOdbc(OdbcParams(params, library));
        c.db->Connect(ConnectString(), "", "");
        return c;
    }

    Rows IsqlRows(const std::string& sql) { return Isql(dsn_, sql); }

    kwtest::TempDir dir_;
    std::filesystem::path database_;
    std::string dsn_;
};

TEST_F(OdbcSqlite, ConnectsByDataSourceNameAndByConnectionString) {
    for (const bool byName : {true, false}) {
        SCOPED_TRACE(byName ? "data source name" : "connection string");
        Connection c = NewOdbc();
        EXPECT_EQ(c->GetHandle(), nullptr);
        c.db->Connect(byName ? dsn_ : ConnectString(), "", "");
        ASSERT_NE(c->GetHandle(), nullptr);
        const auto* rec = static_cast<const TOdbcHandleRec*>(c->GetHandle());
        EXPECT_EQ(rec->Kind, 6);
        EXPECT_NE(rec->Env, nullptr);
        EXPECT_NE(rec->Dbc, nullptr);
        EXPECT_EQ(c->GetServerType(), stODBC);
        EXPECT_EQ(c->GetVersionString().rfind("SQLite Release 3.", 0), 0u) << c->GetVersionString();
        EXPECT_EQ(GetVersionMajor(c->GetServerVersion()), 3);
        EXPECT_TRUE(c->TestConnected());
        EXPECT_EQ(OdbcLibrary().LoadCount(), 1);
        Exec(*c.db, "create table if not exists t(i integer)");
        Exec(*c.db, "insert into t values (1)");
        c.db->Disconnect(false);
        EXPECT_EQ(c->GetHandle(), nullptr);
        EXPECT_EQ(OdbcLibrary().LoadCount(), 0);
    }
    EXPECT_EQ(IsqlRows("select count(*) from t"), (Rows{{"2"}}));
}

TEST_F(OdbcSqlite, ConnectFailureReportsTheDataSourceAndLeavesNothingLoaded) {
    Connection c = NewOdbc();
    try {
        c.db->Connect("kwodbc_no_such_source", "", "");
        FAIL() << "connected to a missing data source";
    } catch (const ESDOdbcError& e) {
        EXPECT_EQ(e.SqlState, "IM002") << e.Message();
        EXPECT_FALSE(e.ConnectionLost);
    }
    EXPECT_EQ(c->GetHandle(), nullptr);
    EXPECT_EQ(OdbcLibrary().LoadCount(), 0);
}

TEST_F(OdbcSqlite, ReadsColumnsAsIsqlReadsThem) {
    Connection c = Open();
    Exec(*c.db,
         "create table kinds(id integer primary key, name varchar(20), amount double, born date, "
         "seen timestamp, note text, flag smallint, big bigint)");
    Exec(*c.db,
         "insert into kinds values (1, 'ação', 1.5, '2020-01-02', '2020-01-02 03:04:05.678', 'long text', 1, "
         "9000000000)");
    Exec(*c.db,
         "insert into kinds values (2, 'b  ', -2.25, '1899-12-30', '1999-12-31 23:59:59.000', NULL, 0, -1)");
    Exec(*c.db, "insert into kinds values (3, NULL, NULL, NULL, NULL, '', NULL, NULL)");
    // Days before 1899-12-30 are date-times below zero.
    Exec(*c.db,
         "insert into kinds values (4, 'old', 0.5, '1850-06-15', '1066-10-14 09:30:00.250', 'x', 1, 2)");
    const std::string sql = "select id, name, amount, born, seen, note, flag, big from kinds order by id";
    const Rows ours = Query(*c.db, sql);
    Rows theirs = IsqlRows(sql);
    // isql shows nulls as empty fields.
    for (auto& row : theirs)
        for (auto& v : row)
            if (v.empty()) v = "<null>";
    ASSERT_EQ(ours.size(), 4u);
    EXPECT_EQ(Describe(ours), Describe(theirs));
}

// The last days of months, leap days among them, read as dates and in time stamps.
TEST_F(OdbcSqlite, LastDaysOfMonthsAreRead) {
    Connection c = Open();
    Exec(*c.db, "create table days(d date, ts timestamp)");
    Exec(*c.db,
         "insert into days values ('2024-02-29', '2000-02-29 10:00:00'), ('2023-04-30', '1900-12-31 00:00:00'), "
         "('1900-02-28', '2023-01-31 23:59:59.999')");
    const Rows ours = Query(*c.db, "select d, ts from days");
    EXPECT_EQ(Describe(ours), Describe(Rows{{"2024-02-29", "2000-02-29 10:00:00.000"},
                                            {"2023-04-30", "1900-12-31 00:00:00.000"},
                                            {"1900-02-28", "2023-01-31 23:59:59.999"}}));
}

// Column declarations and what the driver makes of them. SQLite's ODBC driver reports the
// declared size, and declared sizes above 255 as long types; the bytes of a character column
// are sized for UTF-8, four per character.
TEST_F(OdbcSqlite, DescribesLongColumnsAsMemosAndBlobs) {
    Connection c = Open({"MAX STRING SIZE=10"});
    Exec(*c.db,
         "create table shapes(id integer, short_text varchar(8), mid_text varchar(20), any_text varchar(0), "
         "long_text varchar(300), small_bin varbinary(8), mid_bin varbinary(20), long_bin varbinary(300), "
         "fixed_bin blob)");
    Exec(*c.db, "insert into shapes values (1, 'short ç', 'middle text ç', 'any', '" + std::string(300, 'w') +
                    "', x'00ff10', x'" + std::string(40, 'a') + "', x'" + std::string(600, 'b') +
                    "', x'0102')");
    struct Expected {
        const char* name;
        TFieldType type;
        int32_t size;
        bool blobSlot;
    } expected[] = {
        {"id", ftInteger, 4, false},
        {"short_text", ftString, 33, false},
        // Longer than MAX STRING SIZE: a memo, still bound into the row.
        {"mid_text", ftMemo, 81, true},
        // No size at all: a memo of the long-data size.
        {"any_text", ftMemo, 1048576, true},
        // Reported as a long type by the data source: read in pieces.
        {"long_text", ftMemo, 0, true},
        {"small_bin", ftVarBytes, 8, true},
        {"mid_bin", ftBlob, 0, true},
        {"long_bin", ftBlob, 0, true},
        {"fixed_bin", ftBlob, 255, true},
    };
    TISqlCommandPtr cmd = c->CreateSqlCommand(nullptr);
    cmd->Prepare("select * from shapes");
    ASSERT_EQ(cmd->FieldDescs->Count(), int(std::size(expected)));
    for (int i = 0; i < cmd->FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = cmd->FieldDescs->GetFieldDesc(i);
        EXPECT_EQ(d.FieldName, expected[i].name);
        EXPECT_EQ(d.FieldType, expected[i].type) << d.FieldName;
        EXPECT_EQ(d.DataSize, expected[i].size) << d.FieldName;
        EXPECT_EQ(IsBlobFieldType(stODBC, d.FieldType), expected[i].blobSlot) << d.FieldName;
    }
    cmd->Execute();
    ASSERT_TRUE(cmd->FetchNextRow());
    const std::vector<std::string> row = RowTexts(*cmd);
    EXPECT_FALSE(cmd->FetchNextRow());
    // isql reads the same values (binary ones as SQLite's hex text).
    const Rows theirs = IsqlRows(
        "select id, short_text, mid_text, any_text, long_text, hex(small_bin), hex(mid_bin), hex(long_bin), "
        "hex(fixed_bin) from shapes");
    ASSERT_EQ(theirs.size(), 1u);
    auto hex = [](const std::string& bytes) {
        std::string out;
        for (unsigned char b : bytes)
            out += rtl::IntToHex(b, 2);
        return out;
    };
    for (size_t i = 0; i < row.size(); ++i)
        EXPECT_EQ(i >= 5 ? hex(row[i]) : row[i], theirs[0][i]) << expected[i].name;
}

// A value longer than its cell is never passed on cut short: a bound memo is completed from
// the data source, an ordinary string column reports the truncation.
TEST_F(OdbcSqlite, LongerValuesAreReadWholeOrReported) {
    Connection c = Open({"MAX STRING SIZE=10"});
    // wide_text is a memo bound into the row (81 bytes), short_text a string of 21 bytes.
    Exec(*c.db, "create table sizes(id integer, wide_text varchar(20), short_text varchar(5))");
    const std::string long3000 = std::string(2990, 'x') + "0123456789";
    // SQLite keeps whatever it is given, whatever the declared size.
    Exec(*c.db, "insert into sizes values (1, '" + long3000 + "', 'abcde')");
    Exec(*c.db, "insert into sizes values (2, 'short', 'abcdefghijklmnopqrstuvwxyz')");
    TISqlCommandPtr cmd = c->CreateSqlCommand(nullptr);
    cmd->Prepare("select id, wide_text, short_text from sizes order by id");
    cmd->Execute();
    ASSERT_TRUE(cmd->FetchNextRow());
    const std::vector<std::string> first = RowTexts(*cmd);
    EXPECT_EQ(first[1], long3000);
    EXPECT_EQ(IsqlRows("select length(wide_text) from sizes where id = 1"), (Rows{{"3000"}}));
    try {
        cmd->FetchNextRow();
        FAIL() << "a 26-byte value came through a 20-byte cell";
    } catch (const ESDOdbcError& e) {
        EXPECT_EQ(e.SqlState, "01004");
        EXPECT_NE(e.Message().find("short_text"), std::string::npos) << e.Message();
        EXPECT_FALSE(e.ConnectionLost);
    }
}

// Rows of a block fetch: PREFETCH ROWS 20 reads 20 rows per SQLFetch; the stand-in's journal
// counts the calls that reach the driver manager.
TEST_F(OdbcSqlite, BlockFetchCrossesBlockBoundaries) {
    const Standin standin(Db2StandinPath());
    KW_REQUIRE_PEER(standin.Available(), "the call-level stand-in library");
    for (const int total : {45, 40, 19}) {
        SCOPED_TRACE(total);
        Connection c = Open({"PREFETCH ROWS=20"}, standin.Path());
        Exec(*c.db, "drop table if exists series");
        Exec(*c.db, "create table series(id integer, name varchar(12), price double)");
        for (int i = 1; i <= total; ++i)
            Exec(*c.db, "insert into series values (" + std::to_string(i) + ", 'item " + std::to_string(i) +
                            "', " + std::to_string(i) + ".25)");
        TISqlCommandPtr cmd = c->CreateSqlCommand(nullptr);
        cmd->Prepare("select id, name, price from series order by id");
        cmd->Execute();
        standin.Clear();
        const Rows ours = FetchAll(*cmd);
        auto& odbc = dynamic_cast<TICustomOdbcCommand&>(*cmd);
        EXPECT_TRUE(odbc.BlockFetching());
        EXPECT_EQ(odbc.RowsPerFetch(), 20);
        EXPECT_EQ(Describe(ours), Describe(IsqlRows("select id, name, price from series order by id")));
        // One call per block; the end shows as an empty row inside a partial block. Only when
        // the block's last row is the empty one (or the block was full) does one more call
        // learn that nothing follows.
        const size_t calls = size_t((total + 19) / 20) + (total % 20 == 0 || total % 20 == 19 ? 1 : 0);
        EXPECT_EQ(standin.Lines("SQLFetch").size(), calls);
    }
}

TEST_F(OdbcSqlite, LongColumnsAreFetchedRowByRow) {
    const Standin standin(Db2StandinPath());
    KW_REQUIRE_PEER(standin.Available(), "the call-level stand-in library");
    Connection c = Open({"PREFETCH ROWS=20"}, standin.Path());
    Exec(*c.db, "create table notes(id integer, body text)");
    for (int i = 1; i <= 25; ++i)
        Exec(*c.db, "insert into notes values (" + std::to_string(i) + ", 'note " + std::to_string(i) + "')");
    TISqlCommandPtr cmd = c->CreateSqlCommand(nullptr);
    cmd->Prepare("select id, body from notes order by id");
    cmd->Execute();
    standin.Clear();
    const Rows ours = FetchAll(*cmd);
    EXPECT_FALSE(dynamic_cast<TICustomOdbcCommand&>(*cmd).BlockFetching());
    EXPECT_EQ(Describe(ours), Describe(IsqlRows("select id, body from notes order by id")));
    EXPECT_EQ(standin.Lines("SQLFetch").size(), 26u);
}

// A row that the data source could not deliver is reported, not skipped; the rows after it
// still come.
TEST_F(OdbcSqlite, BlockFetchReportsARowInError) {
    const Standin standin(Db2StandinPath());
    KW_REQUIRE_PEER(standin.Available(), "the call-level stand-in library");
    Connection c = Open({"PREFETCH ROWS=10"}, standin.Path());
    Exec(*c.db, "create table series(id integer)");
    for (int i = 1; i <= 25; ++i)
        Exec(*c.db, "insert into series values (" + std::to_string(i) + ")");
    TISqlCommandPtr cmd = c->CreateSqlCommand(nullptr);
    cmd->Prepare("select id from series order by id");
    cmd->Execute();
    std::vector<int> seen;
    int32_t id = 0;
    ASSERT_TRUE(cmd->FetchNextRow());
    ASSERT_TRUE(cmd->GetFieldAsInteger(1, id));
    seen.push_back(id);
    standin.FailRow(3);  // the fourth row of the next block: row 14
    bool failed = false;
    for (;;) {
        try {
            if (!cmd->FetchNextRow()) break;
        } catch (const ESDOdbcError& e) {
            EXPECT_FALSE(failed) << "a second failure";
            failed = true;
            EXPECT_EQ(e.SqlState, "22003");
            // The data source's 32-bit code arrives whole.
            EXPECT_EQ(e.NativeError, 70000);
            EXPECT_EQ(e.ErrorCode, 70000);
            EXPECT_EQ(e.Message(), "Numeric value out of range (stand-in)");
            EXPECT_FALSE(e.ConnectionLost);
            EXPECT_EQ(seen.back(), 13);
            continue;
        }
        ASSERT_TRUE(cmd->GetFieldAsInteger(1, id));
        seen.push_back(id);
    }
    EXPECT_TRUE(failed);
    std::vector<int> expected;
    for (int i = 1; i <= 25; ++i)
        if (i != 14) expected.push_back(i);
    EXPECT_EQ(seen, expected);
}

rtl::ByteArray AllBytes(size_t length) {
    rtl::ByteArray bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = uint8_t((i * 7 + i / 256) & 0xFF);
    return bytes;
}

// Long values go to the data source in pieces at execution time and come back in pieces,
// whole, whatever the piece size and wherever a piece boundary falls inside a character.
TEST_F(OdbcSqlite, LongDataTravelsBothWays) {
    // A piece size of 0 would never finish: it falls back to the default.
    for (const char* piece : {"BLOB PIECE SIZE=32752", "BLOB PIECE SIZE=999", "BLOB PIECE SIZE=0"}) {
        SCOPED_TRACE(piece);
        Connection c = Open({piece});
        Exec(*c.db, "drop table if exists big");
        Exec(*c.db, "create table big(id integer, body text, data longvarbinary)");
        std::string text;
        for (int i = 0; text.size() < 300000; ++i)
            text += "linha " + std::to_string(i) + " ação çà ";
        const rtl::ByteArray bytes = AllBytes(250001);
        EXPECT_EQ(InsertLongRow(*c.db, "insert into big values (:id, :body, :data)", 1, text, bytes), 1);

        const Rows theirs = IsqlRows(
            "select length(body), length(data), hex(substr(data, 200001, 4)), "
            "substr(body, 100001, 12) from big");
        ASSERT_EQ(theirs.size(), 1u);
        char hex[16];
        std::snprintf(hex, sizeof hex, "%02X%02X%02X%02X", bytes[200000], bytes[200001], bytes[200002],
                      bytes[200003]);
        // SQLite counts characters in text.
        EXPECT_EQ(theirs[0][1], std::to_string(bytes.size()));
        EXPECT_EQ(theirs[0][2], hex);

        TISqlCommandPtr select = c->CreateSqlCommand(nullptr);
        select->Prepare("select body, data from big");
        select->Execute();
        ASSERT_TRUE(select->FetchNextRow());
        const TSDBlobRef body = select->GetFieldBlobData(select->FieldDescs->GetFieldDesc(0));
        const TSDBlobRef data = select->GetFieldBlobData(select->FieldDescs->GetFieldDesc(1));
        ASSERT_TRUE(body && data);
        EXPECT_EQ(std::string(body->begin(), body->end()), text);
        EXPECT_TRUE(*data == bytes);
    }
}

// Parameters of every kind the statements bind, read back by isql.
TEST_F(OdbcSqlite, ParametersReachTheDataSource) {
    Connection c = Open();
    Exec(*c.db,
         "create table vals(s varchar(20), i integer, si smallint, f double, d date, t time, ts timestamp, "
         "big bigint, b smallint, n integer, fc char(10))");
    TParams params;
    params.CreateParam(ftString, "s", ptInput).SetValue(rtl::Variant("ação 'q'"));
    params.CreateParam(ftInteger, "i", ptInput).SetValue(rtl::Variant(int32_t(-42)));
    params.CreateParam(ftSmallint, "si", ptInput).SetValue(rtl::Variant(int16_t(7)));
    params.CreateParam(ftFloat, "f", ptInput).SetValue(rtl::Variant(2.5));
    params.CreateParam(ftDate, "d", ptInput)
        .SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2021, 3, 4)));
    params.CreateParam(ftTime, "t", ptInput)
        .SetValue(rtl::Variant::FromDateTime(rtl::EncodeTime(5, 6, 7, 0)));
    params.CreateParam(ftDateTime, "ts", ptInput)
        .SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2021, 3, 4) + rtl::EncodeTime(5, 6, 7, 890)));
    params.CreateParam(ftLargeint, "big", ptInput).SetValue(rtl::Variant(int64_t(9000000000LL)));
    params.CreateParam(ftBoolean, "b", ptInput).SetValue(rtl::Variant(true));
    params.CreateParam(ftInteger, "n", ptInput).Clear();
    params.CreateParam(ftFixedChar, "fc", ptInput).SetValue(rtl::Variant("fixed"));
    TISqlCommandPtr insert = c->CreateSqlCommand(nullptr);
    insert->SetParams(&params);
    insert->Prepare("insert into vals values (:s, :i, :si, :f, :d, :t, :ts, :big, :b, :n, :fc)");
    insert->Execute();
    EXPECT_EQ(params[10].DataType(), ftString);  // a fixed-char parameter is bound as a string
    const Rows theirs =
        IsqlRows("select s, i, si, f, d, t, substr(ts, 1, 23), big, b, coalesce(n, 'null'), fc from vals");
    EXPECT_EQ(theirs, (Rows{{"ação 'q'", "-42", "7", "2.5", "2021-03-04", "05:06:07",
                             "2021-03-04 05:06:07.890", "9000000000", "1", "null", "fixed"}}));
    // And the driver reads them back the same way.
    const Rows ours = Query(*c.db, "select s, i, si, f, d, t, ts, big, b, n from vals");
    EXPECT_EQ(ours, (Rows{{"ação 'q'", "-42", "7", "2.5", "2021-03-04", "05:06:07", "2021-03-04 05:06:07.890",
                           "9000000000", "1", "<null>"}}));
}

TEST_F(OdbcSqlite, TransactionsCommitAndRollBackAsIsqlSees) {
    Connection c = Open();
    Exec(*c.db, "create table ledger(id integer)");
    EXPECT_TRUE(c.Odbc().TransactionsSupported());
    EXPECT_TRUE(c->AutoCommit);
    c->StartTransaction();
    Exec(*c.db, "insert into ledger values (1)");
    EXPECT_EQ(IsqlRows("select count(*) from ledger"), (Rows{{"0"}}));
    c->Commit();
    EXPECT_EQ(IsqlRows("select count(*) from ledger"), (Rows{{"1"}}));
    c->StartTransaction();
    Exec(*c.db, "insert into ledger values (2)");
    c->Rollback();
    EXPECT_FALSE(c->InTransaction);
    EXPECT_EQ(IsqlRows("select count(*) from ledger"), (Rows{{"1"}}));
    // Auto-commit is back: a plain statement is visible at once.
    Exec(*c.db, "insert into ledger values (3)");
    EXPECT_EQ(IsqlRows("select count(*) from ledger"), (Rows{{"2"}}));
    // Disconnecting inside a transaction rolls it back.
    c->StartTransaction();
    Exec(*c.db, "insert into ledger values (4)");
    c.db->Disconnect(false);
    EXPECT_EQ(IsqlRows("select id from ledger order by id"), (Rows{{"1"}, {"3"}}));
}

TEST_F(OdbcSqlite, ServerErrorsCarryTheDataSourceMessage) {
    Connection c = Open();
    try {
        Exec(*c.db, "select * from no_such_table");
        FAIL() << "no error";
    } catch (const ESDOdbcError& e) {
        EXPECT_NE(e.Message().find("no_such_table"), std::string::npos) << e.Message();
        EXPECT_EQ(e.SqlState.size(), 5u);
        EXPECT_FALSE(e.ConnectionLost);
    }
    // The connection goes on working.
    EXPECT_EQ(Query(*c.db, "select 1 + 1"), (Rows{{"2"}}));
}

// The engine's database on the driver: an invalid cursor state reaches the program as an
// error and leaves the connection alone.
TEST_F(OdbcSqlite, InvalidCursorStateKeepsTheConnection) {
    RegisterOdbcDriver();
    TSDSession session;
    session.SetSessionName("OdbcCursorState");
    TSDDatabase db(&session);
    db.SetDatabaseName("cursor");
    db.SetServerType(stODBC);
    db.SetRemoteDatabase(ConnectString());
    db.SetLoginPrompt(false);
    db.Params().SetValue("ODBC API LIBRARY", kDriverManager);
    int lostCalls = 0;
    db.OnLostConnectError = [&](TSDDatabase&, const ESDEngineError&, TSDLostConnectAction& action) {
        ++lostCalls;
        action = lcCloseConnect;
    };
    db.Open();
    ASSERT_TRUE(db.Connected());
    auto& odbc = dynamic_cast<TICustomOdbcDatabase&>(*db.SqlDatabase());
    Exec(odbc, "create table t(i integer)");
    Exec(odbc, "insert into t values (1)");
    TISqlCommandPtr cmd = odbc.CreateSqlCommand(nullptr);
    cmd->Prepare("select i from t");
    cmd->Execute();
    ASSERT_TRUE(cmd->FetchNextRow());
    // Running the statement again over its open cursor is refused by the driver manager.
    const odbcapi::SQLRETURN rc = odbc.Functions().SQLExecute(cmd->GetHandle());
    try {
        odbc.CheckStmt(cmd->GetHandle(), rc);
        FAIL() << "no error for an open cursor";
    } catch (const ESDOdbcError& e) {
        EXPECT_EQ(e.SqlState, "24000") << e.Message();
        EXPECT_FALSE(e.ConnectionLost);
    }
    EXPECT_EQ(lostCalls, 0);
    EXPECT_TRUE(db.Connected());
    EXPECT_FALSE(db.ConnectionLost());
    cmd->CloseResultSet();
    cmd.reset();
    db.Close();
    RegisterSqlDatabaseFactory(stODBC, nullptr);
}

// A driver manager of the ODBC 2 generation (the stand-in exporting only those functions):
// handles, options, transactions and diagnostics go through the older calls.
TEST_F(OdbcSqlite, WorksWithAnOdbc2Library) {
    const Standin standin(Odbc2StandinPath());
    KW_REQUIRE_PEER(standin.Available(), "the ODBC 2 stand-in library");
    Connection c = Open({"LOGIN TIMEOUT=15"}, standin.Path());
    const TOdbcFunctions& fn = c.Odbc().Functions();
    ASSERT_EQ(fn.SQLAllocHandle, nullptr);
    ASSERT_EQ(fn.SQLGetDiagRec, nullptr);
    ASSERT_EQ(fn.SQLSetConnectAttr, nullptr);
    ASSERT_EQ(fn.SQLEndTran, nullptr);
    ASSERT_NE(fn.SQLAllocEnv, nullptr);
    // The log-in time-out went through the older option call, before the connection.
    EXPECT_EQ(standin.Lines("SQLSetConnectOption 103="),
              (std::vector<std::string>{"SQLSetConnectOption 103=15"}));
    Exec(*c.db, "create table old(id integer, name varchar(10))");
    c->StartTransaction();
    Exec(*c.db, "insert into old values (1, 'one')");
    c->Rollback();
    c->StartTransaction();
    Exec(*c.db, "insert into old values (2, 'two')");
    c->Commit();
    EXPECT_EQ(IsqlRows("select id, name from old"), (Rows{{"2", "two"}}));
    EXPECT_EQ(Query(*c.db, "select id, name from old"), (Rows{{"2", "two"}}));
    try {
        Exec(*c.db, "select * from no_such_table");
        FAIL() << "no error";
    } catch (const ESDOdbcError& e) {
        // The message came through SQLError.
        EXPECT_NE(e.Message().find("no_such_table"), std::string::npos) << e.Message();
    }
}

// The log-in time-out is set before the connection opens; a value that is no number sets 0.
TEST_F(OdbcSqlite, LoginTimeoutIsSetBeforeConnecting) {
    const Standin standin(Db2StandinPath());
    KW_REQUIRE_PEER(standin.Available(), "the call-level stand-in library");
    for (const auto& [value, expected] :
         {std::pair{"15", "15"}, std::pair{"abc", "0"}, std::pair{" 7 ", "7"}}) {
        standin.Clear();
        Connection c = Open({std::string("LOGIN TIMEOUT=") + value}, standin.Path());
        const std::string journal = standin.Journal();
        const size_t timeout = journal.find(std::string("SQLSetConnectAttr 103=") + expected + "\n");
        const size_t connect = journal.find("SQLDriverConnect");
        EXPECT_NE(timeout, std::string::npos) << journal;
        EXPECT_LT(timeout, connect) << journal;
    }
}

// A prepared query runs again with new parameter values after its result set was closed,
// in single-row and in block mode; changed rows are counted.
TEST_F(OdbcSqlite, PreparedQueryRunsAgainWithNewValues) {
    for (const char* prefetch : {"PREFETCH ROWS=1", "PREFETCH ROWS=4"}) {
        SCOPED_TRACE(prefetch);
        Connection c = Open({prefetch});
        Exec(*c.db, "drop table if exists nums");
        Exec(*c.db, "create table nums(n integer, word varchar(10))");
        for (int i = 1; i <= 10; ++i)
            Exec(*c.db, "insert into nums values (" + std::to_string(i) + ", 'w" + std::to_string(i) + "')");
        TParams params;
        params.CreateParam(ftInteger, "low", ptInput).SetValue(rtl::Variant(int32_t(3)));
        TISqlCommandPtr cmd = c->CreateSqlCommand(nullptr);
        cmd->SetParams(&params);
        cmd->Prepare("select n, word from nums where n > :low order by n");
        EXPECT_TRUE(cmd->ResultSetExists());
        for (const int low : {3, 8, 0}) {
            params[0].SetValue(rtl::Variant(int32_t(low)));
            cmd->Execute();
            EXPECT_EQ(Describe(FetchAll(*cmd)), Describe(IsqlRows("select n, word from nums where n > " +
                                                                  std::to_string(low) + " order by n")));
            cmd->CloseResultSet();
        }
        TISqlCommandPtr update = c->CreateSqlCommand(nullptr);
        update->SetParams(&params);
        update->Prepare("update nums set word = 'big' where n > :low");
        EXPECT_FALSE(update->ResultSetExists());
        params[0].SetValue(rtl::Variant(int32_t(7)));
        update->Execute();
        EXPECT_EQ(update->GetRowsAffected(), 3);
        params[0].SetValue(rtl::Variant(int32_t(70)));
        update->Execute();
        EXPECT_EQ(update->GetRowsAffected(), 0);
        EXPECT_EQ(IsqlRows("select count(*) from nums where word = 'big'"), (Rows{{"3"}}));
    }
}

// A second driver object adopts the handles of a connection (SetHandle) and works on them;
// its disconnect ends them like its own.
TEST_F(OdbcSqlite, AdoptedHandlesWork) {
    Connection owner = Open();
    Exec(*owner.db, "create table shared(i integer)");
    const TOdbcHandleRec record = *static_cast<const TOdbcHandleRec*>(owner->GetHandle());
    Connection adopter = NewOdbc();
    adopter.db->SetHandle(const_cast<TOdbcHandleRec*>(&record));
    EXPECT_EQ(OdbcLibrary().LoadCount(), 2);
    const auto* adopted = static_cast<const TOdbcHandleRec*>(adopter->GetHandle());
    ASSERT_NE(adopted, nullptr);
    EXPECT_EQ(adopted->Dbc, record.Dbc);
    Exec(*adopter.db, "insert into shared values (5)");
    EXPECT_EQ(Query(*owner.db, "select i from shared"), (Rows{{"5"}}));
    EXPECT_THROW(adopter.db->SetHandle(const_cast<TOdbcHandleRec*>(&record)), rtl::EAssertionFailed);
    EXPECT_EQ(OdbcLibrary().LoadCount(), 3);  // the refused adoption took its reference first
    OdbcLibrary().Unload();
    adopter.db->Disconnect(false);
    EXPECT_EQ(adopter->GetHandle(), nullptr);
    EXPECT_EQ(OdbcLibrary().LoadCount(), 1);
    EXPECT_EQ(IsqlRows("select i from shared"), (Rows{{"5"}}));
}

TEST_F(OdbcSqlite, CatalogKindsOutsideTheListGiveNoCommand) {
    Connection c = Open();
    Exec(*c.db, "create table listed(i integer, s varchar(5))");
    EXPECT_EQ(c->GetSchemaInfo(TSDSchemaType(6), "listed"), nullptr);
    TISqlCommandPtr columns = c->GetSchemaInfo(stColumns, "listed");
    ASSERT_NE(columns, nullptr);
    EXPECT_EQ(columns->PreparedText, "ODBC Call: SQLColumns");
    Rows names;
    while (columns->FetchNextRow()) {
        std::string name;
        columns->GetFieldAsString(4, name);
        names.push_back({name});
    }
    EXPECT_EQ(names, (Rows{{"i"}, {"s"}}));
}

// With one statement per connection, a command that starts work first makes the command
// that holds the connection read all its remaining rows.
TEST_F(OdbcSqlite, SingleConnectionHandsTheConnectionOver) {
    Connection c = Open({"SINGLE CONNECTION=TRUE"});
    ASSERT_TRUE(c->SingleConnection);
    Exec(*c.db, "create table queue(i integer)");
    for (int i = 1; i <= 5; ++i)
        Exec(*c.db, "insert into queue values (" + std::to_string(i) + ")");
    TISqlCommandPtr first = c->CreateSqlCommand(nullptr);
    first->Prepare("select i from queue order by i");
    first->Execute();
    ASSERT_TRUE(first->FetchNextRow());
    std::vector<int32_t> drained;
    first->FetchAllProc = [&](bool) {
        int32_t v = 0;
        while (first->FetchNextRow())
            if (first->GetFieldAsInteger(1, v)) drained.push_back(v);
    };
    EXPECT_EQ(c.Odbc().ActiveCommand(), first.get());
    TISqlCommandPtr second = c->CreateSqlCommand(nullptr);
    second->ExecDirect("select count(*) from queue");
    EXPECT_EQ(drained, (std::vector<int32_t>{2, 3, 4, 5}));
    EXPECT_EQ(c.Odbc().ActiveCommand(), second.get());
    EXPECT_EQ(FetchAll(*second), (Rows{{"5"}}));
    EXPECT_EQ(c.Odbc().ActiveCommand(), nullptr);  // the end of its data gives the connection up
}

// A command that runs another statement directly describes that statement's columns, not
// the previous one's.
TEST_F(OdbcSqlite, DirectStatementsAreDescribedAnew) {
    Connection c = Open();
    Exec(*c.db, "create table pair(a integer, b varchar(5), c double)");
    Exec(*c.db, "insert into pair values (1, 'x', 2.5)");
    TISqlCommandPtr cmd = c->CreateSqlCommand(nullptr);
    cmd->ExecDirect("select a from pair");
    EXPECT_EQ(FetchAll(*cmd), (Rows{{"1"}}));
    cmd->CloseResultSet();
    cmd->ExecDirect("select b, c from pair");
    ASSERT_EQ(cmd->FieldDescs->Count(), 2);
    EXPECT_EQ(cmd->FieldDescs->GetFieldDesc(0).FieldName, "b");
    EXPECT_EQ(FetchAll(*cmd), (Rows{{"x", "2.5"}}));
}

}  // namespace
