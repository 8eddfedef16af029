// TDateTime: calendar encoding over the whole range, values before 1899, rounding to whole
// milliseconds, time stamps, time points in UTC and local time, and the text forms.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <random>

#include "rtl/DateTime.h"
#include "rtl/Exception.h"
#include "rtl/Format.h"
#include "support/TestSupport.h"

namespace {

using namespace std::chrono;

using kwtest::ScopedTZ;

// Sets the separators for one test.
class ScopedSeparators {
public:
    ScopedSeparators(char date, char time) : saved_(rtl::FormatSettings) {
        rtl::FormatSettings.DateSeparator = date;
        rtl::FormatSettings.TimeSeparator = time;
    }
    ~ScopedSeparators() { rtl::FormatSettings = saved_; }

private:
    rtl::FormatSettingsRec saved_;
};

struct Civil {
    int y, m, d, h, n, s, ms;
    bool operator==(const Civil&) const = default;
};

Civil Decode(rtl::TDateTime dt) {
    Civil c{};
    rtl::DecodeDate(dt, c.y, c.m, c.d);
    rtl::DecodeTime(dt, c.h, c.n, c.s, c.ms);
    return c;
}

std::string Show(const Civil& c) {
    return rtl::Format("%.4d-%.2d-%.2d %.2d:%.2d:%.2d.%.3d", c.y, c.m, c.d, c.h, c.n, c.s, c.ms);
}

TEST(DateTime, EveryDayOfTheRangeIsOneAfterTheOther) {
    // Walk the calendar by its own rules (month lengths, leap years) and check that the
    // encoding counts one per day, decodes back, and that the week cycles.
    EXPECT_EQ(rtl::EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(rtl::DayOfWeek(0.0), 7);  // 30 December 1899 was a Saturday
    int y = 1, m = 1, d = 1;
    double expected = rtl::EncodeDate(1, 1, 1);
    EXPECT_EQ(expected, rtl::MinDateTime);
    int dow = rtl::DayOfWeek(expected);
    EXPECT_EQ(dow, 2);  // 1 January of year 1 in the proleptic Gregorian calendar: a Monday
    long days = 0;
    for (;;) {
        const double dt = rtl::EncodeDate(y, m, d);
        ASSERT_EQ(dt, expected) << y << "-" << m << "-" << d;
        int yy, mm, dd;
        rtl::DecodeDate(dt, yy, mm, dd);
        ASSERT_TRUE(yy == y && mm == m && dd == d) << y << "-" << m << "-" << d;
        ASSERT_EQ(rtl::DayOfWeek(dt), dow);
        ++days;
        expected += 1;
        dow = dow % 7 + 1;
        const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
        const int monthDays[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        ASSERT_EQ(rtl::DaysInMonth(y, m), monthDays[m - 1]);
        ASSERT_EQ(rtl::IsLeapYear(y), leap);
        if (++d > monthDays[m - 1]) {
            d = 1;
            if (++m > 12) {
                m = 1;
                if (++y > 9999) break;
            }
        }
    }
    EXPECT_EQ(days, 3652059);
    EXPECT_EQ(std::floor(rtl::MaxDateTime), rtl::EncodeDate(9999, 12, 31));
}

TEST(DateTime, InvalidArgumentsRaise) {
    struct DateCase {
        int y, m, d;
    };
    const DateCase dates[] = {{0, 1, 1},     {10000, 1, 1}, {2023, 2, 29}, {1900, 2, 29}, {2024, 2, 30},
                              {2024, 13, 1}, {2024, 0, 1},  {2024, 1, 0},  {2024, 4, 31}, {-5, 1, 1}};
    for (const auto& c : dates) {
        EXPECT_THROW(rtl::EncodeDate(c.y, c.m, c.d), rtl::EConvertError) << c.y << "-" << c.m << "-" << c.d;
        double r = 123;
        EXPECT_FALSE(rtl::TryEncodeDate(c.y, c.m, c.d, r));
        EXPECT_EQ(r, 123);
    }
    EXPECT_NO_THROW(rtl::EncodeDate(2000, 2, 29));
    EXPECT_NO_THROW(rtl::EncodeDate(2024, 2, 29));

    struct TimeCase {
        int h, n, s, ms;
    };
    const TimeCase times[] = {{24, 0, 0, 0},   {23, 60, 0, 0}, {0, 0, 60, 0},
                              {0, 0, 0, 1000}, {-1, 0, 0, 0},  {0, -1, 0, 0}};
    for (const auto& c : times)
        EXPECT_THROW(rtl::EncodeTime(c.h, c.n, c.s, c.ms), rtl::EConvertError);
    try {
        rtl::EncodeDate(2023, 2, 29);
    } catch (const rtl::EConvertError& e) {
        EXPECT_EQ(e.Message(), "Invalid argument to date encode");
    }

    // Values that are no date at all raise instead of producing nonsense.
    const double bad[] = {std::numeric_limits<double>::quiet_NaN(),
                          std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity(),
                          1e300,
                          -1e300,
                          rtl::MaxDateTime + 1,
                          rtl::MinDateTime - 1};
    for (double v : bad) {
        int a, b, c, d;
        EXPECT_THROW(rtl::DecodeDate(v, a, b, c), rtl::EConvertError) << v;
        EXPECT_THROW(rtl::DecodeTime(v, a, b, c, d), rtl::EConvertError) << v;
        EXPECT_THROW(rtl::DateTimeToStr(v), rtl::EConvertError) << v;
        EXPECT_THROW(rtl::TimePointFromDateTime(v, true), rtl::EConvertError) << v;
    }
    EXPECT_EQ(Decode(rtl::MaxDateTime), (Civil{9999, 12, 31, 23, 59, 59, 999}));
    EXPECT_EQ(Decode(rtl::MinDateTime), (Civil{1, 1, 1, 0, 0, 0, 0}));
}

TEST(DateTime, ValuesBefore1899CountDaysBackAndTimeForward) {
    // The whole part counts days back from 1899-12-30 while the fraction is the time of day:
    // a date-time before then is the date minus the time.
    struct Case {
        Civil civil;
    };
    const Civil cases[] = {
        {1899, 12, 29, 6, 0, 0, 0}, {1899, 12, 29, 0, 0, 0, 0},      {1899, 12, 30, 6, 0, 0, 0},
        {1, 1, 1, 12, 0, 0, 0},     {1, 1, 1, 23, 59, 59, 999},      {1500, 6, 15, 18, 30, 15, 250},
        {1899, 12, 31, 0, 0, 0, 1}, {1899, 12, 29, 23, 59, 59, 999},
    };
    for (const auto& c : cases) {
        const double date = rtl::EncodeDate(c.y, c.m, c.d);
        const double time = rtl::EncodeTime(c.h, c.n, c.s, c.ms);
        const double dt = rtl::CombineDateTime(date, time);
        EXPECT_EQ(dt, date < 0 ? date - time : date + time);
        EXPECT_EQ(Decode(dt), c) << Show(c);
    }
    EXPECT_EQ(Decode(-1.25), (Civil{1899, 12, 29, 6, 0, 0, 0}));
    // Between -1 and 0 the day is still the 30th: the fraction's sign does not move the date.
    EXPECT_EQ(Decode(-0.25), (Civil{1899, 12, 30, 6, 0, 0, 0}));
}

TEST(DateTime, RoundsToWholeMillisecondsWithoutAHour24) {
    const double day = rtl::EncodeDate(2020, 2, 28);
    struct Case {
        double msOfDay;  // fractional milliseconds after midnight
        Civil expected;
    };
    const Case cases[] = {
        {86399999.4, {2020, 2, 28, 23, 59, 59, 999}},
        {86399999.6, {2020, 2, 29, 0, 0, 0, 0}},  // rounds into the next day, not to 24:00
        {43199999.7, {2020, 2, 28, 12, 0, 0, 0}},
        {0.4, {2020, 2, 28, 0, 0, 0, 0}},
        {1234.5001, {2020, 2, 28, 0, 0, 1, 235}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Decode(day + c.msOfDay / 86400000.0), c.expected) << c.msOfDay;

    // Every millisecond of a day, encoded and decoded, comes back unchanged, at both ends of
    // the range.
    for (const int year : {1, 1899, 2024, 9999}) {
        const double d = rtl::EncodeDate(year, year == 1899 ? 12 : 1, year == 1899 ? 29 : 1);
        for (int ms = 0; ms < 86400000; ms += 997) {
            const double dt = rtl::CombineDateTime(
                d, rtl::EncodeTime(ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000));
            const rtl::TTimeStamp ts = rtl::DateTimeToTimeStamp(dt);
            ASSERT_EQ(ts.Time, ms) << year;
            ASSERT_EQ(rtl::TimeStampToDateTime(ts), dt);
        }
    }
}

TEST(DateTime, RoundingBefore1899CarriesForwardToo) {
    // Before 1899-12-30 the value is the date minus the time; a time that rounds up to 24:00
    // is still midnight of the next calendar day, never a day further back.
    struct Case {
        int y, m, d;     // the date whose time is given
        double msOfDay;  // fractional milliseconds after its midnight
        Civil expected;
    };
    const Case cases[] = {
        {1899, 12, 29, 86399999.6, {1899, 12, 30, 0, 0, 0, 0}},
        {1899, 12, 29, 86399999.4, {1899, 12, 29, 23, 59, 59, 999}},
        {1899, 12, 28, 86399999.6, {1899, 12, 29, 0, 0, 0, 0}},
        {1500, 6, 15, 86399999.9, {1500, 6, 16, 0, 0, 0, 0}},
        {1500, 12, 31, 86399999.7, {1501, 1, 1, 0, 0, 0, 0}},
        {1, 1, 1, 86399999.6, {1, 1, 2, 0, 0, 0, 0}},
        {1899, 12, 29, 43199999.7, {1899, 12, 29, 12, 0, 0, 0}},
        {1899, 12, 29, 0.4, {1899, 12, 29, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        const double dt = rtl::EncodeDate(c.y, c.m, c.d) - c.msOfDay / 86400000.0;
        EXPECT_EQ(Decode(dt), c.expected) << Show(c.expected) << " from " << c.msOfDay;
    }
    // Between -1 and 0 the day is the 30th: its last instant rounds into the 31st.
    EXPECT_EQ(Decode(-86399999.6 / 86400000.0), (Civil{1899, 12, 31, 0, 0, 0, 0}));
    EXPECT_EQ(Decode(-0.9999999999), (Civil{1899, 12, 31, 0, 0, 0, 0}));
    EXPECT_EQ(Decode(-1.9999999999), (Civil{1899, 12, 30, 0, 0, 0, 0}));
    EXPECT_EQ(rtl::DateTimeToStr(-1.9999999999), "30/12/1899 00:00:00");
}

TEST(DateTime, TimeStamps) {
    const rtl::TTimeStamp zero = rtl::DateTimeToTimeStamp(0.0);
    EXPECT_EQ(zero.Date, rtl::DateDelta);
    EXPECT_EQ(zero.Time, 0);
    EXPECT_EQ(rtl::DateTimeToTimeStamp(rtl::MinDateTime).Date, 1);

    std::mt19937_64 gen(11);
    std::uniform_real_distribution<double> any(rtl::MinDateTime, rtl::MaxDateTime);
    for (int i = 0; i < 20000; ++i) {
        const double dt = any(gen);
        const rtl::TTimeStamp ts = rtl::DateTimeToTimeStamp(dt);
        const double ms = rtl::TimeStampToMSecs(ts);
        const rtl::TTimeStamp back = rtl::MSecsToTimeStamp(ms);
        ASSERT_EQ(back.Date, ts.Date);
        ASSERT_EQ(back.Time, ts.Time);
        ASSERT_EQ(Decode(rtl::TimeStampToDateTime(ts)), Decode(dt));
        // The one-step reading gives the very same number, before 1899-12-30 too.
        ASSERT_EQ(rtl::MSecsToDateTime(ms), rtl::TimeStampToDateTime(back)) << ms;
    }
    // {time, date}: the first instant of 1899-12-30, the last before it, the first and the last.
    for (const rtl::TTimeStamp ts : {rtl::TTimeStamp{0, rtl::DateDelta}, rtl::TTimeStamp{86399999, rtl::DateDelta - 1},
                                     rtl::TTimeStamp{0, 1}, rtl::TTimeStamp{86399999, 3652059}})
        EXPECT_EQ(rtl::MSecsToDateTime(rtl::TimeStampToMSecs(ts)), rtl::TimeStampToDateTime(ts)) << ts.Date;

    const rtl::TTimeStamp bad[] = {{0, 0}, {0, -5}, {-1, 700000}, {86400000, 700000}, {0, 3652060}};
    for (const auto& ts : bad)
        EXPECT_THROW(rtl::TimeStampToDateTime(ts), rtl::EConvertError);
    try {
        rtl::TimeStampToDateTime({5, 0});
    } catch (const rtl::EConvertError& e) {
        EXPECT_EQ(e.Message(), "'0.5' is not a valid timestamp");
    }
    for (double ms : {0.0, -1.0, 1e20, std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_THROW(rtl::MSecsToTimeStamp(ms), rtl::EConvertError) << ms;
        EXPECT_THROW(rtl::MSecsToDateTime(ms), rtl::EConvertError) << ms;
    }
}

TEST(DateTime, TimePointsInUTC) {
    EXPECT_EQ(rtl::DateTimeFromTimePoint(system_clock::time_point{}, true), rtl::EncodeDate(1970, 1, 1));
    // One millisecond before the Unix epoch is the last millisecond of 1969.
    EXPECT_EQ(Decode(rtl::DateTimeFromTimePoint(system_clock::time_point{} - milliseconds(1), true)),
              (Civil{1969, 12, 31, 23, 59, 59, 999}));

    std::mt19937_64 gen(5);
    // From 1800 to 2200, microseconds included: the round trip gives the time point truncated
    // to the millisecond.
    std::uniform_int_distribution<int64_t> us(-5364662400LL * 1000000, 7258118400LL * 1000000);
    for (int i = 0; i < 20000; ++i) {
        const system_clock::time_point tp{microseconds(us(gen))};
        const double dt = rtl::DateTimeFromTimePoint(tp, true);
        ASSERT_EQ(rtl::TimePointFromDateTime(dt, true), std::chrono::floor<milliseconds>(tp));
        // Compare the calendar with <chrono>'s.
        const auto day = std::chrono::floor<days>(tp);
        const year_month_day ymd{day};
        const auto tod = std::chrono::floor<milliseconds>(tp) - day;
        const Civil expected{int(ymd.year()),        int(unsigned(ymd.month())), int(unsigned(ymd.day())),
                             int(tod / hours(1)),    int(tod / minutes(1) % 60), int(tod / seconds(1) % 60),
                             int(tod.count() % 1000)};
        ASSERT_EQ(Decode(dt), expected);
    }
}

// Every date of the range, not only 1677 to 2262 (where a nanosecond time point ends).
TEST(DateTime, TimePointsOfTheWholeRange) {
    using namespace std::chrono;
    struct Case {
        double dt;
        sys_days day;
        milliseconds tod;
    };
    const Case cases[] = {
        {rtl::EncodeDate(9999, 12, 31) + rtl::EncodeTime(23, 59, 59, 0), sys_days{9999y / 12 / 31},
         hours(23) + minutes(59) + seconds(59)},
        {rtl::MaxDateTime, sys_days{9999y / 12 / 31}, milliseconds(86399999)},
        {rtl::EncodeDate(2262, 4, 12) + rtl::EncodeTime(0, 0, 0, 0), sys_days{2262y / 4 / 12},
         milliseconds(0)},
        {rtl::EncodeDate(1600, 2, 29), sys_days{1600y / 2 / 29}, milliseconds(0)},
        {rtl::EncodeDate(5000, 7, 1) + rtl::EncodeTime(12, 0, 0, 5), sys_days{5000y / 7 / 1},
         hours(12) + milliseconds(5)},
        {rtl::MinDateTime, sys_days{1y / 1 / 1}, milliseconds(0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dt);
        const rtl::MilliTimePoint tp = rtl::TimePointFromDateTime(c.dt, true);
        EXPECT_EQ(tp, rtl::MilliTimePoint(c.day) + c.tod);
        EXPECT_EQ(rtl::DateTimeFromTimePoint(tp, true), c.dt);
        ScopedTZ tz("<-03>3");
        EXPECT_EQ(rtl::TimePointFromDateTime(c.dt, false), tp + hours(3));
    }
}

TEST(DateTime, TimePointsInLocalTime) {
    const auto tp = sys_days{2024y / 7 / 1} + hours(12) + minutes(34) + seconds(56) + milliseconds(789);
    const auto winter = sys_days{2024y / 1 / 15} + hours(3);
    {
        ScopedTZ tz("<-03>3");  // three hours behind UTC, no daylight saving
        EXPECT_EQ(Decode(rtl::DateTimeFromTimePoint(tp)), (Civil{2024, 7, 1, 9, 34, 56, 789}));
        EXPECT_EQ(rtl::TimePointFromDateTime(rtl::DateTimeFromTimePoint(tp)), tp);
        // Just after midnight UTC is still the day before here.
        EXPECT_EQ(Decode(rtl::DateTimeFromTimePoint(sys_days{2024y / 3 / 1} + minutes(5))),
                  (Civil{2024, 2, 29, 21, 5, 0, 0}));
    }
    {
        ScopedTZ tz("CET-1CEST,M3.5.0,M10.5.0/3");  // Central Europe, with summer time
        EXPECT_EQ(Decode(rtl::DateTimeFromTimePoint(tp)), (Civil{2024, 7, 1, 14, 34, 56, 789}));
        EXPECT_EQ(Decode(rtl::DateTimeFromTimePoint(winter)), (Civil{2024, 1, 15, 4, 0, 0, 0}));
        EXPECT_EQ(rtl::TimePointFromDateTime(rtl::DateTimeFromTimePoint(tp)), tp);
        EXPECT_EQ(rtl::TimePointFromDateTime(rtl::DateTimeFromTimePoint(winter)), winter);
        // Before 1970 too.
        const auto old = sys_days{1955y / 5 / 17} + hours(8) + milliseconds(5);
        EXPECT_EQ(rtl::TimePointFromDateTime(rtl::DateTimeFromTimePoint(old)), old);
    }
}

TEST(DateTime, TextUsesTheSeparatorsOfTheSettings) {
    const double dt = rtl::CombineDateTime(rtl::EncodeDate(2024, 3, 5), rtl::EncodeTime(7, 8, 9, 600));
    EXPECT_EQ(rtl::DateTimeToStr(dt), "05/03/2024 07:08:09");  // milliseconds are not shown or rounded
    EXPECT_EQ(rtl::DateToStr(dt), "05/03/2024");
    EXPECT_EQ(rtl::TimeToStr(dt), "07:08:09");
    {
        ScopedSeparators sep('.', '-');
        EXPECT_EQ(rtl::DateTimeToStr(dt), "05.03.2024 07-08-09");
        EXPECT_EQ(rtl::StrToDateTime("05.03.2024 07-08-09"), rtl::StrToDateTime("05.03.2024 7-8-9"));
        EXPECT_THROW(rtl::StrToDateTime("05/03/2024 07:08:09"), rtl::EConvertError);
    }
    EXPECT_EQ(rtl::DateTimeToStr(-1.25), "29/12/1899 06:00:00");
}

TEST(DateTime, ParsingText) {
    const double date = rtl::EncodeDate(2024, 3, 5);
    struct Case {
        const char* text;
        double expected;
    };
    const Case good[] = {
        {"05/03/2024 07:08:09", date + rtl::EncodeTime(7, 8, 9, 0)},
        {"5/3/2024 7:08", date + rtl::EncodeTime(7, 8, 0, 0)},
        {"  05/03/2024   23:59:59  ", date + rtl::EncodeTime(23, 59, 59, 0)},
        {"05/03/2024", date},
        {"12:30", rtl::EncodeTime(12, 30, 0, 0)},
        {"12:30:15.5", rtl::EncodeTime(12, 30, 15, 500)},
        {"12:30:15.025", rtl::EncodeTime(12, 30, 15, 25)},
        {"29/12/1899 06:00:00", -1.25},
    };
    for (const auto& c : good) {
        EXPECT_EQ(rtl::StrToDateTime(c.text), c.expected) << c.text;
        double r = 0;
        EXPECT_TRUE(rtl::TryStrToDateTime(c.text, r)) << c.text;
    }
    const char* bad[] = {"",
                         "   ",
                         "31/02/2024",
                         "05/03/24",
                         "05/13/2024",
                         "05-03-2024",
                         "05/03/2024x",
                         "05/03/2024 24:00",
                         "05/03/2024 7",
                         "7:60",
                         "005/03/2024",
                         "12:30:15.1234",
                         "05/03/2024 07:08:09 PM",
                         "abc",
                         "05/03/2024T07:08"};
    for (const char* s : bad) {
        EXPECT_THROW(rtl::StrToDateTime(s), rtl::EConvertError) << s;
        double r = 42;
        EXPECT_FALSE(rtl::TryStrToDateTime(s, r)) << s;
    }
    try {
        rtl::StrToDateTime("x");
    } catch (const rtl::EConvertError& e) {
        EXPECT_EQ(e.Message(), "'x' is not a valid date and time");
    }
    EXPECT_EQ(rtl::StrToDate("05/03/2024"), date);
    EXPECT_THROW(rtl::StrToDate("05/03/2024 10:00"), rtl::EConvertError);
    EXPECT_EQ(rtl::StrToTime("10:00"), rtl::EncodeTime(10, 0, 0, 0));
    EXPECT_THROW(rtl::StrToTime("05/03/2024"), rtl::EConvertError);

    // What DateTimeToStr writes, StrToDateTime reads back (to the second).
    std::mt19937_64 gen(3);
    std::uniform_real_distribution<double> any(rtl::MinDateTime, rtl::MaxDateTime);
    for (int i = 0; i < 5000; ++i) {
        const double dt = any(gen);
        Civil c = Decode(dt);
        c.ms = 0;
        ASSERT_EQ(Decode(rtl::StrToDateTime(rtl::DateTimeToStr(dt))), c) << rtl::DateTimeToStr(dt);
    }
}

TEST(DateTime, FormatPatterns) {
    const double dt = rtl::CombineDateTime(rtl::EncodeDate(2024, 3, 5), rtl::EncodeTime(7, 8, 9, 12));
    struct Case {
        const char* pattern;
        const char* expected;
    };
    const Case cases[] = {
        {"dd/mm/yyyy hh:nn:ss.zzz", "05/03/2024 07:08:09.012"},
        {"d/m/yy h:n:s.z", "5/3/24 7:8:9.12"},
        {"DD/MM/YYYY HH:NN:SS", "05/03/2024 07:08:09"},
        {"hh:mm", "07:08"},  // m after h is the minute
        {"h x m", "7 x 3"},  // another letter in between: the month again
        {"yyyy-mm-dd'T'hh:nn:ss", "2024-03-05T07:08:09"},
        {"\"dia\" d", "dia 5"},
        {"'it''s'", "its"},
        {"yyy", "2024"},
        {"[d]", "[5]"},
        {"'unclosed", "unclosed"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rtl::FormatDateTime(c.pattern, dt), c.expected) << c.pattern;
    EXPECT_EQ(rtl::FormatDateTime("yy/yyyy", rtl::EncodeDate(5, 1, 1)), "05/0005");

    for (const char* p : {"ddd", "dddd", "mmm", "mmmm", "c", "t", "hh am/pm", "h a/p", "ampm"})
        EXPECT_THROW(rtl::FormatDateTime(p, dt), rtl::EConvertError) << p;
}

}  // namespace
