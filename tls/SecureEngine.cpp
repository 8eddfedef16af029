// tls/SecureEngine.cpp: the engine the transport clients use.
//
// Until the TLS engine joins this library the clients get an engine that only knows its
// disabled form: plain bytes pass through unchanged, and asking it for TLS fails at once
// instead of sending anything unprotected.
#include "tls/SecureEngine.h"

#include "crypto/SBUtils.h"

namespace {

class PassThroughEngine final : public SecureEngine {
public:
    bool Active() const override { return active_; }

    void OpenSession() override {
        if (enabled_) throw ECryptoLibraryError("TLS is not available in this build");
        active_ = true;
        if (OnOpenConnection) OnOpenConnection();
    }

    void CloseSession(bool) override {
        const bool wasActive = active_;
        active_ = false;
        if (wasActive && OnCloseConnection) OnCloseConnection(crClose);
    }

    void ProcessIncomingData() override {
        if (!OnReceive) return;
        size_t written = 0;
        OnReceive(buffer_, sizeof buffer_, written);
        if (written > 0 && OnData) OnData(buffer_, written);
    }

    void SendApplicationData(const void* buffer, size_t size) override {
        if (OnSend) OnSend(static_cast<const uint8_t*>(buffer), size);
    }

    void OpenResumingSession(SecureEngine&) override { OpenSession(); }
    void CopySettingsFrom(const SecureEngine& other) override { versions_ = other.Versions(); }

private:
    bool active_ = false;
    uint8_t buffer_[65536];
};

}  // namespace

std::unique_ptr<SecureEngine> CreateSecureEngine() {
    return std::make_unique<PassThroughEngine>();
}
