// The download-server client against one and two instances of the scripted server
// (tests/peers/ddsserver.py): the token request and its form, which token reached which host,
// failures as log lines, unreadable answers, polling on the manual clock with the window's
// messages, patch requests turned whole, answers naming other hosts (registered or not, http
// against https), hosts that name each other, host settings, and the download itself (whole,
// cut, failed, silent, redirected).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ConexaoTestSupport.h"
#include "common/LauncherTestHooks.h"
#include "platform/Clock.h"
#include "support/DdsServerPeer.h"
#include "support/LoopbackListeners.h"
#include "support/TestSupport.h"
#include "transfer/uDDSConnection.h"
#include "transfer/uJSON.h"
#include "transfer/ukwTelaStatus.h"
#include "transfer/ukwUpdFileUtil.h"

namespace {

namespace fs = std::filesystem;
using kwtest::DdsServerPeer;
using kwtest::Json;
using kwtest::ThrownMessage;

// What every test here shares: the manual clock, the program's window counting its messages,
// a launcher folder of its own, and the transfer time-out put back afterwards.
class Dds : public ::testing::Test {
protected:
    void SetUp() override {
        ResetLauncherBaseForTests((dir / "kwLoader").string());
        DefinaTelaStatusPrograma(&tela);
    }
    void TearDown() override {
        DefinaTelaStatusPrograma(nullptr);
        TempoLimiteTransferencia = 60000;
        ResetLauncherBaseForTests("");
    }

    // A connection over the given hosts (base addresses), credentials ana / senha.
    std::shared_ptr<IDDSConnection> Conexao(const std::vector<std::string>& bases,
                                            const std::string& senha = "senha") {
        auto c = TDDSConnection::Create();
        for (const std::string& b : bases)
            c->AddServer("kwLoader", "ana", senha, "password", b);
        return c;
    }
    // Authenticates at the current host and asks for the file: the URL it ends with.
    static std::string Localize(IDDSConnection& c, const std::string& nome, std::string& status) {
        c.Authenticate();
        std::string url = "x";
        bool patch = false;
        c.RequestFile(nome, url, status, patch);
        return url;
    }
    static TDDSConnection& T(const std::shared_ptr<IDDSConnection>& c) {
        return dynamic_cast<TDDSConnection&>(*c);
    }

    static bool ContemTexto(const std::vector<std::string>& linhas, const std::string& trecho) {
        for (const std::string& l : linhas)
            if (l.find(trecho) != std::string::npos) return true;
        return false;
    }
    // The Authorization line of a logged request, "" when it had none.
    static std::string Autorizacao(const Json& r) {
        return r["headers"].has("authorization") ? r["headers"]["authorization"].str() : "";
    }
    // The leftovers of downloads in a folder (temporary names).
    static int Sobras(const fs::path& pasta) {
        int n = 0;
        for (const auto& e : fs::directory_iterator(pasta))
            if (e.path().filename().string().find(".kwtmp-") != std::string::npos) ++n;
        return n;
    }

    kwtest::TempDir dir;
    plat::ManualClock relogio;
    plat::ScopedClock usaRelogio{relogio};
    kwtest::TelaDeTeste tela;
};

TEST_F(Dds, TheTokenRequestCarriesTheFormIntactAndNoBearer) {
    const std::string senha = "a&b=c+d%e f é";
    DdsServerPeer dds(
        R"({"oauth": {"access_token": "tokA", "username": "ana", "password": "a&b=c+d%e f é"}})");
    KW_REQUIRE_PEER(dds.Available(), dds.Reason());
    auto c = Conexao({dds.BaseURL()}, senha);
    std::vector<std::string> eventos;
    c->SetOnLog([&](IDDSConnection* s, const std::string& t) {
        EXPECT_EQ(s, c.get());
        eventos.push_back(t);
    });
    c->Authenticate();
    EXPECT_TRUE(c->IsAuthenticated());
    const auto pedidos = dds.Requests("/oauth/token");
    ASSERT_EQ(pedidos.size(), 1u);
    const Json& form = pedidos[0]["form"];
    EXPECT_EQ(form.size(), 4u);
    EXPECT_EQ(form["client_id"].str(), "kwLoader");
    EXPECT_EQ(form["username"].str(), "ana");
    EXPECT_EQ(form["password"].str(), senha);
    EXPECT_EQ(form["grant_type"].str(), "password");
    EXPECT_EQ(pedidos[0]["body"].str().rfind("client_id=kwLoader&username=ana&password=", 0), 0u);
    EXPECT_EQ(Autorizacao(pedidos[0]), "");
    const std::vector<std::string> esperado = {"Conectando: " + dds.BaseURL(),
                                               "FoIdHTTP.Post: " + dds.BaseURL() + "/oauth/token",
                                               "Token: ******** (4 caracteres)"};
    EXPECT_EQ(T(c).LogLines(), esperado);
    EXPECT_EQ(eventos, esperado);
}

TEST_F(Dds, RefusedCredentialsAndUnreachableHostsAreLogLines) {
    DdsServerPeer dds(R"({"oauth": {"access_token": "tokA", "password": "certa"}})");
    KW_REQUIRE_PEER(dds.Available(), dds.Reason());
    kwtest::RefusedPort fechada;
    auto c = Conexao({dds.BaseURL(), "http://" + fechada.Address()}, "errada");
    std::vector<std::string> erros;
    c->SetOnError([&](IDDSConnection*, const std::string& t) { erros.push_back(t); });
    c->Authenticate();
    EXPECT_FALSE(c->IsAuthenticated());
    ASSERT_TRUE(c->NextHost());
    c->Authenticate();
    EXPECT_FALSE(c->IsAuthenticated());
    ASSERT_EQ(erros.size(), 2u);
    EXPECT_EQ(erros[0].rfind("Erro não tratado: ", 0), 0u) << erros[0];
    EXPECT_NE(erros[0].find("401"), std::string::npos) << erros[0];
    EXPECT_EQ(erros[1], "Socket Error # 10061\r\nConnection refused.");
    const auto& linhas = T(c).LogLines();
    EXPECT_EQ(linhas.back(), "ERROR: Socket Error # 10061 Connection refused.");
    EXPECT_TRUE(ContemTexto(linhas, "ERROR: Erro não tratado: "));
    // Nothing of a password reaches the log.
    EXPECT_FALSE(ContemTexto(linhas, "errada"));
}

TEST_F(Dds, AHostThatNeverAnswersOrNeverAcceptsEndsAtTheTransferTimeOut) {
    kwtest::LoopbackListener mudo;      // takes the connection, never answers: the read times out
    kwtest::FullBacklogListener cheio;  // the connect itself never completes
    TempoLimiteTransferencia = 300;
    struct Caso {
        std::string endereco;
        const char* erro;
    };
    const Caso casos[] = {{mudo.Address(), "Erro não tratado: Read Timeout"},
                          {cheio.Address(), "Erro não tratado: Connect timed out."}};
    for (const Caso& caso : casos) {
        auto c = Conexao({"http://" + caso.endereco});
        std::vector<std::string> erros;
        c->SetOnError([&](IDDSConnection*, const std::string& t) { erros.push_back(t); });
        c->Authenticate();
        EXPECT_FALSE(c->IsAuthenticated()) << caso.endereco;
        ASSERT_EQ(erros.size(), 1u) << caso.endereco;
        EXPECT_EQ(erros[0], caso.erro);
    }
}

TEST_F(Dds, ARedirectedTokenRequestIsRefusedAndThePasswordGoesNowhereElse) {
    DdsServerPeer b(R"({"oauth": {"access_token": "tokB"}})");
    KW_REQUIRE_PEER(b.Available(), b.Reason());
    DdsServerPeer a(R"({})");
    KW_REQUIRE_PEER(a.Available(), a.Reason());
    for (const int codigo : {302, 307, 308}) {
        a.SetScript(R"({"oauth": {"status": )" + std::to_string(codigo) + R"(, "location": ")" + b.BaseURL() +
                    R"(/oauth/token"}})");
        auto c = Conexao({a.BaseURL()}, "segredo");
        std::vector<std::string> erros;
        c->SetOnError([&](IDDSConnection*, const std::string& t) { erros.push_back(t); });
        c->Authenticate();
        EXPECT_FALSE(c->IsAuthenticated()) << codigo;
        ASSERT_EQ(erros.size(), 1u) << codigo;
        EXPECT_EQ(erros[0].rfind("Erro não tratado: HTTP/1.0 " + std::to_string(codigo), 0), 0u) << erros[0];
    }
    EXPECT_EQ(a.Requests("/oauth/token").size(), 3u);
    EXPECT_EQ(b.Requests().size(), 0u);
}

TEST_F(Dds, ANullTokenIsNoTokenAndTheNextHostIsAsked) {
    DdsServerPeer a(R"({"oauth": {"access_token": null}})");
    DdsServerPeer b(R"({"oauth": {"access_token": "tokB"}})");
    KW_REQUIRE_PEER(a.Available() && b.Available(), a.Reason() + b.Reason());
    auto c = Conexao({a.BaseURL(), b.BaseURL()});
    c->Authenticate();
    EXPECT_FALSE(c->IsAuthenticated());
    EXPECT_EQ(T(c).LogLines().back(), "Token: ******** (0 caracteres)");
    ASSERT_TRUE(c->NextHost());
    c->Authenticate();
    EXPECT_TRUE(c->IsAuthenticated());
}

TEST_F(Dds, AnUnreadableTokenAnswerRaisesWithoutTheAnswer) {
    DdsServerPeer dds(R"({"oauth": {"body": "{\"access_token\": \"SEGREDO-123\" junk"}})");
    KW_REQUIRE_PEER(dds.Available(), dds.Reason());
    auto c = Conexao({dds.BaseURL()});
    try {
        c->Authenticate();
        FAIL() << "no exception";
    } catch (const ParseException& e) {
        EXPECT_EQ(e.Message(),
                  "Expected a \",\" or \"}\" at character 33 of (resposta de /oauth/token omitida)\n\r erro "
                  "no caracter : 33");
    }
    EXPECT_FALSE(ContemTexto(T(c).LogLines(), "SEGREDO"));
    dds.SetScript(R"({"oauth": {"body": "{\"token\": \"x\"}"}})");
    EXPECT_EQ(ThrownMessage([&] { c->Authenticate(); }), "TJSONObject[\"access_token\"] not found.");
}

TEST_F(Dds, APatchRequestTurnsWholeAndIsPolledOnTheClock) {
    DdsServerPeer dds(R"({
        "oauth": {"access_token": "tokA"},
        "params": {"timeout": 60, "pollingTime": 5},
        "files": {
          "PATCH_KWEXEC.EXE_4087_4.0.8.7": [{"isFile": false, "url": null, "status": null,
                                             "patchStatus": "PATCH_SOURCE_DOES_NOT_EXISTS"}],
          "KWEXEC.EXE_4.0.8.7": [{"isFile": false, "url": null, "status": "PREPARING", "patchStatus": null},
                                 {"isFile": false, "url": null, "status": "PREPARING", "patchStatus": null},
                                 {"isFile": false, "url": null, "status": "PREPARING", "patchStatus": null},
                                 {"isFile": true, "url": "{SELF}/files/KWEXEC.EXE_4.0.8.7", "status": null}]}})");
    KW_REQUIRE_PEER(dds.Available(), dds.Reason());
    auto c = Conexao({dds.BaseURL()});
    std::vector<int32_t> contagem;
    c->SetOnPolling([&](IDDSConnection*, int32_t n) { contagem.push_back(n); });
    c->Authenticate();
    std::string url;
    std::string status = "x";
    bool patch = true;
    c->RequestFile("PATCH_KWEXEC.EXE_4087_4.0.8.7", url, status, patch);
    EXPECT_EQ(url, dds.BaseURL() + "/files/KWEXEC.EXE_4.0.8.7");
    EXPECT_EQ(status, "");
    EXPECT_FALSE(patch);
    EXPECT_EQ(contagem, (std::vector<int32_t>{12, 11, 10, 9}));
    // Three waits of 5 s in steps of a second, each step processing the window's messages.
    EXPECT_EQ(relogio.Elapsed(), 15000u);
    EXPECT_EQ(tela.processadas, 15);
    std::vector<std::string> nomes;
    for (const Json& r : dds.Requests("/file/downloadFile")) {
        nomes.push_back(r["query"]["fileName"][0].str());
        EXPECT_EQ(Autorizacao(r), "Bearer tokA");
    }
    EXPECT_EQ(nomes,
              (std::vector<std::string>{"PATCH_KWEXEC.EXE_4087_4.0.8.7", "KWEXEC.EXE_4.0.8.7",
                                        "KWEXEC.EXE_4.0.8.7", "KWEXEC.EXE_4.0.8.7", "KWEXEC.EXE_4.0.8.7"}));
    const auto params = dds.Requests("/misc/params");
    ASSERT_EQ(params.size(), 1u);
    EXPECT_EQ(Autorizacao(params[0]), "");
}

TEST_F(Dds, AFileNeverReadyIsAskedTwelveTimesAMinuteApart) {
    DdsServerPeer dds(R"({
        "oauth": {"access_token": "tokA"},
        "params": {"timeout": 60, "pollingTime": 5},
        "files": {"KWEXEC.EXE_1": [{"isFile": false, "url": null, "status": "PREPARING", "patchStatus": null}]}})");
    KW_REQUIRE_PEER(dds.Available(), dds.Reason());
    auto c = Conexao({dds.BaseURL()});
    std::vector<int32_t> contagem;
    c->SetOnPolling([&](IDDSConnection*, int32_t n) { contagem.push_back(n); });
    c->Authenticate();
    std::string url = "x";
    std::string status;
    bool patch = false;
    c->RequestFile("KWEXEC.EXE_1", url, status, patch);
    EXPECT_EQ(url, "");
    EXPECT_EQ(dds.Requests("/file/downloadFile").size(), 13u);  // the first question and 12 polls
    ASSERT_EQ(contagem.size(), 12u);
    EXPECT_EQ(contagem.front(), 12);
    EXPECT_EQ(contagem.back(), 1);
    EXPECT_EQ(relogio.Elapsed(), 60000u);
    EXPECT_EQ(tela.processadas, 60);
    EXPECT_EQ(T(c).PollingCountdown(), 0);
}

TEST_F(Dds, AFileOnAnotherRegisteredHostGetsThatHostsTokenOnly) {
    DdsServerPeer b(
        R"({"oauth": {"access_token": "tokB"}, "content": {"/files/F_1": {"data": "conteúdo de B"}}})");
    KW_REQUIRE_PEER(b.Available(), b.Reason());
    DdsServerPeer a(R"({"oauth": {"access_token": "tokA"}, "params": {"timeout": 5, "pollingTime": 5},
        "files": {"F_1": [{"isFile": true, "url": ")" +
                    b.BaseURL() + R"(/files/F_1", "status": null}]}})");
    KW_REQUIRE_PEER(a.Available(), a.Reason());
    auto c = Conexao({a.BaseURL(), b.BaseURL()});
    c->Authenticate();
    std::string url;
    std::string status;
    bool patch = false;
    c->RequestFile("F_1", url, status, patch);
    EXPECT_EQ(url, b.BaseURL() + "/files/F_1");
    EXPECT_EQ(T(c).HostIndex(), 1);
    const fs::path destino = dir / "F_1";
    EXPECT_TRUE(c->DownloadFile(url, destino.string()));
    EXPECT_EQ(kwtest::ReadFile(destino), "conteúdo de B");

    // A: its token, its questions (the first and one poll), its settings; never B's token.
    for (const Json& r : a.Requests()) {
        const std::string esperado = r["path"].str() == "/file/downloadFile" ? "Bearer tokA" : "";
        EXPECT_EQ(Autorizacao(r), esperado) << r["path"].str();
    }
    EXPECT_EQ(a.Requests("/file/downloadFile").size(), 2u);
    // B: asked nothing; its token request without A's bearer; its token with the file.
    EXPECT_EQ(b.Requests("/file/downloadFile").size(), 0u);
    const auto tokenB = b.Requests("/oauth/token");
    ASSERT_EQ(tokenB.size(), 1u);
    EXPECT_EQ(Autorizacao(tokenB[0]), "");
    const auto arquivoB = b.Requests("/files/F_1");
    ASSERT_EQ(arquivoB.size(), 1u);
    EXPECT_EQ(Autorizacao(arquivoB[0]), "Bearer tokB");
}

TEST_F(Dds, AReadyFileEndsAtOnceAndANotFoundOneMovesOnWithoutAskingTheNextHost) {
    DdsServerPeer b(R"({"oauth": {"access_token": "tokB"},
        "files": {"F_1": [{"isFile": true, "url": "{SELF}/files/F_1", "status": null}]}})");
    KW_REQUIRE_PEER(b.Available(), b.Reason());
    DdsServerPeer a(R"({"oauth": {"access_token": "tokA"},
        "files": {"F_1": [{"isFile": true, "url": "{SELF}/files/F_1", "status": null}],
                  "N_1": [{"isFile": false, "url": null, "status": null, "patchStatus": null}]}})");
    KW_REQUIRE_PEER(a.Available(), a.Reason());

    // Ready on the current host: one question, no settings read, no other host touched.
    auto c = Conexao({a.BaseURL(), b.BaseURL()});
    std::string status;
    EXPECT_EQ(Localize(*c, "F_1", status), a.BaseURL() + "/files/F_1");
    EXPECT_EQ(T(c).HostIndex(), 0);
    EXPECT_EQ(a.Requests("/file/downloadFile").size(), 1u);
    EXPECT_EQ(a.Requests("/misc/params").size(), 0u);
    EXPECT_EQ(b.Requests().size(), 0u);

    // Not found, no url, both hosts without settings (0): the client moves to B and
    // authenticates there, asks B nothing, and ends with an empty URL.
    auto d = Conexao({a.BaseURL(), b.BaseURL()});
    status = "x";
    EXPECT_EQ(Localize(*d, "N_1", status), "");
    EXPECT_EQ(status, "");
    EXPECT_EQ(T(d).HostIndex(), 1);
    EXPECT_TRUE(d->IsAuthenticated());
    EXPECT_EQ(b.Requests("/oauth/token").size(), 1u);
    EXPECT_EQ(b.Requests("/file/downloadFile").size(), 0u);
    EXPECT_EQ(a.Requests("/misc/params").size(), 1u);
    EXPECT_EQ(b.Requests("/misc/params").size(), 1u);
}

TEST_F(Dds, AnswersNamingHostsThatAreNotRegistered) {
    DdsServerPeer a(R"({"oauth": {"access_token": "tokA"}, "files": {}})");
    KW_REQUIRE_PEER(a.Available(), a.Reason());
    const std::string porta = std::to_string(a.Port());
    struct Caso {
        std::string url;
        std::string host;
    };
    const Caso casos[] = {
        {"http://127.0.0.1:1/files/x", "http://127.0.0.1:1"},
        // The same address with https is another host.
        {"https://127.0.0.1:" + porta + "/files/x", "https://127.0.0.1:" + porta},
        {"http://localhost:" + porta + "/files/x", "http://localhost:" + porta},
    };
    for (const Caso& caso : casos) {
        a.SetScript(R"({"oauth": {"access_token": "tokA"},
            "files": {"X_1": [{"isFile": true, "url": ")" +
                    caso.url + R"(", "status": null}]}})");
        auto c = Conexao({a.BaseURL()});
        c->Authenticate();
        std::string url;
        std::string status;
        bool patch = false;
        EXPECT_THROW(c->RequestFile("X_1", url, status, patch), EDDSUnregisteredHost);
        EXPECT_EQ(ThrownMessage([&] { c->RequestFile("X_1", url, status, patch); }),
                  "Host não registrado: " + caso.host);
    }
}

TEST_F(Dds, NullsReadAsEmptyAndMissingKeysRaise) {
    DdsServerPeer a(R"({"oauth": {"access_token": "tokA"},
        "files": {"N_1": [{"isFile": false, "url": null, "status": null, "patchStatus": null}],
                  "S_1": [{"isFile": false, "url": "", "status": "", "patchStatus": "null"}],
                  "P_1": [{"isFile": false, "url": null, "status": "PARENT_SERVER_UNAVAILABLE"}],
                  "T_1": [{"isFile": false, "url": null, "status": null, "patchStatus": "PATCH_TARGET_DOES_NOT_EXISTS"}],
                  "M_1": [{"isFile": false, "status": null}],
                  "J_1": [{"body": "<html>erro</html>"}]}})");
    KW_REQUIRE_PEER(a.Available(), a.Reason());
    struct Caso {
        const char* nome;
        const char* status;
    };
    const Caso casos[] = {{"N_1", ""},
                          {"S_1", ""},
                          {"P_1", "PARENT_SERVER_UNAVAILABLE"},
                          {"T_1", "PATCH_TARGET_DOES_NOT_EXISTS"}};
    for (const Caso& caso : casos) {
        auto c = Conexao({a.BaseURL()});
        c->Authenticate();
        std::string url = "x";
        std::string status = "x";
        bool patch = false;
        c->RequestFile(caso.nome, url, status, patch);
        EXPECT_EQ(url, "") << caso.nome;
        EXPECT_EQ(status, caso.status) << caso.nome;
        EXPECT_FALSE(ContemTexto(T(c).LogLines(), "url: null")) << caso.nome;
    }
    auto c = Conexao({a.BaseURL()});
    c->Authenticate();
    std::string url;
    std::string status;
    bool patch = false;
    EXPECT_EQ(ThrownMessage([&] { c->RequestFile("M_1", url, status, patch); }),
              "TJSONObject[\"url\"] not found.");
    EXPECT_EQ(ThrownMessage([&] { c->RequestFile("J_1", url, status, patch); }).substr(0, 34),
              "A TJSONObject must begin with \"{\" ");
}

TEST_F(Dds, HostsThatNameEachOtherAreLeftAfterEveryHostHadItsTurn) {
    DdsServerPeer a(R"({"oauth": {"access_token": "tokA"}})");
    DdsServerPeer b(R"({"oauth": {"access_token": "tokB"}})");
    KW_REQUIRE_PEER(a.Available() && b.Available(), a.Reason() + b.Reason());
    const auto roteiro = [](const std::string& outro, const std::string& token) {
        return R"({"oauth": {"access_token": ")" + token + R"("}, "params": {"timeout": 5, "pollingTime": 5},
            "files": {"L_1": [{"isFile": false, "url": ")" +
               outro + R"(/files/L_1", "status": null, "patchStatus": null}]}})";
    };
    a.SetScript(roteiro(b.BaseURL(), "tokA"));
    b.SetScript(roteiro(a.BaseURL(), "tokB"));
    auto c = Conexao({a.BaseURL(), b.BaseURL()});
    c->Authenticate();
    std::string url;
    std::string status;
    bool patch = false;
    c->RequestFile("L_1", url, status, patch);
    EXPECT_EQ(url, "");
    // A: the first question, its poll, and its poll after B sent the client back; B: one poll.
    EXPECT_EQ(a.Requests("/file/downloadFile").size(), 3u);
    EXPECT_EQ(b.Requests("/file/downloadFile").size(), 1u);
}

TEST_F(Dds, HostSettingsAreReadFromTheCurrentHostOn) {
    DdsServerPeer a(R"({"params": {"timeout": 60, "pollingTime": 5}})");
    DdsServerPeer b(R"({"params": {"timeout": 10, "pollingTime": 3}})");
    DdsServerPeer c3(R"({"params": {"timeout": -5, "pollingTime": 70000}})");
    KW_REQUIRE_PEER(a.Available() && b.Available() && c3.Available(), a.Reason() + b.Reason() + c3.Reason());
    auto c = Conexao({a.BaseURL(), b.BaseURL(), c3.BaseURL()});
    T(c).LoadHostSettings();
    EXPECT_EQ(c->GetHost(0).Timeout, 60);
    EXPECT_EQ(c->GetHost(0).PollingTime, 5);
    EXPECT_EQ(c->GetHost(1).Timeout, 10);
    EXPECT_EQ(c->GetHost(1).PollingTime, 3);
    // Out of the 16-bit range: the nearest end, not a wrapped value.
    EXPECT_EQ(c->GetHost(2).Timeout, 0);
    EXPECT_EQ(c->GetHost(2).PollingTime, 65535);
    EXPECT_EQ(T(c).PollingCountdown(), 12 + 3);
    EXPECT_EQ(a.Requests("/misc/params").size(), 1u);

    // A socket failure stops the reading: the hosts after it keep 0.
    kwtest::RefusedPort fechada;
    auto d = Conexao({"http://" + fechada.Address(), a.BaseURL()});
    T(d).LoadHostSettings();
    EXPECT_EQ(d->GetHost(1).Timeout, 0);
    EXPECT_EQ(T(d).LogLines().back(), "ERROR: Socket Error # 10061 Connection refused.");
    EXPECT_EQ(a.Requests("/misc/params").size(), 1u);
    // Other failures raise.
    b.SetScript(R"({"params": {"timeout": 10}})");
    auto e = Conexao({b.BaseURL()});
    EXPECT_EQ(ThrownMessage([&] { T(e).LoadHostSettings(); }), "TJSONObject[\"pollingTime\"] not found.");
    b.SetScript(R"({"params": {"status": 500}})");
    EXPECT_EQ(ThrownMessage([&] { T(e).LoadHostSettings(); }).substr(0, 13), "HTTP/1.0 500 ");
}

TEST_F(Dds, AnAnswerLargerThanItsCeilingIsNotRead) {
    DdsServerPeer a(R"({"oauth": {"access_token": "tokA"}, "files": {"G_1": [{"body": ")" +
                    std::string(70000, 'x') + R"("}]}})");
    KW_REQUIRE_PEER(a.Available(), a.Reason());
    auto c = Conexao({a.BaseURL()});
    c->Authenticate();
    std::string url;
    std::string status;
    bool patch = false;
    c->RequestFile("G_1", url, status, patch);
    EXPECT_EQ(url, "");
    EXPECT_TRUE(ContemTexto(
        T(c).LogLines(), "ERROR: Erro não tratado: A resposta do servidor de download excede 65536 bytes."));
}

TEST_F(Dds, ADownloadPutsOnlyAWholeFileInPlace) {
    const std::string dados(300000, 'D');
    DdsServerPeer a(R"({"oauth": {"access_token": "tokA"}, "content": {
        "/files/whole": {"data": ")" +
                    dados + R"("},
        "/files/cut": {"data": ")" +
                    dados + R"(", "mode": "cut"},
        "/files/error": {"data": "x", "mode": "error"},
        "/files/silent": {"data": "x", "mode": "silent"}}})");
    KW_REQUIRE_PEER(a.Available(), a.Reason());
    const fs::path destino = dir / "app" / "kwExec.exe";
    fs::create_directories(destino.parent_path());

    struct Caso {
        const char* caminho;
        bool ok;
        const char* erro;  // the start of the error line
    };
    const Caso casos[] = {
        {"/files/cut", false, "ERROR: Erro não tratado: "},
        {"/files/error", false, "ERROR: Erro não tratado: HTTP/1.0 500"},
        {"/files/silent", false, "ERROR: "},
        {"/files/whole", true, ""},
    };
    // The silent server never answers: its read times out. The other answers come within it
    // even on a loaded machine.
    TempoLimiteTransferencia = 2000;
    for (const Caso& caso : casos) {
        kwtest::WriteFile(destino, "velho");
        auto c = Conexao({a.BaseURL()});
        c->Authenticate();
        std::vector<std::string> eventos;
        c->SetOnDownloadBegin(
            [&](IDDSConnection*, int64_t n) { eventos.push_back("begin " + std::to_string(n)); });
        c->SetOnDownloadEnd([&](IDDSConnection*) { eventos.push_back("end"); });
        EXPECT_EQ(c->DownloadFile(a.BaseURL() + caso.caminho, destino.string()), caso.ok) << caso.caminho;
        EXPECT_EQ(kwtest::ReadFile(destino), caso.ok ? dados : "velho") << caso.caminho;
        EXPECT_EQ(Sobras(destino.parent_path()), 0) << caso.caminho;
        if (caso.ok) {
            EXPECT_EQ(eventos, (std::vector<std::string>{"begin 300000", "end"}));
            EXPECT_EQ(T(c).LogLines().back(), "Tamanho: 300000");
        } else {
            EXPECT_EQ(T(c).LogLines().back().rfind(caso.erro, 0), 0u)
                << caso.caminho << ": " << T(c).LogLines().back();
        }
    }
    for (const Json& r : a.Requests()) {
        if (r["path"].str() != "/oauth/token") {
            EXPECT_EQ(Autorizacao(r), "Bearer tokA") << r["path"].str();
        }
    }
}

TEST_F(Dds, TheTokenNeverGoesToAnotherOrigin) {
    DdsServerPeer b(R"({"content": {"/files/R": {"data": "redirecionado", "bearer": false},
                                    "/files/S": {"data": "segredo"}}})");
    KW_REQUIRE_PEER(b.Available(), b.Reason());
    DdsServerPeer a(R"({"oauth": {"access_token": "tokA"}, "content": {
        "/files/R": {"mode": "redirect", "to": ")" +
                    b.BaseURL() + R"(/files/R"}}})");
    KW_REQUIRE_PEER(a.Available(), a.Reason());
    auto c = Conexao({a.BaseURL()});
    c->Authenticate();
    // Redirected to another origin: the file comes, the token stays behind.
    const fs::path destino = dir / "R";
    EXPECT_TRUE(c->DownloadFile(a.BaseURL() + "/files/R", destino.string()));
    EXPECT_EQ(kwtest::ReadFile(destino), "redirecionado");
    // A URL on an origin that is not the current host's gets no token at all.
    EXPECT_FALSE(c->DownloadFile(b.BaseURL() + "/files/S", (dir / "S").string()));
    EXPECT_FALSE(fs::exists(dir / "S"));
    const auto arquivos = a.Requests("/files/R");
    ASSERT_EQ(arquivos.size(), 1u);
    EXPECT_EQ(Autorizacao(arquivos[0]), "Bearer tokA");
    ASSERT_EQ(b.Requests().size(), 2u);
    for (const Json& r : b.Requests())
        EXPECT_EQ(Autorizacao(r), "") << r["path"].str();
}

}  // namespace
