// fuzz/crypto_RC2Params.cpp: the RC2-CBC parameter decoder on arbitrary bytes.
//
// Decoding must never crash or read past its input. Whatever decodes must encode again, and
// the encoding must decode to the same IV and effective key bits.
#include <cstdint>
#include <cstdlib>

#include "crypto/sym/SBRC2.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ByteString input(reinterpret_cast<const char*>(data), size);
    ByteString iv;
    int32_t bits = 0;
    if (!DecodeRC2CBCParameters(input, iv, bits)) return 0;
    ByteString encoded, ivAgain;
    EncodeRC2CBCParameters(iv, bits, encoded);
    int32_t bitsAgain = 0;
    if (!DecodeRC2CBCParameters(encoded, ivAgain, bitsAgain)) std::abort();
    if (ivAgain != iv || bitsAgain != bits) std::abort();
    return 0;
}
