// Client certificates against openssl s_server -Verify 1: each source (ClientCertStorage,
// OnCertificateNeededEx, OnCertificateNeeded's buffers in each key form), RSA and DSA keys,
// the CertificateVerify of TLS 1.2 and of TLS 1.0; a certificate without its key.
#include <gtest/gtest.h>

#include <cstring>

#include "pki/SBCustomCertStorage.h"
#include "pki/SBX509.h"
#include "rtl/Bytes.h"
#include "tests/tls/TlsTestSupport.h"

using namespace kwtest;

namespace {

enum class Source { Storage, NeededEx, Buffers };

struct ClientCase {
    const char* name;
    Source source;
    const char* certificate;  // client or client-dsa
    const char* keyFile;      // for the buffers: the key in one of its forms
    const char* versionFlag;
    const char* cipher;
};

class SBClientCertificates : public ::testing::TestWithParam<ClientCase> {};

TEST_P(SBClientCertificates, ServerVerifiesTheClient) {
    const ClientCase& c = GetParam();
    ASSERT_FALSE(TlsCertificates().empty());
    ScopedEnv trust("SSL_CERT_FILE", Cert("ca.pem"));
    ServerProcess server(
        "openssl", SServerArgs({"-cert", Cert("server-rsa.pem"), "-key", Cert("server-rsa.key"), "-cert_chain",
                                Cert("int.pem"), "-Verify", "1", "-CAfile", Cert("trust.pem"), "-cipher",
                                std::string(c.cipher) + ":@SECLEVEL=0", c.versionFlag}));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    EngineDriver d;
    d.client.PeerHostName = "localhost";
    TElMemoryCertStorage storage;
    std::unique_ptr<TElX509Certificate> own;
    int calls = 0;
    switch (c.source) {
        case Source::Storage:
            storage.Add(LoadPemWithKey(c.certificate).get(), true);
            storage.Add(LoadPem("int.pem").get(), false);
            d.client.SetClientCertStorage(&storage);
            break;
        case Source::NeededEx:
            own = LoadPemWithKey(c.certificate);
            d.client.OnCertificateNeededEx = [&](rtl::Component*, TElX509Certificate*& certificate) {
                certificate = calls++ == 0 ? own.get() : nullptr;
            };
            break;
        case Source::Buffers:
            d.client.OnCertificateNeeded = [&](rtl::Component*, void* certificate, int32_t& certificateSize,
                                               void* key, int32_t& keySize, TClientCertificateType) {
                calls++;
                const auto loaded = LoadPem(std::string(c.certificate) + ".pem");
                ASSERT_LE(loaded->GetCertificateSize(), size_t(certificateSize));
                std::memcpy(certificate, loaded->GetCertificateBinary(), loaded->GetCertificateSize());
                certificateSize = int32_t(loaded->GetCertificateSize());
                const std::string k = ReadFile(Cert(c.keyFile));
                ASSERT_LE(k.size(), size_t(keySize));
                std::memcpy(key, k.data(), k.size());
                keySize = int32_t(k.size());
            };
            break;
    }
    d.Connect(server.Port());
    ASSERT_TRUE(d.Handshake()) << d.ErrorCodes() << server.Log();
    if (c.source != Source::Storage) {
        EXPECT_GT(calls, 0);
    }
    EXPECT_EQ(d.Exchange("signed"), "dengis\n");
    // s_server prints the verified client certificate's subject.
    const std::string subject = std::string(c.certificate) == "client" ? "kw client" : "kw dsa client";
    EXPECT_NE(server.Log().find(subject), std::string::npos) << server.Log();
    EXPECT_EQ(server.Log().find("verify error"), std::string::npos) << server.Log();
}

INSTANTIATE_TEST_SUITE_P(
    Sources, SBClientCertificates,
    ::testing::Values(
        ClientCase{"StorageRSA_TLS12", Source::Storage, "client", "", "-tls1_2", "AES128-SHA"},
        ClientCase{"StorageRSA_TLS10", Source::Storage, "client", "", "-tls1", "AES128-SHA"},
        ClientCase{"StorageDSA_TLS12", Source::Storage, "client-dsa", "", "-tls1_2", "DHE-RSA-AES128-SHA"},
        ClientCase{"StorageDSA_TLS11", Source::Storage, "client-dsa", "", "-tls1_1", "DHE-RSA-AES128-SHA"},
        ClientCase{"NeededExRSA_TLS12", Source::NeededEx, "client", "", "-tls1_2", "DHE-RSA-AES128-SHA"},
        ClientCase{"BuffersPKCS8PEM_TLS12", Source::Buffers, "client", "client.key", "-tls1_2", "AES128-SHA"},
        ClientCase{"BuffersPKCS1DER_TLS11", Source::Buffers, "client", "client-pkcs1.der", "-tls1_1", "AES128-SHA"},
        ClientCase{"BuffersPKCS8DER_TLS10", Source::Buffers, "client", "client-pkcs8.der", "-tls1", "AES256-SHA"},
        ClientCase{"BuffersDSATraditional_TLS12", Source::Buffers, "client-dsa", "client-dsa-trad.key", "-tls1_2",
                   "AES128-SHA"}),
    [](const auto& info) { return std::string(info.param.name); });

// A certificate the client cannot use: the server (-verify: asked for, not required) gets the
// empty list, Certificate (11) 0b 000003 000000, no CertificateVerify, and goes on without one.
struct EmptyListCase {
    const char* name;
    bool withKey;
    std::vector<std::string> serverExtra;
};

class SBClientEmptyCertificateList : public ::testing::TestWithParam<EmptyListCase> {};

TEST_P(SBClientEmptyCertificateList, SessionOpensWithoutTheCertificate) {
    const EmptyListCase& c = GetParam();
    ASSERT_FALSE(TlsCertificates().empty());
    ScopedEnv trust("SSL_CERT_FILE", Cert("ca.pem"));
    std::vector<std::string> args = {"-cert", Cert("server-rsa.pem"), "-key", Cert("server-rsa.key"), "-cert_chain",
                                     Cert("int.pem"), "-verify", "1", "-CAfile", Cert("trust.pem"), "-tls1_2"};
    args.insert(args.end(), c.serverExtra.begin(), c.serverExtra.end());
    ServerProcess server("openssl", SServerArgs(args));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    EngineDriver d;
    d.client.PeerHostName = "localhost";
    TElMemoryCertStorage storage;
    storage.Add((c.withKey ? LoadPemWithKey("client") : LoadPem("client.pem")).get(), c.withKey);
    d.client.SetClientCertStorage(&storage);
    d.Connect(server.Port());
    ASSERT_TRUE(d.Handshake()) << d.ErrorCodes() << server.Log();
    EXPECT_EQ(d.Exchange("anonymous"), "suomynona\n");
    EXPECT_EQ(server.Log().find("kw client"), std::string::npos) << server.Log();
    const std::string sent = Hex(d.sent.data(), d.sent.size());
    EXPECT_NE(sent.find("0b000003000000"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SBClientEmptyCertificateList,
    ::testing::Values(
        // The storage's certificate has no private key.
        EmptyListCase{"StorageCertificateWithoutKey", false, {}},
        // RFC 5246 7.4.6: the request names only DSA signatures; our RSA key could not sign the
        // CertificateVerify.
        EmptyListCase{"KeyTheRequestDoesNotTake", true, {"-client_sigalgs", "DSA+SHA256"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SBClientCertificateEdges, BufferCertificateWithoutKeyFails) {
    ASSERT_FALSE(TlsCertificates().empty());
    ScopedEnv trust("SSL_CERT_FILE", Cert("ca.pem"));
    ServerProcess server("openssl", SServerArgs({"-cert", Cert("server-rsa.pem"), "-key", Cert("server-rsa.key"),
                                                 "-cert_chain", Cert("int.pem"), "-Verify", "1", "-CAfile",
                                                 Cert("trust.pem"), "-tls1_2"}));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    EngineDriver d;
    d.client.PeerHostName = "localhost";
    d.client.OnCertificateNeeded = [&](rtl::Component*, void* certificate, int32_t& certificateSize, void*,
                                       int32_t& keySize, TClientCertificateType) {
        const auto loaded = LoadPem("client.pem");
        std::memcpy(certificate, loaded->GetCertificateBinary(), loaded->GetCertificateSize());
        certificateSize = int32_t(loaded->GetCertificateSize());
        keySize = 0;
    };
    d.Connect(server.Port());
    EXPECT_FALSE(d.Handshake());
    EXPECT_EQ(d.closeReason, crError);
    ASSERT_FALSE(d.errors.empty());
    EXPECT_EQ(d.errors.front().code, SSLAlertIndexToErrorCode(SSLAlertBadCertificate)) << d.ErrorCodes();
    // Neither a certificate nor a key exchange went out.
    int handshakeRecords = 0;
    for (size_t p = 0; p + 5 <= d.sent.size(); p += 5 + rtl::load_be16(reinterpret_cast<const uint8_t*>(&d.sent[p + 3])))
        handshakeRecords += d.sent[p] == 22;
    EXPECT_EQ(handshakeRecords, 1) << "only the ClientHello";
}

}  // namespace
