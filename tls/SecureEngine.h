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
// The certificate and extension surface the clients publish is the engine's, passed through:
// the storages (trusted certificates, the client's own chain), the hello extensions offered and
// received, and the events that let the owner watch or refuse each server certificate, offer a
// client certificate, take a stapled OCSP response, give a pre-shared key, read the server's
// extensions and hear of a renegotiation. An event left unassigned leaves the engine's own
// behaviour: the server's certificate checked against the system bundle and CertStorage, no
// client certificate unless ClientCertStorage holds one.
//
// States: closed (Active false) -> OpenSession -> handshaking -> Active (OnOpenConnection has
// fired) -> CloseSession or a failure (OnError, then OnCloseConnection) -> closed. Every event
// is raised on the caller's thread, inside the call that caused it; an exception thrown by a
// handler leaves that call, except one thrown by OnCertificateValidate: that handler has not
// accepted the certificate, so the engine refuses it (bad_certificate, OnError, the close)
// and no certificate goes unchecked because a handler failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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
    // Each certificate of the server's chain, its issuers first; validate comes in as the
    // engine's verdict. The handler may refuse; it overturns a refusal only with
    // VerifyPeerDisabled set.
    std::function<void(TElX509Certificate* certificate, bool& validate)> OnCertificateValidate;
    // Asked for the client's certificates one by one when the server requests one and
    // ClientCertStorage holds none; null ends the list.
    std::function<void(TElX509Certificate*& certificate)> OnCertificateNeededEx;
    // Passed on as the engine declares it; the engine never raises it.
    std::function<void(const std::vector<TElX509Certificate*>& certificates, int32_t& index)>
        OnCertificateChoose;
    // The server's stapled status response (RFC 6066 8), when CertificateStatus is offered.
    std::function<void(TSBCertificateStatusType type, const ByteArray& data)> OnCertificateStatus;
    // The identity and key of a pre-shared-key suite, with the server's hint.
    std::function<void(const std::string& hint, std::string& identity, ByteArray& key)> OnKeyNeeded;
    // The server's hello extensions are in PeerExtensions.
    std::function<void()> OnExtensionsReceived;
    // A renegotiation asked by the server has ended.
    std::function<void()> OnCiphersNegotiated;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value) { enabled_ = value; }
    TSBVersions Versions() const { return versions_; }
    void SetVersions(TSBVersions value) { versions_ = value; }
    // The host the server's certificate must name (the URL's host, or the FTP control
    // connection's), and whether the server's certificate is checked at all.
    std::string PeerHost;
    bool VerifyPeerDisabled = false;
    // Certificates trusted besides the system bundle (none when null). The engine drops a
    // storage that goes away while it is set.
    virtual TElCustomCertStorage* CertStorage() const = 0;
    virtual void SetCertStorage(TElCustomCertStorage* value) = 0;
    // The client's certificate chain (its first certificate with the private key) for a server
    // that asks for one; dropped the same way.
    virtual TElMemoryCertStorage* ClientCertStorage() const = 0;
    virtual void SetClientCertStorage(TElMemoryCertStorage* value) = 0;
    // The cipher suites offered (by index 0..82, EElSSLError past it) and their priorities:
    // the engine's defaults leave weak suites and those that need the caller's settings (PSK,
    // SRP) off.
    virtual bool GetSuiteEnabled(uint8_t index) const = 0;
    virtual void SetSuiteEnabled(uint8_t index, bool value) = 0;
    virtual int32_t GetSuiteValue(uint8_t index) const = 0;
    virtual void SetSuiteValue(uint8_t index, int32_t value) = 0;
    // The hello extensions offered, and those of the server's last hello.
    virtual TElClientSSLExtensions& Extensions() = 0;
    virtual TElCustomSSLExtensions& PeerExtensions() = 0;

    virtual bool Active() const = 0;
    virtual void OpenSession() = 0;
    // Silent: no close notification is sent.
    virtual void CloseSession(bool silent) = 0;
    virtual void ProcessIncomingData() = 0;
    virtual void SendApplicationData(const void* buffer, size_t size) = 0;
    // An FTP data connection takes over the control connection's session and resumes it.
    virtual void OpenResumingSession(SecureEngine& other) = 0;
    // Takes the other engine's versions, enabled cipher suites and their priorities, the
    // storages it trusts and offers, whether it checks the server, and the extensions it offers.
    virtual void CopySettingsFrom(const SecureEngine& other) = 0;

protected:
    bool enabled_ = true;
    TSBVersions versions_ = kDefaultVersions;
};

// The engine every transport client uses.
std::unique_ptr<SecureEngine> CreateSecureEngine();
