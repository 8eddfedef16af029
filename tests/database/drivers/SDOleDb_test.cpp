// The OLE DB driver over the stand-in provider (tests/database/standin/KwOleDb*): the
// initialisation string and properties, provider information per identity, transactions,
// errors, statements with markers and with literals, procedures with several results and
// outputs, catalog commands, columns, long data, conversions and bad input; checked through
// the provider's journal of calls and through what the driver read back. Every test ends with
// every provider object and row handle given back.
#include <gtest/gtest.h>

#include "database/drivers/OleDbDataLink.h"
#include "database/drivers/OleDbTestSupport.h"
#include "database/engine/SDCommonSqlText.h"
#include "rtl/Assert.h"
#include "rtl/Dispatch.h"
#include "rtl/Format.h"

using odbctest::Rows;
using oledbtest::OleDbStandin;
using oledbtest::Session;

namespace {

class OleDb : public ::testing::Test {
protected:
    void SetUp() override { KW_REQUIRE_PEER(standin_.Available(), "the OLE DB stand-in provider"); }
    void TearDown() override {
        if (!standin_.Available()) return;
        EXPECT_EQ(standin_.LiveObjects(), 0) << "objects of the provider were not released";
        EXPECT_EQ(standin_.OutstandingRows(), 0) << "row handles were not released";
        EXPECT_EQ(com::CoInitializeCount(), 0);
    }
    // The journal's lines of a call, without the call's name.
    std::vector<std::string> Calls(const std::string& name) const {
        std::vector<std::string> out;
        for (const std::string& line : standin_.Lines(name + " "))
            out.push_back(line.substr(name.size() + 1));
        return out;
    }
    OleDbStandin standin_;
};

// A procedure described by the driver and prepared, its inputs set by the caller.
TISqlCommandPtr Procedure(TISqlDatabase& db, const std::string& name, TParams& params) {
    TISqlCommandPtr cmd = db.CreateSqlCommand(nullptr);
    cmd->CommandType = 2;
    cmd->SetParams(&params);
    cmd->SetCommandText(name);
    cmd->InitParamList();
    return cmd;
}

TEST(OleDbInitString, TheDriversStrings) {
    struct Case {
        const char* remote;
        const char* user;
        const char* password;
        const char* expected;
        bool sqlServer;
    };
    const Case cases[] = {
        {"SRV1:SALES", "u", "p",
         "PROVIDER=SQLOLEDB;DATA SOURCE=SRV1;INITIAL CATALOG=SALES;USER ID=u;PASSWORD=p", true},
        {"SRV1@SALES", "", "", "PROVIDER=SQLOLEDB;DATA SOURCE=SRV1;INITIAL CATALOG=SALES", true},
        {"SRV1", "u", "", "PROVIDER=SQLOLEDB;DATA SOURCE=SRV1;USER ID=u", true},
        {"PROVIDER=X;DATA SOURCE=D;", "u", "p", "PROVIDER=X;DATA SOURCE=D;USER ID=u;PASSWORD=p", false},
        {"PROVIDER=X;DATA SOURCE=D;  ", "u", "", "PROVIDER=X;DATA SOURCE=D;  USER ID=u", false},
        {"PROVIDER=X;uid=me", "u", "p", "PROVIDER=X;uid=me;PASSWORD=p", false},
        {"PROVIDER=X;User Id=me;Pwd=s", "u", "p", "PROVIDER=X;User Id=me;Pwd=s", false},
        // Values that could add attributes are quoted.
        {"PROVIDER=X", "a;PASSWORD=b", "p;w=\"d\"",
         "PROVIDER=X;USER ID=\"a;PASSWORD=b\";PASSWORD=\"p;w=\"\"d\"\"\"", false},
        {"PROVIDER=X", " lead", "", "PROVIDER=X;USER ID=\" lead\"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.remote);
        bool sqlServer = !c.sqlServer;
        EXPECT_EQ(BuildOleDbInitString(c.remote, c.user, c.password, sqlServer), c.expected);
        EXPECT_EQ(sqlServer, c.sqlServer);
    }
    // What the data link reads from them.
    std::vector<oledb::TInitStringPair> pairs;
    std::string error;
    bool sqlServer = false;
    ASSERT_TRUE(oledb::ParseInitString(
        BuildOleDbInitString("PROVIDER=X", "a;PASSWORD=b", "p;w=\"d\"", sqlServer), pairs, error))
        << error;
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_EQ(pairs[1].Value, "a;PASSWORD=b");
    EXPECT_EQ(pairs[2].Value, "p;w=\"d\"");
}

TEST(OleDbInitString, TheReaderTakesQuotesAndRefusesMalformedStrings) {
    struct Case {
        const char* text;
        std::vector<std::pair<std::string, std::string>> pairs;  // empty with error
        const char* error;
    };
    const Case cases[] = {
        {"A=1;B=2", {{"A", "1"}, {"B", "2"}}, ""},
        {"  A = 1 ; ; B=  two words  ;", {{"A", "1"}, {"B", "two words"}}, ""},
        {"A=\"x;y=z\";B='it''s'", {{"A", "x;y=z"}, {"B", "it's"}}, ""},
        {"A=\"say \"\"hi\"\"\"  ;B=", {{"A", "say \"hi\""}, {"B", ""}}, ""},
        {"KEY==X=1", {{"KEY=X", "1"}}, ""},
        {"", {}, ""},
        {"A", {}, "'A' has no '='"},
        {"=1", {}, "a value has no key"},
        {"A=\"open", {}, "the value of 'A' has no closing quote"},
        {"A=\"x\"y", {}, "text follows the quoted value of 'A'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<oledb::TInitStringPair> pairs;
        std::string error;
        const bool ok = oledb::ParseInitString(c.text, pairs, error);
        EXPECT_EQ(ok, std::string(c.error).empty());
        EXPECT_EQ(error, c.error);
        std::vector<std::pair<std::string, std::string>> got;
        for (const auto& p : pairs)
            got.emplace_back(p.Key, p.Value);
        if (ok) {
            EXPECT_EQ(got, c.pairs);
        }
        // What is built from the pairs reads back as the same pairs.
        if (ok) {
            std::vector<oledb::TInitStringPair> again;
            ASSERT_TRUE(oledb::ParseInitString(oledb::BuildInitString(pairs), again, error));
            ASSERT_EQ(again.size(), pairs.size());
            for (size_t i = 0; i < pairs.size(); ++i)
                EXPECT_EQ(again[i].Value, pairs[i].Value);
        }
    }
    std::vector<oledb::TInitStringPair> pairs;
    std::string error;
    EXPECT_FALSE(oledb::ParseInitString(std::string(oledb::kMaxInitStringLength + 1, 'x'), pairs, error));
    // A value that trimming would change is quoted, control characters included.
    EXPECT_EQ(oledb::QuoteInitValue("end\x01"), "\"end\x01\"");
    EXPECT_EQ(oledb::QuoteInitValue("plain value"), "plain value");
    ASSERT_TRUE(oledb::ParseInitString("A=" + oledb::QuoteInitValue("\tx\x01"), pairs, error));
    EXPECT_EQ(pairs[0].Value, "\tx\x01");
    EXPECT_EQ(oledb::InitPropertyOfKey("user id"), oledb::DBPROP_AUTH_USERID);
    EXPECT_EQ(oledb::InitPropertyOfKey("KW IDENTITY"), 0u);
}

TEST_F(OleDb, ConnectHandsTheStringsKeysToTheProviderAsProperties) {
    {
        Session s({}, "KW IDENTITY=generic", "scott", "p;w=d");
        // The data link: the known keys as their properties, the rest in the provider string.
        const std::vector<std::string> sets = Calls("SetProperties");
        ASSERT_GE(sets.size(), 2u);
        EXPECT_EQ(sets[0],
                  "DBINIT 3B='" + s.file.string() + "' C='scott' 9='p;w=d' A0='KW IDENTITY=generic'");
        // A user is named: no integrated authentication; the application's name asked for.
        EXPECT_EQ(sets[1], "SQLSERVERDBINIT A='KW_TESTS_DATABASE_DRIVERS'");
        EXPECT_TRUE(standin_.Logged("Initialize generic " + s.file.string() + " user=scott password=p;w=d"));
        // The generic provider refuses SQL Server's property, and is connected without it.
        EXPECT_TRUE(standin_.Logged("fail SetProperties 80040E21"));
        EXPECT_NE(s->GetHandle(), nullptr);
        EXPECT_EQ(static_cast<const TIOleDbConnInfo*>(s->GetHandle())->ServerType, 11);
        EXPECT_EQ(com::CoInitializeCount(), 1);
        EXPECT_TRUE(s->TestConnected());
    }
    // No user anywhere: integrated authentication (property 7 as an empty text).
    standin_.Clear();
    {
        Session s({"LOGIN TIMEOUT= 12 "}, "", "", "");
        const std::vector<std::string> sets = Calls("SetProperties");
        ASSERT_GE(sets.size(), 2u);
        EXPECT_EQ(sets[1], "DBINIT 7='' 42=12 11C=12");
    }
    standin_.Clear();
    {
        Session s({"LOGIN TIMEOUT=soon"});
        EXPECT_EQ(Calls("SetProperties")[1], "DBINIT 42=0 11C=0");
    }
}

TEST_F(OleDb, RefusedLoginTimeoutAndBadPacketSize) {
    standin_.RefuseProperty(oledb::DBPROP_INIT_TIMEOUT);
    try {
        Session s({"LOGIN TIMEOUT=5"});
        FAIL() << "connected with a refused property";
    } catch (const ESDOleDbError& e) {
        EXPECT_EQ(e.Message(),
                  "Provider not support some database parameters<LOGIN TIMEOUT> (error $80040E21 in "
                  "TIOleDbDatabase.SetDBInitProps)");
        EXPECT_EQ(uint32_t(e.ErrorCode), 0x80040E21u);
        EXPECT_EQ(uint32_t(e.NativeError), 0x80040E21u);
        EXPECT_EQ(e.ErrorPos, 0);
        EXPECT_FALSE(e.ConnectionLost);
    }
    EXPECT_THROW(Session({"TDS PACKET SIZE=big"}), rtl::EConvertError);
}

TEST_F(OleDb, ProviderInformationPerIdentity) {
    {
        Session s;
        TIOleDbDatabase& db = s.OleDb();
        EXPECT_TRUE(db.ParamMarkers());
        EXPECT_TRUE(db.ProviderMultipleResults());
        EXPECT_TRUE(s->MultipleResultSets);
        EXPECT_EQ(db.OutputParamAvailability(), oledb::DBPROPVAL_OA_ATEXECUTE);
        EXPECT_FALSE(db.IsSqlServer());
        EXPECT_TRUE(s->CursorPreservedOnCommit);
        EXPECT_FALSE(s->CursorPreservedOnRollback);
        EXPECT_EQ(s->GetServerType(), stOLEDB);
        EXPECT_EQ(s->GetVersionString().rfind("SQLite Release 3.", 0), 0u) << s->GetVersionString();
        EXPECT_EQ(GetVersionMajor(s->GetServerVersion()), 3);
        EXPECT_EQ(s->GetClientVersion(), MakeVersionNumber(1, 2));
        EXPECT_TRUE(s->SPDescriptionsAvailable());
    }
    {
        Session s({"SINGLE CONNECTION=TRUE"}, "KW IDENTITY=sqlserver");
        TIOleDbDatabase& db = s.OleDb();
        EXPECT_TRUE(db.IsSqlServer()) << "by its name";
        EXPECT_EQ(db.OutputParamAvailability(), oledb::DBPROPVAL_OA_ATROWRELEASE);
        EXPECT_FALSE(s->CursorPreservedOnCommit);
        EXPECT_EQ(s->GetVersionString(), "Microsoft SQL Server Release 08.00.2039");
        EXPECT_EQ(s->GetServerVersion(), MakeVersionNumber(8, 0));
        EXPECT_EQ(s->GetClientVersion(), MakeVersionNumber(8, 10));
        // A SQL Server connection with SINGLE CONNECTION keeps to one connection.
        EXPECT_TRUE(standin_.Logged("SetProperties DATASOURCE ED=false"));
        EXPECT_TRUE(standin_.Logged("SetProperties SQLSERVERDBINIT A='KW_TESTS_DATABASE_DRIVERS'"));
    }
    for (const auto& [support, markers] :
         {std::pair{0x100, false}, std::pair{0x01, true}, std::pair{0x40, true}}) {
        SCOPED_TRACE(support);
        standin_.SqlSupport(support);
        Session s({}, "KW IDENTITY=foxpro");
        EXPECT_EQ(s.OleDb().ParamMarkers(), markers);
        EXPECT_FALSE(s.OleDb().ProviderMultipleResults());
    }
}

TEST_F(OleDb, RemoteDatabaseAsSqlServerAndTheConnectionFlagFollowsIt) {
    kwtest::TempDir server;
    standin_.Identity("sqlserver");
    std::unique_ptr<TISqlDatabase> db = CreateOLEDBDatabase(nullptr, oledbtest::Params());
    db->Connect(server.path().string() + ":SALES", "u", "p");
    EXPECT_TRUE(
        standin_.Logged("Initialize sqlserver " + server.path().string() + "/SALES.db user=u password=p"));
    EXPECT_TRUE(std::filesystem::exists(server / "SALES.db"));
    auto& ole = dynamic_cast<TIOleDbDatabase&>(*db);
    EXPECT_EQ(ole.InitString(), "PROVIDER=SQLOLEDB;DATA SOURCE=" + server.path().string() +
                                    ";INITIAL CATALOG=SALES;USER ID=u;PASSWORD=p");
    EXPECT_TRUE(ole.IsSqlServer());
    db->Disconnect(false);
    EXPECT_FALSE(ole.IsSqlServer());
    EXPECT_EQ(db->GetHandle(), nullptr);
}

TEST_F(OleDb, TransactionsAndIsolationLevels) {
    const struct {
        TSDTransIsolation level;
        const char* code;
    } levels[] = {{tiDirtyRead, "100"}, {tiReadCommitted, "1000"}, {tiRepeatableRead, "10000"}};
    for (const auto& l : levels) {
        SCOPED_TRACE(l.code);
        standin_.Clear();
        Session s({}, "", "sa", "pw", l.level);
        s.Exec("create table T (ID integer)");
        s->StartTransaction();
        EXPECT_EQ(Calls("StartTransaction"), std::vector<std::string>{l.code});
        s.Exec("insert into T values (1)");
        s->Rollback();
        EXPECT_EQ(s.Query("select count(*) from T"), (Rows{{"0"}}));
        s->StartTransaction();
        s.Exec("insert into T values (2)");
        s->Commit();
        EXPECT_EQ(s.Query("select ID from T"), (Rows{{"2"}}));
        EXPECT_TRUE(standin_.Logged("Abort"));
        EXPECT_TRUE(standin_.Logged("Commit"));
        // Disconnecting in a transaction rolls it back.
        s->StartTransaction();
        s.Exec("insert into T values (3)");
        s->Disconnect(false);
        EXPECT_EQ(standin_.Lines("Abort").size(), 2u);
    }
    Session s;
    EXPECT_THROW(s->Commit(), rtl::EAssertionFailed) << "no transaction to commit";
}

TEST_F(OleDb, ErrorsFromTwoRecordsLastFirstWithTheirStates) {
    {
        Session s;
        s.Exec("create table T (ID integer primary key)");
        s.Exec("insert into T values (1)");
        try {
            s.Exec("insert into T values (1)");
            FAIL() << "a duplicate key went in";
        } catch (const ESDOleDbError& e) {
            EXPECT_EQ(
                e.Message(),
                "SQLSTATE=01000; The statement has been terminated.\r\nSQLSTATE=23000; UNIQUE constraint "
                "failed: T.ID");
            EXPECT_EQ(uint32_t(e.ErrorCode), uint32_t(oledb::DB_E_ERRORSINCOMMAND));
            EXPECT_EQ(e.NativeError, 3621) << "the first native error met, from the last record";
            EXPECT_EQ(e.ErrorPos, 0) << "line numbers are SQL Server's";
            EXPECT_FALSE(e.ConnectionLost);
        }
        // Without an error object: the system's text, or the text for a code it lacks.
        try {
            s.OleDb().Check(com::E_NOINTERFACE);
            FAIL();
        } catch (const ESDOleDbError& e) {
            EXPECT_EQ(e.Message(), "No such interface supported");
        }
        try {
            s.OleDb().Check(int32_t(0x80041234u));
            FAIL();
        } catch (const ESDOleDbError& e) {
            EXPECT_EQ(e.Message(), "The system cannot find message for error number $80041234");
        }
        EXPECT_NO_THROW(s.OleDb().Check(oledb::DB_S_ENDOFROWSET));
    }
    {
        // SQL Server's records: native error and line number from its own error information.
        Session s({}, "KW IDENTITY=sqlserver");
        try {
            s.Exec("select 1 from NOWHERE");
            FAIL();
        } catch (const ESDOleDbError& e) {
            EXPECT_EQ(e.Message(), "no such table: NOWHERE") << "no SQLSTATE in SQL Server's records";
            EXPECT_EQ(e.NativeError, 1);
        }
        try {
            s.Exec("select 1\nfrom )");
            FAIL();
        } catch (const ESDOleDbError& e) {
            EXPECT_EQ(e.ErrorPos, 2) << "the line of the error";
        }
    }
}

TEST_F(OleDb, NativeError17IsALostConnectionOnlyWithASession) {
    {
        Session s;
        s.Exec("create table T (ID integer)");
        // The same result with another native error is no lost connection.
        standin_.Fail("Execute", com::E_FAIL, 18);
        try {
            s.Exec("insert into T values (1)");
            FAIL();
        } catch (const ESDOleDbError& e) {
            EXPECT_FALSE(e.ConnectionLost);
        }
        standin_.Fail("Execute", com::E_FAIL, 17);
        try {
            s.Exec("insert into T values (1)");
            FAIL();
        } catch (const ESDOleDbError& e) {
            EXPECT_TRUE(e.ConnectionLost);
            EXPECT_EQ(e.NativeError, 17);
            EXPECT_EQ(e.ErrorCode, com::E_FAIL);
        }
    }
    standin_.Fail("Initialize", com::E_FAIL, 17);
    try {
        Session s;
        FAIL() << "connected through a failing initialisation";
    } catch (const ESDOleDbError& e) {
        EXPECT_FALSE(e.ConnectionLost) << "no session yet";
        EXPECT_EQ(e.NativeError, 17);
    }
}

TEST_F(OleDb, MarkersAgainstLiteralText) {
    {
        Session s;
        s.Exec("create table T (A integer, S varchar(20), D date)");
        s.Exec("insert into T values (5, 'x', '2007-03-05')");
        TParams params;
        params.CreateParam(ftInteger, "A", ptInput).SetValue(rtl::Variant(int32_t(5)));
        standin_.Clear();
        TISqlCommandPtr q = s->CreateSqlCommand(nullptr);
        q->SetParams(&params);
        q->ExecDirect("select S from T where A = :A");
        EXPECT_EQ(Calls("SetCommandText"), std::vector<std::string>{"select S from T where A = ?"});
        EXPECT_EQ(Calls("Execute"), std::vector<std::string>{"select S from T where A = ? [1=5]"});
        EXPECT_EQ(odbctest::FetchAll(*q), (Rows{{"x"}}));
        // Executing again while the rowset is open runs nothing again.
        standin_.Clear();
        q->Execute();
        EXPECT_TRUE(Calls("Execute").empty());
        q->CloseResultSet();
    }
    standin_.SqlSupport(0x100);
    Session s({}, "KW IDENTITY=foxpro");
    s.Exec("create table T (A integer, S varchar(20), D date, TM time, TS datetime, F float, B bit)");
    TParams params;
    params.CreateParam(ftInteger, "A", ptInput).SetValue(rtl::Variant(int32_t(5)));
    params.CreateParam(ftString, "S", ptInput).SetValue(rtl::Variant("O'Brien :D"));
    params.CreateParam(ftDate, "D", ptInput)
        .SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2007, 3, 5)));
    params.CreateParam(ftTime, "TM", ptInput)
        .SetValue(rtl::Variant::FromDateTime(rtl::EncodeTime(7, 8, 9, 0)));
    params.CreateParam(ftDateTime, "TS", ptInput)
        .SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2001, 2, 3) + rtl::EncodeTime(4, 5, 6, 0)));
    params.CreateParam(ftFloat, "F", ptInput).SetValue(rtl::Variant(0.1));
    params.CreateParam(ftBoolean, "B", ptInput).SetValue(rtl::Variant(true));
    standin_.Clear();
    TISqlCommandPtr insert = s->CreateSqlCommand(nullptr);
    insert->SetParams(&params);
    insert->ExecDirect("insert into T values (:A, :S, :D, :TM, :TS, :F, :B)");
    EXPECT_EQ(Calls("Execute"),
              std::vector<std::string>{"insert into T values (5, 'O''Brien :D', DATE(2007, 3, 5), "
                                       "TIME(7, 8, 9), DATETIME(2001, 2, 3, 4, 5, 6), 0.1, 1)"});
    params[0].SetValue(rtl::Variant(int32_t(6)));
    params[1].Clear();
    standin_.Clear();
    insert->Execute();
    EXPECT_EQ(Calls("Execute").size(), 1u);
    EXPECT_NE(Calls("Execute")[0].find("(6, NULL, DATE"), std::string::npos) << Calls("Execute")[0];
    EXPECT_EQ(s.Query("select A, S, D, TM, TS from T order by A"),
              (Rows{{"5", "O'Brien :D", "2007-03-05", "07:08:09", "2001-02-03 04:05:06.000"},
                    {"6", "<null>", "2007-03-05", "07:08:09", "2001-02-03 04:05:06.000"}}));
}

TEST_F(OleDb, TheWithRuleAndCommandProperties) {
    Session s({"COMMAND TIMEOUT=30"}, "KW IDENTITY=sqlserver");
    s.Exec("create table T (A integer)");
    standin_.Clear();
    TISqlCommandPtr plain = s->CreateSqlCommand(nullptr);
    plain->ExecDirect("select A from T");
    EXPECT_EQ(Calls("SetCommandProperties"),
              std::vector<std::string>{"ROWSET 6C=true 57=true 58=true 59=true 5A=true 22=30"});
    plain->CloseResultSet();
    standin_.Clear();
    // "with" anywhere, even inside "without": no server cursor, SQL Server prepares at once.
    TISqlCommandPtr with = s->CreateSqlCommand(nullptr);
    with->ExecDirect("select A as without from T");
    EXPECT_EQ(Calls("SetCommandProperties"),
              (std::vector<std::string>{"ROWSET 22=30", "SQLSERVERROWSET D=false"}));
    EXPECT_TRUE(dynamic_cast<TIOleDbCommand&>(*with).ServerCursor()) << "the flag comes back after the call";
    with->CloseResultSet();
}

TEST_F(OleDb, SqlServerRetriesAFailedPrepareWithParameterInformation) {
    Session s({}, "KW IDENTITY=sqlserver");
    s.Exec("create table T (A integer, B varchar(10))");
    TParams params;
    params.CreateParam(ftInteger, "A", ptInputOutput).SetValue(rtl::Variant(int32_t(1)));
    params.CreateParam(ftString, "B", ptInput).SetValue(rtl::Variant("xy"));
    params.CreateParam(ftBlob, "C", ptInput);
    standin_.Fail("Prepare", com::E_FAIL);
    standin_.Clear();
    TISqlCommandPtr q = s->CreateSqlCommand(nullptr);
    q->SetParams(&params);
    q->Prepare("select A, B from T where A = :A and B = :B and :C is null");
    EXPECT_EQ(Calls("SetParameterInfo"),
              std::vector<std::string>{"1:DBTYPE_I4:4:43 2:DBTYPE_CHAR:3:41 3:DBTYPE_LONGVARBINARY:0:C1"});
    EXPECT_TRUE(standin_.Logged("fail Prepare 80004005"));
    EXPECT_EQ(standin_.Lines("Prepare").size(), 1u) << "the second attempt";
    // A second failure is reported.
    TISqlCommandPtr again = s->CreateSqlCommand(nullptr);
    standin_.Fail("Prepare", com::E_FAIL, 0, 2);
    EXPECT_THROW(again->Prepare("select A from T"), ESDOleDbError);
}

TEST_F(OleDb, ProcedureCallTextOutputsAndSeveralResults) {
    {
        Session s;
        TParams params;
        TISqlCommandPtr add = Procedure(*s.db, "KW_ADD", params);
        ASSERT_EQ(params.Count(), 3);
        EXPECT_EQ(params[0].Name(), "@A");
        EXPECT_EQ(params[0].ParamType(), ptInput);
        EXPECT_EQ(params[0].DataType(), ftInteger);
        EXPECT_EQ(params[2].ParamType(), ptOutput);
        params[0].SetValue(rtl::Variant(int32_t(40)));
        params[1].SetValue(rtl::Variant(int32_t(2)));
        standin_.Clear();
        add->Prepare("KW_ADD");
        add->Execute();
        EXPECT_EQ(Calls("SetCommandText"), std::vector<std::string>{"{CALL KW_ADD(?, ?, ?)}"});
        add->GetOutputParams();
        EXPECT_EQ(params[2].Value().AsInteger(), 42);
        // A procedure without parameters gets its parentheses from a provider that is not SQL
        // Server's.
        TParams none;
        TISqlCommandPtr nothing = Procedure(*s.db, "KW_NOTHING", none);
        standin_.Clear();
        nothing->Prepare("KW_NOTHING");
        EXPECT_EQ(Calls("SetCommandText"), std::vector<std::string>{"{CALL KW_NOTHING()}"});
    }
    for (const char* identity : {"generic", "sqlserver"}) {
        SCOPED_TRACE(identity);
        Session s({}, std::string("KW IDENTITY=") + identity);
        const bool sqlServer = std::string(identity) == "sqlserver";
        TParams none;
        TISqlCommandPtr nothing = Procedure(*s.db, "KW_NOTHING", none);
        standin_.Clear();
        nothing->Prepare("KW_NOTHING");
        EXPECT_EQ(Calls("SetCommandText")[0], sqlServer ? "{CALL KW_NOTHING}" : "{CALL KW_NOTHING()}");

        // Several results: the statement runs without a server cursor (its name holds "WITH"),
        // so the driver asks for the multiple-results object.
        TParams params;
        TISqlCommandPtr squares = Procedure(*s.db, "KW_SQUARES_WITH_TOTAL", params);
        ASSERT_EQ(params.Count(), 3);
        EXPECT_EQ(params[0].ParamType(), ptResult);
        params.ParamByName("@N").SetValue(rtl::Variant(int32_t(3)));
        standin_.Clear();
        squares->ExecDirect("KW_SQUARES_WITH_TOTAL");
        EXPECT_EQ(Calls("SetCommandText"), std::vector<std::string>{"{?=CALL KW_SQUARES_WITH_TOTAL(?, ?)}"});
        EXPECT_TRUE(Calls("SetCommandProperties")[0].find("D9=true 123=false") != std::string::npos)
            << Calls("SetCommandProperties")[0];
        EXPECT_EQ(odbctest::FetchAll(*squares), (Rows{{"1", "1"}, {"2", "4"}, {"3", "9"}}));
        ASSERT_TRUE(squares->NextResultSet());
        squares->CloseResultSet();
        squares->Execute();
        EXPECT_EQ(odbctest::FetchAll(*squares), (Rows{{"3"}}));
        squares->GetOutputParams();
        EXPECT_EQ(params.ParamByName("@TOTAL").Value().AsInteger(), 14);
        EXPECT_EQ(params.ParamByName("@RETURN_VALUE").Value().AsInteger(), 3);
        // Outputs come at execution from one provider; the other gives them once its results
        // are through, which reading them waits for.
        EXPECT_EQ(standin_.Logged("GetResult none"), sqlServer);
        squares->CloseResultSet();

        // The same procedure prepared and executed: one rowset, and its outputs all the same.
        TParams again;
        TISqlCommandPtr one = Procedure(*s.db, "KW_SQUARES_WITH_TOTAL", again);
        again.ParamByName("@N").SetValue(rtl::Variant(int32_t(2)));
        one->Prepare("KW_SQUARES_WITH_TOTAL");
        one->Execute();
        EXPECT_EQ(odbctest::FetchAll(*one), (Rows{{"1", "1"}, {"2", "4"}}));
        EXPECT_FALSE(one->NextResultSet());
        one->GetOutputParams();
        EXPECT_EQ(again.ParamByName("@TOTAL").Value().AsInteger(), 5);
        EXPECT_EQ(again.ParamByName("@RETURN_VALUE").Value().AsInteger(), 2);
        one->CloseResultSet();
    }
}

TEST_F(OleDb, CatalogNamesRestrictionsAndComputedValues) {
    Session s;
    s.Exec("create table KWCAT (ID integer not null primary key, NAME nvarchar(20), V varchar(5))");
    s.Exec("create index KWCAT_NAME on KWCAT (NAME desc)");
    s.Exec("create view KWVIEW as select ID from KWCAT");
    auto rows = [&](TSDSchemaType kind, const std::string& pattern,
                    std::initializer_list<const char*> fields) {
        TISqlCommandPtr cmd = s->GetSchemaInfo(kind, pattern);
        Rows out;
        if (!cmd) return out;
        while (cmd->FetchNextRow()) {
            std::vector<std::string> row;
            for (const char* f : fields) {
                std::string v;
                row.push_back(
                    cmd->GetFieldAsString(cmd->FieldDescs->FieldDescByName(f).FieldNo, v) ? v : "<null>");
            }
            out.push_back(row);
        }
        cmd->CloseResultSet();
        return out;
    };
    const std::string tables = com::GuidToString(oledb::DBSCHEMA_TABLES);
    standin_.Clear();
    EXPECT_EQ(rows(stTables, "main.KWCAT", {"SCHEMA_NAME", "TABLE_NAME", "OLD_TABLE_TYPE", "TABLE_TYPE"}),
              (Rows{{"main", "KWCAT", "TABLE", "1"}}));
    EXPECT_EQ(rows(stTables, "KWCAT", {"TABLE_NAME"}), (Rows{{"KWCAT"}}));
    EXPECT_EQ(rows(stTables, "%", {"TABLE_NAME"}), (Rows{{"KWCAT"}})) << "views are in neither kind";
    EXPECT_EQ(rows(stSysTables, "", {"TABLE_NAME", "TABLE_TYPE"}), (Rows{{"sqlite_master", "4"}}));
    EXPECT_EQ(
        Calls("GetRowset"),
        (std::vector<std::string>{tables + " [-] [main] [KWCAT] [TABLE]", tables + " [-] [-] [KWCAT] [TABLE]",
                                  tables + " [-] [-] [-] [TABLE]", tables + " [-] [-] [-] [SYSTEM TABLE]"}));
    standin_.IgnoreTypeRestriction(true);
    EXPECT_EQ(rows(stTables, "", {"TABLE_NAME", "TABLE_TYPE"}),
              (Rows{{"KWCAT", "1"}, {"KWVIEW", "2"}, {"sqlite_master", "4"}, {"KW_SYSTEM_VIEW", "2"}}));
    standin_.IgnoreTypeRestriction(false);

    EXPECT_EQ(rows(stColumns, "KWCAT",
                   {"COLUMN_NAME", "COLUMN_POSITION", "COLUMN_TYPE", "COLUMN_TYPENAME", "COLUMN_LENGTH"}),
              (Rows{{"ID", "1", "0", "I4", "<null>"},
                    {"NAME", "2", "0", "WSTR", "20"},
                    {"V", "3", "0", "STR", "5"}}));
    EXPECT_EQ(rows(stIndexes, "KWCAT", {"INDEX_NAME", "COLUMN_NAME", "INDEX_TYPE", "SORT_ORDER"}),
              (Rows{{"KWCAT_NAME", "NAME", "1", "D"}, {"PK_KWCAT", "ID", "6", "A"}}));
    EXPECT_EQ(rows(stProcedures, "", {"PROC_NAME", "PROC_TYPE", "IN_PARAMS", "OUT_PARAMS"}),
              (Rows{{"KW_ADD", "1", "-1", "-1"},
                    {"KW_SQUARES_WITH_TOTAL", "2", "-1", "-1"},
                    {"KW_NOTHING", "1", "-1", "-1"}}));
    EXPECT_EQ(rows(stProcedureParams, "KW_ADD", {"PARAMETER_NAME"}), (Rows{{"@A"}, {"@B"}, {"@SUM"}}));
    EXPECT_EQ(rows(stTables, "KW'CAT", {"TABLE_NAME"}), Rows{});
    EXPECT_EQ(s->GetSchemaInfo(TSDSchemaType(9), "X"), nullptr);
    EXPECT_STREQ(OleDbTypeCodeName(int16_t(0x4082)), "");
    EXPECT_STREQ(OleDbTypeCodeName(130), "WSTR");
}

class TIOleDbSchemaOther final : public TIOleDbSchemaCommand {
public:
    explicit TIOleDbSchemaOther(TIOleDbDatabase* db)
        : TIOleDbSchemaCommand(db, nullptr, com::IUnknown::kIID) {}

protected:
    void SetRestrictions() override {}
};

TEST_F(OleDb, BadInputGivesClearErrorsAndTheConnectionGoesOn) {
    Session s;
    s.Exec("create table T (A integer, V sql_variant, G uniqueidentifier)");
    s.Exec("insert into T (A) values ('abc')");
    // A column of a type the driver does not know.
    TISqlCommandPtr variant = s->CreateSqlCommand(nullptr);
    try {
        variant->ExecDirect("select V from T");
        FAIL() << "a variant column was described";
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Field 'V' is of an unsupported type");
    }
    variant.reset();
    // A value the provider cannot convert.
    TISqlCommandPtr text = s->CreateSqlCommand(nullptr);
    text->ExecDirect("select A from T");
    try {
        text->FetchNextRow();
        int32_t v = 0;
        text->GetFieldAsInteger(1, v);
        FAIL() << "text read as an integer";
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Cannot convert value of field 'A'");
    }
    text->CloseResultSet();
    // A parameter type without a binding, and a GUID parameter that is no GUID.
    TParams params;
    params.CreateParam(ftBCD, "A", ptInput).SetValue(rtl::Variant(1.5));
    TISqlCommandPtr bcd = s->CreateSqlCommand(nullptr);
    bcd->SetParams(&params);
    try {
        bcd->ExecDirect("insert into T (A) values (:A)");
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Unknown data type for parameter 'A'");
    }
    TParams guid;
    guid.CreateParam(ftGuid, "G", ptInput).SetValue(rtl::Variant("not a guid"));
    TISqlCommandPtr badGuid = s->CreateSqlCommand(nullptr);
    badGuid->SetParams(&guid);
    EXPECT_THROW(badGuid->ExecDirect("insert into T (G) values (:G)"), rtl::EDatabaseError);
    // A schema rowset the driver does not know.
    TISqlCommandPtr other = MakeSqlCommand<TIOleDbSchemaOther>(&s.OleDb());
    try {
        other->ExecDirect("");
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Schema GUID {00000000-0000-0000-C000-000000000046} not supported");
    }
    s.Exec("delete from T");
    s.Exec("insert into T (A) values (7)");
    EXPECT_EQ(s.Query("select A from T"), (Rows{{"7"}}));
}

TEST_F(OleDb, ColumnDescriptionsBySize) {
    Session s;
    s.Exec(
        "create table T (W300 nvarchar(300), W255 nvarchar(255), B256 varbinary(256), B257 varbinary(257), "
        "C char(4), L image, M text, N numeric(10,2), I8 bigint, G uniqueidentifier)");
    TISqlCommandPtr q = s->CreateSqlCommand(nullptr);
    q->Prepare("select * from T");
    q->InitFieldDescs();
    const struct {
        TFieldType type;
        int32_t size;
        bool required;
    } expected[] = {{ftMemo, 301, false}, {ftString, 256, false}, {ftBytes, 256, false},
                    {ftBlob, 257, false}, {ftString, 5, false},   {ftBlob, 0, false},
                    {ftMemo, 0, false},   {ftFloat, 8, false},    {ftLargeint, 8, false},
                    {ftGuid, 16, false}};
    ASSERT_EQ(q->FieldDescs->Count(), int(std::size(expected)));
    for (int i = 0; i < q->FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = q->FieldDescs->GetFieldDesc(i);
        SCOPED_TRACE(d.FieldName);
        EXPECT_EQ(d.FieldType, expected[i].type);
        EXPECT_EQ(d.DataSize, expected[i].size);
    }
    EXPECT_TRUE(q->FieldDescs->GetFieldDesc(4).IsFixedChar);
    EXPECT_EQ(q->FieldDescs->GetFieldDesc(7).Precision, 10);
    EXPECT_EQ(q->FieldDescs->GetFieldDesc(7).Scale, 2);
}

TEST_F(OleDb, InRowAndLongValuesGuidsAndTimeStampFractions) {
    Session s({"BLOB PIECE SIZE=1000"});
    s.Exec(
        "create table T (ID integer, B257 varbinary(257), W300 nvarchar(300), L image, M text, G "
        "uniqueidentifier, "
        "TS datetime)");
    std::string bin(257, '\0');
    for (size_t i = 0; i < bin.size(); ++i)
        bin[i] = char(i);
    std::string longValue(2500, 'x');
    for (size_t i = 0; i < longValue.size(); ++i)
        longValue[i] = char('a' + i % 26);
    TParams params;
    params.CreateParam(ftInteger, "ID", ptInput).SetValue(rtl::Variant(int32_t(1)));
    params.CreateParam(ftVarBytes, "B", ptInput)
        .SetValue(rtl::Variant::FromBytes(rtl::ByteArray(bin.begin(), bin.end())));
    params.CreateParam(ftString, "W", ptInput).SetValue(rtl::Variant(std::string(300, 'w')));
    params.CreateParam(ftBlob, "L", ptInput)
        .SetValue(rtl::Variant::FromBytes(rtl::ByteArray(longValue.begin(), longValue.end())));
    params.CreateParam(ftMemo, "M", ptInput).SetValue(rtl::Variant("ação"));
    params.CreateParam(ftGuid, "G", ptInput).SetValue(rtl::Variant("{6B29FC40-CA47-1067-B31D-00DD010662DA}"));
    TISqlCommandPtr insert = s->CreateSqlCommand(nullptr);
    insert->SetParams(&params);
    insert->ExecDirect(
        "insert into T (ID, B257, W300, L, M, G, TS) values (:ID, :B, :W, :L, :M, :G, "
        "'2001-02-03 04:05:06.123456789')");
    const auto read = [&](const char* column) {
        TISqlCommandPtr q = s->CreateSqlCommand(nullptr);
        q->ExecDirect(std::string("select ") + column + " from T");
        EXPECT_TRUE(q->FetchNextRow());
        const TSDFieldDesc& d = q->FieldDescs->GetFieldDesc(0);
        std::string out;
        if (IsBlobFieldType(stOLEDB, d.FieldType)) {
            const TSDBlobRef blob = q->GetFieldBlobData(d);
            out = blob ? std::string(blob->begin(), blob->end()) : "<null>";
        } else {
            out = odbctest::RowTexts(*q)[0];
        }
        q->CloseResultSet();
        return out;
    };
    EXPECT_EQ(read("B257"), bin) << "an in-row blob";
    EXPECT_EQ(read("W300"), std::string(300, 'w')) << "an in-row memo";
    EXPECT_EQ(read("M"), "ação");
    EXPECT_EQ(read("G"), "{6B29FC40-CA47-1067-B31D-00DD010662DA}");
    EXPECT_EQ(read("TS"), "2001-02-03 04:05:06.123");
    // A known length read through a stream that answers short: read until whole.
    standin_.ShortReads(700);
    standin_.Clear();
    EXPECT_EQ(read("L"), longValue);
    EXPECT_EQ(Calls("Read"), (std::vector<std::string>{"2500 700", "1800 700", "1100 700", "400 400"}));
    // An unknown length: pieces of BLOB PIECE SIZE until a short one.
    standin_.ShortReads(0);
    standin_.UnknownLengths(true);
    standin_.Clear();
    EXPECT_EQ(read("L"), longValue);
    EXPECT_EQ(Calls("Read"), (std::vector<std::string>{"1000 1000", "1000 1000", "1000 500"}));
    // Null long values and the empty one.
    s.Exec("update T set L = NULL, M = ''");
    EXPECT_EQ(read("L"), "<null>");
    EXPECT_EQ(read("M"), "<null>");
}

TEST_F(OleDb, RowsComeInBatchesOfPrefetchRows) {
    for (const auto& [prefetch, calls] : {std::pair{1, std::vector<std::string>{"1 1", "1 1", "1 1", "1 0"}},
                                          std::pair{2, std::vector<std::string>{"2 2", "2 1", "2 0"}}}) {
        SCOPED_TRACE(prefetch);
        Session s({"PREFETCH ROWS=" + std::to_string(prefetch)});
        s.Exec("create table T (A integer)");
        s.Exec("insert into T values (1), (2), (3)");
        standin_.Clear();
        EXPECT_EQ(s.Query("select A from T order by A"), (Rows{{"1"}, {"2"}, {"3"}}));
        EXPECT_EQ(Calls("GetNextRows"), calls);
    }
}

TEST_F(OleDb, AConnectionSharesAnothersSessionThroughItsHandle) {
    Session s;
    s.Exec("create table T (A integer)");
    s.Exec("insert into T values (1)");
    std::unique_ptr<TISqlDatabase> other = CreateOLEDBDatabase(nullptr, oledbtest::Params());
    other->SetHandle(s->GetHandle());
    EXPECT_EQ(odbctest::Query(*other, "select A from T"), (Rows{{"1"}}));
    EXPECT_EQ(other->GetVersionString(), s->GetVersionString());
    EXPECT_EQ(com::CoInitializeCount(), 2);
    other->Disconnect(false);
    EXPECT_EQ(s.Query("select count(*) from T"), (Rows{{"1"}}));
}

}  // namespace
