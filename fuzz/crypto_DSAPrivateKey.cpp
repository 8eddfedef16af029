// fuzz/crypto_DSAPrivateKey.cpp: DecodeDSAPrivateKey (both blob forms) and the strict DSA
// signature reader on arbitrary bytes.
//
// Nothing may crash or read past its input. A size question must answer the sizes the reading
// then writes; a key that reads must encode (six-INTEGER form) to a blob that reads to the same
// numbers; a signature the strict reader takes must encode to exactly the bytes it was read from.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/pk/SBDSA.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Strip(const Bytes& b) {
    size_t i = 0;
    while (i < b.size() && b[i] == 0)
        ++i;
    return Bytes(b.begin() + long(i), b.end());
}

bool Decode(const uint8_t* data, int32_t size, std::vector<Bytes>& v) {
    int32_t s[5] = {};
    if (DecodeDSAPrivateKey(data, size, nullptr, s[0], nullptr, s[1], nullptr, s[2], nullptr, s[3], nullptr, s[4]))
        std::abort();
    v.assign(5, Bytes());
    int32_t got[5];
    for (int i = 0; i < 5; ++i) {
        v[size_t(i)].resize(size_t(s[i]) + 1);
        got[i] = s[i];
    }
    const bool ok = DecodeDSAPrivateKey(data, size, v[0].data(), got[0], v[1].data(), got[1], v[2].data(), got[2],
                                        v[3].data(), got[3], v[4].data(), got[4]);
    if (!ok) return false;
    for (int i = 0; i < 5; ++i) {
        if (got[i] != s[i]) std::abort();
        v[size_t(i)].resize(size_t(got[i]));
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 14) return 0;
    std::vector<Bytes> v;
    if (Decode(data, int32_t(size), v)) {
        int32_t blobSize = 0;
        EncodeDSAPrivateKey(v[0].data(), int32_t(v[0].size()), v[1].data(), int32_t(v[1].size()), v[2].data(),
                            int32_t(v[2].size()), v[3].data(), int32_t(v[3].size()), v[4].data(), int32_t(v[4].size()),
                            nullptr, blobSize);
        Bytes blob(static_cast<size_t>(blobSize));
        if (!EncodeDSAPrivateKey(v[0].data(), int32_t(v[0].size()), v[1].data(), int32_t(v[1].size()), v[2].data(),
                                 int32_t(v[2].size()), v[3].data(), int32_t(v[3].size()), v[4].data(),
                                 int32_t(v[4].size()), blob.data(), blobSize))
            std::abort();
        std::vector<Bytes> again;
        if (!Decode(blob.data(), blobSize, again)) std::abort();
        for (size_t i = 0; i < 5; ++i)
            if (Strip(again[i]) != Strip(v[i])) std::abort();
    }

    size_t rs = size, ss = size;
    Bytes r(size + 1), s(size + 1);
    if (DSADecodeSignature(data, size, r.data(), rs, s.data(), ss)) {
        size_t outSize = rs + ss + 16;
        Bytes out(outSize);
        if (!DSAEncodeSignature(r.data(), rs, s.data(), ss, out.data(), outSize)) std::abort();
        if (outSize != size || std::memcmp(out.data(), data, size) != 0) std::abort();
    }
    return 0;
}
