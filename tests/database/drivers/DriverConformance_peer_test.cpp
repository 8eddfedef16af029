// The driver conformance table (tests/database/DriverConformance.h) on the drivers of this
// folder: PostgreSQL on a private PostgreSQL 15 server, MySQL on a private MariaDB server, and
// InterBase and Firebird on Firebird 3 (an embedded database file; a private server for the
// lost connection). psql, mariadb and isql-fb read back from outside the program.
#include <filesystem>

#include "database/DriverConformance.h"

#include "database/OdbcTestSupport.h"
#include "database/drivers/SDFib.h"
#include "database/drivers/SDMySql.h"
#include "database/drivers/SDPgSQL.h"
#include "support/FirebirdServer.h"
#include "support/MariaDbServer.h"
#include "support/PostgresServer.h"

namespace {

using conformance::Capabilities;
using conformance::Kind;
using conformance::Rows;

class PgSQLDriver : public conformance::Driver {
public:
    std::string Name() const override { return "PostgreSQL"; }
    bool Available(std::string& reason) override {
        server_ = std::make_unique<kwtest::PostgresServer>();
        reason = server_->Reason();
        return server_->Available();
    }
    void Configure(TSDDatabase& db) override {
        RegisterPostgreSQLDriver();
        db.SetServerType(stPostgreSQL);
        db.SetRemoteDatabase("127.0.0.1:" + std::to_string(server_->Port()) + ":" + server_->Database());
        db.Params().SetValue("USER NAME", "postgres");
        db.Params().SetValue("BLOB PIECE SIZE", "1000");
    }
    std::string Type(Kind kind) const override { return conformance::PostgresType(kind); }
    Rows Outside(const std::string& sql) override { return odbctest::PsqlRows(server_->Psql(sql)); }
    std::string CatalogName(const std::string& upperName) const override { return rtl::LowerCase(upperName); }
    // The server ends the program's session, as an administrator would.
    void BreakConnection(TSDDatabase&) override {
        server_->Psql(
            "select pg_terminate_backend(pid) from pg_stat_activity where datname = current_database() and pid <> "
            "pg_backend_pid() and backend_type = 'client backend'");
    }
    Capabilities Caps() const override { return Capabilities(); }
    std::vector<FineColumn> FineColumns() const override { return conformance::PostgresFineColumns(); }
    std::string ServerKeyColumn() const override { return "ID serial primary key"; }
    bool ReadsServerKeysBack() const override { return true; }
    ExactNumeric WideDecimal() const override { return {"numeric(20,4)", "9999999999999999.9999"}; }
    std::string IntegerArrayType() const override { return "integer[]"; }

private:
    std::unique_ptr<kwtest::PostgresServer> server_;
};

class MySqlDriver : public conformance::Driver {
public:
    std::string Name() const override { return "MySQL"; }
    bool Available(std::string& reason) override {
        server_ = std::make_unique<kwtest::MariaDbServer>();
        reason = server_->Reason();
        return server_->Available();
    }
    void Configure(TSDDatabase& db) override {
        RegisterMySQLDriver();
        db.SetServerType(stMySQL);
        db.SetRemoteDatabase(server_->Host() + ":" + server_->Database());
        db.Params().SetValue("USER NAME", server_->User());
        db.Params().SetValue("PASSWORD", server_->Password());
        db.Params().SetValue("SERVER PORT", std::to_string(server_->Port()));
        db.Params().SetValue("BLOB PIECE SIZE", "1000");
    }
    std::string Type(Kind kind) const override {
        return conformance::TypeOf(kind, {"int", "int", "bigint", "double", "decimal(12,2)", "date", "datetime(3)",
                                          "time", "varchar(100)", "char(8)", "longblob", "longtext"});
    }
    // The mariadb client's batch rows: tab-separated, with backslash, tab, newline and the
    // zero byte escaped in the values.
    Rows Outside(const std::string& sql) override {
        Rows rows;
        for (const std::string& line : rtl::SplitFields(server_->Sql(sql), '\n')) {
            if (line.empty()) continue;
            std::vector<std::string> row;
            for (const std::string& field : rtl::SplitFields(line, '\t')) row.push_back(Unescape(field));
            rows.push_back(row);
        }
        return rows;
    }
    // The server kills the program's sessions.
    void BreakConnection(TSDDatabase&) override {
        const std::string ids =
            server_->Sql("select id from information_schema.processlist where user = '" + server_->User() + "'");
        for (const std::string& id : rtl::SplitFields(ids, '\n'))
            if (!rtl::Trim(id).empty()) server_->Sql("kill " + rtl::Trim(id));
    }
    Capabilities Caps() const override {
        Capabilities c;
        c.FixedCharPadded = false;  // MySQL takes CHAR values' trailing blanks off when it reads them
        return c;
    }
    std::vector<FineColumn> FineColumns() const override {
        const rtl::Variant stamp =
            rtl::Variant::FromDateTime(rtl::EncodeDate(2024, 3, 2) + rtl::EncodeTime(10, 0, 0, 250));
        return {
            {"datetime(6)", "'2024-03-01 12:00:00.123456'", "'2024-03-01 12:00:00.987654'", stamp},
            // Read as text; "null" keeps the server from stamping it on every update.
            {"timestamp(6) null", "now(6)", "now(6) + interval 1 second",
             rtl::Variant("2024-03-02 10:00:00.250000")},
            {"time(6)", "'07:08:09.123456'", "'07:08:09.654321'",
             rtl::Variant::FromDateTime(rtl::EncodeTime(8, 0, 0, 500))},
            {"float", "0.1", "0.2", rtl::Variant(0.25)},
            {"decimal(20,2)", "123456789012345678.91", "123456789012345778.91", rtl::Variant(1.5)},
        };
    }
    std::string ServerKeyColumn() const override { return "ID int auto_increment primary key"; }
    bool ReadsServerKeysBack() const override { return true; }
    ExactNumeric WideDecimal() const override { return {"decimal(20,4)", "9999999999999999.9999"}; }

private:
    static std::string Unescape(const std::string& text) {
        std::string out;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] != '\\' || i + 1 == text.size()) {
                out += text[i];
                continue;
            }
            const char c = text[++i];
            out += c == 'n' ? '\n' : c == 't' ? '\t' : c == '0' ? '\0' : c;
        }
        return out;
    }

    std::unique_ptr<kwtest::MariaDbServer> server_;
};

// InterBase (stInterbase) and Firebird (stFirebird) over the Firebird client: an embedded
// database file, except for the lost-connection case, which needs a server to stop.
template <TSDServerType kServerType>
class IntFamilyDriver : public conformance::Driver {
public:
    std::string Name() const override { return kServerType == stFirebird ? "Firebird" : "InterBase"; }
    bool Available(std::string& reason) override {
        kwtest::FirebirdHome& home = kwtest::FirebirdHome::Get();
        reason = home.Reason();
        if (!home.Available()) return false;
        const char* param = ::testing::UnitTest::GetInstance()->current_test_info()->value_param();
        if (param != nullptr && std::string(param).find("LostConnection") != std::string::npos) {
            server_ = std::make_unique<kwtest::FirebirdServer>();
            reason = server_->Reason();
            if (!server_->Available()) return false;
            file_ = (server_->Data() / "conformance.fdb").string();
            server_->CreateDatabase(file_);
            return true;
        }
        // The home lives as long as the test program, so a case run after another in the same
        // program starts from a database file of its own, not from the one before it.
        file_ = (home.Data() / "conformance.fdb").string();
        std::filesystem::remove(file_);
        home.CreateDatabase(file_);
        return true;
    }
    void Configure(TSDDatabase& db) override {
        if (kServerType == stFirebird)
            RegisterFirebirdDriver();
        else
            RegisterInterbaseDriver();
        db.SetServerType(kServerType);
        db.SetRemoteDatabase(server_ ? server_->Remote(file_) : file_);
        db.Params().SetValue("USER NAME", "SYSDBA");
        db.Params().SetValue("PASSWORD", server_ ? "masterkey" : "");
        db.Params().SetValue("SQL Dialect", "3");
        db.Params().SetValue("BLOB PIECE SIZE", "1000");
    }
    std::string Type(Kind kind) const override {
        return conformance::TypeOf(kind, {"integer", "integer", "bigint", "double precision", "numeric(12,2)", "date",
                                          "timestamp", "time", "varchar(100)", "char(8)", "blob sub_type 0",
                                          "blob sub_type text"});
    }
    Rows Outside(const std::string& sql) override {
        return server_ ? server_->IsqlRows(server_->Remote(file_), sql)
                       : kwtest::FirebirdHome::Get().IsqlRows(file_, sql);
    }
    // The server goes away under the connection, and comes back for the next connect.
    void BreakConnection(TSDDatabase&) override {
        server_->Kill();
        if (!server_->Restart()) throw std::runtime_error("the Firebird server did not come back: " + server_->Log());
    }
    Capabilities Caps() const override { return Capabilities(); }
    // Firebird keeps time stamps and times to a tenth of a millisecond.
    std::vector<FineColumn> FineColumns() const override {
        return {
            {"timestamp", "'2024-03-01 12:00:00.1239'", "'2024-03-01 12:00:00.9876'",
             rtl::Variant::FromDateTime(rtl::EncodeDate(2024, 3, 2) + rtl::EncodeTime(10, 0, 0, 250))},
            {"time", "'07:08:09.1239'", "'07:08:09.6543'",
             rtl::Variant::FromDateTime(rtl::EncodeTime(8, 0, 0, 500))},
            {"float", "0.1", "0.2", rtl::Variant(0.25)},
            {"numeric(18,2)", "1234567890123456.78", "1234567890123466.78", rtl::Variant(1.5)},
            {"numeric(18,6)", "123456789012.345678", "123456789012.345978", rtl::Variant(1.5)},
        };
    }
    // Firebird 3 keeps no session's last identity value to read back.
    std::string ServerKeyColumn() const override {
        return "ID integer generated by default as identity primary key";
    }
    ExactNumeric WideDecimal() const override { return {"numeric(18,4)", "99999999999999.9999"}; }

private:
    std::unique_ptr<kwtest::FirebirdServer> server_;
    std::string file_;
};

using FirebirdDriver = IntFamilyDriver<stFirebird>;
using InterbaseDriver = IntFamilyDriver<stInterbase>;

}  // namespace

KW_DRIVER_CONFORMANCE(PgSQLConformance, PgSQLDriver);
KW_DRIVER_CONFORMANCE(MySqlConformance, MySqlDriver);
KW_DRIVER_CONFORMANCE(FirebirdConformance, FirebirdDriver);
KW_DRIVER_CONFORMANCE(InterbaseConformance, InterbaseDriver);
