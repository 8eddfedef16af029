// platform/ClientSocket.cpp: the client socket over POSIX sockets with poll; every wait also
// watches a pipe that Cancel and Wake write to.
#include "platform/ClientSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/WinError.h"
#include "rtl/Format.h"

namespace plat {

namespace {

std::string SocketErrorText(int code, const std::string& reason, const char* api) {
    return rtl::Format("Windows socket error: %s (%d), on API '%s'", reason, code, api);
}

}  // namespace

ClientSocket::ClientSocket() {
    int p[2];
    if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) != 0) Fail(errno, "pipe");
    wakeRead_ = p[0];
    wakeWrite_ = p[1];
}

ClientSocket::~ClientSocket() {
    Close();
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

void ClientSocket::Fail(int err, const char* api) const {
    const int code = WinErrorFromErrno(err, ErrorDomain::Socket);
    throw ESocketError(SocketErrorText(code, SystemErrorText(err), api), code);
}

void ClientSocket::CheckCancelled(const char* api) const {
    if (cancelled_.load()) Fail(EINTR, api);
}

void ClientSocket::DrainWake() {
    char buf[64];
    while (::read(wakeRead_, buf, sizeof buf) > 0) {
    }
}

ClientSocket::WaitResult ClientSocket::WaitFor(short events, int timeoutMs, const char* api, bool ownerWait) {
    for (;;) {
        CheckCancelled(api);
        pollfd fds[2] = {{fd_, events, 0}, {wakeRead_, POLLIN, 0}};
        const int r = ::poll(fds, 2, timeoutMs);
        if (r < 0) {
            if (errno == EINTR) continue;
            Fail(errno, "poll");
        }
        if (fds[1].revents != 0) {
            DrainWake();
            CheckCancelled(api);
            if (ownerWait) return WaitResult::Woken;
            // A wake meant for the owner's WaitReadable that comes while it connects, sends or
            // receives is kept for that wait.
            wakePending_ = true;
            continue;
        }
        return r > 0 ? WaitResult::Readable : WaitResult::TimedOut;
    }
}

void ClientSocket::Connect(const std::string& host, uint16_t port, bool hostIsAddress) {
    Close();
    CheckCancelled("connect");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (hostIsAddress) {
        if (::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) Fail(EINVAL, "inet_addr");
    } else {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int r = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
        if (r != 0 || found == nullptr) {
            const int code = WinErrorFromAddrInfo(r, errno);
            throw ESocketError(SocketErrorText(code, ::gai_strerror(r), "gethostbyname"), code);
        }
        addr.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
        ::freeaddrinfo(found);
    }

    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) Fail(errno, "socket");
    try {
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
            if (errno != EINPROGRESS) Fail(errno, "connect");
            WaitFor(POLLOUT, -1, "connect", false);
            int err = 0;
            socklen_t len = sizeof err;
            if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) Fail(errno, "connect");
            if (err != 0) Fail(err, "connect");
        }
    } catch (...) {
        Close();
        throw;
    }
}

void ClientSocket::SendAll(const void* data, size_t size) {
    if (fd_ < 0) Fail(ENOTCONN, "send");
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        CheckCancelled("send");
        const ssize_t n = ::send(fd_, p, size, MSG_NOSIGNAL);
        if (n > 0) {
            p += n;
            size -= size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            WaitFor(POLLOUT, -1, "send", false);
            continue;
        }
        Fail(n < 0 ? errno : EPIPE, "send");
    }
}

size_t ClientSocket::Receive(void* data, size_t size) {
    if (fd_ < 0) Fail(ENOTCONN, "recv");
    for (;;) {
        CheckCancelled("recv");
        const ssize_t n = ::recv(fd_, data, size, 0);
        if (n >= 0) return size_t(n);
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) Fail(errno, "recv");
        WaitFor(POLLIN, -1, "recv", false);
    }
}

ClientSocket::WaitResult ClientSocket::WaitReadable(int timeoutMs) {
    if (fd_ < 0) Fail(ENOTCONN, "select");
    CheckCancelled("select");
    if (wakePending_) {
        wakePending_ = false;
        return WaitResult::Woken;
    }
    return WaitFor(POLLIN, timeoutMs, "select", true);
}

void ClientSocket::Wake() {
    const char b = 'w';
    [[maybe_unused]] const ssize_t n = ::write(wakeWrite_, &b, 1);  // a full pipe already wakes
}

void ClientSocket::Cancel() {
    cancelled_.store(true);
    Wake();
}

void ClientSocket::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace plat
