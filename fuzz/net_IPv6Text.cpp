// Fuzz target: IPv6 address texts of any content (hosts of URLs, SOCKS destinations). The
// canonical text is empty or eight groups that the C library reads as the same address as
// the input, and normalising it again gives the same address; every text the C library reads
// as an IPv6 address is accepted.
#include <arpa/inet.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/IdGlobal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string canonical = NormalizeIPv6Text(text);
    in6_addr fromInput{}, fromCanonical{};
    const bool libcReads = text.find('\0') == std::string::npos && inet_pton(AF_INET6, text.c_str(), &fromInput) == 1;
    if (canonical.empty()) {
        if (libcReads) std::abort();
        return 0;
    }
    if (inet_pton(AF_INET6, canonical.c_str(), &fromCanonical) != 1) std::abort();
    const std::string again = NormalizeIPv6Text(canonical);
    in6_addr fromAgain{};
    if (inet_pton(AF_INET6, again.c_str(), &fromAgain) != 1 ||
        std::memcmp(&fromAgain, &fromCanonical, sizeof fromAgain) != 0)
        std::abort();
    if (libcReads && std::memcmp(&fromInput, &fromCanonical, sizeof fromInput) != 0) std::abort();
    return 0;
}
