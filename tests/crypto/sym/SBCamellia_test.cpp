// Camellia: the RFC 3713 vectors, the known-answer files its authors (NTT) published (read in
// place from python3-cryptography-vectors), the key-length rule, the 192-bit key form, the
// decryption schedule, wiping, the CBC routine, and differential runs against OpenSSL. The
// block and CBC tests run twice, on the portable rounds and on the BMI1 ones.
#include "crypto/sym/SBCamellia.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>

#include "crypto/CpuFlags.h"
#include "crypto/NistVectorFile.h"
#include "crypto/OpenSSLPeer.h"
#include "crypto/WipedOnDestruction.h"
#include "support/TestSupport.h"

namespace {

using kwtest::Hex;
using kwtest::ToHex;

struct Vector {
    std::vector<uint8_t> key, plain, cipher;
};

// The NTT layout: "K No.001 : 00 11 ..." starts a key, then "P No.nnn" / "C No.nnn" pairs.
std::vector<Vector> ReadNttFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::vector<Vector> out;
    std::vector<uint8_t> key, plain;
    std::string line;
    while (std::getline(in, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos || line.compare(1, 4, " No.") != 0) continue;
        const auto value = Hex(line.substr(colon + 1));
        if (line[0] == 'K') key = value;
        if (line[0] == 'P') plain = value;
        if (line[0] == 'C') out.push_back({key, plain, value});
    }
    return out;
}

std::vector<uint8_t> Ecb(std::span<const uint8_t> key, std::vector<uint8_t> data, bool encrypt) {
    CamelliaSubkeys k;
    const bool ok = encrypt ? CamelliaKeySchedule(key, k) : CamelliaDecryptKeySchedule(key, k);
    if (!ok) throw std::runtime_error("key refused");
    for (size_t i = 0; i + 16 <= data.size(); i += 16)
        CamelliaCryptBlock(&data[i], &data[i], k, key.size() > 16);
    return data;
}

// The CBC chain of the block routine: each block XOR the chaining value, encrypted.
std::vector<uint8_t> CbcByBlocks(const CamelliaSubkeys& k, bool longKey, std::vector<uint8_t> chain,
                                 const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out(data.size());
    for (size_t i = 0; i + 16 <= data.size(); i += 16) {
        uint8_t x[16];
        for (int b = 0; b < 16; ++b)
            x[b] = data[i + b] ^ chain[b];
        CamelliaCryptBlock(x, &out[i], k, longKey);
        std::memcpy(chain.data(), &out[i], 16);
    }
    return out;
}

}  // namespace

class SBCamelliaPath : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (GetParam() && !CamelliaBmiAvailable()) GTEST_SKIP() << "this CPU has no BMI1";
        CamelliaSetBmi(GetParam());
        ASSERT_EQ(CamelliaBmiActive(), GetParam());
    }
    void TearDown() override { CamelliaSetBmi(true); }
};

TEST_P(SBCamelliaPath, Rfc3713VectorsBothDirections) {
    struct Case {
        const char* key;
        const char* cipher;
    } cases[] = {
        {"0123456789abcdeffedcba9876543210", "67673138549669730857065648eabe43"},
        {"0123456789abcdeffedcba98765432100011223344556677", "b4993401b3e996f84ee5cee7d79b09b9"},
        {"0123456789abcdeffedcba987654321000112233445566778899aabbccddeeff",
         "9acc237dff16d76c20ef7c919e3a7509"},
    };
    const auto plain = Hex("0123456789abcdeffedcba9876543210");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(ToHex(Ecb(Hex(c.key), plain, true)), c.cipher);
        EXPECT_EQ(ToHex(Ecb(Hex(c.key), Hex(c.cipher), false)), ToHex(plain));
    }
}

TEST_P(SBCamelliaPath, AuthorsKnownAnswerFiles) {
    for (const char* file : {"Camellia/camellia-128-ecb.txt", "Camellia/camellia-192-ecb.txt",
                             "Camellia/camellia-256-ecb.txt"}) {
        const auto path = kwtest::CryptographyVectorsPath(file);
        KW_REQUIRE_PEER(std::filesystem::exists(path), path.string());
        const auto vectors = ReadNttFile(path);
        ASSERT_FALSE(vectors.empty()) << path;
        for (const auto& v : vectors) {
            ASSERT_EQ(v.plain.size(), 16u);
            const std::string where = std::string(file) + " key " + ToHex(v.key) + " plain " + ToHex(v.plain);
            ASSERT_EQ(ToHex(Ecb(v.key, v.plain, true)), ToHex(v.cipher)) << where;
            ASSERT_EQ(ToHex(Ecb(v.key, v.cipher, false)), ToHex(v.plain)) << where;
        }
    }
}

TEST(SBCamellia, KeyOfOtherLengthIsRefusedAndNothingWritten) {
    CamelliaSubkeys k;
    ASSERT_TRUE(CamelliaKeySchedule(std::vector<uint8_t>(32, 3), k));
    const CamelliaSubkeys before = k;
    for (size_t length : {0, 8, 15, 17, 20, 31, 33}) {
        const std::vector<uint8_t> key(length, 9);
        EXPECT_FALSE(CamelliaKeySchedule(key, k)) << length;
        EXPECT_FALSE(CamelliaDecryptKeySchedule(key, k)) << length;
        EXPECT_EQ(0, std::memcmp(&k, &before, sizeof(k))) << length;
    }
}

TEST(SBCamellia, A192BitKeyIsThe256BitKeyWithComplementedTail) {
    const auto k24 = Hex("0123456789abcdeffedcba98765432100011223344556677");
    auto k32 = k24;
    for (int i = 16; i < 24; ++i)
        k32.push_back(uint8_t(~k24[i]));
    CamelliaSubkeys a, b;
    ASSERT_TRUE(CamelliaKeySchedule(k24, a));
    ASSERT_TRUE(CamelliaKeySchedule(k32, b));
    EXPECT_EQ(0, std::memcmp(&a, &b, sizeof(a)));
}

// A record keyed for 256 bits and then for 128 bits holds no subkey of the longer key.
TEST(SBCamellia, ShortKeyClearsTheSubkeysItDoesNotUse) {
    const auto k16 = Hex("0123456789abcdeffedcba9876543210");
    CamelliaSubkeys reused, fresh;
    ASSERT_TRUE(CamelliaKeySchedule(std::vector<uint8_t>(32, 0xA5), reused));
    ASSERT_TRUE(CamelliaKeySchedule(k16, reused));
    ASSERT_TRUE(CamelliaKeySchedule(k16, fresh));
    EXPECT_EQ(0, std::memcmp(&reused, &fresh, sizeof(reused)));
    for (int i = 18; i < 24; ++i)
        EXPECT_EQ(reused.k[i], 0u);
    EXPECT_EQ(reused.ke[4], 0u);
    EXPECT_EQ(reused.ke[5], 0u);
}

TEST_P(SBCamelliaPath, InPlaceEqualsSeparateBuffers) {
    const auto key = Hex("000102030405060708090a0b0c0d0e0f1011121314151617");
    CamelliaSubkeys enc, dec;
    ASSERT_TRUE(CamelliaKeySchedule(key, enc));
    ASSERT_TRUE(CamelliaDecryptKeySchedule(key, dec));
    const auto plain = Hex("00112233445566778899aabbccddeeff");
    uint8_t separate[16], inPlace[16];
    CamelliaCryptBlock(plain.data(), separate, enc, true);
    std::memcpy(inPlace, plain.data(), 16);
    CamelliaCryptBlock(inPlace, inPlace, enc, true);
    EXPECT_EQ(ToHex(inPlace, 16), ToHex(separate, 16));
    CamelliaCryptBlock(inPlace, inPlace, dec, true);
    EXPECT_EQ(ToHex(inPlace, 16), ToHex(plain));
}

TEST(SBCamellia, SubkeysAreWipedWhenDestroyed) {
    EXPECT_TRUE(kwtest::WipedOnDestruction<CamelliaSubkeys>([](CamelliaSubkeys& k) {
        CamelliaKeySchedule(Hex("0123456789abcdeffedcba987654321000112233445566778899aabbccddeeff"), k);
    }));
}

TEST_P(SBCamelliaPath, MatchesOpenSSLOnRandomKeysAndData) {
    struct Case {
        const char* name;
        size_t keyBytes;
    } cases[] = {{"CAMELLIA-128-ECB", 16}, {"CAMELLIA-192-ECB", 24}, {"CAMELLIA-256-ECB", 32}};
    std::mt19937 rng(3713);
    for (const auto& c : cases) {
        KW_REQUIRE_PEER(kwtest::OpenSSLHasCipher(c.name), std::string("OpenSSL ") + c.name);
        for (int round = 0; round < 100; ++round) {
            const auto key = kwtest::RandomBytes(rng, c.keyBytes);
            const auto data = kwtest::RandomBytes(rng, 16 * (1 + rng() % 8));
            SCOPED_TRACE(std::string(c.name) + " key " + ToHex(key));
            const auto ours = Ecb(key, data, true);
            EXPECT_EQ(ToHex(ours), ToHex(kwtest::OpenSSLCrypt(c.name, key, {}, data, true)));
            EXPECT_EQ(ToHex(Ecb(key, ours, false)), ToHex(data));
        }
    }
}

// The CBC routine against the block routine chained by hand, for every key size, runs of 0 to
// 9 blocks fed in two pieces (the chain carries over), and in place.
TEST_P(SBCamelliaPath, CbcRoutineEqualsTheChainedBlockRoutine) {
    std::mt19937 rng(31);
    for (size_t keyBytes : {16, 24, 32}) {
        for (size_t blocks = 0; blocks < 10; ++blocks) {
            const auto key = kwtest::RandomBytes(rng, keyBytes);
            const auto iv = kwtest::RandomBytes(rng, 16);
            const auto data = kwtest::RandomBytes(rng, 16 * blocks);
            SCOPED_TRACE(std::to_string(keyBytes) + " bytes, " + std::to_string(blocks) + " blocks");
            CamelliaSubkeys k;
            ASSERT_TRUE(CamelliaKeySchedule(key, k));
            const auto want = CbcByBlocks(k, keyBytes > 16, iv, data);

            std::vector<uint8_t> chain = iv, out(data.size());
            const size_t first = blocks / 2;
            CamelliaEncryptBlocksCBC(data.data(), k, keyBytes > 16, chain.data(), out.data(), first);
            CamelliaEncryptBlocksCBC(data.data() + 16 * first, k, keyBytes > 16, chain.data(),
                                     out.data() + 16 * first, blocks - first);
            EXPECT_EQ(ToHex(out), ToHex(want));
            EXPECT_EQ(ToHex(chain), blocks == 0 ? ToHex(iv) : ToHex(want.data() + want.size() - 16, 16));

            std::vector<uint8_t> inPlace = data;
            chain = iv;
            CamelliaEncryptBlocksCBC(inPlace.data(), k, keyBytes > 16, chain.data(), inPlace.data(), blocks);
            EXPECT_EQ(ToHex(inPlace), ToHex(want));
        }
    }
}

TEST_P(SBCamelliaPath, CbcRoutineMatchesOpenSSL) {
    struct Case {
        const char* name;
        size_t keyBytes;
    } cases[] = {{"CAMELLIA-128-CBC", 16}, {"CAMELLIA-192-CBC", 24}, {"CAMELLIA-256-CBC", 32}};
    std::mt19937 rng(3714);
    for (const auto& c : cases) {
        KW_REQUIRE_PEER(kwtest::OpenSSLHasCipher(c.name), std::string("OpenSSL ") + c.name);
        for (int round = 0; round < 20; ++round) {
            const auto key = kwtest::RandomBytes(rng, c.keyBytes);
            const auto iv = kwtest::RandomBytes(rng, 16);
            const auto data = kwtest::RandomBytes(rng, 16 * (1 + rng() % 8));
            SCOPED_TRACE(std::string(c.name) + " key " + ToHex(key));
            CamelliaSubkeys k;
            ASSERT_TRUE(CamelliaKeySchedule(key, k));
            std::vector<uint8_t> chain = iv, out(data.size());
            CamelliaEncryptBlocksCBC(data.data(), k, c.keyBytes > 16, chain.data(), out.data(),
                                     data.size() / 16);
            EXPECT_EQ(ToHex(out), ToHex(kwtest::OpenSSLCrypt(c.name, key, iv, data, true)));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, SBCamelliaPath, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("Bmi") : std::string("Portable");
                         });

// The BMI1 rounds run exactly when the processor has BMI1 (the kernel lists only what it
// supports), so they never run on one that lacks it.
TEST(SBCamellia, BmiChosenOnlyWhereTheProcessorHasIt) {
    KW_REQUIRE_PEER(std::filesystem::exists("/proc/cpuinfo"), "/proc/cpuinfo");
    const auto flags = kwtest::CpuFlags();
    if (!flags) GTEST_SKIP() << "/proc/cpuinfo lists no x86 flags on this machine";
    const bool has = flags->count("bmi1") != 0;
    EXPECT_EQ(CamelliaBmiAvailable(), has);
    CamelliaSetBmi(true);
    EXPECT_EQ(CamelliaBmiActive(), has);
    CamelliaSetBmi(false);
    EXPECT_FALSE(CamelliaBmiActive());
    CamelliaSetBmi(true);
}
