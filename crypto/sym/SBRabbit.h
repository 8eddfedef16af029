// crypto/sym/SBRabbit.h: the Rabbit stream cipher (128-bit key, 64-bit IV) as plain routines over
// a caller-owned context.
//
// Key setup runs once per key and saves a master state; every IV setup starts again from that
// master state, so one keyed context serves many messages. RabbitProcess advances one step
// per 16 bytes and never carries keystream over between calls. The IV argument is 16 bytes of
// which only the first 8 are used. Bytes are taken little-endian throughout (key halves, IV,
// keystream words). Errors are plain rtl::Exception with the system's messages; nothing
// changes when one is raised. The context holds key material and wipes itself when it goes
// away.
#pragma once

#include <cstdint>
#include <span>

struct RabbitContext {
    uint32_t X[8] = {};
    uint32_t C[8] = {};
    // The key's 16-bit halves, one per 32-bit slot; used only while keying and cleared when
    // the key setup ends.
    uint32_t K[8] = {};
    uint8_t Carry = 0;
    // The state key setup left, restored by every IV setup.
    uint32_t MasterX[8] = {};
    uint32_t MasterC[8] = {};
    uint8_t MasterCarry = 0;

    RabbitContext() = default;
    RabbitContext(const RabbitContext&) = default;
    RabbitContext& operator=(const RabbitContext&) = default;
    ~RabbitContext();
};

// key: 16 bytes, else "Key must be 16-bytes!".
void RabbitKeySetup(RabbitContext& context, std::span<const uint8_t> key);
// iv: 16 bytes (the last 8 unused), else "IV-Key must be 16-bytes!".
void RabbitIVSetup(RabbitContext& context, std::span<const uint8_t> iv);
// destination := source XOR keystream, one step per 16 bytes. The two must have the same
// length ("Source and Destination data vectors must have the same size!"), a multiple of 16
// ("Destination data vector must have length based on 16!"); they may be the same array.
void RabbitProcess(RabbitContext& context, std::span<const uint8_t> source, std::span<uint8_t> destination);
