// The DB2 and Informix drivers through the test stand-in of their vendors' call-level
// libraries (tests/database/standin), which forwards to unixODBC and SQLite; isql reads the
// same database.
#include <gtest/gtest.h>

#include <atomic>

#include "database/OdbcTestSupport.h"
#include "database/odbc/SDDb2.h"
#include "database/odbc/SDInf.h"
#include "rtl/DbParams.h"

using namespace odbctest;

namespace {

class CliDrivers : public ::testing::Test {
protected:
    void SetUp() override {
        KW_REQUIRE_PEER(SqliteOdbcAvailable(), "unixODBC with the SQLite ODBC driver and isql");
        KW_REQUIRE_PEER(standin_.Available(), "the call-level stand-in library");
        static std::atomic<int> counter{0};
        database_ = dir_ / "cli.db";
        dsn_ = "kwcli_" + std::to_string(counter++);
        DataSources::Get().AddSqlite(dsn_, database_);
        standin_.Clear();
    }

    Connection OpenDb2(std::initializer_list<std::string> params = {}) {
        rtl::StringList list = MakeParams(params);
        list.Add("DB2 API LIBRARY=" + standin_.Path());
        Connection c;
        c.db = CreateDB2Database(nullptr, list);
        c.db->Connect(dsn_, "", "");
        return c;
    }

    Connection OpenInformix(const std::string& remote, const std::string& user, const std::string& password,
                            const std::string& library) {
        Connection c;
        c.db = CreateInformixDatabase(nullptr, MakeParams({"Informix API LIBRARY=" + library}));
        c.db->Connect(remote, user, password);
        return c;
    }

    kwtest::TempDir dir_;
    std::filesystem::path database_;
    std::string dsn_;
    Standin standin_{Db2StandinPath()};
};

TEST_F(CliDrivers, Db2RunsOnItsOwnLibraryWithItsStatementOptions) {
    Connection c = OpenDb2();
    EXPECT_EQ(c->GetServerType(), stDB2);
    EXPECT_EQ(Db2Library().LoadCount(), 1);
    EXPECT_EQ(OdbcLibrary().LoadCount(), 0);
    EXPECT_EQ(standin_.Lines("SQLConnect"), (std::vector<std::string>{"SQLConnect " + dsn_}));
    standin_.Clear();
    Exec(*c.db, "create table t(i integer)");
    // A DB2 statement keeps a forward-only cursor and gets DB2's four attributes.
    EXPECT_EQ(standin_.Lines("SQLSetStmtAttr"),
              (std::vector<std::string>{"SQLSetStmtAttr 6=0", "SQLSetStmtAttr 22=1", "SQLSetStmtAttr 12=0",
                                        "SQLSetStmtAttr 1250=1", "SQLSetStmtAttr 1277=0"}));
    // DB2's identity query, whatever the data source calls itself.
    EXPECT_EQ(c.Odbc().GetDbmsDescription().rfind("SQLite", 0), 0u);
    EXPECT_EQ(c->GetIdentityQuery(), "VALUES IDENTITY_VAL_LOCAL()");
    try {
        Exec(*c.db, "select * from missing_table");
        FAIL() << "no error";
    } catch (const ESDDb2Error& e) {
        EXPECT_NE(e.Message().find("missing_table"), std::string::npos) << e.Message();
    }
    c.db->Disconnect(false);
    EXPECT_EQ(Db2Library().LoadCount(), 0);
}

TEST_F(CliDrivers, Db2LargeObjectAndGraphicColumns) {
    Connection c = OpenDb2();
    Exec(*c.db, "create table lobs(id integer, doc clob, pic blob, code vargraphic(8))");
    const std::string doc(5000, 'd');
    Exec(*c.db, "insert into lobs values (1, '" + doc + "', x'00010203ff', 'abc')");
    TISqlCommandPtr cmd = c->CreateSqlCommand(nullptr);
    cmd->Prepare("select id, doc, pic, code from lobs");
    struct Expected {
        TFieldType type;
        int16_t native;
    } expected[] = {{ftInteger, 4}, {ftMemo, SQL_CLOB}, {ftBlob, SQL_BLOB}, {ftVarBytes, SQL_VARGRAPHIC}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(cmd->FieldDescs->GetFieldDesc(i).FieldType, expected[i].type) << i;
        EXPECT_EQ(cmd->FieldDescs->GetFieldDesc(i).NativeType, expected[i].native) << i;
    }
    cmd->Execute();
    ASSERT_TRUE(cmd->FetchNextRow());
    const std::vector<std::string> row = RowTexts(*cmd);
    EXPECT_EQ(row[0], "1");
    EXPECT_EQ(row[1], doc);
    EXPECT_EQ(row[2], std::string("\x00\x01\x02\x03\xff", 5));
    const TSDFieldDesc& code = cmd->FieldDescs->GetFieldDesc(3);
    char bytes[8] = {};
    ASSERT_TRUE(cmd->GetCnvtFieldData(code, bytes, code.DataSize));
    EXPECT_EQ(std::string(bytes, 3), "abc");
    EXPECT_EQ(Isql(dsn_, "select length(doc), hex(pic) from lobs"), (Rows{{"5000", "00010203FF"}}));
}

// Parameters: DB2 binds strings as SQL_CHAR and long values as its own large-object types;
// the ODBC driver binds strings as SQL_VARCHAR and time stamps with column size 22.
TEST_F(CliDrivers, ParametersTakeEachDriversSqlTypes) {
    struct Case {
        bool db2;
        std::vector<std::string> bindings;
    } cases[] = {
        {true,
         {"SQLBindParameter 1 io=1 c=1 sql=1", "SQLBindParameter 2 io=1 c=1 sql=-99",
          "SQLBindParameter 3 io=1 c=-2 sql=-98", "SQLBindParameter 4 io=1 c=93 sql=93"}},
        // On ODBC a time stamp's column size is 22.
        {false,
         {"SQLBindParameter 1 io=1 c=1 sql=12", "SQLBindParameter 2 io=1 c=1 sql=-1",
          "SQLBindParameter 3 io=1 c=-2 sql=-4", "SQLBindParameter 4 io=1 c=93 sql=93 size=22"}},
    };
    {
        Connection c = OpenDb2();
        Exec(*c.db, "create table p(name varchar(20), body text, data longvarbinary, ts timestamp)");
    }
    for (const Case& k : cases) {
        SCOPED_TRACE(k.db2 ? "DB2" : "ODBC");
        Connection c;
        if (k.db2) {
            c = OpenDb2();
        } else {
            c = NewOdbc(OdbcParams({}, standin_.Path()));
            c.db->Connect(dsn_, "", "");
        }
        TParams params;
        params.CreateParam(ftString, "name", ptInput).SetValue(rtl::Variant(k.db2 ? "db2" : "odbc"));
        params.CreateParam(ftMemo, "body", ptInput).SetValue(rtl::Variant(std::string(3000, 'm')));
        params.CreateParam(ftBlob, "data", ptInput)
            .SetValue(rtl::Variant::FromBytes(rtl::ByteArray(2000, 7)));
        params.CreateParam(ftDateTime, "ts", ptInput)
            .SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2020, 5, 6) + rtl::EncodeTime(7, 8, 9, 0)));
        TISqlCommandPtr insert = c->CreateSqlCommand(nullptr);
        insert->SetParams(&params);
        insert->Prepare("insert into p values (:name, :body, :data, :ts)");
        standin_.Clear();
        insert->Execute();
        std::vector<std::string> bindings;
        for (const std::string& line : standin_.Lines("SQLBindParameter"))
            bindings.push_back(k.db2 || line.find(" c=93 ") == std::string::npos
                                   ? line.substr(0, line.find(" size="))
                                   : line);
        EXPECT_EQ(bindings, k.bindings);
        c.db->Disconnect(false);
        if (!k.db2) OdbcLibrary().TakeNameFromParams(OdbcParams());
    }
    EXPECT_EQ(Isql(dsn_, "select name, length(body), length(data), substr(ts, 1, 19) from p order by name"),
              (Rows{{"db2", "3000", "2000", "2020-05-06 07:08:09"},
                    {"odbc", "3000", "2000", "2020-05-06 07:08:09"}}));
}

TEST_F(CliDrivers, Db2LibraryThatDoesNotLoad) {
    Connection c;
    c.db = CreateDB2Database(nullptr, MakeParams({"DB2 API LIBRARY=/nowhere/libdb2.so.1"}));
    try {
        c.db->Connect(dsn_, "", "");
        FAIL() << "connected without a library";
    } catch (const ESDSqlLibError& e) {
        EXPECT_EQ(e.Message(), "Error loading library '/nowhere/libdb2.so.1'");
    }
    EXPECT_EQ(c->GetHandle(), nullptr);
    Db2Library().TakeNameFromParams(MakeParams({"DB2 API LIBRARY=libdb2.so.1"}));
}

// "server@database" becomes the Informix connection text; the stand-in resolves the server
// as a data source name, as the Informix library resolves it from its hosts file.
TEST_F(CliDrivers, InformixBuildsItsConnectionText) {
    for (const char* separator : {"@", "::"}) {
        SCOPED_TRACE(separator);
        standin_.Clear();
        Connection c =
            OpenInformix(dsn_ + separator + database_.string(), "informix", "p;w", standin_.Path());
        EXPECT_EQ(c->GetServerType(), stInformix);
        EXPECT_EQ(standin_.Lines("SQLDriverConnect"),
                  (std::vector<std::string>{"SQLDriverConnect SERVICE=" + dsn_ + ";HOST=" +
                                            kInformixHostName + ";PROTOCOL=OLSOCTCP;SERVER=" + dsn_ +
                                            ";DATABASE=" + database_.string() + ";UID=informix;PWD={p;w}"}));
        Exec(*c.db, "create table if not exists inf(i integer)");
        Exec(*c.db, "insert into inf values (1)");
        try {
            Exec(*c.db, "insert into missing values (1)");
            FAIL() << "no error";
        } catch (const ESDInfError& e) {
            EXPECT_FALSE(e.ConnectionLost);
        }
        // The identity query follows the data source's description, as for ODBC (the stand-in
        // describes itself as the SQLite it runs on).
        EXPECT_EQ(c->GetIdentityQuery(), "select last_insert_rowid()");
    }
    EXPECT_EQ(Isql(dsn_, "select count(*) from inf"), (Rows{{"2"}}));
    EXPECT_EQ(InfLibrary().LoadCount(), 0);
}

TEST_F(CliDrivers, InformixTakesTheFirstLibraryOfItsListThatLoads) {
    {
        Connection c = OpenInformix(dsn_, "", "", "/nowhere/iclit09b.so; " + standin_.Path());
        // Without ":" or "@" the remote database is a data source name.
        EXPECT_EQ(standin_.Lines("SQLConnect"), (std::vector<std::string>{"SQLConnect " + dsn_}));
        EXPECT_EQ(InfLibrary().LoadedName(), standin_.Path());
        EXPECT_EQ(Query(*c.db, "select 6 * 7"), (Rows{{"42"}}));
    }
    Connection c;
    c.db = CreateInformixDatabase(nullptr, MakeParams({"Informix API LIBRARY=/nowhere/a.so;/nowhere/b.so"}));
    try {
        c.db->Connect(dsn_, "", "");
        FAIL() << "connected without a library";
    } catch (const ESDSqlLibError& e) {
        EXPECT_EQ(e.Message(), "Error loading library '/nowhere/a.so;/nowhere/b.so'");
    }
    InfLibrary().TakeNameFromParams(MakeParams({"Informix API LIBRARY=iclit09b.so;iclit09a.so"}));
}

// The three units load and count their libraries on their own.
TEST_F(CliDrivers, EachUnitCountsItsOwnConnections) {
    Connection db2a = OpenDb2();
    Connection db2b = OpenDb2();
    Connection inf = OpenInformix(dsn_, "", "", standin_.Path());
    Connection odbc = NewOdbc();
    odbc.db->Connect(dsn_, "", "");
    EXPECT_EQ(Db2Library().LoadCount(), 2);
    EXPECT_EQ(InfLibrary().LoadCount(), 1);
    EXPECT_EQ(OdbcLibrary().LoadCount(), 1);
    db2a.db->Disconnect(false);
    EXPECT_EQ(Db2Library().LoadCount(), 1);
    EXPECT_TRUE(Db2Library().IsLoaded());
    EXPECT_EQ(Query(*db2b.db, "select 1"), (Rows{{"1"}}));
    db2b.db->Disconnect(false);
    EXPECT_FALSE(Db2Library().IsLoaded());
    EXPECT_EQ(InfLibrary().LoadCount(), 1);
    EXPECT_EQ(OdbcLibrary().LoadCount(), 1);
}

}  // namespace
