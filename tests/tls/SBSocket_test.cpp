// Tests of TElSocket without a proxy: states and their errors, direct connects with and
// without a time-out, bind/listen/accept, the asynchronous connect with its watch handler,
// the read-ahead buffer, and the proxy reply readers as tables.
#include "tls/SBSocket.h"

#include <gtest/gtest.h>

#include <string>

#include "support/LoopbackListeners.h"
#include "support/TestSupport.h"

namespace {

TEST(SBSocket, ProxyReplyTables) {
    struct Socks5Case {
        std::string reply;
        int length;
        int rep;
    };
    const Socks5Case socks5[] = {
        {"", 0, 0},
        {"\x05", 0, 0},
        {"\x04", -1, 0},
        {std::string("\x05\x00\x00", 3), 0, 0},
        {std::string("\x05\x00\x00\x01", 4), 10, 0},
        {std::string("\x05\x00\x00\x03", 4), 0, 0},
        {std::string("\x05\x00\x00\x03\x05", 5), 12, 0},
        {std::string("\x05\x00\x00\x04", 4), 22, 0},
        {std::string("\x05\x05\x00\x01", 4), 10, 5},
        {std::string("\x05\x02\x00\x09", 4), -1, 2},
    };
    for (const Socks5Case& c : socks5) {
        int rep = -7;
        EXPECT_EQ(Socks5ReplyLength(c.reply, rep), c.length) << testing::PrintToString(c.reply);
        EXPECT_EQ(rep, c.rep) << testing::PrintToString(c.reply);
    }
    EXPECT_TRUE(Socks4ReplyGranted(std::string("\x00\x5A\x00\x00\x00\x00\x00\x00", 8)));
    EXPECT_FALSE(Socks4ReplyGranted(std::string("\x00\x5B\x00\x00\x00\x00\x00\x00", 8)));
    EXPECT_FALSE(Socks4ReplyGranted(std::string("\x00\x5A\x00", 3)));

    EXPECT_EQ(TunnelReplyLength("HTTP/1.1 200 OK\r\n\r\nextra"), 19);
    EXPECT_EQ(TunnelReplyLength("HTTP/1.1 200 OK\r\n"), 0);
    EXPECT_EQ(TunnelReplyLength("HTTP/1.1 200 OK\n\n"), 0);
    EXPECT_EQ(TunnelReplyLength(std::string(1023, 'a')), 0);
    EXPECT_EQ(TunnelReplyLength(std::string(1024, 'a')), -1);
    EXPECT_EQ(TunnelReplyLength(std::string(1021, 'a') + "\r\n\r\n"), -1);
    EXPECT_EQ(TunnelReplyLength(std::string(1020, 'a') + "\r\n\r\n"), 1024);

    struct StatusCase {
        std::string reply;
        int status;
        bool accepted;
    };
    const StatusCase status[] = {
        {"HTTP/1.1 200 Connection established\r\n\r\n", 200, true},
        {"HTTP/1.0 200 OK\r\n\r\n", 200, true},
        {"HTTP/1.0 407 Proxy Authentication Required\r\n\r\n", 407, false},
        {"HTTP/1.1 403 Forbidden\r\n\r\n", 403, false},
        {"HTTP/2.0 200 OK\r\n\r\n", 200, false},
        {"HTTP/1.1 2x0 OK\r\n\r\n", 0, false},
        {"HTTP/1.1 20", 0, false},
        {"ICY 200 OK\r\n\r\n", 0, false},
    };
    for (const StatusCase& c : status) {
        bool accepted = !c.accepted;
        EXPECT_EQ(TunnelReplyStatus(c.reply, accepted), c.status) << c.reply;
        EXPECT_EQ(accepted, c.accepted) << c.reply;
    }
}

TEST(SBSocket, TunnelReplyStatusLineIsShortAndPrintable) {
    const std::string longReason(300, 'r');
    const struct {
        std::string reply, line;
    } cases[] = {
        {"HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: NTLM\r\n\r\n",
         "HTTP/1.1 407 Proxy Authentication Required"},
        {"HTTP/1.0 403 Forbidden\n\n", "HTTP/1.0 403 Forbidden"},
        {"HTTP/1.1 502 Bad\tGateway \xc3\xa9\x7f\r\n\r\n", "HTTP/1.1 502 Bad?Gateway ???"},
        {std::string("HTTP/1.1 500 a\0b\r\n\r\n", 20), "HTTP/1.1 500 a?b"},
        {"HTTP/1.1 503 " + longReason + "\r\n\r\n",
         ("HTTP/1.1 503 " + longReason).substr(0, kTunnelStatusLineLimit)},
        {"\r\n\r\n", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TunnelReplyStatusLine(c.reply), c.line) << c.reply;
}

TEST(SBSocket, OperationsOutsideTheirStatesRaise) {
    TElSocket s;
    EXPECT_EQ(s.State(), TElSocket::stNone);
    char buf[4];
    int n = 0;
    try {
        s.Receive(buf, 4, n);
        FAIL() << "no exception";
    } catch (const EElSocketError& e) {
        EXPECT_EQ(e.Message(), "Wrong socket state (0) (error code is 96258)");
        EXPECT_EQ(e.ErrorCode, SB_SOCKET_ERROR_WRONG_SOCKET_STATE);
        EXPECT_STREQ(e.ClassName(), "EElSocketError");
    }
    EXPECT_THROW(s.Send(buf, 4, n), EElSocketError);
    EXPECT_THROW(s.Listen(), EElSocketError);
    EXPECT_THROW(s.Accept(0), EElSocketError);
    EXPECT_THROW(s.CanSend(0), EElSocketError);
    EXPECT_THROW(s.CanReceive(0), EElSocketError);

    kwtest::LoopbackListener listener;
    s.SetAddress("127.0.0.1");
    s.SetPort(listener.Port());
    ASSERT_EQ(s.Connect(5000), 0);
    EXPECT_EQ(s.State(), TElSocket::stConnected);
    EXPECT_EQ(kwtest::ThrownMessage([&] { s.SetAddress("127.0.0.2"); }),
              "Wrong socket state (4) (error code is 96258)");
    EXPECT_THROW(s.SetPort(1), EElSocketError);
    EXPECT_THROW(s.CreateSocketHandle(false), EElSocketError);
    s.Close(false);
    EXPECT_EQ(s.State(), TElSocket::stNone);
    EXPECT_EQ(s.Handle(), -1);
    s.SetAddress("127.0.0.2");  // allowed again
}

TEST(SBSocket, UnresolvableHostRaisesInvalidAddress) {
    TElSocket s;
    s.SetAddress("no-such-host.invalid");
    s.SetPort(80);
    try {
        s.Connect(1000);
        FAIL() << "no exception";
    } catch (const EElSocketError& e) {
        EXPECT_EQ(e.ErrorCode, SB_SOCKET_ERROR_INVALID_ADDRESS);
        EXPECT_EQ(e.Message(), "Invalid address (error code is 96260)");
    }
}

TEST(SBSocket, RefusedConnectWithAndWithoutTimeout) {
    kwtest::RefusedPort refused;
    TElSocket blocking;
    blocking.SetAddress("127.0.0.1");
    blocking.SetPort(refused.Port());
    EXPECT_EQ(blocking.Connect(0), -1);
    EXPECT_EQ(blocking.State(), TElSocket::stCreated);

    TElSocket timed;
    timed.SetAddress("127.0.0.1");
    timed.SetPort(refused.Port());
    EXPECT_EQ(timed.Connect(5000), 10061);
    EXPECT_EQ(timed.State(), TElSocket::stCreated);
}

TEST(SBSocket, PortsOutsideTheirRangeAreRefusedNotWrapped) {
    // listener's port + 65536 would land on the listener if it wrapped to 16 bits.
    kwtest::LoopbackListener listener;
    kwtest::LoopbackListener proxy;
    struct Case {
        const char* name;
        int32_t port;
        bool viaSocks, viaTunnel, async;
    };
    const Case cases[] = {
        {"direct, wrapped", listener.Port() + 65536, false, false, false},
        {"direct, 0", 0, false, false, false},
        {"direct, negative", -1, false, false, false},
        {"asynchronous, wrapped", listener.Port() + 65536, false, false, true},
        {"SOCKS target, wrapped", listener.Port() + 65536, true, false, false},
        {"tunnel target, wrapped", listener.Port() + 65536, false, true, false},
    };
    for (const Case& c : cases) {
        TElSocket s;
        s.SetAddress("127.0.0.1");
        s.SetPort(c.port);
        s.SetUseSocks(c.viaSocks);
        s.SocksServer = "127.0.0.1";
        s.SocksPort = proxy.Port();
        s.SetUseWebTunneling(c.viaTunnel);
        s.WebTunnelAddress = "127.0.0.1";
        s.WebTunnelPort = proxy.Port();
        const int rc = c.async ? s.AsyncConnect(1000, nullptr, nullptr, false, false) : s.Connect(1000);
        EXPECT_EQ(rc, SB_WSAEADDRNOTAVAIL) << c.name;
        EXPECT_NE(s.State(), TElSocket::stConnected) << c.name;
    }
    // A proxy's own port is checked the same way; a proxy not reached is a proxy failure (-1).
    TElSocket socks;
    socks.SetAddress("127.0.0.1");
    socks.SetPort(listener.Port());
    socks.SetUseSocks(true);
    socks.SocksServer = "127.0.0.1";
    socks.SocksPort = proxy.Port() + 65536;
    EXPECT_EQ(socks.Connect(1000), SB_SOCKET_PROXY_FAILURE);
    EXPECT_EQ(listener.Connections(), 0);
    EXPECT_EQ(proxy.Connections(), 0);

    TElSocket bound;
    bound.ListenAddress = "127.0.0.1";
    bound.ListenPort = 65536 + 80;
    EXPECT_EQ(bound.Bind(), SB_WSAEADDRNOTAVAIL);
}

TEST(SBSocket, ConnectToAFullQueueTimesOut) {
    kwtest::FullBacklogListener full;
    TElSocket s;
    s.SetAddress("127.0.0.1");
    s.SetPort(full.Port());
    EXPECT_EQ(s.Connect(300), SB_WSAETIMEDOUT);
    EXPECT_EQ(s.State(), TElSocket::stCreated);
}

TEST(SBSocket, BindListenAcceptAndExchange) {
    TElSocket server;
    server.ListenAddress = "127.0.0.1";
    ASSERT_EQ(server.Bind(), 0);
    EXPECT_EQ(server.State(), TElSocket::stBound);
    EXPECT_EQ(server.BoundAddress(), "127.0.0.1");
    ASSERT_GT(server.BoundPort(), 0);
    EXPECT_THROW(server.Accept(0), EElSocketError);
    ASSERT_EQ(server.Listen(), 0);
    EXPECT_EQ(server.State(), TElSocket::stListening);
    EXPECT_FALSE(server.CanAccept(0));
    // Nothing connects: the accept times out and the socket is bound again.
    EXPECT_EQ(server.Accept(50), SB_WSAETIMEDOUT);
    EXPECT_EQ(server.State(), TElSocket::stBound);
    ASSERT_EQ(server.Listen(), 0);

    TElSocket client;
    client.SetAddress("127.0.0.1");
    client.SetPort(server.BoundPort());
    ASSERT_EQ(client.Connect(5000), 0);
    EXPECT_EQ(client.BoundAddress(), "127.0.0.1");
    EXPECT_TRUE(server.CanAccept(5000));
    ASSERT_EQ(server.Accept(5000), 0);
    EXPECT_EQ(server.State(), TElSocket::stConnected);
    EXPECT_EQ(server.Address(), "127.0.0.1");
    EXPECT_EQ(server.Port(), client.BoundPort());
    EXPECT_EQ(client.GetRemoteAddress(), "127.0.0.1");

    int n = 0;
    ASSERT_EQ(client.Send("ping", 4, n), 0);
    EXPECT_EQ(n, 4);
    ASSERT_TRUE(server.CanReceive(5000));
    char buf[16] = {};
    ASSERT_EQ(server.Receive(buf, sizeof buf, n), 0);
    EXPECT_EQ(std::string(buf, size_t(n)), "ping");

    // A peer that closes reads as 0 bytes without an error.
    server.Close(false);
    ASSERT_TRUE(client.CanReceive(5000));
    EXPECT_EQ(client.Receive(buf, sizeof buf, n), 0);
    EXPECT_EQ(n, 0);
}

TEST(SBSocket, PushedBackBytesComeFirstWithoutTheNetwork) {
    kwtest::LoopbackListener listener;
    TElSocket s;
    s.SetAddress("127.0.0.1");
    s.SetPort(listener.Port());
    ASSERT_EQ(s.Connect(5000), 0);
    EXPECT_FALSE(s.CanReceive(0));
    s.PushBack("world", 5);
    s.PushBack("hello ", 6);
    EXPECT_TRUE(s.CanReceive(0));
    char buf[8] = {};
    int n = 0;
    ASSERT_EQ(s.Receive(buf, 8, n), 0);
    EXPECT_EQ(std::string(buf, size_t(n)), "hello wo");
    ASSERT_EQ(s.Receive(buf, 8, n), 0);
    EXPECT_EQ(std::string(buf, size_t(n)), "rld");
    EXPECT_FALSE(s.CanReceive(0));
}

TEST(SBSocket, AsyncConnectWatchesTheOtherSocket) {
    TElSocket server;
    server.ListenAddress = "127.0.0.1";
    ASSERT_EQ(server.Bind(), 0);
    ASSERT_EQ(server.Listen(), 0);
    TElSocket control;
    control.SetAddress("127.0.0.1");
    control.SetPort(server.BoundPort());
    ASSERT_EQ(control.Connect(5000), 0);
    ASSERT_EQ(server.Accept(5000), 0);
    int n = 0;
    ASSERT_EQ(server.Send("421 bye\r\n", 9, n), 0);
    ASSERT_TRUE(control.CanReceive(5000));

    // The watched socket has data: the handler runs, cancels, and the data socket is closed.
    kwtest::LoopbackListener dataListener;
    TElSocket data;
    data.SetAddress("127.0.0.1");
    data.SetPort(dataListener.Port());
    int calls = 0;
    const int rc = data.AsyncConnect(
        5000, &control,
        [&](TElSocket& sender, TElSocket& watched, int kind, bool& cancel) {
            ++calls;
            EXPECT_EQ(&sender, &data);
            EXPECT_EQ(&watched, &control);
            EXPECT_EQ(kind, 0);
            cancel = true;
        },
        true, false);
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(data.State(), TElSocket::stNone);

    // Nothing to watch: the connect completes.
    TElSocket quiet;
    TElSocket idle;
    quiet.SetAddress("127.0.0.1");
    quiet.SetPort(dataListener.Port());
    EXPECT_EQ(quiet.AsyncConnect(5000, &idle, nullptr, true, false), 0);
    EXPECT_EQ(quiet.State(), TElSocket::stConnected);
    EXPECT_EQ(quiet.BoundAddress(), "127.0.0.1");

    // A full queue: the connect times out.
    kwtest::FullBacklogListener full;
    TElSocket slow;
    slow.SetAddress("127.0.0.1");
    slow.SetPort(full.Port());
    EXPECT_EQ(slow.AsyncConnect(200, nullptr, nullptr, true, false), SB_WSAETIMEDOUT);
    EXPECT_EQ(slow.State(), TElSocket::stCreated);

    // A refused connect answers the pending error.
    kwtest::RefusedPort refused;
    TElSocket no;
    no.SetAddress("127.0.0.1");
    no.SetPort(refused.Port());
    EXPECT_EQ(no.AsyncConnect(5000, nullptr, nullptr, true, false), 10061);
}

}  // namespace
