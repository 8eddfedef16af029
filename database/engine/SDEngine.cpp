// database/engine/SDEngine.cpp: sessions, the session list, the driver factory table, the wait
// cursor and the program's hooks (login dialog, terminate).
#include "database/engine/SDEngine.h"

#include <algorithm>
#include <array>
#include <thread>

#include "rtl/DatabaseError.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

std::mutex gFactoryMutex;
std::array<TSqlDatabaseFactory, kServerTypeCount> gFactories;

// Set while the session list exists, so that a session destroyed after it (a static object
// of the program) does not reach into it.
std::atomic<bool> gSessionListAlive{false};

const std::thread::id gMainThread = std::this_thread::get_id();
std::mutex gHookMutex;
std::function<void(bool)> gWaitCursorProc;
TSDLoginDialogProc gLoginDialog;
std::function<void()> gTerminateProc;
std::atomic<bool> gTerminateRequested{false};
std::atomic<int> gWaitCursorLevel{0};

// Sessions and databases sharing one owner.
template <typename T>
std::vector<T*> SiblingsOf(const rtl::Component* owner) {
    std::vector<T*> out;
    if (owner == nullptr) return out;
    for (rtl::Component* c : owner->Components())
        if (auto* t = dynamic_cast<T*>(c)) out.push_back(t);
    return out;
}

}  // namespace

void RegisterSqlDatabaseFactory(TSDServerType serverType, TSqlDatabaseFactory factory) {
    if (serverType < 0 || serverType >= kServerTypeCount) return;
    std::lock_guard lock(gFactoryMutex);
    gFactories[size_t(serverType)] = std::move(factory);
}

TSqlDatabaseFactory GetSqlDatabaseFactory(TSDServerType serverType) {
    if (serverType < 0 || serverType >= kServerTypeCount) return {};
    std::lock_guard lock(gFactoryMutex);
    return gFactories[size_t(serverType)];
}

std::recursive_mutex& SDEngineLock() {
    static std::recursive_mutex lock;
    return lock;
}

TSDSessionList& Sessions() {
    static TSDSessionList list;
    return list;
}

TSDSession& Session() {
    return *Sessions().DefaultSession();
}

// ---------------------------------------------------------------------------------------------
// Wait cursor and hooks

void SetSqlWaitCursorProc(std::function<void(bool)> proc) {
    std::lock_guard lock(gHookMutex);
    gWaitCursorProc = std::move(proc);
}

int SqlWaitCursorLevel() {
    return gWaitCursorLevel;
}

void BeginSqlWaitCursor() {
    if (std::this_thread::get_id() != gMainThread || !Session().SQLHourGlass()) return;
    if (gWaitCursorLevel++ == 0) {
        std::function<void(bool)> proc;
        {
            std::lock_guard lock(gHookMutex);
            proc = gWaitCursorProc;
        }
        if (proc) proc(true);
    }
}

void EndSqlWaitCursor() {
    if (!Session().SQLHourGlass() || gWaitCursorLevel <= 0) return;
    if (--gWaitCursorLevel == 0) {
        std::function<void(bool)> proc;
        {
            std::lock_guard lock(gHookMutex);
            proc = gWaitCursorProc;
        }
        if (proc) proc(false);
    }
}

void SetSqlLoginDialog(TSDLoginDialogProc proc) {
    std::lock_guard lock(gHookMutex);
    gLoginDialog = std::move(proc);
}

TSDLoginDialogProc GetSqlLoginDialog() {
    std::lock_guard lock(gHookMutex);
    return gLoginDialog;
}

void SetSqlTerminateAppProc(std::function<void()> proc) {
    std::lock_guard lock(gHookMutex);
    gTerminateProc = std::move(proc);
}

void RequestSqlTerminate() {
    std::function<void()> proc;
    {
        std::lock_guard lock(gHookMutex);
        proc = gTerminateProc;
    }
    gTerminateRequested = true;
    if (proc) proc();
}

bool SqlTerminateRequested() {
    return gTerminateRequested;
}
void ResetSqlTerminateRequest() {
    gTerminateRequested = false;
}

// ---------------------------------------------------------------------------------------------
// Session list

TSDSessionList::TSDSessionList() {
    gSessionListAlive = true;
}

TSDSessionList::~TSDSessionList() {
    defaultSession_.reset();
    gSessionListAlive = false;
}

void TSDSessionList::AddSession(TSDSession* session) {
    std::lock_guard lock(mutex_);
    sessions_.push_back(session);
}

void TSDSessionList::RemoveSession(TSDSession* session) {
    std::lock_guard lock(mutex_);
    sessions_.erase(std::remove(sessions_.begin(), sessions_.end(), session), sessions_.end());
}

TSDSession* TSDSessionList::FindSession(const std::string& name) {
    if (name.empty()) return DefaultSession();
    std::lock_guard lock(mutex_);
    for (TSDSession* s : sessions_)
        if (rtl::SameText(s->SessionName(), name)) return s;
    return nullptr;
}

TSDSession& TSDSessionList::GetSession(const std::string& name) {
    TSDSession* s = FindSession(name);
    if (s == nullptr) rtl::DatabaseErrorFmt("Invalid session name %s", name);
    return *s;
}

void TSDSessionList::FreeAllSessions() {
    std::vector<TSDSession*> copy;
    {
        std::lock_guard lock(mutex_);
        copy = sessions_;
    }
    for (auto it = copy.rbegin(); it != copy.rend(); ++it)
        (*it)->SetActive(false);
    std::lock_guard lock(mutex_);
    defaultSession_.reset();
}

int TSDSessionList::Count() const {
    std::lock_guard lock(mutex_);
    return int(sessions_.size());
}

TSDSession* TSDSessionList::DefaultSession() {
    std::lock_guard lock(mutex_);
    if (!defaultSession_) {
        defaultSession_ = std::make_unique<TSDSession>(nullptr);
        defaultSession_->isDefault_ = true;
        defaultSession_->SetSessionName("Default");
    }
    return defaultSession_.get();
}

int TSDSessionList::TakeAutoNumber() {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < autoNumbers_.size(); ++i) {
        if (!autoNumbers_[i]) {
            autoNumbers_[i] = true;
            return int(i);
        }
    }
    autoNumbers_.push_back(true);
    return int(autoNumbers_.size()) - 1;
}

void TSDSessionList::ReleaseAutoNumber(int number) {
    std::lock_guard lock(mutex_);
    if (number >= 0 && size_t(number) < autoNumbers_.size()) autoNumbers_[size_t(number)] = false;
}

// ---------------------------------------------------------------------------------------------
// Session

TSDSession::TSDSession(rtl::Component* owner) : rtl::Component(owner) {
    for (TSDSession* other : SiblingsOf<TSDSession>(owner)) {
        if (other != this && other->autoSessionName_)
            rtl::DatabaseErrorFmt(
                "Cannot add a session to the form or data-module while session '%s' has AutoSessionName "
                "enabled",
                other->Name());
    }
    Sessions().AddSession(this);
}

TSDSession::~TSDSession() {
    MarkDestroying();
    try {
        SetActive(false);
    } catch (const std::exception&) {
        // A database that fails to close must not end the program from a destructor; each
        // database is closed once more (quietly) as it leaves the session below.
    }
    const std::vector<TSDDatabase*> databases = databases_;
    for (TSDDatabase* db : databases)
        db->SessionDestroyed(this);
    if (autoNumber_ >= 0 && gSessionListAlive) Sessions().ReleaseAutoNumber(autoNumber_);
    if (gSessionListAlive) Sessions().RemoveSession(this);
}

bool TSDSession::GetActive() const {
    for (TSDDatabase* db : databases_)
        if (db->Connected()) return true;
    return active_;
}

void TSDSession::SetActive(bool value) {
    if (IsLoading()) {
        streamedActive_ = value;
        return;
    }
    if (value == GetActive()) return;
    std::lock_guard lock(SDEngineLock());
    if (value) {
        if (sessionName_.empty()) rtl::DatabaseError("Session name missing");
        TSDSession& def = ::Session();
        if (&def != this) def.SetActive(true);
    } else {
        const std::vector<TSDDatabase*> databases = databases_;
        for (auto it = databases.rbegin(); it != databases.rend(); ++it)
            (*it)->Close();
    }
    active_ = value;
}

void TSDSession::SetSessionName(const std::string& name) {
    if (autoSessionName_ && !settingAutoName_)
        rtl::DatabaseError("Cannot modify SessionName while AutoSessionName is enabled");
    if (GetActive()) rtl::DatabaseError("Cannot perform this operation on an active session");
    if (!name.empty()) {
        TSDSession* other = Sessions().FindSession(name);
        if (other != nullptr && other != this) rtl::DatabaseErrorFmt("Duplicate session name '%s'", name);
    }
    sessionName_ = name;
}

void TSDSession::MakeAutoSessionName() {
    const std::string name = rtl::Format("%s_%d", Name(), autoNumber_ + 1);
    settingAutoName_ = true;
    try {
        SetSessionName(name);
    } catch (...) {
        settingAutoName_ = false;
        throw;
    }
    settingAutoName_ = false;
    for (TSDSessionNamed* member : SiblingsOf<TSDSessionNamed>(Owner())) {
        if (!rtl::SameText(member->GetSessionName(), sessionName_)) member->SetSessionName(sessionName_);
    }
}

void TSDSession::SetAutoSessionName(bool value) {
    if (value == autoSessionName_) return;
    if (value) {
        if (GetActive()) rtl::DatabaseError("Cannot perform this operation on an active session");
        for (TSDSession* other : SiblingsOf<TSDSession>(Owner()))
            if (other != this)
                rtl::DatabaseError(
                    "Cannot enable AutoSessionName property with more than one session on a form or "
                    "data-module");
        std::lock_guard lock(SDEngineLock());
        autoNumber_ = Sessions().TakeAutoNumber();
        autoSessionName_ = true;
        try {
            MakeAutoSessionName();
        } catch (...) {
            Sessions().ReleaseAutoNumber(autoNumber_);
            autoNumber_ = -1;
            autoSessionName_ = false;
            throw;
        }
    } else {
        std::lock_guard lock(SDEngineLock());
        Sessions().ReleaseAutoNumber(autoNumber_);
        autoNumber_ = -1;
        autoSessionName_ = false;
    }
}

void TSDSession::SetName(const std::string& name) {
    rtl::Component::SetName(name);
    if (autoSessionName_) MakeAutoSessionName();
}

void TSDSession::Loaded() {
    rtl::Component::Loaded();
    if (autoSessionName_) {
        for (TSDSessionNamed* member : SiblingsOf<TSDSessionNamed>(Owner()))
            if (!rtl::SameText(member->GetSessionName(), sessionName_)) member->SetSessionName(sessionName_);
    }
    if (streamedActive_) SetActive(true);
}

TSDDatabase* TSDSession::FindDatabase(const std::string& name) const {
    for (TSDDatabase* db : databases_)
        if (!db->DatabaseName().empty() && rtl::SameText(db->DatabaseName(), name)) return db;
    return nullptr;
}

TSDDatabase* TSDSession::FindDatabaseForOwner(const std::string& name, const rtl::Component* owner) const {
    if (owner == nullptr) return FindDatabase(name);
    for (TSDDatabase* db : databases_)
        if (db->Owner() == owner && !db->DatabaseName().empty() && rtl::SameText(db->DatabaseName(), name))
            return db;
    return nullptr;
}

TSDDatabase& TSDSession::OpenDatabaseForOwner(const std::string& name, const rtl::Component* owner) {
    std::lock_guard lock(SDEngineLock());
    SetActive(true);
    TSDDatabase* db = FindDatabaseForOwner(name, owner);
    if (db == nullptr) rtl::DatabaseErrorFmt("Invalid database name %s", name);
    db->Open();
    ++db->refCount_;
    return *db;
}

void TSDSession::ReleaseDatabaseReference(TSDDatabase& database) {
    if (database.refCount_ > 0) --database.refCount_;
    if (database.refCount_ == 0 && !database.KeepConnection()) database.Close();
}

TSDDatabase* TSDSession::GetDatabase(int index) const {
    if (index < 0 || index >= GetDatabaseCount())
        throw rtl::EListError(rtl::Format("List index out of bounds (%d)", index));
    return databases_[size_t(index)];
}

const TSDDatabaseParams* TSDSession::FindCachedParams(const std::string& remoteDatabase,
                                                      TSDServerType type) const {
    for (const auto& p : loginCache_)
        if (p->ServerType == type && rtl::SameText(p->RemoteDatabase, remoteDatabase)) return p.get();
    return nullptr;
}

void TSDSession::CacheParams(const std::string& remoteDatabase, TSDServerType type,
                             const rtl::StringList& params) {
    for (auto& p : loginCache_) {
        if (p->ServerType == type && rtl::SameText(p->RemoteDatabase, remoteDatabase)) {
            p->Params = params;
            return;
        }
    }
    auto entry = std::make_unique<TSDDatabaseParams>();
    entry->RemoteDatabase = remoteDatabase;
    entry->ServerType = type;
    entry->Params = params;
    loginCache_.push_back(std::move(entry));
}

void TSDSession::AddDatabase(TSDDatabase* db) {
    databases_.push_back(db);
}

void TSDSession::RemoveDatabase(TSDDatabase* db) {
    databases_.erase(std::remove(databases_.begin(), databases_.end(), db), databases_.end());
}
