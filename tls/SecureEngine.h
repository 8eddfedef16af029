// tls/SecureEngine.h: the TLS engine as the transport clients drive it.
//
// The simple SSL client (and the HTTP/HTTPS client on it) and the FTP client's control and
// data connections each own one engine and pump bytes between it and a TElSocket: the owner
// calls ProcessIncomingData whenever the socket may have bytes, the engine pulls them through
// OnReceive, writes what it produces through OnSend and hands plaintext to OnData. With
// Enabled false the engine passes bytes through unchanged both ways and opens at once, which
// is how the same clients speak plain HTTP and plain FTP.
//
// This interface is the one place where the TLS engine plugs into the clients:
// CreateSecureEngine makes the engine every client uses. The clients never see more of it
// than what is declared here, so what the engine does inside (handshake, records,
// verification) stays its own business.
//
// States: closed (Active false) -> OpenSession -> handshaking -> Active (OnOpenConnection has
// fired) -> CloseSession or a failure (OnError, then OnCloseConnection) -> closed. Every event
// is raised on the caller's thread, inside the call that caused it; an exception thrown by a
// handler leaves that call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "tls/SBClient.h"

// One version as a set, and the union of two sets: VersionBit(sbTLS1) | VersionBit(sbTLS12).
constexpr TSBVersions VersionBit(TSBVersion v) {
    return TSBVersions{v};
}
template <class E>
constexpr TSBSet<E> operator|(TSBSet<E> a, TSBSet<E> b) {
    return TSBSet<E>::FromMask(a.Mask() | b.Mask());
}
// The clients' default set is the engine's: TLS 1.0 to 1.2. SSL 2.0 and 3.0 are broken
// (RFC 6176, RFC 7568) and current servers refuse them; a caller may still ask for them.
inline constexpr TSBVersions kDefaultVersions{sbTLS1, sbTLS11, sbTLS12};

namespace rtl {
class Component;
}
// Transfer progress of the HTTP and FTP clients; setting cancel stops the transfer.
using TSBProgressEvent =
    std::function<void(rtl::Component* sender, int64_t total, int64_t current, bool& cancel)>;

class SecureEngine {
public:
    virtual ~SecureEngine() = default;

    // Output of the engine (records, or the plain bytes when disabled).
    std::function<void(const uint8_t* buffer, size_t size)> OnSend;
    // Input for the engine: up to maxSize bytes into buffer, written := how many.
    std::function<void(uint8_t* buffer, size_t maxSize, size_t& written)> OnReceive;
    // Plaintext for the owner.
    std::function<void(const uint8_t* buffer, size_t size)> OnData;
    std::function<void()> OnOpenConnection;
    std::function<void(TSBCloseReason reason)> OnCloseConnection;
    std::function<void(int32_t errorCode, bool fatal, bool remote)> OnError;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value) { enabled_ = value; }
    TSBVersions Versions() const { return versions_; }
    void SetVersions(TSBVersions value) { versions_ = value; }
    // The host the server's certificate must name (the URL's host, or the FTP control
    // connection's), and whether the server's certificate is checked at all.
    std::string PeerHost;
    bool VerifyPeerDisabled = false;
    // Certificates trusted besides the system bundle (none when null); the storage must outlive
    // the sessions opened while it is set.
    TElCustomCertStorage* TrustedCertificates = nullptr;

    virtual bool Active() const = 0;
    virtual void OpenSession() = 0;
    // Silent: no close notification is sent.
    virtual void CloseSession(bool silent) = 0;
    virtual void ProcessIncomingData() = 0;
    virtual void SendApplicationData(const void* buffer, size_t size) = 0;
    // An FTP data connection takes over the control connection's session and resumes it.
    virtual void OpenResumingSession(SecureEngine& other) = 0;
    // Takes the other engine's versions, enabled cipher suites and their priorities.
    virtual void CopySettingsFrom(const SecureEngine& other) = 0;

protected:
    bool enabled_ = true;
    TSBVersions versions_ = kDefaultVersions;
};

// The engine every transport client uses.
std::unique_ptr<SecureEngine> CreateSecureEngine();
