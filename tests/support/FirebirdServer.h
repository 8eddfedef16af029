// tests/support/FirebirdServer.h: Firebird 3 for peer tests, embedded and as a private server.
//
// FirebirdHome is the test process's Firebird setting, made once per process before the
// client library is first loaded: a temporary root folder with a configuration of its own
// (ServerMode SuperClassic, so that isql-fb in another process can open a database file the
// test holds open), its lock and temporary files, and the client's plugins, messages and
// character sets linked in from the installed server core. $FIREBIRD, $FIREBIRD_LOCK and
// $FIREBIRD_TMP point there for the test and for the isql-fb it starts, so nothing touches
// the machine's /tmp/firebird or a system instance. Embedded databases are plain files.
//
// FirebirdServer is a private server (/usr/sbin/firebird) in a root folder of its own: its
// configuration (a free loopback port, SRP logins), its security database with the users
// SYSDBA/masterkey and KW/kwpass, its locks, and a folder for its databases. It starts with
// the object, can be killed (a server gone under its clients) and started again on the same
// port, and is stopped when the object goes away. It runs as the user running the test.
//
// Use:
//     kwtest::FirebirdHome& fb = kwtest::FirebirdHome::Get();
//     KW_REQUIRE_PEER(fb.Available(), fb.Reason());
//     fb.CreateDatabase(path, 3);                  // isql-fb, embedded
//     fb.Isql(path, "select count(*) from t");     // rows, one per line, "|" between values
//     fb.IsqlRows(path, "select a, b from t");      // rows of any statement, column by column
//     kwtest::FirebirdServer server;               // a private server
//     server.Remote(path)                          // "127.0.0.1/<port>:<path>"
#pragma once

#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "rtl/Text.h"
#include "support/LoopbackListeners.h"
#include "support/TestSupport.h"

namespace kwtest {

namespace firebird {

inline constexpr const char* kCore = "/usr/lib/x86_64-linux-gnu/firebird/3.0";
inline constexpr const char* kIsql = "/usr/bin/isql-fb";
inline constexpr const char* kServer = "/usr/sbin/firebird";
inline constexpr const char* kClient = "/usr/lib/x86_64-linux-gnu/libfbclient.so.2";

using Rows = std::vector<std::vector<std::string>>;

// A Firebird root folder: the installed core's plugins, messages and character sets, and a
// firebird.conf and databases.conf of our own.
inline void MakeRoot(const std::filesystem::path& root, const std::string& conf, const std::string& databases) {
    std::filesystem::create_directories(root / "lock");
    std::filesystem::create_directories(root / "tmp");
    for (const char* name : {"plugins", "intl", "firebird.msg", "plugins.conf", "UDF", "lib"})
        if (std::filesystem::exists(std::filesystem::path(kCore) / name))
            std::filesystem::create_symlink(std::filesystem::path(kCore) / name, root / name);
    WriteFile(root / "firebird.conf", conf);
    WriteFile(root / "databases.conf", databases);
}

// isql-fb with the given root's settings (through env, so that our own stay as they are): the
// script's rows without headings, each line trimmed and split at "|", empty lines left out.
// With list, isql-fb's list form is read instead ("set list on": a line per value, the
// column's name in its first 32 characters, a blank line after each row), so that values
// with blanks and rows of several columns come apart whatever the statement; values are
// right-trimmed.
inline Rows Isql(const std::filesystem::path& root, const std::filesystem::path& scratch, const std::string& database,
                 const std::string& sql, const std::string& user, const std::string& password,
                 const std::string& charset = "", bool list = false) {
    const std::filesystem::path input = scratch / ("isql-" + std::to_string(std::random_device{}()) + ".sql");
    std::string text = (list ? "set list on;\n" : "set heading off;\n") + sql;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    if (!text.empty() && text.back() != ';') text += ";";
    WriteFile(input, text + "\n");
    std::vector<std::string> args = {"FIREBIRD=" + root.string(), "FIREBIRD_LOCK=" + (root / "lock").string(),
                                     "FIREBIRD_TMP=" + (root / "tmp").string(), kIsql, "-q", "-b", "-u", user};
    if (!password.empty()) {
        args.push_back("-p");
        args.push_back(password);
    }
    if (!charset.empty()) {
        args.push_back("-ch");
        args.push_back(charset);
    }
    if (!database.empty()) args.push_back(database);
    args.push_back("-i");
    args.push_back(input.string());
    plat::ProcessOptions o;
    o.wait = true;
    o.output = plat::ProcessOutput::Capture;
    o.workingFolder = "/";
    const plat::ProcessResult r = plat::StartProcess("/usr/bin/env", args, o);
    std::filesystem::remove(input);
    if (r.exitCode != 0) throw std::runtime_error("isql-fb failed: " + r.output);
    Rows rows;
    if (list) {
        constexpr size_t kNameWidth = 32;
        std::vector<std::string> row;
        for (const std::string& line : rtl::SplitFields(r.output + "\n", '\n')) {
            if (rtl::Trim(line).empty()) {
                if (!row.empty()) rows.push_back(row);
                row.clear();
                continue;
            }
            row.push_back(line.size() > kNameWidth ? rtl::TrimRight(line.substr(kNameWidth)) : "");
        }
        return rows;
    }
    for (const std::string& line : rtl::SplitFields(r.output, '\n')) {
        const std::string t = rtl::Trim(line);
        if (t.empty()) continue;
        std::vector<std::string> fields;
        for (const std::string& f : rtl::SplitFields(t, '|'))
            fields.push_back(rtl::Trim(f));
        rows.push_back(fields);
    }
    return rows;
}

}  // namespace firebird

class FirebirdHome {
public:
    // The process's one setting, made (and the environment set) on first use.
    static FirebirdHome& Get() {
        static FirebirdHome home;
        return home;
    }

    bool Available() const { return reason_.empty(); }
    const std::string& Reason() const { return reason_; }
    const std::filesystem::path& Root() const { return root_.path(); }
    // A folder for the test's database files.
    std::filesystem::path Data() const { return root_.path() / "data"; }

    // A new database file, made by isql-fb (embedded, as SYSDBA).
    void CreateDatabase(const std::filesystem::path& file, int dialect = 3, const std::string& charset = "NONE") const {
        Isql("", "set sql dialect " + std::to_string(dialect) + ";\ncreate database '" + file.string() +
                     "' user 'SYSDBA' page_size 4096 default character set " + charset + ";\ncommit;");
    }
    // Runs SQL on the database with isql-fb (embedded, as SYSDBA).
    firebird::Rows Isql(const std::string& database, const std::string& sql, const std::string& charset = "") const {
        return firebird::Isql(Root(), Data(), database, sql, "SYSDBA", "", charset);
    }
    // The rows of any statement, column by column (isql-fb's list form).
    firebird::Rows IsqlRows(const std::string& database, const std::string& sql) const {
        return firebird::Isql(Root(), Data(), database, sql, "SYSDBA", "", "", true);
    }

private:
    FirebirdHome() {
        for (const char* needed : {firebird::kCore, firebird::kIsql, firebird::kClient}) {
            if (!std::filesystem::exists(needed)) {
                reason_ = "Firebird 3 (libfbclient2, firebird3.0-server-core, firebird3.0-utils): no " +
                          std::string(needed);
                return;
            }
        }
        firebird::MakeRoot(Root(), "ServerMode = SuperClassic\n", "");
        std::filesystem::create_directories(Data());
        setenv("FIREBIRD", Root().c_str(), 1);
        setenv("FIREBIRD_LOCK", (Root() / "lock").c_str(), 1);
        setenv("FIREBIRD_TMP", (Root() / "tmp").c_str(), 1);
    }

    TempDir root_;
    std::string reason_;
};

class FirebirdServer {
public:
    FirebirdServer() { Start(); }
    ~FirebirdServer() { Stop(); }
    FirebirdServer(const FirebirdServer&) = delete;
    FirebirdServer& operator=(const FirebirdServer&) = delete;

    bool Available() const { return running_; }
    const std::string& Reason() const { return reason_; }
    int Port() const { return port_; }
    // A folder the server's databases live in.
    std::filesystem::path Data() const { return root_.path() / "data"; }
    // The remote name of a database file: "127.0.0.1/<port>:<file>".
    std::string Remote(const std::filesystem::path& file) const {
        return "127.0.0.1/" + std::to_string(port_) + ":" + file.string();
    }

    // A new database through the server (as SYSDBA).
    void CreateDatabase(const std::filesystem::path& file, int dialect = 3, const std::string& charset = "NONE") const {
        Isql("", "set sql dialect " + std::to_string(dialect) + ";\ncreate database '" + Remote(file) +
                     "' user 'SYSDBA' password 'masterkey' page_size 4096 default character set " + charset +
                     ";\ncommit;");
    }
    // Runs SQL through the server with isql-fb, as SYSDBA unless told.
    firebird::Rows Isql(const std::string& database, const std::string& sql, const std::string& user = "SYSDBA",
                        const std::string& password = "masterkey") const {
        return firebird::Isql(root_.path(), Data(), database, sql, user, password);
    }
    // The rows of any statement, column by column (isql-fb's list form), as SYSDBA.
    firebird::Rows IsqlRows(const std::string& database, const std::string& sql) const {
        return firebird::Isql(root_.path(), Data(), database, sql, "SYSDBA", "masterkey", "", true);
    }

    // Ends the server at once, as a crash or a pulled cable would: its clients' links break.
    void Kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        Eventually([&] { return Ended(pid_); }, std::chrono::seconds(60), std::chrono::milliseconds(10));
        pid_ = 0;
        running_ = false;
    }
    // Starts the server again on the same port; false when it did not come up.
    bool Restart() {
        if (running_) return true;
        return Launch();
    }
    std::string Log() const { return ReadFile(root_.path() / "server.log"); }

private:
    void Start() {
        for (const char* needed : {firebird::kCore, firebird::kIsql, firebird::kServer}) {
            if (!std::filesystem::exists(needed)) {
                reason_ = "Firebird 3 server (firebird3.0-server, firebird3.0-utils): no " + std::string(needed);
                return;
            }
        }
        const std::filesystem::path root = root_.path();
        std::filesystem::create_directories(Data());
        firebird::MakeRoot(root, Conf(0), "security.db = " + (root / "security3.fdb").string() + "\n");
        // The security database, made embedded under the server's own settings: SRP users.
        try {
            firebird::Isql(root, Data(), "",
                           "create database '" + (root / "security3.fdb").string() +
                               "' user 'SYSDBA';\ncreate user SYSDBA password 'masterkey';\n"
                               "create user KW password 'kwpass';\ncommit;",
                           "SYSDBA", "");
        } catch (const std::exception& e) {
            reason_ = e.what();
            return;
        }
        std::random_device rd;
        for (int attempt = 0; attempt < 8 && !running_; ++attempt) {
            port_ = 20000 + int(rd() % 40000);
            WriteFile(root / "firebird.conf", Conf(port_));
            Launch();
        }
        if (!running_) reason_ = "firebird did not start: " + Log();
    }

    std::string Conf(int port) const {
        return "ServerMode = Super\nRemoteServicePort = " + std::to_string(port) +
               "\nRemoteBindAddress = 127.0.0.1\nSecurityDatabase = " + (root_.path() / "security3.fdb").string() +
               "\nAuthServer = Srp\nUserManager = Srp\nWireCrypt = Enabled\n";
    }

    bool Launch() {
        const std::filesystem::path root = root_.path();
        plat::ProcessOptions o;
        o.output = plat::ProcessOutput::File;
        o.outputFile = (root / "server.log").string();
        o.workingFolder = "/";
        pid_ = plat::StartProcess("/usr/bin/env",
                                  {"FIREBIRD=" + root.string(), "FIREBIRD_LOCK=" + (root / "lock").string(),
                                   "FIREBIRD_TMP=" + (root / "tmp").string(), firebird::kServer},
                                  o)
                   .pid;
        // Up when the port answers; a server that ended (its port taken) is not. The bound is
        // against a hung start, not a goal.
        bool ended = false;
        running_ = Eventually(
            [&] {
                if (Ended(pid_)) {
                    ended = true;
                    return true;
                }
                return Accepts(port_);
            },
            std::chrono::seconds(60), std::chrono::milliseconds(20));
        if (ended) {
            running_ = false;
            pid_ = 0;
        }
        return running_;
    }

    // The databases die with the folder: the server is ended at once. (Its SIGTERM handler
    // only notes the request for a main loop that may look again a minute later.)
    void Stop() {
        running_ = false;
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        Eventually([&] { return Ended(pid_); }, std::chrono::seconds(60), std::chrono::milliseconds(10));
        pid_ = 0;
    }

    // Whether the server has ended. The platform's reaper thread collects the children nobody
    // waits for, so waitpid would never see it: once reaped, the process is gone.
    static bool Ended(int pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

    TempDir root_;
    int port_ = 0;
    int pid_ = 0;
    bool running_ = false;
    std::string reason_;
};

}  // namespace kwtest
