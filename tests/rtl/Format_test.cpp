// Format directives as the original's format routine gives them, and the mismatch errors.
#include <gtest/gtest.h>

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
        {rtl::Format("%.0f", 2.5), "2"},
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
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
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

}  // namespace
