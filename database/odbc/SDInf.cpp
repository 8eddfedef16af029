// database/odbc/SDInf.cpp: the Informix driver (unit SDInf).
#include "database/odbc/SDInf.h"

#include "database/engine/SDEngine.h"
#include "rtl/Format.h"

namespace {

constexpr const char* kInfLibraryNames = "iclit09b.so;iclit09a.so";

}  // namespace

std::string BuildInformixConnectString(const std::string& remoteDatabase, const std::string& userName,
                                       const std::string& password) {
    const size_t split = remoteDatabase.find_first_of(":@");
    if (split == std::string::npos) return remoteDatabase;
    const std::string server = remoteDatabase.substr(0, split);
    size_t rest = split;
    while (rest < remoteDatabase.size() && (remoteDatabase[rest] == ':' || remoteDatabase[rest] == '@'))
        ++rest;
    const std::string database = remoteDatabase.substr(rest);
    // The log-in values are the caller's: braced where needed, so that a ";" in a password
    // cannot end its attribute and add others.
    return rtl::Format("SERVICE=%s;HOST=", server) + kInformixHostName +
           rtl::Format(";PROTOCOL=OLSOCTCP;SERVER=%s;DATABASE=%s;UID=%s;PWD=%s", server, database,
                       OdbcAttributeValue(userName), OdbcAttributeValue(password));
}

TOdbcClientLibrary& InfLibrary() {
    static TOdbcClientLibrary library({kInfLibraryNames, stInformix, true, true},
                                      std::make_unique<TInfFunctions>());
    return library;
}

void LoadInfLibrary() {
    InfLibrary().Load();
}

void UnloadInfLibrary() {
    InfLibrary().Unload();
}

std::unique_ptr<TISqlDatabase> CreateInformixDatabase(rtl::Component* owner, const rtl::StringList& params) {
    InfLibrary().TakeNameFromParams(params);
    return std::make_unique<TIInfDatabase>(owner, params);
}

void RegisterInformixDriver() {
    RegisterSqlDatabaseFactory(stInformix, [](TSDDatabase* owner, const rtl::StringList& params) {
        return CreateInformixDatabase(owner, params);
    });
}

TIInfDatabase::TIInfDatabase(rtl::Component* owner, const rtl::StringList& params)
    : TICustomOdbcDatabase(owner, params, stInformix) {}

TIInfDatabase::~TIInfDatabase() = default;

void TIInfDatabase::DoConnect(const std::string& remoteDatabase, const std::string& userName,
                              const std::string& password) {
    OdbcConnect(BuildInformixConnectString(remoteDatabase, userName, password), userName, password);
}

TISqlCommandPtr TIInfDatabase::CreateSqlCommand(rtl::Component* ownerDataSet) {
    return MakeSqlCommand<TIInfCommand>(this, ownerDataSet);
}

void TIInfDatabase::FreeApiLibrary() {
    UnloadInfLibrary();
}

void TIInfDatabase::LoadApiLibrary() {
    LoadInfLibrary();
    functions_ = InfLibrary().Functions();
}

void TIInfDatabase::RaiseError(int32_t errorCode, int32_t nativeError, bool connectionLost,
                               const std::string& state, const std::string& message) {
    HandleError(ESDInfError(errorCode, nativeError, message, connectionLost, state));
}
