// bench/BenchSupport.h: what the cryptographic benchmarks share: OpenSSL's providers, the
// timing of ours against the peer over one 16 KiB buffer, its line (MB/s, through
// bench/BenchLine.h), the rate of whole calls, and an EVP cipher context run without padding.
//
// Each case alternates ours and the peer for several rounds and keeps the best round of each,
// so a busy moment on a shared machine costs both sides alike.
#pragma once

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchLine.h"

namespace bench {

inline constexpr size_t kBuffer = 16 * 1024;
inline constexpr int kRounds = 7;
inline constexpr double kRoundSeconds = 0.06;

// The default and legacy providers (Blowfish, CAST5, SEED and DES live in the legacy one);
// false when either is missing.
inline bool LoadOpenSSLProviders() {
    if (OSSL_PROVIDER_load(nullptr, "legacy") == nullptr ||
        OSSL_PROVIDER_load(nullptr, "default") == nullptr) {
        std::fprintf(stderr, "OpenSSL's legacy provider is not available\n");
        return false;
    }
    return true;
}

// Bytes per second of fn over kBuffer bytes, run for about kRoundSeconds.
inline double Throughput(const std::function<void()>& fn) {
    using Clock = std::chrono::steady_clock;
    fn();  // warm the caches and the branch predictors
    size_t calls = 0;
    const auto start = Clock::now();
    double elapsed = 0;
    do {
        for (int i = 0; i < 16; ++i)
            fn();
        calls += 16;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < kRoundSeconds);
    return double(calls * kBuffer) / elapsed;
}

inline void Report(const std::string& name, const std::function<void()>& ours,
                   const std::function<void()>& peer) {
    double bestOurs = 0, bestPeer = 0;
    for (int r = 0; r < kRounds; ++r) {
        bestOurs = std::max(bestOurs, Throughput(ours));
        bestPeer = std::max(bestPeer, Throughput(peer));
    }
    PrintRates(name, bestOurs / 1e6, bestPeer / 1e6, "MB/s");
}

// Calls per second of fn over one round of about seconds.
inline double CallRate(const std::function<void()>& fn, double seconds = kRoundSeconds) {
    using Clock = std::chrono::steady_clock;
    size_t calls = 0;
    const auto start = Clock::now();
    double elapsed = 0;
    do {
        fn();
        ++calls;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < seconds);
    return double(calls) / elapsed;
}

// Calls per second of ours and of the peer, each warmed by one call: rounds of about seconds
// each, ours and the peer alternating, the best round of each.
struct CallRates {
    double ours = 0, peer = 0;
};
inline CallRates BestCallRates(const std::function<void()>& ours, const std::function<void()>& peer,
                               int rounds = kRounds, double seconds = kRoundSeconds) {
    ours();
    peer();
    CallRates best;
    for (int r = 0; r < rounds; ++r) {
        best.ours = std::max(best.ours, CallRate(ours, seconds));
        best.peer = std::max(best.peer, CallRate(peer, seconds));
    }
    return best;
}

// An OpenSSL cipher by name, keyed with the whole key (its length set first, for the ciphers
// of variable key length), padding off; the program ends when OpenSSL cannot run it.
struct EvpCipher {
    std::unique_ptr<EVP_CIPHER, decltype(&EVP_CIPHER_free)> cipher{nullptr, &EVP_CIPHER_free};
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx{EVP_CIPHER_CTX_new(),
                                                                        &EVP_CIPHER_CTX_free};

    EvpCipher(const std::string& name, const std::vector<uint8_t>& key, const uint8_t* iv, bool encrypt) {
        cipher.reset(EVP_CIPHER_fetch(nullptr, name.c_str(), nullptr));
        const int enc = encrypt ? 1 : 0;
        if (!cipher || EVP_CipherInit_ex2(ctx.get(), cipher.get(), nullptr, nullptr, enc, nullptr) != 1 ||
            EVP_CIPHER_CTX_set_key_length(ctx.get(), int(key.size())) != 1 ||
            EVP_CipherInit_ex2(ctx.get(), nullptr, key.data(), iv, enc, nullptr) != 1) {
            std::fprintf(stderr, "OpenSSL cannot run %s\n", name.c_str());
            std::exit(1);
        }
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    }
    // Runs kBuffer bytes through the cipher.
    void Run(const uint8_t* in, uint8_t* out) {
        int n = 0;
        EVP_CipherUpdate(ctx.get(), out, &n, in, int(kBuffer));
    }
};

}  // namespace bench
