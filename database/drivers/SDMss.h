// database/drivers/SDMss.h: the SQL library's driver for SQL Server over DB-Library (unit
// SDMss, server type stSQLServer).
//
// The driver binds FreeTDS's DB-Library (libsybdb.so.5 unless the parameter "SQLServer API
// LIBRARY" names another file) by name at run time, once per process, and talks to the server
// through one DBPROCESS per connection: every command of a connection shares it (the base
// forces single-connection mode for SQL Server), and the connection keeps one active command,
// the one whose results are pending. DB-Library has no statement preparation: parameter values
// are written into the text as T-SQL literals; stored procedures go out as remote procedure
// calls.
//
// DB-Library reports failures through two process-wide handlers; they file what they get in
// one locked list of pending errors, keyed by the DBPROCESS, and the next check of the same
// DBPROCESS raises it. What must stay true:
//   - an error is raised only on the connection it belongs to: messages that come without a
//     DBPROCESS join only DBPROCESS-less errors, and the messages of a failing login are kept
//     under that login attempt (FreeTDS reports them with the DBPROCESS it is about to free);
//   - a call that fails is never taken for a success: without a collected message the check
//     raises an error naming the call (a lost connection when the DBPROCESS is dead);
//   - the DBPROCESS and LOGINREC are stored in the connection record as soon as they exist,
//     so a connect that fails half-way closes what it opened;
//   - no exception crosses the handlers back into DB-Library.
//
// Numbers that the original takes from Microsoft's DB-Library are FreeTDS's constants here,
// mapped by meaning (sybdb.h):
//   login items       host name DBSETHOST, user DBSETUSER, password DBSETPWD, application
//                     DBSETAPP; "version 6.0 behaviour" is dbsetlversion(DBVER60); the secure
//                     login with the workstation's account is dbsetlbool(DBSETNETWORKAUTH)
//   options           quoted identifiers DBQUOTEDIDENT, text limit DBTEXTLIMIT, text size
//                     DBTEXTSIZE (FreeTDS refuses a null option text: "" is passed)
//   bind types        null-terminated string NTBSTRINGBIND, 2-byte integer SMALLBIND, 4-byte
//                     integer INTBIND, 8-byte float FLT8BIND, datetime DATETIMEBIND, binary
//                     BINARYBIND, variable binary VARYBINBIND
//   lost connection   unable to connect SYBECONN and SYBEFCON, write failed SYBEWRIT, read
//                     failed SYBEREAD, unexpected end of the stream SYBESEOF, attention not
//                     sent SYBEOOB, dead DBPROCESS SYBEDDNE
//   left out         SYBESMSG, the pointer "check messages from the server" FreeTDS adds after
//                     every server error (the messages themselves are collected); and server
//                     message 16902 and every message of severity 1 or lower, as before
//   structures        DBCOL by its sizeof; the date record as tds_microsoft_dbdaterec (months
//                     1 to 12), which FreeTDS fills for a DBPROCESS opened in Microsoft mode
//                     (tdsdbopen with msdblib 1)
//   no OS error       DBNOERR or 0 (FreeTDS passes errno, and strerror(0) as its text)
// Entries FreeTDS lacks are optional; of those the driver would call, dbrpcexec becomes
// dbrpcsend and dbsqlok, and dbprocinfo (whose block the header does not describe) gives way to
// the version in the text of @@version. dbinit returns a status: the client version comes
// from dbversion.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "database/drivers/SDClientLibrary.h"
#include "database/drivers/SDTdsLiterals.h"
#include "database/engine/SDCommon.h"
#include "database/engine/SDCommonCommand.h"

// DB-Library's handles, declared as its header declares them (the header itself, with its
// constants and function table, is included by the driver's sources through SDMssApi.h: its
// SUCCEED and FAIL macros would clash with other code).
typedef struct tds_dblib_dbprocess DBPROCESS;
typedef struct tds_dblib_loginrec LOGINREC;

// The process's binding (valid while a connection holds a load count).
TSDClientLibrary& MssLibrary();
// The first load installs the handlers and initialises DB-Library (ESDMssError "Error
// initialization of DB-library" when it refuses, and nothing stays loaded); the last unload
// ends it.
void LoadMssLibrary();
void UnloadMssLibrary();
// The client's version (MakeLong(minor, major) of dbversion's text), 0 while not loaded.
int32_t MssClientVersion();

// A DB-Library error or server message. ErrorCode and NativeError hold the whole number
// (a server message above 32767 stays positive); ErrorPos is the message's line, -1 for none.
class ESDMssError : public ESDEngineError {
public:
    ESDMssError(DBPROCESS* dbProcess, int32_t number, std::string message, int32_t errorPos, int32_t severity,
                bool connectionLost)
        : ESDEngineError(number, number, std::move(message), errorPos, connectionLost),
          DBProcess(dbProcess),
          Severity(severity) {}
    const char* ClassName() const noexcept override { return "ESDMssError"; }

    // The DBPROCESS the error belongs to; nullptr for errors without one (a failed login).
    DBPROCESS* DBProcess;
    int32_t Severity;

protected:
    void RaiseAsOwnClass() const override { throw *this; }
};

// The errors the handlers collected and nobody took yet, of every connection. Each error
// belongs to an owner: its DBPROCESS, or the login attempt during which it came (see
// TMssLoginScope), or nullptr for an error that came without either.
class TMssErrorList {
public:
    // Joins the text to the owner's latest error (CR LF between them; the error keeps the
    // first message's numbers), or files a new error. Lost marks the error as a lost
    // connection, whichever of its messages said so.
    void Add(const void* owner, DBPROCESS* dbProcess, int32_t number, int32_t severity, const std::string& text,
             int32_t line, bool lost);
    // Takes the owner's latest error out of the list; nullptr when it has none.
    std::unique_ptr<ESDMssError> Take(const void* owner);
    bool Has(const void* owner) const;
    // Frees the owner's errors.
    void Free(const void* owner);
    void Clear();
    int Count() const;

private:
    struct Entry {
        const void* owner;
        std::unique_ptr<ESDMssError> error;
    };
    mutable std::mutex lock_;
    std::vector<Entry> errors_;
};

TMssErrorList& MssErrors();

// While a connection opens its DBPROCESS on this thread, the handlers file what they receive
// under the attempt given (FreeTDS reports the messages of a refused login with a DBPROCESS
// that it frees before dbopen returns).
class TMssLoginScope {
public:
    explicit TMssLoginScope(const void* attempt);
    ~TMssLoginScope();
    TMssLoginScope(const TMssLoginScope&) = delete;
    TMssLoginScope& operator=(const TMssLoginScope&) = delete;

private:
    const void* previous_;
};

// The handlers DB-Library calls (installed by the first load); they never raise.
int MssErrorHandler(DBPROCESS* dbProcess, int severity, int dbError, int osError, char* dbErrorText,
                    char* osErrorText);
int MssMessageHandler(DBPROCESS* dbProcess, int32_t messageNumber, int messageState, int severity, char* messageText,
                      char* serverName, char* procedureName, int line);

// The connection handle GetHandle gives and SetHandle takes. Its handles are full pointers;
// the record does not own them beyond what DoDisconnect does with them.
struct TIMssConnInfo {
    uint8_t ServerType = stSQLServer;
    DBPROCESS* DBProc = nullptr;
    LOGINREC* LoginRec = nullptr;
    std::string ServerName;
};

class TIMssCommand;

class TIMssDatabase : public TISqlDatabase {
public:
    TIMssDatabase(rtl::Component* owner, const rtl::StringList& params);
    ~TIMssDatabase() override;

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
    std::string GetIdentityQuery() override;
    int32_t GetClientVersion() override;
    int32_t GetServerVersion() override;
    std::string GetVersionString() override;
    TISqlCommandPtr GetSchemaInfo(TSDSchemaType kind, const std::string& objectName) override;
    bool TestConnected() override;
    void SetTransIsolation(TSDTransIsolation value) override;
    bool SPDescriptionsAvailable() override { return true; }

    // Marks activity and raises the DBPROCESS's pending error, if any (through HandleError).
    void CheckError(DBPROCESS* dbProcess);
    // For a call that answered success or failure: on failure raises the pending error or,
    // without one, an error naming the call (lost when the DBPROCESS is dead).
    void Check(DBPROCESS* dbProcess, bool succeeded, const char* call);
    // Runs a batch whose results are discarded, after the active command let go.
    void ExecBatch(DBPROCESS* dbProcess, const std::string& text);
    // Discards the command buffer and every pending result.
    void FlushResults(DBPROCESS* dbProcess);
    // Hands the connection to another command: the active one first fetches all its rows
    // (FetchAll) and is cancelled (Cancel). An exception puts the old one back.
    void SetActiveCommand(TIMssCommand* command, bool fetchAll, bool cancel);
    TIMssCommand* ActiveCommand() const { return activeCommand_; }

    // DB-Library takes a new command only when the results of the last one are read to their
    // end, so the connection remembers whose results are pending on its DBPROCESS (the
    // pending owner, set when a command sends). Before anything else is sent they are read
    // and dropped (DrainPending), or cancelled (CancelPending: an attention, after which
    // FreeTDS has read everything up to the server's acknowledgement).
    TIMssCommand* PendingOwner() const { return pendingOwner_; }
    void SetPendingOwner(TIMssCommand* command);
    void DrainPending(DBPROCESS* dbProcess);
    void CancelPending(DBPROCESS* dbProcess, bool check);
    // A command going away: the connection no longer refers to it.
    void Forget(TIMssCommand* command);

    // rtl::EAssertionFailed "TIMssDatabase.GetDBProcPtr" / ".GetLoginRecPtr" without a record.
    DBPROCESS* GetDBProcPtr() const;
    LOGINREC* GetLoginRecPtr() const;
    std::string GetServerName() const { return connInfo_ ? connInfo_->ServerName : std::string(); }
    bool Byte16AsGuid() const { return byte16AsGuid_; }

    // The catalog text of a kind for a server major version; "" for a kind above 5.
    static std::string SchemaInfoText(TSDSchemaType kind, const std::string& pattern, int32_t serverMajor);
    // "SET TRANSACTION ISOLATION LEVEL ..." for a level.
    static std::string IsolationText(TSDTransIsolation level);

private:
    void AllocHandle();
    void ReleaseHandle();
    void ApplyConnectionOptions(DBPROCESS* dbProcess);
    void SetQuotedIdentifiers(DBPROCESS* dbProcess, bool on);
    void SendQueuedOptions(DBPROCESS* dbProcess);
    // The non-empty values of the first column of the query's rows.
    std::vector<std::string> ReadColumn(const std::string& sql);

    std::unique_ptr<TIMssConnInfo> connInfo_;
    TIMssCommand* activeCommand_ = nullptr;
    TIMssCommand* pendingOwner_ = nullptr;
    bool ownsLogin_ = false;
    bool byte16AsGuid_ = false;
    bool quotedIdentifiers_ = true;
    int32_t serverVersion_ = -1;
};

class TIMssCommand final : public TISqlCommand {
public:
    TIMssCommand(TIMssDatabase* database, rtl::Component* owner);
    ~TIMssCommand() override;

    void AllocParamsBuffer() override;
    void BindParamsBuffer() override {}
    void FreeParamsBuffer() override;
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
    bool IsFixedCharType(int32_t) override { return false; }
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

    // The server type a procedure parameter of that field type is sent as (0: none).
    static int32_t ServerParamType(TFieldType fieldType);
    // The statement text with every parameter written as a T-SQL literal (dbconvert, when a
    // DBPROCESS is given, writes the floats).
    std::string BuildStatementText(DBPROCESS* dbProcess) const;
    // The text last sent (the statement or the procedure's name); "" when nothing is pending.
    const std::string& SentText() const { return sentText_; }
    // Called by the connection when it takes the DBPROCESS from this command.
    void ForgetSentText() { sentText_.clear(); }

private:
    TIMssDatabase& MssDatabase() const;
    DBPROCESS* Proc() const;
    void Check(bool succeeded, const char* call);
    void RunStatement();
    void SkipToRows(DBPROCESS* proc);
    void CallProcedure(DBPROCESS* proc);
    void BindProcedureParams(DBPROCESS* proc);
    // One step through the procedure's results: true when a row result is pending.
    bool NextResults();
    void ReadOutputParams(DBPROCESS* proc);
    bool IsProcedure() const { return CommandType == 2; }

    std::string sentText_;
    int32_t rowsAffected_ = -1;
    bool prepared_ = false;
    bool describedEarly_ = false;
    bool furtherResult_ = false;
    bool resultsDone_ = false;
    // The rows of the current result were read to their end.
    bool rowsEnded_ = false;
    // False once the command is destroyed: the engine's handling of a lost connection may
    // free the command from inside the error it raises, and the cleanup on the way out must
    // then leave the command alone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

std::unique_ptr<TISqlDatabase> CreateSQLServerDatabase(rtl::Component* owner, const rtl::StringList& params);
// Puts CreateSQLServerDatabase into the engine's factory table (stSQLServer).
void RegisterSQLServerDriver();
