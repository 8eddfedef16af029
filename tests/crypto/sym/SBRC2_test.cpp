// RC2: the RFC 2268 vectors whose effective key length is eight times the key length, the
// key-length limits, the CBC buffering contract, agreement with OpenSSL on random keys of
// every length, and the RC2-CBC parameter encoding (whole version numbers, malformed input).
#include "crypto/sym/SBRC2.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "crypto/NistVectorFile.h"
#include "crypto/OpenSSLPeer.h"
#include "support/TestSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;
using kwtest::Hex;
using kwtest::ToHex;

ByteString Str(const Bytes& b) {
    return ByteString(b.begin(), b.end());
}
ByteString HexStr(const char* text) {
    return Str(Hex(text));
}

TEST(SBRC2, Rfc2268Vectors) {
    struct Case {
        const char* key;
        const char* plain;
        const char* cipher;
    };
    const Case cases[] = {
        {"ffffffffffffffff", "ffffffffffffffff", "278b27e42e2f0d49"},
        {"3000000000000000", "1000000000000001", "30649edf9be7d2c2"},
        {"88bca90e90875a7f0f79c384627bafb2", "0000000000000000", "2269552ab0f85ca6"},
    };
    for (const auto& c : cases) {
        TRC2ExpandedKey k;
        RC2KeySchedule(Hex(c.key), k);
        Bytes out(8);
        RC2EncryptBlock(Hex(c.plain).data(), k, out.data());
        EXPECT_EQ(ToHex(out), c.cipher) << c.key;
        Bytes back = Hex(c.cipher);
        RC2DecryptBlock(back.data(), k, back.data());  // in place
        EXPECT_EQ(ToHex(back), c.plain) << c.key;
    }
}

TEST(SBRC2, KeyLengthLimits) {
    struct Case {
        size_t bytes;
        const char* message;  // nullptr: accepted
    };
    const Case cases[] = {{0, "Invalid key size [0 bits]"},
                          {1, nullptr},
                          {128, nullptr},
                          {129, "Invalid key size [1032 bits]"}};
    const uint8_t iv[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (const auto& c : cases) {
        const Bytes key(c.bytes, 0x42);
        RC2Context ctx;
        InitRC2EncryptionContext(ctx, Bytes{9, 9, 9}, iv);
        size_t room = 0;
        EncryptRC2CBC(ctx, iv, 3, nullptr, room);  // three bytes pending
        const RC2Context before = ctx;
        TRC2ExpandedKey schedule = ctx.ExpandedKey;
        if (c.message == nullptr) {
            EXPECT_EQ(InitRC2DecryptionContext(ctx, key, iv), 0);
            EXPECT_EQ(ctx.PendingCount, 0u);
            EXPECT_NO_THROW(RC2KeySchedule(key, schedule));
            continue;
        }
        for (int which = 0; which < 3; ++which) {
            try {
                if (which == 0) RC2KeySchedule(key, schedule);
                if (which == 1) InitRC2EncryptionContext(ctx, key, iv);
                if (which == 2) InitRC2DecryptionContext(ctx, key, iv);
                ADD_FAILURE() << c.bytes << "-byte key accepted by routine " << which;
            } catch (const EEncryptionError& e) {
                EXPECT_EQ(e.Message(), c.message);
            }
        }
        EXPECT_EQ(0, std::memcmp(&before, &ctx, sizeof ctx)) << "a refused key changed the context";
        EXPECT_EQ(0, std::memcmp(&before.ExpandedKey, &schedule, sizeof schedule));
    }
}

TEST(SBRC2, CbcPiecesShortRoomAndEmptyInput) {
    std::mt19937 rng(12);
    const Bytes key = kwtest::RandomBytes(rng, 16);
    const Bytes iv = kwtest::RandomBytes(rng, 8);
    const Bytes plain = kwtest::RandomBytes(rng, 16);
    for (bool encrypt : {true, false}) {
        auto init = encrypt ? InitRC2EncryptionContext : InitRC2DecryptionContext;
        auto run = encrypt ? EncryptRC2CBC : DecryptRC2CBC;
        RC2Context whole;
        init(whole, key, iv.data());
        Bytes once(16);
        size_t n = 16;
        ASSERT_TRUE(run(whole, plain.data(), 16, once.data(), n));

        RC2Context pieces;
        init(pieces, key, iv.data());
        Bytes out(16);
        size_t a = 16, b = 16, c = 8;
        ASSERT_TRUE(run(pieces, plain.data(), 3, out.data(), a));
        EXPECT_EQ(a, 0u);
        ASSERT_TRUE(run(pieces, plain.data() + 3, 5, out.data(), b));
        EXPECT_EQ(b, 8u);
        const RC2Context before = pieces;
        size_t shortRoom = 7;
        EXPECT_FALSE(run(pieces, plain.data() + 8, 8, out.data() + 8, shortRoom));
        EXPECT_EQ(shortRoom, 8u);
        EXPECT_EQ(0, std::memcmp(&before, &pieces, sizeof before));
        ASSERT_TRUE(run(pieces, plain.data() + 8, 8, out.data() + 8, c));
        EXPECT_EQ(out, once) << (encrypt ? "encrypt" : "decrypt");

        size_t zero = 5;
        ASSERT_TRUE(run(pieces, plain.data(), 2, out.data(), zero));
        zero = 5;
        EXPECT_TRUE(run(pieces, plain.data(), 0, out.data(), zero));
        EXPECT_EQ(zero, 0u);
        EXPECT_EQ(pieces.PendingCount, 2u);
    }
}

TEST(SBRC2, AgreesWithOpenSSLOnKeysOfEveryLength) {
    KW_REQUIRE_PEER(kwtest::OpenSSLHasCipher("RC2-ECB") && kwtest::OpenSSLHasCipher("RC2-CBC"),
                    "OpenSSL legacy provider (RC2)");
    std::mt19937 rng(13);
    for (size_t keyLen = 1; keyLen <= 128; keyLen += (keyLen < 20 ? 1 : 9)) {
        const Bytes key = kwtest::RandomBytes(rng, keyLen);
        const Bytes iv = kwtest::RandomBytes(rng, 8);
        const Bytes data = kwtest::RandomBytes(rng, 8 * (1 + rng() % 20));
        TRC2ExpandedKey k;
        RC2KeySchedule(key, k);
        Bytes enc(data.size()), dec(data.size());
        for (size_t i = 0; i < data.size(); i += 8) {
            RC2EncryptBlock(&data[i], k, &enc[i]);
            RC2DecryptBlock(&data[i], k, &dec[i]);
        }
        EXPECT_EQ(enc, kwtest::OpenSSLCrypt("RC2-ECB", key, {}, data, true)) << keyLen << "-byte key";
        EXPECT_EQ(dec, kwtest::OpenSSLCrypt("RC2-ECB", key, {}, data, false)) << keyLen << "-byte key";
        for (bool encrypt : {true, false}) {
            RC2Context ctx;
            (encrypt ? InitRC2EncryptionContext : InitRC2DecryptionContext)(ctx, key, iv.data());
            Bytes out(data.size());
            size_t n = out.size();
            ASSERT_TRUE(
                (encrypt ? EncryptRC2CBC : DecryptRC2CBC)(ctx, data.data(), data.size(), out.data(), n));
            EXPECT_EQ(out, kwtest::OpenSSLCrypt("RC2-CBC", key, iv, data, encrypt))
                << keyLen << "-byte key CBC";
        }
    }
}

TEST(SBRC2, ParameterEncodings) {
    const ByteString iv = HexStr("0102030405060708");
    struct Case {
        int32_t bits;
        const char* der;
    };
    const Case cases[] = {
        {40, "300e020200a004080102030405060708"},
        {64,
         "300d0201780408"
         "0102030405060708"},
        {128,
         "300d02013a0408"
         "0102030405060708"},
        {32, "300a04080102030405060708"},
        {256,
         "300e020201000408"
         "0102030405060708"},
        {56,
         "300d0201380408"
         "0102030405060708"},
    };
    for (const auto& c : cases) {
        ByteString der;
        EncodeRC2CBCParameters(iv, c.bits, der);
        EXPECT_EQ(kwtest::ToHex(reinterpret_cast<const uint8_t*>(der.data()), der.size()), c.der) << c.bits;
    }
}

// Versions of 256 and above are the bit count itself, read from the whole INTEGER: 416
// (0x01A0) ends in the byte of version 160 and must not come back as 40 bits.
TEST(SBRC2, ParametersRoundTripWithWholeVersionNumbers) {
    const ByteString iv = HexStr("a1a2a3a4a5a6a7a8");
    for (int32_t bits : {32, 40, 64, 128, 256, 300, 416, 512, 1024, 65536, 0x7FFFFFFF}) {
        ByteString der, back;
        EncodeRC2CBCParameters(iv, bits, der);
        int32_t got = -1;
        ASSERT_TRUE(DecodeRC2CBCParameters(der, back, got)) << bits;
        EXPECT_EQ(got, bits);
        EXPECT_EQ(back, iv);
    }
    // An IV of another length comes back as it is.
    ByteString der, back;
    int32_t got = 0;
    EncodeRC2CBCParameters(HexStr("0102"), 128, der);
    ASSERT_TRUE(DecodeRC2CBCParameters(der, back, got));
    EXPECT_EQ(back, HexStr("0102"));
}

TEST(SBRC2, MalformedParametersAreRefused) {
    struct Case {
        const char* what;
        const char* der;
    };
    const Case cases[] = {
        {"56 bits, written as version 56", "300d02013804080102030405060708"},
        {"two top-level elements",
         "300a04080102030405060708"
         "0500"},
        {"a bare OCTET STRING", "04080102030405060708"},
        {"a SEQUENCE holding only an INTEGER", "3003020178"},
        {"version 100", "300d02016404080102030405060708"},
        {"a negative version", "300d0201a004080102030405060708"},
        {"a version beyond 32 bits",
         "3011020500800000000408"
         "0102030405060708"},
        {"an empty SEQUENCE", "3000"},
        {"a SET instead of a SEQUENCE", "310a04080102030405060708"},
        {"a constructed IV", "300c240a04080102030405060708"},
        {"a truncated element", "300d020178040801020304050607"},
        {"nothing", ""},
    };
    for (const auto& c : cases) {
        ByteString iv = "unchanged";
        int32_t bits = -7;
        EXPECT_FALSE(DecodeRC2CBCParameters(HexStr(c.der), iv, bits)) << c.what;
        EXPECT_EQ(iv, "unchanged") << c.what;
    }
    // The bits are stored before the IV is looked for.
    ByteString iv;
    int32_t bits = 0;
    EXPECT_FALSE(DecodeRC2CBCParameters(HexStr("3003020178"), iv, bits));
    EXPECT_EQ(bits, 64);
    // Indefinite-length BER of the same parameters reads the same.
    ASSERT_TRUE(DecodeRC2CBCParameters(HexStr("308002013a040801020304050607080000"), iv, bits));
    EXPECT_EQ(bits, 128);
    EXPECT_EQ(iv, HexStr("0102030405060708"));
}

}  // namespace
