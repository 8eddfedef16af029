// crypto/base/SBUtils_time.cpp: ASN.1 time texts, local-to-UTC conversion and elapsed ticks.
//
// A date-time is the class library's day count (rtl::TDateTime). Offsets written after a time
// ("+0130") are applied, so every value produced from a text is UTC; the local-to-UTC
// conversion asks the C library for the offset in force at that very instant, daylight saving
// included.
#include <string>

#include "crypto/base/SBUtils.h"
#include "platform/Clock.h"
#include "rtl/DateTime.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The number in text[pos, pos + n) when all n characters are digits, else def.
int Field(std::string_view text, size_t pos, size_t n, int def) {
    if (pos + n > text.size()) return def;
    int v = 0;
    for (size_t i = pos; i < pos + n; ++i) {
        if (!IsDigit(text[i])) return def;
        v = v * 10 + (text[i] - '0');
    }
    return v;
}

// Reads the optional hour, minute and second pairs from pos on, then an optional fraction and
// the zone designator. Answers the value in UTC.
struct TimeFields {
    int hour = 0, minute = 0, second = 0, ms = 0;
    int offsetMinutes = 0;  // east of UTC
};

TimeFields ParseTimeAndZone(std::string_view text, size_t pos, bool allowFraction) {
    TimeFields f;
    int* slots[] = {&f.hour, &f.minute, &f.second};
    for (int* slot : slots) {
        if (pos + 2 <= text.size() && IsDigit(text[pos]) && IsDigit(text[pos + 1])) {
            *slot = Field(text, pos, 2, 0);
            pos += 2;
        } else if (pos < text.size() && IsDigit(text[pos])) {
            // A single digit where a pair belongs: the field does not read as a number.
            pos += 1;
        } else {
            break;
        }
    }
    if (allowFraction && pos < text.size() && (text[pos] == '.' || text[pos] == ',')) {
        ++pos;
        int scale = 100;
        while (pos < text.size() && IsDigit(text[pos])) {
            f.ms += (text[pos] - '0') * scale;
            scale /= 10;
            ++pos;
        }
    }
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        const int hh = Field(text, pos + 1, 2, -1);
        const int mm = Field(text, pos + 3, 2, -1);
        if (hh < 0 || mm < 0 || hh > 23 || mm > 59) throw rtl::EConvertError("Invalid time zone offset");
        f.offsetMinutes = (hh * 60 + mm) * (text[pos] == '-' ? -1 : 1);
    }
    return f;
}

double Compose(int year, int month, int day, const TimeFields& f) {
    const rtl::TDateTime written = rtl::CombineDateTime(rtl::EncodeDate(year, month, day),
                                                        rtl::EncodeTime(f.hour, f.minute, f.second, f.ms));
    if (f.offsetMinutes == 0) return written;
    // Move by whole milliseconds through the time-stamp form, which stays linear across
    // 1899-12-30 where the day count itself does not.
    rtl::TTimeStamp ts = rtl::DateTimeToTimeStamp(written);
    return rtl::TimeStampToDateTime(
        rtl::MSecsToTimeStamp(rtl::TimeStampToMSecs(ts) - double(f.offsetMinutes) * 60000.0));
}

}  // namespace

double UTCTimeToDateTime(std::string_view text) {
    if (text.size() <= 5) return 0;
    int year = Field(text, 0, 2, 0);
    year += year < 50 ? 2000 : 1900;
    const int month = Field(text, 2, 2, 1);
    const int day = Field(text, 4, 2, 1);
    return Compose(year, month, day, ParseTimeAndZone(text, 6, false));
}

double GeneralizedTimeToDateTime(std::string_view text) {
    const int year = Field(text, 0, 4, 0);
    const int month = Field(text, 4, 2, 1);
    const int day = Field(text, 6, 2, 1);
    return Compose(year, month, day, ParseTimeAndZone(text, 8, true));
}

std::string DateTimeToGeneralizedTime(double dateTime) {
    int y, mo, d, h, mi, s, ms;
    rtl::DecodeDate(dateTime, y, mo, d);
    rtl::DecodeTime(dateTime, h, mi, s, ms);
    std::string r;
    auto put = [&r](int v, int width) {
        std::string digits = std::to_string(v);
        if (int(digits.size()) < width) r.append(size_t(width) - digits.size(), '0');
        r += digits;
    };
    put(y, 4);
    put(mo, 2);
    put(d, 2);
    put(h, 2);
    put(mi, 2);
    put(s, 2);
    r += 'Z';
    return r;
}

double LocalTimeToUTCTime(double dateTime) {
    try {
        // The C library resolves the local time with the zone's rules for that instant,
        // daylight saving included.
        return rtl::DateTimeFromTimePoint(rtl::TimePointFromDateTime(dateTime, false), true);
    } catch (const rtl::EConvertError&) {
        return dateTime;
    }
}

uint32_t GetElapsedTicks(uint32_t start, uint32_t now) {
    // Unsigned arithmetic gives the distance across the counter's wrap at 2^32.
    return now - start;
}

uint32_t GetElapsedTicks(uint32_t start) {
    return GetElapsedTicks(start, plat::GetClock().TickCount());
}
