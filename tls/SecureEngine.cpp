// tls/SecureEngine.cpp: the engine the transport clients use: TElSecureClient behind the
// clients' seam. The seam's settings go to the engine when a session opens (enabled or not,
// versions, the host the certificate must name, whether it is checked); the storages and the
// extensions are the engine's own, so the engine's free notification guards the storages; and
// the engine's events come back through the seam's.
#include "tls/SecureEngine.h"

#include <algorithm>
#include <climits>

#include "pki/SBCustomCertStorage.h"

namespace {

class SecureClientEngine final : public SecureEngine {
public:
    SecureClientEngine() {
        client_.OnSend = [this](rtl::Component*, const void* buffer, int32_t size) {
            if (OnSend && size > 0) OnSend(static_cast<const uint8_t*>(buffer), size_t(size));
        };
        client_.OnReceive = [this](rtl::Component*, void* buffer, int32_t maxSize, int32_t& written) {
            size_t got = 0;
            if (OnReceive && maxSize > 0) OnReceive(static_cast<uint8_t*>(buffer), size_t(maxSize), got);
            written = int32_t(std::min<size_t>(got, size_t(std::max(maxSize, 0))));
        };
        client_.OnData = [this](rtl::Component*, const void* buffer, int32_t size) {
            if (OnData && size > 0) OnData(static_cast<const uint8_t*>(buffer), size_t(size));
        };
        client_.OnOpenConnection = [this](rtl::Component*) {
            if (OnOpenConnection) OnOpenConnection();
        };
        client_.OnCloseConnection = [this](rtl::Component*, TSBCloseReason reason) {
            if (OnCloseConnection) OnCloseConnection(reason);
        };
        client_.OnError = [this](rtl::Component*, int32_t code, bool fatal, bool remote) {
            if (OnError) OnError(code, fatal, remote);
        };
        client_.OnCertificateValidate = [this](rtl::Component*, TElX509Certificate* certificate,
                                               bool& validate) {
            if (!OnCertificateValidate) return;
            // A handler that fails has not accepted the certificate: the engine refuses it as
            // it refuses one the handler answered false, and the handshake ends with the
            // engine's error instead of leaving a half-checked session behind the exception.
            try {
                OnCertificateValidate(certificate, validate);
            } catch (...) {
                validate = false;
            }
        };
        client_.OnCertificateNeededEx = [this](rtl::Component*, TElX509Certificate*& certificate) {
            if (OnCertificateNeededEx) OnCertificateNeededEx(certificate);
        };
        client_.OnCertificateChoose =
            [this](rtl::Component*, const std::vector<TElX509Certificate*>& certificates, int32_t& index) {
                if (OnCertificateChoose) OnCertificateChoose(certificates, index);
            };
        client_.OnCertificateStatus = [this](rtl::Component*, TSBCertificateStatusType type,
                                             const ByteArray& data) {
            if (OnCertificateStatus) OnCertificateStatus(type, data);
        };
        client_.OnKeyNeeded = [this](rtl::Component*, const std::string& hint, std::string& identity,
                                     ByteArray& key) {
            if (OnKeyNeeded) OnKeyNeeded(hint, identity, key);
        };
        client_.OnExtensionsReceived = [this](rtl::Component*) {
            if (OnExtensionsReceived) OnExtensionsReceived();
        };
        client_.OnCiphersNegotiated = [this](rtl::Component*) {
            if (OnCiphersNegotiated) OnCiphersNegotiated();
        };
    }

    TElCustomCertStorage* CertStorage() const override { return client_.GetCertStorage(); }
    void SetCertStorage(TElCustomCertStorage* value) override { client_.SetCertStorage(value); }
    TElMemoryCertStorage* ClientCertStorage() const override { return client_.GetClientCertStorage(); }
    void SetClientCertStorage(TElMemoryCertStorage* value) override { client_.SetClientCertStorage(value); }
    bool GetSuiteEnabled(uint8_t index) const override { return client_.GetSuiteEnabled(index); }
    void SetSuiteEnabled(uint8_t index, bool value) override { client_.SetSuiteEnabled(index, value); }
    int32_t GetSuiteValue(uint8_t index) const override { return client_.GetSuiteValue(index); }
    void SetSuiteValue(uint8_t index, int32_t value) override { client_.SetSuiteValue(index, value); }
    TElClientSSLExtensions& Extensions() override { return client_.Extensions(); }
    TElCustomSSLExtensions& PeerExtensions() override { return client_.PeerExtensions(); }

    bool Active() const override { return client_.GetActive(); }

    void OpenSession() override {
        Configure();
        client_.OpenSession();
    }

    void CloseSession(bool silent) override { client_.CloseSession(silent); }
    void ProcessIncomingData() override { client_.ProcessIncomingData(); }

    void SendApplicationData(const void* buffer, size_t size) override {
        const auto* at = static_cast<const uint8_t*>(buffer);
        while (size > 0) {
            const size_t n = std::min<size_t>(size, INT32_MAX);
            client_.SendApplicationData(at, int32_t(n));
            at += n;
            size -= n;
        }
    }

    // The FTP data connection takes over the control connection's session and resumes it
    // (RFC 4217 section 10.2: servers may insist on it). The control engine keeps its session
    // after it closes; when it holds none, the data connection makes a full handshake.
    void OpenResumingSession(SecureEngine& other) override {
        auto* control = dynamic_cast<SecureClientEngine*>(&other);
        if (control == nullptr || !enabled_) {
            OpenSession();
            return;
        }
        client_.OpenResumingSession(control->client_);
        versions_ = client_.Versions;
        Configure();
        try {
            client_.RenegotiateSession();
        } catch (const EElSecureClientError&) {
            client_.OpenSession();
        }
    }

    void CopySettingsFrom(const SecureEngine& other) override {
        versions_ = other.Versions();
        VerifyPeerDisabled = other.VerifyPeerDisabled;
        SetCertStorage(other.CertStorage());
        SetClientCertStorage(other.ClientCertStorage());
        for (uint8_t i = 0; i <= SSLMaxSuiteIndex; ++i) {
            SetSuiteEnabled(i, other.GetSuiteEnabled(i));
            SetSuiteValue(i, other.GetSuiteValue(i));
        }
        const auto* source = dynamic_cast<const SecureClientEngine*>(&other);
        if (source != nullptr) client_.Extensions().Assign(source->client_.Extensions());
    }

private:
    void Configure() {
        client_.Enabled = enabled_;
        client_.Versions = versions_;
        client_.PeerHostName = PeerHost;
        client_.VerifyPeerDisabled = VerifyPeerDisabled;
    }

    TElSecureClient client_;
};

}  // namespace

std::unique_ptr<SecureEngine> CreateSecureEngine() {
    return std::make_unique<SecureClientEngine>();
}
