// database/engine/SDEngineDatabase.cpp: the database component: names and sessions, login,
// connect and disconnect through the driver factory, transactions, the lost-connection
// handling and the idle and reconnect timers.
#include "database/engine/SDEngine.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "rtl/Assert.h"
#include "rtl/DatabaseError.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

TSDDatabase* gDefaultDatabase = nullptr;

std::string Flag(const rtl::StringList& params, const char* name) {
    return rtl::UpperCase(rtl::Trim(params.Values(name)));
}

// Marks a connection change under way for its duration.
struct ChangingGuard {
    bool& flag;
    explicit ChangingGuard(bool& f) : flag(f) { flag = true; }
    ~ChangingGuard() { flag = false; }
    ChangingGuard(const ChangingGuard&) = delete;
    ChangingGuard& operator=(const ChangingGuard&) = delete;
};

}  // namespace

TSDDatabase* DefaultDatabase() {
    return gDefaultDatabase;
}

// ---------------------------------------------------------------------------------------------
// Connection component

void TSDCustomDatabase::SetConnected(bool value) {
    if (IsLoading()) {
        streamedConnected_ = value;
        return;
    }
    std::lock_guard lock(connectionLock_);
    if (changing_ || value == GetConnected()) return;
    if (value) {
        if (BeforeConnect) BeforeConnect(Self());
        {
            ChangingGuard changing(changing_);
            DoConnect();
        }
        SendConnectEvent(true);
        if (AfterConnect) AfterConnect(Self());
    } else {
        if (BeforeDisconnect) BeforeDisconnect(Self());
        SendConnectEvent(false);
        {
            ChangingGuard changing(changing_);
            DoDisconnect();
        }
        if (AfterDisconnect) AfterDisconnect(Self());
    }
}

void TSDCustomDatabase::Loaded() {
    rtl::Component::Loaded();
    if (streamedConnected_) SetConnected(true);
}

void TSDCustomDatabase::RegisterClient(TSDDatabaseClient* client) {
    if (client != nullptr && std::find(clients_.begin(), clients_.end(), client) == clients_.end())
        clients_.push_back(client);
}

void TSDCustomDatabase::UnRegisterClient(TSDDatabaseClient* client) {
    clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
}

TSDDatabaseClient* TSDCustomDatabase::GetDataSet(int index) const {
    if (index < 0 || index >= DataSetCount())
        throw rtl::EListError(rtl::Format("List index out of bounds (%d)", index));
    return clients_[size_t(index)];
}

void TSDCustomDatabase::SendConnectEvent(bool connecting) {
    const std::vector<TSDDatabaseClient*> clients = clients_;
    for (TSDDatabaseClient* c : clients)
        c->ConnectChanged(connecting);
}

// ---------------------------------------------------------------------------------------------
// Database: creation, names, properties

TSDDatabase::TSDDatabase(rtl::Component* owner) : TSDCustomDatabase(owner) {
    TSDSession* session = dynamic_cast<TSDSession*>(owner);
    if (session == nullptr && owner != nullptr) {
        // A database put on an owner whose session names itself joins that session.
        for (rtl::Component* c : owner->Components()) {
            auto* s = dynamic_cast<TSDSession*>(c);
            if (s != nullptr && s->AutoSessionName()) {
                session = s;
                break;
            }
        }
    }
    if (session == nullptr) session = &::Session();
    session_ = session;
    sessionName_ = session->SessionName();
    session->AddDatabase(this);
}

TSDDatabase::~TSDDatabase() {
    MarkDestroying();
    // Both timers call into this object from their threads: stop and join them first.
    SetIdleTimeout(0);
    std::unique_ptr<TSDThreadTimer> reconnect;
    {
        std::lock_guard lock(timerLock_);
        reconnect = std::move(reconnectTimer_);
    }
    if (reconnect) RetireTimer(std::move(reconnect));
    FreeRetiredTimers();
    try {
        Close();
    } catch (const std::exception&) {
        // A destructor cannot report; the connection is gone with the object either way.
    }
    if (gDefaultDatabase == this) gDefaultDatabase = nullptr;
    if (session_ != nullptr) session_->RemoveDatabase(this);
}

void TSDDatabase::Loaded() {
    TSDCustomDatabase::Loaded();
    if (designOptions_ & DesignOption(ddoIsDefaultDatabase)) gDefaultDatabase = this;
    if (!streamedConnected_) BindSession(sessionName_);
}

void TSDDatabase::NotifyClients() {
    const std::vector<TSDDatabaseClient*> clients = clients_;
    for (TSDDatabaseClient* c : clients)
        c->DatabaseChanged();
}

void TSDDatabase::CheckInactive() {
    if (!Connected()) return;
    if (IsDesigning())
        Close();
    else
        rtl::DatabaseError("Cannot perform this operation on an open database");
}

void TSDDatabase::CheckConnected() {
    if (!Connected()) rtl::DatabaseError("Cannot perform this operation on a closed database");
}

void TSDDatabase::CheckInTransaction() {
    if (!GetInTransaction()) rtl::DatabaseError("Transaction is not active");
}

void TSDDatabase::CheckNotInTransaction() {
    if (GetInTransaction()) rtl::DatabaseError("Transaction is active");
}

void TSDDatabase::SetDatabaseName(const std::string& name) {
    if (IsLoading()) {
        databaseName_ = name;
        return;
    }
    if (name == databaseName_) return;
    CheckInactive();
    if (session_ != nullptr) {
        TSDDatabase* other = session_->FindDatabase(name);
        if (other != nullptr && other != this) rtl::DatabaseErrorFmt("Duplicate database name '%s'", name);
    }
    databaseName_ = name;
    NotifyClients();
}

void TSDDatabase::SetSessionName(const std::string& name) {
    if (IsLoading()) {
        sessionName_ = name;
        return;
    }
    CheckInactive();
    // A database left without a session (its default session went) binds again by any name.
    if (name == sessionName_ && session_ != nullptr) return;
    sessionName_ = name;
    BindSession(name);
    NotifyClients();
}

void TSDDatabase::BindSession(const std::string& name) {
    TSDSession* s = Sessions().FindSession(name);
    if (s == nullptr || s == session_) return;
    if (session_ != nullptr) session_->RemoveDatabase(this);
    session_ = s;
    s->AddDatabase(this);
    if (!databaseName_.empty()) {
        TSDDatabase* other = s->FindDatabase(databaseName_);
        if (other != nullptr && other != this) {
            const std::string name = databaseName_;
            databaseName_.clear();
            rtl::DatabaseErrorFmt("Duplicate database name '%s'", name);
        }
    }
}

void TSDDatabase::SessionDestroyed(TSDSession* session) {
    if (session != session_) return;
    session_->RemoveDatabase(this);
    session_ = nullptr;
    try {
        Close();
    } catch (const std::exception&) {
        // The session is going away; the database still leaves it, closed or not.
    }
    // When the default session itself goes (every session freed, or the program ending),
    // the database stays without a session until it is bound again by name: a new default
    // session made from inside the old one's destruction would find the old one's name
    // still taken.
    sessionName_.clear();
    if (!session->isDefault_) {
        TSDSession& def = ::Session();
        session_ = &def;
        def.AddDatabase(this);
    }
    NotifyClients();
}

void TSDDatabase::SetServerType(TSDServerType value) {
    if (value == serverType_) return;
    CheckInactive();
    serverType_ = value;
    NotifyClients();
}

void TSDDatabase::SetRemoteDatabase(const std::string& value) {
    if (value == remoteDatabase_) return;
    CheckInactive();
    remoteDatabase_ = value;
    NotifyClients();
}

void TSDDatabase::SetKeepConnection(bool value) {
    keepConnection_ = value;
    if (!value && refCount_ == 0) Close();
}

void TSDDatabase::SetTransIsolation(TSDTransIsolation value) {
    if (Connected()) driver_->SetTransIsolation(value);
    transIsolation_ = value;
}

void TSDDatabase::SetDesignOptions(TSDDesignDBOptions options) {
    if (options & DesignOption(ddoIsDefaultDatabase)) {
        if (gDefaultDatabase != nullptr && gDefaultDatabase != this)
            gDefaultDatabase->designOptions_ &= ~DesignOption(ddoIsDefaultDatabase);
        if (!IsLoading()) gDefaultDatabase = this;
    } else if (gDefaultDatabase == this) {
        gDefaultDatabase = nullptr;
    }
    designOptions_ = options;
}

// ---------------------------------------------------------------------------------------------
// Login, connect, disconnect

void TSDDatabase::DoLogin(rtl::StringList& loginParams) {
    if (OnLogin) {
        OnLogin(*this, loginParams);
        return;
    }
    std::string user = loginParams.Values("USER NAME");
    std::string password;
    const TSDLoginDialogProc dialog = GetSqlLoginDialog();
    if (!dialog || !dialog(databaseName_, user, password))
        rtl::DatabaseErrorFmt("Cannot connect to database '%s'", databaseName_);
    loginParams.SetValue("USER NAME", user);
    loginParams.SetValue("PASSWORD", password);
}

std::string TSDDatabase::PrepareLogin() {
    if (remoteDatabase_.empty()) rtl::DatabaseError("Connection string(RemoteDatabase) missing");
    rtl::StringList cache;
    if (session_ != nullptr)
        if (const TSDDatabaseParams* cached = session_->FindCachedParams(remoteDatabase_, serverType_))
            cache = cached->Params;
    std::string password;
    if (loginPrompt_) {
        if (params_.Values("USER NAME").empty()) params_.SetValue("USER NAME", cache.Values("USER NAME"));
        rtl::StringList login;
        login.SetValue("USER NAME", params_.Values("USER NAME"));
        DoLogin(login);
        password = login.Values("PASSWORD");
        params_.SetValue("USER NAME", login.Values("USER NAME"));
        cache = login;
    } else {
        if (params_.Count() == 0) params_ = cache;
        password = params_.Values("PASSWORD");
        cache = params_;
    }
    if (cache.Count() > 0 && session_ != nullptr) session_->CacheParams(remoteDatabase_, serverType_, cache);
    return password;
}

bool TSDDatabase::GetConnected() {
    return driver_ != nullptr && driver_->GetHandle() != nullptr;
}

void TSDDatabase::DoConnect() {
    std::lock_guard lock(connectionLock_);
    if (GetConnected()) return;
    if (databaseName_.empty()) rtl::DatabaseError("Database name missing");
    const std::string password = PrepareLogin();
    try {
        ISqlConnect(remoteDatabase_, params_.Values("USER NAME"), password);
        connectionLost_ = false;
        linkBroken_ = false;
    } catch (...) {
        if (driver_) {
            try {
                if (driver_->GetHandle() != nullptr) driver_->Disconnect(true);
            } catch (const std::exception&) {
                // The connect failure is the one to report.
            }
            if (!connectionLost_) driver_.reset();
        }
        throw;
    }
}

void TSDDatabase::ISqlConnect(const std::string& remoteDatabase, const std::string& userName,
                              const std::string& password) {
    if (!connectionLost_ || !driver_) {
        rtl::Assert(driver_ == nullptr, "TSDDatabase.ISqlConnect: a driver exists already");
        TSDServerType type = serverType_;
        if (type == stSQLServer && Flag(params_, "USE OLEDB") == STrueString) type = stOLEDB;
        const TSqlDatabaseFactory factory = GetSqlDatabaseFactory(type);
        if (!factory) rtl::DatabaseError("SQL-server not supported");
        driver_ = factory(this, params_);
        if (!driver_) rtl::DatabaseError("SQL-server not supported");
        driver_->TransIsolation = transIsolation_;
        driver_->ErrorProc = [this](TISqlDatabase&, const ESDEngineError& e) { HandleDriverError(e); };
        driver_->EndWaitCursorProc = [this](TISqlDatabase&) { EndWaitCursor(); };
        driver_->ActivityProc = [this](TISqlDatabase&) { MarkActivity(); };
    }
    driver_->Connect(remoteDatabase, userName, password);
}

void TSDDatabase::DoDisconnect() {
    std::lock_guard lock(connectionLock_);
    while (!clients_.empty()) {
        TSDDatabaseClient* client = clients_.back();
        client->CloseQuietly();
        // A client that did not let go is let go here, so that the loop ends.
        if (!clients_.empty() && clients_.back() == client) clients_.pop_back();
    }
    refCount_ = 0;
    ISqlDisconnect(linkBroken_);
}

void TSDDatabase::ISqlDisconnect(bool force) {
    if (!driver_) return;
    try {
        if (driver_->GetHandle() != nullptr) driver_->Disconnect(force);
    } catch (...) {
        // A driver that let its connection go and then reports why leaves the database
        // disconnected all the same; one that still holds it keeps it connected.
        if (!connectionLost_ && driver_ && driver_->GetHandle() == nullptr) driver_.reset();
        throw;
    }
    if (!connectionLost_) driver_.reset();
}

void TSDDatabase::EndWaitCursor() {
    EndSqlWaitCursor();
}

// ---------------------------------------------------------------------------------------------
// Transactions and catalog

bool TSDDatabase::GetInTransaction() const {
    return driver_ != nullptr && driver_->InTransaction;
}

void TSDDatabase::StartTransaction() {
    CheckConnected();
    CheckNotInTransaction();
    if (!driver_->CursorPreservedOnStart) {
        const std::vector<TSDDatabaseClient*> clients = clients_;
        for (TSDDatabaseClient* c : clients)
            if (c->IsActive()) c->FetchAll();
    }
    driver_->StartTransaction();
}

void TSDDatabase::Commit() {
    CheckConnected();
    CheckInTransaction();
    if (!driver_->CursorPreservedOnCommit) {
        const std::vector<TSDDatabaseClient*> clients = clients_;
        for (TSDDatabaseClient* c : clients)
            if (c->IsActive()) c->FetchAll();
    }
    driver_->Commit();
}

void TSDDatabase::Rollback() {
    CheckConnected();
    if (!driver_->CursorPreservedOnRollback) {
        const std::vector<TSDDatabaseClient*> clients = clients_;
        for (TSDDatabaseClient* c : clients)
            if (c->IsActive() || c->IsPreparedQuery()) c->DetachForRollback();
    }
    driver_->Rollback();
}

TISqlCommandPtr TSDDatabase::OpenSchemaCommand(TSDSchemaType kind, const std::string& objectName) {
    BeginSqlWaitCursor();
    try {
        if (!Connected()) Open();
        TISqlCommandPtr command = driver_->GetSchemaInfo(kind, objectName);
        EndSqlWaitCursor();
        return command;
    } catch (...) {
        EndSqlWaitCursor();
        throw;
    }
}

// ---------------------------------------------------------------------------------------------
// Lost connections

void TSDDatabase::HandleDriverError(const ESDEngineError& e) {
    if (e.ConnectionLost) linkBroken_ = true;
    if (OnLostConnectError && e.ConnectionLost) {
        std::lock_guard lock(connectionLock_);
        TSDLostConnectAction action = lcCloseConnect;
        OnLostConnectError(*this, e, action);
        if (action == lcCloseConnect || action == lcWaitReconnect || action == lcTerminateApp) {
            const std::vector<TSDDatabaseClient*> clients = clients_;
            for (TSDDatabaseClient* c : clients)
                c->SetConnectionLost();
            connectionLost_ = true;
            try {
                CloseLostConnection();
            } catch (const std::exception&) {
                // The caller must see the driver's error, not a failure of closing what is
                // already broken.
            }
        }
        if (action == lcTerminateApp) RequestSqlTerminate();
        if (action == lcWaitReconnect) StartReconnect();
    }
    e.Raise();
}

void TSDDatabase::CloseLostConnection() {
    // A dataset that gives its reference back while it closes must not start a full close
    // of the database inside this one (which would close the datasets kept below and
    // disconnect the broken connection without force).
    ChangingGuard changing(changing_);
    if (BeforeDisconnect) BeforeDisconnect(*this);
    SendConnectEvent(false);
    const std::vector<TSDDatabaseClient*> clients = clients_;
    for (auto it = clients.rbegin(); it != clients.rend(); ++it) {
        TSDDatabaseClient* c = *it;
        // A dataset whose rows are all cached and whose command is detached stays browsable.
        if (c->IsActive() && !c->HasCommandHandle()) continue;
        c->CloseQuietly();
    }
    refCount_ = int(clients_.size());
    ISqlDisconnect(true);
    // The server's transaction ended with its session. The kept driver must not carry it into
    // the next connection, where it would keep live changes out of their own transactions and
    // refuse the program's next StartTransaction.
    if (driver_) driver_->InTransaction = false;
    if (AfterDisconnect) AfterDisconnect(*this);
}

void TSDDatabase::StartReconnect() {
    if (reconnectTimeout_ > 0) SetReconnectTimer(reconnectTimeout_);
}

void TSDDatabase::DoAfterReconnect() {
    if (AfterReconnect) AfterReconnect(*this);
}

void TSDDatabase::DoReconnectError(const ESDEngineError& e, TSDLostConnectAction& action) {
    if (OnReconnectError) OnReconnectError(*this, e, action);
}

// ---------------------------------------------------------------------------------------------
// Timers

void TSDDatabase::SetIdleTimeout(int32_t ms) {
    if (ms == idleTimeout_) return;
    if (!IsDesigning()) SetIdleTimer(ms);
    idleTimeout_ = ms;
}

void TSDDatabase::SetIdleTimer(int32_t ms) {
    std::unique_ptr<TSDThreadTimer> stop;
    {
        std::lock_guard lock(timerLock_);
        if (ms <= 0) {
            stop = std::move(idleTimer_);
        } else if (idleTimer_ && !idleTimer_->Finished()) {
            idleTimer_->SetInterval(ms);
        } else {
            // A timer whose thread ended (a failed close) is replaced, so that a new time-out
            // takes effect.
            stop = std::move(idleTimer_);
            idleTimer_ = std::make_unique<TSDThreadTimer>(this, true);
            idleTimer_->SetOnTimer([this](TSDThreadTimer& t) { IdleTimerTick(t); });
            idleTimer_->SetInterval(ms);
            idleTimer_->Resume();
        }
    }
    if (stop) RetireTimer(std::move(stop));
}

bool TSDDatabase::LockForTick(TSDThreadTimer& timer) {
    // The owner may be stopping this timer while it holds the connection lock; give way then.
    while (!connectionLock_.try_lock()) {
        if (timer.Terminated()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void TSDDatabase::IdleTimerTick(TSDThreadTimer& timer) {
    if (!LockForTick(timer)) return;
    std::lock_guard lock(connectionLock_, std::adopt_lock);
    if (!GetConnected()) return;
    if (!idleFlag_) {
        idleFlag_ = true;
    } else if (fetching_) {
        idleFlag_ = false;
    } else {
        Close();
    }
}

void TSDDatabase::SetReconnectTimer(int32_t ms) {
    std::unique_ptr<TSDThreadTimer> old;
    {
        std::lock_guard lock(timerLock_);
        if (ms <= 0) {
            if (reconnectTimer_) reconnectTimer_->SetInterval(0);
            return;
        }
        if (reconnectTimer_ && !reconnectTimer_->Finished()) {
            reconnectTimer_->SetInterval(ms);
            return;
        }
        old = std::move(reconnectTimer_);
        reconnectTimer_ = std::make_unique<TSDThreadTimer>(nullptr, true);
        reconnectTimer_->SetOnTimer([this](TSDThreadTimer& t) { ReconnectTimerTick(t); });
        reconnectTimer_->SetInterval(ms);
        reconnectTimer_->Resume();
    }
    if (old) RetireTimer(std::move(old));
}

void TSDDatabase::ReconnectTimerTick(TSDThreadTimer& timer) {
    if (!LockForTick(timer)) return;
    std::lock_guard lock(connectionLock_, std::adopt_lock);
    if (GetConnected()) return;
    TSDLostConnectAction action = lcIgnore;
    try {
        Open();
    } catch (const ESDEngineError& e) {
        DoReconnectError(e, action);
        if (action == lcTerminateApp) RequestSqlTerminate();
        return;
    }
    SetReconnectTimer(0);
    DoAfterReconnect();
}

void TSDDatabase::RetireTimer(std::unique_ptr<TSDThreadTimer> timer) {
    timer->Terminate();
    if (timer->OnTimerThread()) {
        // A timer cannot wait for its own thread; it is freed later from another thread.
        std::lock_guard lock(timerLock_);
        retiredTimers_.push_back(std::move(timer));
        return;
    }
    timer->WaitFor();
}

void TSDDatabase::FreeRetiredTimers() {
    std::vector<std::unique_ptr<TSDThreadTimer>> retired;
    {
        std::lock_guard lock(timerLock_);
        retired.swap(retiredTimers_);
    }
    retired.clear();  // each destructor joins its thread
}
