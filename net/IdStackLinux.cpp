// net/IdStackLinux.cpp: POSIX sockets, getaddrinfo and poll behind the stack's operations.
#include "net/IdStackLinux.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "net/IdWinSock2.h"
#include "platform/WinError.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

const int Id_SOCK_STREAM = SOCK_STREAM;
const int Id_SOCK_DGRAM = SOCK_DGRAM;
const int Id_SOL_SOCKET = SOL_SOCKET;
const int Id_IPPROTO_TCP = IPPROTO_TCP;
const int Id_TCP_NODELAY = TCP_NODELAY;
const int Id_SO_REUSEADDR = SO_REUSEADDR;

namespace {

// Longest host name a lookup answers (NI_MAXHOST).
constexpr size_t kMaxHostName = 1025;
// Most local addresses listed.
constexpr int kMaxLocalAddresses = 251;

[[noreturn]] void RaiseCode(int32_t code) {
    if (code == Id_WSAENOTSOCK) throw EIdNotASocket(code, SocketErrorText(code));
    throw EIdSocketError(code, SocketErrorText(code));
}

[[noreturn]] void RaiseErrno(int err) { RaiseCode(plat::WinErrorFromErrno(err, plat::ErrorDomain::Socket)); }

void CheckVersion(TIdIPVersion v) {
    if (v != Id_IPv4 && v != Id_IPv6)
        EIdException::RaiseIdException<EIdIPVersionUnsupported>(
            "The requested IPVersion / Address family is not supported.");
}

// RFC 6761, section 6.4: "invalid" names never resolve, and resolvers should say so at once.
bool IsInvalidTld(const std::string& host) {
    std::string h = rtl::LowerCase(host);
    if (!h.empty() && h.back() == '.') h.pop_back();
    return h == "invalid" || (h.size() > 8 && h.compare(h.size() - 8, 8, ".invalid") == 0);
}

struct AddrInfoList {
    addrinfo* list = nullptr;
    ~AddrInfoList() {
        if (list) ::freeaddrinfo(list);
    }
};

// getaddrinfo with the failure raised as the stack's socket error.
void Resolve(const std::string& host, int flags, int family, AddrInfoList& out) {
    if (IsInvalidTld(host)) RaiseCode(Id_WSAHOST_NOT_FOUND);
    addrinfo hints{};
    hints.ai_flags = flags;
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    errno = 0;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &out.list);
    if (rc != 0) RaiseCode(GaiErrorToSocketError(rc, errno));
    if (out.list == nullptr) RaiseCode(Id_WSAHOST_NOT_FOUND);
}

// poll, repeated after a signal with the time that is left; -2 (or any negative) waits
// without limit. The count of ready entries.
int PollFor(std::vector<pollfd>& fds, int32_t timeout) {
    using Steady = std::chrono::steady_clock;
    const auto deadline = Steady::now() + std::chrono::milliseconds(timeout < 0 ? 0 : timeout);
    int wait = timeout < 0 ? -1 : timeout;
    for (;;) {
        const int n = ::poll(fds.data(), nfds_t(fds.size()), wait);
        if (n >= 0) return n;
        if (errno != EINTR) RaiseErrno(errno);
        if (timeout >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now());
            wait = left.count() > 0 ? int(left.count()) : 0;
        }
    }
}

template <typename F>
auto Retry(F call) {
    for (;;) {
        auto r = call();
        if (r >= 0 || errno != EINTR) return r;
    }
}

}  // namespace

int IdAddressFamily(TIdIPVersion ipVersion) {
    CheckVersion(ipVersion);
    return ipVersion == Id_IPv4 ? AF_INET : AF_INET6;
}

void TextToAddress(const std::string& address, uint16_t port, TIdIPVersion ipVersion, sockaddr_storage& record,
                   unsigned& length) {
    CheckVersion(ipVersion);
    std::memset(&record, 0, sizeof record);
    if (ipVersion == Id_IPv4) {
        auto& a = reinterpret_cast<sockaddr_in&>(record);
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        if (!address.empty()) {
            if (!TIdStack::IsIPv4Text(address)) RaiseCode(Id_WSAEINVAL);
            std::string rest = address;
            uint8_t* b = reinterpret_cast<uint8_t*>(&a.sin_addr);
            for (int i = 0; i < 4; ++i) b[i] = uint8_t(std::stoi(CutAtDelimiter(rest, ".", true, true)));
        }
        length = sizeof(sockaddr_in);
        return;
    }
    auto& a = reinterpret_cast<sockaddr_in6&>(record);
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    if (!address.empty()) {
        std::string text = NormalizeIPv6Text(address);
        if (text.empty()) RaiseCode(Id_WSAEINVAL);
        uint8_t* b = reinterpret_cast<uint8_t*>(&a.sin6_addr);
        for (int i = 0; i < 8; ++i) {
            const unsigned long w = std::stoul(CutAtDelimiter(text, ":", true, true), nullptr, 16);
            b[2 * i] = uint8_t(w >> 8);
            b[2 * i + 1] = uint8_t(w);
        }
    }
    length = sizeof(sockaddr_in6);
}

std::string AddressToText(const sockaddr_storage& record, uint16_t& port) {
    if (record.ss_family == AF_INET) {
        const auto& a = reinterpret_cast<const sockaddr_in&>(record);
        const uint8_t* b = reinterpret_cast<const uint8_t*>(&a.sin_addr);
        port = ntohs(a.sin_port);
        return rtl::Format("%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    }
    if (record.ss_family == AF_INET6) {
        const auto& a = reinterpret_cast<const sockaddr_in6&>(record);
        const uint8_t* b = reinterpret_cast<const uint8_t*>(&a.sin6_addr);
        port = ntohs(a.sin6_port);
        std::string out;
        for (int i = 0; i < 8; ++i) out += rtl::Format(i ? ":%x" : "%x", unsigned(b[2 * i] << 8 | b[2 * i + 1]));
        return out;
    }
    port = 0;
    return {};
}

std::unique_ptr<TIdStack> TIdStackLinux::MakeStack() { return std::make_unique<TIdStackLinux>(); }

std::string TIdStackLinux::LookUpHostAddress(const std::string& host, TIdIPVersion ipVersion) {
    AddrInfoList result;
    Resolve(host, 0, IdAddressFamily(ipVersion), result);
    uint16_t port;
    sockaddr_storage record{};
    std::memcpy(&record, result.list->ai_addr, std::min<size_t>(result.list->ai_addrlen, sizeof record));
    return AddressToText(record, port);
}

std::string TIdStackLinux::LookUpHostName(const std::string& address, TIdIPVersion ipVersion) {
    sockaddr_storage record;
    unsigned length;
    TextToAddress(address, 0, ipVersion, record, length);
    char host[kMaxHostName];
    const int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&record), socklen_t(length), host, sizeof host,
                                 nullptr, 0, NI_NAMEREQD);
    if (rc != 0) RaiseCode(GaiErrorToSocketError(rc, errno));
    return host;
}

std::string TIdStackLinux::QueryHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) RaiseErrno(errno);
    return name;
}

void TIdStackLinux::FillLocalAddresses(rtl::StringList& list) {
    // The addresses of the host's interfaces (IPv4), in the order the kernel lists them.
    ifaddrs* all = nullptr;
    if (::getifaddrs(&all) != 0) RaiseErrno(errno);
    for (ifaddrs* i = all; i != nullptr && list.Count() < kMaxLocalAddresses; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
        sockaddr_storage record{};
        std::memcpy(&record, i->ifa_addr, sizeof(sockaddr_in));
        uint16_t port;
        list.Add(AddressToText(record, port));
    }
    ::freeifaddrs(all);
}

TIdStackSocketHandle TIdStackLinux::CreateSocket(int socketType, int protocol, TIdIPVersion ipVersion,
                                                 bool overlapped) {
    return CheckSocketCall(RawCreateSocket(IdAddressFamily(ipVersion), socketType, protocol, overlapped));
}

TIdStackSocketHandle TIdStackLinux::AcceptConnection(TIdStackSocketHandle socket, std::string& address,
                                                     uint16_t& port) {
    sockaddr_storage record{};
    socklen_t length = sizeof record;
    const int fd =
        Retry([&] { return ::accept4(socket, reinterpret_cast<sockaddr*>(&record), &length, SOCK_CLOEXEC); });
    if (fd >= 0) address = AddressToText(record, port);
    return fd;
}

void TIdStackLinux::BindSocket(TIdStackSocketHandle socket, const std::string& address, uint16_t port,
                               TIdIPVersion ipVersion) {
    sockaddr_storage record;
    unsigned length;
    TextToAddress(address, port, ipVersion, record, length);
    CheckSocketCall(::bind(socket, reinterpret_cast<const sockaddr*>(&record), socklen_t(length)));
}

void TIdStackLinux::ConnectSocket(TIdStackSocketHandle socket, const std::string& address, uint16_t port,
                                  TIdIPVersion ipVersion) {
    sockaddr_storage record;
    unsigned length;
    TextToAddress(address, port, ipVersion, record, length);
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&record), socklen_t(length)) == 0) return;
    if (errno != EINTR) RaiseErrno(errno);
    // Interrupted by a signal: the connect goes on in the kernel; wait for its outcome.
    WaitWritable(socket, -2);
    FinishConnect(socket);
}

bool TIdStackLinux::StartConnect(TIdStackSocketHandle socket, const std::string& address, uint16_t port,
                                 TIdIPVersion ipVersion) {
    sockaddr_storage record;
    unsigned length;
    TextToAddress(address, port, ipVersion, record, length);
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&record), socklen_t(length)) == 0) return true;
    if (errno == EINPROGRESS || errno == EINTR) return false;
    RaiseErrno(errno);
}

void TIdStackLinux::FinishConnect(TIdStackSocketHandle socket) {
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &err, &len) != 0) RaiseErrno(errno);
    if (err != 0) RaiseErrno(err);
}

bool TIdStackLinux::WaitWritable(TIdStackSocketHandle socket, int32_t timeout) {
    std::vector<pollfd> fds{pollfd{socket, POLLOUT, 0}};
    if (PollFor(fds, timeout) == 0) return false;
    if (fds[0].revents & POLLNVAL) RaiseCode(Id_WSAENOTSOCK);
    return true;
}

void TIdStackLinux::DisconnectSocket(TIdStackSocketHandle socket) {
    ShutdownSocket(socket, SHUT_WR);
    CloseSocketHandle(socket);
}

void TIdStackLinux::ListenSocket(TIdStackSocketHandle socket, int backlog) {
    CheckSocketCall(::listen(socket, backlog));
}

void TIdStackLinux::ReadPeerAddress(TIdStackSocketHandle socket, std::string& address, uint16_t& port) {
    sockaddr_storage record{};
    socklen_t length = sizeof record;
    CheckSocketCall(::getpeername(socket, reinterpret_cast<sockaddr*>(&record), &length));
    address = AddressToText(record, port);
}

void TIdStackLinux::ReadLocalAddress(TIdStackSocketHandle socket, std::string& address, uint16_t& port) {
    sockaddr_storage record{};
    socklen_t length = sizeof record;
    CheckSocketCall(::getsockname(socket, reinterpret_cast<sockaddr*>(&record), &length));
    address = AddressToText(record, port);
}

int32_t TIdStackLinux::ReadSocketOption(TIdStackSocketHandle socket, int level, int option) {
    int32_t value = 0;
    int length = sizeof value;
    RawGetSocketOption(socket, level, option, &value, length);
    return value;
}

void TIdStackLinux::WriteSocketOption(TIdStackSocketHandle socket, int level, int option, int32_t value) {
    RawSetSocketOption(socket, level, option, &value, sizeof value);
}

int32_t TIdStackLinux::SocketReceive(TIdStackSocketHandle socket, TBytes& bytes) {
    if (bytes.empty()) EIdException::RaiseIdException("SocketReceive: the receive array is empty.");
    return CheckSocketCall(RawReceive(socket, bytes.data(), int32_t(bytes.size()), 0));
}

int32_t TIdStackLinux::SocketSend(TIdStackSocketHandle socket, const TBytes& bytes, int32_t offset,
                                  int32_t count) {
    if (offset < 0 || size_t(offset) > bytes.size())
        EIdException::RaiseIdException("SocketSend: offset outside the array.");
    const size_t left = bytes.size() - size_t(offset);
    const size_t n = count < 0 ? left : std::min(left, size_t(count));
    return RawSend(socket, bytes.data() + offset, int32_t(n), 0);
}

int32_t TIdStackLinux::SocketReceiveFrom(TIdStackSocketHandle socket, TBytes& bytes, std::string& address,
                                         uint16_t& port, TIdIPVersion ipVersion) {
    if (bytes.empty()) EIdException::RaiseIdException("SocketReceiveFrom: the receive array is empty.");
    return CheckSocketCall(
        RawReceiveFrom(socket, bytes.data(), int32_t(bytes.size()), 0, address, port, ipVersion));
}

int32_t TIdStackLinux::SocketSendTo(TIdStackSocketHandle socket, const std::string& address, uint16_t port,
                                    const TBytes& bytes, TIdIPVersion ipVersion) {
    RawSendTo(socket, bytes.data(), int32_t(bytes.size()), 0, address, port, ipVersion);
    return int32_t(bytes.size());
}

bool TIdStackLinux::HasIPv6Protocol() {
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

void TIdStackLinux::SetSocketBlocking(TIdStackSocketHandle socket, bool blocking) {
    const int flags = CheckSocketCall(::fcntl(socket, F_GETFL));
    CheckSocketCall(::fcntl(socket, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK)));
}

uint16_t TIdStackLinux::ServiceNameToPort(const std::string& name) {
    servent entry{};
    servent* found = nullptr;
    char buffer[4096];
    if (!name.empty() && ::getservbyname_r(name.c_str(), nullptr, &entry, buffer, sizeof buffer, &found) == 0 &&
        found != nullptr)
        return ntohs(uint16_t(found->s_port));
    int32_t number;
    if (rtl::TryStrToInt(name, number) && number >= 0 && number <= 0xFFFF) return uint16_t(number);
    EIdException::RaiseIdException<EIdInvalidServiceName>(rtl::Format("%s is not a valid service.", name));
}

std::unique_ptr<rtl::StringList> TIdStackLinux::PortToServiceNames(uint16_t port) {
    auto list = std::make_unique<rtl::StringList>();
    servent entry{};
    servent* found = nullptr;
    char buffer[4096];
    if (::getservbyport_r(int(htons(port)), nullptr, &entry, buffer, sizeof buffer, &found) == 0 && found) {
        list->Add(found->s_name);
        for (char** alias = found->s_aliases; alias != nullptr && *alias != nullptr; ++alias) list->Add(*alias);
    }
    return list;
}

int32_t TIdStackLinux::RawReceive(TIdStackSocketHandle socket, void* buffer, int32_t length, int flags) {
    return int32_t(Retry([&] { return ::recv(socket, buffer, size_t(length), flags); }));
}

int32_t TIdStackLinux::RawSend(TIdStackSocketHandle socket, const void* buffer, int32_t length, int flags) {
    return CheckSocketCall(
        int32_t(Retry([&] { return ::send(socket, buffer, size_t(length), flags | MSG_NOSIGNAL); })));
}

int32_t TIdStackLinux::RawReceiveFrom(TIdStackSocketHandle socket, void* buffer, int32_t length, int flags,
                                      std::string& address, uint16_t& port, TIdIPVersion ipVersion) {
    CheckVersion(ipVersion);
    sockaddr_storage record{};
    socklen_t recordLength = sizeof record;
    const auto n = Retry([&] {
        return ::recvfrom(socket, buffer, size_t(length), flags, reinterpret_cast<sockaddr*>(&record), &recordLength);
    });
    if (n >= 0) address = AddressToText(record, port);
    return int32_t(n);
}

void TIdStackLinux::RawSendTo(TIdStackSocketHandle socket, const void* buffer, int32_t length, int flags,
                              const std::string& address, uint16_t port, TIdIPVersion ipVersion) {
    sockaddr_storage record;
    unsigned recordLength;
    TextToAddress(address, port, ipVersion, record, recordLength);
    const auto n = Retry([&] {
        return ::sendto(socket, buffer, size_t(length), flags | MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&record), socklen_t(recordLength));
    });
    if (n < 0) {
        if (errno == EMSGSIZE)
            EIdException::RaiseIdException<EIdPackageSizeTooBig>(RSId::PackageSizeTooBig);
        RaiseErrno(errno);
    }
    if (n != length) EIdException::RaiseIdException<EIdNotAllBytesSent>(RSId::NotAllBytesSent);
}

TIdStackSocketHandle TIdStackLinux::RawCreateSocket(int family, int type, int protocol, bool /*overlapped*/) {
    return ::socket(family, type | SOCK_CLOEXEC, protocol);
}

void TIdStackLinux::RawSetSocketOption(TIdStackSocketHandle socket, int level, int option, const void* value,
                                       int length) {
    CheckSocketCall(::setsockopt(socket, level, option, value, socklen_t(length)));
}

void TIdStackLinux::RawGetSocketOption(TIdStackSocketHandle socket, int level, int option, void* value,
                                       int& length) {
    socklen_t l = socklen_t(length);
    CheckSocketCall(::getsockopt(socket, level, option, value, &l));
    length = int(l);
}

int TIdStackLinux::ShutdownSocket(TIdStackSocketHandle socket, int how) { return ::shutdown(socket, how); }

void TIdStackLinux::CloseSocketHandle(TIdStackSocketHandle socket) {
    // Linux releases the descriptor even when close reports EINTR: never repeat it.
    ::close(socket);
}

int32_t TIdStackLinux::LastSocketError() { return plat::WinErrorFromErrno(errno, plat::ErrorDomain::Socket); }

bool TIdStackLinux::IsWouldBlock(int32_t result) {
    if (result != Id_SOCKET_ERROR) return false;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
    RaiseErrno(errno);
}

// Socket list.

std::vector<TIdStackSocketHandle> TIdSocketListLinux::Snapshot() {
    std::lock_guard guard(lock_);
    return sockets_;
}

void TIdSocketListLinux::Replace(std::vector<TIdStackSocketHandle> sockets) {
    std::lock_guard guard(lock_);
    sockets_ = std::move(sockets);
}

TIdStackSocketHandle TIdSocketListLinux::ItemAt(int index) {
    std::lock_guard guard(lock_);
    if (index < 0 || size_t(index) >= sockets_.size())
        EIdException::RaiseIdException<EIdStackSetSizeExceeded>("Set Size Exceeded.");
    return sockets_[size_t(index)];
}

void TIdSocketListLinux::AddSocket(TIdStackSocketHandle socket) {
    std::lock_guard guard(lock_);
    if (sockets_.size() >= size_t(kMaxSockets))
        EIdException::RaiseIdException<EIdStackSetSizeExceeded>("Set Size Exceeded.");
    sockets_.push_back(socket);
}

std::unique_ptr<TIdSocketList> TIdSocketListLinux::CloneList() {
    auto copy = std::make_unique<TIdSocketListLinux>();
    copy->sockets_ = Snapshot();
    return copy;
}

int TIdSocketListLinux::SocketCount() {
    std::lock_guard guard(lock_);
    return int(sockets_.size());
}

void TIdSocketListLinux::RemoveSocket(TIdStackSocketHandle socket) {
    std::lock_guard guard(lock_);
    for (size_t i = 0; i < sockets_.size(); ++i)
        if (sockets_[i] == socket) {
            sockets_[i] = sockets_.back();
            sockets_.pop_back();
            return;
        }
}

void TIdSocketListLinux::ClearSockets() {
    std::lock_guard guard(lock_);
    sockets_.clear();
}

bool TIdSocketListLinux::HasSocket(TIdStackSocketHandle socket) {
    std::lock_guard guard(lock_);
    for (TIdStackSocketHandle s : sockets_)
        if (s == socket) return true;
    return false;
}

bool TIdSocketListLinux::WaitReadable(int32_t timeout) {
    std::unique_ptr<TIdSocketList> clone = CloneList();
    return DoSelectLists(clone.get(), nullptr, nullptr, timeout);
}

bool TIdSocketListLinux::WaitReadableList(std::unique_ptr<TIdSocketList>& result, int32_t timeout) {
    std::unique_ptr<TIdSocketList> clone = CloneList();
    if (!DoSelectLists(clone.get(), nullptr, nullptr, timeout)) return false;
    if (!result) result = CreateSocketList();
    result->ClearSockets();
    for (int i = 0; i < clone->SocketCount(); ++i) result->AddSocket(clone->ItemAt(i));
    return true;
}

bool TIdSocketListLinux::DoSelectLists(TIdSocketList* readList, TIdSocketList* writeList,
                                       TIdSocketList* errorList, int32_t timeout) {
    // One poll entry per membership; a socket in two lists appears twice. A closed peer or a
    // failed socket counts as readable (a read then reports it); a descriptor that is no
    // longer open is the caller's error.
    struct Part {
        TIdSocketList* list;
        short events;
        short ready;
        std::vector<TIdStackSocketHandle> sockets;
    };
    Part parts[] = {{readList, POLLIN, POLLIN | POLLHUP | POLLERR, {}},
                    {writeList, POLLOUT, POLLOUT | POLLERR | POLLHUP, {}},
                    {errorList, POLLPRI, POLLPRI | POLLERR, {}}};
    std::vector<pollfd> fds;
    for (Part& p : parts) {
        if (p.list == nullptr) continue;
        p.sockets = static_cast<TIdSocketListLinux*>(p.list)->Snapshot();
        for (TIdStackSocketHandle s : p.sockets) fds.push_back(pollfd{s, p.events, 0});
    }
    const int n = PollFor(fds, timeout);
    size_t k = 0;
    for (Part& p : parts) {
        if (p.list == nullptr) continue;
        std::vector<TIdStackSocketHandle> ready;
        for (TIdStackSocketHandle s : p.sockets) {
            const pollfd& f = fds[k++];
            if (f.revents & POLLNVAL) RaiseCode(Id_WSAENOTSOCK);
            if (f.revents & p.ready) ready.push_back(s);
        }
        static_cast<TIdSocketListLinux*>(p.list)->Replace(std::move(ready));
    }
    return n > 0;
}
