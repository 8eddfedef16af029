// net/IdSSLOpenSSLHeaders.cpp: loading and binding OpenSSL 3.
#include "net/IdSSLOpenSSLHeaders.h"

#include <mutex>

#include "platform/DynamicLibrary.h"

namespace {

struct Binding {
    std::mutex lock;
    std::string sslName = "libssl.so.3";
    std::string cryptoName = "libcrypto.so.3";
    plat::DynamicLibrary ssl;
    plat::DynamicLibrary crypto;
    TIdOpenSSLApi api;
    bool bound = false;
    std::string error;
};

Binding& TheBinding() {
    static Binding b;
    return b;
}

// Binds the table from the two loaded libraries; false (with the missing name) when one lacks
// a required entry point.
bool BindTable(Binding& b) {
    TIdOpenSSLApi api;
#define KW_BIND_REQUIRED(lib, name, ret, params)                                                   \
    api.name = reinterpret_cast<ret(*) params>(b.lib.Symbol(#name));                               \
    if (api.name == nullptr) {                                                                     \
        b.error = std::string(#name) + " is missing from " + b.lib.LoadedName();                    \
        return false;                                                                              \
    }
#define KW_BIND_SSL(name, ret, params) KW_BIND_REQUIRED(ssl, name, ret, params)
#define KW_BIND_CRYPTO(name, ret, params) KW_BIND_REQUIRED(crypto, name, ret, params)
#define KW_BIND_OPTIONAL(name, ret, params) api.name = reinterpret_cast<ret(*) params>(b.crypto.Symbol(#name));
    KW_OPENSSL_SSL_ENTRIES(KW_BIND_SSL)
    KW_OPENSSL_CRYPTO_ENTRIES(KW_BIND_CRYPTO)
    KW_OPENSSL_CRYPTO_OPTIONAL(KW_BIND_OPTIONAL)
#undef KW_BIND_REQUIRED
#undef KW_BIND_SSL
#undef KW_BIND_CRYPTO
#undef KW_BIND_OPTIONAL
    b.api = api;
    return true;
}

void UnbindLocked(Binding& b) {
    b.bound = false;
    b.api = TIdOpenSSLApi{};
    // OpenSSL keeps process-wide state (and may run its own exit handlers): once loaded, the
    // code stays in the process; only our handles are dropped.
    b.ssl.KeepLoaded();
    b.crypto.KeepLoaded();
    b.ssl.Unload();
    b.crypto.Unload();
}

}  // namespace

bool BindOpenSSL() {
    Binding& b = TheBinding();
    std::lock_guard guard(b.lock);
    if (b.bound) return true;
    b.error.clear();
    if (!b.crypto.Load(b.cryptoName)) {
        b.error = b.crypto.LastError();
        return false;
    }
    if (!b.ssl.Load(b.sslName)) {
        b.error = b.ssl.LastError();
        UnbindLocked(b);
        return false;
    }
    if (!BindTable(b)) {
        const std::string why = b.error;
        UnbindLocked(b);
        b.error = why;
        return false;
    }
    b.bound = true;
    return true;
}

void UnbindOpenSSL() {
    Binding& b = TheBinding();
    std::lock_guard guard(b.lock);
    UnbindLocked(b);
}

bool OpenSSLBound() {
    Binding& b = TheBinding();
    std::lock_guard guard(b.lock);
    return b.bound;
}

const TIdOpenSSLApi& OpenSSLApi() { return TheBinding().api; }

void SetOpenSSLLibraryNames(const std::string& ssl, const std::string& crypto) {
    Binding& b = TheBinding();
    std::lock_guard guard(b.lock);
    UnbindLocked(b);
    b.sslName = ssl;
    b.cryptoName = crypto;
}

std::string OpenSSLBindError() {
    Binding& b = TheBinding();
    std::lock_guard guard(b.lock);
    return b.error;
}

int IdSslSetAppData(SSL* ssl, void* data) { return OpenSSLApi().SSL_set_ex_data(ssl, 0, data); }

void* IdSslGetAppData(const SSL* ssl) { return OpenSSLApi().SSL_get_ex_data(ssl, 0); }
