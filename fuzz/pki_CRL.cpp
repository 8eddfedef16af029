// fuzz/pki_CRL.cpp: the revocation list reader on arbitrary bytes.
//
// A load answers a code (raising only EElCertificateException for a critical authority key
// identifier that is not one SEQUENCE); it never crashes or reads past its input. Whatever
// loads saves back its DER, which loads again to the same entries and extensions.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "pki/SBCRL.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TElCertificateRevocationList crl;
    int32_t r = 0;
    try {
        r = crl.LoadFromBuffer(data, size);
    } catch (const EElCertificateException&) {
        return 0;
    }
    size_t n = 0;
    if (r != 0) {
        if (crl.SaveToBuffer(nullptr, n) != SB_CRL_ERROR_NOTHING_LOADED) std::abort();
        return 0;
    }
    if (crl.SaveToBuffer(nullptr, n) != SB_CRL_ERROR_BUFFER_TOO_SMALL) std::abort();
    std::string der(n, '\0');
    if (crl.SaveToBuffer(der.data(), n) != 0) std::abort();
    TElCertificateRevocationList again;
    if (again.LoadFromBuffer(der.data(), der.size()) != 0) std::abort();
    if (again.GetCount() != crl.GetCount() || again.Version != crl.Version ||
        again.Issuer.SaveToDER() != crl.Issuer.SaveToDER() || again.Extensions.Included != crl.Extensions.Included)
        std::abort();
    for (int32_t i = 0; i < crl.GetCount(); ++i) {
        const TElRevocationItem& a = *crl.GetItem(i);
        const TElRevocationItem& b = *again.GetItem(i);
        if (a.SerialNumber != b.SerialNumber || a.Extensions.Included != b.Extensions.Included) std::abort();
        if ((a.Extensions.Included & crlReasonCode) &&
            a.Extensions.ReasonCode->GetValue() != b.Extensions.ReasonCode->GetValue())
            std::abort();
    }
    TElX509Certificate none;
    (void)crl.IsRevoked(&none);
    return 0;
}
