// database/facade/ukwBDEDatabase.h: the inner database of the launcher's facade on the alias path
// (access type atBDE).
//
// The platform's alias-based database engine does not exist on Linux. Here an alias is an
// ODBC data source of the same name, opened through the SQL access library's ODBC driver: the
// alias is the database's remote database and its server type is always stODBC. An alias that
// holds "=" is taken as an ODBC connection string (the driver's rule). The engine's
// shared-handle flag is kept for the facade and means nothing to the ODBC driver.
#pragma once

#include <string>

#include "database/engine/SDEngine.h"

class TkwBDEDatabase : public TSDDatabase {
public:
    explicit TkwBDEDatabase(rtl::Component* owner = nullptr);

    const std::string& AliasName() const { return RemoteDatabase(); }
    // The database must be closed (the engine's "open database" error otherwise).
    void SetAliasName(const std::string& alias) { SetRemoteDatabase(alias); }
    bool HandleShared() const { return handleShared_; }
    void SetHandleShared(bool value) { handleShared_ = value; }

private:
    bool handleShared_ = false;
};
