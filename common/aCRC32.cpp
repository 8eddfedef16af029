// common/aCRC32.cpp: table-driven CRC-32 (slicing-by-8) and the dispatch to the
// carry-less-multiply path.
#include "common/aCRC32.h"

#include <array>
#include <atomic>
#include <vector>

#include "rtl/Bytes.h"
#include "rtl/Stream.h"

namespace crc32_detail {

// The folding path lives in its own file, compiled with the CPU's carry-less multiply.
bool PclmulSupported();
uint32_t UpdatePclmul(const uint8_t* p, size_t n, uint32_t crc);

namespace {

constexpr uint32_t kPoly = 0xEDB88320u;

constexpr std::array<std::array<uint32_t, 256>, 8> MakeTables() {
    std::array<std::array<uint32_t, 256>, 8> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ kPoly : c >> 1;
        t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
        for (size_t s = 1; s < 8; ++s)
            t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
    return t;
}

constexpr auto kTables = MakeTables();

std::atomic<bool> gForcePortable{false};

}  // namespace

uint32_t UpdatePortable(const uint8_t* p, size_t n, uint32_t crc) {
    while (n >= 8) {
        const uint32_t lo = rtl::load_le32(p) ^ crc;
        const uint32_t hi = rtl::load_le32(p + 4);
        crc = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^
              kTables[4][lo >> 24] ^ kTables[3][hi & 0xFF] ^ kTables[2][(hi >> 8) & 0xFF] ^
              kTables[1][(hi >> 16) & 0xFF] ^ kTables[0][hi >> 24];
        p += 8;
        n -= 8;
    }
    while (n--)
        crc = (crc >> 8) ^ kTables[0][(crc ^ *p++) & 0xFF];
    return crc;
}

bool AcceleratedAvailable() {
    static const bool supported = PclmulSupported();
    return supported;
}

bool ForcePortable(bool force) {
    return gForcePortable.exchange(force);
}

}  // namespace crc32_detail

uint32_t UpdateCRC32(const void* buffer, size_t count, uint32_t crc) {
    const auto* p = static_cast<const uint8_t*>(buffer);
    if (count >= 64 && !crc32_detail::gForcePortable.load(std::memory_order_relaxed) &&
        crc32_detail::AcceleratedAvailable())
        return crc32_detail::UpdatePclmul(p, count, crc);
    return crc32_detail::UpdatePortable(p, count, crc);
}

uint32_t ComputeStreamCRC32(rtl::Stream& stream) {
    const int64_t start = stream.Position();
    // Restore the position on every way out, a failed read included.
    struct Restore {
        rtl::Stream& s;
        int64_t pos;
        ~Restore() {
            try {
                s.SetPosition(pos);
            } catch (...) {
                // A stream that cannot seek back has already failed the read that brought us here.
            }
        }
    } restore{stream, start};

    std::vector<uint8_t> buffer(65520);
    uint32_t crc = 0xFFFFFFFFu;
    for (;;) {
        const size_t got = stream.Read(buffer.data(), buffer.size());
        if (got == 0) break;
        crc = UpdateCRC32(buffer.data(), got, crc);
    }
    return ~crc;
}
