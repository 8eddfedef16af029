// bench/crypto_hash.cpp: throughput of our SHA-1, SHA-256, SHA-512, SHA-384 and MD5 against OpenSSL's
// EVP digests, measured in the same run, one line per case: "case ours peer MB/s speed"
// (bench/BenchLine.h).
//
// Each round digests the same 64 MiB buffer in one call, ours then OpenSSL's, and each side
// keeps its best round, so a busy moment on a shared machine costs both alike. SHA-1 and
// SHA-256 use the processor's SHA instructions, and SHA-512 (and SHA-384) its AVX-512VL or
// else its AVX2 schedule where it has them, as OpenSSL uses its own fast paths. The plain
// lines time the path the library picks on this processor; "_avx2" lines time SHA-512 as a
// processor without AVX-512 runs it (the AVX2 path, as on most machines a build may land
// on), and "_portable" lines the portable code, each against the same OpenSSL figure.
// The digests of both sides are compared once, so a fast wrong answer cannot pass.
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "bench/BenchLine.h"
#include "crypto/hash/SBMD.h"
#include "crypto/hash/SBSHA.h"
#include "crypto/hash/SBSHA2.h"
#include "crypto/hash/SBSHA_x86.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kBuffer = 64u << 20;
constexpr int kRounds = 5;

using Digest = std::vector<uint8_t>;
using DigestFn = std::function<Digest(const uint8_t*, size_t)>;

double Throughput(const DigestFn& fn, const std::vector<uint8_t>& data) {
    const auto start = Clock::now();
    const Digest d = fn(data.data(), data.size());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (d.empty()) std::abort();
    return double(data.size()) / seconds;
}

DigestFn Evp(const char* name) {
    std::shared_ptr<EVP_MD> md(EVP_MD_fetch(nullptr, name, nullptr), &EVP_MD_free);
    if (!md) {
        std::fprintf(stderr, "OpenSSL cannot run %s\n", name);
        std::exit(1);
    }
    return [md](const uint8_t* p, size_t n) {
        Digest out(EVP_MAX_MD_SIZE);
        unsigned len = 0;
        if (EVP_Digest(p, n, out.data(), &len, md.get(), nullptr) != 1) return Digest();
        out.resize(len);
        return out;
    };
}

template <class D, void (*F)(const void*, size_t, D&)>
DigestFn Ours() {
    return [](const uint8_t* p, size_t n) {
        D d;
        F(p, n, d);
        return Digest(d.begin(), d.end());
    };
}

void Report(const char* name, const DigestFn& ours, const DigestFn& peer, const std::vector<uint8_t>& data) {
    if (ours(data.data(), 1 << 20) != peer(data.data(), 1 << 20)) {
        std::fprintf(stderr, "%s: our digest differs from OpenSSL's\n", name);
        std::exit(1);
    }
    double bestOurs = 0, bestPeer = 0;
    for (int r = 0; r < kRounds; ++r) {
        bestOurs = std::max(bestOurs, Throughput(ours, data));
        bestPeer = std::max(bestPeer, Throughput(peer, data));
    }
    bench::PrintRates(name, bestOurs / 1e6, bestPeer / 1e6, "MB/s");
}

}  // namespace

int main() {
    std::vector<uint8_t> data(kBuffer);
    uint32_t x = 0x9E3779B9;
    for (auto& b : data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x);
    }
    Report("sha1", Ours<SHA1Digest, ComputeSHA1>(), Evp("SHA1"), data);
    Report("sha256", Ours<SHA256Digest, HashSHA256>(), Evp("SHA256"), data);
    Report("sha512", Ours<SHA512Digest, ComputeSHA512>(), Evp("SHA512"), data);
    Report("sha384", Ours<SHA384Digest, ComputeSHA384>(), Evp("SHA384"), data);
    Report("md5", Ours<MD5Digest, ComputeMD5>(), Evp("MD5"), data);
    if (sha_x86::CpuHasAvx512VL() && sha_x86::CpuHasAvx2()) {
        sha_x86::SetAcceleration(sha_x86::Acceleration::WithoutAvx512);
        Report("sha512_avx2", Ours<SHA512Digest, ComputeSHA512>(), Evp("SHA512"), data);
        Report("sha384_avx2", Ours<SHA384Digest, ComputeSHA384>(), Evp("SHA384"), data);
    }
    if (sha_x86::CpuHasShaExtensions() || sha_x86::CpuHasAvx512VL() || sha_x86::CpuHasAvx2()) {
        sha_x86::SetAcceleration(sha_x86::Acceleration::Off);
        Report("sha1_portable", Ours<SHA1Digest, ComputeSHA1>(), Evp("SHA1"), data);
        Report("sha256_portable", Ours<SHA256Digest, HashSHA256>(), Evp("SHA256"), data);
        Report("sha512_portable", Ours<SHA512Digest, ComputeSHA512>(), Evp("SHA512"), data);
    }
    sha_x86::SetAcceleration(sha_x86::Acceleration::Full);
    return 0;
}
