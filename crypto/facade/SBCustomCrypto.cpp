// crypto/facade/SBCustomCrypto.cpp: the base key material's operations that cannot succeed.
#include "crypto/facade/SBCustomCrypto.h"

void TElKeyMaterial::Assign(const TElKeyMaterial&) {
    throw ECryptoLibraryError(SNotImplemented);
}

std::unique_ptr<TElKeyMaterial> TElKeyMaterial::Clone() const {
    throw ECryptoLibraryError(SNotImplemented);
}
