// crypto/SBSHA.cpp: SHA-1 (FIPS 180-2), and the processor check behind the accelerated hash blocks.
//
// Whole blocks are hashed straight from the caller's memory; only a partial block is copied
// into the context. The block function is picked per call: the processor's SHA instructions
// when it has them (SBSHA_x86.cpp), else the portable transform below, which keeps its
// message schedule in the context's W area. This file is built for the baseline processor,
// so the feature check itself never executes an instruction the processor may lack.
#include "crypto/SBSHA.h"

#include <atomic>
#include <cstring>

#include "crypto/HashBuffer.h"
#include "crypto/SBSHA_x86.h"
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
};

CpuFeatures DetectFeatures() {
    CpuFeatures f;
#ifdef KW_SHA_X86
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return f;
    const bool ssse3 = (c & bit_SSSE3) != 0;
    const bool sse41 = (c & bit_SSE4_1) != 0;
    const bool osxsave = (c & bit_OSXSAVE) != 0;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return f;
    f.sha = ssse3 && sse41 && (b & bit_SHA) != 0;
    const bool avx512 = (b & bit_AVX512F) != 0 && (b & bit_AVX512VL) != 0 && (b & bit_BMI2) != 0;
    if (avx512 && osxsave) {
        // The operating system must save the vector, opmask and upper register state.
        unsigned lo = 0, hi = 0;
        __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
        f.avx512vl = (lo & 0xE6) == 0xE6;
    }
#endif
    return f;
}

const CpuFeatures kCpu = DetectFeatures();
std::atomic<bool> gEnabled{true};

}  // namespace

bool CpuHasShaExtensions() {
    return kCpu.sha;
}

bool CpuHasAvx512VL() {
    return kCpu.avx512vl;
}

void EnableAcceleration(bool enabled) {
    gEnabled.store(enabled, std::memory_order_relaxed);
}

bool ShaExtensionsActive() {
    return kCpu.sha && gEnabled.load(std::memory_order_relaxed);
}

bool Avx512Active() {
    return kCpu.avx512vl && gEnabled.load(std::memory_order_relaxed);
}

}  // namespace sha_x86

namespace {

constexpr uint32_t K1 = 0x5A827999;  // floor(2^30 * sqrt(2))
constexpr uint32_t K2 = 0x6ED9EBA1;  // sqrt(3)
constexpr uint32_t K3 = 0x8F1BBCDC;  // sqrt(5)
constexpr uint32_t K4 = 0xCA62C1D6;  // sqrt(10)

void SHA1Transform(SHA1Context& ctx, const uint8_t* block) {
    using rtl::rotl32;
    uint32_t* W = ctx.W;
    for (int t = 0; t < 16; ++t)
        W[t] = rtl::load_be32(block + 4 * t);
    for (int t = 16; t < 80; ++t)
        W[t] = rotl32(W[t - 3] ^ W[t - 8] ^ W[t - 14] ^ W[t - 16], 1);

    uint32_t a = ctx.H[0], b = ctx.H[1], c = ctx.H[2], d = ctx.H[3], e = ctx.H[4];
    // Five rounds per step with the variables renamed instead of shuffled.
#define KW_SHA1_STEP(f, k, t)                                           \
    e += rotl32(a, 5) + (f(b, c, d)) + k + W[t + 0], b = rotl32(b, 30); \
    d += rotl32(e, 5) + (f(a, b, c)) + k + W[t + 1], a = rotl32(a, 30); \
    c += rotl32(d, 5) + (f(e, a, b)) + k + W[t + 2], e = rotl32(e, 30); \
    b += rotl32(c, 5) + (f(d, e, a)) + k + W[t + 3], d = rotl32(d, 30); \
    a += rotl32(b, 5) + (f(c, d, e)) + k + W[t + 4], c = rotl32(c, 30);
#define KW_CH(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define KW_PARITY(x, y, z) ((x) ^ (y) ^ (z))
#define KW_MAJ(x, y, z) (((x) & (y)) | ((z) & ((x) | (y))))
    for (int t = 0; t < 20; t += 5) {
        KW_SHA1_STEP(KW_CH, K1, t)
    }
    for (int t = 20; t < 40; t += 5) {
        KW_SHA1_STEP(KW_PARITY, K2, t)
    }
    for (int t = 40; t < 60; t += 5) {
        KW_SHA1_STEP(KW_MAJ, K3, t)
    }
    for (int t = 60; t < 80; t += 5) {
        KW_SHA1_STEP(KW_PARITY, K4, t)
    }
#undef KW_SHA1_STEP
#undef KW_CH
#undef KW_PARITY
#undef KW_MAJ
    ctx.H[0] += a;
    ctx.H[1] += b;
    ctx.H[2] += c;
    ctx.H[3] += d;
    ctx.H[4] += e;
}

void SHA1Blocks(SHA1Context& ctx, const uint8_t* data, size_t blocks) {
#ifdef KW_SHA_X86
    if (sha_x86::ShaExtensionsActive()) {
        sha_x86::SHA1Blocks(ctx.H, data, blocks);
        return;
    }
#endif
    for (size_t i = 0; i < blocks; ++i)
        SHA1Transform(ctx, data + 64 * i);
}

}  // namespace

SHA1Context::~SHA1Context() {
    rtl::secure_wipe(this, sizeof(*this));
}

void InitSHA1Context(SHA1Context& context) {
    context.ByteCount = 0;
    context.BufferedCount = 0;
    std::memset(context.Buffer, 0, sizeof(context.Buffer));
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
    uint8_t pad[128] = {};
    const size_t have = size_t(context.BufferedCount);
    std::memcpy(pad, context.Buffer, have);
    pad[have] = 0x80;
    const size_t total = have < 56 ? 64 : 128;
    rtl::store_be64(pad + total - 8, context.ByteCount * 8);
    SHA1Blocks(context, pad, total / 64);
    rtl::secure_wipe(pad, sizeof(pad));
    for (int i = 0; i < 5; ++i)
        rtl::store_be32(digest.data() + 4 * i, context.H[i]);
}

void ComputeSHA1(const void* data, size_t length, SHA1Digest& digest) {
    SHA1Context ctx;
    InitSHA1Context(ctx);
    UpdateSHA1Context(ctx, data, length);
    FinishSHA1Context(ctx, digest);
}
