// fuzz/crypto_ElgamalPair.cpp: DecodeElgamalPair on arbitrary bytes.
//
// It must never crash or read past its input; a size question answers the sizes the reading
// then writes; a pair that reads encodes again (minimal INTEGERs) to a pair that reads to the
// same numbers, and an input that already was that encoding comes back byte for byte.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/pk/SBElgamal.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The value of an INTEGER content read as unsigned: without its leading zero bytes.
Bytes Strip(const uint8_t* p, int32_t n) {
    int32_t i = 0;
    while (i < n && p[i] == 0)
        ++i;
    return Bytes(p + i, p + n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16) return 0;
    int32_t as = 0, bs = 0;
    if (DecodeElgamalPair(data, int32_t(size), nullptr, as, nullptr, bs)) std::abort();
    Bytes a(size_t(as) + 1), b(size_t(bs) + 1);
    int32_t ag = as, bg = bs;
    if (!DecodeElgamalPair(data, int32_t(size), a.data(), ag, b.data(), bg)) return 0;
    if (ag != as || bg != bs) std::abort();
    int32_t blobSize = ag + bg + 16;
    Bytes blob(static_cast<size_t>(blobSize));
    if (!EncodeElgamalPair(a.data(), ag, b.data(), bg, blob.data(), blobSize)) std::abort();
    Bytes a2(blob.size()), b2(blob.size());
    int32_t a2s = int32_t(blob.size()), b2s = a2s;
    if (!DecodeElgamalPair(blob.data(), blobSize, a2.data(), a2s, b2.data(), b2s)) std::abort();
    if (Strip(a.data(), ag) != Strip(a2.data(), a2s) || Strip(b.data(), bg) != Strip(b2.data(), b2s)) std::abort();
    // Re-encoding the re-encoded pair is a fixed point.
    int32_t again = blobSize + 16;
    Bytes blob2(static_cast<size_t>(again));
    if (!EncodeElgamalPair(a2.data(), a2s, b2.data(), b2s, blob2.data(), again)) std::abort();
    if (again != blobSize || std::memcmp(blob.data(), blob2.data(), size_t(again)) != 0) std::abort();
    return 0;
}
