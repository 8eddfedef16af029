// rtl/Bytes.h: the one set of byte primitives every unit uses.
//
// Wire formats and algorithms read and write integers byte by byte with explicit endianness
// through these routines, never by casting structures. secure_wipe clears key material in a
// way the compiler cannot drop, and ct_equal compares secrets in time independent of where
// they differ (MACs, paddings, passwords).
#pragma once

#include <cstddef>
#include <cstdint>

namespace rtl {

inline uint16_t load_be16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint16_t load_le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t load_be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint32_t load_le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t load_be64(const uint8_t* p) { return (uint64_t(load_be32(p)) << 32) | load_be32(p + 4); }
inline uint64_t load_le64(const uint8_t* p) { return uint64_t(load_le32(p)) | (uint64_t(load_le32(p + 4)) << 32); }

inline void store_be16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void store_le16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void store_be32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
inline void store_le32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
inline void store_be64(uint8_t* p, uint64_t v) {
    store_be32(p, uint32_t(v >> 32));
    store_be32(p + 4, uint32_t(v));
}
inline void store_le64(uint8_t* p, uint64_t v) {
    store_le32(p, uint32_t(v));
    store_le32(p + 4, uint32_t(v >> 32));
}

inline constexpr uint32_t rotl32(uint32_t x, unsigned n) { return (x << (n & 31)) | (x >> ((32 - n) & 31)); }
inline constexpr uint32_t rotr32(uint32_t x, unsigned n) { return (x >> (n & 31)) | (x << ((32 - n) & 31)); }
inline constexpr uint64_t rotl64(uint64_t x, unsigned n) { return (x << (n & 63)) | (x >> ((64 - n) & 63)); }
inline constexpr uint64_t rotr64(uint64_t x, unsigned n) { return (x >> (n & 63)) | (x << ((64 - n) & 63)); }

// Overwrites n bytes with zeros; the write is not removed by the optimiser.
void secure_wipe(void* p, size_t n) noexcept;

// True when the n bytes at a and b are equal; the time taken depends only on n.
bool ct_equal(const void* a, const void* b, size_t n) noexcept;

}  // namespace rtl
