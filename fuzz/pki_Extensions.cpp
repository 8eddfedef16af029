// fuzz/pki_Extensions.cpp: every known extension's parser on arbitrary values.
//
// The first byte picks the extension and its critical flag; the rest is the value. Parsing
// raises only EElCertificateException (for a critical extension that does not read); what it
// read writes back as an extension that reads again to the same value.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "pki/SBX509Ext.h"

namespace {

const std::string_view kOids[] = {
    {"\x55\x1D\x23", 3}, {"\x55\x1D\x0E", 3}, {"\x55\x1D\x0F", 3}, {"\x55\x1D\x10", 3}, {"\x55\x1D\x20", 3},
    {"\x55\x1D\x21", 3}, {"\x55\x1D\x11", 3}, {"\x55\x1D\x12", 3}, {"\x55\x1D\x13", 3}, {"\x55\x1D\x1E", 3},
    {"\x55\x1D\x24", 3}, {"\x55\x1D\x25", 3}, {"\x55\x1D\x1F", 3}, {"\x2B\x06\x01\x05\x05\x07\x01\x01", 8},
    {"\x60\x86\x48\x01\x86\xF8\x42\x01\x01", 9}, {"\x60\x86\x48\x01\x86\xF8\x42\x01\x0D", 9},
    {"\x55\x04\x03", 3}, {"\x55\x1D\x09", 3}, {"\x2A\x03", 2},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const std::string_view oid = kOids[(data[0] & 0x7F) % std::size(kOids)];
    const bool critical = (data[0] & 0x80) != 0;
    const std::string_view value(reinterpret_cast<const char*>(data + 1), size - 1);
    TElCertificateExtensions ext;
    try {
        TElExtensionReader(ext, critical).ParseExtension(oid, critical, value);
    } catch (const EElCertificateException&) {
        if (!critical) std::abort();
        return 0;
    }
    const TElCustomExtension* x = ext.FindKnown(oid);
    if (x == nullptr) {
        if (ext.OtherExtensions.size() != 1) std::abort();
        x = ext.OtherExtensions[0].get();
    }
    // An empty value is built from the (empty) fields by the classes that build one.
    if (value.empty()) return 0;
    if (x->GetValue() != value) std::abort();
    TElCertificateExtensions again;
    try {
        TElExtensionReader(again, false).ParseExtension(x->GetOID(), false, x->GetValue());
    } catch (const EElCertificateException&) {
        std::abort();
    }
    const TElCustomExtension* y = again.FindKnown(oid);
    if (y == nullptr) y = again.OtherExtensions[0].get();
    if (y->GetValue() != x->GetValue()) std::abort();
    return 0;
}
