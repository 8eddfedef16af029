// tls/SBSSLCommon.h: what every protocol version of the TLS engine shares: the cipher-suite
// catalogue and the per-version candidate tables, the maps between alert descriptions, alert
// indices and library error codes, the engine's exception classes, the hello extensions, and
// TElSSLClass, the component base of the engine with its settings, events, per-suite enabled
// bits and priorities, and the datagram support (flight queue, received fragments, replay
// windows, retransmission timer).
//
// A cipher suite is named everywhere by its index 0..82 in SSLCipherSuites. The candidate
// tables (SSL2CipherRows, SSL3CipherRows, TLSCipherRows) list, in the order the engine looks
// codes up, the suites each protocol family can offer; a row's attributes are the catalogue's.
//
// What must stay true:
// - an index above 82 never reaches the bit set or the priority array (EElSSLError);
// - the stream-cipher and NULL suites cannot be switched while the datagram-mode flag is set;
// - hello extensions never raise on malformed data: their readers stop and keep what they read;
// - the retransmission timer fires only for a datagram object, under the object lock, and
//   never after the object began to go away;
// - a received DTLS fragment lies inside its message, and a message is assembled only from
//   fragments of one length, so AssembleHandshakeMessage never writes outside its result.
//
// The alert maps follow RFC 5246 7.2 for the descriptions and keep the library's own error
// numbering (0x12800 + index; index 0 is 0x12818).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "crypto/base/SBRDN.h"
#include "crypto/base/SBSharedResource.h"
#include "crypto/base/SBUtils.h"
#include "rtl/Component.h"
#include "rtl/EnumSet.h"
#include "rtl/Exception.h"

class TElX509Certificate;
class TElPublicKeyMaterial;
class TElTimer;

// ---------------------------------------------------------------------------------------------
// Small sets of enumeration values (the original's Pascal sets)

template <class E>
using TSBSet = rtl::EnumSet<E>;

// Protocol versions by ordinal; the engine's protocol index is this ordinal.
enum TSBVersion : uint8_t { sbSSL2 = 0, sbSSL3 = 1, sbTLS1 = 2, sbTLS11 = 3, sbTLS12 = 4 };
using TSBVersions = TSBSet<TSBVersion>;

// Why a session ended: a failure (either side's) or an orderly close.
enum TSBCloseReason : uint8_t { crError = 0, crClose = 1 };

enum TSBSSLOption : uint8_t { ssloExpectShutdownMessage = 0, ssloOpenSSLDTLSWorkaround = 1 };
using TSBSSLOptions = TSBSet<TSBSSLOption>;

// ---------------------------------------------------------------------------------------------
// Exceptions

// The engine's failures. Misuse of the interface raises it (or EElSecureClientError) to the
// caller; inside the engine a refusal of the peer's input is raised with the alert index to
// send and the error code to report, and turned into the alert, OnError and the close before
// anything leaves the engine.
class EElSSLError : public rtl::Exception {
public:
    explicit EElSSLError(std::string message) : rtl::Exception(std::move(message)) {}
    // alertIndex: the common layer's alert index to send (-1: none); errorCode: what OnError
    // reports.
    EElSSLError(std::string message, int32_t alertIndex, int32_t errorCode)
        : rtl::Exception(std::move(message)), alertIndex_(alertIndex), errorCode_(errorCode) {}
    const char* ClassName() const noexcept override { return "EElSSLError"; }

    int32_t AlertIndex() const { return alertIndex_; }
    int32_t ErrorCode() const { return errorCode_; }

private:
    int32_t alertIndex_ = -1;
    int32_t errorCode_ = 0;
};
RTL_EXCEPTION(EElSecureClientError, EElSSLError);

inline constexpr const char* SInvalidCipherSuiteIndex = "Invalid cipher suite index [%d]";

// ---------------------------------------------------------------------------------------------
// Cipher-suite catalogue

enum class SSLKeyExchange : uint8_t { None = 0, RSA, DH, DHE, DHAnon, PSK, DHEPSK, RSAPSK, SRP };
enum class SSLCipher : uint8_t {
    None = 0, RC4, RC2, DES, TripleDES, IDEA, AES128, AES256, Camellia128, Camellia256, SEED
};
enum class SSLMac : uint8_t { None = 0, MD5, SHA1, SHA256, SHA384, SHA512 };
// How the server signs its key-exchange parameters, or, for fixed DH, which key signed its
// certificate.
enum class SSLSignature : uint8_t { None = 0, RSA, DSS };

// Candidate-table membership.
inline constexpr uint8_t SSLFamilyTLS = 1;   // TLS 1.0-1.2 (and DTLS)
inline constexpr uint8_t SSLFamilySSL3 = 2;
inline constexpr uint8_t SSLFamilySSL2 = 4;

struct TSSLCipherSuiteInfo {
    uint16_t Code;          // TLS and SSL 3.0 wire code (0 for the SSL 2.0-only suites)
    uint8_t SSL2Code[3];    // SSL 2.0 cipher spec (zeros when none)
    const char* Name;
    bool Enabled;           // enabled after construction
    int32_t Priority;       // default priority: a higher value is offered earlier
    SSLKeyExchange KeyExchange;
    SSLCipher Cipher;
    SSLMac Mac;
    bool Export;            // keys derived by the export rules (the NULL suites carry it too)
    SSLSignature Signature;
    uint8_t Families;       // SSLFamily* bits
};

inline constexpr int32_t SSLSuiteCount = 83;
inline constexpr uint8_t SSLMaxSuiteIndex = 82;
extern const TSSLCipherSuiteInfo SSLCipherSuites[SSLSuiteCount];

// Key material, IV and MAC sizes in bytes, the same in every candidate table.
int32_t SSLCipherKeySize(SSLCipher cipher, bool isExport);
int32_t SSLCipherIVSize(SSLCipher cipher);
int32_t SSLMacSize(SSLMac mac);
bool SSLCipherIsStream(SSLCipher cipher);
// The library's symmetric algorithm code (0x700A, the identity cipher, for none).
int32_t SSLCipherAlgorithm(SSLCipher cipher);
// The library's HMAC algorithm code (0 for none) and the digest under it.
int32_t SSLMacHMACAlgorithm(SSLMac mac);
int32_t SSLMacHashAlgorithm(SSLMac mac);

// Candidate tables: suite indices in the order their codes are looked up.
extern const std::span<const uint8_t> TLSCipherRows;   // 79 rows
extern const std::span<const uint8_t> SSL3CipherRows;  // 46 rows
extern const std::span<const uint8_t> SSL2CipherRows;  // 7 rows
// The suite index of a TLS or SSL 3.0 code within a candidate table; -1 when absent.
int32_t FindSuiteByCode(std::span<const uint8_t> rows, uint16_t code);
// The suite index of an SSL 2.0 cipher spec; -1 when absent.
int32_t FindSSL2SuiteBySpec(const uint8_t spec[3]);

// ---------------------------------------------------------------------------------------------
// Alerts

// The common layer's alert indices (the ones the engine names).
inline constexpr uint8_t SSLAlertCloseNotify = 0;
inline constexpr uint8_t SSLAlertUnexpectedMessage = 1;
inline constexpr uint8_t SSLAlertBadRecordMac = 2;
inline constexpr uint8_t SSLAlertDecryptionFailed = 3;
inline constexpr uint8_t SSLAlertRecordOverflow = 4;
inline constexpr uint8_t SSLAlertDecompressionFailure = 5;
inline constexpr uint8_t SSLAlertHandshakeFailure = 6;
inline constexpr uint8_t SSLAlertNoCertificate = 7;
inline constexpr uint8_t SSLAlertBadCertificate = 8;
inline constexpr uint8_t SSLAlertUnsupportedCertificate = 9;
inline constexpr uint8_t SSLAlertCertificateRevoked = 10;
inline constexpr uint8_t SSLAlertCertificateExpired = 11;
inline constexpr uint8_t SSLAlertCertificateUnknown = 12;
inline constexpr uint8_t SSLAlertIllegalParameter = 13;
inline constexpr uint8_t SSLAlertUnknownCA = 14;
inline constexpr uint8_t SSLAlertAccessDenied = 15;
inline constexpr uint8_t SSLAlertDecodeError = 16;
inline constexpr uint8_t SSLAlertDecryptError = 17;
inline constexpr uint8_t SSLAlertExportRestriction = 18;
inline constexpr uint8_t SSLAlertProtocolVersion = 19;
inline constexpr uint8_t SSLAlertInsufficientSecurity = 20;
inline constexpr uint8_t SSLAlertInternalError = 21;
inline constexpr uint8_t SSLAlertUserCanceled = 22;
inline constexpr uint8_t SSLAlertNoRenegotiation = 23;
inline constexpr uint8_t SSLAlertNone = 24;
inline constexpr uint8_t SSLAlertSRPParameters = 26;  // no description of its own
inline constexpr uint8_t SSLAlertUnsupportedExtension = 27;

// Error codes the engine reports besides the alert codes.
inline constexpr int32_t SSL_ERROR_UNKNOWN_PRF_HASH = 0x12003;
inline constexpr int32_t SSL_ERROR_BAD_SRP_PARAMETERS = 0x12819;

// The alert index of a received description (RFC 5246 7.2); unknown descriptions, 41 and 80
// give 21.
uint8_t SSLAlertToIndex(uint8_t description);
// The library's error code of an alert index (only its low 7 bits count).
int32_t SSLAlertIndexToErrorCode(uint8_t index);
// The description sent for an alert index; -1 for an index that sends nothing.
int32_t SSLAlertIndexToDescription(uint8_t index);

// ---------------------------------------------------------------------------------------------
// Hello extensions (RFC 6066, RFC 5077, RFC 6091's certificate type, RFC 5054's user name)

class TElCustomSSLExtension {
public:
    TElCustomSSLExtension() = default;
    virtual ~TElCustomSSLExtension() = default;
    TElCustomSSLExtension(const TElCustomSSLExtension&) = delete;
    TElCustomSSLExtension& operator=(const TElCustomSSLExtension&) = delete;

    virtual void SetExtensionType(int32_t value) { type_ = value; }
    virtual int32_t GetExtensionType() const { return type_; }
    // Clears, keeps the raw data, then (subclasses) reads the settings from it.
    virtual void SetExtensionData(const ByteArray& data);
    // The extension_data bytes: the raw data, or (subclasses) bytes built from the settings.
    virtual ByteArray GetExtensionData() const { return data_; }
    // Copies type, raw data, Enabled and the server flag; subclasses first require a source of
    // their own class (rtl::EConvertError "Invalid object type").
    virtual void Assign(const TElCustomSSLExtension& source);
    virtual void Clear();

    bool Enabled = false;
    // The object holds the server's side of the extension.
    bool ServerSide = false;

protected:
    // Subclasses: a source of another class raises EConvertError.
    template <class T>
    static const T& SameClass(const TElCustomSSLExtension& source);

    int32_t type_ = -1;
    ByteArray data_;
};

struct TElSSLServerName {
    uint8_t NameType = 0;  // 0 host name; any other value is kept as 1
    ByteString Name;
};

class TElServerNameSSLExtension final : public TElCustomSSLExtension {
public:
    void SetExtensionType(int32_t) override {}
    int32_t GetExtensionType() const override { return 0; }
    void SetExtensionData(const ByteArray& data) override;
    ByteArray GetExtensionData() const override;
    void Assign(const TElCustomSSLExtension& source) override;
    void Clear() override;

    TElSSLServerName& GetName(int32_t index);
    int32_t GetCount() const { return int32_t(names_.size()); }
    // Appends an empty entry; answers its index.
    int32_t AddName();

private:
    std::vector<TElSSLServerName> names_;
};

class TElMaxFragmentLengthSSLExtension final : public TElCustomSSLExtension {
public:
    void SetExtensionType(int32_t) override {}
    int32_t GetExtensionType() const override { return 1; }
    void SetExtensionData(const ByteArray& data) override;
    ByteArray GetExtensionData() const override;
    void Assign(const TElCustomSSLExtension& source) override;
    void Clear() override;

    // 0 for 512, 1 for 1024, 2 for 2048, 3 for 4096 bytes, 4 none.
    uint8_t MaxLength = 0;
};

struct TElSSLCertURL {
    ByteString URL;
    ByteArray Hash;  // 20 bytes (SHA-1 of the certificate) when given
    // The private key of that certificate; not owned.
    TElPublicKeyMaterial* KeyMaterial = nullptr;
};

class TElClientCertURLsSSLExtension final : public TElCustomSSLExtension {
public:
    void SetExtensionType(int32_t) override {}
    int32_t GetExtensionType() const override { return 2; }
    // Only the raw data is kept; the URLs travel in the CertificateURL message.
    void SetExtensionData(const ByteArray& data) override;
    ByteArray GetExtensionData() const override { return {}; }
    void Assign(const TElCustomSSLExtension& source) override;
    void Clear() override;

    TElSSLCertURL& GetURL(int32_t index);
    int32_t GetCount() const { return int32_t(urls_.size()); }
    int32_t AddURL();

    uint8_t ChainType = 0;  // 0 individual certificates, 1 PKI path

private:
    std::vector<TElSSLCertURL> urls_;
};

struct TElSSLTrustedCA {
    uint8_t IdentifierType = 0;  // 0 pre-agreed, 1 key SHA-1, 2 X.509 name, 3 certificate SHA-1
    ByteArray Hash;
    TElRelativeDistinguishedName Name;
};

class TElTrustedCAsSSLExtension final : public TElCustomSSLExtension {
public:
    void SetExtensionType(int32_t) override {}
    int32_t GetExtensionType() const override { return 3; }
    void SetExtensionData(const ByteArray& data) override;
    ByteArray GetExtensionData() const override;
    void Assign(const TElCustomSSLExtension& source) override;
    void Clear() override;

    TElSSLTrustedCA& GetCA(int32_t index);
    int32_t GetCount() const { return int32_t(cas_.size()); }
    int32_t AddCA();
    void RemoveCA(int32_t index);

private:
    std::vector<std::unique_ptr<TElSSLTrustedCA>> cas_;
};

class TElTruncatedHMACSSLExtension final : public TElCustomSSLExtension {
public:
    void SetExtensionType(int32_t) override {}
    int32_t GetExtensionType() const override { return 4; }
    ByteArray GetExtensionData() const override { return {}; }
    void Assign(const TElCustomSSLExtension& source) override;
};

enum TSBCertificateStatusType : uint8_t { cstOCSP = 0, cstUnknown = 1 };

class TElSSLOCSPStatusRequest {
public:
    ByteString GetResponderID(int32_t index) const;
    void SetResponderID(int32_t index, const ByteString& id);
    int32_t GetResponderIDCount() const { return int32_t(responderIDs_.size()); }
    // Drops ids from the end or appends empty ones.
    void SetResponderIDCount(int32_t count);

    ByteArray RequestExtensions;

private:
    std::vector<ByteString> responderIDs_;
};

class TElCertificateStatusSSLExtension final : public TElCustomSSLExtension {
public:
    void SetExtensionType(int32_t) override {}
    int32_t GetExtensionType() const override { return 5; }
    void SetExtensionData(const ByteArray& data) override;
    ByteArray GetExtensionData() const override;
    void Assign(const TElCustomSSLExtension& source) override;
    void Clear() override;

    TSBCertificateStatusType StatusType = cstOCSP;
    TElSSLOCSPStatusRequest OCSPStatusRequest;
    // Copied by Assign only.
    ByteArray ResponseData;
};

class TElUserNameSSLExtension final : public TElCustomSSLExtension {
public:
    void SetExtensionType(int32_t) override {}
    int32_t GetExtensionType() const override { return 6; }
    void SetExtensionData(const ByteArray& data) override;
    ByteArray GetExtensionData() const override;
    void Assign(const TElCustomSSLExtension& source) override;
    void Clear() override;

    // Sets the data to one length byte (modulo 256) and the name.
    void SetUserName(const ByteString& name);
    const ByteString& GetUserName() const { return userName_; }

private:
    ByteString userName_;
};

class TElServerCertificateTypeSSLExtension final : public TElCustomSSLExtension {
public:
    void SetExtensionType(int32_t) override {}
    int32_t GetExtensionType() const override { return 9; }
    void Assign(const TElCustomSSLExtension& source) override;

    void SetCertificateType(uint8_t value);
    // The first data byte (0 without data).
    uint8_t GetCertificateType() const;
};

class TElClientCertificateTypeSSLExtension final : public TElCustomSSLExtension {
public:
    void SetExtensionType(int32_t) override {}
    int32_t GetExtensionType() const override { return 9; }
    void SetExtensionData(const ByteArray& data) override;
    ByteArray GetExtensionData() const override;
    void Assign(const TElCustomSSLExtension& source) override;
    // Empties the list (the raw data too).
    void Clear() override;

    int32_t GetCount() const { return int32_t(types_.size()); }
    bool Contains(uint8_t type) const;
    // An index at or past the end raises ECryptoLibraryError "Certificate type number out of
    // index!".
    uint8_t GetType(int32_t index) const;
    void SetType(int32_t index, uint8_t value);
    void AddType(uint8_t value) { types_.push_back(value); }

private:
    ByteArray types_;
};

class TElSessionTicketSSLExtension final : public TElCustomSSLExtension {
public:
    void SetExtensionType(int32_t) override {}
    int32_t GetExtensionType() const override { return 35; }
    void SetExtensionData(const ByteArray& data) override;
    ByteArray GetExtensionData() const override;
    void Assign(const TElCustomSSLExtension& source) override;
    void Clear() override;

    ByteArray Ticket;
};

class TElCertHashTypesSSLExtension final : public TElCustomSSLExtension {
public:
    void SetExtensionType(int32_t) override {}
    int32_t GetExtensionType() const override { return 1000; }
    void SetExtensionData(const ByteArray& data) override;
    ByteArray GetExtensionData() const override;
    void Assign(const TElCustomSSLExtension& source) override;
    void Clear() override;

    void SetAll(bool value);
    bool GetHashType(uint8_t code) const { return code < 5 && types_[code]; }
    void SetHashType(uint8_t code, bool value) {
        if (code < 5) types_[code] = value;
    }

private:
    bool types_[5] = {true, true, true, true, true};
};

class TElCustomSSLExtensions {
public:
    TElCustomSSLExtensions() = default;
    virtual ~TElCustomSSLExtensions() = default;
    TElCustomSSLExtensions(const TElCustomSSLExtensions&) = delete;
    TElCustomSSLExtensions& operator=(const TElCustomSSLExtensions&) = delete;

    // Clears, lets every named extension assign from its counterpart (the certificate type
    // ones included), then copies the further extensions pairwise.
    virtual void Assign(const TElCustomSSLExtensions& source);
    // Clears every named extension except the two certificate type ones, resets the
    // session-ticket flag and drops the further extensions.
    virtual void Clear();

    TElCustomSSLExtension& GetOtherExtension(int32_t index);
    int32_t GetOtherCount() const { return int32_t(others_.size()); }
    // Appends plain extensions (Enabled true) or drops them from the end.
    void SetOtherCount(int32_t count);

    TElServerNameSSLExtension ServerName;
    TElMaxFragmentLengthSSLExtension MaxFragmentLength;
    TElTrustedCAsSSLExtension TrustedCAs;
    TElTruncatedHMACSSLExtension TruncatedHMAC;
    TElClientCertURLsSSLExtension ClientCertURLs;
    TElUserNameSSLExtension UserName;
    TElServerCertificateTypeSSLExtension ServerCertificateType;
    TElClientCertificateTypeSSLExtension ClientCertificateType;
    TElCertificateStatusSSLExtension CertificateStatus;
    // The session ticket extension is in use.
    bool SessionTicket = false;
    TElCertHashTypesSSLExtension CertHashTypes;

private:
    std::vector<std::unique_ptr<TElCustomSSLExtension>> others_;
};

// ---------------------------------------------------------------------------------------------
// Datagram support

// One queued record of the last flight sent, or one received handshake fragment.
class TElDTLSFlightItem final {
public:
    // A queued record: data = header then body.
    TElDTLSFlightItem(uint8_t contentKind, int32_t epoch, std::span<const uint8_t> body,
                      std::span<const uint8_t> header);
    // A received handshake fragment (content kind 2). A fragment that does not lie inside its
    // message, or a message past MaxMessageLength, raises EElSSLError (RFC 6347 4.2.3).
    static std::unique_ptr<TElDTLSFlightItem> CreateFragment(uint8_t handshakeType, std::span<const uint8_t> data,
                                                             uint32_t fragmentOffset, uint32_t messageSeq,
                                                             uint32_t messageLength);
    // Every number 0, content kind 0: the marker of a received ChangeCipherSpec.
    static std::unique_ptr<TElDTLSFlightItem> CreateEmpty();

    // The largest handshake message a datagram engine assembles: a certificate chain of
    // dozens of certificates fits, a hostile 16 MiB length does not.
    static constexpr uint32_t MaxMessageLength = 0x40000;

    ByteArray Data;
    uint8_t ContentKind = 0;  // 0 change cipher spec, 1 alert, 2 handshake, 3 application data
    int32_t Epoch = 0;
    uint32_t MessageLength = 0;
    uint32_t MessageSeq = 0;
    uint32_t FragmentOffset = 0;
    uint32_t FragmentLength = 0;
    int32_t HandshakeType = 0;

private:
    TElDTLSFlightItem() = default;
};

class TElSSLRetransmissionTimer final {
public:
    TElSSLRetransmissionTimer();
    ~TElSSLRetransmissionTimer();
    TElSSLRetransmissionTimer(const TElSSLRetransmissionTimer&) = delete;
    TElSSLRetransmissionTimer& operator=(const TElSSLRetransmissionTimer&) = delete;

    bool IsRunning() const;
    void Start();
    void Stop();

    std::function<void(TElSSLRetransmissionTimer* sender)> OnTimeout;
    uint32_t Interval = 1000;

private:
    std::unique_ptr<TElTimer> timer_;
};

// 64 "seen" flags for the record numbers base .. base + 63 of one epoch (RFC 6347 4.1.2.6).
struct TElDTLSReplayWindow {
    uint8_t Seen[64] = {};
    int64_t Base = 0;
};

// ---------------------------------------------------------------------------------------------
// The component base of the engine

class TElSSLClass;
using TSBSendEvent = std::function<void(rtl::Component* sender, const void* buffer, int32_t size)>;
using TSBReceiveEvent = std::function<void(rtl::Component* sender, void* buffer, int32_t maxSize, int32_t& written)>;
using TSBDataEvent = std::function<void(rtl::Component* sender, const void* buffer, int32_t size)>;
using TSBOpenConnectionEvent = std::function<void(rtl::Component* sender)>;
using TSBNotifyEvent = std::function<void(rtl::Component* sender)>;
using TSBCertificateValidateEvent =
    std::function<void(rtl::Component* sender, TElX509Certificate* certificate, bool& validate)>;
using TSBErrorEvent = std::function<void(rtl::Component* sender, int32_t errorCode, bool fatal, bool remote)>;
using TSBExtensionsReceivedEvent = std::function<void(rtl::Component* sender)>;

// A handler for a certificate type other than X.509 (RFC 6091); the system registers none.
class TElSSLCertificateTypeHandler {
public:
    virtual ~TElSSLCertificateTypeHandler() = default;
    virtual uint8_t GetKind() const = 0;
};

class TElSSLClass : public rtl::Component {
public:
    explicit TElSSLClass(rtl::Component* owner = nullptr);
    ~TElSSLClass() override;

    // Index above 82: EElSSLError "Invalid cipher suite index [%d]".
    bool GetSuiteEnabled(uint8_t index) const;
    // Ignored in datagram mode for the stream-cipher and NULL suites.
    void SetSuiteEnabled(uint8_t index, bool value);
    int32_t GetSuiteValue(uint8_t index) const;
    void SetSuiteValue(uint8_t index, int32_t value);

    // The first registered handler of that certificate type; null when none.
    TElSSLCertificateTypeHandler* FindByKind(uint8_t kind) const;

    // Take and release the object lock for writing, in datagram mode only.
    void Lock();
    void Unlock();
    // The object lock held for one scope: every public entry point that changes the engine's
    // state takes it this way, so an exception on the way out still releases it.
    class ScopedLock final {
    public:
        explicit ScopedLock(TElSSLClass& object) : object_(object) { object_.Lock(); }
        ~ScopedLock() { object_.Unlock(); }
        ScopedLock(const ScopedLock&) = delete;
        ScopedLock& operator=(const ScopedLock&) = delete;

    private:
        TElSSLClass& object_;
    };

    virtual void ResetSequenceNumbers(bool writeSide);
    virtual void SendRecord(uint8_t contentKind, const void* data, int32_t length, int32_t epoch, bool isProtected);
    void IncrementMessageSequence() { nextMessageSeq_++; }
    virtual bool IsDatagram() const { return false; }
    virtual int32_t GetMaxDatagramPayload() const { return 0; }

    // Received fragments.
    bool HasHandshakeMessage(int32_t type) const;
    int32_t GetMessageSeqByType(int32_t type) const;
    int32_t GetTypeByMessageSeq(int32_t seq) const;
    bool IsMessageComplete(int32_t type) const;
    bool AreMessagesComplete(int32_t firstSeq, int32_t lastSeq, bool needChangeCipherSpec) const;
    // The whole message with a 12-byte DTLS header whose fragment covers it; empty when no
    // fragment of that type is held.
    void AssembleHandshakeMessage(int32_t type, ByteArray& bytes) const;
    void DiscardReceivedFlight();
    void ClearReceivedFragments();
    // Keeps a received fragment unless its message was processed already; a fragment whose
    // message length differs from the one held for its message sequence is refused too
    // (false), so assembly never mixes two messages.
    bool AddReceivedFragment(std::unique_ptr<TElDTLSFlightItem> item);
    int32_t GetReceivedFragmentCount() const { return int32_t(received_.size()); }
    int32_t GetLastProcessedMessageSeq() const { return lastProcessedSeq_; }
    int32_t GetNextMessageSeq() const { return nextMessageSeq_; }

    // Retransmission.
    void AddToRetransmitQueue(std::unique_ptr<TElDTLSFlightItem> item);
    int32_t GetRetransmitQueueCount() const { return int32_t(queue_.size()); }
    void RetransmitFlight();
    void ClearRetransmitQueue();
    void RestartRetransmissionTimer();
    void StopRetransmission();
    TElSSLRetransmissionTimer* GetRetransmissionTimer() const { return timer_.get(); }

    // Replay windows (saved selects the previous epoch's).
    void ClearReplayWindow() { window_ = {}; }
    void ClearSavedReplayWindow() { savedWindow_ = {}; }
    void SaveReplayWindow() { savedWindow_ = window_; }
    // True: reject (below the window, or already seen).
    bool CheckReplayWindow(bool saved, int64_t seq) const;
    void MarkReplayWindow(bool saved, int64_t seq);
    const TElDTLSReplayWindow& GetReplayWindow(bool saved) const { return saved ? savedWindow_ : window_; }

    bool GetDatagramMode() const { return datagramMode_; }

    // Published properties.
    TSBVersions Versions = {sbTLS1, sbTLS11, sbTLS12};
    TSBSSLOptions Options;
    TSBSendEvent OnSend;
    TSBReceiveEvent OnReceive;
    TSBDataEvent OnData;
    TSBOpenConnectionEvent OnOpenConnection;
    TSBCertificateValidateEvent OnCertificateValidate;
    TSBNotifyEvent OnCiphersNegotiated;
    TSBErrorEvent OnError;
    TSBExtensionsReceivedEvent OnExtensionsReceived;

    int32_t MaxDatagramSize = 2048;
    bool AllowOversizedData = false;
    bool RetransmissionActive = false;
    uint32_t RetransmissionInterval = 0;

protected:
    // Switches the object into datagram mode: the object lock turns on, the stream suites
    // freeze and the retransmission timer is made (1000 ms). Only a datagram engine calls it.
    void EnterDatagramMode();
    // The timer's event: resends the queue under the object lock.
    void HandleRetransmissionTimeout();

    // Engine state that every protocol version shares.
    bool active_ = false;             // connection open
    bool compressionActive_ = false;  // the server chose deflate
    bool compressionOff_ = true;      // offer only the null compression method
    uint8_t currentVersion_ = sbTLS1;
    uint8_t recordMajor_ = 3, recordMinor_ = 1;
    std::vector<std::unique_ptr<TElSSLCertificateTypeHandler>> certificateHandlers_;

private:
    std::vector<const TElDTLSFlightItem*> FragmentsOf(int32_t type, bool handshakeOnly) const;
    TElDTLSReplayWindow& Window(bool saved) { return saved ? savedWindow_ : window_; }

    uint8_t enabled_[(SSLSuiteCount + 7) / 8] = {};
    int32_t priorities_[SSLSuiteCount] = {};
    std::vector<std::unique_ptr<TElDTLSFlightItem>> queue_;
    std::vector<std::unique_ptr<TElDTLSFlightItem>> received_;
    int32_t nextMessageSeq_ = 0;
    int32_t lastProcessedSeq_ = -1;
    TElDTLSReplayWindow window_, savedWindow_;
    std::unique_ptr<TElSSLRetransmissionTimer> timer_;
    bool datagramMode_ = false;
    std::unique_ptr<TElSharedResource> lock_;
};
