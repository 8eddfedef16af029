// net/IdServerIOHandler.h: the server side's maker of IO handlers for accepted connections.
//
// The base makes nothing: AcceptClient and MakeClientHandler give nullptr, InitServerHandler
// does nothing. A transport (the TLS server handler) overrides them. The scheduler reference
// is kept for a server that hands connections to one; nothing in the library reads it.
#pragma once

#include <memory>

#include "net/IdComponent.h"
#include "net/IdIOHandler.h"
#include "net/IdSocketHandle.h"

class TIdServerIOHandler : public TIdComponent {
public:
    using TIdComponent::TIdComponent;

    // A handler serving a connection accepted from the listening socket; nullptr when none.
    virtual std::unique_ptr<TIdIOHandler> AcceptClient(TIdSocketHandle& listening) {
        (void)listening;
        return nullptr;
    }
    virtual std::unique_ptr<TIdIOHandler> MakeClientHandler() { return nullptr; }
    virtual void InitServerHandler() {}
    virtual void SetScheduler(rtl::Component* scheduler) { scheduler_ = scheduler; }
    rtl::Component* Scheduler() const { return scheduler_; }

private:
    rtl::Component* scheduler_ = nullptr;
};
