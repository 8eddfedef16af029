// SHA-1 and SHA-2 against the NIST CAVP byte-oriented known answers (ShortMsg, LongMsg and
// the Monte Carlo chains), read in place from python3-cryptography-vectors, on both the
// accelerated paths and the portable path; and the processor checks, against the kernel's
// own view of this CPU and for machines that lack a part.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "crypto/CpuFlags.h"
#include "crypto/HashTestSupport.h"
#include "support/TestSupport.h"

namespace {

using namespace hashtest;

struct CavpSet {
    const char* algo;
    const char* folder;
    const char* stem;  // file name before ShortMsg.rsp / LongMsg.rsp / Monte.rsp
};

const CavpSet kSets[] = {
    {"SHA1", "SHA1", "SHA1"},     {"SHA224", "SHA2", "SHA224"}, {"SHA256", "SHA2", "SHA256"},
    {"SHA384", "SHA2", "SHA384"}, {"SHA512", "SHA2", "SHA512"},
};

std::filesystem::path CavpFile(const CavpSet& s, const char* kind) {
    return HashVectorsPath(std::string(s.folder) + "/" + s.stem + kind + ".rsp");
}

class SHACavp : public BothPaths {};

TEST_P(SHACavp, ShortAndLongMessages) {
    for (const auto& set : kSets) {
        const Algo& algo = FindAlgo(set.algo);
        for (const char* kind : {"ShortMsg", "LongMsg"}) {
            const auto path = CavpFile(set, kind);
            KW_REQUIRE_PEER(std::filesystem::exists(path),
                            "python3-cryptography-vectors (" + path.string() + ")");
            const auto answers = ReadKnownAnswers(path);
            ASSERT_GT(answers.size(), 60u) << path;
            for (const auto& ka : answers) {
                const auto& m = ka.message;
                EXPECT_EQ(Hex(algo.oneShot(m.data(), m.size())), ka.digest)
                    << set.algo << " " << kind << " " << m.size() << " bytes";
                // The same message in three pieces, cut inside the first and the last block.
                const size_t a = m.size() / 3, b = m.size() - m.size() / 5;
                const std::span<const uint8_t> s(m);
                EXPECT_EQ(Hex(algo.incremental({s.first(a), s.subspan(a, b - a), s.subspan(b)})), ka.digest)
                    << set.algo << " " << kind << " in pieces, " << m.size() << " bytes";
            }
        }
    }
}

// The CAVP chain: MD[0] = MD[1] = MD[2] = seed; MD[i] = H(MD[i-3] || MD[i-2] || MD[i-1]) for
// i = 3..1002; the checkpoint is MD[1002], which seeds the next of 100 checkpoints.
TEST_P(SHACavp, MonteCarloChains) {
    for (const auto& set : kSets) {
        const Algo& algo = FindAlgo(set.algo);
        const auto path = CavpFile(set, "Monte");
        KW_REQUIRE_PEER(std::filesystem::exists(path),
                        "python3-cryptography-vectors (" + path.string() + ")");
        const MonteCarlo mc = ReadMonteCarlo(path);
        ASSERT_EQ(mc.checkpoints.size(), 100u) << path;
        Bytes seed = mc.seed;
        for (size_t j = 0; j < mc.checkpoints.size(); ++j) {
            Bytes md[3] = {seed, seed, seed};
            for (int i = 3; i < 1003; ++i) {
                const Bytes next = algo.incremental({md[0], md[1], md[2]});
                md[0] = std::move(md[1]);
                md[1] = std::move(md[2]);
                md[2] = next;
            }
            seed = md[2];
            ASSERT_EQ(Hex(seed), mc.checkpoints[j]) << set.algo << " checkpoint " << j;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, SHACavp, kAllPaths, PathName);

// The run-time checks must agree with what the kernel reports (it lists only the features
// it has enabled), or a fast path would be skipped where it exists, or taken where it does
// not.
TEST(HashAcceleration, CpuChecksAgreeWithKernel) {
    KW_REQUIRE_PEER(std::filesystem::exists("/proc/cpuinfo"), "/proc/cpuinfo");
    const auto flags = kwtest::CpuFlags();
    if (!flags) GTEST_SKIP() << "/proc/cpuinfo lists no x86 flags on this machine";
    auto has = [&](const char* f) { return flags->count(f) != 0; };
    EXPECT_EQ(sha_x86::CpuHasShaExtensions(), has("sha_ni") && has("ssse3") && has("sse4_1"));
    EXPECT_EQ(sha_x86::CpuHasAvx2(), has("avx") && has("avx2") && has("bmi2"));
    EXPECT_EQ(sha_x86::CpuHasAvx512VL(), sha_x86::CpuHasAvx2() && has("avx512f") && has("avx512vl"));
    // Each level of the switch against what it lets through.
    struct Level {
        sha_x86::Acceleration level;
        bool sha, avx2, avx512;
    };
    const bool sha = sha_x86::CpuHasShaExtensions(), avx2 = sha_x86::CpuHasAvx2(),
               avx512 = sha_x86::CpuHasAvx512VL();
    const Level levels[] = {
        {sha_x86::Acceleration::Off, false, false, false},
        {sha_x86::Acceleration::WithoutAvx512, sha, avx2, false},
        {sha_x86::Acceleration::Full, sha, avx2, avx512},
    };
    for (const Level& l : levels) {
        sha_x86::SetAcceleration(l.level);
        EXPECT_EQ(sha_x86::ShaExtensionsActive(), l.sha) << int(l.level);
        EXPECT_EQ(sha_x86::Avx2Active(), l.avx2) << int(l.level);
        EXPECT_EQ(sha_x86::Avx512Active(), l.avx512) << int(l.level);
    }
    sha_x86::EnableAcceleration(false);
    EXPECT_FALSE(sha_x86::ShaExtensionsActive());
    EXPECT_FALSE(sha_x86::Avx2Active());
    EXPECT_FALSE(sha_x86::Avx512Active());
    sha_x86::EnableAcceleration(true);
    EXPECT_EQ(sha_x86::ShaExtensionsActive(), sha);
    EXPECT_EQ(sha_x86::Avx2Active(), avx2);
    EXPECT_EQ(sha_x86::Avx512Active(), avx512);
}

// Machines this one is not: each row takes away one thing a fast path needs, from the
// processor or from the operating system, and the path must then be refused.
TEST(HashAcceleration, FastPathsAreRefusedWhenAPartIsMissing) {
    constexpr uint32_t kSsse3 = 1u << 9, kSse41 = 1u << 19, kOsxsave = 1u << 27, kAvx = 1u << 28;
    constexpr uint32_t kAvx2 = 1u << 5, kBmi2 = 1u << 8, kAvx512F = 1u << 16, kSha = 1u << 29,
                       kAvx512VL = 1u << 31;
    constexpr uint32_t kLeaf1 = kSsse3 | kSse41 | kOsxsave | kAvx;
    constexpr uint32_t kLeaf7 = kAvx2 | kBmi2 | kAvx512F | kSha | kAvx512VL;
    constexpr uint32_t kLeaf7NoAvx512 = kLeaf7 & ~(kAvx512F | kAvx512VL);
    constexpr uint64_t kAllStates = 0xE7;  // x87, SSE, AVX, opmask and both ZMM parts
    constexpr uint64_t kYmmStates = 0x07;  // x87, SSE, AVX
    struct Case {
        const char* what;
        uint32_t leaf1, leaf7;
        uint64_t xcr0;
        bool sha, avx512, avx2;
    };
    const Case cases[] = {
        {"everything", kLeaf1, kLeaf7, kAllStates, true, true, true},
        {"no leaf 7 answer", kLeaf1, 0, kAllStates, false, false, false},
        {"no SHA extensions", kLeaf1, kLeaf7 & ~kSha, kAllStates, false, true, true},
        {"no SSE4.1", kLeaf1 & ~kSse41, kLeaf7, kAllStates, false, true, true},
        {"no SSSE3", kLeaf1 & ~kSsse3, kLeaf7, kAllStates, false, true, true},
        {"no AVX-512VL", kLeaf1, kLeaf7 & ~kAvx512VL, kAllStates, true, false, true},
        {"no AVX-512F", kLeaf1, kLeaf7 & ~kAvx512F, kAllStates, true, false, true},
        {"no BMI2", kLeaf1, kLeaf7 & ~kBmi2, kAllStates, true, false, false},
        {"no AVX2", kLeaf1, kLeaf7 & ~kAvx2, kAllStates, true, false, false},
        {"no AVX", kLeaf1 & ~kAvx, kLeaf7, kAllStates, true, false, false},
        {"system without XSAVE", kLeaf1 & ~kOsxsave, kLeaf7, 0, true, false, false},
        {"system saves AVX but not the opmasks", kLeaf1, kLeaf7, 0x07, true, false, true},
        {"system saves the opmasks but not ZMM16-31", kLeaf1, kLeaf7, 0x67, true, false, true},
        {"system saves no upper ZMM halves", kLeaf1, kLeaf7, 0xA7, true, false, true},
        {"system without AVX state", kLeaf1, kLeaf7, 0xE3, true, false, false},
        {"system saves x87 and SSE only", kLeaf1, kLeaf7, 0x03, true, false, false},
        {"system saves AVX but not SSE", kLeaf1, kLeaf7, 0x05, true, false, false},
        {"AVX2 processor without AVX-512", kLeaf1, kLeaf7NoAvx512, kYmmStates, true, false, true},
        {"AVX2 processor, system without XSAVE", kLeaf1 & ~kOsxsave, kLeaf7NoAvx512, 0, true, false, false},
        {"AVX2 processor, system without AVX state", kLeaf1, kLeaf7NoAvx512, 0x03, true, false, false},
        {"AVX2 processor without BMI2", kLeaf1, kLeaf7NoAvx512 & ~kBmi2, kYmmStates, true, false, false},
        {"AVX2 processor without SHA extensions", kLeaf1, kLeaf7NoAvx512 & ~kSha, kYmmStates, false, false,
         true},
    };
    for (const Case& c : cases) {
        const sha_x86::CpuidWords words{c.leaf1, c.leaf7, c.xcr0};
        EXPECT_EQ(sha_x86::ShaExtensionsUsable(words), c.sha) << c.what;
        EXPECT_EQ(sha_x86::Avx512VLUsable(words), c.avx512) << c.what;
        EXPECT_EQ(sha_x86::Avx2Usable(words), c.avx2) << c.what;
    }
}

}  // namespace
