// PingHTTPS with the GET of this build (the TLS library's HTTPS client) against real answers:
// the scripted HTTP peer for each status, lighttpd for a file, a folder it refuses to list and
// a missing file, over plain HTTP and over TLS (mod_openssl), where a certificate from no
// trusted CA is reachable only once the server certificate file beside the executable holds it.
#include <gtest/gtest.h>

#include <string>

#include "common/LauncherTestHooks.h"
#include "support/LoopbackListeners.h"
#include "support/TestSupport.h"
#include "tests/net/HttpPeer.h"
#include "tests/net/HttpServers.h"
#include "tests/tls/ClientTestSupport.h"
#include "transfer/ukwUpdConexaoKw4Ping.h"

namespace {

TEST(PingHTTPSPeer, TheStatusOfARealAnswer) {
    struct Caso {
        int status;
        bool alcancavel;
    };
    const Caso casos[] = {{200, true}, {403, true}, {500, true}, {404, false}, {302, false}};
    kwtest::HttpScript script;
    for (const Caso& c : casos)
        script.Answer("HTTP/1.1 " + std::to_string(c.status) + " X\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    kwtest::HttpPeer peer(script);
    KW_REQUIRE_HTTP_PEER(peer);
    for (const Caso& c : casos) EXPECT_EQ(TPing::PingHTTPS(peer.Url("/"), 30000), c.alcancavel) << c.status;
    EXPECT_TRUE(peer.Finished()) << peer.Errors();
    EXPECT_TRUE(peer.Request(0).starts_with("GET / HTTP/1.0\r\n")) << peer.Request(0);
}

TEST(PingHTTPSPeer, Lighttpd) {
    kwtest::HttpSite site;
    kwtest::Lighttpd servidor(site);
    KW_REQUIRE_PEER(servidor.Available(), servidor.Reason());
    EXPECT_TRUE(TPing::PingHTTPS(servidor.Url("/files/a.txt"), 30000));
    EXPECT_TRUE(TPing::PingHTTPS(servidor.Url("/"), 30000));  // 403: no index, no listing
    EXPECT_FALSE(TPing::PingHTTPS(servidor.Url("/nada"), 30000));
    // Nobody listens: no answer.
    const kwtest::RefusedPort recusa;
    EXPECT_FALSE(TPing::PingHTTPS("http://" + recusa.Address() + "/", 30000));
}

// A CGI program that ends without a word: lighttpd answers 500.
std::string ComErroInterno(const kwtest::HttpSite& site) {
    const auto programa = site.dir / "www" / "erro.cgi";
    kwtest::WriteFile(programa, "#!/bin/sh\nexit 1\n");
    std::filesystem::permissions(programa, std::filesystem::perms::owner_all);
    return "server.modules += (\"mod_cgi\")\ncgi.assign = (\".cgi\" => \"\")\n";
}

TEST(PingHTTPSPeer, LighttpdOverTls) {
    ASSERT_TRUE(kwtest::TrustTestCA());
    kwtest::HttpSite site;
    kwtest::Lighttpd servidor(site, kwtest::LighttpdTls() + ComErroInterno(site));
    KW_REQUIRE_PEER(servidor.Available(), servidor.Reason());
    struct Caso {
        std::string caminho;
        bool alcancavel;
    };
    const Caso casos[] = {
        {"/files/a.txt", true},  // 200
        {"/", true},             // 403
        {"/erro.cgi", true},     // 500
        {"/nada", false},        // 404
    };
    for (const Caso& c : casos)
        EXPECT_EQ(TPing::PingHTTPS(servidor.Url(c.caminho, "https"), 30000), c.alcancavel) << c.caminho;
}

// A server whose certificate no CA of the system bundle issued is not reachable, as the web
// transport could not reach it either; the server certificate file beside the executable
// (kwLoaderApp.cer for kwLoader), which the transport trusts, makes it reachable.
TEST(PingHTTPSPeer, TheServerCertificateFileBesideTheExecutable) {
    ASSERT_TRUE(kwtest::TrustTestCA());
    kwtest::TempDir pasta;
    ResetLauncherBaseForTests((pasta / "kwLoader").string());
    kwtest::HttpSite site;
    kwtest::Lighttpd servidor(site, kwtest::LighttpdTls("self"));
    KW_REQUIRE_PEER(servidor.Available(), servidor.Reason());
    const std::string url = "https://localhost:" + std::to_string(servidor.Port()) + "/files/a.txt";
    EXPECT_FALSE(TPing::PingHTTPS(url, 30000));
    // Only a certificate file that holds a certificate counts.
    kwtest::WriteFile(pasta / "kwLoaderApp.cer", "não é um certificado");
    EXPECT_FALSE(TPing::PingHTTPS(url, 30000));
    const auto certificado = kwtest::LoadPem("self.pem");
    kwtest::WriteFile(pasta / "kwLoaderApp.cer",
                      std::string(reinterpret_cast<const char*>(certificado->GetCertificateBinary()),
                                  certificado->GetCertificateSize()));
    EXPECT_TRUE(TPing::PingHTTPS(url, 30000));
    // The file adds a certificate to the trusted ones; it does not switch the check off.
    kwtest::Lighttpd outro(site, kwtest::LighttpdTls("other"));
    KW_REQUIRE_PEER(outro.Available(), outro.Reason());
    EXPECT_FALSE(
        TPing::PingHTTPS("https://localhost:" + std::to_string(outro.Port()) + "/files/a.txt", 30000));
    ResetLauncherBaseForTests("");
}

}  // namespace
