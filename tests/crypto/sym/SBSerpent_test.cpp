// Serpent: the known-answer values its authors published (variable-key and variable-text
// tables), the key padding and cutting rules, in-place blocks, wiping, and a differential run
// against libgcrypt (OpenSSL has no Serpent).
//
// The authors' tables print key, plaintext and ciphertext as 128- to 256-bit numbers, most
// significant digit first, while this unit reads bytes as little-endian words, word 0 first:
// a table value is therefore the byte-reversed form of our buffer. The NESSIE vector below is
// printed in our own byte order and checks that without any reversal.
#include "crypto/sym/SBSerpent.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "crypto/GcryptPeer.h"
#include "crypto/NistVectorFile.h"
#include "crypto/OpenSSLPeer.h"
#include "crypto/WipedOnDestruction.h"
#include "support/TestSupport.h"

namespace {

using kwtest::Hex;
using kwtest::ToHex;

std::vector<uint8_t> Reversed(std::vector<uint8_t> v) {
    std::reverse(v.begin(), v.end());
    return v;
}

std::vector<uint8_t> Ecb(const SerpentSubkeys& k, std::vector<uint8_t> data, bool encrypt) {
    for (size_t i = 0; i + 16 <= data.size(); i += 16) {
        if (encrypt)
            SerpentEncryptBlock(&data[i], &data[i], k);
        else
            SerpentDecryptBlock(&data[i], &data[i], k);
    }
    return data;
}

}  // namespace

TEST(SBSerpent, AuthorsKnownAnswersBothDirections) {
    struct Case {
        const char* table;
        const char* key;
        const char* plain;
        const char* cipher;
    } cases[] = {
        {"ecb_vk 128 I=1", "80000000000000000000000000000000", "00000000000000000000000000000000",
         "49AFBFAD9D5A34052CD8FFA5986BD2DD"},
        {"ecb_vk 192 I=1", "800000000000000000000000000000000000000000000000",
         "00000000000000000000000000000000", "E78E5402C7195568AC3678F7A3F60C66"},
        {"ecb_vk 256 I=1", "8000000000000000000000000000000000000000000000000000000000000000",
         "00000000000000000000000000000000", "ABED96E766BF28CBC0EBD21A82EF0819"},
        {"ecb_vt 128 I=1", "00000000000000000000000000000000", "80000000000000000000000000000000",
         "10B5FFB720B8CB9002A1142B0BA2E94A"},
        {"ecb_vt 192 I=1", "000000000000000000000000000000000000000000000000",
         "80000000000000000000000000000000", "B10B271BA25257E1294F2B51F076D0D9"},
        {"ecb_vt 256 I=1", "0000000000000000000000000000000000000000000000000000000000000000",
         "80000000000000000000000000000000", "DA5A7992B1B4AE6F8C004BC8A7DE5520"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.table);
        SerpentSubkeys k;
        SerpentKeySchedule(Reversed(Hex(c.key)), k);
        const auto plain = Reversed(Hex(c.plain)), cipher = Reversed(Hex(c.cipher));
        EXPECT_EQ(ToHex(Ecb(k, plain, true)), ToHex(cipher));
        EXPECT_EQ(ToHex(Ecb(k, cipher, false)), ToHex(plain));
    }
}

TEST(SBSerpent, NessieVectorInNativeByteOrder) {
    SerpentSubkeys k;
    SerpentKeySchedule(Hex("80000000000000000000000000000000"), k);
    EXPECT_EQ(ToHex(Ecb(k, std::vector<uint8_t>(16, 0), true)), "264e5481eff42a4606abda06c0bfda3d");
}

TEST(SBSerpent, ShortKeysArePaddedAndLongKeysCut) {
    std::vector<uint8_t> k40(40);
    for (size_t i = 0; i < k40.size(); ++i)
        k40[i] = uint8_t(0x30 + i);
    const std::vector<uint8_t> k32(k40.begin(), k40.begin() + 32);
    const std::vector<uint8_t> k16(k40.begin(), k40.begin() + 16);
    std::vector<uint8_t> k16padded = k16;
    k16padded.push_back(0x01);
    k16padded.resize(32, 0);
    std::vector<uint8_t> emptyPadded(32, 0);
    emptyPadded[0] = 0x01;
    std::vector<uint8_t> k5 = {1, 2, 3, 4, 5};
    std::vector<uint8_t> k5padded = {1, 2, 3, 4, 5, 1};
    k5padded.resize(32, 0);
    struct Case {
        const char* name;
        std::vector<uint8_t> a, b;
    } cases[] = {
        {"40 bytes = first 32", k40, k32},
        {"16 bytes = 16 + 0x01 + zeros", k16, k16padded},
        {"empty = 0x01 + zeros", {}, emptyPadded},
        {"5 bytes = 5 + 0x01 + zeros", k5, k5padded},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SerpentSubkeys a, b;
        SerpentKeySchedule(c.a, a);
        SerpentKeySchedule(c.b, b);
        EXPECT_EQ(0, std::memcmp(&a, &b, sizeof(a)));
    }
    SerpentSubkeys a, b;
    SerpentKeySchedule(k16, a);
    SerpentKeySchedule(k32, b);
    EXPECT_NE(0, std::memcmp(&a, &b, sizeof(a)));
}

TEST(SBSerpent, InPlaceEqualsSeparateBuffers) {
    SerpentSubkeys k;
    SerpentKeySchedule(Hex("000102030405060708090A0B0C0D0E0F1011121314151617"), k);
    const auto plain = Hex("00112233445566778899AABBCCDDEEFF");
    uint8_t separate[16], back[16], inPlace[16];
    SerpentEncryptBlock(plain.data(), separate, k);
    SerpentDecryptBlock(separate, back, k);
    std::memcpy(inPlace, plain.data(), 16);
    SerpentEncryptBlock(inPlace, inPlace, k);
    EXPECT_EQ(ToHex(inPlace, 16), ToHex(separate, 16));
    SerpentDecryptBlock(inPlace, inPlace, k);
    EXPECT_EQ(ToHex(inPlace, 16), ToHex(plain));
    EXPECT_EQ(ToHex(back, 16), ToHex(plain));
}

TEST(SBSerpent, SubkeysAreWipedWhenDestroyed) {
    EXPECT_TRUE(kwtest::WipedOnDestruction<SerpentSubkeys>(
        [](SerpentSubkeys& k) { SerpentKeySchedule(Hex("0123456789ABCDEFFEDCBA9876543210"), k); }));
}

TEST(SBSerpent, MatchesLibgcryptOnRandomKeysAndData) {
    KW_REQUIRE_PEER(kwtest::GcryptAvailable(), "libgcrypt (libgcrypt20-dev)");
    std::mt19937 rng(1998);
    const size_t sizes[] = {16, 24, 32};
    for (int round = 0; round < 300; ++round) {
        const auto key = kwtest::RandomBytes(rng, sizes[round % 3]);
        const auto data = kwtest::RandomBytes(rng, 16 * (1 + rng() % 8));
        SCOPED_TRACE("key " + ToHex(key));
        SerpentSubkeys k;
        SerpentKeySchedule(key, k);
        const auto ours = Ecb(k, data, true);
        EXPECT_EQ(ToHex(ours), ToHex(kwtest::GcryptEcb(kwtest::GcryptCipher::Serpent, key, data, true)));
        EXPECT_EQ(ToHex(Ecb(k, ours, false)), ToHex(data));
    }
}
