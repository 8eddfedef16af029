// crypto/sym/SBDES.cpp: DES key schedules, the single-block routine and CBC decryption.
//
// The key schedule follows permuted choice 1, the cumulative left rotations of the two 28-bit
// halves and permuted choice 2, then regroups the 48 bits into the byte-per-S-box layout the
// round tables index (see DESCore.h).
#include "crypto/sym/SBDES.h"

#include <cstring>

#include "crypto/sym/CBCBuffering.h"
#include "crypto/sym/DESCore.h"
#include "rtl/Bytes.h"

namespace des_detail {

void ComputeSchedule(const uint8_t* key, bool reverse, uint32_t* out) {
    // The 56 key bits of permuted choice 1, one per entry (bit 0 = most significant of byte 0).
    uint8_t pc1Bits[56];
    uint8_t rotated[56];
    uint32_t groups[8];
    for (int j = 0; j < 56; ++j) {
        const int bit = kPC1[j];
        pc1Bits[j] = (key[bit >> 3] >> (7 - (bit & 7))) & 1;
    }
    for (int round = 0; round < 16; ++round) {
        const int shift = kTotalRotations[round];
        for (int j = 0; j < 28; ++j) {
            const int c = j + shift;
            rotated[j] = pc1Bits[c < 28 ? c : c - 28];
            const int d = j + 28 + shift;
            rotated[j + 28] = pc1Bits[d < 56 ? d : d - 28];
        }
        // The 48 round-key bits in permuted-choice-2 order, as eight 6-bit groups.
        for (int g = 0; g < 8; ++g) {
            uint32_t v = 0;
            for (int b = 0; b < 6; ++b)
                v = (v << 1) | rotated[kPC2[g * 6 + b]];
            groups[g] = v;
        }
        const int slot = reverse ? 15 - round : round;
        out[2 * slot] = groups[0] << 24 | groups[2] << 16 | groups[4] << 8 | groups[6];
        out[2 * slot + 1] = groups[1] << 24 | groups[3] << 16 | groups[5] << 8 | groups[7];
    }
    // Every work area holds key bits (the last rotation is the whole key again).
    rtl::secure_wipe(pc1Bits, sizeof pc1Bits);
    rtl::secure_wipe(rotated, sizeof rotated);
    rtl::secure_wipe(groups, sizeof groups);
}

}  // namespace des_detail

TDESExpandedKey::~TDESExpandedKey() {
    rtl::secure_wipe(K, sizeof K);
}

DESContext::~DESContext() {
    rtl::secure_wipe(Chain, sizeof Chain);
    rtl::secure_wipe(Pending, sizeof Pending);
    PendingCount = 0;
}

void DESKeySchedule(const uint8_t* key, TDESExpandedKey& schedule) {
    des_detail::ComputeSchedule(key, false, schedule.K);
}

void DESDecryptKeySchedule(const uint8_t* key, TDESExpandedKey& schedule) {
    des_detail::ComputeSchedule(key, true, schedule.K);
}

void DESCryptBlock(const uint8_t* input, const TDESExpandedKey& schedule, uint8_t* output) {
    uint32_t left = rtl::load_be32(input);
    uint32_t right = rtl::load_be32(input + 4);
    des_detail::InitialPermutation(left, right);
    des_detail::SixteenRounds(left, right, schedule.K);
    des_detail::FinalPermutation(left, right, output);
}

void InitDESDecryptionContext(DESContext& context, const uint8_t* key, const uint8_t* iv) {
    DESDecryptKeySchedule(key, context.Schedule);
    std::memcpy(context.Chain, iv, 8);
    context.PendingCount = 0;
}

bool DecryptDESCBC(DESContext& context, const void* input, size_t inputSize, void* output,
                   size_t& outputSize) {
    return cbc_detail::Run(
        context.Chain, context.Pending, context.PendingCount, input, inputSize, output, outputSize, false,
        [&](const uint8_t* in, uint8_t* out) { DESCryptBlock(in, context.Schedule, out); });
}
