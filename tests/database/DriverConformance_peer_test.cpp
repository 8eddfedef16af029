// The driver conformance table (DriverConformance.h) on the ODBC driver, the reference (a
// SQLite file through the SQLite ODBC driver, a private PostgreSQL server through psqlODBC),
// and on the Oracle driver's two generations over the stand-in client library. The sqlite3
// shell and psql read back from outside the program.
#include "database/DriverConformance.h"

#include "database/OdbcTestSupport.h"
#include "database/OraTestSupport.h"
#include "database/SqliteShell.h"
#include "database/odbc/SDOdbc.h"
#include "database/oracle/SDOra.h"
#include "platform/Process.h"
#include "support/PostgresServer.h"

namespace {

using conformance::Capabilities;
using conformance::Kind;
using conformance::Rows;

using kwtest::HaveSqlite3;
using kwtest::Sqlite3;

class SqliteOdbcDriver : public conformance::Driver {
public:
    std::string Name() const override { return "ODBC on SQLite"; }
    bool Available(std::string& reason) override {
        reason = "unixODBC with the SQLite ODBC driver and the sqlite3 shell";
        odbctest::KeepSystemOdbcSettingsOut();
        return odbctest::SqliteOdbcAvailable() && HaveSqlite3();
    }
    void Configure(TSDDatabase& db) override {
        RegisterOdbcDriver();
        db.SetServerType(stODBC);
        db.SetRemoteDatabase("DRIVER=" + odbctest::kSqliteDriver + ";Database=" + file_.string());
        db.Params().SetValue("ODBC API LIBRARY", odbctest::kDriverManager);
        db.Params().SetValue("BLOB PIECE SIZE", "1000");
    }
    std::string Type(Kind kind) const override {
        switch (kind) {
            case Kind::Key:
            case Kind::Integer:
                return "integer";
            case Kind::BigInt:
                return "bigint";
            case Kind::Float:
                return "double";
            case Kind::Decimal:
                return "numeric(12,2)";
            case Kind::Date:
                return "date";
            case Kind::DateTime:
                return "timestamp";
            case Kind::Time:
                return "time";
            case Kind::Text:
                return "varchar(100)";
            case Kind::FixedChar:
                return "char(8)";
            case Kind::Blob:
                return "longvarbinary";
            case Kind::Memo:
                return "longvarchar";
        }
        return "";
    }
    // The ODBC driver binds no BCD parameter: exact numerics are written as floats.
    TFieldType ParamType(Kind kind) const override {
        return kind == Kind::Decimal ? ftFloat : conformance::Driver::ParamType(kind);
    }
    Rows Outside(const std::string& sql) override { return Sqlite3(file_, sql); }
    Capabilities Caps() const override {
        Capabilities c;
        c.FixedCharPadded = false;  // SQLite keeps CHAR values as they were written
        c.ExactFloats = false;      // the SQLite ODBC driver hands doubles over as 15-digit text
        c.NoLostConnection = "a SQLite file opened in the program has no connection to lose";
        return c;
    }

private:
    kwtest::TempDir dir_;
    std::filesystem::path file_ = dir_ / "conformance.db";
};

class PostgresOdbcDriver : public conformance::Driver {
public:
    std::string Name() const override { return "ODBC on PostgreSQL"; }
    bool Available(std::string& reason) override {
        reason = "psqlODBC and a PostgreSQL 15 server";
        odbctest::KeepSystemOdbcSettingsOut();
        if (!std::filesystem::exists(kwtest::PostgresServer::kOdbcDriver)) return false;
        server_ = std::make_unique<kwtest::PostgresServer>();
        if (!server_->Available()) {
            reason = server_->Reason();
            return false;
        }
        return true;
    }
    void Configure(TSDDatabase& db) override {
        RegisterOdbcDriver();
        db.SetServerType(stODBC);
        db.SetRemoteDatabase(server_->OdbcConnectString() + ";ByteaAsLongVarBinary=1");
        db.Params().SetValue("USER NAME", "postgres");
        db.Params().SetValue("ODBC API LIBRARY", odbctest::kDriverManager);
        db.Params().SetValue("BLOB PIECE SIZE", "1000");
    }
    std::string Type(Kind kind) const override { return conformance::PostgresType(kind); }
    TFieldType ParamType(Kind kind) const override {
        return kind == Kind::Decimal ? ftFloat : conformance::Driver::ParamType(kind);
    }
    Rows Outside(const std::string& sql) override { return odbctest::PsqlRows(server_->Psql(sql)); }
    std::string CatalogName(const std::string& upperName) const override { return rtl::LowerCase(upperName); }
    // The program's server process ends without a word, as when the network goes: psqlODBC
    // then reports the broken link (08S01). A polite termination would answer 57P01, which
    // the ODBC driver does not count as a lost connection.
    void BreakConnection(TSDDatabase&) override {
        // What was committed must outlive the restart, whatever the server's commit settings.
        server_->Psql("checkpoint");
        const std::string pids = server_->Psql(
            "select pid from pg_stat_activity where datname = current_database() and pid <> pg_backend_pid() "
            "and "
            "backend_type = 'client backend'");
        for (const std::string& pid : rtl::SplitFields(pids, '\n')) {
            if (rtl::Trim(pid).empty()) continue;
            plat::ProcessOptions o;
            o.wait = true;
            plat::StartProcess("/bin/kill", {"-9", rtl::Trim(pid)}, o);
        }
        // The server restarts its processes after such an end; the next connect needs it back.
        const bool back = kwtest::Eventually(
            [&] {
                try {
                    server_->Psql("select 1");
                    return true;
                } catch (const std::exception&) {
                    return false;
                }
            },
            std::chrono::seconds(60), std::chrono::milliseconds(100));
        if (!back) throw std::runtime_error("the PostgreSQL server did not come back");
    }
    std::string ErrorState(const ESDEngineError& e) const override {
        const auto* odbc = dynamic_cast<const ESDOdbcError*>(&e);
        return odbc != nullptr ? odbc->SqlState : "";
    }
    Capabilities Caps() const override { return Capabilities(); }
    std::vector<FineColumn> FineColumns() const override { return conformance::PostgresFineColumns(); }
    // The ODBC driver's packed decimals hold a currency's range.
    ExactNumeric WideDecimal() const override { return {"numeric(18,4)", "99999999999999.9999"}; }
    std::string IntegerArrayType() const override { return "integer[]"; }

private:
    std::unique_ptr<kwtest::PostgresServer> server_;
};

// The Oracle driver through the stand-in: OCI 8 on a client the driver finds by its name
// (version 19.1), OCI 7 on one named to it as version 7.3.
template <bool Oci8>
class OracleDriver : public conformance::Driver {
public:
    std::string Name() const override { return Oci8 ? "Oracle OCI 8" : "Oracle OCI 7"; }
    bool Available(std::string& reason) override {
        reason = "the OCI stand-in library and the sqlite3 shell";
        if (!standin_.Available() || !HaveSqlite3()) return false;
        home_ = std::make_unique<oratest::OracleHome>(
            std::vector<std::string>{Oci8 ? oratest::kOci8Client : oratest::kOci7Client});
        return true;
    }
    void Configure(TSDDatabase& db) override {
        RegisterOracleDriver();
        db.SetServerType(stOracle);
        db.SetRemoteDatabase(file_.string());
        db.Params().SetValue("USER NAME", "scott");
        db.Params().SetValue("PASSWORD", "tiger");
        db.Params().SetValue("ENABLE INTEGERS", "TRUE");
        db.Params().SetValue("ENABLE BCD", "TRUE");
        db.Params().SetValue("BLOB PIECE SIZE", "1000");
        if (!Oci8) db.Params().SetValue("Oracle API LIBRARY", home_->Lib(oratest::kOci7Client).string());
    }
    std::string Type(Kind kind) const override {
        switch (kind) {
            case Kind::Key:
            case Kind::Integer:
                return "NUMBER(10)";
            case Kind::BigInt:
                return "NUMBER(19)";  // read as a float: the case checks that 64-bit values are refused
            case Kind::Float:
                return "FLOAT";
            case Kind::Decimal:
                return "NUMBER(12,2)";
            case Kind::Date:
                return "DATE";
            case Kind::DateTime:
                return Oci8 ? "TIMESTAMP" : "DATE";
            case Kind::Time:
                return "DATE";  // no time-of-day type: the case checks that a time is refused
            case Kind::Text:
                return "VARCHAR2(100)";
            case Kind::FixedChar:
                return "CHAR(8)";
            case Kind::Blob:
                return Oci8 ? "BLOB" : "LONG RAW";
            case Kind::Memo:
                return Oci8 ? "CLOB" : "LONG";
        }
        return "";
    }
    TFieldType ParamType(Kind kind) const override {
        if (Oci8 && kind == Kind::Blob) return ftOraBlob;
        if (Oci8 && kind == Kind::Memo) return ftOraClob;
        return conformance::Driver::ParamType(kind);
    }
    Rows Outside(const std::string& sql) override { return Sqlite3(file_, sql); }
    void BreakConnection(TSDDatabase&) override { standin_.Fail("*", 3113); }
    Capabilities Caps() const override {
        Capabilities c;
        c.Milliseconds = Oci8;  // OCI 7 has only the seven-byte date
        c.TimeOfDay = false;
        c.BigInt = false;  // NUMBER beyond ten digits reads as a float
        c.EmptyStringIsNull = true;
        c.AutoCommit = Oci8;  // an OCI 7 logon commits nothing by itself
        return c;
    }
    ~OracleDriver() override { SetOciLibraryList(kOciLibraryList); }

private:
    oratest::OciStandin standin_;
    std::unique_ptr<oratest::OracleHome> home_;
    kwtest::TempDir dir_;
    std::filesystem::path file_ = dir_ / "conformance.db";
};

using Oracle8Driver = OracleDriver<true>;
using Oracle7Driver = OracleDriver<false>;

}  // namespace

KW_DRIVER_CONFORMANCE(SqliteOdbcConformance, SqliteOdbcDriver);
KW_DRIVER_CONFORMANCE(PostgresOdbcConformance, PostgresOdbcDriver);
KW_DRIVER_CONFORMANCE(Oracle8Conformance, Oracle8Driver);
KW_DRIVER_CONFORMANCE(Oracle7Conformance, Oracle7Driver);
