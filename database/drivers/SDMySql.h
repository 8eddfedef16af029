// database/drivers/SDMySql.h: the SQL library's driver for MySQL and MariaDB (unit SDMySql,
// server type stMySQL).
//
// The driver binds the MySQL client library (libmariadb.so.3 unless the parameter "MySQL API
// LIBRARY" names another file) by name at run time, once per process, and sends every
// statement as text with mysql_real_query: parameter values are written into the text as
// MySQL literals, rows are read as text and converted on the client. The catalog requests
// (tables, columns, indexes) run SHOW statements through three command subclasses that give
// the rows the library's catalog column names. The engine reaches it only through its
// factory (RegisterMySQLDriver) and the driver interface.
//
// What must stay true:
//   - in unbuffered mode (PREFETCH ROWS below 2) one command at a time holds the
//     connection's open result; a statement of anyone else first makes the holder read the
//     rest of its rows (TIMyDatabase::SetActiveCommand);
//   - a failed call raises ESDMySQLError with "Error: <number>\r\n<text>", its connection-lost
//     flag set for every error number that means the link is gone;
//   - a row that does not come because the link broke is an error, never the end of rows;
//   - names pasted into SHOW statements are quoted identifiers, patterns quoted strings.
// Types and layouts (MYSQL_FIELD, the flags) come from the client's own header (mysql.h);
// nothing links against it.
#pragma once

#include <mysql.h>

#include <functional>
#include <memory>
#include <string>

#include "database/drivers/SDClientLibrary.h"
#include "database/engine/SDCommon.h"
#include "database/engine/SDCommonCommand.h"

SD_ENGINE_ERROR(ESDMySQLError, ESDEngineError);

// Entries the header does not declare (older clients had them).
using TMySqlSslCipher = const char* (*)(MYSQL*);
using TMySqlSslClear = int (*)(MYSQL*);
using TMySqlConnect = MYSQL* (*)(MYSQL*, const char*, const char*, const char*);
using TMySqlCreateDb = int (*)(MYSQL*, const char*);
using TMyOdbcRemoveEscape = void (*)(MYSQL*, char*);

// clang-format off
// The client's entries in binding order: name, whether a library must have it, its type.
// myodbc_remove_escape is never called and current clients lack it: optional. The last two
// read the further results of a multi-result answer (a CALL that returns rows), which
// clients older than 4.1 never receive.
#define KW_MYSQL_ENTRY_POINTS(X) \
    X(mysql_num_rows, true, decltype(&::mysql_num_rows)) X(mysql_num_fields, true, decltype(&::mysql_num_fields)) \
    X(mysql_eof, true, decltype(&::mysql_eof)) X(mysql_fetch_field_direct, true, decltype(&::mysql_fetch_field_direct)) \
    X(mysql_fetch_fields, true, decltype(&::mysql_fetch_fields)) X(mysql_row_tell, true, decltype(&::mysql_row_tell)) \
    X(mysql_field_tell, true, decltype(&::mysql_field_tell)) X(mysql_field_count, true, decltype(&::mysql_field_count)) \
    X(mysql_affected_rows, true, decltype(&::mysql_affected_rows)) X(mysql_insert_id, true, decltype(&::mysql_insert_id)) \
    X(mysql_errno, true, decltype(&::mysql_errno)) X(mysql_error, true, decltype(&::mysql_error)) \
    X(mysql_info, true, decltype(&::mysql_info)) X(mysql_thread_id, true, decltype(&::mysql_thread_id)) \
    X(mysql_character_set_name, false, decltype(&::mysql_character_set_name)) X(mysql_init, true, decltype(&::mysql_init)) \
    X(mysql_ssl_set, false, decltype(&::mysql_ssl_set)) X(mysql_ssl_cipher, false, TMySqlSslCipher) \
    X(mysql_ssl_clear, false, TMySqlSslClear) X(mysql_connect, false, TMySqlConnect) \
    X(mysql_change_user, false, decltype(&::mysql_change_user)) X(mysql_real_connect, true, decltype(&::mysql_real_connect)) \
    X(mysql_close, true, decltype(&::mysql_close)) X(mysql_select_db, true, decltype(&::mysql_select_db)) \
    X(mysql_query, true, decltype(&::mysql_query)) X(mysql_send_query, false, decltype(&::mysql_send_query)) \
    X(mysql_read_query_result, false, decltype(&::mysql_read_query_result)) X(mysql_real_query, true, decltype(&::mysql_real_query)) \
    X(mysql_create_db, false, TMySqlCreateDb) X(mysql_drop_db, false, TMySqlCreateDb) \
    X(mysql_shutdown, true, decltype(&::mysql_shutdown)) X(mysql_dump_debug_info, true, decltype(&::mysql_dump_debug_info)) \
    X(mysql_refresh, true, decltype(&::mysql_refresh)) X(mysql_kill, true, decltype(&::mysql_kill)) \
    X(mysql_ping, true, decltype(&::mysql_ping)) X(mysql_stat, true, decltype(&::mysql_stat)) \
    X(mysql_get_server_info, true, decltype(&::mysql_get_server_info)) X(mysql_get_client_info, true, decltype(&::mysql_get_client_info)) \
    X(mysql_get_host_info, true, decltype(&::mysql_get_host_info)) X(mysql_get_proto_info, true, decltype(&::mysql_get_proto_info)) \
    X(mysql_list_dbs, true, decltype(&::mysql_list_dbs)) X(mysql_list_tables, true, decltype(&::mysql_list_tables)) \
    X(mysql_list_fields, true, decltype(&::mysql_list_fields)) X(mysql_list_processes, true, decltype(&::mysql_list_processes)) \
    X(mysql_store_result, true, decltype(&::mysql_store_result)) X(mysql_use_result, true, decltype(&::mysql_use_result)) \
    X(mysql_options, true, decltype(&::mysql_options)) X(mysql_free_result, true, decltype(&::mysql_free_result)) \
    X(mysql_data_seek, true, decltype(&::mysql_data_seek)) X(mysql_row_seek, true, decltype(&::mysql_row_seek)) \
    X(mysql_field_seek, true, decltype(&::mysql_field_seek)) X(mysql_fetch_row, true, decltype(&::mysql_fetch_row)) \
    X(mysql_fetch_lengths, true, decltype(&::mysql_fetch_lengths)) X(mysql_fetch_field, true, decltype(&::mysql_fetch_field)) \
    X(mysql_escape_string, true, decltype(&::mysql_escape_string)) X(mysql_real_escape_string, false, decltype(&::mysql_real_escape_string)) \
    X(mysql_debug, true, decltype(&::mysql_debug)) X(myodbc_remove_escape, false, TMyOdbcRemoveEscape) \
    X(mysql_thread_safe, true, decltype(&::mysql_thread_safe)) X(mysql_server_init, false, decltype(&::mysql_server_init)) \
    X(mysql_server_end, false, decltype(&::mysql_server_end)) X(mysql_thread_init, false, decltype(&::mysql_thread_init)) \
    X(mysql_thread_end, false, decltype(&::mysql_thread_end)) \
    X(mysql_more_results, false, decltype(&::mysql_more_results)) X(mysql_next_result, false, decltype(&::mysql_next_result))
// clang-format on

struct TMySqlFunctions {
#define KW_MYSQL_DECLARE_ENTRY(name, required, type) type name = nullptr;
    KW_MYSQL_ENTRY_POINTS(KW_MYSQL_DECLARE_ENTRY)
#undef KW_MYSQL_DECLARE_ENTRY
};

const TMySqlFunctions& MySqlFunctions();
TSDClientLibrary& MySqlLibrary();
void LoadMySqlLibrary();
void UnloadMySqlLibrary();

// The client's error numbers that mean the connection is gone: server gone away (2006), lost
// during a query (2013), lost with a system error (2055), the connection killed (1927) and
// the server shutting down (1053).
bool MySqlConnectionLostError(uint32_t errorNumber);

// The connection handle record GetHandle gives and SetHandle takes: the server type (9) and
// the client's connection, a full pointer.
#pragma pack(push, 1)
struct TMyHandle {
    uint8_t ServerType = stMySQL;
    MYSQL* Handle = nullptr;
};
#pragma pack(pop)

class TIMyCommand;

class TIMyDatabase : public TISqlDatabase {
public:
    TIMyDatabase(rtl::Component* owner, const rtl::StringList& params);
    ~TIMyDatabase() override;

protected:
    void DoConnect(const std::string& remoteDatabase, const std::string& userName,
                   const std::string& password) override;
    void DoDisconnect(bool force) override;
    void DoCommit() override;
    void DoRollback() override;
    void DoStartTransaction() override;

public:
    void* GetHandle() override;
    void SetAutoCommitOption(bool value) override;
    void SetHandle(void* handle) override;
    TISqlCommandPtr CreateSqlCommand(rtl::Component* ownerDataSet) override;
    std::string GetIdentityQuery() override { return "select LAST_INSERT_ID()"; }
    int32_t GetClientVersion() override;
    int32_t GetServerVersion() override;
    std::string GetVersionString() override;
    TISqlCommandPtr GetSchemaInfo(TSDSchemaType kind, const std::string& objectName) override;
    bool TestConnected() override;
    // Time stamps and times with more than three places are held to the millisecond, float
    // as the double of its text, a decimal read as a double as that double.
    std::string OldValueCondition(const TSDFieldDesc& desc, const std::string& column,
                                  const std::string& marker) override;
    void SetTransIsolation(TSDTransIsolation value) override;

    // The client's connection; rtl::EAssertionFailed "TIMyDatabase.GetMySQLPtr" without one.
    MYSQL* GetMySQLPtr() const;
    // Marks activity; a status of 0 (nullptr, or 0 from a call that answers 0 on failure)
    // raises the client's error through HandleError.
    void Check(uintptr_t status);
    void Check(const void* status) { Check(reinterpret_cast<uintptr_t>(status)); }
    // Makes the command (or nobody) the holder of the connection's open result; the previous
    // holder first reads its remaining rows when fetchPrevious is set.
    void SetActiveCommand(TIMyCommand* command, bool fetchPrevious);
    TIMyCommand* ActiveCommand() const { return activeCommand_; }
    // Runs a statement without a result on the connection (any holder reads its rows first).
    void ExecSQL(const std::string& sql, bool check);
    // The text as a quoted MySQL string literal, escaped by the client.
    std::string QuoteString(const std::string& text);

    bool UnbufferedResults() const { return unbuffered_; }
    bool EnableMoney() const { return enableMoney_; }

private:
    void AllocHandle();

    std::unique_ptr<TMyHandle> handle_;
    bool enableMoney_ = false;
    TIMyCommand* activeCommand_ = nullptr;
    bool unbuffered_ = false;
};

class TIMyCommand : public TISqlCommand {
public:
    TIMyCommand(TIMyDatabase* database, rtl::Component* owner);
    ~TIMyCommand() override;

    void BindParamsBuffer() override;
    void SetFieldsBuffer() override {}

protected:
    void DoPrepare(const std::string& sql) override;
    void DoExecDirect(const std::string& sql) override;
    void DoExecute() override;
    bool DoFetchNextRow() override;

public:
    void InitParamList() override;
    TFieldType FieldDataType(int32_t nativeType) override;
    void GetFieldDescs(TSDFieldDescList& list) override;
    void* GetHandle() override { return handle_; }
    bool IsFixedCharType(int32_t nativeType) override { return nativeType == MYSQL_TYPE_STRING; }
    uint16_t NativeDataSize(TFieldType fieldType) override;
    int32_t NativeDataType(TFieldType fieldType) override;
    bool RequiredCnvtFieldType(TFieldType fieldType) override;
    void CloseResultSet() override;
    void Disconnect(bool force) override;
    int32_t GetIdentityValue() override { return int32_t(uint32_t(insertId_)); }
    int32_t GetRowsAffected() override { return int32_t(uint32_t(uint64_t(rowsAffected_))); }
    bool ResultSetExists() override { return true; }
    bool GetCnvtFieldData(const TSDFieldDesc& desc, void* dest, int32_t destSize) override;
    void GetCnvtRowData(const TSDCellCopy* cells, size_t count, uint8_t* record) override;
    void GetOutputParams() override;
    int32_t ReadBlob(const TSDFieldDesc& desc, rtl::ByteArray& data) override;

    // The statement text as last sent.
    const std::string& SentText() const { return sentText_; }
    // The text as given with the current parameters' literals.
    std::string BuildSqlText();
    bool HasResult() const { return result_ != nullptr; }
    int64_t RowsAffected64() const { return rowsAffected_; }
    uint64_t InsertId64() const { return insertId_; }

protected:
    TIMyDatabase& MyDatabase() const;
    void ResetStatement();
    void ExecuteSql();
    // Reads and lets go the results that follow the current one in the server's answer.
    void ReadRemainingResults();
    // The number of columns the server described (computed columns follow them).
    int ServerColumns() const { return serverColumns_; }
    // The current row's server value of a column (0-based): nullptr for null.
    const char* ServerValue(int column, unsigned long& length) const;

private:
    void RefuseProcedure() const;
    // GetCnvtFieldData of a server column's value that is not null.
    bool StoreServerValue(const TSDFieldDesc& desc, const char* value, unsigned long length, void* dest,
                          int32_t destSize);

    MYSQL* handle_ = nullptr;
    MYSQL_RES* result_ = nullptr;
    MYSQL_ROW row_ = nullptr;
    unsigned long* lengths_ = nullptr;
    std::string givenText_;
    std::string sentText_;
    int64_t rowsAffected_ = -1;
    uint64_t insertId_ = 0;
    int serverColumns_ = 0;
    bool unbuffered_ = false;
    // Set while result_ came from describing (GetFieldDescs) and no execution used it yet.
    bool described_ = false;
};

// The catalog commands: SHOW statements under the library's catalog column names.
class TIMyCommandShowTables final : public TIMyCommand {
public:
    TIMyCommandShowTables(TIMyDatabase* database, std::string pattern, bool systemTables);
    void GetFieldDescs(TSDFieldDescList& list) override;

protected:
    void DoExecDirect(const std::string& sql) override;
    bool DoFetchNextRow() override;

private:
    std::string pattern_;
    bool systemTables_;
};

class TIMyCommandShowColumns final : public TIMyCommand {
public:
    TIMyCommandShowColumns(TIMyDatabase* database, std::string tableName);
    void GetFieldDescs(TSDFieldDescList& list) override;

protected:
    void DoExecDirect(const std::string& sql) override;
    bool DoFetchNextRow() override;

private:
    std::string tableName_;
    // The rows come in the table's column order: their count is the column's position.
    int32_t position_ = 0;
};

class TIMyCommandShowIndexes final : public TIMyCommand {
public:
    TIMyCommandShowIndexes(TIMyDatabase* database, std::string tableName);
    void GetFieldDescs(TSDFieldDescList& list) override;

protected:
    void DoExecDirect(const std::string& sql) override;
    bool DoFetchNextRow() override;

private:
    std::string tableName_;
};

// Texts of the MySQL dialect.
// A table name as quoted identifiers, one per dot-separated part ("db.t" gives `db`.`t`);
// a part already in backticks stays as it is, a backtick inside a part is doubled.
std::string MySqlQuoteTableName(const std::string& name);
// The literal of a parameter's value by its data type ("NULL" for null); text and bytes go
// through quoteString.
std::string MySqlParamLiteral(const TParam& param, const std::function<std::string(const std::string&)>& quoteString);

// What a SHOW COLUMNS type text ("decimal(10,2)", "int(11) unsigned") gives the computed
// columns: precision and scale (below 1 when none) and the column length.
struct TMySqlColumnType {
    int32_t Precision = 0;
    int32_t Scale = 0;
    int32_t Length = 0;
};
TMySqlColumnType ParseMySqlColumnType(const std::string& typeText);

std::unique_ptr<TISqlDatabase> CreateMySQLDatabase(rtl::Component* owner, const rtl::StringList& params);
// Puts CreateMySQLDatabase into the engine's factory table (stMySQL).
void RegisterMySQLDriver();
