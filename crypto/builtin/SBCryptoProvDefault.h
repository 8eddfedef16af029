// crypto/builtin/SBCryptoProvDefault.h: the provider every facade uses when its caller names none.
//
// The default provider type is TElBuiltInCryptoProvider from program start. The instance is
// made on first use, exactly once even when threads race for it, and lives until program end.
// SetDefaultCryptoProviderType makes another class the type and forgets the current instance
// for later calls, but that instance stays alive (and usable by the objects that hold it)
// until program end as well: nothing that still refers to it is left dangling. The framework's
// TElCustomCryptoProvider::RegisterDefaultClass (and so every provider's SetAsDefault) leads
// here; it is defined in this unit's .cpp.
#pragma once

#include "crypto/prov/SBCryptoProv.h"

TElCustomCryptoProvider* DefaultCryptoProvider();
void SetDefaultCryptoProviderType(TElCryptoProviderClass providerClass);
