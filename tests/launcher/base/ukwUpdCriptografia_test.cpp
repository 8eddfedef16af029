// Password descrambling: known pairs, a round trip through a scrambler written from the rule
// (pad to 20 with blanks, reverse each group of four, add the key), long and short values.
#include "launcher/base/ukwUpdCriptografia.h"

#include <gtest/gtest.h>

#include <random>

namespace {

const std::string kChave = "k3mq8zrwd0vhx5ntpa2c";

std::string Embaralhe(std::string claro) {
    claro.resize(20, ' ');
    std::string r;
    for (size_t g = 0; g < 20; g += 4)
        for (size_t k = 4; k > 0; --k)
            r += claro[g + k - 1];
    for (size_t i = 0; i < 20; ++i)
        r[i] = char(uint8_t(uint8_t(r[i]) + uint8_t(kChave[i])));
    return r;
}

TEST(Descriptografe, KnownPairs) {
    struct C {
        std::string embaralhado, claro;
    };
    const C cases[] = {
        {"\xD3\xA1\xD2\xE4\x58\x9A\x92\xD8\x84\x50\x96\x88\x98\x55\x8E\x94\x90\x81\x52\x83", "senha"},
        {"\x9C\x96\xCF\xD2\x58\x9A\xA5\xA9\x84\x50\x96\x88\x98\x55\x8E\x94\x90\x81\x52\x83", "abc123"},
        {"\xE3\xAB\xE5\xE9\xB0\xF2\xEA\xEF\xDC\xA8\xEE\xE0\xF0\xAD\xE6\xEC\xE8\xD9\xAA\xDB",
         std::string(20, 'x')},
    };
    for (const C& c : cases)
        EXPECT_EQ(Descriptografe(c.embaralhado), c.claro);
}

TEST(Descriptografe, RoundTripForEveryLength) {
    std::mt19937 rng(7);
    for (size_t n = 1; n <= 20; ++n) {
        for (int vez = 0; vez < 20; ++vez) {
            std::string claro;
            for (size_t i = 0; i < n; ++i)
                claro += char(33 + rng() % 223);  // no blank at either end, bytes above 127 too
            if (n > 2) claro[n / 2] = ' ';        // a blank inside stays
            EXPECT_EQ(Descriptografe(Embaralhe(claro)), claro) << n;
        }
    }
    // Blanks around a password are lost, as the scrambled form pads with them.
    EXPECT_EQ(Descriptografe(Embaralhe("  ab  ")), "ab");
}

TEST(Descriptografe, OnlyTheFirstTwentyBytesCount) {
    const std::string e = Embaralhe("segredo");
    EXPECT_EQ(Descriptografe(e + "resto que nao conta"), "segredo");
}

TEST(Descriptografe, AShortValueIsReadOnlyAsFarAsItGoes) {
    // The missing positions are the padding's blanks: a scrambled value cut after its text
    // gives the same password as the whole value.
    const std::string e = Embaralhe("abcdefg");
    for (size_t n = 0; n < 20; ++n) {
        const std::string curto = e.substr(0, n);
        std::string completo = curto;
        for (size_t i = n; i < 20; ++i)
            completo += char(uint8_t(' ' + uint8_t(kChave[i])));
        EXPECT_EQ(Descriptografe(curto), Descriptografe(completo)) << n;
    }
    EXPECT_EQ(Descriptografe(e.substr(0, 8)), "abcdefg");
    EXPECT_EQ(Descriptografe(""), "");
}

}  // namespace
