// tests/support/PostgresServer.h: a private PostgreSQL 15 server for peer tests.
//
// The server lives in a fresh temporary folder, listens on 127.0.0.1 at a free port (and on
// a Unix socket in its own folder), and is stopped and removed when the object goes away, so
// a test never touches a system cluster and never leaves a server behind. PostgreSQL refuses
// to run as root: as root every server command runs through "runuser -u postgres" and the
// folder is handed to that user first; as any other user the commands run directly.
//
// Use:
//     kwtest::PostgresServer pg;                    // initdb, start, create database "kwtest"
//     KW_REQUIRE_PEER(pg.Available(), pg.Reason());
//     pg.Psql("create table t(i int)");             // as the superuser, over the socket
//     connect with pg.OdbcConnectString()           // DSN-less, psqlODBC, over TCP
//
// Options.hbaLines go in front of the generated pg_hba.conf (whose rules trust everyone), so
// a test can require a password for one role: "host all pwuser 127.0.0.1/32 scram-sha-256".
#pragma once

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/Process.h"
#include "support/TestSupport.h"

namespace kwtest {

class PostgresServer {
public:
    struct Options {
        std::vector<std::string> hbaLines;
        std::string database = "kwtest";
    };

    static constexpr const char* kBinDir = "/usr/lib/postgresql/15/bin";
    static constexpr const char* kOdbcDriver = "/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so";

    PostgresServer() : PostgresServer(Options{}) {}
    explicit PostgresServer(Options options) : options_(std::move(options)) { Start(); }
    ~PostgresServer() { Stop(); }
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // False (with the reason) when the binaries are missing or the server did not start.
    bool Available() const { return running_; }
    const std::string& Reason() const { return reason_; }

    const std::string& Host() const { return host_; }
    int Port() const { return port_; }
    const std::string& Database() const { return options_.database; }
    std::filesystem::path DataDir() const { return root_.path() / "pg" / "data"; }
    // The folder of the server's Unix socket (also its data folder).
    std::string SocketDir() const { return DataDir().string(); }

    // Runs SQL with psql as the superuser over the socket (-X -A -t -q: bare values, one row
    // per line, "|" between columns) and gives its output; std::runtime_error with psql's
    // output when it fails. An empty database name means Database().
    std::string Psql(const std::string& sql, const std::string& database = "") const {
        const plat::ProcessResult r =
            RunServerCommand("psql", {"-X", "-A", "-t", "-q", "-v", "ON_ERROR_STOP=1", "-h", SocketDir(),
                                      "-p", std::to_string(port_), "-U", "postgres", "-d",
                                      database.empty() ? options_.database : database, "-c", sql});
        if (r.exitCode != 0) throw std::runtime_error("psql failed: " + r.output);
        return r.output;
    }

    // A psqlODBC connection string without user (the driver is named by its file).
    std::string OdbcConnectString(const std::string& database = "") const {
        return "DRIVER=" + std::string(kOdbcDriver) + ";SERVER=" + host_ + ";PORT=" + std::to_string(port_) +
               ";DATABASE=" + (database.empty() ? options_.database : database);
    }

private:
    void Start() {
        const std::filesystem::path bin(kBinDir);
        if (!std::filesystem::exists(bin / "initdb") || !std::filesystem::exists(bin / "pg_ctl")) {
            reason_ = "PostgreSQL 15 server binaries (" + bin.string() + ")";
            return;
        }
        asRoot_ = Capture("id", {"-u"}) == "0\n";
        const std::filesystem::path pg = root_.path() / "pg";
        std::filesystem::create_directories(pg);
        // The server's own user must reach its folder through the temporary root.
        std::filesystem::permissions(root_.path(), std::filesystem::perms::owner_all |
                                                       std::filesystem::perms::group_exec |
                                                       std::filesystem::perms::others_exec);
        if (asRoot_) Capture("chown", {"postgres:postgres", pg.string()});

        plat::ProcessResult r = RunServerCommand(
            "initdb", {"-D", DataDir().string(), "-A", "trust", "-E", "UTF8", "--locale=C.UTF-8"});
        if (r.exitCode != 0) {
            reason_ = "initdb failed: " + r.output;
            return;
        }
        if (!options_.hbaLines.empty()) PrependHba();

        std::random_device rd;
        for (int attempt = 0; attempt < 8 && !running_; ++attempt) {
            port_ = 20000 + int(rd() % 40000);
            r = RunServerCommand(
                "pg_ctl",
                {"-D", DataDir().string(), "-l", (pg / "server.log").string(), "-w", "-t", "60", "-o",
                 "-c listen_addresses=127.0.0.1 -p " + std::to_string(port_) + " -k " + SocketDir() +
                     " -c fsync=off -c synchronous_commit=off",
                 "start"});
            running_ = r.exitCode == 0;
        }
        if (!running_) {
            reason_ = "pg_ctl start failed: " + r.output;
            return;
        }
        try {
            Psql("create database " + options_.database, "postgres");
        } catch (const std::exception& e) {
            reason_ = e.what();
            Stop();
        }
    }

    void Stop() {
        if (!running_) return;
        running_ = false;
        RunServerCommand("pg_ctl", {"-D", DataDir().string(), "-m", "immediate", "-w", "stop"});
    }

    void PrependHba() {
        const std::filesystem::path hba = DataDir() / "pg_hba.conf";
        std::string text;
        for (const std::string& line : options_.hbaLines)
            text += line + "\n";
        text += ReadFile(hba);
        WriteFile(hba, text);
    }

    // A server program, run as the server's user when we are root; output captured. It starts
    // in "/": our own working folder may sit in a folder the server's user cannot enter (a
    // clone in root's home or in a 0700 temporary folder), and psql would add "could not
    // change directory" to its rows.
    plat::ProcessResult RunServerCommand(const std::string& program,
                                         const std::vector<std::string>& args) const {
        plat::ProcessOptions o;
        o.wait = true;
        o.output = plat::ProcessOutput::Capture;
        o.workingFolder = "/";
        const std::string path = std::string(kBinDir) + "/" + program;
        if (!asRoot_) return plat::StartProcess(path, args, o);
        std::vector<std::string> all = {"-u", "postgres", "--", path};
        all.insert(all.end(), args.begin(), args.end());
        return plat::StartProcess("runuser", all, o);
    }

    static std::string Capture(const std::string& program, const std::vector<std::string>& args) {
        plat::ProcessOptions o;
        o.wait = true;
        o.output = plat::ProcessOutput::Capture;
        return plat::StartProcess(program, args, o).output;
    }

    Options options_;
    TempDir root_;
    std::string host_ = "127.0.0.1";
    int port_ = 0;
    bool asRoot_ = false;
    bool running_ = false;
    std::string reason_;
};

}  // namespace kwtest
