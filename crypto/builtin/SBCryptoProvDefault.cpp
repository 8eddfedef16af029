// crypto/builtin/SBCryptoProvDefault.cpp: the default provider's registration.
//
// One mutex guards the type and the instance list; the current instance is also published in
// an atomic, so the common call (the instance exists) takes no lock. Instances are freed, in
// the reverse order of their creation, when the registration itself is destroyed at exit.
#include "crypto/builtin/SBCryptoProvDefault.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "crypto/builtin/SBCryptoProvBuiltIn.h"

namespace {

struct Registration {
    std::mutex mutex;
    TElCryptoProviderClass type = &TElBuiltInCryptoProvider::CreateInstance;
    std::atomic<TElCustomCryptoProvider*> current{nullptr};
    // Every instance ever made, the current one last.
    std::vector<std::unique_ptr<TElCustomCryptoProvider>> instances;

    ~Registration() {
        current.store(nullptr);
        while (!instances.empty())
            instances.pop_back();
    }
};

Registration& TheRegistration() {
    static Registration registration;
    return registration;
}

}  // namespace

TElCustomCryptoProvider* DefaultCryptoProvider() {
    Registration& r = TheRegistration();
    if (TElCustomCryptoProvider* p = r.current.load(std::memory_order_acquire)) return p;
    std::lock_guard<std::mutex> lock(r.mutex);
    if (TElCustomCryptoProvider* p = r.current.load(std::memory_order_relaxed)) return p;
    r.instances.push_back(r.type(nullptr));
    TElCustomCryptoProvider* made = r.instances.back().get();
    r.current.store(made, std::memory_order_release);
    return made;
}

void SetDefaultCryptoProviderType(TElCryptoProviderClass providerClass) {
    Registration& r = TheRegistration();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.type = providerClass;
    r.current.store(nullptr, std::memory_order_release);
}

// The framework's registration call, declared with the provider component (SBCryptoProv.h).
void TElCustomCryptoProvider::RegisterDefaultClass(TElCryptoProviderClass providerClass) {
    SetDefaultCryptoProviderType(providerClass);
}
