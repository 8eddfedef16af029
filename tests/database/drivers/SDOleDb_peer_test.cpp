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
