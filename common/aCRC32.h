// common/aCRC32.h: the CRC-32 checksum of ISO-HDLC / IEEE 802.3 (reflected polynomial
// 0xEDB88320, register starts at 0xFFFFFFFF, all bits inverted at the end).
//
// The verification compares a workstation file's checksum with its requisite's, so this runs
// over every file of an update with "/check": it must be at least as fast as zlib. A
// carry-less-multiply path is used where the CPU has it, slicing-by-8 tables elsewhere; both
// give the same register for every input.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rtl {
class Stream;
}

// The register after `count` more bytes; no inversion here. A count of 0 returns the
// register unchanged.
uint32_t UpdateCRC32(const void* buffer, size_t count, uint32_t crc);

// CRC-32 of the stream's bytes from its position to its end; the position is restored
// afterwards, also when reading fails.
uint32_t ComputeStreamCRC32(rtl::Stream& stream);

// The whole checksum of a buffer (start value, update, final inversion).
inline uint32_t CRC32Of(const void* buffer, size_t count) {
    return ~UpdateCRC32(buffer, count, 0xFFFFFFFFu);
}

namespace crc32_detail {
// The portable path alone (tests run both paths over the same inputs).
uint32_t UpdatePortable(const uint8_t* p, size_t n, uint32_t crc);
// True when the carry-less-multiply path is compiled in and the CPU supports it.
bool AcceleratedAvailable();
// Forces the portable path (for tests); returns the previous setting.
bool ForcePortable(bool force);
}  // namespace crc32_detail
