// Primes made by SBMath, judged by an independent peer: `openssl prime`. Both generators, at
// key sizes and at odd sizes, and products of two of them as the composites the peer must
// reject too (so the check is not one that answers "prime" to everything).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/math/SBMath.h"
#include "platform/Process.h"
#include "tests/support/TestSupport.h"

namespace {

// "prime" or "not prime" as openssl says it; empty when openssl cannot be run.
std::string OpenSSLPrime(const std::string& hex) {
    plat::ProcessOptions o;
    o.output = plat::ProcessOutput::Capture;
    o.wait = true;
    plat::ProcessResult r;
    try {
        r = plat::StartProcess("openssl", {"prime", "-hex", hex}, o);
    } catch (const plat::EProcessError&) {
        return "";
    }
    if (!r.exited || r.exitCode != 0) return "";
    if (r.output.find("is not prime") != std::string::npos) return "not prime";
    if (r.output.find("is prime") != std::string::npos) return "prime";
    return "";
}

std::string HexOf(const BigNum* A) {
    std::string s = FormatBigNumHex(A);
    s.erase(0, s.find_first_not_of('0'));
    return s;
}

}  // namespace

TEST(SBMathPeer, GeneratedPrimesAreAcceptedByOpenSSL) {
    KW_REQUIRE_PEER(OpenSSLPrime("7") == "prime", "openssl prime");
    std::vector<BigNumPtr> primes;
    struct Case {
        bool byBits;
        int32_t size;
        bool twoTop;
    };
    const Case cases[] = {{false, 2, false}, {false, 16, true},   {false, 32, true}, {true, 127, false},
                          {true, 257, true}, {true, 1000, false}, {true, 1024, true}};
    for (const Case& c : cases) {
        BigNumPtr p = MakeBigNum();
        if (c.byBits) {
            ASSERT_TRUE(GenerateBigNumPrimeBits(p.get(), c.size, c.twoTop, true));
        } else {
            ASSERT_TRUE(GenerateBigNumPrime(p.get(), c.size, c.twoTop, true));
        }
        EXPECT_EQ(OpenSSLPrime(HexOf(p.get())), "prime") << HexOf(p.get());
        primes.push_back(std::move(p));
    }
    // Products of two generated primes: composite for both judges.
    for (size_t i = 0; i + 1 < primes.size(); ++i) {
        BigNumPtr n = MakeBigNum();
        MultiplyBigNums(primes[i].get(), primes[i + 1].get(), n.get());
        EXPECT_EQ(OpenSSLPrime(HexOf(n.get())), "not prime");
        EXPECT_FALSE(IsBigNumProbablePrime(n.get()));
    }
}
