// crypto/hash/SBSHA.cpp: SHA-1 (FIPS 180-2), and the processor check behind the accelerated hash blocks.
//
// Whole blocks are hashed straight from the caller's memory; only a partial block is copied
// into the context. The block function is picked per call: the processor's SHA instructions
// when it has them (SBSHA_x86.cpp), else the portable transform below, fully unrolled, with
// a rolling sixteen-word message schedule on the stack. This file is built for the baseline
// processor, so the feature check itself never executes an instruction the processor may
// lack.
#include "crypto/hash/SBSHA.h"

#include <atomic>
#include <cstring>
#include <utility>

#include "crypto/hash/HashBuffer.h"
#include "crypto/hash/SBSHA_x86.h"
#include "rtl/Bytes.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define KW_SHA_X86 1
#endif

namespace sha_x86 {

namespace {

struct CpuFeatures {
    bool sha = false;
    bool avx512vl = false;
    bool avx2 = false;
};

CpuidWords ReadCpuid() {
    CpuidWords w;
#ifdef KW_SHA_X86
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return w;
    w.leaf1Ecx = c;
    if (__get_cpuid_count(7, 0, &a, &b, &c, &d)) w.leaf7Ebx = b;
    if ((w.leaf1Ecx & bit_OSXSAVE) != 0) {
        unsigned lo = 0, hi = 0;
        __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
        w.xcr0 = uint64_t(hi) << 32 | lo;
    }
#endif
    return w;
}

CpuFeatures DetectFeatures() {
    const CpuidWords w = ReadCpuid();
    return CpuFeatures{ShaExtensionsUsable(w), Avx512VLUsable(w), Avx2Usable(w)};
}

const CpuFeatures kCpu = DetectFeatures();
std::atomic<Acceleration> gLevel{Acceleration::Full};

bool Allows(Acceleration needed) {
    return gLevel.load(std::memory_order_relaxed) >= needed;
}

}  // namespace

// The bit positions are CPUID's (cpuid.h names them only on x86, so they are spelled out).
bool ShaExtensionsUsable(const CpuidWords& w) {
    const bool ssse3 = (w.leaf1Ecx & (1u << 9)) != 0;
    const bool sse41 = (w.leaf1Ecx & (1u << 19)) != 0;
    const bool sha = (w.leaf7Ebx & (1u << 29)) != 0;
    return ssse3 && sse41 && sha;
}

bool Avx512VLUsable(const CpuidWords& w) {
    const bool avx512f = (w.leaf7Ebx & (1u << 16)) != 0;
    const bool avx512vl = (w.leaf7Ebx & (1u << 31)) != 0;
    // SSE, AVX, opmask, ZMM0-15 upper halves, ZMM16-31.
    constexpr uint64_t kStates = 0xE6;
    return Avx2Usable(w) && avx512f && avx512vl && (w.xcr0 & kStates) == kStates;
}

bool Avx2Usable(const CpuidWords& w) {
    const bool osxsave = (w.leaf1Ecx & (1u << 27)) != 0;
    const bool avx = (w.leaf1Ecx & (1u << 28)) != 0;
    const bool avx2 = (w.leaf7Ebx & (1u << 5)) != 0;
    const bool bmi2 = (w.leaf7Ebx & (1u << 8)) != 0;
    // SSE and AVX (the upper YMM halves).
    constexpr uint64_t kStates = 0x06;
    return osxsave && avx && avx2 && bmi2 && (w.xcr0 & kStates) == kStates;
}

bool CpuHasShaExtensions() {
    return kCpu.sha;
}

bool CpuHasAvx512VL() {
    return kCpu.avx512vl;
}

bool CpuHasAvx2() {
    return kCpu.avx2;
}

void SetAcceleration(Acceleration level) {
    gLevel.store(level, std::memory_order_relaxed);
}

void EnableAcceleration(bool enabled) {
    SetAcceleration(enabled ? Acceleration::Full : Acceleration::Off);
}

bool ShaExtensionsActive() {
    return kCpu.sha && Allows(Acceleration::WithoutAvx512);
}

bool Avx512Active() {
    return kCpu.avx512vl && Allows(Acceleration::Full);
}

bool Avx2Active() {
    return kCpu.avx2 && Allows(Acceleration::WithoutAvx512);
}

}  // namespace sha_x86

namespace {

// Round T. The five working variables are renamed rather than moved (the one that was e
// becomes a), so after five rounds each is back in its own slot. From round 16 on, the
// message word is built in a rolling sixteen-word window over the word it replaces:
// W[t] = rotl1(W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16]).
template <int T>
[[gnu::always_inline]] inline void Round(uint32_t (&v)[5], uint32_t (&W)[16]) {
    using rtl::rotl32;
    constexpr int A = T % 5;
    uint32_t& a = v[(5 - A) % 5];
    uint32_t& b = v[(6 - A) % 5];
    uint32_t& c = v[(7 - A) % 5];
    uint32_t& d = v[(8 - A) % 5];
    uint32_t& e = v[(9 - A) % 5];
    if constexpr (T >= 16)
        W[T & 15] = rotl32(W[(T - 3) & 15] ^ W[(T - 8) & 15] ^ W[(T - 14) & 15] ^ W[T & 15], 1);
    // The constants are the integer parts of 2^30 times the square roots of 2, 3, 5 and 10.
    if constexpr (T < 20)
        e += (d ^ (b & (c ^ d))) + 0x5A827999;
    else if constexpr (T < 40)
        e += (b ^ c ^ d) + 0x6ED9EBA1;
    else if constexpr (T < 60)
        e += ((b & c) | (d & (b | c))) + 0x8F1BBCDC;
    else
        e += (b ^ c ^ d) + 0xCA62C1D6;
    e += rotl32(a, 5) + W[T & 15];
    b = rotl32(b, 30);
}

template <int... T>
[[gnu::always_inline]] inline void AllRounds(uint32_t (&v)[5], uint32_t (&W)[16],
                                             std::integer_sequence<int, T...>) {
    (Round<T>(v, W), ...);
}

void SHA1Transform(uint32_t H[5], const uint8_t* block) {
    uint32_t W[16];
    for (int t = 0; t < 16; ++t)
        W[t] = rtl::load_be32(block + 4 * t);
    uint32_t v[5] = {H[0], H[1], H[2], H[3], H[4]};
    AllRounds(v, W, std::make_integer_sequence<int, 80>());
    for (int i = 0; i < 5; ++i)
        H[i] += v[i];
}

void SHA1Blocks(SHA1Context& ctx, const uint8_t* data, size_t blocks) {
#ifdef KW_SHA_X86
    if (sha_x86::ShaExtensionsActive()) {
        sha_x86::SHA1Blocks(ctx.H, data, blocks);
        return;
    }
#endif
    for (size_t i = 0; i < blocks; ++i)
        SHA1Transform(ctx.H, data + 64 * i);
}

}  // namespace

SHA1Context::~SHA1Context() {
    rtl::secure_wipe(this, sizeof(*this));
}

void InitSHA1Context(SHA1Context& context) {
    hash_buffer::Reset(context);
    context.H[0] = 0x67452301;
    context.H[1] = 0xEFCDAB89;
    context.H[2] = 0x98BADCFE;
    context.H[3] = 0x10325476;
    context.H[4] = 0xC3D2E1F0;
}

void UpdateSHA1Context(SHA1Context& context, const void* data, size_t length) {
    hash_buffer::Update<64>(context, data, length, SHA1Blocks);
}

void FinishSHA1Context(SHA1Context& context, SHA1Digest& digest) {
    hash_buffer::PadAndHash<64, 8, true>(
        context.Buffer, size_t(context.BufferedCount), context.ByteCount,
        [&context](const uint8_t* p, size_t n) { SHA1Blocks(context, p, n); });
    for (int i = 0; i < 5; ++i)
        rtl::store_be32(digest.data() + 4 * i, context.H[i]);
}

void ComputeSHA1(const void* data, size_t length, SHA1Digest& digest) {
    SHA1Context ctx;
    InitSHA1Context(ctx);
    UpdateSHA1Context(ctx, data, length);
    FinishSHA1Context(ctx, digest);
}
