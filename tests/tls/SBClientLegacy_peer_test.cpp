// The old protocols and the suites only callers enable, against the scripted peer: SSL 3.0
// with each key exchange and a client certificate, export suites with their temporary RSA key,
// SRP, anonymous DH, NULL; the version-compatible hello answered in SSL 2.0, SSL 3.0 and TLS;
// SSL 2.0 and the ways its server can break it, each closing with crError.
#include <gtest/gtest.h>

#include "pki/SBCustomCertStorage.h"
#include "pki/SBX509.h"
#include "tests/tls/TlsTestSupport.h"

using namespace kwtest;

namespace {

const char* const SRP = "\"srp\": {\"user\": \"alice\", \"password\": \"segredo\", \"salt\": \"0011223344556677\"}";

struct LegacyCase {
    const char* name;
    const char* server;
    int code;             // the suite the peer picks (0 for SSL 2.0)
    int index;            // the suite the client enables (-1: none beyond the defaults)
    const char* version;  // the peer's
    TSBVersions versions;
    TSBVersion negotiated;
    const char* extra;
    bool clientCertificate = false;
};

class SBClientLegacy : public ::testing::TestWithParam<LegacyCase> {};

TEST_P(SBClientLegacy, HandshakeAndRecords) {
    const LegacyCase& c = GetParam();
    ASSERT_FALSE(TlsCertificates().empty());
    // trust.pem: an SSL 2.0 server sends its own certificate only.
    ScopedEnv trust("SSL_CERT_FILE", Cert("trust.pem"));
    std::string extra = c.extra;
    if (const size_t temp = extra.find("TEMP"); temp != std::string::npos) extra.replace(temp, 4, Cert("temp512.key"));
    if (c.clientCertificate)
        extra += std::string(extra.empty() ? "" : ", ") +
                 (c.negotiated == sbSSL2 ? "\"ssl2_request_certificate\": true" : "\"request_certificate\": true");
    ScriptedTlsPeer peer(CertificateScenario(c.server, c.code, c.version, extra));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    EngineDriver d;
    d.client.Versions = c.versions;
    if (c.index >= 0) d.client.SetSuiteEnabled(uint8_t(c.index), true);
    d.client.PeerHostName = "localhost";
    d.client.SetSRPUsername("alice");
    d.client.SRPPassword = "segredo";
    TElMemoryCertStorage clientCertificates;
    if (c.clientCertificate) {
        auto certificate = LoadPem("client.pem");
        const std::string key = ReadFile(Cert("client.key"));
        certificate->LoadKeyFromBuffer(key.data(), key.size());
        clientCertificates.Add(certificate.get(), true);
        d.client.SetClientCertStorage(&clientCertificates);
    }
    d.Connect(peer.Port());
    ASSERT_TRUE(d.Handshake()) << d.ErrorCodes() << peer.Result()["failure"].str();
    EXPECT_EQ(d.client.GetCurrentVersion(), c.negotiated);
    EXPECT_EQ(d.Exchange("antigo"), "ogitna\n");
    d.client.CloseSession(false);
    d.socket.Close();
    const Json r = peer.Result();
    EXPECT_FALSE(r.has("failure")) << r["failure"].str();
    EXPECT_EQ(r["app_data"].str(), "antigo\n");
    if (c.clientCertificate) {
        const std::string certificateKey = c.negotiated == sbSSL2 ? "ssl2_client_certificate" : "client_certificates";
        EXPECT_NE(r[certificateKey].str().find(Hex(LoadPem("client.pem")->GetCertificateBinary(), 16)),
                  std::string::npos);
        EXPECT_TRUE(r[c.negotiated == sbSSL2 ? "ssl2_client_certificate_ok" : "certificate_verify_ok"].boolean());
    }
}

constexpr TSBVersions OnlySSL3 = {sbSSL3};
constexpr TSBVersions OnlyTLS1 = {sbTLS1};
constexpr TSBVersions OnlySSL2 = {sbSSL2};
constexpr TSBVersions Compatible = {sbSSL2, sbSSL3, sbTLS1};

INSTANTIATE_TEST_SUITE_P(
    Cases, SBClientLegacy,
    ::testing::Values(
        LegacyCase{"SSL3_RSA_AES128", "server-rsa", 0x002F, -1, "ssl3", OnlySSL3, sbSSL3, ""},
        LegacyCase{"SSL3_DHE_RSA_3DES", "server-rsa", 0x0016, -1, "ssl3", OnlySSL3, sbSSL3, ""},
        LegacyCase{"SSL3_DHE_DSS_AES256", "server-dsa", 0x0038, -1, "ssl3", OnlySSL3, sbSSL3, ""},
        LegacyCase{"SSL3_RSA_SEED", "server-rsa", 0x0096, -1, "ssl3", OnlySSL3, sbSSL3, ""},
        LegacyCase{"SSL3_MessagesCutAcrossRecords", "server-rsa", 0x002F, -1, "ssl3", OnlySSL3, sbSSL3,
                   "\"split_handshake\": 5"},
        LegacyCase{"SSL3_ClientCertificate", "server-rsa", 0x002F, -1, "ssl3", OnlySSL3, sbSSL3, "", true},
        LegacyCase{"TLS1_ClientCertificate", "server-rsa", 0x0033, -1, "tls1", OnlyTLS1, sbTLS1, "", true},
        LegacyCase{"TLS12_ClientCertificate", "server-rsa", 0x002F, -1, "tls12", {sbTLS12}, sbTLS12, "", true},
        LegacyCase{"TLS1_ExportRC4", "server-rsa", 0x0003, 36, "tls1", OnlyTLS1, sbTLS1,
                   "\"temp_rsa_key\": \"TEMP\""},
        LegacyCase{"SSL3_ExportDES40", "server-rsa", 0x0008, 37, "ssl3", OnlySSL3, sbSSL3, "\"temp_rsa_key\": \"TEMP\""},
        LegacyCase{"TLS12_SRP_AES128", "server-rsa", 0x0053, 77, "tls12", {sbTLS12}, sbTLS12, SRP},
        LegacyCase{"TLS12_SRP_RSA_AES128", "server-rsa", 0x0054, 78, "tls12", {sbTLS12}, sbTLS12, SRP},
        LegacyCase{"TLS12_DHAnon_AES128", "server-rsa", 0x0034, 33, "tls12", {sbTLS12}, sbTLS12, ""},
        LegacyCase{"TLS12_RSA_NULL_SHA", "server-rsa", 0x0002, 2, "tls12", {sbTLS12}, sbTLS12, ""},
        LegacyCase{"CompatibleHelloAnsweredInTLS1", "server-rsa", 0x002F, -1, "tls1", Compatible, sbTLS1, ""},
        LegacyCase{"CompatibleHelloAnsweredInSSL3", "server-rsa", 0x002F, -1, "ssl3", Compatible, sbSSL3, ""},
        LegacyCase{"CompatibleHelloAnsweredInSSL2", "server-rsa", 0, -1, "ssl2", Compatible, sbSSL2, ""},
        LegacyCase{"SSL2_3DES", "server-rsa", 0, -1, "ssl2", OnlySSL2, sbSSL2, ""},
        LegacyCase{"SSL2_ClientCertificate", "server-rsa", 0, -1, "ssl2", OnlySSL2, sbSSL2, "", true},
        LegacyCase{"SSL2_RC4", "server-rsa", 0, 3, "ssl2", OnlySSL2, sbSSL2, "\"ssl2_server_specs\": [\"010080\"]"}),
    [](const auto& info) { return std::string(info.param.name); });

// SSL 3.0 has no no_renegotiation alert: a HelloRequest from a server that never agreed to
// RFC 5746 is left unanswered and the session goes on.
TEST(SBClientLegacySSL3, HelloRequestWithoutSecureRenegotiationIsIgnored) {
    ASSERT_FALSE(TlsCertificates().empty());
    ScopedEnv trust("SSL_CERT_FILE", Cert("trust.pem"));
    ScriptedTlsPeer peer(CertificateScenario("server-rsa", 0x002F, "ssl3", "\"after_handshake\": [[\"hello_request\"]]"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    EngineDriver d;
    d.client.Versions = OnlySSL3;
    d.client.PeerHostName = "localhost";
    d.Connect(peer.Port());
    ASSERT_TRUE(d.Handshake()) << d.ErrorCodes() << peer.Result()["failure"].str();
    EXPECT_FALSE(d.client.GetSecureRenegotiation());
    EXPECT_EQ(d.Exchange("velho"), "ohlev\n");
    EXPECT_TRUE(d.errors.empty()) << d.ErrorCodes();
    EXPECT_EQ(d.renegotiated, 0);
    d.client.CloseSession(false);
    d.socket.Close();
    const Json r = peer.Result();
    EXPECT_FALSE(r.has("failure")) << r["failure"].str();
    EXPECT_FALSE(r.has("renegotiation_hellos"));
    EXPECT_EQ(Alerts(r), std::vector<std::string>{"1/0"});
}

// ---------------------------------------------------------------------------------------------
// SSL 2.0 refusals

struct SSL2Refusal {
    const char* name;
    const char* extra;
};

class SBClientSSL2Refusals : public ::testing::TestWithParam<SSL2Refusal> {};

TEST_P(SBClientSSL2Refusals, ClosesWithError) {
    const SSL2Refusal& c = GetParam();
    ASSERT_FALSE(TlsCertificates().empty());
    ScopedEnv trust("SSL_CERT_FILE", Cert("trust.pem"));
    ScriptedTlsPeer peer(CertificateScenario("server-rsa", 0, "ssl2", c.extra));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    EngineDriver d;
    d.client.Versions = OnlySSL2;
    d.client.PeerHostName = "localhost";
    d.Connect(peer.Port());
    const bool opened = d.Handshake();
    if (opened) {
        const std::string line = "x\n";
        d.client.SendApplicationData(line.data(), int32_t(line.size()));
        d.PumpUntil([&] { return d.closed > 0; });
    }
    EXPECT_EQ(d.closed, 1);
    EXPECT_EQ(d.closeReason, crError);
    EXPECT_FALSE(d.errors.empty());
    EXPECT_FALSE(d.client.GetActive());
}

INSTANTIATE_TEST_SUITE_P(Cases, SBClientSSL2Refusals,
                         ::testing::Values(SSL2Refusal{"ServerVerifyMismatch", "\"ssl2_bad_verify\": true"},
                                           SSL2Refusal{"ErrorFromTheServer", "\"ssl2_error\": 1"},
                                           SSL2Refusal{"WrongMac", "\"ssl2_bad_mac\": true"},
                                           SSL2Refusal{"MessageOutOfState", "\"ssl2_early\": true"},
                                           SSL2Refusal{"UnofferedSpec", "\"ssl2_server_specs\": [\"010080\"]"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
