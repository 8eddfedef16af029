// net/IdIOHandlerSocket.h: an IO handler that owns one socket handle.
//
// It binds the handle (a bound address, a port, or a client port range), applies the Nagle
// setting and holds the optional transparent proxy. The proxy is either shared (a component
// with an owner, which the application keeps) or private (made by the handler, owned and freed
// by it); reading TransparentProxy on a handler without one makes a private, disabled SOCKS
// proxy. Open connects only when a host and a positive port are set.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "net/IdCustomTransparentProxy.h"
#include "net/IdIOHandler.h"
#include "net/IdSocketHandle.h"

class TIdIOHandlerSocket;
using TIdSocketNotifyEvent = std::function<void(TIdIOHandlerSocket* ASender)>;

class TIdIOHandlerSocket : public TIdIOHandler {
public:
    explicit TIdIOHandlerSocket(rtl::Component* owner = nullptr) : TIdIOHandler(owner) {}
    ~TIdIOHandlerSocket() override;

    // Made by the first Open, reset by later ones, freed with the handler.
    std::unique_ptr<TIdSocketHandle> Binding;
    std::string BoundIP;
    int32_t BoundPort = 0;
    int32_t BoundPortMin = 0;  // the client port range copied into the handle before binding
    int32_t BoundPortMax = 0;
    int32_t DefaultPort = 0;
    TIdIPVersion IPVersion = Id_IPv4;
    TIdSocketNotifyEvent OnBeforeBind;
    TIdSocketNotifyEvent OnAfterBind;
    TIdSocketNotifyEvent OnSocketCreated;

    bool UseNagle() const { return useNagle_; }
    // False sets TCP_NODELAY on an allocated socket (and on every later one).
    void SetUseNagle(bool value);

    // The proxy; a private, disabled SOCKS proxy is made when none is set.
    TIdCustomTransparentProxy* TransparentProxy();
    bool HasTransparentProxy() const { return proxy_ != nullptr; }
    // nullptr: a private proxy is freed, a shared one forgotten. A proxy with an owner is kept
    // as a shared one; one without an owner is copied into a private proxy of its class.
    void SetTransparentProxy(TIdCustomTransparentProxy* value);

    // Takes the proxy off the handler without freeing it (a private one comes back in the
    // holder), and puts it back: a proxy that detaches itself to talk to its own server
    // stays alive meanwhile.
    struct DetachedProxy {
        TIdCustomTransparentProxy* proxy = nullptr;
        std::unique_ptr<TIdCustomTransparentProxy> owned;
    };
    DetachedProxy DetachTransparentProxy();
    void ReattachTransparentProxy(DetachedProxy detached);

    void Open() override;
    void Close() override;
    bool IsConnected() override;
    std::string GetDestination() const override;
    void SetDestination(const std::string& value) override;

    // Creates and binds the socket (the stack handler then connects it).
    virtual void ConnectClient();

protected:
    void Notification(rtl::Component* component, TOperation operation) override;
    bool HoldsLinkTo(const rtl::Component* other) const override;
    bool ProxyEnabled() const { return proxy_ != nullptr && proxy_->IsEnabled(); }
    TIdCustomTransparentProxy* CurrentProxy() const { return proxy_; }

private:
    void ApplyNagle();

    bool useNagle_ = true;
    TIdCustomTransparentProxy* proxy_ = nullptr;
    std::unique_ptr<TIdCustomTransparentProxy> privateProxy_;
};
