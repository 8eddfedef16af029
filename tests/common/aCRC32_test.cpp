// CRC-32: known answers, agreement with zlib on random buffers of many sizes and split points,
// for the table path and the carry-less-multiply path alike, and the stream form.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "common/aCRC32.h"
#include "rtl/Stream.h"

namespace {

struct PathGuard {
    explicit PathGuard(bool portable) : previous(crc32_detail::ForcePortable(portable)) {}
    ~PathGuard() { crc32_detail::ForcePortable(previous); }
    bool previous;
};

class CRC32Paths : public ::testing::TestWithParam<bool> {};

TEST_P(CRC32Paths, KnownAnswers) {
    PathGuard guard(GetParam());
    EXPECT_EQ(CRC32Of("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(CRC32Of("abc", 3), 0x352441C2u);
    EXPECT_EQ(CRC32Of("", 0), 0u);
    const std::string a(1000, 'a');
    EXPECT_EQ(CRC32Of(a.data(), a.size()),
              uint32_t(crc32(0, reinterpret_cast<const Bytef*>(a.data()), 1000)));
}

TEST_P(CRC32Paths, AgreesWithZlibOnRandomBuffersAndSplits) {
    PathGuard guard(GetParam());
    std::mt19937_64 rng(12345);
    std::vector<uint8_t> buf(1 << 17);
    for (auto& b : buf)
        b = uint8_t(rng());
    const size_t sizes[] = {0,   1,   7,   8,   15,  16,   17,   63,    64,    65,
                            127, 128, 129, 255, 256, 1000, 4096, 65520, 65537, 131072};
    for (size_t n : sizes) {
        for (size_t offset : {size_t(0), size_t(1), size_t(3), size_t(13)}) {
            if (offset + n > buf.size()) continue;
            const uint8_t* p = buf.data() + offset;
            const uint32_t want = uint32_t(crc32(0, p, uInt(n)));
            EXPECT_EQ(CRC32Of(p, n), want) << "size " << n << " offset " << offset;
            // Split into two updates at several points: the register carries across.
            for (size_t cut : {size_t(0), size_t(1), n / 3, n / 2, n > 0 ? n - 1 : 0}) {
                if (cut > n) continue;
                uint32_t r = UpdateCRC32(p, cut, 0xFFFFFFFFu);
                r = UpdateCRC32(p + cut, n - cut, r);
                EXPECT_EQ(~r, want) << "size " << n << " cut " << cut;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, CRC32Paths, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Portable" : "Dispatched"; });

TEST(CRC32, AcceleratedPathIsExercisedWhereAvailable) {
    if (!crc32_detail::AcceleratedAvailable()) GTEST_SKIP() << "this CPU has no carry-less multiply";
    std::vector<uint8_t> buf(4096, 0x5A);
    EXPECT_EQ(crc32_detail::UpdatePortable(buf.data(), buf.size(), 0xFFFFFFFFu),
              UpdateCRC32(buf.data(), buf.size(), 0xFFFFFFFFu));
}

TEST(CRC32, StreamFromItsPositionAndRestored) {
    rtl::MemoryStream s;
    s.WriteBuffer("xxabc", 5);
    s.SetPosition(2);
    EXPECT_EQ(ComputeStreamCRC32(s), 0x352441C2u);
    EXPECT_EQ(s.Position(), 2);
    rtl::MemoryStream empty;
    EXPECT_EQ(ComputeStreamCRC32(empty), 0u);

    std::vector<uint8_t> big(200000);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = uint8_t(i * 7);
    rtl::MemoryStream b;
    b.WriteBuffer(big.data(), big.size());
    b.SetPosition(0);
    EXPECT_EQ(ComputeStreamCRC32(b), uint32_t(crc32(0, big.data(), uInt(big.size()))));
    EXPECT_EQ(b.Position(), 0);
}

}  // namespace
