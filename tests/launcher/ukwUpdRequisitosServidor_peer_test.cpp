// The remote road's passes against scripted application servers and balancers, real
// listeners and refusing ports: the server of [Servidor] on either road, the balancers one by
// one (a first one that times out, one that names a server without requisites, one that names
// none), balancing switched off, a pass with no balancer of the transport, and every failure's
// text.
#include "launcher/ukwUpdRequisitosServidor.h"

#include <gtest/gtest.h>

#include <memory>

#include "common/LauncherBaseTestSupport.h"
#include "common/ukwUpdConfig.h"
#include "launcher/ukwUpdLoader.h"
#include "support/AppServerPeer.h"
#include "support/LoopbackListeners.h"
#include "transfer/ConexaoTestSupport.h"
#include "transfer/ukwUpdConexaoKw4.h"

namespace {

using kwtest::AppServerPeer;
using kwtest::Json;

constexpr const char* kGuid = "{6F9A3B1C-0D2E-4F50-8A7B-1C2D3E4F5A6B}";
constexpr const char* kGuidBalanceador = "{0B1A2C3D-4E5F-4061-8293-A4B5C6D7E8F9}";

// An application server whose requisites are `requisitos` (socket unless another mode).
std::string Servidor(const std::string& requisitos, const std::string& login = R"({"byref": {"6": 3}})",
                     const std::string& modo = "socket") {
    return R"({"mode": ")" + modo + R"(", "objects": [
        {"guid": ")" +
           std::string(kGuid) + R"(", "name": "AppServer", "methods": {
            "login": )" +
           login + R"(, "kwDB": {"result": {"object": "kwDB"}}}},
        {"name": "kwDB", "methods": {
            "GetParamConsultarDispIDLocal": {"result": false}, "GetParamControlarReconexao": {"result": false},
            "GetAliasConectado": {"result": "Q"}, "GetDadosRequisitosBanco5": {"result": ")" +
           requisitos + R"("},
            "TestarSeAtualizacaoVersionada": {"result": true}, "GetBalanceadores": {"result": "a\r\nb"}}}]})";
}

// A balancer whose answer to GetServidorParametros is the scripted answer given.
std::string Balanceador(const std::string& resposta) {
    return R"({"mode": "socket", "objects": [{"guid": ")" + std::string(kGuidBalanceador) +
           R"(", "name": "Balanceador", "methods": {"GetServidorParametros": )" + resposta + "}}]}";
}

std::string Nomeia(const AppServerPeer& servidor) {
    return R"({"result": "srv;id7;)" + std::string(kGuid) + ";" + servidor.Address() + R"(;"})";
}

std::vector<Json> Pedidos(const AppServerPeer& peer) {
    std::vector<Json> r;
    for (Json& j : peer.Requests("invoke"))
        if (j["method"].str() == "GetServidorParametros") r.push_back(std::move(j));
    return r;
}

bool Tem(const std::vector<std::string>& linhas, const std::string& linha) {
    return std::find(linhas.begin(), linhas.end(), linha) != linhas.end();
}

class EstradaServidor : public ::testing::Test {
protected:
    struct Resultado {
        std::string erro;  // the failure's text, empty when none
        bool encontrado = false;
        std::string requisitos;
        std::vector<std::string> log;
    };

    Resultado Rode(const std::string& cfg) {
        pasta_.WriteOld("kwCFG.ini", "[KWUPDATE]\r\nTipoServidor=REMOTO\r\nCdSistema=7\r\n" + cfg);
        ResetConfigurationSingletons();
        Resultado r;
        {
            auto loader = std::make_unique<TkwUpdLoader>();
            loader->CdSistema = 7;
            loader->CdLocalUpdate = 3;
            TkwUpdEstradaServidor estrada;
            estrada.TelaStatus = &tela_;
            auto conexao = std::make_unique<TkwUpdConexaoKw4>();
            r.erro = kwtest::ThrownMessage(
                [&] { r.encontrado = estrada.ConfigurarConexaoServidorKw4(*loader, conexao.get()); });
            if (r.erro == "(no exception)") r.erro.clear();
            r.requisitos = conexao->Requisitos;
            r.log = kwtest::Texts(*loader->Log);
        }
        return r;
    }

    // Opens the time-out gate while the status window names `endereco` and `peer` holds a
    // call there, so that attempt times out and no other does.
    void TempoEsgotaEm(const std::string& endereco, const AppServerPeer& peer, const std::string& metodo) {
        tela_.OnTarefa = [this, endereco](const std::string& texto) {
            alvo_ = texto.size() >= endereco.size() &&
                    texto.compare(texto.size() - endereco.size(), endereco.size(), endereco) == 0;
            relogio_.Clock().Close();
        };
        tela_.OnProcesse = [this, &peer, metodo] {
            if (!alvo_) return;
            for (const Json& j : peer.Requests("invoke"))
                if (j["method"].str() == metodo) relogio_.Clock().Open();
        };
    }

    kwtest::LauncherFolder pasta_{"kwLoader"};
    kwtest::TelaDeTeste tela_;
    bool alvo_ = false;
    kwtest::ScopedEnv semProxy_{"no_proxy", "127.0.0.1,localhost"};
    kwtest::AttemptClock relogio_;
};

const std::string kNaoEncontrado =
    "\r\nO computador do servidor de aplicação não foi encontrado na rede. Os motivos possíveis são:\r\n\r\n "
    " 1) O "
    "seu computador está desconectado da rede. \r\n  2) O computador do servidor de aplicação está desligado "
    "ou "
    "desconectado da rede.\r\n  3) A rede está com problemas.\r\n\r\nPor favor, contate o seu suporte de "
    "rede.";

TEST_F(EstradaServidor, TheServerOfTheSectionOnEitherRoad) {
    AppServerPeer soquete(Servidor("req-soquete"));
    AppServerPeer web(Servidor("req-web", R"({"byref": {"6": 3}})", "http"));
    AppServerPeer manutencao(Servidor("x", R"({"byref": {"6": 2, "7": "até 18h"}})"));
    AppServerPeer vazio(Servidor(""));
    KW_REQUIRE_PEER(soquete.Available() && web.Available() && manutencao.Available() && vazio.Available(),
                    soquete.Reason() + web.Reason());
    kwtest::RefusedPort recusada;
    const std::string urlWeb = "http://127.0.0.1:" + std::to_string(web.Port()) + "/kw/servidor.dll";
    const std::string urlRecusada =
        "http://127.0.0.1:" + std::to_string(recusada.Port()) + "/kw/servidor.dll";
    struct Case {
        const char* nome;
        std::string servidor;
        std::string erro, requisitos;
    };
    const std::string sem = "Não foi possível conectar no servidor de aplicação.\r\n";
    const std::vector<Case> cases = {
        {"socket address that answers", "enderecoIP=" + soquete.Address() + "\r\nenderecoURL=" + urlRecusada,
         "", "req-soquete"},
        {"socket address silent: the URL", "enderecoIP=" + recusada.Address() + "\r\nenderecoURL=" + urlWeb,
         "", "req-web"},
        {"LOCALHOST with a URL: HTTP", "enderecoIP=LOCALHOST\r\nenderecoURL=" + urlWeb, "", "req-web"},
        {"socket address silent, no URL", "enderecoIP=" + recusada.Address(),
         sem + "A chave EnderecoURL do arquivo kwCfg.ini está vazia.", ""},
        {"server library without App.cer",
         "enderecoIP=localhost\r\nenderecoURL=http://127.0.0.1:" + std::to_string(web.Port()) +
             "/kw/HttpSrvr.dll",
         sem + "O arquivo de certificado não está disponível.", ""},
        {"the URL's server is not there", "enderecoURL=" + urlRecusada, kNaoEncontrado, ""},
        {"the server's login fails", "enderecoIP=" + manutencao.Address(),
         "Erro ao acessar o servidor de aplicação. Mensagem de erro: \"Banco de dados em manutenção. "
         "Mensagem: até "
         "18h\".",
         ""},
        {"no requisites is still found", "enderecoIP=" + vazio.Address(), "", ""},
        {"no server at all", "enderecoIP=localhost",
         sem + "O arquivo kwCfg.ini não contêm nenhuma informação necessária "
               "para a conexão.",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nome);
        const size_t creates = web.Requests("create").size();
        const Resultado r = Rode("[Servidor]\r\nGUIDServidor=" + std::string(kGuid) +
                                 "\r\nnomeServidor=SA\r\n" + c.servidor + "\r\n");
        EXPECT_EQ(r.erro, c.erro);
        EXPECT_EQ(r.encontrado, c.erro.empty());
        EXPECT_EQ(r.requisitos, c.requisitos);
        EXPECT_TRUE(Tem(r.log, "INICIO - ConfigurarConexaoServidorKw4..."));
        EXPECT_EQ(Tem(r.log, "FIM - ConfigurarConexaoServidorKw4"), c.erro.empty());
        if (c.erro == sem + "O arquivo de certificado não está disponível.") {
            EXPECT_EQ(web.Requests("create").size(), creates);  // nothing was tried
        }
        // The launcher's own failures logged themselves when made.
        if (!c.erro.empty() && c.erro.rfind(sem, 0) != 0) {
            EXPECT_TRUE(Tem(r.log, "EXCEPTION: " + c.erro));
        }
    }
}

TEST_F(EstradaServidor, TheServerTimesOut) {
    AppServerPeer lento(Servidor("r", R"({"delay": 60})"));
    KW_REQUIRE_PEER(lento.Available(), lento.Reason());
    TempoEsgotaEm(lento.Address(), lento, "login");
    const Resultado r =
        Rode("[Servidor]\r\nGUIDServidor=" + std::string(kGuid) + "\r\nenderecoIP=" + lento.Address() +
             "\r\nTimeoutConexaoServidorAplicacao=5\r\n");
    EXPECT_EQ(r.erro, "Erro ao acessar o servidor de aplicação. Causa: TimeOut. Tempo: 5 segundos.");
    EXPECT_FALSE(r.encontrado);
}

TEST_F(EstradaServidor, AFirstBalancerTimesOutTheSecondNamesTheServer) {
    AppServerPeer servidor(Servidor("req-do-balanceado"));
    AppServerPeer lento(Balanceador(R"({"delay": 60})"));
    ASSERT_TRUE(servidor.Available());
    AppServerPeer segundo(Balanceador(Nomeia(servidor)));
    KW_REQUIRE_PEER(lento.Available() && segundo.Available(), lento.Reason() + segundo.Reason());
    kwtest::LoopbackListener secao;  // the [Servidor] address: never asked
    TempoEsgotaEm(lento.Address(), lento, "GetServidorParametros");
    const Resultado r =
        Rode("[Servidor]\r\nGUIDServidor=" + std::string(kGuid) + "\r\nenderecoIP=" + secao.Address() +
             "\r\n[kwBalanceador]\r\nGUID=" + kGuidBalanceador + "\r\nEnderecoIP1=" + lento.Address() +
             "\r\nEnderecoIP2=" + segundo.Address() + "\r\n");
    EXPECT_EQ(r.erro, "");
    EXPECT_TRUE(r.encontrado);
    EXPECT_EQ(r.requisitos, "req-do-balanceado");
    // Both balancers got the same request: nothing tried yet.
    for (const AppServerPeer* b : {&lento, &segundo}) {
        const std::vector<Json> p = Pedidos(*b);
        ASSERT_EQ(p.size(), 1u);
        EXPECT_EQ(p[0]["args"][0]["value"].str(), "psTipoConexao=SOCKET\r\npsCdSistema=7\r\n");
    }
    EXPECT_EQ(secao.Connections(), 0);
    EXPECT_TRUE(Tem(r.log, "FIM - ConfigurarConexaoServidorKw4"));
}

TEST_F(EstradaServidor, ANamedServerWithoutRequisitesSendsTheRoadToTheSectionsServerInTheSamePass) {
    AppServerPeer semRequisitos(Servidor(""));
    AppServerPeer daSecao(Servidor("req-da-secao"));
    ASSERT_TRUE(semRequisitos.Available());
    AppServerPeer balanceador(Balanceador(Nomeia(semRequisitos)));
    KW_REQUIRE_PEER(daSecao.Available() && balanceador.Available(), daSecao.Reason() + balanceador.Reason());
    const Resultado r =
        Rode("[Servidor]\r\nGUIDServidor=" + std::string(kGuid) + "\r\nenderecoIP=" + daSecao.Address() +
             "\r\n[kwBalanceador]\r\nGUID=" + kGuidBalanceador + "\r\nEnderecoIP1=" + balanceador.Address() +
             "\r\n");
    EXPECT_EQ(r.erro, "");
    EXPECT_EQ(r.requisitos, "req-da-secao");
    EXPECT_EQ(Pedidos(balanceador).size(), 1u);
    EXPECT_EQ(semRequisitos.Requests("create").size(), 1u);
    EXPECT_EQ(daSecao.Requests("create").size(), 1u);
}

TEST_F(EstradaServidor, ANamedServerWithoutRequisitesAndNoSocketAddressInTheSection) {
    AppServerPeer semRequisitos(Servidor(""));
    ASSERT_TRUE(semRequisitos.Available());
    AppServerPeer balanceador(Balanceador(Nomeia(semRequisitos)));
    KW_REQUIRE_PEER(balanceador.Available(), balanceador.Reason());
    const Resultado r = Rode(
        "[Servidor]\r\nGUIDServidor=" + std::string(kGuid) +
        "\r\nenderecoURL=http://127.0.0.1:9/kw/servidor.dll\r\n[kwBalanceador]\r\nGUID=" + kGuidBalanceador +
        "\r\nEnderecoIP1=" + balanceador.Address() + "\r\n");
    EXPECT_EQ(
        r.erro,
        "Não foi possível conectar no servidor de aplicação.\r\nA chave EnderecoIP do arquivo kwCfg.ini "
        "está vazia.");
}

TEST_F(EstradaServidor, TheLastBalancerAskedNamingNoneFailsTheRoad) {
    AppServerPeer nenhum(Balanceador(R"({"result": ""})"));
    KW_REQUIRE_PEER(nenhum.Available(), nenhum.Reason());
    kwtest::RefusedPort recusado;
    const Resultado r =
        Rode("[Servidor]\r\nGUIDServidor=" + std::string(kGuid) + "\r\nenderecoIP=" + recusado.Address() +
             "\r\n[kwBalanceador]\r\nGUID=" + kGuidBalanceador + "\r\nEnderecoIP1=" + recusado.Address() +
             "\r\nEnderecoIP2=" + nenhum.Address() + "\r\n");
    const std::string erro =
        "Erro ao acessar o servidor de aplicação. O balanceador retornou que nenhum servidor de aplicação "
        "está "
        "disponível.";
    EXPECT_EQ(r.erro, erro);
    EXPECT_TRUE(Tem(r.log, "EXCEPTION: " + erro));
    EXPECT_EQ(Pedidos(nenhum).size(), 1u);
}

TEST_F(EstradaServidor, BalancingOffStillProbesTheBalancersButAsksNone) {
    AppServerPeer servidor(Servidor("req"));
    AppServerPeer balanceador(Balanceador(R"({"result": "x;y;z;w;"})"));
    KW_REQUIRE_PEER(servidor.Available() && balanceador.Available(), servidor.Reason());
    kwtest::LoopbackListener ouvinte;
    const Resultado r =
        Rode("[Servidor]\r\nGUIDServidor=" + std::string(kGuid) + "\r\nenderecoIP=" + servidor.Address() +
             "\r\nPodeBalancear=n\r\n[kwBalanceador]\r\nGUID=" + kGuidBalanceador +
             "\r\nEnderecoIP1=" + ouvinte.Address() + "\r\nEnderecoIP2=" + balanceador.Address() + "\r\n");
    EXPECT_EQ(r.erro, "");
    EXPECT_EQ(r.requisitos, "req");
    EXPECT_EQ(ouvinte.Connections(), 1);  // the transport choice's probe
    EXPECT_TRUE(Pedidos(balanceador).empty());
    // The server is told not to fetch the balancer lists.
    for (const Json& j : servidor.Requests("invoke"))
        EXPECT_NE(j["method"].str(), "GetBalanceadores");
}

TEST_F(EstradaServidor, APassWithNoBalancerOfTheTransportFallsBackToTheSection) {
    AppServerPeer servidor(Servidor("req"));
    KW_REQUIRE_PEER(servidor.Available(), servidor.Reason());
    const Resultado r =
        Rode("[Servidor]\r\nGUIDServidor=" + std::string(kGuid) + "\r\nenderecoIP=" + servidor.Address() +
             "\r\n[kwBalanceador]\r\nGUID=" + kGuidBalanceador +
             "\r\nEnderecoURL1=http://127.0.0.1:9/kw/balanceador.dll\r\n");
    EXPECT_EQ(r.erro, "");
    EXPECT_TRUE(r.encontrado);
    EXPECT_EQ(r.requisitos, "req");
}

}  // namespace
