// The Oracle driver's shared part: finding, loading, counting and binding the client library
// (through the stand-in under the names the driver looks for), the error class, and the
// type tables and texts both generations use.
#include <gtest/gtest.h>

#include <cstring>

#include "database/OraTestSupport.h"
#include "database/engine/SDCommonSqlText.h"
#include "database/engine/SDEngine.h"
#include "rtl/Assert.h"
#include "rtl/Bcd.h"
#include "rtl/DateTime.h"

using namespace oratest;

namespace {

class OciLibrary : public ::testing::Test {
protected:
    void SetUp() override { KW_REQUIRE_PEER(standin_.Available(), "the OCI stand-in library"); }
    void TearDown() override {
        while (OciLoadCount() > 0)
            UnloadOciLibrary();
        SetOciLibraryList(kOciLibraryList);
    }
    OciStandin standin_;
};

bool IsOci8(const TISqlDatabase& db) {
    return dynamic_cast<const TIOra8Database*>(&db) != nullptr;
}

}  // namespace

TEST_F(OciLibrary, VersionAndGenerationFollowTheFileThatLoaded) {
    struct Case {
        std::vector<std::string> names;  // the links in the client folder
        const char* forceOci7;
        int major, minor;
        bool oci8;
    };
    const Case cases[] = {
        {{"libclntsh.so.23.1"}, "", 23, 1, true},
        {{"libclntsh.so.11.1", "libclntsh.so.19.1"}, "", 19, 1, true},  // the newest wins
        {{"libclntsh.so.12.1", "libclntsh.so"}, "", 12, 1, true},  // a versioned name before the bare one
        {{"libclntsh.so.10.1"}, "", 10, 1, true},
        {{"libclntsh.so.9.0"}, "", 9, 0, true},  // without a newer one: the 9i client
        {{"libclntsh.so.8.0"}, "", 8, 0, true},
        {{"libclntsh.so.19.1"}, " true ", 19, 1, false},  // trimmed, any case
        {{"libclntsh.so.19.1"}, "yes", 19, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.names.front() + " force=" + c.forceOci7);
        OracleHome home(c.names);
        auto db = CreateOracleDatabase(nullptr, Params({std::string("FORCE OCI7=") + c.forceOci7}));
        EXPECT_EQ(OciClientVersion(), MakeVersionNumber(c.major, c.minor));
        EXPECT_EQ(IsOci8(*db), c.oci8);
        EXPECT_EQ(OciLoadCount(), 1);
        EXPECT_EQ(db->GetClientVersion(), MakeVersionNumber(c.major, c.minor));
        db.reset();  // a database that never connected gives its load back
        EXPECT_EQ(OciLoadCount(), 0);
        EXPECT_FALSE(OciLibraryLoaded());
    }
}

TEST(OciVersionOfFileName, TheNumbersAfterTheClientsName) {
    struct Case {
        const char* name;
        int major, minor;
    };
    const Case cases[] = {
        {"libclntsh.so.19.1", 19, 1},
        {"/opt/oracle/instantclient_23/LIBCLNTSH.SO.23.1", 23, 1},
        {"libclntsh.so.7.2", 7, 2},
        {"libclntsh.so.19", 19, 0},
        {"libclntsh.so.12.2.0.1", 12, 2},
        {"libclntsh.so.65535.65535", 65535, 65535},
        // No version: version 0.
        {"libclntsh.so", 0, 0},
        {"libclntsh.so.", 0, 0},
        {"libclntsh.so.19.", 0, 0},
        {"libclntsh.so..1", 0, 0},
        {"libclntsh.so.19.1.bak", 0, 0},
        {"libclntsh.so.x19", 0, 0},
        {"libclntsh.so.65536.1", 0, 0},
        {"libclntsh.so.99999999999999999999.1", 0, 0},
        {"libclntshcore.so.19.1", 0, 0},
        {"/opt/libclntsh.so.19.1/libociei.so", 0, 0},
        {"ORACLIENT10.DLL", 0, 0},
        {"", 0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OciVersionOfFileName(c.name), MakeVersionNumber(c.major, c.minor)) << c.name;
}

TEST_F(OciLibrary, ANameWithoutVersionTakesItFromWhatItLinksTo) {
    struct Case {
        const char* name;
        const char* file;                // in lib/, found by the driver or named by the parameter
        std::vector<std::string> chain;  // the links lib/file leads through, in client/
        bool viaParameter;
        int major, minor;
        bool oci8;
    };
    const Case cases[] = {
        // As an installation makes it: the bare name links to the versioned file.
        {"bare name on the list", "libclntsh.so", {"libclntsh.so.12.1"}, false, 12, 1, true},
        {"through two links", "libclntsh.so", {"client.so", "libclntsh.so.11.1"}, false, 11, 1, true},
        {"named by the parameter", "oracle.so", {"libclntsh.so.21.1"}, true, 21, 1, true},
        {"a versioned name by the parameter", "libclntsh.so.10.1", {}, true, 10, 1, true},
        {"an old client by the parameter", "libclntsh.so.7.3", {}, true, 7, 3, false},
        // Links that never name a version: version 0, the OCI 7 generation.
        {"no version anywhere", "libclntsh.so", {"client.so"}, false, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OracleHome home({});
        // The chain ends at the stand-in; every link but the last is relative.
        const std::filesystem::path client = home.Path() / "client";
        std::filesystem::create_directories(client);
        std::filesystem::path target = standin_.Path();
        for (auto it = c.chain.rbegin(); it != c.chain.rend(); ++it) {
            std::filesystem::create_symlink(target, client / *it);
            target = *it;
        }
        if (!c.chain.empty()) target = std::filesystem::path("..") / "client" / c.chain.front();
        std::filesystem::create_symlink(target, home.Lib(c.file));
        auto db =
            CreateOracleDatabase(nullptr, c.viaParameter ? Params({home.ApiLibrary(c.file)}) : Params());
        EXPECT_EQ(OciLoadedName(), home.Lib(c.file).string());
        EXPECT_EQ(OciClientVersion(), MakeVersionNumber(c.major, c.minor));
        EXPECT_EQ(IsOci8(*db), c.oci8);
        db.reset();
        SetOciLibraryList(kOciLibraryList);
    }
}

TEST_F(OciLibrary, NoFileOfTheListLoads) {
    kwtest::ScopedEnv home("ORACLE_HOME", std::nullopt);
    try {
        CreateOracleDatabase(nullptr, Params());
        FAIL() << "no client library should load";
    } catch (const ESDSqlLibError& e) {
        EXPECT_EQ(e.Message(), std::string("Error loading library '") + kOciLibraryList + "'");
    }
    EXPECT_EQ(OciLoadCount(), 0);
}

TEST_F(OciLibrary, OracleHomeIsTheSecondPassAndTrailingSlashesDoNotMatter) {
    OracleHome home({"libclntsh.so.11.1"});
    kwtest::ScopedEnv slash("ORACLE_HOME", "  " + home.Path().string() + "/  ");
    EXPECT_EQ(LoadOciLibrary(false), MakeVersionNumber(11, 1));
    EXPECT_EQ(OciLoadedName(), home.Lib("libclntsh.so.11.1").string());
}

TEST_F(OciLibrary, TheApiLibraryParameterReplacesTheListForTheProcess) {
    OracleHome home({});
    // An unknown file name gives version 0: the OCI 7 table and the OCI 7 database.
    auto db = CreateOracleDatabase(nullptr, Params({"Oracle API LIBRARY= " + standin_.Path() + " "}));
    EXPECT_EQ(OciClientVersion(), 0);
    EXPECT_FALSE(IsOci8(*db));
    EXPECT_EQ(OciLibraryList(), standin_.Path());
    db.reset();
    // Still in force for later loads, whatever the later parameters say.
    auto again = CreateOracleDatabase(nullptr, Params());
    EXPECT_EQ(OciLoadedName(), standin_.Path());
    // A name given while the library is loaded changes nothing.
    auto third = CreateOracleDatabase(nullptr, Params({"Oracle API LIBRARY=libother.so"}));
    EXPECT_EQ(OciLibraryList(), standin_.Path());
    EXPECT_EQ(OciLoadCount(), 2);
}

TEST_F(OciLibrary, LoadsAreCountedAndTheLastReleaseFrees) {
    OracleHome home({"libclntsh.so.9.0"});
    auto first = CreateOracleDatabase(nullptr, Params());
    auto second = CreateOracleDatabase(nullptr, Params());
    EXPECT_EQ(OciLoadCount(), 2);
    first.reset();
    EXPECT_EQ(OciLoadCount(), 1);
    EXPECT_TRUE(OciLibraryLoaded());
    second.reset();
    EXPECT_EQ(OciLoadCount(), 0);
    EXPECT_EQ(OciClientVersion(), 0);
    UnloadOciLibrary();  // nothing to release: nothing happens
    EXPECT_EQ(OciLoadCount(), 0);
}

TEST_F(OciLibrary, AMissingRequiredNameStopsTheBindingAndTheLoadStays) {
    // The OCI 8 names only, under an unknown name: version 0 asks for the OCI 7 table, whose
    // piecewise names are optional below 7.3, so the first name missed is the next one.
    OracleHome home({});
    SetOciLibraryList(StandinPath("oci8only"));
    try {
        LoadOciLibrary(false);
        FAIL() << "the OCI 7 names are missing";
    } catch (const rtl::EAssertionFailed& e) {
        EXPECT_EQ(e.Message(), "Function 'obreak' not found in OCI library");
    }
    EXPECT_EQ(OciLoadCount(), 1);
}

TEST_F(OciLibrary, ThePiecewiseNamesAreRequiredFromVersion73) {
    // Clients older than 8 are named to the driver, as "Oracle API LIBRARY" would.
    {
        OracleHome home({"libclntsh.so.7.2"}, "nopiece");
        SetOciLibraryList(home.Lib("libclntsh.so.7.2").string());
        EXPECT_EQ(LoadOciLibrary(false), MakeVersionNumber(7, 2));
        EXPECT_FALSE(Oci7PiecewiseAvailable());
        UnloadOciLibrary();
    }
    {
        OracleHome home({kOci7Client}, "nopiece");
        SetOciLibraryList(home.Lib(kOci7Client).string());
        EXPECT_THROW(LoadOciLibrary(false), rtl::EAssertionFailed);
        UnloadOciLibrary();
    }
    OracleHome home({kOci7Client});
    SetOciLibraryList(home.Lib(kOci7Client).string());
    LoadOciLibrary(false);
    EXPECT_TRUE(Oci7PiecewiseAvailable());
    EXPECT_TRUE(standin_.Logged("opinit mode=1"));
}

TEST_F(OciLibrary, AClientWithoutEnvCreateIsInitialisedOnce) {
    OciStandin old("noenvcreate");
    OracleHome home({"libclntsh.so.9.0"}, "noenvcreate");
    LoadOciLibrary(false);
    LoadOciLibrary(false);
    EXPECT_EQ(old.Lines("OCIInitialize"), std::vector<std::string>{"OCIInitialize mode=3"});
    EXPECT_FALSE(Oci8FunctionExists("OCIEnvCreate"));
    EXPECT_TRUE(Oci8FunctionExists("OCIEnvInit"));
}

TEST_F(OciLibrary, BothTablesMayBeBoundInOneProcess) {
    OracleHome home({kOci8Client});
    auto oci8 = CreateOracleDatabase(nullptr, Params());
    auto oci7 = CreateOracleDatabase(nullptr, Params({"FORCE OCI7=TRUE"}));
    EXPECT_TRUE(IsOci8(*oci8));
    EXPECT_FALSE(IsOci8(*oci7));
    EXPECT_NE(Oci8().OCIStmtExecute, nullptr);
    EXPECT_NE(Oci7().oexec, nullptr);
}

TEST_F(OciLibrary, RegisteredAsTheOracleEntryOfTheFactoryTable) {
    OracleHome home({kOci8Client});
    RegisterOracleDriver();
    auto db = GetSqlDatabaseFactory(stOracle)(nullptr, Params());
    EXPECT_EQ(db->GetServerType(), stOracle);
    db.reset();
    RegisterSqlDatabaseFactory(stOracle, nullptr);
}

TEST(ESDOraError, LostConnectionIsExactly3113And12571) {
    for (const auto& [number, lost] : std::vector<std::pair<int, bool>>{{3113, true}, {12571, true}, {1017, false},
                                                                          {3114, false}, {0, false}})
        EXPECT_EQ(OraConnectionLost(number), lost) << number;
    const ESDOraError e(3113, 3113, "gone", 7, true);
    EXPECT_STREQ(e.ClassName(), "ESDOraError");
    try {
        static_cast<const ESDEngineError&>(e).Raise();
    } catch (const ESDOraError& raised) {
        EXPECT_EQ(raised.ErrorPos, 7);
        EXPECT_TRUE(raised.ConnectionLost);
    }
}

// ---------------------------------------------------------------------------------------------
// Type tables and texts

TEST(OraTypes, NativeTypesAndSizes) {
    struct Case {
        TFieldType type;
        int32_t native;
        uint16_t size;
    };
    const Case cases[] = {
        {ftString, 97, 0},  {ftSmallint, 3, 4},  {ftInteger, 3, 4},   {ftWord, 3, 4},     {ftFloat, 4, 8},
        {ftCurrency, 4, 8}, {ftBCD, 4, 8},       {ftDate, 12, 7},     {ftDateTime, 12, 7}, {ftTime, 0, 0},
        {ftBytes, 24, 0},   {ftVarBytes, 24, 0}, {ftBlob, 24, 0},     {ftGraphic, 24, 0}, {ftMemo, 8, 0},
        {ftFmtMemo, 8, 0},  {ftCursor, 102, 64}, {ftFixedChar, 96, 0}, {ftOraBlob, 113, uint16_t(sizeof(void*))},
        {ftOraClob, 112, uint16_t(sizeof(void*))}, {ftBoolean, 0, 0}, {ftLargeint, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OraNativeDataType(c.type), c.native) << c.type;
        EXPECT_EQ(OraNativeDataSize(c.type), c.size) << c.type;
    }
    const std::pair<int, TFieldType> codes[] = {
        {1, ftString}, {11, ftString}, {96, ftString}, {97, ftString},   {105, ftString}, {106, ftString},
        {2, ftFloat},  {3, ftInteger}, {8, ftMemo},    {12, ftDateTime}, {23, ftVarBytes}, {24, ftBlob},
        {102, ftCursor}, {4, ftUnknown}, {113, ftUnknown}, {0, ftUnknown},
    };
    for (const auto& [code, type] : codes)
        EXPECT_EQ(OraFieldDataType(code), type) << code;
    EXPECT_TRUE(IsOraCharZType(97));
    for (int code : {1, 11, 96, 105, 106, 2, 24})
        EXPECT_FALSE(IsOraCharZType(code)) << code;
}

TEST(OraTypes, NumberColumnsByPrecisionAndScale) {
    struct Case {
        int precision, scale;
        bool bcd, integers;
        TFieldType expected;
    };
    const Case cases[] = {
        {10, 0, false, false, ftFloat},  // neither switch: every NUMBER is a float
        {10, 0, true, false, ftInteger}, {5, 0, true, false, ftSmallint}, {6, 0, false, true, ftInteger},
        {11, 0, true, true, ftFloat},    {21, 2, true, false, ftFloat},   {5, 2, true, false, ftBCD},
        {20, 4, true, false, ftBCD},     {20, 5, true, false, ftFloat},   {5, 2, false, true, ftFloat},
        {0, 0, true, true, ftFloat},     {38, -127, true, true, ftFloat},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OraNumberFieldType(ftFloat, c.precision, c.scale, c.bcd, c.integers), c.expected)
            << c.precision << "," << c.scale << " bcd=" << c.bcd << " int=" << c.integers;
    EXPECT_EQ(OraNumberFieldType(ftString, 5, 0, true, true), ftString);
}

TEST(OraTypes, TheSevenByteDateBothWays) {
    const rtl::TDateTime value = rtl::EncodeDate(2024, 3, 5) + rtl::EncodeTime(10, 20, 30, 0);
    uint8_t bytes[8] = {};
    EXPECT_EQ(DateTimeToOraDate(ftDateTime, bytes, 8, value), 8);
    const uint8_t expected[7] = {120, 124, 3, 5, 11, 21, 31};
    EXPECT_EQ(std::memcmp(bytes, expected, 7), 0);
    TSDDateTimeRec rec;
    OraDateToDateTime(ftDateTime, bytes, rec);
    EXPECT_DOUBLE_EQ(DateTimeRecToDateTime(ftDateTime, rec), value);
    OraDateToDateTime(ftDate, bytes, rec);
    EXPECT_DOUBLE_EQ(DateTimeRecToDateTime(ftDate, rec), rtl::EncodeDate(2024, 3, 5));
    OraDateToDateTime(ftTime, bytes, rec);
    EXPECT_EQ(rec.Time(), (10 * 3600 + 20 * 60 + 30) * 1000);
    // A date alone has no time of day; the years of another century.
    EXPECT_EQ(DateTimeToOraDate(ftDate, bytes, 7, value), 7);
    EXPECT_EQ(bytes[4], 1);
    DateTimeToOraDate(ftDate, bytes, 7, rtl::EncodeDate(1899, 12, 31));
    EXPECT_EQ(bytes[0], 118);
    EXPECT_EQ(bytes[1], 199);
    try {
        DateTimeToOraDate(ftDate, bytes, 6, value);
        FAIL() << "six bytes are too few";
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Insufficient buffer size for internal datetime type");
    }
    const uint8_t impossible[7] = {120, 124, 2, 30, 1, 1, 1};  // 30 February
    EXPECT_THROW(OraDateToDateTime(ftDate, impossible, rec), rtl::EConvertError);
}

TEST(OraTypes, TimeZoneOffsetsCarryThroughDays) {
    struct Case {
        TOraDateTimeParts in;
        int hours, minutes;
        TOraDateTimeParts out;
    };
    const Case cases[] = {
        {{2024, 3, 5, 23, 30, 0, 0}, 1, 0, {2024, 3, 6, 0, 30, 0, 0}},
        {{2024, 12, 31, 23, 45, 0, 0}, 0, 30, {2025, 1, 1, 0, 15, 0, 0}},
        {{2024, 3, 1, 1, 0, 0, 0}, -3, 0, {2024, 2, 29, 22, 0, 0, 0}},
        {{2024, 3, 5, 10, 0, 0, 0}, -5, -30, {2024, 3, 5, 4, 30, 0, 0}},
        {{2024, 3, 5, 10, 20, 0, 0}, 0, 0, {2024, 3, 5, 10, 20, 0, 0}},
    };
    for (const Case& c : cases) {
        TOraDateTimeParts p = c.in;
        AddOraTimeZoneOffset(p, c.hours, c.minutes);
        EXPECT_EQ(std::vector<int>({p.Year, p.Month, p.Day, p.Hour, p.Minute}),
                  std::vector<int>({c.out.Year, c.out.Month, c.out.Day, c.out.Hour, c.out.Minute}))
            << c.hours << ":" << c.minutes;
    }
}

TEST(OraTypes, IntervalNumbers) {
    EXPECT_EQ(OraYearMonthToScaled(2, 3), 20300000000LL * 10000);
    EXPECT_EQ(OraDaySecondToScaled(1, 2, 3, 4, 500000000), 10203045000LL);
    EXPECT_EQ(OraDaySecondToScaled(-1, -2, -3, -4, -500000000), -10203045000LL);
    EXPECT_EQ(OraDaySecondToScaled(0, 0, 0, 1, 123456789), 11234);  // four decimals kept
    EXPECT_THROW(OraYearMonthToScaled(999999999, 11), rtl::EDatabaseError);
}

namespace {

std::vector<uint8_t> Cell(int16_t indicator, const std::string& data) {
    std::vector<uint8_t> cell(8 + data.size() + 8, 0);
    std::memcpy(cell.data(), &indicator, 2);
    const int32_t length = int32_t(data.size());
    std::memcpy(cell.data() + 4, &length, 4);
    std::memcpy(cell.data() + 8, data.data(), data.size());
    return cell;
}

}  // namespace

TEST(OraTypes, FetchedCellsInTheEngineLayout) {
    char text[8] = {};
    // A text that fills its destination keeps its last character.
    std::memset(text, 'x', sizeof text);
    EXPECT_TRUE(OraCnvtFieldData(ftString, Cell(0, "abcde").data(), text, false, 5));
    EXPECT_EQ(std::string(text, 5), "abcde");
    std::memset(text, 'x', sizeof text);
    EXPECT_TRUE(OraCnvtFieldData(ftString, Cell(0, "abcde").data(), text, false, 6));
    EXPECT_STREQ(text, "abcde");
    // Trailing blanks go only when asked; a fetched terminator ends the text.
    EXPECT_TRUE(OraCnvtFieldData(ftString, Cell(0, std::string("ab  \0zz", 7)).data(), text, true, 8));
    EXPECT_STREQ(text, "ab");
    EXPECT_TRUE(OraCnvtFieldData(ftString, Cell(0, "ab  ").data(), text, false, 8));
    EXPECT_STREQ(text, "ab  ");
    // The indicator is 16 bits: what the client wrote over a zeroed header.
    std::vector<uint8_t> null = Cell(-1, "abc");
    null[2] = null[3] = 0;
    EXPECT_FALSE(OraCnvtFieldData(ftString, null.data(), text, false, 8));
    EXPECT_FALSE(OraCnvtFieldData(ftMemo, Cell(0, "abc").data(), text, false, 8));
    // A double becomes a four-decimal packed decimal.
    double value = 1234.56789;
    std::string bytes(reinterpret_cast<const char*>(&value), 8);
    rtl::TBcd bcd;
    EXPECT_TRUE(OraCnvtFieldData(ftBCD, Cell(0, bytes).data(), &bcd, false, sizeof bcd));
    int64_t scaled = 0;
    ASSERT_TRUE(rtl::BcdToCurrency(bcd, scaled));
    EXPECT_EQ(scaled, 12345679);
    // An integer is copied to the destination's size.
    int32_t number = 77;
    int16_t small = 0;
    EXPECT_TRUE(OraCnvtFieldData(ftSmallint, Cell(0, std::string(reinterpret_cast<char*>(&number), 4)).data(), &small,
                                 false, 2));
    EXPECT_EQ(small, 77);
}

TEST(OraTypes, StatementTextsGetNumberedMarkers) {
    auto params = [](std::initializer_list<const char*> names) {
        TParams p;
        for (const char* n : names)
            p.CreateParam(ftInteger, n, ptInput);
        return p;
    };
    struct Case {
        const char* sql;
        TParams params;
        const char* expected;
    };
    const Case cases[] = {
        {"select * from T where A = :a and B = :b and C = :a", params({"a", "b"}),
         "select * from T where A = :1 and B = :2 and C = :a"},
        {"select * from T where A = :a and C = :a", params({"a", "a"}), "select * from T where A = :1 and C = :2"},
        {"select * from T where X = :p10 and Y = :p1", params({"p10", "p1"}), "select * from T where X = :1 and Y = :2"},
        {"select * from T where Y = :P1 and X = :p10", params({"p1", "p10"}), "select * from T where Y = :1 and X = :2"},
        {"select ':a' from T where A = :a", params({"a"}), "select ':a' from T where A = :1"},
        {"select * from T where A = :\"My Name\"", params({"My Name"}), "select * from T where A = :1"},
        {"update T set A = :a\r\nwhere B = 1\r\n\n", params({"a"}), "update T set A = :1\nwhere B = 1"},
        {"select * from T where A = :zz", params({"a"}), "select * from T where A = :zz"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PrepareOraSqlText(c.sql, &c.params), c.expected) << c.sql;
    EXPECT_EQ(PrepareOraSqlText("select 1 from DUAL\0", nullptr), "select 1 from DUAL");
}

TEST(OraTypes, ProcedureCallBlocks) {
    TParams fn;
    fn.CreateParam(ftFloat, "Result", ptResult);
    fn.CreateParam(ftFloat, "x", ptInput);
    EXPECT_EQ(BuildOraProcCall("fn", &fn), "begin :Result := FN (X => :X); end;");
    TParams proc;
    proc.CreateParam(ftFloat, "a", ptInput);
    proc.CreateParam(ftFloat, "b", ptInputOutput);
    proc.CreateParam(ftFloat, "c", ptOutput);
    EXPECT_EQ(BuildOraProcCall("pkg.Proc", &proc), "begin PKG.PROC (A => :A, B => :B, C => :C); end;");
    TParams none;
    EXPECT_EQ(BuildOraProcCall("noargs", &none), "begin NOARGS ; end;");
    EXPECT_EQ(BuildOraProcCall("noargs", nullptr), "begin NOARGS ; end;");
}

TEST(OraTypes, Oci7LogonTexts) {
    struct Case {
        const char* db;
        const char* user;
        const char* password;
        const char* expected;
    };
    const Case cases[] = {
        {"ORCL", "scott", "tiger", "scott/tiger@ORCL"},
        {" ORCL ", " scott ", " tiger ", "scott/tiger@ORCL"},
        {"ORCL", "scott", "", "@ORCL"},  // no password: the user name is left out
        {"", "scott", "", ""},
        {"", "", "tiger", "/tiger"},
        {"", "scott", "tiger", "scott/tiger"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BuildOraConnectString(c.db, c.user, c.password), c.expected) << c.db << c.user << c.password;
}

TEST(OraTypes, CatalogQueriesQuoteTheirValues) {
    EXPECT_EQ(OraSchemaQueryText(stTables, "SCOTT.*"),
              "select '' as CATALOG_NAME, OWNER as SCHEMA_NAME, OBJECT_NAME as TABLE_NAME, DECODE(OWNER, 'SYS', 4, 0) "
              "+ DECODE(OBJECT_TYPE, 'TABLE', 1, 'VIEW', 2, 0) as TABLE_TYPE from SYS.ALL_OBJECTS where OBJECT_TYPE "
              "in ('TABLE', 'VIEW') and OWNER = 'SCOTT' and OWNER <> 'SYS'  order by OWNER, OBJECT_NAME");
    EXPECT_NE(OraSchemaQueryText(stTables, "*.EMP%").find("and OBJECT_NAME like 'EMP%' and OWNER <> 'SYS' "),
              std::string::npos);
    EXPECT_NE(OraSchemaQueryText(stSysTables, "").find("and OBJECT_NAME like '%' and OWNER like '%' and OWNER = 'SYS' "),
              std::string::npos);
    // A quote in a name is doubled: it cannot end the literal.
    const std::string hostile = OraSchemaQueryText(stTables, "X' or '1'='1");
    EXPECT_NE(hostile.find("OBJECT_NAME = 'X'' or ''1''=''1'"), std::string::npos);
    EXPECT_NE(OraSchemaQueryText(stColumns, "O'B.T").find("like UPPER('O''B') and UPPER(TABLE_NAME) like UPPER('T')"),
              std::string::npos);
    EXPECT_NE(OraSchemaQueryText(stProcedures, "A'B").find("and OBJECT_NAME like 'A''B' "), std::string::npos);
    EXPECT_NE(OraSchemaQueryText(stIndexes, "T").find("UPPER(IND.TABLE_OWNER) like UPPER('%')   and "
                                                      "UPPER(IND.TABLE_NAME) like UPPER('T')"),
              std::string::npos);
    EXPECT_EQ(OraSchemaQueryText(stProcedureParams, "X"), "");
    EXPECT_NE(OraSchemaQueryText(static_cast<TSDSchemaType>(6), "P%").find("OBJECT_TYPE = 'PACKAGE' and OBJECT_NAME "
                                                                          "like 'P%' "),
              std::string::npos);
    EXPECT_EQ(OraIsolationStatement(tiDirtyRead), "set transaction READ WRITE");
    EXPECT_EQ(OraIsolationStatement(tiReadCommitted), "set transaction READ WRITE");
    EXPECT_EQ(OraIsolationStatement(tiRepeatableRead), "set transaction READ ONLY");
}

TEST(OraTypes, ParameterSizesAndValues) {
    TParams p;
    p.CreateParam(ftString, "s", ptInput).SetValue(rtl::Variant("abc"));
    p.CreateParam(ftMemo, "m", ptInput).SetValue(rtl::Variant("abcd"));
    p.CreateParam(ftBlob, "b", ptInput).SetValue(rtl::Variant::FromBytes({1, 2, 3}));
    p.CreateParam(ftString, "e", ptInput);
    EXPECT_EQ(OraParamSize(p[0]), 3);
    EXPECT_EQ(OraParamSize(p[1]), 4);
    EXPECT_EQ(OraParamSize(p[2]), 3);
    EXPECT_EQ(OraParamSize(p[3]), 0);
    // A procedure's text is cut to its cell and always terminated.
    uint8_t cell[4];
    std::memset(cell, 'x', sizeof cell);
    TParam longText("t", ftString, ptInput);
    longText.SetValue(rtl::Variant("abcdef"));
    EXPECT_TRUE(FillOraParamValue(longText, cell, 4, true));
    EXPECT_STREQ(reinterpret_cast<char*>(cell), "abc");
    TParam flag("f", ftBoolean, ptInput);
    EXPECT_FALSE(FillOraParamValue(flag, cell, 2, false));
    EXPECT_EQ(OraParamCellSize(1), 16);
    EXPECT_EQ(OraParamCellSize(8), 16);
    EXPECT_EQ(OraParamCellSize(0), 8);
}
