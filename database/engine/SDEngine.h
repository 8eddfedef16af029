// database/engine/SDEngine.h: the component layer of the SQL access library (unit SDEngine), its
// connection side: the process-wide list of sessions, the session TSDSession, the database
// TSDDatabase with its login, connect, disconnect and transactions, the driver factory table,
// and the idle and reconnect timers with the lost-connection handling.
//
// Drivers are reached only through TISqlDatabase / TISqlCommand and the factory table; the
// engine never names a driver class. The table starts empty: each driver registers its
// factory with RegisterSqlDatabaseFactory (the driver units offer a registration function that
// the program calls at start, since a static registrar object in a static library would be
// dropped by the linker when nothing refers to it). A server type whose driver is not
// registered fails with "SQL-server not supported".
//
// Datasets (the engine's TSDDataSet) register with their database as TSDDatabaseClient; the
// database closes, fetches, detaches and marks them through that interface.
//
// Threads: the idle and reconnect timers call into the database from their own threads. The
// connect and disconnect steps, the lost-connection handling and the timers' ticks hold the
// database's own re-entrant lock, the idle, fetching and connection-lost flags are atomic,
// and destroying a database stops and joins both timers before anything else is torn down.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "database/engine/SDCommon.h"
#include "database/engine/SDCommonCommand.h"
#include "database/engine/SDEngineTimer.h"
#include "rtl/Component.h"
#include "rtl/StringList.h"

class TSDDatabase;
class TSDSession;

enum TSDLostConnectAction : int32_t {
    lcCloseConnect = 0,
    lcIgnore = 1,
    lcWaitReconnect = 2,
    lcTerminateApp = 3
};

enum TSDDesignDBOption : int32_t { ddoIsDefaultDatabase = 0, ddoStoreConnected = 1 };
// A set of TSDDesignDBOption, one bit per ordinal.
using TSDDesignDBOptions = uint32_t;
inline constexpr TSDDesignDBOptions DesignOption(TSDDesignDBOption o) {
    return 1u << o;
}

using TSDNotifyEvent = std::function<void(TSDDatabase& sender)>;
// Fills "PASSWORD" (and may change "USER NAME") in the login parameters.
using TSDLoginEvent = std::function<void(TSDDatabase& database, rtl::StringList& loginParams)>;
using TSDLostConnectEvent =
    std::function<void(TSDDatabase& database, const ESDEngineError& e, TSDLostConnectAction& action)>;

// A driver factory: a new driver object for the database and its parameters.
using TSqlDatabaseFactory =
    std::function<std::unique_ptr<TISqlDatabase>(TSDDatabase* owner, const rtl::StringList& params)>;

// Fills (or, with an empty factory, clears) the table entry of a server type.
void RegisterSqlDatabaseFactory(TSDServerType serverType, TSqlDatabaseFactory factory);
// The entry, empty when no driver is registered for the type.
TSqlDatabaseFactory GetSqlDatabaseFactory(TSDServerType serverType);

// What a database needs of the datasets registered with it. TSDDataSet implements it.
class TSDDatabaseClient {
public:
    virtual ~TSDDatabaseClient() = default;
    virtual rtl::Component* ClientOwner() const = 0;
    virtual bool IsActive() const = 0;
    // A prepared query (its statement ready without being open).
    virtual bool IsPreparedQuery() const { return false; }
    // Its driver command still has a native statement handle.
    virtual bool HasCommandHandle() const = 0;
    // Closes and releases the database whatever holds it; ESDEngineError is swallowed.
    virtual void CloseQuietly() = 0;
    virtual void FetchAll() = 0;
    // Before a rollback that does not keep cursors: an active dataset fetches all its rows
    // and closes its result set; then its command is disconnected and unprepared.
    virtual void DetachForRollback() = 0;
    // The connection was lost: closing keeps the command object.
    virtual void SetConnectionLost() = 0;
    // A property of the database changed (name, session, server type, remote database).
    virtual void DatabaseChanged() {}
    // The connection goes up (true) or down (false).
    virtual void ConnectChanged(bool /*connecting*/) {}
};

// Components that belong to a session by name (databases, datasets): an automatic session
// renames those on its owner.
class TSDSessionNamed {
public:
    virtual ~TSDSessionNamed() = default;
    virtual const std::string& GetSessionName() const = 0;
    virtual void SetSessionName(const std::string& name) = 0;
};

// The login parameters a session caches for a remote database and server type.
struct TSDDatabaseParams {
    std::string RemoteDatabase;
    TSDServerType ServerType = stSQLBase;
    rtl::StringList Params;
};

class TSDSession : public rtl::Component {
public:
    // Fails when a session with AutoSessionName sits on the same owner.
    explicit TSDSession(rtl::Component* owner = nullptr);
    ~TSDSession() override;

    // True when any database of the session is connected, else the stored flag.
    bool GetActive() const;
    void SetActive(bool value);
    bool AutoSessionName() const { return autoSessionName_; }
    void SetAutoSessionName(bool value);
    bool KeepConnections() const { return keepConnections_; }
    void SetKeepConnections(bool value) { keepConnections_ = value; }
    const std::string& SessionName() const { return sessionName_; }
    void SetSessionName(const std::string& name);
    bool SQLHourGlass() const { return sqlHourGlass_; }
    void SetSQLHourGlass(bool value) { sqlHourGlass_ = value; }
    int16_t SQLWaitCursor() const { return waitCursor_; }
    void SetSQLWaitCursor(int16_t cursor) { waitCursor_ = cursor; }

    void SetName(const std::string& name) override;
    void Loaded() override;

    TSDDatabase* FindDatabase(const std::string& name) const;
    TSDDatabase* FindDatabaseForOwner(const std::string& name, const rtl::Component* owner) const;
    // The database, opened, its reference count raised; "Invalid database name %s".
    TSDDatabase& OpenDatabaseForOwner(const std::string& name, const rtl::Component* owner);
    TSDDatabase& OpenDatabase(const std::string& name) { return OpenDatabaseForOwner(name, nullptr); }
    // Drops one reference; at 0 a database without KeepConnection closes.
    void ReleaseDatabaseReference(TSDDatabase& database);
    int GetDatabaseCount() const { return int(databases_.size()); }
    TSDDatabase* GetDatabase(int index) const;

    // The login cache.
    const TSDDatabaseParams* FindCachedParams(const std::string& remoteDatabase, TSDServerType type) const;
    void CacheParams(const std::string& remoteDatabase, TSDServerType type, const rtl::StringList& params);

private:
    friend class TSDDatabase;
    friend class TSDSessionList;
    void AddDatabase(TSDDatabase* db);
    void RemoveDatabase(TSDDatabase* db);
    void MakeAutoSessionName();

    bool autoSessionName_ = false;
    bool keepConnections_ = true;
    bool sqlHourGlass_ = true;
    bool active_ = false;
    bool streamedActive_ = false;
    bool settingAutoName_ = false;
    // The session list's default session: its databases are not handed to another default
    // session when it goes.
    bool isDefault_ = false;
    int autoNumber_ = -1;
    int16_t waitCursor_ = -11;
    std::string sessionName_;
    std::vector<TSDDatabase*> databases_;
    std::vector<std::unique_ptr<TSDDatabaseParams>> loginCache_;
};

// The process-wide list of sessions.
class TSDSessionList {
public:
    TSDSessionList();
    ~TSDSessionList();

    void AddSession(TSDSession* session);
    void RemoveSession(TSDSession* session);
    // "" is the default session; EDatabaseError "Invalid session name %s" when none.
    TSDSession& GetSession(const std::string& name);
    TSDSession* FindSession(const std::string& name);
    // Closes every session's databases, last session first, and frees the default session
    // (made again on its next use). Sessions created by the program stay theirs to free.
    void FreeAllSessions();
    int Count() const;
    TSDSession* DefaultSession();

    // Numbers of automatic session names.
    int TakeAutoNumber();
    void ReleaseAutoNumber(int number);

private:
    mutable std::recursive_mutex mutex_;
    std::vector<TSDSession*> sessions_;
    std::vector<bool> autoNumbers_;
    std::unique_ptr<TSDSession> defaultSession_;
};

TSDSessionList& Sessions();
// The default session ("Default").
TSDSession& Session();
// The unit's critical section: session activation, opening databases, automatic names.
std::recursive_mutex& SDEngineLock();

// Busy indicator around long engine operations; shown only from the main thread and only
// when the default session's SQLHourGlass is set. The indicator itself is the program's:
// the procedure receives true when the first level begins and false when the last ends.
void BeginSqlWaitCursor();
void EndSqlWaitCursor();
void SetSqlWaitCursorProc(std::function<void(bool busy)> proc);
int SqlWaitCursorLevel();

// The login dialog (user name proposed; false when cancelled). Without one, a login prompt
// counts as cancelled.
using TSDLoginDialogProc =
    std::function<bool(const std::string& databaseName, std::string& userName, std::string& password)>;
void SetSqlLoginDialog(TSDLoginDialogProc proc);
TSDLoginDialogProc GetSqlLoginDialog();
// How the application is told to terminate (lcTerminateApp). Without one, a flag is set
// that SqlTerminateRequested reports.
void SetSqlTerminateAppProc(std::function<void()> proc);
// Tells the application to terminate (sets the flag, then calls the procedure).
void RequestSqlTerminate();
bool SqlTerminateRequested();
void ResetSqlTerminateRequest();

// The class library's connection component, as the database uses it: connected state, the
// connect and disconnect events and the list of registered datasets.
class TSDCustomDatabase : public rtl::Component {
public:
    explicit TSDCustomDatabase(rtl::Component* owner) : rtl::Component(owner) {}

    bool Connected() { return GetConnected(); }
    void SetConnected(bool value);
    void Open() { SetConnected(true); }
    void Close() { SetConnected(false); }
    void Loaded() override;

    void RegisterClient(TSDDatabaseClient* client);
    void UnRegisterClient(TSDDatabaseClient* client);
    int DataSetCount() const { return int(clients_.size()); }
    TSDDatabaseClient* GetDataSet(int index) const;

    TSDNotifyEvent AfterConnect;
    TSDNotifyEvent AfterDisconnect;
    TSDNotifyEvent BeforeConnect;
    TSDNotifyEvent BeforeDisconnect;

protected:
    virtual bool GetConnected() = 0;
    virtual void DoConnect() = 0;
    virtual void DoDisconnect() = 0;
    void SendConnectEvent(bool connecting);
    // The database itself, for the events.
    virtual TSDDatabase& Self() = 0;

    bool streamedConnected_ = false;
    // Set while a connect or disconnect runs: a dataset that releases the database while it is
    // being closed must not start a second close inside the first.
    bool changing_ = false;
    std::vector<TSDDatabaseClient*> clients_;
    // Held across connect and disconnect, the lost-connection handling and the timers'
    // ticks, which run on the timers' threads.
    std::recursive_mutex connectionLock_;
};

class TSDDatabase : public TSDCustomDatabase, public TSDSessionNamed {
public:
    explicit TSDDatabase(rtl::Component* owner = nullptr);
    ~TSDDatabase() override;

    void Loaded() override;

    bool LoginPrompt() const { return loginPrompt_; }
    void SetLoginPrompt(bool value) { loginPrompt_ = value; }
    const std::string& DatabaseName() const { return databaseName_; }
    void SetDatabaseName(const std::string& name);
    TSDDesignDBOptions DesignOptions() const { return designOptions_; }
    void SetDesignOptions(TSDDesignDBOptions options);
    int32_t IdleTimeout() const { return idleTimeout_; }
    void SetIdleTimeout(int32_t ms);
    bool KeepConnection() const { return keepConnection_; }
    void SetKeepConnection(bool value);
    rtl::StringList& Params() { return params_; }
    void SetParams(const rtl::StringList& params) { params_ = params; }
    int32_t ReconnectTimeout() const { return reconnectTimeout_; }
    void SetReconnectTimeout(int32_t ms) { reconnectTimeout_ = ms; }
    const std::string& RemoteDatabase() const { return remoteDatabase_; }
    void SetRemoteDatabase(const std::string& value);
    TSDServerType ServerType() const { return serverType_; }
    void SetServerType(TSDServerType value);
    const std::string& GetSessionName() const override { return sessionName_; }
    void SetSessionName(const std::string& name) override;
    TSDTransIsolation TransIsolation() const { return transIsolation_; }
    void SetTransIsolation(TSDTransIsolation value);

    TSDNotifyEvent AfterReconnect;
    TSDLoginEvent OnLogin;
    TSDLostConnectEvent OnLostConnectError;
    TSDLostConnectEvent OnReconnectError;

    TSDSession* Session() const { return session_; }
    // The driver object (nullptr while disconnected without a kept driver).
    TISqlDatabase* SqlDatabase() const { return driver_.get(); }
    int RefCount() const { return refCount_; }
    bool ConnectionLost() const { return connectionLost_; }

    void StartTransaction();
    void Commit();
    void Rollback();
    bool GetInTransaction() const;
    // The driver's catalog command of that kind for the object (the database opened first);
    // nullptr when the driver has none. The dataset layer wraps it in a query.
    TISqlCommandPtr OpenSchemaCommand(TSDSchemaType kind, const std::string& objectName);

    void CheckConnected();
    void CheckInactive();
    void CheckInTransaction();
    void CheckNotInTransaction();

    // The driver's call-backs.
    void HandleDriverError(const ESDEngineError& e);
    void EndWaitCursor();
    void MarkActivity() { idleFlag_ = false; }

    // Idle flag (armed by an idle tick, cleared by driver activity) and fetching flag (set by
    // a dataset while it prepares or executes a statement or fetches a row).
    bool IdleFlag() const { return idleFlag_; }
    void SetFetching(bool value) { fetching_ = value; }
    bool Fetching() const { return fetching_; }

    virtual void DoAfterReconnect();
    virtual void DoReconnectError(const ESDEngineError& e, TSDLostConnectAction& action);
    TSDDatabaseClient* GetSDDataSet(int index) const { return GetDataSet(index); }

    // The timers, for tests and diagnostics (nullptr when none runs).
    TSDThreadTimer* IdleTimer() const { return idleTimer_.get(); }
    TSDThreadTimer* ReconnectTimer() const { return reconnectTimer_.get(); }

private:
    friend class TSDSession;
    // A data set moves a database that names a session made after it into that session.
    friend class TSDDataSet;
    bool GetConnected() override;
    void DoConnect() override;
    void DoDisconnect() override;
    TSDDatabase& Self() override { return *this; }

    std::string PrepareLogin();
    void DoLogin(rtl::StringList& loginParams);
    void ISqlConnect(const std::string& remoteDatabase, const std::string& userName,
                     const std::string& password);
    void ISqlDisconnect(bool force);
    void BindSession(const std::string& name);
    void SessionDestroyed(TSDSession* session);
    void NotifyClients();

    void SetIdleTimer(int32_t ms);
    // Takes the connection lock for a tick; false when the timer was terminated meanwhile.
    bool LockForTick(TSDThreadTimer& timer);
    void IdleTimerTick(TSDThreadTimer& timer);
    void CloseLostConnection();
    void StartReconnect();
    void SetReconnectTimer(int32_t ms);
    void ReconnectTimerTick(TSDThreadTimer& timer);
    // Stops a timer and frees it, or, when called on that timer's own thread, keeps it until
    // the database frees it from another thread.
    void RetireTimer(std::unique_ptr<TSDThreadTimer> timer);
    void FreeRetiredTimers();

    bool loginPrompt_ = true;
    std::string databaseName_;
    TSDDesignDBOptions designOptions_ = DesignOption(ddoStoreConnected);
    std::atomic<int32_t> idleTimeout_{0};
    bool keepConnection_ = true;
    rtl::StringList params_;
    std::atomic<int32_t> reconnectTimeout_{0};
    std::string remoteDatabase_;
    TSDServerType serverType_ = stSQLBase;
    std::string sessionName_;
    TSDTransIsolation transIsolation_ = tiReadCommitted;

    TSDSession* session_ = nullptr;
    std::unique_ptr<TISqlDatabase> driver_;
    int refCount_ = 0;
    std::atomic<bool> connectionLost_{false};
    // The driver reported a broken link since the last connect (with or without an owner's
    // handler): the next disconnect is forced, skipping what would fail on it.
    std::atomic<bool> linkBroken_{false};
    std::atomic<bool> idleFlag_{false};
    std::atomic<bool> fetching_{false};

    std::mutex timerLock_;
    std::unique_ptr<TSDThreadTimer> idleTimer_;
    std::unique_ptr<TSDThreadTimer> reconnectTimer_;
    std::vector<std::unique_ptr<TSDThreadTimer>> retiredTimers_;
};

// The default database (used while designing), or nullptr.
TSDDatabase* DefaultDatabase();
