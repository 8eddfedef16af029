// net/IdSSLOpenSSLHeaders.h: the system's OpenSSL 3, loaded at run time and bound by name.
//
// The TLS transport does not link OpenSSL: BindOpenSSL loads libssl.so.3 and libcrypto.so.3
// (names a test may redirect) and binds every entry point of the table below into
// OpenSSLApi(). OpenSSL 3 locks itself, so no locking or thread-id callbacks exist; the names
// it no longer exports are bound to their successors (TLS_method for the method trios,
// OPENSSL_init_ssl for the library and error-string set-up, SSL_get1_peer_certificate,
// X509_NAME_hash_ex, the real accessors in place of macros). A binding that fails leaves
// nothing loaded and reports false, and so does every later attempt until the libraries are
// there: the table is never reported bound with an entry missing. Binding is serialised.
//
// Only types and constants come from OpenSSL's headers; every call goes through the table
// (a function-like macro of the headers would link the library, so none is used).
#pragma once

#include <openssl/bio.h>
#include <openssl/des.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <string>

#include "net/IdSSLOpenSSLEntries.h"

struct TIdOpenSSLApi {
#define KW_OPENSSL_POINTER(name, ret, params) ret(*name) params = nullptr;
    KW_OPENSSL_SSL_ENTRIES(KW_OPENSSL_POINTER)
    KW_OPENSSL_CRYPTO_ENTRIES(KW_OPENSSL_POINTER)
    KW_OPENSSL_CRYPTO_OPTIONAL(KW_OPENSSL_POINTER)
#undef KW_OPENSSL_POINTER
};

// The bound table (valid after BindOpenSSL answered true).
const TIdOpenSSLApi& OpenSSLApi();

// Loads and binds both libraries; true when every required entry point is bound. A failure
// unloads what was loaded, so the next call tries again.
bool BindOpenSSL();
void UnbindOpenSSL();
bool OpenSSLBound();
// The file names loaded (libssl.so.3, libcrypto.so.3 by default); unbinds. For tests.
void SetOpenSSLLibraryNames(const std::string& ssl, const std::string& crypto);
// Why the last binding failed (the library or the entry point missing).
std::string OpenSSLBindError();

// The object attached to a TLS connection (index 0), and back.
int IdSslSetAppData(SSL* ssl, void* data);
void* IdSslGetAppData(const SSL* ssl);
