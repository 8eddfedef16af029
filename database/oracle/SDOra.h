// database/oracle/SDOra.h: the SQL library's Oracle driver (unit SDOra, server type stOracle).
//
// The driver reaches Oracle servers through the Oracle Call Interface, a client library it
// loads by file name at run time and binds entry point by entry point (SDOraApi.h). It holds
// two generations: TIOra8Database / TIOra8Command on the handle-based OCI 8 calls, for client
// libraries of version 8 and above, and TIOraDatabase / TIOraCommand on the OCI 7 calls, for
// older clients or when the parameter "FORCE OCI7" is TRUE. Both are reached only through the
// engine's factory table (RegisterOracleDriver puts CreateOracleDatabase there).
//
// Finding the library: the client's own file names, newest first
// ("libclntsh.so.23.1;libclntsh.so.21.1;...;libclntsh.so.8.0", then the bare "libclntsh.so"),
// are tried in order through the loader's search path, then, when ORACLE_HOME names a folder,
// once more in its "lib/". The parameter "Oracle API LIBRARY" replaces the list while nothing
// is loaded, for the rest of the process. The client version comes from the name that loaded
// (libclntsh.so.19.1 is 19.1, libclntsh.so.9.0 9.0); a name without a version that is a link,
// as installations make libclntsh.so, takes the version of the name it links to; any other
// name is version 0. Versions below 8 (0 among them) select OCI 7.
//
// The unit is split over several files:
//   SDOraApi.h            OCI types, constants and the two entry tables
//   SDOra.h/.cpp          library state, factory, errors (this file)
//   SDOraTypes.cpp        type tables and conversions shared by both generations
//   SDOra8.cpp            the OCI 8 connection
//   SDOra8Command.cpp     the OCI 8 command: statements, binds, execution, procedures
//   SDOra8Fetch.cpp       the OCI 8 command: columns, defines, fetching, long data
//   SDOra7.cpp            the OCI 7 connection and command
//
// Cells on this platform: the client writes a 16-bit indicator at the start of a cell's
// header and (for defines) a 16-bit length at its offset 4, so the driver reads both as 16
// bits. Row cells start on 8-byte boundaries, because value areas hold pointers (locators,
// descriptors, statement handles, piece records) and doubles the client reads and writes in
// place; parameter cells too.
//
// What must stay true: a connection holds exactly one load of the library from the factory
// (or its connect) to its disconnect, whatever other connections do; no exception crosses a
// call-back the client calls (a failure inside one is kept and raised after the client call).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "database/engine/SDCommon.h"
#include "database/engine/SDCommonCommand.h"
#include "database/oracle/SDOraApi.h"
#include "rtl/DbParams.h"
#include "rtl/StringList.h"

SD_ENGINE_ERROR(ESDOraError, ESDEngineError);

// ---------------------------------------------------------------------------------------------
// The bound entry tables

// Declared inside the interface's namespace, whose types the entry lists name.
namespace ociapi {
struct TOci8Functions {
#define KW_OCI_DECLARE_ENTRY(name, ret, params, required) ret(*name) params = nullptr;
    KW_OCI8_ENTRY_POINTS(KW_OCI_DECLARE_ENTRY)
#undef KW_OCI_DECLARE_ENTRY
};

struct TOci7Functions {
#define KW_OCI_DECLARE_ENTRY(name, ret, params, piecewise) ret(*name) params = nullptr;
    KW_OCI7_ENTRY_POINTS(KW_OCI_DECLARE_ENTRY)
#undef KW_OCI_DECLARE_ENTRY
};
}  // namespace ociapi
using ociapi::TOci7Functions;
using ociapi::TOci8Functions;

// The built-in client library list.
extern const char* const kOciLibraryList;

// Adds one load, loading the library on the first (the list in order, then under
// $ORACLE_HOME/lib/), and binds the table the generation needs; answers the client version.
// ESDSqlLibError "Error loading library '%s'" (the whole list) when no file loads; a missing
// required entry point is an assertion failure "Function '%s' not found in OCI library" (the
// load stays counted).
int32_t LoadOciLibrary(bool forceOci7);
// Releases one load; the last one frees the module and clears both tables.
void UnloadOciLibrary();
// Whether the loaded library exports the name.
bool Oci8FunctionExists(const char* name);
// The unit's state, for the drivers and tests.
int32_t OciClientVersion();
int OciLoadCount();
bool OciLibraryLoaded();
std::string OciLoadedName();
bool Oci7PiecewiseAvailable();
// The current list (the built-in one unless a factory replaced it); tests put the built-in
// one back with SetOciLibraryList(kOciLibraryList) once nothing is loaded.
std::string OciLibraryList();
void SetOciLibraryList(const std::string& list);
// The bound tables; an assertion failure while the table is not bound.
const TOci8Functions& Oci8();
const TOci7Functions& Oci7();
// The client version a file name stands for (without its folder, any case): the numbers after
// "libclntsh.so.", major then minor; 0 for any other name.
int32_t OciVersionOfFileName(const std::string& fileName);

std::unique_ptr<TISqlDatabase> CreateOracleDatabase(rtl::Component* owner, const rtl::StringList& params);
// Puts CreateOracleDatabase into the engine's factory table (stOracle).
void RegisterOracleDriver();

// Errors. RaiseOci7Error does nothing for number 0. Both hand the error to the database's
// HandleError (the engine's lost-connection handling) or, without one, raise it.
void RaiseOci7Error(ociapi::Lda_Def* lda, int32_t errorNumber, int32_t errorPos, TISqlDatabase* database);
// The handle is the error handle, or (handleType 1) the environment handle when there is no
// error handle yet.
[[noreturn]] void RaiseOci8Error(void* handle, ociapi::sword status, ociapi::OCIStmt* stmt,
                                 TISqlDatabase* database, ociapi::ub4 handleType = ociapi::OCI_HTYPE_ERROR);
// The Oracle error number of a failed call; -2 for an invalid handle.
int32_t GetOci8ErrorCode(void* handle, ociapi::sword status);
// Statuses 0 and 1 pass; any other raises without statement and without database.
void CheckOci8(ociapi::sword status, ociapi::OCIError* errorHandle);
// Exactly 3113 and 12571 mean a lost connection.
bool OraConnectionLost(int32_t errorNumber);

// ---------------------------------------------------------------------------------------------
// Type mapping and conversions (SDOraTypes.cpp)

int32_t OraNativeDataType(TFieldType fieldType);
uint16_t OraNativeDataSize(TFieldType fieldType);
TFieldType OraFieldDataType(int32_t oraType);
bool IsOraCharZType(int32_t oraType);
TFieldType OraNumberFieldType(TFieldType fieldType, int32_t precision, int32_t scale, bool enableBcd,
                              bool enableIntegers);
bool OraRequiresConversion(TFieldType fieldType);
// The seven-byte date of the value; "Insufficient buffer size for internal datetime type"
// below 7 bytes. Answers the buffer length.
int32_t DateTimeToOraDate(TFieldType fieldType, uint8_t* buffer, int32_t bufferSize, rtl::TDateTime value);
// The seven bytes as the engine's date-time record of the field type (0 for another type).
void OraDateToDateTime(TFieldType fieldType, const uint8_t* oraDate, TSDDateTimeRec& rec);
// A fetched cell (header and data) in the engine's layout; false for null or a blob type.
// A text gets its terminator inside destSize: it is cut one character short only when it
// fills the destination entirely.
bool OraCnvtFieldData(TFieldType fieldType, const uint8_t* cell, void* dest, bool trimChar, int32_t destSize);
// The value's length as the client takes it (without a text's terminator).
int32_t OraParamSize(const TParam& param);
// The statement with each parameter's first marker (":name" or ":\"name\"", a whole marker
// outside literals and comments) renumbered ":1", ":2", ...; CR removed.
std::string PrepareOraSqlText(const std::string& sql, const TParams* params);
std::string BuildOraProcCall(const std::string& procName, const TParams* params);
std::string BuildOraConnectString(const std::string& remoteDatabase, const std::string& userName,
                                  const std::string& password);
// The catalog query of a kind ("" for a kind without one); values inside literals are quoted.
std::string OraSchemaQueryText(TSDSchemaType kind, const std::string& objectName);
// The statement that sets a transaction isolation level.
std::string OraIsolationStatement(TSDTransIsolation level);
// Date-time parts with a time-zone offset added, carried through minutes, hours and days.
struct TOraDateTimeParts {
    int Year = 0;
    int Month = 1;
    int Day = 1;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
};
void AddOraTimeZoneOffset(TOraDateTimeParts& parts, int offsetHours, int offsetMinutes);
// The parts as the engine's date-time record of the field type; rtl::EConvertError for a
// date or time that does not exist.
void OraPartsToDateTimeRec(TFieldType fieldType, const TOraDateTimeParts& parts, TSDDateTimeRec& rec);
// An interval as a four-decimal currency amount (value times 10000).
int64_t OraYearMonthToScaled(int32_t years, int32_t months);
int64_t OraDaySecondToScaled(int32_t days, int32_t hours, int32_t minutes, int32_t seconds,
                             int32_t nanoseconds);

// The value area of a parameter cell for the types both generations fill alike: texts (a
// procedure's text cut to the cell and always terminated), 16- and 32-bit integers, doubles
// for floats and BCDs, seven-byte dates. Nothing is written for a null value, nor for an SQL
// text (a procedure leaves a null's area untouched). False for any other type.
bool FillOraParamValue(const TParam& param, uint8_t* value, int32_t size, bool procedure);
// An output parameter takes the converted value (the engine's layout, as OraCnvtFieldData
// gives it) by its data type; a type without a value form clears it.
void SetOraParamValue(TParam& param, const uint8_t* converted);
// A parameter cell of the driver's layout: header and data, rounded up to 8 bytes.
int32_t OraParamCellSize(int32_t dataSize);
// The parameter buffer of a command in that layout (the base's checks of each parameter).
int32_t OraParamsBufferSize(TISqlCommand& command);
// A parameter's value as bytes: a byte array as it stands, anything else as its text.
std::string OraParamBytes(const TParam& param);
// A long value kept in a column's plain buffer (a long text or byte column): the converted
// cell cut to the length the client gave; 0 for null.
int32_t OraReadPlainBlob(TISqlCommand& command, const TSDFieldDesc& desc, const uint8_t* cell,
                         rtl::ByteArray& data);

// Connection operations both generations run through a temporary command of their own.
void OraQueryColumnValues(TISqlDatabase& database, const std::string& sql, rtl::StringList& values);
int32_t OraServerVersion(TISqlDatabase& database);
std::string OraVersionString(TISqlDatabase& database);
TISqlCommandPtr OraSchemaCommand(TISqlDatabase& database, TSDSchemaType kind, const std::string& objectName);
void OraExecute(TISqlDatabase& database, const std::string& sql);

// ---------------------------------------------------------------------------------------------
// What the commands of both generations do alike

// The steps of a command both generations share: binding by command kind, the direct and the
// prepared execution around each generation's execution core, the release of the parameters
// after every execution, describing a cursor parameter's rows by executing once, and the
// parameter layout. A generation implements the binds, the core and its returned cursor.
class TIOraCustomCommand : public TISqlCommand {
public:
    using TISqlCommand::TISqlCommand;

    void BindParamsBuffer() override;
    int32_t CnvtDateTime2DBDateTime(TFieldType fieldType, rtl::TDateTime value, uint8_t* buffer,
                                    int32_t bufferSize) override;
    int32_t GetParamsBufferSize() override { return OraParamsBufferSize(*this); }
    int32_t GetFieldsBufferSize() override { return LayOutFieldCells(8); }
    bool IsFixedCharType(int32_t nativeType) override { return nativeType == ociapi::SQLT_AFC; }
    void Execute() override;
    void GetOutputParams() override {}

protected:
    void DoExecDirect(const std::string& sql) override;
    void DoExecute() override;
    virtual void BindParams(bool procedure) = 0;
    virtual void ExecuteCore() = 0;
    // A cursor returned by a cursor parameter is open (its rows are fetched, not re-executed).
    virtual bool HasReturnedCursor() const = 0;
    // Executes the command once with describing set, so that a returned cursor exists.
    void ExecuteToDescribe();
    // True when a parameter is a cursor (which marks the result as the cursor's, for good).
    bool HasCursorParam();
    int32_t ParamCellSize(const TParam& param) { return OraParamCellSize(ParamDataSize(param)); }

    bool paramsBound_ = false;
    bool describing_ = false;
    bool cursorResult_ = false;
    // Parameters bound with their values sent at execution, in order.
    std::vector<int> pieceParams_;
};

// ---------------------------------------------------------------------------------------------
// OCI 8

// The native connection handle of an OCI 8 connection (GetHandle / SetHandle).
struct TOra8HandleRec {
    uint8_t Kind = 1;
    ociapi::OCIEnv* Env = nullptr;
    ociapi::OCIError* Err = nullptr;
    ociapi::OCISvcCtx* Svc = nullptr;
    ociapi::OCIServer* Srv = nullptr;
    ociapi::OCISession* Session = nullptr;
};

class TIOra8Command;

class TIOra8Database : public TISqlDatabase {
public:
    TIOra8Database(rtl::Component* owner, const rtl::StringList& params);
    // Gives back a load the connection still holds (a database that never connected).
    ~TIOra8Database() override;

protected:
    void DoConnect(const std::string& remoteDatabase, const std::string& userName,
                   const std::string& password) override;
    void DoDisconnect(bool force) override;
    void DoCommit() override;
    void DoRollback() override;
    void DoStartTransaction() override {}

public:
    void* GetHandle() override { return handle_.get(); }
    void SetHandle(void* handle) override;
    void SetAutoCommitOption(bool) override {}
    TISqlCommandPtr CreateSqlCommand(rtl::Component* ownerDataSet) override;
    int32_t GetClientVersion() override;
    int32_t GetServerVersion() override;
    std::string GetVersionString() override;
    TISqlCommandPtr GetSchemaInfo(TSDSchemaType kind, const std::string& objectName) override;
    bool TestConnected() override;
    void SetTransIsolation(TSDTransIsolation value) override;
    bool SPDescriptionsAvailable() override { return true; }

    // The factory hands over the load it took.
    void AdoptLibraryLoad() { holdsLoad_ = true; }

    ociapi::OCIEnv* EnvHandle() const { return handle_ ? handle_->Env : nullptr; }
    ociapi::OCIError* ErrHandle() const { return handle_ ? handle_->Err : nullptr; }
    ociapi::OCISvcCtx* SvcHandle() const { return handle_ ? handle_->Svc : nullptr; }
    ociapi::OCIServer* SrvHandle() const { return handle_ ? handle_->Srv : nullptr; }
    ociapi::OCISession* SessionHandle() const { return handle_ ? handle_->Session : nullptr; }
    // Marks activity; a status other than 0 and 1 ends the wait cursor and raises through
    // the engine's lost-connection handling, with the statement's parse offset when given.
    void Check(ociapi::sword status, ociapi::OCIStmt* stmt = nullptr);
    bool IsLobType(TFieldType fieldType) const { return fieldType == ftOraBlob || fieldType == ftOraClob; }
    bool DateTimeDescriptorsUsable() const { return dateTimeUsable_; }
    bool TemporaryLobsUsable() const { return tempLobsUsable_; }
    const std::string& SessionTimeZone() const { return sessionTimeZone_; }
    bool EnableIntegers() const { return enableIntegers_; }
    // "MAXCHARPARAMLEN", read each time: 255 when empty or not a number.
    int32_t MaxCharParamLength() const;
    // This connection's piece size for LONG columns ("BLOB PIECE SIZE").
    int32_t LongPieceSize() const { return BlobPieceSize; }
    // Every row's first column as text (null and empty values left out).
    void QueryColumnValues(const std::string& sql, rtl::StringList& values);

private:
    void ReleaseLibraryLoad();

    std::unique_ptr<TOra8HandleRec> handle_;
    bool enableIntegers_ = false;
    bool xaConnection_ = false;
    bool dateTimeUsable_ = false;
    bool tempLobsUsable_ = false;
    bool holdsLoad_ = false;
    std::string sessionTimeZone_;
};

// The LOB locators a data-modifying statement returns when its LOB parameters cannot be sent
// as temporary LOBs: per returned row and LOB parameter one locator, with its length.
class TIOra8LobParams {
public:
    TIOra8LobParams(ociapi::OCIEnv* env, ociapi::OCIError* err) : env_(env), err_(err) {}
    ~TIOra8LobParams();
    TIOra8LobParams(const TIOra8LobParams&) = delete;
    TIOra8LobParams& operator=(const TIOra8LobParams&) = delete;

    // (0, 0) frees everything. Otherwise each count must stay, or be 0 now, or be 0 then
    // (an assertion failure else); a changed shape gets fresh locators.
    void Resize(int32_t rows, int32_t lobs);
    int32_t LobCount() const { return lobCount_; }
    ociapi::OCIError* ErrHandle() const { return err_; }
    int32_t RowCount() const { return rowCount_; }
    void SetInfo(int32_t lob, ociapi::OCIBind* bind, int32_t paramIndex);
    ociapi::OCIBind* InfoBind(int32_t lob) const { return info_[size_t(lob)].Bind; }
    int32_t InfoParam(int32_t lob) const { return info_[size_t(lob)].ParamIndex; }
    // The LOB parameter of the bind handle; -1 when none.
    int32_t FindLob(const ociapi::OCIBind* bind) const;
    ociapi::OCILobLocator** LocatorPlace(int32_t row, int32_t lob);
    ociapi::ub4* LengthPlace(int32_t row, int32_t lob);

    // The failure of a call-back, raised by the command after the client call.
    std::string CallbackError;

private:
    struct Info {
        ociapi::OCIBind* Bind = nullptr;
        int32_t ParamIndex = 0;
    };
    void FreeLocators();

    ociapi::OCIEnv* env_;
    ociapi::OCIError* err_;
    int32_t lobCount_ = 0;
    int32_t rowCount_ = 0;
    std::vector<Info> info_;
    std::vector<ociapi::OCILobLocator*> locators_;
    std::vector<ociapi::ub4> lengths_;
};

// The piece record of a LONG or LONG RAW column: the collected value, grown one piece at a
// time by the define call-back. Its address occupies the first pointer of the column's cell.
struct TOraLongPieces {
    std::vector<uint8_t> Buffer;
    ociapi::ub4 Size = 0;             // bytes collected before the current piece
    ociapi::ub4 LastPieceLength = 0;  // the current piece's length, set by the client
    ociapi::sb2 Indicator = 0;
    ociapi::ub4 PieceSize = 32752;  // the connection's piece size
    std::string CallbackError;      // a failure inside the call-back
};

class TIOra8Command : public TIOraCustomCommand {
public:
    TIOra8Command(TIOra8Database* database, rtl::Component* owner);
    ~TIOra8Command() override;

    void FreeParamsBuffer() override;
    void FreeFieldsBuffer() override;
    void SetFieldsBuffer() override;

protected:
    void DoPrepare(const std::string& sql) override;
    bool DoFetchNextRow() override;

public:
    void InitParamList() override;
    TFieldType FieldDataType(int32_t nativeType) override;
    void GetFieldDescs(TSDFieldDescList& list) override;
    void* GetHandle() override { return cursorStmt_ != nullptr ? cursorStmt_ : stmt_; }
    uint16_t NativeDataSize(TFieldType fieldType) override;
    int32_t NativeDataType(TFieldType fieldType) override;
    bool RequiredCnvtFieldType(TFieldType fieldType) override;
    void CloseResultSet() override;
    void Cancel() override;
    void Disconnect(bool force) override;
    int32_t GetRowsAffected() override;
    bool ResultSetExists() override;
    bool GetCnvtFieldData(const TSDFieldDesc& desc, void* dest, int32_t destSize) override;
    int32_t ReadBlob(const TSDFieldDesc& desc, rtl::ByteArray& data) override;
    int32_t WriteBlob(int32_t index, const uint8_t* data, int32_t count) override;

    // The statement type of the prepared statement (attribute 24).
    ociapi::ub2 StatementType();
    const std::string& PreparedStatementText() const { return PreparedText; }

private:
    TIOra8Database& Db() const { return *oraDatabase_; }
    const TOci8Functions& Fn() const { return Oci8(); }
    void Check(ociapi::sword status, ociapi::OCIStmt* stmt = nullptr) { oraDatabase_->Check(status, stmt); }
    void BindParams(bool procedure) override;
    void ExecuteCore() override;
    bool HasReturnedCursor() const override { return cursorStmt_ != nullptr; }
    void AllocStatement();
    void PrepareText(const std::string& text);
    void SendPieces(ociapi::sword& status);
    void WriteReturnedLobs();
    void ReadOutputParams();
    ociapi::ub4 AutoCommitMode() const;
    void FreeStatement(ociapi::OCIStmt*& stmt);
    void RaiseCallbackFailures();
    // Date-time descriptors.
    void ConstructDateTime(ociapi::OCIDateTime* descriptor, TFieldType fieldType, rtl::TDateTime value);
    bool ExtractDateTime(ociapi::OCIDateTime* descriptor, ociapi::ub2 dataType, TFieldType fieldType,
                         TSDDateTimeRec& rec);
    void WriteLob(ociapi::OCILobLocator* locator, const void* data, ociapi::ub4 length);
    // Result side helpers.
    bool IsPlainBufferBlob(const TSDFieldDesc& desc);
    static bool IsDescriptorType(int32_t dataType);
    static ociapi::ub4 DescriptorTypeOf(int32_t dataType);
    static bool IsIntervalType(int32_t dataType) {
        return dataType == ociapi::SQLT_INTERVAL_YM || dataType == ociapi::SQLT_INTERVAL_DS;
    }
    bool IsLongColumn(const TSDFieldDesc& desc) const;
    bool IsLobColumn(const TSDFieldDesc& desc) const;
    uint8_t* RowCell(const TSDFieldDesc& desc);

    TIOra8Database* oraDatabase_;
    ociapi::OCIStmt* stmt_ = nullptr;
    ociapi::OCIStmt* cursorStmt_ = nullptr;
    std::unique_ptr<TIOra8LobParams> lobReturns_;
    std::vector<std::unique_ptr<TOraLongPieces>> longPieces_;
};

// ---------------------------------------------------------------------------------------------
// OCI 7

// The native connection handle of an OCI 7 connection: the logon data area, the host data area
// and the connection's own cursor.
struct TOra7HandleRec {
    uint8_t Kind = 1;
    uint8_t* Lda = nullptr;
    uint8_t* Hda = nullptr;
    uint8_t* Cursor = nullptr;
};

class TIOraDatabase : public TISqlDatabase {
public:
    TIOraDatabase(rtl::Component* owner, const rtl::StringList& params);
    ~TIOraDatabase() override;

protected:
    void DoConnect(const std::string& remoteDatabase, const std::string& userName,
                   const std::string& password) override;
    void DoDisconnect(bool force) override;
    void DoCommit() override;
    void DoRollback() override;
    void DoStartTransaction() override {}

public:
    void* GetHandle() override { return handle_.get(); }
    void SetHandle(void* handle) override;
    void SetAutoCommitOption(bool value) override;
    TISqlCommandPtr CreateSqlCommand(rtl::Component* ownerDataSet) override;
    int32_t GetClientVersion() override;
    int32_t GetServerVersion() override;
    std::string GetVersionString() override;
    TISqlCommandPtr GetSchemaInfo(TSDSchemaType kind, const std::string& objectName) override;
    bool TestConnected() override;
    void SetTransIsolation(TSDTransIsolation value) override;
    bool SPDescriptionsAvailable() override { return true; }
    int32_t ParamValue(int32_t index) override;

    virtual void QueryColumnValues(const std::string& sql, rtl::StringList& values);

    void AdoptLibraryLoad() { holdsLoad_ = true; }
    ociapi::Lda_Def* Lda() const { return handle_ ? handle_->Lda : nullptr; }
    bool EnableIntegers() const { return enableIntegers_; }
    int32_t MaxCharParamLength() const;
    // The database-call check: a non-zero status raises the logon area's code through the
    // engine's lost-connection handling.
    void CheckLda(ociapi::sword status);

private:
    void ReleaseLibraryLoad();
    void FreeAreas();

    std::unique_ptr<TOra7HandleRec> handle_;
    std::vector<uint8_t> areas_;  // the three areas of a connection this object made
    bool ownsAreas_ = false;
    bool enableIntegers_ = false;
    bool holdsLoad_ = false;
};

class TIOraCommand : public TIOraCustomCommand {
public:
    TIOraCommand(TIOraDatabase* database, rtl::Component* owner);
    ~TIOraCommand() override;

    void FreeParamsBuffer() override;
    void SetFieldsBuffer() override;
    void FreeFieldsBuffer() override;

protected:
    void DoPrepare(const std::string& sql) override;
    bool DoFetchNextRow() override;

public:
    void InitParamList() override;
    TFieldType FieldDataType(int32_t nativeType) override { return OraFieldDataType(nativeType); }
    void GetFieldDescs(TSDFieldDescList& list) override;
    void* GetHandle() override;
    uint16_t NativeDataSize(TFieldType fieldType) override { return OraNativeDataSize(fieldType); }
    int32_t NativeDataType(TFieldType fieldType) override { return OraNativeDataType(fieldType); }
    bool RequiredCnvtFieldType(TFieldType fieldType) override { return OraRequiresConversion(fieldType); }
    void CloseResultSet() override;
    void Cancel() override;
    void Disconnect(bool force) override;
    int32_t GetRowsAffected() override;
    bool ResultSetExists() override;
    bool GetCnvtFieldData(const TSDFieldDesc& desc, void* dest, int32_t destSize) override;
    int32_t ReadBlob(const TSDFieldDesc& desc, rtl::ByteArray& data) override;
    int32_t WriteBlob(int32_t index, const uint8_t* data, int32_t count) override;

private:
    TIOraDatabase& Db() const { return *oraDatabase_; }
    const TOci7Functions& Fn() const { return Oci7(); }
    // The command-call check: raised directly, with the cursor's code and parse offset.
    void CheckCursor(ociapi::sword status, ociapi::Cda_Def* cursor);
    void BindParams(bool procedure) override;
    void ExecuteCore() override;
    bool HasReturnedCursor() const override { return !paramCursor_.empty(); }
    void OpenCursorArea();
    void ReadOutputParams();
    void CloseCursorParam(bool check);
    bool IsLongColumn(const TSDFieldDesc& desc) const;
    bool IsPlainBufferBlob(const TSDFieldDesc& desc) const;
    uint8_t* RowCell(const TSDFieldDesc& desc);
    static int32_t CursorReturnCode(const ociapi::Cda_Def* cursor);

    TIOraDatabase* oraDatabase_;
    std::vector<uint8_t> cursor_;       // the command's own cursor data area (empty until prepared)
    std::vector<uint8_t> paramCursor_;  // a cursor a cursor parameter returned, copied out
};
