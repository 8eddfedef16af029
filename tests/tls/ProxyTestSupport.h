// tests/tls/ProxyTestSupport.h: what the transport clients' proxy tests share: a socket or a
// client (anything that holds TElProxySettings) sent through a SOCKS server or an HTTP tunnel
// on 127.0.0.1, the script of a SOCKS 5 server that refuses the connect, the bytes a
// connected socket receives up to a count, and squid as a proxy that demands NTLM.
#pragma once

#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/net/ScriptBuilder.h"
#include "tests/net/SocksPeers.h"
#include "tls/SBSocket.h"

namespace kwtest {

// squid's own folder: squid started as root works as the user "proxy", which must be able to
// write its logs there and to run its authenticator from there (our clone may be a folder no
// other user can enter): tests/peers/ntlm_peer.py and what it needs are copied in.
struct SquidFolder {
    TempDir dir;
    // basicPasswords: the lines of a password file for squid's Basic authenticator, when it
    // also offers Basic.
    explicit SquidFolder(const std::string& account, const std::string& basicPasswords = {}) {
        namespace fs = std::filesystem;
        for (const char* name : {"ntlm_peer.py", "peer_process.py", "openssl-legacy.cnf"})
            fs::copy_file(fs::path(KW_SOURCE_DIR) / "tests/peers" / name, dir / name);
        WriteFile(dir / "account.json", account);
        if (!basicPasswords.empty()) WriteFile(dir / "basic.passwd", basicPasswords);
        fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                        fs::perms::others_read | fs::perms::others_exec);
        const passwd* proxy = ::getuid() == 0 ? ::getpwnam("proxy") : nullptr;
        if (proxy == nullptr) return;
        for (const fs::directory_entry& e : fs::directory_iterator(dir.path()))
            (void)!::chown(e.path().c_str(), proxy->pw_uid, proxy->pw_gid);
        (void)!::chown(dir.path().c_str(), proxy->pw_uid, proxy->pw_gid);
    }
    std::string AccessLog() const {
        return std::filesystem::exists(dir / "access.log") ? ReadFile(dir / "access.log") : std::string();
    }
    std::string CacheLog() const {
        return std::filesystem::exists(dir / "cache.log") ? ReadFile(dir / "cache.log") : std::string();
    }
    // What the authenticator was asked and answered, one JSON line each.
    std::string HelperLog() const {
        return std::filesystem::exists(dir / "helper.jsonl") ? ReadFile(dir / "helper.jsonl") : std::string();
    }
};

// squid on 127.0.0.1 that lets through only clients that authenticate with NTLM as the account
// (user, password, domain) the authenticator knows: ntlm_peer.py in its squid-helper mode runs
// the exchange and checks the NTLMv2 response. (Debian's ntlm_fake_auth cannot stand in: its
// challenge message points its target name outside the message, which a conforming client
// refuses.) Its own pid file, no cache, logs in its folder; stopped when the object goes.
struct Squid : SquidFolder, DaemonPeer {
    // basicPasswords: see SquidFolder; squid then offers Basic after NTLM.
    Squid(const std::string& user, const std::string& password, const std::string& domain,
          const std::string& basicPasswords = {})
        : SquidFolder("{\"user\": " + Script::Quote(user) + ", \"password\": " + Script::Quote(password) +
                          ", \"domain\": " + Script::Quote(domain) + "}",
                      basicPasswords),
          DaemonPeer("squid", {"-N", "-n", "kwsquid{PORT}", "-f", "{DIR}/server.conf"},
                     "http_port 127.0.0.1:{PORT}\n"
                     "pid_filename {DIR}/squid.pid\n"
                     "cache_log " +
                         (dir / "cache.log").string() +
                         "\n"
                         "access_log stdio:" +
                         (dir / "access.log").string() +
                         "\n"
                         "cache_store_log none\n"
                         "cache deny all\n"
                         "cache_mem 8 MB\n"
                         "coredump_dir " +
                         dir.path().string() +
                         "\n"
                         "visible_hostname kwproxy\n"
                         "pinger_enable off\n"
                         "shutdown_lifetime 0 seconds\n"
                         "auth_param ntlm program /usr/bin/python3 " +
                         (dir / "ntlm_peer.py").string() + " --squid-helper --script " +
                         (dir / "account.json").string() + " --log " + (dir / "helper.jsonl").string() +
                         "\n"
                         "auth_param ntlm children 2\n" +
                         (basicPasswords.empty()
                              ? std::string()
                              : "auth_param basic program /usr/lib/squid/basic_ncsa_auth " +
                                    (dir / "basic.passwd").string() +
                                    "\nauth_param basic children 2\nauth_param basic realm kw\n") +
                         "acl authenticated proxy_auth REQUIRED\n"
                         "http_access allow authenticated\n"
                         "http_access deny all\n") {}
};

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
