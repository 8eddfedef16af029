// The SQLBase driver over the stand-in client library (tests/database/standin/KwCsbStandin.cpp):
// the binding and its interface levels, the connect calls, cursors and their settings, errors,
// date pictures, long values, procedures and the catalog, checked through the journal of the
// calls the driver made and through what it read back.
#include <gtest/gtest.h>

#include "database/drivers/CsbTestSupport.h"
#include "database/engine/SDCommonValues.h"
#include "rtl/Assert.h"
#include "rtl/Format.h"

using csbtest::CsbStandin;
using csbtest::Session;
using odbctest::Rows;

namespace {

class Csb : public ::testing::Test {
protected:
    void SetUp() override { KW_REQUIRE_PEER(standin_.Available(), "the SQLBase stand-in library"); }
    void TearDown() override {
        EXPECT_EQ(CsbLibrary().LoadCount(), 0) << "a test left the client library loaded";
        EXPECT_EQ(standin_.OpenCursors(), 0) << "a test left cursors open";
    }
    CsbStandin standin_;
};

TEST(CsbText, ConnectStringsBrandsAndCatalogStatements) {
    EXPECT_EQ(BuildCsbConnectString("DEMO", "SYSADM", ""), "DEMO/SYSADM");
    EXPECT_EQ(BuildCsbConnectString(" DEMO ", " SYSADM ", " pw "), "DEMO/SYSADM/pw");
    EXPECT_EQ(BuildCsbConnectString("DEMO", "", ""), "DEMO");
    EXPECT_EQ(CsbBrandName(1), "Centura SQLBase");
    EXPECT_EQ(CsbBrandName(28), "Oracle version 7");
    EXPECT_EQ(CsbBrandName(36), "Informix On-Line NLS version 6");
    EXPECT_EQ(CsbBrandName(99), "SQLHost App Services");
    EXPECT_EQ(CsbBrandName(37), "");
    EXPECT_EQ(CsbBrandName(0), "");
    // Patterns are quoted: a quote doubles instead of ending the literal.
    const std::string tables = CsbSchemaQueryText(stTables, "KW'X");
    EXPECT_NE(tables.find("where NAME like 'KW''X'  and SYSTEM <> 'Y'"), std::string::npos) << tables;
    EXPECT_NE(CsbSchemaQueryText(stSysTables, "").find(" where SYSTEM = 'Y' "), std::string::npos);
    const std::string columns = CsbSchemaQueryText(stColumns, "O'X.T'Y");
    EXPECT_NE(columns.find("@UPPER(TBCREATOR) like @UPPER('O''X') and @UPPER(TBNAME) like @UPPER('T''Y')"),
              std::string::npos)
        << columns;
    EXPECT_NE(CsbSchemaQueryText(stIndexes, "T").find("like @UPPER('%') and @UPPER(TBNAME) like @UPPER('T')"),
              std::string::npos);
    EXPECT_NE(CsbSchemaQueryText(stProcedures, "P'").find("and NAME like 'P''' "), std::string::npos);
    EXPECT_EQ(CsbSchemaQueryText(stProcedureParams, "P"), "");
    EXPECT_STREQ(CsbDatePicture(ftDateTime), "dd.mm.yyyy hh:mi:ss.9999999");
    EXPECT_EQ(CsbDateTextLength(ftTime), 15);
}

TEST_F(Csb, ConnectCallsByInterfaceAndTransactionLogging) {
    struct Case {
        const char* name;
        const char* variant;
        const char* logging;
        std::vector<std::string> calls;
    };
    const std::vector<Case> cases = {
        {"version 7 client, logging on", "csb", "", {"sqlcch DEMO/SYSADM", "sqlopc"}},
        {"version 7 client, logging off", "csb", "false", {"sqlcnr DEMO/SYSADM"}},
        {"version 6 client, logging on", "csb6", "TRUE", {"sqlcnc DEMO/SYSADM"}},
        {"version 6 client, logging off", "csb6", " False ", {"sqlcnr DEMO/SYSADM"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CsbStandin standin(c.variant);
        ASSERT_TRUE(standin.Available());
        {
            Session s(standin, {std::string("TRANSACTION LOGGING=") + c.logging}, "DEMO", "SYSADM", "");
            std::vector<std::string> connects;
            for (const std::string& line : rtl::SplitFields(standin.Journal(), '\n'))
                if (line.rfind("sqlc", 0) == 0 || line.rfind("sqlopc", 0) == 0) connects.push_back(line);
            EXPECT_EQ(connects, c.calls);
            EXPECT_EQ(CsbInterfaceLevel(), MakeVersionNumber(std::string(c.variant) == "csb" ? 7 : 6, 0));
            const auto* handle = static_cast<const TICsbConnInfo*>(s->GetHandle());
            ASSERT_NE(handle, nullptr);
            EXPECT_EQ(handle->ServerType, 0);
            EXPECT_EQ(handle->ConnectStr, "DEMO/SYSADM");
            EXPECT_EQ(handle->LogHandle != 0, c.calls.size() == 2);
            // A command opens its cursor the way its connection did.
            standin.Clear();
            s.Exec("create table T (A integer)");
            EXPECT_EQ(standin.Lines("sqlopc").size() + standin.Lines("sqlcnc").size() +
                          standin.Lines("sqlcnr").size(),
                      1u);
            EXPECT_EQ(standin.Lines(c.calls.back().substr(0, 6)).size(), 1u);
            EXPECT_EQ(standin.InitCount(), 1);
            EXPECT_EQ(CsbLibrary().LoadCount(), 1);
        }
        EXPECT_TRUE(standin.Logged("sqldon"));
        EXPECT_EQ(standin.InitCount(), 0);
        EXPECT_EQ(standin.Lines("sqldch").size(), c.calls.size() == 2 ? 1u : 0u);
        EXPECT_EQ(CsbInterfaceLevel(), 0);
    }
}

TEST_F(Csb, LibraryLoadsInitialisesAndRefusesIncompleteClients) {
    {
        Session a(standin_);
        Session b(standin_);
        EXPECT_EQ(CsbLibrary().LoadCount(), 2);
        EXPECT_EQ(standin_.InitCount(), 1);
        EXPECT_EQ(a->GetServerType(), stSQLBase);
        EXPECT_EQ(CsbLibrary().LoadedName(), standin_.Path());
        // Another file by parameter is ignored while one is loaded.
        Session c(standin_, {"SQLBase API LIBRARY=/nonexistent/libsqlbapi.so"});
        EXPECT_EQ(CsbLibrary().LoadCount(), 3);
    }
    try {
        CreateSQLBaseDatabase(nullptr, csbtest::Params("/nonexistent/libsqlbapi.so"))
            ->Connect("KWDB", "SYSADM", "");
        FAIL() << "loaded a missing library";
    } catch (const ESDSqlLibError& e) {
        EXPECT_EQ(e.Message(), "Error loading library '/nonexistent/libsqlbapi.so'");
    }
    // A library without the client's entries: the first missing one by its display name.
    try {
        CreateSQLBaseDatabase(nullptr, csbtest::Params("libz.so.1"))->Connect("KWDB", "SYSADM", "");
        FAIL() << "bound a library without the client's entries";
    } catch (const rtl::EAssertionFailed& e) {
        EXPECT_EQ(e.Message(), "Function 'SqlBbr' not found in SQLBase Engine library");
    }
    EXPECT_EQ(CsbLibrary().LoadCount(), 0);
    // A client that refuses to initialise leaves nothing loaded, and the next connect works.
    standin_.RefuseInit(true);
    try {
        Session s(standin_);
        FAIL() << "connected through a client that refused to initialise";
    } catch (const ESDSqlLibError& e) {
        EXPECT_EQ(e.Message(), "Error initialization SQLBase Engine");
    }
    EXPECT_EQ(CsbLibrary().LoadCount(), 0);
    standin_.RefuseInit(false);
    Session s(standin_);
    EXPECT_TRUE(s->TestConnected());
    EXPECT_TRUE(standin_.Logged("sqlcex select 1 from SYSSQL.SYSTABLES where 0=1"));
}

TEST_F(Csb, IsolationCodesAndCursorSettings) {
    const struct {
        TSDTransIsolation level;
        const char* code;
        bool keepsOnRollback;
    } levels[] = {{tiDirtyRead, "RL", true}, {tiReadCommitted, "CS", false}, {tiRepeatableRead, "RR", false}};
    for (const auto& l : levels) {
        SCOPED_TRACE(l.code);
        standin_.Clear();
        Session s(standin_, {}, "KWDB", "SYSADM", "", l.level);
        EXPECT_TRUE(standin_.Logged(std::string("sqlsil ") + l.code));
        EXPECT_TRUE(s->CursorPreservedOnCommit);
        EXPECT_EQ(s->CursorPreservedOnRollback, l.keepsOnRollback);
        // The connection reads long values in its buffer (parameter 9 on cursor 0).
        EXPECT_TRUE(standin_.Logged("sqlset 9 1 4"));
    }
    // A command's cursor: no pre-built result set, context kept over commits; the server's own
    // commit mode unless the connection sets one; the time-out of COMMAND TIMEOUT.
    {
        Session s(standin_, {"COMMAND TIMEOUT= 30 "});
        EXPECT_TRUE(standin_.Logged("sqlset 3002 30 0"));
        EXPECT_TRUE(standin_.Logged("sqlset 1010 30 0"));
        EXPECT_FALSE(s->AutoCommit) << "the server's commit mode, read back: off";
        standin_.Clear();
        s.Exec("create table T (A integer)");
        EXPECT_EQ(standin_.Lines("sqlset"),
                  (std::vector<std::string>{"sqlset 3018 0 0", "sqlset 3002 30 0", "sqlset 3003 1 0"}));
    }
    {
        Session s(standin_, {"COMMAND TIMEOUT=soon"});
        EXPECT_TRUE(standin_.Logged("sqlset 3002 0 0"));
        s->AutoCommitDefault = false;
        s->AutoCommit = true;
        standin_.Clear();
        s.Exec("create table U (A integer)");
        EXPECT_EQ(standin_.Lines("sqlset 3006"), std::vector<std::string>{"sqlset 3006 1 0"});
        s->StartTransaction();
        standin_.Clear();
        s.Exec("insert into U values (1)");
        EXPECT_EQ(standin_.Lines("sqlset 3006"), std::vector<std::string>{"sqlset 3006 0 0"});
        s->Rollback();
        EXPECT_EQ(s.Query("select count(*) from U"), (Rows{{"0"}}));
    }
}

TEST_F(Csb, VersionsAndBrands) {
    Session s(standin_);
    EXPECT_EQ(s->GetVersionString(), "Centura SQLBase Release 7.6.0");
    EXPECT_EQ(s->GetServerVersion(), MakeVersionNumber(7, 6));
    standin_.SetBrand(8, "11.5");
    EXPECT_EQ(s->GetVersionString(), "Sybase SQL Server");
    standin_.SetBrand(77, "1.0");
    EXPECT_EQ(s->GetVersionString(), "");
    EXPECT_EQ(s->GetClientVersion(), 0) << "the stand-in's file name carries no version";
    EXPECT_FALSE(s->SPDescriptionsAvailable());
    EXPECT_EQ(s->ParamValue(13), 18);
    EXPECT_EQ(s->ParamValue(5), 3000);
    EXPECT_EQ(s->ParamValue(18), 0);
}

TEST_F(Csb, ErrorsCarryTextPositionAndTheLostFlag) {
    Session s(standin_);
    s.Exec("create table T (A integer)");
    try {
        s.Exec("select A frum T");
        FAIL() << "a bad statement compiled";
    } catch (const ESDCSBError& e) {
        EXPECT_EQ(e.ErrorCode, 601);
        EXPECT_EQ(e.NativeError, 601);
        EXPECT_EQ(e.Message().rfind("00601 Invalid SQL statement", 0), 0u) << e.Message();
        EXPECT_EQ(e.ErrorPos, 14) << "the position the client reported";
        EXPECT_FALSE(e.ConnectionLost);
    }
    for (int code : {1, 3806, 9024}) {
        SCOPED_TRACE(code);
        Session t(standin_, {}, "OTHER" + std::to_string(code));
        standin_.Fail("sqlexe", code);
        try {
            t.Query("select 1 from SYSSQL.SYSTABLES");
            FAIL() << "the failure did not come";
        } catch (const ESDCSBError& e) {
            EXPECT_EQ(e.ErrorCode, code);
            EXPECT_EQ(e.ConnectionLost, code != 1);
        }
    }
    // The first connection is untouched by the others' failures.
    EXPECT_EQ(s.Query("select count(*) from T"), (Rows{{"0"}}));
}

TEST_F(Csb, StatementsWithoutParametersRunOnceWithThemCompileBindAndExecute) {
    Session s(standin_);
    standin_.Clear();
    s.Exec("create table T (ID integer not null, NAME varchar(20), F double precision, S smallint)");
    EXPECT_TRUE(
        standin_.Logged("sqlcex create table T (ID integer not null, NAME varchar(20), F double precision, "
                        "S smallint)"));
    EXPECT_TRUE(standin_.Lines("sqlcom").empty());
    EXPECT_TRUE(standin_.Lines("sqlexe").empty());

    TParams params;
    params.CreateParam(ftInteger, "ID", ptInput).SetValue(rtl::Variant(int32_t(7)));
    params.CreateParam(ftString, "NAME", ptInput).SetValue(rtl::Variant("O'Brien"));
    params.CreateParam(ftFloat, "F", ptInput).SetValue(rtl::Variant(2.5));
    params.CreateParam(ftSmallint, "S", ptInput).SetValue(rtl::Variant(int16_t(-3)));
    standin_.Clear();
    TISqlCommandPtr insert = s->CreateSqlCommand(nullptr);
    insert->SetParams(&params);
    insert->ExecDirect("insert into T values (:ID, :NAME, :F, :S)");
    EXPECT_EQ(standin_.Lines("sqlcex"), std::vector<std::string>{});
    EXPECT_EQ(standin_.Lines("sqlcom"),
              std::vector<std::string>{"sqlcom insert into T values (:ID, :NAME, :F, :S)"});
    EXPECT_EQ(standin_.Lines("sqlbna"), (std::vector<std::string>{"sqlbna ID 8 4 0", "sqlbna NAME 2 7 0",
                                                                  "sqlbna F 10 8 0", "sqlbna S 18 2 0"}));
    EXPECT_EQ(standin_.Lines("sqlexe").size(), 1u);
    EXPECT_EQ(insert->GetRowsAffected(), 1);
    // Executed again with new values, and with a null.
    params[0].SetValue(rtl::Variant(int32_t(8)));
    params[1].Clear();
    insert->Execute();
    EXPECT_EQ(s.Query("select ID, NAME, F, S from T order by ID"),
              (Rows{{"7", "O'Brien", "2.5", "-3"}, {"8", "<null>", "2.5", "-3"}}));
    // A column named T.NAME is the field NAME; an empty text reads as null.
    TISqlCommandPtr q = s->CreateSqlCommand(nullptr);
    q->ExecDirect("select ID as \"T.NAME\", '' as E from T where ID = 7");
    ASSERT_EQ(q->FieldDescs->Count(), 2);
    EXPECT_EQ(q->FieldDescs->GetFieldDesc(0).FieldName, "NAME");
    ASSERT_TRUE(q->FetchNextRow());
    std::string text;
    EXPECT_FALSE(q->GetFieldAsString(2, text));
    EXPECT_FALSE(q->ResultSetExists() == false);
    q->CloseResultSet();
    EXPECT_TRUE(standin_.Logged("sqlcbv"));
}

TEST_F(Csb, DescriptionsOfEveryTypeAndRequiredColumns) {
    Session s(standin_);
    s.Exec(
        "create table T (I integer not null, S smallint, F float, D decimal(10,2), C char(4), V varchar(30), "
        "DT date, TM time, TS timestamp, B boolean, LB long binary, LV long varchar)");
    TISqlCommandPtr q = s->CreateSqlCommand(nullptr);
    q->Prepare("select * from T");
    const struct {
        const char* name;
        TFieldType type;
        int32_t size;
        bool required;
        bool fixed;
    } expected[] = {
        {"I", ftInteger, 4, true, false},     {"S", ftSmallint, 2, false, false},
        {"F", ftFloat, 8, false, false},      {"D", ftFloat, 8, false, false},
        {"C", ftString, 5, false, true},      {"V", ftString, 31, false, false},
        {"DT", ftDate, 12, false, false},     {"TM", ftTime, 12, false, false},
        {"TS", ftDateTime, 12, false, false}, {"B", ftBoolean, 2, false, false},
        {"LB", ftBlob, 0, false, false},      {"LV", ftMemo, 0, false, false},
    };
    ASSERT_EQ(q->FieldDescs->Count(), int(std::size(expected)));
    for (int i = 0; i < q->FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = q->FieldDescs->GetFieldDesc(i);
        SCOPED_TRACE(d.FieldName);
        EXPECT_EQ(d.FieldName, expected[i].name);
        EXPECT_EQ(d.FieldType, expected[i].type);
        EXPECT_EQ(d.DataSize, expected[i].size);
        EXPECT_EQ(d.Required, expected[i].required);
        EXPECT_EQ(d.IsFixedChar, expected[i].fixed);
    }
    // A column name longer than the name buffer is refused by name.
    TISqlCommandPtr wide = s->CreateSqlCommand(nullptr);
    const std::string longName(60, 'X');
    try {
        wide->ExecDirect("select 1 as " + longName);
        FAIL() << "a column name longer than the buffer was taken";
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Insufficient buffer size for column name '" + std::string(54, 'X') + "'");
    }
}

TEST_F(Csb, DatePicturesBothWays) {
    Session s(standin_);
    s.Exec("create table T (ID integer, D date, TM time, TS timestamp)");
    TParams params;
    params.CreateParam(ftInteger, "ID", ptInput).SetValue(rtl::Variant(int32_t(1)));
    params.CreateParam(ftDate, "D", ptInput)
        .SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2024, 2, 29)));
    params.CreateParam(ftTime, "TM", ptInput)
        .SetValue(rtl::Variant::FromDateTime(rtl::EncodeTime(12, 34, 56, 789)));
    params.CreateParam(ftDateTime, "TS", ptInput)
        .SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2001, 2, 3) + rtl::EncodeTime(4, 5, 6, 7)));
    standin_.Clear();
    TISqlCommandPtr insert = s->CreateSqlCommand(nullptr);
    insert->SetParams(&params);
    insert->ExecDirect("insert into T values (:ID, :D, :TM, :TS)");
    EXPECT_EQ(standin_.Lines("sqlxpd"),
              (std::vector<std::string>{"sqlxpd 29.02.2024 | dd.mm.yyyy",
                                        "sqlxpd 12:34:56.789000 | hh:mi:ss.9999999",
                                        "sqlxpd 03.02.2001 04:05:06.007000 | dd.mm.yyyy "
                                        "hh:mi:ss.9999999"}));
    EXPECT_EQ(standin_.Lines("sqlbna D"), std::vector<std::string>{"sqlbna D 15 12 0"});
    standin_.Clear();
    // Read back while another thread's date settings say something else entirely: the
    // conversion uses its own fixed formats and changes nothing of the process's.
    const rtl::FormatSettingsRec saved = rtl::FormatSettings;
    rtl::FormatSettings.DateSeparator = '/';
    rtl::FormatSettings.TimeSeparator = '-';
    const Rows rows = s.Query("select D, TM, TS from T");
    EXPECT_EQ(rtl::FormatSettings.DateSeparator, '/');
    EXPECT_EQ(rtl::FormatSettings.TimeSeparator, '-');
    rtl::FormatSettings = saved;
    EXPECT_EQ(rows, (Rows{{"2024-02-29", "12:34:56", "2001-02-03 04:05:06.007"}}));
    EXPECT_TRUE(standin_.Logged("sqlxdp 12:34:56.789000 | hh:mi:ss.9999999"));
    EXPECT_TRUE(standin_.Logged("sqlxdp 03.02.2001 04:05:06.007000 | dd.mm.yyyy hh:mi:ss.9999999"));
    // The time keeps its milliseconds.
    TISqlCommandPtr q = s->CreateSqlCommand(nullptr);
    q->ExecDirect("select TM from T");
    ASSERT_TRUE(q->FetchNextRow());
    rtl::TDateTime tm = 0;
    ASSERT_TRUE(q->GetFieldAsDateTime(1, tm));
    int h = 0, mi = 0, sec = 0, ms = 0;
    rtl::DecodeTime(tm, h, mi, sec, ms);
    EXPECT_EQ(rtl::Format("%d:%d:%d.%d", h, mi, sec, ms), "12:34:56.789");
    // A destination too small for the internal form.
    uint8_t small[8];
    EXPECT_THROW(dynamic_cast<TICsbCommand&>(*q).CnvtDateTime2DBDateTime(ftDate, 1.0, small, 8),
                 rtl::EDatabaseError);
}

TEST_F(Csb, LongValuesTravelInPieces) {
    Session s(standin_);
    s.Exec("create table T (ID integer, B long binary, M long varchar)");
    rtl::ByteArray bytes(70000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i % 251);
    const std::string memo = "ação";
    standin_.Clear();
    TParams params;
    params.CreateParam(ftInteger, "ID", ptInput).SetValue(rtl::Variant(int32_t(1)));
    params.CreateParam(ftBlob, "B", ptInput).SetValue(rtl::Variant::FromBytes(bytes));
    params.CreateParam(ftMemo, "M", ptInput).SetValue(rtl::Variant(memo));
    TISqlCommandPtr insert = s->CreateSqlCommand(nullptr);
    insert->SetParams(&params);
    insert->ExecDirect("insert into T values (:ID, :B, :M)");
    EXPECT_EQ(standin_.Lines("sqlwlo"),
              (std::vector<std::string>{"sqlwlo 32752", "sqlwlo 32752", "sqlwlo 4496", "sqlwlo 6"}));
    EXPECT_EQ(standin_.Lines("sqlbld"), (std::vector<std::string>{"sqlbld B", "sqlbld M"}));
    EXPECT_EQ(standin_.Lines("sqlelo").size(), 2u);
    standin_.Clear();
    TISqlCommandPtr q = s->CreateSqlCommand(nullptr);
    q->ExecDirect("select B, M from T");
    ASSERT_EQ(q->BlobFieldCount, 2);
    ASSERT_TRUE(q->FetchNextRow());
    EXPECT_EQ(standin_.Lines("sqlrlo"), (std::vector<std::string>{"sqlrlo 32752 32752", "sqlrlo 32752 32752",
                                                                  "sqlrlo 4496 4496", "sqlrlo 6 6"}));
    const TSDBlobRef blob = q->GetFieldBlobData(q->FieldDescs->GetFieldDesc(0));
    ASSERT_TRUE(blob);
    EXPECT_EQ(*blob, bytes);
    std::string text;
    EXPECT_TRUE(q->GetFieldAsString(2, text));
    EXPECT_EQ(text, memo);
    q->CloseResultSet();
    // A client that answers short: the value ends where the client's bytes end, no loop, no
    // garbage after them.
    standin_.ShortRead(100);
    standin_.Clear();
    TISqlCommandPtr cut = s->CreateSqlCommand(nullptr);
    cut->ExecDirect("select B from T");
    ASSERT_TRUE(cut->FetchNextRow());
    const TSDBlobRef part = cut->GetFieldBlobData(cut->FieldDescs->GetFieldDesc(0));
    ASSERT_TRUE(part);
    EXPECT_EQ(part->size(), 32652u);
    EXPECT_TRUE(std::equal(part->begin(), part->end(), bytes.begin()));
    EXPECT_EQ(standin_.Lines("sqlrlo").size(), 1u);
    EXPECT_TRUE(standin_.Logged("sqlelo"));
}

TEST_F(Csb, ProceduresDescribeBindByNumberAndGiveTheirOutputs) {
    Session s(standin_);
    TParams params;
    TISqlCommandPtr add = s->CreateSqlCommand(nullptr);
    add->CommandType = 2;
    add->SetParams(&params);
    add->SetCommandText("KW_ADD");
    add->Prepare("KW_ADD");
    ASSERT_EQ(params.Count(), 3);
    EXPECT_EQ(params[0].Name(), "1");
    EXPECT_EQ(params[0].ParamType(), ptInput);
    EXPECT_EQ(params[0].DataType(), ftUnknown);
    EXPECT_EQ(params[2].Name(), "SUM");
    EXPECT_EQ(params[2].ParamType(), ptInputOutput);
    EXPECT_EQ(params[2].DataType(), ftInteger);
    params[0].SetDataType(ftInteger);
    params[0].SetValue(rtl::Variant(int32_t(40)));
    params[1].SetDataType(ftInteger);
    params[1].SetValue(rtl::Variant(int32_t(2)));
    standin_.Clear();
    add->Execute();
    EXPECT_EQ(standin_.Lines("sqlbnu"),
              (std::vector<std::string>{"sqlbnu 1 8 4 0", "sqlbnu 2 8 4 0", "sqlbnu 3 8 0 -1"}));
    add->GetOutputParams();
    EXPECT_EQ(params[2].Value().AsInteger(), 42);

    TParams greet;
    TISqlCommandPtr g = s->CreateSqlCommand(nullptr);
    g->CommandType = 2;
    g->SetParams(&greet);
    // A procedure's inputs have no type until the caller gives them one.
    EXPECT_THROW(g->ExecDirect("KW_GREET"), rtl::EDatabaseError);
    ASSERT_EQ(greet.Count(), 3);
    greet[0].SetDataType(ftString);
    greet[0].SetValue(rtl::Variant("Ana"));
    g->Execute();
    g->GetOutputParams();
    EXPECT_EQ(greet.ParamByName("GREETING").AsString(), "Hello, Ana");
    EXPECT_EQ(greet.ParamByName("NAME_LEN").Value().AsInteger(), 3);
    // Another command kind has no binding.
    TISqlCommandPtr other = s->CreateSqlCommand(nullptr);
    other->CommandType = 1;
    EXPECT_THROW(other->BindParamsBuffer(), rtl::EDatabaseError);
}

TEST_F(Csb, CatalogQueries) {
    Session s(standin_);
    s.Exec("create table KWCAT (ID integer not null primary key, NAME varchar(20))");
    s.Exec("create index KWCAT_NAME on KWCAT (NAME desc)");
    auto rows = [&](TSDSchemaType kind, const std::string& pattern) {
        TISqlCommandPtr cmd = s->GetSchemaInfo(kind, pattern);
        if (!cmd) return Rows{{"<none>"}};
        Rows out = odbctest::FetchAll(*cmd);
        cmd->CloseResultSet();
        return out;
    };
    EXPECT_EQ(rows(stTables, "KWCAT"), (Rows{{"<null>", "SYSADM", "KWCAT", "1"}}));
    EXPECT_EQ(rows(stTables, "KW'CAT%"), Rows{});
    EXPECT_EQ(rows(stSysTables, "SYSKEYS"), (Rows{{"<null>", "SYSSQL", "SYSKEYS", "1"}}));
    EXPECT_EQ(rows(stProcedures, "KW%"),
              (Rows{{"<null>", "SYSADM", "KW_ADD", "1"}, {"<null>", "SYSADM", "KW_GREET", "1"}}));
    const Rows columns = rows(stColumns, "kwcat");
    ASSERT_EQ(columns.size(), 2u);
    EXPECT_EQ(columns[0][3], "ID");
    EXPECT_EQ(columns[0][10], "0") << "not nullable";
    EXPECT_EQ(columns[1][3], "NAME");
    EXPECT_EQ(columns[1][10], "1");
    EXPECT_EQ(rows(stColumns, "SYSADM.KW'CAT"), Rows{});
    const Rows indexes = rows(stIndexes, "KWCAT");
    ASSERT_EQ(indexes.size(), 2u);
    EXPECT_EQ(indexes[0][3], "KWCAT_NAME");
    EXPECT_EQ(indexes[0][6], "1");
    EXPECT_EQ(indexes[0][7], "D");
    EXPECT_EQ(indexes[1][4], "ID");
    EXPECT_EQ(indexes[1][6], "2");
    EXPECT_EQ(rows(stProcedureParams, "KW_ADD"), (Rows{{"<none>"}}));
}

TEST_F(Csb, BadInputGivesClearErrorsAndTheConnectionGoesOn) {
    Session s(standin_);
    s.Exec("create table T (ID integer, V varchar(10))");
    TParams params;
    params.CreateParam(ftBytes, "V", ptInput).SetValue(rtl::Variant::FromBytes({1, 2, 3}));
    TISqlCommandPtr bad = s->CreateSqlCommand(nullptr);
    bad->SetParams(&params);
    try {
        bad->ExecDirect("insert into T (V) values (:V)");
        FAIL() << "a byte parameter was bound";
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Unknown data type for parameter 'V'");
    }
    // A parameter that names no bind variable is the client's error.
    TParams other;
    other.CreateParam(ftInteger, "NOPE", ptInput).SetValue(rtl::Variant(int32_t(1)));
    TISqlCommandPtr unknown = s->CreateSqlCommand(nullptr);
    unknown->SetParams(&other);
    EXPECT_THROW(unknown->ExecDirect("insert into T (ID) values (:ID)"), ESDCSBError);
    s.Exec("insert into T values (1, 'ok')");
    EXPECT_EQ(s.Query("select ID, V from T"), (Rows{{"1", "ok"}}));
}

TEST_F(Csb, DisconnectRollsBackAnOpenTransactionAndReleasesEveryCursor) {
    {
        Session s(standin_);
        s.Exec("create table T (ID integer)");
        s->StartTransaction();  // statements wait for a commit: this one keeps the table
        s->Commit();
        s->StartTransaction();
        s.Exec("insert into T values (1)");
        TISqlCommandPtr open = s->CreateSqlCommand(nullptr);
        open->ExecDirect("select ID from T");
        EXPECT_EQ(standin_.OpenCursors(), 2);
        open.reset();
        standin_.Clear();
        s->Disconnect(false);
        EXPECT_EQ(standin_.Lines("sqlrbk").size(), 1u);
        EXPECT_EQ(standin_.Lines("sqldis").size(), 1u);
        EXPECT_EQ(s->GetHandle(), nullptr);
    }
    Session again(standin_);
    EXPECT_EQ(again.Query("select count(*) from T"), (Rows{{"0"}}));
}

}  // namespace
