// tests/crypto/pkcs11/KwPkcs11Stub.cpp: a stand-in PKCS#11 library for the module-list tests.
// It exports C_Finalize, which counts its calls and the argument it was given, and tells the
// test when the loader unloads it; the test hands it the counters to update (kw_pkcs11_watch).
#include <cstdint>

namespace {

struct Counters {
    int* finalizeCalls = nullptr;
    int* nonNullArguments = nullptr;
    int* unloads = nullptr;
};
Counters counters;

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void kw_pkcs11_watch(int* finalizeCalls, int* nonNullArguments,
                                                            int* unloads) {
    counters = Counters{finalizeCalls, nonNullArguments, unloads};
}

// CK_RV C_Finalize(CK_VOID_PTR pReserved): pReserved must be NULL (PKCS#11 v2.40, 5.4).
__attribute__((visibility("default"))) unsigned long C_Finalize(void* reserved) {
    if (counters.finalizeCalls != nullptr) ++*counters.finalizeCalls;
    if (reserved != nullptr && counters.nonNullArguments != nullptr) ++*counters.nonNullArguments;
    return 0;  // CKR_OK
}

}  // extern "C"

__attribute__((destructor)) static void Unloaded() {
    if (counters.unloads != nullptr) ++*counters.unloads;
}
