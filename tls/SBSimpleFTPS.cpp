// tls/SBSimpleFTPS.cpp: the FTP client's control connection: connecting, TLS on it, the reply
// reader, commands and their accepted replies, login and the simple commands (data
// connections and transfers are in SBSimpleFTPS_data.cpp).
#include "tls/SBSimpleFTPS.h"

#include <algorithm>
#include <vector>

#include "platform/Clock.h"
#include "rtl/Format.h"
#include "tls/SBZlib.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The first three characters as a number, -1 when they are not digits.
int ThreeDigits(std::string_view s) {
    if (s.size() < 3 || !IsDigit(s[0]) || !IsDigit(s[1]) || !IsDigit(s[2])) return -1;
    return (s[0] - '0') * 100 + (s[1] - '0') * 10 + (s[2] - '0');
}

}  // namespace

size_t FTPReplyLength(std::string_view buffer) {
    if (buffer.size() <= 3) return 0;
    size_t pos = 0;
    int firstCode = -1;
    for (bool first = true;; first = false) {
        const size_t lf = buffer.find('\n', pos);
        if (lf == std::string_view::npos) return 0;
        const std::string_view line = buffer.substr(pos, lf + 1 - pos);
        pos = lf + 1;
        // Lines of three bytes or fewer, line end included, carry nothing to read.
        if (line.size() <= 3) continue;
        if (first) {
            firstCode = ThreeDigits(line);
            if (line[3] == ' ') return pos;
            continue;
        }
        // RFC 959 section 4.2: the last line starts with the first line's code and a space; a
        // free-text line whose fourth character is a space closes nothing.
        if (line[3] != ' ') continue;
        const int code = ThreeDigits(line);
        if (code < 0) continue;
        if (code != firstCode) throw EFTPSError(SFTPSInvalidReply);
        return pos;
    }
}

TFTPFeatures ReadFTPFeatures(std::string_view reply) {
    std::vector<std::string_view> lines;
    size_t at = 0;
    while (at < reply.size()) {
        size_t end = reply.find('\n', at);
        if (end == std::string_view::npos) end = reply.size();
        std::string_view line = reply.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        at = end + 1;
    }
    TFTPFeatures f;
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
        // The first character is the space before the feature's name; a server may also send
        // empty or one-character lines, which name nothing.
        if (lines[i].size() < 2) continue;
        const std::string_view name = lines[i].substr(1);
        if (name.starts_with("MLST"))
            f.Mlst = true;
        else if (lines[i] == " SIZE")
            f.Size = true;
        else if (name.starts_with("MODE Z"))
            f.ModeZ = true;
        else if (name.starts_with("REST"))
            f.Rest = true;
    }
    return f;
}

int FTPReplyCode(std::string_view reply) {
    const int code = reply.size() >= 4 ? ThreeDigits(reply) : -1;
    if (code <= 0) throw EFTPSError(SFTPSInvalidReply);
    return code;
}

TElSimpleFTPSClient::TElSimpleFTPSClient(rtl::Component* owner)
    : rtl::Component(owner),
      control_(std::make_unique<TElSocket>()),
      proxy_(std::make_unique<TSBFTPProxySettings>()) {
    controlEngine_ = MakeEngine(*control_, true);
}

TElSimpleFTPSClient::~TElSimpleFTPSClient() {
    MarkDestroying();
    CloseDataConnection();
    EndModeZ();
    controlEngine_.reset();
    control_->Close(false);
}

void TElSimpleFTPSClient::SetAddress(const std::string& value) {
    if (value == address_) return;
    if (connected_) throw EFTPSError(SFTPSConnectionEstablished);
    address_ = value;
}

void TElSimpleFTPSClient::SetPort(int32_t value) {
    if (value == port_) return;
    if (connected_) throw EFTPSError(SFTPSConnectionEstablished);
    port_ = value;
}

TSBVersions TElSimpleFTPSClient::Versions() const {
    return controlEngine_->Versions();
}

void TElSimpleFTPSClient::SetVersions(TSBVersions value) {
    controlEngine_->SetVersions(value);
}

bool TElSimpleFTPSClient::VerifyPeerDisabled() const {
    return controlEngine_->VerifyPeerDisabled;
}

void TElSimpleFTPSClient::SetVerifyPeerDisabled(bool value) {
    controlEngine_->VerifyPeerDisabled = value;
}

TElCustomCertStorage* TElSimpleFTPSClient::CertStorage() const {
    return controlEngine_->CertStorage();
}

void TElSimpleFTPSClient::SetCertStorage(TElCustomCertStorage* value) {
    controlEngine_->SetCertStorage(value);
}

TElMemoryCertStorage* TElSimpleFTPSClient::ClientCertStorage() const {
    return controlEngine_->ClientCertStorage();
}

void TElSimpleFTPSClient::SetClientCertStorage(TElMemoryCertStorage* value) {
    controlEngine_->SetClientCertStorage(value);
}

bool TElSimpleFTPSClient::GetSuiteEnabled(uint8_t index) const {
    return controlEngine_->GetSuiteEnabled(index);
}

void TElSimpleFTPSClient::SetSuiteEnabled(uint8_t index, bool value) {
    controlEngine_->SetSuiteEnabled(index, value);
}

int32_t TElSimpleFTPSClient::GetSuiteValue(uint8_t index) const {
    return controlEngine_->GetSuiteValue(index);
}

void TElSimpleFTPSClient::SetSuiteValue(uint8_t index, int32_t value) {
    controlEngine_->SetSuiteValue(index, value);
}

TElClientSSLExtensions& TElSimpleFTPSClient::Extensions() {
    return controlEngine_->Extensions();
}

TElCustomSSLExtensions& TElSimpleFTPSClient::PeerExtensions() {
    return controlEngine_->PeerExtensions();
}

void TElSimpleFTPSClient::SetProxySettings(std::unique_ptr<TSBFTPProxySettings> value) {
    if (value) proxy_ = std::move(value);
}

void TElSimpleFTPSClient::SetModeZ(bool value) {
    if (value == modeZ_) return;
    modeZ_ = value;
    if (state_ == 2) NegotiateTransferMode();
}

// ---------------------------------------------------------------------------------------------
// Engines

std::unique_ptr<SecureEngine> TElSimpleFTPSClient::MakeEngine(TElSocket& socket, bool control) {
    std::unique_ptr<SecureEngine> engine = CreateSecureEngine();
    engine->OnSend = [this, &socket, control](const uint8_t* data, size_t size) {
        if (!control || !controlHandshake_) {
            RawSend(socket, data, size, control ? SFTPSControlTransferError : SFTPSDataTransferError);
            return;
        }
        // A server that refuses the handshake sends its alert and closes at once, so the rest
        // of our flight may meet a closed connection. The flight is dropped and the handshake
        // goes on reading until the server's alert (which came before its close) or the close
        // ends it, and the handshake's own failure is what Login or Open reports.
        if (controlSendFailed_) return;
        try {
            RawSend(socket, data, size, SFTPSControlTransferError);
        } catch (const EFTPSError&) {
            controlSendFailed_ = true;
        }
    };
    engine->OnReceive = [this, &socket, control](uint8_t* buffer, size_t maxSize, size_t& written) {
        EngineReceive(socket, control, buffer, maxSize, written);
    };
    engine->OnData = [this, control](const uint8_t* data, size_t size) {
        (control ? controlPlain_ : dataPlain_).append(reinterpret_cast<const char*>(data), size);
    };
    engine->OnCloseConnection = [this, control](TSBCloseReason) {
        if (control)
            controlClosed_ = true;
        else
            dataClosed_ = true;
    };
    engine->OnError = [this](int32_t code, bool fatal, bool remote) {
        if (OnSSLError) OnSSLError(this, code, fatal, remote);
    };
    engine->OnCertificateValidate = [this](TElX509Certificate* certificate, bool& validate) {
        if (OnCertificateValidate) OnCertificateValidate(this, certificate, validate);
    };
    engine->OnCertificateNeededEx = [this](TElX509Certificate*& certificate) {
        if (OnCertificateNeededEx) OnCertificateNeededEx(this, certificate);
    };
    engine->OnCertificateStatus = [this](TSBCertificateStatusType type, const ByteArray& data) {
        if (OnCertificateStatus) OnCertificateStatus(this, type, data);
    };
    engine->OnExtensionsReceived = [this] {
        if (OnExtensionsReceived) OnExtensionsReceived(this);
    };
    engine->OnKeyNeeded = [this](const std::string& hint, std::string& identity, ByteArray& key) {
        if (OnKeyNeeded) OnKeyNeeded(this, hint, identity, key);
    };
    if (control)
        engine->OnCiphersNegotiated = [this] {
            if (OnCiphersNegotiated) OnCiphersNegotiated(this);
        };
    return engine;
}

void TElSimpleFTPSClient::EngineReceive(TElSocket& socket, bool control, uint8_t* buffer, size_t maxSize,
                                        size_t& written) {
    written = 0;
    bool& closed = control ? controlClosed_ : dataClosed_;
    if (socket.State() != TElSocket::stConnected || !socket.CanReceive(Timeout(TransferTimeout))) {
        closed = true;
        return;
    }
    int got = 0;
    const int rc = socket.Receive(buffer, int(std::min<size_t>(maxSize, INT32_MAX)), got);
    if (rc != 0 || got <= 0) {
        if (!control && rc != 0) {
            dataError_ = true;
            dataErrorCode_ = rc;
        }
        closed = true;
        return;
    }
    written = size_t(got);
}

// ---------------------------------------------------------------------------------------------
// Control output and input

void TElSimpleFTPSClient::CheckConnected() const {
    if (!connected_) throw EFTPSError(SFTPSConnectionNotPresent);
}

void TElSimpleFTPSClient::RawSend(TElSocket& socket, const uint8_t* data, size_t size, const char* failure) {
    while (size > 0) {
        if (socket.State() != TElSocket::stConnected) throw EFTPSError(failure);
        if (!socket.CanSend(Timeout(TransferTimeout))) throw EFTPSError(SFTPSTimeout);
        int sent = 0;
        const int rc = socket.Send(data, int(std::min<size_t>(size, INT32_MAX)), sent);
        if (rc != 0) throw EFTPSError(failure, rc);
        if (sent <= 0) throw EFTPSError(failure);
        data += sent;
        size -= size_t(sent);
    }
}

void TElSimpleFTPSClient::SendControl(const std::string& command) {
    // RFC 959 section 4.1: a command is one line; an argument holding a line end would make
    // more of them.
    if (command.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        throw EFTPSError(SFTPSInvalidCommand);
    if (OnControlSend) OnControlSend(this, command);
    const std::string line = command + "\r\n";
    if (controlTLS_)
        controlEngine_->SendApplicationData(line.data(), line.size());
    else
        RawSend(*control_, reinterpret_cast<const uint8_t*>(line.data()), line.size(),
                SFTPSControlTransferError);
}

size_t TElSimpleFTPSClient::PumpControl(bool noWait) {
    const size_t before = controlIn_.size();
    if (!controlTLS_) {
        if (controlClosed_ || control_->State() != TElSocket::stConnected)
            throw EFTPSError(SFTPSControlTransferError);
        if (!control_->CanReceive(noWait ? 0 : Timeout(TransferTimeout))) {
            if (noWait) return 0;
            controlClosed_ = true;
            throw EFTPSError(SFTPSControlTransferError);
        }
        std::string buf(size_t(bufferSize_), '\0');
        int got = 0;
        const int rc = control_->Receive(buf.data(), int(buf.size()), got);
        if (rc != 0 || got <= 0) {
            controlClosed_ = true;
            throw EFTPSError(SFTPSControlTransferError, rc);
        }
        controlIn_.append(buf.data(), size_t(got));
    } else {
        const uint32_t start = plat::GetClock().TickCount();
        while (controlPlain_.empty() && !controlClosed_ &&
               (SocketTimeout == 0 || GetElapsedTicks(start) < uint32_t(SocketTimeout))) {
            if (control_->State() != TElSocket::stConnected) {
                controlClosed_ = true;
                break;
            }
            if (control_->CanReceive(noWait ? 0 : Timeout(SocketTimeout)))
                controlEngine_->ProcessIncomingData();
            if (noWait) break;
        }
        if (controlPlain_.empty() && controlClosed_) throw EFTPSError(SFTPSControlTransferError);
        const size_t take = std::min(controlPlain_.size(), size_t(bufferSize_));
        controlIn_.append(controlPlain_, 0, take);
        controlPlain_.erase(0, take);
    }
    const size_t got = controlIn_.size() - before;
    if (got == 0 && !noWait) throw EFTPSError(SFTPSControlTransferError);
    return got;
}

bool TElSimpleFTPSClient::TakeReply() {
    const size_t length = FTPReplyLength(controlIn_);
    if (length == 0) {
        if (controlIn_.size() > kMaxReplySize) throw EFTPSError(SFTPSInvalidReply);
        return false;
    }
    lastReply_ = controlIn_.substr(0, length);
    controlIn_.erase(0, length);
    if (OnControlReceive) OnControlReceive(this, lastReply_);
    return true;
}

int TElSimpleFTPSClient::ReadReply(bool wait) {
    bool pumped = false;
    for (;;) {
        if (TakeReply()) return FTPReplyCode(lastReply_);
        if (!wait && pumped) return 0;
        PumpControl(!wait);
        pumped = true;
    }
}

void TElSimpleFTPSClient::Unaccepted(int code) {
    throw EFTPSError(SFTPSUnacceptedReply, code, lastReply_);
}

int TElSimpleFTPSClient::SendCommand(const std::string& command, std::initializer_list<int> accepted,
                                     bool opensData) {
    CheckConnected();
    const auto isAccepted = [&](int code) {
        return accepted.size() == 0 || std::find(accepted.begin(), accepted.end(), code) != accepted.end();
    };
    try {
        SendControl(command);
        if (opensData && PassiveMode) {
            accepted_.assign(accepted.begin(), accepted.end());
            PassiveConnect(accepted);
            return early_;
        }
        const int code = ReadReply(true);
        if (!isAccepted(code)) Unaccepted(code);
        return code;
    } catch (...) {
        if (opensData) CloseDataConnection();
        throw;
    }
}

// ---------------------------------------------------------------------------------------------
// Connecting and logging in

void TElSimpleFTPSClient::Open() {
    state_ = 0;
    lastReply_.clear();
    controlTLS_ = false;
    controlIn_.clear();
    controlPlain_.clear();
    dataPlain_.clear();
    controlClosed_ = dataClosed_ = dataError_ = false;
    featModeZ_ = featSize_ = featRest_ = featMlst_ = false;
    modeZActive_ = false;

    // Through an FTP proxy the connection goes to the proxy; the login then names the target.
    const bool viaProxy = proxy_->ProxyType != ptNone && !proxy_->Host.empty();
    control_->SetAddress(viaProxy ? proxy_->Host : address_);
    control_->SetPort(viaProxy ? proxy_->Port : port_);
    const int rc = control_->Connect(SocketTimeout);
    if (rc != 0) throw EFTPSError(SFTPSConnectionFailed);
    connected_ = true;
    if (UseSSL && SSLMode == smImplicit) {
        ControlHandshake();
        if (!controlTLS_) throw EFTPSError(SFTPSCannotNegotiateSSL);
    }
    state_ = 1;
}

void TElSimpleFTPSClient::ControlHandshake() {
    controlClosed_ = false;
    controlEngine_->SetEnabled(true);
    controlEngine_->PeerHost = address_;
    controlHandshake_ = true;
    controlSendFailed_ = false;
    try {
        controlEngine_->OpenSession();
        // The whole handshake has SocketTimeout (0: no limit).
        const uint32_t start = plat::GetClock().TickCount();
        while (!controlEngine_->Active() && !controlClosed_) {
            if (SocketTimeout != 0 && GetElapsedTicks(start) >= uint32_t(SocketTimeout)) break;
            if (control_->State() != TElSocket::stConnected) break;
            if (control_->CanReceive(Timeout(SocketTimeout))) controlEngine_->ProcessIncomingData();
        }
    } catch (...) {
        controlHandshake_ = false;
        throw;
    }
    controlHandshake_ = false;
    controlTLS_ = controlEngine_->Active() && !controlSendFailed_;
}

void TElSimpleFTPSClient::ForceSSL() {
    static const char* const kMechanisms[] = {"TLS", "SSL", "TLS-P", "TLS-C"};
    bool accepted = false;
    if (AuthCmd != acAuto) {
        try {
            SendCommand(std::string("AUTH ") + kMechanisms[AuthCmd - 1], {234, 334});
            accepted = true;
        } catch (const EFTPSError&) {
            // Refused, or the control connection failed: either way no TLS, said below.
        }
    } else {
        for (const char* mechanism : kMechanisms) {
            try {
                SendCommand(std::string("AUTH ") + mechanism, {234, 334});
                accepted = true;
                break;
            } catch (const EFTPSError& e) {
                // RFC 2228 section 4: 5xx is "not understood" or "not supported": the next
                // mechanism may be; a 4xx refusal is the server's answer.
                if (e.ErrorCode < 500) break;
            }
        }
    }
    if (!accepted) throw EFTPSError(SFTPSForcingSSLError);
    ControlHandshake();
    if (!controlTLS_) throw EFTPSError(SFTPSForcingSSLError);
}

void TElSimpleFTPSClient::LoginAs(const std::string& user, const std::string& password) {
    if (SendCommand("USER " + user, {230, 331}) == 331) SendCommand("PASS " + password, {230});
}

void TElSimpleFTPSClient::ProxyLogin() {
    if (!proxy_->Username.empty()) LoginAs(proxy_->Username, proxy_->Password);
}

void TElSimpleFTPSClient::Login() {
    CheckConnected();
    int greeting = ReadReply(true);
    if (greeting == 120) greeting = ReadReply(true);
    if (greeting != 220) throw EFTPSError(SFTPSInvalidReply);
    if (UseSSL && SSLMode == smExplicit) ForceSSL();

    const std::string& host = address_;
    switch (proxy_->ProxyType) {
        case ptNone:
            LoginAs(Username, Password);
            break;
        case ptUserSite:
            ProxyLogin();
            LoginAs(Username + "@" + host, Password);
            break;
        case ptSite:
            ProxyLogin();
            SendCommand("SITE " + host, {220});
            LoginAs(Username, Password);
            break;
        case ptOpen:
            ProxyLogin();
            SendCommand("OPEN " + host, {220});
            LoginAs(Username, Password);
            break;
        case ptUserPass:
            LoginAs(Username + "@" + proxy_->Username + "@" + host,
                    proxy_->Password.empty() ? Password : Password + "@" + proxy_->Password);
            break;
        case ptTransparent:
            ProxyLogin();
            LoginAs(Username, Password);
            break;
    }

    // RFC 4217 section 9: the data connections' protection is asked with PBSZ and PROT. An
    // implicit-TLS server may need it as well (vsftpd keeps data in clear without PROT P), and
    // one that refuses it there still speaks TLS on the control connection.
    if (UseSSL) {
        try {
            SendCommand("PBSZ 0", {200, 235});
            SendCommand(EncryptDataChannel ? "PROT P" : "PROT C", {200});
        } catch (const EFTPSError&) {
            if (SSLMode == smExplicit) throw EFTPSError(SFTPSForcingSSLError);
        }
    }
    QueryFeatures();
    if (modeZ_ && featModeZ_) NegotiateTransferMode();
    state_ = 2;
}

void TElSimpleFTPSClient::QueryFeatures() {
    if (SendCommand("FEAT", {211, 500, 502}) != 211) return;
    const TFTPFeatures f = ReadFTPFeatures(lastReply_);
    featMlst_ = f.Mlst;
    featSize_ = f.Size;
    featModeZ_ = f.ModeZ;
    featRest_ = f.Rest;
}

void TElSimpleFTPSClient::NegotiateTransferMode() {
    if (modeZ_ && featModeZ_) {
        // The level is an option of the mode, set through OPTS (RFC 2389); servers that do
        // not know it answer as they like, and the mode itself follows.
        SendCommand("OPTS MODE Z LEVEL " + std::to_string(ModeZLevel), {});
        SendCommand("MODE Z", {200});
        modeZActive_ = true;
    } else {
        SendCommand("MODE S", {200});
        modeZActive_ = false;
    }
}

void TElSimpleFTPSClient::ChangeDirectory(const std::string& folder) {
    SendCommand("CWD " + folder, {250});
}

void TElSimpleFTPSClient::DeleteRemoteFile(const std::string& name) {
    SendCommand("DELE " + name, {250});
}

void TElSimpleFTPSClient::AbortTransfer() {
    SendCommand("ABOR", {225, 226});
}
