// Password descrambling: known pairs, a round trip through a scrambler written from the rule
// (pad to 20 with blanks, reverse each group of four, add the key), long and short values.
#include "common/ukwUpdCriptografia.h"

#include <gtest/gtest.h>

#include <random>

#include "support/TestSupport.h"

namespace {

using kwtest::ScramblePassword;

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
            EXPECT_EQ(Descriptografe(ScramblePassword(claro)), claro) << n;
        }
    }
    // Blanks around a password are lost, as the scrambled form pads with them.
    EXPECT_EQ(Descriptografe(ScramblePassword("  ab  ")), "ab");
}

TEST(Descriptografe, OnlyTheFirstTwentyBytesCount) {
    const std::string e = ScramblePassword("segredo");
    EXPECT_EQ(Descriptografe(e + "resto que nao conta"), "segredo");
}

TEST(Descriptografe, AShortValueIsReadOnlyAsFarAsItGoes) {
    // The missing positions are the padding's blanks: a scrambled value cut after its text
    // gives the same password as the whole value.
    const std::string e = ScramblePassword("abcdefg");
    const std::string brancos = ScramblePassword("");  // the padding alone
    for (size_t n = 0; n < 20; ++n) {
        const std::string curto = e.substr(0, n);
        const std::string completo = curto + brancos.substr(n);
        EXPECT_EQ(Descriptografe(curto), Descriptografe(completo)) << n;
    }
    EXPECT_EQ(Descriptografe(e.substr(0, 8)), "abcdefg");
    EXPECT_EQ(Descriptografe(""), "");
}

}  // namespace
