// rtl/Format.h: the system's checked text formatting.
//
// Format(pattern, args...) implements the original's format directives:
//
//   "%" [index ":"] ["-"] [width] ["." precision] type      (index, width, precision may be "*")
//
//   d  signed integer; the precision is the least number of digits ("%.3d" of 7 -> "007")
//   u  unsigned integer (a negative 32-bit value is taken as its unsigned bit pattern)
//   x  upper-case hexadecimal; the precision is the least number of digits ("%.8x")
//   s  text (also a single character); the precision is the most characters shown (UTF-8
//      characters, never cut in the middle)
//   f  fixed point, precision decimals (2 by default); a value exactly half-way rounds away
//      from zero ("%.0f" of 2.5 is "3")
//   n  as f, with thousands separators
//   e  scientific "d.ddd…E+ddd", precision significant digits (15 by default)
//   g  the shorter of f and e, precision significant digits (15 by default)
//   p  pointer, as hexadecimal digits
//   %% a percent sign
// A float that is no number shows as "NAN", "INF" or "-INF" under every float directive.
//
// The width, counted in characters, pads with blanks on the left ("-" pads on the right). A directive whose
// argument is missing or of the wrong kind, or whose index, width or precision (written or taken by
// "*") is above 100000, raises rtl::EConvertError; arguments left over are ignored.
// Patterns chosen at run time (catalogue texts) are safe here: they never reach printf.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace rtl {

// The separators the original takes from the workstation's locale.
struct FormatSettingsRec {
    char DecimalSeparator = '.';
    char ThousandSeparator = ',';
    char DateSeparator = '/';
    char TimeSeparator = ':';
};
extern FormatSettingsRec FormatSettings;

class FormatArg {
public:
    enum class Kind { Int, UInt, Float, String, Pointer };

    template <typename T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char>)
        FormatArg(T v) {  // NOLINT(google-explicit-constructor)
        if constexpr (std::is_signed_v<T>) {
            kind_ = Kind::Int;
            i_ = v;
        } else {
            kind_ = Kind::UInt;
            u_ = v;
        }
    }
    FormatArg(bool) = delete;
    FormatArg(char c) : kind_(Kind::String), s_(&c_, 1), c_(c) {}
    FormatArg(double v) : kind_(Kind::Float), f_(v) {}
    FormatArg(float v) : kind_(Kind::Float), f_(v) {}
    FormatArg(long double v) : kind_(Kind::Float), f_(double(v)) {}
    FormatArg(const char* s) : kind_(Kind::String), s_(s ? s : "") {}
    FormatArg(const std::string& s) : kind_(Kind::String), s_(s) {}
    FormatArg(std::string_view s) : kind_(Kind::String), s_(s) {}
    FormatArg(const void* p) : kind_(Kind::Pointer), u_(reinterpret_cast<uintptr_t>(p)) {}

    FormatArg(const FormatArg& o) : kind_(o.kind_), i_(o.i_), u_(o.u_), f_(o.f_), s_(o.s_), c_(o.c_) {
        if (o.s_.data() == &o.c_) s_ = std::string_view(&c_, 1);
    }
    FormatArg& operator=(const FormatArg&) = delete;

    Kind kind() const { return kind_; }
    int64_t AsInt() const { return i_; }
    uint64_t AsUInt() const { return u_; }
    double AsFloat() const { return f_; }
    std::string_view AsString() const { return s_; }

private:
    Kind kind_;
    int64_t i_ = 0;
    uint64_t u_ = 0;
    double f_ = 0;
    std::string_view s_;
    char c_ = 0;
};

std::string FormatV(std::string_view pattern, std::span<const FormatArg> args);

template <typename... Args>
std::string Format(std::string_view pattern, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
        return FormatV(pattern, {});
    } else {
        const FormatArg list[] = {FormatArg(args)...};
        return FormatV(pattern, std::span<const FormatArg>(list, sizeof...(Args)));
    }
}

// Number to text as the original's FloatToStr does: up to 15 significant digits, no
// trailing zeros, the decimal separator of FormatSettings.
std::string FloatToStr(double v);

}  // namespace rtl
