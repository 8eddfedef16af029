// crypto/sym/SBRC4.cpp: RC4 key scheduling and keystream generation.
//
// The indices live in the context between calls, so a message may be fed in any number of
// pieces and gives the same bytes as one call. All index arithmetic is modulo 256, which the
// uint8_t types give for free.
#include "crypto/sym/SBRC4.h"

#include <cstdint>

#include "rtl/Bytes.h"
#include "rtl/Format.h"

namespace {

constexpr size_t kMaxKeyBytes = 32;

void CheckKeyLength(std::span<const uint8_t> key, size_t limit) {
    if (key.empty() || key.size() > limit)
        throw EEncryptionError(rtl::Format("Invalid key size [%d bits]", int64_t(key.size()) * 8));
}

}  // namespace

RC4Context::~RC4Context() {
    rtl::secure_wipe(this, sizeof(*this));
}

void RC4KeySchedule(std::span<const uint8_t> key, uint8_t (&S)[256]) {
    // The schedule cycles through the key bytes: an empty key would be read past its end.
    CheckKeyLength(key, SIZE_MAX);
    for (int n = 0; n < 256; ++n)
        S[n] = uint8_t(n);
    uint8_t j = 0;
    const size_t len = key.size();
    size_t k = 0;
    for (int n = 0; n < 256; ++n) {
        j = uint8_t(j + S[n] + key[k]);
        if (++k == len) k = 0;
        const uint8_t t = S[n];
        S[n] = S[j];
        S[j] = t;
    }
}

void InitRC4Context(RC4Context& context, std::span<const uint8_t> key) {
    CheckKeyLength(key, kMaxKeyBytes);
    RC4KeySchedule(key, context.S);
    context.i = 0;
    context.j = 0;
}

bool EncryptRC4(RC4Context& context, const void* input, void* output, size_t length) {
    const uint8_t* in = static_cast<const uint8_t*>(input);
    uint8_t* out = static_cast<uint8_t*>(output);
    uint8_t* S = context.S;
    uint8_t i = context.i;
    uint8_t j = context.j;
    for (size_t n = 0; n < length; ++n) {
        i = uint8_t(i + 1);
        const uint8_t si = S[i];
        j = uint8_t(j + si);
        const uint8_t sj = S[j];
        S[i] = sj;
        S[j] = si;
        out[n] = in[n] ^ S[uint8_t(si + sj)];
    }
    context.i = i;
    context.j = j;
    return true;
}

bool DecryptRC4(RC4Context& context, const void* input, void* output, size_t length) {
    return EncryptRC4(context, input, output, length);
}
