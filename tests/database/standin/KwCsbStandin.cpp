// tests/database/standin/KwCsbStandin.cpp: a stand-in for the SQLBase client library (tests
// only), answering the calls of database/drivers/SDCSbApi.h over SQLite files.
//
// A database name is a file <folder>/<name>.db, the folder set by the test
// (KwCsbStandinSetFolder). Cursors connected by sqlcnc or sqlcnr to the same database and user
// share one SQLite connection and its transaction, as SQLBase cursors of one program do;
// cursors opened with sqlopc on a version 7 connection handle share that handle's. Auto-commit
// is off unless a cursor switches it on (parameter 3006); definitions (CREATE, DROP, ALTER)
// commit by themselves; the last cursor of a connection commits when it disconnects.
//
// What the stand-in maps onto SQLite: the SYSSQL catalog views (SYSTABLES, SYSCOLUMNS,
// SYSINDEXES, SYSKEYS, SYSCOMMANDS, filled from SQLite's catalog when a statement names them),
// the functions @UPPER and @DECODE, bind variables by name (":NAME", case ignored), an empty
// text stored as NULL, two stored procedures of its own (KW_ADD: A + B into SUM; KW_GREET:
// "Hello, " and NAME into GREETING with NAME_LEN), and an internal date form of its own (12
// bytes: the day number from 0001-01-01 and the microseconds of the day, both little-endian),
// converted to and from text through date pictures (dd, mm, yyyy, hh, mi, ss, a run of 9s for
// the fraction, other characters as they stand). Dates are stored as the text the sqlite3
// shell shows ("YYYY-MM-DD", "HH:MM:SS", "YYYY-MM-DD HH:MM:SS.fff").
//
// Controls for the tests: the journal, "fail the next N calls named X with code C" (3806 and
// 9024 also break the connection, which then answers 9024 until its cursors disconnect), a
// refused sqlini, the brand code and version text, long reads answered short, and the count of
// open cursors and initialisations.
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "database/drivers/SDCSbApi.h"
#include "database/standin/KwSqliteStandin.h"

#define KW_EXPORT extern "C" __attribute__((visibility("default")))

using namespace csbapi;
using kwstandin::Row;
using kwstandin::SameText;
using kwstandin::TrimText;
using kwstandin::Upper;
using kwstandin::Value;

namespace {

// The stand-in's own error codes and texts.
enum : int {
    kErrSql = 601,         // statement refused by SQLite
    kErrConstraint = 805,  // a constraint refused the row
    kErrCursor = 1001,     // no such cursor
    kErrState = 1002,      // call out of order
    kErrDatabase = 1003,   // no such database
    kErrProcedure = 1004,  // no such procedure
    kErrBind = 1005,       // bind variable not found
    kErrDate = 1701,       // a date text that does not match its picture
    kErrBuffer = 1702,     // a buffer too small
    kErrNotSupported = 2000,
};

const char* ErrorText(int code) {
    switch (code) {
        case kErrSql:
            return "Invalid SQL statement";
        case kErrConstraint:
            return "Unique or constraint violation";
        case kErrCursor:
            return "Invalid cursor";
        case kErrState:
            return "Function called out of sequence";
        case kErrDatabase:
            return "Database does not exist";
        case kErrProcedure:
            return "Stored procedure not found";
        case kErrBind:
            return "Bind variable not found";
        case kErrDate:
            return "Invalid date or time value";
        case kErrBuffer:
            return "Buffer too small";
        case kErrNotSupported:
            return "Function not supported";
        case kCsbConnectionLost:
            return "Connection to the server lost";
        case kCsbConnectionBroken:
            return "Session terminated by the server";
        default:
            return "Unknown error";
    }
}

struct CsbError {
    int Code;
    std::string Detail;
    int Position = -1;
};

[[noreturn]] void Fail(int code, std::string detail = "", int position = -1) {
    throw CsbError{code, std::move(detail), position};
}

// ---------------------------------------------------------------------------------------------
// The internal date form and pictures

struct Stamp {
    int32_t Day = 0;           // 1 = 0001-01-01; 0 for a time alone
    int64_t Microseconds = 0;  // of the day
};

bool IsLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int MonthDays(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

int32_t DayNumber(int y, int m, int d) {
    int32_t n = 0;
    const int py = y - 1;
    n = py * 365 + py / 4 - py / 100 + py / 400;
    for (int i = 1; i < m; ++i)
        n += MonthDays(y, i);
    return n + d;
}

void SplitDay(int32_t day, int& y, int& m, int& d) {
    y = 1;
    while (true) {
        const int len = IsLeap(y) ? 366 : 365;
        if (day <= len) break;
        // Whole 400-year cycles first, so that late dates do not walk year by year.
        if (day > 146097 && (y - 1) % 400 == 0) {
            day -= 146097;
            y += 400;
            continue;
        }
        day -= len;
        ++y;
    }
    m = 1;
    while (day > MonthDays(y, m)) {
        day -= MonthDays(y, m);
        ++m;
    }
    d = day;
}

void StoreStamp(const Stamp& s, void* out) {
    uint8_t* p = static_cast<uint8_t*>(out);
    std::memcpy(p, &s.Day, 4);
    std::memcpy(p + 4, &s.Microseconds, 8);
}

Stamp LoadStamp(const void* in, SQLTDAL length) {
    if (length < kInternalDateSize) Fail(kErrDate, "internal value of " + std::to_string(length) + " bytes");
    Stamp s;
    const uint8_t* p = static_cast<const uint8_t*>(in);
    std::memcpy(&s.Day, p, 4);
    std::memcpy(&s.Microseconds, p + 4, 8);
    return s;
}

// A picture's elements.
struct PictureItem {
    enum Kind { Literal, Day, Month, Year, Hour, Minute, Second, Fraction } kind;
    char literal = 0;
    int width = 0;
};

std::vector<PictureItem> ParsePicture(const std::string& picture) {
    std::vector<PictureItem> items;
    const std::string p = Upper(picture);
    for (size_t i = 0; i < p.size();) {
        auto starts = [&](const char* token) { return p.compare(i, std::strlen(token), token) == 0; };
        if (starts("YYYY")) {
            items.push_back({PictureItem::Year, 0, 4});
            i += 4;
        } else if (starts("DD")) {
            items.push_back({PictureItem::Day, 0, 2});
            i += 2;
        } else if (starts("MM")) {
            items.push_back({PictureItem::Month, 0, 2});
            i += 2;
        } else if (starts("HH")) {
            items.push_back({PictureItem::Hour, 0, 2});
            i += 2;
        } else if (starts("MI")) {
            items.push_back({PictureItem::Minute, 0, 2});
            i += 2;
        } else if (starts("SS")) {
            items.push_back({PictureItem::Second, 0, 2});
            i += 2;
        } else if (p[i] == '9') {
            size_t n = 0;
            while (i + n < p.size() && p[i + n] == '9')
                ++n;
            items.push_back({PictureItem::Fraction, 0, int(n)});
            i += n;
        } else {
            items.push_back({PictureItem::Literal, picture[i], 1});
            ++i;
        }
    }
    return items;
}

std::string FormatPicture(const Stamp& s, const std::string& picture) {
    int y = 0, m = 0, d = 0;
    if (s.Day > 0) SplitDay(s.Day, y, m, d);
    const int64_t us = s.Microseconds;
    const int hour = int(us / 3600000000LL), minute = int(us / 60000000LL % 60),
              second = int(us / 1000000 % 60);
    const int fraction = int(us % 1000000);
    std::string out;
    char text[16];
    for (const PictureItem& item : ParsePicture(picture)) {
        switch (item.kind) {
            case PictureItem::Literal:
                out += item.literal;
                break;
            case PictureItem::Day:
                std::snprintf(text, sizeof text, "%02d", d);
                out += text;
                break;
            case PictureItem::Month:
                std::snprintf(text, sizeof text, "%02d", m);
                out += text;
                break;
            case PictureItem::Year:
                std::snprintf(text, sizeof text, "%04d", y);
                out += text;
                break;
            case PictureItem::Hour:
                std::snprintf(text, sizeof text, "%02d", hour);
                out += text;
                break;
            case PictureItem::Minute:
                std::snprintf(text, sizeof text, "%02d", minute);
                out += text;
                break;
            case PictureItem::Second:
                std::snprintf(text, sizeof text, "%02d", second);
                out += text;
                break;
            case PictureItem::Fraction: {
                // Microseconds are all the client keeps: at most six digits.
                std::snprintf(text, sizeof text, "%06d", fraction);
                out += std::string(text).substr(0, size_t(std::min(item.width, 6)));
                break;
            }
        }
    }
    return out;
}

Stamp ParsePictureText(const std::string& text, const std::string& picture) {
    int y = 0, m = 0, d = 0, hour = 0, minute = 0, second = 0;
    int64_t fraction = 0;
    bool hasDate = false;
    size_t at = 0;
    auto number = [&](int maxDigits, int& value) {
        int n = 0;
        value = 0;
        while (n < maxDigits && at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
            value = value * 10 + (text[at] - '0');
            ++at;
            ++n;
        }
        if (n == 0) Fail(kErrDate, "'" + text + "' does not match '" + picture + "'");
    };
    for (const PictureItem& item : ParsePicture(picture)) {
        switch (item.kind) {
            case PictureItem::Literal:
                if (at >= text.size() || text[at] != item.literal)
                    Fail(kErrDate, "'" + text + "' does not match '" + picture + "'");
                ++at;
                break;
            case PictureItem::Day:
                number(2, d);
                hasDate = true;
                break;
            case PictureItem::Month:
                number(2, m);
                hasDate = true;
                break;
            case PictureItem::Year:
                number(4, y);
                hasDate = true;
                break;
            case PictureItem::Hour:
                number(2, hour);
                break;
            case PictureItem::Minute:
                number(2, minute);
                break;
            case PictureItem::Second:
                number(2, second);
                break;
            case PictureItem::Fraction: {
                int digits = 0;
                fraction = 0;
                while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
                    if (digits < 6) fraction = fraction * 10 + (text[at] - '0');
                    ++digits;
                    ++at;
                }
                for (int i = digits; i < 6; ++i)
                    fraction *= 10;
                break;
            }
        }
    }
    if (at != text.size()) Fail(kErrDate, "'" + text + "' does not match '" + picture + "'");
    if (hasDate && (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > MonthDays(y, m)))
        Fail(kErrDate, "'" + text + "' is no date");
    if (hour > 23 || minute > 59 || second > 59) Fail(kErrDate, "'" + text + "' is no time");
    Stamp s;
    s.Day = hasDate ? DayNumber(y, m, d) : 0;
    s.Microseconds = ((hour * 60LL + minute) * 60 + second) * 1000000 + fraction;
    return s;
}

// The stored text of a stamp by the kind of value.
std::string StoredText(const Stamp& s, SQLTPDT type) {
    char text[64];
    int y = 0, m = 0, d = 0;
    if (s.Day > 0) SplitDay(s.Day, y, m, d);
    const int64_t us = s.Microseconds;
    const int hour = int(us / 3600000000LL), minute = int(us / 60000000LL % 60),
              second = int(us / 1000000 % 60);
    const int fraction = int(us % 1000000);
    if (type == SQLPDAT) {
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", y, m, d);
        return text;
    }
    std::string out;
    if (type == SQLPDTM) {
        std::snprintf(text, sizeof text, "%04d-%02d-%02d ", y, m, d);
        out = text;
    }
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", hour, minute, second);
    out += text;
    if (fraction != 0) {
        if (fraction % 1000 == 0)
            std::snprintf(text, sizeof text, ".%03d", fraction / 1000);
        else
            std::snprintf(text, sizeof text, ".%06d", fraction);
        out += text;
    }
    return out;
}

// A stored date, time or time-stamp text as a stamp; false when it is none of them.
bool StampFromStored(const std::string& stored, Stamp& s) {
    const std::string t = TrimText(stored);
    kwstandin::DateTimeParts parts;
    if (kwstandin::ParseDateTime(t, parts)) {
        s.Day = DayNumber(parts.Year, parts.Month, parts.Day);
        s.Microseconds =
            ((parts.Hour * 60LL + parts.Minute) * 60 + parts.Second) * 1000000 + parts.Nanosecond / 1000;
        return true;
    }
    if (kwstandin::ParseDateTime("0001-01-01 " + t, parts)) {
        s.Day = 0;
        s.Microseconds =
            ((parts.Hour * 60LL + parts.Minute) * 60 + parts.Second) * 1000000 + parts.Nanosecond / 1000;
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Connections and cursors

struct Database {
    sqlite3* Db = nullptr;
    std::string Key;
    std::string Name;
    std::string User;
    int Cursors = 0;
    bool Version7 = false;
    bool Broken = false;
    int BrokenCode = 0;
    bool InTransaction = false;
    ~Database() {
        if (Db != nullptr) sqlite3_close_v2(Db);
    }
};

struct Column {
    std::string Name;
    SQLTDDT Type = SQLEVAR;
    SQLTDDL Length = 254;
    SQLTPRE Precision = 0;
    SQLTSCA Scale = 0;
    bool Nullable = true;
};

struct SelectBuffer {
    SQLTPDT Type = 0;
    void* Buffer = nullptr;
    SQLTPDL Length = 0;
    SQLTCDL* CurrentLength = nullptr;
    SQLTFSC* Status = nullptr;
};

struct Bind {
    SQLTPDT Type = 0;
    Value Data;  // already converted
};

struct Cursor {
    SQLTCUR Handle = 0;
    std::shared_ptr<Database> Db;
    std::string Sql;        // as given
    std::string Procedure;  // the retrieved procedure, upper-cased
    bool Compiled = false;
    std::vector<Column> Columns;
    std::vector<std::string> BindNames;  // upper-cased names without the colon, by SQLite index - 1
    std::map<std::string, Bind> NamedBinds;
    std::map<int, Bind> NumberedBinds;
    std::vector<SelectBuffer> Buffers;  // by column - 1
    std::vector<Row> Rows;
    size_t Next = 0;
    bool HasRow = false;
    int RowsAffected = 0;
    bool AutoCommit = false;
    int ErrorPosition = -1;
    // A long operation in progress: writing under a bind, or reading a column.
    bool LongWrite = false;
    std::string LongName;
    int LongNumber = 0;
    std::string LongData;
    int LongColumn = 0;
    size_t LongPosition = 0;
};

struct Global {
    std::recursive_mutex Lock;
    kwstandin::Journal Journal;
    kwstandin::FailureSwitch Failures;
    std::string Folder;
    std::map<std::string, std::weak_ptr<Database>> Shared;  // sqlcnc / sqlcnr connections
    std::map<SQLTCON, std::shared_ptr<Database>> Handles;   // version 7 connection handles
    std::map<SQLTCUR, std::unique_ptr<Cursor>> Cursors;
    SQLTCUR NextCursor = 1;
    SQLTCON NextHandle = 0x1000;
    int InitCount = 0;
    bool RefuseInit = false;
    int32_t Brand = 1;
    std::string Version = "7.6.0";
    int ShortRead = 0;  // sqlrlo answers at most this many bytes less than asked (0: whole)
};

Global& G() {
    static Global global;
    return global;
}

void Log(const std::string& line) {
    G().Journal.Add(line);
}

// Registered on every connection: DECODE(value, match1, result1, ..., [default]).
void DecodeFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (argc < 3) {
        sqlite3_result_error(ctx, "DECODE needs at least three arguments", -1);
        return;
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        if (sqlite3_value_type(argv[0]) != SQLITE_NULL && sqlite3_value_type(argv[i]) != SQLITE_NULL) {
            const std::string a(reinterpret_cast<const char*>(sqlite3_value_text(argv[0])));
            const std::string b(reinterpret_cast<const char*>(sqlite3_value_text(argv[i])));
            if (a == b) {
                sqlite3_result_value(ctx, argv[i + 1]);
                return;
            }
        }
    }
    if (argc % 2 == 0)
        sqlite3_result_value(ctx, argv[argc - 1]);
    else
        sqlite3_result_null(ctx);
}

void Exec(sqlite3* db, const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message != nullptr ? message : "error";
        sqlite3_free(message);
        Fail(kErrSql, text);
    }
}

std::shared_ptr<Database> OpenDatabase(const std::string& connectString, bool version7) {
    Global& g = G();
    // name[/user[/password]]
    const size_t slash = connectString.find('/');
    const std::string name = TrimText(connectString.substr(0, slash));
    std::string user = "SYSADM";
    if (slash != std::string::npos) {
        const std::string rest = connectString.substr(slash + 1);
        const std::string u = TrimText(rest.substr(0, rest.find('/')));
        if (!u.empty()) user = Upper(u);
    }
    if (name.empty() || name.find_first_of("/\\") != std::string::npos || g.Folder.empty())
        Fail(kErrDatabase, name);
    const std::string key = Upper(name) + "/" + user;
    if (!version7) {
        auto it = g.Shared.find(key);
        if (it != g.Shared.end())
            if (std::shared_ptr<Database> db = it->second.lock(); db && !db->Broken) return db;
    }
    auto db = std::make_shared<Database>();
    db->Key = key;
    db->Name = name;
    db->User = user;
    db->Version7 = version7;
    const std::string path = g.Folder + "/" + name + ".db";
    if (sqlite3_open_v2(path.c_str(), &db->Db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK)
        Fail(kErrDatabase, path);
    sqlite3_busy_timeout(db->Db, 60000);
    sqlite3_create_function(db->Db, "DECODE", -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, DecodeFunction,
                            nullptr, nullptr);
    if (!version7) g.Shared[key] = db;
    return db;
}

SQLTCUR NewCursor(std::shared_ptr<Database> db) {
    Global& g = G();
    while (g.NextCursor == 0 || g.Cursors.count(g.NextCursor) != 0)
        ++g.NextCursor;
    auto c = std::make_unique<Cursor>();
    c->Handle = g.NextCursor++;
    c->Db = std::move(db);
    c->Db->Cursors++;
    const SQLTCUR h = c->Handle;
    g.Cursors[h] = std::move(c);
    return h;
}

Cursor& FindCursor(SQLTCUR handle) {
    auto it = G().Cursors.find(handle);
    if (it == G().Cursors.end()) Fail(kErrCursor, std::to_string(handle));
    return *it->second;
}

// Whether the call is to fail on demand; the codes of a lost link break the connection.
void CheckFailure(const char* call, Database* db) {
    int code = 0;
    if (G().Failures.Take(call, code)) {
        if (db != nullptr && (code == kCsbConnectionLost || code == kCsbConnectionBroken)) {
            db->Broken = true;
            db->BrokenCode = code;
        }
        Fail(code, std::string("failure asked for in ") + call);
    }
    if (db != nullptr && db->Broken) Fail(kCsbConnectionBroken, "the connection is broken");
}

Cursor& Enter(const char* call, SQLTCUR handle) {
    Cursor& c = FindCursor(handle);
    CheckFailure(call, c.Db.get());
    return c;
}

// Runs a call: a raised error becomes its code, kept as the cursor's error position.
template <typename F>
SQLTRCD Run(SQLTCUR handle, F&& body) {
    std::lock_guard<std::recursive_mutex> guard(G().Lock);
    try {
        body();
        return 0;
    } catch (const CsbError& e) {
        auto it = G().Cursors.find(handle);
        if (it != G().Cursors.end()) it->second->ErrorPosition = e.Position;
        Log("error " + std::to_string(e.Code) + " " + e.Detail);
        return SQLTRCD(e.Code);
    }
}

// ---------------------------------------------------------------------------------------------
// Statements

// The text with the SQLBase forms SQLite lacks mapped: "@FUNCTION(" loses its "@", and
// "SYSSQL.<view>" names the stand-in's catalog table SYSSQL_<view>. Quoted text is copied.
std::string MapSql(const std::string& sql, bool& catalog) {
    std::string out;
    catalog = false;
    char quote = 0;
    for (size_t i = 0; i < sql.size(); ++i) {
        const char c = sql[i];
        if (quote != 0) {
            out += c;
            if (c == quote) quote = 0;
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
            out += c;
            continue;
        }
        if (c == '@' && i + 1 < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i + 1]))) continue;
        if ((i == 0 || !(std::isalnum(static_cast<unsigned char>(sql[i - 1])) || sql[i - 1] == '_')) &&
            Upper(sql.substr(i, 7)) == "SYSSQL.") {
            out += "SYSSQL_";
            i += 6;
            catalog = true;
            continue;
        }
        out += c;
    }
    return out;
}

SQLTDDT TypeOfDeclared(const char* declared, SQLTDDL& length, SQLTPRE& precision, SQLTSCA& scale) {
    const kwstandin::DeclaredType t = kwstandin::ParseDeclaredType(declared);
    const std::string& n = t.Name;
    precision = 0;
    scale = 0;
    if (n == "INTEGER" || n == "INT") {
        length = 4;
        return SQLEINT;
    }
    if (n == "SMALLINT") {
        length = 2;
        return SQLESMA;
    }
    if (n == "FLOAT" || n == "DOUBLE" || n == "DOUBLE PRECISION" || n == "REAL") {
        length = 8;
        return SQLEFLO;
    }
    if (n == "DECIMAL" || n == "NUMERIC" || n == "NUMBER" || n == "BIGINT") {
        precision = SQLTPRE(t.Length > 0 ? t.Length : 19);
        scale = SQLTSCA(t.Scale > 0 ? t.Scale : 0);
        length = 8;
        return SQLEDEC;
    }
    if (n == "CHAR" || n == "CHARACTER") {
        length = SQLTDDL(t.Length > 0 ? t.Length : 1);
        return SQLECHR;
    }
    if (n == "VARCHAR" || n == "CHARACTER VARYING") {
        length = SQLTDDL(t.Length > 0 ? t.Length : 254);
        return SQLEVAR;
    }
    if (n == "LONG VARCHAR" || n == "LONG" || n == "CLOB" || n == "TEXT") {
        length = 0;
        return SQLELCH;
    }
    if (n == "LONG BINARY" || n == "LONG VARBINARY" || n == "BLOB") {
        length = 0;
        return SQLELBI;
    }
    if (n == "DATE") {
        length = kInternalDateSize;
        return SQLEDAT;
    }
    if (n == "TIME") {
        length = kInternalDateSize;
        return SQLETIM;
    }
    if (n == "TIMESTAMP" || n == "DATETIME") {
        length = kInternalDateSize;
        return SQLETMS;
    }
    if (n == "BOOLEAN") {
        length = 2;
        return SQLEBOO;
    }
    if (n == "MONEY") {
        length = 8;
        return SQLEMON;
    }
    length = 254;
    return SQLEVAR;
}

SQLTDDT TypeOfValue(const Value& v, SQLTDDL& length) {
    switch (v.Type) {
        case SQLITE_INTEGER:
            length = 4;
            return SQLEINT;
        case SQLITE_FLOAT:
            length = 8;
            return SQLEFLO;
        case SQLITE_BLOB:
            length = 0;
            return SQLELBI;
        default:
            length = 254;
            return SQLEVAR;
    }
}

// Whether a column of the statement takes nulls (from its table's declaration).
bool ColumnNullable(sqlite3* db, sqlite3_stmt* stmt, int i) {
    const char* table = sqlite3_column_table_name(stmt, i);
    const char* origin = sqlite3_column_origin_name(stmt, i);
    const char* schema = sqlite3_column_database_name(stmt, i);
    if (table == nullptr || origin == nullptr) return true;
    int notNull = 0, primaryKey = 0, autoIncrement = 0;
    if (sqlite3_table_column_metadata(db, schema, table, origin, nullptr, nullptr, &notNull, &primaryKey,
                                      &autoIncrement) != SQLITE_OK)
        return true;
    return notNull == 0;
}

// The catalog tables a statement naming SYSSQL reads, rebuilt from SQLite's catalog.
void RefreshCatalog(Database& d) {
    sqlite3* db = d.Db;
    Exec(db,
         "create temp table if not exists SYSSQL_SYSTABLES (CREATOR, NAME, SYSTEM);"
         "create temp table if not exists SYSSQL_SYSCOLUMNS (TBCREATOR, TBNAME, NAME, COLNO, COLTYPE, "
         "LENGTH, SCALE, "
         "NULLS);"
         "create temp table if not exists SYSSQL_SYSINDEXES (NAME, TBCREATOR, TBNAME, UNIQUERULE);"
         "create temp table if not exists SYSSQL_SYSKEYS (IXNAME, COLNAME, COLNO, ORDERING, FUNCTION);"
         "create temp table if not exists SYSSQL_SYSCOMMANDS (CREATOR, NAME, SYSTEM);"
         "delete from SYSSQL_SYSTABLES; delete from SYSSQL_SYSCOLUMNS; delete from SYSSQL_SYSINDEXES;"
         "delete from SYSSQL_SYSKEYS; delete from SYSSQL_SYSCOMMANDS;");
    auto exec = [&](const std::string& sql, const std::vector<Value>& values) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
            Fail(kErrSql, sqlite3_errmsg(db));
        for (size_t i = 0; i < values.size(); ++i)
            kwstandin::BindValue(stmt, int(i + 1), values[i]);
        sqlite3_step(stmt);
        sqlite3_finalize(stmt);
    };
    auto text = [](const std::string& s) { return Value::Text(s); };
    for (const char* view : {"SYSTABLES", "SYSCOLUMNS", "SYSINDEXES", "SYSKEYS", "SYSCOMMANDS"})
        exec("insert into SYSSQL_SYSTABLES values (?, ?, ?)", {text("SYSSQL"), text(view), text("Y")});
    for (const char* proc : {"KW_ADD", "KW_GREET"})
        exec("insert into SYSSQL_SYSCOMMANDS values (?, ?, ?)", {text(d.User), text(proc), text("N")});
    std::vector<std::string> tables;
    {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(
            db,
            "select name from main.sqlite_master where type in ('table', 'view') and name not like "
            "'sqlite_%' order by name",
            -1, &stmt, nullptr);
        while (sqlite3_step(stmt) == SQLITE_ROW)
            tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
        sqlite3_finalize(stmt);
    }
    for (const std::string& table : tables) {
        exec("insert into SYSSQL_SYSTABLES values (?, ?, 'N')", {text(d.User), text(table)});
        sqlite3_stmt* info = nullptr;
        const std::string quoted = "\"" + table + "\"";
        sqlite3_prepare_v2(db, ("pragma main.table_info(" + quoted + ")").c_str(), -1, &info, nullptr);
        std::vector<std::string> keyColumns;
        while (info != nullptr && sqlite3_step(info) == SQLITE_ROW) {
            const int colno = sqlite3_column_int(info, 0) + 1;
            const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(info, 1));
            const char* declared = reinterpret_cast<const char*>(sqlite3_column_text(info, 2));
            const bool notNull = sqlite3_column_int(info, 3) != 0;
            const int pk = sqlite3_column_int(info, 5);
            const kwstandin::DeclaredType t = kwstandin::ParseDeclaredType(declared);
            exec("insert into SYSSQL_SYSCOLUMNS values (?, ?, ?, ?, ?, ?, ?, ?)",
                 {text(d.User), text(table), text(name), Value::Int(colno), text(t.Name),
                  Value::Int(t.Length > 0 ? t.Length : 0), Value::Int(t.Scale > 0 ? t.Scale : 0),
                  text(notNull || pk > 0 ? "N" : "Y")});
            if (pk > 0) {
                if (keyColumns.size() < size_t(pk)) keyColumns.resize(size_t(pk));
                keyColumns[size_t(pk - 1)] = name;
            }
        }
        sqlite3_finalize(info);
        // Indexes: SQLite's own, and the primary key's (which an integer key has none of).
        bool keyListed = false;
        sqlite3_stmt* list = nullptr;
        sqlite3_prepare_v2(db, ("pragma main.index_list(" + quoted + ")").c_str(), -1, &list, nullptr);
        std::vector<std::pair<std::string, bool>> indexes;
        while (list != nullptr && sqlite3_step(list) == SQLITE_ROW) {
            const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(list, 1));
            const bool unique = sqlite3_column_int(list, 2) != 0;
            const std::string origin = reinterpret_cast<const char*>(sqlite3_column_text(list, 3));
            if (origin == "pk") keyListed = true;
            indexes.emplace_back(name, unique);
        }
        sqlite3_finalize(list);
        for (const auto& [name, unique] : indexes) {
            exec("insert into SYSSQL_SYSINDEXES values (?, ?, ?, ?)",
                 {text(name), text(d.User), text(table), text(unique ? "U" : "D")});
            sqlite3_stmt* cols = nullptr;
            sqlite3_prepare_v2(db, ("pragma main.index_xinfo(\"" + name + "\")").c_str(), -1, &cols, nullptr);
            while (cols != nullptr && sqlite3_step(cols) == SQLITE_ROW) {
                if (sqlite3_column_int(cols, 5) == 0 || sqlite3_column_type(cols, 2) == SQLITE_NULL) continue;
                exec("insert into SYSSQL_SYSKEYS values (?, ?, ?, ?, NULL)",
                     {text(name), text(reinterpret_cast<const char*>(sqlite3_column_text(cols, 2))),
                      Value::Int(sqlite3_column_int(cols, 0) + 1),
                      text(sqlite3_column_int(cols, 3) ? "D" : "A")});
            }
            sqlite3_finalize(cols);
        }
        if (!keyListed && !keyColumns.empty()) {
            const std::string name = "PK_" + table;
            exec("insert into SYSSQL_SYSINDEXES values (?, ?, ?, 'U')",
                 {text(name), text(d.User), text(table)});
            for (size_t i = 0; i < keyColumns.size(); ++i)
                exec("insert into SYSSQL_SYSKEYS values (?, ?, ?, 'A', NULL)",
                     {text(name), text(keyColumns[i]), Value::Int(int64_t(i + 1))});
        }
    }
}

sqlite3_stmt* Prepare(Cursor& c, std::string& mapped) {
    bool catalog = false;
    mapped = MapSql(c.Sql, catalog);
    if (catalog) RefreshCatalog(*c.Db);
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(c.Db->Db, mapped.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        const int offset = sqlite3_error_offset(c.Db->Db);
        Fail(kErrSql, sqlite3_errmsg(c.Db->Db), offset);
    }
    if (stmt == nullptr) Fail(kErrSql, "empty statement");
    return stmt;
}

// Describes a compiled statement: its columns (with the first row's value types for those
// that have no declared type) and its bind variables.
void Describe(Cursor& c, sqlite3_stmt* stmt, const std::vector<Row>* rows) {
    c.Columns.clear();
    c.BindNames.clear();
    const int n = sqlite3_column_count(stmt);
    for (int i = 0; i < n; ++i) {
        Column col;
        col.Name = sqlite3_column_name(stmt, i);
        const char* declared = sqlite3_column_decltype(stmt, i);
        if (declared != nullptr) {
            col.Type = TypeOfDeclared(declared, col.Length, col.Precision, col.Scale);
        } else if (rows != nullptr && !rows->empty()) {
            col.Type = TypeOfValue((*rows)[0][size_t(i)], col.Length);
        }
        col.Nullable = ColumnNullable(c.Db->Db, stmt, i);
        c.Columns.push_back(col);
    }
    for (int i = 1; i <= sqlite3_bind_parameter_count(stmt); ++i) {
        const char* name = sqlite3_bind_parameter_name(stmt, i);
        c.BindNames.push_back(
            name != nullptr && (name[0] == ':' || name[0] == '@' || name[0] == '$') ? Upper(name + 1) : "");
    }
}

std::vector<Row> ReadRows(sqlite3_stmt* stmt, sqlite3* db) {
    std::vector<Row> rows;
    while (true) {
        const int rc = sqlite3_step(stmt);
        if (rc == SQLITE_DONE) break;
        if (rc != SQLITE_ROW) Fail(rc == SQLITE_CONSTRAINT ? kErrConstraint : kErrSql, sqlite3_errmsg(db));
        Row row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i)
            row.push_back(kwstandin::ColumnValue(stmt, i));
        rows.push_back(std::move(row));
    }
    return rows;
}

void Compile(Cursor& c, const std::string& sql) {
    c.Sql = sql;
    c.Procedure.clear();
    c.Rows.clear();
    c.Next = 0;
    c.HasRow = false;
    std::string mapped;
    sqlite3_stmt* stmt = Prepare(c, mapped);
    std::vector<Row> peek;
    if (sqlite3_stmt_readonly(stmt) && sqlite3_column_count(stmt) > 0) {
        // Columns without a declared type take the type of the first row's value.
        try {
            peek = ReadRows(stmt, c.Db->Db);
        } catch (const CsbError&) {
        }
        sqlite3_reset(stmt);
    }
    Describe(c, stmt, &peek);
    sqlite3_finalize(stmt);
    c.Compiled = true;
}

// The value a bind stands for, as stored.
Value BindValueOf(SQLTPDT type, const void* data, SQLTPDL length, SQLTNUL indicator) {
    if (indicator < 0 || data == nullptr) return Value::Null();
    switch (type) {
        case SQLPSTR: {
            const char* p = static_cast<const char*>(data);
            const std::string text(p, strnlen(p, length));
            return text.empty() ? Value::Null() : Value::Text(text);  // an empty text is NULL
        }
        case SQLPSSH: {
            int16_t v = 0;
            std::memcpy(&v, data, 2);
            return Value::Int(v);
        }
        case SQLPUSH: {
            uint16_t v = 0;
            std::memcpy(&v, data, 2);
            return Value::Int(v);
        }
        case SQLPSLO: {
            int32_t v = 0;
            std::memcpy(&v, data, 4);
            return Value::Int(v);
        }
        case SQLPDOU: {
            double v = 0;
            std::memcpy(&v, data, 8);
            return Value::Float(v);
        }
        case SQLPDAT:
        case SQLPTIM:
        case SQLPDTM:
            return Value::Text(StoredText(LoadStamp(data, length), type));
        default:
            Fail(kErrNotSupported, "program type " + std::to_string(type));
    }
}

void CommitIfAuto(Cursor& c) {
    if (c.AutoCommit && c.Db->InTransaction) {
        Exec(c.Db->Db, "COMMIT");
        c.Db->InTransaction = false;
    }
}

// The stand-in's procedures: their bind variables (inputs first) and select items.
bool ProcedureShape(const std::string& name, std::vector<Column>& items, int& bindVariables) {
    if (name == "KW_ADD") {
        items = {Column{"SUM", SQLEINT, 4, 0, 0, true}};
        bindVariables = 3;
        return true;
    }
    if (name == "KW_GREET") {
        items = {Column{"GREETING", SQLEVAR, 80, 0, 0, true}, Column{"NAME_LEN", SQLEINT, 4, 0, 0, true}};
        bindVariables = 3;
        return true;
    }
    return false;
}

void RunProcedure(Cursor& c) {
    auto input = [&](int position) {
        auto it = c.NumberedBinds.find(position);
        return it == c.NumberedBinds.end() ? Value::Null() : it->second.Data;
    };
    Row row;
    if (c.Procedure == "KW_ADD") {
        const Value a = input(1), b = input(2);
        row.push_back(a.IsNull() || b.IsNull() ? Value::Null() : Value::Int(a.AsInteger() + b.AsInteger()));
    } else {
        const Value name = input(1);
        const std::string text = name.IsNull() ? "" : name.AsText();
        row.push_back(Value::Text("Hello, " + text));
        row.push_back(Value::Int(int64_t(text.size())));
    }
    c.Rows = {row};
    c.RowsAffected = 0;
}

// Runs the compiled statement; with describe, its columns are described from the same run.
void Execute(Cursor& c, bool describe = false) {
    if (!c.Compiled) Fail(kErrState, "nothing compiled");
    c.Rows.clear();
    c.Next = 0;
    c.HasRow = false;
    if (!c.Procedure.empty()) {
        RunProcedure(c);
        return;
    }
    std::string mapped;
    sqlite3_stmt* stmt = Prepare(c, mapped);
    struct Finalize {
        sqlite3_stmt* s;
        ~Finalize() { sqlite3_finalize(s); }
    } finalize{stmt};
    for (int i = 1; i <= sqlite3_bind_parameter_count(stmt); ++i) {
        const char* raw = sqlite3_bind_parameter_name(stmt, i);
        const std::string name = raw != nullptr && raw[0] != '?' ? Upper(raw + 1) : "";
        auto it = c.NamedBinds.find(name);
        if (it != c.NamedBinds.end())
            kwstandin::BindValue(stmt, i, it->second.Data);
        else if (auto n = c.NumberedBinds.find(i); n != c.NumberedBinds.end())
            kwstandin::BindValue(stmt, i, n->second.Data);
        else
            Fail(kErrBind, raw != nullptr ? raw : "?");
    }
    const bool writes = !sqlite3_stmt_readonly(stmt);
    // Definitions commit what is open and themselves, as the server's do.
    const std::string verb = Upper(TrimText(mapped).substr(0, 6));
    const bool ddl =
        verb.rfind("CREATE", 0) == 0 || verb.rfind("DROP", 0) == 0 || verb.rfind("ALTER", 0) == 0;
    if (ddl && c.Db->InTransaction) {
        Exec(c.Db->Db, "COMMIT");
        c.Db->InTransaction = false;
    }
    if (writes && !ddl && !c.Db->InTransaction && sqlite3_get_autocommit(c.Db->Db)) {
        Exec(c.Db->Db, "BEGIN");
        c.Db->InTransaction = true;
    }
    c.Rows = ReadRows(stmt, c.Db->Db);
    c.RowsAffected = sqlite3_column_count(stmt) > 0 ? 0 : sqlite3_changes(c.Db->Db);
    if (sqlite3_column_count(stmt) == 0) c.Rows.clear();
    if (describe) Describe(c, stmt, &c.Rows);
    CommitIfAuto(c);
}

void WriteToBuffer(const SelectBuffer& b, const Value& v) {
    SQLTFSC status = 0;
    SQLTCDL length = 0;
    if (v.IsNull()) {
        status = -1;
    } else {
        switch (b.Type) {
            case SQLPSTR: {
                const std::string text = v.AsText();
                const size_t room = b.Length > 0 ? b.Length - 1 : 0;
                const size_t n = std::min(text.size(), room);
                if (b.Length > 0) {
                    std::memcpy(b.Buffer, text.data(), n);
                    static_cast<char*>(b.Buffer)[n] = 0;
                }
                length = SQLTCDL(n);
                if (n < text.size()) status = 1;
                break;
            }
            case SQLPSSH: {
                const int16_t x = int16_t(v.AsInteger());
                std::memcpy(b.Buffer, &x, std::min<size_t>(2, b.Length));
                length = 2;
                break;
            }
            case SQLPUSH: {
                const uint16_t x = uint16_t(v.AsInteger());
                std::memcpy(b.Buffer, &x, std::min<size_t>(2, b.Length));
                length = 2;
                break;
            }
            case SQLPSLO: {
                const int32_t x = int32_t(v.AsInteger());
                std::memcpy(b.Buffer, &x, std::min<size_t>(4, b.Length));
                length = 4;
                break;
            }
            case SQLPDOU: {
                const double x = v.AsReal();
                std::memcpy(b.Buffer, &x, std::min<size_t>(8, b.Length));
                length = 8;
                break;
            }
            case SQLPDAT:
            case SQLPTIM:
            case SQLPDTM: {
                Stamp s;
                if (!StampFromStored(v.AsText(), s)) Fail(kErrDate, "stored value '" + v.AsText() + "'");
                if (b.Length < kInternalDateSize) Fail(kErrBuffer, "date buffer");
                StoreStamp(s, b.Buffer);
                length = kInternalDateSize;
                break;
            }
            default:
                Fail(kErrNotSupported, "select buffer type " + std::to_string(b.Type));
        }
    }
    if (b.CurrentLength != nullptr) std::memcpy(b.CurrentLength, &length, sizeof length);
    if (b.Status != nullptr) std::memcpy(b.Status, &status, sizeof status);
}

std::string CopyName(const char* name, SQLTDAL length) {
    if (name == nullptr) return "";
    return length == 0 ? std::string(name) : std::string(name, length);
}

const Value& CurrentValue(Cursor& c, SQLTSLC column) {
    if (!c.HasRow || c.Next == 0) Fail(kErrState, "no current row");
    const Row& row = c.Rows[c.Next - 1];
    if (column < 1 || size_t(column) > row.size()) Fail(kErrState, "no column " + std::to_string(column));
    return row[size_t(column - 1)];
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Controls

KW_EXPORT const char* KwStandinJournal() {
    return G().Journal.Text();
}

KW_EXPORT void KwStandinClearJournal() {
    G().Journal.Clear();
}

KW_EXPORT void KwCsbStandinReset() {
    Global& g = G();
    std::lock_guard<std::recursive_mutex> guard(g.Lock);
    g.Journal.Clear();
    g.Failures.Clear();
    g.RefuseInit = false;
    g.Brand = 1;
    g.Version = "7.6.0";
    g.ShortRead = 0;
}

KW_EXPORT void KwCsbStandinSetFolder(const char* folder) {
    std::lock_guard<std::recursive_mutex> guard(G().Lock);
    G().Folder = folder != nullptr ? folder : "";
}

KW_EXPORT void KwCsbStandinFail(const char* call, int code, int count) {
    G().Failures.Arm(call, code, count);
}

KW_EXPORT void KwCsbStandinRefuseInit(int refuse) {
    std::lock_guard<std::recursive_mutex> guard(G().Lock);
    G().RefuseInit = refuse != 0;
}

KW_EXPORT void KwCsbStandinSetBrand(int brand, const char* version) {
    std::lock_guard<std::recursive_mutex> guard(G().Lock);
    G().Brand = brand;
    G().Version = version != nullptr ? version : "";
}

KW_EXPORT void KwCsbStandinShortRead(int bytes) {
    std::lock_guard<std::recursive_mutex> guard(G().Lock);
    G().ShortRead = bytes;
}

KW_EXPORT int KwCsbStandinOpenCursors() {
    std::lock_guard<std::recursive_mutex> guard(G().Lock);
    return int(G().Cursors.size());
}

KW_EXPORT int KwCsbStandinInitCount() {
    std::lock_guard<std::recursive_mutex> guard(G().Lock);
    return G().InitCount;
}

// ---------------------------------------------------------------------------------------------
// The client's calls

KW_EXPORT SQLTRCD sqlini(void*) {
    std::lock_guard<std::recursive_mutex> guard(G().Lock);
    Log("sqlini");
    if (G().RefuseInit) return kErrNotSupported;
    ++G().InitCount;
    return 0;
}

KW_EXPORT SQLTRCD sqldon() {
    std::lock_guard<std::recursive_mutex> guard(G().Lock);
    Log("sqldon");
    --G().InitCount;
    return 0;
}

KW_EXPORT SQLTRCD sqlfer(SQLTRCD code, char* text) {
    if (text == nullptr) return kErrBuffer;
    std::snprintf(text, 257, "%05d %s", int(code), ErrorText(code));
    return 0;
}

KW_EXPORT SQLTRCD sqlepo(SQLTCUR cur, SQLTEPO* position) {
    std::lock_guard<std::recursive_mutex> guard(G().Lock);
    auto it = G().Cursors.find(cur);
    if (it == G().Cursors.end() || position == nullptr) return kErrCursor;
    *position = it->second->ErrorPosition;
    return 0;
}

namespace {

SQLTRCD ConnectCursor(const char* call, SQLTCUR* cur, const char* connectString, SQLTDAL length) {
    return Run(0, [&] {
        CheckFailure(call, nullptr);
        const std::string text = CopyName(connectString, length);
        Log(std::string(call) + " " + text);
        if (cur == nullptr) Fail(kErrBuffer, "no cursor cell");
        *cur = NewCursor(OpenDatabase(text, false));
    });
}

}  // namespace

KW_EXPORT SQLTRCD sqlcnc(SQLTCUR* cur, const char* connectString, SQLTDAL length) {
    return ConnectCursor("sqlcnc", cur, connectString, length);
}

KW_EXPORT SQLTRCD sqlcnr(SQLTCUR* cur, const char* connectString, SQLTDAL length) {
    return ConnectCursor("sqlcnr", cur, connectString, length);
}

KW_EXPORT SQLTRCD sqlcch(SQLTCON* connection, const char* connectString, SQLTDAL length, SQLTMOD) {
    return Run(0, [&] {
        CheckFailure("sqlcch", nullptr);
        const std::string text = CopyName(connectString, length);
        Log("sqlcch " + text);
        if (connection == nullptr) Fail(kErrBuffer, "no connection cell");
        const SQLTCON h = G().NextHandle++;
        G().Handles[h] = OpenDatabase(text, true);
        *connection = h;
    });
}

KW_EXPORT SQLTRCD sqlopc(SQLTCUR* cur, SQLTCON connection, SQLTMOD) {
    return Run(0, [&] {
        CheckFailure("sqlopc", nullptr);
        Log("sqlopc");
        auto it = G().Handles.find(connection);
        if (it == G().Handles.end()) Fail(kErrState, "no such connection handle");
        if (it->second->Broken) Fail(kCsbConnectionBroken, "the connection is broken");
        *cur = NewCursor(it->second);
    });
}

KW_EXPORT SQLTRCD sqldch(SQLTCON connection) {
    std::lock_guard<std::recursive_mutex> guard(G().Lock);
    Log("sqldch");
    return G().Handles.erase(connection) == 1 ? 0 : SQLTRCD(kErrState);
}

KW_EXPORT SQLTRCD sqldis(SQLTCUR cur) {
    std::lock_guard<std::recursive_mutex> guard(G().Lock);
    auto it = G().Cursors.find(cur);
    if (it == G().Cursors.end()) return kErrCursor;
    Log("sqldis");
    std::shared_ptr<Database> db = it->second->Db;
    G().Cursors.erase(it);
    // The last cursor of a connection commits what is left open, as a SQLBase disconnect does.
    if (--db->Cursors == 0 && db->InTransaction && !db->Broken) {
        sqlite3_exec(db->Db, "COMMIT", nullptr, nullptr, nullptr);
        db->InTransaction = false;
    }
    return 0;
}

KW_EXPORT SQLTRCD sqlset(SQLTCUR cur, SQLTPTY parameter, const void* buffer, SQLTDAL length) {
    return Run(cur, [&] {
        int32_t value = 0;
        if (buffer != nullptr) std::memcpy(&value, buffer, sizeof value);
        Log("sqlset " + std::to_string(parameter) + " " + std::to_string(value) + " " +
            std::to_string(length));
        if (cur == 0) {
            if (parameter != SQLPLRD)
                Fail(kErrCursor, "parameter " + std::to_string(parameter) + " without a cursor");
            return;
        }
        Cursor& c = Enter("sqlset", cur);
        switch (parameter) {
            case SQLPAUT:
                c.AutoCommit = value != 0;
                CommitIfAuto(c);
                break;
            case SQLPCTI:
            case SQLPTMO:
            case SQLPCCB:
            case SQLPNPB:
                break;
            default:
                Fail(kErrNotSupported, "parameter " + std::to_string(parameter));
        }
    });
}

KW_EXPORT SQLTRCD sqlget(SQLTCUR cur, SQLTPTY parameter, void* buffer, SQLTDAL* length) {
    return Run(cur, [&] {
        Cursor& c = Enter("sqlget", cur);
        if (buffer == nullptr || length == nullptr) Fail(kErrBuffer, "no buffer");
        Log("sqlget " + std::to_string(parameter));
        auto text = [&](const std::string& t) {
            if (*length < t.size() + 1) Fail(kErrBuffer, "parameter text");
            std::memcpy(buffer, t.c_str(), t.size() + 1);
            *length = SQLTDAL(t.size());
        };
        switch (parameter) {
            case SQLPBRN: {
                if (*length < 4) Fail(kErrBuffer, "brand");
                std::memcpy(buffer, &G().Brand, 4);
                *length = 4;
                break;
            }
            case SQLPVER:
                text(G().Version);
                break;
            case SQLPAUT: {
                const int32_t v = c.AutoCommit ? 1 : 0;
                if (*length < 4) Fail(kErrBuffer, "auto-commit");
                std::memcpy(buffer, &v, 4);
                *length = 4;
                break;
            }
            default:
                Fail(kErrNotSupported, "parameter " + std::to_string(parameter));
        }
    });
}

KW_EXPORT SQLTRCD sqlsil(SQLTCUR cur, const char* isolation) {
    return Run(cur, [&] {
        Enter("sqlsil", cur);
        const std::string code = isolation != nullptr ? isolation : "";
        Log("sqlsil " + code);
        if (code != "RL" && code != "CS" && code != "RR" && code != "RO")
            Fail(kErrNotSupported, "isolation " + code);
    });
}

KW_EXPORT SQLTRCD sqlcmt(SQLTCUR cur) {
    return Run(cur, [&] {
        Cursor& c = Enter("sqlcmt", cur);
        Log("sqlcmt");
        if (c.Db->InTransaction) Exec(c.Db->Db, "COMMIT");
        c.Db->InTransaction = false;
    });
}

KW_EXPORT SQLTRCD sqlrbk(SQLTCUR cur) {
    return Run(cur, [&] {
        Cursor& c = Enter("sqlrbk", cur);
        Log("sqlrbk");
        if (c.Db->InTransaction) Exec(c.Db->Db, "ROLLBACK");
        c.Db->InTransaction = false;
    });
}

KW_EXPORT SQLTRCD sqlsrs(SQLTCUR cur) {
    return Run(cur, [&] { Enter("sqlsrs", cur); });
}

KW_EXPORT SQLTRCD sqlspr(SQLTCUR cur) {
    return Run(cur, [&] { Enter("sqlspr", cur); });
}

KW_EXPORT SQLTRCD sqlcom(SQLTCUR cur, const char* sql, SQLTDAL length) {
    return Run(cur, [&] {
        Cursor& c = Enter("sqlcom", cur);
        const std::string text = CopyName(sql, length);
        Log("sqlcom " + text);
        c.NamedBinds.clear();
        c.NumberedBinds.clear();
        c.Buffers.clear();
        Compile(c, text);
    });
}

KW_EXPORT SQLTRCD sqlcex(SQLTCUR cur, const char* sql, SQLTDAL length) {
    return Run(cur, [&] {
        Cursor& c = Enter("sqlcex", cur);
        const std::string text = CopyName(sql, length);
        Log("sqlcex " + text);
        c.NamedBinds.clear();
        c.NumberedBinds.clear();
        c.Buffers.clear();
        c.Sql = text;
        c.Procedure.clear();
        c.Compiled = true;
        Execute(c, true);
    });
}

KW_EXPORT SQLTRCD sqlret(SQLTCUR cur, const char* name, SQLTDAL length) {
    return Run(cur, [&] {
        Cursor& c = Enter("sqlret", cur);
        const std::string procedure = Upper(TrimText(CopyName(name, length)));
        Log("sqlret " + procedure);
        int bindVariables = 0;
        std::vector<Column> items;
        if (!ProcedureShape(procedure, items, bindVariables)) Fail(kErrProcedure, procedure);
        c.Procedure = procedure;
        c.Sql.clear();
        c.Columns = items;
        c.BindNames.assign(size_t(bindVariables), "");
        c.NamedBinds.clear();
        c.NumberedBinds.clear();
        c.Buffers.clear();
        c.Rows.clear();
        c.Compiled = true;
    });
}

KW_EXPORT SQLTRCD sqlexe(SQLTCUR cur) {
    return Run(cur, [&] {
        Cursor& c = Enter("sqlexe", cur);
        Log("sqlexe");
        Execute(c);
    });
}

KW_EXPORT SQLTRCD sqlnsi(SQLTCUR cur, SQLTNSI* count) {
    return Run(cur, [&] {
        Cursor& c = Enter("sqlnsi", cur);
        *count = SQLTNSI(c.Columns.size());
    });
}

KW_EXPORT SQLTRCD sqlnbv(SQLTCUR cur, SQLTNBV* count) {
    return Run(cur, [&] {
        Cursor& c = Enter("sqlnbv", cur);
        *count = SQLTNBV(c.BindNames.size());
    });
}

KW_EXPORT SQLTRCD sqldsc(SQLTCUR cur, SQLTSLC column, SQLTDDT* type, SQLTDDL* length, char* name,
                         SQLTCHL* nameLength, SQLTPRE* precision, SQLTSCA* scale) {
    return Run(cur, [&] {
        Cursor& c = Enter("sqldsc", cur);
        if (column < 1 || size_t(column) > c.Columns.size())
            Fail(kErrState, "no column " + std::to_string(column));
        const Column& col = c.Columns[size_t(column - 1)];
        if (type != nullptr) *type = col.Type;
        if (length != nullptr) *length = col.Length;
        if (precision != nullptr) *precision = col.Precision;
        if (scale != nullptr) *scale = col.Scale;
        if (name != nullptr && nameLength != nullptr) {
            // The caller says how much room the name has; it learns the whole length.
            const size_t n = std::min<size_t>(col.Name.size(), *nameLength);
            std::memcpy(name, col.Name.data(), n);
            if (n < *nameLength) name[n] = 0;
            *nameLength = SQLTCHL(col.Name.size());
        }
    });
}

KW_EXPORT SQLTRCD sqlgdi(SQLTCUR cur, gdidef* info) {
    return Run(cur, [&] {
        Cursor& c = Enter("sqlgdi", cur);
        uint16_t column = 0;
        std::memcpy(&column, info->Bytes + kGdiColumn, 2);
        if (column < 1 || size_t(column) > c.Columns.size())
            Fail(kErrState, "no column " + std::to_string(column));
        const Column& col = c.Columns[size_t(column - 1)];
        std::memset(info->Bytes, 0, sizeof info->Bytes);
        std::memcpy(info->Bytes, col.Name.data(), std::min<size_t>(col.Name.size(), 63));
        std::memcpy(info->Bytes + kGdiColumn, &column, 2);
        info->Bytes[kGdiNullable] = col.Nullable ? 1 : 0;
    });
}

KW_EXPORT SQLTRCD sqlbna(SQLTCUR cur, const char* name, SQLTDAL nameLength, const void* data, SQLTPDL length,
                         SQLTSCA, SQLTPDT type, SQLTNUL indicator) {
    return Run(cur, [&] {
        Cursor& c = Enter("sqlbna", cur);
        const std::string bind = Upper(CopyName(name, nameLength));
        Log("sqlbna " + bind + " " + std::to_string(type) + " " + std::to_string(length) + " " +
            std::to_string(indicator));
        if (std::find(c.BindNames.begin(), c.BindNames.end(), bind) == c.BindNames.end())
            Fail(kErrBind, bind);
        c.NamedBinds[bind] = Bind{type, BindValueOf(type, data, length, indicator)};
    });
}

KW_EXPORT SQLTRCD sqlbnu(SQLTCUR cur, SQLTBNP position, const void* data, SQLTPDL length, SQLTSCA,
                         SQLTPDT type, SQLTNUL indicator) {
    return Run(cur, [&] {
        Cursor& c = Enter("sqlbnu", cur);
        Log("sqlbnu " + std::to_string(position) + " " + std::to_string(type) + " " + std::to_string(length) +
            " " + std::to_string(indicator));
        if (position < 1 || size_t(position) > c.BindNames.size()) Fail(kErrBind, std::to_string(position));
        c.NumberedBinds[position] = Bind{type, BindValueOf(type, data, length, indicator)};
    });
}

KW_EXPORT SQLTRCD sqlbld(SQLTCUR cur, const char* name, SQLTDAL length) {
    return Run(cur, [&] {
        Cursor& c = Enter("sqlbld", cur);
        const std::string bind = Upper(CopyName(name, length));
        Log("sqlbld " + bind);
        if (std::find(c.BindNames.begin(), c.BindNames.end(), bind) == c.BindNames.end())
            Fail(kErrBind, bind);
        c.LongWrite = true;
        c.LongName = bind;
        c.LongNumber = 0;
        c.LongData.clear();
    });
}

KW_EXPORT SQLTRCD sqlbln(SQLTCUR cur, SQLTBNP position) {
    return Run(cur, [&] {
        Cursor& c = Enter("sqlbln", cur);
        Log("sqlbln " + std::to_string(position));
        if (position < 1 || size_t(position) > c.BindNames.size()) Fail(kErrBind, std::to_string(position));
        c.LongWrite = true;
        c.LongName.clear();
        c.LongNumber = position;
        c.LongData.clear();
    });
}

KW_EXPORT SQLTRCD sqlwlo(SQLTCUR cur, const void* data, SQLTDAL length) {
    return Run(cur, [&] {
        Cursor& c = Enter("sqlwlo", cur);
        Log("sqlwlo " + std::to_string(length));
        if (!c.LongWrite) Fail(kErrState, "no long bind");
        c.LongData.append(static_cast<const char*>(data), length);
    });
}

KW_EXPORT SQLTRCD sqlelo(SQLTCUR cur) {
    return Run(cur, [&] {
        Cursor& c = FindCursor(cur);
        Log("sqlelo");
        if (c.LongWrite) {
            const Value v = c.LongData.empty() ? Value::Null() : Value::Blob(c.LongData);
            if (c.LongNumber > 0)
                c.NumberedBinds[c.LongNumber] = Bind{SQLPLBI, v};
            else
                c.NamedBinds[c.LongName] = Bind{SQLPLBI, v};
        }
        c.LongWrite = false;
        c.LongColumn = 0;
        c.LongData.clear();
        CheckFailure("sqlelo", c.Db.get());
    });
}

KW_EXPORT SQLTRCD sqlssb(SQLTCUR cur, SQLTSLC column, SQLTPDT type, void* buffer, SQLTPDL length, SQLTSCA,
                         SQLTCDL* currentLength, SQLTFSC* status) {
    return Run(cur, [&] {
        Cursor& c = Enter("sqlssb", cur);
        if (column < 1 || size_t(column) > c.Columns.size())
            Fail(kErrState, "no column " + std::to_string(column));
        if (c.Buffers.size() < c.Columns.size()) c.Buffers.resize(c.Columns.size());
        c.Buffers[size_t(column - 1)] = SelectBuffer{type, buffer, length, currentLength, status};
    });
}

KW_EXPORT SQLTRCD sqlfet(SQLTCUR cur) {
    std::lock_guard<std::recursive_mutex> guard(G().Lock);
    SQLTRCD result = 0;
    const SQLTRCD rc = Run(cur, [&] {
        Cursor& c = Enter("sqlfet", cur);
        Log("sqlfet");
        if (c.Next >= c.Rows.size()) {
            c.HasRow = false;
            result = kFetchEnd;
            return;
        }
        const Row& row = c.Rows[c.Next++];
        c.HasRow = true;
        for (size_t i = 0; i < c.Buffers.size() && i < row.size(); ++i)
            if (c.Buffers[i].Buffer != nullptr) WriteToBuffer(c.Buffers[i], row[i]);
    });
    return rc != 0 ? rc : result;
}

KW_EXPORT SQLTRCD sqlgls(SQLTCUR cur, SQLTSLC column, SQLTLSI* size) {
    return Run(cur, [&] {
        Cursor& c = Enter("sqlgls", cur);
        const Value& v = CurrentValue(c, column);
        *size = v.IsNull() ? 0 : SQLTLSI(v.AsText().size());
        Log("sqlgls " + std::to_string(column) + " " + std::to_string(*size));
    });
}

KW_EXPORT SQLTRCD sqllsk(SQLTCUR cur, SQLTSLC column, SQLTLSI position) {
    return Run(cur, [&] {
        Cursor& c = Enter("sqllsk", cur);
        CurrentValue(c, column);
        if (position < 1) Fail(kErrState, "long positions count from 1");
        c.LongColumn = column;
        c.LongPosition = position - 1;
    });
}

KW_EXPORT SQLTRCD sqlrlo(SQLTCUR cur, SQLTSLC column, void* buffer, SQLTDAL length, SQLTDAL* read) {
    return Run(cur, [&] {
        Cursor& c = Enter("sqlrlo", cur);
        const std::string bytes = CurrentValue(c, column).AsText();
        if (c.LongColumn != column) {
            c.LongColumn = column;
            c.LongPosition = 0;
        }
        size_t n = std::min<size_t>(length, bytes.size() - std::min(c.LongPosition, bytes.size()));
        if (G().ShortRead > 0 && n > 0) n = n > size_t(G().ShortRead) ? n - size_t(G().ShortRead) : 1;
        std::memcpy(buffer, bytes.data() + c.LongPosition, n);
        c.LongPosition += n;
        *read = SQLTDAL(n);
        Log("sqlrlo " + std::to_string(length) + " " + std::to_string(n));
    });
}

KW_EXPORT SQLTRCD sqlcty(SQLTCUR cur, SQLTCTY* type) {
    return Run(cur, [&] {
        Cursor& c = Enter("sqlcty", cur);
        *type = c.Columns.empty() ? SQLTCTY(2) : SQLTSELECT;
    });
}

KW_EXPORT SQLTRCD sqlrow(SQLTCUR cur, SQLTROW* rows) {
    return Run(cur, [&] {
        Cursor& c = Enter("sqlrow", cur);
        *rows = c.RowsAffected;
    });
}

KW_EXPORT SQLTRCD sqlcbv(SQLTCUR cur) {
    return Run(cur, [&] {
        Cursor& c = Enter("sqlcbv", cur);
        Log("sqlcbv");
        c.NamedBinds.clear();
        c.NumberedBinds.clear();
    });
}

KW_EXPORT SQLTRCD sqlxpd(void* value, SQLTDAL* valueLength, const char* text, const char* picture,
                         SQLTPDL pictureLength) {
    return Run(0, [&] {
        const std::string t = text != nullptr ? text : "";
        const std::string p = CopyName(picture, pictureLength);
        Log("sqlxpd " + t + " | " + p);
        if (valueLength == nullptr || *valueLength < kInternalDateSize) Fail(kErrBuffer, "internal value");
        StoreStamp(ParsePictureText(t, p), value);
        *valueLength = kInternalDateSize;
    });
}

KW_EXPORT SQLTRCD sqlxdp(char* text, SQLTPDL textLength, const void* value, SQLTDAL valueLength,
                         const char* picture, SQLTPDL pictureLength) {
    return Run(0, [&] {
        const std::string p = CopyName(picture, pictureLength);
        const std::string out = FormatPicture(LoadStamp(value, valueLength), p);
        Log("sqlxdp " + out + " | " + p);
        if (out.size() + 1 > textLength) Fail(kErrBuffer, "picture text");
        std::memcpy(text, out.c_str(), out.size() + 1);
    });
}

// The entries the driver only binds answer that they are not supported.
#define KW_CSB_STUB_Bound(name)  \
    KW_EXPORT SQLTRCD name() {   \
        return kErrNotSupported; \
    }
#define KW_CSB_STUB_Called(name)
#define KW_CSB_STUB_Version7(name)
#define KW_CSB_STUB(name, ret, params, kind) KW_CSB_STUB_##kind(name)
KW_CSB_ENTRY_POINTS(KW_CSB_STUB)
#undef KW_CSB_STUB
