// The HTTP and HTTPS update sites through CopieArquivo (with the backup, as the executor's
// self-update copies) and BaixeArquivoHTTP itself: lighttpd over plain HTTP and over TLS
// (files, Basic authentication, 404, the bytes compared with curl's; certificates refused for
// their CA, their name or their date; each TLS version offered); the scripted HTTP peer for the
// exact requests (no credentials for the anonymous names) and a body cut short; tinyproxy for
// the proxy rule, HTTPS through its tunnel; the scripted TLS peer for the hello the download
// sends, an SSL 3.0 answer and an unexpected-message alert; a server that never answers the
// HEAD; an attempt count below 1, over HTTP and FTP.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "CopiaTestSupport.h"
#include "common/LauncherTestHooks.h"
#include "common/ukwUpdConstante.h"
#include "common/ukwUpdLog.h"
#include "platform/Clock.h"
#include "support/LoopbackListeners.h"
#include "support/TestSupport.h"
#include "tests/net/HttpPeer.h"
#include "tests/net/HttpServers.h"
#include "tests/tls/ClientTestSupport.h"
#include "tests/tls/FtpPeers.h"
#include "transfer/ukwUpdFileUtil.h"
#include "transfer/ukwUpdFileUtilHTTP.h"

namespace {

namespace fs = std::filesystem;

class CopiaHTTP : public kwtest::CopiaDeSite {
protected:
    void TearDown() override {
        UsaProxy = true;
        PermiteSSL2 = true;
        CopiaDeSite::TearDown();
    }

    bool Baixe(const std::string& origem, const std::string& usuario = "", const std::string& senha = "") {
        return Copie(origem, Destino().string(), usuario, senha);
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
    // The destination as a case starts it: the old file, or none.
    void Prepare(bool existia) const {
        if (existia)
            kwtest::WriteFile(Destino(), "velho");
        else
            fs::remove(Destino());
    }
    // After a failed copy the destination is as it was (the old file, or none), alone.
    void ComoAntes(bool existia, const std::string& caso) const {
        if (existia)
            EXPECT_EQ(kwtest::ReadFile(Destino()), "velho") << caso;
        else
            EXPECT_FALSE(fs::exists(Destino())) << caso;
        SoODestino(caso);
    }
    // The attempt lines of the last copy.
    size_t Tentativas() const {
        size_t n = 0;
        for (const std::string& l : log->Linhas())
            n += l.find("Tentativa (") != std::string::npos;
        return n;
    }
};

// Over plain HTTP and over TLS (mod_openssl, the test CA's certificate for 127.0.0.1 checked).
TEST_F(CopiaHTTP, FilesFromLighttpdAsCurlGetsThemAndTheStatusesThatFail) {
    plat::ManualClock relogio;
    plat::ScopedClock usa(relogio);
    ASSERT_TRUE(kwtest::TrustTestCA());
    for (const std::string esquema : {"http", "https"}) {
        SCOPED_TRACE(esquema);
        kwtest::HttpSite site;
        kwtest::Lighttpd servidor(site, esquema == "https" ? kwtest::LighttpdTls() : std::string());
        KW_REQUIRE_PEER(servidor.Available(), servidor.Reason());
        const std::string grande = servidor.Url("/files/big.bin", esquema);
        const auto curl = kwtest::CurlGet(grande, {"--cacert", kwtest::Cert("ca.pem")});
        KW_REQUIRE_PEER(curl.has_value(), "curl");

        EXPECT_TRUE(Baixe(grande)) << UltimoErro;
        EXPECT_TRUE(kwtest::ReadFile(Destino()) == *curl);
        SoODestino("200");

        // A redirection is followed; only the final answer's body lands in the file.
        EXPECT_TRUE(Baixe(servidor.Url("/r302", esquema))) << UltimoErro;
        EXPECT_EQ(kwtest::ReadFile(Destino()), "hello\n");

        // With the right credentials the protected file comes; a named user's credentials are
        // sent.
        EXPECT_TRUE(Baixe(servidor.Url("/private/s.txt", esquema), "kw", "right-password")) << UltimoErro;
        EXPECT_EQ(kwtest::ReadFile(Destino()), "secret\n");

        struct Caso {
            std::string nome;
            std::string url;
            std::string usuario;
            std::string senha;
            std::string texto;  // of BaixeArquivoHTTP's exception
        };
        const std::string faltando = servidor.Url("/files/nada.exe", esquema);
        const std::string privado = servidor.Url("/private/s.txt", esquema);
        const Caso casos[] = {
            {"404", faltando, "", "", "Erro de HTTP: 404 no download do " + faltando},
            {"401 without credentials", privado, "", "", "Acesso negado ao " + privado},
            {"401 with a wrong password", privado, "kw", "errada", "Acesso negado ao " + privado},
            {"an anonymous name sends no credentials", privado, " Guest", "right-password",
             "Acesso negado ao " + privado},
        };
        for (const Caso& c : casos) {
            for (const bool existia : {true, false}) {
                Prepare(existia);
                EXPECT_FALSE(Baixe(c.url, c.usuario, c.senha)) << c.nome;
                // The download's own texts stay out of UltimoErro.
                EXPECT_EQ(UltimoErro, "") << c.nome;
                ComoAntes(existia, c.nome);
            }
            EXPECT_EQ(Falha(c.url, c.usuario, c.senha), c.texto) << c.nome;
            EXPECT_FALSE(fs::exists(Destino())) << c.nome;
            SoODestino(c.nome);
        }
        kwtest::WriteFile(Destino(), "velho");
    }
}

// A certificate that is refused fails every attempt like a refused connection: one from no
// trusted CA, one of the trusted CA for another name (also a DNS name that reads like the
// address the host is written as), one out of date. The old file stays, and where there was
// none no file appears.
TEST_F(CopiaHTTP, RefusedCertificatesFailEveryAttempt) {
    Configure(3, 2);
    plat::ManualClock relogio;
    plat::ScopedClock usa(relogio);
    ASSERT_TRUE(kwtest::TrustTestCA());
    kwtest::HttpSite site;
    struct Caso {
        std::string certificado;
        std::string host;
    };
    const Caso casos[] = {{"self", "localhost"},
                          {"other", "127.0.0.1"},
                          {"wild-address", "0x7f.0.0.1"},
                          {"expired", "127.0.0.1"}};
    for (const Caso& c : casos) {
        kwtest::Lighttpd servidor(site, kwtest::LighttpdTls(c.certificado));
        KW_REQUIRE_PEER(servidor.Available(), servidor.Reason());
        const std::string url = "https://" + c.host + ":" + std::to_string(servidor.Port()) + "/files/a.txt";
        for (const bool existia : {true, false}) {
            Prepare(existia);
            const uint64_t antes = relogio.Elapsed();
            EXPECT_FALSE(Baixe(url)) << c.certificado;
            EXPECT_EQ(UltimoErro, "") << c.certificado;
            EXPECT_EQ(Tentativas(), 3u) << c.certificado;
            EXPECT_EQ(relogio.Elapsed() - antes, 6000u) << c.certificado;
            ComoAntes(existia, c.certificado);
        }
        const std::string texto = Falha(url);
        EXPECT_TRUE(texto.starts_with("Connection failed due to error (")) << c.certificado << ": " << texto;
        SoODestino(c.certificado);
    }
}

// A scenario of the scripted TLS peer (tests/peers/tlspeer.py): the test CA's certificate for
// localhost and 127.0.0.1, RSA key exchange with AES-128, an HTTP answer after the handshake,
// and further settings.
std::string CenaTls(const std::string& versao, const std::string& extra) {
    return "{\"version\": \"" + versao + "\", \"suite\": 47, \"chain\": [\"" +
           kwtest::Cert("server-rsa.pem") + "\", \"" + kwtest::Cert("int.pem") + "\"], \"key\": \"" +
           kwtest::Cert("server-rsa.key") +
           "\", \"http_response\": \"HTTP/1.0 200 OK\\r\\nContent-Length: 2\\r\\n\\r\\nok\", " + extra + "}";
}
// A fatal unexpected_message alert, sent in answer to the client's hello.
const std::string kAlertaMensagemInesperada = R"("preface": ["1503030002020a"])";

std::string UrlTls(const kwtest::ScriptedTlsPeer& peer) {
    return "https://127.0.0.1:" + std::to_string(peer.Port()) + "/dist/kwExec.exe";
}

// A server that answers the hello with an unexpected_message alert gets one more try at once,
// without SSL 2.0 for the rest of the run; when that try meets the alert too, the call fails
// like any other (and the attempt loop goes on), never trying a third time.
TEST_F(CopiaHTTP, AnUnexpectedMessageAlertIsTriedOnceMore) {
    ASSERT_TRUE(kwtest::TrustTestCA());
    plat::ManualClock relogio;
    plat::ScopedClock usa(relogio);
    {
        kwtest::ScriptedTlsPeer peer(
            CenaTls("tls12", R"("connections": 3, "each": [{)" + kAlertaMensagemInesperada + "}]"));
        KW_REQUIRE_PEER(peer.Available(), peer.Reason());
        EXPECT_TRUE(Baixe(UrlTls(peer))) << peer.Log();
        EXPECT_EQ(kwtest::ReadFile(Destino()), "ok");
        EXPECT_EQ(Tentativas(), 0u);
        EXPECT_FALSE(PermiteSSL2);
        EXPECT_TRUE(peer.Result(0).has("hello"));
        EXPECT_TRUE(peer.Result(1)["app_data"].str().starts_with("HEAD /dist/kwExec.exe HTTP/1.0\r\n"));
        EXPECT_TRUE(peer.Result(2)["app_data"].str().starts_with("GET /dist/kwExec.exe HTTP/1.0\r\n"));
    }
    {
        Configure(2, 1);
        kwtest::WriteFile(Destino(), "velho");
        kwtest::ScriptedTlsPeer peer(CenaTls("tls12", R"("connections": 4, )" + kAlertaMensagemInesperada));
        KW_REQUIRE_PEER(peer.Available(), peer.Reason());
        EXPECT_FALSE(Baixe(UrlTls(peer)));
        EXPECT_EQ(UltimoErro, "");
        EXPECT_EQ(Tentativas(), 2u);
        EXPECT_EQ(kwtest::ReadFile(Destino()), "velho");
        SoODestino("alert");
        for (int n = 0; n < 4; ++n)
            EXPECT_TRUE(peer.Result(n).has("hello")) << n;
    }
    {
        // Two connections and no more: a third try would find nobody listening and fail for
        // that reason instead.
        kwtest::ScriptedTlsPeer peer(CenaTls("tls12", R"("connections": 2, )" + kAlertaMensagemInesperada));
        KW_REQUIRE_PEER(peer.Available(), peer.Reason());
        const std::string texto = Falha(UrlTls(peer));
        EXPECT_NE(texto.find("75777"), std::string::npos) << texto;
        EXPECT_TRUE(peer.Result(1).has("hello"));
    }
}

// HTTPS offers TLS 1.0, 1.1 and 1.2 whatever PermiteSSL2 says: lighttpd limited to each of
// them answers; the scripted peer sees a TLS hello (not the SSL 2.0 form) that names TLS 1.2 at
// most; a server that answers with SSL 3.0 is refused.
TEST_F(CopiaHTTP, TheOfferedVersions) {
    ASSERT_TRUE(kwtest::TrustTestCA());
    plat::ManualClock relogio;
    plat::ScopedClock usa(relogio);
    kwtest::HttpSite site;
    for (const bool ssl2 : {true, false}) {
        const std::string caso = ssl2 ? "PermiteSSL2 on" : "PermiteSSL2 off";
        for (const std::string versao : {"TLSv1", "TLSv1.1", "TLSv1.2"}) {
            PermiteSSL2 = ssl2;
            kwtest::Lighttpd servidor(site, kwtest::LighttpdTls("server-rsa", "AES128-SHA", versao, versao));
            KW_REQUIRE_PEER(servidor.Available(), servidor.Reason());
            EXPECT_TRUE(Baixe(servidor.Url("/files/a.txt", "https"))) << caso << " " << versao;
            EXPECT_EQ(kwtest::ReadFile(Destino()), "hello\n") << caso << " " << versao;
        }

        PermiteSSL2 = ssl2;
        kwtest::ScriptedTlsPeer peer(CenaTls("tls12", R"("connections": 2)"));
        KW_REQUIRE_PEER(peer.Available(), peer.Reason());
        EXPECT_TRUE(Baixe(UrlTls(peer))) << caso << peer.Log();
        const kwtest::Json r = peer.Result(0);
        EXPECT_FALSE(r.has("compatible_hello")) << caso;
        EXPECT_EQ(r["hello"]["version"].integer(), 0x0303) << caso;

        kwtest::WriteFile(Destino(), "velho");
        kwtest::ScriptedTlsPeer ssl3(CenaTls("ssl3", R"("connections": 1)"));
        KW_REQUIRE_PEER(ssl3.Available(), ssl3.Reason());
        EXPECT_FALSE(Baixe(UrlTls(ssl3))) << caso;
        EXPECT_EQ(kwtest::ReadFile(Destino()), "velho") << caso;
        EXPECT_FALSE(ssl3.Result(0).has("handshake_done")) << caso;
    }
}

// With MaximoTentativasDownload below 1 the one attempt's failure leaves the loop: the copy
// answers false with the unexpected-error text around the failure's own, and the old file is
// back (a missing one stays missing) with nothing else beside it.
TEST_F(CopiaHTTP, AnAttemptCountBelowOneLetsTheFailureThrough) {
    Configure(0, 1);
    plat::ManualClock relogio;
    plat::ScopedClock usa(relogio);
    kwtest::HttpSite site;
    kwtest::Lighttpd servidor(site);
    KW_REQUIRE_PEER(servidor.Available(), servidor.Reason());
    kwtest::FtpRoot raiz;
    kwtest::PyFtpd ftp(raiz);
    KW_REQUIRE_PEER(ftp.Available(), ftp.Reason());
    struct Caso {
        std::string origem;
        std::string ultimoErro;
    };
    const std::string faltando = servidor.Url("/files/nada.exe");
    const Caso casos[] = {
        {faltando, "Erro inesperado: Erro de HTTP: 404 no download do " + faltando},
        {"FTP:127.0.0.1:" + std::to_string(ftp.Port()) + "\\kwExec.exe",
         "Erro inesperado: O arquivo \"kwExec.exe\" não pode ser encontrado no servidor. FTP: 127.0.0.1"},
    };
    for (const Caso& c : casos) {
        for (const bool existia : {true, false}) {
            Prepare(existia);
            EXPECT_FALSE(Baixe(c.origem, "kw", "secret")) << c.origem;
            EXPECT_EQ(UltimoErro, c.ultimoErro) << c.origem;
            EXPECT_EQ(Tentativas(), 0u) << c.origem;
            ComoAntes(existia, c.origem);
        }
    }
    EXPECT_EQ(relogio.Elapsed(), 0u);
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

// The proxy rule against tinyproxy, which marks what it forwards with its Via field and logs
// the tunnels (CONNECT) it opens for HTTPS.
TEST_F(CopiaHTTP, TheProxyRuleWithTinyproxy) {
    kwtest::DaemonPeer proxy(
        "tinyproxy", {"-d", "-c", "{DIR}/server.conf"},
        "Port {PORT}\nListen 127.0.0.1\nTimeout 60\nMaxClients 20\nAllow 127.0.0.1\nLogLevel Connect\n");
    KW_REQUIRE_PEER(proxy.Available(), proxy.Reason());
    ASSERT_TRUE(kwtest::TrustTestCA());
    kwtest::HttpSite site;
    kwtest::Lighttpd seguro(site, kwtest::LighttpdTls());
    KW_REQUIRE_PEER(seguro.Available(), seguro.Reason());
    const std::string tunel = "CONNECT 127.0.0.1:" + std::to_string(seguro.Port()) + " ";
    const auto tuneis = [&] {
        const std::string registro = proxy.ReadLog();
        int n = 0;
        for (size_t p = registro.find(tunel); p != std::string::npos; p = registro.find(tunel, p + 1))
            ++n;
        return n;
    };
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
        // HTTPS through the proxy's tunnel, the certificate still checked: HEAD and GET.
        const int antes = tuneis();
        EXPECT_TRUE(Baixe(seguro.Url("/files/a.txt", "https"))) << caso;
        EXPECT_EQ(kwtest::ReadFile(Destino()), "hello\n") << caso;
        EXPECT_EQ(tuneis() - antes, c.viaProxy ? 2 : 0) << caso << "\n" << proxy.ReadLog();
    }
    EXPECT_TRUE(peer.Finished()) << peer.Errors();
}

}  // namespace
