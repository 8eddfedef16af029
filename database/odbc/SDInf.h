// database/odbc/SDInf.h: the SQL library's driver for Informix (unit SDInf, server type
// stInformix).
//
// Informix's call-level interface offers the ODBC functions under the same names, so this
// driver is the ODBC driver (SDOdbc) with Informix's client library (the first of
// "iclit09b.so;iclit09a.so" that loads, unless the parameter "Informix API LIBRARY" names
// another file or list) and its own connection text: a remote database "server@database" or
// "server:database" becomes SERVICE, HOST, PROTOCOL, SERVER, DATABASE, UID and PWD attributes.
// The unit keeps its own library state and count.
#pragma once

#include <memory>
#include <string>

#include "database/odbc/SDOdbc.h"

SD_ENGINE_ERROR(ESDInfError, ESDOdbcError);

class TInfFunctions : public TOdbcFunctions {};

class TIInfDatabase : public TICustomOdbcDatabase {
public:
    TIInfDatabase(rtl::Component* owner, const rtl::StringList& params);
    ~TIInfDatabase() override;

protected:
    void DoConnect(const std::string& remoteDatabase, const std::string& userName,
                   const std::string& password) override;

public:
    TISqlCommandPtr CreateSqlCommand(rtl::Component* ownerDataSet) override;
    void FreeApiLibrary() override;
    void LoadApiLibrary() override;
    [[noreturn]] void RaiseError(int32_t errorCode, int32_t nativeError, bool connectionLost,
                                 const std::string& state, const std::string& message) override;
};

class TIInfCommand final : public TICustomOdbcCommand {
public:
    using TICustomOdbcCommand::TICustomOdbcCommand;
};

// The host name the connection text names (the Informix library resolves the server itself).
inline constexpr const char* kInformixHostName = "localhost";

// The connection text for a remote database: without ":" or "@" it is passed on unchanged
// (a data source name); otherwise the server is the text before the first of them (further
// ":" or "@" right after it are skipped) and the database the rest. The user name and
// password are written by OdbcAttributeValue.
std::string BuildInformixConnectString(const std::string& remoteDatabase, const std::string& userName,
                                       const std::string& password);

TOdbcClientLibrary& InfLibrary();
void LoadInfLibrary();
void UnloadInfLibrary();
std::unique_ptr<TISqlDatabase> CreateInformixDatabase(rtl::Component* owner, const rtl::StringList& params);
// Puts CreateInformixDatabase into the engine's factory table (stInformix).
void RegisterInformixDriver();
