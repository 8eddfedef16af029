// crypto/sym/SB3DES.cpp: triple-DES schedules, the two block routines and the CBC contexts.
//
// A block goes through one initial permutation, three passes of sixteen rounds with the
// halves exchanged between the passes (as a single DES exchanges them at its end), and one
// final permutation: the same result as three whole DES operations at a third less cost.
#include "crypto/sym/SB3DES.h"

#include <cstring>

#include "crypto/sym/CBCBuffering.h"
#include "crypto/sym/DESCore.h"
#include "rtl/Bytes.h"

namespace {

// The three passes over schedules first, second, third.
inline void ThreePasses(const uint8_t* input, const TDESExpandedKey& first, const TDESExpandedKey& second,
                        const TDESExpandedKey& third, uint8_t* output) {
    uint32_t left = rtl::load_be32(input);
    uint32_t right = rtl::load_be32(input + 4);
    des_detail::InitialPermutation(left, right);
    des_detail::SixteenRounds(left, right, first.K);
    des_detail::SixteenRounds(right, left, second.K);
    des_detail::SixteenRounds(left, right, third.K);
    des_detail::FinalPermutation(left, right, output);
}

}  // namespace

TripleDESContext::~TripleDESContext() {
    rtl::secure_wipe(Chain, sizeof Chain);
    rtl::secure_wipe(Pending, sizeof Pending);
    PendingCount = 0;
}

void TripleDESKeySchedule(const uint8_t* key, TTripleDESExpandedKey& schedule) {
    schedule = TTripleDESExpandedKey();
    DESKeySchedule(key, schedule.Keys[0]);
    DESDecryptKeySchedule(key + 8, schedule.Keys[1]);
    DESKeySchedule(key + 16, schedule.Keys[2]);
}

void TripleDESDecryptKeySchedule(const uint8_t* key, TTripleDESExpandedKey& schedule) {
    schedule = TTripleDESExpandedKey();
    DESDecryptKeySchedule(key, schedule.Keys[0]);
    DESKeySchedule(key + 8, schedule.Keys[1]);
    DESDecryptKeySchedule(key + 16, schedule.Keys[2]);
}

void TripleDESEncryptBlock(const uint8_t* input, const TTripleDESExpandedKey& schedule, uint8_t* output) {
    ThreePasses(input, schedule.Keys[0], schedule.Keys[1], schedule.Keys[2], output);
}

void TripleDESDecryptBlock(const uint8_t* input, const TTripleDESExpandedKey& schedule, uint8_t* output) {
    ThreePasses(input, schedule.Keys[2], schedule.Keys[1], schedule.Keys[0], output);
}

void InitTripleDESEncryptionContext(TripleDESContext& context, const uint8_t* key, const uint8_t* iv) {
    TripleDESKeySchedule(key, context.Schedule);
    std::memcpy(context.Chain, iv, 8);
    context.PendingCount = 0;
}

void InitTripleDESDecryptionContext(TripleDESContext& context, const uint8_t* key, const uint8_t* iv) {
    TripleDESDecryptKeySchedule(key, context.Schedule);
    std::memcpy(context.Chain, iv, 8);
    context.PendingCount = 0;
}

bool EncryptTripleDESCBC(TripleDESContext& context, const void* input, size_t inputSize, void* output,
                         size_t& outputSize) {
    return cbc_detail::Run(
        context.Chain, context.Pending, context.PendingCount, input, inputSize, output, outputSize, true,
        [&](const uint8_t* in, uint8_t* out) { TripleDESEncryptBlock(in, context.Schedule, out); });
}

bool DecryptTripleDESCBC(TripleDESContext& context, const void* input, size_t inputSize, void* output,
                         size_t& outputSize) {
    return cbc_detail::Run(
        context.Chain, context.Pending, context.PendingCount, input, inputSize, output, outputSize, false,
        [&](const uint8_t* in, uint8_t* out) { TripleDESDecryptBlock(in, context.Schedule, out); });
}
