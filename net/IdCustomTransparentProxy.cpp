// net/IdCustomTransparentProxy.cpp: chains and the base's refusals.
#include "net/IdCustomTransparentProxy.h"

#include "rtl/Format.h"

void TIdCustomTransparentProxy::SetChainedProxy(TIdCustomTransparentProxy* value) {
    if (value == chained_) return;
    for (TIdCustomTransparentProxy* p = value; p != nullptr; p = p->chained_)
        if (p == this)
            EIdException::RaiseIdException<EIdTransparentProxyCircularLink>(
                rtl::Format("%s: Circular links are not allowed", ClassName()));
    SetLinked(chained_, value);
}

bool TIdCustomTransparentProxy::HoldsLinkTo(const rtl::Component* other) const {
    return (other != nullptr && other == chained_) || TIdComponent::HoldsLinkTo(other);
}

void TIdCustomTransparentProxy::Notification(rtl::Component* component, TOperation operation) {
    if (operation == opRemove && component == chained_) chained_ = nullptr;
    TIdComponent::Notification(component, operation);
}

void TIdCustomTransparentProxy::ConnectThrough(TIdIOHandler& ioHandler, const std::string& host, int32_t port) {
    if (chained_ != nullptr && chained_->IsEnabled()) {
        OpenTunnel(ioHandler, chained_->Host, chained_->Port);
        chained_->ConnectThrough(ioHandler, host, port);
    } else {
        OpenTunnel(ioHandler, host, port);
    }
}

void TIdCustomTransparentProxy::AssignTo(TIdCustomTransparentProxy& target) const {
    if (&target == this) return;
    target.Host = Host;
    target.Password = Password;
    target.Port = Port;
    target.Username = Username;
}

namespace {
[[noreturn]] void NoUDP() {
    EIdException::RaiseIdException<EIdTransparentProxyUDPNotSupported>("UDP Not supported by this proxy.");
}
[[noreturn]] void NoBind() {
    EIdException::RaiseIdException<EIdTransparentProxyCantBind>(RSId::TransparentProxyCantBind);
}
}  // namespace

void TIdCustomTransparentProxy::OpenDatagram(TIdSocketHandle&, const std::string&, int32_t) { NoUDP(); }
void TIdCustomTransparentProxy::CloseDatagram(TIdSocketHandle&) { NoUDP(); }
int32_t TIdCustomTransparentProxy::ReceiveDatagram(TIdSocketHandle&, TBytes&, std::string&, int32_t&, int32_t) {
    NoUDP();
}
void TIdCustomTransparentProxy::SendDatagram(TIdSocketHandle&, const std::string&, int32_t, const TBytes&) { NoUDP(); }
void TIdCustomTransparentProxy::BindThrough(TIdIOHandler&, const std::string&, int32_t) { NoBind(); }
bool TIdCustomTransparentProxy::ListenThrough(TIdIOHandler&, int32_t) { NoBind(); }
