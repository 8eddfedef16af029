// fuzz/crypto_KeyMaterialLoad.cpp: the key materials' LoadSecret and LoadPublic on arbitrary
// bytes, as DER and inside a PEM armour: RSA secret keys, RSA public keys in both forms
// (SubjectPublicKeyInfo and the bare RSAPublicKey), and DSA secret keys.
//
// A load either succeeds or raises one of the library's errors; nothing may crash, read past
// the input or raise anything else. A key that loads must save and load again to the same
// bytes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "crypto/keys/SBPEM.h"
#include "crypto/keys/SBPublicKeyCrypto.h"

namespace {

std::string Saved(const TElPublicKeyMaterial& key, bool secret) {
    size_t size = 0;
    secret ? key.SaveSecret(nullptr, size) : key.SavePublic(nullptr, size);
    std::string out(size, '\0');
    if (size > 0) secret ? key.SaveSecret(out.data(), size) : key.SavePublic(out.data(), size);
    out.resize(size);
    return out;
}

template <class Material>
void Load(const std::string& input, bool secret, bool raw) {
    Material key;
    if constexpr (std::is_same_v<Material, TElRSAKeyMaterial>) key.SetRawKey(raw);
    key.KeyPassphrase = "fuzz";
    try {
        secret ? key.LoadSecret(input.data(), input.size()) : key.LoadPublic(input.data(), input.size());
    } catch (const ECryptoLibraryError&) {
        return;
    }
    const std::string saved = Saved(key, secret);
    Material again;
    if constexpr (std::is_same_v<Material, TElRSAKeyMaterial>) again.SetRawKey(raw);
    try {
        secret ? again.LoadSecret(saved.data(), saved.size()) : again.LoadPublic(saved.data(), saved.size());
    } catch (const ECryptoLibraryError&) {
        std::abort();  // what we wrote, we must read
    }
    if (Saved(again, secret) != saved) std::abort();
}

std::string Armoured(const uint8_t* data, size_t size) {
    int32_t n = 0;
    PEMEncode(data, int32_t(size), nullptr, n, "RSA PRIVATE KEY", false, "");
    std::string text(size_t(n), '\0');
    PEMEncode(data, int32_t(size), text.data(), n, "RSA PRIVATE KEY", false, "");
    text.resize(size_t(n));
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 14) return 0;
    const std::string der(reinterpret_cast<const char*>(data), size);
    for (const std::string& input : {der, Armoured(data, size)}) {
        Load<TElRSAKeyMaterial>(input, true, false);
        Load<TElRSAKeyMaterial>(input, false, false);
        Load<TElRSAKeyMaterial>(input, false, true);
        Load<TElDSAKeyMaterial>(input, true, false);
    }
    return 0;
}
