// TElSocket through proxies: scripted SOCKS and tunnel peers check the exact bytes we send
// and answer with replies split byte by byte, refusals, closes and trailing bytes (SOCKS 4a
// only here: neither danted nor microsocks speaks it); real danted (SOCKS 4 and 5),
// microsocks (SOCKS 5 with a user) and tinyproxy (CONNECT with Basic credentials) carry a
// conversation with an echo server.
#include <gtest/gtest.h>

#include <string>

#include "support/LoopbackListeners.h"
#include "support/TestSupport.h"
#include "tests/net/HttpServers.h"
#include "tests/net/ScriptBuilder.h"
#include "tests/net/ScriptPeer.h"
#include "tests/net/SocksPeers.h"
#include "tests/tls/ProxyTestSupport.h"
#include "tls/SBSocket.h"

using kwtest::Script;
using kwtest::ReceiveUpTo;
using kwtest::ScriptPeer;
using kwtest::UseSocks;
using kwtest::UseSocksUser;
using kwtest::UseTunnel;

namespace {

// The reply split into single bytes with a pause between them, so most arrive on their own.
Script& Trickle(Script& s, const std::string& bytes) {
    for (char c : bytes)
        s.Send(std::string(1, c)).Sleep(15);
    return s;
}

std::string PortBytes(int port) {
    return {char(port >> 8), char(port & 0xFF)};
}

// Talks through a connected socket: sends text, reads until as many bytes came back.
std::string EchoThrough(TElSocket& s, const std::string& text) {
    int n = 0;
    EXPECT_EQ(s.Send(text.data(), int(text.size()), n), 0);
    return ReceiveUpTo(s, text.size());
}

TEST(SBSocketProxy, Socks5UsercodeSkipsTheSubnegotiationWhenNotAsked) {
    const std::string ok("\x05\x00\x00\x01\x7f\x00\x00\x01\x12\x34", 10);
    Script script;
    script.Recv(4).Send(std::string("\x05\x00", 2)).Recv(10);
    Trickle(script, ok + "tail!").RecvAll();
    ScriptPeer peer(script.Json());
    KW_REQUIRE_SCRIPT_PEER(peer);
    TElSocket s;
    UseSocksUser(s, peer.Port(), "user", "pass");
    s.SetAddress("10.1.2.3");
    s.SetPort(2121);
    ASSERT_EQ(s.Connect(0), 0);
    EXPECT_EQ(s.State(), TElSocket::stConnected);
    EXPECT_EQ(s.ProxyResult(), 0);
    // Bytes after the reply belong to the target's stream.
    EXPECT_EQ(ReceiveUpTo(s, 5), "tail!");
    s.Close(false);
    EXPECT_EQ(peer.Transcript(), std::string("\x05\x02\x00\x02", 4) +
                                     std::string("\x05\x01\x00\x01\x0a\x01\x02\x03", 8) + PortBytes(2121));
}

TEST(SBSocketProxy, Socks5UserPasswordAndNameResolvedByTheProxy) {
    Script script;
    script.Recv(4).Send(std::string("\x05\x02", 2)).Recv(1 + 1 + 6 + 1 + 7).Send(std::string("\x01\x00", 2));
    script.Recv(5 + 11 + 2);
    // A reply naming a bound host: its length follows the name's length byte.
    Trickle(script, std::string("\x05\x00\x00\x03\x04host\x00\x50", 11)).RecvAll();
    ScriptPeer peer(script.Json());
    KW_REQUIRE_SCRIPT_PEER(peer);
    TElSocket s;
    UseSocksUser(s, peer.Port(), "kwuser", "secret!");
    s.SocksResolveAddress = true;
    s.SetAddress("ftp.example");
    s.SetPort(21);
    ASSERT_EQ(s.Connect(0), 0);
    EXPECT_FALSE(s.CanReceive(0)) << "nothing after the reply";
    s.Close(false);
    EXPECT_EQ(peer.Transcript(), std::string("\x05\x02\x00\x02", 4) +
                                     std::string("\x01\x06kwuser\x07secret!", 16) +
                                     std::string("\x05\x01\x00\x03\x0b", 5) + "ftp.example" + PortBytes(21));
}

TEST(SBSocketProxy, Socks5RefusalClosesTheSocket) {
    ScriptPeer peer(kwtest::Socks5RefusalScript());
    KW_REQUIRE_SCRIPT_PEER(peer);
    TElSocket s;
    UseSocks(s, peer.Port());
    s.SetAddress("127.0.0.1");
    s.SetPort(9);
    EXPECT_EQ(s.Connect(0), 5);
    EXPECT_EQ(s.State(), TElSocket::stNone);
    EXPECT_TRUE(peer.Finished()) << peer.Errors();
}

TEST(SBSocketProxy, ProxiesThatBreakTheirProtocolFailAtOnce) {
    // Each case waits without a time-out: a client that waited for more would hang.
    struct Case {
        const char* name;
        std::string script;
        TElSocksVersion version;
    };
    const Case cases[] = {
        {"closes before the method reply", Script().Recv(3).Send("\x05").Close().Json(), elSocks5},
        {"no acceptable method", Script().Recv(3).Send(std::string("\x05\xff", 2)).RecvAll().Json(),
         elSocks5},
        {"a method we did not offer", Script().Recv(3).Send(std::string("\x05\x01", 2)).RecvAll().Json(),
         elSocks5},
        {"wrong version", Script().Recv(3).Send(std::string("\x04\x00", 2)).RecvAll().Json(), elSocks5},
        {"closes inside the reply",
         Script()
             .Recv(3)
             .Send(std::string("\x05\x00", 2))
             .Recv(10)
             .Send(std::string("\x05\x00\x00\x01\x7f", 5))
             .Close()
             .Json(),
         elSocks5},
        {"unknown address type",
         Script()
             .Recv(3)
             .Send(std::string("\x05\x00", 2))
             .Recv(10)
             .Send(std::string("\x05\x00\x00\x07\x00\x00", 6))
             .RecvAll()
             .Json(),
         elSocks5},
        {"SOCKS 4 rejected",
         Script().Recv(9).Send(std::string("\x00\x5b\x00\x00\x00\x00\x00\x00", 8)).RecvAll().Json(),
         elSocks4},
        {"SOCKS 4 closes early", Script().Recv(9).Send(std::string("\x00\x5a\x00", 3)).Close().Json(),
         elSocks4},
    };
    for (const Case& c : cases) {
        ScriptPeer peer(c.script);
        KW_REQUIRE_SCRIPT_PEER(peer);
        TElSocket s;
        UseSocks(s, peer.Port(), c.version);
        s.SetAddress("127.0.0.1");
        s.SetPort(7);
        EXPECT_EQ(s.Connect(0), -1) << c.name;
        EXPECT_EQ(s.State(), TElSocket::stNone) << c.name;
    }
}

TEST(SBSocketProxy, FieldsOverTheirLengthByteAreRefusedBeforeSending) {
    const std::string long256(256, 'u');
    struct Case {
        const char* name;
        TElSocksVersion version;
        TElSocksAuthentication auth;
        std::string user, password, host;
    };
    const Case cases[] = {
        {"SOCKS 5 user", elSocks5, saUsercode, long256, "p", "127.0.0.1"},
        {"SOCKS 5 password", elSocks5, saUsercode, "u", long256, "127.0.0.1"},
        {"SOCKS 5 host name", elSocks5, saNoAuthentication, "", "", std::string(250, 'h') + ".example"},
        {"SOCKS 4 user id", elSocks4, saNoAuthentication, long256, "", "127.0.0.1"},
        {"SOCKS 4a host name", elSocks4, saNoAuthentication, "", "", std::string(250, 'h') + ".example"},
    };
    for (const Case& c : cases) {
        ScriptPeer peer(Script().RecvAll().Json());
        KW_REQUIRE_SCRIPT_PEER(peer);
        TElSocket s;
        UseSocks(s, peer.Port(), c.version, true);
        s.SocksAuthentication = c.auth;
        s.SocksUserCode = c.user;
        s.SocksPassword = c.password;
        s.SetAddress(c.host);
        s.SetPort(7);
        EXPECT_EQ(s.Connect(0), -1) << c.name;
        EXPECT_EQ(peer.Transcript(), "") << c.name;
    }
}

TEST(SBSocketProxy, Socks4aSendsTheNameAfterTheUserId) {
    Script script;
    script.Recv(2 + 2 + 4 + 3 + 1 + 11 + 1);
    Trickle(script, std::string("\x00\x5a\x00\x00\x00\x00\x00\x00", 8) + "xy").RecvAll();
    ScriptPeer peer(script.Json());
    KW_REQUIRE_SCRIPT_PEER(peer);
    TElSocket s;
    UseSocks(s, peer.Port(), elSocks4, true);
    s.SocksUserCode = "kwu";
    s.SetAddress("ftp.example");
    s.SetPort(0x1234);
    ASSERT_EQ(s.Connect(0), 0);
    EXPECT_EQ(ReceiveUpTo(s, 2), "xy");
    s.Close(false);
    EXPECT_EQ(peer.Transcript(), std::string("\x04\x01\x12\x34\x00\x00\x00\xff", 8) + "kwu" +
                                     std::string(1, '\0') + "ftp.example" + std::string(1, '\0'));
}

TEST(SBSocketProxy, TunnelSendsConnectWithCredentialsAndKeepsTrailingBytes) {
    Script script;
    script.RecvUntil("\r\n\r\n");
    Trickle(script, "HTTP/1.1 200 Connection established\r\n\r\n12345").RecvAll();
    ScriptPeer peer(script.Json());
    KW_REQUIRE_SCRIPT_PEER(peer);
    TElSocket s;
    UseTunnel(s, peer.Port(), "pu", "pp");
    s.SetAddress("files.example");
    s.SetPort(443);
    ASSERT_EQ(s.Connect(0), 0);
    EXPECT_EQ(s.ProxyResult(), 200);
    ASSERT_TRUE(s.CanReceive(0) || s.CanReceive(10000));
    EXPECT_EQ(ReceiveUpTo(s, 5), "12345");
    s.Close(false);
    EXPECT_EQ(peer.Transcript(),
              "CONNECT files.example:443 HTTP/1.1\r\nHost: files.example:443\r\nUser-agent: SecureClient\r\n"
              "Proxy-Authorization: Basic cHU6cHA=\r\n\r\n");
}

TEST(SBSocketProxy, TunnelRefusals) {
    // Without a time-out: a client that waited for more than the proxy gives would hang.
    struct Case {
        const char* name;
        std::string reply;
        int proxyResult;
        bool close;  // the proxy closes after its reply, else it waits for us
        std::string statusLine;
    };
    const Case cases[] = {
        {"407", "HTTP/1.0 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic\r\n\r\n", 407, false,
         "HTTP/1.0 407 Proxy Authentication Required"},
        {"403 with a control character", "HTTP/1.1 403 No\x1b[2J\r\n\r\n", 403, true, "HTTP/1.1 403 No?[2J"},
        {"no blank line in 1024 bytes", "HTTP/1.1 200 OK\r\nX: " + std::string(1100, 'a'), 0, false, ""},
        {"closed before the blank line", "HTTP/1.1 200 OK\r\n", 0, true, ""},
    };
    for (const Case& c : cases) {
        Script script;
        script.RecvUntil("\r\n\r\n").Send(c.reply);
        if (c.close)
            script.Close();
        else
            script.RecvAll();
        ScriptPeer peer(script.Json());
        KW_REQUIRE_SCRIPT_PEER(peer);
        TElSocket s;
        UseTunnel(s, peer.Port());
        s.SetAddress("files.example");
        s.SetPort(443);
        EXPECT_EQ(s.Connect(0), -1) << c.name;
        EXPECT_EQ(s.ProxyResult(), c.proxyResult) << c.name;
        EXPECT_EQ(s.ProxyStatusLine(), c.statusLine) << c.name;
        EXPECT_EQ(s.State(), TElSocket::stNone) << c.name;
    }
    // A target that would add lines to the request is refused before the proxy is reached.
    kwtest::LoopbackListener listener;
    TElSocket s;
    UseTunnel(s, listener.Port());
    s.SetAddress("a.example:1 HTTP/1.1\r\nX-Injected: 1\r\n");
    s.SetPort(443);
    EXPECT_EQ(s.Connect(0), -1);
    EXPECT_EQ(listener.Connections(), 0);
}

// A 407 as a proxy sends it while a challenge-response exchange is under way.
std::string Tunnel407(const std::string& challenge, const std::string& body, const std::string& extra = {}) {
    return "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: " + challenge +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra + "\r\n" + body;
}

size_t CountConnects(const std::string& transcript) {
    size_t n = 0;
    for (size_t at = transcript.find("CONNECT "); at != std::string::npos;
         at = transcript.find("CONNECT ", at + 1))
        ++n;
    return n;
}

TEST(SBSocketProxy, TunnelAuthenticatorAnswersOnTheSameConnection) {
    // The second refusal's body is larger than one read of the proxy's reply, and arrives with
    // its header: the rest waits in the read-ahead buffer.
    const std::string page(3000, 'p');
    const std::string connect =
        "CONNECT files.example:443 HTTP/1.1\r\nHost: files.example:443\r\nUser-agent: SecureClient\r\n";
    const std::string first = connect + "\r\n";
    const std::string second = connect + "Proxy-Authorization: NTLM token1\r\n\r\n";
    const std::string third = connect + "Proxy-Authorization: NTLM token2\r\n\r\n";
    const std::string refusal = Tunnel407("NTLM Y2hhbGxlbmdl", page);
    Script script;
    script.Recv(first.size()).Send(Tunnel407("NTLM", "denied")).Recv(second.size());
    Trickle(script, refusal.substr(0, 8)).Send(refusal.substr(8));
    script.Recv(third.size()).Send("HTTP/1.1 200 Connection established\r\n\r\nafter").RecvAll();
    ScriptPeer peer(script.Json());
    KW_REQUIRE_SCRIPT_PEER(peer);
    TElSocket s;
    UseTunnel(s, peer.Port(), "pu", "pp");
    std::vector<std::vector<std::string>> seen;
    s.WebTunnelAuthenticator = [&](const std::vector<std::string>& challenges) {
        seen.push_back(challenges);
        return seen.size() == 1 ? std::string()
                                : "Proxy-Authorization: NTLM token" + std::to_string(seen.size() - 1);
    };
    s.SetAddress("files.example");
    s.SetPort(443);
    ASSERT_EQ(s.Connect(0), 0);
    EXPECT_EQ(s.ProxyResult(), 200);
    EXPECT_EQ(ReceiveUpTo(s, 5), "after");
    s.Close(false);
    EXPECT_EQ(seen, (std::vector<std::vector<std::string>>{{}, {"NTLM"}, {"NTLM Y2hhbGxlbmdl"}}));
    // The authenticator's lines replace the Basic one.
    EXPECT_EQ(peer.Transcript(), first + second + third);
}

TEST(SBSocketProxy, TunnelAuthenticatorRefusals) {
    struct Case {
        const char* name;
        std::vector<std::string> replies;  // one per CONNECT; the proxy then waits for our close
        size_t connects;
        bool answers = true;  // the authenticator answers every challenge
    };
    const std::string again = Tunnel407("NTLM", "denied");
    const Case cases[] = {
        {"the proxy closes the connection", {Tunnel407("NTLM", "denied", "Connection: close\r\n")}, 1},
        {"the proxy's connection closes", {Tunnel407("NTLM", "denied", "Proxy-Connection: close\r\n")}, 1},
        {"a body without a length", {"HTTP/1.1 407 No\r\nProxy-Authenticate: NTLM\r\n\r\ndenied"}, 1},
        {"a chunked body", {Tunnel407("NTLM", "", "Transfer-Encoding: chunked\r\n")}, 1},
        {"differing lengths", {Tunnel407("NTLM", "denied", "Content-Length: 7\r\n")}, 1},
        {"a body past its ceiling",
         {"HTTP/1.1 407 No\r\nProxy-Authenticate: NTLM\r\nContent-Length: 300000\r\n\r\n"},
         1},
        {"a header block past its ceiling",
         {"HTTP/1.1 407 No\r\nProxy-Authenticate: NTLM " + std::string(17000, 'A') + "\r\n"},
         1},
        {"a challenge the authenticator cannot answer", {again}, 1, false},
        {"four 407s in a row", {again, again, again, again}, 4},
    };
    for (const Case& c : cases) {
        // Each reply goes once its CONNECT has come whole.
        const std::string connect =
            "CONNECT files.example:443 HTTP/1.1\r\nHost: files.example:443\r\nUser-agent: SecureClient\r\n";
        Script script;
        script.Recv(connect.size() + 2).Send(c.replies[0]);
        for (size_t i = 1; i < c.replies.size(); ++i)
            script.Recv(connect.size() + std::string("Proxy-Authorization: NTLM abc\r\n\r\n").size())
                .Send(c.replies[i]);
        script.RecvAll();
        ScriptPeer peer(script.Json());
        KW_REQUIRE_SCRIPT_PEER(peer);
        TElSocket s;
        UseTunnel(s, peer.Port());
        s.WebTunnelAuthenticator = [&](const std::vector<std::string>& challenges) {
            return challenges.empty() || !c.answers ? std::string() : "Proxy-Authorization: NTLM abc";
        };
        s.SetAddress("files.example");
        s.SetPort(443);
        EXPECT_EQ(s.Connect(30000), -1) << c.name;
        EXPECT_EQ(s.State(), TElSocket::stNone) << c.name;
        EXPECT_EQ(CountConnects(peer.Transcript()), c.connects) << c.name;
    }
}

TEST(SBSocketProxy, RealSocksServersCarryAConversation) {
    kwtest::TcpEcho echo;
    kwtest::Dante dante;
    KW_REQUIRE_PEER(dante.Available(), dante.Reason());
    struct Case {
        const char* name;
        TElSocksVersion version;
        bool byName;
    };
    for (const Case& c :
         {Case{"dante SOCKS 5", elSocks5, false}, Case{"dante SOCKS 5 by name", elSocks5, true},
          Case{"dante SOCKS 4", elSocks4, false}}) {
        TElSocket s;
        UseSocks(s, dante.Port(), c.version, c.byName);
        s.SetAddress(c.byName ? "localhost" : "127.0.0.1");
        s.SetPort(echo.Port());
        ASSERT_EQ(s.Connect(10000), 0) << c.name << dante.ReadLog();
        EXPECT_EQ(EchoThrough(s, std::string("hello through ") + c.name),
                  std::string("hello through ") + c.name);
    }

    kwtest::MicroSocks micro("kwuser", "kw-secret");
    KW_REQUIRE_PEER(micro.Available(), micro.Reason());
    TElSocket s;
    UseSocksUser(s, micro.Port(), "kwuser", "kw-secret");
    s.SetAddress("127.0.0.1");
    s.SetPort(echo.Port());
    ASSERT_EQ(s.Connect(10000), 0);
    EXPECT_EQ(EchoThrough(s, "through microsocks"), "through microsocks");

    TElSocket wrong;
    UseSocksUser(wrong, micro.Port(), "kwuser", "wrong");
    wrong.SetAddress("127.0.0.1");
    wrong.SetPort(echo.Port());
    EXPECT_EQ(wrong.Connect(10000), -1);
}

TEST(SBSocketProxy, TinyproxyTunnel) {
    kwtest::TcpEcho echo;
    kwtest::Tinyproxy proxy("pu", "pp");
    KW_REQUIRE_PEER(proxy.Available(), proxy.Reason());
    TElSocket s;
    UseTunnel(s, proxy.Port(), "pu", "pp");
    s.SetAddress("127.0.0.1");
    s.SetPort(echo.Port());
    ASSERT_EQ(s.Connect(10000), 0) << proxy.ReadLog();
    EXPECT_EQ(s.ProxyResult(), 200);
    EXPECT_EQ(EchoThrough(s, "through tinyproxy"), "through tinyproxy");

    TElSocket refused;
    UseTunnel(refused, proxy.Port());
    refused.SetAddress("127.0.0.1");
    refused.SetPort(echo.Port());
    EXPECT_EQ(refused.Connect(10000), -1);
    EXPECT_EQ(refused.ProxyResult(), 407);
    EXPECT_EQ(refused.ProxyStatusLine().rfind("HTTP/1.", 0), 0u) << refused.ProxyStatusLine();
    EXPECT_NE(refused.ProxyStatusLine().find(" 407 "), std::string::npos) << refused.ProxyStatusLine();
    // The next connect starts without the last one's reply.
    refused.SetUseWebTunneling(false);
    EXPECT_EQ(refused.Connect(10000), 0);
    EXPECT_EQ(refused.ProxyStatusLine(), "");
}

}  // namespace
