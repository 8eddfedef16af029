// The SQLBase driver through the engine (the conformance table) and what it wrote read back by
// the sqlite3 shell from the stand-in's database files.
#include "database/DriverConformance.h"

#include "database/SqliteShell.h"
#include "database/drivers/CsbTestSupport.h"

namespace {

using conformance::Capabilities;
using conformance::Kind;
using conformance::Rows;

class SQLBaseDriver : public conformance::Driver {
public:
    std::string Name() const override { return "SQLBase"; }
    bool Available(std::string& reason) override {
        reason = "the SQLBase stand-in library and the sqlite3 shell";
        return standin_.Available() && kwtest::HaveSqlite3();
    }
    void Configure(TSDDatabase& db) override {
        RegisterSQLBaseDriver();
        db.SetServerType(stSQLBase);
        db.SetRemoteDatabase("CONFORMANCE");
        db.Params().SetValue("SQLBase API LIBRARY", standin_.Path());
        db.Params().SetValue("USER NAME", "SYSADM");
        db.Params().SetValue("PASSWORD", "sysadm");
        db.Params().SetValue("BLOB PIECE SIZE", "1000");
    }
    std::string Type(Kind kind) const override {
        switch (kind) {
            case Kind::Key:
            case Kind::Integer:
                return "INTEGER";
            case Kind::BigInt:
                return "DECIMAL(19,0)";  // no 64-bit parameter: the case checks that it is refused
            case Kind::Float:
                return "DOUBLE PRECISION";
            case Kind::Decimal:
                return "DECIMAL(12,2)";
            case Kind::Date:
                return "DATE";
            case Kind::DateTime:
                return "TIMESTAMP";
            case Kind::Time:
                return "TIME";
            case Kind::Text:
                return "VARCHAR(100)";
            case Kind::FixedChar:
                return "CHAR(8)";
            case Kind::Blob:
                return "LONG BINARY";
            case Kind::Memo:
                return "LONG VARCHAR";
        }
        return "";
    }
    // The driver binds no BCD value: exact numerics are written as floats.
    TFieldType ParamType(Kind kind) const override {
        return kind == Kind::Decimal ? ftFloat : conformance::Driver::ParamType(kind);
    }
    Rows Outside(const std::string& sql) override {
        return kwtest::Sqlite3(standin_.File("CONFORMANCE"), sql);
    }
    void BreakConnection(TSDDatabase&) override { standin_.Fail("*", 9024); }
    Capabilities Caps() const override {
        Capabilities c;
        c.BigInt = false;
        c.EmptyStringIsNull = true;  // SQLBase keeps no empty text
        c.AutoCommit = false;        // a statement waits for a commit
        c.FixedCharPadded = false;   // CHAR values come back as written
        return c;
    }

private:
    csbtest::CsbStandin standin_;
};

KW_DRIVER_CONFORMANCE(SQLBaseConformance, SQLBaseDriver);

class CsbReadBack : public ::testing::Test {
protected:
    void SetUp() override {
        KW_REQUIRE_PEER(standin_.Available() && kwtest::HaveSqlite3(),
                        "the SQLBase stand-in and the sqlite3 shell");
    }
    kwtest::SqliteRows Shell(const std::string& sql) const {
        return kwtest::Sqlite3(standin_.File("KWDB"), sql);
    }
    csbtest::CsbStandin standin_;
};

TEST_F(CsbReadBack, TheShellReadsWhatTheDriverWrote) {
    csbtest::Session s(standin_);
    s.Exec("create table T (ID integer, D date, TM time, TS timestamp, V varchar(40), B long binary)");
    rtl::ByteArray bytes(70000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 7);
    TParams params;
    params.CreateParam(ftInteger, "ID", ptInput).SetValue(rtl::Variant(int32_t(1)));
    params.CreateParam(ftDate, "D", ptInput)
        .SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2007, 3, 5)));
    params.CreateParam(ftTime, "TM", ptInput)
        .SetValue(rtl::Variant::FromDateTime(rtl::EncodeTime(12, 34, 56, 789)));
    params.CreateParam(ftDateTime, "TS", ptInput)
        .SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2001, 2, 3) + rtl::EncodeTime(4, 5, 6, 7)));
    params.CreateParam(ftString, "V", ptInput).SetValue(rtl::Variant("x'); drop table T; --"));
    params.CreateParam(ftBlob, "B", ptInput).SetValue(rtl::Variant::FromBytes(bytes));
    s->StartTransaction();
    TISqlCommandPtr insert = s->CreateSqlCommand(nullptr);
    insert->SetParams(&params);
    insert->ExecDirect("insert into T values (:ID, :D, :TM, :TS, :V, :B)");
    // Not committed: another reader sees nothing yet.
    EXPECT_EQ(Shell("select count(*) from T"), (kwtest::SqliteRows{{"0"}}));
    s->Commit();
    EXPECT_EQ(Shell("select ID, D, TM, TS, V, length(B), hex(substr(B, 1, 4)) from T"),
              (kwtest::SqliteRows{{"1", "2007-03-05", "12:34:56.789", "2001-02-03 04:05:06.007",
                                   "x'); drop table T; --", "70000", "00070E15"}}));
    // What the shell writes, the driver reads.
    kwtest::Sqlite3(standin_.File("KWDB"),
                    "insert into T (ID, D, TS, V) values (2, '1999-12-31', '2000-01-01 00:00:00.5', 'ção')");
    EXPECT_EQ(s.Query("select D, TS, V from T where ID = 2"),
              (odbctest::Rows{{"1999-12-31", "2000-01-01 00:00:00.500", "ção"}}));
}

}  // namespace
