// Format directives as the original's format routine gives them, and the mismatch errors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "rtl/Exception.h"
#include "rtl/Format.h"

namespace {

TEST(Format, Directives) {
    struct Case {
        std::string got, want;
    };
    const Case cases[] = {
        {rtl::Format("%s e %s", "a", std::string("b")), "a e b"},
        {rtl::Format("%d", -42), "-42"},
        {rtl::Format("%.3d", 7), "007"},
        {rtl::Format("%.3d", -7), "-007"},
        {rtl::Format("%.2d/%.2d/%.4d", 5, 3, 2026), "05/03/2026"},
        {rtl::Format("%5d|%-5d|", 42, 42), "   42|42   |"},
        {rtl::Format("%u", 4000000000u), "4000000000"},
        {rtl::Format("%u", -1), "4294967295"},
        {rtl::Format("%x", 255), "FF"},
        {rtl::Format("%.8x", 0xBEEFu), "0000BEEF"},
        {rtl::Format("%.2x", 10), "0A"},
        {rtl::Format("%x", -1), "FFFFFFFF"},
        {rtl::Format("%.2f", 3.14159), "3.14"},
        {rtl::Format("%f", 2.5), "2.50"},
        {rtl::Format("%.0f", 2.5), "3"},  // a tie rounds away from zero, as the original does
        {rtl::Format("%n", 1234567.891), "1,234,567.89"},
        {rtl::Format("%e", 1234.5), "1.23450000000000E+003"},
        {rtl::Format("%g", 1234.5), "1234.5"},
        {rtl::Format("%g", 0.000001), "1E-6"},
        {rtl::Format("%.3s", "abcdef"), "abc"},
        {rtl::Format("%8s|%-8s|", "ab", "cd"), "      ab|cd      |"},
        {rtl::Format("100%%"), "100%"},
        {rtl::Format("%1:s %0:s", "a", "b"), "b a"},
        {rtl::Format("%*d", 4, 7), "   7"},
        {rtl::Format("%.*d", 4, 7), "0007"},
        {rtl::Format("%s", 'c'), "c"},
        {rtl::Format("%D e %S", 1, "x"), "1 e x"},
        {rtl::Format("sem argumentos"), "sem argumentos"},
        {rtl::Format("%s", "extra ignorado", 1), "extra ignorado"},
        {rtl::Format("%d", int64_t(-9000000000)), "-9000000000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.got, c.want);
}

TEST(Format, DecimalSeparatorFromSettings) {
    const auto saved = rtl::FormatSettings;
    rtl::FormatSettings.DecimalSeparator = ',';
    rtl::FormatSettings.ThousandSeparator = '.';
    EXPECT_EQ(rtl::Format("%.2f", 1.5), "1,50");
    EXPECT_EQ(rtl::Format("%n", 1234.5), "1.234,50");
    rtl::FormatSettings = saved;
}

TEST(Format, MismatchRaises) {
    EXPECT_THROW(rtl::Format("%d", "texto"), rtl::EConvertError);
    EXPECT_THROW(rtl::Format("%s", 12), rtl::EConvertError);
    EXPECT_THROW(rtl::Format("%f", 12), rtl::EConvertError);
    EXPECT_THROW(rtl::Format("%s %s", "só um"), rtl::EConvertError);
    EXPECT_THROW(rtl::Format("%d"), rtl::EConvertError);
    EXPECT_THROW(rtl::Format("%q", 1), rtl::EConvertError);
    EXPECT_THROW(rtl::Format("fim %"), rtl::EConvertError);
    EXPECT_THROW(rtl::Format("%5:s", "a"), rtl::EConvertError);
    try {
        rtl::Format("%d", "x");
        FAIL();
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "Format '%d' invalid or incompatible with argument");
        EXPECT_STREQ(e.ClassName(), "EConvertError");
    }
}

TEST(Format, IntegersAtTheirLimits) {
    struct Case {
        std::string got, want;
    };
    const Case cases[] = {
        {rtl::Format("%d", std::numeric_limits<int64_t>::min()), "-9223372036854775808"},
        {rtl::Format("%d", std::numeric_limits<int64_t>::max()), "9223372036854775807"},
        {rtl::Format("%.21d", std::numeric_limits<int64_t>::min()), "-009223372036854775808"},
        {rtl::Format("%d", std::numeric_limits<int32_t>::min()), "-2147483648"},
        {rtl::Format("%u", std::numeric_limits<int32_t>::min()), "2147483648"},
        {rtl::Format("%u", std::numeric_limits<uint64_t>::max()), "18446744073709551615"},
        {rtl::Format("%d", std::numeric_limits<uint64_t>::max()), "18446744073709551615"},
        {rtl::Format("%x", std::numeric_limits<int64_t>::min()), "8000000000000000"},
        {rtl::Format("%x", std::numeric_limits<int32_t>::min()), "80000000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.got, c.want);
}

TEST(Format, TiesRoundAwayFromZero) {
    // Only values exactly half-way (representable in binary) are ties; 1.005 and 2.675 lie
    // just below their halves as doubles and round down, whatever the text suggests.
    struct Case {
        const char* pattern;
        double value;
        const char* want;
    };
    const Case cases[] = {
        {"%.0f", 0.5, "1"},
        {"%.0f", 1.5, "2"},
        {"%.0f", 2.5, "3"},
        {"%.0f", -2.5, "-3"},
        {"%.1f", 0.25, "0.3"},
        {"%.1f", -0.25, "-0.3"},
        {"%.2f", 0.125, "0.13"},
        {"%.2f", 1.005, "1.00"},
        {"%.2f", 2.675, "2.67"},
        {"%.3f", 1.0005, "1.000"},
        {"%.0n", 1234567.5, "1,234,568"},
        {"%.4f", 0.00005, "0.0001"},
        {"%.2f", 0.375, "0.38"},
        {"%.0f", 4.0, "4"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rtl::Format(c.pattern, c.value), c.want) << c.pattern << " " << c.value;
}

TEST(Format, HugeValuesAndPrecisionsAreNeverCut) {
    // 1e308 has 309 integer digits; with 100 decimals the text runs past any small buffer.
    const std::string wide = rtl::Format("%.100f", 1e308);
    ASSERT_EQ(wide.size(), 309u + 1u + 100u);
    const std::string plain = std::to_string(1e308);  // "<integer digits>.000000"
    EXPECT_EQ(wide.substr(0, 309), plain.substr(0, 309));
    EXPECT_EQ(wide.substr(309), "." + std::string(100, '0'));
    EXPECT_EQ(rtl::Format("%n", -1e20), "-100,000,000,000,000,000,000.00");

    const std::string manyDigits = rtl::Format("%.60e", 1.0);
    EXPECT_EQ(manyDigits, "1." + std::string(59, '0') + "E+000");
    EXPECT_EQ(rtl::Format("%.3e", -1e-300), "-1.00E-300");

    const std::string longest = rtl::Format("%.100000f", 0.5);
    EXPECT_EQ(longest.size(), 100002u);
    EXPECT_EQ(longest.substr(0, 4), "0.50");
}

TEST(Format, WidthsAndPrecisionsAreBounded) {
    EXPECT_EQ(rtl::Format("%*d", 100000, 1).size(), 100000u);
    EXPECT_EQ(rtl::Format("%-*s|", 3, "a"), "a  |");
    EXPECT_EQ(rtl::Format("%*d", -4, 7), "7");  // a negative width pads nothing
    const struct {
        const char* pattern;
        int64_t number;
    } refused[] = {
        {"%*d", 100001},
        {"%.*d", 100001},
        {"%.*f", 200000},
        {"%*d", (int64_t(1) << 32) + 3},  // not taken as 3
        {"%*d", std::numeric_limits<int64_t>::min()},
    };
    for (const auto& c : refused)
        EXPECT_THROW(rtl::Format(c.pattern, c.number, 1), rtl::EConvertError) << c.number;
    EXPECT_THROW(rtl::Format("%*d", uint64_t(1) << 40, 1), rtl::EConvertError);
    EXPECT_THROW(rtl::Format("%100001d", 1), rtl::EConvertError);
    EXPECT_THROW(rtl::Format("%*d", "x", 1), rtl::EConvertError);
}

TEST(Format, NoNumberShowsTheSameUnderEveryFloatDirective) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const char* p : {"%f", "%.3f", "%n", "%e", "%g"}) {
        EXPECT_EQ(rtl::Format(p, nan), "NAN") << p;
        EXPECT_EQ(rtl::Format(p, inf), "INF") << p;
        EXPECT_EQ(rtl::Format(p, -inf), "-INF") << p;
    }
    EXPECT_EQ(rtl::Format("%6f|", nan), "   NAN|");
    EXPECT_EQ(rtl::FloatToStr(-inf), "-INF");
}

TEST(Format, TextsCountCharactersNotBytes) {
    struct Case {
        std::string got, want;
    };
    const Case cases[] = {
        {rtl::Format("%.2s", "ação"), "aç"},  // never half of "ç"
        {rtl::Format("%.3s", "€€€€"), "€€€"},
        {rtl::Format("%5s|", "ação"), " ação|"},
        {rtl::Format("%-6s|", "é"), "é     |"},
        {rtl::Format("%.1s", "\xE9x"), "\xE9"},  // a Latin-1 byte is one character
        {rtl::Format("%.0s|", "ação"), "|"},
        {rtl::Format("%.10s", "ação"), "ação"},
        {rtl::Format("%3s|", "ação"), "ação|"},  // longer than the width: unchanged
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.got, c.want);
}

}  // namespace
