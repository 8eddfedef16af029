// crypto/hash/SBSHA2.cpp: SHA-224, SHA-256, SHA-384 and SHA-512 (FIPS 180-2 and its change notice).
//
// The initial values are the standard's: the fractional parts of the square roots of the
// first eight primes (SHA-256, SHA-512) or of the ninth to sixteenth (SHA-384, and the low
// halves of those for SHA-224); the round constants are in SHA2Constants.h.
//
// SHA-256 blocks go to the processor's SHA instructions when it has them (SBSHA_x86.cpp), and
// SHA-512 blocks to the AVX-512VL schedule (SBSHA512_x86.cpp) or, without AVX-512, to the
// AVX2 one (SBSHA512_avx2.cpp); the portable transforms,
// fully unrolled, keep a rolling sixteen-word message schedule on the stack.
#include "crypto/hash/SBSHA2.h"

#include <cstring>
#include <utility>

#include "crypto/hash/HashBuffer.h"
#include "crypto/hash/SBSHA_x86.h"
#include "crypto/hash/SHA2Constants.h"
#include "rtl/Bytes.h"

namespace {

using sha2_constants::K256;
using sha2_constants::K512;

constexpr uint32_t IV256[8] = {
    0x6A09E667, 0xBB67AE85, 0x3C6EF372, 0xA54FF53A, 0x510E527F, 0x9B05688C, 0x1F83D9AB, 0x5BE0CD19,
};

constexpr uint32_t IV224[8] = {
    0xC1059ED8, 0x367CD507, 0x3070DD17, 0xF70E5939, 0xFFC00B31, 0x68581511, 0x64F98FA7, 0xBEFA4FA4,
};

constexpr uint64_t IV512[8] = {
    0x6A09E667F3BCC908ULL, 0xBB67AE8584CAA73BULL, 0x3C6EF372FE94F82BULL, 0xA54FF53A5F1D36F1ULL,
    0x510E527FADE682D1ULL, 0x9B05688C2B3E6C1FULL, 0x1F83D9ABFB41BD6BULL, 0x5BE0CD19137E2179ULL,
};

constexpr uint64_t IV384[8] = {
    0xCBBB9D5DC1059ED8ULL, 0x629A292A367CD507ULL, 0x9159015A3070DD17ULL, 0x152FECD8F70E5939ULL,
    0x67332667FFC00B31ULL, 0x8EB44A8768581511ULL, 0xDB0C2E0D64F98FA7ULL, 0x47B5481DBEFA4FA4ULL,
};

struct Sha256Traits {
    using Word = uint32_t;
    static constexpr int kRounds = 64;
    static constexpr const uint32_t* K = K256;
    static Word BigS0(Word x) { return rtl::rotr32(x, 2) ^ rtl::rotr32(x, 13) ^ rtl::rotr32(x, 22); }
    static Word BigS1(Word x) { return rtl::rotr32(x, 6) ^ rtl::rotr32(x, 11) ^ rtl::rotr32(x, 25); }
    static Word SmallS0(Word x) { return rtl::rotr32(x, 7) ^ rtl::rotr32(x, 18) ^ (x >> 3); }
    static Word SmallS1(Word x) { return rtl::rotr32(x, 17) ^ rtl::rotr32(x, 19) ^ (x >> 10); }
    static Word Load(const uint8_t* p) { return rtl::load_be32(p); }
};

struct Sha512Traits {
    using Word = uint64_t;
    static constexpr int kRounds = 80;
    static constexpr const uint64_t* K = K512;
    static Word BigS0(Word x) { return rtl::rotr64(x, 28) ^ rtl::rotr64(x, 34) ^ rtl::rotr64(x, 39); }
    static Word BigS1(Word x) { return rtl::rotr64(x, 14) ^ rtl::rotr64(x, 18) ^ rtl::rotr64(x, 41); }
    static Word SmallS0(Word x) { return rtl::rotr64(x, 1) ^ rtl::rotr64(x, 8) ^ (x >> 7); }
    static Word SmallS1(Word x) { return rtl::rotr64(x, 19) ^ rtl::rotr64(x, 61) ^ (x >> 6); }
    static Word Load(const uint8_t* p) { return rtl::load_be64(p); }
};

// Round R. The working variables are renamed rather than moved: the one that was h becomes a,
// so after eight rounds each is back in its own slot. From round 16 on, the message word is
// built in the rolling sixteen-word window over the word it replaces:
// W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16]. Maj(a, b, c) is b ^ ((a ^ b) & (b ^ c)),
// and this round's a ^ b is the next round's b ^ c, carried in bc.
template <class T, int R>
[[gnu::always_inline]] inline void Round(typename T::Word (&v)[8], typename T::Word (&W)[16],
                                         typename T::Word& bc) {
    using Word = typename T::Word;
    constexpr int A = R & 7;
    Word& a = v[(8 - A) & 7];
    Word& b = v[(9 - A) & 7];
    Word& d = v[(11 - A) & 7];
    Word& e = v[(12 - A) & 7];
    Word& f = v[(13 - A) & 7];
    Word& g = v[(14 - A) & 7];
    Word& h = v[(15 - A) & 7];
    if constexpr (R >= 16)
        W[R & 15] += T::SmallS1(W[(R - 2) & 15]) + W[(R - 7) & 15] + T::SmallS0(W[(R - 15) & 15]);
    h += T::K[R] + W[R & 15] + (g ^ (e & (f ^ g))) + T::BigS1(e);
    d += h;
    const Word ab = a ^ b;
    h += T::BigS0(a) + (b ^ (ab & bc));
    bc = ab;
}

template <class T, int... R>
[[gnu::always_inline]] inline void AllRounds(typename T::Word (&v)[8], typename T::Word (&W)[16],
                                             std::integer_sequence<int, R...>) {
    typename T::Word bc = v[1] ^ v[2];
    (Round<T, R>(v, W, bc), ...);
}

// The portable block transform, every round written out by the template above.
template <class T>
void TransformPortable(typename T::Word H[8], const uint8_t* block) {
    using Word = typename T::Word;
    Word W[16];
    for (int i = 0; i < 16; ++i)
        W[i] = T::Load(block + sizeof(Word) * i);
    Word v[8];
    for (int i = 0; i < 8; ++i)
        v[i] = H[i];
    AllRounds<T>(v, W, std::make_integer_sequence<int, T::kRounds>());
    for (int i = 0; i < 8; ++i)
        H[i] += v[i];
}

void SHA256Blocks(SHA256Context& ctx, const uint8_t* data, size_t blocks) {
#if defined(__x86_64__) || defined(__i386__)
    if (sha_x86::ShaExtensionsActive()) {
        sha_x86::SHA256Blocks(ctx.H, data, blocks);
        return;
    }
#endif
    for (size_t i = 0; i < blocks; ++i)
        TransformPortable<Sha256Traits>(ctx.H, data + 64 * i);
}

void SHA512Blocks(SHA512Context& ctx, const uint8_t* data, size_t blocks) {
#if defined(__x86_64__) || defined(__i386__)
    if (sha_x86::Avx512Active()) {
        sha_x86::SHA512BlocksAvx512(ctx.H, data, blocks);
        return;
    }
    if (sha_x86::Avx2Active()) {
        sha_x86::SHA512BlocksAvx2(ctx.H, data, blocks);
        return;
    }
#endif
    for (size_t i = 0; i < blocks; ++i)
        TransformPortable<Sha512Traits>(ctx.H, data + 128 * i);
}

// The context of either width, empty, with its initial hash value.
template <class Context, class Word>
void Init(Context& ctx, const Word (&iv)[8]) {
    hash_buffer::Reset(ctx);
    std::memcpy(ctx.H, iv, sizeof(ctx.H));
}

void Finish256(SHA256Context& ctx, uint8_t (&out)[32]) {
    hash_buffer::PadAndHash<64, 8, true>(ctx.Buffer, size_t(ctx.BufferedCount), ctx.ByteCount,
                                         [&ctx](const uint8_t* p, size_t n) { SHA256Blocks(ctx, p, n); });
    for (int i = 0; i < 8; ++i)
        rtl::store_be32(out + 4 * i, ctx.H[i]);
}

void Finish512(SHA512Context& ctx, uint8_t (&out)[64]) {
    hash_buffer::PadAndHash<128, 16, true>(ctx.Buffer, size_t(ctx.BufferedCount), ctx.ByteCount,
                                           [&ctx](const uint8_t* p, size_t n) { SHA512Blocks(ctx, p, n); });
    for (int i = 0; i < 8; ++i)
        rtl::store_be64(out + 8 * i, ctx.H[i]);
}

}  // namespace

SHA256Context::~SHA256Context() {
    rtl::secure_wipe(this, sizeof(*this));
}

SHA512Context::~SHA512Context() {
    rtl::secure_wipe(this, sizeof(*this));
}

void InitSHA224Context(SHA256Context& context) {
    Init(context, IV224);
}

void UpdateSHA224Context(SHA256Context& context, const void* data, size_t length) {
    UpdateSHA256Context(context, data, length);
}

void FinishSHA224Context(SHA256Context& context, SHA224Digest& digest) {
    uint8_t full[32];
    Finish256(context, full);
    std::memcpy(digest.data(), full, digest.size());
    rtl::secure_wipe(full, sizeof(full));
}

void ComputeSHA224(const void* data, size_t length, SHA224Digest& digest) {
    SHA256Context ctx;
    InitSHA224Context(ctx);
    UpdateSHA256Context(ctx, data, length);
    FinishSHA224Context(ctx, digest);
}

void InitSHA256Context(SHA256Context& context) {
    Init(context, IV256);
}

void UpdateSHA256Context(SHA256Context& context, const void* data, size_t length) {
    hash_buffer::Update<64>(context, data, length, SHA256Blocks);
}

void FinishSHA256Context(SHA256Context& context, SHA256Digest& digest) {
    uint8_t full[32];
    Finish256(context, full);
    std::memcpy(digest.data(), full, digest.size());
    rtl::secure_wipe(full, sizeof(full));
}

void HashSHA256(const void* data, size_t length, SHA256Digest& digest) {
    SHA256Context ctx;
    InitSHA256Context(ctx);
    UpdateSHA256Context(ctx, data, length);
    FinishSHA256Context(ctx, digest);
}

void InitSHA384Context(SHA512Context& context) {
    Init(context, IV384);
}

void UpdateSHA384Context(SHA512Context& context, const void* data, size_t length) {
    UpdateSHA512Context(context, data, length);
}

void FinishSHA384Context(SHA512Context& context, SHA384Digest& digest) {
    uint8_t full[64];
    Finish512(context, full);
    std::memcpy(digest.data(), full, digest.size());
    rtl::secure_wipe(full, sizeof(full));
}

void ComputeSHA384(const void* data, size_t length, SHA384Digest& digest) {
    SHA512Context ctx;
    InitSHA384Context(ctx);
    UpdateSHA512Context(ctx, data, length);
    FinishSHA384Context(ctx, digest);
}

void InitSHA512Context(SHA512Context& context) {
    Init(context, IV512);
}

void UpdateSHA512Context(SHA512Context& context, const void* data, size_t length) {
    hash_buffer::Update<128>(context, data, length, SHA512Blocks);
}

void FinishSHA512Context(SHA512Context& context, SHA512Digest& digest) {
    uint8_t full[64];
    Finish512(context, full);
    std::memcpy(digest.data(), full, digest.size());
    rtl::secure_wipe(full, sizeof(full));
}

void ComputeSHA512(const void* data, size_t length, SHA512Digest& digest) {
    SHA512Context ctx;
    InitSHA512Context(ctx);
    UpdateSHA512Context(ctx, data, length);
    FinishSHA512Context(ctx, digest);
}
