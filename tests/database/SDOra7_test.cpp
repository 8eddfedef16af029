// The Oracle driver's OCI 7 generation over the stand-in client library: where it differs
// from the OCI 8 one. The logon text, auto-commit and the isolation statement after every
// commit, binds by marker with obndra or obindps, LONG columns read with oflng, the
// procedure description through odessp, cursors returned by a cursor parameter, and fetching
// that ends only at the end of the data.
#include <gtest/gtest.h>

#include "database/OraTestSupport.h"
#include "rtl/Assert.h"
#include "rtl/DateTime.h"

using namespace oratest;
using odbctest::Rows;

namespace {

class Oci7 : public ::testing::Test {
protected:
    void SetUp() override { KW_REQUIRE_PEER(standin.Available(), "the OCI stand-in library"); }
    void TearDown() override {
        ora.reset();
        EXPECT_EQ(OciLoadCount(), 0);
        SetOciLibraryList(kOciLibraryList);
    }
    void Open(rtl::StringList params = Params(), const std::string& library = kOci7Client,
              const std::string& password = "tiger", const char* variant = "standin") {
        ora = std::make_unique<Session>(params, library, variant, "scott", password);
    }
    TISqlDatabase& Db() { return *ora->db; }
    TISqlCommandPtr Procedure(const std::string& name, TParams& params,
                              const std::function<void(TParams&)>& values = nullptr) {
        return RunProcedure(Db(), name, params, values);
    }

    OciStandin standin;
    std::unique_ptr<Session> ora;
};

}  // namespace

TEST_F(Oci7, TheLogonTextAndTheConnectionsSetUp) {
    Open();
    EXPECT_EQ(dynamic_cast<TIOraDatabase*>(&Db()) != nullptr, true);
    EXPECT_EQ(standin.Lines("olog"), (std::vector<std::string>{"olog scott/tiger@" + ora->file.string() + " mode=0"}));
    // The server's own auto-commit is kept (nothing sent), then the isolation statement runs.
    EXPECT_TRUE(standin.Lines("ocon").empty());
    EXPECT_TRUE(standin.Logged("oparse set transaction READ WRITE deferred=1 language=2"));
    ora.reset();
    // Without a password only "@" and the database go out: external credentials.
    standin.Clear();
    Open(Params(), kOci7Client, "");
    EXPECT_EQ(standin.Lines("olog"), (std::vector<std::string>{"olog @" + ora->file.string() + " mode=0"}));
    EXPECT_EQ(ora->Query("select 5 from DUAL"), (Rows{{"5"}}));
}

TEST_F(Oci7, AutoCommitAndTheIsolationStatementAfterCommitAndRollback) {
    // Keeping the logon's own setting: nothing commits by itself, and the flag says so.
    Open();
    EXPECT_FALSE(Db().AutoCommit);
    ora->Exec("create table T (ID NUMBER(10))");
    ora->Exec("insert into T values (1)");
    standin.Clear();
    Db().StartTransaction();
    Db().Commit();
    EXPECT_TRUE(standin.Lines("ocof").empty());
    EXPECT_TRUE(standin.Lines("ocon").empty());
    ora.reset();
    // Asked for auto-commit: on at logon, off for a transaction, on again after it.
    standin.Clear();
    OracleHome home({kOci7Client});
    kwtest::TempDir dir;
    auto db = CreateOracleDatabase(nullptr, Params({home.ApiLibrary(kOci7Client)}));
    db->AutoCommitDefault = false;
    db->Connect((dir / "a.db").string(), "scott", "tiger");
    EXPECT_TRUE(standin.Logged("ocon"));
    odbctest::Exec(*db, "create table T (ID NUMBER(10))");
    standin.Clear();
    db->StartTransaction();
    EXPECT_TRUE(standin.Logged("ocof"));
    odbctest::Exec(*db, "insert into T values (1)");
    db->Commit();
    const std::string journal = standin.Journal();
    const size_t commit = journal.find("ocom");
    ASSERT_NE(commit, std::string::npos);
    EXPECT_NE(journal.find("oparse set transaction READ WRITE", commit), std::string::npos);
    EXPECT_NE(journal.find("ocon", commit), std::string::npos);
    standin.Clear();
    db->StartTransaction();
    odbctest::Exec(*db, "insert into T values (2)");
    db->Rollback();
    EXPECT_TRUE(standin.Logged("orol"));
    EXPECT_EQ(odbctest::Query(*db, "select ID from T"), (Rows{{"1"}}));
    db->SetTransIsolation(tiRepeatableRead);
    EXPECT_TRUE(standin.Logged("oparse set transaction READ ONLY deferred=1 language=2"));
    db->Disconnect(false);
}

TEST_F(Oci7, BindsAndDefinesFollowThePiecewiseCalls) {
    for (const std::string& library : {kOci7Client, std::string("libclntsh.so.7.2")}) {
        SCOPED_TRACE(library);
        const char* variant = library == "libclntsh.so.7.2" ? "nopiece" : "standin";
        OciStandin standin(variant);
        Open(Params(), library, "tiger", variant);
        ora->Exec("create table T (ID NUMBER(10), NAME VARCHAR2(20), D DATE)");
        TParams p;
        p.CreateParam(ftInteger, "id", ptInput).SetValue(rtl::Variant(int32_t(3)));
        p.CreateParam(ftString, "name", ptInput).SetValue(rtl::Variant("três"));
        p.CreateParam(ftDateTime, "d", ptInput)
            .SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2024, 3, 5) + rtl::EncodeTime(1, 2, 3, 0)));
        standin.Clear();
        TISqlCommandPtr insert = Db().CreateSqlCommand(nullptr);
        insert->SetParams(&p);
        insert->Prepare("insert into T values (:id, :name, :d)");
        insert->Execute();
        EXPECT_EQ(insert->GetRowsAffected(), 1);
        const bool piecewise = library == kOci7Client;
        EXPECT_EQ(standin.Lines(piecewise ? "obindps" : "obndra").size(), 3u);
        EXPECT_TRUE(standin.Lines(piecewise ? "obndra" : "obindps").empty());
        EXPECT_EQ(standin.Lines("obindps 2 op=1 type=97").size(), piecewise ? 1u : 0u);
        standin.Clear();
        EXPECT_EQ(ora->Query("select ID, NAME, D from T"), (Rows{{"3", "três", "2024-03-05 01:02:03.000"}}));
        EXPECT_EQ(standin.Lines(piecewise ? "odefinps" : "odefin ").size(), 3u);
        ora.reset();
        SetOciLibraryList(kOciLibraryList);
    }
}

TEST_F(Oci7, LongColumnsAreReadWithOflngUntilAShortPiece) {
    Open(Params({"BLOB PIECE SIZE=1000"}));
    ora->Exec("create table T (ID NUMBER(10), DOC LONG RAW, NOTE LONG)");
    ora->Exec("insert into T values (1, randomblob(1000), 'abc')");
    ora->Exec("insert into T values (2, randomblob(2500), null)");
    standin.Clear();
    TISqlCommandPtr cmd = Db().CreateSqlCommand(nullptr);
    cmd->Prepare("select DOC, NOTE, length(DOC) from T order by ID");
    cmd->Execute();
    ASSERT_TRUE(cmd->FetchNextRow());
    // Exactly one piece: a second call answers no byte.
    EXPECT_EQ(standin.Lines("oflng 1"), (std::vector<std::string>{"oflng 1 type=24 offset=0 got=1000",
                                                                  "oflng 1 type=24 offset=1000 got=0"}));
    EXPECT_EQ(standin.Lines("oflng 2"), (std::vector<std::string>{"oflng 2 type=8 offset=0 got=3"}));
    const TSDBlobRef doc = cmd->GetFieldBlobData(cmd->FieldDescs->GetFieldDesc(0));
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->size(), 1000u);
    standin.Clear();
    ASSERT_TRUE(cmd->FetchNextRow());
    EXPECT_EQ(cmd->GetFieldBlobData(cmd->FieldDescs->GetFieldDesc(0))->size(), 2500u);
    EXPECT_FALSE(cmd->GetFieldBlobData(cmd->FieldDescs->GetFieldDesc(1)));
    EXPECT_EQ(standin.Lines("oflng 2").size(), 0u);  // a null LONG costs no call
    EXPECT_FALSE(cmd->FetchNextRow());
}

TEST_F(Oci7, ProceduresAreDescribedWithOdessp) {
    Open();
    TParams none;
    TISqlCommandPtr noArgs = Procedure("KW_NOARGS", none);
    EXPECT_EQ(none.Count(), 0);
    EXPECT_EQ(noArgs->PreparedText, "begin KW_NOARGS ; end;");
    TParams fn;
    Procedure("KW_DOUBLE", fn, [](TParams& p) { p.ParamByName("X").SetValue(rtl::Variant(4.5)); });
    ASSERT_EQ(fn.Count(), 2);
    EXPECT_EQ(fn[0].Name(), "X");
    EXPECT_EQ(fn[1].Name(), "Result");  // the result goes after the arguments
    EXPECT_EQ(fn[1].ParamType(), ptResult);
    EXPECT_DOUBLE_EQ(fn[1].Value().AsDouble(), 9);
    TParams add;
    Procedure("KW_ADD", add, [](TParams& p) {
        p.ParamByName("A").SetValue(rtl::Variant(int32_t(40)));
        p.ParamByName("B").SetValue(rtl::Variant(int32_t(2)));
    });
    EXPECT_EQ(add.ParamByName("C").Value().AsInteger(), 42);
    TParams odd;
    try {
        Procedure("KW_ODD_MODE", odd);
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Unknown parameter type for parameter 'X'");
    }
    TParams missing;
    try {
        Procedure("NO_SUCH", missing);
        FAIL();
    } catch (const ESDOraError& e) {
        EXPECT_EQ(e.ErrorCode, 4043);
    }
}

TEST_F(Oci7, ACursorParameterSuppliesTheRowsAfterTheParametersAreGone) {
    Open();
    TParams p;
    TISqlCommandPtr cmd = Db().CreateSqlCommand(nullptr);
    cmd->CommandType = 2;
    cmd->SetParams(&p);
    cmd->Prepare("KW_PKG.OPEN_NUMBERS");
    ASSERT_EQ(p.Count(), 2);
    EXPECT_EQ(p[1].DataType(), ftCursor);
    p.ParamByName("N").SetValue(rtl::Variant(int32_t(4)));
    EXPECT_TRUE(cmd->ResultSetExists());
    cmd->InitFieldDescs();
    cmd->Execute();
    EXPECT_EQ(odbctest::FetchAll(*cmd), (Rows{{"1", "N1"}, {"2", "N2"}, {"3", "N3"}, {"4", "N4"}}));
    cmd->CloseResultSet();
}

TEST_F(Oci7, LongProcedureValuesAreSentInPiecesFromVersion73) {
    Open();
    ora->Exec("create table KW_LONGS (ID NUMBER(10), DOC LONG RAW)");
    TParams p;
    standin.Clear();
    Procedure("KW_PUT_LONG", p, [](TParams& params) {
        params.ParamByName("ID").SetValue(rtl::Variant(int32_t(9)));
        params.ParamByName("DOC").SetValue(rtl::Variant::FromBytes(rtl::ByteArray(4000, 0x5A)));
    });
    EXPECT_TRUE(standin.Logged("obindps DOC op=0 type=24 size=2147483647"));
    EXPECT_TRUE(standin.Logged("ogetpi DOC"));
    EXPECT_TRUE(standin.Logged("osetpi DOC 4000 bytes piece=3"));
    EXPECT_EQ(ora->Query("select ID, length(DOC) from KW_LONGS"), (Rows{{"9", "4000"}}));
}

TEST_F(Oci7, BelowVersion73ProcedureValuesAreBoundWhole) {
    OciStandin old("nopiece");
    Open(Params(), "libclntsh.so.7.2", "tiger", "nopiece");
    ora->Exec("create table KW_LONGS (ID NUMBER(10), DOC LONG RAW)");
    TParams p;
    old.Clear();
    Procedure("KW_PUT_LONG", p, [](TParams& params) {
        params.ParamByName("ID").SetValue(rtl::Variant(int32_t(3)));
        params.ParamByName("DOC").SetValue(rtl::Variant::FromBytes(rtl::ByteArray(3000, 0x11)));
    });
    EXPECT_TRUE(old.Logged("obndra DOC type=24 size=3000"));
    EXPECT_TRUE(old.Lines("obindps").empty());
    EXPECT_EQ(ora->Query("select ID, length(DOC) from KW_LONGS"), (Rows{{"3", "3000"}}));
}

TEST_F(Oci7, OnlyTheEndOfTheDataEndsTheRows) {
    Open();
    ora->Exec("create table T (ID NUMBER(10))");
    ora->Exec("insert into T values (1)");
    ora->Exec("insert into T values (2)");
    Db().Commit();  // the server's own auto-commit is off: the rows must outlive a lost connection
    struct Case {
        int code;
        bool lost;
    };
    // 3130 (the next piece of a fetched row) is a row, not an end and not an error.
    {
        TISqlCommandPtr cmd = Db().CreateSqlCommand(nullptr);
        cmd->Prepare("select ID from T");
        cmd->Execute();
        standin.Fail("ofetch", 3130);
        EXPECT_TRUE(cmd->FetchNextRow());
    }
    for (const Case& c : {Case{3113, true}, Case{12571, true}, Case{1555, false}}) {
        SCOPED_TRACE(c.code);
        int handled = 0;
        Db().ErrorProc = [&](TISqlDatabase&, const ESDEngineError& e) {
            ++handled;
            EXPECT_EQ(e.ConnectionLost, c.lost);
        };
        TISqlCommandPtr cmd = Db().CreateSqlCommand(nullptr);
        cmd->Prepare("select ID from T");
        cmd->Execute();
        ASSERT_TRUE(cmd->FetchNextRow());
        standin.Fail("ofetch", c.code);
        try {
            cmd->FetchNextRow();
            FAIL() << "a failing fetch passed for the end of the rows";
        } catch (const ESDOraError& e) {
            EXPECT_EQ(e.ErrorCode, c.code);
            EXPECT_EQ(e.ConnectionLost, c.lost);
        }
        // Command errors reach the connection's handler too, so a lost connection is seen.
        EXPECT_EQ(handled, 1);
        Db().ErrorProc = nullptr;
        cmd.reset();
        if (c.lost) {
            EXPECT_NO_THROW(Db().Disconnect(true));
            Db().Connect(ora->file.string(), "scott", "tiger");
        }
    }
    EXPECT_EQ(ora->Query("select ID from T"), (Rows{{"1"}, {"2"}}));
}

TEST_F(Oci7, SmallThings) {
    Open();
    auto& db = dynamic_cast<TIOraDatabase&>(Db());
    const std::pair<int, int> values[] = {{12, 0}, {13, 30}, {15, 30}, {16, 61}, {17, 61}, {18, 0}};
    for (const auto& [index, value] : values)
        EXPECT_EQ(db.ParamValue(index), value) << index;
    EXPECT_EQ(db.GetServerVersion(), MakeVersionNumber(10, 2));
    EXPECT_EQ(db.GetClientVersion(), MakeVersionNumber(7, 3));
    EXPECT_TRUE(db.TestConnected());
    TISqlCommandPtr cmd = Db().CreateSqlCommand(nullptr);
    try {
        cmd->WriteBlob(1, nullptr, 0);
        FAIL();
    } catch (const rtl::EAssertionFailed& e) {
        EXPECT_EQ(e.Message(), "Function TIOraCommand.WriteBlob not implemented");
    }
    // A parse failure carries the offset the cursor area gives.
    try {
        cmd->Prepare("select ID frm DUAL");
        FAIL() << "a faulty statement parsed";
    } catch (const ESDOraError& e) {
        EXPECT_EQ(e.ErrorCode, 900);
        EXPECT_GE(e.ErrorPos, 0);
    }
}

TEST_F(Oci7, DescribedTypesAndSizes) {
    Open(Params({"ENABLE BCD=TRUE", "ENABLE INTEGERS=TRUE", "MAX STRING SIZE=255"}));
    ora->Exec("create table T (V VARCHAR2(40), C CHAR(5), N5 NUMBER(5), N10 NUMBER(10), B NUMBER(10,2), "
              "F FLOAT, D DATE, R RAW(16), BIG VARCHAR2(300), L LONG, LR LONG RAW)");
    TISqlCommandPtr cmd = Db().CreateSqlCommand(nullptr);
    cmd->Prepare("select * from T");
    cmd->InitFieldDescs();
    struct Expected {
        const char* name;
        TFieldType type;
        int32_t size;
    };
    const Expected expected[] = {
        {"V", ftString, 41},  {"C", ftString, 6},      {"N5", ftSmallint, 2}, {"N10", ftInteger, 4},
        {"B", ftBCD, 8},      {"F", ftFloat, 8},       {"D", ftDateTime, 7},  {"R", ftVarBytes, 17},
        {"BIG", ftMemo, 301}, {"L", ftMemo, 0},        {"LR", ftBlob, 0},
    };
    ASSERT_EQ(cmd->FieldDescs->Count(), int(std::size(expected)));
    for (int i = 0; i < cmd->FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = cmd->FieldDescs->GetFieldDesc(i);
        EXPECT_EQ(d.FieldName, expected[i].name);
        EXPECT_EQ(d.FieldType, expected[i].type) << expected[i].name;
        EXPECT_EQ(d.DataSize, expected[i].size) << expected[i].name;
    }
    // A column type OCI 7 does not know is refused with its name.
    ora->Exec("create table U (B BLOB)");
    TISqlCommandPtr blob = Db().CreateSqlCommand(nullptr);
    blob->Prepare("select B from U");
    try {
        blob->InitFieldDescs();
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Field 'B' is of an unsupported type");
    }
}
