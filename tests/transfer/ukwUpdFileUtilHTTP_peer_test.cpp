// The HTTP update sites through CopieArquivo (with the backup, as the executor's self-update
// copies) and BaixeArquivoHTTP itself: lighttpd (files, Basic authentication, 404), the bytes
// compared with curl's; the scripted HTTP peer for the exact requests (no credentials for the
// anonymous names) and a body cut short; tinyproxy for the proxy rule; a server that never
// answers the HEAD.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/LauncherTestHooks.h"
#include "common/ukwUpdConstante.h"
#include "common/ukwUpdLog.h"
#include "platform/Clock.h"
#include "support/LoopbackListeners.h"
#include "support/TestSupport.h"
#include "tests/net/HttpPeer.h"
#include "tests/net/HttpServers.h"
#include "transfer/ukwUpdFileUtil.h"
#include "transfer/ukwUpdFileUtilHTTP.h"

namespace {

namespace fs = std::filesystem;

class CopiaHTTP : public ::testing::Test {
protected:
    void SetUp() override {
        Configure(1, 1);
        fs::create_directories(dir / "app");
        kwtest::WriteFile(Destino(), "velho");
    }
    void TearDown() override {
        UsaProxy = true;
        ResetLauncherBaseForTests("");
    }

    void Configure(int tentativas, int espera, const std::string& extra = {}) {
        kwtest::WriteFile(dir / "kwCFG.ini", "[KWUPDATE]\r\nMaximoTentativasDownload=" + std::to_string(tentativas) +
                                                 "\r\nTempoEsperaSegundosNovaTentativaDownload=" +
                                                 std::to_string(espera) + "\r\n" + extra);
        ResetLauncherBaseForTests((dir / "kwLoader").string());
    }
    fs::path Destino() const { return dir / "app" / "kwExec.exe"; }
    bool Baixe(const std::string& origem, const std::string& usuario = "", const std::string& senha = "") {
        log = std::make_unique<TkwUpdLog>();
        bool d2 = true;
        bool d3 = true;
        return CopieArquivo(origem, Destino().string(), usuario, senha, true, log.get(), d2, d3, "", "", -999);
    }
    // The exception text of a direct download, empty when it succeeded.
    std::string Falha(const std::string& url, const std::string& usuario = "", const std::string& senha = "") {
        try {
            EXPECT_TRUE(BaixeArquivoHTTP(url, Destino().string(), usuario, senha));
            return {};
        } catch (const std::exception& e) {
            return e.what();
        }
    }
    // Only the destination (or nothing) is left in its folder: no backup, no temporary file.
    void SoODestino(const std::string& caso) const {
        for (const auto& e : fs::directory_iterator(dir / "app"))
            EXPECT_EQ(e.path().filename(), "kwExec.exe") << caso << ": " << e.path();
    }

    kwtest::TempDir dir;
    std::unique_ptr<TkwUpdLog> log;
};

TEST_F(CopiaHTTP, FilesFromLighttpdAsCurlGetsThemAndTheStatusesThatFail) {
    plat::ManualClock relogio;
    plat::ScopedClock usa(relogio);
    kwtest::HttpSite site;
    kwtest::Lighttpd servidor(site);
    KW_REQUIRE_PEER(servidor.Available(), servidor.Reason());
    const std::string grande = servidor.Url("/files/big.bin");
    const auto curl = kwtest::CurlGet(grande);
    KW_REQUIRE_PEER(curl.has_value(), "curl");

    EXPECT_TRUE(Baixe(grande)) << UltimoErro;
    EXPECT_EQ(kwtest::ReadFile(Destino()), *curl);
    SoODestino("200");

    // A redirection is followed; only the final answer's body lands in the file.
    EXPECT_TRUE(Baixe(servidor.Url("/r302"))) << UltimoErro;
    EXPECT_EQ(kwtest::ReadFile(Destino()), "hello\n");

    // With the right credentials the protected file comes; a named user's credentials are sent.
    EXPECT_TRUE(Baixe(servidor.Url("/private/s.txt"), "kw", "right-password")) << UltimoErro;
    EXPECT_EQ(kwtest::ReadFile(Destino()), "secret\n");

    struct Caso {
        std::string nome;
        std::string url;
        std::string usuario;
        std::string senha;
        std::string texto;  // of BaixeArquivoHTTP's exception
    };
    const std::string faltando = servidor.Url("/files/nada.exe");
    const std::string privado = servidor.Url("/private/s.txt");
    const Caso casos[] = {
        {"404", faltando, "", "", "Erro de HTTP: 404 no download do " + faltando},
        {"401 without credentials", privado, "", "", "Acesso negado ao " + privado},
        {"401 with a wrong password", privado, "kw", "errada", "Acesso negado ao " + privado},
        {"an anonymous name sends no credentials", privado, " Guest", "right-password", "Acesso negado ao " + privado},
    };
    for (const Caso& c : casos) {
        for (const bool existia : {true, false}) {
            if (existia)
                kwtest::WriteFile(Destino(), "velho");
            else
                fs::remove(Destino());
            EXPECT_FALSE(Baixe(c.url, c.usuario, c.senha)) << c.nome;
            // The download's own texts stay out of UltimoErro.
            EXPECT_EQ(UltimoErro, "") << c.nome;
            if (existia)
                EXPECT_EQ(kwtest::ReadFile(Destino()), "velho") << c.nome;
            else
                EXPECT_FALSE(fs::exists(Destino())) << c.nome;
            SoODestino(c.nome);
        }
        EXPECT_EQ(Falha(c.url, c.usuario, c.senha), c.texto) << c.nome;
        EXPECT_FALSE(fs::exists(Destino())) << c.nome;
        SoODestino(c.nome);
    }
}

TEST(ukwUpdFileUtilHTTP, AnonymousNames) {
    for (const char* nome : {"", "   ", "convidado", "anonymous", "guest", " Guest", "ANONYMOUS ", "Convidado"})
        EXPECT_TRUE(EhUsuarioAnonimo(nome)) << "[" << nome << "]";
    for (const char* nome : {"ana", "guests", "anonymous1", "con vidado", "kw"})
        EXPECT_FALSE(EhUsuarioAnonimo(nome)) << "[" << nome << "]";
}

TEST(ukwUpdFileUtilHTTP, TheProxyRule) {
    struct Caso {
        int32_t porta;
        const char* endereco;
        bool usaProxy;
        bool resultado;
    };
    const Caso casos[] = {
        {8080, "proxy", true, true},  {0, "proxy", true, false},   {8080, "", true, false},
        {8080, "proxy", false, false}, {-1, "proxy", true, true},
    };
    for (const Caso& c : casos) {
        UsaProxy = c.usaProxy;
        EXPECT_EQ(UsaProxyHTTP(c.porta, c.endereco), c.resultado) << c.porta << " " << c.endereco << " " << c.usaProxy;
    }
    UsaProxy = true;
}

// Each name is asked twice (HEAD and GET); none of the requests carries credentials, while a
// named user's do.
TEST_F(CopiaHTTP, AnonymousNamesSendNoCredentials) {
    const std::vector<std::string> anonimos = {"", "convidado", "Anonymous", " Guest", "GUEST "};
    kwtest::HttpScript script;
    for (size_t i = 0; i < anonimos.size() + 1; ++i)
        script.Answer("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\n")
            .Answer("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");
    kwtest::HttpPeer peer(script);
    KW_REQUIRE_HTTP_PEER(peer);
    int n = 0;
    for (const std::string& nome : anonimos) {
        EXPECT_TRUE(Baixe(peer.Url("/dist/kwExec.exe"), nome, "senha")) << "[" << nome << "]";
        for (int k = 0; k < 2; ++k, ++n) {
            const std::string pedido = peer.Request(n);
            EXPECT_EQ(pedido.find("Authorization"), std::string::npos) << "[" << nome << "] " << pedido;
            EXPECT_TRUE(pedido.starts_with(k == 0 ? "HEAD /dist/kwExec.exe HTTP/1.0\r\n"
                                                  : "GET /dist/kwExec.exe HTTP/1.0\r\n"))
                << pedido;
            EXPECT_NE(pedido.find("User-Agent: SecureClient\r\n"), std::string::npos) << pedido;
        }
    }
    EXPECT_TRUE(Baixe(peer.Url("/dist/kwExec.exe"), "ana", "senha"));
    EXPECT_EQ(kwtest::ReadFile(Destino()), "ok");
    EXPECT_TRUE(peer.Finished()) << peer.Errors();
    // "ana:senha" in Base64 (RFC 7617).
    EXPECT_NE(peer.Request(n + 1).find("Authorization: Basic YW5hOnNlbmhh\r\n"), std::string::npos)
        << peer.Request(n + 1);
}

// A body that ends before its Content-Length fails the attempt: nothing of it is left, and
// the old file is back.
TEST_F(CopiaHTTP, ABodyCutShort) {
    kwtest::HttpScript script;
    script.Answer("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n")
        .Answer("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nsó um pedaço");
    kwtest::HttpPeer peer(script);
    KW_REQUIRE_HTTP_PEER(peer);
    plat::ManualClock relogio;
    plat::ScopedClock usa(relogio);
    EXPECT_FALSE(Baixe(peer.Url("/kwExec.exe")));
    EXPECT_EQ(kwtest::ReadFile(Destino()), "velho");
    SoODestino("cut");
    EXPECT_TRUE(peer.Finished()) << peer.Errors();
}

// A server that takes the connection but never answers the HEAD: the attempt fails once the
// HEAD's time-out has passed, though a GET might have been answered.
TEST_F(CopiaHTTP, AHeadThatIsNotAnsweredFailsTheAttempt) {
    Configure(1, 0);
    kwtest::LoopbackListener mudo;
    const std::string url = "http://" + mudo.Address() + "/kwExec.exe";
    const std::string texto = Falha(url);
    EXPECT_NE(texto.find("timeout"), std::string::npos) << texto;
    EXPECT_FALSE(Baixe(url));
    EXPECT_EQ(kwtest::ReadFile(Destino()), "velho");
    SoODestino("silent");
    EXPECT_EQ(mudo.Connections(), 2);
}

// The proxy rule against tinyproxy, which marks what it forwards with its Via field.
TEST_F(CopiaHTTP, TheProxyRuleWithTinyproxy) {
    kwtest::DaemonPeer proxy("tinyproxy", {"-d", "-c", "{DIR}/server.conf"},
                             "Port {PORT}\nListen 127.0.0.1\nTimeout 60\nMaxClients 20\nAllow 127.0.0.1\nLogLevel Error\n");
    KW_REQUIRE_PEER(proxy.Available(), proxy.Reason());
    struct Caso {
        int porta;
        std::string endereco;
        bool usaProxy;
        bool viaProxy;
    };
    const Caso casos[] = {
        {proxy.Port(), "127.0.0.1", true, true},
        {0, "127.0.0.1", true, false},
        {proxy.Port(), "", true, false},
        {proxy.Port(), "127.0.0.1", false, false},
    };
    kwtest::HttpScript script;
    for (size_t i = 0; i < std::size(casos); ++i)
        script.Answer("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\n")
            .Answer("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");
    kwtest::HttpPeer peer(script);
    KW_REQUIRE_HTTP_PEER(peer);
    int n = 0;
    for (const Caso& c : casos) {
        Configure(1, 1,
                  "EnderecoProxy=" + c.endereco + "\r\nPortaProxy=" + std::to_string(c.porta) + "\r\n");
        UsaProxy = c.usaProxy;
        const std::string caso = std::to_string(c.porta) + " [" + c.endereco + "] " + (c.usaProxy ? "on" : "off");
        EXPECT_TRUE(Baixe(peer.Url("/dist/kwExec.exe"))) << caso;
        EXPECT_EQ(kwtest::ReadFile(Destino()), "ok") << caso;
        for (int k = 0; k < 2; ++k, ++n) {
            const std::string pedido = peer.Request(n);
            EXPECT_EQ(pedido.find("tinyproxy") != std::string::npos, c.viaProxy) << caso << "\n" << pedido;
        }
    }
    EXPECT_TRUE(peer.Finished()) << peer.Errors();
}

}  // namespace
