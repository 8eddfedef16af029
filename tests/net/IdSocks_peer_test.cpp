// Tests of the SOCKS client: through dante and microsocks to echo peers, and against a
// scripted peer for the exact request bytes, every reply code, hostile replies and datagrams.
#include "net/IdSocks.h"

#include <gtest/gtest.h>

#include "net/IdIOHandlerStack.h"
#include "net/IdTCPClient.h"
#include "tests/net/NetTestSupport.h"
#include "tests/net/ScriptBuilder.h"
#include "tests/net/ScriptPeer.h"
#include "tests/net/SocksPeers.h"

namespace {

using kwtest::B;
using kwtest::Script;
using kwtest::ScriptPeer;
using kwtest::SocksOf;
using kwtest::StackHolder;

// Connects io through its proxy to host:port and checks an echo.
void ExpectEchoThrough(TIdIOHandlerStack& io, const std::string& host, int port) {
    io.SetHost(host);
    io.SetPort(port);
    io.ReadTimeout = 30000;
    io.Open();
    io.WriteLine("through the proxy");
    EXPECT_EQ(io.ReadLine(), "through the proxy");
    io.Close();
}

TEST(IdSocksPeer, FreshProxyIsDisabled) {
    StackHolder holder;
    TIdSocksInfo socks;
    EXPECT_EQ(socks.Port, 1080);
    EXPECT_EQ(socks.Version, svNoSocks);
    EXPECT_FALSE(socks.IsEnabled());
    TIdIOHandlerStack io;
    socks.OpenTunnel(io, "host", 80);  // nothing to do
    TIdSocketHandle udp;
    socks.Version = svSocks4;
    try {
        socks.OpenDatagram(udp, "", 0);
        ADD_FAILURE();
    } catch (const EIdSocksUDPNotSupportedBySOCKSVersion& e) {
        EXPECT_EQ(e.Message(), "UDP is not support in this SOCKS version.");
    }
    EXPECT_THROW(socks.CloseDatagram(udp), EIdSocksUDPNotSupportedBySOCKSVersion);
}

TEST(IdSocksPeer, ConnectThroughDanteWithSocks4And5) {
    kwtest::Dante dante;
    KW_REQUIRE_PEER(dante.Available(), dante.Reason());
    kwtest::TcpEcho echo;
    StackHolder holder;
    for (const TSocksVersion v : {svSocks4, svSocks5}) {
        TIdIOHandlerStack io;
        SocksOf(io, v, dante.Port());
        ExpectEchoThrough(io, "127.0.0.1", echo.Port());
    }
    // A domain name resolved by the server.
    TIdIOHandlerStack io;
    SocksOf(io, svSocks5, dante.Port());
    ExpectEchoThrough(io, "localhost", echo.Port());

    // Through a TCP client whose handler uses a shared proxy (one with an owner).
    rtl::Component owner;
    TIdSocksInfo shared(&owner);
    shared.Version = svSocks5;
    shared.Host = "127.0.0.1";
    shared.Port = dante.Port();
    TIdIOHandlerStack handler;
    handler.SetTransparentProxy(&shared);
    EXPECT_EQ(handler.TransparentProxy(), &shared);
    TIdTCPClient client;
    client.SetIOHandler(&handler);
    client.SetHost("127.0.0.1");
    client.SetPort(echo.Port());
    client.Connect();
    client.IOHandler()->WriteLine("shared");
    EXPECT_EQ(client.IOHandler()->ReadLine(), "shared");
    client.Disconnect();
    client.SetIOHandler(nullptr);
}

TEST(IdSocksPeer, MicrosocksWithTheRightAndAWrongPassword) {
    kwtest::MicroSocks microsocks("kwuser", "kw-secret");
    KW_REQUIRE_PEER(microsocks.Available(), microsocks.Reason());
    kwtest::TcpEcho echo;
    StackHolder holder;
    {
        TIdIOHandlerStack io;
        TIdSocksInfo& socks = SocksOf(io, svSocks5, microsocks.Port());
        socks.Authentication = saUsernamePassword;
        socks.Username = "kwuser";
        socks.Password = "kw-secret";
        ExpectEchoThrough(io, "127.0.0.1", echo.Port());
    }
    TIdIOHandlerStack io;
    TIdSocksInfo& socks = SocksOf(io, svSocks5, microsocks.Port());
    socks.Authentication = saUsernamePassword;
    socks.Username = "kwuser";
    socks.Password = "wrong";
    io.SetHost("127.0.0.1");
    io.SetPort(echo.Port());
    try {
        io.Open();
        ADD_FAILURE();
    } catch (const EIdSocksAuthError& e) {
        EXPECT_EQ(e.Message(), "Authentication error to socks server.");
    }
}

TEST(IdSocksPeer, BindThroughDante) {
    kwtest::Dante dante;
    KW_REQUIRE_PEER(dante.Available(), dante.Reason());
    StackHolder holder;
    TIdStackLinux& stack = holder.stack();
    for (const TSocksVersion v : {svSocks4, svSocks5}) {
        TIdIOHandlerStack io;
        TIdSocksInfo& socks = SocksOf(io, v, dante.Port());
        io.ReadTimeout = 30000;
        socks.BindThrough(io, "127.0.0.1", 0);
        // The proxy that ran the bind is the handler's proxy still.
        EXPECT_EQ(io.TransparentProxy(), &socks);
        ASSERT_GT(io.Binding->Port, 0) << v;
        // The far side connects to the address the server bound.
        const int peer = stack.CreateSocket(Id_SOCK_STREAM, 0, Id_IPv4);
        stack.ConnectSocket(peer, "127.0.0.1", uint16_t(io.Binding->Port), Id_IPv4);
        ASSERT_TRUE(socks.ListenThrough(io, 30000)) << v;
        EXPECT_EQ(io.Binding->PeerIP, "127.0.0.1");
        stack.SocketSend(peer, TextToBytes("from the far side\n"));
        EXPECT_EQ(io.ReadLine(), "from the far side");
        stack.CloseSocketHandle(peer);
    }
}

TEST(IdSocksPeer, UdpAssociationThroughDante) {
    kwtest::Dante dante;
    KW_REQUIRE_PEER(dante.Available(), dante.Reason());
    kwtest::UdpEcho echo;
    StackHolder holder;
    TIdSocksInfo socks;
    socks.Version = svSocks5;
    socks.Host = "127.0.0.1";
    socks.Port = dante.Port();
    TIdSocketHandle udp;
    udp.AllocateSocket(Id_SOCK_DGRAM, 0);
    udp.IP = "127.0.0.1";
    udp.Bind();
    socks.OpenDatagram(udp, "", 0);
    socks.SendDatagram(udp, "127.0.0.1", echo.Port(), TextToBytes("datagram"));
    TBytes buffer(64);
    std::string ip;
    int32_t port = 0;
    const int32_t n = socks.ReceiveDatagram(udp, buffer, ip, port, 30000);
    ASSERT_EQ(n, 8);
    EXPECT_EQ(BytesToText(buffer, 0, n), "datagram");
    EXPECT_EQ(ip, "127.0.0.1");
    EXPECT_EQ(port, echo.Port());
    socks.CloseDatagram(udp);
}

// Against the scripted peer: the client connects through io to dest:port; the peer records.
struct Scripted {
    ScriptPeer peer;
    StackHolder holder;
    TIdIOHandlerStack io;
    TIdSocksInfo* socks = nullptr;
    Scripted(const Script& script, TSocksVersion v) : peer(script.Json()) {
        if (peer.Available()) socks = &SocksOf(io, v, peer.Port());
        io.ReadTimeout = 30000;
    }
    void Open(const std::string& host, int port) {
        io.SetHost(host);
        io.SetPort(port);
        io.Open();
    }
};

TEST(IdSocksPeer, Socks4ARequestBytes) {
    Scripted s(Script().Recv(10 + 13).Send(B({0, 0x5A, 0, 0, 0, 0, 0, 0})).Send("dest says hi\n").RecvAll(),
               svSocks4A);
    KW_REQUIRE_SCRIPT_PEER(s.peer);
    s.socks->Username = "u";
    s.Open("host.example", 80);
    EXPECT_EQ(s.io.ReadLine(), "dest says hi");
    s.io.Close();
    EXPECT_EQ(s.peer.Transcript(), B({4, 1, 0, 0x50, 0, 0, 0, 1, 'u', 0}) + "host.example" + B({0}));
}

TEST(IdSocksPeer, Socks5RequestBytesForEachAddressForm) {
    struct Row {
        const char* host;
        int port;
        std::string request;
    };
    const Row rows[] = {
        {"10.0.0.1", 443, B({5, 1, 0, 1, 0x0A, 0, 0, 1, 0x01, 0xBB})},
        {"host.exampl", 80, B({5, 1, 0, 3, 0x0B}) + "host.exampl" + B({0, 80})},
        {"fe80::1", 8080, B({5, 1, 0, 4, 0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x1F, 0x90})},
    };
    for (const Row& r : rows) {
        Scripted s(Script()
                       .Recv(3)
                       .Send(B({5, 0}))
                       .Recv(r.request.size())
                       .Send(B({5, 0, 0, 1, 1, 2, 3, 4, 0, 9}))
                       .RecvAll(),
                   svSocks5);
        KW_REQUIRE_SCRIPT_PEER(s.peer);
        s.Open(r.host, r.port);
        s.io.Close();
        EXPECT_EQ(s.peer.Transcript(), B({5, 1, 0}) + r.request) << r.host;
    }
}

TEST(IdSocksPeer, ReplyCodesTable) {
    struct Row {
        TSocksVersion version;
        int code;
        const char* cls;
        const char* message;
    };
    const Row rows[] = {
        {svSocks5, 1, "EIdSocksServerGeneralError", "General SOCKS server failure."},
        {svSocks5, 2, "EIdSocksServerPermissionError", "Connection not allowed by ruleset."},
        {svSocks5, 3, "EIdSocksServerNetUnreachableError", "Network unreachable."},
        {svSocks5, 4, "EIdSocksServerHostUnreachableError", "Host unreachable."},
        {svSocks5, 5, "EIdSocksServerConnectionRefusedError", "Connection refused."},
        {svSocks5, 6, "EIdSocksServerTTLExpiredError", "TTL expired."},
        {svSocks5, 7, "EIdSocksServerCommandError", "Command not supported."},
        {svSocks5, 8, "EIdSocksServerAddressError", "Address type not supported."},
        {svSocks5, 9, "EIdSocksUnknownError", "Unknown socks error."},
        {svSocks4, 91, "EIdSocksRequestFailed", "Request rejected or failed."},
        {svSocks4, 92, "EIdSocksRequestServerFailed", "Request rejected because SOCKS server cannot connect."},
        {svSocks4, 93, "EIdSocksRequestIdentFailed",
         "Request rejected because the client program and identd report different user-ids."},
        {svSocks4, 0, "EIdSocksUnknownError", "Unknown socks error."},
    };
    for (const Row& r : rows) {
        const Script script = r.version == svSocks5
                                  ? Script().Recv(3).Send(B({5, 0})).Recv(10).Send(
                                        B({5, r.code, 0, 1, 0, 0, 0, 0, 0, 0}))
                                  : Script().Recv(9).Send(B({0, r.code, 0, 0, 0, 0, 0, 0}));
        Scripted s(Script(script).RecvAll(), r.version);
        KW_REQUIRE_SCRIPT_PEER(s.peer);
        try {
            s.Open("10.0.0.1", 443);
            ADD_FAILURE() << r.code;
        } catch (const EIdSocksError& e) {
            EXPECT_STREQ(e.ClassName(), r.cls);
            EXPECT_EQ(e.Message(), r.message);
        }
    }
}

TEST(IdSocksPeer, ADomainFormBoundAddressIsConsumedExactly) {
    Scripted s(Script()
                   .Recv(3)
                   .Send(B({5, 0}))
                   .Recv(10)
                   .Send(B({5, 0, 0, 3, 13}) + "bound.example" + B({0x12, 0x34}) + "FIRST from the destination\n")
                   .RecvAll(),
               svSocks5);
    KW_REQUIRE_SCRIPT_PEER(s.peer);
    s.Open("10.0.0.1", 443);
    EXPECT_EQ(s.io.ReadLine(), "FIRST from the destination");
}

TEST(IdSocksPeer, HostileReplies) {
    {
        // An unknown address type in a connect reply.
        Scripted s(Script().Recv(3).Send(B({5, 0})).Recv(10).Send(B({5, 0, 0, 9, 1, 2, 3})).RecvAll(), svSocks5);
        KW_REQUIRE_SCRIPT_PEER(s.peer);
        try {
            s.Open("10.0.0.1", 443);
            ADD_FAILURE();
        } catch (const EIdSocksServerAddressError& e) {
            EXPECT_EQ(e.Message(), "Address type not supported.");
        }
    }
    {
        // A reply cut short by the server's close.
        Scripted s(Script().Recv(3).Send(B({5, 0})).Recv(10).Send(B({5, 0})).Close(), svSocks5);
        KW_REQUIRE_SCRIPT_PEER(s.peer);
        try {
            s.Open("10.0.0.1", 443);
            ADD_FAILURE();
        } catch (const EIdSocksServerRespondError& e) {
            EXPECT_EQ(e.Message(), "Socks server did not respond.");
        }
    }
    {
        // The server refuses the offered method.
        Scripted s(Script().Recv(3).Send(B({5, 0})).RecvAll(), svSocks5);
        KW_REQUIRE_SCRIPT_PEER(s.peer);
        s.socks->Authentication = saUsernamePassword;
        try {
            s.Open("10.0.0.1", 443);
            ADD_FAILURE();
        } catch (const EIdSocksAuthMethodError& e) {
            EXPECT_EQ(e.Message(), "Invalid socks authentication method.");
        }
        s.io.Close();
        EXPECT_EQ(s.peer.Transcript(), B({5, 1, 2}));
    }
}

TEST(IdSocksPeer, NamesTooLongAreRefusedBeforeAnythingIsSent) {
    struct Row {
        TSocksVersion version;
        std::string user, password, host;
    };
    const Row rows[] = {
        {svSocks5, std::string(256, 'u'), "p", "10.0.0.1"},
        {svSocks5, "u", std::string(256, 'p'), "10.0.0.1"},
        {svSocks5, "", "", std::string(249, 'h')},
        {svSocks4, std::string(256, 'u'), "", "10.0.0.1"},
        {svSocks4, std::string("a\0b", 3), "", "10.0.0.1"},
        {svSocks4A, "", "", std::string(256, 'h')},
    };
    for (const Row& r : rows) {
        Scripted s(Script().RecvAll(), r.version);
        KW_REQUIRE_SCRIPT_PEER(s.peer);
        s.socks->Authentication = r.user.empty() ? saNoAuthentication : saUsernamePassword;
        s.socks->Username = r.user;
        s.socks->Password = r.password;
        EXPECT_THROW(s.Open(r.host, 80), EIdSocksRequestTooLong);
        s.io.Close();
        EXPECT_EQ(s.peer.Transcript(), "") << r.host.size();
    }
    // The longest host name that fits the request is sent.
    TIdSocksInfo socks;
    socks.Version = svSocks5;
    EXPECT_EQ(socks.Socks5Address(std::string(248, 'h'), 1).size(), 1 + 1 + 248 + 2u);
}

TEST(IdSocksPeer, ShortAndOddDatagrams) {
    StackHolder holder;
    TIdStackLinux& stack = holder.stack();
    TIdSocksInfo socks;  // svNoSocks: datagrams are read in the SOCKS 5 form
    TIdSocketHandle udp;
    udp.AllocateSocket(Id_SOCK_DGRAM, 0);
    udp.IP = "127.0.0.1";
    udp.Bind();
    const int sender = stack.CreateSocket(Id_SOCK_DGRAM, 0, Id_IPv4);
    stack.BindSocket(sender, "127.0.0.1", 0, Id_IPv4);
    std::string senderIP;
    uint16_t senderPort = 0;
    stack.ReadLocalAddress(sender, senderIP, senderPort);

    struct Row {
        const char* name;
        std::string datagram;
        int32_t result;
        std::string payload, peer;
        int32_t port;
    };
    const std::string v6 = B({0, 0, 0, 4, 0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 7});
    const Row rows[] = {
        {"four bytes", B({0, 0, 0, 1}), 0, "", "127.0.0.1", senderPort},
        {"short IPv4 header", B({0, 0, 0, 1, 10, 0, 0}), 0, "", "127.0.0.1", senderPort},
        {"IPv4", B({0, 0, 0, 1, 10, 0, 0, 1, 0, 53}) + "abc", 3, "abc", "10.0.0.1", 53},
        {"domain longer than the datagram", B({0, 0, 0, 3, 200}) + "abc", 0, "", "127.0.0.1", senderPort},
        {"domain", B({0, 0, 0, 3, 3}) + "dns" + B({0, 53}) + "xyz", 3, "xyz", "dns", 53},
        {"IPv6", v6 + "q", 1, "q", "FE80:0:0:0:0:0:0:1", 7},
        {"odd type read as IPv6", B({0, 0, 0, 9}) + v6.substr(4) + "r", 1, "r", "FE80:0:0:0:0:0:0:1", 7},
        {"payload over the buffer", B({0, 0, 0, 1, 1, 2, 3, 4, 0, 1}) + std::string(40, 'p'), 16,
         std::string(16, 'p'), "1.2.3.4", 1},
    };
    for (const Row& r : rows) {
        stack.SocketSendTo(sender, "127.0.0.1", uint16_t(udp.Port), TextToBytes(r.datagram), Id_IPv4);
        TBytes buffer(16, 0xEE);
        std::string ip;
        int32_t port = 0;
        EXPECT_EQ(socks.ReceiveDatagram(udp, buffer, ip, port, 30000), r.result) << r.name;
        EXPECT_EQ(buffer.size(), 16u) << r.name;
        EXPECT_EQ(BytesToText(buffer, 0, r.result), r.payload) << r.name;
        EXPECT_EQ(ip, r.peer) << r.name;
        EXPECT_EQ(port, r.port) << r.name;
    }
    stack.CloseSocketHandle(sender);
}

}  // namespace
