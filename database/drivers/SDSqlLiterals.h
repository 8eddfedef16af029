// database/drivers/SDSqlLiterals.h: parameter values written into statement texts, and the
// texts servers send back read as values, for the drivers whose client libraries take no
// bound parameters (PostgreSQL, MySQL) or read dates as text.
//
// What must stay true:
//   - a statement is built in one pass over the text the user wrote: every marker outside
//     the literals is replaced by its parameter's literal, and nothing that was substituted
//     is read again, so a value that holds quotes, backslashes or something looking like a
//     marker can never end its literal early or turn into SQL;
//   - every number is written from its value, never from a text the caller put in: an
//     integer parameter holding "1; drop table t" is refused, not pasted;
//   - a float reads back as the same double, a currency as the same scaled integer, and a
//     date-time keeps its milliseconds.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "database/engine/SDCommonCommand.h"
#include "database/engine/SDCommonSlots.h"
#include "rtl/DateTime.h"

// Makes the literal of one parameter's value.
using TSDLiteralMaker = std::function<std::string(const TParam& param)>;

// The text with each marker replaced by the literal of its parameter. Markers are the
// library's (FindParamMarkers): ":name" or ":\"name\"" outside apostrophe and double-quote
// literals, not doubled, not the colon of an array slice, the name a run of name characters;
// names compare without case, and of two parameters of one name the last one counts. A
// marker without a parameter stays as it is.
std::string SubstituteParamLiterals(const std::string& text, const TParams* params, const TSDLiteralMaker& literal);

// The value as a decimal integer; EDatabaseError naming the parameter when it holds no
// integer.
std::string IntegerLiteral(const TParam& param);
// The shortest decimal text that reads back as the same double ("1.5", "1e+300"); "." is
// the separator whatever the locale. EDatabaseError for NaN and infinities, which have no
// literal in SQL.
std::string FloatLiteral(double value);
// A currency's scaled value (units of 1/10000) as an exact decimal: 123456 gives "12.3456".
std::string CurrencyLiteral(int64_t scaled);
// An ftBCD parameter's value as an exact decimal: a decimal text (what a field past a
// currency's range holds) as it stands, checked; any other value as its currency.
std::string BcdLiteral(const TParam& param);

// The parts of a parameter's literal that differ between the servers' dialects.
struct TSqlLiteralDialect {
    const char* trueText;   // a Boolean's literals
    const char* falseText;
    std::function<std::string(const rtl::ByteArray&)> bytes;  // ftBytes, ftVarBytes, ftBlob
    std::function<std::string(const std::string&)> text;      // every other type, as text
};
// The literal of one parameter's value: NULL, a number written from its value, a quoted date
// or time, or the dialect's Boolean, byte-string and text literals.
std::string ParamLiteral(const TParam& param, const TSqlLiteralDialect& dialect);

// With "ENABLE BCD", an exact numeric column of a server that sends its values as decimal
// text is ftBCD when it has 1 to 4 places and at most 64 digits (a packed decimal's); else
// ftFloat, as without the option.
bool DecimalColumnIsBcd(bool enableBcd, int64_t precision, int64_t scale);
// Stores a decimal column's text in the engine's layout: a packed decimal of the column's
// places, or a double for a destination too small for one (the command's own numeric
// readers). EDatabaseError naming the field for a text that is no decimal of those places
// (PostgreSQL's NaN).
void StoreDecimalText(const TSDFieldDesc& desc, const char* text, size_t length, void* dest,
                      int32_t destSize);
// "yyyy-mm-dd", then " hh:nn:ss" when the value has a time of day, then ".zzz" when it has
// milliseconds; a value whose whole part is 0 (a time alone) has the date "1899-12-30". No
// quotes.
std::string DateTimeLiteralText(rtl::TDateTime value);
// The time of day of a time parameter, "hh:nn:ss" and ".zzz" when it has milliseconds, also at
// midnight: a time compared with or stored in a TIME column carries its time part, and no
// date (MariaDB finds no TIME value equal to a text that starts with a date).
std::string TimeLiteralText(rtl::TDateTime value);

// SqlTextToDateTime and SqlTextToTime, keeping the fraction of a second that follows the
// seconds ("12:30:15.75" gives 750 ms; digits past the third are dropped).
rtl::TDateTime SqlTextToDateTimeMs(const std::string& text);
rtl::TDateTime SqlTextToTimeMs(const std::string& text);

// Values of the servers' text forms, read without copying the text (rows are read column by
// column, so these run once per value). Each answers false for a text it does not take whole;
// the drivers then fall back to the library's lenient rules above.
bool ParseSqlInt64(const char* text, size_t length, int64_t& value);
bool ParseSqlDouble(const char* text, size_t length, double& value);
// "yyyy-mm-dd", "yyyy-mm-dd hh:nn:ss[.fff...]" (withDate) or "hh:nn:ss[.fff...]" with valid
// parts; what follows the seconds or their fraction (a time zone) is not read.
bool ParseSqlTimeStamp(const char* text, size_t length, bool withDate, rtl::TTimeStamp& stamp);

// The record of a server's date, time or time-stamp text (ftTime reads a time of day, ftDate
// and ftDateTime a date with an optional time), milliseconds kept.
TSDDateTimeRec SqlTextToDateTimeRec(TFieldType fieldType, const char* text, size_t length);

// A server's text of a value in the engine's layout for its field, for the drivers whose
// clients send every value as text (what their GetCnvtFieldData give): an integer in its
// type's range (0 outside it, or for no number), a double (the library's lenient reading as
// the fallback), a date or time with its milliseconds, a decimal as a packed decimal (or a
// double where the destination has no room for one), a text cut to the destination with its
// zero, anything else copied as it came. What is the server's own comes from Forms:
//   static constexpr const char* kCaller         names the driver in a failed size check
//   static constexpr TSDServerType kServer       whose long values are read through blob slots
//   static constexpr bool kTextAtColumnSize      a text is cut at its column's size too
//   bool IsTrue(text, length)                    a Boolean's text
//   double ToDouble(desc, text, length)          a float's or currency's text
//   bool TrimFixedChar()                         a fixed-length column's trailing blanks go
// Answers false for a long value (read through its blob slot instead).
template <typename Forms>
[[gnu::always_inline]] inline bool StoreSqlTextValue(const TSDFieldDesc& desc, const char* value,
                                                     size_t length, void* dest, int32_t destSize,
                                                     const Forms& forms) {
    const TFieldType type = desc.FieldType;
    // One switch per value: the types read from their text first.
    int64_t whole = 0;
    switch (type) {
        case ftSmallint:
            StoreSlotValue(
                dest, destSize,
                int16_t(ParseSqlInt64(value, length, whole) && whole >= INT16_MIN && whole <= INT16_MAX
                            ? whole
                            : 0),
                Forms::kCaller, "ftSmallint");
            return true;
        case ftInteger:
        case ftAutoInc:
            StoreSlotValue(
                dest, destSize,
                int32_t(ParseSqlInt64(value, length, whole) && whole >= INT32_MIN && whole <= INT32_MAX
                            ? whole
                            : 0),
                Forms::kCaller, "ftInteger");
            return true;
        case ftBoolean:
            StoreSlotValue(dest, destSize, int16_t(forms.IsTrue(value, length) ? 1 : 0), Forms::kCaller,
                           "ftBoolean");
            return true;
        case ftFloat:
        case ftCurrency:
            StoreSlotValue(dest, destSize, forms.ToDouble(desc, value, length), Forms::kCaller, "ftFloat");
            return true;
        case ftDate:
        case ftDateTime:
        case ftTime:
            StoreDateTimeRec(type, SqlTextToDateTimeRec(type, value, length), dest, destSize);
            return true;
        case ftLargeint:
            StoreSlotValue(dest, destSize, ParseSqlInt64(value, length, whole) ? whole : int64_t(0),
                           Forms::kCaller, "ftLargeint");
            return true;
        case ftBCD:
            StoreDecimalText(desc, value, length, dest, destSize);
            return true;
        default:
            break;
    }
    // Texts, the usual rest, are no long values.
    if (type == ftString) {
        const size_t n =
            Forms::kTextAtColumnSize ? std::min(length, size_t(std::max(desc.DataSize, 0))) : length;
        // Only fixed-length columns are padded by the server; the blanks of a varying column
        // are the value's own.
        StoreTextSlot(dest, destSize, value, n, desc.IsFixedChar && forms.TrimFixedChar());
        return true;
    }
    if (IsBlobFieldType(Forms::kServer, type)) return false;
    if (destSize > 0) std::memcpy(dest, value, std::min(length, size_t(destSize)));
    return true;
}
