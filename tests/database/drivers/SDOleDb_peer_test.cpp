// The OLE DB driver through the engine (the conformance table, on the stand-in provider as a
// generic provider and as SQL Server's, the latter reached as stSQLServer with "USE OLEDB"),
// and what it wrote read back by the sqlite3 shell.
#include "database/DriverConformance.h"

#include "database/SqliteShell.h"
#include "database/drivers/OleDbTestSupport.h"

namespace {

using conformance::Capabilities;
using conformance::Kind;
using conformance::Rows;

template <bool SqlServer>
class OleDbDriver : public conformance::Driver {
public:
    std::string Name() const override { return SqlServer ? "OLE DB as SQL Server" : "OLE DB"; }
    bool Available(std::string& reason) override {
        reason = "the OLE DB stand-in provider and the sqlite3 shell";
        if (!standin_.Available() || !kwtest::HaveSqlite3()) return false;
        standin_.Identity(SqlServer ? "sqlserver" : "generic");
        return true;
    }
    void Configure(TSDDatabase& db) override {
        RegisterOLEDBDriver();
        if (SqlServer) {
            // "server:database" names a SQL Server; the stand-in keeps the database as
            // <server folder>/<database>.db.
            db.SetServerType(stSQLServer);
            db.Params().SetValue("USE OLEDB", "TRUE");
            db.Params().SetValue("SINGLE CONNECTION", "TRUE");
            db.SetRemoteDatabase(dir_.path().string() + ":conformance");
        } else {
            db.SetServerType(stOLEDB);
            db.SetRemoteDatabase("PROVIDER=KWSQLITE;DATA SOURCE=" + file_.string());
        }
        db.Params().SetValue("USER NAME", "sa");
        db.Params().SetValue("PASSWORD", "pw");
        db.Params().SetValue("BLOB PIECE SIZE", "1000");
    }
    std::string Type(Kind kind) const override {
        switch (kind) {
            case Kind::Key:
            case Kind::Integer:
                return "INTEGER";
            case Kind::BigInt:
                return "BIGINT";
            case Kind::Float:
                return "DOUBLE PRECISION";
            case Kind::Decimal:
                return "NUMERIC(12,2)";
            case Kind::Date:
                return "DATE";
            case Kind::DateTime:
                return "DATETIME";
            case Kind::Time:
                return "TIME";
            case Kind::Text:
                return "VARCHAR(100)";
            case Kind::FixedChar:
                return "CHAR(8)";
            case Kind::Blob:
                return "IMAGE";
            case Kind::Memo:
                return "TEXT";
        }
        return "";
    }
    // The driver binds no BCD value: exact numerics are written as floats.
    TFieldType ParamType(Kind kind) const override {
        return kind == Kind::Decimal ? ftFloat : conformance::Driver::ParamType(kind);
    }
    Rows Outside(const std::string& sql) override { return kwtest::Sqlite3(file_, sql); }
    void BreakConnection(TSDDatabase&) override { standin_.Fail("*", com::E_FAIL, 17); }
    Capabilities Caps() const override { return Capabilities(); }
    // Whatever the case did, the engine gave every object and row handle back.
    ~OleDbDriver() override {
        if (!standin_.Available()) return;
        EXPECT_EQ(standin_.LiveObjects(), 0) << "objects of the provider were not released";
        EXPECT_EQ(standin_.OutstandingRows(), 0) << "row handles were not released";
    }

private:
    oledbtest::OleDbStandin standin_;
    kwtest::TempDir dir_;
    std::filesystem::path file_ = dir_ / "conformance.db";
};

using GenericOleDbDriver = OleDbDriver<false>;
using SqlServerOleDbDriver = OleDbDriver<true>;

KW_DRIVER_CONFORMANCE(OleDbConformance, GenericOleDbDriver);
KW_DRIVER_CONFORMANCE(OleDbSqlServerConformance, SqlServerOleDbDriver);

}  // namespace

namespace {

class OleDbReadBack : public ::testing::Test {
protected:
    void SetUp() override {
        KW_REQUIRE_PEER(standin_.Available() && kwtest::HaveSqlite3(),
                        "the OLE DB stand-in and the sqlite3 shell");
    }
    oledbtest::OleDbStandin standin_;
};

TEST_F(OleDbReadBack, TheShellReadsWhatTheDriverWrote) {
    oledbtest::Session s;
    s.Exec(
        "create table T (ID integer, BIG bigint, D date, TM time, TS datetime, G uniqueidentifier, V "
        "varchar(40), "
        "B image)");
    rtl::ByteArray bytes(70000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 7);
    TParams params;
    params.CreateParam(ftInteger, "ID", ptInput).SetValue(rtl::Variant(int32_t(1)));
    params.CreateParam(ftLargeint, "BIG", ptInput).SetValue(rtl::Variant(int64_t(-9007199254740993LL)));
    params.CreateParam(ftDate, "D", ptInput)
        .SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2007, 3, 5)));
    params.CreateParam(ftTime, "TM", ptInput)
        .SetValue(rtl::Variant::FromDateTime(rtl::EncodeTime(12, 34, 56, 0)));
    params.CreateParam(ftDateTime, "TS", ptInput)
        .SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2001, 2, 3) + rtl::EncodeTime(4, 5, 6, 7)));
    params.CreateParam(ftGuid, "G", ptInput).SetValue(rtl::Variant("{6B29FC40-CA47-1067-B31D-00DD010662DA}"));
    params.CreateParam(ftString, "V", ptInput).SetValue(rtl::Variant("x'); drop table T; --"));
    params.CreateParam(ftBlob, "B", ptInput).SetValue(rtl::Variant::FromBytes(bytes));
    s->StartTransaction();
    TISqlCommandPtr insert = s->CreateSqlCommand(nullptr);
    insert->SetParams(&params);
    insert->ExecDirect("insert into T values (:ID, :BIG, :D, :TM, :TS, :G, :V, :B)");
    EXPECT_EQ(insert->GetRowsAffected(), 1);
    insert.reset();
    s->Commit();
    EXPECT_EQ(
        kwtest::Sqlite3(s.file, "select ID, BIG, D, TM, TS, G, V, length(B), hex(substr(B, 1, 4)) from T"),
        (kwtest::SqliteRows{{"1", "-9007199254740993", "2007-03-05", "12:34:56", "2001-02-03 04:05:06.007",
                             "{6B29FC40-CA47-1067-B31D-00DD010662DA}", "x'); drop table T; --", "70000",
                             "00070E15"}}));
    // What the shell writes, the driver reads.
    kwtest::Sqlite3(s.file,
                    "insert into T (ID, BIG, D, TS, V) values (2, 9223372036854775807, '1999-12-31', "
                    "'2000-01-01 00:00:00.5', 'ção')");
    EXPECT_EQ(s.Query("select BIG, D, TS, V from T where ID = 2"),
              (odbctest::Rows{{"9223372036854775807", "1999-12-31", "2000-01-01 00:00:00.500", "ção"}}));
}

}  // namespace
