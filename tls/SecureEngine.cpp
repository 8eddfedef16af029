// tls/SecureEngine.cpp: the engine the transport clients use: TElSecureClient behind the
// SecureEngine seam.
//
// What must stay true:
// - the settings the owner made on the seam (enabled, versions, the host to check, the
//   verification switch) reach the engine before each handshake;
// - the engine's events come out as the seam's, on the caller's thread, inside the call that
//   caused them; an exception the owner's OnReceive throws (a lost connection) leaves
//   ProcessIncomingData as it came;
// - a resumed session (an FTP data connection) falls back to a full handshake when the other
//   engine holds no session to resume.
#include "tls/SecureEngine.h"

#include <algorithm>
#include <limits>

#include "tls/SBClient.h"

namespace {

class TlsEngine final : public SecureEngine {
public:
    TlsEngine() {
        client_.OnSend = [this](rtl::Component*, const void* buffer, int32_t size) {
            if (OnSend) OnSend(static_cast<const uint8_t*>(buffer), size_t(size));
        };
        client_.OnReceive = [this](rtl::Component*, void* buffer, int32_t maxSize, int32_t& written) {
            written = 0;
            if (!OnReceive || maxSize <= 0) return;
            size_t got = 0;
            OnReceive(static_cast<uint8_t*>(buffer), size_t(maxSize), got);
            written = int32_t(std::min(got, size_t(maxSize)));
        };
        client_.OnData = [this](rtl::Component*, const void* buffer, int32_t size) {
            if (OnData) OnData(static_cast<const uint8_t*>(buffer), size_t(size));
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
    }

    bool Active() const override { return client_.GetActive(); }

    void OpenSession() override {
        Apply();
        client_.OpenSession();
    }

    void CloseSession(bool silent) override { client_.CloseSession(silent); }

    void ProcessIncomingData() override { client_.ProcessIncomingData(); }

    void SendApplicationData(const void* buffer, size_t size) override {
        const auto* p = static_cast<const uint8_t*>(buffer);
        constexpr size_t Most = size_t(std::numeric_limits<int32_t>::max() / 2);
        do {
            const size_t n = std::min(size, Most);
            client_.SendApplicationData(p, int32_t(n));
            p += n;
            size -= n;
        } while (size > 0);
    }

    void OpenResumingSession(SecureEngine& other) override {
        auto* engine = dynamic_cast<TlsEngine*>(&other);
        if (engine == nullptr || !enabled_) {
            OpenSession();
            return;
        }
        // The other engine's versions, suites and session; then a hello that offers it.
        client_.OpenResumingSession(engine->client_);
        versions_ = client_.Versions;
        Apply();
        try {
            client_.RenegotiateSession();
        } catch (const EElSecureClientError&) {
            client_.OpenSession();  // nothing to resume: a full handshake
        }
    }

    void CopySettingsFrom(const SecureEngine& other) override {
        versions_ = other.Versions();
        const auto* engine = dynamic_cast<const TlsEngine*>(&other);
        if (engine == nullptr) return;
        for (uint8_t i = 0; i <= SSLMaxSuiteIndex; ++i) {
            client_.SetSuiteEnabled(i, engine->client_.GetSuiteEnabled(i));
            client_.SetSuiteValue(i, engine->client_.GetSuiteValue(i));
        }
    }

private:
    void Apply() {
        client_.Enabled = enabled_;
        client_.Versions = versions_;
        client_.PeerHostName = PeerHost;
        client_.VerifyPeerDisabled = VerifyPeerDisabled;
    }

    TElSecureClient client_;
};

}  // namespace

std::unique_ptr<SecureEngine> CreateSecureEngine() {
    return std::make_unique<TlsEngine>();
}
