// rtl/SecureBytes.h: a byte array for secrets (key values, IVs, HMAC keys) whose every
// allocation is wiped before it is given back.
//
// A std::vector that grows copies its bytes to a new block and frees the old one; with this
// allocator the old block is overwritten first, so no copy of a key outlives the array, on
// growth, on assignment or on destruction alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "rtl/Bytes.h"

namespace rtl {

template <class T>
struct WipingAllocator {
    using value_type = T;

    WipingAllocator() noexcept = default;
    template <class U>
    WipingAllocator(const WipingAllocator<U>&) noexcept {}

    T* allocate(size_t n) { return std::allocator<T>().allocate(n); }
    void deallocate(T* p, size_t n) noexcept {
        secure_wipe(p, n * sizeof(T));
        std::allocator<T>().deallocate(p, n);
    }

    template <class U>
    bool operator==(const WipingAllocator<U>&) const noexcept {
        return true;
    }
};

using SecureBytes = std::vector<uint8_t, WipingAllocator<uint8_t>>;

inline SecureBytes ToSecureBytes(std::span<const uint8_t> bytes) {
    return SecureBytes(bytes.begin(), bytes.end());
}

}  // namespace rtl
