// rtl/Format.cpp: the format directives, parsed as a small state machine over the pattern.
#include "rtl/Format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "rtl/Exception.h"
#include "rtl/Text.h"
#include "rtl/Unicode.h"

namespace rtl {

FormatSettingsRec FormatSettings;

namespace {

// The largest index, width or precision a pattern may give.
constexpr int kMaxNumber = 100000;

[[noreturn]] void Invalid(std::string_view pattern) {
    throw EConvertError("Format '" + std::string(pattern) + "' invalid or incompatible with argument");
}

std::string WithDecimalSeparator(std::string s) {
    if (FormatSettings.DecimalSeparator != '.')
        for (char& c : s)
            if (c == '.') c = FormatSettings.DecimalSeparator;
    return s;
}

// What every float directive shows for a value that is no number.
bool NotANumber(double v, std::string& out) {
    if (std::isnan(v))
        out = "NAN";
    else if (std::isinf(v))
        out = v < 0 ? "-INF" : "INF";
    else
        return false;
    return true;
}

// printf of one double into a string as long as the result needs: 1e308 with many
// decimals runs to hundreds of characters, and a fixed buffer would cut it silently.
std::string Printed(const char* spec, int prec, double v) {
    const int n = std::snprintf(nullptr, 0, spec, prec, v);
    if (n < 0) throw EConvertError("Cannot format the number");
    std::string s(size_t(n) + 1, '\0');
    std::snprintf(s.data(), s.size(), spec, prec, v);
    s.resize(size_t(n));
    return s;
}

// True when v lies exactly half-way between two neighbours with `prec` decimals. v is
// m / 2^k with m odd; v * 10^prec = m * 5^prec / 2^(k - prec) ends in exactly .5 only when
// k == prec + 1, that is when v * 2^(prec+1) is whole and v * 2^prec is not.
bool HalfWay(double v, int prec) {
    if (prec > 1100) return false;  // a double has at most 1074 binary fraction digits
    const double a = std::ldexp(v, prec + 1);
    const double b = std::ldexp(v, prec);
    return std::trunc(a) == a && std::trunc(b) != b;
}

// Fixed point with prec decimals. A value exactly half-way rounds away from zero, as the
// original's float formatting does ("%.0f" of 2.5 is "3", "%.2f" of 0.125 is "0.13");
// printf alone would round such ties to even.
std::string Fixed(double v, int prec) {
    std::string s;
    if (NotANumber(v, s)) return s;
    if (HalfWay(v, prec)) v = std::nextafter(v, v < 0 ? -HUGE_VAL : HUGE_VAL);
    return Printed("%.*f", prec, v);
}

// "d.ddd…E+ddd" with `digits` significant digits and at least three exponent digits.
std::string Scientific(double v, int digits) {
    if (digits < 1) digits = 1;
    std::string s;
    if (NotANumber(v, s)) return s;
    s = Printed("%.*E", digits - 1, v);
    const size_t e = s.find('E');
    std::string mant = s.substr(0, e + 2);  // includes the sign of the exponent
    std::string exp = s.substr(e + 2);
    while (exp.size() < 3)
        exp.insert(0, "0");
    return mant + exp;
}

// The shorter of fixed and scientific with `digits` significant digits, trailing zeros removed.
std::string General(double v, int digits) {
    std::string s;
    if (NotANumber(v, s)) return s;
    if (digits < 1 || digits > 18) digits = 15;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*E", digits - 1, v);
    const int exponent = std::atoi(std::strchr(buf, 'E') + 1);
    if (exponent < -5 || exponent >= digits) {
        std::string m(buf, std::strchr(buf, 'E'));
        if (m.find('.') != std::string::npos) {
            while (m.back() == '0')
                m.pop_back();
            if (m.back() == '.') m.pop_back();
        }
        s = m + "E" + (exponent < 0 ? "-" : "+") + std::to_string(std::abs(exponent));
    } else {
        const int decimals = std::max(0, digits - 1 - exponent);
        s = Fixed(v, decimals);
        if (s.find('.') != std::string::npos) {
            while (s.back() == '0')
                s.pop_back();
            if (s.back() == '.') s.pop_back();
        }
        if (s == "-0") s = "0";
    }
    return s;
}

std::string Thousands(const std::string& fixed) {
    size_t start = (fixed[0] == '-') ? 1 : 0;
    size_t dot = fixed.find('.');
    if (dot == std::string::npos) dot = fixed.size();
    std::string intpart = fixed.substr(start, dot - start);
    std::string grouped;
    for (size_t i = 0; i < intpart.size(); ++i) {
        if (i > 0 && (intpart.size() - i) % 3 == 0) grouped += FormatSettings.ThousandSeparator;
        grouped += intpart[i];
    }
    std::string frac = fixed.substr(dot);
    if (!frac.empty()) frac[0] = FormatSettings.DecimalSeparator;
    return fixed.substr(0, start) + grouped + frac;
}

// Widths and text precisions count characters, as they did in the original's 8-bit text:
// a UTF-8 letter is one, however many bytes it takes (a byte that is not UTF-8 is one too).
size_t CharCount(std::string_view s) {
    size_t n = 0;
    for (size_t i = 0; i < s.size(); ++n)
        DecodeUtf8(s, i);
    return n;
}

// The first n characters of s, never ending inside one.
std::string_view FirstChars(std::string_view s, size_t n) {
    size_t i = 0;
    for (; n > 0 && i < s.size(); --n)
        DecodeUtf8(s, i);
    return s.substr(0, i);
}

uint64_t AsUnsigned(const FormatArg& a) {
    if (a.kind() == FormatArg::Kind::UInt) return a.AsUInt();
    const int64_t v = a.AsInt();
    // A negative 32-bit value shows as its 32-bit pattern, as the original's 32-bit integers do.
    if (v < 0 && v >= INT32_MIN) return uint32_t(int32_t(v));
    return uint64_t(v);
}

}  // namespace

std::string FormatV(std::string_view pattern, std::span<const FormatArg> args) {
    std::string out;
    size_t next = 0;  // index of the next argument
    auto take = [&](size_t index) -> const FormatArg& {
        if (index >= args.size()) Invalid(pattern);
        return args[index];
    };
    // A "*" takes its number from the arguments. It is held to the bound of a written number:
    // a value past it (or past 32 bits) would ask for gigabytes of padding or be cut into
    // some other number.
    auto takeInt = [&]() -> int {
        const FormatArg& a = take(next++);
        if (a.kind() == FormatArg::Kind::Int && a.AsInt() >= -kMaxNumber && a.AsInt() <= kMaxNumber)
            return int(a.AsInt());
        if (a.kind() == FormatArg::Kind::UInt && a.AsUInt() <= uint64_t(kMaxNumber)) return int(a.AsUInt());
        Invalid(pattern);
    };

    size_t i = 0;
    while (i < pattern.size()) {
        const char c = pattern[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        ++i;
        if (i >= pattern.size()) Invalid(pattern);
        if (pattern[i] == '%') {
            out += '%';
            ++i;
            continue;
        }

        // [index ":"] ["-"] [width] ["." prec] type
        bool left = false;
        int width = -1, prec = -1;
        auto number = [&]() -> int {
            if (i < pattern.size() && pattern[i] == '*') {
                ++i;
                return takeInt();
            }
            int n = -1;
            while (i < pattern.size() && pattern[i] >= '0' && pattern[i] <= '9') {
                n = (n < 0 ? 0 : n) * 10 + (pattern[i] - '0');
                if (n > kMaxNumber) Invalid(pattern);
                ++i;
            }
            return n;
        };
        int first = number();
        if (i < pattern.size() && pattern[i] == ':') {
            if (first < 0) Invalid(pattern);
            next = size_t(first);
            ++i;
            first = -1;
        }
        if (first < 0) {
            if (i < pattern.size() && pattern[i] == '-') {
                left = true;
                ++i;
            }
            width = number();
        } else {
            width = first;
        }
        if (i < pattern.size() && pattern[i] == '.') {
            ++i;
            prec = number();
            if (prec < 0) prec = 0;
        }
        if (i >= pattern.size()) Invalid(pattern);
        const char type = char(pattern[i] | 0x20);  // the type letter in any case
        ++i;

        const FormatArg& a = take(next++);
        std::string piece;
        switch (type) {
            case 'd': {
                if (a.kind() != FormatArg::Kind::Int && a.kind() != FormatArg::Kind::UInt) Invalid(pattern);
                const bool neg = a.kind() == FormatArg::Kind::Int && a.AsInt() < 0;
                const uint64_t mag = a.kind() == FormatArg::Kind::UInt ? a.AsUInt()
                                     : neg                             ? uint64_t(0) - uint64_t(a.AsInt())
                                                                       : uint64_t(a.AsInt());
                std::string digits = std::to_string(mag);
                if (prec > 0 && int(digits.size()) < prec)
                    digits.insert(0, size_t(prec) - digits.size(), '0');
                piece = (neg ? "-" : "") + digits;
                break;
            }
            case 'u': {
                if (a.kind() != FormatArg::Kind::Int && a.kind() != FormatArg::Kind::UInt) Invalid(pattern);
                std::string digits = std::to_string(AsUnsigned(a));
                if (prec > 0 && int(digits.size()) < prec)
                    digits.insert(0, size_t(prec) - digits.size(), '0');
                piece = digits;
                break;
            }
            case 'x': {
                if (a.kind() != FormatArg::Kind::Int && a.kind() != FormatArg::Kind::UInt) Invalid(pattern);
                piece = IntToHex(AsUnsigned(a), prec);
                break;
            }
            case 'p': {
                if (a.kind() != FormatArg::Kind::Pointer) Invalid(pattern);
                piece = IntToHex(a.AsUInt(), int(sizeof(void*) * 2));
                break;
            }
            case 's': {
                if (a.kind() != FormatArg::Kind::String) Invalid(pattern);
                std::string_view s = a.AsString();
                if (prec >= 0) s = FirstChars(s, size_t(prec));
                piece = std::string(s);
                break;
            }
            case 'f':
            case 'n':
            case 'e':
            case 'g': {
                if (a.kind() != FormatArg::Kind::Float) Invalid(pattern);
                const double v = a.AsFloat();
                if (type == 'f')
                    piece = Fixed(v, prec < 0 ? 2 : prec);
                else if (type == 'n')
                    piece = Thousands(Fixed(v, prec < 0 ? 2 : prec));
                else if (type == 'e')
                    piece = Scientific(v, prec < 0 ? 15 : prec);
                else
                    piece = General(v, prec < 0 ? 15 : prec);
                if (type != 'n') piece = WithDecimalSeparator(piece);
                break;
            }
            default:
                Invalid(pattern);
        }
        if (width > 0) {
            const size_t chars = CharCount(piece);
            if (chars < size_t(width)) {
                if (left)
                    piece.append(size_t(width) - chars, ' ');
                else
                    piece.insert(0, size_t(width) - chars, ' ');
            }
        }
        out += piece;
    }
    return out;
}

std::string FloatToStr(double v) {
    return WithDecimalSeparator(General(v, 15));
}

}  // namespace rtl
