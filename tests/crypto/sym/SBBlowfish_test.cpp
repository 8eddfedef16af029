// Blowfish: its author's published ECB vectors (read in place from python3-cryptography-vectors),
// key cycling, re-keying, the empty-key error, wiping, the CBC routine, and differential runs
// against OpenSSL.
#include "crypto/sym/SBBlowfish.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>

#include "crypto/NistVectorFile.h"
#include "crypto/OpenSSLPeer.h"
#include "crypto/WipedOnDestruction.h"
#include "rtl/Bytes.h"
#include "support/TestSupport.h"

namespace {

using kwtest::Hex;
using kwtest::ToHex;

struct BlowfishVector {
    std::vector<uint8_t> key, plain, cipher;
};

// The file lists the 8-, 16- and 24-bit key cases as comments (those keys lie below the
// cipher class's minimum); the routines take them, so they are read too.
std::vector<BlowfishVector> ReadBlowfishVectors(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::vector<BlowfishVector> out;
    std::string line;
    while (std::getline(in, line)) {
        size_t p = line.find_first_not_of("# \t");
        if (p == std::string::npos) continue;
        const std::string body = line.substr(p);
        const auto eq = body.find('=');
        if (eq == std::string::npos) continue;
        std::string name = body.substr(0, body.find_first_of(" =")), value = body.substr(eq + 1);
        value.erase(0, value.find_first_not_of(' '));
        while (!value.empty() && (value.back() == '\r' || value.back() == ' '))
            value.pop_back();
        if (name == "KEY") out.push_back({Hex(value), {}, {}});
        if (name == "PLAINTEXT" && !out.empty()) out.back().plain = Hex(value);
        if (name == "CIPHERTEXT" && !out.empty()) out.back().cipher = Hex(value);
    }
    return out;
}

std::vector<uint8_t> EncryptEcb(const BlowfishState& s, std::vector<uint8_t> data, bool encrypt) {
    for (size_t i = 0; i + 8 <= data.size(); i += 8) {
        uint32_t L = rtl::load_be32(&data[i]);
        uint32_t R = rtl::load_be32(&data[i + 4]);
        if (encrypt)
            BlowfishEncryptWords(s, L, R);
        else
            BlowfishDecryptWords(s, L, R);
        rtl::store_be32(&data[i], L);
        rtl::store_be32(&data[i + 4], R);
    }
    return data;
}

}  // namespace

TEST(SBBlowfish, AuthorsEcbVectorsBothDirections) {
    const auto path = kwtest::CryptographyVectorsPath("Blowfish/bf-ecb.txt");
    KW_REQUIRE_PEER(std::filesystem::exists(path), path.string());
    const auto vectors = ReadBlowfishVectors(path);
    // 34 vectors with 8-byte keys and the set-key series of 1 to 24 bytes.
    ASSERT_GE(vectors.size(), 34u);
    bool sawShortKey = false;
    for (const auto& v : vectors) {
        SCOPED_TRACE("key " + ToHex(v.key));
        ASSERT_EQ(v.plain.size(), 8u);
        ASSERT_EQ(v.cipher.size(), 8u);
        sawShortKey |= v.key.size() < 4;
        BlowfishState s;
        BlowfishKeySchedule(s, v.key);
        EXPECT_EQ(ToHex(EncryptEcb(s, v.plain, true)), ToHex(v.cipher));
        EXPECT_EQ(ToHex(EncryptEcb(s, v.cipher, false)), ToHex(v.plain));
    }
    EXPECT_TRUE(sawShortKey);
}

TEST(SBBlowfish, KeyIsCycled) {
    const std::vector<uint8_t> four = {0x61, 0x62, 0x63, 0x64};
    const std::vector<uint8_t> eight = {0x61, 0x62, 0x63, 0x64, 0x61, 0x62, 0x63, 0x64};
    // 72 bytes is where the key stops mattering: P has 18 words.
    std::vector<uint8_t> seventyTwo(72), seventyThree(73);
    for (size_t i = 0; i < 72; ++i)
        seventyTwo[i] = seventyThree[i] = uint8_t(i * 7 + 1);
    seventyThree[72] = 0xEE;
    struct Case {
        const std::vector<uint8_t>& a;
        const std::vector<uint8_t>& b;
    } cases[] = {{four, eight}, {seventyTwo, seventyThree}};
    for (const auto& c : cases) {
        BlowfishState a, b;
        BlowfishKeySchedule(a, c.a);
        BlowfishKeySchedule(b, c.b);
        EXPECT_EQ(0, std::memcmp(&a, &b, sizeof(BlowfishState)));
    }
    BlowfishState a, c;
    BlowfishKeySchedule(a, four);
    BlowfishKeySchedule(c, std::vector<uint8_t>{0x61, 0x62, 0x63, 0x65});
    EXPECT_NE(0, std::memcmp(&a, &c, sizeof(BlowfishState)));
}

TEST(SBBlowfish, RekeyingStartsFromTheInitialTables) {
    const std::vector<uint8_t> k1 = Hex("0123456789ABCDEF"), k2 = Hex("FEDCBA9876543210");
    BlowfishState reused, fresh;
    BlowfishKeySchedule(reused, k1);
    BlowfishKeySchedule(reused, k2);
    BlowfishKeySchedule(fresh, k2);
    EXPECT_EQ(0, std::memcmp(&reused, &fresh, sizeof(BlowfishState)));
}

TEST(SBBlowfish, EmptyKeyRaisesAndLeavesTheStateAlone) {
    BlowfishState s;
    BlowfishKeySchedule(s, Hex("0123456789ABCDEF"));
    const BlowfishState before = s;
    try {
        BlowfishKeySchedule(s, std::span<const uint8_t>());
        FAIL() << "no exception";
    } catch (const EEncryptionError& e) {
        EXPECT_EQ(e.Message(), "Invalid key size [0 bits]");
    }
    EXPECT_EQ(0, std::memcmp(&s, &before, sizeof(BlowfishState)));
}

TEST(SBBlowfish, StateIsWipedWhenDestroyed) {
    EXPECT_TRUE(kwtest::WipedOnDestruction<BlowfishState>(
        [](BlowfishState& s) { BlowfishKeySchedule(s, Hex("0123456789ABCDEF")); }));
}

TEST(SBBlowfish, MatchesOpenSSLOnRandomKeysAndData) {
    KW_REQUIRE_PEER(kwtest::OpenSSLHasCipher("BF-ECB"), "OpenSSL BF-ECB (legacy provider)");
    std::mt19937 rng(20240511);
    for (int round = 0; round < 200; ++round) {
        // Every length the cipher class admits, and the shorter and longer ones OpenSSL takes.
        const size_t keyLen = 1 + rng() % 72;
        const auto key = kwtest::RandomBytes(rng, keyLen);
        const auto data = kwtest::RandomBytes(rng, 8 * (1 + rng() % 16));
        SCOPED_TRACE("key " + ToHex(key));
        BlowfishState s;
        BlowfishKeySchedule(s, key);
        const auto ours = EncryptEcb(s, data, true);
        EXPECT_EQ(ToHex(ours), ToHex(kwtest::OpenSSLCrypt("BF-ECB", key, {}, data, true)));
        EXPECT_EQ(ToHex(EncryptEcb(s, ours, false)), ToHex(data));
    }
}

// The CBC routine against the word routine chained by hand: runs of 0 to 9 blocks fed in two
// pieces (the chain carries over), and in place.
TEST(SBBlowfish, CbcRoutineEqualsTheChainedWordRoutine) {
    std::mt19937 rng(1993);
    for (size_t blocks = 0; blocks < 10; ++blocks) {
        const auto key = kwtest::RandomBytes(rng, 4 + rng() % 53);
        const auto iv = kwtest::RandomBytes(rng, 8);
        const auto data = kwtest::RandomBytes(rng, 8 * blocks);
        SCOPED_TRACE(std::to_string(blocks) + " blocks, key " + ToHex(key));
        BlowfishState s;
        BlowfishKeySchedule(s, key);
        std::vector<uint8_t> want(data.size());
        uint32_t l = rtl::load_be32(iv.data()), r = rtl::load_be32(iv.data() + 4);
        for (size_t i = 0; i < blocks; ++i) {
            l ^= rtl::load_be32(&data[8 * i]);
            r ^= rtl::load_be32(&data[8 * i + 4]);
            BlowfishEncryptWords(s, l, r);
            rtl::store_be32(&want[8 * i], l);
            rtl::store_be32(&want[8 * i + 4], r);
        }

        std::vector<uint8_t> chain = iv, out(data.size());
        const size_t first = blocks / 2;
        BlowfishEncryptBlocksCBC(data.data(), s, chain.data(), out.data(), first);
        BlowfishEncryptBlocksCBC(data.data() + 8 * first, s, chain.data(), out.data() + 8 * first,
                                 blocks - first);
        EXPECT_EQ(ToHex(out), ToHex(want));
        EXPECT_EQ(ToHex(chain), blocks == 0 ? ToHex(iv) : ToHex(want.data() + want.size() - 8, 8));

        std::vector<uint8_t> inPlace = data;
        chain = iv;
        BlowfishEncryptBlocksCBC(inPlace.data(), s, chain.data(), inPlace.data(), blocks);
        EXPECT_EQ(ToHex(inPlace), ToHex(want));
    }
}

TEST(SBBlowfish, CbcRoutineMatchesOpenSSL) {
    KW_REQUIRE_PEER(kwtest::OpenSSLHasCipher("BF-CBC"), "OpenSSL BF-CBC (legacy provider)");
    std::mt19937 rng(20240512);
    for (int round = 0; round < 50; ++round) {
        const auto key = kwtest::RandomBytes(rng, 4 + rng() % 53);
        const auto iv = kwtest::RandomBytes(rng, 8);
        const auto data = kwtest::RandomBytes(rng, 8 * (1 + rng() % 16));
        SCOPED_TRACE("key " + ToHex(key));
        BlowfishState s;
        BlowfishKeySchedule(s, key);
        std::vector<uint8_t> chain = iv, out(data.size());
        BlowfishEncryptBlocksCBC(data.data(), s, chain.data(), out.data(), data.size() / 8);
        EXPECT_EQ(ToHex(out), ToHex(kwtest::OpenSSLCrypt("BF-CBC", key, iv, data, true)));
    }
}
