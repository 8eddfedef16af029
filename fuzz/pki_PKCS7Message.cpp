// fuzz/pki_PKCS7Message.cpp: the PKCS#7 message reader on arbitrary bytes.
//
// A load answers a code and never raises, crashes or reads past its input. Whatever loads is
// written in both length forms; each form loads again and writes the same bytes again, so the
// writer never produces what the reader refuses or reads differently.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "pki/SBPKCS7.h"

namespace {

std::string Save(TElPKCS7Message& m) {
    size_t n = 0;
    if (m.SaveToBuffer(nullptr, n)) std::abort();
    std::string out(n, '\0');
    if (!m.SaveToBuffer(out.data(), n)) std::abort();
    out.resize(n);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TElPKCS7Message m;
    if (m.LoadFromBuffer(data, size) != 0) return 0;
    for (const bool indefinite : {true, false}) {
        m.IndefiniteLength = indefinite;
        const std::string first = Save(m);
        TElPKCS7Message again;
        again.IndefiniteLength = indefinite;
        if (again.LoadFromBuffer(first.data(), first.size()) != 0) std::abort();
        if (again.ContentType != m.ContentType) std::abort();
        if (Save(again) != first) std::abort();
    }
    return 0;
}
