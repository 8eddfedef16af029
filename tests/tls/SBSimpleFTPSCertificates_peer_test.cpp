// The FTP client's certificate and extension surface on the control and the data connections:
// a client certificate from ClientCertStorage or OnCertificateNeededEx for vsftpd demanding one
// (and the login refused without one); OnCertificateValidate against proftpd hearing every
// server certificate of the control and each data connection, refusing or raising on either,
// overturning a refusal only with VerifyPeerDisabled; CertStorage trusting a private CA on both;
// and, over openssl s_server speaking the control connection's first lines, the stapled
// response, the hello extensions, a renegotiation and a pre-shared key. Every event names the
// FTP client as Sender, whichever engine raised it.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pki/SBCustomCertStorage.h"
#include "pki/SBX509.h"
#include "rtl/Stream.h"
#include "support/TestSupport.h"
#include "tests/net/ScriptBuilder.h"
#include "tests/net/ScriptPeer.h"
#include "tests/tls/ClientTestSupport.h"
#include "tests/tls/FtpPeers.h"
#include "tests/tls/TlsTestSupport.h"
#include "tls/SBSimpleFTPS.h"

using namespace kwtest;

namespace {

// Explicit TLS 1.2 to localhost (a name the server's certificate holds), protected passive data
// connections.
void Protected(TElSimpleFTPSClient& ftp, int port, const std::string& user, const std::string& password) {
    ftp.SetAddress("localhost");
    ftp.SetPort(port);
    ftp.SetVersions(VersionBit(sbTLS12));
    ftp.EncryptDataChannel = true;
    ftp.PassiveMode = true;
    ftp.Username = user;
    ftp.Password = password;
}

// The senders of every event heard, and the error codes OnSSLError reported.
struct Heard {
    std::vector<rtl::Component*> senders;
    std::vector<int32_t> errors;
    bool AllFrom(const TElSimpleFTPSClient& ftp) const {
        for (rtl::Component* s : senders)
            if (s != &ftp) return false;
        return true;
    }
};

// A listing and a download, each over a data connection of its own.
void ListAndDownload(TElSimpleFTPSClient& ftp, const std::string& expected) {
    std::vector<std::string> names;
    ftp.OnTextDataLine = [&](rtl::Component*, const std::string& line) { names.push_back(line); };
    ftp.ListNames();
    ftp.OnTextDataLine = nullptr;
    EXPECT_EQ(names, std::vector<std::string>{"f.txt"});
    rtl::MemoryStream down;
    ftp.ReceiveFile("f.txt", &down);
    EXPECT_EQ(down.Data(), expected);
}

// ---------------------------------------------------------------------------------------------
// Client certificates: vsftpd with require_cert

struct ClientCertificateCase {
    const char* name;
    Offer offer;
    bool reuse;  // data connections resume the control connection's session
};

class FTPSClientCertificate : public ::testing::TestWithParam<ClientCertificateCase> {};

TEST_P(FTPSClientCertificate, ForVsftpdDemandingOne) {
    const ClientCertificateCase& c = GetParam();
    ASSERT_TRUE(TrustTestCA());
    FtpRoot root;
    VsFtpd server(root, VsFtpdTls("require_cert=YES\nvalidate_cert=YES\nca_certs_file=" + Cert("trust.pem") +
                                  "\nrequire_ssl_reuse=" + (c.reuse ? "YES" : "NO") + "\n"));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    root.Add("pub/f.txt", "client certificate\n");
    TElSimpleFTPSClient ftp;
    Protected(ftp, server.Port(), "anonymous", "");
    ftp.UseSSLSessionResumption = c.reuse;
    TElMemoryCertStorage storage;
    std::unique_ptr<TElX509Certificate> own;
    Heard heard;
    int asked = 0;
    switch (c.offer) {
        case Offer::None:
            break;
        case Offer::Storage:
            storage.Add(LoadWithKey("client").get(), true);
            storage.Add(LoadPem("int.pem").get(), false);
            ftp.SetClientCertStorage(&storage);
            break;
        case Offer::NeededEx:
            own = LoadWithKey("client");
            // One certificate, then the end of the list, for each handshake that asks.
            ftp.OnCertificateNeededEx = [&](rtl::Component* sender, TElX509Certificate*& certificate) {
                heard.senders.push_back(sender);
                certificate = asked++ % 2 == 0 ? own.get() : nullptr;
            };
            break;
    }
    ftp.OnSSLError = [&](rtl::Component* sender, int32_t code, bool, bool) {
        heard.senders.push_back(sender);
        heard.errors.push_back(code);
    };
    ftp.Open();
    if (c.offer == Offer::None) {
        EXPECT_EQ(ThrownMessage([&] { ftp.Login(); }), SFTPSForcingSSLError);
        // The server's alert: no certificate, no session.
        EXPECT_EQ(heard.errors.size(), 1u);
        EXPECT_TRUE(heard.AllFrom(ftp));
        return;
    }
    ftp.Login();
    ftp.ChangeDirectory("pub");
    ListAndDownload(ftp, "client certificate\n");
    EXPECT_TRUE(heard.errors.empty());
    EXPECT_TRUE(heard.AllFrom(ftp));
    if (c.offer == Offer::NeededEx) {
        // The control connection asked; data connections that resume their session do not,
        // the others ask as the control connection did.
        EXPECT_EQ(asked, c.reuse ? 2 : 6);
    }
}

// A server that refuses the control handshake closes at once, and the rest of our flight meets
// a reset connection: the handshake still ends with the server's refusal.
TEST(FTPSClientCertificate, TheRefusalOfAServerThatClosesAtOnce) {
    ASSERT_TRUE(TrustTestCA());
    ScriptPeer server(Script().Send(RefusingServerFlight()).Close().Json());
    KW_REQUIRE_SCRIPT_PEER(server);
    TElSimpleFTPSClient ftp;
    ftp.SetAddress("localhost");
    ftp.SetPort(server.Port());
    ftp.SSLMode = smImplicit;
    std::vector<int32_t> errors;
    ftp.OnSSLError = [&](rtl::Component*, int32_t code, bool, bool remote) {
        EXPECT_TRUE(remote);
        errors.push_back(code);
    };
    EXPECT_EQ(ThrownMessage([&] { ftp.Open(); }), SFTPSCannotNegotiateSSL);
    EXPECT_EQ(errors, std::vector<int32_t>{SSLAlertIndexToErrorCode(SSLAlertHandshakeFailure)});
}

INSTANTIATE_TEST_SUITE_P(
    Offers, FTPSClientCertificate,
    ::testing::Values(ClientCertificateCase{"None", Offer::None, true},
                      ClientCertificateCase{"FromClientCertStorage", Offer::Storage, true},
                      ClientCertificateCase{"FromOnCertificateNeededEx", Offer::NeededEx, true},
                      ClientCertificateCase{"FromClientCertStorageWithoutReuse", Offer::Storage, false},
                      ClientCertificateCase{"FromOnCertificateNeededExWithoutReuse", Offer::NeededEx, false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// The server's certificates: proftpd, data connections making full handshakes

struct ValidationCase {
    const char* name;
    bool bundleTrusts;   // the system bundle holds the test CA
    bool storageTrusts;  // CertStorage holds the test CA
    bool disabled;       // VerifyPeerDisabled
    Verdict verdict;
    int from;  // the handler's verdict from this call on: 0 the control connection, 2 the first data one
    const char* failure;  // where it ends: nullptr none, else the message of Login or of the listing
    bool atLogin;
};

class FTPSServerCertificate : public ::testing::TestWithParam<ValidationCase> {};

TEST_P(FTPSServerCertificate, CheckedOnEveryConnection) {
    const ValidationCase& c = GetParam();
    ASSERT_FALSE(TlsCertificates().empty());
    TestBundle bundle(c.bundleTrusts);
    FtpRoot root;
    root.Add("f.txt", "server certificate\n");
    ProFtpd server(root, ProFtpdTls(false, "server-rsa", "  TLSOptions NoSessionReuseRequired\n"));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    TElSimpleFTPSClient ftp;
    Protected(ftp, server.Port(), "kw", "secret");
    ftp.UseSSLSessionResumption = false;
    TElMemoryCertStorage trusted;
    if (c.storageTrusts) {
        trusted.Add(LoadPem("ca.pem").get(), false);
        ftp.SetCertStorage(&trusted);
    }
    ftp.SetVerifyPeerDisabled(c.disabled);
    Heard heard;
    std::vector<std::string> seen;
    if (c.verdict != Verdict::Unassigned)
        ftp.OnCertificateValidate = [&](rtl::Component* sender, TElX509Certificate* certificate,
                                        bool& validate) {
            heard.senders.push_back(sender);
            seen.push_back(certificate->GetSubjectName().CommonName);
            if (int(seen.size()) > c.from) Apply(c.verdict, validate);
        };
    int extensions = 0;
    ftp.OnExtensionsReceived = [&](rtl::Component* sender) {
        heard.senders.push_back(sender);
        extensions++;
    };
    ftp.OnSSLError = [&](rtl::Component* sender, int32_t code, bool, bool) {
        heard.senders.push_back(sender);
        heard.errors.push_back(code);
    };
    ftp.Open();
    const std::string loginFailure = ThrownMessage([&] { ftp.Login(); });
    if (c.failure != nullptr && c.atLogin) {
        EXPECT_EQ(loginFailure, c.failure);
    } else {
        ASSERT_EQ(loginFailure, "(no exception)");
        if (c.failure == nullptr) {
            ListAndDownload(ftp, "server certificate\n");
            // The control connection and two data connections: each hello's extensions, each
            // chain's two certificates.
            EXPECT_EQ(extensions, 3);
            if (c.verdict != Verdict::Unassigned) {
                EXPECT_EQ(seen.size(), 6u);
            }
        } else {
            EXPECT_EQ(ThrownMessage([&] { ftp.ListNames(); }), c.failure);
            // The control connection carries on.
            ftp.ChangeDirectory("/");
        }
    }
    EXPECT_TRUE(heard.AllFrom(ftp));
    if (c.failure != nullptr) {
        // The engine's own refusal of the certificate, whatever the handler did.
        const int32_t expected = SSLAlertIndexToErrorCode(
            c.bundleTrusts || c.storageTrusts || c.disabled ? SSLAlertBadCertificate : SSLAlertUnknownCA);
        EXPECT_EQ(heard.errors, std::vector<int32_t>{expected});
    } else {
        EXPECT_TRUE(heard.errors.empty());
    }
    if (c.verdict != Verdict::Unassigned && !seen.empty()) {
        EXPECT_EQ(seen[0], "kw tls intermediate");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FTPSServerCertificate,
    ::testing::Values(
        ValidationCase{"SeesEveryCertificate", true, false, false, Verdict::Keep, 0, nullptr, false},
        ValidationCase{"RefusesTheControlConnection", true, false, false, Verdict::Refuse, 0,
                       SFTPSForcingSSLError, true},
        ValidationCase{"RaisingRefusesTheControlConnection", true, false, false, Verdict::Raise, 0,
                       SFTPSForcingSSLError, true},
        ValidationCase{"RefusesADataConnection", true, false, false, Verdict::Refuse, 2, SFTPSDataSSLError,
                       false},
        ValidationCase{"RaisingRefusesADataConnection", true, false, false, Verdict::Raise, 2,
                       SFTPSDataSSLError, false},
        ValidationCase{"CannotOverturnARefusal", false, false, false, Verdict::Accept, 0,
                       SFTPSForcingSSLError, true},
        ValidationCase{"OverturnsWithVerifyPeerDisabled", false, false, true, Verdict::Accept, 0, nullptr,
                       false},
        ValidationCase{"PrivateCAInCertStorage", false, true, false, Verdict::Keep, 0, nullptr, false},
        ValidationCase{"PrivateCAUnknown", false, false, false, Verdict::Unassigned, 0, SFTPSForcingSSLError,
                       true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// openssl s_server as the control connection of an implicit-TLS server: what the test writes
// to its input reaches the client, and a line "r" renegotiates.

std::vector<std::string> ControlServer(std::vector<std::string> extra) {
    std::vector<std::string> a = {"s_server", "-accept", "127.0.0.1:{PORT}", "-tls1_2"};
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
}

void Implicit(TElSimpleFTPSClient& ftp, int port) {
    ftp.SetAddress("localhost");
    ftp.SetPort(port);
    ftp.SetVersions(VersionBit(sbTLS12));
    ftp.SSLMode = smImplicit;
}

TEST(FTPSClientControlEvents, StatusExtensionsAndRenegotiation) {
    ASSERT_TRUE(TrustTestCA());
    ServerProcess server("openssl", ControlServer({"-cert", Cert("server-rsa.pem"), "-key",
                                                   Cert("server-rsa.key"), "-cert_chain", Cert("int.pem"),
                                                   "-status_file", Cert("server-rsa-ocsp.der")}));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    TElSimpleFTPSClient ftp;
    Implicit(ftp, server.Port());
    ftp.Extensions().CertificateStatus.Enabled = true;
    Heard heard;
    std::vector<std::string> stapled;
    bool statusAgreed = false;
    int negotiated = 0;
    ftp.OnCertificateStatus = [&](rtl::Component* sender, TSBCertificateStatusType type,
                                  const ByteArray& data) {
        heard.senders.push_back(sender);
        EXPECT_EQ(type, cstOCSP);
        stapled.emplace_back(data.begin(), data.end());
    };
    ftp.OnExtensionsReceived = [&](rtl::Component* sender) {
        heard.senders.push_back(sender);
        statusAgreed = ftp.PeerExtensions().CertificateStatus.Enabled;
    };
    ftp.OnCiphersNegotiated = [&](rtl::Component* sender) {
        heard.senders.push_back(sender);
        negotiated++;
    };
    ftp.Open();
    EXPECT_TRUE(statusAgreed);
    ASSERT_EQ(stapled.size(), 1u);
    EXPECT_EQ(stapled[0], ReadFile(Cert("server-rsa-ocsp.der")));
    EXPECT_EQ(negotiated, 0);
    // The renegotiation runs while the client looks for the greeting.
    server.Input("r\n");
    ASSERT_TRUE(Eventually(
        [&] {
            EXPECT_EQ(ftp.ReadReply(false), 0);
            return negotiated > 0;
        },
        std::chrono::seconds(60)))
        << server.Log();
    server.Input("220 kw\r\n");
    EXPECT_EQ(ftp.ReadReply(true), 220);
    EXPECT_EQ(negotiated, 1);
    EXPECT_FALSE(heard.senders.empty());
    EXPECT_TRUE(heard.AllFrom(ftp));
}

TEST(FTPSClientControlEvents, PreSharedKeyFromOnKeyNeeded) {
    ServerProcess server(
        "openssl", ControlServer({"-nocert", "-psk", kTestPSKHex, "-psk_identity", "client1", "-psk_hint",
                                  "kw ftp", "-cipher", "PSK-AES128-CBC-SHA:@SECLEVEL=0"}));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    TElSimpleFTPSClient ftp;
    Implicit(ftp, server.Port());
    constexpr uint8_t kPSKWithAES128 = 58;
    ftp.SetSuiteEnabled(kPSKWithAES128, true);
    EXPECT_TRUE(ftp.GetSuiteEnabled(kPSKWithAES128));
    std::vector<std::string> hints;
    std::vector<rtl::Component*> senders;
    ftp.OnKeyNeeded = [&](rtl::Component* sender, const std::string& hint, std::string& identity,
                          ByteArray& key) {
        senders.push_back(sender);
        hints.push_back(hint);
        identity = "client1";
        key = FromHex(kTestPSKHex);
    };
    ftp.Open();
    server.Input("220 psk\r\n");
    EXPECT_EQ(ftp.ReadReply(true), 220);
    EXPECT_EQ(hints, std::vector<std::string>{"kw ftp"});
    EXPECT_EQ(senders, std::vector<rtl::Component*>{&ftp});
}

}  // namespace
