// tests/tls/ProxyTestSupport.h: what the transport clients' proxy tests share: a socket or a
// client (anything that holds TElProxySettings) sent through a SOCKS server or an HTTP tunnel
// on 127.0.0.1, the script of a SOCKS 5 server that refuses the connect, and the bytes a
// connected socket receives up to a count.
#pragma once

#include <string>

#include "tests/net/ScriptBuilder.h"
#include "tls/SBSocket.h"

namespace kwtest {

// Through the SOCKS server at 127.0.0.1:port, without a user; byName: the server resolves the
// target's name.
inline void UseSocks(TElProxySettings& p, int port, TElSocksVersion version = elSocks5, bool byName = false) {
    p.SetUseSocks(true);
    p.SocksVersion = version;
    p.SocksResolveAddress = byName;
    p.SocksServer = "127.0.0.1";
    p.SocksPort = port;
}

// Through the SOCKS 5 server at 127.0.0.1:port, logging in with user and password.
inline void UseSocksUser(TElProxySettings& p, int port, const std::string& user, const std::string& password) {
    UseSocks(p, port);
    p.SocksAuthentication = saUsercode;
    p.SocksUserCode = user;
    p.SocksPassword = password;
}

// Through the HTTP tunnel at 127.0.0.1:port; Basic credentials when a user is named.
inline void UseTunnel(TElProxySettings& p, int port, const std::string& user = {}, const std::string& password = {}) {
    p.SetUseWebTunneling(true);
    p.WebTunnelAddress = "127.0.0.1";
    p.WebTunnelPort = port;
    if (user.empty()) return;
    p.WebTunnelAuthentication = wtaRequiresAuthentication;
    p.WebTunnelUserId = user;
    p.WebTunnelPassword = password;
}

// A SOCKS 5 server that takes "no authentication", reads a connect request for an IPv4 target
// and refuses it with reply code 5 (connection refused), then waits for the client to close.
inline std::string Socks5RefusalScript() {
    return Script()
        .Recv(3)
        .Send(std::string("\x05\x00", 2))
        .Recv(10)
        .Send(std::string("\x05\x05\x00\x01\x00\x00\x00\x00\x00\x00", 10))
        .RecvAll()
        .Json();
}

// What a connected socket receives until count bytes came, it closed or 10 s passed without
// a byte.
inline std::string ReceiveUpTo(TElSocket& s, size_t count) {
    std::string got;
    char buf[256];
    int n = 0;
    while (got.size() < count && s.CanReceive(10000)) {
        if (s.Receive(buf, sizeof buf, n) != 0 || n == 0) break;
        got.append(buf, size_t(n));
    }
    return got;
}

}  // namespace kwtest
