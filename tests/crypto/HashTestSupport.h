// tests/crypto/HashTestSupport.h: what the hash tests share: one table that drives every
// digest through the same questions, OpenSSL's EVP digests as the peer, a reader for the
// known-answer files of python3-cryptography-vectors ("Len/Msg/MD" records and the Monte
// Carlo "Seed/COUNT/MD" layout), and the switch between the accelerated and portable paths.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "crypto/hash/SBMD.h"
#include "crypto/hash/SBRIPEMD.h"
#include "crypto/hash/SBSHA.h"
#include "crypto/hash/SBSHA2.h"
#include "crypto/hash/SBSHA_x86.h"

namespace hashtest {

using Bytes = std::vector<uint8_t>;
using Pieces = std::vector<std::span<const uint8_t>>;

struct Algo {
    const char* name;
    size_t blockSize;
    const char* evpName;  // nullptr: OpenSSL has no such digest here (MD2)
    // Init, one Update per piece, Final.
    std::function<Bytes(const Pieces&)> incremental;
    // The one-shot form.
    std::function<Bytes(const uint8_t*, size_t)> oneShot;
    // Init, Update(prefix), copy the context, then finish the original after suffixA and the
    // copy after suffixB.
    std::function<std::pair<Bytes, Bytes>(std::span<const uint8_t>, std::span<const uint8_t>,
                                          std::span<const uint8_t>)>
        cloned;
};

template <class Ctx, class Digest, void (*Init)(Ctx&), void (*Update)(Ctx&, const void*, size_t),
          void (*Final)(Ctx&, Digest&)>
Algo MakeAlgo(const char* name, size_t block, const char* evp,
              std::function<Bytes(const uint8_t*, size_t)> oneShot) {
    Algo a{name, block, evp, nullptr, std::move(oneShot), nullptr};
    a.incremental = [](const Pieces& pieces) {
        Ctx ctx;
        Init(ctx);
        for (const auto& p : pieces)
            Update(ctx, p.data(), p.size());
        Digest d;
        Final(ctx, d);
        return Bytes(d.begin(), d.end());
    };
    if (!a.oneShot) {
        a.oneShot = [inc = a.incremental](const uint8_t* p, size_t n) {
            return inc(Pieces{std::span<const uint8_t>(p, n)});
        };
    }
    a.cloned = [](std::span<const uint8_t> prefix, std::span<const uint8_t> sa, std::span<const uint8_t> sb) {
        Ctx ctx;
        Init(ctx);
        Update(ctx, prefix.data(), prefix.size());
        Ctx copy = ctx;
        Update(ctx, sa.data(), sa.size());
        Update(copy, sb.data(), sb.size());
        Digest da, db;
        Final(ctx, da);
        Final(copy, db);
        return std::make_pair(Bytes(da.begin(), da.end()), Bytes(db.begin(), db.end()));
    };
    return a;
}

template <class Digest, void (*F)(const void*, size_t, Digest&)>
std::function<Bytes(const uint8_t*, size_t)> OneShot() {
    return [](const uint8_t* p, size_t n) {
        Digest d;
        F(p, n, d);
        return Bytes(d.begin(), d.end());
    };
}

inline const std::vector<Algo>& AllAlgos() {
    static const std::vector<Algo> algos = {
        MakeAlgo<MD2Context, MD5Digest, MD2Init, MD2Update, MD2Final>("MD2", 16, nullptr, nullptr),
        MakeAlgo<MD5Context, MD5Digest, InitMD5Context, UpdateMD5Context, FinishMD5Context>(
            "MD5", 64, "MD5", OneShot<MD5Digest, ComputeMD5>()),
        MakeAlgo<SHA1Context, SHA1Digest, InitSHA1Context, UpdateSHA1Context, FinishSHA1Context>(
            "SHA1", 64, "SHA1", OneShot<SHA1Digest, ComputeSHA1>()),
        MakeAlgo<SHA256Context, SHA224Digest, InitSHA224Context, UpdateSHA224Context, FinishSHA224Context>(
            "SHA224", 64, "SHA224", OneShot<SHA224Digest, ComputeSHA224>()),
        MakeAlgo<SHA256Context, SHA256Digest, InitSHA256Context, UpdateSHA256Context, FinishSHA256Context>(
            "SHA256", 64, "SHA256", OneShot<SHA256Digest, HashSHA256>()),
        MakeAlgo<SHA512Context, SHA384Digest, InitSHA384Context, UpdateSHA384Context, FinishSHA384Context>(
            "SHA384", 128, "SHA384", OneShot<SHA384Digest, ComputeSHA384>()),
        MakeAlgo<SHA512Context, SHA512Digest, InitSHA512Context, UpdateSHA512Context, FinishSHA512Context>(
            "SHA512", 128, "SHA512", OneShot<SHA512Digest, ComputeSHA512>()),
        MakeAlgo<RIPEMD160Context, RIPEMD160Digest, InitRIPEMD160Context, UpdateRIPEMD160Context,
                 FinishRIPEMD160Context>("RIPEMD160", 64, "RIPEMD160",
                                         OneShot<RIPEMD160Digest, ComputeRIPEMD160>()),
    };
    return algos;
}

inline const Algo& FindAlgo(const std::string& name) {
    for (const auto& a : AllAlgos())
        if (name == a.name) return a;
    throw std::runtime_error("no algorithm " + name);
}

// OpenSSL's digest of the bytes; empty when OpenSSL cannot fetch the digest here.
inline Bytes OpenSSLDigest(const char* evpName, const uint8_t* p, size_t n) {
    std::unique_ptr<EVP_MD, decltype(&EVP_MD_free)> md(EVP_MD_fetch(nullptr, evpName, nullptr), &EVP_MD_free);
    if (!md) return {};
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned len = 0;
    static const uint8_t none = 0;
    if (EVP_Digest(n ? p : &none, n, out.data(), &len, md.get(), nullptr) != 1) return {};
    out.resize(len);
    return out;
}

inline bool OpenSSLHasDigest(const char* evpName) {
    return evpName != nullptr && !OpenSSLDigest(evpName, nullptr, 0).empty();
}

inline std::string Hex(const Bytes& b) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (uint8_t v : b) {
        s += digits[v >> 4];
        s += digits[v & 15];
    }
    return s;
}

inline Bytes FromHex(const std::string& text) {
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(uint8_t(std::stoul(text.substr(i, 2), nullptr, 16)));
    return out;
}

inline Bytes PseudoRandom(size_t n, uint32_t seed) {
    Bytes v(n);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x >> 24);
    }
    return v;
}

// Where python3-cryptography-vectors keeps its digest files on Debian.
inline std::filesystem::path HashVectorsPath(const std::string& rel) {
    return std::filesystem::path("/usr/lib/python3/dist-packages/cryptography_vectors/hashes") / rel;
}

// One known answer: the message (Len is in bits; the files are byte-oriented) and digest.
struct KnownAnswer {
    Bytes message;
    std::string digest;  // lower-case hexadecimal
};

// Reads the "Len = / Msg = / MD =" records of a file; "Len = 0" carries "Msg = 00", which
// stands for the empty message.
inline std::vector<KnownAnswer> ReadKnownAnswers(const std::filesystem::path& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::vector<KnownAnswer> out;
    std::string line;
    long bits = -1;
    Bytes msg;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("Len = ", 0) == 0) {
            bits = std::stol(line.substr(6));
        } else if (line.rfind("Msg = ", 0) == 0) {
            msg = FromHex(line.substr(6));
            msg.resize(size_t(bits / 8));
        } else if (line.rfind("MD = ", 0) == 0) {
            std::string md = line.substr(5);
            for (auto& c : md)
                c = char(std::tolower(static_cast<unsigned char>(c)));
            out.push_back({msg, md});
        }
    }
    return out;
}

// The Monte Carlo layout: one Seed, then 100 "COUNT = j / MD = ..." checkpoints.
struct MonteCarlo {
    Bytes seed;
    std::vector<std::string> checkpoints;
};

inline MonteCarlo ReadMonteCarlo(const std::filesystem::path& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    MonteCarlo mc;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("Seed = ", 0) == 0) mc.seed = FromHex(line.substr(7));
        if (line.rfind("MD = ", 0) == 0) mc.checkpoints.push_back(line.substr(5));
    }
    return mc;
}

// Runs a test body on every path this processor has: the accelerated paths (SHA extensions
// for SHA-1 and SHA-256, AVX-512VL or else AVX2 for SHA-384 and SHA-512), the paths a
// processor without AVX-512 takes (run only where they differ from the first), and the
// portable path.
enum class Path { Accelerated, WithoutAvx512, Portable };

class BothPaths : public ::testing::TestWithParam<Path> {
protected:
    void SetUp() override {
        switch (GetParam()) {
            case Path::Accelerated:
                if (!sha_x86::CpuHasShaExtensions() && !sha_x86::CpuHasAvx512VL() && !sha_x86::CpuHasAvx2())
                    GTEST_SKIP() << "this processor has neither SHA extensions nor AVX-512VL nor AVX2; the "
                                    "portable run covers the vectors";
                sha_x86::SetAcceleration(sha_x86::Acceleration::Full);
                break;
            case Path::WithoutAvx512:
                if (!sha_x86::CpuHasAvx512VL())
                    GTEST_SKIP() << "this processor has no AVX-512: the accelerated run already takes the "
                                    "paths of a processor without it";
                sha_x86::SetAcceleration(sha_x86::Acceleration::WithoutAvx512);
                break;
            case Path::Portable:
                sha_x86::SetAcceleration(sha_x86::Acceleration::Off);
                break;
        }
    }
    void TearDown() override { sha_x86::SetAcceleration(sha_x86::Acceleration::Full); }
};

inline const auto kAllPaths = ::testing::Values(Path::Accelerated, Path::WithoutAvx512, Path::Portable);

inline std::string PathName(const ::testing::TestParamInfo<Path>& info) {
    switch (info.param) {
        case Path::Accelerated:
            return "ShaExtensions";
        case Path::WithoutAvx512:
            return "WithoutAvx512";
        case Path::Portable:
            break;
    }
    return "Portable";
}

}  // namespace hashtest
