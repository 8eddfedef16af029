// tls/SBSimpleSSL.h: TElCustomSimpleSSLClient, one TLS engine over one TElSocket, turned into
// synchronous operations.
//
// Open connects the socket (directly or through the SOCKS or tunnel proxy set here) and runs
// the engine's handshake to its end before it returns; SendData returns when every byte is on
// the wire; received plaintext goes to the virtual StoreReceivedData, which the HTTP/HTTPS
// client overrides. With the engine disabled the same client is a plain TCP client.
//
// States: closed (the engine not Active) -> Open -> established (Active) -> CloseConnection,
// or a close by the engine -> closed; the same object can be opened again. Between calls the
// socket is connected exactly while the client is established: a failed Open leaves nothing
// open behind it, so the next Open starts clean.
//
// Time: SocketTimeout (ms, 0 = none) bounds each wait for the socket and the quiet time since
// the last successful read or write ("Connection timeout"); time is read through plat::Clock.
//
// Certificates: the server's is checked against the system bundle and CertStorage and must
// name Address, the host connected to, also through a proxy (VerifyPeerDisabled switches
// both checks off); OnCertificateValidate hears of each certificate of the server's chain and
// may refuse it, and a handler that raises refuses it too, so Open ends with "Connection failed due to error
// (%d)" and the engine's bad_certificate code. A server that asks for a client certificate gets
// ClientCertStorage's first chain, else what OnCertificateNeededEx hands over. The engine's other events
// (OnCertificateStatus, OnKeyNeeded, OnExtensionsReceived, OnCiphersNegotiated) are passed on;
// every forwarded event has this client as its Sender.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "crypto/base/SBUtils.h"
#include "rtl/Component.h"
#include "tls/SBSocket.h"
#include "tls/SecureEngine.h"

RTL_EXCEPTION(EElSimpleSSLClientException, ECryptoLibraryError);
RTL_EXCEPTION(EElSSLClientConnectionLostError, EElSimpleSSLClientException);

inline constexpr const char* SConnectionAlreadyEstablished = "Connection already established";
inline constexpr const char* SConnectionError = "Connection error (%d)";
// A CONNECT tunnel the proxy refused, with the status line of its last reply.
inline constexpr const char* SProxyRefusedTunnel = "Connection error (%d): the proxy refused the tunnel (%s)";
inline constexpr const char* SConnectionFailedDueToError = "Connection failed due to error (%d)";
inline constexpr const char* SConnectionLost = "Connection lost";
inline constexpr const char* SConnectionTimeout = "Connection timeout";

// The error a stopped message loop gives an unfinished handshake.
inline constexpr int32_t SB_ERROR_MESSAGE_LOOP_STOPPED = 0x12001;

using TSBCloseConnectionEvent = std::function<void(rtl::Component* sender, TSBCloseReason reason)>;
using TSBErrorEvent = std::function<void(rtl::Component* sender, int32_t errorCode, bool fatal, bool remote)>;
using TElMessageLoopEvent = std::function<bool()>;

class TElCustomSimpleSSLClient : public rtl::Component, public TElProxySettings {
public:
    explicit TElCustomSimpleSSLClient(rtl::Component* owner = nullptr);
    ~TElCustomSimpleSSLClient() override;

    // Connects and completes the handshake.
    virtual void Open();
    bool Active() const { return engine_->Active(); }
    // Gives the bytes to the engine, which sends them before this returns.
    void SendData(const void* buffer, size_t size);
    // One input step: waits for the socket (200 ms steps with a SocketTimeout, else without
    // limit) and lets the engine read what is there.
    void DataAvailable();
    // One waiting step: an input step unless skipData, then the quiet-time check, then the
    // message loop. false stops the caller.
    bool CheckDataAvailable(bool skipData);
    virtual void CloseConnection(bool silent);
    virtual void HandleClose(bool silent) { CloseConnection(silent); }

    const std::string& Address() const { return socket_->Address(); }
    void SetAddress(const std::string& value);
    int32_t Port() const { return socket_->Port(); }
    void SetPort(int32_t value);
    const std::string& LocalAddress() const { return socket_->ListenAddress; }
    void SetLocalAddress(const std::string& value) { socket_->ListenAddress = value; }
    int32_t LocalPort() const { return socket_->ListenPort; }
    void SetLocalPort(int32_t value) { socket_->ListenPort = value; }
    TSBVersions Versions() const { return engine_->Versions(); }
    void SetVersions(TSBVersions value) { engine_->SetVersions(value); }
    int32_t SocketTimeout() const { return socketTimeout_; }
    // Negative values are refused (the held value stays): 0 already means no limit.
    void SetSocketTimeout(int32_t value);
    // The server's certificate is checked against the host connected to unless this is set.
    bool VerifyPeerDisabled() const { return engine_->VerifyPeerDisabled; }
    void SetVerifyPeerDisabled(bool value) { engine_->VerifyPeerDisabled = value; }
    // Certificates the server's may lead to besides the system bundle (a server's own
    // certificate file, say). A storage that goes away is dropped.
    TElCustomCertStorage* CertStorage() const { return engine_->CertStorage(); }
    void SetCertStorage(TElCustomCertStorage* value) { engine_->SetCertStorage(value); }
    // The chain offered to a server that asks for a client certificate (its first certificate
    // with the private key). A storage that goes away is dropped.
    TElMemoryCertStorage* ClientCertStorage() const { return engine_->ClientCertStorage(); }
    void SetClientCertStorage(TElMemoryCertStorage* value) { engine_->SetClientCertStorage(value); }
    // The cipher suites offered, by the engine's index 0..82, and their priorities (higher
    // first). A pre-shared-key suite, off by default, is switched on here for OnKeyNeeded.
    bool GetSuiteEnabled(uint8_t index) const { return engine_->GetSuiteEnabled(index); }
    void SetSuiteEnabled(uint8_t index, bool value) { engine_->SetSuiteEnabled(index, value); }
    int32_t GetSuiteValue(uint8_t index) const { return engine_->GetSuiteValue(index); }
    void SetSuiteValue(uint8_t index, int32_t value) { engine_->SetSuiteValue(index, value); }
    // The hello extensions offered, and those the server's last hello carried.
    TElClientSSLExtensions& Extensions() { return engine_->Extensions(); }
    TElCustomSSLExtensions& PeerExtensions() { return engine_->PeerExtensions(); }

    // The socket's ProxyResult after the last connect.
    int32_t ProxyResult() const { return proxyResult_; }
    std::string SRPUserName;
    std::string SRPPassword;

    TElMessageLoopEvent MessageLoop;
    TSBCloseConnectionEvent OnCloseConnection;
    TSBErrorEvent OnError;
    TSBChooseCertificateEvent OnCertificateChoose;
    TSBCertificateValidateEvent OnCertificateValidate;
    TSBCertificateNeededExEvent OnCertificateNeededEx;
    TSBNotifyEvent OnCiphersNegotiated;
    TSBCertificateStatusEvent OnCertificateStatus;
    TSBExtensionsReceivedEvent OnExtensionsReceived;
    TSBKeyNeededEvent OnKeyNeeded;

protected:
    // The engine's plaintext lands here; the base keeps it in the receive buffer.
    virtual void StoreReceivedData(const uint8_t* buffer, size_t size);
    // Plain (false) or TLS (true) for the next Open.
    void SetEngineEnabled(bool value) { engine_->SetEnabled(value); }
    TElSocket& Socket() { return *socket_; }
    // Called by Open after the proxy settings were copied into the socket, before it
    // connects: a descendant may route this one connection differently.
    virtual void PrepareSocket(TElSocket&) {}
    // Waits up to waitMs for the socket and lets the engine read what came; false when
    // nothing came.
    bool PollInput(int waitMs);
    // Milliseconds since the last successful read or write.
    uint32_t QuietTime() const;
    void Touch();
    // The plaintext kept by the base StoreReceivedData.
    std::vector<uint8_t> receiveBuffer_;

private:
    void EngineSend(const uint8_t* buffer, size_t size);
    void EngineReceive(uint8_t* buffer, size_t maxSize, size_t& written);
    void EngineError(int32_t errorCode, bool fatal, bool remote);
    void Connect();
    // Closes a socket left connected by a session that already ended.
    void ReleaseSocket();

    std::unique_ptr<TElSocket> socket_;
    std::unique_ptr<SecureEngine> engine_;
    int32_t socketTimeout_ = 0;
    int32_t proxyResult_ = 0;
    uint32_t lastActivity_ = 0;
    int32_t lastError_ = 0;
    // Open is running the handshake; a send of it failed (the rest of the flight is dropped).
    bool opening_ = false;
    bool openSendFailed_ = false;
};
