// The local road on real databases through the ODBC driver: a SQLite file reached by its ODBC
// data source (the alias path; the sqlite3 shell as the independent writer and reader) and a
// private PostgreSQL server reached by a connection string (the SQL library's path; psql);
// and with database type "ORACLE", through the Oracle driver and the stand-in client library
// (found under ORACLE_HOME) on a SQLite file that the sqlite3 shell writes and reads.
// The requisites lines of every layout are compared with the same lines built by the database
// itself from the same rows; then the default site, the generic system, each consistency
// message, the credential swap through esegConexao with a descrambled password, the schema
// (blank, with and without its dot), the versioned-update flag, the RPC switches with their
// configuration copies, and the mended faults: sites kept per system, values holding ";" or a
// line break left out.
#include "launcher/ukwUpdRequisitosBanco.h"

#include <gtest/gtest.h>

#include <memory>

#include "common/LauncherBaseTestSupport.h"
#include "common/ukwUpdConfig.h"
#include "common/ukwUpdVersao.h"
#include "database/OdbcTestSupport.h"
#include "database/OraTestSupport.h"
#include "database/engine/SDEngine.h"
#include "database/facade/ukwDatabase.h"
#include "database/oracle/SDOra.h"
#include "launcher/LauncherRunTestSupport.h"
#include "launcher/ukwUpdLoader.h"
#include "support/PostgresServer.h"

using namespace odbctest;

namespace {

namespace fs = std::filesystem;
using kwtest::Contains;

// What differs between the two databases.
class Banco {
public:
    virtual ~Banco() = default;
    virtual bool Available(std::string& reason) = 0;
    // Statements run by the database's own tool, as its administrator.
    virtual void Exec(const std::string& sql) = 0;
    // The rows of a query, columns separated by "|".
    virtual std::vector<std::string> Query(const std::string& sql) = 0;
    // The [Database] keys that reach the database.
    virtual std::string Secao() = 0;
    // A schema the tables can live in, and a text expression made of the given bytes.
    virtual std::string Esquema() = 0;
    virtual std::string Bytes(const std::string& bytes) = 0;
    virtual std::string QuebraDeLinha() = 0;
    // Whether the server checks log-ins and table rights.
    virtual bool ChecksLogin() = 0;
};

std::string Hex(const std::string& bytes) {
    static const char* d = "0123456789abcdef";
    std::string h;
    for (unsigned char c : bytes) {
        h += d[c >> 4];
        h += d[c & 15];
    }
    return h;
}

plat::ProcessResult Rode(const std::string& programa, const std::vector<std::string>& args,
                         const std::string& entrada = "") {
    kwtest::TempDir dir;
    std::string comando = "'" + programa + "'";
    for (const auto& a : args)
        comando += " '" + a + "'";
    if (!entrada.empty()) {
        kwtest::WriteFile(dir / "in.sql", entrada);
        comando += " < '" + (dir / "in.sql").string() + "'";
    }
    plat::ProcessOptions o;
    o.wait = true;
    o.output = plat::ProcessOutput::Capture;
    return plat::StartProcess("/bin/sh", {"-c", comando}, o);
}

class Sqlite : public Banco {
public:
    bool Available(std::string& reason) override {
        reason = "the SQLite ODBC driver and the sqlite3 shell";
        if (!SqliteOdbcAvailable() || !fs::exists("/usr/bin/sqlite3")) return false;
        DataSources::Get().AddSqlite(alias_, arquivo_);
        return true;
    }
    void Exec(const std::string& sql) override {
        const plat::ProcessResult r = Rode("/usr/bin/sqlite3", {"-bail", arquivo_.string()}, sql);
        if (r.exitCode != 0) throw std::runtime_error("sqlite3: " + r.output);
    }
    std::vector<std::string> Query(const std::string& sql) override {
        const plat::ProcessResult r = Rode("/usr/bin/sqlite3", {"-bail", arquivo_.string()}, sql + ";\n");
        if (r.exitCode != 0) throw std::runtime_error("sqlite3: " + r.output);
        std::vector<std::string> linhas;
        for (const auto& l : rtl::SplitFields(r.output, '\n'))
            if (!l.empty()) linhas.push_back(l);
        return linhas;
    }
    std::string Secao() override { return "Alias=" + alias_ + "\n"; }
    std::string Esquema() override { return "main"; }
    std::string Bytes(const std::string& b) override { return "cast(X'" + Hex(b) + "' as text)"; }
    std::string QuebraDeLinha() override { return "char(10)"; }
    bool ChecksLogin() override { return false; }

protected:
    kwtest::TempDir dir_;
    fs::path arquivo_ = dir_ / "aplicacao.db";
    std::string alias_ = "KWREQ_" + std::to_string(++contador_);
    static inline int contador_ = 0;
};

// The application database behind the Oracle driver: a SQLite file the stand-in client serves,
// reached with database type ORACLE and the file as the alias.
class Oracle : public Sqlite {
public:
    bool Available(std::string& reason) override {
        reason = "the OCI stand-in library and the sqlite3 shell";
        if (!standin_.Available() || !fs::exists("/usr/bin/sqlite3")) return false;
        home_ = std::make_unique<oratest::OracleHome>(std::vector<std::string>{oratest::kOci8Client});
        return true;
    }
    std::string Secao() override { return "Alias=" + arquivo_.string() + "\nProtocolo=ORACLE\n"; }

private:
    oratest::OciStandin standin_;
    std::unique_ptr<oratest::OracleHome> home_;
};

std::unique_ptr<Banco> NovoBanco(const std::string& nome);

class Postgres : public Banco {
public:
    bool Available(std::string& reason) override {
        reason = "psqlODBC and a PostgreSQL 15 server";
        if (!fs::exists(kAnsiDriver)) return false;
        if (!Server().Available()) {
            reason = Server().Reason();
            return false;
        }
        // A database of 8-bit text, as the application's: a scrambled password is any bytes.
        Server().Psql("drop database if exists kwreq", "postgres");
        Server().Psql(
            "create database kwreq encoding 'SQL_ASCII' lc_collate 'C' lc_ctype 'C' template template0",
            "postgres");
        Exec("create schema owner; grant usage on schema owner to public");
        return true;
    }
    void Exec(const std::string& sql) override { Server().Psql(sql, "kwreq"); }
    std::vector<std::string> Query(const std::string& sql) override {
        std::vector<std::string> linhas;
        for (const auto& l : rtl::SplitFields(Server().Psql(sql, "kwreq"), '\n'))
            if (!l.empty()) linhas.push_back(l);
        return linhas;
    }
    // psqlODBC's ANSI driver with the server's own client encoding: 8-bit text arrives as the
    // bytes the table holds (with UTF-8 the server would refuse a scrambled password).
    std::string Secao() override { return "Alias=" + ConnectString() + "\nProtocolo=POSTGRESQL\n"; }
    static std::string ConnectString() {
        return "DRIVER=" + std::string(kAnsiDriver) + ";SERVER=" + Server().Host() +
               ";PORT=" + std::to_string(Server().Port()) +
               ";DATABASE=kwreq;ConnSettings=set client_encoding to 'SQL_ASCII'";
    }
    static constexpr const char* kAnsiDriver = "/usr/lib/x86_64-linux-gnu/odbc/psqlodbca.so";
    std::string Esquema() override { return "owner"; }
    std::string Bytes(const std::string& b) override {
        std::string e = "E'";
        for (unsigned char c : b)
            e += "\\x" + Hex(std::string(1, char(c)));
        return e + "'";
    }
    std::string QuebraDeLinha() override { return "chr(10)"; }
    bool ChecksLogin() override { return true; }

    static kwtest::PostgresServer& Server() {
        if (!server_) {
            kwtest::PostgresServer::Options o;
            o.hbaLines = {"host all kwsenha 127.0.0.1/32 scram-sha-256"};
            server_ = std::make_unique<kwtest::PostgresServer>(o);
            if (server_->Available())
                server_->Psql("create role qorbanco login; create role kwsenha login password 'segredo;x'");
        }
        return *server_;
    }
    static void StopServer() { server_.reset(); }

private:
    static std::unique_ptr<kwtest::PostgresServer> server_;
};

std::unique_ptr<kwtest::PostgresServer> Postgres::server_;

std::unique_ptr<Banco> NovoBanco(const std::string& nome) {
    if (nome == "sqlite") return std::make_unique<Sqlite>();
    if (nome == "oracle") return std::make_unique<Oracle>();
    return std::make_unique<Postgres>();
}

std::vector<std::string> LinhasDe(const std::string& texto) {
    return kwtest::SplitLinesOf(texto);
}

class RequisitosDoBanco : public ::testing::TestWithParam<const char*> {
protected:
    static void SetUpTestSuite() { KeepSystemOdbcSettingsOut(); }
    static void TearDownTestSuite() { Postgres::StopServer(); }

    void SetUp() override {
        banco_ = NovoBanco(GetParam());
        std::string reason;
        const bool available = banco_->Available(reason);
        KW_REQUIRE_PEER(available, reason);
        RegisterOdbcDriver();
        RegisterOracleDriver();
    }
    void TearDown() override {
        loader_.reset();
        RegisterSqlDatabaseFactory(stODBC, nullptr);
        RegisterSqlDatabaseFactory(stOracle, nullptr);
        ReloadDriverManagerName();
    }

    // The four tables in the schema ("" for the default one), readable by the first user.
    void CrieTabelas(const std::string& esquema = "") {
        const std::string p = esquema.empty() ? "" : esquema + ".";
        banco_->Exec(
            "create table " + p +
            "epadLocalUpdate (cdSistema integer not null, cdLocalUpdate integer not null, "
            "deLocalUpdate varchar(255), deUsuario varchar(60), deSenha varchar(60), flDefault char(1), "
            "dtConfiguracao timestamp, deLocalUpdate2 varchar(255), flDisponivel1 char(1), "
            "flDisponivel2 char(1), deLocalUpdate3 varchar(255), flDisponivel3 char(1));\n"
            "create table " +
            p +
            "epadObjetoUpdate (cdSistema integer not null, cdObjetoUpdate integer not null, "
            "nmObjeto varchar(255), nuSeqObjeto integer, nmLocalDestino varchar(255), "
            "nmLocalOrigem varchar(255), nuControle integer, cdTipoOperacao integer, "
            "dtConfiguracao timestamp, nuCRC integer);\n"
            "create table " +
            p +
            "epadConfigServidor (deIPServidor varchar(60), deNomeAplicativo varchar(60), "
            "deChave varchar(60), deValor varchar(255), deDescricao varchar(255));\n"
            "create table " +
            p + "esegConexao (cdUsuario varchar(60), deSenha varchar(60));\n");
        if (banco_->ChecksLogin())
            banco_->Exec("grant select on all tables in schema " +
                         (esquema.empty() ? std::string("public") : esquema) + " to qorbanco, kwsenha");
        prefixo_ = p;
    }

    // Sites and objects of system 3, the generic system -1 and another system 7.
    void Preencha() {
        const std::string p = prefixo_;
        banco_->Exec("insert into " + p +
                     "epadLocalUpdate values "
                     "(3, 1, 'C:\\sites\\sistema\\', 'usr3', 'pw3', 'N', '2026-01-15 10:00:00', "
                     "'http://espelho3/', 'S', "
                     "'S', 'ftp:terceiro3\\', 'S'),"
                     "(3, 9, 'C:\\sites\\padrao\\', 'usr9', 'pw9', 'S', '2026-01-15 10:00:00', null, null, "
                     "null, null, "
                     "null),"
                     "(3, 0, 'C:\\sites\\zero\\', '', '', 'N', '2026-01-15 10:00:00', '', 'N', 'S', '', 'N'),"
                     "(7, 1, 'C:\\sites\\outro\\', 'usr7', 'pw7', 'S', '2026-01-15 10:00:00', 'x', 'S', 'S', "
                     "'y', 'S'),"
                     "(-1, 9, 'C:\\sites\\padraog\\', 'usrg9', '', 'S', '2026-01-15 10:00:00', 'http://g9/', "
                     "'N', 'S', "
                     "null, null),"
                     "(-1, 1, 'C:\\sites\\generico\\', 'usrg', '', 'N', '2026-01-15 10:00:00', null, null, "
                     "null, null, "
                     "null);\n"
                     "insert into " +
                     p +
                     "epadObjetoUpdate values "
                     "(3, 10, 'QOR.exe', 1, '', 'bin\\', 4087, 1, '2026-01-15 10:00:00', -123456789),"
                     "(3, 11, 'dados.txt', 2, 'dados', '', 5, 5, '2026-01-15 10:00:00', null),"
                     "(3, 12, 'velho.dll', 3, '$\\system32', '', 1, 3, '2026-01-15 10:00:00', 0),"
                     "(7, 30, 'outro.exe', 1, '', '', 1, 1, '2026-01-15 10:00:00', 1),"
                     "(-1, 20, 'comum.dll', 1, '', 'comum\\', 2, 1, '2026-01-15 10:00:00', 77);\n");
    }

    // The requisites lines of a layout as the database itself builds them from the same rows,
    // the site chosen by the condition on LU.
    std::vector<std::string> Oraculo(int layout, const std::string& condicaoSite) {
        auto t = [](const std::string& coluna) {
            return "coalesce(cast(" + coluna + " as varchar(255)), '')";
        };
        std::vector<std::string> c = {t("OU.cdSistema"),      t("OU.nuSeqObjeto"),   t("OU.nmObjeto"),
                                      t("OU.nmLocalDestino"), t("OU.nmLocalOrigem"), t("OU.nuControle"),
                                      t("OU.cdTipoOperacao"), t("LU.deLocalUpdate"), t("LU.deUsuario"),
                                      t("LU.deSenha"),        t("OU.nuCRC")};
        if (layout == 4)
            c.insert(c.end(),
                     {t("LU.deLocalUpdate2"), t("LU.deLocalUpdate3"), "coalesce(LU.flDisponivel1, 'S')",
                      "coalesce(LU.flDisponivel2, 'N')", "coalesce(LU.flDisponivel3, 'N')"});
        if (layout == 2)
            c.insert(c.end(), {t("LU.deLocalUpdate2"), "coalesce(LU.flDisponivel1, 'S')",
                               "coalesce(LU.flDisponivel2, 'N')"});
        std::string sql = "select ";
        for (size_t i = 0; i < c.size(); ++i)
            sql += (i ? " || ';' || " : "") + c[i];
        sql += " from " + prefixo_ + "epadObjetoUpdate OU join " + prefixo_ +
               "epadLocalUpdate LU on LU.cdSistema = OU.cdSistema and " + condicaoSite +
               " where OU.cdSistema in (3, -1) order by OU.cdSistema, OU.nuSeqObjeto";
        return banco_->Query(sql);
    }

    // A launcher of system 3 (generic system -1) for the file's [Database] section.
    TkwUpdLoader& Loader(int32_t cdLocalUpdate = 1, const std::string& extra = "",
                         const std::string& esquema = "\x01") {
        const std::string e =
            esquema == "\x01" ? (prefixo_.empty() ? "" : prefixo_.substr(0, prefixo_.size() - 1)) : esquema;
        pasta_.WriteOld("kwCFG.ini", "[KWUPDATE]\nTipoServidor=LOCAL\nCdSistema=3\n\n[Database]\n" +
                                         banco_->Secao() + "Esquema=" + e + "\n" + extra);
        loader_.reset();
        ResetConfigurationSingletons();
        loader_ = std::make_unique<TkwUpdLoader>();
        loader_->DBUser = "qorbanco";
        loader_->DBPassword = "trelvoma";
        loader_->CdSistema = 3;
        loader_->CdLocalUpdate = cdLocalUpdate;
        return *loader_;
    }

    // The road's requisites (or the text of its failure, after "ERRO: ").
    std::string Requisitos(TkwUpdLoader& loader) {
        try {
            return estrada_.PegueDadosRequisitosBanco(loader);
        } catch (const TkwUpdException& e) {
            return "ERRO: " + e.Message();
        }
    }

    std::vector<std::string> Log() const { return kwtest::Texts(*loader_->Log); }

    // A connected facade configured by the road, and the query's result over it.
    TkwDadosRequisitosBanco Consulta(int32_t cdSistema, int32_t cdLocalUpdate, int layout) {
        TkwUpdLoader& l = Loader(cdLocalUpdate);
        TkwDatabase db;
        estrada_.ConfigurarConexaoComBanco(l, &db);
        return GetDadosRequisitosBanco(db, estrada_.ObtenhaEsquema(), cdSistema, -1, cdLocalUpdate, layout);
    }

    std::unique_ptr<Banco> banco_;
    kwtest::LauncherFolder pasta_;
    std::unique_ptr<TkwUpdLoader> loader_;
    TkwUpdEstradaBanco estrada_;
    std::string prefixo_;
};

TEST_P(RequisitosDoBanco, TheLinesOfEachLayout) {
    CrieTabelas(banco_->Esquema());
    Preencha();
    struct Case {
        TkwVersaoArquivo versao;
        int layout;
    };
    const Case cases[] = {{{3, 2, 9, 9}, 1}, {{3, 3, 0, 0}, 2}, {{4, 0, 2, 9}, 2}, {{4, 0, 3, 0}, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.layout);
        SetLauncherVersionOverride(c.versao);
        TkwUpdLoader& l = Loader();
        const std::vector<std::string> linhas = LinhasDe(Requisitos(l));
        EXPECT_EQ(linhas, Oraculo(c.layout, "LU.cdLocalUpdate = 1"));
        ASSERT_EQ(linhas.size(), 4u);
        for (const auto& linha : linhas)
            EXPECT_EQ(kwtest::SplitLinesOf(linha).size(), 1u);
        const auto log = Log();
        EXPECT_TRUE(Contains(log, " - 4 registro(s) carregado(s)"));
        EXPECT_TRUE(Contains(log, " - Consulta ao banco de dados OK"));
        EXPECT_TRUE(Contains(log, "FIM - PegueDadosRequisitosBanco"));
        SetLauncherVersionOverride(std::nullopt);
    }
    // What the lines hold, spelled out once for the newest layout: the generic system first,
    // the nulls of its site's secondary values as empty fields, "S" and "N".
    SetLauncherVersionOverride(TkwVersaoArquivo{4, 1, 0, 0});
    EXPECT_EQ(
        LinhasDe(Requisitos(Loader())),
        (std::vector<std::string>{
            "-1;1;comum.dll;;comum\\;2;1;C:\\sites\\generico\\;usrg;;77;;;S;N;N",
            "3;1;QOR.exe;;bin\\;4087;1;C:\\sites\\sistema\\;usr3;pw3;-123456789;http://espelho3/;"
            "ftp:terceiro3\\;S;S;S",
            "3;2;dados.txt;dados;;5;5;C:\\sites\\sistema\\;usr3;pw3;;http://espelho3/;ftp:terceiro3\\;S;S;S",
            "3;3;velho.dll;$\\system32;;1;3;C:\\sites\\sistema\\;usr3;pw3;0;http://espelho3/;"
            "ftp:terceiro3\\;S;S;S"}));
    SetLauncherVersionOverride(std::nullopt);
}

TEST_P(RequisitosDoBanco, TheSiteCodeChoosesTheSite) {
    CrieTabelas();
    Preencha();
    struct Case {
        int32_t codigo;
        std::string condicao;
    };
    // A negative code takes the site flagged as default; 0 is a code like any other.
    const Case cases[] = {
        {-1, "LU.flDefault = 'S'"}, {-7, "LU.flDefault = 'S'"}, {0, "LU.cdLocalUpdate = 0"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.codigo);
        const TkwDadosRequisitosBanco r = Consulta(3, c.codigo, 4);
        if (c.codigo == 0) {
            // System 3 has a site 0, the generic system has none.
            EXPECT_EQ(r.Erro,
                      "O local de update do sistema genérico não foi encontrado. Sistema genérico: -1. Local "
                      "update: 0. Verifique se o local update foi cadastrado para o sistema genérico");
            continue;
        }
        EXPECT_EQ(r.Erro, "");
        EXPECT_EQ(LinhasDe(r.Requisitos), Oraculo(4, c.condicao));
    }
    // Site 0 for the generic system too.
    banco_->Exec(
        "insert into epadLocalUpdate values (-1, 0, 'C:\\sites\\zerog\\', '', '', 'N', "
        "'2026-01-15 10:00:00', null, null, null, null, null)");
    const TkwDadosRequisitosBanco r = Consulta(3, 0, 2);
    EXPECT_EQ(r.Erro, "");
    EXPECT_EQ(LinhasDe(r.Requisitos), Oraculo(2, "LU.cdLocalUpdate = 0"));
}

TEST_P(RequisitosDoBanco, OnlyTheGenericSystemHasObjects) {
    CrieTabelas();
    Preencha();
    // System 7 has a site but only one object; system 5 has none at all.
    const TkwDadosRequisitosBanco r = Consulta(5, 1, 4);
    EXPECT_EQ(r.Erro, "");
    EXPECT_EQ(
        LinhasDe(r.Requisitos),
        (std::vector<std::string>{"-1;1;comum.dll;;comum\\;2;1;C:\\sites\\generico\\;usrg;;77;;;S;N;N"}));
    const auto log = kwtest::SplitLinesOf(r.LogConsulta);
    bool aviso = false;
    for (const auto& l : log)
        aviso = aviso ||
                l.find(
                    " :  - ATENÇÃO!!! O Sistema \"5\" não possui objetos update cadastrados. Foram "
                    "encontrados apenas objetos update do sistema genérico \"-1\".") != std::string::npos;
    EXPECT_TRUE(aviso) << r.LogConsulta;
}

TEST_P(RequisitosDoBanco, EachConsistencyMessage) {
    CrieTabelas();
    Preencha();
    banco_->Exec(
        "insert into epadObjetoUpdate values (4, 1, 'so4.exe', 1, '', '', 1, 1, '2026-01-15 10:00:00', 0)");
    struct Case {
        const char* nome;
        std::string preparo;  // run before the query
        int32_t sistema, codigo;
        std::string erro;
    };
    const Case cases[] = {
        {"no objects", "delete from epadObjetoUpdate where cdSistema = -1", 5, 1,
         "Os objetos não foram cadastrados para o sistema \"5\" e o sistema genérico \"-1\""},
        {"no site of the system", "", 4, 1,
         "O local de update do sistema não foi encontrado. Sistema: 4. Local update: 1. Verifique se o local "
         "update foi cadastrado para este sistema"},
        {"no default site of the system", "", 4, -1,
         "Nenhum local update cadastrado ou não existe um local update default para o sistema \"4\""},
        {"no site of the generic system",
         "insert into epadObjetoUpdate values (-1, 20, 'comum.dll', 1, '', '', 2, 1, '2026-01-15 10:00:00', "
         "77); "
         "delete from epadLocalUpdate where cdSistema = -1",
         3, 1,
         "O local de update do sistema genérico não foi encontrado. Sistema genérico: -1. Local update: 1. "
         "Verifique se o local update foi cadastrado para o sistema genérico"},
        {"no default site of the generic system", "", 3, -1,
         "Nenhum local update cadastrado ou não existe um local update default para o sistema genérico "
         "\"-1\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nome);
        if (!c.preparo.empty()) banco_->Exec(c.preparo);
        const TkwDadosRequisitosBanco r = Consulta(c.sistema, c.codigo, 4);
        EXPECT_EQ(r.Erro, c.erro);
        EXPECT_EQ(r.Requisitos, "");
        EXPECT_NE(r.LogConsulta.find(" :  - Erro: " + c.erro + "\r\n"), std::string::npos) << r.LogConsulta;
        EXPECT_EQ(r.LogConsulta.find("Dados OK"), std::string::npos);
        // Through the road: the launcher's message for a database failure.
        TkwUpdLoader& l = Loader(c.codigo);
        l.CdSistema = c.sistema;
        EXPECT_EQ(Requisitos(l),
                  "ERRO: Erro ao acessar o banco de dados. Mensagem de erro: \"" + c.erro + "\".");
    }
    // A failing statement is an error of its own.
    banco_->Exec("drop table epadObjetoUpdate");
    const TkwDadosRequisitosBanco r = Consulta(3, 1, 4);
    EXPECT_NE(r.Erro, "");
    EXPECT_EQ(r.Requisitos, "");
}

TEST_P(RequisitosDoBanco, CredentialsFromTheConnectionTable) {
    CrieTabelas(banco_->Esquema());
    Preencha();
    if (banco_->ChecksLogin()) {
        // Only the user of the connection table may read the update tables.
        banco_->Exec(
            "revoke select on owner.epadLocalUpdate, owner.epadObjetoUpdate, owner.epadConfigServidor "
            "from qorbanco");
    }
    // No row: the first credentials stay.
    {
        TkwUpdLoader& l = Loader();
        TkwDatabase db;
        estrada_.ConfigurarConexaoComBanco(l, &db);
        EXPECT_EQ(db.ConnectionUser(), "qorbanco");
        EXPECT_EQ(db.ConnectionPassword(), "trelvoma");
        if (banco_->ChecksLogin()) {
            const auto r = GetDadosRequisitosBanco(db, "owner", 3, -1, 1, 4);
            EXPECT_NE(r.Erro.find("permission denied"), std::string::npos) << r.Erro;
        }
    }
    // A row: reconnected under its user and its descrambled password (with a ";" in it).
    banco_->Exec("insert into " + prefixo_ + "esegConexao values ('kwsenha', " +
                 banco_->Bytes(kwtest::ScramblePassword("segredo;x")) + ")");
    {
        TkwUpdLoader& l = Loader();
        TkwDatabase db;
        estrada_.ConfigurarConexaoComBanco(l, &db);
        EXPECT_EQ(db.ConnectionUser(), "kwsenha");
        EXPECT_EQ(db.ConnectionPassword(), "segredo;x");
        EXPECT_TRUE(db.Connected());
        const auto log = Log();
        EXPECT_TRUE(Contains(log, " - Conexão aberta com sucesso."));
        EXPECT_TRUE(Contains(log, "FIM - ConfigurarConexaoComBanco"));
    }
    EXPECT_EQ(LinhasDe(Requisitos(Loader())), Oraculo(4, "LU.cdLocalUpdate = 1"));
    if (!banco_->ChecksLogin()) return;
    // A password that does not descramble to the user's fails with the connection message.
    banco_->Exec("update owner.esegConexao set deSenha = " +
                 banco_->Bytes(kwtest::ScramblePassword("errada")));
    const std::string r = Requisitos(Loader());
    EXPECT_EQ(r.rfind("ERRO: Erro ao conectar com o banco de dados. ", 0), 0u) << r;
    EXPECT_NE(r.find("kwsenha"), std::string::npos) << r;
    EXPECT_FALSE(Contains(Log(), "FIM - PegueDadosRequisitosBanco"));
}

TEST_P(RequisitosDoBanco, TheSchemaOfEveryTable) {
    struct Case {
        std::string tabelas, configurado;
    };
    const Case cases[] = {
        {banco_->Esquema(), banco_->Esquema()},
        {banco_->Esquema(), banco_->Esquema() + "."},
        // A blank schema reads the bare names, the connection table's too.
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.configurado);
        std::string motivo;
        banco_.reset();
        banco_ = NovoBanco(GetParam());
        ASSERT_TRUE(banco_->Available(motivo)) << motivo;
        CrieTabelas(c.tabelas);
        Preencha();
        banco_->Exec("insert into " + prefixo_ + "esegConexao values ('qorbanco', " +
                     banco_->Bytes(kwtest::ScramblePassword("trelvoma")) + ")");
        TkwUpdLoader& l = Loader(1, "", c.configurado);
        const std::vector<std::string> linhas = LinhasDe(Requisitos(l));
        EXPECT_EQ(linhas, Oraculo(4, "LU.cdLocalUpdate = 1"));
        EXPECT_EQ(linhas.size(), 4u);
    }
}

TEST_P(RequisitosDoBanco, TheVersionedUpdateFlag) {
    CrieTabelas();
    Preencha();
    struct Case {
        const char* valor;  // nullptr: no row; "null": a null value
        bool versionada;
    };
    const Case cases[] = {{"TRUE", true}, {"true", true},   {"True", true},  {"FALSE", false},
                          {"S", false},   {"TRUE ", false}, {"null", false}, {nullptr, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.valor ? c.valor : "(no row)");
        banco_->Exec("delete from epadConfigServidor");
        banco_->Exec("insert into epadConfigServidor values ('', 'app', 'OUTRA', 'TRUE', '')");
        if (c.valor != nullptr)
            banco_->Exec(
                std::string(
                    "insert into epadConfigServidor values ('', 'app', 'OBJETO_UPDATE_VERSIONADO', ") +
                (std::string(c.valor) == "null" ? "null" : "'" + std::string(c.valor) + "'") + ", 'x')");
        TkwUpdLoader& l = Loader();
        EXPECT_EQ(estrada_.TestarSeAtualizacaoVersionadaBanco(l), c.versionada);
        const auto log = Log();
        EXPECT_TRUE(Contains(log, "FIM - TestarSeAtualizacaoVersionadaBanco"));
    }
    // A table that cannot be read fails the road with the database message.
    banco_->Exec("drop table epadConfigServidor");
    TkwUpdLoader& l = Loader();
    try {
        estrada_.TestarSeAtualizacaoVersionadaBanco(l);
        ADD_FAILURE() << "no failure";
    } catch (const TkwUpdException& e) {
        EXPECT_EQ(e.Message().rfind("Erro ao acessar o banco de dados. Mensagem de erro: \"Erro: ", 0), 0u)
            << e.Message();
    }
}

TEST_P(RequisitosDoBanco, TheRpcSwitchesAndTheirCopies) {
    CrieTabelas();
    Preencha();
    const fs::path antes = pasta_ / "log/kwCFG-antes-RPC.ini";
    const fs::path depois = pasta_ / "log/kwCFG-depois-RPC.ini";
    struct Case {
        const char* nome;
        std::string linhas;  // rows of epadConfigServidor
        std::string rpc;     // the [RPC] values written
        bool copias;         // the copies stay (the file changed)
    };
    const Case cases[] = {
        {"both on, any case",
         "('', 'a', 'RPC.CONTROLAR_RECONEXAO', 'true', ''), ('', 'a', 'RPC.CONSULTAR_DISPID_LOCAL', 'TRUE', "
         "'')",
         "ControlarReconexao=1\nConsultarDispIDLocal=1", true},
        {"the same again", "", "ControlarReconexao=1\nConsultarDispIDLocal=1", false},
        {"one off",
         "('', 'a', 'RPC.CONTROLAR_RECONEXAO', 'TRUE', ''), ('', 'a', 'RPC.CONSULTAR_DISPID_LOCAL', 'N', '')",
         "ControlarReconexao=1\nConsultarDispIDLocal=0", true},
        {"no rows", "()", "ControlarReconexao=0\nConsultarDispIDLocal=0", true},
    };
    std::string cfg;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nome);
        if (!c.linhas.empty()) {
            banco_->Exec("delete from epadConfigServidor");
            if (c.linhas != "()") banco_->Exec("insert into epadConfigServidor values " + c.linhas);
        }
        TkwUpdLoader& l = Loader();
        if (!cfg.empty()) pasta_.WriteOld("kwCFG.ini", cfg);  // the file as the last run left it
        estrada_.ConfigureParametrosRPC(l);
        cfg = kwtest::ReadFile(pasta_ / "kwCFG.ini");
        EXPECT_NE(rtl::StringReplace(cfg, "\r\n", "\n").find("[RPC]\n" + c.rpc), std::string::npos) << cfg;
        EXPECT_NE(cfg.find("[Database]"), std::string::npos);
        EXPECT_EQ(fs::exists(antes), c.copias);
        EXPECT_EQ(fs::exists(depois), c.copias);
        const auto log = Log();
        EXPECT_TRUE(Contains(log, " - Consultar parâmetros RPC"));
        EXPECT_TRUE(Contains(log, c.copias ? " - Os arquivos de backup são diferentes."
                                           : " - Os arquivos de backup são iguais e serão removidos."));
    }
    // A switch that cannot be read is off, and the run goes on with the cause in the log.
    banco_->Exec("drop table epadConfigServidor");
    TkwUpdLoader& l = Loader();
    estrada_.ConfigureParametrosRPC(l);
    EXPECT_NE(rtl::StringReplace(kwtest::ReadFile(pasta_ / "kwCFG.ini"), "\r\n", "\n")
                  .find("[RPC]\nControlarReconexao=0\nConsultarDispIDLocal=0"),
              std::string::npos);
    bool causa = false;
    for (const auto& linha : Log())
        causa = causa || linha.rfind(" - Não foi possível consultar os parâmetros RPC: ", 0) == 0;
    EXPECT_TRUE(causa);
}

TEST_P(RequisitosDoBanco, EachSystemKeepsItsOwnSecondarySites) {
    CrieTabelas();
    // The generic system's site row comes last, with other secondary sites and flags: the
    // system's lines still carry the system's own.
    banco_->Exec(
        "insert into epadLocalUpdate values "
        "(3, 1, 'C:\\s3\\', 'u3', 'p3', 'N', '2026-01-15 10:00:00', 'http://s3b/', 'S', 'S', 'ftp:s3c\\', "
        "'S'),"
        "(-1, 1, 'C:\\g\\', 'ug', 'pg', 'N', '2026-01-15 10:00:00', 'http://gb/', 'N', 'N', null, null);\n"
        "insert into epadObjetoUpdate values "
        "(3, 1, 'a.exe', 1, '', '', 1, 1, '2026-01-15 10:00:00', 0),"
        "(-1, 2, 'g.dll', 1, '', '', 1, 1, '2026-01-15 10:00:00', 0);");
    const TkwDadosRequisitosBanco r = Consulta(3, 1, 4);
    EXPECT_EQ(r.Erro, "");
    EXPECT_EQ(LinhasDe(r.Requisitos),
              (std::vector<std::string>{"-1;1;g.dll;;;1;1;C:\\g\\;ug;pg;0;http://gb/;;N;N;N",
                                        "3;1;a.exe;;;1;1;C:\\s3\\;u3;p3;0;http://s3b/;ftp:s3c\\;S;S;S"}));
    EXPECT_EQ(LinhasDe(r.Requisitos), Oraculo(4, "LU.cdLocalUpdate = 1"));
}

TEST_P(RequisitosDoBanco, AValueThatWouldShiftTheFieldsLeavesItsObjectOut) {
    CrieTabelas();
    Preencha();
    const std::string nl = banco_->QuebraDeLinha();
    banco_->Exec(
        "insert into epadObjetoUpdate values "
        "(3, 13, 'a;b.txt', 4, '', '', 1, 1, '2026-01-15 10:00:00', 0),"
        "(3, 14, 'quebra.txt', 5, 'linha1' || " +
        nl +
        " || 'linha2', '', 1, 1, '2026-01-15 10:00:00', 0),"
        "(3, 15, 'origem.txt', 6, '', 'x;y', 1, 1, '2026-01-15 10:00:00', 0)");
    const TkwDadosRequisitosBanco r = Consulta(3, 1, 4);
    EXPECT_EQ(r.Erro, "");
    // The well-formed objects, as before.
    EXPECT_EQ(LinhasDe(r.Requisitos), Oraculo(4, "LU.cdLocalUpdate = 1 and OU.nuSeqObjeto < 4"));
    for (const char* linha :
         {" - ATENÇÃO!!! O objeto update \"a;b.txt\" do sistema \"3\" foi ignorado: o valor do campo "
          "nmObjeto "
          "contém \";\" ou uma quebra de linha.",
          " - ATENÇÃO!!! O objeto update \"quebra.txt\" do sistema \"3\" foi ignorado: o valor do campo "
          "nmLocalDestino contém \";\" ou uma quebra de linha.",
          " - ATENÇÃO!!! O objeto update \"origem.txt\" do sistema \"3\" foi ignorado: o valor do campo "
          "nmLocalOrigem contém \";\" ou uma quebra de linha."})
        EXPECT_NE(r.LogConsulta.find(linha), std::string::npos) << linha;

    // A site value with ";" (a scrambled password may hold one) leaves out every object of its
    // system; the other system's lines stay.
    banco_->Exec("update epadLocalUpdate set deSenha = 'p;w' where cdSistema = 3");
    const TkwDadosRequisitosBanco s = Consulta(3, 1, 4);
    EXPECT_EQ(s.Erro, "");
    EXPECT_EQ(
        LinhasDe(s.Requisitos),
        (std::vector<std::string>{"-1;1;comum.dll;;comum\\;2;1;C:\\sites\\generico\\;usrg;;77;;;S;N;N"}));
    EXPECT_NE(s.LogConsulta.find("\"QOR.exe\" do sistema \"3\" foi ignorado: o valor do campo deSenha"),
              std::string::npos);
}

TEST_P(RequisitosDoBanco, AKw3File) {
    CrieTabelas(banco_->Esquema());
    Preencha();
    // [DataBaseName] makes the file of generation KW3: its alias, on the alias path.
    std::string secao = banco_->Secao();
    if (std::string(GetParam()) == "postgres") {
        // The alias path takes a data source name: one for the server's database.
        const std::string dsn = "KWREQPG_" + std::to_string(Postgres::Server().Port());
        DataSources::Get().AddEntry(
            dsn, {"Driver=" + std::string(Postgres::kAnsiDriver), "Servername=" + Postgres::Server().Host(),
                  "Port=" + std::to_string(Postgres::Server().Port()), "Database=kwreq"});
        secao = "Alias=" + dsn + "\n";
    }
    pasta_.WriteOld("kwCFG.ini", "[KWUPDATE]\nTipoServidor=LOCAL\nCdSistema=3\n\n[DataBaseName]\n" + secao +
                                     "Esquema=" + banco_->Esquema() + "\n");
    loader_.reset();
    ResetConfigurationSingletons();
    loader_ = std::make_unique<TkwUpdLoader>();
    loader_->DBUser = "qorbanco";
    loader_->DBPassword = "trelvoma";
    loader_->CdSistema = 3;
    loader_->CdLocalUpdate = 1;
    if (std::string(GetParam()) == "oracle") {
        // A KW3 file names no database type: its alias is always a data source of the alias
        // path, so an Oracle database cannot be reached this way.
        EXPECT_EQ(Requisitos(*loader_).rfind("ERRO: Erro ao conectar com o banco de dados. ", 0), 0u);
        return;
    }
    EXPECT_EQ(LinhasDe(Requisitos(*loader_)), Oraculo(4, "LU.cdLocalUpdate = 1"));
    EXPECT_TRUE(Contains(Log(), " - kwCFG.ini do KW3. Pegando \"Alias\" e \"Esquema\" do banco de dados..."));
}

INSTANTIATE_TEST_SUITE_P(Bancos, RequisitosDoBanco, ::testing::Values("sqlite", "postgres", "oracle"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

}  // namespace
