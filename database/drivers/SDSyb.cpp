// database/drivers/SDSyb.cpp: the Sybase driver's library binding, error check, connection
// and catalog queries (unit SDSyb). The command lives in SDSybCommand.cpp.
#include "database/drivers/SDSyb.h"

#include <cstring>

#include "database/engine/SDCommonSqlText.h"
#include "database/engine/SDEngine.h"
#include "rtl/Assert.h"
#include "rtl/DatabaseError.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

constexpr const char* kSybLibraryList = "libct.so.4,libct.so.4";
// FreeTDS reports the failures of its transport with its own communication severity.
constexpr CS_INT kTransportFailure = 9;

TSybFunctions gSyb;

// The process's binding: the two files, the load count, the context, all under one lock.
struct TSybLibraryState {
    std::mutex lock;
    std::string list = kSybLibraryList;
    TSDModule csLibrary;
    TSDModule ctLibrary;
    int count = 0;
    CS_CONTEXT* context = nullptr;
    int32_t version = 0;
};

TSybLibraryState& State() {
    static TSybLibraryState state;
    return state;
}

struct TSybEntry {
    const char* name;
    void* slot;
    bool required;
};

const std::vector<TSybEntry>& SybEntries() {
    static const std::vector<TSybEntry> entries = {
#define KW_SYB_TABLE_ENTRY(name, required) {#name, &gSyb.name, required},
        KW_SYB_ENTRY_POINTS(KW_SYB_TABLE_ENTRY, KW_SYB_TABLE_ENTRY)
#undef KW_SYB_TABLE_ENTRY
    };
    return entries;
}

void ClearEntries() {
    for (const TSybEntry& e : SybEntries()) {
        void* none = nullptr;
        std::memcpy(e.slot, &none, sizeof none);
    }
}

// Frees what a load made, whatever step it reached (under the lock).
void ReleaseState(TSybLibraryState& s) {
    if (s.context != nullptr && gSyb.cs_ctx_drop != nullptr) gSyb.cs_ctx_drop(s.context);
    s.context = nullptr;
    ClearEntries();
    s.ctLibrary.reset();
    s.csLibrary.reset();
    s.count = 0;
    s.version = 0;
}

std::string Trimmed(const rtl::StringList& params, const char* name) {
    return rtl::Trim(params.Values(name));
}

bool IsCommunicationFailure(CS_INT severity) {
    return severity == CS_SV_COMM_FAIL || severity == kTransportFailure;
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

}  // namespace

// ---------------------------------------------------------------------------------------------
// The unit's library

const TSybFunctions& SybFunctions() {
    return gSyb;
}

CS_CONTEXT* SybContext() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().context;
}

std::string SybLibraryList() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().list;
}

int SybLoadCount() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().count;
}

int32_t SybContextVersion() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().version;
}

void LoadSybLibrary() {
    TSybLibraryState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.count > 0) {
        ++s.count;
        return;
    }
    int position = 1;
    const std::string csName = ExtractListItem(s.list, ',', position);
    std::string ctName = ExtractListItem(s.list, ',', position);
    // FreeTDS keeps both sets of calls in one file: one name serves for both.
    if (ctName.empty()) ctName = csName;
    s.csLibrary = LoadClientLibrary(csName);
    s.ctLibrary = s.csLibrary ? LoadClientLibrary(ctName) : nullptr;
    if (!s.csLibrary || !s.ctLibrary) {
        ReleaseState(s);
        throw ESDSqlLibError(rtl::Format("Error loading library '%s'", s.list));
    }
    s.count = 1;
    for (const TSybEntry& e : SybEntries()) {
        const bool cs = std::strncmp(e.name, "cs_", 3) == 0;
        void* address = (cs ? s.csLibrary : s.ctLibrary)->Symbol(e.name);
        std::memcpy(e.slot, &address, sizeof address);
        if (address == nullptr && e.required) {
            ReleaseState(s);
            throw rtl::EAssertionFailed(rtl::Format("Function '%s' not found in Client/Server-library", e.name));
        }
    }
    // No registry here: the newest version first, then the older ones.
    CS_INT version = CS_VERSION_125;
    CS_RETCODE r = gSyb.cs_ctx_alloc(version, &s.context);
    for (const CS_INT older : {CS_VERSION_110, CS_VERSION_100}) {
        if (r != CS_FAIL) break;
        version = older;
        r = gSyb.cs_ctx_alloc(version, &s.context);
    }
    if (r != CS_SUCCEED) {
        s.context = nullptr;
        ReleaseState(s);
        throw ESDSqlLibError(std::string("Error initialization of CT-library") +
                             (r == CS_MEM_ERROR ? ": cs_ctx_alloc() failed because it could not allocate sufficient memory"
                                                : ": cs_ctx_alloc() failed"));
    }
    if (gSyb.ct_init(s.context, version) != CS_SUCCEED) {
        ReleaseState(s);
        throw ESDSqlLibError("Error initialization of CT-library: ct_init() failed");
    }
    s.version = version;
}

void UnloadSybLibrary() {
    TSybLibraryState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.count == 0) return;
    if (s.count > 1) {
        --s.count;
        return;
    }
    if (s.context != nullptr) {
        if (gSyb.ct_exit(s.context, CS_FORCE_EXIT) != CS_SUCCEED)
            throw ESDSqlLibError("Error termination of CT-library: ct_exit() failed");
        const CS_RETCODE dropped = gSyb.cs_ctx_drop(s.context);
        s.context = nullptr;
        if (dropped != CS_SUCCEED) {
            ReleaseState(s);
            throw ESDSqlLibError("Error termination of CT-library: cs_ctx_drop() failed");
        }
    }
    ReleaseState(s);
}

std::unique_ptr<TISqlDatabase> CreateSybaseDatabase(rtl::Component* owner, const rtl::StringList& params) {
    {
        TSybLibraryState& s = State();
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.count == 0) s.list = ClientLibraryName(params, stSybase, s.list);
    }
    return std::make_unique<TISybDatabase>(owner, params);
}

void RegisterSybaseDriver() {
    RegisterSqlDatabaseFactory(stSybase, [](TSDDatabase* owner, const rtl::StringList& params) {
        return CreateSybaseDatabase(owner, params);
    });
}

// ---------------------------------------------------------------------------------------------
// TISybDatabase

TISybDatabase::TISybDatabase(rtl::Component* owner, const rtl::StringList& params)
    : TISqlDatabase(owner, params, stSybase) {
    emptyStringAsNull_ = rtl::UpperCase(Trimmed(Params, "EMPTY STRING AS NULL")) == STrueString;
    quotedIdentifiers_ = rtl::UpperCase(Trimmed(Params, "QUOTED IDENTIFIER")) != SFalseString;
}

TISybDatabase::~TISybDatabase() {
    try {
        DoDisconnect(true);
    } catch (const std::exception&) {
        // Nobody is left to report a failed release to.
    }
}

void TISybDatabase::AllocHandle() {
    rtl::Assert(connInfo_ == nullptr, "TISybDatabase.AllocHandle");
    connInfo_ = std::make_unique<TISybConnInfo>();
}

CS_CONNECTION* TISybDatabase::GetConnPtr() const {
    rtl::Assert(connInfo_ != nullptr, "TISybDatabase.GetConnPtr");
    return connInfo_->Connection;
}

CS_COMMAND* TISybDatabase::GetCmdPtr() const {
    rtl::Assert(connInfo_ != nullptr, "TISybDatabase.GetCmdPtr");
    return connInfo_->Command;
}

void TISybDatabase::RaisePending(CS_CONNECTION* connection) {
    MarkActivity();
    if (connection == nullptr) return;
    CS_INT code = -1;
    std::string text;
    bool lost = false;
    CS_INT count = 0;
    if (gSyb.ct_diag(connection, CS_STATUS, CS_SERVERMSG_TYPE, CS_UNUSED, &count) == CS_SUCCEED) {
        for (CS_INT i = 1; i <= count; ++i) {
            CS_SERVERMSG message{};
            if (gSyb.ct_diag(connection, CS_GET, CS_SERVERMSG_TYPE, i, &message) != CS_SUCCEED) continue;
            if (message.severity <= 10) continue;
            if (text.empty())
                code = message.msgnumber;
            else
                text += "\r\n";
            text += rtl::Format("Server message %d, severity %d, state %d: %s", int32_t(message.msgnumber),
                                int32_t(message.severity), int32_t(message.state),
                                PCharToString(message.text, int(sizeof message.text)));
        }
    }
    count = 0;
    if (gSyb.ct_diag(connection, CS_STATUS, CS_CLIENTMSG_TYPE, CS_UNUSED, &count) == CS_SUCCEED) {
        for (CS_INT i = 1; i <= count; ++i) {
            CS_CLIENTMSG message{};
            if (gSyb.ct_diag(connection, CS_GET, CS_CLIENTMSG_TYPE, i, &message) != CS_SUCCEED) continue;
            if (message.severity == CS_SV_INFORM) continue;
            // A communication failure anywhere among the messages means the connection is gone.
            if (IsCommunicationFailure(message.severity)) lost = true;
            if (!text.empty()) text += "\r\n";
            if (code == -1) code = message.msgnumber;
            text += rtl::Format("Client-Library error %d: %s", int32_t(message.msgnumber),
                                PCharToString(message.msgstring, int(sizeof message.msgstring)));
        }
    }
    gSyb.ct_diag(connection, CS_CLEAR, CS_ALLMSG_TYPE, CS_UNUSED, nullptr);
    if (text.empty()) return;
    EndWaitCursor();
    HandleError(ESDSybError(code, code, text, -1, lost));
}

void TISybDatabase::Check(CS_RETCODE result, CS_CONNECTION* connection, const char* call) {
    if (result == CS_SUCCEED) {
        MarkActivity();
        return;
    }
    RaisePending(connection);
    // The call failed and left nothing worth raising: it must not pass for a success.
    bool dead = false;
    CS_INT status = 0;
    if (connection != nullptr &&
        gSyb.ct_con_props(connection, CS_GET, CS_CON_STATUS, &status, CS_UNUSED, nullptr) == CS_SUCCEED)
        dead = (status & CS_CONSTAT_DEAD) != 0;
    EndWaitCursor();
    HandleError(ESDSybError(-1, -1, rtl::Format("Client-Library function %s failed", call), -1, dead));
}

void TISybDatabase::ApplyLoginProperties(CS_CONNECTION* connection) {
    const auto text = [&](CS_INT property, const std::string& value) {
        return gSyb.ct_con_props(connection, CS_SET, property, const_cast<char*>(value.c_str()), CS_NULLTERM,
                                 nullptr) == CS_SUCCEED;
    };
    bool ok = text(CS_USERNAME, login_.user) && text(CS_PASSWORD, login_.password) &&
              text(CS_APPNAME, login_.application) && text(CS_HOSTNAME, login_.host);
    if (login_.packetSize > 0) {
        CS_INT size = login_.packetSize;
        ok = gSyb.ct_con_props(connection, CS_SET, CS_PACKETSIZE, &size, CS_UNUSED, nullptr) == CS_SUCCEED && ok;
    }
    if (login_.encryption) {
        CS_INT on = CS_TRUE;
        ok = gSyb.ct_con_props(connection, CS_SET, CS_SEC_ENCRYPTION, &on, CS_UNUSED, nullptr) == CS_SUCCEED && ok;
    }
    if (!ok)
        rtl::DatabaseErrorFmt("Fatal error: %s", "Cannot transfer TDS login information in TISybCommand.CreateConnect");
}

void TISybDatabase::DoConnect(const std::string& remoteDatabase, const std::string& userName,
                              const std::string& password) {
    LoadSybLibrary();
    try {
        AllocHandle();
    } catch (...) {
        UnloadSybLibrary();
        throw;
    }
    CS_CONTEXT* context = SybContext();
    login_ = LoginProperties{};
    login_.user = userName;
    login_.password = password;
    login_.application = Params.Values("APPLICATION NAME");
    if (rtl::Trim(login_.application).empty()) login_.application = GetAppExeName();
    login_.host = Params.Values("HOST NAME");
    if (rtl::Trim(login_.host).empty()) login_.host = GetClientHostName();
    // Context properties hold for every later connection of the process.
    CS_INT maxConnections = 0;
    const CS_INT wanted = rtl::StrToIntDef(Params.Values("MAX CURSORS"), 0);
    if (gSyb.ct_config(context, CS_GET, CS_MAX_CONNECT, &maxConnections, CS_UNUSED, nullptr) == CS_SUCCEED &&
        wanted > maxConnections)
        gSyb.ct_config(context, CS_SET, CS_MAX_CONNECT, const_cast<CS_INT*>(&wanted), CS_UNUSED, nullptr);

    CS_CONNECTION* connection = nullptr;
    const bool allocated = gSyb.ct_con_alloc(context, &connection) == CS_SUCCEED;
    connInfo_->Connection = connection;
    if (!allocated || gSyb.ct_diag(connection, CS_INIT, CS_UNUSED, CS_UNUSED, nullptr) != CS_SUCCEED)
        rtl::DatabaseErrorFmt("Fatal error: %s", "TISybDatabase.DoConnect");

    const auto setText = [&](CS_INT property, const std::string& value) {
        gSyb.ct_con_props(connection, CS_SET, property, const_cast<char*>(value.c_str()), CS_NULLTERM, nullptr);
    };
    setText(CS_USERNAME, login_.user);
    setText(CS_PASSWORD, login_.password);
    setText(CS_APPNAME, login_.application);
    setText(CS_HOSTNAME, login_.host);
    const std::string loginTimeout = Trimmed(Params, "LOGIN TIMEOUT");
    if (!loginTimeout.empty()) {
        CS_INT v = rtl::StrToIntDef(loginTimeout, 0);
        gSyb.ct_config(context, CS_SET, CS_LOGIN_TIMEOUT, &v, CS_UNUSED, nullptr);
    }
    const std::string commandTimeout = Trimmed(Params, "COMMAND TIMEOUT");
    if (!commandTimeout.empty()) {
        CS_INT v = rtl::StrToIntDef(commandTimeout, 0);
        gSyb.ct_config(context, CS_SET, CS_TIMEOUT, &v, CS_UNUSED, nullptr);
    }
    const CS_INT packetSize = rtl::StrToIntDef(Trimmed(Params, "TDS PACKET SIZE"), 0);
    if (packetSize > 0) {
        CS_INT v = packetSize;
        gSyb.ct_con_props(connection, CS_SET, CS_PACKETSIZE, &v, CS_UNUSED, nullptr);
        login_.packetSize = packetSize;
    }
    if (rtl::UpperCase(Trimmed(Params, "ENCRYPTION")) == STrueString) {
        CS_INT on = CS_TRUE;
        Check(gSyb.ct_con_props(connection, CS_SET, CS_SEC_ENCRYPTION, &on, CS_UNUSED, nullptr), connection,
              "ct_con_props");
        login_.encryption = true;
    }

    connInfo_->ServerName = ExtractServerName(remoteDatabase);
    connInfo_->DatabaseName = ExtractDatabaseName(remoteDatabase);
    Check(gSyb.ct_connect(connection, const_cast<char*>(connInfo_->ServerName.c_str()), CS_NULLTERM), connection,
          "ct_connect");
    CS_COMMAND* command = nullptr;
    Check(gSyb.ct_cmd_alloc(connection, &command), connection, "ct_cmd_alloc");
    connInfo_->Command = command;
    if (!connInfo_->DatabaseName.empty()) {
        SendLanguage(command, connection, "use " + DatabaseIdentifier(connInfo_->DatabaseName));
        SendAndDrain(command, connection);
        CancelAll(command, connection);
    }
    ApplyConnectionOptions(connection);
    SetIsolation(connection, command, TransIsolation);
    xpMsver_ = !ReadList("select name from dbo.sysobjects where name='xp_msver'", 1).empty();
}

void TISybDatabase::ApplyConnectionOptions(CS_CONNECTION* connection) {
    CS_BOOL off = CS_FALSE;
    Check(gSyb.ct_options(connection, CS_SET, CS_OPT_CHAINXACTS, &off, CS_UNUSED, nullptr), connection, "ct_options");
    CS_INT textSize = 2147483647;
    Check(gSyb.ct_options(connection, CS_SET, CS_OPT_TEXTSIZE, &textSize, CS_UNUSED, nullptr), connection,
          "ct_options");
    if (quotedIdentifiers_) {
        CS_BOOL on = CS_TRUE;
        Check(gSyb.ct_options(connection, CS_SET, CS_OPT_QUOTED_IDENT, &on, CS_UNUSED, nullptr), connection,
              "ct_options");
    }
}

void TISybDatabase::SetIsolation(CS_CONNECTION* connection, CS_COMMAND* command, TSDTransIsolation level) {
    CS_INT value = level == tiDirtyRead ? CS_OPT_LEVEL0 : level == tiRepeatableRead ? CS_OPT_LEVEL3 : CS_OPT_LEVEL1;
    Check(gSyb.ct_options(connection, CS_SET, CS_OPT_ISOLATION, &value, CS_UNUSED, nullptr), connection, "ct_options");
    // FreeTDS turns the option into nothing for a TDS 7 server: the level also goes as text.
    if (command == nullptr) return;
    const char* text = level == tiDirtyRead         ? "SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED"
                       : level == tiRepeatableRead ? "SET TRANSACTION ISOLATION LEVEL SERIALIZABLE"
                                                   : "SET TRANSACTION ISOLATION LEVEL READ COMMITTED";
    CancelAll(command, connection);
    SendLanguage(command, connection, text);
    SendAndDrain(command, connection);
    CancelAll(command, connection);
}

void TISybDatabase::SetTransIsolation(TSDTransIsolation value) {
    if (connInfo_ == nullptr) return;
    SetActiveCommand(nullptr, true);
    SetIsolation(connInfo_->Connection, connInfo_->Command, value);
}

void TISybDatabase::SetActiveCommand(TISybCommand* command, bool fetchAll) {
    if (activeCommand_ != nullptr && activeCommand_ != command) {
        TISybCommand* old = activeCommand_;
        activeCommand_ = nullptr;
        try {
            if (fetchAll) old->RequestFetchAll();
        } catch (...) {
            activeCommand_ = old;
            throw;
        }
        // The shared command is about to carry another statement: what the old one did not
        // read is gone for it.
        if (!old->HasOwnConnection()) old->LoseResults();
    }
    activeCommand_ = command;
}

void TISybDatabase::CancelAll(CS_COMMAND* command, CS_CONNECTION* connection) {
    if (command != nullptr) Check(gSyb.ct_cancel(nullptr, command, CS_CANCEL_ALL), connection, "ct_cancel");
}

void TISybDatabase::SendLanguage(CS_COMMAND* command, CS_CONNECTION* connection, const std::string& text) {
    Check(gSyb.ct_command(command, CS_LANG_CMD, const_cast<char*>(text.c_str()), CS_NULLTERM, CS_UNUSED), connection,
          "ct_command");
}

CS_RETCODE TISybDatabase::Send(CS_COMMAND* command) {
    const CS_RETCODE r = gSyb.ct_send(command);
    return r == CS_CANCELED ? gSyb.ct_send(command) : r;
}

void TISybDatabase::SendAndDrain(CS_COMMAND* command, CS_CONNECTION* connection) {
    Check(Send(command), connection, "ct_send");
    CS_INT type = 0;
    // To the end of the results, not only of the first command: what is left unread turns
    // into a cancellation that the next call on the command would report. A failing call
    // ends the loop.
    for (;;) {
        const CS_RETCODE r = gSyb.ct_results(command, &type);
        if (r == CS_END_RESULTS) break;
        Check(r, connection, "ct_results");
        if (type == CS_CMD_FAIL) Check(CS_FAIL, connection, "ct_results");
        if (type == CS_ROW_RESULT || type == CS_PARAM_RESULT || type == CS_STATUS_RESULT || type == CS_COMPUTE_RESULT)
            Check(gSyb.ct_cancel(nullptr, command, CS_CANCEL_CURRENT), connection, "ct_cancel");
    }
}

void TISybDatabase::RunControl(const char* text) {
    SetActiveCommand(nullptr, true);
    CS_COMMAND* command = GetCmdPtr();
    CS_CONNECTION* connection = GetConnPtr();
    CancelAll(command, connection);
    SendLanguage(command, connection, text);
    SendAndDrain(command, connection);
    CancelAll(command, connection);
}

void TISybDatabase::DoStartTransaction() {
    RunControl("BEGIN TRAN");
}

void TISybDatabase::DoCommit() {
    RunControl("COMMIT TRAN");
}

void TISybDatabase::DoRollback() {
    RunControl("ROLLBACK TRAN");
}

void TISybDatabase::DoDisconnect(bool force) {
    if (connInfo_ == nullptr) return;
    activeCommand_ = nullptr;
    std::exception_ptr failure;
    CS_CONNECTION* connection = connInfo_->Connection;
    if (connection != nullptr) {
        CS_INT status = 0;
        if (gSyb.ct_con_props(connection, CS_GET, CS_LOGIN_STATUS, &status, CS_UNUSED, nullptr) == CS_SUCCEED &&
            status == CS_TRUE) {
            try {
                const CS_RETCODE cancelled = gSyb.ct_cancel(connection, nullptr, CS_CANCEL_ALL);
                if (!force) Check(cancelled, connection, "ct_cancel");
            } catch (...) {
                failure = std::current_exception();
            }
        }
    }
    if (connInfo_->Command != nullptr) {
        gSyb.ct_cmd_drop(connInfo_->Command);
        connInfo_->Command = nullptr;
    }
    if (connection != nullptr) {
        CS_INT status = 0;
        if (gSyb.ct_con_props(connection, CS_GET, CS_LOGIN_STATUS, &status, CS_UNUSED, nullptr) == CS_SUCCEED &&
            status == CS_TRUE) {
            const CS_RETCODE closed = gSyb.ct_close(connection, CS_UNUSED);
            if (!force && !failure) {
                try {
                    Check(closed, connection, "ct_close");
                } catch (...) {
                    failure = std::current_exception();
                }
            }
            // A close that failed leaves the connection open: the forced close always works.
            if (closed != CS_SUCCEED) gSyb.ct_close(connection, CS_FORCE_CLOSE);
        }
        gSyb.ct_con_drop(connection);
        connInfo_->Connection = nullptr;
    }
    connInfo_.reset();
    xpMsver_ = false;
    login_ = LoginProperties{};
    UnloadSybLibrary();
    if (failure) std::rethrow_exception(failure);
}

void* TISybDatabase::GetHandle() {
    return connInfo_.get();
}

void TISybDatabase::SetHandle(void* handle) {
    rtl::Assert(handle != nullptr, "TISybDatabase.SetHandle");
    LoadSybLibrary();
    try {
        AllocHandle();
    } catch (...) {
        UnloadSybLibrary();
        throw;
    }
    const auto* from = static_cast<const TISybConnInfo*>(handle);
    connInfo_->Connection = from->Connection;
    connInfo_->Command = from->Command;
    connInfo_->ServerName = from->ServerName;
    connInfo_->DatabaseName = from->DatabaseName;
}

TISqlCommandPtr TISybDatabase::CreateSqlCommand(rtl::Component* ownerDataSet) {
    return MakeSqlCommand<TISybCommand>(this, ownerDataSet);
}

int32_t TISybDatabase::GetClientVersion() {
    CS_CONNECTION* connection = GetConnPtr();
    char text[512] = {};
    CS_INT length = 0;
    // FreeTDS gives the text only with a place for its length.
    Check(gSyb.ct_config(SybContext(), CS_GET, CS_VER_STRING, text, sizeof text - 1, &length), connection,
          "ct_config");
    return ParseServerVersionText(PCharToString(text, int(sizeof text - 1)));
}

int32_t TISybDatabase::GetServerVersion() {
    return ParseServerVersionText(GetVersionString());
}

std::string TISybDatabase::GetVersionString() {
    if (xpMsver_) {
        const std::vector<std::string> values =
            ReadList("select dbo.xp_msver('FileDescription') || ' ' || dbo.xp_msver('ProductVersion')", 1);
        return values.empty() ? std::string() : values.back();
    }
    const std::vector<std::string> values = ReadList("dbo.sp_server_info @attribute_id=2", 3);
    return values.empty() ? std::string() : values.front();
}

std::vector<std::string> TISybDatabase::ReadList(const std::string& sql, int32_t field) {
    SetActiveCommand(nullptr, true);
    CancelAll(GetCmdPtr(), GetConnPtr());
    std::vector<std::string> values;
    {
        TISqlCommandPtr cmd = CreateSqlCommand(nullptr);
        cmd->ExecDirect(sql);
        while (cmd->FetchNextRow()) {
            std::string value;
            if (cmd->GetFieldAsString(field, value) && !value.empty()) values.push_back(value);
        }
    }
    CancelAll(GetCmdPtr(), GetConnPtr());
    return values;
}

bool TISybDatabase::TestConnected() {
    TISqlCommandPtr cmd = CreateSqlCommand(nullptr);
    cmd->ExecDirect("select 1 from sysobjects where 0=1");
    return true;
}

// ---------------------------------------------------------------------------------------------
// Catalog queries

TISqlCommandPtr TISybDatabase::GetSchemaInfo(TSDSchemaType kind, const std::string& objectName) {
    if (kind < stTables || kind > stIndexes) return nullptr;
    const int32_t major = kind == stProcedures && !xpMsver_ ? GetVersionMajor(GetServerVersion()) : 0;
    const std::string sql = SchemaInfoText(kind, objectName, major, xpMsver_);
    if (sql.empty()) return nullptr;
    SetActiveCommand(nullptr, true);
    TISqlCommandPtr cmd = CreateSqlCommand(nullptr);
    cmd->ExecDirect(sql);
    return cmd;
}

std::string TISybDatabase::SchemaInfoText(TSDSchemaType kind, const std::string& pattern, int32_t serverMajor,
                                          bool xpMsver) {
    std::string owner;
    std::string name;
    SplitOwnerAndName(pattern, owner, name);
    owner = TdsQuoted(owner);
    name = TdsQuoted(name);
    const std::string quotedPattern = TdsQuoted(pattern);
    switch (kind) {
        case stTables:
        case stSysTables:
            return rtl::Format(
                "select DB_NAME() as CATALOG_NAME, su.name as SCHEMA_NAME, so.name as TABLE_NAME, CASE so.type "
                "WHEN 'U' THEN 1 WHEN 'V' THEN 2 WHEN 'S' THEN 4 END as TABLE_TYPE from dbo.sysobjects so, "
                "dbo.sysusers su where so.uid = su.uid %s order by su.name, so.name",
                TdsTableConditions(kind, pattern));
        case stProcedures:
            if (xpMsver)
                return rtl::Format(
                    "select DB_NAME() as CATALOG_NAME, su.user_name as SCHEMA_NAME, so.proc_name as PROC_NAME, 0 as "
                    "PROC_TYPE, SUM(CASE parm_mode_in WHEN 'Y' THEN 1 ELSE 0 END) as IN_PARAMS, SUM(CASE "
                    "parm_mode_out WHEN 'Y' THEN 1 ELSE 0 END) as OUT_PARAMS from sys.sysprocedure so, "
                    "sys.sysuserperm su, sys.sysprocparm sc where so.creator = su.user_id and so.proc_id *= "
                    "sc.proc_id and sc.parm_type = 0%s group by su.user_name, so.proc_name order by su.user_name, "
                    "so.proc_name",
                    pattern.empty() ? std::string() : rtl::Format(" and so.proc_name like '%s'", quotedPattern));
            return rtl::Format(
                serverMajor >= 12
                    ? "select DB_NAME() as CATALOG_NAME, su.name as SCHEMA_NAME, so.name + ';' + CONVERT(varchar, "
                      "sp.number) as PROC_NAME, 0 as PROC_TYPE, COUNT(sc.status2) as IN_PARAMS, SUM((sc.status2 & "
                      "2)/2) as OUT_PARAMS from dbo.sysobjects so, dbo.sysusers su, dbo.syscomments sp, "
                      "dbo.syscolumns sc where so.type in ('P', 'X') and sp.colid = 1 and so.uid = su.uid and so.id "
                      "= sp.id and so.id *= sc.id %s group by su.name, so.name, sp.number order by su.name, so.name"
                    : "select DB_NAME() as CATALOG_NAME, su.name as SCHEMA_NAME, so.name + ';' + CONVERT(varchar, "
                      "sp.number) as PROC_NAME, 0 as PROC_TYPE, COUNT(sc.id) as IN_PARAMS, 0 as OUT_PARAMS from "
                      "dbo.sysobjects so, dbo.sysusers su, dbo.syscomments sp, dbo.syscolumns sc where so.type in "
                      "('P', 'X') and sp.colid = 1 and so.uid = su.uid and so.id = sp.id and so.id *= sc.id %s group "
                      "by su.name, so.name, sp.number order by su.name, so.name",
                pattern.empty() ? std::string() : rtl::Format(" and so.name like '%s'", quotedPattern));
        case stColumns:
            if (xpMsver)
                return rtl::Format(
                    "select DB_NAME() as CATALOG_NAME, su.user_name as SCHEMA_NAME, so.table_name as TABLE_NAME, "
                    "sc.column_name as COLUMN_NAME, sc.column_id as COLUMN_POSITION, 0 as COLUMN_TYPE, "
                    "st.domain_name as COLUMN_TYPENAME, sc.width as COLUMN_LENGTH, st.\"precision\" as "
                    "COLUMN_PRECISION, sc.scale as COLUMN_SCALE, CASE (sc.nulls) WHEN 'Y' THEN 1 ELSE 0 END as "
                    "COLUMN_NULLABLE, sc.\"default\"  from sys.systable so, sys.sysuserperm su, sys.syscolumn sc, "
                    "sys.sysdomain st where so.creator = su.user_id and so.table_id = sc.table_id and sc.domain_id = "
                    "st.domain_id and  su.user_name like '%s' and so.table_name like '%s' order by su.user_name, "
                    "so.table_name, sc.column_id",
                    owner, name);
            return rtl::Format(
                "select DB_NAME() as CATALOG_NAME, su.name as SCHEMA_NAME, so.name as TABLE_NAME, sc.name as "
                "COLUMN_NAME, sc.colid as COLUMN_POSITION, 0 as COLUMN_TYPE, st.name as COLUMN_TYPENAME, sc.length "
                "as COLUMN_LENGTH, sc.prec as COLUMN_PRECISION, sc.scale as COLUMN_SCALE, CASE (sc.status & 0x8) "
                "WHEN 0 THEN 0 ELSE 1 END as COLUMN_NULLABLE, sc.cdefault from dbo.sysobjects so, dbo.sysusers su, "
                "dbo.syscolumns sc, dbo.systypes st where so.uid = su.uid and so.id = sc.id and sc.usertype = "
                "st.usertype and  su.name like '%s' and so.name like '%s' order by su.name, so.name, sc.colid",
                owner, name);
        case stProcedureParams:
            if (xpMsver)
                return rtl::Format(
                    "select DB_NAME() as CATALOG_NAME, su.user_name as SCHEMA_NAME, so.proc_name as PROC_NAME, 0 as "
                    "PROC_TYPE, sc.parm_name as PARAM_NAME, sc.parm_id as PARAM_POSITION, (CASE parm_mode_in WHEN "
                    "'Y' THEN 1 ELSE 0 END) + (CASE parm_mode_out WHEN 'Y' THEN 2 ELSE 0 END) as PARAM_TYPE, "
                    "st.domain_id as PARAM_DATATYPE, st.domain_name as PARAM_TYPENAME, st.\"precision\" as "
                    "PARAM_PRECISION, sc.scale as PARAM_SCALE, sc.width as PARAM_LENGTH, NULL as PARAM_NULLABLE from "
                    "sys.sysprocedure so, sys.sysuserperm su, sys.sysprocparm sc, sys.sysdomain st where so.creator "
                    "= su.user_id and so.proc_id = sc.proc_id and sc.parm_type = 0 and sc.domain_id = "
                    "st.domain_id%s order by su.user_name, so.proc_name, sc.parm_id",
                    pattern.empty() ? std::string() : rtl::Format(" and so.proc_name like '%s'", quotedPattern));
            return rtl::Format(
                "select DB_NAME() as CATALOG_NAME, su.name as SCHEMA_NAME, so.name + ';' + CONVERT(varchar, "
                "sp.number) as PROC_NAME, 0 as PROC_TYPE, sc.name as PARAM_NAME, sc.colid as PARAM_POSITION, "
                "(sc.status2 & 1) + CASE (sc.status2 & 2) WHEN 0 THEN 0 ELSE 3 END as PARAM_TYPE, st.type as "
                "PARAM_DATATYPE, st.name as PARAM_TYPENAME, sc.prec as PARAM_PRECISION, sc.scale as PARAM_SCALE, "
                "sc.length as PARAM_LENGTH, CONVERT( smallint, CASE sc.status & 8 WHEN 0 THEN 0 ELSE 1 END) as "
                "PARAM_NULLABLE from dbo.sysobjects so, dbo.sysusers su, dbo.syscomments sp, dbo.syscolumns sc, "
                "dbo.systypes st where so.type in ('P', 'X') and sp.colid = 1 and so.uid = su.uid and so.id = sp.id "
                "and so.id = sc.id and sc.usertype = st.usertype %s order by su.name, so.name, sc.colid",
                pattern.empty() ? std::string() : rtl::Format(" and so.name like '%s'", quotedPattern));
        case stIndexes:
            if (xpMsver)
                return rtl::Format(
                    "select DB_NAME() as CATALOG_NAME, su.user_name as SCHEMA_NAME, so.table_name as TABLE_NAME, "
                    "si.index_name as INDEX_NAME, sc.column_name as COLUMN_NAME, sk.sequence as COLUMN_POSITION, CASE "
                    "si.\"unique\" WHEN 'N' THEN 1 ELSE 2 END as INDEX_TYPE, sk.\"order\" as SORT_ORDER, '' as "
                    "INDEX_FILTER from sys.systable so, sys.sysuserperm su, sys.sysindex si, sys.sysixcol sk, "
                    "sys.syscolumn sc where so.creator = su.user_id and so.table_id = si.table_id and so.table_id = "
                    "sc.table_id and  so.table_id = sk.table_id and si.index_id = sk.index_id and sk.column_id = "
                    "sc.column_id and  su.user_name like '%s' and so.table_name like '%s' order by su.user_name, "
                    "so.table_name, sc.column_name, sk.sequence",
                    owner, name);
            return rtl::Format(
                "declare @objid int declare @indid int declare @maxindid int declare @keycnt int declare @keyno int "
                "select @objid = object_id('%s') select @indid = 1 if @objid is NULL begin   goto exit_mark end "
                "select @maxindid = max(indid) from sysindexes where id = @objid and indid > 0 and indid < 255 if "
                "@maxindid is NULL begin   select @maxindid = 0 end create table #spindcols(   CATALOG_NAME "
                "varchar(30), SCHEMA_NAME varchar(30), TABLE_NAME varchar(30),   INDEX_NAME varchar(30),COLUMN_NAME "
                "varchar(30), COLUMN_POSITION integer,   INDEX_TYPE integer, SORT_ORDER varchar(1), INDEX_FILTER "
                "varchar(1)) while @indid <= @maxindid begin   select @keyno = 1, @keycnt = CASE (status & 0x10) "
                "WHEN 0 THEN keycnt-1 ELSE keycnt END from sysindexes si     where id = @objid and indid = @indid   "
                "while @keyno <= @keycnt   begin     insert into #spindcols(CATALOG_NAME, SCHEMA_NAME, TABLE_NAME, "
                "INDEX_NAME,       COLUMN_NAME, COLUMN_POSITION, INDEX_TYPE, SORT_ORDER, INDEX_FILTER)         select "
                "DB_NAME() , su.name, so.name, si.name,                index_col(object_name(@objid), @indid, "
                "@keyno), @keyno,                CASE (si.status & 0x2) WHEN 0 THEN 0 ELSE 2 END + CASE (si.status & "
                "0x40) WHEN 0 THEN 0 ELSE 1 END + CASE (si.status & 0x800) WHEN 0 THEN 0 ELSE 4 END,                "
                "CASE index_colorder(object_name(@objid), @indid, @keyno) WHEN 'DESC' THEN 'D' ELSE 'A' END, ''      "
                "   from sysobjects so, sysusers su, sysindexes si         where so.uid = su.uid and so.id = si.id "
                "and si.indid = @indid and so.id = @objid     select @keyno = @keyno + 1   end   select @indid = "
                "@indid + 1 end select * from #spindcols drop table #spindcols exit_mark:",
                quotedPattern);
        default:
            return std::string();
    }
}
