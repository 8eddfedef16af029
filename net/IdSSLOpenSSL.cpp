// net/IdSSLOpenSSL.cpp: contexts, TLS connections and the TLS IO handlers over OpenSSL 3.
#include "net/IdSSLOpenSSL.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "net/IdAntiFreezeBase.h"
#include "net/IdStack.h"
#include "net/IdURI.h"
#include "platform/WinError.h"
#include "platform/Workstation.h"
#include "rtl/Bytes.h"
#include "rtl/Format.h"

namespace {

const TIdOpenSSLApi& Api() { return OpenSSLApi(); }

// How much a connection's receive asks of the socket. OpenSSL reads records ahead into a buffer
// of this size, so one receive brings several records instead of a header and then a body for
// each; what it holds is read before the socket is waited on (TIdSSLSocket::HasPending).
constexpr size_t kReadAheadSize = 128 * 1024;

std::mutex gInitLock;
std::atomic<int32_t> gContextCount{0};
BIO_METHOD* gBioMethod = nullptr;
// Each OpenSSL callback runs under its own lock (one password prompt, one status report, one
// verification at a time in the process).
std::mutex gPasswordLock;
std::mutex gStatusLock;
std::mutex gVerifyLock;

// --- the socket BIO: plain send and recv on the descriptor, never SIGPIPE

int BioWrite(BIO* b, const char* data, int length) {
    auto* state = static_cast<TIdSSLSocket::BioState*>(Api().BIO_get_data(b));
    Api().BIO_clear_flags(b, BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY);
    for (;;) {
        const ssize_t n = ::send(state->fd, data, size_t(length), MSG_NOSIGNAL);
        if (n >= 0) return int(n);
        if (errno == EINTR) continue;
        state->error = errno;
        if (errno == EAGAIN || errno == EWOULDBLOCK) Api().BIO_set_flags(b, BIO_FLAGS_WRITE | BIO_FLAGS_SHOULD_RETRY);
        return -1;
    }
}

// Waits for the descriptor to be readable within the state's bounds; false when they ran out
// (stopped then names the bound). The deadline is the steady clock's: poll waits in real time.
bool WaitReadable(TIdSSLSocket::BioState& state) {
    using Stop = TIdSSLSocket::BioState::Stop;
    for (;;) {
        int32_t wait = state.waitLimit;
        Stop bound = Stop::Wait;
        if (state.deadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*state.deadline -
                                                                           std::chrono::steady_clock::now());
            const int32_t untilDeadline = int32_t(std::clamp<int64_t>(left.count(), 0, INT32_MAX));
            if (wait < 0 || untilDeadline <= wait) {
                wait = untilDeadline;
                bound = Stop::Deadline;
            }
        }
        pollfd p{state.fd, POLLIN, 0};
        const int r = ::poll(&p, 1, wait);
        if (r > 0) return true;  // data, a close or an error: the receive tells which
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return true;  // the receive reports the failure
        state.stopped = bound;
        return false;
    }
}

int BioRead(BIO* b, char* data, int length) {
    auto* state = static_cast<TIdSSLSocket::BioState*>(Api().BIO_get_data(b));
    Api().BIO_clear_flags(b, BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY);
    // Without a bound the receive blocks as the socket does; with one it does not wait, and
    // only when nothing is there does the BIO wait with poll.
    const bool bounded = state->waitLimit >= 0 || state->deadline.has_value();
    for (;;) {
        const ssize_t n = ::recv(state->fd, data, size_t(length), bounded ? MSG_DONTWAIT : 0);
        if (n >= 0) return int(n);
        if (errno == EINTR) continue;
        if (bounded && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (WaitReadable(*state)) continue;
            // The bound ran out: OpenSSL keeps what it has of the record and is asked to retry;
            // the caller tells this from a record without data by `stopped`.
            Api().BIO_set_flags(b, BIO_FLAGS_READ | BIO_FLAGS_SHOULD_RETRY);
            return -1;
        }
        state->error = errno;
        if (errno == EAGAIN || errno == EWOULDBLOCK) Api().BIO_set_flags(b, BIO_FLAGS_READ | BIO_FLAGS_SHOULD_RETRY);
        return -1;
    }
}

long BioCtrl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }
int BioCreate(BIO*) { return 1; }
int BioDestroy(BIO*) { return 1; }

// OpenSSL's queued errors as text ("reason; reason"), the queue emptied.
std::string ErrorReasons() {
    std::string text;
    for (unsigned long e; (e = Api().ERR_get_error()) != 0;) {
        const char* reason = Api().ERR_reason_error_string(e);
        std::string piece;
        if (reason != nullptr) {
            piece = reason;
        } else {
            char buffer[256];
            Api().ERR_error_string_n(e, buffer, sizeof buffer);
            piece = buffer;
        }
        if (text.find(piece) == std::string::npos) text += (text.empty() ? "" : "; ") + piece;
    }
    return text;
}

std::string WithReasons(const char* message) {
    const std::string reasons = ErrorReasons();
    return reasons.empty() ? std::string(message) : std::string(message) + "\r\n" + reasons;
}

bool LoadOpenSSLLibrary() {
    if (!BindOpenSSL()) return false;
    const TIdOpenSSLApi& api = Api();
    const int r = api.OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    // One method for the process: libcrypto stays loaded, so it stays valid across bindings.
    if (gBioMethod != nullptr) return r > 0;
    gBioMethod = api.BIO_meth_new(api.BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "kw socket");
    if (gBioMethod == nullptr) return false;
    api.BIO_meth_set_write(gBioMethod, &BioWrite);
    api.BIO_meth_set_read(gBioMethod, &BioRead);
    api.BIO_meth_set_ctrl(gBioMethod, &BioCtrl);
    api.BIO_meth_set_create(gBioMethod, &BioCreate);
    api.BIO_meth_set_destroy(gBioMethod, &BioDestroy);
    return r > 0;
}

// --- the three callbacks

extern "C" int PasswordCallback(char* buffer, int size, int, void* userData) {
    std::lock_guard guard(gPasswordLock);
    std::string password;
    int result = 0;
    try {
        auto* context = static_cast<TIdSSLContext*>(userData);
        if (context != nullptr && context->Parent() != nullptr) context->Parent()->DoGetPassword(password);
        // A password that does not fit OpenSSL's buffer (with its zero byte) fails the load.
        if (size > 0 && password.size() < size_t(size)) {
            std::memcpy(buffer, password.data(), password.size());
            buffer[password.size()] = '\0';
            result = int(password.size());
        }
    } catch (...) {
        result = 0;  // nothing may cross into OpenSSL
    }
    rtl::secure_wipe(password.data(), password.size());
    return result;
}

extern "C" void InfoCallback(const SSL* ssl, int, int) {
    std::lock_guard guard(gStatusLock);
    try {
        auto* socket = static_cast<TIdSSLSocket*>(IdSslGetAppData(ssl));
        if (socket != nullptr && socket->Parent() != nullptr)
            socket->Parent()->DoStatusInfo(rtl::Format("SSL status: \"%s\"", std::string(Api().SSL_state_string_long(ssl))));
    } catch (...) {
        // A status handler's failure never reaches OpenSSL.
    }
}

extern "C" int VerifyCallback(int ok, X509_STORE_CTX* store) {
    std::lock_guard guard(gVerifyLock);
    const TIdOpenSSLApi& api = Api();
    bool result = true;
    try {
        auto* ssl = static_cast<SSL*>(api.X509_STORE_CTX_get_ex_data(store, api.SSL_get_ex_data_X509_STORE_CTX_idx()));
        if (ssl == nullptr) return ok;
        auto* socket = static_cast<TIdSSLSocket*>(IdSslGetAppData(ssl));
        if (socket == nullptr || socket->Parent() == nullptr) return ok;
        TIdX509 certificate(api.X509_STORE_CTX_get_current_cert(store));
        const int depth = api.X509_STORE_CTX_get_error_depth(store);
        certificate.Depth = depth;
        result = socket->Parent()->DoVerifyPeer(certificate);
        const TIdSSLContext* context = socket->Context();
        // With an explicit VerifyMode, nothing deeper than VerifyDepth is accepted.
        if (ok > 0 && context != nullptr && context->VerifyMode != 0 && depth > context->VerifyDepth) {
            ok = 0;
            api.X509_STORE_CTX_set_error(store, X509_V_ERR_CERT_CHAIN_TOO_LONG);
        }
        if (ok > 0 && !result) api.X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
    } catch (...) {
        // The flags keep the values they had.
    }
    return result && ok > 0 ? 1 : 0;
}

}  // namespace

// --- context

TIdSSLContext::TIdSSLContext(TIdSSLCallbackTarget* parent) : parent_(parent) {
    std::lock_guard guard(gInitLock);
    // The library is initialised with the first context, and again whenever the binding went
    // (a failed binding is never taken for a bound one).
    if (gContextCount <= 0 || !OpenSSLBound() || gBioMethod == nullptr) {
        if (!LoadOpenSSLLibrary())
            EIdException::RaiseIdException<EIdOSSLCouldNotLoadSSLLibrary>(RSOSSL::CouldNotLoadSSLLibrary);
    }
    ++gContextCount;
}

TIdSSLContext::~TIdSSLContext() { ReleaseContextHandle(); }

int32_t TIdSSLContext::ContextCount() { return gContextCount; }

void TIdSSLContext::Configure(const TIdSSLOptions& options) {
    RootCertFile = options.RootCertFile;
    CertFile = options.CertFile;
    KeyFile = options.KeyFile;
    VerifyDepth = options.VerifyDepth;
    VerifyMode = options.VerifyMode;
    VerifyDirs = options.VerifyDirs;
    CipherList = options.CipherList;
    Method = options.Method;
    Mode = options.Mode;
    VerifyPeerDisabled = options.VerifyPeerDisabled;
}

void TIdSSLContext::LoadSystemCertificates() {
    if (systemCertificatesLoaded_ || handle_ == nullptr) return;
    systemCertificatesLoaded_ = true;
    Api().SSL_CTX_set_default_verify_paths(handle_);
    Api().ERR_clear_error();  // a missing system file is no failure of the connection
}

void TIdSSLContext::ReleaseContextHandle() {
    if (handle_ != nullptr) Api().SSL_CTX_free(handle_);
    handle_ = nullptr;
}

void TIdSSLContext::SetUpContext(Kind kind) {
    const TIdOpenSSLApi& api = Api();
    ReleaseContextHandle();
    kind_ = kind;
    if (Mode == sslmUnassigned) Mode = kind == Kind::Server ? sslmServer : sslmClient;
    if (Method > sslvTLSv1) EIdException::RaiseIdException<EIdOSSLGetMethodError>(RSOSSL::GetMethodError);
    // Every version asks for the version-flexible method; TLS 1.2 is the least accepted.
    const SSL_METHOD* method = nullptr;
    switch (Mode) {
        case sslmClient: method = api.TLS_client_method(); break;
        case sslmServer: method = api.TLS_server_method(); break;
        case sslmBoth: method = api.TLS_method(); break;
        default: EIdException::RaiseIdException<EIdOSSLModeNotSet>(RSOSSL::ModeNotSet);
    }
    api.ERR_clear_error();
    handle_ = api.SSL_CTX_new(method);
    if (handle_ == nullptr)
        EIdException::RaiseIdException<EIdOSSLCreatingContextError>(WithReasons(RSOSSL::CreatingContextError));
    if (api.SSL_CTX_ctrl(handle_, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr) != 1)
        EIdException::RaiseIdException<EIdOSSLCreatingContextError>(WithReasons(RSOSSL::CreatingContextError));
    api.SSL_CTX_ctrl(handle_, SSL_CTRL_SET_READ_AHEAD, 1, nullptr);
    api.SSL_CTX_set_default_read_buffer_len(handle_, kReadAheadSize);
    api.SSL_CTX_set_default_passwd_cb(handle_, &PasswordCallback);
    api.SSL_CTX_set_default_passwd_cb_userdata(handle_, this);
    // The system's certificates are parsed (some tens of milliseconds for its bundle) only by a
    // context that is going to check a peer: a server's at once, since the connections it
    // accepts share it, a client's when its connection starts TLS, so a plain connection
    // through the TLS handler never reads them. Nothing else depends on them, and the store
    // holds the same certificates either way.
    systemCertificatesLoaded_ = false;
    if (kind == Kind::Server) LoadSystemCertificates();
    if (!RootCertFile.empty() && api.SSL_CTX_load_verify_locations(handle_, RootCertFile.c_str(), nullptr) <= 0)
        EIdException::RaiseIdException<EIdOSSLLoadingRootCertError>(WithReasons(RSOSSL::LoadingRootCertError));
    if (!CertFile.empty() && api.SSL_CTX_use_certificate_file(handle_, CertFile.c_str(), SSL_FILETYPE_PEM) <= 0)
        EIdException::RaiseIdException<EIdOSSLLoadingCertError>(WithReasons(RSOSSL::LoadingCertError));
    if (!KeyFile.empty() && (api.SSL_CTX_use_PrivateKey_file(handle_, KeyFile.c_str(), SSL_FILETYPE_PEM) <= 0 ||
                             api.SSL_CTX_check_private_key(handle_) <= 0))
        EIdException::RaiseIdException<EIdOSSLLoadingKeyError>(WithReasons(RSOSSL::LoadingKeyError));
    if (StatusInfoOn) api.SSL_CTX_set_info_callback(handle_, &InfoCallback);
    // An empty list is OpenSSL's default; no list may admit suites without authentication or
    // encryption.
    if (!CipherList.empty() &&
        api.SSL_CTX_set_cipher_list(handle_, (CipherList + ":!aNULL:!eNULL").c_str()) <= 0)
        EIdException::RaiseIdException<EIdOSSLSettingCipherError>(WithReasons(RSOSSL::SettingCipherError));
    SSL_verify_cb callback = VerifyOn ? &VerifyCallback : nullptr;
    if (VerifyMode != 0) {
        api.SSL_CTX_set_verify(handle_, VerifyMode & 7, callback);
        api.SSL_CTX_set_verify_depth(handle_, VerifyDepth);
    } else if (ChecksServer()) {
        // A client checks its server by default (OpenSSL's own depth limit).
        api.SSL_CTX_set_verify(handle_, SSL_VERIFY_PEER, callback);
    }
    if (kind == Kind::Client && VerifyPeerDisabled) api.SSL_CTX_set_verify(handle_, SSL_VERIFY_NONE, nullptr);
    if (kind == Kind::Server) {
        unsigned char id[4];
        rtl::store_le32(id, uint32_t(SessionIdContext));
        api.SSL_CTX_set_session_id_context(handle_, id, 4);
    }
    if (!RootCertFile.empty()) {
        STACK_OF(X509_NAME)* names = api.SSL_load_client_CA_file(RootCertFile.c_str());
        if (names != nullptr) api.SSL_CTX_set_client_CA_list(handle_, names);
    }
    api.ERR_clear_error();
}

// --- views

std::string TIdSSLCipher::CipherName() const {
    const SSL_CIPHER* c = socket_.Handle() ? Api().SSL_get_current_cipher(socket_.Handle()) : nullptr;
    const char* name = c ? Api().SSL_CIPHER_get_name(c) : nullptr;
    return name ? name : "";
}

std::string TIdSSLCipher::CipherDescription() const {
    const SSL_CIPHER* c = socket_.Handle() ? Api().SSL_get_current_cipher(socket_.Handle()) : nullptr;
    if (c == nullptr) return {};
    char buffer[1024] = {};
    const char* text = Api().SSL_CIPHER_description(c, buffer, sizeof buffer);
    std::string s = text ? text : "";
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

int32_t TIdSSLCipher::CipherBits() const {
    const SSL_CIPHER* c = socket_.Handle() ? Api().SSL_get_current_cipher(socket_.Handle()) : nullptr;
    int bits = 0;
    if (c != nullptr) Api().SSL_CIPHER_get_bits(c, &bits);
    return bits;
}

std::string TIdSSLCipher::CipherVersion() const {
    const SSL_CIPHER* c = socket_.Handle() ? Api().SSL_get_current_cipher(socket_.Handle()) : nullptr;
    const char* v = c ? Api().SSL_CIPHER_get_version(c) : nullptr;
    return v ? v : "";
}

namespace {
std::string NameText(const X509_NAME* name) {
    if (name == nullptr) return {};
    char buffer[512] = {};
    const char* text = Api().X509_NAME_oneline(name, buffer, sizeof buffer);
    return text ? text : "";
}
}  // namespace

std::string TIdX509::SubjectName() const {
    return certificate_ ? NameText(Api().X509_get_subject_name(certificate_)) : std::string();
}

std::string TIdX509::IssuerName() const {
    return certificate_ ? NameText(Api().X509_get_issuer_name(certificate_)) : std::string();
}

// --- TLS connection

TIdSSLSocket::~TIdSSLSocket() {
    if (ssl_ != nullptr) {
        // After a fatal error OpenSSL must not send close_notify.
        if (!fatal_) Api().SSL_shutdown(ssl_);
        Api().SSL_free(ssl_);
        ssl_ = nullptr;
    }
    Api().ERR_clear_error();
}

void TIdSSLSocket::Attach(int socket, TIdSSLContext& context, bool client) {
    const TIdOpenSSLApi& api = Api();
    context_ = &context;
    context.LoadSystemCertificates();
    api.ERR_clear_error();
    ssl_ = api.SSL_new(context.Handle());
    if (ssl_ == nullptr) {
        if (client) EIdException::RaiseIdException<EIdOSSLConnectError>(WithReasons(RSOSSL::ConnectError));
        EIdException::RaiseIdException<EIdOSSLAcceptError>(WithReasons(RSOSSL::AcceptError));
    }
    if (IdSslSetAppData(ssl_, this) < 1)
        EIdException::RaiseIdException<EIdOSSLDataBindingError>(WithReasons(RSOSSL::DataBindingError));
    bio_.fd = socket;
    BIO* bio = api.BIO_new(gBioMethod);
    if (bio == nullptr) EIdException::RaiseIdException<EIdOSSLDataBindingError>(WithReasons(RSOSSL::DataBindingError));
    api.BIO_set_data(bio, &bio_);
    api.BIO_set_init(bio, 1);
    api.SSL_set_bio(ssl_, bio, bio);  // the connection owns the BIO from here
}

void TIdSSLSocket::ClientHandshake(int socket, TIdSSLContext& context, const std::string& serverName,
                                   HandshakeBounds bounds) {
    const TIdOpenSSLApi& api = Api();
    Attach(socket, context, true);
    // A host written as an address, in any spelling the resolver reads ("127.1" connects to
    // 127.0.0.1), is that address: no server name, and only the certificate's IP addresses can
    // name it.
    const std::string address = plat::AddressLiteralText(serverName);
    if (!serverName.empty() && address.empty() && serverName.find(':') == std::string::npos)
        api.SSL_ctrl(ssl_, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name, const_cast<char*>(serverName.c_str()));
    if (context.ChecksServer()) {
        const bool named =
            address.empty()
                ? !serverName.empty() && api.SSL_set1_host(ssl_, serverName.c_str()) == 1
                : api.X509_VERIFY_PARAM_set1_ip_asc(api.SSL_get0_param(ssl_), address.c_str()) == 1;
        if (!named)
            EIdException::RaiseIdException<EIdOSSLConnectError>(
                std::string(RSOSSL::ConnectError) + "\r\nno host name to check the server's certificate against");
    }
    Handshake(true, bounds);
    if (auto* handler = dynamic_cast<TIdSSLIOHandlerSocketOpenSSL*>(parent_)) {
        TIdSSLCipher* c = CipherView();
        handler->DoStatusInfo("Cipher: name = " + c->CipherName() + "; description = " + c->CipherDescription() +
                              "; bits = " + std::to_string(c->CipherBits()) + "; version = " + c->CipherVersion() + "; ");
    }
}

void TIdSSLSocket::ServerHandshake(int socket, TIdSSLContext& context, HandshakeBounds bounds) {
    Attach(socket, context, false);
    Handshake(false, bounds);
    if (auto* server = dynamic_cast<TIdServerIOHandlerSSLOpenSSL*>(parent_)) {
        TIdSSLCipher* c = CipherView();
        server->DoStatusInfo("Cipher: name = " + c->CipherName() + "; description = " + c->CipherDescription() +
                             "; bits = " + std::to_string(c->CipherBits()) + "; version = " + c->CipherVersion() + "; ");
    }
}

void TIdSSLSocket::Handshake(bool client, HandshakeBounds bounds) {
    const TIdOpenSSLApi& api = Api();
    bio_.error = 0;
    bio_.stopped = BioState::Stop::None;
    bio_.waitLimit = bounds.wait > 0 ? bounds.wait : -1;
    if (bounds.total > 0)
        bio_.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(bounds.total);
    const int r = client ? api.SSL_connect(ssl_) : api.SSL_accept(ssl_);
    bio_.waitLimit = -1;
    bio_.deadline.reset();
    if (r >= 1) return;
    if (bio_.stopped != BioState::Stop::None) {
        // A handshake left half done is abandoned without a word to the peer.
        fatal_ = true;
        api.ERR_clear_error();
        if (bio_.stopped == BioState::Stop::Deadline)
            EIdException::RaiseIdException<EIdConnectTimeout>(RSId::ConnectTimeout);
        EIdException::RaiseIdException<EIdReadTimeout>(RSId::ReadTimeout);
    }
    RaiseIoError(r, client ? RSOSSL::ConnectError : RSOSSL::AcceptError);
}

void TIdSSLSocket::RaiseIoError(int result, const char* what) {
    const TIdOpenSSLApi& api = Api();
    const int error = api.SSL_get_error(ssl_, result);
    fatal_ = true;
    if (error == SSL_ERROR_SYSCALL && bio_.error != 0 && api.ERR_peek_error() == 0)
        GBSDStack()->RaiseSocketError(plat::WinErrorFromErrno(bio_.error, plat::ErrorDomain::Socket));
    std::string text = what;
    const std::string reasons = ErrorReasons();
    if (!reasons.empty()) text += "\r\n" + reasons;
    const long verify = api.SSL_get_verify_result(ssl_);
    if (verify != X509_V_OK) text += std::string(reasons.empty() ? "\r\n" : ": ") + api.X509_verify_cert_error_string(verify);
    if (reasons.empty() && verify == X509_V_OK) text += "\r\nthe connection ended during the TLS exchange";
    if (what == RSOSSL::AcceptError) EIdException::RaiseIdException<EIdOSSLAcceptError>(text);
    if (what == RSOSSL::ConnectError) EIdException::RaiseIdException<EIdOSSLConnectError>(text);
    EIdException::RaiseIdException<EIdOpenSSLError>(text);
}

int32_t TIdSSLSocket::Pending() const { return ssl_ != nullptr ? Api().SSL_pending(ssl_) : 0; }

bool TIdSSLSocket::HasPending() const {
    return ssl_ != nullptr && Api().SSL_has_pending(ssl_) == 1;
}

int32_t TIdSSLSocket::ReadDecrypted(TBytes& buffer, int32_t timeout) {
    if (ssl_ == nullptr) EIdException::RaiseIdException<EIdClosedSocket>(RSId::ClosedSocket);
    if (buffer.empty()) EIdException::RaiseIdException("ReadDecrypted: the buffer is empty.");
    const TIdOpenSSLApi& api = Api();
    api.ERR_clear_error();
    bio_.error = 0;
    bio_.stopped = BioState::Stop::None;
    bio_.waitLimit = timeout >= 0 ? timeout : -1;
    const int n = api.SSL_read(ssl_, buffer.data(), int(std::min<size_t>(buffer.size(), INT32_MAX)));
    bio_.waitLimit = -1;
    if (n > 0) return n;
    switch (api.SSL_get_error(ssl_, n)) {
        case SSL_ERROR_WANT_READ:
        case SSL_ERROR_WANT_WRITE:
            // The wait for the rest of a record ran out, or the records carried no
            // application data: neither is a close.
            return bio_.stopped != BioState::Stop::None ? kTimedOut : -1;
        case SSL_ERROR_ZERO_RETURN:
            return 0;  // the peer's close_notify
        default:
            RaiseIoError(n, "TLS read failed.");
    }
}

int32_t TIdSSLSocket::WriteEncrypted(const TBytes& buffer, size_t offset) {
    if (ssl_ == nullptr) EIdException::RaiseIdException<EIdClosedSocket>(RSId::ClosedSocket);
    const TIdOpenSSLApi& api = Api();
    size_t at = offset;
    while (at < buffer.size()) {
        api.ERR_clear_error();
        bio_.error = 0;
        const int n = api.SSL_write(ssl_, buffer.data() + at, int(std::min<size_t>(buffer.size() - at, INT32_MAX)));
        if (n > 0) {
            at += size_t(n);
            continue;
        }
        const int error = api.SSL_get_error(ssl_, n);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) continue;
        RaiseIoError(n, "TLS write failed.");
    }
    return int32_t(at - offset);
}

TIdSSLCipher* TIdSSLSocket::CipherView() {
    if (ssl_ == nullptr) return nullptr;
    if (!cipher_) cipher_ = std::make_unique<TIdSSLCipher>(*this);
    return cipher_.get();
}

// --- client handler

namespace {
std::unique_ptr<TIdIOHandler> MakeClientHandler(rtl::Component* owner) {
    return std::make_unique<TIdSSLIOHandlerSocketOpenSSL>(owner);
}
std::unique_ptr<TIdServerIOHandler> MakeServerHandler(rtl::Component* owner) {
    return std::make_unique<TIdServerIOHandlerSSLOpenSSL>(owner);
}
}  // namespace

const TIdIOHandlerClassInfo TIdSSLIOHandlerSocketOpenSSL::ClassInfo{"TIdSSLIOHandlerSocketOpenSSL", &MakeClientHandler};
const TIdServerIOHandlerClassInfo TIdServerIOHandlerSSLOpenSSL::ClassInfo{"TIdServerIOHandlerSSLOpenSSL",
                                                                          &MakeServerHandler};

namespace {
const bool kRegistered = [] {
    RegisterSSLTransport("OpenSSL", "The OpenSSL Project", "OpenSSL is licensed under the Apache License 2.0",
                         &TIdServerIOHandlerSSLOpenSSL::ClassInfo, &TIdSSLIOHandlerSocketOpenSSL::ClassInfo,
                         "https://www.openssl.org/", "TLS 1.2 and 1.3 over the system's OpenSSL 3 libraries");
    return true;
}();
}  // namespace

TIdSSLIOHandlerSocketOpenSSL::TIdSSLIOHandlerSocketOpenSSL(rtl::Component* owner)
    : TIdSSLIOHandlerSocketBase(owner), ownOptions_(std::make_unique<TIdSSLOptions>()), options_(ownOptions_.get()) {
    (void)kRegistered;
}

TIdSSLIOHandlerSocketOpenSSL::~TIdSSLIOHandlerSocketOpenSSL() { TIdSSLIOHandlerSocketOpenSSL::Close(); }

void TIdSSLIOHandlerSocketOpenSSL::Open() { TIdIOHandlerStack::Open(); }

void TIdSSLIOHandlerSocketOpenSSL::Close() {
    tls_.reset();
    if (!isPeer_) {
        ownContext_.reset();
        context_ = nullptr;
    }
    TIdIOHandlerStack::Close();
}

void TIdSSLIOHandlerSocketOpenSSL::ConnectClient() {
    {
        // A transparent proxy (SOCKS) is spoken to in plain bytes: TLS starts once the tunnel
        // to the destination stands.
        const bool passThrough = PassThrough();
        StorePassThrough(true);
        TIdFinally restore{[this, passThrough] { StorePassThrough(passThrough); }};
        TIdIOHandlerStack::ConnectClient();
    }
    DoBeforeConnect();
    StartSSL();
}

void TIdSSLIOHandlerSocketOpenSSL::DoBeforeConnect() {
    if (OnBeforeConnect) OnBeforeConnect(this);
}

void TIdSSLIOHandlerSocketOpenSSL::MakeClientContext() {
    auto context = std::make_unique<TIdSSLContext>(this);
    context->Configure(*options_);
    context->VerifyOn = static_cast<bool>(OnVerifyPeer);
    context->StatusInfoOn = static_cast<bool>(OnStatusInfo);
    context->SetUpContext(TIdSSLContext::Kind::Client);
    ownContext_ = std::move(context);
    context_ = ownContext_.get();
}

void TIdSSLIOHandlerSocketOpenSSL::StartSSL() {
    if (!isPeer_ && context_ == nullptr) {
        try {
            MakeClientContext();
        } catch (const EIdOSSLCouldNotLoadSSLLibrary&) {
            // Plain connections work without OpenSSL until TLS is asked for.
            if (!PassThrough()) throw;
        }
    }
    if (!PassThrough()) OpenEncodedConnection();
}

void TIdSSLIOHandlerSocketOpenSSL::AfterAccept() {
    try {
        StartSSL();
    } catch (...) {
        Close();
        throw;
    }
}

void TIdSSLIOHandlerSocketOpenSSL::OpenEncodedConnection() {
    if (!Binding || !Binding->HandleAllocated()) EIdException::RaiseIdException<EIdClosedSocket>(RSId::ClosedSocket);
    if (context_ == nullptr)
        EIdException::RaiseIdException<EIdOSSLCouldNotLoadSSLLibrary>(RSOSSL::CouldNotLoadSSLLibrary);
    try {
        if (isPeer_) {
            if (!tls_) tls_ = std::make_unique<TIdSSLSocket>(socketParent_);
            tls_->ServerHandshake(Binding->Handle(), *context_, HandshakeLimits());
        } else if (!tls_) {
            // Through a proxy tunnel the handler's Host is the proxy: the name to check is the
            // host of the request's URL.
            std::string name = Host();
            if (!URIToCheck().empty()) {
                const TIdURI uri(URIToCheck());
                if (!uri.Host.empty()) name = uri.Host;
            }
            tls_ = std::make_unique<TIdSSLSocket>(this);
            tls_->ClientHandshake(Binding->Handle(), *context_, name, HandshakeLimits());
        }
    } catch (...) {
        tls_.reset();
        throw;
    }
    StorePassThrough(false);
}

TIdSSLSocket::HandshakeBounds TIdSSLIOHandlerSocketOpenSSL::HandshakeLimits() const {
    return {ReadTimeout, ConnectTimeout};
}

void TIdSSLIOHandlerSocketOpenSSL::SetPassThrough(bool value) {
    if (value == PassThrough()) return;
    if (!value && Binding && Binding->HandleAllocated()) {
        if (context_ == nullptr && !isPeer_) MakeClientContext();
        OpenEncodedConnection();
    }
    StorePassThrough(value);
}

void TIdSSLIOHandlerSocketOpenSSL::ShareServer(TIdSSLOptions* options, TIdSSLContext* context,
                                               TIdSSLCallbackTarget* target) {
    ownOptions_.reset();
    options_ = options;
    ownContext_.reset();
    context_ = context;
    socketParent_ = target;
    isPeer_ = true;
}

int32_t TIdSSLIOHandlerSocketOpenSSL::ReceiveFromTransport(TBytes& bytes, int32_t timeout) {
    if (PassThrough() || !tls_) return TIdIOHandlerStack::ReceiveFromTransport(bytes, timeout);
    const int32_t n = tls_->ReadDecrypted(bytes, timeout);
    return n == TIdSSLSocket::kTimedOut ? kReceiveTimedOut : n;
}

bool TIdSSLIOHandlerSocketOpenSSL::HasBufferedInput() const {
    // Bytes OpenSSL holds (decrypted, or read ahead) are read before the socket is waited on.
    return !PassThrough() && tls_ && tls_->HasPending();
}

void TIdSSLIOHandlerSocketOpenSSL::PassToIntercept(TBytes& bytes) {
    if (PassThrough()) return TIdIOHandlerStack::PassToIntercept(bytes);
    TIdIOHandler::PassToIntercept(bytes);
    if (!tls_) EIdException::RaiseIdException<EIdClosedSocket>(RSId::ClosedSocket);
    int32_t sent = 0;
    try {
        sent = tls_->WriteEncrypted(bytes);
    } catch (const EIdSocketError&) {
        PeerClosed = true;
        Close();
        throw;
    }
    TIdAntiFreezeBase::ProcessIfActive(false);
    WorkProgress(wmWrite, sent);
}

std::unique_ptr<TIdSSLIOHandlerSocketBase> TIdSSLIOHandlerSocketOpenSSL::Clone() const {
    auto copy = std::make_unique<TIdSSLIOHandlerSocketOpenSSL>();
    copy->SSLOptions().Assign(*options_);
    copy->OnStatusInfo = OnStatusInfo;
    copy->OnGetPassword = OnGetPassword;
    copy->OnVerifyPeer = OnVerifyPeer;
    return copy;
}

void TIdSSLIOHandlerSocketOpenSSL::DoStatusInfo(const std::string& text) {
    if (OnStatusInfo) OnStatusInfo(text);
}

void TIdSSLIOHandlerSocketOpenSSL::DoGetPassword(std::string& password) {
    if (OnGetPassword) OnGetPassword(password);
}

bool TIdSSLIOHandlerSocketOpenSSL::DoVerifyPeer(TIdX509& certificate) {
    return OnVerifyPeer ? OnVerifyPeer(certificate) : true;
}

// --- server handler

TIdServerIOHandlerSSLOpenSSL::TIdServerIOHandlerSSLOpenSSL(rtl::Component* owner)
    : TIdServerIOHandlerSSLBase(owner), options_(std::make_unique<TIdSSLOptions>()) {
    (void)kRegistered;
}

TIdServerIOHandlerSSLOpenSSL::~TIdServerIOHandlerSSLOpenSSL() {
    context_.reset();
    options_.reset();
}

void TIdServerIOHandlerSSLOpenSSL::InitServerHandler() {
    auto context = std::make_unique<TIdSSLContext>(this);
    context->Configure(*options_);
    context->VerifyOn = static_cast<bool>(OnVerifyPeer);
    context->StatusInfoOn = static_cast<bool>(OnStatusInfo);
    context->SetUpContext(TIdSSLContext::Kind::Server);
    context_ = std::move(context);
    initialized_ = true;
}

std::unique_ptr<TIdIOHandler> TIdServerIOHandlerSSLOpenSSL::AcceptClient(TIdSocketHandle& listening) {
    if (!initialized_) InitServerHandler();
    auto handler = std::make_unique<TIdSSLIOHandlerSocketOpenSSL>();
    handler->StorePassThrough(true);
    handler->isPeer_ = true;
    handler->TIdIOHandler::Open();
    if (!handler->Binding) handler->Binding = std::make_unique<TIdSocketHandle>();
    if (!handler->Binding->AcceptFrom(listening)) return nullptr;
    handler->ShareServer(options_.get(), context_.get(), this);
    handler->tls_ = std::make_unique<TIdSSLSocket>(this);
    return handler;
}

std::unique_ptr<TIdSSLIOHandlerSocketOpenSSL> TIdServerIOHandlerSSLOpenSSL::MakeHandler(bool shareContext) {
    auto handler = std::make_unique<TIdSSLIOHandlerSocketOpenSSL>();
    handler->StorePassThrough(true);
    handler->SSLOptions().Assign(*options_);
    handler->OnGetPassword = OnGetPassword;
    (void)shareContext;
    return handler;
}

std::unique_ptr<TIdSSLIOHandlerSocketBase> TIdServerIOHandlerSSLOpenSSL::MakeClientIOHandler() {
    return MakeHandler(false);
}

std::unique_ptr<TIdSSLIOHandlerSocketBase> TIdServerIOHandlerSSLOpenSSL::MakeActiveDataIOHandler() {
    if (!initialized_) InitServerHandler();
    auto handler = MakeHandler(true);
    handler->SSLOptions().Mode = sslmBoth;
    handler->isPeer_ = true;
    handler->context_ = context_.get();
    handler->socketParent_ = this;
    return handler;
}

std::unique_ptr<TIdSSLIOHandlerSocketBase> TIdServerIOHandlerSSLOpenSSL::MakePassiveDataIOHandler() {
    auto handler = MakeHandler(false);
    handler->SSLOptions().Mode = sslmBoth;
    handler->isPeer_ = true;
    handler->context_ = nullptr;
    return handler;
}

void TIdServerIOHandlerSSLOpenSSL::DoStatusInfo(const std::string& text) {
    if (OnStatusInfo) OnStatusInfo(text);
}

void TIdServerIOHandlerSSLOpenSSL::DoGetPassword(std::string& password) {
    if (OnGetPassword) OnGetPassword(password);
}

bool TIdServerIOHandlerSSLOpenSSL::DoVerifyPeer(TIdX509& certificate) {
    return OnVerifyPeer ? OnVerifyPeer(certificate) : true;
}
