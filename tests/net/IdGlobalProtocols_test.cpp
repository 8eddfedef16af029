// Tests of internet dates, host tests and relative paths.
#include "net/IdGlobalProtocols.h"

#include <gtest/gtest.h>

#include <cmath>

#include "rtl/DateTime.h"
#include "support/TestSupport.h"

namespace {

rtl::TDateTime At(int y, int mo, int d, int h, int mi, int s) {
    return rtl::CombineDateTime(rtl::EncodeDate(y, mo, d), rtl::EncodeTime(h, mi, s, 0));
}

// Equal to the second.
void ExpectSameInstant(rtl::TDateTime a, rtl::TDateTime b, const std::string& what) {
    EXPECT_LT(std::fabs(a - b) * 86400.0, 0.5) << what << ": " << rtl::DateTimeToStr(a) << " vs " << rtl::DateTimeToStr(b);
}

TEST(IdGlobalProtocols, DateTimeToGmtText) {
    EXPECT_EQ(DateTimeToGmtText(At(1994, 11, 6, 8, 49, 37)), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(DateTimeToGmtText(At(2026, 12, 8, 22, 47, 48)), "Tue, 08 Dec 2026 22:47:48 GMT");
}

TEST(IdGlobalProtocols, ParsesTheThreeFormsAndLeavesTheZone) {
    struct Row {
        const char* text;
        const char* rest;
    };
    const Row rows[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", "GMT"},
        {"Sunday, 06-Nov-94 08:49:37 GMT", "GMT"},
        {"Sun Nov  6 08:49:37 1994", ""},
        {"Sun,06 Nov 1994 08:49:37 GMT", "GMT"},
        {"06 Nov 1994 08:49:37 +0000", "+0000"},
    };
    for (const Row& r : rows) {
        std::string text = r.text;
        ExpectSameInstant(ParseInternetDate(text), At(1994, 11, 6, 8, 49, 37), r.text);
        EXPECT_EQ(text, r.rest) << r.text;
    }
    std::string pm = "Sun, 06 Nov 1994 08:49:37 PM";
    ExpectSameInstant(ParseInternetDate(pm), At(1994, 11, 6, 20, 49, 37), "PM");
    std::string twelveAm = "Sun, 06 Nov 1994 12:00:00 AM";
    ExpectSameInstant(ParseInternetDate(twelveAm), At(1994, 11, 6, 0, 0, 0), "12 AM");
    std::string y2k = "Mon, 01-Jan-01 00:00:00 GMT";
    ExpectSameInstant(ParseInternetDate(y2k), At(2001, 1, 1, 0, 0, 0), "two-digit year below 80");
    for (const char* bad : {"no date", "", "Sun, 31 Feb 1994 08:49:37 GMT", "Sun, 06 Nov 1994 25:00:00 GMT",
                            "Sun, 06 Xyz 1994 08:49:37 GMT", "Sun, 06 Nov"}) {
        std::string t = bad;
        EXPECT_EQ(ParseInternetDate(t), 0) << bad;
    }
}

TEST(IdGlobalProtocols, ZoneOffsets) {
    ExpectSameInstant(ZoneOffsetToTime("+0200"), 2.0 / 24, "+0200");
    ExpectSameInstant(ZoneOffsetToTime(" -0130 "), -1.5 / 24, "-0130");
    for (const char* zero : {"GMT", "+02", "+2500", "+0260", "x0200", ""}) EXPECT_EQ(ZoneOffsetToTime(zero), 0) << zero;
}

class IdGmtDates : public ::testing::TestWithParam<const char*> {};

TEST_P(IdGmtDates, GmtTextsBecomeLocalTimeWithTheOffsetOfTheirInstant) {
    kwtest::ScopedTZ zone(GetParam());
    const bool berlin = std::string(GetParam()) == "Europe/Berlin";
    // A winter date (UTC+1 in Berlin) and a summer date (UTC+2), whatever today is.
    struct Row {
        const char* text;
        rtl::TDateTime utc;
        int berlinHours;
    };
    const Row rows[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", At(1994, 11, 6, 8, 49, 37), 1},
        {"Sunday, 06-Nov-94 08:49:37 GMT", At(1994, 11, 6, 8, 49, 37), 1},
        {"Sun Nov  6 08:49:37 1994", At(1994, 11, 6, 8, 49, 37), 1},
        {"Wed, 15 Jul 2026 12:00:00 UTC", At(2026, 7, 15, 12, 0, 0), 2},
        // +0200 is two hours earlier in UTC terms than the same text with GMT.
        {"Sun, 06 Nov 1994 08:49:37 +0200", At(1994, 11, 6, 6, 49, 37), 1},
        {"Wed, 15 Jul 2026 12:00:00 -0330", At(2026, 7, 15, 15, 30, 0), 2},
    };
    for (const Row& r : rows) {
        const rtl::TDateTime want = r.utc + (berlin ? r.berlinHours / 24.0 : 0);
        ExpectSameInstant(GmtTextToDateTime(r.text), want, r.text);
    }
    EXPECT_EQ(GmtTextToDateTime("no date"), 0);
    EXPECT_EQ(GmtTextToDateTime(""), 0);
    const rtl::TDateTime now = GetLocalTimeOffset();
    EXPECT_TRUE(berlin ? (std::fabs(now - 1 / 24.0) < 1e-9 || std::fabs(now - 2 / 24.0) < 1e-9) : now == 0);
}

INSTANTIATE_TEST_SUITE_P(Zones, IdGmtDates, ::testing::Values("UTC", "Europe/Berlin"));

TEST(IdGlobalProtocols, NamesHostsAndSearches) {
    EXPECT_EQ(DayNameIndex("sun"), 1);
    EXPECT_EQ(DayNameIndex("SAT"), 7);
    EXPECT_EQ(DayNameIndex("Sunday"), 0);
    EXPECT_EQ(MonthNameIndex("dec"), 12);
    EXPECT_EQ(MonthNameIndex("Foo"), 0);
    EXPECT_TRUE(IsHostName("alpha.beta"));
    EXPECT_FALSE(IsHostName("10.0.0.1"));
    EXPECT_FALSE(IsHostName(".beta"));
    EXPECT_TRUE(IsIPv4TextTrimmed(" 1.2.3.4 "));
    EXPECT_TRUE(IsIPv4TextTrimmed("1.2.3.4.junk"));
    EXPECT_FALSE(IsIPv4TextTrimmed("1.2.3"));
    EXPECT_FALSE(IsIPv4TextTrimmed("1.2.3.256"));
    EXPECT_EQ(DomainPart("www.example.com"), ".example.com");
    EXPECT_EQ(DomainPart("localhost"), "localhost");
    EXPECT_EQ(RPosText("ab", "abXab"), 4);
    EXPECT_EQ(RPosText("AB", "xxab"), 3);
    EXPECT_EQ(RPosText("ab", "abXab", 3), 1);
    EXPECT_EQ(RPosText("zz", "abXab"), 0);
    EXPECT_EQ(RPosText("", "abXab"), 0);
    EXPECT_EQ(RightChars("abcdef", 2), "ef");
    EXPECT_EQ(RightChars("ab", 5), "ab");
    EXPECT_EQ(RightChars("ab", -1), "ab");
    EXPECT_FALSE(IsLeadByte(0xC3));
}

TEST(IdGlobalProtocols, ResolveRelativePathTable) {
    struct Row {
        const char* base;
        const char* path;
        const char* result;
    };
    const Row rows[] = {
        {"/a/b/", "../c", "/a/c"},
        {"/a/b", "c/", "/a/b/c/"},
        {"/a", "/x", "/x"},
        {"/a/b/", "../../c", "/c"},
        {"/a/b/", "../../../c", "/c"},
        {"/a/b/", "", "/a/b/"},
        {"/a/b", "c", "/a/b/c"},
        {"", "c", "c"},
        {"/a//b/", "c", "/a/b/c"},
        {"/a/b/", "c/../d", "/a/b/d"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(ResolveRelativePath(r.base, r.path, '/'), r.result) << r.base << " + " << r.path;
}

}  // namespace
