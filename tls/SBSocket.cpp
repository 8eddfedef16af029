// tls/SBSocket.cpp: TElSocket over POSIX sockets and poll (see the header).
#include "tls/SBSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/Clock.h"
#include "platform/WinError.h"
#include "platform/Workstation.h"
#include "rtl/Format.h"
#include "rtl/Text.h"
#include "tls/SBHTTPAuth.h"

namespace {

int LastSocketError() {
    return plat::WinErrorFromErrno(errno, plat::ErrorDomain::Socket);
}

// poll on one descriptor, repeated after a signal with the time that is left. timeout < 0
// waits without limit. Answers the revents (0 on a time-out), or -1 with errno set.
int PollOne(int fd, short events, int timeout) {
    const uint32_t start = plat::GetClock().TickCount();
    for (;;) {
        int wait = timeout;
        if (timeout > 0) {
            const uint32_t elapsed = GetElapsedTicks(start);
            wait = elapsed >= uint32_t(timeout) ? 0 : int(uint32_t(timeout) - elapsed);
        }
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, wait);
        if (n > 0) return p.revents;
        if (n == 0) return 0;
        if (errno != EINTR) return -1;
    }
}

// The error a non-blocking connect on fd ended with: 0 once it is made. A refused connect
// shows as writable with an error pending: the pending error is the result.
int PendingConnectError(int fd) {
    int pending = 0;
    socklen_t len = sizeof pending;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &len) != 0) pending = errno;
    return pending == 0 ? 0 : plat::WinErrorFromErrno(pending, plat::ErrorDomain::Socket);
}

// Waits for the events on fd: 0 once they came, else the error (the system's, or the time-out).
int WaitFor(int fd, short events, int timeout) {
    const int revents = PollOne(fd, events, timeout);
    if (revents < 0) return LastSocketError();
    return revents == 0 ? SB_WSAETIMEDOUT : 0;
}

// The wait left of a proxy exchange's time-out that started at start: -1 (no limit) for a
// time-out of 0; false once it has run out.
bool WaitLeft(int timeout, uint32_t start, int& wait) {
    wait = -1;
    if (timeout <= 0) return true;
    const uint32_t elapsed = GetElapsedTicks(start);
    if (elapsed >= uint32_t(timeout)) return false;
    wait = int(uint32_t(timeout) - elapsed);
    return true;
}

bool ParseDotted(const std::string& text, in_addr& out) {
    return ::inet_pton(AF_INET, text.c_str(), &out) == 1;
}

// RFC 6761 section 6.4: names under "invalid" never resolve; say so without asking anyone.
bool IsInvalidName(const std::string& host) {
    std::string h = rtl::LowerCase(host);
    if (!h.empty() && h.back() == '.') h.pop_back();
    return h == "invalid" || rtl::EndsText(".invalid", h);
}

sockaddr_in MakeAddress(const std::string& dotted, int32_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    ParseDotted(dotted, a.sin_addr);
    return a;
}

std::string DottedOf(const sockaddr_in& a) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    return text;
}

bool ValidPort(int32_t port) {
    return port >= 1 && port <= 65535;
}

// A host name goes into a proxy request as it stands: it must not end the request early or
// add lines to it.
bool IsSafeProxyHost(const std::string& host) {
    if (host.empty()) return false;
    for (unsigned char c : host)
        if (c <= 0x20 || c == 0x7F) return false;
    return true;
}

}  // namespace

std::string ResolveSocketAddress(const std::string& host) {
    in_addr a{};
    if (ParseDotted(host, a)) return host;
    if (!IsInvalidName(host)) {
        const std::vector<std::string> all = plat::ResolveIPv4Addresses(host);
        if (!all.empty()) return all.front();
    }
    throw EElSocketError(SInvalidAddress, SB_SOCKET_ERROR_INVALID_ADDRESS);
}

TElSocket::TElSocket(rtl::Component* owner) : rtl::Component(owner), readAhead_(kReadAheadSize) {}

TElSocket::~TElSocket() {
    MarkDestroying();
    Close(false);
}

void TElSocket::RaiseState() const {
    throw EElSocketError(rtl::Format("%s (%d)", SWrongSocketState, int(state_.load())),
                         SB_SOCKET_ERROR_WRONG_SOCKET_STATE);
}

void TElSocket::CheckState(std::initializer_list<uint8_t> allowed) const {
    if (std::find(allowed.begin(), allowed.end(), state_.load()) == allowed.end()) RaiseState();
}

void TElSocket::SetAddress(const std::string& value) {
    CheckState({stNone, stCreated});
    address_ = value;
}

void TElSocket::SetPort(int32_t value) {
    CheckState({stNone, stCreated});
    port_ = value;
}

int TElSocket::CreateSocketHandle(bool datagram) {
    CheckState({stNone, stCreated});
    readPos_ = readLen_ = 0;
    if (state_ == stCreated) return 0;
    state_ = stCreating;
    const int fd = ::socket(AF_INET, (datagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        const int code = LastSocketError();
        state_ = stNone;
        return code;
    }
    // Close from another thread while the descriptor was being made: it is not ours to keep.
    if (abortCreation_.exchange(false)) {
        ::close(fd);
        state_ = stNone;
        return 0;
    }
    handle_ = fd;
    datagram_ = datagram;
    state_ = stCreated;
    return 0;
}

void TElSocket::EnsureHandle() {
    if (handle_ < 0 && (CreateSocketHandle(false) != 0 || handle_ < 0))
        throw EElSocketError(SNotASocket, SB_SOCKET_ERROR_NOT_A_SOCKET);
}

void TElSocket::SetNonBlocking() {
    const int flags = ::fcntl(handle_, F_GETFL, 0);
    if (flags >= 0) ::fcntl(handle_, F_SETFL, flags | O_NONBLOCK);
}

int TElSocket::RecordBoundAddress() {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(handle_, reinterpret_cast<sockaddr*>(&a), &len) != 0) return LastSocketError();
    boundAddress_ = DottedOf(a);
    boundPort_ = ntohs(a.sin_port);
    return 0;
}

int TElSocket::Connect(int timeout) {
    proxyResult_ = 0;
    proxyStatusLine_.clear();
    if (!ValidPort(port_)) return SB_WSAEADDRNOTAVAIL;
    if (UseSocks()) return ConnectThroughSocks(timeout);
    if (UseWebTunneling()) return ConnectThroughTunnel(timeout);
    return ConnectDirect(timeout);
}

int TElSocket::PrepareConnect(int32_t port) {
    if (!ListenAddress.empty() && state_ != stBound) {
        const int rc = Bind();
        if (rc != 0) return rc;
    }
    EnsureHandle();
    CheckState({stCreated, stBound});
    return ValidPort(port) ? 0 : SB_WSAEADDRNOTAVAIL;
}

int TElSocket::StartConnect(const std::string& host, int32_t port) {
    const sockaddr_in target = MakeAddress(ResolveSocketAddress(host), port);
    if (::connect(handle_, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0 || errno == EISCONN) {
        state_ = stConnected;
        return 0;
    }
    if (errno == EINPROGRESS || errno == EAGAIN || errno == EALREADY) {
        state_ = stConnecting;
        return 0;
    }
    const int code = LastSocketError();
    state_ = stCreated;
    return code;
}

int TElSocket::ConnectDirect(int timeout) {
    return ConnectDirectTo(address_, port_, timeout);
}

int TElSocket::ConnectDirectTo(const std::string& host, int32_t port, int timeout) {
    // A negative time-out waits as long as the system does, like 0.
    if (timeout < 0) timeout = 0;
    if (const int rc = PrepareConnect(port); rc != 0) return rc;
    if (timeout == 0) {
        // A blocking connect: the system's own time-out, and no code of its own.
        const sockaddr_in target = MakeAddress(ResolveSocketAddress(host), port);
        if (::connect(handle_, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0)
            return SB_SOCKET_PROXY_FAILURE;
        state_ = stConnected;
        return RecordBoundAddress();
    }
    SetNonBlocking();
    if (const int rc = StartConnect(host, port); rc != 0) return rc;
    if (state_ == stConnecting) {
        int rc = WaitFor(handle_, POLLOUT, timeout);
        if (rc == 0) rc = PendingConnectError(handle_);
        if (rc != 0) {
            state_ = stCreated;
            return rc;
        }
        state_ = stConnected;
    }
    return RecordBoundAddress();
}

int TElSocket::Bind() {
    EnsureHandle();
    CheckState({stCreated});
    if (ListenPort < 0 || ListenPort > 65535) return SB_WSAEADDRNOTAVAIL;
    const std::string local = ListenAddress.empty() ? std::string("0.0.0.0") : ResolveSocketAddress(ListenAddress);
    const sockaddr_in a = MakeAddress(local, ListenPort);
    if (::bind(handle_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) return LastSocketError();
    const int rc = RecordBoundAddress();
    if (rc == 0) state_ = stBound;
    return rc;
}

int TElSocket::Listen() {
    CheckState({stBound});
    if (::listen(handle_, 5) != 0) return LastSocketError();
    state_ = stListening;
    return 0;
}

int TElSocket::Accept(int timeout) {
    CheckState({stListening});
    if (timeout != 0) SetNonBlocking();
    if (const int rc = WaitFor(handle_, POLLIN, timeout); rc != 0) {
        state_ = stBound;
        return rc;
    }
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    const int fd = ::accept4(handle_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
    if (fd < 0) {
        state_ = stBound;
        return LastSocketError();
    }
    ::close(handle_);
    handle_ = fd;
    address_ = DottedOf(peer);
    port_ = ntohs(peer.sin_port);
    readPos_ = readLen_ = 0;
    state_ = stConnected;
    return RecordBoundAddress();
}

int TElSocket::AsyncConnect(int timeout, TElSocket* watched, const TElSocketWatchEvent& handler, bool watchRead,
                            bool watchWrite) {
    if (const int rc = PrepareConnect(port_); rc != 0) return rc;
    SetNonBlocking();
    if (const int rc = StartConnect(address_, port_); rc != 0) return rc;
    const uint32_t start = plat::GetClock().TickCount();
    while (state_ == stConnecting) {
        const uint32_t elapsed = GetElapsedTicks(start);
        if (timeout > 0 && elapsed >= uint32_t(timeout)) break;
        pollfd fds[2] = {{handle_, POLLOUT, 0}, {-1, 0, 0}};
        if (watched != nullptr && watched->Handle() >= 0) {
            fds[1].fd = watched->Handle();
            fds[1].events = short((watchRead ? POLLIN : 0) | (watchWrite ? POLLOUT : 0));
        }
        const int wait = timeout > 0 ? int(uint32_t(timeout) - elapsed) : -1;
        const int n = ::poll(fds, 2, wait);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int code = LastSocketError();
            state_ = stCreated;
            return code;
        }
        if (n == 0) continue;
        if (fds[0].revents & (POLLOUT | POLLERR | POLLHUP)) {
            if (const int rc = PendingConnectError(handle_); rc != 0) {
                Close(true);
                return rc;
            }
        }
        bool cancel = false;
        const short watchedReady = short(fds[1].revents & (POLLIN | POLLOUT | POLLHUP | POLLERR));
        if (watchedReady != 0 && handler) handler(*this, *watched, (fds[1].revents & POLLOUT) ? 2 : 0, cancel);
        if (cancel) {
            Close(true);
            return SB_SOCKET_PROXY_FAILURE;
        }
        if (fds[0].revents & POLLOUT) {
            state_ = stConnected;
            RecordBoundAddress();
        }
    }
    if (state_ == stConnected) return 0;
    state_ = stCreated;
    return SB_WSAETIMEDOUT;
}

int TElSocket::ConsumeReadAhead(void* buffer, int size) {
    const int n = std::min(size, readLen_ - readPos_);
    std::memcpy(buffer, readAhead_.data() + readPos_, size_t(n));
    readPos_ += n;
    if (readPos_ == readLen_) readPos_ = readLen_ = 0;
    return n;
}

int TElSocket::Receive(void* buffer, int size, int& received) {
    CheckState({stConnected});
    received = 0;
    if (size <= 0) return 0;
    if (readLen_ > readPos_) {
        received = ConsumeReadAhead(buffer, size);
        return 0;
    }
    // A read as large as the read-ahead buffer goes straight to the caller.
    const bool direct = size_t(size) >= readAhead_.size();
    const ssize_t n = ::recv(handle_, direct ? buffer : readAhead_.data(), direct ? size_t(size) : readAhead_.size(), 0);
    if (n < 0) return LastSocketError();
    if (direct) {
        received = int(n);
    } else {
        readPos_ = 0;
        readLen_ = int(n);
        received = ConsumeReadAhead(buffer, size);
    }
    return 0;
}

int TElSocket::Send(const void* buffer, int size, int& sent) {
    CheckState({stConnected});
    sent = 0;
    if (size <= 0) return 0;
    const ssize_t n = ::send(handle_, buffer, size_t(size), MSG_NOSIGNAL);
    if (n < 0) return LastSocketError();
    sent = int(n);
    return 0;
}

bool TElSocket::CanReceive(int timeout) {
    if (readLen_ > readPos_) return true;
    if (!(state_ == stConnected || (datagram_ && handle_ >= 0))) RaiseState();
    // A closed or failed connection is readable too: the read then tells which.
    return PollOne(handle_, POLLIN, timeout) > 0;
}

bool TElSocket::CanSend(int timeout) {
    CheckState({stConnected});
    const int revents = PollOne(handle_, POLLOUT, timeout);
    return revents > 0 && (revents & POLLOUT);
}

bool TElSocket::CanAccept(int timeout) {
    if (!(state_ == stListening || (datagram_ && handle_ >= 0))) RaiseState();
    return PollOne(handle_, POLLIN, timeout) > 0;
}

void TElSocket::Close(bool noShutdown) {
    if (handle_ >= 0) {
        readPos_ = readLen_ = 0;
        if (!noShutdown) ::shutdown(handle_, SHUT_RDWR);
        ::close(handle_);
        handle_ = -1;
        state_ = stNone;
    } else if (state_ == stCreating) {
        abortCreation_ = true;
        state_ = stNone;
    }
}

std::string TElSocket::GetRemoteAddress() {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (handle_ < 0 || ::getpeername(handle_, reinterpret_cast<sockaddr*>(&a), &len) != 0 || a.sin_family != AF_INET)
        return address_;
    return DottedOf(a);
}

void TElSocket::PushBack(const void* data, int count) {
    if (count <= 0) return;
    std::vector<uint8_t> joined(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + count);
    joined.insert(joined.end(), readAhead_.begin() + readPos_, readAhead_.begin() + readLen_);
    readLen_ = int(joined.size());
    readPos_ = 0;
    // The buffer keeps at least its usual size, so later reads still fill it in one call.
    if (joined.size() < kReadAheadSize) joined.resize(kReadAheadSize);
    readAhead_ = std::move(joined);
}

// ---------------------------------------------------------------------------------------------
// Proxies

bool TElSocket::ProxySend(const std::string& request, int timeout, uint32_t start) {
    size_t done = 0;
    while (done < request.size()) {
        int wait;
        if (!WaitLeft(timeout, start, wait)) return false;
        const int revents = PollOne(handle_, POLLOUT, wait);
        if (revents <= 0 || !(revents & POLLOUT)) return false;
        int sent = 0;
        if (Send(request.data() + done, int(request.size() - done), sent) != 0 || sent <= 0) return false;
        done += size_t(sent);
    }
    return true;
}

bool TElSocket::ProxyReceive(std::string& reply, int timeout, uint32_t start, size_t limit) {
    if (reply.size() >= limit) return false;
    int wait;
    if (!WaitLeft(timeout, start, wait)) return false;
    // Bytes an earlier read took beyond what it handed out wait in the read-ahead buffer, not
    // on the descriptor.
    if (readLen_ <= readPos_) {
        const int revents = PollOne(handle_, POLLIN, wait);
        if (revents <= 0) return false;
    }
    char buf[kProxyReplyLimit];
    int got = 0;
    // A proxy that closes before its reply is whole has refused: there is nothing to wait for.
    if (Receive(buf, int(std::min(sizeof buf, limit - reply.size())), got) != 0 || got <= 0) return false;
    reply.append(buf, size_t(got));
    return true;
}

bool TElSocket::SkipProxyBody(int64_t length, const std::string& body, int timeout, uint32_t start) {
    if (int64_t(body.size()) > length) return false;
    int64_t left = length - int64_t(body.size());
    std::string piece;
    while (left > 0) {
        piece.clear();
        if (!ProxyReceive(piece, timeout, start, size_t(std::min<int64_t>(left, int64_t(kProxyReplyLimit)))))
            return false;
        left -= int64_t(piece.size());
    }
    return true;
}

int TElSocket::ConnectThroughSocks(int timeout) {
    if (timeout < 0) timeout = 0;
    ConnectDirectTo(SocksServer, SocksPort, timeout);
    if (state_ != stConnected) return SB_SOCKET_PROXY_FAILURE;
    const uint32_t start = plat::GetClock().TickCount();
    int rc;
    try {
        rc = SocksVersion == elSocks4 ? Socks4(timeout, start) : Socks5(timeout, start);
    } catch (...) {
        Close(false);
        throw;
    }
    if (rc != 0) Close(false);
    return rc;
}

// The destination as a SOCKS request carries it: a dotted address as its four bytes, a name
// for the proxy to resolve, or a name resolved here. false when it cannot be given.
namespace {
struct SocksTarget {
    bool byName = false;
    std::string name;
    in_addr address{};
};
bool MakeSocksTarget(const std::string& host, bool resolveAtProxy, SocksTarget& target) {
    if (ParseDotted(host, target.address)) return true;
    if (resolveAtProxy) {
        if (host.empty() || host.size() > TElSocket::kSocksFieldLimit || host.find('\0') != std::string::npos)
            return false;
        target.byName = true;
        target.name = host;
        return true;
    }
    try {
        return ParseDotted(ResolveSocketAddress(host), target.address);
    } catch (const EElSocketError&) {
        return false;
    }
}

std::string PortBytes(int32_t port) {
    return {char((port >> 8) & 0xFF), char(port & 0xFF)};
}
}  // namespace

int TElSocket::Socks5(int timeout, uint32_t start) {
    const bool withUser = SocksAuthentication == saUsercode;
    // RFC 1929 section 2: one length byte each for the name and the password.
    if (withUser && (SocksUserCode.size() > kSocksFieldLimit || SocksPassword.size() > kSocksFieldLimit))
        return SB_SOCKET_PROXY_FAILURE;
    SocksTarget target;
    if (!MakeSocksTarget(address_, SocksResolveAddress, target)) return SB_SOCKET_PROXY_FAILURE;

    // RFC 1928 section 3: the version and the methods we can speak.
    std::string reply;
    if (!ProxySend(withUser ? std::string("\x05\x02\x00\x02", 4) : std::string("\x05\x01\x00", 3), timeout, start))
        return SB_SOCKET_PROXY_FAILURE;
    while (reply.size() < 2)
        if (!ProxyReceive(reply, timeout, start)) return SB_SOCKET_PROXY_FAILURE;
    const uint8_t method = uint8_t(reply[1]);
    if (reply[0] != 5) return SB_SOCKET_PROXY_FAILURE;
    reply.erase(0, 2);
    if (method == 0x02 && withUser) {
        std::string auth = "\x01";
        auth += char(SocksUserCode.size());
        auth += SocksUserCode;
        auth += char(SocksPassword.size());
        auth += SocksPassword;
        if (!ProxySend(auth, timeout, start)) return SB_SOCKET_PROXY_FAILURE;
        while (reply.size() < 2)
            if (!ProxyReceive(reply, timeout, start)) return SB_SOCKET_PROXY_FAILURE;
        if (reply[1] != 0) return SB_SOCKET_PROXY_FAILURE;
        reply.erase(0, 2);
    } else if (method != 0x00) {
        // 0xFF (no acceptable method), or a method we did not offer and cannot speak.
        return SB_SOCKET_PROXY_FAILURE;
    }

    // RFC 1928 section 4: CONNECT to the destination.
    std::string request("\x05\x01\x00", 3);
    if (target.byName) {
        request += '\x03';
        request += char(target.name.size());
        request += target.name;
    } else {
        request += '\x01';
        request.append(reinterpret_cast<const char*>(&target.address), 4);
    }
    request += PortBytes(port_);
    if (!ProxySend(request, timeout, start)) return SB_SOCKET_PROXY_FAILURE;

    // RFC 1928 section 6: the reply's length follows from its address type.
    for (;;) {
        int rep = 0;
        const int length = Socks5ReplyLength(reply, rep);
        if (length < 0) return rep != 0 ? rep : SB_SOCKET_PROXY_FAILURE;
        if (length > 0 && reply.size() >= size_t(length)) {
            if (rep == 0 && size_t(length) < reply.size())
                PushBack(reply.data() + length, int(reply.size() - size_t(length)));
            return rep;
        }
        if (!ProxyReceive(reply, timeout, start)) return SB_SOCKET_PROXY_FAILURE;
    }
}

int TElSocket::Socks4(int timeout, uint32_t start) {
    if (SocksUserCode.size() > kSocksFieldLimit || SocksUserCode.find('\0') != std::string::npos)
        return SB_SOCKET_PROXY_FAILURE;
    SocksTarget target;
    if (!MakeSocksTarget(address_, SocksResolveAddress, target)) return SB_SOCKET_PROXY_FAILURE;
    std::string request("\x04\x01", 2);
    request += PortBytes(port_);
    if (target.byName)
        request.append("\x00\x00\x00\xFF", 4);  // SOCKS 4a: the proxy resolves the name after the user id
    else
        request.append(reinterpret_cast<const char*>(&target.address), 4);
    request += SocksUserCode;
    request += '\0';
    if (target.byName) {
        request += target.name;
        request += '\0';
    }
    if (!ProxySend(request, timeout, start)) return SB_SOCKET_PROXY_FAILURE;
    std::string reply;
    while (reply.size() < kSocks4ReplySize)
        if (!ProxyReceive(reply, timeout, start)) return SB_SOCKET_PROXY_FAILURE;
    if (!Socks4ReplyGranted(reply)) return SB_SOCKET_PROXY_FAILURE;
    if (reply.size() > kSocks4ReplySize)
        PushBack(reply.data() + kSocks4ReplySize, int(reply.size() - kSocks4ReplySize));
    return 0;
}

int TElSocket::ConnectThroughTunnel(int timeout) {
    if (timeout < 0) timeout = 0;
    if (!IsSafeProxyHost(address_)) return SB_SOCKET_PROXY_FAILURE;
    ConnectDirectTo(WebTunnelAddress, WebTunnelPort, timeout);
    if (state_ != stConnected) return SB_SOCKET_PROXY_FAILURE;
    const uint32_t start = plat::GetClock().TickCount();
    const size_t limit = WebTunnelAuthenticator ? kProxyAuthReplyLimit : kProxyReplyLimit;

    // Each round is one CONNECT and its reply; only a 407 the authenticator answers leads to
    // another round on the same connection.
    std::vector<std::string> challenges;
    for (int round = 0; round <= kTunnelAuthRounds; ++round) {
        // RFC 9110 section 9.3.6: the target in authority form, twice (request target and Host).
        std::string request =
            rtl::Format("CONNECT %s:%d HTTP/1.1\r\nHost: %s:%d\r\nUser-agent: SecureClient\r\n", address_,
                        port_, address_, port_);
        if (WebTunnelAuthenticator) {
            const std::string line = WebTunnelAuthenticator(challenges);
            if (line.find_first_of("\r\n", 0, 3) != std::string::npos) break;
            if (round > 0 && line.empty()) break;  // a challenge we cannot answer
            if (!line.empty()) request += line + "\r\n";
        } else if (WebTunnelAuthentication == wtaRequiresAuthentication && !WebTunnelUserId.empty() &&
                   !WebTunnelPassword.empty()) {
            request +=
                "Proxy-Authorization: " + BasicCredentials(WebTunnelUserId, WebTunnelPassword) + "\r\n";
        }
        request += "\r\n";

        std::string reply;
        int headerLength = 0;
        bool ok = ProxySend(request, timeout, start);
        while (ok && (headerLength = TunnelReplyLength(reply, limit)) == 0)
            ok = ProxyReceive(reply, timeout, start, limit);
        if (!ok || headerLength < 0) break;
        bool accepted = false;
        proxyResult_ = TunnelReplyStatus(reply, accepted);
        proxyStatusLine_ = TunnelReplyStatusLine(reply);
        if (accepted) {
            if (size_t(headerLength) < reply.size())
                PushBack(reply.data() + headerLength, int(reply.size() - size_t(headerLength)));
            return 0;
        }
        if (!WebTunnelAuthenticator || proxyResult_ != 407 || round == kTunnelAuthRounds) break;

        // The next round goes on this connection: the proxy must keep it, and the refusal's
        // body must be read whole (by its length) first.
        const std::string_view header = std::string_view(reply).substr(0, size_t(headerLength));
        bool closing = false;
        for (const char* field : {"Connection", "Proxy-Connection"})
            for (const std::string& v : TunnelReplyFieldValues(header, field))
                closing = closing || rtl::UpperCase(v).find("CLOSE") != std::string::npos;
        const std::vector<std::string> lengths = TunnelReplyFieldValues(header, "Content-Length");
        int64_t length = -1;
        for (const std::string& v : lengths) {
            int64_t n = 0;
            bool digits = !v.empty() && v.size() <= 18;
            for (char c : v) {
                digits = digits && c >= '0' && c <= '9';
                if (digits) n = n * 10 + (c - '0');
            }
            // RFC 9112 section 6.3: a length that is no number, or differing lengths, leave the
            // body's end unknown.
            length = digits && (length < 0 || length == n) ? n : -2;
            if (length == -2) break;
        }
        if (closing || length < 0 || length > kProxyAuthBodyLimit ||
            !TunnelReplyFieldValues(header, "Transfer-Encoding").empty() ||
            !SkipProxyBody(length, reply.substr(size_t(headerLength)), timeout, start))
            break;
        challenges = TunnelReplyFieldValues(header, "Proxy-Authenticate");
    }
    Close(true);
    return SB_SOCKET_PROXY_FAILURE;
}

// ---------------------------------------------------------------------------------------------
// Proxy replies

int Socks5ReplyLength(std::string_view reply, int& rep) {
    rep = 0;
    if (reply.size() >= 1 && uint8_t(reply[0]) != 5) return -1;
    if (reply.size() < 4) return 0;
    rep = uint8_t(reply[1]);
    switch (uint8_t(reply[3])) {
        case 0x01: return 4 + 4 + 2;  // IPv4 address and port
        case 0x04: return 4 + 16 + 2;  // IPv6 address and port
        case 0x03:  // a name behind its length byte, and the port
            if (reply.size() < 5) return 0;
            return 4 + 1 + uint8_t(reply[4]) + 2;
        default: return -1;
    }
}

bool Socks4ReplyGranted(std::string_view reply) {
    return reply.size() >= kSocks4ReplySize && uint8_t(reply[1]) == 0x5A;
}

int TunnelReplyLength(std::string_view reply, size_t limit) {
    const size_t end = reply.find("\r\n\r\n");
    if (end != std::string_view::npos && end + 4 <= limit) return int(end + 4);
    return reply.size() >= limit ? -1 : 0;
}

std::vector<std::string> TunnelReplyFieldValues(std::string_view header, std::string_view name) {
    std::vector<std::string> values;
    size_t at = header.find("\r\n");
    while (at != std::string_view::npos && at + 2 < header.size()) {
        const size_t begin = at + 2;
        at = header.find("\r\n", begin);
        const std::string_view line =
            header.substr(begin, (at == std::string_view::npos ? header.size() : at) - begin);
        const size_t colon = line.find(':');
        if (colon != std::string_view::npos && rtl::SameText(rtl::Trim(line.substr(0, colon)), name))
            values.push_back(rtl::Trim(line.substr(colon + 1)));
    }
    return values;
}

std::string TunnelReplyStatusLine(std::string_view reply) {
    const std::string_view line =
        reply.substr(0, std::min(reply.find_first_of("\r\n"), kTunnelStatusLineLimit));
    std::string shown(line);
    for (char& c : shown)
        if (c < ' ' || c > '~') c = '?';
    return shown;
}

int TunnelReplyStatus(std::string_view reply, bool& accepted) {
    // "HTTP/1.x NNN": the major version at position 6, the minor at 8 and the status at 10 to
    // 12 (1-based); anything too short to hold them is refused.
    accepted = false;
    if (reply.size() < 12) return 0;
    int status = 0;
    for (size_t i = 9; i < 12; ++i) {
        if (reply[i] < '0' || reply[i] > '9') return 0;
        status = status * 10 + (reply[i] - '0');
    }
    const char minor = reply[7];
    accepted = reply.substr(0, 5) == "HTTP/" && reply[5] == '1' && reply[6] == '.' && (minor == '0' || minor == '1') &&
               status == 200;
    return status;
}
