// Tests of the OpenSSL transport: the binding, verification against openssl s_server, versions
// and ciphers refused, client certificates, a scripted TLS peer (one large record, a reset, a
// close_notify, STARTTLS), the server handler with openssl s_client, and HTTPS through the
// HTTP client against lighttpd, also through tinyproxy's CONNECT.
#include "net/IdSSLOpenSSL.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>

#include "net/IdHTTP.h"
#include "net/IdSocks.h"
#include "net/IdTCPClient.h"
#include "rtl/Stream.h"
#include "support/TestSupport.h"
#include "tests/net/HttpServers.h"
#include "tests/net/NetTestSupport.h"
#include "tests/net/TlsPeers.h"

namespace {

using kwtest::SServer;
using kwtest::TestCertificates;

// A TCP client with a TLS handler the test keeps.
struct TlsClient {
    TIdSSLIOHandlerSocketOpenSSL io;
    TIdTCPClient client;
    TlsClient(const std::string& host, int port) {
        client.SetIOHandler(&io);
        client.SetHost(host);
        client.SetPort(port);
    }
    std::string Exchange(const std::string& line) {
        client.IOHandler()->WriteLine(line);
        return client.IOHandler()->ReadLn();
    }
};

TEST(IdSSLOpenSSL, Tls12And13ConnectAndExchangeLines) {
    TestCertificates certs;
    KW_REQUIRE_PEER(certs.Available(), "openssl (certificates)");
    for (const char* version : {"-tls1_2", "-tls1_3"}) {
        SCOPED_TRACE(version);
        SServer server(certs, "server", {version});
        KW_REQUIRE_PEER(server.Available(), server.Reason());
        TlsClient c("localhost", server.Port());
        c.io.SSLOptions().RootCertFile = certs.Path("ca.pem");
        std::vector<std::string> status;
        c.io.OnStatusInfo = [&](const std::string& s) { status.push_back(s); };
        c.client.Connect();
        EXPECT_EQ(c.Exchange("hello tls"), "slt olleh");
        ASSERT_NE(c.io.SSLSocket(), nullptr);
        EXPECT_EQ(c.io.SSLSocket()->CipherView()->CipherVersion(), std::string(version) == "-tls1_2" ? "TLSv1.2" : "TLSv1.3");
        const auto cipher = std::find_if(status.begin(), status.end(),
                                         [](const std::string& s) { return s.rfind("Cipher: name = ", 0) == 0; });
        ASSERT_NE(cipher, status.end());
        EXPECT_EQ(cipher->substr(cipher->size() - 2), "; ");
        EXPECT_NE(std::find(status.begin(), status.end(), "SSL status: \"SSL negotiation finished successfully\""),
                  status.end());
        c.client.Disconnect();
    }
}

struct VerifyCase {
    const char* name;
    const char* cert;
    std::function<void(TIdSSLIOHandlerSocketOpenSSL&, const TestCertificates&)> setUp;
    const char* failure;  // nullptr: connects
};

TEST(IdSSLOpenSSL, VerificationTable) {
    TestCertificates certs;
    KW_REQUIRE_PEER(certs.Available(), "openssl (certificates)");
    const auto trustCa = [](TIdSSLIOHandlerSocketOpenSSL& io, const TestCertificates& c) {
        io.SSLOptions().RootCertFile = c.Path("ca.pem");
    };
    const VerifyCase cases[] = {
        {"trusted", "server", trustCa, nullptr},
        {"untrusted (its CA is not trusted)", "server", [](auto&, auto&) {}, "self-signed certificate in certificate chain"},
        {"wrong name", "other", trustCa, "hostname mismatch"},
        {"expired", "expired", trustCa, "certificate has expired"},
        {"self-signed", "self", trustCa, "self-signed certificate"},
        {"switch set", "self", [](auto& io, auto&) { io.SSLOptions().VerifyPeerDisabled = true; }, nullptr},
        {"OnVerifyPeer refusing", "server",
         [&](auto& io, auto& c) {
             trustCa(io, c);
             io.OnVerifyPeer = [](TIdX509& x) { return x.Depth != 0; };
         },
         "application verification failure"},
        {"OnVerifyPeer cannot accept a refusal", "self", [](auto& io, auto&) { io.OnVerifyPeer = [](TIdX509&) { return true; }; },
         "self-signed certificate"},
        {"explicit mode, depth 0 refuses the chain", "server",
         [&](auto& io, auto& c) {
             trustCa(io, c);
             io.SSLOptions().VerifyMode = VerifyModeBit(sslvrfPeer);
             io.SSLOptions().VerifyDepth = 0;
             io.OnVerifyPeer = [](TIdX509&) { return true; };
         },
         "certificate verify failed"},
        {"explicit mode, depth 1 accepts it", "server",
         [&](auto& io, auto& c) {
             trustCa(io, c);
             io.SSLOptions().VerifyMode = VerifyModeBit(sslvrfPeer);
             io.SSLOptions().VerifyDepth = 1;
             io.OnVerifyPeer = [](TIdX509&) { return true; };
         },
         nullptr},
    };
    for (const VerifyCase& vc : cases) {
        SCOPED_TRACE(vc.name);
        SServer server(certs, vc.cert);
        KW_REQUIRE_PEER(server.Available(), server.Reason());
        TlsClient c("localhost", server.Port());
        vc.setUp(c.io, certs);
        if (vc.failure == nullptr) {
            c.client.Connect();
            EXPECT_EQ(c.Exchange("abc"), "cba");
            continue;
        }
        try {
            c.client.Connect();
            ADD_FAILURE() << "connected";
        } catch (const EIdOSSLConnectError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Error connecting with SSL.", 0), 0u);
            EXPECT_NE(std::string(e.what()).find(vc.failure), std::string::npos) << vc.name << ": " << e.what();
        }
        EXPECT_FALSE(c.client.IsConnected());
    }
}

// A host written as an address in any spelling the resolver reads is that address: only the
// certificate's IP addresses name it, never a DNS name that reads like it.
TEST(IdSSLOpenSSL, HostsWrittenAsAddressesAreCheckedAsAddresses) {
    TestCertificates certs;
    KW_REQUIRE_PEER(certs.Available() && certs.Issue("address", "kw address", "IP:127.0.0.1") &&
                        certs.Issue("wild-address", "kw wild address", "DNS:*.0.0.1"),
                    "openssl (certificates)");
    const struct {
        const char* cert;
        const char* host;
        const char* failure;  // nullptr: connects
    } cases[] = {
        {"address", "127.0.0.1", nullptr},
        {"address", "127.1", nullptr},
        {"address", "0x7f.0.0.1", nullptr},
        {"address", "2130706433", nullptr},
        {"address", "0177.0.0.1", nullptr},
        {"address", "localhost", "hostname mismatch"},
        {"wild-address", "0x7f.0.0.1", "IP address mismatch"},
        {"wild-address", "0177.0.0.1", "IP address mismatch"},
        {"wild-address", "127.1", "IP address mismatch"},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(std::string(tc.cert) + " at " + tc.host);
        SServer server(certs, tc.cert);
        KW_REQUIRE_PEER(server.Available(), server.Reason());
        TlsClient c(tc.host, server.Port());
        c.io.SSLOptions().RootCertFile = certs.Path("ca.pem");
        if (tc.failure == nullptr) {
            c.client.Connect();
            EXPECT_EQ(c.Exchange("abc"), "cba");
            c.client.Disconnect();
            continue;
        }
        try {
            c.client.Connect();
            ADD_FAILURE() << "connected";
        } catch (const EIdOSSLConnectError& e) {
            EXPECT_NE(std::string(e.what()).find(tc.failure), std::string::npos) << e.what();
        }
        EXPECT_FALSE(c.client.IsConnected());
    }
}

TEST(IdSSLOpenSSL, OldVersionsAndNullCiphersAreRefused) {
    TestCertificates certs;
    KW_REQUIRE_PEER(certs.Available(), "openssl (certificates)");
    SServer tls10(certs, "server", {"-tls1", "-cipher", "DEFAULT:@SECLEVEL=0"});
    SServer nullCipher(certs, "server", {"-tls1_2", "-cipher", "eNULL:@SECLEVEL=0"});
    KW_REQUIRE_PEER(tls10.Available() && nullCipher.Available(), "openssl s_server");
    for (TIdSSLVersion method : {sslvSSLv2, sslvSSLv23, sslvSSLv3, sslvTLSv1}) {
        TlsClient c("localhost", tls10.Port());
        c.io.SSLOptions().RootCertFile = certs.Path("ca.pem");
        c.io.SSLOptions().Method = method;
        EXPECT_THROW(c.client.Connect(), EIdOSSLConnectError) << int(method);
    }
    for (const char* list : {"", "eNULL:NULL"}) {
        TlsClient c("localhost", nullCipher.Port());
        c.io.SSLOptions().RootCertFile = certs.Path("ca.pem");
        c.io.SSLOptions().CipherList = list;
        EXPECT_THROW(c.client.Connect(), EIdOpenSSLError) << list;
    }
    TlsClient bad("localhost", nullCipher.Port());
    bad.io.SSLOptions().CipherList = "NO-SUCH-CIPHER";
    EXPECT_EQ(kwtest::ThrownMessage([&] { bad.client.Connect(); }).rfind("SetCipher failed.", 0), 0u);
}

TEST(IdSSLOpenSSL, ClientCertificateWithAnEncryptedKey) {
    TestCertificates certs;
    KW_REQUIRE_PEER(certs.Available(), "openssl (certificates)");
    SServer server(certs, "server", {"-Verify", "1"});
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    const auto attempt = [&](const std::string& password) {
        TlsClient c("localhost", server.Port());
        c.io.SSLOptions().RootCertFile = certs.Path("ca.pem");
        c.io.SSLOptions().CertFile = certs.Path("client.pem");
        c.io.SSLOptions().KeyFile = certs.Path("client.key");
        c.io.OnGetPassword = [password](std::string& p) { p = password; };
        c.client.Connect();
        return c.Exchange("with client cert");
    };
    EXPECT_EQ(attempt("client-secret"), "trec tneilc htiw");
    EXPECT_EQ(kwtest::ThrownMessage([&] { attempt("wrong"); }).rfind("Could not load key, check password.", 0), 0u);
    // Longer than OpenSSL's password buffer: refused, never copied past it.
    EXPECT_EQ(kwtest::ThrownMessage([&] { attempt(std::string(5000, 'p')); }).rfind("Could not load key, check password.", 0),
              0u);
}

// A TLS client (trusting the test CA) and the scripted TLS peer in a mode, not yet connected.
struct ScriptedTls {
    TestCertificates certs;
    kwtest::TlsScriptPeer peer;
    TlsClient client;
    explicit ScriptedTls(const std::string& mode) : peer(certs, mode), client("localhost", peer.Port()) {
        client.io.SSLOptions().RootCertFile = certs.Path("ca.pem");
    }
    bool Available() const { return certs.Available() && peer.Available(); }
    std::string Reason() const { return certs.Available() ? peer.Reason() : "openssl (certificates)"; }
};

TEST(IdSSLOpenSSL, AWholeRecordIsReadBeforeWaitingAgain) {
    ScriptedTls t("record16k");
    KW_REQUIRE_PEER(t.Available(), t.Reason());
    TlsClient& c = t.client;
    c.io.RecvBufferSize = 512;
    c.client.Connect();
    // The peer stays silent after its one record: every piece after the first must come from
    // what OpenSSL decrypted already, or a read would end in the time-out.
    c.io.ReadTimeout = 30000;
    TBytes bytes;
    c.io.ReadIntoBytes(bytes, 16384, false);
    EXPECT_EQ(bytes.size(), 16384u);
    EXPECT_TRUE(c.io.InputBufferIsEmpty());
}

TEST(IdSSLOpenSSL, RecordsThatCameWithOneReceiveAreReadBeforeWaitingAgain) {
    ScriptedTls t("records");
    KW_REQUIRE_PEER(t.Available(), t.Reason());
    TlsClient& c = t.client;
    c.client.Connect();
    // The peer sent three records at once and waits for a line from us: the second and third
    // lie in what OpenSSL received ahead, and a read that waited on the socket instead would
    // end in the time-out.
    c.io.ReadTimeout = 30000;
    EXPECT_EQ(c.io.ReadLn(), "one");
    EXPECT_EQ(c.io.ReadLn(), "two");
    EXPECT_EQ(c.io.ReadLn(), "three");
    c.io.WriteLine("done");
}

TEST(IdSSLOpenSSL, AResetDuringAWriteIsASocketError) {
    ScriptedTls t("reset");
    KW_REQUIRE_PEER(t.Available(), t.Reason());
    TlsClient& c = t.client;
    c.client.Connect();
    c.io.WriteLine("go");
    const std::string block(1 << 20, 'w');
    EXPECT_THROW(
        {
            for (int i = 0; i < 256; ++i) c.io.WriteText(block);
        },
        EIdSocketError);
    EXPECT_FALSE(c.io.IsOpen);  // and the process is still here: no SIGPIPE
}

TEST(IdSSLOpenSSL, CloseNotifyIsAGracefulClose) {
    ScriptedTls t("close_notify");
    KW_REQUIRE_PEER(t.Available(), t.Reason());
    TlsClient& c = t.client;
    c.client.Connect();
    EXPECT_EQ(c.io.ReadLn(), "bye");
    EXPECT_THROW(c.io.ReadLn(), EIdConnClosedGracefully);
}

TEST(IdSSLOpenSSL, PassThroughThenTlsOnALiveConnection) {
    ScriptedTls t("starttls");
    KW_REQUIRE_PEER(t.Available(), t.Reason());
    TlsClient& c = t.client;
    c.io.SetPassThrough(true);
    c.client.Connect();
    EXPECT_EQ(c.Exchange("STARTTLS"), "go");
    EXPECT_EQ(c.io.SSLSocket(), nullptr);
    c.io.SetPassThrough(false);  // the handshake on the live socket
    ASSERT_NE(c.io.SSLSocket(), nullptr);
    EXPECT_EQ(c.Exchange("secret"), "tls:secret");
}

// Runs f on a thread of its own and passes on what it raised. A call that has not returned
// within the watchdog ends the test program with a message: a hang cannot be undone from here,
// and nothing is asserted about how long the call took.
template <typename F>
void ReturnsWithinWatchdog(F f) {
    auto call = std::async(std::launch::async, f);
    if (call.wait_for(std::chrono::minutes(3)) != std::future_status::ready) {
        std::fprintf(stderr, "a TLS call never returned: its waits are not bounded\n");
        std::fflush(stderr);
        std::_Exit(1);
    }
    call.get();
}

struct StallCase {
    const char* name;
    int32_t readTimeout;
    int32_t connectTimeout;
    bool overHttp;
    std::function<bool(const std::exception&)> isExpected;
};

TEST(IdSSLOpenSSL, AServerThatNeverAnswersTheHelloTimesOut) {
    const auto readTimeout = [](const std::exception& e) {
        return dynamic_cast<const EIdReadTimeout*>(&e) != nullptr;
    };
    const auto connectTimeout = [](const std::exception& e) {
        return dynamic_cast<const EIdConnectTimeout*>(&e) != nullptr;
    };
    const StallCase cases[] = {
        {"ReadTimeout bounds each wait", 200, 0, false, readTimeout},
        {"ConnectTimeout bounds the handshake", 0, 300, false, connectTimeout},
        {"the shorter bound wins", 60000, 300, false, connectTimeout},
        {"HTTPS with ReadTimeout", 200, 0, true, readTimeout},
        {"HTTPS with ConnectTimeout", 0, 300, true, connectTimeout},
    };
    for (const StallCase& c : cases) {
        SCOPED_TRACE(c.name);
        kwtest::LoopbackListener silent;  // takes the connection and the ClientHello, answers nothing
        TIdSSLIOHandlerSocketOpenSSL io;
        io.SSLOptions().VerifyPeerDisabled = true;
        const std::string message = kwtest::ThrownMessage([&] {
            ReturnsWithinWatchdog([&] {
                try {
                    if (c.overHttp) {
                        TIdHTTP http;
                        http.SetIOHandler(&io);
                        http.SetReadTimeout(c.readTimeout);
                        http.SetConnectTimeout(c.connectTimeout);
                        rtl::MemoryStream body;
                        http.Get("https://localhost:" + std::to_string(silent.Port()) + "/", body);
                    } else {
                        TIdTCPClient client;
                        client.SetIOHandler(&io);
                        client.SetHost("localhost");
                        client.SetPort(silent.Port());
                        client.SetReadTimeout(c.readTimeout);
                        client.SetConnectTimeout(c.connectTimeout);
                        client.Connect();
                    }
                } catch (const std::exception& e) {
                    EXPECT_TRUE(c.isExpected(e)) << e.what();
                    throw;
                }
            });
        });
        EXPECT_NE(message, "(no exception)");
        EXPECT_EQ(silent.Connections(), 1);
        EXPECT_FALSE(io.IsOpen);
    }
}

TEST(IdSSLOpenSSL, AReadStalledInsideARecordTimesOutAndTheConnectionGoesOn) {
    ScriptedTls t("split_record");
    KW_REQUIRE_PEER(t.Available(), t.Reason());
    TlsClient& c = t.client;
    c.client.Connect();
    // The peer sent ten bytes of a record and waits for a line from us: the read cannot end
    // but by its time-out.
    c.io.ReadTimeout = 200;
    EXPECT_THROW(ReturnsWithinWatchdog([&] { c.io.ReadLn(); }), EIdReadTimeout);
    EXPECT_TRUE(c.io.IsOpen);
    c.io.ReadTimeout = 60000;  // from here only a bound against a broken read
    c.io.WriteLine("more");
    EXPECT_EQ(c.io.ReadLn(), "hello world");
}

// The server handler with the "localhost" certificate and a socket listening on 127.0.0.1.
struct TlsServerOnLoopback {
    kwtest::StackHolder stack;
    TIdServerIOHandlerSSLOpenSSL server;
    TIdSocketHandle listening;
    explicit TlsServerOnLoopback(const TestCertificates& certs) {
        server.SSLOptions().CertFile = certs.Path("server.pem");
        server.SSLOptions().KeyFile = certs.Path("server.key");
        listening.AllocateSocket(Id_SOCK_STREAM, 0);
        listening.IP = "127.0.0.1";
        listening.Port = 0;
        listening.Bind();
        listening.Listen(4);
    }
};

TEST(IdSSLOpenSSL, AnAcceptedConnectionThatSaysNothingTimesOut) {
    TestCertificates certs;
    KW_REQUIRE_PEER(certs.Available(), "openssl (certificates)");
    TlsServerOnLoopback loopback(certs);
    TIdServerIOHandlerSSLOpenSSL& server = loopback.server;
    TIdSocketHandle& listening = loopback.listening;
    TIdTCPClient silent;  // connects and never starts TLS
    silent.SetHost("127.0.0.1");
    silent.SetPort(listening.Port);
    silent.Connect();
    std::unique_ptr<TIdIOHandler> accepted = server.AcceptClient(listening);
    ASSERT_NE(accepted, nullptr);
    auto* tls = dynamic_cast<TIdSSLIOHandlerSocketOpenSSL*>(accepted.get());
    ASSERT_NE(tls, nullptr);
    tls->ReadTimeout = 200;
    EXPECT_THROW(ReturnsWithinWatchdog([&] { tls->SetPassThrough(false); }), EIdReadTimeout);
}

struct TrustCase {
    const char* name;
    const char* systemFile;  // SSL_CERT_FILE: the server's CA, or "empty"
    bool startTls;           // plain first (the scripted peer), TLS on the live connection later
    const char* failure;     // nullptr: connects
};

TEST(IdSSLOpenSSL, TheSystemStoreIsTrustedFromTheHandshakeOn) {
    TestCertificates certs;
    KW_REQUIRE_PEER(certs.Available(), "openssl (certificates)");
    kwtest::TempDir dir;
    kwtest::WriteFile(dir / "empty.pem", "");
    const TrustCase cases[] = {
        {"the CA in the system's file", "ca.pem", false, nullptr},
        {"a system file without it", "empty", false, "self-signed certificate in certificate chain"},
        {"the CA in the system's file, TLS started later", "ca.pem", true, nullptr},
        {"a system file without it, TLS started later", "empty", true,
         "unable to get local issuer certificate"},
    };
    for (const TrustCase& tc : cases) {
        SCOPED_TRACE(tc.name);
        std::unique_ptr<SServer> server;
        std::unique_ptr<ScriptedTls> scripted;
        TIdSSLIOHandlerSocketOpenSSL io;
        TIdTCPClient client;
        client.SetIOHandler(&io);
        client.SetHost("localhost");
        const TestCertificates* issuer = &certs;
        if (tc.startTls) {
            scripted = std::make_unique<ScriptedTls>("starttls");
            KW_REQUIRE_PEER(scripted->Available(), scripted->Reason());
            issuer = &scripted->certs;  // the scripted peer's certificates are its own
            client.SetPort(scripted->peer.Port());
            io.SetPassThrough(true);
        } else {
            server = std::make_unique<SServer>(certs, "server");
            KW_REQUIRE_PEER(server->Available(), server->Reason());
            client.SetPort(server->Port());
        }
        const kwtest::ScopedEnv system("SSL_CERT_FILE", std::string(tc.systemFile) == "empty"
                                                            ? (dir / "empty.pem").string()
                                                            : issuer->Path(tc.systemFile));
        const std::string outcome = kwtest::ThrownMessage([&] {
            client.Connect();
            if (tc.startTls) {
                io.WriteLine("STARTTLS");
                EXPECT_EQ(io.ReadLn(), "go");
                io.SetPassThrough(false);  // the handshake, with the system's certificates
            }
            io.WriteLine("abc");
            EXPECT_EQ(io.ReadLn(), tc.startTls ? "tls:abc" : "cba");
        });
        if (tc.failure == nullptr)
            EXPECT_EQ(outcome, "(no exception)");
        else
            EXPECT_NE(outcome.find(tc.failure), std::string::npos) << outcome;
    }
}

TEST(IdSSLOpenSSL, APlainConnectionThroughTheTlsHandlerStillMakesItsContext) {
    // The context (and its root certificate file) comes with the connection, TLS or not.
    ScriptedTls t("starttls");
    KW_REQUIRE_PEER(t.Available(), t.Reason());
    TlsClient& c = t.client;
    c.io.SSLOptions().RootCertFile = t.certs.Path("no-such-file.pem");
    c.io.SetPassThrough(true);
    EXPECT_EQ(kwtest::ThrownMessage([&] { c.client.Connect(); }).rfind("Could not load root certificate.", 0),
              0u);
}

TEST(IdSSLOpenSSL, CloseThenOpenMakesAFreshContextAndHandshake) {
    TestCertificates certs;
    KW_REQUIRE_PEER(certs.Available(), "openssl (certificates)");
    SServer server(certs, "server");
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    TlsClient c("localhost", server.Port());
    c.io.SSLOptions().RootCertFile = certs.Path("ca.pem");
    c.client.Connect();
    EXPECT_EQ(c.Exchange("one"), "eno");
    const int32_t contexts = TIdSSLContext::ContextCount();
    c.client.Disconnect();
    EXPECT_EQ(c.io.SSLContext(), nullptr);
    EXPECT_EQ(c.io.SSLSocket(), nullptr);
    c.client.Connect();
    EXPECT_EQ(TIdSSLContext::ContextCount(), contexts + 1);
    EXPECT_EQ(c.Exchange("two"), "owt");
}

TEST(IdSSLOpenSSL, TheServerHandlerServesOpensslSClient) {
    TestCertificates certs;
    KW_REQUIRE_PEER(certs.Available(), "openssl (certificates)");
    TlsServerOnLoopback loopback(certs);
    TIdServerIOHandlerSSLOpenSSL& server = loopback.server;
    TIdSocketHandle& listening = loopback.listening;
    kwtest::TempDir dir;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        kwtest::WriteFile(dir / "in", "ping\n");
        plat::ProcessOptions options;
        options.output = plat::ProcessOutput::File;
        options.outputFile = (dir / ("out" + std::to_string(round))).string();
        // s_client reads "ping" from its input file (started through a shell only to redirect it).
        const std::string command = "exec openssl s_client -quiet -connect 127.0.0.1:" +
                                    std::to_string(listening.Port) + " < " + (dir / "in").string();
        const plat::ProcessResult client = plat::StartProcess("/bin/sh", {"-c", command}, options);
        std::unique_ptr<TIdIOHandler> accepted = server.AcceptClient(listening);
        ASSERT_NE(accepted, nullptr);
        auto* tls = dynamic_cast<TIdSSLIOHandlerSocketOpenSSL*>(accepted.get());
        ASSERT_NE(tls, nullptr);
        EXPECT_TRUE(tls->PassThrough());
        tls->AfterAccept();  // with pass-through on, the connection stays plain
        EXPECT_EQ(tls->SSLSocket()->Handle(), nullptr);
        tls->SetPassThrough(false);  // the server handshake
        EXPECT_FALSE(tls->PassThrough());
        EXPECT_EQ(tls->ReadLn(), "ping");
        tls->WriteLine("pong");
        accepted.reset();  // closes the connection; the server's options and context stay
        ASSERT_NE(server.SSLContext(), nullptr);
        EXPECT_EQ(server.SSLOptions().CertFile, certs.Path("server.pem"));
        int status = 0;
        ::waitpid(client.pid, &status, 0);
        EXPECT_NE(kwtest::ReadFile(dir / ("out" + std::to_string(round))).find("pong"), std::string::npos);
    }
}

TEST(IdSSLOpenSSLBinding, AMissingLibraryOrEntryPointFailsEveryTime) {
    struct RestoreNames {
        ~RestoreNames() { SetOpenSSLLibraryNames("libssl.so.3", "libcrypto.so.3"); }
    } restore;
    SetOpenSSLLibraryNames("libssl-that-is-not-there.so.3", "libcrypto.so.3");
    EXPECT_FALSE(BindOpenSSL());
    EXPECT_EQ(kwtest::ThrownMessage([] { TIdSSLContext context(nullptr); }), "Could not load SSL library.");

    const std::string standIn = kwtest::ProgPath("libkw_fake_libssl.so").string();
    SetOpenSSLLibraryNames(standIn, "libcrypto.so.3");
    EXPECT_FALSE(BindOpenSSL());
    EXPECT_NE(OpenSSLBindError().find("SSL_pending"), std::string::npos) << OpenSSLBindError();
    EXPECT_FALSE(BindOpenSSL());  // a second attempt is no success either
    EXPECT_FALSE(OpenSSLBound());
    EXPECT_THROW(TIdSSLContext context(nullptr), EIdOSSLCouldNotLoadSSLLibrary);

    SetOpenSSLLibraryNames("libssl.so.3", "libcrypto.so.3");
    EXPECT_TRUE(BindOpenSSL());
    EXPECT_NO_THROW(TIdSSLContext context(nullptr));
}

TEST(IdSSLOpenSSLBinding, TheTransportIsRegistered) {
    TIdSSLIOHandlerSocketOpenSSL make_sure_the_unit_is_linked;
    bool found = false;
    for (const TIdSSLRegEntry& e : SSLRegistry().Entries())
        found = found || (e.ProductName == "OpenSSL" && e.ClientHandler == &TIdSSLIOHandlerSocketOpenSSL::ClassInfo &&
                          e.ServerHandler == &TIdServerIOHandlerSSLOpenSSL::ClassInfo);
    EXPECT_TRUE(found);
}

// --- HTTPS through the HTTP client

std::string TlsExtra(const TestCertificates& certs) {
    return "server.modules += (\"mod_openssl\")\nssl.engine = \"enable\"\nssl.pemfile = \"" + certs.Path("server.pem") +
           "\"\nssl.privkey = \"" + certs.Path("server.key") + "\"\n";
}

TEST(IdSSLOpenSSLHttps, GetAndPostAgainstLighttpd) {
    TestCertificates certs;
    KW_REQUIRE_PEER(certs.Available(), "openssl (certificates)");
    kwtest::HttpSite site;
    kwtest::Lighttpd server(site, TlsExtra(certs));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    TIdSSLIOHandlerSocketOpenSSL io;
    io.SSLOptions().RootCertFile = certs.Path("ca.pem");
    TIdHTTP http;
    http.SetIOHandler(&io);
    const std::string url = "https://localhost:" + std::to_string(server.Port()) + "/files/big.bin";
    rtl::MemoryStream body;
    http.Get(url, body);
    const auto curl = kwtest::CurlGet(url, {"--cacert", certs.Path("ca.pem")});
    KW_REQUIRE_PEER(curl.has_value(), "curl");
    EXPECT_TRUE(body.Data() == *curl && body.Data() == site.bigFile);
    rtl::StringList form{"a=1"};
    EXPECT_EQ(http.Post("https://localhost:" + std::to_string(server.Port()) + "/files/a.txt", form), "hello\n");
    // The same handler goes plain for an http URL (pass-through).
    kwtest::Lighttpd plain(site);
    KW_REQUIRE_PEER(plain.Available(), plain.Reason());
    EXPECT_EQ(http.Post(plain.Url("/files/a.txt"), form), "hello\n");
}

TEST(IdSSLOpenSSLHttps, ThroughATinyproxyTunnelTheURLsHostIsChecked) {
    TestCertificates certs;
    KW_REQUIRE_PEER(certs.Available(), "openssl (certificates)");
    kwtest::HttpSite site;
    kwtest::Lighttpd server(site, TlsExtra(certs));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    kwtest::Tinyproxy proxy("pu", "pp");
    KW_REQUIRE_PEER(proxy.Available(), proxy.Reason());
    TIdSSLIOHandlerSocketOpenSSL io;
    io.SSLOptions().RootCertFile = certs.Path("ca.pem");
    TIdHTTP http;
    http.SetIOHandler(&io);
    http.ProxyParams().SetProxyServer("127.0.0.1");  // the certificate names localhost only
    http.ProxyParams().SetProxyPort(proxy.Port());
    http.ProxyParams().BasicAuthentication = true;
    http.ProxyParams().ProxyUsername = "pu";
    http.ProxyParams().ProxyPassword = "pp";
    rtl::MemoryStream body;
    http.Get("https://localhost:" + std::to_string(server.Port()) + "/files/a.txt", body);
    EXPECT_EQ(body.Data(), "hello\n");
    EXPECT_EQ(io.URIToCheck(), "https://localhost:" + std::to_string(server.Port()) + "/files/a.txt");
}

TEST(IdSSLOpenSSLHttps, TlsThroughDanteAsCurlDoes) {
    TestCertificates certs;
    KW_REQUIRE_PEER(certs.Available(), "openssl (certificates)");
    kwtest::Dante dante;
    KW_REQUIRE_PEER(dante.Available(), dante.Reason());
    SServer echo(certs, "server");
    KW_REQUIRE_PEER(echo.Available(), echo.Reason());
    for (const TSocksVersion v : {svSocks4, svSocks5}) {
        SCOPED_TRACE(int(v));
        TlsClient c("localhost", echo.Port());  // the name checked is the destination's
        c.io.SSLOptions().RootCertFile = certs.Path("ca.pem");
        kwtest::SocksOf(c.io, v, dante.Port());
        c.client.Connect();
        EXPECT_EQ(c.Exchange("through socks"), "skcos hguorht");
        c.client.Disconnect();
    }
    kwtest::HttpSite site;
    kwtest::Lighttpd server(site, TlsExtra(certs));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    TIdSSLIOHandlerSocketOpenSSL io;
    io.SSLOptions().RootCertFile = certs.Path("ca.pem");
    kwtest::SocksOf(io, svSocks5, dante.Port());
    TIdHTTP http;
    http.SetIOHandler(&io);
    const std::string url = "https://localhost:" + std::to_string(server.Port()) + "/files/big.bin";
    rtl::MemoryStream body;
    http.Get(url, body);
    const auto curl = kwtest::CurlGet(url, {"--cacert", certs.Path("ca.pem"), "--socks5-hostname",
                                            "127.0.0.1:" + std::to_string(dante.Port())});
    KW_REQUIRE_PEER(curl.has_value(), "curl");
    EXPECT_TRUE(body.Data() == *curl && body.Data() == site.bigFile);
}

TEST(IdSSLOpenSSLHttps, WithoutATLSHandlerAnHttpsURLIsRefusedThroughAProxyToo) {
    TestCertificates certs;
    KW_REQUIRE_PEER(certs.Available(), "openssl (certificates)");
    kwtest::HttpSite site;
    kwtest::Lighttpd server(site, TlsExtra(certs));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    kwtest::Tinyproxy proxy("pu", "pp");
    KW_REQUIRE_PEER(proxy.Available(), proxy.Reason());
    kwtest::LoopbackListener silent;  // a proxy that counts the connections made to it
    const std::string url = "https://localhost:" + std::to_string(server.Port()) + "/private/s.txt";
    for (int port : {proxy.Port(), int(silent.Port())}) {
        SCOPED_TRACE(port);
        TIdHTTP http;                // no IO handler: a plain one would carry the request in clear
        http.SetReadTimeout(30000);  // should the request go out, the silent proxy cannot hang the test
        http.ProxyParams().SetProxyServer("127.0.0.1");
        http.ProxyParams().SetProxyPort(port);
        http.ProxyParams().BasicAuthentication = true;
        http.ProxyParams().ProxyUsername = "pu";
        http.ProxyParams().ProxyPassword = "pp";
        http.GetRequest().BasicAuthentication = true;
        http.GetRequest().Username = "kw";
        http.GetRequest().Password = "right-password";
        rtl::MemoryStream body;
        EXPECT_THROW(http.Get(url, body), EIdIOHandlerPropInvalid);
        EXPECT_EQ(body.Size(), 0);
        // A plain stack handler set by the caller is refused the same way.
        TIdIOHandlerStack plain;
        http.SetIOHandler(&plain);
        EXPECT_THROW(http.Get(url, body), EIdIOHandlerPropInvalid);
    }
    EXPECT_EQ(silent.Connections(), 0);  // refused before connecting
}

}  // namespace
