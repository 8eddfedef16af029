// crypto/math/SBRandom.cpp: TElRandom and the process-wide generator.
//
// TElRandom is RC4 keyed by a 256-byte key stream derived from the seed: the seed bytes are
// walked in order (wrapping) and each is used four times, shifted right by 0, 1, 2 and 3
// bits. Seeding runs the RC4 key schedule from the identity permutation; AddSeed runs the
// same schedule over the current permutation. No output bytes are discarded.
//
// The process-wide generator must never be weaker than the operating system's source: each
// draw reads fresh system bytes and XORs the shared TElRandom's stream over them. The lock
// object lives for the whole process, so no caller can ever take a freed lock.
#include "crypto/math/SBRandom.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>

#include "crypto/hash/SBSHA.h"
#include "platform/Clock.h"
#include "platform/SystemRandom.h"
#include "rtl/Bytes.h"

// ---------------------------------------------------------------------------------------
// TElRandom

TElRandom::TElRandom() {
    uint8_t seed[64];
    plat::SystemRandomBytes(seed, sizeof(seed));
    Seed(seed, sizeof(seed));
    rtl::secure_wipe(seed, sizeof(seed));
}

void TElRandom::Schedule(const uint8_t* seed, size_t length) {
    uint8_t j = 0;
    size_t pos = 0;
    for (int n = 0; n < 256; ++n) {
        const uint8_t k = uint8_t(seed[pos] >> (n & 3));
        if ((n & 3) == 3 && ++pos == length) pos = 0;
        j = uint8_t(j + state_.S[n] + k);
        const uint8_t t = state_.S[n];
        state_.S[n] = state_.S[j];
        state_.S[j] = t;
    }
    state_.i = 0;
    state_.j = 0;
}

void TElRandom::Seed(const void* seed, size_t length) {
    if (length == 0 || seed == nullptr) throw ECryptoLibraryError("Random generator seed is empty");
    for (int n = 0; n < 256; ++n)
        state_.S[n] = uint8_t(n);
    Schedule(static_cast<const uint8_t*>(seed), length);
}

void TElRandom::SeedFromString(const ByteString& seed) {
    Seed(seed.data(), seed.size());
}

void TElRandom::AddSeed(const void* seed, size_t length) {
    if (length == 0) return;
    Schedule(static_cast<const uint8_t*>(seed), length);
}

void TElRandom::Generate(void* buffer, size_t count) {
    if (count == 0) return;
    std::memset(buffer, 0, count);
    EncryptRC4(state_, buffer, buffer, count);
}

ByteString TElRandom::GenerateString(size_t count) {
    ByteString out(count, '\0');
    Generate(out.data(), count);
    return out;
}

// ---------------------------------------------------------------------------------------
// The process-wide generator

namespace {

std::mutex& GlobalRandomLock() {
    static std::mutex lock;
    return lock;
}

std::unique_ptr<TElRandom>& GlobalRandom() {
    static std::unique_ptr<TElRandom> generator;
    return generator;
}

// The clock readings the stirring functions mix in: the 32-bit tick count and the current
// date-time as the class library's day count (days since 1899-12-30) in its 8-byte floating
// form. They add variety only; the secrets come from the system source.
struct ClockSample {
    uint32_t ticks;
    uint8_t dateTime[8];
};

ClockSample ReadClock() {
    plat::Clock& clock = plat::GetClock();
    ClockSample s{};
    s.ticks = clock.TickCount();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(clock.Now().time_since_epoch()).count();
    const double days = double(ms) / 86400000.0 + 25569.0;
    rtl::store_le64(s.dateTime, std::bit_cast<uint64_t>(days));
    return s;
}

// The Locked functions expect GlobalRandomLock to be held.
void CreateLocked() {
    GlobalRandom() = std::make_unique<TElRandom>();
}

void SeedGlobalLocked(const std::string& text) {
    TElRandom& rnd = *GlobalRandom();
    uint8_t d[20];
    std::memset(d, 0x3F, sizeof(d));
    for (int round = 0; round < 16; ++round) {
        const ClockSample s = ReadClock();
        const uint8_t mix[2] = {uint8_t((s.ticks >> 24) ^ s.ticks),
                                uint8_t((s.ticks >> 16) ^ (s.ticks >> 8))};
        uint8_t t[4];
        rtl::store_le32(t, s.ticks);
        SHA1Context ctx;
        InitSHA1Context(ctx);
        UpdateSHA1Context(ctx, d, sizeof(d));
        for (int i = 0; i < 1024; ++i) {
            UpdateSHA1Context(ctx, t, sizeof(t));
            UpdateSHA1Context(ctx, s.dateTime, sizeof(s.dateTime));
            UpdateSHA1Context(ctx, mix, sizeof(mix));
            UpdateSHA1Context(ctx, text.data(), text.size());
        }
        SHA1Digest digest;
        FinishSHA1Context(ctx, digest);
        std::memcpy(d, digest.data(), sizeof(d));
        rnd.AddSeed(d, sizeof(d));
    }
    rtl::secure_wipe(d, sizeof(d));
}

void SeedFromClockLocked() {
    const ClockSample s = ReadClock();
    uint8_t buf[48];
    for (int i = 0; i < 4; ++i) {
        rtl::store_le32(buf + 12 * i, s.ticks);
        std::memcpy(buf + 12 * i + 4, s.dateTime, 8);
    }
    GlobalRandom()->AddSeed(buf, sizeof(buf));
}

void InitLocked() {
    CreateLocked();
    SeedGlobalLocked("initialization");
    SeedFromClockLocked();
}

TElRandom& EnsureLocked() {
    if (!GlobalRandom()) InitLocked();
    return *GlobalRandom();
}

}  // namespace

void GenerateRandomBytes(void* buffer, size_t count) {
    if (count == 0) return;
    auto* out = static_cast<uint8_t*>(buffer);
    std::lock_guard<std::mutex> guard(GlobalRandomLock());
    TElRandom& rnd = EnsureLocked();
    plat::SystemRandomBytes(out, count);
    uint8_t stream[256];
    for (size_t done = 0; done < count;) {
        const size_t n = std::min(sizeof(stream), count - done);
        rnd.Generate(stream, n);
        for (size_t i = 0; i < n; ++i)
            out[done + i] ^= stream[i];
        done += n;
    }
    rtl::secure_wipe(stream, sizeof(stream));
}

uint32_t GenerateRandomInteger(uint32_t bound) {
    auto draw = [] {
        uint8_t b[4];
        GenerateRandomBytes(b, sizeof(b));
        const uint32_t v = rtl::load_le32(b);
        rtl::secure_wipe(b, sizeof(b));
        return v;
    };
    if (bound == 0) return draw();
    // Values at or above the largest multiple of bound below 2^32 are drawn again, so every
    // result is equally likely; for powers of two nothing is ever rejected.
    const uint64_t limit = (uint64_t(1) << 32) - ((uint64_t(1) << 32) % bound);
    for (;;) {
        const uint32_t v = draw();
        if (v < limit) return v % bound;
    }
}

void AddRandomSeed(const void* seed, size_t length) {
    std::lock_guard<std::mutex> guard(GlobalRandomLock());
    EnsureLocked().AddSeed(seed, length);
}

void SeedRandomFromClock() {
    std::lock_guard<std::mutex> guard(GlobalRandomLock());
    EnsureLocked();
    SeedFromClockLocked();
}

void SeedGlobalRandom(const std::string& text) {
    std::lock_guard<std::mutex> guard(GlobalRandomLock());
    EnsureLocked();
    SeedGlobalLocked(text);
}

void CreateGlobalRandom() {
    std::lock_guard<std::mutex> guard(GlobalRandomLock());
    CreateLocked();
}

void FreeGlobalRandom() {
    std::lock_guard<std::mutex> guard(GlobalRandomLock());
    GlobalRandom().reset();
}

void InitGlobalRandom() {
    std::lock_guard<std::mutex> guard(GlobalRandomLock());
    InitLocked();
}
