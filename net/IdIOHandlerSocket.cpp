// net/IdIOHandlerSocket.cpp: binding, Nagle, destinations and the proxy's ownership.
#include "net/IdIOHandlerSocket.h"

#include "net/IdSocks.h"
#include "rtl/Text.h"

TIdIOHandlerSocket::~TIdIOHandlerSocket() {
    TIdIOHandlerSocket::Close();
}

void TIdIOHandlerSocket::SetUseNagle(bool value) {
    useNagle_ = value;
    ApplyNagle();
}

void TIdIOHandlerSocket::ApplyNagle() {
    if (Binding && Binding->HandleAllocated())
        GStack()->WriteSocketOption(Binding->Handle(), Id_IPPROTO_TCP, Id_TCP_NODELAY, useNagle_ ? 0 : 1);
}

TIdCustomTransparentProxy* TIdIOHandlerSocket::TransparentProxy() {
    if (proxy_ == nullptr) {
        privateProxy_ = std::make_unique<TIdSocksInfo>();
        proxy_ = privateProxy_.get();
    }
    return proxy_;
}

void TIdIOHandlerSocket::SetTransparentProxy(TIdCustomTransparentProxy* value) {
    if (value == proxy_) return;
    TIdCustomTransparentProxy* shared = privateProxy_ ? nullptr : proxy_;
    if (value == nullptr) {
        privateProxy_.reset();
        proxy_ = nullptr;
    } else if (value->Owner() != nullptr) {
        privateProxy_.reset();
        proxy_ = value;
        FreeNotification(value);
    } else {
        // Without an owner: the caller keeps value; a private proxy of its class takes its
        // settings.
        if (!privateProxy_ || std::string(privateProxy_->ClassName()) != value->ClassName())
            privateProxy_ = value->NewOfSameClass();
        privateProxy_->Assign(*value);
        proxy_ = privateProxy_.get();
    }
    ReleaseLink(shared);
}

TIdIOHandlerSocket::DetachedProxy TIdIOHandlerSocket::DetachTransparentProxy() {
    DetachedProxy d{proxy_, std::move(privateProxy_)};
    TIdCustomTransparentProxy* shared = d.owned ? nullptr : proxy_;
    proxy_ = nullptr;
    ReleaseLink(shared);
    return d;
}

void TIdIOHandlerSocket::ReattachTransparentProxy(DetachedProxy detached) {
    SetTransparentProxy(nullptr);
    privateProxy_ = std::move(detached.owned);
    proxy_ = detached.proxy;
    if (proxy_ != nullptr && !privateProxy_) FreeNotification(proxy_);
}

bool TIdIOHandlerSocket::HoldsLinkTo(const rtl::Component* other) const {
    return (other != nullptr && other == proxy_) || TIdIOHandler::HoldsLinkTo(other);
}

void TIdIOHandlerSocket::Notification(rtl::Component* component, TOperation operation) {
    if (operation == opRemove && component == proxy_ && !privateProxy_) proxy_ = nullptr;
    TIdIOHandler::Notification(component, operation);
}

void TIdIOHandlerSocket::Open() {
    TIdIOHandler::Open();
    if (!Binding)
        Binding = std::make_unique<TIdSocketHandle>();
    else
        Binding->Reset(true);
    Binding->ClientPortMin = BoundPortMin;
    Binding->ClientPortMax = BoundPortMax;
    if (!Host().empty() && Port() > 0) ConnectClient();
}

void TIdIOHandlerSocket::ConnectClient() {
    if (OnBeforeBind) OnBeforeBind(this);
    Binding->SetIPVersion(IPVersion);
    Binding->AllocateSocket(Id_SOCK_STREAM, 0);
    if (OnSocketCreated) OnSocketCreated(this);
    if (!BoundIP.empty()) Binding->IP = BoundIP;
    Binding->Port = BoundPort;
    Binding->ClientPortMin = BoundPortMin;
    Binding->ClientPortMax = BoundPortMax;
    // With no address, port or port range to bind, connect chooses the local port knowing the
    // destination; a bind to port 0 would choose it blind, and with many connections in
    // TIME_WAIT (a client making one connection per request) it fails or slows down.
    if (!BoundIP.empty() || BoundPort != 0 || (BoundPortMin != 0 && BoundPortMax != 0)) Binding->Bind();
    ApplyNagle();
    if (OnAfterBind) OnAfterBind(this);
}

void TIdIOHandlerSocket::Close() {
    if (Binding) Binding->CloseSocket();
    TIdIOHandler::Close();
}

bool TIdIOHandlerSocket::IsConnected() {
    return (Binding && Binding->HandleAllocated() && TIdIOHandler::IsConnected()) || !InputBufferIsEmpty();
}

std::string TIdIOHandlerSocket::GetDestination() const {
    std::string d = Host();
    if (Port() > 0 && Port() != DefaultPort) d += ":" + std::to_string(Port());
    return d;
}

void TIdIOHandlerSocket::SetDestination(const std::string& value) {
    const size_t colon = value.rfind(':');
    if (colon == std::string::npos) return;
    SetHost(value.substr(0, colon));
    SetPort(rtl::StrToIntDef(rtl::Trim(value.substr(colon + 1, 255)), DefaultPort));
}
