// Fuzz target: the readers of the hello extensions (server name, maximum fragment length,
// client certificate URLs, trusted CA keys, certificate status, user name, client
// certificate type, session ticket, certificate hash types), each given the extension_data a
// peer sent. The first byte picks the class. Whatever was read can be written back, and what
// is written reads again.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "rtl/Exception.h"
#include "tls/SBSSLCommon.h"

namespace {

std::unique_ptr<TElCustomSSLExtension> Make(uint8_t kind) {
    switch (kind % 10) {
        case 0: return std::make_unique<TElServerNameSSLExtension>();
        case 1: return std::make_unique<TElMaxFragmentLengthSSLExtension>();
        case 2: return std::make_unique<TElClientCertURLsSSLExtension>();
        case 3: return std::make_unique<TElTrustedCAsSSLExtension>();
        case 4: return std::make_unique<TElCertificateStatusSSLExtension>();
        case 5: return std::make_unique<TElUserNameSSLExtension>();
        case 6: return std::make_unique<TElClientCertificateTypeSSLExtension>();
        case 7: return std::make_unique<TElSessionTicketSSLExtension>();
        case 8: return std::make_unique<TElCertHashTypesSSLExtension>();
        default: return std::make_unique<TElCustomSSLExtension>();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t kind = data[0];
    const ByteArray input(data + 1, data + size);
    auto extension = Make(kind);
    extension->ServerSide = (kind & 0x80) != 0;
    try {
        extension->SetExtensionData(input);
    } catch (const rtl::Exception&) {
        return 0;
    }
    try {
        const ByteArray written = extension->GetExtensionData();
        auto again = Make(kind);
        again->ServerSide = extension->ServerSide;
        again->SetExtensionData(written);
        (void)again->GetExtensionData();
    } catch (const rtl::Exception&) {
        // A setting read from the peer that cannot be written back is refused, not a fault.
    }
    return 0;
}
