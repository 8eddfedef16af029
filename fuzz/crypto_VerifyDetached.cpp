// fuzz/crypto_VerifyDetached.cpp: signature bytes from outside handed to VerifyDetached of the
// RSA crypto (PKCS#1 v1.5 with a fixed hash and with the hash the block names, without the
// DigestInfo prefix, ssl-hash, PSS) and of the DSA crypto, over keys made once.
//
// A verification either answers a verdict or raises one of the library's errors; nothing may
// crash, read past the signature or raise anything else, and no input may verify: the
// signatures here are not made with the keys' secret parts.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "crypto/base/SBConstants.h"
#include "crypto/keys/SBPublicKeyCrypto.h"

namespace {

struct Keys {
    Keys() {
        rsa.Generate(1024);
        rsa.ClearSecret();
        dsa.GenerateQ(1024, 160);
        dsa.ClearSecret();
    }
    TElRSAKeyMaterial rsa;
    TElDSAKeyMaterial dsa;
};

void Verify(TElPublicKeyCrypto& crypto, const uint8_t* sig, size_t size) {
    static const char data[] = "the data that was signed";
    try {
        if (crypto.VerifyDetached(data, sizeof data - 1, sig, size) == 0) std::abort();
    } catch (const ECryptoLibraryError&) {
        // A signature that does not even parse.
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Keys keys;
    if (size > 1024) return 0;
    auto sha256 = TElRSAPublicKeyCrypto::CreateByOID(SB_OID_SHA256_RSA);
    TElRSAPublicKeyCrypto bare;
    TElRSAPublicKeyCrypto noPrefix;
    noPrefix.SetUseAlgorithmPrefix(false);
    noPrefix.SetHashAlgorithm(SB_ALG_SHA1);
    TElRSAPublicKeyCrypto ssl;  // the TLS form: the caller hands in the 36 hash bytes
    ssl.SetScheme(3);
    ssl.SetInputIsHash(true);
    auto pss = TElRSAPublicKeyCrypto::CreateByOID(SB_OID_RSASSA_PSS);
    pss->SetHashAlgorithm(SB_ALG_SHA256);
    for (TElPublicKeyCrypto* c : {static_cast<TElPublicKeyCrypto*>(sha256.get()), static_cast<TElPublicKeyCrypto*>(&bare),
                                  static_cast<TElPublicKeyCrypto*>(&noPrefix), static_cast<TElPublicKeyCrypto*>(&ssl),
                                  static_cast<TElPublicKeyCrypto*>(pss.get())}) {
        c->SetKeyMaterial(&keys.rsa);
        Verify(*c, data, size);
    }
    TElDSAPublicKeyCrypto dsa;
    dsa.SetKeyMaterial(&keys.dsa);
    Verify(dsa, data, size);
    return 0;
}
