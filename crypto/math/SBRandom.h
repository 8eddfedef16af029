// crypto/math/SBRandom.h: the library's random numbers: the RC4-style generator TElRandom and the
// process-wide generator every key, nonce, padding byte, salt and prime candidate comes from.
//
// The process-wide functions (GenerateRandomBytes, GenerateRandomInteger) draw fresh bytes
// from the operating system's random source on every call, under one lock, and fold the
// stream of a shared TElRandom over them; that stream is what AddRandomSeed and
// SeedGlobalRandom stir. Stirring therefore changes the output but can never make it weaker
// than the system's source, and a clock reading never decides a secret. The generator comes
// up on first use (InitGlobalRandom), so no caller has to initialise it.
//
// TElRandom keeps its published behaviour for the code that owns private instances: seeded
// from given bytes it is a reproducible RC4 keystream (see SeedFromString). Such a private
// instance is not locked; its owner uses it from one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "crypto/base/SBUtils.h"
#include "crypto/sym/SBRC4.h"

class TElRandom final {
public:
    // Seeds itself with 64 bytes from the operating system's random source, so an instance
    // that is never seeded again is still unpredictable.
    TElRandom();
    ~TElRandom() = default;  // the RC4 state wipes itself
    TElRandom(const TElRandom&) = delete;
    TElRandom& operator=(const TElRandom&) = delete;

    // Restarts the generator from the given bytes (at least one; an empty seed raises
    // ECryptoLibraryError).
    void Seed(const void* seed, size_t length);
    void SeedFromString(const ByteString& seed);
    // Stirs the bytes into the current state; a length of 0 changes nothing.
    void AddSeed(const void* seed, size_t length);
    // The next count output bytes.
    void Generate(void* buffer, size_t count);
    ByteString GenerateString(size_t count);

private:
    void Schedule(const uint8_t* seed, size_t length);

    RC4Context state_;
};

// count random bytes from the process-wide generator; thread-safe. Raises
// plat::ESystemRandomError when the operating system's source cannot be read.
void GenerateRandomBytes(void* buffer, size_t count);
// A random value below bound without bias (every value equally likely); bound 0 means the
// full 32-bit range and bound 1 always gives 0.
uint32_t GenerateRandomInteger(uint32_t bound);
// Stirs the bytes into the process-wide generator.
void AddRandomSeed(const void* seed, size_t length);
// Stirs 48 bytes of clock readings into the process-wide generator.
void SeedRandomFromClock();
// Stirs 16 SHA-1 digests of clock readings and the text into the process-wide generator.
void SeedGlobalRandom(const std::string& text);

// Lifecycle of the process-wide generator. CreateGlobalRandom replaces it with a fresh one;
// InitGlobalRandom also stirs it as at start-up; after FreeGlobalRandom the next use brings
// it up again.
void CreateGlobalRandom();
void FreeGlobalRandom();
void InitGlobalRandom();
