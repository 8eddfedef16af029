// The simple SSL client's connection side: connect failures as its exceptions (a SOCKS
// refusal, an address that does not resolve, a refused port), handshakes that end with an
// error (the server's alert, a message loop that stops) as the engine's code, the state
// errors, and a plain conversation with the engine disabled, opened again after a close.
#include "tls/SBSimpleSSL.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "support/LoopbackListeners.h"
#include "support/TestSupport.h"
#include "tests/net/ScriptBuilder.h"
#include "tests/net/ScriptPeer.h"
#include "tests/net/SocksPeers.h"
#include "tests/tls/ProxyTestSupport.h"

using kwtest::Script;
using kwtest::ScriptPeer;

namespace {

// The base class with its engine switch reachable, speaking plain TCP.
class PlainClient : public TElCustomSimpleSSLClient {
public:
    PlainClient() { SetEngineEnabled(false); }
    std::string Received() const { return std::string(receiveBuffer_.begin(), receiveBuffer_.end()); }
};

TEST(SimpleSSLClient, ConnectFailuresCarryTheSocketsCode) {
    ScriptPeer socks(kwtest::Socks5RefusalScript());
    KW_REQUIRE_SCRIPT_PEER(socks);
    PlainClient viaSocks;
    kwtest::UseSocks(viaSocks, socks.Port());
    viaSocks.SetAddress("127.0.0.1");
    viaSocks.SetPort(7);
    try {
        viaSocks.Open();
        FAIL() << "no exception";
    } catch (const EElSimpleSSLClientException& e) {
        EXPECT_EQ(e.Message(), "Connection error (5)");
        EXPECT_EQ(e.ErrorCode, 0);
        EXPECT_STREQ(e.ClassName(), "EElSimpleSSLClientException");
    }
    EXPECT_FALSE(viaSocks.Active());

    PlainClient nowhere;
    nowhere.SetAddress("no-such-host.invalid");
    try {
        nowhere.Open();
        FAIL() << "no exception";
    } catch (const EElSimpleSSLClientException& e) {
        EXPECT_EQ(e.Message(), "Connection error (96260) (error code is 96260)");
        EXPECT_EQ(e.ErrorCode, 96260);
    }

    kwtest::RefusedPort refused;
    PlainClient refusedClient;
    refusedClient.SetAddress("127.0.0.1");
    refusedClient.SetPort(refused.Port());
    refusedClient.SetSocketTimeout(5000);
    EXPECT_EQ(kwtest::ThrownMessage([&] { refusedClient.Open(); }), "Connection error (10061)");
    // Without a time-out the socket answers a failed connect with -1 only.
    refusedClient.SetSocketTimeout(0);
    EXPECT_EQ(kwtest::ThrownMessage([&] { refusedClient.Open(); }), "Connection error (-1)");
    // Negative time-outs are refused: the value stays.
    refusedClient.SetSocketTimeout(-5);
    EXPECT_EQ(refusedClient.SocketTimeout(), 0);
}

// The base class with the TLS engine on.
class TlsClient : public TElCustomSimpleSSLClient {
public:
    TlsClient() { SetEngineEnabled(true); }
};

TEST(SimpleSSLClient, HandshakeFailuresCarryTheEnginesCode) {
    // The server answers each hello with a fatal unexpected_message alert: the launcher's
    // download looks for this code in the message to try again with other versions.
    const std::string alert("\x15\x03\x01\x00\x02\x02\x0a", 7);
    ScriptPeer server(Script().Recv(5).Send(alert).RecvAll().Accept().Recv(5).Send(alert).RecvAll().Json());
    KW_REQUIRE_SCRIPT_PEER(server);
    TlsClient c;
    c.SetAddress("127.0.0.1");
    c.SetPort(server.Port());
    c.SetSocketTimeout(10000);
    std::vector<int32_t> errors;
    c.OnError = [&](rtl::Component*, int32_t code, bool, bool) { errors.push_back(code); };
    const std::string expected = "Connection failed due to error (75777)";
    EXPECT_EQ(kwtest::ThrownMessage([&] { c.Open(); }), expected);
    EXPECT_FALSE(c.Active());
    // A second Open makes a new connection and a new handshake, which the server refuses again.
    EXPECT_EQ(kwtest::ThrownMessage([&] { c.Open(); }), expected);
    EXPECT_EQ(errors, (std::vector<int32_t>{75777, 75777}));
    EXPECT_TRUE(server.Finished()) << server.Errors();

    // A message loop that stops ends an unfinished handshake with its own code.
    kwtest::LoopbackListener silent;
    TlsClient stopped;
    stopped.SetAddress("127.0.0.1");
    stopped.SetPort(silent.Port());
    stopped.SetSocketTimeout(10000);
    stopped.MessageLoop = [] { return false; };
    std::vector<std::tuple<int32_t, bool, bool>> reported;
    stopped.OnError = [&](rtl::Component*, int32_t code, bool fatal, bool remote) {
        reported.emplace_back(code, fatal, remote);
    };
    try {
        stopped.Open();
        FAIL() << "no exception";
    } catch (const EElSimpleSSLClientException& e) {
        EXPECT_EQ(e.Message(), "Connection failed due to error (73729)");
        EXPECT_EQ(e.ErrorCode, 0);
    }
    EXPECT_EQ(reported, (std::vector<std::tuple<int32_t, bool, bool>>{{73729, true, false}}));
    EXPECT_FALSE(stopped.Active());
}

TEST(SimpleSSLClient, PlainConversationOpenedTwice) {
    kwtest::TcpEcho echo;
    PlainClient c;
    c.SetAddress("127.0.0.1");
    c.SetPort(echo.Port());
    c.SetSocketTimeout(10000);
    int closes = 0;
    c.OnCloseConnection = [&](rtl::Component*, TSBCloseReason reason) {
        EXPECT_EQ(reason, crClose);
        ++closes;
    };
    for (int round = 0; round < 2; ++round) {
        c.Open();
        EXPECT_TRUE(c.Active());
        EXPECT_EQ(kwtest::ThrownMessage([&] { c.Open(); }), "Connection already established");
        EXPECT_EQ(kwtest::ThrownMessage([&] { c.SetPort(1); }), "Connection already established");
        c.SetPort(echo.Port());  // the same value passes
        c.SendData("ping", 4);
        for (int i = 0; i < 100 && c.Received().size() < 4; ++i)
            c.CheckDataAvailable(false);
        EXPECT_EQ(c.Received(), "ping");
        c.CloseConnection(false);
        EXPECT_FALSE(c.Active());
        EXPECT_EQ(c.Received(), "");
    }
    EXPECT_EQ(closes, 2);
}

TEST(SimpleSSLClient, QuietTimeEndsWithConnectionTimeout) {
    kwtest::LoopbackListener silent;
    PlainClient c;
    c.SetAddress("127.0.0.1");
    c.SetPort(silent.Port());
    c.SetSocketTimeout(300);
    c.Open();
    try {
        for (;;)
            c.CheckDataAvailable(false);
    } catch (const EElSocketError& e) {
        EXPECT_EQ(e.Message(), "Connection timeout");
        EXPECT_EQ(e.ErrorCode, 0);
    }
    // A message loop that stops ends the wait.
    c.SetSocketTimeout(0);
    c.MessageLoop = [] { return false; };
    EXPECT_FALSE(c.CheckDataAvailable(true));
}

TEST(SimpleSSLClient, APeerThatClosesIsAConnectionLost) {
    ScriptPeer peer(Script().Send("bye").Close().Json());
    KW_REQUIRE_SCRIPT_PEER(peer);
    PlainClient c;
    c.SetAddress("127.0.0.1");
    c.SetPort(peer.Port());
    c.Open();
    try {
        for (int i = 0; i < 1000; ++i)
            c.CheckDataAvailable(false);
        FAIL() << "no exception";
    } catch (const EElSSLClientConnectionLostError& e) {
        EXPECT_EQ(e.Message(), "Connection lost");
        EXPECT_STREQ(e.ClassName(), "EElSSLClientConnectionLostError");
    }
    EXPECT_EQ(c.Received(), "bye");
}

}  // namespace
