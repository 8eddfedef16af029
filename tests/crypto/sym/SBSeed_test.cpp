// SEED: the RFC 4269 vectors (read in place from python3-cryptography-vectors), the length
// checks on key, input and output, in-place blocks, and a differential run against OpenSSL.
#include "crypto/sym/SBSeed.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "crypto/NistVectorFile.h"
#include "crypto/OpenSSLPeer.h"
#include "rtl/Exception.h"
#include "support/TestSupport.h"

namespace {

using kwtest::Hex;
using kwtest::ToHex;

std::vector<uint8_t> Ecb(const std::vector<uint8_t>& key, std::vector<uint8_t> data, bool decrypt) {
    for (size_t i = 0; i + 16 <= data.size(); i += 16)
        SEEDCryptBlock(&data[i], 16, key, &data[i], 16, decrypt);
    return data;
}

}  // namespace

TEST(SBSeed, Rfc4269VectorsBothDirections) {
    const auto path = kwtest::CryptographyVectorsPath("SEED/rfc-4269.txt");
    KW_REQUIRE_PEER(std::filesystem::exists(path), path.string());
    const auto records = kwtest::ReadNistFile(path);
    ASSERT_FALSE(records.empty());
    for (const auto& r : records) {
        const auto key = Hex(r.At("KEY")), plain = Hex(r.At("PLAINTEXT")), cipher = Hex(r.At("CIPHERTEXT"));
        SCOPED_TRACE(r.At("COUNT"));
        uint8_t out[16];
        SEEDCryptBlock(plain.data(), plain.size(), key, out, sizeof(out), false);
        EXPECT_EQ(ToHex(out, 16), ToHex(cipher));
        SEEDCryptBlock(cipher.data(), cipher.size(), key, out, sizeof(out), true);
        EXPECT_EQ(ToHex(out, 16), ToHex(plain));
    }
}

// A short key would otherwise be read past its end: the key is held to 16 bytes like the
// buffers, under the same message.
TEST(SBSeed, LengthsOtherThan16RaiseAndLeaveTheOutputAlone) {
    struct Case {
        size_t input, key, output;
    } cases[] = {{8, 16, 16}, {0, 16, 16}, {32, 16, 16}, {16, 16, 15}, {16, 16, 17},
                 {16, 0, 16}, {16, 8, 16}, {16, 15, 16}, {16, 17, 16}, {16, 32, 16}};
    const std::vector<uint8_t> in(32, 0x11);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.input) + "/" + std::to_string(c.key) + "/" + std::to_string(c.output));
        const std::vector<uint8_t> key(c.key, 0x22);
        std::vector<uint8_t> out(32, 0xAA);
        try {
            SEEDCryptBlock(in.data(), c.input, key, out.data(), c.output, false);
            ADD_FAILURE() << "no exception";
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(e.Message(), "Key, input and output buffer must have 16-bytes length!");
        }
        EXPECT_EQ(out, std::vector<uint8_t>(32, 0xAA));
    }
}

TEST(SBSeed, InPlaceEqualsSeparateBuffers) {
    const auto key = Hex("4706480851E61BE85D74BFB3FD956185");
    const auto plain = Hex("83A2F8A288641FB9A4E9A5CC2F131C7D");
    uint8_t separate[16], inPlace[16];
    SEEDCryptBlock(plain.data(), 16, key, separate, 16, false);
    std::memcpy(inPlace, plain.data(), 16);
    SEEDCryptBlock(inPlace, 16, key, inPlace, 16, false);
    EXPECT_EQ(ToHex(inPlace, 16), ToHex(separate, 16));
    SEEDCryptBlock(inPlace, 16, key, inPlace, 16, true);
    EXPECT_EQ(ToHex(inPlace, 16), ToHex(plain));
}

TEST(SBSeed, MatchesOpenSSLOnRandomKeysAndData) {
    KW_REQUIRE_PEER(kwtest::OpenSSLHasCipher("SEED-ECB"), "OpenSSL SEED-ECB (legacy provider)");
    std::mt19937 rng(4269);
    for (int round = 0; round < 200; ++round) {
        const auto key = kwtest::RandomBytes(rng, 16);
        const auto data = kwtest::RandomBytes(rng, 16 * (1 + rng() % 8));
        SCOPED_TRACE("key " + ToHex(key));
        const auto ours = Ecb(key, data, false);
        EXPECT_EQ(ToHex(ours), ToHex(kwtest::OpenSSLCrypt("SEED-ECB", key, {}, data, true)));
        EXPECT_EQ(ToHex(Ecb(key, ours, true)), ToHex(data));
    }
}
