// ASN.1 time texts (UTCTime, GeneralizedTime) with their offsets, the generalized-time writer,
// and the local-to-UTC conversion under TZ=UTC and under zones with daylight saving.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "crypto/base/SBUtils.h"
#include "rtl/DateTime.h"
#include "support/TestSupport.h"

namespace {

using kwtest::ScopedTZ;

std::string Fields(double dt) {
    int y, mo, d, h, mi, s, ms;
    rtl::DecodeDate(dt, y, mo, d);
    rtl::DecodeTime(dt, h, mi, s, ms);
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%04d-%02d-%02d %02d:%02d:%02d.%03d", y, mo, d, h, mi, s, ms);
    return buf;
}

double At(int y, int mo, int d, int h, int mi, int s = 0, int ms = 0) {
    return rtl::CombineDateTime(rtl::EncodeDate(y, mo, d), rtl::EncodeTime(h, mi, s, ms));
}

}  // namespace

TEST(SBUtilsTime, UTCTimeTexts) {
    struct Case {
        const char* text;
        const char* want;
    } cases[] = {
        {"491231235959Z", "2049-12-31 23:59:59.000"},
        {"500101000000Z", "1950-01-01 00:00:00.000"},
        {"000229120000Z", "2000-02-29 12:00:00.000"},
        // Without seconds.
        {"2401021530Z", "2024-01-02 15:30:00.000"},
        // Offsets are applied: the value is UTC.
        {"240102153000+0130", "2024-01-02 14:00:00.000"},
        {"240102153000-0500", "2024-01-02 20:30:00.000"},
        {"240101003000+0100", "2023-12-31 23:30:00.000"},
        {"2401021530-0030", "2024-01-02 16:00:00.000"},
        // No zone designator: taken as it stands.
        {"240102153000", "2024-01-02 15:30:00.000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Fields(UTCTimeToDateTime(c.text)), c.want);
    }
    EXPECT_EQ(UTCTimeToDateTime("49123"), 0.0);
    EXPECT_EQ(UTCTimeToDateTime(""), 0.0);
}

TEST(SBUtilsTime, GeneralizedTimeTexts) {
    struct Case {
        const char* text;
        const char* want;
    } cases[] = {
        {"20240229123456Z", "2024-02-29 12:34:56.000"},
        {"20240229123456.789Z", "2024-02-29 12:34:56.789"},
        {"20240229123456.5Z", "2024-02-29 12:34:56.500"},
        {"20240229123456.78912Z", "2024-02-29 12:34:56.789"},
        {"19991231235959+0200", "1999-12-31 21:59:59.000"},
        {"20000101000000.250-0100", "2000-01-01 01:00:00.250"},
        {"20500101000000Z", "2050-01-01 00:00:00.000"},
        {"00010101000000Z", "0001-01-01 00:00:00.000"},
        {"2024022912Z", "2024-02-29 12:00:00.000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Fields(GeneralizedTimeToDateTime(c.text)), c.want);
    }
}

TEST(SBUtilsTime, InvalidCalendarValuesRaise) {
    for (const char* bad :
         {"20241301000000Z", "20240230000000Z", "20240101250000Z", "20240101006000Z", "20240101000060Z",
          "00000101000000Z", "20240101000000+2400", "20240101000000+01"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(GeneralizedTimeToDateTime(bad), rtl::EConvertError);
    }
    EXPECT_THROW(UTCTimeToDateTime("241301000000Z"), rtl::EConvertError);
    EXPECT_THROW(UTCTimeToDateTime("240230000000Z"), rtl::EConvertError);
}

TEST(SBUtilsTime, GeneralizedTimeRoundTrips) {
    const double values[] = {At(2024, 2, 29, 12, 34, 56),  At(1950, 1, 1, 0, 0),
                             At(2049, 12, 31, 23, 59, 59), At(1, 1, 1, 0, 0),
                             At(9999, 12, 31, 23, 59, 59), At(1899, 12, 29, 6, 0)};
    for (const double v : values) {
        const std::string text = DateTimeToGeneralizedTime(v);
        SCOPED_TRACE(text);
        EXPECT_EQ(text.size(), 15u);
        EXPECT_EQ(text.back(), 'Z');
        EXPECT_EQ(Fields(GeneralizedTimeToDateTime(text)), Fields(v));
    }
    EXPECT_EQ(DateTimeToGeneralizedTime(At(2024, 2, 29, 12, 34, 56, 999)), "20240229123456Z");
    EXPECT_EQ(DateTimeToGeneralizedTime(At(33, 7, 4, 1, 2, 3)), "00330704010203Z");
    // A UTCTime read and written as generalized time.
    EXPECT_EQ(DateTimeToGeneralizedTime(UTCTimeToDateTime("491231235959Z")), "20491231235959Z");
    EXPECT_EQ(DateTimeToGeneralizedTime(UTCTimeToDateTime("990101000000+0100")), "19981231230000Z");
}

TEST(SBUtilsTime, LocalToUTCUsesTheOffsetInForceAtThatInstant) {
    struct Case {
        const char* zone;
        double local;
        const char* utc;
    } cases[] = {
        {"UTC", At(2024, 1, 15, 12, 0), "2024-01-15 12:00:00.000"},
        {"UTC", At(2024, 7, 15, 12, 0, 30, 250), "2024-07-15 12:00:30.250"},
        // Central European: +1 in winter, +2 in summer.
        {"CET-1CEST,M3.5.0,M10.5.0/3", At(2024, 1, 15, 12, 0), "2024-01-15 11:00:00.000"},
        {"CET-1CEST,M3.5.0,M10.5.0/3", At(2024, 7, 15, 12, 0), "2024-07-15 10:00:00.000"},
        {"CET-1CEST,M3.5.0,M10.5.0/3", At(2024, 1, 1, 0, 30), "2023-12-31 23:30:00.000"},
        // US Eastern: -5 in winter, -4 in summer.
        {"EST5EDT,M3.2.0,M11.1.0", At(2024, 1, 15, 12, 0), "2024-01-15 17:00:00.000"},
        {"EST5EDT,M3.2.0,M11.1.0", At(2024, 7, 15, 12, 0), "2024-07-15 16:00:00.000"},
        // A zone east of UTC by a fraction of an hour.
        {"IST-5:30", At(2024, 7, 15, 12, 0), "2024-07-15 06:30:00.000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.zone) + " " + Fields(c.local));
        ScopedTZ tz(c.zone);
        EXPECT_EQ(Fields(LocalTimeToUTCTime(c.local)), c.utc);
    }
}

TEST(SBUtilsTime, ParsedTextsDoNotDependOnTheLocalZone) {
    for (const char* zone : {"UTC", "CET-1CEST,M3.5.0,M10.5.0/3", "EST5EDT,M3.2.0,M11.1.0"}) {
        SCOPED_TRACE(zone);
        ScopedTZ tz(zone);
        EXPECT_EQ(Fields(GeneralizedTimeToDateTime("20240715120000+0200")), "2024-07-15 10:00:00.000");
        EXPECT_EQ(Fields(UTCTimeToDateTime("240715120000Z")), "2024-07-15 12:00:00.000");
        EXPECT_EQ(DateTimeToGeneralizedTime(GeneralizedTimeToDateTime("20240715120000Z")), "20240715120000Z");
    }
}

// 99991231235959Z, the usual "never expires" date of a certificate, and the first and last
// days of the range convert between local time and UTC without wrapping (a nanosecond time
// point ends in 2262 and read 9999 as 1816).
TEST(SBUtilsTime, LocalToUTCHoldsTheWholeRange) {
    ScopedTZ tz("<-03>3");
    const double never = GeneralizedTimeToDateTime("99991231235959Z");
    EXPECT_EQ(Fields(never), "9999-12-31 23:59:59.000");
    EXPECT_EQ(Fields(LocalTimeToUTCTime(At(9999, 12, 31, 20, 59, 59))), "9999-12-31 23:59:59.000");
    EXPECT_EQ(Fields(LocalTimeToUTCTime(At(2263, 1, 1, 0, 0))), "2263-01-01 03:00:00.000");
    EXPECT_EQ(Fields(LocalTimeToUTCTime(At(1600, 6, 1, 12, 0))), "1600-06-01 15:00:00.000");
    EXPECT_EQ(Fields(LocalTimeToUTCTime(At(1, 1, 1, 12, 0))), "0001-01-01 15:00:00.000");
}
