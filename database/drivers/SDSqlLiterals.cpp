// database/drivers/SDSqlLiterals.cpp: parameter literals and date-time texts.
#include "database/drivers/SDSqlLiterals.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "database/engine/SDCommonSqlText.h"
#include "database/engine/SDCommonValues.h"
#include "rtl/Assert.h"
#include "rtl/Bcd.h"
#include "rtl/DatabaseError.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

const TParam* FindLastParam(const TParams& params, const std::string& name) {
    for (int i = params.Count() - 1; i >= 0; --i)
        if (rtl::SameText(params[i].Name(), name)) return &params[i];
    return nullptr;
}

// Takes the fraction of a second out of "[...]hh:nn:ss.fff[...]" (the "." six places after
// the first ":") and answers its milliseconds; 0 without a fraction.
int TakeFractionMs(std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos || colon + 6 >= text.size() || text[colon + 6] != '.') return 0;
    int ms = 0;
    int digits = 0;
    size_t end = colon + 7;
    for (; end < text.size() && text[end] >= '0' && text[end] <= '9'; ++end)
        if (digits < 3) {
            ms = ms * 10 + (text[end] - '0');
            ++digits;
        }
    for (; digits < 3; ++digits)
        ms *= 10;
    text.erase(colon + 6, end - colon - 6);
    return ms;
}

rtl::TDateTime AddMs(rtl::TDateTime value, int ms) {
    if (ms == 0) return value;
    const double part = double(ms) / double(rtl::MSecsPerDay);
    return value < 0 ? value - part : value + part;
}

}  // namespace

std::string SubstituteParamLiterals(const std::string& text, const TParams* params, const TSDLiteralMaker& literal) {
    if (params == nullptr || params->Count() == 0) return text;
    std::string out;
    out.reserve(text.size() + 16 * size_t(params->Count()));
    size_t from = 0;
    for (const TSDParamMarker& m : FindParamMarkers(text)) {
        const TParam* param = m.Name.empty() ? nullptr : FindLastParam(*params, m.Name);
        if (param == nullptr) continue;  // not a marker of ours: it stays as it is
        out.append(text, from, m.Start - from);
        out += literal(*param);
        from = m.Start + m.Length;
    }
    out.append(text, from, std::string::npos);
    return out;
}

std::string IntegerLiteral(const TParam& param) {
    try {
        return rtl::IntToStr(param.Value().AsInt64());
    } catch (const rtl::Exception&) {
        rtl::DatabaseErrorFmt("Parameter '%s' does not hold an integer", param.Name());
    }
}

std::string FloatLiteral(double value) {
    if (!std::isfinite(value)) rtl::DatabaseError("A float parameter must be a finite number");
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, value);
    return std::string(text, r.ptr);
}

std::string CurrencyLiteral(int64_t scaled) {
    const bool negative = scaled < 0;
    // The magnitude of the smallest 64-bit value still fits an unsigned one.
    const uint64_t magnitude = negative ? uint64_t(0) - uint64_t(scaled) : uint64_t(scaled);
    std::string fraction = std::to_string(magnitude % 10000);
    fraction.insert(0, 4 - fraction.size(), '0');
    return (negative ? "-" : "") + std::to_string(magnitude / 10000) + "." + fraction;
}

std::string BcdLiteral(const TParam& param) {
    const rtl::Variant& v = param.Value();
    if (v.IsText()) {
        // Written back from the packed decimal it makes, so that only a number reaches the text.
        const std::string text = rtl::Trim(v.AsString());
        const size_t point = text.find('.');
        rtl::TBcd bcd;
        if (rtl::TextToBcd(text, bcd, point == std::string::npos ? 0 : int(text.size() - point - 1)))
            return rtl::BcdToText(bcd);
    }
    return CurrencyLiteral(v.AsCurrency());
}

std::string ParamLiteral(const TParam& param, const TSqlLiteralDialect& dialect) {
    if (param.IsNull()) return "NULL";
    const rtl::Variant& v = param.Value();
    switch (param.DataType()) {
        case ftSmallint:
        case ftInteger:
        case ftWord:
        case ftAutoInc:
        case ftLargeint:
            return IntegerLiteral(param);
        case ftBoolean:
            return v.AsBoolean() ? dialect.trueText : dialect.falseText;
        case ftFloat:
            return FloatLiteral(v.AsDouble());
        case ftCurrency:
            return CurrencyLiteral(v.AsCurrency());
        case ftBCD:
            // Exact text: a currency's four places, or the decimal text of a larger value.
            return BcdLiteral(param);
        case ftTime:
            return "'" + TimeLiteralText(v.AsDateTime()) + "'";
        case ftDate:
        case ftDateTime:
            return "'" + DateTimeLiteralText(v.AsDateTime()) + "'";
        case ftBytes:
        case ftVarBytes:
        case ftBlob:
            return dialect.bytes(v.AsBytes());
        default:
            return dialect.text(v.AsString());
    }
}

bool DecimalColumnIsBcd(bool enableBcd, int64_t precision, int64_t scale) {
    return enableBcd && scale >= 1 && scale <= 4 && precision >= scale && precision <= 64;
}

void StoreDecimalText(const TSDFieldDesc& desc, const char* text, size_t length, void* dest,
                      int32_t destSize) {
    const std::string value(text != nullptr ? text : "", text != nullptr ? length : 0);
    if (destSize < int32_t(sizeof(rtl::TBcd))) {
        double d = 0;
        if (!ParseSqlDouble(value.data(), value.size(), d)) d = SqlTextToFloat(value, 0);
        rtl::Assert(destSize >= 8, "StoreDecimalText: %d bytes for a number", destSize);
        std::memcpy(dest, &d, sizeof d);
        return;
    }
    rtl::TBcd bcd;
    if (!rtl::TextToBcd(value, bcd, desc.Scale))
        rtl::DatabaseErrorFmt("Field '%s': value '%s' is no decimal number of %d places", desc.FieldName,
                              value, int32_t(desc.Scale));
    std::memcpy(dest, &bcd, sizeof bcd);
}

std::string DateTimeLiteralText(rtl::TDateTime value) {
    int year = 1899, month = 12, day = 30;
    if (std::trunc(value) != 0) rtl::DecodeDate(value, year, month, day);
    std::string text = rtl::Format("%.4d-%.2d-%.2d", year, month, day);
    int hour = 0, minute = 0, second = 0, ms = 0;
    rtl::DecodeTime(value, hour, minute, second, ms);
    if (hour != 0 || minute != 0 || second != 0 || ms != 0) {
        text += rtl::Format(" %.2d:%.2d:%.2d", hour, minute, second);
        if (ms != 0) text += rtl::Format(".%.3d", ms);
    }
    return text;
}

std::string TimeLiteralText(rtl::TDateTime value) {
    int hour = 0, minute = 0, second = 0, ms = 0;
    rtl::DecodeTime(value, hour, minute, second, ms);
    std::string text = rtl::Format("%.2d:%.2d:%.2d", hour, minute, second);
    if (ms != 0) text += rtl::Format(".%.3d", ms);
    return text;
}

rtl::TDateTime SqlTextToDateTimeMs(const std::string& text) {
    std::string rest = text;
    const int ms = TakeFractionMs(rest);
    return AddMs(SqlTextToDateTime(rest), ms);
}

rtl::TDateTime SqlTextToTimeMs(const std::string& text) {
    // The library's rule reads a text past nine characters as a date: the fraction goes first.
    std::string rest = text;
    const int ms = TakeFractionMs(rest);
    return AddMs(SqlTextToTime(rest), ms);
}

namespace {

// The digits of a decimal integer or fraction, the form nearly every value of a numeric column
// arrives in: an optional minus sign, digits, and (withFraction) a point followed by more
// digits. At most 18 digits in all (no overflow of the 64-bit digit value) or false, as for
// any other form; places counts the digits after the point.
bool PlainDecimalDigits(const char* text, size_t length, bool withFraction, bool& negative, uint64_t& digits,
                        int& places) {
    const char* p = text;
    const char* const end = text + length;
    negative = *p == '-';
    if (negative) ++p;
    const char* const start = p;
    uint64_t v = 0;
    for (; p != end; ++p) {
        const unsigned d = unsigned(*p) - '0';
        if (d > 9) break;
        v = v * 10 + d;
    }
    size_t count = size_t(p - start);
    int fraction = 0;
    if (p != end) {
        if (!withFraction || *p != '.' || count == 0) return false;
        const char* const point = ++p;
        for (; p != end; ++p) {
            const unsigned d = unsigned(*p) - '0';
            if (d > 9) return false;
            v = v * 10 + d;
        }
        fraction = int(p - point);
        if (fraction == 0) return false;
        count += size_t(fraction);
    }
    // More digits may have wrapped the value round: such texts are not taken here.
    if (count == 0 || count > 18) return false;
    digits = v;
    places = fraction;
    return true;
}

}  // namespace

bool ParseSqlInt64(const char* text, size_t length, int64_t& value) {
    if (text == nullptr || length == 0) return false;
    bool negative = false;
    uint64_t digits = 0;
    int places = 0;
    // Up to 18 digits always fit; the rest (longer texts, "+", the limits) take the general
    // reading below.
    if (PlainDecimalDigits(text, length, false, negative, digits, places)) {
        value = negative ? -int64_t(digits) : int64_t(digits);
        return true;
    }
    const char* begin = text;
    if (*begin == '+' && length > 1) ++begin;
    const auto r = std::from_chars(begin, text + length, value);
    return r.ec == std::errc() && r.ptr == text + length;
}

bool ParseSqlDouble(const char* text, size_t length, double& value) {
    if (text == nullptr || length == 0) return false;
    // A short decimal is its digits over a power of ten: both are doubles exactly (below 2^53,
    // and 10^22 at most), so the one correctly rounded division gives the correctly rounded
    // value, the very double the general reading below finds.
    static constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                              1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                              1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    bool negative = false;
    uint64_t digits = 0;
    int places = 0;
    if (PlainDecimalDigits(text, length, true, negative, digits, places) && digits < (uint64_t(1) << 53)) {
        const double v = double(digits) / kPowersOfTen[places];
        value = negative ? -v : v;
        return true;
    }
    const auto r = std::from_chars(text, text + length, value);
    return r.ec == std::errc() && r.ptr == text + length;
}

namespace {

// n digits at p as a number; -1 when one of them is not a digit.
int Digits(const char* p, int n) {
    // One test per character and one at the end: every time stamp of a result passes here.
    int v = 0;
    bool bad = false;
    for (int i = 0; i < n; ++i) {
        const unsigned d = unsigned(p[i]) - '0';
        bad |= d > 9;
        v = v * 10 + int(d);
    }
    return bad ? -1 : v;
}

// "hh:nn:ss[.fff...]" at p (at least 8 characters left): milliseconds of the day, or -1.
int TimeOfDayMs(const char* p, size_t left) {
    if (p[2] != ':' || p[5] != ':') return -1;
    const int h = Digits(p, 2), mi = Digits(p + 3, 2), sec = Digits(p + 6, 2);
    if (h < 0 || h > 23 || mi < 0 || mi > 59 || sec < 0 || sec > 59) return -1;
    int ms = 0;
    if (left > 9 && p[8] == '.') {
        int digits = 0;
        for (size_t i = 9; i < left && p[i] >= '0' && p[i] <= '9'; ++i)
            if (digits < 3) {
                ms = ms * 10 + (p[i] - '0');
                ++digits;
            }
        if (digits == 0) return -1;
        for (; digits < 3; ++digits)
            ms *= 10;
    }
    return ((h * 60 + mi) * 60 + sec) * 1000 + ms;
}

}  // namespace

bool ParseSqlTimeStamp(const char* text, size_t length, bool withDate, rtl::TTimeStamp& stamp) {
    if (text == nullptr) return false;
    if (!withDate) {
        if (length < 8) return false;
        const int ms = TimeOfDayMs(text, length);
        if (ms < 0) return false;
        stamp.Date = rtl::DateDelta;
        stamp.Time = ms;
        return true;
    }
    if (length < 10 || text[4] != '-' || text[7] != '-') return false;
    const int y = Digits(text, 4), mo = Digits(text + 5, 2), d = Digits(text + 8, 2);
    // Every month has 28 days: only later days ask the calendar.
    if (y < 1 || mo < 1 || mo > 12 || d < 1 || (d > 28 && d > rtl::DaysInMonth(y, mo))) return false;
    int ms = 0;
    if (length > 10) {
        if (text[10] != ' ' && text[10] != 'T') return false;
        if (length < 19) return false;
        ms = TimeOfDayMs(text + 11, length - 11);
        if (ms < 0) return false;
    }
    stamp.Date = rtl::DayNumberOfDate(y, mo, d);
    stamp.Time = ms;
    return true;
}

TSDDateTimeRec SqlTextToDateTimeRec(TFieldType fieldType, const char* text, size_t length) {
    rtl::TTimeStamp ts;
    if (ParseSqlTimeStamp(text, length, fieldType != ftTime, ts)) return TimeStampToRec(fieldType, ts);
    const std::string value(text != nullptr ? text : "", text != nullptr ? length : 0);
    return DateTimeToRec(fieldType, fieldType == ftTime ? SqlTextToTimeMs(value) : SqlTextToDateTimeMs(value));
}
