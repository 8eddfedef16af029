// fuzz/pki_PKCS12Message.cpp: the PFX reader on arbitrary bytes, under the password the seeds
// use ("password").
//
// A load answers a code and never raises, crashes or reads past its input, whatever counts,
// lengths and paddings the file claims. What loads is paired with its keys, written again
// (one fast scheme, one iteration) and read back to the same certificates, each with a
// private key exactly where the first load attached one.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "crypto/base/SBConstants.h"
#include "pki/SBPKCS12.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TElPKCS12Message m;
    m.SetPassword("password");
    if (m.LoadFromBuffer(data, size) != 0) return 0;
    TElMemoryCertStorage& storage = m.GetCertStorage();
    for (int32_t i = 0; i < storage.GetCount(); ++i) {
        rtl::SecureBytes blob;
        (void)m.FindKeyFor(*storage.GetCertificate(i), blob);
    }
    if (storage.GetCount() == 0) return 0;
    m.IterationCount = 1;
    m.SafeAlgorithm = SB_ALG_PKCS12_SHA1_RC4_40;
    m.KeyBagAlgorithm = SB_ALG_PKCS12_SHA1_RC4_40;
    size_t n = 0;
    if (m.SaveToBuffer(nullptr, n) != SB_PKCS12_ERROR_BUFFER_TOO_SMALL) std::abort();
    std::string pfx(n, '\0');
    if (m.SaveToBuffer(pfx.data(), n) != 0) std::abort();
    TElPKCS12Message again;
    again.SetPassword("password");
    if (again.LoadFromBuffer(pfx.data(), n) != 0) std::abort();
    if (again.GetCertStorage().GetCount() != storage.GetCount()) std::abort();
    for (int32_t i = 0; i < storage.GetCount(); ++i)
        if (again.GetCertStorage().GetCertificate(i)->GetDER() != storage.GetCertificate(i)->GetDER() ||
            again.GetCertStorage().GetCertificate(i)->GetPrivateKeyExists() !=
                storage.GetCertificate(i)->GetPrivateKeyExists())
            std::abort();
    return 0;
}
