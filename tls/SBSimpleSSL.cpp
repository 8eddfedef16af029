// tls/SBSimpleSSL.cpp: the simple SSL client (see the header).
#include "tls/SBSimpleSSL.h"

#include "platform/Clock.h"
#include "rtl/Format.h"

TElCustomSimpleSSLClient::TElCustomSimpleSSLClient(rtl::Component* owner)
    : rtl::Component(owner), socket_(std::make_unique<TElSocket>()), engine_(CreateSecureEngine()) {
    socket_->SetPort(443);
    engine_->OnSend = [this](const uint8_t* b, size_t n) { EngineSend(b, n); };
    engine_->OnReceive = [this](uint8_t* b, size_t max, size_t& written) { EngineReceive(b, max, written); };
    engine_->OnData = [this](const uint8_t* b, size_t n) { StoreReceivedData(b, n); };
    engine_->OnError = [this](int32_t code, bool fatal, bool remote) { EngineError(code, fatal, remote); };
    engine_->OnCertificateChoose = [this](const std::vector<TElX509Certificate*>& certificates,
                                          int32_t& index) {
        if (OnCertificateChoose) OnCertificateChoose(this, certificates, index);
    };
    engine_->OnCertificateValidate = [this](TElX509Certificate* certificate, bool& validate) {
        if (OnCertificateValidate) OnCertificateValidate(this, certificate, validate);
    };
    engine_->OnCertificateNeededEx = [this](TElX509Certificate*& certificate) {
        if (OnCertificateNeededEx) OnCertificateNeededEx(this, certificate);
    };
    engine_->OnCiphersNegotiated = [this] {
        if (OnCiphersNegotiated) OnCiphersNegotiated(this);
    };
    engine_->OnCertificateStatus = [this](TSBCertificateStatusType type, const ByteArray& data) {
        if (OnCertificateStatus) OnCertificateStatus(this, type, data);
    };
    engine_->OnExtensionsReceived = [this] {
        if (OnExtensionsReceived) OnExtensionsReceived(this);
    };
    engine_->OnKeyNeeded = [this](const std::string& hint, std::string& identity, ByteArray& key) {
        if (OnKeyNeeded) OnKeyNeeded(this, hint, identity, key);
    };
}

TElCustomSimpleSSLClient::~TElCustomSimpleSSLClient() {
    MarkDestroying();
    engine_.reset();
}

void TElCustomSimpleSSLClient::SetAddress(const std::string& value) {
    if (value == socket_->Address()) return;
    if (Active()) throw EElSimpleSSLClientException(SConnectionAlreadyEstablished);
    ReleaseSocket();
    socket_->SetAddress(value);
}

void TElCustomSimpleSSLClient::SetPort(int32_t value) {
    if (value == socket_->Port()) return;
    if (Active()) throw EElSimpleSSLClientException(SConnectionAlreadyEstablished);
    ReleaseSocket();
    socket_->SetPort(value);
}

void TElCustomSimpleSSLClient::ReleaseSocket() {
    // A connection whose session already ended may still hold its socket.
    const uint8_t state = socket_->State();
    if (state != TElSocket::stNone && state != TElSocket::stCreated) socket_->Close(true);
}

void TElCustomSimpleSSLClient::SetSocketTimeout(int32_t value) {
    if (value >= 0) socketTimeout_ = value;
}

void TElCustomSimpleSSLClient::Touch() {
    lastActivity_ = plat::GetClock().TickCount();
}

uint32_t TElCustomSimpleSSLClient::QuietTime() const {
    return GetElapsedTicks(lastActivity_);
}

void TElCustomSimpleSSLClient::StoreReceivedData(const uint8_t* buffer, size_t size) {
    receiveBuffer_.insert(receiveBuffer_.end(), buffer, buffer + size);
}

void TElCustomSimpleSSLClient::EngineError(int32_t errorCode, bool fatal, bool remote) {
    lastError_ = errorCode;
    if (OnError) OnError(this, errorCode, fatal, remote);
}

void TElCustomSimpleSSLClient::Connect() {
    TElSocket& s = *socket_;
    ReleaseSocket();
    proxyResult_ = 0;
    int rc;
    try {
        s.CreateSocketHandle(false);
        static_cast<TElProxySettings&>(s) = *this;
        PrepareSocket(s);
        rc = s.Connect(socketTimeout_);
        proxyResult_ = s.ProxyResult();
    } catch (const EElSocketError& e) {
        proxyResult_ = s.ProxyResult();
        throw EElSimpleSSLClientException(rtl::Format(SConnectionError, int(e.ErrorCode)), e.ErrorCode);
    }
    if (rc != 0) {
        if (s.State() != TElSocket::stNone) s.Close(true);
        // A tunnel the proxy answered but did not open: its status line tells the caller why
        // (a 407 after the last credentials tried, a 403 for a port it will not tunnel to).
        if (!s.ProxyStatusLine().empty())
            throw EElSimpleSSLClientException(rtl::Format(SProxyRefusedTunnel, rc, s.ProxyStatusLine()));
        throw EElSimpleSSLClientException(rtl::Format(SConnectionError, rc));
    }
    Touch();
}

void TElCustomSimpleSSLClient::Open() {
    if (Active()) throw EElSimpleSSLClientException(SConnectionAlreadyEstablished);
    lastError_ = 0;
    receiveBuffer_.clear();
    // The server's certificate must name the host asked for (an address literal among its IP
    // addresses): through a SOCKS proxy or a tunnel that is still the target, never the proxy,
    // whose own host the socket keeps apart. Without this, any certificate the trust anchors
    // accept, issued for whatever name, would stand in for the server.
    engine_->PeerHost = socket_->Address();
    Connect();
    opening_ = true;
    openSendFailed_ = false;
    try {
        engine_->OpenSession();
        while (!engine_->Active() && lastError_ == 0) {
            if (!CheckDataAvailable(false)) EngineError(SB_ERROR_MESSAGE_LOOP_STOPPED, true, false);
        }
        opening_ = false;
        if (lastError_ != 0)
            throw EElSimpleSSLClientException(rtl::Format(SConnectionFailedDueToError, int(lastError_)));
        if (openSendFailed_) throw EElSSLClientConnectionLostError(SConnectionLost);
    } catch (...) {
        opening_ = false;
        // Nothing stays open behind a failed Open.
        try {
            engine_->CloseSession(true);
        } catch (...) {
            // The failure that ended the handshake is the one reported.
        }
        socket_->Close(true);
        throw;
    }
}

void TElCustomSimpleSSLClient::SendData(const void* buffer, size_t size) {
    Touch();
    engine_->SendApplicationData(buffer, size);
}

bool TElCustomSimpleSSLClient::PollInput(int waitMs) {
    if (!socket_->CanReceive(waitMs)) return false;
    engine_->ProcessIncomingData();
    return true;
}

void TElCustomSimpleSSLClient::DataAvailable() {
    if (socket_->CanReceive(socketTimeout_ != 0 ? 200 : -1)) engine_->ProcessIncomingData();
}

bool TElCustomSimpleSSLClient::CheckDataAvailable(bool skipData) {
    if (!skipData) DataAvailable();
    if (socketTimeout_ > 0 && QuietTime() > uint32_t(socketTimeout_)) throw EElSocketError(SConnectionTimeout);
    bool result = true;
    if (MessageLoop) result = MessageLoop();
    return result;
}

void TElCustomSimpleSSLClient::EngineReceive(uint8_t* buffer, size_t maxSize, size_t& written) {
    written = 0;
    if (socketTimeout_ > 0 && !socket_->CanReceive(socketTimeout_)) return;
    int got = 0;
    const int rc = socket_->Receive(buffer, int(std::min<size_t>(maxSize, INT32_MAX)), got);
    if (rc != 0 || got <= 0) throw EElSSLClientConnectionLostError(SConnectionLost);
    written = size_t(got);
    Touch();
}

void TElCustomSimpleSSLClient::EngineSend(const uint8_t* buffer, size_t size) {
    if (opening_ && openSendFailed_) return;
    try {
        while (size > 0) {
            if (socketTimeout_ > 0 && !socket_->CanSend(socketTimeout_)) throw EElSocketError(std::string());
            int sent = 0;
            const int rc = socket_->Send(buffer, int(std::min<size_t>(size, INT32_MAX)), sent);
            if (rc != 0 && opening_) {
                // A server that refuses the handshake sends its alert and closes at once, so
                // the rest of our flight may meet a closed connection. The flight is dropped
                // and the handshake goes on reading: the server's alert, which came before its
                // close, is what Open reports ("Connection lost" when none came).
                openSendFailed_ = true;
                return;
            }
            if (rc != 0) throw EElSSLClientConnectionLostError(SConnectionLost);
            buffer += sent;
            size -= size_t(sent);
            Touch();
        }
    } catch (const EElSocketError&) {
        CloseConnection(true);
        throw EElSSLClientConnectionLostError(SConnectionLost);
    }
}

void TElCustomSimpleSSLClient::CloseConnection(bool silent) {
    try {
        engine_->CloseSession(silent);
    } catch (...) {
    }
    receiveBuffer_.clear();
    const uint8_t state = socket_->State();
    if (state == TElSocket::stConnected || state == TElSocket::stConnecting) socket_->Close(!silent);
    if (OnCloseConnection) OnCloseConnection(this, crClose);
}
