// The InterBase family's parts that need no server: the parameter blocks' bytes, the status
// check (over a client whose message and SQL-code entries are the test's own), the lost-
// connection codes, descriptors of both entry layouts built in memory (version 2 needs an
// InterBase 7 client, which does not exist here), field types of described entries, scaled
// numerics, and the names pasted into procedure statements.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "database/drivers/SDFib.h"
#include "rtl/Assert.h"
#include "rtl/DatabaseError.h"
#include "support/TestSupport.h"

namespace {

std::string Bytes(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes)
        s += char(b);
    return s;
}

rtl::StringList Params(std::initializer_list<std::string> lines) {
    rtl::StringList list;
    for (const std::string& line : lines)
        list.Add(line);
    return list;
}

TEST(IntParameterBlocks, DpbItemsInOrderWithTheirLengthBytes) {
    struct Case {
        const char* name;
        std::vector<std::string> params;
        std::string user;
        std::string password;
        std::string dpb;
    } cases[] = {
        {"user and password", {}, "SYSDBA", "pw", Bytes({1, 28, 6}) + "SYSDBA" + Bytes({29, 2}) + "pw"},
        {"empty password", {}, "u", "", Bytes({1, 28, 1, 'u', 29, 0})},
        {"time-out 30", {"LOGIN TIMEOUT= 30 "}, "u", "p", Bytes({1, 28, 1, 'u', 29, 1, 'p', 57, 1, 30})},
        {"time-out 0", {"LOGIN TIMEOUT=0"}, "u", "p", Bytes({1, 28, 1, 'u', 29, 1, 'p'})},
        {"time-out negative", {"LOGIN TIMEOUT=-5"}, "u", "p", Bytes({1, 28, 1, 'u', 29, 1, 'p'})},
        {"time-out not a number", {"LOGIN TIMEOUT=soon"}, "u", "p", Bytes({1, 28, 1, 'u', 29, 1, 'p'})},
        // Past one byte the item's four-byte form, least significant byte first.
        {"time-out 300", {"LOGIN TIMEOUT=300"}, "u", "p", Bytes({1, 28, 1, 'u', 29, 1, 'p', 57, 4, 44, 1, 0, 0})},
        {"character set and role",
         {"ROLE NAME=RDB$ADMIN", "LOCAL CHARSET= UTF8 "},
         "u",
         "p",
         Bytes({1, 28, 1, 'u', 29, 1, 'p', 48, 4}) + "UTF8" + Bytes({60, 9}) + "RDB$ADMIN"},
        {"255 bytes fit", {}, std::string(255, 'x'), "", Bytes({1, 28, 255}) + std::string(255, 'x') + Bytes({29, 0})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rtl::StringList list;
        for (const std::string& p : c.params)
            list.Add(p);
        TIFibDatabase db(nullptr, list);
        ASSERT_EQ(db.Dpb(), Bytes({1}));
        db.AppendDpbItems(c.user, c.password);
        EXPECT_EQ(db.Dpb(), c.dpb);
    }
}

TEST(IntParameterBlocks, ValuesPastOneLengthByteAreRefusedWhole) {
    struct Case {
        const char* name;
        std::vector<std::string> params;
        std::string user;
        std::string password;
        std::string message;
    } cases[] = {
        {"user", {}, std::string(256, 'u'), "p",
         "The user name is too long for the database parameter block (256 bytes, at most 255)"},
        {"password", {}, "u", std::string(300, 'p'),
         "The password is too long for the database parameter block (300 bytes, at most 255)"},
        {"character set", {"LOCAL CHARSET=" + std::string(256, 'c')}, "u", "p",
         "The LOCAL CHARSET is too long for the database parameter block (256 bytes, at most 255)"},
        {"role", {"ROLE NAME=" + std::string(1000, 'r')}, "u", "p",
         "The ROLE NAME is too long for the database parameter block (1000 bytes, at most 255)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rtl::StringList list;
        for (const std::string& p : c.params)
            list.Add(p);
        TIFibDatabase db(nullptr, list);
        try {
            db.AppendDpbItems(c.user, c.password);
            ADD_FAILURE() << "accepted";
        } catch (const rtl::EDatabaseError& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
        EXPECT_EQ(db.Dpb(), Bytes({1})) << "nothing appended";
        // The object stays usable: a valid login next.
        if (c.params.empty()) {
            db.AppendDpbItems("u", "p");
            EXPECT_EQ(db.Dpb(), Bytes({1, 28, 1, 'u', 29, 1, 'p'}));
        }
    }
}

TEST(IntParameterBlocks, TpbFollowsIsolationAutoCommitAndWaiting) {
    for (const char* nowait : {"TRANSACTION NOWAIT=true", "TRANSACTION NOWAIT= TRUE ", "TRANSACTION NOWAIT=yes", ""}) {
        SCOPED_TRACE(nowait);
        TIFibDatabase db(nullptr, Params({nowait}));
        const bool waits = std::string(nowait).find("yes") != std::string::npos || std::string(nowait).empty();
        EXPECT_EQ(db.Tpb(), Bytes({3, 9, waits ? 6 : 7, 2}));
    }
    struct Case {
        TSDTransIsolation level;
        bool autoCommit;
        std::string tail;
    } cases[] = {
        {tiDirtyRead, true, Bytes({15, 17, 16})},    {tiDirtyRead, false, Bytes({15, 17})},
        {tiReadCommitted, true, Bytes({15, 18, 16})}, {tiReadCommitted, false, Bytes({15, 18})},
        {tiRepeatableRead, true, Bytes({2, 16})},    {tiRepeatableRead, false, Bytes({2})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.level) * 10 + c.autoCommit);
        TIFibDatabase db(nullptr, Params({}));
        db.TransIsolation = c.level;
        db.AutoCommit = c.autoCommit;
        const bool changed = db.UpdateTpb();
        // Only the concurrency-without-auto-commit block equals the one made at creation.
        EXPECT_EQ(changed, !(c.level == tiRepeatableRead && !c.autoCommit));
        EXPECT_EQ(db.Tpb(), Bytes({3, 9, 6}) + c.tail);
        EXPECT_FALSE(db.UpdateTpb()) << "nothing changes the second time";
    }
    // Changing the isolation between transactions changes the block for the next start only.
    TIFibDatabase db(nullptr, Params({}));
    db.UpdateTpb();
    db.TransIsolation = tiReadCommitted;
    EXPECT_EQ(db.Tpb(), Bytes({3, 9, 6, 15, 17, 16}));
    EXPECT_TRUE(db.UpdateTpb());
    EXPECT_EQ(db.Tpb(), Bytes({3, 9, 6, 15, 18, 16}));
}

TEST(IntParameterBlocks, OptionsReadAtCreation) {
    EXPECT_EQ(TIFibDatabase(nullptr, Params({})).SqlDialect(), 1);
    EXPECT_EQ(TIFibDatabase(nullptr, Params({"SQL Dialect= 3 "})).SqlDialect(), 3);
    EXPECT_EQ(TIFibDatabase(nullptr, Params({"SQL Dialect=three"})).SqlDialect(), 1);
    EXPECT_TRUE(TIFibDatabase(nullptr, Params({})).Retaining());
    EXPECT_TRUE(TIFibDatabase(nullptr, Params({"TRANSACTION RETAINING=no"})).Retaining());
    EXPECT_FALSE(TIFibDatabase(nullptr, Params({"TRANSACTION RETAINING= false "})).Retaining());
    EXPECT_FALSE(TIFibDatabase(nullptr, Params({})).SchemaNamesSupported);
    EXPECT_EQ(TIFibDatabase(nullptr, Params({})).GetServerType(), stFirebird);
    EXPECT_EQ(TIIntDatabase(nullptr, Params({})).GetServerType(), stInterbase);
    EXPECT_TRUE(TIIntDatabase(nullptr, Params({})).SPDescriptionsAvailable());
    EXPECT_FALSE(TIIntDatabase(nullptr, Params({})).TestConnected());
    TIFibDatabase db(nullptr, Params({}));
    EXPECT_EQ(db.GetHandle(), nullptr);
    EXPECT_THROW(db.GetDBHandle(), rtl::EAssertionFailed);
    EXPECT_THROW(db.GetTRHandle(), rtl::EAssertionFailed);
}

// ---------------------------------------------------------------------------------------------
// Status check over a client of the test's own: each isc_arg_gds code of the vector gives one
// message "code <n>", and isc_sqlcode answers what the vector's last word says.

ISC_LONG FakeInterpret(ISC_SCHAR* buffer, unsigned int size, const ISC_STATUS** cursor) {
    const ISC_STATUS* s = *cursor;
    if (s[0] != isc_arg_gds) return 0;
    const std::string text = "code " + std::to_string(s[1]);
    std::snprintf(buffer, size, "%s", text.c_str());
    *cursor = s + 2;
    return ISC_LONG(text.size());
}

ISC_LONG FakeSqlCode(const ISC_STATUS* s) {
    int i = 0;
    while (s[i] == isc_arg_gds)
        i += 2;
    return ISC_LONG(s[i + 1]);  // the test puts the SQL code after the terminating word
}

TIntFunctions& FakeClient() {
    static TIntFunctions fn;
    fn.fb_interpret = FakeInterpret;
    fn.isc_sqlcode = FakeSqlCode;
    return fn;
}

TEST(IntStatus, MessagesCodesAndTheLostFlag) {
    // Two messages, SQL code -902, a network failure first: lost.
    const ISC_STATUS lost[] = {isc_arg_gds, isc_network_error, isc_arg_gds, isc_net_read_err, isc_arg_end, -902};
    try {
        CheckIntStatus(1, lost, MakeFibError, nullptr, FakeClient());
        FAIL() << "nothing raised";
    } catch (const ESDFibError& e) {
        EXPECT_EQ(e.Message(), "\r\ncode 335544721\r\ncode 335544726");
        EXPECT_EQ(e.ErrorCode, -902);
        EXPECT_EQ(e.NativeError, -902);
        EXPECT_EQ(e.ErrorPos, -1);
        EXPECT_TRUE(e.ConnectionLost);
    }
    // The same code later in the vector does not count: the first code says what happened.
    const ISC_STATUS later[] = {isc_arg_gds, isc_login, isc_arg_gds, isc_net_read_err, isc_arg_end, -902};
    try {
        CheckIntStatus(1, later, MakeIntError, nullptr, FakeClient());
        FAIL() << "nothing raised";
    } catch (const ESDFibError&) {
        FAIL() << "the InterBase class was asked for";
    } catch (const ESDIntError& e) {
        EXPECT_FALSE(e.ConnectionLost);
    }
    // -501 (a cursor closed twice) raises nothing.
    const ISC_STATUS closed[] = {isc_arg_gds, isc_dsql_cursor_close_err, isc_arg_end, -501};
    EXPECT_NO_THROW(CheckIntStatus(1, closed, MakeFibError, nullptr, FakeClient()));
    // A client without isc_sqlcode: the call's own result is the code.
    TIntFunctions bare;
    bare.fb_interpret = FakeInterpret;
    const ISC_STATUS plain[] = {isc_arg_gds, isc_random, isc_arg_end};
    try {
        CheckIntStatus(335544382, plain, MakeFibError, nullptr, bare);
        FAIL() << "nothing raised";
    } catch (const ESDFibError& e) {
        EXPECT_EQ(e.ErrorCode, 335544382);
    }
}

TEST(IntStatus, CodesOfABrokenLink) {
    for (ISC_STATUS code : {335544528L, 335544721L, 335544722L, 335544723L, 335544724L, 335544725L, 335544726L,
                            335544727L, 335544741L, 335544856L}) {
        const ISC_STATUS v[] = {isc_arg_gds, code, isc_arg_end};
        EXPECT_TRUE(IntStatusMeansLostConnection(v)) << code;
    }
    for (ISC_STATUS code : {335544472L, 335544344L, 335544720L, 335544728L, 335544740L, 335544742L}) {
        const ISC_STATUS v[] = {isc_arg_gds, code, isc_arg_end};
        EXPECT_FALSE(IntStatusMeansLostConnection(v)) << code;
    }
    const ISC_STATUS notGds[] = {isc_arg_string, 335544741L, isc_arg_end};
    EXPECT_FALSE(IntStatusMeansLostConnection(notGds));
}

TEST(IntStatus, InfoAnswersReadItemByItem) {
    // Record counts as Firebird answers them: select, insert, update and delete counts.
    const uint8_t records[] = {13, 4, 0, 5, 0, 0, 0, 14, 4, 0, 7, 0, 0, 0, 15, 4, 0, 3, 1, 0, 0, 16, 4, 0, 2, 0, 0, 0, 1};
    struct Case {
        uint8_t item;
        bool found;
        int64_t value;
    } cases[] = {{13, true, 5}, {14, true, 7}, {15, true, 259}, {16, true, 2}, {17, false, 0}};
    for (const Case& c : cases) {
        int64_t v = -1;
        EXPECT_EQ(IntInfoItem(records, sizeof records, c.item, v), c.found) << int(c.item);
        if (c.found) {
            EXPECT_EQ(v, c.value) << int(c.item);
        }
    }
    int64_t v = 0;
    const uint8_t cut[] = {6, 4, 0, 1, 2};  // the value runs past the answer
    EXPECT_FALSE(IntInfoItem(cut, sizeof cut, 6, v));
    const uint8_t ended[] = {1, 6, 1, 0, 9};  // isc_info_end first
    EXPECT_FALSE(IntInfoItem(ended, sizeof ended, 6, v));
    const uint8_t empty[] = {6, 0, 0};  // no value
    EXPECT_FALSE(IntInfoItem(empty, sizeof empty, 6, v));
    const uint8_t wide[] = {6, 9, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9};  // no number of nine bytes
    EXPECT_FALSE(IntInfoItem(wide, sizeof wide, 6, v));
    const uint8_t small[] = {21, 1, 0, 8};
    EXPECT_TRUE(IntInfoItem(small, sizeof small, 21, v));
    EXPECT_EQ(v, 8);
    EXPECT_FALSE(IntInfoItem(small, 2, 21, v));
}

// ---------------------------------------------------------------------------------------------
// Descriptors

TEST(IntDescriptors, BothLayoutsThroughTSQLVAR) {
    for (int version : {1, 2}) {
        SCOPED_TRACE(version);
        TIntSqlda da(version, 3);
        EXPECT_EQ(da.Version(), version);
        EXPECT_EQ(da.Sqln(), 3);
        EXPECT_EQ(da.Sqld(), 0);
        EXPECT_EQ(size_t(da.Get()->sqldabc), TIntSqlda::HeaderSize() + 3 * TIntSqlda::EntrySize(version));
        EXPECT_THROW(da.Entry(3), rtl::EAssertionFailed);
        ISC_SHORT indicator = 0;
        char data[8] = {};
        TSQLVAR var;
        EXPECT_THROW(var.SqlType(), rtl::EDatabaseError);
        try {
            var.SetSqlLen(1);
        } catch (const rtl::EDatabaseError& e) {
            EXPECT_EQ(e.Message(), "SQLVAR not assigned");
        }
        var.Assign(da, 2);
        EXPECT_EQ(var.Version2(), version == 2);
        var.SetSqlType(int16_t(580 | 1));
        var.SetSqlScale(-2);
        var.SetSqlLen(8);
        var.SetSqlData(data);
        var.SetSqlInd(&indicator);
        var.Store(da, 2);
        // The fields land where the layout's own declaration puts them.
        if (version == 2) {
            TXSqlVarV2 raw;
            std::memcpy(&raw, da.Entry(2), sizeof raw);
            EXPECT_EQ(raw.sqltype, 581);
            EXPECT_EQ(raw.sqlscale, -2);
            EXPECT_EQ(raw.sqllen, 8);
            EXPECT_EQ(raw.sqldata, data);
            EXPECT_EQ(raw.sqlind, &indicator);
            raw.sqlprecision = 18;
            raw.aliasname_length = 5;
            std::memcpy(raw.aliasname, "TOTAL_IGNORED", 13);
            std::memcpy(da.Entry(2), &raw, sizeof raw);
        } else {
            XSQLVAR raw;
            std::memcpy(&raw, da.Entry(2), sizeof raw);
            EXPECT_EQ(raw.sqltype, 581);
            EXPECT_EQ(raw.sqlscale, -2);
            EXPECT_EQ(raw.sqllen, 8);
            EXPECT_EQ(raw.sqldata, data);
            EXPECT_EQ(raw.sqlind, &indicator);
            raw.aliasname_length = 5;
            std::memcpy(raw.aliasname, "TOTAL_IGNORED", 13);
            std::memcpy(da.Entry(2), &raw, sizeof raw);
        }
        TSQLVAR back;
        back.Assign(da, 2);
        EXPECT_EQ(back.SqlType(), 581);
        EXPECT_EQ(back.SqlPrecision(), version == 2 ? 18 : 0);
        EXPECT_EQ(back.AliasName(), "TOTAL");
        // Entries of the other layout are not mixed up.
        TIntSqlda other(version == 2 ? 1 : 2, 3);
        EXPECT_THROW(back.Store(other, 0), rtl::EAssertionFailed);
        TSQLVAR untouched;
        untouched.Assign(da, 1);
        EXPECT_EQ(untouched.SqlType(), 0);
    }
    // A name whose length word claims more than the entry holds is cut to the entry.
    TIntSqlda da(1, 1);
    XSQLVAR raw{};
    raw.aliasname_length = 1000;
    std::memset(raw.aliasname, 'A', sizeof raw.aliasname);
    std::memcpy(da.Entry(0), &raw, sizeof raw);
    TSQLVAR var;
    var.Assign(da, 0);
    EXPECT_EQ(var.AliasName(), std::string(sizeof raw.aliasname, 'A'));
}

TEST(IntDescriptors, FieldTypesOfDescribedEntries) {
    struct Case {
        int16_t type;
        int16_t scale;
        int16_t subtype;
        int16_t length;
        bool bcd;
        TFieldType expected;
    } cases[] = {
        {448, 0, 0, 255, false, ftString},       {449, 0, 0, 256, false, ftMemo},
        {452, 0, 0, 300, false, ftString},       {480, 0, 0, 8, false, ftFloat},
        {482, 0, 0, 4, false, ftFloat},          {496, 0, 0, 4, false, ftInteger},
        {500, 0, 0, 2, false, ftSmallint},       {510, 0, 0, 8, false, ftDateTime},
        {560, 0, 0, 4, false, ftTime},           {570, 0, 0, 4, false, ftDate},
        {580, 0, 0, 8, false, ftLargeint},       {590, 0, 0, 2, false, ftBoolean},
        {32764, 0, 0, 1, false, ftBoolean},      {32765, 0, 0, 1, false, ftBoolean},
        {520, 0, 1, 8, false, ftMemo},           {520, 0, 0, 8, false, ftBlob},
        {520, 0, 20, 8, false, ftFmtMemo},       {520, 0, 21, 8, false, ftParadoxOle},
        {520, 0, 22, 8, false, ftGraphic},       {520, 0, 23, 8, false, ftDBaseOle},
        {520, 0, 24, 8, false, ftTypedBinary},   {520, 0, 99, 8, false, ftBlob},
        {496, -2, 0, 4, true, ftBCD},            {496, -2, 0, 4, false, ftFloat},
        {500, -1, 0, 2, true, ftBCD},            {580, -4, 0, 8, true, ftBCD},
        {580, -6, 0, 8, true, ftFloat},          {580, -6, 0, 8, false, ftFloat},
        {540, 0, 0, 8, false, ftUnknown},        {550, 0, 0, 8, false, ftUnknown},
        {32766, 0, 0, 4, false, ftUnknown},
    };
    for (bool v2 : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(c.type) + " scale " + std::to_string(c.scale) + " sub " +
                         std::to_string(c.subtype) + (c.bcd ? " bcd" : "") + (v2 ? " v2" : ""));
            TIFibDatabase db(nullptr, Params({c.bcd ? "ENABLE BCD=TRUE" : "ENABLE BCD=FALSE"}));
            TIFibCommand cmd(&db, nullptr);
            TIntSqlda da(v2 ? 2 : 1, 1);
            TSQLVAR var;
            var.Assign(da, 0);
            var.SetSqlType(c.type);
            var.SetSqlScale(c.scale);
            var.SetSqlLen(c.length);
            var.Store(da, 0);
            if (v2) {
                TXSqlVarV2 raw;
                std::memcpy(&raw, da.Entry(0), sizeof raw);
                raw.sqlsubtype = c.subtype;
                std::memcpy(da.Entry(0), &raw, sizeof raw);
            } else {
                XSQLVAR raw;
                std::memcpy(&raw, da.Entry(0), sizeof raw);
                raw.sqlsubtype = c.subtype;
                std::memcpy(da.Entry(0), &raw, sizeof raw);
            }
            var.Assign(da, 0);
            EXPECT_EQ(cmd.EntryFieldType(var), c.expected);
        }
    }
}

TEST(IntDescriptors, NativeTypesAndSizes) {
    TIFibDatabase db(nullptr, Params({}));
    TIFibCommand cmd(&db, nullptr);
    struct Case {
        TFieldType type;
        int32_t native;
        uint16_t size;
    } cases[] = {
        {ftString, 452, 0},   {ftFixedChar, 452, 0}, {ftSmallint, 500, 2}, {ftWord, 500, 2},
        {ftInteger, 496, 4},  {ftBoolean, 590, 2},   {ftFloat, 480, 8},    {ftCurrency, 480, 8},
        {ftBCD, 580, 8},      {ftDate, 570, 4},      {ftTime, 560, 4},     {ftDateTime, 510, 8},
        {ftLargeint, 580, 8}, {ftBlob, 520, 0},      {ftMemo, 520, 0},     {ftTypedBinary, 520, 0},
        {ftGuid, 0, 0},       {ftWideString, 0, 0},  {ftVarBytes, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cmd.NativeDataType(c.type), c.native) << int(c.type);
        EXPECT_EQ(cmd.NativeDataSize(c.type), c.size) << int(c.type);
    }
    EXPECT_TRUE(cmd.IsFixedCharType(452));
    EXPECT_TRUE(cmd.IsFixedCharType(453));
    EXPECT_FALSE(cmd.IsFixedCharType(448));
    for (TFieldType t : {ftDate, ftTime, ftDateTime, ftBCD}) EXPECT_TRUE(cmd.RequiredCnvtFieldType(t));
    for (TFieldType t : {ftString, ftFloat, ftLargeint, ftInteger}) EXPECT_FALSE(cmd.RequiredCnvtFieldType(t));
    EXPECT_EQ(cmd.GetHandle(), nullptr);
}

// An InterBase connection whose client says it is of a given version.
class ClientOfVersion final : public TICustomIntDatabase {
public:
    explicit ClientOfVersion(int32_t version) : TICustomIntDatabase(nullptr, rtl::StringList(), stInterbase), version_(version) {}
    TISqlCommandPtr CreateSqlCommand(rtl::Component*) override { return nullptr; }
    int32_t GetClientVersion() override { return version_; }
    void ReleaseClientLibrary() override {}
    void AcquireClientLibrary() override {}
    TIntErrorClass GetErrorClass() const override { return MakeIntError; }
    int32_t version_;
};

TEST(IntDescriptors, VersionTwoOnlyForInterBaseClientsPastSix) {
    for (const auto& [version, expected] : {std::pair{MakeVersionNumber(7, 0), 2}, std::pair{MakeVersionNumber(6, 5), 1},
                                            std::pair{MakeVersionNumber(3, 0), 1}, std::pair{0, 1}}) {
        ClientOfVersion db(version);
        TIIntCommand interbase(&db, nullptr);
        TIFibCommand firebird(&db, nullptr);
        EXPECT_EQ(interbase.DescriptorVersion(), expected) << version;
        EXPECT_EQ(firebird.DescriptorVersion(), 1) << version;
        // Taken once per command and kept.
        db.version_ = expected == 2 ? 0 : MakeVersionNumber(7, 0);
        EXPECT_EQ(interbase.DescriptorVersion(), expected) << version;
    }
}

// ---------------------------------------------------------------------------------------------
// Scaled numerics

template <typename T>
std::vector<uint8_t> Raw(T v) {
    std::vector<uint8_t> b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}

TEST(IntValues, ScaledNumbersAsDoublesAndCurrencies) {
    EXPECT_EQ(TICustomIntCommand::ScaledToDouble(496, -2, 4, Raw(int32_t(12345)).data()), 123.45);
    EXPECT_EQ(TICustomIntCommand::ScaledToDouble(501, -1, 2, Raw(int16_t(-5)).data()), -0.5);
    EXPECT_EQ(TICustomIntCommand::ScaledToDouble(580, -2, 8, Raw(int64_t(1234567)).data()), 12345.67);
    EXPECT_EQ(TICustomIntCommand::ScaledToDouble(580, 0, 8, Raw(int64_t(-7)).data()), -7.0);
    EXPECT_EQ(TICustomIntCommand::ScaledToDouble(482, 0, 4, Raw(1.5f).data()), 1.5);
    EXPECT_EQ(TICustomIntCommand::ScaledToDouble(480, 0, 8, Raw(0.1).data()), 0.1);
    EXPECT_THROW(TICustomIntCommand::ScaledToDouble(452, 0, 3, Raw(int32_t(0)).data()), rtl::EAssertionFailed);

    struct Case {
        int16_t type;
        int16_t scale;
        std::vector<uint8_t> value;
        int64_t units;
    } cases[] = {
        {496, -2, Raw(int32_t(12345)), 1234500},            // 123.45
        {500, -1, Raw(int16_t(-5)), -5000},                 // -0.5
        {580, -4, Raw(int64_t(123456789)), 123456789},      // 12345.6789
        {580, -6, Raw(int64_t(123456789)), 1234568},        // 123.456789 rounds to 123.4568
        {580, -6, Raw(int64_t(-123456750)), -1234568},      // half away from zero
        {580, -5, Raw(int64_t(-5)), -1},                    // -0.00005
        {580, -18, Raw(int64_t(INT64_MAX)), 92234},         // 9.22... with eighteen places
        {580, -4, Raw(int64_t(INT64_MAX)), INT64_MAX},      // as large as a currency holds
        {580, -2, Raw(int64_t(92233720368547758)), 9223372036854775800},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TICustomIntCommand::ScaledToCurrency(c.type, c.scale, c.value.data()), c.units)
            << c.type << " " << c.scale;
    // Past a currency's range: an error, never a wrapped value.
    for (int64_t v : {int64_t(INT64_MAX), int64_t(INT64_MIN), int64_t(922337203685478)}) {
        try {
            TICustomIntCommand::ScaledToCurrency(580, 0, Raw(v).data());
            ADD_FAILURE() << v << " accepted";
        } catch (const rtl::EDatabaseError& e) {
            EXPECT_EQ(e.Message(), "Numeric value out of range for a currency");
        }
    }
    EXPECT_THROW(TICustomIntCommand::ScaledToCurrency(580, -2, Raw(int64_t(92233720368547759)).data()),
                 rtl::EDatabaseError);
}

TEST(IntNames, ProcedureNamesByDialect) {
    EXPECT_EQ(NormalizeIntName("  proc_a ", 1), "PROC_A");
    EXPECT_EQ(NormalizeIntName("  proc_a ", 3), "  proc_a ");
    EXPECT_EQ(QuoteIntName(" proc_a ", 1), "PROC_A");
    EXPECT_EQ(QuoteIntName("proc_a  ", 3), "\"proc_a\"");
    EXPECT_EQ(QuoteIntName("a\"b", 3), "\"a\"\"b\"");
}

}  // namespace
