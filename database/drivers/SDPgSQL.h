// database/drivers/SDPgSQL.h: the SQL library's driver for PostgreSQL (unit SDPgSQL, server
// type stPostgreSQL).
//
// The driver binds the PostgreSQL client library (libpq.so.5 unless the parameter "PostgreSQL
// API LIBRARY" names another file) by name at run time, once per process, and sends every
// statement as text through PQexec: parameter values are written into the text as
// PostgreSQL literals, and results are read in text form and converted on the client. The
// engine reaches it only through its factory (RegisterPostgreSQLDriver) and the driver
// interface.
//
// What must stay true:
//   - text literals are E'...' literals (quote doubled, backslash doubled) and byte values
//     E'\\x<hex>' literals, so they mean the same whatever standard_conforming_strings says
//     and no value can end its literal;
//   - a failed result whose connection PQstatus reports bad (or with no message at all) is a
//     lost connection, which the engine's handling sees;
//   - a result held by describing a statement is reused by the next execution only when that
//     execution would send exactly the text described.
// Types and layouts come from the client's own header (libpq-fe.h); nothing links against it.
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <string>

#include "database/drivers/SDClientLibrary.h"
#include "database/engine/SDCommon.h"
#include "database/engine/SDCommonCommand.h"

SD_ENGINE_ERROR(ESDPgSQLError, ESDEngineError);

// clang-format off
// The client's entries in binding order; the second column marks those a library may lack.
// PQftable and PQftablecol (a result column's table and column) find the serial and identity
// columns of a live query's table.
#define KW_PG_ENTRY_POINTS(X) \
    X(PQconnectStart, false) X(PQconnectPoll, false) X(PQconnectdb, true) X(PQsetdbLogin, true) \
    X(PQfinish, true) X(PQconndefaults, true) X(PQconninfoFree, true) X(PQresetStart, false) \
    X(PQresetPoll, false) X(PQreset, true) X(PQrequestCancel, true) X(PQdb, true) X(PQuser, true) \
    X(PQpass, true) X(PQhost, true) X(PQport, true) X(PQtty, true) X(PQoptions, true) \
    X(PQstatus, true) X(PQerrorMessage, true) X(PQsocket, true) X(PQbackendPID, true) \
    X(PQclientEncoding, true) X(PQsetClientEncoding, false) X(PQtrace, true) X(PQuntrace, true) \
    X(PQsetNoticeProcessor, true) X(PQexec, true) X(PQnotifies, true) X(PQsendQuery, true) \
    X(PQgetResult, true) X(PQisBusy, true) X(PQconsumeInput, true) X(PQgetline, true) \
    X(PQputline, true) X(PQgetlineAsync, true) X(PQputnbytes, true) X(PQendcopy, true) \
    X(PQsetnonblocking, false) X(PQisnonblocking, false) X(PQflush, false) X(PQresultStatus, true) \
    X(PQresStatus, true) X(PQresultErrorMessage, true) X(PQntuples, true) X(PQnfields, true) \
    X(PQbinaryTuples, true) X(PQfname, true) X(PQfnumber, true) X(PQftype, true) X(PQfsize, true) \
    X(PQfmod, true) X(PQcmdStatus, true) X(PQoidStatus, true) X(PQoidValue, true) \
    X(PQcmdTuples, true) X(PQgetvalue, true) X(PQgetlength, true) X(PQgetisnull, true) \
    X(PQclear, true) X(PQmakeEmptyPGresult, true) X(PQprint, true) X(PQmblen, true) \
    X(PQenv2encoding, true) X(lo_open, true) X(lo_close, true) X(lo_read, true) X(lo_write, true) \
    X(lo_lseek, true) X(lo_creat, true) X(lo_tell, true) X(lo_unlink, true) X(lo_import, true) \
    X(lo_export, true) X(PQgetssl, false) X(PQftable, false) X(PQftablecol, false)
// clang-format on

// The bound client: one pointer per entry, typed from the client's header, nullptr while
// the library is not loaded (or, for an optional entry, when it lacks it).
struct TPgFunctions {
#define KW_PG_DECLARE_ENTRY(name, required) decltype(&::name) name = nullptr;
    KW_PG_ENTRY_POINTS(KW_PG_DECLARE_ENTRY)
#undef KW_PG_DECLARE_ENTRY
};

// The process's binding (valid while a connection holds a load count).
const TPgFunctions& PgFunctions();
TSDClientLibrary& PgLibrary();
void LoadPgSQLLibrary();
void UnloadPgSQLLibrary();

// The connection handle record GetHandle gives and SetHandle takes: the server type (10)
// and the client's connection, a full pointer.
#pragma pack(push, 1)
struct TPgHandle {
    uint8_t ServerType = stPostgreSQL;
    PGconn* Conn = nullptr;
};
#pragma pack(pop)

class TIPgDatabase : public TISqlDatabase {
public:
    TIPgDatabase(rtl::Component* owner, const rtl::StringList& params);
    ~TIPgDatabase() override;

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
    int32_t GetClientVersion() override;
    int32_t GetServerVersion() override;
    std::string GetVersionString() override;
    TISqlCommandPtr GetSchemaInfo(TSDSchemaType kind, const std::string& objectName) override;
    bool TestConnected() override;
    // "select lastval()": the session's last value of a sequence, which a serial or identity
    // column the insert left to the server has just drawn.
    std::string GetIdentityQuery() override { return "select lastval()"; }
    // Time stamps and times are held to the millisecond, real as the double of its text,
    // numeric read as a double as that double.
    std::string OldValueCondition(const TSDFieldDesc& desc, const std::string& column,
                                  const std::string& marker) override;
    void SetTransIsolation(TSDTransIsolation value) override;

    // The connection; rtl::EAssertionFailed "TIPgDatabase.GetPgConn" without a record.
    PGconn* GetPgConn() const;
    // Marks activity; raises the client's error (through HandleError) when the connection is
    // not open.
    void CheckConnection();
    // Marks activity; statuses 0 to 2 pass, anything else raises the result's error (or the
    // connection's, when the result has none) and frees the result first.
    void CheckResult(PGresult* result);
    // Runs a statement whose result is not read; checked when asked.
    void ExecControl(const std::string& sql, bool check);
    // The most bytes one character of the client encoding takes (1 for single-byte ones).
    int MaxCharBytes();

private:
    void AllocHandle();
    [[noreturn]] void RaiseError(const std::string& message);

    std::unique_ptr<TPgHandle> handle_;
    int maxCharBytes_ = 0;
};

class TIPgCommand final : public TISqlCommand {
public:
    TIPgCommand(TIPgDatabase* database, rtl::Component* owner);
    ~TIPgCommand() override;

    void BindParamsBuffer() override {}
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
    void* GetHandle() override { return conn_; }
    bool IsFixedCharType(int32_t nativeType) override;
    uint16_t NativeDataSize(TFieldType) override { return 0; }
    bool RequiredCnvtFieldType(TFieldType fieldType) override;
    void CloseResultSet() override;
    void Disconnect(bool force) override;
    int32_t GetRowsAffected() override { return rowsAffected_; }
    bool ResultSetExists() override { return true; }
    bool GetCnvtFieldData(const TSDFieldDesc& desc, void* dest, int32_t destSize) override;
    void GetCnvtRowData(const TSDCellCopy* cells, size_t count, uint8_t* record) override;
    void GetOutputParams() override;
    int32_t ReadBlob(const TSDFieldDesc& desc, rtl::ByteArray& data) override;
    // Columns whose table says they are identity columns or whose default draws on a sequence
    // (serial): one catalog query for the result's columns of tables. A server that cannot
    // answer it (before PostgreSQL 10) leaves the descriptions as they are.
    void ReadAutoIncrementColumns() override;

    // The current row's value of a column as the server sent it; false for null.
    bool GetFieldText(int32_t fieldNo, std::string& value) const;
    // The statement text last built (the command text with the parameters' literals).
    const std::string& StatementText() const { return statementText_; }
    // The command text with the current parameters' literals.
    std::string BuildStatementText() const;

private:
    TIPgDatabase& PgDatabase() const;
    void RefuseProcedure() const;
    void ExecuteStatement();
    void FreeResult();
    // GetCnvtFieldData of a value that is not null, of length bytes.
    bool StoreServerValue(const TSDFieldDesc& desc, const char* value, int32_t length, void* dest,
                          int32_t destSize);

    PGconn* conn_ = nullptr;
    PGresult* result_ = nullptr;
    int32_t rowCount_ = 0;
    // PQnfields of result_, kept with it: every value read checks its column against it.
    int32_t columnCount_ = 0;
    int32_t currentRow_ = -1;
    std::string commandText_;
    std::string statementText_;
    int32_t rowsAffected_ = -1;
    // Set while result_ came from describing (GetFieldDescs) and no execution used it yet.
    bool describedResult_ = false;
};

// Literals of the PostgreSQL dialect.
// E'...' with every quote and backslash doubled; EDatabaseError for a zero byte, which no
// PostgreSQL text can hold.
std::string PgStringLiteral(const std::string& text);
// E'\\x' and two lower-case hexadecimal digits per byte.
std::string PgByteaLiteral(const rtl::ByteArray& bytes);
// The literal of a parameter's value by its data type ("NULL" for null).
std::string PgParamLiteral(const TParam& param);

// Decoders of the server's text forms; each false for a malformed text (nothing else is
// changed then).
// bytea in the hex form ("\x" and pairs of hexadecimal digits) or the escape form
// (backslash-quote, double backslash, backslash and three octal digits).
bool DecodePgBytea(const char* text, size_t length, rtl::ByteArray& bytes, std::string& error);
// money: digits with a currency symbol and group separators around them, "-" or
// parentheses for a negative amount ("$1,234.56", "-$0.50", "1.234,56 €").
bool DecodePgMoney(const char* text, size_t length, double& value);

std::unique_ptr<TISqlDatabase> CreatePostgreSQLDatabase(rtl::Component* owner, const rtl::StringList& params);
// Puts CreatePostgreSQLDatabase into the engine's factory table (stPostgreSQL).
void RegisterPostgreSQLDriver();
