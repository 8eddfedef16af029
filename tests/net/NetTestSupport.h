// tests/net/NetTestSupport.h: what the internet library's tests share: a component that keeps
// the socket stack alive, a stack that counts its lookups and its instances, a handler's SOCKS
// proxy set up, and loopback socket pairs made through the stack.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <utility>

#include "net/IdComponent.h"
#include "net/IdIOHandlerStack.h"
#include "net/IdSocks.h"
#include "net/IdStack.h"
#include "net/IdStackLinux.h"

namespace kwtest {

// While one lives, the global stack exists.
struct StackHolder {
    std::unique_ptr<TIdComponent> component = std::make_unique<TIdComponent>();
    TIdStackLinux& stack() { return *static_cast<TIdStackLinux*>(GStack()); }
};

// A Linux stack that counts its lookups and how many instances live at once.
class CountingStack : public TIdStackLinux {
public:
    static inline std::atomic<int> alive{0};
    static inline std::atomic<int> made{0};
    static inline std::atomic<int> maxAlive{0};
    static inline std::atomic<int> lookups{0};

    CountingStack() {
        const int now = ++alive;
        ++made;
        int seen = maxAlive.load();
        while (now > seen && !maxAlive.compare_exchange_weak(seen, now)) {
        }
    }
    ~CountingStack() override { --alive; }

    std::string LookUpHostAddress(const std::string& host, TIdIPVersion ipVersion) override {
        ++lookups;
        return TIdStackLinux::LookUpHostAddress(host, ipVersion);
    }
    static std::unique_ptr<TIdStack> Make() { return std::make_unique<CountingStack>(); }
};

// Installs CountingStack as the stack class for a test (no component may live meanwhile).
struct ScopedCountingStack {
    ScopedCountingStack() {
        CountingStack::alive = 0;
        CountingStack::made = 0;
        CountingStack::maxAlive = 0;
        CountingStack::lookups = 0;
        TIdStack::SetStackClass(&CountingStack::Make);
    }
    ~ScopedCountingStack() { TIdStack::SetStackClass(&TIdStackLinux::MakeStack); }
};

// The handler's own SOCKS proxy, set to a version and a server on 127.0.0.1.
inline TIdSocksInfo& SocksOf(TIdIOHandlerStack& io, TSocksVersion version, int port) {
    auto& socks = static_cast<TIdSocksInfo&>(*io.TransparentProxy());
    socks.Version = version;
    socks.Host = "127.0.0.1";
    socks.Port = port;
    return socks;
}

// A listening socket on the loopback address of a version, at a port the system chose.
struct Listener {
    TIdStackLinux& stack;
    TIdIPVersion version;
    TIdStackSocketHandle fd;
    uint16_t port = 0;

    Listener(TIdStackLinux& s, TIdIPVersion v, int backlog = 8)
        : stack(s), version(v), fd(s.CreateSocket(Id_SOCK_STREAM, 0, v)) {
        stack.BindSocket(fd, v == Id_IPv4 ? "127.0.0.1" : "::1", 0, v);
        stack.ListenSocket(fd, backlog);
        std::string address;
        stack.ReadLocalAddress(fd, address, port);
    }
    ~Listener() { stack.CloseSocketHandle(fd); }
    std::string Address() const { return version == Id_IPv4 ? "127.0.0.1" : "::1"; }
};

// A connected pair of loopback sockets (client, server), closed with the object.
struct SocketPair {
    TIdStackLinux& stack;
    TIdStackSocketHandle client = Id_INVALID_SOCKET;
    TIdStackSocketHandle server = Id_INVALID_SOCKET;

    SocketPair(TIdStackLinux& s, Listener& l) : stack(s) {
        client = stack.CreateSocket(Id_SOCK_STREAM, 0, l.version);
        stack.ConnectSocket(client, l.Address(), l.port, l.version);
        std::string address;
        uint16_t port;
        server = stack.AcceptConnection(l.fd, address, port);
    }
    ~SocketPair() {
        if (client >= 0) stack.CloseSocketHandle(client);
        if (server >= 0) stack.CloseSocketHandle(server);
    }
};

}  // namespace kwtest
