// crypto/facade/SBCryptoProvManager.cpp: the manager's properties and resolvers.
#include "crypto/facade/SBCryptoProvManager.h"

#include "crypto/builtin/SBCryptoProvDefault.h"

void TElCryptoProviderManager::Set(Slot& slot, TElCustomCryptoProvider* value) {
    if (slot.provider == value) return;
    slot.provider = value;
    slot.component = value;
    if (value != nullptr) value->FreeNotification(this);
}

void TElCryptoProviderManager::Notification(rtl::Component* component, Operation operation) {
    rtl::Component::Notification(component, operation);
    if (operation != Operation::Remove) return;
    for (Slot* slot : {&publicKey_, &symmetricKey_, &hashFunction_, &randomizer_}) {
        if (slot->component == component) *slot = Slot{};
    }
}

TElCustomCryptoProvider* TElCryptoProviderManager::ResolvePublicKeyProvider(const TElCryptoProviderManager* manager) {
    if (manager == nullptr) return nullptr;
    return manager->publicKey_.provider != nullptr ? manager->publicKey_.provider : DefaultCryptoProvider();
}

TElCustomCryptoProvider* TElCryptoProviderManager::ResolveSymmetricKeyProvider(
    const TElCryptoProviderManager* manager) {
    if (manager != nullptr && manager->symmetricKey_.provider != nullptr) return manager->symmetricKey_.provider;
    return DefaultCryptoProvider();
}
