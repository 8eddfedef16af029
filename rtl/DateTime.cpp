// rtl/DateTime.cpp: calendar arithmetic, conversions and the text forms of TDateTime.
//
// Everything goes through the time stamp: the value is rounded once to whole milliseconds,
// then split into a day number and milliseconds of the day. Calendar dates come from the
// proleptic Gregorian calendar of <chrono>. The local-time conversions use the C library's
// thread-safe localtime_r and mktime, so they follow the process's TZ.
#include "rtl/DateTime.h"

#include <cmath>
#include <ctime>

#include "rtl/Exception.h"
#include "rtl/Format.h"

namespace rtl {

namespace {

using namespace std::chrono;

constexpr int32_t kUnixDay = 25569;                // 1970-01-01 as a TDateTime
constexpr int32_t kMaxDate = DateDelta + 2958465;  // 9999-12-31 as a day number
constexpr int64_t kMSecsPerDay = MSecsPerDay;

[[noreturn]] void InvalidValue(TDateTime dt) {
    throw EConvertError(Format("Invalid date and time value: %g", dt));
}

// The value as a day number and milliseconds of the day. The whole part (towards zero) is
// the calendar day and the fraction's magnitude the time of day: that is the rule that makes
// -1.25 the 29th of December at 06:00. Only the time is rounded to whole milliseconds, and a
// time that rounds up to 24:00 is midnight of the next calendar day, before 1899 as after it.
// (Rounding the signed value as a whole would carry a negative value's 23:59:59.9996 back a
// day instead: -1.9999999999 would become 28 December instead of 30 December.)
bool TryToTimeStamp(TDateTime dt, TTimeStamp& ts) {
    if (!std::isfinite(dt) || dt < MinDateTime - 1.0 || dt > MaxDateTime + 1.0) return false;
    const double whole = std::trunc(dt);
    int64_t day = int64_t(whole);
    int64_t time = int64_t(std::nearbyint(std::fabs(dt - whole) * double(kMSecsPerDay)));
    if (time >= kMSecsPerDay) {
        time -= kMSecsPerDay;
        ++day;
    }
    const int64_t date = DateDelta + day;
    if (date < 1 || date > kMaxDate) return false;
    ts.Date = int32_t(date);
    ts.Time = int32_t(time);
    return true;
}

year_month_day CivilFromDayNumber(int32_t dayNumber) {
    return year_month_day{sys_days{days{int64_t(dayNumber) - DateDelta - kUnixDay}}};
}

void AppendNumber(std::string& out, int value, int digits) {
    std::string s = std::to_string(value);
    if (int(s.size()) < digits) out.append(size_t(digits) - s.size(), '0');
    out += s;
}

// A small cursor over the text for the parsers below.
class Scanner {
public:
    explicit Scanner(std::string_view s) : s_(s) {}
    void SkipBlanks() {
        while (i_ < s_.size() && static_cast<unsigned char>(s_[i_]) <= ' ')
            ++i_;
    }
    bool Char(char c) {
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    // 1..maxDigits decimal digits; digits counts how many were read.
    bool Number(int maxDigits, int& value, int& digits) {
        value = 0;
        digits = 0;
        while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9' && digits < maxDigits) {
            value = value * 10 + (s_[i_] - '0');
            ++i_;
            ++digits;
        }
        if (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') return false;  // too many digits
        return digits > 0;
    }
    bool AtEnd() const { return i_ == s_.size(); }
    size_t Pos() const { return i_; }
    void SetPos(size_t p) { i_ = p; }

private:
    std::string_view s_;
    size_t i_ = 0;
};

bool ScanDate(Scanner& sc, TDateTime& date) {
    int d, m, y, n;
    const char sep = FormatSettings.DateSeparator;
    if (!sc.Number(2, d, n) || !sc.Char(sep) || !sc.Number(2, m, n) || !sc.Char(sep)) return false;
    if (!sc.Number(4, y, n) || n != 4) return false;
    return TryEncodeDate(y, m, d, date);
}

bool ScanTime(Scanner& sc, TDateTime& time) {
    int h, mi, s = 0, ms = 0, n;
    const char sep = FormatSettings.TimeSeparator;
    if (!sc.Number(2, h, n) || !sc.Char(sep) || !sc.Number(2, mi, n)) return false;
    if (sc.Char(sep)) {
        if (!sc.Number(2, s, n)) return false;
        if (sc.Char(FormatSettings.DecimalSeparator)) {
            // Digits after the separator are a fraction of a second: ".5" is 500 ms.
            if (!sc.Number(3, ms, n)) return false;
            for (; n < 3; ++n)
                ms *= 10;
        }
    }
    return TryEncodeTime(h, mi, s, ms, time);
}

enum class Want { DateTime, Date, Time };

bool TryParse(std::string_view text, Want want, TDateTime& result) {
    Scanner sc(text);
    sc.SkipBlanks();
    const size_t start = sc.Pos();
    TDateTime date = 0, time = 0;
    bool haveDate = false;
    if (want != Want::Time) {
        haveDate = ScanDate(sc, date);
        if (!haveDate && want == Want::Date) return false;
        if (!haveDate) sc.SetPos(start);
    }
    sc.SkipBlanks();
    if (want != Want::Date && !sc.AtEnd()) {
        if (!ScanTime(sc, time)) return false;
        sc.SkipBlanks();
    } else if (!haveDate) {
        return false;  // nothing at all
    }
    if (!sc.AtEnd()) return false;
    result = CombineDateTime(date, time);
    return true;
}

}  // namespace

bool IsLeapYear(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) throw EConvertError(Format("Invalid month: %d", month));
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

int32_t DayNumberOfDate(int year, int month, int day) {
    const sys_days d{std::chrono::year{year} / std::chrono::month{unsigned(month)} /
                     std::chrono::day{unsigned(day)}};
    return int32_t(d.time_since_epoch().count()) + kUnixDay + DateDelta;
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return false;
    result = double(DayNumberOfDate(year, month, day) - DateDelta);
    return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result) {
    if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || msec < 0 || msec > 999)
        return false;
    result = double(((hour * 60 + min) * 60 + sec) * 1000 + msec) / double(kMSecsPerDay);
    return true;
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime r = 0;
    if (!TryEncodeDate(year, month, day, r)) throw EConvertError("Invalid argument to date encode");
    return r;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
    TDateTime r = 0;
    if (!TryEncodeTime(hour, min, sec, msec, r)) throw EConvertError("Invalid argument to time encode");
    return r;
}

TDateTime CombineDateTime(TDateTime date, TDateTime time) {
    return date >= 0 ? date + time : date - time;
}

TTimeStamp DateTimeToTimeStamp(TDateTime dt) {
    TTimeStamp ts;
    if (!TryToTimeStamp(dt, ts)) InvalidValue(dt);
    return ts;
}

TDateTime TimeStampToDateTime(const TTimeStamp& ts) {
    if (ts.Date < 1 || ts.Date > kMaxDate || ts.Time < 0 || ts.Time >= MSecsPerDay)
        throw EConvertError(Format("'%d.%d' is not a valid timestamp", ts.Date, ts.Time));
    const double days = double(ts.Date - DateDelta);
    const double frac = double(ts.Time) / double(kMSecsPerDay);
    return days >= 0 ? days + frac : days - frac;
}

double TimeStampToMSecs(const TTimeStamp& ts) {
    return double(ts.Date) * double(kMSecsPerDay) + ts.Time;
}

TTimeStamp MSecsToTimeStamp(double msecs) {
    if (!std::isfinite(msecs) || msecs < double(kMSecsPerDay) ||
        msecs >= double(kMaxDate + 1) * double(kMSecsPerDay))
        throw EConvertError(Format("Invalid timestamp milliseconds: %g", msecs));
    const int64_t ms = int64_t(msecs);
    TTimeStamp ts;
    ts.Date = int32_t(ms / kMSecsPerDay);
    ts.Time = int32_t(ms % kMSecsPerDay);
    return ts;
}

TDateTime MSecsToDateTime(double msecs) {
    // From 1899-12-30 on (a date-time of 0 and more) the time is added to the days; earlier
    // dates and errors take the two steps.
    if (msecs >= double(DateDelta) * double(kMSecsPerDay) && msecs < double(kMaxDate + 1) * double(kMSecsPerDay)) {
        const int64_t ms = int64_t(msecs);
        return double(int32_t(ms / kMSecsPerDay) - DateDelta) + double(int32_t(ms % kMSecsPerDay)) / double(kMSecsPerDay);
    }
    return TimeStampToDateTime(MSecsToTimeStamp(msecs));
}

void DecodeDate(TDateTime dt, int& year, int& month, int& day) {
    const year_month_day ymd = CivilFromDayNumber(DateTimeToTimeStamp(dt).Date);
    year = int(ymd.year());
    month = int(unsigned(ymd.month()));
    day = int(unsigned(ymd.day()));
}

void DecodeTime(TDateTime dt, int& hour, int& min, int& sec, int& msec) {
    int32_t t = DateTimeToTimeStamp(dt).Time;
    msec = t % 1000;
    t /= 1000;
    sec = t % 60;
    t /= 60;
    min = t % 60;
    hour = t / 60;
}

int DayOfWeek(TDateTime dt) {
    return DateTimeToTimeStamp(dt).Date % 7 + 1;
}

TDateTime DateTimeFromTimePoint(MilliTimePoint tp, bool utc) {
    const int64_t ms = tp.time_since_epoch().count();
    if (utc) {
        const int64_t dayCount = ms >= 0 ? ms / kMSecsPerDay : -((-ms + kMSecsPerDay - 1) / kMSecsPerDay);
        const int64_t dayNumber = dayCount + kUnixDay + DateDelta;
        if (dayNumber < 1 || dayNumber > kMaxDate)
            throw EConvertError("Time point outside the range of dates");
        TTimeStamp ts;
        ts.Date = int32_t(dayNumber);
        ts.Time = int32_t(ms - dayCount * kMSecsPerDay);
        return TimeStampToDateTime(ts);
    }
    const int64_t secs = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    const int msec = int(ms - secs * 1000);
    const std::time_t t = std::time_t(secs);
    std::tm tm{};
    if (localtime_r(&t, &tm) == nullptr) throw EConvertError("Time point outside the range of dates");
    TDateTime date = 0, time = 0;
    // A leap second shows as second 60; the date-time has no such second.
    if (!TryEncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, date) ||
        !TryEncodeTime(tm.tm_hour, tm.tm_min, tm.tm_sec > 59 ? 59 : tm.tm_sec, msec, time))
        throw EConvertError("Time point outside the range of dates");
    return CombineDateTime(date, time);
}

MilliTimePoint TimePointFromDateTime(TDateTime dt, bool utc) {
    const TTimeStamp ts = DateTimeToTimeStamp(dt);
    if (utc) {
        const int64_t ms = (int64_t(ts.Date) - DateDelta - kUnixDay) * kMSecsPerDay + ts.Time;
        return MilliTimePoint(milliseconds(ms));
    }
    const year_month_day ymd = CivilFromDayNumber(ts.Date);
    std::tm tm{};
    tm.tm_year = int(ymd.year()) - 1900;
    tm.tm_mon = int(unsigned(ymd.month())) - 1;
    tm.tm_mday = int(unsigned(ymd.day()));
    int32_t t = ts.Time;
    const int msec = t % 1000;
    t /= 1000;
    tm.tm_sec = t % 60;
    t /= 60;
    tm.tm_min = t % 60;
    tm.tm_hour = t / 60;
    tm.tm_isdst = -1;
    const std::time_t secs = std::mktime(&tm);
    return MilliTimePoint(milliseconds(int64_t(secs) * 1000 + msec));
}

std::string FormatDateTime(std::string_view pattern, TDateTime dt) {
    const TTimeStamp ts = DateTimeToTimeStamp(dt);
    const year_month_day ymd = CivilFromDayNumber(ts.Date);
    const int year = int(ymd.year()), month = int(unsigned(ymd.month())), day = int(unsigned(ymd.day()));
    const int hour = ts.Time / 3600000, minute = ts.Time / 60000 % 60, second = ts.Time / 1000 % 60,
              msec = ts.Time % 1000;

    auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; };
    auto unsupported = [&]() {
        throw EConvertError("Unsupported date and time format \"" + std::string(pattern) + "\"");
    };
    std::string out;
    char lastToken = 0;
    size_t i = 0;
    while (i < pattern.size()) {
        const char c = pattern[i];
        if (c == '\'' || c == '"') {
            const size_t close = pattern.find(c, i + 1);
            const size_t end = close == std::string_view::npos ? pattern.size() : close;
            out.append(pattern.substr(i + 1, end - i - 1));
            i = close == std::string_view::npos ? end : end + 1;
            continue;
        }
        if (c == '/') {
            out += FormatSettings.DateSeparator;
            ++i;
            continue;
        }
        if (c == ':') {
            out += FormatSettings.TimeSeparator;
            ++i;
            continue;
        }
        char token = upper(c);
        if (token < 'A' || token > 'Z') {
            out += c;
            ++i;
            continue;
        }
        size_t count = 1;
        while (i + count < pattern.size() && upper(pattern[i + count]) == token)
            ++count;
        // "m" right after an hour is the minute ("hh:mm").
        if (token == 'M' && lastToken == 'H') token = 'N';
        lastToken = token;
        switch (token) {
            case 'D':
                if (count > 2) unsupported();
                AppendNumber(out, day, int(count));
                break;
            case 'M':
                if (count > 2) unsupported();
                AppendNumber(out, month, int(count));
                break;
            case 'Y':
                if (count <= 2)
                    AppendNumber(out, year % 100, 2);
                else
                    AppendNumber(out, year, 4);
                break;
            case 'H':
                AppendNumber(out, hour, count >= 2 ? 2 : 1);
                break;
            case 'N':
                AppendNumber(out, minute, count >= 2 ? 2 : 1);
                break;
            case 'S':
                AppendNumber(out, second, count >= 2 ? 2 : 1);
                break;
            case 'Z':
                AppendNumber(out, msec, count >= 3 ? 3 : 1);
                break;
            case 'C':
            case 'T':
                unsupported();
                break;
            case 'A': {
                const std::string_view rest = pattern.substr(i);
                for (std::string_view marker : {"am/pm", "a/p", "ampm"}) {
                    if (rest.size() >= marker.size()) {
                        bool same = true;
                        for (size_t k = 0; k < marker.size(); ++k)
                            if (upper(rest[k]) != upper(marker[k])) same = false;
                        if (same) unsupported();
                    }
                }
                out.append(pattern.substr(i, count));
                break;
            }
            default:
                out.append(pattern.substr(i, count));
                break;
        }
        i += count;
    }
    return out;
}

std::string DateTimeToStr(TDateTime dt) {
    return FormatDateTime("dd/mm/yyyy hh:nn:ss", dt);
}
std::string DateToStr(TDateTime dt) {
    return FormatDateTime("dd/mm/yyyy", dt);
}
std::string TimeToStr(TDateTime dt) {
    return FormatDateTime("hh:nn:ss", dt);
}

bool TryStrToDateTime(std::string_view s, TDateTime& result) {
    return TryParse(s, Want::DateTime, result);
}

TDateTime StrToDateTime(std::string_view s) {
    TDateTime r = 0;
    if (!TryParse(s, Want::DateTime, r))
        throw EConvertError("'" + std::string(s) + "' is not a valid date and time");
    return r;
}

TDateTime StrToDate(std::string_view s) {
    TDateTime r = 0;
    if (!TryParse(s, Want::Date, r)) throw EConvertError("'" + std::string(s) + "' is not a valid date");
    return r;
}

TDateTime StrToTime(std::string_view s) {
    TDateTime r = 0;
    if (!TryParse(s, Want::Time, r)) throw EConvertError("'" + std::string(s) + "' is not a valid time");
    return r;
}

}  // namespace rtl
