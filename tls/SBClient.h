// tls/SBClient.h: TElSecureClient, the client side of SSL 2.0, SSL 3.0 and TLS 1.0-1.2 as an
// engine that owns no transport. Its owner calls ProcessIncomingData whenever the transport may
// have bytes; the engine pulls them through OnReceive, writes every record it makes through
// OnSend and hands the peer's application data to OnData. It runs the handshake, checks the
// server and protects the records of the session.
//
// The input machine cuts the byte stream into units (a record header, then its body) in the
// fixed input buffer; a complete record goes to the protocol of the session: the SSL 2.0
// machine (SBClient_ssl2.cpp) or the SSL 3.0 / TLS record layer (SBClient_record.cpp), whose
// handshake (SBClient_handshake.cpp, SBClient_kex.cpp) serves SSL 3.0 and TLS alike.
//
// Handshake states (SSL 3.0 and TLS; values kept from the system's numbering):
//   Reset 0        no handshake; nothing is accepted but a fresh open
//   ClientHello 1  our hello is out; the server's hello is expected
//   ServerHello 2  ServerHello read; Certificate, ServerKeyExchange, CertificateRequest,
//                  ServerHelloDone follow as the suite needs (a resumed session: the server's
//                  ChangeCipherSpec)
//   Certificate 3  the server's chain is read and checked
//   ClientCCS 8    our ChangeCipherSpec is out (the write keys changed)
//   ClientFinished 9  our Finished is out; the server's ChangeCipherSpec is expected
//   ServerCCS 10   the read keys changed; the server's Finished is expected
//   Established 12 the server's Finished checked out: application data flows, a HelloRequest
//                  may start a renegotiation under the current keys
//   ServerHelloDone 13  the server's flight is complete; ours is being sent
// What must stay true:
// - each handshake message is checked against the set of messages the state expects before it
//   is parsed, and the set is replaced after it; a ChangeCipherSpec is taken only where one is
//   expected and only with no partial handshake message pending;
// - application data leaves only protected (Active), never in clear;
// - a refusal of the peer's input sends its alert, reports OnError and closes with crError,
//   and every later record is refused the same way;
// - secrets (premaster and master secrets, keys, PSK keys) live in wiped buffers; MACs,
//   Finished and SERVER-VERIFY values are compared with rtl::ct_equal, and padding and MAC
//   checks of a CBC record take one path and one alert whatever failed;
// - every buffer fed from the wire has a ceiling: a record past RFC 5246 6.2's limits (a
//   compressed fragment past 2^14 + 1024 bytes, or one that would inflate past 2^14, is refused
//   before anything is kept of it), a handshake message past MaxHandshakeMessage or a transcript
//   past MaxTranscript is refused.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "crypto/base/SBRDN.h"
#include "crypto/base/SBUtils.h"
#include "rtl/SecureBytes.h"
#include "tls/SBSSLCommon.h"

class TElCustomCertStorage;
class TElMemoryCertStorage;
class TElX509Certificate;
class TElX509CertificateChain;
class TElCryptoProviderManager;
class TElCustomCryptoProvider;
class TElSymmetricCrypto;
class TElSymmetricKeyMaterial;
class TElHashFunction;
class TElHMACKeyMaterial;
class TElRSAKeyMaterial;
class TElDSAKeyMaterial;
class TElDHKeyMaterial;
class TElSRPKeyMaterial;
namespace sbtls {
class MessageReader;
class RecordCompression;
}

enum TClientCertificateType : uint8_t { ccRSA, ccDSS, ccRSADH, ccDSSDH };

using TSBCloseConnectionEvent = std::function<void(rtl::Component* sender, TSBCloseReason reason)>;
using TSBChooseCertificateEvent =
    std::function<void(rtl::Component* sender, const std::vector<TElX509Certificate*>& certificates, int32_t& index)>;
using TSBCertificateNeededEvent =
    std::function<void(rtl::Component* sender, void* certificateBuffer, int32_t& certificateSize,
                       void* privateKeyBuffer, int32_t& privateKeySize, TClientCertificateType certificateType)>;
using TSBCertificateNeededExEvent = std::function<void(rtl::Component* sender, TElX509Certificate*& certificate)>;
using TSBCertificateStatusEvent =
    std::function<void(rtl::Component* sender, TSBCertificateStatusType statusType, const ByteArray& data)>;
using TSBKeyNeededEvent =
    std::function<void(rtl::Component* sender, const std::string& hint, std::string& identity, ByteArray& key)>;

// The client's own extensions, and the certificate-authority names of the last
// CertificateRequest.
class TElClientSSLExtensions final : public TElCustomSSLExtensions {
public:
    int32_t GetCertificateAuthorityCount() const { return int32_t(authorities_.size()); }
    TElRelativeDistinguishedName& GetCertificateAuthority(int32_t index);
    void AddCertificateAuthority(std::unique_ptr<TElRelativeDistinguishedName> name);
    void ClearCertificateAuthorities() { authorities_.clear(); }

private:
    std::vector<std::unique_ptr<TElRelativeDistinguishedName>> authorities_;
};

class TElSecureClient final : public TElSSLClass {
public:
    explicit TElSecureClient(rtl::Component* owner = nullptr);
    ~TElSecureClient() override;

    void OpenSession();
    // Silent: no close alert; the session is marked resumable.
    void CloseSession(bool silent);
    // At most one OnReceive call; the owner calls again while the transport has data.
    void ProcessIncomingData();
    // Raises EElSecureClientError while no session is open: nothing goes out in clear.
    void SendApplicationData(const void* buffer, int32_t size);
    // A new handshake that resumes the stored session (after a close, or with the session of
    // another client); "Cannot renegotiate" when there is none.
    void RenegotiateSession();
    void OpenResumingSession(const TElSecureClient& other);

    bool GetActive() const { return active_; }
    // The negotiated suite's index (-1 before a ServerHello) and the protocol index.
    int32_t GetCipherSuite() const;
    TSBVersion GetCurrentVersion() const { return TSBVersion(currentVersion_); }
    // The server's chain of the last handshake; null before one.
    TElX509CertificateChain* GetServerCertificateChain() const { return serverChain_.get(); }
    // What a key log records (NSS key log format): the client random and master secret of the
    // current session.
    ByteArray GetClientRandom() const;
    rtl::SecureBytes GetMasterSecret() const;
    // Whether the server agreed to RFC 5746 renegotiation and RFC 7627 master secrets.
    bool GetSecureRenegotiation() const { return secureRenegotiation_; }
    bool GetExtendedMasterSecret() const { return session_.ExtendedMasterSecret; }
    // Whether the last handshake resumed a session.
    bool GetSessionResumed() const { return resuming_; }
    // Record compression (RFC 3749). With the compression-off flag set (its default) the hello
    // offers only the null method; cleared, it offers deflate before it. Active: the server
    // chose deflate for the current session.
    bool GetCompressionOff() const { return compressionOff_; }
    void SetCompressionOff(bool value) { compressionOff_ = value; }
    bool GetCompressionActive() const { return compressionActive_; }

    TElCustomCertStorage* GetCertStorage() const { return certStorage_; }
    void SetCertStorage(TElCustomCertStorage* value);
    TElMemoryCertStorage* GetClientCertStorage() const { return clientCertStorage_; }
    void SetClientCertStorage(TElMemoryCertStorage* value);
    TElCryptoProviderManager* GetCryptoProviderManager() const { return providerManager_; }
    void SetCryptoProviderManager(TElCryptoProviderManager* value);
    TElClientSSLExtensions& Extensions() { return *extensions_; }
    const TElClientSSLExtensions& Extensions() const { return *extensions_; }
    TElCustomSSLExtensions& PeerExtensions() { return *peerExtensions_; }
    const std::string& GetSRPUsername() const { return srpUsername_; }
    // Also switches the user-name extension on and stores the name in it.
    void SetSRPUsername(const std::string& value);

    bool Enabled = true;
    std::string SRPPassword;
    // The host the owner connects to: sent as the server name (unless it is an address) and
    // matched against the server's certificate (RFC 6125).
    std::string PeerHostName;
    // True: every server certificate is accepted (the owner's OnCertificateValidate decides).
    bool VerifyPeerDisabled = false;

    TSBCloseConnectionEvent OnCloseConnection;
    TSBChooseCertificateEvent OnCertificateChoose;
    TSBCertificateNeededEvent OnCertificateNeeded;
    TSBCertificateNeededExEvent OnCertificateNeededEx;
    TSBCertificateStatusEvent OnCertificateStatus;
    TSBKeyNeededEvent OnKeyNeeded;

    // Ceilings on what the peer can make the engine hold.
    static constexpr size_t MaxHandshakeMessage = 0x40000;  // a long certificate chain fits
    static constexpr size_t MaxTranscript = 0x100000;
    static constexpr int32_t ApplicationChunk = 8192;

    void ResetSequenceNumbers(bool writeSide) override;
    void SendRecord(uint8_t contentKind, const void* data, int32_t length, int32_t epoch, bool isProtected) override;

protected:
    void Notification(rtl::Component* component, Operation operation) override;

private:
    // ------------------------------------------------------------------ shared definitions
    enum class Input : uint8_t {
        Stream,        // SSL 3.0 / TLS records
        SSL2,          // SSL 2.0 records
        CompatAnswer,  // a version-compatible hello is out: the first byte decides
    };
    enum class RecordPart : uint8_t { Header, Header3, Body };
    enum class HS : uint8_t {
        Reset = 0, ClientHello = 1, ServerHello = 2, Certificate = 3, ClientCCS = 8, ClientFinished = 9,
        ServerCCS = 10, Established = 12, ServerHelloDone = 13
    };

    // The negotiated suite.
    struct Suite {
        int32_t Index = -1;
        uint16_t Code = 0;
        bool Export = false;
        SSLCipher Cipher = SSLCipher::None;
        SSLMac Mac = SSLMac::None;
        SSLKeyExchange KeyExchange = SSLKeyExchange::None;
        SSLSignature Signature = SSLSignature::None;
        int32_t MacSize = 0;
        int32_t MacOutputSize = 0;
        int32_t KeySize = 0;
        int32_t IVSize = 0;
    };
    // One direction of record protection (SSL 3.0 and TLS).
    struct Protection {
        Protection();
        ~Protection();
        Protection(Protection&&) noexcept;
        Protection& operator=(Protection&&) noexcept;
        bool Active = false;
        uint8_t Version = 0;  // protocol index the keys belong to
        Suite Cipher;
        std::unique_ptr<TElSymmetricKeyMaterial> KeyMaterial;
        std::unique_ptr<TElSymmetricCrypto> Crypto;
        rtl::SecureBytes MacKey;
        std::unique_ptr<TElHMACKeyMaterial> HMACKey;
        std::unique_ptr<TElHashFunction> MAC;
        // The direction's deflate or inflate stream when the session compresses its records.
        std::unique_ptr<sbtls::RecordCompression> Compression;
        uint64_t Sequence = 0;
        int32_t BlockSize = 0;
    };
    // What survives a close for resumption.
    struct Session {
        ByteArray Id;
        rtl::SecureBytes MasterSecret;
        Suite Cipher;
        uint8_t Version = 0;
        bool ExtendedMasterSecret = false;
        bool Compressed = false;
        ByteArray Ticket;
        bool Valid = false;
    };
    struct SSL2State;

    // ------------------------------------------------------------------ SBClient.cpp
    void SetActive(bool value);
    void ResetForOpen();
    void RunInputMachine();
    void ProcessStreamRecord(uint8_t type, uint8_t* data, size_t length);
    void DoError(int32_t errorCode, bool fatal, bool remote);
    void DoCloseConnection(TSBCloseReason reason);
    void DoOpenConnection();
    int32_t DoReceive(void* buffer, int32_t maxSize);
    void DoSend(const void* buffer, size_t size);
    void DoData(const void* buffer, size_t size);
    // A refusal: the alert (when the index names one), OnError, close with crError.
    void Fail(int32_t alertIndex, int32_t errorCode);
    void Fail(const EElSSLError& refusal) { Fail(refusal.AlertIndex(), refusal.ErrorCode()); }
    void SendAlertByVersion(bool fatal, uint8_t alertIndex);
    TElCustomCryptoProvider* PublicKeyProvider() const;
    TElCustomCryptoProvider* SymmetricProvider() const;

    // ------------------------------------------------------------------ SBClient_record.cpp
    bool IsSSL3() const { return currentVersion_ == sbSSL3; }
    void WritePlainRecord(uint8_t type, const uint8_t* data, size_t length);
    void SendRecordData(uint8_t type, const uint8_t* data, size_t length);
    void SendProtectedFragment(uint8_t type, const uint8_t* data, size_t length);
    // The record's plaintext: in place, or in inflated_ when the session compresses.
    std::span<const uint8_t> UnprotectRecord(uint8_t type, uint8_t* data, size_t length);
    ByteArray ComputeMAC(Protection& side, uint8_t type, const uint8_t* data, size_t length);
    bool CheckCBCRecord(Protection& side, uint8_t type, uint8_t* data, size_t length, size_t& plainLength);
    void PadMACCompressions(Protection& side, size_t maximum, size_t used);
    void DeriveKeys();
    void BuildProtection(Protection& side, const uint8_t* macKey, const rtl::SecureBytes& key,
                         const rtl::SecureBytes& iv, bool encrypt);
    void ComputeMasterSecret();
    rtl::SecureBytes PRF(const rtl::SecureBytes& secret, const char* label, std::span<const uint8_t> seed,
                         size_t length) const;
    ByteArray TranscriptHash(int32_t algorithm) const;
    ByteArray ComputeFinished(bool client) const;
    ByteArray ComputeSSL3Hashes(const char* sender) const;
    void ChangeWriteKeys();
    void ChangeReadKeys();
    void ClearProtection();

    // ------------------------------------------------------------------ SBClient_handshake.cpp
    void ResetHandshakeState();
    // What one handshake learned of the server's flight (the transcript, the messages seen, the
    // extensions agreed), cleared before each of our hellos, a renegotiating one included.
    void ResetFlightState();
    void StartHandshake();
    void BuildCipherSuiteList();
    bool SuiteUsable(uint8_t index) const;
    void SendClientHello(bool keepRandom);
    ByteArray BuildHelloExtensions();
    void SendHandshakeMessage(uint8_t type, const ByteArray& body);
    void ProcessHandshakeData(const uint8_t* data, size_t length);
    void ProcessHandshakeMessage(uint8_t type, const uint8_t* body, size_t length);
    void ExpectServerFlight();
    void ProcessHelloRequest();
    void ProcessServerHello(const uint8_t* body, size_t length);
    // True when a valid renegotiation_info came.
    bool ProcessServerHelloExtensions(const uint8_t* data, size_t length);
    void ProcessCertificateRequest(const uint8_t* body, size_t length);
    void ProcessServerHelloDone();
    void ProcessNewSessionTicket(const uint8_t* body, size_t length);
    void ProcessCertificateStatus(const uint8_t* body, size_t length);
    void ProcessServerFinished(const uint8_t* body, size_t length);
    void ProcessChangeCipherSpec(const uint8_t* data, size_t length);
    void ProcessAlert(const uint8_t* data, size_t length);
    void SendChangeCipherSpec();
    void SendFinished();
    void SendAlert(bool fatal, uint8_t alertIndex);
    void SendCloseNotify();
    void AppendTranscript(const uint8_t* data, size_t length);
    bool SuiteNeedsServerCertificate() const;
    void EndHandshake();

    // ------------------------------------------------------------------ SBClient_kex.cpp
    void ProcessServerCertificate(const uint8_t* body, size_t length);
    // One certificate of the server's chain, read with our provider; bad_certificate when it
    // does not parse.
    void AddServerCertificate(TElX509CertificateChain& chain, std::span<const uint8_t> der);
    // The chain becomes the server's: checked, then its first certificate's key taken.
    void AdoptServerChain(std::unique_ptr<TElX509CertificateChain> chain);
    void CheckServerChain();
    void TakeServerKey(const TElX509Certificate& certificate);
    void CheckDHValues(std::span<const uint8_t> p, std::span<const uint8_t> g, std::span<const uint8_t> y) const;
    void ProcessServerKeyExchange(const uint8_t* body, size_t length);
    void VerifyParamsSignature(std::span<const uint8_t> params, sbtls::MessageReader& r);
    void AgreeDH(ByteArray& publicValue, rtl::SecureBytes& shared);
    void SendClientKeyExchange();
    void DoKeyNeeded(const std::string& hint, std::string& identity, ByteArray& key);
    void ChooseClientCertificate();
    void LoadClientCertificateFromBuffers();
    TElPublicKeyMaterial* ClientKey() const;
    // The TLS 1.2 hash code of the CertificateVerify: the first of the request's pairs our key
    // signs with; 0 when there is none.
    uint8_t ClientVerifyHash() const;
    // Whether the request names our key's type (rsa_sign 1, dss_sign 2) and, in TLS 1.2, a
    // signature pair we can sign with.
    bool ServerTakesClientKey() const;
    void KeepClientChainTheServerTakes();
    // RFC 6066 5: with client_certificate_url agreed and URLs given, the server fetches our
    // chain; the first URL's key signs the CertificateVerify.
    bool CertificateURLAgreed() const;
    void ChooseCertificateURL();
    void SendClientCertificate();
    void SendClientCertificateURL();
    void SendCertificateVerify();
    void ProcessSSL2ServerCertificate(std::span<const uint8_t> der);
    // PKCS#1 v1.5 encryption with the server's RSA key.
    ByteArray EncryptWithServerKey(std::span<const uint8_t> data);
    // A PKCS#1 v1.5 signature (with the DigestInfo of hashAlgorithm) by the client
    // certificate's key over a digest.
    ByteArray SignWithClientKey(int32_t hashAlgorithm, std::span<const uint8_t> digest);

    // ------------------------------------------------------------------ SBClient_ssl2.cpp
    std::vector<std::array<uint8_t, 3>> BuildSSL2SpecList() const;
    void StartSSL2Handshake();
    void SendCompatibleHello();
    void SendSSL2ClientHello();
    void RunSSL2InputMachine();
    void ProcessSSL2Record(uint8_t* data, size_t length, size_t padding);
    void ProcessSSL2ServerHello(sbtls::MessageReader& r);
    void WriteSSL2Record(const uint8_t* data, size_t length);
    void SendSSL2Protected(const uint8_t* data, size_t length);
    void SendSSL2Message(const ByteArray& message);
    void SendSSL2Error(uint8_t alertIndex);
    void SendSSL2Data(const uint8_t* data, size_t length);
    void SendSSL2ClientMasterKey();
    void DeriveSSL2Keys();
    void MakeSSL2Ciphers();
    void SendSSL2ClientFinished();
    void SendSSL2ClientCertificate();
    void CopySSL2Session(const TElSecureClient& other);
    void RestartSSL2WithSession();

    // ------------------------------------------------------------------ state
    // Referenced components (free notification) and owned objects.
    TElCustomCertStorage* certStorage_ = nullptr;
    TElMemoryCertStorage* clientCertStorage_ = nullptr;
    TElCryptoProviderManager* providerManager_ = nullptr;
    std::unique_ptr<TElClientSSLExtensions> extensions_;
    std::unique_ptr<TElCustomSSLExtensions> peerExtensions_;
    std::unique_ptr<TElMemoryCertStorage> clientChain_;
    std::unique_ptr<TElX509CertificateChain> serverChain_;
    std::string srpUsername_;

    // Input machine.
    std::vector<uint8_t> input_;  // 65539 bytes
    int32_t have_ = 0, need_ = 0;
    Input inputMode_ = Input::Stream;
    RecordPart part_ = RecordPart::Header;
    uint8_t header_[5] = {};
    uint8_t recordType_ = 0;
    size_t recordLength_ = 0;
    std::vector<uint8_t> output_;
    // Record compression's output in each direction (wiped; reserved at its ceiling once).
    rtl::SecureBytes deflated_, inflated_;

    // Flags.
    bool fatal_ = false;
    bool closed_ = false;
    bool resumable_ = false;
    bool resumeRequested_ = false;
    bool resuming_ = false;
    bool renegotiating_ = false;
    bool postProcessing_ = false;
    bool certificateRequested_ = false;
    bool sendCertificateURL_ = false;  // our flight carries CertificateURL, not Certificate
    int32_t maxSendFragment_ = 8192;
    int32_t maxReceiveFragment_ = 16384;

    // SSL 3.0 / TLS handshake.
    HS state_ = HS::Reset;
    uint32_t expected_ = 0;  // handshake types accepted next (bit n = type n)
    bool expectCCS_ = false;
    uint8_t helloVersion_ = 0;  // the highest protocol index our hello offered
    std::vector<uint16_t> offeredSuites_;
    std::vector<uint16_t> offeredExtensions_;
    std::array<uint8_t, 32> clientRandom_{}, serverRandom_{};
    Suite suite_;
    Session session_;
    ByteArray serverSessionId_;
    rtl::SecureBytes premaster_;
    rtl::SecureBytes masterSecret_;
    std::vector<uint8_t> transcript_;
    std::vector<uint8_t> collector_;
    bool serverKeyExchangeSeen_ = false;
    bool certificateSeen_ = false;
    bool statusAllowed_ = false;
    ByteArray requestedTypes_;       // CertificateRequest's certificate types
    ByteArray requestedSignatures_;  // and its signature and hash pairs (TLS 1.2)
    bool extendedMasterSecret_ = false;
    bool secureRenegotiation_ = false;
    ByteArray clientVerifyData_, serverVerifyData_;
    std::string pskIdentityHint_;
    ByteArray ticket_;
    bool ticketExpected_ = false;
    Protection read_, write_, pendingRead_, pendingWrite_;
    // What the server contributes to the key exchange, made anew for each handshake.
    std::unique_ptr<TElRSAKeyMaterial> serverRSAKey_;
    std::unique_ptr<TElDSAKeyMaterial> serverDSAKey_;
    std::unique_ptr<TElDHKeyMaterial> serverDHKey_;
    std::unique_ptr<TElSRPKeyMaterial> srpKey_;
    std::unique_ptr<SSL2State> ssl2_;
};
