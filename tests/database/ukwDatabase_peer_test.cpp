// The launcher's database facades on real servers through the ODBC driver: a SQLite file (the
// SQLite ODBC driver, isql as the independent reader) and a private PostgreSQL server
// (psqlODBC, psql as the reader). Both paths: an alias is the ODBC data source of that name;
// the library's path takes a data source name or a connection string. Rows read through the
// facade are compared with what the reader sees; settings changed on a connected facade
// reconnect it; the SQL Server form of the connection text logs in and cannot be given extra
// attributes through the user name.
#include <gtest/gtest.h>

#include <memory>

#include "database/OdbcTestSupport.h"
#include "database/engine/SDEngineQuery.h"
#include "database/facade/ukwBDEDatabase.h"
#include "database/facade/ukwBDEQuery.h"
#include "database/facade/ukwDatabase.h"
#include "database/facade/ukwQuery.h"
#include "database/facade/ukwSDDatabase.h"
#include "database/facade/ukwSDQuery.h"
#include "support/PostgresServer.h"

using namespace odbctest;

namespace {

class Backend {
public:
    virtual ~Backend() = default;
    virtual bool Available(std::string& reason) = 0;
    // An ODBC data source name (in the test's odbc.ini) for the database, and a connection
    // string for it.
    virtual std::string Alias() = 0;
    virtual std::string ConnectString() = 0;
    virtual Rows Outside(const std::string& sql) = 0;
    // Whether the server checks log-ins (SQLite ignores user and password).
    virtual bool ChecksLogin() = 0;
};

class SqliteBackend : public Backend {
public:
    bool Available(std::string& reason) override {
        reason = "unixODBC with the SQLite ODBC driver and isql";
        if (!SqliteOdbcAvailable()) return false;
        DataSources::Get().AddSqlite(alias_, file_);
        return true;
    }
    std::string Alias() override { return alias_; }
    std::string ConnectString() override { return "DRIVER=" + kSqliteDriver + ";Database=" + file_.string(); }
    Rows Outside(const std::string& sql) override { return Isql(alias_, sql); }
    bool ChecksLogin() override { return false; }

private:
    kwtest::TempDir dir_;
    std::filesystem::path file_ = dir_ / "facade.db";
    // A name of its own per backend: a later backend may live at the same address, and the
    // data-source file keeps every earlier section (the first of a name wins).
    static inline int next_ = 0;
    std::string alias_ = "KWFACADE_" + std::to_string(++next_);
};

class PostgresBackend : public Backend {
public:
    bool Available(std::string& reason) override {
        reason = "psqlODBC and a PostgreSQL 15 server";
        if (!std::filesystem::exists(kwtest::PostgresServer::kOdbcDriver)) return false;
        if (!Server().Available()) {
            reason = Server().Reason();
            return false;
        }
        Server().Psql(
            "drop schema public cascade; create schema public; grant usage on schema public to public");
        DataSources::Get().AddEntry(Alias(), {"Driver=" + std::string(kwtest::PostgresServer::kOdbcDriver),
                                              "Servername=" + Server().Host(),
                                              "Port=" + std::to_string(Server().Port()), "Database=kwtest"});
        return true;
    }
    std::string Alias() override { return "KWFACADEPG_" + std::to_string(Server().Port()); }
    std::string ConnectString() override { return Server().OdbcConnectString(); }
    Rows Outside(const std::string& sql) override { return PsqlRows(Server().Psql(sql)); }
    bool ChecksLogin() override { return true; }

    static kwtest::PostgresServer& Server() {
        if (!server_) {
            kwtest::PostgresServer::Options o;
            // One role must give its password; every other is trusted.
            o.hbaLines = {"host all kwsenha 127.0.0.1/32 scram-sha-256"};
            server_ = std::make_unique<kwtest::PostgresServer>(o);
            // The launcher's first user, and a user whose password has a ";".
            if (server_->Available())
                server_->Psql("create role qorbanco login; create role kwsenha login password 'segredo;x'");
        }
        return *server_;
    }
    static void StopServer() { server_.reset(); }

private:
    static std::unique_ptr<kwtest::PostgresServer> server_;
};

std::unique_ptr<kwtest::PostgresServer> PostgresBackend::server_;

class Facades : public ::testing::TestWithParam<const char*> {
protected:
    static void SetUpTestSuite() { KeepSystemOdbcSettingsOut(); }
    static void TearDownTestSuite() { PostgresBackend::StopServer(); }

    void SetUp() override {
        if (std::string(GetParam()) == "sqlite")
            backend_ = std::make_unique<SqliteBackend>();
        else
            backend_ = std::make_unique<PostgresBackend>();
        std::string reason;
        const bool available = backend_->Available(reason);
        KW_REQUIRE_PEER(available, reason);
        RegisterOdbcDriver();
        Outside("create table pessoa (id integer primary key, nome varchar(40), cidade varchar(40))");
        Outside(
            "insert into pessoa values (1, 'Ana', 'Rio'), (2, 'Bruno', 'Recife'), (3, 'Carla', 'Rio'), "
            "(4, 'Davi', 'Natal')");
        if (backend_->ChecksLogin()) Outside("grant select on pessoa to qorbanco, kwsenha");
    }
    void TearDown() override {
        RegisterSqlDatabaseFactory(stODBC, nullptr);
        ReloadDriverManagerName();
    }

    Rows Outside(const std::string& sql) { return backend_->Outside(sql); }

    // A facade set as the launcher sets it, not yet connected.
    std::unique_ptr<TkwDatabase> Facade(TAccessTypeDB acesso, const std::string& alias) {
        auto db = std::make_unique<TkwDatabase>();
        db->SetLoginPrompt(false);
        db->SetDatabaseName("APP");
        db->SetAccessTypeDB(acesso);
        db->SetAliasName(alias);
        db->SetConnected(false);
        db->Params().Clear();
        db->SetConnectionUser("qorbanco");
        db->SetConnectionPassword("trelvoma");
        return db;
    }

    // Every row of a facade query, as texts.
    static Rows Read(TkwQuery& q) {
        Rows rows;
        for (q.First(); !q.Eof(); q.Next())
            rows.push_back({q.FieldByName("id")->AsString(), q.FieldByName("nome")->AsString(),
                            q.FieldByName("cidade")->AsString()});
        return rows;
    }

    std::unique_ptr<Backend> backend_;
};

rtl::StringList Linhas(std::initializer_list<std::string> l) {
    rtl::StringList s;
    for (const auto& x : l)
        s.Add(x);
    return s;
}

TEST_P(Facades, BothPathsReadWhatTheServerHolds) {
    struct Case {
        TAccessTypeDB acesso;
        std::string alias;
    };
    const Case cases[] = {
        {atBDE, backend_->Alias()},           // the data source of the alias's name
        {atSQLD, backend_->Alias()},          // a data source name through the library
        {atSQLD, backend_->ConnectString()},  // a connection string through the library
    };
    const Rows esperado = Outside("select id, nome, cidade from pessoa where cidade = 'Rio' order by id");
    ASSERT_EQ(esperado.size(), 2u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.alias);
        auto db = Facade(c.acesso, c.alias);
        db->SetConnected(true);
        TSDDatabase* inner = c.acesso == atBDE ? static_cast<TSDDatabase*>(db->GetBDEDatabase())
                                               : static_cast<TSDDatabase*>(db->GetSDDatabase());
        ASSERT_TRUE(inner->Connected());
        EXPECT_EQ(inner->Params().Values("USER NAME"), "qorbanco");

        TkwQuery q;
        q.SetDatabase(db.get());
        q.SQL()->Add("select id, nome, cidade from pessoa");
        q.SQL()->Add("where cidade = :cidade order by id");
        q.ParamByName("cidade")->SetDataType(rtl::ftString);
        q.ParamByName("cidade")->SetValue(rtl::Variant("Rio"));
        q.Open();
        EXPECT_TRUE(q.Active());
        EXPECT_FALSE(q.IsEmpty());
        EXPECT_EQ(Read(q), esperado);
        EXPECT_EQ(q.RecordCount(), 2);
        try {
            q.FieldByName("inexistente");
            ADD_FAILURE() << "a missing field was found";
        } catch (const rtl::EDatabaseError& e) {
            EXPECT_NE(e.Message().find("Campo 'inexistente' não encontrado"), std::string::npos)
                << e.Message();
        }
        q.Close();
        EXPECT_FALSE(q.Active());

        // A result without rows.
        q.ParamByName("cidade")->SetValue(rtl::Variant("Belém"));
        q.Open();
        EXPECT_TRUE(q.IsEmpty());
        EXPECT_TRUE(q.Eof());
        q.Close();
    }
}

TEST_P(Facades, TheAliasQueryHasEveryRowWhenOpenReturns) {
    for (TAccessTypeDB acesso : {atBDE, atSQLD}) {
        SCOPED_TRACE(acesso);
        auto db = Facade(acesso, backend_->Alias());
        db->SetConnected(true);
        TkwQuery q;
        q.SetDatabase(db.get());
        bool todasNoAfterOpen = true;
        q.AfterOpen = [&](rtl::TDataSet& ds) {
            todasNoAfterOpen = static_cast<TSDDataSet&>(ds).ResultSet()->AllFetched();
        };
        q.ApplySettings();  // the event reaches the inner query
        q.SQL()->Add("select id, nome, cidade from pessoa order by id");
        q.Open();
        TSDQuery* inner = q.InnerQuery();
        // The alias engine's query fetched the rest after its AfterOpen event; the library's
        // fetches as the cursor moves.
        EXPECT_FALSE(todasNoAfterOpen);
        EXPECT_EQ(inner->ResultSet()->AllFetched(), acesso == atBDE);
        EXPECT_EQ(q.FieldByName("nome")->AsString(), "Ana");  // still on the first row
        q.FetchAll();
        EXPECT_TRUE(inner->ResultSet()->AllFetched());
        EXPECT_EQ(Read(q).size(), 4u);
        q.Close();
    }
}

TEST_P(Facades, ASettingChangedOnAConnectedFacadeReconnectsIt) {
    for (TAccessTypeDB acesso : {atBDE, atSQLD}) {
        SCOPED_TRACE(acesso);
        auto db = Facade(acesso, backend_->Alias());
        db->SetConnected(true);
        TkwQuery q;
        q.SetDatabase(db.get());
        q.SQL()->Add("select id, nome, cidade from pessoa order by id");
        q.Open();
        TSDQuery* inner = q.InnerQuery();
        ASSERT_TRUE(inner->Active());
        // Attaching the same database again leaves the query open.
        q.SetDatabase(db.get());
        EXPECT_TRUE(inner->Active());

        // The launcher's credential swap: close, new credentials, open.
        db->SetConnected(false);
        EXPECT_FALSE(inner->Active());
        db->SetConnectionUser("kwsenha");
        db->SetConnectionPassword("segredo;x");
        db->SetConnected(true);
        q.Open();
        EXPECT_EQ(Read(q).size(), 4u);
        if (backend_->ChecksLogin()) {
            TkwQuery quem;
            quem.SetDatabase(db.get());
            quem.SQL()->Add("select current_user as usuario");
            quem.Open();
            EXPECT_EQ(quem.FieldByName("usuario")->AsString(), "kwsenha");
        }

        // Any other setting changed while connected closes the query and reconnects.
        db->SetTransactionType(ttRepeatableRead);
        EXPECT_FALSE(inner->Active());
        EXPECT_TRUE(db->Connected());
        q.Open();
        EXPECT_EQ(Read(q).size(), 4u);

        if (backend_->ChecksLogin()) {
            // A wrong password fails; the facade still wants the connection until told not to.
            db->SetConnected(false);
            db->SetConnectionPassword("errada");
            EXPECT_THROW(db->SetConnected(true), ESDEngineError);
            EXPECT_TRUE(db->Connected());
            db->SetConnected(false);
        }
    }
}

TEST_P(Facades, TheSqlServerFormOfTheConnectionText) {
    auto db = Facade(atSQLD, backend_->Alias());
    db->SetTipoBanco(tbSqlServer);
    db->SetkwServer("servidor");
    db->SetConnectionUser("kwsenha");
    db->SetConnectionPassword("segredo;x");
    EXPECT_EQ(db->GetSDDatabase()->RemoteDatabase().rfind(
                  "DSN=" + backend_->Alias() + ";UID=kwsenha;PWD={segredo;x};APP=", 0),
              0u);
    db->SetConnected(true);
    TkwQuery q;
    q.SetDatabase(db.get());
    q.SetSQL(Linhas({"select count(*) as n from pessoa"}));
    q.Open();
    EXPECT_EQ(q.FieldByName("n")->AsInteger(), 4);
    q.Close();
    if (!backend_->ChecksLogin()) return;

    // A user name that tries to name another database logs in as nobody instead.
    db->SetConnected(false);
    db->SetConnectionUser("postgres;DATABASE=postgres");
    EXPECT_THROW(db->SetConnected(true), ESDEngineError);
    db->SetConnected(false);
}

INSTANTIATE_TEST_SUITE_P(Servers, Facades, ::testing::Values("sqlite", "postgres"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

}  // namespace
