// crypto/SBMathIfma_x86.cpp: the AVX-512 IFMA kernels of the radix-2^52 Montgomery form
// (declared in SBMathIfma.h; the exponentiations over them are in SBMathIfma.cpp).
//
// A number of k digits sits in ceil(k/8) vectors of eight 64-bit lanes, one digit per lane.
// The product a * b / R is built digit by digit of b (word-by-word Montgomery): for each b_i
// the accumulator X takes a * b_i and y * m, with y chosen so that its lowest digit becomes a
// multiple of 2^52, and is then shifted down one digit. VPMADD52LUQ/VPMADD52HUQ add the low
// and the high 52 bits of the 104-bit lane products; the low halves land one digit lower than
// the high ones, so they are multiplied by copies of a and m already shifted down one digit
// (Ad, Md) and every lane of the shifted accumulator takes its four terms in place. The lowest
// digit, which the shift drops, is followed in a scalar register: it yields y and the carry
// into the next lowest digit, which is added once at the end. Lanes run unnormalised (each
// gains at most 2^54 per digit, so k <= 64 digits stay far below 2^64); the result is
// normalised to 52-bit digits by one carry step per lane and a mask-wide carry ripple. The
// scalar dependency from one digit of b to the next (about a dozen cycles) is what limits one
// product; two independent products in one loop (IfmaMontMul2) fill that time with the other's
// vector work.
//
// What must stay true: this file alone is built with the AVX-512 flags (crypto/bignum.cmake)
// and runs only after IfmaActive() said yes; the work depends on k only, never on the values
// (no branch or address depends on a digit, the table scan reads every entry).
#include "crypto/SBMathIfma.h"

#if defined(__x86_64__) && defined(__AVX512F__) && defined(__AVX512IFMA__)

#include <immintrin.h>

// g++ 12's AVX-512 intrinsics start many results from a deliberately undefined vector and then
// report it as uninitialised once inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace sbmath {

namespace {

constexpr uint64_t kMask52 = (uint64_t(1) << 52) - 1;
__extension__ typedef unsigned __int128 DWord;

// The lanes of vector v that hold one of the k digits.
inline __mmask8 LaneMask(size_t k, size_t v) {
    if (k >= 8 * (v + 1)) return 0xFF;
    if (k <= 8 * v) return 0;
    return __mmask8((1u << (k - 8 * v)) - 1);
}

// Lanes imm.. of lo followed by the first lanes of hi (VALIGNQ).
template <int imm>
[[gnu::always_inline]] inline __m512i AlignR(__m512i hi, __m512i lo) {
    return _mm512_alignr_epi64(hi, lo, imm);
}

template <size_t NV>
struct Vectors {
    __m512i v[NV];
};

// p[0..k) into lanes; lanes past k are zero and no word past p[k-1] is read.
template <size_t NV>
[[gnu::always_inline]] inline void Load(Vectors<NV>& x, const uint64_t* p, size_t k) {
#pragma GCC unroll 8
    for (size_t v = 0; v < NV; ++v)
        x.v[v] = _mm512_maskz_loadu_epi64(LaneMask(k, v), p + 8 * v);
}

template <size_t NV>
[[gnu::always_inline]] inline void Store(uint64_t* p, const Vectors<NV>& x, size_t k) {
#pragma GCC unroll 8
    for (size_t v = 0; v < NV; ++v)
        _mm512_mask_storeu_epi64(p + 8 * v, LaneMask(k, v), x.v[v]);
}

// Digits 0..k-1 brought to 52 bits each; the value is below 2^(52k), so nothing leaves the top.
template <size_t NV>
[[gnu::always_inline]] inline void Normalize(Vectors<NV>& x) {
    const __m512i mask52 = _mm512_set1_epi64(int64_t(kMask52));
    const __m512i zero = _mm512_setzero_si512();
    // Each lane keeps its low 52 bits and takes the high bits of the lane below: afterwards
    // every lane is below 2^52 + 2^12, so at most one more carry leaves it.
    __m512i hi[NV];
#pragma GCC unroll 8
    for (size_t v = 0; v < NV; ++v) {
        hi[v] = _mm512_srli_epi64(x.v[v], 52);
        x.v[v] = _mm512_and_si512(x.v[v], mask52);
    }
#pragma GCC unroll 8
    for (size_t v = 0; v < NV; ++v)
        x.v[v] = _mm512_add_epi64(x.v[v], AlignR<7>(hi[v], v > 0 ? hi[v - 1] : zero));
    // The last carries as bit masks, one bit per lane: a lane above 2^52 - 1 generates a carry
    // into the next one, a lane equal to 2^52 - 1 passes an incoming carry on. Adding the
    // generated carries to the passing lanes ripples them exactly as the digits would.
    uint64_t generate = 0, pass = 0;
#pragma GCC unroll 8
    for (size_t v = 0; v < NV; ++v) {
        generate |= uint64_t(_mm512_cmpgt_epu64_mask(x.v[v], mask52)) << (8 * v);
        pass |= uint64_t(_mm512_cmpeq_epu64_mask(x.v[v], mask52)) << (8 * v);
    }
    const uint64_t carries = ((generate << 1) + pass) ^ pass;
    const __m512i one = _mm512_set1_epi64(1);
#pragma GCC unroll 8
    for (size_t v = 0; v < NV; ++v) {
        const __mmask8 in = __mmask8(carries >> (8 * v));
        x.v[v] = _mm512_and_si512(_mm512_mask_add_epi64(x.v[v], in, x.v[v], one), mask52);
    }
}

// L independent products of k digits each in one loop (L = 2: the two CRT halves), so that
// one product's digit-to-digit dependency runs while the other's vector work fills the units.
template <size_t NV, size_t L>
void AlmostMontMuls(const IfmaProduct* p, size_t k) {
    Vectors<NV> A[L], Ad[L], M[L], Md[L], X[L];
    const __m512i zero = _mm512_setzero_si512();
    uint64_t a0[L], m0[L], m1[L], k0[L];
    uint64_t low[L];    // lane 0 of X, followed in a scalar register (see below)
    uint64_t carry[L];  // what the dropped lowest digit carries into the new lowest one
#pragma GCC unroll 2
    for (size_t l = 0; l < L; ++l) {
        Load(A[l], p[l].a, k);
        Load(Ad[l], p[l].a + 1, k - 1);
        Load(M[l], p[l].m, k);
        Load(Md[l], p[l].m + 1, k - 1);
#pragma GCC unroll 8
        for (size_t v = 0; v < NV; ++v)
            X[l].v[v] = zero;
        a0[l] = p[l].a[0];
        m0[l] = p[l].m[0];
        m1[l] = k > 1 ? p[l].m[1] : 0;
        k0[l] = p[l].k0;
        low[l] = carry[l] = 0;
    }
    for (size_t i = 0; i < k; ++i) {
#pragma GCC unroll 2
        for (size_t l = 0; l < L; ++l) {
            const uint64_t bi = p[l].b[i];
            const __m512i bv = _mm512_set1_epi64(int64_t(bi));
            // The lowest digit with a0 * b_i; y makes it (with y * m0) a multiple of 2^52.
            const uint64_t x0 = low[l] + ((a0[l] * bi) & kMask52) + carry[l];
            const uint64_t y = (x0 * k0[l]) & kMask52;
            const DWord my0 = DWord(m0[l]) * y;
            carry[l] = (x0 + (uint64_t(my0) & kMask52)) >> 52;
            const __m512i yv = _mm512_set1_epi64(int64_t(y));
            // The shifted accumulator with a * b_i needs only the previous X; the terms of y
            // follow.
            __m512i shifted[NV];
#pragma GCC unroll 8
            for (size_t v = 0; v < NV; ++v) {
                const __m512i ab = _mm512_madd52lo_epu64(_mm512_madd52hi_epu64(zero, A[l].v[v], bv), Ad[l].v[v], bv);
                shifted[v] = _mm512_add_epi64(AlignR<1>(v + 1 < NV ? X[l].v[v + 1] : zero, X[l].v[v]), ab);
            }
            // The next lowest digit is computed from y in scalar registers (m1 * y, m0 * y)
            // instead of waiting for the vector products, which keeps the digit-to-digit
            // dependency short.
            low[l] = uint64_t(_mm_cvtsi128_si64(_mm512_castsi512_si128(shifted[0]))) + ((m1[l] * y) & kMask52) +
                     uint64_t(my0 >> 52);
#pragma GCC unroll 8
            for (size_t v = 0; v < NV; ++v) {
                const __m512i hi = _mm512_madd52hi_epu64(zero, M[l].v[v], yv);
                X[l].v[v] = _mm512_add_epi64(_mm512_madd52lo_epu64(shifted[v], Md[l].v[v], yv), hi);
            }
        }
    }
#pragma GCC unroll 2
    for (size_t l = 0; l < L; ++l) {
        X[l].v[0] = _mm512_mask_add_epi64(X[l].v[0], 1, X[l].v[0], _mm512_set1_epi64(int64_t(carry[l])));
        Normalize(X[l]);
        Store(p[l].r, X[l], k);
    }
}

template <size_t NV>
void AlmostMontMul(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* m, size_t k, uint64_t k0) {
    const IfmaProduct p{r, a, b, m, k0};
    AlmostMontMuls<NV, 1>(&p, k);
}

template <size_t NV>
void AlmostMontMul2(const IfmaProduct* p, size_t k) {
    AlmostMontMuls<NV, 2>(p, k);
}

template <size_t NV>
void Select(uint64_t* out, const uint64_t* table, size_t count, size_t stride, size_t k, size_t idx) {
    const __m512i want = _mm512_set1_epi64(int64_t(idx));
    Vectors<NV> acc;
#pragma GCC unroll 8
    for (size_t v = 0; v < NV; ++v)
        acc.v[v] = _mm512_setzero_si512();
    for (size_t e = 0; e < count; ++e) {
        // Every entry is read; the comparison's mask, not a branch, keeps the wanted one.
        const __mmask8 hit = _mm512_cmpeq_epu64_mask(want, _mm512_set1_epi64(int64_t(e)));
        const uint64_t* entry = table + e * stride;
#pragma GCC unroll 8
        for (size_t v = 0; v < NV; ++v)
            acc.v[v] = _mm512_mask_or_epi64(acc.v[v], hit, acc.v[v], _mm512_maskz_loadu_epi64(LaneMask(k, v), entry + 8 * v));
    }
    Store(out, acc, k);
}

using MulForm = void (*)(uint64_t*, const uint64_t*, const uint64_t*, const uint64_t*, size_t, uint64_t);

MulForm FormFor(size_t k) {
    switch ((k + 7) / 8) {
        case 1: return AlmostMontMul<1>;
        case 2: return AlmostMontMul<2>;
        case 3: return AlmostMontMul<3>;
        case 4: return AlmostMontMul<4>;
        case 5: return AlmostMontMul<5>;
        case 6: return AlmostMontMul<6>;
        case 7: return AlmostMontMul<7>;
        default: return AlmostMontMul<8>;
    }
}

}  // namespace

bool IfmaKernelsBuilt() {
    return true;
}

void IfmaMontMul(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* m, size_t k, uint64_t k0) {
    FormFor(k)(r, a, b, m, k, k0);
}

void IfmaMontMul2(const IfmaProduct* p, size_t k) {
    switch ((k + 7) / 8) {
        case 1: return AlmostMontMul2<1>(p, k);
        case 2: return AlmostMontMul2<2>(p, k);
        case 3: return AlmostMontMul2<3>(p, k);
        case 4: return AlmostMontMul2<4>(p, k);
        case 5: return AlmostMontMul2<5>(p, k);
        case 6: return AlmostMontMul2<6>(p, k);
        case 7: return AlmostMontMul2<7>(p, k);
        default: return AlmostMontMul2<8>(p, k);
    }
}

void IfmaMontSqr(uint64_t* r, const uint64_t* a, const uint64_t* m, size_t k, uint64_t k0, unsigned times) {
    const MulForm mul = FormFor(k);
    mul(r, a, a, m, k, k0);
    for (unsigned t = 1; t < times; ++t)
        mul(r, r, r, m, k, k0);
}

void IfmaNormalize(uint64_t* d, size_t k) {
    Vectors<kIfmaMaxDigits / 8> x;
    Load(x, d, k);
    Normalize(x);
    Store(d, x, k);
}

void IfmaSelect(uint64_t* out, const uint64_t* table, size_t count, size_t stride, size_t k, size_t idx) {
    switch ((k + 7) / 8) {
        case 1: return Select<1>(out, table, count, stride, k, idx);
        case 2: return Select<2>(out, table, count, stride, k, idx);
        case 3: return Select<3>(out, table, count, stride, k, idx);
        case 4: return Select<4>(out, table, count, stride, k, idx);
        case 5: return Select<5>(out, table, count, stride, k, idx);
        case 6: return Select<6>(out, table, count, stride, k, idx);
        case 7: return Select<7>(out, table, count, stride, k, idx);
        default: return Select<8>(out, table, count, stride, k, idx);
    }
}

}  // namespace sbmath

#else

#include <cstdlib>

// Built without the AVX-512 flags (another processor family, or a build that did not apply
// crypto/bignum.cmake): IfmaActive() is false whatever the processor, and nothing calls these.
namespace sbmath {

bool IfmaKernelsBuilt() {
    return false;
}

void IfmaMontMul(uint64_t*, const uint64_t*, const uint64_t*, const uint64_t*, size_t, uint64_t) {
    std::abort();
}

void IfmaMontSqr(uint64_t*, const uint64_t*, const uint64_t*, size_t, uint64_t, unsigned) {
    std::abort();
}

void IfmaSelect(uint64_t*, const uint64_t*, size_t, size_t, size_t, size_t) {
    std::abort();
}

void IfmaNormalize(uint64_t*, size_t) {
    std::abort();
}

void IfmaMontMul2(const IfmaProduct*, size_t) {
    std::abort();
}

}  // namespace sbmath

#endif
