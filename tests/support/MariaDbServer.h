// tests/support/MariaDbServer.h: a private MariaDB server for peer tests.
//
// The server lives in a fresh temporary folder (its data, its Unix socket, its log), listens
// on 127.0.0.1 at a free port, reads no option file of the machine (--no-defaults), and is
// shut down and removed when the object goes away, so a test never touches a system instance
// and never leaves a server behind. As root the server runs as root (--user=root); as any
// other user it runs as that user. The fixture creates the database "kwtest" and a user
// "kw" with password "kwpass" that may connect over TCP.
//
// Use:
//     kwtest::MariaDbServer my;                     // install, start, create database and user
//     KW_REQUIRE_PEER(my.Available(), my.Reason());
//     my.Sql("create table t(i int)");              // as root, over the socket, with mariadb
//     connect to my.Host() : my.Port() as my.User() / my.Password()
#pragma once

#include <errno.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "support/TestSupport.h"

namespace kwtest {

class MariaDbServer {
public:
    static constexpr const char* kServer = "/usr/sbin/mariadbd";
    static constexpr const char* kInstallDb = "/usr/bin/mariadb-install-db";
    static constexpr const char* kClient = "/usr/bin/mariadb";

    MariaDbServer() { Start(); }
    ~MariaDbServer() { Stop(); }
    MariaDbServer(const MariaDbServer&) = delete;
    MariaDbServer& operator=(const MariaDbServer&) = delete;

    // False (with the reason) when the programs are missing or the server did not start.
    bool Available() const { return running_; }
    const std::string& Reason() const { return reason_; }

    const std::string& Host() const { return host_; }
    int Port() const { return port_; }
    std::string Database() const { return "kwtest"; }
    std::string User() const { return "kw"; }
    std::string Password() const { return "kwpass"; }
    std::string SocketPath() const { return (root_.path() / "s").string(); }

    // Runs SQL with the mariadb client as root over the socket in database kwtest (batch mode
    // without column names: one row per line, fields separated by tabs, NULL as "NULL") and
    // gives its output; std::runtime_error with the client's output when it fails.
    std::string Sql(const std::string& sql, const std::string& database = "kwtest") const {
        std::vector<std::string> args = {"--no-defaults", "-S", SocketPath(), "-u", "root", "-B", "-N", "-e", sql};
        if (!database.empty()) args.push_back(database);
        const plat::ProcessResult r = Run(kClient, args);
        if (r.exitCode != 0) throw std::runtime_error("mariadb failed: " + r.output);
        return r.output;
    }

    // The server's log (for a failing test's message).
    std::string Log() const { return ReadFile(root_.path() / "server.log"); }

private:
    void Start() {
        if (!std::filesystem::exists(kServer) || !std::filesystem::exists(kInstallDb) ||
            !std::filesystem::exists(kClient)) {
            reason_ = "MariaDB server and client (mariadb-server, mariadb-client)";
            return;
        }
        asRoot_ = ::geteuid() == 0;
        const std::string data = (root_.path() / "data").string();
        // Its own temporary folder: servers bootstrapping at once in the shared /tmp collide on
        // the names of their temporary tables ("Unknown table 'mysql.tmp_user_sys'").
        const std::string tmp = (root_.path() / "tmp").string();
        std::filesystem::create_directories(tmp);
        std::vector<std::string> install = {"--no-defaults", "--datadir=" + data, "--tmpdir=" + tmp,
                                            "--auth-root-authentication-method=normal", "--skip-test-db"};
        if (asRoot_) install.push_back("--user=root");
        plat::ProcessResult r = Run(kInstallDb, install);
        if (r.exitCode != 0) {
            reason_ = "mariadb-install-db failed: " + r.output;
            return;
        }
        std::random_device rd;
        for (int attempt = 0; attempt < 8 && !running_; ++attempt) {
            port_ = 20000 + int(rd() % 40000);
            std::vector<std::string> args = {"--no-defaults",
                                             "--datadir=" + data,
                                             "--tmpdir=" + tmp,
                                             "--socket=" + SocketPath(),
                                             "--pid-file=" + (root_.path() / "server.pid").string(),
                                             "--bind-address=127.0.0.1",
                                             "--port=" + std::to_string(port_),
                                             "--skip-name-resolve",
                                             "--character-set-server=utf8mb4",
                                             "--collation-server=utf8mb4_general_ci",
                                             "--skip-log-bin",
                                             "--innodb-buffer-pool-size=32M",
                                             "--innodb-log-file-size=16M",
                                             "--innodb-flush-log-at-trx-commit=0",
                                             "--log-error=" + (root_.path() / "server.log").string()};
            if (asRoot_) args.push_back("--user=root");
            plat::ProcessOptions o;
            o.output = plat::ProcessOutput::File;
            o.outputFile = (root_.path() / "stdout.log").string();
            pid_ = plat::StartProcess(kServer, args, o).pid;
            // Ready when the client gets an answer; a server that ended (its port taken) is
            // tried again on another port. The bound is against a hung start, not a goal.
            bool exited = false;
            running_ = Eventually(
                [&] {
                    if (Ended(pid_)) {
                        exited = true;
                        return true;
                    }
                    return Run("/usr/bin/mariadb-admin", {"--no-defaults", "-S", SocketPath(), "-u", "root", "ping"})
                               .exitCode == 0;
                },
                std::chrono::seconds(120), std::chrono::milliseconds(50));
            if (exited) {
                running_ = false;
                pid_ = 0;
            }
        }
        if (!running_) {
            reason_ = "mariadbd did not start: " + Log();
            Stop();
            return;
        }
        try {
            Sql("create database kwtest; create user 'kw'@'%' identified by 'kwpass'; "
                "grant all on *.* to 'kw'@'%'",
                "");
        } catch (const std::exception& e) {
            reason_ = e.what();
            Stop();
        }
    }

    void Stop() {
        running_ = false;
        if (pid_ <= 0) return;
        Run("/usr/bin/mariadb-admin", {"--no-defaults", "-S", SocketPath(), "-u", "root", "shutdown"});
        const bool ended = Eventually([&] { return Ended(pid_); }, std::chrono::seconds(60),
                                      std::chrono::milliseconds(20));
        if (!ended) {
            ::kill(pid_, SIGKILL);
            Eventually([&] { return Ended(pid_); }, std::chrono::seconds(60), std::chrono::milliseconds(20));
        }
        pid_ = 0;
    }

    // Whether the server has ended. The platform's reaper thread collects the children nobody
    // waits for, so waitpid here would never see it: once reaped, the process is gone.
    static bool Ended(int pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

    static plat::ProcessResult Run(const std::string& program, const std::vector<std::string>& args) {
        plat::ProcessOptions o;
        o.wait = true;
        o.output = plat::ProcessOutput::Capture;
        return plat::StartProcess(program, args, o);
    }

    TempDir root_;
    std::string host_ = "127.0.0.1";
    int port_ = 0;
    int pid_ = 0;
    bool asRoot_ = false;
    bool running_ = false;
    std::string reason_;
};

}  // namespace kwtest
