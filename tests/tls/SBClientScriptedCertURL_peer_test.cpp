// Client certificate URLs (RFC 6066 5) against the scripted peer, which no Debian server
// speaks: with client_certificate_url agreed the client's flight carries CertificateURL (its
// exact bytes, the hash the peer checks against the certificate the URL stands for) and a
// CertificateVerify by the first URL's key; a server that does not agree, or no URL to give,
// gets the usual Certificate; and a list that cannot be written ends the handshake with
// internal_error before anything of it goes out.
#include <gtest/gtest.h>

#include "crypto/base/SBConstants.h"
#include "crypto/facade/SBHashFunction.h"
#include "pki/SBCustomCertStorage.h"
#include "pki/SBX509.h"
#include "rtl/Bytes.h"
#include "tests/tls/TlsTestSupport.h"

using namespace kwtest;

namespace {

constexpr const char* ClientURL = "http://certs.example/client.der";

ByteArray Sha1(const TElX509Certificate& c) {
    TElHashFunction h(SB_ALG_SHA1);
    h.Update(c.GetCertificateBinary(), c.GetCertificateSize());
    const ByteString d = h.Finish();
    return ByteArray(d.begin(), d.end());
}

struct URLEntry {
    std::string url;
    bool hash;  // the SHA-1 of the client certificate
    bool key;   // the client certificate's private key
};

// The CertificateURL body the entries make (RFC 6066 5), in hex.
std::string ExpectedBody(uint8_t chainType, const std::vector<URLEntry>& entries, const ByteArray& hash) {
    ByteArray list;
    for (const URLEntry& e : entries) {
        list.push_back(uint8_t(e.url.size() >> 8));
        list.push_back(uint8_t(e.url.size()));
        list.insert(list.end(), e.url.begin(), e.url.end());
        list.push_back(e.hash ? 1 : 0);
        if (e.hash) list.insert(list.end(), hash.begin(), hash.end());
    }
    ByteArray body{chainType, uint8_t(list.size() >> 8), uint8_t(list.size())};
    body.insert(body.end(), list.begin(), list.end());
    return Hex(body.data(), body.size());
}

// The scenario: an RSA suite whose server asks for a client certificate, agreeing to
// client_certificate_url as `agree` says (true, or the hex of data it should not carry).
std::string Scenario(const std::string& version, const std::string& agree) {
    return CertificateScenario(
        "server-rsa", 0x002F, version,
        "\"request_certificate\": true, \"extensions\": {\"client_certificate_url\": " + agree +
            "}, \"url_files\": {\"" + ClientURL + "\": \"" + Cert("client.pem") + "\"}");
}

// A client that trusts the set's root, offers client_certificate_url with the entries given,
// and may hold the client chain in ClientCertStorage too.
struct URLClient {
    URLClient(uint8_t chainType, const std::vector<URLEntry>& entries, bool storage)
        : certificate(LoadWithKey("client")) {
        d.client.PeerHostName = "localhost";
        TElClientCertURLsSSLExtension& urls = d.client.Extensions().ClientCertURLs;
        urls.Enabled = true;
        urls.ChainType = chainType;
        for (const URLEntry& e : entries) {
            TElSSLCertURL& u = urls.GetURL(urls.AddURL());
            u.URL = e.url;
            if (e.hash) u.Hash = Sha1(*certificate);
            if (e.key) u.KeyMaterial = certificate->GetKeyMaterial();
        }
        if (storage) {
            chain.Add(certificate.get(), true);
            chain.Add(LoadPem("int.pem").get(), false);
            d.client.SetClientCertStorage(&chain);
        } else {
            d.client.OnCertificateNeededEx = [this](rtl::Component*, TElX509Certificate*& c) {
                asked++;
                c = nullptr;
            };
        }
    }
    std::unique_ptr<TElX509Certificate> certificate;
    TElMemoryCertStorage chain;
    EngineDriver d;
    int asked = 0;
};

enum class Sent { URL, Chain, EmptyList };

struct URLCase {
    const char* name;
    const char* version;
    const char* agree;
    uint8_t chainType;
    std::vector<URLEntry> entries;
    bool storage;
    Sent sent;
};

class SBClientCertificateURLs : public ::testing::TestWithParam<URLCase> {};

TEST_P(SBClientCertificateURLs, FlightTheServerGets) {
    const URLCase& c = GetParam();
    ASSERT_FALSE(TlsCertificates().empty());
    ScopedEnv trust("SSL_CERT_FILE", Cert("ca.pem"));
    ScriptedTlsPeer peer(Scenario(c.version, c.agree));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    URLClient u(c.chainType, c.entries, c.storage);
    EngineDriver& d = u.d;
    d.Connect(peer.Port());
    ASSERT_TRUE(d.Handshake()) << d.ErrorCodes() << peer.Result()["failure"].str();
    EXPECT_EQ(d.client.PeerExtensions().ClientCertURLs.Enabled, std::string(c.agree) == "true");
    EXPECT_EQ(d.Exchange("fetched"), "dehctef\n");
    d.client.CloseSession(false);
    const Json r = peer.Result();
    EXPECT_FALSE(r.has("failure")) << r["failure"].str();
    switch (c.sent) {
        case Sent::URL:
            // The URLs stand for the chain: no other source is asked, no Certificate goes out.
            EXPECT_EQ(r["certificate_url"].str(), ExpectedBody(c.chainType, c.entries, Sha1(*u.certificate)));
            EXPECT_FALSE(r.has("client_certificates"));
            EXPECT_TRUE(r["certificate_url_hash_ok"].boolean());
            EXPECT_TRUE(r["certificate_verify_ok"].boolean()) << r["certificate_verify"].str();
            EXPECT_EQ(u.asked, 0);
            break;
        case Sent::Chain: {
            EXPECT_FALSE(r.has("certificate_url"));
            const std::string der =
                Hex(u.certificate->GetCertificateBinary(), u.certificate->GetCertificateSize());
            EXPECT_NE(r["client_certificates"].str().find(der), std::string::npos);
            EXPECT_TRUE(r["certificate_verify_ok"].boolean());
            break;
        }
        case Sent::EmptyList:
            EXPECT_FALSE(r.has("certificate_url"));
            EXPECT_EQ(r["client_certificates"].str(), "000000");
            EXPECT_FALSE(r.has("certificate_verify"));
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SBClientCertificateURLs,
    ::testing::Values(
        URLCase{"AgreedTLS12", "tls12", "true", 0, {{ClientURL, true, true}}, false, Sent::URL},
        URLCase{"AgreedTLS10", "tls1", "true", 0, {{ClientURL, true, true}}, false, Sent::URL},
        // A PKI path, and an entry without a hash (RFC 4366's form).
        URLCase{"PkiPathSecondWithoutHash",
                "tls11",
                "true",
                1,
                {{ClientURL, true, true}, {"ftp://certs.example/int.der", false, false}},
                false,
                Sent::URL},
        // The URLs are not agreed: the chain goes out as a Certificate.
        URLCase{
            "NotEchoedTheChainGoesOut", "tls12", "false", 0, {{ClientURL, true, true}}, true, Sent::Chain},
        // Agreed, but no URL to give: the list may not be empty, the chain goes out.
        URLCase{"AgreedWithoutURLs", "tls12", "true", 0, {}, true, Sent::Chain},
        // The first URL's key is missing: it could not sign the CertificateVerify.
        URLCase{"FirstURLWithoutKey", "tls12", "true", 0, {{ClientURL, true, false}}, true, Sent::EmptyList}),
    [](const auto& info) { return std::string(info.param.name); });

struct URLRefusal {
    const char* name;
    const char* agree;
    uint8_t chainType;
    std::vector<size_t> urlSizes;  // URLs of these lengths, the first with hash and key
    int alert;
    int32_t code;
};

class SBClientCertificateURLRefusals : public ::testing::TestWithParam<URLRefusal> {};

TEST_P(SBClientCertificateURLRefusals, NothingOfTheListGoesOut) {
    const URLRefusal& c = GetParam();
    ASSERT_FALSE(TlsCertificates().empty());
    ScopedEnv trust("SSL_CERT_FILE", Cert("ca.pem"));
    ScriptedTlsPeer peer(Scenario("tls12", c.agree));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    std::vector<URLEntry> entries;
    for (size_t n : c.urlSizes)
        entries.push_back({std::string(n, 'u'), entries.empty(), entries.empty()});
    URLClient u(c.chainType, entries, false);
    EngineDriver& d = u.d;
    d.Connect(peer.Port());
    EXPECT_FALSE(d.Handshake());
    EXPECT_EQ(d.closeReason, crError);
    ASSERT_FALSE(d.errors.empty());
    EXPECT_EQ(d.errors.back().code, c.code) << d.ErrorCodes();
    EXPECT_TRUE(d.errors.back().fatal);
    EXPECT_FALSE(d.errors.back().remote);
    const Json r = peer.Result();
    EXPECT_EQ(Alerts(r), std::vector<std::string>{"2/" + std::to_string(c.alert)}) << r["failure"].str();
    EXPECT_FALSE(r.has("certificate_url"));
    EXPECT_FALSE(r.has("client_certificates"));
    EXPECT_FALSE(r.has("client_key_exchange"));
}

INSTANTIATE_TEST_SUITE_P(Cases, SBClientCertificateURLRefusals,
                         ::testing::Values(
                             // Each field at its limit passes the check; one byte past it does not.
                             URLRefusal{"URLPastItsField", "true", 0, {65536}, 80, 0x12815},
                             URLRefusal{"ListPastItsField", "true", 0, {40000, 25513}, 80, 0x12815},
                             URLRefusal{"EmptyURL", "true", 0, {0}, 80, 0x12815},
                             URLRefusal{"UnknownChainType", "true", 2, {20}, 80, 0x12815},
                             // RFC 6066 5: the server's client_certificate_url is empty.
                             URLRefusal{"ServerExtensionWithData", "\"00\"", 0, {20}, 50, 0x12810}),
                         [](const auto& info) { return std::string(info.param.name); });

// The largest list the field holds goes out whole: one URL of 65535 - 2 - 21 bytes.
TEST(SBClientCertificateURLEdges, ListAtItsLimitGoesOut) {
    ASSERT_FALSE(TlsCertificates().empty());
    ScopedEnv trust("SSL_CERT_FILE", Cert("ca.pem"));
    ScriptedTlsPeer peer(Scenario("tls12", "true"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    const std::vector<URLEntry> entries{{std::string(65535 - 2 - 21, 'u'), true, true}};
    URLClient u(0, entries, false);
    EngineDriver& d = u.d;
    d.Connect(peer.Port());
    // The peer fetches nothing for this URL, so it checks no signature; the flight is whole.
    ASSERT_TRUE(d.Handshake()) << d.ErrorCodes() << peer.Result()["failure"].str();
    d.client.CloseSession(false);
    const Json r = peer.Result();
    EXPECT_EQ(r["certificate_url"].str(), ExpectedBody(0, entries, Sha1(*u.certificate)));
    EXPECT_TRUE(r.has("certificate_verify"));
}

}  // namespace
