// tests/database/standin/KwOciStandinCore.cpp: the Oracle client stand-in's connections,
// statements, values, LOBs and routines (tests only). See KwOciStandin.h.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <tuple>

#include "database/standin/KwOciStandin.h"

namespace kwoci {

using kwstandin::DateTimeParts;
using kwstandin::SameText;
using kwstandin::TrimText;
using kwstandin::Upper;

Global& G() {
    static Global global;  // the library's own: gone when the library is unloaded
    return global;
}

Global::~Global() {
    // Handles the caller never freed go with the library.
    std::vector<Object*> left(Live.begin(), Live.end());
    for (Object* o : left)
        delete o;
}

void Journal(const std::string& line) {
    G().Journal.Add(line);
}

std::string Hex(const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

std::string Num(long long value) {
    return std::to_string(value);
}

std::string TextOf(const OraText* text, long length) {
    if (text == nullptr) return "";
    const char* p = reinterpret_cast<const char*>(text);
    return length < 0 ? std::string(p) : std::string(p, size_t(length));
}

bool HasMarker(const std::string& text, const std::string& name) {
    const std::string upper = Upper(text);
    const std::string key = ":" + Upper(name);
    char quote = 0;
    for (size_t i = 0; i < upper.size(); ++i) {
        const char c = upper[i];
        if (quote != 0) {
            if (c == quote) quote = 0;
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
            continue;
        }
        if (upper.compare(i, key.size(), key) != 0) continue;
        const size_t end = i + key.size();
        if (end >= upper.size() || !(std::isalnum(static_cast<unsigned char>(upper[end])) || upper[end] == '_'))
            return true;
    }
    return false;
}

void Throw(int code, const std::string& detail) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "ORA-%05d: ", code);
    throw OraError{code, prefix + detail};
}

Object::~Object() {
    G().Live.erase(this);
    G().Owned.erase(this);
}

bool IsLive(const void* p) {
    auto* o = static_cast<Object*>(const_cast<void*>(p));
    return p != nullptr && (G().Live.count(o) != 0 || G().Owned.count(o) != 0);
}

void Destroy(Object* o) {
    delete o;
}

Connection::~Connection() {
    if (Db != nullptr) sqlite3_close_v2(Db);
}

BindSlot* Statement::FindBind(const std::string& name) {
    const std::string key = Upper(name);
    for (auto& b : Binds)
        if (b->Name == key) return b.get();
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// SQL functions the driver's statements use

namespace {

bool SameSqlValue(sqlite3_value* a, sqlite3_value* b) {
    const int ta = sqlite3_value_type(a), tb = sqlite3_value_type(b);
    if (ta == SQLITE_NULL || tb == SQLITE_NULL) return ta == tb;  // DECODE matches a null with a null
    if ((ta == SQLITE_INTEGER || ta == SQLITE_FLOAT) && (tb == SQLITE_INTEGER || tb == SQLITE_FLOAT))
        return sqlite3_value_double(a) == sqlite3_value_double(b);
    const int na = sqlite3_value_bytes(a), nb = sqlite3_value_bytes(b);
    return na == nb && std::memcmp(sqlite3_value_text(a), sqlite3_value_text(b), size_t(na)) == 0;
}

void DecodeFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (argc < 3) {
        sqlite3_result_error(ctx, "DECODE needs at least three arguments", -1);
        return;
    }
    int i = 1;
    for (; i + 1 < argc; i += 2)
        if (SameSqlValue(argv[0], argv[i])) {
            sqlite3_result_value(ctx, argv[i + 1]);
            return;
        }
    if (i < argc)
        sqlite3_result_value(ctx, argv[i]);
    else
        sqlite3_result_null(ctx);
}

void NvlFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    sqlite3_result_value(ctx, sqlite3_value_type(argv[0]) == SQLITE_NULL ? argv[1] : argv[0]);
}

void EmptyBlobFunction(sqlite3_context* ctx, int, sqlite3_value**) {
    sqlite3_result_zeroblob(ctx, 0);
}

void EmptyClobFunction(sqlite3_context* ctx, int, sqlite3_value**) {
    sqlite3_result_text(ctx, "", 0, SQLITE_STATIC);
}

void Exec(sqlite3* db, const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message != nullptr ? message : "SQLite failure";
        sqlite3_free(message);
        Throw(20000, text + " (" + sql + ")");
    }
}

std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

int MapSqliteError(sqlite3* db, int rc, std::string& message) {
    message = sqlite3_errmsg(db);
    const int extended = sqlite3_extended_errcode(db);
    if ((rc & 0xFF) == SQLITE_CONSTRAINT) {
        if (extended == SQLITE_CONSTRAINT_NOTNULL) return 1400;
        if (extended == SQLITE_CONSTRAINT_UNIQUE || extended == SQLITE_CONSTRAINT_PRIMARYKEY) return 1;
        return 2290;
    }
    if (message.find("no such table") != std::string::npos) return 942;
    if (message.find("no such column") != std::string::npos) return 904;
    if (message.find("already exists") != std::string::npos) return 955;
    if (message.find("syntax error") != std::string::npos || message.find("incomplete input") != std::string::npos)
        return 900;
    if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED) return 54;
    return 20000;
}

[[noreturn]] void ThrowSqlite(sqlite3* db, int rc) {
    std::string message;
    const int code = MapSqliteError(db, rc, message);
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "ORA-%05d: ", code);
    throw OraError{code, prefix + message, sqlite3_error_offset(db)};
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Connections

std::unique_ptr<Connection> OpenConnection(const std::string& path) {
    if (TrimText(path).empty()) Throw(12162, "the remote database is not given");
    auto conn = std::make_unique<Connection>();
    if (sqlite3_open_v2(path.c_str(), &conn->Db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
        Throw(12154, "cannot open the database " + path);
    conn->Path = path;
    conn->TimeZone = G().TimeZone;
    sqlite3_busy_timeout(conn->Db, 5000);
    sqlite3_extended_result_codes(conn->Db, 1);
    Exec(conn->Db, "pragma journal_mode=wal; pragma case_sensitive_like=on");
    sqlite3_create_function_v2(conn->Db, "decode", -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, DecodeFunction,
                               nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(conn->Db, "nvl", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, NvlFunction, nullptr,
                               nullptr, nullptr);
    sqlite3_create_function_v2(conn->Db, "empty_blob", 0, SQLITE_UTF8, nullptr, EmptyBlobFunction, nullptr, nullptr,
                               nullptr);
    sqlite3_create_function_v2(conn->Db, "empty_clob", 0, SQLITE_UTF8, nullptr, EmptyClobFunction, nullptr, nullptr,
                               nullptr);
    return conn;
}

bool InjectedFailure(const char* call, Connection* conn, OraError& error) {
    if (conn != nullptr && conn->Broken) {
        char text[96];
        std::snprintf(text, sizeof text, "ORA-%05d: the connection to the server was lost", conn->BrokenCode);
        error = OraError{conn->BrokenCode, text};
        return true;
    }
    int code = 0;
    if (!G().Failures.Take(call, code)) return false;
    char text[96];
    std::snprintf(text, sizeof text, "ORA-%05d: failure asked for by the test in %s", code, call);
    error = OraError{code, text};
    if (conn != nullptr && (code == kOraEndOfFileOnChannel || code == kOraTnsSendFailure)) {
        conn->Broken = true;
        conn->BrokenCode = code;
    }
    Journal(std::string("failed ") + call + " with " + std::to_string(code));
    return true;
}

int StatusOverride(const char* call) {
    auto it = G().StatusOverrides.find(call);
    if (it == G().StatusOverrides.end()) return 0;
    const int status = it->second;
    G().StatusOverrides.erase(it);
    return status;
}

void BeginSession(Connection& conn, const std::string& user) {
    conn.User = Upper(TrimText(user));
    if (conn.User.empty()) conn.User = "EXTERNAL";
    const std::string version = G().ServerVersion;
    Exec(conn.Db,
         "create temp table if not exists DUAL (DUMMY VARCHAR2(1), SESSIONTIMEZONE VARCHAR2(6)); delete from temp.DUAL; "
         "insert into temp.DUAL values ('X', " +
             Quote(conn.TimeZone) +
             "); create temp table if not exists PRODUCT_COMPONENT_VERSION (PRODUCT VARCHAR2(64), VERSION "
             "VARCHAR2(64), STATUS VARCHAR2(64)); delete from temp.PRODUCT_COMPONENT_VERSION; insert into "
             "temp.PRODUCT_COMPONENT_VERSION values ('NLSRTL ', " +
             Quote(version) + ", 'Production'), ('Oracle Database Server ', " + Quote(version) + ", 'Production')");
    conn.SessionBegun = true;
}

void Commit(Connection& conn) {
    if (conn.InTransaction) Exec(conn.Db, "commit");
    conn.InTransaction = false;
    conn.ReadOnly = false;
    ++conn.TransactionSerial;
}

void Rollback(Connection& conn) {
    if (conn.InTransaction) Exec(conn.Db, "rollback");
    conn.InTransaction = false;
    conn.ReadOnly = false;
    ++conn.TransactionSerial;
}

// ---------------------------------------------------------------------------------------------
// The catalog views, filled from SQLite's own catalog

namespace {

struct TableInfo {
    std::string Name;
    std::string Type;  // TABLE or VIEW
};

std::vector<TableInfo> UserTables(sqlite3* db) {
    std::vector<TableInfo> out;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db,
                       "select name, type from main.sqlite_master where type in ('table', 'view') and name not like "
                       "'sqlite%' order by name",
                       -1, &st, nullptr);
    while (st != nullptr && sqlite3_step(st) == SQLITE_ROW)
        out.push_back({reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
                       Upper(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)))});
    sqlite3_finalize(st);
    return out;
}

void RefreshCatalog(Connection& conn) {
    sqlite3* db = conn.Db;
    const std::string user = Quote(conn.User);
    std::string sql =
        "drop table if exists temp.ALL_OBJECTS; drop table if exists temp.ALL_TAB_COLUMNS; drop table if exists "
        "temp.ALL_INDEXES; drop table if exists temp.ALL_IND_COLUMNS; drop table if exists temp.ALL_CONSTRAINTS; drop "
        "table if exists temp.ALL_CONS_COLUMNS;"
        "create temp table ALL_OBJECTS (OWNER VARCHAR2(30), OBJECT_NAME VARCHAR2(128), OBJECT_TYPE VARCHAR2(19));"
        "create temp table ALL_TAB_COLUMNS (OWNER VARCHAR2(30), TABLE_NAME VARCHAR2(128), COLUMN_NAME VARCHAR2(128), "
        "COLUMN_ID NUMBER(10), DATA_TYPE VARCHAR2(106), DATA_LENGTH NUMBER(10), DATA_PRECISION NUMBER(10), DATA_SCALE "
        "NUMBER(10), NULLABLE VARCHAR2(1), DATA_DEFAULT LONG);"
        "create temp table ALL_INDEXES (OWNER VARCHAR2(30), INDEX_NAME VARCHAR2(128), TABLE_OWNER VARCHAR2(30), "
        "TABLE_NAME VARCHAR2(128), UNIQUENESS VARCHAR2(9));"
        "create temp table ALL_IND_COLUMNS (INDEX_OWNER VARCHAR2(30), INDEX_NAME VARCHAR2(128), TABLE_OWNER "
        "VARCHAR2(30), TABLE_NAME VARCHAR2(128), COLUMN_NAME VARCHAR2(128), COLUMN_POSITION NUMBER(10));"
        "create temp table ALL_CONSTRAINTS (OWNER VARCHAR2(30), CONSTRAINT_NAME VARCHAR2(128), CONSTRAINT_TYPE "
        "VARCHAR2(1), TABLE_NAME VARCHAR2(128));"
        "create temp table ALL_CONS_COLUMNS (OWNER VARCHAR2(30), CONSTRAINT_NAME VARCHAR2(128), TABLE_NAME "
        "VARCHAR2(128), COLUMN_NAME VARCHAR2(128), POSITION NUMBER(10));"
        "insert into temp.ALL_OBJECTS values ('SYS', 'DUAL', 'TABLE'), ('SYS', 'ALL_OBJECTS', 'VIEW');";
    for (const Routine& r : Routines()) {
        if (r.Package.empty())
            sql += "insert into temp.ALL_OBJECTS values (" + user + ", " + Quote(r.Name) + ", " +
                   Quote(r.Function ? "FUNCTION" : "PROCEDURE") + ");";
    }
    sql += "insert into temp.ALL_OBJECTS values (" + user + ", 'KW_PKG', 'PACKAGE');";
    for (const TableInfo& t : UserTables(db)) {
        const std::string table = Quote(Upper(t.Name));
        sql += "insert into temp.ALL_OBJECTS values (" + user + ", " + table + ", " + Quote(t.Type) + ");";
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, ("select cid, name, type, \"notnull\", dflt_value, pk from pragma_table_info(" +
                                Quote(t.Name) + ")")
                                   .c_str(),
                           -1, &st, nullptr);
        std::vector<std::pair<int, std::string>> key;
        while (st != nullptr && sqlite3_step(st) == SQLITE_ROW) {
            const std::string column = Upper(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
            const kwstandin::DeclaredType d =
                kwstandin::ParseDeclaredType(reinterpret_cast<const char*>(sqlite3_column_text(st, 2)));
            const bool notNull = sqlite3_column_int(st, 3) != 0 || sqlite3_column_int(st, 5) != 0;
            const char* def = reinterpret_cast<const char*>(sqlite3_column_text(st, 4));
            sql += "insert into temp.ALL_TAB_COLUMNS values (" + user + ", " + table + ", " + Quote(column) + ", " +
                   std::to_string(sqlite3_column_int(st, 0) + 1) + ", " + Quote(d.Name) + ", " +
                   std::to_string(d.Length > 0 ? d.Length : 22) + ", " +
                   (d.Name == "NUMBER" && d.Length > 0 ? std::to_string(d.Length) : "null") + ", " +
                   (d.Name == "NUMBER" && d.Scale >= 0 ? std::to_string(d.Scale) : "null") + ", " +
                   Quote(notNull ? "N" : "Y") + ", " + (def != nullptr ? Quote(def) : "null") + ");";
            if (sqlite3_column_int(st, 5) > 0) key.emplace_back(sqlite3_column_int(st, 5), column);
        }
        sqlite3_finalize(st);
        if (!key.empty()) {
            std::sort(key.begin(), key.end());
            const std::string constraint = Quote("PK_" + Upper(t.Name));
            sql += "insert into temp.ALL_CONSTRAINTS values (" + user + ", " + constraint + ", 'P', " + table + ");";
            for (const auto& [position, column] : key)
                sql += "insert into temp.ALL_CONS_COLUMNS values (" + user + ", " + constraint + ", " + table + ", " +
                       Quote(column) + ", " + std::to_string(position) + ");";
        }
        sqlite3_prepare_v2(db, ("select name, \"unique\", origin from pragma_index_list(" + Quote(t.Name) + ")").c_str(),
                           -1, &st, nullptr);
        // The primary key's index carries the constraint's name, as the server names it.
        std::vector<std::tuple<std::string, bool, std::string>> indexes;
        while (st != nullptr && sqlite3_step(st) == SQLITE_ROW) {
            const std::string index = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
            const bool primary = std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 2))) == "pk";
            indexes.emplace_back(index, sqlite3_column_int(st, 1) != 0, primary ? "PK_" + Upper(t.Name) : Upper(index));
        }
        sqlite3_finalize(st);
        for (const auto& [index, unique, shown] : indexes) {
            const std::string name = Quote(shown);
            sql += "insert into temp.ALL_INDEXES values (" + user + ", " + name + ", " + user + ", " + table + ", " +
                   Quote(unique ? "UNIQUE" : "NONUNIQUE") + ");";
            sqlite3_prepare_v2(db, ("select seqno, name from pragma_index_info(" + Quote(index) + ")").c_str(), -1, &st,
                               nullptr);
            while (st != nullptr && sqlite3_step(st) == SQLITE_ROW)
                sql += "insert into temp.ALL_IND_COLUMNS values (" + user + ", " + name + ", " + user + ", " + table +
                       ", " + Quote(Upper(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)))) + ", " +
                       std::to_string(sqlite3_column_int(st, 0) + 1) + ");";
            sqlite3_finalize(st);
        }
    }
    Exec(db, sql);
}

// ---------------------------------------------------------------------------------------------
// Statement texts

std::string FirstWord(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (std::isspace(static_cast<unsigned char>(text[i])) || text[i] == '(')) ++i;
    size_t j = i;
    while (j < text.size() && (std::isalnum(static_cast<unsigned char>(text[j])) || text[j] == '_')) ++j;
    return Upper(text.substr(i, j - i));
}

void ReplaceNoCase(std::string& text, const std::string& from, const std::string& to) {
    const std::string key = Upper(from);
    for (size_t at = Upper(text).find(key); at != std::string::npos; at = Upper(text).find(key, at + to.size()))
        text.replace(at, from.size(), to);
}

bool IsWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '#';
}

// The position of a whole key word outside quotes, searching backwards from the end; npos.
size_t FindLastWord(const std::string& text, const std::string& word) {
    const std::string upper = Upper(text);
    std::vector<bool> quoted(text.size(), false);
    char quote = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (quote != 0) {
            quoted[i] = true;
            if (text[i] == quote) quote = 0;
        } else if (text[i] == '\'' || text[i] == '"') {
            quote = text[i];
            quoted[i] = true;
        }
    }
    for (size_t at = upper.rfind(word); at != std::string::npos; at = at == 0 ? std::string::npos : upper.rfind(word, at - 1)) {
        const bool before = at == 0 || !IsWordChar(text[at - 1]);
        const bool after = at + word.size() >= text.size() || !IsWordChar(text[at + word.size()]);
        if (before && after && !quoted[at]) return at;
        if (at == 0) break;
    }
    return std::string::npos;
}

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i)
        if (i == text.size() || text[i] == ',') {
            std::string item = TrimText(text.substr(start, i - start));
            if (!item.empty() && item[0] == ':') item.erase(0, 1);
            out.push_back(Upper(item));
            start = i + 1;
        }
    return out;
}

std::string IdentifierAfter(const std::string& text, const std::string& word) {
    const size_t at = Upper(text).find(word);
    if (at == std::string::npos) return "";
    size_t i = at + word.size();
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    size_t j = i;
    while (j < text.size() && (IsWordChar(text[j]) || text[j] == '.' || text[j] == '"')) ++j;
    std::string name = text.substr(i, j - i);
    name.erase(std::remove(name.begin(), name.end(), '"'), name.end());
    return name;
}

// "begin [:R := ] NAME [(A => :A, ...)]; end;"
bool ParseCallBlock(const std::string& text, CallBlock& call) {
    std::string t = TrimText(text);
    const std::string upper = Upper(t);
    if (upper.rfind("BEGIN", 0) != 0) return false;
    const size_t end = FindLastWord(t, "END");
    if (end == std::string::npos) return false;
    std::string body = TrimText(t.substr(5, end - 5));
    while (!body.empty() && (body.back() == ';' || std::isspace(static_cast<unsigned char>(body.back())))) body.pop_back();
    const size_t assign = body.find(":=");
    if (assign != std::string::npos) {
        std::string holder = TrimText(body.substr(0, assign));
        if (holder.empty() || holder[0] != ':') return false;
        call.ResultHolder = Upper(holder.substr(1));
        body = TrimText(body.substr(assign + 2));
    }
    const size_t open = body.find('(');
    call.Routine = Upper(TrimText(body.substr(0, open)));
    if (call.Routine.empty()) return false;
    if (open != std::string::npos) {
        const size_t close = body.rfind(')');
        if (close == std::string::npos || close < open) return false;
        for (const std::string& item : SplitList(body.substr(open + 1, close - open - 1))) {
            const size_t arrow = item.find("=>");
            if (arrow == std::string::npos) return false;
            std::string holder = TrimText(item.substr(arrow + 2));
            if (!holder.empty() && holder[0] == ':') holder.erase(0, 1);
            call.Args.emplace_back(TrimText(item.substr(0, arrow)), Upper(holder));
        }
    }
    return true;
}

}  // namespace

void PrepareStatement(Statement& stmt, const std::string& text) {
    stmt.Text = text;
    stmt.Sql.clear();
    stmt.Binds.clear();
    stmt.Defines.clear();
    stmt.Columns.clear();
    stmt.ColumnParams.clear();
    stmt.Rows.clear();
    stmt.Next = 0;
    stmt.Current = nullptr;
    stmt.Executed = false;
    stmt.RowCount = 0;
    stmt.ParseOffset = -1;
    stmt.ReturningColumns.clear();
    stmt.ReturningHolders.clear();
    stmt.Table.clear();
    stmt.Call = CallBlock();
    const std::string word = FirstWord(text);
    static const std::map<std::string, ub2> types = {
        {"SELECT", OCI_STMT_SELECT}, {"WITH", OCI_STMT_SELECT}, {"UPDATE", OCI_STMT_UPDATE},
        {"DELETE", OCI_STMT_DELETE}, {"INSERT", OCI_STMT_INSERT}, {"CREATE", OCI_STMT_CREATE},
        {"DROP", OCI_STMT_DROP},     {"ALTER", OCI_STMT_ALTER},   {"BEGIN", OCI_STMT_BEGIN},
        {"DECLARE", OCI_STMT_DECLARE},
    };
    auto it = types.find(word);
    stmt.Type = it != types.end() ? it->second : 0;
    if (word == "SET") {
        stmt.What = Action::SetTransaction;
        return;
    }
    if (stmt.Type == OCI_STMT_BEGIN || stmt.Type == OCI_STMT_DECLARE) {
        stmt.What = ParseCallBlock(text, stmt.Call) ? Action::Call : Action::None;
        return;
    }
    stmt.What = Action::Sql;
    std::string sql = TrimText(text);
    while (!sql.empty() && (sql.back() == ';' || std::isspace(static_cast<unsigned char>(sql.back())))) sql.pop_back();
    ReplaceNoCase(sql, "SYS.ALL_", "ALL_");
    ReplaceNoCase(sql, "INTERVAL DAY TO SECOND", "INTERVAL_DAY_TO_SECOND");
    ReplaceNoCase(sql, "INTERVAL YEAR TO MONTH", "INTERVAL_YEAR_TO_MONTH");
    if (stmt.Type == OCI_STMT_INSERT || stmt.Type == OCI_STMT_UPDATE) {
        stmt.Table = Upper(IdentifierAfter(sql, stmt.Type == OCI_STMT_INSERT ? "INTO" : "UPDATE"));
        const size_t returning = FindLastWord(sql, "RETURNING");
        if (returning != std::string::npos) {
            const size_t into = FindLastWord(sql, "INTO");
            if (into != std::string::npos && into > returning) {
                stmt.ReturningColumns = SplitList(sql.substr(returning + 9, into - returning - 9));
                stmt.ReturningHolders = SplitList(sql.substr(into + 4));
                sql = TrimText(sql.substr(0, returning));
            }
        }
    }
    stmt.Sql = sql;
}

BindSlot* PendingPiece(Statement& stmt) {
    for (auto& b : stmt.Binds)
        if (b->AtExecution && b->InCallback == nullptr && b->OutCallback == nullptr && !b->PieceGiven) return b.get();
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Values

namespace {

void ReadSeven(const uint8_t* d, DateTimeParts& p) {
    p.Year = (int(d[0]) - 100) * 100 + (int(d[1]) - 100);
    p.Month = d[2];
    p.Day = d[3];
    p.Hour = int(d[4]) - 1;
    p.Minute = int(d[5]) - 1;
    p.Second = int(d[6]) - 1;
}

bool ValidDate(const DateTimeParts& p) {
    return p.Month >= 1 && p.Month <= 12 && p.Day >= 1 && p.Day <= 31 && p.Hour >= 0 && p.Hour <= 23 &&
           p.Minute >= 0 && p.Minute <= 59 && p.Second >= 0 && p.Second <= 59;
}

std::string Padded(const Value& v, const Column* column) {
    std::string text = v.AsText();
    if (column != nullptr && column->PadChar && text.size() < column->Size) text.resize(column->Size, ' ');
    return text;
}

bool ParseInterval(const std::string& text, Interval& out, bool yearMonth) {
    std::string t = TrimText(text);
    int sign = 1;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
        if (t[0] == '-') sign = -1;
        t.erase(0, 1);
    }
    if (yearMonth) {
        int y = 0, m = 0;
        if (std::sscanf(t.c_str(), "%d-%d", &y, &m) != 2) return false;
        out.Years = sign * y;
        out.Months = sign * m;
        return true;
    }
    int d = 0, h = 0, mi = 0, s = 0;
    char fraction[16] = {};
    const int n = std::sscanf(t.c_str(), "%d %d:%d:%d.%9[0-9]", &d, &h, &mi, &s, fraction);
    if (n < 4) return false;
    std::string f = fraction;
    f.resize(9, '0');
    out.Days = sign * d;
    out.Hours = sign * h;
    out.Minutes = sign * mi;
    out.Seconds = sign * s;
    out.Nanoseconds = sign * std::atoi(f.c_str());
    return true;
}

template <typename T>
void Put(void* buffer, T value) {
    std::memcpy(buffer, &value, sizeof value);
}

template <typename T>
T Get(const void* buffer) {
    T value{};
    std::memcpy(&value, buffer, sizeof value);
    return value;
}

}  // namespace

std::string LobBytes(Lob& lob) {
    if (lob.File) {
        if (!lob.Open) Throw(22289, "the file is not open: " + lob.Path);
        FILE* f = std::fopen(lob.Path.c_str(), "rb");
        if (f == nullptr) Throw(22288, "cannot open the file " + lob.Path);
        std::string bytes;
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
        std::fclose(f);
        return bytes;
    }
    if (lob.OfRow && lob.Conn != nullptr) {
        sqlite3_stmt* st = nullptr;
        const std::string sql = "select \"" + lob.ColumnName + "\" from \"" + lob.Table + "\" where rowid = ?";
        if (sqlite3_prepare_v2(lob.Conn->Db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) ThrowSqlite(lob.Conn->Db, 1);
        sqlite3_bind_int64(st, 1, lob.RowId);
        std::string bytes;
        if (sqlite3_step(st) == SQLITE_ROW) bytes = kwstandin::ColumnValue(st, 0).AsText();
        sqlite3_finalize(st);
        return bytes;
    }
    return lob.Data;
}

void LobWrite(Lob& lob, ub4 offset, const std::string& bytes) {
    if (lob.File) Throw(22286, "a file locator cannot be written");
    // A stored row's locator is good for writing only in the transaction that returned it.
    if (lob.OfRow && lob.Conn != nullptr && lob.Serial != lob.Conn->TransactionSerial)
        Throw(22990, "LOB locators cannot span transactions");
    std::string current = lob.OfRow ? LobBytes(lob) : lob.Data;
    const size_t at = offset > 0 ? size_t(offset - 1) : 0;
    if (current.size() < at + bytes.size()) current.resize(at + bytes.size(), '\0');
    if (!bytes.empty()) std::memcpy(current.data() + at, bytes.data(), bytes.size());
    lob.Data = current;
    lob.Empty = false;
    if (lob.OfRow && lob.Conn != nullptr) {
        Connection& c = *lob.Conn;
        if (!c.InTransaction) {
            Exec(c.Db, "begin");
            c.InTransaction = true;
        }
        sqlite3_stmt* st = nullptr;
        const std::string sql = "update \"" + lob.Table + "\" set \"" + lob.ColumnName + "\" = ? where rowid = ?";
        if (sqlite3_prepare_v2(c.Db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) ThrowSqlite(c.Db, 1);
        sqlite3_bind_blob(st, 1, current.data(), int(current.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int64(st, 2, lob.RowId);
        const int rc = sqlite3_step(st);
        sqlite3_finalize(st);
        if (rc != SQLITE_DONE) ThrowSqlite(c.Db, rc);
    }
}

Value BindValue(BindSlot& b) {
    if (b.AtExecution && b.InCallback == nullptr && b.OutCallback == nullptr) {
        if (!b.PieceGiven) Throw(1008, "not all variables bound: " + b.Name);
        if (b.PieceNull) return Value::Null();
        return b.Dty == SQLT_LNG ? Value::Text(b.Piece) : Value::Blob(b.Piece);
    }
    const void* data = b.ValuePtr;
    sb4 size = b.Size;
    if (b.InCallback != nullptr) {
        void* buffer = nullptr;
        ub4 length = 0;
        ub1 piece = OCI_ONE_PIECE;
        void* indicator = nullptr;
        if (b.InCallback(b.InContext, &b, 0, 0, &buffer, &length, &piece, &indicator) != OCI_CONTINUE)
            Throw(24343, "user-defined in-bind call-back failed");
        Journal("in-bind " + b.Name);
        if (indicator != nullptr && Get<sb2>(indicator) == -1) return Value::Null();
        data = buffer;
        size = sb4(length);
    } else if (b.Indicator != nullptr && Get<sb2>(b.Indicator) == -1) {
        return Value::Null();
    }
    if (b.Length != nullptr) size = std::min<sb4>(size, sb4(Get<ub2>(b.Length)));
    const auto* bytes = static_cast<const uint8_t*>(data);
    // The server keeps no empty text: a text bound empty is stored as NULL.
    const bool text = b.Dty == SQLT_CHR || b.Dty == SQLT_AFC || b.Dty == SQLT_STR || b.Dty == SQLT_AVC;
    if (text && (bytes == nullptr || size <= 0 || ((b.Dty == SQLT_STR || b.Dty == SQLT_AVC) && bytes[0] == 0)))
        return Value::Null();
    switch (b.Dty) {
        case SQLT_CHR:
        case SQLT_AFC:
        case SQLT_LNG:
            return Value::Text(std::string(reinterpret_cast<const char*>(bytes), bytes != nullptr ? size_t(std::max(size, 0)) : 0));
        case SQLT_STR:
        case SQLT_AVC: {
            if (bytes == nullptr) return Value::Text("");
            size_t n = 0;
            while (n < size_t(std::max(size, 0)) && bytes[n] != 0) ++n;
            return Value::Text(std::string(reinterpret_cast<const char*>(bytes), n));
        }
        case SQLT_INT:
            switch (size) {
                case 1:
                    return Value::Int(Get<int8_t>(bytes));
                case 2:
                    return Value::Int(Get<int16_t>(bytes));
                case 4:
                    return Value::Int(Get<int32_t>(bytes));
                case 8:
                    return Value::Int(Get<int64_t>(bytes));
                default:
                    Throw(3115, "unsupported integer size " + std::to_string(size));
            }
        case SQLT_FLT:
            if (size == 4) return Value::Float(Get<float>(bytes));
            if (size == 8) return Value::Float(Get<double>(bytes));
            Throw(3115, "unsupported floating-point size " + std::to_string(size));
        case SQLT_DAT: {
            if (size < 7) Throw(3115, "a date needs seven bytes");
            DateTimeParts p;
            ReadSeven(bytes, p);
            if (!ValidDate(p)) Throw(1858, "not a valid date");
            return Value::Text(kwstandin::FormatDateTime(p));
        }
        case SQLT_BIN:
        case SQLT_LBI:
            return Value::Blob(bytes != nullptr ? std::string(reinterpret_cast<const char*>(bytes), size_t(std::max(size, 0)))
                                                : std::string());
        case SQLT_CLOB:
        case SQLT_BLOB: {
            Lob* lob = As<Lob>(Get<void*>(bytes), OCI_DTYPE_LOB);
            if (lob == nullptr) Throw(22275, "invalid LOB locator");
            const std::string data = LobBytes(*lob);
            return b.Dty == SQLT_BLOB ? Value::Blob(data) : Value::Text(data);
        }
        case SQLT_DATE:
        case SQLT_TIMESTAMP:
        case SQLT_TIMESTAMP_TZ:
        case SQLT_TIMESTAMP_LTZ: {
            void* p = Get<void*>(bytes);
            if (!IsLive(p)) Throw(1801, "invalid date-time descriptor");
            DateTimeParts parts = static_cast<DateTime*>(p)->Parts;
            if (b.Dty != SQLT_TIMESTAMP_TZ) parts.HasZone = false;
            return Value::Text(kwstandin::FormatDateTime(parts));
        }
        case SQLT_RSET:
        case SQLT_CUR:
            return Value::Null();
        default:
            Throw(3115, "unsupported network datatype or representation (" + std::to_string(b.Dty) + ")");
    }
}

bool StoreValue(const Value& v, const Column* column, ub2 dty, void* buffer, sb4 size, void* indicator, ub2* length,
                Connection* conn) {
    auto setIndicator = [&](sb2 value) {
        if (indicator != nullptr) Put(indicator, value);
    };
    auto setLength = [&](size_t n) {
        if (length != nullptr) Put(length, ub2(std::min<size_t>(n, 65535)));
    };
    const bool locator = dty == SQLT_CLOB || dty == SQLT_BLOB || dty == SQLT_BFILE || dty == SQLT_CFILE;
    if (v.IsNull()) {
        setIndicator(-1);
        setLength(0);
        if (locator && buffer != nullptr)
            if (Lob* lob = static_cast<Lob*>(IsLive(Get<void*>(buffer)) ? Get<void*>(buffer) : nullptr)) lob->Empty = true;
        return false;
    }
    setIndicator(0);
    if (size == 0 && !locator) {  // a LONG defined without a buffer: read later in pieces
        setLength(0);
        return false;
    }
    auto* out = static_cast<uint8_t*>(buffer);
    switch (dty) {
        case SQLT_STR:
        case SQLT_AVC: {
            const std::string text = Padded(v, column);
            const size_t room = size_t(std::max(size - 1, 0));
            const size_t n = std::min(text.size(), room);
            std::memcpy(out, text.data(), n);
            out[n] = 0;
            setLength(n);
            return text.size() > room;
        }
        case SQLT_CHR:
        case SQLT_AFC:
        case SQLT_LNG:
        case SQLT_BIN:
        case SQLT_LBI: {
            const std::string bytes = Padded(v, column);
            const size_t n = std::min(bytes.size(), size_t(std::max(size, 0)));
            std::memcpy(out, bytes.data(), n);
            setLength(n);
            return bytes.size() > n;
        }
        case SQLT_INT: {
            const int64_t value = v.Type == SQLITE_FLOAT ? int64_t(std::llround(v.Real)) : v.AsInteger();
            switch (size) {
                case 1:
                    Put(out, int8_t(value));
                    break;
                case 2:
                    Put(out, int16_t(value));
                    break;
                case 4:
                    Put(out, int32_t(value));
                    break;
                default:
                    Put(out, int64_t(value));
                    break;
            }
            setLength(size_t(size));
            return false;
        }
        case SQLT_FLT:
            if (size == 4)
                Put(out, float(v.AsReal()));
            else
                Put(out, v.AsReal());
            setLength(size_t(size));
            return false;
        case SQLT_DAT: {
            DateTimeParts p;
            if (!kwstandin::ParseDateTime(v.AsText(), p)) Throw(1861, "literal does not match a date: " + v.AsText());
            if (size < 7) Throw(3115, "a date needs seven bytes");
            out[0] = uint8_t(p.Year / 100 + 100);
            out[1] = uint8_t(p.Year % 100 + 100);
            out[2] = uint8_t(p.Month);
            out[3] = uint8_t(p.Day);
            out[4] = uint8_t(p.Hour + 1);
            out[5] = uint8_t(p.Minute + 1);
            out[6] = uint8_t(p.Second + 1);
            setLength(7);
            return false;
        }
        case SQLT_CLOB:
        case SQLT_BLOB:
        case SQLT_BFILE:
        case SQLT_CFILE: {
            void* p = Get<void*>(out);
            const ub4 kind = dty == SQLT_BFILE || dty == SQLT_CFILE ? OCI_DTYPE_FILE : OCI_DTYPE_LOB;
            Lob* lob = As<Lob>(p, kind);
            if (lob == nullptr) Throw(22275, "invalid LOB locator");
            lob->Conn = conn;
            lob->Empty = false;
            lob->OfRow = false;
            if (kind == OCI_DTYPE_FILE) {
                lob->File = true;
                lob->Path = v.AsText();
            } else {
                lob->Data = v.AsText();
            }
            setLength(sizeof(void*));
            return false;
        }
        case SQLT_DATE:
        case SQLT_TIMESTAMP:
        case SQLT_TIMESTAMP_TZ:
        case SQLT_TIMESTAMP_LTZ: {
            void* p = Get<void*>(out);
            if (!IsLive(p)) Throw(1801, "invalid date-time descriptor");
            DateTimeParts parts;
            if (!kwstandin::ParseDateTime(v.AsText(), parts)) Throw(1861, "literal does not match a date: " + v.AsText());
            if (dty == SQLT_TIMESTAMP_LTZ && conn != nullptr) {
                // The column keeps the value in UTC; the session's zone says how far to move it.
                parts.HasZone = kwstandin::ParseZone(conn->TimeZone, parts.ZoneHours, parts.ZoneMinutes);
            }
            static_cast<DateTime*>(p)->Parts = parts;
            setLength(sizeof(void*));
            return false;
        }
        case SQLT_INTERVAL_YM:
        case SQLT_INTERVAL_DS: {
            void* p = Get<void*>(out);
            if (!IsLive(p)) Throw(1801, "invalid interval descriptor");
            Interval parsed;
            if (!ParseInterval(v.AsText(), parsed, dty == SQLT_INTERVAL_YM))
                Throw(1867, "the interval is invalid: " + v.AsText());
            auto* target = static_cast<Interval*>(p);
            target->Years = parsed.Years;
            target->Months = parsed.Months;
            target->Days = parsed.Days;
            target->Hours = parsed.Hours;
            target->Minutes = parsed.Minutes;
            target->Seconds = parsed.Seconds;
            target->Nanoseconds = parsed.Nanoseconds;
            setLength(sizeof(void*));
            return false;
        }
        default:
            Throw(3115, "unsupported network datatype or representation (" + std::to_string(dty) + ")");
    }
}

// ---------------------------------------------------------------------------------------------
// Execution

namespace {

Column ColumnOfDeclared(const kwstandin::DeclaredType& d) {
    Column c;
    const std::string& n = d.Name;
    if (n == "VARCHAR2" || n == "VARCHAR" || n == "NVARCHAR2" || n == "TEXT" || n == "CHARACTER VARYING") {
        c.Type = SQLT_CHR;
        c.Size = ub2(d.Length > 0 ? d.Length : 4000);
    } else if (n == "CHAR" || n == "NCHAR" || n == "CHARACTER") {
        c.Type = SQLT_AFC;
        c.Size = ub2(d.Length > 0 ? d.Length : 1);
        c.PadChar = true;
    } else if (n == "NUMBER" || n == "NUMERIC" || n == "DECIMAL") {
        c.Type = SQLT_NUM;
        c.Size = 22;
        c.Precision = ub1(d.Length > 0 ? d.Length : 0);
        c.Scale = sb1(d.Scale >= 0 ? d.Scale : (d.Length > 0 ? 0 : -127));
    } else if (n == "INTEGER" || n == "INT" || n == "SMALLINT") {
        c.Type = SQLT_NUM;
        c.Size = 22;
        c.Precision = 38;
        c.Scale = 0;
    } else if (n == "FLOAT" || n == "REAL" || n == "DOUBLE" || n == "DOUBLE PRECISION") {
        c.Type = SQLT_NUM;
        c.Size = 22;
        c.Precision = 126;
        c.Scale = -127;
    } else if (n == "DATE") {
        c.Type = SQLT_DAT;
        c.Size = 7;
    } else if (n == "TIMESTAMP") {
        c.Type = SQLT_TIMESTAMP;
        c.Size = 11;
    } else if (n == "TIMESTAMP WITH TIME ZONE") {
        c.Type = SQLT_TIMESTAMP_TZ;
        c.Size = 13;
    } else if (n == "TIMESTAMP WITH LOCAL TIME ZONE") {
        c.Type = SQLT_TIMESTAMP_LTZ;
        c.Size = 11;
    } else if (n == "INTERVAL YEAR TO MONTH") {
        c.Type = SQLT_INTERVAL_YM;
        c.Size = 5;
    } else if (n == "INTERVAL DAY TO SECOND") {
        c.Type = SQLT_INTERVAL_DS;
        c.Size = 11;
    } else if (n == "CLOB" || n == "NCLOB") {
        c.Type = SQLT_CLOB;
        c.Size = 4000;
    } else if (n == "BLOB") {
        c.Type = SQLT_BLOB;
        c.Size = 4000;
    } else if (n == "BFILE") {
        c.Type = SQLT_BFILE;
        c.Size = 530;
    } else if (n == "LONG") {
        c.Type = SQLT_LNG;
        c.Size = 0;
    } else if (n == "LONG RAW") {
        c.Type = SQLT_LBI;
        c.Size = 0;
    } else if (n == "RAW") {
        c.Type = SQLT_BIN;
        c.Size = ub2(d.Length > 0 ? d.Length : 2000);
    } else if (n == "ROWID") {
        c.Type = SQLT_RDD;
        c.Size = 10;
    } else if (n == "XMLTYPE" || n == "OBJECT") {
        c.Type = 108;  // a named type: no driver supports it
        c.Size = 4000;
    } else {
        c.Type = 0;  // decided by the values
    }
    c.DisplaySize = c.Size;
    return c;
}

void DescribeColumns(Statement& stmt, sqlite3_stmt* st) {
    stmt.Columns.clear();
    stmt.ColumnParams.clear();
    const int count = sqlite3_column_count(st);
    for (int i = 0; i < count; ++i) {
        Column c = ColumnOfDeclared(kwstandin::ParseDeclaredType(sqlite3_column_decltype(st, i)));
        c.Name = Upper(sqlite3_column_name(st, i));
        const char* table = sqlite3_column_table_name(st, i);
        const char* origin = sqlite3_column_origin_name(st, i);
        const char* database = sqlite3_column_database_name(st, i);
        if (table != nullptr && origin != nullptr) {
            int notNull = 0, primaryKey = 0, autoIncrement = 0;
            if (sqlite3_table_column_metadata(stmt.Conn->Db, database, table, origin, nullptr, nullptr, &notNull,
                                              &primaryKey, &autoIncrement) == SQLITE_OK)
                c.Nullable = notNull == 0 && primaryKey == 0;
        }
        if (c.Type == 0) {
            // An expression: its type and width come from the values it gave.
            int type = SQLITE_NULL;
            size_t width = 0;
            for (const Row& r : stmt.Rows) {
                const Value& v = r[size_t(i)];
                if (type == SQLITE_NULL) type = v.Type;
                if (!v.IsNull()) width = std::max(width, v.AsText().size());
            }
            if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
                c.Type = SQLT_NUM;
                c.Size = 22;
                c.Precision = 0;
                c.Scale = -127;
            } else if (type == SQLITE_BLOB) {
                c.Type = width > 2000 ? SQLT_LBI : SQLT_BIN;
                c.Size = width > 2000 ? 0 : ub2(std::max<size_t>(width, 1));
            } else {
                c.Type = SQLT_CHR;
                c.Size = ub2(std::clamp<size_t>(width, 1, 4000));
            }
            c.DisplaySize = c.Size;
        }
        stmt.Columns.push_back(c);
    }
}

void RunRoutine(Statement& stmt);

}  // namespace

sword ExecuteStatement(Statement& stmt, bool describeOnly, bool commitOnSuccess) {
    Connection& c = *stmt.Conn;
    stmt.Rows.clear();
    stmt.Next = 0;
    stmt.Current = nullptr;
    stmt.RowCount = 0;
    stmt.ParseOffset = -1;
    if (stmt.What == Action::SetTransaction) {
        Journal(TrimText(stmt.Text));
        if (Upper(stmt.Text).find("READ ONLY") != std::string::npos) c.ReadOnly = true;
        stmt.Executed = true;
        return OCI_SUCCESS;
    }
    if (stmt.What == Action::None) Throw(6550, "the block calls nothing this server knows: " + stmt.Text);
    if (!describeOnly && PendingPiece(stmt) != nullptr) return OCI_NEED_DATA;
    if (stmt.What == Action::Call) {
        if (c.ReadOnly) Throw(1456, "a routine may not run inside a READ ONLY transaction");
        RunRoutine(stmt);
        if (commitOnSuccess || c.AutoCommit) Commit(c);
        stmt.Executed = true;
        return OCI_SUCCESS;
    }
    const bool dml = stmt.Type == OCI_STMT_INSERT || stmt.Type == OCI_STMT_UPDATE || stmt.Type == OCI_STMT_DELETE;
    const bool ddl = stmt.Type == OCI_STMT_CREATE || stmt.Type == OCI_STMT_DROP || stmt.Type == OCI_STMT_ALTER;
    if (dml && c.ReadOnly && !describeOnly) Throw(1456, "may not change data inside a READ ONLY transaction");
    if (Upper(stmt.Sql).find("ALL_") != std::string::npos) RefreshCatalog(c);
    if (ddl && !describeOnly) Commit(c);  // the server commits around every definition
    std::string sql = stmt.Sql;
    const bool returning = !stmt.ReturningColumns.empty();
    if (returning) sql += " returning rowid";
    sqlite3_stmt* st = nullptr;
    const int prepared = sqlite3_prepare_v2(c.Db, sql.c_str(), -1, &st, nullptr);
    if (prepared != SQLITE_OK) {
        sqlite3_finalize(st);
        ThrowSqlite(c.Db, prepared);
    }
    struct Finalize {
        sqlite3_stmt* st;
        ~Finalize() { sqlite3_finalize(st); }
    } finalize{st};
    for (int i = 1; i <= sqlite3_bind_parameter_count(st); ++i) {
        const char* raw = sqlite3_bind_parameter_name(st, i);
        std::string name = raw != nullptr ? raw : "";
        if (!name.empty() && (name[0] == ':' || name[0] == '?')) name.erase(0, 1);
        BindSlot* b = stmt.FindBind(name);
        if (b == nullptr) {
            if (describeOnly) continue;
            Throw(1008, "not all variables bound: " + name);
        }
        if (!describeOnly) kwstandin::BindValue(st, i, BindValue(*b));
    }
    // Binds of the RETURNING clause take no value in; their call-back is told so.
    if (!describeOnly)
        for (const std::string& holder : stmt.ReturningHolders) {
            BindSlot* b = stmt.FindBind(holder);
            if (b == nullptr) Throw(1008, "not all variables bound: " + holder);
            if (b->InCallback != nullptr) BindValue(*b);
        }
    if (dml && !describeOnly && !c.InTransaction) {
        Exec(c.Db, "begin");
        c.InTransaction = true;
    }
    std::vector<int64_t> rowIds;
    for (;;) {
        const int rc = sqlite3_step(st);
        if (rc == SQLITE_DONE) break;
        if (rc != SQLITE_ROW) ThrowSqlite(c.Db, rc);
        if (returning) {
            rowIds.push_back(sqlite3_column_int64(st, 0));
            continue;
        }
        Row row;
        for (int k = 0; k < sqlite3_column_count(st); ++k) row.push_back(kwstandin::ColumnValue(st, k));
        stmt.Rows.push_back(std::move(row));
    }
    if (stmt.Type == OCI_STMT_SELECT || sqlite3_column_count(st) > 0) {
        DescribeColumns(stmt, st);
        if (describeOnly) stmt.Rows.clear();
    } else {
        stmt.RowCount = ub4(sqlite3_changes(c.Db));
    }
    if (returning) {
        for (size_t h = 0; h < stmt.ReturningHolders.size(); ++h) {
            BindSlot* b = stmt.FindBind(stmt.ReturningHolders[h]);
            b->RowsReturned = ub4(rowIds.size());
            const std::string column = h < stmt.ReturningColumns.size() ? stmt.ReturningColumns[h] : "";
            for (size_t r = 0; r < rowIds.size(); ++r) {
                void* buffer = nullptr;
                ub4* length = nullptr;
                ub1 piece = OCI_ONE_PIECE;
                void* indicator = nullptr;
                ub2* rcode = nullptr;
                if (b->OutCallback == nullptr) Throw(3115, "a RETURNING bind needs its out-bind call-back");
                if (b->OutCallback(b->OutContext, b, 0, ub4(r), &buffer, &length, &piece, &indicator, &rcode) !=
                    OCI_CONTINUE)
                    Throw(24343, "user-defined out-bind call-back failed");
                Lob* lob = As<Lob>(buffer, OCI_DTYPE_LOB);
                if (lob == nullptr) Throw(22275, "invalid LOB locator from the out-bind call-back");
                lob->Conn = &c;
                lob->OfRow = true;
                lob->Table = stmt.Table;
                lob->ColumnName = column;
                lob->RowId = rowIds[r];
                lob->Serial = c.TransactionSerial;
                lob->Empty = false;
            }
            Journal("returned " + std::to_string(rowIds.size()) + " locator(s) for " + b->Name);
        }
    }
    if (!describeOnly && (commitOnSuccess || c.AutoCommit)) Commit(c);
    stmt.Executed = !describeOnly;
    return OCI_SUCCESS;
}

const Value& CurrentValue(const Statement& stmt, ub4 position) {
    static const Value null;
    if (stmt.Current == nullptr || position < 1 || position > stmt.Current->size()) return null;
    return (*stmt.Current)[position - 1];
}

bool FetchRow(Statement& stmt, bool& truncated) {
    truncated = false;
    if (stmt.Next >= stmt.Rows.size()) {
        stmt.Current = nullptr;
        return false;
    }
    stmt.Current = &stmt.Rows[stmt.Next++];
    for (auto& [position, d] : stmt.Defines) {
        const Value& v = CurrentValue(stmt, position);
        const Column* column = position <= stmt.Columns.size() ? &stmt.Columns[position - 1] : nullptr;
        if (!d->Dynamic) {
            truncated = StoreValue(v, column, d->Dty, d->ValuePtr, d->Size, d->Indicator, d->Length, stmt.Conn) ||
                        truncated;
            continue;
        }
        // A LONG column handed over in pieces, each into the buffer the call-back gives.
        const std::string bytes = v.IsNull() ? std::string() : v.AsText();
        size_t at = 0;
        ub1 piece = OCI_FIRST_PIECE;
        if (G().ForcedLongPiece >= 0) {
            piece = ub1(G().ForcedLongPiece);
            G().ForcedLongPiece = -1;
        }
        int pieces = 0;
        for (;;) {
            void* buffer = nullptr;
            ub4* length = nullptr;
            void* indicator = nullptr;
            ub2* rcode = nullptr;
            ub1 asked = piece;
            if (d->Callback(d->Context, d.get(), 0, &buffer, &length, &asked, &indicator, &rcode) != OCI_CONTINUE)
                Throw(24343, "user-defined define call-back failed");
            ++pieces;
            const size_t room = length != nullptr ? *length : 0;
            const size_t n = std::min(room, bytes.size() - at);
            if (n > 0) std::memcpy(buffer, bytes.data() + at, n);
            if (length != nullptr) *length = ub4(n);
            if (indicator != nullptr) Put(indicator, sb2(v.IsNull() ? -1 : 0));
            at += n;
            if (at >= bytes.size() || room == 0) break;
            piece = OCI_NEXT_PIECE;
        }
        Journal("LONG " + std::to_string(bytes.size()) + " bytes in " + std::to_string(pieces) + " piece(s)");
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Routines

const std::vector<Routine>& Routines() {
    static const std::vector<Routine> routines = {
        {"", "KW_ADD", false, 0, {{"A", SQLT_NUM, 0}, {"B", SQLT_NUM, 0}, {"C", SQLT_NUM, 1}}},
        {"", "KW_ECHO", false, 0, {{"S", SQLT_CHR, 2}, {"D", SQLT_DAT, 2}}},
        {"", "KW_DOUBLE", true, SQLT_NUM, {{"X", SQLT_NUM, 0}}},
        {"KW_PKG", "OPEN_NUMBERS", false, 0, {{"N", SQLT_NUM, 0}, {"C", SQLT_CUR, 1}}},
        {"KW_PKG", "NAME_OF", true, SQLT_CHR, {{"ID", SQLT_NUM, 0}}},
        {"", "KW_DOC_LEN", false, 0, {{"B", SQLT_BLOB, 0}, {"N", SQLT_NUM, 1}}},
        {"", "KW_GET_DOC", false, 0, {{"ID", SQLT_NUM, 0}, {"B", SQLT_BLOB, 1}}},
        {"", "KW_PUT_LONG", false, 0, {{"ID", SQLT_NUM, 0}, {"DOC", SQLT_LBI, 0}}},
        {"", "KW_NOARGS", false, 0, {}},
        {"", "KW_ODD_MODE", false, 0, {{"X", SQLT_NUM, 3}}},
        {"", "KW_ODD_TYPE", false, 0, {{"X", 108, 0}}},
    };
    return routines;
}

namespace {

// The name without an owner in front ("OWNER.KW_ADD", "OWNER.KW_PKG.NAME_OF").
std::string WithoutOwner(const std::string& name, const std::string& user) {
    std::string n = Upper(TrimText(name));
    const size_t dots = size_t(std::count(n.begin(), n.end(), '.'));
    if (dots >= 2 || (dots == 1 && n.rfind(user + ".", 0) == 0)) n = n.substr(n.find('.') + 1);
    return n;
}

}  // namespace

bool IsPackageName(const std::string& name, const std::string& user) {
    return WithoutOwner(name, user) == "KW_PKG";
}

const Routine* FindRoutine(const std::string& name, const std::string& user) {
    const std::string n = WithoutOwner(name, user);
    const size_t dot = n.find('.');
    const std::string package = dot == std::string::npos ? "" : n.substr(0, dot);
    const std::string routine = dot == std::string::npos ? n : n.substr(dot + 1);
    for (const Routine& r : Routines())
        if (r.Package == package && r.Name == routine) return &r;
    return nullptr;
}

void OpenCursorInArea(uint8_t* area, Connection* conn, const std::string& sql);

namespace {

std::string AddDay(const std::string& text) {
    DateTimeParts p;
    if (!kwstandin::ParseDateTime(text, p)) Throw(1861, "literal does not match a date: " + text);
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (p.Year % 4 == 0 && p.Year % 100 != 0) || p.Year % 400 == 0;
    const int inMonth = p.Month == 2 && leap ? 29 : days[p.Month - 1];
    if (++p.Day > inMonth) {
        p.Day = 1;
        if (++p.Month > 12) {
            p.Month = 1;
            ++p.Year;
        }
    }
    return kwstandin::FormatDateTime(p);
}

Value Number(double v) {
    return v == std::floor(v) && std::fabs(v) < 9e15 ? Value::Int(int64_t(v)) : Value::Float(v);
}

void RunRoutine(Statement& stmt) {
    Connection& c = *stmt.Conn;
    const Routine* routine = FindRoutine(stmt.Call.Routine, c.User);
    if (routine == nullptr) Throw(6550, "identifier " + stmt.Call.Routine + " must be declared");
    if (!stmt.Call.ResultHolder.empty() && !routine->Function)
        Throw(6550, stmt.Call.Routine + " is not a function");
    std::map<std::string, Value> in;
    std::map<std::string, BindSlot*> slots;
    for (const auto& [arg, holder] : stmt.Call.Args) {
        BindSlot* b = stmt.FindBind(holder);
        if (b == nullptr) Throw(1008, "not all variables bound: " + holder);
        slots[Upper(arg)] = b;
        in[Upper(arg)] = BindValue(*b);
    }
    for (const RoutineArg& a : routine->Args)
        if (a.Mode != 1 && in.find(a.Name) == in.end())
            Throw(6550, "wrong number or types of arguments in call to " + routine->Name);
    std::map<std::string, Value> out;
    std::string cursorSql;
    const std::string& name = routine->Name;
    if (name == "KW_ADD") {
        out["C"] = Number(in["A"].AsReal() + in["B"].AsReal());
    } else if (name == "KW_ECHO") {
        out["S"] = in["S"].IsNull() ? Value::Null() : Value::Text(Upper(in["S"].AsText()));
        out["D"] = in["D"].IsNull() ? Value::Null() : Value::Text(AddDay(in["D"].AsText()));
    } else if (name == "KW_DOUBLE") {
        out[""] = Number(in["X"].AsReal() * 2);
    } else if (name == "OPEN_NUMBERS") {
        cursorSql = "with recursive NUMBERS(N) as (select 1 union all select N + 1 from NUMBERS where N < " +
                    std::to_string(in["N"].AsInteger()) + ") select N, 'N' || N as LABEL from NUMBERS";
    } else if (name == "NAME_OF") {
        out[""] = Value::Text("N" + in["ID"].AsText());
    } else if (name == "KW_DOC_LEN") {
        out["N"] = Value::Int(int64_t(in["B"].IsNull() ? 0 : in["B"].Bytes.size()));
    } else if (name == "KW_GET_DOC") {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(c.Db, "select DOC from KW_DOCS where ID = ?", -1, &st, nullptr) != SQLITE_OK)
            ThrowSqlite(c.Db, 1);
        sqlite3_bind_int64(st, 1, in["ID"].AsInteger());
        out["B"] = sqlite3_step(st) == SQLITE_ROW ? kwstandin::ColumnValue(st, 0) : Value::Null();
        sqlite3_finalize(st);
    } else if (name == "KW_PUT_LONG") {
        if (!c.InTransaction) {
            Exec(c.Db, "begin");
            c.InTransaction = true;
        }
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(c.Db, "insert into KW_LONGS (ID, DOC) values (?, ?)", -1, &st, nullptr) != SQLITE_OK)
            ThrowSqlite(c.Db, 1);
        kwstandin::BindValue(st, 1, in["ID"]);
        kwstandin::BindValue(st, 2, in["DOC"]);
        const int rc = sqlite3_step(st);
        sqlite3_finalize(st);
        if (rc != SQLITE_DONE) ThrowSqlite(c.Db, rc);
    } else if (name == "KW_NOARGS") {
    } else {
        Throw(6550, routine->Name + " cannot be called");
    }
    Journal("call " + (routine->Package.empty() ? "" : routine->Package + ".") + routine->Name);
    auto write = [&](BindSlot* b, const Value& v) {
        if (b->Dty == SQLT_RSET) {
            auto* cursor = As<Statement>(Get<void*>(b->ValuePtr), OCI_HTYPE_STMT);
            if (cursor == nullptr) Throw(24338, "the cursor variable is not a statement handle");
            cursor->Conn = &c;
            PrepareStatement(*cursor, cursorSql);
            ExecuteStatement(*cursor, false, false);
            if (b->Indicator != nullptr) Put(b->Indicator, sb2(0));
            return;
        }
        if (b->Dty == SQLT_CUR) {
            OpenCursorInArea(static_cast<uint8_t*>(b->ValuePtr), &c, cursorSql);
            if (b->Indicator != nullptr) Put(b->Indicator, sb2(0));
            return;
        }
        StoreValue(v, nullptr, b->Dty, b->ValuePtr, b->Size, b->Indicator, b->Length, &c);
    };
    if (!stmt.Call.ResultHolder.empty()) {
        BindSlot* b = stmt.FindBind(stmt.Call.ResultHolder);
        if (b == nullptr) Throw(1008, "not all variables bound: " + stmt.Call.ResultHolder);
        write(b, out[""]);
    }
    for (const RoutineArg& a : routine->Args) {
        if (a.Mode == 0) continue;
        auto it = slots.find(a.Name);
        if (it == slots.end()) Throw(6550, "wrong number or types of arguments in call to " + routine->Name);
        write(it->second, out[a.Name]);
    }
}

}  // namespace

}  // namespace kwoci
