// Twofish: the known-answer values its authors published (the paper's test vectors and the
// iterated ecb_tbl chains), key-length errors, in-place blocks, wiping, and a differential run
// against libgcrypt (OpenSSL has no Twofish). The authors' tables print key, plaintext and
// ciphertext bytes in the cipher's own order (byte 0 first), so they are used as they stand.
#include "crypto/sym/SBTwofish.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>

#include "crypto/GcryptPeer.h"
#include "crypto/NistVectorFile.h"
#include "crypto/OpenSSLPeer.h"
#include "crypto/WipedOnDestruction.h"
#include "support/TestSupport.h"

namespace {

using kwtest::Hex;
using kwtest::ToHex;

std::vector<uint8_t> Ecb(const TwofishSubkeys& k, std::vector<uint8_t> data, bool encrypt) {
    for (size_t i = 0; i + 16 <= data.size(); i += 16) {
        if (encrypt)
            TwofishEncryptBlock(k, &data[i], &data[i]);
        else
            TwofishDecryptBlock(k, &data[i], &data[i]);
    }
    return data;
}

}  // namespace

TEST(SBTwofish, PaperVectorsBothDirections) {
    struct Case {
        const char* key;
        const char* plain;
        const char* cipher;
    } cases[] = {
        {"00000000000000000000000000000000", "00000000000000000000000000000000",
         "9F589F5CF6122C32B6BFEC2F2AE8C35A"},
        {"0123456789ABCDEFFEDCBA98765432100011223344556677", "00000000000000000000000000000000",
         "CFD1D2E5A9BE9CDF501F13B892BD2248"},
        {"0123456789ABCDEFFEDCBA987654321000112233445566778899AABBCCDDEEFF",
         "00000000000000000000000000000000", "37527BE0052334B89F0CFCCAE87CFA20"},
        {"9F589F5CF6122C32B6BFEC2F2AE8C35A", "D491DB16E7B1C39E86CB086B789F5419",
         "019F9809DE1711858FAAC3A3BA20FBC3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        TwofishSubkeys k;
        TwofishKeySchedule(Hex(c.key), k);
        EXPECT_EQ(k.KeyLengthBits, int32_t(Hex(c.key).size() * 8));
        EXPECT_EQ(ToHex(Ecb(k, Hex(c.plain), true)), ToHex(Hex(c.cipher)));
        EXPECT_EQ(ToHex(Ecb(k, Hex(c.cipher), false)), ToHex(Hex(c.plain)));
    }
}

// The authors' ecb_tbl chains: start from a zero key and block; each step's ciphertext is the
// next plaintext, and the next key is the old plaintext followed by the old key, cut to size.
TEST(SBTwofish, AuthorsIteratedTables) {
    struct Case {
        size_t keyBytes;
        std::map<int, const char*> expected;  // step -> ciphertext
    } cases[] = {
        {16,
         {{1, "9F589F5CF6122C32B6BFEC2F2AE8C35A"},
          {2, "D491DB16E7B1C39E86CB086B789F5419"},
          {49, "5D9D4EEFFA9151575524F115815A12E0"}}},
        {24,
         {{1, "EFA71F788965BD4453F860178FC19101"},
          {2, "88B2B2706B105E36B446BB6D731A1E88"},
          {49, "E75449212BEEF9F4A390BD860A640941"}}},
        {32,
         {{1, "57FF739D4DC92C1BD7FC01700CC8216F"},
          {2, "D43BB7556EA32E46F2A282B7D45B4E0D"},
          {49, "37FE26FF1CF66175F5DDF4C33B97A205"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keyBytes * 8);
        std::vector<uint8_t> key(c.keyBytes, 0), plain(16, 0);
        for (int step = 1; step <= 49; ++step) {
            TwofishSubkeys k;
            TwofishKeySchedule(key, k);
            const auto cipher = Ecb(k, plain, true);
            ASSERT_EQ(ToHex(Ecb(k, cipher, false)), ToHex(plain)) << "step " << step;
            auto it = c.expected.find(step);
            if (it != c.expected.end()) {
                EXPECT_EQ(ToHex(cipher), ToHex(Hex(it->second))) << "step " << step;
            }
            std::vector<uint8_t> next = plain;
            next.insert(next.end(), key.begin(), key.end());
            next.resize(c.keyBytes);
            key = next;
            plain = cipher;
        }
    }
}

TEST(SBTwofish, KeyOfOtherLengthRaisesAndLeavesSubkeysAlone) {
    TwofishSubkeys k;
    TwofishKeySchedule(std::vector<uint8_t>(16, 1), k);
    const TwofishSubkeys before = k;
    for (size_t length : {0, 8, 15, 17, 20, 31, 33, 64}) {
        try {
            TwofishKeySchedule(std::vector<uint8_t>(length, 7), k);
            ADD_FAILURE() << "no exception for " << length << " bytes";
        } catch (const EEncryptionError& e) {
            EXPECT_EQ(e.Message(), "Invalid key size [" + std::to_string(length * 8) + " bits]");
        }
        EXPECT_EQ(0, std::memcmp(&k, &before, sizeof(k)));
    }
}

TEST(SBTwofish, InPlaceEqualsSeparateBuffers) {
    TwofishSubkeys k;
    TwofishKeySchedule(Hex("0123456789ABCDEFFEDCBA98765432100011223344556677"), k);
    const auto plain = Hex("00112233445566778899AABBCCDDEEFF");
    uint8_t separate[16], back[16], inPlace[16];
    TwofishEncryptBlock(k, plain.data(), separate);
    TwofishDecryptBlock(k, separate, back);
    std::memcpy(inPlace, plain.data(), 16);
    TwofishEncryptBlock(k, inPlace, inPlace);
    EXPECT_EQ(ToHex(inPlace, 16), ToHex(separate, 16));
    TwofishDecryptBlock(k, inPlace, inPlace);
    EXPECT_EQ(ToHex(inPlace, 16), ToHex(plain));
    EXPECT_EQ(ToHex(back, 16), ToHex(plain));
}

TEST(SBTwofish, SubkeysAreWipedWhenDestroyed) {
    EXPECT_TRUE(kwtest::WipedOnDestruction<TwofishSubkeys>(
        [](TwofishSubkeys& k) { TwofishKeySchedule(Hex("0123456789ABCDEFFEDCBA9876543210"), k); }));
}

TEST(SBTwofish, MatchesLibgcryptOnRandomKeysAndData) {
    KW_REQUIRE_PEER(kwtest::GcryptAvailable(), "libgcrypt (libgcrypt20-dev)");
    std::mt19937 rng(1998);
    // libgcrypt's Twofish takes 128- and 256-bit keys only; the 192-bit schedule is covered by
    // the authors' tables above.
    for (int round = 0; round < 200; ++round) {
        const auto key = kwtest::RandomBytes(rng, round % 2 ? 32 : 16);
        const auto data = kwtest::RandomBytes(rng, 16 * (1 + rng() % 8));
        SCOPED_TRACE("key " + ToHex(key));
        TwofishSubkeys k;
        TwofishKeySchedule(key, k);
        const auto ours = Ecb(k, data, true);
        EXPECT_EQ(ToHex(ours), ToHex(kwtest::GcryptEcb(kwtest::GcryptCipher::Twofish, key, data, true)));
        EXPECT_EQ(ToHex(Ecb(k, ours, false)), ToHex(data));
    }
}
