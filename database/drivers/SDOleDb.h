// database/drivers/SDOleDb.h: the SQL library's driver for OLE DB providers (unit SDOleDb,
// server type stOLEDB; also stSQLServer when the engine parameter "USE OLEDB" is "TRUE").
//
// The driver reaches a provider through the COM-style runtime (ComRuntime.h): it creates the
// data-link object, which loads the provider named by the initialisation string, initialises
// the data source with the connection's properties, opens a session and runs every statement
// on a command object of that session: text, properties, preparation, parameters bound
// through an accessor (or written into the text as literals for providers without parameter
// markers), rowsets read in batches of row handles through an accessor over the engine's row
// buffer, long data through a stream, catalog requests through schema rowsets
// (TIOleDbSchemaCommand and its five subclasses). The engine reaches the driver only through
// its factory (RegisterOLEDBDriver) and the driver interface.
//
// Cells on this platform: the provider writes a pointer-sized length, so a parameter or row
// cell here is a 16-byte header (the 32-bit status at 0, the length at 8) and the value at 16,
// each cell on an 8-byte boundary; the parameter buffer ends in one pointer-sized slot per
// long parameter, holding the task-memory copy of its value.
//
// What must stay true:
//   - every result of a provider call goes through TIOleDbDatabase::Check, which raises
//     ESDOleDbError (through HandleError) with the provider's records, last first;
//   - every reference, accessor, row handle and block a provider hands out is given back
//     exactly once, also on the error paths;
//   - values written into statement text, user names and passwords appended to the
//     initialisation string are quoted, so that no value adds SQL or attributes;
//   - a long value is never longer than what the provider's stream gave.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "database/drivers/OleDbApi.h"
#include "database/engine/SDCommon.h"
#include "database/engine/SDCommonCommand.h"

SD_ENGINE_ERROR(ESDOleDbError, ESDEngineError);

// The connection handle record GetHandle gives and SetHandle takes: the server type (11) and a
// counted reference to the session. Not packed: it holds a counted reference.
struct TIOleDbConnInfo {
    uint8_t ServerType = stOLEDB;
    com::ComPtr<oledb::IDBCreateCommand> Session;
};

// The driver's cell layout (see above).
inline constexpr int kOleDbStatusOffset = 0;
inline constexpr int kOleDbLengthOffset = 8;
inline constexpr int kOleDbValueOffset = 16;
inline constexpr int kOleDbCellHeader = 16;
inline constexpr int kOleDbPointerSlot = int(sizeof(void*));

// The record the long-data read binds: the stream, its length (the size of an interface
// pointer when the provider does not know it) and the status.
struct TBlobStorage {
    oledb::ISequentialStream* Stream;
    oledb::DBLENGTH Length;
    oledb::DBSTATUS Status;
};

// A property record as the driver builds them: required, no column, the value given.
oledb::DBPROP OleDbProp(oledb::DBPROPID id, com::VARIANT value);
// One SetProperties call of a set on an object with properties (IDBProperties or
// ICommandProperties); the values are cleared afterwards. The call's result.
template <typename T>
com::HRESULT SetOleDbProperties(T* target, const com::GUID& set, std::vector<oledb::DBPROP>& props) {
    oledb::DBPROPSET propSet{props.data(), com::ULONG(props.size()), set};
    const com::HRESULT hr = target->SetProperties(1, &propSet);
    for (oledb::DBPROP& p : props)
        com::VariantClear(&p.vValue);
    return hr;
}

// The initialisation string of a connect: a remote database without "=" names a SQL Server
// ("server:database", sqlServer set); user name and password are appended, quoted, when the
// string has neither key.
std::string BuildOleDbInitString(const std::string& remoteDatabase, const std::string& userName,
                                 const std::string& password, bool& sqlServer);

class TIOleDbCommand;

class TIOleDbDatabase : public TISqlDatabase {
public:
    TIOleDbDatabase(rtl::Component* owner, const rtl::StringList& params);
    ~TIOleDbDatabase() override;

protected:
    void DoConnect(const std::string& remoteDatabase, const std::string& userName,
                   const std::string& password) override;
    void DoDisconnect(bool force) override;
    void DoCommit() override;
    void DoRollback() override;
    void DoStartTransaction() override;

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
    void SetTransIsolation(TSDTransIsolation) override {}
    bool SPDescriptionsAvailable() override { return true; }

    // Marks activity; a failure result raises ESDOleDbError through HandleError.
    void Check(com::HRESULT hr);
    // A new reference to the session; an empty one while not connected.
    com::ComPtr<oledb::IDBCreateCommand> GetSession() const;
    // Makes the command (or nobody) the holder of the connection's result stream; a previous
    // holder fetches its remaining rows first when asked (and is put back when that fails).
    void SetActiveCommand(TISqlCommand* command, bool fetchPrevious);
    TISqlCommand* ActiveCommand() const { return activeCommand_; }
    // The data-source information properties' texts joined ("name Release version").
    std::string GetDataSourceInfo(std::initializer_list<oledb::DBPROPID> ids);

    bool ParamMarkers() const { return paramMarkers_; }
    bool ProviderMultipleResults() const { return multipleResults_; }
    int32_t OutputParamAvailability() const { return outputParams_; }
    bool IsSqlServer() const { return sqlServer_; }
    const std::string& ProviderFriendlyName() const { return friendlyName_; }
    // The initialisation string of the last connect.
    const std::string& InitString() const { return initString_; }

private:
    void InitCom();
    void UninitCom();
    void AllocHandle();
    void SetDBInitProps(bool beforeInitialize, bool integrated);
    void GetProviderInfo();
    // One SetProperties call of a set of properties; the result.
    com::HRESULT SetProps(const com::GUID& set, std::vector<oledb::DBPROP>& props);

    std::unique_ptr<TIOleDbConnInfo> handle_;
    com::ComPtr<oledb::IDBInitialize> dataSource_;
    com::ComPtr<oledb::IDBCreateSession> createSession_;
    com::ComPtr<oledb::ITransactionLocal> transaction_;
    bool multipleResults_ = false;
    int32_t outputParams_ = 0;
    bool paramMarkers_ = true;
    bool sqlServer_ = false;
    TISqlCommand* activeCommand_ = nullptr;
    bool comInitialized_ = false;
    std::string friendlyName_;
    std::string initString_;
};

class TIOleDbCommand : public TISqlCommand {
public:
    TIOleDbCommand(TIOleDbDatabase* database, rtl::Component* owner);
    ~TIOleDbCommand() override;

    void AllocParamsBuffer() override;
    void AllocFieldsBuffer() override;
    void BindParamsBuffer() override;
    void FreeParamsBuffer() override;
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
    int32_t GetFieldsBufferSize() override;
    void* GetHandle() override;
    int32_t GetParamsBufferSize() override;
    uint16_t NativeDataSize(TFieldType fieldType) override;
    int32_t NativeDataType(TFieldType fieldType) override;
    bool RequiredCnvtFieldType(TFieldType fieldType) override;
    void CloseResultSet() override;
    void Cancel() override;
    void Disconnect(bool force) override;
    void Execute() override;
    int32_t GetRowsAffected() override { return rowsAffected_; }
    bool NextResultSet() override;
    bool ResultSetExists() override;
    bool GetCnvtFieldData(const TSDFieldDesc& desc, void* dest, int32_t destSize) override;
    void GetOutputParams() override;
    int32_t ReadBlob(const TSDFieldDesc& desc, rtl::ByteArray& data) override;

    // Makes the command object (a command of the session, as ICommandText).
    virtual void CreateCommandObject();

    // A cell of the driver's layout converted into the engine's: false for null (dest
    // untouched); EDatabaseError "Cannot convert value of field '%s'" when the provider could
    // not convert it.
    // capacity is the most value bytes the cell holds; a fixed-length text loses its trailing
    // blanks when the connection's RTRIM CHAR OUTPUT is on.
    bool ConvertCell(const std::string& fieldName, TFieldType fieldType, int32_t destSize, void* dest,
                     const uint8_t* cell, int32_t capacity, bool fixedChar);
    void ReleaseRows();
    void ReleaseRowset();
    // The statement with the parameters' values written in as literals (providers without
    // markers); "" without parameters.
    std::string BuildLiteralText() const;
    // The text last given to the provider.
    const std::string& StatementText() const { return statementText_; }
    bool ServerCursor() const { return serverCursor_; }

protected:
    TIOleDbDatabase& OleDbDatabase() const;
    void Check(com::HRESULT hr) { OleDbDatabase().Check(hr); }
    void TakeConnection();
    void GiveUpConnection();
    void SetCommandObjectText(const std::string& text);
    void SetCommandProperties();
    void SetParameterInfo();
    void ExecuteCommand(bool withFieldDescs);
    void ReadOutputParams();
    bool InRowBlob(const TSDFieldDesc& desc) const;

    // The statement text as given to the provider; the engine's text is CommandText.
    std::string statementText_;
    com::ComPtr<oledb::ICommandText> command_;
    com::ComPtr<oledb::IMultipleResults> multipleResults_;
    com::ComPtr<oledb::IAccessor> rowAccessor_;
    com::ComPtr<oledb::IAccessor> paramAccessor_;
    oledb::HACCESSOR rowAccessorHandle_ = 0;
    oledb::HACCESSOR paramAccessorHandle_ = 0;
    std::vector<oledb::DBBINDING> rowBindings_;
    std::vector<oledb::DBBINDING> paramBindings_;
    oledb::HROW* rows_ = nullptr;
    oledb::DBCOUNTITEM rowIndex_ = 0;
    oledb::DBCOUNTITEM rowCount_ = 0;
    int32_t rowsPerFetch_ = 1;
    int32_t rowsAffected_ = -1;
    bool singleConnection_ = false;
    bool serverCursor_ = true;
    bool nextResultOpen_ = false;
    int32_t pointerSlotsStart_ = 0;
    int32_t describedColumns_ = 0;
    com::ComPtr<oledb::IRowset> rowset_;
    // Set when the last parameter reading found the outputs (they are read once).
    bool outputsRead_ = false;
};

// Catalog commands: schema rowsets presented under the library's column names.
class TIOleDbSchemaCommand : public TIOleDbCommand {
public:
    TIOleDbSchemaCommand(TIOleDbDatabase* database, rtl::Component* owner, const com::GUID& schema);
    ~TIOleDbSchemaCommand() override;

    void SetPattern(const std::string& pattern) { pattern_ = pattern; }
    const std::string& Pattern() const { return pattern_; }
    const com::GUID& Schema() const { return schema_; }
    // The restrictions last sent (text, or "" for an empty one).
    std::vector<std::string> RestrictionTexts() const;
    void* GetHandle() override;
    bool ResultSetExists() override { return true; }

protected:
    void DoPrepare(const std::string& sql) override;
    void DoExecDirect(const std::string& sql) override;
    void DoExecute() override;

    virtual void SetRestrictions() = 0;
    void ClearRestrictions();
    // Restrictions in order: a text (Windows code page to UTF-16) when filled, else empty.
    void AddRestriction(const std::string& text);
    // The pattern's owner and name, "%" taken as empty.
    void SplitPattern(std::string& owner, std::string& name) const;
    // Renames the provider's column at a 1-based position.
    static void NameColumn(TSDFieldDescList& list, int position, const char* name);
    // Appends a computed column: an integer (4 bytes) or a text of the size.
    void AppendColumn(TSDFieldDescList& list, const char* name, TFieldType type, int32_t size);
    // The current row's cell of a field by name, and writes of a computed value.
    uint8_t* CellOf(const char* name);
    void WriteInteger(const char* name, int32_t value);
    void WriteText(const char* name, const std::string& text);
    // Reads a provider column of the current row (by 1-based position) as integer or text;
    // false when null.
    bool ReadInteger(int position, int32_t& value);
    bool ReadText(int position, std::string& value);

private:
    std::string pattern_;
    com::GUID schema_;
    std::vector<com::VARIANT> restrictions_;
};

class TIOleDbSchemaTables final : public TIOleDbSchemaCommand {
public:
    TIOleDbSchemaTables(TIOleDbDatabase* database, rtl::Component* owner, bool systemTables);
    void GetFieldDescs(TSDFieldDescList& list) override;

protected:
    void SetRestrictions() override;
    bool DoFetchNextRow() override;

private:
    bool systemTables_;
};

class TIOleDbSchemaColumns final : public TIOleDbSchemaCommand {
public:
    TIOleDbSchemaColumns(TIOleDbDatabase* database, rtl::Component* owner);
    void GetFieldDescs(TSDFieldDescList& list) override;

protected:
    void SetRestrictions() override;
    bool DoFetchNextRow() override;
};

class TIOleDbSchemaIndexes final : public TIOleDbSchemaCommand {
public:
    TIOleDbSchemaIndexes(TIOleDbDatabase* database, rtl::Component* owner);
    void GetFieldDescs(TSDFieldDescList& list) override;

protected:
    void SetRestrictions() override;
    bool DoFetchNextRow() override;
};

class TIOleDbSchemaProcs final : public TIOleDbSchemaCommand {
public:
    TIOleDbSchemaProcs(TIOleDbDatabase* database, rtl::Component* owner);
    void GetFieldDescs(TSDFieldDescList& list) override;

protected:
    void SetRestrictions() override;
    bool DoFetchNextRow() override;
};

class TIOleDbSchemaProcParams final : public TIOleDbSchemaCommand {
public:
    TIOleDbSchemaProcParams(TIOleDbDatabase* database, rtl::Component* owner);

protected:
    void SetRestrictions() override;
};

// The type table: the OLE DB type bound for a field type, its size (0: the field's own) and
// the type name given to SetParameterInfo.
oledb::DBTYPE OleDbBoundType(TFieldType fieldType);
uint16_t OleDbNativeSize(TFieldType fieldType);
const char* OleDbTypeName(TFieldType fieldType);
// An OLE DB type's field type (ftUnknown for the others) and its catalog name ("" for others).
TFieldType OleDbFieldType(int32_t oleDbType);
const char* OleDbTypeCodeName(int32_t oleDbType);

std::unique_ptr<TISqlDatabase> CreateOLEDBDatabase(rtl::Component* owner, const rtl::StringList& params);
// Puts CreateOLEDBDatabase into the engine's factory table (stOLEDB; the engine uses it for
// stSQLServer with "USE OLEDB").
void RegisterOLEDBDriver();
