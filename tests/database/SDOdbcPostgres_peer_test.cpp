// The ODBC driver on a private PostgreSQL 15 server through unixODBC and psqlODBC, reached by
// a DSN-less connection string (and once by a data source name), with isql and psql as
// independent readers of the same database.
#include <gtest/gtest.h>

#include <memory>

#include "database/OdbcTestSupport.h"
#include "database/engine/SDEngine.h"
#include "rtl/DbParams.h"
#include "support/PostgresServer.h"

using namespace odbctest;

namespace {

class OdbcPostgres : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!std::filesystem::exists(kwtest::PostgresServer::kOdbcDriver) || !SqliteOdbcAvailable()) return;
        DataSources::Get();  // the test process's own ODBC settings, before any connection
        kwtest::PostgresServer::Options options;
        options.hbaLines = {"host all pwuser 127.0.0.1/32 scram-sha-256"};
        server_ = std::make_unique<kwtest::PostgresServer>(options);
        if (!server_->Available()) return;
        server_->Psql("create role pwuser login password 'p;w}d=x'");
        server_->Psql("grant all on schema public to pwuser");
    }
    static void TearDownTestSuite() { server_.reset(); }

    void SetUp() override {
        KW_REQUIRE_PEER(server_ != nullptr, "psqlODBC, unixODBC and isql");
        KW_REQUIRE_PEER(server_->Available(), server_->Reason());
    }
    void TearDown() override { ReloadDriverManagerName(); }

    static kwtest::PostgresServer& Server() { return *server_; }

    Connection Open(std::initializer_list<std::string> params = {}, const std::string& user = "postgres",
                    const std::string& password = "", TSDTransIsolation isolation = tiReadCommitted) {
        Connection c = NewOdbc(OdbcParams(params));
        c.db->TransIsolation = isolation;
        c.db->Connect(server_->OdbcConnectString(), user, password);
        return c;
    }

    static Rows IsqlPg(const std::string& sql) {
        return Isql(server_->OdbcConnectString() + ";UID=postgres", sql, true);
    }
    static Rows PsqlRows(const std::string& sql) { return odbctest::PsqlRows(server_->Psql(sql)); }

    static std::unique_ptr<kwtest::PostgresServer> server_;
};

std::unique_ptr<kwtest::PostgresServer> OdbcPostgres::server_;

TEST_F(OdbcPostgres, LogsInWithBracedValuesAndNoInjectedAttributes) {
    {
        // The password holds ";", "}" and "=": it reaches the server whole.
        Connection c = Open({}, "pwuser", "p;w}d=x");
        EXPECT_EQ(Query(*c.db, "select current_user, current_database()"), (Rows{{"pwuser", "kwtest"}}));
        EXPECT_EQ(c->GetVersionString().rfind("PostgreSQL Release 15.", 0), 0u) << c->GetVersionString();
    }
    {
        Connection c = NewOdbc();
        EXPECT_THROW(c.db->Connect(server_->OdbcConnectString(), "pwuser", "wrong"), ESDOdbcError);
    }
    // A user name carrying an attribute of its own does not switch the database: it is no
    // more than a (missing) role's name.
    Connection c = NewOdbc();
    try {
        c.db->Connect(server_->OdbcConnectString(), "postgres;DATABASE=postgres", "");
        ADD_FAILURE() << "connected to " << Query(*c.db, "select current_database()")[0][0];
    } catch (const ESDOdbcError& e) {
        EXPECT_NE(e.Message().find("does not exist"), std::string::npos) << e.Message();
    }
    EXPECT_EQ(OdbcLibrary().LoadCount(), 0);
}

TEST_F(OdbcPostgres, ConnectsByDataSourceName) {
    const std::string dsn = "kwodbc_pg";
    DataSources::Get().AddEntry(
        dsn, {"Driver=" + std::string(kwtest::PostgresServer::kOdbcDriver), "Servername=127.0.0.1",
              "Port=" + std::to_string(server_->Port()), "Database=kwtest"});
    Connection c = NewOdbc();
    c.db->Connect(dsn, "pwuser", "p;w}d=x");
    EXPECT_EQ(Query(*c.db, "select current_user"), (Rows{{"pwuser"}}));
}

// Isolation levels as the server applies them, with isql changing the data meanwhile.
TEST_F(OdbcPostgres, IsolationLevelsAndTransactions) {
    server_->Psql("create table iso(i int); insert into iso values (1)");
    struct Case {
        TSDTransIsolation level;
        int32_t attribute;
        const char* shown;
        bool seesNewRows;
    } cases[] = {
        {tiRepeatableRead, 4, "repeatable read", false},
        {tiReadCommitted, 2, "read committed", true},
        {tiDirtyRead, 1, "read uncommitted", true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.shown);
        Connection c = Open({}, "postgres", "", k.level);
        EXPECT_EQ(c.Odbc().GetConnectAttr(odbcapi::SQL_ATTR_TXN_ISOLATION), k.attribute);
        EXPECT_TRUE(c->AutoCommit);
        c->StartTransaction();
        EXPECT_EQ(Query(*c.db, "show transaction_isolation"), (Rows{{k.shown}}));
        const std::string before = Query(*c.db, "select count(*) from iso")[0][0];
        IsqlPg("insert into iso values (2)");
        const std::string during = Query(*c.db, "select count(*) from iso")[0][0];
        EXPECT_EQ(during == before, !k.seesNewRows) << before << " / " << during;
        Exec(*c.db, "insert into iso values (3)");
        EXPECT_EQ(PsqlRows("select count(*) from iso where i = 3"), (Rows{{"0"}}));
        c->Rollback();
        EXPECT_EQ(PsqlRows("select count(*) from iso where i = 3"), (Rows{{"0"}}));
        c->StartTransaction();
        Exec(*c.db, "insert into iso values (3)");
        c->Commit();
        EXPECT_EQ(PsqlRows("select count(*) from iso where i = 3"), (Rows{{"1"}}));
        server_->Psql("delete from iso where i = 3");
    }
}

// A connection the server closed is reported as lost; the engine closes its database.
TEST_F(OdbcPostgres, BrokenConnectionIsReportedAsLost) {
    RegisterOdbcDriver();
    TSDSession session;
    session.SetSessionName("OdbcLost");
    TSDDatabase db(&session);
    db.SetDatabaseName("lost");
    db.SetServerType(stODBC);
    db.SetRemoteDatabase(server_->OdbcConnectString());
    db.SetLoginPrompt(false);
    db.Params().SetValue("USER NAME", "postgres");
    db.Params().SetValue("ODBC API LIBRARY", kDriverManager);
    int lostCalls = 0;
    db.OnLostConnectError = [&](TSDDatabase&, const ESDEngineError& e, TSDLostConnectAction& action) {
        ++lostCalls;
        EXPECT_TRUE(e.ConnectionLost);
        action = lcCloseConnect;
    };
    // The first failure after the server ended the session already counts as lost: the
    // handler runs at once and the database is closed, not one call later. Executed at once,
    // the statement meets the server's 57P01 ("terminating connection due to administrator
    // command"); prepared, the driver meets it while describing and reports a general error,
    // after which it knows the connection is dead.
    struct Way {
        const char* name;
        bool prepared;
        const char* state;
    };
    for (const Way& way : {Way{"direct", false, "57P01"}, Way{"prepared", true, "HY000"}}) {
        SCOPED_TRACE(way.name);
        lostCalls = 0;
        db.Open();
        EXPECT_FALSE(db.ConnectionLost());
        const std::string pid = Query(*db.SqlDatabase(), "select pg_backend_pid()")[0][0];
        server_->Psql("select pg_terminate_backend(" + pid + ")");
        try {
            TISqlCommandPtr cmd = db.SqlDatabase()->CreateSqlCommand(nullptr);
            if (way.prepared)
                cmd->Prepare("select 1");
            else
                cmd->ExecDirect("select 1");
            FAIL() << "a terminated connection answered";
        } catch (const ESDOdbcError& e) {
            EXPECT_TRUE(e.ConnectionLost) << e.SqlState << " " << e.Message();
            EXPECT_EQ(e.SqlState, way.state) << e.Message();
        }
        EXPECT_EQ(lostCalls, 1);
        EXPECT_TRUE(db.ConnectionLost());
        EXPECT_FALSE(db.Connected());
    }
    // The kept driver object connects again.
    db.Open();
    EXPECT_EQ(Query(*db.SqlDatabase(), "select 2"), (Rows{{"2"}}));
    EXPECT_FALSE(db.ConnectionLost());
    db.Close();
    RegisterSqlDatabaseFactory(stODBC, nullptr);
}

// With "ENABLE BCD" an exact numeric of up to four places is described as a BCD field of its
// precision and scale and read as its decimal digits; without it, as floating point.
TEST_F(OdbcPostgres, EnableBcdDescribesExactNumericsAsBcd) {
    const std::string sql = "select 99999999999999.9999::numeric(18,4) as a, (-0.5)::numeric(5,2) as b";
    {
        Connection c = Open();
        TISqlCommandPtr cmd = c->CreateSqlCommand(nullptr);
        cmd->Prepare(sql);
        EXPECT_EQ(cmd->FieldDescs->GetFieldDesc(0).FieldType, ftFloat);
    }
    Connection c = Open({"ENABLE BCD=TRUE"});
    TISqlCommandPtr cmd = c->CreateSqlCommand(nullptr);
    cmd->Prepare(sql);
    const TSDFieldDesc& a = cmd->FieldDescs->GetFieldDesc(0);
    EXPECT_EQ(a.FieldType, ftBCD);
    EXPECT_EQ(a.Precision, 18);
    EXPECT_EQ(a.Scale, 4);
    EXPECT_EQ(cmd->FieldDescs->GetFieldDesc(1).Scale, 2);
    cmd->Execute();
    EXPECT_EQ(FetchAll(*cmd), (Rows{{"99999999999999.9999", "-0.5"}}));
}

// Character columns are sized in bytes: ten "ç" need twenty bytes, not eleven.
TEST_F(OdbcPostgres, CharacterColumnsHoldTheirValuesInBytes) {
    server_->Psql(
        "create table chars(id int, v varchar(10), f char(6), b varchar(8));"
        "insert into chars values (1, 'çççççççççç', 'ab', 'ab  '), (2, 'ação', 'çé', ' x ')");
    for (const char* trim : {"RTRIM CHAR OUTPUT=TRUE", "RTRIM CHAR OUTPUT=FALSE"}) {
        SCOPED_TRACE(trim);
        Connection c = Open({trim});
        TISqlCommandPtr cmd = c->CreateSqlCommand(nullptr);
        cmd->Prepare("select v, f, b from chars order by id");
        EXPECT_EQ(cmd->FieldDescs->GetFieldDesc(0).DataSize, 41);
        EXPECT_TRUE(cmd->FieldDescs->GetFieldDesc(1).IsFixedChar);
        EXPECT_FALSE(cmd->FieldDescs->GetFieldDesc(2).IsFixedChar);
        cmd->Execute();
        const Rows ours = FetchAll(*cmd);
        Rows theirs = IsqlPg("select v, f, b from chars order by id");
        // Only the fixed-length column loses its padding, and only when asked to.
        if (std::string(trim).find("TRUE") != std::string::npos)
            for (auto& row : theirs)
                row[1] = rtl::TrimRight(row[1]);
        EXPECT_EQ(ours, theirs);
    }
}

// Long values in pieces both ways; psql computes their digests.
TEST_F(OdbcPostgres, LongDataTravelsBothWays) {
    server_->Psql("create table big(id int, body text, data bytea)");
    Connection c = Open({"BLOB PIECE SIZE=4093"});
    std::string text;
    for (int i = 0; text.size() < 200000; ++i)
        text += "registro " + std::to_string(i) + " ç ";
    rtl::ByteArray bytes(150003);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t((i * 31) ^ (i >> 8));
    EXPECT_EQ(InsertLongRow(*c.db, "insert into big values (:id, :body, :data)", 1, text, bytes), 1);
    EXPECT_EQ(PsqlRows("select octet_length(body), octet_length(data) from big"),
              (Rows{{std::to_string(text.size()), std::to_string(bytes.size())}}));
    const Rows digests = PsqlRows("select md5(body), md5(data) from big");

    TISqlCommandPtr select = c->CreateSqlCommand(nullptr);
    select->Prepare("select body, data, md5(body), md5(data) from big");
    EXPECT_EQ(select->FieldDescs->GetFieldDesc(0).FieldType, ftMemo);
    EXPECT_EQ(select->FieldDescs->GetFieldDesc(1).FieldType, ftBlob);
    select->Execute();
    ASSERT_TRUE(select->FetchNextRow());
    const std::vector<std::string> row = RowTexts(*select);
    EXPECT_EQ(row[0], text);
    EXPECT_EQ(row[1], std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(row[2], digests[0][0]);
    EXPECT_EQ(row[3], digests[0][1]);
}

TEST_F(OdbcPostgres, TimeStampsAndGuidsKeepTheirPrecision) {
    server_->Psql("create table stamps(ts timestamp, g uuid)");
    Connection c = Open();
    TParams params;
    params.CreateParam(ftDateTime, "ts", ptInput)
        .SetValue(
            rtl::Variant::FromDateTime(rtl::EncodeDate(2022, 11, 30) + rtl::EncodeTime(23, 58, 59, 987)));
    params.CreateParam(ftGuid, "g", ptInput).SetValue(rtl::Variant("{A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11}"));
    TISqlCommandPtr insert = c->CreateSqlCommand(nullptr);
    insert->SetParams(&params);
    insert->Prepare("insert into stamps values (:ts, :g)");
    insert->Execute();
    EXPECT_EQ(PsqlRows("select to_char(ts, 'YYYY-MM-DD HH24:MI:SS.MS'), g from stamps"),
              (Rows{{"2022-11-30 23:58:59.987", "a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11"}}));
    EXPECT_EQ(Query(*c.db, "select ts, g from stamps"),
              (Rows{{"2022-11-30 23:58:59.987", "{A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11}"}}));
}

// Rows of a catalog command with nulls shown as isql shows them (empty).
Rows CatalogRows(TISqlDatabase& db, TSDSchemaType kind, const std::string& name, int& sourceColumns,
                 std::vector<std::string>& names) {
    TISqlCommandPtr cmd = db.GetSchemaInfo(kind, name);
    EXPECT_NE(cmd, nullptr);
    if (cmd == nullptr) return {};
    sourceColumns = dynamic_cast<TICustomOdbcCommand&>(*cmd).ResultColumns();
    names.clear();
    for (int i = 0; i < cmd->FieldDescs->Count(); ++i)
        names.push_back(cmd->FieldDescs->GetFieldDesc(i).FieldName);
    Rows rows = FetchAll(*cmd);
    for (auto& row : rows)
        for (auto& v : row)
            if (v == "<null>") v.clear();
    return rows;
}

TEST_F(OdbcPostgres, CatalogCommandsReadWhatIsqlReads) {
    server_->Psql(
        "create table cat_a(id serial primary key, name varchar(30), price numeric(10,2), born date);"
        "create index cat_a_name on cat_a(name); create view cat_v as select id, name from cat_a;"
        "create function cat_add(a integer, b integer) returns integer language sql as 'select a + b'");
    Connection c = Open();
    int source = 0;
    std::vector<std::string> names;

    // Tables and views: the library's column names, TABLE_TYPE computed from the type text.
    Rows tables = CatalogRows(*c.db, stTables, "cat%", source, names);
    EXPECT_EQ(names, (std::vector<std::string>{"CATALOG_NAME", "SCHEMA_NAME", "TABLE_NAME", "OLD_TABLE_TYPE",
                                               "REMARKS", "TABLE_TYPE"}));
    Rows isqlTables;
    for (const auto& row : IsqlPg("help"))
        if (row.size() >= 4 && row[2].rfind("cat_", 0) == 0) isqlTables.push_back(row);
    ASSERT_EQ(tables.size(), isqlTables.size());
    for (size_t i = 0; i < tables.size(); ++i) {
        EXPECT_EQ(std::vector<std::string>(tables[i].begin(), tables[i].begin() + 5), isqlTables[i]);
        EXPECT_EQ(tables[i][5], tables[i][3] == "TABLE" ? "1" : "2");
    }
    const Rows system = CatalogRows(*c.db, stSysTables, "pg_class", source, names);
    ASSERT_EQ(system.size(), 1u);
    EXPECT_EQ(system[0][3], "SYSTEM TABLE");
    EXPECT_EQ(system[0][5], "4");
    EXPECT_TRUE(c->TestConnected());

    // Columns: the data source's columns as isql reads them, then the computed ones.
    const Rows columns = CatalogRows(*c.db, stColumns, "cat_a", source, names);
    EXPECT_EQ(names[3], "COLUMN_NAME");
    EXPECT_EQ(names[5], "COLUMN_TYPENAME");
    EXPECT_EQ(names[16], "COLUMN_POSITION");
    EXPECT_EQ(names[size_t(source)], "COLUMN_TYPE");
    EXPECT_EQ(names[size_t(source) + 1], "COLUMN_PRECISION");
    const Rows isqlColumns = Isql(server_->OdbcConnectString() + ";UID=postgres", "help cat_a", true, true);
    ASSERT_EQ(columns.size(), isqlColumns.size());
    for (size_t i = 0; i < columns.size(); ++i) {
        EXPECT_EQ(std::vector<std::string>(columns[i].begin(), columns[i].begin() + source), isqlColumns[i]);
        EXPECT_EQ(columns[i][size_t(source)], "0");
    }
    // COLUMN_PRECISION: size plus decimal digits where the radix is 10.
    EXPECT_EQ(columns[0][size_t(source) + 1], "10");  // int4
    EXPECT_EQ(columns[1][size_t(source) + 1], "");    // varchar
    EXPECT_EQ(columns[2][size_t(source) + 1], "12");  // numeric(10,2)

    // Indexes, against the server's own catalog.
    const Rows indexes = CatalogRows(*c.db, stIndexes, "cat_a", source, names);
    EXPECT_EQ(names[3], "INDEX_TYPE");
    EXPECT_EQ(names[5], "INDEX_NAME");
    EXPECT_EQ(names[8], "COLUMN_NAME");
    Rows ourIndexes;
    for (const auto& row : indexes)
        if (!row[5].empty()) ourIndexes.push_back({row[5], row[8], row[3]});
    std::sort(ourIndexes.begin(), ourIndexes.end());
    Rows serverIndexes = PsqlRows(
        "select i.relname, a.attname, case when x.indisunique then '2' else '1' end from pg_index x "
        "join pg_class i on i.oid = x.indexrelid join pg_class t on t.oid = x.indrelid "
        "join pg_attribute a on a.attrelid = t.oid and a.attnum = x.indkey[0] where t.relname = 'cat_a' "
        "order by 1");
    EXPECT_EQ(ourIndexes, serverIndexes);

    // Procedures and their parameters.
    const Rows procs = CatalogRows(*c.db, stProcedures, "cat_add", source, names);
    EXPECT_EQ(names[2], "PROC_NAME");
    EXPECT_EQ(names[7], "PROC_TYPE");
    ASSERT_EQ(procs.size(), 1u);
    EXPECT_EQ(procs[0][2], "cat_add");
    const Rows params = CatalogRows(*c.db, stProcedureParams, "cat_add", source, names);
    EXPECT_EQ(names[3], "PARAM_NAME");
    EXPECT_EQ(names[4], "PARAM_TYPE");
    EXPECT_EQ(names[5], "PARAM_DATATYPE");
    Rows ourParams;
    for (const auto& row : params)
        ourParams.push_back({row[3], row[4], row[5]});
    // The return value, then the inputs as the server lists them.
    Rows serverParams = {{"", "5", "4"}};
    for (const auto& row : PsqlRows("select parameter_name from information_schema.parameters p join "
                                    "information_schema.routines r using (specific_name) where "
                                    "r.routine_name = 'cat_add' order by ordinal_position"))
        serverParams.push_back({row[0], "1", "4"});
    EXPECT_EQ(ourParams, serverParams);
}

// A stored procedure: its parameters come from the catalog, its result through an output
// parameter.
TEST_F(OdbcPostgres, StoredProcedureResultComesBackAsAParameter) {
    server_->Psql(
        "create function sp_add(a integer, b integer) returns integer language sql as 'select a + b';"
        "create function sp_none(a integer, b integer) returns integer language sql as 'select "
        "null::integer'");
    Connection c = Open();
    EXPECT_TRUE(c->SPDescriptionsAvailable());
    TParams params;
    TISqlCommandPtr call = c->CreateSqlCommand(nullptr);
    call->CommandType = 2;
    call->SetParams(&params);
    call->Prepare("sp_add");
    ASSERT_EQ(params.Count(), 3);
    EXPECT_EQ(params[0].Name(), "Result");
    EXPECT_EQ(params[0].ParamType(), ptResult);
    EXPECT_EQ(params[1].Name(), "a");
    EXPECT_EQ(params[1].DataType(), ftInteger);
    EXPECT_EQ(call->PreparedText, "{?=CALL sp_add(?, ?)}");
    params[1].SetValue(rtl::Variant(int32_t(20)));
    params[2].SetValue(rtl::Variant(int32_t(22)));
    call->Execute();
    call->GetOutputParams();
    EXPECT_EQ(params[0].Value().AsInteger(), 42);

    TParams none;
    TISqlCommandPtr nullCall = c->CreateSqlCommand(nullptr);
    nullCall->CommandType = 2;
    nullCall->SetParams(&none);
    nullCall->Prepare("sp_none");
    none[0].SetValue(rtl::Variant(int32_t(7)));  // an old value is cleared by the null result
    none[1].SetValue(rtl::Variant(int32_t(1)));
    none[2].SetValue(rtl::Variant(int32_t(2)));
    nullCall->Execute();
    nullCall->GetOutputParams();
    EXPECT_TRUE(none[0].IsNull());
}

// A batch answers with two result sets, read one after the other.
TEST_F(OdbcPostgres, NextResultSetMovesThroughABatch) {
    Connection c = Open();
    TISqlCommandPtr cmd = c->CreateSqlCommand(nullptr);
    cmd->ExecDirect("select 1 as a union all select 2; select 'x' as b, 3 as c");
    ASSERT_EQ(cmd->FieldDescs->Count(), 1);
    EXPECT_EQ(FetchAll(*cmd), (Rows{{"1"}, {"2"}}));
    ASSERT_TRUE(cmd->NextResultSet());
    cmd->InitFieldDescs();
    ASSERT_EQ(cmd->FieldDescs->Count(), 2);
    EXPECT_EQ(cmd->FieldDescs->GetFieldDesc(0).FieldName, "b");
    cmd->AllocFieldsBuffer();
    cmd->SetFieldsBuffer();
    EXPECT_EQ(FetchAll(*cmd), (Rows{{"x", "3"}}));
    EXPECT_FALSE(cmd->NextResultSet());
}

}  // namespace
