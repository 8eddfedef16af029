// The simple SSL client's certificate and extension surface, through the HTTPS client (and the
// simple client itself for a renegotiation) against openssl s_server: a client certificate
// from ClientCertStorage or OnCertificateNeededEx for a server that demands one, and a clean
// failure without one; OnCertificateValidate seeing each server certificate, refusing,
// raising, and overturning a refusal only with VerifyPeerDisabled; CertStorage trusting a
// private CA; a stapled OCSP response and the hello extensions offered and received; a
// pre-shared key; a renegotiation the server asks for. Every event names the client as Sender.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pki/SBCustomCertStorage.h"
#include "pki/SBX509.h"
#include "support/TestSupport.h"
#include "tests/net/HttpServers.h"
#include "tests/net/ScriptBuilder.h"
#include "tests/net/ScriptPeer.h"
#include "tests/net/SocksPeers.h"
#include "tests/tls/ClientTestSupport.h"
#include "tests/tls/ProxyTestSupport.h"
#include "tests/tls/TlsTestSupport.h"
#include "tls/SBHTTPSClient.h"
#include "tls/SBSimpleSSL.h"

using namespace kwtest;

namespace {

// s_server answering GET with its status page (which shows the client's certificate), serving
// a certificate of tests/tls/make-certs.sh (server-rsa unless named) with its intermediate.
std::vector<std::string> WwwServer(std::vector<std::string> extra = {},
                                   const std::string& certificate = "server-rsa") {
    std::vector<std::string> a = {"s_server",
                                  "-accept",
                                  "127.0.0.1:{PORT}",
                                  "-cert",
                                  Cert(certificate + ".pem"),
                                  "-key",
                                  Cert(certificate + ".key"),
                                  "-cert_chain",
                                  Cert("int.pem"),
                                  "-tls1_2",
                                  "-www"};
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
}

// ... demanding a client certificate the test CA issued.
std::vector<std::string> DemandingServer() {
    return WwwServer({"-Verify", "1", "-verify_return_error", "-CAfile", Cert("trust.pem")});
}

std::string Url(int port) {
    return "https://localhost:" + std::to_string(port) + "/";
}

std::string HandshakeFailure(int32_t code) {
    return "Connection failed due to error (" + std::to_string(code) + ")";
}

struct ClientCertificateCase {
    const char* name;
    Offer offer;
};

class HTTPSClientCertificate : public ::testing::TestWithParam<ClientCertificateCase> {};

TEST_P(HTTPSClientCertificate, ForAServerThatDemandsOne) {
    const ClientCertificateCase& c = GetParam();
    ASSERT_TRUE(TrustTestCA());
    ServerProcess server("openssl", DemandingServer());
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    TElHTTPSClient http;
    TElMemoryCertStorage storage;
    std::unique_ptr<TElX509Certificate> own;
    int asked = 0, chosen = 0;
    std::vector<rtl::Component*> senders;
    switch (c.offer) {
        case Offer::None:
            break;
        case Offer::Storage:
            storage.Add(LoadWithKey("client").get(), true);
            storage.Add(LoadPem("int.pem").get(), false);
            http.SetClientCertStorage(&storage);
            EXPECT_EQ(http.ClientCertStorage(), &storage);
            break;
        case Offer::NeededEx:
            own = LoadWithKey("client");
            http.OnCertificateNeededEx = [&](rtl::Component* sender, TElX509Certificate*& certificate) {
                senders.push_back(sender);
                certificate = asked++ == 0 ? own.get() : nullptr;
            };
            break;
    }
    // Declared for the owner's choice among certificates; the engine never asks it.
    http.OnCertificateChoose = [&](rtl::Component*, const std::vector<TElX509Certificate*>&, int32_t&) {
        chosen++;
    };
    std::vector<int32_t> errors;
    http.OnError = [&](rtl::Component*, int32_t code, bool, bool) { errors.push_back(code); };
    if (c.offer == Offer::None) {
        const std::string message = ThrownMessage([&] { Fetch(http, Url(server.Port())); });
        // The server's handshake_failure alert, reported as the engine's code for it.
        EXPECT_EQ(message, HandshakeFailure(SSLAlertIndexToErrorCode(SSLAlertHandshakeFailure)))
            << server.Log();
        EXPECT_FALSE(http.Active());
        EXPECT_EQ(errors.size(), 1u);
        return;
    }
    int status = 0;
    const std::string page = Fetch(http, Url(server.Port()), &status);
    EXPECT_EQ(status, 200) << server.Log();
    // s_server's page shows the certificate it verified.
    EXPECT_NE(page.find("kw client"), std::string::npos) << page;
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(chosen, 0);
    if (c.offer == Offer::NeededEx) {
        EXPECT_EQ(asked, 2);  // the certificate, then the end of the list
        EXPECT_EQ(senders, (std::vector<rtl::Component*>{&http, &http}));
    }
}

// A server that refuses the handshake closes at once, and the rest of our flight meets a reset
// connection: the refusal the server sent before it closed is what the client reports.
TEST(HTTPSClientCertificate, TheRefusalOfAServerThatClosesAtOnce) {
    ASSERT_TRUE(TrustTestCA());
    ScriptPeer server(Script().Send(RefusingServerFlight()).Close().Json());
    KW_REQUIRE_SCRIPT_PEER(server);
    TElHTTPSClient http;
    std::vector<int32_t> errors;
    http.OnError = [&](rtl::Component*, int32_t code, bool, bool remote) {
        EXPECT_TRUE(remote);
        errors.push_back(code);
    };
    EXPECT_EQ(ThrownMessage([&] { http.Get(Url(server.Port())); }),
              HandshakeFailure(SSLAlertIndexToErrorCode(SSLAlertHandshakeFailure)));
    EXPECT_EQ(errors, std::vector<int32_t>{SSLAlertIndexToErrorCode(SSLAlertHandshakeFailure)});
    EXPECT_FALSE(http.Active());
}

INSTANTIATE_TEST_SUITE_P(Offers, HTTPSClientCertificate,
                         ::testing::Values(ClientCertificateCase{"None", Offer::None},
                                           ClientCertificateCase{"FromClientCertStorage", Offer::Storage},
                                           ClientCertificateCase{"FromOnCertificateNeededEx",
                                                                 Offer::NeededEx}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ValidationCase {
    const char* name;
    bool bundleTrusts;   // the system bundle holds the test CA
    bool storageTrusts;  // CertStorage holds the test CA
    bool disabled;       // VerifyPeerDisabled
    Verdict verdict;
    bool engineAccepts;  // the verdict the handler is given
    uint8_t alert;       // SSLAlertNone: the GET succeeds
};

class HTTPSServerCertificate : public ::testing::TestWithParam<ValidationCase> {};

TEST_P(HTTPSServerCertificate, CheckedAndHeard) {
    const ValidationCase& c = GetParam();
    ASSERT_FALSE(TlsCertificates().empty());
    TestBundle bundle(c.bundleTrusts);
    ServerProcess server("openssl", WwwServer());
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    TElHTTPSClient http;
    TElMemoryCertStorage trusted;
    if (c.storageTrusts) {
        trusted.Add(LoadPem("ca.pem").get(), false);
        http.SetCertStorage(&trusted);
    }
    http.SetVerifyPeerDisabled(c.disabled);
    std::vector<std::string> seen;
    std::vector<bool> given;
    if (c.verdict != Verdict::Unassigned)
        http.OnCertificateValidate = [&](rtl::Component* sender, TElX509Certificate* certificate,
                                         bool& validate) {
            EXPECT_EQ(sender, &http);
            seen.push_back(certificate->GetSubjectName().CommonName);
            given.push_back(validate);
            Apply(c.verdict, validate);
        };
    std::vector<int32_t> errors;
    http.OnError = [&](rtl::Component*, int32_t code, bool fatal, bool remote) {
        EXPECT_TRUE(fatal);
        EXPECT_FALSE(remote);
        errors.push_back(code);
    };
    if (c.alert == SSLAlertNone) {
        int status = 0;
        Fetch(http, Url(server.Port()), &status);
        EXPECT_EQ(status, 200) << server.Log();
        EXPECT_TRUE(errors.empty());
    } else {
        EXPECT_EQ(ThrownMessage([&] { Fetch(http, Url(server.Port())); }),
                  HandshakeFailure(SSLAlertIndexToErrorCode(c.alert)));
        EXPECT_EQ(errors, std::vector<int32_t>{SSLAlertIndexToErrorCode(c.alert)});
        EXPECT_FALSE(http.Active());
    }
    if (c.verdict != Verdict::Unassigned) {
        // Each certificate of the chain, its issuer first, with the verdict so far: the
        // engine's, and a refusal of the handler's stands for the rest of the chain.
        const bool refused = c.verdict == Verdict::Refuse || c.verdict == Verdict::Raise;
        EXPECT_EQ(seen, (std::vector<std::string>{"kw tls intermediate", "localhost"}));
        EXPECT_EQ(given, (std::vector<bool>{c.engineAccepts, c.engineAccepts && !refused}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, HTTPSServerCertificate,
    ::testing::Values(
        ValidationCase{"SeesEachCertificate", true, false, false, Verdict::Keep, true, SSLAlertNone},
        ValidationCase{"Refuses", true, false, false, Verdict::Refuse, true, SSLAlertBadCertificate},
        ValidationCase{"RaisingRefuses", true, false, false, Verdict::Raise, true, SSLAlertBadCertificate},
        ValidationCase{"CannotOverturnARefusal", false, false, false, Verdict::Accept, false,
                       SSLAlertUnknownCA},
        ValidationCase{"OverturnsWithVerifyPeerDisabled", false, false, true, Verdict::Accept, true,
                       SSLAlertNone},
        ValidationCase{"RefusesWithVerifyPeerDisabled", false, false, true, Verdict::Refuse, true,
                       SSLAlertBadCertificate},
        ValidationCase{"RaisingRefusesWithVerifyPeerDisabled", false, false, true, Verdict::Raise, true,
                       SSLAlertBadCertificate},
        ValidationCase{"PrivateCAInCertStorage", false, true, false, Verdict::Keep, true, SSLAlertNone},
        ValidationCase{"PrivateCAUnknown", false, false, false, Verdict::Unassigned, false,
                       SSLAlertUnknownCA}),
    [](const auto& info) { return std::string(info.param.name); });

// A storage that goes away while set is dropped, not used.
TEST(HTTPSServerCertificate, AStorageThatGoesAwayIsDropped) {
    TElHTTPSClient http;
    {
        TElMemoryCertStorage trusted;
        TElMemoryCertStorage own;
        http.SetCertStorage(&trusted);
        http.SetClientCertStorage(&own);
    }
    EXPECT_EQ(http.CertStorage(), nullptr);
    EXPECT_EQ(http.ClientCertStorage(), nullptr);
}

// The status request and a maximum fragment length offered; the server's hello carries both,
// OnExtensionsReceived finds them in PeerExtensions, and the stapled response arrives whole.
TEST(HTTPSClientExtensions, OfferedAndReceived) {
    ASSERT_TRUE(TrustTestCA());
    ServerProcess server("openssl", WwwServer({"-status_file", Cert("server-rsa-ocsp.der")}));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    TElHTTPSClient http;
    http.Extensions().CertificateStatus.Enabled = true;
    http.Extensions().MaxFragmentLength.Enabled = true;
    http.Extensions().MaxFragmentLength.MaxLength = 1;  // 1024 bytes
    int received = 0;
    bool statusAgreed = false, lengthAgreed = false;
    http.OnExtensionsReceived = [&](rtl::Component* sender) {
        EXPECT_EQ(sender, &http);
        received++;
        statusAgreed = http.PeerExtensions().CertificateStatus.Enabled;
        lengthAgreed = http.PeerExtensions().MaxFragmentLength.Enabled &&
                       http.PeerExtensions().MaxFragmentLength.MaxLength == 1;
    };
    std::string stapled;
    http.OnCertificateStatus = [&](rtl::Component* sender, TSBCertificateStatusType type,
                                   const ByteArray& data) {
        EXPECT_EQ(sender, &http);
        EXPECT_EQ(type, cstOCSP);
        stapled.assign(data.begin(), data.end());
    };
    int status = 0;
    // The status page is longer than one 1024-byte record.
    const std::string page = Fetch(http, Url(server.Port()), &status);
    EXPECT_EQ(status, 200) << server.Log();
    EXPECT_GT(page.size(), 1024u);
    EXPECT_EQ(received, 1);
    EXPECT_TRUE(statusAgreed);
    EXPECT_TRUE(lengthAgreed);
    EXPECT_EQ(stapled, ReadFile(Cert("server-rsa-ocsp.der")));
}

// A pre-shared-key suite switched on: OnKeyNeeded gives the identity and the key for the
// server's hint.
TEST(HTTPSClientExtensions, PreSharedKeyFromOnKeyNeeded) {
    ServerProcess server("openssl", {"s_server", "-accept", "127.0.0.1:{PORT}", "-nocert", "-psk",
                                     kTestPSKHex, "-psk_identity", "client1", "-psk_hint", "kw hint",
                                     "-cipher", "PSK-AES128-CBC-SHA:@SECLEVEL=0", "-tls1_2", "-www"});
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    TElHTTPSClient http;
    constexpr uint8_t kPSKWithAES128 = 58;
    EXPECT_FALSE(http.GetSuiteEnabled(kPSKWithAES128));
    http.SetSuiteEnabled(kPSKWithAES128, true);
    std::vector<std::string> hints;
    http.OnKeyNeeded = [&](rtl::Component* sender, const std::string& hint, std::string& identity,
                           ByteArray& key) {
        EXPECT_EQ(sender, &http);
        hints.push_back(hint);
        identity = "client1";
        key = FromHex(kTestPSKHex);
    };
    int status = 0;
    Fetch(http, "https://127.0.0.1:" + std::to_string(server.Port()) + "/", &status);
    EXPECT_EQ(status, 200) << server.Log();
    EXPECT_EQ(hints, std::vector<std::string>{"kw hint"});
    EXPECT_THROW(http.SetSuiteEnabled(83, true), EElSSLError);
}

// The simple client with TLS on; the certificate is checked against its Address.
class TlsClient : public TElCustomSimpleSSLClient {
public:
    TlsClient() { SetEngineEnabled(true); }
    std::string Received() const { return std::string(receiveBuffer_.begin(), receiveBuffer_.end()); }
};

// s_server renegotiates when told so on its input; the end of it reaches OnCiphersNegotiated,
// and the connection carries data on.
TEST(SimpleSSLClientEvents, RenegotiationReachesOnCiphersNegotiated) {
    ASSERT_TRUE(TrustTestCA());
    ServerProcess server("openssl",
                         {"s_server", "-accept", "127.0.0.1:{PORT}", "-cert", Cert("server-rsa.pem"), "-key",
                          Cert("server-rsa.key"), "-cert_chain", Cert("int.pem"), "-tls1_2"});
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    TlsClient client;
    client.SetAddress("127.0.0.1");
    client.SetPort(server.Port());
    client.SetSocketTimeout(60000);
    std::vector<rtl::Component*> negotiated;
    client.OnCiphersNegotiated = [&](rtl::Component* sender) { negotiated.push_back(sender); };
    client.Open();
    EXPECT_TRUE(negotiated.empty());
    server.Input("r\n");
    ASSERT_TRUE(Eventually(
        [&] {
            client.DataAvailable();
            return !negotiated.empty();
        },
        std::chrono::seconds(60)))
        << server.Log();
    EXPECT_EQ(negotiated, std::vector<rtl::Component*>{&client});
    server.Input("after\n");
    EXPECT_TRUE(Eventually(
        [&] {
            client.DataAvailable();
            return client.Received().find("after") != std::string::npos;
        },
        std::chrono::seconds(60)));
    client.CloseConnection(false);
}

// How a host-name case reaches s_server.
enum class Route { Direct, Socks, SocksByName, Tunnel };

struct HostNameCase {
    const char* name;
    const char* certificate;  // tests/tls/make-certs.sh: the names each one carries
    const char* address;      // the client's Address
    Route route;
    bool verifyDisabled;
    Verdict verdict;
    bool opens;
};

class SimpleSSLHostName : public ::testing::TestWithParam<HostNameCase> {};

// The simple client's own Open checks the host it was given: a certificate that a trusted CA
// issued for another name cannot stand in for the server, and through a proxy the name checked
// is the target's (the proxies listen on 127.0.0.1, which ip-only names and cn-only does not).
TEST_P(SimpleSSLHostName, TheCertificateMustNameTheAddress) {
    const HostNameCase& c = GetParam();
    ASSERT_TRUE(TrustTestCA());
    ServerProcess server("openssl", WwwServer({}, c.certificate));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    std::unique_ptr<DaemonPeer> proxy;
    if (c.route == Route::Socks || c.route == Route::SocksByName)
        proxy = std::make_unique<Dante>();
    else if (c.route == Route::Tunnel)
        proxy = std::make_unique<Tinyproxy>("pu", "pp");
    if (proxy) KW_REQUIRE_PEER(proxy->Available(), proxy->Reason());

    TlsClient client;
    client.SetAddress(c.address);
    client.SetPort(server.Port());
    client.SetSocketTimeout(60000);
    client.SetVersions(VersionBit(sbTLS12));
    client.SetVerifyPeerDisabled(c.verifyDisabled);
    if (c.route == Route::Socks || c.route == Route::SocksByName)
        UseSocks(client, proxy->Port(), elSocks5, c.route == Route::SocksByName);
    else if (c.route == Route::Tunnel)
        UseTunnel(client, proxy->Port(), "pu", "pp");
    std::vector<bool> verdicts;
    if (c.verdict != Verdict::Unassigned)
        client.OnCertificateValidate = [&](rtl::Component*, TElX509Certificate*, bool& validate) {
            verdicts.push_back(validate);
            Apply(c.verdict, validate);
        };
    std::vector<int32_t> errors;
    client.OnError = [&](rtl::Component*, int32_t code, bool, bool) { errors.push_back(code); };

    if (!c.opens) {
        const int32_t code = SSLAlertIndexToErrorCode(SSLAlertBadCertificate);
        EXPECT_EQ(ThrownMessage([&] { client.Open(); }), HandshakeFailure(code)) << server.Log();
        EXPECT_EQ(errors, std::vector<int32_t>{code});
        EXPECT_FALSE(client.Active());
        EXPECT_EQ(client.Received(), "");
        // The engine's own verdict, before the handler, was already the refusal.
        for (bool v : verdicts)
            EXPECT_FALSE(v);
        return;
    }
    ASSERT_NO_THROW(client.Open()) << server.Log();
    EXPECT_TRUE(errors.empty());
    const std::string request = "GET / HTTP/1.0\r\n\r\n";
    client.SendData(request.data(), request.size());
    EXPECT_TRUE(Eventually(
        [&] {
            client.DataAvailable();
            return client.Received().find("HTTP/1.0 200 ok") != std::string::npos;
        },
        std::chrono::seconds(60)))
        << client.Received();
    client.CloseConnection(false);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimpleSSLHostName,
    ::testing::Values(
        HostNameCase{"RightName", "server-rsa", "localhost", Route::Direct, false, Verdict::Unassigned, true},
        HostNameCase{"OtherName", "other", "localhost", Route::Direct, false, Verdict::Unassigned, false},
        // An address literal is matched against the certificate's IP addresses only.
        HostNameCase{"AddressListed", "ip-only", "127.0.0.1", Route::Direct, false, Verdict::Unassigned,
                     true},
        HostNameCase{"AddressNotListed", "cn-only", "127.0.0.1", Route::Direct, false, Verdict::Unassigned,
                     false},
        HostNameCase{"AddressOfBoth", "server-rsa", "127.0.0.1", Route::Direct, false, Verdict::Unassigned,
                     true},
        // So is every other spelling the resolver reads as that address...
        HostNameCase{"ShortAddressListed", "ip-only", "127.1", Route::Direct, false, Verdict::Unassigned,
                     true},
        HostNameCase{"HexAddressListed", "ip-only", "0x7f.0.0.1", Route::Direct, false, Verdict::Unassigned,
                     true},
        HostNameCase{"NumberAddressListed", "ip-only", "2130706433", Route::Direct, false,
                     Verdict::Unassigned, true},
        // ... which a DNS name that reads like it cannot stand in for.
        HostNameCase{"HexAddressNotADNSName", "wild-address", "0x7f.0.0.1", Route::Direct, false,
                     Verdict::Unassigned, false},
        HostNameCase{"OctalAddressNotADNSName", "wild-address", "0177.0.0.1", Route::Direct, false,
                     Verdict::Unassigned, false},
        // The owner's handler cannot overturn the refusal while verification is on...
        HostNameCase{"HandlerCannotOverturn", "other", "localhost", Route::Direct, false, Verdict::Accept,
                     false},
        // ... and the switch lets any name through.
        HostNameCase{"VerifyDisabled", "other", "localhost", Route::Direct, true, Verdict::Unassigned, true},
        HostNameCase{"SocksTargetNamed", "cn-only", "localhost", Route::Socks, false, Verdict::Unassigned,
                     true},
        HostNameCase{"SocksOnlyProxyNamed", "ip-only", "localhost", Route::Socks, false, Verdict::Unassigned,
                     false},
        HostNameCase{"SocksByNameOtherName", "other", "localhost", Route::SocksByName, false,
                     Verdict::Unassigned, false},
        HostNameCase{"SocksByNameRightName", "cn-only", "localhost", Route::SocksByName, false,
                     Verdict::Unassigned, true},
        HostNameCase{"TunnelTargetNamed", "cn-only", "localhost", Route::Tunnel, false, Verdict::Unassigned,
                     true},
        HostNameCase{"TunnelOnlyProxyNamed", "ip-only", "localhost", Route::Tunnel, false,
                     Verdict::Unassigned, false},
        HostNameCase{"TunnelVerifyDisabled", "other", "localhost", Route::Tunnel, true, Verdict::Unassigned,
                     true}),
    [](const ::testing::TestParamInfo<HostNameCase>& info) { return std::string(info.param.name); });

}  // namespace
