// Tests of the stack IO handler's connects and of the TCP client against loopback listeners
// and a scripted peer.
#include "net/IdTCPClient.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <thread>

#include "net/IdIOHandlerStack.h"
#include "net/IdSocks.h"
#include "tests/net/NetTestSupport.h"
#include "tests/net/ScriptBuilder.h"
#include "tests/net/ScriptPeer.h"

namespace {

using kwtest::Listener;
using kwtest::Script;
using kwtest::ScriptPeer;
using kwtest::StackHolder;

// A port with a bound socket that does not listen: connects to it are refused.
struct RefusingPort {
    TIdStackLinux& stack;
    int fd;
    uint16_t port = 0;
    explicit RefusingPort(TIdStackLinux& s) : stack(s), fd(s.CreateSocket(Id_SOCK_STREAM, 0, Id_IPv4)) {
        stack.BindSocket(fd, "127.0.0.1", 0, Id_IPv4);
        std::string a;
        stack.ReadLocalAddress(fd, a, port);
    }
    ~RefusingPort() { stack.CloseSocketHandle(fd); }
};

TEST(IdIOHandlerStackPeer, ConnectTimesOutAgainstAFullBacklogAndTheHandlerCanOpenAgain) {
    StackHolder holder;
    TIdStackLinux& stack = holder.stack();
    // A listener with backlog 0 that never accepts, its queue filled by a connection of ours.
    Listener full(stack, Id_IPv4, 0);
    const int filler = stack.CreateSocket(Id_SOCK_STREAM, 0, Id_IPv4);
    stack.ConnectSocket(filler, "127.0.0.1", full.port, Id_IPv4);

    TIdIOHandlerStack io;
    io.ConnectTimeout = 300;
    io.SetHost("127.0.0.1");
    io.SetPort(full.port);
    try {
        io.Open();
        ADD_FAILURE() << "connected to a full backlog";
    } catch (const EIdConnectTimeout& e) {
        EXPECT_EQ(e.Message(), "Connect timed out.");
    }
    EXPECT_FALSE(io.Binding->HandleAllocated());
    EXPECT_FALSE(io.IsOpen);

    Listener live(stack, Id_IPv4);
    io.SetPort(live.port);
    io.Open();
    EXPECT_TRUE(io.Binding->HandleAllocated());
    EXPECT_EQ(io.Binding->PeerPort, live.port);
    EXPECT_TRUE(io.IsConnected());
    stack.CloseSocketHandle(filler);
}

TEST(IdIOHandlerStackPeer, ARefusedConnectWithATimeOutIsASocketError) {
    StackHolder holder;
    RefusingPort refusing(holder.stack());
    for (int32_t timeout : {5000, 0, -1}) {
        TIdIOHandlerStack io;
        io.ConnectTimeout = timeout;
        io.SetHost("127.0.0.1");
        io.SetPort(refusing.port);
        try {
            io.Open();
            ADD_FAILURE() << "connected";
        } catch (const EIdConnectException&) {
            ADD_FAILURE() << "a connect exception instead of the socket error";
        } catch (const EIdSocketError& e) {
            EXPECT_EQ(e.SocketErrorCode, 10061) << timeout;
            EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
        }
    }
}

// A handler whose transport gives the caller nothing on its first receives, as a TLS layer
// does for a record without application data: the read waits again and returns what comes next.
class HandlerWithEmptyReceives : public TIdIOHandlerStack {
public:
    int empties = 2;

protected:
    int32_t ReceiveFromTransport(TBytes& bytes, int32_t timeout) override {
        if (empties > 0) {
            --empties;
            return -1;
        }
        return TIdIOHandlerStack::ReceiveFromTransport(bytes, timeout);
    }
};

TEST(IdIOHandlerStackPeer, AReceiveWithNothingForTheCallerIsNotATimeOut) {
    StackHolder holder;
    TIdStackLinux& stack = holder.stack();
    Listener live(stack, Id_IPv4);
    HandlerWithEmptyReceives io;
    io.SetHost("127.0.0.1");
    io.SetPort(live.port);
    io.Open();
    std::string address;
    uint16_t port = 0;
    const TIdStackSocketHandle server = stack.AcceptConnection(live.fd, address, port);
    const std::string line = "line\r\n";
    ASSERT_EQ(::send(server, line.data(), line.size(), 0), ssize_t(line.size()));
    io.ReadTimeout = 30000;  // a bound for a broken read only: the line is there already
    EXPECT_EQ(io.ReadLn(), "line");
    EXPECT_FALSE(io.LineTimedOut);
    EXPECT_EQ(io.empties, 0);
    stack.CloseSocketHandle(server);
}

TEST(IdIOHandlerStackPeer, UnresolvableHostsAndHandlersWithoutADestination) {
    StackHolder holder;
    TIdIOHandlerStack io;
    io.ConnectTimeout = 1000;
    io.SetHost("no-such-host.invalid");
    io.SetPort(80);
    std::vector<std::string> status;
    io.OnStatus = [&](TIdComponent*, TIdStatus, const std::string& text) { status.push_back(text); };
    try {
        io.Open();
        ADD_FAILURE();
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.SocketErrorCode, 11001);
    }
    EXPECT_EQ(status, (std::vector<std::string>{"Resolving hostname no-such-host.invalid."}));

    // Without a host, Open allocates no socket and raises nothing.
    TIdIOHandlerStack empty;
    empty.Open();
    EXPECT_FALSE(empty.Binding->HandleAllocated());
    // A fresh handler's proxy is a disabled SOCKS proxy.
    EXPECT_FALSE(empty.TransparentProxy()->IsEnabled());
    EXPECT_STREQ(empty.TransparentProxy()->ClassName(), "TIdSocksInfo");

    empty.DefaultPort = 23;
    empty.SetDestination("host.example:notaport");
    EXPECT_EQ(empty.Host(), "host.example");
    EXPECT_EQ(empty.Port(), 23);
    empty.SetDestination("nocolon");
    EXPECT_EQ(empty.Host(), "host.example");
    empty.SetDestination("other:8080");
    EXPECT_EQ(empty.GetDestination(), "other:8080");
    empty.SetPort(23);
    EXPECT_EQ(empty.GetDestination(), "other");
}

TEST(IdTCPClientPeer, ConnectTimeoutZeroConnectsInTheCallersThreadAndReportsStatus) {
    StackHolder holder;
    Listener live(holder.stack(), Id_IPv4);
    TIdTCPClient client;
    std::vector<std::string> status;
    bool otherThread = false;
    const auto self = std::this_thread::get_id();
    client.OnStatus = [&](TIdComponent*, TIdStatus, const std::string& text) {
        status.push_back(text);
        otherThread = otherThread || std::this_thread::get_id() != self;
    };
    client.SetHost("localhost");
    client.SetPort(live.port);
    client.Connect();
    EXPECT_TRUE(client.IsConnected());
    EXPECT_FALSE(otherThread);
    EXPECT_EQ(status, (std::vector<std::string>{"Resolving hostname localhost.", "Connecting to 127.0.0.1.",
                                                "Connected."}));
    EXPECT_THROW(client.Connect(), EIdAlreadyConnected);
    client.Disconnect();
    client.Disconnect();  // a second disconnect does nothing
    EXPECT_FALSE(client.IsConnected());
}

TEST(IdTCPClientPeer, SettingsReachTheImplicitHandlerAndPortZeroMakesNoConnection) {
    StackHolder holder;
    TIdTCPClient client;
    client.Disconnect();  // never connected: nothing
    client.SetConnectTimeout(2000);
    client.SetReadTimeout(700);
    EXPECT_EQ(client.GetConnectTimeout(), 2000);
    client.SetHost("127.0.0.1");
    client.SetPort(0);
    client.Connect();  // the handler's Open makes no connection
    ASSERT_NE(client.IOHandler(), nullptr);
    EXPECT_EQ(client.IOHandler()->ConnectTimeout, 2000);
    EXPECT_EQ(client.IOHandler()->ReadTimeout, 700);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(std::string(TIdIOHandler::DefaultIOHandlerClass()->Name), "TIdIOHandlerStack");
}

TEST(IdTCPClientPeer, AFailedConnectLeavesTheClientReadyToConnectAgain) {
    StackHolder holder;
    RefusingPort refusing(holder.stack());
    Listener live(holder.stack(), Id_IPv4);
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(refusing.port);
    EXPECT_THROW(client.Connect(), EIdSocketError);
    TIdIOHandler* handler = client.IOHandler();
    EXPECT_FALSE(client.IsConnected());
    client.SetPort(live.port);
    client.Connect();
    EXPECT_TRUE(client.IsConnected());
    EXPECT_EQ(client.IOHandler(), handler);  // the same implicit handler
}

TEST(IdTCPClientPeer, RepliesAllowedCodesAndWork) {
    ScriptPeer peer(Script()
                        .Send("220-hello\r\n220 ready\r\n")
                        .RecvUntil("CMD\r\n")
                        .Send("550 no such thing\r\n")
                        .RecvUntil("NEXT\r\n")
                        .Send("\r\n  \r\n250 fine\r\n")
                        .RecvUntil("DATA\r\n")
                        .Send(std::string("\0\0\0\x0A", 4) + "0123456789")
                        .RecvAll()
                        .Json());
    KW_REQUIRE_SCRIPT_PEER(peer);
    StackHolder holder;
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(peer.Port());
    client.Connect();
    EXPECT_EQ(client.GetResponse({220}), 220);
    EXPECT_EQ(client.LastReply().Text(), (rtl::StringList{"hello", "ready"}));
    try {
        client.SendCmd("CMD", {250, 251});
        ADD_FAILURE();
    } catch (const EIdReplyRFCError& e) {
        EXPECT_EQ(e.ReplyErrorCode, 550);
        EXPECT_EQ(e.Message(), "no such thing\r\n");
    }
    EXPECT_EQ(client.SendCmd("NEXT"), 250);  // blank lines before a reply are skipped
    EXPECT_EQ(client.LastReply().Text(), (rtl::StringList{"fine"}));

    std::vector<int64_t> work;
    client.OnWorkBegin = [&](TIdComponent* sender, TWorkMode, int64_t max) {
        EXPECT_EQ(sender, &client);
        work.push_back(-max);
    };
    client.OnWork = [&](TIdComponent*, TWorkMode, int64_t n) { work.push_back(n); };
    client.IOHandler()->WriteLine("DATA");
    rtl::MemoryStream m;
    TIdStreamVCL s(m);
    client.IOHandler()->ReadToStream(s);
    EXPECT_EQ(m.Data(), "0123456789");
    ASSERT_GE(work.size(), 2u);
    EXPECT_EQ(work.front(), -10);
    EXPECT_EQ(work.back(), 10);
    for (size_t i = 2; i < work.size(); ++i) EXPECT_GT(work[i], work[i - 1]);  // running totals

    client.Disconnect();
    client.Disconnect();
    EXPECT_EQ(peer.Transcript(), "CMD\r\nNEXT\r\nDATA\r\n");
    TIdTCPClient none;
    EXPECT_THROW(none.SendCmd("X"), EIdNotConnected);
}

TEST(IdTCPClientPeer, IPv6ToTheLoopback) {
    ScriptPeer peer(Script().Send("200 over six\r\n").RecvUntil("QUIT\r\n").Json(), true);
    KW_REQUIRE_SCRIPT_PEER(peer);
    StackHolder holder;
    TIdTCPClient client;
    client.SetIPVersion(Id_IPv6);
    client.SetHost("::1");
    client.SetPort(peer.Port());
    client.Connect();
    EXPECT_EQ(client.Socket()->Binding->PeerIP, "0:0:0:0:0:0:0:1");
    EXPECT_EQ(client.GetResponse({200}), 200);
    client.IOHandler()->WriteLine("QUIT");
    EXPECT_TRUE(peer.Finished()) << peer.Errors();
}

TEST(IdTCPClientPeer, AProxyChainThatLoopsIsRefused) {
    StackHolder holder;
    TIdSocksInfo a, b, c;
    a.SetChainedProxy(&b);
    b.SetChainedProxy(&c);
    try {
        c.SetChainedProxy(&a);
        ADD_FAILURE();
    } catch (const EIdTransparentProxyCircularLink& e) {
        EXPECT_NE(e.Message().find("TIdSocksInfo"), std::string::npos);
    }
    EXPECT_THROW(b.SetChainedProxy(&a), EIdTransparentProxyCircularLink);
    EXPECT_EQ(c.ChainedProxy(), nullptr);
    {
        TIdSocksInfo d;
        c.SetChainedProxy(&d);
    }
    EXPECT_EQ(c.ChainedProxy(), nullptr);  // a freed link is forgotten
}

}  // namespace
