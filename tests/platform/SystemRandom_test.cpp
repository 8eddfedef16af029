// The kernel's random source.
#include "platform/SystemRandom.h"

#include <array>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(SystemRandom, FillsEveryByteAndNeverRepeats) {
    // One large request (bigger than a single getrandom call returns) reaches every byte value,
    // and leaves no long run of an untouched fill pattern.
    std::vector<uint8_t> buf(1 << 21, 0);
    plat::SystemRandomBytes(buf.data(), buf.size());
    std::array<size_t, 256> counts{};
    for (auto b : buf)
        ++counts[b];
    for (int v = 0; v < 256; ++v)
        EXPECT_GT(counts[v], 0u) << v;
    // Each value's count is near size/256 = 8192: a stuck or biased source falls far outside.
    for (int v = 0; v < 256; ++v) {
        EXPECT_GT(counts[v], 7000u) << v;
        EXPECT_LT(counts[v], 9400u) << v;
    }
    size_t run = 0, longest = 0;
    for (auto b : buf) {
        run = b == 0 ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    EXPECT_LT(longest, 8u);

    std::array<uint8_t, 32> a{}, b{};
    plat::SystemRandomBytes(a.data(), a.size());
    plat::SystemRandomBytes(b.data(), b.size());
    EXPECT_NE(a, b);
    plat::SystemRandomBytes(nullptr, 0);  // nothing asked, nothing done
}

}  // namespace
