// The certificate key exchanges against the scripted peer: what only it serves (SEED, fixed
// DH), the default hello (nothing of the off list, in the tie order), and every way a server's
// key exchange can be wrong, each ending in its fatal alert and a session closed with crError.
#include <gtest/gtest.h>

#include <set>

#include "tests/tls/TlsTestSupport.h"

using namespace kwtest;

namespace {

struct Served {
    const char* name;
    const char* server;
    int code;
    uint8_t index;
    const char* version;
};

class SBClientScriptedKex : public ::testing::TestWithParam<Served> {};

TEST_P(SBClientScriptedKex, HandshakeAndRecords) {
    const Served& c = GetParam();
    ASSERT_FALSE(TlsCertificates().empty());
    ScopedEnv trust("SSL_CERT_FILE", Cert("ca.pem"));
    ScriptedTlsPeer peer(CertificateScenario(c.server, c.code, c.version, ""));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    EngineDriver d;
    d.client.SetSuiteEnabled(c.index, true);
    d.client.PeerHostName = "localhost";
    d.Connect(peer.Port());
    ASSERT_TRUE(d.Handshake()) << d.ErrorCodes() << peer.Result()["failure"].str();
    EXPECT_EQ(d.client.GetCipherSuite(), c.index);
    EXPECT_EQ(d.Exchange("seeded"), "dedees\n");
    d.client.CloseSession(false);
    const Json r = peer.Result();
    EXPECT_FALSE(r.has("failure")) << r["failure"].str();
}

INSTANTIATE_TEST_SUITE_P(Suites, SBClientScriptedKex,
                         ::testing::Values(Served{"RSA_SEED", "server-rsa", 0x0096, 68, "tls12"},
                                           Served{"DHE_RSA_SEED", "server-rsa", 0x009A, 72, "tls12"},
                                           Served{"DHE_DSS_SEED", "server-dsa", 0x0099, 71, "tls1"},
                                           Served{"DH_RSA_AES128", "server-dh", 0x0031, 20, "tls12"},
                                           Served{"DH_RSA_SEED", "server-dh", 0x0098, 70, "tls11"}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// The default hello

int KeyExchangeTie(SSLKeyExchange k) {
    return k == SSLKeyExchange::DHE ? 0 : k == SSLKeyExchange::RSA ? 1 : k == SSLKeyExchange::DH ? 2 : 3;
}

int CipherTie(SSLCipher c) {
    switch (c) {
        case SSLCipher::AES128:
        case SSLCipher::AES256: return 0;
        case SSLCipher::Camellia128:
        case SSLCipher::Camellia256: return 1;
        case SSLCipher::SEED: return 2;
        case SSLCipher::TripleDES: return 3;
        default: return 4;
    }
}

TEST(SBClientDefaults, HelloOffersNothingOfTheOffListInTheTieOrder) {
    ASSERT_FALSE(TlsCertificates().empty());
    ScopedEnv trust("SSL_CERT_FILE", Cert("ca.pem"));
    ScriptedTlsPeer peer(CertificateScenario("server-rsa", 0x002F, "tls12", ""));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    EngineDriver d;
    d.client.PeerHostName = "localhost";
    d.Connect(peer.Port());
    ASSERT_TRUE(d.Handshake()) << d.ErrorCodes() << peer.Result()["failure"].str();
    d.client.CloseSession(false);
    const Json r = peer.Result();
    EXPECT_EQ(r["hello"]["version"].integer(), 0x0303);  // TLS 1.2 by default
    std::vector<int> offered;
    for (const Json& s : r["hello"]["suites"].items()) offered.push_back(int(s.integer()));
    ASSERT_FALSE(offered.empty());
    std::set<int> expected;
    for (const TSSLCipherSuiteInfo& s : SSLCipherSuites)
        if (s.Enabled && s.Code != 0 && (s.Families & SSLFamilyTLS)) expected.insert(s.Code);
    EXPECT_EQ(std::set<int>(offered.begin(), offered.end()), expected);
    const TSSLCipherSuiteInfo* previous = nullptr;
    for (int code : offered) {
        const TSSLCipherSuiteInfo* s = nullptr;
        for (const TSSLCipherSuiteInfo& x : SSLCipherSuites)
            if (x.Code == code && (x.Families & SSLFamilyTLS)) s = &x;
        ASSERT_NE(s, nullptr) << code;
        // The off list: NULL, export, anonymous, RC4, single DES, RC2, IDEA, PSK, SRP.
        EXPECT_FALSE(s->Export) << s->Name;
        EXPECT_TRUE(s->Cipher != SSLCipher::None && s->Cipher != SSLCipher::RC4 && s->Cipher != SSLCipher::DES &&
                    s->Cipher != SSLCipher::RC2 && s->Cipher != SSLCipher::IDEA)
            << s->Name;
        EXPECT_TRUE(s->KeyExchange != SSLKeyExchange::DHAnon && s->KeyExchange != SSLKeyExchange::PSK &&
                    s->KeyExchange != SSLKeyExchange::DHEPSK && s->KeyExchange != SSLKeyExchange::RSAPSK &&
                    s->KeyExchange != SSLKeyExchange::SRP)
            << s->Name;
        // Higher priority first; ties: DHE, RSA, fixed DH, then AES, Camellia, SEED, 3DES.
        if (previous != nullptr) {
            ASSERT_GE(previous->Priority, s->Priority) << previous->Name << " " << s->Name;
            if (previous->Priority == s->Priority) {
                const auto a = std::make_pair(KeyExchangeTie(previous->KeyExchange), CipherTie(previous->Cipher));
                const auto b = std::make_pair(KeyExchangeTie(s->KeyExchange), CipherTie(s->Cipher));
                EXPECT_LE(a, b) << previous->Name << " " << s->Name;
            }
        }
        previous = s;
    }
    // TLS 1.2 signature_algorithms: SHA-256, SHA-384, SHA-512, SHA-224, SHA-1, each RSA and DSA.
    std::string algorithms;
    for (const Json& e : r["hello"]["extensions"].items())
        if (e[size_t(0)].integer() == 13) algorithms = e[size_t(1)].str();
    EXPECT_EQ(algorithms, "0014040104020501050206010602030103020201" "0202");
}

TEST(SBClientDefaults, ServerWithOnlySuitesOfTheOffListFails) {
    ASSERT_FALSE(TlsCertificates().empty());
    ScopedEnv trust("SSL_CERT_FILE", Cert("ca.pem"));
    // RC4, export, anonymous and single-DES suites only.
    ScriptedTlsPeer peer(CertificateScenario("server-rsa", 0, "tls12", "\"suite\": [5, 4, 3, 24, 52, 9, 21]"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    EngineDriver d;
    d.Connect(peer.Port());
    EXPECT_FALSE(d.Handshake());
    EXPECT_EQ(d.opened, 0);
    EXPECT_FALSE(d.client.GetActive());
    EXPECT_EQ(peer.Result()["failure"].str(), "no suite in common");
}

// ---------------------------------------------------------------------------------------------
// Refusals

struct KexRefusal {
    const char* name;
    const char* server;
    int code;
    uint8_t index;
    const char* version;
    const char* params;
    int alert;          // the description sent
    uint8_t alertIndex;  // what OnError reports
};

class SBClientKexRefusals : public ::testing::TestWithParam<KexRefusal> {};

TEST_P(SBClientKexRefusals, FatalAlertAndClosedSession) {
    const KexRefusal& c = GetParam();
    ASSERT_FALSE(TlsCertificates().empty());
    ScopedEnv trust("SSL_CERT_FILE", Cert("ca.pem"));
    std::string params = c.params;
    if (const size_t temp = params.find("TEMP"); temp != std::string::npos)
        params.replace(temp, 4, Cert("temp512.key"));
    ScriptedTlsPeer peer(CertificateScenario(c.server, c.code, c.version, params));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    EngineDriver d;
    d.client.SetSuiteEnabled(c.index, true);
    d.client.PeerHostName = "localhost";
    d.Connect(peer.Port());
    EXPECT_FALSE(d.Handshake());
    EXPECT_EQ(d.closed, 1);
    EXPECT_EQ(d.closeReason, crError);
    ASSERT_FALSE(d.errors.empty());
    EXPECT_EQ(d.errors.back().code, SSLAlertIndexToErrorCode(c.alertIndex)) << d.ErrorCodes();
    EXPECT_FALSE(d.errors.back().remote);
    const Json r = peer.Result();
    EXPECT_EQ(Alerts(r), std::vector<std::string>{"2/" + std::to_string(c.alert)}) << peer.Log();
    // No ClientKeyExchange went out.
    EXPECT_FALSE(r.has("client_key_exchange"));
}

// 2^512 - 1, odd and too small a group for a suite that is not export; 2^1024 - 1 with Ys = p - 1.
const std::string WeakP = "\"dh_p\": \"" + std::string(128, 'f') + "\"";
const std::string YsPMinusOne =
    "\"dh_p\": \"" + std::string(256, 'f') + "\", \"dh_ys\": \"" + std::string(254, 'f') + "fe\"";

INSTANTIATE_TEST_SUITE_P(
    Cases, SBClientKexRefusals,
    ::testing::Values(
        KexRefusal{"BadSignatureTLS12", "server-rsa", 0x0033, 28, "tls12", "\"bad_signature\": true", 40,
                   SSLAlertHandshakeFailure},
        KexRefusal{"BadSignatureTLS10", "server-rsa", 0x0033, 28, "tls1", "\"bad_signature\": true", 40,
                   SSLAlertHandshakeFailure},
        KexRefusal{"BadSignatureDSS", "server-dsa", 0x0032, 24, "tls12", "\"bad_signature\": true", 40,
                   SSLAlertHandshakeFailure},
        KexRefusal{"BadSignatureDHESEED", "server-rsa", 0x009A, 72, "tls12", "\"bad_signature\": true", 40,
                   SSLAlertHandshakeFailure},
        KexRefusal{"BadSignatureOfTheExportKey", "server-rsa", 0x0003, 36, "tls1",
                   "\"bad_signature\": true, \"temp_rsa_key\": \"TEMP\"", 40, SSLAlertHandshakeFailure},
        KexRefusal{"UnofferedSignaturePair", "server-rsa", 0x0033, 28, "tls12", "\"ske_algorithm\": \"0101\"", 47,
                   SSLAlertIllegalParameter},
        KexRefusal{"SignatureOfAnotherKind", "server-rsa", 0x0033, 28, "tls12", "\"ske_algorithm\": \"0402\"", 47,
                   SSLAlertIllegalParameter},
        KexRefusal{"WeakGroup", "server-rsa", 0x0033, 28, "tls12", WeakP.c_str(), 71, SSLAlertInsufficientSecurity},
        KexRefusal{"GeneratorOne", "server-rsa", 0x0033, 28, "tls12", "\"dh_g\": 1", 47, SSLAlertIllegalParameter},
        KexRefusal{"YsIsPMinusOne", "server-rsa", 0x0033, 28, "tls12", YsPMinusOne.c_str(), 47, SSLAlertIllegalParameter},
        KexRefusal{"YsIsOne", "server-rsa", 0x0033, 28, "tls12", "\"dh_ys\": \"01\"", 47, SSLAlertIllegalParameter},
        KexRefusal{"RSAKeyForADSSSuite", "server-rsa", 0x0032, 24, "tls12", "", 43, SSLAlertUnsupportedCertificate},
        KexRefusal{"DSAKeyForAnRSASuite", "server-dsa", 0x002F, 12, "tls12", "", 43, SSLAlertUnsupportedCertificate}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
