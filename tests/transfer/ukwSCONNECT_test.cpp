// The connections' settings and the failures that come before any traffic: addresses, the
// dotted-address rule, URLs, server GUIDs, the cipher library's loading.
#include <gtest/gtest.h>

#include <filesystem>

#include "rtl/Exception.h"
#include "support/TestSupport.h"
#include "transfer/uSSOCKETCLIENT.h"
#include "transfer/ukwSCONNECT.h"

namespace {


TEST(EhEnderecoIPv4, Table) {
    const std::pair<const char*, bool> cases[] = {
        {"10.0.0.7", true},    {"10.0.0.7:211", true}, {"255.255.255.255", true}, {"0.0.0.0", true},
        {"010.0.0.7", true},   {"10.0.0", false},      {"10.0.0.256", false},     {"10..0.7", false},
        {"srv1", false},       {"", false},            {"10.0.0.7.", false},      {"10.0.0.7.1", false},
        {".10.0.0", false},    {"1.2.3.4a", false},    {"99999999999.1.1.1", false}, {" 1.2.3.4", false},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(EhEnderecoIPv4(text), expected) << text;
}

TEST(TSocketConnection, AddressGivesHostAndPort) {
    struct Case {
        const char* address;
        const char* host;
        int32_t port;
    };
    const Case cases[] = {
        {"", "", 211},
        {"server", "server", 211},
        {"server:3050", "server", 3050},
        {"server:abc", "server", 211},
        {"10.0.0.7:211", "10.0.0.7", 211},
        {"server:", "server", 211},
        {"a:1:2", "a", 211},
    };
    for (const Case& c : cases) {
        TSocketConnection s;
        s.SetAddress(c.address);
        EXPECT_EQ(s.Address(), c.address);
        EXPECT_EQ(s.Host(), c.host) << c.address;
        EXPECT_EQ(s.Port(), c.port) << c.address;
    }
    TSocketConnection s;
    EXPECT_EQ(s.Port(), 211);
    EXPECT_TRUE(s.SupportCallbacks());  // on after creation; the launcher switches it off
    EXPECT_FALSE(s.Connected());
    EXPECT_TRUE(s.ObjetoServidor().IsNull());
}

TEST(TStreamedConnection, ServerGUIDIsKeptBracedInUpperCase) {
    TSocketConnection s;
    s.SetServerGUID("{6f9a3b1c-0d2e-4f50-8a7b-1c2d3e4f5a6b}");
    EXPECT_EQ(s.ServerGUID(), "{6F9A3B1C-0D2E-4F50-8A7B-1C2D3E4F5A6B}");
    for (const char* bad : {"6F9A3B1C-0D2E-4F50-8A7B-1C2D3E4F5A6B", "{6F9A3B1C-0D2E-4F50-8A7B-1C2D3E4F5A6}",
                            "{6F9A3B1C+0D2E-4F50-8A7B-1C2D3E4F5A6B}", "{6F9A3B1C-0D2E-4F50-8A7B-1C2D3E4F5A6G}"}) {
        EXPECT_THROW(s.SetServerGUID(bad), rtl::EConvertError) << bad;
    }
    EXPECT_EQ(s.ServerGUID(), "{6F9A3B1C-0D2E-4F50-8A7B-1C2D3E4F5A6B}");
    s.SetServerGUID("");
    EXPECT_EQ(s.ServerGUID(), "");
}

TEST(TStreamedConnection, FailuresBeforeAnyTraffic) {
    TSocketConnection s;
    s.SetSupportCallbacks(false);
    s.SetAddress("127.0.0.1:1");
    EXPECT_EQ(kwtest::ThrownMessage([&] { s.SetConnected(true); }),
              "Não é possível conectar,  necessita do ServerName ou ServerGUID validos");
    s.SetName("ConexaoSocket");
    EXPECT_EQ(kwtest::ThrownMessage([&] { s.SetConnected(true); }),
              "Não é possível conectar, ConexaoSocket necessita do ServerName ou ServerGUID validos");
    s.SetServerName("AppServer");
    s.SetAddress("");
    try {
        s.SetConnected(true);
        ADD_FAILURE();
    } catch (const ESocketConnectionError& e) {
        EXPECT_EQ(e.Message(), "No address specified");
    }
    EXPECT_FALSE(s.Connected());

    TWebConnection w;
    EXPECT_FALSE(w.SupportCallbacks());
    w.SetSupportCallbacks(true);
    EXPECT_FALSE(w.SupportCallbacks());
    w.SetServerName("AppServer");
    w.SetURL("");
    EXPECT_EQ(kwtest::ThrownMessage([&] { w.SetConnected(true); }), "URL required");

    // A block with no open transport.
    TDataBlock b;
    EXPECT_EQ(kwtest::ThrownMessage([&] { s.EnviarBloco(b, true); }), "A conexão com o servidor não está aberta.");
}

TEST(TWebConnection, URLGivesSchemeHostPortAndPath) {
    struct Case {
        const char* url;
        const char* scheme;
        const char* host;
        int32_t port;
        const char* path;
    };
    const Case cases[] = {
        {"http://srv/kw/httpsrvr.dll", "http", "srv", 80, "/kw/httpsrvr.dll"},
        {"https://srv/kw/httpsrvr.dll", "https", "srv", 443, "/kw/httpsrvr.dll"},
        {"HTTPS://Srv:8443/x/y.dll?a=1", "https", "Srv", 8443, "/x/y.dll?a=1"},
        {"http://10.0.0.7:8080", "http", "10.0.0.7", 8080, "/"},
        {"http://user:pw@srv/x", "http", "srv", 80, "/x"},
        {"http://[::1]:81/x", "http", "[::1]", 81, "/x"},
    };
    for (const Case& c : cases) {
        TWebConnection w;
        w.SetURL(c.url);
        EXPECT_EQ(w.URL(), c.url);
        EXPECT_EQ(w.Scheme(), c.scheme) << c.url;
        EXPECT_EQ(w.Host(), c.host) << c.url;
        EXPECT_EQ(w.Port(), c.port) << c.url;
        EXPECT_EQ(w.Path(), c.path) << c.url;
    }
    TWebConnection w;
    EXPECT_EQ(w.URL(), "http://server.company.com/scripts/httpsrvr.dll");  // the sample address
    EXPECT_EQ(w.Agent(), "WebConnection");
    for (const char* bad : {"ftp://srv/x", "srv/kw/httpsrvr.dll", "http://srv:abc/x", "http://:80/x", "http://srv:0/"}) {
        EXPECT_EQ(kwtest::ThrownMessage([&] { w.SetURL(bad); }),
                  "URL must be in the form \"http://server.company.com/scripts/httpsrvr.dll\"")
            << bad;
    }
    EXPECT_EQ(w.URL(), "http://server.company.com/scripts/httpsrvr.dll");
}

TEST(TSSOCKETCLIENT, LoadsOnlyFromTheFolderGiven) {
    kwtest::TempDir vazia;
    const TSSOCKETCLIENT nenhuma(vazia.path().string());
    EXPECT_FALSE(nenhuma.CarregouBiblioteca());
    int32_t n = 0;
    uint8_t b[1] = {0};
    EXPECT_EQ(kwtest::ThrownMessage([&] { nenhuma.Cifrar(b, 1, b, &n); }), "A dll SSOCKETCLIENT.DLL não foi localizada.");

    const TSSOCKETCLIENT inteira(kwtest::ProgPath("cipher-whole").string());
    ASSERT_TRUE(inteira.CarregouBiblioteca());
    uint8_t dados[3] = {0x5A, 0x61, 0x00};
    int32_t m = 3;
    inteira.Cifrar(dados, 3, dados, &m);
    EXPECT_EQ(dados[0], 0x00);  // 0x5A ^ 0x5A
    EXPECT_EQ(dados[1], 0x00);  // 0x61 ^ 0x61
    EXPECT_EQ(dados[2], 0x68);
    inteira.Decifrar(dados, 3, dados, &m);
    EXPECT_EQ(dados[2], 0x00);

    // A library without one of the entry points fails when that one is needed.
    const TSSOCKETCLIENT meia(kwtest::ProgPath("cipher-onlycypher").string());
    ASSERT_TRUE(meia.CarregouBiblioteca());
    meia.Cifrar(dados, 3, dados, &m);
    EXPECT_EQ(kwtest::ThrownMessage([&] { meia.Decifrar(dados, 3, dados, &m); }), "A dll SSOCKETCLIENT.DLL não foi localizada.");

    // The process-wide one looks in the launcher's folder, where the tests put none.
    EXPECT_FALSE(SSOCKETCLIENT().CarregouBiblioteca());
}

}  // namespace
