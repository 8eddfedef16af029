// net/IdSSLOpenSSL.h: TLS over the system's OpenSSL for the library's connections.
//
// TIdSSLOptions holds the settings; TIdSSLContext is one OpenSSL context configured from them;
// TIdSSLSocket is one TLS connection over a connected socket (handshake, reads, writes);
// TIdSSLCipher and TIdX509 are read-only views. TIdSSLIOHandlerSocketOpenSSL is the client
// transport (and the handler of an accepted connection), TIdServerIOHandlerSSLOpenSSL the
// server's maker of such handlers; both register as "OpenSSL".
//
// What must stay true:
// - A client checks its server unless VerifyPeerDisabled is set on purpose: the chain against
//   the system's CA store and RootCertFile, and the host name (also sent as SNI): the host of
//   the URI to check when one is set (through a proxy tunnel the handler's Host is the proxy),
//   else the handler's Host. OnVerifyPeer may refuse a certificate, never accept one OpenSSL
//   refused. A server asks for client certificates only as VerifyMode says. A client's context
//   reads the system's certificates when its connection starts TLS (a plain connection through
//   the handler never reads them); a server's when it is set up.
// - Through a transparent proxy (SOCKS) the proxy is spoken to in plain bytes and the
//   handshake starts once the tunnel to the destination stands.
// - Every TIdSSLVersion means TLS 1.2 or 1.3 (the version-flexible method, TLS 1.2 minimum);
//   an empty CipherList is OpenSSL's default, any other gets ":!aNULL:!eNULL".
// - A TLS-layer failure raises an EIdOpenSSLError descendant carrying OpenSSL's reason; a
//   system error keeps its socket code (EIdSocketError); the peer's close_notify is
//   EIdConnClosedGracefully. Bytes OpenSSL holds already (decrypted, or records read ahead)
//   are read before waiting on the socket. Sends never raise SIGPIPE (a socket BIO of our own
//   sends with MSG_NOSIGNAL).
// - The handler's time-outs bound every wait for the peer, as on a plain socket: each wait of
//   a handshake and of a read at most ReadTimeout (EIdReadTimeout), a handshake as a whole at
//   most ConnectTimeout (EIdConnectTimeout); 0 means no limit. The BIO waits with poll only
//   when a receive finds nothing, so the bytes on the wire and the reads that find data are
//   those of an unbounded connection.
// - A handler is used by one thread at a time; the three OpenSSL callbacks (password, status,
//   verification) are each serialised process-wide and never let an exception out.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "net/IdSSL.h"
#include "net/IdSSLOpenSSLHeaders.h"

enum TIdSSLVersion : uint8_t { sslvSSLv2 = 0, sslvSSLv23 = 1, sslvSSLv3 = 2, sslvTLSv1 = 3 };
enum TIdSSLMode : uint8_t { sslmUnassigned = 0, sslmClient = 1, sslmServer = 2, sslmBoth = 3 };
enum TIdSSLVerifyMode : uint8_t { sslvrfPeer = 0, sslvrfFailIfNoPeerCert = 1, sslvrfClientOnce = 2 };
// Bit n stands for the verify mode of ordinal n.
using TIdSSLVerifyModeSet = uint8_t;
inline constexpr TIdSSLVerifyModeSet VerifyModeBit(TIdSSLVerifyMode m) { return TIdSSLVerifyModeSet(1u << m); }

RTL_EXCEPTION(EIdOpenSSLError, EIdException);
RTL_EXCEPTION(EIdOpenSSLLoadError, EIdOpenSSLError);
RTL_EXCEPTION(EIdOSSLCouldNotLoadSSLLibrary, EIdOpenSSLLoadError);
RTL_EXCEPTION(EIdOSSLModeNotSet, EIdOpenSSLError);
RTL_EXCEPTION(EIdOSSLGetMethodError, EIdOpenSSLError);
RTL_EXCEPTION(EIdOSSLCreatingContextError, EIdOpenSSLError);
RTL_EXCEPTION(EIdOSSLLoadingRootCertError, EIdOpenSSLLoadError);
RTL_EXCEPTION(EIdOSSLLoadingCertError, EIdOpenSSLLoadError);
RTL_EXCEPTION(EIdOSSLLoadingKeyError, EIdOpenSSLLoadError);
RTL_EXCEPTION(EIdOSSLSettingCipherError, EIdOpenSSLError);
RTL_EXCEPTION(EIdOSSLDataBindingError, EIdOpenSSLError);
RTL_EXCEPTION(EIdOSSLAcceptError, EIdOpenSSLError);
RTL_EXCEPTION(EIdOSSLConnectError, EIdOpenSSLError);

namespace RSOSSL {
inline constexpr const char* CouldNotLoadSSLLibrary = "Could not load SSL library.";
inline constexpr const char* ModeNotSet = "Mode has not been set.";
inline constexpr const char* GetMethodError = "Error geting SSL method.";
inline constexpr const char* CreatingContextError = "Error creating SSL context.";
inline constexpr const char* LoadingRootCertError = "Could not load root certificate.";
inline constexpr const char* LoadingCertError = "Could not load certificate.";
inline constexpr const char* LoadingKeyError = "Could not load key, check password.";
inline constexpr const char* SettingCipherError = "SetCipher failed.";
inline constexpr const char* DataBindingError = "Error binding data to SSL socket.";
inline constexpr const char* AcceptError = "Error accepting connection with SSL.";
inline constexpr const char* ConnectError = "Error connecting with SSL.";
}  // namespace RSOSSL

class TIdX509;
using TCallbackEvent = std::function<void(const std::string& Msg)>;
using TPasswordEvent = std::function<void(std::string& Password)>;
using TVerifyPeerEvent = std::function<bool(TIdX509& Certificate)>;

class TIdSSLOptions {
public:
    std::string RootCertFile;
    std::string CertFile;
    std::string KeyFile;
    TIdSSLVersion Method = sslvSSLv2;  // every value means TLS 1.2 or later
    TIdSSLMode Mode = sslmUnassigned;
    TIdSSLVerifyModeSet VerifyMode = 0;
    int32_t VerifyDepth = 0;
    std::string VerifyDirs;
    std::string CipherList;
    // Set on purpose to connect without checking the server's certificate and name.
    bool VerifyPeerDisabled = false;

    void Assign(const TIdSSLOptions& source) { *this = source; }
};

// What a context and a TLS connection call back into (the client or server handler).
class TIdSSLCallbackTarget {
public:
    virtual ~TIdSSLCallbackTarget() = default;
    virtual void DoStatusInfo(const std::string& text) = 0;
    virtual void DoGetPassword(std::string& password) = 0;
    virtual bool DoVerifyPeer(TIdX509& certificate) = 0;
};

class TIdSSLContext {
public:
    enum class Kind { Client, Server };

    // Initialises the library with the first context; "Could not load SSL library." when
    // OpenSSL cannot be bound.
    explicit TIdSSLContext(TIdSSLCallbackTarget* parent);
    ~TIdSSLContext();
    TIdSSLContext(const TIdSSLContext&) = delete;
    TIdSSLContext& operator=(const TIdSSLContext&) = delete;

    TIdSSLVersion Method = sslvSSLv2;
    TIdSSLMode Mode = sslmUnassigned;
    std::string RootCertFile, CertFile, KeyFile;
    int32_t VerifyDepth = 0;
    TIdSSLVerifyModeSet VerifyMode = 0;
    std::string VerifyDirs;
    std::string CipherList;
    bool VerifyPeerDisabled = false;
    bool StatusInfoOn = false;
    bool VerifyOn = false;
    int32_t SessionIdContext = 1;

    // Copies the options' values.
    void Configure(const TIdSSLOptions& options);
    void SetUpContext(Kind kind);
    // The system's CA store into the context (SSL_CTX_set_default_verify_paths), once: a server
    // context's at SetUpContext, a client context's before its connection's handshake.
    void LoadSystemCertificates();
    void ReleaseContextHandle();
    SSL_CTX* Handle() const { return handle_; }
    TIdSSLCallbackTarget* Parent() const { return parent_; }
    Kind ContextKind() const { return kind_; }
    // Whether the peer's chain and name are checked on a client connection.
    bool ChecksServer() const { return kind_ == Kind::Client && !VerifyPeerDisabled; }

    // Contexts made in this process (the library is initialised with the first).
    static int32_t ContextCount();

private:
    TIdSSLCallbackTarget* parent_;
    SSL_CTX* handle_ = nullptr;
    Kind kind_ = Kind::Client;
    bool systemCertificatesLoaded_ = false;
};

class TIdSSLSocket;

class TIdSSLCipher {
public:
    explicit TIdSSLCipher(TIdSSLSocket& socket) : socket_(socket) {}
    std::string CipherName() const;
    std::string CipherDescription() const;
    int32_t CipherBits() const;
    std::string CipherVersion() const;

private:
    TIdSSLSocket& socket_;
};

class TIdX509 {
public:
    explicit TIdX509(X509* certificate) : certificate_(certificate) {}
    X509* Certificate() const { return certificate_; }
    std::string SubjectName() const;
    std::string IssuerName() const;
    int32_t Depth = 0;

private:
    X509* certificate_;
};

class TIdSSLSocket {
public:
    // What the socket BIO works on: the descriptor, the errno of its last failed call, and
    // the bounds of its waits for the peer's bytes. With a bound, a receive that finds nothing
    // waits with poll for at most waitLimit ms and not past the deadline; when that runs out
    // the receive asks OpenSSL to retry and `stopped` names the bound that ended it. Without
    // one (waitLimit negative, no deadline) a receive blocks as the socket does.
    struct BioState {
        enum class Stop : uint8_t { None, Wait, Deadline };
        int fd = -1;
        int error = 0;
        int32_t waitLimit = -1;
        std::optional<std::chrono::steady_clock::time_point> deadline;
        Stop stopped = Stop::None;
    };
    // Bounds of a handshake's waits for the peer, in ms (0 or below: none): every wait at
    // most `wait` (a stall raises EIdReadTimeout), the whole handshake at most `total`
    // (EIdConnectTimeout).
    struct HandshakeBounds {
        int32_t wait = 0;
        int32_t total = 0;
    };
    // What ReadDecrypted answers when its wait for the rest of a record ran out.
    static constexpr int32_t kTimedOut = -2;

    explicit TIdSSLSocket(TIdSSLCallbackTarget* parent) : parent_(parent) {}
    ~TIdSSLSocket();
    TIdSSLSocket(const TIdSSLSocket&) = delete;
    TIdSSLSocket& operator=(const TIdSSLSocket&) = delete;

    // serverName: the name checked (and sent as SNI) when the context checks its server.
    void ClientHandshake(int socket, TIdSSLContext& context, const std::string& serverName,
                         HandshakeBounds bounds);
    void ServerHandshake(int socket, TIdSSLContext& context, HandshakeBounds bounds);
    // Decrypted bytes into the buffer (not empty): the count, 0 for the peer's close_notify,
    // -1 when the records that arrived carried no application data, kTimedOut when a wait for
    // the peer's bytes took longer than timeout ms (-2: no limit, 0: no wait). A time-out
    // leaves the connection usable: a later read goes on with the record where it stopped.
    int32_t ReadDecrypted(TBytes& buffer, int32_t timeout = -2);
    // Sends the whole buffer encrypted; the count.
    int32_t WriteEncrypted(const TBytes& buffer, size_t offset = 0);
    // Decrypted bytes waiting inside OpenSSL.
    int32_t Pending() const;
    // Whether OpenSSL holds bytes not yet read: decrypted, or received ahead and not yet
    // decrypted (a receive takes several records at once).
    bool HasPending() const;
    TIdSSLCipher* CipherView();
    SSL* Handle() const { return ssl_; }
    TIdSSLCallbackTarget* Parent() const { return parent_; }
    TIdSSLContext* Context() const { return context_; }

private:
    void Attach(int socket, TIdSSLContext& context, bool client);
    // SSL_connect or SSL_accept with the bounds on the BIO's waits.
    void Handshake(bool client, HandshakeBounds bounds);
    [[noreturn]] void RaiseIoError(int result, const char* what);

    TIdSSLCallbackTarget* parent_;
    TIdSSLContext* context_ = nullptr;
    SSL* ssl_ = nullptr;
    BioState bio_;
    bool fatal_ = false;
    std::unique_ptr<TIdSSLCipher> cipher_;
};

class TIdSSLIOHandlerSocketOpenSSL : public TIdSSLIOHandlerSocketBase, public TIdSSLCallbackTarget {
public:
    explicit TIdSSLIOHandlerSocketOpenSSL(rtl::Component* owner = nullptr);
    ~TIdSSLIOHandlerSocketOpenSSL() override;

    static const TIdIOHandlerClassInfo ClassInfo;

    TCallbackEvent OnStatusInfo;
    TPasswordEvent OnGetPassword;
    TVerifyPeerEvent OnVerifyPeer;
    std::function<void(TIdSSLIOHandlerSocketOpenSSL* ASender)> OnBeforeConnect;

    TIdSSLOptions& SSLOptions() { return *options_; }
    TIdSSLSocket* SSLSocket() const { return tls_.get(); }
    TIdSSLContext* SSLContext() const { return context_; }
    bool IsPeer() const { return isPeer_; }

    void Open() override;
    void Close() override;
    void ConnectClient() override;
    void PassToIntercept(TBytes& bytes) override;
    void SetPassThrough(bool value) override;
    std::unique_ptr<TIdSSLIOHandlerSocketBase> Clone() const override;
    void StartSSL() override;
    // Runs after a server accepted the connection: the server handshake (closed on failure).
    void AfterAccept();

    void DoStatusInfo(const std::string& text) override;
    void DoGetPassword(std::string& password) override;
    bool DoVerifyPeer(TIdX509& certificate) override;

protected:
    friend class TIdServerIOHandlerSSLOpenSSL;
    int32_t ReceiveFromTransport(TBytes& bytes, int32_t timeout) override;
    bool HasBufferedInput() const override;
    void DoBeforeConnect();
    void OpenEncodedConnection();
    // The bounds of a handshake: each wait ReadTimeout, the whole ConnectTimeout.
    TIdSSLSocket::HandshakeBounds HandshakeLimits() const;
    // An accepted connection's handler: the server's options, context and callback target.
    void ShareServer(TIdSSLOptions* options, TIdSSLContext* context, TIdSSLCallbackTarget* target);

private:
    void MakeClientContext();

    std::unique_ptr<TIdSSLOptions> ownOptions_;
    TIdSSLOptions* options_;
    std::unique_ptr<TIdSSLContext> ownContext_;
    TIdSSLContext* context_ = nullptr;
    std::unique_ptr<TIdSSLSocket> tls_;
    TIdSSLCallbackTarget* socketParent_ = this;
    bool isPeer_ = false;
};

class TIdServerIOHandlerSSLOpenSSL : public TIdServerIOHandlerSSLBase, public TIdSSLCallbackTarget {
public:
    explicit TIdServerIOHandlerSSLOpenSSL(rtl::Component* owner = nullptr);
    ~TIdServerIOHandlerSSLOpenSSL() override;

    static const TIdServerIOHandlerClassInfo ClassInfo;

    TCallbackEvent OnStatusInfo;
    TPasswordEvent OnGetPassword;
    TVerifyPeerEvent OnVerifyPeer;

    TIdSSLOptions& SSLOptions() { return *options_; }
    TIdSSLContext* SSLContext() const { return context_.get(); }

    void InitServerHandler() override;
    // A handler for the next connection of the listening socket (pass-through on; its
    // handshake runs at AfterAccept); nullptr when none could be accepted.
    std::unique_ptr<TIdIOHandler> AcceptClient(TIdSocketHandle& listening) override;
    std::unique_ptr<TIdSSLIOHandlerSocketBase> MakeClientIOHandler() override;
    std::unique_ptr<TIdSSLIOHandlerSocketBase> MakeActiveDataIOHandler() override;
    std::unique_ptr<TIdSSLIOHandlerSocketBase> MakePassiveDataIOHandler() override;

    void DoStatusInfo(const std::string& text) override;
    void DoGetPassword(std::string& password) override;
    bool DoVerifyPeer(TIdX509& certificate) override;

private:
    std::unique_ptr<TIdSSLIOHandlerSocketOpenSSL> MakeHandler(bool shareContext);

    std::unique_ptr<TIdSSLContext> context_;
    std::unique_ptr<TIdSSLOptions> options_;
    bool initialized_ = false;
};
