// The SQL Server and Sybase drivers without a server: the literals they write, the version
// texts they read, how their errors are built from the client libraries' messages, how they
// load and initialise their library (through a stand-in that journals and fails on demand),
// their type tables and catalog texts.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "database/drivers/SDMss.h"
#include "database/drivers/SDSyb.h"
#include "platform/DynamicLibrary.h"
#include "rtl/Assert.h"
#include "rtl/DatabaseError.h"
#include "rtl/Format.h"
#include "support/TestSupport.h"

namespace {

rtl::StringList Params(std::initializer_list<std::string> lines) {
    rtl::StringList params;
    for (const auto& l : lines)
        params.Add(l);
    return params;
}

std::string StandinPath() {
#ifdef KW_TDS_STANDIN
    return KW_TDS_STANDIN;
#else
    return "";
#endif
}

// The stand-in library's journal, message script and failure switch.
class Standin {
public:
    Standin() {
        if (StandinPath().empty() || !lib_.Load(StandinPath())) return;
        journal_ = reinterpret_cast<const char* (*)()>(lib_.Symbol("KwTdsStandinJournal"));
        clear_ = reinterpret_cast<void (*)()>(lib_.Symbol("KwTdsStandinClearJournal"));
        messages_ = reinterpret_cast<void (*)(const char*)>(lib_.Symbol("KwTdsStandinSetMessages"));
        if (clear_ != nullptr) clear_();
    }
    bool Available() const { return journal_ != nullptr && clear_ != nullptr && messages_ != nullptr; }
    std::string Journal() const { return journal_(); }
    void SetMessages(const std::string& lines) const { messages_(lines.c_str()); }
    void Clear() const { clear_(); }

private:
    plat::DynamicLibrary lib_;
    const char* (*journal_)() = nullptr;
    void (*clear_)() = nullptr;
    void (*messages_)(const char*) = nullptr;
};

// The built-in library names back for the tests that follow, once nothing is loaded.
void RestoreLibraryNames() {
    if (MssLibrary().LoadCount() == 0) MssLibrary().TakeNameFromParams(Params({"SQLServer API LIBRARY=libsybdb.so.5"}));
    if (SybLoadCount() == 0) CreateSybaseDatabase(nullptr, Params({"Sybase API LIBRARY=libct.so.4,libct.so.4"}));
}

// ---------------------------------------------------------------------------------------------
// Literals

struct LiteralCase {
    const char* sql;
    const char* mss;
    const char* sybase;  // with "EMPTY STRING AS NULL"
};

TEST(TdsLiterals, ParametersBecomeTransactSqlLiterals) {
    TParams params;
    params.CreateParam(ftInteger, "a", ptInput).SetValue(rtl::Variant(int32_t(1)));
    params.CreateParam(ftInteger, "ab", ptInput).SetValue(rtl::Variant(int32_t(12)));
    params.CreateParam(ftString, "Name", ptInput).SetValue(rtl::Variant("n"));
    params.CreateParam(ftString, "s", ptInput).SetValue(rtl::Variant("O'Brien"));
    params.CreateParam(ftString, "nul", ptInput).Clear();
    params.CreateParam(ftBoolean, "t", ptInput).SetValue(rtl::Variant(true));
    params.CreateParam(ftBoolean, "f", ptInput).SetValue(rtl::Variant(false));
    params.CreateParam(ftDateTime, "dt", ptInput)
        .SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2024, 3, 1) + rtl::EncodeTime(13, 4, 5, 7)));
    params.CreateParam(ftTime, "mid", ptInput).SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2024, 3, 1)));
    params.CreateParam(ftTime, "tm", ptInput).SetValue(rtl::Variant::FromDateTime(rtl::EncodeTime(13, 4, 5, 0)));
    params.CreateParam(ftDate, "d", ptInput)
        .SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2024, 2, 29) + rtl::EncodeTime(10, 0, 0, 0)));
    params.CreateParam(ftBytes, "bin", ptInput).SetValue(rtl::Variant::FromBytes({0x00, 0xff, 0x10}));
    params.CreateParam(ftString, "e", ptInput).SetValue(rtl::Variant(""));
    params.CreateParam(ftBlob, "blob", ptInput).SetValue(rtl::Variant::FromBytes({'A', 'B'}));
    params.CreateParam(ftMemo, "memo", ptInput).SetValue(rtl::Variant(""));
    params.CreateParam(ftFloat, "x", ptInput).SetValue(rtl::Variant(0.1));
    params.CreateParam(ftCurrency, "money", ptInput).SetValue(rtl::Variant::FromCurrency(INT64_MAX));
    params.CreateParam(ftBCD, "bcd", ptInput).SetValue(rtl::Variant::FromCurrency(125000));
    params.CreateParam(ftString, "z", ptInput).SetValue(rtl::Variant(std::string("ab\0\0", 4)));
    params.CreateParam(ftString, "zz", ptInput).SetValue(rtl::Variant(std::string("\0\0", 2)));
    params.CreateParam(ftBlob, "zb", ptInput).SetValue(rtl::Variant::FromBytes({0, 0}));
    const LiteralCase cases[] = {
        // A marker ends at a delimiter: :a is not the start of :ab.
        {"select :a, :ab, :a", "select 1, 12, 1", "select 1, 12, 1"},
        {"where x=:a;", "where x=1;", "where x=1;"},
        {"select :\"Name\"", "select 'n'", "select 'n'"},
        {"select :s", "select 'O''Brien'", "select 'O''Brien'"},
        {"select :nul", "select NULL", "select NULL"},
        {"select :t, :f", "select 1, 0", "select 1, 0"},
        {"select :dt", "select '20240301 13:04:05:007'", "select '20240301 13:04:05:007'"},
        {"select :mid, :tm", "select '', '13:04:05'", "select '', '13:04:05'"},
        {"select :d", "select '20240229'", "select '20240229'"},
        {"select :bin", "select 0x00ff10", "select 0x00ff10"},
        {"select :e", "select ''", "select NULL"},
        {"select :blob, :memo", "select 0x4142, ''", "select 0x4142, NULL"},
        {"select :x", "select 0.1", "select 0.1"},
        {"select :money", "select 922337203685477.5807", "select 922337203685477.5807"},
        {"select :bcd", "select '12.5000'", "select 12.5000"},
        {"select :z", "select 'ab'", "select 'ab'"},
        // A text of zero characters is empty; a blob of zero bytes is not.
        {"select :zz, :zb", "select '', 0x0000", "select NULL, 0x0000"},
        // Markers inside literals and quoted names, and names no parameter has, stay.
        {"select ':a', \":a\", :unknown", "select ':a', \":a\", :unknown", "select ':a', \":a\", :unknown"},
    };
    TIMssDatabase mss(nullptr, Params({}));
    TISybDatabase sybase(nullptr, Params({"EMPTY STRING AS NULL=TRUE"}));
    TISqlCommandPtr mssCommand = mss.CreateSqlCommand(nullptr);
    TISqlCommandPtr sybCommand = sybase.CreateSqlCommand(nullptr);
    mssCommand->SetParams(&params);
    sybCommand->SetParams(&params);
    // The workstation's decimal separator is not the server's.
    const char separator = rtl::FormatSettings.DecimalSeparator;
    rtl::FormatSettings.DecimalSeparator = ',';
    for (const LiteralCase& c : cases) {
        mssCommand->SetCommandText(c.sql);
        sybCommand->SetCommandText(c.sql);
        EXPECT_EQ(static_cast<TIMssCommand&>(*mssCommand).BuildStatementText(nullptr), c.mss) << c.sql;
        EXPECT_EQ(static_cast<TISybCommand&>(*sybCommand).BuildStatementText(), c.sybase) << c.sql;
    }
    EXPECT_EQ(rtl::FormatSettings.DecimalSeparator, ',');
    rtl::FormatSettings.DecimalSeparator = separator;

    // Without "EMPTY STRING AS NULL" an empty text stays a text, an empty blob "0x".
    TISybDatabase plain(nullptr, Params({}));
    TISqlCommandPtr plainCommand = plain.CreateSqlCommand(nullptr);
    plainCommand->SetParams(&params);
    params.ParamByName("blob").SetValue(rtl::Variant::FromBytes({}));
    plainCommand->SetCommandText("select :e, :blob");
    EXPECT_EQ(static_cast<TISybCommand&>(*plainCommand).BuildStatementText(), "select '', 0x");
}

TEST(TdsLiterals, ValuesWithoutLiteralsAreRefused) {
    struct Case {
        TFieldType type;
        rtl::Variant value;
    } cases[] = {
        {ftInteger, rtl::Variant("1); drop table t; --")},
        {ftFloat, rtl::Variant(std::numeric_limits<double>::quiet_NaN())},
        {ftFloat, rtl::Variant(std::numeric_limits<double>::infinity())},
        {ftString, rtl::Variant(std::string("a\0b", 3))},
    };
    TIMssDatabase mss(nullptr, Params({}));
    TISybDatabase sybase(nullptr, Params({}));
    for (const Case& c : cases) {
        TParams params;
        params.CreateParam(c.type, "p", ptInput).SetValue(c.value);
        TISqlCommandPtr m = mss.CreateSqlCommand(nullptr);
        TISqlCommandPtr s = sybase.CreateSqlCommand(nullptr);
        m->SetParams(&params);
        s->SetParams(&params);
        m->SetCommandText("select :p");
        s->SetCommandText("select :p");
        EXPECT_THROW(static_cast<TIMssCommand&>(*m).BuildStatementText(nullptr), rtl::EDatabaseError) << c.value.AsString();
        EXPECT_THROW(static_cast<TISybCommand&>(*s).BuildStatementText(), rtl::EDatabaseError) << c.value.AsString();
    }
}

TEST(TdsLiterals, ServerVersionTexts) {
    struct Case {
        const char* text;
        int32_t major;
        int32_t minor;
    } cases[] = {
        {"Microsoft SQL Server 2019 (RTM) - 15.0.2000.5 (X64)", 15, 0},
        {"Microsoft SQL Server  2000 - 8.00.194 (Intel X86)", 8, 0},
        {"Adaptive Server Enterprise/15.7/EBF 99999 SMP/P/x86_64", 15, 7},
        {"SQL Anywhere Server 17.0.10.1234", 17, 0},
        {"freetds v1.3.17 (threadsafe, default tds version=auto)", 1, 3},
        {"12.5", 12, 5},
        {"no version here 2019", 0, 0},
        {"", 0, 0},
        {"99999999999.99999999999", 0xFFFF, 0xFFFF},
    };
    for (const Case& c : cases) {
        const int32_t v = ParseServerVersionText(c.text);
        EXPECT_EQ(GetVersionMajor(v), c.major) << c.text;
        EXPECT_EQ(GetVersionMinor(v), c.minor) << c.text;
    }
}

// ---------------------------------------------------------------------------------------------
// SQL Server errors, as the handlers build them

DBPROCESS* FakeProc(uintptr_t n) {
    return reinterpret_cast<DBPROCESS*>(n);
}

TEST(MssErrors, MessagesOfOneBatchBecomeOneError) {
    MssErrors().Clear();
    char first[] = "first";
    char second[] = "second";
    char empty[] = "";
    EXPECT_EQ(MssMessageHandler(FakeProc(0x1000), 50001, 1, 16, first, nullptr, nullptr, 3), 0);
    MssMessageHandler(FakeProc(0x1000), 2, 1, 11, second, nullptr, nullptr, 0);
    // Another connection's message stays its own.
    MssMessageHandler(FakeProc(0x2000), 7, 1, 16, empty, nullptr, nullptr, 0);
    std::unique_ptr<ESDMssError> e = MssErrors().Take(FakeProc(0x1000));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->Message(), "SQL Server message 50001: first(line 3)\r\nSQL Server message 2: second");
    EXPECT_EQ(e->ErrorCode, 50001);  // whole, not cut to 16 bits
    EXPECT_EQ(e->NativeError, 50001);
    EXPECT_EQ(e->ErrorPos, 3);
    EXPECT_EQ(e->Severity, 16);
    EXPECT_EQ(e->DBProcess, FakeProc(0x1000));
    EXPECT_FALSE(e->ConnectionLost);
    EXPECT_EQ(MssErrors().Take(FakeProc(0x1000)), nullptr);
    e = MssErrors().Take(FakeProc(0x2000));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->Message(), "SQL Server message 7:");
    EXPECT_EQ(e->ErrorPos, -1);
    EXPECT_EQ(MssErrors().Count(), 0);
}

TEST(MssErrors, WhatTheHandlersLeaveOutAndWhatMeansALostConnection) {
    MssErrors().Clear();
    char text[] = "text";
    char os[] = "Connection refused";
    struct Case {
        const char* name;
        std::function<void()> file;
        bool filed;
        bool lost;
        const char* message;
    } cases[] = {
        {"informational message", [&] { MssMessageHandler(FakeProc(1), 5701, 1, 0, text, nullptr, nullptr, 1); }, false,
         false, ""},
        {"severity 1", [&] { MssMessageHandler(FakeProc(1), 5703, 1, 1, text, nullptr, nullptr, 1); }, false, false, ""},
        {"message 16902", [&] { MssMessageHandler(FakeProc(1), 16902, 1, 16, text, nullptr, nullptr, 1); }, false,
         false, ""},
        // FreeTDS's pointer to the server's messages (SYBESMSG) repeats nothing of them.
        {"general server error", [&] { MssErrorHandler(FakeProc(1), 16, 20018, -1, text, nullptr); }, false, false,
         ""},
        {"library error of severity 1", [&] { MssErrorHandler(FakeProc(1), 1, 20100, -1, text, nullptr); }, false,
         false, ""},
        {"unexpected end of stream",
         [&] { EXPECT_EQ(MssErrorHandler(FakeProc(1), 9, 20017, 0, text, os), 2); }, true, true,
         "DB-Library error 20017: text\n\r"},
        {"write failed", [&] { MssErrorHandler(FakeProc(1), 9, 20006, -1, text, nullptr); }, true, true,
         "DB-Library error 20006: text\n\r"},
        {"dead process", [&] { MssErrorHandler(FakeProc(1), 9, 20047, 0, text, nullptr); }, true, true,
         "DB-Library error 20047: text\n\r"},
        // A refused connect carries the operating system's error as Windows Sockets shows it.
        {"refused connect", [&] { MssErrorHandler(FakeProc(1), 9, 20009, 111, text, os); }, true, true,
         "DB-Library error 20009: text\n\rNet-Lib error 10061:  Connection refused\n\rOperating-system error: "
         "Connection refused\n\r"},
        {"conversion error", [&] { MssErrorHandler(FakeProc(1), 4, 20049, -1, text, nullptr); }, true, false,
         "DB-Library error 20049: text\n\r"},
        // A server error that a lost connection follows is a lost connection.
        {"server error, then end of stream",
         [&] {
             MssMessageHandler(FakeProc(1), 208, 1, 16, text, nullptr, nullptr, 1);
             MssErrorHandler(FakeProc(1), 9, 20017, 0, text, os);
         },
         true, true, "SQL Server message 208: text(line 1)\r\nDB-Library error 20017: text\n\r"},
    };
    for (const Case& c : cases) {
        c.file();
        std::unique_ptr<ESDMssError> e = MssErrors().Take(FakeProc(1));
        EXPECT_EQ(e != nullptr, c.filed) << c.name;
        if (!e) continue;
        EXPECT_EQ(e->ConnectionLost, c.lost) << c.name;
        EXPECT_EQ(e->Message(), c.message) << c.name;
        // A DB-Library error has no line; a server message its own.
        EXPECT_EQ(e->ErrorPos, e->ErrorCode == 208 ? 1 : -1) << c.name;
    }
    EXPECT_EQ(MssErrors().Count(), 0);
}

TEST(MssErrors, MessagesWithoutAConnectionJoinOnlyTheirKind) {
    MssErrors().Clear();
    char text[] = "text";
    MssMessageHandler(FakeProc(0x3000), 208, 1, 16, text, nullptr, nullptr, 1);
    // A DBPROCESS-less message files its own error instead of joining the connection's.
    MssErrorHandler(nullptr, 2, 20012, -1, text, nullptr);
    MssErrorHandler(nullptr, 2, 20013, -1, text, nullptr);
    std::unique_ptr<ESDMssError> none = MssErrors().Take(nullptr);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->Message(), "DB-Library error 20012: text\n\r\r\nDB-Library error 20013: text\n\r");
    EXPECT_EQ(none->DBProcess, nullptr);
    std::unique_ptr<ESDMssError> own = MssErrors().Take(FakeProc(0x3000));
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->Message(), "SQL Server message 208: text(line 1)");
    // During a login the messages belong to that attempt, whatever DBPROCESS they name.
    int attempt = 0;
    {
        TMssLoginScope scope(&attempt);
        MssMessageHandler(FakeProc(0x4000), 18456, 1, 14, text, nullptr, nullptr, 1);
    }
    EXPECT_EQ(MssErrors().Take(FakeProc(0x4000)), nullptr);
    std::unique_ptr<ESDMssError> login = MssErrors().Take(&attempt);
    ASSERT_NE(login, nullptr);
    EXPECT_EQ(login->DBProcess, nullptr);
    EXPECT_EQ(login->ErrorCode, 18456);
    EXPECT_EQ(MssErrors().Count(), 0);
}

TEST(MssErrors, AFailedCallWithoutAMessageIsNoSuccess) {
    MssErrors().Clear();
    TIMssDatabase db(nullptr, Params({}));
    EXPECT_NO_THROW(db.Check(nullptr, true, "dbsqlexec"));
    try {
        db.Check(nullptr, false, "dbsqlexec");
        FAIL() << "a failed call passed";
    } catch (const ESDMssError& e) {
        EXPECT_EQ(e.Message(), "DB-Library function dbsqlexec failed");
        EXPECT_FALSE(e.ConnectionLost);
    }
    // With a message filed, the message is what is raised.
    char text[] = "Invalid object name 'x'.";
    MssMessageHandler(nullptr, 208, 1, 16, text, nullptr, nullptr, 1);
    try {
        db.Check(nullptr, false, "dbsqlexec");
        FAIL() << "a failed call passed";
    } catch (const ESDMssError& e) {
        EXPECT_EQ(e.Message(), "SQL Server message 208: Invalid object name 'x'.(line 1)");
    }
    EXPECT_EQ(MssErrors().Count(), 0);
}

// ---------------------------------------------------------------------------------------------
// Loading

TEST(MssLoading, CountsNamesMissingEntriesAndInitialisation) {
    Standin standin;
    KW_REQUIRE_PEER(standin.Available(), "the TDS stand-in library");
    ASSERT_EQ(MssLibrary().LoadCount(), 0);
    CreateSQLServerDatabase(nullptr, Params({"SQLServer API LIBRARY=" + StandinPath()}));
    LoadMssLibrary();
    LoadMssLibrary();
    EXPECT_EQ(MssLibrary().LoadCount(), 2);
    // The client's version comes from dbversion's text; entries the library lacks are optional.
    EXPECT_EQ(MssClientVersion(), MakeVersionNumber(9, 8));
    // The name is not changed while the library is loaded.
    CreateSQLServerDatabase(nullptr, Params({"SQLServer API LIBRARY=/nonexistent/libsybdb.so"}));
    EXPECT_EQ(MssLibrary().FileName(), StandinPath());
    UnloadMssLibrary();
    EXPECT_TRUE(MssLibrary().IsLoaded());
    UnloadMssLibrary();
    EXPECT_FALSE(MssLibrary().IsLoaded());
    UnloadMssLibrary();  // nothing at a count of 0
    EXPECT_EQ(MssLibrary().LoadCount(), 0);
    EXPECT_EQ(standin.Journal(), "dbinit\ndbexit\n");

    // A library that refuses to initialise is released again.
    {
        kwtest::ScopedEnv fail("KW_TDS_STANDIN_FAIL", "dbinit");
        try {
            LoadMssLibrary();
            FAIL() << "an initialisation failure passed";
        } catch (const ESDMssError& e) {
            EXPECT_EQ(e.Message(), "Error initialization of DB-library");
        }
        EXPECT_EQ(MssLibrary().LoadCount(), 0);
        EXPECT_FALSE(MssLibrary().IsLoaded());
    }
    const struct {
        std::string file;
        std::string message;
        bool assertion;
    } refused[] = {
        {"/nonexistent/libsybdb.so", "Error loading library '/nonexistent/libsybdb.so'", false},
        {"libz.so.1", "Function 'abort_xact' not found in MS SQLServer DB-library", true},
    };
    for (const auto& r : refused) {
        CreateSQLServerDatabase(nullptr, Params({"SQLServer API LIBRARY=" + r.file}));
        try {
            LoadMssLibrary();
            FAIL() << r.file << " loaded";
        } catch (const rtl::EAssertionFailed& e) {
            EXPECT_TRUE(r.assertion) << r.file;
            EXPECT_EQ(e.Message(), r.message);
        } catch (const ESDSqlLibError& e) {
            EXPECT_FALSE(r.assertion) << r.file;
            EXPECT_EQ(e.Message(), r.message);
        }
        EXPECT_EQ(MssLibrary().LoadCount(), 0);
    }
    RestoreLibraryNames();
}

TEST(SybLoading, ListsVersionChainAndInitialisation) {
    Standin standin;
    KW_REQUIRE_PEER(standin.Available(), "the TDS stand-in library");
    ASSERT_EQ(SybLoadCount(), 0);
    const std::string two = StandinPath() + ", " + StandinPath();
    CreateSybaseDatabase(nullptr, Params({"Sybase API LIBRARY=" + two}));
    EXPECT_EQ(SybLibraryList(), two);
    LoadSybLibrary();
    LoadSybLibrary();
    EXPECT_EQ(SybLoadCount(), 2);
    EXPECT_NE(SybContext(), nullptr);
    EXPECT_EQ(SybContextVersion(), 12500);
    UnloadSybLibrary();
    EXPECT_EQ(SybLoadCount(), 1);
    UnloadSybLibrary();
    EXPECT_EQ(SybLoadCount(), 0);
    EXPECT_EQ(SybContext(), nullptr);
    UnloadSybLibrary();
    EXPECT_EQ(standin.Journal(), "cs_ctx_alloc 12500\nct_init 12500\nct_exit 300\ncs_ctx_drop\n");

    // No registry: 12500 first, then 1100, then 112.
    struct Case {
        const char* fail;
        const char* journal;
        int32_t version;
        const char* error;
    } cases[] = {
        {"cs_ctx_alloc=12500", "cs_ctx_alloc 12500\ncs_ctx_alloc 1100\nct_init 1100\n", 1100, nullptr},
        {"cs_ctx_alloc=12500,1100", "cs_ctx_alloc 12500\ncs_ctx_alloc 1100\ncs_ctx_alloc 112\nct_init 112\n", 112,
         nullptr},
        {"cs_ctx_alloc=12500,1100,112", "cs_ctx_alloc 12500\ncs_ctx_alloc 1100\ncs_ctx_alloc 112\n", 0,
         "Error initialization of CT-library: cs_ctx_alloc() failed"},
        {"cs_ctx_alloc=mem", "cs_ctx_alloc 12500\n", 0,
         "Error initialization of CT-library: cs_ctx_alloc() failed because it could not allocate sufficient memory"},
        {"ct_init", "cs_ctx_alloc 12500\nct_init 12500\ncs_ctx_drop\n", 0,
         "Error initialization of CT-library: ct_init() failed"},
    };
    for (const Case& c : cases) {
        kwtest::ScopedEnv fail("KW_TDS_STANDIN_FAIL", std::string(c.fail));
        standin.Clear();
        if (c.error == nullptr) {
            LoadSybLibrary();
            EXPECT_EQ(SybContextVersion(), c.version) << c.fail;
            EXPECT_EQ(standin.Journal(), c.journal) << c.fail;
            UnloadSybLibrary();
            continue;
        }
        try {
            LoadSybLibrary();
            FAIL() << c.fail << " loaded";
        } catch (const ESDSqlLibError& e) {
            EXPECT_EQ(e.Message(), c.error);
        }
        EXPECT_EQ(standin.Journal(), c.journal) << c.fail;
        EXPECT_EQ(SybLoadCount(), 0) << c.fail;
        EXPECT_EQ(SybContext(), nullptr) << c.fail;
    }
    {
        LoadSybLibrary();
        kwtest::ScopedEnv fail("KW_TDS_STANDIN_FAIL", std::string("ct_exit"));
        try {
            UnloadSybLibrary();
            FAIL() << "a refused exit passed";
        } catch (const ESDSqlLibError& e) {
            EXPECT_EQ(e.Message(), "Error termination of CT-library: ct_exit() failed");
        }
        EXPECT_EQ(SybLoadCount(), 1);
    }
    UnloadSybLibrary();
    EXPECT_EQ(SybLoadCount(), 0);

    const struct {
        std::string list;
        std::string message;
        bool assertion;
    } refused[] = {
        {StandinPath() + ",/nonexistent/libct.so", "Error loading library '" + StandinPath() + ",/nonexistent/libct.so'",
         false},
        {"libz.so.1", "Function 'cs_calc' not found in Client/Server-library", true},
    };
    for (const auto& r : refused) {
        CreateSybaseDatabase(nullptr, Params({"Sybase API LIBRARY=" + r.list}));
        try {
            LoadSybLibrary();
            FAIL() << r.list << " loaded";
        } catch (const rtl::EAssertionFailed& e) {
            EXPECT_TRUE(r.assertion) << r.list;
            EXPECT_EQ(e.Message(), r.message);
        } catch (const ESDSqlLibError& e) {
            EXPECT_FALSE(r.assertion) << r.list;
            EXPECT_EQ(e.Message(), r.message);
        }
        EXPECT_EQ(SybLoadCount(), 0);
    }
    RestoreLibraryNames();
}

// ---------------------------------------------------------------------------------------------
// Sybase errors, as the check builds them from the connection's messages

TEST(SybErrors, MessagesBecomeOneErrorPerFailure) {
    Standin standin;
    KW_REQUIRE_PEER(standin.Available(), "the TDS stand-in library");
    CreateSybaseDatabase(nullptr, Params({"Sybase API LIBRARY=" + StandinPath()}));
    LoadSybLibrary();
    TISybDatabase db(nullptr, Params({}));
    auto* connection = reinterpret_cast<CS_CONNECTION*>(0x5000);
    struct Case {
        const char* name;
        const char* messages;
        bool failed;  // the check runs for a failed call
        const char* raised;
        int32_t code;
        bool lost;
    } cases[] = {
        {"server error and communication failure",
         "S 208 16 1 Invalid object name 'x'.\nC 84083972 5 Connection reset", true,
         "Server message 208, severity 16, state 1: Invalid object name 'x'.\r\nClient-Library error 84083972: "
         "Connection reset",
         208, true},
        {"three client messages", "C 1 1 one\nC 2 1 two\nC 3 1 three", true,
         "Client-Library error 1: one\r\nClient-Library error 2: two\r\nClient-Library error 3: three", 1, false},
        // FreeTDS reports its transport's failures with its own communication severity.
        {"transport failure", "C 20017 9 Unexpected EOF from the server", true,
         "Client-Library error 20017: Unexpected EOF from the server", 20017, true},
        {"server message above 32767", "S 50001 16 2 refused", true, "Server message 50001, severity 16, state 2: refused",
         50001, false},
        // Informational messages are no error: a failed call that has only those still fails.
        {"informational only, failed", "S 5701 10 1 Changed database context\nC 1 0 note", true,
         "Client-Library function ct_results failed", -1, false},
        {"informational only, no failure", "S 5701 10 1 Changed database context", false, nullptr, 0, false},
        {"nothing, failed", "", true, "Client-Library function ct_results failed", -1, false},
    };
    for (const Case& c : cases) {
        standin.SetMessages(c.messages);
        try {
            if (c.failed)
                db.Check(CS_FAIL, connection, "ct_results");
            else
                db.RaisePending(connection);
            EXPECT_EQ(c.raised, nullptr) << c.name << ": nothing raised";
        } catch (const ESDSybError& e) {
            ASSERT_NE(c.raised, nullptr) << c.name << ": " << e.Message();
            EXPECT_EQ(e.Message(), c.raised) << c.name;
            EXPECT_EQ(e.ErrorCode, c.code) << c.name;
            EXPECT_EQ(e.NativeError, c.code) << c.name;
            EXPECT_EQ(e.ErrorPos, -1) << c.name;
            EXPECT_EQ(e.ConnectionLost, c.lost) << c.name;
        }
        // The check clears what it read.
        standin.SetMessages("");
    }
    // A success raises nothing, whatever messages wait.
    standin.SetMessages("S 208 16 1 stale");
    EXPECT_NO_THROW(db.Check(CS_SUCCEED, connection, "ct_send"));
    standin.SetMessages("");
    UnloadSybLibrary();
    RestoreLibraryNames();
}

// ---------------------------------------------------------------------------------------------
// Types and catalog texts

TEST(TdsTypes, ColumnAndParameterTables) {
    TIMssDatabase mssDb(nullptr, Params({}));
    TISybDatabase sybDb(nullptr, Params({}));
    TISqlCommandPtr mss = mssDb.CreateSqlCommand(nullptr);
    TISqlCommandPtr syb = sybDb.CreateSqlCommand(nullptr);
    // Native type codes as the libraries report them.
    const std::pair<int32_t, TFieldType> mssTypes[] = {
        {47, ftString},   {39, ftString},    {48, ftSmallint},  {52, ftSmallint}, {56, ftInteger},
        {38, ftInteger},  {50, ftBoolean},   {59, ftFloat},     {62, ftFloat},    {106, ftFloat},
        {108, ftFloat},   {109, ftFloat},    {60, ftCurrency},  {110, ftCurrency}, {122, ftCurrency},
        {61, ftDateTime}, {58, ftDateTime},  {111, ftDateTime}, {45, ftBytes},    {37, ftVarBytes},
        {34, ftBlob},     {35, ftMemo},      {127, ftUnknown},  {231, ftUnknown},  {0, ftUnknown},
    };
    for (const auto& [native, field] : mssTypes)
        EXPECT_EQ(mss->FieldDataType(native), field) << native;
    const std::pair<int32_t, TFieldType> sybTypes[] = {
        {0, ftString},     {2, ftString},    {18, ftString},  {1, ftBytes},     {3, ftBytes},   {4, ftMemo},
        {5, ftBlob},       {6, ftSmallint},  {7, ftSmallint}, {8, ftInteger},   {9, ftFloat},   {10, ftFloat},
        {16, ftFloat},     {17, ftFloat},    {11, ftBoolean}, {12, ftDateTime}, {13, ftDateTime}, {14, ftCurrency},
        {15, ftCurrency},  {19, ftUnknown},  {30, ftUnknown},
    };
    for (const auto& [native, field] : sybTypes)
        EXPECT_EQ(syb->FieldDataType(native), field) << native;
    const std::pair<int32_t, TFieldType> userTypes[] = {
        {1, ftString},    {25, ftString},   {3, ftBytes},     {5, ftSmallint}, {13, ftInteger}, {28, ftFloat},
        {21, ftCurrency}, {22, ftDateTime}, {16, ftBoolean},  {19, ftMemo},    {20, ftBlob},    {9, ftUnknown},
    };
    for (const auto& [user, field] : userTypes)
        EXPECT_EQ(TISybCommand::ParamFieldType(user), field) << user;
    EXPECT_EQ(mss->NativeDataSize(ftGuid), 16);
    EXPECT_EQ(mss->NativeDataSize(ftDateTime), 8);
    EXPECT_EQ(syb->NativeDataSize(ftBCD), 8);
    EXPECT_TRUE(mss->RequiredCnvtFieldType(ftGuid));
    EXPECT_FALSE(syb->RequiredCnvtFieldType(ftGuid));
    EXPECT_EQ(TIMssCommand::ServerParamType(ftString), 39);
    EXPECT_EQ(TIMssCommand::ServerParamType(ftBoolean), 52);
    EXPECT_EQ(TIMssCommand::ServerParamType(ftDateTime), 61);
}

TEST(TdsCatalog, TextsByKindVersionAndPattern) {
    // A kind above 5 has no text.
    EXPECT_EQ(TIMssDatabase::SchemaInfoText(TSDSchemaType(6), "t", 8), "");
    EXPECT_EQ(TISybDatabase::SchemaInfoText(TSDSchemaType(6), "t", 15, false), "");
    // An owner, a dot and an asterisk: by owner only.
    const std::string ownerOnly = TIMssDatabase::SchemaInfoText(stTables, "dbo.*", 8);
    EXPECT_NE(ownerOnly.find("where so.uid = su.uid  and su.name = 'dbo' and so.type in ('U', 'V') order by"),
              std::string::npos)
        << ownerOnly;
    EXPECT_NE(TIMssDatabase::SchemaInfoText(stSysTables, "sys%", 8).find(" and so.name like 'sys%'"),
              std::string::npos);
    // A quote in a pattern is a character of the name, in every text that takes one.
    for (int kind = 0; kind <= 5; ++kind) {
        for (int32_t major : {6, 7, 8, 12}) {
            for (bool xp : {false, true}) {
                const std::string texts[] = {TIMssDatabase::SchemaInfoText(TSDSchemaType(kind), "o'x.n'y", major),
                                             TISybDatabase::SchemaInfoText(TSDSchemaType(kind), "o'x.n'y", major, xp)};
                for (const std::string& t : texts) {
                    EXPECT_EQ(t.find("o'x"), std::string::npos) << kind << " " << major << ": " << t;
                    EXPECT_EQ(t.find("n'y"), std::string::npos) << kind << " " << major << ": " << t;
                    EXPECT_TRUE(t.find("o''x") != std::string::npos || t.find("n''y") != std::string::npos)
                        << kind << " " << major << ": " << t;
                }
            }
        }
    }
    // The server's version picks the text.
    EXPECT_NE(TIMssDatabase::SchemaInfoText(stProcedures, "", 6).find("sysprocedures sp"), std::string::npos);
    EXPECT_NE(TIMssDatabase::SchemaInfoText(stProcedures, "", 7).find("syscomments sp"), std::string::npos);
    EXPECT_NE(TIMssDatabase::SchemaInfoText(stIndexes, "t", 8).find("INDEXPROPERTY"), std::string::npos);
    EXPECT_EQ(TIMssDatabase::SchemaInfoText(stIndexes, "t", 7).find("INDEXPROPERTY"), std::string::npos);
    EXPECT_NE(TIMssDatabase::SchemaInfoText(stColumns, "t", 6).find("CASE sc.status & 8 WHEN 0 THEN 0 ELSE 1 END"),
              std::string::npos);
    EXPECT_NE(TISybDatabase::SchemaInfoText(stProcedures, "", 12, false).find("SUM((sc.status2 & 2)/2)"),
              std::string::npos);
    EXPECT_NE(TISybDatabase::SchemaInfoText(stProcedures, "", 11, false).find("COUNT(sc.id)"), std::string::npos);
    EXPECT_NE(TISybDatabase::SchemaInfoText(stColumns, "t", 15, true).find("sys.syscolumn sc"), std::string::npos);
}

}  // namespace
