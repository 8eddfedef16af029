// tests/support/LoopbackListeners.h: sockets on 127.0.0.1 at ephemeral ports that reachability
// probes, transports and the programs that start peers meet: a free port, whether a port
// accepts, a listener that counts the connections made to it (they wait in
// its queue, never accepted unless counted, never answered), a port that refuses, and a
// listener whose queue is full so that a connect to it neither succeeds nor fails until its
// time-out.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kwtest {

namespace detail {
inline sockaddr_in LoopbackAddress(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

inline int BoundLoopbackSocket(uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = LoopbackAddress(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}
}  // namespace detail

// A port of 127.0.0.1 that was free a moment ago (bound, then let go): for a server program
// told its port, or a connect that must find nothing there.
inline int FreeLoopbackPort() {
    uint16_t port = 0;
    ::close(detail::BoundLoopbackSocket(port));
    return port;
}

// Whether a connection to 127.0.0.1:port is accepted (it is closed at once).
inline bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = detail::LoopbackAddress(uint16_t(port));
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// A listener that never answers. Connections made to it complete (the system accepts them
// into its queue); Connections() takes them out and counts them.
class LoopbackListener {
public:
    explicit LoopbackListener(int backlog = 16) {
        fd_ = detail::BoundLoopbackSocket(port_);
        ::listen(fd_, backlog);
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    }
    ~LoopbackListener() {
        for (int c : accepted_)
            ::close(c);
        ::close(fd_);
    }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    uint16_t Port() const { return port_; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
    // The connections made so far (a probe's connect has completed before the probe returns,
    // so its connection is in the queue by then).
    int Connections() {
        for (;;) {
            const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) break;
            accepted_.push_back(c);
        }
        return int(accepted_.size());
    }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
    std::vector<int> accepted_;
};

// A port bound on 127.0.0.1 where nothing listens: connects to it are refused (10061). The
// port stays bound while the object lives, so no other test can listen on it meanwhile.
class RefusedPort {
public:
    RefusedPort() { fd_ = detail::BoundLoopbackSocket(port_); }
    ~RefusedPort() { ::close(fd_); }
    RefusedPort(const RefusedPort&) = delete;
    RefusedPort& operator=(const RefusedPort&) = delete;
    uint16_t Port() const { return port_; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

// A listener with backlog 0 whose queue a connection of ours fills: a further connect waits
// until its own time-out.
class FullBacklogListener {
public:
    FullBacklogListener() {
        fd_ = detail::BoundLoopbackSocket(port_);
        ::listen(fd_, 0);
        filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in a = detail::LoopbackAddress(port_);
        ::connect(filler_, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    }
    ~FullBacklogListener() {
        ::close(filler_);
        ::close(fd_);
    }
    FullBacklogListener(const FullBacklogListener&) = delete;
    FullBacklogListener& operator=(const FullBacklogListener&) = delete;
    uint16_t Port() const { return port_; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    int fd_ = -1;
    int filler_ = -1;
    uint16_t port_ = 0;
};

}  // namespace kwtest
