// database/drivers/SDMySql.cpp: the MySQL driver's library, connection and catalog requests
// (unit SDMySql). The commands live in SDMySqlCommand.cpp.
#include "database/drivers/SDMySql.h"

#include "database/engine/SDCommonSqlText.h"
#include "database/engine/SDEngine.h"
#include "rtl/Assert.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

constexpr const char* kMySqlLibraryName = "libmariadb.so.3";

TMySqlFunctions gMy;

const std::vector<TSDClientEntry>& MySqlEntries() {
    static const std::vector<TSDClientEntry> entries = {
#define KW_MYSQL_TABLE_ENTRY(name, required, type) {#name, &gMy.name, required},
        KW_MYSQL_ENTRY_POINTS(KW_MYSQL_TABLE_ENTRY)
#undef KW_MYSQL_TABLE_ENTRY
    };
    return entries;
}

void AfterLoad() {
    if (gMy.mysql_server_init != nullptr) gMy.mysql_server_init(0, nullptr, nullptr);
}

void BeforeUnload() {
    if (gMy.mysql_server_end != nullptr) gMy.mysql_server_end();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The unit's library

const TMySqlFunctions& MySqlFunctions() {
    return gMy;
}

TSDClientLibrary& MySqlLibrary() {
    static TSDClientLibrary library(kMySqlLibraryName, stMySQL, "MySQL");
    return library;
}

void LoadMySqlLibrary() {
    MySqlLibrary().Load(MySqlEntries(), AfterLoad);
}

void UnloadMySqlLibrary() {
    MySqlLibrary().Unload(MySqlEntries(), BeforeUnload);
}

bool MySqlConnectionLostError(uint32_t errorNumber) {
    switch (errorNumber) {
        case 1053:  // server shutdown in progress
        case 1927:  // connection was killed
        case 2006:  // server has gone away
        case 2013:  // lost connection during query
        case 2055:  // lost connection, system error
            return true;
        default:
            return false;
    }
}

std::unique_ptr<TISqlDatabase> CreateMySQLDatabase(rtl::Component* owner, const rtl::StringList& params) {
    MySqlLibrary().TakeNameFromParams(params);
    return std::make_unique<TIMyDatabase>(owner, params);
}

void RegisterMySQLDriver() {
    RegisterSqlDatabaseFactory(stMySQL, [](TSDDatabase* owner, const rtl::StringList& params) {
        return CreateMySQLDatabase(owner, params);
    });
}

// ---------------------------------------------------------------------------------------------
// TIMyDatabase

TIMyDatabase::TIMyDatabase(rtl::Component* owner, const rtl::StringList& params)
    : TISqlDatabase(owner, params, stMySQL) {
    enableMoney_ = rtl::UpperCase(rtl::Trim(Params.Values("ENABLE MONEY"))) == STrueString;
}

TIMyDatabase::~TIMyDatabase() {
    try {
        DoDisconnect(true);
    } catch (const std::exception&) {
        // Nobody is left to report a failed release to.
    }
}

void TIMyDatabase::AllocHandle() {
    rtl::Assert(handle_ == nullptr, "TIMyDatabase.AllocHandle");
    handle_ = std::make_unique<TMyHandle>();
}

MYSQL* TIMyDatabase::GetMySQLPtr() const {
    rtl::Assert(handle_ != nullptr, "TIMyDatabase.GetMySQLPtr");
    return handle_->Handle;
}

void TIMyDatabase::DoConnect(const std::string& remoteDatabase, const std::string& userName,
                             const std::string& password) {
    LoadMySqlLibrary();
    try {
        AllocHandle();
    } catch (...) {
        UnloadMySqlLibrary();
        throw;
    }
    const std::string host = ExtractServerName(remoteDatabase);
    const std::string database = ExtractDatabaseName(remoteDatabase);
    handle_->Handle = gMy.mysql_init(nullptr);
    if (handle_->Handle == nullptr) {
        EndWaitCursor();
        HandleError(ESDMySQLError(0, 0, "Error: 0\r\nThe MySQL client could not allocate a connection", 0, false));
    }
    MYSQL* h = handle_->Handle;
    const std::string timeout = rtl::Trim(Params.Values("LOGIN TIMEOUT"));
    if (!timeout.empty()) {
        const unsigned int seconds = unsigned(rtl::StrToIntDef(timeout, 0));
        gMy.mysql_options(h, MYSQL_OPT_CONNECT_TIMEOUT, &seconds);
    }
    if (rtl::Trim(Params.Values("COMPRESSED PROTOCOL")) != SFalseString)
        gMy.mysql_options(h, MYSQL_OPT_COMPRESS, nullptr);
    const unsigned int port = unsigned(rtl::StrToIntDef(rtl::Trim(Params.Values("SERVER PORT")), 0));
    if (gMy.mysql_real_connect != nullptr) {
        const unsigned long flags = CLIENT_FOUND_ROWS | (database.empty() ? 0 : CLIENT_CONNECT_WITH_DB);
        Check(gMy.mysql_real_connect(h, host.c_str(), userName.c_str(), password.c_str(), database.c_str(), port,
                                     nullptr, flags));
    } else {
        rtl::Assert(gMy.mysql_connect != nullptr, "Assertion failure");
        Check(gMy.mysql_connect(h, host.c_str(), userName.c_str(), password.c_str()));
        if (!database.empty()) {
            const std::string use = "use " + MySqlQuoteTableName(database);
            Check(gMy.mysql_query(h, use.c_str()) == 0 ? uintptr_t(h) : 0);
        }
    }
    unbuffered_ = gMy.mysql_use_result != nullptr && PrefetchRows < 2;
    // The engine hands the isolation level over before connecting and never again: a level
    // the caller chose must reach the server with the connection.
    SetTransIsolation(TransIsolation);
}

void TIMyDatabase::DoDisconnect(bool) {
    if (handle_ == nullptr) return;
    if (handle_->Handle != nullptr) {
        if (InTransaction) {
            try {
                ExecSQL("ROLLBACK", false);
            } catch (const std::exception&) {
                // A rollback on a broken connection has nothing to undo.
            }
        }
        // An unbuffered result reads through the connection: it goes before the connection.
        if (activeCommand_ != nullptr) {
            TIMyCommand* holder = activeCommand_;
            activeCommand_ = nullptr;
            holder->CloseResultSet();
        }
        gMy.mysql_close(handle_->Handle);
        handle_->Handle = nullptr;
    }
    activeCommand_ = nullptr;
    handle_.reset();
    UnloadMySqlLibrary();
}

void TIMyDatabase::DoCommit() {
    ExecSQL("COMMIT", true);
}

void TIMyDatabase::DoRollback() {
    ExecSQL("ROLLBACK", true);
}

void TIMyDatabase::DoStartTransaction() {
    ExecSQL("BEGIN", true);
}

void* TIMyDatabase::GetHandle() {
    return handle_.get();
}

void TIMyDatabase::SetAutoCommitOption(bool) {}

void TIMyDatabase::SetHandle(void* handle) {
    rtl::Assert(handle != nullptr, "TIMyDatabase.SetHandle");
    LoadMySqlLibrary();
    try {
        AllocHandle();
    } catch (...) {
        UnloadMySqlLibrary();
        throw;
    }
    handle_->Handle = static_cast<const TMyHandle*>(handle)->Handle;
}

TISqlCommandPtr TIMyDatabase::CreateSqlCommand(rtl::Component* ownerDataSet) {
    return MakeSqlCommand<TIMyCommand>(this, ownerDataSet);
}

int32_t TIMyDatabase::GetClientVersion() {
    return ParseVersionNumber(PCharToString(gMy.mysql_get_client_info()));
}

int32_t TIMyDatabase::GetServerVersion() {
    return ParseVersionNumber(PCharToString(gMy.mysql_get_server_info(GetMySQLPtr())));
}

std::string TIMyDatabase::GetVersionString() {
    MYSQL* h = GetMySQLPtr();
    return PCharToString(gMy.mysql_get_server_info(h)) + "/" + PCharToString(gMy.mysql_get_host_info(h));
}

TISqlCommandPtr TIMyDatabase::GetSchemaInfo(TSDSchemaType kind, const std::string& objectName) {
    TISqlCommandPtr cmd;
    switch (kind) {
        case stTables:
        case stSysTables:
            cmd = MakeSqlCommand<TIMyCommandShowTables>(this, objectName, kind == stSysTables);
            break;
        case stColumns:
            cmd = MakeSqlCommand<TIMyCommandShowColumns>(this, objectName);
            break;
        case stIndexes:
            cmd = MakeSqlCommand<TIMyCommandShowIndexes>(this, objectName);
            break;
        default:
            return nullptr;
    }
    cmd->ExecDirect("");
    return cmd;
}

std::string TIMyDatabase::OldValueCondition(const TSDFieldDesc& desc, const std::string& column,
                                            const std::string& marker) {
    switch (desc.NativeType) {
        case MYSQL_TYPE_DATETIME:
        case MYSQL_TYPE_TIME:
            // The microseconds past the millisecond taken off; whether the server's own casts
            // to fewer places round or cut depends on its version and mode.
            if (desc.Precision > 3 && (desc.FieldType == ftDateTime || desc.FieldType == ftTime))
                return column + " - INTERVAL MICROSECOND(" + column + ") % 1000 MICROSECOND = " + marker;
            break;
        case MYSQL_TYPE_FLOAT:
            if (desc.FieldType == ftFloat) return column + " = CAST(" + marker + " AS FLOAT)";
            break;
        case MYSQL_TYPE_DECIMAL:
        case MYSQL_TYPE_NEWDECIMAL:
            if (desc.FieldType == ftFloat) return "CAST(" + column + " AS DOUBLE) = " + marker;
            break;
        default:
            break;
    }
    return TISqlDatabase::OldValueCondition(desc, column, marker);
}

bool TIMyDatabase::TestConnected() {
    return GetSchemaInfo(stSysTables, "DUMMY") != nullptr;
}

void TIMyDatabase::SetTransIsolation(TSDTransIsolation value) {
    const char* level = value == tiDirtyRead       ? "READ UNCOMMITTED"
                        : value == tiReadCommitted ? "READ COMMITTED"
                                                   : "REPEATABLE READ";
    ExecSQL(std::string("SET SESSION TRANSACTION ISOLATION LEVEL ") + level, true);
}

void TIMyDatabase::Check(uintptr_t status) {
    MarkActivity();
    if (status != 0) return;
    EndWaitCursor();
    MYSQL* h = handle_ != nullptr ? handle_->Handle : nullptr;
    const uint32_t number = h != nullptr ? gMy.mysql_errno(h) : 0;
    const std::string text = h != nullptr ? PCharToString(gMy.mysql_error(h)) : "";
    HandleError(ESDMySQLError(int32_t(number), int32_t(number), rtl::Format("Error: %u\r\n", number) + text, 0,
                              MySqlConnectionLostError(number)));
}

void TIMyDatabase::SetActiveCommand(TIMyCommand* command, bool fetchPrevious) {
    if (activeCommand_ != nullptr && activeCommand_ != command) {
        TIMyCommand* previous = activeCommand_;
        activeCommand_ = nullptr;
        if (fetchPrevious) {
            try {
                previous->RequestFetchAll();
            } catch (...) {
                activeCommand_ = previous;
                throw;
            }
        }
    }
    activeCommand_ = command;
}

void TIMyDatabase::ExecSQL(const std::string& sql, bool check) {
    SetActiveCommand(nullptr, true);
    MYSQL* h = GetMySQLPtr();
    const int rc = gMy.mysql_real_query(h, sql.data(), static_cast<unsigned long>(sql.size()));
    if (rc != 0 && check) Check(uintptr_t(0));
}

std::string TIMyDatabase::QuoteString(const std::string& text) {
    std::string buffer(text.size() * 2 + 1, '\0');
    unsigned long n;
    if (gMy.mysql_real_escape_string != nullptr)
        n = gMy.mysql_real_escape_string(GetMySQLPtr(), buffer.data(), text.data(), static_cast<unsigned long>(text.size()));
    else
        n = gMy.mysql_escape_string(buffer.data(), text.data(), static_cast<unsigned long>(text.size()));
    // (unsigned long)-1 is the client's refusal (a character the connection's set cannot hold).
    if (n > buffer.size()) rtl::DatabaseError("A text value cannot be written in the connection's character set");
    return "'" + buffer.substr(0, n) + "'";
}
