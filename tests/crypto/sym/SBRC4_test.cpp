// RC4: the RFC 6229 keystreams (with their offsets), the key-length limits, piecewise
// processing, and agreement with OpenSSL on random keys and data.
#include "crypto/sym/SBRC4.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "crypto/NistVectorFile.h"
#include "crypto/OpenSSLPeer.h"
#include "support/TestSupport.h"

namespace {

using kwtest::Hex;
using kwtest::ToHex;

TEST(SBRC4, Rfc6229KeystreamsAtEveryOffset) {
    const char* files[] = {"rfc-6229-40.txt",  "rfc-6229-56.txt",  "rfc-6229-64.txt",  "rfc-6229-80.txt",
                           "rfc-6229-128.txt", "rfc-6229-192.txt", "rfc-6229-256.txt", "arc4.txt"};
    for (const char* f : files) {
        const auto path = kwtest::CryptographyVectorsPath(std::string("ARC4/") + f);
        KW_REQUIRE_PEER(std::filesystem::exists(path),
                        "python3-cryptography-vectors (" + path.string() + ")");
        const auto records = kwtest::ReadNistFile(path);
        ASSERT_FALSE(records.empty()) << f;
        for (const auto& r : records) {
            const auto key = Hex(r.At("KEY"));
            const size_t offset = std::stoul(r.At("OFFSET"));
            const auto plain = Hex(r.At("PLAINTEXT"));
            RC4Context ctx;
            InitRC4Context(ctx, key);
            std::vector<uint8_t> skip(offset);
            EncryptRC4(ctx, skip.data(), skip.data(), skip.size());
            std::vector<uint8_t> out(plain.size());
            EXPECT_TRUE(EncryptRC4(ctx, plain.data(), out.data(), plain.size()));
            EXPECT_EQ(ToHex(out), r.At("CIPHERTEXT")) << f << " key " << r.At("KEY") << " offset " << offset;
        }
    }
}

TEST(SBRC4, KeyLengthLimits) {
    struct Case {
        size_t bytes;
        bool accepted;
        const char* message;
    };
    const Case cases[] = {
        {0, false, "Invalid key size [0 bits]"},
        {1, true, nullptr},
        {32, true, nullptr},
        {33, false, "Invalid key size [264 bits]"},
        {256, false, "Invalid key size [2048 bits]"},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> key(c.bytes, 0x5A);
        RC4Context ctx;
        InitRC4Context(ctx, std::vector<uint8_t>{1, 2, 3, 4, 5});
        uint8_t first = 0;
        EncryptRC4(ctx, &first, &first, 1);  // moves i and j away from zero
        const RC4Context before = ctx;
        if (c.accepted) {
            EXPECT_NO_THROW(InitRC4Context(ctx, key)) << c.bytes;
            EXPECT_EQ(ctx.i, 0);
            EXPECT_EQ(ctx.j, 0);
        } else {
            try {
                InitRC4Context(ctx, key);
                ADD_FAILURE() << "key of " << c.bytes << " bytes accepted";
            } catch (const EEncryptionError& e) {
                EXPECT_EQ(e.Message(), c.message);
            }
            EXPECT_EQ(0, std::memcmp(&before, &ctx, sizeof ctx)) << "context changed by a refused key";
        }
    }
}

// The bare key schedule takes any length from one byte up, but never reads past an empty key.
TEST(SBRC4, KeyScheduleAloneRefusesAnEmptyKeyAndTakesLongOnes) {
    uint8_t S[256];
    std::memset(S, 0xEE, sizeof S);
    try {
        RC4KeySchedule(std::span<const uint8_t>(), S);
        ADD_FAILURE() << "empty key accepted";
    } catch (const EEncryptionError& e) {
        EXPECT_EQ(e.Message(), "Invalid key size [0 bits]");
    }
    for (uint8_t b : S)
        ASSERT_EQ(b, 0xEE) << "S changed by a refused key";

    KW_REQUIRE_PEER(kwtest::OpenSSLHasCipher("RC4"), "OpenSSL legacy provider (RC4)");
    std::mt19937 rng(2);
    const auto key = kwtest::RandomBytes(rng, 100);
    RC4Context ctx;
    RC4KeySchedule(key, ctx.S);
    const std::vector<uint8_t> zero(64);
    std::vector<uint8_t> out(64);
    EncryptRC4(ctx, zero.data(), out.data(), out.size());
    EXPECT_EQ(out, kwtest::OpenSSLCrypt("RC4", key, {}, zero, true));
}

TEST(SBRC4, PiecesGiveTheSameBytesAsOneCallAndDecryptRestores) {
    std::mt19937 rng(11);
    const auto key = kwtest::RandomBytes(rng, 16);
    const auto plain = kwtest::RandomBytes(rng, 1000);

    RC4Context whole;
    InitRC4Context(whole, key);
    std::vector<uint8_t> once(plain.size());
    EncryptRC4(whole, plain.data(), once.data(), plain.size());

    RC4Context pieces;
    InitRC4Context(pieces, key);
    std::vector<uint8_t> inPlace = plain;
    const size_t cuts[] = {0, 1, 7, 256, 257, 600, 1000};
    for (size_t k = 0; k + 1 < std::size(cuts); ++k)
        EncryptRC4(pieces, inPlace.data() + cuts[k], inPlace.data() + cuts[k], cuts[k + 1] - cuts[k]);
    EXPECT_EQ(inPlace, once);

    RC4Context dec;
    InitRC4Context(dec, key);
    std::vector<uint8_t> back(plain.size());
    EXPECT_TRUE(DecryptRC4(dec, once.data(), back.data(), once.size()));
    EXPECT_EQ(back, plain);
}

TEST(SBRC4, AgreesWithOpenSSLOnRandomKeys) {
    KW_REQUIRE_PEER(kwtest::OpenSSLHasCipher("RC4"), "OpenSSL legacy provider (RC4)");
    std::mt19937 rng(4);
    for (int round = 0; round < 64; ++round) {
        const auto key = kwtest::RandomBytes(rng, 1 + rng() % 32);
        const auto plain = kwtest::RandomBytes(rng, rng() % 700);
        RC4Context ctx;
        InitRC4Context(ctx, key);
        std::vector<uint8_t> ours(plain.size());
        EncryptRC4(ctx, plain.data(), ours.data(), plain.size());
        EXPECT_EQ(ours, kwtest::OpenSSLCrypt("RC4", key, {}, plain, true)) << "key " << ToHex(key);
    }
}

}  // namespace
