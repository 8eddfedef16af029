// rtl/Bcd.cpp: packed decimals.
#include "rtl/Bcd.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace rtl {

namespace {

// The packed decimal of a run of digits (the precision is their count), with its places and
// sign; a zero is never negative.
TBcd PackDigits(const std::string& digits, int places, bool negative) {
    TBcd out;
    out.Precision = uint8_t(digits.size());
    const bool zero = digits.find_first_not_of('0') == std::string::npos;
    out.SignSpecialPlaces = uint8_t(places) | (negative && !zero ? 0x80 : 0);
    for (size_t i = 0; i < digits.size(); ++i) {
        const uint8_t d = uint8_t(digits[i] - '0');
        if (i % 2 == 0)
            out.Fraction[i / 2] = uint8_t(d << 4);
        else
            out.Fraction[i / 2] |= d;
    }
    return out;
}

}  // namespace

bool CurrencyToBcd(int64_t scaled, TBcd& bcd, int precision, int decimals) {
    if (precision < 1 || precision > 64 || decimals < 0 || decimals > 63 || decimals > precision)
        return false;
    const bool negative = scaled < 0;
    // Magnitude as unsigned, so that the smallest 64-bit value has one too.
    uint64_t mag = negative ? uint64_t(0) - uint64_t(scaled) : uint64_t(scaled);
    std::string digits;  // the integer part, then exactly `decimals` fraction digits
    if (decimals < 4) {
        uint64_t div = 1;
        for (int i = decimals; i < 4; ++i)
            div *= 10;
        const uint64_t rem = mag % div;
        mag /= div;
        if (rem * 2 >= div) ++mag;
        digits = std::to_string(mag);
        if (int(digits.size()) < decimals + 1) digits.insert(0, size_t(decimals + 1) - digits.size(), '0');
    } else {
        digits = std::to_string(mag);
        if (digits.size() < 5) digits.insert(0, 5 - digits.size(), '0');
        digits.append(size_t(decimals - 4), '0');
    }
    std::string intPart = digits.substr(0, digits.size() - size_t(decimals));
    const std::string fracPart = digits.substr(digits.size() - size_t(decimals));
    while (intPart.size() > 1 && intPart[0] == '0')
        intPart.erase(0, 1);
    if (intPart == "0") intPart.clear();
    const int intDigits = precision - decimals;
    if (int(intPart.size()) > intDigits) return false;
    const std::string all = std::string(size_t(intDigits) - intPart.size(), '0') + intPart + fracPart;
    bcd = PackDigits(all, decimals, negative && mag != 0);
    return true;
}

bool BcdToCurrency(const TBcd& bcd, int64_t& scaled) {
    const int precision = bcd.Precision;
    const int places = bcd.SignSpecialPlaces & 0x3F;
    if (precision < 1 || precision > 64 || places > precision) return false;
    // Accumulate integer digits and the first four places, as a count of ten-thousandths.
    unsigned __int128 acc = 0;
    const int intDigits = precision - places;
    for (int i = 0; i < precision; ++i) {
        const uint8_t byte = bcd.Fraction[i / 2];
        const int d = (i % 2 == 0) ? (byte >> 4) : (byte & 0x0F);
        if (d > 9) return false;
        if (i >= intDigits + 4) break;
        acc = acc * 10 + unsigned(d);
        if (acc > (unsigned __int128)INT64_MAX + 1) return false;  // grows only; no wrap-around later
    }
    const int kept = std::min(places, 4);
    for (int i = kept; i < 4; ++i)
        acc *= 10;
    const unsigned __int128 limit = (unsigned __int128)INT64_MAX + ((bcd.SignSpecialPlaces & 0x80) ? 1 : 0);
    if (acc > limit) return false;
    scaled = (bcd.SignSpecialPlaces & 0x80) ? int64_t(0 - uint64_t(acc)) : int64_t(acc);
    return true;
}

bool TextToBcd(std::string_view text, TBcd& bcd, int places) {
    if (places < 0 || places > 63) return false;
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::string whole;
    std::string fraction;
    bool point = false;
    bool digit = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9') return false;
        digit = true;
        (point ? fraction : whole) += c;
    }
    if (!digit) return false;
    while (!whole.empty() && whole[0] == '0')
        whole.erase(0, 1);
    while (int(fraction.size()) > places) {
        if (fraction.back() != '0') return false;
        fraction.pop_back();
    }
    fraction.append(size_t(places) - fraction.size(), '0');
    if (whole.empty()) whole = "0";
    const std::string all = whole + fraction;
    if (all.size() > 64) return false;
    bcd = PackDigits(all, places, negative);
    return true;
}

std::string BcdToText(const TBcd& bcd) {
    const int precision = bcd.Precision;
    const int places = bcd.SignSpecialPlaces & 0x3F;
    if (precision < 1 || precision > 64 || places > precision) return "";
    std::string digits;
    for (int i = 0; i < precision; ++i) {
        const uint8_t byte = bcd.Fraction[i / 2];
        const int d = (i % 2 == 0) ? (byte >> 4) : (byte & 0x0F);
        if (d > 9) return "";
        digits += char('0' + d);
    }
    std::string whole = digits.substr(0, size_t(precision - places));
    while (whole.size() > 1 && whole[0] == '0')
        whole.erase(0, 1);
    if (whole.empty()) whole = "0";
    const bool zero = digits.find_first_not_of('0') == std::string::npos;
    std::string text = ((bcd.SignSpecialPlaces & 0x80) && !zero ? "-" : "") + whole;
    if (places > 0) text += "." + digits.substr(size_t(precision - places));
    return text;
}

}  // namespace rtl
