// AES: the FIPS 197 examples, the CAVP AESAVS ECB and CBC known-answer and multi-block files,
// the schedule properties, and agreement with OpenSSL on random keys and data. Every test
// runs twice: on the CPU's AES instructions (skipped on a CPU without them) and on the table
// code, forced by the switch; and the instructions are chosen only where the CPU has them.
#include "crypto/sym/SBAES.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "crypto/CpuFlags.h"
#include "crypto/NistVectorFile.h"
#include "crypto/OpenSSLPeer.h"
#include "support/TestSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;
using kwtest::Hex;
using kwtest::ToHex;

// One interface over the three key sizes.
struct Aes {
    int bits = 0;
    TAESExpandedKey128 k128;
    TAESExpandedKey192 k192;
    TAESExpandedKey256 k256;

    Aes(const Bytes& key, bool decrypt) : bits(int(key.size() * 8)) {
        switch (bits) {
            case 128:
                AESExpandKey128(key.data(), k128);
                if (decrypt) AESDecryptKeySchedule128(k128);
                break;
            case 192:
                AESExpandKey192(key.data(), k192);
                if (decrypt) AESDecryptKeySchedule192(k192);
                break;
            case 256:
                AESExpandKey256(key.data(), k256);
                if (decrypt) AESDecryptKeySchedule256(k256);
                break;
            default:
                throw std::runtime_error("bad AES key length");
        }
    }
    void EncryptBlock(const uint8_t* in, uint8_t* out) const {
        bits == 128   ? AESEncryptBlock128(in, k128, out)
        : bits == 192 ? AESEncryptBlock192(in, k192, out)
                      : AESEncryptBlock256(in, k256, out);
    }
    void DecryptBlock(const uint8_t* in, uint8_t* out) const {
        bits == 128   ? AESDecryptBlock128(in, k128, out)
        : bits == 192 ? AESDecryptBlock192(in, k192, out)
                      : AESDecryptBlock256(in, k256, out);
    }
    void EncryptBlocks(const uint8_t* in, uint8_t* out, size_t n) const {
        bits == 128   ? AESEncryptBlocks128(in, k128, out, n)
        : bits == 192 ? AESEncryptBlocks192(in, k192, out, n)
                      : AESEncryptBlocks256(in, k256, out, n);
    }
    void DecryptBlocks(const uint8_t* in, uint8_t* out, size_t n) const {
        bits == 128   ? AESDecryptBlocks128(in, k128, out, n)
        : bits == 192 ? AESDecryptBlocks192(in, k192, out, n)
                      : AESDecryptBlocks256(in, k256, out, n);
    }
    void DecryptCBC(const uint8_t* in, uint8_t* chain, uint8_t* out, size_t n) const {
        bits == 128   ? AESDecryptBlocksCBC128(in, k128, chain, out, n)
        : bits == 192 ? AESDecryptBlocksCBC192(in, k192, chain, out, n)
                      : AESDecryptBlocksCBC256(in, k256, chain, out, n);
    }
    void CTR(const uint8_t* in, uint8_t* counter, uint8_t* out, size_t n) const {
        bits == 128   ? AESEncryptBlocksCTR128(in, k128, counter, out, n)
        : bits == 192 ? AESEncryptBlocksCTR192(in, k192, counter, out, n)
                      : AESEncryptBlocksCTR256(in, k256, counter, out, n);
    }
};

// ECB one block at a time and all at once; both must give the same.
Bytes EcbEncrypt(const Aes& a, const Bytes& in) {
    Bytes one(in.size()), many(in.size());
    for (size_t i = 0; i < in.size(); i += 16)
        a.EncryptBlock(&in[i], &one[i]);
    a.EncryptBlocks(in.data(), many.data(), in.size() / 16);
    EXPECT_EQ(one, many) << "single and multi-block encryption differ";
    return one;
}
Bytes EcbDecrypt(const Aes& a, const Bytes& in) {
    Bytes one(in.size()), many(in.size());
    for (size_t i = 0; i < in.size(); i += 16)
        a.DecryptBlock(&in[i], &one[i]);
    a.DecryptBlocks(in.data(), many.data(), in.size() / 16);
    EXPECT_EQ(one, many) << "single and multi-block decryption differ";
    return one;
}
// CBC encryption composed from the block routine (it is serial by nature).
Bytes CbcEncrypt(const Aes& a, Bytes chain, const Bytes& in) {
    Bytes out(in.size());
    for (size_t i = 0; i < in.size(); i += 16) {
        uint8_t x[16];
        for (int b = 0; b < 16; ++b)
            x[b] = in[i + b] ^ chain[b];
        a.EncryptBlock(x, &out[i]);
        std::memcpy(chain.data(), &out[i], 16);
    }
    return out;
}
Bytes CbcDecrypt(const Aes& a, Bytes chain, const Bytes& in) {
    Bytes out(in.size());
    a.DecryptCBC(in.data(), chain.data(), out.data(), in.size() / 16);
    if (!in.empty()) {
        EXPECT_EQ(ToHex(chain), ToHex(in.data() + in.size() - 16, 16)) << "chain not advanced";
    }
    return out;
}

class SBAESPath : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (GetParam() && !AESHardwareAccelerationAvailable()) {
            GTEST_SKIP() << "this CPU has no AES instructions";
        }
        AESSetHardwareAcceleration(GetParam());
        ASSERT_EQ(AESHardwareAccelerationActive(), GetParam());
    }
    void TearDown() override { AESSetHardwareAcceleration(true); }
};

TEST_P(SBAESPath, Fips197Examples) {
    struct Case {
        const char* key;
        const char* cipher;
    };
    const Case cases[] = {
        {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
        {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
         "8ea2b7ca516745bfeafc49904b496089"},
    };
    const Bytes plain = Hex("00112233445566778899aabbccddeeff");
    for (const auto& c : cases) {
        const Bytes key = Hex(c.key);
        EXPECT_EQ(ToHex(EcbEncrypt(Aes(key, false), plain)), c.cipher);
        EXPECT_EQ(ToHex(EcbDecrypt(Aes(key, true), Hex(c.cipher))), ToHex(plain));
    }
}

// The key expansion examples: first derived word and last word of each schedule, as the
// standard prints them (big-endian words). The expansion has one path only.
TEST(SBAES, Fips197KeyExpansionExamples) {
    auto be = [](uint32_t le) { return __builtin_bswap32(le); };
    TAESExpandedKey128 k128;
    AESExpandKey128(Hex("2b7e151628aed2a6abf7158809cf4f3c").data(), k128);
    EXPECT_EQ(be(k128.W[4]), 0xa0fafe17u);
    EXPECT_EQ(be(k128.W[43]), 0xb6630ca6u);
    TAESExpandedKey192 k192;
    AESExpandKey192(Hex("8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b").data(), k192);
    EXPECT_EQ(be(k192.W[6]), 0xfe0c91f7u);
    EXPECT_EQ(be(k192.W[51]), 0x01002202u);
    TAESExpandedKey256 k256;
    AESExpandKey256(Hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4").data(), k256);
    EXPECT_EQ(be(k256.W[8]), 0x9ba35411u);
    EXPECT_EQ(be(k256.W[59]), 0x706c631eu);
}

TEST_P(SBAESPath, CavpEcbAndCbcFiles) {
    const char* kinds[] = {"GFSbox", "KeySbox", "VarKey", "VarTxt", "MMT"};
    size_t checked = 0;
    for (const char* mode : {"ECB", "CBC"}) {
        for (const char* kind : kinds) {
            for (const char* bits : {"128", "192", "256"}) {
                const std::string rel = std::string("AES/") + mode + "/" + mode + kind + bits + ".rsp";
                const auto path = kwtest::CryptographyVectorsPath(rel);
                KW_REQUIRE_PEER(std::filesystem::exists(path), "python3-cryptography-vectors (" + rel + ")");
                for (const auto& r : kwtest::ReadNistFile(path)) {
                    const Bytes key = Hex(r.At("KEY"));
                    const Bytes plain = Hex(r.At("PLAINTEXT"));
                    const Bytes cipher = Hex(r.At("CIPHERTEXT"));
                    const bool cbc = std::string(mode) == "CBC";
                    const Bytes iv = cbc ? Hex(r.At("IV")) : Bytes();
                    const std::string where = rel + " " + r.section + " COUNT " + r.At("COUNT");
                    if (r.section == "ENCRYPT") {
                        const Aes a(key, false);
                        EXPECT_EQ(ToHex(cbc ? CbcEncrypt(a, iv, plain) : EcbEncrypt(a, plain)), ToHex(cipher))
                            << where;
                    } else {
                        const Aes a(key, true);
                        EXPECT_EQ(ToHex(cbc ? CbcDecrypt(a, iv, cipher) : EcbDecrypt(a, cipher)),
                                  ToHex(plain))
                            << where;
                    }
                    ++checked;
                }
            }
        }
    }
    EXPECT_GT(checked, 2000u);
}

TEST_P(SBAESPath, InverseInPlaceAndRunsOfEveryLength) {
    std::mt19937 rng(GetParam() ? 1 : 2);
    for (size_t keyLen : {16u, 24u, 32u}) {
        const Bytes key = kwtest::RandomBytes(rng, keyLen);
        const Aes enc(key, false), dec(key, true);
        // Lengths around the eight-block grouping of the parallel code.
        for (size_t blocks : {1u, 7u, 8u, 9u, 16u, 17u, 33u}) {
            const Bytes plain = kwtest::RandomBytes(rng, 16 * blocks);
            const Bytes sealed = EcbEncrypt(enc, plain);
            EXPECT_EQ(EcbDecrypt(dec, sealed), plain) << keyLen << " bytes, " << blocks << " blocks";

            Bytes inPlace = plain;
            enc.EncryptBlocks(inPlace.data(), inPlace.data(), blocks);
            EXPECT_EQ(inPlace, sealed);
            dec.DecryptBlocks(inPlace.data(), inPlace.data(), blocks);
            EXPECT_EQ(inPlace, plain);
            Bytes one(plain.begin(), plain.begin() + 16);
            enc.EncryptBlock(one.data(), one.data());
            EXPECT_EQ(ToHex(one), ToHex(sealed.data(), 16));

            // CBC decryption in place and fed in two runs gives the one-run result.
            const Bytes iv = kwtest::RandomBytes(rng, 16);
            const Bytes cbc = CbcEncrypt(enc, iv, plain);
            const Bytes whole = CbcDecrypt(dec, iv, cbc);
            EXPECT_EQ(whole, plain);
            Bytes buf = cbc;
            Bytes chain = iv;
            const size_t cut = blocks / 2;
            dec.DecryptCBC(buf.data(), chain.data(), buf.data(), cut);
            dec.DecryptCBC(buf.data() + 16 * cut, chain.data(), buf.data() + 16 * cut, blocks - cut);
            EXPECT_EQ(buf, plain) << "in-place CBC in two runs, " << blocks << " blocks";
        }
    }
}

TEST_P(SBAESPath, AgreesWithOpenSSLOnRandomKeysAndData) {
    std::mt19937 rng(GetParam() ? 3 : 4);
    for (int round = 0; round < 30; ++round) {
        for (size_t keyLen : {16u, 24u, 32u}) {
            const std::string bits = std::to_string(keyLen * 8);
            const Bytes key = kwtest::RandomBytes(rng, keyLen);
            const Bytes iv = kwtest::RandomBytes(rng, 16);
            const Bytes data = kwtest::RandomBytes(rng, 16 * (1 + rng() % 40));
            const Aes enc(key, false), dec(key, true);
            const std::string ecb = "AES-" + bits + "-ECB", cbc = "AES-" + bits + "-CBC";
            EXPECT_EQ(EcbEncrypt(enc, data), kwtest::OpenSSLCrypt(ecb.c_str(), key, {}, data, true));
            EXPECT_EQ(EcbDecrypt(dec, data), kwtest::OpenSSLCrypt(ecb.c_str(), key, {}, data, false));
            EXPECT_EQ(CbcEncrypt(enc, iv, data), kwtest::OpenSSLCrypt(cbc.c_str(), key, iv, data, true));
            EXPECT_EQ(CbcDecrypt(dec, iv, data), kwtest::OpenSSLCrypt(cbc.c_str(), key, iv, data, false));
        }
    }
}

// Counter mode against OpenSSL's, which counts the whole 16-byte block as one big-endian
// number too: counters that carry from the low half, wrap to zero, and runs fed in pieces and
// in place.
TEST_P(SBAESPath, CounterModeAgreesWithOpenSSLAcrossCarries) {
    std::mt19937 rng(GetParam() ? 5 : 6);
    const char* counters[] = {
        "000102030405060708090a0b0c0d0e0f", "00000000000000000000000000000000",
        "0000000000000000fffffffffffffffc", "0123456789abcdeffffffffffffffffa",
        "fffffffffffffffffffffffffffffffd", "ffffffffffffffffffffffffffffffff",
    };
    for (size_t keyLen : {16u, 24u, 32u}) {
        const std::string name = "AES-" + std::to_string(keyLen * 8) + "-CTR";
        for (const char* start : counters) {
            const Bytes key = kwtest::RandomBytes(rng, keyLen);
            const Aes enc(key, false);
            const size_t blocks = 1 + rng() % 40;
            const Bytes data = kwtest::RandomBytes(rng, 16 * blocks);
            const Bytes expected = kwtest::OpenSSLCrypt(name.c_str(), key, Hex(start), data, true);

            Bytes counter = Hex(start);
            Bytes out(data.size());
            enc.CTR(data.data(), counter.data(), out.data(), blocks);
            EXPECT_EQ(ToHex(out), ToHex(expected))
                << name << " from " << start << ", " << blocks << " blocks";

            // In place, in two runs: the counter carries over between them.
            Bytes buf = data;
            counter = Hex(start);
            const size_t cut = rng() % (blocks + 1);
            enc.CTR(buf.data(), counter.data(), buf.data(), cut);
            enc.CTR(buf.data() + 16 * cut, counter.data(), buf.data() + 16 * cut, blocks - cut);
            EXPECT_EQ(ToHex(buf), ToHex(expected)) << name << " from " << start << ", cut at " << cut;

            // Applying it again with the same starting counter restores the data.
            counter = Hex(start);
            enc.CTR(buf.data(), counter.data(), buf.data(), blocks);
            EXPECT_EQ(buf, data);
        }
    }
    // After all-0xFF the counter wraps to zero.
    const Aes enc(Bytes(16, 7), false);
    Bytes counter = Hex("ffffffffffffffffffffffffffffffff");
    Bytes zero(16, 0), out(16);
    enc.CTR(zero.data(), counter.data(), out.data(), 1);
    EXPECT_EQ(ToHex(counter), "00000000000000000000000000000000");
}

// The instructions are used exactly when the processor has them (the kernel lists only what
// it supports), so they are never run on one that lacks them.
TEST(SBAES, InstructionsChosenOnlyWhereTheProcessorHasThem) {
    KW_REQUIRE_PEER(std::filesystem::exists("/proc/cpuinfo"), "/proc/cpuinfo");
    const auto flags = kwtest::CpuFlags();
    if (!flags) GTEST_SKIP() << "/proc/cpuinfo lists no x86 flags on this machine";
    const bool has = flags->count("aes") != 0 && flags->count("sse4_1") != 0;
    EXPECT_EQ(AESHardwareAccelerationAvailable(), has);
    AESSetHardwareAcceleration(true);
    EXPECT_EQ(AESHardwareAccelerationActive(), has);
    AESSetHardwareAcceleration(false);
    EXPECT_FALSE(AESHardwareAccelerationActive());
    AESSetHardwareAcceleration(true);
}

INSTANTIATE_TEST_SUITE_P(Paths, SBAESPath, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("Instructions") : std::string("Tables");
                         });

}  // namespace
