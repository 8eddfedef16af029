// database/odbc/SDOdbc.h: the SQL library's driver for ODBC data sources (unit SDOdbc, server type
// stODBC), and the connection and command logic that the DB2 and Informix drivers (SDDb2,
// SDInf) share with it.
//
// The driver loads the ODBC driver manager (libodbc.so.2 unless the parameter "ODBC API
// LIBRARY" names another file) and binds it function by function (SDOdbcApi.h). A remote
// database without "=" is a data source name (SQLConnect); one with "=" is a connection
// string (SQLDriverConnect) to which the user name and password are added as UID and PWD
// unless it names them already.
//
// The unit is split over several files:
//   SDOdbcApi.h/.cpp      ODBC types and constants, the function table, the library state
//   SDOdbc.h/.cpp         errors, the connection classes, the library of the unit (this file)
//   SDOdbcCommand.cpp     the command: statements, execution, parameters, type tables, describing
//   SDOdbcFetch.cpp       the command: row buffer, fetching, conversion, long data, results
//   SDOdbcCells.h         small helpers of those two files
//   SDOdbcCatalog.cpp     the catalog commands and the stored-procedure parameter list
//
// Cells on this platform: the driver manager writes a column's or parameter's
// length-or-indicator as a 64-bit SQLLEN, so it is bound to the whole 8-byte cell header
// (read it with OdbcCellIndicator); -1 is null. The data follows at offset 8, and every cell
// starts on an 8-byte boundary, because the client library stores typed values there.
//
// What must stay true: a connection holds one reference to its unit's library from connect
// (or SetHandle) to disconnect; every checked call goes through CheckHandle, which reports
// through RaiseError and TISqlDatabase::HandleError and never returns on failure.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "database/engine/SDCommon.h"
#include "database/engine/SDCommonCommand.h"
#include "database/odbc/SDOdbcApi.h"

class TICustomOdbcCommand;

// An ODBC failure: the data source's message, its native error (kept to 16 bits, signed) and
// the five-character ODBC state.
class ESDOdbcError : public ESDEngineError {
public:
    ESDOdbcError(int32_t errorCode, int32_t nativeError, std::string message, bool connectionLost,
                 std::string sqlState)
        : ESDEngineError(errorCode, nativeError, std::move(message), connectionLost),
          SqlState(std::move(sqlState)) {}
    const char* ClassName() const noexcept override { return "ESDOdbcError"; }

    std::string SqlState;

protected:
    void RaiseAsOwnClass() const override { throw *this; }
};

// The native connection handle (GetHandle / SetHandle): a kind byte, always 6, and the two
// ODBC handles.
struct TOdbcHandleRec {
    uint8_t Kind = 6;
    odbcapi::SQLHENV Env = nullptr;
    odbcapi::SQLHDBC Dbc = nullptr;
};

// The connection logic shared by the ODBC, DB2 and Informix drivers.
class TICustomOdbcDatabase : public TISqlDatabase {
public:
    TICustomOdbcDatabase(rtl::Component* owner, const rtl::StringList& params, TSDServerType serverType);
    // Releases the handle record without ODBC calls (the engine disconnects first).
    ~TICustomOdbcDatabase() override;

protected:
    void DoConnect(const std::string& remoteDatabase, const std::string& userName,
                   const std::string& password) override;
    void DoDisconnect(bool force) override;
    void DoCommit() override;
    void DoRollback() override;
    // Transactions begin by themselves once auto-commit is off.
    void DoStartTransaction() override {}

public:
    void* GetHandle() override;
    void SetAutoCommitOption(bool value) override;
    // Adopts the environment and connection of a TOdbcHandleRec; runs no connection set-up.
    void SetHandle(void* handle) override;
    std::string GetIdentityQuery() override;
    int32_t GetClientVersion() override;
    int32_t GetServerVersion() override;
    std::string GetVersionString() override;
    TISqlCommandPtr GetSchemaInfo(TSDSchemaType kind, const std::string& objectName) override;
    bool TestConnected() override;
    // On PostgreSQL (psqlODBC), which keeps time stamps and times to the microsecond and
    // sends real and numeric values as text: time stamps are held to the millisecond, times
    // to the second (their structure has no fraction), real as the double of its text and a
    // numeric read as a double as that double. Other servers compare with "=".
    std::string OldValueCondition(const TSDFieldDesc& desc, const std::string& column,
                                  const std::string& marker) override;
    void SetTransIsolation(TSDTransIsolation value) override;
    bool SPDescriptionsAvailable() override { return true; }

    // The unit's library: release one reference, take one (and its function table).
    virtual void FreeApiLibrary() = 0;
    virtual void LoadApiLibrary() = 0;
    // Builds the driver's error class and hands it to HandleError.
    [[noreturn]] virtual void RaiseError(int32_t errorCode, int32_t nativeError, bool connectionLost,
                                         const std::string& state, const std::string& message) = 0;

    // Shared routines of the commands and subclasses.
    odbcapi::SQLHENV GetEnvHandle() const;
    odbcapi::SQLHDBC GetDbcHandle() const;
    // The error path of every checked ODBC call: success, SQL_NO_DATA and success with a
    // state of class "01" or "IM" return; anything else raises.
    // The error counts as a lost connection when its state says so (OdbcConnectionLostState)
    // or when the driver reports the connection dead after a failed call.
    void CheckHandle(odbcapi::SQLSMALLINT handleType, odbcapi::SQLHANDLE handle, odbcapi::SQLRETURN rc);
    // The driver's SQL_ATTR_CONNECTION_DEAD, read without a check; false when unknown.
    bool ConnectionDead();
    void CheckDbc(odbcapi::SQLRETURN rc) { CheckHandle(odbcapi::SQL_HANDLE_DBC, GetDbcHandle(), rc); }
    void CheckStmt(odbcapi::SQLHSTMT stmt, odbcapi::SQLRETURN rc) {
        CheckHandle(odbcapi::SQL_HANDLE_STMT, stmt, rc);
    }
    odbcapi::SQLRETURN AllocOdbcHandle(odbcapi::SQLSMALLINT type, odbcapi::SQLHANDLE parent,
                                       odbcapi::SQLHANDLE* handle);
    odbcapi::SQLRETURN FreeOdbcHandle(odbcapi::SQLSMALLINT type, odbcapi::SQLHANDLE handle);
    int16_t GetInfoSmallint(odbcapi::SQLUSMALLINT infoType);
    int32_t GetInfoInteger(odbcapi::SQLUSMALLINT infoType);
    std::string GetInfoString(odbcapi::SQLUSMALLINT infoType);
    int32_t GetConnectAttr(odbcapi::SQLINTEGER attribute);
    odbcapi::SQLRETURN SetConnectAttr(odbcapi::SQLINTEGER attribute, odbcapi::SQLULEN value,
                                      odbcapi::SQLINTEGER length);
    odbcapi::SQLRETURN SetStmtAttr(odbcapi::SQLHSTMT stmt, odbcapi::SQLINTEGER attribute,
                                   odbcapi::SQLULEN value, odbcapi::SQLINTEGER length);
    odbcapi::SQLRETURN EndTran(odbcapi::SQLSMALLINT completion);
    int32_t GetOdbcVersion();
    std::string GetDbmsDescription();
    bool NeedLongDataLen();
    // Whether the data source lists a type for SQL_BIT (its catalog of types, asked once per
    // connection): boolean parameters are then bound as SQL_BIT.
    bool HasBooleanType();
    // With SingleConnection: makes the command the one that owns the connection, after the
    // previous owner fetched all its rows when asked.
    void SetActiveCommand(TICustomOdbcCommand* command, bool askFetchAll);
    // The command stops owning the connection (nothing when it did not own it).
    void ReleaseActiveCommand(const TICustomOdbcCommand* command);
    TICustomOdbcCommand* ActiveCommand() const { return activeCommand_; }
    bool TransactionsSupported() const { return transSupported_; }
    // The bound library; an assertion failure while none is bound.
    TOdbcFunctions& Functions() const;

protected:
    // The connect steps (library, handles, log-in time-out, SQLConnect or SQLDriverConnect,
    // version, description, set-up), which the Informix driver runs on a text of its own.
    void OdbcConnect(const std::string& remoteDatabase, const std::string& userName,
                     const std::string& password);

    TOdbcFunctions* functions_ = nullptr;

private:
    void AllocHandles();
    void FreeHandles();
    void ConnectionSetup();
    bool GetAutoCommit();
    bool SetConnectAttrSupported();

    std::unique_ptr<TOdbcHandleRec> handle_;
    int32_t odbcVersion_ = 0;
    bool transSupported_ = false;
    std::string dbmsDescription_;
    int booleanType_ = -1;  // HasBooleanType: -1 not asked yet, else 0 or 1
    TICustomOdbcCommand* activeCommand_ = nullptr;
};

// The ODBC driver proper.
class TIOdbcDatabase : public TICustomOdbcDatabase {
public:
    TIOdbcDatabase(rtl::Component* owner, const rtl::StringList& params);
    ~TIOdbcDatabase() override;

    TISqlCommandPtr CreateSqlCommand(rtl::Component* ownerDataSet) override;
    void FreeApiLibrary() override;
    void LoadApiLibrary() override;
    [[noreturn]] void RaiseError(int32_t errorCode, int32_t nativeError, bool connectionLost,
                                 const std::string& state, const std::string& message) override;
};

// The driver command over one ODBC statement.
class TICustomOdbcCommand : public TISqlCommand {
public:
    TICustomOdbcCommand(TICustomOdbcDatabase* database, rtl::Component* owner);
    ~TICustomOdbcCommand() override;

    void AllocParamsBuffer() override;
    void BindParamsBuffer() override;
    void FreeFieldsBuffer() override;
    void SetFieldsBuffer() override;

protected:
    void DoPrepare(const std::string& sql) override;
    void DoExecDirect(const std::string& sql) override;
    void DoExecute() override;
    bool DoFetchNextRow() override;

public:
    int32_t CnvtDateTime2DBDateTime(TFieldType fieldType, rtl::TDateTime value, uint8_t* buffer,
                                    int32_t bufferSize) override;
    void InitParamList() override;
    TFieldType FieldDataType(int32_t nativeType) override;
    void GetFieldDescs(TSDFieldDescList& list) override;
    // The whole row block; the current row starts at CurrentRowOffset().
    TSDBuffer* GetFieldsBuffer() override;
    int32_t GetFieldsBufferSize() override;
    void* GetHandle() override { return stmt_; }
    int32_t GetParamsBufferSize() override;
    bool IsFixedCharType(int32_t nativeType) override;
    uint16_t NativeDataSize(TFieldType fieldType) override;
    int32_t NativeDataType(TFieldType fieldType) override;
    bool RequiredCnvtFieldType(TFieldType fieldType) override;
    void CloseResultSet() override;
    void Cancel() override;
    void Disconnect(bool force) override;
    int32_t GetRowsAffected() override;
    bool NextResultSet() override;
    bool ResultSetExists() override;
    bool GetCnvtFieldData(const TSDFieldDesc& desc, void* dest, int32_t destSize) override;
    void GetCnvtRowData(const TSDCellCopy* cells, size_t count, uint8_t* record) override;
    void GetOutputParams() override;
    int32_t ReadBlob(const TSDFieldDesc& desc, rtl::ByteArray& data) override;
    int32_t WriteBlob(int32_t index, const uint8_t* data, int32_t count) override;

    virtual void AllocStatement();
    // The ODBC SQL type with which a parameter of that field type is bound.
    virtual int16_t SqlDataType(TFieldType fieldType);

    // The current row's cell of a column (its length-or-indicator header first).
    uint8_t* CurrentCell(int32_t fieldNo) {
        return GetFieldCell(fieldNo, FieldsBuffer.get()) + CurrentRowOffset();
    }
    int32_t CurrentRowOffset() const { return currentRow_ * rowSize_; }
    bool BlockFetching() const { return blockFetching_; }
    int32_t RowsPerFetch() const { return rowsPerFetch_; }
    int32_t ResultColumns() const { return resultColumns_; }

protected:
    TICustomOdbcDatabase& OdbcDatabase() const { return *odbcDatabase_; }
    TOdbcFunctions& Fn() const { return odbcDatabase_->Functions(); }
    void CheckStmt(odbcapi::SQLRETURN rc) { odbcDatabase_->CheckStmt(stmt_, rc); }
    void TakeConnection();
    void ReleaseConnection();
    void RePrepareIfNeeded();
    // Catalog commands fill the columns they compute whenever a row becomes current.
    virtual void FillComputedColumns() {}
    // A bound long field: a blob type by its field type but not by its native type's.
    bool IsBoundLongField(const TSDFieldDesc& desc);
    bool IsIntervalField(const TSDFieldDesc& desc) const;
    // A BCD field over an exact numeric column, fetched as decimal text ("ENABLE BCD").
    static bool IsDecimalBcdField(const TSDFieldDesc& desc);

    odbcapi::SQLHSTMT stmt_ = nullptr;
    bool furtherResultSet_ = false;
    bool singleConnection_ = false;
    bool executed_ = false;
    bool noMoreResults_ = false;
    bool serverCursor_ = false;
    bool directMode_ = false;
    bool noRows_ = false;
    int32_t resultColumns_ = 0;
    bool blockFetching_ = false;
    int32_t rowsPerFetch_ = 1;
    odbcapi::SQLULEN rowsFetched_ = 0;
    std::vector<odbcapi::SQLUSMALLINT> rowStatus_;
    int32_t currentRow_ = 0;
    int32_t rowSize_ = 0;
    int32_t pieceSize_ = 0;
    int32_t maxBlobSize_ = 0x7FFFFFFF;

private:
    std::string BuildStatementText();
    void StatementExecution(bool bind);
    void ProcedureExecution(bool bind);
    odbcapi::SQLRETURN SendLongParams(odbcapi::SQLRETURN rc);
    void BindParams(bool procedure);
    bool IsCallStatement();
    // Step of describing and ResultSetExists: the number of result columns, executing or
    // skipping empty results where the command's kind needs it.
    int SearchResultColumns();
    void FreeRowBuffer(bool check);
    // Checks the columns of the row that just became current (truncation, computed columns).
    void RowArrived();
    // Lists the bound text and byte columns whose values RowArrived checks for truncation.
    void PlanTruncationChecks();
    [[noreturn]] void RaiseRowError();
    // A cell in the engine's layout (dates as TSDDateTimeRec); false for null.
    bool ConvertCell(int16_t nativeType, TFieldType fieldType, bool fixedChar, void* dest, int32_t destSize,
                     const uint8_t* cell, int32_t cellSize);
    // ConvertCell's dates, times, GUIDs and decimals (a cell that is not null); false when the
    // type is none of those, which are copied as they are.
    bool ConvertCodedCell(int16_t nativeType, TFieldType fieldType, void* dest, int32_t destSize,
                          const uint8_t* cell, int32_t cellSize, bool& present);

    TICustomOdbcDatabase* odbcDatabase_;
    bool blockLoaded_ = false;
    // A column RowArrived checks: its description's index, its field number and the most
    // bytes its cell holds.
    struct TruncationCheck {
        int descIndex;
        int32_t fieldNo;
        int32_t capacity;
    };
    // Made by PlanTruncationChecks when the row buffer is bound (or at the first row after),
    // dropped with the row buffer.
    std::vector<TruncationCheck> truncationChecks_;
    bool truncationChecksPlanned_ = false;
};

class TIOdbcCommand final : public TICustomOdbcCommand {
public:
    using TICustomOdbcCommand::TICustomOdbcCommand;
};

// Catalog commands: prepare runs the direct execution, which calls the ODBC catalog function;
// execution does nothing. Each keeps the object name it was given.
class TICustomOdbcCall : public TICustomOdbcCommand {
public:
    TICustomOdbcCall(TICustomOdbcDatabase* database, rtl::Component* owner, std::string objectName)
        : TICustomOdbcCommand(database, owner), ObjectName(std::move(objectName)) {}

    std::string ObjectName;

protected:
    void DoPrepare(const std::string& sql) override { DoExecDirect(sql); }
    void DoExecDirect(const std::string& sql) override;
    void DoExecute() override {}
    // Runs the catalog function (owner and name already split); answers its return code.
    virtual odbcapi::SQLRETURN CallCatalog(odbcapi::SQLCHAR* owner, odbcapi::SQLCHAR* name) = 0;
    // The second try after a failure, without owner; a class that makes none gives back the
    // failed result.
    virtual odbcapi::SQLRETURN RetryCatalog(odbcapi::SQLRETURN failed, odbcapi::SQLCHAR* name);
    virtual const char* CallText() const = 0;
    // New names of result columns by column number, applied after the description.
    void RenameColumns(TSDFieldDescList& list, std::initializer_list<std::pair<int, const char*>> names);
    TSDFieldDesc& AddComputedColumn(TSDFieldDescList& list, const char* name, TFieldType type, int32_t size,
                                    bool required);
    // Typed access to the current row's cells of a catalog result.
    bool CellIsNull(int32_t fieldNo);
    bool CellAsInteger(int32_t fieldNo, int64_t& value);
    std::string CellAsText(int32_t fieldNo);
    void SetCellInteger(int32_t fieldNo, int64_t value);
    void SetCellNull(int32_t fieldNo);

    // The object name's parts as the catalog functions take them: without the double quotes
    // of a quoted identifier, which the flags remember (such a name is exact, case and all).
    std::string owner_;
    std::string name_;
    bool ownerQuoted_ = false;
    bool nameQuoted_ = false;
};

class TIOdbcCallTables final : public TICustomOdbcCall {
public:
    TIOdbcCallTables(TICustomOdbcDatabase* database, rtl::Component* owner, std::string objectName,
                     std::string tableTypes);
    void GetFieldDescs(TSDFieldDescList& list) override;

protected:
    odbcapi::SQLRETURN CallCatalog(odbcapi::SQLCHAR* owner, odbcapi::SQLCHAR* name) override;
    odbcapi::SQLRETURN RetryCatalog(odbcapi::SQLRETURN failed, odbcapi::SQLCHAR* name) override;
    const char* CallText() const override { return "ODBC Call: SQLTables"; }
    void FillComputedColumns() override;

private:
    std::string tableTypes_;
};

class TIOdbcCallProcs final : public TICustomOdbcCall {
public:
    using TICustomOdbcCall::TICustomOdbcCall;
    void GetFieldDescs(TSDFieldDescList& list) override;

protected:
    odbcapi::SQLRETURN CallCatalog(odbcapi::SQLCHAR* owner, odbcapi::SQLCHAR* name) override;
    const char* CallText() const override { return "ODBC Call: SQLProcedures"; }
};

class TIOdbcCallProcParams final : public TICustomOdbcCall {
public:
    using TICustomOdbcCall::TICustomOdbcCall;
    void GetFieldDescs(TSDFieldDescList& list) override;

protected:
    odbcapi::SQLRETURN CallCatalog(odbcapi::SQLCHAR* owner, odbcapi::SQLCHAR* name) override;
    odbcapi::SQLRETURN RetryCatalog(odbcapi::SQLRETURN failed, odbcapi::SQLCHAR*) override { return failed; }
    const char* CallText() const override { return "ODBC Call: SQLProcedureColumns"; }
};

class TIOdbcCallColumns final : public TICustomOdbcCall {
public:
    using TICustomOdbcCall::TICustomOdbcCall;
    void GetFieldDescs(TSDFieldDescList& list) override;

protected:
    odbcapi::SQLRETURN CallCatalog(odbcapi::SQLCHAR* owner, odbcapi::SQLCHAR* name) override;
    const char* CallText() const override { return "ODBC Call: SQLColumns"; }
    void FillComputedColumns() override;

private:
    int32_t precisionField_ = 0;
    int32_t typeField_ = 0;
};

class TIOdbcCallIndexes final : public TICustomOdbcCall {
public:
    using TICustomOdbcCall::TICustomOdbcCall;
    void GetFieldDescs(TSDFieldDescList& list) override;

protected:
    odbcapi::SQLRETURN CallCatalog(odbcapi::SQLCHAR* owner, odbcapi::SQLCHAR* name) override;
    const char* CallText() const override { return "ODBC Call: SQLStatistics"; }
    void FillComputedColumns() override;
};

// A cell's length-or-indicator (the whole 8-byte header). Inline: read for every cell of
// every fetched row.
inline odbcapi::SQLLEN OdbcCellIndicator(const uint8_t* cell) {
    odbcapi::SQLLEN v;
    std::memcpy(&v, cell, sizeof v);
    return v;
}
inline void SetOdbcCellIndicator(uint8_t* cell, odbcapi::SQLLEN value) {
    std::memcpy(cell, &value, sizeof value);
}

// The connection text with the log-in added: UID (unless the text names UID= or USERID=) and
// PWD (unless it names PWD= or PASSWORD=), each only when not empty, their values written by
// OdbcAttributeValue; ";" before each unless the text is empty or ends with one.
std::string AppendOdbcLogin(const std::string& connectString, const std::string& userName,
                            const std::string& password);
// The statement that reads the last identity value, chosen by the DBMS description (DB2,
// Informix, SQL Server and Anywhere, MySQL, PostgreSQL, SQLite; "" for others).
std::string OdbcIdentityQuery(const std::string& dbmsDescription);
// Whether a state reports that the session is gone: communication link failure (08S01), no
// connection (08003), connection failure (08006), the server ending the session (57P01, its
// administrator shutdown), and 40003 on DB2.
bool OdbcConnectionLostState(const std::string& state, const std::string& dbmsDescription);
// An ODBC interval (SQL_INTERVAL_STRUCT of the given interval type) as a currency amount
// (the value times 10000), from which the BCD value is made: year-to-month
// (years * 100 + months) * 100000000, the day-to-second family days * 1000000 + hours * 10000
// + minutes * 100 + seconds + fraction / 1000000. The sign is not used. EDatabaseError when
// the value does not fit.
int64_t OdbcIntervalToScaled(int16_t intervalType, const uint8_t* interval);
// With "ENABLE BCD", whether an exact numeric column (SQL_NUMERIC, SQL_DECIMAL) of that
// precision and scale is a BCD field: one to four places and at most fourteen integer digits,
// so that every value of the column is a currency amount (a BCD field's value). Other exact
// numerics stay floating point.
bool OdbcExactNumericIsBcd(bool enableBcd, int16_t sqlType, uint64_t precision, int16_t scale);
// Decimal text as the data source sends it ("-12.5", digits, an optional "." and places) to a
// currency amount (times 10000), places past the fourth cut off; false when the text is not
// such a number or the amount does not fit.
bool OdbcDecimalTextToScaled(std::string_view text, int64_t& scaled);
// A currency amount as decimal text with "." whatever the locale, without trailing zeros in
// its places; precision and places receive its counts of digits.
std::string OdbcScaledToDecimalText(int64_t scaled, int& precision, int& places);

// The unit's library and factory.
TOdbcClientLibrary& OdbcLibrary();
void LoadOdbcLibrary();
void UnloadOdbcLibrary();
std::unique_ptr<TISqlDatabase> CreateODBCDatabase(rtl::Component* owner, const rtl::StringList& params);
// Puts CreateODBCDatabase into the engine's factory table (stODBC).
void RegisterOdbcDriver();
