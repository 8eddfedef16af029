// The Oracle driver's OCI 8 generation over the stand-in client library: connecting (roles,
// external credentials, expired passwords, XA), versions and the session time zone, the
// catalog, statements with every kind of bind (temporary LOBs, LOBs written through returned
// locators, values sent at execution), result columns (LONG in pieces, LOBs, files, time stamps,
// intervals, long texts), procedures (description, outputs, cursors), lost connections and
// bad input. The journal shows what the driver sent; the stand-in's handle count shows what it
// freed.
#include <gtest/gtest.h>

#include <cstring>

#include "database/OraTestSupport.h"
#include "rtl/Assert.h"
#include "rtl/Bcd.h"
#include "rtl/DateTime.h"

using namespace oratest;
using odbctest::Rows;

namespace {

class Oci8 : public ::testing::Test {
protected:
    void SetUp() override { KW_REQUIRE_PEER(standin.Available(), "the OCI stand-in library"); }
    void TearDown() override {
        ora.reset();
        EXPECT_EQ(OciLoadCount(), 0);
        SetOciLibraryList(kOciLibraryList);
    }
    void Open(rtl::StringList params = Params(), const std::string& library = kOci8Client,
              const std::string& user = "scott", const std::string& password = "tiger") {
        ora = std::make_unique<Session>(params, library, "standin", user, password);
    }
    TISqlDatabase& Db() { return *ora->db; }
    TISqlCommandPtr Run(const std::string& sql, TParams& params) {
        TISqlCommandPtr cmd = Db().CreateSqlCommand(nullptr);
        cmd->SetParams(&params);
        cmd->Prepare(sql);
        cmd->Execute();
        return cmd;
    }
    TISqlCommandPtr Procedure(const std::string& name, TParams& params,
                              const std::function<void(TParams&)>& values = nullptr) {
        return RunProcedure(Db(), name, params, values);
    }
    std::string Bytes(const rtl::Variant& v) {
        const rtl::ByteArray b = v.AsBytes();
        return std::string(b.begin(), b.end());
    }

    OciStandin standin;
    std::unique_ptr<Session> ora;
};

std::string Repeat(const std::string& unit, size_t bytes) {
    std::string out;
    while (out.size() < bytes)
        out += unit;
    out.resize(bytes);
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Connecting

TEST_F(Oci8, RoleNameChoosesTheSessionMode) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "mode=0"}, {"SYSDBA", "mode=2"}, {"sysdba", "mode=0"}, {" SYSOPER ", "mode=4"}, {"SYSASM", "mode=0"}};
    for (const auto& [role, mode] : cases) {
        standin.Clear();
        Open(Params({std::string("ROLE NAME=") + role}));
        EXPECT_TRUE(standin.Logged(std::string("OCISessionBegin cred=1 ") + mode + " user=scott")) << role;
        ora.reset();
    }
}

TEST_F(Oci8, ABlankPasswordBeginsWithExternalCredentials) {
    for (const char* password : {"", "   "}) {
        standin.Clear();
        Open(Params(), kOci8Client, "ops$joe", password);
        EXPECT_TRUE(standin.Logged("session user=ops$joe"));
        EXPECT_TRUE(standin.Logged("OCISessionBegin cred=2 mode=0 user=ops$joe"));
        ora.reset();
    }
}

TEST_F(Oci8, AnExpiredPasswordIsChangedOnlyWithNewPassword) {
    standin.SetAccount("scott", "tiger", true);
    try {
        Open();
        FAIL() << "the password has expired";
    } catch (const ESDOraError& e) {
        EXPECT_EQ(e.ErrorCode, 28001);
        EXPECT_FALSE(e.ConnectionLost);
    }
    ora.reset();
    EXPECT_EQ(OciLoadCount(), 0);
    EXPECT_EQ(standin.OpenHandles(), 0);

    Open(Params({"NEW PASSWORD= lion "}));
    EXPECT_TRUE(standin.Logged("OCIPasswordChange user=scott mode=8"));
    EXPECT_EQ(ora->Query("select 0 from DUAL"), (Rows{{"0"}}));
    ora.reset();
    Open(Params(), kOci8Client, "scott", "lion");  // the new password holds from now on
    ora.reset();
    try {
        Open(Params(), kOci8Client, "scott", "tiger");
        FAIL() << "the old password no longer holds";
    } catch (const ESDOraError& e) {
        EXPECT_EQ(e.ErrorCode, 1017);
        EXPECT_EQ(e.NativeError, 1017);
        EXPECT_NE(e.Message().find("ORA-01017"), std::string::npos);
    }
}

TEST_F(Oci8, XaConnectionsNeedTheXaEntryPoints) {
    {
        OciStandin noXa("noxa");
        OracleHome home({kOci8Client}, "noxa");
        auto db = CreateOracleDatabase(nullptr, Params({"XA CONNECTION=true"}));
        try {
            db->Connect(home.Path().string() + "/xa.db", "", "");
            FAIL() << "the client lacks xaoEnv";
        } catch (const rtl::EDatabaseError& e) {
            EXPECT_EQ(e.Message(), "Function 'xaoEnv' not found in OCI library");
        }
        EXPECT_EQ(db->GetHandle(), nullptr);
    }
    EXPECT_EQ(OciLoadCount(), 0);
    SetOciLibraryList(kOciLibraryList);
    kwtest::TempDir dir;
    OracleHome home({kOci8Client});
    auto db = CreateOracleDatabase(nullptr, Params({"XA CONNECTION=TRUE"}));
    db->Connect((dir / "xa.db").string(), "ignored", "ignored");
    EXPECT_TRUE(standin.Logged("xaoEnv " + (dir / "xa.db").string()));
    EXPECT_TRUE(standin.Lines("OCIServerAttach").empty());
    EXPECT_TRUE(standin.Lines("OCISessionBegin").empty());
    EXPECT_EQ(odbctest::Query(*db, "select 1 from DUAL"), (Rows{{"1"}}));
    db->Disconnect(false);
    // An empty name makes xaoEnv answer nothing.
    try {
        db->Connect("", "", "");
        FAIL() << "xaoEnv answered nothing";
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Function \"xaoEnv\" failed");
    }
}

TEST_F(Oci8, VersionsDecideTheDateTimeAndTemporaryLobFlags) {
    struct Case {
        const char* server;
        const char* library;
        bool recent;
    };
    const Case cases[] = {
        {"10.2.0.1.0", "libclntsh.so.10.1", true},
        {"9.2.0.1.0", "libclntsh.so.9.0", true},
        {"9.2.0.1.0", "libclntsh.so.8.0", false},  // an 8i client on a 9i server
        {"8.1.7.0.0", "libclntsh.so.19.1", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.server) + " " + c.library);
        standin.Clear();
        standin.SetServerVersion(c.server);
        standin.SetTimeZone("-03:00");
        Open(Params(), c.library);
        auto& db = dynamic_cast<TIOra8Database&>(Db());
        EXPECT_EQ(db.DateTimeDescriptorsUsable(), c.recent);
        EXPECT_EQ(db.TemporaryLobsUsable(), c.recent);
        EXPECT_EQ(db.SessionTimeZone(), c.recent ? "-03:00" : "");
        EXPECT_EQ(standin.Lines("OCIStmtPrepare select sessiontimezone").size(), c.recent ? 1u : 0u);
        EXPECT_EQ(db.GetServerVersion(), ParseVersionNumber(c.server));
        ora.reset();
    }
    standin.SetServerVersion("10.2.0.1.0");
    Open();
    EXPECT_EQ(Db().GetServerVersion(), MakeVersionNumber(10, 2));
    EXPECT_EQ(Db().GetVersionString(), "Oracle Database Server  Release 10.2.0.1.0 - Production");
    EXPECT_TRUE(Db().TestConnected());
}

TEST_F(Oci8, DisconnectRollsBackAnOpenTransactionAndFreesEverything) {
    Open();
    ora->Exec("create table T (ID NUMBER(10))");
    Db().StartTransaction();
    ora->Exec("insert into T values (1)");
    standin.Clear();
    Db().Disconnect(false);
    const std::string journal = standin.Journal();
    EXPECT_LT(journal.find("OCITransRollback"), journal.find("OCISessionEnd"));
    EXPECT_LT(journal.find("OCISessionEnd"), journal.find("OCIServerDetach"));
    EXPECT_EQ(Db().GetHandle(), nullptr);
    EXPECT_EQ(standin.OpenHandles(), 0);
    EXPECT_EQ(OciLoadCount(), 0);
    // The same object connects again, taking a load again; the insert was rolled back.
    Db().InTransaction = false;
    Db().Connect(ora->file.string(), "scott", "tiger");
    EXPECT_EQ(OciLoadCount(), 1);
    EXPECT_EQ(ora->Query("select count(*) from T"), (Rows{{"0"}}));
}

TEST_F(Oci8, EachConnectionHoldsItsOwnLoad) {
    Open();
    kwtest::TempDir dir;
    auto other = CreateOracleDatabase(nullptr, Params());
    other->Connect((dir / "b.db").string(), "scott", "tiger");
    EXPECT_EQ(OciLoadCount(), 2);
    // Reconnecting one connection while the other keeps the library loaded must take a load
    // again, or its next disconnect would free the library under the other.
    Db().Disconnect(false);
    Db().Connect(ora->file.string(), "scott", "tiger");
    Db().Disconnect(false);
    EXPECT_EQ(OciLoadCount(), 1);
    EXPECT_EQ(odbctest::Query(*other, "select 2 from DUAL"), (Rows{{"2"}}));
    other->Disconnect(false);
    other.reset();
    EXPECT_EQ(OciLoadCount(), 0);
}

TEST_F(Oci8, ALostConnectionIsFlaggedAndPassesThroughTheConnectionsHandler) {
    for (int code : {3113, 12571}) {
        SCOPED_TRACE(code);
        Open();
        int handled = 0;
        Db().ErrorProc = [&](TISqlDatabase&, const ESDEngineError& e) {
            ++handled;
            EXPECT_TRUE(e.ConnectionLost);
        };
        standin.Fail("OCIStmtExecute", code);
        try {
            ora->Query("select 1 from DUAL");
            FAIL() << "the connection was lost";
        } catch (const ESDOraError& e) {
            EXPECT_EQ(e.ErrorCode, code);
            EXPECT_TRUE(e.ConnectionLost);
        }
        EXPECT_EQ(handled, 1);
        Db().ErrorProc = nullptr;
        // Every later call on the broken connection fails; a forced disconnect still ends.
        EXPECT_THROW(ora->Query("select 1 from DUAL"), ESDOraError);
        EXPECT_NO_THROW(Db().Disconnect(true));
        EXPECT_EQ(standin.OpenHandles(), 0);
        Db().Connect(ora->file.string(), "scott", "tiger");
        EXPECT_EQ(ora->Query("select 1 from DUAL"), (Rows{{"1"}}));
        ora.reset();
    }
    Open();
    standin.Fail("OCIStmtExecute", 1017);
    try {
        ora->Query("select 1 from DUAL");
    } catch (const ESDOraError& e) {
        EXPECT_FALSE(e.ConnectionLost);
    }
}

// ---------------------------------------------------------------------------------------------
// Catalog

TEST_F(Oci8, CatalogQueries) {
    Open();
    ora->Exec("create table EMP (ID NUMBER(10) not null primary key, NAME VARCHAR2(30), DEPT NUMBER(5))");
    ora->Exec("create unique index EMP_NAME on EMP (NAME)");
    ora->Exec("create table EMPLOYEE_X (ID NUMBER(10))");
    ora->Exec("create table DEPT (ID NUMBER(10))");
    ora->Exec("create view EMP_V as select ID from EMP");
    auto rows = [&](TSDSchemaType kind, const std::string& name, const std::vector<std::string>& fields) {
        TISqlCommandPtr cmd = Db().GetSchemaInfo(kind, name);
        Rows out;
        if (!cmd) return out;
        while (cmd->FetchNextRow()) {
            std::vector<std::string> row;
            for (const std::string& f : fields) {
                std::string v;
                cmd->GetFieldAsString(cmd->FieldDescs->FieldDescByName(f).FieldNo, v);
                row.push_back(v);
            }
            out.push_back(row);
        }
        return out;
    };
    EXPECT_EQ(rows(stTables, "SCOTT.*", {"SCHEMA_NAME", "TABLE_NAME", "TABLE_TYPE"}),
              (Rows{{"SCOTT", "DEPT", "1"}, {"SCOTT", "EMP", "1"}, {"SCOTT", "EMPLOYEE_X", "1"}, {"SCOTT", "EMP_V", "2"}}));
    EXPECT_EQ(rows(stTables, "*.EMP%", {"TABLE_NAME"}), (Rows{{"EMP"}, {"EMPLOYEE_X"}, {"EMP_V"}}));
    EXPECT_EQ(rows(stSysTables, "", {"SCHEMA_NAME", "TABLE_NAME", "TABLE_TYPE"}),
              (Rows{{"SYS", "ALL_OBJECTS", "6"}, {"SYS", "DUAL", "5"}}));
    EXPECT_TRUE(rows(stTables, "X' or '1'='1", {"TABLE_NAME"}).empty());
    EXPECT_EQ(rows(stColumns, "emp", {"COLUMN_NAME", "COLUMN_POSITION", "COLUMN_TYPENAME", "COLUMN_NULLABLE"}),
              (Rows{{"ID", "1", "NUMBER", "0"}, {"NAME", "2", "VARCHAR2", "1"}, {"DEPT", "3", "NUMBER", "1"}}));
    EXPECT_EQ(rows(stIndexes, "EMP", {"INDEX_NAME", "COLUMN_NAME", "INDEX_TYPE"}),
              (Rows{{"PK_EMP", "ID", "4"}, {"EMP_NAME", "NAME", "2"}, {"PK_EMP", "ID", "2"}}));
    EXPECT_EQ(rows(stProcedures, "KW_%", {"PROC_NAME", "PROC_TYPE"})[0], (std::vector<std::string>{"KW_ADD", "1"}));
    EXPECT_EQ(rows(static_cast<TSDSchemaType>(6), "", {"PACKAGE_NAME"}), (Rows{{"KW_PKG"}}));
    EXPECT_EQ(Db().GetSchemaInfo(stProcedureParams, "KW_ADD"), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Statements and binds

TEST_F(Oci8, ParametersOfEveryBoundTypeAndTheRowsTheyTouch) {
    Open(Params({"ENABLE INTEGERS=TRUE"}));
    ora->Exec("create table T (ID NUMBER(10), SMALL NUMBER(4), F FLOAT, B NUMBER(10,2), S VARCHAR2(20), C CHAR(5), "
              "D DATE)");
    TParams p;
    p.CreateParam(ftInteger, "id", ptInput).SetValue(rtl::Variant(int32_t(7)));
    p.CreateParam(ftSmallint, "small", ptInput).SetValue(rtl::Variant(int16_t(-12)));
    p.CreateParam(ftFloat, "f", ptInput).SetValue(rtl::Variant(0.1));
    p.CreateParam(ftBCD, "b", ptInput).SetValue(rtl::Variant(12.5));
    p.CreateParam(ftString, "s", ptInput).SetValue(rtl::Variant("O'Brien \\ é"));
    p.CreateParam(ftFixedChar, "c", ptInput).SetValue(rtl::Variant("ab"));
    p.CreateParam(ftDate, "d", ptInput).SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2024, 3, 5)));
    TISqlCommandPtr insert =
        Run("insert into T values (:id, :small, :f, :b, :s, :c, :d)", p);
    EXPECT_EQ(insert->GetRowsAffected(), 1);
    EXPECT_EQ(p[5].DataType(), ftString);  // a fixed-char parameter binds as a string from then on
    EXPECT_EQ(ora->Query("select ID, SMALL, F, B, S, C, D from T"),
              (Rows{{"7", "-12", "0.1", "12.5", "O'Brien \\ é", "ab", "2024-03-05 00:00:00.000"}}));
    ora->Exec("insert into T (ID) values (8)");
    TParams none;
    TISqlCommandPtr update = Run("update T set SMALL = 1", none);
    EXPECT_EQ(update->GetRowsAffected(), 2);
    TISqlCommandPtr select = Run("select ID from T", none);
    EXPECT_EQ(select->GetRowsAffected(), -1);
}

TEST_F(Oci8, LobsBelowVersion9AreWrittenThroughReturnedLocators) {
    standin.SetServerVersion("8.1.7.0.0");
    Open();
    ora->Exec("create table T (ID NUMBER(10), DOC BLOB, NOTE CLOB)");
    TParams p;
    p.CreateParam(ftInteger, "ID", ptInput).SetValue(rtl::Variant(int32_t(1)));
    p.CreateParam(ftOraBlob, "DOC", ptInput).SetValue(rtl::Variant::FromBytes({0, 1, 2, 0, 255}));
    standin.Clear();
    Run("insert into T (ID, DOC) values (:ID, :DOC)", p);
    EXPECT_TRUE(standin.Logged("OCIStmtPrepare insert into T (ID, DOC) values (:1, empty_blob()) returning DOC into :2"));
    EXPECT_TRUE(standin.Logged("OCIBindByName 2 dty=113 size=8 at execution"));
    EXPECT_TRUE(standin.Logged("in-bind 2"));
    EXPECT_TRUE(standin.Logged("OCILobWrite 5 bytes into T.DOC"));
    // The statement commits after its LOB is written: a locator does not outlive its
    // transaction.
    const std::string journal = standin.Journal();
    EXPECT_NE(journal.find("OCIStmtExecute iters=1 mode=0"), std::string::npos);
    EXPECT_LT(journal.find("OCILobWrite 5 bytes"), journal.find("OCITransCommit"));
    EXPECT_EQ(ora->Query("select length(DOC), hex(DOC) from T"), (Rows{{"5", "00010200FF"}}));

    // An update touching three rows writes the value into every returned locator.
    ora->Exec("insert into T (ID) values (2)");
    ora->Exec("insert into T (ID) values (3)");
    TParams u;
    u.CreateParam(ftOraClob, "NOTE", ptInput).SetValue(rtl::Variant("três"));
    standin.Clear();
    Run("update T set NOTE = :NOTE", u);
    EXPECT_TRUE(standin.Logged("returned 3 locator(s) for 1"));
    EXPECT_EQ(standin.Lines("OCILobWrite").size(), 3u);
    EXPECT_EQ(ora->Query("select ID, NOTE from T order by ID"), (Rows{{"1", "três"}, {"2", "três"}, {"3", "três"}}));
    // Nothing but the connection's five handles is left: every locator went with its statement.
    EXPECT_EQ(standin.OpenHandles(), 5);
}

TEST_F(Oci8, TheReturningTestSeesLineBreaksAndBlanks) {
    standin.SetServerVersion("8.1.7.0.0");
    Open();
    ora->Exec("create table T (ID NUMBER(10), DOC BLOB)");
    for (const char* sql : {"insert into T (ID, DOC) values (:ID, empty_blob()) returning DOC into :DOC",
                            "insert into T (ID, DOC) values (:ID, empty_blob())\nRETURNING\tDOC into :DOC"}) {
        TParams p;
        p.CreateParam(ftInteger, "ID", ptInput).SetValue(rtl::Variant(int32_t(1)));
        p.CreateParam(ftOraBlob, "DOC", ptInput).SetValue(rtl::Variant::FromBytes({7}));
        TISqlCommandPtr cmd = Db().CreateSqlCommand(nullptr);
        cmd->SetParams(&p);
        cmd->Prepare(sql);
        EXPECT_EQ(cmd->PreparedText.find("returning DOC into :2, "), std::string::npos) << cmd->PreparedText;
        EXPECT_EQ(std::count(cmd->PreparedText.begin(), cmd->PreparedText.end(), ':'), 2) << cmd->PreparedText;
    }
}

TEST_F(Oci8, FromVersion9LobsAreSentAsTemporaryLobs) {
    Open();
    ora->Exec("create table T (ID NUMBER(10), DOC BLOB)");
    TParams p;
    p.CreateParam(ftInteger, "ID", ptInput).SetValue(rtl::Variant(int32_t(1)));
    p.CreateParam(ftOraBlob, "DOC", ptInput).SetValue(rtl::Variant::FromBytes({9, 8, 7}));
    standin.Clear();
    Run("insert into T (ID, DOC) values (:ID, :DOC)", p);
    EXPECT_TRUE(standin.Logged("OCIStmtPrepare insert into T (ID, DOC) values (:1, :2)"));
    EXPECT_TRUE(standin.Logged("OCILobCreateTemporary type=1 duration=10"));
    EXPECT_TRUE(standin.Logged("OCILobWrite 3 bytes"));
    EXPECT_EQ(ora->Query("select hex(DOC) from T"), (Rows{{"090807"}}));
    EXPECT_EQ(standin.OpenHandles(), 5);  // the locator was freed with the parameters
}

TEST_F(Oci8, TimeStampsKeepMillisecondsThroughDescriptors) {
    Open();
    ora->Exec("create table T (TS TIMESTAMP, D DATE)");
    const rtl::TDateTime value = rtl::EncodeDate(2024, 3, 5) + rtl::EncodeTime(10, 20, 30, 123);
    TParams p;
    p.CreateParam(ftDateTime, "ts", ptInput).SetValue(rtl::Variant::FromDateTime(value));
    p.CreateParam(ftDateTime, "d", ptInput).SetValue(rtl::Variant::FromDateTime(value));
    standin.Clear();
    Run("insert into T values (:ts, :d)", p);
    EXPECT_TRUE(standin.Logged("OCIBindByName 1 dty=187 size=8"));
    EXPECT_TRUE(standin.Logged("OCIDateTimeConstruct 2024-03-05 10:20:30.123 +00:00 zone=+00:00"));
    TParams none;
    TISqlCommandPtr cmd = Run("select TS, D from T", none);
    const TSDFieldDesc& ts = cmd->FieldDescs->GetFieldDesc(0);
    const TSDFieldDesc& d = cmd->FieldDescs->GetFieldDesc(1);
    EXPECT_EQ(ts.FieldType, ftDateTime);
    EXPECT_EQ(ts.DataSize, int32_t(sizeof(void*)));
    EXPECT_EQ(d.FieldType, ftDateTime);
    EXPECT_EQ(d.DataSize, 7);  // a DATE column stays a seven-byte date
    ASSERT_TRUE(cmd->FetchNextRow());
    rtl::TDateTime got = 0;
    ASSERT_TRUE(cmd->GetFieldAsDateTime(1, got));
    EXPECT_EQ(odbctest::Iso(got, ftDateTime), "2024-03-05 10:20:30.123");
    ASSERT_TRUE(cmd->GetFieldAsDateTime(2, got));
    EXPECT_EQ(odbctest::Iso(got, ftDateTime), "2024-03-05 10:20:30.000");
}

TEST_F(Oci8, LocalTimeZoneValuesCarryAcrossMidnight) {
    struct Case {
        const char* zone;
        const char* stored;
        const char* read;
    };
    const Case cases[] = {
        {"+01:00", "2024-03-05 23:30:00", "2024-03-06 00:30:00.000"},
        {"-03:00", "2024-03-01 01:00:00", "2024-02-29 22:00:00.000"},
        {"+05:30", "2024-12-31 20:00:00.250", "2025-01-01 01:30:00.250"},
    };
    for (const Case& c : cases) {
        standin.SetTimeZone(c.zone);
        Open();
        ora->Exec("create table T (L TIMESTAMP WITH LOCAL TIME ZONE)");
        ora->Exec(std::string("insert into T values ('") + c.stored + "')");
        EXPECT_EQ(ora->Query("select L from T"), (Rows{{c.read}})) << c.zone;
        ora.reset();
    }
}

TEST_F(Oci8, IntervalsReadAsPackedDecimals) {
    Open();
    ora->Exec("create table T (DS INTERVAL DAY TO SECOND, YM INTERVAL YEAR TO MONTH)");
    ora->Exec("insert into T values ('+01 02:03:04.500000', '+02-03')");
    ora->Exec("insert into T values (null, null)");
    TParams none;
    TISqlCommandPtr cmd = Run("select DS, YM from T", none);
    EXPECT_EQ(cmd->FieldDescs->GetFieldDesc(0).FieldType, ftBCD);
    ASSERT_TRUE(cmd->FetchNextRow());
    rtl::TBcd bcd;
    int64_t scaled = 0;
    ASSERT_TRUE(cmd->GetCnvtFieldData(cmd->FieldDescs->GetFieldDesc(0), &bcd, sizeof bcd));
    ASSERT_TRUE(rtl::BcdToCurrency(bcd, scaled));
    EXPECT_EQ(scaled, 10203045000LL);
    ASSERT_TRUE(cmd->GetCnvtFieldData(cmd->FieldDescs->GetFieldDesc(1), &bcd, sizeof bcd));
    ASSERT_TRUE(rtl::BcdToCurrency(bcd, scaled));
    EXPECT_EQ(scaled, 20300000000LL * 10000);
    ASSERT_TRUE(cmd->FetchNextRow());
    EXPECT_FALSE(cmd->GetCnvtFieldData(cmd->FieldDescs->GetFieldDesc(0), &bcd, sizeof bcd));
}

TEST_F(Oci8, LongTextsBeyondMaxStringSizeAreBlobsInAPlainBuffer) {
    Open(Params({"MAX STRING SIZE=255"}));
    ora->Exec("create table T (BIG VARCHAR2(4000), SMALL VARCHAR2(255))");
    const std::string big = Repeat("0123456789", 3000);
    TParams p;
    p.CreateParam(ftString, "b", ptInput).SetValue(rtl::Variant(big));
    p.CreateParam(ftString, "s", ptInput).SetValue(rtl::Variant(Repeat("s", 255)));
    Run("insert into T values (:b, :s)", p);
    TParams none;
    TISqlCommandPtr cmd = Run("select BIG, SMALL from T", none);
    EXPECT_EQ(cmd->FieldDescs->GetFieldDesc(0).FieldType, ftMemo);
    EXPECT_EQ(cmd->FieldDescs->GetFieldDesc(0).DataSize, 4001);
    EXPECT_EQ(cmd->FieldDescs->GetFieldDesc(1).FieldType, ftString);
    EXPECT_EQ(odbctest::FetchAll(*cmd), (Rows{{big, Repeat("s", 255)}}));
}

TEST_F(Oci8, LongValuesArriveInPiecesOfTheConnectionsOwnSize) {
    Open(Params({"BLOB PIECE SIZE=1000"}));
    ora->Exec("create table T (ID NUMBER(10), DOC LONG RAW)");
    ora->Exec("insert into T values (1, randomblob(3500))");
    ora->Exec("insert into T values (2, randomblob(1000))");
    ora->Exec("insert into T values (3, null)");
    ora->Exec("insert into T values (4, X'')");
    // Another connection with another piece size does not change this one's.
    kwtest::TempDir dir;
    auto other = CreateOracleDatabase(nullptr, Params({"BLOB PIECE SIZE=77"}));
    other->Connect((dir / "o.db").string(), "scott", "tiger");
    standin.Clear();
    TParams none;
    TISqlCommandPtr cmd = Run("select ID, DOC, hex(substr(DOC, 901, 200)) from T order by ID", none);
    std::vector<std::string> lengths;
    while (cmd->FetchNextRow()) {
        const TSDBlobRef doc = cmd->GetFieldBlobData(cmd->FieldDescs->GetFieldDesc(1));
        std::string hex;
        cmd->GetFieldAsString(3, hex);
        std::string got;
        if (doc)
            for (size_t i = 900; i < std::min<size_t>(doc->size(), 1100); ++i) {
                const uint8_t b = (*doc)[i];
                static const char* digits = "0123456789ABCDEF";
                got += digits[b >> 4];
                got += digits[b & 15];
            }
        EXPECT_EQ(got, hex);
        lengths.push_back(std::to_string(doc ? doc->size() : 0));
    }
    EXPECT_EQ(lengths, (std::vector<std::string>{"3500", "1000", "0", "0"}));
    EXPECT_TRUE(standin.Logged("LONG 3500 bytes in 4 piece(s)"));
    EXPECT_TRUE(standin.Logged("LONG 1000 bytes in 1 piece(s)"));
    other->Disconnect(false);
}

TEST_F(Oci8, FilesAreOpenedReadOnlyReadAndClosed) {
    Open();
    kwtest::TempDir dir;
    kwtest::WriteFile(dir / "doc.bin", std::string("\0file\1", 6));
    ora->Exec("create table T (ID NUMBER(10), F BFILE)");
    ora->Exec("insert into T values (1, '" + (dir / "doc.bin").string() + "')");
    ora->Exec("insert into T values (2, null)");
    standin.Clear();
    TParams none;
    TISqlCommandPtr cmd = Run("select F from T order by ID", none);
    EXPECT_EQ(cmd->FieldDescs->GetFieldDesc(0).FieldType, ftOraBlob);
    ASSERT_TRUE(cmd->FetchNextRow());
    const TSDBlobRef file = cmd->GetFieldBlobData(cmd->FieldDescs->GetFieldDesc(0));
    ASSERT_TRUE(file);
    EXPECT_EQ(std::string(file->begin(), file->end()), std::string("\0file\1", 6));
    const std::vector<std::string> opened = standin.Lines("OCILobFile");
    EXPECT_EQ(opened, (std::vector<std::string>{"OCILobFileOpen " + (dir / "doc.bin").string() + " mode=1",
                                                "OCILobFileClose " + (dir / "doc.bin").string()}));
    standin.Clear();
    ASSERT_TRUE(cmd->FetchNextRow());
    EXPECT_FALSE(cmd->GetFieldBlobData(cmd->FieldDescs->GetFieldDesc(0)));
    EXPECT_TRUE(standin.Lines("OCILob").empty());  // a null file costs no client call
}

// ---------------------------------------------------------------------------------------------
// Procedures

TEST_F(Oci8, ProceduresAreDescribedCalledAndGiveTheirOutputs) {
    Open();
    TParams add;
    TISqlCommandPtr cmd = Procedure("KW_ADD", add, [](TParams& p) {
        p.ParamByName("A").SetValue(rtl::Variant(2.5));
        p.ParamByName("B").SetValue(rtl::Variant(int32_t(3)));
    });
    ASSERT_EQ(add.Count(), 3);
    EXPECT_EQ(add[2].ParamType(), ptOutput);
    EXPECT_EQ(add[2].DataType(), ftFloat);
    EXPECT_DOUBLE_EQ(add.ParamByName("C").Value().AsDouble(), 5.5);
    EXPECT_EQ(cmd->PreparedText, "begin KW_ADD (A => :A, B => :B, C => :C); end;");

    TParams echo;
    Procedure("KW_ECHO", echo, [](TParams& p) {
        p.ParamByName("S").SetValue(rtl::Variant("abc"));
        p.ParamByName("D").SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2024, 2, 28)));
    });
    EXPECT_EQ(echo.ParamByName("S").AsString(), "ABC");
    EXPECT_DOUBLE_EQ(echo.ParamByName("D").Value().AsDateTime(), rtl::EncodeDate(2024, 2, 29));
}

TEST_F(Oci8, FunctionsAndPackageRoutinesAreDescribed) {
    Open();
    // A stand-alone function: the procedure describe fails, the function describe answers.
    TParams fn;
    standin.Clear();
    Procedure("KW_DOUBLE", fn, [](TParams& p) { p.ParamByName("X").SetValue(rtl::Variant(21.0)); });
    EXPECT_TRUE(standin.Logged("OCIDescribeAny KW_DOUBLE type=3"));
    EXPECT_TRUE(standin.Logged("OCIDescribeAny KW_DOUBLE type=4"));
    ASSERT_EQ(fn.Count(), 2);
    EXPECT_EQ(fn[0].Name(), "Result");
    EXPECT_EQ(fn[0].ParamType(), ptResult);
    EXPECT_DOUBLE_EQ(fn[0].Value().AsDouble(), 42);
    // A package function given as owner.package.function, found case-insensitively.
    TParams pkg;
    standin.Clear();
    TISqlCommandPtr cmd = Procedure("scott.kw_pkg.name_of", pkg, [](TParams& p) {
        p.ParamByName("ID").SetValue(rtl::Variant(int32_t(7)));
    });
    EXPECT_TRUE(standin.Logged("OCIDescribeAny scott.kw_pkg type=5"));
    ASSERT_EQ(pkg.Count(), 2);
    EXPECT_EQ(pkg[0].ParamType(), ptResult);
    EXPECT_EQ(pkg[0].DataType(), ftString);
    EXPECT_EQ(pkg[0].AsString(), "N7");
    EXPECT_EQ(cmd->PreparedText, "begin :Result := SCOTT.KW_PKG.NAME_OF (ID => :ID); end;");
}

TEST_F(Oci8, ACursorParameterSuppliesTheRows) {
    Open();
    TParams p;
    TISqlCommandPtr cmd = Db().CreateSqlCommand(nullptr);
    cmd->CommandType = 2;
    cmd->SetParams(&p);
    cmd->Prepare("scott.KW_PKG.OPEN_NUMBERS");
    ASSERT_EQ(p.Count(), 2);
    EXPECT_EQ(p[1].DataType(), ftCursor);
    EXPECT_EQ(p[1].ParamType(), ptOutput);
    p.ParamByName("N").SetValue(rtl::Variant(int32_t(3)));
    EXPECT_TRUE(cmd->ResultSetExists());
    cmd->InitFieldDescs();  // describing executes the call, so that the cursor exists
    ASSERT_EQ(cmd->FieldDescs->Count(), 2);
    cmd->Execute();
    EXPECT_EQ(odbctest::FetchAll(*cmd), (Rows{{"1", "N1"}, {"2", "N2"}, {"3", "N3"}}));
    EXPECT_EQ(standin.Lines("call KW_PKG.OPEN_NUMBERS").size(), 1u);
    cmd->CloseResultSet();
    cmd.reset();
    EXPECT_EQ(standin.OpenHandles(), 5);
}

TEST_F(Oci8, LongProcedureValuesAreSentWhenTheExecutionAsks) {
    Open();
    ora->Exec("create table KW_LONGS (ID NUMBER(10), DOC LONG RAW)");
    const std::string doc = Repeat(std::string("\0\1\2", 3), 5000);
    TParams p;
    standin.Clear();
    Procedure("KW_PUT_LONG", p, [&](TParams& params) {
        params.ParamByName("ID").SetValue(rtl::Variant(int32_t(1)));
        params.ParamByName("DOC").SetValue(rtl::Variant::FromBytes(rtl::ByteArray(doc.begin(), doc.end())));
    });
    EXPECT_EQ(p.ParamByName("DOC").DataType(), ftBlob);
    EXPECT_TRUE(standin.Logged("OCIBindByName DOC dty=24 size=2147483647 at execution"));
    EXPECT_TRUE(standin.Logged("piece asked for DOC"));
    EXPECT_TRUE(standin.Logged("piece DOC 5000 bytes piece=3"));
    EXPECT_EQ(ora->Query("select length(DOC) from KW_LONGS"), (Rows{{"5000"}}));
    // The execution that ran the call committed it, as auto-commit asks: another connection
    // sees the row.
    EXPECT_EQ(standin.Lines("OCIStmtExecute iters=1 mode=32").size(), 2u);
    auto other = CreateOracleDatabase(nullptr, Params());
    other->Connect(ora->file.string(), "scott", "tiger");
    EXPECT_EQ(odbctest::Query(*other, "select count(*) from KW_LONGS"), (Rows{{"1"}}));
    other->Disconnect(false);
}

TEST_F(Oci8, LobProcedureArguments) {
    for (const char* server : {"10.2.0.1.0", "8.1.7.0.0"}) {
        SCOPED_TRACE(server);
        standin.SetServerVersion(server);
        Open();
        ora->Exec("create table KW_DOCS (ID NUMBER(10), DOC BLOB)");
        ora->Exec("insert into KW_DOCS values (4, X'CAFE00')");
        // An input LOB reaches the procedure as a temporary LOB when the versions allow one;
        // below 9 it can only be an empty LOB.
        TParams in;
        Procedure("KW_DOC_LEN", in, [](TParams& p) {
            p.ParamByName("B").SetValue(rtl::Variant::FromBytes({1, 2, 3, 4}));
        });
        EXPECT_EQ(in.ParamByName("N").Value().AsInteger(), std::string(server) == "10.2.0.1.0" ? 4 : 0);
        TParams out;
        Procedure("KW_GET_DOC", out, [](TParams& p) { p.ParamByName("ID").SetValue(rtl::Variant(int32_t(4))); });
        EXPECT_EQ(Bytes(out.ParamByName("B").Value()), std::string("\xCA\xFE\0", 3));
        ora.reset();
        EXPECT_EQ(standin.OpenHandles(), 0);
    }
}

// ---------------------------------------------------------------------------------------------
// Bad input: a clear error, and the connection still works

TEST_F(Oci8, BadInputGivesAClearErrorAndTheConnectionStaysUsable) {
    Open();
    ora->Exec("create table T (ID NUMBER(10), X XMLTYPE, DOC LONG RAW)");
    ora->Exec("insert into T values (1, '<a/>', X'00')");
    struct Case {
        const char* name;
        std::function<void()> run;
        std::string message;  // "" for a client error whose number is checked instead
        int number;
    };
    const Case cases[] = {
        {"currency parameter",
         [&] {
             TParams p;
             p.CreateParam(ftCurrency, "P", ptInput).SetValue(rtl::Variant(1.0));
             Run("select ID from T where ID = :P", p);
         },
         "Unknown data type for parameter 'P'", 0},
        {"boolean parameter",
         [&] {
             TParams p;
             p.CreateParam(ftBoolean, "B", ptInput).SetValue(rtl::Variant(true));
             Run("select ID from T where ID = :B", p);
         },
         "Unknown data type for parameter 'B'", 0},
        {"time parameter",
         [&] {
             TParams p;
             p.CreateParam(ftTime, "T", ptInput).SetValue(rtl::Variant::FromDateTime(0.5));
             Run("select ID from T where ID = :T", p);
         },
         "", 3115},
        {"unsupported column", [&] { ora->Query("select X from T"); }, "Field 'X' is of an unsupported type", 0},
        {"unsupported argument",
         [&] {
             TParams p;
             Procedure("KW_ODD_TYPE", p);
         },
         "Field 'X' is of an unsupported type", 0},
        {"unknown argument mode",
         [&] {
             TParams p;
             Procedure("KW_ODD_MODE", p);
         },
         "Unknown parameter type for parameter 'X'", 0},
        {"status nobody names",
         [&] {
             standin.AnswerStatus("OCIStmtFetch", 7);
             ora->Query("select ID from T");
         },
         "the client answered the unexpected status 7", 0},
        {"LONG piece above 2",
         [&] {
             standin.ForceLongPiece(3);
             ora->Query("select DOC from T");
         },
         "LONG piece 3 asked for (TIOra8Command)", 0},
        {"parse error", [&] { ora->Query("select ID frm T"); }, "", 900},
        {"unknown routine",
         [&] {
             TParams p;
             Procedure("NO_SUCH", p);
         },
         "", 4043},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            c.run();
            ADD_FAILURE() << "no error";
        } catch (const ESDOraError& e) {
            if (c.number != 0)
                EXPECT_EQ(e.ErrorCode, c.number) << e.Message();
            else
                EXPECT_EQ(e.Message(), c.message);
            if (c.number == 900) {
                EXPECT_GE(e.ErrorPos, 0);  // a parse error carries its offset
            }
            EXPECT_FALSE(e.ConnectionLost);
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(c.number, 0) << e.Message();
            EXPECT_EQ(e.Message(), c.message);
        }
        EXPECT_EQ(ora->Query("select ID from T"), (Rows{{"1"}}));
    }
}

TEST_F(Oci8, WriteBlobIsNotImplemented) {
    Open();
    TISqlCommandPtr cmd = Db().CreateSqlCommand(nullptr);
    try {
        cmd->WriteBlob(1, nullptr, 0);
        FAIL();
    } catch (const rtl::EAssertionFailed& e) {
        EXPECT_EQ(e.Message(), "Function TIOra8Command.WriteBlob not implemented");
    }
}

TEST_F(Oci8, DescribedTypesAndSizes) {
    Open(Params({"ENABLE BCD=TRUE", "ENABLE INTEGERS=TRUE", "MAX STRING SIZE=255"}));
    ora->Exec("create table T (V VARCHAR2(40), C CHAR(5), N5 NUMBER(5), N10 NUMBER(10), N12 NUMBER(12), "
              "B NUMBER(10,2), F FLOAT, D DATE, TS TIMESTAMP, TZ TIMESTAMP WITH TIME ZONE, R RAW(16), "
              "BIG VARCHAR2(300), L LONG, LR LONG RAW, CL CLOB, BL BLOB, BF BFILE, DS INTERVAL DAY TO SECOND, "
              "NN NUMBER(10) not null)");
    TParams none;
    TISqlCommandPtr cmd = Run("select * from T", none);
    const int32_t pointer = int32_t(sizeof(void*));
    struct Expected {
        const char* name;
        TFieldType type;
        int32_t size;
        int16_t native;
        bool required;
    };
    const Expected expected[] = {
        {"V", ftString, 41, 1, false},       {"C", ftString, 6, 96, false},
        {"N5", ftSmallint, 2, 2, false},     {"N10", ftInteger, 4, 2, false},
        {"N12", ftFloat, 8, 2, false},       {"B", ftBCD, 8, 2, false},
        {"F", ftFloat, 8, 2, false},         {"D", ftDateTime, 7, 12, false},
        {"TS", ftDateTime, pointer, 187, false}, {"TZ", ftDateTime, pointer, 188, false},
        {"R", ftVarBytes, 17, 23, false},    {"BIG", ftMemo, 301, 1, false},
        {"L", ftMemo, pointer, 8, false},    {"LR", ftBlob, pointer, 24, false},
        {"CL", ftOraClob, pointer, 112, false}, {"BL", ftOraBlob, pointer, 113, false},
        {"BF", ftOraBlob, pointer, 114, false}, {"DS", ftBCD, pointer, 190, false},
        {"NN", ftInteger, 4, 2, true},
    };
    ASSERT_EQ(cmd->FieldDescs->Count(), int(std::size(expected)));
    for (int i = 0; i < cmd->FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = cmd->FieldDescs->GetFieldDesc(i);
        const Expected& e = expected[i];
        EXPECT_EQ(d.FieldName, e.name);
        EXPECT_EQ(d.FieldType, e.type) << e.name;
        EXPECT_EQ(d.DataSize, e.size) << e.name;
        EXPECT_EQ(d.NativeType, e.native) << e.name;
        EXPECT_EQ(d.Required, e.required) << e.name;
    }
    EXPECT_TRUE(cmd->FieldDescs->GetFieldDesc(1).IsFixedChar);
}
