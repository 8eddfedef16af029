// The MySQL driver on a private MariaDB server through the MariaDB client library, with the
// mariadb client as the independent reader of what the driver wrote.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "database/OdbcTestSupport.h"
#include "database/drivers/SDMySql.h"
#include "database/engine/SDEngine.h"
#include "database/engine/SDEngineQuery.h"
#include "rtl/DbParams.h"
#include "support/MariaDbServer.h"

using namespace odbctest;

namespace {

class MySql : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = std::make_unique<kwtest::MariaDbServer>(); }
    static void TearDownTestSuite() { server_.reset(); }

    void SetUp() override { KW_REQUIRE_PEER(server_->Available(), server_->Reason()); }
    void TearDown() override {
        if (MySqlLibrary().LoadCount() == 0) MySqlLibrary().TakeNameFromParams(MakeParams({"MySQL API LIBRARY=libmariadb.so.3"}));
    }

    static std::string Port() { return "SERVER PORT=" + std::to_string(server_->Port()); }

    static Connection Open(std::initializer_list<std::string> params = {}, const std::string& remote = "127.0.0.1:kwtest",
                           TSDTransIsolation isolation = tiReadCommitted) {
        rtl::StringList list = MakeParams(params);
        list.Add(Port());
        Connection c;
        c.db = CreateMySQLDatabase(nullptr, list);
        c.db->TransIsolation = isolation;
        c.db->Connect(remote, server_->User(), server_->Password());
        return c;
    }

    // Rows of the mariadb client's batch output.
    static Rows Sql(const std::string& sql) {
        Rows rows;
        for (const std::string& line : rtl::SplitFields(server_->Sql(sql), '\n'))
            if (!line.empty()) rows.push_back(rtl::SplitFields(line, '\t'));
        return rows;
    }

    // An engine database on the server's database as the test user.
    static void Configure(TSDDatabase& db, const std::string& name) {
        RegisterMySQLDriver();
        db.SetDatabaseName(name);
        db.SetServerType(stMySQL);
        db.SetRemoteDatabase("127.0.0.1:kwtest");
        db.SetLoginPrompt(false);
        db.Params().SetValue("USER NAME", server_->User());
        db.Params().SetValue("PASSWORD", server_->Password());
        db.Params().SetValue("SERVER PORT", std::to_string(server_->Port()));
    }

    static std::unique_ptr<kwtest::MariaDbServer> server_;
};

std::unique_ptr<kwtest::MariaDbServer> MySql::server_;

TEST_F(MySql, ConnectFormsParametersAndLibraryCounts) {
    {
        Connection a = Open();
        Connection b = Open({"COMPRESSED PROTOCOL=FALSE"}, "127.0.0.1");
        EXPECT_EQ(MySqlLibrary().LoadCount(), 2);
        EXPECT_EQ(Query(*a.db, "select database(), current_user()"), (Rows{{"kwtest", "kw@%"}}));
        EXPECT_EQ(Query(*b.db, "select database()"), (Rows{{"<null>"}}));
        // Compression is on unless the parameter is exactly FALSE.
        EXPECT_EQ(Query(*a.db, "show session status like 'Compression'"), (Rows{{"Compression", "ON"}}));
        EXPECT_EQ(Query(*b.db, "show session status like 'Compression'"), (Rows{{"Compression", "OFF"}}));
        EXPECT_EQ(GetVersionMajor(a->GetServerVersion()), 10);
        EXPECT_EQ(a->GetVersionString(), Query(*a.db, "select version()")[0][0] + "/127.0.0.1 via TCP/IP");
        EXPECT_EQ(GetVersionMajor(a->GetClientVersion()), 3);
        EXPECT_EQ(a->GetIdentityQuery(), "select LAST_INSERT_ID()");
        EXPECT_TRUE(a->TestConnected());
        const auto* handle = static_cast<const TMyHandle*>(a->GetHandle());
        EXPECT_EQ(handle->ServerType, 9);
    }
    EXPECT_EQ(MySqlLibrary().LoadCount(), 0);

    try {
        Connection c;
        c.db = CreateMySQLDatabase(nullptr, MakeParams({Port()}));
        c.db->Connect("127.0.0.1:kwtest", "kw", "wrong");
        FAIL() << "connected with a wrong password";
    } catch (const ESDMySQLError& e) {
        EXPECT_EQ(e.ErrorCode, 1045);
        EXPECT_EQ(e.NativeError, 1045);
        EXPECT_EQ(e.Message().rfind("Error: 1045\r\nAccess denied for user 'kw'", 0), 0u) << e.Message();
        EXPECT_FALSE(e.ConnectionLost);
    }
    EXPECT_EQ(MySqlLibrary().LoadCount(), 0);
    try {
        Open({"MySQL API LIBRARY=/nonexistent/libmariadb.so"});
        FAIL();
    } catch (const ESDSqlLibError& e) {
        EXPECT_EQ(e.Message(), "Error loading library '/nonexistent/libmariadb.so'");
    }
}

TEST_F(MySql, TransactionsAndIsolation) {
    server_->Sql("create table tx(i int) engine=InnoDB");
    Connection c = Open();
    c->StartTransaction();
    Exec(*c.db, "insert into tx values (1)");
    EXPECT_EQ(Sql("select count(*) from tx"), (Rows{{"0"}}));
    c->Rollback();
    c->StartTransaction();
    Exec(*c.db, "insert into tx values (2)");
    c->Commit();
    EXPECT_EQ(Sql("select i from tx"), (Rows{{"2"}}));
    c->StartTransaction();
    Exec(*c.db, "insert into tx values (3)");
    c->Disconnect(false);
    EXPECT_EQ(Sql("select count(*) from tx"), (Rows{{"1"}}));
    struct Case {
        TSDTransIsolation level;
        const char* shown;
    } cases[] = {{tiDirtyRead, "READ-UNCOMMITTED"}, {tiReadCommitted, "READ-COMMITTED"}, {tiRepeatableRead, "REPEATABLE-READ"}};
    for (const Case& k : cases) {
        Connection d = Open({}, "127.0.0.1:kwtest", k.level);
        EXPECT_EQ(Query(*d.db, "select @@session.tx_isolation"), (Rows{{k.shown}}));
        Connection e = Open();
        e->SetTransIsolation(k.level);
        EXPECT_EQ(Query(*e.db, "select @@session.tx_isolation"), (Rows{{k.shown}}));
    }
    server_->Sql("drop table tx");
}

TEST_F(MySql, TypeMappingAndValues) {
    server_->Sql(
        "create table types(id bigint auto_increment primary key, small smallint, tiny tinyint, big bigint, "
        "ui int unsigned, us smallint unsigned, d2 decimal(10,2), d6 decimal(10,6), dbl double, dt date, tm time, "
        "dtm datetime(3), ts timestamp(3) null, bt bit(1), txt text, bl blob, vc varchar(40), ch char(5), "
        "en enum('a','b'), yr year, js json);"
        "alter table types auto_increment = 5000000000;"
        "insert into types(small, tiny, big, ui, us, d2, d6, dbl, dt, tm, dtm, ts, bt, txt, bl, vc, ch, en, yr, js) "
        "values (-32768, -5, -9223372036854775808, 4000000000, 65535, 12345678.91, 1.123456, 0.1, '2024-02-29', "
        "'12:30:15', '2024-03-01 12:30:15.750', null, b'1', repeat('ç', 30000), x'00ff', repeat('ç', 40), 'ab', "
        "'b', 2024, '{\"a\": 1}')");
    for (bool money : {false, true}) {
        SCOPED_TRACE(money);
        Connection c = Open({money ? "ENABLE MONEY=TRUE" : "ENABLE MONEY=FALSE"});
        TISqlCommandPtr cmd = c->CreateSqlCommand(nullptr);
        cmd->Prepare("select * from types");
        cmd->Execute();
        std::vector<TFieldType> types;
        for (int i = 0; i < cmd->FieldDescs->Count(); ++i)
            types.push_back(cmd->FieldDescs->GetFieldDesc(i).FieldType);
        EXPECT_EQ(types, (std::vector<TFieldType>{ftLargeint, ftSmallint, ftSmallint, ftLargeint, ftLargeint, ftInteger,
                                                  money ? ftCurrency : ftFloat, ftFloat, ftFloat, ftDate, ftTime,
                                                  ftDateTime, ftString, ftBoolean, ftMemo, ftBlob, ftString, ftString,
                                                  ftString, ftInteger, ftBlob}));  // json: binary collation
        EXPECT_TRUE(cmd->FieldDescs->GetFieldDesc(0).Required);
        EXPECT_FALSE(cmd->FieldDescs->GetFieldDesc(1).Required);
        EXPECT_TRUE(cmd->FieldDescs->GetFieldDesc(17).IsFixedChar);
        ASSERT_TRUE(cmd->FetchNextRow());
        const std::vector<std::string> row = RowTexts(*cmd);
        EXPECT_EQ(row, (std::vector<std::string>{"5000000000", "-32768", "-5", "-9223372036854775808", "4000000000",
                                                 "65535", "12345678.91", "1.123456", "0.1", "2024-02-29", "12:30:15",
                                                 "2024-03-01 12:30:15.750", "<null>", "True", [] {
                                                     std::string s;
                                                     for (int i = 0; i < 30000; ++i)
                                                         s += "ç";
                                                     return s;
                                                 }(),
                                                 std::string("\x00\xff", 2), [] {
                                                     std::string s;
                                                     for (int i = 0; i < 40; ++i)
                                                         s += "ç";
                                                     return s;
                                                 }(),
                                                 "ab", "b", "2024", "{\"a\": 1}"}));
        EXPECT_FALSE(cmd->FetchNextRow());
    }
    server_->Sql("drop table types");
}

TEST_F(MySql, ParameterLiteralsRoundTrip) {
    server_->Sql("create table lit(id int auto_increment primary key, t text, b blob, f double, n bigint, dtm datetime(3))");
    rtl::ByteArray all(256);
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = uint8_t(i);
    const std::string hostile = std::string("O'Brien \\ '' \\' :t :\"b\" \" ; drop table lit; -- ç ") + '\0' + " end";
    Connection c = Open();
    TParams params;
    params.CreateParam(ftMemo, "t", ptInput).SetValue(rtl::Variant(hostile));
    params.CreateParam(ftBlob, "b", ptInput).SetValue(rtl::Variant::FromBytes(all));
    params.CreateParam(ftFloat, "f", ptInput).SetValue(rtl::Variant(1.0 / 3.0));
    params.CreateParam(ftLargeint, "n", ptInput).SetValue(rtl::Variant(int64_t(-9223372036854775807LL)));
    params.CreateParam(ftDateTime, "dtm", ptInput)
        .SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2024, 3, 1) + rtl::EncodeTime(23, 59, 59, 999)));
    TISqlCommandPtr insert = c->CreateSqlCommand(nullptr);
    insert->SetParams(&params);
    insert->Prepare("insert into lit(t, b, f, n, dtm) values (:t, :b, :f, :n, :dtm)");
    insert->Execute();
    EXPECT_EQ(insert->GetRowsAffected(), 1);
    EXPECT_EQ(insert->GetIdentityValue(), 1);
    EXPECT_EQ(Sql("select hex(t), hex(b), f = 1/3e0, n, dtm from lit"),
              (Rows{{rtl::UpperCase([&] {
                         std::string h;
                         for (unsigned char ch : hostile)
                             h += rtl::IntToHex(ch, 2);
                         return h;
                     }()),
                     [&] {
                         std::string h;
                         for (uint8_t b : all)
                             h += rtl::IntToHex(b, 2);
                         return h;
                     }(),
                     "1", "-9223372036854775807", "2024-03-01 23:59:59.999"}}));
    TISqlCommandPtr select = c->CreateSqlCommand(nullptr);
    select->Prepare("select t, b, f from lit");
    select->Execute();
    ASSERT_TRUE(select->FetchNextRow());
    const std::vector<std::string> row = RowTexts(*select);
    EXPECT_EQ(row[0], hostile);
    EXPECT_EQ(row[1], std::string(all.begin(), all.end()));
    EXPECT_EQ(row[2], "0.333333333333333");
    select->CloseResultSet();

    TParams bad;
    bad.CreateParam(ftInteger, "id", ptInput).SetValue(rtl::Variant("1 or 1=1"));
    TISqlCommandPtr del = c->CreateSqlCommand(nullptr);
    del->SetParams(&bad);
    del->Prepare("delete from lit where id = :id");
    EXPECT_THROW(del->Execute(), rtl::EDatabaseError);
    EXPECT_EQ(Sql("select count(*) from lit"), (Rows{{"1"}}));

    // Rows affected counts the rows found, as the connection asks (CLIENT_FOUND_ROWS).
    server_->Sql("insert into lit(t) values ('x'), ('x')");
    TISqlCommandPtr update = c->CreateSqlCommand(nullptr);
    update->ExecDirect("update lit set t = 'x'");
    EXPECT_EQ(update->GetRowsAffected(), 3);
    server_->Sql("drop table lit");
}

// Unbuffered results: a second statement makes the holder read its remaining rows first.
TEST_F(MySql, UnbufferedAndBufferedResults) {
    server_->Sql("create table seq(i int); insert into seq select seq from seq_1_to_1000");
    for (const char* prefetch : {"PREFETCH ROWS=1", "PREFETCH ROWS=10"}) {
        SCOPED_TRACE(prefetch);
        Connection c = Open({prefetch});
        auto& my = dynamic_cast<TIMyDatabase&>(*c.db);
        const bool unbuffered = std::string(prefetch) == "PREFETCH ROWS=1";
        EXPECT_EQ(my.UnbufferedResults(), unbuffered);
        TISqlCommandPtr first = c->CreateSqlCommand(nullptr);
        Rows firstRows;
        first->FetchAllProc = [&](bool) {
            while (first->FetchNextRow())
                firstRows.push_back(RowTexts(*first));
        };
        first->Prepare("select i from seq order by i");
        first->Execute();
        ASSERT_TRUE(first->FetchNextRow());
        firstRows.push_back(RowTexts(*first));
        EXPECT_EQ(my.ActiveCommand(), unbuffered ? static_cast<TIMyCommand*>(first.get()) : nullptr);
        EXPECT_EQ(Query(*c.db, "select count(*) from seq"), (Rows{{"1000"}}));
        // Unbuffered, the first command read everything when the second statement came;
        // buffered, it goes on reading on its own.
        while (first->FetchNextRow())
            firstRows.push_back(RowTexts(*first));
        EXPECT_EQ(firstRows.size(), 1000u);
        EXPECT_EQ(firstRows.back(), (std::vector<std::string>{"1000"}));
    }
    server_->Sql("drop table seq");
}

TEST_F(MySql, CatalogCommands) {
    server_->Sql(
        "create table `cat``a.b`(id int primary key, name varchar(50) not null, price decimal(10,2), "
        "born datetime, kind enum('a','b'), key k_name(name));"
        "create table cat_c(x int)");
    Connection c = Open();
    auto rows = [&](TSDSchemaType kind, const std::string& name, std::vector<std::string>* names = nullptr) {
        TISqlCommandPtr cmd = c->GetSchemaInfo(kind, name);
        EXPECT_NE(cmd, nullptr);
        if (cmd == nullptr) return Rows{};
        if (names != nullptr) {
            names->clear();
            for (int i = 0; i < cmd->FieldDescs->Count(); ++i)
                names->push_back(cmd->FieldDescs->GetFieldDesc(i).FieldName);
        }
        return FetchAll(*cmd);
    };
    std::vector<std::string> names;
    Rows tables = rows(stTables, "cat%", &names);
    std::sort(tables.begin(), tables.end());
    EXPECT_EQ(tables, (Rows{{"cat_c", "<null>", "<null>", "1"}, {"cat`a.b", "<null>", "<null>", "1"}}));
    EXPECT_EQ(names, (std::vector<std::string>{"TABLE_NAME", "CATALOG_NAME", "SCHEMA_NAME", "TABLE_TYPE"}));
    EXPECT_EQ(rows(stSysTables, "user"), (Rows{{"user", "<null>", "<null>", "1"}}));
    EXPECT_EQ(rows(stTables, "x' or '1'='1"), Rows{});

    const Rows columns = rows(stColumns, "cat`a.b", &names);
    EXPECT_EQ(names[0], "COLUMN_NAME");
    EXPECT_EQ(names[1], "COLUMN_TYPENAME");
    EXPECT_EQ(names[4], "COLUMN_DEFAULT");
    const size_t n = names.size();
    ASSERT_EQ(columns.size(), 5u);
    auto computed = [&](size_t r) { return std::vector<std::string>(columns[r].end() - 8, columns[r].end()); };
    EXPECT_EQ(std::vector<std::string>(names.end() - 8, names.end()),
              (std::vector<std::string>{"CATALOG_NAME", "SCHEMA_NAME", "TABLE_NAME", "COLUMN_LENGTH", "COLUMN_PRECISION",
                                        "COLUMN_SCALE", "COLUMN_NULLABLE", "COLUMN_POSITION"}));
    EXPECT_EQ(computed(0), (std::vector<std::string>{"<null>", "<null>", "cat`a.b", "4", "11", "<null>", "0", "1"}));
    EXPECT_EQ(computed(1), (std::vector<std::string>{"<null>", "<null>", "cat`a.b", "50", "50", "<null>", "0", "2"}));
    EXPECT_EQ(computed(2), (std::vector<std::string>{"<null>", "<null>", "cat`a.b", "8", "12", "2", "1", "3"}));
    EXPECT_EQ(computed(3), (std::vector<std::string>{"<null>", "<null>", "cat`a.b", "8", "<null>", "<null>", "1", "4"}));
    EXPECT_EQ(computed(4), (std::vector<std::string>{"<null>", "<null>", "cat`a.b", "0", "<null>", "<null>", "1", "5"}));
    EXPECT_EQ(n, 6u + 8u);

    const Rows indexes = rows(stIndexes, "cat`a.b", &names);
    EXPECT_EQ(names[2], "INDEX_NAME");
    EXPECT_EQ(names[4], "COLUMN_NAME");
    EXPECT_EQ(names[10], "OLD_Index_type");
    const size_t typeColumn = size_t(std::find(names.begin(), names.end(), "INDEX_TYPE") - names.begin());
    ASSERT_LT(typeColumn, names.size());
    Rows summary;
    for (const auto& r : indexes)
        summary.push_back({r[2], r[4], r[typeColumn]});
    EXPECT_EQ(summary, (Rows{{"PRIMARY", "id", "2"}, {"k_name", "name", "1"}}));
    EXPECT_EQ(c->GetSchemaInfo(stProcedures, ""), nullptr);
    // A missing table fails like any statement, and the connection goes on.
    EXPECT_THROW(c->GetSchemaInfo(stColumns, "missing"), ESDMySQLError);
    EXPECT_EQ(Query(*c.db, "select 1"), (Rows{{"1"}}));
    server_->Sql("drop table `cat``a.b`, cat_c");
}

// The server kills the connection: the error is marked lost, the engine closes the database,
// and a fresh connect works.
TEST_F(MySql, KilledConnectionIsLost) {
    TSDSession session;
    session.SetSessionName("MyLost");
    TSDDatabase db(&session);
    Configure(db, "mylost");
    int lostCalls = 0;
    db.OnLostConnectError = [&](TSDDatabase&, const ESDEngineError& e, TSDLostConnectAction& action) {
        ++lostCalls;
        EXPECT_TRUE(e.ConnectionLost);
        action = lcCloseConnect;
    };
    db.Open();
    {
        TSDQuery q;
        q.SetSessionName("MyLost");
        q.SetDatabaseName("mylost");
        q.SQL().SetText("select connection_id() as id, :x + 1 as x");
        q.Params().ParamByName("x").SetDataType(ftInteger);
        q.Params().ParamByName("x").SetValue(rtl::Variant(int32_t(41)));
        q.Open();
        EXPECT_EQ(q.FieldByName("x").AsString(), "42");
        server_->Sql("kill " + q.FieldByName("id").AsString());
    }
    try {
        Query(*db.SqlDatabase(), "select 1");
        FAIL() << "a killed connection answered";
    } catch (const ESDMySQLError& e) {
        EXPECT_TRUE(e.ConnectionLost) << e.Message();
    }
    EXPECT_EQ(lostCalls, 1);
    EXPECT_FALSE(db.Connected());
    db.Close();
    db.Open();
    EXPECT_EQ(Query(*db.SqlDatabase(), "select 2"), (Rows{{"2"}}));
    db.Close();
    RegisterSqlDatabaseFactory(stMySQL, nullptr);
}

// A CALL answers with the rows of its SELECTs and a status of its own: whether its rows are
// read to the end, cut short by a close or taken by another statement, and whether or not it
// returns rows at all, the connection takes the next statement (no 2014, "Commands out of
// sync"), unbuffered and buffered alike.
TEST_F(MySql, ProceduresThatReturnRowsLeaveTheConnectionUsable) {
    server_->Sql(
        "create table if not exists calls (i int);"
        "create procedure if not exists p_rows() select seq as n from seq_1_to_3;"
        "create procedure if not exists p_none(v int) insert into calls values (v)");
    server_->Sql(
        "delimiter //\ncreate procedure if not exists p_two() begin select 1 as n; select 2 as n; end //");
    for (const char* prefetch : {"1", "10"}) {
        SCOPED_TRACE(std::string("PREFETCH ROWS ") + prefetch);
        server_->Sql("delete from calls");
        TSDDatabase db;
        Configure(db, "mycall");
        db.Params().SetValue("PREFETCH ROWS", prefetch);
        db.Open();
        auto query = [&](const std::string& sql) {
            auto q = std::make_unique<TSDQuery>();
            q->SetDatabaseName("mycall");
            q->SQL().SetText(sql);
            return q;
        };
        auto column = [](TSDQuery& q) {
            std::vector<int> values;
            for (q.First(); !q.Eof(); q.Next())
                values.push_back(q.FieldByName("n").AsInteger());
            return values;
        };
        auto next = [&](int32_t value) {
            auto insert = query("insert into calls values (:v)");
            insert->Params().ParamByName("v").SetDataType(ftInteger);
            insert->Params().ParamByName("v").SetValue(rtl::Variant(value));
            EXPECT_NO_THROW(insert->ExecuteStatement());
        };

        auto rows = query("call p_rows()");
        rows->Open();
        EXPECT_EQ(column(*rows), (std::vector<int>{1, 2, 3}));
        next(1);
        rows->Close();

        auto two = query("call p_two()");  // closed on its first row: the second result is let go
        two->Open();
        EXPECT_EQ(two->FieldByName("n").AsInteger(), 1);
        two->Close();
        next(2);

        auto taken = query("call p_rows()");  // rows still on the way when another statement runs
        taken->Open();
        next(3);
        EXPECT_EQ(column(*taken), (std::vector<int>{1, 2, 3}));

        auto none = query("call p_none(:v)");
        none->Params().ParamByName("v").SetDataType(ftInteger);
        none->Params().ParamByName("v").SetValue(rtl::Variant(int32_t(4)));
        none->ExecuteStatement();
        next(5);
        auto all = query("select i as n from calls order by i");
        all->Open();
        EXPECT_EQ(column(*all), (std::vector<int>{1, 2, 3, 4, 5}));
        EXPECT_EQ(Sql("select count(*) from calls"), (Rows{{"5"}}));
        all.reset();
        taken.reset();
        db.Close();
    }
    RegisterSqlDatabaseFactory(stMySQL, nullptr);
}

// Rows of an unbuffered result cut short by a killed connection end in an error, never in a
// silently short result.
TEST_F(MySql, UnbufferedRowsCutShortRaise) {
    Connection c = Open();
    Connection killer = Open();
    const std::string id = Query(*c.db, "select connection_id()")[0][0];
    TISqlCommandPtr cmd = c->CreateSqlCommand(nullptr);
    cmd->Prepare("select seq, repeat('x', 200) from seq_1_to_2000000");
    cmd->Execute();
    ASSERT_TRUE(cmd->FetchNextRow());
    Exec(*killer.db, "kill " + id);
    int rows = 1;
    bool raised = false;
    try {
        while (cmd->FetchNextRow())
            ++rows;
    } catch (const ESDMySQLError& e) {
        raised = true;
        EXPECT_TRUE(e.ConnectionLost) << e.Message();
    }
    EXPECT_TRUE(raised || rows == 2000000) << rows << " rows and no error";
}

}  // namespace
