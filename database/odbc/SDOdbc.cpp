// database/odbc/SDOdbc.cpp: the ODBC driver's library and connection (unit SDOdbc).
#include "database/odbc/SDOdbc.h"

#include <cstring>

#include "database/engine/SDCommonBuffers.h"
#include "database/engine/SDCommonUpdateSql.h"
#include "database/engine/SDEngine.h"
#include "database/odbc/SDOdbcCells.h"
#include "rtl/Assert.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

using namespace odbcapi;
using odbccells::Succeeded;

namespace {

constexpr const char* kOdbcLibraryName = "libodbc.so.2";

// Internal consistency checks name the routine and the unit.
void AssertRoutine(bool condition, const char* routine) {
    rtl::Assert(condition, "%s (SDOdbc)", routine);
}

SQLPOINTER AsPointer(SQLULEN value) {
    return reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(value));
}

SQLCHAR* Text(const std::string& s) {
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str()));
}

int32_t TrimmedNumber(const rtl::StringList& params, const char* name, bool& present) {
    const std::string value = rtl::Trim(params.Values(name));
    present = !value.empty();
    return rtl::StrToIntDef(value, 0);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The unit's library

TOdbcClientLibrary& OdbcLibrary() {
    static TOdbcClientLibrary library({kOdbcLibraryName, stODBC, false, false},
                                      std::make_unique<TOdbcFunctions>());
    return library;
}

void LoadOdbcLibrary() {
    OdbcLibrary().Load();
}

void UnloadOdbcLibrary() {
    OdbcLibrary().Unload();
}

std::unique_ptr<TISqlDatabase> CreateODBCDatabase(rtl::Component* owner, const rtl::StringList& params) {
    OdbcLibrary().TakeNameFromParams(params);
    return std::make_unique<TIOdbcDatabase>(owner, params);
}

void RegisterOdbcDriver() {
    RegisterSqlDatabaseFactory(stODBC, [](TSDDatabase* owner, const rtl::StringList& params) {
        return CreateODBCDatabase(owner, params);
    });
}

// ---------------------------------------------------------------------------------------------
// Pure rules

std::string AppendOdbcLogin(const std::string& connectString, const std::string& userName,
                            const std::string& password) {
    std::string text = connectString;
    auto separator = [&text] {
        const std::string trimmed = rtl::TrimRight(text);
        return trimmed.empty() || trimmed.back() == ';' ? "" : ";";
    };
    const std::string upper = rtl::UpperCase(connectString);
    if (upper.find("UID=") == std::string::npos && upper.find("USERID=") == std::string::npos &&
        !userName.empty())
        text += separator() + std::string("UID=") + OdbcAttributeValue(userName);
    if (upper.find("PWD=") == std::string::npos && upper.find("PASSWORD=") == std::string::npos &&
        !password.empty())
        text += separator() + std::string("PWD=") + OdbcAttributeValue(password);
    return text;
}

std::string OdbcIdentityQuery(const std::string& dbmsDescription) {
    auto has = [&dbmsDescription](const char* s) { return dbmsDescription.find(s) != std::string::npos; };
    if (has("DB2")) return "VALUES IDENTITY_VAL_LOCAL()";
    if (has("Informix")) return "select UNIQUE DBINFO (\"sqlca.sqlerrd1\") from SYSTABLES where TABID=1";
    if (has("Microsoft SQL Server") || has("Anywhere") || has("SQL Server"))
        return "select CONVERT(int, @@IDENTITY)";
    if (has("MySQL")) return "select LAST_INSERT_ID()";
    // The session's last value of a sequence (a serial key), and the row id of the last
    // insert (an integer primary key is that row id).
    if (has("PostgreSQL")) return "select lastval()";
    if (has("SQLite")) return "select last_insert_rowid()";
    return "";
}

bool OdbcConnectionLostState(const std::string& state, const std::string& dbmsDescription) {
    // "24000" (invalid cursor state) is a statement used out of order, never a broken link:
    // counting it as lost would close a healthy connection under the engine's feet.
    if (state == "08S01" || state == "08003" || state == "08006" || state == "57P01") return true;
    return state == "40003" && dbmsDescription.find("DB2") != std::string::npos;
}

// ---------------------------------------------------------------------------------------------
// TICustomOdbcDatabase

TICustomOdbcDatabase::TICustomOdbcDatabase(rtl::Component* owner, const rtl::StringList& params,
                                           TSDServerType serverType)
    : TISqlDatabase(owner, params, serverType) {}

TICustomOdbcDatabase::~TICustomOdbcDatabase() = default;

TOdbcFunctions& TICustomOdbcDatabase::Functions() const {
    AssertRoutine(functions_ != nullptr && functions_->Module != nullptr, "TICustomOdbcDatabase.Functions");
    return *functions_;
}

SQLHENV TICustomOdbcDatabase::GetEnvHandle() const {
    AssertRoutine(handle_ != nullptr, "TICustomOdbcDatabase.GetEnvHandle");
    return handle_->Env;
}

SQLHDBC TICustomOdbcDatabase::GetDbcHandle() const {
    AssertRoutine(handle_ != nullptr, "TICustomOdbcDatabase.GetDbcHandle");
    return handle_->Dbc;
}

void TICustomOdbcDatabase::CheckHandle(SQLSMALLINT handleType, SQLHANDLE handle, SQLRETURN rc) {
    MarkActivity();
    if (rc == SQL_SUCCESS || rc == SQL_NO_DATA) return;

    SQLCHAR state[6] = {};
    SQLCHAR message[1001] = {};
    SQLINTEGER native = -1;
    SQLSMALLINT length = 0;
    SQLRETURN diag = SQL_ERROR;
    TOdbcFunctions& fn = Functions();
    if (fn.SQLGetDiagRec != nullptr) {
        diag = fn.SQLGetDiagRec(handleType, handle, 1, state, &native, message, 1000, &length);
    } else if (fn.SQLError != nullptr) {
        SQLHENV env = handle_ ? handle_->Env : nullptr;
        SQLHDBC dbc = handleType == SQL_HANDLE_ENV ? nullptr : (handle_ ? handle_->Dbc : nullptr);
        SQLHSTMT stmt = handleType == SQL_HANDLE_STMT ? handle : nullptr;
        if (handleType == SQL_HANDLE_ENV) env = handle;
        if (handleType == SQL_HANDLE_DBC) dbc = handle;
        diag = fn.SQLError(env, dbc, stmt, state, &native, message, 1000, &length);
    }
    std::string text = PCharToString(reinterpret_cast<const char*>(message));
    const std::string sqlState = PCharToString(reinterpret_cast<const char*>(state));
    if (diag == SQL_INVALID_HANDLE) {
        const char* kind = handleType == SQL_HANDLE_ENV   ? "environment"
                           : handleType == SQL_HANDLE_DBC ? "database"
                                                          : "statement";
        text = rtl::Format("Fatal error: %s",
                           rtl::Format("Invalid %s handle in TICustomOdbcDatabase.CheckHandle", kind));
    } else if (diag == SQL_NO_DATA) {
        text = rtl::Format("Fatal error: %s", "No diagnostic data in TICustomOdbcDatabase.CheckHandle");
    }
    EndWaitCursor();
    if (rc == SQL_SUCCESS_WITH_INFO && (sqlState.rfind("01", 0) == 0 || sqlState.rfind("IM", 0) == 0)) return;
    // The data source's native code is kept whole (32 bits).
    const int32_t code = static_cast<int32_t>(native);
    const bool lost =
        OdbcConnectionLostState(sqlState, dbmsDescription_) || (rc == SQL_ERROR && ConnectionDead());
    RaiseError(code, code, lost, sqlState, text);
}

bool TICustomOdbcDatabase::ConnectionDead() {
    // Some failures that end the session come with a general state (psqlODBC reports the
    // server's "terminating connection" as HY000 when it meets it while describing a
    // statement); the driver's own view of the connection settles it. A driver that does not
    // know the attribute answers an error, which means "not known to be dead". The call is
    // unchecked: this is already the error path.
    TOdbcFunctions& fn = Functions();
    if (handle_ == nullptr || handle_->Dbc == nullptr || fn.SQLGetConnectAttr == nullptr) return false;
    uint64_t value = 0;
    const SQLRETURN rc =
        fn.SQLGetConnectAttr(handle_->Dbc, SQL_ATTR_CONNECTION_DEAD, &value, SQL_IS_UINTEGER, nullptr);
    return (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) && (value & 0xFFFFFFFFu) == SQL_CD_TRUE;
}

SQLRETURN TICustomOdbcDatabase::AllocOdbcHandle(SQLSMALLINT type, SQLHANDLE parent, SQLHANDLE* handle) {
    TOdbcFunctions& fn = Functions();
    if (fn.SQLAllocHandle != nullptr) return fn.SQLAllocHandle(type, parent, handle);
    switch (type) {
        case SQL_HANDLE_ENV:
            return fn.SQLAllocEnv != nullptr ? fn.SQLAllocEnv(handle) : SQL_ERROR;
        case SQL_HANDLE_DBC:
            return fn.SQLAllocConnect != nullptr ? fn.SQLAllocConnect(parent, handle) : SQL_ERROR;
        case SQL_HANDLE_STMT:
            return fn.SQLAllocStmt != nullptr ? fn.SQLAllocStmt(parent, handle) : SQL_ERROR;
        default:
            return SQL_INVALID_HANDLE;
    }
}

SQLRETURN TICustomOdbcDatabase::FreeOdbcHandle(SQLSMALLINT type, SQLHANDLE handle) {
    TOdbcFunctions& fn = Functions();
    if (fn.SQLFreeHandle != nullptr) return fn.SQLFreeHandle(type, handle);
    switch (type) {
        case SQL_HANDLE_ENV:
            return fn.SQLFreeEnv != nullptr ? fn.SQLFreeEnv(handle) : SQL_ERROR;
        case SQL_HANDLE_DBC:
            return fn.SQLFreeConnect != nullptr ? fn.SQLFreeConnect(handle) : SQL_ERROR;
        case SQL_HANDLE_STMT:
            return fn.SQLFreeStmt != nullptr ? fn.SQLFreeStmt(handle, SQL_DROP) : SQL_ERROR;
        default:
            return SQL_INVALID_HANDLE;
    }
}

int16_t TICustomOdbcDatabase::GetInfoSmallint(SQLUSMALLINT infoType) {
    int16_t value = 0;
    const SQLRETURN rc = Functions().SQLGetInfo(GetDbcHandle(), infoType, &value, 2, nullptr);
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO ? value : 0;
}

int32_t TICustomOdbcDatabase::GetInfoInteger(SQLUSMALLINT infoType) {
    int32_t value = 0;
    const SQLRETURN rc = Functions().SQLGetInfo(GetDbcHandle(), infoType, &value, 4, nullptr);
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO ? value : 0;
}

std::string TICustomOdbcDatabase::GetInfoString(SQLUSMALLINT infoType) {
    char buffer[512] = {};
    SQLSMALLINT length = 0;
    CheckDbc(Functions().SQLGetInfo(GetDbcHandle(), infoType, buffer, sizeof buffer, &length));
    return PCharToString(buffer, int(sizeof buffer) - 1);
}

bool TICustomOdbcDatabase::SetConnectAttrSupported() {
    TOdbcFunctions& fn = Functions();
    bool supported = false;
    if (fn.SQLGetFunctions != nullptr) {
        SQLUSMALLINT answer = 0;
        CheckDbc(fn.SQLGetFunctions(GetDbcHandle(), SQL_API_SQLSETCONNECTATTR, &answer));
        supported = answer != 0;
    }
    if (!supported && GetVersionMajor(GetOdbcVersion()) > 2) supported = true;
    return supported;
}

int32_t TICustomOdbcDatabase::GetConnectAttr(SQLINTEGER attribute) {
    TOdbcFunctions& fn = Functions();
    // Drivers write SQLULEN-sized attributes into 8 bytes; the low 32 bits carry the value.
    uint64_t value = 0;
    SQLRETURN rc = SQL_ERROR;
    if (SetConnectAttrSupported() && fn.SQLGetConnectAttr != nullptr)
        rc = fn.SQLGetConnectAttr(GetDbcHandle(), attribute, &value, SQL_IS_UINTEGER, nullptr);
    else if (fn.SQLGetConnectOption != nullptr)
        rc = fn.SQLGetConnectOption(GetDbcHandle(), SQLUSMALLINT(attribute), &value);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return 0;
    return static_cast<int32_t>(static_cast<uint32_t>(value & 0xFFFFFFFFu));
}

SQLRETURN TICustomOdbcDatabase::SetConnectAttr(SQLINTEGER attribute, SQLULEN value, SQLINTEGER length) {
    TOdbcFunctions& fn = Functions();
    if (SetConnectAttrSupported() && fn.SQLSetConnectAttr != nullptr)
        return fn.SQLSetConnectAttr(GetDbcHandle(), attribute, AsPointer(value), length);
    if (fn.SQLSetConnectOption != nullptr)
        return fn.SQLSetConnectOption(GetDbcHandle(), SQLUSMALLINT(attribute), value);
    return SQL_ERROR;
}

SQLRETURN TICustomOdbcDatabase::SetStmtAttr(SQLHSTMT stmt, SQLINTEGER attribute, SQLULEN value,
                                            SQLINTEGER length) {
    TOdbcFunctions& fn = Functions();
    if (fn.SQLSetStmtAttr != nullptr) return fn.SQLSetStmtAttr(stmt, attribute, AsPointer(value), length);
    if (fn.SQLSetStmtOption != nullptr) return fn.SQLSetStmtOption(stmt, SQLUSMALLINT(attribute), value);
    return SQL_ERROR;
}

SQLRETURN TICustomOdbcDatabase::EndTran(SQLSMALLINT completion) {
    TOdbcFunctions& fn = Functions();
    if (fn.SQLEndTran != nullptr) return fn.SQLEndTran(SQL_HANDLE_DBC, GetDbcHandle(), completion);
    if (fn.SQLTransact != nullptr)
        return fn.SQLTransact(GetEnvHandle(), GetDbcHandle(), SQLUSMALLINT(completion));
    return SQL_ERROR;
}

int32_t TICustomOdbcDatabase::GetOdbcVersion() {
    if (odbcVersion_ == 0) odbcVersion_ = ParseVersionNumber(GetInfoString(SQL_DRIVER_ODBC_VER));
    return odbcVersion_;
}

std::string TICustomOdbcDatabase::GetDbmsDescription() {
    if (dbmsDescription_.empty() && handle_ != nullptr) dbmsDescription_ = GetVersionString();
    return dbmsDescription_;
}

bool TICustomOdbcDatabase::NeedLongDataLen() {
    return GetInfoString(SQL_NEED_LONG_DATA_LEN).rfind('Y', 0) == 0;
}

bool TICustomOdbcDatabase::HasBooleanType() {
    if (booleanType_ >= 0) return booleanType_ == 1;
    TOdbcFunctions& fn = Functions();
    if (fn.SQLGetTypeInfo == nullptr || fn.SQLFetch == nullptr) return false;
    SQLHANDLE stmt = nullptr;
    if (!Succeeded(AllocOdbcHandle(SQL_HANDLE_STMT, GetDbcHandle(), &stmt))) return false;
    // Unchecked: a data source that cannot say (or is busy with another result on a single
    // connection) keeps the small integer this time and is asked again next time.
    SQLRETURN rc = fn.SQLGetTypeInfo(stmt, SQL_BIT);
    if (Succeeded(rc)) {
        rc = fn.SQLFetch(stmt);
        if (Succeeded(rc) || rc == SQL_NO_DATA) booleanType_ = Succeeded(rc) ? 1 : 0;
    }
    FreeOdbcHandle(SQL_HANDLE_STMT, stmt);
    return booleanType_ == 1;
}

void TICustomOdbcDatabase::SetActiveCommand(TICustomOdbcCommand* command, bool askFetchAll) {
    if (activeCommand_ != nullptr && activeCommand_ != command && askFetchAll)
        activeCommand_->RequestFetchAll();
    activeCommand_ = command;
}

void TICustomOdbcDatabase::ReleaseActiveCommand(const TICustomOdbcCommand* command) {
    if (activeCommand_ == command) activeCommand_ = nullptr;
}

void TICustomOdbcDatabase::AllocHandles() {
    AssertRoutine(handle_ == nullptr, "TICustomOdbcDatabase.AllocHandles");
    handle_ = std::make_unique<TOdbcHandleRec>();
    TOdbcFunctions& fn = Functions();
    SQLHANDLE env = nullptr;
    AllocOdbcHandle(SQL_HANDLE_ENV, nullptr, &env);
    handle_->Env = env;
    if (fn.SQLSetEnvAttr != nullptr) fn.SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, AsPointer(SQL_OV_ODBC3), 0);
    SQLHANDLE dbc = nullptr;
    const SQLRETURN rc = AllocOdbcHandle(SQL_HANDLE_DBC, env, &dbc);
    handle_->Dbc = dbc;
    CheckHandle(SQL_HANDLE_ENV, env, rc);
}

void TICustomOdbcDatabase::FreeHandles() {
    if (handle_ == nullptr) return;
    if (handle_->Dbc != nullptr) FreeOdbcHandle(SQL_HANDLE_DBC, handle_->Dbc);
    if (handle_->Env != nullptr) FreeOdbcHandle(SQL_HANDLE_ENV, handle_->Env);
    handle_.reset();
}

void TICustomOdbcDatabase::DoConnect(const std::string& remoteDatabase, const std::string& userName,
                                     const std::string& password) {
    OdbcConnect(remoteDatabase, userName, password);
}

void TICustomOdbcDatabase::OdbcConnect(const std::string& remoteDatabase, const std::string& userName,
                                       const std::string& password) {
    LoadApiLibrary();
    AllocHandles();
    TOdbcFunctions& fn = Functions();
    bool present = false;
    const int32_t loginTimeout = TrimmedNumber(Params, "LOGIN TIMEOUT", present);
    if (present) {
        const SQLRETURN rc =
            fn.SQLSetConnectAttr != nullptr
                ? fn.SQLSetConnectAttr(GetDbcHandle(), SQL_ATTR_LOGIN_TIMEOUT,
                                       AsPointer(SQLULEN(loginTimeout)), 0)
                : (fn.SQLSetConnectOption != nullptr
                       ? fn.SQLSetConnectOption(GetDbcHandle(), SQL_ATTR_LOGIN_TIMEOUT, SQLULEN(loginTimeout))
                       : SQL_ERROR);
        CheckDbc(rc);
    }
    if (remoteDatabase.find('=') == std::string::npos) {
        CheckDbc(fn.SQLConnect(GetDbcHandle(), Text(remoteDatabase), SQL_NTS, Text(userName), SQL_NTS,
                               Text(password), SQL_NTS));
    } else {
        const std::string text = AppendOdbcLogin(remoteDatabase, userName, password);
        SQLCHAR out[1025] = {};
        SQLSMALLINT outLength = 0;
        // A text longer than a SQLSMALLINT can count cannot be passed as SQL_NTS safely either;
        // the driver manager reads it to its terminating zero.
        CheckDbc(fn.SQLDriverConnect(GetDbcHandle(), nullptr, Text(text), SQL_NTS, out, 1024, &outLength,
                                     SQL_DRIVER_NOPROMPT));
    }
    GetOdbcVersion();
    GetDbmsDescription();
    ConnectionSetup();
}

void TICustomOdbcDatabase::ConnectionSetup() {
    CursorPreservedOnCommit = GetInfoSmallint(SQL_CURSOR_COMMIT_BEHAVIOR) == SQL_CB_PRESERVE;
    CursorPreservedOnRollback = GetInfoSmallint(SQL_CURSOR_ROLLBACK_BEHAVIOR) == SQL_CB_PRESERVE;
    bool present = false;
    const int32_t commandTimeout = TrimmedNumber(Params, "COMMAND TIMEOUT", present);
    if (present)
        SetConnectAttr(SQL_ATTR_CONNECTION_TIMEOUT, SQLULEN(uint32_t(commandTimeout)), SQL_IS_UINTEGER);
    transSupported_ = GetInfoSmallint(SQL_TXN_CAPABLE) != 0;
    if (!transSupported_) return;
    if (AutoCommitDefault)
        AutoCommit = GetAutoCommit();
    else
        SetAutoCommitOption(AutoCommit);
    SetTransIsolation(TransIsolation);
}

bool TICustomOdbcDatabase::GetAutoCommit() {
    return GetConnectAttr(SQL_ATTR_AUTOCOMMIT) != 0;
}

void TICustomOdbcDatabase::DoDisconnect(bool /*force*/) {
    if (handle_ == nullptr) return;
    TOdbcFunctions& fn = Functions();
    if (transSupported_) EndTran(InTransaction ? SQL_ROLLBACK : SQL_COMMIT);
    if (fn.SQLDisconnect != nullptr) fn.SQLDisconnect(GetDbcHandle());
    FreeHandles();
    activeCommand_ = nullptr;
    FreeApiLibrary();
    functions_ = nullptr;
    odbcVersion_ = 0;
    dbmsDescription_.clear();
    booleanType_ = -1;
    transSupported_ = false;
}

void TICustomOdbcDatabase::DoCommit() {
    CheckDbc(EndTran(SQL_COMMIT));
}

void TICustomOdbcDatabase::DoRollback() {
    CheckDbc(EndTran(SQL_ROLLBACK));
}

void* TICustomOdbcDatabase::GetHandle() {
    return handle_.get();
}

void TICustomOdbcDatabase::SetAutoCommitOption(bool value) {
    if (!transSupported_) return;
    CheckDbc(SetConnectAttr(SQL_ATTR_AUTOCOMMIT, value ? 1 : 0, 0));
}

void TICustomOdbcDatabase::SetHandle(void* handle) {
    LoadApiLibrary();
    AssertRoutine(handle_ == nullptr, "TIOdbcDatabase.AllocHandle");
    const auto* given = static_cast<const TOdbcHandleRec*>(handle);
    handle_ = std::make_unique<TOdbcHandleRec>();
    if (given != nullptr) {
        handle_->Env = given->Env;
        handle_->Dbc = given->Dbc;
    }
}

std::string TICustomOdbcDatabase::GetIdentityQuery() {
    return OdbcIdentityQuery(GetDbmsDescription());
}

int32_t TICustomOdbcDatabase::GetClientVersion() {
    return ParseVersionNumber(GetInfoString(SQL_DRIVER_VER));
}

int32_t TICustomOdbcDatabase::GetServerVersion() {
    return ParseVersionNumber(GetInfoString(SQL_DBMS_VER));
}

std::string TICustomOdbcDatabase::GetVersionString() {
    const int32_t version = GetServerVersion();
    return rtl::Format("%s Release %d.%d", GetInfoString(SQL_DBMS_NAME), GetVersionMajor(version),
                       GetVersionMinor(version));
}

void TICustomOdbcDatabase::SetTransIsolation(TSDTransIsolation value) {
    SQLULEN level = SQL_TXN_READ_UNCOMMITTED;
    if (value == tiReadCommitted) level = SQL_TXN_READ_COMMITTED;
    if (value == tiRepeatableRead) level = SQL_TXN_REPEATABLE_READ;
    CheckDbc(SetConnectAttr(SQL_ATTR_TXN_ISOLATION, level, 0));
}

TISqlCommandPtr TICustomOdbcDatabase::GetSchemaInfo(TSDSchemaType kind, const std::string& objectName) {
    TISqlCommandPtr command;
    switch (kind) {
        case stTables:
            command = MakeSqlCommand<TIOdbcCallTables>(this, nullptr, objectName, "TABLE,VIEW");
            break;
        case stSysTables:
            command = MakeSqlCommand<TIOdbcCallTables>(this, nullptr, objectName, "SYSTEM TABLE");
            break;
        case stProcedures:
            command = MakeSqlCommand<TIOdbcCallProcs>(this, nullptr, objectName);
            break;
        case stColumns:
            command = MakeSqlCommand<TIOdbcCallColumns>(this, nullptr, objectName);
            break;
        case stProcedureParams:
            command = MakeSqlCommand<TIOdbcCallProcParams>(this, nullptr, objectName);
            break;
        case stIndexes:
            command = MakeSqlCommand<TIOdbcCallIndexes>(this, nullptr, objectName);
            break;
        default:
            return nullptr;
    }
    // A failure frees the command on the way out.
    command->ExecDirect("");
    return command;
}

std::string TICustomOdbcDatabase::OldValueCondition(const TSDFieldDesc& desc, const std::string& column,
                                                    const std::string& marker) {
    TSDHeldAs heldAs = TSDHeldAs::Exact;
    if (GetDbmsDescription().find("PostgreSQL") != std::string::npos) {
        switch (desc.NativeType) {
            case SQL_TYPE_TIMESTAMP:
            case SQL_TIMESTAMP:
                heldAs = TSDHeldAs::Milliseconds;
                break;
            case SQL_TYPE_TIME:
            case SQL_TIME:
                heldAs = TSDHeldAs::Seconds;
                break;
            case SQL_REAL:
                heldAs = TSDHeldAs::SingleAsDouble;
                break;
            case SQL_NUMERIC:
            case SQL_DECIMAL:
                if (desc.FieldType == ftFloat) heldAs = TSDHeldAs::NumericAsDouble;
                break;
            default:
                break;
        }
    }
    return PostgresOldValueCondition(desc.FieldType, heldAs, column, marker);
}

bool TICustomOdbcDatabase::TestConnected() {
    return GetSchemaInfo(stSysTables, "X.DUMMY") != nullptr;
}

// ---------------------------------------------------------------------------------------------
// TIOdbcDatabase

TIOdbcDatabase::TIOdbcDatabase(rtl::Component* owner, const rtl::StringList& params)
    : TICustomOdbcDatabase(owner, params, stODBC) {}

TIOdbcDatabase::~TIOdbcDatabase() = default;

TISqlCommandPtr TIOdbcDatabase::CreateSqlCommand(rtl::Component* ownerDataSet) {
    return MakeSqlCommand<TIOdbcCommand>(this, ownerDataSet);
}

void TIOdbcDatabase::FreeApiLibrary() {
    UnloadOdbcLibrary();
}

void TIOdbcDatabase::LoadApiLibrary() {
    LoadOdbcLibrary();
    functions_ = OdbcLibrary().Functions();
}

void TIOdbcDatabase::RaiseError(int32_t errorCode, int32_t nativeError, bool connectionLost,
                                const std::string& state, const std::string& message) {
    HandleError(ESDOdbcError(errorCode, nativeError, message, connectionLost, state));
}
