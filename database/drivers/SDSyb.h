// database/drivers/SDSyb.h: the SQL library's driver for Sybase servers over Open Client's
// CS-Library and Client-Library (unit SDSyb, server type stSybase).
//
// The driver binds FreeTDS's Client-Library (one file, libct.so.4, holds both the cs_ and the
// ct_ calls; the parameter "Sybase API LIBRARY" may name two files, the CS-Library first) by
// name at run time, once per process, with one CS-Library context for the whole process. A
// connection owns a CS_CONNECTION and a CS_COMMAND; outside single-connection mode each SELECT
// command opens a connection of its own, so several result sets stay open at once. Parameter
// values of plain statements are written into the text as Transact-SQL literals; stored
// procedures go out as RPC commands with their parameters.
//
// Messages are collected inline (ct_diag) per connection and turned into one ESDSybError by
// the check after each call. What must stay true:
//   - a call that fails is never taken for a success: without a message worth raising the
//     check raises an error naming the call (a lost connection when the connection is dead);
//   - a client message of a communication failure marks the error as a lost connection;
//   - a text or image value is read into an array that grows as the data comes, never past
//     it, whatever length the library announced;
//   - float literals are written with "." without touching any process-wide setting;
//   - no loop over results or rows goes on after a call failed.
//
// Numbers the original takes from Sybase's Open Client are FreeTDS's constants here, mapped by
// meaning (cspublic.h, ctpublic.h): properties CS_USERNAME, CS_PASSWORD, CS_APPNAME,
// CS_HOSTNAME, CS_LOGIN_STATUS, CS_PACKETSIZE, CS_SEC_ENCRYPTION, CS_LOGIN_TIMEOUT, CS_TIMEOUT,
// CS_MAX_CONNECT, CS_VER_STRING; options CS_OPT_CHAINXACTS, CS_OPT_TEXTSIZE,
// CS_OPT_QUOTED_IDENT, CS_OPT_ISOLATION with CS_OPT_LEVEL0, 1 and 3; the structures CS_DATAFMT,
// CS_SERVERMSG, CS_CLIENTMSG, CS_IODESC and CS_DATEREC by their sizeof. A communication
// failure is a client message of severity CS_SV_COMM_FAIL or, as FreeTDS reports the failures
// of its transport, of its severity EXCOMM (9). Where FreeTDS does less than Open Client:
//   - ct_config(CS_VER_STRING) answers only with a place for the text's length;
//   - the isolation option sends nothing to a TDS 7 server: the level also goes as "SET
//     TRANSACTION ISOLATION LEVEL ..." on the connection;
//   - ct_getloginfo and ct_setloginfo are missing: a command's own connection logs in with
//     the properties its database connection kept (in memory only);
//   - after ct_cancel(CS_CANCEL_ALL) took away results, the next call on that command only
//     reports the cancellation (CS_CANCELED): ct_send is then called again (Send).
// No registry: the CS-Library version chain starts at 12500 (CS_VERSION_125).
#pragma once

#include <ctpublic.h>
// The header renames cs_dt_crack to its second version; the driver binds the name it uses.
#undef cs_dt_crack

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "database/drivers/SDTdsEntryPoints.h"
#include "database/drivers/SDTdsLiterals.h"
#include "database/engine/SDCommon.h"
#include "database/engine/SDCommonCommand.h"
#include "database/engine/SDCommonLibrary.h"

SD_ENGINE_ERROR(ESDSybError, ESDEngineError);


struct TSybFunctions {
#define KW_SYB_TYPED_ENTRY(name, required) decltype(&::name) name = nullptr;
#define KW_SYB_ADDRESS_ENTRY(name, required) void* name = nullptr;
    KW_SYB_ENTRY_POINTS(KW_SYB_TYPED_ENTRY, KW_SYB_ADDRESS_ENTRY)
#undef KW_SYB_TYPED_ENTRY
#undef KW_SYB_ADDRESS_ENTRY
};

// The process's binding (valid while a connection holds a load count) and its context.
const TSybFunctions& SybFunctions();
CS_CONTEXT* SybContext();
// The library list ("CS-Library,Client-Library"); the factory replaces it from "Sybase API
// LIBRARY" while nothing is loaded.
std::string SybLibraryList();
int SybLoadCount();
// The CS-Library version the context was allocated with (0 while not loaded).
int32_t SybContextVersion();
// The first load loads both files, binds the table, allocates the context (12500, else 1100,
// else 112) and initialises the Client-Library; a failure leaves nothing loaded. The last
// unload ends the Client-Library, drops the context and frees the files.
void LoadSybLibrary();
void UnloadSybLibrary();

// The connection handle GetHandle gives and SetHandle takes (full pointers).
struct TISybConnInfo {
    uint8_t ServerType = stSybase;
    CS_CONNECTION* Connection = nullptr;
    CS_COMMAND* Command = nullptr;
    std::string ServerName;
    std::string DatabaseName;
};

class TISybCommand;

class TISybDatabase : public TISqlDatabase {
public:
    TISybDatabase(rtl::Component* owner, const rtl::StringList& params);
    ~TISybDatabase() override;

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
    std::string GetIdentityQuery() override { return "select CONVERT(int, @@IDENTITY)"; }
    int32_t GetClientVersion() override;
    int32_t GetServerVersion() override;
    std::string GetVersionString() override;
    TISqlCommandPtr GetSchemaInfo(TSDSchemaType kind, const std::string& objectName) override;
    bool TestConnected() override;
    void SetTransIsolation(TSDTransIsolation value) override;
    bool SPDescriptionsAvailable() override { return true; }

    // The error check: marks activity and, for a result other than CS_SUCCEED, raises the
    // connection's messages as one ESDSybError or, without any worth raising, an error naming
    // the call.
    void Check(CS_RETCODE result, CS_CONNECTION* connection, const char* call);
    // Raises the connection's messages (server messages above severity 10, client messages
    // above 0) as one ESDSybError when there are any; clears them in any case.
    void RaisePending(CS_CONNECTION* connection);

    // rtl::EAssertionFailed "TISybDatabase.GetConnPtr" / ".GetCmdPtr" without a record.
    CS_CONNECTION* GetConnPtr() const;
    CS_COMMAND* GetCmdPtr() const;
    std::string GetServerName() const { return connInfo_ ? connInfo_->ServerName : std::string(); }
    std::string GetDatabaseName() const { return connInfo_ ? connInfo_->DatabaseName : std::string(); }

    void SetActiveCommand(TISybCommand* command, bool fetchAll);
    // The active command lets go of the connection itself (its results are read or closed).
    void ReleaseActive(TISybCommand* command) {
        if (activeCommand_ == command) activeCommand_ = nullptr;
    }
    TISybCommand* ActiveCommand() const { return activeCommand_; }
    void CancelAll(CS_COMMAND* command, CS_CONNECTION* connection);
    void SendLanguage(CS_COMMAND* command, CS_CONNECTION* connection, const std::string& text);
    // ct_send, once more when the first call only reported an earlier cancellation.
    static CS_RETCODE Send(CS_COMMAND* command);
    // Sends the command and reads all its results, discarding rows.
    void SendAndDrain(CS_COMMAND* command, CS_CONNECTION* connection);
    void ApplyConnectionOptions(CS_CONNECTION* connection);
    void SetIsolation(CS_CONNECTION* connection, CS_COMMAND* command, TSDTransIsolation level);
    // Sets the login properties this connection was opened with on another connection.
    void ApplyLoginProperties(CS_CONNECTION* connection);

    bool XpMsver() const { return xpMsver_; }
    bool EmptyStringAsNull() const { return emptyStringAsNull_; }

    // The catalog text of a kind; "" for a kind above 5.
    static std::string SchemaInfoText(TSDSchemaType kind, const std::string& pattern, int32_t serverMajor,
                                      bool xpMsver);

private:
    // The properties a connection logs in with, kept for the commands' own connections.
    struct LoginProperties {
        std::string user;
        std::string password;
        std::string application;
        std::string host;
        int32_t packetSize = 0;
        bool encryption = false;
    };

    void AllocHandle();
    // The non-empty values of a column of the query's rows.
    std::vector<std::string> ReadList(const std::string& sql, int32_t field);
    void RunControl(const char* text);

    std::unique_ptr<TISybConnInfo> connInfo_;
    TISybCommand* activeCommand_ = nullptr;
    LoginProperties login_;
    bool xpMsver_ = false;
    bool emptyStringAsNull_ = false;
    bool quotedIdentifiers_ = true;
};

class TISybCommand final : public TISqlCommand {
public:
    TISybCommand(TISybDatabase* database, rtl::Component* owner);
    ~TISybCommand() override;

    void BindParamsBuffer() override {}
    void SetFieldsBuffer() override;

protected:
    void DoPrepare(const std::string& sql) override;
    void DoExecDirect(const std::string& sql) override;
    void DoExecute() override;
    bool DoFetchNextRow() override;

public:
    void InitParamList() override;
    TFieldType FieldDataType(int32_t nativeType) override;
    void GetFieldDescs(TSDFieldDescList& list) override;
    void* GetHandle() override;
    int32_t GetParamsBufferSize() override;
    uint16_t NativeDataSize(TFieldType fieldType) override;
    int32_t NativeDataType(TFieldType fieldType) override;
    bool RequiredCnvtFieldType(TFieldType fieldType) override;
    void CloseResultSet() override;
    void Disconnect(bool force) override;
    void Execute() override;
    int32_t GetRowsAffected() override { return rowsAffected_; }
    bool NextResultSet() override;
    bool ResultSetExists() override { return true; }
    bool GetCnvtFieldData(const TSDFieldDesc& desc, void* dest, int32_t destSize) override;
    void GetOutputParams() override;
    int32_t ReadBlob(const TSDFieldDesc& desc, rtl::ByteArray& data) override;

    // The field type of a procedure parameter by the catalog's user type.
    static TFieldType ParamFieldType(int32_t userType);
    // The statement text with every parameter written as a T-SQL literal.
    std::string BuildStatementText() const;
    const std::string& SentText() const { return sentText_; }
    // Whether the command runs on a connection of its own.
    bool HasOwnConnection() const { return ownConn_ != nullptr; }
    // Called by the connection when another command's statement takes the shared command.
    void LoseResults();

private:
    TISybDatabase& SybDatabase() const;
    CS_COMMAND* Handle() const;
    CS_CONNECTION* Connection() const;
    void Check(CS_RETCODE result, const char* call);
    // A CS_DATETIME as the engine's record for the field type; false when a part of it is no
    // date or time (the record then holds the other part).
    bool CrackDateTime(TFieldType fieldType, const uint8_t* data, TSDDateTimeRec& rec);
    void PreparationStep();
    void CreateConnect();
    void DropOwnConnection(bool check);
    void RunStatement();
    void CallProcedure();
    void BindProcedureParams(CS_COMMAND* handle);
    // One step through the results: true when a row result is pending.
    bool NextResults();
    void ReadOutputParams(CS_COMMAND* handle);
    void ReadReturnStatus(CS_COMMAND* handle);
    // Fetches until CS_END_DATA; a failing fetch raises.
    void DrainRows(CS_COMMAND* handle);
    void CancelAll(CS_COMMAND* handle);
    void CancelCurrent(CS_COMMAND* handle);
    void ReadColumnsFromFirstBlob();
    bool IsProcedure() const { return CommandType == 2; }

    std::string sentText_;
    int32_t rowsAffected_ = -1;
    CS_CONNECTION* ownConn_ = nullptr;
    CS_COMMAND* ownCmd_ = nullptr;
    bool rowResult_ = false;
    bool singleConnection_ = false;
    bool emptyStringAsNull_ = false;
    bool prepared_ = false;
    bool furtherResult_ = false;
    bool resultsDone_ = false;
    bool rtrim_ = true;
    int32_t firstBlobColumn_ = 0;
    // Client-Library reports a bound column's null indicator in 16 bits; copied into the
    // cell's 32-bit indicator after each fetch.
    std::vector<CS_SMALLINT> indicators_;
    // False once the command is destroyed: the engine's handling of a lost connection may
    // free the command from inside the error it raises, and the cleanup on the way out must
    // then leave the command alone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

std::unique_ptr<TISqlDatabase> CreateSybaseDatabase(rtl::Component* owner, const rtl::StringList& params);
// Puts CreateSybaseDatabase into the engine's factory table (stSybase).
void RegisterSybaseDriver();
