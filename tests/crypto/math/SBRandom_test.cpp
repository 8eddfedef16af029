// Random numbers: TElRandom against RC4 (OpenSSL's RC4 keyed with the 256-byte key stream
// derived from the seed), its stirring and error rules; the process-wide generator's
// integers (range and absence of bias) and its seeding from the operating system even when
// every clock reading is the same.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/rc4.h>

#include "crypto/math/SBRandom.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "platform/Clock.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The seed's key stream as the generator defines it: each seed byte four times, shifted
// right by 0, 1, 2 and 3 bits, the seed repeated until 256 bytes are made.
Bytes DerivedKey(const Bytes& seed) {
    Bytes k(256);
    for (size_t i = 0; i < 256; ++i)
        k[i] = uint8_t(seed[(i / 4) % seed.size()] >> (i % 4));
    return k;
}

Bytes OpenSSLRC4Stream(const Bytes& key, size_t n) {
    RC4_KEY k;
    RC4_set_key(&k, int(key.size()), key.data());
    Bytes zeros(n), out(n);
    RC4(&k, n, zeros.data(), out.data());
    return out;
}

Bytes Generate(TElRandom& r, size_t n) {
    Bytes out(n);
    r.Generate(out.data(), n);
    return out;
}

Bytes Pattern(size_t n, uint8_t mul, uint8_t add) {
    Bytes v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(i * mul + add);
    return v;
}

TEST(TElRandom, EqualsRC4KeyedWithTheDerivedKeyStream) {
    // Lengths that divide the key stream evenly and lengths that do not, up to longer than it.
    for (size_t n : {1u, 2u, 3u, 5u, 16u, 33u, 64u, 100u, 255u, 256u, 300u}) {
        const Bytes seed = Pattern(n, 37, uint8_t(n));
        TElRandom r;
        r.Seed(seed.data(), seed.size());
        EXPECT_EQ(Generate(r, 1500), OpenSSLRC4Stream(DerivedKey(seed), 1500)) << "seed of " << n << " bytes";
    }
}

TEST(TElRandom, KeyStreamOfTheOneByteSeedB5) {
    // B5 5A 2D 16 repeated: RC4 keyed with those four bytes is the same permutation.
    TElRandom r;
    const uint8_t seed = 0xB5;
    r.Seed(&seed, 1);
    EXPECT_EQ(Generate(r, 64), OpenSSLRC4Stream({0xB5, 0x5A, 0x2D, 0x16}, 64));
}

TEST(TElRandom, ShiftsMakeItDifferFromRC4KeyedWithTheSeed) {
    const Bytes seed = Pattern(16, 1, 0);  // 00 01 .. 0F
    TElRandom r;
    r.SeedFromString(ByteString(seed.begin(), seed.end()));
    const Bytes ours = Generate(r, 16);
    EXPECT_EQ(ours[0], OpenSSLRC4Stream(DerivedKey(seed), 1)[0]);
    EXPECT_NE(ours, OpenSSLRC4Stream(seed, 16));
}

TEST(TElRandom, SameSeedSameStreamInAnyPieces) {
    const Bytes seed = Pattern(20, 3, 1);
    TElRandom a, b;
    a.Seed(seed.data(), seed.size());
    b.SeedFromString(ByteString(seed.begin(), seed.end()));
    const Bytes whole = Generate(a, 1000);
    Bytes pieces;
    for (size_t n : {0u, 1u, 255u, 256u, 7u, 481u}) {
        const Bytes p = Generate(b, n);
        pieces.insert(pieces.end(), p.begin(), p.end());
    }
    EXPECT_EQ(pieces, whole);
    const ByteString s = b.GenerateString(10);
    EXPECT_EQ(Bytes(s.begin(), s.end()), Generate(a, 10));
}

// The key schedule over the current permutation, written out from its definition.
Bytes ReferenceStirredStream(const Bytes& seed, const Bytes& stir, size_t prefix, size_t n) {
    uint8_t S[256];
    for (int i = 0; i < 256; ++i)
        S[i] = uint8_t(i);
    auto schedule = [&](const Bytes& key) {
        uint8_t j = 0;
        for (int i = 0; i < 256; ++i) {
            j = uint8_t(j + S[i] + key[size_t(i)]);
            std::swap(S[i], S[j]);
        }
    };
    uint8_t i = 0, j = 0;
    auto next = [&] {
        i = uint8_t(i + 1);
        j = uint8_t(j + S[i]);
        std::swap(S[i], S[j]);
        return S[uint8_t(S[i] + S[j])];
    };
    schedule(DerivedKey(seed));
    for (size_t k = 0; k < prefix; ++k)
        next();
    schedule(DerivedKey(stir));
    i = j = 0;
    Bytes out(n);
    for (auto& b : out)
        b = next();
    return out;
}

TEST(TElRandom, AddSeedStirsTheCurrentState) {
    const Bytes seed = Pattern(9, 5, 2), stir = Pattern(13, 11, 7);
    for (size_t prefix : {0u, 1u, 300u}) {
        TElRandom r;
        r.Seed(seed.data(), seed.size());
        Generate(r, prefix);
        r.AddSeed(stir.data(), stir.size());
        EXPECT_EQ(Generate(r, 200), ReferenceStirredStream(seed, stir, prefix, 200)) << "after " << prefix;
    }
    // Stirring with nothing changes nothing.
    TElRandom a, b;
    a.Seed(seed.data(), seed.size());
    b.Seed(seed.data(), seed.size());
    Generate(a, 5);
    Generate(b, 5);
    b.AddSeed(stir.data(), 0);
    EXPECT_EQ(Generate(a, 100), Generate(b, 100));
}

TEST(TElRandom, EmptySeedIsRefused) {
    TElRandom r;
    const uint8_t one = 1;
    r.Seed(&one, 1);
    EXPECT_THROW(r.Seed(&one, 0), ECryptoLibraryError);
    EXPECT_THROW(r.SeedFromString(ByteString()), ECryptoLibraryError);
    // The refused call left the generator as it was.
    TElRandom ref;
    ref.Seed(&one, 1);
    EXPECT_EQ(Generate(r, 32), Generate(ref, 32));
}

// With every clock reading frozen, generators that seed themselves must still differ: their
// seed comes from the operating system, not from the tick count.
TEST(TElRandom, UnseededInstancesDifferUnderAFrozenClock) {
    plat::ManualClock frozen;
    plat::ScopedClock scoped(frozen);
    TElRandom a, b;
    EXPECT_NE(Generate(a, 32), Generate(b, 32));
}

TEST(GlobalRandom, IntegersStayInRange) {
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(GenerateRandomInteger(1), 0u);
    for (uint32_t bound : {2u, 3u, 10u, 255u, 256u, 1000003u, 0x80000001u, 0xFFFFFFFFu}) {
        std::set<uint32_t> seen;
        for (int i = 0; i < 300; ++i) {
            const uint32_t v = GenerateRandomInteger(bound);
            ASSERT_LT(v, bound);
            seen.insert(v);
        }
        EXPECT_GE(seen.size(), std::min<size_t>(bound, 50)) << "bound " << bound;
    }
    // Bound 0: the full 32-bit range, so the top bit shows up.
    bool high = false;
    for (int i = 0; i < 200 && !high; ++i)
        high = GenerateRandomInteger(0) >= 0x80000000u;
    EXPECT_TRUE(high);
}

// With bound 3 * 2^30 a plain remainder makes the values below 2^30 twice as likely as the
// others (one half instead of one third): a bias a key or a Miller-Rabin base must not have.
TEST(GlobalRandom, IntegersAreUnbiased) {
    const uint32_t bound = 3u << 30;
    const int draws = 30000;
    int low = 0;
    for (int i = 0; i < draws; ++i)
        low += GenerateRandomInteger(bound) < (1u << 30) ? 1 : 0;
    const double share = double(low) / draws;
    EXPECT_NEAR(share, 1.0 / 3.0, 0.03) << "share of values below 2^30";
}

// Started again with every clock reading frozen (and the same seeds stirred in), the
// process-wide generator still gives different bytes: they come from the operating system.
TEST(GlobalRandom, SeededFromTheOperatingSystemNotTheClock) {
    plat::ManualClock frozen;
    plat::ScopedClock scoped(frozen);
    std::set<Bytes> runs;
    for (int run = 0; run < 3; ++run) {
        FreeGlobalRandom();
        InitGlobalRandom();
        const uint8_t stir[4] = {1, 2, 3, 4};
        AddRandomSeed(stir, sizeof(stir));
        SeedRandomFromClock();
        SeedGlobalRandom("same text");
        Bytes b(32);
        GenerateRandomBytes(b.data(), b.size());
        runs.insert(b);
    }
    EXPECT_EQ(runs.size(), 3u);
    // Freed, it comes back on first use.
    FreeGlobalRandom();
    Bytes b(16);
    GenerateRandomBytes(b.data(), b.size());
    EXPECT_NE(b, Bytes(16, 0));
}

TEST(GlobalRandom, ConcurrentDrawsAreDistinct) {
    constexpr int kThreads = 8, kDraws = 200;
    std::vector<std::vector<Bytes>> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &results] {
            for (int i = 0; i < kDraws; ++i) {
                Bytes b(16);
                GenerateRandomBytes(b.data(), b.size());
                results[size_t(t)].push_back(b);
                if (i % 50 == 0) AddRandomSeed(b.data(), 4);
            }
        });
    }
    for (auto& th : threads)
        th.join();
    std::set<Bytes> all;
    for (const auto& r : results)
        all.insert(r.begin(), r.end());
    EXPECT_EQ(all.size(), size_t(kThreads * kDraws));
}

}  // namespace
