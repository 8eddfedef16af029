// crypto/sym/SBCamellia_bmi.cpp: Camellia's rounds with BMI1's BEXTR for F's table indices,
// compiled with -mbmi (crypto/sym/ciphers-b.cmake) and chosen at run time by SBCamellia, which asks
// the CPU first. The rounds themselves are CamelliaCore.h's, the same code as the portable form.
#include "crypto/sym/SBCamellia_bmi.h"

#if defined(__x86_64__) && defined(__BMI__)

#include <immintrin.h>

#include "crypto/sym/CamelliaCore.h"

namespace camellia_bmi {

const bool kCompiledIn = true;

namespace {

struct ByteBextr {
    static uint64_t At(uint64_t x, unsigned shift) { return _bextr_u64(x, shift, 8); }
};

}  // namespace

void CryptBlock(const uint8_t* input, uint8_t* output, const CamelliaSubkeys& subkeys, bool longKey) {
    if (longKey)
        camellia_detail::CryptBlock<ByteBextr, 4>(input, output, subkeys);
    else
        camellia_detail::CryptBlock<ByteBextr, 3>(input, output, subkeys);
}

void EncryptBlocksCBC(const uint8_t* input, const CamelliaSubkeys& subkeys, bool longKey, uint8_t* chain,
                      uint8_t* output, size_t count) {
    if (longKey)
        camellia_detail::EncryptCBC<ByteBextr, 4>(input, subkeys, chain, output, count);
    else
        camellia_detail::EncryptCBC<ByteBextr, 3>(input, subkeys, chain, output, count);
}

}  // namespace camellia_bmi

#else

#include <cstdlib>

// Built without BMI1 (another processor family): kCompiledIn is false, nothing calls these.
namespace camellia_bmi {

const bool kCompiledIn = false;

void CryptBlock(const uint8_t*, uint8_t*, const CamelliaSubkeys&, bool) {
    std::abort();
}

void EncryptBlocksCBC(const uint8_t*, const CamelliaSubkeys&, bool, uint8_t*, uint8_t*, size_t) {
    std::abort();
}

}  // namespace camellia_bmi

#endif
