// rtl/Bytes.cpp: the two byte primitives that must not be inlined away.
#include "rtl/Bytes.h"

#include <cstring>

namespace rtl {

void secure_wipe(void* p, size_t n) noexcept {
    if (p == nullptr || n == 0) return;
    std::memset(p, 0, n);
    // The empty asm with the buffer as input tells the compiler the zeros are observed.
    __asm__ __volatile__("" : : "r"(p) : "memory");
}

bool ct_equal(const void* a, const void* b, size_t n) noexcept {
    const volatile uint8_t* x = static_cast<const volatile uint8_t*>(a);
    const volatile uint8_t* y = static_cast<const volatile uint8_t*>(b);
    uint8_t diff = 0;
    for (size_t i = 0; i < n; ++i) diff |= uint8_t(x[i] ^ y[i]);
    return diff == 0;
}

}  // namespace rtl
