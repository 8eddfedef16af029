// TElHTTPSClient over the TLS engine: lighttpd with mod_openssl (TLS 1.2, the RSA and DHE-RSA
// CBC-SHA suites we share, the test CA's chain) gives the bytes curl gets, directly, through a
// tinyproxy CONNECT tunnel and through danted and microsocks; the server's certificate is
// checked against the URL's host unless VerifyPeerDisabled.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <string>

#include "rtl/Stream.h"
#include "support/TestSupport.h"
#include "tests/net/HttpServers.h"
#include "tests/tls/ClientTestSupport.h"
#include "tests/tls/ProxyTestSupport.h"
#include "tls/SBHTTPSClient.h"

using kwtest::AsTheLauncherDoes;
using kwtest::Fetch;
using kwtest::HttpSite;
using kwtest::Lighttpd;
using kwtest::LighttpdTls;
using kwtest::ThrownMessage;
using kwtest::TrustTestCA;

namespace {

std::string HttpsUrl(const Lighttpd& server, const std::string& host, const std::string& path) {
    return "https://" + host + ":" + std::to_string(server.Port()) + path;
}

std::vector<std::string> CurlTls(const std::string& host, int port) {
    return {"--cacert",  kwtest::Cert("ca.pem"),
            "--tls-max", "1.2",
            "--resolve", host + ":" + std::to_string(port) + ":127.0.0.1"};
}

TEST(HTTPSClientTls, LighttpdGivesTheBytesCurlGets) {
    ASSERT_TRUE(TrustTestCA());
    HttpSite site;
    Lighttpd server(site, LighttpdTls());
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    const std::string url = HttpsUrl(server, "localhost", "/files/big.bin");
    TElHTTPSClient http;
    http.SetVersions(VersionBit(sbTLS1) | VersionBit(sbTLS11) | VersionBit(sbTLS12));
    int status = 0;
    const std::string got = Fetch(http, url, &status);
    EXPECT_EQ(status, 200);
    const auto curl = kwtest::CurlGet(url, CurlTls("localhost", server.Port()));
    KW_REQUIRE_PEER(curl.has_value(), "curl over TLS");
    EXPECT_TRUE(got == *curl && got == site.bigFile);
    // The launcher's road: HTTP/1.0, a second request on a fresh connection.
    http.HTTPVersion = hvHTTP10;
    EXPECT_EQ(Fetch(http, HttpsUrl(server, "localhost", "/files/a.txt"), &status), "hello\n");
    EXPECT_EQ(status, 200);
}

TEST(HTTPSClientTls, TheLaunchersHeadAndGetAsItMakesThem) {
    // The download's calls in their order: its settings, HEAD with 3.5 s, then GET with the
    // transfer time-out into the file's stream, progress counting up to the file's size.
    ASSERT_TRUE(TrustTestCA());
    HttpSite site;
    Lighttpd server(site, LighttpdTls());
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    const std::string url = HttpsUrl(server, "localhost", "/files/big.bin");
    auto http = std::make_unique<TElHTTPSClient>();
    AsTheLauncherDoes(*http);
    int64_t total = 0, current = 0;
    http->OnProgress = [&](rtl::Component*, int64_t t, int64_t c, bool&) {
        total = t;
        current = c;
    };
    http->SetSocketTimeout(3500);
    EXPECT_EQ(http->Head(url), 200);
    http->SetSocketTimeout(60000);
    rtl::MemoryStream file;
    http->OutputStream = &file;
    EXPECT_EQ(http->Get(url), 200);
    EXPECT_TRUE(file.Data() == site.bigFile);
    EXPECT_EQ(total, int64_t(site.bigFile.size()));
    EXPECT_EQ(current, total);
    EXPECT_FALSE(http->Active()) << "HTTP/1.0 without keep-alive";
    const auto curl = kwtest::CurlGet(url, CurlTls("localhost", server.Port()));
    KW_REQUIRE_PEER(curl.has_value(), "curl over TLS");
    EXPECT_TRUE(*curl == site.bigFile);
}

TEST(HTTPSClientTls, TheCertificateMustNameTheURLsHost) {
    ASSERT_TRUE(TrustTestCA());
    HttpSite site;
    // A certificate of the trusted CA for other.example.
    Lighttpd server(site, LighttpdTls("other"));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    TElHTTPSClient http;
    http.SetVersions(VersionBit(sbTLS12));
    int errors = 0;
    http.OnError = [&](rtl::Component*, int32_t, bool, bool) { ++errors; };
    const std::string refused =
        ThrownMessage([&] { Fetch(http, HttpsUrl(server, "localhost", "/files/a.txt")); });
    EXPECT_EQ(refused.rfind("Connection failed due to error (", 0), 0u) << refused;
    EXPECT_NE(refused, "Connection failed due to error (0)");
    EXPECT_GT(errors, 0);
    // With the check off the same server answers.
    http.SetVerifyPeerDisabled(true);
    int status = 0;
    EXPECT_EQ(Fetch(http, HttpsUrl(server, "localhost", "/files/a.txt"), &status), "hello\n");
    EXPECT_EQ(status, 200);
    // A certificate from no trusted CA is refused the same way.
    Lighttpd self(site, LighttpdTls("self"));
    KW_REQUIRE_PEER(self.Available(), self.Reason());
    TElHTTPSClient strict;
    strict.SetVersions(VersionBit(sbTLS12));
    const std::string unknown =
        ThrownMessage([&] { Fetch(strict, HttpsUrl(self, "localhost", "/files/a.txt")); });
    EXPECT_EQ(unknown.rfind("Connection failed due to error (", 0), 0u) << unknown;
}

TEST(HTTPSClientTls, ThroughATunnelAndSocksProxies) {
    ASSERT_TRUE(TrustTestCA());
    HttpSite site;
    Lighttpd server(site, LighttpdTls());
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    const std::string url = HttpsUrl(server, "localhost", "/files/big.bin");
    int status = 0;

    kwtest::Tinyproxy proxy("pu", "pp");
    KW_REQUIRE_PEER(proxy.Available(), proxy.Reason());
    TElHTTPSClient viaProxy;
    viaProxy.SetVersions(VersionBit(sbTLS12));
    viaProxy.UseHTTPProxy = true;
    viaProxy.HTTPProxyHost = "127.0.0.1";
    viaProxy.SetHTTPProxyPort(proxy.Port());
    viaProxy.HTTPProxyUsername = "pu";
    viaProxy.HTTPProxyPassword = "pp";
    EXPECT_TRUE(Fetch(viaProxy, url, &status) == site.bigFile);
    EXPECT_EQ(status, 200);
    auto curlArgs = CurlTls("localhost", server.Port());
    curlArgs.insert(curlArgs.end(), {"-x", "http://pu:pp@127.0.0.1:" + std::to_string(proxy.Port())});
    const auto curl = kwtest::CurlGet(url, curlArgs);
    KW_REQUIRE_PEER(curl.has_value(), "curl through tinyproxy");
    EXPECT_TRUE(*curl == site.bigFile);

    kwtest::Dante dante;
    KW_REQUIRE_PEER(dante.Available(), dante.Reason());
    // SOCKS 4 and 5 with the name resolved here, and SOCKS 5 with the name sent to the proxy
    // (danted does not speak SOCKS 4a).
    struct Socks {
        TElSocksVersion version;
        bool byName;
    };
    for (const Socks& socks : {Socks{elSocks4, false}, Socks{elSocks5, false}, Socks{elSocks5, true}}) {
        TElHTTPSClient viaSocks;
        viaSocks.SetVersions(VersionBit(sbTLS12));
        kwtest::UseSocks(viaSocks, dante.Port(), socks.version, socks.byName);
        EXPECT_TRUE(Fetch(viaSocks, url, &status) == site.bigFile) << int(socks.version) << socks.byName;
        EXPECT_EQ(status, 200);
    }
    auto curlSocks = CurlTls("localhost", server.Port());
    curlSocks.insert(curlSocks.end(), {"--socks5-hostname", "127.0.0.1:" + std::to_string(dante.Port())});
    const auto viaDante = kwtest::CurlGet(url, curlSocks);
    KW_REQUIRE_PEER(viaDante.has_value(), "curl through danted");
    EXPECT_TRUE(*viaDante == site.bigFile);

    kwtest::MicroSocks micro("kwuser", "kw-secret");
    KW_REQUIRE_PEER(micro.Available(), micro.Reason());
    TElHTTPSClient viaMicro;
    viaMicro.SetVersions(VersionBit(sbTLS12));
    kwtest::UseSocksUser(viaMicro, micro.Port(), "kwuser", "kw-secret");
    EXPECT_TRUE(Fetch(viaMicro, url, &status) == site.bigFile);
}

}  // namespace
