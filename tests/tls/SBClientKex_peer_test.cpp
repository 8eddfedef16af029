// The certificate key exchanges (RSA, DHE-RSA, DHE-DSS) against openssl s_server in each TLS
// version, with the server's certificate checked: the handshake, the records both ways and the
// master secret the server logged; then the verification table: trusted and untrusted paths,
// names (RFC 6125), validity, the switch and the owner's handler.
#include <gtest/gtest.h>

#include <optional>

#include "pki/SBCustomCertStorage.h"
#include "pki/SBX509.h"
#include "tests/tls/TlsTestSupport.h"
#include "tls/SBClientInternal.h"

using namespace kwtest;

namespace {

// Only the one suite.
void OnlySuite(TElSecureClient& client, uint8_t index) {
    for (uint8_t i = 0; i <= SSLMaxSuiteIndex; ++i) client.SetSuiteEnabled(i, i == index);
}

std::vector<std::string> CertServer(const std::string& name, const std::string& cipher, const std::string& version,
                                    std::vector<std::string> extra = {}) {
    std::vector<std::string> a = {"-cert", Cert(name + ".pem"), "-key", Cert(name + ".key"), "-cert_chain",
                                  Cert("int.pem"), "-cipher", cipher + ":@SECLEVEL=0", version};
    a.insert(a.end(), extra.begin(), extra.end());
    return SServerArgs(a);
}

struct KexCase {
    const char* name;
    const char* server;  // certificate set
    const char* cipher;
    const char* versionFlag;
    uint8_t suite;
    TSBVersion version;
};

class SBClientKex : public ::testing::TestWithParam<KexCase> {};

TEST_P(SBClientKex, HandshakeRecordsAndMasterSecret) {
    const KexCase& c = GetParam();
    ASSERT_FALSE(TlsCertificates().empty()) << "the test certificates were not made";
    ScopedEnv trust("SSL_CERT_FILE", Cert("ca.pem"));
    ServerProcess server("openssl", CertServer(c.server, c.cipher, c.versionFlag));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    EngineDriver d;
    OnlySuite(d.client, c.suite);
    d.client.PeerHostName = "localhost";
    d.Connect(server.Port());
    ASSERT_TRUE(d.Handshake()) << d.ErrorCodes() << server.Log();
    EXPECT_EQ(d.client.GetCurrentVersion(), c.version);
    EXPECT_EQ(d.client.GetCipherSuite(), c.suite);
    if (SSLCipherSuites[c.suite].KeyExchange != SSLKeyExchange::DHAnon) {
        ASSERT_NE(d.client.GetServerCertificateChain(), nullptr);
        EXPECT_EQ(d.client.GetServerCertificateChain()->GetCount(), 2);
    }
    EXPECT_EQ(d.Exchange("hello"), "olleh\n");
    const std::string big(12000, 'k');
    EXPECT_EQ(d.Exchange(big).size(), big.size() + 1);
    const auto ms = d.client.GetMasterSecret();
    EXPECT_EQ(LoggedMasterSecret(server, d.client.GetClientRandom()), Hex(ms.data(), ms.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Suites, SBClientKex,
    ::testing::Values(KexCase{"RSA_AES128_TLS12", "server-rsa", "AES128-SHA", "-tls1_2", 12, sbTLS12},
                      KexCase{"RSA_AES256_TLS11", "server-rsa", "AES256-SHA", "-tls1_1", 13, sbTLS11},
                      KexCase{"RSA_AES128_TLS10", "server-rsa", "AES128-SHA", "-tls1", 12, sbTLS1},
                      KexCase{"RSA_Camellia128_TLS12", "server-rsa", "CAMELLIA128-SHA", "-tls1_2", 44, sbTLS12},
                      KexCase{"DHE_RSA_AES128_TLS12", "server-rsa", "DHE-RSA-AES128-SHA", "-tls1_2", 28, sbTLS12},
                      KexCase{"DHE_RSA_AES256_TLS10", "server-rsa", "DHE-RSA-AES256-SHA", "-tls1", 29, sbTLS1},
                      KexCase{"DHE_RSA_Camellia256_TLS12", "server-rsa", "DHE-RSA-CAMELLIA256-SHA", "-tls1_2", 54,
                              sbTLS12},
                      KexCase{"DHE_DSS_AES128_TLS12", "server-dsa", "DHE-DSS-AES128-SHA", "-tls1_2", 24, sbTLS12},
                      KexCase{"DHE_DSS_AES256_TLS11", "server-dsa", "DHE-DSS-AES256-SHA", "-tls1_1", 25, sbTLS11},
                      KexCase{"DHAnon_AES128_TLS12", "server-rsa", "ADH-AES128-SHA", "-tls1_2", 33, sbTLS12},
                      KexCase{"RSA_NULL_SHA_TLS12", "server-rsa", "NULL-SHA", "-tls1_2", 2, sbTLS12},
                      KexCase{"DHE_DSS_Camellia128_TLS10", "server-dsa", "DHE-DSS-CAMELLIA128-SHA", "-tls1", 47,
                              sbTLS1}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// The verification table

enum class Trust { None, Storage, Bundle };
enum class Handler { None, Refuses, Accepts };

struct VerifyCase {
    const char* name;
    const char* server;
    const char* host;
    Trust trust;
    bool disabled;
    Handler handler;
    uint8_t alert;  // SSLAlertNone: the session opens
};

class SBClientVerify : public ::testing::TestWithParam<VerifyCase> {};

TEST_P(SBClientVerify, Outcome) {
    const VerifyCase& c = GetParam();
    ASSERT_FALSE(TlsCertificates().empty()) << "the test certificates were not made";
    TempDir dir;
    // The system bundle is the test's own: the CA, or a file without certificates.
    WriteFile(dir / "empty.pem", "");
    ScopedEnv bundle("SSL_CERT_FILE", c.trust == Trust::Bundle ? Cert("ca.pem") : (dir / "empty.pem").string());
    ServerProcess server("openssl", CertServer(c.server, "AES128-SHA", "-tls1_2"));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    EngineDriver d;
    TElMemoryCertStorage anchors;
    if (c.trust == Trust::Storage) {
        anchors.Add(LoadPem("ca.pem").get());
        d.client.SetCertStorage(&anchors);
    }
    d.client.PeerHostName = c.host;
    d.client.VerifyPeerDisabled = c.disabled;
    int calls = 0;
    if (c.handler != Handler::None)
        d.client.OnCertificateValidate = [&](rtl::Component*, TElX509Certificate*, bool& validate) {
            calls++;
            validate = c.handler == Handler::Accepts;
        };
    d.Connect(server.Port());
    const bool opened = d.Handshake();
    if (c.handler != Handler::None) {
        EXPECT_GT(calls, 0);
    }
    if (c.alert == SSLAlertNone) {
        ASSERT_TRUE(opened) << d.ErrorCodes() << server.Log();
        EXPECT_EQ(d.Exchange("checked"), "dekcehc\n");
        return;
    }
    EXPECT_FALSE(opened);
    EXPECT_EQ(d.closed, 1);
    EXPECT_EQ(d.closeReason, crError);
    ASSERT_FALSE(d.errors.empty());
    EXPECT_EQ(d.errors.front().code, SSLAlertIndexToErrorCode(c.alert)) << d.ErrorCodes();
    EXPECT_FALSE(d.errors.front().remote);
    // The alert went to the server.
    EXPECT_TRUE(Eventually([&] { return server.Log().find("alert") != std::string::npos; })) << server.Log();
}

constexpr uint8_t Opens = SSLAlertNone;

INSTANTIATE_TEST_SUITE_P(
    Table, SBClientVerify,
    ::testing::Values(
        VerifyCase{"TrustedByStorage", "server-rsa", "localhost", Trust::Storage, false, Handler::None, Opens},
        VerifyCase{"TrustedByBundle", "server-rsa", "localhost", Trust::Bundle, false, Handler::None, Opens},
        VerifyCase{"AddressLiteral", "server-rsa", "127.0.0.1", Trust::Storage, false, Handler::None, Opens},
        VerifyCase{"Untrusted", "server-rsa", "localhost", Trust::None, false, Handler::None, SSLAlertUnknownCA},
        VerifyCase{"SelfSigned", "self", "localhost", Trust::Storage, false, Handler::None, SSLAlertUnknownCA},
        VerifyCase{"WrongName", "other", "localhost", Trust::Storage, false, Handler::None, SSLAlertBadCertificate},
        VerifyCase{"Expired", "expired", "localhost", Trust::Storage, false, Handler::None,
                   SSLAlertCertificateExpired},
        VerifyCase{"Wildcard", "wildcard", "www.kw.test", Trust::Storage, false, Handler::None, Opens},
        VerifyCase{"WildcardOneLabelOnly", "wildcard", "a.www.kw.test", Trust::Storage, false, Handler::None,
                   SSLAlertBadCertificate},
        VerifyCase{"WildcardNotTheBase", "wildcard", "kw.test", Trust::Storage, false, Handler::None,
                   SSLAlertBadCertificate},
        VerifyCase{"IPAddressSAN", "ip-only", "127.0.0.1", Trust::Storage, false, Handler::None, Opens},
        VerifyCase{"IPAddressSANIsNoDNSName", "ip-only", "localhost", Trust::Storage, false, Handler::None,
                   SSLAlertBadCertificate},
        VerifyCase{"CommonNameOnly", "cn-only", "localhost", Trust::Storage, false, Handler::None, Opens},
        VerifyCase{"CommonNameNeverForAnAddress", "cn-only", "127.0.0.1", Trust::Storage, false, Handler::None,
                   SSLAlertBadCertificate},
        VerifyCase{"SwitchSetUntrusted", "server-rsa", "localhost", Trust::None, true, Handler::None, Opens},
        VerifyCase{"SwitchSetWrongName", "other", "localhost", Trust::None, true, Handler::None, Opens},
        VerifyCase{"SwitchSetHandlerRefuses", "server-rsa", "localhost", Trust::None, true, Handler::Refuses,
                   SSLAlertBadCertificate},
        VerifyCase{"HandlerRefusesTrusted", "server-rsa", "localhost", Trust::Storage, false, Handler::Refuses,
                   SSLAlertBadCertificate},
        VerifyCase{"HandlerCannotOverturn", "server-rsa", "localhost", Trust::None, false, Handler::Accepts,
                   SSLAlertUnknownCA},
        VerifyCase{"HandlerAcceptsTrusted", "server-rsa", "localhost", Trust::Storage, false, Handler::Accepts,
                   Opens}),
    [](const auto& info) { return std::string(info.param.name); });

// RFC 6125 matching on its own, over the certificates of the set.
TEST(SBClientHostNames, MatchingRules) {
    ASSERT_FALSE(TlsCertificates().empty());
    const auto server = LoadPem("server-rsa.pem"), wildcard = LoadPem("wildcard.pem"),
               cnOnly = LoadPem("cn-only.pem"), ipOnly = LoadPem("ip-only.pem"),
               wildAddress = LoadPem("wild-address.pem");
    struct Row {
        const TElX509Certificate* certificate;
        const char* host;
        bool matches;
    } rows[] = {
        {server.get(), "localhost", true},
        {server.get(), "LOCALHOST", true},
        {server.get(), "localhost.", true},
        {server.get(), "127.0.0.1", true},
        {server.get(), "127.0.0.2", false},
        {server.get(), "::1", false},
        {server.get(), "local", false},
        {server.get(), "", false},
        {wildcard.get(), "a.kw.test", true},
        {wildcard.get(), "A.KW.TEST", true},
        {wildcard.get(), "a.b.kw.test", false},
        {wildcard.get(), "kw.test", false},
        {wildcard.get(), ".kw.test", false},
        {wildcard.get(), "xn--bcher-kva.kw.test", false},
        {cnOnly.get(), "localhost", true},
        {cnOnly.get(), "other", false},
        {ipOnly.get(), "127.0.0.1", true},
        {ipOnly.get(), "[127.0.0.1]", true},
        {ipOnly.get(), "localhost", false},
        // Every spelling the resolver reads as 127.0.0.1 is that address, never a DNS name.
        {ipOnly.get(), "127.1", true},
        {ipOnly.get(), "0x7f.0.0.1", true},
        {ipOnly.get(), "2130706433", true},
        {ipOnly.get(), "0177.0.0.1", true},
        {ipOnly.get(), "127.000.0.1", true},
        {ipOnly.get(), "[127.1]", true},
        {ipOnly.get(), "0127.0.0.1", false},
        {ipOnly.get(), "127.0.0.1.", false},
        {wildAddress.get(), "0x7f.0.0.1", false},
        {wildAddress.get(), "0177.0.0.1", false},
        {wildAddress.get(), "0127.0.0.1", false},
        {wildAddress.get(), "127.0.0.1", false},
        {wildAddress.get(), "x.0.0.1", true},
    };
    for (const Row& r : rows) EXPECT_EQ(sbtls::CertificateNamesHost(*r.certificate, r.host), r.matches) << r.host;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// A second stack: gnutls-serv in its echo mode.

namespace {

struct GnuTLSCase {
    const char* name;
    const char* server;
    const char* priority;
    uint8_t suite;
    TSBVersions versions = {sbTLS1, sbTLS11, sbTLS12};
    TSBVersion negotiated = sbTLS12;
};

class SBClientGnuTLS : public ::testing::TestWithParam<GnuTLSCase> {};

TEST_P(SBClientGnuTLS, HandshakeTicketAndSafeRenegotiation) {
    const GnuTLSCase& c = GetParam();
    ASSERT_FALSE(TlsCertificates().empty());
    ScopedEnv trust("SSL_CERT_FILE", Cert("ca.pem"));
    ServerProcess server("gnutls-serv", {"--echo", "-a", "-p", "{PORT}", "--x509certfile", Cert(std::string(c.server) + "-chain.pem"),
                                         "--x509keyfile", Cert(std::string(c.server) + ".key"), "--dhparams",
                                         Cert("ffdhe2048.pem"), "--priority",
                                         std::string("NONE:+VERS-TLS1.2:+VERS-TLS1.0:+SHA1:+COMP-NULL:+SIGN-ALL:") +
                                             c.priority + ":%SAFE_RENEGOTIATION"});
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    EngineDriver first;
    OnlySuite(first.client, c.suite);
    first.client.Versions = c.versions;
    first.client.PeerHostName = "localhost";
    first.client.Extensions().SessionTicket = true;
    first.Connect(server.Port());
    ASSERT_TRUE(first.Handshake()) << first.ErrorCodes() << server.Log();
    EXPECT_EQ(first.client.GetCipherSuite(), c.suite);
    EXPECT_EQ(first.client.GetCurrentVersion(), c.negotiated);
    EXPECT_TRUE(first.client.GetSecureRenegotiation());
    EXPECT_TRUE(first.client.PeerExtensions().SessionTicket);
    first.data.clear();
    const std::string line = "gnutls\n";
    first.client.SendApplicationData(line.data(), int32_t(line.size()));
    EXPECT_TRUE(first.PumpUntil([&] { return first.data == line; })) << first.data;
    first.client.CloseSession(false);
    // A second connection resumes the session by its ticket.
    EngineDriver second;
    OnlySuite(second.client, c.suite);
    second.client.Versions = c.versions;
    second.client.PeerHostName = "localhost";
    second.client.Extensions().SessionTicket = true;
    second.client.OpenResumingSession(first.client);
    second.Connect(server.Port());
    second.client.RenegotiateSession();
    ASSERT_TRUE(second.PumpUntil([&] { return second.opened > 0; })) << second.ErrorCodes() << server.Log();
    EXPECT_TRUE(second.client.GetSessionResumed());
    EXPECT_EQ(second.client.GetMasterSecret(), first.client.GetMasterSecret());
    second.client.SendApplicationData(line.data(), int32_t(line.size()));
    EXPECT_TRUE(second.PumpUntil([&] { return second.data == line; })) << second.data;
}

INSTANTIATE_TEST_SUITE_P(
    Suites, SBClientGnuTLS,
    ::testing::Values(GnuTLSCase{"RSA_3DES", "server-rsa", "+RSA:+3DES-CBC", 11},
                      GnuTLSCase{"DHE_RSA_Camellia128", "server-rsa", "+DHE-RSA:+CAMELLIA-128-CBC", 48},
                      GnuTLSCase{"RSA_Camellia256", "server-rsa", "+RSA:+CAMELLIA-256-CBC", 50},
                      GnuTLSCase{"DHE_DSS_AES128_TLS10", "server-dsa", "+DHE-DSS:+AES-128-CBC", 24, {sbTLS1}, sbTLS1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// s_server -status_file: the stapled OCSP response reaches OnCertificateStatus as it was sent.
TEST(SBClientCertificateStatus, StapledResponseReachesTheOwner) {
    ASSERT_FALSE(TlsCertificates().empty());
    ScopedEnv trust("SSL_CERT_FILE", Cert("ca.pem"));
    ServerProcess server("openssl",
                         CertServer("server-rsa", "AES128-SHA", "-tls1_2", {"-status_file", Cert("server-rsa-ocsp.der")}));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    EngineDriver d;
    d.client.PeerHostName = "localhost";
    d.client.Extensions().CertificateStatus.Enabled = true;
    std::string status;
    int calls = 0;
    d.client.OnCertificateStatus = [&](rtl::Component*, TSBCertificateStatusType type, const ByteArray& data) {
        calls++;
        EXPECT_EQ(type, cstOCSP);
        status.assign(data.begin(), data.end());
    };
    d.Connect(server.Port());
    ASSERT_TRUE(d.Handshake()) << d.ErrorCodes() << server.Log();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(status, ReadFile(Cert("server-rsa-ocsp.der")));
    EXPECT_EQ(d.Exchange("stapled"), "delpats\n");
}

}  // namespace

namespace {

// The other PSK kinds against s_server: DHE_PSK (RFC 4279 3) and RSA_PSK (RFC 4279 4, with the
// server's certificate checked).
struct PSKKind {
    const char* name;
    const char* cipher;
    uint8_t suite;
    bool certificate;
};

class SBClientPSKKinds : public ::testing::TestWithParam<PSKKind> {};

TEST_P(SBClientPSKKinds, HandshakeRecordsAndMasterSecret) {
    const PSKKind& c = GetParam();
    ASSERT_FALSE(TlsCertificates().empty());
    ScopedEnv trust("SSL_CERT_FILE", Cert("ca.pem"));
    std::vector<std::string> args = PSKServerArgs(c.cipher, "-tls1_2", "hint1");
    if (c.certificate) {
        args.insert(args.end(), {"-cert", Cert("server-rsa.pem"), "-key", Cert("server-rsa.key"), "-cert_chain",
                                 Cert("int.pem")});
    } else {
        args.push_back("-nocert");
    }
    ServerProcess server("openssl", SServerArgs(args));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    EngineDriver d;
    OnlySuite(d.client, c.suite);
    d.client.PeerHostName = "localhost";
    std::string hint;
    AnswerWithTestPSK(d.client, &hint);
    d.Connect(server.Port());
    ASSERT_TRUE(d.Handshake()) << d.ErrorCodes() << server.Log();
    EXPECT_EQ(d.client.GetCipherSuite(), c.suite);
    EXPECT_EQ(hint, "hint1");
    EXPECT_EQ(d.Exchange("partilhado"), "odahlitrap\n");
    const auto ms = d.client.GetMasterSecret();
    EXPECT_EQ(LoggedMasterSecret(server, d.client.GetClientRandom()), Hex(ms.data(), ms.size()));
}

INSTANTIATE_TEST_SUITE_P(Kinds, SBClientPSKKinds,
                         ::testing::Values(PSKKind{"DHE_PSK_AES128", "DHE-PSK-AES128-CBC-SHA", 62, false},
                                           PSKKind{"DHE_PSK_AES256", "DHE-PSK-AES256-CBC-SHA", 63, false},
                                           PSKKind{"RSA_PSK_AES128", "RSA-PSK-AES128-CBC-SHA", 66, true},
                                           PSKKind{"RSA_PSK_AES256", "RSA-PSK-AES256-CBC-SHA", 67, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
