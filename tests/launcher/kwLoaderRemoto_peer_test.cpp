// The launcher run end to end on the remote road, with the demo's workstation (scripts/demo
// --prepare-only) and the scripted application server serving the demo database's requisites:
// the kwLoader program as built reaches the server over the socket road, over HTTP, over HTTPS
// with the certificate file beside it, and through a balancer; the first run writes the change
// list and the requisites and starts the executor, the second starts the application. Runs
// that cannot reach the server, that time out or that the server refuses end in the error path
// with their message.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>

#include "launcher/LauncherRunTestSupport.h"
#include "platform/Process.h"
#include "rtl/Text.h"
#include "support/AppServerPeer.h"
#include "support/LoopbackListeners.h"

namespace {

namespace fs = std::filesystem;
using kwtest::AppServerPeer;
using kwtest::Contains;

constexpr const char* kGuid = "{6F9A3B1C-0D2E-4F50-8A7B-1C2D3E4F5A6B}";
constexpr const char* kGuidBalanceador = "{0B1A2C3D-4E5F-4061-8293-A4B5C6D7E8F9}";

// A JSON string literal of a text.
std::string Json(const std::string& texto) {
    std::string r = "\"";
    for (const char c : texto) {
        switch (c) {
            case '"':
                r += "\\\"";
                break;
            case '\\':
                r += "\\\\";
                break;
            case '\r':
                r += "\\r";
                break;
            case '\n':
                r += "\\n";
                break;
            default:
                r += c;
        }
    }
    return r + "\"";
}

class RemoteRoad : public ::testing::Test {
protected:
    void SetUp() override {
        const bool peers =
            fs::exists("/usr/bin/sqlite3") && fs::exists("/bin/bash") && fs::exists("/usr/bin/python3");
        KW_REQUIRE_PEER(peers, "bash, python3 and the sqlite3 shell");
        const plat::ProcessResult r = kwtest::PrepareDemo(demo_.path());
        ASSERT_EQ(r.exitCode, 0) << r.output;
        ws_ = demo_ / "workstation";
        site_ = demo_ / "update-site";
        requisitos_ = kwtest::ReadFile(demo_ / "requisitos.txt");
        ASSERT_EQ(std::count(requisitos_.begin(), requisitos_.end(), '\n'), 6) << requisitos_;
    }

    // The application server's script: the demo's requisites, and `extra` methods of kwDB.
    std::string Servidor(const std::string& login = R"({"byref": {"6": 3}})", const std::string& extra = "",
                         const std::string& modo = "socket", const std::string& tls = "") {
        return R"({"mode": ")" + modo + R"(", )" + tls + R"( "objects": [
            {"guid": ")" +
               std::string(kGuid) + R"(", "name": "AppServer", "methods": {
                "login": )" +
               login + R"(, "kwDB": {"result": {"object": "kwDB"}}}},
            {"name": "kwDB", "methods": {
                "GetParamConsultarDispIDLocal": {"result": false}, "GetParamControlarReconexao": {"result": true},
                "GetAliasConectado": {"result": "KWDEMO"},
                "GetDadosRequisitosBanco5": {"result": )" +
               Json(requisitos_) + R"(},
                "TestarSeAtualizacaoVersionada": {"result": false})" +
               extra + R"(}}]})";
    }

    void Configure(const std::string& servidor, const std::string& resto = "") {
        kwtest::WriteFile(ws_ / "kwCFG.ini",
                          "[KWUPDATE]\r\nTipoServidor=REMOTO\r\nCdSistema=1\r\nLocalUpdate=1\r\n\r\n"
                          "[Servidor]\r\nnomeServidor=demo\r\nGUIDServidor=" +
                              std::string(kGuid) + "\r\n" + servidor + resto);
    }

    struct Execucao {
        int codigo = -1;
        std::string saida;
        std::vector<std::string> log;  // this run's log texts
    };

    // The launcher as a real process, killed by coreutils' timeout past the limit (a hang is a
    // failure, not a test that never ends).
    Execucao Rode(const std::vector<std::string>& args) {
        plat::ProcessOptions o;
        o.wait = true;
        o.output = plat::ProcessOutput::File;
        o.outputFile = (demo_ / "saida.txt").string();
        o.workingFolder = ws_.string();
        std::vector<std::string> todos = {"-s", "KILL", "120", (ws_ / "kwLoader").string()};
        todos.insert(todos.end(), args.begin(), args.end());
        Execucao e;
        e.codigo = plat::StartProcess("timeout", todos, o).exitCode;
        if (e.codigo == 128 + SIGKILL) e.codigo = -1;
        e.saida = kwtest::ReadFile(o.outputFile);
        const fs::path log = ws_ / "log" / "kwVerify.log";
        e.log = fs::exists(log) ? kwtest::LogTexts(kwtest::ReadFile(log)) : std::vector<std::string>{};
        const int sep = kwtest::IndexOf(e.log, std::string(54, '='));
        if (sep > 0) e.log.resize(size_t(sep - 1));
        return e;
    }

    // The first run hands over to the executor, which updates and starts the application.
    void PrimeiraExecucaoAtualiza() {
        const Execucao um = Rode({"um"});
        EXPECT_EQ(um.codigo, 0) << um.saida;
        for (const char* linha :
             {" - Conexão remota. Pegado os dados de requisitos do S.A. KW4...",
              "INICIO - ConfigurarConexaoServidorKw4...", " - Login OK. Verificando os requisitos...",
              " - Método remoto executado \"GetDadosRequisitosBanco5\".",
              "FIM - ConfigurarConexaoServidorKw4", " - Dados obtidos com sucesso.",
              " - O Sistema deve ser atualizado. Atualizando o sistema...", "FIM - ExecuteAtualizacao"})
            EXPECT_TRUE(Contains(um.log, linha)) << linha << "\n" << um.saida;
        // The requisites file holds the server's text as it came.
        EXPECT_EQ(kwtest::ReadFile(ws_ / "log" / "kwExec.req"), requisitos_);
        EXPECT_EQ(kwtest::ReadFile(ws_ / "kwExec.exe"), kwtest::ReadFile(site_ / "kwExec.exe"));
        ASSERT_TRUE(kwtest::Eventually([&] { return fs::exists(ws_ / "log" / "kwExecDemo.fim"); },
                                       std::chrono::milliseconds(30000)));
        EXPECT_EQ(kwtest::ReadFile(ws_ / "log" / "kwExecDemo.fim"), "0\n");
        ASSERT_TRUE(kwtest::Eventually([&] { return fs::exists(ws_ / "log" / "aplicacao.log"); }));
        EXPECT_FALSE(fs::exists(ws_ / "obsoleto.txt"));
    }

    kwtest::TempDir demo_;
    fs::path ws_, site_;
    std::string requisitos_;
    kwtest::PrivateMarkers markers_;
    kwtest::ScopedEnv headless_{"KW_HEADLESS", "1"};
    kwtest::ScopedEnv semProxy_{"no_proxy", "127.0.0.1,localhost"};
};

TEST_F(RemoteRoad, SocketFirstTheExecutorThenTheApplication) {
    AppServerPeer peer(Servidor(R"({"byref": {"6": 3}})",
                                R"(, "GetBalanceadores": {"result": "[kwBalanceador]\r\nGUID={B}"})"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    Configure("enderecoIP=" + peer.Address() + "\r\n");
    PrimeiraExecucaoAtualiza();
    const std::string cfg = rtl::StringReplace(kwtest::ReadFile(ws_ / "kwCFG.ini"), "\r\n", "\n");
    EXPECT_NE(cfg.find("[RPC]\nControlarReconexao=1\nConsultarDispIDLocal=0"), std::string::npos) << cfg;
    EXPECT_EQ(cfg.find("kwBalanceador"), std::string::npos) << cfg;  // a list of two lines changes nothing

    // The server got the demo's system and the workstation's interface lines.
    bool viuPedido = false;
    for (const kwtest::Json& j : peer.Requests("invoke"))
        if (j["method"].str() == "GetDadosRequisitosBanco5") {
            viuPedido = true;
            EXPECT_NE(j["args"][0]["value"].str().find(
                          "  CdSistema = 1\r\n  CdSistemaGenerico = -1\r\n  CdLocalUpdate = 1"),
                      std::string::npos);
        }
    EXPECT_TRUE(viuPedido);

    fs::remove(ws_ / "log" / "kwExecDemo.fim");
    const Execucao dois = Rode({"dois"});
    EXPECT_EQ(dois.codigo, 0) << dois.saida;
    EXPECT_TRUE(Contains(dois.log, " - O sistema já está atualizado."));
    ASSERT_TRUE(kwtest::Eventually([&] {
        return kwtest::ReadFile(ws_ / "log" / "aplicacao.log").find("\"kwUpdate\" \"dois\"") !=
               std::string::npos;
    }));
    EXPECT_FALSE(fs::exists(ws_ / "log" / "kwExecDemo.fim"));
}

TEST_F(RemoteRoad, HttpWhenTheSocketAddressIsSilent) {
    AppServerPeer peer(Servidor(R"({"byref": {"6": 3}})", "", "http"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    kwtest::RefusedPort recusada;
    Configure("enderecoIP=" + recusada.Address() + "\r\nenderecoURL=http://127.0.0.1:" +
              std::to_string(peer.Port()) + "/kw/servidor.dll\r\nPodeBalancear=N\r\n");
    PrimeiraExecucaoAtualiza();
    EXPECT_FALSE(peer.Requests("create").empty());
    EXPECT_EQ(peer.Requests("create")[0]["http"]["path"].str(), "/kw/servidor.dll");
}

TEST_F(RemoteRoad, HttpsWithTheCertificateFileBesideTheLauncher) {
    const AppServerPeer::Certificate cert =
        AppServerPeer::MakeCertificate(demo_.path(), "appserver", "DNS:localhost,IP:127.0.0.1");
    KW_REQUIRE_PEER(!cert.der.empty(), "openssl req");
    AppServerPeer peer(
        Servidor(R"({"byref": {"6": 3}})", "", "https",
                 R"("cert": ")" + cert.cert.string() + R"(", "key": ")" + cert.key.string() + R"(",)"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    kwtest::WriteFile(ws_ / "kwLoaderApp.cer", cert.der);
    Configure("enderecoIP=LOCALHOST\r\nenderecoURL=https://127.0.0.1:" + std::to_string(peer.Port()) +
              "/kw/httpsrvr.dll\r\nPodeBalancear=N\r\n");
    PrimeiraExecucaoAtualiza();
    EXPECT_EQ(peer.Requests("create").size(), 1u);
}

TEST_F(RemoteRoad, ThroughABalancer) {
    AppServerPeer servidor(Servidor(R"({"byref": {"6": 3}})",
                                    R"(, "GetBalanceadores_V2": {"result": "[kwBalanceador]\r\nGUID=)" +
                                        std::string(kGuidBalanceador) + R"(\r\nEnderecoIP1=10.9.9.9:211"})"));
    ASSERT_TRUE(servidor.Available()) << servidor.Reason();
    AppServerPeer balanceador(
        R"({"mode": "socket", "objects": [{"guid": ")" + std::string(kGuidBalanceador) +
        R"(", "name": "Balanceador", "methods": {"GetServidorParametros": {"result": "demo;d1;)" +
        std::string(kGuid) + ";" + servidor.Address() + R"(;"}}}]})");
    KW_REQUIRE_PEER(balanceador.Available(), balanceador.Reason());
    kwtest::LoopbackListener secao;  // the section's own server: never asked
    Configure("enderecoIP=" + secao.Address() + "\r\n",
              "\r\n[kwBalanceador]\r\nGUID=" + std::string(kGuidBalanceador) +
                  "\r\nEnderecoIP1=" + balanceador.Address() + "\r\n");
    PrimeiraExecucaoAtualiza();
    EXPECT_EQ(secao.Connections(), 0);
    // The server's balancer list replaced the section.
    const std::string cfg = rtl::StringReplace(kwtest::ReadFile(ws_ / "kwCFG.ini"), "\r\n", "\n");
    EXPECT_NE(cfg.find("\n\n[kwBalanceador]\nGUID=" + std::string(kGuidBalanceador) +
                       "\nEnderecoIP1=10.9.9.9:211\n"),
              std::string::npos)
        << cfg;
    EXPECT_EQ(cfg.find(balanceador.Address()), std::string::npos) << cfg;
}

TEST_F(RemoteRoad, RunsThatFailShowTheirMessage) {
    AppServerPeer lento(Servidor(R"({"delay": 60})"));
    AppServerPeer manutencao(Servidor(R"({"byref": {"6": 2, "7": "volta às 18h"}})"));
    KW_REQUIRE_PEER(lento.Available() && manutencao.Available(), lento.Reason() + manutencao.Reason());
    kwtest::RefusedPort recusada;
    struct Case {
        const char* nome;
        std::string servidor;
        std::string mensagem;
    };
    const Case cases[] = {
        {"unreachable",
         "enderecoURL=http://127.0.0.1:" + std::to_string(recusada.Port()) + "/kw/servidor.dll\r\n",
         "O computador do servidor de aplicação não foi encontrado na rede."},
        {"time-out", "enderecoIP=" + lento.Address() + "\r\nTimeoutConexaoServidorAplicacao=1\r\n",
         "Erro ao acessar o servidor de aplicação. Causa: TimeOut. Tempo: 1 segundos."},
        {"server error", "enderecoIP=" + manutencao.Address() + "\r\n",
         "Erro ao acessar o servidor de aplicação. Mensagem de erro: \"Banco de dados em manutenção. "
         "Mensagem: volta "
         "às 18h\"."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nome);
        Configure(c.servidor);
        const Execucao e = Rode({"x"});
        EXPECT_EQ(e.codigo, 1) << e.saida;
        EXPECT_NE(e.saida.find(c.mensagem), std::string::npos) << e.saida;
        // The launcher's own failure, logged when it was made (its text may start a line of its
        // own).
        EXPECT_TRUE(std::any_of(e.log.begin(), e.log.end(),
                                [&](const std::string& l) { return l.rfind("EXCEPTION: ", 0) == 0; }));
        EXPECT_TRUE(std::any_of(e.log.begin(), e.log.end(), [&](const std::string& l) {
            return l.find(c.mensagem) != std::string::npos;
        }));
        EXPECT_FALSE(fs::exists(ws_ / "log" / "kwExec.req"));
        EXPECT_FALSE(fs::exists(ws_ / "log" / "aplicacao.log"));
    }
}

}  // namespace
