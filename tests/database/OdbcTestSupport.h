// tests/database/OdbcTestSupport.h: what the ODBC, DB2 and Informix driver tests share: the
// installed ODBC components, a SQLite data source name, isql as an independent reader, and
// small helpers that run statements and read whole results through the driver interface.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "database/odbc/SDOdbc.h"
#include "platform/DynamicLibrary.h"
#include "platform/Process.h"
#include "rtl/DateTime.h"
#include "rtl/Text.h"
#include "support/TestSupport.h"

namespace odbctest {

inline const std::string kSqliteDriver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";
inline const std::string kDriverManager = "libodbc.so.2";

inline bool SqliteOdbcAvailable() {
    return std::filesystem::exists(kSqliteDriver) && std::filesystem::exists("/usr/bin/isql");
}

// One odbc.ini per test process (unixODBC reads user data sources from $ODBCINI), made on
// first use; every data source of the tests is written into it before the first connect.
// The system's driver list is replaced by an empty one ($ODBCSYSINI) too: the tests name
// drivers by their files, and the installed list switches psqlODBC's communication log on,
// which would leave a log file in /tmp for every connection.
class DataSources {
public:
    static DataSources& Get() {
        static DataSources sources;
        return sources;
    }
    // A SQLite data source of that name on that database file.
    void AddSqlite(const std::string& name, const std::filesystem::path& database) {
        text_ += "[" + name + "]\nDriver=" + kSqliteDriver + "\nDatabase=" + database.string() + "\n\n";
        kwtest::WriteFile(ini_, text_);
    }
    // A data source of that name with the given "key=value" lines.
    void AddEntry(const std::string& name, const std::vector<std::string>& lines) {
        text_ += "[" + name + "]\n";
        for (const std::string& line : lines)
            text_ += line + "\n";
        text_ += "\n";
        kwtest::WriteFile(ini_, text_);
    }
    const std::filesystem::path& IniFile() const { return ini_; }

private:
    DataSources() : ini_(dir_.path() / "odbc.ini") {
        kwtest::WriteFile(ini_, "");
        kwtest::WriteFile(dir_.path() / "odbcinst.ini", "");
        setenv("ODBCINI", ini_.c_str(), 1);
        setenv("ODBCSYSINI", dir_.path().c_str(), 1);
    }
    kwtest::TempDir dir_;
    std::filesystem::path ini_;
    std::string text_;
};

// For a suite whose drivers are named by their files and whose data sources live in the
// test's own odbc.ini: an empty folder of system settings keeps the machine's out of the test.
inline void KeepSystemOdbcSettingsOut() {
    static kwtest::TempDir empty;
    setenv("ODBCSYSINI", empty.path().c_str(), 1);
}

using Rows = std::vector<std::vector<std::string>>;

// The rows of psql's unaligned output: fields split at '|', blank lines left out.
inline Rows PsqlRows(const std::string& output) {
    Rows rows;
    for (const std::string& line : rtl::SplitFields(output, '\n'))
        if (!line.empty()) rows.push_back(rtl::SplitFields(line, '|'));
    return rows;
}

// Runs statements through isql (a separate process on the same data source, unixODBC's own
// reader) and gives the rows of the last result, without the header. target is a data
// source name or, with driverConnect, a connection string; odbc3 makes isql an ODBC 3
// application (date types 91 to 93 instead of 9 to 11).
inline Rows Isql(const std::string& target, const std::string& sql, bool driverConnect = false,
                 bool odbc3 = false) {
    plat::ProcessOptions o;
    o.wait = true;
    o.output = plat::ProcessOutput::Capture;
    const kwtest::TempDir dir;
    const auto input = dir / "in.sql";
    kwtest::WriteFile(input, sql + "\n");
    std::vector<std::string> args = {"-c", "-e", "-x0x1f", "-b", "-L100000"};
    if (odbc3) args.push_back("-3");
    std::string command = "isql " + std::string(driverConnect ? "-k " : "") + "'" + target + "'";
    for (const auto& a : args)
        command += " " + a;
    command += " < '" + input.string() + "'";
    const plat::ProcessResult r = plat::StartProcess("/bin/sh", {"-c", command}, o);
    if (r.exitCode != 0) throw std::runtime_error("isql failed: " + r.output);
    Rows rows;
    bool header = true;
    for (const std::string& line : rtl::SplitFields(r.output, '\n')) {
        if (line.empty() || line.rfind("SQLRowCount", 0) == 0 ||
            line.find("rows fetched") != std::string::npos)
            continue;
        if (line.rfind("[ISQL]", 0) == 0 || line.rfind("[", 0) == 0)
            throw std::runtime_error("isql: " + r.output);
        if (header) {
            header = false;
            continue;
        }
        rows.push_back(rtl::SplitFields(line, '\x1f'));
    }
    return rows;
}

// A connected driver object; disconnected (and its library reference given back) at the end.
struct Connection {
    std::unique_ptr<TISqlDatabase> db;
    Connection() = default;
    Connection(Connection&&) = default;
    Connection& operator=(Connection&&) = default;
    ~Connection() {
        if (db && db->GetHandle() != nullptr) {
            try {
                db->Disconnect(true);
            } catch (const std::exception&) {
            }
        }
    }
    TICustomOdbcDatabase& Odbc() const { return dynamic_cast<TICustomOdbcDatabase&>(*db); }
    TISqlDatabase* operator->() const { return db.get(); }
};

inline rtl::StringList MakeParams(std::initializer_list<std::string> lines) {
    rtl::StringList params;
    for (const auto& l : lines)
        params.Add(l);
    return params;
}

// The driver's parameters: the lines given, then the ODBC library to load (the installed
// driver manager unless another is named).
inline rtl::StringList OdbcParams(std::initializer_list<std::string> lines = {},
                                  const std::string& library = kDriverManager) {
    rtl::StringList params = MakeParams(lines);
    params.Add("ODBC API LIBRARY=" + library);
    return params;
}

// An ODBC driver object, not connected yet.
inline Connection NewOdbc(const rtl::StringList& params = OdbcParams()) {
    Connection c;
    c.db = CreateODBCDatabase(nullptr, params);
    return c;
}

// After a test that loaded another ODBC library (a stand-in, a wrong name): once nothing
// holds the library, later tests of the process load the installed driver manager again.
inline void ReloadDriverManagerName() {
    if (OdbcLibrary().LoadCount() == 0) OdbcLibrary().TakeNameFromParams(OdbcParams());
}

// Inserts a row of an integer, a long text and a long binary value through parameters, with
// a statement of three parameters (:id, :body, :data); the rows it affected.
inline int32_t InsertLongRow(TISqlDatabase& db, const std::string& sql, int32_t id, const std::string& body,
                             const rtl::ByteArray& data) {
    TParams params;
    params.CreateParam(ftInteger, "id", ptInput).SetValue(rtl::Variant(id));
    params.CreateParam(ftMemo, "body", ptInput).SetValue(rtl::Variant(body));
    params.CreateParam(ftBlob, "data", ptInput).SetValue(rtl::Variant::FromBytes(data));
    TISqlCommandPtr insert = db.CreateSqlCommand(nullptr);
    insert->SetParams(&params);
    insert->Prepare(sql);
    insert->Execute();
    return insert->GetRowsAffected();
}

// Runs a statement without result (or discards its result).
inline void Exec(TISqlDatabase& db, const std::string& sql) {
    TISqlCommandPtr cmd = db.CreateSqlCommand(nullptr);
    cmd->ExecDirect(sql);
}

inline std::string Iso(rtl::TDateTime value, TFieldType type) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    char text[40];
    if (type == ftTime) {
        rtl::DecodeTime(value, h, mi, s, ms);
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", h, mi, s);
        return text;
    }
    rtl::DecodeDate(value, y, mo, d);
    if (type == ftDate) {
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", y, mo, d);
        return text;
    }
    rtl::DecodeTime(value, h, mi, s, ms);
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", y, mo, d, h, mi, s, ms);
    return text;
}

// The current row of a command as texts, in the forms isql shows them for SQLite and
// PostgreSQL: integers in decimal, dates "yyyy-mm-dd", time stamps with milliseconds, long
// values as their bytes, "<null>" for null.
inline std::vector<std::string> RowTexts(TISqlCommand& cmd) {
    std::vector<std::string> row;
    for (int i = 0; i < cmd.FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = cmd.FieldDescs->GetFieldDesc(i);
        const TSDServerType server = cmd.GetSqlDatabase().GetServerType();
        if (IsBlobFieldType(server, d.FieldType)) {
            const TSDBlobRef blob = cmd.GetFieldBlobData(d);
            row.push_back(blob ? std::string(blob->begin(), blob->end()) : "<null>");
            cmd.SetFieldBlobData(d, nullptr);
            continue;
        }
        switch (d.FieldType) {
            case ftDate:
            case ftTime:
            case ftDateTime: {
                rtl::TDateTime v = 0;
                row.push_back(cmd.GetFieldAsDateTime(d.FieldNo, v) ? Iso(v, d.FieldType) : "<null>");
                break;
            }
            case ftFloat: {
                double v = 0;
                if (cmd.GetFieldAsFloat(d.FieldNo, v)) {
                    char text[64];
                    std::snprintf(text, sizeof text, "%.15g", v);
                    row.push_back(text);
                } else {
                    row.push_back("<null>");
                }
                break;
            }
            case ftGuid: {
                std::string text(40, '\0');
                row.push_back(cmd.GetCnvtFieldData(d, text.data(), 40) ? text.substr(0, 38) : "<null>");
                break;
            }
            case ftString:
            case ftFixedChar: {
                std::string text(size_t(d.DataSize) + 1, '\0');
                row.push_back(cmd.GetCnvtFieldData(d, text.data(), d.DataSize)
                                  ? text.substr(0, text.find('\0'))
                                  : "<null>");
                break;
            }
            default: {
                std::string v;
                row.push_back(cmd.GetFieldAsString(d.FieldNo, v) ? v : "<null>");
            }
        }
    }
    return row;
}

// Every row of an executed command.
inline Rows FetchAll(TISqlCommand& cmd) {
    Rows rows;
    while (cmd.FetchNextRow())
        rows.push_back(RowTexts(cmd));
    return rows;
}

// Runs a query on a fresh command and reads all its rows.
inline Rows Query(TISqlDatabase& db, const std::string& sql) {
    TISqlCommandPtr cmd = db.CreateSqlCommand(nullptr);
    cmd->Prepare(sql);
    cmd->Execute();
    Rows rows = FetchAll(*cmd);
    cmd->CloseResultSet();
    return rows;
}

// The test stand-in of the vendors' call-level libraries (tests/database/standin): its journal
// of calls and its failure injection. The path is empty when the stand-in is not built.
class Standin {
public:
    explicit Standin(std::string path) : path_(std::move(path)) {
        if (path_.empty() || !lib_.Load(path_)) return;
        journal_ = reinterpret_cast<const char* (*)()>(lib_.Symbol("KwStandinJournal"));
        clear_ = reinterpret_cast<void (*)()>(lib_.Symbol("KwStandinClearJournal"));
        failRow_ = reinterpret_cast<void (*)(int)>(lib_.Symbol("KwStandinFailRow"));
    }
    bool Available() const { return journal_ != nullptr && clear_ != nullptr && failRow_ != nullptr; }
    const std::string& Path() const { return path_; }
    std::string Journal() const { return journal_(); }
    void Clear() const { clear_(); }
    void FailRow(int row) const { failRow_(row); }
    // The journal lines that begin with the text.
    std::vector<std::string> Lines(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& line : rtl::SplitFields(Journal(), '\n'))
            if (line.rfind(prefix, 0) == 0) out.push_back(line);
        return out;
    }

private:
    std::string path_;
    plat::DynamicLibrary lib_;
    const char* (*journal_)() = nullptr;
    void (*clear_)() = nullptr;
    void (*failRow_)(int) = nullptr;
};

inline std::string Db2StandinPath() {
#ifdef KW_DB2_STANDIN
    return KW_DB2_STANDIN;
#else
    return "";
#endif
}

inline std::string Odbc2StandinPath() {
#ifdef KW_ODBC2_STANDIN
    return KW_ODBC2_STANDIN;
#else
    return "";
#endif
}

inline std::string Describe(const Rows& rows) {
    std::string out;
    for (const auto& r : rows) {
        for (size_t i = 0; i < r.size(); ++i)
            out += (i ? "|" : "") + r[i];
        out += "\n";
    }
    return out;
}

}  // namespace odbctest
