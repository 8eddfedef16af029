// fuzz/crypto_RSAKeyBlobs.cpp: the RSA key readers (DecodeRSAPrivateKey,
// DecodeRSAPrivateKeyComponents and both forms of DecodeRSAPublicKey) on arbitrary bytes.
//
// No reader may crash or read past its input. A size question must answer the sizes the
// reading then writes; a blob the nine-value reader takes must give the three-value reader the
// same n, e and d; and a public key that reads must encode again to a key that reads to the
// same numbers.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/base/SBConstants.h"
#include "crypto/pk/SBRSA.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Strip(const uint8_t* p, int32_t n) {
    int32_t i = 0;
    while (i < n && p[i] == 0)
        ++i;
    return Bytes(p + i, p + n);
}

void PrivateKey(const uint8_t* data, int32_t size) {
    int32_t sizes[8] = {};
    const bool asked = DecodeRSAPrivateKeyComponents(data, size, nullptr, sizes[0], nullptr, sizes[1], nullptr,
                                                     sizes[2], nullptr, sizes[3], nullptr, sizes[4], nullptr, sizes[5],
                                                     nullptr, sizes[6], nullptr, sizes[7]);
    if (asked) std::abort();
    std::vector<Bytes> values(8, Bytes(size_t(size) + 1));
    int32_t got[8];
    for (int i = 0; i < 8; ++i)
        got[i] = size + 1;
    const bool nine = DecodeRSAPrivateKeyComponents(
        data, size, values[0].data(), got[0], values[1].data(), got[1], values[2].data(), got[2], values[3].data(),
        got[3], values[4].data(), got[4], values[5].data(), got[5], values[6].data(), got[6], values[7].data(), got[7]);
    if (nine) {
        for (int i = 0; i < 8; ++i)
            if (got[i] != sizes[i]) std::abort();
    }
    Bytes n(size_t(size) + 1), e(n.size()), d(n.size());
    int32_t ns = size + 1, es = ns, ds = ns;
    const bool three = DecodeRSAPrivateKey(data, size, n.data(), ns, e.data(), es, d.data(), ds);
    if (nine && !three) std::abort();
    if (nine && (ns != got[0] || std::memcmp(n.data(), values[0].data(), size_t(ns)) != 0 || es != got[1] ||
                 std::memcmp(e.data(), values[1].data(), size_t(es)) != 0 || ds != got[2] ||
                 std::memcmp(d.data(), values[2].data(), size_t(ds)) != 0))
        std::abort();
}

void PublicKey(const uint8_t* data, int32_t size, bool raw) {
    Bytes n(size_t(size) + 1), e(n.size());
    int32_t ns = size + 1, es = ns;
    ByteString oid;
    if (!DecodeRSAPublicKey(data, size, n.data(), ns, e.data(), es, oid, raw)) return;
    if (!raw && oid != SB_OID_RSA_ENCRYPTION) std::abort();
    int32_t outSize = 0;
    if (EncodeRSAPublicKey(n.data(), ns, e.data(), es, oid, nullptr, outSize, raw)) std::abort();
    Bytes again(static_cast<size_t>(outSize));
    if (!EncodeRSAPublicKey(n.data(), ns, e.data(), es, oid, again.data(), outSize, raw)) std::abort();
    Bytes n2(again.size()), e2(again.size());
    int32_t ns2 = int32_t(again.size()), es2 = ns2;
    ByteString oid2;
    if (!DecodeRSAPublicKey(again.data(), outSize, n2.data(), ns2, e2.data(), es2, oid2, raw)) std::abort();
    if (Strip(n.data(), ns) != Strip(n2.data(), ns2) || Strip(e.data(), es) != Strip(e2.data(), es2)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16) return 0;
    PrivateKey(data, int32_t(size));
    PublicKey(data, int32_t(size), true);
    PublicKey(data, int32_t(size), false);
    return 0;
}
