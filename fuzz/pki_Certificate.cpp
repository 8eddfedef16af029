// fuzz/pki_Certificate.cpp: the certificate reader on arbitrary bytes.
//
// A load either succeeds or raises EElCertificateException; it never crashes or reads past its
// input. Whatever loads saves back its DER, the saved DER loads again to the same names,
// serial, TBS part and extension values, and a copy reads the same.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "pki/SBX509.h"

namespace {

std::string Save(const TElX509Certificate& c) {
    size_t size = 0;
    c.SaveToBuffer(nullptr, size);
    std::string out(size, '\0');
    if (!c.SaveToBuffer(out.data(), size)) std::abort();
    return out;
}

void Same(const TElX509Certificate& a, const TElX509Certificate& b) {
    if (a.GetDER() != b.GetDER() || a.GetTBSBytes() != b.GetTBSBytes()) std::abort();
    if (a.GetIssuerRDN().SaveToDER() != b.GetIssuerRDN().SaveToDER()) std::abort();
    if (!RDNsEqual(a.GetSubjectRDN(), b.GetSubjectRDN())) std::abort();
    if (a.GetSerialNumber() != b.GetSerialNumber() || a.GetSignature() != b.GetSignature()) std::abort();
    const auto& x = a.GetExtensions();
    const auto& y = b.GetExtensions();
    if (x.Included != y.Included || x.Met().size() != y.Met().size()) std::abort();
    for (size_t i = 0; i < x.Met().size(); ++i) {
        const TElCustomExtension* ex = x.FindKnown(x.Met()[i].OID);
        const TElCustomExtension* ey = y.FindKnown(y.Met()[i].OID);
        if ((ex == nullptr) != (ey == nullptr)) std::abort();
        if (ex != nullptr && ex->SaveToDER() != ey->SaveToDER()) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TElX509Certificate cert;
    try {
        cert.LoadFromBuffer(data, size);
    } catch (const EElCertificateException&) {
        return 0;
    }
    if (cert.GetTBSOffset() + cert.GetTBSSize() > cert.GetCertificateSize()) std::abort();
    const std::string der = Save(cert);
    TElX509Certificate again;
    again.LoadFromBuffer(der.data(), der.size());  // must not raise: it loaded once
    Same(cert, again);
    TElX509Certificate copy;
    cert.CopyTo(&copy, true);
    Same(cert, copy);
    // The parameter getters answer sizes and never raise for a key they fit.
    size_t a = 0, b = 0;
    try {
        cert.GetRSAParams(nullptr, a, nullptr, b);
    } catch (const EElCertificateException&) {
    }
    (void)cert.GetKeyBits();
    (void)cert.IsSelfSigned();
    return 0;
}
