// platform/SystemRandom.cpp: getrandom(2), retried on interruption and short reads.
#include "platform/SystemRandom.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

namespace plat {

void SystemRandomBytes(void* buf, size_t n) {
    auto* p = static_cast<uint8_t*>(buf);
    while (n > 0) {
        const ssize_t got = getrandom(p, n, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw ESystemRandomError(std::string("cannot read the system's random source: ") + std::strerror(errno));
        }
        p += got;
        n -= size_t(got);
    }
}

}  // namespace plat
