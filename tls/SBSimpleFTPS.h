// tls/SBSimpleFTPS.h: TElSimpleFTPSClient, a synchronous FTP client (RFC 959) with optional
// TLS on the control and data connections (RFC 4217: explicit AUTH after the greeting, or
// implicit TLS from the first byte), optional MODE Z compression of the data stream, and the
// FTP-proxy login variants.
//
// Every operation blocks until the server's reply has been read; failures raise EFTPSError,
// whose ErrorCode is the refused reply's code and whose ReplyText is the server's whole reply.
// The control connection (one TElSocket and one engine) lives from Open to the destruction of
// the client; each data command makes a new data socket (and engine), transfers, closes it and
// then checks the transfer's final reply on the control connection.
//
// Session states: 0 not connected -> Open -> 1 connected -> Login -> 2 logged in. There is no
// disconnect: the connection ends with the client.
//
// Certificates: the control engine holds the client's certificate surface (CertStorage,
// ClientCertStorage, VerifyPeerDisabled, the extensions offered) and each data engine takes a
// copy of it, so a data connection that makes a full handshake checks the server and offers
// the client's certificate as the control connection does. The certificate, status, key,
// extension and error events of both engines reach the client's events with this client as
// their Sender; OnCiphersNegotiated is the control engine's only. A handler that raises from
// OnCertificateValidate refuses the certificate: the handshake ends with "Error occured while
// forcing SSL" (or the data connection's "Error occured while establishing SSL data
// connection").
//
// What must stay true:
//   - a data connection is closed before any operation that made it returns or raises, so a
//     failed or cancelled transfer leaves no descriptor behind it, and the final reply of a
//     transfer the server had begun is read before the failure leaves, so the next command
//     meets its own reply;
//   - no command can carry a CR, LF or NUL of its arguments onto the wire;
//   - a reply is read whole (lines up to its closing line) under a ceiling, and a PASV address
//     must hold six numbers of at most 255;
//   - a download that knew its size (SIZE or the range asked for) and got fewer bytes fails;
//     sizes are 64-bit throughout;
//   - the MODE Z streams are made for each transfer and ended after it.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/base/SBUtils.h"
#include "rtl/Component.h"
#include "rtl/Stream.h"
#include "tls/SBSocket.h"
#include "tls/SBZlib.h"
#include "tls/SecureEngine.h"

class EFTPSError : public ECryptoLibraryError {
public:
    explicit EFTPSError(std::string message) : ECryptoLibraryError(std::move(message)) {}
    // A code other than 0 is added to the message as " (error code is N)".
    EFTPSError(const std::string& message, int32_t code, std::string replyText = {})
        : ECryptoLibraryError(message, code), ReplyText(std::move(replyText)) {}
    const char* ClassName() const noexcept override { return "EFTPSError"; }
    // The server's reply that was refused (all its lines), when a reply caused the failure.
    std::string ReplyText;
};

inline constexpr const char* SFTPSConnectionEstablished = "FTPS Connection already established";
inline constexpr const char* SFTPSConnectionNotPresent = "FTPS Connection not present";
inline constexpr const char* SFTPSConnectionFailed = "Connection failed";
inline constexpr const char* SFTPSCannotNegotiateSSL = "Server cannot perform SSL negotiation";
inline constexpr const char* SFTPSInvalidReply = "Invalid server reply";
inline constexpr const char* SFTPSUnacceptedReply = "Unaccepted server reply";
inline constexpr const char* SFTPSForcingSSLError = "Error occured while forcing SSL";
inline constexpr const char* SFTPSControlTransferError = "Control channel transfer error";
inline constexpr const char* SFTPSTimeout = "Timeout occured";
inline constexpr const char* SFTPSCannotEstablishData = "Can't establish data connection";
inline constexpr const char* SFTPSSocketError = "Socket error %d";
inline constexpr const char* SFTPSDataSSLError = "Error occured while establishing SSL data connection";
inline constexpr const char* SFTPSDataTransferError = "Data channel transfer error";
inline constexpr const char* SFTPSUninitializedZLib = "Uninitialized ZLib context";
inline constexpr const char* SFTPSInvalidCommand = "Invalid character in FTP command";

enum TSBFTPTransferType : uint8_t { ttASCII = 0, ttBinary = 1 };
enum TSBSSLMode : uint8_t { smImplicit = 0, smExplicit = 1 };
enum TSBFTPAuthCmd : uint8_t { acAuto = 0, acAuthTLS = 1, acAuthSSL = 2, acAuthTLSP = 3, acAuthTLSC = 4 };
enum TSBFTPProxyType : uint8_t { ptNone, ptUserSite, ptSite, ptOpen, ptUserPass, ptTransparent };

class TSBFTPProxySettings {
public:
    TSBFTPProxyType ProxyType = ptNone;
    int32_t Port = 0;
    std::string Host;
    std::string Username;
    std::string Password;
};

// One line of a Unix long listing, as ParseListLine reads it.
struct TSBFTPFileInfo {
    static constexpr uint8_t fkOther = 0, fkDirectory = 1, fkFile = 2, fkLink = 3, fkSpecial = 4;
    std::string Name;
    int64_t Size = 0;
    uint8_t Kind = fkOther;
    double Date = 0;
};

using TSBFTPSTextDataEvent = std::function<void(rtl::Component* sender, const std::string& textLine)>;
using TSBFTPSBinaryDataEvent = std::function<void(rtl::Component* sender, const ByteArray& data)>;
using TSBFTPSErrorEvent =
    std::function<void(rtl::Component* sender, int32_t errorCode, bool fatal, bool remote)>;

// Reply reading (also the fuzz targets' entry points).
//
// The length of the first complete reply at the start of buffer (all its lines with their
// line ends), 0 while it is not complete (RFC 959 section 4.2: a reply ends with a line that
// starts with its code and a space). A closing line with another code than the first line's
// raises "Invalid server reply".
size_t FTPReplyLength(std::string_view buffer);
// The reply's code: its first three characters as a positive number; "Invalid server reply"
// for a text shorter than 4 characters or without one.
int FTPReplyCode(std::string_view reply);
// The address of a 227 reply: six numbers of 0 to 255 starting at the digits before its first
// comma, each after one separator; "Invalid server reply" otherwise.
void ParsePasvReply(std::string_view reply, std::string& host, int32_t& port);
// What a FEAT reply names (RFC 2389 section 3.2: one feature a line between the first line and
// the last, each behind a space). A line too short to name a feature is skipped.
struct TFTPFeatures {
    bool Mlst = false, Size = false, ModeZ = false, Rest = false;
};
TFTPFeatures ReadFTPFeatures(std::string_view reply);

class TElSimpleFTPSClient : public rtl::Component {
public:
    // A reply that has not ended within this many bytes is not one.
    static constexpr size_t kMaxReplySize = 1 << 20;
    // A text line (listing or ASCII transfer) is held until its line end: past this, the data
    // connection is not sending text and the transfer fails instead of filling memory.
    static constexpr size_t kMaxTextLine = 1 << 20;

    explicit TElSimpleFTPSClient(rtl::Component* owner = nullptr);
    ~TElSimpleFTPSClient() override;

    // Connects the control connection (through the FTP proxy, SOCKS or the tunnel when set).
    void Open();
    // Reads the greeting, forces TLS when asked, logs in (by the proxy's login form), asks the
    // server's features and sets the transfer mode.
    void Login();
    void ChangeDirectory(const std::string& folder);
    void DeleteRemoteFile(const std::string& name);
    void AbortTransfer();
    // Sends a command and reads its reply; a code outside accepted (empty: any) raises
    // "Unaccepted server reply".
    int SendCommand(const std::string& command, std::initializer_list<int> accepted, bool opensData = false);
    // The next reply's code; 0 when not waiting and none is complete.
    int ReadReply(bool wait);

    void ListNames(const std::string& argument = {});
    void ListDirectory();
    static bool ParseListLine(const std::string& line, TSBFTPFileInfo& info);
    // (0, 0): the whole file from its start; StartPos > 0 restarts there; EndPos >= 1 (and
    // >= StartPos) ends there.
    void ReceiveFile(const std::string& remoteName, rtl::Stream* target, int64_t startPos = 0,
                     int64_t endPos = 0);
    // An empty remote name stores under a name the server chooses (STOU). EndPos is inclusive.
    void UploadStream(rtl::Stream& source, const std::string& remoteName, int64_t startPos, int64_t endPos,
                      bool append, int32_t restartAt);
    void SendFile(rtl::Stream& source, const std::string& remoteName);

    const std::string& Address() const { return address_; }
    void SetAddress(const std::string& value);
    int32_t Port() const { return port_; }
    void SetPort(int32_t value);
    std::string Username;
    std::string Password;
    bool PassiveMode = false;
    TSBFTPTransferType TransferType = ttBinary;
    bool UseSSL = true;
    TSBSSLMode SSLMode = smExplicit;
    TSBFTPAuthCmd AuthCmd = acAuto;
    bool EncryptDataChannel = false;
    bool ModeZ() const { return modeZ_; }
    void SetModeZ(bool value);
    uint8_t ModeZLevel = 8;
    TSBVersions Versions() const;
    void SetVersions(TSBVersions value);
    bool VerifyPeerDisabled() const;
    void SetVerifyPeerDisabled(bool value);
    // Certificates the server's may lead to besides the system bundle; a storage that goes away
    // is dropped.
    TElCustomCertStorage* CertStorage() const;
    void SetCertStorage(TElCustomCertStorage* value);
    // The chain offered to a server that asks for a client certificate, on the control and the
    // data connections; a storage that goes away is dropped.
    TElMemoryCertStorage* ClientCertStorage() const;
    void SetClientCertStorage(TElMemoryCertStorage* value);
    // The cipher suites the control engine offers (data connections offer the same), by the
    // engine's index 0..82, and their priorities.
    bool GetSuiteEnabled(uint8_t index) const;
    void SetSuiteEnabled(uint8_t index, bool value);
    int32_t GetSuiteValue(uint8_t index) const;
    void SetSuiteValue(uint8_t index, int32_t value);
    // The control engine's hello extensions: those offered (data connections offer the same)
    // and those of the server's last hello.
    TElClientSSLExtensions& Extensions();
    TElCustomSSLExtensions& PeerExtensions();
    int32_t FTPBufferSize() const { return bufferSize_; }
    void SetFTPBufferSize(int32_t value) {
        if (value > 0) bufferSize_ = value;
    }
    TSBFTPProxySettings& ProxySettings() { return *proxy_; }
    // Takes ownership of the new settings and frees the held ones.
    void SetProxySettings(std::unique_ptr<TSBFTPProxySettings> value);
    int32_t SocketTimeout = 60000;
    int32_t TransferTimeout = 60000;
    int32_t ListenTimeout = 60000;
    bool UseSIZECmd = true;
    bool AdjustPasvAddress = true;
    bool UseSSLSessionResumption = true;

    // The control connection's socket, for its SOCKS and tunnel settings.
    TElSocket& ControlSocket() { return *control_; }
    // The whole text of the last reply read.
    const std::string& LastReply() const { return lastReply_; }
    uint8_t SessionState() const { return state_; }

    TSBFTPSTextDataEvent OnTextDataLine;
    TSBFTPSBinaryDataEvent OnBinaryData;
    TSBFTPSTextDataEvent OnControlSend;
    TSBFTPSTextDataEvent OnControlReceive;
    TSBProgressEvent OnProgress;
    TSBFTPSErrorEvent OnSSLError;
    TSBCertificateValidateEvent OnCertificateValidate;
    TSBCertificateNeededExEvent OnCertificateNeededEx;
    TSBCertificateStatusEvent OnCertificateStatus;
    TSBExtensionsReceivedEvent OnExtensionsReceived;
    TSBKeyNeededEvent OnKeyNeeded;
    // The end of a renegotiation of the control connection.
    TSBNotifyEvent OnCiphersNegotiated;

private:
    // Control connection (SBSimpleFTPS.cpp).
    void CheckConnected() const;
    void SendControl(const std::string& command);
    void RawSend(TElSocket& socket, const uint8_t* data, size_t size, const char* failure);
    // Reads once from the control connection into the receive buffer; answers the bytes read.
    size_t PumpControl(bool noWait);
    // Takes a complete reply off the receive buffer into the last reply; false when none.
    bool TakeReply();
    [[noreturn]] void Unaccepted(int code);
    void ControlHandshake();
    void ForceSSL();
    // USER, and PASS when the server asks for it.
    void LoginAs(const std::string& user, const std::string& password);
    // The proxy's own login, when a proxy user is named.
    void ProxyLogin();
    void QueryFeatures();
    void NegotiateTransferMode();
    int Timeout(int32_t value) const { return value == 0 ? -1 : value; }

    // Data connections and transfers (SBSimpleFTPS_data.cpp).
    void ListTo(const std::string& command);
    void PrepareData(bool binary);
    void StartDataCommand(const std::string& command, std::initializer_list<int> accepted);
    void PassiveConnect(std::initializer_list<int> accepted);
    void AcceptData();
    void StartDataTLS();
    // Reads a reply that came on the control connection while the data connection is made:
    // held as the early reply; false when none was complete.
    bool TakeEarlyReply();
    // Up to size bytes of data; 0 at the end of the data; -1 on a failure.
    int64_t DataRead(uint8_t* buffer, size_t size, bool wait);
    void DataWrite(const uint8_t* data, size_t size);
    bool ReadLine(std::string& line);
    // One block of the download: false at the end of the data.
    bool ReadBlock(size_t size, std::vector<uint8_t>& block);
    void WriteBlock(const uint8_t* data, size_t size);
    // Polls the control connection once for the final reply of a transfer.
    void PollFinalReply();
    // endedByUs: a download of a range stopped reading at its last byte.
    void FinishTransfer(int64_t total, bool upload, bool endedByUs = false);
    void CloseDataConnection();
    // Whether a failed data command still owes its final reply: started when the command
    // was answered with its preliminary reply and the transfer began.
    bool FinalReplyOwed(bool started) const;
    // After a failed or cancelled transfer: closes the data connection, ends the MODE Z
    // streams and, when the server still owes the transfer's final reply, reads it.
    void AbandonTransfer(bool replyOwed);
    void EndModeZ();
    void Progress(int64_t total, int64_t current, bool checkCancel);
    std::unique_ptr<SecureEngine> MakeEngine(TElSocket& socket, bool control);
    void EngineReceive(TElSocket& socket, bool control, uint8_t* buffer, size_t maxSize, size_t& written);

    std::unique_ptr<TElSocket> control_;
    std::unique_ptr<SecureEngine> controlEngine_;
    std::unique_ptr<TElSocket> data_;
    std::unique_ptr<SecureEngine> dataEngine_;
    std::unique_ptr<TSBFTPProxySettings> proxy_;
    std::string address_;
    int32_t port_ = 21;
    int32_t bufferSize_ = 1024;
    bool modeZ_ = false;
    // The server took "MODE Z": transfers are compressed.
    bool modeZActive_ = false;

    uint8_t state_ = 0;
    bool connected_ = false;
    bool featModeZ_ = false, featSize_ = false, featRest_ = false, featMlst_ = false;
    std::string lastReply_;
    std::string controlIn_;     // raw reply bytes not yet taken
    std::string controlPlain_;  // plaintext the control engine delivered
    bool controlTLS_ = false;
    bool controlClosed_ = false;
    // The control handshake is running; a send of it failed (the rest of the flight is dropped).
    bool controlHandshake_ = false;
    bool controlSendFailed_ = false;

    std::string pasvHost_;
    int32_t pasvPort_ = 0;
    std::vector<int> accepted_;
    int early_ = 0;
    std::string dataPlain_;
    bool dataError_ = false;
    int32_t dataErrorCode_ = 0;
    bool dataClosed_ = false;
    std::string pendingText_;
    TZStreamRec deflate_{};
    TZStreamRec inflate_{};
    bool deflateReady_ = false;
    bool inflateReady_ = false;
};
