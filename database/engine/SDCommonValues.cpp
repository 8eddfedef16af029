// database/engine/SDCommonValues.cpp: text-to-value conversions, value comparisons, hex and GUID texts.
#include "database/engine/SDCommonValues.h"

#include <algorithm>
#include <charconv>

#include "database/engine/SDCommon.h"
#include "rtl/Assert.h"
#include "rtl/Bytes.h"
#include "rtl/DatabaseError.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

// Characters from..from+count-1 (1-based), as much of them as the text has.
std::string Chars(const std::string& text, size_t from, size_t count) {
    if (from < 1 || from > text.size()) return "";
    return text.substr(from - 1, count);
}

// A part of a date or time: decimal (else the default), taken as unsigned 16 bits.
int Part(const std::string& text, size_t from, size_t count, int def) {
    return int(uint16_t(rtl::StrToIntDef(Chars(text, from, count), def)));
}

rtl::TDateTime DatePart(const std::string& text) {
    const int year = std::max(Part(text, 1, 4, 1), 1);
    const int month = std::min(std::max(Part(text, 6, 2, 1), 1), 12);
    const int dim = DaysInMonth(month, year);
    const int day = std::min(std::max(Part(text, 9, 2, 1), 1), dim);
    return rtl::EncodeDate(year, month, day);
}

// hh:nn:ss at positions 1, 4 and 7 of the text.
rtl::TDateTime TimePart(const std::string& text) {
    const int hour = std::min(Part(text, 1, 2, 0), 23);
    const int minute = std::min(Part(text, 4, 2, 0), 59);
    const int second = std::min(Part(text, 7, 2, 0), 59);
    return rtl::EncodeTime(hour, minute, second, 0);
}

rtl::TDateTime AddTime(rtl::TDateTime date, rtl::TDateTime time) {
    return date < 0 ? date - time : date + time;
}

int Sign(int v) {
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

// The workstation's order (see the header).
int CompareTexts(const std::string& a, const std::string& b, bool ignoreCase) {
    const int c = Sign(rtl::CompareText(a, b));
    if (c != 0 || ignoreCase) return c;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (a[i] != b[i]) return static_cast<unsigned char>(a[i]) > static_cast<unsigned char>(b[i]) ? -1 : 1;
    return 0;
}

enum class TextMode { Plain, Matching };

// The text comparison core shared by both comparisons.
int TextCore(const std::string& s1, const std::string& s2, bool ignoreCase, TextMode mode, bool prefixMatch) {
    if (mode == TextMode::Plain) return CompareTexts(s1, s2, ignoreCase);
    if (!prefixMatch) return CompareTexts(s1, s2, ignoreCase) == 0 ? 0 : -1;
    const size_t n = std::min(s1.size(), s2.size());
    if (n == 0) {
        if (s1.size() < s2.size()) return -1;
        if (s2.size() < s1.size()) return 1;
        return 0;
    }
    if (s1.size() < s2.size()) return CompareTexts(s1, s2, ignoreCase);
    return CompareTexts(s1.substr(0, s2.size()), s2, ignoreCase);
}

bool SameElement(const rtl::Variant& a, const rtl::Variant& b, bool caseInsensitive, bool partialKey,
                 bool prefixMatch) {
    if (partialKey) {
        // Every element is compared as text with a partial key.
        return TextCore(a.AsString(), b.AsString(), caseInsensitive, TextMode::Matching, prefixMatch) == 0;
    }
    if (a.IsText() && b.IsText())
        return TextCore(a.AsString(), b.AsString(), caseInsensitive, TextMode::Plain, prefixMatch) == 0;
    return rtl::VarCompareValue(a, b) == rtl::VarRelation::Equal;
}

}  // namespace

rtl::TDateTime SqlTextToDateTime(const std::string& text) {
    rtl::TDateTime result = DatePart(text);
    if (text.size() > 11) result = AddTime(result, TimePart(Chars(text, 12, 8)));
    return result;
}

rtl::TDateTime SqlTextToTime(const std::string& text) {
    rtl::TDateTime date = 0;
    std::string rest = text;
    if (rest.size() > 9) {
        date = DatePart(rest);
        rest = Chars(rest, 12, 8);
    }
    if (rest.size() > 7) return AddTime(date, TimePart(rest));
    return date;
}

double SqlTextToFloat(const std::string& text, double defaultValue) {
    std::string t = text.substr(0, text.find('\0'));
    if (t.empty()) return 0;
    for (char& c : t)
        if (c == ',' || c == '.') c = rtl::FormatSettings.DecimalSeparator;
    // The class library's conversion: blanks around the number are allowed, the workstation's
    // decimal separator marks the fraction.
    std::string n = rtl::Trim(t);
    for (char& c : n)
        if (c == rtl::FormatSettings.DecimalSeparator) c = '.';
    if (n.empty()) return defaultValue;
    const char* b = n.data();
    const char* e = n.data() + n.size();
    if (*b == '+') ++b;
    double v = 0;
    auto [p, ec] = std::from_chars(b, e, v, std::chars_format::general);
    return ec == std::errc() && p == e ? v : defaultValue;
}

bool SqlTextToBoolean(const std::string& text) {
    if (rtl::SameText(text, "true") || rtl::SameText(text, "yes")) return true;
    return text.size() == 1 && std::string_view("1TYty").find(text[0]) != std::string_view::npos;
}

int CompareVariants(const rtl::Variant& v1, const rtl::Variant& v2, bool caseInsensitive) {
    if (v1.IsNull() && v2.IsNull()) return 0;
    if (v1.IsNull()) return -1;
    if (v2.IsNull()) return 1;
    if (v1.IsArray() || v2.IsArray()) {
        if (!v1.IsArray()) return CompareVariants(v1, v2.Element(v2.ArrayLowBound()), caseInsensitive);
        for (int i = v1.ArrayLowBound(); i <= v1.ArrayHighBound(); ++i) {
            const int r = CompareVariants(v1.Element(i), v2.IsArray() ? v2.Element(i) : v2, caseInsensitive);
            if (r != 0) return r;
        }
        return 0;
    }
    if (v1.IsText() && v2.IsText())
        return TextCore(v1.AsString(), v2.AsString(), caseInsensitive, TextMode::Plain, false);
    switch (rtl::VarCompareValue(v1, v2)) {
        case rtl::VarRelation::Equal:
            return 0;
        case rtl::VarRelation::Greater:
            return 1;
        default:
            return -1;
    }
}

bool SameVariantValues(const rtl::Variant& v1, const rtl::Variant& v2, bool caseInsensitive, bool partialKey,
                       bool prefixMatch) {
    if (v1.IsNull() != v2.IsNull()) return false;
    if (v1.IsArray() || v2.IsArray()) {
        if (!v1.IsArray() || !v2.IsArray() || v1.ArrayHighBound() != v2.ArrayHighBound()) return false;
        for (int i = v1.ArrayLowBound(); i <= v1.ArrayHighBound(); ++i)
            if (!SameElement(v1.Element(i), v2.Element(i), caseInsensitive, partialKey, prefixMatch))
                return false;
        return true;
    }
    if (v1.IsNull()) return true;  // two nulls are equal by the class library's comparison
    return SameElement(v1, v2, caseInsensitive, partialKey, prefixMatch);
}

std::string VariantToHexLiteral(const rtl::Variant& value) {
    if (value.IsEmptyOrNull()) return "NULL";
    rtl::ByteArray bytes;
    if (value.IsText() || value.IsArray()) {
        bytes = value.AsBytes();
    } else {
        const std::string text = value.AsString();  // one text, so both ends are of the same string
        bytes.assign(text.begin(), text.end());
    }
    if (bytes.empty()) return "NULL";
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "0x";
    out.reserve(2 + 2 * bytes.size());
    for (uint8_t b : bytes) {
        out += kHex[b >> 4];
        out += kHex[b & 0x0F];
    }
    return out;
}

void GuidToChars(const uint8_t* guid, int guidSize, char* dest, int destSize) {
    rtl::Assert(guid != nullptr && guidSize >= 16, "GuidToChars: a GUID needs 16 bytes");
    rtl::Assert(dest != nullptr && destSize >= 38, "GuidToChars: the destination needs 38 characters");
    const std::string text =
        "{" + rtl::IntToHex(rtl::load_le32(guid), 8) + "-" + rtl::IntToHex(rtl::load_le16(guid + 4), 4) +
        "-" + rtl::IntToHex(rtl::load_le16(guid + 6), 4) + "-" + rtl::IntToHex(rtl::load_be16(guid + 8), 4) +
        "-" + rtl::IntToHex(rtl::load_be16(guid + 10), 4) + rtl::IntToHex(rtl::load_be32(guid + 12), 8) + "}";
    std::copy(text.begin(), text.end(), dest);
}

int NibbleOf(uint32_t value, int n) {
    if (n < 0 || n > 7) throw rtl::ERangeError("Byte number has to be in 0-7 range ");
    return int((value >> (4 * n)) & 0x0F);
}

char HexDigitOf(uint32_t value, int n) {
    return "0123456789ABCDEF"[NibbleOf(value, n)];
}

void SetParamDateTimeRec(rtl::Param& param, const TSDDateTimeRec& rec) {
    param.SetValue(rtl::Variant::FromDateTime(DateTimeRecToDateTime(param.DataType(), rec)));
}
