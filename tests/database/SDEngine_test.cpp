// Sessions, databases and the driver factory: the factory's answer for each server type,
// connect and disconnect through the fake driver, login and its cache, transactions,
// session names, database references and the lost-connection handling; and an end-to-end
// connect to a real SQLite database through a registered driver.
#include <gtest/gtest.h>

#include <thread>

#include "FakeSqlDriver.h"
#include "SqliteTestDriver.h"
#include "database/engine/SDEngine.h"
#include "support/TestSupport.h"

namespace {

using fake::CallLog;
using fake::FakeDatabase;
using fake::FakeFactories;

// A dataset as the database sees it, recording what the database asks of it.
class FakeClient : public TSDDatabaseClient {
public:
    FakeClient(TSDDatabase& db, CallLog& log, std::string name, bool active = true, bool handle = true)
        : db_(&db), log_(log), name_(std::move(name)), active_(active), handle_(handle) {
        db.RegisterClient(this);
    }
    ~FakeClient() override {
        if (db_) db_->UnRegisterClient(this);
    }
    rtl::Component* ClientOwner() const override { return nullptr; }
    bool IsActive() const override { return active_; }
    bool IsPreparedQuery() const override { return prepared; }
    bool HasCommandHandle() const override { return handle_; }
    void CloseQuietly() override {
        log_.Add(name_ + ".CloseQuietly");
        active_ = false;
        db_->UnRegisterClient(this);
        db_ = nullptr;
    }
    void FetchAll() override { log_.Add(name_ + ".FetchAll"); }
    void DetachForRollback() override { log_.Add(name_ + ".Detach"); }
    void SetConnectionLost() override { log_.Add(name_ + ".Lost"); }
    void DatabaseChanged() override { log_.Add(name_ + ".Changed"); }
    void ConnectChanged(bool connecting) override { log_.Add(name_ + (connecting ? ".Up" : ".Down")); }

    bool prepared = false;

private:
    TSDDatabase* db_;
    CallLog& log_;
    std::string name_;
    bool active_;
    bool handle_;
};

// A session of its own per test, so that login caches do not leak between tests.
class Engine : public ::testing::Test {
protected:
    FakeFactories drivers{{stSQLBase, stOracle, stSQLServer, stSybase, stDB2, stInformix, stODBC, stInterbase,
                           stFirebird, stMySQL, stPostgreSQL, stOLEDB}};
    TSDSession session;
    CallLog& log = drivers.log;

    void SetUp() override { session.SetSessionName("EngineTest"); }

    std::unique_ptr<TSDDatabase> NewDatabase(const std::string& name, TSDServerType type = stODBC) {
        auto db = std::make_unique<TSDDatabase>(&session);
        db->SetDatabaseName(name);
        db->SetRemoteDatabase("srv:" + name);
        db->SetServerType(type);
        db->SetLoginPrompt(false);
        db->Params().SetValue("USER NAME", "scott");
        db->Params().SetValue("PASSWORD", "tiger");
        return db;
    }
    FakeDatabase& Driver(TSDDatabase& db) { return static_cast<FakeDatabase&>(*db.SqlDatabase()); }
};

TEST_F(Engine, FactoryAnswerForEveryServerType) {
    for (int t = 0; t < kServerTypeCount; ++t) {
        auto db = NewDatabase("db" + std::to_string(t), TSDServerType(t));
        db->Open();
        ASSERT_TRUE(db->Connected()) << t;
        EXPECT_EQ(db->SqlDatabase()->GetServerType(), TSDServerType(t));
        EXPECT_EQ(Driver(*db).Owner, db.get());
        EXPECT_EQ(Driver(*db).Params.Values("USER NAME"), "scott");
    }
    // SQL Server goes to the OLE DB driver when the parameter says so.
    struct Case {
        const char* value;
        TSDServerType created;
    };
    for (const Case& c :
         {Case{" true ", stOLEDB}, Case{"TRUE", stOLEDB}, Case{"yes", stSQLServer}, Case{"", stSQLServer}}) {
        auto db = NewDatabase("mss", stSQLServer);
        db->Params().SetValue("USE OLEDB", c.value);
        db->Open();
        EXPECT_EQ(db->SqlDatabase()->GetServerType(), c.created) << c.value;
    }
}

TEST(EngineFactory, ServerTypeWithoutDriverIsNotSupported) {
    FakeFactories odbcOnly({stODBC});
    TSDSession session;
    session.SetSessionName("NoDrivers");
    for (int t = 0; t < kServerTypeCount; ++t) {
        TSDDatabase db(&session);
        db.SetDatabaseName("x");
        db.SetRemoteDatabase("srv:x");
        db.SetLoginPrompt(false);
        db.SetServerType(TSDServerType(t));
        if (t == stODBC) {
            db.Open();
            EXPECT_TRUE(db.Connected());
            continue;
        }
        try {
            db.Open();
            ADD_FAILURE() << t;
        } catch (const rtl::EDatabaseError& e) {
            EXPECT_EQ(e.Message(), "SQL-server not supported") << t;
        }
        EXPECT_FALSE(db.Connected());
        EXPECT_EQ(db.SqlDatabase(), nullptr);
    }
    // A factory that answers no driver is not supported either.
    RegisterSqlDatabaseFactory(stMySQL, [](TSDDatabase*, const rtl::StringList&) { return nullptr; });
    TSDDatabase db(&session);
    db.SetDatabaseName("y");
    db.SetRemoteDatabase("srv:y");
    db.SetLoginPrompt(false);
    db.SetServerType(stMySQL);
    EXPECT_THROW(db.Open(), rtl::EDatabaseError);
    RegisterSqlDatabaseFactory(stMySQL, nullptr);
    EXPECT_FALSE(GetSqlDatabaseFactory(stMySQL));
}

TEST_F(Engine, ConnectAndDisconnectOrder) {
    auto db = NewDatabase("orders");
    db->SetTransIsolation(tiRepeatableRead);
    db->BeforeConnect = [&](TSDDatabase&) { log.Add("BeforeConnect"); };
    db->AfterConnect = [&](TSDDatabase&) { log.Add("AfterConnect"); };
    db->BeforeDisconnect = [&](TSDDatabase&) { log.Add("BeforeDisconnect"); };
    db->AfterDisconnect = [&](TSDDatabase&) { log.Add("AfterDisconnect"); };
    FakeClient a(*db, log, "a");
    db->Open();
    EXPECT_EQ(log.Joined(), "BeforeConnect Create(ODBC) DoConnect(srv:orders,scott,tiger) a.Up AfterConnect");
    EXPECT_EQ(Driver(*db).TransIsolation, tiRepeatableRead);
    log.Clear();
    db->Open();  // already connected: nothing
    EXPECT_EQ(log.Joined(), "");
    db->Close();
    EXPECT_EQ(log.Joined(),
              "BeforeDisconnect a.Down a.CloseQuietly DoDisconnect(false) ~Database AfterDisconnect");
    EXPECT_EQ(db->SqlDatabase(), nullptr);
    EXPECT_EQ(db->DataSetCount(), 0);
}

TEST_F(Engine, ConnectErrors) {
    auto db = NewDatabase("");
    try {
        db->Open();
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Database name missing");
    }
    db->SetDatabaseName("e");
    db->SetRemoteDatabase("");
    try {
        db->Open();
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Connection string(RemoteDatabase) missing");
    }
    db->SetRemoteDatabase("srv:e");
    drivers.configure = [](FakeDatabase& d) { d.failIn = {"DoConnect"}; };
    log.Clear();
    EXPECT_THROW(db->Open(), ESDFakeError);  // the driver's error reaches the program
    EXPECT_EQ(log.Joined(), "Create(ODBC) DoConnect(srv:e,scott,tiger) DoDisconnect(true) ~Database");
    EXPECT_FALSE(db->Connected());
    EXPECT_EQ(db->SqlDatabase(), nullptr);
}

TEST_F(Engine, LoginThroughEventDialogAndCache) {
    auto db = NewDatabase("login");
    db->Params().Clear();
    db->SetLoginPrompt(true);
    db->OnLogin = [](TSDDatabase&, rtl::StringList& login) {
        EXPECT_EQ(login.Values("USER NAME"), "");
        login.SetValue("USER NAME", "ana");
        login.SetValue("PASSWORD", "s3cret");
    };
    db->Open();
    EXPECT_EQ(log.calls[1], "DoConnect(srv:login,ana,s3cret)");
    EXPECT_EQ(db->Params().Values("USER NAME"), "ana");
    EXPECT_EQ(db->Params().Values("PASSWORD"), "");  // the password is not kept in Params

    // A second database on the same remote database and server type, without prompt and
    // without parameters, connects with the cached credentials.
    auto second = NewDatabase("login2");
    second->SetRemoteDatabase("SRV:LOGIN");  // compared without regard to case
    second->Params().Clear();
    second->Open();
    EXPECT_EQ(log.calls.back(), "DoConnect(SRV:LOGIN,ana,s3cret)");
    // Another server type has its own cache entry.
    auto third = NewDatabase("login3", stOracle);
    third->SetRemoteDatabase("srv:login");
    third->Params().Clear();
    third->Open();
    EXPECT_EQ(log.calls.back(), "DoConnect(srv:login,,)");

    // Without an event the login dialog asks; a cancelled dialog leaves the database closed.
    auto prompted = NewDatabase("prompted");
    prompted->SetLoginPrompt(true);
    std::string proposed;
    SetSqlLoginDialog([&](const std::string& title, std::string& user, std::string&) {
        proposed = title + ":" + user;
        return false;
    });
    try {
        prompted->Open();
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Cannot connect to database 'prompted'");
    }
    EXPECT_EQ(proposed, "prompted:scott");
    EXPECT_FALSE(prompted->Connected());
    SetSqlLoginDialog([](const std::string&, std::string& user, std::string& password) {
        user = "joe";
        password = "pw";
        return true;
    });
    prompted->Open();
    EXPECT_EQ(log.calls.back(), "DoConnect(srv:prompted,joe,pw)");
    SetSqlLoginDialog(nullptr);
    auto noDialog = NewDatabase("nodialog");  // a prompt without any dialog counts as cancelled
    noDialog->SetLoginPrompt(true);
    EXPECT_THROW(noDialog->Open(), rtl::EDatabaseError);
}

TEST_F(Engine, Transactions) {
    auto db = NewDatabase("tx");
    try {
        db->StartTransaction();
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Cannot perform this operation on a closed database");
    }
    db->Open();
    try {
        db->Commit();
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Transaction is not active");
    }
    log.Clear();
    db->Rollback();  // outside a transaction it still goes to the driver
    EXPECT_EQ(log.Joined(), "DoRollback SetAutoCommitOption(true)");
    db->StartTransaction();
    EXPECT_TRUE(db->GetInTransaction());
    EXPECT_THROW(db->StartTransaction(), rtl::EDatabaseError);
    db->Commit();
    EXPECT_FALSE(db->GetInTransaction());

    // Drivers whose cursors do not survive make the datasets fetch or detach first.
    FakeClient open(*db, log, "open");
    FakeClient closed(*db, log, "closed", false);
    FakeClient prepared(*db, log, "prepared", false);
    prepared.prepared = true;
    Driver(*db).CursorPreservedOnStart = false;
    Driver(*db).CursorPreservedOnCommit = false;
    Driver(*db).CursorPreservedOnRollback = false;
    log.Clear();
    db->StartTransaction();
    db->Commit();
    db->StartTransaction();
    db->Rollback();
    EXPECT_EQ(
        log.Joined(),
        "open.FetchAll SetAutoCommitOption(false) DoStartTransaction open.FetchAll DoCommit "
        "SetAutoCommitOption(true) open.FetchAll SetAutoCommitOption(false) DoStartTransaction open.Detach "
        "prepared.Detach DoRollback SetAutoCommitOption(true)");
}

TEST_F(Engine, PropertiesOfAnOpenDatabase) {
    auto db = NewDatabase("props");
    FakeClient client(*db, log, "c", false);
    log.Clear();
    db->SetRemoteDatabase("srv:other");
    db->SetServerType(stOracle);
    db->SetServerType(stOracle);  // unchanged: nobody told
    EXPECT_EQ(log.Joined(), "c.Changed c.Changed");
    db->SetServerType(stODBC);
    db->Open();
    try {
        db->SetServerType(stOracle);
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Cannot perform this operation on an open database");
    }
    EXPECT_THROW(db->SetDatabaseName("renamed"), rtl::EDatabaseError);
    log.Clear();
    db->SetTransIsolation(tiDirtyRead);
    EXPECT_EQ(log.Joined(), "SetTransIsolation(0)");
    EXPECT_EQ(db->TransIsolation(), tiDirtyRead);
    // While designing, a change closes the database instead.
    db->SetDesigning(true);
    db->SetServerType(stOracle);
    EXPECT_FALSE(db->Connected());

    auto other = NewDatabase("other");
    try {
        other->SetDatabaseName("PROPS");
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Duplicate database name 'PROPS'");
    }
    EXPECT_EQ(other->DatabaseName(), "other");
}

TEST_F(Engine, DatabaseReferencesAndKeepConnection) {
    auto db = NewDatabase("refs");
    EXPECT_EQ(&session.OpenDatabase("REFS"), db.get());
    EXPECT_TRUE(db->Connected());
    EXPECT_TRUE(session.GetActive());
    session.OpenDatabase("refs");
    EXPECT_EQ(db->RefCount(), 2);
    session.ReleaseDatabaseReference(*db);
    session.ReleaseDatabaseReference(*db);
    EXPECT_TRUE(db->Connected());  // KeepConnection
    session.OpenDatabase("refs");
    db->SetKeepConnection(false);
    EXPECT_TRUE(db->Connected());  // still referenced
    session.ReleaseDatabaseReference(*db);
    EXPECT_FALSE(db->Connected());
    try {
        session.OpenDatabase("nowhere");
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Invalid database name nowhere");
    }
    // A database of another owner is not found for this one.
    rtl::Component form;
    EXPECT_EQ(session.FindDatabaseForOwner("refs", &form), nullptr);
    EXPECT_EQ(session.FindDatabaseForOwner("refs", &session), db.get());
    session.SetActive(false);
    EXPECT_FALSE(session.GetActive());
}

TEST(EngineSessions, NamesAndAutomaticNames) {
    EXPECT_EQ(Sessions().GetSession("").SessionName(), "Default");
    EXPECT_EQ(&Sessions().GetSession("default"), &Session());
    try {
        Sessions().GetSession("Missing");
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Invalid session name Missing");
    }
    TSDSession named;
    named.SetSessionName("Named");
    TSDSession other;
    try {
        other.SetSessionName("NAMED");
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Duplicate session name 'NAMED'");
    }
    EXPECT_EQ(other.SessionName(), "");
    try {
        other.SetActive(true);
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Session name missing");
    }

    // Two automatic sessions on two forms, both named Session1.
    rtl::Component form1, form2;
    auto s1 = std::make_unique<TSDSession>(&form1);
    auto s2 = std::make_unique<TSDSession>(&form2);
    s1->SetName("Session1");
    s2->SetName("Session1");
    TSDDatabase onForm1(&form1);  // a database already on the form follows its session's name
    s1->SetAutoSessionName(true);
    s2->SetAutoSessionName(true);
    EXPECT_EQ(s1->SessionName(), "Session1_1");
    EXPECT_EQ(s2->SessionName(), "Session1_2");
    EXPECT_EQ(onForm1.GetSessionName(), "Session1_1");
    EXPECT_EQ(onForm1.Session(), s1.get());
    EXPECT_THROW(s1->SetSessionName("x"), rtl::EDatabaseError);
    TSDDatabase later(&form2);  // a new database on the form joins the automatic session
    EXPECT_EQ(later.Session(), s2.get());
    EXPECT_EQ(later.GetSessionName(), "Session1_2");
    s1->SetName("Renamed");
    EXPECT_EQ(s1->SessionName(), "Renamed_1");
    EXPECT_EQ(onForm1.GetSessionName(), "Renamed_1");
    try {
        TSDSession third(&form1);
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(),
                  "Cannot add a session to the form or data-module while session 'Renamed' has "
                  "AutoSessionName enabled");
    }
    s1->SetAutoSessionName(false);
    rtl::Component form3;
    TSDSession s3(&form3);
    s3.SetName("Session1");
    s3.SetAutoSessionName(true);
    EXPECT_EQ(s3.SessionName(), "Session1_1");  // the freed number is taken again

    rtl::Component form4;
    TSDSession a(&form4), b(&form4);
    try {
        a.SetAutoSessionName(true);
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(
            e.Message(),
            "Cannot enable AutoSessionName property with more than one session on a form or data-module");
    }
}

TEST(EngineSessions, DestroyedSessionHandsItsDatabasesToTheDefault) {
    FakeFactories drivers;
    auto session = std::make_unique<TSDSession>();
    session->SetSessionName("Going");
    TSDDatabase db(session.get());
    db.SetDatabaseName("orphan");
    db.SetRemoteDatabase("srv:o");
    db.SetLoginPrompt(false);
    db.SetServerType(stODBC);
    db.Open();
    EXPECT_EQ(session->GetDatabaseCount(), 1);
    EXPECT_TRUE(session->GetActive());
    session.reset();
    EXPECT_FALSE(db.Connected());
    EXPECT_EQ(db.GetSessionName(), "");
    EXPECT_EQ(db.Session(), &Session());
    EXPECT_EQ(Session().FindDatabase("orphan"), &db);

    // Rebinding by name checks for a duplicate in the new session.
    TSDSession target;
    target.SetSessionName("Target");
    TSDDatabase there(&target);
    there.SetDatabaseName("ORPHAN");
    try {
        db.SetSessionName("Target");
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Duplicate database name 'orphan'");
    }
    EXPECT_EQ(db.DatabaseName(), "");
}

TEST(EngineSessions, ASessionGoesAwayEvenWhenItsDatabaseFailsToClose) {
    FakeFactories drivers;
    auto session = std::make_unique<TSDSession>();
    session->SetSessionName("Failing");
    TSDDatabase db(session.get());
    db.SetDatabaseName("stuck");
    db.SetRemoteDatabase("srv:s");
    db.SetLoginPrompt(false);
    db.SetServerType(stODBC);
    db.Open();
    auto& driver = static_cast<FakeDatabase&>(*db.SqlDatabase());
    driver.throwIn = {"DoDisconnect"};
    session.reset();  // the failing close is not raised out of the destructor
    EXPECT_EQ(db.Session(), &Session());
    EXPECT_TRUE(db.Connected());  // the failure left the connection as it was
    driver.throwIn.clear();
    db.Close();
    EXPECT_FALSE(db.Connected());
}

TEST(EngineSessions, FreeingEverySessionLeavesTheDefaultSessionsDatabasesUsable) {
    FakeFactories drivers;
    TSDDatabase db;  // in the default session
    EXPECT_EQ(db.Session(), &Session());
    db.SetDatabaseName("leftover");
    db.SetRemoteDatabase("srv:l");
    db.SetLoginPrompt(false);
    db.SetServerType(stODBC);
    db.Open();
    Sessions().FreeAllSessions();
    EXPECT_FALSE(db.Connected());
    EXPECT_EQ(db.Session(), nullptr);
    EXPECT_EQ(db.GetSessionName(), "");
    // The next use makes a new default session, which the database joins by name.
    EXPECT_EQ(Session().SessionName(), "Default");
    db.SetSessionName("");
    EXPECT_EQ(db.Session(), &Session());
    EXPECT_EQ(Session().FindDatabase("leftover"), &db);
    db.Open();
    EXPECT_TRUE(db.Connected());
}

TEST(EngineSessions, WaitCursorLevels) {
    std::vector<bool> shown;
    SetSqlWaitCursorProc([&](bool busy) { shown.push_back(busy); });
    BeginSqlWaitCursor();
    BeginSqlWaitCursor();
    EXPECT_EQ(SqlWaitCursorLevel(), 2);
    std::thread([] { BeginSqlWaitCursor(); }).join();  // only the main thread shows it
    EXPECT_EQ(SqlWaitCursorLevel(), 2);
    EndSqlWaitCursor();
    EndSqlWaitCursor();
    EndSqlWaitCursor();  // never below 0
    EXPECT_EQ(SqlWaitCursorLevel(), 0);
    Session().SetSQLHourGlass(false);
    BeginSqlWaitCursor();
    EXPECT_EQ(SqlWaitCursorLevel(), 0);
    Session().SetSQLHourGlass(true);
    SetSqlWaitCursorProc(nullptr);
    EXPECT_EQ(shown, (std::vector<bool>{true, false}));
}

class LostConnection : public Engine {
protected:
    std::unique_ptr<TSDDatabase> db = NewDatabase("lost");
    void SetUp() override {
        Engine::SetUp();
        db->Open();
        Driver(*db).lostConnection = true;
        log.Clear();
    }
};

TEST_F(LostConnection, WithoutTheFlagOrEventTheErrorPassesUnchanged) {
    int events = 0;
    db->OnLostConnectError = [&](TSDDatabase&, const ESDEngineError&, TSDLostConnectAction&) { ++events; };
    Driver(*db).lostConnection = false;
    EXPECT_THROW(Driver(*db).ServerError("exec"), ESDFakeError);
    EXPECT_EQ(events, 0);
    db->OnLostConnectError = nullptr;
    Driver(*db).lostConnection = true;
    EXPECT_THROW(Driver(*db).ServerError("exec"), ESDFakeError);
    EXPECT_TRUE(db->Connected());
    EXPECT_EQ(log.Joined(), "");
}

TEST_F(LostConnection, IgnoreClosesNothing) {
    db->OnLostConnectError = [&](TSDDatabase& d, const ESDEngineError& e, TSDLostConnectAction& action) {
        EXPECT_EQ(&d, db.get());
        EXPECT_TRUE(e.ConnectionLost);
        EXPECT_EQ(action, lcCloseConnect);
        action = lcIgnore;
    };
    EXPECT_THROW(Driver(*db).ServerError("exec"), ESDFakeError);
    EXPECT_TRUE(db->Connected());
    EXPECT_FALSE(db->ConnectionLost());
}

TEST_F(LostConnection, CloseConnectKeepsDetachedDatasetsAndTheDriver) {
    FakeClient first(*db, log, "first");
    FakeClient detached(*db, log, "detached", true, false);  // all rows cached, no statement
    FakeClient third(*db, log, "third");
    session.OpenDatabase("lost");
    db->OnLostConnectError = [](TSDDatabase&, const ESDEngineError&, TSDLostConnectAction&) {};
    db->AfterDisconnect = [&](TSDDatabase&) { log.Add("AfterDisconnect"); };
    TISqlDatabase* driver = db->SqlDatabase();
    try {
        Driver(*db).ServerError("fetch");
        FAIL();
    } catch (const ESDFakeError& e) {
        EXPECT_TRUE(e.ConnectionLost);
        EXPECT_EQ(e.NativeError, 0x12345678);
    }
    EXPECT_EQ(log.Joined(),
              "first.Lost detached.Lost third.Lost first.Down detached.Down third.Down third.CloseQuietly "
              "first.CloseQuietly DoDisconnect(true) AfterDisconnect");
    EXPECT_FALSE(db->Connected());
    EXPECT_TRUE(db->ConnectionLost());
    EXPECT_EQ(db->RefCount(), 1);
    EXPECT_EQ(db->DataSetCount(), 1);
    EXPECT_EQ(db->SqlDatabase(), driver);  // kept for the reconnect

    // The next connect reuses the driver object and clears the flag.
    Driver(*db).lostConnection = false;
    log.Clear();
    db->Open();
    EXPECT_EQ(log.Joined(), "DoConnect(srv:lost,scott,tiger) detached.Up");
    EXPECT_EQ(db->SqlDatabase(), driver);
    EXPECT_FALSE(db->ConnectionLost());
}

// A dataset that, like the engine's, gives its database reference back when it closes.
class ReleasingClient : public FakeClient {
public:
    ReleasingClient(TSDSession& session, TSDDatabase& db, CallLog& log, std::string name)
        : FakeClient(db, log, std::move(name)), session_(session), database_(db) {
        session.OpenDatabase(db.DatabaseName());
    }
    void CloseQuietly() override {
        FakeClient::CloseQuietly();
        session_.ReleaseDatabaseReference(database_);
    }

private:
    TSDSession& session_;
    TSDDatabase& database_;
};

TEST_F(LostConnection, DatasetsGivingBackTheDatabaseDoNotCloseItASecondTime) {
    // Without KeepConnection the last reference given back closes the database: inside the
    // lost-connection handling that would close the detached dataset too and disconnect the
    // broken connection without force.
    FakeClient detached(*db, log, "detached", true, false);
    ReleasingClient first(session, *db, log, "first");
    db->SetKeepConnection(false);  // still referenced: stays open
    ASSERT_TRUE(db->Connected());
    db->OnLostConnectError = [](TSDDatabase&, const ESDEngineError&, TSDLostConnectAction&) {};
    log.Clear();
    EXPECT_THROW(Driver(*db).ServerError("fetch"), ESDFakeError);
    EXPECT_EQ(log.Joined(),
              "detached.Lost first.Lost detached.Down first.Down first.CloseQuietly DoDisconnect(true)");
    EXPECT_FALSE(db->Connected());
    EXPECT_EQ(db->DataSetCount(), 1);  // the detached dataset stays browsable
    EXPECT_EQ(db->RefCount(), 1);
    EXPECT_NE(db->SqlDatabase(), nullptr);  // kept for the reconnect
}

TEST_F(LostConnection, WaitReconnectWithoutTimeoutOnlyCloses) {
    db->OnLostConnectError = [](TSDDatabase&, const ESDEngineError&, TSDLostConnectAction& a) {
        a = lcWaitReconnect;
    };
    EXPECT_THROW(Driver(*db).ServerError("exec"), ESDFakeError);
    EXPECT_FALSE(db->Connected());
    EXPECT_EQ(db->ReconnectTimer(), nullptr);
}

TEST_F(LostConnection, TerminateAppTellsTheApplication) {
    int told = 0;
    SetSqlTerminateAppProc([&] { ++told; });
    ResetSqlTerminateRequest();
    db->OnLostConnectError = [](TSDDatabase&, const ESDEngineError&, TSDLostConnectAction& a) {
        a = lcTerminateApp;
    };
    EXPECT_THROW(Driver(*db).ServerError("exec"), ESDFakeError);
    EXPECT_EQ(told, 1);
    EXPECT_TRUE(SqlTerminateRequested());
    EXPECT_FALSE(db->Connected());
    SetSqlTerminateAppProc(nullptr);
    ResetSqlTerminateRequest();
}

TEST_F(LostConnection, AFailingCloseDoesNotHideTheServerError) {
    db->OnLostConnectError = [](TSDDatabase&, const ESDEngineError&, TSDLostConnectAction&) {};
    Driver(*db).throwIn = {"DoDisconnect"};
    try {
        Driver(*db).ServerError("exec");
        FAIL();
    } catch (const ESDFakeError& e) {
        EXPECT_EQ(e.Message(), "server failed in exec");
    }
}

TEST(EngineSqlite, ConnectsThroughTheFactoryToARealDatabase) {
    kwtest::TempDir dir;
    RegisterSqlDatabaseFactory(stODBC, [](TSDDatabase* owner, const rtl::StringList& params) {
        return std::make_unique<sqlitetest::SqliteDatabase>(owner, params);
    });
    {
        TSDSession session;
        session.SetSessionName("Sqlite");
        TSDDatabase db(&session);
        db.SetDatabaseName("lite");
        db.SetServerType(stODBC);
        db.SetRemoteDatabase((dir / "engine.db").string());
        db.SetLoginPrompt(false);
        TSDDatabase& opened = session.OpenDatabase("lite");
        ASSERT_EQ(&opened, &db);
        auto& lite = static_cast<sqlitetest::SqliteDatabase&>(*db.SqlDatabase());
        lite.Exec("create table t (id integer primary key, v text)");
        db.StartTransaction();
        lite.Exec("insert into t values (1, 'kept')");
        db.Commit();
        db.StartTransaction();
        lite.Exec("insert into t values (2, 'undone')");
        db.Rollback();
        EXPECT_FALSE(db.GetInTransaction());
        auto cmd = lite.CreateSqlCommand(nullptr);
        cmd->Prepare("select id, v from t order by id");
        cmd->Execute();
        std::vector<std::string> rows;
        std::string v;
        while (cmd->FetchNextRow()) {
            cmd->GetFieldAsString(2, v);
            rows.push_back(v);
        }
        EXPECT_EQ(rows, std::vector<std::string>{"kept"});
        cmd.reset();
        // A server error reaches the program as the driver's class through the engine.
        try {
            lite.Exec("select * from missing");
            FAIL();
        } catch (const ESDSqliteError& e) {
            EXPECT_NE(e.Message().find("no such table"), std::string::npos);
        }
        session.ReleaseDatabaseReference(db);
        EXPECT_TRUE(db.Connected());
    }
    RegisterSqlDatabaseFactory(stODBC, nullptr);
}

}  // namespace
