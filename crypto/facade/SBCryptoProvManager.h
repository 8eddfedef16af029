// crypto/facade/SBCryptoProvManager.h: TElCryptoProviderManager, a component through which an
// application assigns providers per kind of work. The TLS client holds one (it may be unset)
// and asks it, before every key, cipher or digest it makes, which provider to use.
//
// The manager never owns its providers: they are components of their own. It links itself to
// each provider it is given for free notification, so when a provider component is destroyed
// every property that refers to it becomes null, and the resolvers answer the default provider
// again. Properties are set while no operation runs.
#pragma once

#include "crypto/prov/SBCryptoProv.h"
#include "rtl/Component.h"

class TElCryptoProviderManager final : public rtl::Component {
public:
    explicit TElCryptoProviderManager(rtl::Component* owner = nullptr) : rtl::Component(owner) {}

    TElCustomCryptoProvider* GetPublicKeyCryptoProvider() const { return publicKey_.provider; }
    void SetPublicKeyCryptoProvider(TElCustomCryptoProvider* value) { Set(publicKey_, value); }
    TElCustomCryptoProvider* GetSymmetricKeyCryptoProvider() const { return symmetricKey_.provider; }
    void SetSymmetricKeyCryptoProvider(TElCustomCryptoProvider* value) { Set(symmetricKey_, value); }
    // Stored only; no resolver reads these two.
    TElCustomCryptoProvider* GetHashFunctionCryptoProvider() const { return hashFunction_.provider; }
    void SetHashFunctionCryptoProvider(TElCustomCryptoProvider* value) { Set(hashFunction_, value); }
    TElCustomCryptoProvider* GetRandomizerCryptoProvider() const { return randomizer_.provider; }
    void SetRandomizerCryptoProvider(TElCustomCryptoProvider* value) { Set(randomizer_, value); }

    // Null for a null manager; otherwise the public-key provider, or the default one when it
    // is unset. The facades read null as the default provider.
    static TElCustomCryptoProvider* ResolvePublicKeyProvider(const TElCryptoProviderManager* manager);
    // Always a usable provider: the manager's symmetric-key provider, else the default one.
    static TElCustomCryptoProvider* ResolveSymmetricKeyProvider(const TElCryptoProviderManager* manager);

protected:
    void Notification(rtl::Component* component, Operation operation) override;

private:
    // A provider and its address as a component, taken while it was alive: a component that
    // is being destroyed is recognised by that address alone.
    struct Slot {
        TElCustomCryptoProvider* provider = nullptr;
        rtl::Component* component = nullptr;
    };
    void Set(Slot& slot, TElCustomCryptoProvider* value);

    Slot publicKey_;
    Slot symmetricKey_;
    Slot hashFunction_;
    Slot randomizer_;
};
