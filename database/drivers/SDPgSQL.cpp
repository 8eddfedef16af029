// database/drivers/SDPgSQL.cpp: the PostgreSQL driver's library, connection and catalog
// queries (unit SDPgSQL). The command lives in SDPgSQLCommand.cpp, the literals and the
// decoders of the server's text forms in SDPgSQLText.cpp.
#include "database/drivers/SDPgSQL.h"

#include <algorithm>

#include "database/engine/SDCommonSqlText.h"
#include "database/engine/SDCommonUpdateSql.h"
#include "database/engine/SDEngine.h"
#include "rtl/Assert.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

constexpr const char* kPgLibraryName = "libpq.so.5";

TPgFunctions gPg;

const std::vector<TSDClientEntry>& PgEntries() {
    static const std::vector<TSDClientEntry> entries = {
#define KW_PG_TABLE_ENTRY(name, required) {#name, &gPg.name, required},
        KW_PG_ENTRY_POINTS(KW_PG_TABLE_ENTRY)
#undef KW_PG_TABLE_ENTRY
    };
    return entries;
}

bool IsDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The unit's library

const TPgFunctions& PgFunctions() {
    return gPg;
}

TSDClientLibrary& PgLibrary() {
    static TSDClientLibrary library(kPgLibraryName, stPostgreSQL, "PostgreSQL");
    return library;
}

void LoadPgSQLLibrary() {
    PgLibrary().Load(PgEntries());
}

void UnloadPgSQLLibrary() {
    PgLibrary().Unload(PgEntries());
}

std::unique_ptr<TISqlDatabase> CreatePostgreSQLDatabase(rtl::Component* owner, const rtl::StringList& params) {
    PgLibrary().TakeNameFromParams(params);
    return std::make_unique<TIPgDatabase>(owner, params);
}

void RegisterPostgreSQLDriver() {
    RegisterSqlDatabaseFactory(stPostgreSQL, [](TSDDatabase* owner, const rtl::StringList& params) {
        return CreatePostgreSQLDatabase(owner, params);
    });
}

// ---------------------------------------------------------------------------------------------
// TIPgDatabase

TIPgDatabase::TIPgDatabase(rtl::Component* owner, const rtl::StringList& params)
    : TISqlDatabase(owner, params, stPostgreSQL) {}

TIPgDatabase::~TIPgDatabase() {
    try {
        DoDisconnect(true);
    } catch (const std::exception&) {
        // Nobody is left to report a failed release to.
    }
}

void TIPgDatabase::AllocHandle() {
    rtl::Assert(handle_ == nullptr, "TIPgDatabase.AllocHandle");
    handle_ = std::make_unique<TPgHandle>();
}

PGconn* TIPgDatabase::GetPgConn() const {
    rtl::Assert(handle_ != nullptr, "TIPgDatabase.GetPgConn");
    return handle_->Conn;
}

void TIPgDatabase::DoConnect(const std::string& remoteDatabase, const std::string& userName,
                             const std::string& password) {
    LoadPgSQLLibrary();
    try {
        AllocHandle();
    } catch (...) {
        UnloadPgSQLLibrary();
        throw;
    }
    // host[:port]:database (or with "@"): the database part may carry the port in front.
    const std::string host = ExtractServerName(remoteDatabase);
    std::string database = ExtractDatabaseName(remoteDatabase);
    std::string port = rtl::Trim(Params.Values("SERVER PORT"));
    if (database.find_first_of(":@") != std::string::npos) {
        port = ExtractServerName(database);
        database = ExtractDatabaseName(database);
    }
    handle_->Conn = gPg.PQsetdbLogin(host.c_str(), port.c_str(), nullptr, nullptr, database.c_str(),
                                     userName.c_str(), password.c_str());
    maxCharBytes_ = 0;
    CheckConnection();
    // The engine hands the isolation level over before connecting and never again: a level
    // the caller chose must reach the server with the connection.
    SetTransIsolation(TransIsolation);
}

void TIPgDatabase::DoDisconnect(bool) {
    if (handle_ == nullptr) return;
    if (handle_->Conn != nullptr) {
        if (InTransaction) {
            try {
                ExecControl("ROLLBACK", false);
            } catch (const std::exception&) {
                // A rollback on a broken connection has nothing to undo.
            }
        }
        gPg.PQfinish(handle_->Conn);
        handle_->Conn = nullptr;
    }
    handle_.reset();
    UnloadPgSQLLibrary();
}

void TIPgDatabase::DoCommit() {
    ExecControl("COMMIT", true);
}

void TIPgDatabase::DoRollback() {
    ExecControl("ROLLBACK", true);
}

void TIPgDatabase::DoStartTransaction() {
    ExecControl("BEGIN", true);
}

void* TIPgDatabase::GetHandle() {
    return handle_.get();
}

void TIPgDatabase::SetAutoCommitOption(bool) {}

void TIPgDatabase::SetHandle(void* handle) {
    rtl::Assert(handle != nullptr, "TIPgDatabase.SetHandle");
    LoadPgSQLLibrary();
    try {
        AllocHandle();
    } catch (...) {
        UnloadPgSQLLibrary();
        throw;
    }
    handle_->Conn = static_cast<const TPgHandle*>(handle)->Conn;
    maxCharBytes_ = 0;
}

TISqlCommandPtr TIPgDatabase::CreateSqlCommand(rtl::Component* ownerDataSet) {
    return MakeSqlCommand<TIPgCommand>(this, ownerDataSet);
}

int32_t TIPgDatabase::GetClientVersion() {
    return PgLibrary().FileVersion();
}

int32_t TIPgDatabase::GetServerVersion() {
    return ParseVersionNumber(GetVersionString());
}

std::string TIPgDatabase::GetVersionString() {
    PGresult* r = gPg.PQexec(GetPgConn(), "select version()");
    CheckResult(r);
    std::string text;
    if (gPg.PQntuples(r) > 0 && gPg.PQnfields(r) > 0) text = gPg.PQgetvalue(r, 0, 0);
    gPg.PQclear(r);
    return text;
}

std::string TIPgDatabase::OldValueCondition(const TSDFieldDesc& desc, const std::string& column,
                                            const std::string& marker) {
    TSDHeldAs heldAs = TSDHeldAs::Exact;
    switch (desc.NativeType) {
        case 1083:  // time
        case 1114:  // timestamp
        case 1184:  // timestamptz
            heldAs = TSDHeldAs::Milliseconds;
            break;
        case 700:  // real
            heldAs = TSDHeldAs::SingleAsDouble;
            break;
        case 1700:  // numeric
            if (desc.FieldType == ftFloat) heldAs = TSDHeldAs::NumericAsDouble;
            break;
        default:
            break;
    }
    return PostgresOldValueCondition(desc.FieldType, heldAs, column, marker);
}

bool TIPgDatabase::TestConnected() {
    TISqlCommandPtr cmd = CreateSqlCommand(nullptr);
    cmd->ExecDirect("select 1 from pg_class where 0=1");
    return true;
}

void TIPgDatabase::SetTransIsolation(TSDTransIsolation value) {
    ExecControl(std::string("SET SESSION CHARACTERISTICS AS TRANSACTION ISOLATION LEVEL ") +
                    (value == tiRepeatableRead ? "SERIALIZABLE" : "READ COMMITTED"),
                true);
}

void TIPgDatabase::RaiseError(const std::string& message) {
    PGconn* conn = handle_ != nullptr ? handle_->Conn : nullptr;
    const bool broken = conn == nullptr || gPg.PQstatus(conn) == CONNECTION_BAD;
    const std::string text = message.empty() && conn != nullptr ? gPg.PQerrorMessage(conn) : message;
    EndWaitCursor();
    HandleError(ESDPgSQLError(-1, -1, text, 0, message.empty() || broken));
}

void TIPgDatabase::CheckConnection() {
    MarkActivity();
    PGconn* conn = GetPgConn();
    if (conn != nullptr && gPg.PQstatus(conn) == CONNECTION_OK) return;
    EndWaitCursor();
    const std::string message = conn != nullptr ? gPg.PQerrorMessage(conn) : "";
    HandleError(ESDPgSQLError(-1, -1, message, 0, message.empty()));
}

void TIPgDatabase::CheckResult(PGresult* result) {
    MarkActivity();
    const ExecStatusType status = gPg.PQresultStatus(result);
    if (status == PGRES_EMPTY_QUERY || status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return;
    const std::string message = result != nullptr ? gPg.PQresultErrorMessage(result) : "";
    if (result != nullptr) gPg.PQclear(result);
    // A query that fails because the connection broke under it reports the server's or the
    // network's message; only the connection's state tells that it is gone.
    RaiseError(message);
}

void TIPgDatabase::ExecControl(const std::string& sql, bool check) {
    PGresult* r = gPg.PQexec(GetPgConn(), sql.c_str());
    if (check) CheckResult(r);  // frees a failed result itself before it raises
    if (r != nullptr) gPg.PQclear(r);
}

int TIPgDatabase::MaxCharBytes() {
    if (maxCharBytes_ > 0) return maxCharBytes_;
    PGconn* conn = GetPgConn();
    int most = 1;
    if (conn != nullptr) {
        // The length the client gives each possible lead byte: 1 throughout for single-byte
        // encodings, up to 4 for UTF-8 (the trailing bytes make GB18030's four-byte form).
        const int encoding = gPg.PQclientEncoding(conn);
        for (int lead = 0x80; lead <= 0xFF; ++lead) {
            const char probe[5] = {char(lead), '0', '0', '0', 0};
            most = std::max(most, gPg.PQmblen(probe, encoding));
        }
    }
    maxCharBytes_ = std::clamp(most, 1, 4);
    return maxCharBytes_;
}

// ---------------------------------------------------------------------------------------------
// Catalog queries

TISqlCommandPtr TIPgDatabase::GetSchemaInfo(TSDSchemaType kind, const std::string& objectName) {
    const std::string pattern = PgStringLiteral(objectName);
    std::string sql;
    switch (kind) {
        case stTables:
        case stSysTables:
            sql = rtl::Format(
                "select '' as CATALOG_NAME, usename as SCHEMA_NAME, relname as TABLE_NAME, CASE relkind "
                "WHEN 'r' THEN 1 WHEN 'v' THEN 2 END as TABLE_TYPE from pg_class, pg_user where relowner = "
                "usesysid and relkind in ('r', 'v') %s order by usename, relname",
                objectName.empty() ? std::string() : " and UPPER(relname) like UPPER(" + pattern + ")");
            break;
        case stProcedures:
            // pg_user, not pg_shadow: it has the columns used and needs no superuser.
            sql = rtl::Format(
                "select '' as CATALOG_NAME, usename as SCHEMA_NAME, proname as PROC_NAME, CASE WHEN "
                "prorettype = 0 THEN 1 ELSE 2 END as PROC_TYPE, pronargs as IN_PARAMS, pronargs as "
                "OUT_PARAMS, typname as RET_TYPE, proargtypes as ARG_TYPES from pg_proc, pg_user, pg_type st "
                "where proowner = usesysid and prorettype = st.oid %s order by usename, proname",
                objectName.empty() ? std::string() : " and UPPER(proname) like UPPER(" + pattern + ")");
            break;
        case stColumns:
            sql = rtl::Format(
                "select '' as CATALOG_NAME, usename as SCHEMA_NAME, relname as TABLE_NAME, attname as "
                "COLUMN_NAME, attnum as COLUMN_POSITION, 0 as COLUMN_TYPE, typname as COLUMN_TYPENAME, CASE "
                "attlen WHEN -1 THEN (CASE atttypmod WHEN -1 THEN 0 ELSE atttypmod END) ELSE CAST(attlen as "
                "integer) END as COLUMN_LENGTH, CASE WHEN attnotnull THEN 0 ELSE 1 END as COLUMN_NULLABLE, "
                "'' as COLUMN_DEFAULT from pg_class so, pg_user, pg_attribute, pg_type st where relowner = "
                "usesysid and attrelid = so.oid and relkind in ('r', 'v') and  attnum > 0 and UPPER(relname) "
                "like UPPER(%s) and atttypid = st.oid order by usename, relname, attnum",
                pattern);
            break;
        case stIndexes: {
            // The indexes' key columns first, so that the second query keeps only those.
            std::string condition;
            {
                TISqlCommandPtr keys = CreateSqlCommand(nullptr);
                keys->Prepare(rtl::Format(
                    "select si.oid, indkey, si.relname from pg_index, pg_class st, pg_class si where "
                    "indrelid = st.oid and indexrelid = si.oid and UPPER(st.relname) = UPPER(%s)",
                    pattern));
                keys->Execute();
                auto& pgKeys = static_cast<TIPgCommand&>(*keys);
                while (keys->FetchNextRow()) {
                    std::string oid;
                    std::string columns;
                    pgKeys.GetFieldText(1, oid);
                    pgKeys.GetFieldText(2, columns);
                    columns = rtl::StringReplace(rtl::Trim(columns), " ", ",");
                    // Both come from the server's catalog; pasted only when they are numbers.
                    if (!IsDigits(oid) || !IsDigits(rtl::StringReplace(columns, ",", ""))) continue;
                    if (!condition.empty()) condition += " or ";
                    condition += rtl::Format(" (si.oid = %s and pg_attribute.attnum in (%s)) ", oid, columns);
                }
            }
            if (!condition.empty()) condition = " and (" + condition + ") ";
            sql = rtl::Format(
                "select '' as CATALOG_NAME, usename as SCHEMA_NAME, so.relname as TABLE_NAME, si.relname as "
                "INDEX_NAME, attname as COLUMN_NAME, attnum as COLUMN_POSITION, CASE WHEN indisunique THEN 2 "
                "ELSE 1 END + CASE WHEN indisprimary THEN 4 ELSE 0 END as INDEX_TYPE, '' as SORT_ORDER, '' as "
                "INDEX_FILTER from pg_index, pg_class so, pg_class si, pg_user, pg_attribute where indrelid = "
                "so.oid and so.relowner = usesysid and attrelid = so.oid and  indexrelid = si.oid and "
                "UPPER(so.relname) like UPPER(%s) %s order by usename, so.relname, si.relname, attnum",
                pattern, condition);
            break;
        }
        default:
            return nullptr;
    }
    TISqlCommandPtr cmd = CreateSqlCommand(nullptr);
    cmd->ExecDirect(sql);
    return cmd;
}
