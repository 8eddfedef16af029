// net/IdSocks.cpp: SOCKS 4/4A and 5 requests, replies and datagrams.
#include "net/IdSocks.h"

#include <cstring>

#include "net/IdIOHandlerStack.h"
#include "net/IdIPAddress.h"
#include "rtl/Format.h"

namespace {

constexpr uint8_t kCmdConnect = 1;
constexpr uint8_t kCmdBind = 2;
constexpr uint8_t kCmdUdpAssociate = 3;
constexpr uint8_t kAtypIPv4 = 1;
constexpr uint8_t kAtypDomain = 3;
constexpr uint8_t kAtypIPv6 = 4;
// A received datagram is read into the caller's buffer size plus this much room for its header.
constexpr size_t kDatagramHeaderRoom = 200;

// Exactly n bytes (the IO handler's own errors pass on).
TBytes ReadExact(TIdIOHandler& io, int32_t n) {
    TBytes b;
    io.ReadIntoBytes(b, n, false);
    return b;
}

// Exactly n bytes of a SOCKS 5 reply: any failure is "Socks server did not respond.".
TBytes ReadExact5(TIdIOHandler& io, int32_t n) {
    try {
        return ReadExact(io, n);
    } catch (const EIdException&) {
        EIdException::RaiseIdException<EIdSocksServerRespondError>(RSId::SocksServerRespondError);
    }
}

void Socks4Check(uint8_t code) {
    switch (code) {
        case 90:
            return;
        case 91:
            EIdException::RaiseIdException<EIdSocksRequestFailed>(RSId::SocksRequestFailed);
        case 92:
            EIdException::RaiseIdException<EIdSocksRequestServerFailed>(RSId::SocksRequestServerFailed);
        case 93:
            EIdException::RaiseIdException<EIdSocksRequestIdentFailed>(RSId::SocksRequestIdentFailed);
        default:
            EIdException::RaiseIdException<EIdSocksUnknownError>(RSId::SocksUnknownError);
    }
}

void Socks5Check(uint8_t code) {
    using E = EIdException;
    switch (code) {
        case 0:
            return;
        case 1:
            E::RaiseIdException<EIdSocksServerGeneralError>(RSId::SocksServerGeneralError);
        case 2:
            E::RaiseIdException<EIdSocksServerPermissionError>(RSId::SocksServerPermissionError);
        case 3:
            E::RaiseIdException<EIdSocksServerNetUnreachableError>(RSId::SocksServerNetUnreachableError);
        case 4:
            E::RaiseIdException<EIdSocksServerHostUnreachableError>(RSId::SocksServerHostUnreachableError);
        case 5:
            E::RaiseIdException<EIdSocksServerConnectionRefusedError>(RSId::SocksServerConnectionRefusedError);
        case 6:
            E::RaiseIdException<EIdSocksServerTTLExpiredError>(RSId::SocksServerTTLExpiredError);
        case 7:
            E::RaiseIdException<EIdSocksServerCommandError>(RSId::SocksServerCommandError);
        case 8:
            E::RaiseIdException<EIdSocksServerAddressError>(RSId::SocksServerAddressError);
        default:
            E::RaiseIdException<EIdSocksUnknownError>(RSId::SocksUnknownError);
    }
}

[[noreturn]] void NoUDP() {
    EIdException::RaiseIdException<EIdSocksUDPNotSupportedBySOCKSVersion>(
        "UDP is not support in this SOCKS version.");
}

std::string DottedIPv4(const uint8_t* b) { return rtl::Format("%d.%d.%d.%d", b[0], b[1], b[2], b[3]); }

TIdIOHandlerSocket& SocketHandler(TIdIOHandler& io) {
    auto* s = dynamic_cast<TIdIOHandlerSocket*>(&io);
    if (s == nullptr) EIdException::RaiseIdException<EIdIOHandlerPropInvalid>(RSId::IOHandlerPropInvalid);
    return *s;
}

}  // namespace

std::string IPv6BytesToText(const uint8_t* b) {
    std::string out;
    for (int i = 0; i < 8; ++i) out += rtl::Format(i ? ":%x" : "%x", unsigned(b[2 * i] << 8 | b[2 * i + 1]));
    return out;
}

TIdSocksInfo::TIdSocksInfo(rtl::Component* owner)
    : TIdCustomTransparentProxy(owner), udpControl_(std::make_unique<TIdIOHandlerStack>()) {
    Port = 1080;
}

TIdSocksInfo::~TIdSocksInfo() = default;

void TIdSocksInfo::AssignTo(TIdCustomTransparentProxy& target) const {
    TIdCustomTransparentProxy::AssignTo(target);
    if (auto* socks = dynamic_cast<TIdSocksInfo*>(&target)) {
        socks->Authentication = Authentication;
        socks->Version = Version;
    }
}

std::unique_ptr<TIdCustomTransparentProxy> TIdSocksInfo::NewOfSameClass() const {
    return std::make_unique<TIdSocksInfo>();
}

void TIdSocksInfo::CheckCredentials() const {
    if (Version == svSocks5 && Authentication == saUsernamePassword &&
        (Username.size() > kMaxCredential || Password.size() > kMaxCredential))
        EIdException::RaiseIdException<EIdSocksRequestTooLong>(
            "SOCKS user name and password are limited to 255 bytes each.");
    if ((Version == svSocks4 || Version == svSocks4A) &&
        (Username.size() > kMaxCredential || Username.find('\0') != std::string::npos))
        EIdException::RaiseIdException<EIdSocksRequestTooLong>(
            "SOCKS 4 user id must be at most 255 bytes without NUL bytes.");
}

void TIdSocksInfo::CheckHost(const std::string& host) const {
    const size_t limit = Version == svSocks5 ? kMaxRequestHost : kMaxCredential;
    if (host.size() > limit || host.find('\0') != std::string::npos)
        EIdException::RaiseIdException<EIdSocksRequestTooLong>(
            rtl::Format("SOCKS host name is longer than %d bytes.", int(limit)));
}

// SOCKS 4 / 4A.

TBytes TIdSocksInfo::Socks4Request(uint8_t command, const std::string& host, int32_t port) const {
    CheckCredentials();
    CheckPortNumber(port, 0);
    TBytes r{4, command, uint8_t(port >> 8), uint8_t(port)};
    if (Version == svSocks4A) {
        CheckHost(host);
        r.insert(r.end(), {0, 0, 0, 1});
    } else {
        std::string address = GStack()->ResolveHostText(host, Id_IPv4);
        for (int i = 0; i < 4; ++i) r.push_back(uint8_t(std::stoi(CutAtDelimiter(address, ".", true, true))));
    }
    r.insert(r.end(), Username.begin(), Username.end());
    r.push_back(0);
    if (Version == svSocks4A) {
        r.insert(r.end(), host.begin(), host.end());
        r.push_back(0);
    }
    return r;
}

void TIdSocksInfo::Socks4Bind(TIdIOHandler& io, const std::string& host, int32_t port) {
    const TBytes request = Socks4Request(kCmdBind, host, port);
    ConnectToServer(io);
    io.WriteBytes(request);
    Socks4Check(ReadExact(io, 2)[1]);
    TBytes rest;
    try {
        rest = ReadExact(io, 6);
    } catch (const EIdException&) {
        EIdException::RaiseIdException<EIdSocksServerRespondError>(RSId::SocksServerRespondError);
    }
    SocketHandler(io).Binding->SetBinding(DottedIPv4(&rest[2]), rest[0] * 256 + rest[1]);
}

bool TIdSocksInfo::Socks4Listen(TIdIOHandler& io, int32_t timeout) {
    TIdIOHandlerSocket& s = SocketHandler(io);
    if (!s.Binding || !s.Binding->Readable(timeout)) return false;
    Socks4Check(ReadExact(io, 2)[1]);
    const TBytes rest = ReadExact(io, 6);
    s.Binding->SetPeer(DottedIPv4(&rest[2]), rest[0] * 256 + rest[1]);
    return true;
}

// SOCKS 5.

TBytes TIdSocksInfo::Socks5Address(const std::string& host, int32_t port) const {
    CheckPortNumber(port, 0);
    TBytes out;
    if (!NormalizeIPv6Text(host).empty()) {
        out.push_back(kAtypIPv6);
        const TBytes a = MakeIPAddress(host)->GetBytes();
        out.insert(out.end(), a.begin(), a.end());
    } else if (TIdStack::IsIPv4Text(host)) {
        out.push_back(kAtypIPv4);
        std::string rest = host;
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(std::stoi(CutAtDelimiter(rest, ".", true, true))));
    } else {
        CheckHost(host);
        out.push_back(kAtypDomain);
        out.push_back(uint8_t(host.size()));
        out.insert(out.end(), host.begin(), host.end());
    }
    out.push_back(uint8_t(port >> 8));
    out.push_back(uint8_t(port));
    return out;
}

TBytes TIdSocksInfo::Socks5Request(uint8_t command, const std::string& host, int32_t port) const {
    TBytes r{5, command, 0};
    const TBytes address = Socks5Address(host, port);
    r.insert(r.end(), address.begin(), address.end());
    return r;
}

void TIdSocksInfo::Socks5Negotiate(TIdIOHandler& io) {
    CheckCredentials();
    const uint8_t method = Authentication == saUsernamePassword ? 2 : 0;
    TBytes hello{5, 1, method};
    io.PassToIntercept(hello);
    const TBytes chosen = ReadExact5(io, 2);
    if (chosen[1] != method || chosen[1] == 0xFF)
        EIdException::RaiseIdException<EIdSocksAuthMethodError>(RSId::SocksAuthMethodError);
    if (Authentication != saUsernamePassword) return;
    // RFC 1929, section 2.
    TBytes auth{1, uint8_t(Username.size())};
    auth.insert(auth.end(), Username.begin(), Username.end());
    auth.push_back(uint8_t(Password.size()));
    auth.insert(auth.end(), Password.begin(), Password.end());
    io.PassToIntercept(auth);
    if (ReadExact5(io, 2)[1] != 0) EIdException::RaiseIdException<EIdSocksAuthError>(RSId::SocksAuthError);
}

void TIdSocksInfo::Socks5ReadAddress(TIdIOHandler& io, uint8_t addressType, std::string& address, int32_t& port) {
    TBytes a;
    switch (addressType) {
        case kAtypIPv4:
            a = ReadExact5(io, 6);
            address = DottedIPv4(a.data());
            break;
        case kAtypDomain: {
            const uint8_t length = ReadExact5(io, 1)[0];
            a = ReadExact5(io, length + 2);
            address.assign(reinterpret_cast<const char*>(a.data()), length);
            break;
        }
        case kAtypIPv6:
            a = ReadExact5(io, 18);
            address = IPv6BytesToText(a.data());
            break;
        default:
            // The length of an unknown form cannot be known: the connection cannot stay in step.
            EIdException::RaiseIdException<EIdSocksServerAddressError>(RSId::SocksServerAddressError);
    }
    port = a[a.size() - 2] * 256 + a[a.size() - 1];
}

void TIdSocksInfo::Socks5Connect(TIdIOHandler& io, const std::string& host, int32_t port) {
    CheckCredentials();
    TBytes request = Socks5Request(kCmdConnect, host, port);  // checked before anything is sent
    Socks5Negotiate(io);
    io.PassToIntercept(request);
    const TBytes reply = ReadExact5(io, 5);
    Socks5Check(reply[1]);
    // The bound address is read whole and dropped.
    switch (reply[3]) {
        case kAtypIPv4:
            ReadExact5(io, 5);
            break;
        case kAtypDomain:
            ReadExact5(io, reply[4] + 2);
            break;
        case kAtypIPv6:
            ReadExact5(io, 17);
            break;
        default:
            EIdException::RaiseIdException<EIdSocksServerAddressError>(RSId::SocksServerAddressError);
    }
}

void TIdSocksInfo::Socks5Bind(TIdIOHandler& io, const std::string& host, int32_t port) {
    CheckCredentials();
    const TBytes request = Socks5Request(kCmdBind, host, port);
    ConnectToServer(io);
    Socks5Negotiate(io);
    io.WriteBytes(request);
    const TBytes reply = ReadExact5(io, 4);
    Socks5Check(reply[1]);
    std::string address;
    int32_t boundPort = 0;
    Socks5ReadAddress(io, reply[3], address, boundPort);
    SocketHandler(io).Binding->SetBinding(address, boundPort);
}

bool TIdSocksInfo::Socks5Listen(TIdIOHandler& io, int32_t timeout) {
    TIdIOHandlerSocket& s = SocketHandler(io);
    if (!s.Binding || !s.Binding->Readable(timeout)) return false;
    const TBytes reply = ReadExact5(io, 4);
    Socks5Check(reply[1]);
    std::string address;
    int32_t port = 0;
    Socks5ReadAddress(io, reply[3], address, port);
    s.Binding->SetPeer(address, port);
    return true;
}

void TIdSocksInfo::ConnectToServer(TIdIOHandler& io) {
    // The handler talks to the SOCKS server itself: its proxy (this object, maybe its private
    // one) is taken off without being freed and put back afterwards.
    TIdIOHandlerSocket& s = SocketHandler(io);
    TIdIOHandlerSocket::DetachedProxy held = s.DetachTransparentProxy();
    TIdFinally reattach{[&] { s.ReattachTransparentProxy(std::move(held)); }};
    s.SetHost(Host);
    s.SetPort(Port);
    s.Open();
}

// The proxy's operations by version.

void TIdSocksInfo::OpenTunnel(TIdIOHandler& ioHandler, const std::string& host, int32_t port) {
    switch (Version) {
        case svSocks4:
        case svSocks4A: {
            const TBytes request = Socks4Request(kCmdConnect, host, port);
            ioHandler.WriteBytes(request);
            Socks4Check(ReadExact(ioHandler, 8)[1]);
            break;
        }
        case svSocks5:
            Socks5Connect(ioHandler, host, port);
            break;
        case svNoSocks:
            break;
    }
}

void TIdSocksInfo::BindThrough(TIdIOHandler& ioHandler, const std::string& host, int32_t port) {
    if (Version == svSocks4 || Version == svSocks4A) Socks4Bind(ioHandler, host, port);
    if (Version == svSocks5) Socks5Bind(ioHandler, host, port);
}

bool TIdSocksInfo::ListenThrough(TIdIOHandler& ioHandler, int32_t timeout) {
    if (Version == svSocks4 || Version == svSocks4A) return Socks4Listen(ioHandler, timeout);
    if (Version == svSocks5) return Socks5Listen(ioHandler, timeout);
    return false;
}

void TIdSocksInfo::OpenDatagram(TIdSocketHandle& binding, const std::string&, int32_t) {
    if (Version == svSocks4 || Version == svSocks4A) NoUDP();
    if (Version != svSocks5) return;
    CheckCredentials();
    try {
        udpControl_->SetHost(Host);
        udpControl_->SetPort(Port);
        udpControl_->Open();
        Socks5Negotiate(*udpControl_);
        udpControl_->WriteBytes(
            Socks5Request(kCmdUdpAssociate, binding.IPVersion() == Id_IPv6 ? "::0" : "0.0.0.0", 0));
        const TBytes reply = ReadExact5(*udpControl_, 2);
        Socks5Check(reply[1]);
        const TBytes head = ReadExact5(*udpControl_, 2);  // reserved, address type
        std::string relay;
        int32_t relayPort = 0;
        Socks5ReadAddress(*udpControl_, head[1], relay, relayPort);
        // The relay's address in the reply is not used: the server's own address is.
        binding.SetPeer(udpControl_->Binding->PeerIP, relayPort);
        binding.Connect();
    } catch (...) {
        udpControl_->Close();
        throw;
    }
}

void TIdSocksInfo::CloseDatagram(TIdSocketHandle&) {
    if (Version == svSocks4 || Version == svSocks4A) NoUDP();
    if (Version == svSocks5) udpControl_->Close();
}

void TIdSocksInfo::SendDatagram(TIdSocketHandle& binding, const std::string& host, int32_t port,
                                const TBytes& payload) {
    if (Version == svSocks4 || Version == svSocks4A) NoUDP();
    TBytes datagram{0, 0, 0};  // reserved, fragment 0 (RFC 1928, section 7)
    const TBytes address = Socks5Address(host, port);
    datagram.insert(datagram.end(), address.begin(), address.end());
    datagram.insert(datagram.end(), payload.begin(), payload.end());
    binding.SendBytes(datagram);
}

int32_t TIdSocksInfo::ReceiveDatagram(TIdSocketHandle& binding, TBytes& buffer, std::string& peerIP,
                                      int32_t& peerPort, int32_t timeout) {
    if (Version == svSocks4 || Version == svSocks4A) NoUDP();
    if (!binding.Readable(timeout)) {
        peerIP.clear();
        peerPort = 0;
        return 0;
    }
    TBytes datagram(buffer.size() + kDatagramHeaderRoom);
    const int32_t n = binding.ReceiveFrom(datagram, peerIP, peerPort);
    // Parsed within the datagram's own length.
    const size_t length = size_t(std::max(n, 0));
    const uint8_t* d = datagram.data();
    size_t payloadAt;
    if (length <= 4) return 0;
    if (d[3] == kAtypIPv4) {
        if (length < 10) return 0;
        peerIP = DottedIPv4(d + 4);
        peerPort = d[8] * 256 + d[9];
        payloadAt = 10;
    } else if (d[3] == kAtypDomain) {
        const size_t l = d[4];
        if (length < l + 7) return 0;
        peerIP.assign(reinterpret_cast<const char*>(d + 5), l);
        peerPort = d[5 + l] * 256 + d[6 + l];
        payloadAt = l + 7;
    } else {
        if (length < 22) return 0;
        peerIP = IPv6BytesToText(d + 4);
        peerPort = d[20] * 256 + d[21];
        payloadAt = 22;
    }
    const size_t payload = std::min(length - payloadAt, buffer.size());
    if (payload > 0) std::memcpy(buffer.data(), d + payloadAt, payload);
    return int32_t(payload);
}
