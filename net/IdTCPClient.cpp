// net/IdTCPClient.cpp: settings handed to the IO handler, and Connect.
#include "net/IdTCPClient.h"

#include "net/IdIOHandlerStack.h"

void TIdTCPClientCustom::SetHost(const std::string& value) {
    host_ = value;
    if (IOHandler() != nullptr && !value.empty()) IOHandler()->SetHost(value);
}

void TIdTCPClientCustom::SetPort(int32_t value) {
    port_ = value;
    if (IOHandler() != nullptr && value > 0) IOHandler()->SetPort(value);
}

void TIdTCPClientCustom::SetIPVersion(TIdIPVersion value) {
    ipVersion_ = value;
    if (Socket() != nullptr) Socket()->IPVersion = value;
}

void TIdTCPClientCustom::SetConnectTimeout(int32_t value) {
    connectTimeout_ = value;
    if (IOHandler() != nullptr) IOHandler()->ConnectTimeout = value;
}

int32_t TIdTCPClientCustom::GetConnectTimeout() const {
    return IOHandler() != nullptr ? IOHandler()->ConnectTimeout : connectTimeout_;
}

void TIdTCPClientCustom::SetReadTimeout(int32_t value) {
    readTimeout_ = value;
    if (IOHandler() != nullptr) IOHandler()->ReadTimeout = value;
}

int32_t TIdTCPClientCustom::GetReadTimeout() const {
    return IOHandler() != nullptr ? IOHandler()->ReadTimeout : readTimeout_;
}

void TIdTCPClientCustom::SetOnBeforeBind(TIdSocketNotifyEvent value) {
    onBeforeBind_ = std::move(value);
    if (Socket() != nullptr) Socket()->OnBeforeBind = onBeforeBind_;
}

void TIdTCPClientCustom::SetOnAfterBind(TIdSocketNotifyEvent value) {
    onAfterBind_ = std::move(value);
    if (Socket() != nullptr) Socket()->OnAfterBind = onAfterBind_;
}

void TIdTCPClientCustom::SetIOHandler(TIdIOHandler* value) {
    TIdTCPConnection::SetIOHandler(value);
    if (IOHandler() == nullptr) return;
    if (connectTimeout_ > 0) IOHandler()->ConnectTimeout = connectTimeout_;
    if (readTimeout_ > 0) IOHandler()->ReadTimeout = readTimeout_;
    if (TIdIOHandlerSocket* s = Socket()) {
        if (port_ > 0) s->SetPort(port_);
        if (!host_.empty()) s->SetHost(host_);
        s->IPVersion = ipVersion_;
        s->OnBeforeBind = onBeforeBind_;
        s->OnAfterBind = onAfterBind_;
    }
}

std::unique_ptr<TIdIOHandler> TIdTCPClientCustom::MakeImplicitClientHandler() {
    // The stack handler registers itself as the default; should a program have cleared the
    // registry, it is still the library's default.
    if (TIdIOHandler::DefaultIOHandlerClass() == nullptr)
        TIdIOHandler::RegisterDefaultIOHandlerClass(&TIdIOHandlerStack::ClassInfo);
    return TIdIOHandler::MakeDefaultIOHandlerInstance(this);
}

void TIdTCPClientCustom::Connect() {
    if (IsConnected()) EIdException::RaiseIdException<EIdAlreadyConnected>(RSId::AlreadyConnected);
    if (IOHandler() == nullptr) {
        std::unique_ptr<TIdIOHandler> handler = MakeImplicitClientHandler();
        handler->OnStatus = OnStatus;
        SetManagedIOHandler(std::move(handler));
    }
    TIdIOHandler* io = IOHandler();
    try {
        if (!Destination.empty()) io->SetDestination(Destination);
        io->SetPort(port_);
        io->SetHost(host_);
        if (TIdIOHandlerSocket* s = Socket()) s->IPVersion = ipVersion_;
        if (connectTimeout_ > 0) io->ConnectTimeout = connectTimeout_;
        if (readTimeout_ > 0) io->ReadTimeout = readTimeout_;
        io->Open();
        if (io->Intercept() != nullptr) io->Intercept()->InterceptConnect(this);
        DoStatus(hsConnected, host_);
        DoOnConnected();
    } catch (...) {
        io->Close();
        throw;
    }
}

void TIdTCPClientCustom::DoOnConnected() {
    if (OnConnected) OnConnected(this);
}

std::string TIdTCPClientCustom::ConnectAndGetAll() {
    Connect();
    TIdFinally disconnect{[this] { Disconnect(); }};
    return IOHandler()->ReadAllUntilClosed();
}
