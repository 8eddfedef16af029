// rtl/DateTime.h: the original's date-time: a double counting days since 30 December 1899,
// the fraction being the time of day.
//
// Before 1899-12-30 the whole part counts days backwards while the fraction still measures
// the time forwards from midnight: -1.25 is 29 December 1899 06:00. Every conversion first
// rounds the time of day to whole milliseconds (ties to even), so 23:59:59.9996 becomes
// midnight of the next calendar day instead of a 24th hour, on either side of 1899-12-30
// (-1.9999999999, the 29th at 23:59:59.99999, is the 30th at midnight). Valid values run from 0001-01-01
// (-693593) to 9999-12-31 23:59:59.999; values outside that range, infinities and NaN raise
// rtl::EConvertError wherever a calendar date is needed.
//
// The time-stamp form (a day number where day 1 is 0001-01-01 and 693594 is 1899-12-30, and
// milliseconds of the day) is what the database drivers exchange.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace rtl {

using TDateTime = double;

constexpr int32_t DateDelta = 693594;  // days from 0001-01-01 (day 1) to 1899-12-30
constexpr int32_t MSecsPerDay = 86400000;
constexpr TDateTime MinDateTime = -693593.0;                            // 0001-01-01 00:00:00.000
constexpr TDateTime MaxDateTime = 2958465.0 + 86399999.0 / 86400000.0;  // 9999-12-31 23:59:59.999

struct TTimeStamp {
    int32_t Time = 0;  // milliseconds since midnight
    int32_t Date = 0;  // day number, 1 = 0001-01-01
};

bool IsLeapYear(int year);
// Days of a month (28..31); rtl::EConvertError for a month outside 1..12.
int DaysInMonth(int year, int month);

// The time stamp's day number (1 = 0001-01-01) of a date the caller has checked (year 1 to
// 9999, a day of the month): the calendar's arithmetic alone, for values read once per row.
int32_t DayNumberOfDate(int year, int month, int day);

// rtl::EConvertError "Invalid argument to date encode" / "... time encode".
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result);
// The date and time of day joined (the time taken away from a date before 1899-12-30).
TDateTime CombineDateTime(TDateTime date, TDateTime time);

void DecodeDate(TDateTime dt, int& year, int& month, int& day);
void DecodeTime(TDateTime dt, int& hour, int& min, int& sec, int& msec);
// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime dt);

TTimeStamp DateTimeToTimeStamp(TDateTime dt);
// rtl::EConvertError for a day number below 1 or a time outside the day.
TDateTime TimeStampToDateTime(const TTimeStamp& ts);
double TimeStampToMSecs(const TTimeStamp& ts);
TTimeStamp MSecsToTimeStamp(double msecs);
// TimeStampToDateTime(MSecsToTimeStamp(msecs)), the same value and errors, in one step: the
// date-time of a value stored as milliseconds, read once per row of a data set.
TDateTime MSecsToDateTime(double msecs);

// A time point to the millisecond: unlike the system clock's nanosecond time point, which ends
// in 2262 (and starts in 1677), it holds every date of the date-time's range, 1 to 9999.
using MilliTimePoint = std::chrono::sys_time<std::chrono::milliseconds>;

// The wall-clock time of a time point, in local time (the process's time zone) or in UTC,
// truncated to the millisecond as the system's clock reports it.
TDateTime DateTimeFromTimePoint(MilliTimePoint tp, bool utc = false);
template <typename Duration>
TDateTime DateTimeFromTimePoint(std::chrono::sys_time<Duration> tp, bool utc = false) {
    return DateTimeFromTimePoint(std::chrono::floor<std::chrono::milliseconds>(tp), utc);
}
// The reverse, for every date of the range; a local time that a daylight-saving change skips
// or repeats is resolved as the C library's mktime resolves it. (A caller that converts the
// result to the system clock's own time point takes on that type's 1677-2262 range.)
MilliTimePoint TimePointFromDateTime(TDateTime dt, bool utc = false);

// "DD/MM/YYYY HH:MM:SS" with the separators of rtl::FormatSettings.
std::string DateTimeToStr(TDateTime dt);
std::string DateToStr(TDateTime dt);
std::string TimeToStr(TDateTime dt);

// Parse "D/M/YYYY", "H:N[:S[.Z]]" or both (date first), separated by blanks, with the
// separators of rtl::FormatSettings; rtl::EConvertError "'<text>' is not a valid date and
// time" (or "... valid date", "... valid time") otherwise.
TDateTime StrToDateTime(std::string_view s);
TDateTime StrToDate(std::string_view s);
TDateTime StrToTime(std::string_view s);
bool TryStrToDateTime(std::string_view s, TDateTime& result);

// Pattern letters (any case): d dd (day), m mm (month; minutes right after h or hh), yy yyyy,
// h hh, n nn, s ss, z zzz; '/' and ':' give the separators of rtl::FormatSettings; text in
// single or double quotes is copied as it stands; other characters are copied. Day and month
// names (ddd, mmm and longer), "c", "t" and am/pm markers are not supported and raise
// rtl::EConvertError.
std::string FormatDateTime(std::string_view pattern, TDateTime dt);

}  // namespace rtl
