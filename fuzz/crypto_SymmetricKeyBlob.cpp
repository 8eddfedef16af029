// fuzz/crypto_SymmetricKeyBlob.cpp: the built-in symmetric key blob reader, and the key
// material's stream reader in front of it, on arbitrary bytes.
//
// Reading must never crash or read past its input. A blob that is accepted must export again
// to exactly the bytes it was read from (its own length, K + I + 38), and the stream reader
// must accept exactly what the blob reader accepts.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "crypto/builtin/SBCryptoProvBuiltIn.h"
#include "crypto/facade/SBSymmetricCrypto.h"
#include "rtl/Stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TElBuiltInCryptoProvider provider;
    TElCustomCryptoKey* key = provider.CreateKey(0x7022, 0);
    bool accepted = true;
    try {
        key->ImportSecret(data, size);
    } catch (const rtl::Exception&) {
        accepted = false;
    }
    if (accepted) {
        size_t needed = 0;
        key->ExportSecret(nullptr, needed);
        if (needed > size) std::abort();
        uint8_t* out = static_cast<uint8_t*>(std::malloc(needed));
        size_t written = needed;
        key->ExportSecret(out, written);
        if (written != needed || std::memcmp(out, data, needed) != 0) std::abort();
        std::free(out);
    }
    provider.ReleaseKey(key);

    TElSymmetricKeyMaterial material(&provider);
    rtl::MemoryStream stream(std::string(reinterpret_cast<const char*>(data), size));
    bool streamAccepted = true;
    try {
        material.LoadFromStream(stream);
    } catch (const rtl::Exception&) {
        streamAccepted = false;
    }
    if (streamAccepted != accepted) std::abort();
    return 0;
}
