// tests/net/stubs/fake_libssl.cpp: a stand-in for libssl built for the binding's tests. It
// exports every entry point the transport binds from libssl but one (SSL_pending), as empty
// functions that are never called: a binding must refuse it, every time it is tried.
#include "net/IdSSLOpenSSLEntries.h"

#define SSL_pending kw_stand_in_lacks_SSL_pending
#define KW_STAND_IN_ENTRY(name, ret, params) \
    extern "C" __attribute__((visibility("default"))) void name() {}
KW_OPENSSL_SSL_ENTRIES(KW_STAND_IN_ENTRY)
