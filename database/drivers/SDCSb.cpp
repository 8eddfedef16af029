// database/drivers/SDCSb.cpp: the SQLBase driver's client library, errors, connection and
// catalog statements (unit SDCSb). The command lives in SDCSbCommand.cpp.
//
// The library state is one per process (TSDClientLibrary): unloaded until the first connect,
// one load per connected TICsbDatabase, and the last unload ends the client with sqldon before
// the module goes. A connection moves from created to connected (a record with the cursor and,
// for a version 7 connection, the connection handle) to disconnected (an open transaction
// rolled back, the handles released, the record freed, its load given back).
#include "database/drivers/SDCSb.h"

#include <array>
#include <cstring>

#include "database/engine/SDCommonSqlText.h"
#include "database/engine/SDEngine.h"
#include "rtl/Assert.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

using namespace csbapi;

const char* const kCsbLibraryName = "libsqlbapi.so";

namespace {

TCsbFunctions gCsb;

// The assertion names an entry as "Sql" and the rest of its name with the first letter in
// upper case ("SqlBbr" for sqlbbr).
std::string DisplayName(const char* name) {
    std::string rest = std::string(name).substr(3);
    if (!rest.empty()) rest[0] = char(std::toupper(static_cast<unsigned char>(rest[0])));
    return "Sql" + rest;
}

const std::vector<TSDClientEntry>& CsbEntries() {
    static const std::vector<std::string> names = {
#define KW_CSB_NAME(name, ret, params, kind) DisplayName(#name),
        KW_CSB_ENTRY_POINTS(KW_CSB_NAME)
#undef KW_CSB_NAME
    };
    static const std::vector<TSDClientEntry> entries = [] {
        std::vector<TSDClientEntry> list;
        size_t i = 0;
#define KW_CSB_TABLE_ENTRY(name, ret, params, kind) \
    list.push_back({#name, &gCsb.name, kCsb##kind != kCsbVersion7, names[i++].c_str()});
        KW_CSB_ENTRY_POINTS(KW_CSB_TABLE_ENTRY)
#undef KW_CSB_TABLE_ENTRY
        return list;
    }();
    return entries;
}

void AfterLoad() {
    if (gCsb.sqlini(nullptr) != 0) throw ESDSqlLibError("Error initialization SQLBase Engine");
}

void BeforeUnload() {
    gCsb.sqldon();
}

const char* const kIsolationCodes[] = {"RL", "CS", "RR"};

// The first 32-bit word of a buffer.
int32_t FirstWord(const char* buffer) {
    int32_t v = 0;
    std::memcpy(&v, buffer, sizeof v);
    return v;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The unit's library

const TCsbFunctions& CsbFunctions() {
    return gCsb;
}

TSDClientLibrary& CsbLibrary() {
    static TSDClientLibrary library(kCsbLibraryName, stSQLBase, "SQLBase Engine");
    // At the program's end the loads connections still hold are given back, the last one
    // ending the client (made after the library, so gone before it).
    static struct Finalization {
        ~Finalization() {
            while (CsbLibrary().LoadCount() > 0)
                UnloadCsbLibrary();
        }
    } finalization;
    return library;
}

void LoadCsbLibrary() {
    CsbLibrary().Load(CsbEntries(), AfterLoad);
}

void UnloadCsbLibrary() {
    CsbLibrary().Unload(CsbEntries(), BeforeUnload);
}

int32_t CsbInterfaceLevel() {
    if (!CsbLibrary().IsLoaded()) return 0;
    const bool v7 = gCsb.sqlcch != nullptr && gCsb.sqldch != nullptr && gCsb.sqlopc != nullptr;
    return MakeVersionNumber(v7 ? 7 : 6, 0);
}

std::unique_ptr<TISqlDatabase> CreateSQLBaseDatabase(rtl::Component* owner, const rtl::StringList& params) {
    CsbLibrary().TakeNameFromParams(params);
    return std::make_unique<TICsbDatabase>(owner, params);
}

void RegisterSQLBaseDriver() {
    RegisterSqlDatabaseFactory(stSQLBase, [](TSDDatabase* owner, const rtl::StringList& params) {
        return CreateSQLBaseDatabase(owner, params);
    });
}

void RaiseCsbError(int32_t code, int32_t errorPos, TISqlDatabase* database) {
    const int16_t code16 = int16_t(code);
    std::array<char, 257> text{};  // the client writes at most 256 characters and a zero
    if (gCsb.sqlfer != nullptr) gCsb.sqlfer(code16, text.data());
    std::string message = PCharToString(text.data(), 256);
    if (message.empty()) message = rtl::Format("SQLBase error %d", int64_t(code16));
    const bool lost = code16 == kCsbConnectionLost || code16 == kCsbConnectionBroken;
    const ESDCSBError e(code16, code16, message, errorPos, lost);
    if (database != nullptr) database->HandleError(e);
    e.Raise();
}

std::string CsbBrandName(int32_t code) {
    static const char* const brands[] = {
        "",
        "Centura SQLBase",
        "IBM DB2",
        "IBM OS/2 Database Manager",
        "Oracle",
        "Informix",
        "Netware SQL",
        "IBM AS/400 SQL/400",
        "Sybase SQL Server",
        "Teradata DBC Machines",
        "HP Allbase",
        "DEC's RDB",
        "Tandem's Nonstop SQL",
        "IBM SQL/DS",
        "SNI SESAM",
        "Ingres",
        "SQL Access",
        "DBase",
        "SNI DDB4",
        "Fujitsu RDBII",
        "Cincom SUPRA",
        "CCA Model 204",
        "Apple DAL interface",
        "Teradata ShareBase",
        "Informix On-Line",
        "EDA/SQL",
        "SNI UDS",
        "Nocom Mimer",
        "Oracle version 7",
        "Ingres OpenSQL",
        "Ingres OpenSQL with date support",
        "ODBC Router",
        "SYBASE System 10",
        "Informix SE version 6",
        "Informix On-Line version 6",
        "Informix SE NLS version 6",
        "Informix On-Line NLS version 6",
    };
    if (code == 99) return "SQLHost App Services";
    if (code >= 1 && code < int32_t(std::size(brands))) return brands[code];
    return "";
}

std::string BuildCsbConnectString(const std::string& database, const std::string& user,
                                  const std::string& password) {
    std::string text = rtl::Trim(database);
    if (!user.empty()) text += "/" + rtl::Trim(user);
    if (!password.empty()) text += "/" + rtl::Trim(password);
    return text;
}

std::string CsbSchemaQueryText(TSDSchemaType kind, const std::string& pattern) {
    // The patterns are the caller's text: their quotes are doubled, so a pattern ends its
    // literal only where the statement does.
    const auto quoted = [](const std::string& text) { return DoubleChar('\'', text); };
    switch (kind) {
        case stTables:
        case stSysTables: {
            std::string clause;
            const auto add = [&clause](const std::string& condition) {
                clause += rtl::Trim(clause).empty() ? " where " : " and ";
                clause += condition;
            };
            if (!pattern.empty()) add("NAME like '" + quoted(pattern) + "' ");
            add(kind == stSysTables ? "SYSTEM = 'Y' " : "SYSTEM <> 'Y' ");
            return "select '' as CATALOG_NAME, CREATOR as SCHEMA_NAME, NAME as TABLE_NAME, 1 as TABLE_TYPE "
                   "from "
                   "SYSSQL.SYSTABLES " +
                   clause + " order by CREATOR, NAME";
        }
        case stProcedures: {
            const std::string clause = pattern.empty() ? "" : "and NAME like '" + quoted(pattern) + "' ";
            return "select '' as CATALOG_NAME, CREATOR as SCHEMA_NAME, NAME as PROC_NAME, 1 as PROC_TYPE "
                   "from "
                   "SYSSQL.SYSCOMMANDS where SYSTEM <> 'Y' " +
                   clause + " order by CREATOR, NAME";
        }
        case stColumns:
        case stIndexes: {
            std::string owner, name;
            SplitOwnerAndName(pattern, owner, name);
            owner = quoted(owner);
            name = quoted(name);
            if (kind == stColumns)
                return "select '' as CATALOG_NAME, TBCREATOR as SCHEMA_NAME, TBNAME as TABLE_NAME, NAME as "
                       "COLUMN_NAME, COLNO as COLUMN_POSITION, 0 as COLUMN_TYPE, COLTYPE as COLUMN_TYPENAME, "
                       "LENGTH as "
                       "COLUMN_LENGTH, LENGTH as COLUMN_PRECISION, SCALE as COLUMN_SCALE, @DECODE(NULLS, "
                       "'Y', 1, 0) as "
                       "COLUMN_NULLABLE from SYSSQL.SYSCOLUMNS where @UPPER(TBCREATOR) like @UPPER('" +
                       owner + "') and @UPPER(TBNAME) like @UPPER('" + name +
                       "') order by TBCREATOR, TBNAME, COLNO";
            return "select '' as CATALOG_NAME, TBCREATOR as SCHEMA_NAME, TBNAME as TABLE_NAME, IND.NAME as "
                   "INDEX_NAME, "
                   "COLNAME as COLUMN_NAME, COLNO as COLUMN_POSITION, @DECODE(UNIQUERULE, 'U', 2, 1) as "
                   "INDEX_TYPE, "
                   "ORDERING as SORT_ORDER, FUNCTION as INDEX_FILTER from SYSSQL.SYSINDEXES IND, "
                   "SYSSQL.SYSKEYS INDC "
                   "where IND.NAME = INDC.IXNAME and @UPPER(TBCREATOR) like @UPPER('" +
                   owner + "') and @UPPER(TBNAME) like @UPPER('" + name +
                   "') order by TBCREATOR, TBNAME, IND.NAME, COLNO";
        }
        default:
            return "";
    }
}

// ---------------------------------------------------------------------------------------------
// TICsbDatabase

TICsbDatabase::TICsbDatabase(rtl::Component* owner, const rtl::StringList& params)
    : TISqlDatabase(owner, params, stSQLBase) {
    transLogging_ = rtl::UpperCase(rtl::Trim(Params.Values("TRANSACTION LOGGING"))) != SFalseString;
}

TICsbDatabase::~TICsbDatabase() {
    try {
        DoDisconnect(true);
    } catch (const std::exception&) {
        // Nobody is left to report a failed release to.
    }
}

void TICsbDatabase::AllocHandles() {
    rtl::Assert(handle_ == nullptr, "TICsbDatabase.AllocHandles");
    handle_ = std::make_unique<TICsbConnInfo>();
}

SQLTCON TICsbDatabase::GetLogHandle() const {
    rtl::Assert(handle_ != nullptr, "TICsbDatabase.GetLogHandle");
    return handle_->LogHandle;
}

SQLTCUR TICsbDatabase::GetCurHandle() const {
    rtl::Assert(handle_ != nullptr, "TICsbDatabase.GetCurHandle");
    return handle_->CurHandle;
}

const std::string& TICsbDatabase::GetConnectStr() const {
    rtl::Assert(handle_ != nullptr, "TICsbDatabase.GetConnectStr");
    return handle_->ConnectStr;
}

bool TICsbDatabase::IsVersion7Connection() const {
    return CsbInterfaceLevel() >= MakeVersionNumber(7, 0) && transLogging_;
}

std::string TICsbDatabase::CommandTimeout() const {
    return rtl::Trim(Params.Values("COMMAND TIMEOUT"));
}

void TICsbDatabase::CheckCsbStatus(SQLTRCD result) {
    MarkActivity();
    if (result == 0) return;
    EndWaitCursor();
    RaiseCsbError(result, -1, this);
}

SQLTRCD TICsbDatabase::CsbSetIntParameter(SQLTCUR cursor, SQLTPTY parameter, int32_t value) {
    return gCsb.sqlset(cursor, parameter, &value, 0);
}

void TICsbDatabase::DoConnect(const std::string& remoteDatabase, const std::string& userName,
                              const std::string& password) {
    LoadCsbLibrary();
    loaded_ = true;
    AllocHandles();
    const std::string connectStr = BuildCsbConnectString(remoteDatabase, userName, password);
    SQLTCON log = 0;
    SQLTCUR cursor = 0;
    if (IsVersion7Connection()) {
        CheckCsbStatus(gCsb.sqlcch(&log, connectStr.c_str(), 0, 0));
        handle_->LogHandle = log;
        CheckCsbStatus(gCsb.sqlopc(&cursor, log, 0));
    } else if (transLogging_) {
        CheckCsbStatus(gCsb.sqlcnc(&cursor, connectStr.c_str(), 0));
    } else {
        CheckCsbStatus(gCsb.sqlcnr(&cursor, connectStr.c_str(), 0));
    }
    handle_->CurHandle = cursor;
    handle_->ConnectStr = connectStr;

    SetTransIsolation(TransIsolation);
    const int32_t one = 1;
    CheckCsbStatus(gCsb.sqlset(0, SQLPLRD, &one, 4));
    const std::string timeout = CommandTimeout();
    if (!timeout.empty()) {
        int32_t seconds = 0;
        if (!rtl::TryStrToInt(timeout, seconds)) seconds = 0;
        CheckCsbStatus(CsbSetIntParameter(cursor, SQLPTMO, seconds));
        CheckCsbStatus(CsbSetIntParameter(cursor, SQLPCTI, seconds));
    }
    // A connection that keeps the server's own commit mode sends none: the flag then says
    // what the server does, so that the engine never takes statements for committed when
    // the server waits for a commit.
    if (AutoCommitDefault) {
        int32_t mode = 0;
        SQLTDAL length = sizeof mode;
        if (gCsb.sqlget(cursor, SQLPAUT, &mode, &length) == 0) AutoCommit = mode != 0;
        MarkActivity();
    }
}

void TICsbDatabase::DoDisconnect(bool) {
    if (handle_ != nullptr) {
        // Released whatever the rollback answers: the handles must not outlive the record.
        struct Release {
            TICsbDatabase& db;
            ~Release() {
                gCsb.sqldis(db.handle_->CurHandle);
                if (db.handle_->LogHandle != 0 && gCsb.sqldch != nullptr) gCsb.sqldch(db.handle_->LogHandle);
                db.handle_.reset();
                if (db.loaded_) {
                    db.loaded_ = false;
                    UnloadCsbLibrary();
                }
            }
        } release{*this};
        if (InTransaction) CheckCsbStatus(gCsb.sqlrbk(handle_->CurHandle));
        return;
    }
    if (loaded_) {
        loaded_ = false;
        UnloadCsbLibrary();
    }
}

void TICsbDatabase::DoCommit() {
    CheckCsbStatus(gCsb.sqlcmt(GetCurHandle()));
}

void TICsbDatabase::DoRollback() {
    CheckCsbStatus(gCsb.sqlrbk(GetCurHandle()));
}

void* TICsbDatabase::GetHandle() {
    return handle_.get();
}

void TICsbDatabase::SetHandle(void* handle) {
    rtl::Assert(handle != nullptr, "TICsbDatabase.SetHandle");
    LoadCsbLibrary();
    loaded_ = true;
    AllocHandles();
    const auto* other = static_cast<const TICsbConnInfo*>(handle);
    handle_->LogHandle = other->LogHandle;
    handle_->CurHandle = other->CurHandle;
    handle_->ConnectStr = other->ConnectStr;
}

TISqlCommandPtr TICsbDatabase::CreateSqlCommand(rtl::Component* ownerDataSet) {
    return MakeSqlCommand<TICsbCommand>(this, ownerDataSet);
}

int32_t TICsbDatabase::GetClientVersion() {
    return CsbLibrary().FileVersion();
}

std::string TICsbDatabase::GetTextParameter(SQLTPTY parameter, int32_t* firstWord) {
    std::array<char, 129> buffer{};  // 128 bytes for the client, a zero after them
    SQLTDAL length = 128;
    CheckCsbStatus(gCsb.sqlget(GetCurHandle(), parameter, buffer.data(), &length));
    if (firstWord != nullptr) *firstWord = FirstWord(buffer.data());
    return PCharToString(buffer.data(), int(std::min<SQLTDAL>(length, 128)));
}

int32_t TICsbDatabase::GetServerVersion() {
    return ParseVersionNumber(GetTextParameter(SQLPVER));
}

std::string TICsbDatabase::GetVersionString() {
    int32_t brand = 0;
    GetTextParameter(SQLPBRN, &brand);
    const std::string name = CsbBrandName(brand);
    if (brand != 1) return name;
    return name + " Release " + GetTextParameter(SQLPVER);
}

bool TICsbDatabase::TestConnected() {
    TISqlCommandPtr cmd = CreateSqlCommand(nullptr);
    cmd->ExecDirect("select 1 from SYSSQL.SYSTABLES where 0=1");
    return true;
}

int32_t TICsbDatabase::ParamValue(int32_t index) {
    switch (index) {
        case 0:
        case 13:
        case 14:
        case 15:
        case 16:
        case 17:
            return 18;
        case 1:
            return 12;
        case 2:
            return 400;
        case 3:
        case 9:
        case 12:
            return 8;
        case 4:
        case 6:
            return 255;
        case 5:
            return 3000;
        case 7:
            return 17;
        case 8:
            return 32;
        case 10:
        case 11:
            return 128;
        default:
            return 0;
    }
}

void TICsbDatabase::SetTransIsolation(TSDTransIsolation value) {
    const int index = value >= tiDirtyRead && value <= tiRepeatableRead ? int(value) : int(tiReadCommitted);
    CheckCsbStatus(gCsb.sqlsil(GetCurHandle(), kIsolationCodes[index]));
    CursorPreservedOnCommit = true;
    CursorPreservedOnRollback = TransIsolation == tiDirtyRead;
}

TISqlCommandPtr TICsbDatabase::GetSchemaInfo(TSDSchemaType kind, const std::string& objectName) {
    const std::string sql = CsbSchemaQueryText(kind, objectName);
    if (sql.empty()) return nullptr;
    TISqlCommandPtr cmd = CreateSqlCommand(nullptr);
    cmd->ExecDirect(sql);
    return cmd;
}
