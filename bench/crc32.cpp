// bench/crc32.cpp: CRC-32 of a 256 MiB buffer, ours against zlib's crc32 in the same run.
// Prints "crc32 <ours ms> <zlib ms> ms <speed>" (bench/BenchLine.h); the goal is a speed of at
// least 1.0.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "bench/BenchLine.h"
#include "common/aCRC32.h"

int main() {
    const size_t size = size_t(256) << 20;
    std::vector<unsigned char> buf(size);
    for (size_t i = 0; i < size; ++i)
        buf[i] = static_cast<unsigned char>((i * 2654435761u) >> 13);

    auto best = [&](auto fn) {
        double ms = 1e300;
        for (int round = 0; round < 5; ++round) {
            const auto t0 = std::chrono::steady_clock::now();
            fn();
            const auto t1 = std::chrono::steady_clock::now();
            ms = std::min(ms, std::chrono::duration<double, std::milli>(t1 - t0).count());
        }
        return ms;
    };
    volatile uint32_t sink = 0;
    const double ours = best([&] { sink = sink + CRC32Of(buf.data(), buf.size()); });
    const double zl = best([&] { sink = sink + uint32_t(crc32(0, buf.data(), uInt(buf.size()))); });
    if (CRC32Of(buf.data(), buf.size()) != uint32_t(crc32(0, buf.data(), uInt(buf.size())))) {
        std::fprintf(stderr, "crc32: results differ\n");
        return 1;
    }
    bench::PrintTimes("crc32", ours, zl);
    return 0;
}
