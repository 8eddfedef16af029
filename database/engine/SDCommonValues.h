// database/engine/SDCommonValues.h: values as the drivers and the engine exchange them (part of
// unit SDCommon).
//
// Servers that answer in text (MySQL, PostgreSQL) have their texts turned into values here;
// the engine's locate, filter and generated updates compare values with CompareVariants and
// SameVariantValues; the SQL Server, Sybase, ODBC and OLE DB drivers write binary values and
// GUIDs as text.
//
// Text comparison used by both comparisons ("the workstation's order"): letters compare
// alphabetically whatever their case (ASCII and Latin-1 letters folded), and when two texts
// differ only in case, a lower-case letter comes before the upper-case one.
#pragma once

#include <cstdint>
#include <string>

#include "database/engine/SDCommonBuffers.h"
#include "rtl/Bcd.h"
#include "rtl/DateTime.h"
#include "rtl/DbParams.h"
#include "rtl/Variant.h"

// "yyyy-mm-dd[ hh:nn:ss]" read at fixed positions; out-of-range parts are limited (month to
// 1..12, day to the month's days, hour/minute/second to 23/59/59), malformed ones take their
// defaults; rtl::EConvertError only for a year above 9999.
rtl::TDateTime SqlTextToDateTime(const std::string& text);
// "hh:nn:ss" alone gives a time of day, "yyyy-mm-dd" alone a date, both a date and time.
rtl::TDateTime SqlTextToTime(const std::string& text);
// "," and "." both read as the decimal separator; "" gives 0; malformed text the default.
double SqlTextToFloat(const std::string& text, double defaultValue);
// "true" or "yes" in any case, or exactly one of 1 T Y t y.
bool SqlTextToBoolean(const std::string& text);

// Negative, 0 or positive. Nulls sort first; arrays compare element by element over V1's
// elements; two texts compare in the workstation's order; other values by the class
// library's variant comparison.
int CompareVariants(const rtl::Variant& v1, const rtl::Variant& v2, bool caseInsensitive);
// Locate's, the filter's and the update generator's equality. With PartialKey two texts
// match when V1 begins with V2 (PrefixMatch) or equals it; non-text elements are compared as
// texts then.
bool SameVariantValues(const rtl::Variant& v1, const rtl::Variant& v2, bool caseInsensitive, bool partialKey,
                       bool prefixMatch);

// "0x" and two lower-case hexadecimal digits per byte of a text or byte array (array
// elements count by their low 8 bits); "NULL" for null or no bytes.
std::string VariantToHexLiteral(const rtl::Variant& value);
// Writes 38 characters "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (no zero) for a 16-byte GUID
// in its binary layout (first three groups little-endian); rtl::EAssertionFailed when the
// GUID is shorter than 16 bytes or the destination holds fewer than 38 characters.
void GuidToChars(const uint8_t* guid, int guidSize, char* dest, int destSize);
// Bits 4n..4n+3; rtl::ERangeError "Byte number has to be in 0-7 range " outside 0..7.
int NibbleOf(uint32_t value, int n);
char HexDigitOf(uint32_t value, int n);

using rtl::CurrencyToBcd;
// Sets a parameter's value from a date-time record of the parameter's data type.
void SetParamDateTimeRec(rtl::Param& param, const TSDDateTimeRec& rec);
