// Rabbit: the RFC 4503 keystreams with and without IV setup, the master-state rule of IV
// setup, the unused half of the IV, whole-step processing, and the error messages.
//
// No installed peer implements Rabbit (OpenSSL, libgcrypt and nettle lack it), so the RFC's
// vectors carry the weight here.
#include "crypto/sym/SBRabbit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>

#include "crypto/NistVectorFile.h"
#include "crypto/OpenSSLPeer.h"
#include "rtl/Exception.h"

namespace {

using Bytes = std::vector<uint8_t>;
using kwtest::Hex;
using kwtest::ToHex;

// The RFC prints keys, IVs and keystream blocks as numbers, most significant byte first;
// the cipher takes its bytes least significant first. Reversing each value converts.
Bytes FromRfc(const char* text) {
    Bytes b = Hex(text);
    std::reverse(b.begin(), b.end());
    return b;
}

Bytes Keystream(RabbitContext& ctx, size_t n) {
    Bytes zero(n), out(n);
    RabbitProcess(ctx, zero, out);
    return out;
}

TEST(SBRabbit, Rfc4503Vectors) {
    struct Case {
        const char* key;
        const char* iv;  // nullptr: no IV setup
        std::vector<const char*> blocks;
    };
    const char* zeroKey = "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
    const Case cases[] = {
        {zeroKey,
         nullptr,
         {"B1 57 54 F0 36 A5 D6 EC F5 6B 45 26 1C 4A F7 02",
          "88 E8 D8 15 C5 9C 0C 39 7B 69 6C 47 89 C6 8A A7",
          "F4 16 A1 C3 70 0C D4 51 DA 68 D1 88 16 73 D6 96"}},
        {"91 28 13 29 2E 3D 36 FE 3B FC 62 F1 DC 51 C3 AC",
         nullptr,
         {"3D 2D F3 C8 3E F6 27 A1 E9 7F C3 84 87 E2 51 9C",
          "F5 76 CD 61 F4 40 5B 88 96 BF 53 AA 85 54 FC 19",
          "E5 54 74 73 FB DB 43 50 8A E5 3B 20 20 4D 4C 5E"}},
        {zeroKey,
         "00 00 00 00 00 00 00 00",
         {"C6 A7 27 5E F8 54 95 D8 7C CD 5D 37 67 05 B7 ED",
          "5F 29 A6 AC 04 F5 EF D4 7B 8F 29 32 70 DC 4A 8D",
          "2A DE 82 2B 29 DE 6C 1E E5 2B DB 8A 47 BF 8F 66"}},
        {zeroKey, "C3 73 F5 75 C1 26 7E 59", {"1F CD 4E B9 58 00 12 E2 E0 DC CC 92 22 01 7D 6D"}},
        {zeroKey, "A6 EB 56 1A D2 F4 17 27", {"44 5A D8 C8 05 85 8D BF 70 B6 AF 23 A1 51 10 4D"}},
    };
    for (const auto& c : cases) {
        RabbitContext ctx;
        RabbitKeySetup(ctx, FromRfc(c.key));
        if (c.iv != nullptr) {
            Bytes iv = FromRfc(c.iv);
            iv.resize(16);  // the routine takes 16 bytes and uses the first 8
            RabbitIVSetup(ctx, iv);
        }
        for (size_t b = 0; b < c.blocks.size(); ++b)
            EXPECT_EQ(ToHex(Keystream(ctx, 16)), ToHex(FromRfc(c.blocks[b])))
                << "key " << c.key << " iv " << (c.iv ? c.iv : "none") << " block " << b;
    }
}

TEST(SBRabbit, EveryIVSetupStartsFromTheMasterState) {
    std::mt19937 rng(8);
    const Bytes key = kwtest::RandomBytes(rng, 16);
    const Bytes iv = kwtest::RandomBytes(rng, 16);
    RabbitContext ctx;
    RabbitKeySetup(ctx, key);
    const Bytes noIv = Keystream(ctx, 48);

    RabbitIVSetup(ctx, iv);
    const Bytes first = Keystream(ctx, 64);
    Keystream(ctx, 160);  // move on
    RabbitIVSetup(ctx, iv);
    EXPECT_EQ(Keystream(ctx, 64), first);

    // Only the first 8 IV bytes count.
    Bytes otherTail = iv;
    for (size_t i = 8; i < 16; ++i)
        otherTail[i] ^= 0xA5;
    RabbitIVSetup(ctx, otherTail);
    EXPECT_EQ(Keystream(ctx, 64), first);
    Bytes otherHead = iv;
    otherHead[7] ^= 1;
    RabbitIVSetup(ctx, otherHead);
    EXPECT_NE(Keystream(ctx, 64), first);

    // A fresh key setup gives the no-IV stream again.
    RabbitKeySetup(ctx, key);
    EXPECT_EQ(Keystream(ctx, 48), noIv);
}

TEST(SBRabbit, KeySetupLeavesNoRawKeyBehind) {
    // The key halves are needed only while keying; the context keeps the derived state alone.
    const Bytes key = Hex("91 28 13 29 2E 3D 36 FE 3B FC 62 F1 DC 51 C3 AC");
    RabbitContext ctx;
    RabbitKeySetup(ctx, key);
    EXPECT_TRUE(std::all_of(std::begin(ctx.K), std::end(ctx.K), [](uint32_t w) { return w == 0; }));
    EXPECT_TRUE(
        std::any_of(std::begin(ctx.MasterX), std::end(ctx.MasterX), [](uint32_t w) { return w != 0; }));
}

TEST(SBRabbit, WholeStepsPiecewiseAndInPlace) {
    std::mt19937 rng(9);
    const Bytes key = kwtest::RandomBytes(rng, 16);
    const Bytes iv = kwtest::RandomBytes(rng, 16);
    const Bytes plain = kwtest::RandomBytes(rng, 160);

    RabbitContext one;
    RabbitKeySetup(one, key);
    RabbitIVSetup(one, iv);
    Bytes once(plain.size());
    RabbitProcess(one, plain, once);

    RabbitContext pieces;
    RabbitKeySetup(pieces, key);
    RabbitIVSetup(pieces, iv);
    Bytes buf = plain;
    for (size_t from : {0u, 16u, 64u}) {
        const size_t to = from == 0 ? 16 : from == 16 ? 64 : 160;
        std::span<uint8_t> part(buf.data() + from, to - from);
        RabbitProcess(pieces, part, part);  // in place
    }
    EXPECT_EQ(buf, once);

    RabbitContext back;
    RabbitKeySetup(back, key);
    RabbitIVSetup(back, iv);
    RabbitProcess(back, once, buf);
    EXPECT_EQ(buf, plain);
}

TEST(SBRabbit, ErrorsChangeNothing) {
    RabbitContext ctx;
    RabbitKeySetup(ctx, Bytes(16, 3));
    RabbitIVSetup(ctx, Bytes(16, 4));
    const RabbitContext before = ctx;
    struct Case {
        const char* what;
        std::function<void()> call;
        const char* message;
    };
    Bytes a16(16), b32(32), c20(20), d20(20);
    const Case cases[] = {
        {"15-byte key", [&] { RabbitKeySetup(ctx, Bytes(15)); }, "Key must be 16-bytes!"},
        {"17-byte key", [&] { RabbitKeySetup(ctx, Bytes(17)); }, "Key must be 16-bytes!"},
        {"8-byte IV", [&] { RabbitIVSetup(ctx, Bytes(8)); }, "IV-Key must be 16-bytes!"},
        {"16 and 32 bytes", [&] { RabbitProcess(ctx, a16, b32); },
         "Source and Destination data vectors must have the same size!"},
        {"20 and 20 bytes", [&] { RabbitProcess(ctx, c20, d20); },
         "Destination data vector must have length based on 16!"},
    };
    for (const auto& c : cases) {
        try {
            c.call();
            ADD_FAILURE() << c.what << " accepted";
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(e.Message(), c.message) << c.what;
            EXPECT_STREQ(e.ClassName(), "Exception") << c.what;
        }
        EXPECT_EQ(0, std::memcmp(&before, &ctx, sizeof ctx)) << c.what << " changed the context";
    }
    // Two empty arrays: nothing happens.
    Bytes empty;
    RabbitProcess(ctx, empty, empty);
    EXPECT_EQ(0, std::memcmp(&before, &ctx, sizeof ctx));
}

}  // namespace
