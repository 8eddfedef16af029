// crypto/math/SBMathIfma.h: Montgomery products in radix 2^52 on AVX-512 IFMA (internal to SBMath).
//
// A number of the IFMA form is k digits of 52 bits, each in the low bits of a 64-bit word,
// least significant first; k = IfmaDigits(n) for a modulus of n 64-bit words, so that
// R = 2^(52k) is above 4m. The products are "almost" Montgomery products: for a, b < 2m they
// give a * b / R mod m as a number below 2m (not always below m), so a chain of them never
// needs the final subtraction; the caller reduces the last result once.
//
// The functions are defined in SBMathIfma_x86.cpp, the only file built with the AVX-512
// flags, and may run only after IfmaActive() (SBMathKernel.h) said yes. This header declares
// nothing inline, so that file defines no function the rest of the library shares. On other
// processor families the file defines the names without a body that could run.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sbmath {

// True when SBMathIfma_x86.cpp was built with the AVX-512 flags; without them its functions
// only stop the program, and IfmaActive() answers false.
bool IfmaKernelsBuilt();

// The largest digit count of the IFMA form: eight vectors of eight digits (n <= 51 words).
inline constexpr size_t kIfmaMaxDigits = 64;

// r = a * b / R mod m, below 2m, for a, b < 2m of k digits each (k <= kIfmaMaxDigits); k0 is
// -m^-1 mod 2^52. r may alias a or b; digits at and above k are neither read nor written.
// The time depends on k only.
void IfmaMontMul(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* m, size_t k, uint64_t k0);
// Two products of the same digit count at once (the halves of a CRT exponentiation): each
// p[i].r = p[i].a * p[i].b / R mod p[i].m as IfmaMontMul computes it, in one loop, so that the
// work of one fills the time the other waits on its own results. p points at two entries.
struct IfmaProduct {
    uint64_t* r;
    const uint64_t* a;
    const uint64_t* b;
    const uint64_t* m;
    uint64_t k0;
};
void IfmaMontMul2(const IfmaProduct* p, size_t k);
// times >= 1 Montgomery squarings of a in a row (the squarings of one exponent window).
void IfmaMontSqr(uint64_t* r, const uint64_t* a, const uint64_t* m, size_t k, uint64_t k0, unsigned times);
// out (k digits) := entry idx of a table of count entries, entry e at table + e * stride;
// every entry is read whatever idx is. An entry's slot spans its whole vectors (stride at
// least k rounded up to a multiple of 8); what lies past digit k in it is read and not used.
void IfmaSelect(uint64_t* out, const uint64_t* table, size_t count, size_t stride, size_t k, size_t idx);
// The products' last step on its own: k unnormalised digits (any 64-bit values) become 52-bit
// digits of the same value mod 2^(52k). Exposed for the tests: the carry that ripples through
// digits of 2^52 - 1 is one that random products practically never take.
void IfmaNormalize(uint64_t* d, size_t k);

}  // namespace sbmath
