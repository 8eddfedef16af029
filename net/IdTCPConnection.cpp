// net/IdTCPConnection.cpp: handler ownership, replies and the disconnect sequence.
#include "net/IdTCPConnection.h"

#include <limits>

#include "net/IdIOHandlerSocket.h"
#include "rtl/Text.h"

TIdTCPConnection::TIdTCPConnection(rtl::Component* owner) : TIdComponent(owner) { PrepareReplies(); }

void TIdTCPConnection::PrepareReplies() {
    greetingReply_ = GetReplyClass();
    lastReply_ = GetReplyClass();
}

TIdTCPConnection::~TIdTCPConnection() {
    if (ioHandler_ != nullptr) {
        ioHandler_->Close();
        SetIOHandler(nullptr);
    }
}

void TIdTCPConnection::SetIOHandler(TIdIOHandler* value) {
    if (value == ioHandler_) return;
    TIdIOHandler* old = ioHandler_;
    ioHandler_ = value;
    socket_ = dynamic_cast<TIdIOHandlerSocket*>(value);
    if (old != nullptr) {
        old->SetWorkRelay(nullptr);
        ReleaseLink(old);
    }
    managed_.reset();  // a managed handler goes with its replacement
    if (value != nullptr) {
        value->SetWorkRelay(this);
        FreeNotification(value);
    }
}

void TIdTCPConnection::SetManagedIOHandler(std::unique_ptr<TIdIOHandler> value) {
    SetIOHandler(value.get());
    managed_ = std::move(value);
}

bool TIdTCPConnection::HoldsLinkTo(const rtl::Component* other) const {
    return (other != nullptr && other == ioHandler_) || TIdComponent::HoldsLinkTo(other);
}

void TIdTCPConnection::Notification(rtl::Component* component, TOperation operation) {
    if (operation == opRemove && component == ioHandler_ && !managed_) {
        ioHandler_ = nullptr;
        socket_ = nullptr;
    }
    TIdComponent::Notification(component, operation);
}

bool TIdTCPConnection::IsConnected() { return ioHandler_ != nullptr && ioHandler_->IsConnected(); }

void TIdTCPConnection::DisconnectNotify(bool notifyPeer) {
    // The handler is closed whether or not telling the peer worked.
    TIdFinally closeAfter{[this] {
        TIdIOHandler* io = ioHandler_;
        if (io != nullptr && io->IsOpen) {
            DoStatusPlain(hsDisconnecting);
            io->Close();
            DoOnDisconnected();
            DoStatusPlain(hsDisconnected);
        }
    }};
    if (notifyPeer && IsConnected()) DisconnectNotifyPeer();
}

void TIdTCPConnection::DoOnDisconnected() {
    if (OnDisconnected) OnDisconnected(this);
}

void TIdTCPConnection::CheckConnected() {
    if (ioHandler_ == nullptr) EIdException::RaiseIdException<EIdNotConnected>(RSId::NotConnectedCommand);
}

void TIdTCPConnection::CheckForGracefulDisconnect(bool raise) {
    if (ioHandler_ != nullptr)
        ioHandler_->CheckForDisconnect(raise, false);
    else if (raise)
        EIdException::RaiseIdException(RSId::NotConnectedHandler);
}

int16_t TIdTCPConnection::SendCmd(const std::string& line, std::initializer_list<int16_t> allowed) {
    CheckConnected();
    ioHandler_->WriteLine(line);
    return GetResponse(allowed);
}

void TIdTCPConnection::GetInternalResponse() {
    CheckConnected();
    rtl::StringList lines;
    std::string line = ioHandler_->ReadLineNonEmpty(std::numeric_limits<int32_t>::max());
    lines.Add(line);
    while (!lastReply_->IsLastLine(line)) {
        line = ioHandler_->ReadLine();
        lines.Add(line);
    }
    lastReply_->ParseFormattedLines(lines);
}

int16_t TIdTCPConnection::GetResponse(std::initializer_list<int16_t> allowed) {
    GetInternalResponse();
    return CheckResponse(int16_t(lastReply_->GetNumericCode()), allowed);
}

std::string TIdTCPConnection::GetResponseText(const std::string& allowed) {
    GetInternalResponse();
    return CheckResponseText(lastReply_->Code(), allowed);
}

int16_t TIdTCPConnection::CheckResponse(int16_t code, std::initializer_list<int16_t> allowed) {
    if (allowed.size() > 0 && std::find(allowed.begin(), allowed.end(), code) == allowed.end()) RaiseReplyError();
    return code;
}

std::string TIdTCPConnection::CheckResponseText(const std::string& text, const std::string& allowed) {
    if (!allowed.empty() && !rtl::SameText(text, allowed)) RaiseReplyError();
    return text;
}

void TIdTCPConnection::RaiseReplyError() {
    lastReply_->RaiseAsError();
    // Every reply class raises itself; should one not, the failure still is one.
    throw EIdReplyError(lastReply_->Text().Text());
}
