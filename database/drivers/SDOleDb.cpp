// database/drivers/SDOleDb.cpp: the OLE DB driver's connection, errors, transactions and
// provider information (unit SDOleDb). Statements and parameters live in SDOleDbCommand.cpp,
// result columns and rows in SDOleDbFetch.cpp, catalog commands in SDOleDbSchema.cpp.
//
// A connection moves from created (nothing held) to connected (the runtime initialised once
// for it, the data source initialised, a session in the handle record), optionally through a
// local transaction (the ITransactionLocal held between start and commit or rollback), to
// disconnected (everything released, the runtime's count given back). SetHandle enters the
// connected state by borrowing another connection's session.
#include "database/drivers/SDOleDb.h"

#include <mutex>

#include "database/drivers/OleDbDataLink.h"
#include "database/engine/SDCommonLibrary.h"
#include "database/engine/SDCommonSqlText.h"
#include "database/engine/SDEngine.h"
#include "rtl/Assert.h"
#include "rtl/Dispatch.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

using namespace com;
using namespace oledb;

namespace {

// The runtime initialisations the driver made and has not given back; the rest is given
// back when the program ends.
struct ComInitCount {
    std::mutex lock;
    int count = 0;
    ~ComInitCount() {
        for (; count > 0; --count)
            CoUninitialize();
    }
};

ComInitCount& InitCount() {
    static ComInitCount state;
    return state;
}

bool Contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

int32_t IntOf(const std::string& text) {
    int32_t v = 0;
    return rtl::TryStrToInt(rtl::Trim(text), v) ? v : 0;
}

}  // namespace

DBPROP OleDbProp(DBPROPID id, VARIANT value) {
    DBPROP p{};
    p.dwPropertyID = id;
    p.dwOptions = DBPROPOPTIONS_REQUIRED;
    p.dwStatus = DBPROPSTATUS_OK;
    p.colid = DB_NULLID;
    p.vValue = value;
    return p;
}

std::string BuildOleDbInitString(const std::string& remoteDatabase, const std::string& userName,
                                 const std::string& password, bool& sqlServer) {
    sqlServer = false;
    std::string text;
    if (remoteDatabase.find('=') == std::string::npos) {
        const std::string server = ExtractServerName(remoteDatabase);
        const std::string database = ExtractDatabaseName(remoteDatabase);
        text = "PROVIDER=SQLOLEDB;DATA SOURCE=" + QuoteInitValue(server);
        if (!database.empty()) text += ";INITIAL CATALOG=" + QuoteInitValue(database);
        sqlServer = true;
    } else {
        text = remoteDatabase;
    }
    // Both tests read the string as it came: an appended user name cannot hide a password key.
    const std::string upper = rtl::UpperCase(text);
    const bool hasUser = Contains(upper, "USER ID=") || Contains(upper, "UID=");
    const bool hasPassword = Contains(upper, "PASSWORD=") || Contains(upper, "PWD=");
    const auto append = [&text](const std::string& key, const std::string& value) {
        const std::string trimmed = rtl::TrimRight(text);
        const bool separator = !trimmed.empty() && trimmed.back() != ';';
        // The value is quoted: a ";" or "=" in it cannot start another attribute.
        text += (separator ? ";" : "") + key + QuoteInitValue(value);
    };
    if (!hasUser && !userName.empty()) append("USER ID=", userName);
    if (!hasPassword && !password.empty()) append("PASSWORD=", password);
    return text;
}

std::unique_ptr<TISqlDatabase> CreateOLEDBDatabase(rtl::Component* owner, const rtl::StringList& params) {
    return std::make_unique<TIOleDbDatabase>(owner, params);
}

void RegisterOLEDBDriver() {
    RegisterSqlDatabaseFactory(stOLEDB, [](TSDDatabase* owner, const rtl::StringList& params) {
        return CreateOLEDBDatabase(owner, params);
    });
}

// ---------------------------------------------------------------------------------------------
// TIOleDbDatabase

TIOleDbDatabase::TIOleDbDatabase(rtl::Component* owner, const rtl::StringList& params)
    : TISqlDatabase(owner, params, stOLEDB) {}

TIOleDbDatabase::~TIOleDbDatabase() {
    try {
        DoDisconnect(true);
    } catch (const std::exception&) {
        // Nobody is left to report a failed release to.
    }
}

void TIOleDbDatabase::InitCom() {
    ComInitCount& c = InitCount();
    std::lock_guard<std::mutex> guard(c.lock);
    const HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr)) throw rtl::EOleSysError("", hr);
    ++c.count;
    comInitialized_ = true;
}

void TIOleDbDatabase::UninitCom() {
    if (!comInitialized_) return;
    comInitialized_ = false;
    ComInitCount& c = InitCount();
    std::lock_guard<std::mutex> guard(c.lock);
    if (c.count > 0) {
        CoUninitialize();
        --c.count;
    }
}

void TIOleDbDatabase::AllocHandle() {
    rtl::Assert(handle_ == nullptr, "TIOleDbDatabase.AllocHandle");
    handle_ = std::make_unique<TIOleDbConnInfo>();
}

void TIOleDbDatabase::DoConnect(const std::string& remoteDatabase, const std::string& userName,
                                const std::string& password) {
    rtl::Assert(!dataSource_, "Assertion failure");
    InitCom();
    AllocHandle();
    initString_ = BuildOleDbInitString(remoteDatabase, userName, password, sqlServer_);
    {
        ComPtr<IDataInitialize> link;
        Check(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IDataInitialize::kIID,
                               link.ReceiveVoid()));
        const TBstr text(initString_);
        Check(link->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, text.Get(), IDBInitialize::kIID,
                                  reinterpret_cast<IUnknown**>(dataSource_.Receive())));
    }
    const std::string upper = rtl::UpperCase(initString_);
    SetDBInitProps(true, !Contains(upper, "USER ID=") && !Contains(upper, "UID="));
    Check(dataSource_->Initialize());
    Check(dataSource_->QueryInterface(IDBCreateSession::kIID, createSession_.ReceiveVoid()));
    Check(createSession_->CreateSession(nullptr, IDBCreateCommand::kIID,
                                        reinterpret_cast<IUnknown**>(handle_->Session.Receive())));
    GetProviderInfo();
    SetDBInitProps(false, false);
}

HRESULT TIOleDbDatabase::SetProps(const GUID& set, std::vector<DBPROP>& props) {
    ComPtr<IDBProperties> properties;
    Check(dataSource_->QueryInterface(IDBProperties::kIID, properties.ReceiveVoid()));
    return SetOleDbProperties(properties.Get(), set, props);
}

void TIOleDbDatabase::SetDBInitProps(bool beforeInitialize, bool integrated) {
    rtl::Assert(bool(dataSource_), "TIOleDbDatabase.SetDBInitProps: no data source");
    if (!beforeInitialize) {
        if (sqlServer_ && SingleConnection) {
            std::vector<DBPROP> props = {OleDbProp(DBPROP_MULTIPLECONNECTIONS, MakeVariantBool(false))};
            Check(SetProps(DBPROPSET_DATASOURCE, props));
        }
        return;
    }
    std::vector<DBPROP> props;
    if (integrated) props.push_back(OleDbProp(DBPROP_AUTH_INTEGRATED, MakeVariantText("")));
    const std::string timeout = rtl::Trim(Params.Values("LOGIN TIMEOUT"));
    if (!timeout.empty()) {
        const int32_t seconds = IntOf(timeout);
        props.push_back(OleDbProp(DBPROP_INIT_TIMEOUT, MakeVariantI4(seconds)));
        props.push_back(OleDbProp(DBPROP_INIT_GENERALTIMEOUT, MakeVariantI4(seconds)));
    }
    if (!props.empty()) {
        const HRESULT hr = SetProps(DBPROPSET_DBINIT, props);
        if (hr == DB_E_ERRORSOCCURRED) {
            MarkActivity();
            IErrorInfo* stale = nullptr;
            if (GetErrorInfo(0, &stale) == S_OK && stale != nullptr) stale->Release();
            ESDOleDbError(
                hr, hr,
                "Provider not support some database parameters<LOGIN TIMEOUT>" +
                    rtl::Format(" (error $%.8x in TIOleDbDatabase.SetDBInitProps)", int64_t(uint32_t(hr))),
                0, false)
                .Raise();
        }
        Check(hr);
    }
    // The application's name is SQL Server's property: a provider that does not know it is
    // connected without it.
    std::vector<DBPROP> app = {
        OleDbProp(SSPROP_INIT_APPNAME, MakeVariantText(rtl::UpperCase(GetAppExeName())))};
    const HRESULT hr = SetProps(DBPROPSET_SQLSERVERDBINIT, app);
    if (hr == DB_E_ERRORSOCCURRED || hr == DB_S_ERRORSOCCURRED) {
        IErrorInfo* stale = nullptr;
        if (GetErrorInfo(0, &stale) == S_OK && stale != nullptr) stale->Release();
        MarkActivity();
    } else {
        Check(hr);
    }
    const std::string packetSize = rtl::Trim(Params.Values("TDS PACKET SIZE"));
    if (!packetSize.empty()) {
        std::vector<DBPROP> packet = {
            OleDbProp(SSPROP_INIT_PACKETSIZE, MakeVariantI4(rtl::StrToInt(packetSize)))};
        Check(SetProps(DBPROPSET_SQLSERVERDBINIT, packet));
    }
}

std::string TIOleDbDatabase::GetDataSourceInfo(std::initializer_list<DBPROPID> ids) {
    rtl::Assert(bool(dataSource_), "TIOleDbDatabase.GetDataSourceInfo: no data source");
    ComPtr<IDBProperties> properties;
    Check(dataSource_->QueryInterface(IDBProperties::kIID, properties.ReceiveVoid()));
    std::vector<DBPROPID> list(ids);
    DBPROPIDSET idSet{list.data(), ULONG(list.size()), DBPROPSET_DATASOURCEINFO};
    ULONG count = 0;
    DBPROPSET* sets = nullptr;
    const HRESULT hr = properties->GetProperties(1, &idSet, &count, &sets);
    // Every returned block is given back, whatever follows.
    struct Free {
        ULONG& count;
        DBPROPSET*& sets;
        ~Free() {
            for (ULONG s = 0; sets != nullptr && s < count; ++s) {
                for (ULONG i = 0; i < sets[s].cProperties; ++i)
                    VariantClear(&sets[s].rgProperties[i].vValue);
                CoTaskMemFree(sets[s].rgProperties);
            }
            CoTaskMemFree(sets);
        }
    } free{count, sets};
    // A provider that has none of the properties asked for says so in their statuses: their
    // texts are empty, and the connection goes on.
    if (hr != DB_E_ERRORSOCCURRED) Check(hr);
    rtl::Assert(count == 1 && sets != nullptr, "TIOleDbDatabase.GetDataSourceInfo: %d property sets",
                int64_t(count));
    std::string text;
    bool first = true;
    for (ULONG i = 0; i < sets[0].cProperties; ++i) {
        const DBPROP& p = sets[0].rgProperties[i];
        if (p.dwStatus != DBPROPSTATUS_OK) continue;
        if (!first) text += p.dwPropertyID == DBPROP_DBMSVER ? " Release " : " ";
        text += VariantToText(p.vValue);
        first = false;
    }
    return text;
}

void TIOleDbDatabase::GetProviderInfo() {
    friendlyName_ = GetDataSourceInfo({DBPROP_PROVIDERFRIENDLYNAME});
    const int32_t sqlSupport = IntOf(GetDataSourceInfo({DBPROP_SQLSUPPORT}));
    paramMarkers_ = !(Contains(friendlyName_, "Microsoft") && Contains(friendlyName_, "FoxPro") &&
                      (sqlSupport & DBPROPVAL_SQL_ODBC_MINIMUM) == 0 &&
                      (sqlSupport & DBPROPVAL_SQL_ANSI92_INTERMEDIATE) == 0);
    multipleResults_ = IntOf(GetDataSourceInfo({DBPROP_MULTIPLERESULTS})) != 0;
    MultipleResultSets = multipleResults_;
    outputParams_ = IntOf(GetDataSourceInfo({DBPROP_OUTPUTPARAMETERAVAILABILITY}));
    CursorPreservedOnCommit =
        IntOf(GetDataSourceInfo({DBPROP_PREPARECOMMITBEHAVIOR})) == DBPROPVAL_CB_PRESERVE;
    CursorPreservedOnRollback =
        IntOf(GetDataSourceInfo({DBPROP_PREPAREABORTBEHAVIOR})) == DBPROPVAL_CB_PRESERVE;
    if (!sqlServer_)
        sqlServer_ = Contains(friendlyName_, "Microsoft") && Contains(friendlyName_, "SQL Server");
}

void TIOleDbDatabase::DoStartTransaction() {
    rtl::Assert(!transaction_, "TIOleDbDatabase.DoStartTransaction: a transaction is held");
    rtl::Assert(handle_ != nullptr && bool(handle_->Session),
                "TIOleDbDatabase.DoStartTransaction: no session");
    Check(handle_->Session->QueryInterface(ITransactionLocal::kIID, transaction_.ReceiveVoid()));
    static constexpr ISOLEVEL levels[] = {ISOLATIONLEVEL_READUNCOMMITTED, ISOLATIONLEVEL_READCOMMITTED,
                                          ISOLATIONLEVEL_REPEATABLEREAD};
    const ISOLEVEL level = TransIsolation >= tiDirtyRead && TransIsolation <= tiRepeatableRead
                               ? levels[TransIsolation]
                               : ISOLATIONLEVEL_READCOMMITTED;
    const HRESULT hr = transaction_->StartTransaction(level, 0, nullptr, nullptr);
    if (FAILED(hr)) transaction_.Reset();
    Check(hr);
}

void TIOleDbDatabase::DoCommit() {
    rtl::Assert(bool(transaction_), "TIOleDbDatabase.DoCommit: no transaction");
    const HRESULT hr = transaction_->Commit(0, XACTTC_SYNC, 0);
    transaction_.Reset();
    Check(hr);
}

void TIOleDbDatabase::DoRollback() {
    rtl::Assert(bool(transaction_), "TIOleDbDatabase.DoRollback: no transaction");
    const HRESULT hr = transaction_->Abort(nullptr, 0, 0);
    transaction_.Reset();
    Check(hr);
}

void TIOleDbDatabase::DoDisconnect(bool) {
    if (handle_ == nullptr) {
        UninitCom();
        return;
    }
    std::exception_ptr failure;
    if (transaction_) {
        try {
            DoRollback();
        } catch (...) {
            failure = std::current_exception();  // reported once everything is released
        }
    }
    activeCommand_ = nullptr;
    handle_->Session.Reset();
    handle_.reset();
    createSession_.Reset();
    if (dataSource_) {
        dataSource_->Uninitialize();
        dataSource_.Reset();
    }
    sqlServer_ = false;
    UninitCom();
    if (failure) std::rethrow_exception(failure);
}

void* TIOleDbDatabase::GetHandle() {
    return handle_.get();
}

void TIOleDbDatabase::SetHandle(void* handle) {
    rtl::Assert(handle != nullptr, "TIOleDbDatabase.SetHandle");
    InitCom();
    AllocHandle();
    handle_->Session = static_cast<const TIOleDbConnInfo*>(handle)->Session;
    ComPtr<IGetDataSource> source;
    Check(handle_->Session->QueryInterface(IGetDataSource::kIID, source.ReceiveVoid()));
    Check(source->GetDataSource(IDBInitialize::kIID, reinterpret_cast<IUnknown**>(dataSource_.Receive())));
    GetProviderInfo();
}

ComPtr<IDBCreateCommand> TIOleDbDatabase::GetSession() const {
    return handle_ != nullptr ? handle_->Session : ComPtr<IDBCreateCommand>();
}

void TIOleDbDatabase::SetActiveCommand(TISqlCommand* command, bool fetchPrevious) {
    if (activeCommand_ != nullptr && activeCommand_ != command) {
        TISqlCommand* previous = activeCommand_;
        activeCommand_ = nullptr;
        if (fetchPrevious) {
            try {
                previous->RequestFetchAll();
            } catch (...) {
                activeCommand_ = previous;
                throw;
            }
        }
    }
    activeCommand_ = command;
}

TISqlCommandPtr TIOleDbDatabase::CreateSqlCommand(rtl::Component* ownerDataSet) {
    return MakeSqlCommand<TIOleDbCommand>(this, ownerDataSet);
}

int32_t TIOleDbDatabase::GetClientVersion() {
    return ParseVersionNumber(GetDataSourceInfo({DBPROP_PROVIDERVER}));
}

int32_t TIOleDbDatabase::GetServerVersion() {
    return ParseVersionNumber(GetDataSourceInfo({DBPROP_DBMSVER}));
}

std::string TIOleDbDatabase::GetVersionString() {
    return GetDataSourceInfo({DBPROP_DBMSNAME, DBPROP_DBMSVER});
}

TISqlCommandPtr TIOleDbDatabase::GetSchemaInfo(TSDSchemaType kind, const std::string& objectName) {
    TISqlCommandPtr cmd;
    switch (kind) {
        case stTables:
        case stSysTables:
            cmd = MakeSqlCommand<TIOleDbSchemaTables>(this, nullptr, kind == stSysTables);
            break;
        case stProcedures:
            cmd = MakeSqlCommand<TIOleDbSchemaProcs>(this, nullptr);
            break;
        case stColumns:
            cmd = MakeSqlCommand<TIOleDbSchemaColumns>(this, nullptr);
            break;
        case stProcedureParams:
            cmd = MakeSqlCommand<TIOleDbSchemaProcParams>(this, nullptr);
            break;
        case stIndexes:
            cmd = MakeSqlCommand<TIOleDbSchemaIndexes>(this, nullptr);
            break;
        default:
            return nullptr;
    }
    static_cast<TIOleDbSchemaCommand&>(*cmd).SetPattern(objectName);
    cmd->ExecDirect("");
    return cmd;
}

bool TIOleDbDatabase::TestConnected() {
    return GetSchemaInfo(stSysTables, "X.DUMMY") != nullptr;
}

void TIOleDbDatabase::Check(HRESULT hr) {
    MarkActivity();
    if (SUCCEEDED(hr)) return;
    std::string message;
    int32_t native = 0;
    int32_t line = 0;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Receive()) == S_OK && info) {
        ComPtr<IErrorRecords> records = info.As<IErrorRecords>();
        if (records) {
            ULONG count = 0;
            if (FAILED(records->GetRecordCount(&count))) count = 0;
            const LCID locales[] = {GetUserDefaultLCID(), GetSystemDefaultLCID(), kLocaleEnglishUS};
            for (ULONG i = count; i-- > 0;) {
                std::string state;
                bool hasState = false;
                int32_t recordNative = 0;
                ComPtr<ISQLServerErrorInfo> server;
                if (sqlServer_)
                    records->GetCustomErrorObject(i, ISQLServerErrorInfo::kIID,
                                                  reinterpret_cast<IUnknown**>(server.Receive()));
                if (server) {
                    SSERRORINFO* e = nullptr;
                    OLECHAR* strings = nullptr;
                    if (SUCCEEDED(server->GetErrorInfo(&e, &strings)) && e != nullptr) {
                        recordNative = e->lNative;
                        line = e->wLineNumber;
                    }
                    CoTaskMemFree(e);
                    CoTaskMemFree(strings);
                } else {
                    ComPtr<ISQLErrorInfo> sql;
                    records->GetCustomErrorObject(i, ISQLErrorInfo::kIID,
                                                  reinterpret_cast<IUnknown**>(sql.Receive()));
                    if (sql) {
                        TBstr sqlState;
                        LONG n = 0;
                        if (SUCCEEDED(sql->GetSQLInfo(sqlState.Receive(), &n))) {
                            state = sqlState.Text();
                            hasState = true;
                            recordNative = n;
                        }
                    }
                }
                if (native == 0) native = recordNative;
                for (LCID locale : locales) {
                    ComPtr<IErrorInfo> record;
                    if (FAILED(records->GetErrorInfo(i, locale, record.Receive())) || !record) continue;
                    TBstr description;
                    if (FAILED(record->GetDescription(description.Receive()))) continue;
                    if (!message.empty()) message += "\r\n";
                    if (hasState) message += "SQLSTATE=" + state + "; ";
                    message += description.Text();
                    break;
                }
            }
        } else {
            TBstr description;
            if (SUCCEEDED(info->GetDescription(description.Receive()))) message = description.Text();
        }
    } else if (FormatResultMessage(hr, message) == ERROR_MR_MID_NOT_FOUND) {
        message = rtl::Format("The system cannot find message for error number $%.8x", int64_t(uint32_t(hr)));
    }
    const bool lost = hr == E_FAIL && native == 17 && handle_ != nullptr && bool(handle_->Session);
    HandleError(ESDOleDbError(hr, native, message, line, lost));
}
