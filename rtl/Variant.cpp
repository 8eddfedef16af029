// rtl/Variant.cpp: conversions and comparison of variant values.
#include "rtl/Variant.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "rtl/DateTime.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace rtl {

namespace {

[[noreturn]] void CastError(VarType from, const char* to) {
    throw EVariantTypeCastError(
        Format("Could not convert variant of type (%s) into type (%s)", VarTypeName(from), to));
}

// A text read as a number: blanks around it are ignored, and the workstation's decimal
// separator is accepted besides ".".
bool TextToDouble(std::string_view text, double& out) {
    std::string t = Trim(text);
    if (t.empty()) return false;
    for (char& c : t)
        if (c == FormatSettings.DecimalSeparator) c = '.';
    const char* b = t.data();
    const char* e = t.data() + t.size();
    if (*b == '+') ++b;
    auto [p, ec] = std::from_chars(b, e, out, std::chars_format::general);
    return ec == std::errc() && p == e;
}

int64_t RoundToInt64(double v, VarType from) {
    const double r = std::nearbyint(v);  // banker's rounding, as the class library rounds
    if (!std::isfinite(r) || r < -9.2233720368547758e18 || r >= 9.2233720368547758e18)
        CastError(from, "Int64");
    return int64_t(r);
}

// A currency amount (ten-thousandths) to a whole number, half to even on the exact count;
// through a double the last digits of large amounts would be lost.
int64_t CurrencyToWhole(int64_t scaled) {
    int64_t q = scaled / 10000;
    const int64_t r = scaled % 10000;  // same sign as scaled
    const int64_t half = r < 0 ? -r : r;
    if (half > 5000 || (half == 5000 && (q % 2) != 0)) q += scaled < 0 ? -1 : 1;
    return q;
}

// A currency amount as exact decimal text: the whole number and up to four places without
// trailing zeros. Through a double (15 significant digits) large amounts would lose digits.
std::string CurrencyToText(int64_t scaled) {
    const bool negative = scaled < 0;
    const uint64_t mag = negative ? uint64_t(0) - uint64_t(scaled) : uint64_t(scaled);
    std::string text = std::to_string(mag / 10000);
    if (const uint64_t frac = mag % 10000; frac != 0) {
        std::string places = std::to_string(frac);
        places.insert(0, 4 - places.size(), '0');
        while (places.back() == '0')
            places.pop_back();
        text += FormatSettings.DecimalSeparator;
        text += places;
    }
    return negative ? "-" + text : text;
}

int CompareBytes(const ByteArray& a, const ByteArray& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

VarRelation FromInt(int c) {
    return c == 0 ? VarRelation::Equal : (c < 0 ? VarRelation::Less : VarRelation::Greater);
}

template <typename T>
VarRelation Rel(T a, T b) {
    if (a == b) return VarRelation::Equal;
    return a < b ? VarRelation::Less : VarRelation::Greater;
}

}  // namespace

Variant::Variant(std::string v)
    : type_(VarType::String), s_(std::make_shared<const std::string>(std::move(v))) {}

Variant Variant::Null() {
    return Variant(VarType::Null, 0);
}

Variant Variant::FromWord(uint16_t w) {
    return Variant(VarType::Word, w);
}

Variant Variant::FromByte(uint8_t b) {
    return Variant(VarType::Byte, b);
}

Variant Variant::FromCurrency(int64_t scaled) {
    return Variant(VarType::Currency, scaled);
}

Variant Variant::FromDateTime(double dateTime) {
    Variant v;
    v.type_ = VarType::Date;
    v.d_ = dateTime;
    return v;
}

Variant Variant::FromBytes(ByteArray bytes) {
    Variant v;
    v.type_ = VarType::ByteArray;
    v.bytes_ = std::make_shared<const ByteArray>(std::move(bytes));
    return v;
}

Variant Variant::FromArray(std::vector<Variant> items) {
    Variant v;
    v.type_ = VarType::Array;
    v.items_ = std::make_shared<const std::vector<Variant>>(std::move(items));
    return v;
}

bool Variant::IsIntegral() const {
    switch (type_) {
        case VarType::Smallint:
        case VarType::Integer:
        case VarType::Int64:
        case VarType::Word:
        case VarType::Byte:
        case VarType::Boolean:
            return true;
        default:
            return false;
    }
}

bool Variant::IsNumeric() const {
    if (type_ == VarType::Boolean) return false;
    return IsIntegral() || type_ == VarType::Double || type_ == VarType::Currency || type_ == VarType::Date;
}

int Variant::ArrayHighBound() const {
    if (type_ == VarType::ByteArray) return int(bytes_->size()) - 1;
    if (type_ == VarType::Array) return int(items_->size()) - 1;
    throw EVariantError("Variant is not an array");
}

Variant Variant::Element(int index) const {
    if (index < 0 || index > ArrayHighBound())
        throw EVariantError("Variant or safe array index out of bounds");
    if (type_ == VarType::ByteArray) return FromByte((*bytes_)[size_t(index)]);
    return (*items_)[size_t(index)];
}

const ByteArray* Variant::Bytes() const {
    return type_ == VarType::ByteArray ? bytes_.get() : nullptr;
}

std::string Variant::AsString() const {
    switch (type_) {
        case VarType::Empty:
        case VarType::Null:
            return "";
        case VarType::Smallint:
        case VarType::Integer:
        case VarType::Int64:
        case VarType::Word:
        case VarType::Byte:
            return IntToStr(i_);
        case VarType::Boolean:
            return i_ ? "True" : "False";
        case VarType::Double:
            return FloatToStr(d_);
        case VarType::Currency:
            return CurrencyToText(i_);
        case VarType::Date:
            return DateTimeToStr(d_);
        case VarType::String:
            return *s_;
        case VarType::ByteArray:
            return std::string(bytes_->begin(), bytes_->end());
        case VarType::Array:
            break;
    }
    CastError(type_, "String");
}

int64_t Variant::AsInt64() const {
    switch (type_) {
        case VarType::Empty:
            return 0;
        case VarType::Null:
        case VarType::ByteArray:
        case VarType::Array:
            CastError(type_, "Int64");
        case VarType::Boolean:
            return i_ ? -1 : 0;
        case VarType::Double:
        case VarType::Date:
            return RoundToInt64(d_, type_);
        case VarType::Currency:
            return CurrencyToWhole(i_);
        case VarType::String: {
            int64_t v = 0;
            if (TryStrToInt64(Trim(*s_), v)) return v;
            double d = 0;
            if (TextToDouble(*s_, d)) return RoundToInt64(d, type_);
            CastError(type_, "Int64");
        }
        default:
            return i_;
    }
}

int32_t Variant::AsInteger() const {
    const int64_t v = AsInt64();
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        CastError(type_, "Integer");
    return int32_t(v);
}

double Variant::AsDouble() const {
    switch (type_) {
        case VarType::Empty:
            return 0;
        case VarType::Null:
        case VarType::ByteArray:
        case VarType::Array:
            CastError(type_, "Double");
        case VarType::Boolean:
            return i_ ? -1 : 0;
        case VarType::Double:
        case VarType::Date:
            return d_;
        case VarType::Currency:
            return double(i_) / 10000.0;
        case VarType::String: {
            double d = 0;
            if (TextToDouble(*s_, d)) return d;
            CastError(type_, "Double");
        }
        default:
            return double(i_);
    }
}

int64_t Variant::AsCurrency() const {
    if (type_ == VarType::Currency) return i_;
    if (IsIntegral() || type_ == VarType::Empty) {
        const int64_t v = AsInt64();
        // The amount must fit the currency's range; a wrapped product would be a wrong value.
        if (v > std::numeric_limits<int64_t>::max() / 10000 ||
            v < std::numeric_limits<int64_t>::min() / 10000)
            CastError(type_, "Currency");
        return v * 10000;
    }
    const double v = AsDouble() * 10000.0;
    return RoundToInt64(v, type_);
}

double Variant::AsDateTime() const {
    if (type_ == VarType::String) {
        double d = 0;
        if (TryStrToDateTime(*s_, d)) return d;
        CastError(type_, "Date");
    }
    return AsDouble();
}

bool Variant::AsBoolean() const {
    switch (type_) {
        case VarType::Empty:
            return false;
        case VarType::String: {
            const std::string t = Trim(*s_);
            if (SameText(t, "True")) return true;
            if (SameText(t, "False")) return false;
            double d = 0;
            if (TextToDouble(t, d)) return d != 0;
            CastError(type_, "Boolean");
        }
        case VarType::Null:
        case VarType::ByteArray:
        case VarType::Array:
            CastError(type_, "Boolean");
        case VarType::Double:
        case VarType::Date:
            return d_ != 0;
        default:
            return i_ != 0;
    }
}

ByteArray Variant::AsBytes() const {
    switch (type_) {
        case VarType::Empty:
        case VarType::Null:
            return {};
        case VarType::ByteArray:
            return *bytes_;
        case VarType::String:
            return ByteArray(s_->begin(), s_->end());
        case VarType::Array: {
            ByteArray out;
            out.reserve(items_->size());
            for (const auto& e : *items_)
                out.push_back(uint8_t(e.AsInt64() & 0xFF));
            return out;
        }
        default:
            CastError(type_, "Array of Byte");
    }
}

bool Variant::operator==(const Variant& other) const {
    return VarCompareValue(*this, other) == VarRelation::Equal;
}

VarRelation VarCompareValue(const Variant& a, const Variant& b) {
    const VarType ta = a.Type();
    const VarType tb = b.Type();
    if (ta == VarType::Null || tb == VarType::Null)
        return ta == tb ? VarRelation::Equal : VarRelation::NotEqual;
    if (a.IsArray() || b.IsArray()) {
        if (!a.IsArray() || !b.IsArray()) return VarRelation::NotEqual;
        if (a.Bytes() && b.Bytes()) return FromInt(CompareBytes(*a.Bytes(), *b.Bytes()));
        const int na = a.ArrayHighBound() + 1;
        const int nb = b.ArrayHighBound() + 1;
        for (int i = 0; i < std::min(na, nb); ++i) {
            const VarRelation r = VarCompareValue(a.Element(i), b.Element(i));
            if (r != VarRelation::Equal) return r;
        }
        return Rel(na, nb);
    }
    if (ta == VarType::Empty && tb == VarType::Empty) return VarRelation::Equal;
    const bool textA = ta == VarType::String || ta == VarType::Empty;
    const bool textB = tb == VarType::String || tb == VarType::Empty;
    if (textA && textB) return FromInt(a.AsString().compare(b.AsString()));
    if (a.IsIntegral() && b.IsIntegral()) return Rel(a.AsInt64(), b.AsInt64());
    if (ta == VarType::Currency && tb == VarType::Currency) return Rel(a.AsCurrency(), b.AsCurrency());
    return Rel(a.AsDouble(), b.AsDouble());
}

const char* VarTypeName(VarType t) {
    switch (t) {
        case VarType::Empty:
            return "Empty";
        case VarType::Null:
            return "Null";
        case VarType::Smallint:
            return "SmallInt";
        case VarType::Integer:
            return "Integer";
        case VarType::Int64:
            return "Int64";
        case VarType::Word:
            return "Word";
        case VarType::Byte:
            return "Byte";
        case VarType::Double:
            return "Double";
        case VarType::Currency:
            return "Currency";
        case VarType::Date:
            return "Date";
        case VarType::Boolean:
            return "Boolean";
        case VarType::String:
            return "String";
        case VarType::ByteArray:
            return "Array of Byte";
        case VarType::Array:
            return "Array";
    }
    return "Unknown";
}

}  // namespace rtl
