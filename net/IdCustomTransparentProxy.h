// net/IdCustomTransparentProxy.h: the base of proxies between a socket and its destination.
//
// A proxy is reached through the socket IO handler's TransparentProxy: the TCP connection goes
// to the first proxy of a chain, and ConnectThrough asks each proxy in turn to open a tunnel to
// the next hop, the last one to the destination. A chain never loops: setting a link that leads
// back raises EIdTransparentProxyCircularLink. The base refuses datagrams and binds; the SOCKS
// proxy (IdSocks) implements them.
#pragma once

#include <memory>
#include <string>

#include "net/IdComponent.h"
#include "net/IdExceptionCore.h"

class TIdIOHandler;
class TIdSocketHandle;

RTL_EXCEPTION(EIdTransparentProxyCircularLink, EIdException);
RTL_EXCEPTION(EIdTransparentProxyUDPNotSupported, EIdException);

class TIdCustomTransparentProxy : public TIdComponent {
public:
    explicit TIdCustomTransparentProxy(rtl::Component* owner = nullptr) : TIdComponent(owner) {}

    std::string Host;
    std::string Password;
    int32_t Port = 0;
    std::string Username;

    TIdCustomTransparentProxy* ChainedProxy() const { return chained_; }
    // Refuses a link that leads back to this proxy.
    void SetChainedProxy(TIdCustomTransparentProxy* value);

    virtual bool IsEnabled() const = 0;
    virtual void SetEnabled(bool) {}
    // Over an IO handler connected to this proxy, opens the way to host:port.
    virtual void OpenTunnel(TIdIOHandler& ioHandler, const std::string& host, int32_t port) = 0;
    virtual void OpenDatagram(TIdSocketHandle& binding, const std::string& host, int32_t port);
    virtual void CloseDatagram(TIdSocketHandle& binding);
    // The payload length received (0 when none within the time-out).
    virtual int32_t ReceiveDatagram(TIdSocketHandle& binding, TBytes& buffer, std::string& peerIP,
                                    int32_t& peerPort, int32_t timeout);
    virtual void SendDatagram(TIdSocketHandle& binding, const std::string& host, int32_t port,
                              const TBytes& payload);
    virtual void BindThrough(TIdIOHandler& ioHandler, const std::string& host, int32_t port);
    virtual bool ListenThrough(TIdIOHandler& ioHandler, int32_t timeout);

    // Tunnels through the chain to host:port (the connection already reached this proxy).
    void ConnectThrough(TIdIOHandler& ioHandler, const std::string& host, int32_t port);

    // Copies Host, Password, Port and Username (and what a derived class adds) into target.
    virtual void AssignTo(TIdCustomTransparentProxy& target) const;
    void Assign(const TIdCustomTransparentProxy& source) { source.AssignTo(*this); }
    // A new proxy of this one's class, with its defaults and no owner.
    virtual std::unique_ptr<TIdCustomTransparentProxy> NewOfSameClass() const = 0;
    virtual const char* ClassName() const { return "TIdCustomTransparentProxy"; }

protected:
    void Notification(rtl::Component* component, TOperation operation) override;
    bool HoldsLinkTo(const rtl::Component* other) const override;

private:
    TIdCustomTransparentProxy* chained_ = nullptr;
};
