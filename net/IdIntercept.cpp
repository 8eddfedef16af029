// net/IdIntercept.cpp: the intercept chain.
#include "net/IdIntercept.h"

#include "net/IdException.h"

void TIdConnectionIntercept::SetChainedIntercept(TIdConnectionIntercept* value) {
    if (value == chained_) return;
    for (TIdConnectionIntercept* i = value; i != nullptr; i = i->chained_)
        if (i == this) EIdException::RaiseIdException("Circular intercept chain.");
    SetLinked(chained_, value);
}

bool TIdConnectionIntercept::HoldsLinkTo(const rtl::Component* other) const {
    return (other != nullptr && other == chained_) || TIdBaseComponent::HoldsLinkTo(other);
}

void TIdConnectionIntercept::InterceptConnect(rtl::Component* connection) {
    connection_ = connection;
    if (OnConnect) OnConnect(this);
    if (chained_ != nullptr) chained_->InterceptConnect(connection);
}

void TIdConnectionIntercept::InterceptDisconnect() {
    if (chained_ != nullptr) chained_->InterceptDisconnect();
    if (OnDisconnect) OnDisconnect(this);
    connection_ = nullptr;
}

void TIdConnectionIntercept::InterceptReceive(TBytes& buffer) {
    if (chained_ != nullptr) chained_->InterceptReceive(buffer);
    if (OnReceive) OnReceive(this, buffer);
}

void TIdConnectionIntercept::InterceptSend(TBytes& buffer) {
    if (OnSend) OnSend(this, buffer);
    if (chained_ != nullptr) chained_->InterceptSend(buffer);
}

void TIdConnectionIntercept::Notification(rtl::Component* component, TOperation operation) {
    if (operation == opRemove && component == chained_) chained_ = nullptr;
    TIdBaseComponent::Notification(component, operation);
}
