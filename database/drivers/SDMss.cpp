// database/drivers/SDMss.cpp: the SQL Server driver's library binding, error collection,
// connection and catalog queries (unit SDMss). The command lives in SDMssCommand.cpp.
#include "database/drivers/SDMssApi.h"

#include <atomic>

#include "database/engine/SDCommonLibrary.h"
#include "database/engine/SDCommonSqlText.h"
#include "database/engine/SDEngine.h"
#include "platform/WinError.h"
#include "rtl/Assert.h"
#include "rtl/DatabaseError.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

constexpr const char* kMssLibraryName = "libsybdb.so.5";
constexpr const char* kMaxTextSize = "2147483647";

TMssFunctions gMss;
std::atomic<int32_t> gClientVersion{0};

// The login attempt whose messages the handlers are collecting on this thread (nullptr: the
// messages belong to the DBPROCESS they come with).
thread_local const void* tLoginAttempt = nullptr;

const std::vector<TSDClientEntry>& MssEntries() {
    static const std::vector<TSDClientEntry> entries = {
#define KW_MSS_TABLE_ENTRY(name, required) {#name, &gMss.name, required},
        KW_MSS_ENTRY_POINTS(KW_MSS_TABLE_ENTRY, KW_MSS_TABLE_ENTRY) KW_MSS_EXTRA_ENTRY_POINTS(KW_MSS_TABLE_ENTRY)
#undef KW_MSS_TABLE_ENTRY
    };
    return entries;
}

// DB-Library errors that mean the connection is gone (see the header's list).
bool IsLostConnectionError(int dbError) {
    switch (dbError) {
        case SYBECONN:
        case SYBEFCON:
        case SYBEWRIT:
        case SYBEREAD:
        case SYBESEOF:
        case SYBEOOB:
        case SYBEDDNE:
            return true;
        default:
            return false;
    }
}

void AfterLoad() {
    // FreeTDS's dbinit puts its own error handler back: the handlers go in after it.
    if (gMss.dbinit() != SUCCEED) throw ESDMssError(nullptr, 0, "Error initialization of DB-library", -1, 0, false);
    gMss.dberrhandle(MssErrorHandler);
    gMss.dbmsghandle(MssMessageHandler);
    const char* version = gMss.dbversion();
    gClientVersion = ParseServerVersionText(version != nullptr ? version : "");
}

void BeforeUnload() {
    gMss.dbexit();
    gMss.dberrhandle(nullptr);
    gMss.dbmsghandle(nullptr);
    gClientVersion = 0;
    // Every DBPROCESS is closed by now: what is left belongs to no one.
    MssErrors().Clear();
}

std::string TextOf(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}

void FileError(DBPROCESS* dbProcess, int32_t number, int32_t severity, const std::string& text, int32_t line,
               bool lost) {
    if (tLoginAttempt != nullptr)
        MssErrors().Add(tLoginAttempt, nullptr, number, severity, text, line, lost);
    else
        MssErrors().Add(dbProcess, dbProcess, number, severity, text, line, lost);
}

// A database name goes into "use" as it is when it is a plain identifier, bracketed otherwise.
std::string DatabaseIdentifier(const std::string& name) {
    bool plain = !name.empty() && !(name[0] >= '0' && name[0] <= '9');
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '@' ||
              c == '#' || c == '$'))
            plain = false;
    return plain ? name : "[" + rtl::StringReplace(name, "]", "]]") + "]";
}

std::string Trimmed(const rtl::StringList& params, const char* name) {
    return rtl::Trim(params.Values(name));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The unit's library

const TMssFunctions& MssFunctions() {
    return gMss;
}

TSDClientLibrary& MssLibrary() {
    static TSDClientLibrary library(kMssLibraryName, stSQLServer, "MS SQLServer DB-library",
                                    "Function '%s' not found in MS SQLServer DB-library");
    return library;
}

void LoadMssLibrary() {
    MssLibrary().Load(MssEntries(), AfterLoad);
}

void UnloadMssLibrary() {
    MssLibrary().Unload(MssEntries(), BeforeUnload);
}

int32_t MssClientVersion() {
    return gClientVersion;
}

std::unique_ptr<TISqlDatabase> CreateSQLServerDatabase(rtl::Component* owner, const rtl::StringList& params) {
    MssLibrary().TakeNameFromParams(params);
    return std::make_unique<TIMssDatabase>(owner, params);
}

void RegisterSQLServerDriver() {
    RegisterSqlDatabaseFactory(stSQLServer, [](TSDDatabase* owner, const rtl::StringList& params) {
        return CreateSQLServerDatabase(owner, params);
    });
}

// ---------------------------------------------------------------------------------------------
// Errors

void TMssErrorList::Add(const void* owner, DBPROCESS* dbProcess, int32_t number, int32_t severity,
                        const std::string& text, int32_t line, bool lost) {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto it = errors_.rbegin(); it != errors_.rend(); ++it) {
        if (it->owner != owner) continue;
        ESDMssError& e = *it->error;
        e.SetMessage(e.Message() + "\r\n" + text);
        if (lost) e.ConnectionLost = true;
        return;
    }
    errors_.push_back({owner, std::make_unique<ESDMssError>(dbProcess, number, text, line > 0 ? line : -1, severity,
                                                            lost)});
}

std::unique_ptr<ESDMssError> TMssErrorList::Take(const void* owner) {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto it = errors_.rbegin(); it != errors_.rend(); ++it) {
        if (it->owner != owner) continue;
        std::unique_ptr<ESDMssError> e = std::move(it->error);
        errors_.erase(std::next(it).base());
        return e;
    }
    return nullptr;
}

bool TMssErrorList::Has(const void* owner) const {
    std::lock_guard<std::mutex> guard(lock_);
    for (const Entry& e : errors_)
        if (e.owner == owner) return true;
    return false;
}

void TMssErrorList::Free(const void* owner) {
    std::lock_guard<std::mutex> guard(lock_);
    std::erase_if(errors_, [owner](const Entry& e) { return e.owner == owner; });
}

void TMssErrorList::Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    errors_.clear();
}

int TMssErrorList::Count() const {
    std::lock_guard<std::mutex> guard(lock_);
    return int(errors_.size());
}

TMssErrorList& MssErrors() {
    static TMssErrorList list;
    return list;
}

TMssLoginScope::TMssLoginScope(const void* attempt) : previous_(tLoginAttempt) {
    tLoginAttempt = attempt;
}

TMssLoginScope::~TMssLoginScope() {
    tLoginAttempt = previous_;
}

int MssErrorHandler(DBPROCESS* dbProcess, int severity, int dbError, int osError, char* dbErrorText,
                    char* osErrorText) {
    try {
        // FreeTDS hands errno over (0 and strerror(0) when there is none); Microsoft's library
        // DBNOERR. The Net-Lib line carries the Windows Sockets number the system shows.
        const bool osFailed = osError != DBNOERR && osError != 0;
        std::string text = rtl::Format("DB-Library error %d: %s", dbError, TextOf(dbErrorText)) + "\n\r";
        if (severity == EXCOMM && osFailed)
            text += rtl::Format("Net-Lib error %d:  %s", plat::WinErrorFromErrno(osError, plat::ErrorDomain::Socket),
                                TextOf(osErrorText)) +
                    "\n\r";
        if (osFailed) text += rtl::Format("Operating-system error: %s", TextOf(osErrorText)) + "\n\r";
        if (dbError != SYBESMSG && severity > EXINFO)
            FileError(dbProcess, dbError, severity, text, 0, IsLostConnectionError(dbError));
    } catch (...) {
        // Nothing may travel back into DB-Library; an error that cannot be filed is lost, and
        // the failing call is still reported by the check that follows it.
    }
    return INT_CANCEL;
}

int MssMessageHandler(DBPROCESS* dbProcess, DBINT messageNumber, int, int severity, char* messageText, char*, char*,
                      int line) {
    try {
        std::string text = rtl::Format("SQL Server message %d:", int32_t(messageNumber));
        if (messageText != nullptr && *messageText != '\0') text += rtl::Format(" %s", messageText);
        if (line != 0) text += rtl::Format("(line %d)", line);
        if (messageNumber != 16902 && severity > 1) FileError(dbProcess, messageNumber, severity, text, line, false);
    } catch (...) {
        // See MssErrorHandler.
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// TIMssDatabase

TIMssDatabase::TIMssDatabase(rtl::Component* owner, const rtl::StringList& params)
    : TISqlDatabase(owner, params, stSQLServer) {
    byte16AsGuid_ = rtl::UpperCase(Trimmed(Params, "BYTE16 AS GUID")) == STrueString;
    quotedIdentifiers_ = rtl::UpperCase(Trimmed(Params, "QUOTED IDENTIFIER")) != SFalseString;
}

TIMssDatabase::~TIMssDatabase() {
    try {
        DoDisconnect(true);
    } catch (const std::exception&) {
        // Nobody is left to report a failed release to.
    }
}

void TIMssDatabase::AllocHandle() {
    rtl::Assert(connInfo_ == nullptr, "TIMssDatabase.AllocHandle");
    connInfo_ = std::make_unique<TIMssConnInfo>();
}

void TIMssDatabase::ReleaseHandle() {
    connInfo_.reset();
    activeCommand_ = nullptr;
    pendingOwner_ = nullptr;
    serverVersion_ = -1;
}

DBPROCESS* TIMssDatabase::GetDBProcPtr() const {
    rtl::Assert(connInfo_ != nullptr, "TIMssDatabase.GetDBProcPtr");
    return connInfo_->DBProc;
}

LOGINREC* TIMssDatabase::GetLoginRecPtr() const {
    rtl::Assert(connInfo_ != nullptr, "TIMssDatabase.GetLoginRecPtr");
    return connInfo_->LoginRec;
}

void TIMssDatabase::CheckError(DBPROCESS* dbProcess) {
    MarkActivity();
    std::unique_ptr<ESDMssError> e = MssErrors().Take(dbProcess);
    if (!e) return;
    EndWaitCursor();
    HandleError(*e);
}

void TIMssDatabase::Check(DBPROCESS* dbProcess, bool succeeded, const char* call) {
    MarkActivity();
    if (succeeded) return;
    CheckError(dbProcess);
    // The call failed and said nothing (or only what the handlers leave out): it must not pass
    // for a success.
    const bool dead = dbProcess != nullptr && gMss.dbdead != nullptr && gMss.dbdead(dbProcess);
    EndWaitCursor();
    HandleError(ESDMssError(dbProcess, 0, rtl::Format("DB-Library function %s failed", call), -1, 0, dead));
}

void TIMssDatabase::DoConnect(const std::string& remoteDatabase, const std::string& userName,
                              const std::string& password) {
    LoadMssLibrary();
    try {
        AllocHandle();
    } catch (...) {
        UnloadMssLibrary();
        throw;
    }
    const void* attempt = connInfo_.get();
    // Whatever the steps up to the open report belongs to this attempt.
    {
        TMssLoginScope scope(attempt);
        LOGINREC* login = gMss.dblogin();
        if (login == nullptr) rtl::DatabaseError("Unable to allocate LOGINREC structure");
        connInfo_->LoginRec = login;
        ownsLogin_ = true;

        std::string application = Params.Values("APPLICATION NAME");
        if (rtl::Trim(application).empty()) application = GetAppExeName();
        std::string host = Params.Values("HOST NAME");
        if (rtl::Trim(host).empty()) host = GetClientHostName();
        // Both are process-wide DB-Library settings.
        const int32_t maxCursors = rtl::StrToIntDef(Params.Values("MAX CURSORS"), 0);
        if (maxCursors > gMss.dbgetmaxprocs()) gMss.dbsetmaxprocs(maxCursors);
        const std::string loginTimeout = Trimmed(Params, "LOGIN TIMEOUT");
        if (!loginTimeout.empty()) gMss.dbsetlogintime(rtl::StrToIntDef(loginTimeout, 0));

        const bool blankUser = rtl::Trim(userName).empty();
        if (!blankUser) {
            gMss.dbsetlname(login, userName.c_str(), DBSETUSER);
            gMss.dbsetlname(login, password.c_str(), DBSETPWD);
        }
        gMss.dbsetlname(login, application.c_str(), DBSETAPP);
        gMss.dbsetlname(login, host.c_str(), DBSETHOST);
        gMss.dbsetlversion(login, DBVER60);
        // Without a user name the login is the workstation account's (network authentication).
        if (blankUser) gMss.dbsetlbool(login, TRUE, DBSETNETWORKAUTH);

        const std::string server = ExtractServerName(remoteDatabase);
        connInfo_->ServerName = server;
        DBPROCESS* proc = gMss.tdsdbopen != nullptr ? gMss.tdsdbopen(login, server.c_str(), 1)
                                                    : gMss.dbopen(login, server.c_str());
        connInfo_->DBProc = proc;
        if (proc == nullptr) {
            std::unique_ptr<ESDMssError> e = MssErrors().Take(attempt);
            MssErrors().Free(attempt);
            EndWaitCursor();
            if (e) HandleError(*e);
            rtl::DatabaseError("Unable to allocate DBPROCESS connection structure");
        }
    }
    // Informational leftovers of the login (a long name cut, ...) are not this DBPROCESS's.
    MssErrors().Free(attempt);

    DBPROCESS* proc = connInfo_->DBProc;
    if (gMss.dbisopt(proc, DBQUOTEDIDENT, "")) SetQuotedIdentifiers(proc, false);
    if (quotedIdentifiers_) SetQuotedIdentifiers(proc, true);
    SendQueuedOptions(proc);
    FlushResults(proc);
    const std::string database = ExtractDatabaseName(remoteDatabase);
    if (!database.empty()) ExecBatch(proc, "use " + DatabaseIdentifier(database));
    FlushResults(proc);
    ApplyConnectionOptions(proc);
}

void TIMssDatabase::SetQuotedIdentifiers(DBPROCESS* dbProcess, bool on) {
    if (on) {
        Check(dbProcess, gMss.dbsetopt(dbProcess, DBQUOTEDIDENT, "", 0) == SUCCEED, "dbsetopt");
        return;
    }
    // FreeTDS answers FAIL from dbclropt even when it queued the option's reset: whether the
    // option is off tells.
    gMss.dbclropt(dbProcess, DBQUOTEDIDENT, "");
    Check(dbProcess, !gMss.dbisopt(dbProcess, DBQUOTEDIDENT, ""), "dbclropt");
}

void TIMssDatabase::SendQueuedOptions(DBPROCESS* dbProcess) {
    // FreeTDS sends the options set with dbsetopt at the next dbsqlexec, ahead of the command
    // buffer, and fails a dbsqlexec whose buffer is empty: with nothing in the buffer the
    // options simply leave with the next batch.
    if (gMss.dbstrlen(dbProcess) > 0) Check(dbProcess, gMss.dbsqlexec(dbProcess) == SUCCEED, "dbsqlexec");
}

void TIMssDatabase::ApplyConnectionOptions(DBPROCESS* dbProcess) {
    if (!AutoCommitDefault)
        ExecBatch(dbProcess, std::string("SET IMPLICIT_TRANSACTIONS ") + (AutoCommit ? "OFF" : "ON"));
    Check(dbProcess, gMss.dbsetopt(dbProcess, DBTEXTLIMIT, kMaxTextSize, 0) == SUCCEED, "dbsetopt");
    Check(dbProcess, gMss.dbsetopt(dbProcess, DBTEXTSIZE, kMaxTextSize, 0) == SUCCEED, "dbsetopt");
    const std::string timeout = Trimmed(Params, "COMMAND TIMEOUT");
    if (!timeout.empty()) Check(dbProcess, gMss.dbsettime(rtl::StrToIntDef(timeout, 0)) == SUCCEED, "dbsettime");
    SetQuotedIdentifiers(dbProcess, quotedIdentifiers_);
    SendQueuedOptions(dbProcess);
    FlushResults(dbProcess);
    ExecBatch(dbProcess, IsolationText(TransIsolation));
    const std::string ansiNulls = Trimmed(Params, "ANSI NULLS");
    if (!ansiNulls.empty()) ExecBatch(dbProcess, ansiNulls == SFalseString ? "SET ANSI_NULLS OFF" : "SET ANSI_NULLS ON");
}

void TIMssDatabase::ExecBatch(DBPROCESS* dbProcess, const std::string& text) {
    SetActiveCommand(nullptr, true, true);
    DrainPending(dbProcess);
    Check(dbProcess, gMss.dbcmd(dbProcess, text.c_str()) == SUCCEED, "dbcmd");
    Check(dbProcess, gMss.dbsqlexec(dbProcess) == SUCCEED, "dbsqlexec");
    for (;;) {
        const RETCODE r = gMss.dbresults(dbProcess);
        if (r == SUCCEED) {
            // Rows nobody asked for would block the next call.
            gMss.dbcanquery(dbProcess);
            continue;
        }
        if (r == FAIL) Check(dbProcess, false, "dbresults");
        break;
    }
}

void TIMssDatabase::FlushResults(DBPROCESS* dbProcess) {
    gMss.dbfreebuf(dbProcess);
    for (;;) {
        const RETCODE r = gMss.dbresults(dbProcess);
        if (r == NO_MORE_RESULTS) break;
        if (r == FAIL) {
            CheckError(dbProcess);
            // Nothing to flush: only a dead DBPROCESS makes that a failure.
            if (gMss.dbdead(dbProcess)) Check(dbProcess, false, "dbresults");
            break;
        }
        gMss.dbcanquery(dbProcess);
    }
    if (connInfo_ != nullptr && dbProcess == connInfo_->DBProc) pendingOwner_ = nullptr;
}

void TIMssDatabase::DrainPending(DBPROCESS* dbProcess) {
    if (pendingOwner_ == nullptr) return;
    TIMssCommand* owner = pendingOwner_;
    pendingOwner_ = nullptr;
    owner->ForgetSentText();
    // The rows of the current result, then every result left.
    gMss.dbcanquery(dbProcess);
    FlushResults(dbProcess);
}

void TIMssDatabase::CancelPending(DBPROCESS* dbProcess, bool check) {
    TIMssCommand* owner = pendingOwner_;
    pendingOwner_ = nullptr;
    if (owner != nullptr) owner->ForgetSentText();
    const bool cancelled = gMss.dbcancel(dbProcess) == SUCCEED;
    if (check) Check(dbProcess, cancelled, "dbcancel");
    // FreeTDS reads everything up to the server's acknowledgement inside dbcancel and leaves
    // the DBPROCESS idle: a dbresults now would only file a "results pending" error.
    gMss.dbfreebuf(dbProcess);
}

void TIMssDatabase::SetPendingOwner(TIMssCommand* command) {
    pendingOwner_ = command;
}

void TIMssDatabase::SetActiveCommand(TIMssCommand* command, bool fetchAll, bool cancel) {
    if (activeCommand_ != nullptr && activeCommand_ != command) {
        TIMssCommand* old = activeCommand_;
        activeCommand_ = nullptr;
        try {
            if (fetchAll) old->RequestFetchAll();
            if (cancel && connInfo_ != nullptr && connInfo_->DBProc != nullptr && pendingOwner_ == old)
                CancelPending(connInfo_->DBProc, false);
        } catch (...) {
            activeCommand_ = old;
            throw;
        }
    }
    activeCommand_ = command;
}

void TIMssDatabase::Forget(TIMssCommand* command) {
    if (activeCommand_ == command) activeCommand_ = nullptr;
    if (pendingOwner_ == command) pendingOwner_ = nullptr;
}

void TIMssDatabase::DoDisconnect(bool) {
    if (connInfo_ == nullptr) return;
    if (connInfo_->DBProc != nullptr) {
        DBPROCESS* proc = connInfo_->DBProc;
        connInfo_->DBProc = nullptr;
        activeCommand_ = nullptr;
        pendingOwner_ = nullptr;
        gMss.dbclose(proc);
        MssErrors().Free(proc);
    }
    if (connInfo_->LoginRec != nullptr && ownsLogin_ && gMss.dbloginfree != nullptr) gMss.dbloginfree(connInfo_->LoginRec);
    connInfo_->LoginRec = nullptr;
    ownsLogin_ = false;
    ReleaseHandle();
    UnloadMssLibrary();
}

void TIMssDatabase::DoStartTransaction() {
    if (AutoCommitDefault || AutoCommit) ExecBatch(GetDBProcPtr(), "IF @@TRANCOUNT = 0 BEGIN BEGIN TRAN END");
}

void TIMssDatabase::DoCommit() {
    ExecBatch(GetDBProcPtr(), "IF @@TRANCOUNT > 0 BEGIN COMMIT TRAN END");
}

void TIMssDatabase::DoRollback() {
    ExecBatch(GetDBProcPtr(), "IF @@TRANCOUNT > 0 BEGIN ROLLBACK TRAN END");
}

void* TIMssDatabase::GetHandle() {
    return connInfo_.get();
}

void TIMssDatabase::SetAutoCommitOption(bool) {}

void TIMssDatabase::SetHandle(void* handle) {
    rtl::Assert(handle != nullptr, "TIMssDatabase.SetHandle");
    LoadMssLibrary();
    try {
        AllocHandle();
    } catch (...) {
        UnloadMssLibrary();
        throw;
    }
    const auto* from = static_cast<const TIMssConnInfo*>(handle);
    connInfo_->DBProc = from->DBProc;
    connInfo_->LoginRec = from->LoginRec;
    connInfo_->ServerName = from->ServerName;
    // The login record stays its first owner's to free.
    ownsLogin_ = false;
}

TISqlCommandPtr TIMssDatabase::CreateSqlCommand(rtl::Component* ownerDataSet) {
    return MakeSqlCommand<TIMssCommand>(this, ownerDataSet);
}

std::string TIMssDatabase::GetIdentityQuery() {
    return "select CONVERT(int, @@IDENTITY)";
}

int32_t TIMssDatabase::GetClientVersion() {
    return MssClientVersion();
}

int32_t TIMssDatabase::GetServerVersion() {
    // FreeTDS has no dbprocinfo: the version comes from the text of @@version, which does not
    // change while the connection lasts.
    if (serverVersion_ < 0) serverVersion_ = ParseServerVersionText(GetVersionString());
    return serverVersion_;
}

std::string TIMssDatabase::GetVersionString() {
    const std::vector<std::string> values = ReadColumn("select @@version");
    return values.empty() ? std::string() : values.front();
}

std::vector<std::string> TIMssDatabase::ReadColumn(const std::string& sql) {
    SetActiveCommand(nullptr, true, true);
    TISqlCommandPtr cmd = CreateSqlCommand(nullptr);
    cmd->ExecDirect(sql);
    std::vector<std::string> values;
    while (cmd->FetchNextRow()) {
        std::string value;
        if (cmd->GetFieldAsString(1, value) && !value.empty()) values.push_back(value);
    }
    return values;
}

bool TIMssDatabase::TestConnected() {
    ExecBatch(GetDBProcPtr(), "select 1 from sysobjects where 1=0");
    return true;
}

void TIMssDatabase::SetTransIsolation(TSDTransIsolation value) {
    ExecBatch(GetDBProcPtr(), IsolationText(value));
}

std::string TIMssDatabase::IsolationText(TSDTransIsolation level) {
    switch (level) {
        case tiDirtyRead:
            return "SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED";
        case tiRepeatableRead:
            return "SET TRANSACTION ISOLATION LEVEL REPEATABLE READ";
        case tiReadCommitted:
        default:
            return "SET TRANSACTION ISOLATION LEVEL READ COMMITTED";
    }
}

// ---------------------------------------------------------------------------------------------
// Catalog queries

TISqlCommandPtr TIMssDatabase::GetSchemaInfo(TSDSchemaType kind, const std::string& objectName) {
    if (kind < stTables || kind > stIndexes) return nullptr;
    const int32_t major = kind == stTables || kind == stSysTables ? 0 : GetVersionMajor(GetServerVersion());
    const std::string sql = SchemaInfoText(kind, objectName, major);
    if (sql.empty()) return nullptr;
    SetActiveCommand(nullptr, true, true);
    TISqlCommandPtr cmd = CreateSqlCommand(nullptr);
    cmd->ExecDirect(sql);
    return cmd;
}

std::string TIMssDatabase::SchemaInfoText(TSDSchemaType kind, const std::string& pattern, int32_t serverMajor) {
    std::string owner;
    std::string name;
    SplitOwnerAndName(pattern, owner, name);
    owner = TdsQuoted(owner);
    name = TdsQuoted(name);
    const std::string procCondition =
        pattern.empty() ? std::string() : rtl::Format(" and so.name like '%s'", TdsQuoted(pattern));
    switch (kind) {
        case stTables:
        case stSysTables:
            return rtl::Format(
                "select DB_NAME() as CATALOG_NAME, su.name as SCHEMA_NAME, so.name as TABLE_NAME, CASE so.type "
                "WHEN 'U' THEN 1 WHEN 'V' THEN 2 WHEN 'S' THEN 4 END as TABLE_TYPE from sysobjects so, sysusers "
                "su where so.uid = su.uid %s order by su.name, so.name",
                TdsTableConditions(kind, pattern));
        case stProcedures:
            if (serverMajor >= 7)
                return rtl::Format(
                    "select DB_NAME() as CATALOG_NAME, su.name as SCHEMA_NAME, so.name + ';' + CONVERT(varchar, "
                    "sp.number) as PROC_NAME, 0 as PROC_TYPE, COUNT(sc.isoutparam) as IN_PARAMS, "
                    "SUM(sc.isoutparam) as OUT_PARAMS from sysobjects so, sysusers su, syscomments sp, syscolumns "
                    "sc where so.type in ('P', 'X') and sp.colid = 1 and so.uid = su.uid and so.id = sp.id and "
                    "so.id *= sc.id %s group by su.name, so.name, sp.number order by su.name, so.name",
                    procCondition);
            return rtl::Format(
                "select distinct DB_NAME() as CATALOG_NAME, su.name as SCHEMA_NAME, so.name + ';' + "
                "CONVERT(varchar, sp.number) as PROC_NAME, 0 as PROC_TYPE, 0 as IN_PARAMS, 0 as OUT_PARAMS from "
                "sysobjects so, sysusers su, sysprocedures sp where so.type in ('P', 'X') and so.uid = su.uid and "
                "so.id = sp.id %s order by su.name, so.name",
                procCondition);
        case stColumns:
            if (serverMajor >= 7)
                return rtl::Format(
                    "select DB_NAME() as CATALOG_NAME, su.name as SCHEMA_NAME, so.name as TABLE_NAME, sc.name as "
                    "COLUMN_NAME, sc.colid as COLUMN_POSITION, 0 as COLUMN_TYPE, st.name as COLUMN_TYPENAME, "
                    "sc.length as COLUMN_LENGTH, sc.prec as COLUMN_PRECISION, sc.scale as COLUMN_SCALE, "
                    "sc.isnullable as COLUMN_NULLABLE, sc.cdefault as COLUMN_DEFAULT from sysobjects so, sysusers "
                    "su, syscolumns sc, systypes st where so.uid = su.uid and so.id = sc.id and sc.xusertype = "
                    "st.xusertype and  su.name like '%s' and so.name like '%s' order by su.name, so.name, sc.colid",
                    owner, name);
            return rtl::Format(
                "select DB_NAME() as CATALOG_NAME, su.name as SCHEMA_NAME, so.name as TABLE_NAME, sc.name as "
                "COLUMN_NAME, sc.colid as COLUMN_POSITION, 0 as COLUMN_TYPE, st.name as COLUMN_TYPENAME, sc.length "
                "as COLUMN_LENGTH, sc.prec as COLUMN_PRECISION, sc.scale as COLUMN_SCALE, CASE sc.status & 8 WHEN "
                "0 THEN 0 ELSE 1 END as COLUMN_NULLABLE, sc.cdefault as COLUMN_DEFAULT from sysobjects so, "
                "sysusers su, syscolumns sc, systypes st where so.uid = su.uid and so.id = sc.id and sc.usertype = "
                "st.usertype and  su.name like '%s' and so.name like '%s' order by su.name, so.name, sc.colid",
                owner, name);
        case stProcedureParams:
            return rtl::Format(
                "select DB_NAME() as CATALOG_NAME, su.name as SCHEMA_NAME, so.name + ';' + CONVERT(varchar, "
                "sp.number) as PROC_NAME, 0 as PROC_TYPE, sc.name as PARAM_NAME, sc.colid as PARAM_POSITION, "
                "CONVERT( smallint, CASE sc.status & 64 WHEN 0 THEN 1 ELSE 3 END) as PARAM_TYPE, st.type as "
                "PARAM_DATATYPE, st.name as PARAM_TYPENAME, sc.prec as PARAM_PRECISION, sc.scale as PARAM_SCALE, "
                "sc.length as PARAM_LENGTH, CONVERT( smallint, CASE sc.status & 8 WHEN 0 THEN 0 ELSE 1 END) as "
                "PARAM_NULLABLE from sysobjects so, sysusers su, syscomments sp, syscolumns sc, systypes st where "
                "so.type in ('P', 'X') and sp.colid = 1 and so.uid = su.uid and so.id = sp.id and so.id = sc.id "
                "and sc.usertype = st.usertype and sc.number = 1 %s order by su.name, so.name, sc.colid",
                procCondition);
        case stIndexes:
            if (serverMajor >= 8)
                return rtl::Format(
                    "select DB_NAME() as CATALOG_NAME, su.name as SCHEMA_NAME, so.name as TABLE_NAME, si.name as "
                    "INDEX_NAME, sc.name as COLUMN_NAME, sk.keyno as COLUMN_POSITION, CASE INDEXPROPERTY ( so.id , "
                    "si.name , 'IsUnique' ) WHEN 1 THEN 2 ELSE 0 END as INDEX_TYPE, CASE INDEXKEY_PROPERTY ( so.id "
                    ", si.indid, sk.keyno, 'IsDescending' ) WHEN 0 THEN CAST('A' as varchar(2)) ELSE CAST('D' as "
                    "varchar(2)) END as SORT_ORDER, '' as INDEX_FILTER from sysobjects so, sysusers su, sysindexes "
                    "si, sysindexkeys sk, syscolumns sc where so.uid = su.uid and so.id = si.id and (si.indid > 0) "
                    "and (si.indid < 255) and  so.id = sk.id and si.indid = sk.indid and so.id = sc.id and sk.colid "
                    "= sc.colid and  su.name like '%s' and so.name like '%s' union select DB_NAME(), su.name, "
                    "so.name, si.name, '', -1, 4, '', '' from sysobjects so, sysusers su, sysobjects si where "
                    "so.uid = su.uid and so.id = si.parent_obj and si.xtype='PK' and   su.name like '%s' and "
                    "so.name like '%s' order by 2, 3, 4, 6",
                    owner, name, owner, name);
            return rtl::Format(
                "select DB_NAME() as CATALOG_NAME, su.name as SCHEMA_NAME, so.name as TABLE_NAME, si.name as "
                "INDEX_NAME, sc.name as COLUMN_NAME, sk.keyno as COLUMN_POSITION, CASE si.status & 2 WHEN 0 THEN 1 "
                "ELSE 2 END + CASE si.status & 2048 WHEN 0 THEN 0 ELSE 4 END as INDEX_TYPE, 'A' as SORT_ORDER, '' as "
                "INDEX_FILTER from sysobjects so, sysusers su, sysindexes si, sysindexkeys sk, syscolumns sc where "
                "so.uid = su.uid and so.id = si.id and (si.indid > 0) and (si.indid < 255) and  so.id = sk.id and "
                "si.indid = sk.indid and so.id = sc.id and sk.colid = sc.colid and  su.name like '%s' and so.name "
                "like '%s' order by su.name, so.name, si.name, sk.keyno",
                owner, name);
        default:
            return std::string();
    }
}
