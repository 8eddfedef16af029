// The driver conformance table (DriverConformance.h) on the SQL Server and Sybase drivers,
// each through FreeTDS's real client library against the scripted TDS peer; the sqlite3 shell
// reads the peer's database from outside the program.
#include "database/DriverConformance.h"

#include "database/drivers/SDMss.h"
#include "database/drivers/SDSyb.h"
#include "platform/Process.h"
#include "support/TdsPeer.h"

namespace {

using conformance::Capabilities;
using conformance::Kind;
using conformance::Rows;

// One peer for every case of both drivers; each case starts on an empty database.
kwtest::TdsPeer& Peer() {
    static std::unique_ptr<kwtest::TdsPeer> peer = std::make_unique<kwtest::TdsPeer>(std::vector<std::string>{"sa:secret"});
    return *peer;
}

Rows Sqlite3(const std::filesystem::path& file, const std::string& sql) {
    plat::ProcessOptions o;
    o.wait = true;
    o.output = plat::ProcessOutput::Capture;
    const plat::ProcessResult r = plat::StartProcess(
        "/usr/bin/sqlite3", {"-bail", "-batch", "-cmd", ".timeout 10000", "-separator", "\x1f", file.string(), sql}, o);
    if (r.exitCode != 0) throw std::runtime_error("sqlite3: " + r.output);
    Rows rows;
    for (const std::string& line : rtl::SplitFields(r.output, '\n'))
        if (!line.empty()) rows.push_back(rtl::SplitFields(line, '\x1f'));
    return rows;
}

class TdsDriver : public conformance::Driver {
public:
    bool Available(std::string& reason) override {
        reason = "python3 for the scripted TDS peer, FreeTDS's client libraries and the sqlite3 shell";
        if (!std::filesystem::exists("/usr/bin/sqlite3") || !Peer().Available()) return false;
        // The tables of the cases before go.
        for (const auto& row : Outside("select name from sqlite_master where type = 'table' and name not like "
                                       "'kw!_%' escape '!' and name not like 'sqlite%'"))
            Outside("drop table \"" + row.at(0) + "\"");
        return true;
    }
    void Configure(TSDDatabase& db) override {
        db.SetRemoteDatabase("kwpeer:kwtest");
        db.Params().SetValue("USER NAME", "sa");
        db.Params().SetValue("PASSWORD", "secret");
        db.Params().SetValue("BLOB PIECE SIZE", "1000");
    }
    std::string Type(Kind kind) const override {
        switch (kind) {
            case Kind::Key:
            case Kind::Integer:
            // The drivers read no 64-bit integer column: their widest is int.
            case Kind::BigInt:
                return "int";
            case Kind::Float:
                return "float";
            case Kind::Decimal:
                return "numeric(12,2)";
            // Transact-SQL of the drivers' servers keeps dates and times of day in datetime.
            case Kind::Date:
            case Kind::DateTime:
            case Kind::Time:
                return "datetime";
            case Kind::Text:
                return "varchar(100)";
            case Kind::FixedChar:
                return "char(8)";
            case Kind::Blob:
                return "image";
            case Kind::Memo:
                return "text";
        }
        return "";
    }
    Rows Outside(const std::string& sql) override { return Sqlite3(Peer().DatabaseFile(), sql); }
    // Another client tells the peer to end every connection but its own.
    void BreakConnection(TSDDatabase&) override {
        std::unique_ptr<TISqlDatabase> other = CreateSQLServerDatabase(nullptr, rtl::StringList());
        other->Connect("kwpeer:kwtest", "sa", "secret");
        TISqlCommandPtr kill = other->CreateSqlCommand(nullptr);
        kill->ExecDirect("kwpeer killall");
        kill.reset();
        other->Disconnect(false);
    }
    Capabilities Caps() const override {
        Capabilities c;
        // A 64-bit value is refused by the server (arithmetic overflow into int).
        c.BigInt = false;
        return c;
    }
};

class MssDriver : public TdsDriver {
public:
    std::string Name() const override { return "SQL Server over DB-Library"; }
    void Configure(TSDDatabase& db) override {
        RegisterSQLServerDriver();
        db.SetServerType(stSQLServer);
        TdsDriver::Configure(db);
    }
    Capabilities Caps() const override {
        Capabilities c = TdsDriver::Caps();
        // DB-Library's null-terminated binding drops a CHAR value's trailing blanks.
        c.FixedCharPadded = false;
        return c;
    }
};

class SybDriver : public TdsDriver {
public:
    std::string Name() const override { return "Sybase over Client-Library"; }
    void Configure(TSDDatabase& db) override {
        RegisterSybaseDriver();
        db.SetServerType(stSybase);
        TdsDriver::Configure(db);
        // Every statement on the one connection, as the table's transactions read their own
        // writes and break the connection the queries run on.
        db.Params().SetValue("SINGLE CONNECTION", "TRUE");
    }
};

}  // namespace

KW_DRIVER_CONFORMANCE(MssConformance, MssDriver);
KW_DRIVER_CONFORMANCE(SybConformance, SybDriver);
