// The driver connection: options, version numbers, date-time records, the wrappers' order of
// calls, error handling and the stubs, against the recording fake driver.
#include <gtest/gtest.h>

#include <cmath>

#include "FakeSqlDriver.h"
#include "database/engine/SDCommon.h"
#include "rtl/Assert.h"
#include "rtl/DateTime.h"

namespace {

using fake::CallLog;
using fake::FakeDatabase;

rtl::StringList Lines(std::initializer_list<std::string> lines) {
    return rtl::StringList(lines);
}

TEST(SDCommon, OptionsFromParameters) {
    struct Case {
        rtl::StringList params;
        TSDServerType type;
        bool enableBcd, rtrim, single;
        int32_t maxFieldNameLen, maxStringSize, blobPieceSize, prefetchRows;
    };
    const Case cases[] = {
        {Lines({}), stODBC, false, true, false, 70, 255, 32752, 1},
        {Lines({"ENABLE BCD=  true ", "RTRIM CHAR OUTPUT=False"}), stODBC, true, false, false, 70, 255, 32752,
         1},
        {Lines({"enable bcd=yes", "RTRIM CHAR OUTPUT=no"}), stODBC, false, true, false, 70, 255, 32752, 1},
        {Lines({"SINGLE CONNECTION=FALSE"}), stSQLServer, false, true, true, 70, 255, 32752, 1},
        {Lines({"SINGLE CONNECTION= True"}), stOracle, false, true, true, 70, 255, 32752, 1},
        {Lines({"MAXFIELDNAMELEN=abc", "MAX STRING SIZE=1000", "BLOB PIECE SIZE= 4096 ", "PREFETCH ROWS=20"}),
         stODBC, false, true, false, 70, 1000, 4096, 20},
        {Lines({"MAX STRING SIZE=", "PREFETCH ROWS=2.5"}), stODBC, false, true, false, 70, 255, 32752, 1},
        // A name buffer or long-data piece of no bytes is no size; no prefetch is a choice.
        {Lines({"MAXFIELDNAMELEN=0", "BLOB PIECE SIZE=-4096", "PREFETCH ROWS=0", "MAX STRING SIZE=0"}),
         stODBC, false, true, false, 70, 0, 32752, 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        CallLog log;
        FakeDatabase db(nullptr, c.params, c.type, log);
        EXPECT_EQ(db.EnableBCD, c.enableBcd) << i;
        EXPECT_EQ(db.RTrimCharOutput, c.rtrim) << i;
        EXPECT_EQ(db.SingleConnection, c.single) << i;
        EXPECT_EQ(db.MaxFieldNameLen, c.maxFieldNameLen) << i;
        EXPECT_EQ(db.MaxStringSize, c.maxStringSize) << i;
        EXPECT_EQ(db.BlobPieceSize, c.blobPieceSize) << i;
        EXPECT_EQ(db.PrefetchRows, c.prefetchRows) << i;
        EXPECT_EQ(db.Params, c.params) << i;  // a copy of the lines
        EXPECT_EQ(db.GetServerType(), c.type);
        EXPECT_TRUE(db.AutoCommit && db.AutoCommitDefault && db.CursorPreservedOnStart &&
                    db.CursorPreservedOnCommit && db.CursorPreservedOnRollback && db.SchemaNamesSupported);
        EXPECT_FALSE(db.InTransaction);
        EXPECT_EQ(db.TransIsolation, tiDirtyRead);
    }
}

TEST(SDCommon, VersionNumbers) {
    struct Case {
        const char* text;
        int32_t major, minor;
    };
    const Case cases[] = {
        {"8.1.7.0", 8, 1},
        {"Release 9.2.0.1.0", 9, 2},
        {"10.2", 10, 2},
        {"12", 0, 12},
        {"", 0, 0},
        {"Oracle9i Release 9.2.0.1.0", 9, 9},
        {"03.52.0000", 3, 52},
        {"v70000.1", 70000 & 0xFFFF, 1},
        {"abc", 0, 0},
        {"7.", 7, 0},
    };
    for (const auto& c : cases) {
        const int32_t v = ParseVersionNumber(c.text);
        EXPECT_EQ(GetVersionMajor(v), c.major) << c.text;
        EXPECT_EQ(GetVersionMinor(v), c.minor) << c.text;
        EXPECT_EQ(v, MakeVersionNumber(c.major, c.minor)) << c.text;
    }
    EXPECT_EQ(MakeVersionNumber(8, 1), 8 * 65536 + 1);
}

TEST(SDCommon, ServerNamesAndApiLibraryParameters) {
    const char* names[] = {"SQLBase", "Oracle",    "SQLServer", "Sybase", "DB2",        "Informix",
                           "ODBC",    "Interbase", "Firebird",  "MySQL",  "PostgreSQL", "OLEDB"};
    for (int t = 0; t < kServerTypeCount; ++t) {
        EXPECT_EQ(GetServerTypeName(t), names[t]);
        EXPECT_EQ(GetApiLibraryParamName(t), std::string(names[t]) + " API LIBRARY");
    }
    EXPECT_EQ(GetApiLibraryParamName(stPostgreSQL), "PostgreSQL API LIBRARY");
    EXPECT_EQ(GetApiLibraryParamName(12), "");
    EXPECT_EQ(GetApiLibraryParamName(-1), "");
}

TEST(SDCommon, BlobFieldTypesByServer) {
    for (TFieldType t : {ftBlob, ftMemo, ftGraphic, ftFmtMemo, ftParadoxOle, ftDBaseOle, ftTypedBinary,
                         ftOraBlob, ftOraClob}) {
        EXPECT_TRUE(IsBlobFieldType(stOracle, t)) << t;
        EXPECT_TRUE(IsBlobFieldType(stODBC, t)) << t;
    }
    EXPECT_TRUE(IsBlobFieldType(stODBC, ftVarBytes));
    EXPECT_FALSE(IsBlobFieldType(stDB2, ftVarBytes));
    for (TFieldType t : {ftString, ftBytes, ftInteger, ftCursor, ftGuid, ftWideString})
        EXPECT_FALSE(IsBlobFieldType(stODBC, t)) << t;
}

TEST(SDCommon, DateTimeRecords) {
    EXPECT_DOUBLE_EQ(DateTimeRecToDateTime(ftTime, TSDDateTimeRec::FromTime(12 * 3600 * 1000)), 0.5);
    EXPECT_DOUBLE_EQ(DateTimeRecToDateTime(ftDate, TSDDateTimeRec::FromDate(693594)), 0.0);
    EXPECT_DOUBLE_EQ(DateTimeRecToDateTime(ftDate, TSDDateTimeRec::FromDate(693594 + 36526)),
                     rtl::EncodeDate(2000, 1, 1));
    // 29 December 1899, 06:00: the time runs forwards from midnight before the zero day.
    EXPECT_DOUBLE_EQ(DateTimeRecToDateTime(
                         ftDateTime, TSDDateTimeRec::FromDateTime(693593.0 * 86400000.0 + 6 * 3600000.0)),
                     -1.25);
    EXPECT_DOUBLE_EQ(
        DateTimeRecToDateTime(ftDateTime, TSDDateTimeRec::FromDateTime((693594.0 + 36526) * 86400000.0 +
                                                                       1.4)),  // rounds to 1 ms
        rtl::EncodeDate(2000, 1, 1) + 1.0 / 86400000.0);
    try {
        DateTimeRecToDateTime(ftString, TSDDateTimeRec());
        FAIL();
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "Unknown data type in function DateTimeRecToDateTime");
    }
    EXPECT_THROW(DateTimeRecToDateTime(ftDate, TSDDateTimeRec::FromDate(0)), rtl::EConvertError);
    EXPECT_THROW(DateTimeRecToDateTime(ftDateTime, TSDDateTimeRec::FromDateTime(std::nan(""))),
                 rtl::EConvertError);
}

class Wrappers : public ::testing::Test {
protected:
    CallLog log;
    FakeDatabase db{nullptr, rtl::StringList(), stODBC, log};
    void SetUp() override { log.Clear(); }
};

TEST_F(Wrappers, ConnectAndDisconnect) {
    db.Connect("srv:db", "user", "pw");
    EXPECT_EQ(log.Joined(), "DoConnect(srv:db,user,pw)");
    EXPECT_NE(db.GetHandle(), nullptr);
    db.InTransaction = true;
    db.Disconnect(true);
    EXPECT_EQ(log.Joined(), "DoConnect(srv:db,user,pw) DoDisconnect(true)");
    EXPECT_TRUE(db.InTransaction);  // not touched by Disconnect
}

TEST_F(Wrappers, FailedConnectIsCleanedUpAndReportsTheServerError) {
    db.failIn = {"DoConnect"};
    try {
        db.Connect("srv:db", "u", "p");
        FAIL();
    } catch (const ESDFakeError& e) {  // the driver's own class reaches the caller
        EXPECT_EQ(e.Message(), "server failed in DoConnect");
        EXPECT_EQ(e.NativeError, 0x12345678);  // all 32 bits of the native error
        EXPECT_EQ(e.ErrorPos, -1);
    }
    EXPECT_EQ(log.Joined(), "DoConnect(srv:db,u,p) DoDisconnect(true)");
    EXPECT_EQ(db.GetHandle(), nullptr);
}

TEST_F(Wrappers, FailingCleanUpDoesNotHideTheConnectError) {
    db.failIn = {"DoConnect", "DoDisconnect"};
    try {
        db.Connect("srv:db", "u", "p");
        FAIL();
    } catch (const ESDEngineError& e) {
        EXPECT_EQ(e.Message(), "server failed in DoConnect");
    }
    db.failIn = {"DoConnect"};
    db.throwIn = {"DoDisconnect"};
    try {
        db.Connect("srv:db", "u", "p");
        FAIL();
    } catch (const ESDEngineError& e) {
        EXPECT_EQ(e.Message(), "server failed in DoConnect");
    }
}

TEST_F(Wrappers, TransactionsSwitchAutoCommitAroundTheServerCalls) {
    db.StartTransaction();
    EXPECT_TRUE(db.InTransaction);
    db.Commit();
    EXPECT_FALSE(db.InTransaction);
    db.StartTransaction();
    db.Rollback();
    // The server call first, then auto-commit back on.
    EXPECT_EQ(log.Joined(),
              "SetAutoCommitOption(false) DoStartTransaction DoCommit SetAutoCommitOption(true) "
              "SetAutoCommitOption(false) DoStartTransaction DoRollback SetAutoCommitOption(true)");
    log.Clear();
    db.AutoCommit = false;
    db.StartTransaction();
    db.Commit();
    EXPECT_EQ(log.Joined(), "DoStartTransaction DoCommit");
}

TEST_F(Wrappers, FailedCommitLeavesTheTransactionOpen) {
    db.StartTransaction();
    log.Clear();
    db.failIn = {"DoCommit"};
    EXPECT_THROW(db.Commit(), ESDFakeError);
    EXPECT_TRUE(db.InTransaction);
    EXPECT_EQ(log.Joined(), "DoCommit");  // auto-commit stays off
}

TEST_F(Wrappers, HandleErrorPassesTheErrorToTheEngine) {
    std::vector<std::string> seen;
    db.ErrorProc = [&](TISqlDatabase& sender, const ESDEngineError& e) {
        EXPECT_EQ(&sender, &db);
        seen.push_back(e.ClassName());
        e.Raise();
    };
    EXPECT_THROW(db.ServerError("x"), ESDFakeError);
    EXPECT_EQ(seen, std::vector<std::string>{"ESDFakeError"});

    // A handler that returns does not make the failed call a success.
    db.ErrorProc = [&](TISqlDatabase&, const ESDEngineError&) { seen.push_back("returned"); };
    EXPECT_THROW(db.ServerError("y"), ESDFakeError);
    EXPECT_EQ(seen.back(), "returned");
}

TEST(SDCommon, DriverErrorsKeepTheirClassAndPosition) {
    // A driver's error made with a position is still the driver's class when it is raised.
    const auto e = ESDFakeError::CreateWithPos(7, -2147483647 - 1, "syntax error", 12, true);
    try {
        e.Raise();
        FAIL();
    } catch (const ESDFakeError& raised) {
        EXPECT_EQ(raised.ErrorCode, 7);
        EXPECT_EQ(raised.NativeError, INT32_MIN);
        EXPECT_EQ(raised.ErrorPos, 12);
        EXPECT_TRUE(raised.ConnectionLost);
        EXPECT_STREQ(raised.ClassName(), "ESDFakeError");
    }
    const ESDEngineError plain = ESDEngineError::CreateWithPos(1, 2, "m", 3, false);
    EXPECT_EQ(plain.ErrorPos, 3);
    EXPECT_EQ(ESDEngineError(1, 2, "m", false).ErrorPos, -1);
}

TEST_F(Wrappers, CallBacks) {
    int activity = 0;
    int endWait = 0;
    db.ActivityProc = [&](TISqlDatabase& s) {
        EXPECT_EQ(&s, &db);
        ++activity;
    };
    db.EndWaitCursorProc = [&](TISqlDatabase&) { ++endWait; };
    db.Connect("r", "u", "p");
    EXPECT_EQ(activity, 1);
    EXPECT_THROW(db.ServerError("z"), ESDEngineError);
    EXPECT_EQ(endWait, 1);
}

// A driver that fills only the abstract operations keeps the base's stubs.
class BareDatabase : public TISqlDatabase {
public:
    BareDatabase() : TISqlDatabase(nullptr, rtl::StringList(), stMySQL) {}

protected:
    void DoConnect(const std::string&, const std::string&, const std::string&) override {}
    void DoDisconnect(bool) override {}
    void DoCommit() override {}
    void DoRollback() override {}
    void DoStartTransaction() override {}

public:
    TISqlCommandPtr CreateSqlCommand(rtl::Component*) override { return nullptr; }
    int32_t GetClientVersion() override { return 0; }
    int32_t GetServerVersion() override { return 0; }
    std::string GetVersionString() override { return ""; }
    bool TestConnected() override { return false; }
};

TEST(SDCommon, StubsFailWithTheirQualifiedNames) {
    BareDatabase db;
    auto expectStub = [](const std::function<void()>& f, const std::string& name) {
        try {
            f();
            ADD_FAILURE() << name;
        } catch (const rtl::EAssertionFailed& e) {
            EXPECT_EQ(e.Message(), "Function " + name + " not implemented");
        }
    };
    rtl::StringList list;
    expectStub([&] { db.GetHandle(); }, "TISqlDatabase.GetHandle");
    expectStub([&] { db.SetHandle(nullptr); }, "TISqlDatabase.SetHandle");
    expectStub([&] { db.SetAutoCommitOption(true); }, "TISqlDatabase.SetAutoCommitOption");
    expectStub([&] { db.GetStoredProcNames(list); }, "TISqlDatabase.GetStoredProcNames");
    expectStub([&] { db.GetTableNames("%", false, list); }, "TISqlDatabase.GetTableNames");
    expectStub([&] { db.GetTableFieldNames("t", list); }, "TISqlDatabase.GetTableFieldNames");
    expectStub([&] { db.GetSchemaInfo(stTables, "%"); }, "TISqlDatabase.GetSchemaInfo");
    expectStub([&] { db.ParamValue(0); }, "TISqlDatabase.ParamValue");
    expectStub([&] { db.SetTransIsolation(tiReadCommitted); }, "TISqlDatabase.SetTransIsolation");
    expectStub([&] { db.SPDescriptionsAvailable(); }, "TISqlDatabase.SPDescriptionsAvailable");
    EXPECT_EQ(db.GetIdentityQuery(), "");
    EXPECT_EQ(db.GetServerType(), stMySQL);
    // The transaction wrappers reach the auto-commit stub first.
    EXPECT_THROW(db.StartTransaction(), rtl::EAssertionFailed);
    EXPECT_FALSE(db.InTransaction);
}

}  // namespace
