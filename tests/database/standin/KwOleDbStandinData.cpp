// tests/database/standin/KwOleDbStandinData.cpp: the OLE DB stand-in's SQLite side (tests
// only): statements, column types, procedures, schema rowsets and the conversions between
// bound values and SQLite's. See KwOleDbStandin.h.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "database/standin/KwOleDbStandin.h"

namespace kwoledb {

using kwstandin::DateTimeParts;
using kwstandin::SameText;
using kwstandin::TrimText;
using kwstandin::Upper;

namespace {

constexpr DBLENGTH kLongSize = 2147483647;

Column Col(const std::string& name, DBTYPE type, DBLENGTH size, bool nullable = true) {
    Column c;
    c.Name = name;
    c.Type = type;
    c.Size = size;
    c.Flags = nullable ? DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL : 0;
    return c;
}

// A declared column type as the provider describes it.
Column ColumnOfDeclared(const std::string& name, const char* declared) {
    const kwstandin::DeclaredType t = kwstandin::ParseDeclaredType(declared);
    const std::string& n = t.Name;
    const DBLENGTH length = t.Length > 0 ? DBLENGTH(t.Length) : 1;
    Column c = Col(name, DBTYPE_STR, 255);
    if (n == "INTEGER" || n == "INT") {
        c.Type = DBTYPE_I4, c.Size = 4;
    } else if (n == "SMALLINT") {
        c.Type = DBTYPE_I2, c.Size = 2;
    } else if (n == "TINYINT") {
        c.Type = DBTYPE_UI1, c.Size = 1;
    } else if (n == "BIGINT") {
        c.Type = DBTYPE_I8, c.Size = 8;
    } else if (n == "BIT" || n == "BOOLEAN") {
        c.Type = DBTYPE_BOOL, c.Size = 2;
    } else if (n == "REAL" || n == "FLOAT" || n == "DOUBLE" || n == "DOUBLE PRECISION") {
        c.Type = DBTYPE_R8, c.Size = 8;
    } else if (n == "DECIMAL" || n == "NUMERIC") {
        c.Type = DBTYPE_NUMERIC, c.Size = 19;
        c.Precision = uint8_t(t.Length > 0 ? t.Length : 18);
        c.Scale = uint8_t(t.Scale > 0 ? t.Scale : 0);
    } else if (n == "MONEY") {
        c.Type = DBTYPE_CY, c.Size = 8;
    } else if (n == "CHAR" || n == "CHARACTER") {
        c.Type = DBTYPE_STR, c.Size = length, c.Fixed = true;
    } else if (n == "VARCHAR") {
        c.Type = DBTYPE_STR, c.Size = length;
    } else if (n == "NCHAR") {
        c.Type = DBTYPE_WSTR, c.Size = length, c.Fixed = true;
    } else if (n == "NVARCHAR") {
        c.Type = DBTYPE_WSTR, c.Size = length;
    } else if (n == "TEXT" || n == "LONG VARCHAR" || n == "CLOB" || n == "MEMO") {
        c.Type = DBTYPE_STR, c.Size = kLongSize, c.Flags |= DBCOLUMNFLAGS_ISLONG;
    } else if (n == "NTEXT") {
        c.Type = DBTYPE_WSTR, c.Size = kLongSize, c.Flags |= DBCOLUMNFLAGS_ISLONG;
    } else if (n == "BINARY" || n == "VARBINARY") {
        c.Type = DBTYPE_BYTES, c.Size = length;
    } else if (n == "IMAGE" || n == "BLOB" || n == "LONG VARBINARY" || n == "LONG BINARY") {
        c.Type = DBTYPE_BYTES, c.Size = kLongSize, c.Flags |= DBCOLUMNFLAGS_ISLONG;
    } else if (n == "DATE") {
        c.Type = DBTYPE_DBDATE, c.Size = 6;
    } else if (n == "TIME") {
        c.Type = DBTYPE_DBTIME, c.Size = 6;
    } else if (n == "DATETIME" || n == "TIMESTAMP") {
        c.Type = DBTYPE_DBTIMESTAMP, c.Size = 16;
    } else if (n == "UNIQUEIDENTIFIER" || n == "GUID") {
        c.Type = DBTYPE_GUID, c.Size = 16;
    } else if (n == "SQL VARIANT" || n == "VARIANT") {
        c.Type = DBTYPE_VARIANT, c.Size = 16;
    }
    return c;
}

Column ColumnOfValues(const std::string& name, const std::vector<Row>& rows, size_t index) {
    const Value* first = nullptr;
    size_t longest = 1;
    for (const Row& r : rows) {
        if (r[index].IsNull()) continue;
        if (first == nullptr) first = &r[index];
        if (r[index].Type == SQLITE_TEXT || r[index].Type == SQLITE_BLOB)
            longest = std::max(longest, r[index].Bytes.size());
    }
    if (first == nullptr) return Col(name, DBTYPE_STR, 255);
    switch (first->Type) {
        case SQLITE_INTEGER:
            return Col(name, DBTYPE_I4, 4);
        case SQLITE_FLOAT:
            return Col(name, DBTYPE_R8, 8);
        case SQLITE_BLOB:
            return Col(name, DBTYPE_BYTES, longest);
        default:
            return Col(name, DBTYPE_STR, std::max<size_t>(longest, 255));
    }
}

bool ColumnNotNull(sqlite3* db, sqlite3_stmt* stmt, int i) {
    const char* table = sqlite3_column_table_name(stmt, i);
    const char* origin = sqlite3_column_origin_name(stmt, i);
    if (table == nullptr || origin == nullptr) return false;
    int notNull = 0, primaryKey = 0, autoIncrement = 0;
    if (sqlite3_table_column_metadata(db, sqlite3_column_database_name(stmt, i), table, origin, nullptr,
                                      nullptr, &notNull, &primaryKey, &autoIncrement) != SQLITE_OK)
        return false;
    return notNull != 0;
}

std::vector<Column> Describe(sqlite3* db, sqlite3_stmt* stmt, const std::vector<Row>& rows) {
    std::vector<Column> columns;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
        const std::string name = sqlite3_column_name(stmt, i);
        const char* declared = sqlite3_column_decltype(stmt, i);
        Column c =
            declared != nullptr ? ColumnOfDeclared(name, declared) : ColumnOfValues(name, rows, size_t(i));
        if (ColumnNotNull(db, stmt, i)) c.Flags &= ~(DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL);
        columns.push_back(c);
    }
    return columns;
}

uint16_t LineOf(const std::string& sql, int offset) {
    if (offset < 0) return 1;
    return uint16_t(
        1 + std::count(sql.begin(), sql.begin() + std::min<size_t>(size_t(offset), sql.size()), '\n'));
}

[[noreturn]] void SqliteFailure(sqlite3* db, const std::string& sql) {
    const int code = sqlite3_extended_errcode(db);
    const std::string message = sqlite3_errmsg(db);
    const uint16_t line = LineOf(sql, sqlite3_error_offset(db));
    Failure f;
    f.Result = DB_E_ERRORSINCOMMAND;
    if ((code & 0xFF) == SQLITE_CONSTRAINT) {
        // A refused row comes with the server's closing record, as SQL Server's does.
        f.Records.push_back(ErrorRecord{f.Result, message, "23000", 2627, line});
        f.Records.push_back(ErrorRecord{f.Result, "The statement has been terminated.", "01000", 3621, line});
    } else {
        const std::string state = message.find("no such table") != std::string::npos ? "42S02" : "42000";
        f.Records.push_back(ErrorRecord{f.Result, message, state, code, line});
    }
    throw f;
}

sqlite3_stmt* PrepareSql(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), int(sql.size()), &stmt, nullptr) != SQLITE_OK)
        SqliteFailure(db, sql);
    if (stmt == nullptr) Throw(DB_E_ERRORSINCOMMAND, "Empty statement", "42000");
    return stmt;
}

std::vector<Row> StepAll(sqlite3* db, sqlite3_stmt* stmt, const std::string& sql) {
    std::vector<Row> rows;
    while (true) {
        const int rc = sqlite3_step(stmt);
        if (rc == SQLITE_DONE) break;
        if (rc != SQLITE_ROW) {
            sqlite3_reset(stmt);
            SqliteFailure(db, sql);
        }
        Row row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i)
            row.push_back(kwstandin::ColumnValue(stmt, i));
        rows.push_back(std::move(row));
    }
    return rows;
}

// FoxPro's date literals, as functions of the stand-in's connections.
void DateFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    int v[6] = {};
    for (int i = 0; i < argc && i < 6; ++i)
        v[i] = sqlite3_value_int(argv[i]);
    char text[40];
    if (argc == 3 && sqlite3_user_data(ctx) == nullptr)
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", v[0], v[1], v[2]);
    else if (argc == 3)
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", v[0], v[1], v[2]);
    else
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", v[0], v[1], v[2], v[3], v[4], v[5]);
    sqlite3_result_text(ctx, text, -1, SQLITE_TRANSIENT);
}

std::string SchemaOf(const Database& db) {
    return db.Who == Identity::SqlServer ? "dbo" : "main";
}

std::string CatalogOf(const Database& db) {
    if (!db.Catalog.empty()) return db.Catalog;
    std::string stem = db.Path.substr(db.Path.find_last_of('/') + 1);
    return stem.substr(0, stem.rfind('.'));
}

bool Matches(const std::vector<std::string>& restrictions, size_t index, const std::string& value) {
    return index >= restrictions.size() || restrictions[index].empty() ||
           SameText(restrictions[index], value);
}

std::vector<std::string> UserTables(sqlite3* db, std::vector<std::string>* types = nullptr) {
    std::vector<std::string> names;
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(
        db,
        "select name, type from main.sqlite_master where type in ('table', 'view') and name not like "
        "'sqlite_%' order by name",
        -1, &stmt, nullptr);
    while (stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW) {
        names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
        if (types != nullptr)
            types->emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)));
    }
    sqlite3_finalize(stmt);
    return names;
}

Value Text(const std::string& s) {
    return Value::Text(s);
}

Value Bool(bool b) {
    return Value::Int(b ? -1 : 0);
}

struct ProcParam {
    const char* Name;
    int Ordinal;
    int Type;  // 1 input, 2 in/out, 3 output, 4 result value
};

struct Procedure {
    const char* Name;
    int Type;  // 2 procedure, 3 function
    std::vector<ProcParam> Params;
};

const std::vector<Procedure>& Procedures() {
    static const std::vector<Procedure> procedures = {
        {"KW_ADD", 2, {{"@A", 1, 1}, {"@B", 2, 1}, {"@SUM", 3, 3}}},
        {"KW_SQUARES_WITH_TOTAL", 3, {{"@RETURN_VALUE", 0, 4}, {"@N", 1, 1}, {"@TOTAL", 2, 3}}},
        {"KW_NOTHING", 2, {}},
    };
    return procedures;
}

bool ParseTime(const std::string& text, DateTimeParts& parts) {
    return kwstandin::ParseDateTime(text, parts) || kwstandin::ParseDateTime("0001-01-01 " + text, parts);
}

void Put(uint8_t* data, DBBYTEOFFSET offset, const void* value, size_t size) {
    std::memcpy(data + offset, value, size);
}

}  // namespace

std::string GuidText(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                  g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                  g.Data4[7]);
    return text;
}

bool GuidFromText(const std::string& text, uint8_t bytes[16]) {
    std::string t = TrimText(text);
    if (t.size() == 38 && t.front() == '{' && t.back() == '}') t = t.substr(1, 36);
    if (t.size() != 36) return false;
    uint8_t digits[16];
    int n = 0;
    for (size_t i = 0; i < t.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (t[i] != '-') return false;
            ++i;
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(t[i])) ||
            !std::isxdigit(static_cast<unsigned char>(t[i + 1])))
            return false;
        digits[n++] = uint8_t(std::stoi(t.substr(i, 2), nullptr, 16));
        i += 2;
    }
    // The first three groups are little-endian numbers in the binary form.
    const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 16; ++i)
        bytes[i] = digits[order[i]];
    return true;
}

std::shared_ptr<Database> OpenDatabase(const std::string& path, Identity who) {
    auto db = std::make_shared<Database>();
    db->Path = path;
    db->Who = who;
    if (sqlite3_open_v2(path.c_str(), &db->Db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK)
        Throw(E_FAIL, "Cannot open the database '" + path + "'", "08001", 4060);
    sqlite3_busy_timeout(db->Db, 60000);
    static int timeKey = 1;
    sqlite3_create_function(db->Db, "DATE", 3, SQLITE_UTF8, nullptr, DateFunction, nullptr, nullptr);
    sqlite3_create_function(db->Db, "TIME", 3, SQLITE_UTF8, &timeKey, DateFunction, nullptr, nullptr);
    sqlite3_create_function(db->Db, "DATETIME", 6, SQLITE_UTF8, nullptr, DateFunction, nullptr, nullptr);
    return db;
}

bool HasMarkers(const std::string& sql) {
    char quote = 0;
    for (char c : sql) {
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '?') {
            return true;
        }
    }
    return false;
}

Result RunStatement(Database& db, const std::string& sql, const std::vector<Value>& params,
                    DBROWCOUNT& affected) {
    sqlite3_stmt* stmt = PrepareSql(db.Db, sql);
    struct Finalize {
        sqlite3_stmt* s;
        ~Finalize() { sqlite3_finalize(s); }
    } finalize{stmt};
    for (int i = 1; i <= sqlite3_bind_parameter_count(stmt); ++i)
        kwstandin::BindValue(stmt, i, size_t(i) <= params.size() ? params[size_t(i - 1)] : Value::Null());
    Result r;
    r.Rows = StepAll(db.Db, stmt, sql);
    if (sqlite3_column_count(stmt) > 0) {
        r.Columns = Describe(db.Db, stmt, r.Rows);
        affected = -1;
    } else {
        r.Rows.clear();
        affected = sqlite3_changes(db.Db);
    }
    return r;
}

std::vector<Column> DescribeStatement(Database& db, const std::string& sql) {
    sqlite3_stmt* stmt = PrepareSql(db.Db, sql);
    std::vector<Row> peek;
    if (sqlite3_stmt_readonly(stmt) && sqlite3_column_count(stmt) > 0) {
        try {
            peek = StepAll(db.Db, stmt, sql);
        } catch (const Failure&) {
        }
    }
    std::vector<Column> columns = Describe(db.Db, stmt, peek);
    sqlite3_finalize(stmt);
    return columns;
}

bool ParseCall(const std::string& text, std::string& name, int& markers, bool& result) {
    std::string t = TrimText(text);
    if (t.size() < 2 || t.front() != '{' || t.back() != '}') return false;
    t = TrimText(t.substr(1, t.size() - 2));
    result = false;
    markers = 0;
    if (t.rfind("?=", 0) == 0) {
        result = true;
        ++markers;
        t = TrimText(t.substr(2));
    }
    if (Upper(t.substr(0, 5)) != "CALL ") return false;
    t = TrimText(t.substr(5));
    const size_t paren = t.find('(');
    name = TrimText(t.substr(0, paren));
    if (paren != std::string::npos) markers += int(std::count(t.begin() + long(paren), t.end(), '?'));
    return !name.empty();
}

std::vector<Result> RunProcedure(const std::string& fullName, const std::map<DBORDINAL, Value>& inputs,
                                 std::map<DBORDINAL, Value>& outputs) {
    const std::string name = Upper(fullName.substr(fullName.find_last_of('.') + 1));
    auto in = [&](DBORDINAL ordinal) {
        auto it = inputs.find(ordinal);
        return it == inputs.end() ? Value::Null() : it->second;
    };
    if (name == "KW_ADD") {
        const Value a = in(1), b = in(2);
        outputs[3] = a.IsNull() || b.IsNull() ? Value::Null() : Value::Int(a.AsInteger() + b.AsInteger());
        return {};
    }
    if (name == "KW_NOTHING") return {};
    if (name == "KW_SQUARES_WITH_TOTAL") {
        const Value n = in(2);
        const int64_t count = n.IsNull() ? 0 : std::max<int64_t>(n.AsInteger(), 0);
        Result squares;
        squares.Columns = {Col("I", DBTYPE_I4, 4, false), Col("SQUARE", DBTYPE_I4, 4, false)};
        int64_t total = 0;
        for (int64_t i = 1; i <= count; ++i) {
            squares.Rows.push_back({Value::Int(i), Value::Int(i * i)});
            total += i * i;
        }
        Result summary;
        summary.Columns = {Col("COUNT", DBTYPE_I4, 4, false)};
        summary.Rows.push_back({Value::Int(count)});
        outputs[1] = Value::Int(count);
        outputs[3] = Value::Int(total);
        return {squares, summary};
    }
    Throw(DB_E_ERRORSINCOMMAND, "Could not find stored procedure '" + fullName + "'", "42000", 2812);
}

Result SchemaRows(Database& db, const GUID& schema, const std::vector<std::string>& r) {
    Result out;
    const std::string catalog = CatalogOf(db);
    const std::string owner = SchemaOf(db);
    const Value null = Value::Null();
    if (schema == DBSCHEMA_TABLES) {
        out.Columns = {
            Col("TABLE_CATALOG", DBTYPE_WSTR, 128),      Col("TABLE_SCHEMA", DBTYPE_WSTR, 128),
            Col("TABLE_NAME", DBTYPE_WSTR, 128),         Col("TABLE_TYPE", DBTYPE_WSTR, 128),
            Col("TABLE_GUID", DBTYPE_GUID, 16),          Col("DESCRIPTION", DBTYPE_WSTR, 255),
            Col("TABLE_PROPID", DBTYPE_UI4, 4),          Col("DATE_CREATED", DBTYPE_DBTIMESTAMP, 16),
            Col("DATE_MODIFIED", DBTYPE_DBTIMESTAMP, 16)};
        std::vector<std::string> types;
        std::vector<std::string> names = UserTables(db.Db, &types);
        for (std::string& t : types)
            t = t == "view" ? "VIEW" : "TABLE";
        names.push_back("sqlite_master");
        types.push_back("SYSTEM TABLE");
        names.push_back("KW_SYSTEM_VIEW");
        types.push_back("SYSTEM VIEW");
        for (size_t i = 0; i < names.size(); ++i) {
            if (!Matches(r, 0, catalog) || !Matches(r, 1, owner) || !Matches(r, 2, names[i])) continue;
            if (!G().IgnoreTypeRestriction && !Matches(r, 3, types[i])) continue;
            out.Rows.push_back(
                {Text(catalog), Text(owner), Text(names[i]), Text(types[i]), null, null, null, null, null});
        }
        return out;
    }
    if (schema == DBSCHEMA_COLUMNS) {
        const char* names[] = {"TABLE_CATALOG",
                               "TABLE_SCHEMA",
                               "TABLE_NAME",
                               "COLUMN_NAME",
                               "COLUMN_GUID",
                               "COLUMN_PROPID",
                               "ORDINAL_POSITION",
                               "COLUMN_HASDEFAULT",
                               "COLUMN_DEFAULT",
                               "COLUMN_FLAGS",
                               "IS_NULLABLE",
                               "DATA_TYPE",
                               "TYPE_GUID",
                               "CHARACTER_MAXIMUM_LENGTH",
                               "CHARACTER_OCTET_LENGTH",
                               "NUMERIC_PRECISION",
                               "NUMERIC_SCALE",
                               "DATETIME_PRECISION",
                               "CHARACTER_SET_CATALOG",
                               "CHARACTER_SET_SCHEMA",
                               "CHARACTER_SET_NAME",
                               "COLLATION_CATALOG",
                               "COLLATION_SCHEMA",
                               "COLLATION_NAME",
                               "DOMAIN_CATALOG",
                               "DOMAIN_SCHEMA",
                               "DOMAIN_NAME",
                               "DESCRIPTION"};
        const DBTYPE types[] = {DBTYPE_WSTR, DBTYPE_WSTR, DBTYPE_WSTR, DBTYPE_WSTR, DBTYPE_GUID, DBTYPE_UI4,
                                DBTYPE_UI4,  DBTYPE_BOOL, DBTYPE_WSTR, DBTYPE_UI4,  DBTYPE_BOOL, DBTYPE_UI2,
                                DBTYPE_GUID, DBTYPE_UI4,  DBTYPE_UI4,  DBTYPE_UI2,  DBTYPE_I2,   DBTYPE_UI4,
                                DBTYPE_WSTR, DBTYPE_WSTR, DBTYPE_WSTR, DBTYPE_WSTR, DBTYPE_WSTR, DBTYPE_WSTR,
                                DBTYPE_WSTR, DBTYPE_WSTR, DBTYPE_WSTR, DBTYPE_WSTR};
        for (size_t i = 0; i < std::size(names); ++i)
            out.Columns.push_back(Col(names[i], types[i],
                                      types[i] == DBTYPE_WSTR   ? 128
                                      : types[i] == DBTYPE_GUID ? 16
                                                                : 4));
        for (const std::string& table : UserTables(db.Db)) {
            if (!Matches(r, 0, catalog) || !Matches(r, 1, owner) || !Matches(r, 2, table)) continue;
            sqlite3_stmt* info = nullptr;
            sqlite3_prepare_v2(db.Db, ("pragma main.table_info(\"" + table + "\")").c_str(), -1, &info,
                               nullptr);
            while (info != nullptr && sqlite3_step(info) == SQLITE_ROW) {
                const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(info, 1));
                const char* declared = reinterpret_cast<const char*>(sqlite3_column_text(info, 2));
                const bool notNull = sqlite3_column_int(info, 3) != 0 || sqlite3_column_int(info, 5) != 0;
                const bool hasDefault = sqlite3_column_type(info, 4) != SQLITE_NULL;
                const Column c = ColumnOfDeclared(name, declared);
                const bool text = c.Type == DBTYPE_STR || c.Type == DBTYPE_WSTR || c.Type == DBTYPE_BYTES;
                Row row(std::size(names), null);
                row[0] = Text(catalog);
                row[1] = Text(owner);
                row[2] = Text(table);
                row[3] = Text(name);
                row[6] = Value::Int(sqlite3_column_int(info, 0) + 1);
                row[7] = Bool(hasDefault);
                if (hasDefault) row[8] = Text(reinterpret_cast<const char*>(sqlite3_column_text(info, 4)));
                row[9] = Value::Int(c.Flags);
                row[10] = Bool(!notNull);
                row[11] = Value::Int(c.Type);
                if (text) row[13] = row[14] = Value::Int(int64_t(c.Size));
                if (c.Type == DBTYPE_NUMERIC) {
                    row[15] = Value::Int(c.Precision);
                    row[16] = Value::Int(c.Scale);
                }
                out.Rows.push_back(row);
            }
            sqlite3_finalize(info);
        }
        return out;
    }
    if (schema == DBSCHEMA_INDEXES) {
        const char* names[] = {
            "TABLE_CATALOG",  "TABLE_SCHEMA",     "TABLE_NAME",  "INDEX_CATALOG",    "INDEX_SCHEMA",
            "INDEX_NAME",     "PRIMARY_KEY",      "UNIQUE",      "CLUSTERED",        "TYPE",
            "FILL_FACTOR",    "INITIAL_SIZE",     "NULLS",       "SORT_BOOKMARKS",   "AUTO_UPDATE",
            "NULL_COLLATION", "ORDINAL_POSITION", "COLUMN_NAME", "COLUMN_GUID",      "COLUMN_PROPID",
            "COLLATION",      "CARDINALITY",      "PAGES",       "FILTER_CONDITION", "INTEGRATED"};
        const DBTYPE types[] = {DBTYPE_WSTR, DBTYPE_WSTR, DBTYPE_WSTR, DBTYPE_WSTR, DBTYPE_WSTR,
                                DBTYPE_WSTR, DBTYPE_BOOL, DBTYPE_BOOL, DBTYPE_BOOL, DBTYPE_UI2,
                                DBTYPE_I4,   DBTYPE_I4,   DBTYPE_I4,   DBTYPE_BOOL, DBTYPE_BOOL,
                                DBTYPE_I4,   DBTYPE_UI4,  DBTYPE_WSTR, DBTYPE_GUID, DBTYPE_UI4,
                                DBTYPE_I2,   DBTYPE_UI8,  DBTYPE_I4,   DBTYPE_WSTR, DBTYPE_BOOL};
        for (size_t i = 0; i < std::size(names); ++i)
            out.Columns.push_back(Col(names[i], types[i],
                                      types[i] == DBTYPE_WSTR   ? 128
                                      : types[i] == DBTYPE_GUID ? 16
                                                                : 4));
        for (const std::string& table : UserTables(db.Db)) {
            if (!Matches(r, 0, catalog) || !Matches(r, 1, owner) || !Matches(r, 4, table)) continue;
            auto add = [&](const std::string& index, bool primary, bool unique, int position,
                           const std::string& column, bool descending) {
                if (!Matches(r, 2, index)) return;
                Row row(std::size(names), null);
                row[0] = Text(catalog);
                row[1] = Text(owner);
                row[2] = Text(table);
                row[5] = Text(index);
                row[6] = Bool(primary);
                row[7] = Bool(unique);
                row[8] = Bool(false);
                row[9] = Value::Int(1);
                row[16] = Value::Int(position);
                row[17] = Text(column);
                row[20] = Value::Int(descending ? 2 : 1);
                out.Rows.push_back(row);
            };
            bool keyListed = false;
            std::vector<std::string> keyColumns;
            sqlite3_stmt* info = nullptr;
            sqlite3_prepare_v2(db.Db, ("pragma main.table_info(\"" + table + "\")").c_str(), -1, &info,
                               nullptr);
            while (info != nullptr && sqlite3_step(info) == SQLITE_ROW) {
                const int pk = sqlite3_column_int(info, 5);
                if (pk <= 0) continue;
                if (keyColumns.size() < size_t(pk)) keyColumns.resize(size_t(pk));
                keyColumns[size_t(pk - 1)] = reinterpret_cast<const char*>(sqlite3_column_text(info, 1));
            }
            sqlite3_finalize(info);
            sqlite3_stmt* list = nullptr;
            sqlite3_prepare_v2(db.Db, ("pragma main.index_list(\"" + table + "\")").c_str(), -1, &list,
                               nullptr);
            std::vector<std::tuple<std::string, bool, bool>> indexes;
            while (list != nullptr && sqlite3_step(list) == SQLITE_ROW) {
                const std::string origin = reinterpret_cast<const char*>(sqlite3_column_text(list, 3));
                if (origin == "pk") keyListed = true;
                indexes.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(list, 1)),
                                     origin == "pk", sqlite3_column_int(list, 2) != 0);
            }
            sqlite3_finalize(list);
            for (const auto& [index, primary, unique] : indexes) {
                sqlite3_stmt* cols = nullptr;
                sqlite3_prepare_v2(db.Db, ("pragma main.index_xinfo(\"" + index + "\")").c_str(), -1, &cols,
                                   nullptr);
                while (cols != nullptr && sqlite3_step(cols) == SQLITE_ROW) {
                    if (sqlite3_column_int(cols, 5) == 0 || sqlite3_column_type(cols, 2) == SQLITE_NULL)
                        continue;
                    add(index, primary, unique, sqlite3_column_int(cols, 0) + 1,
                        reinterpret_cast<const char*>(sqlite3_column_text(cols, 2)),
                        sqlite3_column_int(cols, 3) != 0);
                }
                sqlite3_finalize(cols);
            }
            if (!keyListed)
                for (size_t i = 0; i < keyColumns.size(); ++i)
                    add("PK_" + table, true, true, int(i + 1), keyColumns[i], false);
        }
        return out;
    }
    if (schema == DBSCHEMA_PROCEDURES) {
        out.Columns = {
            Col("PROCEDURE_CATALOG", DBTYPE_WSTR, 128),    Col("PROCEDURE_SCHEMA", DBTYPE_WSTR, 128),
            Col("PROCEDURE_NAME", DBTYPE_WSTR, 128),       Col("PROCEDURE_TYPE", DBTYPE_I2, 2),
            Col("PROCEDURE_DEFINITION", DBTYPE_WSTR, 255), Col("DESCRIPTION", DBTYPE_WSTR, 255),
            Col("DATE_CREATED", DBTYPE_DBTIMESTAMP, 16),   Col("DATE_MODIFIED", DBTYPE_DBTIMESTAMP, 16)};
        for (const Procedure& p : Procedures())
            if (Matches(r, 0, catalog) && Matches(r, 1, owner) && Matches(r, 2, p.Name))
                out.Rows.push_back(
                    {Text(catalog), Text(owner), Text(p.Name), Value::Int(p.Type), null, null, null, null});
        return out;
    }
    if (schema == DBSCHEMA_PROCEDURE_PARAMETERS) {
        out.Columns = {Col("PROCEDURE_CATALOG", DBTYPE_WSTR, 128),
                       Col("PROCEDURE_SCHEMA", DBTYPE_WSTR, 128),
                       Col("PROCEDURE_NAME", DBTYPE_WSTR, 128),
                       Col("PARAMETER_NAME", DBTYPE_WSTR, 128),
                       Col("ORDINAL_POSITION", DBTYPE_UI2, 2),
                       Col("PARAMETER_TYPE", DBTYPE_UI2, 2),
                       Col("PARAMETER_HASDEFAULT", DBTYPE_BOOL, 2),
                       Col("PARAMETER_DEFAULT", DBTYPE_WSTR, 255),
                       Col("IS_NULLABLE", DBTYPE_BOOL, 2),
                       Col("DATA_TYPE", DBTYPE_UI2, 2),
                       Col("CHARACTER_MAXIMUM_LENGTH", DBTYPE_UI4, 4),
                       Col("CHARACTER_OCTET_LENGTH", DBTYPE_UI4, 4),
                       Col("NUMERIC_PRECISION", DBTYPE_UI2, 2),
                       Col("NUMERIC_SCALE", DBTYPE_I2, 2),
                       Col("DESCRIPTION", DBTYPE_WSTR, 255),
                       Col("TYPE_NAME", DBTYPE_WSTR, 128),
                       Col("LOCAL_TYPE_NAME", DBTYPE_WSTR, 128)};
        const std::string wanted = r.size() > 2 ? r[2].substr(r[2].find_last_of('.') + 1) : "";
        for (const Procedure& p : Procedures()) {
            if (!Matches(r, 0, catalog) || !Matches(r, 1, owner) ||
                (!wanted.empty() && !SameText(wanted, p.Name)))
                continue;
            for (const ProcParam& a : p.Params)
                out.Rows.push_back({Text(catalog), Text(owner), Text(p.Name), Text(a.Name),
                                    Value::Int(a.Ordinal), Value::Int(a.Type), Bool(false), null, Bool(true),
                                    Value::Int(DBTYPE_I4), null, null, Value::Int(10), null, null,
                                    Text("int"), Text("int")});
        }
        return out;
    }
    Throw(E_INVALIDARG, "Schema " + GuidText(schema) + " is not supported", "HY000");
}

// ---------------------------------------------------------------------------------------------
// Bound values

Value ReadBound(const DBBINDING& b, const uint8_t* data) {
    DBSTATUS status = DBSTATUS_S_OK;
    if (b.dwPart & DBPART_STATUS) std::memcpy(&status, data + b.obStatus, sizeof status);
    if (status == DBSTATUS_S_ISNULL) return Value::Null();
    DBLENGTH length = b.cbMaxLen;
    if (b.dwPart & DBPART_LENGTH) std::memcpy(&length, data + b.obLength, sizeof length);
    const uint8_t* value = data + b.obValue;
    if (b.wType & DBTYPE_BYREF) {
        const void* p = nullptr;
        std::memcpy(&p, value, sizeof p);
        const std::string bytes(static_cast<const char*>(p), p != nullptr ? length : 0);
        return (b.wType & ~DBTYPE_BYREF) == DBTYPE_STR ? Value::Text(bytes) : Value::Blob(bytes);
    }
    switch (b.wType) {
        case DBTYPE_I2: {
            int16_t v = 0;
            std::memcpy(&v, value, 2);
            return Value::Int(v);
        }
        case DBTYPE_UI2: {
            uint16_t v = 0;
            std::memcpy(&v, value, 2);
            return Value::Int(v);
        }
        case DBTYPE_I4: {
            int32_t v = 0;
            std::memcpy(&v, value, 4);
            return Value::Int(v);
        }
        case DBTYPE_I8: {
            int64_t v = 0;
            std::memcpy(&v, value, 8);
            return Value::Int(v);
        }
        case DBTYPE_R8: {
            double v = 0;
            std::memcpy(&v, value, 8);
            return Value::Float(v);
        }
        case DBTYPE_STR:
            return Value::Text(
                std::string(reinterpret_cast<const char*>(value),
                            strnlen(reinterpret_cast<const char*>(value), std::min(length, b.cbMaxLen))));
        case DBTYPE_BYTES:
            return Value::Blob(
                std::string(reinterpret_cast<const char*>(value), std::min(length, b.cbMaxLen)));
        case DBTYPE_DBDATE: {
            DBDATE d{};
            std::memcpy(&d, value, sizeof d);
            DateTimeParts p;
            p.Year = d.year, p.Month = d.month, p.Day = d.day;
            return Value::Text(kwstandin::FormatDateTime(p).substr(0, 10));
        }
        case DBTYPE_DBTIME: {
            DBTIME t{};
            std::memcpy(&t, value, sizeof t);
            char text[32];
            std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour, t.minute, t.second);
            return Value::Text(text);
        }
        case DBTYPE_DBTIMESTAMP: {
            DBTIMESTAMP t{};
            std::memcpy(&t, value, sizeof t);
            DateTimeParts p;
            p.Year = t.year, p.Month = t.month, p.Day = t.day, p.Hour = t.hour, p.Minute = t.minute,
            p.Second = t.second;
            p.Nanosecond = t.fraction;
            return Value::Text(kwstandin::FormatDateTime(p));
        }
        case DBTYPE_GUID: {
            GUID g{};
            std::memcpy(&g, value, sizeof g);
            return Value::Text(GuidText(g));
        }
        default:
            Throw(DB_E_BADBINDINFO, "Parameter type " + std::to_string(b.wType) + " is not taken", "07006");
    }
}

DBSTATUS WriteBound(const DBBINDING& b, uint8_t* data, const Value& v, const Column* column) {
    DBSTATUS status = DBSTATUS_S_OK;
    DBLENGTH length = 0;
    uint8_t* value = data + b.obValue;
    const bool writeValue = (b.dwPart & DBPART_VALUE) != 0;
    auto integer = [&](int64_t& out) {
        if (v.Type == SQLITE_INTEGER || v.Type == SQLITE_FLOAT) {
            out = v.AsInteger();
            return true;
        }
        const std::string t = TrimText(v.AsText());
        char* end = nullptr;
        out = std::strtoll(t.c_str(), &end, 10);
        return !t.empty() && end != nullptr && *end == 0;
    };
    if (v.IsNull()) {
        status = DBSTATUS_S_ISNULL;
    } else {
        switch (b.wType) {
            case DBTYPE_I2:
            case DBTYPE_UI2:
            case DBTYPE_I4:
            case DBTYPE_I8: {
                int64_t n = 0;
                if (!integer(n)) {
                    status = DBSTATUS_E_CANTCONVERTVALUE;
                    break;
                }
                const size_t size = b.wType == DBTYPE_I8 ? 8 : b.wType == DBTYPE_I4 ? 4 : 2;
                if (writeValue) {
                    if (size == 8)
                        Put(data, b.obValue, &n, 8);
                    else if (size == 4) {
                        const int32_t x = int32_t(n);
                        Put(data, b.obValue, &x, 4);
                    } else {
                        const int16_t x = int16_t(n);
                        Put(data, b.obValue, &x, 2);
                    }
                }
                length = size;
                break;
            }
            case DBTYPE_R8: {
                double x = v.AsReal();
                if (v.Type == SQLITE_TEXT) {
                    char* end = nullptr;
                    const std::string t = TrimText(v.AsText());
                    x = std::strtod(t.c_str(), &end);
                    if (t.empty() || *end != 0) {
                        status = DBSTATUS_E_CANTCONVERTVALUE;
                        break;
                    }
                }
                if (writeValue) Put(data, b.obValue, &x, 8);
                length = 8;
                break;
            }
            case DBTYPE_STR:
            case DBTYPE_BYTES: {
                std::string bytes = v.AsText();
                if (b.wType == DBTYPE_STR && column != nullptr && column->Fixed &&
                    bytes.size() < column->Size)
                    bytes.append(column->Size - bytes.size(), ' ');  // CHAR(n) is blank-padded
                const size_t room =
                    b.wType == DBTYPE_STR ? (b.cbMaxLen > 0 ? b.cbMaxLen - 1 : 0) : b.cbMaxLen;
                const size_t n = std::min(bytes.size(), room);
                if (writeValue) {
                    std::memcpy(value, bytes.data(), n);
                    if (b.wType == DBTYPE_STR && b.cbMaxLen > 0) value[n] = 0;
                }
                if (n < bytes.size()) status = DBSTATUS_S_TRUNCATED;
                length = bytes.size();
                break;
            }
            case DBTYPE_DBDATE:
            case DBTYPE_DBTIME:
            case DBTYPE_DBTIMESTAMP: {
                DateTimeParts p;
                const std::string t = v.AsText();
                const bool ok = v.Type == SQLITE_TEXT &&
                                (b.wType == DBTYPE_DBTIME ? ParseTime(t, p) : kwstandin::ParseDateTime(t, p));
                if (!ok) {
                    status = DBSTATUS_E_CANTCONVERTVALUE;
                    break;
                }
                if (b.wType == DBTYPE_DBDATE) {
                    const DBDATE d{int16_t(p.Year), uint16_t(p.Month), uint16_t(p.Day)};
                    if (writeValue) Put(data, b.obValue, &d, sizeof d);
                    length = sizeof d;
                } else if (b.wType == DBTYPE_DBTIME) {
                    const DBTIME d{uint16_t(p.Hour), uint16_t(p.Minute), uint16_t(p.Second)};
                    if (writeValue) Put(data, b.obValue, &d, sizeof d);
                    length = sizeof d;
                } else {
                    const DBTIMESTAMP d{int16_t(p.Year),  uint16_t(p.Month),  uint16_t(p.Day),
                                        uint16_t(p.Hour), uint16_t(p.Minute), uint16_t(p.Second),
                                        p.Nanosecond};
                    if (writeValue) Put(data, b.obValue, &d, sizeof d);
                    length = sizeof d;
                }
                break;
            }
            case DBTYPE_GUID: {
                uint8_t bytes[16];
                if (v.Type == SQLITE_BLOB && v.Bytes.size() == 16) {
                    std::memcpy(bytes, v.Bytes.data(), 16);
                } else if (!GuidFromText(v.AsText(), bytes)) {
                    status = DBSTATUS_E_CANTCONVERTVALUE;
                    break;
                }
                if (writeValue) Put(data, b.obValue, bytes, 16);
                length = 16;
                break;
            }
            default:
                status = DBSTATUS_E_CANTCONVERTVALUE;
                break;
        }
    }
    if (b.dwPart & DBPART_LENGTH) Put(data, b.obLength, &length, sizeof length);
    if (b.dwPart & DBPART_STATUS) Put(data, b.obStatus, &status, sizeof status);
    return status;
}

}  // namespace kwoledb
