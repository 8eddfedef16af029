// Prints whether the process's security interface (GSSAPI with NTLMSSP) is available: "available",
// or "unavailable: " and the reason. A process of its own, so the tests can start it with
// another GSSAPI mechanism configuration (the library reads that once per process).
#include <cstdio>

#include "tls/SBHTTPAuth.h"

int main() {
    const TSBSecurityInterface& binding = SecurityInterface();
    if (binding.Available())
        std::printf("available\n");
    else
        std::printf("unavailable: %s\n", binding.Reason().c_str());
    return 0;
}
