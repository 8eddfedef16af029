// database/oracle/SDOra.cpp: the Oracle driver's client library, factory and errors (unit SDOra).
//
// The library state is one per process: the file list, the module, the load count, the client
// version taken from the name that loaded, and the two entry tables with their bound flags,
// all changed only under the library lock. Loading goes from unloaded (count 0, no module,
// tables clear) to loaded (count >= 1, one or both tables bound) and back when the last load
// is released.
#include "database/oracle/SDOra.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "database/engine/SDCommonLibrary.h"
#include "database/engine/SDCommonSqlText.h"
#include "database/engine/SDEngine.h"
#include "rtl/Assert.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

using namespace ociapi;

// The client's own file names, newest first; the bare name last, for a client newer than the
// list whose installation links it to its versioned file.
const char* const kOciLibraryList =
    "libclntsh.so.23.1;libclntsh.so.21.1;libclntsh.so.19.1;libclntsh.so.18.1;libclntsh.so.12.1;"
    "libclntsh.so.11.1;libclntsh.so.10.1;libclntsh.so.9.0;libclntsh.so.8.0;libclntsh.so";

namespace {

constexpr int kErrorTextSize = 1000;

struct OciLibraryState {
    std::mutex lock;
    std::string list = kOciLibraryList;
    TSDModule module;
    int loadCount = 0;
    int32_t clientVersion = 0;
    bool oci8Bound = false;
    bool oci7Bound = false;
    bool piecewise = false;
    TOci8Functions oci8;
    TOci7Functions oci7;

    // At process end every remaining load is released.
    ~OciLibraryState() {
        oci8 = TOci8Functions();
        oci7 = TOci7Functions();
        module.reset();
        loadCount = 0;
    }
};

OciLibraryState& State() {
    static OciLibraryState state;
    return state;
}

void* Entry(const plat::DynamicLibrary& module, const char* name) {
    return module.Symbol(name);
}

void MissingEntry(const char* name) {
    throw rtl::EAssertionFailed(rtl::Format("Function '%s' not found in OCI library", name));
}

// Binds the OCI 8 table in its order; a missing required name stops the binding.
void BindOci8(OciLibraryState& s) {
    TOci8Functions& f = s.oci8;
    const plat::DynamicLibrary& m = *s.module;
#define KW_OCI_BIND_ENTRY(name, ret, params, required)            \
    f.name = reinterpret_cast<decltype(f.name)>(Entry(m, #name)); \
    if (f.name == nullptr && (required)) MissingEntry(#name);
    KW_OCI8_ENTRY_POINTS(KW_OCI_BIND_ENTRY)
#undef KW_OCI_BIND_ENTRY
    s.oci8Bound = true;
    // A client without OCIEnvCreate wants its process-wide initialisation first.
    if (f.OCIEnvCreate == nullptr && f.OCIInitialize != nullptr)
        f.OCIInitialize(OCI_THREADED_OBJECT, nullptr, nullptr, nullptr, nullptr);
}

// Binds the OCI 7 table; the piecewise names are required from version 7.3 on.
void BindOci7(OciLibraryState& s) {
    TOci7Functions& f = s.oci7;
    const plat::DynamicLibrary& m = *s.module;
    const bool piecewiseRequired = s.clientVersion >= MakeVersionNumber(7, 3);
#define KW_OCI_BIND_ENTRY(name, ret, params, piecewise)           \
    f.name = reinterpret_cast<decltype(f.name)>(Entry(m, #name)); \
    if (f.name == nullptr && (!(piecewise) || piecewiseRequired)) MissingEntry(#name);
    KW_OCI7_ENTRY_POINTS(KW_OCI_BIND_ENTRY)
#undef KW_OCI_BIND_ENTRY
    s.oci7Bound = true;
    s.piecewise = f.obindps != nullptr && f.odefinps != nullptr && f.ogetpi != nullptr &&
                  f.opinit != nullptr && f.osetpi != nullptr;
    if (s.piecewise) f.opinit(1);  // thread-safe mode
}

std::string OracleHome() {
    const char* home = std::getenv("ORACLE_HOME");
    const std::string trimmed = rtl::Trim(home != nullptr ? home : "");
    if (trimmed.empty()) return "";
    return trimmed.back() == '/' ? trimmed + "lib/" : trimmed + "/lib/";
}

// The items of the list, trimmed, in order.
std::vector<std::string> ListItems(const std::string& list) {
    std::vector<std::string> items;
    int position = 1;
    while (position <= int(list.size())) {
        const std::string item = rtl::Trim(ExtractListItem(list, ';', position));
        if (!item.empty()) items.push_back(item);
    }
    return items;
}

// The version of the client that loaded: the one its name stands for, else, when the name is
// a link (libclntsh.so to libclntsh.so.19.1, as installations make it), the first one a link
// on the way to the file stands for.
int32_t LoadedClientVersion(const std::string& loaded, const plat::DynamicLibrary& module) {
    if (const int32_t version = OciVersionOfFileName(loaded)) return version;
    constexpr int kMaxLinks = 8;  // the loader itself gives up on deeper chains
    // The path the name stands for: itself when it has a folder, else where the loader found it.
    // (The loader's own record may name another path to the same file, one loaded before.)
    std::filesystem::path link = loaded;
    if (loaded.find('/') == std::string::npos) {
        try {
            link = GetModulePath(&module);
        } catch (const rtl::Exception&) {
            return 0;
        }
    }
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        std::error_code ec;
        if (!std::filesystem::is_symlink(link, ec)) break;
        std::filesystem::path target = std::filesystem::read_symlink(link, ec);
        if (ec) break;
        if (target.is_relative()) target = link.parent_path() / target;
        if (const int32_t version = OciVersionOfFileName(target.string())) return version;
        link = target;
    }
    return 0;
}

std::string CleanMessage(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Library

int32_t OciVersionOfFileName(const std::string& fileName) {
    const size_t slash = fileName.find_last_of('/');
    const std::string name =
        rtl::UpperCase(slash == std::string::npos ? fileName : fileName.substr(slash + 1));
    // "libclntsh.so." then the major number, and the minor one after a dot: 19.1 for
    // libclntsh.so.19.1. Further numbers are allowed and ignored; anything else is no version.
    constexpr std::string_view kPrefix = "LIBCLNTSH.SO.";
    if (name.compare(0, kPrefix.size(), kPrefix) != 0) return 0;
    int numbers[2] = {0, 0};
    int count = 0;
    size_t pos = kPrefix.size();
    for (;;) {
        const size_t start = pos;
        uint32_t value = 0;
        while (pos < name.size() && name[pos] >= '0' && name[pos] <= '9' && value <= 0xFFFF)
            value = value * 10 + uint32_t(name[pos++] - '0');
        if (pos == start || value > 0xFFFF) return 0;  // no digits, or too large for the version form
        if (count < 2) numbers[count] = int(value);
        ++count;
        if (pos == name.size()) break;
        if (name[pos++] != '.') return 0;
    }
    return MakeVersionNumber(numbers[0], numbers[1]);
}

int32_t LoadOciLibrary(bool forceOci7) {
    OciLibraryState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.loadCount > 0) {
        ++s.loadCount;
    } else {
        const std::vector<std::string> items = ListItems(s.list);
        TSDModule module;
        std::string loaded;
        for (const std::string& item : items) {
            module = LoadClientLibrary(item);
            if (module) {
                loaded = item;
                break;
            }
        }
        const std::string home = OracleHome();
        if (!module && !home.empty()) {
            for (const std::string& item : items) {
                module = LoadClientLibrary(home + item);
                if (module) {
                    loaded = home + item;
                    break;
                }
            }
        }
        if (!module) throw ESDSqlLibError(rtl::Format("Error loading library '%s'", s.list));
        s.module = std::move(module);
        s.loadCount = 1;
        s.clientVersion = LoadedClientVersion(loaded, *s.module);
    }
    if (forceOci7 || GetVersionMajor(s.clientVersion) < 8) {
        if (!s.oci7Bound) BindOci7(s);
    } else if (!s.oci8Bound) {
        BindOci8(s);
    }
    return s.clientVersion;
}

void UnloadOciLibrary() {
    OciLibraryState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.loadCount == 0) return;
    if (s.loadCount > 1) {
        --s.loadCount;
        return;
    }
    // Releasing a module cannot fail on this platform (the loader does not report a refusal),
    // so there is no "Error unloading library" path here.
    s.oci8 = TOci8Functions();
    s.oci7 = TOci7Functions();
    s.oci8Bound = s.oci7Bound = s.piecewise = false;
    s.module.reset();
    s.loadCount = 0;
    s.clientVersion = 0;
}

bool Oci8FunctionExists(const char* name) {
    OciLibraryState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return HasProcAddress(s.module.get(), name);
}

int32_t OciClientVersion() {
    OciLibraryState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.clientVersion;
}

int OciLoadCount() {
    OciLibraryState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.loadCount;
}

bool OciLibraryLoaded() {
    OciLibraryState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.module != nullptr;
}

std::string OciLoadedName() {
    OciLibraryState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.module ? s.module->LoadedName() : std::string();
}

bool Oci7PiecewiseAvailable() {
    OciLibraryState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.piecewise;
}

std::string OciLibraryList() {
    OciLibraryState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.list;
}

void SetOciLibraryList(const std::string& list) {
    OciLibraryState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.list = list;
}

// Readers use the bound tables without the lock: a connection holds a load for as long as it
// may call them, so they cannot be cleared under it.
const TOci8Functions& Oci8() {
    OciLibraryState& s = State();
    rtl::Assert(s.oci8Bound, "The OCI 8 entry points are not bound");
    return s.oci8;
}

const TOci7Functions& Oci7() {
    OciLibraryState& s = State();
    rtl::Assert(s.oci7Bound, "The OCI 7 entry points are not bound");
    return s.oci7;
}

// ---------------------------------------------------------------------------------------------
// Factory

std::unique_ptr<TISqlDatabase> CreateOracleDatabase(rtl::Component* owner, const rtl::StringList& params) {
    const bool forceOci7 = rtl::UpperCase(rtl::Trim(params.Values("FORCE OCI7"))) == STrueString;
    {
        OciLibraryState& s = State();
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.module == nullptr) {
            const std::string list = rtl::Trim(params.Values(GetApiLibraryParamName(stOracle)));
            if (!list.empty()) s.list = list;
        }
    }
    const int32_t version = LoadOciLibrary(forceOci7);
    try {
        if (forceOci7 || GetVersionMajor(version) < 8) {
            auto db = std::make_unique<TIOraDatabase>(owner, params);
            db->AdoptLibraryLoad();
            return db;
        }
        auto db = std::make_unique<TIOra8Database>(owner, params);
        db->AdoptLibraryLoad();
        return db;
    } catch (...) {
        UnloadOciLibrary();
        throw;
    }
}

void RegisterOracleDriver() {
    RegisterSqlDatabaseFactory(stOracle, [](TSDDatabase* owner, const rtl::StringList& params) {
        return CreateOracleDatabase(owner, params);
    });
}

// ---------------------------------------------------------------------------------------------
// Connection operations of both generations

void OraQueryColumnValues(TISqlDatabase& database, const std::string& sql, rtl::StringList& values) {
    TISqlCommandPtr cmd = database.CreateSqlCommand(nullptr);
    cmd->ExecDirect(sql);
    while (cmd->FetchNextRow()) {
        std::string value;
        if (cmd->GetFieldAsString(1, value) && !value.empty()) values.Add(value);
    }
}

int32_t OraServerVersion(TISqlDatabase& database) {
    rtl::StringList rows;
    OraQueryColumnValues(database,
                         "select VERSION from PRODUCT_COMPONENT_VERSION where PRODUCT like '%Oracle%'", rows);
    return rows.Count() > 0 ? ParseVersionNumber(rtl::Trim(rows[0])) : 0;
}

std::string OraVersionString(TISqlDatabase& database) {
    rtl::StringList rows;
    OraQueryColumnValues(
        database,
        "select PRODUCT || ' Release ' || VERSION || ' - ' || STATUS from PRODUCT_COMPONENT_VERSION "
        "where PRODUCT like '%Oracle%'",
        rows);
    return rows.Count() > 0 ? rows[0] : std::string();
}

TISqlCommandPtr OraSchemaCommand(TISqlDatabase& database, TSDSchemaType kind, const std::string& objectName) {
    const std::string text = OraSchemaQueryText(kind, objectName);
    if (text.empty()) return nullptr;
    TISqlCommandPtr cmd = database.CreateSqlCommand(nullptr);
    cmd->ExecDirect(text);
    return cmd;
}

void OraExecute(TISqlDatabase& database, const std::string& sql) {
    TISqlCommandPtr cmd = database.CreateSqlCommand(nullptr);
    cmd->ExecDirect(sql);
}

// ---------------------------------------------------------------------------------------------
// The commands' shared steps

void TIOraCustomCommand::BindParamsBuffer() {
    if (CommandType == 0)
        BindParams(false);
    else if (CommandType == 2)
        BindParams(true);
    else
        rtl::DatabaseError("Capability not supported");
    paramsBound_ = true;
}

int32_t TIOraCustomCommand::CnvtDateTime2DBDateTime(TFieldType fieldType, rtl::TDateTime value,
                                                    uint8_t* buffer, int32_t bufferSize) {
    return DateTimeToOraDate(fieldType, buffer, bufferSize, value);
}

void TIOraCustomCommand::DoExecDirect(const std::string& sql) {
    DoPrepare(sql);
    AllocParamsBuffer();
    BindParamsBuffer();
    ExecuteCore();
    if (FieldDescs->Count() == 0) InitFieldDescs();
}

void TIOraCustomCommand::DoExecute() {
    if (!HasReturnedCursor()) ExecuteCore();
    if (!describing_ && FieldDescs->Count() == 0) {
        InitFieldDescs();
        if (FieldDescs->Count() > 0) {
            AllocFieldsBuffer();
            SetFieldsBuffer();
        }
    }
}

// Bind buffers, temporary LOBs and timestamp descriptors live for one execution.
void TIOraCustomCommand::Execute() {
    TISqlCommand::Execute();
    FreeParamsBuffer();
}

void TIOraCustomCommand::ExecuteToDescribe() {
    struct Describing {
        bool& flag;
        ~Describing() { flag = false; }
    } describing{describing_};
    describing_ = true;
    Execute();
}

bool TIOraCustomCommand::HasCursorParam() {
    for (int i = 0; i < GetParamCount(); ++i)
        if ((*Params)[i].DataType() == ftCursor) {
            cursorResult_ = true;
            return true;
        }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Errors

bool OraConnectionLost(int32_t errorNumber) {
    return errorNumber == kOraEndOfFileOnChannel || errorNumber == kOraTnsSendFailure;
}

void RaiseOci7Error(Lda_Def* lda, int32_t errorNumber, int32_t errorPos, TISqlDatabase* database) {
    if (errorNumber == 0) return;
    OraText buffer[kErrorTextSize + 1] = {};
    const TOci7Functions& f = Oci7();
    if (f.oerhms != nullptr) f.oerhms(lda, sb2(errorNumber), buffer, kErrorTextSize);
    buffer[kErrorTextSize] = 0;
    std::string message = CleanMessage(reinterpret_cast<const char*>(buffer));
    if (message.empty()) message = rtl::Format("Oracle error %d", errorNumber);
    const ESDOraError e(errorNumber, errorNumber, message, errorPos, OraConnectionLost(errorNumber));
    if (database != nullptr) database->HandleError(e);
    e.Raise();
}

namespace {

void ReadOci8Error(void* handle, ub4 handleType, sword status, int32_t& number, std::string& message) {
    if (status == OCI_INVALID_HANDLE) {
        number = -2;
        message = "Invalid OCI handle";
        return;
    }
    number = 0;
    OraText buffer[kErrorTextSize + 1] = {};
    sb4 code = 0;
    if (handle != nullptr &&
        Oci8().OCIErrorGet(handle, 1, nullptr, &code, buffer, kErrorTextSize, handleType) == OCI_SUCCESS)
        number = code;
    buffer[kErrorTextSize] = 0;
    message = CleanMessage(reinterpret_cast<const char*>(buffer));
    // A status the client explains nowhere still names itself.
    if (message.empty()) message = rtl::Format("OCI call failed with status %d", status);
}

}  // namespace

void RaiseOci8Error(void* handle, sword status, OCIStmt* stmt, TISqlDatabase* database, ub4 handleType) {
    int32_t number = 0;
    std::string message;
    ReadOci8Error(handle, handleType, status, number, message);
    int32_t position = -1;
    if (stmt != nullptr && handle != nullptr) {
        ub2 offset = 0;
        if (Oci8().OCIAttrGet(stmt, OCI_HTYPE_STMT, &offset, nullptr, OCI_ATTR_PARSE_ERROR_OFFSET, handle) ==
            OCI_SUCCESS)
            position = offset;
    }
    const ESDOraError e(number, number, message, position, OraConnectionLost(number));
    if (database != nullptr) database->HandleError(e);
    e.Raise();
}

int32_t GetOci8ErrorCode(void* handle, sword status) {
    int32_t number = 0;
    std::string message;
    ReadOci8Error(handle, OCI_HTYPE_ERROR, status, number, message);
    return number;
}

void CheckOci8(sword status, OCIError* errorHandle) {
    if (status == OCI_SUCCESS || status == OCI_SUCCESS_WITH_INFO) return;
    RaiseOci8Error(errorHandle, status, nullptr, nullptr);
}
