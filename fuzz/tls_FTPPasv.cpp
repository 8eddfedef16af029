// Fuzz target: the FTP client's reading of a 227 reply's address. An address read is four
// numbers of at most 255 joined by dots, and the port fits in 16 bits.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tls/SBSimpleFTPS.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string host;
    int32_t port = -1;
    try {
        ParsePasvReply(text, host, port);
    } catch (const EFTPSError&) {
        return 0;
    }
    if (port < 0 || port > 65535) std::abort();
    int dots = 0;
    size_t digits = 0;
    int value = 0;
    for (char c : host + ".") {
        if (c == '.') {
            if (digits == 0 || value > 255) std::abort();
            ++dots;
            digits = 0;
            value = 0;
        } else if (c >= '0' && c <= '9') {
            ++digits;
            value = value * 10 + (c - '0');
            if (digits > 3) std::abort();
        } else {
            std::abort();
        }
    }
    if (dots != 4) std::abort();
    return 0;
}
