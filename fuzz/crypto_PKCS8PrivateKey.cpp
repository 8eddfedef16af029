// fuzz/crypto_PKCS8PrivateKey.cpp: the PKCS#8 key reader on arbitrary bytes (DER or PEM,
// plain or encrypted), under the passphrase the seeds use ("pw").
//
// A load answers a code and never raises, crashes or reads past its input, whatever
// parameters, counts and paddings it claims. What loads is saved plain and encrypted; both
// load again to the same key.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "crypto/base/SBConstants.h"
#include "crypto/keys/SBPKCS8.h"

namespace {

// Absent parameters are written as NULL (RFC 3279's form for rsaEncryption), so a key read
// without parameters reads back with a NULL; both say the same.
ByteString SameParams(ByteString params) {
    return params == ByteString("\x05\x00", 2) ? ByteString() : params;
}

std::string Save(TElPKCS8PrivateKey& key, bool pem, const char* passphrase) {
    size_t n = 0;
    if (key.SaveToBuffer(nullptr, n, pem, passphrase) != SB_PKCS8_ERROR_BUFFER_TOO_SMALL) std::abort();
    std::string out(n, '\0');
    if (key.SaveToBuffer(out.data(), n, pem, passphrase) != 0) std::abort();
    out.resize(n);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TElPKCS8PrivateKey key;
    if (key.LoadFromBuffer(data, size, "pw") != 0) return 0;
    if (key.GetKeyAlgorithm().empty()) return 0;
    key.CipherAlgorithm = SB_ALG_DES;
    key.UsePBES2 = true;
    for (const auto& [pem, passphrase] : {std::pair{false, ""}, {true, ""}, {false, "pw"}}) {
        const std::string saved = Save(key, pem, passphrase);
        TElPKCS8PrivateKey again;
        if (again.LoadFromBuffer(saved.data(), saved.size(), passphrase) != 0) std::abort();
        if (again.GetPrivateKeyBlob() != key.GetPrivateKeyBlob() ||
            again.GetKeyAlgorithm() != key.GetKeyAlgorithm() ||
            SameParams(again.GetKeyAlgorithmParams()) != SameParams(key.GetKeyAlgorithmParams()))
            std::abort();
    }
    return 0;
}
