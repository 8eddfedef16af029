// net/IdIntercept.h: a hook through which the raw bytes of a connection pass both ways.
//
// Intercepts form a chain. Outgoing bytes pass this intercept first, then its chained one;
// incoming bytes pass the far end of the chain first, so a chain undoes on receive what it
// did on send. Each stage may replace the bytes. A chain never loops: linking an intercept
// that already leads back here raises.
#pragma once

#include <functional>

#include "net/IdBaseComponent.h"
#include "net/IdGlobal.h"

class TIdConnectionIntercept;

using TIdInterceptNotifyEvent = std::function<void(TIdConnectionIntercept* ASender)>;
using TIdInterceptStreamEvent = std::function<void(TIdConnectionIntercept* ASender, TBytes& ABuffer)>;

class TIdConnectionIntercept : public TIdBaseComponent {
public:
    explicit TIdConnectionIntercept(rtl::Component* owner = nullptr) : TIdBaseComponent(owner) {}

    TIdInterceptNotifyEvent OnConnect;
    TIdInterceptNotifyEvent OnDisconnect;
    TIdInterceptStreamEvent OnReceive;
    TIdInterceptStreamEvent OnSend;
    bool IsClient = true;

    rtl::Component* Connection() const { return connection_; }
    TIdConnectionIntercept* ChainedIntercept() const { return chained_; }
    void SetChainedIntercept(TIdConnectionIntercept* value);

    virtual void InterceptConnect(rtl::Component* connection);
    virtual void InterceptDisconnect();
    virtual void InterceptReceive(TBytes& buffer);
    virtual void InterceptSend(TBytes& buffer);

protected:
    void Notification(rtl::Component* component, TOperation operation) override;
    bool HoldsLinkTo(const rtl::Component* other) const override;

private:
    rtl::Component* connection_ = nullptr;
    TIdConnectionIntercept* chained_ = nullptr;
};
