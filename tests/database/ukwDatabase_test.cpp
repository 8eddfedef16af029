// The launcher's database facades without a server: how the settings reach the inner objects
// of each path (server types, isolation, log-in parameters, the SQL Server connection text),
// when they are applied again, how registered queries follow a change of path or the facade's
// end, what a query without an inner query answers, a server type whose driver is not
// registered, the type names and the connection password's descrambling.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "database/engine/SDEngine.h"
#include "database/facade/ukwBDEDatabase.h"
#include "database/facade/ukwBDEQuery.h"
#include "database/facade/ukwCriptografia.h"
#include "database/facade/ukwDatabase.h"
#include "database/facade/ukwFuncoesBanco.h"
#include "database/facade/ukwQuery.h"
#include "database/facade/ukwSDDatabase.h"
#include "database/facade/ukwSDQuery.h"
#include "platform/Process.h"
#include "rtl/PasswordScramble.h"
#include "support/TestSupport.h"

namespace {

std::string NomeDoPrograma() {
    return std::filesystem::path(plat::CurrentExecutablePath()).filename().string();
}

rtl::StringList Linhas(std::initializer_list<std::string> l) {
    rtl::StringList s;
    for (const auto& x : l)
        s.Add(x);
    return s;
}

TEST(TkwDatabase, StartsOnTheAliasPathWithItsOwnSession) {
    TkwDatabase db;
    EXPECT_EQ(db.AccessTypeDB(), atBDE);
    ASSERT_NE(db.GetBDEDatabase(), nullptr);
    EXPECT_EQ(db.GetSDDatabase(), nullptr);
    EXPECT_EQ(db.GetBDEDatabase()->ServerType(), stODBC);
    EXPECT_TRUE(db.GetBDEDatabase()->KeepConnection());
    EXPECT_TRUE(db.GetBDEDatabase()->HandleShared());
    ASSERT_NE(db.GetSession(), nullptr);
    EXPECT_TRUE(db.GetSession()->AutoSessionName());
    EXPECT_EQ(db.GetBDEDatabase()->GetSessionName(), db.GetSession()->SessionName());
    EXPECT_FALSE(db.Connected());
    EXPECT_EQ(db.TipoBanco(), tbIndefinido);
    EXPECT_EQ(db.TransactionType(), ttReadCommitted);

    // Two facades never share a session, so both can use the same database name.
    TkwDatabase outro;
    db.SetDatabaseName("APP");
    outro.SetDatabaseName("APP");
    EXPECT_NE(db.GetSession()->SessionName(), outro.GetSession()->SessionName());
}

TEST(TkwDatabase, ServerTypeOfEachKind) {
    struct Case {
        TkwTipoBanco tipo;
        TSDServerType servidor;
    };
    const Case cases[] = {{tbIndefinido, stODBC}, {tbDB2, stDB2},         {tbInformix, stODBC},
                          {tbInterbase, stODBC},  {tbOracle, stOracle},   {tbSqlServer, stODBC},
                          {tbSybase, stODBC},     {tbPostgreSQL, stODBC}, {tbFirebird, stODBC}};
    TkwDatabase db;
    db.SetAccessTypeDB(atSQLD);
    for (const Case& c : cases) {
        SCOPED_TRACE(NomeTipoBanco(c.tipo));
        db.SetTipoBanco(c.tipo);
        ASSERT_NE(db.GetSDDatabase(), nullptr);
        EXPECT_EQ(db.GetSDDatabase()->ServerType(), c.servidor);
    }
}

TEST(TkwDatabase, IsolationOnBothPaths) {
    struct Case {
        TTransactionType tipo;
        TSDTransIsolation isolamento;
    };
    const Case cases[] = {
        {ttDirtyRead, tiDirtyRead}, {ttRepeatableRead, tiRepeatableRead}, {ttReadCommitted, tiReadCommitted}};
    for (TAccessTypeDB acesso : {atBDE, atSQLD}) {
        TkwDatabase db;
        db.SetAccessTypeDB(acesso);
        for (const Case& c : cases) {
            db.SetTransactionType(c.tipo);
            const TSDDatabase* inner = acesso == atBDE ? static_cast<TSDDatabase*>(db.GetBDEDatabase())
                                                       : static_cast<TSDDatabase*>(db.GetSDDatabase());
            EXPECT_EQ(inner->TransIsolation(), c.isolamento) << acesso;
        }
    }
}

TEST(TkwDatabase, RemoteDatabaseOfTheLibraryPath) {
    struct Case {
        TkwTipoBanco tipo;
        std::string alias, servidor, usuario, senha;
        std::string esperado;
    };
    const std::string app = ";APP=" + NomeDoPrograma();
    const Case cases[] = {
        {tbSqlServer, "QOR", "srv", "qorbanco", "trelvoma", "DSN=QOR;UID=qorbanco;PWD=trelvoma" + app},
        {tbSqlServer, "QOR", "srv", "qorbanco", "", "DSN=QOR;UID=qorbanco;PWD=" + app},
        {tbSqlServer, "QOR", "", "qorbanco", "trelvoma", "QOR"},
        {tbIndefinido, "QOR", "srv", "u", "p", "DSN=QOR;UID=u;PWD=p" + app},
        // The other drivers take the log-in apart from the text.
        {tbOracle, "ORCL", "srv", "u", "p", "ORCL"},
        {tbDB2, "SAMPLE", "srv", "u", "p", "SAMPLE"},
        // A log-in value cannot add an attribute of its own to the text.
        {tbSqlServer, "QOR", "srv", "eu;DATABASE=outro", "a}b",
         "DSN=QOR;UID={eu;DATABASE=outro};PWD={a}}b}" + app},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.esperado);
        TkwDatabase db;
        db.SetAccessTypeDB(atSQLD);
        db.SetTipoBanco(c.tipo);
        db.SetAliasName(c.alias);
        db.SetConnectionUser(c.usuario);
        db.SetConnectionPassword(c.senha);
        db.SetkwServer(c.servidor);
        EXPECT_EQ(db.GetSDDatabase()->RemoteDatabase(), c.esperado);
    }
    // On the alias path the alias is the data source's name, whatever the server.
    TkwDatabase db;
    db.SetTipoBanco(tbSqlServer);
    db.SetAliasName("QOR");
    db.SetkwServer("srv");
    EXPECT_EQ(db.GetBDEDatabase()->RemoteDatabase(), "QOR");
    EXPECT_EQ(db.GetBDEDatabase()->ServerType(), stODBC);
}

TEST(TkwDatabase, LogInParametersOfEachPath) {
    // Library path: a non-empty "USER NAME" or "PASSWORD" of the own list wins at every
    // application; BlobSize never reaches the connection.
    {
        TkwDatabase db;
        db.SetAccessTypeDB(atSQLD);
        db.SetConnectionUser("qorbanco");
        db.SetConnectionPassword("trelvoma");
        db.SetBlobSize(4096);
        const rtl::StringList& p = db.GetSDDatabase()->Params();
        EXPECT_EQ(p.Values("USER NAME"), "qorbanco");
        EXPECT_EQ(p.Values("PASSWORD"), "trelvoma");
        EXPECT_EQ(p.IndexOfName("BLOB SIZE"), -1);
        db.Params().SetValue("USER NAME", "dono");
        db.Params().SetValue("PASSWORD", "chave");
        db.SetAliasName("X");  // any application
        EXPECT_EQ(db.ConnectionUser(), "dono");
        EXPECT_EQ(db.ConnectionPassword(), "chave");
        EXPECT_EQ(p.Values("USER NAME"), "dono");
        EXPECT_EQ(p.Values("PASSWORD"), "chave");
    }
    // Alias path: the own list fills an empty user or password when the connection is asked
    // for, and only then; "BLOB SIZE" for a positive size only.
    {
        TkwDatabase db;
        db.Params().SetValue("user name", "dono");
        db.Params().SetValue("password", "chave");
        db.SetAliasName("X");
        EXPECT_EQ(db.ConnectionUser(), "");
        db.SetBlobSize(0);
        EXPECT_EQ(db.GetBDEDatabase()->Params().IndexOfName("BLOB SIZE"), -1);
        db.SetBlobSize(-5);
        EXPECT_EQ(db.GetBDEDatabase()->Params().IndexOfName("BLOB SIZE"), -1);
        db.SetBlobSize(32);
        EXPECT_EQ(db.GetBDEDatabase()->Params().Values("BLOB SIZE"), "32");
        db.SetDatabaseName("X");
        // No driver answers for the data source: the connection fails, the values were taken.
        RegisterSqlDatabaseFactory(stODBC, nullptr);
        EXPECT_THROW(db.SetConnected(true), rtl::EDatabaseError);
        EXPECT_EQ(db.ConnectionUser(), "dono");
        EXPECT_EQ(db.ConnectionPassword(), "chave");
        EXPECT_EQ(db.GetBDEDatabase()->Params().Values("USER NAME"), "dono");
        EXPECT_EQ(db.GetBDEDatabase()->Params().Values("PASSWORD"), "chave");
        EXPECT_TRUE(db.Connected());
        db.SetConnected(false);
        EXPECT_FALSE(db.Connected());
        EXPECT_FALSE(db.GetBDEDatabase()->Connected());
    }
}

TEST(TkwDatabase, AnEqualValueAppliesNothingExceptTheAccessType) {
    TkwDatabase db;
    db.SetAliasName("A");
    db.SetDatabaseName("A");
    // A mark in the inner parameters survives exactly as long as nothing is applied.
    auto marque = [&] { db.GetBDEDatabase()->Params().SetValue("MARCA", "1"); };
    auto marcado = [&] {
        return db.GetBDEDatabase() && db.GetBDEDatabase()->Params().Values("MARCA") == "1";
    };
    struct Case {
        const char* oQue;
        std::function<void()> igual, diferente;
    };
    const Case cases[] = {
        {"AliasName", [&] { db.SetAliasName("A"); }, [&] { db.SetAliasName("B"); }},
        {"DatabaseName", [&] { db.SetDatabaseName("A"); }, [&] { db.SetDatabaseName("B"); }},
        {"ConnectionUser", [&] { db.SetConnectionUser(""); }, [&] { db.SetConnectionUser("u"); }},
        {"ConnectionPassword", [&] { db.SetConnectionPassword(""); }, [&] { db.SetConnectionPassword("p"); }},
        {"LoginPrompt", [&] { db.SetLoginPrompt(false); }, [&] { db.SetLoginPrompt(true); }},
        {"TransactionType", [&] { db.SetTransactionType(ttReadCommitted); },
         [&] { db.SetTransactionType(ttDirtyRead); }},
        {"TipoBanco", [&] { db.SetTipoBanco(tbIndefinido); }, [&] { db.SetTipoBanco(tbDB2); }},
        {"HandleShared", [&] { db.SetHandleShared(false); }, [&] { db.SetHandleShared(true); }},
        {"BlobSize", [&] { db.SetBlobSize(0); }, [&] { db.SetBlobSize(1); }},
        {"kwServer", [&] { db.SetkwServer(""); }, [&] { db.SetkwServer("s"); }},
        {"UsesDefaultSession", [&] { db.SetUsesDefaultSession(false); },
         [&] { db.SetUsesDefaultSession(true); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.oQue);
        marque();
        c.igual();
        EXPECT_TRUE(marcado());
        c.diferente();
        EXPECT_FALSE(marcado());
    }
    // Connected as it is: nothing.
    marque();
    db.SetConnected(false);
    EXPECT_TRUE(marcado());
    // The access type is applied even when it does not change.
    db.SetAccessTypeDB(atBDE);
    EXPECT_FALSE(marcado());
    // A database moved to the default session stays there.
    EXPECT_EQ(db.GetBDEDatabase()->GetSessionName(), ::Session().SessionName());
}

TEST(TkwDatabase, ChangingThePathRebuildsTheInnerObjectsAndTheQueries) {
    TkwDatabase db;
    db.SetDatabaseName("APP");
    TkwQuery q;
    q.SetCacheBlobs(true);
    q.SetUpdateMode(rtl::upWhereKeyOnly);
    int aberturas = 0;
    q.BeforeOpen = [&](rtl::TDataSet&) { ++aberturas; };
    q.SetDatabase(&db);
    EXPECT_EQ(db.QueryCount(), 1);
    ASSERT_NE(q.BDEQuery(), nullptr);
    EXPECT_EQ(q.BDEQuery()->DatabaseName(), "APP");
    EXPECT_EQ(q.BDEQuery()->SessionName(), db.GetSession()->SessionName());
    EXPECT_TRUE(q.BDEQuery()->CacheBlobs);
    q.SQL()->Add("select 1");

    db.SetAccessTypeDB(atSQLD);
    EXPECT_EQ(db.GetBDEDatabase(), nullptr);
    ASSERT_NE(db.GetSDDatabase(), nullptr);
    EXPECT_EQ(q.AccessTypeDB, atSQLD);
    EXPECT_EQ(q.BDEQuery(), nullptr);
    ASSERT_NE(q.SDQuery(), nullptr);
    EXPECT_EQ(q.SDQuery()->DatabaseName(), "APP");
    EXPECT_EQ(q.SDQuery()->SessionName(), db.GetSession()->SessionName());
    // The text stayed with the old inner query; the facade's own settings carried over, but
    // the library's path always caches blobs and never asks for a live result.
    EXPECT_EQ(q.SQL()->Count(), 0);
    EXPECT_EQ(q.SDQuery()->UpdateMode(), rtl::upWhereKeyOnly);
    q.SetCacheBlobs(false);
    EXPECT_TRUE(q.SDQuery()->CacheBlobs);
    EXPECT_FALSE(q.SDQuery()->RequestLive());
    ASSERT_TRUE(bool(q.SDQuery()->BeforeOpen));
    EXPECT_EQ(db.QueryCount(), 1);

    // Back again; the same path also rebuilds the query.
    db.SetAccessTypeDB(atBDE);
    ASSERT_NE(q.BDEQuery(), nullptr);
    EXPECT_EQ(q.SDQuery(), nullptr);
    EXPECT_FALSE(q.BDEQuery()->CacheBlobs);
    q.SQL()->Add("select 2");
    db.SetAccessTypeDB(atBDE);
    EXPECT_EQ(q.SQL()->Count(), 0);

    // Attaching the same database again changes nothing; detaching unregisters.
    q.SQL()->Add("select 3");
    q.SetDatabase(&db);
    EXPECT_EQ(q.SQL()->Count(), 1);
    q.SetDatabase(nullptr);
    EXPECT_EQ(db.QueryCount(), 0);
    EXPECT_EQ(aberturas, 0);
}

TEST(TkwQuery, WithoutAnInnerQuery) {
    TkwQuery q;
    // A fresh query has its alias-path inner query.
    ASSERT_NE(q.SQL(), nullptr);
    q.AccessTypeDB = atSQLD;  // a kind never built
    EXPECT_EQ(q.SDQuery(), nullptr);
    EXPECT_EQ(q.RecordCount(), -1);
    EXPECT_TRUE(q.IsEmpty());
    EXPECT_FALSE(q.Eof());
    EXPECT_EQ(q.FieldByName("x"), nullptr);
    EXPECT_EQ(q.ParamByName("x"), nullptr);
    EXPECT_EQ(q.SQL(), nullptr);
    EXPECT_EQ(q.Filter(), "");
    EXPECT_FALSE(q.Filtered());
    q.Open();
    q.SetSQL(Linhas({"select 1"}));
    q.First();
    q.Next();
    q.FetchAll();
    q.Close();
    EXPECT_FALSE(q.Active());
    // The next application builds it.
    q.ApplySettings();
    ASSERT_NE(q.SDQuery(), nullptr);
    EXPECT_NE(q.SQL(), nullptr);
}

TEST(TkwQuery, TheDatabaseGoingFirstDetachesItsQueries) {
    auto db = std::make_unique<TkwDatabase>();
    db->SetAccessTypeDB(atSQLD);
    TkwQuery a, b;
    a.SetDatabase(db.get());
    b.SetDatabase(db.get());
    a.SQL()->Add("select 1");
    db.reset();
    for (TkwQuery* q : {&a, &b}) {
        EXPECT_EQ(q->Database(), nullptr);
        EXPECT_EQ(q->SDQuery(), nullptr);
        EXPECT_EQ(q->RecordCount(), -1);
    }
    // They can be attached elsewhere (and freed) afterwards.
    TkwDatabase outro;
    a.SetDatabase(&outro);
    EXPECT_EQ(a.AccessTypeDB, atBDE);
    EXPECT_NE(a.BDEQuery(), nullptr);
    EXPECT_EQ(outro.QueryCount(), 1);
}

TEST(TkwQuery, ParametersAndFilterLiveInTheInnerQuery) {
    TkwQuery q;
    q.SetSQL(Linhas({"select * from t where a = :a and b = :b"}));
    ASSERT_NE(q.ParamByName("a"), nullptr);
    q.ParamByName("b")->SetValue(rtl::Variant(int32_t(7)));
    EXPECT_EQ(q.BDEQuery()->ParamByName("B").Value().AsInteger(), 7);
    EXPECT_THROW(q.ParamByName("c"), rtl::EDatabaseError);
    q.SetFilter("a = 1");
    q.SetFiltered(true);
    EXPECT_EQ(q.Filter(), "a = 1");
    EXPECT_TRUE(q.Filtered());
    bool chamado = false;
    q.SetOnFilterRecord([&](rtl::TDataSet&, bool& aceita) {
        chamado = true;
        aceita = true;
    });
    ASSERT_TRUE(bool(q.BDEQuery()->OnFilterRecord()));
    bool aceita = false;
    q.BDEQuery()->OnFilterRecord()(*q.BDEQuery(), aceita);
    EXPECT_TRUE(chamado);
}

TEST(TkwDatabase, AServerTypeWithoutARegisteredDriverIsRefused) {
    TkwDatabase db;
    db.SetLoginPrompt(false);
    db.SetDatabaseName("ORCL");
    db.SetAccessTypeDB(atSQLD);
    db.SetAliasName("ORCL");
    db.SetTipoBanco(tbOracle);
    try {
        db.SetConnected(true);
        FAIL() << "connected without a registered Oracle driver";
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "SQL-server not supported");
    }
    EXPECT_TRUE(db.Connected());
    db.SetConnected(false);
    EXPECT_FALSE(db.GetSDDatabase()->Connected());
}

TEST(ukwFuncoesBanco, TypeNames) {
    const char* nomes[] = {"INDEFINIDO", "DB2",    "INFORMIX",   "INTERBASE", "ORACLE",
                           "SQLSERVER",  "SYBASE", "POSTGRESQL", "FIREBIRD"};
    for (int i = 0; i < 9; ++i)
        EXPECT_STREQ(NomeTipoBanco(TkwTipoBanco(i)), nomes[i]);
    EXPECT_STREQ(NomeTipoBanco(TkwTipoBanco(9)), "");
    EXPECT_STREQ(NomeTipoBanco(TkwTipoBanco(-1)), "");
}

TEST(DescriptografeSenha, TheSharedRoutineWithBlankAsEmpty) {
    struct Case {
        std::string embaralhado, claro;
    };
    const Case cases[] = {
        {kwtest::ScramblePassword("trelvoma"), "trelvoma"},
        {kwtest::ScramblePassword("a b"), "a b"},
        {kwtest::ScramblePassword(std::string(20, 'z')), std::string(20, 'z')},
        {kwtest::ScramblePassword("segredo") + "sobra", "segredo"},
        {"", ""},
        {"    ", ""},
        {std::string(20, ' '), ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DescriptografeSenha(c.embaralhado), c.claro);
    // Where the launcher's routine subtracts the key from blanks, this one answers empty.
    EXPECT_NE(rtl::UnscramblePassword("    "), "");
    EXPECT_EQ(DescriptografeSenha(kwtest::ScramblePassword("x")),
              rtl::UnscramblePassword(kwtest::ScramblePassword("x")));
}

}  // namespace
