// SHA-1 and SHA-2 against the NIST CAVP byte-oriented known answers (ShortMsg, LongMsg and
// the Monte Carlo chains), read in place from python3-cryptography-vectors, on both the
// accelerated paths and the portable path; and the processor checks against the kernel's
// own view of the CPU.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

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

INSTANTIATE_TEST_SUITE_P(Paths, SHACavp, ::testing::Values(Path::Accelerated, Path::Portable), PathName);

// The run-time checks must agree with what the kernel reports (it lists only the features
// it has enabled), or a fast path would be skipped where it exists, or taken where it does
// not.
TEST(HashAcceleration, CpuChecksAgreeWithKernel) {
    std::ifstream cpuinfo("/proc/cpuinfo");
    KW_REQUIRE_PEER(cpuinfo.good(), "/proc/cpuinfo");
    std::string line, flags;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("flags", 0) == 0) {
            flags = line.substr(line.find(':') + 1) + " ";
            break;
        }
    }
    if (flags.empty()) GTEST_SKIP() << "/proc/cpuinfo lists no x86 flags on this machine";
    auto has = [&](const char* f) { return flags.find(std::string(" ") + f + " ") != std::string::npos; };
    EXPECT_EQ(sha_x86::CpuHasShaExtensions(), has("sha_ni") && has("ssse3") && has("sse4_1"));
    EXPECT_EQ(sha_x86::CpuHasAvx512VL(), has("avx512f") && has("avx512vl") && has("bmi2"));
    sha_x86::EnableAcceleration(false);
    EXPECT_FALSE(sha_x86::ShaExtensionsActive());
    EXPECT_FALSE(sha_x86::Avx512Active());
    sha_x86::EnableAcceleration(true);
    EXPECT_EQ(sha_x86::ShaExtensionsActive(), sha_x86::CpuHasShaExtensions());
    EXPECT_EQ(sha_x86::Avx512Active(), sha_x86::CpuHasAvx512VL());
}

}  // namespace
