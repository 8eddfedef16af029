// What the Oracle driver writes, read back by another program: the sqlite3 shell on the file
// the stand-in client serves. Every way a value reaches the server is covered once per
// generation: plain binds of each type, LOBs as temporary LOBs and through locators returned
// by the statement, and long values sent at execution to a procedure.
#include <gtest/gtest.h>

#include "database/OraTestSupport.h"
#include "platform/Process.h"
#include "rtl/DateTime.h"

using namespace oratest;
using odbctest::Rows;

namespace {

Rows Sqlite3(const std::filesystem::path& file, const std::string& sql) {
    plat::ProcessOptions o;
    o.wait = true;
    o.output = plat::ProcessOutput::Capture;
    const plat::ProcessResult r =
        plat::StartProcess("/usr/bin/sqlite3", {"-bail", "-batch", "-separator", "|", file.string(), sql}, o);
    if (r.exitCode != 0) throw std::runtime_error("sqlite3: " + r.output);
    Rows rows;
    for (const std::string& line : rtl::SplitFields(r.output, '\n'))
        if (!line.empty()) rows.push_back(rtl::SplitFields(line, '|'));
    return rows;
}

class OraReadBack : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        KW_REQUIRE_PEER(standin.Available() && std::filesystem::exists("/usr/bin/sqlite3"),
                        "the OCI stand-in library and the sqlite3 shell");
    }
    void TearDown() override {
        ora.reset();
        SetOciLibraryList(kOciLibraryList);
    }
    bool Oci8() const { return GetParam() != kOci7Client; }
    void Open() { ora = std::make_unique<Session>(Params({"ENABLE BCD=TRUE"}), GetParam()); }
    void Run(const std::string& sql, TParams& params) {
        TISqlCommandPtr cmd = ora->db->CreateSqlCommand(nullptr);
        cmd->SetParams(&params);
        cmd->Prepare(sql);
        cmd->Execute();
    }
    void Commit() {
        ora->db->StartTransaction();
        ora->db->Commit();
    }

    OciStandin standin;
    std::unique_ptr<Session> ora;
};

}  // namespace

TEST_P(OraReadBack, PlainBinds) {
    Open();
    ora->Exec("create table T (I NUMBER(10), F FLOAT, B NUMBER(10,2), S VARCHAR2(40), C CHAR(4), D DATE)");
    TParams p;
    p.CreateParam(ftInteger, "i", ptInput).SetValue(rtl::Variant(int32_t(-2147483647 - 1)));
    p.CreateParam(ftFloat, "f", ptInput).SetValue(rtl::Variant(0.1));
    p.CreateParam(ftBCD, "b", ptInput).SetValue(rtl::Variant(-12.25));
    p.CreateParam(ftString, "s", ptInput).SetValue(rtl::Variant("São 'Paulo' \\"));
    p.CreateParam(ftFixedChar, "c", ptInput).SetValue(rtl::Variant("ab"));
    p.CreateParam(ftDateTime, "d", ptInput)
        .SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2024, 3, 5) + rtl::EncodeTime(10, 20, 30, 0)));
    Run("insert into T values (:i, :f, :b, :s, :c, :d)", p);
    Commit();
    EXPECT_EQ(Sqlite3(ora->file, "select typeof(I), I, typeof(F), F = 0.1, B, S, C, D from T"),
              (Rows{{"integer", "-2147483648", "real", "1", "-12.25", "São 'Paulo' \\", "ab", "2024-03-05 10:20:30"}}));
}

TEST_P(OraReadBack, LongValues) {
    Open();
    rtl::ByteArray bytes(70000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 7 + (i >> 8));
    if (Oci8()) {
        ora->Exec("create table T (ID NUMBER(10), DOC BLOB, NOTE CLOB)");
        TParams p;
        p.CreateParam(ftInteger, "ID", ptInput).SetValue(rtl::Variant(int32_t(1)));
        p.CreateParam(ftOraBlob, "DOC", ptInput).SetValue(rtl::Variant::FromBytes(bytes));
        p.CreateParam(ftOraClob, "NOTE", ptInput).SetValue(rtl::Variant("ação"));
        Run("insert into T (ID, DOC, NOTE) values (:ID, :DOC, :NOTE)", p);
    } else {
        ora->Exec("create table T (ID NUMBER(10), DOC LONG RAW, NOTE VARCHAR2(10))");
        TParams p;
        p.CreateParam(ftInteger, "ID", ptInput).SetValue(rtl::Variant(int32_t(1)));
        p.CreateParam(ftBlob, "DOC", ptInput).SetValue(rtl::Variant::FromBytes(bytes));
        p.CreateParam(ftString, "NOTE", ptInput).SetValue(rtl::Variant("ação"));
        Run("insert into T (ID, DOC, NOTE) values (:ID, :DOC, :NOTE)", p);
    }
    Commit();
    EXPECT_EQ(Sqlite3(ora->file, "select typeof(DOC), length(DOC), lower(hex(substr(DOC, 1, 4))), NOTE from T"),
              (Rows{{"blob", "70000", "00070e15", "ação"}}));
}

// OCI 8 below version 9: the statement stores empty LOBs and the driver writes the values
// through the locators it returns.
TEST(OraReadBackOci8, LobsThroughReturnedLocators) {
    OciStandin standin;
    KW_REQUIRE_PEER(standin.Available() && std::filesystem::exists("/usr/bin/sqlite3"),
                    "the OCI stand-in library and the sqlite3 shell");
    standin.SetServerVersion("8.1.7.4.0");
    {
        Session ora;
        ora.Exec("create table T (ID NUMBER(10), DOC BLOB)");
        for (int id : {1, 2}) {
            TParams p;
            p.CreateParam(ftInteger, "ID", ptInput).SetValue(rtl::Variant(int32_t(id)));
            p.CreateParam(ftOraBlob, "DOC", ptInput).SetValue(rtl::Variant::FromBytes({uint8_t(id), 0, 0xFF}));
            TISqlCommandPtr cmd = ora.db->CreateSqlCommand(nullptr);
            cmd->SetParams(&p);
            cmd->Prepare("insert into T (ID, DOC) values (:ID, :DOC)");
            cmd->Execute();
        }
        EXPECT_EQ(Sqlite3(ora.file, "select ID, hex(DOC) from T order by ID"), (Rows{{"1", "0100FF"}, {"2", "0200FF"}}));
    }
    SetOciLibraryList(kOciLibraryList);
}

TEST_P(OraReadBack, LongProcedureValuesSentAtExecution) {
    Open();
    ora->Exec("create table KW_LONGS (ID NUMBER(10), DOC LONG RAW)");
    TParams p;
    TISqlCommandPtr cmd = ora->db->CreateSqlCommand(nullptr);
    cmd->CommandType = 2;
    cmd->SetParams(&p);
    cmd->Prepare("KW_PUT_LONG");
    p.ParamByName("ID").SetValue(rtl::Variant(int32_t(5)));
    p.ParamByName("DOC").SetValue(rtl::Variant::FromBytes(rtl::ByteArray(40000, 0xA5)));
    cmd->Execute();
    Commit();
    EXPECT_EQ(Sqlite3(ora->file, "select ID, length(DOC), hex(substr(DOC, 40000, 1)) from KW_LONGS"),
              (Rows{{"5", "40000", "A5"}}));
}

INSTANTIATE_TEST_SUITE_P(Generations, OraReadBack, ::testing::Values("libclntsh.so.19.1", "libclntsh.so.7.3"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return info.param == kOci7Client ? std::string("Oci7") : std::string("Oci8");
                         });
