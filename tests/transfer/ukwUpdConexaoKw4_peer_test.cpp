// The application-server and balancer connections against the scripted application server:
// the whole exchange and what the server received (the login's arguments, the request's form
// text), the login codes, the requisites methods' fall-backs, [RPC] and its copies, the
// balancer lists, HTTP and HTTPS, the balancer's request, and a thread that loses its attempt
// and finishes after its connection object, its log and its settings reader are gone.
#include "transfer/ukwUpdConexaoKw4.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "common/LauncherBaseTestSupport.h"
#include "common/ukwUpdConfig.h"
#include "common/ukwUpdIni.h"
#include "common/ukwUpdLog.h"
#include "support/AppServerPeer.h"
#include "transfer/ConexaoTestSupport.h"
#include "transfer/ukwFuncoesAPI.h"
#include "transfer/ukwFuncoesTCP.h"
#include "transfer/ukwObjDadosRequisito.h"
#include "transfer/ukwTransferenciaObjeto.h"

namespace {

namespace fs = std::filesystem;
using kwtest::AppServerPeer;
using kwtest::AttemptClock;
using kwtest::Json;
using kwtest::TelaDeTeste;

constexpr const char* kGuid = "{6F9A3B1C-0D2E-4F50-8A7B-1C2D3E4F5A6B}";
constexpr const char* kGuidBalanceador = "{0B1A2C3D-4E5F-4061-8293-A4B5C6D7E8F9}";

// The application server's script: login answers and the data module's methods (JSON members).
std::string Script(const std::string& login, const std::string& kwDB, const std::string& modo = "socket",
                   const std::string& extra = "") {
    return R"({"mode": ")" + modo + R"(", )" + extra + R"( "objects": [
        {"guid": ")" +
           std::string(kGuid) + R"(", "name": "AppServer", "methods": {
            "login": )" +
           login + R"(,
            "kwDB": {"result": {"object": "kwDB"}}}},
        {"name": "kwDB", "methods": {)" +
           kwDB + R"(}},
        {"guid": ")" +
           std::string(kGuidBalanceador) + R"(", "name": "Balanceador", "methods": {
            "GetServidorParametros": {"result": "srvA;idA;)" +
           std::string(kGuid) + R"(;127.0.0.1:9;http://x/y"}}}]})";
}

const std::string kLoginOk = R"({"byref": {"6": 3, "7": "Bem-vindo"}})";
const std::string kRPC = R"("GetParamConsultarDispIDLocal": {"result": true},
                            "GetParamControlarReconexao": {"result": false},
                            "GetAliasConectado": {"result": "QORPROD"})";

bool Tem(const std::vector<std::string>& linhas, const std::string& linha) {
    return std::find(linhas.begin(), linhas.end(), linha) != linhas.end();
}

int Conte(const std::vector<std::string>& linhas, const std::string& inicio) {
    return int(std::count_if(linhas.begin(), linhas.end(),
                             [&](const std::string& l) { return l.rfind(inicio, 0) == 0; }));
}

// The lines appear in this order (others may come between).
::testing::AssertionResult EmOrdem(const std::vector<std::string>& linhas,
                                   const std::vector<std::string>& esperadas) {
    size_t i = 0;
    for (const std::string& l : linhas)
        if (i < esperadas.size() && l == esperadas[i]) ++i;
    if (i == esperadas.size()) return ::testing::AssertionSuccess();
    std::string todas;
    for (const auto& l : linhas)
        todas += "\n  " + l;
    return ::testing::AssertionFailure()
           << "missing or out of order: \"" << esperadas[i] << "\" in:" << todas;
}

// The invokes the server saw, by method name, in order.
std::vector<std::string> Metodos(const AppServerPeer& peer) {
    std::vector<std::string> r;
    for (const Json& j : peer.Requests("invoke"))
        r.push_back(j["method"].str());
    return r;
}

std::vector<Json> Chamadas(const AppServerPeer& peer, const std::string& metodo) {
    std::vector<Json> r;
    for (Json& j : peer.Requests("invoke"))
        if (j["method"].str() == metodo) r.push_back(std::move(j));
    return r;
}

class ConexaoKw4 : public ::testing::Test {
protected:
    ConexaoKw4() {
        pasta_.WriteOld("kwCFG.ini", kCfg);
        kwUpdConfig().GetDiretorioTrabalho();  // the launcher's log folder, as the launcher makes it
        kwUpdIni().SetLog(log_.get());
    }
    ~ConexaoKw4() override { kwUpdIni().SetLog(nullptr); }

    std::unique_ptr<TkwUpdConexaoKw4> Nova(const AppServerPeer& peer, const std::string& tipo = "SOCKET") {
        auto c = std::make_unique<TkwUpdConexaoKw4>();
        c->SetTipoConexao(tipo);
        c->EnderecoIP = peer.Address();
        c->GUIDServidor = kGuid;
        c->CdSistema = 7;
        c->CdSistemaGenerico = -1;
        c->CdLocalUpdate = 3;
        c->Log = log_.get();
        c->TelaStatus = &tela_;
        return c;
    }
    std::string Cfg() const { return kwtest::ReadFile(pasta_ / "kwCFG.ini"); }
    std::vector<std::string> CopiasNoLog() const {
        std::vector<std::string> r;
        for (const auto& e : fs::directory_iterator(pasta_ / "log"))
            if (e.path().filename().string().rfind("kwCFG-", 0) == 0)
                r.push_back(e.path().filename().string());
        std::sort(r.begin(), r.end());
        return r;
    }

    static constexpr const char* kCfg = "[KWUPDATE]\r\nCdSistema=7\r\n";
    kwtest::LauncherFolder pasta_{"kwLoader"};
    std::unique_ptr<TkwUpdLog> log_ = std::make_unique<TkwUpdLog>();
    TelaDeTeste tela_;
    kwtest::ScopedEnv semProxy_{"no_proxy", "127.0.0.1,localhost"};
    AttemptClock relogio_;  // closed: no attempt times out unless a test opens it
};

TEST_F(ConexaoKw4, TheWholeExchangeOverTheSocketRoad) {
    AppServerPeer peer(Script(kLoginOk, kRPC + R"(,
        "GetDadosRequisitosBanco5": {"result": "1;1;A.EXE;;;2;1;C:\\site\\;;;0",
                                     "byref": {"2": "log do servidor\r\nsegunda linha"}},
        "TestarSeAtualizacaoVersionada": {"result": true},
        "GetBalanceadoresPorBaseETipoConexao_V2": {"result": "[kwBalanceador]\r\nGUID={B}\r\nEnderecoIP1=10.0.0.9:211\r\n"})"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    auto c = Nova(peer);
    c->Conectar();
    EXPECT_TRUE(c->GetServidorEncontrado());
    EXPECT_FALSE(c->GetTimeOut());
    EXPECT_EQ(c->MensagemErro, "");
    EXPECT_EQ(c->Requisitos, "1;1;A.EXE;;;2;1;C:\\site\\;;;0");
    EXPECT_TRUE(c->AtualizacaoVersionada);
    c->Desconectar();

    const std::vector<std::string> log = kwtest::Texts(*log_);
    EXPECT_TRUE(EmOrdem(
        log,
        {" - Fazendo login no servidor de aplicação...", " - Login OK. Verificando os requisitos...",
         " - Escrevendo configurações de RPC no kwCFG.ini",
         " - Método remoto executado \"GetDadosRequisitosBanco5\".",
         " - Método remoto executado \"TestarSeAtualizacaoVersionada\".", "log do servidor", "segunda linha",
         " - Verificando os requisitos OK. Pegando os balanceadores por base e tipo de conexão "
         "V2..."}));
    EXPECT_EQ(Conte(log, " - Verificando os requisitos OK."), 1);
    EXPECT_EQ(tela_.tarefas,
              (std::vector<std::string>{
                  "Testando conexão com servidor de aplicação no seguinte endereço: \r\n" + peer.Address(),
                  "Conectando ao servidor de aplicação no seguinte endereço: \r\n" + peer.Address()}));

    // [RPC] from the server's switches, the balancer list as the new section.
    EXPECT_EQ(Cfg(),
              "[KWUPDATE]\r\nCdSistema=7\r\n[RPC]\r\nControlarReconexao=0\r\nConsultarDispIDLocal=1\r\n\r\n"
              "[kwBalanceador]\r\nGUID={B}\r\nEnderecoIP1=10.0.0.9:211\r\n");
    // The copies before and after differ, so both stay, under the same stamp.
    const std::vector<std::string> copias = CopiasNoLog();
    ASSERT_EQ(copias.size(), 2u);
    EXPECT_EQ(copias[0].substr(0, 16), "kwCFG-antes-RPC-");
    EXPECT_EQ(copias[1], "kwCFG-depois-RPC-" + copias[0].substr(16));

    EXPECT_EQ(Metodos(peer),
              (std::vector<std::string>{"login", "kwDB", "kwDB", "GetParamConsultarDispIDLocal", "kwDB",
                                        "GetParamControlarReconexao", "GetAliasConectado",
                                        "GetDadosRequisitosBanco5", "TestarSeAtualizacaoVersionada",
                                        "GetBalanceadoresPorBaseETipoConexao_V2"}));
    // The login: nine arguments, four by reference.
    const Json login = Chamadas(peer, "login").at(0);
    EXPECT_FALSE(login["result_wanted"].boolean());
    ASSERT_EQ(login["args"].size(), 9u);
    const Json& a = login["args"];
    EXPECT_TRUE(a[0]["byref"].boolean());
    EXPECT_EQ(a[0]["type"].integer(), 3);
    EXPECT_EQ(a[0]["value"].integer(), 7);
    for (size_t i : {1u, 2u, 3u, 8u}) {
        EXPECT_EQ(a[i]["type"].integer(), 8) << i;
        EXPECT_EQ(a[i]["value"].str(), "") << i;
        EXPECT_FALSE(a[i]["byref"].boolean()) << i;
    }
    EXPECT_EQ(a[4]["value"].str(), PegueIPLocal());
    EXPECT_TRUE(a[5]["byref"].boolean());
    EXPECT_EQ(a[5]["value"].integer(), 0);
    EXPECT_TRUE(a[6]["byref"].boolean());
    EXPECT_EQ(a[6]["type"].integer(), 8);
    EXPECT_EQ(a[6]["value"].str(), "");
    EXPECT_TRUE(a[7]["byref"].boolean());
    EXPECT_EQ(a[7]["value"].integer(), 0);

    // The request: the form text of the codes and the interface lines, by reference; the log
    // and error texts empty.
    const Json banco5 = Chamadas(peer, "GetDadosRequisitosBanco5").at(0);
    ASSERT_EQ(banco5["args"].size(), 3u);
    TkwObjDadosRequisito pedido;
    pedido.SetCdSistema(7);
    pedido.SetCdSistemaGenerico(-1);
    pedido.SetCdLocalUpdate(3);
    pedido.SetEndereco(ListeInterfacesRede());
    EXPECT_EQ(banco5["args"][0]["value"].str(), TkwTransferenciaObjeto::ObjetoParaTexto(pedido));
    EXPECT_EQ(banco5["args"][0]["value"].str().rfind("object TkwObjDadosRequisito\r\n  CdSistema = 7\r\n", 0),
              0u)
        << banco5["args"][0]["value"].str();
    for (size_t i : {0u, 1u, 2u})
        EXPECT_TRUE(banco5["args"][i]["byref"].boolean()) << i;
    EXPECT_EQ(banco5["args"][1]["value"].str(), "");
    // The balancer list: the alias by reference, an empty text.
    const Json v2 = Chamadas(peer, "GetBalanceadoresPorBaseETipoConexao_V2").at(0);
    ASSERT_EQ(v2["args"].size(), 2u);
    EXPECT_EQ(v2["args"][0]["value"].str(), "QORPROD");
    EXPECT_TRUE(v2["args"][0]["byref"].boolean());
    EXPECT_EQ(v2["args"][1]["value"].str(), "");
}

TEST_F(ConexaoKw4, LoginCodes) {
    struct Case {
        int codigo;
        const char* mensagem;
        std::string erro;  // empty: logged in
    };
    const std::string db =
        "Não foi possível efetuar a conexão com o banco de dados. Possíveis causas: banco de dados fora do "
        "ar, "
        "configuração incorreta do cliente de banco de dados, da BDE ou do arquivo de configuração "
        "kwCfg.ini.";
    const std::vector<Case> cases = {
        {1, "ORA-12541", db + "\n\r\n\rMensagem original : ORA-12541"},
        {2, "manutenção", "Banco de dados em manutenção. Mensagem: manutenção"},
        {3, "aviso 3", ""},
        {4, "aviso 4", ""},
        {5, "aviso 5", ""},
        {6, "aviso 6", ""},
        {0, "falhou", "Erro ao acessar o servivor de aplicação. Mensagem: falhou"},
        {0, "", ""},
        {13, "QOR",
         "O sistema tentou conectar ao banco de dados de alias \"QOR\" mas ele não está registrado na BDE. "
         "Entre em contato com o suporte para registrar o alias na BDE e verificar no kwCfg.ini se a "
         "configuração para o Alias na sessão [Database] também está correta."},
    };
    std::string respostas;
    for (const Case& c : cases)
        respostas += std::string(respostas.empty() ? "" : ", ") + R"({"byref": {"6": )" +
                     std::to_string(c.codigo) + R"(, "7": ")" + c.mensagem + R"("}})";
    AppServerPeer peer(Script("[" + respostas + "]", kRPC + R"(, "GetDadosRequisitosBanco5": {"result": "r"},
        "TestarSeAtualizacaoVersionada": {"result": false}, "GetBalanceadores": {"result": "a\r\nb"})"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.codigo);
        log_ = std::make_unique<TkwUpdLog>();
        kwUpdIni().SetLog(log_.get());
        auto conexao = Nova(peer);
        conexao->Conectar();
        EXPECT_EQ(conexao->MensagemErro, c.erro);
        EXPECT_EQ(conexao->Requisitos, c.erro.empty() ? "r" : "");
        EXPECT_EQ(Tem(kwtest::Texts(*log_), " - Login OK. Verificando os requisitos..."), c.erro.empty());
    }
    EXPECT_EQ(Chamadas(peer, "login").size(), cases.size());
}

TEST_F(ConexaoKw4, AServerThatKnowsOnlyMethod4) {
    AppServerPeer peer(Script(kLoginOk, kRPC + R"(,
        "GetDadosRequisitosBanco4": {"result": "r4", "byref": {"1": 70, "2": -2, "3": 30, "5": "log 4"}},
        "TestarSeAtualizacaoVersionada": {"result": true})"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    auto c = Nova(peer);
    c->PodeBalancear = false;
    c->Conectar();
    EXPECT_EQ(c->MensagemErro, "");
    EXPECT_EQ(c->Requisitos, "r4");
    // The codes the server handed back replace the connection's own.
    EXPECT_EQ(c->CdSistema, 70);
    EXPECT_EQ(c->CdSistemaGenerico, -2);
    EXPECT_EQ(c->CdLocalUpdate, 30);
    const std::vector<std::string> log = kwtest::Texts(*log_);
    EXPECT_TRUE(
        EmOrdem(log, {" - Erro ao obter requisitos: Method 'GetDadosRequisitosBanco5' not supported by "
                      "automation object",
                      " - Método remoto executado \"GetDadosRequisitosBanco4\".", "log 4"}));
    EXPECT_FALSE(Tem(log, " - Executando pelo modo antigo"));
    EXPECT_EQ(Conte(log, " - Verificando os requisitos OK."), 0);  // no balancing
    const Json b4 = Chamadas(peer, "GetDadosRequisitosBanco4").at(0);
    ASSERT_EQ(b4["args"].size(), 6u);
    EXPECT_EQ(b4["args"][0]["value"].integer(), 7);
    EXPECT_EQ(b4["args"][1]["value"].integer(), -1);
    EXPECT_EQ(b4["args"][2]["value"].integer(), 3);
    for (size_t i = 0; i < 6; ++i)
        EXPECT_TRUE(b4["args"][i]["byref"].boolean()) << i;
    EXPECT_EQ(b4["args"][3]["value"].str(), ListeInterfacesRede());
}

TEST_F(ConexaoKw4, AServerThatKnowsOnlyMethod2) {
    AppServerPeer peer(Script(kLoginOk, kRPC + R"(,
        "GetDadosRequisitosBanco2": {"result": "r2"}, "TestarSeAtualizacaoVersionada": {"result": false})"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    auto c = Nova(peer);
    c->PodeBalancear = false;
    c->Conectar();
    EXPECT_EQ(c->MensagemErro, "");
    EXPECT_EQ(c->Requisitos, "r2");
    const std::vector<std::string> log = kwtest::Texts(*log_);
    const std::string erro = " - Erro ao obter requisitos: Method 'GetDadosRequisitosBanco";
    const std::string fim = "' not supported by automation object";
    EXPECT_TRUE(EmOrdem(
        log, {erro + "5" + fim, erro + "4" + fim, " - Executando pelo modo antigo", erro + "3" + fim,
              " - Executando pelo modo antigo", " - Método remoto executado \"GetDadosRequisitosBanco2\"."}));
    EXPECT_EQ(Conte(log, " - Executando pelo modo antigo"), 2);
    EXPECT_EQ(Conte(log, " - Erro ao obter requisitos: "), 3);
    EXPECT_EQ(Chamadas(peer, "GetDadosRequisitosBanco2").at(0)["args"].size(), 5u);
}

TEST_F(ConexaoKw4, NoRequisitesMethodAtAllEndsTheExchange) {
    AppServerPeer peer(Script(kLoginOk, kRPC + R"(, "TestarSeAtualizacaoVersionada": {"result": true})"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    auto c = Nova(peer);
    c->Conectar();
    EXPECT_EQ(c->MensagemErro, "Method 'GetDadosRequisitosBanco2' not supported by automation object");
    EXPECT_EQ(c->Requisitos, "");
    EXPECT_FALSE(c->AtualizacaoVersionada);
    EXPECT_TRUE(Chamadas(peer, "TestarSeAtualizacaoVersionada").empty());
}

TEST_F(ConexaoKw4, AFailingVersionedFlagKeepsItsValueAndTheBalancerListsGoOn) {
    AppServerPeer peer(Script(kLoginOk, kRPC + R"(,
        "GetDadosRequisitosBanco5": {"result": "r"},
        "GetBalanceadoresPorBaseETipoConexao": {"error": "não nesta versão"},
        "GetBalanceadores_V2": {"result": "[kwBalanceador]\r\nGUID={B}\r\nEnderecoURL1=http://b/x"})"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    auto c = Nova(peer);
    c->AtualizacaoVersionada = true;
    c->Conectar();
    EXPECT_EQ(c->MensagemErro, "");
    EXPECT_TRUE(c->AtualizacaoVersionada);
    const std::vector<std::string> log = kwtest::Texts(*log_);
    EXPECT_TRUE(EmOrdem(
        log,
        {" - Erro ao executar o método remoto \"TestarSeAtualizacaoVersionada\": Method "
         "'TestarSeAtualizacaoVersionada' not supported by automation object",
         " - Verificando os requisitos OK. Pegando os balanceadores por base e tipo de conexão V2...",
         " - Ocorreu um erro tentando pegar os balanceadores por base e tipo de conexão V2: Method "
         "'GetBalanceadoresPorBaseETipoConexao_V2' not supported by automation object",
         " - Verificando os requisitos OK. Pegando os balanceadores por base e tipo de conexão...",
         " - Ocorreu um erro tentando pegar os balanceadores por base e tipo de conexão: não nesta versão",
         " - Verificando os requisitos OK. Pegando os balanceadores por base V2..."}));
    EXPECT_EQ(Conte(log, " - Verificando os requisitos OK."), 3);
    EXPECT_NE(Cfg().find("\r\n\r\n[kwBalanceador]\r\nGUID={B}\r\nEnderecoURL1=http://b/x\r\n"),
              std::string::npos);
    const Json v2 = Chamadas(peer, "GetBalanceadores_V2").at(0);
    ASSERT_EQ(v2["args"].size(), 1u);
    EXPECT_EQ(v2["args"][0]["value"].str(), "QORPROD");
}

TEST_F(ConexaoKw4, ARefusedOrShortBalancerListLeavesTheSectionAlone) {
    // V2 answers two lines (left alone, and it counts as the answer); then a list that holds
    // another section is refused as a failure of that method and the next one is asked.
    AppServerPeer peer(Script(kLoginOk, kRPC + R"(,
        "GetDadosRequisitosBanco5": {"result": "r"}, "TestarSeAtualizacaoVersionada": {"result": false},
        "GetBalanceadoresPorBaseETipoConexao_V2": [{"result": "[kwBalanceador]\r\nGUID={B}"},
            {"result": "[kwBalanceador]\r\nGUID={B}\r\n[KWUPDATE]\r\nCdSistema=99"}],
        "GetBalanceadoresPorBaseETipoConexao": {"result": "x\r\ny"})"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    auto c = Nova(peer);
    c->Conectar();
    EXPECT_EQ(c->MensagemErro, "");
    EXPECT_EQ(Metodos(peer).back(), "GetBalanceadoresPorBaseETipoConexao_V2");
    const std::string antes = Cfg();
    EXPECT_EQ(antes.find("kwBalanceador"), std::string::npos);

    relogio_.Clock().Advance(1);
    c->Conectar();
    EXPECT_EQ(c->MensagemErro, "");
    EXPECT_TRUE(Tem(kwtest::Texts(*log_),
                    " - Ocorreu um erro tentando pegar os balanceadores por base e tipo de conexão V2: A "
                    "lista de balanceadores recebida do servidor de aplicação foi recusada: a linha 3 não "
                    "pertence à seção [kwBalanceador]."));
    EXPECT_EQ(Metodos(peer).back(), "GetBalanceadoresPorBaseETipoConexao");
    EXPECT_EQ(Cfg(), antes);
}

TEST_F(ConexaoKw4, TheServersErrorTextEndsTheExchangeBeforeTheBalancers) {
    AppServerPeer peer(Script(kLoginOk, kRPC + R"(,
        "GetDadosRequisitosBanco5": {"result": "r", "byref": {"2": "log", "3": "sem permissão"}},
        "TestarSeAtualizacaoVersionada": {"result": true})"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    auto c = Nova(peer);
    c->Conectar();
    EXPECT_EQ(c->MensagemErro, "sem permissão");
    EXPECT_EQ(c->Requisitos, "r");
    EXPECT_TRUE(Tem(kwtest::Texts(*log_), "log"));
    EXPECT_EQ(Conte(kwtest::Texts(*log_), " - Verificando os requisitos OK."), 0);
}

TEST_F(ConexaoKw4, ANullDataModule) {
    const std::string script = R"({"mode": "socket", "objects": [{"guid": ")" + std::string(kGuid) +
                               R"(", "name": "AppServer", "methods": {"login": )" + kLoginOk +
                               R"(, "kwDB": {"result": null}}}]})";
    AppServerPeer peer(script);
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    auto c = Nova(peer);
    c->Conectar();
    EXPECT_EQ(c->MensagemErro, "O kwDB retornado do servidor de aplicação está nulo.");
    EXPECT_EQ(Metodos(peer), (std::vector<std::string>{"login", "kwDB"}));
    EXPECT_EQ(Cfg(), kCfg);
}

TEST_F(ConexaoKw4, RPCThatCannotBeReadIsWrittenOffWithItsCopies) {
    AppServerPeer peer(Script(kLoginOk, R"("GetAliasConectado": {"result": "Q"},
        "GetDadosRequisitosBanco5": {"result": "r"}, "TestarSeAtualizacaoVersionada": {"result": true})"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    auto c = Nova(peer);
    c->PodeBalancear = false;
    c->Conectar();
    EXPECT_EQ(c->MensagemErro, "");
    EXPECT_EQ(c->Requisitos, "r");
    EXPECT_TRUE(Tem(kwtest::Texts(*log_),
                    " - TkwUpdConexaoKw4.AtualizarINIRPC: Method 'GetParamConsultarDispIDLocal' not "
                    "supported by automation object"));
    EXPECT_EQ(Cfg(),
              "[KWUPDATE]\r\nCdSistema=7\r\n[RPC]\r\nControlarReconexao=0\r\nConsultarDispIDLocal=0\r\n");
    std::vector<std::string> copias = CopiasNoLog();
    ASSERT_EQ(copias.size(), 3u) << ::testing::PrintToString(copias);
    EXPECT_EQ(copias[0].substr(0, 16), "kwCFG-antes-RPC-");
    const std::string marca = copias[0].substr(16);
    EXPECT_EQ(copias[1], "kwCFG-excecao-antes-RPC-" + marca);
    EXPECT_EQ(copias[2], "kwCFG-excecao-depois-RPC-" + marca);

    // Again, with the section already so: this run's pair is equal and goes; its copy before
    // the failure stays, as every such copy does.
    relogio_.Clock().Advance(1);
    c->Conectar();
    std::vector<std::string> depois = CopiasNoLog();
    ASSERT_EQ(depois.size(), 4u) << ::testing::PrintToString(depois);
    depois.erase(std::find(depois.begin(), depois.end(), copias[0]));
    EXPECT_EQ(depois[0].substr(0, 16), "kwCFG-antes-RPC-");
    EXPECT_NE(depois[0], copias[0]);
    EXPECT_EQ(std::vector<std::string>(depois.begin() + 1, depois.end()),
              std::vector<std::string>(copias.begin() + 1, copias.end()));
}

TEST_F(ConexaoKw4, TheWebRoadSendsItsAddressAsTheWorkstations) {
    AppServerPeer peer(Script(kLoginOk, kRPC + R"(, "GetDadosRequisitosBanco5": {"result": "rw"},
        "TestarSeAtualizacaoVersionada": {"result": true})",
                              "http"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    auto c = Nova(peer, "HTTP");
    c->EnderecoIP.clear();
    c->EnderecoURL = "http://127.0.0.1:" + std::to_string(peer.Port()) + "/kw/servidor.dll";
    c->PodeBalancear = false;
    c->Conectar();
    EXPECT_EQ(c->MensagemErro, "");
    EXPECT_EQ(c->Requisitos, "rw");
    const Json banco5 = Chamadas(peer, "GetDadosRequisitosBanco5").at(0);
    EXPECT_EQ(banco5["http"]["path"].str(), "/kw/servidor.dll");
    EXPECT_EQ(banco5["args"][0]["value"].str(),
              "object TkwObjDadosRequisito\r\n  CdSistema = 7\r\n  CdSistemaGenerico = -1\r\n  CdLocalUpdate "
              "= 3\r\n"
              "  Endereco = 'http://127.0.0.1:" +
                  std::to_string(peer.Port()) + "/kw/servidor.dll'\r\nend\r\n");
}

// A server over HTTPS with a certificate that logs in and gives the requisites "rs".
std::string HttpsRequisites(const AppServerPeer::Certificate& cert) {
    return Script(kLoginOk, kRPC + R"(, "GetDadosRequisitosBanco5": {"result": "rs"},
        "TestarSeAtualizacaoVersionada": {"result": true})",
                  "https",
                  R"("cert": ")" + cert.cert.string() + R"(", "key": ")" + cert.key.string() + R"(",)");
}

TEST_F(ConexaoKw4, HttpsTrustsTheCertificateFileBesideTheExecutable) {
    const AppServerPeer::Certificate cert =
        AppServerPeer::MakeCertificate(pasta_ / "", "appserver", "DNS:localhost,IP:127.0.0.1");
    KW_REQUIRE_PEER(!cert.der.empty(), "openssl req");
    AppServerPeer peer(HttpsRequisites(cert));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    const std::string url = "https://127.0.0.1:" + std::to_string(peer.Port()) + "/kw/httpsrvr.dll";
    {
        // Without the file the address is not tried.
        auto c = Nova(peer, "HTTP");
        c->EnderecoURL = url;
        c->Conectar();
        EXPECT_NE(c->MensagemErro.find("kwLoaderApp.cer' não foi encontrado"), std::string::npos)
            << c->MensagemErro;
        EXPECT_TRUE(peer.Requests("create").empty());
    }
    kwtest::WriteFile(pasta_ / "kwLoaderApp.cer", cert.der);
    auto c = Nova(peer, "HTTP");
    c->EnderecoURL = url;
    c->PodeBalancear = false;
    c->Conectar();
    EXPECT_EQ(c->MensagemErro, "");
    EXPECT_EQ(c->Requisitos, "rs");
    EXPECT_EQ(peer.Requests("create").size(), 1u);
}

// The web road's host check reads an address the way the resolver does: "0x7f.0.0.1" is
// 127.0.0.1, named by a certificate's IP address and never by a DNS name such as "*.0.0.1".
TEST_F(ConexaoKw4, HttpsChecksAHostWrittenAsAnAddressAsThatAddress) {
    const struct {
        const char* names;
        bool connects;
    } cases[] = {{"IP:127.0.0.1", true}, {"DNS:*.0.0.1", false}};
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.names);
        const AppServerPeer::Certificate cert =
            AppServerPeer::MakeCertificate(pasta_ / "", "appserver", tc.names);
        KW_REQUIRE_PEER(!cert.der.empty(), "openssl req");
        AppServerPeer peer(HttpsRequisites(cert));
        KW_REQUIRE_PEER(peer.Available(), peer.Reason());
        kwtest::WriteFile(pasta_ / "kwLoaderApp.cer", cert.der);
        auto c = Nova(peer, "HTTP");
        c->EnderecoURL = "https://0x7f.0.0.1:" + std::to_string(peer.Port()) + "/kw/httpsrvr.dll";
        c->PodeBalancear = false;
        c->Conectar();
        if (tc.connects) {
            EXPECT_EQ(c->MensagemErro, "");
            EXPECT_EQ(c->Requisitos, "rs");
        } else {
            EXPECT_NE(c->MensagemErro, "");
            EXPECT_EQ(c->Requisitos, "");
            EXPECT_TRUE(peer.Requests("create").empty());
        }
    }
}

// The attempt times out while the server holds the first RPC call; the connection object, the
// log and the settings reader's log are gone before the thread, cancelled, goes on: nothing of
// what it does after the decision reaches anyone (its failure path would write [RPC] off).
TEST_F(ConexaoKw4, ALateThreadAfterItsOwnerIsFreedTouchesNothing) {
    AppServerPeer peer(Script(kLoginOk, R"("GetParamConsultarDispIDLocal": {"delay": 60},
        "GetParamControlarReconexao": {"result": true}, "GetAliasConectado": {"result": "Q"},
        "GetDadosRequisitosBanco5": {"result": "r"}, "TestarSeAtualizacaoVersionada": {"result": true})"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    tela_.OnProcesse = [&] {
        if (!Chamadas(peer, "GetParamConsultarDispIDLocal").empty()) relogio_.Clock().Open();
    };
    auto c = Nova(peer);
    c->Conectar();
    EXPECT_TRUE(c->GetTimeOut());
    EXPECT_EQ(c->MensagemErro, "");
    EXPECT_EQ(c->Requisitos, "");
    EXPECT_EQ(c->Conexao, nullptr);
    const std::vector<std::string> linhas = kwtest::Texts(*log_);
    EXPECT_TRUE(Tem(linhas, " - Login OK. Verificando os requisitos..."));
    const std::vector<std::string> copias = CopiasNoLog();  // the copy before
    c.reset();
    kwUpdIni().SetLog(nullptr);
    log_.reset();
    ASSERT_TRUE(kwtest::ConnectionThreadsEnded());
    EXPECT_EQ(Cfg(), kCfg);
    EXPECT_EQ(CopiasNoLog(), copias);
    EXPECT_EQ(copias.size(), 1u);
}

// ---- The balancer -----------------------------------------------------------------------------

TEST_F(ConexaoKw4, TheBalancersRequestAndAnswer) {
    AppServerPeer peer(Script(kLoginOk, ""));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    TkwUpdConexaoKWBalanceador b;
    b.SetTipoConexao("socket");
    b.EnderecoIP = peer.Address();
    b.GUIDBalanceador = kGuidBalanceador;
    b.CdSistemaTexto = "5";
    b.TelaStatus = &tela_;
    b.Conectar();
    b.Desconectar();
    EXPECT_TRUE(b.GetServidorEncontrado());
    EXPECT_FALSE(b.GetTimeOut());
    EXPECT_EQ(b.MensagemErro, "");
    EXPECT_EQ(b.ParametrosServidor, "srvA;idA;" + std::string(kGuid) + ";127.0.0.1:9;http://x/y");
    EXPECT_EQ(tela_.tarefas,
              (std::vector<std::string>{
                  "Testando conexão com balanceador no seguinte endereço: \r\n" + peer.Address(),
                  "Conectando ao balanceador no seguinte endereço: \r\n" + peer.Address()}));
    b.ServidoresJaTentados = "A|B";
    b.CdSistemaTexto = "";
    b.Conectar();
    const std::vector<Json> pedidos = Chamadas(peer, "GetServidorParametros");
    ASSERT_EQ(pedidos.size(), 2u);
    for (const Json& p : pedidos) {
        ASSERT_EQ(p["args"].size(), 1u);
        EXPECT_TRUE(p["args"][0]["variant_ref"].boolean());
        EXPECT_EQ(p["args"][0]["type"].integer(), 8);
        EXPECT_TRUE(p["result_wanted"].boolean());
    }
    EXPECT_EQ(pedidos[0]["args"][0]["value"].str(), "psTipoConexao=SOCKET\r\npsCdSistema=5\r\n");
    EXPECT_EQ(pedidos[1]["args"][0]["value"].str(),
              "psLstServidoresJaTentados=A|B\r\npsTipoConexao=SOCKET\r\n");
    EXPECT_EQ(peer.Requests("create").at(0)["name"].str(), kGuidBalanceador);
}

TEST_F(ConexaoKw4, ABalancerThatKnowsNoServerOrNoMethod) {
    const std::string script =
        R"({"mode": "socket", "objects": [
        {"guid": ")" +
        std::string(kGuidBalanceador) +
        R"(", "name": "Balanceador", "methods": {"GetServidorParametros": {"result": ""}}},
        {"guid": ")" +
        std::string(kGuid) + R"(", "name": "Outro", "methods": {}}]})";
    AppServerPeer peer(script);
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    TkwUpdConexaoKWBalanceador b;
    b.SetTipoConexao("SOCKET");
    b.EnderecoIP = peer.Address();
    b.GUIDBalanceador = kGuidBalanceador;
    b.ParametrosServidor = "de antes";
    b.Conectar();
    EXPECT_EQ(b.ParametrosServidor, "");
    EXPECT_EQ(b.MensagemErro, "");
    b.GUIDBalanceador = kGuid;
    b.ParametrosServidor = "de antes";
    b.Conectar();
    EXPECT_EQ(b.ParametrosServidor, "de antes");
    EXPECT_EQ(b.MensagemErro, "Method 'GetServidorParametros' not supported by automation object");
}

}  // namespace
