// crypto/math/SBMathIfma_x86.cpp: the AVX-512 IFMA kernels of the radix-2^52 Montgomery form
// (declared in SBMathIfma.h; the exponentiations over them are in SBMathIfma.cpp).
//
// A number of k digits sits in vectors of eight 64-bit lanes, one digit per lane, and, where
// the last vector would carry four digits or fewer, in a 256-bit vector of four lanes for
// those (k = 20, the halves of a 2048-bit RSA key, is two vectors of eight and one of four):
// the products' time is their count of lane products, and a half-empty last vector would
// cost as much as a full one.
//
// The product a * b / R is built digit by digit of b (word-by-word Montgomery): for each b_i
// the accumulator X takes a * b_i and y * m, with y chosen so that its lowest digit becomes a
// multiple of 2^52, and is then shifted down one digit. VPMADD52LUQ/VPMADD52HUQ add the low
// and the high 52 bits of the 104-bit lane products; the low halves land one digit lower than
// the high ones, so they are multiplied by copies of a and m already shifted down one digit
// (Ad, Md) and every lane of the shifted accumulator takes its four terms in place, the two
// terms of y accumulated straight into it. The lowest digit, which the shift drops, is
// followed in a scalar register: it yields y and the carry into the next lowest digit, which
// is added once at the end. Lanes run unnormalised (each gains at most 2^54 per digit, so
// k <= 64 digits stay far below 2^64); the result is normalised to 52-bit digits by one carry
// step per lane and a mask-wide carry ripple. The scalar dependency from one digit of b to the
// next (about a dozen cycles) is what limits one product; two independent products in one
// loop (IfmaMontMul2) fill that time with the other's vector work.
//
// What must stay true: this file alone is built with the AVX-512 flags (crypto/math/bignum.cmake)
// and runs only after IfmaActive() said yes; the work depends on k only, never on the values
// (no branch or address depends on a digit, the table scan reads every entry).
#include "crypto/math/SBMathIfma.h"

#if defined(__x86_64__) && defined(__AVX512F__) && defined(__AVX512IFMA__) && defined(__AVX512VL__)

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

// The lanes of the four-lane tail after NZ full vectors that hold one of the k digits.
inline __mmask8 TailMask(size_t k, size_t nz) {
    if (k >= 8 * nz + 4) return 0x0F;
    if (k <= 8 * nz) return 0;
    return __mmask8((1u << (k - 8 * nz)) - 1);
}

// Lanes imm.. of lo followed by the first lanes of hi (VALIGNQ).
template <int imm>
[[gnu::always_inline]] inline __m512i AlignR(__m512i hi, __m512i lo) {
    return _mm512_alignr_epi64(hi, lo, imm);
}

// NZ vectors of eight digits and, with Tail, one of four after them.
template <size_t NZ, bool Tail>
struct Digits {
    __m512i v[NZ];
    __m256i t;
};

// p[0..k) into lanes; lanes past k are zero and no word past p[k-1] is read.
template <size_t NZ, bool Tail>
[[gnu::always_inline]] inline void Load(Digits<NZ, Tail>& x, const uint64_t* p, size_t k) {
#pragma GCC unroll 8
    for (size_t v = 0; v < NZ; ++v)
        x.v[v] = _mm512_maskz_loadu_epi64(LaneMask(k, v), p + 8 * v);
    x.t = Tail ? _mm256_maskz_loadu_epi64(TailMask(k, NZ), p + 8 * NZ) : _mm256_setzero_si256();
}

template <size_t NZ, bool Tail>
[[gnu::always_inline]] inline void Store(uint64_t* p, const Digits<NZ, Tail>& x, size_t k) {
#pragma GCC unroll 8
    for (size_t v = 0; v < NZ; ++v)
        _mm512_mask_storeu_epi64(p + 8 * v, LaneMask(k, v), x.v[v]);
    if (Tail) _mm256_mask_storeu_epi64(p + 8 * NZ, TailMask(k, NZ), x.t);
}

// Digits 0..k-1 brought to 52 bits each; the value is below 2^(52k), so nothing leaves the top.
template <size_t NZ, bool Tail>
[[gnu::always_inline]] inline void Normalize(Digits<NZ, Tail>& x) {
    const __m512i mask52 = _mm512_set1_epi64(int64_t(kMask52));
    const __m256i mask52t = _mm256_set1_epi64x(int64_t(kMask52));
    const __m512i zero = _mm512_setzero_si512();
    // Each lane keeps its low 52 bits and takes the high bits of the lane below: afterwards
    // every lane is below 2^52 + 2^12, so at most one more carry leaves it.
    __m512i hi[NZ];
#pragma GCC unroll 8
    for (size_t v = 0; v < NZ; ++v) {
        hi[v] = _mm512_srli_epi64(x.v[v], 52);
        x.v[v] = _mm512_and_si512(x.v[v], mask52);
    }
    if (Tail) {
        const __m256i hiT = _mm256_srli_epi64(x.t, 52);
        x.t = _mm256_add_epi64(_mm256_and_si256(x.t, mask52t),
                               _mm256_alignr_epi64(hiT, _mm512_extracti64x4_epi64(hi[NZ - 1], 1), 3));
    }
#pragma GCC unroll 8
    for (size_t v = 0; v < NZ; ++v)
        x.v[v] = _mm512_add_epi64(x.v[v], AlignR<7>(hi[v], v > 0 ? hi[v - 1] : zero));
    // The last carries as bit masks, one bit per lane: a lane above 2^52 - 1 generates a carry
    // into the next one, a lane equal to 2^52 - 1 passes an incoming carry on. Adding the
    // generated carries to the passing lanes ripples them exactly as the digits would.
    uint64_t generate = 0, pass = 0;
#pragma GCC unroll 8
    for (size_t v = 0; v < NZ; ++v) {
        generate |= uint64_t(_mm512_cmpgt_epu64_mask(x.v[v], mask52)) << (8 * v);
        pass |= uint64_t(_mm512_cmpeq_epu64_mask(x.v[v], mask52)) << (8 * v);
    }
    if (Tail) {
        generate |= uint64_t(_mm256_cmpgt_epu64_mask(x.t, mask52t)) << (8 * NZ);
        pass |= uint64_t(_mm256_cmpeq_epu64_mask(x.t, mask52t)) << (8 * NZ);
    }
    const uint64_t carries = ((generate << 1) + pass) ^ pass;
    const __m512i one = _mm512_set1_epi64(1);
#pragma GCC unroll 8
    for (size_t v = 0; v < NZ; ++v) {
        const __mmask8 in = __mmask8(carries >> (8 * v));
        x.v[v] = _mm512_and_si512(_mm512_mask_add_epi64(x.v[v], in, x.v[v], one), mask52);
    }
    if (Tail) {
        const __mmask8 in = __mmask8((carries >> (8 * NZ)) & 0x0F);
        x.t = _mm256_and_si256(_mm256_mask_add_epi64(x.t, in, x.t, _mm256_set1_epi64x(1)), mask52t);
    }
}

// L independent products of k digits each in one loop (L = 2: the two CRT halves), so that
// one product's digit-to-digit dependency runs while the other's vector work fills the units.
template <size_t NZ, bool Tail, size_t L, size_t FixedK>
void AlmostMontMuls(const IfmaProduct* p, size_t digits) {
    // A digit count known when the form is built lets the compiler shape the loop for it.
    const size_t k = FixedK != 0 ? FixedK : digits;
    Digits<NZ, Tail> A[L], Ad[L], M[L], Md[L], X[L];
    const __m512i zero = _mm512_setzero_si512();
    const __m256i zeroT = _mm256_setzero_si256();
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
        for (size_t v = 0; v < NZ; ++v)
            X[l].v[v] = zero;
        X[l].t = zeroT;
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
            __m512i shifted[NZ];
            __m256i shiftedT = zeroT;
#pragma GCC unroll 8
            for (size_t v = 0; v < NZ; ++v) {
                const __m512i ab =
                    _mm512_madd52lo_epu64(_mm512_madd52hi_epu64(zero, A[l].v[v], bv), Ad[l].v[v], bv);
                const __m512i next = v + 1 < NZ ? X[l].v[v + 1]
                                     : Tail     ? _mm512_zextsi256_si512(X[l].t)
                                                : zero;
                shifted[v] = _mm512_add_epi64(AlignR<1>(next, X[l].v[v]), ab);
            }
            if (Tail) {
                const __m256i bt = _mm512_castsi512_si256(bv);
                const __m256i ab =
                    _mm256_madd52lo_epu64(_mm256_madd52hi_epu64(zeroT, A[l].t, bt), Ad[l].t, bt);
                shiftedT = _mm256_add_epi64(_mm256_alignr_epi64(zeroT, X[l].t, 1), ab);
            }
            // The next lowest digit is computed from y in scalar registers (m1 * y, m0 * y)
            // instead of waiting for the vector products, which keeps the digit-to-digit
            // dependency short.
            low[l] = uint64_t(_mm_cvtsi128_si64(_mm512_castsi512_si128(shifted[0]))) +
                     ((m1[l] * y) & kMask52) + uint64_t(my0 >> 52);
#pragma GCC unroll 8
            for (size_t v = 0; v < NZ; ++v)
                X[l].v[v] =
                    _mm512_madd52hi_epu64(_mm512_madd52lo_epu64(shifted[v], Md[l].v[v], yv), M[l].v[v], yv);
            if (Tail) {
                const __m256i yt = _mm512_castsi512_si256(yv);
                X[l].t = _mm256_madd52hi_epu64(_mm256_madd52lo_epu64(shiftedT, Md[l].t, yt), M[l].t, yt);
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

template <size_t NZ, bool Tail, size_t FixedK>
void AlmostMontMul(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* m, size_t k,
                   uint64_t k0) {
    const IfmaProduct p{r, a, b, m, k0};
    AlmostMontMuls<NZ, Tail, 1, FixedK>(&p, k);
}

template <size_t NZ, bool Tail, size_t FixedK>
void AlmostMontMul2(const IfmaProduct* p, size_t k) {
    AlmostMontMuls<NZ, Tail, 2, FixedK>(p, k);
}

template <size_t NZ, bool Tail>
void Select(uint64_t* out, const uint64_t* table, size_t count, size_t stride, size_t k, size_t idx) {
    Digits<NZ, Tail> acc;
#pragma GCC unroll 8
    for (size_t v = 0; v < NZ; ++v)
        acc.v[v] = _mm512_setzero_si512();
    acc.t = _mm256_setzero_si256();
    for (size_t e = 0; e < count; ++e) {
        // Every entry is read whole (its slot spans the vectors); a mask computed without a
        // branch, all ones for the wanted entry only, decides which one the blend keeps.
        const uint64_t same = uint64_t(0) - (((uint64_t(e) ^ uint64_t(idx)) - 1) >> 63);
        const __mmask8 hit = __mmask8(same);
        const uint64_t* entry = table + e * stride;
#pragma GCC unroll 8
        for (size_t v = 0; v < NZ; ++v)
            acc.v[v] = _mm512_mask_mov_epi64(acc.v[v], hit, _mm512_loadu_si512(entry + 8 * v));
        if (Tail)
            acc.t = _mm256_mask_mov_epi64(
                acc.t, hit, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(entry + 8 * NZ)));
    }
    Store(out, acc, k);
}

using MulForm = void (*)(uint64_t*, const uint64_t*, const uint64_t*, const uint64_t*, size_t, uint64_t);
using Mul2Form = void (*)(const IfmaProduct*, size_t);
using SelectForm = void (*)(uint64_t*, const uint64_t*, size_t, size_t, size_t, size_t);

// The kernels of one layout: NZ vectors of eight digits, and a four-lane tail or none.
struct Forms {
    MulForm mul;
    Mul2Form mul2;
    SelectForm select;
};

// FixedK: the one digit count the form serves (0: any count of its layout).
template <size_t NZ, bool Tail, size_t FixedK = 0>
constexpr Forms FormsOf() {
    return {AlmostMontMul<NZ, Tail, FixedK>, AlmostMontMul2<NZ, Tail, FixedK>, Select<NZ, Tail>};
}

// k digits: k / 8 full vectors and a tail for the last one to four digits, or one more full
// vector for five to seven (k >= 10 here; anything shorter takes one full vector).
Forms FormsFor(size_t k) {
    static constexpr Forms kFull[] = {FormsOf<1, false>(), FormsOf<2, false>(), FormsOf<3, false>(),
                                      FormsOf<4, false>(), FormsOf<5, false>(), FormsOf<6, false>(),
                                      FormsOf<7, false>(), FormsOf<8, false>()};
    static constexpr Forms kWithTail[] = {FormsOf<1, true>(), FormsOf<2, true>(), FormsOf<3, true>(),
                                          FormsOf<4, true>(), FormsOf<5, true>(), FormsOf<6, true>(),
                                          FormsOf<7, true>()};
    // The counts of RSA-2048, its CRT halves and its modulus, have forms of their own.
    if (k == 20) return FormsOf<2, true, 20>();
    if (k == 40) return FormsOf<5, false, 40>();
    const size_t full = k / 8, rest = k % 8;
    if (full >= 1 && rest >= 1 && rest <= 4) return kWithTail[full - 1];
    const size_t vectors = (k + 7) / 8;
    return kFull[vectors < 1 ? 0 : vectors > 8 ? 7 : vectors - 1];
}

}  // namespace

bool IfmaKernelsBuilt() {
    return true;
}

void IfmaMontMul(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* m, size_t k,
                 uint64_t k0) {
    FormsFor(k).mul(r, a, b, m, k, k0);
}

void IfmaMontMul2(const IfmaProduct* p, size_t k) {
    FormsFor(k).mul2(p, k);
}

void IfmaMontSqr(uint64_t* r, const uint64_t* a, const uint64_t* m, size_t k, uint64_t k0, unsigned times) {
    const MulForm mul = FormsFor(k).mul;
    mul(r, a, a, m, k, k0);
    for (unsigned t = 1; t < times; ++t)
        mul(r, r, r, m, k, k0);
}

void IfmaNormalize(uint64_t* d, size_t k) {
    Digits<kIfmaMaxDigits / 8, false> x;
    Load(x, d, k);
    Normalize(x);
    Store(d, x, k);
}

void IfmaSelect(uint64_t* out, const uint64_t* table, size_t count, size_t stride, size_t k, size_t idx) {
    FormsFor(k).select(out, table, count, stride, k, idx);
}

}  // namespace sbmath

#else

#include <cstdlib>

// Built without the AVX-512 flags (another processor family, or a build that did not apply
// crypto/math/bignum.cmake): IfmaActive() is false whatever the processor, and nothing calls these.
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
