// rtl/Bcd.h: the class library's packed decimal (TBcd) and its currency conversions.
//
// Layout, 34 bytes: Precision (total number of digits, 1..64), SignSpecialPlaces (bit 7 the
// sign, 1 = negative; bit 6 a special value; bits 0-5 the number of digits after the decimal
// point), then Fraction: the digits, two per byte, most significant first, high nibble
// before low nibble, starting with the first of the Precision digits; unused nibbles are 0.
// Drivers read and write it byte by byte in parameter and field cells.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rtl {

struct TBcd {
    uint8_t Precision = 0;
    uint8_t SignSpecialPlaces = 0;
    uint8_t Fraction[32] = {};
};
static_assert(sizeof(TBcd) == 34);

// A currency amount (times 10000) as a packed decimal of the given precision and places.
// Places beyond four are zeros; fewer places round the amount half away from zero. False
// when the integer part does not fit in Precision - Decimals digits or the sizes are out of
// range (precision 1..64, decimals 0..63 and not above the precision).
bool CurrencyToBcd(int64_t scaled, TBcd& bcd, int precision, int decimals);
// A packed decimal as a currency amount (times 10000), digits past the fourth place cut
// off; false when it does not fit.
bool BcdToCurrency(const TBcd& bcd, int64_t& scaled);
// An exact decimal text ("-123.45", "+0.5", "12", ".5") as a packed decimal with exactly
// `places` digits after the point (fewer are padded with zeros), its precision the integer
// digits (at least one) and the places. False for any other text (an exponent, blanks, a
// second point), for more places than asked unless the extra ones are zeros, and beyond 64
// digits: nothing is rounded.
bool TextToBcd(std::string_view text, TBcd& bcd, int places);
// The exact text of a packed decimal: "-" for a negative value that is not zero, the integer
// digits without leading zeros (at least "0"), then "." and every place when it has any; ""
// for a malformed value (a digit above 9, places beyond the precision).
std::string BcdToText(const TBcd& bcd);

}  // namespace rtl
