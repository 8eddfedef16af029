// The transport clients on the TLS engine: an https GET through TElHTTPSClient from openssl
// s_server -www, with the server's certificate checked against the URL's host, refused for a
// host it does not name or from an unknown CA (the engine's error code in the client's
// message), and accepted with the verification switched off.
#include <gtest/gtest.h>

#include <string>

#include "rtl/Stream.h"
#include "tests/tls/ClientTestSupport.h"
#include "tls/SBHTTPSClient.h"
#include "tls/SecureEngine.h"

using namespace kwtest;

namespace {

// s_server answering GET / with its status page.
std::vector<std::string> WwwServer(const std::string& certificate) {
    return {"s_server", "-accept",    "127.0.0.1:{PORT}",       "-cert", Cert(certificate + ".pem"), "-key",
            Cert(certificate + ".key"), "-cert_chain", Cert("int.pem"), "-www"};
}

std::string Body(rtl::MemoryStream& s) {
    return std::string(reinterpret_cast<const char*>(s.Memory()), size_t(s.Size()));
}

TEST(SecureEngineHTTPS, GetOverTLSWithTheCertificateChecked) {
    ASSERT_FALSE(TlsCertificates().empty());
    ScopedEnv trust("SSL_CERT_FILE", Cert("ca.pem"));
    ServerProcess server("openssl", WwwServer("server-rsa"));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    TElHTTPSClient http;
    rtl::MemoryStream body;
    http.OutputStream = &body;
    EXPECT_EQ(http.Get("https://localhost:" + std::to_string(server.Port()) + "/"), 200) << server.Log();
    // s_server -www answers with a page naming the session's protocol and cipher.
    EXPECT_NE(Body(body).find("TLSv1.2"), std::string::npos) << Body(body);
}

struct Refusal {
    const char* name;
    const char* server;  // certificate set
    bool trusted;        // ca.pem as the system bundle, else a file without certificates
    bool disabled;       // VerifyPeerDisabled
    uint8_t alert;       // SSLAlertNone: the GET succeeds
};

class SecureEngineVerification : public ::testing::TestWithParam<Refusal> {};

TEST_P(SecureEngineVerification, GetOutcome) {
    const Refusal& c = GetParam();
    ASSERT_FALSE(TlsCertificates().empty());
    TestBundle trust(c.trusted);
    ServerProcess server("openssl", WwwServer(c.server));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    TElHTTPSClient http;
    rtl::MemoryStream body;
    http.OutputStream = &body;
    http.SetVerifyPeerDisabled(c.disabled);
    const std::string url = "https://127.0.0.1:" + std::to_string(server.Port()) + "/";
    if (c.alert == SSLAlertNone) {
        EXPECT_EQ(http.Get(url), 200) << server.Log();
        return;
    }
    const std::string expected =
        "Connection failed due to error (" + std::to_string(SSLAlertIndexToErrorCode(c.alert)) + ")";
    try {
        http.Get(url);
        ADD_FAILURE() << "the server was accepted";
    } catch (const rtl::Exception& e) {
        EXPECT_NE(std::string(e.Message()).find(expected), std::string::npos) << e.Message();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SecureEngineVerification,
    ::testing::Values(Refusal{"AddressNamed", "server-rsa", true, false, SSLAlertNone},
                      Refusal{"AddressNotNamed", "other", true, false, SSLAlertBadCertificate},
                      Refusal{"Untrusted", "server-rsa", false, false, SSLAlertUnknownCA},
                      Refusal{"UntrustedWithTheSwitch", "server-rsa", false, true, SSLAlertNone},
                      Refusal{"NotNamedWithTheSwitch", "other", true, true, SSLAlertNone}),
    [](const auto& info) { return std::string(info.param.name); });

// The seam driven directly, as the FTP client drives its control and data connections.
struct SeamConnection {
    std::unique_ptr<SecureEngine> engine = CreateSecureEngine();
    plat::ClientSocket socket;
    std::string data;
    bool opened = false, closed = false;

    explicit SeamConnection(int port) {
        socket.Connect("127.0.0.1", uint16_t(port), true);
        engine->PeerHost = "localhost";
        engine->OnSend = [this](const uint8_t* b, size_t n) { socket.SendAll(b, n); };
        engine->OnReceive = [this](uint8_t* b, size_t max, size_t& written) {
            written = socket.WaitReadable(0) == plat::ClientSocket::WaitResult::Readable ? socket.Receive(b, max) : 0;
        };
        engine->OnData = [this](const uint8_t* b, size_t n) { data.append(reinterpret_cast<const char*>(b), n); };
        engine->OnOpenConnection = [this] { opened = true; };
        engine->OnCloseConnection = [this](TSBCloseReason) { closed = true; };
    }
    bool Pump(const std::function<bool()>& done) {
        return Eventually([&] {
            if (socket.WaitReadable(50) == plat::ClientSocket::WaitResult::Readable) engine->ProcessIncomingData();
            return done() || closed;
        }) && done();
    }
};

TEST(SecureEngineSeam, ADataConnectionResumesTheControlConnectionsSession) {
    ASSERT_FALSE(TlsCertificates().empty());
    ScopedEnv trust("SSL_CERT_FILE", Cert("ca.pem"));
    ServerProcess server("openssl", SServerArgs({"-cert", Cert("server-rsa.pem"), "-key", Cert("server-rsa.key"),
                                                 "-cert_chain", Cert("int.pem"), "-no_ticket"}));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    SeamConnection control(server.Port());
    control.engine->SetVersions({sbTLS12});
    control.engine->OpenSession();
    ASSERT_TRUE(control.Pump([&] { return control.opened; })) << server.Log();
    // s_server serves one connection at a time: the control connection ends first, its session
    // kept for resumption.
    control.engine->CloseSession(false);
    control.socket.Close();
    SeamConnection data(server.Port());
    data.engine->CopySettingsFrom(*control.engine);
    EXPECT_EQ(data.engine->Versions(), TSBVersions({sbTLS12}));
    data.engine->OpenResumingSession(*control.engine);
    ASSERT_TRUE(data.Pump([&] { return data.opened; })) << server.Log();
    const std::string line = "resumed\n";
    data.engine->SendApplicationData(line.data(), line.size());
    EXPECT_TRUE(data.Pump([&] { return data.data == "demuser\n"; })) << data.data;
    data.engine->CloseSession(false);
    // The server's key log: two connections, one master secret.
    std::vector<std::string> secrets;
    EXPECT_TRUE(Eventually([&] {
        secrets.clear();
        const std::string keys = ReadFile(server.Dir() / "keys");
        for (size_t p = keys.find("CLIENT_RANDOM "); p != std::string::npos; p = keys.find("CLIENT_RANDOM ", p + 1))
            secrets.push_back(keys.substr(p + 14 + 65, 96));
        return secrets.size() >= 2;
    }));
    ASSERT_EQ(secrets.size(), 2u);
    EXPECT_EQ(secrets[0], secrets[1]);
}

}  // namespace
