// tls/SBClient.cpp: the engine's object: settings, referenced components, opening and
// closing, the input machine that cuts the byte stream into records, the outgoing application
// data and the one error path every protocol uses.
#include "tls/SBClient.h"

#include <algorithm>
#include <cstring>

#include "crypto/facade/SBCryptoProvManager.h"
#include "crypto/facade/SBHashFunction.h"
#include "crypto/facade/SBSymmetricCrypto.h"
#include "crypto/keys/SBPublicKeyCrypto.h"
#include "pki/SBCustomCertStorage.h"
#include "tls/SBClientInternal.h"
#include "tls/SBClientSSL2.h"

using namespace sbtls;

namespace {

// SSL 2.0 records are up to 32767 bytes with a two-byte header; the input buffer holds the
// longest unit any protocol announces (a 16-bit length and a three-byte header).
constexpr size_t InputBufferSize = 65539;

}  // namespace

TElRelativeDistinguishedName& TElClientSSLExtensions::GetCertificateAuthority(int32_t index) {
    if (index < 0 || index >= GetCertificateAuthorityCount()) throw rtl::EListError("List index out of bounds");
    return *authorities_[size_t(index)];
}

void TElClientSSLExtensions::AddCertificateAuthority(std::unique_ptr<TElRelativeDistinguishedName> name) {
    authorities_.push_back(std::move(name));
}

TElSecureClient::TElSecureClient(rtl::Component* owner)
    : TElSSLClass(owner),
      extensions_(std::make_unique<TElClientSSLExtensions>()),
      peerExtensions_(std::make_unique<TElCustomSSLExtensions>()),
      clientChain_(std::make_unique<TElMemoryCertStorage>()),
      input_(InputBufferSize) {
    output_.reserve(MaxCiphertext + 5);
}

TElSecureClient::~TElSecureClient() {
    MarkDestroying();
    SetCertStorage(nullptr);
    SetClientCertStorage(nullptr);
    SetCryptoProviderManager(nullptr);
    ClearProtection();
}

// ---------------------------------------------------------------------------------------------
// Referenced components

void TElSecureClient::SetCertStorage(TElCustomCertStorage* value) {
    if (value == certStorage_) return;
    if (certStorage_ != nullptr && !certStorage_->IsDestroying()) RemoveFreeNotification(certStorage_);
    certStorage_ = value;
    if (value != nullptr) FreeNotification(value);
}

void TElSecureClient::SetClientCertStorage(TElMemoryCertStorage* value) {
    if (value == clientCertStorage_) return;
    if (clientCertStorage_ != nullptr && !clientCertStorage_->IsDestroying()) RemoveFreeNotification(clientCertStorage_);
    clientCertStorage_ = value;
    if (value != nullptr) FreeNotification(value);
}

void TElSecureClient::SetCryptoProviderManager(TElCryptoProviderManager* value) {
    if (value == providerManager_) return;
    if (providerManager_ != nullptr && !providerManager_->IsDestroying()) RemoveFreeNotification(providerManager_);
    providerManager_ = value;
    if (value != nullptr) FreeNotification(value);
}

void TElSecureClient::Notification(rtl::Component* component, Operation operation) {
    TElSSLClass::Notification(component, operation);
    if (operation != Operation::Remove) return;
    if (component == static_cast<rtl::Component*>(certStorage_)) certStorage_ = nullptr;
    if (component == static_cast<rtl::Component*>(clientCertStorage_)) clientCertStorage_ = nullptr;
    if (component == static_cast<rtl::Component*>(providerManager_)) providerManager_ = nullptr;
}

TElCustomCryptoProvider* TElSecureClient::PublicKeyProvider() const {
    return TElCryptoProviderManager::ResolvePublicKeyProvider(providerManager_);
}

TElCustomCryptoProvider* TElSecureClient::SymmetricProvider() const {
    return TElCryptoProviderManager::ResolveSymmetricKeyProvider(providerManager_);
}

void TElSecureClient::SetSRPUsername(const std::string& value) {
    srpUsername_ = value;
    extensions_->UserName.Enabled = true;
    extensions_->UserName.SetUserName(value);
}

int32_t TElSecureClient::GetCipherSuite() const { return suite_.Index; }

ByteArray TElSecureClient::GetClientRandom() const { return ByteArray(clientRandom_.begin(), clientRandom_.end()); }

rtl::SecureBytes TElSecureClient::GetMasterSecret() const { return masterSecret_; }

// ---------------------------------------------------------------------------------------------
// Events

void TElSecureClient::DoError(int32_t errorCode, bool fatal, bool remote) {
    if (OnError) OnError(this, errorCode, fatal, remote);
}

void TElSecureClient::DoCloseConnection(TSBCloseReason reason) {
    StopRetransmission();
    active_ = false;
    closed_ = true;
    if (OnCloseConnection) OnCloseConnection(this, reason);
}

void TElSecureClient::DoOpenConnection() {
    have_ = 0;
    if (renegotiating_) {
        if (OnCiphersNegotiated) OnCiphersNegotiated(this);
    } else if (OnOpenConnection) {
        OnOpenConnection(this);
    }
}

int32_t TElSecureClient::DoReceive(void* buffer, int32_t maxSize) {
    int32_t written = 0;
    if (OnReceive) OnReceive(this, buffer, maxSize, written);
    return std::min(written, maxSize);
}

void TElSecureClient::DoSend(const void* buffer, size_t size) {
    if (OnSend) OnSend(this, buffer, int32_t(size));
}

void TElSecureClient::DoData(const void* buffer, size_t size) {
    if (OnData) OnData(this, buffer, int32_t(size));
}

void TElSecureClient::Fail(int32_t alertIndex, int32_t errorCode) {
    if (closed_) return;
    fatal_ = true;
    // The stream cannot be trusted past a refusal: nothing more is read from it.
    need_ = 0;
    if (alertIndex >= 0 && SSLAlertIndexToDescription(uint8_t(alertIndex)) >= 0)
        SendAlertByVersion(true, uint8_t(alertIndex));
    DoError(errorCode, true, false);
    DoCloseConnection(crError);
}

void TElSecureClient::SendAlertByVersion(bool fatal, uint8_t alertIndex) {
    if (currentVersion_ == sbSSL2)
        SendSSL2Error(alertIndex);
    else
        SendAlert(fatal, alertIndex);
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

void TElSecureClient::ResetForOpen() {
    renegotiating_ = false;
    postProcessing_ = false;
    resumeRequested_ = false;
    resuming_ = false;
    certificateRequested_ = false;
    sendCertificateURL_ = false;
    compressionActive_ = false;
    serverChain_.reset();
    clientChain_->Clear();
    extensions_->ClearCertificateAuthorities();
    pskIdentityHint_.clear();
    collector_.clear();
    transcript_.clear();
    ClearProtection();
    ticket_.clear();
    suite_ = Suite();
    premaster_.clear();
    masterSecret_.clear();
    secureRenegotiation_ = false;
    clientVerifyData_.clear();
    serverVerifyData_.clear();
    serverRSAKey_.reset();
    serverDSAKey_.reset();
    serverDHKey_.reset();
    srpKey_.reset();
}

void TElSecureClient::OpenSession() {
    const ScopedLock lock(*this);
    ResetForOpen();
    session_ = Session();
    if (Enabled) {
        fatal_ = false;
        closed_ = false;
        maxSendFragment_ = 8192;
        maxReceiveFragment_ = int32_t(MaxPlaintext);
        SetActive(true);
    } else {
        active_ = true;
        closed_ = false;
        postProcessing_ = true;
        DoOpenConnection();
    }
}

void TElSecureClient::SetActive(bool value) {
    if (value == active_) return;
    if (Versions.Empty()) throw EElSecureClientError("Invalid SSL version");
    if (value) {
        const bool anyTLS = Versions.Contains(sbTLS1) || Versions.Contains(sbTLS11) || Versions.Contains(sbTLS12);
        if (Versions.Contains(sbSSL2) && anyTLS && !Versions.Contains(sbSSL3))
            throw EElSecureClientError("Cannot support SSL 2.0 and TLS 1.0 and not support SSL 3.0");
        if (Versions.Contains(sbSSL3) && Versions.Contains(sbTLS11) && !Versions.Contains(sbTLS1))
            throw EElSecureClientError("Cannot support SSL 3.0 and TLS 1.1 and not support TLS 1.0");
        if (Versions.Contains(sbSSL2))
            StartSSL2Handshake();
        else
            StartHandshake();
        return;
    }
    if (currentVersion_ == sbSSL2)
        resumable_ = true;  // SSL 2.0 has no close message
    else
        SendCloseNotify();
    if (!Options.Contains(ssloExpectShutdownMessage)) active_ = false;
}

void TElSecureClient::CloseSession(bool silent) {
    const ScopedLock lock(*this);
    if (silent) {
        resumable_ = true;
        DoCloseConnection(crClose);
        return;
    }
    if (!Enabled || !active_) {
        // Nothing was established (or no SSL at all): there is no session to close politely.
        if (!closed_) DoCloseConnection(crClose);
        return;
    }
    SetActive(false);
}

void TElSecureClient::OpenResumingSession(const TElSecureClient& other) {
    const ScopedLock lock(*this);
    Versions = other.Versions;
    currentVersion_ = other.currentVersion_;
    session_ = other.session_;
    resumable_ = true;
    for (uint8_t i = 0; i <= SSLMaxSuiteIndex; ++i) SetSuiteEnabled(i, other.GetSuiteEnabled(i));
    maxSendFragment_ = other.maxSendFragment_;
    if (other.currentVersion_ == sbSSL2 && other.ssl2_) {
        CopySSL2Session(other);
    } else {
        ResetHandshakeState();
    }
}

void TElSecureClient::RenegotiateSession() {
    const ScopedLock lock(*this);
    postProcessing_ = false;
    renegotiating_ = false;
    clientChain_->Clear();
    extensions_->ClearCertificateAuthorities();
    pskIdentityHint_.clear();
    collector_.clear();
    if (!Enabled) {
        active_ = true;
        postProcessing_ = true;
        DoOpenConnection();
        return;
    }
    if (!resumable_ || active_) throw EElSecureClientError("Cannot renegotiate");
    // A new connection that resumes the stored session: records start in clear again.
    const uint8_t version = currentVersion_;
    ResetForOpen();
    fatal_ = false;
    closed_ = false;
    resumeRequested_ = true;
    if (version == sbSSL2) {
        RestartSSL2WithSession();
    } else {
        ResetHandshakeState();
        SendClientHello(false);
    }
}

// ---------------------------------------------------------------------------------------------
// Input

void TElSecureClient::ProcessIncomingData() {
    if (!Enabled) {
        const int32_t n = DoReceive(input_.data(), 65536);
        if (n > 0) DoData(input_.data(), size_t(n));
        return;
    }
    if (need_ < 1) return;
    const int32_t n = DoReceive(input_.data() + have_, need_);
    if (n <= 0) return;
    have_ += n;
    need_ -= n;
    if (need_ == 0) RunInputMachine();
    if (postProcessing_) {
        postProcessing_ = false;
        DoOpenConnection();
    }
}

void TElSecureClient::RunInputMachine() {
    switch (inputMode_) {
        case Input::CompatAnswer:
            // The first byte of the answer to a version-compatible hello: a set top bit is an
            // SSL 2.0 record header, anything else an SSL 3.0 / TLS record (RFC 5246 E.2).
            if (input_[0] & 0x80) {
                inputMode_ = Input::SSL2;
                currentVersion_ = sbSSL2;
                part_ = RecordPart::Header;
                need_ = 1;
            } else {
                inputMode_ = Input::Stream;
                part_ = RecordPart::Header;
                need_ = 4;
            }
            return;
        case Input::SSL2: RunSSL2InputMachine(); return;
        case Input::Stream: break;
    }
    if (part_ == RecordPart::Header) {
        std::memcpy(header_, input_.data(), 5);
        recordType_ = header_[0];
        recordLength_ = rtl::load_be16(header_ + 3);
        have_ = 0;
        need_ = 5;
        try {
            if (recordType_ < ContentChangeCipherSpec || recordType_ > ContentApplicationData)
                Refuse(SSLAlertUnexpectedMessage, "Unknown record content type");
            // RFC 5246 6.2.3: a protected record carries at most 2^14 + 2048 bytes, a plain one
            // 2^14.
            if (recordLength_ > (read_.Active ? MaxCiphertext : MaxPlaintext))
                Refuse(SSLAlertRecordOverflow, "Record too long");
        } catch (const EElSSLError& refusal) {
            Fail(refusal);
            return;
        }
        if (recordLength_ == 0) {
            // An empty record is handled at once, so it never leaves the reader waiting.
            ProcessStreamRecord(recordType_, input_.data(), 0);
            return;
        }
        part_ = RecordPart::Body;
        need_ = int32_t(recordLength_);
        return;
    }
    part_ = RecordPart::Header;
    have_ = 0;
    need_ = 5;
    ProcessStreamRecord(recordType_, input_.data(), recordLength_);
}

void TElSecureClient::ProcessStreamRecord(uint8_t type, uint8_t* data, size_t length) {
    if (fatal_ || closed_) {
        Fail(SSLAlertUnexpectedMessage, SSLAlertIndexToErrorCode(SSLAlertUnexpectedMessage));
        return;
    }
    try {
        const std::span<const uint8_t> plain = UnprotectRecord(type, data, length);
        if (plain.empty() && type != ContentApplicationData)
            Refuse(SSLAlertUnexpectedMessage, "Empty record");  // RFC 5246 6.2.1
        switch (type) {
            case ContentChangeCipherSpec: ProcessChangeCipherSpec(plain.data(), plain.size()); break;
            case ContentAlert: ProcessAlert(plain.data(), plain.size()); break;
            case ContentHandshake: ProcessHandshakeData(plain.data(), plain.size()); break;
            default:
                if (state_ != HS::Established && !renegotiating_)
                    Refuse(SSLAlertUnexpectedMessage, "Application data before the handshake ended");
                if (!plain.empty()) DoData(plain.data(), plain.size());
                break;
        }
    } catch (const EElSSLError& refusal) {
        if (refusal.ErrorCode() == 0) throw;  // not a refusal: an event handler's own exception
        Fail(refusal);
    }
}

// ---------------------------------------------------------------------------------------------
// Output

void TElSecureClient::SendApplicationData(const void* buffer, int32_t size) {
    const ScopedLock lock(*this);
    if (!Enabled) {
        DoSend(buffer, size_t(std::max(size, 0)));
        return;
    }
    if (!active_) throw EElSecureClientError("Cannot send application data: no session is open");
    const auto* p = static_cast<const uint8_t*>(buffer);
    for (int32_t done = 0; done < size;) {
        const int32_t chunk = std::min(ApplicationChunk, size - done);
        if (currentVersion_ == sbSSL2)
            SendSSL2Data(p + done, size_t(chunk));
        else
            SendRecordData(ContentApplicationData, p + done, size_t(chunk));
        done += chunk;
    }
}

void TElSecureClient::ResetSequenceNumbers(bool writeSide) {
    if (writeSide)
        write_.Sequence = 0;
    else
        read_.Sequence = 0;
}

void TElSecureClient::SendRecord(uint8_t contentKind, const void* data, int32_t length, int32_t, bool) {
    static constexpr uint8_t types[] = {ContentChangeCipherSpec, ContentAlert, ContentHandshake,
                                        ContentApplicationData};
    if (contentKind > 3 || length < 0) return;
    SendRecordData(types[contentKind], static_cast<const uint8_t*>(data), size_t(length));
}
