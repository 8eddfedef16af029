// The Firebird and InterBase drivers on Firebird 3: embedded (a database file opened in the
// test's own process) for most tests, a private server on a loopback port for the remote forms,
// logins and lost connections, and isql-fb as the independent reader of what the driver wrote.
#include <gtest/gtest.h>

#include <memory>

#include "database/OdbcTestSupport.h"
#include "database/drivers/SDFib.h"
#include "database/engine/SDEngine.h"
#include "database/engine/SDEngineQuery.h"
#include "rtl/DbParams.h"
#include "support/FirebirdServer.h"

using namespace odbctest;

namespace {

using kwtest::FirebirdHome;

// A command prepared on a text, with parameters of the given types and values.
struct Statement {
    TParams params;
    TISqlCommandPtr cmd;

    Statement(TISqlDatabase& db, const std::string& sql,
              std::initializer_list<std::tuple<const char*, TFieldType, rtl::Variant>> values) {
        for (const auto& [name, type, value] : values) {
            TParam& p = params.CreateParam(type, name, ptInput);
            if (value.IsEmptyOrNull())
                p.Clear();
            else
                p.SetValue(value);
        }
        cmd = db.CreateSqlCommand(nullptr);
        cmd->SetParams(&params);
        cmd->Prepare(sql);
    }
    int32_t Run() {
        cmd->Execute();
        return cmd->GetRowsAffected();
    }
};

class Firebird : public ::testing::Test {
protected:
    void SetUp() override {
        FirebirdHome& home = FirebirdHome::Get();
        KW_REQUIRE_PEER(home.Available(), home.Reason());
        file_ = (home.Data() / ("t" + std::to_string(++counter_) + ".fdb")).string();
    }
    void TearDown() override { ResetLibraryNames(); }

    // After a test that named another client file: once nothing holds a binding, the next
    // connect loads the installed client again.
    static void ResetLibraryNames() {
        if (FibLibrary().LoadCount() == 0)
            FibLibrary().TakeNameFromParams(MakeParams({"Firebird API LIBRARY=libfbclient.so.2"}));
        if (IntLibrary().LoadCount() == 0)
            IntLibrary().TakeNameFromParams(MakeParams({"Interbase API LIBRARY=libfbclient.so.2"}));
    }

    // A fresh embedded database of that dialect.
    std::string Database(int dialect = 3, const std::string& charset = "NONE") {
        FirebirdHome::Get().CreateDatabase(file_, dialect, charset);
        return file_;
    }
    static Rows Isql(const std::string& database, const std::string& sql, const std::string& charset = "") {
        return FirebirdHome::Get().Isql(database, sql, charset);
    }

    static std::unique_ptr<TISqlDatabase> Create(TSDServerType type, std::initializer_list<std::string> params) {
        return type == stFirebird ? CreateFirebirdDatabase(nullptr, MakeParams(params))
                                  : CreateInterbaseDatabase(nullptr, MakeParams(params));
    }
    static Connection Open(const std::string& database, std::initializer_list<std::string> params = {"SQL Dialect=3"},
                           TSDServerType type = stFirebird, const std::string& user = "SYSDBA",
                           const std::string& password = "") {
        Connection c;
        c.db = Create(type, params);
        c.db->Connect(database, user, password);
        return c;
    }
    static TICustomIntDatabase& Int(const Connection& c) { return dynamic_cast<TICustomIntDatabase&>(*c.db); }
    static std::string One(TISqlDatabase& db, const std::string& sql) {
        const Rows rows = Query(db, sql);
        return rows.size() == 1 && rows[0].size() == 1 ? rows[0][0] : "<" + std::to_string(rows.size()) + " rows>";
    }

    std::string file_;
    static inline int counter_ = 0;
};

TEST_F(Firebird, EmbeddedConnectionCountsAndHandles) {
    const std::string db = Database();
    {
        Connection a = Open(db);
        Connection b = Open(db, {"SQL Dialect=3"}, stInterbase);
        EXPECT_EQ(FibLibrary().LoadCount(), 1);
        EXPECT_EQ(IntLibrary().LoadCount(), 1);
        Connection c = Open(db);
        EXPECT_EQ(FibLibrary().LoadCount(), 2);
        EXPECT_EQ(a->GetServerType(), stFirebird);
        EXPECT_EQ(b->GetServerType(), stInterbase);
        EXPECT_EQ(static_cast<const TIntHandle*>(a->GetHandle())->ServerType, 8);
        EXPECT_EQ(static_cast<const TIntHandle*>(b->GetHandle())->ServerType, 7);
        // isc_info_version: the InterBase-compatible version Firebird reports ("LI-V6.3.x").
        EXPECT_EQ(a->GetServerVersion(), MakeVersionNumber(6, 3));
        EXPECT_EQ(GetVersionMajor(a->GetClientVersion()), 3);
        EXPECT_EQ(GetVersionMajor(b->GetClientVersion()), 3);
        const std::string version = a->GetVersionString();
        EXPECT_NE(version.find("(access method)"), std::string::npos) << version;
        EXPECT_NE(version.find("Firebird 3"), std::string::npos) << version;
        EXPECT_TRUE(a->TestConnected());
        Exec(*a.db, "create table t (i integer, s varchar(20))");
        Exec(*a.db, "insert into t values (1, 'one')");
        EXPECT_EQ(Query(*b.db, "select i, s from t"), (Rows{{"1", "one"}}));
        EXPECT_EQ(Isql(db, "select i || '|' || s from t"), (Rows{{"1", "one"}}));
    }
    EXPECT_EQ(FibLibrary().LoadCount(), 0);
    EXPECT_EQ(IntLibrary().LoadCount(), 0);
    EXPECT_FALSE(FibLibrary().IsLoaded());

    // A missing file, an unknown library file, one without the client's entries: refused by
    // name, nothing left counted.
    try {
        Open(file_ + ".missing");
        FAIL() << "attached a missing file";
    } catch (const ESDFibError& e) {
        EXPECT_NE(e.Message().find("I/O error"), std::string::npos) << e.Message();
        EXPECT_EQ(e.Message().rfind("\r\n", 0), 0u);
        EXPECT_EQ(e.ErrorCode, -902);
        EXPECT_FALSE(e.ConnectionLost);
    }
    EXPECT_EQ(FibLibrary().LoadCount(), 0);
    try {
        Open(db, {"Firebird API LIBRARY=/nonexistent/libfbclient.so"});
        FAIL() << "loaded a missing library";
    } catch (const ESDSqlLibError& e) {
        EXPECT_EQ(e.Message(), "Error loading library '/nonexistent/libfbclient.so'");
    }
    try {
        Open(db, {"Interbase API LIBRARY=libz.so.1"}, stInterbase);
        FAIL() << "bound a library without the client's entries";
    } catch (const rtl::EAssertionFailed& e) {
        EXPECT_EQ(e.Message(), "Function 'isc_attach_database' not found in Interbase Client library");
    }
    EXPECT_EQ(IntLibrary().LoadCount(), 0);
    ResetLibraryNames();
    Connection again = Open(db);
    EXPECT_EQ(FibLibrary().LoadedName(), "libfbclient.so.2");
}

// A connection made elsewhere, taken over through its handle record: the driver works on its
// handles and holds a load of its own.
TEST_F(Firebird, AForeignConnectionThroughItsHandleRecord) {
    const std::string db = Database();
    Connection owner = Open(db);
    Exec(*owner.db, "create table f (i integer)");
    {
        auto guest = Create(stFirebird, {"SQL Dialect=3"});
        guest->SetHandle(owner->GetHandle());
        EXPECT_EQ(FibLibrary().LoadCount(), 2);
        const auto* record = static_cast<const TIntHandle*>(guest->GetHandle());
        const auto* original = static_cast<const TIntHandle*>(owner->GetHandle());
        EXPECT_EQ(record->ServerType, 8);
        EXPECT_EQ(record->DbHandle, original->DbHandle);
        EXPECT_EQ(record->TrHandle, original->TrHandle);
        Exec(*guest, "insert into f values (1)");
        EXPECT_EQ(Query(*owner.db, "select i from f"), (Rows{{"1"}}));
        guest->Disconnect(false);
    }
    EXPECT_EQ(Isql(db, "select count(*) from f"), (Rows{{"1"}}));
}

TEST_F(Firebird, ParameterBlocksAtConnectAndReconnect) {
    const std::string db = Database();
    Isql(db, "create role KWROLE; grant KWROLE to SYSDBA; commit;");
    auto conn = Create(stFirebird, {"SQL Dialect=3", "LOGIN TIMEOUT=30", "LOCAL CHARSET=UTF8", "ROLE NAME=kwrole",
                                    "TRANSACTION NOWAIT=TRUE"});
    auto& fb = dynamic_cast<TICustomIntDatabase&>(*conn);
    const std::string dpb = std::string("\x01\x1c\x06SYSDBA\x1d\x00\x39\x01\x1e\x30\x04UTF8\x3c\x06kwrole", 28);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        conn->Connect(db, "SYSDBA", "");
        EXPECT_EQ(fb.Dpb(), dpb);
        EXPECT_EQ(fb.Tpb(), std::string("\x03\x09\x07\x0f\x11\x10", 6));
        EXPECT_EQ(One(*conn, "select current_role from rdb$database"), "KWROLE");
        EXPECT_EQ(One(*conn, "select rdb$get_context('SYSTEM', 'CLIENT_PID') from rdb$database") != "", true);
        EXPECT_EQ(One(*conn,
                      "select rdb$character_set_name from mon$attachments a join rdb$character_sets c on "
                      "c.rdb$character_set_id = a.mon$character_set_id where mon$attachment_id = current_connection"),
                  "UTF8");
        conn->Disconnect(false);
        EXPECT_EQ(fb.Dpb(), "\x01");
        EXPECT_EQ(conn->GetHandle(), nullptr);
    }
    // An item that does not fit its length byte: a clear error, nothing attached, the object
    // connects afterwards.
    try {
        conn->Connect(db, std::string(300, 'U'), "");
        FAIL() << "connected";
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "The user name is too long for the database parameter block (300 bytes, at most 255)");
    }
    EXPECT_EQ(FibLibrary().LoadCount(), 0);
    conn->Connect(db, "SYSDBA", "");
    EXPECT_TRUE(conn->TestConnected());
    conn->Disconnect(false);
}

TEST_F(Firebird, TransactionsRetainingAndIsolation) {
    const std::string db = Database();
    Isql(db, "create table tx (i integer);");
    Connection c = Open(db);
    // Outside a transaction every statement commits by itself.
    Exec(*c.db, "insert into tx values (1)");
    EXPECT_EQ(Isql(db, "select count(*) from tx"), (Rows{{"1"}}));
    c->StartTransaction();
    EXPECT_EQ(Int(c).Tpb(), std::string("\x03\x09\x06\x0f\x11", 5)) << "no auto-commit byte inside";
    Exec(*c.db, "insert into tx values (2)");
    EXPECT_EQ(Isql(db, "select count(*) from tx"), (Rows{{"1"}}));
    c->Rollback();
    EXPECT_EQ(Int(c).Tpb(), std::string("\x03\x09\x06\x0f\x11\x10", 6));
    c->StartTransaction();
    Exec(*c.db, "insert into tx values (3)");
    c->Commit();
    EXPECT_EQ(Isql(db, "select cast(list(i) as varchar(20)) from (select i from tx order by i)"), (Rows{{"1,3"}}));
    // Disconnecting inside the program's transaction rolls it back.
    c->StartTransaction();
    Exec(*c.db, "insert into tx values (4)");
    c->Disconnect(false);
    EXPECT_EQ(Isql(db, "select count(*) from tx"), (Rows{{"2"}}));

    // Without auto-commit the retaining calls keep the server transaction, and a cursor open
    // across a commit or rollback reads on; with "TRANSACTION RETAINING=FALSE" each ends the
    // transaction and starts another.
    Isql(db, "insert into tx values (5); insert into tx values (6); commit;");
    for (const char* retaining : {"TRANSACTION RETAINING=TRUE", "TRANSACTION RETAINING=FALSE"}) {
        SCOPED_TRACE(retaining);
        const bool keeps = std::string(retaining).find("TRUE") != std::string::npos;
        auto conn = Create(stFirebird, {"SQL Dialect=3", retaining});
        conn->AutoCommit = false;
        conn->Connect(db, "SYSDBA", "");
        EXPECT_EQ(conn->CursorPreservedOnCommit, keeps);
        EXPECT_EQ(conn->CursorPreservedOnRollback, keeps);
        EXPECT_TRUE(conn->CursorPreservedOnStart);
        const isc_tr_handle handle = *dynamic_cast<TICustomIntDatabase&>(*conn).GetTRHandle();
        for (bool commit : {true, false}) {
            SCOPED_TRACE(commit ? "commit" : "rollback");
            TISqlCommandPtr cursor = conn->CreateSqlCommand(nullptr);
            cursor->Prepare("select i from tx order by i");
            cursor->Execute();
            ASSERT_TRUE(cursor->FetchNextRow());
            conn->StartTransaction();
            Exec(*conn, "update tx set i = i where i = 5");
            if (commit)
                conn->Commit();
            else
                conn->Rollback();
            EXPECT_EQ(*dynamic_cast<TICustomIntDatabase&>(*conn).GetTRHandle() == handle, keeps);
            if (keeps) {
                EXPECT_EQ(FetchAll(*cursor), (Rows{{"3"}, {"5"}, {"6"}}));
            } else {
                EXPECT_THROW(FetchAll(*cursor), ESDFibError) << "the cursor ended with its transaction";
            }
        }
        // Statements wait for the commit.
        Exec(*conn, "delete from tx where i = 6");
        EXPECT_EQ(Isql(db, "select count(*) from tx where i = 6"), (Rows{{"1"}}));
        conn->Commit();
        EXPECT_EQ(Isql(db, "select count(*) from tx where i = 6"), (Rows{{"0"}}));
        Isql(db, "insert into tx values (6); commit;");
        conn->Disconnect(false);
    }
    Isql(db, "delete from tx where i > 4; commit;");

    // Read committed sees another's commit inside a transaction; a snapshot does not.
    struct Case {
        TSDTransIsolation level;
        std::string tpb;
        const char* seen;
    } cases[] = {{tiDirtyRead, std::string("\x03\x09\x06\x0f\x11", 5), "3"},
                 {tiReadCommitted, std::string("\x03\x09\x06\x0f\x12", 5), "3"},
                 {tiRepeatableRead, std::string("\x03\x09\x06\x02", 4), "2"}};
    for (const Case& k : cases) {
        SCOPED_TRACE(int(k.level));
        auto conn = Create(stFirebird, {"SQL Dialect=3"});
        conn->TransIsolation = k.level;
        conn->Connect(db, "SYSDBA", "");
        conn->StartTransaction();
        EXPECT_EQ(dynamic_cast<TICustomIntDatabase&>(*conn).Tpb(), k.tpb);
        EXPECT_EQ(One(*conn, "select count(*) from tx"), "2");
        Isql(db, "insert into tx values (9); commit;");
        EXPECT_EQ(One(*conn, "select count(*) from tx"), k.seen);
        conn->Commit();
        EXPECT_EQ(One(*conn, "select count(*) from tx"), "3");
        Isql(db, "delete from tx where i = 9; commit;");
        conn->Disconnect(false);
    }
}

TEST_F(Firebird, ColumnValuesInTheEnginesLayout) {
    const std::string db = Database();
    Isql(db,
         "create table v (sm smallint, i integer, b bigint, f float, d double precision, n92 numeric(9,2), "
         "n184 numeric(18,4), n186 numeric(18,6), dt date, tm time, ts timestamp, c char(6), vc varchar(8), "
         "ok boolean, lv varchar(300), arr integer[2]);\n"
         "insert into v (sm, i, b, f, d, n92, n184, n186, dt, tm, ts, c, vc, ok, lv) values (-32768, 2147483647, "
         "-9223372036854775808, 1.5, 0.1, -1234567.89, 92233720368.5477, 123.456789, '2024-02-29', '23:59:58.1234', "
         "'2001-02-03 04:05:06.789', 'ab', 'ab  ', true, '" +
             std::string(300, 'L') +
             "');\n"
             "insert into v (sm) values (null);\ncommit;");
    for (const char* options : {"RTRIM CHAR OUTPUT=TRUE", "RTRIM CHAR OUTPUT=FALSE"}) {
        SCOPED_TRACE(options);
        const bool trim = std::string(options).find("TRUE") != std::string::npos;
        Connection c = Open(db, {"SQL Dialect=3", options});
        TISqlCommandPtr cmd = c->CreateSqlCommand(nullptr);
        cmd->Prepare("select sm, i, b, f, d, n92, n184, n186, dt, tm, ts, c, vc, ok, lv from v order by sm nulls last");
        cmd->Execute();
        const TSDFieldDescList& d = *cmd->FieldDescs;
        const std::vector<TFieldType> types = {ftSmallint, ftInteger, ftLargeint, ftFloat, ftFloat,
                                               ftFloat,    ftFloat,   ftFloat,    ftDate,  ftTime,
                                               ftDateTime, ftString,  ftString,   ftBoolean, ftMemo};
        ASSERT_EQ(d.Count(), int(types.size()));
        for (int i = 0; i < d.Count(); ++i)
            EXPECT_EQ(d.GetFieldDesc(i).FieldType, types[size_t(i)]) << d.GetFieldDesc(i).FieldName;
        EXPECT_EQ(d.GetFieldDesc(11).DataSize, 7);
        EXPECT_TRUE(d.GetFieldDesc(11).IsFixedChar);
        EXPECT_FALSE(d.GetFieldDesc(12).IsFixedChar);
        EXPECT_EQ(d.GetFieldDesc(13).NativeType, 590);
        EXPECT_EQ(cmd->BlobFieldCount, 1);
        ASSERT_TRUE(cmd->FetchNextRow());
        const std::vector<std::string> row = RowTexts(*cmd);
        EXPECT_EQ(row, (std::vector<std::string>{"-32768", "2147483647", "-9223372036854775808", "1.5", "0.1",
                                                 "-1234567.89", "92233720368.5477", "123.456789", "2024-02-29",
                                                 "23:59:58", "2001-02-03 04:05:06.789", trim ? "ab" : "ab    ",
                                                 "ab  ", "True", std::string(300, 'L')}));
        rtl::TDateTime tm = 0;
        ASSERT_TRUE(cmd->GetFieldAsDateTime(10, tm));
        EXPECT_NEAR(tm, rtl::EncodeTime(23, 59, 58, 123), 1e-9) << "milliseconds kept";
        ASSERT_TRUE(cmd->FetchNextRow());
        const std::vector<std::string> nulls = RowTexts(*cmd);
        EXPECT_EQ(nulls, std::vector<std::string>(15, "<null>"));
        EXPECT_FALSE(cmd->FetchNextRow());
        EXPECT_FALSE(cmd->FetchNextRow()) << "the end stays the end";
        cmd->CloseResultSet();
    }

    // ENABLE BCD: scaled integers of up to four places as packed decimals, through the engine.
    RegisterFirebirdDriver();
    TSDDatabase engine;
    engine.SetDatabaseName("fbvalues");
    engine.SetServerType(stFirebird);
    engine.SetRemoteDatabase(db);
    engine.SetLoginPrompt(false);
    engine.Params().SetValue("USER NAME", "SYSDBA");
    engine.Params().SetValue("SQL Dialect", "3");
    engine.Params().SetValue("ENABLE BCD", "TRUE");
    engine.Open();
    {
        TSDQuery q;
        q.SetDatabaseName("fbvalues");
        q.SQL().SetText("select n92, n184, n186, cast(n92 * 1000000 as numeric(18,2)) as big from v where sm < 0");
        q.Open();
        EXPECT_EQ(q.FieldByName("n92").DataType(), ftBCD);
        EXPECT_EQ(q.FieldByName("n184").DataType(), ftBCD);
        EXPECT_EQ(q.FieldByName("n186").DataType(), ftFloat);
        EXPECT_EQ(q.FieldByName("n92").Value().AsCurrency(), -12345678900LL);
        EXPECT_EQ(q.FieldByName("n184").Value().AsCurrency(), 922337203685477LL);
        EXPECT_EQ(q.FieldByName("n186").AsFloat(), 123.456789);
        q.Close();
        // A value a currency cannot hold is an error naming the field, not a wrapped number.
        q.SQL().SetText("select cast(9000000000000000.00 as numeric(18,2)) as huge from rdb$database");
        try {
            q.Open();
            (void)q.FieldByName("huge").Value();
            FAIL() << "read a value past a currency's range";
        } catch (const rtl::EDatabaseError& e) {
            EXPECT_NE(e.Message().find("out of range"), std::string::npos) << e.Message();
        }
    }
    engine.Close();
    RegisterSqlDatabaseFactory(stFirebird, nullptr);
}

TEST_F(Firebird, ParameterValuesReachTheServerExactly) {
    const std::string db = Database();
    Isql(db,
         "create table p (id integer, sm smallint, b bigint, d double precision, m numeric(18,4), cu double "
         "precision, dt date, tm time, ts timestamp, s varchar(100), c char(4), ok boolean);");
    const rtl::TDateTime stamp = rtl::EncodeDate(2024, 3, 1) + rtl::EncodeTime(12, 30, 15, 750);
    const std::string hostile = "O'Brien \\ '' :id :\"s\" ; drop table p; -- ç";
    Connection c = Open(db);
    Statement insert(*c.db,
                     "insert into p values (:id, :sm, :b, :d, :m, :cu, :dt, :tm, :ts, :s, :c, :ok)",
                     {{"id", ftInteger, rtl::Variant(int32_t(1))},
                      {"sm", ftSmallint, rtl::Variant(int32_t(-32768))},
                      {"b", ftLargeint, rtl::Variant(int64_t(9223372036854775807LL))},
                      {"d", ftFloat, rtl::Variant(0.1)},
                      {"m", ftBCD, rtl::Variant::FromCurrency(-123456789012345LL)},
                      {"cu", ftCurrency, rtl::Variant::FromCurrency(15000)},
                      {"dt", ftDate, rtl::Variant::FromDateTime(rtl::EncodeDate(2024, 2, 29))},
                      {"tm", ftTime, rtl::Variant::FromDateTime(rtl::EncodeTime(10, 0, 0, 5))},
                      {"ts", ftDateTime, rtl::Variant::FromDateTime(stamp)},
                      {"s", ftString, rtl::Variant(hostile)},
                      {"c", ftFixedChar, rtl::Variant("xy")},
                      {"ok", ftBoolean, rtl::Variant(true)}});
    EXPECT_EQ(insert.cmd->PreparedText,
              "insert into p values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    EXPECT_EQ(insert.Run(), 1);
    // All null, through the same statement.
    for (int i = 1; i < insert.params.Count(); ++i) insert.params[i].Clear();
    insert.params[0].SetValue(rtl::Variant(int32_t(2)));
    EXPECT_EQ(insert.Run(), 1);
    EXPECT_EQ(Isql(db,
                   "select sm || '|' || b || '|' || iif(d = 0.1, 'TRUE', 'FALSE') || '|' || m || '|' || cu || '|' || dt || '|' || tm || "
                   "'|' || ts || '|' || '[' || c || ']' || '|' || ok from p where id = 1"),
              (Rows{{"-32768", "9223372036854775807", "TRUE", "-12345678901.2345", "1.500000000000000", "2024-02-29",
                     "10:00:00.0050", "2024-03-01 12:30:15.7500", "[xy  ]", "TRUE"}}));
    EXPECT_EQ(Isql(db, "select s from p where id = 1"), (Rows{{hostile.substr(0, hostile.find('|'))}}));
    EXPECT_EQ(Query(*c.db, "select s from p where id = 1"), (Rows{{hostile}}));
    EXPECT_EQ(Isql(db,
                   "select coalesce(sm, b, d, m, cu, dt, tm, ts, s, c, cast(ok as varchar(5)), 'all null') from p "
                   "where id = 2"),
              (Rows{{"all null"}}));
    // A marker inside a literal stays text; :p1 beside :p10.
    Statement lit(*c.db, "select ':id' as l, id from p where id = :p1 or id = :p10",
                  {{"p1", ftInteger, rtl::Variant(int32_t(1))}, {"p10", ftInteger, rtl::Variant(int32_t(-1))}});
    EXPECT_EQ(lit.cmd->PreparedText, "select ':id' as l, id from p where id = ? or id = ?");
    lit.cmd->Execute();
    EXPECT_EQ(FetchAll(*lit.cmd), (Rows{{":id", "1"}}));
}

TEST_F(Firebird, BlobsAcrossSegmentBoundariesBothWays) {
    const std::string db = Database();
    Isql(db, "create table bl (id integer, b blob sub_type 0, m blob sub_type text);");
    Connection c = Open(db);
    // Two whole segments and a short third, with every byte value.
    rtl::ByteArray bytes(2 * TICustomIntCommand::kSegmentSize + 100);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t((i * 7 + i / 256) & 0xFF);
    std::string memo;
    while (memo.size() < 40000) memo += "ação-" + std::to_string(memo.size()) + " ";
    Statement insert(*c.db, "insert into bl values (:id, :b, :m)",
                     {{"id", ftInteger, rtl::Variant(int32_t(1))},
                      {"b", ftBlob, rtl::Variant::FromBytes(bytes)},
                      {"m", ftMemo, rtl::Variant(memo)}});
    insert.Run();
    insert.params[0].SetValue(rtl::Variant(int32_t(2)));
    insert.params[1].SetValue(rtl::Variant::FromBytes({}));
    insert.params[2].Clear();
    insert.Run();
    // The server's view: lengths, and bytes at the segment boundaries.
    EXPECT_EQ(Isql(db,
                   "select octet_length(b) || '|' || octet_length(m) || '|' || ascii_val(substring(b from 16384 for "
                   "1)) || '|' || ascii_val(substring(b from 16385 for 1)) || '|' || ascii_val(substring(b from 32769 "
                   "for 1)) || '|' || cast(substring(m from 1 for 14) as varchar(14)) from bl where id = 1"),
              (Rows{{std::to_string(bytes.size()), std::to_string(memo.size()), std::to_string(bytes[16383]),
                     std::to_string(bytes[16384]), std::to_string(bytes[32768]), memo.substr(0, 14)}}));
    EXPECT_EQ(Isql(db, "select octet_length(b) || '|' || coalesce(octet_length(m), -1) from bl where id = 2"),
              (Rows{{"0", "-1"}}));
    // Written by isql-fb, read by the driver.
    Isql(db,
         "insert into bl (id, m) values (3, cast(rpad('', 30000, 'x') as blob sub_type text) || rpad('', 10000, "
         "'y'));\ncommit;");
    EXPECT_EQ(Query(*c.db, "select b, m from bl order by id"),
              (Rows{{std::string(bytes.begin(), bytes.end()), memo},
                    {"<null>", "<null>"},
                    {"<null>", std::string(30000, 'x') + std::string(10000, 'y')}}));
}

// Procedures with inputs and outputs, their parameters found in the system tables or given,
// on databases of dialect 1 and 3.
TEST_F(Firebird, StoredProceduresInDialectsOneAndThree) {
    for (int dialect : {1, 3}) {
        SCOPED_TRACE(dialect);
        file_ = (FirebirdHome::Get().Data() / ("proc" + std::to_string(dialect) + ".fdb")).string();
        const std::string db = Database(dialect);
        Connection c = Open(db, {"SQL Dialect=" + std::to_string(dialect)});
        Exec(*c.db,
             "create procedure SPLIT (A integer, B varchar(10)) returns (R varchar(40), S integer, N integer, "
             "M blob sub_type text, T timestamp) as begin R = B || '-' || A; S = A * 2; N = null; M = 'memo ' || B; "
             "T = cast('2024-05-06 07:08:09.012' as timestamp); end");
        // Parameters found in the system tables: inputs first, then outputs; the name in lower
        // case is upper-cased in the statement.
        TParams found;
        TISqlCommandPtr cmd = c->CreateSqlCommand(nullptr);
        cmd->CommandType = 2;
        cmd->SetParams(&found);
        cmd->Prepare(dialect == 1 ? "split" : "SPLIT");
        EXPECT_EQ(cmd->PreparedText, dialect == 1 ? "Execute Procedure SPLIT ?, ?" : "Execute Procedure \"SPLIT\" ?, ?");
        ASSERT_EQ(found.Count(), 7);
        const std::vector<std::tuple<std::string, TFieldType, TParamType>> expected = {
            {"A", ftInteger, ptInput},  {"B", ftString, ptInput},   {"R", ftString, ptOutput}, {"S", ftInteger, ptOutput},
            {"N", ftInteger, ptOutput}, {"M", ftMemo, ptOutput},    {"T", ftDateTime, ptOutput}};
        for (int i = 0; i < found.Count(); ++i) {
            EXPECT_EQ(found[i].Name(), std::get<0>(expected[size_t(i)]));
            EXPECT_EQ(found[i].DataType(), std::get<1>(expected[size_t(i)])) << found[i].Name();
            EXPECT_EQ(found[i].ParamType(), std::get<2>(expected[size_t(i)])) << found[i].Name();
        }
        found[0].SetValue(rtl::Variant(int32_t(21)));
        found[1].SetValue(rtl::Variant("x y"));
        found[4].SetValue(rtl::Variant(int32_t(99)));
        cmd->Execute();
        EXPECT_EQ(found[2].AsString(), "x y-21");
        EXPECT_EQ(found[3].Value().AsInteger(), 42);
        EXPECT_TRUE(found[4].IsNull()) << "a NULL output clears its parameter";
        EXPECT_EQ(found[5].AsString(), "memo x y");
        EXPECT_EQ(Iso(found[6].Value().AsDateTime(), ftDateTime), "2024-05-06 07:08:09.012");
        // Executed again with other inputs.
        found[0].SetValue(rtl::Variant(int32_t(-1)));
        cmd->Execute();
        EXPECT_EQ(found[2].AsString(), "x y--1");

        // Parameters given by the program.
        TParams given;
        given.CreateParam(ftInteger, "A", ptInput).SetValue(rtl::Variant(int32_t(5)));
        given.CreateParam(ftString, "B", ptInput).SetValue(rtl::Variant("q"));
        given.CreateParam(ftString, "R", ptOutput);
        given.CreateParam(ftFloat, "S", ptOutput);
        TISqlCommandPtr call = c->CreateSqlCommand(nullptr);
        call->CommandType = 2;
        call->SetParams(&given);
        EXPECT_THROW(call->Prepare("SPLIT"), rtl::EAssertionFailed) << "two of five outputs described";
        given.CreateParam(ftInteger, "N", ptOutput);
        given.CreateParam(ftBlob, "M", ptOutput);
        given.CreateParam(ftDateTime, "T", ptOutput);
        TISqlCommandPtr call2 = c->CreateSqlCommand(nullptr);
        call2->CommandType = 2;
        call2->SetParams(&given);
        call2->Prepare("split");
        call2->Execute();
        EXPECT_EQ(given.ParamByName("R").AsString(), "q-5");
        EXPECT_EQ(given.ParamByName("S").Value().AsDouble(), 10.0);
        const rtl::ByteArray memo = given.ParamByName("M").Value().AsBytes();
        EXPECT_EQ(std::string(memo.begin(), memo.end()), "memo q");
        // A name that is no identifier never reaches a statement of dialect 1; in dialect 3
        // it is a quoted name the server does not know.
        TISqlCommandPtr bad = c->CreateSqlCommand(nullptr);
        bad->CommandType = 2;
        TParams none;
        bad->SetParams(&none);
        EXPECT_THROW(bad->Prepare("SPLIT; drop table x"), rtl::EDatabaseError);
        EXPECT_EQ(One(*c.db, "select count(*) from rdb$procedures where rdb$procedure_name = 'SPLIT'"), "1");
    }
}

TEST_F(Firebird, CreateDatabaseRunsOnFreshHandles) {
    const std::string db = Database();
    Connection c = Open(db);
    const TIntHandle before = *static_cast<const TIntHandle*>(c->GetHandle());
    const isc_db_handle dbHandle = *before.DbHandle;
    const isc_tr_handle trHandle = *before.TrHandle;
    const std::string created = file_ + ".new.fdb";
    TISqlCommandPtr cmd = c->CreateSqlCommand(nullptr);
    cmd->ExecDirect("  \r\n create database '" + created + "' user 'SYSDBA' page_size 4096");
    EXPECT_EQ(*before.DbHandle, dbHandle);
    EXPECT_EQ(*before.TrHandle, trHandle);
    EXPECT_EQ(cmd->GetRowsAffected(), 0);
    EXPECT_TRUE(std::filesystem::exists(created));
    EXPECT_EQ(Isql(created, "select count(*) from rdb$relations where rdb$relation_name = 'RDB$DATABASE'"), (Rows{{"1"}}));
    // The connection goes on in its own database.
    Exec(*c.db, "create table still_here (i integer)");
    EXPECT_EQ(Isql(db, "select count(*) from rdb$relations where rdb$relation_name = 'STILL_HERE'"), (Rows{{"1"}}));
}

TEST_F(Firebird, RowsAffectedByStatementKind) {
    const std::string db = Database();
    Connection c = Open(db);
    Exec(*c.db, "create table ra (i integer)");
    TISqlCommandPtr ins = c->CreateSqlCommand(nullptr);
    ins->ExecDirect("insert into ra select rdb$relation_id from rdb$relations where rdb$relation_id < 5");
    EXPECT_EQ(ins->GetRowsAffected(), 5);
    TISqlCommandPtr upd = c->CreateSqlCommand(nullptr);
    upd->ExecDirect("update ra set i = i + 10 where i < 3");
    EXPECT_EQ(upd->GetRowsAffected(), 3);
    TISqlCommandPtr del = c->CreateSqlCommand(nullptr);
    del->ExecDirect("delete from ra where i > 10");
    EXPECT_EQ(del->GetRowsAffected(), 2);
    TISqlCommandPtr sel = c->CreateSqlCommand(nullptr);
    sel->ExecDirect("select i from ra");
    EXPECT_EQ(sel->GetRowsAffected(), -1);
    TISqlCommandPtr ddl = c->CreateSqlCommand(nullptr);
    ddl->ExecDirect("create index ra_i on ra (i)");
    EXPECT_EQ(ddl->GetRowsAffected(), 0);
}

// Bad input gives a clear error and leaves the connection working.
TEST_F(Firebird, BadInputGivesClearErrors) {
    const std::string db = Database();
    Isql(db, "create table bad (a integer[3], s varchar(10), sm smallint);\ninsert into bad (s) values ('x');\ncommit;");
    Connection c = Open(db);
    auto message = [&](const std::function<void()>& f) { return kwtest::ThrownMessage(f); };
    EXPECT_EQ(message([&] { Query(*c.db, "select a, s from bad"); }), "Field 'A' is of an unsupported type");
    EXPECT_EQ(message([&] { Exec(*c.db, std::string("delete from bad\0 where s = 'y'", 30)); }),
              "A statement text cannot hold a zero byte");
    EXPECT_EQ(message([&] {
                  Statement s(*c.db, "update bad set s = :s", {{"s", ftString, rtl::Variant(std::string(40000, 's'))}});
                  s.Run();
              }),
              "Parameter 's' is too long (40000 bytes, at most 32767)");
    EXPECT_EQ(message([&] {
                  Statement s(*c.db, "update bad set sm = :sm", {{"sm", ftSmallint, rtl::Variant(int32_t(70000))}});
                  s.Run();
              }),
              "Parameter 'sm': value 70000 out of range");
    EXPECT_EQ(message([&] {
                  Statement s(*c.db, "update bad set s = :g", {{"g", ftGuid, rtl::Variant("{x}")}});
                  s.Run();
              }),
              "Unknown data type for parameter 'g'");
    const std::string tooLong = message([&] {
        Statement s(*c.db, "update bad set s = :s", {{"s", ftString, rtl::Variant("12345678901")}});
        s.Run();
    });
    EXPECT_NE(tooLong.find("string truncation"), std::string::npos) << tooLong;
    EXPECT_EQ(Query(*c.db, "select s, sm from bad"), (Rows{{"x", "<null>"}}));
    EXPECT_EQ(Isql(db, "select s from bad"), (Rows{{"x"}}));
}

TEST_F(Firebird, CatalogQueries) {
    const std::string db = Database();
    Connection c = Open(db);
    Exec(*c.db, "create table KWCAT (ID integer not null primary key, NAME varchar(20))");
    Exec(*c.db, "create procedure KWPROC (X integer) returns (Y integer) as begin Y = X; end");
    auto rows = [&](TSDSchemaType kind, const std::string& pattern, std::initializer_list<int> columns) {
        TISqlCommandPtr cmd = c->GetSchemaInfo(kind, pattern);
        Rows out;
        if (!cmd) return out;
        while (cmd->FetchNextRow()) {
            std::vector<std::string> row;
            const std::vector<std::string> all = RowTexts(*cmd);
            for (int i : columns) row.push_back(rtl::TrimRight(all[size_t(i)]));
            out.push_back(row);
        }
        return out;
    };
    EXPECT_EQ(rows(stTables, "KWCAT", {2}), (Rows{{"KWCAT"}}));
    EXPECT_EQ(rows(stTables, "kw%", {2}), (Rows{{"KWCAT"}}));
    EXPECT_EQ(rows(stTables, "SYSDBA.KWCAT", {1, 2}), (Rows{{"SYSDBA", "KWCAT"}}));
    EXPECT_EQ(rows(stTables, "*.KWCAT", {2}), (Rows{{"KWCAT"}}));
    EXPECT_EQ(rows(stTables, "KW'CAT", {2}), Rows{});
    EXPECT_EQ(rows(stTables, "x') or 1=1 or ('", {2}), Rows{});
    EXPECT_FALSE(rows(stSysTables, "RDB$DATABASE", {2}).empty());
    EXPECT_EQ(rows(stProcedures, "KWPROC", {2, 4, 5}), (Rows{{"KWPROC", "1", "1"}}));
    EXPECT_EQ(rows(stColumns, "KWCAT", {3, 4, 6}), (Rows{{"ID", "0", "LONG"}, {"NAME", "1", "VARYING"}}));
    EXPECT_EQ(rows(stProcedureParams, "KWPROC", {4, 6}), (Rows{{"X", "0"}, {"Y", "1"}}));
    const Rows indexes = rows(stIndexes, "KWCAT", {4, 6});
    ASSERT_EQ(indexes.size(), 2u);
    EXPECT_EQ(indexes[0], (std::vector<std::string>{"", "4"}));
    EXPECT_EQ(indexes[1], (std::vector<std::string>{"ID", "2"}));
    EXPECT_FALSE(c->GetSchemaInfo(TSDSchemaType(6), ""));
}

// A UTF-8 connection: accented text crosses in both directions.
TEST_F(Firebird, LocalCharacterSet) {
    const std::string db = Database(3, "UTF8");
    Connection c = Open(db, {"SQL Dialect=3", "LOCAL CHARSET=UTF8"});
    Exec(*c.db, "create table u (s varchar(10), f char(3))");
    Statement insert(*c.db, "insert into u values (:s, :f)",
                     {{"s", ftString, rtl::Variant("çãõéüñ")}, {"f", ftString, rtl::Variant("ç")}});
    insert.Run();
    EXPECT_EQ(Isql(db, "select s || '|' || char_length(s) || '|' || octet_length(f) from u", "UTF8"),
              (Rows{{"çãõéüñ", "6", "4"}}));
    EXPECT_EQ(Query(*c.db, "select s, f from u"), (Rows{{"çãõéüñ", "ç"}}));
}

// ---------------------------------------------------------------------------------------------
// A private server: remote forms, logins, and connections the server breaks.

class FirebirdRemote : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!FirebirdHome::Get().Available()) return;
        server_ = std::make_unique<kwtest::FirebirdServer>();
        if (!server_->Available()) return;
        file_ = (server_->Data() / "remote.fdb").string();
        server_->CreateDatabase(file_);
        server_->Isql(server_->Remote(file_), "create table r (i integer); grant all on r to KW; commit;");
    }
    static void TearDownTestSuite() { server_.reset(); }

    void SetUp() override {
        KW_REQUIRE_PEER(FirebirdHome::Get().Available(), FirebirdHome::Get().Reason());
        KW_REQUIRE_PEER(server_ && server_->Available(), server_ ? server_->Reason() : "the Firebird server");
    }

    static Connection Open(const std::string& remote, const std::string& user = "KW",
                           const std::string& password = "kwpass") {
        Connection c;
        c.db = CreateFirebirdDatabase(nullptr, MakeParams({"SQL Dialect=3"}));
        c.db->Connect(remote, user, password);
        return c;
    }

    // An engine database on the server's file as KW, dialect 3.
    static void Configure(TSDDatabase& db, const std::string& name) {
        RegisterFirebirdDriver();
        db.SetDatabaseName(name);
        db.SetServerType(stFirebird);
        db.SetRemoteDatabase(server_->Remote(file_));
        db.SetLoginPrompt(false);
        db.Params().SetValue("USER NAME", "KW");
        db.Params().SetValue("PASSWORD", "kwpass");
        db.Params().SetValue("SQL Dialect", "3");
    }

    static inline std::unique_ptr<kwtest::FirebirdServer> server_;
    static inline std::string file_;
};

TEST_F(FirebirdRemote, ConnectFormsAndLogins) {
    const std::string forms[] = {server_->Remote(file_),
                                 "inet://127.0.0.1:" + std::to_string(server_->Port()) + "/" + file_};
    for (const std::string& remote : forms) {
        SCOPED_TRACE(remote);
        Connection c = Open(remote);
        EXPECT_EQ(Query(*c.db,
                        "select current_user, rdb$get_context('SYSTEM', 'NETWORK_PROTOCOL'), "
                        "position('127.0.0.1/' in rdb$get_context('SYSTEM', 'CLIENT_ADDRESS')) from rdb$database"),
                  (Rows{{"KW", "TCPv4", "1"}}));
        EXPECT_EQ(FibLibrary().LoadCount(), 1);
    }
    // Wrong credentials: the server's text and SQL code, no lost connection, nothing loaded.
    try {
        Open(server_->Remote(file_), "KW", "wrong");
        FAIL() << "connected with a wrong password";
    } catch (const ESDFibError& e) {
        EXPECT_NE(e.Message().find("Your user name and password are not defined"), std::string::npos) << e.Message();
        EXPECT_EQ(e.ErrorCode, -902);
        EXPECT_EQ(e.NativeError, -902);
        EXPECT_FALSE(e.ConnectionLost);
    }
    EXPECT_EQ(FibLibrary().LoadCount(), 0);
    // A port where nothing listens.
    try {
        Open("127.0.0.1/1:" + file_);
        FAIL() << "connected to a closed port";
    } catch (const ESDFibError& e) {
        EXPECT_NE(e.Message().find("Unable to complete network request"), std::string::npos) << e.Message();
    }
    EXPECT_EQ(FibLibrary().LoadCount(), 0);
}

// The server shuts an attachment down (another session deletes it from the monitoring
// tables): the driver flags the connection lost.
TEST_F(FirebirdRemote, AttachmentShutDownByTheServerIsLost) {
    Connection c = Open(server_->Remote(file_));
    const std::string id = Query(*c.db, "select current_connection from rdb$database")[0][0];
    server_->Isql(server_->Remote(file_), "delete from mon$attachments where mon$attachment_id = " + id + "; commit;");
    try {
        Query(*c.db, "select count(*) from r");
        FAIL() << "a shut-down attachment answered";
    } catch (const ESDFibError& e) {
        EXPECT_TRUE(e.ConnectionLost) << e.Message();
    }
    EXPECT_FALSE(c->TestConnected());
}

// The server goes away under a connection: the flag, the engine's handling, and a fresh
// connect once the server is back.
TEST_F(FirebirdRemote, ServerStoppedIsLostAndTheNextConnectWorks) {
    TSDDatabase db;
    Configure(db, "fblost");
    int lostCalls = 0;
    db.OnLostConnectError = [&](TSDDatabase&, const ESDEngineError& e, TSDLostConnectAction& action) {
        ++lostCalls;
        EXPECT_TRUE(e.ConnectionLost);
        action = lcCloseConnect;
    };
    db.Open();
    {
        TSDQuery q;
        q.SetDatabaseName("fblost");
        q.SQL().SetText("insert into r values (:i)");
        q.Params().ParamByName("i").SetDataType(ftInteger);
        q.Params().ParamByName("i").SetValue(rtl::Variant(int32_t(7)));
        q.ExecuteStatement();
    }
    server_->Kill();
    try {
        TSDQuery q;
        q.SetDatabaseName("fblost");
        q.SQL().SetText("select count(*) as n from r");
        q.Open();
        FAIL() << "a stopped server answered";
    } catch (const ESDFibError& e) {
        EXPECT_TRUE(e.ConnectionLost) << e.Message();
    }
    EXPECT_EQ(lostCalls, 1);
    EXPECT_TRUE(db.ConnectionLost());
    EXPECT_FALSE(db.Connected());
    ASSERT_TRUE(server_->Restart()) << server_->Log();
    db.Close();
    db.Open();
    EXPECT_FALSE(db.ConnectionLost());
    {
        TSDQuery q;
        q.SetDatabaseName("fblost");
        q.SQL().SetText("select count(*) as n from r where i = 7");
        q.Open();
        EXPECT_EQ(q.FieldByName("n").AsInteger(), 1) << "committed before the server went";
    }
    db.Close();
    EXPECT_EQ(FibLibrary().LoadCount(), 0);
    RegisterSqlDatabaseFactory(stFirebird, nullptr);
}

// Without an owner's handler a broken connection is the program's to close: Close ends in a
// disconnected database whatever the server did, reports the server's error at most once, and
// Open connects afresh. Once through a statement that met the broken link (the engine knows
// and closes without asking the server), once through a link the server cut while the
// program was idle (the close meets it: its error is reported once, the next close is quiet).
TEST_F(FirebirdRemote, ABrokenConnectionClosesWithoutAHandler) {
    TSDDatabase db;
    Configure(db, "fbclose");
    auto count = [&]() {
        TSDQuery q;
        q.SetDatabaseName("fbclose");
        q.SQL().SetText("select count(*) as n from r");
        q.Open();
        return q.FieldByName("n").AsInteger();
    };
    auto cutFromOutside = [&]() {
        TSDQuery q;
        q.SetDatabaseName("fbclose");
        q.SQL().SetText("select current_connection as id from rdb$database");
        q.Open();
        const std::string id = q.FieldByName("id").AsString();
        q.Close();
        server_->Isql(server_->Remote(file_),
                      "delete from mon$attachments where mon$attachment_id = " + id + "; commit;");
    };

    db.Open();
    cutFromOutside();
    EXPECT_THROW(
        {
            try {
                count();
            } catch (const ESDFibError& e) {
                EXPECT_TRUE(e.ConnectionLost) << e.Message();
                throw;
            }
        },
        ESDFibError);
    EXPECT_NO_THROW(db.Close());
    EXPECT_FALSE(db.Connected());
    EXPECT_EQ(FibLibrary().LoadCount(), 0);
    db.Open();
    EXPECT_TRUE(db.Connected());
    const int before = count();

    cutFromOutside();
    int reported = 0;
    for (int i = 0; i < 2; ++i) {
        try {
            db.Close();
        } catch (const ESDFibError& e) {
            ++reported;
            EXPECT_TRUE(e.ConnectionLost) << e.Message();
        }
        EXPECT_FALSE(db.Connected());
    }
    EXPECT_EQ(reported, 1);
    EXPECT_EQ(FibLibrary().LoadCount(), 0);
    db.Open();
    EXPECT_EQ(count(), before);
    db.Close();
    EXPECT_EQ(FibLibrary().LoadCount(), 0);
    RegisterSqlDatabaseFactory(stFirebird, nullptr);
}

}  // namespace
