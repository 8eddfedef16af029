// Tests of the ODBC driver's rules that need no data source: connection texts, identity
// queries, lost-connection states, interval values, the function table and the library state
// (loaded from the installed unixODBC and from the test stand-in of the vendor libraries).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "database/odbc/SDDb2.h"
#include "database/odbc/SDInf.h"
#include "database/odbc/SDOdbc.h"
#include "rtl/Bcd.h"
#include "support/TestSupport.h"

namespace {

bool DriverManagerInstalled() {
    return TSDModule(LoadClientLibrary("libodbc.so.2")) != nullptr;
}

TEST(SDOdbcRules, LoginIsAppendedOnlyWhereTheTextLacksIt) {
    struct Case {
        const char* text;
        const char* user;
        const char* password;
        const char* expected;
    } cases[] = {
        {"DSN=x", "u", "p", "DSN=x;UID=u;PWD=p"},
        {"DSN=x;", "u", "p", "DSN=x;UID=u;PWD=p"},
        {"DSN=x;  ", "u", "p", "DSN=x;  UID=u;PWD=p"},
        {"DSN=x;uid=u", "v", "p", "DSN=x;uid=u;PWD=p"},
        {"DSN=x;UserID=u", "v", "p", "DSN=x;UserID=u;PWD=p"},
        {"DSN=x;Password=q", "u", "p", "DSN=x;Password=q;UID=u"},
        {"DSN=x", "u", "", "DSN=x;UID=u"},
        {"DSN=x", "", "", "DSN=x"},
        {"", "u", "p", "UID=u;PWD=p"},
        // A ";" in a value cannot add an attribute of its own: the value is braced.
        {"DSN=x", "u", "a;DATABASE=other", "DSN=x;UID=u;PWD={a;DATABASE=other}"},
        {"DSN=x", "bob;DSN=y", "p", "DSN=x;UID={bob;DSN=y};PWD=p"},
        {"DSN=x", "u", "p}w{", "DSN=x;UID=u;PWD={p}}w{}"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AppendOdbcLogin(c.text, c.user, c.password), c.expected) << c.text << " / " << c.password;
}

TEST(SDOdbcRules, AttributeValuesAreBracedOnlyWhenTheyMustBe) {
    struct Case {
        const char* value;
        const char* expected;
    } cases[] = {
        {"plain", "plain"},     {"", ""},         {"a=b", "a=b"},       {"a;b", "{a;b}"},
        {"{x}", "{{x}}}"},      {"}", "{}}}"},    {" lead", "{ lead}"}, {"trail ", "{trail }"},
        {"in side", "in side"}, {"é;ç", "{é;ç}"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OdbcAttributeValue(c.value), c.expected) << c.value;
}

TEST(SDOdbcRules, InformixConnectionTextSplitsServerAndDatabase) {
    const std::string expected = std::string("SERVICE=srv;HOST=") + kInformixHostName +
                                 ";PROTOCOL=OLSOCTCP;SERVER=srv;DATABASE=stores;UID=u;PWD=p";
    EXPECT_EQ(BuildInformixConnectString("srv@stores", "u", "p"), expected);
    EXPECT_EQ(BuildInformixConnectString("srv::stores", "u", "p"), expected);
    EXPECT_EQ(BuildInformixConnectString("srv:@stores", "u", "p"), expected);
    EXPECT_EQ(BuildInformixConnectString("stores_dsn", "u", "p"), "stores_dsn");
    // The log-in values cannot end their attributes early.
    EXPECT_EQ(BuildInformixConnectString("s@d", "u", "x;SERVER=evil"),
              std::string("SERVICE=s;HOST=") + kInformixHostName +
                  ";PROTOCOL=OLSOCTCP;SERVER=s;DATABASE=d;UID=u;PWD={x;SERVER=evil}");
}

TEST(SDOdbcRules, IdentityQueryFollowsTheDbmsDescription) {
    struct Case {
        const char* description;
        const char* expected;
    } cases[] = {
        {"DB2/LINUX Release 11.5", "VALUES IDENTITY_VAL_LOCAL()"},
        {"MySQL DB2 bridge", "VALUES IDENTITY_VAL_LOCAL()"},
        {"Informix Release 9.40", "select UNIQUE DBINFO (\"sqlca.sqlerrd1\") from SYSTABLES where TABID=1"},
        {"Microsoft SQL Server Release 15.0", "select CONVERT(int, @@IDENTITY)"},
        {"Adaptive Server Anywhere Release 9.0", "select CONVERT(int, @@IDENTITY)"},
        {"SQL Server Release 12.5", "select CONVERT(int, @@IDENTITY)"},
        {"MySQL Release 8.0", "select LAST_INSERT_ID()"},
        {"PostgreSQL Release 15.0", "select lastval()"},
        {"SQLite Release 3.40", "select last_insert_rowid()"},
        {"Firebird Release 3.0", ""},
        {"db2 lower case", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OdbcIdentityQuery(c.description), c.expected) << c.description;
}

TEST(SDOdbcRules, OnlyCommunicationFailuresCountAsLostConnections) {
    // Communication link failure, no connection, connection failure, and the server ending
    // the session (PostgreSQL's administrator shutdown): each means the session is gone.
    for (const char* state : {"08S01", "08003", "08006", "57P01"})
        EXPECT_TRUE(OdbcConnectionLostState(state, "PostgreSQL Release 15.0")) << state;
    // A failed connection attempt, a rejected login or a query cancelled by the server leave
    // no session to lose.
    for (const char* state : {"08001", "08004", "28000", "57014", "57P03"})
        EXPECT_FALSE(OdbcConnectionLostState(state, "PostgreSQL Release 15.0")) << state;
    // An invalid cursor state is a statement used out of order, not a broken connection.
    EXPECT_FALSE(OdbcConnectionLostState("24000", "PostgreSQL Release 15.0"));
    EXPECT_FALSE(OdbcConnectionLostState("24000", "DB2/LINUX Release 11.5"));
    EXPECT_TRUE(OdbcConnectionLostState("40003", "DB2/LINUX Release 11.5"));
    EXPECT_FALSE(OdbcConnectionLostState("40003", "PostgreSQL Release 15.0"));
    EXPECT_FALSE(OdbcConnectionLostState("HY000", "DB2/LINUX Release 11.5"));
}

TEST(SDOdbcRules, ExactNumericsAreBcdOnlyWhereEveryValueIsACurrencyAmount) {
    EXPECT_TRUE(OdbcExactNumericIsBcd(true, odbcapi::SQL_NUMERIC, 18, 4));
    EXPECT_TRUE(OdbcExactNumericIsBcd(true, odbcapi::SQL_DECIMAL, 5, 1));
    EXPECT_FALSE(OdbcExactNumericIsBcd(false, odbcapi::SQL_NUMERIC, 18, 4));  // the option is off
    EXPECT_FALSE(OdbcExactNumericIsBcd(true, odbcapi::SQL_NUMERIC, 19, 4));   // fifteen integer digits
    EXPECT_FALSE(OdbcExactNumericIsBcd(true, odbcapi::SQL_NUMERIC, 30, 5));   // five places
    EXPECT_FALSE(OdbcExactNumericIsBcd(true, odbcapi::SQL_NUMERIC, 10, 0));   // no places
    EXPECT_FALSE(OdbcExactNumericIsBcd(true, odbcapi::SQL_DOUBLE, 15, 2));
    EXPECT_FALSE(OdbcExactNumericIsBcd(true, odbcapi::SQL_NUMERIC, 2, 4));    // scale above precision
}

TEST(SDOdbcRules, DecimalTextAndCurrencyAmounts) {
    struct Case {
        const char* text;
        bool ok;
        int64_t scaled;
    };
    const Case cases[] = {
        {"99999999999999.9999", true, 999999999999999999},
        {"-0.0001", true, -1},
        {"+12.5", true, 125000},
        {"7", true, 70000},
        {".5", true, 5000},
        {"3.", true, 30000},
        {"1.23456789", true, 12345},  // places past the fourth are cut off
        {" 42 ", true, 420000},
        {"922337203685477.5807", true, INT64_MAX},
        {"922337203685477.5808", false, 0},
        {"1e5", false, 0},
        {"1.2.3", false, 0},
        {"-", false, 0},
        {"", false, 0},
        {"12a", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        int64_t scaled = -7;
        EXPECT_EQ(OdbcDecimalTextToScaled(c.text, scaled), c.ok);
        if (c.ok) {
            EXPECT_EQ(scaled, c.scaled);
        }
    }
    int precision = 0, places = 0;
    EXPECT_EQ(OdbcScaledToDecimalText(999999999999999999, precision, places), "99999999999999.9999");
    EXPECT_EQ(precision, 18);
    EXPECT_EQ(places, 4);
    EXPECT_EQ(OdbcScaledToDecimalText(-5000, precision, places), "-0.5");
    EXPECT_EQ(precision, 1);
    EXPECT_EQ(places, 1);
    EXPECT_EQ(OdbcScaledToDecimalText(120000, precision, places), "12");
    EXPECT_EQ(precision, 2);
    EXPECT_EQ(places, 0);
    EXPECT_EQ(OdbcScaledToDecimalText(0, precision, places), "0");
    EXPECT_EQ(precision, 1);
    EXPECT_EQ(OdbcScaledToDecimalText(INT64_MIN, precision, places), "-922337203685477.5808");
}

// An SQL_INTERVAL_STRUCT as the client library writes it.
std::vector<uint8_t> Interval(int32_t type, std::initializer_list<uint32_t> fields) {
    std::vector<uint8_t> s(odbcapi::kIntervalStructSize, 0);
    std::memcpy(s.data(), &type, 4);
    size_t at = 8;
    for (uint32_t f : fields) {
        std::memcpy(s.data() + at, &f, 4);
        at += 4;
    }
    return s;
}

TEST(SDOdbcRules, IntervalsBecomeBcdValues) {
    // 2 years and 3 months: 20300000000.
    const auto ym = Interval(107, {2, 3});
    EXPECT_EQ(OdbcIntervalToScaled(107, ym.data()), 20300000000LL * 10000);
    rtl::TBcd bcd;
    ASSERT_TRUE(rtl::CurrencyToBcd(OdbcIntervalToScaled(107, ym.data()), bcd, 32, 4));
    int64_t back = 0;
    ASSERT_TRUE(rtl::BcdToCurrency(bcd, back));
    EXPECT_EQ(back, 20300000000LL * 10000);
    // 1 day 02:03:04.5 (fraction in microseconds): 1020304.5.
    const auto ds = Interval(110, {1, 2, 3, 4, 500000});
    EXPECT_EQ(OdbcIntervalToScaled(110, ds.data()), 10203045000LL);
    // Far beyond what the value can hold.
    const auto huge = Interval(107, {4000000000u, 0});
    EXPECT_THROW(OdbcIntervalToScaled(107, huge.data()), rtl::EDatabaseError);
}

TEST(SDOdbcRules, DriverErrorsKeepTheirClassThroughTheEngineError) {
    const ESDDb2Error e(4464, 4464, "boom", true, "08S01");
    try {
        static_cast<const ESDEngineError&>(e).Raise();
        FAIL() << "Raise returned";
    } catch (const ESDDb2Error& caught) {
        EXPECT_EQ(caught.SqlState, "08S01");
        EXPECT_TRUE(caught.ConnectionLost);
        EXPECT_EQ(caught.ErrorPos, -1);
        EXPECT_STREQ(caught.ClassName(), "ESDDb2Error");
    }
}

TEST(SDOdbcLibrary, FunctionTablesHoldEveryEntryPoint) {
    EXPECT_EQ(TOdbcFunctions().EntryPointCount(), 75);
    EXPECT_EQ(TDB2Functions().EntryPointCount(), 82);
    KW_REQUIRE_PEER(DriverManagerInstalled(), "unixODBC (libodbc.so.2)");
    const TSDModule module = LoadClientLibrary("libodbc.so.2");
    TDB2Functions fn;
    fn.BindEntryPoints(module.get());
    // unixODBC exports the whole ODBC set; DB2's own functions are not there.
    EXPECT_NE(fn.SQLDriverConnect, nullptr);
    EXPECT_NE(fn.SQLSetParam, nullptr);
    EXPECT_NE(fn.SQLGetDiagRec, nullptr);
    EXPECT_TRUE(fn.HasEntryPoint("SQLBindParameter"));
    EXPECT_FALSE(fn.HasEntryPoint("SQLBindFileToCol"));
    EXPECT_EQ(fn.SQLBindFileToCol, nullptr);
    fn.ClearEntryPoints();
    EXPECT_EQ(fn.SQLDriverConnect, nullptr);
    EXPECT_FALSE(fn.HasEntryPoint("SQLBindParameter"));
}

TEST(SDOdbcLibrary, LoadingCountsReferencesAndReleasesOnTheLast) {
    KW_REQUIRE_PEER(DriverManagerInstalled(), "unixODBC (libodbc.so.2)");
    TOdbcClientLibrary library({"libodbc.so.2", stODBC, false, false}, std::make_unique<TOdbcFunctions>());
    library.Unload();  // nothing loaded: nothing happens
    EXPECT_EQ(library.LoadCount(), 0);
    library.Load();
    library.Load();
    EXPECT_EQ(library.LoadCount(), 2);
    EXPECT_NE(library.Functions()->SQLConnect, nullptr);
    library.Unload();
    EXPECT_TRUE(library.IsLoaded());
    library.Unload();
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_EQ(library.Functions()->SQLConnect, nullptr);
}

TEST(SDOdbcLibrary, NameParameterCountsOnlyWhileNothingIsLoaded) {
    KW_REQUIRE_PEER(DriverManagerInstalled(), "unixODBC (libodbc.so.2)");
    TOdbcClientLibrary library({"libodbc.so.2", stODBC, false, false}, std::make_unique<TOdbcFunctions>());
    library.TakeNameFromParams(rtl::StringList{});
    EXPECT_EQ(library.FileName(), "libodbc.so.2");
    library.Load();
    rtl::StringList params;
    params.Add("ODBC API LIBRARY=/nowhere/libother.so");
    library.TakeNameFromParams(params);
    EXPECT_EQ(library.FileName(), "libodbc.so.2");
    library.Unload();
    params.Clear();
    params.Add("ODBC API LIBRARY=  /nowhere/libother.so  ");
    library.TakeNameFromParams(params);
    EXPECT_EQ(library.FileName(), "/nowhere/libother.so");
    try {
        library.Load();
        FAIL() << "a missing library loaded";
    } catch (const ESDSqlLibError& e) {
        EXPECT_EQ(e.Message(), "Error loading library '/nowhere/libother.so'");
    }
    EXPECT_EQ(library.LoadCount(), 0);
    // A blank value keeps the name in use.
    params.Clear();
    params.Add("ODBC API LIBRARY=   ");
    library.TakeNameFromParams(params);
    EXPECT_EQ(library.FileName(), "/nowhere/libother.so");
}

TEST(SDOdbcLibrary, InformixTriesEachNameOfItsList) {
#ifdef KW_DB2_STANDIN
    const std::string standin = KW_DB2_STANDIN;
    TOdbcClientLibrary library({"/nowhere/iclit09b.so;" + standin, stInformix, true, true},
                               std::make_unique<TInfFunctions>());
    library.Load();
    EXPECT_EQ(library.LoadedName(), standin);
    EXPECT_NE(library.Functions()->SQLDriverConnect, nullptr);
    library.Unload();
    TOdbcClientLibrary missing({"/nowhere/a.so; /nowhere/b.so", stInformix, true, true},
                               std::make_unique<TInfFunctions>());
    try {
        missing.Load();
        FAIL() << "a missing library loaded";
    } catch (const ESDSqlLibError& e) {
        EXPECT_EQ(e.Message(), "Error loading library '/nowhere/a.so; /nowhere/b.so'");
    }
#else
    GTEST_SKIP() << "the call-level stand-in is not built";
#endif
}

TEST(SDOdbcLibrary, EachUnitKeepsItsOwnLibraryAndName) {
    EXPECT_EQ(OdbcLibrary().FileName().empty(), false);
    EXPECT_EQ(Db2Library().FileName(), "libdb2.so.1");
    EXPECT_EQ(InfLibrary().FileName(), "iclit09b.so;iclit09a.so");
    EXPECT_EQ(Db2Library().LoadCount(), 0);
    EXPECT_EQ(InfLibrary().LoadCount(), 0);
}

// The type tables need no connection.
TEST(SDOdbcTypes, SqlTypesMapToFieldTypes) {
    TIOdbcDatabase odbc(nullptr, rtl::StringList{});
    TIDB2Database db2(nullptr, rtl::StringList{});
    TISqlCommandPtr odbcCmd = odbc.CreateSqlCommand(nullptr);
    TISqlCommandPtr db2Cmd = db2.CreateSqlCommand(nullptr);
    struct Case {
        int32_t sqlType;
        TFieldType odbc;
        TFieldType db2;
    } cases[] = {
        {1, ftString, ftString},      {12, ftString, ftString},     {-8, ftString, ftString},
        {-9, ftString, ftString},     {2, ftFloat, ftFloat},        {3, ftFloat, ftFloat},
        {6, ftFloat, ftFloat},        {7, ftFloat, ftFloat},        {8, ftFloat, ftFloat},
        {4, ftInteger, ftInteger},    {5, ftSmallint, ftSmallint},  {-6, ftSmallint, ftSmallint},
        {-7, ftBoolean, ftBoolean},   {-5, ftLargeint, ftLargeint}, {9, ftDateTime, ftDateTime},
        {11, ftDateTime, ftDateTime}, {93, ftDateTime, ftDateTime}, {91, ftDate, ftDate},
        {10, ftTime, ftTime},         {92, ftTime, ftTime},         {-1, ftMemo, ftMemo},
        {-10, ftMemo, ftMemo},        {-2, ftBytes, ftBytes},       {-3, ftVarBytes, ftVarBytes},
        {-4, ftBlob, ftBlob},         {-11, ftGuid, ftGuid},        {107, ftBCD, ftBCD},
        {113, ftBCD, ftBCD},          {101, ftUnknown, ftUnknown},  {106, ftUnknown, ftUnknown},
        {0, ftUnknown, ftUnknown},    {-99, ftUnknown, ftMemo},     {-350, ftUnknown, ftMemo},
        {-98, ftUnknown, ftBlob},     {-97, ftUnknown, ftBlob},     {-96, ftUnknown, ftVarBytes},
        {-95, ftUnknown, ftVarBytes},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(odbcCmd->FieldDataType(c.sqlType), c.odbc) << c.sqlType;
        EXPECT_EQ(db2Cmd->FieldDataType(c.sqlType), c.db2) << c.sqlType;
    }
    EXPECT_TRUE(odbcCmd->IsFixedCharType(1));
    EXPECT_TRUE(odbcCmd->IsFixedCharType(-8));
    EXPECT_FALSE(odbcCmd->IsFixedCharType(12));
    for (TFieldType t : {ftDate, ftTime, ftDateTime, ftGuid})
        EXPECT_TRUE(odbcCmd->RequiredCnvtFieldType(t)) << t;
    for (TFieldType t : {ftString, ftInteger, ftFloat, ftBlob, ftMemo, ftBCD})
        EXPECT_FALSE(odbcCmd->RequiredCnvtFieldType(t)) << t;
}

TEST(SDOdbcTypes, NativeSizesAndDateLayouts) {
    TIOdbcDatabase odbc(nullptr, rtl::StringList{});
    TISqlCommandPtr cmd = odbc.CreateSqlCommand(nullptr);
    struct Case {
        TFieldType type;
        uint16_t size;
    } sizes[] = {{ftString, 0},  {ftFixedChar, 0}, {ftSmallint, 2}, {ftInteger, 4},  {ftWord, 4},
                 {ftAutoInc, 4}, {ftBoolean, 2},   {ftFloat, 8},    {ftCurrency, 8}, {ftDate, 6},
                 {ftTime, 6},    {ftDateTime, 16}, {ftBytes, 0},    {ftVarBytes, 0}, {ftBlob, 0},
                 {ftMemo, 0},    {ftLargeint, 8},  {ftGuid, 16},    {ftBCD, 0}};
    for (const Case& c : sizes)
        EXPECT_EQ(cmd->NativeDataSize(c.type), c.size) << c.type;

    const rtl::TDateTime value = rtl::EncodeDate(2023, 7, 9) + rtl::EncodeTime(13, 14, 15, 678);
    uint8_t buffer[16] = {};
    ASSERT_EQ(cmd->CnvtDateTime2DBDateTime(ftDateTime, value, buffer, 16), 16);
    const uint16_t expected[6] = {2023, 7, 9, 13, 14, 15};
    for (int i = 0; i < 6; ++i) {
        uint16_t v;
        std::memcpy(&v, buffer + 2 * i, 2);
        EXPECT_EQ(v, expected[i]) << i;
    }
    uint32_t fraction;
    std::memcpy(&fraction, buffer + 12, 4);
    EXPECT_EQ(fraction, 678000000u);
    ASSERT_EQ(cmd->CnvtDateTime2DBDateTime(ftTime, value, buffer, 6), 6);
    uint16_t hour;
    std::memcpy(&hour, buffer, 2);
    EXPECT_EQ(hour, 13);
    EXPECT_EQ(cmd->CnvtDateTime2DBDateTime(ftInteger, value, buffer, 16), 0);
    try {
        cmd->CnvtDateTime2DBDateTime(ftDateTime, value, buffer, 15);
        FAIL() << "a short buffer was accepted";
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Insufficient buffer size for internal datetime type");
    }
}

}  // namespace
