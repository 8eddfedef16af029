// crypto/sym/SBCamellia.cpp: Camellia key schedule, the tables of the F function, and the choice
// between the portable rounds and the BMI1 ones (both from CamelliaCore.h).
//
// The F function is an S-layer of eight byte substitutions (SBOX1..SBOX4, the last three
// being rotations of the first) followed by the P-function, a fixed XOR network over the
// eight bytes. Both are folded into eight tables of 64-bit words computed at compile time:
// table i holds, for every input byte, the substituted byte placed in each output byte
// position whose P-function equation contains byte i. F is then eight lookups and XORs.
//
// The CPU is asked once, here, whether it has BMI1; only then do the block routines call into
// SBCamellia_bmi.cpp. Both forms give the same bytes.
#include "crypto/sym/SBCamellia.h"

#include <array>
#include <atomic>
#include <utility>

#include "crypto/sym/CamelliaCore.h"
#include "crypto/sym/SBCamellia_bmi.h"
#include "rtl/Bytes.h"

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace {

#include "crypto/sym/tables/SBCamelliaTables.inc"

constexpr uint8_t Rotl8(uint8_t x, int n) {
    return uint8_t((x << n) | (x >> (8 - n)));
}

// Byte i (0 = t1) of the F function's input goes through S-box kBoxOf[i] (1..4).
constexpr int kBoxOf[8] = {1, 2, 3, 4, 2, 3, 4, 1};

constexpr uint8_t Sbox(int box, uint8_t x) {
    switch (box) {
        case 1:
            return kCamelliaSBox1[x];
        case 2:
            return Rotl8(kCamelliaSBox1[x], 1);
        case 3:
            return Rotl8(kCamelliaSBox1[x], 7);
        default:
            return kCamelliaSBox1[Rotl8(x, 1)];
    }
}

// The P-function: output byte y_j (row j) is the XOR of the input bytes t_i marked in the row.
constexpr uint8_t kP[8][8] = {
    // t1 t2 t3 t4 t5 t6 t7 t8
    {1, 0, 1, 1, 0, 1, 1, 1},  // y1
    {1, 1, 0, 1, 1, 0, 1, 1},  // y2
    {1, 1, 1, 0, 1, 1, 0, 1},  // y3
    {0, 1, 1, 1, 1, 1, 1, 0},  // y4
    {1, 1, 0, 0, 0, 1, 1, 1},  // y5
    {0, 1, 1, 0, 1, 0, 1, 1},  // y6
    {0, 0, 1, 1, 1, 1, 0, 1},  // y7
    {1, 0, 0, 1, 1, 1, 1, 0},  // y8
};

constexpr camellia_detail::SPTables MakeSP() {
    camellia_detail::SPTables t{};
    for (int i = 0; i < 8; ++i)
        for (int x = 0; x < 256; ++x) {
            const uint64_t s = Sbox(kBoxOf[i], uint8_t(x));
            uint64_t w = 0;
            for (int j = 0; j < 8; ++j)
                if (kP[j][i]) w |= s << (56 - 8 * j);
            t[i][x] = w;
        }
    return t;
}

}  // namespace

namespace camellia_detail {

constinit const SPTables kSP = MakeSP();

}  // namespace camellia_detail

namespace {

struct ByteShift {
    static uint64_t At(uint64_t x, unsigned shift) { return (x >> shift) & 0xff; }
};

// The F function of the key schedule.
inline uint64_t F(uint64_t x, uint64_t k) {
    return camellia_detail::FXor<ByteShift>(x ^ k, 0);
}

// A 128-bit value as (hi, lo); Rot gives its left rotation by n bits.
struct U128 {
    uint64_t hi;
    uint64_t lo;
};

inline U128 Rot(U128 v, unsigned n) {
    n &= 127;
    if (n >= 64) {
        std::swap(v.hi, v.lo);
        n -= 64;
    }
    if (n == 0) return v;
    return {(v.hi << n) | (v.lo >> (64 - n)), (v.lo << n) | (v.hi >> (64 - n))};
}

bool Schedule(std::span<const uint8_t> key, CamelliaSubkeys& s) {
    if (key.size() != 16 && key.size() != 24 && key.size() != 32) return false;
    const U128 KL{rtl::load_be64(&key[0]), rtl::load_be64(&key[8])};
    U128 KR{0, 0};
    if (key.size() == 32) {
        KR = {rtl::load_be64(&key[16]), rtl::load_be64(&key[24])};
    } else if (key.size() == 24) {
        KR.hi = rtl::load_be64(&key[16]);
        KR.lo = ~KR.hi;
    }

    uint64_t d1 = KL.hi ^ KR.hi;
    uint64_t d2 = KL.lo ^ KR.lo;
    d2 ^= F(d1, kCamelliaSigma[0]);
    d1 ^= F(d2, kCamelliaSigma[1]);
    d1 ^= KL.hi;
    d2 ^= KL.lo;
    d2 ^= F(d1, kCamelliaSigma[2]);
    d1 ^= F(d2, kCamelliaSigma[3]);
    const U128 KA{d1, d2};

    // kw/k/ke subkeys are the halves of rotations of KL, KR, KA and KB.
    auto set = [](uint64_t& a, uint64_t& b, U128 v) {
        a = v.hi;
        b = v.lo;
    };
    if (key.size() == 16) {
        set(s.kw[0], s.kw[1], KL);
        set(s.k[0], s.k[1], KA);
        set(s.k[2], s.k[3], Rot(KL, 15));
        set(s.k[4], s.k[5], Rot(KA, 15));
        set(s.ke[0], s.ke[1], Rot(KA, 30));
        set(s.k[6], s.k[7], Rot(KL, 45));
        s.k[8] = Rot(KA, 45).hi;
        s.k[9] = Rot(KL, 60).lo;
        set(s.k[10], s.k[11], Rot(KA, 60));
        set(s.ke[2], s.ke[3], Rot(KL, 77));
        set(s.k[12], s.k[13], Rot(KL, 94));
        set(s.k[14], s.k[15], Rot(KA, 94));
        set(s.k[16], s.k[17], Rot(KL, 111));
        set(s.kw[2], s.kw[3], Rot(KA, 111));
        for (int i = 18; i < 24; ++i)
            s.k[i] = 0;
        s.ke[4] = s.ke[5] = 0;
    } else {
        d1 = KA.hi ^ KR.hi;
        d2 = KA.lo ^ KR.lo;
        d2 ^= F(d1, kCamelliaSigma[4]);
        d1 ^= F(d2, kCamelliaSigma[5]);
        const U128 KB{d1, d2};
        set(s.kw[0], s.kw[1], KL);
        set(s.k[0], s.k[1], KB);
        set(s.k[2], s.k[3], Rot(KR, 15));
        set(s.k[4], s.k[5], Rot(KA, 15));
        set(s.ke[0], s.ke[1], Rot(KR, 30));
        set(s.k[6], s.k[7], Rot(KB, 30));
        set(s.k[8], s.k[9], Rot(KL, 45));
        set(s.k[10], s.k[11], Rot(KA, 45));
        set(s.ke[2], s.ke[3], Rot(KL, 60));
        set(s.k[12], s.k[13], Rot(KR, 60));
        set(s.k[14], s.k[15], Rot(KB, 60));
        set(s.k[16], s.k[17], Rot(KL, 77));
        set(s.ke[4], s.ke[5], Rot(KA, 77));
        set(s.k[18], s.k[19], Rot(KR, 94));
        set(s.k[20], s.k[21], Rot(KA, 94));
        set(s.k[22], s.k[23], Rot(KL, 111));
        set(s.kw[2], s.kw[3], Rot(KB, 111));
    }
    // The intermediate key halves are as secret as the key; the U128 copies die with the
    // frame, the running words are cleared here.
    rtl::secure_wipe(&d1, sizeof(d1));
    rtl::secure_wipe(&d2, sizeof(d2));
    return true;
}

}  // namespace

CamelliaSubkeys::~CamelliaSubkeys() {
    rtl::secure_wipe(this, sizeof(*this));
}

bool CamelliaKeySchedule(std::span<const uint8_t> key, CamelliaSubkeys& subkeys) {
    return Schedule(key, subkeys);
}

bool CamelliaDecryptKeySchedule(std::span<const uint8_t> key, CamelliaSubkeys& subkeys) {
    if (!Schedule(key, subkeys)) return false;
    std::swap(subkeys.kw[0], subkeys.kw[2]);
    std::swap(subkeys.kw[1], subkeys.kw[3]);
    if (key.size() == 16) {
        for (int i = 0; i < 9; ++i)
            std::swap(subkeys.k[i], subkeys.k[17 - i]);
        std::swap(subkeys.ke[0], subkeys.ke[3]);
        std::swap(subkeys.ke[1], subkeys.ke[2]);
    } else {
        for (int i = 0; i < 12; ++i)
            std::swap(subkeys.k[i], subkeys.k[23 - i]);
        for (int j = 0; j < 3; ++j)
            std::swap(subkeys.ke[j], subkeys.ke[5 - j]);
    }
    return true;
}

namespace {

// Asked here, in code built for the baseline processor: CPUID leaf 7, EBX bit 3 is BMI1.
bool CpuHasBmi() {
#if defined(__x86_64__)
    if (!camellia_bmi::kCompiledIn) return false;
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return (b & (1u << 3)) != 0;
#else
    return false;
#endif
}

const bool kCpuHasBmi = CpuHasBmi();
std::atomic<bool> gUseBmi{kCpuHasBmi};

inline bool UseBmi() {
    return gUseBmi.load(std::memory_order_relaxed);
}

}  // namespace

void CamelliaCryptBlock(const uint8_t* input, uint8_t* output, const CamelliaSubkeys& subkeys, bool longKey) {
    if (UseBmi()) return camellia_bmi::CryptBlock(input, output, subkeys, longKey);
    if (longKey)
        camellia_detail::CryptBlock<ByteShift, 4>(input, output, subkeys);
    else
        camellia_detail::CryptBlock<ByteShift, 3>(input, output, subkeys);
}

void CamelliaEncryptBlocksCBC(const uint8_t* input, const CamelliaSubkeys& subkeys, bool longKey,
                              uint8_t* chain, uint8_t* output, size_t count) {
    if (UseBmi()) return camellia_bmi::EncryptBlocksCBC(input, subkeys, longKey, chain, output, count);
    if (longKey)
        camellia_detail::EncryptCBC<ByteShift, 4>(input, subkeys, chain, output, count);
    else
        camellia_detail::EncryptCBC<ByteShift, 3>(input, subkeys, chain, output, count);
}

bool CamelliaBmiAvailable() {
    return kCpuHasBmi;
}
bool CamelliaBmiActive() {
    return UseBmi();
}
void CamelliaSetBmi(bool enabled) {
    gUseBmi.store(enabled && kCpuHasBmi);
}
