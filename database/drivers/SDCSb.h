// database/drivers/SDCSb.h: the SQL library's driver for SQLBase (unit SDCSb, server type
// stSQLBase, the engine's default type).
//
// The driver binds the SQLBase client library (libsqlbapi.so unless the parameter "SQLBase
// API LIBRARY" names another file) by name at run time, once per process, from the table of
// SDCSbApi.h. A SQLBase connection is a cursor: the connection object holds one (and, with the
// version 7 interface and transaction logging on, a connection handle that the cursors are
// opened on); every command opens a cursor of its own on the same database, compiles or
// retrieves its statement, binds parameters by name (statements) or by number (stored
// procedures), binds the engine's row buffer to the select items and moves long values in
// pieces. The engine reaches the driver only through its factory (RegisterSQLBaseDriver) and
// the driver interface.
//
// What must stay true:
//   - every non-zero client result becomes ESDCSBError with the client's text, through the
//     connection's HandleError, marked as a lost connection for 3806 and 9024;
//   - a long operation (sqlbld / sqllsk ... sqlelo) always ends with sqlelo, also after a
//     failure, and a long value read is never longer than what the client gave;
//   - date and time values travel in the client's internal form, converted through the
//     client's date pictures; their text is parsed here with fixed formats, never by changing
//     process-wide settings;
//   - patterns pasted into the catalog statements have their quotes doubled.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "database/drivers/SDCSbApi.h"
#include "database/drivers/SDClientLibrary.h"
#include "database/engine/SDCommon.h"
#include "database/engine/SDCommonCommand.h"

SD_ENGINE_ERROR(ESDCSBError, ESDEngineError);

// The bound client: one pointer per entry of KW_CSB_ENTRY_POINTS, nullptr while the library is
// not loaded (or, for a version 7 entry, when it lacks it).
struct TCsbFunctions {
#define KW_CSB_DECLARE_ENTRY(name, ret, params, kind) ret(*name) params = nullptr;
    KW_CSB_ENTRY_POINTS(KW_CSB_DECLARE_ENTRY)
#undef KW_CSB_DECLARE_ENTRY
};

// The default file name of the client library.
extern const char* const kCsbLibraryName;

// The process's binding (valid while a connection holds a load count).
const TCsbFunctions& CsbFunctions();
TSDClientLibrary& CsbLibrary();
// Adds a load; the first binds the table and initialises the client (sqlini), raising
// ESDSqlLibError "Error initialization SQLBase Engine" (and leaving nothing loaded) when it
// refuses. The last UnloadCsbLibrary ends the client (sqldon) and frees the library.
void LoadCsbLibrary();
void UnloadCsbLibrary();
// The client's interface level: 0 while not loaded, 7.0 when it exports sqlcch, sqldch and
// sqlopc, else 6.0 (MakeVersionNumber).
int32_t CsbInterfaceLevel();

class TICsbDatabase;

// Raises ESDCSBError for a client code: the client's text (sqlfer), ErrorCode and NativeError
// the code, the position, lost for 3806 and 9024; through the database's HandleError when one
// is given.
[[noreturn]] void RaiseCsbError(int32_t code, int32_t errorPos, TISqlDatabase* database);

// The connection handle record GetHandle gives and SetHandle takes. Not packed: it owns its
// connect string.
struct TICsbConnInfo {
    uint8_t ServerType = stSQLBase;
    csbapi::SQLTCON LogHandle = 0;  // the version 7 connection handle, 0 otherwise
    csbapi::SQLTCUR CurHandle = 0;
    std::string ConnectStr;
};

class TICsbDatabase : public TISqlDatabase {
public:
    TICsbDatabase(rtl::Component* owner, const rtl::StringList& params);
    ~TICsbDatabase() override;

protected:
    void DoConnect(const std::string& remoteDatabase, const std::string& userName,
                   const std::string& password) override;
    void DoDisconnect(bool force) override;
    void DoCommit() override;
    void DoRollback() override;
    // SQLBase transactions begin by themselves.
    void DoStartTransaction() override {}

public:
    void* GetHandle() override;
    void SetAutoCommitOption(bool) override {}
    void SetHandle(void* handle) override;
    TISqlCommandPtr CreateSqlCommand(rtl::Component* ownerDataSet) override;
    int32_t GetClientVersion() override;
    int32_t GetServerVersion() override;
    std::string GetVersionString() override;
    TISqlCommandPtr GetSchemaInfo(TSDSchemaType kind, const std::string& objectName) override;
    bool TestConnected() override;
    int32_t ParamValue(int32_t index) override;
    void SetTransIsolation(TSDTransIsolation value) override;
    bool SPDescriptionsAvailable() override { return false; }

    // The record's parts; rtl::EAssertionFailed without a record.
    csbapi::SQLTCON GetLogHandle() const;
    csbapi::SQLTCUR GetCurHandle() const;
    const std::string& GetConnectStr() const;
    // Whether cursors are opened on a version 7 connection handle (interface level 7 and
    // transaction logging on).
    bool IsVersion7Connection() const;
    bool TransactionLogging() const { return transLogging_; }
    // Marks activity; a non-zero result ends the wait cursor and raises its error.
    void CheckCsbStatus(csbapi::SQLTRCD result);
    // sqlset of a 4-byte integer parameter; the call's result.
    csbapi::SQLTRCD CsbSetIntParameter(csbapi::SQLTCUR cursor, csbapi::SQLTPTY parameter, int32_t value);
    // "COMMAND TIMEOUT", trimmed ("" when not given).
    std::string CommandTimeout() const;

private:
    void AllocHandles();
    // sqlget of a text parameter on the connection's cursor, checked.
    std::string GetTextParameter(csbapi::SQLTPTY parameter, int32_t* firstWord = nullptr);

    std::unique_ptr<TICsbConnInfo> handle_;
    bool transLogging_ = true;
    // Whether this object holds a load of the library (from DoConnect or SetHandle until
    // DoDisconnect).
    bool loaded_ = false;
};

class TICsbCommand final : public TISqlCommand {
public:
    TICsbCommand(TICsbDatabase* database, rtl::Component* owner);
    ~TICsbCommand() override;

    void BindParamsBuffer() override;
    void FreeParamsBuffer() override;
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
    // Cells start on 8-byte boundaries: the client writes their header words.
    int32_t GetFieldsBufferSize() override;
    void* GetHandle() override { return cursor_.get(); }
    bool IsFixedCharType(int32_t nativeType) override;
    uint16_t NativeDataSize(TFieldType fieldType) override;
    int32_t NativeDataType(TFieldType fieldType) override;
    bool RequiredCnvtFieldType(TFieldType fieldType) override;
    void CloseResultSet() override;
    void Disconnect(bool force) override;
    int32_t GetRowsAffected() override;
    bool ResultSetExists() override;
    bool GetCnvtFieldData(const TSDFieldDesc& desc, void* dest, int32_t destSize) override;
    void GetOutputParams() override;
    int32_t ReadBlob(const TSDFieldDesc& desc, rtl::ByteArray& data) override;
    int32_t WriteBlob(int32_t index, const uint8_t* data, int32_t count) override;

    // Sends a long parameter value of a statement in pieces under its bind name; the bytes
    // written.
    int32_t WriteLongByName(const std::string& name, const uint8_t* data, int32_t count);
    // The client's internal date value as the engine's date-time record (the field type's
    // layout); rtl::EConvertError for a text that is no valid date or time.
    TSDDateTimeRec DecodeCsbDate(TFieldType fieldType, const uint8_t* value, int32_t length);
    int32_t PieceSize() const { return pieceSize_; }

private:
    TICsbDatabase& CsbDatabase() const;
    csbapi::SQLTCUR Cursor() const;
    void OpenCursor();
    // Marks activity; a non-zero result raises with the cursor's error position.
    void Check(csbapi::SQLTRCD result);
    void BindStatementParams();
    void BindProcedureParams();
    // Writes a parameter's value at p (size bytes there); the bind length.
    csbapi::SQLTPDL WriteParamValue(const TParam& param, uint8_t* p, int32_t size, bool statement);

    std::unique_ptr<csbapi::SQLTCUR> cursor_;
    bool rowFetched_ = false;
    int32_t pieceSize_ = 32752;
};

// The date pictures the driver converts with, by field type ("" for other types), and the
// length of the text each gives.
const char* CsbDatePicture(TFieldType fieldType);
int32_t CsbDateTextLength(TFieldType fieldType);
// The text of a date picture (CsbDatePicture) as the engine's date-time record of the field
// type; rtl::EConvertError for a text that is no valid date or time. An empty text is the
// zero record.
TSDDateTimeRec CsbDateTextToRec(TFieldType fieldType, std::string text);
// "Centura SQLBase", ... for a brand code; "" for an unknown code.
std::string CsbBrandName(int32_t code);
// The connect string of a database name, user and password ("DEMO", "SYSADM", "" give
// "DEMO/SYSADM").
std::string BuildCsbConnectString(const std::string& database, const std::string& user,
                                  const std::string& password);
// The catalog statement of a kind (0 tables, 1 system tables, 2 procedures, 3 columns,
// 5 indexes) for a pattern, its quotes doubled; "" for another kind.
std::string CsbSchemaQueryText(TSDSchemaType kind, const std::string& pattern);

std::unique_ptr<TISqlDatabase> CreateSQLBaseDatabase(rtl::Component* owner, const rtl::StringList& params);
// Puts CreateSQLBaseDatabase into the engine's factory table (stSQLBase).
void RegisterSQLBaseDriver();
