// The PostgreSQL driver on a private PostgreSQL 15 server through libpq, with psql as the
// independent reader of what the driver wrote.
#include <gtest/gtest.h>

#include <memory>

#include "database/OdbcTestSupport.h"
#include "database/drivers/SDPgSQL.h"
#include "database/engine/SDEngine.h"
#include "database/engine/SDEngineQuery.h"
#include "rtl/DbParams.h"
#include "support/PostgresServer.h"

using namespace odbctest;

namespace {

class PgSQL : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        kwtest::PostgresServer::Options options;
        options.hbaLines = {"host all pwuser 127.0.0.1/32 scram-sha-256"};
        server_ = std::make_unique<kwtest::PostgresServer>(options);
        if (!server_->Available()) return;
        server_->Psql("create role pwuser login password 'p''w;d'");
        server_->Psql("create role plain login");
        server_->Psql("grant all on schema public to pwuser, plain");
    }
    static void TearDownTestSuite() { server_.reset(); }

    void SetUp() override { KW_REQUIRE_PEER(server_->Available(), server_->Reason()); }
    void TearDown() override {
        if (PgLibrary().LoadCount() == 0) PgLibrary().TakeNameFromParams(MakeParams({"PostgreSQL API LIBRARY=libpq.so.5"}));
    }

    static std::string Remote() { return "127.0.0.1:" + std::to_string(server_->Port()) + ":kwtest"; }

    static Connection Open(std::initializer_list<std::string> params = {}, const std::string& user = "postgres",
                           const std::string& password = "", TSDTransIsolation isolation = tiReadCommitted) {
        Connection c;
        c.db = CreatePostgreSQLDatabase(nullptr, MakeParams(params));
        c.db->TransIsolation = isolation;
        c.db->Connect(Remote(), user, password);
        return c;
    }

    static Rows Psql(const std::string& sql) { return PsqlRows(server_->Psql(sql)); }

    static std::unique_ptr<kwtest::PostgresServer> server_;
};

std::unique_ptr<kwtest::PostgresServer> PgSQL::server_;

TEST_F(PgSQL, ConnectFormsParametersAndLibraryCounts) {
    {
        // host:database with the port from SERVER PORT; host:port:database.
        Connection a;
        a.db = CreatePostgreSQLDatabase(nullptr, MakeParams({"SERVER PORT=" + std::to_string(server_->Port())}));
        a->Connect("127.0.0.1:kwtest", "postgres", "");
        Connection b = Open({}, "pwuser", "p'w;d");
        EXPECT_EQ(PgLibrary().LoadCount(), 2);
        EXPECT_EQ(Query(*a.db, "select current_database(), inet_server_port()"),
                  (Rows{{"kwtest", std::to_string(server_->Port())}}));
        EXPECT_EQ(Query(*b.db, "select current_user"), (Rows{{"pwuser"}}));
        EXPECT_EQ(GetVersionMajor(a->GetServerVersion()), 15);
        EXPECT_EQ(a->GetVersionString().rfind("PostgreSQL 15.", 0), 0u);
        EXPECT_EQ(GetVersionMajor(a->GetClientVersion()), 5);
        EXPECT_TRUE(a->TestConnected());
        EXPECT_EQ(a->GetServerType(), stPostgreSQL);
        const auto* handle = static_cast<const TPgHandle*>(a->GetHandle());
        EXPECT_EQ(handle->ServerType, 10);
        EXPECT_NE(handle->Conn, nullptr);
    }
    EXPECT_EQ(PgLibrary().LoadCount(), 0);
    EXPECT_FALSE(PgLibrary().IsLoaded());

    // Wrong credentials: the server's text, codes -1, not a lost connection, nothing loaded.
    try {
        Open({}, "pwuser", "wrong");
        FAIL() << "connected with a wrong password";
    } catch (const ESDPgSQLError& e) {
        EXPECT_NE(e.Message().find("password authentication failed"), std::string::npos) << e.Message();
        EXPECT_EQ(e.ErrorCode, -1);
        EXPECT_EQ(e.NativeError, -1);
        EXPECT_EQ(e.ErrorPos, 0);
        EXPECT_FALSE(e.ConnectionLost);
    }
    EXPECT_EQ(PgLibrary().LoadCount(), 0);

    // Another library file by parameter, ignored while one is loaded.
    {
        Connection a = Open();
        Connection b = Open({"PostgreSQL API LIBRARY=/nonexistent/libpq.so"});
        EXPECT_EQ(PgLibrary().LoadCount(), 2);
    }
    try {
        Open({"PostgreSQL API LIBRARY=/nonexistent/libpq.so"});
        FAIL() << "loaded a missing library";
    } catch (const ESDSqlLibError& e) {
        EXPECT_EQ(e.Message(), "Error loading library '/nonexistent/libpq.so'");
    }
    // A file without the client's entries: refused by name, and nothing stays counted.
    PgLibrary().TakeNameFromParams(MakeParams({"PostgreSQL API LIBRARY=libz.so.1"}));
    try {
        Open();
        FAIL() << "bound a library without libpq's entries";
    } catch (const rtl::EAssertionFailed& e) {
        EXPECT_EQ(e.Message(), "Function 'PQconnectdb' not found in PostgreSQL library");
    }
    EXPECT_EQ(PgLibrary().LoadCount(), 0);
}

TEST_F(PgSQL, TransactionsAndIsolation) {
    server_->Psql("create table tx(i int)");
    Connection c = Open();
    c->StartTransaction();
    Exec(*c.db, "insert into tx values (1)");
    EXPECT_EQ(Psql("select count(*) from tx"), (Rows{{"0"}}));
    c->Rollback();
    c->StartTransaction();
    Exec(*c.db, "insert into tx values (2)");
    c->Commit();
    EXPECT_EQ(Psql("select i from tx"), (Rows{{"2"}}));
    // Disconnecting inside a transaction rolls it back.
    c->StartTransaction();
    Exec(*c.db, "insert into tx values (3)");
    c->Disconnect(false);
    EXPECT_EQ(Psql("select count(*) from tx"), (Rows{{"1"}}));

    struct Case {
        TSDTransIsolation level;
        const char* shown;
    } cases[] = {{tiDirtyRead, "read committed"}, {tiReadCommitted, "read committed"}, {tiRepeatableRead, "serializable"}};
    for (const Case& k : cases) {
        // Given before connecting, as the engine does, and changed on a connection.
        Connection d = Open({}, "postgres", "", k.level);
        EXPECT_EQ(Query(*d.db, "show transaction_isolation"), (Rows{{k.shown}})) << k.shown;
        Connection e = Open();
        e->SetTransIsolation(k.level);
        EXPECT_EQ(Query(*e.db, "show transaction_isolation"), (Rows{{k.shown}})) << k.shown;
    }
    server_->Psql("drop table tx");
}

// Hostile values reach the server unchanged under either quoting rule, and read back the same.
TEST_F(PgSQL, ParameterLiteralsRoundTrip) {
    server_->Psql(
        "create table lit(id int, t text, b bytea, f float8, n bigint, ts timestamp(3), d date, tm time(3), "
        "ok boolean, m numeric(20,4))");
    rtl::ByteArray all(256);
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = uint8_t(i);
    const std::string hostile = "O'Brien \\ '' \\' :id :\"t\" ; drop table lit; -- ç";
    const rtl::TDateTime stamp = rtl::EncodeDate(2024, 3, 1) + rtl::EncodeTime(12, 30, 15, 750);
    for (const char* rule : {"on", "off"}) {
        SCOPED_TRACE(rule);
        Connection c = Open();
        Exec(*c.db, std::string("set standard_conforming_strings = ") + rule);
        TParams params;
        params.CreateParam(ftInteger, "id", ptInput).SetValue(rtl::Variant(int32_t(1)));
        params.CreateParam(ftString, "t", ptInput).SetValue(rtl::Variant(hostile));
        params.CreateParam(ftBlob, "b", ptInput).SetValue(rtl::Variant::FromBytes(all));
        params.CreateParam(ftFloat, "f", ptInput).SetValue(rtl::Variant(0.1));
        params.CreateParam(ftLargeint, "n", ptInput).SetValue(rtl::Variant(int64_t(9223372036854775807LL)));
        params.CreateParam(ftDateTime, "ts", ptInput).SetValue(rtl::Variant::FromDateTime(stamp));
        params.CreateParam(ftDate, "d", ptInput).SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2024, 2, 29)));
        params.CreateParam(ftTime, "tm", ptInput).SetValue(rtl::Variant::FromDateTime(rtl::EncodeTime(10, 0, 0, 5)));
        params.CreateParam(ftBoolean, "ok", ptInput).SetValue(rtl::Variant(true));
        params.CreateParam(ftCurrency, "m", ptInput).SetValue(rtl::Variant::FromCurrency(-123456789012345LL));
        TISqlCommandPtr insert = c->CreateSqlCommand(nullptr);
        insert->SetParams(&params);
        insert->Prepare("insert into lit values (:id, :t, :b, :f, :n, :ts, :d, :tm, :ok, :m)");
        insert->Execute();
        EXPECT_EQ(insert->GetRowsAffected(), 1);
        EXPECT_EQ(Psql("select t = " + PgStringLiteral(hostile) +
                       ", encode(b, 'hex') = encode(decode(string_agg(lpad(to_hex(g), 2, '0'), '' order by g), "
                       "'hex'), 'hex'), f = 0.1::float8, n, to_char(ts, 'YYYY-MM-DD HH24:MI:SS.MS'), d, tm, ok, m "
                       "from lit, generate_series(0, 255) g group by t, b, f, n, ts, d, tm, ok, m"),
                  (Rows{{"t", "t", "t", "9223372036854775807", "2024-03-01 12:30:15.750", "2024-02-29",
                         "10:00:00.005", "t", "-12345678901.2345"}}));
        TISqlCommandPtr select = c->CreateSqlCommand(nullptr);
        select->Prepare("select t, b, f, n, ts, d, tm, ok from lit");
        select->Execute();
        ASSERT_TRUE(select->FetchNextRow());
        const std::vector<std::string> row = RowTexts(*select);
        EXPECT_EQ(row[0], hostile);
        EXPECT_EQ(row[1], std::string(all.begin(), all.end()));
        EXPECT_EQ(row[2], "0.1");
        EXPECT_EQ(row[3], "9223372036854775807");
        EXPECT_EQ(row[4], "2024-03-01 12:30:15.750");
        EXPECT_EQ(row[5], "2024-02-29");
        EXPECT_EQ(row[7], "True");
        rtl::TDateTime tm = 0;
        ASSERT_TRUE(select->GetFieldAsDateTime(7, tm));
        EXPECT_NEAR(tm, rtl::EncodeTime(10, 0, 0, 5), 1e-9);
        EXPECT_FALSE(select->FetchNextRow());
        select->CloseResultSet();
        server_->Psql("delete from lit");
    }
    // Values that have no literal are refused before anything is sent.
    Connection c = Open();
    TParams bad;
    bad.CreateParam(ftInteger, "id", ptInput).SetValue(rtl::Variant("1); drop table lit; --"));
    TISqlCommandPtr cmd = c->CreateSqlCommand(nullptr);
    cmd->SetParams(&bad);
    cmd->Prepare("insert into lit(id) values (:id)");
    EXPECT_THROW(cmd->Execute(), rtl::EDatabaseError);
    bad[0].SetDataType(ftString);
    bad[0].SetValue(rtl::Variant(std::string("a\0b", 3)));
    EXPECT_THROW(cmd->Execute(), rtl::EDatabaseError);
    EXPECT_EQ(Psql("select count(*) from lit"), (Rows{{"0"}}));
    server_->Psql("drop table lit");
}

TEST_F(PgSQL, ColumnsAndValuesAsTheServerSendsThem) {
    server_->Psql(
        "create table cols(v varchar(10), c char(6), k varchar(8), u uuid, iv interval, tx text, "
        "mo money, nu numeric(12,3), f4 real, o oid, ts timestamptz);"
        "insert into cols values ('çççççççççç', 'ab', 'ab  ', 'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11', "
        "'1 year 2 mons 3 days 04:05:06.5', repeat('x', 100000), '$1,234.56', -12.345, 1.5, 42, "
        "'2024-03-01 12:30:15.25+00')");
    for (const char* trim : {"RTRIM CHAR OUTPUT=TRUE", "RTRIM CHAR OUTPUT=FALSE"}) {
        SCOPED_TRACE(trim);
        Connection c = Open({trim});
        Exec(*c.db, "set timezone = 'UTC'");
        TISqlCommandPtr cmd = c->CreateSqlCommand(nullptr);
        cmd->Prepare("select * from cols");
        cmd->Execute();
        const TSDFieldDescList& d = *cmd->FieldDescs;
        EXPECT_EQ(d.GetFieldDesc(0).DataSize, 41);  // ten characters of up to four bytes, and the zero
        EXPECT_TRUE(d.GetFieldDesc(1).IsFixedChar);
        EXPECT_EQ(d.GetFieldDesc(5).FieldType, ftMemo);
        EXPECT_EQ(d.GetFieldDesc(6).FieldType, ftFloat);
        ASSERT_TRUE(cmd->FetchNextRow());
        const std::vector<std::string> row = RowTexts(*cmd);
        const bool trimmed = std::string(trim).find("TRUE") != std::string::npos;
        EXPECT_EQ(row, (std::vector<std::string>{"çççççççççç", trimmed ? "ab" : "ab    ", "ab  ",
                                                 "a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11",
                                                 "1 year 2 mons 3 days 04:05:06.5", std::string(100000, 'x'),
                                                 "1234.56", "-12.345", "1.5", "42", "2024-03-01 12:30:15.250"}));
    }
    server_->Psql("drop table cols");
}

TEST_F(PgSQL, ByteaInEitherOutputFormAndRowsAffected) {
    server_->Psql("create table bin(id int, b bytea); insert into bin values (1, '\\x00275c41ff'), (2, ''), (3, null)");
    Connection c = Open();
    for (const char* form : {"hex", "escape"}) {
        Exec(*c.db, std::string("set bytea_output = ") + form);
        EXPECT_EQ(Query(*c.db, "select b from bin order by id"),
                  (Rows{{std::string("\x00\x27\x5c\x41\xff", 5)}, {"<null>"}, {"<null>"}}))
            << form;
    }
    TISqlCommandPtr update = c->CreateSqlCommand(nullptr);
    update->ExecDirect("update bin set id = id + 10 where id < 3");
    EXPECT_EQ(update->GetRowsAffected(), 2);
    TISqlCommandPtr select = c->CreateSqlCommand(nullptr);
    select->ExecDirect("select id from bin");
    EXPECT_EQ(select->GetRowsAffected(), -1);
    server_->Psql("drop table bin");
}

// A result held by describing serves the next execution only for the same text.
TEST_F(PgSQL, DescribedResultIsReusedOnlyForTheSameText) {
    server_->Psql("create sequence seq");
    Connection c = Open();
    TParams params;
    params.CreateParam(ftInteger, "v", ptInput).SetValue(rtl::Variant(int32_t(1)));
    TISqlCommandPtr cmd = c->CreateSqlCommand(nullptr);
    cmd->SetParams(&params);
    cmd->Prepare("select :v as v, nextval('seq') as n");
    cmd->InitFieldDescs();  // describing runs the statement once
    cmd->Execute();         // same text: no second run
    EXPECT_EQ(FetchAll(*cmd), (Rows{{"1", "1"}}));
    cmd->CloseResultSet();
    params[0].SetValue(rtl::Variant(int32_t(2)));
    cmd->InitFieldDescs();
    params[0].SetValue(rtl::Variant(int32_t(3)));
    cmd->Execute();  // the parameter changed: sent again
    EXPECT_EQ(FetchAll(*cmd), (Rows{{"3", "3"}}));
    server_->Psql("drop sequence seq");
}

// Catalog queries as a user who is not a superuser; names are literals, not SQL.
TEST_F(PgSQL, CatalogQueriesWorkForPlainUsers) {
    Connection c = Open({}, "plain");
    Exec(*c.db,
         "create table cat_a(id int primary key, name varchar(30) not null);"
         "create unique index cat_a_name on cat_a(name);"
         "create function cat_add(a integer, b integer) returns integer language sql as 'select a + b'");
    auto rows = [&](TSDSchemaType kind, const std::string& name) {
        TISqlCommandPtr cmd = c->GetSchemaInfo(kind, name);
        EXPECT_NE(cmd, nullptr);
        return cmd ? FetchAll(*cmd) : Rows{};
    };
    // The catalog's '' columns are text, read as long values: an empty one reads as none.
    EXPECT_EQ(rows(stTables, "CAT%"), (Rows{{"<null>", "plain", "cat_a", "1"}}));
    EXPECT_EQ(rows(stSysTables, "cat_a"), (Rows{{"<null>", "plain", "cat_a", "1"}}));
    const Rows procs = rows(stProcedures, "cat_add");
    ASSERT_EQ(procs.size(), 1u);
    EXPECT_EQ(procs[0][2], "cat_add");
    EXPECT_EQ(procs[0][4], "2");
    const Rows columns = rows(stColumns, "cat_a");
    ASSERT_EQ(columns.size(), 2u);
    EXPECT_EQ(columns[1], (std::vector<std::string>{"<null>", "plain", "cat_a", "name", "2", "0", "varchar", "34", "0", "<null>"}));
    Rows indexes;
    for (const auto& r : rows(stIndexes, "cat_a"))
        indexes.push_back({r[3], r[4], r[6]});
    EXPECT_EQ(indexes, (Rows{{"cat_a_name", "name", "2"}, {"cat_a_pkey", "id", "6"}}));
    EXPECT_EQ(c->GetSchemaInfo(stProcedureParams, "cat_add"), nullptr);
    // A quote in a name is a character of the name.
    EXPECT_EQ(rows(stTables, "x') or ('1'='1"), Rows{});
    EXPECT_EQ(rows(stIndexes, "x') or ('1'='1"), Rows{});
    Exec(*c.db, "drop table cat_a; drop function cat_add");
}

TEST_F(PgSQL, ServerErrorsAndRefusedCapabilities) {
    Connection c = Open();
    try {
        Query(*c.db, "select * from missing_table");
        FAIL();
    } catch (const ESDPgSQLError& e) {
        EXPECT_NE(e.Message().find("relation \"missing_table\" does not exist"), std::string::npos);
        EXPECT_FALSE(e.ConnectionLost);
    }
    TISqlCommandPtr proc = c->CreateSqlCommand(nullptr);
    proc->CommandType = 2;
    EXPECT_THROW(proc->Prepare("p"), rtl::EDatabaseError);
    EXPECT_THROW(proc->InitParamList(), rtl::EDatabaseError);
    // The connection goes on.
    EXPECT_EQ(Query(*c.db, "select 1"), (Rows{{"1"}}));
}

// The server ends the connection: the error is marked lost, the engine closes the database,
// and a fresh connect works.
TEST_F(PgSQL, ConnectionEndedByTheServerIsLost) {
    RegisterPostgreSQLDriver();
    TSDSession session;
    session.SetSessionName("PgLost");
    TSDDatabase db(&session);
    db.SetDatabaseName("pglost");
    db.SetServerType(stPostgreSQL);
    db.SetRemoteDatabase(Remote());
    db.SetLoginPrompt(false);
    db.Params().SetValue("USER NAME", "postgres");
    int lostCalls = 0;
    db.OnLostConnectError = [&](TSDDatabase&, const ESDEngineError& e, TSDLostConnectAction& action) {
        ++lostCalls;
        EXPECT_TRUE(e.ConnectionLost);
        action = lcCloseConnect;
    };
    db.Open();
    {
        TSDQuery q;
        q.SetSessionName("PgLost");
        q.SetDatabaseName("pglost");
        q.SQL().SetText("select pg_backend_pid() as pid, cast(:x as int) as x");
        q.Params().ParamByName("x").SetDataType(ftInteger);
        q.Params().ParamByName("x").SetValue(rtl::Variant(int32_t(5)));
        q.Open();
        EXPECT_EQ(q.FieldByName("x").AsInteger(), 5);
        server_->Psql("select pg_terminate_backend(" + q.FieldByName("pid").AsString() + ")");
    }
    try {
        Query(*db.SqlDatabase(), "select 1");
        FAIL() << "a terminated connection answered";
    } catch (const ESDPgSQLError& e) {
        EXPECT_TRUE(e.ConnectionLost) << e.Message();
    }
    EXPECT_EQ(lostCalls, 1);
    EXPECT_FALSE(db.Connected());
    db.Close();
    db.Open();
    EXPECT_EQ(Query(*db.SqlDatabase(), "select 2"), (Rows{{"2"}}));
    db.Close();
    RegisterSqlDatabaseFactory(stPostgreSQL, nullptr);
}

}  // namespace
