// rtl/EnumSet.h: a set of an enumeration's values, the class library's "set of" type.
//
// An enumeration of at most 32 values (ordinals 0 to 31) fits one 32-bit mask, bit n standing
// for the value of ordinal n. That mask is what a set property carries through the class
// registry (rtl/ClassRegistry.h) and what the form text writes as identifiers.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace rtl {

template <class E>
class EnumSet {
public:
    constexpr EnumSet() = default;
    constexpr EnumSet(std::initializer_list<E> elements) {
        for (E e : elements)
            Include(e);
    }
    static constexpr EnumSet FromMask(uint32_t mask) {
        EnumSet s;
        s.mask_ = mask;
        return s;
    }

    constexpr bool Contains(E e) const { return (mask_ & Bit(e)) != 0; }
    constexpr void Include(E e) { mask_ |= Bit(e); }
    constexpr void Exclude(E e) { mask_ &= ~Bit(e); }
    constexpr bool Empty() const { return mask_ == 0; }
    constexpr uint32_t Mask() const { return mask_; }
    friend constexpr bool operator==(EnumSet, EnumSet) = default;

private:
    static constexpr uint32_t Bit(E e) { return uint32_t(1) << uint32_t(e); }
    uint32_t mask_ = 0;
};

}  // namespace rtl
