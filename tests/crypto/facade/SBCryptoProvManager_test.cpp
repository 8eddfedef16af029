// The provider manager: what its resolvers answer, and how it forgets a provider component
// that is destroyed.
#include "crypto/facade/SBCryptoProvManager.h"

#include <gtest/gtest.h>

#include "crypto/ProviderTestSupport.h"
#include "crypto/builtin/SBCryptoProvDefault.h"

namespace {

TEST(CryptoProviderManager, UnsetPropertiesResolveToTheDefaultProvider) {
    TElCryptoProviderManager manager;
    EXPECT_EQ(TElCryptoProviderManager::ResolvePublicKeyProvider(&manager), DefaultCryptoProvider());
    EXPECT_EQ(TElCryptoProviderManager::ResolveSymmetricKeyProvider(&manager), DefaultCryptoProvider());
    EXPECT_EQ(TElCryptoProviderManager::ResolvePublicKeyProvider(nullptr), nullptr);
    EXPECT_EQ(TElCryptoProviderManager::ResolveSymmetricKeyProvider(nullptr), DefaultCryptoProvider());
}

TEST(CryptoProviderManager, ADestroyedProviderIsForgottenEverywhere) {
    TElCryptoProviderManager manager;
    auto provider = std::make_unique<TElBuiltInCryptoProvider>();
    TElBuiltInCryptoProvider other;
    manager.SetPublicKeyCryptoProvider(provider.get());
    manager.SetPublicKeyCryptoProvider(provider.get());  // the same again: one link
    manager.SetSymmetricKeyCryptoProvider(provider.get());
    manager.SetHashFunctionCryptoProvider(provider.get());
    manager.SetRandomizerCryptoProvider(&other);
    EXPECT_EQ(TElCryptoProviderManager::ResolvePublicKeyProvider(&manager), provider.get());
    EXPECT_EQ(TElCryptoProviderManager::ResolveSymmetricKeyProvider(&manager), provider.get());
    provider.reset();
    EXPECT_EQ(manager.GetPublicKeyCryptoProvider(), nullptr);
    EXPECT_EQ(manager.GetSymmetricKeyCryptoProvider(), nullptr);
    EXPECT_EQ(manager.GetHashFunctionCryptoProvider(), nullptr);
    EXPECT_EQ(manager.GetRandomizerCryptoProvider(), &other);
    EXPECT_EQ(TElCryptoProviderManager::ResolvePublicKeyProvider(&manager), DefaultCryptoProvider());
    EXPECT_EQ(TElCryptoProviderManager::ResolveSymmetricKeyProvider(&manager), DefaultCryptoProvider());
}

TEST(CryptoProviderManager, AReplacedProviderGoingLaterChangesNothing) {
    TElCryptoProviderManager manager;
    TElBuiltInCryptoProvider kept;
    {
        TElBuiltInCryptoProvider replaced;
        manager.SetSymmetricKeyCryptoProvider(&replaced);
        manager.SetSymmetricKeyCryptoProvider(&kept);
    }
    EXPECT_EQ(manager.GetSymmetricKeyCryptoProvider(), &kept);
}

TEST(CryptoProviderManager, AManagerThatGoesFirstIsNotToldLater) {
    // Under AddressSanitizer a notification reaching the destroyed manager would be reported.
    TElBuiltInCryptoProvider provider;
    {
        TElCryptoProviderManager manager;
        manager.SetPublicKeyCryptoProvider(&provider);
    }
    TElCryptoProviderManager second;
    second.SetPublicKeyCryptoProvider(&provider);
    EXPECT_EQ(second.GetPublicKeyCryptoProvider(), &provider);
}

}  // namespace
