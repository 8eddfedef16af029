// net/IdSocks.h: the SOCKS 4, 4A and 5 client (RFC 1928, with RFC 1929 user name and
// password) as a transparent proxy of a socket IO handler.
//
// Once Version is set, every connection of the handler goes through the SOCKS server: the TCP
// connection reaches the server and OpenTunnel asks it for the destination. Bind, listen and
// the SOCKS 5 UDP association complete the interface. What may not fit the wire formats (a user
// name, password or domain name longer than its length byte or the request) is refused before
// anything is sent. Replies are read whole, whatever form their bound address takes, so the
// connection stays in step; received datagrams are parsed within their length and their payload
// is never copied past the caller's buffer. The UDP association's control connection is a
// handler of the proxy's own, freed with it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/IdCustomTransparentProxy.h"

class TIdIOHandlerStack;

enum TSocksVersion : uint8_t { svNoSocks = 0, svSocks4 = 1, svSocks4A = 2, svSocks5 = 3 };
enum TSocksAuthentication : uint8_t { saNoAuthentication = 0, saUsernamePassword = 1 };

RTL_EXCEPTION(EIdSocksUDPNotSupportedBySOCKSVersion, EIdSocksError);
// A user name, password or host name that the request cannot carry.
RTL_EXCEPTION(EIdSocksRequestTooLong, EIdSocksError);

class TIdSocksInfo : public TIdCustomTransparentProxy {
public:
    // Longest user name and password (one length byte, RFC 1929) and host name (one length
    // byte, RFC 1928 section 5, within the 255-byte request: 255 - 7).
    static constexpr size_t kMaxCredential = 255;
    static constexpr size_t kMaxRequestHost = 248;

    explicit TIdSocksInfo(rtl::Component* owner = nullptr);
    ~TIdSocksInfo() override;

    TSocksAuthentication Authentication = saNoAuthentication;
    TSocksVersion Version = svNoSocks;

    bool IsEnabled() const override { return Version != svNoSocks; }
    void OpenTunnel(TIdIOHandler& ioHandler, const std::string& host, int32_t port) override;
    void BindThrough(TIdIOHandler& ioHandler, const std::string& host, int32_t port) override;
    bool ListenThrough(TIdIOHandler& ioHandler, int32_t timeout) override;
    void OpenDatagram(TIdSocketHandle& binding, const std::string& host, int32_t port) override;
    void CloseDatagram(TIdSocketHandle& binding) override;
    int32_t ReceiveDatagram(TIdSocketHandle& binding, TBytes& buffer, std::string& peerIP, int32_t& peerPort,
                            int32_t timeout) override;
    void SendDatagram(TIdSocketHandle& binding, const std::string& host, int32_t port,
                      const TBytes& payload) override;

    void AssignTo(TIdCustomTransparentProxy& target) const override;
    std::unique_ptr<TIdCustomTransparentProxy> NewOfSameClass() const override;
    const char* ClassName() const override { return "TIdSocksInfo"; }

    // The datagram header and the request's address part for a host (IPv6 literal, dotted
    // IPv4, else a domain name) and port; visible for tests.
    TBytes Socks5Address(const std::string& host, int32_t port) const;

private:
    void CheckCredentials() const;
    void CheckHost(const std::string& host) const;
    TBytes Socks4Request(uint8_t command, const std::string& host, int32_t port) const;
    void Socks4Bind(TIdIOHandler& io, const std::string& host, int32_t port);
    bool Socks4Listen(TIdIOHandler& io, int32_t timeout);
    void Socks5Negotiate(TIdIOHandler& io);
    TBytes Socks5Request(uint8_t command, const std::string& host, int32_t port) const;
    void Socks5Connect(TIdIOHandler& io, const std::string& host, int32_t port);
    void Socks5Bind(TIdIOHandler& io, const std::string& host, int32_t port);
    bool Socks5Listen(TIdIOHandler& io, int32_t timeout);
    // Reads the rest of a SOCKS 5 reply after its address type: the address and the port.
    void Socks5ReadAddress(TIdIOHandler& io, uint8_t addressType, std::string& address, int32_t& port);
    // Connects io to this proxy's server directly, keeping the proxy alive meanwhile.
    void ConnectToServer(TIdIOHandler& io);

    std::unique_ptr<TIdIOHandlerStack> udpControl_;
};

// The canonical text of 16 network-order address bytes ("FE80:0:0:0:0:0:0:1").
std::string IPv6BytesToText(const uint8_t* bytes);
