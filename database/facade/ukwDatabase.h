// database/facade/ukwDatabase.h: TkwDatabase, the launcher's one connection object.
//
// The facade hides which of two paths carries the connection:
//   atBDE   an alias: on this platform the ODBC data source of the same name, opened through
//           the SQL access library's ODBC driver (TkwBDEDatabase, ukwBDEDatabase.h);
//   atSQLD  the SQL access library with a server type chosen from TipoBanco: Oracle, DB2, or
//           ODBC for every other kind (TkwSDDatabase, ukwSDDatabase.h).
// Every property lives in the facade. A change to a different value (and any assignment of
// AccessTypeDB) runs ApplySettings, which closes the inner connection, copies the settings into
// the inner database and session, and opens them again when Connected is set. A kind whose
// driver is not in the program's factory table fails to connect with the library's "SQL-server
// not supported" error.
//
// Owns: the inner database and session of the current path (never both paths' objects after a
// change) and its own Params. Queries register with the facade (TkwQuery, ukwQuery.h) but are
// not owned: they follow a change of AccessTypeDB, and when the facade goes first each of
// them lets go of its inner query and of the facade, so none is left pointing at a freed one.
//
// Connected is stored before the connection is attempted: after a failed open it reads True,
// and setting it to False closes the inner objects cleanly.
//
// Log-in values that reach an ODBC connection string are written as attribute values
// (braced when they hold ";", "{" or "}"), so a user name or password cannot add attributes of
// its own to the text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "database/facade/ukwFuncoesBanco.h"
#include "rtl/Component.h"
#include "rtl/StringList.h"

class TkwBDEDatabase;
class TkwSDDatabase;
class TSDSession;
class TkwQuery;
class TSDDatabase;

enum TAccessTypeDB : int32_t { atBDE = 0, atSQLD = 1 };
enum TTransactionType : int32_t { ttReadCommitted = 0, ttDirtyRead = 1, ttRepeatableRead = 2 };

class TkwDatabase : public rtl::Component {
public:
    // Creates the alias path's inner objects; connects nothing.
    explicit TkwDatabase(rtl::Component* owner = nullptr);
    // Registered queries let go of their inner query and of this facade first.
    ~TkwDatabase() override;

    TAccessTypeDB AccessTypeDB() const { return accessTypeDB_; }
    // Stores and applies even an equal value, then rebinds every registered query.
    void SetAccessTypeDB(TAccessTypeDB value);
    const std::string& AliasName() const { return aliasName_; }
    void SetAliasName(const std::string& value);
    const std::string& DatabaseName() const { return databaseName_; }
    void SetDatabaseName(const std::string& value);
    const std::string& ConnectionUser() const { return connectionUser_; }
    void SetConnectionUser(const std::string& value);
    const std::string& ConnectionPassword() const { return connectionPassword_; }
    void SetConnectionPassword(const std::string& value);
    bool LoginPrompt() const { return loginPrompt_; }
    void SetLoginPrompt(bool value);
    bool Connected() const { return connected_; }
    void SetConnected(bool value);
    TTransactionType TransactionType() const { return transactionType_; }
    void SetTransactionType(TTransactionType value);
    TkwTipoBanco TipoBanco() const { return tipoBanco_; }
    void SetTipoBanco(TkwTipoBanco value);
    bool HandleShared() const { return handleShared_; }
    void SetHandleShared(bool value);
    bool UsesDefaultSession() const { return usesDefaultSession_; }
    void SetUsesDefaultSession(bool value);
    int32_t BlobSize() const { return blobSize_; }
    void SetBlobSize(int32_t value);
    // The facade's own name=value list ("USER NAME", "PASSWORD"); callers change it in place.
    rtl::StringList& Params() { return params_; }
    // Copies the lines into the current inner database's parameters (the next application of
    // the settings clears them again); the own list is not changed.
    void SetParams(const rtl::StringList& params);
    const std::string& kwServer() const { return kwServer_; }
    void SetkwServer(const std::string& value);

    // The inner database of each path; nullptr while the other path is in use.
    TkwBDEDatabase* GetBDEDatabase() const { return bdeDatabase_.get(); }
    TkwSDDatabase* GetSDDatabase() const { return sdDatabase_.get(); }
    // The inner session of the current path.
    TSDSession* GetSession() const;

    // Appends the query unless it is listed already / removes it when listed.
    void RegisterQuery(TkwQuery* query);
    void UnregisterQuery(TkwQuery* query);
    int QueryCount() const { return int(queries_.size()); }

    // Closes the inner connection, copies the settings and reopens it when Connected is set.
    void ApplySettings();

private:
    void ApplyBDESettings();
    void ApplySDSettings();
    void CreateBDEObjects();
    void CreateSDObjects();
    void FreeBDEObjects();
    void FreeSDObjects();
    void SetLogin(TSDDatabase& db);
    template <typename T>
    void Change(T& field, const T& value) {
        if (field == value) return;
        field = value;
        ApplySettings();
    }

    TAccessTypeDB accessTypeDB_ = atBDE;
    std::unique_ptr<TkwBDEDatabase> bdeDatabase_;
    std::unique_ptr<TSDSession> bdeSession_;
    std::unique_ptr<TkwSDDatabase> sdDatabase_;
    std::unique_ptr<TSDSession> sdSession_;
    std::string aliasName_;
    std::string databaseName_;
    std::string connectionUser_;
    std::string connectionPassword_;
    bool loginPrompt_ = false;
    bool connected_ = false;
    TTransactionType transactionType_ = ttReadCommitted;
    TkwTipoBanco tipoBanco_ = tbIndefinido;
    bool handleShared_ = false;
    bool usesDefaultSession_ = false;
    int32_t blobSize_ = 0;
    rtl::StringList params_;
    std::string kwServer_;
    std::vector<TkwQuery*> queries_;
};
