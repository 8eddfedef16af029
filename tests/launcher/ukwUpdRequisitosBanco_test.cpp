// The local road without a database server: table names with and without a schema, the
// layout of each launcher version, and how "kwCFG.ini" configures the connection: which
// section names the database, which path and type it takes, the settings it refuses with
// their messages, and the connection failure's message (no driver answers in this program,
// so every attempt to connect fails the way a refused connection does).
#include "launcher/ukwUpdRequisitosBanco.h"

#include <gtest/gtest.h>

#include <memory>

#include "common/LauncherBaseTestSupport.h"
#include "common/ukwUpdConfig.h"
#include "database/engine/SDEngine.h"
#include "database/facade/ukwDatabase.h"
#include "launcher/LauncherRunTestSupport.h"
#include "launcher/ukwUpdLoader.h"

namespace {

using kwtest::Contains;

TEST(MonteNomeTabela, SchemaAndTable) {
    struct Case {
        const char *tabela, *esquema, *nome;
    };
    const Case cases[] = {
        {"epadLocalUpdate", "OWNER", "OWNER.epadLocalUpdate"},
        {"epadLocalUpdate", "OWNER.", "OWNER.epadLocalUpdate"},
        {"epadLocalUpdate", "", "epadLocalUpdate"},
        {"esegConexao", "   ", "esegConexao"},
        {" esegConexao ", " dbo ", "dbo.esegConexao"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MonteNomeTabela(c.tabela, c.esquema), c.nome) << c.esquema;
}

// The schema is spliced into every statement: only one SQL identifier is taken.
TEST(MonteNomeTabela, OnlyOneIdentifierIsASchema) {
    for (const char* bom :
         {"OWNER", "dbo.", "owner_1", "SYS$X", "A#B", "\"My Schema\"", "\"x\".", "  main  "}) {
        EXPECT_TRUE(EsquemaValido(bom)) << bom;
        EXPECT_NO_THROW(MonteNomeTabela("esegConexao", bom)) << bom;
    }
    EXPECT_EQ(MonteNomeTabela("esegConexao", "\"My Schema\""), "\"My Schema\".esegConexao");
    for (const char* ruim : {"main.esegConexao x, main", "a b", "a;drop table t", "a--", "a.b", "\"a\"\"b\"",
                             "\"\"", "\"", ".", "a/*", "x'y", "a,b", "\"a\nb\"", "(select 1)"}) {
        EXPECT_FALSE(EsquemaValido(ruim)) << ruim;
        try {
            MonteNomeTabela("esegConexao", ruim);
            ADD_FAILURE() << "accepted " << ruim;
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(e.Message(), MensagemEsquemaInvalido(ruim));
            EXPECT_NE(e.Message().find("não é um nome de esquema válido"), std::string::npos);
        }
    }
}

TEST(LayoutRequisitosBanco, ByLauncherVersion) {
    const std::pair<int32_t, int> cases[] = {{0, 1},    {3299, 1}, {3300, 2}, {4029, 2},
                                             {4030, 4}, {4087, 4}, {4100, 4}};
    for (const auto& [versao, layout] : cases)
        EXPECT_EQ(LayoutRequisitosBanco(versao), layout) << versao;
}

class ConexaoConfigurada : public ::testing::Test {
protected:
    ConexaoConfigurada() { RegisterSqlDatabaseFactory(stODBC, nullptr); }

    // Configures a facade from the file; the text of the failure, empty when none.
    std::string Configure(const std::string& cfg, TkwDatabase* db) {
        pasta_.WriteOld("kwCFG.ini", cfg);
        ResetConfigurationSingletons();
        auto loader = std::make_unique<TkwUpdLoader>();
        loader->DBUser = "qorbanco";
        loader->DBPassword = "trelvoma";
        std::string erro;
        TkwUpdEstradaBanco estrada;
        try {
            estrada.ConfigurarConexaoComBanco(*loader, db);
        } catch (const TkwUpdException& e) {
            erro = e.Message();
        }
        log_ = kwtest::Texts(*loader->Log);
        return erro;
    }

    kwtest::LauncherFolder pasta_;
    std::vector<std::string> log_;
};

const std::string kVerifique = "Verifique se o arquivo \"kwCFG.ini\" foi configurado corretamente.";

TEST_F(ConexaoConfigurada, SettingsTheFileMustGive) {
    struct Case {
        const char* nome;
        std::string cfg;
        std::string erro;
    };
    const Case cases[] = {
        {"no alias at all", "[KWUPDATE]\nTipoServidor=LOCAL\n",
         "O Alias para conexão com o banco de dados não foi informado na seção [Database]. " + kVerifique},
        {"alias of another section", "[Servidor]\nAlias=X\n[Database]\nAlias=QOR\n",
         "O Alias para conexão com o banco de dados não foi informado na seção [Database]. " + kVerifique},
        {"KW3 without alias", "[DataBaseName]\nEsquema=OWNER\n",
         "O Alias para conexão com o banco de dados não foi informado na seção [DatabaseName]. " +
             kVerifique},
        {"SQL Server without server", "[Database]\nAlias=QOR\nProtocolo=SQLSERVER\n",
         "O Server para conexão com o banco de dados não foi informado na seção [Database]. " + kVerifique},
        {"a schema that joins another table", "[Database]\nAlias=QOR\nEsquema=main.esegConexao x, main\n",
         "O Esquema \"main.esegConexao x, main\" do kwCFG.ini não é um nome de esquema válido (somente "
         "letras, dígitos, \"_\", \"$\" e \"#\", ou um nome entre aspas duplas). " +
             kVerifique},
        {"KW3 schema with a comment", "[DataBaseName]\nAlias=QOR\nEsquema=x--\n",
         "O Esquema \"x--\" do kwCFG.ini não é um nome de esquema válido (somente letras, dígitos, \"_\", "
         "\"$\" e \"#\", ou um nome entre aspas duplas). " +
             kVerifique},
        {"SQL Server of [KWUPDATE] without server",
         "[KWUPDATE]\nAlias=UPD\nTipoBanco=SQLSERVER\n[Database]\nAlias=QOR\nServer=srv\n",
         "O Server para conexão com o banco de dados não foi informado na seção [KWUpdate]. " + kVerifique},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nome);
        TkwDatabase db;
        EXPECT_EQ(Configure(c.cfg, &db), c.erro);
        EXPECT_TRUE(Contains(log_, "EXCEPTION: " + c.erro));
        EXPECT_FALSE(Contains(log_, " - Abrindo uma conexão com o banco de dados..."));
        EXPECT_FALSE(db.Connected());
    }
}

TEST_F(ConexaoConfigurada, WhichDatabaseAndPathTheFileChooses) {
    struct Case {
        const char* nome;
        std::string cfg;
        TAccessTypeDB acesso;
        std::string alias;
        TkwTipoBanco tipo;
        std::string servidor;
    };
    const Case cases[] = {
        {"KW3", "[DataBaseName]\nAlias=QOR3\nEsquema=OWNER\n[Database]\nAlias=QOR4\nProtocolo=DB2\n", atBDE,
         "QOR3", tbIndefinido, ""},
        {"alias only", "[Database]\nAlias=QOR\n", atBDE, "QOR", tbIndefinido, ""},
        {"alias and type", "[Database]\nAlias=QOR\nProtocolo=ORACLE\n", atSQLD, "QOR", tbOracle, ""},
        {"type under its other key", "[Database]\nAlias=QOR\nTipoBanco=DB2\n", atSQLD, "QOR", tbDB2, ""},
        {"SQL Server", "[Database]\nAlias=QOR\nProtocolo=SQLSERVER\nServer=srv\n", atSQLD, "QOR", tbSqlServer,
         "srv"},
        // Only the exact words name a type; any other still chooses the library's path.
        {"type in lower case", "[Database]\nAlias=QOR\nProtocolo=sqlserver\n", atSQLD, "QOR", tbIndefinido,
         ""},
        {"another type", "[Database]\nAlias=DRIVER=x;Database=y\nProtocolo=POSTGRESQL\n", atSQLD,
         "DRIVER=x;Database=y", tbIndefinido, ""},
        {"named section", "[Servidor]\nAlias=PROD\n[Database]\nAlias=QOR\n[Database_PROD]\nAlias=QORPROD\n",
         atBDE, "QORPROD", tbIndefinido, ""},
        {"[KWUPDATE] alias", "[KWUPDATE]\nAlias=UPD\nServer=x\n[Database]\nAlias=QOR\nProtocolo=DB2\n", atBDE,
         "UPD", tbIndefinido, ""},
        {"[KWUPDATE] alias and type", "[KWUPDATE]\nAlias=UPD\nProtocolo=SQLSERVER\nServer=srvupd\n", atSQLD,
         "UPD", tbSqlServer, "srvupd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nome);
        TkwDatabase db;
        // No driver answers: the attempt fails with the connection message.
        const std::string erro = Configure(c.cfg, &db);
        EXPECT_EQ(erro, "Erro ao conectar com o banco de dados. SQL-server not supported. Alias: \"" +
                            c.alias + "\".");
        EXPECT_TRUE(Contains(log_, " - Erro: SQL-server not supported"));
        EXPECT_TRUE(Contains(log_, " - Abrindo uma conexão com o banco de dados..."));
        EXPECT_EQ(db.AccessTypeDB(), c.acesso);
        EXPECT_EQ(db.AliasName(), c.alias);
        EXPECT_EQ(db.DatabaseName(), c.alias);
        EXPECT_EQ(db.TipoBanco(), c.tipo);
        EXPECT_EQ(db.kwServer(), c.servidor);
        EXPECT_EQ(db.ConnectionUser(), "qorbanco");
        EXPECT_EQ(db.ConnectionPassword(), "trelvoma");
        EXPECT_FALSE(db.LoginPrompt());
        db.SetConnected(false);
    }
}

TEST_F(ConexaoConfigurada, WithoutADatabaseObject) {
    EXPECT_EQ(Configure("[Database]\nAlias=QOR\n", nullptr), "");
    EXPECT_TRUE(Contains(log_, "Não foi criado o objeto database..."));
    EXPECT_FALSE(Contains(log_, "FIM - ConfigurarConexaoComBanco"));
}

}  // namespace
